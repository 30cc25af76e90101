// Captures the driver's trace lines: points KXPHONE_TRACE_FILE at a fresh temporary file for the
// lifetime of the object and hands the lines back (UTF-8, each with its CR LF). Restores the
// previous value on destruction. Create it before starting threads that trace.
#pragma once

#include <string>
#include <vector>

namespace kxtest {

class TraceCapture {
public:
    TraceCapture();
    ~TraceCapture();
    TraceCapture(const TraceCapture&) = delete;
    TraceCapture& operator=(const TraceCapture&) = delete;

    const std::string& path() const { return path_; }
    // The whole file as written so far.
    std::string Text() const;
    // Split after each "\n"; a last piece without one is kept as is.
    std::vector<std::string> Lines() const;
    // Lines containing every one of the given fragments.
    std::vector<std::string> LinesWith(const std::vector<std::string>& fragments) const;

private:
    std::string path_;
    std::string previous_;
    bool hadPrevious_ = false;
};

} // namespace kxtest
