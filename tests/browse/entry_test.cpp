#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "browse/entry.h"
#include "support/memory_tree.h"

using fitest::LiveEntries;
using fitest::MemoryEntry;
using fitest::MemoryHandle;

namespace {

// Root "R" with children A (with child "x.y" and unnamed), B, and a leaf "v".
MemoryHandle MakeTree() {
    MemoryHandle root = MemoryEntry::Make("R");
    MemoryEntry* a = root->Add("A");
    a->Add("x.y");
    a->Add("q\"t");
    a->Add("");
    root->Add("B")->Add("C");
    root->AddLeaf("v", FIValue(3));
    return root;
}

TEST(FIHandleTest, CountsAndDestroysOnce) {
    int before = LiveEntries();
    {
        FIHandle<MemoryEntry> empty(nullptr);
        FIHandle<MemoryEntry> copy(empty);
        EXPECT_TRUE(copy.IsNull());
        auto* node = new MemoryEntry("n");
        EXPECT_EQ(node->RefCount(), 0u);
        FIHandle<MemoryEntry> h(node);
        EXPECT_EQ(node->RefCount(), 1u);
        FIHandle<MemoryEntry> h2 = h;
        FI::EntryHandle base(h2);  // converts to the entry handle
        EXPECT_EQ(node->RefCount(), 3u);
        FIHandle<MemoryEntry>& alias = h2;
        h2 = alias;  // self-assignment keeps the count
        EXPECT_EQ(node->RefCount(), 3u);
        h2 = empty;
        base.Reset();
        EXPECT_TRUE(base.IsNull());
        EXPECT_EQ(node->RefCount(), 1u);
        EXPECT_EQ(LiveEntries(), before + 1);
    }
    EXPECT_EQ(LiveEntries(), before);
}

TEST(FIHandleTest, AtomicCountsAcrossThreads) {
    MemoryHandle node = MemoryEntry::Make("shared");
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 20000; ++i) {
                MemoryHandle copy(node);
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(node->RefCount(), 1u);
}

TEST(NullObjects, EmptyCursorContextAndEntryAreImmortal) {
    FI::CursorHandle c = FI::GetEmptyCursor();
    for (int i = 0; i < 5; ++i) c->Release();  // an unbalanced release changes nothing
    EXPECT_EQ(c->AddRef(), 1u);
    EXPECT_TRUE(c->IsDone());
    EXPECT_TRUE(c->IsFirst());
    EXPECT_FALSE(c->First());
    EXPECT_FALSE(c->Seek("a"));
    FIValue name("x");
    c->CurrentName(name);
    EXPECT_TRUE(name.IsEmpty());
    FI::CursorHandle clone(c->Clone());
    EXPECT_TRUE(clone.IsDone());
    // A null cursor handle answers the same without an object, and leaves names alone.
    FI::CursorHandle none;
    EXPECT_TRUE(none.IsDone() && none.IsFirst());
    EXPECT_FALSE(none.First() || none.Next() || none.Seek("x") || none.ReservedQuery());
    name.SetString("kept");
    none.CurrentName(name);
    EXPECT_STREQ(name.GetString(), "kept");
    FI::EntryHandle entry(MemoryEntry::Make("e"));
    none.CurrentEntry(entry);
    EXPECT_TRUE(entry.IsNull());

    FI::ContextHandle ctx = FI::GetEmptyContext();
    FI::CursorHandle fromContext;
    ctx->CreateCursor(fromContext);
    EXPECT_EQ(fromContext.Get(), c.Get());
    FIValue element("stale");
    const char* rest = nullptr;
    ctx->SplitPathElement("a.b", element, &rest);
    EXPECT_TRUE(element.IsEmpty());
    EXPECT_STREQ(rest, "a.b");

    FI::EntryHandle empty = FI::GetEmptyEntry();
    FIValue type;
    empty->GetTypeName(type);
    EXPECT_STREQ(type.GetString(), "EmptyNode");
    empty->Release();
    empty->Release();
    EXPECT_EQ(FI::GetEmptyEntry().Get(), empty.Get());
}

const FI::EntryHandle& CustomEmpty() {
    static FI::EntryHandle* h = new FI::EntryHandle(new MemoryEntry("", "EmptyNode"));
    return *h;
}

TEST(NullObjects, RegisteredEmptyEntryFactoryIsUsedPastTheEnd) {
    FI::SetEmptyEntryFactory(&CustomEmpty);
    MemoryHandle root = MakeTree();
    FI::CursorHandle cursor;
    root->CreateCursor(cursor);
    while (cursor.Next()) {
    }
    FI::EntryHandle past;
    cursor.CurrentEntry(past);
    EXPECT_EQ(past.Get(), CustomEmpty().Get());
    FI::SetEmptyEntryFactory(nullptr);
    EXPECT_NE(FI::GetEmptyEntry().Get(), CustomEmpty().Get());
}

TEST(EntryChildren, FoundByNameAndNamedByPosition) {
    MemoryHandle root = MakeTree();
    FI::EntryHandle child;
    root->GetChild(child, "B");
    ASSERT_FALSE(child.IsNull());
    FIValue name;
    child->GetName(name);
    EXPECT_STREQ(name.GetString(), "B");
    root->GetChild(child, "nope");
    EXPECT_TRUE(child.IsNull());
    FI::EntryHandle leaf;
    root->GetChild(leaf, "v");
    leaf->GetChild(child, "anything");
    EXPECT_TRUE(child.IsNull());
    root->throwOnCursor = true;  // an exception from CreateCursor is swallowed
    root->GetChild(child, "B");
    EXPECT_TRUE(child.IsNull());
    root->throwOnCursor = false;

    // A cursor names unnamed children by their position.
    FI::EntryHandle a;
    root->GetChild(a, "A");
    FI::CursorHandle cursor;
    a->CreateCursor(cursor);
    std::vector<std::string> names;
    for (bool more = cursor.First(); more; more = cursor.Next()) {
        FIValue n;
        cursor.CurrentName(n);
        names.push_back(n.ToStdString());
    }
    EXPECT_EQ(names, (std::vector<std::string>{"x.y", "q\"t", "#3"}));
    EXPECT_FALSE(cursor.Next());  // clamps at the end
    EXPECT_TRUE(cursor.IsDone());
}

TEST(EntryFindChild, WalksQuotedAndPlainElements) {
    MemoryHandle root = MakeTree();
    struct Row {
        const char* path;
        const char* found;
        const char* rest;
    };
    const Row rows[] = {
        {"", "R", ""},
        {"B.C", "C", ""},
        {"A.\"x.y\"", "x.y", ""},
        {"A.\"q\"\"t\"", "q\"t", ""},
        {"A.q\"\"\"t\"", "q\"t", ""},  // a quote may appear anywhere in an element
        {"B.nope.C", "B", "nope.C"},
        {"nope", "R", "nope"},
        {"A.\"x.y", "A", "\"x.y"},  // unterminated quote: nothing consumed there
        {"B..C", "B", "C"},         // an empty element stops with the rest after it
        {"B.", "B", ""},
    };
    for (const Row& r : rows) {
        FI::EntryHandle out;
        const char* rest = nullptr;
        root->FindChild(out, r.path, &rest);
        ASSERT_FALSE(out.IsNull()) << r.path;
        FIValue name;
        out->GetName(name);
        EXPECT_STREQ(name.GetString(), r.found) << r.path;
        EXPECT_STREQ(rest, r.rest) << r.path;
    }
    FI::EntryHandle out;
    const char* rest = "unchanged";
    root->FindChild(out, nullptr, &rest);
    EXPECT_EQ(out.Get(), root.Get());
    EXPECT_STREQ(rest, "");
}

TEST(EntryFindChild, SplitterHandlesHighBytesAndEnds) {
    FIValue element;
    const char* rest = nullptr;
    FI::SplitFirstPathElement("\xc3\xa9t\xff.x", element, &rest);
    EXPECT_STREQ(element.GetString(), "\xc3\xa9t\xff");
    EXPECT_STREQ(rest, "x");
    FI::SplitFirstPathElement("\"", element, &rest);
    EXPECT_TRUE(element.IsEmpty());
    EXPECT_STREQ(rest, "\"");
    FI::SplitFirstPathElement("\"\"", element, &rest);
    EXPECT_EQ(element.GetTag(), FIValue::kInlineText);
    EXPECT_STREQ(element.GetString(), "");
    EXPECT_STREQ(rest, "");
}

// The base class's answers; reading, writing and actions through the document are in attributes_test.
TEST(EntryDefaults, AttributesActionsAndServiceProvider) {
    MemoryHandle root = MakeTree();
    MemoryEntry* leaf = root->Children().back().Get();
    struct Row {
        uint32_t id;
        FIValue expected;
    };
    const Row rows[] = {{0, FIValue("v")}, {9, FIValue("v")}, {16, FIValue("v")}, {10, FIValue("Real")},
                        {17, FIValue(1)},  {18, FIValue(0)},   {19, FIValue("v")},  {27, FIValue(0)},
                        {5, FIValue()}};
    for (const Row& r : rows) {
        FIValue out("stale");
        leaf->FIVORNNodeBase::GetAttribute("x", r.id, out);
        EXPECT_EQ(FIValue::Compare(out, r.expected), 0) << r.id;
        EXPECT_EQ(out.GetTag() == FIValue::kEmpty, r.expected.IsEmpty()) << r.id;
    }
    FIValue hasChildren;
    root->FIVORNNodeBase::GetAttribute("has_children", 18, hasChildren);
    EXPECT_EQ(hasChildren.ToInt(), 1);

    for (uint32_t id : {0u, 10u, 17u, 18u, 19u, 28u, 29u}) EXPECT_TRUE(leaf->FIVORNNodeBase::IsAttributeValid("", id));
    for (uint32_t id : {1u, 9u, 30u, 33u, 42u}) EXPECT_FALSE(leaf->FIVORNNodeBase::IsAttributeValid("", id));
    leaf->SetActions({"run"});
    EXPECT_TRUE(leaf->FIVORNNodeBase::IsAttributeValid(nullptr, "", 31));

    FIValue names[2] = {FIValue("a"), FIValue("b")};
    EXPECT_EQ(root->FIVORNNodeBase::GetActions(2, names), 0);
    EXPECT_STREQ(names[0].GetString(), "a");
    FIDocumentNotifyList records;
    root->ValidateAction("run", records);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].kind, FIDocumentNotify::GeneralError);
    EXPECT_EQ(records[0].position1, -1);

    EXPECT_EQ(root->GetServiceProvider(nullptr), E_POINTER);
    auto* provider = reinterpret_cast<IServiceProvider*>(&records);
    EXPECT_EQ(root->GetServiceProvider(&provider), E_NOINTERFACE);
    EXPECT_EQ(provider, nullptr);
}

}  // namespace
