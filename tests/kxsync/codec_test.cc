// The vCard and iCalendar codecs: records come back member for member, bad files are refused with
// the line at fault, and the exports read the same in independent parsers (python3-vobject and
// python3-icalendar).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include "calendar/calendar_test_env.h"
#include "codec_text.h"
#include "icalendar.h"
#include "platform/utf.h"
#include "record_dump.h"
#include "support/paths.h"
#include "support/test_util.h"
#include "vcard.h"

namespace {

namespace fs = std::filesystem;
using caltest::Date;
using kxtest::AddFields;
using kxtest::Dump;
using kxtest::Utf8;
using platform::OleDate;

std::u16string U(const std::string& text) {
    return platform::Utf8ToUtf16(text);
}

// Folded at 75 octets, whole UTF-8 sequences on every line, CRLF line ends.
void ExpectFolded(const std::string& text) {
    size_t pos = 0;
    for (size_t end; (end = text.find("\r\n", pos)) != std::string::npos; pos = end + 2) {
        EXPECT_LE(end - pos, 75u) << text.substr(pos, end - pos);
        EXPECT_TRUE(platform::IsValidUtf8(text.data() + pos, end - pos)) << text.substr(pos, end - pos);
        EXPECT_EQ(std::string::npos, text.substr(pos, end - pos).find('\n'));
    }
    EXPECT_EQ(text.size(), pos);
}

class Codecs : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("kxcodec_" + std::to_string(::getpid()));
        fs::create_directories(dir_);
        picture_ = (dir_ / "face.png").string();
        std::ofstream(picture_, std::ios::binary)
            << std::string("\x89PNG\r\n\x1a\n\0\x01\xff", 11) << std::string(300, 'p');
    }
    void TearDown() override { fs::remove_all(dir_); }

    // Every field type, non-ASCII and emoji, a long line, a picture; then the awkward cases.
    std::vector<ContactRecord> Contacts() {
        std::vector<ContactRecord> list(3);
        ContactRecord& a = list[0];
        AddFields(&a,
                  "1=José|2=García-Müller|4037=ホセ|4038=ガルシア|4005=Pepe, el 🎈|4004=Acme; Inc.|"
                  "4015=Jefe\\de sección|104=+34 600 000 001|102=+34 91 1|103=+34 91 2|100=+34 93 1|"
                  "101=+34 93 2|112=+34 93 9|111=+34 91 9|106=555|108=556|114=557|116=558|117=559|119=560|"
                  "1000=jose@example.com|1001=pepe@example.org|1002=j.g+x@example.net|"
                  "1500=https://example.com/~jose?a=1;b=2|2002=Calle Mayor 1, 2º|2003=Centro|2019=Apdo 7|"
                  "2004=Madrid|2005=M|2006=28001|2008=España|2010=Work St 5|2012=Zürich|2016=CH|"
                  "2032=Other 9|2033=Barrio|4023=aim user|4024=msn@x|4025=yahoo|4026=live:skype.1|"
                  "4027=12345|4028=g@gmail.com|4029=999|4030=j@jabber.org/res|4022=matrix:@j:m.org|"
                  "4003=1980-05-17|4019=--06-01|3002=Line one\r\nLínea dos 🎈\r\n" +
                      std::string(200, 'x') + " ñ end|3018=Friends;Work, Inc");
        a.SetPicturePath(U(picture_));
        a.strPIMID = u"17";
        a.lPhoneMemory = 17;
        a.dtLocation = 1;
        a.lFlag = KX_RECORD_UPDATE;
        a.strLastModify = Date(2026, 2, 28, 19, 1, 0);
        a.strCreated = Date(2020, 1, 1, 8);
        // Out of the ordinary: order, gaps in numbered types, empty and unmappable texts, extras.
        ContactRecord& b = list[1];
        AddFields(&b, "104=1|1=|103=only the second|1001=second@example.com|3002=lone\nLF and lone\rCR|"
                      "4003=sometime|4022=no protocol|4711=unknown type");
        ContactField extra(2, u"Smith");
        extra.nExtra3 = 9;
        extra.strExtra2 = u"side; text,\r\n%";
        extra.mapExtra[u"k=1"] = u"v;2";
        b.AppendField(extra);
        b.SetPicturePath(u"/nowhere/gone.png");
        b.SetRawData("\0raw\xff", 5);
        b.csFolder = u"Folder 1";
        b.lIndex = 4;
        b.nContactID = -7;
        b.strLastModify.days += 0.123456789; // not a whole second
        b.strCreated.status = OleDate::kInvalid;
        ContactRecord& c = list[2]; // a picture on a holder of its own
        c.AppendField(ContactField(4004, u"Solo"));
        c.SetPicturePath(U(picture_));
        return list;
    }

    std::vector<CalendarRecord> Events() {
        std::vector<CalendarRecord> list(4);
        CalendarRecord& a = list[0]; // weekly, timed, with exceptions and an alarm
        a.AddField(KX_CAL_TITLE, u"Stand-up 🎈 ñ, ok; fine\\");
        a.AddField(KX_CAL_DESCRIPTION, U("Two\r\nlines " + std::string(150, 'd') + " é"));
        a.AddField(KX_CAL_LOCATION, u"Room 1");
        a.AddField(KX_CAL_ICAL_GUID, u"guid-1@example.com");
        a.AddField(KX_CAL_TIMEZONE, u"GMT:-60;DST:60");
        a.AddField(KX_CAL_EXCEPTIONS,
                   u"<exception><modification datetime=\"2026/01/14 09:30:00\" time=\"2026/01/14\">"
                   u"<subject>TQBvAHYAZQBkAA==</subject><allday>0</allday><start>2026/01/14 11:00:00</start>"
                   u"<end>2026/01/14 11:30:00</end><reminderset>0</reminderset></modification>"
                   u"<deletion time=\"2026/01/19\" /></exception>");
        a.dtStart = Date(2026, 1, 5, 9, 30);
        a.dtEnd = Date(2026, 1, 5, 9, 45);
        a.dtLastModified = Date(2026, 2, 28, 23, 21);
        a.strId = u"3";
        a.lPhoneId = 3;
        a.lState = 0;
        a.lAux10 = 15;
        a.lRecurType = 2;
        a.lRecurDayMask = 2 | 8;
        a.lRecurInterval = 2;
        a.bRecurHasEnd = 1;
        a.dtRecurEnd = Date(2026, 6, 29, 9, 30);
        a.lReminderMinutes = 15;
        CalendarRecord& b = list[1]; // all-day, yearly, no alarm
        b.AddField(KX_CAL_TITLE, u"New year");
        b.dtStart = Date(2026, 1, 1);
        b.dtEnd = Date(2026, 1, 2);
        b.bAllDay = 1;
        b.lRecurType = 4;
        b.lRecurMonth = 1;
        b.lRecurDay = 1;
        b.lReminderMinutes = -1;
        CalendarRecord& c = list[2]; // what no standard property holds exactly
        c.AddField(KX_CAL_TITLE, u"lone\rCR");
        c.AddField(KX_CAL_TITLE, u"second title");
        c.fields.back()->nAux1 = 5;
        c.fields.back()->strAux = u"aux";
        c.dtStart = Date(2026, 3, 27, 18);
        c.dtStart.days += 1e-7;
        c.lRecurType = 3;
        c.lRecurByWeekday = 1;
        c.lRecurWeek = -1;
        c.lRecurDayMask = 32;
        c.lRecurInterval = 0;
        c.lReminderMinutes = 0;
        c.dtAux.status = OleDate::kNull;
        c.strAux2 = u"x;y";
        c.lAux11 = 42;
        CalendarRecord& d = list[3]; // daily, no end, a title with blanks libical would drop
        d.AddField(KX_CAL_TITLE, u" padded ");
        d.dtStart = Date(2026, 5, 1, 7);
        d.lRecurType = 1;
        return list;
    }

    // A zone with daylight saving, so that UTC and local time differ and REV's conversion shows.
    kxtest::ScopedEnvVar zone_{"TZ", "Europe/Madrid"};
    fs::path dir_;
    std::string picture_;
};

TEST_F(Codecs, RecordsComeBackMemberForMember) {
    std::vector<ContactRecord> contacts = Contacts(), back;
    std::string vcf = kxsync::ContactsToVcard(contacts), error;
    ASSERT_TRUE(kxsync::ContactsFromVcard(vcf, (dir_ / "pictures").string(), &back, &error)) << error << "\n"
                                                                                             << vcf;
    ASSERT_EQ(contacts.size(), back.size());
    for (size_t i = 0; i < contacts.size(); ++i)
        EXPECT_EQ(Dump(contacts[i]), Dump(back[i])) << vcf;
    ExpectFolded(vcf);
    // Elsewhere the picture comes from the PHOTO, into a file of the folder named by its bytes.
    fs::remove(picture_);
    ASSERT_TRUE(kxsync::ContactsFromVcard(vcf, (dir_ / "pictures").string(), &back, &error)) << error;
    std::string path = Utf8(back[0].PictureHolder()->strFilePath);
    EXPECT_EQ(dir_ / "pictures", fs::path(path).parent_path());
    EXPECT_EQ(311u, fs::file_size(path));
    EXPECT_EQ(path, Utf8(back[2].PictureHolder()->strFilePath));

    std::vector<CalendarRecord> events = Events(), read;
    std::string ics = kxsync::EventsToIcalendar(events);
    ExpectFolded(ics);
    ASSERT_TRUE(kxsync::EventsFromIcalendar(ics, &read, &error)) << error << "\n" << ics;
    ASSERT_EQ(events.size(), read.size());
    for (size_t i = 0; i < events.size(); ++i)
        EXPECT_EQ(Dump(events[i]), Dump(read[i])) << ics;
}

TEST_F(Codecs, BadFilesAreRefusedWithTheirLine) {
    // A good card first (lines 1-4): a bad one after it still rejects the file.
    const std::string good = "BEGIN:VCARD\r\nVERSION:4.0\r\nFN:A\r\nEND:VCARD\r\n", card = good.substr(0, 32);
    const std::pair<std::string, std::string> vcards[] = {
        {good + card + "TEL;TYPE=\"cell:x\r\n", "line 8: an unterminated quoted value of TYPE"},
        {good + card + "N:a;b\r\n", "line 5: BEGIN:VCARD without END:VCARD"},
        {good + card + "BEGIN:VCARD\r\n", "line 8: BEGIN:VCARD inside the vCard of line 5"},
        {good + "BEGIN:VCARD\r\nVERSION:3.0\r\nEND:VCARD\r\n", "line 6: VERSION 3.0 (only 4.0 is read)"},
        {good + "BEGIN:VCARD\r\nFN:x\r\nEND:VCARD\r\n", "line 7: a vCard without VERSION"},
        {good + card + "NOTE:a\r\n\t folded\r\nPHOTO:data:image/png;base64,!!\r\nEND:VCARD\r\n",
         "line 10: PHOTO is not base64 data"},
        {good + card + "X-KX-FLAG:eight\r\nEND:VCARD\r\n", "line 8: X-KX-FLAG must be a number"},
        {good + card + "X-KX-FIELD-ORDER:0,0\r\nNOTE:x\r\nEND:VCARD\r\n",
         "line 8: X-KX-FIELD-ORDER does not list"},
        {good + card + "NOTE:\xff\r\nEND:VCARD\r\n", "line 8: not UTF-8 text"},
        {good + card + "END:VCARD\r\nEMAIL:a@b\r\n", "line 9: EMAIL outside BEGIN:VCARD ... END:VCARD"},
        {good + card + "REV:yesterday\r\nEND:VCARD\r\n", "line 8: REV is not a date"},
        {good + card + "item1.ADR;TYPE=\"home,work\":;;x\r\nX-KX-FIELD-EXTRA:1\r\nEND:VCARD\r\n",
         "line 9: X-KX-FIELD-EXTRA must have 11 parts"},
        {"", "line 1: no vCard"},
    };
    for (const auto& [text, expected] : vcards) {
        std::vector<ContactRecord> records(1);
        std::string error;
        EXPECT_FALSE(kxsync::ContactsFromVcard(text, dir_.string(), &records, &error)) << text;
        EXPECT_TRUE(records.empty());
        EXPECT_EQ(expected, error.substr(0, expected.size())) << text;
    }
    // A picture that cannot be written: the file is refused at its PHOTO, no record, no file.
    std::vector<ContactRecord> records;
    std::string error, photo = good.substr(0, 32) + "PHOTO:data:image/gif;base64,R0lGODlh\r\nEND:VCARD\r\n";
    EXPECT_FALSE(kxsync::ContactsFromVcard(photo, picture_ + "/sub", &records, &error));
    std::string expected = "line 4: the picture file " + picture_ + "/sub/kxsync-";
    EXPECT_EQ(expected, error.substr(0, expected.size()));
    EXPECT_TRUE(records.empty());

    const std::string head = "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:x\r\nBEGIN:VEVENT\r\nUID:1\r\n";
    const std::string tail = "END:VEVENT\r\nEND:VCALENDAR\r\n";
    const std::pair<std::string, std::string> calendars[] = {
        {head + "DTSTART:20260101T100000\r\nSUMMARY:x\r\n FOLDED\r\nDTEND:2026garbage\r\n" + tail,
         "line 9: Can't parse as DATE-TIME value in DTEND property"},
        {head + "DTSTART:20260101T100000\r\nFOO:bar\r\n" + tail, "line 7: Parse error in property name: FOO"},
        {head + "DTSTART:20260101T100000\r\nFOO\r\n" + tail, "line 7: not a property"},
        {head + "DTSTART:20260101T100000\r\nRRULE:FREQ=HOURLY\r\n" + tail,
         "line 7: FREQ=HOURLY cannot be kept"},
        {head + "DTSTART:20260101T100000\r\nRRULE:FREQ=MONTHLY;BYSETPOS=1;BYDAY=MO\r\n" + tail,
         "line 7: RRULE with BYSETPOS"},
        {head + "SUMMARY:no start\r\n" + tail, "line 4: VEVENT without DTSTART"},
        {head + "DTSTART;TZID=Nowhere/Else:20260101T100000\r\n" + tail, "line 6: time zone \"Nowhere/Else\""},
        {head + "DTSTART:20260101T100000\r\nX-KX-FLAG:x\r\n" + tail, "line 7: X-KX-FLAG must be a number"},
        {head + "DTSTART:20260101T100000\r\nEND:VCALENDAR\r\n",
         "line 7: END:VCALENDAR where VEVENT of line 4 ends"},
        {head + "DTSTART:20260101T100000\r\n", "line 4: BEGIN:VEVENT without END"},
        {head + "DTSTART:20260101T100000\r\n" + tail + "BEGIN:VEVENT\r\nEND:VEVENT\r\n",
         "line 9: VEVENT outside a VCALENDAR"},
        {"no calendar", "line 1: not a property"},
    };
    for (const auto& [text, expected] : calendars) {
        std::vector<CalendarRecord> records(1);
        std::string error;
        EXPECT_FALSE(kxsync::EventsFromIcalendar(text, &records, &error)) << text;
        EXPECT_TRUE(records.empty());
        EXPECT_EQ(expected, error.substr(0, expected.size())) << text;
    }
}

// Files other programs write: groups, quoted type lists, LF line ends, tab folding, a vCard 3
// picture; time zones, durations, counts, alarms, overrides and other components.
TEST_F(Codecs, ForeignFilesImportTheirContent) {
    const std::string vcf = "BEGIN:VCARD\nVERSION:4.0\nitem1.N:Lee;Ann;;Dr.;\nTEL;TYPE=\"cell,voice\":+1 1\n"
                            "TEL;TYPE=HOME;TYPE=FAX:+1 2\nTEL;TYPE=home,cell:+1 3\nTEL;TYPE=video:+1 4\n"
                            "ADR;TYPE=work:;;1 Main St;Town;;12345;US\nNOTE:one\\ntwo\\, th\n\tree\n"
                            "BDAY:19800517T120000\nIMPP:XMPP:ann@example.org\nEMAIL;PREF=1:a@x\nEMAIL:b@x\n"
                            "PHOTO;ENCODING=b;TYPE=GIF:R0lGODlh\nGEO:geo:1,2\nEND:VCARD\n";
    std::vector<ContactRecord> contacts;
    std::string error, fields;
    ASSERT_TRUE(kxsync::ContactsFromVcard(vcf, dir_.string(), &contacts, &error)) << error;
    for (int32_t i = 0; i < contacts[0].GetFieldCount(); ++i)
        fields += std::to_string(contacts[0].GetField(i)->nType) + "=" +
                  Utf8(contacts[0].GetField(i)->strData) + " ";
    EXPECT_EQ("1=Ann 2=Lee 104=+1 1 111=+1 2 104=+1 3 108=+1 4 2010=1 Main St 2012=Town 2014=12345 2016=US "
              "3002=one\r\ntwo, three 4003=1980-05-17 4030=ann@example.org 1000=a@x 1001=b@x ",
              fields);
    EXPECT_EQ(6u, fs::file_size(Utf8(contacts[0].PictureHolder()->strFilePath))); // "GIF89a"

    const std::string ics =
        "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:x\r\nBEGIN:VEVENT\r\nUID:a@b\r\nDTSTAMP:"
        "20260101T000000Z\r\n"
        "DTSTART;TZID=Europe/Madrid:20260105T093000\r\nDURATION:PT45M\r\nSUMMARY:Weekly\\, ok\r\n"
        "RRULE:FREQ=WEEKLY;COUNT=5;BYDAY=MO,WE\r\nEXDATE;TZID=Europe/Madrid:20260107T093000\r\n"
        "BEGIN:VALARM\r\nACTION:DISPLAY\r\nTRIGGER:-PT10M\r\nEND:VALARM\r\nEND:VEVENT\r\n"
        "BEGIN:VEVENT\r\nUID:a@b\r\nRECURRENCE-ID;TZID=Europe/Madrid:20260112T093000\r\n"
        "DTSTART:20260112T100000Z\r\nEND:VEVENT\r\nBEGIN:VTODO\r\nUID:t\r\nEND:VTODO\r\n"
        "BEGIN:VEVENT\r\nUID:c\r\nDTSTART:20260302T170000Z\r\nRRULE:FREQ=DAILY;BYDAY=MO,TU,WE,TH,FR\r\n"
        "END:VEVENT\r\nEND:VCALENDAR\r\n";
    std::vector<CalendarRecord> events;
    ASSERT_TRUE(kxsync::EventsFromIcalendar(ics, &events, &error)) << error;
    ASSERT_EQ(2u, events.size());
    const CalendarRecord& a = events[0];
    EXPECT_EQ(Date(2026, 1, 5, 9, 30), a.dtStart);
    EXPECT_EQ(Date(2026, 1, 5, 10, 15), a.dtEnd);
    EXPECT_EQ("Weekly, ok", Utf8(a.LastField(KX_CAL_TITLE)->strData));
    EXPECT_EQ(
        "<exception><modification datetime=\"2026/01/12 09:30:00\" time=\"2026/01/12\"><allday>0</allday>"
        "<start>2026/01/12 11:00:00</start><end>2026/01/12 11:00:00</end><reminderset>0</reminderset>"
        "</modification><deletion time=\"2026/01/07\"/></exception>",
        Utf8(a.LastField(KX_CAL_EXCEPTIONS)->strData));
    // type, days, an end (the fifth instance: Mon 5, Wed 7, Mon 12, Wed 14, Mon 19), the alarm
    EXPECT_EQ(std::make_tuple(2, 2 | 8, 1, 10),
              std::make_tuple(a.lRecurType, a.lRecurDayMask, a.bRecurHasEnd, a.lReminderMinutes));
    EXPECT_EQ(Date(2026, 1, 19, 9, 30), a.dtRecurEnd);
    EXPECT_EQ(Date(2026, 3, 2, 18), events[1].dtStart); // UTC+1
    EXPECT_EQ(std::make_tuple(2, 62, -1),
              std::make_tuple(events[1].lRecurType, events[1].lRecurDayMask, events[1].lReminderMinutes));
}

// What the independent parsers must find, one line per value: kind, then the expected text.
TEST_F(Codecs, IndependentParsersReadTheSameContent) {
    std::vector<ContactRecord> contacts = Contacts();
    std::vector<CalendarRecord> events = Events();
    std::ofstream(dir_ / "out.vcf", std::ios::binary) << kxsync::ContactsToVcard(contacts);
    std::ofstream(dir_ / "out.ics", std::ios::binary) << kxsync::EventsToIcalendar(events);
    std::string script = kxtest::SourceDir() + "/tests/kxsync/read_exports.py";
    std::string command = "/usr/bin/python3 " + script + " " + (dir_ / "out.vcf").string() + " " +
                          (dir_ / "out.ics").string() + " " + picture_;
    EXPECT_EQ(0, std::system(command.c_str())) << command;
}

} // namespace
