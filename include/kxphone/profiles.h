// Profile records that GetProfile hands to the host. The driver owns every record and every
// record reachable from it: the host reads them in place, never frees them, and must not keep
// pointers past the next GetProfile of the same type (which rebuilds the record in place, at the
// same address). Lists are pointer arrays whose elements belong to the record holding the list.
// Texts of fixed room are NUL-terminated UTF-16 arrays; other texts are string objects.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <kxphone/kxphone.h>
#include <kxphone/ole_date.h>

// A pointer array shared with the host; its elements belong to the record that holds it.
template <class T> using KXPointerArray = std::vector<T*>;

struct KXRect {
    int32_t left = 0, top = 0, right = 0, bottom = 0;
};

// ---------------------------------------------------------------------------------------------
// Contact profile (type 2)

struct KXContactEntry {
    int32_t version = 100;
    int32_t entryId = 0;
    uint32_t mask = 0;
    int32_t value1 = 0;
    int32_t value2 = 0;
};

// Storage flag bits that switch optional parts of a storage record on.
constexpr uint32_t KX_STORAGE_ENTRY3 = 0x01;
constexpr uint32_t KX_STORAGE_ENTRY4 = 0x02;
constexpr uint32_t KX_STORAGE_GROUPS = 0x04;
constexpr uint32_t KX_STORAGE_RANGE = 0x40;

// Room of the field text block: 8192 bytes.
constexpr int32_t KX_FIELD_TEXT_CHARS = 4096;

class KXContactStorage {
public:
    KXContactStorage() = default;
    ~KXContactStorage();
    KXContactStorage(const KXContactStorage&) = delete;
    KXContactStorage& operator=(const KXContactStorage&) = delete;

    int32_t version = 101;
    int32_t storageNumber = 0;
    KXChar name[128] = {};
    uint32_t flags = 0;
    int32_t word2 = 0;
    int32_t fieldCount = 0;
    int32_t word4 = 0;
    int32_t word5 = 0;
    int32_t word6 = 0;
    KXPointerArray<KXContactEntry> entries;
    int32_t word7 = 0;
    KXChar inlineText[2048] = {};
    // Consecutive NUL-ended texts: field kinds, display names, identifiers, maximum lengths, then
    // groups and range when the flags ask for them. KX_FIELD_TEXT_CHARS characters of room.
    KXChar* fieldText = nullptr;
};

class KXContactProfile {
public:
    KXContactProfile() = default;
    ~KXContactProfile();
    KXContactProfile(const KXContactProfile&) = delete;
    KXContactProfile& operator=(const KXContactProfile&) = delete;

    int32_t version = 100;
    uint32_t flags = 0;
    KXPointerArray<KXContactStorage> storages;
    KXChar text[2048] = {};
};

// ---------------------------------------------------------------------------------------------
// Calendar profile (type 8)

struct KXCalendarKind {
    int32_t version = 100;
    int32_t kind = 0;
    int32_t sizeValue = 0;
    uint32_t mask = 0;
};

class KXCalendarProfile {
public:
    KXCalendarProfile() = default;
    ~KXCalendarProfile();
    KXCalendarProfile(const KXCalendarProfile&) = delete;
    KXCalendarProfile& operator=(const KXCalendarProfile&) = delete;

    int32_t version = 100;
    uint32_t flags = 0;
    KXPointerArray<KXCalendarKind> kinds;
    std::u16string text1, text2, text3;
    std::vector<std::u16string> ringNames;
    std::vector<int32_t> reminderMinutes;
};

// ---------------------------------------------------------------------------------------------
// Device profile (type 1). On entry the GetProfile slot holds the host's description text.

struct KXDeviceProfile {
    int32_t version = 100;
    int32_t value1 = 0, value2 = 0, value3 = 0, value4 = 0;
    std::u16string detectLibrary;
    KXChar text[2048] = {};
};

// ---------------------------------------------------------------------------------------------
// Media profile (type 6)

struct KXMediaFormat {
    int32_t version = 1;
    int32_t id = 0;
    int32_t word1 = 0;
    std::u16string text;
    std::u16string extension;
    int32_t word2 = 0;
};

struct KXMediaSize {
    int32_t version = 1;
    int32_t kind = 0;
    int32_t width = 0;
    int32_t height = 0;
};

class KXMediaProfile {
public:
    KXMediaProfile() = default;
    ~KXMediaProfile();
    KXMediaProfile(const KXMediaProfile&) = delete;
    KXMediaProfile& operator=(const KXMediaProfile&) = delete;

    uint32_t flags = 0;
    KXPointerArray<KXMediaFormat> pictureFormats;
    KXPointerArray<KXMediaSize> pictureSizes;
    int32_t pictureValue = 0;
    KXRect pictureRect;
    KXPointerArray<KXMediaFormat> soundFormats;
    int32_t soundValue = 0;
    KXRect soundRect;
    int32_t value3 = 0;
    int32_t value4 = 0;
    int32_t value5 = 0;
    KXRect screenRect;
    std::u16string dialCharacters;
};

// ---------------------------------------------------------------------------------------------
// Folder profile of the sample store (types 4, 5, 10, 11, 13)

struct KXFileRecord {
    int32_t version = 3;
    std::u16string name;
    int32_t size = 0; // bytes
    int32_t formatId = 0;
    int32_t word1 = -1;
    int32_t width = 0;
    int32_t height = 0;
    int32_t word2 = 7;
    platform::OleDate created;
    platform::OleDate modified;
};

class KXFolderRecord {
public:
    KXFolderRecord() = default;
    ~KXFolderRecord();
    KXFolderRecord(const KXFolderRecord&) = delete;
    KXFolderRecord& operator=(const KXFolderRecord&) = delete;

    // Deletes the files and subfolders.
    void Clear();

    int32_t version = 3;
    int32_t kind = 0;
    std::u16string name;
    KXPointerArray<void> list1; // unused, always empty
    KXPointerArray<KXFileRecord> files;
    KXPointerArray<KXFolderRecord> subfolders;
    int32_t word1 = 0, word2 = 0, word3 = 0, word4 = 0;
    int32_t word5 = -1;
    platform::OleDate created;
    platform::OleDate modified;
};

struct KXFormatEntry {
    int32_t version = 1;
    int32_t formatId = 0;
    int32_t maxSize = 0; // bytes
    std::u16string text;
    std::u16string extension;
    int32_t word = 0;
};

struct KXSizeEntry {
    int32_t version = 1;
    int32_t kind = 0;
    int32_t width = 0;
    int32_t height = 0;
};

struct KXCategoryEntry {
    int32_t word1 = 0;
    std::u16string name;
    int32_t word2 = 0;
};

class KXFolderProfile {
public:
    KXFolderProfile() = default;
    ~KXFolderProfile();
    KXFolderProfile(const KXFolderProfile&) = delete;
    KXFolderProfile& operator=(const KXFolderProfile&) = delete;

    // Empties every list (deleting its elements) and zeroes the words.
    void Reset();

    int32_t version = 3;
    uint32_t ringtoneAttributes = 0;
    uint32_t pictureAttributes = 0;
    int32_t word1 = 0, word2 = 0, word3 = 0;
    int32_t movieAttributes = 0;
    KXPointerArray<KXFormatEntry> formats;
    KXPointerArray<KXFolderRecord> ringtoneFolders;
    KXPointerArray<KXFolderRecord> pictureFolders;
    KXPointerArray<KXFolderRecord> movieFolders;
    KXPointerArray<KXFolderRecord> folders4;
    KXPointerArray<KXFolderRecord> folders5;
    KXPointerArray<KXFolderRecord> folders6;
    KXPointerArray<KXFolderRecord> folders7;
    KXPointerArray<KXCategoryEntry> categories1;
    KXPointerArray<KXCategoryEntry> categories2;
    KXPointerArray<KXSizeEntry> sizes;
    int32_t word4 = 0;
    int32_t word5 = 0;
    KXPointerArray<KXFolderRecord> lastFolders;
    int32_t word6 = 0;
};

// ---------------------------------------------------------------------------------------------
// Message store (type 3) and mailbox (type 14) profiles

struct KXMessageFolder {
    int32_t version = 1;
    int32_t folderId = 0;
    std::u16string name;
    int32_t total = 0;
    int32_t unread = 0;
};

class KXMessageProfile {
public:
    KXMessageProfile() = default;
    ~KXMessageProfile();
    KXMessageProfile(const KXMessageProfile&) = delete;
    KXMessageProfile& operator=(const KXMessageProfile&) = delete;

    int32_t version = 1;
    KXPointerArray<KXMessageFolder> folders;
    std::vector<std::u16string> columns;
};

class KXMailFolder {
public:
    KXMailFolder() = default;
    ~KXMailFolder();
    KXMailFolder(const KXMailFolder&) = delete;
    KXMailFolder& operator=(const KXMailFolder&) = delete;

    int32_t version = 1;
    int32_t folderId = 0;
    std::u16string name;
    int32_t messageCount = 0;
    KXPointerArray<KXMailFolder> subfolders;
};

class KXMailboxProfile {
public:
    KXMailboxProfile() = default;
    ~KXMailboxProfile();
    KXMailboxProfile(const KXMailboxProfile&) = delete;
    KXMailboxProfile& operator=(const KXMailboxProfile&) = delete;

    int32_t version = 1;
    KXPointerArray<KXMailFolder> folders;
    // The host's "<emailfolder>" text from its device description, as given.
    std::u16string folderDescription;
};
