// Deterministic sample data for a realistic phone: the same options always give the same store
// (ids, texts, pictures and modification times included). The first contacts and events of
// every seeded store are fixed showcases that cover each kind of row the driver maps or drops;
// the rest are drawn from a seeded generator.
//
// Showcase contacts (ids in a fresh store): 1 "José García" (every phone type the driver maps,
// three home and three work numbers, the dropped types, three e-mails, three address blocks and
// a custom one, birthday, anniversary and an unmapped date, multi-line note, web site, nickname,
// starred, groups Friends and Book club, small photo); 2 "王小明" (phonetic names, five e-mails,
// every IM protocol and a custom one, organization); 3 "Mia 🌸 Rossi" (starred, photo above
// 300 KB); 4 a contact of another account. Every contact index 500 modulo 1000 has a large photo.
//
// Showcase events, in order (exception rows take the ids right after their event): single timed
// (UTC), all-day New Year, daily COUNT=10 with one moved and one cancelled occurrence, weekly
// MO,WE,FR UNTIL at "480;60" with one cancelled, weekly on five days, monthly BYMONTHDAY all-day,
// monthly -1FR at "60;60", monthly 2MO COUNT=12 at "-300;60", yearly by day all-day, yearly
// -1SU in October, daily across the New York spring change, a night across the European spring
// change, a two-day all-day weekend in October, fortnightly with two moved and one cancelled,
// a CJK title with two reminders at "480;0", every third day UNTIL, one on calendar 4, a yearly
// all-day birthday ("P1D").
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
