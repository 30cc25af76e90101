// Blocks the host hands to InquireInfo, Read, Write, DeleteIO and Verify for the phone
// information selectors and the sample-store types (4, 5, 11, 13; mail 14; messages 3). The
// host owns every block and every text in it; the driver only reads them during the call, except
// where a field is said to be written back.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <kxphone/kxphone.h>
#include <kxphone/profiles.h>

// InquireInfo selectors 0x10000 and 0x20000. When capacity is below 1024 or buffer is null, the
// driver points buffer at its own information text and sets capacity to 1024; the host then
// reads the answer there and must not free it. The property document (0x10000) is appended to
// the text the host's buffer already holds; when the two do not fit within capacity (with the
// closing NUL), the inquiry fails with 11 (1100 at the export) and the block is left as it was.
// The status document (0x20000) replaces the buffer's text. A null block is answered with 11 and nothing is
// asked of the phone.
struct KXAnswerBlock {
    int32_t capacity; // room of buffer in UTF-16 characters
    KXChar* buffer;
};

// InquireInfo types 4, 5, 11, 13: an array of 32-bit words, at least three of them.
constexpr int32_t KX_LISTING_REQUEST_WORDS = 3;
constexpr uint32_t KX_LISTING_REQUEST_MAGIC = 2; // value of word[1]
// word[0] is not read; word[1] must be 2; word[2] is the data type to list.

// One element of the host's item list for Read, Write and DeleteIO of types 4, 5, 11, 13.
// The list is a KXSampleItemList (null entries are skipped).
constexpr uint32_t KX_ITEM_PENDING = 0x08; // cleared by Write when the item has been handled

struct KXSampleItem {
    int32_t word1;
    const KXChar* hostPath; // the file (or folder) on the PC
    KXFileRecord* file;     // null for a folder item; its name and size are used
    int32_t word2;
    const KXChar* folderName;
    int32_t word3;
    const KXChar* devicePath; // the folder on the device, ending in "/"
    int32_t word4;
    uint32_t flags;
};
typedef std::vector<KXSampleItem*> KXSampleItemList;

// Verify result for types 4, 5, 11, 13; owned by the driver.
enum KXVerifyCode : int32_t {
    KX_VERIFY_FITS = 0,
    KX_VERIFY_FORMAT = 4,  // format not supported
    KX_VERIFY_BYTES = 5,   // too many bytes
    KX_VERIFY_PICTURE = 6, // picture too large
};
struct KXVerifyResult {
    int32_t word1;
    int32_t code;
    int32_t formatId;
    int32_t maxSize;
    int32_t maxWidth;
    int32_t maxHeight;
};

// Verify block. Modes: 1 picture check, 2 nothing. The driver stores the address of its verify
// result in answer. For type 14 the item is a KXMailItem, for type 3 a KXMessageItem.
struct KXVerifyBlock {
    int32_t word1;
    int32_t mode;
    void* item;
    KXVerifyResult* answer;
};

// Mail items of type 14. Read hands the driver's items to the host (valid during the message
// only); Write takes a KXMailItemList from the host.
struct KXMailItem {
    int32_t version = 1;
    std::u16string folder; // folder name, e.g. "Inbox" or "Sub Box1"
    std::u16string from;
    std::u16string to;
    std::u16string subject;
    std::u16string body;
    uint32_t flags = 0;
};
typedef std::vector<KXMailItem*> KXMailItemList;

// Read of type 14: param is null (every folder) or a const KXChar* folder name.

// Message items of type 3 (verified only; messages are read and written by AuxSyncModule).
struct KXMessageItem {
    int32_t version = 1;
    std::u16string folder; // "Inbox", "Outbox" or "Draft"
    std::u16string address;
    std::u16string text;
};
