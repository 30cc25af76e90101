#include "support/trace_capture.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace kxtest {

TraceCapture::TraceCapture() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/kxtrace-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    int fd = ::mkstemp(name.data());
    if (fd < 0)
        throw std::runtime_error("mkstemp failed");
    ::close(fd);
    path_ = name.data();
    if (const char* old = std::getenv("KXPHONE_TRACE_FILE")) {
        hadPrevious_ = true;
        previous_ = old;
    }
    ::setenv("KXPHONE_TRACE_FILE", path_.c_str(), 1);
}

TraceCapture::~TraceCapture() {
    if (hadPrevious_)
        ::setenv("KXPHONE_TRACE_FILE", previous_.c_str(), 1);
    else
        ::unsetenv("KXPHONE_TRACE_FILE");
    ::unlink(path_.c_str());
}

std::string TraceCapture::Text() const {
    std::ifstream in(path_, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
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
