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

TEST(Limits, SizesBeyondTheAddressableFailCleanly) {
    // The byte count of a BSTR must fit its 32-bit prefix.
    EXPECT_EQ(SysAllocStringLen(nullptr, 0x7FFFFFFFu), nullptr);
    EXPECT_EQ(SysAllocStringByteLen(nullptr, 0xFFFFFFFFu), nullptr);
    BSTR b = SysAllocString(u"keep");
    EXPECT_FALSE(SysReAllocStringLen(&b, nullptr, 0x7FFFFFFFu));
    EXPECT_EQ(SysStringLen(b), 4u);  // a failed reallocation keeps the old string
    SysFreeString(b);

    // Element counts whose product overflows are refused rather than wrapped.
    SAFEARRAYBOUND huge[2] = {{0xFFFFFFFFu, 0}, {0xFFFFFFFFu, 0}};
    EXPECT_EQ(SafeArrayCreate(VT_VARIANT, 2, huge), nullptr);
    EXPECT_EQ(SafeArrayCreate(VT_I4, 0, huge), nullptr);
    EXPECT_EQ(SafeArrayCreate(VT_RECORD, 1, huge), nullptr);  // records are not supported
    SAFEARRAY* psa = SafeArrayCreateVector(VT_I4, 0, 1);
    SAFEARRAYBOUND grow{0xFFFFFFFFu, 0};
    psa->cDims = 1;
    EXPECT_NE(SafeArrayRedim(psa, &grow), S_OK);
    LONG ub = 0;
    EXPECT_EQ(SafeArrayGetUBound(psa, 1, &ub), S_OK);
    EXPECT_EQ(ub, 0);  // unchanged after the refusal
    SafeArrayDestroy(psa);
}
