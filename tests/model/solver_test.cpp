// The solver wrapper and its parameters: one numbering over the integer, real and text parameters,
// reads and writes by position and by name, and the enumerator.
#include "model_support.h"
#include "solver.h"
#include "zeq_host.h"

using model_test::SimulationTest;
using model_test::TakeError;

using model_test::I4;

namespace {

class SolverTest : public SimulationTest {
protected:
    void SetUp() override {
        SimulationTest::SetUp();
        CComPtr<INUVSolverCollection> solvers;
        ASSERT_EQ(wrapper_->get_Solvers(&solvers), S_OK);
        ASSERT_EQ(solvers->get_Solver(CComVariant(OLESTR("MAIN")), &solver_), S_OK);
        ASSERT_EQ(solver_->get_Parameters(&params_), S_OK);
    }
    void TearDown() override {
        params_.Release();
        solver_.Release();
        SimulationTest::TearDown();
    }
    zeq::Solver& EngineMain() { return *static_cast<zeq::Solver*>(sim_->GetSolver(1)); }

    CComPtr<INUVSolver> solver_;
    CComPtr<INUVParameters> params_;
};

TEST_F(SolverTest, PositionsRunThroughIntegersThenRealsThenTexts) {
    LONG count = 0;
    ASSERT_EQ(params_->get_Count(&count), S_OK);
    EXPECT_EQ(count, 2 + 3 + 1);
    struct Case {
        LONG index;
        VARTYPE vt;
        double number;
        const char* text;
    };
    const Case cases[] = {
        {1, VT_I4, 50, nullptr},   {2, VT_I4, 1, nullptr},     {3, VT_R8, 1e-6, nullptr},
        {4, VT_R8, 0.5, nullptr},  {5, VT_R8, 1.0, nullptr},   {6, VT_BSTR, 0, "NEWTON"},
    };
    for (const Case& c : cases) {
        CComVariant value;
        ASSERT_EQ(params_->get_Item(CComVariant(c.index), &value), S_OK) << c.index;
        ASSERT_EQ(value.vt, c.vt) << c.index;
        if (c.vt == VT_I4) {
            EXPECT_EQ(value.lVal, static_cast<LONG>(c.number));
        } else if (c.vt == VT_R8) {
            EXPECT_DOUBLE_EQ(value.dblVal, c.number);
        } else {
            EXPECT_EQ(CComBSTR(value.bstrVal).ToUtf8(), c.text);
        }
    }
    for (LONG bad : {0L, 7L, -2L}) {
        CComVariant value;
        EXPECT_EQ(params_->get_Item(CComVariant(bad), &value), static_cast<HRESULT>(0x80040201)) << bad;
        EXPECT_EQ(value.vt, VT_EMPTY);
        auto e = TakeError();
        EXPECT_EQ(e.source, "NUVSolver");
        EXPECT_EQ(e.description, "Index is not in the range 1 to Count()");
        EXPECT_EQ(params_->put_Item(CComVariant(bad), I4(1)), static_cast<HRESULT>(0x80040201));
    }
}

TEST_F(SolverTest, RealIndexIsConvertedInACopyAndTextIndexIsAName) {
    CComVariant index(2.0);
    CComVariant value;
    ASSERT_EQ(params_->get_Item(index, &value), S_OK);
    EXPECT_EQ(index.vt, VT_R8) << "the caller's index stays as it was";
    EXPECT_EQ(value.vt, VT_I4);
    EXPECT_EQ(value.lVal, 1);

    value.Clear();
    ASSERT_EQ(params_->get_Item(CComVariant(OLESTR("tolerance")), &value), S_OK);
    EXPECT_EQ(value.vt, VT_R8);
    EXPECT_DOUBLE_EQ(value.dblVal, 1e-6);

    // A text that looks like a number is still a name; a name the engine does not know fails on read and
    // on write, never reads as a value.
    for (const OLECHAR* unknown : {OLESTR("3"), OLESTR("NOPE")}) {
        value.Clear();
        EXPECT_EQ(params_->get_Item(CComVariant(unknown), &value), nuv::kObjectNotFound);
        EXPECT_EQ(value.vt, VT_EMPTY);
        auto e = TakeError();
        EXPECT_EQ(e.source, "NUVSolver");
        EXPECT_EQ(e.description, "Failed to find requested object");
        EXPECT_EQ(params_->put_Item(CComVariant(unknown), I4(1)), nuv::kObjectNotFound);
        EXPECT_EQ(TakeError().description, "Failed to find requested object");
    }

    CComVariant object;
    object.vt = VT_UNKNOWN;
    object.punkVal = nullptr;
    EXPECT_TRUE(FAILED(params_->get_Item(object, &value)));
    EXPECT_EQ(TakeError().source, "NUVSolver");
}

TEST_F(SolverTest, WritesConvertTheValueToTheParametersType) {
    ASSERT_EQ(params_->put_Item(I4(1), CComVariant(OLESTR("75"))), S_OK);
    EXPECT_EQ(EngineMain().GetIntParameter("MAXITER"), 75);
    CComVariant real(OLESTR("0.25"));
    ASSERT_EQ(params_->put_Item(CComVariant(OLESTR("STEP")), real), S_OK);
    EXPECT_EQ(real.vt, VT_BSTR) << "the value is converted in a copy";
    EXPECT_DOUBLE_EQ(EngineMain().GetRealParameter("STEP"), 0.25);
    ASSERT_EQ(params_->put_Item(I4(6), CComVariant(12.5)), S_OK);
    EXPECT_STREQ(EngineMain().GetTextParameter("METHOD"), "12.5");

    EXPECT_EQ(params_->put_Item(I4(1), CComVariant(OLESTR("many"))), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(TakeError().source, "NUVSolver");
    EXPECT_EQ(EngineMain().GetIntParameter("MAXITER"), 75);
    // Settings no solve can work with are refused when set.
    for (const auto& [name, value] : {std::pair{OLESTR("MAXITER"), -5.0}, {OLESTR("TOLERANCE"), -1.0}, {OLESTR("DAMPING"), 0.0}}) {
        EXPECT_EQ(params_->put_Item(CComVariant(name), CComVariant(value)), static_cast<HRESULT>(ZEQ_E_REFUSED));
        EXPECT_EQ(TakeError().source, "NUVSolver");
    }
    EXPECT_EQ(EngineMain().GetIntParameter("MAXITER"), 75);
    EXPECT_DOUBLE_EQ(EngineMain().GetRealParameter("TOLERANCE"), 1e-6);
    EXPECT_DOUBLE_EQ(EngineMain().GetRealParameter("DAMPING"), 1.0);
}

TEST_F(SolverTest, EnumeratorYieldsEveryValueInOrder) {
    CComPtr<IUnknown> unk;
    ASSERT_EQ(params_->get__NewEnum(&unk), S_OK);
    CComQIPtr<IEnumVARIANT> e(unk.p);
    ASSERT_TRUE(e);
    VARIANT values[6];
    for (auto& v : values) VariantInit(&v);
    ULONG fetched = 0;
    ASSERT_EQ(e->Next(6, values, &fetched), S_OK);
    const VARTYPE expected[] = {VT_I4, VT_I4, VT_R8, VT_R8, VT_R8, VT_BSTR};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(values[i].vt, expected[i]) << i;
    EXPECT_EQ(values[0].lVal, 50);
    for (auto& v : values) VariantClear(&v);
}

TEST_F(SolverTest, NameParentDescriptionAndServices) {
    CComBSTR name;
    ASSERT_EQ(solver_->get_Name(&name), S_OK);
    EXPECT_EQ(name.ToUtf8(), "MAIN");
    CComPtr<INUVObject> parent;
    ASSERT_EQ(solver_->get_Parent(&parent), S_OK);
    EXPECT_TRUE(parent.IsEqualObject(wrapper_));
    for (CComVariant index : {I4(1), I4(99), CComVariant(OLESTR("nothing"))}) {
        CComBSTR description;
        ASSERT_EQ(params_->get_Description(index, &description), S_OK);
        ASSERT_NE(description.m_str, nullptr);
        EXPECT_EQ(description.Length(), 0u);
    }
    CComPtr<IUnknown> service;
    EXPECT_EQ(solver_->GetService(CComBSTR("anything"), &service), static_cast<HRESULT>(0x80040103));
    EXPECT_EQ(TakeError().description, "Object does not support the requested service");
    CComQIPtr<IServiceProvider> provider(solver_.p);
    ASSERT_TRUE(provider);
    EXPECT_EQ(provider->QueryService(IID_INUVSolver, IID_IUnknown, reinterpret_cast<void**>(&service)), E_NOINTERFACE);
    CComQIPtr<ISupportErrorInfo> support(solver_.p);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_INUVSolver), S_OK);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_INUVParameters), S_FALSE);
    CComQIPtr<ISupportErrorInfo> paramSupport(params_.p);
    EXPECT_EQ(paramSupport->InterfaceSupportsErrorInfo(IID_INUVParameters), S_OK);
}

}  // namespace
