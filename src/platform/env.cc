#include "platform/env.h"

#include <atomic>

namespace platform {

namespace {
std::atomic<Env*> current{nullptr};
}

Env* Env::Current() {
    Env* e = current.load();
    return e ? e : Default();
}

void Env::SetCurrent(Env* env) {
    current.store(env);
}

} // namespace platform
