// What the engine document answers when a client's request cannot be carried out as asked: units the
// engine cannot convert, texts without a number, a simulation that is gone, and output lines of another
// simulation. Each refusal is a failure with its text, never success with a wrong value stored.
#include "document_support.h"

namespace bdoc_test {
namespace {

constexpr uint32_t kValue = 1;

// A one-dimensional array of texts.
SAFEARRAY* Texts(const std::vector<std::string>& texts) {
    SAFEARRAY* a = SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(texts.size()));
    for (LONG i = 0; i < static_cast<LONG>(texts.size()); ++i) {
        CComVariant v(texts[static_cast<size_t>(i)].c_str());
        SafeArrayPutElement(a, &i, &v);
    }
    return a;
}

// One write tuple (path 0, attribute 0) with its units and value, as the COM face takes it.
SAFEARRAY* OneTuple(const CComVariant& units, const CComVariant* value) {
    SAFEARRAYBOUND bounds[2] = {{value != nullptr ? 4u : 3u, 0}, {1, 0}};
    SAFEARRAY* a = SafeArrayCreate(VT_VARIANT, 2, bounds);
    CComVariant zero(LONG{0});
    const CComVariant* cells[] = {&zero, &zero, &units, value};
    for (LONG r = 0; r < static_cast<LONG>(bounds[0].cElements); ++r) {
        LONG index[2] = {r, 0};
        SafeArrayPutElement(a, index, const_cast<CComVariant*>(cells[r]));
    }
    return a;
}

class Answers : public DocumentTest {
protected:
    // A write of one attribute of one entry below the application model through the COM face; the error
    // text when it fails, "" when it succeeds.
    std::string Write(const char* path, const char* attribute, const char* units, const CComVariant& value) {
        SAFEARRAY* paths = Texts({path});
        SAFEARRAY* names = Texts({attribute});
        SAFEARRAY* tuple = OneTuple(units ? CComVariant(units) : CComVariant(), &value);
        const HRESULT hr = face_->SetAttributes(CComBSTR("Top.appModel"), paths, names, tuple);
        SafeArrayDestroy(paths);
        SafeArrayDestroy(names);
        SafeArrayDestroy(tuple);
        if (SUCCEEDED(hr)) return "";
        return fitest::TakeErrorDescription().value_or("failed without text");
    }
    CComVariant Read(const char* path, const char* attribute, const char* units = nullptr) {
        SAFEARRAY* paths = Texts({path});
        SAFEARRAY* names = Texts({attribute});
        SAFEARRAY* tuple = OneTuple(units ? CComVariant(units) : CComVariant(), nullptr);
        SAFEARRAY* values = nullptr;
        CComVariant out;
        if (SUCCEEDED(face_->GetAttributes(CComBSTR("Top.appModel"), paths, names, tuple, &values))) {
            LONG i = 0;
            SafeArrayGetElement(values, &i, &out);
            SafeArrayDestroy(values);
        }
        SafeArrayDestroy(paths);
        SafeArrayDestroy(names);
        SafeArrayDestroy(tuple);
        return out;
    }
    std::string ReadText(const char* path, const char* attribute, const char* units = nullptr) {
        CComVariant v = Read(path, attribute, units), text;
        return SUCCEEDED(VariantChangeType(&text, &v, 0, VT_BSTR)) ? nuv::bstr_to_utf8(text.bstrVal) : "";
    }
    double ReadReal(const char* path, const char* units = nullptr) {
        CComVariant v = Read(path, "value", units), real;
        return SUCCEEDED(VariantChangeType(&real, &v, 0, VT_R8)) ? real.dblVal : -1e300;
    }
    // The engine's own value and unit of a flowsheet variable.
    std::pair<double, std::string> Engine(const char* name) {
        ZEQEOCntr* flowsheet = sim_->GetFlowsheet();
        ZEQVariableData record;
        record.SetMask(VA_VALUE | VA_UOM, 0);
        double value = 0;
        const char* unit = nullptr;
        if (!record.Load(flowsheet, nullptr, flowsheet->FindIndex(name), true) || !record.GetValue(VA_VALUE, value) ||
            !record.GetValue(VA_UOM, unit)) {
            return {-1e300, "?"};
        }
        return {value, unit ? unit : ""};
    }
};

TEST_F(Answers, UnitWritesHoldForGoodAndUnknownUnitsAreRefused) {
    const char* t = "Blocks.FEED.Variables.T";
    // A client's unit write goes through the generic writer, which installs a display for the call: the
    // unit must still reach the engine.
    EXPECT_EQ(Write(t, "uom", nullptr, CComVariant("F")), "");
    EXPECT_EQ(Engine("FEED.T").second, "F");
    EXPECT_NEAR(Engine("FEED.T").first, 77.0, 1e-9);
    EXPECT_EQ(Write(t, "uom", "K", CComVariant("C")), "") << "units given with the write change nothing of it";
    EXPECT_EQ(Engine("FEED.T").second, "C");
    EXPECT_EQ(Write(t, "uom", nullptr, CComVariant("furlong")), "Unable to set uom, unknown unit");
    EXPECT_EQ(Engine("FEED.T").second, "C");
    // The same for a block parameter's unit.
    const char* pdrop = "Blocks.SECTION.Blocks.\"SECTION.HTR\".Parameters.PDROP";
    EXPECT_EQ(Write(pdrop, "uom", nullptr, CComVariant("kPa")), "");
    EXPECT_EQ(ReadText(pdrop, "uom"), "kPa");
}

TEST_F(Answers, QuantitiesInUnitsTheEngineCannotConvertAreRefusedAndReadsNameTheirUnit) {
    struct Row {
        const char* path;
        const char* engineName;
        const char* units;
        double written;
        const char* error;   // "" when accepted
        double stored;       // in the variable's own unit
    } rows[] = {
        {"Blocks.FEED.Variables.T", "FEED.T", "F", 212.0, "", 100.0},
        {"Blocks.FEED.Variables.T", "FEED.T", "C", 30.0, "", 30.0},
        {"Blocks.FEED.Variables.T", "FEED.T", "furlong", 1000.0, "Unable to convert from unit furlong", 30.0},
        {"Blocks.FEED.Variables.F", "FEED.F", "g/s", 1.0, "Unable to convert from unit g/s", 3600.0},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(Write(row.path, "value", row.units, CComVariant(row.written)), row.error) << row.units;
        EXPECT_NEAR(Engine(row.engineName).first, row.stored, 1e-9) << row.units;
    }
    // A read in units the engine cannot convert to gives the value in the variable's own unit, and the
    // unit read beside it says so; convertible units are answered as asked.
    EXPECT_NEAR(ReadReal("Blocks.FEED.Variables.T", "furlong"), 30.0, 1e-9);
    EXPECT_EQ(ReadText("Blocks.FEED.Variables.T", "uom", "furlong"), "C");
    EXPECT_NEAR(ReadReal("Blocks.FEED.Variables.T", "F"), 86.0, 1e-9);
    EXPECT_EQ(ReadText("Blocks.FEED.Variables.T", "uom", "F"), "F");
    EXPECT_EQ(Engine("FEED.T").second, "C") << "reads leave the unit alone";
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
    };
    for (const Row& row : rows) {
        const int maxiter = solver->GetIntParameter("MAXITER");
        const double tolerance = solver->GetRealParameter("TOLERANCE");
        FIError error;
        At(row.path)->SetAttribute("value", kValue, row.value, error);
        EXPECT_EQ(error.Succeeded(), row.accepted) << row.path << " " << row.value.ToStdString();
        if (row.accepted) continue;
        EXPECT_EQ(Text(error.Message()), "Invalid solver parameter value specified");
        EXPECT_EQ(solver->GetIntParameter("MAXITER"), maxiter);
        EXPECT_EQ(solver->GetRealParameter("TOLERANCE"), tolerance);
    }
    EXPECT_EQ(solver->GetIntParameter("MAXITER"), 75);
    EXPECT_DOUBLE_EQ(solver->GetRealParameter("TOLERANCE"), 1e-7);
}

TEST_F(Answers, WithoutTheSimulationScriptsAndSettingsFail) {
    FI::EntryHandle runMode = At("Top.Solver.RunMode");
    FI::EntryHandle objective = At("Top.Solver.Objective Function");
    FI::EntryHandle scope = At("Top.Solver.Solver Scope");
    int mode = -1;
    rto_inq_mode_c(&mode);
    sim_.reset();
    ASSERT_EQ(doc_->GetEngineSimulation(), nullptr);

    InputArray script({CComVariant("echo nothing")});
    CComVariant result(LONG{5});
    EXPECT_EQ(doc_->RunScriptAction(script.get(), &result), E_FAIL);
    EXPECT_EQ(fitest::TakeErrorDescription().value_or(""), "The simulation is no longer available");
    EXPECT_EQ(result.vt, VT_I4) << "nothing ran";
    short status = 0;
    EXPECT_EQ(face_->ExecuteAction(CComBSTR("Top.appModel"), CComBSTR("RunScript"), script.get(), &status), E_FAIL);

    const std::pair<FI::EntryHandle*, const char*> settings[] = {
        {&runMode, "Optimization"}, {&objective, "PRODUCT_FLOW"}, {&scope, "SECTION"}};
    for (const auto& [node, text] : settings) {
        FIError error;
        (*node)->SetAttribute("value", kValue, FIValue(text), error);
        EXPECT_EQ(Text(error.Message()), "The simulation is no longer available") << text;
    }
    int after = -2;
    rto_inq_mode_c(&after);
    EXPECT_EQ(after, mode) << "the run mode was left alone";
}

TEST_F(Answers, AMonikerThatDoesNotResolveLeavesOnlyItsElementEmpty) {
    SAFEARRAY* monikers = Texts({"FEED.F", "NOPE", "SECTION"});
    SAFEARRAY* paths = nullptr;
    ASSERT_EQ(face_->GetMonikers(monikers, &paths), S_OK);
    const std::vector<std::string> expected = {"Top.appModel.Blocks.FEED.Variables.F", "",
                                               "Top.appModel.Blocks.SECTION"};
    for (LONG i = 0; i < 3; ++i) {
        CComVariant v;
        ASSERT_EQ(SafeArrayGetElement(paths, &i, &v), S_OK);
        EXPECT_EQ(v.vt, expected[static_cast<size_t>(i)].empty() ? VT_EMPTY : VT_BSTR) << i;
        if (v.vt == VT_BSTR) {
            EXPECT_EQ(nuv::bstr_to_utf8(v.bstrVal), expected[static_cast<size_t>(i)]);
        }
    }
    SafeArrayDestroy(paths);
    SafeArrayDestroy(monikers);
}

TEST_F(Answers, OutputLinesReachOnlyTheDocumentsOfTheirSimulation) {
    // A second simulation in the same process, with its own document.
    zeq::ModelDef def;
    std::string error;
    ASSERT_TRUE(zeq::ParseModel(PlantText(), def, error)) << error;
    auto other = std::make_unique<zeq::Simulation>();
    other->Build(def);
    NUVClassFactory::RegisterSimulationServices(other.get());
    CComPtr<INUVSimulation2> otherWrapper;
    ASSERT_EQ(NUVClassFactory::QueryCreateWrapper(other.get(), IID_INUVSimulation2,
                                                   reinterpret_cast<void**>(&otherWrapper)),
              S_OK);
    CComPtr<IServiceProvider> provider;
    ASSERT_EQ(otherWrapper.QueryInterface(&provider), S_OK);
    CComPtr<IPDXDocumentV22> otherFace;
    ASSERT_EQ(provider->QueryService(IID_IPDXDocumentV22, IID_IPDXDocumentV22, reinterpret_cast<void**>(&otherFace)),
              S_OK);
    FI::FIVORNDocument* otherDoc =
        FI::AsVORNDocument(nuv::ImplementationOf<CoNUVSimulation>(otherWrapper)->GetDocument());
    ASSERT_NE(otherDoc, nullptr);

    Recorder mine, theirs;
    const uint32_t myCookie = doc_->Advise(&Recorder::Callback, &mine);
    const uint32_t theirCookie = otherDoc->Advise(&Recorder::Callback, &theirs);
    auto saw = [](const Recorder& r, const char* text) {
        for (const Seen& s : r.Seen_())
            if (s.message.find(text) != std::string::npos) return true;
        return false;
    };
    other->ExecuteCommand("echo said by the other\n");
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
    otherFace.Release();
    provider.Release();
    otherWrapper.Release();
    other.reset();
}

}  // namespace
}  // namespace bdoc_test
