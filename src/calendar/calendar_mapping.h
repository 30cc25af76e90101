// Calendar rows of the handset service (JSON objects keyed by the calendar provider's column
// names) to CalendarRecord and back, and the exception list text (CalendarField 3024) that
// carries the modified and removed instances of a recurring event inside its record.
//
// The exception list is XML:
//   <exception>
//     <modification datetime="yyyy/mm/dd hh:mm:ss" time="yyyy/mm/dd">
//       <subject/><location/><body/>   base64 of the UTF-16LE text, each only when not empty
//       <allday/><start/><end/><reminderset/>[<reminderdelta/>]
//     </modification>...
//     <deletion time="yyyy/mm/dd"/>...
//   </exception>
// "datetime" is the instance's (new) start, "time" the day of the instance it replaces (its
// original day when the handset names it). Dates are local time except for all-day instances.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <json/json.h>
#include <kxphone/calendar_record.h>
#include <kxphone/record_list.h>

#include "transport/fast_json.h"

// What a read collects beside its records until every row is in: removed instances ("exdate"
// of a parent row) and modified instances (rows with "parentID"), both keyed by the parent's id.
struct CalendarExdate {
    int32_t parentId;
    std::string instant; // "yyyy/mm/dd hh:mm:ss", local time unless the parent is all-day
};
struct CalendarException {
    int32_t parentId;
    std::string element; // one serialised "modification" element
};
typedef std::vector<CalendarExdate> CalendarExdateList;
typedef std::vector<CalendarException> CalendarExceptionList;

namespace kxconv {

// One row to record. False when the row is no event of its own: a modified instance (its
// element goes to exceptions instead). exdates and exceptions may be null; their entries are
// then dropped. record should be freshly constructed or reset.
bool ToCalendarEx(const Json::Value& row, CalendarRecord* record, CalendarExdateList* exdates,
                  CalendarExceptionList* exceptions);

// Every element of response["objects"] that becomes a record is appended to list (which owns
// it), in answer order; other elements are skipped. Returns the number appended.
int ToCalendarList(const Json::Value& response, RecordList<CalendarRecord>* list, CalendarExdateList* exdates,
                   CalendarExceptionList* exceptions);
// The same for an answer the fast reader took: the same records, the same trace lines.
int ToCalendarList(const fastjson::Value& response, RecordList<CalendarRecord>* list,
                   CalendarExdateList* exdates, CalendarExceptionList* exceptions);

} // namespace kxconv

namespace CalConv {

// The record as a row to send (every value a JSON string). Always 1.
int FromCalendarEx(const CalendarRecord& record, Json::Value* row);

// One row per "modification" element of exceptionText (the parent's CalendarField 3024) is
// appended to the array *rows, carrying iCalGuid and parentId. sdk is the handset's "sdk"
// value: from 14 on, rows also name the instance they replace ("originalInstanceTime"). False
// when nothing was appended; a null or unparsable text is traced.
bool FromCalendarException(const CalendarRecord& parent, const std::u16string* exceptionText,
                           Json::Value* rows, const std::u16string& iCalGuid, const std::u16string& parentId,
                           int32_t sdk);

// Attaches to each parent record of records its exception list (modifications first, then the
// removed instances that no modification replaced) as a CalendarField 3024. Entries whose parent
// is not among records are dropped with a trace line. The lists are left as they are.
void MergeCalendarExceptions(RecordList<CalendarRecord>* records, const CalendarExdateList& exdates,
                             const CalendarExceptionList& exceptions);

} // namespace CalConv
