#include <gtest/gtest.h>
#include <nuv_text.h>
#include <oleauto.h>

TEST(TextHelpers, RoundTripKeepsNulsAndAstralCharacters) {
    const std::string samples[] = {"", "B1.X", std::string("a\0b", 3), "\xC3\xA9\xF0\x9F\x98\x80"};
    for (const auto& s : samples) {
        EXPECT_EQ(nuv::to_utf8(nuv::to_utf16(s)), s);
        BSTR b = nuv::bstr_from_utf8(s);
        ASSERT_NE(b, nullptr);
        EXPECT_EQ(nuv::bstr_to_utf8(b), s);
        SysFreeString(b);
    }
    EXPECT_EQ(nuv::to_utf16("\xF0\x9F\x98\x80"), std::u16string(u"\U0001F600"));
    EXPECT_EQ(nuv::to_utf8(static_cast<const OLECHAR*>(nullptr)), "");
    EXPECT_EQ(nuv::bstr_to_utf8(nullptr), "");
}
