// Arguments a careless or hostile client passes: references to nothing, names and paths holding a NUL,
// arrays whose descriptor does not match their elements. Each is refused with a failure and leaves the
// model as it was; none is read past its end or cut short into another object's name.
#include <filesystem>
#include <vector>

#include "malformed_args.h"
#include "objects_support.h"
#include "temp_dir.h"

namespace {

using objects_test::I4;
using objects_test::Matrix;
using objects_test::Names;
using objects_test::NameOf;
using objects_test::Text;

using nuvtest::LyingArray;
using nuvtest::NullReference;
using nuvtest::WithNul;

class MalformedArgumentsTest : public objects_test::ObjectsTest {
protected:
    CComPtr<INUVParameter> Parameter(const char* block, const char* name) {
        CComPtr<INUVParameterCollection> parameters;
        Block(block)->get_Parameters(&parameters);
        CComPtr<INUVParameter> p;
        parameters->get_Parameter(Text(name), &p);
        return p;
    }
    std::string ValueOf(INUVParameter* p) {
        CComVariant v;
        p->get_Value(&v);
        return objects_test::Show(v);
    }
};

const VARTYPE kReferenced[] = {VT_R8, VT_I4, VT_BSTR, VT_BOOL, VT_I2, VT_R4, VT_I8, VT_DISPATCH, VT_VARIANT};

TEST_F(MalformedArgumentsTest, ReferencesToNothingAreRefusedBeforeTheyAreRead) {
    CComPtr<INUVParameter> pdrop = Parameter("FEED", "PDROP");
    CComPtr<INUVParameter> component = Parameter("FEED", "COMPONENT");
    ASSERT_TRUE(pdrop && component);
    CComPtr<INUVParameterCollection> parameters;
    CComPtr<INUVVariableCollection> variables;
    CComPtr<INUVBlockCollection> blocks;
    ASSERT_EQ(Block("FEED")->get_Parameters(&parameters), S_OK);
    ASSERT_EQ(Block("FEED")->get_Variables(&variables), S_OK);
    ASSERT_EQ(flowsheet_->get_Blocks(&blocks), S_OK);
    CComPtr<INUVSolverCollection> solvers;
    ASSERT_EQ(simulation_->get_Solvers(&solvers), S_OK);
    CComPtr<INUVSolver> main;
    ASSERT_EQ(solvers->get_Solver(Text("MAIN"), &main), S_OK);
    CComPtr<INUVParameters> solverParameters;
    ASSERT_EQ(main->get_Parameters(&solverParameters), S_OK);

    const std::string pdropBefore = ValueOf(pdrop), componentBefore = ValueOf(component);
    const auto valuesBefore = objects_test::EngineVariableValues(sim_->GetFlowsheet());
    for (VARTYPE vt : kReferenced) {
        SCOPED_TRACE(vt);
        const CComVariant nothing = NullReference(vt);
        // The same reference reached through a reference to a VARIANT, as script engines pass variables.
        CComVariant through;
        through.vt = VT_BYREF | VT_VARIANT;
        through.pvarVal = const_cast<CComVariant*>(&nothing);
        for (const CComVariant* value : {&nothing, const_cast<const CComVariant*>(&through)}) {
            EXPECT_TRUE(FAILED(pdrop->put_Value(*value)));
            EXPECT_TRUE(FAILED(component->put_Value(*value)));
            EXPECT_TRUE(FAILED(parameters->SetAttributes(Names({"VALUE"}), Matrix({{*value}}), 2)));
            EXPECT_TRUE(FAILED(parameters->SetAttributes(Names({"UOM"}), Matrix({{*value}}), 2)));
            EXPECT_TRUE(FAILED(variables->SetAttributes(Names({"VALUE"}), Matrix({{*value}}), 1)));
            CComPtr<INUVBlock> block;
            EXPECT_TRUE(FAILED(blocks->get_Block(*value, &block)));
            EXPECT_EQ(block, nullptr);
            CComPtr<INUVSolver> solver;
            EXPECT_TRUE(FAILED(solvers->get_Solver(*value, &solver)));
            EXPECT_TRUE(FAILED(solverParameters->put_Item(*value, I4(1))));
            EXPECT_TRUE(FAILED(solverParameters->put_Item(Text("MAXITER"), *value)));
            CComVariant read;
            EXPECT_TRUE(FAILED(solverParameters->get_Item(*value, &read)));
        }
    }
    EXPECT_EQ(ValueOf(pdrop), pdropBefore);
    EXPECT_EQ(ValueOf(component), componentBefore);
    EXPECT_EQ(objects_test::EngineVariableValues(sim_->GetFlowsheet()), valuesBefore);

    // A reference to a value is still taken, and the caller's VARIANT is left as it was.
    double number = 0.75;
    CComVariant toNumber;
    toNumber.vt = VT_BYREF | VT_R8;
    toNumber.pdblVal = &number;
    ASSERT_EQ(pdrop->put_Value(toNumber), S_OK);
    EXPECT_EQ(ValueOf(pdrop), "5:0.75");
    EXPECT_EQ(toNumber.vt, VT_BYREF | VT_R8);
    ASSERT_EQ(parameters->SetAttributes(Names({"VALUE"}), Matrix({{toNumber}}), 2), S_OK);
}

TEST_F(MalformedArgumentsTest, NamesHoldingANulNameNoObject) {
    const CComBSTR feed = WithNul("FEED", ".anything");
    CComPtr<INUVBlockCollection> blocks;
    ASSERT_EQ(flowsheet_->get_Blocks(&blocks), S_OK);
    CComPtr<INUVObject> found;
    EXPECT_TRUE(FAILED(blocks->Find(feed, &found)));
    EXPECT_EQ(NameOf(found), "<none>");
    CComVariant byName;
    byName.vt = VT_BSTR;
    byName.bstrVal = feed.m_str;  // lent: cleared before the VARIANT goes
    CComPtr<INUVBlock> block;
    EXPECT_TRUE(FAILED(blocks->get_Block(byName, &block)));
    EXPECT_EQ(block, nullptr);
    byName.vt = VT_EMPTY;

    CComPtr<INUVVariableCollection> variables;
    ASSERT_EQ(flowsheet_->get_Variables(&variables), S_OK);
    EXPECT_TRUE(FAILED(variables->Find(WithNul("FEED.F", "X"), &found)));
    CComPtr<INUVParameterCollection> parameters;
    ASSERT_EQ(Block("FEED")->get_Parameters(&parameters), S_OK);
    EXPECT_TRUE(FAILED(parameters->Find(WithNul("PDROP", ""), &found)));
    EXPECT_EQ(found, nullptr);
    CComPtr<INUVSolverCollection> solvers;
    ASSERT_EQ(simulation_->get_Solvers(&solvers), S_OK);
    EXPECT_TRUE(FAILED(solvers->Find(WithNul("MAIN", "2"), &found)));
    EXPECT_EQ(found, nullptr);
    // A service's name too.
    CComPtr<IUnknown> service;
    EXPECT_TRUE(FAILED(parameters->GetService(WithNul("GridService", "x"), &service)));
    EXPECT_EQ(service, nullptr);
    // Found whole, the names still answer.
    ASSERT_EQ(blocks->Find(CComBSTR("FEED"), &found), S_OK);
    EXPECT_EQ(NameOf(found), "FEED");
}

TEST_F(MalformedArgumentsTest, PathsHoldingANulReachNoFile) {
    const nuv::test::TempDir dir("nuv_nul_path");
    const std::string model = dir.File("x.model");
    ASSERT_EQ(simulation_->SaveSimulation(Text(model.c_str()).bstrVal), S_OK);
    std::filesystem::remove(model);
    const CComBSTR cut = WithNul(model.c_str(), ".txt");
    EXPECT_TRUE(FAILED(simulation_->SaveSimulation(cut)));
    EXPECT_FALSE(std::filesystem::exists(model)) << "the path was cut at its NUL";
    EXPECT_TRUE(FAILED(simulation_->SaveBlock(cut, CComBSTR("FEED"))));
    EXPECT_FALSE(std::filesystem::exists(model));
    EXPECT_TRUE(FAILED(simulation_->SaveBlock(CComBSTR(nuv::to_utf16(model).c_str()), WithNul("FEED", "x"))));

    // Readers: the whole file exists under the cut name, and is not read.
    ASSERT_EQ(simulation_->SaveSimulation(CComBSTR(nuv::to_utf16(model).c_str())), S_OK);
    EXPECT_TRUE(FAILED(simulation_->OpenSimulation(cut)));
    EXPECT_TRUE(FAILED(simulation_->AddSimulation(cut)));
    EXPECT_TRUE(FAILED(simulation_->LoadBlock(cut)));
    EXPECT_TRUE(FAILED(simulation_->SolveWithObjective(WithNul("NONE", "x"))));
    EXPECT_TRUE(FAILED(simulation_->PushScope(WithNul("SECTION", ".HTR"))));
}

TEST_F(MalformedArgumentsTest, ArraysWhoseElementsAreSmallerThanTheirFeaturesClaimAreRefused) {
    CComPtr<INUVVariableCollection> variables;
    CComPtr<INUVParameterCollection> parameters;
    ASSERT_EQ(Block("FEED")->get_Variables(&variables), S_OK);
    ASSERT_EQ(Block("FEED")->get_Parameters(&parameters), S_OK);
    const auto valuesBefore = objects_test::EngineVariableValues(sim_->GetFlowsheet());
    const struct {
        ULONG size;
        USHORT features;
    } lies[] = {{4, FADF_VARIANT}, {2, FADF_BSTR}, {sizeof(VARIANT) - 8, FADF_VARIANT}, {4, FADF_BSTR | FADF_VARIANT}};
    for (const auto& lie : lies) {
        SCOPED_TRACE(lie.size);
        LyingArray names(lie.size, lie.features);
        CComVariant out;
        EXPECT_TRUE(FAILED(variables->GetAttributes(names.Lent(), 1, 0, &out)));
        EXPECT_TRUE(FAILED(parameters->GetAttributes(names.Lent(), 1, 0, &out)));
        EXPECT_TRUE(FAILED(variables->SetAttributes(names.Lent(), Matrix({{CComVariant(1.0)}}), 1)));
        LyingArray values(lie.size, lie.features, 1, 2);
        EXPECT_TRUE(FAILED(variables->SetAttributes(Names({"VALUE"}), values.Lent(), 1)));
        EXPECT_TRUE(FAILED(parameters->SetAttributes(Names({"VALUE"}), values.Lent(), 2)));
    }
    EXPECT_EQ(objects_test::EngineVariableValues(sim_->GetFlowsheet()), valuesBefore);
}

}  // namespace
