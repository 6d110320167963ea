#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "browse/iterator.h"
#include "browse/reference.h"
#include "browse/request.h"
#include "support/error_info.h"
#include "support/memory_document.h"

using fitest::DocumentHolder;
using fitest::MemoryDocument;
using fitest::MemoryEntry;
using fitest::MemoryHandle;

namespace {

// Top
//   Blocks: B1 {T=3, P=10}, B2 {T=5}, B3 {T="hot"}
//   Blocks: X
//   "a.b": c
//   v = 3.0 (leaf)
MemoryHandle MakeTree() {
    MemoryHandle top = MemoryEntry::Make("Top", "Top");
    MemoryEntry* blocks = top->Add("Blocks", "Block List");
    MemoryEntry* b1 = blocks->Add("B1", "Block");
    b1->AddLeaf("T", FIValue(3));
    b1->AddLeaf("P", FIValue(10));
    blocks->Add("B2", "Block")->AddLeaf("T", FIValue(5));
    blocks->Add("B3", "Block")->AddLeaf("T", FIValue("hot"));
    top->Add("Blocks", "Block List")->Add("X");
    top->Add("a.b")->Add("c");
    top->AddLeaf("v", FIValue(3.0));
    return top;
}

class IteratorTest : public ::testing::Test {
protected:
    IteratorTest() : doc_(MemoryDocument::Create(MakeTree())), it_(doc_.get()) {}

    std::string Path() {
        FIValue p;
        it_.GetPath(p);
        return p.ToStdString();
    }
    std::string Name() {
        FIValue n;
        it_.GetName(n);
        return n.ToStdString();
    }
    std::string Type() {
        FIValue t;
        it_.Current()->GetTypeName(t);
        return t.ToStdString();
    }
    MemoryEntry* Blocks() { return doc_->root_->Children()[0].Get(); }

    DocumentHolder doc_;
    FI::FIIteratorBase it_;
};

TEST_F(IteratorTest, StartsAtRootHoldsTheDocumentAndClonesMoveIndependently) {
    EXPECT_EQ(it_.Depth(), 0u);
    EXPECT_EQ(Name(), "Top");
    EXPECT_EQ(doc_->RefCount(), 2u);
    {
        FI::FIIteratorBase copy(it_);
        EXPECT_EQ(doc_->RefCount(), 3u);
    }
    EXPECT_EQ(doc_->RefCount(), 2u);
    FI::FIIteratorBase none;
    EXPECT_FALSE(none.MoveDown(0));
    EXPECT_FALSE(none.MoveToChild("Blocks"));
    EXPECT_FALSE(none.HasChildren());
    EXPECT_FALSE(none.IsLink());
    VARIANT v;
    VariantInit(&v);
    EXPECT_EQ(none.GetAttribute("value", &v), E_FAIL);

    // A clone takes the display's units along, a copy does not; each moves on its own.
    ASSERT_TRUE(it_.MoveTo("Blocks.B1"));
    it_.GetDisplay().SetUnits(FIValue("bar"));
    std::unique_ptr<FI::FIIteratorBase> clone(it_.Clone());
    FIValue units;
    clone->GetDisplay().GetUnits(units);
    EXPECT_STREQ(units.GetString(), "bar");
    FI::FIIteratorBase copy(it_);
    copy.GetDisplay().GetUnits(units);
    EXPECT_TRUE(units.IsEmpty());

    ASSERT_TRUE(it_.MoveNextSibling());  // the source moves on to B2 ...
    ASSERT_TRUE(clone->MoveNextSibling());  // ... and the clone, from B1, also reaches B2
    FIValue name;
    clone->GetName(name);
    EXPECT_STREQ(name.GetString(), "B2");
}

TEST_F(IteratorTest, DownAcrossAndUp) {
    EXPECT_FALSE(it_.MoveUp());
    EXPECT_FALSE(it_.MoveNextSibling());
    EXPECT_TRUE(it_.IsFirstSibling());
    EXPECT_TRUE(it_.IsLastSibling());

    ASSERT_TRUE(it_.MoveToChild("Blocks"));
    ASSERT_TRUE(it_.MoveDown(1));
    EXPECT_EQ(Name(), "B2");
    ASSERT_TRUE(it_.MoveToChild("T"));
    EXPECT_FALSE(it_.MoveDown(0));  // a leaf has no children
    EXPECT_TRUE(it_.MoveUp());
    EXPECT_FALSE(it_.MoveDown(1));  // B2 has one child
    EXPECT_EQ(it_.Depth(), 2u);
    EXPECT_TRUE(it_.MoveUp());
    EXPECT_TRUE(it_.MoveToFirstChild());
    EXPECT_TRUE(it_.IsFirstSibling());
    EXPECT_FALSE(it_.IsLastSibling());
    EXPECT_TRUE(it_.MoveNextSibling());
    EXPECT_TRUE(it_.MoveNextSibling());
    EXPECT_EQ(Name(), "B3");
    EXPECT_FALSE(it_.MoveNextSibling());  // past the last child: the empty entry, same depth
    EXPECT_EQ(Type(), "EmptyNode");
    EXPECT_EQ(it_.Depth(), 2u);
    EXPECT_TRUE(it_.IsLastSibling());
    EXPECT_TRUE(it_.MoveToFirstSibling());
    EXPECT_EQ(Name(), "B1");
    EXPECT_TRUE(it_.MoveUp());
    EXPECT_EQ(Name(), "Blocks");
    EXPECT_TRUE(it_.HasChildren());
    EXPECT_FALSE(it_.MoveToChild("nope"));
    EXPECT_EQ(Name(), "Blocks");
}

TEST_F(IteratorTest, MoveToPaths) {
    struct Row {
        const char* path;
        bool moves;
        const char* name;
        uint32_t depth;
    };
    const Row rows[] = {
        {"Blocks.#1", true, "B2", 2},
        {"Blocks#1", true, "Blocks", 1},
        {"Blocks#1.X", true, "X", 2},
        {"Blocks#2", false, "Top", 0},
        {"Blokcs", false, "Top", 0},
        {"Blocks.B1.Nope", false, "Top", 0},  // a failed walk returns all the way
        {"Blocks.*[T=5]", true, "B2", 2},
        {"Blocks.*[T=\"5.0\"]", true, "B2", 2},
        {"Blocks.*[T=5.0]", false, "Top", 0},  // unquoted, the full stop ends the compared text
        {"Blocks.*[T=5x]", false, "Top", 0},
        {"Blocks.*[T=hot]", true, "B3", 2},
        {"Blocks.*![T=3]", true, "B2", 2},
        {"Blocks.*[T=99]|[T=5]", true, "B2", 2},
        {"Blocks.*[T=3]&[P=10]", true, "B1", 2},
        {"Blocks.*[T=3]&[P=11]|[T=hot]", true, "B3", 2},  // or binds after and, from the left
        {"Blocks.*[T=5]&[P]", false, "Top", 0},
        {"Blocks.*[P]", true, "B1", 2},
        {"Blocks.*[Q]", false, "Top", 0},
        {"Blocks.*#1[T]", true, "B2", 2},
        {"Blocks.#0[T=5]", true, "B2", 2},
        {"Blocks.#1[T=5]", false, "Top", 0},
        {"\"a.b\".c", true, "c", 2},
        {"", true, "Top", 0},
        {"Blocks#", false, "Top", 0},  // a parse error does not move
        {"Blocks.B2(value)", true, "B2", 2},
    };
    for (const Row& r : rows) {
        FI::FIIteratorBase it(doc_.get());
        bool moved = it.MoveTo(r.path);
        FIValue name;
        it.GetName(name);
        EXPECT_EQ(moved, r.moves) << r.path;
        EXPECT_EQ(name.ToStdString(), r.name) << r.path;
        EXPECT_EQ(it.Depth(), r.depth) << r.path;
    }
}

// A predicate compares a numeric attribute as a number (the compared text converted) and a text attribute
// as text, even when the text reads as a number.
TEST(IteratorPredicates, NumbersCompareAsNumbersAndTextsAsTexts) {
    MemoryHandle top = MemoryEntry::Make("Top", "Top");
    MemoryEntry* codes = top->Add("Codes");
    codes->Add("A")->AddLeaf("T", FIValue("03"), "Text");
    codes->Add("B")->AddLeaf("T", FIValue(3));
    codes->Add("C")->AddLeaf("T", FIValue(0));
    codes->Add("D")->AddLeaf("T", FIValue("x"), "Text");
    DocumentHolder doc(MemoryDocument::Create(top));
    const std::pair<const char*, const char*> rows[] = {
        {"Codes.*[T=3]", "B"},        {"Codes.*[T=\"3.0\"]", "B"}, {"Codes.*[T=03]", "A"},
        {"Codes.A[T=3]", nullptr},    {"Codes.*[T=0]", "C"},       {"Codes.*[T=x]", "D"},
        {"Codes.*[T=3x]", nullptr},  // a text that is not a number is no number made of its leading digits
        // Blanks around a decimal number are allowed; hexadecimal, infinities and not-a-number are no
        // decimal numbers, nor is a sign or a point alone.
        {"Codes.*[T=\"3 \"]", "B"},  {"Codes.*[T=\" 3\"]", "B"},  {"Codes.*[T=\"+3e0\"]", "B"},
        {"Codes.*[T=\".3e1\"]", "B"}, {"Codes.*[T=\"3.\"]", "B"},   {"Codes.*[T=0x3]", nullptr},
        {"Codes.*[T=\" 0x3 \"]", nullptr}, {"Codes.*[T=inf]", nullptr}, {"Codes.*[T=nan]", nullptr},
        {"Codes.*[T=\"-\"]", nullptr}, {"Codes.*[T=\".\"]", nullptr}, {"Codes.*[T=\"3e\"]", nullptr},
        {"Codes.*[T=\"0.0e-0\"]", "C"},
    };
    for (const auto& [path, name] : rows) {
        FI::FIIteratorBase it(doc.get());
        EXPECT_EQ(it.MoveTo(path), name != nullptr) << path;
        FIValue reached;
        it.GetName(reached);
        EXPECT_EQ(reached.ToStdString(), name != nullptr ? name : "Top") << path;
    }
}

TEST_F(IteratorTest, APathHoldingANulNamesNoEntry) {
    Blocks()->markedChild = "B2";
    for (const std::string& held : {std::string("Blocks.B2\0.T", 12), std::string("Blocks\0.B2", 10)}) {
        FI::FIIteratorBase it(doc_.get());
        EXPECT_FALSE(it.MoveTo(held)) << held.size();
        EXPECT_EQ(it.Depth(), 0u);
        EXPECT_FALSE(it.Select(held)) << held.size();
    }
    EXPECT_TRUE(it_.Select("Blocks.B2"));
}

TEST_F(IteratorTest, EveryPrintedPathWalksBackToItsEntry) {
    // Names that read as path syntax: a delimiter, the wildcard, a count. Bare, "*" and "#1" would reach
    // other children of the same parent.
    MemoryEntry* odd = doc_->root_->Add("odd");
    for (const char* name : {"first", "*", "#1", "a.b", "say \"hi\""}) odd->Add(name);
    struct Row {
        const char* name;
        const char* printed;
    } rows[] = {
        {"first", "Top.odd.first"},
        {"*", "Top.odd.\"*\""},
        {"#1", "Top.odd.\"#1\""},
        {"a.b", "Top.odd.\"a.b\""},
        {"say \"hi\"", "Top.odd.\"say \"\"hi\"\"\""},
    };
    for (const Row& row : rows) {
        FI::FIIteratorBase it(doc_.get());
        ASSERT_TRUE(it.MoveToChild("odd"));
        ASSERT_TRUE(it.MoveToFirstChild());
        auto name = [&it] {
            FIValue n;
            it.GetName(n);
            return n.ToStdString();
        };
        while (name() != row.name) ASSERT_TRUE(it.MoveNextSibling()) << row.name;
        FIValue printed;
        it.GetPath(printed);
        EXPECT_EQ(printed.ToStdString(), row.printed);
        FI::FIIteratorBase again(doc_.get());
        ASSERT_TRUE(again.MoveTo(printed.ToStdString().substr(4))) << row.printed;
        EXPECT_EQ(again.Current().Get(), it.Current().Get()) << row.printed;
    }
}

// A walk that climbs out of one block and into the next names each entry by its own parents, also
// where two siblings share a name.
TEST_F(IteratorTest, PathsFollowAWalkUpAndDown) {
    const std::vector<std::string> expected = {
        "Top",          "Top.Blocks",   "Top.Blocks.B1",   "Top.Blocks.B1.T", "Top.Blocks.B1.P",
        "Top.Blocks.B2", "Top.Blocks.B2.T", "Top.Blocks.B3", "Top.Blocks.B3.T", "Top.Blocks",
        "Top.Blocks.X", "Top.\"a.b\"",  "Top.\"a.b\".c", "Top.v"};
    std::vector<std::string> seen = {Path()};
    for (;;) {
        if (!it_.MoveToFirstChild() && !it_.MoveNextSibling()) {
            bool moved = false;
            while (!moved && it_.MoveUp()) moved = it_.MoveNextSibling();
            if (!moved) break;
        }
        seen.push_back(Path());
    }
    EXPECT_EQ(seen, expected);
    // Up two levels and down again into another block before the path is asked for.
    ASSERT_TRUE(it_.MoveTo("Blocks.B1.T"));
    EXPECT_EQ(Path(), "Top.Blocks.B1.T");
    ASSERT_TRUE(it_.MoveUp() && it_.MoveNextSibling() && it_.MoveToFirstChild());
    EXPECT_EQ(Path(), "Top.Blocks.B2.T");
}

TEST_F(IteratorTest, AttributesSeeTheIteratorsDisplay) {
    ASSERT_TRUE(it_.MoveTo("Blocks.B1.T"));
    MemoryEntry* t = Blocks()->Children()[0]->Children()[0].Get();
    std::string seenUnits;
    std::string seenPath;
    t->onGetAttribute = [&](MemoryEntry& e, const char*) {
        FIValue u;
        FIValue p;
        e.GetDisplay()->GetUnits(u);
        e.GetDisplay()->GetPath(p);
        seenUnits = u.ToStdString();
        seenPath = p.ToStdString();
    };
    it_.GetDisplay().SetUnits(FIValue("kg/h"));
    FIVariant v;
    ASSERT_EQ(it_.GetAttribute("value", v.get()), S_OK);
    EXPECT_EQ(v.get()->vt, VT_I4);
    EXPECT_EQ(v.get()->lVal, 3);
    EXPECT_EQ(seenUnits, "kg/h");
    EXPECT_EQ(seenPath, "Top.Blocks.B1.T");
    EXPECT_EQ(t->GetDisplay(), nullptr);  // restored after the call

    ASSERT_EQ(it_.GetAttribute("path", v.get()), S_OK);
    EXPECT_EQ(nuv::bstr_to_utf8(v.get()->bstrVal), "Top.Blocks.B1.T");

    // Units the entry sets apply to its call only, and a display it installs lasts until the call ends;
    // a nested read of the same entry through another iterator sees that iterator's display.
    FI::FIIteratorBase other(it_);
    other.GetDisplay().SetUnits(FIValue("t/d"));
    struct Replacement : FI::Display {
        void SetUnits(const FIValue&) override {}
        void GetUnits(FIValue& out) override { out.SetString("replaced"); }
        void GetPath(FIValue& out) override { out.Clear(); }
    } replacement;
    std::string nestedUnits;
    std::string replacedUnits;
    t->onGetAttribute = [&](MemoryEntry& e, const char* name) {
        FIValue u;
        if (std::string(name) == "type") {
            e.GetDisplay()->GetUnits(u);
            nestedUnits = u.ToStdString();
            return;
        }
        e.GetDisplay()->SetUnits(FIValue("lb/h"));
        e.GetDisplay()->GetUnits(u);
        seenUnits = u.ToStdString();
        FIVariant inner;
        other.GetAttribute("type", inner.get());
        e.SetDisplay(&replacement);
        e.GetDisplay()->GetUnits(u);
        replacedUnits = u.ToStdString();
    };
    ASSERT_EQ(it_.GetAttribute("value", v.get()), S_OK);
    EXPECT_EQ(seenUnits, "lb/h");
    EXPECT_EQ(nestedUnits, "t/d");
    EXPECT_EQ(replacedUnits, "replaced");
    EXPECT_EQ(t->GetDisplay(), nullptr);
    FIValue units;
    it_.GetDisplay().GetUnits(units);
    EXPECT_EQ(units.ToStdString(), "kg/h");

    // An unknown attribute name reaches the entry with id 42, which answers nothing.
    t->onGetAttribute = nullptr;
    ASSERT_EQ(it_.GetAttribute("Value", v.get()), S_OK);
    EXPECT_EQ(v.get()->vt, VT_EMPTY);
    EXPECT_EQ(t->lastAttributeId, 42u);
    ASSERT_EQ(it_.GetAttribute("description", v.get()), S_OK);
    EXPECT_EQ(t->lastAttributeId, 22u);

    FIVariant eight;
    eight.get()->vt = VT_I4;
    eight.get()->lVal = 8;
    EXPECT_EQ(it_.SetAttribute("value", eight.get()), S_OK);
    EXPECT_EQ(t->Attr("value")->ToInt(), 8);
    t->SetReadOnly(true);
    EXPECT_EQ(it_.SetAttribute("value", eight.get()), FIError::kFailureCode);
    EXPECT_EQ(fitest::TakeErrorDescription(), "Cannot modify attribute value");
}

TEST_F(IteratorTest, SelectAndHasChildAtNeverMove) {
    Blocks()->markedChild = "B2";
    EXPECT_TRUE(it_.Select("Blocks.B2"));
    EXPECT_TRUE(it_.Select("Blocks.*[T=5]"));
    EXPECT_FALSE(it_.Select("Blocks.B1"));  // found, but the cursor does not mark it
    EXPECT_FALSE(it_.Select("Blocks.Nope"));
    EXPECT_FALSE(it_.Select("Blocks#"));
    EXPECT_EQ(it_.Depth(), 0u);
    ASSERT_TRUE(it_.MoveToChild("Blocks"));
    EXPECT_TRUE(it_.HasChildAt(1));
    EXPECT_FALSE(it_.HasChildAt(0));
    EXPECT_FALSE(it_.HasChildAt(3));
    EXPECT_FALSE(it_.HasChildAt(-1));
}

TEST_F(IteratorTest, ReferencesKeepTheirPositionAndSurviveDeletion) {
    ASSERT_TRUE(it_.MoveTo("Blocks.B2"));
    FI::FIReferenceBase* ref = it_.CreateReference();
    ASSERT_TRUE(it_.MoveNextSibling());  // moving the source does not move the reference
    FIValue path;
    ref->GetPath(path);
    EXPECT_STREQ(path.GetString(), "Top.Blocks.B2");
    EXPECT_EQ(ref->Depth(), 2u);

    Blocks()->RemoveChild("B2");  // the reference holds the entry: it stays readable
    FIVariant v;
    EXPECT_EQ(ref->GetAttribute("id", v.get()), S_OK);
    EXPECT_EQ(nuv::bstr_to_utf8(v.get()->bstrVal), "B2");

    FI::FIReferenceBase* twin = ref->Clone();
    std::unique_ptr<FI::FIIteratorBase> independent(ref->CloneIterator());
    ref->MarkDeleted();
    EXPECT_FALSE(twin->IsDeleted());  // the flag is copied at cloning, not shared
    ref->Delete();
    twin->GetName(path);
    EXPECT_STREQ(path.GetString(), "B2");

    FI::FIReferenceBase* gone = twin->Clone();
    gone->MarkDeleted();
    v.Receive()->vt = VT_I4;
    EXPECT_EQ(gone->GetAttribute("id", v.get()), S_OK);
    EXPECT_EQ(v.get()->vt, VT_EMPTY);
    EXPECT_EQ(gone->SetAttribute("value", v.get()), E_FAIL);
    EXPECT_EQ(fitest::TakeErrorDescription(), "Node deleted");
    EXPECT_NE(gone->GetDisplay(), nullptr);
    gone->Delete();
    twin->Delete();
    EXPECT_EQ(independent->Depth(), 2u);
}

}  // namespace
