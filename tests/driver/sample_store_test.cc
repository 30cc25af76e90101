#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <kxphone/host_blocks.h>

#include "driver/app.h"
#include "sample_store_fixture.h"

namespace {

namespace fs = std::filesystem;

class SampleStoreTest : public kxtest::DriverDirTest {
protected:
    void SetUp() override {
        DriverDirTest::SetUp();
        uintptr_t slot = 0;
        phone().GetProfile(KX_TYPE_PICTURE, reinterpret_cast<uintptr_t>(&slot)); // fresh tree
        host_.Clear();
    }
    CKXFakePhone& phone() { return theApp.m_FakePhone; }
    fs::path PhoneMemory() const { return dir_ / "Phone Memory"; }

    // Items keep their texts here so the host blocks can point at them.
    KXSampleItem* Item(const std::u16string& hostPath, const std::u16string& folder,
                       const std::u16string& device, const std::u16string& name, int32_t size,
                       int32_t format = 0x10002) {
        auto keep = [this](const std::u16string& text) {
            return texts_.emplace_back(std::make_unique<std::u16string>(text))->c_str();
        };
        KXFileRecord* file = nullptr;
        if (!name.empty()) {
            files_.push_back(std::make_unique<KXFileRecord>());
            file = files_.back().get();
            file->name = name;
            file->size = size;
            file->formatId = format;
        }
        items_.push_back(std::make_unique<KXSampleItem>(
            KXSampleItem{0, keep(hostPath), file, 0, keep(folder), 0, keep(device), 0, KX_ITEM_PENDING}));
        return items_.back().get();
    }
    std::u16string Host(const char* name) const { return (dir_ / "host" / name).u16string(); }

    std::vector<std::unique_ptr<std::u16string>> texts_;
    std::vector<std::unique_ptr<KXFileRecord>> files_;
    std::vector<std::unique_ptr<KXSampleItem>> items_;
};

std::vector<std::u16string> FileNames(const KXFolderRecord* folder) {
    std::vector<std::u16string> names;
    for (const KXFileRecord* f : folder->files)
        names.push_back(f->name);
    return names;
}

TEST_F(SampleStoreTest, ReadCopiesAndReportsBytesDone) {
    WriteBytes(PhoneMemory() / "pics" / "a.jpg", 1000, 'a');
    WriteBytes(dir_ / "Memory Card" / "b.jpg", 3000, 'b');
    KXSampleItemList list = {
        Item(Host("1/a.jpg"), u"Pic Download", u"/Phone Memory (C:)/pics/", u"a.jpg", 1000), nullptr,
        Item(Host("2/b.jpg"), u"Pic Download", u"/Memory Card (D:)/", u"b.jpg", 3000)};
    EXPECT_EQ(phone().Read(KX_TYPE_PICTURE, reinterpret_cast<uintptr_t>(&list)), KX_OK);
    EXPECT_EQ(Seq(),
              "0x10004=0 0x10002=25 0x40002=0 0x10003=0 0x10004=0 0x10002=100 0x40002=2 0x10003=0 0x40001=0");
    EXPECT_EQ(fs::file_size(dir_ / "host" / "1" / "a.jpg"), 1000u);
    EXPECT_EQ(fs::file_size(dir_ / "host" / "2" / "b.jpg"), 3000u);
}

TEST_F(SampleStoreTest, NullListsSendOnlyTheFinalMessage) {
    const struct {
        int32_t (CKXFakePhone::*op)(int32_t, uintptr_t);
        uint32_t finished;
    } ops[] = {
        {&CKXFakePhone::Read, 0x40001}, {&CKXFakePhone::Write, 0x40004}, {&CKXFakePhone::Delete, 0x40007}};
    for (const auto& op : ops) {
        host_.Clear();
        EXPECT_EQ((phone().*op.op)(KX_TYPE_FILE, 0), KX_OK);
        EXPECT_EQ(host_.Messages(), (kxtest::Messages{{op.finished, 0}}));
    }
    EXPECT_TRUE(fs::is_directory(PhoneMemory())); // created when missing
    EXPECT_TRUE(fs::is_directory(dir_ / "Memory Card"));
}

TEST_F(SampleStoreTest, StopEndsTheListAfterTheItemsMessages) {
    KXSampleItemList list = {Item(Host("a"), u"", u"/Phone Memory (C:)/", u"a.mid", 10, 0x20001),
                             Item(Host("b"), u"", u"/Phone Memory (C:)/", u"b.mid", 10, 0x20001),
                             Item(Host("c"), u"", u"/Phone Memory (C:)/", u"c.mid", 10, 0x20001)};
    host_.SetHook([&](uint32_t code, intptr_t) {
        if (code == 0x40005)
            phone().StopFlag = true;
    });
    EXPECT_EQ(phone().Write(KX_TYPE_RINGTONE, reinterpret_cast<uintptr_t>(&list)), KX_STOPPED);
    EXPECT_EQ(Seq(), "0x10004=0 0x10002=33 0x40005=0 0x10003=0 0x40006=21");
    EXPECT_FALSE(phone().StopFlag.load()); // Write clears it

    // Delete tests the flag for null entries too.
    host_.Clear();
    host_.SetHook(nullptr);
    phone().StopFlag = true;
    KXSampleItemList nulls = {nullptr, list[0]};
    EXPECT_EQ(phone().Delete(KX_TYPE_RINGTONE, reinterpret_cast<uintptr_t>(&nulls)), KX_STOPPED);
    EXPECT_EQ(Seq(), "0x40009=21");
    phone().StopFlag = false;
}

TEST_F(SampleStoreTest, WriteRegistersInTheFolderFoundWithoutRegardToCase) {
    WriteBytes(dir_ / "host" / "p.jpg", 500);
    KXSampleItem* item = Item(Host("p.jpg"), u"pic DOWNLOAD", u"/Phone Memory (C)/Pictures/", u"p.jpg", 500);
    KXSampleItem* folderItem = Item(Host("made/"), u"", u"", u"", 0);
    KXSampleItemList list = {item, folderItem};
    EXPECT_EQ(phone().Write(KX_TYPE_PICTURE, reinterpret_cast<uintptr_t>(&list)), KX_OK);
    EXPECT_EQ(fs::file_size(PhoneMemory() / "Pictures" / "p.jpg"), 500u);
    EXPECT_EQ(item->flags & KX_ITEM_PENDING, 0u);
    EXPECT_EQ(folderItem->flags & KX_ITEM_PENDING, 0u);
    KXFolderRecord* folder = phone().m_SampleStore.FindFolder(u"PIC download");
    ASSERT_NE(folder, nullptr);
    EXPECT_EQ(folder->name, u"Pic Download");
    EXPECT_EQ(FileNames(folder), (std::vector<std::u16string>{u"p.jpg"}));
    EXPECT_EQ(phone().m_SampleStore.FindFolder(u"ring download")->name, u"Ring Download");
    EXPECT_EQ(phone().m_SampleStore.FindFolder(u"Nowhere"), nullptr);
    EXPECT_EQ(host_.Messages().back(), (kxtest::HostMessage{0x40004, 0}));

    // Delete removes the record by its exact name; the file stays on disk.
    KXSampleItemList wrongCase = {Item(u"", u"Pic Download", u"", u"P.JPG", 500)};
    phone().Delete(KX_TYPE_PICTURE, reinterpret_cast<uintptr_t>(&wrongCase));
    EXPECT_EQ(folder->files.size(), 1u);
    KXSampleItemList exact = {Item(u"", u"Pic Download", u"", u"p.jpg", 500)};
    host_.Clear();
    EXPECT_EQ(phone().Delete(KX_TYPE_PICTURE, reinterpret_cast<uintptr_t>(&exact)), KX_OK);
    EXPECT_TRUE(folder->files.empty());
    EXPECT_TRUE(fs::exists(PhoneMemory() / "Pictures" / "p.jpg"));
    EXPECT_EQ(Seq(), "0x10004=0 0x10002=100 0x40008=0 0x10003=0 0x40007=0");
}

TEST_F(SampleStoreTest, DevicePathsNeverLeaveTheStore) {
    WriteBytes(dir_ / "secret.txt", 10, 's');
    WriteBytes(dir_ / "host" / "up.jpg", 10, 'u');
    const struct {
        const char16_t* device;
        const char16_t* name;
    } reads[] = {{u"/Phone Memory (C:)/../", u"secret.txt"},
                 {u"/Phone Memory (C:)/x/../../", u"secret.txt"},
                 {u"/Memory Card (D:)/", u"../secret.txt"},
                 {u"/Memory Card (D:)/", u"..\\secret.txt"},
                 {u"/tmp/", u"secret.txt"},
                 {u"", u"secret.txt"}};
    KXSampleItemList list;
    for (size_t i = 0; i < std::size(reads); ++i)
        list.push_back(
            Item(Host(("r" + std::to_string(i)).c_str()), u"", reads[i].device, reads[i].name, 10));
    EXPECT_EQ(phone().Read(KX_TYPE_FILE, reinterpret_cast<uintptr_t>(&list)), KX_OK);
    for (size_t i = 0; i < std::size(reads); ++i)
        EXPECT_FALSE(fs::exists(dir_ / "host" / ("r" + std::to_string(i)))) << i;
    // Counted as done like a failed copy.
    EXPECT_EQ(Got()[Got().size() - 4], (kxtest::HostMessage{0x10002, 100}));
    EXPECT_NE(Trace().find("[Action=Error],[Function=Device path outside the store: /tmp/secret.txt]"),
              std::string::npos);

    KXSampleItem* up = Item(Host("up.jpg"), u"Pic Download", u"/Phone Memory (C)/../", u"up.jpg", 10);
    KXSampleItemList writes = {up};
    host_.Clear();
    EXPECT_EQ(Write(KX_TYPE_PICTURE, reinterpret_cast<uintptr_t>(&writes)),
              KX_OTHER_FAILURE); // a failed write
    EXPECT_FALSE(fs::exists(dir_ / "up.jpg"));
    EXPECT_NE(up->flags & KX_ITEM_PENDING, 0u); // not written
    EXPECT_TRUE(phone().m_SampleStore.FindFolder(u"Pic Download")->files.empty());
    EXPECT_EQ(Seq(), "0x10004=0 0x10002=100 0x40005=0 0x10003=0 0x40006=0");

    // Inside the store, "." parts and doubled slashes are harmless.
    auto inside = phone().m_SampleStore.DeviceFile(u"/Phone Memory (C:)/./a//b/", u"c.jpg", true);
    ASSERT_TRUE(inside.has_value());
    EXPECT_EQ(*inside, PhoneMemory() / "a" / "b" / "c.jpg");
}

TEST_F(SampleStoreTest, BrokenTextsAreMendedNotThrownOn) {
    WriteBytes(PhoneMemory() / "ok.mid", 10);
    std::u16string host = (dir_ / "host").u16string() + u"/\xD800.mid";
    KXSampleItemList list = {Item(host, u"", u"/Phone Memory (C:)/", u"ok.mid", 10),
                             Item(Host("x"), u"", u"/Phone Memory (C:)/", u"\xDC00.mid", 10)};
    EXPECT_EQ(phone().Read(KX_TYPE_RINGTONE, reinterpret_cast<uintptr_t>(&list)), KX_OK);
    EXPECT_TRUE(fs::exists(dir_ / "host" / "\xEF\xBF\xBD.mid")); // U+FFFD
    EXPECT_EQ(Got().back(), (kxtest::HostMessage{0x40001, 0}));
}

TEST_F(SampleStoreTest, FolderItemsOnlyAreCompleteAtOnce) {
    KXSampleItemList list = {Item(Host("d1/"), u"", u"", u"", 0)};
    EXPECT_EQ(phone().Read(KX_TYPE_FILE, reinterpret_cast<uintptr_t>(&list)), KX_OK);
    EXPECT_EQ(Seq(), "0x10004=0 0x10002=100 0x40002=0 0x10003=0 0x40001=0");
    EXPECT_TRUE(fs::is_directory(dir_ / "host" / "d1"));
}

TEST_F(SampleStoreTest, VerifyPictures) {
    const struct {
        int32_t format, width, height, size;
        const char16_t* folder;
        int32_t code, maxSize, maxWidth;
        int32_t limitFormat; // the format the limits belong to, not the file's
    } cases[] = {
        {0x10001, 600, 400, 600000, u"Pic Download", KX_VERIFY_BYTES, 512000, 640, 0x10001},
        {0x10001, 600, 400, 600000, u"Pic Camera", KX_VERIFY_PICTURE, 102400, 100, 0x10001},
        {0x10003, 10, 10, 10, u"Pic Download", KX_VERIFY_FORMAT, 51200, 170, 0x10002},
        {0x10003, 10, 10, 99999999, u"Pic Download", KX_VERIFY_FORMAT, 51200, 170, 0x10002},
        {0x10002, 170, 220, 51200, u"Pic Download", KX_VERIFY_FITS, 51200, 170, 0x10002},
        {0x10002, 171, 10, 10, u"Pic Download", KX_VERIFY_PICTURE, 51200, 170, 0x10002},
    };
    for (const auto& c : cases) {
        KXSampleItem* item = Item(u"", c.folder, u"", u"x", c.size, c.format);
        item->file->width = c.width;
        item->file->height = c.height;
        KXVerifyBlock block{0, 1, item, nullptr};
        EXPECT_EQ(phone().Verify(KX_TYPE_PICTURE, reinterpret_cast<uintptr_t>(&block)), KX_OK);
        ASSERT_NE(block.answer, nullptr);
        EXPECT_EQ(block.answer->code, c.code) << c.format << " " << c.size;
        EXPECT_EQ(block.answer->maxSize, c.maxSize);
        EXPECT_EQ(block.answer->maxWidth, c.maxWidth);
        EXPECT_EQ(block.answer->formatId, c.limitFormat);
    }
    KXVerifyBlock nothing{0, 2, nullptr, nullptr};
    EXPECT_EQ(phone().Verify(KX_TYPE_FILE, reinterpret_cast<uintptr_t>(&nothing)), KX_OK);
    ASSERT_NE(nothing.answer, nullptr);
    EXPECT_EQ(nothing.answer->code, 0);
    EXPECT_EQ(nothing.answer->maxSize, 0);
    EXPECT_EQ(phone().Verify(KX_TYPE_FILE, 0), KX_OK);
}

TEST_F(SampleStoreTest, ListingsRefillFoldersAndReport) {
    const struct {
        uint32_t type;
        intptr_t percent;
        const char16_t* folder;
        std::vector<std::u16string> files;
    } cases[] = {{4, 50, u"Ring Download", {u"Ring1.mid", u"Ring2.mmf", u"Ring3.mp3"}},
                 {5, 100, u"Pic Download", {u"Pic1.jpg", u"Pic2.bmp", u"Pic3.jpg"}},
                 {11, 100, u"Pic Download", {u"Pic1.jpg", u"Pic2.bmp", u"Pic3.jpg"}}};
    for (const auto& c : cases) {
        host_.Clear();
        uint32_t request[3] = {0, 2, c.type};
        EXPECT_EQ(phone().Inquire(KX_TYPE_RINGTONE, reinterpret_cast<uintptr_t>(request)), KX_OK);
        EXPECT_EQ(Seq(), "0x10004=0 0x10002=" + std::to_string(c.percent) + " 0x10003=0 0x4000A=0");
        EXPECT_EQ(FileNames(phone().m_SampleStore.FindFolder(c.folder)), c.files);
    }
    EXPECT_EQ(phone().m_SampleStore.FindFolder(u"Ring Download")->files[1]->size, 16384);
    EXPECT_EQ(phone().m_SampleStore.FindFolder(u"Ring Download")->files[1]->formatId, 0x20005);

    host_.Clear();
    uint32_t wrongMagic[3] = {0, 3, 4};
    EXPECT_EQ(phone().Inquire(KX_TYPE_PICTURE, reinterpret_cast<uintptr_t>(wrongMagic)), KX_OK);
    EXPECT_EQ(phone().Inquire(KX_TYPE_PICTURE, 0), KX_OK);
    EXPECT_TRUE(host_.Messages().empty());
    uint32_t unknown[3] = {0, 2, 7};
    EXPECT_EQ(phone().Inquire(KX_TYPE_FILE, reinterpret_cast<uintptr_t>(unknown)), KX_OK);
    EXPECT_EQ(Seq(), "0x4000B=0");
}

TEST_F(SampleStoreTest, MemoryListingMirrorsTheStoreDirectories) {
    WriteBytes(PhoneMemory() / "song.MP3", 1234);
    WriteBytes(dir_ / "Memory Card" / "DCIM" / "p.jpg", 77);
    uint32_t request[3] = {0, 2, 13};
    EXPECT_EQ(phone().Inquire(KX_TYPE_FILE, reinterpret_cast<uintptr_t>(request)), KX_OK);
    EXPECT_EQ(Seq(), "0x10004=0 0x10002=100 0x10003=0 0x4000A=0");
    KXFolderRecord* phoneMemory = phone().m_SampleStore.FindFolder(u"Phone Memory (C:)");
    ASSERT_NE(phoneMemory, nullptr);
    ASSERT_EQ(phoneMemory->files.size(), 1u);
    EXPECT_EQ(phoneMemory->files[0]->size, 1234);
    EXPECT_EQ(phoneMemory->files[0]->formatId, 0x20003);
    KXFolderRecord* card = phone().m_SampleStore.FindFolder(u"memory card (d:)");
    ASSERT_NE(card, nullptr);
    ASSERT_EQ(card->subfolders.size(), 1u);
    EXPECT_EQ(FileNames(card->subfolders[0]), (std::vector<std::u16string>{u"p.jpg"}));
    // Listing again does not duplicate.
    phone().Inquire(KX_TYPE_FILE, reinterpret_cast<uintptr_t>(request));
    EXPECT_EQ(phone().m_SampleStore.FindFolder(u"Phone Memory (C:)")->files.size(), 1u);
}

// --- mailbox (type 14) and message verifier (type 3) ---

TEST_F(SampleStoreTest, MailReadAndWriteSequences) {
    std::vector<std::u16string> subjects;
    host_.SetHook([&](uint32_t code, intptr_t value) {
        if (code == 0xE0001)
            subjects.push_back(reinterpret_cast<const KXMailItem*>(value)->subject);
    });
    EXPECT_EQ(phone().Read(KX_TYPE_EMAIL, reinterpret_cast<uintptr_t>(u"inbox")), KX_OK);
    ASSERT_EQ(Got().size(), 9u);
    EXPECT_EQ(host_.Codes(), (std::vector<uint32_t>{0x10004, 0xE0001, 0x10002, 0x10003, 0x10004, 0xE0001,
                                                    0x10002, 0x10003, 0xE0003}));
    EXPECT_EQ(host_.ValuesOf(0x10002), (std::vector<intptr_t>{50, 100}));
    EXPECT_EQ(subjects, (std::vector<std::u16string>{u"Lunch", u"Weekly news"}));

    host_.Clear();
    EXPECT_EQ(phone().Read(KX_TYPE_EMAIL, reinterpret_cast<uintptr_t>(u"Nowhere")), KX_FAILED);
    EXPECT_EQ(Seq(), "0xE0002=0");

    KXMailItem mail;
    mail.folder = u"Sub Box2";
    mail.subject = u"Filed";
    KXMailItem lost;
    lost.folder = u"Nowhere";
    KXMailItemList list = {&mail, &lost, &mail};
    host_.Clear();
    size_t before = phone().m_SampleStore.MailCount();
    EXPECT_EQ(phone().Write(KX_TYPE_EMAIL, reinterpret_cast<uintptr_t>(&list)), KX_WRITE_REFUSED);
    EXPECT_EQ(Seq(), "0x10004=0 0xE0004=" + std::to_string(reinterpret_cast<intptr_t>(&mail)) +
                         " 0x10002=33 0x10003=0 0xE0005=12");
    EXPECT_EQ(phone().m_SampleStore.MailCount(), before + 1);

    // A stop after the first item.
    KXMailItemList two = {&mail, &mail};
    host_.Clear();
    host_.SetHook([&](uint32_t code, intptr_t) {
        if (code == 0xE0004)
            phone().StopFlag = true;
    });
    EXPECT_EQ(phone().Write(KX_TYPE_EMAIL, reinterpret_cast<uintptr_t>(&two)), KX_STOPPED);
    EXPECT_EQ(host_.Messages().back(), (kxtest::HostMessage{0xE0005, KX_STOPPED}));

    KXVerifyBlock block{0, 1, &mail, nullptr};
    EXPECT_EQ(phone().Verify(KX_TYPE_EMAIL, reinterpret_cast<uintptr_t>(&block)), KX_OK);
    block.item = &lost;
    EXPECT_EQ(phone().Verify(KX_TYPE_EMAIL, reinterpret_cast<uintptr_t>(&block)), 1);
    EXPECT_EQ(phone().Verify(KX_TYPE_EMAIL, 0), 2);

    KXMessageItem sms;
    sms.folder = u"Outbox";
    KXVerifyBlock smsBlock{0, 1, &sms, nullptr};
    EXPECT_EQ(phone().Verify(KX_TYPE_MESSAGE, reinterpret_cast<uintptr_t>(&smsBlock)), KX_OK);
    sms.folder = u"Sent";
    EXPECT_EQ(phone().Verify(KX_TYPE_MESSAGE, reinterpret_cast<uintptr_t>(&smsBlock)), 1);
}

} // namespace
