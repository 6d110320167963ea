// Solving: results on flowsheets with and without a recycle, statuses, events, output, run modes,
// cancellation, commands and sensitivities.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <stdexcept>

#include "capture.h"
#include "expr.h"
#include "modelfile.h"
#include "zeq_testing.h"

using zeq::testing::ModelBuilder;

namespace {

double Value(zeq::Simulation& sim, const char* name) {
    int pos = sim.FindVar(name);
    EXPECT_GE(pos, 0) << name;
    return pos < 0 ? NAN : sim.Vars()[static_cast<size_t>(pos)].value;
}

void Set(zeq::Simulation& sim, const char* name, double base) { sim.Vars()[static_cast<size_t>(sim.FindVar(name))].value = base; }

// Expressions evaluate by precedence over numbers, variables and functions, and a copy evaluates the
// same; the expected values are the same arithmetic written in C++.
TEST(Expressions, EvaluateByPrecedenceAndCopiesEvaluateTheSame) {
    const double X = 4, Y = 0.5;
    const zeq::Resolver resolve = [](std::string_view n) { return n == "X" ? 0 : n == "Y" ? 1 : -1; };
    auto value_of = [&](int v) { return v == 0 ? X : Y; };
    struct Case {
        std::string text;
        double expected;
        size_t vars;
    };
    std::string long_sum = "X";
    for (int i = 0; i < 140000; ++i) long_sum += i % 2 ? " + 1.5" : " - Y";
    const Case cases[] = {
        {"2 + 3 * X", 2 + 3 * X, 1},
        {"(2 + 3) * X - Y / 4", (2 + 3) * X - Y / 4, 2},
        {"-X ^ 2 + 10", -std::pow(X, 2) + 10, 1},
        {"SQRT(X) + EXP(0) + MAX(X, Y) * MIN(1.25, Y)", std::sqrt(X) + 1 + std::max(X, Y) * std::min(1.25, Y), 2},
        {"7.5", 7.5, 0},
        {long_sum, X + 70000 * 1.5 - 70000 * Y, 2},
    };
    for (const Case& c : cases) {
        zeq::Expr e;
        std::string error;
        ASSERT_TRUE(zeq::ParseExpr(c.text, resolve, e, error)) << c.text.substr(0, 40) << ": " << error;
        EXPECT_DOUBLE_EQ(e.EvalWith(value_of), c.expected) << c.text.substr(0, 40);
        EXPECT_EQ(e.Vars().size(), c.vars) << c.text.substr(0, 40);
        const zeq::Expr copy = e;
        e = zeq::Expr{};
        EXPECT_DOUBLE_EQ(copy.EvalWith(value_of), c.expected) << c.text.substr(0, 40);
        EXPECT_EQ(std::vector<int>(copy.Vars().begin(), copy.Vars().end()).size(), c.vars);
    }
}

// At steady state the product carries the feed (mass balance) and all the heater's duty (energy balance),
// both to the solver's tolerance whatever the scale of the flow; the example file solves the same way.
TEST(Solve, PlantSatisfiesBothBalancesToTheTolerance) {
    struct Case {
        const char* file;  // null: the builder's plant with the settings below
        double feed, duty, frac, tolerance;
    };
    const Case cases[] = {{nullptr, 2.0, 1e5, 0.25, 1e-13}, {nullptr, 1e-6, 0.05, 0.6, 1e-10},
                          {nullptr, 1e-6, 2e3, 0.1, 1e-12}, {NUV_EXAMPLES_DIR "/plant.model", 0, 0, 0, 1e-10}};
    for (const Case& c : cases) {
        auto sim = std::make_unique<zeq::Simulation>();
        if (c.file) {
            ASSERT_EQ(sim->OpenSimulation(c.file), 0);
        } else {
            sim->Build(zeq::testing::PlantModel());
            Set(*sim, "FEED.F", c.feed);
            Set(*sim, "SECTION.HTR.DUTY", c.duty);
            Set(*sim, "SECTION.SPL.FRAC", c.frac);
            ASSERT_EQ(sim->GetSolver(1)->SetRealParameter("TOLERANCE", c.tolerance), 0);
            ASSERT_EQ(sim->GetSolver(1)->SetIntParameter("MAXITER", 1000), 0);
        }
        OutputCapture out;
        ASSERT_EQ(sim->Solve(), 0) << out.text;
        // Energy: the product leaves at the feed's temperature raised by the whole duty.
        const double feed = Value(*sim, "FEED.F");
        const double heated = Value(*sim, "FEED.T") + Value(*sim, "SECTION.HTR.DUTY") / (feed * Value(*sim, "SECTION.HTR.CP"));
        // Substitution stops when the last relative change is within the tolerance; the distance left to the
        // fixed point is that change times (1 - FRAC) / FRAC, at most 9 here.
        const double within = 10 * c.tolerance;
        EXPECT_NEAR(Value(*sim, "PROD.F") / feed, 1, within) << feed;
        EXPECT_NEAR(Value(*sim, "PROD.T") / heated, 1, within) << feed;
        EXPECT_NEAR(Value(*sim, "MIX.F") * Value(*sim, "SECTION.SPL.FRAC") / feed, 1, within) << feed;
        for (const zeq::Equation& e : sim->Eqns()) EXPECT_NEAR(e.residual, 0, 1e-6) << e.name;
    }
}

TEST(Solve, StatusesOfEveryOutcome) {
    struct Case {
        const char* what;
        std::function<void(ModelBuilder&)> build;
        const char* objective;
        int status;
        int result;
        const char* message;
    };
    const zeq::SolverDef five{"MAIN", {{"MAXITER", 5}}, {{"TOLERANCE", 1e-8}}, {}};
    const Case cases[] = {
        {"no variables", [](ModelBuilder&) {}, nullptr, ZEQ_RUN_NO_VARIABLES, ZEQ_E_PROBLEM_EMPTY, "no variables"},
        {"no equations", [](ModelBuilder& m) { m.Block("A").Var("X", 1); }, nullptr, ZEQ_RUN_NO_EQUATIONS,
         ZEQ_E_PROBLEM_EMPTY, "no equations"},
        {"no solver", [](ModelBuilder& m) { m.Block("A").Var("X", 1).Eqn("E", "X = 2").NoSolver(); }, nullptr,
         ZEQ_RUN_NO_SOLVER, ZEQ_E_NO_SOLVER, "No solver"},
        {"completed", [](ModelBuilder& m) { m.Block("A").Var("X", 1).Eqn("E", "X = 2"); }, nullptr, ZEQ_RUN_COMPLETED, 0,
         "Solution converged"},
        {"contradiction", [](ModelBuilder& m) { m.Block("A").Var("X", 1, SPEC_CONST).Eqn("E", "X = 2"); }, nullptr,
         ZEQ_RUN_NOT_CONVERGED, ZEQ_E_NOT_CONVERGED, "Equations not satisfied"},
        {"slow loop",
         [&](ModelBuilder& m) { m.Block("A").Var("X", 0).Var("Y", 0).Eqn("E1", "X = 0.99 * Y + 1").Eqn("E2", "Y = X").Solver(five); },
         nullptr, ZEQ_RUN_NOT_CONVERGED, ZEQ_E_NOT_CONVERGED, "Loop 1 did not converge in 5 iterations"},
        {"objective fails", [](ModelBuilder& m) { m.Block("A").Var("X", 0).Eqn("E", "X = 0").Objective("BAD", "1 / A.X"); },
         "bad", ZEQ_RUN_OBJECTIVE_ERROR, ZEQ_E_OBJECTIVE_ERROR, "Objective BAD cannot be evaluated"},
        {"objective", [](ModelBuilder& m) { m.Block("A").Var("X", 0).Eqn("E", "X = 0").Objective("OK", "A.X + 1"); },
         "OK", ZEQ_RUN_COMPLETED, 0, "Objective OK = 1"},
    };
    for (const Case& c : cases) {
        ModelBuilder m;
        c.build(m);
        auto sim = m.Create();
        EventRecorder events;
        OutputCapture out;
        EXPECT_EQ(c.objective ? sim->SolveWithObjective(c.objective) : sim->Solve(), c.result) << c.what;
        EXPECT_NE(out.text.find(c.message), std::string::npos) << c.what << ": " << out.text;
        ASSERT_EQ(events.Count(ZEQ_EVT_RUN_FINISHED), 1) << c.what;
        EXPECT_EQ(events.events.front().event, ZEQ_EVT_RUN_STARTED) << c.what;
        EXPECT_EQ(events.events.back().event, ZEQ_EVT_RUN_FINISHED) << c.what;
        EXPECT_EQ(events.events.back().b, c.status) << c.what;
        EXPECT_EQ(events.events.back().text, "Plant") << c.what;
    }
}

// A variable's quantities are finite. A solve that runs away to an infinity or NaN fails, and each
// variable that ran away keeps its value from before; the others keep what the solve gave them, and the
// model saves and opens again as it is.
TEST(Solve, ARunawaySolveLeavesEveryVariableFinite) {
    const zeq::SolverDef many{"MAIN", {{"MAXITER", 50}}, {{"TOLERANCE", 1e-8}}, {}};
    struct Case {
        const char* what;
        const char* equation;
    };
    const Case cases[] = {
        {"an assignment overflows", "Z = 1e200 * 1e200 * Y"},
        {"an assignment gives NaN", "Z = 1e200 * 1e200 * Y - 1e200 * 1e200 * Y"},
        {"a loop grows without end", "Z = 1e300 * W + 1"},
    };
    for (const Case& c : cases) {
        ModelBuilder m;
        m.Block("A").Var("Y", 1, SPEC_CONST).Var("X", 0).Var("Z", 7).Var("W", 8).Eqn("E", c.equation).Eqn("F", "W = Z").Eqn("G", "X = Y + 1").Solver(many);
        auto sim = m.Create();
        OutputCapture out;
        EXPECT_EQ(sim->Solve(), ZEQ_E_NOT_CONVERGED) << c.what;
        EXPECT_EQ(Value(*sim, "A.X"), 2) << c.what;
        EXPECT_EQ(Value(*sim, "A.Z"), 7) << c.what;
        for (const zeq::Variable& v : sim->Vars()) EXPECT_TRUE(std::isfinite(v.value)) << c.what << ": " << v.name;
        const std::string saved = zeq::WriteModel(sim->Export());
        zeq::ModelDef again;
        std::string error;
        ASSERT_TRUE(zeq::ParseModel(saved, again, error)) << c.what << ": " << error;
        EXPECT_EQ(zeq::WriteModel(again), saved) << c.what;
    }
}

TEST(Solve, EventsComeInOrderAndNameTheSolvedScope) {
    auto sim = std::make_unique<zeq::Simulation>();
    sim->Build(zeq::testing::PlantModel());
    ASSERT_EQ(sim->SetSolverScope("SECTION"), 0);
    EventRecorder events;
    OutputCapture out;
    sim->Solve();
    std::vector<int> n = events.Numbers();
    ASSERT_GE(n.size(), 3u);
    EXPECT_EQ(n.front(), ZEQ_EVT_RUN_STARTED);
    EXPECT_EQ(n[n.size() - 2], ZEQ_EVT_FLOWSHEET);
    EXPECT_EQ(n.back(), ZEQ_EVT_RUN_FINISHED);
    EXPECT_EQ(events.events.front().text, "SECTION");
    EXPECT_EQ(events.events.back().text, "SECTION");
    // Only variables of the scope moved.
    for (auto& e : events.events) {
        if (e.event == ZEQ_EVT_VARIABLE) {
            EXPECT_EQ(e.text.rfind("SECTION.", 0), 0u) << e.text;
        }
    }
}

TEST(Solve, RunModeDecidesWhichSpecsAreFixed) {
    auto sim = ModelBuilder().Block("A").Var("M", 5, SPEC_MEAS).Var("P", 1, SPEC_PARAM).Var("C", 1, SPEC_CONST)
        .Var("I", 1, SPEC_INDEP).Var("O", 1, SPEC_OPTIM).Create();
    struct Case { int mode; bool fixed[5]; };  // M, P, C, I, O
    const Case cases[] = {{ZEQ_MODE_SIMULATION, {true, true, true, true, true}},
                          {ZEQ_MODE_PARAM_EST, {false, false, true, true, true}},
                          {ZEQ_MODE_DATA_RECON, {false, true, true, true, true}},
                          {ZEQ_MODE_OPTIMIZATION, {true, true, true, false, false}}};
    ZEQVariableData rec;
    rec.mask.Set(VA_SPEC);
    for (const Case& c : cases) {
        ASSERT_EQ(rto_set_mode_c(c.mode), 0);
        // The record form answers as the index form does.
        for (int i = 1; i <= 5; ++i) {
            ASSERT_TRUE(rec.Load(sim->GetFlowsheet(), nullptr, i, true));
            EXPECT_EQ(varIsFixed(&rec), varIsFixed(sim.get(), i)) << c.mode << " " << i;
            EXPECT_EQ(varIsIndependent(&rec), varIsIndependent(sim.get(), i)) << c.mode << " " << i;
            int spec = -1;
            ASSERT_TRUE(rec.GetValue(VA_SPEC, spec));
            EXPECT_EQ(varIsFixed(spec), varIsFixed(&rec)) << c.mode << " " << i;
            EXPECT_EQ(varIsFixed(sim.get(), i) != 0, c.fixed[i - 1]) << c.mode << " " << i;
        }
        int mode = -1;
        EXPECT_EQ(rto_inq_mode_c(&mode), c.mode);
        EXPECT_EQ(mode, c.mode);
    }
    EXPECT_EQ(varIsIndependent(sim.get(), 4), 1);
    EXPECT_EQ(varIsIndependent(sim.get(), 5), 1) << "optimisation variables are free decisions in optimisation";
    EXPECT_EQ(rto_set_mode_c(4), -1);
    EXPECT_EQ(rto_inq_mode_c(), ZEQ_MODE_OPTIMIZATION);
    rto_set_mode_c(ZEQ_MODE_SIMULATION);
    EXPECT_EQ(varIsIndependent(sim.get(), 5), 0);
    EXPECT_EQ(varInqPhysicalType(sim.get(), 99), -1);
}

TEST(Solve, CancelStopsOnlyASolveThatRuns) {
    auto sim = std::make_unique<zeq::Simulation>();
    sim->Build(zeq::testing::PlantModel());
    OutputCapture out;
    rtosignal_set_ctrlc();
    EXPECT_EQ(sim->Solve(), 0) << "a cancel requested between solves has nothing to stop";
    EventRecorder events;
    rtoevent_set_callback(ZEQ_EVT_RUN_STARTED, [](intptr_t, intptr_t, ZEQEOSimulation*) -> intptr_t {
        rtosignal_set_ctrlc();
        return 0;
    });
    EXPECT_EQ(sim->Solve(), ZEQ_E_CANCELLED);
    EXPECT_EQ(events.events.back().b, ZEQ_RUN_NOT_CONVERGED);
    EXPECT_EQ(rtosignal_inq_ctrlc(), 0) << "cleared once it stopped the run";
}

TEST(Solve, ExcludedBlocksAreLeftOut) {
    auto sim = ModelBuilder().Block("A").Var("X", 1).Eqn("E", "X = 5").Block("B").Var("Y", 1).Eqn("E", "Y = 6").Create();
    OutputCapture out;
    ASSERT_EQ(sim->ExecuteCommand("exclude B\n"), 0);
    ASSERT_EQ(sim->Solve(), 0);
    EXPECT_EQ(Value(*sim, "A.X"), 5);
    EXPECT_EQ(Value(*sim, "B.Y"), 1);
}

TEST(Commands, RaiseStartAndEndAndReportUnknownCommands) {
    auto sim = ModelBuilder().Block("A").Var("X", 1).Var("Y", 0).Eqn("E", "Y = X * 3").Create();
    EventRecorder events;
    OutputCapture out;
    EXPECT_EQ(sim->ExecuteCommand("set A.X 2\n"), 0);
    EXPECT_EQ(sim->ExecuteCommand("solve\n"), 0);
    EXPECT_DOUBLE_EQ(Value(*sim, "A.Y"), 6);
    EXPECT_EQ(sim->ExecuteCommand("print a.y\n"), 0);
    EXPECT_NE(out.text.find("A.Y = 6"), std::string::npos) << out.text;
    EXPECT_EQ(sim->ExecuteCommand("frobnicate\n"), ZEQ_E_SYNTAX);
    EXPECT_NE(out.text.find("Unknown command: frobnicate"), std::string::npos);
    EXPECT_EQ(sim->ExecuteCommand("set A.NOPE 1\n"), ZEQ_E_NOT_FOUND);
    EXPECT_EQ(sim->ExecuteCommand("set A.X abc\n"), ZEQ_E_SYNTAX);
    EXPECT_EQ(sim->ExecuteCommand("spec A.Y const\n"), 0);
    EXPECT_EQ(varIsFixed(sim.get(), 2), 1);
    ASSERT_FALSE(events.events.empty());
    EXPECT_EQ(events.events.front().event, ZEQ_EVT_COMMAND_START);
    EXPECT_EQ(events.events.front().text, "set A.X 2");
    EXPECT_EQ(events.Count(ZEQ_EVT_COMMAND_START), events.Count(ZEQ_EVT_COMMAND_END));
    // A solve inside a command comes between the command's start and end.
    std::vector<int> n = events.Numbers();
    auto run = std::find(n.begin(), n.end(), ZEQ_EVT_RUN_STARTED);
    ASSERT_NE(run, n.end());
    EXPECT_EQ(*(run - 1), ZEQ_EVT_COMMAND_START);
}

TEST(Sensitivity, FiniteDifferencesOfALinearModel) {
    auto sim = ModelBuilder().Block("A").Var("X", 2, SPEC_INDEP).Var("K", 3, SPEC_CONST).Var("Y", 0).Var("Z", 0)
        .Eqn("E1", "Y = K * X").Eqn("E2", "Z = Y + X * X")
        .Objective("OBJ", "A.Z * 2").Create();
    OutputCapture out;
    int dep[] = {3, 4};
    int ind[] = {1, 2};
    double results[6] = {}, extra = 0;
    int flags[3] = {};
    double depf[] = {1, 2}, indf[] = {1, 1};
    ASSERT_EQ(sim->CalculateSensitivity("OBJ", dep, 2, ind, 2, depf, indf, results, flags, &extra), 0);
    // dY/dX = K, dY/dK = X, dZ/dX = K + 2X (scaled by 1/2), dZ/dK = X (scaled by 1/2); objective 2 * Z.
    EXPECT_NEAR(results[0], 3, 1e-4);
    EXPECT_NEAR(results[1], 2, 1e-4);
    EXPECT_NEAR(results[2], (3 + 4) / 2.0, 1e-4);
    EXPECT_NEAR(results[3], 2 / 2.0, 1e-4);
    EXPECT_NEAR(results[4], 2 * (3 + 4), 1e-3);
    EXPECT_NEAR(extra, 2 * (6 + 4), 1e-9);
    EXPECT_EQ(flags[0] + flags[1] + flags[2], 3);
    EXPECT_DOUBLE_EQ(Value(*sim, "A.X"), 2) << "the model is left as it was";
    EXPECT_EQ(sim->CalculateSensitivity(nullptr, dep, 0, ind, 2, depf, indf, results, flags, &extra), ZEQ_E_SENS_ARGS);
    int bad[] = {99};
    EXPECT_EQ(sim->CalculateSensitivity(nullptr, bad, 1, ind, 1, depf, indf, results, flags, &extra), ZEQ_E_SENS_ARGS);
    EXPECT_EQ(sim->CalculateSensitivity("NOPE", dep, 2, ind, 2, depf, indf, results, flags, &extra),
              static_cast<int>(0x80040601));
}

TEST(BlockEvents, SolveBracketsVariableEventsAndSpecChangesNameTheBlock) {
    auto sim = ModelBuilder().Hierarchy("H").Block("B").Var("X", 1).Var("Y", 0)
        .Eqn("E", "Y = X + 1").EndHierarchy().Create();
    EventRecorder events;
    OutputCapture out;
    ASSERT_EQ(sim->Solve(), 0);
    std::vector<int> n = events.Numbers();
    auto begin = std::find(n.begin(), n.end(), ZEQ_EVT_BLOCKCAT1_BEGIN);
    auto end = std::find(n.begin(), n.end(), ZEQ_EVT_BLOCKCAT1_END);
    ASSERT_TRUE(begin != n.end() && end != n.end());
    EXPECT_EQ(std::count(n.begin(), begin, ZEQ_EVT_VARIABLE), 0);
    EXPECT_EQ(std::count(begin, end, ZEQ_EVT_VARIABLE), 1);
    events.events.clear();
    EXPECT_EQ(sim->Solve(), 0);
    EXPECT_EQ(events.Count(ZEQ_EVT_BLOCKCAT1_BEGIN), 0) << "nothing moved";
    ASSERT_EQ(sim->ExecuteCommand("spec H.B.X CONST\n"), 0);
    ASSERT_EQ(events.Count(ZEQ_EVT_BLOCK_SPECS), 1);
    for (auto& e : events.events) {
        if (e.event == ZEQ_EVT_BLOCK_SPECS) {
            EXPECT_EQ(e.text, "H.B");
        }
    }
}

TEST(BlockEvents, RenameMovesEveryMemberName) {
    auto sim = ModelBuilder().Hierarchy("H").Block("B").Var("X", 1).Var("Y", 0)
        .Eqn("E", "Y = X + 1").EndHierarchy().Block("C").Var("Z", 0)
        .Eqn("E", "Z = H.B.Y * 2").Tag("TX", "H.B.X").Create();
    ASSERT_EQ(sim->SetSolverScope("H"), 0);
    auto* tasks = dynamic_cast<IZEQTaskManager*>(sim->GetDynamicSolver(""));
    ASSERT_EQ(tasks->AddTasks("<tasks><task name='T' time='1'><set variable='H.B.X' value='5'/></task></tasks>", nullptr), 0);
    EventRecorder events;
    OutputCapture out;
    ASSERT_EQ(sim->ExecuteCommand("rename H H2\n"), 0);
    ASSERT_EQ(events.Count(ZEQ_EVT_BLOCK_RENAMED), 1);
    ZEQEOCntr* fs = sim->GetFlowsheet();
    EXPECT_EQ(fs->FindIndex("H.B.X"), 0);
    EXPECT_EQ(fs->FindIndex("H2.B.X"), 1);
    EXPECT_EQ(fs->FindEquationIndex("H2.B.E"), 1);
    EXPECT_STREQ(rtotaglst_inq_tag(sim->GetTagList(), 1)->variable, "H2.B.X");
    EXPECT_EQ(SolverScope(*sim), "H2");
    ASSERT_EQ(sim->SetSolverScope("Plant"), 0);
    ASSERT_EQ(sim->Solve(), 0) << "equations that named the old prefix still resolve";
    EXPECT_DOUBLE_EQ(Value(*sim, "C.Z"), 4);
    ASSERT_EQ(sim->ExecuteCommand("advance 1\n"), 0);
    EXPECT_DOUBLE_EQ(Value(*sim, "H2.B.X"), 5) << "tasks follow the new name";
    EXPECT_EQ(sim->ExecuteCommand("rename C H2\n"), ZEQ_E_BAD_NAME);
    EXPECT_EQ(sim->ExecuteCommand("rename NOPE X\n"), ZEQ_E_NOT_FOUND);
}

TEST(DynamicRun, AdvanceAppliesDueTasksInTimeOrder) {
    auto sim = ModelBuilder().Block("A").Var("U", 1, SPEC_CONST).Var("Y", 0).Profile().Eqn("E", "Y = U * 10").Create();
    auto* tasks = dynamic_cast<IZEQTaskManager*>(sim->GetDynamicSolver(""));
    ASSERT_NE(tasks, nullptr);
    ASSERT_EQ(tasks->AddTasks("<tasks><task name='LATE' time='4'><set variable='A.U' value='3'/></task>"
                              "<task name='EARLY' time='2'><set variable='A.U' value='2'/></task>"
                              "<task name='OFF' time='1' active='false'><set variable='A.U' value='99'/></task></tasks>",
                              nullptr),
              0);
    OutputCapture out;
    ASSERT_EQ(sim->ExecuteCommand("advance 3\n"), 0);
    EXPECT_DOUBLE_EQ(Value(*sim, "A.Y"), 20);
    ASSERT_EQ(sim->ExecuteCommand("advance 10\n"), 0);
    EXPECT_DOUBLE_EQ(Value(*sim, "A.Y"), 30);
    EXPECT_EQ(sim->ExecuteCommand("advance 5\n"), E_INVALIDARG) << "time does not run backwards";
    // The history holds the solves at the tasks' times, interpolated between them; a variable without a
    // profile has none.
    double t[] = {2, 3, 4}, v[3];
    const VarProfile* history = Read<const VarProfile*>(sim->GetFlowsheet(), 2, VA_PROFILE);
    ASSERT_EQ(VarProfile::GetHistory(history, 3, t, v), 0);
    EXPECT_EQ(std::vector<double>(v, v + 3), (std::vector<double>{20, 25, 30}));
    EXPECT_LT(VarProfile::GetHistory(nullptr, 1, t, v), 0);
    EXPECT_LT(VarProfile::GetHistory(history, 1, nullptr, v), 0);
    ZEQVariableData rec;
    rec.mask.Set(VA_PROFILE);
    ASSERT_TRUE(sim->GetFlowsheet()->LoadVariableData(1, &rec, true));
    EXPECT_FALSE(rec.GetValue(VA_PROFILE, history));
}

// Client code reached from an event or from the output pipe may change the model under a running solve.
zeq::Simulation* g_victim = nullptr;

intptr_t RemoveEverything(intptr_t, intptr_t, ZEQEOSimulation*) {
    if (g_victim) g_victim->GetFlowsheet()->RemoveAllBlocks(0, true);
    return 0;
}

int RemoveOnWrite(rtopipe*, const char*, int) {
    if (g_victim) g_victim->GetFlowsheet()->RemoveAllBlocks(0, true);
    return 1;
}

TEST(Reentrancy, CallbacksMayChangeTheModelWhileASolveReportsIt) {
    for (int event : {ZEQ_EVT_RUN_STARTED, ZEQ_EVT_VARIABLE, ZEQ_EVT_BLOCKCAT1_BEGIN, ZEQ_EVT_FLOWSHEET}) {
        auto sim = std::make_unique<zeq::Simulation>();
        sim->Build(zeq::testing::PlantModel());
        g_victim = sim.get();
        EventRecorder events;
        rtoevent_set_callback(event, RemoveEverything);
        OutputCapture out;
        sim->Solve();
        EXPECT_EQ(sim->GetFlowsheet()->GetBlockCount(), 0) << event;
        EXPECT_EQ(events.Count(ZEQ_EVT_RUN_FINISHED), 1) << event;
        g_victim = nullptr;
    }
    auto sim = std::make_unique<zeq::Simulation>();
    sim->Build(zeq::testing::PlantModel());
    g_victim = sim.get();
    EventRecorder events;  // variable events wanted while the output empties the model
    rtopipe pipe{RemoveOnWrite, nullptr, nullptr, nullptr, nullptr, nullptr, 1, 0};
    rtopipe* saved = stdoutPipe;
    stdoutPipe = &pipe;
    sim->Solve();
    sim->ExecuteCommand("echo hello\n");
    stdoutPipe = saved;
    g_victim = nullptr;
    EXPECT_EQ(sim->GetFlowsheet()->GetBlockCount(), 0);
    EXPECT_GT(events.Count(ZEQ_EVT_VARIABLE), 0);
    EXPECT_EQ(sim->Solve(), ZEQ_E_PROBLEM_EMPTY);
}

TEST(Optimisation, DecisionVariablesMoveOnlyInOptimisationMode) {
    auto sim = ModelBuilder().Block("A").Var("X", 8, SPEC_OPTIM).Bounds(0, 10).Var("Y", 0).Var("Z", 0)
        .Eqn("EY", "Y = (X - 3) ^ 2 + 1").Eqn("EZ", "Z = 2 * X")
        .Objective("LOW", "A.Y").Objective("HIGH", "A.Z", true).Create();
    OutputCapture out;
    ASSERT_EQ(rto_set_mode_c(ZEQ_MODE_SIMULATION), 0);
    ASSERT_EQ(sim->SolveWithObjective("LOW"), 0);
    EXPECT_DOUBLE_EQ(Value(*sim, "A.X"), 8) << "fixed outside optimisation";
    ASSERT_EQ(rto_set_mode_c(ZEQ_MODE_OPTIMIZATION), 0);
    ASSERT_EQ(sim->SolveWithObjective("LOW"), 0) << out.text;
    EXPECT_NEAR(Value(*sim, "A.X"), 3, 1e-4);
    EXPECT_NEAR(Value(*sim, "A.Y"), 1, 1e-6);
    EXPECT_NEAR(Value(*sim, "A.Z"), 2 * Value(*sim, "A.X"), 1e-12) << "the model holds at the optimum";
    ASSERT_EQ(sim->SolveWithObjective("HIGH"), 0);
    EXPECT_DOUBLE_EQ(Value(*sim, "A.X"), 10) << "stops at the upper bound";
    EXPECT_EQ(sim->Vars()[0].active_bound, ACTIVE_UPPER);
    rto_set_mode_c(ZEQ_MODE_SIMULATION);
}

TEST(Solve, LongCycleConvergesToItsFixedPoint) {
    // x1 = 0.5 * xN + 1, x(i) = 0.5 * x(i-1) + 1: one loop through every variable, fixed point 2.
    const int n = 5000;
    ModelBuilder m;
    m.Block("R");
    for (int i = 1; i <= n; ++i) m.Var("X" + std::to_string(i), 0);
    for (int i = 1; i <= n; ++i)
        m.Eqn("E" + std::to_string(i), "X" + std::to_string(i) + " = 0.5 * X" + std::to_string(i == 1 ? n : i - 1) + " + 1");
    auto sim = m.Create();
    OutputCapture out;
    ASSERT_EQ(sim->Solve(), 0) << out.text.substr(0, 500);
    for (int i = 1; i <= n; i += 997) EXPECT_NEAR(Value(*sim, ("R.X" + std::to_string(i)).c_str()), 2, 1e-7);
}

}  // namespace
