// The Win32 Env against the system itself (under Wine in the test command).
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

#include "platform/env.h"
#include "platform/module_path.h"

namespace {

// Sets HKCU\Control Panel\International\iFirstDayOfWeek for one scope, restoring what was there.
class ScopedWeekStart {
public:
    ScopedWeekStart() {
        RegCreateKeyExW(HKEY_CURRENT_USER, L"Control Panel\\International", 0, nullptr, 0, KEY_ALL_ACCESS,
                        nullptr, &key_, nullptr);
        DWORD size = sizeof old_;
        had_ = RegQueryValueExW(key_, L"iFirstDayOfWeek", nullptr, nullptr, reinterpret_cast<BYTE*>(old_),
                                &size) == ERROR_SUCCESS;
    }
    ~ScopedWeekStart() {
        if (had_)
            Set(old_);
        else
            RegDeleteValueW(key_, L"iFirstDayOfWeek");
        RegCloseKey(key_);
    }
    void Set(const wchar_t* value) {
        RegSetValueExW(key_, L"iFirstDayOfWeek", 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                       static_cast<DWORD>((wcslen(value) + 1) * sizeof(wchar_t)));
    }

private:
    HKEY key_ = nullptr;
    wchar_t old_[64] = {};
    bool had_ = false;
};

TEST(WindowsEnv, WeekStartFromTheRegistryMondayBased) {
    platform::Env* env = platform::Env::Default();
    ScopedWeekStart week;
    const struct {
        const wchar_t* value;
        int weekday; // 0 Sunday
    } cases[] = {{L"0", 1}, {L"5", 6}, {L"6", 0}, {L"7", 0}, {L"x", 0}, {L"", 0}, {L"123456789", 0}};
    for (const auto& c : cases) {
        week.Set(c.value);
        EXPECT_EQ(env->FirstWeekday(), c.weekday) << static_cast<int>(c.value[0]);
    }
}

TEST(WindowsEnv, ProcessNamesModuleAndIdentifiers) {
    platform::Env* env = platform::Env::Default();
    std::vector<platform::ProcessEntry> list;
    ASSERT_TRUE(env->ListProcesses(&list));
    auto self = std::find_if(list.begin(), list.end(), [](const platform::ProcessEntry& p) {
        return p.pid == static_cast<int>(GetCurrentProcessId());
    });
    ASSERT_NE(self, list.end());
    EXPECT_EQ(self->name, "tests_windows_units"); // compared without ".exe", as elsewhere

    std::string own = env->OwnModulePath();
    EXPECT_EQ(platform::SiblingModulePath(own, "AuxSyncModule"),
              own.substr(0, own.find_last_of('\\') + 1) + "AuxSyncModule.dll");

    std::string a = env->NewUuid(), b = env->NewUuid();
    ASSERT_EQ(a.size(), 36u);
    EXPECT_NE(a, b);
    EXPECT_EQ(a.find_first_not_of("0123456789abcdef-"), std::string::npos) << a;
    EXPECT_EQ(a[8], '-');
    EXPECT_EQ(a[23], '-');
}

TEST(WindowsEnv, ZoneConversionsRoundTripAndRefuseWhatTheSystemCannotHold) {
    platform::Env* env = platform::Env::Default();
    platform::CivilTime local{2012, 1, 17, 8, 30, 15, 250}, utc, back;
    ASSERT_TRUE(env->LocalToUtc(local, &utc));
    ASSERT_TRUE(env->UtcToLocal(utc, &back));
    EXPECT_EQ(std::make_tuple(back.year, back.month, back.day, back.hour, back.minute, back.second,
                              back.millisecond),
              std::make_tuple(2012, 1, 17, 8, 30, 15, 250));
    platform::CivilTime bad{1500, 1, 1, 0, 0, 0, 0};
    EXPECT_FALSE(env->LocalToUtc(bad, &utc));
    bad = {2012, 13, 1, 0, 0, 0, 0};
    EXPECT_FALSE(env->UtcToLocal(bad, &utc));
}

} // namespace
