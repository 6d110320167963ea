// Several clients on one simulation at once, as an application with worker threads uses it: values,
// attribute matrices, grid sorts, browsing reads, subscriptions coming and going and a block added and
// removed, while another thread solves. Bounded in work, not in time; it must end (a hang guard stops
// it otherwise), every call must answer soundly, and the sanitizer runs must stay silent.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "atl/nuvatlbase.h"
#include "browse/document.h"
#include "channels/script_service.h"
#include "class_factory.h"
#include "equation.h"
#include "example_files.h"
#include "document/vorn_document.h"
#include "hang_guard.h"
#include "modelfile.h"
#include "nuvclasslib.h"
#include "process_objects.h"
#include "process_singletons.h"
#include "safe_arrays.h"
#include "service_providers.h"
#include "simulation.h"
#include "variable.h"
#include "wrapper_base.h"
#include "zeq_testing.h"

namespace {

constexpr HRESULT kInvalidObject = static_cast<HRESULT>(0x80040101);
constexpr HRESULT kIndexOutOfRange = static_cast<HRESULT>(0x80040201);
constexpr HRESULT kNotFound = static_cast<HRESULT>(0x80040202);
constexpr HRESULT kGridOfChangedFlowsheet = static_cast<HRESULT>(0x80040506);

// Counts the events it hears; any thread may call it.
class CountingSink final : public INUVSimEventSink {
public:
    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (riid != IID_IUnknown && riid != IID_INUVSimEventSink) return E_NOINTERFACE;
        *ppv = static_cast<INUVSimEventSink*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHOD_(ULONG, AddRef)() override { return ++refs_; }
    STDMETHOD_(ULONG, Release)() override { return --refs_; }  // lives on the test's stack
    STDMETHOD(OnNewEvent)(LONG, VARIANT, VARIANT) override {
        ++events;
        return S_OK;
    }
    std::atomic<int> events{0};

private:
    std::atomic<ULONG> refs_{1};
};

void CountNotice(FI::FIDocument*, void* context, FIDocumentNotifyList* records) {
    *static_cast<std::atomic<int>*>(context) += static_cast<int>(records->size());
}

// The example plant with its services, wrapper, engine document and the objects the clients use. Locals
// go in reverse order: the engine simulation before its wrapper, as a host closing a simulation does.
TEST(Stress, ClientThreadsShareOneSimulationWhileAnotherSolves) {
    std::string text, error;
    ASSERT_TRUE(zeq::ReadFile(ExampleModelPath("plant.model"), text));
    zeq::ModelDef def;
    ASSERT_TRUE(zeq::ParseModel(text, def, error)) << error;
    CComPtr<INUVSimulation2> sim;
    auto engine = std::make_unique<zeq::Simulation>();
    engine->Build(def);
    NUVClassFactory::RegisterSimulationServices(engine.get());
    ASSERT_EQ(NUVClassFactory::QueryCreateWrapper(engine.get(), IID_INUVSimulation2, reinterpret_cast<void**>(&sim)), S_OK);
    CComPtr<INUVBlock> flowsheet;
    ASSERT_EQ(sim->get_Flowsheet(&flowsheet), S_OK);
    CComPtr<IServiceProvider> provider;
    CComPtr<IPDXDocumentV22> face;
    ASSERT_EQ(sim.QueryInterface(&provider), S_OK);
    ASSERT_EQ(provider->QueryService(IID_IPDXDocumentV22, IID_IPDXDocumentV22, reinterpret_cast<void**>(&face)), S_OK);
    FI::FIDocument* document = nuv::ImplementationOf<CoNUVSimulation>(sim)->GetDocument();
    ASSERT_NE(document, nullptr);
    // The message object is handed out before the threads start: it installs itself as the engine's output,
    // which a host does once.
    CComPtr<IUnknown> unknown;
    ASSERT_EQ(sim->GetService(CComBSTR("NUVSimulationMsgs"), &unknown), S_OK);
    unknown.Release();
    CComPtr<INUVSimEventMgr> events;
    ASSERT_EQ(sim->GetService(CComBSTR("NUVSimEventMgr"), &unknown), S_OK);
    ASSERT_EQ(unknown.QueryInterface(&events), S_OK);
    unknown.Release();
    CComPtr<INUVEditBlock> editor;
    ASSERT_EQ(flowsheet->GetService(CComBSTR("NUVEditBlock"), &unknown), S_OK);
    ASSERT_EQ(unknown.QueryInterface(&editor), S_OK);
    CComPtr<INUVBlockCollection> blocks;
    LONG blockCount = 0;
    ASSERT_EQ(flowsheet->get_Blocks(&blocks), S_OK);
    ASSERT_EQ(blocks->get_Count(&blockCount), S_OK);

    nuvtest::HangGuard guard("stress on one simulation");
    std::atomic<bool> stop{false};
    std::mutex failures_lock;
    std::vector<std::string> failures;
    auto fail = [&](const std::string& what) {
        std::lock_guard lock(failures_lock);
        if (failures.size() < 20) failures.push_back(what);
    };
    // A call may fail only as the objects it reaches allow: a member of the block that just went is gone
    // (the engine answers E_INVALIDARG for a position that went between the count and the item), and a
    // grid prepared before the flowsheet changed refuses its rows until it is prepared again.
    auto sound = [&](const char* what, HRESULT hr) {
        if (hr != S_OK && hr != kInvalidObject && hr != kIndexOutOfRange && hr != kNotFound && hr != E_INVALIDARG &&
            hr != kGridOfChangedFlowsheet)
            fail(std::string(what) + " failed with " + std::to_string(hr));
        return hr == S_OK;
    };
    constexpr int kRounds = 60;
    constexpr int kRoles = 6;  // besides the solving thread
    std::atomic<int> solves{0};
    // Passes made by each client role: the solves go on until every role has made a few, however the
    // threads are scheduled.
    std::vector<std::atomic<int>> passes(kRoles);
    auto all_passed = [&] {
        for (const auto& p : passes)
            if (p.load() < 3) return false;
        return true;
    };
    std::vector<std::function<void()>> roles = {
        [&] {  // the solving thread
            for (int i = 0; i < kRounds || !all_passed(); ++i) {
                if (FAILED(sim->Solve())) fail("Solve");
                ++solves;
            }
        },
        [&] {  // values, one variable wrapper at a time
            for (; !stop; ++passes[0]) {
                CComPtr<INUVVariableCollection> variables;
                if (!sound("Variables", flowsheet->get_Variables(&variables))) continue;
                LONG count = 0;
                variables->get_Count(&count);
                for (LONG i = 1; i <= count; ++i) {
                    CComPtr<INUVObject> item;
                    if (!sound("Item", variables->get_Item(i, &item))) continue;
                    CComQIPtr<INUVVariable> variable(item);
                    double value = NAN;
                    if (variable && sound("Value", variable->get_Value(&value)) && !std::isfinite(value))
                        fail("a value that is not a number");
                }
            }
        },
        [&] {  // attribute matrices
            for (; !stop; ++passes[1]) {
                CComPtr<INUVVariableCollection> variables;
                if (!sound("Variables", flowsheet->get_Variables(&variables))) continue;
                CComVariant matrix;
                if (sound("GetAttributes", variables->GetAttributes(nuvtest::TextArray({"NAME", "VALUE"}), 1, 0, &matrix)) &&
                    (matrix.vt & VT_ARRAY) == 0)
                    fail("GetAttributes answered no matrix");
            }
        },
        [&] {  // grid sorts
            for (; !stop; ++passes[2]) {
                CComPtr<INUVVariableCollection> variables;
                if (!sound("Variables", flowsheet->get_Variables(&variables))) continue;
                CComPtr<IUnknown> unknown;
                if (!sound("GridService", variables->GetService(CComBSTR("GridService"), &unknown))) continue;
                CComQIPtr<INUVGridService> grid(unknown);
                if (!grid) {
                    fail("no grid");
                    continue;
                }
                sound("SetSortKeys", grid->SetSortKeys(nuvtest::TextArray({"VALUE"}), nuvtest::FlagArray({true})));
                sound("Prepare", grid->Prepare());
                sound("Sort", grid->Sort());
                LONG rows = 0;
                sound("grid Count", grid->get_Count(&rows));
                for (LONG r = 1; r <= rows; r += 7) {
                    CComPtr<INUVObject> row;
                    sound("grid Item", grid->get_Item(r, &row));
                }
            }
        },
        [&] {  // browsing reads
            const char* const paths[] = {"Top", "Top.appModel.Blocks", "Top.appModel.Blocks.FEED",
                                         "Top.appModel.Blocks.SECTION", "Top.Solver"};
            const char* const attributes[] = {"type", "child_ids", "valid_attributes", "name"};
            for (; !stop; ++passes[3])
                for (const char* path : paths)
                    for (const char* attribute : attributes) {
                        CComVariant value;
                        document->GetAttribute(path, attribute, nullptr, &value);
                    }
        },
        [&] {  // subscriptions come and go: events, document notices, output lines
            CountingSink sink;
            std::atomic<int> notices{0};
            for (; !stop; ++passes[4]) {
                LONG id = 0;
                if (sound("Advise", events->Advise(0x7fffffff, &sink, &id))) sound("UnAdvise", events->UnAdvise(id));
                document->Unadvise(document->Advise(&CountNotice, &notices));
            }
        },
        [&] {  // a block added and removed
            for (; !stop; ++passes[5]) {
                if (FAILED(editor->AddBlock(CComBSTR("T"), CComBSTR("MIXER"), CComVariant())))
                    fail("AddBlock");
                CComPtr<INUVBlock> added;
                if (sound("Block", blocks->get_Block(CComVariant("T"), &added))) {
                    CComBSTR name;
                    if (sound("Name", added->get_Name(&name)) && name.ToUtf8() != "T") fail("the added block's name");
                }
                if (FAILED(editor->RemoveBlock(CComBSTR("T")))) fail("RemoveBlock");
                VARIANT_BOOL valid = VARIANT_TRUE;
                if (added && (added->get_IsValid(&valid) != S_OK || valid != VARIANT_FALSE))
                    fail("a removed block's wrapper stays valid");
            }
        },
    };
    std::vector<std::thread> threads;
    for (size_t i = 1; i < roles.size(); ++i) threads.emplace_back(roles[i]);
    roles[0]();
    stop = true;
    for (auto& t : threads) t.join();
    for (const std::string& f : failures) ADD_FAILURE() << f;
    EXPECT_GE(solves.load(), kRounds);
    // Afterwards the simulation is as before the block came and went, and solves to its balance.
    LONG count = 0;
    ASSERT_EQ(blocks->get_Count(&count), S_OK);
    EXPECT_EQ(count, blockCount);
    ASSERT_EQ(sim->Solve(), S_OK);
    const auto& vars = engine->Vars();
    const double in = vars[static_cast<size_t>(engine->FindVar("FEED.F"))].value;
    const double out = vars[static_cast<size_t>(engine->FindVar("PROD.F"))].value;
    EXPECT_NEAR(out, in, 1e-6);
}

}  // namespace
