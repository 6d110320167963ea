// A grid's rows are member indexes of the numbering it was prepared in. A call that finds its rows
// current and then reads or writes by them may be overtaken by another thread's change to the blocks:
// it then reports the rows stale, as a call made after the change does, and never answers with, nor
// writes to, the member that took a row's index.
#include <functional>
#include <map>
#include <string>

#include "service_support.h"

namespace grid_test {
namespace {

// Runs once, on the thread making the next variable wrapper, before the wrapper is made.
std::function<void()> g_beforeMake;

HRESULT MakeVariableAfterChange(ZEQEOSimulation* sim, int index, REFIID riid, void** ppv, INUVWrapper** wrapper) {
    if (g_beforeMake) std::exchange(g_beforeMake, nullptr)();
    return NUVClassFactory_QueryCreateVarWrapper(sim, index, riid, ppv, wrapper);
}

class OvertakenGrid : public GridTest {
protected:
    void TearDown() override {
        g_beforeMake = nullptr;
        GridTest::TearDown();
    }
    // Takes TANK (three variables before AREA's) away: TANK.LEVEL's row 13 then names AREA.CELL.X.
    void RemoveTank() { ASSERT_EQ(sim_->GetFlowsheet()->RemoveBlock(ZEQString("TANK")), 0); }
    std::map<std::string, double> EngineValues() const { return objects_test::EngineVariableValues(sim_->GetFlowsheet()); }
};

TEST_F(OvertakenGrid, CallsOvertakenByAChangeToTheBlocksReportTheRowsStale) {
    using Call = std::function<HRESULT(INUVGridService*)>;
    struct Case {
        const char* what;
        std::function<void()> arm;  // makes TANK go at the moment the call uses its row
        Call call;
    };
    const Case cases[] = {
        {"GetAttributes",
         [this] { zeq::testing::BeforeNextMemberLoad(*sim_, [this] { RemoveTank(); }); },
         [](INUVGridService* g) { CComVariant m; return g->GetAttributes(Names({"NAME", "VALUE"}), 13, 1, &m); }},
        {"Sort",
         [this] { zeq::testing::BeforeNextMemberLoad(*sim_, [this] { RemoveTank(); }); },
         [](INUVGridService* g) { return g->Sort(); }},
        {"SetAttr",
         [this] { zeq::testing::BeforeNextVariableCommit(*sim_, [this] { RemoveTank(); }); },
         [](INUVGridService* g) { return g->SetAttr(CComBSTR("VALUE"), CComVariant(77.0), 13); }},
        {"Item", [this] { g_beforeMake = [this] { RemoveTank(); }; },
         [](INUVGridService* g) { CComPtr<INUVObject> o; return g->get_Item(13, &o); }},
        {"Find", [this] { g_beforeMake = [this] { RemoveTank(); }; },
         [](INUVGridService* g) { CComPtr<INUVObject> o; return g->Find(CComBSTR("TANK.LEVEL"), &o); }},
        {"_NewEnum", [this] { g_beforeMake = [this] { RemoveTank(); }; },
         [](INUVGridService* g) { CComPtr<IUnknown> e; return g->get__NewEnum(&e); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Open(BuildGridModel());
        zeq_set_wrapper_factory(&MakeVariableAfterChange, &NUVClassFactory_QueryCreateEqnWrapper);
        CComPtr<INUVGridService> grid = Grid("", MemberKind::Variables);
        ASSERT_TRUE(grid);
        ASSERT_EQ(grid->Prepare(), S_OK);
        ASSERT_EQ(grid->SetSortKeys(Names({"VALUE"}), Flags({})), S_OK);
        std::map<std::string, double> before = EngineValues();
        c.arm();
        EXPECT_EQ(c.call(grid), nuv::grid::kStaleRows);
        EXPECT_EQ(TakeError(),
                  "NUVVariableGrid: The flowsheet changed since the grid was prepared; call Prepare again");
        for (const char* gone : {"TANK.LEVEL", "TANK.VOLUME", "TANK.TEMP"}) before.erase(gone);
        EXPECT_EQ(EngineValues(), before) << "no variable changed";
        // Prepared again, the rows are those of the flowsheet now.
        ASSERT_EQ(grid->Prepare(), S_OK);
        EXPECT_EQ(Column(Matrix(grid, {"NAME"}, 13, 1), 1), std::vector<std::string>{"AREA.CELL.X"});
    }
}

}  // namespace
}  // namespace grid_test
