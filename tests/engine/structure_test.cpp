// Structure, numbering, lookups and wrapper holders of the engine's object model.
#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "capture.h"
#include "fake_wrapper.h"
#include "zeq_testing.h"

using zeq::testing::ModelBuilder;

namespace {

// Flowsheet: A (2 vars), H (hierarchy: B1 (3 vars), B2 (1 var), loose HV), C (1 var), loose Z.
std::unique_ptr<zeq::Simulation> Nested() {
    ModelBuilder m;
    m.Block("A").Var("X", 1).Var("Y", 2).Eqn("E1", "Y = X + 1").Param("P0", zeq::Value::Real(1.5)).Param("P1", zeq::Value::Int(2))
        .Port("OUT", "OUT", {"Y"})
        .Hierarchy("H")
        .Block("B1").Var("U", 0).Var("V", 0).Var("W", 0).Eqn("EU", "U = 1").Eqn("EV", "V = U * 2")
        .Block("B2").Var("Q", 5).Port("IN", "IN", {"Q"})
        .ContainerVar("HV", 7)
        .EndHierarchy()
        .Block("C").Var("R", 3)
        .ContainerVar("Z", 9)
        .ContainerEqn("EZ", "Z = 9");
    return m.Create();
}

TEST(EngineStructure, NumbersBlocksVariablesAndEquationsFromOne) {
    auto sim = Nested();
    ZEQEOCntr* fs = sim->GetFlowsheet();
    ASSERT_EQ(fs->GetBlockCount(), 3);
    EXPECT_EQ(fs->GetBlock(0), nullptr);
    EXPECT_EQ(fs->GetBlock(4), nullptr);
    EXPECT_STREQ(fs->GetBlock(1)->GetName(), "A");
    EXPECT_EQ(fs->GetCount(), 2 + 3 + 1 + 1 + 1 + 1);
    struct Row { int block; int first; int count; int efirst; int ecount; };
    const Row rows[] = {{1, 1, 2, 1, 1}, {2, 3, 5, 2, 2}, {3, 8, 1, 4, 0}};
    for (const Row& r : rows) {
        ZEQEOBlock* b = fs->GetBlock(r.block);
        EXPECT_EQ(b->GetFirstIndex(), r.first) << b->GetName();
        EXPECT_EQ(b->GetCount(), r.count) << b->GetName();
        EXPECT_EQ(b->GetFirstEquationIndex(), r.efirst) << b->GetName();
        EXPECT_EQ(b->GetEquationCount(), r.ecount) << b->GetName();
    }
    // Inside the hierarchy the numbering restarts at 1: a member at parent index i is at i - f + 1.
    ZEQEOBlock* h = fs->GetBlock(2);
    ZEQEOCntr* sub = h->GetSubContainer(fs);
    ASSERT_NE(sub, nullptr);
    EXPECT_EQ(sub->GetCount(), 5);
    EXPECT_EQ(sub->GetBlock(2)->GetFirstIndex(), 4);
    EXPECT_EQ(sub->FindIndex("B2.Q"), 4);
    EXPECT_EQ(fs->FindIndex("H.B2.Q"), h->GetFirstIndex() + 4 - 1);
    EXPECT_EQ(sub->FindIndex("HV"), 5);
    EXPECT_EQ(sub->GetOwnerBlock(), h);
    EXPECT_EQ(fs->GetOwnerBlock(), nullptr);
    EXPECT_EQ(fs->GetBlockVariableBase(h), 0);
    // Hierarchy blocks are aggregates; their members' names carry the prefix.
    EXPECT_FALSE(fs->GetBlock(1)->IsType("AGGREGATE"));
    EXPECT_EQ(fs->GetBlock(1)->GetSubContainer(fs), nullptr);
    EXPECT_TRUE(h->IsType("aggregate"));
    EXPECT_STREQ(fs->GetBlockPrefix(h), "H");
    EXPECT_STREQ(sub->GetBlockPrefix(sub->GetBlock(1)), "H.B1");
    EXPECT_EQ(sub->GetBlock(1)->GetParentContainer(fs), sub);
    EXPECT_EQ(Read<std::string>(sub, 1, VA_NAME), "H.B1.U");
}

TEST(EngineStructure, LookupsIgnoreCaseAndAnswerZeroWhenAbsent) {
    auto sim = Nested();
    ZEQEOCntr* fs = sim->GetFlowsheet();
    struct Case { const char* name; int index; };
    const Case vars[] = {{"A.X", 1}, {"a.y", 2}, {"h.b1.u", 3}, {"Z", 9}, {"z", 9}, {"A.NOPE", 0}, {"", 0}, {"A", 0}};
    for (const Case& c : vars) EXPECT_EQ(fs->FindIndex(c.name), c.index) << c.name;
    EXPECT_EQ(fs->FindIndex(nullptr), 0);
    const Case blocks[] = {{"A", 1}, {"h", 2}, {"C", 3}, {"H.B2", 2}, {"h.b9", 0}, {"A.X", 0}, {"", 0}};
    for (const Case& c : blocks) EXPECT_EQ(fs->FindBlockIndex(c.name), c.index) << c.name;
    EXPECT_STREQ(fs->FindBlock("h.B2")->GetName(), "B2");
    EXPECT_EQ(fs->FindBlock("A.B2"), nullptr);
    EXPECT_EQ(fs->FindEquationIndex("a.e1"), 1);
    EXPECT_EQ(fs->FindEquationIndex("H.B1.EV"), 3);
    EXPECT_EQ(fs->FindEquationIndex("EZ"), 4);
    EXPECT_EQ(fs->FindEquationIndex("missing"), 0);
    ZEQEOBlock* a = fs->GetBlock(1);
    EXPECT_EQ(a->FindPort("out"), 1);
    EXPECT_EQ(a->FindPort("IN"), 0);
}

// An equation's names resolve to the variable the name index answers, whether its block's own variables are
// searched first or not: a full name that two variables share (a builder's block "B.C" beside block C of
// hierarchy B) goes to the first of them, here the other block's.
TEST(EngineStructure, EquationsResolveNamesAsTheIndexDoes) {
    ModelBuilder m;
    m.Block("B.C").Var("X", 1).Hierarchy("B").Block("C").Var("X", 2).Var("Y", 0).Eqn("E", "Y = X").EndHierarchy();
    auto sim = m.Create();
    const zeq::Equation& e = sim->Eqns().back();
    ASSERT_TRUE(e.compiled) << e.Extras().error;
    EXPECT_EQ(sim->FindVar("B.C.X"), 0);
    ASSERT_EQ(e.rhs.Vars().size(), 1u);
    EXPECT_EQ(e.rhs.Vars()[0], 0);
    // Once the name is no longer shared, the block's own variable is found.
    ASSERT_EQ(sim->GetFlowsheet()->RemoveBlock(ZEQString("B.C")), 0);
    const zeq::Equation& after = sim->Eqns().back();
    ASSERT_EQ(after.rhs.Vars().size(), 1u);
    EXPECT_EQ(after.rhs.Vars()[0], sim->FindVar("B.C.X"));
    EXPECT_EQ(sim->Vars()[static_cast<size_t>(after.rhs.Vars()[0])].value, 2);
}

TEST(EngineStructure, ParametersCountFromZeroAndPortsAnswerParentIndexes) {
    auto sim = Nested();
    ZEQEOCntr* fs = sim->GetFlowsheet();
    ZEQEOBlock* a = fs->GetBlock(1);
    ASSERT_EQ(a->GetParameterCount(), 2);
    EXPECT_STREQ(a->GetParameterName(0), "P0");
    EXPECT_STREQ(a->GetParameterName(1), "P1");
    EXPECT_EQ(a->GetParameterName(2), nullptr);
    EXPECT_EQ(a->GetParameterName(-1), nullptr);
    zeq_port* out = a->GetPort(1);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(a->GetPort(2), nullptr);
    EXPECT_EQ(out->GetVariableCount(), 1);
    EXPECT_EQ(out->GetVariable(0), fs->FindIndex("A.Y"));
    EXPECT_EQ(out->GetVariable(1), 0);
    // A port of a block inside a hierarchy answers indexes of the hierarchy's container.
    ZEQEOCntr* sub = fs->GetBlock(2)->GetSubContainer(fs);
    zeq_port* in = sub->GetBlock(2)->GetPort(1);
    EXPECT_EQ(in->GetVariable(0), sub->FindIndex("B2.Q"));
}

// Setting takes a reference and releases the previous one; a hierarchy block and its container share one
// slot.
TEST(EngineWrapperHolders, SetTakesAReferenceAndReleasesThePreviousOne) {
    auto sim = Nested();
    ZEQEOCntr* fs = sim->GetFlowsheet();
    ZEQEOBlock* h = fs->GetBlock(2);
    ZEQEOCntr* sub = h->GetSubContainer(fs);
    FakeWrapper first, second;
    sub->SetWrapper(&first);
    EXPECT_EQ(first.refs, 1);
    EXPECT_EQ(h->GetWrapper(), &first);
    EXPECT_EQ(first.refs, 1) << "GetWrapper lends";
    h->SetWrapper(&second);
    EXPECT_EQ(first.refs, 0);
    EXPECT_EQ(second.refs, 1);
    EXPECT_EQ(sub->GetWrapper(), &second);
    sub->SetWrapper(nullptr);
    EXPECT_EQ(second.refs, 0);
    EXPECT_EQ(h->GetWrapper(), nullptr);
}

TEST(EngineWrapperHolders, ReleaseMayReenterTheHolder) {
    auto sim = Nested();
    ZEQEOBlock* a = sim->GetFlowsheet()->GetBlock(1);
    struct Reenter final : public INUVWrapper {
        ZEQEOBlock* holder = nullptr;
        int refs = 0;
        INUVWrapper* seen_in_release = reinterpret_cast<INUVWrapper*>(1);
        HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
        ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs); }
        ULONG STDMETHODCALLTYPE Release() override {
            seen_in_release = holder->GetWrapper();
            return static_cast<ULONG>(--refs);
        }
        HRESULT STDMETHODCALLTYPE QueryOuter(REFIID, void**) override { return E_NOINTERFACE; }
        HRESULT STDMETHODCALLTYPE Notify(LONG) override { return 0; }
    } w;
    w.holder = a;
    a->SetWrapper(&w);
    a->SetWrapper(nullptr);
    EXPECT_EQ(w.seen_in_release, nullptr) << "the slot is cleared before the release";
    EXPECT_EQ(w.refs, 0);
}

TEST(EngineWrapperHolders, EngineReleasesEveryWrapperWhenDestroyed) {
    FakeWrapper sim_w, block_w, port_w, solver_w, cntr_w;
    {
        auto sim = Nested();
        sim->SetWrapper(&sim_w);
        sim->GetFlowsheet()->SetWrapper(&cntr_w);
        sim->GetFlowsheet()->GetBlock(3)->SetWrapper(&block_w);
        sim->GetFlowsheet()->GetBlock(1)->GetPort(1)->SetWrapper(&port_w);
        sim->SetSolverWrapper(sim->GetSolver(1), &solver_w);
        EXPECT_EQ(sim->GetSolverWrapper(sim->GetSolver(1)), &solver_w);
    }
    for (FakeWrapper* w : {&sim_w, &block_w, &port_w, &solver_w, &cntr_w}) EXPECT_EQ(w->refs, 0);
}

// A factory standing in for the system's wrapper creation.
struct Factory {
    static inline std::vector<FakeWrapper*> made;
    static inline std::vector<int> indexes;
    static HRESULT Create(ZEQEOSimulation*, int index, REFIID riid, void** ppv, INUVWrapper** out) {
        auto* w = new FakeWrapper;
        w->delete_at_zero = true;
        HRESULT hr = w->QueryInterface(riid, ppv);
        w->AddRef();
        *out = w;
        made.push_back(w);
        indexes.push_back(index);
        return hr;
    }
};

class EngineItems : public ::testing::Test {
protected:
    void SetUp() override {
        Factory::made.clear();
        Factory::indexes.clear();
        zeq_set_wrapper_factory(&Factory::Create, &Factory::Create);
    }
    void TearDown() override { zeq_set_wrapper_factory(nullptr, nullptr); }
};

TEST_F(EngineItems, GetItemCreatesOnceAndKeepsTheWrapper) {
    auto sim = Nested();
    ZEQEOCntr* fs = sim->GetFlowsheet();
    void* p1 = nullptr;
    void* p2 = nullptr;
    ASSERT_EQ(fs->GetItem(2, IID_IUnknown, &p1), S_OK);
    ASSERT_EQ(fs->GetItem(2, IID_IUnknown, &p2), S_OK);
    EXPECT_EQ(p1, p2);
    ASSERT_EQ(Factory::made.size(), 1u);
    EXPECT_EQ(Factory::indexes[0], 2);
    EXPECT_EQ(Factory::made[0]->outer_queries, 1);
    static_cast<IUnknown*>(p1)->Release();
    static_cast<IUnknown*>(p2)->Release();
    EXPECT_EQ(Factory::made[0]->refs, 1) << "the engine keeps its reference";
    // Items of a sub-container are created with their flowsheet index.
    ZEQEOCntr* sub = fs->GetBlock(2)->GetSubContainer(fs);
    void* e = nullptr;
    ASSERT_EQ(sub->GetEquationItem(2, IID_IUnknown, &e), S_OK);
    EXPECT_EQ(Factory::indexes.back(), 3);
    static_cast<IUnknown*>(e)->Release();
    EXPECT_EQ(fs->GetItem(0, IID_IUnknown, &e), E_INVALIDARG);
    EXPECT_EQ(e, nullptr);
    EXPECT_EQ(fs->GetItem(1, IID_IUnknown, nullptr), E_POINTER);
    zeq_set_wrapper_factory(nullptr, nullptr);
    EXPECT_EQ(fs->GetItem(3, IID_IUnknown, &e), E_NOTIMPL) << "no factory";
    EXPECT_EQ(e, nullptr);
}

TEST_F(EngineItems, RenumberingNotifiesAndRemovalReleases) {
    auto sim = Nested();
    ZEQEOCntr* fs = sim->GetFlowsheet();
    void* p = nullptr;
    int c_r = fs->FindIndex("C.R");
    ASSERT_EQ(fs->GetItem(c_r, IID_IUnknown, &p), S_OK);
    static_cast<IUnknown*>(p)->Release();
    FakeWrapper* r_wrapper = Factory::made.back();
    ASSERT_EQ(fs->GetItem(1, IID_IUnknown, &p), S_OK);  // A.X, removed below
    static_cast<IUnknown*>(p)->Release();
    EXPECT_EQ(fs->RemoveBlock(ZEQString("a")), 0);
    EXPECT_EQ(fs->FindIndex("C.R"), c_r - 2);
    ASSERT_FALSE(r_wrapper->notified.empty());
    EXPECT_EQ(r_wrapper->notified.back(), c_r - 2);
    EXPECT_EQ(Factory::made.size(), 2u);
    EXPECT_EQ(fs->RemoveBlock(ZEQString("A")), ZEQ_E_NOT_FOUND);
}

TEST(EngineEditing, AddBlockChecksNameAndTypeAndRenumbers) {
    auto sim = Nested();
    ZEQEOCntr* fs = sim->GetFlowsheet();
    ZEQEOBlockEditor* ed = fs->GetEditor();
    EXPECT_EQ(sim->AddLibrary("standard"), S_FALSE) << "the builder loads it already";
    EXPECT_EQ(sim->AddLibrary("/no/such/library"), ZEQ_E_FILE);
    int z_before = fs->FindIndex("Z");
    EXPECT_EQ(ed->AddBlock(fs, "M1", "MIXER", nullptr), 0);
    EXPECT_EQ(fs->GetBlockCount(), 4);
    EXPECT_EQ(fs->FindIndex("Z"), z_before + 6) << "loose variables follow the blocks";
    EXPECT_EQ(fs->FindIndex("M1.F"), z_before + 4);
    EXPECT_EQ(ed->AddBlock(fs, "M1", "MIXER", nullptr), ZEQ_E_BAD_NAME);
    EXPECT_EQ(ed->AddBlock(fs, "BAD.NAME", "MIXER", nullptr), ZEQ_E_BAD_NAME);
    EXPECT_EQ(ed->AddBlock(fs, "", "MIXER", nullptr), ZEQ_E_BAD_NAME);
    EXPECT_EQ(ed->AddBlock(fs, "M2", "NOSUCHTYPE", nullptr), ZEQ_E_UNKNOWN_TYPE);
    // Arguments set parameters of the new block; an unknown parameter makes creation fail.
    value_t args;
    value_init(&args);
    value_assign_string(&args, strdup("PDROP=0.5"));
    ZEQEOCntr* sub = fs->GetBlock(2)->GetSubContainer(fs);
    EXPECT_EQ(ed->AddBlock(sub, "HX", "HEATER", &args), 0);
    value_assign_string(&args, strdup("NOPE=1"));
    EXPECT_EQ(ed->AddBlock(sub, "HY", "HEATER", &args), ZEQ_E_CREATE_FAILED);
    value_destroy(&args);
    ZEQParameterData rec;
    rec.mask.Set(PA_VALUE);
    ASSERT_TRUE(rec.Load(sub->FindBlock("HX"), "PDROP"));
    EXPECT_DOUBLE_EQ(Get<double>(rec, PA_VALUE), 0.5);
    EXPECT_GT(fs->FindIndex("H.HX.DUTY"), 0);
    EXPECT_EQ(sim->RemoveLibrary("STANDARD"), 0);
    EXPECT_EQ(ed->AddBlock(fs, "M3", "MIXER", nullptr), ZEQ_E_UNKNOWN_TYPE);
    EXPECT_EQ(sim->RemoveLibrary("STANDARD"), ZEQ_E_NOT_FOUND);
    EXPECT_EQ(sim->AddLibrary("STANDARD"), 0);
    EXPECT_EQ(ed->AddBlock(fs, "M3", "MIXER", nullptr), 0);
    zeq::testing::CallJournal journal(*sim);
    EXPECT_EQ(fs->RemoveAllBlocks(0, true), 0);
    EXPECT_TRUE(journal.Contains("RemoveAllBlocks"));
    EXPECT_EQ(fs->GetBlockCount(), 0);
    EXPECT_EQ(fs->GetCount(), 1);
    EXPECT_EQ(fs->FindIndex("Z"), 1);
}

// The lookups by name follow every change of structure: after blocks are added, removed and renamed (names
// freed and taken again, a case changed) and after another model is loaded, every block and variable is
// found where it is now, by any case of its name, and no name that went is found. Enough blocks that
// names share probe runs of the indexes.
TEST(EngineEditing, LookupsFollowEveryChangeOfStructure) {
    auto sim = std::make_unique<zeq::Simulation>();
    sim->Build(zeq::testing::GenerateModel(400, 2));
    ASSERT_EQ(sim->AddLibrary("standard"), 0);
    ZEQEOCntr* fs = sim->GetFlowsheet();
    struct Member {
        std::string block, variable;  // a variable's name below its block
    };
    std::vector<Member> blocks;  // in container order
    for (int b = 1; b <= 400; ++b) blocks.push_back({"B" + std::to_string(b), "X2"});
    std::vector<Member> gone;
    auto lower = [](std::string s) {
        for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return s;
    };
    auto check = [&](const char* step) {
        ASSERT_EQ(fs->GetBlockCount(), static_cast<int>(blocks.size())) << step;
        for (size_t i = 0; i < blocks.size(); ++i) {
            const Member& m = blocks[i];
            const int index = static_cast<int>(i) + 1;
            EXPECT_EQ(fs->FindBlockIndex(lower(m.block).c_str()), index) << step << ' ' << m.block;
            ZEQEOBlock* b = fs->FindBlock(m.block.c_str());
            ASSERT_EQ(b, fs->GetBlock(index)) << step << ' ' << m.block;
            EXPECT_STREQ(b->GetName(), m.block.c_str()) << step;
            const int v = fs->FindIndex(lower(m.block + "." + m.variable).c_str());
            EXPECT_TRUE(v >= b->GetFirstIndex() && v < b->GetFirstIndex() + b->GetCount())
                << step << ' ' << m.block << " variable at " << v;
        }
        for (const Member& m : gone) {
            EXPECT_EQ(fs->FindBlockIndex(m.block.c_str()), 0) << step << ' ' << m.block;
            EXPECT_EQ(fs->FindIndex((m.block + "." + m.variable).c_str()), 0) << step << ' ' << m.block;
        }
    };
    check("built");

    for (int k = 1; k <= 40; ++k) {
        const std::string name = "M" + std::to_string(k);
        ASSERT_EQ(fs->GetEditor()->AddBlock(fs, name.c_str(), "MIXER", nullptr), 0);
        blocks.push_back({name, "F"});
    }
    check("added");

    for (int b = 2; b <= 100; ++b) {
        ASSERT_EQ(fs->RemoveBlock(ZEQString(("b" + std::to_string(b)).c_str())), 0);
        gone.push_back(blocks[1]);
        blocks.erase(blocks.begin() + 1);
    }
    check("removed");

    // B200 takes a new name; B301 and B302 trade names; B300 changes only its case.
    auto rename = [&](const std::string& from, const std::string& to) {
        ASSERT_EQ(sim->ExecuteCommand(("rename " + from + " " + to + "\n").c_str()), 0) << from;
        for (Member& m : blocks)
            if (lower(m.block) == lower(from)) m.block = to;
    };
    gone.push_back({"B200", "X2"});
    rename("B200", "R200");
    rename("B301", "TMP");
    rename("B302", "B301");
    rename("TMP", "B302");
    rename("B300", "b300");
    gone.push_back({"TMP", "X2"});
    check("renamed");

    sim->Build(zeq::testing::GenerateModel(150, 2));
    fs = sim->GetFlowsheet();
    blocks.resize(150);
    for (int b = 1; b <= 150; ++b) blocks[static_cast<size_t>(b - 1)] = {"B" + std::to_string(b), "X2"};
    gone = {{"M1", "F"}, {"M40", "F"}, {"R200", "X2"}, {"B151", "X2"}, {"B400", "X2"}};
    check("reloaded");
}

TEST(EngineServices, RegistriesKeepProvidersAndFindThemByNameOrId) {
    struct Provider final : INUVSimServiceProvider {
        int refs = 0;
        HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
        ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs); }
        ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--refs); }
        HRESULT STDMETHODCALLTYPE CreateService(ZEQEOSimulation*, REFGUID, REFIID, void**) override { return E_FAIL; }
    } p1, p2;
    constexpr GUID id1 = guid_from_literal("00380012-9E41-4C6B-8D27-3A5F0C19E6B4");
    constexpr GUID id2 = guid_from_literal("00380013-9E41-4C6B-8D27-3A5F0C19E6B4");
    {
        auto sim = Nested();
        ASSERT_EQ(sim->RegisterService("EBScriptService", id1, &p1), 0);
        ASSERT_EQ(sim->RegisterService("NUVSimulationMsgs", id2, &p2), 0);
        EXPECT_EQ(p1.refs, 1);
        INUVSimServiceProvider* found = nullptr;
        GUID id{};
        EXPECT_EQ(sim->FindService("ebscriptservice", &found, &id), 0);
        EXPECT_EQ(found, &p1);
        EXPECT_EQ(id, id1);
        EXPECT_EQ(sim->FindServiceById(id2, &found), 0);
        EXPECT_EQ(found, &p2);
        EXPECT_LT(sim->FindService("none", &found, &id), 0);
        EXPECT_EQ(found, nullptr);
        INUVBlockServiceProvider* bp = nullptr;
        EXPECT_LT(sim->FindBlockService("EBScriptService", &id, &bp), 0) << "a separate registry";
        ASSERT_EQ(sim->RegisterService("EBScriptService", id1, &p2), 0);
        EXPECT_EQ(p1.refs, 0) << "re-registration releases the replaced provider";
    }
    EXPECT_EQ(p1.refs, 0);
    EXPECT_EQ(p2.refs, 0);
}

TEST(EngineScopes, ScopeStackAndSolverScopes) {
    auto sim = Nested();
    ZEQEOCntr* fs = sim->GetFlowsheet();
    ZEQEOCntr* sub = fs->GetBlock(2)->GetSubContainer(fs);
    EXPECT_EQ(sim->PushScope(sub), 0);
    EXPECT_EQ(sim->PopScope(), 0);
    EXPECT_EQ(sim->PopScope(), S_FALSE);
    EXPECT_LT(sim->PushScope(nullptr), 0);
    EXPECT_EQ(SolverScope(*sim), "Plant");
    EXPECT_EQ(sim->SetSolverScope("h"), 0);
    EXPECT_EQ(SolverScope(*sim), "H");
    EXPECT_LT(sim->SetSolverScope("A"), 0) << "a plain block is no scope";
    ZEQStringList scopes;
    sim->GetSolverScopeList(scopes, 0, 0);
    ASSERT_EQ(scopes.GetCount(), 2);
    EXPECT_STREQ(scopes.GetAt(0), "Plant");
    EXPECT_STREQ(scopes.GetAt(1), "H");
    // Removing the scope's block resets the solver scope to the plant.
    EXPECT_EQ(fs->RemoveBlock(ZEQString("H")), 0);
    EXPECT_EQ(SolverScope(*sim), "Plant");
}

TEST(EngineObjectives, NoneAndNullMeanNoObjective) {
    auto sim = ModelBuilder().Block("A").Var("X", 1).Objective("COST", "A.X * 2").Objective("GAIN", "A.X", true).Create();
    EXPECT_EQ(sim->GetDefaultObjective(), nullptr);
    EXPECT_EQ(sim->SetDefaultObjective("cost"), 0);
    EXPECT_STREQ(sim->GetDefaultObjective(), "COST");
    EXPECT_EQ(sim->SetDefaultObjective("none"), 0);
    EXPECT_EQ(sim->GetDefaultObjective(), nullptr);
    EXPECT_EQ(sim->SetDefaultObjective("GAIN"), 0);
    EXPECT_EQ(sim->SetDefaultObjective(nullptr), 0);
    EXPECT_EQ(sim->GetDefaultObjective(), nullptr);
    EXPECT_EQ(sim->SetDefaultObjective("NOPE"), static_cast<int>(0x80040602));
    EXPECT_FALSE(sim->IsValidObjective("NONE"));
    EXPECT_EQ(sim->SolveWithObjective("NOPE"), static_cast<int>(0x80040601));
}

TEST(EngineSolvers, ParametersByKindCountFromOne) {
    auto sim = ModelBuilder().Block("A").Var("X", 1).Create();
    ASSERT_EQ(sim->GetSolverCount(), 1);
    EngineSolver* s = sim->GetSolver(1);
    EXPECT_EQ(sim->GetSolver(2), nullptr);
    EXPECT_EQ(sim->FindSolver("main"), s);
    EXPECT_EQ(s->GetParameterType("maxiter"), 1);
    EXPECT_EQ(s->GetParameterType("TOLERANCE"), 2);
    EXPECT_EQ(s->GetParameterType("METHOD"), 3);
    EXPECT_EQ(s->GetParameterType("NOPE"), 0);
    char buf[8];
    int iv = 0;
    ASSERT_TRUE(s->GetIntParameterName(1, buf, sizeof buf, &iv));
    EXPECT_STREQ(buf, "MAXITER");
    char tiny[4];
    ASSERT_TRUE(s->GetIntParameterName(2, tiny, sizeof tiny, &iv));
    EXPECT_STREQ(tiny, "PRI") << "names are cut to the buffer";
    EXPECT_FALSE(s->GetIntParameterName(3, buf, sizeof buf, &iv));
    EXPECT_FALSE(s->GetRealParameterName(0, buf, sizeof buf, nullptr));
    EXPECT_EQ(s->SetRealParameter("tolerance", 1e-3), 0);
    // Settings no solve can work with are refused when set, the old value kept.
    EXPECT_EQ(s->SetIntParameter("MAXITER", -5), ZEQ_E_REFUSED);
    EXPECT_EQ(s->SetIntParameter("MAXITER", 0), ZEQ_E_REFUSED);
    for (const auto& [name, value] : {std::pair{"TOLERANCE", -1.0}, {"TOLERANCE", 0.0}, {"TOLERANCE", NAN},
                                      {"DAMPING", 0.0}, {"DAMPING", 1.5}, {"DAMPING", INFINITY}})
        EXPECT_EQ(s->SetRealParameter(name, value), ZEQ_E_REFUSED) << name << " " << value;
    EXPECT_EQ(s->GetIntParameter("MAXITER"), 100);
    EXPECT_DOUBLE_EQ(s->GetRealParameter("TOLERANCE"), 1e-3);
    EXPECT_DOUBLE_EQ(s->GetRealParameter("DAMPING"), 1.0);
    EXPECT_LT(s->SetIntParameter("NOPE", 1), 0);
    EXPECT_EQ(s->SetTextParameter("METHOD", "OTHER"), 0);
    EXPECT_STREQ(s->GetTextParameter("method"), "OTHER");
    EXPECT_EQ(s->GetTextParameter("NOPE"), nullptr);
}

TEST(EngineConnections, EnumerateAndToggle) {
    auto sim = ModelBuilder().Block("A").Var("X", 1, SPEC_CONST).Block("B").Var("Y", 0)
        .Connect("C1", "A.X", "B.Y").Connect("C2", "A.X", "B.NONE", 2).Create();
    ZEQEOCntr* fs = sim->GetFlowsheet();
    struct Seen { std::vector<EngineConnection*> list; ZEQEOCntr* owner = nullptr; } seen;
    auto collect = [](void*, ZEQEOCntr* owner, EngineConnection* c, void* ctx, void*) {
        auto* s = static_cast<Seen*>(ctx);
        s->list.push_back(c);
        s->owner = owner;
        return 0;
    };
    EXPECT_EQ(fs->EnumerateConnections(collect, &seen, 0, 0), 0);
    ASSERT_EQ(seen.list.size(), 2u);
    EXPECT_EQ(seen.owner, fs);
    EngineConnection* c1 = seen.list[0];
    EXPECT_STREQ(c1->GetName(), "C1");
    EXPECT_STREQ(c1->GetName(0), "C1");
    EXPECT_EQ(c1->GetKind(), 1);
    EXPECT_TRUE(c1->IsEnabled());
    EXPECT_TRUE(c1->IsActive());
    EXPECT_FALSE(seen.list[1]->IsActive()) << "an end that does not exist";
    EXPECT_EQ(fs->DisableConnection(c1), 0);
    EXPECT_FALSE(c1->IsEnabled());
    EXPECT_FALSE(c1->IsActive());
    EXPECT_EQ(fs->EnableConnection(c1), 0);
    EXPECT_TRUE(c1->IsEnabled());
}

TEST(FaultInjection, NextResultIsReturnedOnceByTheNextOperation) {
    auto sim = ModelBuilder().Block("A").Var("X", 1).Eqn("E", "X = 1").Hierarchy("H").Block("B")
        .Var("Y", 1).EndHierarchy().Create();
    ZEQEOCntr* fs = sim->GetFlowsheet();
    const int injected = static_cast<int>(0x80040999);
    struct Op {
        const char* name;
        std::function<int()> call;
    };
    const Op ops[] = {
        {"PopScope", [&] { return sim->PopScope(); }},
        {"ResetScope", [&] { return sim->ResetScope(); }},
        {"SetSolverScope", [&] { return sim->SetSolverScope("H"); }},
        {"SetDefaultObjective", [&] { return sim->SetDefaultObjective(nullptr); }},
        {"Solve", [&] { return sim->Solve(); }},
        {"AddLibrary", [&] { return sim->AddLibrary("STANDARD"); }},
        {"SaveSimulation", [&] { return sim->SaveSimulation("/dev/null"); }},
        {"CalculateSensitivity", [&] {
             int dep = 1, ind = 1, flags[2];
             double res[2], f = 1, extra;
             return sim->CalculateSensitivity(nullptr, &dep, 1, &ind, 1, &f, &f, res, flags, &extra);
         }},
        {"RemoveBlock", [&] { return fs->RemoveBlock(ZEQString("NOPE")); }},
        {"AddBlock", [&] { return fs->GetEditor()->AddBlock(fs, "N", "MIXER", nullptr); }},
    };
    for (const Op& op : ops) {
        zeq::testing::FailNext(*sim, injected);
        EXPECT_EQ(op.call(), injected) << op.name;
        EXPECT_NE(op.call(), injected) << op.name << " consumed it";
    }
}

}  // namespace
