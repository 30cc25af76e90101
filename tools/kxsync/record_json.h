// The record form of kxsync's --json, documented in docs/record-json.md: one JSON line per contact
// or event, as the read commands print it and the write commands read it (each line of a write
// file carries its "op"). Every member of a record that a read fills is in the line, so a record
// printed and parsed back is the record again: hosts may keep records in this form.
#pragma once

#include <cstdint>
#include <string>

#include <json/json.h>
#include <kxphone/calendar_record.h>
#include <kxphone/contact_record.h>

namespace kxsync {

// The readable name of a contact field type ("mobile", "email2", "field4711").
std::string ContactFieldName(int32_t type);

// The record as one line. A record with a status bit in lFlag carries it as "op".
std::string ContactJsonLine(const ContactRecord& r);
std::string CalendarJsonLine(const CalendarRecord& r);

// One line into *record, which must be freshly constructed: every member the line leaves out
// keeps the value a read would have given it, and lFlag gets the status bit of "op" (none when the
// line has no "op"). False with *error saying what is wrong (the caller names the line).
bool ParseContactLine(const std::string& line, ContactRecord* record, std::string* error);
bool ParseCalendarLine(const std::string& line, CalendarRecord* record, std::string* error);

// "create", "update", "delete" for the status bit set in flag (the first of them); "" when none.
const char* OpName(int32_t flag);

// Small texts the calendar's lines share: the last field of a type as UTF-8, the weekday codes of
// a day mask ("MO,WE"), the name of a repeat kind ("" for none or one out of range).
std::string FieldText(const CalendarRecord& r, int32_t type);
std::string Days(int32_t mask);
std::string RepeatName(int32_t kind);

// The lines' objects, for views built from them.
Json::Value ContactJsonValue(const ContactRecord& r);
Json::Value CalendarJsonValue(const CalendarRecord& r);

} // namespace kxsync
