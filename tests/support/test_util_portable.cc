// The parts of the shared test helpers that need no system service: built for POSIX and, with
// the Windows helpers beside them, for the suites that run under Wine.
#include <gtest/gtest.h>
#include <json/reader.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "driver/app.h"
#include "support/test_util.h"
#include "support/trace_capture.h"

namespace kxtest {

std::string FileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

Json::Value ParseJson(const std::string& text) {
    Json::CharReaderBuilder builder;
    Json::Value v;
    std::string errors;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    EXPECT_TRUE(reader->parse(text.data(), text.data() + text.size(), &v, &errors)) << text << errors;
    return v;
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

TempAppDataEnv::TempAppDataEnv(bool install, const std::string& sub)
    : EnvWrapper(platform::Env::Default()), dir_("kxappdata"),
      appData_(sub.empty() ? dir_.path() : (std::filesystem::path(dir_.path()) / sub).string()),
      installed_(install) {
    if (install)
        theApp.SetEnv(this);
}

TempAppDataEnv::~TempAppDataEnv() {
    if (installed_)
        theApp.SetEnv(nullptr);
}

std::vector<std::string> CommandRun::Lines() const {
    std::vector<std::string> lines;
    size_t from = 0;
    for (size_t at; (at = output.find('\n', from)) != std::string::npos; from = at + 1)
        lines.push_back(output.substr(from, at - from));
    if (from < output.size())
        lines.push_back(output.substr(from));
    return lines;
}

std::string TraceCapture::Text() const {
    return FileBytes(path_);
}

std::vector<std::string> TraceCapture::Lines() const {
    std::vector<std::string> lines;
    const std::string text = Text();
    for (size_t start = 0, end; start < text.size(); start = end) {
        end = std::min(text.find('\n', start), text.size() - 1) + 1;
        lines.push_back(text.substr(start, end - start));
    }
    return lines;
}

std::vector<std::string> TraceCapture::LinesWith(const std::vector<std::string>& fragments) const {
    std::vector<std::string> out;
    for (const std::string& line : Lines()) {
        if (std::all_of(fragments.begin(), fragments.end(),
                        [&](const std::string& f) { return line.find(f) != std::string::npos; }))
            out.push_back(line);
    }
    return out;
}

} // namespace kxtest
