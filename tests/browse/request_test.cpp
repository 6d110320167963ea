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

// A request at `base` for the (path, attribute) items given, or else for the first attribute of every path.
FIAttributeRequest Request(FI::FIDocument* doc, const std::string& base, const std::vector<const char*>& attributes,
                           const std::vector<std::string>& paths,
                           std::vector<std::pair<int32_t, int32_t>> items = {}) {
    FIAttributeRequest r(doc);
    r.basePath = base;
    for (const char* a : attributes) r.AddAttribute(a);
    for (const std::string& p : paths) r.AddPath(p);
    if (items.empty()) {
        for (int32_t p = 0; p < static_cast<int32_t>(paths.size()); ++p) items.emplace_back(p, 0);
    }
    for (const auto& [p, a] : items) r.AddItem(p, a);
    return r;
}

// The request with 40 + its position as every item's value, to be written.
FIAttributeRequest Written(FIAttributeRequest r) {
    for (size_t i = 0; i < r.items.size(); ++i) {
        r.items[i].value.get()->vt = VT_I4;
        r.items[i].value.get()->lVal = 40 + static_cast<LONG>(i);
    }
    return r;
}

TEST(BatchRead, EmptyBaseResolvesFromTheRoot) {
    DocumentHolder doc(MemoryDocument::Create(MakeTree()));
    // "B.y" does not begin with the root's name: kept as it is. Indexes out of range leave the item empty.
    FIAttributeRequest r = Request(doc.get(), "", {"value", "path"}, {"Top.B.x", "B.y", "Top.B.missing", "Top"},
                                   {{0, 0}, {1, 0}, {2, 0}, {0, 1}, {3, 1}, {1, 99}, {1, -1}});
    EXPECT_EQ(doc->GetRequestAttributes(r), S_OK);
    EXPECT_EQ(Values(r), (std::vector<std::string>{"1", "2.5", "<empty>", "Top.B.x", "Top", "<empty>", "<empty>"}));
    // The after hook is skipped for the path that did not resolve.
    EXPECT_EQ(doc->hooks, "bg0 ag0 bg1 ag1 bg2 bg3 ag3 ");
}

TEST(BatchRead, BasePathAndSubstitution) {
    DocumentHolder doc(MemoryDocument::Create(MakeTree()));
    FIAttributeRequest r = Request(doc.get(), "Top.B", {"path", "type"}, {"x", ""}, {{0, 0}, {1, 0}, {1, 1}});
    EXPECT_EQ(doc->GetRequestAttributes(r), S_OK);
    EXPECT_EQ(Values(r), (std::vector<std::string>{"Top.B.x", "Top.B", "Node"}));

    FIAttributeRequest mapped = Request(doc.get(), "B", {"path"}, {"x", ""});
    mapped.substituteFrom = "Caller.Sim";
    mapped.substituteTo = "B";
    EXPECT_EQ(doc->GetRequestAttributes(mapped), S_OK);
    EXPECT_EQ(Values(mapped), (std::vector<std::string>{"Caller.Sim.x", "Caller.Sim"}));
    // A pair without a "from" path maps nothing.
    FIAttributeRequest halfPair = Request(doc.get(), "Top.B", {"path"}, {"x"});
    halfPair.substituteTo = "Top";
    EXPECT_EQ(doc->GetRequestAttributes(halfPair), S_OK);
    EXPECT_EQ(Values(halfPair), std::vector<std::string>{"Top.B.x"});

    for (const char* bad : {"Top.Nope", "B.x.deeper"}) {
        FIAttributeRequest invalid = Request(doc.get(), bad, {"value"}, {""});
        EXPECT_EQ(doc->GetRequestAttributes(invalid), E_FAIL) << bad;
        EXPECT_EQ(fitest::TakeErrorDescription(), "Invalid base path specified");
    }
}

TEST(BatchWrite, StopsAtTheFirstFailure) {
    DocumentHolder doc(MemoryDocument::Create(MakeTree()));
    MemoryEntry* b = doc->root_->Children()[0].Get();
    FIAttributeRequest r = Written(Request(doc.get(), "Top.B", {"value"}, {"x", "nope", "y"}));
    EXPECT_EQ(doc->SetRequestAttributes(r), E_FAIL);
    EXPECT_EQ(b->Children()[0]->Attr("value")->ToInt(), 40);
    EXPECT_EQ(b->Children()[1]->Attr("value")->ToDouble(), 2.5);
    EXPECT_EQ(doc->hooks, "bs0 as0 bs1 ");

    FIAttributeRequest readOnly = Written(Request(doc.get(), "B", {"type"}, {"x"}));
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
                        {0, 3, "Invalid attribute index"},
                        {1, -1, "Invalid attribute index"},
                        {5, 7, "Invalid path index"}};
    for (const Row& row : rows) {
        FIAttributeRequest r =
            Written(Request(doc.get(), "Top.B", {"value"}, {"x", "y"}, {{0, 0}, {row.path, row.attribute}}));
        EXPECT_EQ(doc->SetRequestAttributes(r), E_INVALIDARG) << row.path << "," << row.attribute;
        EXPECT_EQ(fitest::TakeErrorDescription(), row.text);
        EXPECT_EQ(b->Children()[0]->Attr("value")->ToInt(), 1) << "written before the bad tuple was seen";
        EXPECT_EQ(doc->hooks, "");
    }
    // Reads pass over such tuples and leave their value empty.
    FIAttributeRequest read = Request(doc.get(), "Top.B", {"value"}, {"x"}, {{0, 0}, {3, 0}});
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
        return ::Request(doc_.get(), base, {"value"}, paths);
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
    // A pair without a "from" path maps nothing: the delegate is told the path as it is here, whether the
    // base path or a relative path runs into it.
    for (const auto& [base, path] : {std::pair{"Top.Ext.inner", "a"}, std::pair{"Top", "Ext.inner.a"}}) {
        FIAttributeRequest halfPair = Request(base, {path});
        halfPair.substituteTo = "Top";
        EXPECT_EQ(doc_->GetRequestAttributes(halfPair), S_OK);
        EXPECT_EQ(remote_->log.back().substr(0, 25), "get [Top.Ext|Remote.Sim] ") << base;
    }

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
