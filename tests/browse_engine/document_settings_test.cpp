// The document's engine attribute names, application texts and the solver settings, read and written
// through the solver property nodes as a client does.
#include "document_support.h"
#include "zeq_lib.h"

namespace bdoc_test {
namespace {

constexpr uint32_t kValue = 1, kOptionList = 7;

TEST_F(DocumentTest, EngineAttributeNamesAndApplicationTexts) {
    const std::pair<const char*, uint32_t> names[] = {
        {"active_bound", 65025}, {"initial", 65026},   {"marked", 65027},       {"modified", 65028},
        {"sbweight", 65029},     {"shadow_price", 65030}, {"int_scale", 65031}, {"solve_scale", 65032},
        {"step", 65033},         {"change", 65034},    {"spec", 65035},         {"bound_type", 65036},
        {"quality", 65037},      {"stream", 65038},    {"phase", 65039},        {"basis", 65040},
        {"direction", 65041},    {"scale", 65042},
    };
    for (const auto& [name, id] : names) {
        EXPECT_EQ(doc_->GetAttributeId(name), id) << name;
        FIValue back;
        doc_->GetAttributeName(id, back);
        EXPECT_EQ(Text(back), name) << id;
    }
    EXPECT_EQ(doc_->GetAttributeId("value"), 1u) << "the standard names stay";

    EXPECT_EQ(Text(doc_->GetAppName()), "VORN");
    EXPECT_EQ(Text(doc_->GetAppVersion()), std::string(rtoMajorVersion()) + " Build " + rtoMinorVersion());
    EXPECT_TRUE(doc_->GetFileName().IsEmpty());
    EXPECT_FALSE(doc_->GetDocumentFlag());
    EXPECT_FALSE(doc_->GetNamedFlag("anything"));
    EXPECT_EQ(doc_->GetRoot().Get(), doc_->GetRoot().Get()) << "one root";
}

TEST_F(DocumentTest, RunModeSwitchesByNameIgnoringCase) {
    FI::EntryHandle node = At("Top.Solver.RunMode");
    EXPECT_EQ(Attr(node, kOptionList), "Simulation\nOptimization\nParameter Estimation\nData Reconciliation");
    const std::pair<const char*, int> moves[] = {
        {"optimization", ZEQ_MODE_OPTIMIZATION},
        {"PARAMETER ESTIMATION", ZEQ_MODE_PARAM_EST},
        {"Data reconciliation", ZEQ_MODE_DATA_RECON},
        {"simulation", ZEQ_MODE_SIMULATION},
    };
    const char* readBack[] = {"Simulation", "Parameter Estimation", "Data Reconciliation", "Optimization"};
    for (const auto& [text, mode] : moves) {
        FIError error;
        node->SetAttribute("value", kValue, FIValue(text), error);
        EXPECT_TRUE(error.Succeeded()) << text;
        EXPECT_EQ(rto_inq_mode_c(), mode) << text;
        EXPECT_EQ(Attr(node, kValue), readBack[mode]);
    }
    FIError error;
    node->SetAttribute("value", kValue, FIValue("Dynamic"), error);
    EXPECT_EQ(Text(error.Message()), "Invalid run mode specified");
    EXPECT_EQ(rto_inq_mode_c(), ZEQ_MODE_SIMULATION) << "unchanged";
    FIError number;
    node->SetAttribute("value", kValue, FIValue(3), number);
    EXPECT_EQ(Text(number.Message()), "Invalid run mode specified") << "a mode number is not a mode name";
}

TEST_F(DocumentTest, TheEnvironmentIsAlwaysSimulate) {
    FI::EntryHandle node = At("Top.Solver.ActiveEnvironment");
    EXPECT_EQ(Attr(node, kValue), "Simulate");
    EXPECT_EQ(Attr(node, kOptionList), "Simulate");
    FIError fine;
    node->SetAttribute("value", kValue, FIValue("SIMULATE"), fine);
    EXPECT_TRUE(fine.Succeeded());
    FIError refused;
    node->SetAttribute("value", kValue, FIValue("Optimize"), refused);
    EXPECT_EQ(Text(refused.Message()), "Invalid environment specified");
}

TEST_F(DocumentTest, ObjectiveFunctionFollowsTheEngine) {
    FI::EntryHandle node = At("Top.Solver.Objective Function");
    EXPECT_EQ(Attr(node, kOptionList), "NONE\nPRODUCT_FLOW\nENERGY_COST");
    EXPECT_EQ(Attr(node, kValue), "NONE");

    FIError error;
    node->SetAttribute("value", kValue, FIValue("energy_cost"), error);
    EXPECT_TRUE(error.Succeeded());
    EXPECT_STREQ(sim_->GetDefaultObjective(), "ENERGY_COST");
    EXPECT_EQ(Attr(node, kValue), "ENERGY_COST");
    {
        zeq::testing::CallJournal journal(*sim_);
        node->SetAttribute("value", kValue, FIValue("Energy_Cost"), error);
        EXPECT_FALSE(journal.Contains("SetDefaultObjective")) << "the current objective again calls nothing";
    }
    FIError unknown;
    node->SetAttribute("value", kValue, FIValue("PROFIT"), unknown);
    EXPECT_EQ(Text(unknown.Message()), "Invalid objective specified");
    EXPECT_STREQ(sim_->GetDefaultObjective(), "ENERGY_COST");

    {
        zeq::testing::CallJournal journal(*sim_);
        node->SetAttribute("value", kValue, FIValue("none"), error);
        EXPECT_TRUE(journal.Contains("SetDefaultObjective (null)"));
    }
    EXPECT_EQ(Attr(node, kValue), "NONE");

    node->SetAttribute("value", kValue, FIValue("PRODUCT_FLOW"), error);
    zeq::testing::FailNext(*sim_, -5);
    FIError refused;
    node->SetAttribute("value", kValue, FIValue("NONE"), refused);
    EXPECT_EQ(Text(refused.Message()), "Invalid objective specified") << "the engine's refusal";
}

TEST_F(DocumentTest, SolverScopeListsTheHierarchiesAndReportsRefusals) {
    FI::EntryHandle node = At("Top.Solver.Solver Scope");
    EXPECT_EQ(Attr(node, kValue), "Plant");
    EXPECT_EQ(Attr(node, kOptionList), "Plant\nSECTION");
    FIError error;
    node->SetAttribute("value", kValue, FIValue("SECTION"), error);
    EXPECT_TRUE(error.Succeeded());
    EXPECT_EQ(Attr(node, kValue), "SECTION");
    FIError refused;
    node->SetAttribute("value", kValue, FIValue("NOWHERE"), refused);
    EXPECT_FALSE(refused.Succeeded()) << "a refused scope is reported, not dropped";
    EXPECT_EQ(Attr(node, kValue), "SECTION");
}

}  // namespace
}  // namespace bdoc_test
