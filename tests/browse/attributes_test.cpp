#include <gtest/gtest.h>

#include <string>

#include "browse/attributes.h"
#include "browse/document.h"
#include "support/error_info.h"
#include "support/memory_document.h"

using fitest::DocumentHolder;
using fitest::MemoryDocument;
using fitest::MemoryEntry;
using fitest::MemoryHandle;

namespace {

std::string Read(MemoryEntry& e, FI::FIDocument* doc, const char* name, const char* units = nullptr,
                 HRESULT* result = nullptr) {
    FIVariant v;
    HRESULT hr = e.ReadAttribute(doc, name, doc->GetAttributeId(name), units, v.get());
    if (result != nullptr) *result = hr;
    if (v.get()->vt == VT_EMPTY) return "<empty>";
    if (v.get()->vt == VT_BOOL) return v.get()->boolVal ? "<true>" : "<false>";
    FIValue value;
    FI::VariantToFIValue(v.get(), value);
    return value.ToStdString();
}

class GenericAttributes : public ::testing::Test {
protected:
    GenericAttributes() : doc_(MemoryDocument::Create(MemoryEntry::Make("Top"))) {
        node_ = doc_->root_->Add("N", "Block");
        node_->Add("c1");
        node_->Add("c2");
        node_->Add("c3");
        leaf_ = node_->AddLeaf("L", FIValue(2.5));
    }
    DocumentHolder doc_;
    MemoryEntry* node_;
    MemoryEntry* leaf_;
};

TEST_F(GenericAttributes, ListsOfAttributesChildrenAndActions) {
    EXPECT_EQ(Read(*leaf_, doc_.get(), "valid_attributes"),
              "child_ids\nhas_children\nid\nisleaf\npath\ntype\nvalid_attributes\nvalue");
    leaf_->SetActions({"run"});
    std::string withActions = Read(*leaf_, doc_.get(), "valid_attributes");
    EXPECT_NE(withActions.find("action_is_valid\naction_status\nchild_ids"), std::string::npos);
    EXPECT_NE(withActions.find("valid_actions\nvalid_attributes"), std::string::npos);

    EXPECT_EQ(Read(*leaf_, doc_.get(), "child_ids"), "<empty>");
    EXPECT_EQ(Read(*node_, doc_.get(), "child_ids"), "c1\nc2\nc3\nL");
    node_->delegatePath = "Other.Doc";
    EXPECT_EQ(Read(*node_, doc_.get(), "child_ids"), "<empty>");
    node_->delegatePath.clear();

    EXPECT_EQ(Read(*node_, doc_.get(), "valid_actions"), "<empty>");
    node_->SetActions({"a1", "a2", "a3", "a4", "a5", "a6", "a7"});
    node_->getActionsCalls = 0;
    EXPECT_EQ(Read(*node_, doc_.get(), "valid_actions"), "a1\na2\na3\na4\na5\na6\na7");
    EXPECT_EQ(node_->getActionsCalls, 2);
}

TEST_F(GenericAttributes, ActionValidityDescriptionAndStatus) {
    node_->SetActions({"run"});
    EXPECT_EQ(Read(*node_, doc_.get(), "action_is_valid"), "<false>");
    EXPECT_EQ(Read(*node_, doc_.get(), "action_is_valid", ""), "<false>");
    EXPECT_EQ(Read(*node_, doc_.get(), "action_is_valid", "run"), "<true>");
    EXPECT_EQ(Read(*node_, doc_.get(), "action_is_valid", "fly"), "<false>");

    HRESULT hr = S_OK;
    EXPECT_EQ(Read(*node_, doc_.get(), "action_description", "run", &hr),
              "<NUIActionDescription>run</NUIActionDescription>");
    EXPECT_EQ(hr, S_OK);
    EXPECT_EQ(Read(*node_, doc_.get(), "action_description", "fly", &hr), "<empty>");
    EXPECT_EQ(hr, FIError::kFailureCode);
    EXPECT_EQ(fitest::TakeErrorDescription(), "Action is not valid");
    EXPECT_EQ(Read(*node_, doc_.get(), "action_description", nullptr, &hr), "<empty>");
    EXPECT_EQ(hr, S_OK);

    EXPECT_EQ(Read(*leaf_, doc_.get(), "action_status", "x"), "2Action is not supported");
    node_->validation = {FIDocumentNotify(3, FIValue("fine"))};
    EXPECT_EQ(Read(*node_, doc_.get(), "action_status", "run"), "0");
    node_->validation = {FIDocumentNotify(2, FIValue("careful")), FIDocumentNotify(1, FIValue("broken")),
                         FIDocumentNotify(2, FIValue("later"))};
    EXPECT_EQ(Read(*node_, doc_.get(), "action_status", "run"), "2broken");
    node_->validation = {FIDocumentNotify(2, FIValue("careful"))};
    EXPECT_EQ(Read(*node_, doc_.get(), "action_status", "run"), "1careful");
    EXPECT_EQ(Read(*node_, doc_.get(), "action_status"), "<empty>");
}

TEST_F(GenericAttributes, NamesFallBackToIdAndValuesConvert) {
    EXPECT_EQ(Read(*node_, doc_.get(), "browser_name"), "N");
    EXPECT_EQ(Read(*node_, doc_.get(), "display_name"), "N");
    EXPECT_EQ(Read(*node_, doc_.get(), "type"), "Block");
    EXPECT_EQ(Read(*leaf_, doc_.get(), "isleaf"), "1");
    EXPECT_EQ(Read(*node_, doc_.get(), "has_children"), "1");
    EXPECT_EQ(Read(*node_, doc_.get(), "description"), "<empty>");
    FIVariant v;
    ASSERT_EQ(leaf_->ReadAttribute(doc_.get(), "value", 1, nullptr, v.get()), S_OK);
    EXPECT_EQ(v.get()->vt, VT_R8);
    EXPECT_EQ(v.get()->dblVal, 2.5);
    EXPECT_EQ(leaf_->ReadAttribute(doc_.get(), "value", 1, nullptr, nullptr), E_POINTER);
}

TEST_F(GenericAttributes, DisplaysCarryUnitsAndAreRestored) {
    std::string units;
    std::string path;
    leaf_->onGetAttribute = [&](MemoryEntry& e, const char*) {
        FIValue u;
        FIValue p;
        e.GetDisplay()->GetUnits(u);
        e.GetDisplay()->GetPath(p);
        units = u.ToStdString();
        path = p.ToStdString();
    };
    Read(*leaf_, doc_.get(), "value", "degC");
    EXPECT_EQ(units, "degC");
    EXPECT_EQ(path, "");
    EXPECT_EQ(leaf_->GetDisplay(), nullptr);

    // A display installed further out: empty units keep its units; given units replace them.
    struct Outer : FI::Display {
        void SetUnits(const FIValue&) override {}
        void GetUnits(FIValue& out) override { out.SetString("bar"); }
        void GetPath(FIValue& out) override { out.SetString("Top.N.L"); }
    } outer;
    leaf_->SetDisplay(&outer);
    Read(*leaf_, doc_.get(), "value", "");
    EXPECT_EQ(units, "bar");
    EXPECT_EQ(path, "Top.N.L");
    Read(*leaf_, doc_.get(), "value", "psi");
    EXPECT_EQ(units, "psi");
    EXPECT_EQ(Read(*leaf_, doc_.get(), "path"), "Top.N.L");
    EXPECT_EQ(leaf_->GetDisplay(), &outer);

    leaf_->throwOnGetAttribute = true;
    HRESULT hr = S_OK;
    EXPECT_EQ(Read(*leaf_, doc_.get(), "value", "psi", &hr), "<empty>");
    EXPECT_EQ(hr, E_UNEXPECTED);
    EXPECT_EQ(fitest::TakeErrorDescription(), "Unhandled exception in GetAttribute");
    EXPECT_EQ(leaf_->GetDisplay(), &outer);
    leaf_->SetDisplay(nullptr);
}

TEST_F(GenericAttributes, WritesConvertOrRefuse) {
    FIVariant v;
    v.get()->vt = VT_I4;
    v.get()->lVal = 4;
    EXPECT_EQ(leaf_->WriteAttribute(doc_.get(), "value", 1, nullptr, v.get()), S_OK);
    EXPECT_EQ(leaf_->Attr("value")->ToInt(), 4);
    EXPECT_EQ(node_->WriteAttribute(doc_.get(), "color", 42, nullptr, v.get()), FIError::kFailureCode);
    EXPECT_EQ(fitest::TakeErrorDescription(), "Cannot modify attribute color");

    // A value that cannot be converted is refused, never written as empty.
    FIVariant unknown;
    unknown.get()->vt = VT_DATE;
    unknown.get()->date = 1.0;
    EXPECT_EQ(leaf_->WriteAttribute(doc_.get(), "value", 1, nullptr, unknown.get()), E_INVALIDARG);
    EXPECT_EQ(fitest::TakeErrorDescription(), "Invalid value type for attribute value");
    EXPECT_EQ(leaf_->Attr("value")->ToInt(), 4);
    EXPECT_EQ(leaf_->WriteAttribute(doc_.get(), "value", 1, nullptr, nullptr), E_INVALIDARG);
}

TEST(VariantConversion, IncomingTypes) {
    LONG four = 4;
    double half = 0.5;
    VARIANT_BOOL yes = VARIANT_TRUE;
    BSTR text = SysAllocString(OLESTR("\u00e9t\u00e9"));
    VARIANT inner;
    VariantInit(&inner);
    inner.vt = VT_R4;
    inner.fltVal = 1.5f;
    VARIANT nested;
    VariantInit(&nested);
    nested.vt = VT_BYREF | VT_VARIANT;
    nested.pvarVal = &inner;

    struct Row {
        VARTYPE vt;
        void* ref;
        int64_t scalar;
        HRESULT hr;
        const char* text;  // the value as text, "" for empty
    };
    const Row rows[] = {
        {VT_EMPTY, nullptr, 0, S_OK, ""},
        {VT_NULL, nullptr, 0, S_OK, ""},
        {VT_I2, nullptr, -3, S_OK, "-3"},
        {VT_I4, nullptr, 70000, S_OK, "70000"},
        {VT_I8, nullptr, 0x100000005LL, S_OK, "5"},
        {VT_BOOL, nullptr, VARIANT_TRUE, S_OK, "1"},
        {VT_BYREF | VT_I4, &four, 0, S_OK, "4"},
        {VT_BYREF | VT_R8, &half, 0, S_OK, "0.5"},
        {VT_BYREF | VT_BOOL, &yes, 0, S_OK, "1"},
        {VT_BYREF | VT_BSTR, &text, 0, S_OK, "\xc3\xa9t\xc3\xa9"},
        {VT_BYREF | VT_VARIANT, &inner, 0, S_OK, "1.5"},
        {VT_BYREF | VT_VARIANT, &nested, 0, E_INVALIDARG, ""},  // followed one level only
        {VT_BYREF | VT_I4, nullptr, 0, E_INVALIDARG, ""},
        {VT_BYREF | VT_I8, &four, 0, E_INVALIDARG, ""},
        {VT_DATE, nullptr, 0, E_INVALIDARG, ""},
        {VT_UI4, nullptr, 1, E_INVALIDARG, ""},
    };
    for (const Row& r : rows) {
        VARIANT v;
        VariantInit(&v);
        v.vt = r.vt;
        if (r.vt & VT_BYREF) {
            v.byref = r.ref;
        } else if (r.vt == VT_I8) {
            v.llVal = r.scalar;
        } else if (r.vt == VT_I2) {
            v.iVal = static_cast<SHORT>(r.scalar);
        } else if (r.vt == VT_BOOL) {
            v.boolVal = static_cast<VARIANT_BOOL>(r.scalar);
        } else {
            v.lVal = static_cast<LONG>(r.scalar);
        }
        FIValue out("stale");
        EXPECT_EQ(FI::VariantToFIValue(&v, out), r.hr) << r.vt;
        EXPECT_EQ(out.ToStdString(), r.text) << r.vt;
    }
    SysFreeString(text);

    FIVariant back;
    ASSERT_EQ(FI::FIValueToVariant(FIValue(), back.get()), S_OK);
    EXPECT_EQ(back.get()->vt, VT_NULL);
    ASSERT_EQ(FI::FIValueToVariant(FIValue("\xc3\xa9"), back.get()), S_OK);
    EXPECT_EQ(back.get()->vt, VT_BSTR);
    EXPECT_EQ(nuv::bstr_to_utf8(back.get()->bstrVal), "\xc3\xa9");
}

}  // namespace
