#include <gtest/gtest.h>
#include <nuv_platform_hooks.h>
#include <nuv_text.h>
#include <windows.h>

#include <string>
#include <thread>
#include <vector>

namespace {
// A function that lives in the test executable itself.
void executable_anchor() {}
}  // namespace

TEST(CriticalSection, IsRecursiveAndExcludesOtherThreads) {
    CRITICAL_SECTION cs;
    InitializeCriticalSection(&cs);
    EnterCriticalSection(&cs);
    EnterCriticalSection(&cs);
    BOOL other_got_it = TRUE;
    std::thread([&] { other_got_it = TryEnterCriticalSection(&cs); }).join();
    EXPECT_FALSE(other_got_it);
    LeaveCriticalSection(&cs);
    std::thread([&] { other_got_it = TryEnterCriticalSection(&cs); }).join();
    EXPECT_FALSE(other_got_it);  // still held once
    LeaveCriticalSection(&cs);

    long counter = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 10000; ++i) {
                EnterCriticalSection(&cs);
                ++counter;
                LeaveCriticalSection(&cs);
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(counter, 40000);
    DeleteCriticalSection(&cs);
}

TEST(ProcessInfo, ComputerNameAndModuleFileNames) {
    char name[256];
    DWORD name_length = sizeof name;
    ASSERT_TRUE(GetComputerNameA(name, &name_length));
    char16_t wide_name[256];
    DWORD wn = 256;
    ASSERT_TRUE(GetComputerNameW(wide_name, &wn));
    EXPECT_EQ(nuv::to_utf8(std::u16string_view(wide_name, wn)), std::string(name, name_length));
    EXPECT_EQ(GetCurrentProcessId(), static_cast<DWORD>(getpid()));

    HMODULE platform = nuv::module_handle_of(reinterpret_cast<const void*>(&SysAllocString));
    ASSERT_NE(platform, nullptr);
    char path[4096];
    const DWORD n = GetModuleFileNameA(platform, path, sizeof path);
    ASSERT_GT(n, 0u);
    EXPECT_NE(std::string(path).find("libnuvplatform.so"), std::string::npos);
    EXPECT_EQ(path[0], '/');

    char exe[4096];
    ASSERT_GT(GetModuleFileNameA(nullptr, exe, sizeof exe), 0u);
    EXPECT_NE(std::string(exe).find("platform_tests"), std::string::npos);
    EXPECT_EQ(GetModuleHandleA(nullptr), nuv::module_handle_of(reinterpret_cast<const void*>(&executable_anchor)));
    HMODULE from_address = nullptr;
    EXPECT_TRUE(GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                   reinterpret_cast<LPCSTR>(&SysFreeString), &from_address));
    EXPECT_EQ(from_address, platform);
    EXPECT_EQ(GetModuleHandleA("libnuvplatform.so"), platform);

    // The wide form reports the same length (truncation is in the shared protocol table).
    char16_t wide[4096];
    EXPECT_EQ(GetModuleFileNameW(platform, wide, 4096), n);
    // An address that is no module's load address is refused.
    EXPECT_EQ(GetModuleFileNameA(reinterpret_cast<HMODULE>(reinterpret_cast<char*>(platform) + 16), path, 10), 0u);
    EXPECT_TRUE(DisableThreadLibraryCalls(platform));
}

TEST(DebugOutput, GoesToTheInstalledSinkOnly) {
    std::vector<std::string> seen;
    auto previous = nuv::set_debug_output_sink([&](std::string_view text) { seen.emplace_back(text); });
    OutputDebugStringA("notify: 1\n");
    OutputDebugStringW(u"\u00e9t\u00e9");
    OutputDebugStringA(nullptr);
    nuv::set_debug_output_sink(previous);
    OutputDebugStringA("not captured");
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0], "notify: 1\n");
    EXPECT_EQ(seen[1], "\xC3\xA9t\xC3\xA9");
}

TEST(CrtExtras, BoundedCompareAndNumberText) {
    EXPECT_EQ(_strnicmp("TypeLibX", "typelibY", 7), 0);

    const struct {
        double value;
        int digits;
        const char* text;
    } numbers[] = {{1e20, 6, "1e+20"}, {100, 6, "100"}, {1234567, 6, "1.23457e+06"}};
    for (const auto& r : numbers) {
        char buffer[32];
        ASSERT_EQ(_gcvt_s(buffer, sizeof buffer, r.value, r.digits), 0);
        EXPECT_STREQ(buffer, r.text);
    }
    char tiny[3];
    EXPECT_EQ(_gcvt_s(tiny, sizeof tiny, 3.14159, 6), ERANGE);
    EXPECT_EQ(tiny[0], '\0');
}
