#include "check.h"
#include "fake_object.h"

namespace {
// The calling thread joins the multithreaded apartment for the length of a test.
struct Apartment {
    Apartment() { CoInitializeEx(nullptr, COINIT_MULTITHREADED); }
    ~Apartment() { CoUninitialize(); }
};
}  // namespace

TEST(GlobalTable, RegisteredInterfaceComesBackUntilRevoked) {
    Apartment apartment;
    IGlobalInterfaceTable* git = nullptr;
    ASSERT_EQ(CoCreateInstance(CLSID_StdGlobalInterfaceTable, nullptr, CLSCTX_INPROC_SERVER, IID_IGlobalInterfaceTable,
                               reinterpret_cast<void**>(&git)),
              S_OK);
    FakeObject object;
    DWORD cookie = 0;
    ASSERT_EQ(git->RegisterInterfaceInGlobal(static_cast<IDispatch*>(&object), IID_IDispatch, &cookie), S_OK);
    EXPECT_NE(cookie, 0u);
    IDispatch* back = nullptr;
    ASSERT_EQ(git->GetInterfaceFromGlobal(cookie, IID_IDispatch, reinterpret_cast<void**>(&back)), S_OK);
    EXPECT_TRUE(back == static_cast<IDispatch*>(&object));
    back->Release();
    EXPECT_EQ(git->RevokeInterfaceFromGlobal(cookie), S_OK);
    EXPECT_EQ(object.refs(), 1);
    EXPECT_NE(git->RevokeInterfaceFromGlobal(cookie), S_OK);
    git->Release();
}

TEST(GlobalTable, MarshalledStreamGivesTheObjectBackInItsApartment) {
    Apartment apartment;
    FakeObject object;
    IStream* stream = nullptr;
    ASSERT_EQ(CoMarshalInterThreadInterfaceInStream(IID_IDispatch, static_cast<IDispatch*>(&object), &stream), S_OK);
    IDispatch* back = nullptr;
    ASSERT_EQ(CoGetInterfaceAndReleaseStream(stream, IID_IDispatch, reinterpret_cast<void**>(&back)), S_OK);
    EXPECT_TRUE(back == static_cast<IDispatch*>(&object));
    back->Release();
    EXPECT_EQ(object.refs(), 1);
}
