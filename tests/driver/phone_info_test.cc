#include <gtest/gtest.h>

#include <kxphone/host_blocks.h>

#include "driver/app.h"
#include "driver/phone_time.h"
#include "sample_store_fixture.h"

namespace {

const std::u16string kPropertyDocument =
    u"<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<phoneproperty>\r\n\t<version>1.00</version>\r\n"
    u"\t<imei>2222222</imei>\r\n\t<signalstrength>78</signalstrength>\r\n"
    u"\t<remainingpower>90</remainingpower>\r\n\t<firmwarever>1.0</firmwarever>\r\n"
    u"\t<phonefree>123435354</phonefree>\r\n\t<phonetotal>1346457456</phonetotal>\r\n"
    u"\t<SDfree>2343434544</SDfree>\r\n\t<SDtotal>8589934592</SDtotal>\r\n</phoneproperty>\r\n";

class PhoneInfoTest : public kxtest::DriverDirTest {
protected:
    CKXFakePhone& phone() { return theApp.m_FakePhone; }
};

TEST_F(PhoneInfoTest, ContactStorageTextTwice) {
    for (int i = 0; i < 2; ++i) {
        uintptr_t slot = 0;
        EXPECT_EQ(phone().Inquire(KX_TYPE_CONTACT, reinterpret_cast<uintptr_t>(&slot)), KX_OK);
        EXPECT_EQ(reinterpret_cast<const KXChar*>(slot), phone().InformationText);
        EXPECT_EQ(std::u16string(phone().InformationText), u"2,0,50,50,2,50;5,1,50,50,2,50;");
        EXPECT_EQ(phone().CapabilityWord, 13u);
    }
    EXPECT_EQ(phone().Inquire(KX_TYPE_CONTACT, 0), KX_INVALID_ARGUMENT);
    EXPECT_EQ(phone().Inquire(9, 0), KX_OK);
}

TEST_F(PhoneInfoTest, PropertyDocumentAppendsWithinTheHostBuffer) {
    const size_t doc = kPropertyDocument.size();
    enum Outcome { kAppended, kRedirected, kRefused };
    struct Case {
        int32_t capacity;
        size_t held; // characters already in the buffer (no NUL when held == capacity)
        Outcome outcome;
    } cases[] = {
        {2000, 5, kAppended},              // appended to what the host holds
        {1023, 0, kRedirected},            // too small a buffer: the driver's text is the answer
        {1024, 0, kAppended},              // empty and large enough
        {1024, 1024 - doc - 1, kAppended}, // exactly fits with its NUL
        {1024, 1024 - doc, kRefused},      // one character short
        {1024, 1024, kRefused},            // no NUL inside the buffer
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.capacity * 10000 + c.held);
        std::vector<KXChar> buffer(static_cast<size_t>(c.capacity) + 16, u'#'); // guard after the room
        std::fill(buffer.begin(), buffer.begin() + c.held, u'a');
        if (c.held < static_cast<size_t>(c.capacity))
            buffer[c.held] = u'\0';
        const std::vector<KXChar> before = buffer;
        KXAnswerBlock block{c.capacity, buffer.data()};
        EXPECT_EQ(phone().Inquire(KX_INQUIRE_PHONE_PROPERTIES, reinterpret_cast<uintptr_t>(&block)),
                  c.outcome == kRefused ? KX_INVALID_ARGUMENT : KX_OK);
        for (size_t i = c.capacity; i < buffer.size(); ++i)
            ASSERT_EQ(buffer[i], u'#');
        if (c.outcome == kRedirected) {
            EXPECT_EQ(block.capacity, 1024);
            EXPECT_EQ(block.buffer, phone().InformationText);
            EXPECT_EQ(std::u16string(phone().InformationText), kPropertyDocument);
        } else {
            EXPECT_EQ(block.buffer, buffer.data());
            EXPECT_EQ(block.capacity, c.capacity);
        }
        EXPECT_TRUE(c.outcome != kAppended ||
                    std::u16string(buffer.data()) == std::u16string(c.held, u'a') + kPropertyDocument);
        EXPECT_TRUE(c.outcome != kRefused || buffer == before); // the host's buffer stays its own
    }
    KXAnswerBlock none{0, nullptr};
    EXPECT_EQ(phone().Inquire(KX_INQUIRE_PHONE_PROPERTIES, reinterpret_cast<uintptr_t>(&none)), KX_OK);
    EXPECT_EQ(none.buffer, phone().InformationText);
    EXPECT_EQ(none.capacity, 1024);
    EXPECT_EQ(phone().Inquire(KX_INQUIRE_PHONE_PROPERTIES, 0), KX_INVALID_ARGUMENT);
}

// The zone is faked as "unavailable" with a bias of UTC+8, so local time is UTC + 8 h.
class ZoneEnv : public kxtest::TempModuleEnv {
public:
    using TempModuleEnv::TempModuleEnv;
    bool UtcToLocal(const platform::CivilTime&, platform::CivilTime*) override { return false; }
    int ZoneBiasMinutes() override { return -480; }
};

TEST_F(PhoneInfoTest, PhoneTimeTexts) {
    ZoneEnv zone(dir_);
    theApp.SetEnv(&zone);
    const struct {
        const char* now;
        const char16_t* shown;
    } cases[] = {
        {"1326758400000", u"2012-01-17 08:00:00"},
        {" 1326758400999 ", u"2012-01-17 08:00:00"},
        {"500", u"1970-01-01 08:08:20"}, // small values are seconds
        {"2012-03-05 10:00:00", u"2012-03-05 18:00:00"},
        {"2012-03-05 23:30:00", u"2012-03-06 07:30:00"},
        {"", u""},
        {"soon", u""},
        {"12ab", u""},
        {"2012-03-05", u""},
        {"2012-13-45 10:00:00", u""},
        {"99999999999999999999999", u""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(PhoneTimeText(c.now), c.shown) << c.now;
    theApp.SetEnv(env_.get());
}

} // namespace
