// The task services as a host reaches them: the system library loaded as a host loads it, the services
// registered through the exported twin, each one found by name through the simulation wrapper.

#include <atomic>
#include <thread>

#include "tasks_support.h"
#include "system_library.h"

namespace {

using tasks_test::Names;
using tasks_test::Text;

TEST(TaskServicesThroughTheSystemLibrary, EveryServiceIsFoundByNameAndWorks) {
    // Unloaded at the end: the library leaves nothing allocated and nothing to run after it is gone.
    void* library = nuv::test::OpenLibrary(NUVCLASS_PATH);
    ASSERT_NE(library, nullptr) << nuv::test::LibraryError();
    using Create = HRESULT (*)(ZEQEOSimulation*, REFIID, void**);
    using Register = void (*)(ZEQEOSimulation*);
    auto create = reinterpret_cast<Create>(nuv::test::FindSymbol(library, "NUVClassFactory_QueryCreateWrapper"));
    auto reg = reinterpret_cast<Register>(nuv::test::FindSymbol(library, "NUVClassFactory_RegisterSimulationServices"));
    ASSERT_TRUE(create && reg);
    {
        auto sim = tasks_test::BuildModel();
        reg(sim.get());
        CComPtr<INUVSimulation2> wrapper;
        ASSERT_EQ(create(sim.get(), IID_INUVSimulation2, reinterpret_cast<void**>(&wrapper)), S_OK);
        const struct {
            const char* name;
            IID iid;
        } services[] = {{"NUVEditLibraries", IID_INUVEditLibraries},
                        {"NUVSensitivity", IID_INUVSensitivity},
                        {"NUVExternalFileService", IID_INUVExternalFileService},
                        {"NUVDynamicsService", IID_INUVDynamicsService2},
                        {"NUVVariableProfile", IID_INUVVariableProfile}};
        for (const auto& s : services) {
            CComPtr<IUnknown> unknown, again, typed;
            ASSERT_EQ(wrapper->GetService(Text(s.name), &unknown), S_OK) << s.name;
            EXPECT_EQ(unknown->QueryInterface(s.iid, reinterpret_cast<void**>(&typed)), S_OK) << s.name;
            ASSERT_EQ(wrapper->GetService(Text(s.name), &again), S_OK);
            EXPECT_NE(unknown.p, again.p) << s.name << " is made anew for every request";
            CComQIPtr<IProvideClassInfo2> info(unknown);
            ASSERT_TRUE(info) << s.name;
            CComPtr<ITypeInfo> coclass;
            EXPECT_EQ(info->GetClassInfo(&coclass), S_OK) << s.name;
        }

        CComPtr<INUVBlock> flowsheet;
        ASSERT_EQ(wrapper->get_Flowsheet(&flowsheet), S_OK);
        CComPtr<IUnknown> edit;
        ASSERT_EQ(flowsheet->GetService(Text("NUVEditBlock"), &edit), S_OK);
        CComQIPtr<INUVEditBlock> blocks(edit);
        ASSERT_TRUE(blocks);
        EXPECT_EQ(blocks->AddBlock(Text("F2"), Text("FEED"), CComVariant()), S_OK);
        EXPECT_GE(sim->FindVar("F2.F"), 0);
    }
    nuv::test::CloseLibrary(library);
}

// One service object used from several threads at once: its lists are read and replaced under a lock.
using SharedServiceTest = tasks_test::ServiceTest;
TEST_F(SharedServiceTest, OneSensitivityServiceSharedBetweenThreads) {
    CComPtr<INUVSensitivity> shared = Service<INUVSensitivity>("NUVSensitivity");
    ASSERT_TRUE(shared);
    ASSERT_EQ(shared->put_IndependentVariables(Names({"A.K"})), S_OK);
    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 25; ++i) {
                if (FAILED(shared->put_DependentVariables(Names({t % 2 ? "A.Y" : "A.Z"})))) ++failures;
                CComVariant names, results;
                if (FAILED(shared->get_DependentVariables(&names))) ++failures;
                const HRESULT hr = shared->Calculate(nullptr, &results);
                if (FAILED(hr) || results.vt != (VT_ARRAY | VT_R8)) ++failures;
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(failures.load(), 0);
}

}  // namespace
