#include "transport_test_util.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "platform/format.h"

namespace kxtest {

namespace {
const std::string& TraceFile() {
    // Set once, before any test starts a thread: the sink reads the variable on every line.
    static const std::string path = [] {
        std::string p = "/tmp/kx_transport_trace_" + std::to_string(::getpid()) + ".log";
        ::setenv("KXPHONE_TRACE_FILE", p.c_str(), 1);
        return p;
    }();
    return path;
}
} // namespace

TraceCapture::TraceCapture() : path_(TraceFile()) {
    Clear();
}

void TraceCapture::Clear() {
    std::ofstream truncate(path_, std::ios::trunc);
}

std::vector<std::string> TraceCapture::Lines() const {
    std::vector<std::string> lines;
    std::ifstream in(path_);
    std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // Lines end in CR LF; some messages carry a CR LF of their own inside the Function field.
    size_t start = 0;
    while (start < all.size()) {
        size_t end = all.find("]:\r\n", start);
        size_t errorEnd = all.find("\r\n", start);
        if (all.compare(start, 5, "[TID=") == 0 && end != std::string::npos) {
            lines.push_back(all.substr(start, end + 2 - start));
            start = end + 4;
        } else if (errorEnd != std::string::npos) {
            lines.push_back(all.substr(start, errorEnd - start));
            start = errorEnd + 2;
        } else {
            lines.push_back(all.substr(start));
            break;
        }
    }
    return lines;
}

int TraceCapture::CountFunction(const std::string& text) const {
    int n = 0;
    for (const std::string& line : Lines())
        if (line.find("[Function=" + text + "],[Time=") != std::string::npos)
            ++n;
    return n;
}

int TraceCapture::CountContaining(const std::string& text) const {
    int n = 0;
    for (const std::string& line : Lines())
        if (line.find(text) != std::string::npos)
            ++n;
    return n;
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
