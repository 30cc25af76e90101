// The profile records that the phone object owns and GetProfile rebuilds in place (contact,
// calendar, device and media). The sample store owns the folder, message and mailbox profiles.
#pragma once

#include <cstdint>
#include <string>

#include <kxphone/profiles.h>

class ProfileStore {
public:
    // Each rebuilds its record and returns its address, the same on every call.
    KXContactProfile* BuildContactProfile();
    KXCalendarProfile* BuildCalendarProfile();
    KXDeviceProfile* BuildDeviceProfile();
    KXMediaProfile* BuildMediaProfile();

    // The field description of a storage as consecutive NUL-ended texts (NULs included).
    static std::u16string FieldText(uint32_t storageFlags);
    // The platform class for an "sdk" value; current when the value is not a known level.
    static int32_t PlatformClassFromSdk(int32_t sdk, int32_t current);

private:
    KXContactProfile contact_;
    KXCalendarProfile calendar_;
    KXDeviceProfile device_;
    KXMediaProfile media_;
};
