// A PC at a fixed offset from UTC (no daylight saving) with a chosen first day of the week,
// installed on theApp for the lifetime of the object.
#pragma once

#include <kxphone/calendar_record.h>

#include "driver/app.h"
#include "platform/env.h"
#include "platform/oledate.h"
#include "support/trace_capture.h"

namespace caltest {

class FixedZoneEnv : public platform::EnvWrapper {
public:
    FixedZoneEnv(int eastMinutes, int firstWeekday = 0)
        : platform::EnvWrapper(platform::Env::Default()), east_(eastMinutes), firstWeekday_(firstWeekday) {
        theApp.SetEnv(this);
    }
    ~FixedZoneEnv() override { theApp.SetEnv(nullptr); }

    int FirstWeekday() override { return firstWeekday_; }
    bool LocalToUtc(const platform::CivilTime& l, platform::CivilTime* u) override {
        return Shift(l, -east_, u);
    }
    bool UtcToLocal(const platform::CivilTime& u, platform::CivilTime* l) override {
        return Shift(u, east_, l);
    }
    int ZoneBiasMinutes() override { return -east_; }

private:
    static bool Shift(const platform::CivilTime& in, int minutes, platform::CivilTime* out) {
        return platform::OleDate::FromCivil(in).AddSeconds(minutes * 60LL).ToCivil(out);
    }
    int east_;
    int firstWeekday_;
};

inline platform::OleDate Date(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
    return platform::OleDate::FromCivil(y, mo, d, h, mi, s);
}

inline bool Traced(const kxtest::TraceCapture& trace, const std::string& needle) {
    return trace.Text().find(needle) != std::string::npos;
}

} // namespace caltest
