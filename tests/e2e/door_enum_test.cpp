// Enumerators as a careless client drives them: null buffers, a count of several without a fetched
// count, skips past the end, clones outliving their originals. Each enumeration face of the model is
// tried: the collections' _NewEnum and the grid definitions' NewEnum.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "door_sweep.h"

namespace {

using nuvtest::sweep::Plant;

ULONG CountAll(IEnumVARIANT* e) {
    e->Reset();
    ULONG n = 0;
    CComVariant v;
    ULONG got = 0;
    while (e->Next(1, &v, &got) == S_OK && got == 1) {
        ++n;
        v.Clear();
    }
    return n;
}

void Abuse(IEnumVARIANT* e, const std::string& what) {
    SCOPED_TRACE(what);
    const ULONG total = CountAll(e);
    e->Reset();
    EXPECT_TRUE(FAILED(e->Next(1, nullptr, nullptr))) << "no buffer";
    VARIANT two[2];
    VariantInit(&two[0]);
    VariantInit(&two[1]);
    EXPECT_TRUE(FAILED(e->Next(2, two, nullptr))) << "several asked for without a fetched count";
    VariantClear(&two[0]);
    VariantClear(&two[1]);
    ULONG got = 7;
    CComVariant one;
    EXPECT_EQ(e->Next(0, &one, &got), S_OK);
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(e->Skip(0xFFFFFFFFu), S_FALSE) << "a skip past the end";
    EXPECT_EQ(e->Next(1, &one, &got), S_FALSE);
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(one.vt, VT_EMPTY);
    EXPECT_TRUE(FAILED(e->Clone(nullptr)));
    CComPtr<IEnumVARIANT> clone;
    e->Reset();
    ASSERT_EQ(e->Clone(&clone), S_OK);
    e->Release();  // the caller's reference: the clone outlives the original
    EXPECT_EQ(CountAll(clone), total);
}

// The enumerator a grid definition collection hands out as IDispatch.
template <class Collection>
IEnumVARIANT* EnumOf(Collection* collection) {
    CComPtr<IDispatch> handed;
    EXPECT_EQ(collection->NewEnum(&handed), S_OK);
    IEnumVARIANT* e = nullptr;
    if (handed) handed->QueryInterface(IID_IEnumVARIANT, reinterpret_cast<void**>(&e));
    EXPECT_NE(e, nullptr);
    return e;
}

TEST(DoorEnumerators, EnumeratorsTakeCarelessCallsWithoutHarm) {
    Plant plant;
    CComPtr<INUVBlock> flowsheet;
    ASSERT_EQ(plant.simulation()->get_Flowsheet(&flowsheet), S_OK);
    CComPtr<INUVBlockCollection> blocks;
    ASSERT_EQ(flowsheet->get_Blocks(&blocks), S_OK);
    CComPtr<IUnknown> unknown;
    ASSERT_EQ(blocks->get__NewEnum(&unknown), S_OK);
    IEnumVARIANT* blocks_enum = nullptr;
    ASSERT_EQ(unknown->QueryInterface(IID_IEnumVARIANT, reinterpret_cast<void**>(&blocks_enum)), S_OK);
    Abuse(blocks_enum, "blocks");

    CComPtr<INUVVariableCollection> variables;
    ASSERT_EQ(flowsheet->get_Variables(&variables), S_OK);
    CComPtr<IUnknown> service;
    ASSERT_EQ(variables->GetService(CComBSTR("GridInfoService"), &service), S_OK);
    CComPtr<INUVGridInfo> info;
    ASSERT_EQ(service->QueryInterface(IID_INUVGridInfo, reinterpret_cast<void**>(&info)), S_OK);
    CComPtr<INUVGridColumnCollection> columns;
    ASSERT_EQ(info->get_Columns(&columns), S_OK);
    if (IEnumVARIANT* e = EnumOf(columns.p)) Abuse(e, "grid columns");
    CComPtr<INUVGridStyleCollection> styles;
    ASSERT_EQ(info->get_ControlStyles(&styles), S_OK);
    if (IEnumVARIANT* e = EnumOf(styles.p)) Abuse(e, "control styles");
}

}  // namespace
