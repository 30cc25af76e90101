// The record form of kxsync's --json: one JSON line per contact or event, as the read commands
// print it, and its inverse for the write commands, where each line carries one more member, "op".
#pragma once

#include <cstdint>
#include <string>

#include <kxphone/calendar_record.h>
#include <kxphone/contact_record.h>

namespace kxsync {

// The readable name of a contact field type ("mobile", "email2", "field4711").
std::string ContactFieldName(int32_t type);

std::string ContactJsonLine(const ContactRecord& r);
std::string CalendarJsonLine(const CalendarRecord& r);

// One line of a write file into *record, which must be freshly constructed: every member the
// line leaves out keeps the value a read would have given it, and lFlag gets the status bit of
// "op". False with *error saying what is wrong (the caller names the line).
bool ParseContactLine(const std::string& line, ContactRecord* record, std::string* error);
bool ParseCalendarLine(const std::string& line, CalendarRecord* record, std::string* error);

// "create", "update", "delete" for the status bit set in flag (the first of them); "" when none.
const char* OpName(int32_t flag);

// Small texts the calendar's lines share: the last field of a type as UTF-8, the weekday codes of
// a day mask ("MO,WE"), the name of a repeat kind ("" for none or one out of range).
std::string FieldText(const CalendarRecord& r, int32_t type);
std::string Days(int32_t mask);
std::string RepeatName(int32_t kind);

} // namespace kxsync
