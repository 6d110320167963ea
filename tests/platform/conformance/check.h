// Test macros for the conformance tables. On Linux they are GoogleTest's; built for Windows (mingw-w64,
// run under wine against the real platform) a minimal runner with the same macro names stands in, so
// one source checks both platforms.
#pragma once
#include <windows.h>
#include <oleauto.h>

#include <string>

#ifndef _WIN32
#include <gtest/gtest.h>
#else
#include <cmath>
#include <type_traits>
#include <cstdio>
#include <sstream>
#include <vector>

namespace check {
struct Case {
    const char* suite;
    const char* name;
    void (*fn)();
};
inline std::vector<Case>& registry() {
    static std::vector<Case> cases;
    return cases;
}
inline int& failures() {
    static int n = 0;
    return n;
}
struct Register {
    Register(const char* suite, const char* name, void (*fn)()) { registry().push_back({suite, name, fn}); }
};
template <class T>
std::string show(const T& v) {
    if constexpr (std::is_enum_v<T>) {
        return std::to_string(static_cast<long long>(v));
    } else if constexpr (std::is_arithmetic_v<T>) {
        std::ostringstream s;
        s.precision(17);
        s << +v;
        return s.str();
    } else if constexpr (std::is_convertible_v<T, std::string>) {
        return std::string(v);
    } else if constexpr (std::is_same_v<T, std::wstring>) {
        std::string out;
        for (wchar_t c : v) out += c < 128 ? static_cast<char>(c) : '?';
        return "L\"" + out + "\"";
    } else {
        return "?";
    }
}
inline std::vector<std::string>& traces() {
    static std::vector<std::string> stack;
    return stack;
}
struct Trace {
    explicit Trace(const std::string& text) { traces().push_back(text); }
    ~Trace() { traces().pop_back(); }
};
inline void fail(const char* file, int line, const std::string& what) {
    ++failures();
    std::printf("%s:%d: failure: %s\n", file, line, what.c_str());
    for (const auto& t : traces()) std::printf("  while: %s\n", t.c_str());
}
struct Abort {};
}  // namespace check

#define TEST(suite, name)                                                                          \
    static void suite##_##name##_body();                                                          \
    static check::Register suite##_##name##_reg(#suite, #name, &suite##_##name##_body);           \
    static void suite##_##name##_body()

#define CHECK_BINARY_(a, b, op, fatal)                                                               \
    do {                                                                                            \
        const auto& check_a_ = (a);                                                                 \
        const auto& check_b_ = (b);                                                                 \
        if (!(check_a_ op check_b_)) {                                                              \
            check::fail(__FILE__, __LINE__,                                                         \
                        std::string(#a " " #op " " #b) + " (" + check::show(check_a_) + " vs " +    \
                            check::show(check_b_) + ")");                                           \
            if (fatal) throw check::Abort{};                                                        \
        }                                                                                           \
    } while (0)
#define EXPECT_EQ(a, b) CHECK_BINARY_(a, b, ==, false)
#define EXPECT_NE(a, b) CHECK_BINARY_(a, b, !=, false)
#define EXPECT_LT(a, b) CHECK_BINARY_(a, b, <, false)
#define EXPECT_GT(a, b) CHECK_BINARY_(a, b, >, false)
#define ASSERT_EQ(a, b) CHECK_BINARY_(a, b, ==, true)
#define ASSERT_NE(a, b) CHECK_BINARY_(a, b, !=, true)
#define EXPECT_TRUE(c) CHECK_BINARY_(static_cast<bool>(c), true, ==, false)
#define EXPECT_FALSE(c) CHECK_BINARY_(static_cast<bool>(c), false, ==, false)
#define ASSERT_TRUE(c) CHECK_BINARY_(static_cast<bool>(c), true, ==, true)
#define ASSERT_FALSE(c) CHECK_BINARY_(static_cast<bool>(c), false, ==, true)
#define EXPECT_DOUBLE_EQ(a, b) CHECK_BINARY_(static_cast<double>(a), static_cast<double>(b), ==, false)
#define CHECK_CAT_(a, b) a##b
#define CHECK_NAME_(line) CHECK_CAT_(check_trace_, line)
#define SCOPED_TRACE(msg) check::Trace CHECK_NAME_(__LINE__)(msg)

// Prints "cases: <n>" first, then "<suite>.<name> ..." before and "ok"/"FAIL" after each case, then
// "<n> failure(s)": a run that stops between the first and the last line crashed.
#define CHECK_MAIN_                                                                                  \
    int main() {                                                                                    \
        std::printf("cases: %d\n", static_cast<int>(check::registry().size()));                    \
        for (const auto& c : check::registry()) {                                                   \
            const int before = check::failures();                                                  \
            std::printf("%s.%s ...\n", c.suite, c.name);                                            \
            std::fflush(stdout);                                                                    \
            try {                                                                                   \
                c.fn();                                                                             \
            } catch (const check::Abort&) {                                                         \
            }                                                                                       \
            std::printf("%s %s.%s\n", check::failures() == before ? "ok  " : "FAIL", c.suite, c.name); \
        }                                                                                           \
        std::printf("%d failure(s)\n", check::failures());                                          \
        return check::failures() ? 1 : 0;                                                           \
    }
#endif

// Text in the platform's OLECHAR type, whichever character type that is.
using ostring = std::basic_string<OLECHAR>;
inline ostring bstr_text(BSTR b) { return b ? ostring(b, SysStringLen(b)) : ostring(); }

// Owns one BSTR for the length of a test.
class BstrHolder {
public:
    explicit BstrHolder(BSTR b = nullptr) : b_(b) {}
    ~BstrHolder() { SysFreeString(b_); }
    BstrHolder(const BstrHolder&) = delete;
    BstrHolder& operator=(const BstrHolder&) = delete;
    BSTR get() const { return b_; }
    // For calls that replace the string in place (SysReAllocString).
    BSTR* address() { return &b_; }
    BSTR* receive() {
        SysFreeString(b_);
        b_ = nullptr;
        return &b_;
    }

private:
    BSTR b_;
};
