#include "check.h"

#include <cstring>

TEST(Bstr, LengthPrefixHoldsByteCount) {
    const struct {
        const OLECHAR* text;
        UINT chars;
    } rows[] = {{OLESTR(""), 0}, {OLESTR("a"), 1}, {OLESTR("Flowsheet"), 9}};
    for (const auto& r : rows) {
        BstrHolder b(SysAllocString(r.text));
        ASSERT_TRUE(b.get() != nullptr);
        EXPECT_EQ(SysStringLen(b.get()), r.chars);
        EXPECT_EQ(SysStringByteLen(b.get()), r.chars * 2);
        uint32_t prefix = 0;
        std::memcpy(&prefix, reinterpret_cast<const char*>(b.get()) - 4, 4);
        EXPECT_EQ(prefix, r.chars * 2);
        EXPECT_EQ(b.get()[r.chars], OLECHAR(0));
        EXPECT_TRUE(bstr_text(b.get()) == ostring(r.text));
    }
}

TEST(Bstr, NullEmptyAndEmbeddedNuls) {
    EXPECT_TRUE(SysAllocString(nullptr) == nullptr);
    EXPECT_EQ(SysStringLen(nullptr), 0u);
    EXPECT_EQ(SysStringByteLen(nullptr), 0u);
    SysFreeString(nullptr);
    BstrHolder empty(SysAllocString(OLESTR("")));
    ASSERT_TRUE(empty.get() != nullptr);
    EXPECT_EQ(empty.get()[0], OLECHAR(0));
    BstrHolder zero(SysAllocStringLen(OLESTR("xyz"), 0));
    ASSERT_TRUE(zero.get() != nullptr);
    EXPECT_EQ(SysStringLen(zero.get()), 0u);

    // Embedded NULs survive; SysAllocString stops at the first.
    const OLECHAR text[] = {'a', 0, 'b', 0, 'c'};
    BstrHolder b(SysAllocStringLen(text, 5));
    ASSERT_TRUE(b.get() != nullptr);
    EXPECT_EQ(SysStringLen(b.get()), 5u);
    EXPECT_TRUE(bstr_text(b.get()) == ostring(text, 5));
    EXPECT_EQ(b.get()[5], OLECHAR(0));
    BstrHolder c(SysAllocString(b.get()));
    EXPECT_EQ(SysStringLen(c.get()), 1u);
}

TEST(Bstr, ByteLengthStringsKeepOddLengths) {
    BstrHolder b(SysAllocStringByteLen("abc", 3));
    ASSERT_TRUE(b.get() != nullptr);
    EXPECT_EQ(SysStringByteLen(b.get()), 3u);
    EXPECT_EQ(SysStringLen(b.get()), 1u);
    const char* bytes = reinterpret_cast<const char*>(b.get());
    EXPECT_EQ(std::memcmp(bytes, "abc\0\0", 5), 0);
    // A null source gives a string of that size to fill in.
    BstrHolder blank(SysAllocStringByteLen(nullptr, 4));
    ASSERT_TRUE(blank.get() != nullptr);
    EXPECT_EQ(SysStringByteLen(blank.get()), 4u);
}

TEST(Bstr, ReallocationReplacesAndMayReadItsOwnText) {
    BstrHolder b(SysAllocString(OLESTR("simulation")));
    EXPECT_TRUE(SysReAllocString(b.address(), OLESTR("block")) != 0);
    EXPECT_TRUE(bstr_text(b.get()) == ostring(OLESTR("block")));
    // Source inside the string being replaced: the tail "ock".
    EXPECT_TRUE(SysReAllocStringLen(b.address(), b.get() + 2, 3) != 0);
    EXPECT_TRUE(bstr_text(b.get()) == ostring(OLESTR("ock")));
    EXPECT_TRUE(SysReAllocStringLen(b.address(), nullptr, 2) != 0);
    EXPECT_EQ(SysStringLen(b.get()), 2u);
}
