#include "transport_test_util.h"

#include <chrono>
#include <fstream>

#include "platform/format.h"

namespace kxtest {

void TransportTrace::Clear() {
    std::ofstream truncate(capture_.path(), std::ios::trunc);
}

int TransportTrace::CountContaining(const std::string& text) const {
    const std::string all = capture_.Text();
    int n = 0;
    for (size_t at = all.find(text); at != std::string::npos; at = all.find(text, at + text.size()))
        ++n;
    return n;
}

std::thread CancelWhen(std::function<bool()> ready, int delayMs) {
    return std::thread([ready, delayMs] {
        auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!ready() && std::chrono::steady_clock::now() < giveUp)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
        theApp.CancelFlag = true;
    });
}

void TransportTest::SetUp() {
    theApp.SetEnv(&env);
    theApp.SetTiming(TestTiming(2));
    theApp.CancelFlag = false;
    theApp.RenewTaskStamp();
    InitSyncParams params{};
    params.localPort = 115200;
    params.deviceSerial = kSerial;
    params.baseAddress = u"http://127.0.0.1:1";
    theApp.m_FakePhone.InitSync(0, &params);
    trace.Clear();
}

void TransportTest::TearDown() {
    theApp.CancelFlag = false;
    theApp.SetTiming(platform::Timing());
    theApp.SetEnv(nullptr);
}

void TransportTest::PointAt(int port) {
    theApp.m_FakePhone.SetBaseUrl(platform::Format(u"http://127.0.0.1:%d", port));
}

} // namespace kxtest
