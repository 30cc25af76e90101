// Verify of contacts (type 2) and calendar events (type 8): the host hands one record before it
// writes it and learns, field by field, what the handset would receive and what it would not take.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// What one checked field would become.
enum KXFieldVerdict : int32_t {
    KX_FIELD_FITS = 0,
    KX_FIELD_CHANGED = 1, // written in another form: cut to the limit, or an empty title filled
    KX_FIELD_REFUSED = 2, // characters outside the handset's set, or a date outside its range
};

// One result item: the field type (for the dates of an event, one of the KX_VERIFY_* date
// types below), the text as it would be written, and the verdict.
struct KXRecordVerifyItem {
    int32_t fieldType = 0;
    std::u16string text;
    int32_t verdict = KX_FIELD_FITS;
};
typedef std::vector<KXRecordVerifyItem> KXRecordVerifyList;

// Date items of an event; their text is "YYYY-MM-DD hh:mm:ss" (empty for an unusable date).
constexpr int32_t KX_VERIFY_START_DATE = 9001;
constexpr int32_t KX_VERIFY_END_DATE = 9002;
constexpr int32_t KX_VERIFY_RECURRENCE_END = 9003; // checked only when the rule has an end

// options: list only the fields whose verdict is not KX_FIELD_FITS.
constexpr int32_t KX_VERIFY_FAILED_ONLY = 0x01;

// Results of Verify(2) and Verify(8):
//   0 every field fits as it is; 1 at least one item has a verdict; 2 no block, no record, or a
//   record of a layout version the driver does not know.
// The driver stores the address of its result list in results. The list is the driver's: it is
// emptied at the start of every Verify of type 2 or 8 and must not be freed or kept beyond that.
struct KXRecordVerifyBlock {
    int32_t word1;               // not read
    const void* record;          // ContactRecord* (type 2) or CalendarRecord* (type 8)
    KXRecordVerifyList* results; // written by the driver
    int32_t options;             // KX_VERIFY_* option bits
    int32_t reserved;            // handed to the checks, not used yet
};
