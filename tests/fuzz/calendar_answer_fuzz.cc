// A calendar read's answer (the deciphered JSON text) through the envelope, the parse, the rows
// to records (rule text, exception XML, time conversions), the merge of the exceptions, and each
// record back into the rows it would be written as. Every text the host receives is well-formed.
#include <cstdint>
#include <string>

#include <kxphone/calendar_record.h>
#include <kxphone/record_list.h>

#include "calendar/calendar_mapping.h"
#include "fuzz_support.h"
#include "transport/payload_cipher.h"
#include "transport/service_request.h"

using kxfuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kxfuzz::ScratchEnv::Installed();
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::string envelope = EncryptPayload(text.c_str());
    ServiceReply reply = ParseServiceAnswer(envelope.data(), envelope.size());
    if (!reply.ok())
        return 0;
    RecordList<CalendarRecord> records;
    CalendarExdateList exdates;
    CalendarExceptionList exceptions;
    kxconv::ToCalendarList(reply.document, &records, &exdates, &exceptions);
    CalConv::MergeCalendarExceptions(&records, exdates, exceptions);
    for (const CalendarRecord* record : records) {
        Check(kxfuzz::WellFormed(record->strId) && kxfuzz::WellFormed(record->strAux1) &&
              kxfuzz::WellFormed(record->strAux2));
        for (const CalendarField* field : record->fields)
            Check(field && kxfuzz::WellFormed(field->strData));
        Json::Value row;
        CalConv::FromCalendarEx(*record, &row);
        Json::Value rows(Json::arrayValue);
        const CalendarField* list = record->FirstField(3024);
        if (list)
            CalConv::FromCalendarException(*record, &list->strData, &rows, u"guid", record->strId, 14);
    }
    return 0;
}
