// kxsync as a host: the real driver library loaded by path, reading from the simulator.
#include <gtest/gtest.h>
#include <json/json.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "support/paths.h"
#include "support/sim_fixture.h"
#include "support/test_util.h"

namespace {

namespace fs = std::filesystem;
using kxtest::CommandRun;

class KxsyncContacts : public ::testing::Test {
protected:
    void SetUp() override {
        if (!fs::exists(kxsync_))
            GTEST_SKIP() << "kxsync is not built";
        ASSERT_TRUE(sim_.ok()) << sim_.error();
    }
    // Pictures the driver receives go to a folder of the test; stderr is dropped.
    CommandRun Run(const std::string& arguments, const std::string& env = "") {
        return kxtest::RunCommand("XDG_DATA_HOME=" + home_.path() + " " + env + kxsync_ + " " + arguments +
                                  " 2>/dev/null");
    }
    std::string AddContact(const std::string& rows, const char* account = "pcsc") {
        Json::Value c(Json::objectValue);
        c["account_name"] = account;
        c["__data"] = kxtest::ParseJson(rows);
        return sim_.AddContact(c);
    }

    std::string kxsync_ = kxtest::BinDir() + "/kxsync";
    kxtest::TempDir home_{"kx_kxsync_test"};
    kxtest::SimFixture sim_;
};

#define MT "\"mimetype\":\"vnd.android.cursor.item/"

TEST_F(KxsyncContacts, ReadPrintsEveryContactAsJsonLines) {
    const std::string rows = "[{" MT "name\",\"data2\":\"Ann\",\"data3\":\"Lee\"},"
                             "{" MT "phone_v2\",\"data1\":\"111\",\"data2\":\"2\"},"
                             "{" MT "phone_v2\",\"data1\":\"222\",\"data2\":\"2\"},"
                             "{" MT "email_v2\",\"data1\":\"ann@example.com\"}]";
    std::string id = AddContact(rows);
    AddContact(rows, "Google");

    CommandRun run = Run("--url " + sim_.BaseUrl() + " --serial S1 contacts read --json");
    EXPECT_EQ(0, run.exitCode);
    ASSERT_EQ(1u, run.Lines().size()) << run.output;
    Json::Value line = kxtest::ParseJson(run.Lines()[0]);
    EXPECT_EQ(id, line["id"].asString());
    EXPECT_EQ(kxtest::ParseJson(R"({"givenName":"Ann","familyName":"Lee","mobile":["111","222"],
        "email":"ann@example.com"})"),
              line["fields"]);

    CommandRun readable = Run("--url " + sim_.BaseUrl() + " contacts read --no-progress");
    EXPECT_EQ(0, readable.exitCode);
    EXPECT_EQ(id + "  Ann Lee  mobile=111  mobile=222  email=ann@example.com\n", readable.output);
}

// Long values are cut for the one-line view on whole characters, never inside one.
TEST_F(KxsyncContacts, ReadableLineCutsLongValuesOnWholeCharacters) {
    std::string twoByte, threeByte, fourByte;
    for (int i = 0; i < 25; ++i)
        twoByte += "\u00e9"; // 50 bytes; 18 characters fit in 37
    for (int i = 0; i < 20; ++i)
        threeByte += "\u4e2d"; // 60 bytes; 12 characters fit in 37
    for (int i = 0; i < 13; ++i)
        fourByte += "\U0001F600"; // 52 bytes; 9 characters fit in 37
    std::string id = AddContact("[{" MT "name\",\"data2\":\"Ann\"},{" MT "email_v2\",\"data1\":\"" + twoByte +
                                "\"},{" MT "nickname\",\"data1\":\"" + threeByte +
                                "\"},{" MT "website\",\"data1\":\"" + fourByte + "\"}]");

    CommandRun run = Run("--url " + sim_.BaseUrl() + " contacts read --no-progress");
    EXPECT_EQ(0, run.exitCode);
    ASSERT_EQ(1u, run.Lines().size());
    const std::string line = run.Lines()[0];
    const struct {
        const char* field;
        std::string value;
    } cut[] = {
        {"email=", twoByte.substr(0, 18 * 2) + "..."},
        {"nickname=", threeByte.substr(0, 12 * 3) + "..."},
        {"webSite=", fourByte.substr(0, 9 * 4) + "..."},
    };
    for (const auto& c : cut)
        EXPECT_NE(std::string::npos, line.find(std::string(c.field) + c.value)) << c.field << " in " << line;
    EXPECT_EQ(0u, line.find(id + "  Ann  ")) << line;
}

TEST_F(KxsyncContacts, FailedReadAndBadUsageExitNonZero) {
    ASSERT_TRUE(sim_.AddFault("status:-1:/contact/do/changelog"));
    // KXPHONE_ADB names a program that is not there: the readiness check fails quickly.
    CommandRun run = Run("--url " + sim_.BaseUrl() + " contacts read", "KXPHONE_ADB=/nonexistent ");
    EXPECT_EQ(1, run.exitCode);
    EXPECT_TRUE(run.output.empty());
    EXPECT_EQ(2, Run("--url nowhere contacts read").exitCode);
    EXPECT_EQ(2, Run("contacts write").exitCode);
}

TEST_F(KxsyncContacts, DemoReadsASeededPhone) {
    CommandRun run = Run("demo 40 2");
    EXPECT_EQ(0, run.exitCode);
    const std::string& text = run.output;
    int read = -1, skipped = -1;
    for (const std::string& l : run.Lines()) {
        std::sscanf(l.c_str(), "Contacts read: %d", &read);
        std::sscanf(l.c_str(), "Skipped: %d", &skipped);
    }
    EXPECT_GT(read, 30) << text;
    EXPECT_GE(skipped, 1) << text; // the seeded phone has contacts of other accounts
    EXPECT_EQ(40, read + skipped) << text;
    EXPECT_NE(text.find("Samples:"), std::string::npos) << text;
    // Received pictures went to a scratch folder of the demo, not to the user's.
    EXPECT_NE(text.find("Pictures received:"), std::string::npos) << text;
    EXPECT_FALSE(fs::exists(home_.path() + "/Vexo"));
}

} // namespace
