#include <vector>

#include "check.h"
#include "fake_object.h"

namespace {
// Destroys the array at the end of a test unless the test already did.
struct ArrayHolder {
    SAFEARRAY* psa;
    ~ArrayHolder() {
        if (psa) SafeArrayDestroy(psa);
    }
};
}  // namespace

TEST(SafeArray, BoundsAreStoredInReverseAndIndexedDimensionOneFirst) {
    SAFEARRAYBOUND bounds[2] = {{3, 1}, {4, -2}};  // rows 1..3, columns -2..1
    ArrayHolder a{SafeArrayCreate(VT_R8, 2, bounds)};
    ASSERT_TRUE(a.psa != nullptr);
    EXPECT_EQ(SafeArrayGetDim(a.psa), 2u);
    EXPECT_EQ(SafeArrayGetElemsize(a.psa), 8u);
    EXPECT_EQ(a.psa->rgsabound[0].cElements, 4u);
    EXPECT_EQ(a.psa->rgsabound[0].lLbound, -2);
    EXPECT_EQ(a.psa->rgsabound[1].cElements, 3u);
    EXPECT_EQ(a.psa->rgsabound[1].lLbound, 1);
    LONG lo = 0, hi = 0;
    const LONG expected[2][2] = {{1, 3}, {-2, 1}};
    for (UINT dim = 1; dim <= 2; ++dim) {
        EXPECT_EQ(SafeArrayGetLBound(a.psa, dim, &lo), S_OK);
        EXPECT_EQ(SafeArrayGetUBound(a.psa, dim, &hi), S_OK);
        EXPECT_EQ(lo, expected[dim - 1][0]);
        EXPECT_EQ(hi, expected[dim - 1][1]);
    }
    EXPECT_EQ(SafeArrayGetLBound(a.psa, 0, &lo), DISP_E_BADINDEX);
    EXPECT_EQ(SafeArrayGetUBound(a.psa, 3, &hi), DISP_E_BADINDEX);

    for (LONG r = 1; r <= 3; ++r) {
        for (LONG c = -2; c <= 1; ++c) {
            LONG index[2] = {r, c};
            double v = r * 10 + c;
            ASSERT_EQ(SafeArrayPutElement(a.psa, index, &v), S_OK);
        }
    }
    // Dimension 1 varies fastest in memory.
    double* data = nullptr;
    ASSERT_EQ(SafeArrayAccessData(a.psa, reinterpret_cast<void**>(&data)), S_OK);
    EXPECT_EQ(data[0], 8.0);              // (1, -2)
    EXPECT_EQ(data[1], 18.0);             // (2, -2)
    EXPECT_EQ(data[3], 9.0);              // (1, -1)
    EXPECT_EQ(data[3 * 3 + 2], 31.0);     // (3, 1)
    EXPECT_EQ(SafeArrayUnaccessData(a.psa), S_OK);

    const LONG outside[][2] = {{0, 0}, {4, 0}, {1, -3}, {1, 2}};
    for (const auto& idx : outside) {
        LONG index[2] = {idx[0], idx[1]};
        double v = 0;
        EXPECT_EQ(SafeArrayGetElement(a.psa, index, &v), DISP_E_BADINDEX);
        EXPECT_EQ(SafeArrayPutElement(a.psa, index, &v), DISP_E_BADINDEX);
    }
}

TEST(SafeArray, FeatureFlagsAndVartypeFollowTheElementType) {
    const struct {
        VARTYPE vt;
        USHORT features;
        ULONG size;
    } rows[] = {
        {VT_I4, FADF_HAVEVARTYPE, 4},
        {VT_R8, FADF_HAVEVARTYPE, 8},
        {VT_BOOL, FADF_HAVEVARTYPE, 2},
        {VT_UI1, FADF_HAVEVARTYPE, 1},
        {VT_BSTR, FADF_HAVEVARTYPE | FADF_BSTR, sizeof(BSTR)},
        {VT_VARIANT, FADF_HAVEVARTYPE | FADF_VARIANT, sizeof(VARIANT)},
        {VT_UNKNOWN, FADF_HAVEIID | FADF_UNKNOWN, sizeof(void*)},
        {VT_DISPATCH, FADF_HAVEIID | FADF_DISPATCH, sizeof(void*)},
    };
    for (const auto& r : rows) {
        ArrayHolder a{SafeArrayCreateVector(r.vt, 0, 3)};
        ASSERT_TRUE(a.psa != nullptr);
        SCOPED_TRACE("vartype " + std::to_string(r.vt));
        // 0x2000 marks an array made by SafeArrayCreateVector on some implementations.
        EXPECT_EQ(a.psa->fFeatures & ~0x2000, r.features);
        EXPECT_EQ(a.psa->cbElements, r.size);
        VARTYPE vt = VT_EMPTY;
        EXPECT_EQ(SafeArrayGetVartype(a.psa, &vt), S_OK);
        EXPECT_EQ(vt, r.vt);
    }
    ArrayHolder d{SafeArrayCreateVector(VT_DISPATCH, 0, 1)};
    GUID iid = GUID_NULL;
    EXPECT_EQ(SafeArrayGetIID(d.psa, &iid), S_OK);
    EXPECT_TRUE(IsEqualGUID(iid, IID_IDispatch));
}

TEST(SafeArray, LockCountsGuardDestruction) {
    SAFEARRAY* psa = SafeArrayCreateVector(VT_BSTR, 0, 2);
    ASSERT_TRUE(psa != nullptr);
    EXPECT_EQ(SafeArrayLock(psa), S_OK);
    void* data = nullptr;
    EXPECT_EQ(SafeArrayAccessData(psa, &data), S_OK);
    EXPECT_EQ(psa->cLocks, 2u);
    EXPECT_EQ(SafeArrayDestroy(psa), DISP_E_ARRAYISLOCKED);
    EXPECT_EQ(SafeArrayDestroyData(psa), DISP_E_ARRAYISLOCKED);
    EXPECT_EQ(SafeArrayUnaccessData(psa), S_OK);
    EXPECT_EQ(SafeArrayDestroy(psa), DISP_E_ARRAYISLOCKED);
    EXPECT_EQ(SafeArrayUnlock(psa), S_OK);
    EXPECT_EQ(SafeArrayUnlock(psa), E_UNEXPECTED);
    EXPECT_EQ(SafeArrayDestroy(psa), S_OK);
    EXPECT_EQ(SafeArrayDestroy(nullptr), S_OK);
}

TEST(SafeArray, ElementsAreCopiedDeeplyOnGetAndPut) {
    ArrayHolder strings{SafeArrayCreateVector(VT_BSTR, 1, 2)};
    LONG i = 1;
    BstrHolder mine(SysAllocString(OLESTR("Reactor")));
    ASSERT_EQ(SafeArrayPutElement(strings.psa, &i, mine.get()), S_OK);
    BSTR stored = static_cast<BSTR*>(strings.psa->pvData)[0];
    EXPECT_TRUE(stored != mine.get());
    BstrHolder got;
    ASSERT_EQ(SafeArrayGetElement(strings.psa, &i, got.receive()), S_OK);
    EXPECT_TRUE(got.get() != stored);
    EXPECT_TRUE(bstr_text(got.get()) == ostring(OLESTR("Reactor")));
    // Replacing an element frees the old one (checked by the leak sanitizer); a null string is
    // stored as an empty one.
    ASSERT_EQ(SafeArrayPutElement(strings.psa, &i, nullptr), S_OK);
    BSTR empty = static_cast<BSTR*>(strings.psa->pvData)[0];
    ASSERT_TRUE(empty != nullptr);
    EXPECT_EQ(SysStringLen(empty), 0u);

    ArrayHolder variants{SafeArrayCreateVector(VT_VARIANT, 0, 1)};
    i = 0;
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocString(OLESTR("x"));
    ASSERT_EQ(SafeArrayPutElement(variants.psa, &i, &v), S_OK);
    VariantClear(&v);
    ASSERT_EQ(SafeArrayGetElement(variants.psa, &i, &v), S_OK);
    EXPECT_EQ(v.vt, VT_BSTR);
    EXPECT_TRUE(bstr_text(v.bstrVal) == ostring(OLESTR("x")));
    EXPECT_TRUE(v.bstrVal != static_cast<VARIANT*>(variants.psa->pvData)[0].bstrVal);
    VariantClear(&v);

    FakeObject object;
    {
        ArrayHolder objects{SafeArrayCreateVector(VT_DISPATCH, 0, 2)};
        ASSERT_EQ(SafeArrayPutElement(objects.psa, &i, static_cast<IDispatch*>(&object)), S_OK);
        EXPECT_EQ(object.refs(), 2);
        IDispatch* out = nullptr;
        ASSERT_EQ(SafeArrayGetElement(objects.psa, &i, &out), S_OK);
        EXPECT_TRUE(out == &object);
        EXPECT_EQ(object.refs(), 3);
        out->Release();
    }
    EXPECT_EQ(object.refs(), 1);
}

TEST(SafeArray, CopiesDuplicateElementsTypeAndNestedArrays) {
    ArrayHolder src{SafeArrayCreateVector(VT_BSTR, 5, 2)};
    LONG i = 6;
    BstrHolder s(SysAllocString(OLESTR("B1")));
    ASSERT_EQ(SafeArrayPutElement(src.psa, &i, s.get()), S_OK);
    ArrayHolder copy{nullptr};
    ASSERT_EQ(SafeArrayCopy(src.psa, &copy.psa), S_OK);
    ASSERT_TRUE(copy.psa != nullptr);
    VARTYPE vt = VT_EMPTY;
    EXPECT_EQ(SafeArrayGetVartype(copy.psa, &vt), S_OK);
    EXPECT_EQ(vt, VT_BSTR);
    LONG lo = 0;
    EXPECT_EQ(SafeArrayGetLBound(copy.psa, 1, &lo), S_OK);
    EXPECT_EQ(lo, 5);
    BSTR a = static_cast<BSTR*>(src.psa->pvData)[1];
    BSTR b = static_cast<BSTR*>(copy.psa->pvData)[1];
    EXPECT_TRUE(a != b);
    EXPECT_TRUE(bstr_text(b) == ostring(OLESTR("B1")));

    // A VARIANT holding an array copies the array.
    VARIANT v, w;
    VariantInit(&v);
    VariantInit(&w);
    v.vt = VT_ARRAY | VT_BSTR;
    v.parray = src.psa;
    ASSERT_EQ(VariantCopy(&w, &v), S_OK);
    EXPECT_TRUE(w.parray != src.psa);
    EXPECT_EQ(w.parray->rgsabound[0].cElements, 2u);
    VariantClear(&w);

    // An array of VARIANTs whose element is that array: reading the element copies the inner array.
    ArrayHolder outer{SafeArrayCreateVector(VT_VARIANT, 0, 1)};
    i = 0;
    ASSERT_EQ(SafeArrayPutElement(outer.psa, &i, &v), S_OK);
    VARIANT got;
    ASSERT_EQ(SafeArrayGetElement(outer.psa, &i, &got), S_OK);
    ASSERT_EQ(got.vt, VARTYPE(VT_ARRAY | VT_BSTR));
    EXPECT_TRUE(got.parray != src.psa);
    BstrHolder text;
    i = 6;
    ASSERT_EQ(SafeArrayGetElement(got.parray, &i, text.receive()), S_OK);
    EXPECT_TRUE(bstr_text(text.get()) == ostring(OLESTR("B1")));
    VariantClear(&got);
}

TEST(SafeArray, RedimChangesTheLastDimension) {
    ArrayHolder a{SafeArrayCreateVector(VT_BSTR, 0, 3)};
    for (LONG i = 0; i < 3; ++i) {
        BstrHolder s(SysAllocString(OLESTR("v")));
        ASSERT_EQ(SafeArrayPutElement(a.psa, &i, s.get()), S_OK);
    }
    SAFEARRAYBOUND smaller{1, 0};
    ASSERT_EQ(SafeArrayRedim(a.psa, &smaller), S_OK);
    LONG hi = -1;
    EXPECT_EQ(SafeArrayGetUBound(a.psa, 1, &hi), S_OK);
    EXPECT_EQ(hi, 0);
    SAFEARRAYBOUND larger{4, 0};
    ASSERT_EQ(SafeArrayRedim(a.psa, &larger), S_OK);
    EXPECT_TRUE(static_cast<BSTR*>(a.psa->pvData)[3] == nullptr);
    EXPECT_TRUE(bstr_text(static_cast<BSTR*>(a.psa->pvData)[0]) == ostring(OLESTR("v")));
    SafeArrayLock(a.psa);
    EXPECT_EQ(SafeArrayRedim(a.psa, &smaller), DISP_E_ARRAYISLOCKED);
    SafeArrayUnlock(a.psa);
}

TEST(SafeArray, BadArgumentsAreRefused) {
    SAFEARRAY* none = nullptr;
    EXPECT_EQ(SafeArrayAllocDescriptor(0, &none), E_INVALIDARG);
    SAFEARRAYBOUND bound{2, 0};
    EXPECT_TRUE(SafeArrayCreate(VT_I4, 0, &bound) == nullptr);
    EXPECT_TRUE(SafeArrayCreate(VT_I4, 1, nullptr) == nullptr);
    EXPECT_TRUE(SafeArrayCreateVector(VT_EMPTY, 0, 2) == nullptr);
    EXPECT_TRUE(SafeArrayCreateVector(VT_NULL, 0, 2) == nullptr);

    ArrayHolder a{SafeArrayCreateVector(VT_VARIANT, 0, 2)};
    LONG i = 0;
    VARIANT v;
    VariantInit(&v);
    EXPECT_EQ(SafeArrayGetElement(a.psa, nullptr, &v), E_INVALIDARG);
    EXPECT_EQ(SafeArrayGetElement(a.psa, &i, nullptr), E_INVALIDARG);
    EXPECT_EQ(SafeArrayGetElement(nullptr, &i, &v), E_INVALIDARG);
#ifndef _WIN32
    // The platform reads through a null VARIANT pointer here; this library refuses it.
    EXPECT_EQ(SafeArrayPutElement(a.psa, &i, nullptr), E_INVALIDARG);
#endif
    EXPECT_EQ(SafeArrayGetDim(nullptr), 0u);
    LONG bound_value = 0;
    EXPECT_EQ(SafeArrayGetLBound(nullptr, 1, &bound_value), E_INVALIDARG);
    EXPECT_EQ(SafeArrayUnlock(a.psa), E_UNEXPECTED);
    void* data = nullptr;
    EXPECT_EQ(SafeArrayAccessData(nullptr, &data), E_INVALIDARG);

    // An empty array still has a data pointer and bounds.
    ArrayHolder empty{SafeArrayCreateVector(VT_I4, 1, 0)};
    ASSERT_TRUE(empty.psa != nullptr);
    LONG lo = 0, hi = 0;
    EXPECT_EQ(SafeArrayGetLBound(empty.psa, 1, &lo), S_OK);
    EXPECT_EQ(SafeArrayGetUBound(empty.psa, 1, &hi), S_OK);
    EXPECT_EQ(lo, 1);
    EXPECT_EQ(hi, 0);
    i = 1;
    LONG value = 0;
    EXPECT_EQ(SafeArrayGetElement(empty.psa, &i, &value), DISP_E_BADINDEX);
}
