#include "contacts/contact_mapping.h"

#include <kxphone/contact_record.h>

#include <gtest/gtest.h>
#include <json/json.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "contacts/contact_groups.h"
#include "driver/app.h"
#include "support/test_util.h"
#include "support/trace_capture.h"
#include "transport/text_encoding.h"

namespace {

namespace fs = std::filesystem;

using kxtest::ParseJson;

typedef std::vector<std::pair<int32_t, std::string>> FieldList;

FieldList Fields(const ContactRecord& r) {
    FieldList out;
    for (int32_t i = 0; i < r.GetFieldCount(); ++i)
        out.emplace_back(r.GetField(i)->nType, WideToUtf8(r.GetField(i)->strData));
    return out;
}

// The fields as "type=text|type=text".
std::string Text(const FieldList& fields) {
    std::string s;
    for (const auto& f : fields)
        s += (s.empty() ? "" : "|") + std::to_string(f.first) + "=" + f.second;
    return s;
}

// Group lookups answered from two tables, counting requests; unknown keys fail.
struct FakeGroupService {
    std::map<std::string, std::string> titles; // id -> title
    std::map<std::string, std::string> ids;    // title -> id
    std::vector<std::string> requests;

    void Install() {
        theApp.m_FakePhone.m_ContactGroups.Clear();
        theApp.m_FakePhone.m_ContactGroups.SetRequester([this](const std::string& body, std::string* answer) {
            requests.push_back(body);
            const std::string titleCmd = "cmd=get_group_title;value=", idCmd = "cmd=get_group_id;value=";
            const auto& table = body.compare(0, titleCmd.size(), titleCmd) == 0 ? titles : ids;
            std::string key = body.substr(body.find("value=") + 6);
            auto it = table.find(key);
            if (it == table.end())
                return false;
            *answer = it->second;
            return true;
        });
    }
    ~FakeGroupService() {
        theApp.m_FakePhone.m_ContactGroups.SetRequester(nullptr);
        theApp.m_FakePhone.m_ContactGroups.Clear();
    }
};

// The application-data folder lies in a fresh temporary directory; pictures go below it.
struct TempAppData : kxtest::TempAppDataEnv {
    TempAppData() : TempAppDataEnv(true, "share") {}
    fs::path pictures() { return fs::path(AppDataDir()) / "Vexo" / "data"; }
};

Json::Value Contact(const std::string& rows, const std::string& extra = "") {
    return ParseJson(R"({"account_name":"pcsc","__id":"7",)" + extra + R"("__data":)" + rows + "}");
}

int ToRecord(const Json::Value& contact, ContactRecord* r) {
    return kxconv::ToContactEx(contact, r, theApp.m_FakePhone.m_ContactGroups);
}

std::string ReadRows(const std::string& rows) {
    ContactRecord r;
    EXPECT_EQ(1, ToRecord(Contact(rows), &r));
    return Text(Fields(r));
}

// "key=text|key=text" as pairs.
std::vector<std::pair<std::string, std::string>> Pairs(const std::string& spec) {
    std::vector<std::pair<std::string, std::string>> out;
    for (size_t at = 0, end; at < spec.size(); at = end + 1) {
        end = std::min(spec.find('|', at), spec.size());
        size_t eq = spec.find('=', at);
        out.emplace_back(spec.substr(at, eq - at), spec.substr(eq + 1, end - eq - 1));
    }
    return out;
}

// A service row of a kind with the members "data1=text|data2=text" (texts as JSON writes them).
std::string Row(const std::string& kind, const std::string& members) {
    std::string row = "{\"mimetype\":\"vnd.android.cursor.item/" + kind + "\"";
    for (const auto& [key, text] : Pairs(members))
        row += ",\"" + key + "\":\"" + text + "\"";
    return row + "}";
}
const char kPrimary[] = "|is_primary=1|is_super_primary=1";
std::string Phone(const std::string& number, const std::string& type, const char* more = "") {
    return Row("phone_v2", "data1=" + number + "|data2=" + type + more);
}
std::string Email(const std::string& address, const char* more = "") {
    return Row("email_v2", "data1=" + address + more);
}
std::string Group(const std::string& id) {
    return Row("group_membership", "data1=" + id);
}
// The rows as a JSON array.
std::string Rows(std::initializer_list<std::string> rows) {
    std::string out;
    for (const std::string& r : rows)
        out += (out.empty() ? "[" : ",") + r;
    return out + "]";
}

struct ReadCase {
    const char* name;
    std::string rows;
    const char* fields;
};

// ---------------------------------------------------------------- reading, by row kind

TEST(ContactMappingRead, RowKinds) {
    const ReadCase cases[] = {
        {"name", Rows({Row("name", "data1=Ann Lee|data2=Ann|data3=Lee|data7=an|data9=li")}),
         "1=Ann|2=Lee|4037=an|4038=li"},
        {"name, empty parts add nothing", Rows({Row("name", "data2=|data3=Lee")}), "2=Lee"},
        {"organization", Rows({Row("organization", "data1=Vexo|data4=CTO")}), "4004=Vexo|4015=CTO"},
        {"addresses",
         Rows({Row("postal-address_v2", "data2=1|data4=s|data6=n|data5=p|data7=c|data8=r|data9=z|data10=k"),
               Row("postal-address_v2", "data2=2|data4=ws|data10=wk"),
               Row("postal-address_v2", "data2=3|data5=op"), Row("postal-address_v2", "data2=0|data4=custom"),
               Row("postal-address_v2", "data4=no kind")}),
         "2002=s|2003=n|2019=p|2004=c|2005=r|2006=z|2008=k|2010=ws|2016=wk|2030=op"},
        {"home and work numbers: first, second, then dropped; empty numbers do not count",
         Rows({Phone("", "1"), Phone("h1", "1"), Phone("h2", "1"), Phone("h3", "1"), Phone("w1", "3"),
               Phone("w2", "3"), Phone("w3", "3")}),
         "102=h1|103=h2|100=w1|101=w2"},
        {"every other phone type, and the dropped ones",
         Rows({Phone("4", "4"), Phone("5", "5"), Phone("6", "6"), Phone("7", "7"), Phone("8", "8"),
               Phone("9", "9"), Phone("10", "10"), Phone("12", "12"), Phone("14", "14"), Phone("19", "19"),
               Phone("20", "20"), Phone("0", "0"), Row("phone_v2", "data1=none")}),
         "112=4|111=5|106=6|108=7|114=9|116=10|119=14|117=19"},
        {"five e-mails, an empty one skipped",
         Rows({Email("a@x"), Email(""), Email("b@x"), Email("c@x"), Email("d@x"), Email("e@x")}),
         "1000=a@x|1001=b@x|1002=c@x|1003=d@x|1004=e@x"},
        {"instant messaging",
         Rows({Row("im", "data1=p0|data5=0"), Row("im", "data1=p7|data5=7"),
               Row("im", "data1=me|data5=-1|data6=Skype"), Row("im", "data1=bare|data5=-1"),
               Row("im", "data1=eight|data5=8"), Row("im", "data1=named|data5=8|data6=Jabber")}),
         "4023=p0|4030=p7|4022=Skype:me|4022=:bare|4022=eight|4022=Jabber:named"},
        {"events",
         Rows({Row("contact_event", "data1=1980-05-17T00:00:00Z|data2=3"),
               Row("contact_event", "data1=2001-06-02|data2=1"),
               Row("contact_event", "data1=2002-01-01|data2=2")}),
         "4003=1980-05-17|4019=2001-06-02"},
        {"note line breaks", Rows({Row("note", "data1=one\\ntwo\\n")}), "3002=one\r\ntwo\r\n"},
        {"ignored rows",
         Rows({Row("vexo_event_v2", "data1=x"), Row("Name", "data2=x"), R"({"data1":"no type"})",
               R"("not a row")", "7", Row("relation", "data1=x")}),
         ""},
        {"non-ASCII text", Rows({Row("name", "data2=\xe5\xbc\xa0\xe4\xb8\x89 \xf0\x9f\x98\x80")}),
         "1=\xe5\xbc\xa0\xe4\xb8\x89 \xf0\x9f\x98\x80"},
    };
    for (const ReadCase& c : cases) {
        EXPECT_EQ(c.fields, ReadRows(c.rows)) << c.name;
    }
}

// E-mail types run from 1000 up to 1499; past that the numbers name web sites and addresses.
TEST(ContactMappingRead, EMailNumbersStopBeforeOtherTypes) {
    std::string rows = "[";
    for (int i = 0; i < 520; ++i)
        rows += Email("m" + std::to_string(i) + "@x") + ",";
    rows += Row("website", "data1=http://x") + "]";
    std::string got = ReadRows(rows);
    EXPECT_EQ(501, std::count(got.begin(), got.end(), '|') + 1);
    EXPECT_EQ("|1499=m499@x|1500=http://x", got.substr(got.rfind("|1499=")));
}

TEST(ContactMappingRead, AccountIdAndTimes) {
    struct Case {
        std::string json;
        int result;
    };
    const Case cases[] = {
        {R"({"account_name":"pcsc","__id":"1"})", 1},
        {R"({"account_name":"  PCSC  ","__id":"1"})", 1},
        {R"({"account_name":"PcSc","__id":"1"})", 1},
        {R"({"account_name":"Google","__id":"1"})", 0},
        {R"({"account_name":"pcsc2","__id":"1"})", 0},
        {R"({"__id":"1"})", 0},
        {R"([1,2])", 0},
        {R"("pcsc")", 0},
    };
    for (const Case& c : cases) {
        ContactRecord r;
        EXPECT_EQ(c.result, ToRecord(ParseJson(c.json), &r)) << c.json;
        if (c.result == 0) {
            EXPECT_EQ(0, r.dtLocation);
            EXPECT_EQ(0, r.GetFieldCount());
        }
    }

    ContactRecord r;
    {
        kxtest::ScopedEnvVar tz("TZ", "Asia/Shanghai");
        ASSERT_EQ(1, ToRecord(ParseJson(R"({"account_name":"pcsc","__id":" 42 ","sync4":"1326758400000",
            "__data":"not rows"})"),
                              &r));
    }
    EXPECT_EQ(1, r.dtLocation);
    EXPECT_EQ(42, r.lPhoneMemory);
    EXPECT_EQ(u" 42 ", r.strPIMID);
    platform::CivilTime c;
    ASSERT_TRUE(r.strLastModify.ToCivil(&c));
    // UTC midnight is eight in the morning in Shanghai.
    EXPECT_EQ(std::make_tuple(2012, 1, 17, 8), std::make_tuple(c.year, c.month, c.day, c.hour));
    EXPECT_EQ(0, r.GetFieldCount());
}

TEST(ContactMappingRead, GroupsAndFavorite) {
    FakeGroupService groups;
    groups.titles = {{"3", "Family"}, {"4", "Friends"}, {"6", "System Group: My Contacts"}};
    groups.Install();

    ContactRecord a;
    ASSERT_EQ(1, ToRecord(Contact(Rows({Group("3"), Group("4"), Group("")}), R"("starred":"1",)"), &a));
    EXPECT_EQ("3018=Family;Friends;Vexo Favorite", Text(Fields(a)));
    EXPECT_EQ(2u, groups.requests.size());
    EXPECT_EQ("cmd=get_group_title;value=3", groups.requests[0]);

    // The second contact in the same groups costs nothing; a system group loses its prefix; a
    // group the handset does not name is left out and asked again next time.
    ContactRecord b;
    ASSERT_EQ(1, ToRecord(Contact(Rows({Group("4"), Group("6"), Group("9")}), R"("starred":0,)"), &b));
    EXPECT_EQ("3018=Friends;My Contacts", Text(Fields(b)));
    EXPECT_EQ(4u, groups.requests.size());
    ContactRecord c;
    ASSERT_EQ(1, ToRecord(Contact(Rows({Group("9")}), R"("starred":"1",)"), &c));
    EXPECT_EQ("3018=Vexo Favorite", Text(Fields(c)));
    EXPECT_EQ(5u, groups.requests.size());
    EXPECT_EQ("cmd=get_group_title;value=9", groups.requests.back());
}

// Bytes that are no UTF-8 reach the host as U+FFFD, and the contact says how many texts held them.
TEST(ContactMappingRead, TextThatIsNotUtf8) {
    kxtest::TraceCapture trace;
    EXPECT_EQ("1=Ann|4005=Zo\xEF\xBF\xBDy",
              ReadRows(Rows({Row("name", "data2=Ann"), Row("nickname", "data1=Zo\xc3y")})));
    EXPECT_EQ(1u, trace
                      .LinesWith({"[Caller=kxconv::ToContactEx],[Action=Error],[Function=PIM ID=7: 1 texts "
                                  "are not UTF-8, U+FFFD given in place]"})
                      .size());
}

TEST(ContactMappingRead, PicturesLandInFiles) {
    TempAppData appData;
    // "PNG" in base64 with the service's line breaks and a stray character.
    const std::string photo = Row("photo", "data15=iVBO\\r\\nRw0K*Ggo=");
    ContactRecord named;
    ASSERT_EQ(1, ToRecord(Contact(Rows({Row("name", "data2=Ann"), photo})), &named));
    ASSERT_EQ(1, named.GetFieldCount());
    std::string path = WideToUtf8(named.GetField(0)->strFilePath);
    EXPECT_EQ(appData.pictures(), fs::path(path).parent_path());
    std::string file = fs::path(path).filename().string();
    EXPECT_EQ("pic", file.substr(0, 3));
    EXPECT_EQ(".png", file.substr(file.size() - 4));
    EXPECT_EQ(std::string("\x89PNG\r\n\x1a\n", 8), kxtest::FileBytes(path));

    // Without a name the picture gets a holder of its own; the same bytes share one file.
    ContactRecord nameless;
    ASSERT_EQ(1, ToRecord(Contact(Rows({Phone("1", "2"), photo})), &nameless));
    ASSERT_EQ(2, nameless.GetFieldCount());
    EXPECT_EQ(KX_CF_PICTURE_HOLDER, nameless.GetField(1)->nType);
    EXPECT_TRUE(nameless.GetField(1)->strData.empty());
    EXPECT_EQ(path, WideToUtf8(nameless.GetField(1)->strFilePath));

    // A photo that decodes to nothing leaves the record without a picture.
    ContactRecord none;
    ASSERT_EQ(1, ToRecord(Contact(Rows({Row("photo", "data15=***"), Row("photo", "")})), &none));
    EXPECT_EQ(0, none.GetFieldCount());
    EXPECT_EQ(1, std::distance(fs::directory_iterator(appData.pictures()), fs::directory_iterator()));

    // A file of that name holding other bytes is left alone: the picture goes to a name of its own.
    std::ofstream(path, std::ios::binary | std::ios::trunc) << "other";
    ContactRecord again;
    ASSERT_EQ(1, ToRecord(Contact("[" + photo + "]"), &again));
    std::string other = WideToUtf8(again.GetField(0)->strFilePath);
    EXPECT_NE(path, other);
    EXPECT_EQ(appData.pictures(), fs::path(other).parent_path());
    EXPECT_EQ(8u, fs::file_size(other));
    EXPECT_EQ(5u, fs::file_size(path));
}

TEST(ContactMappingRead, PictureFolderUnusableFallsBackToTheTemporaryFolder) {
    TempAppData appData;
    // The application-data "folder" is a file: the picture folder cannot be made in it.
    std::ofstream(appData.dir() + "/share") << "x";
    fs::create_directory(appData.dir() + "/tmp");
    kxtest::ScopedEnvVar tmp("TMPDIR", (appData.dir() + "/tmp").c_str());
    ContactRecord r;
    ASSERT_EQ(1,
              ToRecord(Contact(Rows({Row("name", "data2=Ann"), Row("photo", "data15=iVBORw0KGgo=")})), &r));
    ASSERT_EQ(1, r.GetFieldCount());
    fs::path path(WideToUtf8(r.GetField(0)->strFilePath));
    EXPECT_EQ(fs::path(appData.dir()) / "tmp", path.parent_path());
    EXPECT_EQ(8u, fs::file_size(path));
}

// ---------------------------------------------------------------- writing, by row kind

// A record from "type=text|type=text".
ContactRecord Record(const std::string& fields) {
    ContactRecord r;
    for (const auto& [type, text] : Pairs(fields))
        r.AppendField(ContactField(std::stoi(type), Utf8ToWide(text)));
    return r;
}

Json::Value Written(const ContactRecord& r, int* count = nullptr) {
    Json::Value object;
    int n = -1;
    EXPECT_EQ(1, kxconv::FromContactEx(r, &object, &n, theApp.m_FakePhone.m_ContactGroups));
    if (count)
        *count = n;
    return object;
}

struct WriteCase {
    const char* name;
    const char* fields;
    std::string rows; // expected "__data"
};

TEST(ContactMappingWrite, RowKinds) {
    const WriteCase cases[] = {
        {"two mobiles and a work number", "104=1|104=2|100=3",
         Rows({Phone("1", "2", kPrimary), Phone("2", "2"), Phone("3", "3")})},
        {"work fax before home fax", "112=w|111=h", Rows({Phone("w", "4", kPrimary), Phone("h", "5")})},
        // Home fax yields to a work fax anywhere in the record.
        {"home fax before work fax", "111=h|112=w", Rows({Phone("h", "5"), Phone("w", "4", kPrimary)})},
        {"company main number beats home numbers", "102=h|116=m",
         Rows({Phone("h", "1"), Phone("m", "10", kPrimary)})},
        {"every phone type sent", "103=a|101=b|106=c|108=d|114=e|119=f|117=g",
         Rows({Phone("a", "1"), Phone("b", "3", kPrimary), Phone("c", "6"), Phone("d", "7"), Phone("e", "9"),
               Phone("f", "14"), Phone("g", "19")})},
        {"e-mail primary: 1000 over 1001", "1001=b|1000=a|1003=d",
         Rows({Email("b"), Email("a", kPrimary), Email("d")})},
        {"e-mail primary: 1001 without 1000", "1002=c|1001=b", Rows({Email("c"), Email("b", kPrimary)})},
        {"instant messaging", "4023=p0|4030=p7|4022=:bare|4022=Skype:me:too|4022=plain",
         Rows({Row("im", "data1=p0|data2=3|data5=0"), Row("im", "data1=p7|data2=3|data5=7"),
               Row("im", "data1=bare|data2=3|data5=-1|data6=Custom"),
               Row("im", "data1=me:too|data2=3|data5=-1|data6=Skype"), Row("im", "data1=plain|data2=3")})},
        {"nickname, web site, events", "4005=Nan|1500=http://x|4003=1980-05-17|4019=2001-06-02",
         Rows({Row("nickname", "data1=Nan|data2=1"), Row("website", "data1=http://x|data2=7"),
               Row("contact_event", "data1=1980-05-17|data2=3"),
               Row("contact_event", "data1=2001-06-02|data2=1")})},
        {"note: line breaks, a trailing one dropped", "3002=one\r\ntwo\r",
         Rows({Row("note", "data1=one\\ntwo")})},
        {"name, addresses and organization complete after the loop, in their order",
         "4015=CTO|2038=ok|2002=hs|2=Lee|1=Ann|2011=wn|4037=an|4038=li|2019=hp|104=m|7777=unknown",
         Rows({Phone("m", "2", kPrimary), Row("name", "data2=Ann|data3=Lee|data7=an|data9=li"),
               Row("postal-address_v2", "data2=1|data4=hs|data5=hp"),
               Row("postal-address_v2", "data2=2|data6=wn"), Row("postal-address_v2", "data2=3|data10=ok"),
               Row("organization", "data2=1|data4=CTO")})},
    };
    for (const WriteCase& c : cases) {
        Json::Value object = Written(Record(c.fields));
        EXPECT_EQ(ParseJson(c.rows), object["__data"])
            << c.name << "\n got: " << object["__data"].toStyledString();
    }
}

TEST(ContactMappingWrite, ContactFrameAndCount) {
    FakeGroupService groups;
    groups.ids = {{"Family", "3"}, {"Friends", "4"}};
    groups.Install();
    ContactRecord r = Record("1=Ann|3018=Family;vexo FAVORITE;Friends;Unknown|104=1|2002=s");
    r.strPIMID = u"12";
    int count = 0;
    Json::Value object = Written(r, &count);
    // 4 fields + 4 titles + name row + home row + id
    EXPECT_EQ(11, count);
    const std::string frame =
        R"({"account_name":"pcsc","account_type":"com.vexo.android.pcsc","sourceid":"5",)";
    EXPECT_EQ(ParseJson(frame + R"("starred":"1","__id":"12","__data":)" +
                        Rows({Group("3"), Group("4"), Phone("1", "2", kPrimary), Row("name", "data2=Ann"),
                              Row("postal-address_v2", "data2=1|data4=s")}) +
                        "}"),
              object);
    EXPECT_EQ((std::vector<std::string>{"cmd=get_group_id;value=Family", "cmd=get_group_id;value=Friends",
                                        "cmd=get_group_id;value=Unknown"}),
              groups.requests);
    // Titles learnt once are not asked again; the one that failed is.
    Written(r);
    EXPECT_EQ(4u, groups.requests.size());

    ContactRecord bare;
    object = Written(bare, &count);
    EXPECT_EQ(0, count);
    EXPECT_EQ(ParseJson(frame + R"("__data":[]})"), object);
}

TEST(ContactMappingWrite, LongValuesAreCutToWholeCharacters) {
    struct Case {
        const char* name;
        std::u16string value;
        size_t chars; // UTF-16 units sent
    };
    const Case cases[] = {
        {"3000 Chinese characters: 1706 of 3 bytes", std::u16string(3000, u'\u5f20'), 1706},
        {"6000 ASCII characters", std::u16string(6000, u'a'), 5120},
        {"carriage returns removed first", std::u16string(5200, u'\r') + u"ab", 2},
        {"pairs are never split",
         [] {
             std::u16string s;
             for (int i = 0; i < 3000; ++i)
                 s += u"\U0001F600";
             return s;
         }(),
         2560},
        {"a pair at the character cut", std::u16string(5119, u'a') + u"\U0001F600", 5119},
    };
    for (const Case& c : cases) {
        Json::Value object = Written(Record("3002=" + WideToUtf8(c.value)));
        std::string sent = object["__data"][0]["data1"].asString();
        std::u16string wide = Utf8ToWide(sent);
        EXPECT_EQ(c.chars, wide.size()) << c.name;
        EXPECT_LE(sent.size(), kMaxSentBytes) << c.name;
        EXPECT_EQ(wide.find(u'\ufffd'), std::u16string::npos) << c.name;
    }
}

TEST(ContactMappingWrite, Pictures) {
    TempAppData appData;
    auto file = [&](const char* name, size_t size) {
        std::string path = appData.dir() + "/" + name;
        std::ofstream(path, std::ios::binary) << std::string(size, 'P');
        return Utf8ToWide(path);
    };
    struct Case {
        const char* name;
        std::u16string path;
        bool sent;
    };
    const Case cases[] = {
        {"small", file("small.png", 3), true},
        {"just under the limit", file("under.png", 307199), true},
        {"at the limit", file("limit.png", 307200), false},
        {"empty file", file("empty.png", 0), false},
        {"missing", Utf8ToWide(appData.dir() + "/missing.png"), false},
        // Nobody writes into the pipe: opening it would wait for ever.
        {"a pipe",
         [&] {
             std::string path = appData.dir() + "/pipe.png";
             EXPECT_EQ(0, mkfifo(path.c_str(), 0600));
             return Utf8ToWide(path);
         }(),
         false},
        {"a folder", Utf8ToWide(appData.dir()), false},
        {"no path", u"", false},
    };
    for (const Case& c : cases) {
        ContactRecord r = Record("104=1|2=Lee");
        r.GetField(1)->strFilePath = c.path;
        int count = 0;
        Json::Value rows = Written(r, &count)["__data"];
        ASSERT_EQ(c.sent ? 3u : 2u, rows.size()) << c.name;
        EXPECT_EQ(c.sent ? 4 : 3, count) << c.name;
        if (c.sent) {
            EXPECT_EQ("vnd.android.cursor.item/photo", rows[2]["mimetype"].asString());
            EXPECT_EQ("UFBQ", rows[2]["data15"].asString().substr(0, 4));
        }
    }
    // The picture travels from a read back into a write through the holder.
    ContactRecord r = Record("1=Ann");
    r.SetPicturePath(file("pic.png", 100));
    Json::Value rows = Written(r)["__data"];
    ASSERT_EQ(2u, rows.size());
    std::string b64 = rows[1]["data15"].asString();
    EXPECT_EQ(76u, b64.find("\r\n")); // line breaks of the service's base64
}

TEST(ContactMapping, RoundTripKeepsTheFields) {
    FakeGroupService groups;
    groups.ids = {{"Family", "3"}};
    groups.titles = {{"3", "Family"}};
    groups.Install();
    // Every mapped field kind.
    ContactRecord original =
        Record("1=Ann|2=Lee|4037=an|4038=li|4005=Nan|4004=Vexo|4015=CTO|104=1|102=2|103=3|100=4|101=5|112=6|"
               "111=7|106=8|108=9|114=10|116=11|119=12|117=13|1000=a@x|1001=b@x|1002=c@x|1003=d@x|2002=hs|"
               "2003=hn|2019=hp|2004=hc|2005=hr|2006=hz|2008=hk|2010=ws|2016=wk|2032=os|2038=ok|4023=aim|"
               "4030=jab|4022=Skype:me|4003=1980-05-17|4019=2001-06-02|3002=a\r\nb|1500=http://x|"
               "3018=Family;Vexo Favorite");
    original.strPIMID = u"77";
    Json::Value object = Written(original);
    object["account_name"] = "pcsc";
    ContactRecord back;
    ASSERT_EQ(1, ToRecord(object, &back));
    EXPECT_EQ(u"77", back.strPIMID);
    FieldList a = Fields(original), b = Fields(back);
    std::sort(a.begin(), a.end());
    std::sort(b.begin(), b.end());
    EXPECT_EQ(Text(a), Text(b));
    // The id learnt while writing also answers the title while reading.
    EXPECT_EQ((std::vector<std::string>{"cmd=get_group_id;value=Family"}), groups.requests);
}

} // namespace
