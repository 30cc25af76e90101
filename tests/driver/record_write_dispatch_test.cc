// Contacts and calendar have no record writer yet: a Write of either must fail, never report a
// write that did not happen as success.
#include <gtest/gtest.h>

#include <kxphone/kxphone.h>

#include "driver/app.h"

namespace {

TEST(RecordWriteDispatch, ContactAndCalendarWritesFailUntilAWriterExists) {
    for (int32_t type : {KX_TYPE_CONTACT, KX_TYPE_CALENDAR}) {
        theApp.m_FakePhone.StopFlag = true;
        EXPECT_EQ(theApp.m_FakePhone.Write(type, 0), KX_FAILED) << type;
        EXPECT_FALSE(theApp.m_FakePhone.StopFlag.load()) << type; // cleared as after any Write
        EXPECT_EQ(Write(type, 0), KX_OTHER_FAILURE) << type;
    }
}

} // namespace
