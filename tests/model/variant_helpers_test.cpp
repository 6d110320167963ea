// Views of client arrays, attribute masks and the enumerator builder.
#include <gtest/gtest.h>

#include "atl/nuvatlbase.h"
#include "variant_helpers.h"

namespace {

CComVariant I4(LONG v) { return CComVariant(v); }

// An array with one (count, lower bound) pair per dimension, dimension 1 first.
SAFEARRAY* MakeArray(VARTYPE vt, std::initializer_list<SAFEARRAYBOUND> bounds) {
    std::vector<SAFEARRAYBOUND> b(bounds);
    return SafeArrayCreate(vt, static_cast<UINT>(b.size()), b.data());
}

struct ArrayGuard {
    SAFEARRAY* a;
    ~ArrayGuard() {
        if (a) SafeArrayDestroy(a);
    }
};

TEST(VariantMatrix, RefusesArraysOfOtherShapesAndLeavesThemUnlocked) {
    SAFEARRAY* vector = MakeArray(VT_VARIANT, {{3, 0}});
    SAFEARRAY* cube = MakeArray(VT_VARIANT, {{2, 0}, {2, 0}, {2, 0}});
    ArrayGuard g1{vector}, g2{cube};
    VariantMatrix m;
    EXPECT_EQ(m.Attach(vector, false), E_INVALIDARG);
    EXPECT_EQ(vector->cLocks, 0u);
    EXPECT_EQ(m.Attach(cube, false), E_INVALIDARG);
    EXPECT_EQ(cube->cLocks, 0u);
    // A lock the caller already holds is neither taken over nor dropped.
    ASSERT_EQ(SafeArrayLock(vector), S_OK);
    EXPECT_EQ(m.Attach(vector, false), E_INVALIDARG);
    EXPECT_EQ(vector->cLocks, 1u);
    SafeArrayUnlock(vector);
    EXPECT_EQ(m.Attach(nullptr, false), E_POINTER);
    EXPECT_EQ(m.Array(), nullptr);
    // A refused array can be destroyed by its owner: nothing holds it locked.
    EXPECT_EQ(SafeArrayDestroy(std::exchange(g1.a, nullptr)), S_OK);
}

TEST(VariantMatrix, ReadsClientMatricesWithAnyLowerBoundsFromZero) {
    for (LONG lower : {0, 1, -3}) {
        SAFEARRAY* a = MakeArray(VT_VARIANT, {{2, lower}, {3, lower}});
        ArrayGuard guard{a};
        LONG first[2] = {lower, lower};
        CComVariant v = I4(42);
        ASSERT_EQ(SafeArrayPutElement(a, first, &v), S_OK);
        VariantMatrix m;
        ASSERT_EQ(m.Attach(a, false), S_OK);
        EXPECT_EQ(a->cLocks, 1u);
        EXPECT_EQ(m.Rows(), 2u);
        EXPECT_EQ(m.Columns(), 3u);
        CComVariant out;
        ASSERT_EQ(m.GetElement(0, 0, &out), S_OK);
        EXPECT_EQ(out.vt, VT_I4);
        EXPECT_EQ(out.lVal, 42);
        EXPECT_EQ(m.GetElement(2, 0, &out), DISP_E_BADINDEX);
        SAFEARRAY* back = m.Detach();
        EXPECT_EQ(back, a);
        EXPECT_EQ(a->cLocks, 0u) << "detach unlocks; the caller's array survives the view";
    }
}

TEST(VariantMatrix, OwnedMatrixRoundTripsValuesAndOnlyVariantArraysHoldElements) {
    VariantMatrix m(2, 3);
    ASSERT_NE(m.Array(), nullptr);
    EXPECT_EQ(m.ElementType(), VT_VARIANT);
    CComVariant text(OLESTR("cell"));
    ASSERT_EQ(m.PutElement(1, 2, text), S_OK);
    CComVariant out;
    ASSERT_EQ(m.GetElement(1, 2, &out), S_OK);
    ASSERT_EQ(out.vt, VT_BSTR);
    EXPECT_EQ(nuv::OleString(out.bstrVal), OLESTR("cell"));
    SAFEARRAY* result = m.Detach();
    ASSERT_NE(result, nullptr);
    LONG lower = 0;
    SafeArrayGetLBound(result, 1, &lower);
    EXPECT_EQ(lower, 1);
    EXPECT_EQ(SafeArrayDestroy(result), S_OK);

    SAFEARRAY* doubles = MakeArray(VT_R8, {{2, 0}, {2, 0}});
    ArrayGuard guard{doubles};
    VariantMatrix view;
    ASSERT_EQ(view.Attach(doubles, false), S_OK);
    EXPECT_EQ(view.GetElement(0, 0, &out), E_FAIL);
    EXPECT_EQ(view.PutElement(0, 0, text), E_FAIL);
}

TEST(VariantMatrix, AttachReleasesOnlyAnOwnedArray) {
    SAFEARRAY* callers = MakeArray(VT_VARIANT, {{2, 0}, {2, 0}});
    SAFEARRAY* other = MakeArray(VT_VARIANT, {{2, 0}, {2, 0}});
    ArrayGuard g1{callers}, g2{other};
    VariantMatrix m;
    ASSERT_EQ(m.Attach(callers, false), S_OK);
    ASSERT_EQ(m.Attach(other, false), S_OK);
    EXPECT_EQ(callers->cLocks, 0u) << "the caller's array is unlocked and left alive";
    // The caller's array is still usable.
    LONG index[2] = {0, 0};
    CComVariant v(1.5);
    EXPECT_EQ(SafeArrayPutElement(callers, index, &v), S_OK);

    VariantMatrix owner;
    SAFEARRAY* given = MakeArray(VT_VARIANT, {{1, 0}, {1, 0}});
    ASSERT_EQ(owner.Attach(given, true), S_OK);
    ASSERT_EQ(owner.Attach(other, false), S_OK);  // destroys `given`; LeakSanitizer catches a leak otherwise
}

TEST(VariantVector, ReadsTextsAndVariantsAsTextAndRefusesOtherArrays) {
    SAFEARRAY* names = SafeArrayCreateVector(VT_BSTR, 1, 2);
    ArrayGuard g1{names};
    LONG i = 2;
    BSTR value = SysAllocString(OLESTR("VALUE"));
    ASSERT_EQ(SafeArrayPutElement(names, &i, value), S_OK);
    SysFreeString(value);
    VariantVector v(names, false);
    EXPECT_EQ(v.GetCount(), 2u);
    std::string text;
    ASSERT_EQ(v.GetElement(1, text), S_OK);
    EXPECT_EQ(text, "VALUE");
    EXPECT_EQ(v.GetElement(2, text), DISP_E_BADINDEX);

    SAFEARRAY* mixed = SafeArrayCreateVector(VT_VARIANT, 0, 3);
    ArrayGuard g2{mixed};
    CComVariant cells[3] = {I4(7), CComVariant(2.5), CComVariant(true)};
    for (LONG k = 0; k < 3; ++k) SafeArrayPutElement(mixed, &k, &cells[k]);
    VariantVector w(mixed, false);
    const char* expected[] = {"7", "2.5", "-1"};
    for (ULONG k = 0; k < 3; ++k) {
        ASSERT_EQ(w.GetElement(k, text), S_OK);
        EXPECT_EQ(text, expected[k]);
    }

    SAFEARRAY* ints = SafeArrayCreateVector(VT_I4, 0, 2);
    SAFEARRAY* matrix = MakeArray(VT_BSTR, {{2, 0}, {2, 0}});
    ArrayGuard g3{ints}, g4{matrix};
    VariantVector refused;
    EXPECT_EQ(refused.Attach(ints, false), E_INVALIDARG);
    EXPECT_EQ(refused.Attach(matrix, false), E_INVALIDARG);
    EXPECT_EQ(ints->cLocks, 0u);
    EXPECT_EQ(matrix->cLocks, 0u);
    EXPECT_EQ(refused.GetElement(0, text), E_FAIL);
}

TEST(VariantVector, ElementThatCannotBecomeTextReportsTheConversionFailure) {
    SAFEARRAY* a = SafeArrayCreateVector(VT_VARIANT, 0, 1);
    ArrayGuard g{a};
    LONG k = 0;
    CComVariant inner;
    inner.vt = VT_ERROR;
    inner.scode = E_FAIL;
    SafeArrayPutElement(a, &k, &inner);
    VariantVector v(a, false);
    std::string text;
    EXPECT_TRUE(FAILED(v.GetElement(0, text)));
}

TEST(AttribIdMask, KeepsPseudoIdsInTheSecondWord) {
    struct Case {
        std::vector<int32_t> added;
        int32_t probe;
        bool contained;
    };
    const Case cases[] = {
        {{-4}, -4, true}, {{4}, -4, false},         {{-4}, 4, false},       {{2, 8}, 8, true},
        {{2, 8}, 4, false}, {{-1, -2}, -2, true},   {{0x400}, 0x400, true}, {{-8, 16}, -8, true},
    };
    for (const Case& c : cases) {
        AttribIdMask mask;
        mask.Assign(0);
        for (int32_t id : c.added) mask.Add(id);
        EXPECT_EQ(mask.Contains(c.probe) != 0, c.contained) << c.probe;
    }
    AttribIdMask all;
    all.Assign(AttribIdMask::kAll);
    for (int32_t id : {1, 2, 0x10000, 0x20000000, -1, -2, -4, -8}) EXPECT_NE(all.Contains(id), 0u) << id;
    AttribIdMask copy = all;
    EXPECT_EQ(copy.First(), all.First());
    EXPECT_EQ(copy.Second(), all.Second());
    AttribIdMask negative;
    EXPECT_EQ(negative.Assign(-2), 2u);
    EXPECT_EQ(negative.First(), 0u);
}

TEST(CreateVariantEnumerator, EnumeratesItsOwnCopy) {
    std::vector<CComVariant> values = {I4(1), CComVariant(OLESTR("two")), CComVariant(3.0)};
    CComPtr<IUnknown> unk;
    ASSERT_EQ(CreateVariantEnumerator(values.data(), 3, &unk), S_OK);
    values.clear();  // the caller frees its array; the enumerator keeps its copy
    CComQIPtr<IEnumVARIANT> e(unk.p);
    ASSERT_TRUE(e);
    VARIANT got[4];
    for (auto& g : got) VariantInit(&g);
    ULONG fetched = 0;
    EXPECT_EQ(e->Next(4, got, &fetched), S_FALSE);
    EXPECT_EQ(fetched, 3u);
    EXPECT_EQ(got[1].vt, VT_BSTR);
    EXPECT_EQ(nuv::OleString(got[1].bstrVal), OLESTR("two"));
    for (auto& g : got) VariantClear(&g);
    EXPECT_EQ(e->Reset(), S_OK);
    EXPECT_EQ(e->Skip(2), S_OK);
    EXPECT_EQ(e->Next(1, got, &fetched), S_OK);
    EXPECT_EQ(got[0].dblVal, 3.0);
    VariantClear(&got[0]);
    EXPECT_EQ(CreateVariantEnumerator(nullptr, 0, nullptr), E_POINTER);
    CComPtr<IUnknown> empty;
    EXPECT_EQ(CreateVariantEnumerator(nullptr, 0, &empty), S_OK);
}

}  // namespace
