#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "browse/attributes.h"
#include "browse/document.h"
#include "browse/request.h"
#include "support/error_info.h"
#include "support/delegate_fixture.h"

using fitest::DocumentHolder;
using fitest::MemoryDocument;
using fitest::MemoryEntry;
using fitest::MemoryHandle;

namespace {

MemoryHandle MakeTree() {
    MemoryHandle top = MemoryEntry::Make("Top", "Top");
    MemoryEntry* b = top->Add("B");
    b->AddLeaf("x", FIValue(1));
    b->AddLeaf("y", FIValue(2.5));
    top->AddLeaf("z", FIValue("zed"));
    return top;
}

std::string AsText(const FIVariant& v) {
    if (v.get()->vt == VT_EMPTY) return "<empty>";
    FIValue value;
    FI::VariantToFIValue(v.get(), value);
    return value.ToStdString();
}

std::vector<std::string> Values(const FIAttributeRequest& r) {
    std::vector<std::string> out;
    for (const auto& item : r.items) out.push_back(AsText(item.value));
    return out;
}

TEST(BatchRead, EmptyBaseResolvesFromTheRoot) {
    DocumentHolder doc(MemoryDocument::Create(MakeTree()));
    FIAttributeRequest r(doc.get());
    int32_t value = r.AddAttribute("value");
    int32_t path = r.AddAttribute("path");
    r.AddPath("Top.B.x");
    r.AddPath("B.y");  // does not begin with the root's name: kept as it is
    r.AddPath("Top.B.missing");
    r.AddPath("Top");
    r.AddItem(0, value);
    r.AddItem(1, value);
    r.AddItem(2, value);
    r.AddItem(0, path);
    r.AddItem(3, path);
    r.AddItem(1, 99);  // an index out of range leaves the item empty
    r.AddItem(1, -1);
    EXPECT_EQ(doc->GetRequestAttributes(r), S_OK);
    EXPECT_EQ(Values(r), (std::vector<std::string>{"1", "2.5", "<empty>", "Top.B.x", "Top", "<empty>", "<empty>"}));
    // The after hook is skipped for the path that did not resolve.
    EXPECT_EQ(doc->hooks, "bg0 ag0 bg1 ag1 bg2 bg3 ag3 ");
}

TEST(BatchRead, BasePathAndSubstitution) {
    DocumentHolder doc(MemoryDocument::Create(MakeTree()));
    FIAttributeRequest r(doc.get());
    r.basePath = "Top.B";
    int32_t path = r.AddAttribute("path");
    int32_t type = r.AddAttribute("type");
    r.AddPath("x");
    r.AddPath("");
    r.AddItem(0, path);
    r.AddItem(1, path);
    r.AddItem(1, type);
    EXPECT_EQ(doc->GetRequestAttributes(r), S_OK);
    EXPECT_EQ(Values(r), (std::vector<std::string>{"Top.B.x", "Top.B", "Node"}));

    FIAttributeRequest mapped(doc.get());
    mapped.basePath = "B";
    mapped.substituteFrom = "Caller.Sim";
    mapped.substituteTo = "B";
    mapped.AddAttribute("path");
    mapped.AddPath("x");
    mapped.AddPath("");
    mapped.AddItem(0, 0);
    mapped.AddItem(1, 0);
    EXPECT_EQ(doc->GetRequestAttributes(mapped), S_OK);
    EXPECT_EQ(Values(mapped), (std::vector<std::string>{"Caller.Sim.x", "Caller.Sim"}));

    for (const char* bad : {"Top.Nope", "B.x.deeper"}) {
        FIAttributeRequest invalid(doc.get());
        invalid.basePath = bad;
        invalid.AddAttribute("value");
        invalid.AddPath("");
        invalid.AddItem(0, 0);
        EXPECT_EQ(doc->GetRequestAttributes(invalid), E_FAIL) << bad;
        EXPECT_EQ(fitest::TakeErrorDescription(), "Invalid base path specified");
    }
}

TEST(BatchWrite, StopsAtTheFirstFailure) {
    DocumentHolder doc(MemoryDocument::Create(MakeTree()));
    MemoryEntry* b = doc->root_->Children()[0].Get();
    FIAttributeRequest r(doc.get());
    r.basePath = "Top.B";
    r.AddAttribute("value");
    r.AddPath("x");
    r.AddPath("nope");
    r.AddPath("y");
    for (int32_t p = 0; p < 3; ++p) {
        FIAttributeRequestItem& item = r.AddItem(p, 0);
        item.value.get()->vt = VT_I4;
        item.value.get()->lVal = 40 + p;
    }
    EXPECT_EQ(doc->SetRequestAttributes(r), E_FAIL);
    EXPECT_EQ(b->Children()[0]->Attr("value")->ToInt(), 40);
    EXPECT_EQ(b->Children()[1]->Attr("value")->ToDouble(), 2.5);
    EXPECT_EQ(doc->hooks, "bs0 as0 bs1 ");

    FIAttributeRequest badIndex(doc.get());
    badIndex.basePath = "B";
    badIndex.AddAttribute("value");
    badIndex.AddPath("x");
    badIndex.AddItem(0, 3).value.get()->vt = VT_NULL;
    EXPECT_EQ(doc->SetRequestAttributes(badIndex), E_INVALIDARG);

    FIAttributeRequest readOnly(doc.get());
    readOnly.basePath = "B";
    readOnly.AddAttribute("type");
    readOnly.AddPath("x");
    readOnly.AddItem(0, 0).value.get()->vt = VT_NULL;
    EXPECT_EQ(doc->SetRequestAttributes(readOnly), FIError::kFailureCode);
    EXPECT_EQ(fitest::TakeErrorDescription(), "Cannot modify attribute type");
}

// A write with an index outside the paths or the attributes is refused whole: nothing is written, no
// path hook runs, and the reason is named.
TEST(BatchWrite, IndexesOutsideTheRequestRefuseTheWholeWrite) {
    DocumentHolder doc(MemoryDocument::Create(MakeTree()));
    MemoryEntry* b = doc->root_->Children()[0].Get();
    struct Row {
        int32_t path;
        int32_t attribute;
        const char* text;
    };
    const Row rows[] = {{2, 0, "Invalid path index"},
                        {-1, 0, "Invalid path index"},
                        {0, 1, "Invalid attribute index"},
                        {1, -1, "Invalid attribute index"},
                        {5, 7, "Invalid path index"}};
    for (const Row& row : rows) {
        FIAttributeRequest r(doc.get());
        r.basePath = "Top.B";
        r.AddAttribute("value");
        r.AddPath("x");
        r.AddPath("y");
        FIAttributeRequestItem& good = r.AddItem(0, 0);
        good.value.get()->vt = VT_I4;
        good.value.get()->lVal = 42;
        FIAttributeRequestItem& bad = r.AddItem(row.path, row.attribute);
        bad.value.get()->vt = VT_I4;
        bad.value.get()->lVal = 43;
        EXPECT_EQ(doc->SetRequestAttributes(r), E_INVALIDARG) << row.path << "," << row.attribute;
        EXPECT_EQ(fitest::TakeErrorDescription(), row.text);
        EXPECT_EQ(b->Children()[0]->Attr("value")->ToInt(), 1) << "written before the bad tuple was seen";
        EXPECT_EQ(doc->hooks, "");
    }
    // Reads pass over such tuples and leave their value empty.
    FIAttributeRequest read(doc.get());
    read.basePath = "Top.B";
    read.AddAttribute("value");
    read.AddPath("x");
    read.AddItem(0, 0);
    read.AddItem(3, 0);
    EXPECT_EQ(doc->GetRequestAttributes(read), S_OK);
    EXPECT_EQ(Values(read), (std::vector<std::string>{"1", "<empty>"}));
}

TEST(BatchSingle, GetAndSetThroughTheDocument) {
    DocumentHolder doc(MemoryDocument::Create(MakeTree()));
    FIVariant v;
    EXPECT_EQ(doc->GetAttribute("Top.B.y", nullptr, nullptr, v.get()), S_OK);  // "value" by default
    EXPECT_EQ(AsText(v), "2.5");
    EXPECT_EQ(doc->GetAttribute("z", "type", "", v.get()), S_OK);
    EXPECT_EQ(AsText(v), "Real");
    FIVariant nine;
    nine.get()->vt = VT_R8;
    nine.get()->dblVal = 9.0;
    EXPECT_EQ(doc->SetAttribute("B.y", "value", nullptr, nine.get()), S_OK);
    EXPECT_EQ(doc->GetAttribute("B.y", "value", nullptr, v.get()), S_OK);
    EXPECT_EQ(AsText(v), "9");
    EXPECT_EQ(doc->GetAttribute("B.none", "value", nullptr, v.get()), E_FAIL);
    EXPECT_EQ(doc->GetAttribute("B.y", "value", nullptr, nullptr), E_POINTER);
}

}  // namespace

namespace {

class DelegatedBatch : public fitest::DelegateFixture {
protected:
    DelegatedBatch()
        : DelegateFixture(MakeTree(), [](MemoryDocument& d) {
              MemoryEntry* ext = d.root_->Add("Ext");
              ext->delegatePath = "Remote.Sim";
              return ext;
          }) {}
    FIAttributeRequest Request(const std::string& base, const std::vector<std::string>& paths) {
        FIAttributeRequest r(doc_.get());
        r.basePath = base;
        r.AddAttribute("value");
        for (const std::string& p : paths) r.AddItem(r.AddPath(p), 0);
        return r;
    }
};

TEST_F(DelegatedBatch, BasePathIntoTheDelegateSendsTheWholeRequest) {
    FIAttributeRequest r = Request("Top.Ext.inner", {"a", ""});
    EXPECT_EQ(doc_->GetRequestAttributes(r), S_OK);
    EXPECT_EQ(remote_->log, (std::vector<std::string>{"get [Top.Ext|Remote.Sim] Remote.Sim.inner : 'a' '' : value"}));
    EXPECT_EQ(Values(r), (std::vector<std::string>{"value@Remote.Sim.inner/a", "value@Remote.Sim.inner/"}));
    EXPECT_EQ(r.basePath, "Top.Ext.inner");  // put back after the call

    // The request's own pair maps the new "from" path into the caller's terms.
    FIAttributeRequest mapped = Request("Top.Ext.inner", {"a"});
    mapped.substituteFrom = "Caller.View";
    mapped.substituteTo = "Top";
    EXPECT_EQ(doc_->GetRequestAttributes(mapped), S_OK);
    EXPECT_EQ(remote_->log.back(), "get [Caller.View.Ext|Remote.Sim] Remote.Sim.inner : 'a' : value");

    FIAttributeRequest write = Request("Ext.inner", {"a"});
    remote_->setResult = E_ACCESSDENIED;
    EXPECT_EQ(doc_->SetRequestAttributes(write), E_ACCESSDENIED);
    EXPECT_EQ(remote_->log.back(), "set [Ext|Remote.Sim] Remote.Sim.inner : 'a' : value n=1");
    EXPECT_EQ(ext_->changeHookCalls, 1);

    ext_->provider = nullptr;
    FIAttributeRequest orphan = Request("Ext.inner", {"a"});
    EXPECT_EQ(doc_->GetRequestAttributes(orphan), E_FAIL);
    EXPECT_EQ(fitest::TakeErrorDescription(), "Invalid base path specified");
}

TEST_F(DelegatedBatch, ConsecutivePathsThroughOneEntryGoAsOneNestedRequest) {
    FIAttributeRequest r = Request("", {"Top.B.x", "Ext.u.v", "Top.Ext.u.w", "Ext.z", "B.y", "Ext.u.q"});
    EXPECT_EQ(doc_->GetRequestAttributes(r), S_OK);
    EXPECT_EQ(remote_->log, (std::vector<std::string>{
                                "get [Top.Ext|Remote.Sim] Remote.Sim : 'u.v' 'u.w' 'z' : value",
                                "get [Top.Ext|Remote.Sim] Remote.Sim.u : 'q' : value",
                            }));
    EXPECT_EQ(Values(r), (std::vector<std::string>{"1", "value@Remote.Sim/u.v", "value@Remote.Sim/u.w",
                                                   "value@Remote.Sim/z", "2.5", "value@Remote.Sim.u/q"}));

    FIAttributeRequest shared = Request("Top", {"Ext.\"a.b\".c", "Ext.\"a.b\".d"});
    EXPECT_EQ(doc_->GetRequestAttributes(shared), S_OK);
    EXPECT_EQ(remote_->log.back(), "get [Top.Ext|Remote.Sim] Remote.Sim.\"a.b\" : 'c' 'd' : value");

    FIAttributeRequest write = Request("Top", {"Ext.u.v", "B.x"});
    write.items[1].value.get()->vt = VT_I4;
    write.items[1].value.get()->lVal = 12;
    EXPECT_EQ(doc_->SetRequestAttributes(write), S_OK);
    EXPECT_EQ(remote_->log.back(), "set [Top.Ext|Remote.Sim] Remote.Sim.u : 'v' : value n=1");
    EXPECT_EQ(ext_->changeHookCalls, 1);
    EXPECT_EQ(doc_->root_->Children()[0]->Children()[0]->Attr("value")->ToInt(), 12);
}

}  // namespace
