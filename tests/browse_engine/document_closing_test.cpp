// The host destroys an engine simulation while other threads keep calling its objects: automation
// wrappers of every kind, services, browsing nodes and attribute objects, and the document. The destruction waits
// for the calls under way; every object then answers as one whose engine object has gone (0x80040101
// for the wrappers, no value for nodes and the document), and nothing reaches freed engine memory
// (AddressSanitizer and ThreadSanitizer check that).
#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "node_objects.h"
#include "document_support.h"
#include "equation.h"
#include "sanitized.h"
#include "service_providers.h"
#include "temp_dir.h"
#include "tasks/edit_services.h"
#include "variable.h"

namespace {

using bdoc_test::DocumentTest;
using bdoc_test::ScopedArray;
using bdoc_test::Texts;

CComVariant Name(const char* s) { return CComVariant(nuv::to_utf16(s).c_str()); }

// One held object and the calls a client makes on it. `call` answers the HRESULT of one round of calls;
// `gone` says whether an answer is that of an object whose engine object went.
struct Held {
    std::string what;
    std::function<HRESULT()> call;
    std::function<bool(HRESULT)> gone;
};

bool InvalidObject(HRESULT hr) { return hr == nuv::kInvalidObject; }

class ClosingSimulation : public DocumentTest {
protected:
    void SetUp() override {
        // The classes are linked statically: their factories are handed to the engine explicitly.
        nuv::SetVariableWrapperMaker(&CoNUVVariable::Create);
        nuv::SetEquationWrapperMaker(&CoNUVEquation::Create);
        nuv::RegisterBlockServiceMaker(&CoNUVEditBlock::Make);
        nuv::RegisterSimServiceMaker(IID_INUVEditLibraries, &CoNUVEditLibraries::Make);
        zeq_set_wrapper_factory(&NUVClassFactory_QueryCreateVarWrapper, &NUVClassFactory_QueryCreateEqnWrapper);
        DocumentTest::SetUp();
    }
    void TearDown() override {
        kept_.clear();
        DocumentTest::TearDown();
        zeq_set_wrapper_factory(nullptr, nullptr);
    }

    template <class Itf>
    CComPtr<Itf> Keep(Itf* object) {
        EXPECT_NE(object, nullptr);
        if (object != nullptr) kept_.push_back(CComPtr<IUnknown>(object));
        return CComPtr<Itf>(object);
    }

    CComPtr<INUVBlock> BlockNamed(const char* dotted) {
        CComPtr<INUVBlock> block;
        EXPECT_EQ(wrapper_->get_Flowsheet(&block), S_OK);
        std::string rest = dotted;
        while (block && !rest.empty()) {
            const size_t dot = rest.find('.');
            CComPtr<INUVBlockCollection> blocks;
            block->get_Blocks(&blocks);
            CComPtr<INUVBlock> inner;
            if (blocks) blocks->get_Block(Name(rest.substr(0, dot).c_str()), &inner);
            block = inner;
            rest = dot == std::string::npos ? "" : rest.substr(dot + 1);
        }
        EXPECT_TRUE(block) << dotted;
        return block;
    }

    // Wrappers of every kind, nodes and attribute objects over a variable, and the document.
    std::vector<Held> HoldEverything() {
        std::vector<Held> held;
        CComPtr<INUVBlock> feed = Keep(BlockNamed("FEED").p);
        CComPtr<INUVBlock> heater = Keep(BlockNamed("SECTION.HTR").p);
        CComPtr<INUVBlock> section = Keep(BlockNamed("SECTION").p);
        CComPtr<INUVVariableCollection> feedVars, heaterVars;
        feed->get_Variables(&feedVars);
        heater->get_Variables(&heaterVars);
        Keep(feedVars.p);
        CComPtr<INUVVariable> f, duty;
        feedVars->get_Variable(Name("F"), &f);
        heaterVars->get_Variable(Name("DUTY"), &duty);
        for (INUVVariable* v : {Keep(f.p).p, Keep(duty.p).p}) {
            held.push_back({"variable value", [v] {
                                DOUBLE x = 0;
                                HRESULT hr = v->get_Value(&x);
                                return FAILED(hr) ? hr : v->put_Value(x);
                            },
                            InvalidObject});
            held.push_back({"variable name", [v] {
                                CComBSTR name;
                                return v->get_Name(&name);
                            },
                            InvalidObject});
        }
        held.push_back({"block name", [feed] {
                            CComBSTR name;
                            return feed->get_Name(&name);
                        },
                        InvalidObject});
        held.push_back({"hierarchy blocks", [section] {
                            CComPtr<INUVBlockCollection> blocks;
                            HRESULT hr = section->get_Blocks(&blocks);
                            LONG n = 0;
                            return FAILED(hr) ? hr : blocks->get_Count(&n);
                        },
                        InvalidObject});
        held.push_back({"variable collection", [feedVars] {
                            LONG n = 0;
                            return feedVars->get_Count(&n);
                        },
                        InvalidObject});
        CComPtr<INUVEquationCollection> equations;
        section->get_Equations(&equations);
        CComPtr<INUVEquation> load;
        equations->get_Equation(Name("LOADEQ"), &load);
        Keep(load.p);
        held.push_back({"equation", [load] {
                            CComBSTR name;
                            return load->get_Name(&name);
                        },
                        InvalidObject});
        CComPtr<INUVParameterCollection> params;
        heater->get_Parameters(&params);
        CComPtr<INUVParameter> pdrop;
        params->get_Parameter(Name("PDROP"), &pdrop);
        Keep(pdrop.p);
        held.push_back({"parameter", [pdrop] {
                            CComVariant value;
                            return pdrop->get_Value(&value);
                        },
                        InvalidObject});
        CComPtr<INUVPortCollection> ports;
        heater->get_Ports(&ports);
        CComPtr<INUVPort> in;
        ports->get_Port(Name("IN"), &in);
        Keep(in.p);
        held.push_back({"port", [in] {
                            CComBSTR name;
                            return in->get_Name(&name);
                        },
                        InvalidObject});
        CComPtr<INUVSolverCollection> solvers;
        wrapper_->get_Solvers(&solvers);
        CComPtr<INUVSolver> solver;
        solvers->get_Solver(CComVariant(LONG{1}), &solver);
        Keep(solver.p);
        held.push_back({"solver", [solver] {
                            CComBSTR name;
                            return solver->get_Name(&name);
                        },
                        InvalidObject});
        // Services: the block editing service of the hierarchy, and a simulation service.
        CComPtr<IUnknown> unknown;
        section->GetService(CComBSTR("NUVEditBlock"), &unknown);
        CComPtr<INUVEditBlock> edit;
        if (unknown) unknown->QueryInterface(IID_INUVEditBlock, reinterpret_cast<void**>(&edit));
        Keep(edit.p);
        held.push_back({"block editing", [edit] {
                            // No block of that name: the engine's answer shows the service reached it.
                            const HRESULT hr = edit->RemoveBlock(CComBSTR("NOSUCH"));
                            return hr == static_cast<HRESULT>(ZEQ_E_NOT_FOUND) ? S_OK : hr;
                        },
                        InvalidObject});
        unknown.Release();
        wrapper_->GetService(CComBSTR("NUVEditLibraries"), &unknown);
        CComPtr<INUVEditLibraries> libraries;
        if (unknown) unknown->QueryInterface(IID_INUVEditLibraries, reinterpret_cast<void**>(&libraries));
        Keep(libraries.p);
        held.push_back({"simulation service", [libraries] {
                            // The model's own library again: the engine answers that it has it already.
                            const HRESULT hr = libraries->AddLibrary(CComBSTR("STANDARD"));
                            return SUCCEEDED(hr) ? S_OK : hr;
                        },
                        InvalidObject});
        CComPtr<INUVSimulation2> simulation = wrapper_;
        held.push_back({"simulation", [simulation] {
                            CComBSTR objective;
                            return simulation->get_DefaultObjective(&objective);
                        },
                        InvalidObject});

        // A node of the variable, an attribute object of its value, and the document's batch read.
        CComPtr<IKNVNode> root, node;
        EXPECT_EQ(FI::com::CreateRootNode(doc_, false, &root), S_OK);
        EXPECT_EQ(root->GetChildByPath("appModel.Blocks.FEED.Variables.F", &node), S_OK);
        CComPtr<IKNVAttribute> value;
        EXPECT_EQ(node->GetAttribute("value", &value), S_OK);
        Keep(node.p);
        Keep(value.p);
        // Nodes and attribute objects of an entry whose engine objects went answer as a deleted entry: no value.
        const auto noValue = [](HRESULT hr) { return hr != S_OK; };
        held.push_back({"node", [node] {
                            DOUBLE x = 0;
                            HRESULT hr = node->GetRealAttribute("value", &x);
                            return FAILED(hr) ? hr : node->SetRealAttribute("value", x, nullptr);
                        },
                        noValue});
        held.push_back({"attribute object", [value] {
                            DOUBLE x = 0;
                            HRESULT hr = value->GetReal(&x);
                            return FAILED(hr) ? hr : value->SetReal(x);
                        },
                        noValue});
        CComPtr<IPDXDocumentV22> face = face_;
        held.push_back({"document", [face] {
                            ScopedArray paths(Texts({"Top.appModel.Blocks.FEED.Variables.F"}));
                            ScopedArray attributes(Texts({"value"}));
                            ScopedArray tuples(bdoc_test::Tuples(3, {{LONG{0}, LONG{0}}}));
                            ScopedArray values;
                            BSTR base = SysAllocString(OLESTR(""));
                            HRESULT hr = face->GetAttributes(base, paths.get(), attributes.get(), tuples.get(),
                                                             values.Receive());
                            SysFreeString(base);
                            if (FAILED(hr)) return hr;
                            return values.At(0).vt == VT_EMPTY ? S_FALSE : S_OK;
                        },
                        [](HRESULT hr) { return hr != S_OK; }});
        return held;
    }

    std::vector<CComPtr<IUnknown>> kept_;
};

TEST_F(ClosingSimulation, DestroyingItWhileThreadsCallItsObjectsLeavesEveryObjectGone) {
    constexpr int kRounds = 6, kThreads = 4, kCallsBefore = 40, kCallsAfter = 20;
    for (int round = 0; round < kRounds; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        if (round > 0) {
            kept_.clear();
            Close();
            Open();
        }
        const std::vector<Held> held = HoldEverything();
        for (const Held& h : held) ASSERT_EQ(h.call(), S_OK) << h.what << " answers while the simulation lives";

        std::atomic<int> started{0}, afterwards{0};
        std::atomic<bool> destroyed{false};
        std::atomic<int> wrong{0};
        std::vector<std::string> wrongWhat(kThreads);
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&, t] {
                int calls = 0, callsAfter = 0;
                for (;;) {
                    const bool gone = destroyed.load();
                    for (size_t i = 0; i < held.size(); ++i) {
                        const Held& h = held[(i + static_cast<size_t>(t)) % held.size()];
                        const HRESULT hr = h.call();
                        // While it lives an object answers, or answers as gone once the destruction began;
                        // after the destruction ended, only as gone.
                        if (hr != S_OK && !h.gone(hr)) {
                            wrong.fetch_add(1);
                            wrongWhat[static_cast<size_t>(t)] = h.what + " answered " + std::to_string(hr);
                        } else if (gone && !h.gone(hr)) {
                            wrong.fetch_add(1);
                            wrongWhat[static_cast<size_t>(t)] = h.what + " answered after the destruction";
                        }
                    }
                    if (++calls == kCallsBefore) started.fetch_add(1);
                    if (gone && ++callsAfter == kCallsAfter) break;
                }
                afterwards.fetch_add(1);
            });
        }
        while (started.load() < kThreads) std::this_thread::yield();
        sim_.reset();
        destroyed.store(true);
        for (std::thread& t : threads) t.join();
        EXPECT_EQ(afterwards.load(), kThreads);
        EXPECT_EQ(wrong.load(), 0) << wrongWhat[0] << wrongWhat[1] << wrongWhat[2] << wrongWhat[3];
        for (const Held& h : held) EXPECT_TRUE(h.gone(h.call())) << h.what;
    }
}

// The model reopened while threads keep calling the objects held from before: the objects of the old
// model (wrappers of blocks, members, ports, the solver, the hierarchy's edit service) answer 0x80040101
// from the moment it is replaced, never a count or a value read from it; the simulation, its services,
// the nodes (found again by their paths) and the document go on answering (while the model is being
// replaced a read by path may find no value). What the reopen retired is
// freed once the calls that could reach it have ended.
TEST_F(ClosingSimulation, ReopeningTheModelWhileThreadsCallItsObjectsLeavesTheOldModelsObjectsGone) {
    const nuv::test::TempDir dir("nuv_reopen_under_calls");
    const std::string file = dir.File("plant.model");
    ASSERT_EQ(wrapper_->SaveSimulation(CComBSTR(file.c_str())), S_OK);
    const auto stays = [](const std::string& what) {
        return what == "simulation service" || what == "simulation" || what == "node" || what == "attribute object" ||
               what == "document";
    };
    const int rounds = nuvtest::kSanitized ? 4 : 12;
    constexpr int kThreads = 4, kCallsBefore = 20, kCallsAfter = 10;
    for (int round = 0; round < rounds; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        kept_.clear();
        const std::vector<Held> held = HoldEverything();
        for (const Held& h : held) ASSERT_EQ(h.call(), S_OK) << h.what << " answers before the reopen";
        std::atomic<int> started{0};
        std::atomic<bool> reopened{false};
        std::atomic<int> wrong{0};
        std::vector<std::string> wrongWhat(kThreads);
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&, t] {
                std::vector<bool> gone(held.size(), false);
                int calls = 0, callsAfter = 0;
                for (;;) {
                    const bool after = reopened.load();
                    for (size_t i = 0; i < held.size(); ++i) {
                        const Held& h = held[i];
                        const HRESULT hr = h.call();
                        const char* problem = nullptr;
                        if (stays(h.what)) {
                            // A read by path made while the model was replaced may find no value; the
                            // wrappers of the simulation always answer.
                            const bool byPath =
                                h.what == "node" || h.what == "attribute object" || h.what == "document";
                            if (hr != S_OK && (!byPath || after)) problem = "failed";
                        } else if (h.gone(hr)) {
                            gone[i] = true;
                        } else if (hr != S_OK) {
                            problem = "failed";
                        } else if (gone[i]) {
                            problem = "answered after it had gone";
                        } else if (after) {
                            problem = "answered after the reopen";
                        }
                        if (problem != nullptr) {
                            wrong.fetch_add(1);
                            wrongWhat[static_cast<size_t>(t)] = h.what + " " + problem + ": " + std::to_string(hr);
                        }
                    }
                    if (++calls == kCallsBefore) started.fetch_add(1);
                    if (after && ++callsAfter == kCallsAfter) break;
                }
            });
        }
        while (started.load() < kThreads) std::this_thread::yield();
        EXPECT_EQ(wrapper_->OpenSimulation(CComBSTR(file.c_str())), S_OK);
        reopened.store(true);
        for (std::thread& t : threads) t.join();
        EXPECT_EQ(wrong.load(), 0) << wrongWhat[0] << wrongWhat[1] << wrongWhat[2] << wrongWhat[3];
        for (const Held& h : held) {
            const HRESULT hr = h.call();
            if (stays(h.what)) {
                EXPECT_EQ(hr, S_OK) << h.what;
            } else {
                EXPECT_TRUE(h.gone(hr)) << h.what;
            }
        }
        EXPECT_EQ(zeq::testing::RetiredObjectsWaiting(), 0u);
    }
}

}  // namespace
