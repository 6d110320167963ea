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
#include "sanitized.h"
#include "service_providers.h"
#include "simulation.h"
#include "temp_dir.h"
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

// Objects held by clients while another thread keeps replacing what they stand for: the model reopened
// from two files, the mixer removed through the flowsheet's edit service, a hierarchy renamed. Six threads
// call objects they hold from before a change (a block, its collections, an enumeration, a grid, a port,
// the solver and its parameters) and objects they fetch afresh, with sinks and browsing reads between.
// A held object answers what its engine object holds while that lives, and 0x80040101 from the moment it
// went, on every thread, ever after: never a count, a value or "not found" read from a retired object.
// The engine frees what it retires meanwhile; the sanitizer runs check that nothing reads it freed.
TEST(Stress, HeldObjectsAnswerGoneFromTheMomentTheModelIsReplaced) {
    const nuv::test::TempDir dir("nuv_stress_reopen");
    const std::string files[2] = {ExampleModelPath("plant.model"), dir.File("plant_copy.model")};
    auto engine = std::make_unique<zeq::Simulation>();
    ASSERT_EQ(engine->OpenSimulation(files[0].c_str()), 0);
    ASSERT_EQ(engine->SaveSimulation(files[1].c_str()), 0);
    NUVClassFactory::RegisterSimulationServices(engine.get());
    CComPtr<INUVSimulation2> sim;
    ASSERT_EQ(
        NUVClassFactory::QueryCreateWrapper(engine.get(), IID_INUVSimulation2, reinterpret_cast<void**>(&sim)),
        S_OK);
    CComPtr<IServiceProvider> provider;
    CComPtr<IPDXDocumentV22> face;
    ASSERT_EQ(sim.QueryInterface(&provider), S_OK);
    ASSERT_EQ(provider->QueryService(IID_IPDXDocumentV22, IID_IPDXDocumentV22, reinterpret_cast<void**>(&face)), S_OK);
    FI::FIDocument* document = nuv::ImplementationOf<CoNUVSimulation>(sim)->GetDocument();
    ASSERT_NE(document, nullptr);
    CComPtr<INUVSimEventMgr> events;
    {
        CComPtr<IUnknown> unknown;
        ASSERT_EQ(sim->GetService(CComBSTR("NUVSimEventMgr"), &unknown), S_OK);
        ASSERT_EQ(unknown.QueryInterface(&events), S_OK);
    }

    // The mixer of the model open now, with its collections; false when it is not there (removed).
    struct Mixer {
        CComPtr<INUVBlock> block;
        CComPtr<INUVVariableCollection> variables;
        CComPtr<INUVParameterCollection> parameters;
        CComPtr<INUVPortCollection> ports;
    };
    auto fetch = [&](Mixer& m) {
        m = Mixer{};
        CComPtr<INUVBlock> flowsheet;
        CComPtr<INUVBlockCollection> blocks;
        const bool whole =
            SUCCEEDED(sim->get_Flowsheet(&flowsheet)) && SUCCEEDED(flowsheet->get_Blocks(&blocks)) &&
            SUCCEEDED(blocks->get_Block(CComVariant("MIX"), &m.block)) && SUCCEEDED(m.block->get_Variables(&m.variables)) &&
            SUCCEEDED(m.block->get_Parameters(&m.parameters)) && SUCCEEDED(m.block->get_Ports(&m.ports));
        if (!whole) m = Mixer{};
        return whole;
    };
    Mixer first;
    ASSERT_TRUE(fetch(first));
    LONG mixVariables = 0, mixParameters = 0, mixPorts = 0, solverParameters = 0;
    ASSERT_EQ(first.variables->get_Count(&mixVariables), S_OK);
    ASSERT_EQ(first.parameters->get_Count(&mixParameters), S_OK);
    ASSERT_EQ(first.ports->get_Count(&mixPorts), S_OK);
    ASSERT_GT(mixVariables, 0);
    ASSERT_GT(mixPorts, 0);
    {
        CComPtr<INUVSolverCollection> solvers;
        CComPtr<INUVSolver> solver;
        CComPtr<INUVParameters> parameters;
        ASSERT_EQ(sim->get_Solvers(&solvers), S_OK);
        ASSERT_EQ(solvers->get_Solver(CComVariant(LONG{1}), &solver), S_OK);
        ASSERT_EQ(solver->get_Parameters(&parameters), S_OK);
        ASSERT_EQ(parameters->get_Count(&solverParameters), S_OK);
    }
    first = Mixer{};

    nuvtest::HangGuard guard("held objects while the model is replaced");
    std::atomic<bool> stop{false};
    std::atomic<long> calls{0};
    std::mutex failures_lock;
    std::vector<std::string> failures;
    auto fail = [&](const std::string& what) {
        std::lock_guard lock(failures_lock);
        if (failures.size() < 20) failures.push_back(what);
    };
    // One answer of a held object: gone (and gone for good), or S_OK with what its engine object holds
    // (`right`, looked at once the call has answered). False once the object has gone: its holder fetches
    // a new one.
    auto held = [&](const char* what, HRESULT hr, const std::function<bool()>& right, bool& gone) {
        ++calls;
        if (hr == kInvalidObject) {
            gone = true;
            return false;
        }
        if (gone) fail(std::string(what) + " answered " + std::to_string(hr) + " after it had gone");
        else if (hr != S_OK) fail(std::string(what) + " failed with " + std::to_string(hr));
        else if (!right()) fail(std::string(what) + " answered what its engine object does not hold");
        return !gone;
    };
    const int rounds = nuvtest::kSanitized ? 200 : 1500;
    std::vector<std::function<void()>> readers = {
        [&] {  // a held variable collection: its count and a variable by name
            Mixer m;
            while (!stop) {
                if (!m.variables && !fetch(m)) continue;
                bool gone = false;
                LONG n = -1;
                held("variables Count", m.variables->get_Count(&n), [&] { return n == mixVariables; }, gone);
                CComPtr<INUVVariable> f;
                held("get_Variable", m.variables->get_Variable(CComVariant("F"), &f), [&] { return f != nullptr; }, gone);
                CComPtr<INUVObject> item;
                held("variables Item", m.variables->get_Item(mixVariables, &item), [&] { return item != nullptr; }, gone);
                if (gone) m = Mixer{};
            }
        },
        [&] {  // a held block: name, inclusion, parameters, ports, one port
            Mixer m;
            CComPtr<INUVPort> port;
            while (!stop) {
                if (!m.block) {
                    port.Release();
                    if (!fetch(m)) continue;
                    if (FAILED(m.ports->get_Port(CComVariant(LONG{1}), &port))) {
                        m = Mixer{};
                        continue;
                    }
                }
                bool gone = false;
                CComBSTR name;
                held("block Name", m.block->get_Name(&name), [&] { return name.ToUtf8() == "MIX"; }, gone);
                VARIANT_BOOL included = VARIANT_FALSE;
                CComQIPtr<INUVBlock2> block2(m.block);
                held("IsIncluded", block2->get_IsIncluded(&included), [&] { return included != VARIANT_FALSE; }, gone);
                LONG n = -1;
                held("parameters Count", m.parameters->get_Count(&n), [&] { return n == mixParameters; }, gone);
                held("ports Count", m.ports->get_Count(&n), [&] { return n == mixPorts; }, gone);
                CComBSTR portName;
                held("port Name", port->get_Name(&portName), [&] { return portName.Length() > 0; }, gone);
                if (gone) m = Mixer{};
            }
        },
        [&] {  // a held enumeration and grid of the mixer's variables
            Mixer m;
            CComPtr<IEnumVARIANT> items;
            CComPtr<INUVGridService> grid;
            while (!stop) {
                if (!m.variables) {
                    items.Release();
                    grid.Release();
                    CComPtr<IUnknown> unknown, service;
                    if (!fetch(m) || FAILED(m.variables->get__NewEnum(&unknown)) ||
                        FAILED(unknown.QueryInterface(&items)) ||
                        FAILED(m.variables->GetService(CComBSTR("GridService"), &service)) ||
                        FAILED(service.QueryInterface(&grid)) || FAILED(grid->Prepare())) {
                        m = Mixer{};
                        continue;
                    }
                }
                bool gone = false;
                items->Reset();
                CComVariant item;
                ULONG fetched = 0;
                const HRESULT next = items->Next(1, &item, &fetched);
                CComQIPtr<INUVObject> object(item.vt == VT_DISPATCH ? item.pdispVal : nullptr);
                if (next == S_OK && !object) fail("an enumeration answered an empty item");
                LONG rows = -1;
                const HRESULT counted = grid->get_Count(&rows);
                if (counted != kGridOfChangedFlowsheet)
                    held("grid Count", counted, [&] { return rows == mixVariables; }, gone);
                if (next != S_OK && !gone) {
                    // The enumeration ended early: only because the mixer went.
                    VARIANT_BOOL valid = VARIANT_TRUE;
                    m.block->get_IsValid(&valid);
                    if (valid != VARIANT_FALSE) fail("an enumeration of a live block fetched nothing");
                    gone = true;
                }
                if (gone) m = Mixer{};
            }
        },
        [&] {  // the held solver and its parameters
            CComPtr<INUVSolver> solver;
            CComPtr<INUVParameters> parameters;
            while (!stop) {
                if (!solver) {
                    CComPtr<INUVSolverCollection> solvers;
                    if (FAILED(sim->get_Solvers(&solvers)) || FAILED(solvers->get_Solver(CComVariant(LONG{1}), &solver)) ||
                        FAILED(solver->get_Parameters(&parameters))) {
                        solver.Release();
                        parameters.Release();
                        continue;
                    }
                }
                bool gone = false;
                CComBSTR name;
                held("solver Name", solver->get_Name(&name), [&] { return name.Length() > 0; }, gone);
                LONG n = -1;
                held("solver parameters Count", parameters->get_Count(&n), [&] { return n == solverParameters; }, gone);
                if (gone) {
                    solver.Release();
                    parameters.Release();
                }
            }
        },
        [&] {  // fresh objects every time, and browsing reads
            const char* const paths[] = {"Top.appModel.Blocks", "Top.appModel.Blocks.MIX",
                                         "Top.appModel.Blocks.SECTION.Blocks.HTR", "Top.Solver"};
            while (!stop) {
                Mixer m;
                if (fetch(m)) {
                    bool gone = false;
                    LONG n = -1;
                    held("fresh variables Count", m.variables->get_Count(&n), [&] { return n == mixVariables; }, gone);
                }
                for (const char* path : paths) {
                    CComVariant value;
                    document->GetAttribute(path, "child_ids", nullptr, &value);
                }
            }
        },
        [&] {  // sinks come and go, and values are read through the flowsheet
            CountingSink sink;
            while (!stop) {
                LONG id = 0;
                if (SUCCEEDED(events->Advise(0x7fffffff, &sink, &id))) events->UnAdvise(id);
                CComPtr<INUVBlock> flowsheet;
                CComPtr<INUVVariableCollection> variables;
                CComVariant matrix;
                if (SUCCEEDED(sim->get_Flowsheet(&flowsheet)) && SUCCEEDED(flowsheet->get_Variables(&variables)))
                    variables->GetAttributes(nuvtest::TextArray({"NAME", "VALUE"}), 1, 0, &matrix);
            }
        },
    };
    std::vector<std::thread> threads;
    for (auto& reader : readers) threads.emplace_back(reader);
    for (int round = 0; round < rounds; ++round) {
        if (FAILED(sim->OpenSimulation(CComBSTR(files[round % 2].c_str())))) fail("OpenSimulation");
        CComPtr<INUVBlock> flowsheet;
        CComPtr<IUnknown> unknown;
        CComPtr<INUVEditBlock> editor;
        if (FAILED(sim->get_Flowsheet(&flowsheet)) || FAILED(flowsheet->GetService(CComBSTR("NUVEditBlock"), &unknown)) ||
            FAILED(unknown.QueryInterface(&editor))) {
            fail("the edit service");
            continue;
        }
        if (round % 3 == 1) {
            if (engine->ExecuteCommand("rename SECTION SECTION2\n") != 0 ||
                engine->ExecuteCommand("rename SECTION2 SECTION\n") != 0)
                fail("rename");
        }
        if (round % 2 == 0 && FAILED(editor->RemoveBlock(CComBSTR("MIX")))) fail("RemoveBlock");
    }
    stop = true;
    for (auto& t : threads) t.join();
    for (const std::string& f : failures) ADD_FAILURE() << f;
    EXPECT_GT(calls.load(), rounds);
    engine.reset();
    EXPECT_EQ(zeq::testing::RetiredObjectsWaiting(), 0u) << "what the changes retired is freed once the calls end";
}

}  // namespace
