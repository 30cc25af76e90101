// What an update keeps of the handset's event: the columns the record does not hold, the rule
// text while the host's repeat pattern is still what that text was read as (the record holds only
// part of a rule), the zone text likewise, and every reminder while the first is unchanged.
#pragma once

#include <json/json.h>
#include <kxphone/calendar_record.h>

namespace CalConv {

// row: what FromCalendarEx made of host; handset: the handset's current row of the event.
void CarryOverEvent(const Json::Value& handset, const CalendarRecord& host, Json::Value* row);

} // namespace CalConv
