#include "sync/host_messages.h"

#include <gtest/gtest.h>

#include <vector>

#include "driver/app.h"
#include "support/driver_on_sim.h"
#include "support/host_window_recorder.h"
#include "support/trace_capture.h"

namespace {

using kxtest::HostMessage;
using kxtest::HostWindowRecorder;

class HostMessages : public ::testing::Test {
protected:
    // What the host saw, callbacks and window messages in one order.
    void SetUp() override {
        InitSyncParams params{0, recorder_.window(), 5555, u"http://127.0.0.1:5555", u"SERIAL"};
        ASSERT_EQ(theApp.m_FakePhone.InitSync(0, &params), 0);
        recorder_.RecordCallbacks();
    }
    void TearDown() override { kxtest::ResetDriver(); }
    std::vector<HostMessage> Seen() const { return recorder_.Messages(); }
    HostWindowRecorder recorder_;
};

TEST_F(HostMessages, ReadWithoutCallbacksAndSilentRead) {
    int record = 0;
    ReadReporter changeLog(theApp.m_FakePhone, KX_TYPE_CALENDAR, u"CKXFakePhone::ReadCalendarWithChangeLog",
                           false, false);
    changeLog.Record(&record);
    changeLog.Progress(1, 1);
    changeLog.Finish(0);
    EXPECT_EQ(
        Seen(),
        (std::vector<HostMessage>{
            {0x80001, reinterpret_cast<intptr_t>(&record)}, {0x10002, 100}, {0x10003, 0}, {0x80003, 0}}))
        << HostWindowRecorder::Describe(Seen());

    recorder_.Clear();
    ReadReporter backup(theApp.m_FakePhone, KX_TYPE_CALENDAR, u"CKXFakePhone::ReadCalendar", true, true,
                        /*silent=*/true);
    backup.Record(&record);
    backup.Progress(1, 1);
    EXPECT_EQ(backup.Finish(-3), 1100);
    EXPECT_TRUE(Seen().empty()) << HostWindowRecorder::Describe(Seen());
}

TEST_F(HostMessages, ReadOutcomeIsNormalisedAndWrappedInSendMessageLines) {
    struct Case {
        int32_t result;
        uint32_t code;
        intptr_t value;
    } cases[] = {{0, 0x20003, 0},    {21, 0x20002, 21},   {12, 0x20002, 12},
                 {1, 0x20002, 1100}, {-4, 0x20002, 1100}, {1100, 0x20002, 1100}};
    for (const Case& c : cases) {
        kxtest::TraceCapture trace;
        recorder_.Clear();
        ReadReporter reporter(theApp.m_FakePhone, KX_TYPE_CONTACT, u"CKXFakePhone::ReadContact", true, true);
        EXPECT_EQ(reporter.Finish(c.result), c.value == 0 ? 0 : c.value) << c.result;
        EXPECT_EQ(Seen(), (std::vector<HostMessage>{{c.code, c.value}})) << c.result;
        auto lines = trace.Lines();
        ASSERT_EQ(lines.size(), 2u) << trace.Text();
        EXPECT_NE(lines[0].find("[Tag=Call],[Module=vexoCorsaT3.dll],[Caller=CKXFakePhone::ReadContact],"
                                "[Action=Enter],[Function=WindowsAPI::SendMessage],"),
                  std::string::npos)
            << lines[0];
        EXPECT_NE(lines[1].find("[Action=Leave],[Function=WindowsAPI::SendMessage],"), std::string::npos)
            << lines[1];
    }
}

TEST_F(HostMessages, WriteSequenceAndOutcome) {
    int a = 0, b = 0;
    kxtest::TraceCapture trace;
    WriteReporter reporter(theApp.m_FakePhone, KX_TYPE_CALENDAR, u"CKXFakePhone::WriteCalendar");
    reporter.BatchBegin(WriteReporter::BatchPercent(2, 3));
    reporter.BatchBegin(WriteReporter::BatchPercent(3, 3));
    reporter.RecordWritten(&a);
    reporter.RecordWritten(&b);
    reporter.WriteBackDone();
    EXPECT_EQ(reporter.Finish(0), 0);
    auto p = [](int* r) { return std::to_string(reinterpret_cast<intptr_t>(r)); };
    EXPECT_EQ(HostWindowRecorder::Describe(Seen()),
              "0x10004=0 0x10002=66 0x10004=0 0x10002=99 0x80004=" + p(&a) + " 0x80004=" + p(&b) +
                  " 0x10002=99 0x80006=0");
    std::string text = trace.Text();
    size_t begin = text.find("Orlen vexoCorsaT3.dll-Begin SendMessage To Caller\r\n");
    size_t enter = text.find("[Action=Enter],[Function=WindowsAPI::SendMessage]");
    size_t leave = text.find("[Action=Leave],[Function=WindowsAPI::SendMessage]");
    size_t end = text.find("Orlen vexoCorsaT3.dll-End SendMessage To Caller\r\n");
    ASSERT_NE(begin, std::string::npos) << text;
    ASSERT_NE(end, std::string::npos) << text;
    EXPECT_LT(begin, enter);
    EXPECT_LT(enter, leave);
    EXPECT_LT(leave, end);

    for (int32_t result : {12, 21, 1, -6}) {
        recorder_.Clear();
        int32_t expected = result == 12 || result == 21 ? result : 1100;
        EXPECT_EQ(reporter.Finish(result), expected);
        EXPECT_EQ(Seen(), (std::vector<HostMessage>{{0x80005, expected}})) << result;
    }

    recorder_.Clear();
    WriteReporter silent(theApp.m_FakePhone, KX_TYPE_CONTACT, u"CKXFakePhone::WriteContact", /*silent=*/true);
    silent.BatchBegin(10);
    silent.RecordWritten(&a);
    silent.WriteBackDone();
    EXPECT_EQ(silent.Finish(-1), 1100);
    EXPECT_TRUE(Seen().empty()) << HostWindowRecorder::Describe(Seen());
}

TEST(WriteReporterPercent, CappedAt99) {
    struct {
        int64_t taken, total;
        int percent;
    } cases[] = {{0, 0, 0},
                 {0, 10, 0},
                 {1, 3, 33},
                 {50, 100, 50},
                 {99, 100, 99},
                 {100, 100, 99},
                 {3000000000LL, 3000000000LL, 99}};
    for (auto& c : cases)
        EXPECT_EQ(WriteReporter::BatchPercent(c.taken, c.total), c.percent) << c.taken << "/" << c.total;
}

TEST_F(HostMessages, SampleItemAndMailSequences) {
    // The sample-item read sequence is checked through the sample store itself.
    int mail = 0;
    ItemReporter mailWrite(theApp.m_FakePhone, kMailWrite, u"CKXFakePhone::SampleWrite");
    mailWrite.Item(50, reinterpret_cast<intptr_t>(&mail));
    EXPECT_EQ(Seen(),
              (std::vector<HostMessage>{
                  {0x10004, 0}, {0xE0004, reinterpret_cast<intptr_t>(&mail)}, {0x10002, 50}, {0x10003, 0}}))
        << HostWindowRecorder::Describe(Seen());

    // Failure values: items report 21 or 0; e-mail writes also let 12 through.
    struct Case {
        const ItemSequence* sequence;
        int32_t result;
        uint32_t code;
        intptr_t value;
    } cases[] = {
        {&kSampleItemRead, 21, 0x40003, 21}, {&kSampleItemRead, 1, 0x40003, 0},
        {&kSampleItemWrite, 0, 0x40004, 0},  {&kSampleItemWrite, 12, 0x40006, 0},
        {&kSampleItemDelete, 0, 0x40007, 0}, {&kSampleItemDelete, 21, 0x40009, 21},
        {&kMailRead, 0, 0xE0003, 0},         {&kMailRead, 12, 0xE0002, 0},
        {&kMailRead, 21, 0xE0002, 21},       {&kMailWrite, 0, 0xE0006, 0},
        {&kMailWrite, 12, 0xE0005, 12},      {&kMailWrite, 1100, 0xE0005, 0},
    };
    for (const Case& c : cases) {
        recorder_.Clear();
        ItemReporter reporter(theApp.m_FakePhone, *c.sequence, u"CKXFakePhone::SampleRead");
        EXPECT_EQ(reporter.Finish(c.result), c.result);
        EXPECT_EQ(Seen(), (std::vector<HostMessage>{{c.code, c.value}}))
            << std::hex << c.code << " " << std::dec << c.result;
    }
}

TEST(ItemReporterPercent, TruncatesAndStaysWithinTheScale) {
    const struct {
        int64_t done, total;
        int percent;
    } cases[] = {
        {1, 3, 33},   {2, 3, 66},        {0, 0, 100}, // no bytes at all: complete, not NaN
        {0, -5, 100}, {5000, 4000, 100}, {-10, 4000, 0}, {4000000000LL, 8000000000LL, 50}, // beyond 32 bits
    };
    for (const auto& c : cases)
        EXPECT_EQ(ItemReporter::BytePercent(c.done, c.total), c.percent) << c.done << "/" << c.total;
}

TEST(HostMessagesNoWindow, NothingIsSentAndNothingBreaks) {
    HostWindowRecorder recorder;
    InitSyncParams none{0, nullptr, 115200, u"", u""};
    ASSERT_EQ(theApp.m_FakePhone.InitSync(0, &none), 0);
    int record = 0;
    ReadReporter reporter(theApp.m_FakePhone, KX_TYPE_CONTACT, u"CKXFakePhone::ReadContact", false, false);
    reporter.Record(&record);
    reporter.Progress(1, 0);
    EXPECT_EQ(reporter.Finish(21), 21);
    SendHostMessage(theApp.m_FakePhone, 0x10004, 0);
    EXPECT_TRUE(recorder.Messages().empty());
}

} // namespace
