#include "check.h"

namespace {
IErrorInfo* make_error(const OLECHAR* description) {
    ICreateErrorInfo* create = nullptr;
    if (FAILED(CreateErrorInfo(&create))) return nullptr;
    create->SetSource(const_cast<LPOLESTR>(OLESTR("NUVVariable")));
    create->SetDescription(const_cast<LPOLESTR>(description));
    create->SetGUID(IID_IDispatch);
    create->SetHelpContext(7);
    IErrorInfo* info = nullptr;
    create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info));
    create->Release();
    return info;
}
}  // namespace

TEST(ErrorInfo, FieldsReadBackAsSet) {
    IErrorInfo* info = make_error(OLESTR("Interface no longer references a valid object"));
    ASSERT_TRUE(info != nullptr);
    BstrHolder source, description, help;
    EXPECT_EQ(info->GetSource(source.receive()), S_OK);
    EXPECT_EQ(info->GetDescription(description.receive()), S_OK);
    EXPECT_EQ(info->GetHelpFile(help.receive()), S_OK);
    EXPECT_TRUE(bstr_text(source.get()) == ostring(OLESTR("NUVVariable")));
    EXPECT_TRUE(bstr_text(description.get()) == ostring(OLESTR("Interface no longer references a valid object")));
    EXPECT_TRUE(help.get() == nullptr);
    GUID g = GUID_NULL;
    EXPECT_EQ(info->GetGUID(&g), S_OK);
    EXPECT_TRUE(IsEqualGUID(g, IID_IDispatch));
    DWORD context = 0;
    EXPECT_EQ(info->GetHelpContext(&context), S_OK);
    EXPECT_EQ(context, 7u);
    info->Release();
}

TEST(ErrorInfo, GetHandsOverAndClearsTheSlot) {
    IErrorInfo* stale = nullptr;
    GetErrorInfo(0, &stale);  // whatever an earlier test left
    if (stale) stale->Release();

    IErrorInfo* info = make_error(OLESTR("first"));
    ASSERT_EQ(SetErrorInfo(0, info), S_OK);
    info->Release();
    IErrorInfo* got = nullptr;
    ASSERT_EQ(GetErrorInfo(0, &got), S_OK);
    ASSERT_TRUE(got != nullptr);
    BstrHolder d;
    got->GetDescription(d.receive());
    EXPECT_TRUE(bstr_text(d.get()) == ostring(OLESTR("first")));
    got->Release();
    IErrorInfo* again = reinterpret_cast<IErrorInfo*>(1);
    EXPECT_EQ(GetErrorInfo(0, &again), S_FALSE);
    EXPECT_TRUE(again == nullptr);

    // A newer error replaces the older one; setting null clears.
    IErrorInfo* a = make_error(OLESTR("a"));
    IErrorInfo* b = make_error(OLESTR("b"));
    SetErrorInfo(0, a);
    SetErrorInfo(0, b);
    a->Release();
    b->Release();
    ASSERT_EQ(GetErrorInfo(0, &got), S_OK);
    got->GetDescription(d.receive());
    EXPECT_TRUE(bstr_text(d.get()) == ostring(OLESTR("b")));
    got->Release();
    IErrorInfo* c = make_error(OLESTR("c"));
    SetErrorInfo(0, c);
    c->Release();
    SetErrorInfo(0, nullptr);
    EXPECT_EQ(GetErrorInfo(0, &got), S_FALSE);
}
