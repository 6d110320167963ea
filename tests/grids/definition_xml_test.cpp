// The grid definition saved as XML to a stream and read back through a fresh DOM.
#include <string>

#include "definition_support.h"
#include "definition/grid_info.h"
#include "definition/grid_tables.h"
#include "zeq_units.h"

namespace {

using namespace nuv::griddef;
using griddef_test::Attr;
using griddef_test::AttributeOrder;
using griddef_test::Children;
using griddef_test::Name;

CComPtr<IPersistStream> NewPersist(int kind) {
    CComPtr<IPersistStream> persist;
    EXPECT_EQ(CreateGridInfo(&kind, IID_IPersistStream, reinterpret_cast<void**>(&persist)), S_OK);
    return persist;
}

CComPtr<IStream> NewStream() {
    CComPtr<IStream> stream;
    EXPECT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &stream), S_OK);
    return stream;
}

CComPtr<IXMLDOMElement> SavedRoot(int kind) {
    CComPtr<IStream> stream = NewStream();
    EXPECT_EQ(NewPersist(kind)->Save(stream, TRUE), S_OK);
    CComPtr<IXMLDOMDocument> doc = griddef_test::ParseXml(griddef_test::ReadStream(stream));
    CComPtr<IXMLDOMElement> root;
    if (doc) doc->get_documentElement(&root);
    return root;
}

std::string Str(int v) { return std::to_string(v); }

TEST(GridXml, RootAndColumnsOfEveryKind) {
    for (int k = 0; k < kKindCount; ++k) {
        SCOPED_TRACE(k);
        const KindRecord& r = *FindKind(k);
        CComPtr<IXMLDOMElement> root = SavedRoot(k);
        ASSERT_TRUE(root);
        EXPECT_EQ(Name(root), "NUVGridInfo");
        EXPECT_EQ(Attr(root, "ColHeaderHeight"), Str(r.col_header_height));
        EXPECT_EQ(Attr(root, "RowHeight"), Str(r.row_height));
        EXPECT_EQ(Attr(root, "FrozenCols"), Str(r.frozen_cols));
        EXPECT_EQ(Attr(root, "FrozenRows"), Str(r.frozen_rows));
        EXPECT_EQ(Attr(root, "PrimaryCol"), Str(r.primary_col));
        EXPECT_EQ(Attr(root, "ShowRowHdr"), r.show_row_hdr ? "1" : "0");
        EXPECT_EQ(Attr(root, "AllowQueries"), "1");
        EXPECT_EQ(Attr(root, "HelpFile"), r.help_file ? r.help_file : "");
        EXPECT_EQ(Attr(root, "HelpCode"), Str(r.help_code));
        const std::vector<std::string> root_order{"ColHeaderHeight", "RowHeight", "FrozenCols", "FrozenRows",
                                                  "PrimaryCol",      "ShowRowHdr", "AllowQueries", "HelpFile",
                                                  "HelpCode"};
        EXPECT_EQ(AttributeOrder(root, root_order), root_order);

        auto children = Children(root);
        ASSERT_EQ(children.size(), r.columns.size() + 2);
        for (size_t i = 0; i < r.columns.size(); ++i) {
            const ColumnRecord& c = r.columns[i];
            IXMLDOMElement* e = children[i];
            ASSERT_EQ(Name(e), "NUVGridVarInfo");
            EXPECT_EQ(Attr(e, "DisplayName"), c.display_name);
            EXPECT_EQ(Attr(e, "ColumnWidth"), Str(c.column_width));
            EXPECT_EQ(Attr(e, "UseName"), c.use_name);
            EXPECT_EQ(Attr(e, "Visible"), Str(c.visible));
            EXPECT_EQ(Attr(e, "ReadOnly"), Str(c.read_only));
            EXPECT_EQ(Attr(e, "CanResize"), Str(c.can_resize));
            EXPECT_EQ(Attr(e, "CanQuery"), Str(c.can_query));
            EXPECT_EQ(Attr(e, "DefaultControlStyle"), Str(c.default_control_style));
            EXPECT_EQ(Attr(e, "ModMask"), Str(c.mod_mask));
            EXPECT_EQ(Attr(e, "DefaultControlType"), Str(c.default_control_type));
            EXPECT_EQ(Attr(e, "HelpCode"), Str(c.help_code));
        }
        EXPECT_EQ(Name(children[r.columns.size()]), "NUVGridStyleCollection");
        EXPECT_EQ(Name(children[r.columns.size() + 1]), "NUVGridUOMCollection");
    }
    CComPtr<IXMLDOMElement> root = SavedRoot(0);
    auto children = Children(root);
    const std::vector<std::string> column_order{"DisplayName", "ColumnWidth",         "UseName", "Visible",
                                                "ReadOnly",    "CanResize",           "CanQuery",
                                                "DefaultControlStyle", "ModMask", "DefaultControlType", "HelpCode"};
    EXPECT_EQ(AttributeOrder(children[0], column_order), column_order);
    EXPECT_EQ(Attr(Children(SavedRoot(1))[0], "DisplayName"), "") << "an empty header text stays an attribute";
}

TEST(GridXml, StyleControlsInStyleOrder) {
    CComPtr<IXMLDOMElement> root = SavedRoot(0);
    ASSERT_TRUE(root);
    auto children = Children(root);
    auto controls = Children(children[28]);
    ASSERT_EQ(controls.size(), 16u);
    const char* element_of[] = {"NUVGridStaticControl", "NUVGridTextBoxControl", "NUVGridCheckBoxControl",
                                "NUVGridComboBoxControl"};
    for (int s = 0; s < kStyleCount; ++s) {
        SCOPED_TRACE(s);
        const ControlStyle& style = *FindStyle(s);
        IXMLDOMElement* e = controls[static_cast<size_t>(s)];
        ASSERT_EQ(Name(e), element_of[style.type]);
        if (style.combo_box) {
            const ComboRecord& r = *style.combo_box;
            EXPECT_EQ(Attr(e, "Type"), Str(r.value_code));
            auto items = Children(e);
            ASSERT_EQ(items.size(), r.items.size());
            for (size_t i = 0; i < items.size(); ++i) {
                EXPECT_EQ(Attr(items[i], "DisplayName"), r.items[i].display_name);
                EXPECT_EQ(Attr(items[i], "QueryName"), r.items[i].query_name);
                if (r.value_code == kInt32) {
                    EXPECT_EQ(Attr(items[i], "Value"), Str(static_cast<int>(r.items[i].value.integer)));
                } else if (r.value_code == kNarrowText) {
                    EXPECT_EQ(Attr(items[i], "Value"), r.items[i].value.text);
                }
            }
        }
        if (style.check_box) {
            const std::vector<std::string> order{"Type", "Checked", "UnChecked", "CheckedDisplay", "UnCheckedDisplay",
                                                 "DefaultState"};
            EXPECT_EQ(AttributeOrder(e, order), order);
            EXPECT_EQ(Attr(e, "CheckedDisplay"), style.check_box->checked_display);
        }
        if (style.text_box) {
            const TextBoxRecord& r = *style.text_box;
            EXPECT_EQ(Attr(e, "MaxSize"), "4294967295");
            EXPECT_EQ(Attr(e, "NumPlaces"), Str(r.num_places));
            EXPECT_EQ(Attr(e, "Format"), Str(r.format_type));
            EXPECT_EQ(Attr(e, "VarType"), Str(r.value_code));
            EXPECT_EQ(Attr(e, "MaskInc"), "");
            // A text box without a default text has no Default attribute.
            EXPECT_EQ(Attr(e, "Default") == "<absent>", r.value_code == kNarrowText);
            EXPECT_NE(Attr(e, "UseFormating"), "<absent>");
        }
        if (style.static_control) {
            EXPECT_EQ(Attr(e, "Default"), "Undefined");
        }
    }
    // UseFormating tells a formatted box from a plain one.
    EXPECT_NE(Attr(controls[0], "UseFormating"), Attr(controls[1], "UseFormating"));
    EXPECT_EQ(Attr(controls[10], "DefaultValue"), "UNTYPED");
    EXPECT_EQ(Attr(controls[2], "Default"), "0");
}

TEST(GridXml, UnitsOfEveryPhysicalType) {
    CComPtr<IXMLDOMElement> root = SavedRoot(3);
    ASSERT_TRUE(root);
    auto children = Children(root);
    auto types = Children(children.back());
    ASSERT_EQ(types.size(), 149u);
    for (int t = 0; t < 149; ++t) {
        SCOPED_TRACE(t);
        IXMLDOMElement* e = types[static_cast<size_t>(t)];
        EXPECT_EQ(Name(e), "PhysicalType");
        EXPECT_EQ(Attr(e, "Name"), rtouom_ptype_name(t));
        EXPECT_EQ(Attr(e, "Index"), Str(t));
        auto combo = Children(e);
        ASSERT_EQ(combo.size(), 1u);
        EXPECT_EQ(Attr(combo[0], "Type"), "7");
        char** units = nullptr;
        const int n = rtouom_get_uomlist(t, &units);
        auto items = Children(combo[0]);
        ASSERT_EQ(items.size(), static_cast<size_t>(n > 0 ? n : 0));
        if (n > 0) {
            EXPECT_EQ(Attr(combo[0], "DefaultValue"), units[rtouom_get_default(t) - 1]);
            for (int i = 0; i < n; ++i) {
                EXPECT_EQ(Attr(items[static_cast<size_t>(i)], "Value"), units[i]);
                EXPECT_EQ(Attr(items[static_cast<size_t>(i)], "QueryName"), units[i]);
            }
        } else {
            EXPECT_EQ(Attr(combo[0], "DefaultValue"), "<absent>") << "a type without units has Type only";
        }
        rtouom_destroy_uomlist(units, n);
    }
}

TEST(GridXml, SavingIntoStreamsOfAnyState) {
    // A stream that held a longer text and is positioned past its start is rewritten from the start and
    // ends where the definition ends.
    CComPtr<IStream> stream = NewStream();
    std::string filler(400000, 'x');
    ULONG written = 0;
    ASSERT_EQ(stream->Write(filler.data(), static_cast<ULONG>(filler.size()), &written), S_OK);
    ASSERT_EQ(NewPersist(7)->Save(stream, FALSE), S_OK);
    const std::string text = griddef_test::ReadStream(stream);
    EXPECT_EQ(text.find('x' + std::string(20, 'x')), std::string::npos);
    CComPtr<IXMLDOMDocument> doc = griddef_test::ParseXml(text);
    CComPtr<IXMLDOMElement> root;
    ASSERT_TRUE(doc);
    doc->get_documentElement(&root);
    EXPECT_EQ(Attr(root, "PrimaryCol"), "-1");

    // Saving again gives the same text.
    ASSERT_EQ(NewPersist(7)->Save(stream, FALSE), S_OK);
    EXPECT_EQ(griddef_test::ReadStream(stream), text);

    EXPECT_EQ(NewPersist(0)->Save(nullptr, TRUE), E_POINTER);
    EXPECT_EQ(griddef_test::TakeError().source, "NUVGridInfo");
}

}  // namespace
