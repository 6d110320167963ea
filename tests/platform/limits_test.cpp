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

// An array whose feature flags claim elements larger than its element size (a client's hand-made
// descriptor) is refused by every function that reads or writes elements by those flags, instead of being
// read past its storage; destroying it frees its storage as plain bytes.
TEST(SafeArrayDescriptor, FlagsThatDisagreeWithTheElementSizeAreRefused) {
    struct Lie {
        VARTYPE made_as;
        USHORT claimed;
    };
    const Lie lies[] = {{VT_I4, FADF_VARIANT | FADF_HAVEVARTYPE},
                        {VT_I2, FADF_BSTR | FADF_HAVEVARTYPE},
                        {VT_UI1, FADF_UNKNOWN | FADF_HAVEIID},
                        {VT_I4, FADF_DISPATCH}};
    for (const Lie& lie : lies) {
        SCOPED_TRACE(lie.claimed);
        SAFEARRAY* psa = SafeArrayCreateVector(lie.made_as, 0, 4);
        ASSERT_NE(psa, nullptr);
        psa->fFeatures = lie.claimed;
        SAFEARRAY* copy = nullptr;
        EXPECT_EQ(SafeArrayCopy(psa, &copy), E_INVALIDARG);
        EXPECT_EQ(copy, nullptr);
        VARIANT element;
        VariantInit(&element);
        LONG at = 3;
        EXPECT_EQ(SafeArrayGetElement(psa, &at, &element), E_INVALIDARG);
        EXPECT_EQ(SafeArrayPutElement(psa, &at, &element), E_INVALIDARG);
        VARIANT holder;
        holder.vt = VT_ARRAY | VT_VARIANT;
        holder.parray = psa;
        VARIANT copied;
        VariantInit(&copied);
        EXPECT_EQ(VariantCopy(&copied, &holder), E_INVALIDARG);
        EXPECT_EQ(copied.vt, VT_EMPTY);
        EXPECT_EQ(SafeArrayDestroy(psa), S_OK);
    }
}
