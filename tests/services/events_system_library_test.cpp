// The services as a host reaches them: the system library loaded as a host loads it, the simulation wrapper from
// the exported factory twin, every service by name through GetService. Unloaded at the end like any
// plug-in: what the library keeps for itself is gone by then, and nothing of it runs after the unload.
#include <string>

#include "channels_support.h"
#include "events_support.h"
#include "system_library.h"

namespace {

using namespace events_test;
using channels_test::Advised;
using channels_test::Counted;

TEST(SystemLibrary, AHostReachesEveryServiceThroughTheLoadedLibrary) {
    void* library = nuv::test::OpenLibrary(NUVCLASS_PATH);
    ASSERT_NE(library, nullptr) << nuv::test::LibraryError();
    auto create = reinterpret_cast<HRESULT (*)(ZEQEOSimulation*, REFIID, void**)>(
        nuv::test::FindSymbol(library, "NUVClassFactory_QueryCreateWrapper"));
    auto reg = reinterpret_cast<void (*)(ZEQEOSimulation*)>(nuv::test::FindSymbol(library, "NUVClassFactory_RegisterSimulationServices"));
    auto regGlobal = reinterpret_cast<int (*)(IUnknown*, IUnknown*, const char*)>(nuv::test::FindSymbol(library, "RegisterSimWithGlobal"));
    auto unregGlobal = reinterpret_cast<int (*)(IUnknown*, const char*)>(nuv::test::FindSymbol(library, "UnregisterSimWithGlobal"));
    ASSERT_TRUE(create && reg && regGlobal && unregGlobal);
    // The callback helper's members under their mangled names (functions take no arguments, flags are
    // data), and the profile class's members, come from the system library.
    auto mangled = [](const std::string& member, const char* suffix) {
        return "_ZN18NUVCallbacksHelper" + std::to_string(member.size()) + member + suffix;
    };
    for (const char* function : {"InitializeCallbacks", "SetServerCallbacks", "SetRequestCallbacks", "SetVariableCallbacks",
                                 "SetFlowsheetCallbacks", "SetBlockCallbacks", "ReSetAllCallbackBooleans"})
        EXPECT_NE(nuv::test::FindSymbol(library, mangled(function, "Ev").c_str()), nullptr) << function;
    for (const char* flag : {"m_bCallbacksInitialized", "m_bServerCallbacksSet", "m_bRequestCallbacksSet",
                             "m_bVariableCallbacksSet", "m_bFlowhseetCallbacksSet", "m_bBlockCallbacksSet"})
        EXPECT_NE(nuv::test::FindSymbol(library, mangled(flag, "E").c_str()), nullptr) << flag;
    for (const char* name : {"_ZN18NUVCallbacksHelperaSERKS_", "_ZN18NUVCallbacksHelperaSEOS_", "_ZN10VarProfileC1Ev",
                             "_ZN10VarProfileC1ERKS_", "_ZN10VarProfileaSERKS_", "_ZNK10VarProfile6ActiveEv",
                             "_ZN10VarProfile9SetActiveEb", "_ZN11ProfileItemaSERKS_", "_ZN11ProfileItemaSEOS_"}) {
        void* symbol = nuv::test::FindSymbol(library, name);
        ASSERT_NE(symbol, nullptr) << name;
        EXPECT_NE(nuv::test::ModulePathOf(symbol).find("nuvclass"), std::string::npos) << name << " comes from the system";
    }
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
        const struct {
            const char* name;
            IID iid;
        } perRequest[] = {{"NUVEditLibraries", IID_INUVEditLibraries},
                          {"NUVSensitivity", IID_INUVSensitivity},
                          {"NUVExternalFileService", IID_INUVExternalFileService},
                          {"NUVDynamicsService", IID_INUVDynamicsService2},
                          {"NUVVariableProfile", IID_INUVVariableProfile}};
        for (const auto& s : perRequest) {
            CComPtr<IUnknown> unknown, again, typed;
            ASSERT_EQ(wrapper->GetService(CComBSTR(s.name), &unknown), S_OK) << s.name;
            EXPECT_EQ(unknown->QueryInterface(s.iid, reinterpret_cast<void**>(&typed)), S_OK) << s.name;
            ASSERT_EQ(wrapper->GetService(CComBSTR(s.name), &again), S_OK);
            EXPECT_NE(unknown.p, again.p) << s.name << " is made anew for every request";
            CComQIPtr<IProvideClassInfo2> info(unknown);
            ASSERT_TRUE(info) << s.name;
            CComPtr<ITypeInfo> coclass;
            EXPECT_EQ(info->GetClassInfo(&coclass), S_OK) << s.name;
        }

        // Events: the run's block category closes before its variable notices come out; the run's end is last.
        CComPtr<IUnknown> service;
        ASSERT_EQ(wrapper->GetService(CComBSTR("NUVSimEventMgr"), &service), S_OK);
        CComPtr<INUVSimEventMgr> manager;
        ASSERT_EQ(service.QueryInterface(&manager), S_OK);
        LONG id = 0;
        ASSERT_EQ(manager->Advise(4 | 8 | 16, sink, &id), S_OK);
        EXPECT_EQ(id, 1);
        EXPECT_TRUE(*blockFlag) << "the library's own flag";
        ASSERT_EQ(wrapper->Solve(), S_OK);
        const std::vector<Received> got = sink->Events();
        ASSERT_GE(got.size(), 3u);
        EXPECT_EQ(got[0].id, 12);
        EXPECT_EQ(got[1].id, 1);
        EXPECT_EQ(got.back().id, 7);
        EXPECT_EQ(got.back().hint2, "I4:0") << "converged";
        EXPECT_EQ(manager->UnAdvise(id), S_OK);
        service.Release();
        manager.Release();

        // Output lines of a script command, and the global registration.
        CComPtr<IUnknown> unk;
        ASSERT_EQ(wrapper->GetService(CComBSTR("NUVSimulationMsgs"), &unk), S_OK);
        Advised output(unk, DIID_DNUVSimulationMsgsEvents);
        unk.Release();
        ASSERT_EQ(wrapper->GetService(CComBSTR("EBScriptService"), &unk), S_OK);
        CComQIPtr<IEBScriptService> script(unk);
        ASSERT_TRUE(script);
        EXPECT_EQ(script->Execute(CComBSTR("print FEED.F")), S_OK);
        const std::vector<std::string> lines = output.sink->Lines();
        ASSERT_EQ(lines.size(), 4u);
        EXPECT_EQ(lines[1], "<print FEED.F>");
        EXPECT_NE(lines[2].find("F = 10"), std::string::npos) << lines[2];
        Counted object;
        EXPECT_EQ(regGlobal(wrapper, &object, "host.object"), 1);
        EXPECT_EQ(object.refs, 1u);
        EXPECT_EQ(unregGlobal(wrapper, "host.object"), 1);
        EXPECT_EQ(object.refs, 0u);

        // A block's edit service.
        CComPtr<INUVBlock> flowsheet;
        ASSERT_EQ(wrapper->get_Flowsheet(&flowsheet), S_OK);
        CComPtr<IUnknown> edit;
        ASSERT_EQ(flowsheet->GetService(CComBSTR("NUVEditBlock"), &edit), S_OK);
        CComQIPtr<INUVEditBlock> blocks(edit);
        ASSERT_TRUE(blocks);
        EXPECT_EQ(blocks->AddBlock(CComBSTR("F2"), CComBSTR("FEED"), CComVariant()), S_OK);
        EXPECT_GE(sim->FindVar("F2.F"), 0);
        sim.reset();
    }
    EXPECT_FALSE(*blockFlag) << "the last manager took the table and the flags with it";
    EXPECT_EQ(sink->Refs(), 1u);
    nuv::test::CloseLibrary(library);
    // The runtime may keep the library loaded (then its objects go at exit); when it did unload it, the
    // engine writes no longer into it.
    if (void* still = nuv::test::OpenLibraryIfLoaded(NUVCLASS_PATH))
        nuv::test::CloseLibrary(still);
    else
        EXPECT_STRNE(rtodesc(stdoutPipe), "NUVSimulationMsgs");
}

}  // namespace
