// Blocks without a name in the engine document: paths and monikers through them, written with the
// position names the block lists give them, lead to the entries the tree walk finds.
#include <string>
#include <vector>

#include "document_support.h"

namespace {

using bdoc_test::DocumentTest;
using bdoc_test::Text;

constexpr uint32_t kValue = 1;

class UnnamedBlocksDocument : public DocumentTest {
protected:
    std::string ModelText() const override { return bdoc_test::PlantWithUnnamedBlocksText(); }

    // The entry a cursor walk reaches by the names it lists, one step per name, from the root.
    FI::EntryHandle Walk(const std::vector<std::string>& names) {
        FI::EntryHandle here = doc_->GetRoot();
        for (const std::string& name : names) {
            FI::CursorHandle cursor;
            here->CreateCursor(cursor);
            bool found = false;
            for (bool more = cursor.First(); more && !found; more = cursor.Next()) {
                FIValue current;
                cursor.CurrentName(current);
                if (Text(current) == name) {
                    cursor.CurrentEntry(here);
                    found = true;
                }
            }
            if (!found) return {};
        }
        return here;
    }
};

TEST_F(UnnamedBlocksDocument, PathsAndMonikersThroughUnnamedBlocksReachTheWalkedEntries) {
    EXPECT_EQ(bdoc_test::ChildNames(At("Top.appModel.Blocks")),
              (std::vector<std::string>{"FEED", "MIX", "SECTION", "PROD", "#4", "TAIL"}));
    EXPECT_EQ(bdoc_test::ChildNames(At("Top.appModel.Blocks.SECTION.Blocks")),
              (std::vector<std::string>{"SECTION.HTR", "SECTION.SPL", "#2"}));
    struct Row {
        const char* moniker;
        const char* path;
        std::vector<std::string> walk;
        const char* value;  // of the variable the moniker ends on, or null for a block
    } rows[] = {
        {"#4", "Top.appModel.Blocks.\"#4\"", {"appModel", "Blocks", "#4"}, nullptr},
        {"#4.#0", "Top.appModel.Blocks.\"#4\".Blocks.\"#0\"", {"appModel", "Blocks", "#4", "Blocks", "#0"}, nullptr},
        {"#4.#0.U", "Top.appModel.Blocks.\"#4\".Blocks.\"#0\".Variables.U",
         {"appModel", "Blocks", "#4", "Blocks", "#0", "Variables", "U"}, "7"},
        {"#4.INNER.V", "Top.appModel.Blocks.\"#4\".Blocks.INNER.Variables.V",
         {"appModel", "Blocks", "#4", "Blocks", "INNER", "Variables", "V"}, "8"},
        {"SECTION.#2.S", "Top.appModel.Blocks.SECTION.Blocks.\"#2\".Variables.S",
         {"appModel", "Blocks", "SECTION", "Blocks", "#2", "Variables", "S"}, "11"},
        {"TAIL.W", "Top.appModel.Blocks.TAIL.Variables.W", {"appModel", "Blocks", "TAIL", "Variables", "W"}, "9"},
    };
    for (const Row& row : rows) {
        FIValue path;
        ASSERT_EQ(doc_->ResolveMoniker(row.moniker, path), S_OK) << row.moniker;
        EXPECT_EQ(Text(path), row.path) << row.moniker;
        FI::EntryHandle byPath = At(row.path);
        FI::EntryHandle walked = Walk(row.walk);
        ASSERT_FALSE(byPath.IsNull()) << row.path;
        ASSERT_FALSE(walked.IsNull()) << row.path;
        EXPECT_EQ(bdoc_test::NameOf(byPath), row.walk.back()) << row.path;
        EXPECT_EQ(bdoc_test::TypeOf(byPath), bdoc_test::TypeOf(walked)) << row.path;
        EXPECT_EQ(bdoc_test::ChildNames(byPath), bdoc_test::ChildNames(walked)) << row.path;
        if (row.value != nullptr) {
            EXPECT_EQ(bdoc_test::Attr(byPath, kValue), row.value) << row.path;
            EXPECT_EQ(bdoc_test::Attr(walked, kValue), row.value) << row.path;
        }
    }
    // The same monikers through the document's COM face.
    bdoc_test::ScopedArray monikers;
    bdoc_test::ScopedArray paths(bdoc_test::Texts({"#4.#0.U", "#5", "SECTION.#2.S"}));
    ASSERT_EQ(face_->GetMonikers(paths.get(), monikers.Receive()), S_OK);
    EXPECT_EQ(bdoc_test::AsText(monikers.At(0)), "Top.appModel.Blocks.\"#4\".Blocks.\"#0\".Variables.U");
    EXPECT_EQ(monikers.At(1).vt, VT_EMPTY);
    EXPECT_EQ(bdoc_test::AsText(monikers.At(2)), "Top.appModel.Blocks.SECTION.Blocks.\"#2\".Variables.S");
}

TEST_F(UnnamedBlocksDocument, PositionNamesOfNamedBlocksOrPastTheEndResolveNothing) {
    // TAIL stands at 5 and HTR at 0 in SECTION: both have names. "#04" is not how the list writes 4.
    for (const char* moniker : {"#5", "#6", "#99999999999999999999", "#04", "#-1", "#", "#4x", "SECTION.#0",
                                "#4.#1", "#4.U", "SECTION.HTR.#2"}) {
        FIValue path;
        EXPECT_EQ(doc_->ResolveMoniker(moniker, path), E_FAIL) << moniker;
    }
}

}  // namespace
