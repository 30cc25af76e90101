// The commands and the readiness check; the bridge process itself is run by bridge_process.
#include "handsetcontrol.h"

#include <string>
#include <vector>

#include "bridge_process.h"
#include "platform/utf.h"

namespace {

std::vector<std::string> SplitOnBlanks(const std::string& text) {
    std::vector<std::string> out;
    size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
            ++i;
        size_t start = i;
        while (i < text.size() && text[i] != ' ' && text[i] != '\t')
            ++i;
        if (i > start)
            out.push_back(text.substr(start, i - start));
    }
    return out;
}

std::string Trimmed(const std::string& text) {
    size_t start = text.find_first_not_of(" \t\r\n");
    if (start == std::string::npos)
        return {};
    size_t end = text.find_last_not_of(" \t\r\n");
    return text.substr(start, end - start + 1);
}

Clock::time_point DeadlineAfter(int32_t timeoutMs) {
    return Clock::now() + std::chrono::milliseconds(timeoutMs > 0 ? timeoutMs : 0);
}

} // namespace

KX_HC_EXPORT int32_t KX_RunAdbCmd(const char16_t* command, int32_t length, void*, int32_t,
                                  int32_t timeoutMs) {
    if (!command || length <= 0)
        return kBadArguments;
    std::vector<std::string> args =
        SplitOnBlanks(platform::Utf16ToUtf8(command, length > 0 ? static_cast<size_t>(length) : 0));
    if (args.empty())
        return kBadArguments;
    return RunBridge(args, DeadlineAfter(timeoutMs), nullptr);
}

KX_HC_EXPORT int32_t KX_CheckPhoneReady(const char* serial, int32_t localPort, int32_t devicePort, int32_t,
                                        int32_t, int32_t timeoutMs) {
    if (!serial || !*serial || localPort < 1 || localPort > 65535 || devicePort < 1 || devicePort > 65535)
        return kBadArguments;
    Clock::time_point deadline = DeadlineAfter(timeoutMs);
    std::string state;
    int32_t rc = RunBridge({"-s", serial, "get-state"}, deadline, &state);
    if (rc != 0)
        return rc;
    if (Trimmed(state) != "device")
        return kNotReady;
    return RunBridge(
        {"-s", serial, "forward", "tcp:" + std::to_string(localPort), "tcp:" + std::to_string(devicePort)},
        deadline, nullptr);
}
