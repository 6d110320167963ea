// Variable and equation wrappers: every property against the engine's own record, refusals, the unit
// list, renumbering when the engine inserts and removes members, and parent walks through hierarchies.
#include <cmath>

#include <string>
#include <type_traits>

#include "objects_support.h"

namespace {

using objects_test::TakeError;
using objects_test::Text;

class VariableTest : public objects_test::ObjectsTest {
protected:
    // The wrapper of a flowsheet variable by its full name (the engine keeps it).
    CComPtr<INUVVariable5> Var(const char* name) {
        CComPtr<INUVVariableCollection> vars;
        flowsheet_->get_Variables(&vars);
        CComPtr<INUVVariable> v;
        vars->get_Variable(Text(name), &v);
        CComPtr<INUVVariable5> v5;
        if (v) v->QueryInterface(IID_INUVVariable5, reinterpret_cast<void**>(&v5));
        return v5;
    }
    int IndexOf(const char* name) { return sim_->GetFlowsheet()->FindIndex(name); }
    // A fresh engine record of one attribute.
    template <class T>
    auto Engine(const char* name, int id) {
        ZEQVariableData record;
        record.mask.Set(id);
        T value{};
        EXPECT_TRUE(record.Load(sim_->GetFlowsheet(), nullptr, IndexOf(name), true));
        EXPECT_TRUE(record.GetValue(id, value));
        // A text belongs to the record: it is copied before the record goes.
        if constexpr (std::is_same_v<T, const char*>)
            return std::string(value ? value : "");
        else
            return value;
    }
};

using DoubleGet = HRESULT (STDMETHODCALLTYPE INUVVariable5::*)(DOUBLE*);
using DoublePut = HRESULT (STDMETHODCALLTYPE INUVVariable5::*)(DOUBLE);

TEST_F(VariableTest, DoublePropertiesReadAndWriteTheirEngineAttribute) {
    struct Case {
        const char* property;
        DoubleGet get;
        DoublePut put;
        int id;
    };
    const Case cases[] = {
        {"Value", &INUVVariable5::get_Value, &INUVVariable5::put_Value, VA_VALUE},
        {"LowerBound", &INUVVariable5::get_LowerBound, &INUVVariable5::put_LowerBound, VA_LOWER},
        {"UpperBound", &INUVVariable5::get_UpperBound, &INUVVariable5::put_UpperBound, VA_UPPER},
        {"Scale", &INUVVariable5::get_Scale, &INUVVariable5::put_Scale, VA_SCALE},
        {"SBWeight", &INUVVariable5::get_SBWeight, &INUVVariable5::put_SBWeight, VA_SBWEIGHT},
        {"ShadowPrice", &INUVVariable5::get_ShadowPrice, &INUVVariable5::put_ShadowPrice, VA_SHADOW_PRICE},
        {"Initial", &INUVVariable5::get_Initial, &INUVVariable5::put_Initial, VA_INITIAL},
        {"Change", &INUVVariable5::get_Change, &INUVVariable5::put_Change, VA_CHANGE},
        {"InternalScale", &INUVVariable5::get_InternalScale, &INUVVariable5::put_InternalScale, VA_INTSCALE},
        {"Step", &INUVVariable5::get_Step, &INUVVariable5::put_Step, VA_STEP},
        {"HomotopyTarget", &INUVVariable5::get_HomotopyTarget, &INUVVariable5::put_HomotopyTarget, VA_HOMO_TARGET},
    };
    CComPtr<INUVVariable5> v = Var("FEED.P");
    ASSERT_TRUE(v);
    double next = 3.25;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.property);
        next += 1.5;
        ASSERT_EQ((v.p->*c.put)(next), S_OK);
        EXPECT_EQ(Engine<double>("FEED.P", c.id), next);
        double read = 0;
        ASSERT_EQ((v.p->*c.get)(&read), S_OK);
        EXPECT_EQ(read, next);
        EXPECT_EQ((v.p->*c.get)(nullptr), E_POINTER);
    }
    // A value the record refuses fails the setter and leaves the variable as it was.
    for (double refused : {std::nan(""), HUGE_VAL, -HUGE_VAL}) {
        EXPECT_EQ(v->put_Value(refused), E_FAIL) << refused;
        EXPECT_EQ(TakeError(), "NUVVariable: Unspecified Error");
    }
    zeq::testing::RefuseCommits(*sim_, true);
    EXPECT_LT(v->put_Value(1.0), 0) << "a commit the engine refuses fails the setter";
    zeq::testing::RefuseCommits(*sim_, false);
    EXPECT_NE(Engine<double>("FEED.P", VA_VALUE), 1.0);
}

TEST_F(VariableTest, EnumeratedTextAndFlagPropertiesMatchTheEngine) {
    CComPtr<INUVVariable5> v = Var("FEED.F");
    ASSERT_EQ(v->put_Spec(NUVSpec_Meas), S_OK);
    EXPECT_EQ(Engine<int>("FEED.F", VA_SPEC), SPEC_MEAS);
    EXPECT_EQ(v->put_Spec(static_cast<NUVSpec>(42)), E_FAIL) << "outside the enumeration";
    ASSERT_EQ(v->put_Quality(NUVVarQuality_Bad), S_OK);
    EXPECT_EQ(Engine<int>("FEED.F", VA_QUALITY), QUALITY_BAD);
    ASSERT_EQ(v->put_BoundType(static_cast<NUVVarBoundType>(BOUND_SOFT)), S_OK);
    EXPECT_EQ(Engine<int>("FEED.F", VA_BOUND), BOUND_SOFT);
    ASSERT_EQ(v->put_HomotopyParameter(static_cast<NUVHomotopyParam>(1)), S_OK);
    EXPECT_EQ(Engine<int>("FEED.F", VA_HOMO_PARAM), 1);
    ASSERT_EQ(v->put_VariableType(static_cast<NUVVariableType>(2)), S_OK);
    EXPECT_EQ(Engine<int>("FEED.F", VA_VARIABLE_TYPE), 2);
    ASSERT_EQ(v->put_ConnectionType(7), S_OK);
    EXPECT_EQ(Engine<int>("FEED.F", VA_CONN_TYPE), 7);
    ASSERT_EQ(v->put_Marked(VARIANT_TRUE), S_OK);
    EXPECT_EQ(Engine<int>("FEED.F", VA_MARKED), 1);

    NUVSpec spec{};
    NUVVarQuality quality{};
    NUVVarBoundType bound{};
    NUVHomotopyParam homotopy{};
    NUVVariableType type{};
    NUVActiveBound active{};
    INT connection = 0, number = 0;
    VARIANT_BOOL marked = VARIANT_FALSE;
    EXPECT_EQ(v->get_Spec(&spec), S_OK);
    EXPECT_EQ(spec, NUVSpec_Meas);
    EXPECT_EQ(v->get_Quality(&quality), S_OK);
    EXPECT_EQ(quality, NUVVarQuality_Bad);
    EXPECT_EQ(v->get_BoundType(&bound), S_OK);
    EXPECT_EQ(static_cast<int>(bound), BOUND_SOFT);
    EXPECT_EQ(v->get_HomotopyParameter(&homotopy), S_OK);
    EXPECT_EQ(static_cast<int>(homotopy), 1);
    EXPECT_EQ(v->get_VariableType(&type), S_OK);
    EXPECT_EQ(static_cast<int>(type), 2);
    EXPECT_EQ(v->get_ActiveBound(&active), S_OK);
    EXPECT_EQ(v->get_ConnectionType(&connection), S_OK);
    EXPECT_EQ(connection, 7);
    EXPECT_EQ(v->get_Marked(&marked), S_OK);
    EXPECT_EQ(marked, VARIANT_TRUE);
    EXPECT_EQ(v->get_Number(&number), S_OK);
    EXPECT_EQ(number, Engine<int>("FEED.F", VA_NUMBER));

    // Texts: units must belong to the variable's physical type.
    ASSERT_EQ(v->put_UOM(CComBSTR("kg/s")), S_OK);
    CComBSTR text;
    EXPECT_EQ(v->get_UOM(&text), S_OK);
    EXPECT_EQ(text.ToUtf8(), "kg/s");
    text.Empty();
    EXPECT_LT(v->put_UOM(CComBSTR("furlong")), 0);
    EXPECT_EQ(v->get_UOM(&text), S_OK);
    EXPECT_EQ(text.ToUtf8(), "kg/s");
    text.Empty();
    ASSERT_EQ(v->put_Description(CComBSTR("Fresh feed")), S_OK);
    EXPECT_EQ(std::string(Engine<const char*>("FEED.F", VA_DESCRIPTION)), "Fresh feed");
    EXPECT_EQ(v->get_Description(&text), S_OK);
    EXPECT_EQ(text.ToUtf8(), "Fresh feed");
    text.Empty();
    EXPECT_EQ(v->get_PhysicalType(&text), S_OK);
    EXPECT_EQ(text.ToUtf8(), "MASS-FLOW");
    text.Empty();
    EXPECT_EQ(v->get_baseUOM(&text), S_OK);
    EXPECT_FALSE(text.ToUtf8().empty());
    text.Empty();
    ASSERT_EQ(v->get_Name(&text), S_OK);
    EXPECT_EQ(text.ToUtf8(), "FEED.F");
}

TEST_F(VariableTest, ModifiedFlagsByAttributeName) {
    CComPtr<INUVVariable5> v = Var("FEED.T");
    VARIANT_BOOL modified = VARIANT_TRUE;
    ASSERT_EQ(v->get_Modified(CComBSTR("VALUE"), &modified), S_OK);
    EXPECT_EQ(modified, VARIANT_FALSE);
    ASSERT_EQ(v->put_Value(310.0), S_OK);
    ASSERT_EQ(v->get_Modified(CComBSTR("value"), &modified), S_OK);
    EXPECT_EQ(modified, VARIANT_TRUE) << "the engine marks what a commit changed";
    ASSERT_EQ(v->put_Modified(CComBSTR("VALUE"), VARIANT_FALSE), S_OK);
    ASSERT_EQ(v->get_Modified(CComBSTR("VALUE"), &modified), S_OK);
    EXPECT_EQ(modified, VARIANT_FALSE);
    EXPECT_EQ(v->get_Modified(CComBSTR("COLOUR"), &modified), E_INVALIDARG);
    EXPECT_EQ(TakeError(), "NUVVariable: Unspecified Error");
    EXPECT_EQ(v->put_Modified(CComBSTR("COLOUR"), VARIANT_TRUE), E_INVALIDARG);
}

TEST_F(VariableTest, UnitListHoldsThePhysicalTypesUnitsFromOne) {
    CComVariant list;
    ASSERT_EQ(Var("FEED.F")->get_UOMList(&list), S_OK);
    ASSERT_EQ(list.vt, VT_ARRAY | VT_BSTR);
    LONG lo = 0, hi = 0;
    SafeArrayGetLBound(list.parray, 1, &lo);
    SafeArrayGetUBound(list.parray, 1, &hi);
    EXPECT_EQ(lo, 1);
    char** names = nullptr;
    const int n = rtouom_get_uomlist(pt_lookup("MASS-FLOW"), &names);
    ASSERT_GT(n, 0);
    EXPECT_EQ(hi, n);
    BSTR first = nullptr;
    SafeArrayGetElement(list.parray, &lo, &first);
    EXPECT_EQ(nuv::bstr_to_utf8(first), names[0]);
    SysFreeString(first);
    rtouom_destroy_uomlist(names, n);
    // An untyped variable has no units: S_OK and an empty result.
    CComVariant none;
    ASSERT_EQ(Var("FEED.P")->get_UOMList(&none), S_OK);
    EXPECT_TRUE(none.vt == VT_EMPTY || none.vt == (VT_ARRAY | VT_BSTR));
    EXPECT_EQ(Var("FEED.P")->get_UOMList(nullptr), E_POINTER);
}

TEST_F(VariableTest, RenumberedByTheEngineWhenMembersMove) {
    CComPtr<INUVVariable5> total = Var("TOTAL");
    CComPtr<INUVVariable5> prod = Var("PROD.F");
    ASSERT_EQ(total->put_Value(41.0), S_OK);
    // A block added to the hierarchy moves everything laid out after it.
    zeq::BlockDef def;
    def.name = "EXTRA";
    def.type = "BLOCK";
    def.vars.resize(2);
    def.vars[0].name = "A";
    def.vars[1].name = "B";
    auto* section = static_cast<zeq::Container*>(sim_->GetFlowsheet()->FindBlock("SECTION")->GetSubContainer(nullptr));
    ASSERT_EQ(sim_->AddBlockDef(section, def), 0);
    auto* total_impl = nuv::ImplementationOf<CoNUVVariable>(total);
    EXPECT_EQ(total_impl->GetIndex(), IndexOf("TOTAL"));
    double value = 0;
    ASSERT_EQ(total->get_Value(&value), S_OK);
    EXPECT_EQ(value, 41.0);
    CComBSTR name;
    prod->get_Name(&name);
    EXPECT_EQ(name.ToUtf8(), "PROD.F");
    // Removing the first block moves everything back by its size.
    ASSERT_EQ(sim_->GetFlowsheet()->RemoveBlock(ZEQString("FEED")), 0);
    name.Empty();
    ASSERT_EQ(prod->get_Name(&name), S_OK);
    EXPECT_EQ(name.ToUtf8(), "PROD.F");
    ASSERT_EQ(total->get_Value(&value), S_OK);
    EXPECT_EQ(value, 41.0);
}

TEST_F(VariableTest, TwoRequestsGiveTwoWrappersAndTheEngineHoldsItsReference) {
    CComPtr<INUVVariable> a, b;
    CComPtr<INUVWrapper> wa, wb;
    const int index = IndexOf("FEED.F");
    ASSERT_EQ(NUVClassFactory::QueryCreateVarWrapper(sim_.get(), index, IID_INUVVariable, reinterpret_cast<void**>(&a),
                                                     &wa.p),
              S_OK);
    ASSERT_EQ(NUVClassFactory::QueryCreateVarWrapper(sim_.get(), index, IID_INUVVariable, reinterpret_cast<void**>(&b),
                                                     &wb.p),
              S_OK);
    EXPECT_NE(a.p, b.p);
    ASSERT_TRUE(wa);
    EXPECT_EQ(nuv::ImplementationOf<CoNUVVariable>(a)->EngineCount(), 1);
    ASSERT_EQ(wa->Notify(IndexOf("FEED.T")), S_OK);
    CComBSTR name;
    a->get_Name(&name);
    EXPECT_EQ(name.ToUtf8(), "FEED.T");
    wa.Release();  // the engine's last reference: the wrapper detaches
    VARIANT_BOOL valid = VARIANT_TRUE;
    a->get_IsValid(&valid);
    EXPECT_EQ(valid, VARIANT_FALSE);
    CComPtr<INUVObject> parent;
    EXPECT_EQ(a->get_Parent(&parent), nuv::kInvalidObject);
    CComPtr<IUnknown> service;
    EXPECT_EQ(b->GetService(CComBSTR("x"), &service), nuv::kNoService);
    CComPtr<INUVVariable> c;
    EXPECT_EQ(NUVClassFactory::QueryCreateVarWrapper(sim_.get(), index, IID_INUVVariable, reinterpret_cast<void**>(&c),
                                                     nullptr),
              E_POINTER);
}

TEST_F(VariableTest, ParentsAreTheInnermostBlocks) {
    struct Case {
        const char* variable;
        const char* parent;  // "" for the flowsheet
    };
    for (const Case& c : {Case{"SECTION.INNER.CORE.X", "CORE"}, Case{"SECTION.HTR.TOUT", "HTR"},
                          Case{"SECTION.LOAD", "SECTION"}, Case{"FEED.P", "FEED"}, Case{"TOTAL", ""}}) {
        SCOPED_TRACE(c.variable);
        CComPtr<INUVObject> parent;
        ASSERT_EQ(Var(c.variable)->get_Parent(&parent), S_OK);
        EXPECT_EQ(objects_test::NameOf(parent), c.parent);
        if (!*c.parent) {
            CComPtr<INUVBlock> block;
            parent->QueryInterface(IID_INUVBlock, reinterpret_cast<void**>(&block));
            EXPECT_EQ(block.p, flowsheet_.p);
        }
    }
    CComPtr<INUVSimulation> simulation;
    ASSERT_EQ(Var("TOTAL")->get_Simulation(&simulation), S_OK);
    CComPtr<INUVSimulation> mine;
    simulation_->QueryInterface(IID_INUVSimulation, reinterpret_cast<void**>(&mine));
    EXPECT_EQ(simulation.p, mine.p);
}

TEST_F(VariableTest, EquationsNameParentAndRenumbering) {
    CComPtr<INUVEquationCollection> eqns;
    flowsheet_->get_Equations(&eqns);
    struct Case {
        const char* equation;
        const char* parent;
    };
    for (const Case& c : {Case{"SECTION.HTR.HEAT", "HTR"}, Case{"SECTION.LOADEQ", "SECTION"}, Case{"PROD.BAL", "PROD"}}) {
        SCOPED_TRACE(c.equation);
        CComPtr<INUVEquation> e;
        ASSERT_EQ(eqns->get_Equation(Text(c.equation), &e), S_OK);
        EXPECT_EQ(objects_test::NameOf(e), c.equation);
        CComPtr<INUVObject> parent;
        ASSERT_EQ(e->get_Parent(&parent), S_OK);
        EXPECT_EQ(objects_test::NameOf(parent), c.parent);
    }
    CComPtr<INUVEquation> bal;
    eqns->get_Equation(Text("PROD.BAL"), &bal);
    ASSERT_EQ(sim_->GetFlowsheet()->RemoveBlock(ZEQString("SECTION")), 0);
    EXPECT_EQ(objects_test::NameOf(bal), "PROD.BAL") << "renumbered through the notification";
    CComPtr<INUVWrapper> w;
    CComPtr<INUVEquation> fresh, twin;
    ASSERT_EQ(NUVClassFactory::QueryCreateEqnWrapper(sim_.get(), 1, IID_INUVEquation, reinterpret_cast<void**>(&fresh), &w.p),
              S_OK);
    CComPtr<INUVWrapper> w2;
    ASSERT_EQ(NUVClassFactory::QueryCreateEqnWrapper(sim_.get(), 1, IID_INUVEquation, reinterpret_cast<void**>(&twin), &w2.p),
              S_OK);
    EXPECT_NE(fresh.p, twin.p);
    CComPtr<IUnknown> service;
    EXPECT_EQ(fresh->GetService(CComBSTR("x"), &service), nuv::kNoService);
    EXPECT_EQ(TakeError(), "NUVEquation: Object does not support the requested service");
    w.Release();
    EXPECT_EQ(fresh->GetService(CComBSTR("x"), &service), nuv::kInvalidObject);
    CComPtr<ISupportErrorInfo> support;
    twin->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(&support));
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_INUVEquation), S_OK);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IDispatch), S_FALSE);
}

}  // namespace
