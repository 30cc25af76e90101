#include "calendar/calendar_write.h"

#include <algorithm>
#include <map>
#include <memory>
#include <set>
#include <vector>

#include "calendar/calendar_carry.h"
#include "calendar/calendar_mapping.h"
#include "sync/current_rows.h"
#include "sync/record_writer.h"
#include "sync/time_conversions.h"
#include "trace/trace.h"
#include "transport/text_encoding.h"

namespace {

const WriteKind kCalendarWrite = {ServiceKind::Calendar, KX_TYPE_CALENDAR, u"CKXFakePhone::WriteCalendar",
                                  u"convert calendar to json error;", /*oneRowPerRecord=*/true};
// Exception rows: an answer with status 0 stands for every row of its request; nothing of it is
// written into a record.
const WriteKind kExceptionWrite = {ServiceKind::Calendar, KX_TYPE_CALENDAR, u"CKXFakePhone::do_write_cal_exp",
                                   u"convert exception to json error;", /*oneRowPerRecord=*/false};

// Ids per "/calendar/do/read".
constexpr size_t kReadBatch = 30;

void SetIdentifier(CalendarRecord* record, const std::u16string& guid) {
    for (CalendarField* f : record->fields) {
        if (f && f->nType == KX_CAL_ICAL_GUID) {
            f->strData = guid;
            return;
        }
    }
    record->AddField(KX_CAL_ICAL_GUID, guid);
}

std::u16string FirstText(const CalendarRecord& record, int32_t type) {
    const CalendarField* f = record.FirstField(type);
    return f ? f->strData : std::u16string();
}

// A working copy names the host record it came from.
struct CalendarWorkingCopy : CalendarRecord {
    explicit CalendarWorkingCopy(CalendarRecord* source) : CalendarRecord(*source) {
        pSource = reinterpret_cast<uintptr_t>(source);
    }
};

class CalendarCopies : public WorkingCopies<CalendarRecord, CalendarWorkingCopy, &CalendarRecord::strId,
                                            &CalendarRecord::dtLastModified> {
public:
    // keepCalendar (a restore): new events go back to the calendar they came from.
    CalendarCopies(const PhoneState& phone, ServiceWrite op, bool keepCalendar = false)
        : phone_(phone), op_(op), keepCalendar_(keepCalendar) {}

    bool Rows(size_t i, Json::Value* rows, int* fields) override {
        // An update sends back what the host's record cannot hold, so it needs the handset's row
        // first; those of one request's worth of events are kept at a time.
        if (op_ == ServiceWrite::Update && i >= windowEnd_ && !ReadWindow(i))
            return true; // not sent: the handset's rows could not be read
        Json::Value row;
        if (!CalConv::FromCalendarEx(*copies_[i], &row) || !row.isObject())
            return false;
        auto found = current_.find(copies_[i]->strId);
        if (found != current_.end())
            CalConv::CarryOverEvent(found->second, *copies_[i], &row);
        // An update keeps the event in its own calendar; only a new event goes to the default one.
        if ((op_ == ServiceWrite::Update || keepCalendar_) && copies_[i]->nCalendarId != 0)
            row["calendar_id"] = std::to_string(copies_[i]->nCalendarId);
        if (sent_.size() < size())
            sent_.resize(size());
        sent_[i] = {row["calendar_id"], row["eventTimezone"]};
        rows->append(std::move(row));
        *fields = 0;
        return true;
    }

    bool Confirm(size_t i, const Json::Value& object) override {
        if (!WorkingCopies::Confirm(i, object))
            return false;
        std::u16string guid = AnswerText(object, "iCalGUID");
        if (!guid.empty())
            SetIdentifier(copies_[i].get(), guid);
        return true;
    }

    void WriteBack(size_t i, const ModifyTime* fetched, WriteReporter& reporter) override {
        CalendarRecord* host = hosts_[i];
        host->strId = copies_[i]->strId;
        std::u16string guid =
            fetched && !fetched->guid.empty() ? fetched->guid : FirstText(*copies_[i], KX_CAL_ICAL_GUID);
        if (!guid.empty())
            SetIdentifier(host, guid);
        if (fetched)
            CalConv::MillisTextToDate(fetched->time, false, &host->dtLastModified);
        reporter.RecordWritten(host);
        copies_[i]->pSource = 0;
    }

    bool Unsent() const override { return unsent_; }

    // The calendar and zone event i was sent with, onto one of its rows.
    void SentAs(size_t i, Json::Value* row) const {
        if (i >= sent_.size() || sent_[i].first.isNull())
            return;
        (*row)["calendar_id"] = sent_[i].first;
        (*row)["eventTimezone"] = sent_[i].second;
    }

private:
    bool ReadWindow(size_t first) {
        const size_t perRequest =
            CalendarWriteLimits(phone_.ProductId.load(), phone_.PlatformClass.load(), op_).records;
        windowEnd_ = std::min(size(), first + perRequest);
        std::vector<std::u16string> ids;
        for (size_t i = first; i < windowEnd_; ++i)
            ids.push_back(copies_[i]->strId);
        current_.clear();
        if (ReadCurrentRows(service::kCalendarRead, ids, perRequest, kCalendarWrite.caller, &current_))
            return true;
        unsent_ = true;
        return false;
    }

    const PhoneState& phone_;
    const ServiceWrite op_;
    const bool keepCalendar_;
    std::map<std::u16string, Json::Value> current_; // the handset's events of the window
    std::vector<std::pair<Json::Value, Json::Value>> sent_;
    size_t windowEnd_ = 0;
    bool unsent_ = false;
};

// A modified instance by its event and the instance it replaces.
std::string InstanceKey(const Json::Value& row) {
    return row.get("parentID", "").asString() + "@" + row.get("originalInstanceTime", "").asString();
}

// The modified instances of the events the handset confirmed in this write, as rows naming their
// parent's id and identifier.
class ExceptionRows : public WriteSet {
public:
    // previous: the rows an update replaces, by "parent id@original instance": what the record
    // cannot hold of them goes to their successors.
    ExceptionRows(const CalendarCopies& parents, const std::vector<bool>& confirmed, int32_t sdk,
                  const std::map<std::string, Json::Value>* previous = nullptr)
        : parents_(parents), confirmed_(confirmed), sdk_(sdk), previous_(previous) {}

    size_t size() const override { return parents_.size(); }

    bool Rows(size_t i, Json::Value* rows, int* fields) override {
        *fields = 0;
        const CalendarRecord& parent = parents_.copy(i);
        const std::u16string guid = FirstText(parent, KX_CAL_ICAL_GUID);
        const CalendarField* exceptions = parent.FirstField(KX_CAL_EXCEPTIONS);
        if (!confirmed_[i] || parent.strId.empty() || guid.empty() || !exceptions ||
            exceptions->strData.empty())
            return true; // nothing to send for this event
        const Json::ArrayIndex first = rows->size();
        CalConv::FromCalendarException(parent, &exceptions->strData, rows, guid, parent.strId, sdk_);
        for (Json::ArrayIndex k = first; k < rows->size(); ++k) {
            Json::Value& row = (*rows)[k];
            // A modified instance belongs to its event's calendar and zone.
            parents_.SentAs(i, &row);
            auto old = previous_ ? previous_->find(InstanceKey(row))
                                 : std::map<std::string, Json::Value>::const_iterator();
            if (previous_ && old != previous_->end())
                for (const std::string& column : old->second.getMemberNames())
                    if (!row.isMember(column) && column != "__id" && column != "last_update_time")
                        row[column] = old->second[column];
        }
        return true;
    }

    bool Confirm(size_t, const Json::Value&) override { return true; }

private:
    const CalendarCopies& parents_;
    const std::vector<bool>& confirmed_;
    const int32_t sdk_;
    const std::map<std::string, Json::Value>* previous_;
};

// Rows named by handset id, for a delete.
class IdRows : public WriteSet {
public:
    explicit IdRows(std::vector<std::string> ids) : ids_(std::move(ids)) {}
    size_t size() const override { return ids_.size(); }
    bool Rows(size_t i, Json::Value* rows, int* fields) override {
        Json::Value row(Json::objectValue);
        row["__id"] = ids_[i];
        rows->append(std::move(row));
        *fields = 0;
        return true;
    }
    bool Confirm(size_t, const Json::Value&) override { return true; }

private:
    std::vector<std::string> ids_;
};

// The handset's modified instances of the given events, by InstanceKey. False when the handset
// could not tell.
bool ExceptionRowsOf(const std::vector<std::u16string>& parents, std::map<std::string, Json::Value>* rows) {
    std::map<std::u16string, Json::Value> read;
    if (!ReadCurrentRows(service::kCalendarRead, parents, kReadBatch, kExceptionWrite.caller, &read))
        return false;
    const std::set<std::u16string> wanted(parents.begin(), parents.end());
    for (auto& [id, row] : read)
        if (wanted.count(AnswerText(row, "parentID")))
            (*rows)[InstanceKey(row)] = std::move(row);
    return true;
}

} // namespace

int32_t WriteCalendars(PhoneState& phone, const KXCalendarList* records, bool quiet) {
    RecordWriter writer(phone, kCalendarWrite, &CalendarWriteLimits, quiet);
    CalendarCopies deletes(phone, ServiceWrite::Delete), updates(phone, ServiceWrite::Update),
        creates(phone, ServiceWrite::Create, /*keepCalendar=*/quiet);
    if (records)
        SortForWrite(*records, phone, &deletes, &updates, &creates);
    const int32_t sdk = phone.SdkVersion.load();

    writer.Write(ServiceWrite::Delete, deletes);

    const std::vector<bool> updated = writer.Write(ServiceWrite::Update, updates);
    if (writer.MayGoOn()) {
        // The handset keeps an updated event's old exception rows; a handset that appends rows
        // would show every modified instance twice. They go before the event's rows are sent anew.
        std::vector<std::u16string> recurring;
        for (size_t i = 0; i < updates.size(); ++i)
            if (updated[i] &&
                (updates.copy(i).lRecurType != 0 || updates.copy(i).FirstField(KX_CAL_EXCEPTIONS)))
                recurring.push_back(updates.copy(i).strId);
        std::map<std::string, Json::Value> previous;
        if (!recurring.empty() && !ExceptionRowsOf(recurring, &previous)) {
            writer.MarkIncomplete();
        } else {
            std::vector<std::string> stale;
            for (const auto& [key, row] : previous)
                stale.push_back(row["__id"].asString());
            IdRows old(std::move(stale));
            writer.WriteRows(kExceptionWrite, ServiceWrite::Delete, old);
            ExceptionRows rows(updates, updated, sdk, &previous);
            writer.WriteRows(kExceptionWrite, ServiceWrite::Create, rows);
        }
    }

    const std::vector<bool> created = writer.Write(ServiceWrite::Create, creates);
    ExceptionRows rows(creates, created, sdk);
    writer.WriteRows(kExceptionWrite, ServiceWrite::Create, rows);
    return writer.Finish();
}
