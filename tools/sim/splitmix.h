// splitmix64: small, fast and the same on every platform (std distributions are not). The seeded
// sample data draws from it, and so do the GUIDs of new events.
#pragma once

#include <cstdint>

namespace kxsim {

constexpr uint64_t kSplitMixStep = 0x9e3779b97f4a7c15ull;

// The output of a generator whose state was x before the step.
inline uint64_t SplitMix(uint64_t x) {
    x += kSplitMixStep;
    x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ull;
    x = (x ^ (x >> 27)) * 0x94d049bb133111ebull;
    return x ^ (x >> 31);
}

} // namespace kxsim
