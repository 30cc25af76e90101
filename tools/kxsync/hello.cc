// hello: the shortest useful host session. It needs no handset: the read asks for a data type
// that the driver has no handler for, so only the driver's own frames answer.
#include <cstdio>

#include "commands.h"

namespace kxsync {

int RunHello(Session& session) {
    if (!OpenSession(session, /*print=*/true)) {
        CloseSession(session, /*print=*/true);
        return 1;
    }
    PrintMessages(session);

    constexpr int32_t kUnsupportedType = 7;
    session.runningType = kUnsupportedType;
    int32_t result = session.api.Read(kUnsupportedType, 0);
    session.runningType = 0;
    std::printf("Read(type %d, no handler): %s\n", kUnsupportedType, ResultText(result).c_str());
    PrintMessages(session);

    CloseSession(session, /*print=*/true);
    std::printf("callbacks: %u record, %u progress\n", g_recordCallbacks.load(), g_progressCallbacks.load());
    return result == KX_OTHER_FAILURE ? 0 : 1;
}

} // namespace kxsync
