#include <gtest/gtest.h>
#include <oleauto.h>

// A VARIANT array that contains itself can only be made by writing into its storage directly; copying
// it must fail cleanly rather than recurse without end.
TEST(SafeArrayCycle, CopyOfASelfContainingArrayFails) {
    SAFEARRAY* psa = SafeArrayCreateVector(VT_VARIANT, 0, 1);
    ASSERT_NE(psa, nullptr);
    VARIANT* data = nullptr;
    ASSERT_EQ(SafeArrayAccessData(psa, reinterpret_cast<void**>(&data)), S_OK);
    data[0].vt = VT_ARRAY | VT_VARIANT;
    data[0].parray = psa;
    SafeArrayUnaccessData(psa);
    SAFEARRAY* copy = nullptr;
    EXPECT_EQ(SafeArrayCopy(psa, &copy), E_INVALIDARG);
    EXPECT_EQ(copy, nullptr);
    // Undo the cycle before destroying.
    ASSERT_EQ(SafeArrayAccessData(psa, reinterpret_cast<void**>(&data)), S_OK);
    VariantInit(&data[0]);
    SafeArrayUnaccessData(psa);
    EXPECT_EQ(SafeArrayDestroy(psa), S_OK);
}
