#include "support/test_util.h"

#include <gtest/gtest.h>
#include <json/reader.h>
#include <json/writer.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>

#include "driver/app.h"

namespace kxtest {

std::vector<std::string> FileLines(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

size_t FilesIn(const std::string& folder) {
    std::error_code ec;
    size_t n = 0;
    for (auto it = std::filesystem::directory_iterator(folder, ec);
         !ec && it != std::filesystem::directory_iterator(); it.increment(ec))
        ++n;
    return n;
}

TempDir::TempDir(const char* stem) {
    std::string pattern = std::string("/tmp/") + stem + "XXXXXX";
    if (!::mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
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

std::map<std::string, Json::Value> JsonLinesById(const std::string& lines) {
    std::map<std::string, Json::Value> records;
    std::istringstream in(lines);
    for (std::string line; std::getline(in, line);) {
        Json::Value v = ParseJson(line);
        records[v["id"].asString()] = v;
    }
    return records;
}

void WriteOpLines(const std::string& path, const std::vector<std::pair<const char*, Json::Value>>& records) {
    std::ofstream file(path);
    for (auto record : records) {
        record.second["op"] = record.first;
        file << Json::FastWriter().write(record.second);
    }
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
