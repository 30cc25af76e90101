// Small helpers the calendar conversions share: the host's date type against the platform's,
// and the narrow (wire) texts the rules and JSON rows are made of.
#pragma once

#include <cstdint>
#include <string>

#include <kxphone/calendar_record.h>

#include "calendar/time_conversions.h"
#include "platform/format.h"
#include "platform/oledate.h"

namespace CalConv {

inline platform::OleDate ToOle(const KXDate& d) {
    platform::OleDate o;
    o.days = d.days;
    o.status = d.status;
    return o;
}

inline KXDate ToKx(const platform::OleDate& o) {
    KXDate d;
    d.days = o.days;
    d.status = o.status;
    return d;
}

// The calendar's "no date".
inline bool IsZeroDate(const KXDate& d) {
    return d.days == 0.0;
}

// The trimmed text's leading decimal number, as for every number the handset sends as text.
inline int32_t NarrowToNumber(const std::string& text) {
    return TextToNumber(platform::Widen(text));
}

inline std::string NarrowNumber(int32_t n) {
    return std::to_string(n);
}

} // namespace CalConv
