// Block parameters with the block's cache, ports with their own variable collections, and the block
// wrapper's own members.
#include "objects_support.h"

#include "block.h"

namespace {

using objects_test::At;
using objects_test::I4;
using objects_test::Names;
using objects_test::NameOf;
using objects_test::Show;
using objects_test::TakeError;
using objects_test::Text;

class ParameterPortTest : public objects_test::ObjectsTest {
protected:
    CComPtr<INUVParameter3> Param(const char* block, const char* name) {
        CComPtr<INUVParameterCollection> params;
        Block(block)->get_Parameters(&params);
        CComPtr<INUVParameter> p;
        params->get_Parameter(Text(name), &p);
        CComPtr<INUVParameter3> p3;
        if (p) p->QueryInterface(IID_INUVParameter3, reinterpret_cast<void**>(&p3));
        return p3;
    }
    CComPtr<INUVPort2> Port(const char* block, const char* name) {
        CComPtr<INUVPortCollection> ports;
        Block(block)->get_Ports(&ports);
        CComPtr<INUVPort> p;
        ports->get_Port(Text(name), &p);
        CComPtr<INUVPort2> p2;
        if (p) p->QueryInterface(IID_INUVPort2, reinterpret_cast<void**>(&p2));
        return p2;
    }
    zeq::Block* EngineBlock(const char* name) {
        return static_cast<zeq::Block*>(sim_->GetFlowsheet()->FindBlock(name));
    }
};

TEST_F(ParameterPortTest, ParameterPropertiesReadAndWriteTheBlockParameter) {
    CComPtr<INUVParameter3> p = Param("FEED", "PDROP");
    ASSERT_TRUE(p);
    CComVariant value;
    ASSERT_EQ(p->get_Value(&value), S_OK);
    EXPECT_EQ(Show(value), Show(CComVariant(0.5)));
    ASSERT_EQ(p->put_Value(CComVariant(0.8)), S_OK);
    value.Clear();
    p->get_Value(&value);
    EXPECT_EQ(Show(value), Show(CComVariant(0.8)));
    // A value the engine refuses is E_INVALIDARG and changes nothing.
    EXPECT_EQ(p->put_Value(Text("lots")), E_INVALIDARG);
    EXPECT_EQ(TakeError(), "NUVParameter: Unspecified Error");
    value.Clear();
    p->get_Value(&value);
    EXPECT_EQ(Show(value), Show(CComVariant(0.8)));
    // Units written as a VARIANT and read as text are one attribute.
    ASSERT_EQ(p->put_UOM(Text("bar")), S_OK);
    CComBSTR text;
    ASSERT_EQ(p->get_UOM(&text), S_OK);
    EXPECT_EQ(text.ToUtf8(), "bar");
    ASSERT_EQ(p->put_Lower(CComVariant(0.1)), S_OK);
    ASSERT_EQ(p->put_Upper(CComVariant(2.0)), S_OK);
    CComVariant lower, upper;
    p->get_Lower(&lower);
    p->get_Upper(&upper);
    EXPECT_EQ(Show(lower), Show(CComVariant(0.1)));
    EXPECT_EQ(Show(upper), Show(CComVariant(2.0)));
    NUVParameterAccess access{};
    ASSERT_EQ(p->get_Access(&access), S_OK);
    EXPECT_EQ(access, NUVReadWrite);
    CComPtr<INUVParameter3> locked = Param("FEED", "LOCKED");
    ASSERT_EQ(locked->get_Access(&access), S_OK);
    EXPECT_EQ(access, NUVReadOnly);
    text.Empty();
    ASSERT_EQ(p->get_Name(&text), S_OK);
    EXPECT_EQ(text.ToUtf8(), "PDROP");
    CComPtr<INUVObject> parent;
    ASSERT_EQ(p->get_Parent(&parent), S_OK);
    EXPECT_EQ(NameOf(parent), "FEED");
    CComPtr<IUnknown> service;
    EXPECT_EQ(p->GetService(CComBSTR("x"), &service), nuv::kNoService);
    EXPECT_EQ(p->get_Value(nullptr), E_POINTER);
}

TEST_F(ParameterPortTest, CollectionPositionsCountFromOneAndTheCacheFollowsTheEngine) {
    CComPtr<INUVParameterCollection> params;
    Block("FEED")->get_Parameters(&params);
    CComPtr<INUVObject> first, again;
    ASSERT_EQ(params->get_Item(1, &first), S_OK);
    EXPECT_EQ(NameOf(first), "COMPONENT");
    ASSERT_EQ(params->get_Item(1, &again), S_OK);
    EXPECT_EQ(first.p, again.p) << "the cache hands out one wrapper per parameter";
    CComPtr<INUVObject> none;
    EXPECT_EQ(params->get_Item(0, &none), nuv::kIndexOutOfRange);
    EXPECT_EQ(params->get_Item(4, &none), nuv::kIndexOutOfRange);

    // The engine gains a parameter: the collection reaches it by position and by name.
    zeq::Parameter added;
    added.name = "SPEED";
    added.value = zeq::Value::Int(1200);
    EngineBlock("FEED")->Params().push_back(added);
    params.Release();
    Block("FEED")->get_Parameters(&params);
    EXPECT_EQ(CountOf(params.p), 4);
    CComPtr<INUVObject> last;
    ASSERT_EQ(params->get_Item(4, &last), S_OK);
    EXPECT_EQ(NameOf(last), "SPEED");
    CComPtr<INUVParameter> by_name;
    ASSERT_EQ(params->get_Parameter(Text("speed"), &by_name), S_OK);
    EXPECT_EQ(NameOf(by_name), "SPEED");
    // Renamed in place: the cached name no longer matches, the item at that position is the new one.
    EngineBlock("FEED")->Params()[0].name = "FLUID";
    CComPtr<INUVObject> renamed;
    ASSERT_EQ(params->get_Item(1, &renamed), S_OK);
    EXPECT_EQ(NameOf(renamed), "FLUID");
    // The enumerator runs over positions 1 .. Count.
    CComPtr<IUnknown> unk;
    ASSERT_EQ(params->get__NewEnum(&unk), S_OK);
    CComPtr<IEnumVARIANT> e;
    unk->QueryInterface(IID_IEnumVARIANT, reinterpret_cast<void**>(&e));
    CComVariant items[5];
    ULONG fetched = 0;
    EXPECT_EQ(e->Next(5, items, &fetched), S_FALSE);
    EXPECT_EQ(fetched, 4u);
    EXPECT_EQ(NameOf(items[3].pdispVal), "SPEED");
}

TEST_F(ParameterPortTest, PortsAnswerDirectionTypeStreamAndOneWrapperPerPort) {
    CComPtr<INUVPort2> out = Port("FEED", "OUT");
    ASSERT_TRUE(out);
    CComPtr<INUVPort2> again = Port("FEED", "OUT");
    EXPECT_EQ(out.p, again.p);
    NUVPortDir dir{};
    ASSERT_EQ(out->get_Direction(&dir), S_OK);
    EXPECT_EQ(dir, NUVPortDir_Output);
    ASSERT_EQ(Port("PROD", "IN")->get_Direction(&dir), S_OK);
    EXPECT_EQ(dir, NUVPortDir_Input);
    NUVPortType type{};
    ASSERT_EQ(out->get_Type(&type), S_OK);
    EXPECT_EQ(type, NUVPortType_Material);
    CComBSTR stream;
    EXPECT_EQ(out->get_Stream(&stream), S_OK);
    CComBSTR name;
    ASSERT_EQ(out->get_Name(&name), S_OK);
    EXPECT_EQ(name.ToUtf8(), "OUT");
    CComPtr<INUVObject> parent;
    ASSERT_EQ(out->get_Parent(&parent), S_OK);
    EXPECT_EQ(NameOf(parent), "FEED");
    CComPtr<IUnknown> service;
    EXPECT_EQ(out->GetService(CComBSTR("x"), &service), nuv::kNoService);
    EXPECT_EQ(TakeError(), "NUVPort: Object does not support the requested service");
}

TEST_F(ParameterPortTest, PortVariablesAreTheBlocksVariablesOnThePort) {
    CComPtr<INUVVariableCollection> vars;
    ASSERT_EQ(Port("FEED", "OUT")->get_Variables(&vars), S_OK);
    EXPECT_EQ(CountOf(vars.p), 2);
    CComPtr<INUVObject> second;
    ASSERT_EQ(vars->get_Item(2, &second), S_OK);
    EXPECT_EQ(NameOf(second), "FEED.T");
    CComPtr<INUVObject> found;
    ASSERT_EQ(vars->Find(CComBSTR("F"), &found), S_OK);
    EXPECT_EQ(NameOf(found), "FEED.F");
    found.Release();
    EXPECT_EQ(vars->Find(CComBSTR("P"), &found), nuv::kObjectNotFound) << "the block's, but not on the port";
    EXPECT_EQ(TakeError(), "NUVPort: Failed to find requested object");
    CComPtr<INUVVariable> typed;
    ASSERT_EQ(vars->get_Variable(CComVariant(1.0), &typed), S_OK);
    EXPECT_EQ(NameOf(typed), "FEED.F");
    typed.Release();
    EXPECT_EQ(vars->get_Variable(CComVariant(static_cast<IDispatch*>(vars.p)), &typed), nuv::kBadIndexType);
    CComVariant m;
    ASSERT_EQ(vars->GetAttributes(Names({"NAME", "VALUE"}), 2, 0, &m), S_OK);
    EXPECT_EQ(objects_test::Extent(m, 1), 1);
    EXPECT_EQ(Show(At(m, 1, 1)), Show(Text("FEED.T")));
    EXPECT_EQ(Show(At(m, 1, 2)), Show(CComVariant(300.0)));
    EXPECT_EQ(vars->SetAttributes(Names({"VALUE"}), objects_test::Matrix({{CComVariant(1.0)}}), 1), E_NOTIMPL);
    CComPtr<IUnknown> grid;
    EXPECT_EQ(vars->GetService(CComBSTR("gridservice"), &grid), nuv::kNoService);

    // A port with no variables.
    CComPtr<INUVVariableCollection> spare;
    ASSERT_EQ(Port("PROD", "SPARE")->get_Variables(&spare), S_OK);
    EXPECT_EQ(CountOf(spare.p), 0);
    CComPtr<INUVObject> item;
    EXPECT_EQ(spare->get_Item(1, &item), nuv::kIndexOutOfRange);
    CComPtr<IUnknown> unk;
    ASSERT_EQ(spare->get__NewEnum(&unk), S_OK);
    CComPtr<IEnumVARIANT> e;
    unk->QueryInterface(IID_IEnumVARIANT, reinterpret_cast<void**>(&e));
    CComVariant v;
    EXPECT_EQ(e->Next(1, &v, nullptr), S_FALSE);
    // A port of a block inside a hierarchy.
    CComPtr<INUVVariableCollection> prod_in;
    Port("PROD", "IN")->get_Variables(&prod_in);
    CComPtr<INUVObject> f;
    ASSERT_EQ(prod_in->get_Item(1, &f), S_OK);
    EXPECT_EQ(NameOf(f), "PROD.F");
}

TEST_F(ParameterPortTest, BlockWrapperMembers) {
    CComBSTR name;
    ASSERT_EQ(flowsheet_->get_Name(&name), S_OK);
    EXPECT_EQ(name.ToUtf8(), "");
    CComPtr<INUVObject> parent;
    EXPECT_EQ(flowsheet_->get_Parent(&parent), nuv::kNoParent);
    EXPECT_EQ(TakeError(), "NUVBlock: Object has no parent");
    VARIANT_BOOL flag = VARIANT_FALSE;
    ASSERT_EQ(flowsheet_->get_IsBlockContainer(&flag), S_OK);
    EXPECT_EQ(flag, VARIANT_TRUE);
    CComPtr<INUVBlock2> fs2;
    flowsheet_->QueryInterface(IID_INUVBlock2, reinterpret_cast<void**>(&fs2));
    ASSERT_EQ(fs2->get_IsIncluded(&flag), S_OK);
    EXPECT_EQ(flag, VARIANT_FALSE) << "the flowsheet is no block of its own";
    CComPtr<INUVBlock> core = Block("SECTION.INNER.CORE");
    ASSERT_EQ(core->get_Parent(&parent), S_OK);
    EXPECT_EQ(NameOf(parent), "INNER");
    ASSERT_EQ(core->get_IsBlockContainer(&flag), S_OK);
    EXPECT_EQ(flag, VARIANT_FALSE);
    CComPtr<INUVBlockCollection> none;
    core->get_Blocks(&none);
    EXPECT_EQ(CountOf(none.p), 0);
    CComPtr<IUnknown> service;
    EXPECT_LT(core->GetService(CComBSTR("NoSuchService"), &service), 0);
    EXPECT_NE(TakeError().find("NUVBlock"), std::string::npos);
}

}  // namespace
