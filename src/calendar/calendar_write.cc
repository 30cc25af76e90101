#include "calendar/calendar_write.h"

#include <memory>
#include <set>
#include <vector>

#include "calendar/calendar_mapping.h"
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

class CalendarCopies : public WorkingSet {
public:
    // keepCalendar (a restore): new events go back to the calendar they came from.
    explicit CalendarCopies(ServiceWrite op, bool keepCalendar = false)
        : op_(op), keepCalendar_(keepCalendar) {}
    bool KeepsCalendar() const { return keepCalendar_; }

    static bool HasHandsetId(const CalendarRecord& host) { return !host.strId.empty(); }
    static void StampUpdate(CalendarRecord* host) { host->dtLastModified = CalConv::LocalNow(); }

    void Add(CalendarRecord* host, int32_t bit) {
        auto copy = std::make_unique<CalendarRecord>(*host);
        copy->pSource = reinterpret_cast<uintptr_t>(host);
        copies_.push_back(std::move(copy));
        hosts_.push_back(host);
        bits_.push_back(bit);
        previous_.push_back(host->dtLastModified);
    }

    size_t size() const override { return copies_.size(); }
    const CalendarRecord& copy(size_t i) const { return *copies_[i]; }

    bool Rows(size_t i, Json::Value* rows, int* fields) override {
        Json::Value row;
        if (!CalConv::FromCalendarEx(*copies_[i], &row) || !row.isObject())
            return false;
        // An update keeps the event in its own calendar; only a new event goes to the default one.
        if ((op_ == ServiceWrite::Update || keepCalendar_) && copies_[i]->nCalendarId != 0)
            row["calendar_id"] = std::to_string(copies_[i]->nCalendarId);
        rows->append(std::move(row));
        *fields = 0;
        return true;
    }

    bool Confirm(size_t i, const Json::Value& object) override {
        std::u16string id = AnswerId(object);
        if (id.empty())
            return false;
        copies_[i]->strId = std::move(id);
        std::u16string guid = AnswerText(object, "iCalGUID");
        if (!guid.empty())
            SetIdentifier(copies_[i].get(), guid);
        return true;
    }

    std::u16string HandsetId(size_t i) const override { return copies_[i]->strId; }

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

    void GiveBack(size_t i) override {
        hosts_[i]->lFlag |= bits_[i];
        hosts_[i]->dtLastModified = previous_[i];
    }

private:
    const ServiceWrite op_;
    const bool keepCalendar_;
    std::vector<std::unique_ptr<CalendarRecord>> copies_;
    std::vector<CalendarRecord*> hosts_;
    std::vector<int32_t> bits_;
    std::vector<platform::OleDate> previous_;
};

// The modified instances of the events the handset confirmed in this write, as rows naming their
// parent's id and identifier.
class ExceptionRows : public WriteSet {
public:
    ExceptionRows(const CalendarCopies& parents, const std::vector<bool>& confirmed, int32_t sdk)
        : parents_(parents), confirmed_(confirmed), sdk_(sdk) {}

    size_t size() const override { return parents_.size(); }

    bool Rows(size_t i, Json::Value* rows, int* fields) override {
        *fields = 0;
        const CalendarRecord& parent = parents_.copy(i);
        const std::u16string guid = FirstText(parent, KX_CAL_ICAL_GUID);
        const CalendarField* exceptions = parent.FirstField(KX_CAL_EXCEPTIONS);
        if (!confirmed_[i] || parent.strId.empty() || guid.empty() || !exceptions ||
            exceptions->strData.empty())
            return true; // nothing to send for this event
        const Json::ArrayIndex before = rows->size();
        CalConv::FromCalendarException(parent, &exceptions->strData, rows, guid, parent.strId, sdk_);
        if (parents_.KeepsCalendar() && parent.nCalendarId != 0)
            for (Json::ArrayIndex k = before; k < rows->size(); ++k)
                (*rows)[k]["calendar_id"] = std::to_string(parent.nCalendarId);
        return true;
    }

    bool Confirm(size_t, const Json::Value&) override { return true; }

private:
    const CalendarCopies& parents_;
    const std::vector<bool>& confirmed_;
    const int32_t sdk_;
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

// The handset's exception rows of the given events. False when the handset could not tell.
bool ExceptionRowsOf(const std::vector<std::u16string>& parents, std::vector<std::string>* rows) {
    std::set<std::u16string> wanted(parents.begin(), parents.end());
    for (size_t start = 0; start < parents.size(); start += kReadBatch) {
        Json::Value body(Json::objectValue);
        Json::Value& objects = body["objects"] = Json::Value(Json::arrayValue);
        for (size_t i = start; i < parents.size() && i < start + kReadBatch; ++i) {
            Json::Value id(Json::objectValue);
            id["__id"] = WideToUtf8(parents[i]);
            objects.append(std::move(id));
        }
        ServiceReply reply = ServiceCall(service::kCalendarRead, body);
        if (!reply.ok() || !reply.objects().isArray()) {
            KX_TRACE_ERROR(kExceptionWrite.caller, u"exception rows of updated events could not be read");
            return false;
        }
        for (const Json::Value& row : reply.objects()) {
            std::u16string id = AnswerId(row);
            if (!id.empty() && wanted.count(AnswerText(row, "parentID")))
                rows->push_back(WideToUtf8(id));
        }
    }
    return true;
}

} // namespace

int32_t WriteCalendars(PhoneState& phone, const KXCalendarList* records, bool quiet) {
    RecordWriter writer(phone, kCalendarWrite, &CalendarWriteLimits, quiet);
    CalendarCopies deletes(ServiceWrite::Delete), updates(ServiceWrite::Update),
        creates(ServiceWrite::Create, /*keepCalendar=*/quiet);
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
        std::vector<std::string> stale;
        if (!recurring.empty() && !ExceptionRowsOf(recurring, &stale)) {
            writer.MarkIncomplete();
        } else {
            IdRows old(std::move(stale));
            writer.WriteRows(kExceptionWrite, ServiceWrite::Delete, old);
            ExceptionRows rows(updates, updated, sdk);
            writer.WriteRows(kExceptionWrite, ServiceWrite::Create, rows);
        }
    }

    const std::vector<bool> created = writer.Write(ServiceWrite::Create, creates);
    ExceptionRows rows(creates, created, sdk);
    writer.WriteRows(kExceptionWrite, ServiceWrite::Create, rows);
    return writer.Finish();
}
