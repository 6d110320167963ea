// The upper levels of the engine's browsing tree, the solver branches and the connection lists, walked
// over the example plant.
#include <windows.h>

#include "document_support.h"
#include "nodes/connection_nodes.h"
#include "nodes/solver_nodes.h"
#include "nodes/top_nodes.h"

namespace bdoc_test {
namespace {

constexpr uint32_t kValue = 1, kCanEnter = 6, kOptionList = 7, kDescription = 22, kStatus = 23, kServer = 38;

TEST_F(DocumentTest, EveryNodeKindIsReachedFromTopWithItsTypeName) {
    struct Row {
        const char* path;
        const char* name;
        const char* type;
    };
    const Row rows[] = {
        {"Top", "Top", "TopNode"},
        {"Top.appModel", "appModel", "appModelNode"},
        {"Top.Solver", "Solver", "SolverNode"},
        {"Top.Solver.RunMode", "RunMode", "EnumRunMode"},
        {"Top.Solver.ActiveEnvironment", "ActiveEnvironment", "EnumEnvironments"},
        {"Top.Solver.Objective Function", "Objective Function", "EnumObjectives"},
        {"Top.Solver.Solver Scope", "Solver Scope", "EnumSolverScope"},
        {"Top.appModel.Blocks", "Blocks", "Blocks List"},
        {"Top.appModel.Parameters", "Parameters", "Global Parameters List"},
        {"Top.appModel.Solvers", "Solvers", "Solvers List"},
        {"Top.appModel.Solvers.MAIN", "MAIN", "Solver Parameters List"},
        {"Top.appModel.Solvers.MAIN.MAXITER", "MAXITER", "Integer"},
        {"Top.appModel.Solvers.MAIN.TOLERANCE", "TOLERANCE", "Real"},
        {"Top.appModel.Solvers.MAIN.METHOD", "METHOD", "String"},
        {"Top.appModel.Connections", "Connections", "Connections List"},
        {"Top.appModel.Connections.C1", "C1", "Equality"},
        {"Top.appModel.Connections.M1", "M1", "Measurement"},
        {"Top.appModel.Blocks.FEED", "FEED", "Block"},
        {"Top.appModel.Blocks.FEED.Variables.F", "F", nullptr},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.path);
        FI::EntryHandle e = At(row.path);
        if (e.IsNull()) continue;
        EXPECT_EQ(NameOf(e), row.name);
        if (row.type != nullptr) {
            EXPECT_EQ(TypeOf(e), row.type);
        }
    }
    EXPECT_EQ(ChildNames(At("Top")), (std::vector<std::string>{"appModel", "Solver"}));
    EXPECT_EQ(ChildNames(At("Top.appModel")),
              (std::vector<std::string>{"Blocks", "Parameters", "Solvers", "Connections"}));
    EXPECT_EQ(ChildNames(At("Top.Solver")),
              (std::vector<std::string>{"RunMode", "ActiveEnvironment", "Objective Function", "Solver Scope"}));
    EXPECT_EQ(ChildNames(At("Top.appModel.Solvers.MAIN")),
              (std::vector<std::string>{"MAXITER", "PRINTLEVEL", "TOLERANCE", "DAMPING", "METHOD"}))
        << "integers, then reals, then texts";
}

TEST_F(DocumentTest, FixedListCursorsSeekIgnoringCaseAndStopAtTheEmptyNode) {
    FI::CursorHandle top;
    At("Top")->CreateCursor(top);
    EXPECT_TRUE(top.Seek("APPMODEL"));
    EXPECT_TRUE(top.IsFirst());
    EXPECT_FALSE(top.Seek("Blocks"));
    EXPECT_TRUE(top.IsDone());
    FI::EntryHandle past;
    top.CurrentEntry(past);
    ASSERT_FALSE(past.IsNull());
    EXPECT_EQ(TypeOf(past), "EmptyNode");
    EXPECT_EQ(NameOf(past), "");
    EXPECT_EQ(past.Get(), FI::FIVORNDocument::GetEmptyNode().Get()) << "one shared empty node";

    ASSERT_TRUE(top.First());
    EXPECT_TRUE(top.Next());
    EXPECT_FALSE(top.Next());
    EXPECT_FALSE(top.Next()) << "stays done";

    FI::CursorHandle solver;
    At("Top.Solver")->CreateCursor(solver);
    EXPECT_TRUE(solver.Seek("runmode"));
    FIValue name;
    solver.CurrentName(name);
    EXPECT_EQ(Text(name), "RunMode");
    FI::CursorHandle clone(solver->Clone());
    EXPECT_TRUE(clone.Next());
    clone.CurrentName(name);
    EXPECT_EQ(Text(name), "ActiveEnvironment");

    FI::CursorHandle solvers;
    At("Top.appModel.Solvers")->CreateCursor(solvers);
    EXPECT_FALSE(solvers.Seek("main")) << "solver names match with their case";
    EXPECT_TRUE(solvers.Seek("MAIN"));
    FI::CursorHandle params;
    At("Top.appModel.Solvers.MAIN")->CreateCursor(params);
    EXPECT_FALSE(params.Seek("maxiter"));
    EXPECT_TRUE(params.Seek("DAMPING"));
}

TEST_F(DocumentTest, TopAndAppModelAttributes) {
    FI::EntryHandle top = At("Top");
    FI::EntryHandle app = At("Top.appModel");
    char expected[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = sizeof expected;
    ASSERT_TRUE(GetComputerNameA(expected, &size));
    EXPECT_EQ(Attr(top, kServer), expected);
    EXPECT_TRUE(top->IsAttributeValid("server", kServer));
    EXPECT_FALSE(app->IsAttributeValid("server", kServer));

    EXPECT_FALSE(top->IsAttributeValid("status", kStatus));
    EXPECT_TRUE(app->IsAttributeValid("status", kStatus));
    FIValue status("not cleared");
    app->GetAttribute("status", kStatus, status);
    EXPECT_TRUE(status.IsEmpty());
}

TEST_F(DocumentTest, ActionTablesOfAppModelAndSolver) {
    struct Row {
        const char* path;
        const char* action;
        const char* summary;
    };
    const Row rows[] = {{"Top.appModel", "RunScript", "<summary>Run an VORN script</summary>"},
                        {"Top.Solver", "Run", "<summary>Start a run</summary>"}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.path);
        FI::EntryHandle e = At(row.path);
        EXPECT_TRUE(e->HasActions());
        FIValue names[2];
        EXPECT_EQ(e->GetActions(2, names), 1);
        EXPECT_EQ(Text(names[0]), row.action);

        std::string shouted(row.action);
        for (char& c : shouted) c = static_cast<char>(toupper(c));
        FIError ok;
        FIValue description;
        e->GetActionDescription(ok, shouted.c_str(), description);
        EXPECT_TRUE(ok.Succeeded());
        EXPECT_NE(Text(description).find(row.summary), std::string::npos) << Text(description);

        FIError refused;
        FIValue left("as it was");
        e->GetActionDescription(refused, "Fly", left);
        EXPECT_EQ(Text(refused.Message()), "Action is not valid");
        EXPECT_EQ(Text(left), "as it was");

        FIDocumentNotifyList records;
        e->ValidateAction(row.action, records);
        EXPECT_TRUE(records.empty());
        e->ValidateAction("Fly", records);
        ASSERT_EQ(records.size(), 1u);
        EXPECT_EQ(records[0].severity, FIDocumentNotify::Error);
        EXPECT_EQ(Text(records[0].message), "Unrecognized action specified");
        EXPECT_EQ(records[0].position1, -1);

        short status = 0;
        EXPECT_EQ(e->ExecuteAction("Fly", nullptr, &status), E_FAIL);
        EXPECT_EQ(fitest::TakeErrorDescription().value_or(""), "Action not supported");
    }
    FIValue description;
    FIError error;
    At("Top.appModel")->GetActionDescription(error, "runscript", description);
    EXPECT_NE(Text(description).find("<param name=\"collectOutput\">If true output from script will be collected"),
              std::string::npos);
}

TEST_F(DocumentTest, SolverPropertyNodesAreEnterableLeavesThatRefuseOtherWrites) {
    for (const std::string& name : ChildNames(At("Top.Solver"))) {
        SCOPED_TRACE(name);
        FI::EntryHandle e = At(("Top.Solver." + name).c_str());
        EXPECT_TRUE(e->IsLeaf());
        EXPECT_FALSE(Attr(e, kDescription).empty());
        EXPECT_EQ(Attr(e, kCanEnter), "1");
        for (uint32_t id : {kValue, kCanEnter, kOptionList, kDescription}) EXPECT_TRUE(e->IsAttributeValid("", id));
        FIError error;
        e->SetAttribute("description", kDescription, FIValue("x"), error);
        EXPECT_EQ(Text(error.Message()), "Cannot modify attribute description");
    }
    FI::EntryHandle outside(new FI::FIVORNSolverPropertyNode(doc_, 4));
    EXPECT_FALSE(outside->IsAttributeValid("value", kValue));
    EXPECT_EQ(Attr(outside, kCanEnter), "0");
    FIValue name("as it was");
    outside->GetName(name);
    EXPECT_EQ(Text(name), "as it was");
    EXPECT_EQ(FI::FindSolverPropertyIndex("solver scope"), 3);
    EXPECT_EQ(FI::FindSolverPropertyIndex("Scope"), 4);
}

TEST_F(DocumentTest, SolverParametersReadTheEngine) {
    EngineSolver* solver = sim_->FindSolver("MAIN");
    ASSERT_NE(solver, nullptr);
    FI::EntryHandle maxiter = At("Top.appModel.Solvers.MAIN.MAXITER");
    FI::EntryHandle tolerance = At("Top.appModel.Solvers.MAIN.TOLERANCE");
    FI::EntryHandle method = At("Top.appModel.Solvers.MAIN.METHOD");
    EXPECT_EQ(Attr(maxiter, kValue), "200");
    EXPECT_EQ(Attr(method, kValue), "SUBSTITUTION");
    FIValue real;
    tolerance->GetAttribute("value", kValue, real);
    EXPECT_EQ(real.GetTag(), FIValue::kReal);
    EXPECT_DOUBLE_EQ(real.ToDouble(), 1e-10);
    EXPECT_EQ(Attr(maxiter, kCanEnter), "1");

    // A name the solver does not know: no type, not enterable, reads change nothing, and a write is
    // refused rather than answered as done.
    FI::EntryHandle unknown(new FI::FIVORNSolverParameterNode(doc_, FI::EngineAnchor::Flowsheet(doc_), solver->GetName(),
                                                                    FIValue("GHOST"), FIValue("GHOST")));
    FIValue type("as it was");
    unknown->GetTypeName(type);
    EXPECT_EQ(Text(type), "as it was");
    EXPECT_EQ(Attr(unknown, kCanEnter), "0");
    FIValue value(7);
    unknown->GetAttribute("value", kValue, value);
    EXPECT_EQ(value.ToInt(), 7);
    FIError refused;
    unknown->SetAttribute("value", kValue, FIValue(3), refused);
    EXPECT_EQ(refused.Message().ToStdString(), "Unknown solver parameter GHOST");
}

TEST_F(DocumentTest, ConnectionListsAndSwitching) {
    EXPECT_EQ(ChildNames(At("Top.appModel.Connections")),
              (std::vector<std::string>{"C1", "C2", "C5", "C6", "C7", "C8", "R1", "R2", "M1"}));
    EXPECT_EQ(ChildNames(At("Top.appModel.Blocks.SECTION.Connections")), (std::vector<std::string>{"C3", "C4"}));

    FI::EntryHandle m1 = At("Top.appModel.Connections.M1");
    FI::EntryHandle c1 = At("Top.appModel.Connections.C1");
    EXPECT_EQ(Attr(m1, kValue), "Disabled");
    EXPECT_EQ(Attr(c1, kValue), "Enabled");
    EXPECT_EQ(Attr(c1, kOptionList), "Enabled/Disabled");
    const std::string status = Attr(c1, kStatus);
    EXPECT_TRUE(status == "Active" || status == "Inactive") << status;
    for (uint32_t id : {kValue, kOptionList, kStatus}) EXPECT_TRUE(c1->IsAttributeValid("", id));

    zeq::testing::CallJournal journal(*sim_);
    FIError error;
    c1->SetAttribute("value", kValue, FIValue("enabled"), error);
    EXPECT_TRUE(error.Succeeded());
    EXPECT_FALSE(journal.Contains("event")) << "already enabled: no engine call";
    m1->SetAttribute("value", kValue, FIValue("ENABLED"), error);
    EXPECT_TRUE(error.Succeeded());
    EXPECT_EQ(Attr(m1, kValue), "Enabled");
    m1->SetAttribute("value", kValue, FIValue("disabled"), error);
    EXPECT_EQ(Attr(m1, kValue), "Disabled");

    for (const char* bad : {"", "On", "Enabledx"}) {
        FIError refused;
        m1->SetAttribute("value", kValue, FIValue(bad), refused);
        EXPECT_EQ(Text(refused.Message()), "Invalid value specified") << bad;
    }
    EXPECT_EQ(Attr(m1, kValue), "Disabled");
    FIError refused;
    c1->SetAttribute("status", kStatus, FIValue("Active"), refused);
    EXPECT_EQ(Text(refused.Message()), "Cannot modify attribute status");
}

TEST_F(DocumentTest, ConnectionCursorClonesKeepTheirPlace) {
    FI::CursorHandle cursor;
    At("Top.appModel.Connections")->CreateCursor(cursor);
    ASSERT_TRUE(cursor.First());
    ASSERT_TRUE(cursor.Next());
    ASSERT_TRUE(cursor.Next());
    FI::CursorHandle clone(cursor->Clone());
    FIValue name;
    clone.CurrentName(name);
    EXPECT_EQ(Text(name), "C5");
    int steps = 0;
    while (clone.Next()) ++steps;
    EXPECT_EQ(steps, 6);
    EXPECT_TRUE(clone.IsDone());
    clone.CurrentName(name);
    EXPECT_TRUE(name.IsEmpty());
    FI::EntryHandle past;
    clone.CurrentEntry(past);
    EXPECT_EQ(TypeOf(past), "EmptyNode");
    cursor.CurrentName(name);
    EXPECT_EQ(Text(name), "C5") << "the source did not move";
    EXPECT_TRUE(cursor.Seek("R2"));
    EXPECT_FALSE(cursor.Seek("r2"));

    // A container without connections.
    FI::EntryHandle empty(new FI::FIVORNEOCntrConnListNode(doc_, FIValue("Connections"), FI::EngineAnchor()));
    FI::CursorHandle none;
    empty->CreateCursor(none);
    EXPECT_FALSE(none.First());
    FI::EntryHandle entry;
    none.CurrentEntry(entry);
    EXPECT_EQ(TypeOf(entry), "EmptyNode");
}

}  // namespace
}  // namespace bdoc_test
