#include "support/test_util.h"

#include <gtest/gtest.h>
#include <json/reader.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <memory>
#include <stdexcept>

#include "driver/app.h"

namespace kxtest {

Json::Value ParseJson(const std::string& text) {
    Json::CharReaderBuilder builder;
    Json::Value v;
    std::string errors;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    EXPECT_TRUE(reader->parse(text.data(), text.data() + text.size(), &v, &errors)) << text << errors;
    return v;
}

TempDir::TempDir(const char* stem) {
    std::string pattern = std::string("/tmp/") + stem + "XXXXXX";
    if (!::mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

TempAppDataEnv::TempAppDataEnv(bool install, const std::string& sub)
    : EnvWrapper(platform::Env::Default()), dir_("kxappdata"),
      appData_(sub.empty() ? dir_.path() : dir_.path() + "/" + sub), installed_(install) {
    if (install)
        theApp.SetEnv(this);
}

TempAppDataEnv::~TempAppDataEnv() {
    if (installed_)
        theApp.SetEnv(nullptr);
}

ScopedEnvVar::ScopedEnvVar(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) {
        had_ = true;
        old_ = old;
    }
    if (value)
        ::setenv(name, value, 1);
    else
        ::unsetenv(name);
    ::tzset();
}

ScopedEnvVar::~ScopedEnvVar() {
    if (had_)
        ::setenv(name_, old_.c_str(), 1);
    else
        ::unsetenv(name_);
    ::tzset();
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

CommandRun RunCommand(const std::string& command) {
    CommandRun run;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe)
        return run;
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        run.output.append(buffer, n);
    int status = ::pclose(pipe);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

} // namespace kxtest
