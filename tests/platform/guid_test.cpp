#include <gtest/gtest.h>
#include <windows.h>

TEST(Guid, LiteralParsesFieldsInOrder) {
    constexpr GUID g = guid_from_literal("00380002-71C8-4F3D-A9E2-5B60D4F8A213");
    EXPECT_EQ(g.Data1, 0x00380002u);
    EXPECT_EQ(g.Data2, 0x71C8u);
    EXPECT_EQ(g.Data3, 0x4F3Du);
    EXPECT_EQ(g.Data4[0], 0xA9u);
    EXPECT_EQ(g.Data4[7], 0x13u);
    EXPECT_TRUE(IsEqualGUID(__uuidof(IUnknown*), IID_IUnknown));
    EXPECT_FALSE(IsEqualGUID(IID_IDispatch, IID_IUnknown));
}
