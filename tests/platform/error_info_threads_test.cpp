#include <gtest/gtest.h>
#include <oleauto.h>

#include <thread>

TEST(ErrorInfoThreads, EachThreadHasItsOwnSlot) {
    ICreateErrorInfo* create = nullptr;
    ASSERT_EQ(CreateErrorInfo(&create), S_OK);
    IErrorInfo* info = nullptr;
    ASSERT_EQ(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)), S_OK);
    create->Release();
    SetErrorInfo(0, info);
    HRESULT other_thread = E_FAIL;
    std::thread([&] {
        IErrorInfo* seen = nullptr;
        other_thread = GetErrorInfo(0, &seen);
        // An error left behind when a thread ends is released with it (checked by the leak sanitizer).
        SetErrorInfo(0, info);
    }).join();
    EXPECT_EQ(other_thread, S_FALSE);
    IErrorInfo* mine = nullptr;
    EXPECT_EQ(GetErrorInfo(0, &mine), S_OK);
    EXPECT_EQ(mine, info);
    mine->Release();
    info->Release();
}
