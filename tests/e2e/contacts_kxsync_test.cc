// kxsync as a host: the real driver library loaded by path, reading from the simulator.
#include <gtest/gtest.h>
#include <json/json.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "support/paths.h"
#include "support/sim_fixture.h"

namespace {

namespace fs = std::filesystem;

struct CommandRun {
    int exitCode = -1;
    std::vector<std::string> lines; // stdout
};

// Runs a command line through the shell with stdout captured and stderr discarded.
CommandRun RunCommand(const std::string& command) {
    CommandRun run;
    FILE* p = popen((command + " 2>/dev/null").c_str(), "r");
    if (!p)
        return run;
    std::string line;
    char buf[4096];
    while (fgets(buf, sizeof buf, p)) {
        line += buf;
        if (!line.empty() && line.back() == '\n') {
            line.pop_back();
            run.lines.push_back(line);
            line.clear();
        }
    }
    int status = pclose(p);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

class KxsyncContacts : public ::testing::Test {
protected:
    void SetUp() override {
        kxsync_ = kxtest::BinDir() + "/kxsync";
        if (!fs::exists(kxsync_))
            GTEST_SKIP() << "kxsync is not built";
        char pattern[] = "/tmp/kx_kxsync_testXXXXXX";
        home_ = mkdtemp(pattern);
    }
    void TearDown() override {
        std::error_code ec;
        if (!home_.empty())
            fs::remove_all(home_, ec);
    }
    // Pictures the driver receives go to a folder of the test.
    std::string Env() const { return "XDG_DATA_HOME=" + home_ + " "; }

    std::string kxsync_, home_;
};

TEST_F(KxsyncContacts, ReadPrintsEveryContactAsJsonLines) {
    kxtest::SimFixture sim;
    ASSERT_TRUE(sim.ok()) << sim.error();
    Json::Value c(Json::objectValue);
    c["account_name"] = "pcsc";
    const char* rows = R"([{"mimetype":"vnd.android.cursor.item/name","data2":"Ann","data3":"Lee"},
        {"mimetype":"vnd.android.cursor.item/phone_v2","data1":"111","data2":"2"},
        {"mimetype":"vnd.android.cursor.item/phone_v2","data1":"222","data2":"2"},
        {"mimetype":"vnd.android.cursor.item/email_v2","data1":"ann@example.com"}])";
    Json::CharReaderBuilder builder;
    std::string errors;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    ASSERT_TRUE(reader->parse(rows, rows + std::strlen(rows), &c["__data"], &errors));
    std::string id = sim.AddContact(c);
    c["account_name"] = "Google";
    sim.AddContact(c);

    CommandRun run =
        RunCommand(Env() + kxsync_ + " --url " + sim.BaseUrl() + " --serial S1 contacts read --json");
    EXPECT_EQ(0, run.exitCode);
    ASSERT_EQ(1u, run.lines.size());
    Json::Value line;
    ASSERT_TRUE(
        reader->parse(run.lines[0].data(), run.lines[0].data() + run.lines[0].size(), &line, &errors));
    EXPECT_EQ(id, line["id"].asString());
    EXPECT_EQ("Ann", line["fields"]["givenName"].asString());
    EXPECT_EQ("Lee", line["fields"]["familyName"].asString());
    EXPECT_EQ(2u, line["fields"]["mobile"].size());
    EXPECT_EQ("222", line["fields"]["mobile"][1].asString());
    EXPECT_EQ("ann@example.com", line["fields"]["email"].asString());

    CommandRun readable =
        RunCommand(Env() + kxsync_ + " --url " + sim.BaseUrl() + " contacts read --no-progress");
    EXPECT_EQ(0, readable.exitCode);
    ASSERT_EQ(1u, readable.lines.size());
    EXPECT_EQ(id + "  Ann Lee  mobile=111  mobile=222  email=ann@example.com", readable.lines[0]);
}

// Long values are cut for the one-line view on whole characters, never inside one.
TEST_F(KxsyncContacts, ReadableLineCutsLongValuesOnWholeCharacters) {
    kxtest::SimFixture sim;
    ASSERT_TRUE(sim.ok()) << sim.error();
    std::string twoByte, threeByte, fourByte;
    for (int i = 0; i < 25; ++i)
        twoByte += "\u00e9"; // 50 bytes; 18 characters fit in 37
    for (int i = 0; i < 20; ++i)
        threeByte += "\u4e2d"; // 60 bytes; 12 characters fit in 37
    for (int i = 0; i < 13; ++i)
        fourByte += "\U0001F600"; // 52 bytes; 9 characters fit in 37
    Json::Value c(Json::objectValue);
    c["account_name"] = "pcsc";
    Json::Value& rows = c["__data"] = Json::Value(Json::arrayValue);
    Json::Value name, email, nickname, site;
    name["mimetype"] = "vnd.android.cursor.item/name";
    name["data2"] = "Ann";
    email["mimetype"] = "vnd.android.cursor.item/email_v2";
    email["data1"] = twoByte;
    nickname["mimetype"] = "vnd.android.cursor.item/nickname";
    nickname["data1"] = threeByte;
    site["mimetype"] = "vnd.android.cursor.item/website";
    site["data1"] = fourByte;
    for (const Json::Value* row : {&name, &email, &nickname, &site})
        rows.append(*row);
    std::string id = sim.AddContact(c);

    CommandRun run = RunCommand(Env() + kxsync_ + " --url " + sim.BaseUrl() + " contacts read --no-progress");
    EXPECT_EQ(0, run.exitCode);
    ASSERT_EQ(1u, run.lines.size());
    const std::string& line = run.lines[0];
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
    kxtest::SimFixture sim;
    ASSERT_TRUE(sim.ok()) << sim.error();
    ASSERT_TRUE(sim.AddFault("status:-1:/contact/do/changelog"));
    // KXPHONE_ADB names a program that is not there: the readiness check fails quickly.
    CommandRun run = RunCommand(Env() + "KXPHONE_ADB=/nonexistent " + kxsync_ + " --url " + sim.BaseUrl() +
                                " contacts read");
    EXPECT_EQ(1, run.exitCode);
    EXPECT_TRUE(run.lines.empty());
    EXPECT_EQ(2, RunCommand(kxsync_ + " --url nowhere contacts read").exitCode);
    EXPECT_EQ(2, RunCommand(kxsync_ + " contacts write").exitCode);
}

TEST_F(KxsyncContacts, DemoReadsASeededPhone) {
    CommandRun run = RunCommand(Env() + kxsync_ + " demo 40 2");
    EXPECT_EQ(0, run.exitCode);
    std::string text;
    for (const std::string& l : run.lines)
        text += l + "\n";
    int read = -1, skipped = -1;
    for (const std::string& l : run.lines) {
        std::sscanf(l.c_str(), "Contacts read: %d", &read);
        std::sscanf(l.c_str(), "Skipped: %d", &skipped);
    }
    EXPECT_GT(read, 30) << text;
    EXPECT_GE(skipped, 1) << text; // the seeded phone has contacts of other accounts
    EXPECT_EQ(40, read + skipped) << text;
    EXPECT_NE(text.find("Samples:"), std::string::npos) << text;
    // Received pictures went to a scratch folder of the demo, not to the user's.
    EXPECT_NE(text.find("Pictures received:"), std::string::npos) << text;
    EXPECT_FALSE(fs::exists(home_ + "/Vexo"));
}

} // namespace
