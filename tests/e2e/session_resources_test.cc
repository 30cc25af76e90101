// Sessions against the simulated handset: resources stay flat over many sessions, and picture
// files neither pile up nor outlive the pictures of the store.
#include <kxphone/kxphone.h>

#include <gtest/gtest.h>
#include <json/json.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "driver/app.h"
#include "support/driver_on_sim.h"
#include "support/fake_adb.h"
#include "support/host_window_recorder.h"
#include "support/sim_fixture.h"
#include "support/test_util.h"
#include "transport/text_encoding.h"

namespace {

namespace fs = std::filesystem;

using kxtest::FilesIn;

// Open descriptors once the simulator's side of the last exchanges has closed: the fewest of a
// few looks.
size_t SettledFds() {
    size_t fewest = FilesIn("/proc/self/fd");
    for (int i = 0; i < 10; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        fewest = std::min(fewest, FilesIn("/proc/self/fd"));
    }
    return fewest;
}

// Resident memory of this process, in KB.
long ResidentKb() {
    long pages = 0, resident = 0;
    std::ifstream("/proc/self/statm") >> pages >> resident;
    return resident * 4;
}

class SessionE2E : public kxtest::DriverOnSim {
protected:
    void SetUp() override {
        kxtest::SimOptions options;
        options.contacts = 6;    // two of the showcase contacts have a picture
        Start(options, nullptr); // each session makes its own InitSync
    }
    int32_t Session(bool backup = false) {
        InitSyncParams params{0, host_.window(), sim_->port(), url_.c_str(), u"SER-SESSION"};
        EXPECT_EQ(KX_OK, ::InitSync(0, &params));
        const std::u16string folder = Utf8ToWide(backupDir_.path());
        int32_t result =
            backup ? ::Backup(KX_BACKUP_CONTACT, u"", 0, folder.c_str(), 0, 0) : ::Read(KX_TYPE_CONTACT, 0);
        EXPECT_EQ(KX_OK, ::UninitSync(0, 0));
        return result;
    }
    fs::path pictures() { return fs::path(env_.AppDataDir()) / "Vexo" / "data"; }

    kxtest::TempDir backupDir_;
};

TEST_F(SessionE2E, ManySessionsLeaveNoDescriptorOrThreadBehind) {
    ASSERT_EQ(KX_OK, Session()); // first use builds what lives for the process
    const size_t fds = SettledFds(), threads = FilesIn("/proc/self/task");
    const long rss = ResidentKb();
    for (int i = 0; i < 200; ++i)
        ASSERT_EQ(KX_OK, Session());
    const size_t fdsAfter = SettledFds();
    EXPECT_EQ(fds, fdsAfter);
    EXPECT_EQ(threads, FilesIn("/proc/self/task"));
    std::printf("200 sessions: fds %zu -> %zu, threads %zu -> %zu, RSS %ld KB -> %ld KB\n", fds, fdsAfter,
                threads, FilesIn("/proc/self/task"), rss, ResidentKb());
    EXPECT_EQ(2u, FilesIn(pictures()));
}

TEST_F(SessionE2E, PictureFilesFollowTheStore) {
    // Leftovers of earlier sessions: a picture nobody refers to, and a file that is not ours.
    fs::create_directories(pictures());
    std::ofstream(pictures() / "pic0123456789ab.png") << "old";
    std::ofstream(pictures() / "notes.txt") << "keep";
    fs::last_write_time(pictures() / "pic0123456789ab.png",
                        fs::file_time_type::clock::now() - std::chrono::hours(1));

    struct Step {
        const char* what;
        int sessions;
        const char* newPhoto; // base64 set on contact 1 before the sessions, or null
        bool backup;          // the session backs up instead of reading
        size_t files;         // pictures plus the file that is not ours
    };
    const Step steps[] = {
        {"one read: the store's two pictures; the leftover removed at its end", 1, nullptr, false, 3},
        {"five more reads of the same store reuse the files", 5, nullptr, false, 3},
        {"a backup takes the pictures without touching the host's files", 1, nullptr, true, 3},
        {"a changed picture replaces the old file at the next session's end", 1,
         "iVBORw0KGgoAAAANSUhEUg==", false, 3},
    };
    for (const Step& step : steps) {
        if (step.newPhoto) {
            Json::Value c =
                kxtest::ParseJson(R"({"__id":"1","__data":[{"mimetype":"vnd.android.cursor.item/photo"}]})");
            c["__data"][0]["data15"] = step.newPhoto;
            ASSERT_TRUE(sim_->ModifyContact(c));
        }
        const size_t before = FilesIn(pictures());
        for (int i = 0; i < step.sessions; ++i)
            ASSERT_EQ(KX_OK, Session(step.backup)) << step.what;
        if (step.backup) {
            EXPECT_EQ(before, FilesIn(pictures())) << step.what;
            EXPECT_TRUE(fs::exists(backupDir_.path() + "/people.dat")) << step.what;
        }
        EXPECT_EQ(step.files, FilesIn(pictures())) << step.what;
        EXPECT_FALSE(fs::exists(pictures() / "pic0123456789ab.png")) << step.what;
        EXPECT_TRUE(fs::exists(pictures() / "notes.txt")) << step.what;
    }
}

TEST_F(SessionE2E, WithoutAFullReadNothingIsRemoved) {
    fs::create_directories(pictures());
    std::ofstream(pictures() / "pic0123456789ab.png") << "old";
    fs::last_write_time(pictures() / "pic0123456789ab.png",
                        fs::file_time_type::clock::now() - std::chrono::hours(1));
    sim_->AddFault("status:3:/contact/do/read:9");
    EXPECT_NE(KX_OK, Session());
    EXPECT_TRUE(fs::exists(pictures() / "pic0123456789ab.png"));
}

} // namespace
