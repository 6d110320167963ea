// The grid definition object and its column, style and control objects, through their function
// tables and through late binding.

#include <string>
#include <utility>
#include <vector>

#include "definition/columns.h"
#include "definition/controls.h"
#include "definition_support.h"
#include "definition/grid_info.h"
#include "definition/grid_tables.h"
#include "zeq_testing.h"

namespace {

using namespace nuv::griddef;
using griddef_test::CallByName;
using griddef_test::TakeError;
using griddef_test::Utf8;

CComPtr<INUVGridInfo> NewInfo(int kind) {
    CComPtr<INUVGridInfo> info;
    EXPECT_EQ(CreateGridInfo(&kind, IID_INUVGridInfo, reinterpret_cast<void**>(&info)), S_OK);
    return info;
}

template <class Itf>
CComPtr<Itf> As(const VARIANT& v) {
    CComPtr<Itf> p;
    EXPECT_EQ(v.vt, VT_DISPATCH);
    if (v.vt == VT_DISPATCH && v.pdispVal) v.pdispVal->QueryInterface(__uuidof(Itf), reinterpret_cast<void**>(&p));
    return p;
}

// A column's engine name.
std::string EngineName(const VARIANT& column) {
    CComBSTR name;
    EXPECT_EQ(As<INUVGridVarInfo>(column)->get_EngineName(&name), S_OK);
    return name.ToUtf8();
}

// Source and description of an exception a late-bound call raised, its texts freed.
std::pair<std::string, std::string> Taken(EXCEPINFO& e) {
    std::pair<std::string, std::string> texts{Utf8(e.bstrSource), Utf8(e.bstrDescription)};
    for (BSTR b : {e.bstrSource, e.bstrDescription, e.bstrHelpFile}) SysFreeString(b);
    e = EXCEPINFO{};
    return texts;
}

TEST(GridInfo, PropertiesFollowTheKindSetByMode) {
    CComPtr<INUVGridInfo> info = NewInfo(0);
    for (int k = 0; k < kKindCount; ++k) {
        const KindRecord& r = *FindKind(k);
        ASSERT_EQ(info->put_Mode(k), S_OK);
        INT value = 0;
        EXPECT_EQ(info->get_ColCount(&value), S_OK);
        EXPECT_EQ(value, static_cast<INT>(r.columns.size())) << k;
        info->get_PrimaryCol(&value);
        EXPECT_EQ(value, r.primary_col) << k;
        VARIANT_BOOL flag = 0;
        info->get_ShowRowHdr(&flag);
        EXPECT_EQ(flag, r.show_row_hdr ? VARIANT_TRUE : VARIANT_FALSE) << k;
        info->get_AllowQueries(&flag);
        EXPECT_EQ(flag, VARIANT_TRUE);
        CComBSTR help;
        EXPECT_EQ(info->get_HelpFile(&help), S_OK);
        EXPECT_EQ(help.m_str == nullptr, r.help_file == nullptr) << "a kind without a help file gives a null BSTR";
    }
    INT seven = 0;
    info->get_PrimaryCol(&seven);
    EXPECT_EQ(seven, -1);

    // Out-of-range kinds are refused and leave the definition as it was.
    for (int bad : {-1, 8, 1000}) {
        EXPECT_EQ(info->put_Mode(bad), E_INVALIDARG);
        EXPECT_EQ(TakeError().source, "NUVGridInfo");
        INT count = 0;
        info->get_ColCount(&count);
        EXPECT_EQ(count, 3);
    }
    int bad_kind = 9;
    CComPtr<INUVGridInfo> none;
    EXPECT_EQ(CreateGridInfo(&bad_kind, IID_INUVGridInfo, reinterpret_cast<void**>(&none)), E_INVALIDARG);
    EXPECT_EQ(none.p, nullptr);
    EXPECT_EQ(CreateGridInfo(nullptr, IID_INUVGridInfo, reinterpret_cast<void**>(&none)), E_POINTER);

    CComPtr<ISupportErrorInfo> support;
    ASSERT_EQ(info->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(&support)), S_OK);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_INUVGridInfo), S_OK);
    EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IPersistStream), S_FALSE);
}

TEST(GridInfo, PreSortedColumnsByNameAndKind) {
    CComPtr<INUVGridInfo> info = NewInfo(0);
    CComVariant keys;
    ASSERT_EQ(info->get_PreSortedCols(CComBSTR("listbox"), &keys), S_OK);
    ASSERT_EQ(keys.vt, VT_ARRAY | VT_BSTR);
    LONG lb = -1, ub = -1;
    SafeArrayGetLBound(keys.parray, 1, &lb);
    SafeArrayGetUBound(keys.parray, 1, &ub);
    EXPECT_EQ(lb, 0);
    ASSERT_EQ(ub + 1, 20);
    const PreSortedList& list = PreSortedLists()[0];
    for (LONG i = 0; i <= ub; ++i) {
        CComBSTR key;
        SafeArrayGetElement(keys.parray, &i, &key);
        EXPECT_EQ(key.ToUtf8(), list.keys[static_cast<size_t>(i)]);
    }
    CComVariant active;
    EXPECT_EQ(info->get_PreSortedCols(CComBSTR("ACTIVEBOUND"), &active), S_OK);

    for (int kind : {1, 6}) {
        CComPtr<INUVGridInfo> other = NewInfo(kind);
        CComVariant none;
        EXPECT_EQ(other->get_PreSortedCols(CComBSTR("ListBox"), &none), E_NOTIMPL) << kind;
        EXPECT_EQ(none.vt, VT_EMPTY);
        EXPECT_EQ(TakeError().source, "NUVGridInfo");
    }
    CComVariant unknown;
    EXPECT_EQ(info->get_PreSortedCols(nullptr, &unknown), E_NOTIMPL);
}

TEST(GridColumns, ItemByPositionAndUseName) {
    CComPtr<INUVGridColumnCollection> columns;
    ASSERT_EQ(NewInfo(0)->get_Columns(&columns), S_OK);
    LONG count = 0;
    ASSERT_EQ(columns->Count(&count), S_OK);
    ASSERT_EQ(count, 28);

    CComVariant by_name;
    ASSERT_EQ(columns->Item(CComVariant("VALUE"), &by_name), S_OK);
    CComBSTR text;
    ASSERT_EQ(As<INUVGridVarInfo>(by_name)->get_DisplayName(&text), S_OK);
    EXPECT_EQ(text.ToUtf8(), "Value");

    // Every position gives its own column, and its UseName leads back to it.
    const KindRecord& kind = *FindKind(0);
    for (LONG i = 0; i < count; ++i) {
        CComVariant item, again;
        ASSERT_EQ(columns->Item(CComVariant(i), &item), S_OK);
        const ColumnRecord& r = kind.columns[static_cast<size_t>(i)];
        CComBSTR display;
        As<INUVGridVarInfo>(item)->get_DisplayName(&display);
        EXPECT_EQ(EngineName(item), r.use_name);
        EXPECT_EQ(display.ToUtf8(), r.display_name);
        ASSERT_EQ(columns->Item(CComVariant(r.use_name), &again), S_OK);
        EXPECT_EQ(EngineName(again), r.use_name);
    }
}

TEST(GridColumns, BadIndicesFailWithErrorInformation) {
    CComPtr<INUVGridColumnCollection> columns;
    ASSERT_EQ(NewInfo(3)->get_Columns(&columns), S_OK);
    struct Row {
        CComVariant index;
        HRESULT hr;
    };
    Row rows[] = {{CComVariant("INITIAL"), E_FAIL},  // a variable column, not an equation one
                  {CComVariant("value"), E_FAIL},    // names are matched exactly
                  {CComVariant(LONG{5}), E_INVALIDARG},
                  {CComVariant(LONG{-1}), E_INVALIDARG},
                  {CComVariant(SHORT{5}), E_INVALIDARG},  // converted, then range-checked
                  {CComVariant(2.0), E_FAIL},
                  {CComVariant(), E_POINTER}};
    for (Row& row : rows) {
        CComVariant out;
        EXPECT_EQ(columns->Item(row.index, &out), row.hr);
        EXPECT_EQ(out.vt, VT_EMPTY);
        if (row.hr != E_POINTER) {
            EXPECT_EQ(TakeError().source, "NUVGridColumnCollection");
        }
    }
    EXPECT_EQ(columns->Item(CComVariant(LONG{0}), nullptr), E_POINTER);

    // A by-reference position, as a script passes its variable.
    LONG position = 1;
    VARIANT by_ref;
    VariantInit(&by_ref);
    by_ref.vt = VT_BYREF | VT_I4;
    by_ref.plVal = &position;
    CComVariant out;
    EXPECT_EQ(columns->Item(by_ref, &out), S_OK);
    EXPECT_EQ(out.vt, VT_DISPATCH);
}

TEST(GridColumns, ModMaskTestThroughTheExtendedInterface) {
    CComPtr<INUVGridColumnCollection> columns;
    ASSERT_EQ(NewInfo(0)->get_Columns(&columns), S_OK);
    CComVariant item;
    ASSERT_EQ(columns->Item(CComVariant(LONG{0}), &item), S_OK);
    CComPtr<INUVGridVarInfo2> column = As<INUVGridVarInfo2>(item);
    ASSERT_TRUE(column);
    struct Row {
        const char* mask;
        const char* keyword;
        LONG bit;
    };
    const Row rows[] = {
        {"4;0", "lower", 4},      {"0;2", "UOM", 2},         {"255;0", "INTSCALE", 0}, {"255;0", "SCALE", 0x20},
        {"0;255", "VALUE", 0},    {"4096;0", "Marked", 4096}, {"7", "UPPER", 0},         {"-1;-1", "NOSUCH", 0},
        {"-1;0", "VARIABLE_TYPE", 0x2000000},
    };
    for (const Row& row : rows) {
        LONG out = -1;
        EXPECT_EQ(column->TestModMask(CComVariant(row.mask), CComBSTR(row.keyword), &out), S_OK) << row.mask;
        EXPECT_EQ(out, row.bit) << row.mask << " " << row.keyword;
    }
    LONG out = -1;
    EXPECT_EQ(column->TestModMask(CComVariant(LONG{4}), CComBSTR("LOWER"), &out), E_FAIL);
    EXPECT_EQ(out, 0);
    EXPECT_EQ(TakeError().source, "NUVGridVarInfo");
    EXPECT_EQ(column->TestModMask(CComVariant("4;0"), CComBSTR("LOWER"), nullptr), E_POINTER);
}

TEST(GridStyles, ItemsCarryTheirControlType) {
    CComPtr<INUVGridStyleCollection> styles;
    ASSERT_EQ(NewInfo(0)->get_ControlStyles(&styles), S_OK);
    LONG count = 0;
    styles->Count(&count);
    EXPECT_EQ(count, 16);
    const IID* expected[] = {&IID_INUVGridStaticControl, &IID_INUVGridTextBoxControl, &IID_INUVGridCheckBoxControl,
                             &IID_INUVGridComboBoxControl};
    for (LONG i = 0; i < count; ++i) {
        NUVControlType type = static_cast<NUVControlType>(-1);
        CComVariant control;
        ASSERT_EQ(styles->Item(&i, &type, &control), S_OK);
        EXPECT_EQ(type, FindStyle(i)->type);
        CComPtr<IUnknown> itf;
        EXPECT_EQ(control.pdispVal->QueryInterface(*expected[type], reinterpret_cast<void**>(&itf)), S_OK) << i;
    }
    LONG nine = 9;
    NUVControlType type = ECT_COMBOBOX;

    for (LONG bad : {LONG{16}, LONG{-1}, LONG{1} << 30}) {
        CComVariant none;
        EXPECT_EQ(styles->Item(&bad, &type, &none), E_FAIL) << bad;
        EXPECT_EQ(TakeError().source, "NUVGridStyleCollection");
    }
    CComVariant none;
    EXPECT_EQ(styles->Item(nullptr, &type, &none), E_POINTER);
    EXPECT_EQ(styles->Item(&nine, &type, nullptr), E_POINTER);
}

TEST(GridControls, TextAndCheckBoxValues) {
    CComPtr<INUVGridStyleCollection> styles;
    ASSERT_EQ(NewInfo(0)->get_ControlStyles(&styles), S_OK);
    auto control = [&](LONG style) {
        NUVControlType type{};
        CComVariant v;
        EXPECT_EQ(styles->Item(&style, &type, &v), S_OK);
        return v;
    };
    for (LONG style : {LONG{0}, LONG{1}, LONG{2}, LONG{12}}) {
        const TextBoxRecord& r = *FindStyle(static_cast<int>(style))->text_box;
        CComPtr<INUVGridTextBoxControl> box = As<INUVGridTextBoxControl>(control(style));
        ULONG max_size = 0;
        box->get_MaxSize(&max_size);
        EXPECT_EQ(max_size, 0xFFFFFFFFu);
        CComVariant def;
        VARIANT_BOOL use = 0;
        box->UseFormat(&use);
        EXPECT_EQ(use, r.format_type ? VARIANT_TRUE : VARIANT_FALSE);
        CComBSTR mask;
        EXPECT_EQ(box->get_MaskInc(&mask), S_OK);
        EXPECT_EQ(mask.m_str, nullptr);
        EXPECT_EQ(box->get_DefaultValue(&def), S_OK);
        EXPECT_EQ(def.vt, r.value_code == kNarrowText ? VT_ERROR : (r.value_code == kInt32 ? VT_I4 : VT_R8));
    }
    CComPtr<INUVGridCheckBoxControl> bool_box = As<INUVGridCheckBoxControl>(control(7));
    CComVariant checked, unchecked;
    bool_box->get_Checked(&checked);
    bool_box->get_UnChecked(&unchecked);
    EXPECT_EQ(checked.vt, VT_BOOL);
    EXPECT_EQ(checked.boolVal, VARIANT_TRUE);
    EXPECT_EQ(unchecked.boolVal, VARIANT_FALSE);
    NUVCheckBoxState state{};
    bool_box->get_DefaultState(&state);
    EXPECT_EQ(state, ECBD_UNCHECKED);
    EXPECT_EQ(bool_box->get_Checked(nullptr), E_POINTER);
}

TEST(GridControls, ComboItemsByIndexAndEnumeration) {
    CComPtr<INUVGridStyleCollection> styles;
    ASSERT_EQ(NewInfo(0)->get_ControlStyles(&styles), S_OK);
    for (LONG style : {LONG{3}, LONG{10}, LONG{11}, LONG{15}}) {
        const ComboRecord& r = *FindStyle(static_cast<int>(style))->combo_box;
        NUVControlType type{};
        CComVariant v;
        ASSERT_EQ(styles->Item(&style, &type, &v), S_OK);
        CComPtr<INUVGridComboBoxControl> combo = As<INUVGridComboBoxControl>(v);
        LONG count = 0;
        combo->Count(&count);
        ASSERT_EQ(count, static_cast<LONG>(r.items.size()));
        CComVariant def;
        combo->get_DefaultValue(&def);
        EXPECT_EQ(def.vt, r.value_code == kNarrowText ? VT_BSTR : (r.value_code == kBool16 ? VT_BOOL : VT_I4));

        CComPtr<IDispatch> enum_dispatch;
        ASSERT_EQ(combo->GetEnum(&enum_dispatch), S_OK);
        CComPtr<IEnumVARIANT> items;
        ASSERT_EQ(enum_dispatch->QueryInterface(IID_IEnumVARIANT, reinterpret_cast<void**>(&items)), S_OK);
        UINT type_infos = 9;
        EXPECT_EQ(enum_dispatch->GetTypeInfoCount(&type_infos), S_OK) << "a usable IDispatch, not a cast";
        EXPECT_EQ(type_infos, 0u);
        for (LONG i = 0; i < count; ++i) {
            CComVariant by_index, enumerated;
            ASSERT_EQ(combo->Item(&i, &by_index), S_OK);
            ULONG fetched = 0;
            ASSERT_EQ(items->Next(1, &enumerated, &fetched), S_OK);
            CComBSTR name_a, name_b;
            As<INUVGridComboBoxItem>(by_index)->get_DisplayName(&name_a);
            As<INUVGridComboBoxItem>(enumerated)->get_DisplayName(&name_b);
            EXPECT_EQ(name_a.ToUtf8(), r.items[static_cast<size_t>(i)].display_name);
            EXPECT_EQ(name_a.ToUtf8(), name_b.ToUtf8());
            CComVariant value;
            As<INUVGridComboBoxItem>(by_index)->get_Value(&value);
            EXPECT_EQ(value.vt, def.vt);
        }
        CComVariant past;
        ULONG fetched = 7;
        EXPECT_EQ(items->Next(1, &past, &fetched), S_FALSE);
        EXPECT_EQ(fetched, 0u);
        for (LONG bad : {count, LONG{-1}}) {
            CComVariant none;
            EXPECT_EQ(combo->Item(&bad, &none), E_INVALIDARG);
            EXPECT_EQ(TakeError().description, "The item index is out of range");
        }
        CComVariant none;
        EXPECT_EQ(combo->Item(nullptr, &none), E_FAIL);
    }
    // An item stays readable after its combo box has gone.
    LONG style = 14;
    NUVControlType type{};
    CComVariant v, last;
    ASSERT_EQ(styles->Item(&style, &type, &v), S_OK);
    LONG eight = 8;
    ASSERT_EQ(As<INUVGridComboBoxControl>(v)->Item(&eight, &last), S_OK);
    v.Clear();
    styles.Release();
    CComVariant value;
    ASSERT_EQ(As<INUVGridComboBoxItem>(last)->get_Value(&value), S_OK);
    EXPECT_EQ(value.lVal, 64);
}

TEST(GridCollections, NewEnumVisitsEveryMember) {
    CComPtr<INUVGridInfo> info = NewInfo(2);
    CComPtr<INUVGridColumnCollection> columns;
    CComPtr<INUVGridStyleCollection> styles;
    ASSERT_EQ(info->get_Columns(&columns), S_OK);
    ASSERT_EQ(info->get_ControlStyles(&styles), S_OK);
    info->put_Mode(0);  // collections already made keep their kind
    CComPtr<IDispatch> column_enum, style_enum;
    ASSERT_EQ(columns->NewEnum(&column_enum), S_OK);
    ASSERT_EQ(styles->NewEnum(&style_enum), S_OK);
    CComPtr<IEnumVARIANT> e;
    ASSERT_EQ(column_enum->QueryInterface(IID_IEnumVARIANT, reinterpret_cast<void**>(&e)), S_OK);
    CComVariant batch[10];
    ULONG fetched = 0;
    EXPECT_EQ(e->Next(10, batch, &fetched), S_FALSE);
    ASSERT_EQ(fetched, 7u);
    EXPECT_EQ(EngineName(batch[6]), "TYPE");
    e.Release();
    ASSERT_EQ(style_enum->QueryInterface(IID_IEnumVARIANT, reinterpret_cast<void**>(&e)), S_OK);
    CComVariant controls[16];
    EXPECT_EQ(e->Next(16, controls, &fetched), S_OK);
    EXPECT_EQ(fetched, 16u);
    EXPECT_EQ(columns->NewEnum(nullptr), E_POINTER);
}

TEST(GridLateBinding, ScriptReachesDefinitionColumnsAndControls) {
    CComPtr<INUVGridInfo> info = NewInfo(1);
    CComVariant ignored;
    ASSERT_EQ(CallByName(info, OLESTR("Mode"), DISPATCH_PROPERTYPUT, {CComVariant(LONG{7})}, nullptr), S_OK);
    CComVariant count;
    ASSERT_EQ(CallByName(info, OLESTR("colcount"), DISPATCH_METHOD | DISPATCH_PROPERTYGET, {}, &count), S_OK);
    EXPECT_EQ(count.lVal, 3);

    EXCEPINFO exception{};
    EXPECT_EQ(CallByName(info, OLESTR("Mode"), DISPATCH_PROPERTYPUT, {CComVariant(LONG{12})}, nullptr, &exception),
              DISP_E_EXCEPTION);
    EXPECT_EQ(exception.scode, E_INVALIDARG);
    EXPECT_EQ(Taken(exception), std::make_pair(std::string("NUVGridInfo"),
                                               std::string("The grid mode must be between 0 and 7")));

    CComVariant columns;
    ASSERT_EQ(CallByName(info, OLESTR("Columns"), DISPATCH_PROPERTYGET, {}, &columns), S_OK);
    ASSERT_EQ(columns.vt, VT_DISPATCH);
    // A script's small literal positions arrive as VT_I2 (a byte as VT_UI1): each names the column the
    // same position as VT_I4 names.
    CComVariant byte;
    byte.vt = VT_UI1;
    byte.bVal = 1;
    std::vector<std::string> names;
    for (const CComVariant& position : {CComVariant(LONG{1}), CComVariant(SHORT{1}), byte}) {
        CComVariant by_position;
        ASSERT_EQ(CallByName(columns.pdispVal, OLESTR("Item"), DISPATCH_METHOD, {position}, &by_position), S_OK)
            << "vt " << position.vt;
        names.push_back(EngineName(by_position));
    }
    EXPECT_FALSE(names[0].empty());
    EXPECT_EQ(names[1], names[0]);
    EXPECT_EQ(names[2], names[0]);
    CComVariant column;
    ASSERT_EQ(CallByName(columns.pdispVal, OLESTR("Item"), DISPATCH_METHOD, {CComVariant("PHYSICAL_TYPE")}, &column), S_OK);
    CComVariant display;
    ASSERT_EQ(CallByName(column.pdispVal, OLESTR("DisplayName"), DISPATCH_PROPERTYGET, {}, &display), S_OK);
    EXPECT_EQ(Utf8(display.bstrVal), "Physical Type");

    // Style items take the index by reference and hand the control type back through the second argument.
    CComVariant styles;
    ASSERT_EQ(CallByName(info, OLESTR("ControlStyles"), DISPATCH_PROPERTYGET, {}, &styles), S_OK);
    LONG index = 9, type = -1;
    VARIANT index_ref{}, type_ref{};
    index_ref.vt = type_ref.vt = VT_BYREF | VT_I4;
    index_ref.plVal = &index;
    type_ref.plVal = &type;
    CComVariant control;
    ASSERT_EQ(CallByName(styles.pdispVal, OLESTR("Item"), DISPATCH_METHOD, {index_ref, type_ref}, &control), S_OK);
    EXPECT_EQ(type, ECT_STATIC);
    CComVariant text;
    ASSERT_EQ(CallByName(control.pdispVal, OLESTR("DefaultValue"), DISPATCH_PROPERTYGET, {}, &text), S_OK);
    EXPECT_EQ(Utf8(text.bstrVal), "Undefined");
    index = 16;
    CComVariant none;
    EXPECT_EQ(CallByName(styles.pdispVal, OLESTR("Item"), DISPATCH_METHOD, {index_ref, type_ref}, &none, &exception),
              DISP_E_EXCEPTION);
    EXPECT_EQ(exception.scode, E_FAIL);
    EXPECT_EQ(Taken(exception).first, "NUVGridStyleCollection");
}

}  // namespace
