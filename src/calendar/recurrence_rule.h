// Repeat patterns between the handset's rule text ("FREQ=WEEKLY;WKST=MO;BYDAY=MO,WE") and the
// recurrence members of CalendarRecord. Only FREQ, INTERVAL, UNTIL, COUNT and the BY parts the
// record can hold are understood; everything else is dropped. Rule texts are ASCII, kept narrow as
// they travel.
#pragma once

#include <cstdint>
#include <string>

#include <kxphone/calendar_record.h>

namespace CalConv {

// The parts of a rule text the record uses, each empty when absent.
struct RecurrenceParts {
    std::string freq;
    std::string wkst;
    std::string interval;
    std::string count;
    std::string until;
    std::string byday;
    std::string bymonthday;
    std::string bymonth;
};

RecurrenceParts ParseRecurrenceRule(const std::string& text);

// Writes the recurrence members of record from the rule text. Reads record->dtStart and
// record->bAllDay, so both must be set first. An unknown or missing FREQ leaves the record as it
// was (not recurring). A COUNT without UNTIL becomes the end at the series' last instance, walked
// from dtStart in local time; a count that is no positive number, above 10000 or not reached
// by the walk leaves the series open and is traced.
void ApplyRecurrenceRule(const std::string& text, CalendarRecord* record);

// The rule text of record, empty for a record that does not recur.
std::string BuildRecurrenceRule(const CalendarRecord& record);

// The two-letter code of the user's first day of the week ("SU" when unknown).
std::string FirstDayOfWeekCode();

// Weekday bits (1 Sunday ... 64 Saturday) as "SU,MO,..." in week order, and back; the text may
// hold week numbers around the codes ("1MO", "-1FR").
std::string DayMaskToText(int32_t mask);
int32_t TextToDayMask(const std::string& text);

} // namespace CalConv
