// The engine document as a host reaches it: the system library loaded with dlopen, the simulation
// wrapper from the exported factory, the document's COM face from the wrapper's QueryService.
#include <dlfcn.h>

#include "document_support.h"

namespace bdoc_test {
namespace {

double FeedFlow(zeq::Simulation& sim) {
    ZEQEOCntr* flowsheet = sim.GetFlowsheet();
    const int index = flowsheet->FindIndex("FEED.F");
    ZEQVariableData record;
    record.mask.Set(VA_VALUE);
    double value = -1;
    if (index > 0 && record.Load(flowsheet, nullptr, index, false)) record.GetValue(VA_VALUE, value);
    return value;
}

TEST(DocumentSystemLibrary, AHostBrowsesRunsAndScriptsThroughTheLoadedLibrary) {
    // Kept mapped after dlclose: the library's thread-local state is torn down only at process exit.
    void* library = dlopen(NUVCLASS_PATH, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    ASSERT_NE(library, nullptr) << dlerror();
    using Create = HRESULT (*)(ZEQEOSimulation*, REFIID, void**);
    using Register = void (*)(ZEQEOSimulation*);
    auto create = reinterpret_cast<Create>(dlsym(library, "NUVClassFactory_QueryCreateWrapper"));
    auto reg = reinterpret_cast<Register>(dlsym(library, "NUVClassFactory_RegisterSimulationServices"));
    ASSERT_NE(create, nullptr);
    ASSERT_NE(reg, nullptr);
    {
        zeq::ModelDef def;
        std::string error;
        ASSERT_TRUE(zeq::ParseModel(PlantText(), def, error)) << error;
        auto sim = std::make_unique<zeq::Simulation>();
        sim->Build(def);
        reg(sim.get());
        CComPtr<IServiceProvider> provider;
        ASSERT_EQ(create(sim.get(), IID_IServiceProvider, reinterpret_cast<void**>(&provider)), S_OK);
        CComPtr<IPDXDocumentV22> document;
        ASSERT_EQ(provider->QueryService(IID_IPDXDocumentV22, IID_IPDXDocumentV22,
                                         reinterpret_cast<void**>(&document)),
                  S_OK);

        BSTR name = nullptr;
        ASSERT_EQ(document->GetAppName(&name), S_OK);
        EXPECT_EQ(nuv::bstr_to_utf8(name), "VORN");
        SysFreeString(name);

        InputArray monikers({CComVariant("FEED.F"), CComVariant("SECTION")});
        SAFEARRAY* paths = nullptr;
        ASSERT_EQ(document->GetMonikers(monikers.get(), &paths), S_OK);
        ASSERT_NE(paths, nullptr);
        for (LONG i = 0; i < 2; ++i) {
            CComVariant path;
            ASSERT_EQ(SafeArrayGetElement(paths, &i, &path), S_OK);
            ASSERT_EQ(path.vt, VT_BSTR);
            EXPECT_EQ(nuv::bstr_to_utf8(path.bstrVal),
                      i == 0 ? "Top.appModel.Blocks.FEED.Variables.F" : "Top.appModel.Blocks.SECTION");
        }
        SafeArrayDestroy(paths);

        short status = 0;
        EXPECT_EQ(document->ExecuteAction(CComBSTR("Top.Solver"), CComBSTR("Run"), nullptr, &status), S_OK);
        InputArray script({CComVariant("set FEED.F 1717")});
        EXPECT_EQ(document->ExecuteAction(CComBSTR("Top.appModel"), CComBSTR("RunScript"), script.get(), &status),
                  S_OK);
        EXPECT_DOUBLE_EQ(FeedFlow(*sim), 1717);
        EXPECT_TRUE(FAILED(document->ExecuteAction(CComBSTR("Top.Solver"), CComBSTR("Stop"), nullptr, &status)));

        document.Release();
        provider.Release();
        sim.reset();
    }
    dlclose(library);
}

}  // namespace
}  // namespace bdoc_test
