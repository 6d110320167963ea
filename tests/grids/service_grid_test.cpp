// Grid services reached through the collections: rows, queries, sorting, attribute windows, row edits,
// translations, the alias column, the members a kind lacks, rows of a flowsheet that changed under the
// grid, late binding, and the system library loaded as a host loads it.

#include <algorithm>
#include <cmath>
#include <functional>
#include <atomic>
#include <thread>
#include <tuple>
#include <type_traits>

#include "late_bound.h"
#include "safe_arrays.h"
#include "service_support.h"
#include "system_library.h"

namespace {

using namespace grid_test;
using nuvtest::CallByName;

std::string Wide(int i) {
    char name[16];
    std::snprintf(name, sizeof name, "WIDE.V%02d", i);
    return name;
}

CComVariant Null() {
    CComVariant v;
    v.vt = VT_NULL;
    return v;
}

// Sorts the grid on `keys` with `ascending` flags.
void SortOn(INUVGridService* grid, const std::vector<std::string>& keys, const std::vector<LONG>& ascending) {
    ASSERT_EQ(grid->SetSortKeys(Names(keys), Flags(ascending)), S_OK);
    ASSERT_EQ(grid->Sort(), S_OK);
}

// The NAME column of every row.
std::vector<std::string> Shown(INUVGridService* grid) { return Column(Matrix(grid, {"NAME"}), 1); }

TEST_F(GridTest, EveryKindShowsItsCollectionInOrderWithOrWithoutAQuery) {
    const struct {
        const char* block;
        MemberKind kind;
    } cases[] = {{"", MemberKind::Variables},       {"WIDE", MemberKind::Variables}, {"AREA", MemberKind::Variables},
                 {"AREA", MemberKind::Equations},   {"TANK", MemberKind::Equations}, {"", MemberKind::Equations},
                 {"TANK", MemberKind::Parameters}, {"TANK", MemberKind::Ports}};
    for (const auto& c : cases) {
        for (bool query : {false, true}) {
            SCOPED_TRACE(std::string(c.block) + " kind " + std::to_string(static_cast<int>(c.kind)) +
                         (query ? " queried" : ""));
            CComPtr<INUVObjectCollection> coll = Collection(c.block, c.kind);
            CComPtr<INUVGridService> grid = Grid(c.block, c.kind);
            ASSERT_TRUE(grid);
            EXPECT_EQ(CountOf(grid), 0) << "no rows before the first Prepare";
            // A query that keeps everything numbers the rows as the collection does, in a hierarchy too.
            if (query) {
                ASSERT_EQ(grid->SetQueryStrings(Names({"NAME LIKE '*'"})), S_OK);
            }
            // Sort with no keys still prepares a grid that never was.
            ASSERT_EQ(grid->Sort(), S_OK);
            const LONG n = CountOf(coll);
            ASSERT_GT(n, 0);
            ASSERT_EQ(CountOf(grid), n);
            CComPtr<INUVObject> none;
            EXPECT_EQ(grid->get_Item(n + 1, &none), nuv::kIndexOutOfRange);
            EXPECT_NE(TakeError().find("Index is not in the range 1 to Count()"), std::string::npos);
            // Item by position and the enumerator both give the collection's members in its order.
            CComPtr<IUnknown> unk;
            ASSERT_EQ(grid->get__NewEnum(&unk), S_OK);
            CComQIPtr<IEnumVARIANT> e(unk);
            ASSERT_TRUE(e);
            LONG seen = 0;
            for (CComVariant v; e->Next(1, &v, nullptr) == S_OK; v.Clear()) {
                CComPtr<INUVObject> mine, theirs;
                ASSERT_EQ(grid->get_Item(++seen, &mine), S_OK);
                ASSERT_EQ(coll->get_Item(seen, &theirs), S_OK);
                EXPECT_EQ(NameOf(mine), NameOf(theirs));
                EXPECT_EQ(NameOf(v.pdispVal), NameOf(theirs));
            }
            EXPECT_EQ(seen, n);
        }
    }
}

TEST_F(GridTest, SortKeysKeepTheirOwnOrdersAndUnknownKeysAreDropped) {
    CComPtr<INUVGridService> grid = Grid("WIDE", MemberKind::Variables);
    ASSERT_EQ(grid->Prepare(), S_OK);
    // NAME ascending, an unknown key, VALUE descending, and an empty key that is skipped silently.
    EXPECT_EQ(grid->SetSortKeys(Names({"NAME", "NO_SUCH", "VALUE", ""}), Flags({-1, 0, 0})), nuv::grid::kBadSortKey);
    EXPECT_EQ(TakeError(), "") << "SetSortKeys returns its codes without reporting them";
    ASSERT_EQ(grid->Sort(), S_OK);
    std::vector<std::string> names = Shown(grid);
    EXPECT_TRUE(std::is_sorted(names.begin(), names.end()));

    // VALUE descending with ties broken by NAME ascending, checked against the values the collection reads.
    SortOn(grid, {"VALUE", "NAME"}, {0});
    CComVariant sorted = Matrix(grid, {"NAME", "VALUE"});
    std::vector<std::pair<double, std::string>> expected;
    CComVariant all;
    ASSERT_EQ(Collection("WIDE", MemberKind::Variables)->GetAttributes(Names({"NAME", "VALUE"}), 1, 0, &all), S_OK);
    for (LONG r = 1; r <= Extent(all, 1); ++r)
        expected.emplace_back(At(all, r, 2).dblVal, nuv::bstr_to_utf8(At(all, r, 1).bstrVal));
    std::sort(expected.begin(), expected.end(), [](const auto& a, const auto& b) {
        return a.first != b.first ? a.first > b.first : a.second < b.second;
    });
    ASSERT_EQ(Extent(sorted, 1), static_cast<LONG>(expected.size()));
    for (LONG r = 1; r <= Extent(sorted, 1); ++r)
        EXPECT_EQ(nuv::bstr_to_utf8(At(sorted, r, 1).bstrVal), expected[static_cast<size_t>(r - 1)].second) << r;

    // Keys must come as arrays: anything else is refused without error information.
    EXPECT_EQ(grid->SetSortKeys(Text("NAME"), Flags({1})), E_INVALIDARG);
    EXPECT_EQ(grid->SetSortKeys(Names({"NAME"}), CComVariant(true)), E_INVALIDARG);
    EXPECT_EQ(TakeError(), "");
    // Orders given as an array of texts are no sort orders; keys may be one.
    EXPECT_EQ(grid->SetSortKeys(nuvtest::TextArray({"NAME"}), nuvtest::TextArray({"up"})), E_INVALIDARG);
    EXPECT_EQ(TakeError().rfind("NUVVariableGrid: ", 0), 0u) << "reported";

    // Texts compare on their first 1,024 characters: V03 and V07 differ only after them, so tie on
    // DESCRIPTION and NAME decides.
    SortOn(grid, {"DESCRIPTION", "NAME"}, {});
    names = Shown(grid);
    ASSERT_EQ(names.size(), 12u);
    EXPECT_EQ(names[10], Wide(3));
    EXPECT_EQ(names[11], Wide(7));
}

TEST_F(GridTest, QueriesNarrowTheRowsAndFindSeesOnlyThem) {
    CComPtr<INUVGridService> grid = Grid("WIDE", MemberKind::Variables);
    ASSERT_EQ(grid->SetQueryStrings(Names({"VALUE > 2", "", "VALUE >>> nonsense"})), S_OK);
    EXPECT_EQ(CountOf(grid), 0);
    ASSERT_EQ(grid->Prepare(), S_OK);
    CComVariant m = Matrix(grid, {"NAME", "VALUE"});
    LONG expected = 0;
    for (int i = 1; i <= 12; ++i) expected += (12 - i) % 5 > 2;
    ASSERT_EQ(CountOf(grid), expected);
    for (LONG r = 1; r <= expected; ++r) EXPECT_GT(At(m, r, 2).dblVal, 2.0);

    CComPtr<INUVObject> found;
    ASSERT_EQ(grid->Find(CComBSTR("v03"), &found), S_OK);
    EXPECT_EQ(NameOf(found), Wide(3));
    found.Release();
    EXPECT_EQ(grid->Find(CComBSTR("V01"), &found), nuv::kObjectNotFound);
    EXPECT_EQ(TakeError(), "NUVVariableGrid: Failed to find requested object");
    EXPECT_EQ(grid->Find(CComBSTR("NOWHERE"), &found), nuv::kObjectNotFound);
    EXPECT_EQ(grid->SetQueryStrings(CComVariant(1)), E_INVALIDARG);
}

TEST_F(GridTest, AttributeWindowsAreClippedToTheRows) {
    CComPtr<INUVGridService> grid = Grid("WIDE", MemberKind::Variables);
    ASSERT_EQ(grid->Prepare(), S_OK);
    const struct {
        LONG first, count, from, to;
    } cases[] = {{2, 0, 2, 12}, {9, 5, 9, 12}, {3, 7, 3, 9}, {12, 1, 12, 12}, {1, -4, 1, 12}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.first) + "," + std::to_string(c.count));
        std::vector<std::string> names = Column(Matrix(grid, {"NAME"}, c.first, c.count), 1);
        ASSERT_EQ(names.size(), static_cast<size_t>(c.to - c.from + 1));
        for (LONG i = c.from; i <= c.to; ++i) EXPECT_EQ(names[static_cast<size_t>(i - c.from)], Wide(i));
    }
    CComVariant out;
    for (LONG first : {0, 13}) {
        EXPECT_EQ(grid->GetAttributes(Names({"NAME"}), first, 1, &out), nuv::kIndexOutOfRange);
        EXPECT_EQ(TakeError(), "NUVVariableGrid: Index is not in the range 1 to Count()");
    }
    EXPECT_EQ(grid->GetAttributes(Text("NAME"), 1, 1, &out), E_INVALIDARG);
    EXPECT_EQ(out.vt, VT_EMPTY);
    EXPECT_EQ(grid->GetAttributes(Names({"NAME"}), 1, 1, nullptr), E_POINTER);
}

TEST_F(GridTest, VariableRowsAreEditedInPlaceUntilTheNextPrepare) {
    CComPtr<INUVGridService> grid = Grid("WIDE", MemberKind::Variables);
    ASSERT_EQ(grid->Prepare(), S_OK);
    // Empty row 3: it shows the not-set values and takes no attribute.
    ASSERT_EQ(grid->SetAttr(CComBSTR("name"), Null(), 3), S_OK);
    EXPECT_EQ(grid->SetAttr(CComBSTR("VALUE"), CComVariant(1.0), 3), nuv::grid::kEmptyRowEdit);
    EXPECT_EQ(TakeError(), "NUVVariableGrid: Attribute cannot be set on an empty row");
    CComVariant m = Matrix(grid, {"NAME", "VALUE"}, 3, 1);
    EXPECT_EQ(At(m, 1, 2).dblVal, ZEQ_NOT_SET_DOUBLE);
    EXPECT_EQ(nuv::bstr_to_utf8(At(m, 1, 1).bstrVal), "");
    // Sorted on VALUE ascending the empty row goes last, after every real value.
    SortOn(grid, {"VALUE"}, {-1});
    EXPECT_EQ(grid->SetAttr(CComBSTR("NUMBER"), I4(7), 12), S_OK);  // re-pointing clears the sorted flag
    EXPECT_EQ(Shown(grid).back(), Wide(7));

    // Re-pointing by name and number, and their refusals.
    LONG n7 = 7;
    CComVariant by_ref;
    by_ref.vt = VT_I4 | VT_BYREF;
    by_ref.plVal = &n7;
    const struct {
        const char* attribute;
        CComVariant value;
        HRESULT hr;
        const char* shows;  // name shown in row 1 afterwards
    } cases[] = {
        {"NUMBER", I4(5), S_OK, "WIDE.V05"},
        {"number", CComVariant(static_cast<SHORT>(2)), S_OK, "WIDE.V02"},
        {"NUMBER", by_ref, S_OK, "WIDE.V07"},
        {"NUMBER", I4(0), nuv::grid::kBadNumberValue, "WIDE.V07"},
        {"NUMBER", I4(13), nuv::grid::kBadNumberValue, "WIDE.V07"},
        {"NUMBER", CComVariant(2.0), nuv::grid::kBadNumberValue, "WIDE.V07"},
        {"NUMBER", IntArray({1}), nuv::grid::kBadNumberValue, "WIDE.V07"},
        {"NAME", Text("V09"), S_OK, "WIDE.V09"},
        {"NAME", Text("NOT_THERE"), nuv::grid::kBadNameValue, "WIDE.V09"},
        {"NAME", Text(""), nuv::grid::kBadNameValue, "WIDE.V09"},
        {"NAME", I4(4), nuv::grid::kBadNameValue, "WIDE.V09"},
        {"", CComVariant(1.0), nuv::kBadAttribute, "WIDE.V09"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.attribute) + " " + std::to_string(c.value.vt));
        EXPECT_EQ(grid->SetAttr(CComBSTR(c.attribute), c.value, 1), c.hr);
        if (FAILED(c.hr)) {
            EXPECT_NE(TakeError().rfind("NUVVariableGrid: ", 0), std::string::npos);
        }
        EXPECT_EQ(Column(Matrix(grid, {"NAME"}, 1, 1), 1).at(0), c.shows);
    }
    EXPECT_EQ(grid->SetAttr(CComBSTR("VALUE"), CComVariant(1.0), 0), nuv::kIndexOutOfRange);
    EXPECT_EQ(grid->SetAttr(CComBSTR("VALUE"), CComVariant(1.0), 13), nuv::kIndexOutOfRange);

    // Any other attribute goes to the variable the row shows.
    ASSERT_EQ(grid->SetAttr(CComBSTR("VALUE"), CComVariant(42.5), 1), S_OK);
    CComVariant value;
    ASSERT_EQ(Collection("WIDE", MemberKind::Variables)->GetAttributes(Names({"VALUE"}), 9, 1, &value), S_OK);
    EXPECT_EQ(At(value, 1, 1).dblVal, 42.5);
    EXPECT_EQ(grid->SetAttr(CComBSTR("NO_SUCH"), CComVariant(1.0), 1), nuv::kBadAttribute);

    // Prepare forgets every edit.
    ASSERT_EQ(grid->Prepare(), S_OK);
    const std::vector<std::string> names = Shown(grid);
    for (int i = 1; i <= 12; ++i) EXPECT_EQ(names[static_cast<size_t>(i - 1)], Wide(i));
}

TEST_F(GridTest, IndicesAndPositionsTranslateBothWays) {
    CComPtr<INUVGridService> grid = Grid("WIDE", MemberKind::Variables);
    ASSERT_EQ(grid->SetQueryStrings(Names({"VALUE >= 3"})), S_OK);  // V03 V04 V08 V09
    ASSERT_EQ(grid->Prepare(), S_OK);
    ASSERT_EQ(CountOf(grid), 4);
    CComVariant positions, indices;
    ASSERT_EQ(grid->GetIndexPositions(IntArray({8, 1, 0, 4}, VT_VARIANT, 5), &positions), S_OK);
    EXPECT_EQ(Ints(positions), (std::vector<LONG>{3, 0, 0, 2}));
    ASSERT_EQ(grid->GetPositionIndices(IntArray({4, 0, 5, 1}, VT_I2), &indices), S_OK);
    EXPECT_EQ(Ints(indices), (std::vector<LONG>{9, 0, 0, 3}));
    LONG lower = 0;
    SafeArrayGetLBound(indices.parray, 1, &lower);
    EXPECT_EQ(lower, 1);
    // The later of two rows showing one variable gives the position.
    ASSERT_EQ(grid->SetAttr(CComBSTR("NUMBER"), I4(8), 4), S_OK);
    positions.Clear();
    ASSERT_EQ(grid->GetIndexPositions(IntArray({8}), &positions), S_OK);
    EXPECT_EQ(Ints(positions), (std::vector<LONG>{4}));

    CComVariant empty;
    EXPECT_EQ(grid->GetIndexPositions(IntArray({}), &empty), S_OK);
    EXPECT_EQ(empty.vt, VT_EMPTY);
    EXPECT_EQ(grid->GetPositionIndices(I4(1), &empty), E_INVALIDARG);
    EXPECT_EQ(grid->GetIndexPositions(nuvtest::TextArray({"x"}), &empty), E_INVALIDARG);
    EXPECT_EQ(TakeError().rfind("NUVVariableGrid: ", 0), 0u) << "reported";
    EXPECT_EQ(grid->GetIndexPositions(IntArray({1}), nullptr), E_POINTER);
}

TEST_F(GridTest, AliasQueriesFillTheSecondColumnWithTagNames) {
    CComPtr<INUVGridService> grid = Grid("", MemberKind::Variables);
    ASSERT_EQ(grid->SetQueryStrings(Names({"isAlias()"})), S_OK);
    ASSERT_EQ(grid->Prepare(), S_OK);
    ASSERT_EQ(CountOf(grid), 1);
    CComVariant m = Matrix(grid, {"NUMBER", "NAME", "VALUE"});
    EXPECT_EQ(At(m, 1, 1).vt, VT_I4);
    EXPECT_EQ(nuv::bstr_to_utf8(At(m, 1, 2).bstrVal), "FLOW_TAG");
    // With the name first the row is not rewritten; without an alias query nothing is.
    EXPECT_EQ(Column(Matrix(grid, {"NAME", "NUMBER"}), 1).at(0), "WIDE.V04");
    ASSERT_EQ(grid->SetQueryStrings(Names({"NAME LIKE 'WIDE.V04'"})), S_OK);
    ASSERT_EQ(grid->Prepare(), S_OK);
    EXPECT_EQ(Column(Matrix(grid, {"NUMBER", "NAME"}), 2).at(0), "WIDE.V04");
}

TEST_F(GridTest, PortVariableGridStartsFromThePortsVariables) {
    CComPtr<INUVObjectCollection> ports = Collection("TANK", MemberKind::Ports);
    CComPtr<INUVObject> item;
    ASSERT_EQ(ports->get_Item(1, &item), S_OK);
    CComPtr<INUVPort2> port;
    ASSERT_EQ(item->QueryInterface(IID_INUVPort2, reinterpret_cast<void**>(&port)), S_OK);
    CComPtr<INUVVariableCollection> vars;
    ASSERT_EQ(port->get_Variables(&vars), S_OK);
    CComPtr<IUnknown> unk;
    ASSERT_EQ(vars->GetService(CComBSTR("GridService"), &unk), S_OK);
    CComPtr<INUVGridService> grid;
    ASSERT_EQ(unk->QueryInterface(IID_INUVGridService, reinterpret_cast<void**>(&grid)), S_OK);
    // Without a query, and with queries that filter within the port's variables only.
    for (const auto& [query, shown] : {std::pair<const char*, std::vector<std::string>>{nullptr, {"TANK.VOLUME", "TANK.TEMP"}},
                                       {"VALUE > 0", {"TANK.VOLUME", "TANK.TEMP"}}, {"VALUE > 5", {"TANK.VOLUME"}}}) {
        if (query) {
            ASSERT_EQ(grid->SetQueryStrings(Names({query})), S_OK);
        }
        ASSERT_EQ(grid->Prepare(), S_OK);
        EXPECT_EQ(Shown(grid), shown) << (query ? query : "no query");
    }
}

TEST_F(GridTest, ParameterEquationAndPortGridsSortOnTheirOwnRecords) {
    CComPtr<INUVGridService> grid = Grid("TANK", MemberKind::Parameters);
    ASSERT_EQ(grid->Prepare(), S_OK);
    ASSERT_EQ(CountOf(grid), 3);
    // Values 12.5, 7 and 0.5: numerically, not as texts ("12.5" < "7").
    SortOn(grid, {"VALUE"}, {});
    EXPECT_EQ(Shown(grid), (std::vector<std::string>{"AREA", "COUNT", "RATE"}));
    CComVariant indices;
    ASSERT_EQ(grid->GetPositionIndices(IntArray({1, 2, 3, 0}), &indices), S_OK);
    EXPECT_EQ(Ints(indices), (std::vector<LONG>{3, 2, 1, 0}));

    CComPtr<INUVObject> found;
    ASSERT_EQ(grid->Find(CComBSTR("count"), &found), S_OK);
    EXPECT_EQ(NameOf(found), "COUNT");
    found.Release();
    EXPECT_EQ(grid->Find(CComBSTR("LEVEL"), &found), nuv::kObjectNotFound);
    EXPECT_EQ(TakeError(), "NUVParameterGrid: Failed to find requested object");

    // Row 1 shows AREA now: the edit reaches it, and the grid must be sorted again.
    ASSERT_EQ(grid->SetAttr(CComBSTR("VALUE"), CComVariant(30.0), 1), S_OK);
    ASSERT_EQ(grid->Sort(), S_OK);
    EXPECT_EQ(Shown(grid), (std::vector<std::string>{"COUNT", "RATE", "AREA"}));
    EXPECT_EQ(grid->SetAttr(CComBSTR(""), CComVariant(1.0), 1), nuv::kBadAttribute);
    EXPECT_EQ(TakeError(), "NUVParameterGrid: The supplied attribute is not valid");
    EXPECT_EQ(grid->SetAttr(CComBSTR("VALUE"), CComVariant(1.0), 4), nuv::kIndexOutOfRange);
    // Sorting on an integer attribute orders the rows too.
    SortOn(grid, {"NAME"}, {0});
    EXPECT_EQ(Shown(grid), (std::vector<std::string>{"RATE", "COUNT", "AREA"}));

    // AREA's values 2, 1, 10 and "alpha": one column holds one cell type, so all sort as texts ("10" < "2").
    CComPtr<INUVGridService> area = Grid("AREA", MemberKind::Parameters);
    ASSERT_TRUE(area);
    SortOn(area, {"VALUE"}, {});
    EXPECT_EQ(Shown(area), (std::vector<std::string>{"MODE", "GAIN", "SIZE", "NOTE"}));
    // Equation and port grids sort and query on their own records.
    CComPtr<INUVGridService> equations = Grid("TANK", MemberKind::Equations);
    SortOn(equations, {"NAME"}, {0});
    std::vector<std::string> names = Shown(equations);
    ASSERT_EQ(names.size(), 2u);
    EXPECT_GT(names[0], names[1]);
    CComPtr<INUVGridService> ports = Grid("TANK", MemberKind::Ports);
    ASSERT_EQ(ports->SetQueryStrings(Names({"NAME LIKE 'O*'"})), S_OK);
    ASSERT_EQ(ports->Sort(), S_OK);
    EXPECT_EQ(Shown(ports), (std::vector<std::string>{"OUT"}));
}

TEST_F(GridTest, MembersAKindLacksAreNotImplementedAndReportNothing) {
    const MemberKind kinds[] = {MemberKind::Variables, MemberKind::Equations, MemberKind::Parameters, MemberKind::Ports};
    for (const MemberKind& kind : kinds) {
        SCOPED_TRACE(static_cast<int>(kind));
        CComPtr<INUVGridService> grid = Grid("TANK", kind);
        ASSERT_TRUE(grid);
        ASSERT_EQ(grid->Prepare(), S_OK);
        const bool variables = kind == MemberKind::Variables, parameters = kind == MemberKind::Parameters;
        CComPtr<IUnknown> unk;
        CComVariant out;
        const std::vector<std::tuple<const char*, HRESULT, HRESULT>> calls = {
            {"GetService", grid->GetService(CComBSTR("GridService"), &unk), E_NOTIMPL},
            {"SetAttributes", grid->SetAttributes(Names({"VALUE"}), Names({"1"}), 1), E_NOTIMPL},
            {"SetGridColumns", grid->SetGridColumns(Names({"NAME"})), E_NOTIMPL},
            {"SetAttr", grid->SetAttr(CComBSTR("VALUE"), CComVariant(1.0), 1),
             variables || parameters ? S_OK : E_NOTIMPL},
            {"GetIndexPositions", grid->GetIndexPositions(IntArray({1}), &out), variables ? S_OK : E_NOTIMPL},
            {"GetPositionIndices", (out.Clear(), grid->GetPositionIndices(IntArray({1}), &out)),
             variables || parameters ? S_OK : E_NOTIMPL},
        };
        for (const auto& [name, got, want] : calls) EXPECT_EQ(got, want) << name;
        EXPECT_EQ(TakeError(), "");
        CComPtr<IServiceProvider> provider;
        ASSERT_EQ(grid->QueryInterface(IID_IServiceProvider, reinterpret_cast<void**>(&provider)), S_OK);
        EXPECT_EQ(provider->QueryService(IID_INUVGridService, IID_IUnknown, reinterpret_cast<void**>(&unk)), E_NOTIMPL);
        // Each kind names its own class.
        CComPtr<IProvideClassInfo> info;
        ASSERT_EQ(grid->QueryInterface(IID_IProvideClassInfo, reinterpret_cast<void**>(&info)), S_OK);
        CComPtr<ITypeInfo> type;
        ASSERT_EQ(info->GetClassInfo(&type), S_OK);
        TYPEATTR* attr = nullptr;
        ASSERT_EQ(type->GetTypeAttr(&attr), S_OK);
        const CLSID* expected[] = {&CLSID_NUVVariableGrid, &CLSID_NUVEquationGrid, &CLSID_NUVParameterGrid,
                                   &CLSID_NUVPortGrid};
        EXPECT_TRUE(attr->guid == *expected[&kind - kinds]);
        type->ReleaseTypeAttr(attr);
        CComPtr<ISupportErrorInfo> support;
        ASSERT_EQ(grid->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(&support)), S_OK);
        EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_INUVGridService), S_OK);
        EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_INUVObjectCollection), S_OK);
        EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_INUVObject), S_FALSE);
    }
}

TEST_F(GridTest, OneGridUsedFromSeveralThreadsStaysConsistent) {
    CComPtr<INUVGridService> grid = Grid("WIDE", MemberKind::Variables);
    ASSERT_EQ(grid->Prepare(), S_OK);
    std::atomic<int> bad{0};
    auto worker = [&](int role) {
        for (int i = 0; i < 200; ++i) {
            CComVariant out;
            switch (role) {
                case 0:
                    grid->SetQueryStrings(Names({i % 2 ? "VALUE > 1" : "VALUE >= 0"}));
                    grid->Prepare();
                    break;
                case 1:
                    grid->SetSortKeys(Names({"VALUE", "NAME"}), Flags({i % 2}));
                    grid->Sort();
                    break;
                case 2: {
                    // Whatever the rows are now, a whole window of them reads back with one name per row.
                    HRESULT hr = grid->GetAttributes(Names({"NAME"}), 1, 0, &out);
                    if (hr == S_OK && Extent(out, 1) < 1) ++bad;
                    break;
                }
                default:
                    grid->SetAttr(CComBSTR("NUMBER"), I4(1 + i % 12), 1 + i % 3);
                    grid->GetPositionIndices(IntArray({1, 2, 3}), &out);
                    break;
            }
        }
        SetErrorInfo(0, nullptr);
    };
    std::vector<std::thread> threads;
    for (int role = 0; role < 4; ++role) threads.emplace_back(worker, role);
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(bad.load(), 0);
    ASSERT_EQ(grid->SetQueryStrings(Names({})), S_OK);
    ASSERT_EQ(grid->Prepare(), S_OK);
    EXPECT_EQ(CountOf(grid), 12);
}

TEST_F(GridTest, LateBoundCallsReachTheGridByName) {
    CComPtr<INUVGridService> grid = Grid("WIDE", MemberKind::Variables);
    ASSERT_EQ(CallByName(grid, OLESTR("setquerystrings"), DISPATCH_METHOD, {Names({"VALUE = 0"})}, nullptr), S_OK);
    ASSERT_EQ(CallByName(grid, OLESTR("Prepare"), DISPATCH_METHOD, {}, nullptr), S_OK);
    CComVariant count;
    ASSERT_EQ(CallByName(grid, OLESTR("Count"), DISPATCH_METHOD | DISPATCH_PROPERTYGET, {}, &count), S_OK);
    EXPECT_EQ(count.lVal, 3);  // V02 V07 V12
    ASSERT_EQ(CallByName(grid, OLESTR("SetAttr"), DISPATCH_METHOD, {Text("NUMBER"), Null(), I4(1)}, nullptr), S_OK);
    EXCEPINFO info{};
    EXPECT_EQ(CallByName(grid, OLESTR("SetAttr"), DISPATCH_METHOD, {Text("VALUE"), CComVariant(2.0), I4(1)}, nullptr, &info),
              DISP_E_EXCEPTION);
    EXPECT_EQ(info.scode, nuv::grid::kEmptyRowEdit);
    EXPECT_EQ(nuv::bstr_to_utf8(info.bstrDescription), "Attribute cannot be set on an empty row");
    EXPECT_EQ(nuv::bstr_to_utf8(info.bstrSource), "NUVVariableGrid");
    for (BSTR b : {info.bstrDescription, info.bstrSource, info.bstrHelpFile}) SysFreeString(b);
    // Codes the collection passes up without a text of their own still reach the client with one.
    CComPtr<INUVGridService> parameters = Grid("TANK", MemberKind::Parameters);
    ASSERT_EQ(parameters->Prepare(), S_OK);
    const std::tuple<INUVGridService*, const char*, const char*, LONG> refused[] = {
        {parameters, "NAME", "OTHER", 1}, {grid, "UOM", "furlong", 2}};
    for (const auto& [target, attribute, value, row] : refused) {
        EXCEPINFO why{};
        EXPECT_EQ(CallByName(target, OLESTR("SetAttr"), DISPATCH_METHOD, {Text(attribute), Text(value), I4(row)}, nullptr, &why),
                  DISP_E_EXCEPTION);
        const std::string text = nuv::bstr_to_utf8(why.bstrDescription);
        EXPECT_EQ(text.rfind(std::string("Unable to set attribute ") + attribute, 0), 0u) << text;
        for (BSTR b : {why.bstrDescription, why.bstrSource, why.bstrHelpFile}) SysFreeString(b);
    }
}

// What a script's enumeration of `object` walks, as "count: first .. last": DISPID_NEWENUM invoked with
// `flags` and no arguments, its enumerator stepped one item at a time. Objects show as their Name (a grid
// column as its EngineName, a control as "control"), values as Show gives them; a failed call as its code.
std::string WalkLateBound(IDispatch* object, WORD flags) {
    char code[16];
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    CComVariant result;
    HRESULT hr = object->Invoke(DISPID_NEWENUM, IID_NULL, 0, flags, &none, &result, nullptr, nullptr);
    if (SUCCEEDED(hr) && ((result.vt != VT_UNKNOWN && result.vt != VT_DISPATCH) || !result.punkVal)) hr = E_UNEXPECTED;
    CComPtr<IEnumVARIANT> e;
    if (SUCCEEDED(hr)) hr = result.punkVal->QueryInterface(IID_IEnumVARIANT, reinterpret_cast<void**>(&e));
    if (FAILED(hr)) {
        std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(hr));
        return code;
    }
    std::vector<std::string> seen;
    for (CComVariant v; e->Next(1, &v, nullptr) == S_OK; v.Clear()) {
        CComVariant name;
        if (v.vt != VT_DISPATCH)
            seen.push_back(objects_test::Show(v));
        else if (v.pdispVal && (SUCCEEDED(CallByName(v.pdispVal, OLESTR("Name"), DISPATCH_PROPERTYGET, {}, &name)) ||
                                SUCCEEDED(CallByName(v.pdispVal, OLESTR("EngineName"), DISPATCH_PROPERTYGET, {}, &name))))
            seen.push_back(nuv::bstr_to_utf8(name.bstrVal));
        else
            seen.push_back(v.pdispVal ? "control" : "null");
    }
    return std::to_string(seen.size()) + (seen.empty() ? "" : ": " + seen.front() + " .. " + seen.back());
}

// Script engines ask for an object's enumerator as a method (one of them as a method only), as a property
// read, or as either. Every object that enumerates answers all three alike, whether it declares the
// member as a property read (the collections, the solver parameters, the grids) or as a method (a grid
// definition's columns and styles); a write or an argument is still refused.
TEST_F(GridTest, EveryEnumerableObjectAnswersItsEnumeratorAsAMethodOrAPropertyRead) {
    Open(objects_test::BuildModel());
    CComPtr<INUVBlockCollection> blocks;
    ASSERT_EQ(flowsheet_->get_Blocks(&blocks), S_OK);
    CComPtr<INUVPortCollection> feedPorts;
    CComPtr<INUVPort> out;
    CComPtr<INUVVariableCollection> portVariables;
    ASSERT_EQ(Block("FEED")->get_Ports(&feedPorts), S_OK);
    ASSERT_EQ(feedPorts->get_Port(Text("OUT"), &out), S_OK);
    ASSERT_EQ(CComQIPtr<INUVPort2>(out)->get_Variables(&portVariables), S_OK);
    CComPtr<INUVSolverCollection> solvers;
    CComPtr<INUVSolver> main;
    CComPtr<INUVParameters> solverParameters;
    ASSERT_EQ(simulation_->get_Solvers(&solvers), S_OK);
    ASSERT_EQ(solvers->get_Solver(Text("MAIN"), &main), S_OK);
    ASSERT_EQ(main->get_Parameters(&solverParameters), S_OK);
    CComPtr<INUVGridService> grid = Grid("FEED", MemberKind::Variables);
    ASSERT_TRUE(grid);
    ASSERT_EQ(grid->Prepare(), S_OK);
    CComPtr<IUnknown> service;
    ASSERT_EQ(Collection("FEED", MemberKind::Variables)->GetService(CComBSTR("GridInfoService"), &service), S_OK);
    CComQIPtr<INUVGridInfo> info(service);
    ASSERT_TRUE(info);
    CComPtr<INUVGridColumnCollection> columns;
    CComPtr<INUVGridStyleCollection> styles;
    ASSERT_EQ(info->get_Columns(&columns), S_OK);
    ASSERT_EQ(info->get_ControlStyles(&styles), S_OK);

    const struct {
        const char* what;
        CComPtr<IDispatch> object;
        const char* walk;
    } cases[] = {
        {"blocks", blocks.p, "3: FEED .. PROD"},
        {"variables", Collection("FEED", MemberKind::Variables).p, "3: FEED.F .. FEED.P"},
        {"equations", Collection("", MemberKind::Equations).p, "3: SECTION.HTR.HEAT .. PROD.BAL"},
        {"parameters", Collection("FEED", MemberKind::Parameters).p, "3: COMPONENT .. LOCKED"},
        {"ports", Collection("PROD", MemberKind::Ports).p, "2: IN .. SPARE"},
        {"port variables", portVariables.p, "2: FEED.F .. FEED.T"},
        {"solvers", solvers.p, "1: MAIN .. MAIN"},
        {"solver parameters", solverParameters.p, "3: 3:50 .. 8:NEWTON"},
        {"grid", grid.p, "3: FEED.F .. FEED.P"},
        {"grid columns", columns.p, "28: NUMBER .. RAMPED"},
        {"grid styles", styles.p, "16: control .. control"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(c.object);
        EXPECT_EQ(WalkLateBound(c.object, DISPATCH_METHOD), c.walk);
        EXPECT_EQ(WalkLateBound(c.object, DISPATCH_PROPERTYGET), c.walk);
        EXPECT_EQ(WalkLateBound(c.object, DISPATCH_METHOD | DISPATCH_PROPERTYGET), c.walk);
        EXPECT_EQ(WalkLateBound(c.object, DISPATCH_PROPERTYPUT), "0x80020003");
        // An argument is refused (the code differs: the platform takes arguments a property read has no
        // place for as an index into what it read, and an enumerator is no collection).
        CComVariant extra = I4(1);
        DISPPARAMS one{&extra, nullptr, 1, 0};
        CComVariant result;
        EXPECT_TRUE(FAILED(c.object->Invoke(DISPID_NEWENUM, IID_NULL, 0, DISPATCH_METHOD, &one, &result, nullptr, nullptr)));
        EXPECT_EQ(result.vt, VT_EMPTY);
    }
}

TEST_F(GridTest, RowsOfAChangedFlowsheetAreRefusedUntilPreparedAgainAndAGoneEngineFailsAll) {
    CComPtr<INUVGridService> variables = Grid("", MemberKind::Variables);
    CComPtr<INUVGridService> equations = Grid("", MemberKind::Equations);
    ASSERT_EQ(variables->Prepare(), S_OK);
    ASSERT_EQ(equations->Prepare(), S_OK);
    const LONG before = CountOf(variables);
    ASSERT_EQ(Column(Matrix(variables, {"NAME", "VALUE"}, 13, 1), 1), std::vector<std::string>{"TANK.LEVEL"});
    const std::string level = Column(Matrix(variables, {"VALUE"}, 13, 1), 1).at(0);
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
    LONG n = -1;
    EXPECT_EQ(equations->get_Count(&n), nuv::grid::kStaleRows) << "every kind's rows are indexes";
    SetErrorInfo(0, nullptr);

    ASSERT_EQ(variables->Prepare(), S_OK);
    EXPECT_EQ(CountOf(variables), before - 12);
    EXPECT_EQ(Column(Matrix(variables, {"NAME", "VALUE"}, 1, 1), 1), std::vector<std::string>{"TANK.LEVEL"});
    EXPECT_EQ(Column(Matrix(variables, {"VALUE"}, 1, 1), 1).at(0), level) << "the refused edit reached no variable";

    // A grid outliving its engine fails cleanly; a sort fails also without keys, or when already sorted.
    CComPtr<INUVGridService> noKeys = Grid("TANK", MemberKind::Parameters);
    ASSERT_EQ(noKeys->Prepare(), S_OK);
    ASSERT_EQ(equations->Prepare(), S_OK);
    SortOn(equations, {"NAME"}, {});
    ASSERT_EQ(variables->SetSortKeys(Names({"VALUE"}), Flags({})), S_OK);  // keys set, not sorted yet
    sim_.reset();
    EXPECT_EQ(noKeys->Sort(), nuv::kInvalidObject);
    EXPECT_EQ(equations->Sort(), nuv::kInvalidObject);
    n = -1;
    EXPECT_EQ(variables->get_Count(&n), nuv::kInvalidObject);
    EXPECT_EQ(n, 0);
    EXPECT_EQ(TakeError(), "NUVVariableGrid: Interface no longer references a valid object");
    EXPECT_EQ(variables->Prepare(), nuv::kInvalidObject);
    for (const auto& [name, call] : calls) {
        if (std::string(name) != "SetAttr") {
            EXPECT_EQ(call(variables), nuv::kInvalidObject) << name;
        }
    }
    SetErrorInfo(0, nullptr);
}

TEST_F(GridTest, NaNSortsAsOneValueAfterEveryNumber) {
    zeq::testing::ModelBuilder m;
    m.Block("WIDE");
    const double values[] = {3, NAN, 0, 9, NAN, 1, 2, 8, NAN, 7, 6, 4};
    for (int i = 0; i < 12; ++i) m.Var("V" + std::to_string(i + 10), values[i]);
    Open(m.Create());
    CComPtr<INUVGridService> grid = Grid("WIDE", MemberKind::Variables);
    // Ascending: the nine numbers in order, then the three NaNs; descending: the NaNs first.
    for (const auto& [ascending, expected] : {std::pair<LONG, const char*>{-1, "0 1 2 3 4 6 7 8 9 nan nan nan"},
                                              {0, "nan nan nan 9 8 7 6 4 3 2 1 0"}}) {
        SortOn(grid, {"VALUE"}, {ascending});
        CComVariant matrix = Matrix(grid, {"VALUE"});
        std::string order;
        for (LONG r = 1; r <= Extent(matrix, 1); ++r) {
            const double v = At(matrix, r, 1).dblVal;
            order += (r > 1 ? " " : "") + (std::isnan(v) ? std::string("nan") : std::to_string(static_cast<int>(v)));
        }
        EXPECT_EQ(order, expected);
    }
}

// The rows sorted as the grid sorted them when it loaded one record per row: cells of each key by its base
// type (a variable row that does not load with the not-set values, any other such row with none), then the
// table's heap sort.
template <class Record>
std::vector<LONG> RowByRowOrder(ZEQEOCntr* container, ZEQEOBlock* block, std::vector<LONG> rows, LONG count,
                                const std::vector<std::string>& keys, const std::vector<LONG>& ascending) {
    const int n = static_cast<int>(rows.size());
    nuv::grid::GridSortTable table(n, static_cast<int>(keys.size()));
    std::vector<int> ids(keys.size());
    for (size_t k = 0; k < keys.size(); ++k) {
        EXPECT_TRUE(Record::AttribId(keys[k].c_str(), &ids[k]));
        table.SetAscending(static_cast<int>(k), k >= ascending.size() || ascending[k] != 0);
    }
    for (int r = 0; r < n; ++r) {
        Record record;
        for (int id : ids) record.mask.Add(id);
        const LONG index = rows[static_cast<size_t>(r)];
        if (index < 1 || index > count || !record.Load(container, block, index, true)) {
            if constexpr (!std::is_same_v<Record, ZEQVariableData>) continue;
            else record.SetNotSet();
        }
        for (size_t k = 0; k < ids.size(); ++k) {
            const int key = static_cast<int>(k);
            double d = 0;
            int i = 0;
            const char* t = nullptr;
            switch (Record::BaseType(ids[k])) {
                case ZEQ_TYPE_DOUBLE: if (record.GetValue(ids[k], d)) table.SetDouble(key, r, d); break;
                case ZEQ_TYPE_INT: if (record.GetValue(ids[k], i)) table.SetInt(key, r, i); break;
                default: if (record.GetValue(ids[k], t)) table.SetText(key, r, t); break;
            }
        }
    }
    table.Sort(rows.data());
    return rows;
}

// Key columns read in one engine call order the rows exactly as records loaded row by row did, ties
// included, for grids over the flowsheet, over a block and over a hierarchy block. Variables, with an empty
// row and a row showing another variable: numbers in their own units with ties and NaN, enumerations and
// texts (long descriptions equal over their first 1,024 characters), integers, and a key on which every
// row ties. Equations: names, residuals that all tie, numbers.
TEST_F(GridTest, KeyColumnsOrderRowsAsRecordsLoadedRowByRow) {
    zeq::testing::ModelBuilder m;
    const std::string shared(1024, 'd');
    m.Block("P");
    for (int i = 0; i < 40; ++i) {
        const double value = i % 9 == 4 ? NAN : (i * 7) % 5;
        const std::string name = "V" + std::to_string(i);
        m.Var(name, value, i % 3 == 0 ? SPEC_CONST : SPEC_CALC, i % 2 ? "TEMPERATURE" : "",
              i % 4 == 1 ? "F" : i % 2 ? "C" : "");
        if (i % 6 == 0) m.Bounds(-i, i % 4);
        if (i % 5 == 0) m.Describe(shared + (i % 10 ? "b" : "a"));
        if (i % 4 == 0) m.Eqn("E" + std::to_string(39 - i), name + " = 1");
    }
    m.Hierarchy("H").Block("C").Var("X", 3).Var("Y", 1).Eqn("XE", "X = 3").Eqn("YE", "Y = 1");
    m.ContainerVar("Z", 3).ContainerEqn("ZE", "Z = 3").EndHierarchy();
    Open(m.Create());
    ZEQEOCntr* fs = sim_->GetFlowsheet();
    ZEQEOBlock* p = fs->FindBlock("P");
    ZEQEOCntr* h = fs->FindBlock("H")->GetSubContainer(fs);
    const struct {
        const char* owner;
        ZEQEOCntr* container;
        ZEQEOBlock* block;
    } owners[] = {{"", fs, nullptr}, {"P", fs, p}, {"H", h, nullptr}};
    using Keys = std::pair<std::vector<std::string>, std::vector<LONG>>;
    const Keys variable_keys[] = {
        {{"VALUE"}, {0}},         {{"VALUE"}, {1}},          {{"SPEC", "VALUE"}, {1, 0}},
        {{"UOM", "NAME"}, {0}},   {{"DESCRIPTION"}, {1}},    {{"LOWER", "UPPER"}, {1, 0}},
        {{"NUMBER"}, {0}},        {{"BOUND"}, {1}},          {{"MARKED", "PHYSICAL_TYPE_ID"}, {0, 1}},
    };
    const Keys equation_keys[] = {{{"NAME"}, {1}}, {{"VALUE"}, {0}}, {{"VALUE", "NUMBER"}, {1, 0}}};
    for (const auto& owner : owners) {
        CComPtr<INUVGridService> grid = Grid(owner.owner, MemberKind::Variables);
        ASSERT_TRUE(grid);
        const LONG count = CountOf(Collection(owner.owner, MemberKind::Variables));
        for (const auto& [keys, ascending] : variable_keys) {
            SCOPED_TRACE(std::string(owner.owner) + " " + keys[0]);
            ASSERT_EQ(grid->Prepare(), S_OK);
            std::vector<LONG> rows(static_cast<size_t>(count));
            for (LONG i = 0; i < count; ++i) rows[static_cast<size_t>(i)] = i + 1;
            ASSERT_EQ(grid->SetAttr(CComBSTR("NAME"), Null(), 2), S_OK);
            ASSERT_EQ(grid->SetAttr(CComBSTR("NUMBER"), I4(count), 1), S_OK);
            rows[1] = -999;
            rows[0] = count;
            SortOn(grid, keys, ascending);
            std::vector<LONG> positions(rows.size());
            for (size_t i = 0; i < rows.size(); ++i) positions[i] = static_cast<LONG>(i + 1);
            CComVariant shown;
            ASSERT_EQ(grid->GetPositionIndices(IntArray(positions), &shown), S_OK);
            EXPECT_EQ(Ints(shown),
                      RowByRowOrder<ZEQVariableData>(owner.container, owner.block, rows, count, keys, ascending));
        }
        CComPtr<INUVGridService> equations = Grid(owner.owner, MemberKind::Equations);
        ASSERT_TRUE(equations);
        const LONG eq_count = CountOf(Collection(owner.owner, MemberKind::Equations));
        std::vector<LONG> rows(static_cast<size_t>(eq_count));
        for (LONG i = 0; i < eq_count; ++i) rows[static_cast<size_t>(i)] = i + 1;
        for (const auto& [keys, ascending] : equation_keys) {
            SCOPED_TRACE(std::string(owner.owner) + " equations " + keys[0]);
            ASSERT_EQ(equations->Prepare(), S_OK);
            SortOn(equations, keys, ascending);
            // Equation grids translate no positions: the names they show give the order.
            std::vector<std::string> expected;
            for (LONG index : RowByRowOrder<ZEQEquationData>(owner.container, owner.block, rows, eq_count, keys,
                                                             ascending)) {
                ZEQEquationData record;
                record.mask.Set(EA_NAME);
                ASSERT_TRUE(record.Load(owner.container, owner.block, index));
                const char* name = nullptr;
                ASSERT_TRUE(record.GetValue(EA_NAME, name));
                expected.push_back(name);
            }
            EXPECT_EQ(Column(Matrix(equations, {"NAME"}), 1), expected);
        }
    }
}

// A grid whose query keeps no row, and one over a block of no members, sort on number, integer and text
// keys of variables and equations alike: nothing to load, no row shown, and the grid still answers.
TEST_F(GridTest, AGridWithNoRowsSortsOnEveryKindOfKey) {
    zeq::testing::ModelBuilder m;
    m.Block("EMPTY");
    m.Block("FULL").Var("X", 1).Var("Y", 2).Eqn("E", "X = 1");
    Open(m.Create());
    const std::vector<std::vector<std::string>> keys = {{"VALUE"}, {"BOUND"}, {"NAME"}, {"VALUE", "NUMBER"}};
    for (const char* owner : {"EMPTY", "FULL"})
        for (MemberKind kind : {MemberKind::Variables, MemberKind::Equations}) {
            SCOPED_TRACE(std::string(owner) + (kind == MemberKind::Variables ? " variables" : " equations"));
            CComPtr<INUVGridService> grid = Grid(owner, kind);
            ASSERT_TRUE(grid);
            ASSERT_EQ(grid->SetQueryStrings(Names({"VALUE > 100"})), S_OK);
            for (const auto& key : keys) {
                if (kind == MemberKind::Equations && key[0] == "BOUND") continue;
                ASSERT_EQ(grid->Prepare(), S_OK);
                SortOn(grid, key, {1, 0});
                EXPECT_EQ(CountOf(grid), 0) << key[0];
            }
            CComPtr<INUVObject> item;
            EXPECT_EQ(grid->get_Item(1, &item), nuv::kIndexOutOfRange);
        }
}

TEST(GridSystemLibrary, ACollectionOfTheLoadedLibraryHandsOutAWorkingGrid) {
    void* library = nuv::test::OpenLibrary(NUVCLASS_PATH);
    ASSERT_NE(library, nullptr) << nuv::test::LibraryError();
    using Create = HRESULT (*)(ZEQEOSimulation*, REFIID, void**);
    auto create = reinterpret_cast<Create>(nuv::test::FindSymbol(library, "NUVClassFactory_QueryCreateWrapper"));
    ASSERT_NE(create, nullptr);
    {
        auto sim = BuildGridModel();
        CComPtr<INUVSimulation2> simulation;
        ASSERT_EQ(create(sim.get(), IID_INUVSimulation2, reinterpret_cast<void**>(&simulation)), S_OK);
        CComPtr<INUVBlock> flowsheet;
        ASSERT_EQ(simulation->get_Flowsheet(&flowsheet), S_OK);
        CComPtr<INUVBlockCollection> blocks;
        ASSERT_EQ(flowsheet->get_Blocks(&blocks), S_OK);
        CComPtr<INUVBlock> wide;
        ASSERT_EQ(blocks->get_Block(Text("WIDE"), &wide), S_OK);
        CComPtr<INUVVariableCollection> vars;
        ASSERT_EQ(wide->get_Variables(&vars), S_OK);
        CComPtr<IUnknown> unk;
        ASSERT_EQ(vars->GetService(CComBSTR("GridService"), &unk), S_OK);
        CComPtr<INUVGridService> grid;
        ASSERT_EQ(unk->QueryInterface(IID_INUVGridService, reinterpret_cast<void**>(&grid)), S_OK);
        SortOn(grid, {"NAME"}, {0});
        std::vector<std::string> names = Shown(grid);
        ASSERT_EQ(names.size(), 12u);
        EXPECT_EQ(names.front(), Wide(12));
        EXPECT_EQ(names.back(), Wide(1));

        // Grid information by the collection's kind; a port's variables are shown as the block's are.
        CComPtr<INUVBlock> tank;
        ASSERT_EQ(blocks->get_Block(Text("TANK"), &tank), S_OK);
        CComPtr<INUVVariableCollection> variables, portVariables;
        CComPtr<INUVPortCollection> ports;
        CComPtr<INUVPort> port;
        ASSERT_EQ(tank->get_Variables(&variables), S_OK);
        ASSERT_EQ(tank->get_Ports(&ports), S_OK);
        ASSERT_EQ(ports->get_Port(I4(1), &port), S_OK);
        ASSERT_EQ(CComQIPtr<INUVPort2>(port)->get_Variables(&portVariables), S_OK);
        for (auto [collection, columns] : {std::pair<INUVObjectCollection*, INT>{variables, 28}, {ports, 7},
                                           {portVariables, 28}}) {
            CComPtr<IUnknown> service;
            ASSERT_EQ(collection->GetService(CComBSTR("GridInfoService"), &service), S_OK);
            CComQIPtr<INUVGridInfo> info(service);
            INT count = 0;
            ASSERT_TRUE(info && SUCCEEDED(info->get_ColCount(&count)));
            EXPECT_EQ(count, columns);
        }
        sim.reset();
    }
    nuv::test::CloseLibrary(library);
}

}  // namespace
