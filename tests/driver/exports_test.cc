// The outside face of the driver: the fifteen exports in the public header, the version script
// and the Windows export table must name the same functions, and the built plug-in must export
// exactly those, with C linkage. (Loading it by path and calling it: the kxsync e2e suite.)
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include <kxphone/kxphone.h>

#include "support/paths.h"
#include "support/test_util.h"

namespace {

using kxtest::FileBytes;

// name -> ordinal from the .def file: lines "name @ordinal" of its EXPORTS section.
std::map<std::string, int> DefOrdinals() {
    const std::string text = FileBytes(kxtest::SourceDir() + "/src/driver/vexoCorsaT3.def");
    const std::string exports = text.substr(std::min(text.find("EXPORTS"), text.size()));
    std::regex entry(R"((?:^|\n)[ \t]*(\w+)[ \t]+@(\d+)[ \t]*\r?(?=\n|$))");
    std::map<std::string, int> out;
    for (std::sregex_iterator i(exports.begin(), exports.end(), entry), e; i != e; ++i)
        out[(*i)[1]] = std::stoi((*i)[2]);
    return out;
}

// The first group of every match of pattern in text.
std::set<std::string> Matches(const std::string& text, const char* pattern) {
    std::set<std::string> out;
    std::regex regex(pattern);
    for (std::sregex_iterator i(text.begin(), text.end(), regex), e; i != e; ++i)
        out.insert((*i)[1]);
    return out;
}

// The names between "global:" and "local:" of the version script.
std::set<std::string> VersionScriptGlobals() {
    std::string text = FileBytes(kxtest::SourceDir() + "/src/driver/vexoCorsaT3.map");
    size_t begin = text.find("global:"), end = text.find("local:");
    if (begin == std::string::npos || end == std::string::npos)
        return {};
    return Matches(text.substr(begin + 7, end - begin - 7), R"(([A-Za-z_]\w*))");
}

std::set<std::string> HeaderExports() {
    return Matches(FileBytes(kxtest::SourceDir() + "/include/kxphone/kxphone.h"),
                   R"(KX_EXPORT\s+\w+\s+KX_STDCALL\s+(\w+)\s*\()");
}

// The fifteen exports and their ordinals (slot 6 stays empty).
const std::map<std::string, int> kOrdinals = {
    {"InitDriver", 1},  {"Backup", 2},       {"ClearChangeLog", 3}, {"Restore", 4}, {"SetParam", 5},
    {"OnInputData", 7}, {"InitSync", 8},     {"GetProfile", 9},     {"Read", 10},   {"Write", 11},
    {"DeleteIO", 12},   {"InquireInfo", 13}, {"Verify", 14},        {"Stop", 15},   {"UninitSync", 16}};

std::set<std::string> Names(const std::map<std::string, int>& ordinals) {
    std::set<std::string> names;
    for (const auto& entry : ordinals)
        names.insert(entry.first);
    return names;
}

TEST(ExportTable, DefOrdinalsVersionScriptAndHeaderAgree) {
    EXPECT_EQ(DefOrdinals(), kOrdinals);
    EXPECT_EQ(VersionScriptGlobals(), Names(kOrdinals));
    EXPECT_EQ(HeaderExports(), Names(kOrdinals));
}

// The dynamic symbols the plug-in defines, as nm sees them: name -> type letter.
std::map<std::string, char> DefinedDynamicSymbols(const std::string& library) {
    std::map<std::string, char> out;
    std::istringstream lines(kxtest::RunCommand("nm -D --defined-only '" + library + "' 2>/dev/null").output);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        std::string address, type, name;
        if (fields >> address >> type >> name)
            out[name] = type[0];
        else if (std::istringstream(line) >> type >> name) // undefined-address forms
            out[name] = type[0];
    }
    return out;
}

TEST(PluginSmoke, ExportsExactlyTheFifteenFunctionsWithCLinkage) {
    std::string library = kxtest::BinDir() + "/vexoCorsaT3.so";
    std::map<std::string, char> symbols = DefinedDynamicSymbols(library);
    ASSERT_FALSE(symbols.empty()) << "nm found nothing in " << library;
    std::set<std::string> names;
    for (auto& [name, type] : symbols) {
        names.insert(name);
        EXPECT_EQ(type, 'T') << name << " is not a plain function";
        EXPECT_NE(name.rfind("_Z", 0), 0u) << name << " is a C++ name";
    }
    EXPECT_EQ(names, Names(kOrdinals));
}

} // namespace
