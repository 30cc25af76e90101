// The exception list of a recurring event (the XML text of field 3024) in iCalendar's terms: its
// removed instances are EXDATEs of the series, its modified instances VEVENTs of their own that
// override one instance each (RECURRENCE-ID).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <kxphone/ole_date.h>

namespace kxsync {

// One "modification" element. Texts are empty when absent; dates invalid when absent.
struct Modification {
    platform::OleDate instance; // the start of the instance it replaces
    std::u16string subject, location, body;
    bool allDay = false;
    platform::OleDate start, end;
    int32_t reminderMinutes = -1; // -1: no reminder
};

// The removed instances' days and the modified instances of a list text; a text that is not such
// a list gives neither.
void ReadExceptionList(const std::u16string& text, std::vector<platform::OleDate>* deletions,
                       std::vector<Modification>* modifications);

// The list text: the modifications, then a "deletion" for each removed day that no modification
// replaces.
std::u16string ExceptionListText(const std::vector<Modification>& modifications,
                                 const std::vector<platform::OleDate>& deletions);

} // namespace kxsync
