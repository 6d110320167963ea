#include "check.h"

#include <cstring>

namespace {
// "Fluß €" followed by U+1F600 (a surrogate pair).
const OLECHAR kWide[] = {'F', 'l', 'u', 0xDF, ' ', 0x20AC, 0xD83D, 0xDE00, 0};
const char kUtf8[] = "Flu\xC3\x9F \xE2\x82\xAC\xF0\x9F\x98\x80";
}  // namespace

TEST(CodePage, Utf8RoundTripsThroughEveryNarrowPage) {
    for (UINT page : {UINT(CP_UTF8), UINT(CP_ACP), UINT(CP_THREAD_ACP)}) {
        if (page != CP_UTF8 && GetACP() != CP_UTF8) continue;  // the ANSI page is a system setting
        const int needed = WideCharToMultiByte(page, 0, kWide, -1, nullptr, 0, nullptr, nullptr);
        EXPECT_EQ(needed, int(sizeof kUtf8));
        char narrow[32] = {};
        EXPECT_EQ(WideCharToMultiByte(page, 0, kWide, -1, narrow, sizeof narrow, nullptr, nullptr), needed);
        EXPECT_EQ(std::memcmp(narrow, kUtf8, sizeof kUtf8), 0);
        OLECHAR wide[16] = {};
        const int chars = MultiByteToWideChar(page, 0, narrow, -1, nullptr, 0);
        EXPECT_EQ(chars, 9);
        EXPECT_EQ(MultiByteToWideChar(page, 0, narrow, -1, wide, 16), chars);
        EXPECT_TRUE(ostring(wide) == ostring(kWide));
    }
}

TEST(CodePage, ExplicitLengthsExcludeTheTerminatorAndKeepNuls) {
    const char text[] = {'a', 0, 'b'};
    OLECHAR wide[4] = {'x', 'x', 'x', 'x'};
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, text, 3, wide, 4), 3);
    EXPECT_EQ(wide[1], OLECHAR(0));
    EXPECT_EQ(wide[2], OLECHAR('b'));
    EXPECT_EQ(wide[3], OLECHAR('x'));
}

TEST(CodePage, ShortBufferFailsWithInsufficientBuffer) {
    char narrow[4];
    SetLastError(0);
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, kWide, -1, narrow, sizeof narrow, nullptr, nullptr), 0);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
    OLECHAR wide[2];
    SetLastError(0);
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc", -1, wide, 2), 0);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
}

TEST(CodePage, IllFormedInputIsReplacedOrRefused) {
    const struct {
        const char* bytes;
        int length;
    } rows[] = {
        {"\xFF", 1},              // never valid
        {"\xC0\xAF", 2},          // overlong
        {"\xED\xA0\x80", 3},      // encoded surrogate
        {"\xE2\x82", 2},          // truncated
        {"\xF4\x90\x80\x80", 4},  // beyond U+10FFFF
    };
    for (const auto& r : rows) {
        OLECHAR wide[8] = {};
        const int n = MultiByteToWideChar(CP_UTF8, 0, r.bytes, r.length, wide, 8);
        EXPECT_GT(n, 0);
        EXPECT_EQ(wide[0], OLECHAR(0xFFFD));
        SetLastError(0);
        EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, r.bytes, r.length, wide, 8), 0);
        EXPECT_EQ(GetLastError(), DWORD(ERROR_NO_UNICODE_TRANSLATION));
    }
    const OLECHAR lone[] = {'a', 0xD800, 'b'};
    char narrow[8] = {};
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, lone, 3, narrow, 8, nullptr, nullptr), 5);
    EXPECT_EQ(std::memcmp(narrow, "a\xEF\xBF\xBD" "b", 5), 0);
}
