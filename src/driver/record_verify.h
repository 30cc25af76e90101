// The record checks behind Verify(2) and Verify(8): one engine that applies a table of text
// rules and a date range to one record, and one rule table per record kind. The contact table
// is taken from the contact profile, so the two cannot disagree on a limit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <kxphone/calendar_record.h>
#include <kxphone/contact_record.h>
#include <kxphone/record_verify.h>

namespace kxverify {

// At most maxLength UTF-16 units, all from charset when it is not null. whenEmpty, when not null,
// is written in place of an empty field and of a missing one.
struct TextRule {
    int32_t fieldType;
    int32_t maxLength;
    const char16_t* charset;
    const char16_t* whenEmpty;
};

// A date the kind carries: its item type, the date, and whether a missing (zero) date is refused
// instead of left unsent.
struct DateValue {
    int32_t itemType;
    platform::OleDate date;
    bool required;
};

struct FieldText {
    int32_t type;
    const std::u16string* text;
};

struct Rules {
    const TextRule* text;
    size_t textCount;
    // Inclusive range of the dates, as civil seconds since 1899-12-30 00:00:00.
    int64_t earliest;
    int64_t latest;
};

// Checks the fields that have a rule (in record order; fields without one are not listed), then
// the dates. Appends to out; 0 when every item fits, else 1.
int32_t Run(const Rules& rules, const std::vector<FieldText>& fields, const std::vector<DateValue>& dates,
            int32_t options, KXRecordVerifyList* out);

const Rules& ContactRules();
const Rules& CalendarRules();

int32_t VerifyContact(const ContactRecord& record, int32_t options, KXRecordVerifyList* out);
int32_t VerifyCalendar(const CalendarRecord& record, int32_t options, KXRecordVerifyList* out);

} // namespace kxverify
