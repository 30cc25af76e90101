// The contact reader against a scripted service: answers the simulator never gives.
#include <kxphone/kxphone.h>

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "contacts/contact_groups.h"
#include "driver/app.h"
#include "support/driver_on_sim.h"
#include "support/fake_adb.h"
#include "support/host_window_recorder.h"
#include "support/scripted_peer.h"
#include "support/test_util.h"
#include "support/trace_capture.h"
#include "transport/payload_cipher.h"

namespace {

using kxtest::HostMessage;

std::string Path(const std::string& request) {
    std::string line = kxtest::RequestLine(request);
    size_t a = line.find(' '), b = line.find(' ', a + 1);
    return line.substr(a + 1, b - a - 1);
}

std::string Deciphered(const std::string& request) {
    std::string body = kxtest::RequestBody(request);
    return DecryptPayload(body.data(), body.size()).c_str();
}

// Answers by path with enciphered documents; "/session_ctrl" always succeeds.
class ScriptedService {
public:
    ScriptedService(const ScriptedService&) = delete;
    explicit ScriptedService(std::map<std::string, std::string> answers)
        : answers_(std::move(answers)), peer_([this](int, const std::string& request) {
              std::string path = Path(request);
              auto it = answers_.find(path);
              std::string doc = it != answers_.end() ? it->second : std::string("{\"status\":0}");
              return kxtest::PeerScript{
                  kxtest::PeerAction::Send(kxtest::HttpAnswer(EncryptPayload(doc.c_str())))};
          }) {}

    std::u16string Url() const {
        std::string url = "http://127.0.0.1:" + std::to_string(peer_.Port());
        return std::u16string(url.begin(), url.end());
    }
    // Deciphered bodies of the requests to path.
    std::vector<std::string> Bodies(const std::string& path) const {
        std::vector<std::string> out;
        for (const std::string& r : peer_.Requests())
            if (Path(r) == path)
                out.push_back(Deciphered(r));
        return out;
    }

private:
    std::map<std::string, std::string> answers_;
    kxtest::ScriptedPeer peer_;
};

class ContactReadScripted : public ::testing::Test {
protected:
    void Use(ScriptedService& service) {
        url_ = service.Url();
        InitSyncParams params{0, host_.window(), 5555, url_.c_str(), u"S"};
        ASSERT_EQ(KX_OK, theApp.m_FakePhone.InitSync(0, &params));
        theApp.SetTiming(kxtest::TestTiming(1));
        theApp.m_FakePhone.m_ContactGroups.Clear();
    }
    void TearDown() override { kxtest::ResetDriver(); }

    kxtest::FakeAdb adb_;
    kxtest::HostWindowRecorder host_;
    std::u16string url_;
};

const char kContacts[] = R"({"status":0,"objects":[
    {"__id":"1","account_name":"pcsc","__data":[{"mimetype":"vnd.android.cursor.item/name","data2":"A"}]},
    7,
    {"__id":"2","account_name":"pcsc"},
    {"__id":"3","account_name":"pcsc"}]})";

TEST_F(ContactReadScripted, ChangeLogEntriesThatAreNotObjectsAreSkippedButCounted) {
    ScriptedService service({{"/contact/do/changelog",
                              R"({"status":0,"objects":[{"__id":"1"},5,null,{"__id":2},"x",{"__id":"3"}]})"},
                             {"/contact/do/read", kContacts}});
    Use(service);
    EXPECT_EQ(KX_OK, ::Read(KX_TYPE_CONTACT, 0));
    EXPECT_EQ(
        (std::vector<std::string>{R"({"objects":[{"__id":"1"},{"__id":""},{"__id":"2"},{"__id":"3"}]})"}),
        service.Bodies("/contact/do/read"));
    EXPECT_EQ(3u, host_.Count(0x20001));
    EXPECT_EQ((std::vector<intptr_t>{16, 33, 50}), host_.ValuesOf(KX_PROGRESS_PERCENT));
    EXPECT_EQ(0x20003u, host_.Codes().back());
}

// Every answer to the id list and to the batch: the result, the contacts handed over and the one
// traced failure. An id list without "objects" is a phone without contacts; a batch without it
// means the asked-for contacts are gone from the handset. Anything else in their place is a broken
// answer, and the read must not report success without them.
TEST_F(ContactReadScripted, ChangeLogAndBatchAnswers) {
    const char kTwo[] = R"({"status":0,"objects":[{"__id":"1"},{"__id":"2"}]})";
    struct Case {
        const char* changeLog;
        const char* batch; // null: no batch may be asked for
        int32_t result;
        size_t delivered;
        const char* error; // the traced text, if any
        size_t errorLines;
    };
    const char *kNoIds = "contact change log has no id list", *kLogFailed = "contact change log failed",
               *kNoList = "contact read answer has no contact list",
               *kNotJson = "contact read answer is not valid JSON";
    const Case cases[] = {
        {R"({"status":0})", nullptr, KX_OK, 0, nullptr, 0},
        {R"({"status":0,"objects":[]})", nullptr, KX_OK, 0, nullptr, 0},
        {R"({"status":0,"objects":{"__id":"1"}})", nullptr, KX_OTHER_FAILURE, 0, kNoIds, 1},
        {R"({"status":0,"objects":"1,2"})", nullptr, KX_OTHER_FAILURE, 0, kNoIds, 1},
        {R"({"status":7,"objects":[]})", nullptr, KX_OTHER_FAILURE, 0, kLogFailed, 1},
        {R"(not json at all)", nullptr, KX_OTHER_FAILURE, 0, kLogFailed, 1},
        {R"([1,2,3])", nullptr, KX_OTHER_FAILURE, 0, kLogFailed, 1},
        {kTwo, R"({"status":0})", KX_OK, 0, nullptr, 0},
        {kTwo, R"({"status":0,"objects":[]})", KX_OK, 0, nullptr, 0},
        {kTwo,
         R"({"status":0,"objects":[{"__id":"1","account_name":"pcsc"},[],"x",{"__id":"2","account_name":"pcsc"}]})",
         KX_OK, 2, "contact entry is not an object", 2},
        {kTwo, R"({"status":0,"objects":"none"})", KX_OTHER_FAILURE, 0, kNoList, 1},
        {kTwo, R"({"status":0,"objects":{"__id":"1","account_name":"pcsc"}})", KX_OTHER_FAILURE, 0, kNoList,
         1},
        {kTwo, R"({"status":0,"objects":5})", KX_OTHER_FAILURE, 0, kNoList, 1},
        {kTwo, R"({"status":"x","objects":[]})", KX_OTHER_FAILURE, 0, kNotJson, 1},
        {kTwo, R"({"status":7,"objects":[]})", KX_OTHER_FAILURE, 0, "contact read request failed", 1},
        {kTwo, R"({"status":0,"objects":[)", KX_OTHER_FAILURE, 0, kNotJson, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.changeLog) + " " + (c.batch ? c.batch : ""));
        ScriptedService service(std::map<std::string, std::string>{
            {"/contact/do/changelog", c.changeLog}, {"/contact/do/read", c.batch ? c.batch : "{}"}});
        Use(service);
        host_.Clear();
        kxtest::TraceCapture trace;
        EXPECT_EQ(c.result, ::Read(KX_TYPE_CONTACT, 0));
        std::vector<std::string> errors =
            trace.LinesWith({"[Caller=CKXFakePhone::ReadContact],[Action=Error]"});
        ASSERT_EQ(c.errorLines, errors.size()) << trace.Text();
        for (const std::string& line : errors)
            EXPECT_NE(std::string::npos, line.find("[Function=" + std::string(c.error) + "]")) << line;
        EXPECT_EQ(c.batch == nullptr, service.Bodies("/contact/do/read").empty());
        EXPECT_EQ(c.delivered, host_.Count(0x20001));
        EXPECT_EQ((HostMessage{c.result == KX_OK ? 0x20003u : 0x20002u, c.result}), host_.Messages().back());
        if (c.delivered == 0) {
            EXPECT_EQ(1u, host_.Messages().size());
        }
    }
}

// The change-log read sends messages only; deletions arrive as bare records, and a log of
// nothing else asks for no contact. (Edits made on the simulated handset arriving once and not
// after the clear: the kxsync mirror suite.)
TEST_F(ContactReadScripted, ChangeLogReadMarksAndDeletions) {
    struct Case {
        const char* log;
        std::vector<std::string> reads;
        std::vector<int32_t> flags; // of the records, in message order
    };
    const Case cases[] = {
        {R"([{"__id":"4","_delete":"1"},{"__id":"5","_delete":"1"}])", {}, {0x20, 0x20}},
        {R"([{"__id":"1","_add":"1","_modify":"1"},{"__id":"9","_delete":"1"},{"__id":"2","_modify":"1"},
            {"__id":"3","_add":"1"}])",
         {R"({"objects":[{"__id":"1"},{"__id":"2"},{"__id":"3"}]})"},
         {0x20, 0x08, 0x04, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.log);
        ScriptedService service(
            {{"/tracking/do/changelog", std::string(R"({"status":0,"objects":)") + c.log + "}"},
             {"/contact/do/read", kContacts}});
        Use(service);
        host_.Clear();
        std::vector<int32_t> flags;
        host_.SetHook([&](uint32_t code, intptr_t value) {
            auto r = reinterpret_cast<const ContactRecord*>(value);
            if (code == 0x20001)
                flags.push_back(r->lFlag);
            // A deletion is a bare record: its id and nothing else.
            if (code == 0x20001 && r->lFlag == KX_RECORD_DELETE) {
                EXPECT_EQ(0, r->GetFieldCount());
                EXPECT_EQ(1, r->dtLocation);
                EXPECT_EQ(std::to_string(r->lPhoneMemory),
                          std::string(r->strPIMID.begin(), r->strPIMID.end()));
            }
        });
        EXPECT_EQ(KX_OK, ::Read(KX_TYPE_CONTACT, KX_READ_CHANGE_LOG));
        host_.SetHook(nullptr);
        EXPECT_EQ((std::vector<std::string>{R"({"contact":1})"}), service.Bodies("/tracking/do/changelog"));
        EXPECT_EQ(c.reads, service.Bodies("/contact/do/read"));
        EXPECT_EQ(c.flags, flags);
        EXPECT_EQ(0x20003u, host_.Codes().back());
        if (c.reads.empty()) {
            EXPECT_EQ(3u, host_.Messages().size());
        }
        // The log is as the read left it: the clear goes through.
        EXPECT_EQ(KX_OK, theApp.m_FakePhone.CleanChangeLog(KX_TYPE_CONTACT, 0));
        EXPECT_EQ((std::vector<std::string>{R"({"contact":"1"})"}), service.Bodies("/tracking/do/update"));
    }
}

} // namespace
