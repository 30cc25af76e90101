// Deterministic sample data for a realistic phone: the same options always give the same store
// (ids, texts, pictures and modification times included). The first contacts and events of
// every seeded store are fixed showcases that cover each kind of row the driver maps or drops;
// the rest are drawn from a seeded generator.
#pragma once

#include <cstdint>
#include <string>

#include "store.h"

namespace kxsim {

struct SeedOptions {
    int contacts = 0;
    int events = 0;
    uint64_t seed = 1;
};

// Fills the store in one transaction. Seeded rows are the phone's starting state: they do not
// enter the change logs.
StoreResult Seed(Store& store, const SeedOptions& options);

// An RGB picture as an uncompressed PNG file (stored deflate blocks), so its size is known in
// advance: about width * height * 3 bytes.
std::string MakePng(int width, int height, uint64_t seed);

// The instant (milliseconds since the epoch, UTC) of a civil UTC time.
int64_t UtcMs(int year, int month, int day, int hour = 0, int minute = 0, int second = 0);

} // namespace kxsim
