#include "calendar/calendar_mapping.h"

#include <cstdio>
#include <unordered_map>

#include "calendar/calendar_exceptions.h"
#include "calendar/calendar_text.h"
#include "platform/format.h"
#include "trace/trace.h"
#include "transport/text_encoding.h"

namespace {

const char16_t kMergeCaller[] = u"MergeCalendarExceptions";

} // namespace

namespace CalConv {

void MergeCalendarExceptions(RecordList<CalendarRecord>* records, const CalendarExdateList& exdates,
                             const CalendarExceptionList& exceptions) {
    // Per parent id, in order of first appearance: its modifications and its removed instances.
    struct Entries {
        std::vector<const CalendarException*> modifications;
        std::vector<const CalendarExdate*> removed;
    };
    std::vector<int32_t> order;
    std::unordered_map<int32_t, Entries> byParent;
    auto entriesOf = [&](int32_t parentId) -> Entries& {
        auto inserted = byParent.emplace(parentId, Entries());
        if (inserted.second)
            order.push_back(parentId);
        return inserted.first->second;
    };
    for (const CalendarException& e : exceptions)
        entriesOf(e.parentId).modifications.push_back(&e);
    for (const CalendarExdate& x : exdates)
        entriesOf(x.parentId).removed.push_back(&x);
    if (order.empty())
        return;
    std::unordered_map<int32_t, CalendarRecord*> parents;
    for (CalendarRecord* r : *records)
        parents.emplace(r->lPhoneId, r); // the first record of an id wins

    for (int32_t id : order) {
        auto found = parents.find(id);
        if (found == parents.end()) {
            KX_TRACE_ERROR(kMergeCaller, platform::Format(u"no event %d for its exceptions", id));
            continue;
        }
        Entries& entries = byParent[id];
        pugi::xml_document doc;
        pugi::xml_node root = doc.append_child("exception");
        for (const CalendarException* m : entries.modifications) {
            pugi::xml_document part;
            if (!part.load_buffer(m->element.data(), m->element.size(), pugi::parse_default,
                                  pugi::encoding_utf8) ||
                !part.first_child()) {
                KX_TRACE_ERROR(kMergeCaller, u"exception element is not XML");
                continue;
            }
            pugi::xml_node e = root.append_copy(part.first_child());
            // The original day the element was read with, else the day of its start.
            platform::CivilTime original;
            std::string day;
            int y, mo, d, h, mi, s;
            if (ReadDayAttribute(e, &original)) {
                day = DayText(original);
            } else {
                if (std::sscanf(e.attribute("datetime").value(), "%4d/%2d/%2d %2d:%2d:%2d", &y, &mo, &d, &h,
                                &mi, &s) != 6)
                    continue;
                day = DayText(platform::CivilTime{y, mo, d, 0, 0, 0, 0});
                pugi::xml_attribute time = e.attribute("time");
                (time ? time : e.append_attribute("time")).set_value(day.c_str());
            }
            // The modified instance replaces the removed one of that day.
            for (size_t i = entries.removed.size(); i-- > 0;)
                if (entries.removed[i]->instant.compare(0, 10, day) == 0)
                    entries.removed.erase(entries.removed.begin() + static_cast<std::ptrdiff_t>(i));
        }
        for (const CalendarExdate* x : entries.removed)
            root.append_child("deletion")
                .append_attribute("time")
                .set_value(x->instant.substr(0, 10).c_str());
        found->second->AddField(KX_CAL_EXCEPTIONS, Utf8ToWide(SerialiseDocument(doc)));
    }
}

} // namespace CalConv
