// The sample store: answers the file-like data types (4, 5, 11, 13, and the folder profile of
// 10) from an in-memory folder tree backed by the "Phone Memory" and "Memory Card" directories
// next to the driver, and types 3 (message profile, summary, verifier) and 14 (mailbox) from
// small stores of its own. Owned by the phone object; every operation runs on the calling host
// thread and reports to the host window as it goes. Tree changes are serialised; messages are
// sent without the lock held, so a host may call back into the driver from its window.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/text.h"
#include "sync/phone_state.h"

#include <kxphone/host_blocks.h>
#include <kxphone/profiles.h>

class SampleStore {
public:
    // Item messages go to phone's host window.
    explicit SampleStore(const PhoneState& phone);
    ~SampleStore();
    SampleStore(const SampleStore&) = delete;
    SampleStore& operator=(const SampleStore&) = delete;

    // --- folder tree (types 4, 5, 10, 11, 13) ---
    // Resets the folder profile to its fixtures and returns its address (always the same).
    KXFolderProfile* FolderProfile();
    // Case-blind, depth-first; lists in the order sixth, pictures, ringtones, movies, fifth,
    // fourth, last. Null when no folder has that name.
    KXFolderRecord* FindFolder(const std::u16string& name);

    // Item lists (null allowed). 0, or 21 when stop was seen; family-4 messages as they go. A write
    // whose item could not be put in the store ends with 1 and the failed message.
    int32_t ReadItems(const KXSampleItemList* list, const std::atomic<bool>& stop);
    int32_t WriteItems(const KXSampleItemList* list, const std::atomic<bool>& stop);
    int32_t DeleteItems(const KXSampleItemList* list, const std::atomic<bool>& stop);
    // Picture check; the verdict goes to the verify result, whose address lands in the block.
    void VerifyItem(KXVerifyBlock* block);
    // Listing of a data type (4, 5/11, 13): refills the folder with its fixtures and sends the
    // progress messages; 1 when done or when the folder is missing, 0 for other types.
    int32_t ListFolder(uint32_t type);

    // The two store directories (created when missing); empty path when the driver's own path
    // is unknown.
    std::filesystem::path PhoneMemoryDir() const;
    std::filesystem::path MemoryCardDir() const;
    bool EnsureDirectories() const;
    // The store file a device path and file name name, or nothing when they would leave the
    // store directories. withColon: the prefixes as Read uses them ("(C:)"), else as Write does.
    std::optional<std::filesystem::path> DeviceFile(const std::u16string& devicePath,
                                                    const std::u16string& fileName, bool withColon) const;

    // --- messages (type 3) ---
    int32_t MessageProfile(uintptr_t* slot);
    // Stores the address of the summary text ("Inbox,3,1;...": name, total, unread) in *slot.
    int32_t MessageSummary(uintptr_t* slot);
    // 0 fits, 1 unknown folder or text too long, 2 no block or item.
    int32_t VerifyMessage(KXVerifyBlock* block);

    // --- mailbox (type 14) ---
    void SetMailFolderDescription(const std::u16string& text);
    std::u16string MailFolderDescription() const;
    int32_t MailboxProfile(uintptr_t* slot);
    // Stores the address of the folder summary text ("Inbox,2;...": name, messages) in *slot.
    int32_t MailSummary(uintptr_t* slot);
    // folder: null for every folder. 0, 1 (unknown folder) or 21; 0xE000x messages.
    int32_t ReadMail(const KXChar* folder, const std::atomic<bool>& stop);
    // 0, 12 (unknown folder or mailbox full) or 21; 0xE000x messages.
    int32_t WriteMail(const KXMailItemList* list, const std::atomic<bool>& stop);
    // 0 fits, 1 unknown folder, 2 no block or item.
    int32_t VerifyMail(KXVerifyBlock* block);
    size_t MailCount() const;

    // The first folder of that name, depth-first through each folder's subfolders (folder and
    // mail folder records alike). Null entries are passed over.
    template <class Folder>
    static Folder* FindByName(const KXPointerArray<Folder>& list, const std::u16string& name) {
        for (Folder* folder : list) {
            if (!folder)
                continue;
            if (platform::EqualsNoCase(folder->name, name))
                return folder;
            if (Folder* inner = FindByName(folder->subfolders, name))
                return inner;
        }
        return nullptr;
    }

private:
    const PhoneState& phone_;
    void FillFolderFixtures();
    KXMailFolder* FindMailFolder(const std::u16string& name);
    void FillMailFixtures();

    mutable std::mutex lock_;
    KXFolderProfile profile_;
    KXVerifyResult verify_ = {};

    KXMessageProfile messageProfile_;
    std::u16string messageSummary_;

    KXMailboxProfile mailbox_;
    std::u16string mailFolderDescription_;
    std::u16string mailSummary_;
    std::vector<std::unique_ptr<KXMailItem>> mail_;
};
