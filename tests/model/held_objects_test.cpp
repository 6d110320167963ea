// Wrappers of every kind held by a client while the model changes under them: blocks removed, blocks
// renamed, the model reloaded from a file, the client's simulation wrapper released, the engine's
// simulation destroyed. Every member of every held wrapper is called afterwards. A wrapper whose engine
// object went fails every member with 0x80040101 and its text (IsValid answers false); the others keep
// working and follow renames. Nothing may reach freed engine memory (AddressSanitizer checks that).

#include <cstdlib>
#include <atomic>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "dispatch_walk.h"
#include "temp_dir.h"
#include "objects_support.h"

namespace {

using objects_test::I4;
using objects_test::Text;

enum class Change { BlocksRemoved, BlocksRenamed, ModelReloaded, SimulationReleased, SimulationDestroyed };

std::string ChangeName(const ::testing::TestParamInfo<Change>& info) {
    switch (info.param) {
        case Change::BlocksRemoved: return "BlocksRemoved";
        case Change::BlocksRenamed: return "BlocksRenamed";
        case Change::ModelReloaded: return "ModelReloaded";
        case Change::SimulationReleased: return "SimulationReleased";
        default: return "SimulationDestroyed";
    }
}

// Which changes take a held object's engine object away (the engine's end takes every one).
enum Goes : unsigned { kWithBlocks = 1, kWithModel = 2, kWithSimulation = 4 };

struct Held {
    std::string what;
    CComPtr<IDispatch> object;
    unsigned goes;
    std::string renamed;  // the name it answers after the rename; empty: not checked
};

class HeldObjects : public objects_test::ObjectsTest, public ::testing::WithParamInterface<Change> {
protected:
    template <class Itf>
    void Hold(const char* what, Itf* object, unsigned goes, std::string renamed = {}) {
        ASSERT_NE(object, nullptr) << what;
        CComPtr<IDispatch> d;
        ASSERT_EQ(object->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&d)), S_OK) << what;
        held_.push_back(Held{what, d, goes, std::move(renamed)});
    }

    // One wrapper of every kind, in a block that goes (FEED, the hierarchy SECTION) and in one that stays.
    void HoldEveryKind() {
        constexpr unsigned kModel = kWithModel | kWithSimulation;
        constexpr unsigned kBlocks = kWithBlocks | kModel;
        Hold("simulation", simulation_.p, kWithSimulation);
        Hold("flowsheet", flowsheet_.p, kModel);
        CComPtr<INUVBlockCollection> blocks;
        flowsheet_->get_Blocks(&blocks);
        Hold("flowsheet blocks", blocks.p, kModel);
        Enumerate(blocks.p, 0);
        CComPtr<INUVVariableCollection> flowsheetVars;
        flowsheet_->get_Variables(&flowsheetVars);
        Hold("flowsheet variables", flowsheetVars.p, kModel);
        CComPtr<INUVSolverCollection> solvers;
        simulation_->get_Solvers(&solvers);
        Hold("solvers", solvers.p, kWithSimulation);
        CComPtr<INUVSolver> solver;
        solvers->get_Solver(I4(1), &solver);
        Hold("solver", solver.p, kModel);
        CComPtr<INUVParameters> solverParams;
        solver->get_Parameters(&solverParams);
        Hold("solver parameters", solverParams.p, kModel);

        CComPtr<INUVBlock> feed = Block("FEED");
        Hold("plain block", feed.p, kBlocks, "FEED2");
        CComPtr<INUVVariableCollection> vars;
        feed->get_Variables(&vars);
        Hold("block variables", vars.p, kBlocks);
        Enumerate(vars.p, 1);
        CComPtr<INUVEquationCollection> eqns;
        feed->get_Equations(&eqns);
        Hold("block equations", eqns.p, kBlocks);
        CComPtr<INUVParameterCollection> params;
        feed->get_Parameters(&params);
        Hold("block parameters", params.p, kBlocks);
        CComPtr<INUVPortCollection> ports;
        feed->get_Ports(&ports);
        Hold("block ports", ports.p, kBlocks);
        CComPtr<INUVVariable> f;
        vars->get_Variable(Text("F"), &f);
        Hold("variable", f.p, kBlocks, "FEED2.F");
        CComPtr<INUVParameter> component;
        params->get_Parameter(Text("COMPONENT"), &component);
        Hold("parameter", component.p, kBlocks, "COMPONENT");
        CComPtr<INUVPort> out;
        ports->get_Port(Text("OUT"), &out);
        Hold("port", out.p, kBlocks, "OUT");
        CComPtr<INUVPort2> out2;
        out->QueryInterface(IID_INUVPort2, reinterpret_cast<void**>(&out2));
        CComPtr<INUVVariableCollection> portVars;
        out2->get_Variables(&portVars);
        Hold("port variables", portVars.p, kBlocks);

        CComPtr<INUVBlock> section = Block("SECTION");
        Hold("hierarchy block", section.p, kBlocks, "SEC2");
        CComPtr<INUVBlockCollection> inner;
        section->get_Blocks(&inner);
        Hold("hierarchy blocks", inner.p, kBlocks);
        CComPtr<INUVBlock> htr;
        inner->get_Block(Text("HTR"), &htr);
        Hold("nested block", htr.p, kBlocks, "HTR");
        CComPtr<INUVVariable> q;
        CComPtr<INUVVariableCollection> htrVars;
        htr->get_Variables(&htrVars);
        htrVars->get_Variable(Text("Q"), &q);
        Hold("nested variable", q.p, kBlocks, "SEC2.HTR.Q");
        CComPtr<INUVEquationCollection> htrEqns;
        htr->get_Equations(&htrEqns);
        CComPtr<INUVEquation> heat;
        htrEqns->get_Equation(I4(1), &heat);
        Hold("nested equation", heat.p, kBlocks, "SEC2.HTR.HEAT");

        // Members of a block that stays are renumbered when the blocks before it go.
        CComPtr<INUVVariableCollection> prodVars;
        Block("PROD")->get_Variables(&prodVars);
        CComPtr<INUVVariable> prodF;
        prodVars->get_Variable(Text("F"), &prodF);
        Hold("renumbered variable", prodF.p, kModel, "PROD.F");
        CComPtr<INUVEquationCollection> prodEqns;
        Block("PROD")->get_Equations(&prodEqns);
        CComPtr<INUVEquation> bal;
        prodEqns->get_Equation(I4(1), &bal);
        Hold("renumbered equation", bal.p, kModel, "PROD.BAL");
    }

    // An enumeration of a collection, taken before the change.
    template <class Collection>
    void Enumerate(Collection* collection, int i) {
        CComPtr<IUnknown> unknown;
        ASSERT_EQ(collection->get__NewEnum(&unknown), S_OK);
        ASSERT_EQ(unknown->QueryInterface(IID_IEnumVARIANT, reinterpret_cast<void**>(&enums_[i])), S_OK);
        LONG n = 0;
        collection->get_Count(&n);
        sizes_[i] = static_cast<ULONG>(n);
    }

    void Apply(Change change) {
        switch (change) {
            case Change::BlocksRemoved:
                ASSERT_EQ(sim_->GetFlowsheet()->RemoveBlock(ZEQString("FEED")), 0);
                ASSERT_EQ(sim_->GetFlowsheet()->RemoveBlock(ZEQString("SECTION")), 0);
                break;
            case Change::BlocksRenamed:
                ASSERT_EQ(sim_->ExecuteCommand("rename FEED FEED2\n"), 0);
                ASSERT_EQ(sim_->ExecuteCommand("rename SECTION SEC2\n"), 0);
                break;
            case Change::ModelReloaded: {
                const nuv::test::TempDir dir("nuv_held");
                const std::string file = dir.File("model.model");
                ASSERT_EQ(simulation_->SaveSimulation(CComBSTR(file.c_str())), S_OK);
                ASSERT_EQ(simulation_->OpenSimulation(CComBSTR(file.c_str())), S_OK);
                break;
            }
            case Change::SimulationReleased: simulation_.Release(); break;
            case Change::SimulationDestroyed: sim_.reset(); break;
        }
    }

    bool TakesAway(const Held& h, Change change) const {
        switch (change) {
            case Change::BlocksRemoved: return (h.goes & kWithBlocks) != 0;
            case Change::ModelReloaded: return (h.goes & kWithModel) != 0;
            case Change::SimulationDestroyed: return true;
            default: return false;
        }
    }

    std::vector<Held> held_;
    // The flowsheet's blocks (0) and the plain block's variables (1).
    CComPtr<IEnumVARIANT> enums_[2];
    ULONG sizes_[2] = {0, 0};
};

TEST_P(HeldObjects, EveryMemberOfEveryKindAnswersSoundlyAfterTheChange) {
    HoldEveryKind();
    Apply(GetParam());

    for (const Held& h : held_) {
        SCOPED_TRACE(h.what);
        if (GetParam() == Change::SimulationReleased && h.what == "simulation") continue;
        const bool gone = TakesAway(h, GetParam());
        // A live simulation is not walked: its members solve, save and load files.
        const auto answers = gone || h.what != "simulation" ? walk_test::CallEverything(h.object)
                                                            : std::map<std::string, walk_test::Answer>{};
        CComPtr<INUVObject> object;
        const bool isObject = SUCCEEDED(h.object->QueryInterface(IID_INUVObject, reinterpret_cast<void**>(&object)));
        if (!answers.empty()) {
            EXPECT_EQ(answers.count(isObject ? "IsValid" : "Count"), 1u) << "the walk reaches the inherited members";
        }
        for (const auto& [member, answer] : answers) {
            // IUnknown's and IDispatch's own members are not reached late-bound, as on the platform.
            if (answer.platform_member) {
                EXPECT_EQ(answer.hr, DISP_E_MEMBERNOTFOUND) << member;
                continue;
            }
            // Whether an object is valid, and a cancel request, are answered by every object.
            if (member == "IsValid" || member == "TriggerCancel") continue;
            if (gone) {
                EXPECT_TRUE(answer.Gone()) << member << " answered " << std::hex << answer.hr << " / " << answer.scode;
            } else {
                EXPECT_FALSE(answer.Gone()) << member;
            }
        }
        if (isObject) {
            VARIANT_BOOL valid = VARIANT_FALSE;
            EXPECT_EQ(object->get_IsValid(&valid), S_OK);
            EXPECT_EQ(valid != VARIANT_FALSE, !gone);
            if (GetParam() == Change::BlocksRenamed && !h.renamed.empty()) {
                EXPECT_EQ(objects_test::NameOf(object), h.renamed);
            }
        }
    }

    // Enumerations go on soundly, whatever happened since they were taken.
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(enums_[i]->Reset(), S_OK);
        CComPtr<IEnumVARIANT> clone;
        ASSERT_EQ(enums_[i]->Clone(&clone), S_OK);
        EXPECT_EQ(clone->Skip(1), S_OK);
        std::vector<CComVariant> items(sizes_[i] + 1);
        ULONG fetched = 0;
        EXPECT_EQ(enums_[i]->Next(sizes_[i] + 1, items.data(), &fetched), S_FALSE);
        const bool membersGo = i == 0 ? GetParam() == Change::ModelReloaded || GetParam() == Change::SimulationDestroyed
                                      : GetParam() != Change::BlocksRenamed && GetParam() != Change::SimulationReleased;
        // The blocks were taken when the enumeration was; the variables are fetched as it goes, and end
        // where the block's variables end now.
        EXPECT_EQ(fetched, i == 1 && membersGo ? 0u : sizes_[i]);
        for (ULONG k = 0; k < fetched; ++k) {
            ASSERT_EQ(items[k].vt, VT_DISPATCH);
            ASSERT_NE(items[k].pdispVal, nullptr) << "item " << k + 1 << " of enumeration " << i;
            CComPtr<INUVObject> item;
            ASSERT_EQ(items[k].pdispVal->QueryInterface(IID_INUVObject, reinterpret_cast<void**>(&item)), S_OK);
            VARIANT_BOOL valid = VARIANT_TRUE;
            item->get_IsValid(&valid);
            // Of the flowsheet's blocks, FEED and SECTION go with the removal; PROD stays.
            const bool removed = i == 0 && GetParam() == Change::BlocksRemoved && k < 2;
            EXPECT_EQ(valid != VARIANT_FALSE, !membersGo && !removed) << "item " << k + 1 << " of enumeration " << i;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Changes, HeldObjects,
                         ::testing::Values(Change::BlocksRemoved, Change::BlocksRenamed, Change::ModelReloaded,
                                           Change::SimulationReleased, Change::SimulationDestroyed),
                         ChangeName);

}  // namespace

// ---- changes made while a call is under way ----

namespace {

using objects_test::ObjectsTest;

// Every variable's name with its value, spec and modified flags, as the engine holds them.
std::map<std::string, std::string> EngineVariables(zeq::Simulation& sim) {
    std::map<std::string, std::string> out;
    ZEQEOCntr* flowsheet = sim.GetFlowsheet();
    for (int i = 1; i <= flowsheet->GetCount(); ++i) {
        ZEQVariableData record;
        record.SetMask(VA_NAME | VA_VALUE | VA_SPEC | VA_MODIFIED, 0);
        const char* name = nullptr;
        double value = 0;
        int spec = 0, modified = 0;
        if (!record.Load(flowsheet, nullptr, i, true) || !record.GetValue(VA_NAME, name)) continue;
        record.GetValue(VA_VALUE, value);
        record.GetValue(VA_SPEC, spec);
        record.GetValue(VA_MODIFIED, modified);
        out[name] = std::to_string(value) + "/" + std::to_string(spec) + "/" + std::to_string(modified);
    }
    return out;
}

// A write through a variable wrapper while another thread removes a block before the variable: the
// engine renumbers the variables between the wrapper's finding its number and the engine's commit. The
// write must reach the wrapper's own variable, never the one that took its number.
TEST_F(ObjectsTest, AWriteRacingARenumberingReachesItsOwnVariableOnly) {
    struct Write {
        const char* what;
        std::function<HRESULT(INUVVariable*)> call;
    } writes[] = {
        {"value", [](INUVVariable* v) { return v->put_Value(42); }},
        {"spec", [](INUVVariable* v) { return v->put_Spec(NUVSpec_Constant); }},
        {"modified flag", [](INUVVariable* v) { return v->put_Modified(CComBSTR("VALUE"), VARIANT_TRUE); }},
    };
    for (const Write& w : writes) {
        SCOPED_TRACE(w.what);
        sim_ = objects_test::BuildModel();
        simulation_.Release();
        flowsheet_.Release();
        ASSERT_EQ(NUVClassFactory::QueryCreateWrapper(sim_.get(), IID_INUVSimulation2, reinterpret_cast<void**>(&simulation_)),
                  S_OK);
        ASSERT_EQ(simulation_->get_Flowsheet(&flowsheet_), S_OK);
        CComPtr<INUVVariableCollection> vars;
        Block("PROD")->get_Variables(&vars);
        CComPtr<INUVVariable> prod;
        ASSERT_EQ(vars->get_Variable(Text("F"), &prod), S_OK);
        zeq::testing::BeforeNextVariableCommit(
            *sim_, [this] { ASSERT_EQ(sim_->GetFlowsheet()->RemoveBlock(ZEQString("FEED")), 0); });
        auto before = EngineVariables(*sim_);
        ASSERT_EQ(w.call(prod), S_OK);
        auto after = EngineVariables(*sim_);
        for (const char* gone : {"FEED.F", "FEED.T", "FEED.P"}) before.erase(gone);
        ASSERT_EQ(before.size(), after.size());
        EXPECT_NE(before["PROD.F"], after["PROD.F"]) << "the write reached its variable";
        before.erase("PROD.F");
        after.erase("PROD.F");
        EXPECT_EQ(before, after) << "no other variable changed";
    }
}

// A member asked for by its position after the count was taken, while another thread removes members:
// the position no longer holds one, or the collection's owner has gone. The answers are the model's
// "out of range" and "object gone" codes, as when the change had come before the count.
std::function<void()> g_beforeMake;

HRESULT MakeVariableAfterChange(ZEQEOSimulation* sim, int index, REFIID riid, void** ppv, INUVWrapper** wrapper) {
    if (g_beforeMake) std::exchange(g_beforeMake, nullptr)();
    return NUVClassFactory_QueryCreateVarWrapper(sim, index, riid, ppv, wrapper);
}

HRESULT MakeEquationAfterChange(ZEQEOSimulation* sim, int index, REFIID riid, void** ppv, INUVWrapper** wrapper) {
    if (g_beforeMake) std::exchange(g_beforeMake, nullptr)();
    return NUVClassFactory_QueryCreateEqnWrapper(sim, index, riid, ppv, wrapper);
}

TEST_F(ObjectsTest, AMemberRemovedWhileItIsFetchedAnswersOutOfRangeOrGone) {
    zeq_set_wrapper_factory(&MakeVariableAfterChange, &MakeEquationAfterChange);
    struct Case {
        const char* owner;    // "" for the flowsheet
        bool equations;
        const char* removed;  // the block removed while the wrapper is made
        HRESULT expected;
    } cases[] = {
        {"", false, "FEED", nuv::kIndexOutOfRange},
        {"", true, "SECTION", nuv::kIndexOutOfRange},
        {"SECTION", false, "SECTION", nuv::kInvalidObject},
        {"SECTION", true, "SECTION", nuv::kInvalidObject},
        {"SECTION.HTR", false, "SECTION", nuv::kInvalidObject},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.owner) + (c.equations ? " equations" : " variables"));
        sim_ = objects_test::BuildModel();
        simulation_.Release();
        flowsheet_.Release();
        ASSERT_EQ(NUVClassFactory::QueryCreateWrapper(sim_.get(), IID_INUVSimulation2, reinterpret_cast<void**>(&simulation_)),
                  S_OK);
        ASSERT_EQ(simulation_->get_Flowsheet(&flowsheet_), S_OK);
        CComPtr<INUVBlock> owner = *c.owner ? Block(c.owner) : flowsheet_;
        ASSERT_TRUE(owner);
        CComPtr<INUVObjectCollection> members;
        if (c.equations)
            owner->get_Equations(reinterpret_cast<INUVEquationCollection**>(&members));
        else
            owner->get_Variables(reinterpret_cast<INUVVariableCollection**>(&members));
        const LONG n = CountOf(members.p);
        ASSERT_GT(n, 0);
        g_beforeMake = [this, &c] { ASSERT_EQ(sim_->GetFlowsheet()->RemoveBlock(ZEQString(c.removed)), 0); };
        CComPtr<INUVObject> item;
        EXPECT_EQ(members->get_Item(n, &item), c.expected);
        EXPECT_FALSE(item);
        g_beforeMake = nullptr;
    }
}

// Runs `read` on `readers` threads, over and over, while `change` runs on this one; the number of wrong
// answers either counted.
int WrongAnswersWhile(int readers, const std::function<int()>& read, const std::function<int()>& change) {
    std::atomic<bool> stop{false};
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < readers; ++t) {
        threads.emplace_back([&] {
            while (!stop.load()) wrong.fetch_add(read());
        });
    }
    wrong.fetch_add(change());
    stop = true;
    for (std::thread& t : threads) t.join();
    return wrong.load();
}

// Names read while another thread renames the block: the engine hands its texts out by pointer, and a
// reader must get the old name or the new one, whole, never a text the rename has freed or overwritten.
TEST_F(ObjectsTest, NamesReadWhileAnotherThreadRenamesAreWhole) {
    const std::string kLong = "SECTION_UNDER_A_NAME_TOO_LONG_FOR_A_SHORT_STRING";
    CComPtr<INUVBlock> section = Block("SECTION");
    CComPtr<INUVBlockCollection> inner;
    section->get_Blocks(&inner);
    CComPtr<INUVBlock> htr;
    inner->get_Block(Text("HTR"), &htr);
    ASSERT_TRUE(section && htr);
    const int wrong = WrongAnswersWhile(
        3,
        [&] {
            const std::string name = objects_test::NameOf(section);
            return (name != "SECTION" && name != kLong ? 1 : 0) + (objects_test::NameOf(htr) != "HTR" ? 1 : 0);
        },
        [&] {
            int failed = 0;
            for (int i = 0; i < 1000; ++i) {
                failed += sim_->ExecuteCommand(("rename SECTION " + kLong + "\n").c_str()) != 0;
                failed += sim_->ExecuteCommand(("rename " + kLong + " SECTION\n").c_str()) != 0;
            }
            return failed;
        });
    EXPECT_EQ(wrong, 0);
}

// Solver names and text settings read while another thread changes the settings and reloads the model:
// the engine hands these texts out by pointer, and reloading replaces the solvers. A reader gets a whole
// text, old or new, or hears that its solver has gone.
TEST_F(ObjectsTest, SolverTextsReadWhileAnotherThreadSetsThemAndReloadsAreWhole) {
    const std::string kLong = "A_METHOD_NAME_TOO_LONG_FOR_A_SHORT_STRING";
    const nuv::test::TempDir dir("nuv_solver");
    const std::string file = dir.File("model.model");
    ASSERT_EQ(simulation_->SaveSimulation(CComBSTR(file.c_str())), S_OK);
    auto params = [this](CComPtr<INUVSolver>& solver, CComPtr<INUVParameters>& out) {
        CComPtr<INUVSolverCollection> solvers;
        return SUCCEEDED(simulation_->get_Solvers(&solvers)) && SUCCEEDED(solvers->get_Solver(I4(1), &solver)) &&
               SUCCEEDED(solver->get_Parameters(&out));
    };
    const int wrong = WrongAnswersWhile(
        1,
        [&] {
            CComPtr<INUVSolver> solver;
            CComPtr<INUVParameters> list;
            if (!params(solver, list)) return 0;
            CComBSTR name;
            HRESULT hr = solver->get_Name(&name);
            int bad = hr != nuv::kInvalidObject && (hr != S_OK || name.ToUtf8() != "MAIN");
            CComVariant method;
            hr = list->get_Item(Text("METHOD"), &method);
            const std::string text = hr == S_OK ? objects_test::Show(method) : "";
            return bad + (hr != nuv::kInvalidObject && text != "8:NEWTON" && text != "8:" + kLong);
        },
        [&] {
            int failed = 0;
            for (int i = 0; i < 300; ++i) {
                CComPtr<INUVSolver> solver;
                CComPtr<INUVParameters> list;
                failed += !params(solver, list) || list->put_Item(Text("METHOD"), Text(kLong.c_str())) != S_OK ||
                          list->put_Item(Text("METHOD"), Text("NEWTON")) != S_OK ||
                          (i % 10 == 0 && simulation_->OpenSimulation(CComBSTR(file.c_str())) != S_OK);
            }
            return failed;
        });
    EXPECT_EQ(wrong, 0);
}

}  // namespace
