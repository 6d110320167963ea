// Library and block editing through the services a simulation and its blocks hand out.
#include "tasks_support.h"

namespace {

using tasks_test::ServiceTest;
using tasks_test::TakeError;
using tasks_test::Text;

constexpr HRESULT kInvalidObject = static_cast<HRESULT>(0x80040101);

class EditTest : public ServiceTest {
protected:
    CComPtr<INUVEditBlock> BlockService(INUVBlock* block) {
        CComPtr<IUnknown> unknown;
        EXPECT_EQ(block->GetService(Text("NUVEditBlock"), &unknown), S_OK);
        CComQIPtr<INUVEditBlock> service(unknown);
        return CComPtr<INUVEditBlock>(service.p);
    }
    CComPtr<INUVBlock> Flowsheet() {
        CComPtr<INUVBlock> flowsheet;
        EXPECT_EQ(wrapper_->get_Flowsheet(&flowsheet), S_OK);
        return flowsheet;
    }
    double PressureDrop(const char* block) {
        ZEQParameterData record;
        record.mask.Set(PA_VALUE);
        double value = -1;
        ZEQEOBlock* engineBlock = sim_->GetFlowsheet()->FindBlock(block);
        EXPECT_TRUE(engineBlock && record.Load(engineBlock, "PDROP") && record.GetValue(PA_VALUE, value)) << block;
        return value;
    }
    CComPtr<INUVBlock> Child(INUVBlock* parent, const char* name) {
        CComPtr<INUVBlockCollection> blocks;
        EXPECT_EQ(parent->get_Blocks(&blocks), S_OK);
        CComPtr<INUVBlock> block;
        EXPECT_EQ(blocks->get_Block(CComVariant(name), &block), S_OK) << name;
        return block;
    }
};

TEST_F(EditTest, LibrariesReachTheEngineAndItsFailuresAreReported) {
    CComPtr<INUVEditLibraries> libraries = Service<INUVEditLibraries>("NUVEditLibraries");
    ASSERT_TRUE(libraries);
    {
        zeq::testing::CallJournal journal(*sim_);
        EXPECT_EQ(libraries->RemoveLibrary(Text("STANDARD")), S_OK);
        EXPECT_EQ(libraries->AddLibrary(Text("standard")), S_OK);
        EXPECT_EQ(libraries->AddLibrary(Text("STANDARD")), S_FALSE) << "non-negative engine answers pass unchanged";
        EXPECT_TRUE(journal.Contains("AddLibrary standard"));
        EXPECT_TRUE(journal.Contains("RemoveLibrary STANDARD"));
    }

    zeq::testing::FailNext(*sim_, static_cast<int>(0x80040702));
    EXPECT_EQ(libraries->AddLibrary(Text("/no/such/library")), static_cast<HRESULT>(0x80040702));
    auto error = TakeError();
    EXPECT_EQ(error.source, "NUVEditLibraries");
    EXPECT_EQ(error.description, "Failed to create block");
    EXPECT_EQ(libraries->RemoveLibrary(nullptr), E_INVALIDARG) << "a null name reaches the engine as null";
    CComVariant none;
    EXPECT_EQ(tasks_test::CallByName(libraries, OLESTR("removelibrary"), DISPATCH_METHOD, {CComVariant("Standard")}, &none),
              S_OK);
    EXPECT_EQ(libraries->RemoveLibrary(Text("STANDARD")), static_cast<HRESULT>(ZEQ_E_NOT_FOUND)) << "already gone";
    EXPECT_EQ(TakeError().source, "NUVEditLibraries");

    sim_.reset();
    EXPECT_EQ(libraries->AddLibrary(Text("STANDARD")), kInvalidObject);
    EXPECT_EQ(TakeError().description, "Interface no longer references a valid object");
}

TEST_F(EditTest, AddBlockUpperCasesNamesAndPassesOnlyTextArguments) {
    CComPtr<INUVEditBlock> edit = BlockService(Flowsheet());
    ASSERT_TRUE(edit);
    zeq::testing::CallJournal journal(*sim_);
    CComBSTR args("PDROP=2.5");
    VARIANT byRef;
    byRef.vt = VT_BSTR | VT_BYREF;
    byRef.pbstrVal = &args;
    EXPECT_EQ(edit->AddBlock(Text("heat2"), Text("heater"), byRef), S_OK);
    EXPECT_TRUE(journal.Contains("AddBlock HEAT2 HEATER"));
    EXPECT_DOUBLE_EQ(PressureDrop("HEAT2"), 2.5) << "the text reached the engine by reference";
    // A number is no argument text: the block is made with its type's defaults.
    EXPECT_EQ(edit->AddBlock(Text("heat3"), Text("HEATER"), CComVariant(42)), S_OK);
    EXPECT_DOUBLE_EQ(PressureDrop("HEAT3"), 0);
    // A text the engine cannot take proves that a plain text argument is passed too.
    EXPECT_EQ(edit->AddBlock(Text("feed4"), Text("FEED"), CComVariant("NOSUCH=1")), static_cast<HRESULT>(0x80040702));
    EXPECT_EQ(TakeError().source, "NUVEditBlock");
    EXPECT_EQ(edit->AddBlock(Text("bad.name"), Text("FEED"), CComVariant()), static_cast<HRESULT>(0x80040701));
    EXPECT_EQ(TakeError().description, "Invalid name for a block");
    EXPECT_EQ(edit->AddBlock(Text("other"), Text("nosuchtype"), CComVariant()), static_cast<HRESULT>(0x80040703));
    // Late-bound, with an empty argument list.
    CComVariant missing, result;
    EXPECT_EQ(tasks_test::CallByName(edit, OLESTR("addblock"), DISPATCH_METHOD,
                                     {CComVariant("late"), CComVariant("Feed"), missing}, &result),
              S_OK);
    EXPECT_GE(sim_->FindVar("LATE.F"), 0);

    EXPECT_EQ(edit->RemoveBlock(Text("heat2")), S_OK);
    EXPECT_LT(sim_->FindVar("HEAT2.T"), 0);
    EXPECT_EQ(edit->RemoveBlock(Text("heat2")), static_cast<HRESULT>(ZEQ_E_NOT_FOUND)) << "already gone";
    auto error = TakeError();
    EXPECT_EQ(error.source, "NUVEditBlock");
    EXPECT_EQ(error.description, "Unknown block HEAT2");
}

TEST_F(EditTest, HierarchyServiceEditsInsideItsOwnContainerOnly) {
    CComPtr<INUVBlock> section = Child(Flowsheet(), "SEC");
    CComPtr<INUVEditBlock> edit = BlockService(section);
    ASSERT_TRUE(edit);
    EXPECT_EQ(edit->AddBlock(Text("f"), Text("FEED"), CComVariant()), S_OK);
    EXPECT_GE(sim_->FindVar("SEC.F.T"), 0);
    EXPECT_LT(sim_->FindVar("F.T"), 0) << "nothing lands in the flowsheet";
    EXPECT_EQ(edit->RemoveAllBlocks(), S_OK);
    EXPECT_LT(sim_->FindVar("SEC.H.U"), 0);
    EXPECT_GE(sim_->FindVar("A.X"), 0) << "the flowsheet keeps its blocks";

    // A plain block has no container to edit in: the provider offers no service.
    CComPtr<IUnknown> none;
    EXPECT_EQ(Child(Flowsheet(), "A")->GetService(Text("NUVEditBlock"), &none), static_cast<HRESULT>(0x80040103));
    EXPECT_FALSE(none);
}

TEST_F(EditTest, BlockServiceOutlivingTheSimulationFailsInsteadOfTouchingIt) {
    CComPtr<INUVEditBlock> edit = BlockService(Child(Flowsheet(), "SEC"));
    ASSERT_TRUE(edit);
    sim_.reset();
    EXPECT_EQ(edit->AddBlock(Text("F"), Text("FEED"), CComVariant()), kInvalidObject);
    EXPECT_EQ(TakeError().source, "NUVEditBlock");
    EXPECT_EQ(edit->RemoveBlock(Text("H")), kInvalidObject);
    EXPECT_EQ(edit->RemoveAllBlocks(), kInvalidObject);
}

}  // namespace
