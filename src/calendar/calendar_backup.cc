#include "calendar/calendar_backup.h"

#include "calendar/calendar_read.h"
#include "calendar/calendar_write.h"
#include "sync/backup_file.h"
#include "sync/host_messages.h"
#include "sync/restore_plan.h"
#include "trace/trace.h"

namespace {

const char16_t kSave[] = u"CKXFakePhone::SaveCalendarToBackupFile";
const char16_t kLoad[] = u"CKXFakePhone::LoadCalendarFromBackupFile";
const char16_t kBackup[] = u"CKXFakePhone::BackupCalendar";
const char16_t kRestore[] = u"CKXFakePhone::RestoreCalendar";
const char kFileName[] = "calendar.dat";
const char16_t kSaveError[] = u"SaveToFile Error";
const char16_t kLoadError[] = u"LoadFromFile Error";

// 26 numbers, three texts and five dates, and the item count; an item: five numbers, two texts.
constexpr size_t kMinEventBytes = (26 + 3 + 5 + 1) * 4;
constexpr size_t kMinItemBytes = 7 * 4;

// Writes or reads every member in file order; one walk for both directions.
template <class File, class Event, class Item> struct Walk {
    static bool Event_(File& f, Event& c) {
        int32_t pSource = 0; // a host pointer means nothing in a file
        return f.Long(c.lState) && f.Long(c.lFlag) && f.Int(c.nCalendarId) && f.Text(c.strId) &&
               f.Date(c.dtStart) && f.Date(c.dtEnd) && f.Date(c.dtLastModified) && f.Date(c.dtAux) &&
               f.Long(c.lAux1) && f.Long(c.lPhoneId) && f.Int(c.nAux2) && f.Text(c.strAux1) &&
               f.Int(c.nAux3) && f.Int(c.nAux4) && f.Text(c.strAux2) && f.Long(c.lAux5) &&
               f.Long(c.lRecurType) && f.Long(c.lRecurDay) && f.Long(c.lRecurMonth) &&
               f.Long(c.lRecurByWeekday) && f.Long(c.lRecurWeek) && f.Long(c.lRecurDayMask) &&
               f.Long(c.lRecurInterval) && f.Long(c.lAux6) && f.Date(c.dtRecurEnd) && f.Int(c.bRecurHasEnd) &&
               f.Long(c.lReminderMinutes) && f.Long(c.lAux7) && f.Long(c.lAux8) && f.Long(pSource) &&
               f.Long(c.lAux9) && f.Long(c.lAux10) && f.Int(c.bAllDay) && f.Long(c.lAux11);
    }
    static bool Item_(File& f, Item& i) {
        return f.Int(i.nType) && f.Text(i.strData) && f.Int(i.nAux2) && f.Text(i.strAux) && f.Long(i.lAux4) &&
               f.Int(i.nAux3) && f.Int(i.nAux1);
    }
};

struct Out {
    BackupFileWriter& w;
    bool Int(int32_t v) { return w.WriteInt(v); }
    bool Long(int32_t v) { return w.WriteLong(v); }
    bool Text(const std::u16string& t) { return w.WriteText(t); }
    bool Date(const platform::OleDate& d) { return w.WriteDate(d); }
};

struct In {
    BackupFileReader& r;
    bool Int(int32_t& v) { return r.ReadInt(&v); }
    bool Long(int32_t& v) { return r.ReadLong(&v); }
    bool Text(std::u16string& t) { return r.ReadText(&t); }
    bool Date(platform::OleDate& d) { return r.ReadDate(&d); }
};

} // namespace

int32_t SaveCalendarToBackupFile(const KXCalendarList& list, const std::u16string& folder) {
    try {
        BackupFileWriter w(BackupFilePath(folder, kFileName), u"Can't CreateFile For Backup");
        Out out{w};
        auto check = [&w](bool ok, const char16_t* message) {
            if (!ok)
                RaiseBackupError(message, w.error());
        };
        check(w.WriteInt(static_cast<int32_t>(list.size())), u"Can't Write Calendar Count");
        for (const CalendarRecord* c : list) {
            check(c != nullptr, u"pCalendar == NULL");
            check(Walk<Out, const CalendarRecord, const CalendarField>::Event_(out, *c), kSaveError);
            check(w.WriteInt(static_cast<int32_t>(c->fields.size())), kSaveError);
            for (const CalendarField* item : c->fields) {
                // A null item is written as an empty one: the count written must hold.
                CalendarField empty;
                check(Walk<Out, const CalendarField, const CalendarField>::Item_(out, item ? *item : empty),
                      kSaveError);
            }
        }
        w.Commit(u"Can't Flush Backup");
        return KX_OK;
    } catch (const BackupFileError& e) {
        return BackupFailed(kSave, e);
    }
}

int32_t LoadCalendarFromBackupFile(RecordList<CalendarRecord>* list, const std::u16string& folder) {
    try {
        BackupFileReader r(BackupFilePath(folder, kFileName), u"Can't CreateFile For Read");
        In in{r};
        auto check = [&r](bool ok, const char16_t* message) {
            if (!ok)
                RaiseBackupError(message, r.error());
        };
        int32_t count;
        check(r.ReadCount(&count, kMinEventBytes), u"Can't Read Calendar Count");
        for (int32_t i = 0; i < count; ++i) {
            auto event = std::make_unique<CalendarRecord>();
            check(Walk<In, CalendarRecord, CalendarField>::Event_(in, *event), kLoadError);
            event->pSource = 0;
            int32_t items;
            check(r.ReadCount(&items, kMinItemBytes), kLoadError);
            for (int32_t k = 0; k < items; ++k) {
                auto item = std::make_unique<CalendarField>();
                check(Walk<In, CalendarField, CalendarField>::Item_(in, *item), kLoadError);
                event->fields.push_back(item.release());
            }
            list->Add(std::move(event));
        }
        return KX_OK;
    } catch (const BackupFileError& e) {
        return BackupFailed(kLoad, e);
    }
}

std::u16string EventMatchKey(const CalendarRecord& record) {
    const CalendarField* title = record.FirstField(KX_CAL_TITLE);
    if (title && !title->strData.empty())
        return u"T" + title->strData;
    return u"S" + BackupDateText(record.dtStart);
}

namespace {
void ForgetEventIds(CalendarRecord* record) {
    record->strId.clear();
    record->lPhoneId = -1;
}
const RestoreSteps<CalendarRecord> kRestoreSteps = {KX_TYPE_CALENDAR,
                                                    kRestore,
                                                    &EventMatchKey,
                                                    &ForgetEventIds,
                                                    u"LoadCalendarFromBackupFile failed",
                                                    u"ReadCalendar failed",
                                                    u"WriteCalendar failed"};
} // namespace

int32_t BackupCalendar(PhoneState& phone, const std::u16string& folder) {
    RecordList<CalendarRecord> list;
    int32_t result = RunCalendarRead(phone, 0, &list);
    if (result != KX_OK) {
        KX_TRACE_ERROR(kBackup, u"ReadCalendar failed");
        return result;
    }
    KXCalendarList records(list.begin(), list.end());
    result = SaveCalendarToBackupFile(records, folder);
    if (result != KX_OK)
        KX_TRACE_ERROR(kBackup, u"SaveCalendarToBackupFile failed");
    return result;
}

int32_t RestoreCalendar(PhoneState& phone, const std::u16string& folder, int32_t mode) {
    RecordList<CalendarRecord> backup, handset;
    return RunRestore(
        phone, mode, kRestoreSteps, backup, handset,
        [&] { return LoadCalendarFromBackupFile(&backup, folder); },
        [&] { return RunCalendarRead(phone, 0, &handset); },
        [&](KXCalendarList* queue) { return WriteCalendars(phone, queue, /*quiet=*/true); });
}
