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

} // namespace kxtest
