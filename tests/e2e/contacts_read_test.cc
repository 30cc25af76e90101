// The full contact read against the simulated handset service on loopback, with a fake bridge.
#include <kxphone/contact_record.h>
#include <kxphone/kxphone.h>

#include <gtest/gtest.h>
#include <json/json.h>

#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "driver/app.h"
#include "support/driver_on_sim.h"
#include "support/fake_adb.h"
#include "support/host_window_recorder.h"
#include "support/sim_fixture.h"
#include "support/test_util.h"
#include "support/trace_capture.h"
#include "transport/text_encoding.h"

namespace {

using kxtest::HostMessage;

constexpr uint32_t kRecordRead = 0x20001;
constexpr uint32_t kReadFailed = 0x20002;
constexpr uint32_t kReadFinished = 0x20003;

class ContactsReadE2E : public kxtest::DriverOnSim {
protected:
    void AddContacts(int n) {
        for (int i = 0; i < n; ++i)
            ASSERT_FALSE(sim_->AddContact(kxtest::NamedContact("Person " + std::to_string(i))).empty());
    }

    // Through the exported function, as a host calls it.
    int32_t ReadAll() { return ::Read(KX_TYPE_CONTACT, 0); }

    // Number of ids asked for by each "/contact/do/read" request, in order.
    std::vector<size_t> ReadBatches() { return sim_->ObjectCounts("/contact/do/read"); }

    std::vector<HostMessage> Finals() {
        std::vector<HostMessage> out;
        for (const HostMessage& m : host_.Messages())
            if (m.code == kReadFinished || m.code == kReadFailed)
                out.push_back(m);
        return out;
    }
};

TEST_F(ContactsReadE2E, ReadsInBatchesOfFifty) {
    kxtest::TraceCapture trace;
    Start();
    AddContacts(120);
    EXPECT_EQ(KX_OK, ReadAll());
    std::vector<std::string> banners;
    for (const std::string& line : trace.LinesWith({"[Caller=CKXFakePhone::ReadContact],[Action=Info]"})) {
        size_t at = line.find("[Function=");
        banners.push_back(line.substr(at + 10, line.find("],[Time=") - at - 10));
    }
    EXPECT_EQ((std::vector<std::string>{" #################### Read People:50 /120 #################### ",
                                        " #################### Read People:100 /120 #################### ",
                                        " #################### Read People:120 /120 #################### "}),
              banners);
    EXPECT_EQ((std::vector<size_t>{50, 50, 20}), ReadBatches());
    EXPECT_EQ(120u, host_.Count(kRecordRead));
    std::vector<intptr_t> percents = host_.ValuesOf(KX_PROGRESS_PERCENT);
    ASSERT_EQ(120u, percents.size());
    EXPECT_EQ(100, percents.back());
    EXPECT_EQ(0, percents.front()); // 1 * 100 / 120
    EXPECT_EQ((std::vector<HostMessage>{{kReadFinished, 0}}), Finals());
    EXPECT_TRUE(sim_->journal().UnconfirmedSessions().empty());
}

TEST_F(ContactsReadE2E, SmallBatchesForProduct3574) {
    Start();
    AddContacts(25);
    theApp.m_FakePhone.ProductId = 3574;
    EXPECT_EQ(KX_OK, ReadAll());
    EXPECT_EQ((std::vector<size_t>{10, 10, 5}), ReadBatches());
}

TEST_F(ContactsReadE2E, MessagesAndCallbacksOfAThreeContactRead) {
    Start();
    AddContacts(3);
    std::vector<std::string> names;
    host_.SetHook([&](uint32_t code, intptr_t value) {
        if (code == kRecordRead) {
            // The record is valid while the message is handled.
            const ContactRecord* r = reinterpret_cast<const ContactRecord*>(value);
            names.push_back(WideToUtf8(r->GetField(0)->strData));
            EXPECT_EQ(1, r->dtLocation);
            EXPECT_EQ(r->lPhoneMemory, std::atoi(WideToUtf8(r->strPIMID).c_str()));
        }
    });
    host_.RecordCallbacks();
    EXPECT_EQ(KX_OK, ReadAll());

    // Each record's callback, then its message; the progress callback, then its messages.
    const std::vector<HostMessage> events = host_.Messages();
    ASSERT_EQ(16u, events.size()) << kxtest::HostWindowRecorder::Describe(events);
    std::vector<HostMessage> expected;
    const int percents[] = {33, 66, 100};
    for (int i = 0; i < 3; ++i) {
        intptr_t record = events[i * 5].value;
        EXPECT_NE(0, record);
        expected.insert(expected.end(), {{kxtest::HostWindowRecorder::kRecordCallback ^ kRecordRead, record},
                                         {kRecordRead, record},
                                         {kxtest::HostWindowRecorder::kProgressCallback, percents[i]},
                                         {KX_PROGRESS_PERCENT, percents[i]},
                                         {KX_PROGRESS_ITEM_DONE, 0}});
    }
    expected.push_back({kReadFinished, 0});
    EXPECT_EQ(expected, events);
    EXPECT_EQ((std::vector<std::string>{"Person 0", "Person 1", "Person 2"}), names);
}

TEST_F(ContactsReadE2E, StopBetweenBatchesGives21) {
    Start();
    AddContacts(120);
    host_.SetHook([&](uint32_t code, intptr_t) {
        if (code == kRecordRead && host_.Count(kRecordRead) == 49) // the 50th, while it is handled
            ::Stop(KX_TYPE_CONTACT, 0);
    });
    EXPECT_EQ(KX_STOPPED, ReadAll());
    EXPECT_EQ((std::vector<size_t>{50}), ReadBatches());
    EXPECT_EQ(50u, host_.Count(kRecordRead));
    EXPECT_EQ((std::vector<HostMessage>{{kReadFailed, KX_STOPPED}}), Finals());
    EXPECT_TRUE(adb_.Calls().empty()); // a stop is no reason to check the handset
    // The stop does not outlive the read.
    host_.SetHook(nullptr);
    host_.Clear();
    EXPECT_EQ(KX_OK, ReadAll());
    EXPECT_EQ(120u, host_.Count(kRecordRead));
}

TEST_F(ContactsReadE2E, StopFromAnotherThreadWhileReading) {
    Start();
    AddContacts(150);
    std::thread stopper;
    host_.SetHook([&](uint32_t code, intptr_t) {
        if (code == kRecordRead && !stopper.joinable()) {
            // The next batch hangs on the handset; Stop arrives from the host's other thread.
            sim_->AddFault("stall:2:/contact/do/read:1");
            stopper = std::thread([] { ::Stop(KX_TYPE_CONTACT, 0); });
        }
    });
    EXPECT_EQ(KX_STOPPED, ReadAll());
    stopper.join();
    EXPECT_LE(host_.Count(kRecordRead), 50u);
    EXPECT_EQ((std::vector<HostMessage>{{kReadFailed, KX_STOPPED}}), Finals());
    EXPECT_FALSE(theApp.CancelFlag.load());
}

// A refused, an unreadable and an undecipherable batch fail the read, which then checks the handset.
TEST_F(ContactsReadE2E, FailedBatchFailsTheReadAndChecksTheHandset) {
    for (const char* fault : {"status:-1:/contact/do/read:1", "non_json:/contact/do/read:1",
                              "undecipherable:/contact/do/read:1"}) {
        SCOPED_TRACE(fault);
        Start();
        AddContacts(60);
        ASSERT_TRUE(sim_->AddFault(fault));
        host_.Clear();
        std::vector<std::string> calls = adb_.Calls();
        EXPECT_EQ(KX_OTHER_FAILURE, ReadAll());
        EXPECT_EQ(0u, host_.Count(kRecordRead));
        EXPECT_EQ((std::vector<size_t>{50}), ReadBatches());
        EXPECT_EQ((std::vector<HostMessage>{{kReadFailed, KX_OTHER_FAILURE}}), Finals());
        std::string serial = "SER-E2E", port = std::to_string(sim_->port());
        calls.insert(calls.end(), {"<-s><" + serial + "><get-state>",
                                   "<-s><" + serial + "><forward><tcp:" + port + "><tcp:8182>"});
        EXPECT_EQ(calls, adb_.Calls());
    }
}

} // namespace
