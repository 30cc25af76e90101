#include "platform/file.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <string>

#include "support/test_util.h"

namespace {

// A name outside ASCII, in a folder deeper than the 260 characters Windows allows without the
// long-path prefix.
TEST(OpenFile, CreatesOnceAndReadsBackUnderADeepUnicodeFolder) {
    kxtest::TempDir dir;
    std::string folder = dir.path();
    for (int i = 0; i < 8; ++i)
        folder += "/" + std::string(36, static_cast<char>('a' + i));
    folder += "/Zo\xC3\xAB \xE5\xBC\xA0";
    std::error_code ec;
    ASSERT_TRUE(std::filesystem::create_directories(std::filesystem::u8path(folder), ec)) << ec.message();
    const std::string file = folder + "/pic\xE2\x82\xAC.png";

    std::FILE* f = platform::OpenFile(file, "wbx");
    ASSERT_NE(f, nullptr);
    EXPECT_GE(std::fputs("bytes", f), 0);
    EXPECT_EQ(std::fclose(f), 0);

    errno = 0;
    EXPECT_EQ(platform::OpenFile(file, "wbx"), nullptr);
    EXPECT_EQ(errno, EEXIST);

    f = platform::OpenFile(file, "rb");
    ASSERT_NE(f, nullptr);
    char buffer[16] = {};
    EXPECT_EQ(std::fread(buffer, 1, sizeof buffer, f), 5u);
    std::fclose(f);
    EXPECT_EQ(std::string(buffer), "bytes");

    EXPECT_EQ(platform::OpenFile(folder + "/missing", "rb"), nullptr);
}

} // namespace
