// The constant grid description: shared tables, item lists, value conversion and the mask test.
#include <set>
#include <string>

#include "definition/columns.h"
#include "definition/controls.h"
#include "definition_support.h"
#include "definition/grid_tables.h"
#include "zeq_units.h"

namespace {

using namespace nuv::griddef;

TEST(GridTables, EveryColumnNamesAValidStyle) {
    EXPECT_EQ(FindKind(-1), nullptr);
    EXPECT_EQ(FindKind(kKindCount), nullptr);
    for (int k = 0; k < kKindCount; ++k) {
        const KindRecord& kind = *FindKind(k);
        EXPECT_LT(kind.primary_col, static_cast<int>(kind.columns.size())) << k;
        std::set<std::string> names;
        for (const ColumnRecord& c : kind.columns) {
            EXPECT_NE(FindStyle(c.default_control_style), nullptr) << k << " " << c.use_name;
            EXPECT_GE(c.default_control_type, ECT_TEXT);
            EXPECT_LE(c.default_control_type, ECT_COMBOBOX);
            EXPECT_TRUE(names.insert(c.use_name).second) << "UseName repeated in kind " << k << ": " << c.use_name;
        }
    }
    // The two variable layouts hold the same attributes.
    std::set<std::string> first, second;
    for (const ColumnRecord& c : FindKind(0)->columns) first.insert(c.use_name);
    for (const ColumnRecord& c : FindKind(6)->columns) second.insert(c.use_name);
    EXPECT_EQ(first, second);
}

TEST(GridTables, StylesAndTheirItemLists) {
    EXPECT_EQ(FindStyle(16), nullptr);
    EXPECT_EQ(FindStyle(-1), nullptr);
    for (int s = 0; s < kStyleCount; ++s) {
        const ControlStyle& style = *FindStyle(s);
        const int records = (style.static_control != nullptr) + (style.text_box != nullptr) +
                            (style.check_box != nullptr) + (style.combo_box != nullptr);
        EXPECT_EQ(records, 1) << s;
    }
    const auto& variable_types = FindStyle(14)->combo_box->items;
    EXPECT_EQ(variable_types.back().value.integer, 64);

    const auto& connections = FindStyle(15)->combo_box->items;
    std::multiset<int64_t> codes;
    for (const ComboItem& item : connections) {
        codes.insert(item.value.integer);
        EXPECT_STREQ(item.display_name, item.query_name);
        const bool in_range = (item.value.integer >= 0 && item.value.integer <= 148) ||
                              (item.value.integer >= 1001 && item.value.integer <= 1065);
        EXPECT_TRUE(in_range) << item.display_name;
    }
    EXPECT_EQ(codes.count(94), 2u) << "PDROP-PER-LE and USR-DUMMY4 share 94";
    for (int code = 1001; code <= 1065; ++code) EXPECT_EQ(codes.count(code), 1u) << code;

    // Every physical type offered is one the units know, and a connection type too.
    std::set<std::string> engine_types;
    for (int t = 0; t < RTOUOM_PTYPE_COUNT; ++t)
        if (const char* name = rtouom_ptype_name(t)) engine_types.insert(name);
    std::set<std::string> connection_names;
    for (const ComboItem& item : connections) connection_names.insert(item.display_name);
    const auto& physical = FindStyle(10)->combo_box->items;
    EXPECT_EQ(physical.size(), engine_types.size());
    for (const ComboItem& item : physical) {
        EXPECT_TRUE(engine_types.count(item.display_name)) << item.display_name;
        EXPECT_TRUE(connection_names.count(item.display_name)) << item.display_name;
        EXPECT_STREQ(item.value.text, item.display_name);
    }
}

TEST(GridTables, PreSortedListsNameColumnsOfTheirKind) {
    for (const PreSortedList& list : PreSortedLists()) {
        std::set<std::string> columns;
        for (const ColumnRecord& c : FindKind(list.kind)->columns) columns.insert(c.use_name);
        for (const char* key : list.keys) EXPECT_TRUE(columns.count(key)) << list.name << " " << key;
    }
}

TEST(ControlValues, EachCodeGivesItsVariantType) {
    struct Row {
        int code;
        ControlValue value;
        VARTYPE vt;
    };
    const Row rows[] = {
        {kBool16, {-1, 0, nullptr, nullptr}, VT_BOOL}, {kInt16, {-300, 0, nullptr, nullptr}, VT_I2},
        {kInt32, {70000, 0, nullptr, nullptr}, VT_I4}, {kInt8, {-5, 0, nullptr, nullptr}, VT_I1},
        {kFloat32, {0, 1.5, nullptr, nullptr}, VT_R4}, {kFloat64, {0, 2.25, nullptr, nullptr}, VT_R8},
        {kNarrowText, {0, 0, "m\xC2\xB3/h", nullptr}, VT_BSTR}, {kWideText, {0, 0, nullptr, OLESTR("kg")}, VT_BSTR},
        {kNarrowText, {}, VT_ERROR}, {kWideText, {}, VT_ERROR},
    };
    for (const Row& row : rows) {
        CComVariant v;
        ASSERT_EQ(ControlValueToVariant(row.code, row.value, &v), S_OK) << row.code;
        EXPECT_EQ(v.vt, row.vt) << row.code;
        if (row.vt == VT_BSTR || row.vt == VT_ERROR) continue;
        CComVariant as_double;
        ASSERT_EQ(VariantChangeType(&as_double, &v, 0, VT_R8), S_OK);
        const double expected = row.code == kFloat32 || row.code == kFloat64 ? row.value.real
                                                                             : static_cast<double>(row.value.integer);
        EXPECT_EQ(as_double.dblVal, expected) << row.code;
    }
    CComVariant narrow;
    ASSERT_EQ(ControlValueToVariant(kNarrowText, ControlValue{0, 0, "m\xC2\xB3/h", nullptr}, &narrow), S_OK);
    EXPECT_EQ(nuv::OleString(narrow.bstrVal), OLESTR("m\u00B3/h")) << "narrow text is UTF-8";
    for (int bad : {0, 9, -1}) {
        CComVariant v;
        EXPECT_EQ(ControlValueToVariant(bad, ControlValue{}, &v), E_FAIL) << bad;
        EXPECT_EQ(v.vt, VT_EMPTY);
    }
}

TEST(ModMask, PairParsing) {
    struct Row {
        const char* text;
        LONG first, second;
    };
    const Row rows[] = {{"4;0", 4, 0}, {"0;2", 0, 2}, {"255", 255, 0}, {"x;7", 0, 7},
                        {";", 0, 0},   {"", 0, 0},    {"12;8;3", 12, 8}, {"-8;1", -8, 1}};
    for (const Row& row : rows) {
        MaskPair pair = ParseMaskPair(row.text);
        EXPECT_EQ(pair.first, row.first) << row.text;
        EXPECT_EQ(pair.second, row.second) << row.text;
    }
}

}  // namespace
