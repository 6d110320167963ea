// The simulation wrapper over an engine simulation: identity, scopes, solving, objectives, cancellation,
// files, the build version, the solver collection and what remains after the engine lets go.

#include <functional>

#include "model_support.h"
#include "rezoraruz.h"
#include "simulation.h"
#include "temp_dir.h"

using model_test::ClearError;
using model_test::SimulationTest;
using model_test::TakeError;
using zeq::testing::CallJournal;

using model_test::I4;

namespace {

CComBSTR Text(const char* s) { return CComBSTR(s); }

std::string LastSolve(const CallJournal& journal) {
    std::string last;
    for (const std::string& e : journal.Entries())
        if (e.rfind("Solve ", 0) == 0) last = e.substr(6);
    return last;
}

TEST_F(SimulationTest, OneEngineSimulationHasOneWrapper) {
    CComPtr<IUnknown> again, first;
    ASSERT_EQ(NUVClassFactory::QueryCreateWrapper(sim_.get(), IID_IUnknown, reinterpret_cast<void**>(&again)), S_OK);
    wrapper_->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&first));
    EXPECT_EQ(again.p, first.p);
    CComPtr<INUVSimulation> self;
    ASSERT_EQ(wrapper_->get_Simulation(&self), S_OK);
    EXPECT_TRUE(self.IsEqualObject(wrapper_));
    // The engine holds the wrapper's private interface.
    EXPECT_NE(sim_->GetWrapper(), nullptr);
    auto* impl = nuv::ImplementationOf<CoNUVSimulation>(wrapper_);
    ASSERT_NE(impl, nullptr);
    EXPECT_EQ(impl->GetEngineSimulation(), sim_.get());
    EXPECT_EQ(impl->EngineCount(), 1);
}

TEST_F(SimulationTest, HasNoParentAndAnEmptyName) {
    CComPtr<INUVObject> parent;
    EXPECT_EQ(wrapper_->get_Parent(&parent), static_cast<HRESULT>(0x80040102));
    EXPECT_EQ(parent.p, nullptr);
    auto e = TakeError();
    EXPECT_EQ(e.source, "NUVSimulation");
    EXPECT_EQ(e.description, "Object has no parent");
    CComBSTR name;
    ASSERT_EQ(wrapper_->get_Name(&name), S_OK);
    ASSERT_NE(name.m_str, nullptr);
    EXPECT_EQ(name.Length(), 0u);
    EXPECT_EQ(wrapper_->get_Name(nullptr), E_POINTER);
    CComQIPtr<ISupportErrorInfo> support(wrapper_.p);
    ASSERT_TRUE(support);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_INUVObject), S_OK);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_INUVSimulation), S_OK);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_INUVSimulation2), S_FALSE);
}

TEST_F(SimulationTest, PushScopeWalksHierarchyBlocks) {
    struct Case {
        const char* path;  // null: a null BSTR
        HRESULT hr;
        const char* scope;  // the container solved afterwards
    };
    const Case cases[] = {
        {"", S_OK, "Plant"},
        {nullptr, S_OK, "Plant"},
        {"SECTION", S_OK, "SECTION"},
        {"SECTION.INNER", S_OK, "SECTION.INNER"},
        {"section.inner", S_OK, "SECTION.INNER"},
        {"SECTION.HTR", S_OK, "SECTION"},  // a plain block at the end: the container that holds it
        {"FEED", S_OK, "Plant"},
        {"SECTION.", S_OK, "SECTION"},
        {"FEED.X", E_FAIL, "Plant"},        // a plain block followed by more
        {"SECTION.HTR.Q", E_FAIL, "Plant"},
        {"NOPE", E_FAIL, "Plant"},
        {"SECTION.NOPE", E_FAIL, "Plant"},
        {"SECTION..INNER", E_FAIL, "Plant"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path ? c.path : "(null)");
        ASSERT_EQ(wrapper_->ResetScope(), S_OK);
        CallJournal journal(*sim_);
        CComBSTR path;
        if (c.path) path = Text(c.path);
        EXPECT_EQ(wrapper_->PushScope(path), c.hr);
        EXPECT_EQ(journal.Contains("PushScope"), c.hr == S_OK) << "the engine is asked only for a resolved scope";
        if (FAILED(c.hr)) {
            EXPECT_EQ(TakeError().source, "NUVSimulation");
        }
        wrapper_->Solve();  // a scope without equations fails to solve; which scope was tried is what counts
        model_test::ClearError();
        EXPECT_EQ(LastSolve(journal), c.scope);
    }
}

TEST_F(SimulationTest, EngineFailuresCarryTheEnginesMessage) {
    // A solve that succeeds prints lines first: a later failure must not show them.
    ASSERT_TRUE(SUCCEEDED(wrapper_->Solve()));
    struct Case {
        const char* what;
        int inject;  // 0: the call fails on its own
        std::function<HRESULT()> call;
        HRESULT hr;
        const char* description;  // its start
    };
    const Case cases[] = {
        {"missing model file", 0, [&] { return wrapper_->OpenSimulation(Text("/nonexistent/plant.model")); },
         static_cast<HRESULT>(0x80040620), "Cannot read /nonexistent/plant.model"},
        {"missing block file", 0, [&] { return wrapper_->LoadBlock(Text("/nonexistent/feed.model")); },
         static_cast<HRESULT>(0x80040620), "Cannot read /nonexistent/feed.model"},
        {"folder as model", 0, [&] { return wrapper_->OpenSimulation(Text("/tmp")); }, static_cast<HRESULT>(0x80040620),
         "Cannot read /tmp: is a directory"},
        {"folder added", 0, [&] { return wrapper_->AddSimulation(Text("/tmp")); }, static_cast<HRESULT>(0x80040620),
         "Cannot read /tmp: is a directory"},
        {"folder as block file", 0, [&] { return wrapper_->LoadBlock(Text("/tmp")); }, static_cast<HRESULT>(0x80040620),
         "Cannot read /tmp: is a directory"},
        {"saved to a folder", 0, [&] { return wrapper_->SaveSimulation(Text("/tmp")); }, static_cast<HRESULT>(0x80040620),
         "Cannot write /tmp"},
        {"block saved to a folder", 0, [&] { return wrapper_->SaveBlock(Text("/tmp"), Text("FEED")); },
         static_cast<HRESULT>(0x80040620), "Cannot write /tmp"},
        {"not converged", static_cast<int>(0x80040611), [&] { return wrapper_->Solve(); },
         static_cast<HRESULT>(0x80040611), "Solution failed to converge"},
        {"not found", static_cast<int>(0x80040622), [&] { return wrapper_->PushScope(Text("SECTION")); },
         static_cast<HRESULT>(0x80040622), "Named object does not exist"},
        {"refused", static_cast<int>(0x80040623), [&] { return wrapper_->SaveSimulation(Text("/tmp/x.model")); },
         static_cast<HRESULT>(0x80040623), "Value or change refused"},
        {"unknown objective", 0, [&] { return wrapper_->SolveWithObjective(Text("NO_SUCH")); },
         static_cast<HRESULT>(0x80040601), "Unable to find specified objective"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.inject) zeq::testing::FailNext(*sim_, c.inject);
        EXPECT_EQ(c.call(), c.hr);
        auto e = TakeError();
        EXPECT_EQ(e.source, "NUVSimulation");
        EXPECT_EQ(e.description.rfind(c.description, 0), 0u) << e.description;
    }
    EXPECT_EQ(sim_->Flowsheet()->GetBlockCount(), 3) << "a failed open leaves the plant alone";

    zeq::testing::FailNext(*sim_, S_FALSE);
    EXPECT_EQ(wrapper_->PushScope(Text("SECTION")), S_FALSE);
    EXPECT_EQ(TakeError().source, "") << "a non-negative engine result is not reported";
}

TEST_F(SimulationTest, SolvesWithAndWithoutAnObjective) {
    CallJournal journal(*sim_);
    EXPECT_TRUE(SUCCEEDED(wrapper_->Solve()));
    EXPECT_EQ(LastSolve(journal), "Plant");
    journal.Clear();
    EXPECT_TRUE(SUCCEEDED(wrapper_->SolveWithObjective(Text("product_flow"))));
    EXPECT_EQ(LastSolve(journal), "Plant");
    journal.Clear();
    EXPECT_TRUE(SUCCEEDED(wrapper_->SolveWithObjective(nullptr)));
    EXPECT_EQ(LastSolve(journal), "Plant");
}

TEST_F(SimulationTest, DefaultObjectiveRoundTripsWithNoneForNoObjective) {
    CComBSTR value;
    ASSERT_EQ(wrapper_->get_DefaultObjective(&value), S_OK);
    EXPECT_EQ(value.ToUtf8(), "NONE");

    ASSERT_EQ(wrapper_->put_DefaultObjective(Text("PRODUCT_FLOW")), S_OK);
    value.Empty();
    ASSERT_EQ(wrapper_->get_DefaultObjective(&value), S_OK);
    EXPECT_EQ(value.ToUtf8(), "PRODUCT_FLOW");

    CallJournal journal(*sim_);
    ASSERT_EQ(wrapper_->put_DefaultObjective(Text("NONE")), S_OK);
    EXPECT_TRUE(journal.Contains("SetDefaultObjective NONE")) << "NONE is passed on unchanged";
    value.Empty();
    ASSERT_EQ(wrapper_->get_DefaultObjective(&value), S_OK);
    EXPECT_EQ(value.ToUtf8(), "NONE");

    EXPECT_EQ(wrapper_->put_DefaultObjective(Text("BOGUS")), static_cast<HRESULT>(0x80040602));
    EXPECT_EQ(TakeError().description, "Unable to find specified objective");
}

TEST_F(SimulationTest, TriggerCancelSetsTheSignalUnlessTheLevelIsMinusOne) {
    rtosignal_clear_ctrlc();
    rtosignal_set_severity(0);
    EXPECT_EQ(wrapper_->TriggerCancel(-1), S_OK);
    EXPECT_EQ(rtosignal_inq_ctrlc(), 0);
    EXPECT_EQ(rtosignal_inq_severity(), 0);
    EXPECT_EQ(wrapper_->TriggerCancel(2), S_OK);
    EXPECT_NE(rtosignal_inq_ctrlc(), 0);
    EXPECT_EQ(rtosignal_inq_severity(), 2);
    EXPECT_EQ(wrapper_->Solve(), S_OK) << "a cancel requested while no solve runs has nothing to stop";
    rtosignal_set_severity(0);
    DetachEngine();
    EXPECT_EQ(wrapper_->TriggerCancel(-1), S_OK) << "no validity test";
}

TEST_F(SimulationTest, BuildVersionCarriesEveryEngineText) {
    CComBSTR version;
    ASSERT_EQ(wrapper_->get_BuildVersion(&version), S_OK);
    const std::string expected = std::string("NUV ") + rtoMajorVersion() + "p" + rtoMinorVersion() + " (build " +
                                 rtoBuildNum() + " - " + rtoBuildDate() + " by " + rtoBuildUserName() + ")";
    EXPECT_EQ(version.ToUtf8(), expected);
}

TEST_F(SimulationTest, SavesAndOpensSimulationFiles) {
    const nuv::test::TempDir dir("nuv_model");
    const std::string file = dir.File("saved.model");
    const std::string block = dir.File("feed.model");
    ASSERT_EQ(wrapper_->SaveSimulation(Text(file.c_str())), S_OK);
    ASSERT_EQ(wrapper_->SaveBlock(Text(block.c_str()), Text("FEED")), S_OK);
    ASSERT_EQ(wrapper_->OpenSimulation(Text(file.c_str())), S_OK);
    EXPECT_EQ(sim_->Flowsheet()->GetBlockCount(), 3);

    EXPECT_EQ(wrapper_->SaveSimulation(nullptr), E_INVALIDARG) << "a null path reaches the engine as null";
    EXPECT_EQ(TakeError().source, "NUVSimulation");
}

TEST_F(SimulationTest, SolverCollectionFindsByPositionAndName) {
    CComPtr<INUVSolverCollection> solvers;
    ASSERT_EQ(wrapper_->get_Solvers(&solvers), S_OK);
    LONG count = 0;
    ASSERT_EQ(solvers->get_Count(&count), S_OK);
    EXPECT_EQ(count, 2);

    for (LONG bad : {0L, 3L, -1L}) {
        CComPtr<INUVObject> none;
        EXPECT_EQ(solvers->get_Item(bad, &none), static_cast<HRESULT>(0x80040201)) << bad;
        EXPECT_EQ(none.p, nullptr);
        auto e = TakeError();
        EXPECT_EQ(e.source, "NUVSimulation");
        EXPECT_EQ(e.description, "Index is not in the range 1 to Count()");
    }
    CComPtr<INUVObject> first, byName;
    ASSERT_EQ(solvers->get_Item(1, &first), S_OK);
    CComBSTR name;
    first->get_Name(&name);
    EXPECT_EQ(name.ToUtf8(), "MAIN");
    ASSERT_EQ(solvers->Find(Text("main"), &byName), S_OK);
    EXPECT_EQ(first.p, byName.p) << "one engine solver, one wrapper";
}

TEST_F(SimulationTest, GetSolverConvertsItsIndexInACopy) {
    CComPtr<INUVSolverCollection> solvers;
    ASSERT_EQ(wrapper_->get_Solvers(&solvers), S_OK);
    struct Case {
        CComVariant item;
        HRESULT hr;
        const char* name;
    };
    CComVariant byRefTarget(OLESTR("SPARE"));
    VARIANT byRef;
    byRef.vt = VT_BSTR | VT_BYREF;
    byRef.pbstrVal = &byRefTarget.bstrVal;
    CComVariant unconvertible;
    unconvertible.vt = VT_DISPATCH;
    unconvertible.pdispVal = nullptr;
    Case cases[] = {
        {CComVariant(2.0), S_OK, "SPARE"},
        {CComVariant(static_cast<SHORT>(1)), S_OK, "MAIN"},
        {CComVariant(OLESTR("main")), S_OK, "MAIN"},
        {CComVariant(byRef), S_OK, "SPARE"},
        {CComVariant(OLESTR("2")), static_cast<HRESULT>(0x80040202), nullptr},  // text is always a name
        {I4(5), static_cast<HRESULT>(0x80040201), nullptr},
        {unconvertible, static_cast<HRESULT>(0x80040203), nullptr},
    };
    for (Case& c : cases) {
        const VARTYPE before = c.item.vt;
        CComPtr<INUVSolver> solver;
        EXPECT_EQ(solvers->get_Solver(c.item, &solver), c.hr);
        EXPECT_EQ(c.item.vt, before) << "the caller's VARIANT is untouched";
        if (c.name) {
            ASSERT_NE(solver.p, nullptr);
            CComBSTR name;
            solver->get_Name(&name);
            EXPECT_EQ(name.ToUtf8(), c.name);
        } else {
            EXPECT_EQ(solver.p, nullptr);
            EXPECT_EQ(TakeError().source, "NUVSimulation");
        }
    }
}

TEST_F(SimulationTest, SolverEnumerationAndUnsupportedMembers) {
    CComPtr<INUVSolverCollection> solvers;
    ASSERT_EQ(wrapper_->get_Solvers(&solvers), S_OK);
    CComPtr<IUnknown> unk;
    ASSERT_EQ(solvers->get__NewEnum(&unk), S_OK);
    CComQIPtr<IEnumVARIANT> e(unk.p);
    ASSERT_TRUE(e);
    VARIANT items[3];
    for (auto& v : items) VariantInit(&v);
    ULONG fetched = 0;
    EXPECT_EQ(e->Next(3, items, &fetched), S_FALSE);
    ASSERT_EQ(fetched, 2u);
    for (ULONG i = 0; i < fetched; ++i) {
        ASSERT_EQ(items[i].vt, VT_DISPATCH);
        CComQIPtr<INUVSolver> solver(items[i].pdispVal);
        ASSERT_TRUE(solver);
        CComBSTR name;
        solver->get_Name(&name);
        EXPECT_EQ(name.ToUtf8(), i == 0 ? "MAIN" : "SPARE");
    }
    for (auto& v : items) VariantClear(&v);

    CComVariant names, result;
    result.vt = VT_I4;
    EXPECT_EQ(solvers->GetAttributes(names, 1, 0, &result), E_NOTIMPL);
    EXPECT_EQ(result.vt, VT_EMPTY);
    EXPECT_EQ(TakeError().source, "NUVSimulation");
    EXPECT_EQ(solvers->SetAttributes(names, names, 1), E_NOTIMPL);
    EXPECT_EQ(TakeError().source, "") << "SetAttributes is not reported";
    CComPtr<IUnknown> service;
    EXPECT_EQ(solvers->GetService(Text("GridService"), &service), static_cast<HRESULT>(0x80040103));
    CComQIPtr<IServiceProvider> provider(solvers.p);
    ASSERT_TRUE(provider);
    EXPECT_EQ(provider->QueryService(IID_INUVGridService, IID_IUnknown, reinterpret_cast<void**>(&service)),
              static_cast<HRESULT>(0x80040103));
}

}  // namespace
