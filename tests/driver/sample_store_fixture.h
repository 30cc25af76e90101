// Shared by the profile, sample-store and phone-information tests: the driver "lives" in a fresh
// temp folder (so the store directories land there), with a recording host window and captured
// trace lines.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <kxphone/host_blocks.h>

#include "driver/app.h"
#include "platform/env.h"
#include "support/driver_on_sim.h"
#include "support/host_window_recorder.h"
#include "support/test_util.h"
#include "support/trace_capture.h"

namespace kxtest {

typedef std::vector<HostMessage> Messages;

// The driver "lives" in a temp folder, so the store directories land there.
class TempModuleEnv : public platform::EnvWrapper {
public:
    explicit TempModuleEnv(std::filesystem::path dir)
        : platform::EnvWrapper(platform::Env::Default()), dir_(std::move(dir)) {}
    std::string OwnModulePath() override { return (dir_ / "vexoCorsaT3.so").string(); }

private:
    TempDir tmp_{"kx_store_"};
    std::filesystem::path dir_ = tmp_.path();
};

class DriverDirTest : public ::testing::Test {
protected:
    void SetUp() override {
        env_ = std::make_unique<TempModuleEnv>(dir_);
        theApp.SetEnv(env_.get());
        InitSyncParams params{0, host_.window(), 5555, u"http://127.0.0.1:9", u"SERIAL1"};
        ASSERT_EQ(theApp.m_FakePhone.InitSync(0, &params), KX_OK);
        theApp.m_FakePhone.StopFlag = false;
    }
    void TearDown() override { ResetDriver(); }

    std::string Trace() const { return trace_.Text(); }
    std::vector<HostMessage> Got() const { return host_.Messages(); }
    // The messages as "0x10004=0 0x10002=25 ...".
    std::string Seq() const { return HostWindowRecorder::Describe(host_.Messages()); }
    static void WriteBytes(const std::filesystem::path& path, size_t n, char fill = 'x') {
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << std::string(n, fill);
    }

    TempDir tmp_{"kx_store_"};
    std::filesystem::path dir_ = tmp_.path();
    std::unique_ptr<TempModuleEnv> env_;
    TraceCapture trace_;
    HostWindowRecorder host_;
};

} // namespace kxtest
