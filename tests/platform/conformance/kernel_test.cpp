#include <cstring>

#include "check.h"

TEST(KernelProtocol, ComputerNameReportsTheSizeItNeeds) {
    DWORD size = 0;
    EXPECT_FALSE(GetComputerNameA(nullptr, &size));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_BUFFER_OVERFLOW));
    ASSERT_TRUE(size > 1);
    char name[256] = {};
    DWORD n = sizeof name;
    ASSERT_TRUE(GetComputerNameA(name, &n));
    EXPECT_EQ(n, size - 1);
    EXPECT_EQ(std::strlen(name), size_t(n));
    // Callers size their buffers by the platform's limit.
    EXPECT_TRUE(n <= MAX_COMPUTERNAME_LENGTH);
    char limited[MAX_COMPUTERNAME_LENGTH + 1];
    n = sizeof limited;
    EXPECT_TRUE(GetComputerNameA(limited, &n));
    for (const char* c = name; *c; ++c) EXPECT_FALSE(*c >= 'a' && *c <= 'z');
}

TEST(KernelProtocol, ModuleFileNameTruncatesWithATerminator) {
    char path[1024] = {};
    const DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    ASSERT_TRUE(n > 4);
    EXPECT_EQ(std::strlen(path), size_t(n));
    char small[5];
    SetLastError(0);
    EXPECT_EQ(GetModuleFileNameA(nullptr, small, sizeof small), DWORD(sizeof small));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(std::strncmp(small, path, sizeof small - 1), 0);
#ifndef _WIN32
    // Older platform versions (and wine) leave a truncated name unterminated; this library always
    // terminates it.
    EXPECT_EQ(small[sizeof small - 1], '\0');
#endif
}

TEST(KernelProtocol, InterlockedAndCriticalSectionBasics) {
    volatile LONG v = 5;
    EXPECT_EQ(InterlockedIncrement(&v), 6);
    EXPECT_EQ(InterlockedDecrement(&v), 5);
    EXPECT_EQ(InterlockedExchange(&v, 9), 5);
    EXPECT_EQ(InterlockedExchangeAdd(&v, 3), 9);
    EXPECT_EQ(InterlockedCompareExchange(&v, 1, 7), 12);
    EXPECT_EQ(InterlockedCompareExchange(&v, 1, 12), 12);
    EXPECT_EQ(v, 1);
    int target = 0;
    PVOID volatile p = nullptr;
    EXPECT_TRUE(InterlockedCompareExchangePointer(&p, &target, nullptr) == nullptr);
    EXPECT_TRUE(p == &target);

    CRITICAL_SECTION cs;
    InitializeCriticalSection(&cs);
    EnterCriticalSection(&cs);
    EXPECT_TRUE(TryEnterCriticalSection(&cs));  // the owner may enter again
    LeaveCriticalSection(&cs);
    LeaveCriticalSection(&cs);
    DeleteCriticalSection(&cs);
}

TEST(KernelProtocol, StringExtras) {
    const struct {
        const char* a;
        const char* b;
        int sign;
    } rows[] = {{"Flowsheet", "FLOWSHEET", 0}, {"abc", "abd", -1}, {"B", "a", 1}, {"ab", "abc", -1}, {"", "", 0}};
    for (const auto& r : rows) {
        SCOPED_TRACE(std::string(r.a) + " vs " + r.b);
        const int c = _stricmp(r.a, r.b);
        EXPECT_EQ((c > 0) - (c < 0), r.sign);
    }
    EXPECT_EQ(lstrlenW(OLESTR("abc")), 3);
    EXPECT_EQ(lstrlenW(nullptr), 0);
    char buffer[32];
    ASSERT_EQ(_gcvt_s(buffer, sizeof buffer, -0.5, 6), 0);
    EXPECT_EQ(std::string(buffer), std::string("-0.5"));
    ASSERT_EQ(_gcvt_s(buffer, sizeof buffer, 3.14159265, 6), 0);
    EXPECT_EQ(std::string(buffer), std::string("3.14159"));
}
