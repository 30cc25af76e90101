#include <kxphone/contact_record.h>
#include <kxphone/record_list.h>

#include <gtest/gtest.h>

#include <tuple>

namespace {

// Counts live instances so the tests can see who destroys what.
struct Counted : ContactRecord {
    static int alive;
    Counted() { ++alive; }
    ~Counted() override { --alive; }
};
int Counted::alive = 0;

ContactRecord Filled() {
    ContactRecord r;
    r.lFlag = KX_RECORD_CREATE;
    r.lIndex = 3;
    r.lUniqueID = 4;
    r.lPhoneMemory = 5;
    r.nTotalMemoryUsed = 6;
    r.dtLocation = 1;
    r.nContactID = 7;
    r.strPIMID = u"5";
    r.csFolder = u"Phone";
    r.strLastModify = platform::OleDate::FromCivil(2012, 1, 2, 3, 4, 5);
    r.strCreated = platform::OleDate::FromCivil(2011, 1, 2);
    ContactField f(KX_CF_GIVEN_NAME, u"Ann");
    f.nReserved = 9;
    f.nExtra1 = 1;
    f.strExtra1 = u"x";
    f.strFilePath = u"/tmp/a.png";
    f.mapExtra[u"k"] = u"v";
    f.nExtra6 = 8;
    r.AppendField(f);
    r.AddField(KX_CF_MOBILE, u"123");
    r.SetRawData("\x01\x00\x02", 3);
    return r;
}

// Every member a copy or a reset must carry, in one comparable value.
auto Members(const ContactRecord& r) {
    return std::make_tuple(r.lFlag, r.lIndex, r.lUniqueID, r.lPhoneMemory, r.nTotalMemoryUsed, r.dtLocation,
                           r.nContactID, r.strPIMID, r.csFolder, r.GetFieldCount(), r.RawData());
}
auto Members(const ContactField& f) {
    return std::make_tuple(f.nReserved, f.nType, f.strData, f.nExtra1, f.strExtra1, f.strFilePath, f.mapExtra,
                           f.nExtra5, f.nExtra6);
}

TEST(ContactRecord, DefaultsAndReset) {
    ContactRecord r = Filled();
    r.Reset();
    EXPECT_EQ(100, r.version);
    EXPECT_EQ(Members(r), Members(ContactRecord()));
    EXPECT_EQ(std::make_tuple(0, -1, -1, -1, 0, 0, 0),
              std::make_tuple(r.lFlag, r.lIndex, r.lUniqueID, r.lPhoneMemory, r.nTotalMemoryUsed,
                              r.dtLocation, r.nContactID));
    EXPECT_TRUE(r.strLastModify.valid());
}

TEST(ContactRecord, CopyIsDeepAndKeepsEveryMember) {
    ContactRecord a = Filled();
    ContactRecord b(a);
    EXPECT_EQ(Members(a), Members(b));
    EXPECT_EQ(a.strLastModify, b.strLastModify);
    EXPECT_EQ(a.strCreated, b.strCreated);
    ASSERT_EQ(2, b.GetFieldCount());
    EXPECT_NE(a.GetField(0), b.GetField(0));
    EXPECT_EQ(Members(*a.GetField(0)), Members(*b.GetField(0)));
    EXPECT_EQ(u"123", b.GetField(1)->strData);
    // Changing the copy leaves the original alone.
    b.GetField(0)->strData = u"Bob";
    EXPECT_EQ(u"Ann", a.GetField(0)->strData);

    // Assignment replaces the fields; self-assignment changes nothing.
    ContactRecord c;
    c.AddField(KX_CF_NOTE, u"old");
    c = a;
    ASSERT_EQ(2, c.GetFieldCount());
    EXPECT_EQ(KX_CF_GIVEN_NAME, c.GetField(0)->nType);
    ContactRecord& self = c;
    c = self;
    EXPECT_EQ(2, c.GetFieldCount());
    ContactRecord empty;
    EXPECT_EQ(Members(empty), Members(ContactRecord(empty)));
}

TEST(ContactRecord, AddAndFindFields) {
    ContactRecord r;
    EXPECT_FALSE(r.AddField(ContactField(KX_CF_MOBILE, u"")));
    EXPECT_FALSE(r.AddField(KX_CF_MOBILE, u""));
    EXPECT_EQ(0, r.GetFieldCount());
    EXPECT_NE(nullptr, r.AppendField(ContactField(KX_CF_PICTURE_HOLDER, u"")));
    EXPECT_TRUE(r.AddField(KX_CF_MOBILE, u"1"));
    EXPECT_TRUE(r.AddField(KX_CF_HOME_PHONE, u"2"));
    EXPECT_TRUE(r.AddField(KX_CF_MOBILE, u"3"));

    int32_t pos = 0;
    for (auto [text, after] : {std::pair{u"1", 2}, std::pair{u"3", 4}}) {
        ContactField* f = r.FindField(KX_CF_MOBILE, &pos);
        ASSERT_NE(nullptr, f);
        EXPECT_EQ(text, f->strData);
        EXPECT_EQ(after, pos);
    }
    EXPECT_EQ(nullptr, r.FindField(KX_CF_MOBILE, &pos));
    EXPECT_EQ(4, pos);
    EXPECT_TRUE(r.HasField(KX_CF_HOME_PHONE));
    EXPECT_FALSE(r.HasField(KX_CF_WORK_PHONE));
    EXPECT_EQ(nullptr, r.GetField(-1));
    EXPECT_EQ(nullptr, r.GetField(4));
}

TEST(ContactRecord, PictureHolderSearchOrder) {
    struct Case {
        std::vector<int32_t> types;
        int holderIndex; // -1: a type-5 field is appended
    };
    const Case cases[] = {
        {{KX_CF_FAMILY_NAME, KX_CF_GIVEN_NAME}, 1},
        {{KX_CF_MOBILE, KX_CF_FAMILY_NAME}, 1},
        {{KX_CF_PICTURE_HOLDER, KX_CF_PICTURE_HOLDER3}, 1},
        {{KX_CF_MOBILE, KX_CF_PICTURE_HOLDER}, 1},
        {{KX_CF_MOBILE}, -1},
        {{}, -1},
    };
    for (const Case& c : cases) {
        ContactRecord r;
        for (int32_t t : c.types)
            r.AppendField(ContactField(t, u"v"));
        r.SetPicturePath(u"/p.png");
        ContactField* holder = r.PictureHolder();
        ASSERT_NE(nullptr, holder);
        EXPECT_EQ(u"/p.png", holder->strFilePath);
        if (c.holderIndex >= 0) {
            EXPECT_EQ(r.GetField(c.holderIndex), holder);
            EXPECT_EQ(static_cast<int32_t>(c.types.size()), r.GetFieldCount());
        } else {
            EXPECT_EQ(r.GetField(r.GetFieldCount() - 1), holder);
            EXPECT_EQ(KX_CF_PICTURE_HOLDER, holder->nType);
            EXPECT_TRUE(holder->strData.empty());
        }
    }
}

TEST(RecordList, OwnsAndDestroysRecords) {
    Counted::alive = 0;
    {
        RecordList<ContactRecord> list;
        list.Add(new Counted);
        list.Add(std::make_unique<Counted>());
        list.Add(static_cast<ContactRecord*>(nullptr));
        EXPECT_EQ(2, Counted::alive);
        EXPECT_EQ(2u, list.size());
        std::unique_ptr<ContactRecord> taken = list.Detach(0);
        EXPECT_EQ(1u, list.size());
        EXPECT_EQ(nullptr, list.Detach(5));
        EXPECT_EQ(nullptr, list.GetAt(1));
        RecordList<ContactRecord> moved(std::move(list));
        EXPECT_EQ(1u, moved.size());
        EXPECT_TRUE(list.empty());
        EXPECT_EQ(2, Counted::alive);
    }
    EXPECT_EQ(0, Counted::alive);

    RecordList<ContactRecord> list;
    for (int i = 0; i < 3; ++i)
        list.Add(new Counted);
    int n = 0;
    for (ContactRecord* r : list)
        n += r != nullptr;
    EXPECT_EQ(3, n);
    list.Clear();
    EXPECT_EQ(0, Counted::alive);
}

} // namespace
