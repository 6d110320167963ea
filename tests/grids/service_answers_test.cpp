// Grids that cannot answer as asked say so: rows of a flowsheet that changed under them, a sort of a grid
// whose block is gone, NaN among the values, and edits the collection refuses.
#include <cmath>
#include <functional>

#include "service_support.h"

namespace {

using namespace grid_test;

CComVariant Flags(const std::vector<LONG>& v) { return IntArray(v, VT_BOOL); }

// The engine value of a flowsheet variable.
double EngineValue(zeq::Simulation& sim, const char* name) {
    ZEQEOCntr* flowsheet = sim.GetFlowsheet();
    ZEQVariableData record;
    record.SetMask(VA_VALUE, 0);
    double d = -1;
    if (!record.Load(flowsheet, nullptr, flowsheet->FindIndex(name), true) || !record.GetValue(VA_VALUE, d)) return -1;
    return d;
}

TEST_F(GridTest, RowsTakenBeforeTheFlowsheetChangedAreRefusedUntilPreparedAgain) {
    CComPtr<INUVGridService> variables = Grid("", MemberKind::Variables);
    CComPtr<INUVGridService> equations = Grid("", MemberKind::Equations);
    ASSERT_EQ(variables->Prepare(), S_OK);
    ASSERT_EQ(equations->Prepare(), S_OK);
    const LONG before = CountOf(variables);
    const double level = EngineValue(*sim_, "TANK.LEVEL");
    // WIDE comes first: every later member moves up twelve places.
    ASSERT_EQ(sim_->GetFlowsheet()->RemoveBlock(ZEQString("WIDE")), 0);

    using Call = std::function<HRESULT(INUVGridService*)>;
    const std::pair<const char*, Call> calls[] = {
        {"Count", [](INUVGridService* g) { LONG n = 0; return g->get_Count(&n); }},
        {"Item", [](INUVGridService* g) { CComPtr<INUVObject> o; return g->get_Item(1, &o); }},
        {"_NewEnum", [](INUVGridService* g) { CComPtr<IUnknown> e; return g->get__NewEnum(&e); }},
        {"Find", [](INUVGridService* g) { CComPtr<INUVObject> o; return g->Find(CComBSTR("TANK.LEVEL"), &o); }},
        {"GetAttributes", [](INUVGridService* g) { CComVariant m; return g->GetAttributes(Names({"NAME"}), 1, 0, &m); }},
        {"Sort", [](INUVGridService* g) { return g->Sort(); }},
        {"SetAttr", [](INUVGridService* g) { return g->SetAttr(CComBSTR("VALUE"), CComVariant(77.0), 13); }},
        {"GetIndexPositions", [](INUVGridService* g) { CComVariant v; return g->GetIndexPositions(IntArray({1}), &v); }},
        {"GetPositionIndices", [](INUVGridService* g) { CComVariant v; return g->GetPositionIndices(IntArray({1}), &v); }},
    };
    for (const auto& [name, call] : calls) {
        EXPECT_EQ(call(variables), nuv::grid::kStaleRows) << name;
        EXPECT_EQ(TakeError(),
                  "NUVVariableGrid: The flowsheet changed since the grid was prepared; call Prepare again")
            << name;
    }
    EXPECT_EQ(EngineValue(*sim_, "TANK.LEVEL"), level) << "the edit reached no variable";
    LONG n = -1;
    EXPECT_EQ(equations->get_Count(&n), nuv::grid::kStaleRows) << "every kind's rows are indexes";
    SetErrorInfo(0, nullptr);

    ASSERT_EQ(variables->Prepare(), S_OK);
    EXPECT_EQ(CountOf(variables), before - 12);
    CComPtr<INUVObject> item;
    ASSERT_EQ(variables->get_Item(1, &item), S_OK);
    EXPECT_EQ(NameOf(item), "TANK.LEVEL");
}

TEST_F(GridTest, NaNSortsAsOneValueAfterEveryNumber) {
    // Twelve values, NaN in three places.
    zeq::testing::ModelBuilder m;
    m.Block("WIDE");
    const double values[] = {3, NAN, 0, 9, NAN, 1, 2, 8, NAN, 7, 6, 4};
    for (int i = 0; i < 12; ++i) m.Var("V" + std::to_string(i + 10), values[i]);
    Open(m.Create());
    CComPtr<INUVGridService> grid = Grid("WIDE", MemberKind::Variables);
    for (LONG ascending : {-1, 0}) {
        ASSERT_EQ(grid->SetSortKeys(Names({"VALUE"}), Flags({ascending})), S_OK);
        ASSERT_EQ(grid->Sort(), S_OK);
        CComVariant matrix;
        ASSERT_EQ(grid->GetAttributes(Names({"VALUE"}), 1, 0, &matrix), S_OK);
        std::vector<double> values;
        for (LONG r = 1; r <= Extent(matrix, 1); ++r) values.push_back(At(matrix, r, 1).dblVal);
        ASSERT_EQ(values.size(), 12u);
        // Ascending: nine numbers in order, then the three NaNs; descending: the NaNs first.
        const size_t firstNumber = ascending ? 0 : 3;
        for (size_t i = 0; i < values.size(); ++i)
            EXPECT_EQ(std::isnan(values[i]), i < firstNumber || i >= firstNumber + 9) << ascending << " at " << i;
        for (size_t i = firstNumber + 1; i < firstNumber + 9; ++i)
            EXPECT_TRUE(ascending ? values[i - 1] <= values[i] : values[i - 1] >= values[i]) << i;
    }
}

TEST_F(GridTest, ASortWhoseBlockIsGoneFailsWhateverItsKeysAndFlags) {
    CComPtr<INUVGridService> noKeys = Grid("WIDE", MemberKind::Variables);
    CComPtr<INUVGridService> sorted = Grid("TANK", MemberKind::Equations);
    CComPtr<INUVGridService> pending = Grid("TANK", MemberKind::Parameters);
    ASSERT_EQ(noKeys->Prepare(), S_OK);
    ASSERT_EQ(sorted->SetSortKeys(Names({"NAME"}), Flags({})), S_OK);
    ASSERT_EQ(sorted->Sort(), S_OK);
    ASSERT_EQ(pending->SetSortKeys(Names({"VALUE"}), Flags({})), S_OK);
    sim_.reset();
    for (INUVGridService* grid : {noKeys.p, sorted.p, pending.p}) EXPECT_EQ(grid->Sort(), nuv::kInvalidObject);
    EXPECT_EQ(TakeError(), "NUVParameterGrid: Interface no longer references a valid object");
}

TEST_F(GridTest, EditsTheCollectionRefusesSayWhatWasRefused) {
    CComPtr<INUVGridService> parameters = Grid("TANK", MemberKind::Parameters);
    CComPtr<INUVGridService> variables = Grid("TANK", MemberKind::Variables);
    ASSERT_EQ(parameters->Prepare(), S_OK);
    ASSERT_EQ(variables->Prepare(), S_OK);
    struct Row {
        INUVGridService* grid;
        const char* attribute;
        CComVariant value;
        const char* error;
    } rows[] = {
        {parameters, "NAME", CComVariant("OTHER"), "NUVParameterGrid: Unable to set attribute NAME"},
        {variables, "UOM", CComVariant("furlong"), "NUVVariableGrid: Unable to set attribute UOM"},
    };
    for (const Row& row : rows) {
        EXPECT_TRUE(FAILED(row.grid->SetAttr(CComBSTR(row.attribute), row.value, 1))) << row.attribute;
        const std::string text = TakeError();
        EXPECT_EQ(text.rfind(row.error, 0), 0u) << text;
    }
}

TEST_F(GridTest, APortsVariablesServeTheVariableGridInformation) {
    CComPtr<INUVObject> item;
    ASSERT_EQ(Collection("TANK", MemberKind::Ports)->get_Item(1, &item), S_OK);
    CComPtr<INUVPort2> port;
    ASSERT_EQ(item->QueryInterface(IID_INUVPort2, reinterpret_cast<void**>(&port)), S_OK);
    CComPtr<INUVVariableCollection> portVariables;
    ASSERT_EQ(port->get_Variables(&portVariables), S_OK);
    // The same columns as the block's variables, not as its ports.
    auto columns = [](INUVObjectCollection* c) {
        CComPtr<IUnknown> unknown;
        EXPECT_EQ(c->GetService(CComBSTR("GridInfoService"), &unknown), S_OK);
        CComQIPtr<INUVGridInfo> info(unknown);
        INT count = -1, primary = -1;
        if (info) info->get_ColCount(&count), info->get_PrimaryCol(&primary);
        return std::make_pair(count, primary);
    };
    EXPECT_EQ(columns(portVariables), columns(Collection("TANK", MemberKind::Variables)));
    EXPECT_NE(columns(portVariables), columns(Collection("TANK", MemberKind::Ports)));
}

}  // namespace
