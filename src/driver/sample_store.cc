// The folder tree of the sample store and its item operations (types 4, 5, 11, 13).
#include "driver/sample_store.h"

#include <algorithm>
#include <system_error>

#include "driver/app.h"
#include "platform/format.h"
#include "platform/text.h"
#include "platform/utf.h"
#include "sync/host_messages.h"
#include "trace/trace.h"
#include "transport/text_encoding.h"

namespace fs = std::filesystem;

namespace {

char16_t Lower(char16_t c) {
    return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c - u'A' + u'a') : c;
}

std::u16string Text(const KXChar* text) {
    return platform::FromHostText(text);
}

// Paths travel as UTF-8 bytes; texts that are not valid UTF-16 / UTF-8 are mended, never thrown on.
fs::path ToPath(const std::u16string& text) {
    return fs::u8path(WideToUtf8(text));
}

std::u16string FromPath(const fs::path& path) {
    return Utf8ToWide(path.u8string());
}

KXFolderRecord* NewFolder(const char16_t* name, int32_t kind, int32_t word1, int32_t word2) {
    auto* folder = new KXFolderRecord;
    folder->name = name;
    folder->kind = kind;
    folder->word1 = word1;
    folder->word2 = word2;
    return folder;
}

KXFileRecord* NewFile(const std::u16string& name, int32_t size, int32_t format, int32_t width = 0,
                      int32_t height = 0) {
    auto* file = new KXFileRecord;
    file->name = name;
    file->size = size;
    file->formatId = format;
    file->width = width;
    file->height = height;
    return file;
}

int64_t TotalBytes(const KXSampleItemList& list) {
    int64_t total = 0;
    for (const KXSampleItem* item : list) {
        if (item && item->file && item->file->size > 0)
            total += item->file->size;
    }
    return total;
}

// The loop every item operation shares: per item its work, the bytes of its file counted as done
// (a negative size counts nothing), the item's messages, then the stop flag. Null entries get no
// work and no messages; the stop flag is tested after them only when stopAfterNull says so.
// Work returns false for an item it could not do: the list then ends as failed (1), not as done.
template <class Work>
int32_t RunItems(const PhoneState& phone, const ItemSequence& sequence, const char16_t* caller,
                 const KXSampleItemList* list, const std::atomic<bool>& stop, bool stopAfterNull, Work work) {
    ItemReporter report(phone, sequence, caller);
    int32_t result = KX_OK;
    bool failed = false;
    if (list) {
        int64_t total = TotalBytes(*list), done = 0;
        for (size_t index = 0; index < list->size(); ++index) {
            KXSampleItem* item = (*list)[index];
            if (item) {
                if (!work(item))
                    failed = true;
                if (item->file && item->file->size > 0)
                    done += item->file->size;
                report.Item(ItemReporter::BytePercent(done, total), static_cast<intptr_t>(index));
            } else if (!stopAfterNull) {
                continue;
            }
            if (stop.load()) {
                result = KX_STOPPED;
                break;
            }
        }
    }
    if (result == KX_OK && failed)
        result = KX_FAILED;
    return report.Finish(result);
}

void CreateParentOf(const fs::path& path) {
    std::error_code ec;
    if (path.has_parent_path())
        fs::create_directories(path.parent_path(), ec);
}

// Copies over an existing file. A failure is traced under caller with the store's side of the copy.
bool CopyOver(const fs::path& from, const fs::path& to, bool intoStore, const char16_t* caller) {
    std::error_code ec;
    if (fs::copy_file(from, to, fs::copy_options::overwrite_existing, ec) && !ec)
        return true;
    KX_TRACE_ERROR(caller, platform::Format(u"Copy failed: %s", FromPath(intoStore ? to : from).c_str()));
    return false;
}

// The store file of an item with a file record; a device path that would leave the store is
// traced under caller.
std::optional<fs::path> StoreFileOf(const SampleStore& store, const KXSampleItem& item, bool withColon,
                                    const char16_t* caller) {
    std::optional<fs::path> file = store.DeviceFile(Text(item.devicePath), item.file->name, withColon);
    if (!file) {
        KX_TRACE_ERROR(caller, platform::Format(u"Device path outside the store: %s%s",
                                                Text(item.devicePath).c_str(), item.file->name.c_str()));
    }
    return file;
}

// Format ids by file extension, for the files found in the store directories.
int32_t FormatOfExtension(const fs::path& file) {
    std::u16string ext = FromPath(file.extension());
    for (auto& c : ext)
        c = Lower(c);
    const struct {
        const char16_t* ext;
        int32_t id;
    } table[] = {{u".bmp", 0x10001}, {u".jpg", 0x10002}, {u".jpeg", 0x10002}, {u".png", 0x10003},
                 {u".gif", 0x10004}, {u".mid", 0x20001}, {u".wav", 0x20002},  {u".mp3", 0x20003},
                 {u".mmf", 0x20005}, {u".dat", 0x30001}};
    for (const auto& entry : table) {
        if (ext == entry.ext)
            return entry.id;
    }
    return 0;
}

// Mirrors a store directory into a folder record: its files and, to a bounded depth, its
// subdirectories. Unreadable entries are left out.
void MirrorDirectory(const fs::path& dir, KXFolderRecord* folder, int depth, size_t* budget) {
    std::error_code ec;
    fs::directory_iterator it(dir, ec), end;
    for (; !ec && it != end && *budget > 0; it.increment(ec)) {
        --*budget;
        std::error_code e2;
        if (it->is_regular_file(e2)) {
            uintmax_t size = it->file_size(e2);
            if (e2)
                continue;
            int32_t bytes = static_cast<int32_t>(std::min<uintmax_t>(size, INT32_MAX));
            folder->files.push_back(
                NewFile(FromPath(it->path().filename()), bytes, FormatOfExtension(it->path())));
        } else if (depth > 0 && it->is_directory(e2)) {
            auto* sub = NewFolder(u"", 1, 0, 0);
            sub->name = FromPath(it->path().filename());
            folder->subfolders.push_back(sub);
            MirrorDirectory(it->path(), sub, depth - 1, budget);
        }
    }
}

} // namespace

SampleStore::SampleStore(const PhoneState& phone) : phone_(phone) {
    FillFolderFixtures();
    FillMailFixtures();
}

SampleStore::~SampleStore() = default;

void SampleStore::FillFolderFixtures() {
    profile_.Reset();
    profile_.version = 3;
    profile_.word4 = 1;

    profile_.movieFolders.push_back(NewFolder(u"Movie Download", 2, 3, 7));
    profile_.movieAttributes |= 23;
    profile_.ringtoneFolders.push_back(NewFolder(u"Ring Download", 2, 3, 7));
    profile_.ringtoneAttributes |= 39;
    KXFolderRecord* pictures = NewFolder(u"Pic Download", 3, 5, 7);
    pictures->word5 = 100;
    profile_.pictureFolders.push_back(pictures);
    profile_.pictureAttributes |= 39;

    const int32_t sizes[][3] = {{2, 200, 300}, {1, 170, 220}, {3, 32, 32}};
    for (const auto& s : sizes) {
        auto* entry = new KXSizeEntry;
        entry->kind = s[0];
        entry->width = s[1];
        entry->height = s[2];
        profile_.sizes.push_back(entry);
    }
    const struct {
        int32_t id, max;
        const char16_t* ext;
    } formats[] = {{0x20006, 51200, u""},     {0x20001, 30720, u""}, {0x20003, 1048576, u""},
                   {0x30001, 204800, u"DAT"}, {0x10002, 51200, u""}, {0x10005, 51200, u""},
                   {0x10001, 51200, u""}};
    for (const auto& f : formats) {
        auto* entry = new KXFormatEntry;
        entry->formatId = f.id;
        entry->maxSize = f.max;
        entry->extension = f.ext;
        profile_.formats.push_back(entry);
    }
    for (const char16_t* name : {u"Messaging", u"Voice mail"}) {
        auto* entry = new KXCategoryEntry;
        entry->name = name;
        profile_.categories1.push_back(entry);
    }
    for (const char16_t* name : {u"Wallpaper", u"Screen Saver"}) {
        auto* entry = new KXCategoryEntry;
        entry->name = name;
        profile_.categories2.push_back(entry);
    }
}

KXFolderProfile* SampleStore::FolderProfile() {
    std::lock_guard<std::mutex> hold(lock_);
    FillFolderFixtures();
    return &profile_;
}

KXFolderRecord* SampleStore::FindFolder(const std::u16string& name) {
    for (const KXPointerArray<KXFolderRecord>* list :
         {&profile_.folders6, &profile_.pictureFolders, &profile_.ringtoneFolders, &profile_.movieFolders,
          &profile_.folders5, &profile_.folders4, &profile_.lastFolders}) {
        if (KXFolderRecord* found = FindByName(*list, name))
            return found;
    }
    return nullptr;
}

fs::path SampleStore::PhoneMemoryDir() const {
    std::string own = theApp.env()->OwnModulePath();
    if (own.empty())
        return {};
    return fs::u8path(own).parent_path() / "Phone Memory";
}

fs::path SampleStore::MemoryCardDir() const {
    std::string own = theApp.env()->OwnModulePath();
    if (own.empty())
        return {};
    return fs::u8path(own).parent_path() / "Memory Card";
}

bool SampleStore::EnsureDirectories() const {
    bool ok = true;
    for (const fs::path& dir : {PhoneMemoryDir(), MemoryCardDir()}) {
        std::error_code ec;
        if (dir.empty() || (!fs::is_directory(dir, ec) && !fs::create_directories(dir, ec))) {
            KX_TRACE_ERROR(u"SampleStore::EnsureDirectories",
                           platform::Format(u"Cannot create store directory %s", FromPath(dir).c_str()));
            ok = false;
        }
    }
    return ok;
}

std::optional<fs::path> SampleStore::DeviceFile(const std::u16string& devicePath,
                                                const std::u16string& fileName, bool withColon) const {
    std::u16string phonePrefix =
        platform::Format(u"/%s/", withColon ? u"Phone Memory (C:)" : u"Phone Memory (C)");
    std::u16string cardPrefix =
        platform::Format(u"/%s/", withColon ? u"Memory Card (D:)" : u"Memory Card (D)");
    fs::path base;
    std::u16string rest;
    if (devicePath.compare(0, phonePrefix.size(), phonePrefix) == 0) {
        base = PhoneMemoryDir();
        rest = devicePath.substr(phonePrefix.size());
    } else if (devicePath.compare(0, cardPrefix.size(), cardPrefix) == 0) {
        base = MemoryCardDir();
        rest = devicePath.substr(cardPrefix.size());
    } else {
        return std::nullopt; // anything else would name a place outside the store
    }
    if (base.empty())
        return std::nullopt;
    rest += u'/';
    rest += fileName;
    fs::path result = base;
    std::u16string part;
    bool named = false;
    for (size_t i = 0; i <= rest.size(); ++i) {
        if (i == rest.size() || rest[i] == u'/' || rest[i] == u'\\') {
            if (part == u"..")
                return std::nullopt;
            if (!part.empty() && part != u".") {
                result /= ToPath(part);
                named = true;
            }
            part.clear();
        } else if (rest[i] == u'\0') {
            return std::nullopt;
        } else {
            part += rest[i];
        }
    }
    if (!named || fileName.empty())
        return std::nullopt;
    return result;
}

int32_t SampleStore::ReadItems(const KXSampleItemList* list, const std::atomic<bool>& stop) {
    EnsureDirectories();
    return RunItems(phone_, kSampleItemRead, u"CKXFakePhone::Read", list, stop, false,
                    [&](const KXSampleItem* item) {
                        fs::path hostPath = ToPath(Text(item->hostPath));
                        CreateParentOf(hostPath);
                        if (!item->file)
                            return true;
                        if (std::optional<fs::path> source =
                                StoreFileOf(*this, *item, /*withColon=*/true, u"SampleStore::Read"))
                            CopyOver(*source, hostPath, /*intoStore=*/false, u"SampleStore::Read");
                        return true; // a source that cannot be copied counts as done
                    });
}

int32_t SampleStore::WriteItems(const KXSampleItemList* list, const std::atomic<bool>& stop) {
    EnsureDirectories();
    return RunItems(
        phone_, kSampleItemWrite, u"CKXFakePhone::Write", list, stop, false, [&](KXSampleItem* item) {
            if (!item->file) {
                CreateParentOf(ToPath(Text(item->hostPath)));
                item->flags &= ~KX_ITEM_PENDING;
                return true;
            }
            std::optional<fs::path> target =
                StoreFileOf(*this, *item, /*withColon=*/false, u"SampleStore::Write");
            if (!target)
                return false;
            CreateParentOf(*target);
            if (!CopyOver(ToPath(Text(item->hostPath)), *target, /*intoStore=*/true, u"SampleStore::Write"))
                return false;
            // Only a file that is really in the store is listed and reported as written.
            std::lock_guard<std::mutex> hold(lock_);
            if (KXFolderRecord* folder = FindFolder(Text(item->folderName)))
                folder->files.push_back(new KXFileRecord(*item->file));
            item->flags &= ~KX_ITEM_PENDING;
            return true;
        });
}

int32_t SampleStore::DeleteItems(const KXSampleItemList* list, const std::atomic<bool>& stop) {
    // Null entries send nothing, but the stop flag is still tested for them.
    return RunItems(
        phone_, kSampleItemDelete, u"CKXFakePhone::Delete", list, stop, true, [&](const KXSampleItem* item) {
            if (!item->file)
                return true;
            std::lock_guard<std::mutex> hold(lock_);
            KXFolderRecord* folder = FindFolder(Text(item->folderName));
            if (!folder)
                return true;
            auto it = std::find_if(folder->files.begin(), folder->files.end(),
                                   [&](KXFileRecord* f) { return f && f->name == item->file->name; });
            if (it != folder->files.end()) {
                delete *it;
                folder->files.erase(it);
            }
            return true;
        });
}

void SampleStore::VerifyItem(KXVerifyBlock* block) {
    if (!block)
        return;
    verify_ = {};
    block->answer = &verify_;
    if (block->mode != 1)
        return;
    const KXSampleItem* item = static_cast<const KXSampleItem*>(block->item);
    if (!item || !item->file)
        return;
    const KXFileRecord& file = *item->file;
    // The result names the format its limits belong to, not the file's own.
    int32_t limitFormat = 0x10002, maxSize = 51200, maxWidth = 170, maxHeight = 220;
    if (file.formatId == 0x10001) {
        limitFormat = 0x10001;
        maxSize = 512000;
        maxWidth = 640;
        maxHeight = 480;
    }
    if (Text(item->folderName) == u"Pic Camera") {
        maxSize = 102400;
        maxWidth = 100;
        maxHeight = 100;
    }
    verify_.formatId = limitFormat;
    verify_.maxSize = maxSize;
    verify_.maxWidth = maxWidth;
    verify_.maxHeight = maxHeight;
    if (file.formatId != 0x10001 && file.formatId != 0x10002)
        verify_.code = KX_VERIFY_FORMAT;
    else if (file.width > maxWidth || file.height > maxHeight)
        verify_.code = KX_VERIFY_PICTURE;
    else if (file.size > maxSize)
        verify_.code = KX_VERIFY_BYTES;
    else
        verify_.code = KX_VERIFY_FITS;
}

int32_t SampleStore::ListFolder(uint32_t type) {
    int32_t percent = 100;
    {
        std::lock_guard<std::mutex> hold(lock_);
        if (type == KX_TYPE_RINGTONE) {
            KXFolderRecord* folder = FindFolder(u"Ring Download");
            if (!folder)
                return 1;
            folder->Clear();
            folder->files.push_back(NewFile(u"Ring1.mid", 15360, 0x20001));
            folder->files.push_back(NewFile(u"Ring2.mmf", 16384, 0x20005));
            folder->files.push_back(NewFile(u"Ring3.mp3", 17408, 0x20003));
            percent = 50;
        } else if (type == KX_TYPE_PICTURE || type == KX_TYPE_PICTURE2) {
            KXFolderRecord* folder = FindFolder(u"Pic Download");
            if (!folder)
                return 1;
            folder->Clear();
            folder->files.push_back(NewFile(u"Pic1.jpg", 573440, 0x10002, 640, 480));
            folder->files.push_back(NewFile(u"Pic2.bmp", 512000, 0x10001, 640, 400));
            folder->files.push_back(NewFile(u"Pic3.jpg", 133120, 0x10002, 320, 240));
            if (KXFolderRecord* camera = FindFolder(u"Pic Camera")) {
                camera->Clear();
                camera->files.push_back(NewFile(u"Camera1.jpg", 81920, 0x10002, 100, 100));
                KXFolderRecord* child = NewFolder(u"Child Camera 1", 3, 5, 7);
                child->files.push_back(NewFile(u"Camera2.jpg", 40960, 0x10002, 80, 60));
                camera->subfolders.push_back(child);
            }
        } else if (type == KX_TYPE_FILE) {
            EnsureDirectories();
            const struct {
                const char16_t* shown;
                fs::path dir;
            } memories[] = {{u"Phone Memory (C:)", PhoneMemoryDir()}, {u"Memory Card (D:)", MemoryCardDir()}};
            for (const auto& memory : memories) {
                KXFolderRecord* folder = FindFolder(memory.shown);
                if (!folder) {
                    folder = NewFolder(memory.shown, 1, 0, 0);
                    profile_.folders6.push_back(folder);
                }
                folder->Clear();
                size_t budget = 4096;
                if (!memory.dir.empty())
                    MirrorDirectory(memory.dir, folder, 4, &budget);
            }
        } else {
            return 0;
        }
    }
    SendHostMessage(phone_, KX_PROGRESS_ITEM_BEGIN, 0);
    SendHostMessage(phone_, KX_PROGRESS_PERCENT, percent);
    SendHostMessage(phone_, KX_PROGRESS_ITEM_DONE, 0);
    return 1;
}

// --- the phone object's sample-store seams ---

int32_t CKXFakePhone::SampleRead(int32_t type, uintptr_t param) {
    if (type == KX_TYPE_EMAIL)
        return m_SampleStore.ReadMail(reinterpret_cast<const KXChar*>(param), StopFlag);
    return m_SampleStore.ReadItems(reinterpret_cast<const KXSampleItemList*>(param), StopFlag);
}

int32_t CKXFakePhone::SampleWrite(int32_t type, uintptr_t param) {
    if (type == KX_TYPE_EMAIL)
        return m_SampleStore.WriteMail(reinterpret_cast<const KXMailItemList*>(param), StopFlag);
    return m_SampleStore.WriteItems(reinterpret_cast<const KXSampleItemList*>(param), StopFlag);
}

int32_t CKXFakePhone::SampleDelete(int32_t, uintptr_t param) {
    return m_SampleStore.DeleteItems(reinterpret_cast<const KXSampleItemList*>(param), StopFlag);
}

int32_t CKXFakePhone::SampleVerify(int32_t type, uintptr_t param) {
    KXVerifyBlock* block = reinterpret_cast<KXVerifyBlock*>(param);
    if (type == KX_TYPE_EMAIL)
        return m_SampleStore.VerifyMail(block);
    if (type == KX_TYPE_MESSAGE)
        return m_SampleStore.VerifyMessage(block);
    m_SampleStore.VerifyItem(block);
    return KX_OK;
}
