// Every member of a record as text, one field per line, so that two records compare at once and a
// difference shows where it is.
#pragma once

#include <algorithm>
#include <string>

#include <kxphone/calendar_record.h>
#include <kxphone/contact_record.h>

#include "codec_text.h"
#include "platform/utf.h"

namespace kxtest {

inline std::string Utf8(const std::u16string& text) {
    return platform::Utf16ToUtf8(text);
}

// Fields from "type=text|type=text".
inline void AddFields(ContactRecord* r, const std::string& fields) {
    for (size_t at = 0, end; at < fields.size(); at = end + 1) {
        end = std::min(fields.find('|', at), fields.size());
        size_t eq = fields.find('=', at);
        r->AppendField(ContactField(std::stoi(fields.substr(at, eq - at)),
                                    platform::Utf8ToUtf16(fields.substr(eq + 1, end - eq - 1))));
    }
}

inline std::string Dump(const ContactRecord& r) {
    std::string out;
    for (int32_t n :
         {r.lFlag, r.lIndex, r.lUniqueID, r.lPhoneMemory, r.nTotalMemoryUsed, r.dtLocation, r.nContactID})
        out += std::to_string(n) + " ";
    out += "\n" + Utf8(r.strPIMID) + "|" + Utf8(r.csFolder) + "|" + kxsync::ExactDate(r.strLastModify) + "|" +
           kxsync::ExactDate(r.strCreated) + "|" + std::string(r.RawData().begin(), r.RawData().end()) + "\n";
    for (int32_t i = 0; i < r.GetFieldCount(); ++i) {
        const ContactField& f = *r.GetField(i);
        out += std::to_string(f.nType) + " [" + kxsync::ExactText(f.strData) + "]";
        for (int32_t n : {f.nReserved, f.nExtra1, f.nExtra2, f.nExtra3, f.nExtra4, f.nExtra5, f.nExtra6})
            out += " " + std::to_string(n);
        for (const std::u16string* t : {&f.strExtra1, &f.strFilePath, &f.strExtra2, &f.strExtra3})
            out += " " + kxsync::ExactText(*t);
        for (const auto& e : f.mapExtra)
            out += " " + Utf8(e.first) + "=" + Utf8(e.second);
        out += "\n";
    }
    return out;
}

inline std::string Dump(const CalendarRecord& r) {
    std::string out;
    for (int32_t n : {r.lState, r.lFlag, r.nCalendarId, r.lAux1, r.lPhoneId, r.nAux2, r.nAux3, r.nAux4,
                      r.lAux5, r.lRecurType, r.lRecurDay, r.lRecurMonth, r.lRecurByWeekday})
        out += std::to_string(n) + " ";
    for (int32_t n : {r.lRecurWeek, r.lRecurDayMask, r.lRecurInterval, r.lAux6, r.bRecurHasEnd,
                      r.lReminderMinutes, r.lAux7, r.lAux8, r.lAux9, r.lAux10, r.bAllDay, r.lAux11})
        out += std::to_string(n) + " ";
    out += "\n" + Utf8(r.strId) + "|" + Utf8(r.strAux1) + "|" + Utf8(r.strAux2) + "\n";
    for (const platform::OleDate* d : {&r.dtStart, &r.dtEnd, &r.dtLastModified, &r.dtAux, &r.dtRecurEnd})
        out += kxsync::ExactDate(*d) + " ";
    for (const CalendarField* f : r.fields)
        out += "\n" + std::to_string(f->nType) + " [" + kxsync::ExactText(f->strData) + "] " +
               std::to_string(f->nAux1) + " " + std::to_string(f->nAux2) + " " + std::to_string(f->nAux3) +
               " " + std::to_string(f->lAux4) + " " + Utf8(f->strAux);
    return out;
}

} // namespace kxtest
