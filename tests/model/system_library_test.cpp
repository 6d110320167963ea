// The system library as a host loads it: loaded as a host loads it, reaching the factory by its exported twin.

#include "model_support.h"
#include "system_library.h"

namespace {

TEST(SystemLibrary, HostGetsOneSimulationWrapperThroughTheExportedTwin) {
    void* library = nuv::test::OpenLibrary(NUVCLASS_PATH);
    ASSERT_NE(library, nullptr) << nuv::test::LibraryError();
    using Create = HRESULT (*)(ZEQEOSimulation*, REFIID, void**);
    using Register = void (*)(ZEQEOSimulation*);
    auto create = reinterpret_cast<Create>(nuv::test::FindSymbol(library, "NUVClassFactory_QueryCreateWrapper"));
    auto reg = reinterpret_cast<Register>(nuv::test::FindSymbol(library, "NUVClassFactory_RegisterSimulationServices"));
    ASSERT_NE(create, nullptr);
    ASSERT_NE(reg, nullptr);
    for (const char* name : {"NUVClassFactory_QueryCreateVarWrapper", "NUVClassFactory_QueryCreateEqnWrapper",
                             "_ZN15NUVClassFactory18QueryCreateWrapperEP15ZEQEOSimulationP10ZEQEOBlockRK5_GUIDPPv",
                             "_ZN15NUVClassFactory18QueryCreateWrapperEP15ZEQEOSimulationP9ZEQEOCntrRK5_GUIDPPv"})
        EXPECT_NE(nuv::test::FindSymbol(library, name), nullptr) << name;
    {
        auto sim = model_test::BuildModel();
        {
            zeq::testing::CallJournal journal(*sim);
            reg(sim.get());
            EXPECT_EQ(journal.Entries().size(), 10u);
        }
        CComPtr<INUVSimulation2> wrapper, again;
        ASSERT_EQ(create(sim.get(), IID_INUVSimulation2, reinterpret_cast<void**>(&wrapper)), S_OK);
        ASSERT_EQ(create(sim.get(), IID_INUVSimulation2, reinterpret_cast<void**>(&again)), S_OK);
        EXPECT_EQ(wrapper.p, again.p);
        CComPtr<INUVSolverCollection> solvers;
        ASSERT_EQ(wrapper->get_Solvers(&solvers), S_OK);
        LONG count = 0;
        ASSERT_EQ(solvers->get_Count(&count), S_OK);
        EXPECT_EQ(count, 2);
        // Late-bound, as a script would: the library's own type information answers.
        DISPID id = 0;
        LPOLESTR name = const_cast<LPOLESTR>(OLESTR("BuildVersion"));
        ASSERT_EQ(wrapper->GetIDsOfNames(IID_NULL, &name, 1, 0, &id), S_OK);
        DISPPARAMS none{};
        CComVariant version;
        ASSERT_EQ(wrapper->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &version, nullptr, nullptr), S_OK);
        EXPECT_EQ(version.vt, VT_BSTR);
        CComPtr<IUnknown> messages;
        EXPECT_EQ(wrapper->GetService(CComBSTR("NUVSimulationMsgs"), &messages), S_OK)
            << "the module started the message object at load";
        messages.Release();
        sim.reset();  // the engine lets go first, as a host closing a simulation does
        VARIANT_BOOL valid = VARIANT_TRUE;
        wrapper->get_IsValid(&valid);
        EXPECT_EQ(valid, VARIANT_FALSE);
    }
    nuv::test::CloseLibrary(library);
}

}  // namespace
