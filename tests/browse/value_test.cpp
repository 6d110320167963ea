#include <gtest/gtest.h>

#include <cfloat>
#include <climits>
#include <cmath>
#include <cstring>
#include <string>

#include "browse/value.h"

namespace {

std::string Text(const FIValue& v) { return v.ToStdString(); }

TEST(FIValueStorage, InlineLimitAndHeapGrowth) {
    FIValue v;
    v.SetString(std::string(18, 'a'));
    EXPECT_EQ(v.GetTag(), FIValue::kInlineText);
    v.SetString(std::string(19, 'b'));
    EXPECT_EQ(v.GetTag(), FIValue::kHeapText);
    EXPECT_EQ(v.Capacity(), 32u);
    // A short text on a value holding heap text reuses the heap buffer.
    v.SetString("xy");
    EXPECT_EQ(v.GetTag(), FIValue::kHeapText);
    EXPECT_EQ(Text(v), "xy");
    v.SetString(std::string(100, 'c'));
    EXPECT_EQ(v.Capacity(), 128u);  // 32 doubled until it holds 101 bytes
    EXPECT_EQ(v.Length(), 100u);
    v.SetString(static_cast<const char*>(nullptr));
    EXPECT_TRUE(v.IsEmpty());
}

TEST(FIValueStorage, CopiesAreDeepAndSelfOperationsSafe) {
    FIValue a(std::string(40, 'z'));
    FIValue b(a);
    EXPECT_NE(a.GetString(), b.GetString());
    EXPECT_EQ(b.Capacity(), a.Capacity());
    FIValue& alias = b;
    b = alias;  // self-assignment keeps the value
    EXPECT_EQ(Text(b), std::string(40, 'z'));
    a.Append(a.GetString());  // appending a value to itself
    EXPECT_EQ(Text(a), std::string(80, 'z'));
    a.SetString(a.GetString() + 70);  // setting from its own buffer
    EXPECT_EQ(Text(a), std::string(10, 'z'));
    FIValue c("short");
    c.Append(c.GetString());
    EXPECT_EQ(Text(c), "shortshort");
}

TEST(FIValueStorage, TextWrittenInPlace) {
    // A value without heap text starts from an empty buffer with the room asked for.
    FIValue v(12);
    char* buffer = v.WriteBuffer(0, 40);
    EXPECT_EQ(v.GetTag(), FIValue::kHeapText);
    EXPECT_EQ(Text(v), "");
    EXPECT_GE(v.Capacity(), 41u);
    std::memcpy(buffer, "Top.appModel", 12);
    // More room keeps what was written; setting the length alone allocates nothing.
    buffer = v.WriteBuffer(12, 200);
    EXPECT_EQ(Text(v), "Top.appModel");
    EXPECT_GE(v.Capacity(), 201u);
    std::memset(buffer + 12, 'x', 188);
    const size_t capacity = v.Capacity();
    v.WriteBuffer(200, 200);
    EXPECT_EQ(Text(v), "Top.appModel" + std::string(188, 'x'));
    EXPECT_EQ(v.Length(), 200u);
    EXPECT_EQ(v.Capacity(), capacity);
    v.WriteBuffer(3, 3);
    EXPECT_EQ(Text(v), "Top");
    FIValue inlineText("abc");
    inlineText.WriteBuffer(0, 2);
    EXPECT_EQ(Text(inlineText), "");
    EXPECT_EQ(inlineText.GetTag(), FIValue::kHeapText);
}

TEST(FIValueConversion, NumberFormatsToText) {
    struct Row {
        FIValue in;
        FIValue::Tag target;
        const char* text;
    };
    const Row rows[] = {
        {FIValue(0.1), FIValue::kInlineText, "0.1"},       {FIValue(1e20), FIValue::kInlineText, "1e+20"},
        {FIValue(2.0), FIValue::kInlineText, "2"},          {FIValue(-7), FIValue::kHeapText, "-7"},
        {FIValue(1.0 / 3.0), FIValue::kInlineText, "0.333333333333"},
        {FIValue(INT32_MIN), FIValue::kInlineText, "-2147483648"}, {FIValue(), FIValue::kInlineText, ""},
        {FIValue(-DBL_MAX), FIValue::kInlineText, "-1.79769313486e+308"},
    };
    for (const Row& r : rows) {
        FIValue v(r.in);
        v.ConvertTo(r.target);
        EXPECT_EQ(v.GetTag(), r.target);
        EXPECT_STREQ(v.GetString(), r.text);
        EXPECT_EQ(r.in.TextLength(), std::strlen(r.text));
    }
    FIValue heap(-7);
    heap.ConvertTo(FIValue::kHeapText);
    EXPECT_EQ(heap.Capacity(), 32u);
    FIValue stays(std::string(30, 'q'));
    stays.ConvertTo(FIValue::kInlineText);
    EXPECT_EQ(stays.GetTag(), FIValue::kHeapText);
}

TEST(FIValueConversion, TextToNumbersNeverOverflow) {
    struct Row {
        const char* text;
        int32_t asInt;
        double asDouble;
    };
    const Row rows[] = {
        {"42", 42, 42.0},
        {"  -17abc", -17, -17.0},
        {"+3.75", 3, 3.75},
        {"abc", 0, 0.0},
        {"", 0, 0.0},
        {"99999999999999999999", INT32_MAX, 1e20},
        {"-99999999999999999999", INT32_MIN, -1e20},
        {"1e3", 1, 1000.0},
        {"\xff\x80", 0, 0.0},
    };
    for (const Row& r : rows) {
        FIValue v(r.text);
        EXPECT_EQ(v.ToInt(), r.asInt) << r.text;
        EXPECT_DOUBLE_EQ(v.ToDouble(), r.asDouble) << r.text;
        FIValue i(r.text);
        i.ConvertTo(FIValue::kInt);
        EXPECT_EQ(i.GetTag(), FIValue::kInt);
        EXPECT_EQ(i.ToInt(), r.asInt);
    }
    // Reals go to integers truncated toward zero, clamped at the range, NaN to 0.
    EXPECT_EQ(FIValue(-2.9).ToInt(), -2);
    EXPECT_EQ(FIValue(1e300).ToInt(), INT32_MAX);
    EXPECT_EQ(FIValue(-1e300).ToInt(), INT32_MIN);
    EXPECT_EQ(FIValue(std::nan("")).ToInt(), 0);
    EXPECT_EQ(FIValue(INFINITY).ToInt(), INT32_MAX);
    EXPECT_DOUBLE_EQ(FIValue(5).ToDouble(), 5.0);
    EXPECT_EQ(FIValue().ToInt(), 0);
}

TEST(FIValueConversion, ToBool) {
    EXPECT_TRUE(FIValue("TRUE").ToBool(false));
    EXPECT_FALSE(FIValue("False").ToBool(true));
    EXPECT_TRUE(FIValue("yes").ToBool(true));
    EXPECT_FALSE(FIValue("yes").ToBool(false));
    EXPECT_FALSE(FIValue(0.0).ToBool(true));
    EXPECT_TRUE(FIValue(std::nan("")).ToBool(false));
    EXPECT_TRUE(FIValue(-3).ToBool(false));
    EXPECT_TRUE(FIValue().ToBool(true));
}

TEST(FIValueConversion, CopyToIsBounded) {
    char buf[8];
    std::memset(buf, 'x', sizeof buf);
    FIValue("abcdefghij").CopyTo(buf, sizeof buf);
    EXPECT_STREQ(buf, "abcdefg");
    FIValue(12345).CopyTo(buf, 4);
    EXPECT_STREQ(buf, "123");
    buf[0] = 'k';
    FIValue("abc").CopyTo(buf, 0);  // nothing may be written
    EXPECT_EQ(buf[0], 'k');
    FIValue().CopyTo(buf, sizeof buf);
    EXPECT_STREQ(buf, "");
}

TEST(FIValueAppend, QuotingRules) {
    struct Row {
        const char* text;
        const char* expected;
    };
    const Row rows[] = {
        {"A.B", "\"A.B\""},        {"#12", "\"#12\""},     {"#", "\"#\""},        {"*", "\"*\""}, {"**", "**"},
        {"a\"b.c", "\"a\"\"b.c\""}, {"plain name", "plain name"}, {"#1a", "\"#1a\""},
        {"x[1]", "\"x[1]\""},        {"\"", "\"\"\"\""},       {"ab\"", "\"ab\"\"\""}, {"", ""},
        {"\"a\"\"b", "\"\"\"a\"\"\"\"b\""},
    };
    for (const Row& r : rows) {
        FIValue v;
        v.Append(r.text, true, false);
        EXPECT_EQ(Text(v), r.expected) << r.text;
        EXPECT_EQ(v.GetTag(), FIValue::kHeapText);
        // Written on its own as one step of a path, in the length announced, within twice the name and
        // the quotes.
        const size_t n = std::strlen(r.text);
        std::string out(2 * n + 2, '?');
        char* end = FIWritePathName(out.data(), r.text, n);
        EXPECT_EQ(std::string(out.data(), end), r.expected) << r.text;
        EXPECT_EQ(FIPathNameSize(r.text, n), std::strlen(r.expected)) << r.text;
    }
}

TEST(FIValueAppend, EscapingWinsOverQuoting) {
    struct Row {
        const char* text;
        bool quote;
        const char* expected;
    };
    const Row rows[] = {
        {"a<b", true, "a&lt;b"},
        {"a.b", true, "a.b"},  // escape asked for: nothing to escape, appended bare
        {"&amp;", false, "&amp;"},
        {"&", false, "&amp;"},
        {"&lt;x&y", false, "&lt;x&amp;y"},
        {"'\"\n\r>", false, "&apos;&quot;&#10;&#13;&gt;"},
        {"&#1", false, "&amp;#1"},
    };
    for (const Row& r : rows) {
        FIValue v("pre:");
        v.Append(r.text, r.quote, true);
        EXPECT_EQ(Text(v), std::string("pre:") + r.expected) << r.text;
    }
    FIValue nul;
    nul.Append(std::string("a\0b", 3), false, true);
    EXPECT_EQ(Text(nul), "a&#00;b");
}

TEST(FIValueAppend, AppendNAndNumbers) {
    FIValue v;
    v.AppendN("abc.def", 0, true, false);
    EXPECT_EQ(v.GetTag(), FIValue::kHeapText);
    EXPECT_EQ(Text(v), "");
    v.AppendN("abc.def", 3, true, false);  // no delimiter among the first three
    EXPECT_EQ(Text(v), "abc");
    v.AppendN("x.y", 100, true, false);
    EXPECT_EQ(Text(v), "abc\"x.y\"");
    FIValue w;
    w.AppendN("#12.5", 3, true, false);
    EXPECT_EQ(Text(w), "\"#12\"") << "a name that reads as a count is quoted";
    FIValue n("n=");
    n.AppendInt(-5);
    n.AppendDouble(0.25);
    n.AppendValue(FIValue(7));
    n.AppendValue(FIValue("a.b"), true, false);
    n.AppendValue(FIValue());
    EXPECT_EQ(Text(n), "n=-50.257\"a.b\"");
}

TEST(FIValueAppend, AppendCharInlineThenHeap) {
    FIValue v;
    for (int i = 0; i < 19; ++i) v.AppendChar('a');
    EXPECT_EQ(v.GetTag(), FIValue::kInlineText);  // inline text may reach 19 this way
    v.AppendChar('b');
    EXPECT_EQ(v.GetTag(), FIValue::kHeapText);
    EXPECT_EQ(Text(v), std::string(19, 'a') + "b");
    for (int i = 0; i < 100; ++i) v.AppendChar('c');
    EXPECT_EQ(v.Length(), 120u);
    EXPECT_EQ(v.Capacity(), 128u);
    FIValue num(12);
    num.AppendChar('x');
    EXPECT_EQ(Text(num), "12x");
}

TEST(FIValueCompare, AsymmetricRules) {
    struct Row {
        FIValue a;
        FIValue b;
        int expected;
    };
    const Row rows[] = {
        {FIValue("5"), FIValue(5), -2},
        {FIValue(5), FIValue("5"), 0},
        {FIValue(5), FIValue("5.9"), 0},  // converted to a's tag: 5
        {FIValue(5.5), FIValue("5.9"), -1},
        {FIValue(), FIValue(""), 0},
        {FIValue(), FIValue(), 0},
        {FIValue(3), FIValue(), -2},
        {FIValue(), FIValue(3), -1},
        {FIValue(), FIValue("x"), -1},
        {FIValue("abc"), FIValue("abd"), -1},
        {FIValue("b"), FIValue("a"), 1},
        {FIValue("ab"), FIValue("abc"), -1},
        {FIValue("\xff"), FIValue("a"), 1},  // byte-wise, unsigned
        {FIValue(std::string(30, 'a')), FIValue(std::string(30, 'a')), 0},
        {FIValue(2), FIValue(2.0), 0},
        {FIValue(3.5), FIValue(2), 1},
        {FIValue("x"), FIValue(), -2},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(FIValue::Compare(r.a, r.b), r.expected) << Text(r.a) << " vs " << Text(r.b);
    }
}

}  // namespace
