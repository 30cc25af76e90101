// The profile records that the phone object owns and GetProfile rebuilds in place (contact,
// calendar, device and media). The sample store owns the folder, message and mailbox profiles.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include <kxphone/profiles.h>

// One field of the "Phone" contact storage: display name, identifier, maximum length.
struct ContactFieldSpec {
    const char16_t* name;
    int32_t id;
    int32_t maxLength;
};

class ProfileStore {
public:
    // Each rebuilds its record and returns its address, the same on every call.
    KXContactProfile* BuildContactProfile();
    KXCalendarProfile* BuildCalendarProfile();
    KXDeviceProfile* BuildDeviceProfile();
    KXMediaProfile* BuildMediaProfile();

    // The field description of a storage as consecutive NUL-ended texts (NULs included).
    static std::u16string FieldText(uint32_t storageFlags);
    // The fields of the "Phone" storage in profile order; the verifier takes its limits from here.
    static const ContactFieldSpec* ContactFields(size_t* count);
    // The platform class for an "sdk" value; current when the value is not a known level.
    static int32_t PlatformClassFromSdk(int32_t sdk, int32_t current);

private:
    KXContactProfile contact_;
    KXCalendarProfile calendar_;
    KXDeviceProfile device_;
    KXMediaProfile media_;
};
