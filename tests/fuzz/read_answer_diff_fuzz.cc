// The fast reader of read answers against JsonCpp, differentially: the same answer (the
// deciphered JSON text, enciphered here as the handset would) goes through both paths of the
// reads of whole records, as contacts and as events. Whenever the fast reader takes an answer,
// JsonCpp must take it too, and both must give the same verdict on the row list, the same
// records (every member), the same removed and modified instances, the same trace lines, and, read
// as an id list, the same id batches.
// When the fast reader refuses an answer the read uses JsonCpp's result itself: nothing to compare.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <unistd.h>

#include <kxphone/calendar_record.h>
#include <kxphone/contact_record.h>
#include <kxphone/record_list.h>

#include "calendar/calendar_mapping.h"
#include "contacts/contact_read.h"
#include "fuzz_groups.h"
#include "fuzz_support.h"
#include "platform/utf.h"
#include "sync/picture_file.h"
#include "transport/id_batch.h"
#include "transport/payload_cipher.h"
#include "transport/service_request.h"

using kxfuzz::Check;

namespace {

// Pictures in a scratch folder, and one fixed clock: records take the current time where the
// answer gives none, and trace lines carry it.
class DiffEnv : public kxfuzz::ScratchEnv {
public:
    platform::CivilTime UtcNow() override { return platform::CivilTime{2026, 3, 4, 5, 6, 7, 8}; }

    static DiffEnv& Installed() {
        static DiffEnv* env = [] {
            auto* made = new DiffEnv;
            platform::Env::SetCurrent(made);
            // The trace lines of each conversion are compared: they go to a file of this process.
            made->trace = made->root + "/trace.txt";
            ::setenv("KXPHONE_TRACE_FILE", made->trace.c_str(), 1);
            std::atexit([] {
                std::error_code ec;
                std::filesystem::remove_all(Installed().root, ec);
            });
            return made;
        }();
        return *env;
    }

    // The trace lines written since the last call.
    std::string NewTrace() {
        std::ifstream in(trace, std::ios::binary);
        in.seekg(static_cast<std::streamoff>(read_));
        std::string text((std::istreambuf_iterator<char>(in)), {});
        read_ += text.size();
        return text;
    }

    std::string trace;

private:
    size_t read_ = 0;
};

void Put(std::ostringstream& out, const std::u16string& text) {
    out << platform::Utf16ToUtf8(text.data(), text.size()) << '|';
}

void Put(std::ostringstream& out, const platform::OleDate& date) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.17g/%d|", date.days, static_cast<int>(date.status));
    out << buffer;
}

std::string Describe(const ContactRecord& r) {
    std::ostringstream out;
    out << r.lFlag << ' ' << r.lIndex << ' ' << r.lUniqueID << ' ' << r.lPhoneMemory << ' '
        << r.nTotalMemoryUsed << ' ' << r.dtLocation << ' ' << r.nContactID << ' ' << r.RawData().size()
        << '|';
    Put(out, r.strPIMID);
    Put(out, r.csFolder);
    Put(out, r.strLastModify);
    Put(out, r.strCreated);
    for (int32_t i = 0; i < r.GetFieldCount(); ++i) {
        const ContactField* f = r.GetField(i);
        out << f->nReserved << ' ' << f->nType << ' ' << f->nExtra1 << ' ' << f->nExtra2 << ' ' << f->nExtra3
            << ' ' << f->nExtra4 << ' ' << f->nExtra5 << ' ' << f->nExtra6 << ' ' << f->mapExtra.size()
            << '|';
        Put(out, f->strData);
        Put(out, f->strExtra1);
        Put(out, f->strFilePath);
        Put(out, f->strExtra2);
        Put(out, f->strExtra3);
    }
    return out.str();
}

std::string Describe(const CalendarRecord& r) {
    std::ostringstream out;
    out << r.nVersion << ' ' << r.lState << ' ' << r.lFlag << ' ' << r.nCalendarId << ' ' << r.lAux1 << ' '
        << r.lPhoneId << ' ' << r.nAux2 << ' ' << r.nAux3 << ' ' << r.nAux4 << ' ' << r.lAux5 << ' '
        << r.lRecurType << ' ' << r.lRecurDay << ' ' << r.lRecurMonth << ' ' << r.lRecurByWeekday << ' '
        << r.lRecurWeek << ' ' << r.lRecurDayMask << ' ' << r.lRecurInterval << ' ' << r.lAux6 << ' '
        << r.bRecurHasEnd << ' ' << r.lReminderMinutes << ' ' << r.lAux7 << ' ' << r.lAux8 << ' ' << r.pSource
        << ' ' << r.lAux9 << ' ' << r.lAux10 << ' ' << r.bAllDay << ' ' << r.lAux11 << '|';
    Put(out, r.strId);
    Put(out, r.strAux1);
    Put(out, r.strAux2);
    Put(out, r.dtStart);
    Put(out, r.dtEnd);
    Put(out, r.dtLastModified);
    Put(out, r.dtAux);
    Put(out, r.dtRecurEnd);
    for (const CalendarField* f : r.fields) {
        out << f->nVersion << ' ' << f->nType << ' ' << f->nAux1 << ' ' << f->nAux2 << ' ' << f->nAux3 << ' '
            << f->lAux4 << '|';
        Put(out, f->strData);
        Put(out, f->strAux);
    }
    return out.str();
}

// What a contact read makes of the answer's "objects": the verdict on the row list, then the
// records and the trace lines of their conversion.
template <class V> std::string Contacts(const V& objects, DiffEnv& env) {
    if (!objects.isArray() && !objects.isNull())
        return "no row list";
    RecordList<ContactRecord> records;
    ToContactBatch(objects, kxfuzz::FreshGroups(), u"diff", false, nullptr, &records);
    std::string out;
    for (const ContactRecord* r : records)
        out += Describe(*r) + "\n";
    for (const ContactRecord* r : records)
        if (const ContactField* holder = r->PictureHolder())
            RemovePictureFile(holder->strFilePath);
    return out + env.NewTrace();
}

// What a calendar read makes of the whole answer: records, removed and modified instances, the
// records after the merge, and the trace lines.
template <class V> std::string Events(const V& root, DiffEnv& env) {
    RecordList<CalendarRecord> records;
    CalendarExdateList exdates;
    CalendarExceptionList exceptions;
    std::string out = std::to_string(kxconv::ToCalendarList(root, &records, &exdates, &exceptions)) + "\n";
    for (const CalendarExdate& e : exdates)
        out += std::to_string(e.parentId) + " " + e.instant + "\n";
    for (const CalendarException& e : exceptions)
        out += std::to_string(e.parentId) + " " + e.element + "\n";
    CalConv::MergeCalendarExceptions(&records, exdates, exceptions);
    for (const CalendarRecord* r : records)
        out += Describe(*r) + "\n";
    return out + env.NewTrace();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    DiffEnv& env = DiffEnv::Installed();
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::string envelope = EncryptPayload(text.c_str());

    FastAnswer fast;
    env.NewTrace();
    const ServiceReply slow = ParseServiceAnswer(envelope.data(), envelope.size());
    const std::string slowParseTrace = env.NewTrace();
    if (!fast.Parse(envelope.data(), envelope.size()))
        return 0; // the read takes JsonCpp's result as it is
    Check(env.NewTrace().empty() && slowParseTrace.empty());
    // Taken by the fast reader: JsonCpp takes it as an answer with status 0 too.
    Check(slow.ok() && slow.status == 0);

    const std::string slowContacts = Contacts(slow.objects(), env);
    Check(slowContacts == Contacts(fast.objects(), env));
    const std::string slowEvents = Events(slow.document, env);
    Check(slowEvents == Events(fast.root(), env));
    // As an id list: the same verdict and the same entries (ids and change flags).
    Check(slow.objects().isArray() == fast.objects().isArray() &&
          slow.objects().isNull() == fast.objects().isNull());
    if (slow.objects().isArray())
        Check(IdEntries(slow.objects()) == IdEntries(fast.objects()));

    // The read's own entry gives the same outcome.
    const ServiceReply read = ParseServiceAnswerFast(envelope.data(), envelope.size(), &fast);
    Check(read.ok() && read.fast == &fast);
    return 0;
}
