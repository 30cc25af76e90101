#include "seed.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/oledate.h"
#include "splitmix.h"
#include "transport/base64.h"

namespace kxsim {

namespace {

const char* const kMime = "vnd.android.cursor.item/";

class Rng {
public:
    explicit Rng(uint64_t seed) : s_(seed) {}
    uint64_t Next() {
        uint64_t x = s_;
        s_ += kSplitMixStep;
        return SplitMix(x);
    }
    int Below(int n) { return static_cast<int>(Next() % static_cast<uint64_t>(n)); }
    bool Chance(int percent) { return Below(100) < percent; }
    template <class T, size_t N> const T& Pick(const T (&items)[N]) {
        return items[Below(static_cast<int>(N))];
    }

private:
    uint64_t s_;
};

// "20260316T093000Z"
std::string UtcStamp(int64_t ms) {
    int64_t secs = ms / 1000;
    int64_t days = secs / 86400;
    int sod = static_cast<int>(secs % 86400);
    int64_t y;
    unsigned m, d;
    platform::CivilFromDays(days, &y, &m, &d);
    char buf[64];
    snprintf(buf, sizeof buf, "%04d%02u%02uT%02d%02d%02dZ", static_cast<int>(y), m, d, sod / 3600,
             sod / 60 % 60, sod % 60);
    return buf;
}

// The first n characters of UTF-8 text: a cut inside a character would store bytes that are no text.
std::string FirstChars(const std::string& text, size_t n) {
    size_t end = 0;
    for (size_t chars = 0; end < text.size() && chars <= n; ++end)
        if ((static_cast<unsigned char>(text[end]) & 0xC0) != 0x80 && chars++ == n)
            break;
    return text.substr(0, end);
}

std::string Num(int64_t v) {
    return std::to_string(v);
}

// --- PNG ---------------------------------------------------------------------------------------

uint32_t Crc32(const std::string& data, size_t from) {
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xedb88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    uint32_t c = 0xffffffffu;
    for (size_t i = from; i < data.size(); ++i)
        c = table[(c ^ static_cast<uint8_t>(data[i])) & 0xff] ^ (c >> 8);
    return c ^ 0xffffffffu;
}

void Put32(std::string* out, uint32_t v) {
    out->push_back(static_cast<char>(v >> 24));
    out->push_back(static_cast<char>(v >> 16));
    out->push_back(static_cast<char>(v >> 8));
    out->push_back(static_cast<char>(v));
}

void Chunk(std::string* png, const char* type, const std::string& data) {
    Put32(png, static_cast<uint32_t>(data.size()));
    size_t start = png->size();
    png->append(type, 4);
    png->append(data);
    Put32(png, Crc32(*png, start));
}

} // namespace

int64_t UtcMs(int year, int month, int day, int hour, int minute, int second) {
    return ((platform::DaysFromCivil(year, month, day) * 24 + hour) * 60 + minute) * 60000 + second * 1000LL;
}

std::string MakePng(int width, int height, uint64_t seed) {
    Rng rng(seed);
    const int r0 = rng.Below(256), g0 = rng.Below(256), b0 = rng.Below(256);
    std::string raw;
    raw.reserve(static_cast<size_t>(height) * (width * 3 + 1));
    for (int y = 0; y < height; ++y) {
        raw.push_back(0); // filter: none
        for (int x = 0; x < width; ++x) {
            raw.push_back(static_cast<char>(r0 + x * 255 / width));
            raw.push_back(static_cast<char>(g0 + y * 255 / height));
            raw.push_back(static_cast<char>(b0 + (x ^ y)));
        }
    }
    // zlib stream of stored blocks.
    std::string z = "\x78\x01";
    uint32_t a = 1, b = 0;
    for (unsigned char c : raw) {
        a = (a + c) % 65521;
        b = (b + a) % 65521;
    }
    for (size_t pos = 0; pos < raw.size() || pos == 0;) {
        size_t n = std::min<size_t>(65535, raw.size() - pos);
        bool last = pos + n == raw.size();
        z.push_back(last ? 1 : 0);
        z.push_back(static_cast<char>(n & 0xff));
        z.push_back(static_cast<char>(n >> 8));
        z.push_back(static_cast<char>(~n & 0xff));
        z.push_back(static_cast<char>((~n >> 8) & 0xff));
        z.append(raw, pos, n);
        pos += n;
        if (last)
            break;
    }
    Put32(&z, (b << 16) | a);

    std::string png("\x89PNG\r\n\x1a\n", 8);
    std::string ihdr;
    Put32(&ihdr, static_cast<uint32_t>(width));
    Put32(&ihdr, static_cast<uint32_t>(height));
    ihdr += std::string("\x08\x02\x00\x00\x00", 5); // 8 bits, RGB
    Chunk(&png, "IHDR", ihdr);
    Chunk(&png, "IDAT", z);
    Chunk(&png, "IEND", "");
    return png;
}

namespace {

// --- contacts ----------------------------------------------------------------------------------

struct Name {
    const char* given;
    const char* family;
    const char* phoneticGiven; // for names whose readers need a pronunciation
    const char* phoneticFamily;
    bool familyFirst;
};

const Name kNames[] = {
    {"José", "García", nullptr, nullptr, false},
    {"小明", "王", "Xiaoming", "Wang", true},
    {"Mia 🌸", "Rossi", nullptr, nullptr, false},
    {"Zoë", "Brontë", nullptr, nullptr, false},
    {"François", "Lefèvre", nullptr, nullptr, false},
    {"Jürgen", "Müller", nullptr, nullptr, false},
    {"Łukasz", "Wiśniewski", nullptr, nullptr, false},
    {"Antonín", "Dvořák", nullptr, nullptr, false},
    {"Siobhán", "Ó Súilleabháin", nullptr, nullptr, false},
    {"娜", "李", "Na", "Li", true},
    {"太郎", "山田", "たろう", "やまだ", true},
    {"花子", "佐藤", "はなこ", "さとう", true},
    {"민준", "김", "Minjun", "Kim", true},
    {"Иван", "Петров", nullptr, nullptr, false},
    {"Νίκος", "Παπαδόπουλος", nullptr, nullptr, false},
    {"ليلى", "حداد", nullptr, nullptr, false},
    {"Alice", "Smith", nullptr, nullptr, false},
    {"Bob", "Johnson", nullptr, nullptr, false},
    {"Tom", "🚀 Launch", nullptr, nullptr, false},
    {"Renée", "Côté", nullptr, nullptr, false},
    {"João", "Gonçalves", nullptr, nullptr, false},
    {"Ingrid", "Ångström", nullptr, nullptr, false},
    {"伟", "张", "Wei", "Zhang", true},
    {"Priya", "Natarajan", nullptr, nullptr, false},
};

const char* const kCompanies[] = {"Vexo Mobile",   "Müller & Söhne GmbH", "北京科技有限公司", "Acme, Inc.",
                                  "Café de Flore", "株式会社サンプル",    "Nordic Fjord AS"};
const char* const kTitles[] = {"Engineer", "Directrice générale", "经理", "Barista ☕", "CTO", "営業部長"};
const char* const kStreets[] = {"1600 Amphitheatre Pkwy", "10 Downing St", "Rue de Rivoli 99",
                                "朝阳区建国路88号",       "Königsallee 1", "1-1 Chiyoda",
                                "Via del Corso 12"};
const char* const kCities[] = {"Mountain View", "London", "Paris", "北京", "Düsseldorf", "東京", "Roma"};
const char* const kRegions[] = {"CA", "Greater London", "Île-de-France", "北京市", "NRW", "東京都", "Lazio"};
const char* const kCountries[] = {"USA", "United Kingdom", "France", "中国", "Deutschland", "日本", "Italia"};
const char* const kDomains[] = {"example.com", "mail.example.org", "posteo.de", "qq.com", "example.co.jp"};

// Phone types the driver maps, and types it drops (0 custom, 8 callback, 11 ISDN, 12 main,
// 13 other fax, 15 telex, 16 TTY, 17 work mobile, 18 work pager, 20 MMS).
const int kMappedPhoneTypes[] = {1, 2, 3, 4, 5, 6, 7, 9, 10, 14, 19};
const int kDroppedPhoneTypes[] = {0, 8, 11, 12, 13, 15, 16, 17, 18, 20};

class ContactMaker {
public:
    ContactMaker(Rng& rng, const std::vector<int64_t>& systemGroups, const std::vector<int64_t>& userGroups)
        : rng_(rng), system_(systemGroups), user_(userGroups) {}

    Json::Value Make(int index) {
        Json::Value c(Json::objectValue);
        // About one contact in fifteen belongs to another account; the driver must skip it.
        bool foreign = index == 3 || (index > 3 && rng_.Below(15) == 0);
        c["account_name"] = foreign ? (index % 2 ? "someone@gmail.com" : "Phone") : "pcsc";
        c["account_type"] =
            foreign ? (index % 2 ? "com.google" : "com.android.localphone") : "com.vexo.android.pcsc";
        c["sourceid"] = foreign ? Num(1000 + index) : "5";
        bool starred = index == 0 || index == 2 || rng_.Chance(12);
        if (starred)
            c["starred"] = "1";
        data_ = Json::Value(Json::arrayValue);

        const Name& n = index < 3 ? kNames[index] : rng_.Pick(kNames);
        std::string display =
            n.familyFirst ? std::string(n.family) + n.given : std::string(n.given) + " " + n.family;
        if (index >= 3 && rng_.Chance(30))
            display += " " + Num(index); // keeps bulk names apart
        Json::Value& name = Add("name", {{"data1", display}, {"data2", n.given}, {"data3", n.family}});
        if (n.phoneticGiven != nullptr) {
            name["data7"] = n.phoneticGiven;
            name["data9"] = n.phoneticFamily;
        }

        Phones(index);
        Emails(index);
        if (index == 0 || rng_.Chance(40))
            Addresses(index);
        if (index == 1 || rng_.Chance(25))
            Ims(index);
        if (index == 1 || rng_.Chance(45))
            Add("organization",
                {{"data1", rng_.Pick(kCompanies)}, {"data2", "1"}, {"data4", rng_.Pick(kTitles)}});
        if (index == 0 || rng_.Chance(20))
            Add("nickname", {{"data1", index == 0 ? "Pepe" : FirstChars(n.given, 3) + "y"}, {"data2", "1"}});
        if (index == 0 || rng_.Chance(20))
            Add("website", {{"data1", "https://www." + std::string(rng_.Pick(kDomains)) + "/~" + Num(index)},
                            {"data2", index == 0 ? "1" : "7"}});
        Events(index);
        if (index == 0 || rng_.Chance(25))
            Add("note",
                {{"data1", index == 0 ? "Met at the conference.\nLikes jamón ibérico.\n\nCall after 18:00 — "
                                        "not on Sundays."
                                      : "Note for contact " + Num(index) + "\nsecond line\nthird line 🎈"}});
        Groups(index, starred);
        if (index == 2 || (index > 3 && index % 1000 == 500)) {
            Photo(index, 340); // above the 300 KB the driver sends back
        } else if (index == 0 || rng_.Chance(15)) {
            Photo(index, 32);
        }
        if (rng_.Chance(5)) { // rows the driver ignores
            Add("vexo_event_v2", {{"data1", "ignored"}});
            Add("sip_address", {{"data1", "sip:" + Num(index) + "@voip.example.com"}});
        }
        c["__data"] = data_;
        return c;
    }

private:
    // Appends a data row of the kind mime with these columns; the row, for more. A braced list is
    // evaluated left to right, so the draws of the generator keep their order.
    Json::Value& Add(const char* mime, std::initializer_list<std::pair<const char*, std::string>> columns) {
        Json::Value& row = data_.append(Json::Value(Json::objectValue));
        row["mimetype"] = std::string(kMime) + mime;
        for (const auto& [key, value] : columns)
            row[key] = value;
        return row;
    }

    // Primary of its kind, for the handset and for the account.
    static void Primary(Json::Value& row) {
        row["is_primary"] = "1";
        row["is_super_primary"] = "1";
    }

    std::string Number() {
        static const char* const kFormats[] = {"+1 415-555-%04d", "+86 138 %04d 8000", "(020) 7946 %04d",
                                               "0171 23%04d",     "+33 6 12 34 %04d",  "+81 90-1234-%04d"};
        char buf[40];
        snprintf(buf, sizeof buf, rng_.Pick(kFormats), rng_.Below(10000));
        return buf;
    }

    void Phone(int type, bool primary, const char* label = nullptr) {
        Json::Value& p = Add("phone_v2", {{"data1", Number()}, {"data2", Num(type)}});
        if (label != nullptr)
            p["data3"] = label;
        if (primary)
            Primary(p);
    }

    void Phones(int index) {
        if (index == 0) {
            // Every type the driver maps, three home and three work numbers (the third of each is
            // dropped), and every type it drops.
            for (int t : kMappedPhoneTypes)
                Phone(t, t == 2);
            Phone(1, false);
            Phone(1, false);
            Phone(3, false);
            Phone(3, false);
            Phone(2, false);
            for (int t : kDroppedPhoneTypes)
                Phone(t, false, t == 0 ? "Boat" : nullptr);
            return;
        }
        int count = rng_.Below(4);
        for (int k = 0; k < count; ++k) {
            int type = rng_.Chance(85) ? rng_.Pick(kMappedPhoneTypes) : rng_.Pick(kDroppedPhoneTypes);
            Phone(type, k == 0 && rng_.Chance(50), type == 0 ? "Custom" : nullptr);
        }
    }

    void Emails(int index) {
        int count = index == 1 ? 5 : index == 0 ? 3 : rng_.Below(100) < 55 ? 1 + rng_.Below(3) : 0;
        for (int k = 0; k < count; ++k) {
            Json::Value& e =
                Add("email_v2", {{"data1", "user" + Num(index) + "." + Num(k) + "@" + rng_.Pick(kDomains)},
                                 {"data2", Num(1 + k % 4)}});
            if (k == (count > 1 ? 1 : 0))
                Primary(e);
        }
    }

    void Addresses(int index) {
        int blocks = index == 0 ? 3 : 1 + rng_.Below(3);
        for (int k = 0; k < blocks; ++k) {
            int city = rng_.Below(7);
            Json::Value& a = Add("postal-address_v2", {{"data2", Num(k + 1)}, // home, work, other
                                                       {"data4", kStreets[city]}});
            if (rng_.Chance(30))
                a["data5"] = "PO Box " + Num(100 + rng_.Below(900));
            if (rng_.Chance(30))
                a["data6"] = "Centre";
            a["data7"] = kCities[city];
            a["data8"] = kRegions[city];
            a["data9"] = Num(10000 + rng_.Below(90000));
            a["data10"] = kCountries[city];
            a["data1"] = std::string(kStreets[city]) + "\n" + kCities[city] + "\n" + kCountries[city];
        }
        if (index == 0) // a custom-type block, which the driver does not map
            Add("postal-address_v2", {{"data2", "0"}, {"data3", "Holiday home"}, {"data7", "Sevilla"}});
    }

    void Ims(int index) {
        if (index == 1) { // every protocol, and a custom one
            for (int proto = 0; proto <= 7; ++proto)
                Add("im", {{"data1", "xiaoming" + Num(proto)}, {"data2", "3"}, {"data5", Num(proto)}});
            Add("im",
                {{"data1", "@xiaoming:matrix.org"}, {"data2", "3"}, {"data5", "-1"}, {"data6", "Matrix"}});
            return;
        }
        int proto = rng_.Below(9) - 1;
        Json::Value& im = Add(
            "im", {{"data1", "im" + Num(index)}, {"data2", Num(1 + rng_.Below(3))}, {"data5", Num(proto)}});
        if (proto == -1)
            im["data6"] = "Signal";
    }

    void Events(int index) {
        if (index == 0 || rng_.Chance(35)) {
            char date[48];
            snprintf(date, sizeof date, "%04d-%02d-%02d", 1950 + rng_.Below(55), 1 + rng_.Below(12),
                     1 + rng_.Below(28));
            Add("contact_event", {{"data1", index == 0 ? "1985-04-12" : date}, {"data2", "3"}}); // birthday
        }
        if (index == 0 || rng_.Chance(10))
            Add("contact_event", {{"data1", "2010-06-14"}, {"data2", "1"}}); // anniversary
        if (index == 0)
            Add("contact_event", {{"data1", "2020-02-29"}, {"data2", "2"}}); // "other": not mapped
    }

    void Groups(int index, bool starred) {
        if (index == 0) {
            Membership(system_[1]); // Friends
            Membership(user_[0]);
            return;
        }
        if (rng_.Chance(60))
            Membership(system_[0]); // My Contacts
        if (rng_.Chance(20))
            Membership(system_[1 + rng_.Below(static_cast<int>(system_.size()) - 1)]);
        if (rng_.Chance(starred ? 40 : 15))
            Membership(user_[rng_.Below(static_cast<int>(user_.size()))]);
    }

    void Membership(int64_t group) { Add("group_membership", {{"data1", Num(group)}}); }

    void Photo(int index, int size) {
        std::string png = MakePng(size, size, 0x5eedull * 31 + index);
        Add("photo", {{"data15", Base64Encode(png.data(), png.size())}});
    }

    Rng& rng_;
    const std::vector<int64_t>& system_;
    const std::vector<int64_t>& user_;
    Json::Value data_;
};

// --- calendar ----------------------------------------------------------------------------------

struct Instance { // a modified or cancelled occurrence of a recurring event
    int64_t original;
    bool cancelled;
    int64_t shiftMs;
    std::string title;
};

Instance Cancelled(int64_t original) {
    return Instance{original, true, 0, std::string()};
}
Instance Moved(int64_t original, int64_t shift, std::string title) {
    return Instance{original, false, shift, std::move(title)};
}

struct EventSpec {
    std::string title, description, location, rrule, timezone = "UTC";
    int64_t start = 0, end = 0; // end of the first occurrence
    bool allDay = false;
    int calendar = 1;
    std::vector<int> reminders;
    std::vector<Instance> instances;
};

const int64_t kHour = 3600000, kDay = 24 * kHour;

Json::Value EventRow(const EventSpec& s) {
    Json::Value r(Json::objectValue);
    r["calendar_id"] = Num(s.calendar);
    r["title"] = s.title;
    if (!s.description.empty())
        r["description"] = s.description;
    if (!s.location.empty())
        r["eventLocation"] = s.location;
    r["dtstart"] = Num(s.start);
    r["allDay"] = s.allDay ? "1" : "0";
    r["eventTimezone"] = s.timezone;
    if (s.rrule.empty()) {
        r["dtend"] = Num(s.end);
    } else {
        // Recurring events keep a duration instead of an end, as the calendar provider does.
        r["rrule"] = s.rrule;
        r["duration"] =
            s.allDay ? "P" + Num((s.end - s.start) / kDay) + "D" : "P" + Num((s.end - s.start) / 1000) + "S";
        std::string exdate;
        for (const Instance& i : s.instances)
            exdate += (exdate.empty() ? "" : ",") + UtcStamp(i.original);
        if (!exdate.empty())
            r["exdate"] = exdate;
    }
    r["hasAlarm"] = s.reminders.empty() ? "0" : "1";
    if (!s.reminders.empty()) {
        Json::Value& data = r["__data"] = Json::Value(Json::arrayValue);
        for (int m : s.reminders) {
            Json::Value a(Json::objectValue);
            a["method"] = "1";
            a["minutes"] = Num(m);
            data.append(a);
        }
    }
    return r;
}

Json::Value ExceptionRow(const EventSpec& s, const Instance& i, int64_t parent) {
    Json::Value r(Json::objectValue);
    r["calendar_id"] = Num(s.calendar);
    r["parentID"] = Num(parent);
    r["title"] = i.title;
    r["eventLocation"] = s.location;
    r["dtstart"] = Num(i.original + i.shiftMs);
    r["dtend"] = Num(i.original + i.shiftMs + (s.end - s.start));
    r["allDay"] = s.allDay ? "1" : "0";
    r["originalInstanceTime"] = Num(i.original);
    r["originalAllDay"] = s.allDay ? "1" : "0";
    r["eventTimezone"] = s.timezone;
    r["hasAlarm"] = s.reminders.empty() ? "0" : "1";
    if (!s.reminders.empty()) {
        Json::Value a(Json::objectValue);
        a["method"] = "1";
        a["minutes"] = Num(s.reminders[0] + 15);
        r["__data"].append(a);
    }
    return r;
}

// The fixed events every seeded store starts with.
std::vector<EventSpec> Showcase() {
    std::vector<EventSpec> v;
    auto add = [&v](std::string title, int64_t start, int64_t length) -> EventSpec& {
        EventSpec s;
        s.title = std::move(title);
        s.start = start;
        s.end = start + length;
        v.push_back(s);
        return v.back();
    };
    add("Team sync", UtcMs(2026, 1, 12, 9, 0), kHour).reminders = {15};
    {
        EventSpec& e = add("New Year's Day", UtcMs(2026, 1, 1), kDay);
        e.allDay = true;
    }
    {
        EventSpec& e = add("Stand-up", UtcMs(2026, 1, 5, 9, 30), 15 * 60000);
        e.rrule = "FREQ=DAILY;COUNT=10";
        e.reminders = {5};
        int64_t third = e.start + 3 * kDay, fifth = e.start + 5 * kDay;
        e.instances = {Moved(third, 30 * 60000, "Stand-up (moved)"), Cancelled(fifth)};
    }
    {
        // 18:00 at UTC+8 on Mondays, Wednesdays and Fridays; the next Monday is cancelled.
        EventSpec& e = add("Gym", UtcMs(2026, 1, 5, 10, 0), kHour);
        e.rrule = "FREQ=WEEKLY;UNTIL=20260331T100000Z;WKST=MO;BYDAY=MO,WE,FR";
        e.timezone = "480;60";
        e.location = "Fitness Center 健身房";
        e.instances = {Cancelled(e.start + 7 * kDay)};
    }
    {
        EventSpec& e = add("Office hours", UtcMs(2026, 1, 5, 14, 0), 2 * kHour);
        e.rrule = "FREQ=WEEKLY;COUNT=20;WKST=SU;BYDAY=MO,TU,WE,TH,FR";
    }
    {
        EventSpec& e = add("Rent", UtcMs(2026, 2, 1), kDay);
        e.allDay = true;
        e.rrule = "FREQ=MONTHLY;BYMONTHDAY=1";
        e.reminders = {1440};
    }
    {
        // 19:00 in a zone one hour east with daylight saving; the last Friday of each month.
        EventSpec& e = add("Pub quiz", UtcMs(2026, 1, 30, 18, 0), 3 * kHour);
        e.rrule = "FREQ=MONTHLY;WKST=MO;BYDAY=-1FR";
        e.timezone = "60;60";
    }
    {
        EventSpec& e = add("Board meeting", UtcMs(2026, 1, 12, 19, 0), 90 * 60000);
        e.rrule = "FREQ=MONTHLY;COUNT=12;BYDAY=2MO";
        e.timezone = "-300;60";
        e.reminders = {30};
    }
    {
        EventSpec& e = add("Wedding anniversary 💍", UtcMs(2026, 6, 14), kDay);
        e.allDay = true;
        e.rrule = "FREQ=YEARLY;BYMONTH=6;BYMONTHDAY=14";
        e.reminders = {1440};
    }
    {
        EventSpec& e = add("Clocks go back", UtcMs(2026, 10, 25), kDay);
        e.allDay = true;
        e.rrule = "FREQ=YEARLY;BYDAY=-1SU;BYMONTH=10";
    }
    {
        // 09:00 in New York every day for two weeks across the spring change (8 March 2026):
        // 14:00 UTC before it, 13:00 UTC after.
        EventSpec& e = add("Daily call (New York)", UtcMs(2026, 3, 2, 14, 0), 30 * 60000);
        e.rrule = "FREQ=DAILY;COUNT=14";
        e.timezone = "-300;60";
    }
    {
        // Through the night the clocks go forward in central Europe (29 March 2026).
        EventSpec& e = add("Night train Paris → Wien", UtcMs(2026, 3, 28, 21, 30), 8 * kHour + 30 * 60000);
        e.timezone = "60;60";
        e.location = "Gare de l'Est";
        e.description = "Sleeper car 3, berth 41.\nBreakfast included.";
    }
    {
        EventSpec& e = add("Autumn weekend", UtcMs(2026, 10, 24), 2 * kDay);
        e.allDay = true;
    }
    {
        EventSpec& e = add("Sprint review", UtcMs(2026, 1, 8, 15, 0), kHour);
        e.rrule = "FREQ=WEEKLY;UNTIL=20260630T150000Z;INTERVAL=2;BYDAY=TH";
        e.reminders = {10};
        e.location = "Room Ørsted";
        e.instances = {Moved(e.start + 28 * kDay, kHour, "Sprint review (later)"),
                       Cancelled(e.start + 56 * kDay),
                       Moved(e.start + 84 * kDay, -kHour, "Sprint review — demo day")};
    }
    {
        EventSpec& e = add("家庭聚会 🎉", UtcMs(2026, 2, 17, 10, 0), 4 * kHour);
        e.timezone = "480;0";
        e.location = "北京市朝阳区";
        e.description = "带饺子。\nBring dumplings.\n🥟🥟🥟";
        e.reminders = {10, 60};
    }
    {
        EventSpec& e = add("Water the plants", UtcMs(2026, 1, 2, 8, 0), 10 * 60000);
        e.rrule = "FREQ=DAILY;UNTIL=20260201T080000Z;INTERVAL=3";
    }
    {
        EventSpec& e = add("Synced from the PC", UtcMs(2026, 4, 1, 12, 0), kHour);
        e.calendar = 4;
    }
    {
        EventSpec& e = add("🎂 José's birthday", UtcMs(2026, 4, 12), kDay);
        e.allDay = true;
        e.rrule = "FREQ=YEARLY;BYMONTH=4;BYMONTHDAY=12";
    }
    return v;
}

EventSpec RandomEvent(Rng& rng, int index) {
    static const char* const kTitlesEv[] = {"Dentist",   "Lunch with Zoë",  "Réunion budget", "会议",
                                            "Yoga 🧘", "Flight LH 720",   "Code review",    "面談",
                                            "Concert",   "Parents' evening"};
    static const char* const kZones[] = {"UTC", "480;60", "480;0", "-300;60", "60;60", "0;0", "330;0"};
    EventSpec e;
    e.title = std::string(rng.Pick(kTitlesEv)) + " #" + Num(index);
    int64_t day = platform::DaysFromCivil(2025, 6, 1) + rng.Below(730);
    int kind = rng.Below(100);
    if (kind < 15) {
        e.allDay = true;
        e.start = day * kDay;
        e.end = e.start + (1 + rng.Below(3)) * kDay;
    } else {
        e.start = day * kDay + (6 + rng.Below(14)) * kHour + rng.Below(4) * 15 * 60000;
        e.end = e.start + (1 + rng.Below(8)) * 15 * 60000;
        e.timezone = rng.Pick(kZones);
    }
    if (rng.Chance(30))
        e.reminders.push_back(rng.Chance(50) ? 15 : 60);
    if (rng.Chance(20))
        e.location = "Room " + Num(100 + rng.Below(400));
    if (kind >= 50) {
        // Rules that agree with the first occurrence, as a calendar app writes them.
        static const char* const kDays[] = {"SU", "MO", "TU", "WE", "TH", "FR", "SA"};
        int64_t y;
        unsigned m, d;
        platform::CivilFromDays(day, &y, &m, &d);
        const int wd = static_cast<int>((day % 7 + 11) % 7); // 1970-01-01 was a Thursday
        int r = rng.Below(6);
        switch (r) {
        case 0:
            e.rrule = "FREQ=DAILY;COUNT=" + Num(3 + rng.Below(10));
            break;
        case 1:
            e.rrule = std::string("FREQ=WEEKLY;BYDAY=") + kDays[wd];
            break;
        case 2:
            e.rrule = std::string("FREQ=WEEKLY;INTERVAL=2;BYDAY=") + kDays[std::min(wd, (wd + 3) % 7)] + "," +
                      kDays[std::max(wd, (wd + 3) % 7)];
            break;
        case 3:
            e.rrule = "FREQ=MONTHLY;BYMONTHDAY=" + Num(d);
            break;
        case 4:
            e.rrule = "FREQ=MONTHLY;BYDAY=" + std::string(d > 28 ? "-1" : Num((d - 1) / 7 + 1)) + kDays[wd];
            break;
        default:
            e.rrule = "FREQ=YEARLY;BYMONTH=" + Num(m) + ";BYMONTHDAY=" + Num(d);
            break;
        }
        if (rng.Chance(25))
            e.rrule += ";UNTIL=" + UtcStamp(e.start + 120 * kDay);
        // Cancel and move occurrences only where they fall on whole days from the start.
        if ((r == 0 || r == 1) && rng.Chance(30) &&
            (e.allDay || e.timezone == "UTC" || e.timezone == "480;0")) {
            int64_t step = r == 0 ? kDay : 7 * kDay;
            e.instances.push_back(Cancelled(e.start + step));
            if (rng.Chance(50))
                e.instances.push_back(Moved(e.start + 2 * step, e.allDay ? 0 : kHour, e.title + " (moved)"));
        }
    }
    return e;
}

} // namespace

StoreResult Seed(Store& store, const SeedOptions& o) {
    if (o.contacts < 0 || o.events < 0)
        return StoreResult::Fail("counts must not be negative");
    const int64_t base = UtcMs(2026, 3, 1) + static_cast<int64_t>(o.seed % 1000) * 60000;
    StoreResult result;
    const int64_t clock = store.FixedClock();
    StoreResult batch = store.Batch([&](Store& s) {
        std::vector<int64_t> system, user;
        {
            // The account's system groups exist in every store; add the seeded user groups.
            for (const char* title : {"My Contacts", "Friends", "Family", "Coworkers"}) {
                std::string id;
                s.GroupIdForTitle(title, &id);
                system.push_back(std::stoll(id));
            }
            for (const char* title : {"Book club", "Climbing 🧗", "同事", "Équipe Paris"}) {
                std::string id;
                if (!(result = s.GroupIdForTitle(title, &id)).ok)
                    return false;
                user.push_back(std::stoll(id));
            }
        }
        Json::Value answers;
        for (int i = 0; i < o.contacts; ++i) {
            Rng rng(o.seed * 0x100000001b3ull + static_cast<uint64_t>(i));
            ContactMaker maker(rng, system, user);
            Json::Value batch(Json::arrayValue);
            batch.append(maker.Make(i));
            s.SetFixedClock(base - static_cast<int64_t>(o.contacts - i) * 3600000);
            if (!(result = s.CreateContacts(batch, Origin::kDriver, &answers)).ok)
                return false;
        }
        std::vector<EventSpec> showcase = Showcase();
        Rng rng(o.seed ^ 0xca1e0da7ull);
        for (int j = 0; j < o.events; ++j) {
            EventSpec e = j < static_cast<int>(showcase.size()) ? showcase[j] : RandomEvent(rng, j);
            s.SetFixedClock(base - static_cast<int64_t>(o.events - j) * 600000);
            Json::Value batch(Json::arrayValue);
            batch.append(EventRow(e));
            if (!(result = s.CreateEvents(batch, Origin::kDriver, &answers)).ok)
                return false;
            int64_t parent = std::stoll(answers[0]["__id"].asString());
            Json::Value exceptions(Json::arrayValue);
            for (const Instance& i : e.instances)
                if (!i.cancelled)
                    exceptions.append(ExceptionRow(e, i, parent));
            if (!exceptions.empty() && !(result = s.CreateEvents(exceptions, Origin::kDriver, &answers)).ok)
                return false;
        }
        return true;
    });
    store.SetFixedClock(clock);
    return result.ok && !batch.ok ? batch : result;
}

} // namespace kxsim
