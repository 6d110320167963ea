// What the engine document answers when a client's request cannot be carried out as asked: units the
// engine cannot convert, texts without a number, a simulation that is gone, and output lines of another
// simulation. Each refusal is a failure with its text, never success with a wrong value stored.
#include "document_support.h"
#include "events/run_receivers.h"

namespace bdoc_test {
namespace {

constexpr uint32_t kValue = 1;

class Answers : public DocumentTest {
protected:
    // One attribute of one entry below the application model through the COM face, with the call's units.
    // Writes give the error text, "" when they succeed.
    std::string Write(const char* path, const char* attribute, const char* units, const CComVariant& value) {
        ScopedArray paths(Texts({path})), names(Texts({attribute}));
        ScopedArray tuple(Tuples(4, {{0, 0, units ? CComVariant(units) : CComVariant(), value}}));
        if (SUCCEEDED(face_->SetAttributes(CComBSTR("Top.appModel"), paths.get(), names.get(), tuple.get()))) return "";
        return fitest::TakeErrorDescription().value_or("failed without text");
    }
};

TEST_F(Answers, UnitWritesHoldForGoodAndUnknownUnitsAreRefused) {
    const char* t = "Blocks.FEED.Variables.T";
    // A client's unit write goes through the generic writer, which installs a display for the call: the
    // unit must still reach the engine.
    EXPECT_EQ(Write(t, "uom", nullptr, CComVariant("F")), "");
    EXPECT_EQ(EngineVariable(*sim_, "FEED.T").second, "F");
    EXPECT_NEAR(EngineVariable(*sim_, "FEED.T").first, 77.0, 1e-9);
    EXPECT_EQ(Write(t, "uom", "K", CComVariant("C")), "") << "units given with the write change nothing of it";
    EXPECT_EQ(EngineVariable(*sim_, "FEED.T").second, "C");
    EXPECT_EQ(Write(t, "uom", nullptr, CComVariant("furlong")), "Unable to set uom, unknown unit");
    EXPECT_EQ(EngineVariable(*sim_, "FEED.T").second, "C");
    // The same for a block parameter's unit.
    const char* pdrop = "Blocks.SECTION.Blocks.\"SECTION.HTR\".Parameters.PDROP";
    EXPECT_EQ(Write(pdrop, "uom", nullptr, CComVariant("kPa")), "");
    EXPECT_EQ(Attr(At((std::string("Top.appModel.") + pdrop).c_str()), 3), "kPa");
}

// A batch read in units the engine cannot convert the variable to leaves that item empty, as any read
// that fails, while the other items of the batch are read.
TEST_F(Answers, ReadsInUnknownUnitsLeaveTheirItemEmpty) {
    ScopedArray paths(Texts({"Blocks.FEED.Variables.T"})), names(Texts({"value", "uom"}));
    ScopedArray reads(Tuples(3, {{0, 0, CComVariant("F")},
                                 {0, 0, CComVariant("furlongs")},
                                 {0, 0, CComVariant("kg")},
                                 {0, 1, CComVariant("furlongs")}}));
    ScopedArray values;
    ASSERT_EQ(face_->GetAttributes(CComBSTR("Top.appModel"), paths.get(), names.get(), reads.get(), values.Receive()),
              S_OK);
    EXPECT_NEAR(AsReal(values.At(0)), EngineVariable(*sim_, "FEED.T").first * 1.8 + 32, 1e-9);
    EXPECT_EQ(values.At(1).vt, VT_EMPTY) << "furlongs";
    EXPECT_EQ(values.At(2).vt, VT_EMPTY) << "kg is no temperature";
    EXPECT_EQ(AsText(values.At(3)), "C") << "the unit of the values still reads";
}

TEST_F(Answers, ABasePathHoldingANulNamesNoEntry) {
    // The engine document's own batch members, as the face and other documents call them.
    const double before = EngineVariable(*sim_, "FEED.T").first;
    const std::string_view held("Top.appModel.Blocks.FEED.Variables.T\0.nothing", 45);
    CComBSTR base;
    base.Attach(nuv::bstr_from_utf8(held));
    ScopedArray here(Texts({""})), names(Texts({"value"}));
    ScopedArray write(Tuples(4, {{0, 0, CComVariant(), 500.0}})), read(Tuples(3, {{0, 0, CComVariant()}}));
    EXPECT_EQ(doc_->SetAttributes(nullptr, nullptr, base, here.get(), names.get(), write.get()), E_FAIL);
    EXPECT_EQ(fitest::TakeErrorDescription().value_or(""), "Invalid base path specified");
    EXPECT_EQ(EngineVariable(*sim_, "FEED.T").first, before);
    ScopedArray values;
    EXPECT_EQ(doc_->GetAttributes(nullptr, nullptr, base, here.get(), names.get(), read.get(), values.Receive()),
              E_FAIL);
    EXPECT_EQ(values.get(), nullptr);
}

TEST_F(Answers, SolverParametersRefuseTextWithoutANumber) {
    EngineSolver* solver = sim_->FindSolver("MAIN");
    ASSERT_NE(solver, nullptr);
    struct Row {
        const char* path;
        FIValue value;
        bool accepted;
    } rows[] = {
        {"Top.appModel.Solvers.MAIN.MAXITER", FIValue("lots"), false},
        {"Top.appModel.Solvers.MAIN.MAXITER", FIValue(""), false},
        {"Top.appModel.Solvers.MAIN.MAXITER", FIValue(" 75 passes"), true},
        {"Top.appModel.Solvers.MAIN.TOLERANCE", FIValue("small"), false},
        {"Top.appModel.Solvers.MAIN.TOLERANCE", FIValue("1e-7"), true},
        {"Top.appModel.Solvers.MAIN.METHOD", FIValue("NEWTON"), true},
    };
    for (const Row& row : rows) {
        FIError error;
        const std::string before = Attr(At(row.path), kValue);
        At(row.path)->SetAttribute("value", kValue, row.value, error);
        EXPECT_EQ(Text(error.Message()), row.accepted ? "" : "Invalid solver parameter value specified") << row.path;
        if (!row.accepted) {
            EXPECT_EQ(Attr(At(row.path), kValue), before) << row.path;
        }
    }
    EXPECT_EQ(solver->GetIntParameter("MAXITER"), 75);
    EXPECT_DOUBLE_EQ(solver->GetRealParameter("TOLERANCE"), 1e-7);
    EXPECT_STREQ(solver->GetTextParameter("METHOD"), "NEWTON");
}

TEST_F(Answers, WithoutTheSimulationReadsGiveNothingAndEverythingElseFails) {
    Recorder recorder;
    const uint32_t cookie = doc_->Advise(&Recorder::Callback, &recorder);
    EXPECT_NE(nuv::events::FindRunReceiver(impl_), nullptr);
    FI::EntryHandle settings[] = {At("Top.Solver.RunMode"), At("Top.Solver.Objective Function"),
                                  At("Top.Solver.Solver Scope")};
    int mode = -1;
    rto_inq_mode_c(&mode);
    sim_.reset();  // the engine lets go of the wrapper; the document loses its owner
    ASSERT_EQ(doc_->GetEngineSimulation(), nullptr);
    EXPECT_EQ(nuv::events::FindRunReceiver(impl_), nullptr) << "run events stop with the owner";
    doc_->Unadvise(cookie);

    FIValue value("as it was");
    doc_->GetObjective(value);
    doc_->GetObjectiveList(value);
    doc_->GetSolverScope(value);
    doc_->GetSolverScopeList(value);
    EXPECT_EQ(Text(value), "as it was");
    EXPECT_EQ(ChildNames(At("Top.appModel.Solvers")), std::vector<std::string>{});
    FI::CursorHandle cursor;
    At("Top.appModel")->CreateCursor(cursor);
    FI::EntryHandle child;
    cursor.CurrentEntry(child);
    EXPECT_EQ(TypeOf(child), "EmptyNode") << "no flowsheet, no block list";

    EXPECT_EQ(doc_->Run(), E_FAIL);
    InputArray script({CComVariant("echo nothing")});
    CComVariant result(LONG{5});
    EXPECT_EQ(doc_->RunScriptAction(script.get(), &result), E_FAIL);
    EXPECT_EQ(fitest::TakeErrorDescription().value_or(""), "The simulation is no longer available");
    EXPECT_EQ(result.vt, VT_I4) << "nothing ran";
    short status = 0;
    EXPECT_EQ(face_->ExecuteAction(CComBSTR("Top.appModel"), CComBSTR("RunScript"), script.get(), &status), E_FAIL);
    const char* texts[] = {"Optimization", "PRODUCT_FLOW", "SECTION"};
    for (int i = 0; i < 3; ++i) {
        FIError error;
        settings[i]->SetAttribute("value", kValue, FIValue(texts[i]), error);
        EXPECT_EQ(Text(error.Message()), "The simulation is no longer available") << texts[i];
    }
    int after = -2;
    rto_inq_mode_c(&after);
    EXPECT_EQ(after, mode) << "the run mode was left alone";
}

TEST_F(Answers, OutputLinesReachOnlyTheDocumentsOfTheirSimulation) {
    PlantDocument other;  // a second simulation in the same process, with its own document
    other.Open();
    FI::FIVORNDocument* otherDoc = other.doc_;
    Recorder mine, theirs;
    const uint32_t myCookie = doc_->Advise(&Recorder::Callback, &mine);
    const uint32_t theirCookie = otherDoc->Advise(&Recorder::Callback, &theirs);
    auto saw = [](const Recorder& r, const char* text) {
        for (const Seen& s : r.Seen_())
            if (s.message.find(text) != std::string::npos) return true;
        return false;
    };
    other.sim_->ExecuteCommand("echo said by the other\n");
    EXPECT_TRUE(saw(theirs, "said by the other"));
    EXPECT_FALSE(saw(mine, "said by the other"));
    sim_->ExecuteCommand("echo said by mine\n");
    EXPECT_TRUE(saw(mine, "said by mine"));
    EXPECT_FALSE(saw(theirs, "said by mine"));

    // A collecting script on one document collects its own lines only.
    InputArray collect({CComVariant("echo collected here"), CComVariant(true)});
    CComVariant result;
    ASSERT_EQ(otherDoc->RunScriptAction(collect.get(), &result), S_OK);
    ASSERT_EQ(result.vt, VT_BSTR);
    EXPECT_NE(nuv::bstr_to_utf8(result.bstrVal).find("collected here"), std::string::npos);
    EXPECT_FALSE(saw(mine, "collected here"));

    doc_->Unadvise(myCookie);
    otherDoc->Unadvise(theirCookie);
    other.Close();
}

}  // namespace
}  // namespace bdoc_test
