// The test programs' main on Windows: the process joins the multithreaded apartment first, so the
// platform's COM serves every thread (the tests', the engine's) as the in-process library expects.
#include <objbase.h>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return 2;
    const int result = RUN_ALL_TESTS();
    CoUninitialize();
    return result;
}
