#include "check.h"

TEST(GuidText, FormatsWithBracesAndUpperCase) {
    const GUID g = {0x00380002, 0x71C8, 0x4F3D, {0xA9, 0xE2, 0x5B, 0x60, 0xD4, 0xF8, 0xA2, 0x13}};
    OLECHAR text[39];
    EXPECT_EQ(StringFromGUID2(g, text, 39), 39);
    EXPECT_TRUE(ostring(text) == ostring(OLESTR("{00380002-71C8-4F3D-A9E2-5B60D4F8A213}")));
    EXPECT_EQ(StringFromGUID2(g, text, 38), 0);
    LPOLESTR allocated = nullptr;
    ASSERT_EQ(StringFromCLSID(g, &allocated), S_OK);
    EXPECT_TRUE(ostring(allocated) == ostring(text));
    CoTaskMemFree(allocated);
}

TEST(GuidText, ParsesAnyCaseAndRejectsMalformedText) {
    const GUID expected = {0x00380002, 0x71C8, 0x4F3D, {0xA9, 0xE2, 0x5B, 0x60, 0xD4, 0xF8, 0xA2, 0x13}};
    GUID g = GUID_NULL;
    EXPECT_EQ(CLSIDFromString(OLESTR("{00380002-71c8-4f3d-a9e2-5b60d4f8a213}"), &g), S_OK);
    EXPECT_TRUE(IsEqualGUID(g, expected));
    EXPECT_EQ(IIDFromString(OLESTR("{00380002-71C8-4F3D-A9E2-5B60D4F8A213}"), &g), S_OK);
    EXPECT_TRUE(IsEqualGUID(g, expected));
    const OLECHAR* bad[] = {
        OLESTR("00380002-71C8-4F3D-A9E2-5B60D4F8A213"),    // no braces
        OLESTR("{00380002-71C8-4F3D-A9E2-5B60D4F8A21}"),   // short
        OLESTR("{00380002-71C8-4F3D-A9E2-5B60D4F8A2130}"), // long
        OLESTR("{0038000G-71C8-4F3D-A9E2-5B60D4F8A213}"),  // not hex
        OLESTR("{00380002_71C8-4F3D-A9E2-5B60D4F8A213}"),  // wrong separator
    };
    for (const OLECHAR* text : bad) EXPECT_EQ(CLSIDFromString(text, &g), CO_E_CLASSSTRING);
}
