#include "calendar/calendar_mapping.h"

#include <memory>

#include "calendar/calendar_exceptions.h"
#include "calendar/calendar_exdate.h"
#include "calendar/calendar_text.h"
#include "calendar/calendar_zone.h"
#include "calendar/recurrence_rule.h"
#include "platform/env.h"
#include "platform/format.h"
#include "platform/text.h"
#include "platform/utf.h"
#include "trace/trace.h"
#include "transport/text_encoding.h"

namespace {

const char16_t kToCaller[] = u"kxconv::ToCalendarEx";

} // namespace

namespace kxconv {

namespace {

template <class Row>
bool ToCalendarFrom(const Row& row, CalendarRecord* record, CalendarExdateList* exdates,
                    CalendarExceptionList* exceptions) {
    if (!row.isObject())
        return false;
    std::string parentId = CalConv::RowText(row, "parentID");
    if (!parentId.empty()) {
        std::string element = CalConv::ModificationElement(row);
        if (element.empty())
            KX_TRACE_ERROR(kToCaller, platform::Format(u"modified instance of %S without a start dropped",
                                                       parentId.c_str()));
        else if (exceptions)
            exceptions->push_back(CalendarException{CalConv::NarrowToNumber(parentId), std::move(element)});
        return false;
    }

    std::string allDay = CalConv::RowText(row, "allDay");
    record->bAllDay = !allDay.empty() && CalConv::NarrowToNumber(allDay) != 0 ? 1 : 0;
    const bool isAllDay = record->bAllDay != 0;
    std::string id = CalConv::RowText(row, "__id");
    // Texts that are not UTF-8 reach the host with U+FFFD in place; the event says so once.
    int badTexts = 0;
    auto wide = [&badTexts](const std::string& text) {
        badTexts += !platform::IsValidUtf8(text.data(), text.size());
        return Utf8ToWide(text);
    };
    record->lPhoneId = CalConv::NarrowToNumber(id);
    record->strId = wide(id);
    record->nCalendarId = CalConv::NarrowToNumber(CalConv::RowText(row, "calendar_id"));
    std::string updated = CalConv::RowText(row, "last_update_time");
    if (!updated.empty())
        record->dtLastModified = CalConv::ReadMillis(updated, false, record->dtLastModified);
    record->lReminderMinutes = -1;
    record->lAux7 = 1;
    record->pSource = 0;
    record->lAux10 = 15;
    record->lState = 0;

    CalConv::ReadExdates(CalConv::RowText(row, "exdate"), *record, exdates);

    record->dtStart = CalConv::ReadMillis(CalConv::RowText(row, "dtstart"), isAllDay, record->dtStart);
    record->dtEnd = CalConv::ReadMillis(CalConv::RowText(row, "dtend"), isAllDay, record->dtEnd);

    std::string duration = CalConv::Upper(platform::Trim(CalConv::RowText(row, "duration")));
    if (!duration.empty() && (duration.back() == 'S' || duration.back() == 'D')) {
        bool seconds = duration.back() == 'S';
        std::string number = CalConv::Without(CalConv::Without(duration, "P"), seconds ? "S" : "D");
        if (!number.empty()) {
            int64_t span = static_cast<int64_t>(CalConv::NarrowToNumber(number)) * (seconds ? 1 : 86400);
            // Without a start, negative, or past the last date, the duration gives no end; "dtend"
            // stays.
            platform::OleDate end = CalConv::InvalidDate();
            if (span >= 0 && !CalConv::IsZeroDate(record->dtStart) && CalConv::IsUsableDate(record->dtStart))
                end = record->dtStart.AddSeconds(span);
            if (CalConv::IsUsableDate(end)) {
                if (end != record->dtEnd)
                    KX_TRACE_ERROR(kToCaller, u"dttime error");
                record->dtEnd = end;
            } else {
                KX_TRACE_ERROR(kToCaller, platform::Format(u"duration ignored: %S", duration.c_str()));
            }
        }
    }

    if (CalConv::RowText(row, "hasAlarm") == "1") {
        const auto& alarms = row["__data"];
        if (alarms.isArray() && !alarms.empty())
            record->lReminderMinutes = CalConv::NarrowToNumber(CalConv::RowText(alarms[0], "minutes"));
    }

    CalConv::ApplyRecurrenceRule(CalConv::RowText(row, "rrule"), record);

    const std::pair<const char*, int32_t> texts[] = {
        {"title", KX_CAL_TITLE}, {"description", KX_CAL_DESCRIPTION}, {"iCalGUID", KX_CAL_ICAL_GUID}};
    for (const auto& t : texts) {
        std::u16string value = wide(CalConv::RowText(row, t.first));
        if (!value.empty())
            record->AddField(t.second, platform::HostLines(value));
    }
    std::string tz = CalConv::RowText(row, "eventTimezone");
    if (!platform::Trim(tz).empty())
        record->AddField(KX_CAL_TIMEZONE, CalConv::TimeZoneField(tz));
    std::u16string location = wide(CalConv::RowText(row, "eventLocation"));
    if (!location.empty())
        record->AddField(KX_CAL_LOCATION, platform::HostLines(location));
    if (badTexts)
        KX_TRACE_ERROR(kToCaller, platform::Format(u"event %s: %d texts are not UTF-8, U+FFFD given in place",
                                                   record->strId.c_str(), badTexts));

    if (CalConv::IsZeroDate(record->dtStart))
        record->dtStart = record->dtEnd;
    return true;
}

template <class V>
int ToCalendarListOf(const V& response, RecordList<CalendarRecord>* list, CalendarExdateList* exdates,
                     CalendarExceptionList* exceptions) {
    if (!response.isObject())
        return 0;
    const auto& objects = response["objects"];
    if (!objects.isArray())
        return 0;
    int added = 0;
    for (const auto& row : objects) {
        std::unique_ptr<CalendarRecord> record(new CalendarRecord());
        if (ToCalendarFrom(row, record.get(), exdates, exceptions)) {
            list->Add(std::move(record));
            ++added;
        }
    }
    return added;
}

} // namespace

bool ToCalendarEx(const Json::Value& row, CalendarRecord* record, CalendarExdateList* exdates,
                  CalendarExceptionList* exceptions) {
    return ToCalendarFrom(row, record, exdates, exceptions);
}

int ToCalendarList(const Json::Value& response, RecordList<CalendarRecord>* list, CalendarExdateList* exdates,
                   CalendarExceptionList* exceptions) {
    return ToCalendarListOf(response, list, exdates, exceptions);
}

int ToCalendarList(const fastjson::Value& response, RecordList<CalendarRecord>* list,
                   CalendarExdateList* exdates, CalendarExceptionList* exceptions) {
    return ToCalendarListOf(response, list, exdates, exceptions);
}

} // namespace kxconv

namespace CalConv {

int FromCalendarEx(const CalendarRecord& record, Json::Value* row) {
    Json::Value& r = *row;
    const bool allDay = record.bAllDay != 0;
    r["title"] = "";
    r["description"] = "";
    r["eventLocation"] = "";
    r["rrule"] = "";
    r["hasAlarm"] = "0";
    r["allDay"] = "0";
    r["calendar_id"] = "4";
    r["exdate"] = "";
    r["dirty"] = "1";
    r["eventTimezone"] = std::to_string(-static_cast<int64_t>(platform::Env::Current()->ZoneBiasMinutes()));
    if (allDay)
        r["allDay"] = "1";

    // A date the record cannot hold (invalid, not a number, past the year 9999) is not sent.
    const bool hasStart = !IsZeroDate(record.dtStart) && IsUsableDate(record.dtStart);
    const bool hasEnd = !IsZeroDate(record.dtEnd) && IsUsableDate(record.dtEnd);
    if (hasStart)
        r["dtstart"] = Millis(record.dtStart, allDay);
    if (hasEnd)
        r["dtend"] = Millis(record.dtEnd, allDay);
    if (hasStart && hasEnd) {
        int64_t seconds = record.dtEnd.TotalSeconds() - record.dtStart.TotalSeconds();
        r["duration"] = "P" + std::to_string(seconds) + "S";
    }

    if (record.lReminderMinutes != -1)
        SetAlarm(row, record.lReminderMinutes);

    std::string rule = BuildRecurrenceRule(record);
    if (!rule.empty())
        r["rrule"] = rule;

    for (const CalendarField* f : record.fields) {
        if (!f)
            continue;
        switch (f->nType) {
        case KX_CAL_TITLE:
            r["title"] = SentText(f->strData);
            break;
        case KX_CAL_DESCRIPTION:
            r["description"] = SentText(f->strData);
            break;
        case KX_CAL_LOCATION:
            r["eventLocation"] = SentText(f->strData);
            break;
        case KX_CAL_TIMEZONE:
            r["eventTimezone"] = TimeZoneValue(f->strData, record, allDay);
            break;
        case KX_CAL_EXCEPTIONS: {
            // Read whole: the list is not sent as text, and cut short it would no longer be XML.
            std::string exdate = ExdateValue(f->strData, record);
            if (!exdate.empty())
                r["exdate"] = exdate;
            break;
        }
        default:
            break;
        }
    }

    if (!record.strId.empty())
        r["__id"] = WideToUtf8(record.strId);
    return 1;
}

} // namespace CalConv
