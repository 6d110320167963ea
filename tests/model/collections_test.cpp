// The collections of a block wrapper: items by position and name, typed items, enumeration, services,
// name lookups, and attribute matrices read and written, through the vtable and through late binding.
#include <atomic>
#include <functional>
#include <thread>
#include <vector>

#include "objects_support.h"

#include "block.h"

namespace {

using objects_test::At;
using objects_test::I4;
using objects_test::Show;
using objects_test::Extent;
using objects_test::Matrix;
using objects_test::Names;
using objects_test::NameOf;
using objects_test::TakeError;
using objects_test::Text;

class CollectionsTest : public objects_test::ObjectsTest {
protected:
    // Every collection of a block as INUVObjectCollection.
    CComPtr<INUVObjectCollection> Collection(INUVBlock* block, MemberKind kind) {
        CComPtr<INUVObjectCollection> c;
        switch (kind) {
            case MemberKind::Blocks: {
                CComPtr<INUVBlockCollection> b;
                block->get_Blocks(&b);
                c = b;
                break;
            }
            case MemberKind::Variables: {
                CComPtr<INUVVariableCollection> v;
                block->get_Variables(&v);
                c = v;
                break;
            }
            case MemberKind::Equations: {
                CComPtr<INUVEquationCollection> e;
                block->get_Equations(&e);
                c = e;
                break;
            }
            case MemberKind::Parameters: {
                CComPtr<INUVParameterCollection> p;
                block->get_Parameters(&p);
                c = p;
                break;
            }
            case MemberKind::Ports: {
                CComPtr<INUVPortCollection> p;
                block->get_Ports(&p);
                c = p;
                break;
            }
        }
        return c;
    }
};

struct ItemCase {
    const char* block;  // "" for the flowsheet
    MemberKind kind;
    LONG count;
    const char* first;  // name of item 1
    const char* last;   // name of item Count
};

TEST_F(CollectionsTest, ItemsCountFromOneAndEndAtCount) {
    const ItemCase cases[] = {
        {"", MemberKind::Blocks, 3, "FEED", "PROD"},
        {"", MemberKind::Variables, 9, "FEED.F", "TOTAL"},
        {"", MemberKind::Equations, 3, "SECTION.HTR.HEAT", "PROD.BAL"},
        {"FEED", MemberKind::Variables, 3, "FEED.F", "FEED.P"},
        {"FEED", MemberKind::Parameters, 3, "COMPONENT", "LOCKED"},
        {"FEED", MemberKind::Ports, 1, "OUT", "OUT"},
        {"FEED", MemberKind::Blocks, 0, nullptr, nullptr},
        {"SECTION", MemberKind::Blocks, 2, "HTR", "INNER"},
        {"SECTION", MemberKind::Variables, 4, "SECTION.HTR.Q", "SECTION.LOAD"},
        {"SECTION", MemberKind::Equations, 2, "SECTION.HTR.HEAT", "SECTION.LOADEQ"},
        {"SECTION.HTR", MemberKind::Variables, 2, "SECTION.HTR.Q", "SECTION.HTR.TOUT"},
        {"SECTION.INNER.CORE", MemberKind::Variables, 1, "SECTION.INNER.CORE.X", "SECTION.INNER.CORE.X"},
        {"PROD", MemberKind::Equations, 1, "PROD.BAL", "PROD.BAL"},
        {"PROD", MemberKind::Ports, 2, "IN", "SPARE"},
    };
    for (const ItemCase& c : cases) {
        SCOPED_TRACE(std::string(c.block) + " kind " + std::to_string(static_cast<int>(c.kind)));
        CComPtr<INUVBlock> owner = *c.block ? Block(c.block) : flowsheet_;
        ASSERT_TRUE(owner);
        CComPtr<INUVObjectCollection> coll = Collection(owner, c.kind);
        ASSERT_TRUE(coll);
        EXPECT_EQ(CountOf(coll.p), c.count);
        CComPtr<INUVObject> item;
        EXPECT_EQ(coll->get_Item(0, &item), nuv::kIndexOutOfRange);
        EXPECT_EQ(TakeError(), "NUVBlock: Index is not in the range 1 to Count()");
        EXPECT_EQ(coll->get_Item(c.count + 1, &item), nuv::kIndexOutOfRange);
        EXPECT_EQ(item.p, nullptr);
        if (!c.first) continue;
        ASSERT_EQ(coll->get_Item(1, &item), S_OK);
        EXPECT_EQ(NameOf(item), c.first);
        item.Release();
        ASSERT_EQ(coll->get_Item(c.count, &item), S_OK);
        EXPECT_EQ(NameOf(item), c.last);
        // The enumerator yields exactly the items 1 .. Count, in order.
        CComPtr<IUnknown> unk;
        ASSERT_EQ(coll->get__NewEnum(&unk), S_OK);
        CComPtr<IEnumVARIANT> e;
        ASSERT_EQ(unk->QueryInterface(IID_IEnumVARIANT, reinterpret_cast<void**>(&e)), S_OK);
        std::vector<std::string> seen;
        for (CComVariant v; e->Next(1, &v, nullptr) == S_OK; v.Clear()) seen.push_back(NameOf(v.pdispVal));
        ASSERT_EQ(seen.size(), static_cast<size_t>(c.count));
        EXPECT_EQ(seen.front(), c.first);
        EXPECT_EQ(seen.back(), c.last);
    }
}

TEST_F(CollectionsTest, FindByNameAndTypedItemsByVariant) {
    CComPtr<INUVVariableCollection> vars;
    ASSERT_EQ(Block("FEED")->get_Variables(&vars), S_OK);
    CComPtr<INUVObject> found;
    ASSERT_EQ(vars->Find(CComBSTR("t"), &found), S_OK) << "names match without regard to case";
    EXPECT_EQ(NameOf(found), "FEED.T");
    found.Release();
    ASSERT_EQ(vars->Find(CComBSTR("FEED.P"), &found), S_OK) << "a full name is found too";
    EXPECT_EQ(NameOf(found), "FEED.P");
    found.Release();
    EXPECT_EQ(vars->Find(CComBSTR("Q"), &found), nuv::kObjectNotFound) << "another block's variable";
    EXPECT_EQ(TakeError(), "NUVBlock: Failed to find requested object");

    CComPtr<INUVVariable> typed;
    ASSERT_EQ(vars->get_Variable(CComVariant(2.0), &typed), S_OK);
    EXPECT_EQ(NameOf(typed), "FEED.T");
    typed.Release();
    CComBSTR by_ref("P");
    CComVariant ref;
    ref.vt = VT_BSTR | VT_BYREF;
    ref.pbstrVal = &by_ref;
    ASSERT_EQ(vars->get_Variable(ref, &typed), S_OK);
    EXPECT_EQ(NameOf(typed), "FEED.P");
    typed.Release();
    CComVariant object(static_cast<IDispatch*>(vars.p));
    EXPECT_EQ(vars->get_Variable(object, &typed), nuv::kBadIndexType);
    EXPECT_EQ(TakeError(), "NUVBlock: Index must either be an integer or a string");
    CComVariant text_number = Text("3");
    EXPECT_EQ(vars->get_Variable(text_number, &typed), nuv::kObjectNotFound) << "a text is always a name";
    EXPECT_EQ(text_number.vt, VT_BSTR);
}

TEST_F(CollectionsTest, NameLookupsAnswerPositionsInTheirOwnCollection) {
    struct Case {
        const char* block;
        MemberKind kind;
        const char* name;
        HRESULT hr;
        LONG index;
    };
    const Case cases[] = {
        {"SECTION.HTR", MemberKind::Variables, "TOUT", S_OK, 2},
        {"SECTION.HTR", MemberKind::Variables, "SECTION.HTR.TOUT", S_OK, 2},
        {"SECTION.HTR", MemberKind::Variables, "LOAD", nuv::kObjectNotFound, 0},
        {"SECTION.HTR", MemberKind::Equations, "HEAT", S_OK, 1},
        {"SECTION", MemberKind::Variables, "LOAD", S_OK, 4},
        {"PROD", MemberKind::Variables, "F", S_OK, 1},
        {"FEED", MemberKind::Parameters, "locked", S_OK, 3},
        {"PROD", MemberKind::Ports, "SPARE", S_OK, 2},
        {"PROD", MemberKind::Ports, "NOPE", nuv::kObjectNotFound, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.block) + "/" + c.name);
        CComPtr<INUVObjectCollection> coll = Collection(Block(c.block), c.kind);
        CComPtr<IServiceProvider> provider;
        ASSERT_EQ(coll->QueryInterface(IID_IServiceProvider, reinterpret_cast<void**>(&provider)), S_OK);
        CComPtr<INUVObjectCollectionHelper> helper;
        ASSERT_EQ(provider->QueryService(IID_INUVObjectCollectionHelper, IID_INUVObjectCollectionHelper,
                                         reinterpret_cast<void**>(&helper)),
                  S_OK);
        LONG index = -1;
        EXPECT_EQ(helper->Name2Index(CComBSTR(c.name), &index), c.hr);
        EXPECT_EQ(index, c.index);
        if (c.hr == S_OK) {
            CComPtr<INUVObject> item;
            ASSERT_EQ(coll->get_Item(index, &item), S_OK);
            CComPtr<INUVObject> found;
            ASSERT_EQ(coll->Find(CComBSTR(c.name), &found), S_OK);
            EXPECT_EQ(NameOf(item), NameOf(found));
        }
    }
    // The helper is handed out counted or not at all: never as the collection's uncounted implementation.
    for (MemberKind kind : {MemberKind::Variables, MemberKind::Equations, MemberKind::Parameters, MemberKind::Ports}) {
        CComPtr<IServiceProvider> provider;
        ASSERT_EQ(Collection(Block("PROD"), kind)->QueryInterface(IID_IServiceProvider, reinterpret_cast<void**>(&provider)),
                  S_OK);
        void* self = reinterpret_cast<void*>(1);
        EXPECT_EQ(provider->QueryService(IID_INUVObjectCollectionHelper, GUID_NULL, &self), E_NOINTERFACE);
        EXPECT_EQ(self, nullptr);
        CComPtr<IServiceProvider> helperProvider;
        CComPtr<IUnknown> helperUnknown;
        ASSERT_EQ(provider->QueryService(IID_INUVObjectCollectionHelper, IID_IUnknown,
                                         reinterpret_cast<void**>(&helperUnknown)),
                  S_OK);
        ASSERT_EQ(helperUnknown->QueryInterface(IID_IServiceProvider, reinterpret_cast<void**>(&helperProvider)), S_OK);
        self = reinterpret_cast<void*>(1);
        EXPECT_EQ(helperProvider->QueryService(IID_INUVObjectCollectionHelper, GUID_NULL, &self), E_NOINTERFACE);
        EXPECT_EQ(self, nullptr);
    }
    SetErrorInfo(0, nullptr);
    LONG index = 0;
    CComPtr<INUVObjectCollectionHelper> helper;
    CComPtr<IServiceProvider> provider;
    Collection(flowsheet_, MemberKind::Blocks)->QueryInterface(IID_IServiceProvider, reinterpret_cast<void**>(&provider));
    EXPECT_EQ(provider->QueryService(IID_INUVObjectCollectionHelper, IID_INUVObjectCollectionHelper,
                                     reinterpret_cast<void**>(&helper)),
              nuv::kNoService);
    (void)index;
}

HRESULT FakeGrid(CoNUVBlock*, MemberKind kind, const LONG*, LONG, REFIID riid, void** ppv) {
    // Stands for a grid: the kind's number as a plain object is enough to see which request arrived.
    CComPtr<IEnumVARIANT> e;
    CComVariant tag(static_cast<LONG>(kind));
    HRESULT hr = CreateVariantEnumerator(&tag, 1, reinterpret_cast<IUnknown**>(&e));
    return SUCCEEDED(hr) ? e->QueryInterface(riid, ppv) : hr;
}

int g_lastMode = -1;
std::vector<LONG> g_lastRows;

HRESULT FakeGridInfo(int mode, REFIID riid, void** ppv) {
    g_lastMode = mode;
    return FakeGrid(nullptr, MemberKind::Blocks, nullptr, 0, riid, ppv);
}

HRESULT RecordingGrid(CoNUVBlock* owner, MemberKind kind, const LONG* rows, LONG count, REFIID riid, void** ppv) {
    g_lastRows.assign(rows, rows + count);
    return FakeGrid(owner, kind, rows, count, riid, ppv);
}

TEST_F(CollectionsTest, GridRequestsCarryTheKindsModeAndThePortsRows) {
    nuv::SetGridMakers(&RecordingGrid, &FakeGridInfo);
    struct Case {
        const char* block;
        MemberKind kind;
        int mode;
    };
    for (const Case& c : {Case{"FEED", MemberKind::Variables, 0}, Case{"FEED", MemberKind::Ports, 1},
                          Case{"FEED", MemberKind::Parameters, 2}, Case{"PROD", MemberKind::Equations, 3}}) {
        g_lastMode = -1;
        CComPtr<IUnknown> info;
        EXPECT_EQ(Collection(Block(c.block), c.kind)->GetService(CComBSTR("GRIDINFOSERVICE"), &info), S_OK);
        EXPECT_EQ(g_lastMode, c.mode);
    }
    // The port's variables: the grid gets their positions in the owner block's variable collection.
    CComPtr<INUVPortCollection> ports;
    Block("SECTION.HTR")->get_Ports(&ports);
    CComPtr<INUVPort> out;
    ports->get_Port(I4(1), &out);
    CComPtr<INUVPort2> out2;
    out->QueryInterface(IID_INUVPort2, reinterpret_cast<void**>(&out2));
    CComPtr<INUVVariableCollection> vars;
    out2->get_Variables(&vars);
    CComPtr<IServiceProvider> provider;
    vars->QueryInterface(IID_IServiceProvider, reinterpret_cast<void**>(&provider));
    CComPtr<IUnknown> grid;
    EXPECT_EQ(provider->QueryService(IID_INUVGridService, IID_IUnknown, reinterpret_cast<void**>(&grid)), S_OK);
    EXPECT_EQ(g_lastRows, (std::vector<LONG>{2}));  // HTR's port OUT holds TOUT, the block's second variable
    nuv::SetGridMakers(nullptr, nullptr);
    grid.Release();
    EXPECT_EQ(provider->QueryService(IID_INUVGridService, IID_IUnknown, reinterpret_cast<void**>(&grid)),
              nuv::kNoService);
}

TEST_F(CollectionsTest, ServicesByNameIgnoreCaseAndUnknownNamesAreRefused) {
    CComPtr<INUVObjectCollection> vars = Collection(Block("FEED"), MemberKind::Variables);
    CComPtr<IUnknown> service;
    EXPECT_EQ(vars->GetService(CComBSTR("gridservice"), &service), nuv::kNoService) << "no grid layer yet";
    nuv::SetGridMakers(&FakeGrid, nullptr);
    EXPECT_EQ(vars->GetService(CComBSTR("gridservice"), &service), S_OK);
    EXPECT_TRUE(service);
    service.Release();
    nuv::SetGridMakers(nullptr, nullptr);
    ASSERT_EQ(vars->GetService(CComBSTR("NUVObjectCollectionHelper"), &service), S_OK);
    CComPtr<INUVObjectCollectionHelper> helper;
    EXPECT_EQ(service->QueryInterface(IID_INUVObjectCollectionHelper, reinterpret_cast<void**>(&helper)), S_OK);
    service.Release();
    EXPECT_EQ(vars->GetService(CComBSTR("Other"), &service), nuv::kNoService);
    EXPECT_EQ(TakeError(), "NUVBlock: Object does not support the requested service");
    EXPECT_EQ(Collection(flowsheet_, MemberKind::Blocks)->GetService(CComBSTR("NUVObjectCollectionHelper"), &service),
              nuv::kNoService);
    CComPtr<IServiceProvider> provider;
    vars->QueryInterface(IID_IServiceProvider, reinterpret_cast<void**>(&provider));
    EXPECT_EQ(provider->QueryService(IID_INUVSimulation, IID_IUnknown, reinterpret_cast<void**>(&service)),
              E_NOINTERFACE);
    // Releasing a collection never ends its block while the engine holds the block.
    CComPtr<INUVBlockCollection> once, twice;
    flowsheet_->get_Blocks(&once);
    flowsheet_->get_Blocks(&twice);
    EXPECT_EQ(once.p, twice.p);
    CComPtr<ISupportErrorInfo> support;
    once->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(&support));
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_INUVBlockCollection), S_OK);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_INUVVariableCollection), S_FALSE);
}

TEST_F(CollectionsTest, GetAttributesWindowsRowsAndFormats) {
    CComPtr<INUVObjectCollection> vars = Collection(flowsheet_, MemberKind::Variables);
    const LONG total = CountOf(vars.p);
    struct Window {
        LONG first, count, rows;
    };
    for (const Window& w : {Window{1, 0, total}, Window{3, 0, total - 2}, Window{3, 2, 2}, Window{total, 5, 1},
                            Window{2, -7, total - 1}, Window{1, 0x7fffffff, total}}) {
        SCOPED_TRACE(std::to_string(w.first) + "," + std::to_string(w.count));
        CComVariant m;
        ASSERT_EQ(vars->GetAttributes(Names({"NAME"}), w.first, w.count, &m), S_OK);
        EXPECT_EQ(m.vt, VT_ARRAY | VT_VARIANT);
        EXPECT_EQ(Extent(m, 1), w.rows);
        EXPECT_EQ(Extent(m, 2), 1);
    }
    CComVariant m;
    EXPECT_EQ(vars->GetAttributes(Names({"NAME"}), 0, 0, &m), nuv::kIndexOutOfRange);
    EXPECT_EQ(vars->GetAttributes(Names({"NAME"}), total + 1, 0, &m), nuv::kIndexOutOfRange);
    SetErrorInfo(0, nullptr);
    EXPECT_EQ(vars->GetAttributes(Text("NAME"), 1, 0, &m), E_INVALIDARG);
    EXPECT_EQ(TakeError(), "") << "a non-array argument is not reported";

    // FEED's variables: a name, a value read as text, an enumeration both ways, an unknown name and the
    // physical type (a pseudo attribute the unknown name must not reach).
    CComPtr<INUVObjectCollection> feed = Collection(Block("FEED"), MemberKind::Variables);
    m.Clear();
    ASSERT_EQ(feed->GetAttributes(Names({"NAME", "VALUE", "VALUE%s", "SPEC", "SPEC%s", "NOSUCH", "PHYSICAL_TYPE"}), 1,
                                  0, &m),
              S_OK);
    ASSERT_EQ(Extent(m, 1), 3);
    EXPECT_EQ(Show(At(m, 1, 1)), Show(Text("FEED.F")));
    EXPECT_EQ(Show(At(m, 1, 2)), Show(CComVariant(10.0)));
    EXPECT_EQ(Show(At(m, 1, 3)), Show(Text("10")));
    EXPECT_EQ(Show(At(m, 1, 4)), Show(I4(1)));
    EXPECT_EQ(Show(At(m, 1, 5)), Show(Text("CONST")));
    for (LONG r = 1; r <= 3; ++r) EXPECT_EQ(At(m, r, 6).vt, VT_EMPTY);
    EXPECT_EQ(Show(At(m, 2, 7)), Show(Text("TEMPERATURE")));
    EXPECT_EQ(Show(At(m, 3, 2)), Show(CComVariant(2.0)));

    // The same matrix through late binding, with the optional arguments left to their defaults.
    CComPtr<IDispatch> d;
    feed->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&d));
    DISPID id = 0;
    LPOLESTR member = const_cast<LPOLESTR>(OLESTR("getattributes"));
    ASSERT_EQ(d->GetIDsOfNames(IID_NULL, &member, 1, 0, &id), S_OK);
    CComVariant arg = Names({"NAME"});
    DISPPARAMS dp{&arg, nullptr, 1, 0};
    CComVariant late;
    ASSERT_EQ(d->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &dp, &late, nullptr, nullptr), S_OK);
    EXPECT_EQ(Extent(late, 1), 3);
    EXPECT_EQ(Show(At(late, 2, 1)), Show(Text("FEED.T")));

    // Parameters (values of any kind) and ports.
    CComPtr<INUVObjectCollection> params = Collection(Block("FEED"), MemberKind::Parameters);
    m.Clear();
    ASSERT_EQ(params->GetAttributes(Names({"NAME", "VALUE", "ACCESS"}), 2, 0, &m), S_OK);
    ASSERT_EQ(Extent(m, 1), 2);
    EXPECT_EQ(Show(At(m, 1, 1)), Show(Text("PDROP")));
    EXPECT_EQ(Show(At(m, 1, 2)), Show(CComVariant(0.5)));
    EXPECT_EQ(Show(At(m, 2, 3)), Show(I4(0)));
    CComPtr<INUVObjectCollection> ports = Collection(Block("PROD"), MemberKind::Ports);
    m.Clear();
    ASSERT_EQ(ports->GetAttributes(Names({"NAME", "NUMBER"}), 1, 0, &m), S_OK);
    EXPECT_EQ(Show(At(m, 2, 1)), Show(Text("SPARE")));
    EXPECT_EQ(Show(At(m, 2, 2)), Show(I4(2)));
    CComVariant none;
    EXPECT_EQ(Collection(flowsheet_, MemberKind::Blocks)->GetAttributes(Names({"NAME"}), 1, 0, &none), E_NOTIMPL);
    EXPECT_EQ(none.vt, VT_EMPTY);
}

TEST_F(CollectionsTest, NamesByReferenceAndUnreadableNames) {
    CComPtr<INUVObjectCollection> feed = Collection(Block("FEED"), MemberKind::Variables);
    // An array passed by reference is read through the reference.
    CComVariant names = Names({"NAME", "VALUE"});
    CComVariant by_ref;
    by_ref.vt = VT_ARRAY | VT_VARIANT | VT_BYREF;
    by_ref.pparray = &names.parray;
    CComVariant m;
    ASSERT_EQ(feed->GetAttributes(by_ref, 2, 1, &m), S_OK);
    EXPECT_EQ(Show(At(m, 1, 1)), Show(Text("FEED.T")));
    EXPECT_EQ(Show(At(m, 1, 2)), Show(CComVariant(300.0)));
    // Script engines pass a variable as a reference to the VARIANT that holds the array.
    CComVariant variable_ref;
    variable_ref.vt = VT_VARIANT | VT_BYREF;
    variable_ref.pvarVal = &names;
    m.Clear();
    ASSERT_EQ(feed->GetAttributes(variable_ref, 2, 1, &m), S_OK);
    EXPECT_EQ(Show(At(m, 1, 1)), Show(Text("FEED.T")));
    CComVariant values = Matrix({{Text("T")}, {CComVariant(310.0)}});
    CComVariant values_ref;
    values_ref.vt = VT_VARIANT | VT_BYREF;
    values_ref.pvarVal = &values;
    ASSERT_EQ(feed->SetAttributes(variable_ref, values_ref, 1), S_OK);
    m.Clear();
    ASSERT_EQ(feed->GetAttributes(variable_ref, 2, 1, &m), S_OK);
    EXPECT_EQ(Show(At(m, 1, 2)), Show(CComVariant(310.0)));
    // A name element that cannot be read as text selects nothing: its column stays empty while the others
    // are filled.
    SAFEARRAYBOUND bound{2, 0};
    SAFEARRAY* mixed = SafeArrayCreate(VT_VARIANT, 1, &bound);
    CComVariant object(static_cast<IDispatch*>(feed.p));
    CComVariant value = Text("VALUE");
    LONG i = 0;
    SafeArrayPutElement(mixed, &i, &object);
    i = 1;
    SafeArrayPutElement(mixed, &i, &value);
    CComVariant odd;
    odd.vt = VT_ARRAY | VT_VARIANT;
    odd.parray = mixed;
    m.Clear();
    ASSERT_EQ(feed->GetAttributes(odd, 1, 1, &m), S_OK);
    EXPECT_EQ(At(m, 1, 1).vt, VT_EMPTY);
    EXPECT_EQ(Show(At(m, 1, 2)), Show(CComVariant(10.0)));
    // Indexes are converted in copies: the caller's VARIANT keeps its type.
    CComVariant two(2.0);
    CComPtr<INUVVariable> v;
    CComPtr<INUVVariableCollection> typed;
    feed->QueryInterface(IID_INUVVariableCollection, reinterpret_cast<void**>(&typed));
    ASSERT_EQ(typed->get_Variable(two, &v), S_OK);
    EXPECT_EQ(two.vt, VT_R8);
}

TEST_F(CollectionsTest, AttributeMatrixRowListsAndEmptyRows) {
    CComPtr<INUVBlock> feed = Block("FEED");
    CoNUVBlock* owner = nuv::ImplementationOf<CoNUVBlock>(feed);
    ASSERT_TRUE(owner);
    const std::vector<LONG> rows = {3, nuv::coll::kEmptyRow, 1};
    SAFEARRAY* out = nullptr;
    CComVariant names = Names({"NAME", "VALUE", "MARKED", "UOM"});
    ASSERT_EQ(nuv::coll::AttributeMatrix(owner, MemberKind::Variables, names.parray, 1, 3, &rows, &out), S_OK);
    CComVariant m;
    m.vt = VT_ARRAY | VT_VARIANT;
    m.parray = out;
    EXPECT_EQ(Show(At(m, 1, 1)), Show(Text("FEED.P")));
    EXPECT_EQ(Show(At(m, 2, 1)), Show(Text("")));
    EXPECT_EQ(Show(At(m, 2, 2)), Show(CComVariant(1e35)));
    EXPECT_EQ(Show(At(m, 2, 3)), Show(I4(99999999)));
    EXPECT_EQ(Show(At(m, 2, 4)), Show(Text("")));
    EXPECT_EQ(Show(At(m, 3, 4)), Show(Text("kg/h")));
    SAFEARRAY* beyond = nullptr;
    EXPECT_EQ(nuv::coll::AttributeMatrix(owner, MemberKind::Variables, names.parray, 2, 3, &rows, &beyond),
              nuv::kIndexOutOfRange);
    EXPECT_EQ(beyond, nullptr);
}

TEST_F(CollectionsTest, SetAttributesTakesAttributeByRowValues) {
    CComPtr<INUVBlock> feed = Block("FEED");
    CComPtr<INUVVariableCollection> vars;
    feed->get_Variables(&vars);
    // [attribute, row]: values for rows 2 and 3 from iFirst 2.
    CComVariant values = Matrix({{CComVariant(320.0), CComVariant(4.0)}, {Text("CALC"), I4(2)}});
    ASSERT_EQ(vars->SetAttributes(Names({"VALUE", "SPEC"}), values, 2), S_OK);
    CComPtr<INUVVariable> t, p;
    vars->get_Variable(I4(2), &t);
    vars->get_Variable(I4(3), &p);
    double d = 0;
    t->get_Value(&d);
    EXPECT_EQ(d, 320.0);
    p->get_Value(&d);
    EXPECT_EQ(d, 4.0);
    NUVSpec spec{};
    t->get_Spec(&spec);
    EXPECT_EQ(spec, NUVSpec_Calc);
    p->get_Spec(&spec);
    EXPECT_EQ(spec, NUVSpec_Indep);

    // A NAME column matches rows to variables; rows whose name is unknown are skipped with S_FALSE.
    CComVariant named = Matrix({{Text("P"), Text("nobody"), Text("F")}, {CComVariant(7.0), CComVariant(8.0), CComVariant(9.0)}});
    EXPECT_EQ(vars->SetAttributes(Names({"NAME", "VALUE"}), named, 1), S_FALSE);
    p->get_Value(&d);
    EXPECT_EQ(d, 7.0);
    CComPtr<INUVVariable> f;
    vars->get_Variable(I4(1), &f);
    f->get_Value(&d);
    EXPECT_EQ(d, 9.0);
    CComVariant nobody = Matrix({{Text("x"), Text("y")}, {CComVariant(1.0), CComVariant(2.0)}});
    EXPECT_EQ(vars->SetAttributes(Names({"NAME", "VALUE"}), nobody, 1), nuv::kObjectNotFound);

    struct Refusal {
        std::vector<std::string> names;
        CComVariant values;
        LONG first;
        HRESULT hr;
        const char* text;
    };
    const Refusal refusals[] = {
        {{"VALUE", "SPEC"}, Matrix({{CComVariant(1.0)}}), 1, nuv::kValuesInconsistent,
         "NUVBlock: The supplied attribute vector and value matrix are inconsistent"},
        {{"VALUE"}, Matrix({{CComVariant(1.0), CComVariant(2.0)}}), 3, nuv::kTooManyValues,
         "NUVBlock: Too many values supplied"},
        {{"VALUE"}, Matrix({{CComVariant(1.0)}}), 4, nuv::kIndexOutOfRange,
         "NUVBlock: Index is not in the range 1 to Count()"},
        {{"NOSUCH"}, Matrix({{CComVariant(1.0)}}), 1, E_INVALIDARG, nullptr},
        {{"VALUE"}, Matrix({{Text("warm")}}), 1, DISP_E_TYPEMISMATCH, nullptr},
        {{"SPEC"}, Matrix({{Text("SIDEWAYS")}}), 1, E_INVALIDARG, nullptr},
    };
    for (const Refusal& r : refusals) {
        SCOPED_TRACE(r.names[0]);
        SetErrorInfo(0, nullptr);
        EXPECT_EQ(vars->SetAttributes(Names(r.names), r.values, r.first), r.hr);
        if (r.text) {
            EXPECT_EQ(TakeError(), r.text);
        }
    }
    f->get_Value(&d);
    EXPECT_EQ(d, 9.0) << "refused calls change nothing";

    // A refused commit fails the call.
    zeq::testing::RefuseCommits(*sim_, true);
    EXPECT_LT(vars->SetAttributes(Names({"VALUE"}), Matrix({{CComVariant(5.0)}}), 1), 0);
    zeq::testing::RefuseCommits(*sim_, false);

    // Other kinds do not take values: the equation and port collections say so with error information,
    // the block collection without; non-arrays are refused unreported.
    SetErrorInfo(0, nullptr);
    CComPtr<INUVEquationCollection> eqns;
    Block("PROD")->get_Equations(&eqns);
    EXPECT_EQ(eqns->SetAttributes(Names({"SCALE"}), Matrix({{CComVariant(2.0)}}), 1), E_NOTIMPL);
    EXPECT_EQ(TakeError(), "NUVBlock: Unspecified Error");
    CComPtr<INUVPortCollection> ports;
    Block("FEED")->get_Ports(&ports);
    EXPECT_EQ(ports->SetAttributes(Names({"NAME"}), Matrix({{Text("x")}}), 1), E_NOTIMPL);
    EXPECT_EQ(TakeError(), "NUVBlock: Unspecified Error");
    CComPtr<INUVBlockCollection> blocks;
    flowsheet_->get_Blocks(&blocks);
    EXPECT_EQ(blocks->SetAttributes(Names({"NAME"}), Matrix({{Text("x")}}), 1), E_NOTIMPL);
    EXPECT_EQ(TakeError(), "");
    EXPECT_EQ(vars->SetAttributes(Text("VALUE"), Matrix({{CComVariant(1.0)}}), 1), E_INVALIDARG);
    EXPECT_EQ(TakeError(), "");

    // The first position is checked before the arguments are: out of range it is the failure reported,
    // whatever the arguments hold, on every collection that takes values.
    CComPtr<INUVParameterCollection> params;
    feed->get_Parameters(&params);
    for (INUVObjectCollection* collection : {static_cast<INUVObjectCollection*>(vars.p),
                                             static_cast<INUVObjectCollection*>(params.p)}) {
        for (LONG first : {0L, 99L}) {
            SetErrorInfo(0, nullptr);
            EXPECT_EQ(collection->SetAttributes(Text("VALUE"), Matrix({{CComVariant(1.0)}}), first),
                      nuv::kIndexOutOfRange);
            EXPECT_EQ(TakeError(), "NUVBlock: Index is not in the range 1 to Count()");
            EXPECT_EQ(collection->SetAttributes(Names({"VALUE"}), CComVariant(1.0), first), nuv::kIndexOutOfRange);
        }
        SetErrorInfo(0, nullptr);
        EXPECT_EQ(collection->SetAttributes(Names({"VALUE"}), CComVariant(1.0), 1), E_INVALIDARG);
        EXPECT_EQ(TakeError(), "");
    }
}

TEST_F(CollectionsTest, ParameterValuesWrittenThroughTheCollection) {
    CComPtr<INUVParameterCollection> params;
    Block("FEED")->get_Parameters(&params);
    ASSERT_EQ(params->SetAttributes(Names({"VALUE", "DESCRIPTION"}),
                                    Matrix({{Text("steam"), CComVariant(0.75)}, {Text("what"), Text("drop")}}), 1),
              S_OK);
    CComVariant m;
    ASSERT_EQ(params->GetAttributes(Names({"NAME", "VALUE", "DESCRIPTION"}), 1, 2, &m), S_OK);
    EXPECT_EQ(Show(At(m, 1, 2)), Show(Text("steam")));
    EXPECT_EQ(Show(At(m, 2, 2)), Show(CComVariant(0.75)));
    EXPECT_EQ(Show(At(m, 2, 3)), Show(Text("drop")));
    // What GetAttributes read, NAME column included, goes back in ([attribute, row]); the names are kept.
    CComVariant back = Matrix({{At(m, 1, 1), At(m, 2, 1)}, {Text("brine"), CComVariant(0.5)}});
    ASSERT_EQ(params->SetAttributes(Names({"NAME", "VALUE"}), back, 1), S_OK) << TakeError();
    CComVariant after;
    params->GetAttributes(Names({"NAME", "VALUE"}), 1, 2, &after);
    EXPECT_EQ(Show(At(after, 1, 1)), Show(Text("COMPONENT")));
    EXPECT_EQ(Show(At(after, 1, 2)), Show(Text("brine")));
    EXPECT_EQ(Show(At(after, 2, 2)), Show(CComVariant(0.5)));
    EXPECT_EQ(params->SetAttributes(Names({"VALUE"}), Matrix({{Text("not a number")}}), 2), E_INVALIDARG);
    after.Clear();
    params->GetAttributes(Names({"VALUE"}), 2, 1, &after);
    EXPECT_EQ(Show(At(after, 1, 1)), Show(CComVariant(0.5)));
}

TEST_F(CollectionsTest, ParameterNamesNotFoundOnAnyBlock) {
    // The flowsheet has no engine block: it is valid and simply has no parameters.
    for (const char* block : {"", "FEED"}) {
        SCOPED_TRACE(block);
        CComPtr<INUVParameterCollection> params;
        ASSERT_EQ((*block ? Block(block) : flowsheet_)->get_Parameters(&params), S_OK);
        CComPtr<INUVObject> found;
        EXPECT_EQ(params->Find(CComBSTR("X"), &found), nuv::kObjectNotFound);
        EXPECT_EQ(TakeError(), "NUVBlock: Failed to find requested object");
        CComPtr<INUVParameter> typed;
        EXPECT_EQ(params->get_Parameter(Text("X"), &typed), nuv::kObjectNotFound);
        EXPECT_EQ(TakeError(), "NUVBlock: Failed to find requested object");
    }
}

}  // namespace

namespace {

TEST_F(CollectionsTest, SingleAttributeBodiesForTheGrids) {
    CComPtr<INUVBlock> feed = Block("FEED");
    CoNUVBlock* owner = nuv::ImplementationOf<CoNUVBlock>(feed);
    ASSERT_TRUE(owner);
    EXPECT_EQ(nuv::coll::SetVariableAttribute(owner, "VALUE", CComVariant(12.5), 1), S_OK);
    EXPECT_EQ(nuv::coll::SetVariableAttribute(owner, "COLOUR", CComVariant(1.0), 1), nuv::kBadAttribute);
    EXPECT_EQ(nuv::coll::SetVariableAttribute(owner, "VALUE", Text("warm"), 1), DISP_E_TYPEMISMATCH);
    // A base unit given as text sets the unit the variable is shown in.
    EXPECT_EQ(nuv::coll::SetVariableAttribute(owner, "BASEUOM", Text("kg/s"), 1), S_OK);
    CComPtr<INUVVariableCollection> vars;
    feed->get_Variables(&vars);
    CComPtr<INUVVariable> f;
    vars->get_Variable(I4(1), &f);
    CComBSTR uom;
    f->get_UOM(&uom);
    EXPECT_EQ(uom.ToUtf8(), "kg/s");
    double value = 0;
    f->get_Value(&value);
    EXPECT_NEAR(value, 12.5 / 3600, 1e-12) << "the value stays the same quantity in the new unit";
    // A values row's base unit is only that attribute, which the engine does not take: the row is
    // refused and the unit the variable is shown in stays.
    EXPECT_EQ(vars->SetAttributes(Names({"NAME", "BASEUOM"}), Matrix({{Text("F")}, {Text("kg/h")}}), 1), E_INVALIDARG);
    uom.Empty();
    f->get_UOM(&uom);
    EXPECT_EQ(uom.ToUtf8(), "kg/s");

    std::string name;
    ASSERT_EQ(nuv::coll::IndexToName(owner, 2, name), S_OK);
    EXPECT_EQ(name, "PDROP");
    EXPECT_EQ(nuv::coll::IndexToName(owner, 0, name), nuv::kObjectNotFound);
    EXPECT_EQ(nuv::coll::IndexToName(owner, 4, name), nuv::kObjectNotFound);
    ASSERT_EQ(nuv::coll::SetParameterAttribute(owner, "VALUE", "PDROP", CComVariant(0.25)), S_OK);
    CComVariant read;
    ASSERT_EQ(nuv::coll::GetParameterAttribute(owner, "VALUE", "pdrop", &read), S_OK);
    EXPECT_EQ(Show(read), Show(CComVariant(0.25)));
    read.Clear();
    EXPECT_EQ(nuv::coll::GetParameterAttribute(owner, "VALUE", "NOPE", &read), nuv::kObjectNotFound);
    EXPECT_EQ(nuv::coll::GetParameterAttribute(owner, "COLOUR", "PDROP", &read), nuv::kBadAttribute);
    EXPECT_EQ(nuv::coll::SetParameterAttribute(owner, "VALUE", "PDROP", Text("much")), E_INVALIDARG);
}

}  // namespace

namespace {

// A late-bound call by name, as a script client makes it; arguments in source order.
HRESULT LateCall(IUnknown* object, const OLECHAR* member, WORD flags, std::vector<CComVariant> args, VARIANT* result,
                 EXCEPINFO* info) {
    CComPtr<IDispatch> d;
    if (FAILED(object->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&d)))) return E_NOINTERFACE;
    LPOLESTR name = const_cast<LPOLESTR>(member);
    DISPID id = 0;
    if (HRESULT hr = d->GetIDsOfNames(IID_NULL, &name, 1, 0, &id); FAILED(hr)) return hr;
    std::vector<VARIANT> reversed(args.rbegin(), args.rend());
    DISPPARAMS params{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
    return d->Invoke(id, IID_NULL, 0, flags, &params, result, info, nullptr);
}

TEST_F(CollectionsTest, LateBoundCallsGiveTheSameResultsAndErrorTexts) {
    CComPtr<INUVBlockCollection> blocks;
    flowsheet_->get_Blocks(&blocks);
    EXCEPINFO info{};
    CComVariant result;
    EXPECT_EQ(LateCall(blocks, OLESTR("item"), DISPATCH_METHOD | DISPATCH_PROPERTYGET, {I4(0)}, &result, &info),
              DISP_E_EXCEPTION);
    EXPECT_EQ(info.scode, nuv::kIndexOutOfRange);
    EXPECT_EQ(nuv::bstr_to_utf8(info.bstrSource), "NUVBlock");
    EXPECT_EQ(nuv::bstr_to_utf8(info.bstrDescription), "Index is not in the range 1 to Count()");
    SysFreeString(info.bstrSource);
    SysFreeString(info.bstrDescription);
    SysFreeString(info.bstrHelpFile);
    ASSERT_EQ(LateCall(blocks, OLESTR("Block"), DISPATCH_PROPERTYGET, {Text("PROD")}, &result, nullptr), S_OK);
    EXPECT_EQ(NameOf(result.pdispVal), "PROD");

    // SetAttributes late-bound with its optional first position left out: rows are matched by name. Its
    // S_FALSE (a row not found) stays with early-bound callers: late binding answers S_OK.
    CComPtr<INUVVariableCollection> vars;
    Block("FEED")->get_Variables(&vars);
    CComVariant ignored;
    EXPECT_EQ(LateCall(vars, OLESTR("SetAttributes"), DISPATCH_METHOD,
                       {Names({"NAME", "VALUE"}), Matrix({{Text("T"), Text("GHOST")}, {CComVariant(5.0), CComVariant(6.0)}})},
                       &ignored, nullptr),
              S_OK);
    CComPtr<INUVVariable> t;
    vars->get_Variable(Text("T"), &t);
    double value = 0;
    t->get_Value(&value);
    EXPECT_EQ(value, 5.0);
}

// A property read that takes no arguments but is given some reads the property and hands the arguments to
// the default member of the object read: `flowsheet.Blocks(2)` is the second block. What that member
// answers is the call's answer; a value that is no object answers DISP_E_NOTACOLLECTION, and a read that
// fails answers its own failure.
TEST_F(CollectionsTest, ArgumentsToAPropertyWithoutParametersGoToTheDefaultMemberOfItsValue) {
    CComPtr<IDispatch> prod;
    Block("PROD")->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&prod));
    struct Row {
        const char* what;
        IDispatch* object;
        const OLECHAR* member;
        WORD flags;
        std::vector<CComVariant> args;
        std::vector<DISPID> named;
        HRESULT expected;
        const char* answer;  // the object answered's name, or the exception's description
    };
    CComPtr<IDispatch> fs;
    flowsheet_->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&fs));
    const WORD get = DISPATCH_PROPERTYGET, either = DISPATCH_METHOD | DISPATCH_PROPERTYGET;
    const Row rows[] = {
        {"by position", fs, OLESTR("Blocks"), get, {I4(2)}, {}, S_OK, "SECTION"},
        {"as a script asks", fs, OLESTR("blocks"), either, {I4(3)}, {}, S_OK, "PROD"},
        {"by parameter name", fs, OLESTR("Variables"), either, {I4(1)}, {0}, S_OK, "FEED.F"},
        {"item out of range", fs, OLESTR("Blocks"), get, {I4(0)}, {}, DISP_E_EXCEPTION,
         "Index is not in the range 1 to Count()"},
        {"item of the wrong type", fs, OLESTR("Blocks"), get, {Text("PROD")}, {}, DISP_E_TYPEMISMATCH, ""},
        {"too many for the item", fs, OLESTR("Blocks"), get, {I4(1), I4(2)}, {}, DISP_E_BADPARAMCOUNT, ""},
        {"a text read", fs, OLESTR("Name"), either, {I4(1)}, {}, DISP_E_NOTACOLLECTION, ""},
        {"a flag read", fs, OLESTR("IsValid"), get, {I4(1)}, {}, DISP_E_NOTACOLLECTION, ""},
        {"asked as a method", fs, OLESTR("Blocks"), DISPATCH_METHOD, {I4(1)}, {}, DISP_E_MEMBERNOTFOUND, ""},
        {"a removed block", prod, OLESTR("Ports"), get, {I4(1)}, {}, DISP_E_EXCEPTION, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        if (row.object == prod.p) {
            ASSERT_EQ(sim_->GetFlowsheet()->RemoveBlock(ZEQString("PROD")), 0);
        }
        DISPID id = 0;
        LPOLESTR name = const_cast<LPOLESTR>(row.member);
        ASSERT_EQ(row.object->GetIDsOfNames(IID_NULL, &name, 1, 0, &id), S_OK);
        std::vector<VARIANT> reversed(row.args.rbegin(), row.args.rend());
        std::vector<DISPID> named = row.named;
        DISPPARAMS params{reversed.data(), named.data(), static_cast<UINT>(reversed.size()),
                          static_cast<UINT>(named.size())};
        CComVariant result;
        EXCEPINFO info{};
        UINT arg_err = 12345;
        EXPECT_EQ(row.object->Invoke(id, IID_NULL, 0, row.flags, &params, &result, &info, &arg_err), row.expected);
        // Which argument was wrong is the item's to say (wine's own coercion leaves it unsaid).
        if (row.expected != DISP_E_TYPEMISMATCH) {
            EXPECT_EQ(arg_err, 12345u);
        }
        if (row.expected == S_OK) {
            EXPECT_EQ(NameOf(result.pdispVal), row.answer);
        }
        if (row.expected != S_OK && row.expected != DISP_E_EXCEPTION) {  // a failed member's result varies
            EXPECT_EQ(result.vt, VT_EMPTY);
        }
        if (row.expected == DISP_E_EXCEPTION) {
            EXPECT_EQ(info.scode, row.object == prod.p ? nuv::kInvalidObject : nuv::kIndexOutOfRange);
            if (*row.answer) {
                EXPECT_EQ(nuv::bstr_to_utf8(info.bstrDescription), row.answer);
            }
        }
        SysFreeString(info.bstrSource);
        SysFreeString(info.bstrDescription);
        SysFreeString(info.bstrHelpFile);

        // Without a place for the result the arguments have nowhere to go: nothing is read.
        EXPECT_EQ(row.object->Invoke(id, IID_NULL, 0, row.flags, &params, nullptr, nullptr, nullptr),
                  row.flags == DISPATCH_METHOD ? DISP_E_MEMBERNOTFOUND : DISP_E_BADPARAMCOUNT);
    }
}

// Eight threads ask at once for every item of fresh collections of each kind: each item has one wrapper,
// and the engine holds exactly that one (a second wrapper made by a losing thread is not kept or leaked).
TEST_F(CollectionsTest, RacingItemLookupsOfEveryKindShareOneWrapperPerObject) {
    constexpr int kMembers = 1000;
    zeq::testing::ModelBuilder m;
    m.Block("BIG");
    std::vector<std::string> names;
    for (int i = 0; i < kMembers; ++i) {
        const std::string n = std::to_string(i);
        m.Var("V" + n, i).Eqn("E" + n, "V" + n + " = " + n).Param("P" + n, zeq::Value::Real(i));
        names.push_back("V" + n);
    }
    for (int i = 0; i < 50; ++i) m.Port("PORT" + std::to_string(i), "IN", {names[static_cast<size_t>(i)]});
    m.Hierarchy("H");
    for (int i = 0; i < 50; ++i) m.Block("B" + std::to_string(i)).Var("X", 1);
    m.EndHierarchy();
    for (int i = 0; i < 20; ++i) m.Solver(zeq::SolverDef{"S" + std::to_string(i), {}, {}, {}});
    auto sim = m.Create();  // the fixture's simulation stays as it is
    CComPtr<INUVSimulation2> simulation;
    ASSERT_EQ(NUVClassFactory::QueryCreateWrapper(sim.get(), IID_INUVSimulation2, reinterpret_cast<void**>(&simulation)),
              S_OK);
    CComPtr<INUVBlock> flowsheet, big, hier;
    ASSERT_EQ(simulation->get_Flowsheet(&flowsheet), S_OK);
    ZEQEOCntr* fs = sim->Flowsheet();
    ASSERT_EQ(NUVClassFactory::QueryCreateWrapper(sim.get(), fs->FindBlock("BIG"), IID_INUVBlock,
                                                   reinterpret_cast<void**>(&big)),
              S_OK);
    ASSERT_EQ(NUVClassFactory::QueryCreateWrapper(sim.get(), fs->FindBlock("H"), IID_INUVBlock,
                                                   reinterpret_cast<void**>(&hier)),
              S_OK);
    struct Kind {
        const char* name;
        std::function<HRESULT(INUVObjectCollection**)> collection;
    };
    const Kind kinds[] = {
        {"variables", [&](INUVObjectCollection** c) { return flowsheet->get_Variables(reinterpret_cast<INUVVariableCollection**>(c)); }},
        {"equations", [&](INUVObjectCollection** c) { return flowsheet->get_Equations(reinterpret_cast<INUVEquationCollection**>(c)); }},
        {"block variables", [&](INUVObjectCollection** c) { return big->get_Variables(reinterpret_cast<INUVVariableCollection**>(c)); }},
        {"parameters", [&](INUVObjectCollection** c) { return big->get_Parameters(reinterpret_cast<INUVParameterCollection**>(c)); }},
        {"ports", [&](INUVObjectCollection** c) { return big->get_Ports(reinterpret_cast<INUVPortCollection**>(c)); }},
        {"blocks", [&](INUVObjectCollection** c) { return hier->get_Blocks(reinterpret_cast<INUVBlockCollection**>(c)); }},
        {"solvers", [&](INUVObjectCollection** c) { return simulation->get_Solvers(reinterpret_cast<INUVSolverCollection**>(c)); }},
    };
    constexpr int kThreads = 8;
    for (const Kind& kind : kinds) {
        SCOPED_TRACE(kind.name);
        CComPtr<INUVObjectCollection> collection;
        ASSERT_EQ(kind.collection(&collection), S_OK);
        LONG count = 0;
        ASSERT_EQ(collection->get_Count(&count), S_OK);
        ASSERT_GT(count, 1);
        std::vector<std::vector<CComPtr<INUVObject>>> got(kThreads, std::vector<CComPtr<INUVObject>>(static_cast<size_t>(count)));
        std::atomic<int> ready{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t)
            threads.emplace_back([&, t] {
                ++ready;
                while (ready.load() < kThreads) std::this_thread::yield();
                for (LONG i = 1; i <= count; ++i)
                    collection->get_Item(i, &got[static_cast<size_t>(t)][static_cast<size_t>(i - 1)]);
            });
        for (auto& t : threads) t.join();
        int split = 0;
        for (size_t i = 0; i < static_cast<size_t>(count); ++i) {
            ASSERT_NE(got[0][i], nullptr) << i;
            for (int t = 1; t < kThreads; ++t)
                if (!got[static_cast<size_t>(t)][i].IsEqualObject(got[0][i])) ++split;
        }
        EXPECT_EQ(split, 0) << "items with more than one wrapper";
        // Asked again on this thread, each item is the wrapper the threads got.
        CComPtr<INUVObject> again;
        ASSERT_EQ(collection->get_Item(count, &again), S_OK);
        EXPECT_TRUE(again.IsEqualObject(got[0][static_cast<size_t>(count - 1)]));
    }
}

}  // namespace
