// Shared by the profile, sample-store and phone-information tests: a host window that records
// message 2525, a driver directory in a fresh temp folder, and a trace file to read back.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

#include <kxphone/host_blocks.h>

#include "driver/app.h"
#include "platform/env.h"

namespace kxtest {

struct RecordingWindow : KXHostWindow {
    std::vector<std::pair<uint32_t, intptr_t>> got;
    // Called after each message is recorded; lets a test act "from the host".
    std::function<void(uint32_t code, intptr_t value)> onMessage;

    RecordingWindow() { proc = &Proc; }
    static intptr_t Proc(KXHostWindow* self, uint32_t msg, uintptr_t code, intptr_t value) {
        auto* w = static_cast<RecordingWindow*>(self);
        if (msg == KX_HOST_MESSAGE) {
            w->got.emplace_back(static_cast<uint32_t>(code), value);
            if (w->onMessage)
                w->onMessage(static_cast<uint32_t>(code), value);
        }
        return 0;
    }
};

// The driver "lives" in a temp folder, so the store directories land there.
class TempModuleEnv : public platform::EnvWrapper {
public:
    explicit TempModuleEnv(std::filesystem::path dir)
        : platform::EnvWrapper(platform::Env::Default()), dir_(std::move(dir)) {}
    std::string OwnModulePath() override { return (dir_ / "vexoCorsaT3.so").string(); }

private:
    std::filesystem::path dir_;
};

class DriverDirTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/kx_store_XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir_ = pattern;
        env_ = std::make_unique<TempModuleEnv>(dir_);
        theApp.SetEnv(env_.get());
        InitSyncParams params{0, &window_, 5555, u"http://127.0.0.1:9", u"SERIAL1"};
        ASSERT_EQ(theApp.m_FakePhone.InitSync(0, &params), KX_OK);
        theApp.m_FakePhone.StopFlag = false;
        tracePath_ = dir_ / "trace.txt";
        ::setenv("KXPHONE_TRACE_FILE", tracePath_.c_str(), 1);
    }
    void TearDown() override {
        ::unsetenv("KXPHONE_TRACE_FILE");
        InitSyncParams params{0, nullptr, 115200, u"", u""};
        theApp.m_FakePhone.InitSync(0, &params);
        theApp.m_FakePhone.StopFlag = false;
        theApp.SetEnv(nullptr);
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }

    std::string Trace() const {
        std::ifstream in(tracePath_);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    static void WriteBytes(const std::filesystem::path& path, size_t n, char fill = 'x') {
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << std::string(n, fill);
    }

    std::filesystem::path dir_;
    std::filesystem::path tracePath_;
    std::unique_ptr<TempModuleEnv> env_;
    RecordingWindow window_;
};

typedef std::vector<std::pair<uint32_t, intptr_t>> Messages;

} // namespace kxtest
