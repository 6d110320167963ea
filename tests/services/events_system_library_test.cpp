// The event manager as a host reaches it: the system library loaded as a host loads it, the simulation
// wrapper from the exported factory twin, the manager through GetService.

#include <string>

#include "events_support.h"
#include "system_library.h"

namespace {

using namespace events_test;

TEST(EventsSystemLibrary, AHostSubscribesThroughTheLoadedLibraryAndHearsASolve) {
    // Unloaded at the end like any plug-in: what the library keeps for itself is gone by then, and
    // nothing of it runs after the unload.
    void* library = nuv::test::OpenLibrary(NUVCLASS_PATH);
    ASSERT_NE(library, nullptr) << nuv::test::LibraryError();
    using Create = HRESULT (*)(ZEQEOSimulation*, REFIID, void**);
    using Register = void (*)(ZEQEOSimulation*);
    auto create = reinterpret_cast<Create>(nuv::test::FindSymbol(library, "NUVClassFactory_QueryCreateWrapper"));
    auto reg = reinterpret_cast<Register>(nuv::test::FindSymbol(library, "NUVClassFactory_RegisterSimulationServices"));
    ASSERT_NE(create, nullptr);
    ASSERT_NE(reg, nullptr);
    // The helper's members under their mangled names: functions take no arguments, flags are data.
    auto mangled = [](const std::string& member, const char* suffix) {
        return "_ZN18NUVCallbacksHelper" + std::to_string(member.size()) + member + suffix;
    };
    for (const char* function : {"InitializeCallbacks", "SetServerCallbacks", "SetRequestCallbacks", "SetVariableCallbacks",
                                 "SetFlowsheetCallbacks", "SetBlockCallbacks", "ReSetAllCallbackBooleans"})
        EXPECT_NE(nuv::test::FindSymbol(library, mangled(function, "Ev").c_str()), nullptr) << function;
    for (const char* flag : {"m_bCallbacksInitialized", "m_bServerCallbacksSet", "m_bRequestCallbacksSet",
                             "m_bVariableCallbacksSet", "m_bFlowhseetCallbacksSet", "m_bBlockCallbacksSet"})
        EXPECT_NE(nuv::test::FindSymbol(library, mangled(flag, "E").c_str()), nullptr) << flag;
    for (const char* assignment : {"_ZN18NUVCallbacksHelperaSERKS_", "_ZN18NUVCallbacksHelperaSEOS_"})
        EXPECT_NE(nuv::test::FindSymbol(library, assignment), nullptr) << assignment;
    auto* blockFlag = static_cast<bool*>(nuv::test::FindSymbol(library, mangled("m_bBlockCallbacksSet", "E").c_str()));
    ASSERT_NE(blockFlag, nullptr);
    auto sink = RecordingSink::Make();
    {
        zeq::testing::ModelBuilder m;
        m.Block("FEED").Var("F", 10, 1);
        m.Block("PROD").Var("F", 0).Eqn("OUT", "F = FEED.F");
        auto sim = m.Create();
        reg(sim.get());
        CComPtr<INUVSimulation2> wrapper;
        ASSERT_EQ(create(sim.get(), IID_INUVSimulation2, reinterpret_cast<void**>(&wrapper)), S_OK);
        CComPtr<IUnknown> service;
        ASSERT_EQ(wrapper->GetService(CComBSTR("NUVSimEventMgr"), &service), S_OK);
        CComPtr<INUVSimEventMgr> manager;
        ASSERT_EQ(service.QueryInterface(&manager), S_OK);
        LONG id = 0;
        ASSERT_EQ(manager->Advise(4 | 8 | 16, sink, &id), S_OK);
        EXPECT_EQ(id, 1);
        EXPECT_TRUE(*blockFlag) << "the library's own flag";
        ASSERT_EQ(wrapper->Solve(), S_OK);
        // The run's block category closes before its variable notices come out; the run's end is last.
        const std::vector<Received> got = sink->Events();
        ASSERT_GE(got.size(), 3u);
        EXPECT_EQ(got[0].id, 12);
        EXPECT_EQ(got[1].id, 1);
        EXPECT_EQ(got.back().id, 7);
        EXPECT_EQ(got.back().hint2, "I4:0") << "converged";
        EXPECT_EQ(manager->UnAdvise(id), S_OK);
        service.Release();
        manager.Release();
        sim.reset();
    }
    EXPECT_FALSE(*blockFlag) << "the last manager took the table and the flags with it";
    EXPECT_EQ(sink->Refs(), 1u);
    nuv::test::CloseLibrary(library);
}

}  // namespace
