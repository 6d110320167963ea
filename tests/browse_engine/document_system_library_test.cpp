// The engine document as a host reaches it: the system library loaded as a host loads it, the simulation
// wrapper from the exported factory, the document's COM face from the wrapper's QueryService, and batch
// reads and writes, monikers and actions through that face.

#include "document_support.h"
#include "system_library.h"

namespace bdoc_test {
namespace {

TEST(DocumentSystemLibrary, AHostBrowsesWritesRunsAndScriptsThroughTheLoadedLibrary) {
    // Kept mapped after closing: the library's process-wide objects live until the process ends.
    void* library = nuv::test::OpenLibraryKeptMapped(NUVCLASS_PATH);
    ASSERT_NE(library, nullptr) << nuv::test::LibraryError();
    using Create = HRESULT (*)(ZEQEOSimulation*, REFIID, void**);
    using Register = void (*)(ZEQEOSimulation*);
    auto create = reinterpret_cast<Create>(nuv::test::FindSymbol(library, "NUVClassFactory_QueryCreateWrapper"));
    auto reg = reinterpret_cast<Register>(nuv::test::FindSymbol(library, "NUVClassFactory_RegisterSimulationServices"));
    ASSERT_TRUE(create && reg);
    {
        zeq::ModelDef def;
        std::string error;
        ASSERT_TRUE(zeq::ParseModel(PlantText(), def, error)) << error;
        auto sim = std::make_unique<zeq::Simulation>();
        sim->Build(def);
        reg(sim.get());
        CComPtr<IServiceProvider> provider;
        ASSERT_EQ(create(sim.get(), IID_IServiceProvider, reinterpret_cast<void**>(&provider)), S_OK);
        CComPtr<IPDXDocumentV22> face;
        ASSERT_EQ(provider->QueryService(IID_IPDXDocumentV22, IID_IPDXDocumentV22, reinterpret_cast<void**>(&face)),
                  S_OK);
        CComBSTR name;
        ASSERT_EQ(face->GetAppName(&name), S_OK);
        EXPECT_EQ(nuv::bstr_to_utf8(name), "VORN");

        // Reads of every node kind, a temperature in F and in its own unit.
        CComBSTR base(OLESTR("Top.appModel"));
        ScopedArray paths(Texts({"Blocks.FEED.Variables.T", "Blocks.FEED.Parameters.COMPONENT", "Blocks.FEED.Ports.OUT",
                                 "Parameters.MAXTEMP", "Blocks.SECTION.Blocks.\"SECTION.HTR\".Parameters.PDROP",
                                 "Blocks.MIX.Equations.MASS"}));
        ScopedArray attributes(Texts({"value", "uom", "stream", "type"}));
        ScopedArray reads(Tuples(3, {{0, 0, CComVariant("F")}, {0, 1, CComVariant()}, {0, 0, CComVariant()},
                                     {1, 0, CComVariant()}, {2, 2, CComVariant()}, {3, 0, CComVariant()},
                                     {4, 3, CComVariant()}, {5, 3, CComVariant()}}));
        ScopedArray values;
        ASSERT_EQ(face->GetAttributes(base, paths.get(), attributes.get(), reads.get(), values.Receive()), S_OK);
        EXPECT_NEAR(AsReal(values.At(0)), 77.0, 1e-9);
        EXPECT_EQ(AsText(values.At(1)), "C");
        EXPECT_NEAR(AsReal(values.At(2)), 25.0, 1e-9);
        EXPECT_EQ(AsText(values.At(3)), "water");
        EXPECT_EQ(AsText(values.At(4)), "S1");
        EXPECT_NEAR(AsReal(values.At(5)), 500.0, 1e-9);
        EXPECT_EQ(AsText(values.At(6)), "Real");
        EXPECT_EQ(AsText(values.At(7)), "Real");

        // A temperature written in F lands in the engine in the variable's own unit; a refused write fails
        // with the node's text and leaves the earlier writes of the request in place.
        ScopedArray writes(Tuples(4, {{0, 0, CComVariant("F"), 212.0}, {1, 0, CComVariant(), CComVariant("steam")}}));
        ASSERT_EQ(face->SetAttributes(base, paths.get(), attributes.get(), writes.get()), S_OK);
        EXPECT_EQ(EngineVariable(*sim, "FEED.T"), std::make_pair(100.0, std::string("C")));
        ScopedArray refused(Tuples(4, {{2, 2, CComVariant(), CComVariant("S9")}}));
        EXPECT_EQ(face->SetAttributes(base, paths.get(), attributes.get(), refused.get()), FIError::kFailureCode);
        EXPECT_EQ(fitest::TakeErrorDescription().value_or(""), "Cannot modify attribute stream");
        ScopedArray again;
        ASSERT_EQ(face->GetAttributes(base, paths.get(), attributes.get(), reads.get(), again.Receive()), S_OK);
        EXPECT_EQ(AsText(again.At(3)), "steam");
        EXPECT_EQ(AsText(again.At(4)), "S1");

        // Monikers: one that does not resolve leaves only its own element empty.
        ScopedArray monikers(Texts({"FEED.F", "NOPE", "SECTION"}));
        ScopedArray resolved;
        ASSERT_EQ(face->GetMonikers(monikers.get(), resolved.Receive()), S_OK);
        EXPECT_EQ(AsText(resolved.At(0)), "Top.appModel.Blocks.FEED.Variables.F");
        EXPECT_EQ(resolved.At(1).vt, VT_EMPTY);
        EXPECT_EQ(AsText(resolved.At(2)), "Top.appModel.Blocks.SECTION");

        short status = 0;
        EXPECT_EQ(face->ExecuteAction(CComBSTR("Top.Solver"), CComBSTR("Run"), nullptr, &status), S_OK);
        InputArray script({CComVariant("set FEED.F 1717")});
        EXPECT_EQ(face->ExecuteAction(CComBSTR("Top.appModel"), CComBSTR("RunScript"), script.get(), &status), S_OK);
        EXPECT_DOUBLE_EQ(EngineVariable(*sim, "FEED.F").first, 1717);
        EXPECT_TRUE(FAILED(face->ExecuteAction(CComBSTR("Top.Solver"), CComBSTR("Stop"), nullptr, &status)));

        face.Release();
        provider.Release();
        sim.reset();
    }
    nuv::test::CloseLibrary(library);
}

}  // namespace
}  // namespace bdoc_test
