// Engine nodes and cursors that a client holds while the engine objects under them go: the hierarchy
// block removed (as the block editing service does), renamed (through the script command), or the whole
// simulation destroyed. Every held node of every kind must answer as a deleted entry does (engine
// attributes empty, children the empty entry, writes refused) and never reach freed engine memory
// (AddressSanitizer reports that); nodes of blocks that stay find their objects again.
#include <string>
#include <vector>

#include "document_support.h"

namespace {

using bdoc_test::DocumentTest;
using bdoc_test::Text;

constexpr uint32_t kValue = 1;

// One held node of each kind below the hierarchy block SECTION (and the solvers, which go with the
// simulation only), and nodes of blocks without a name, in SECTION and after it in the flowsheet.
struct HeldKind {
    const char* path;
    bool goesWithSection;  // false: only the simulation's end takes it away
    // Where a node that stays is found once SECTION is removed, when that moves it (a block without a
    // name is named by its position).
    const char* afterRemoval = nullptr;
};
constexpr HeldKind kHeldKinds[] = {
    {"Top.appModel.Blocks.SECTION", true},                             // hierarchy block
    {"Top.appModel.Blocks.SECTION.Blocks", true},                      // its block list
    {"Top.appModel.Blocks.SECTION.Parameters", true},                  // its parameter list
    {"Top.appModel.Blocks.SECTION.Connections", true},                 // its connection list
    {"Top.appModel.Blocks.SECTION.Connections.C3", true},              // connection
    {"Top.appModel.Blocks.SECTION.Blocks.\"SECTION.HTR\"", true},                  // block
    {"Top.appModel.Blocks.SECTION.Blocks.\"SECTION.HTR\".Variables", true},        // variable list
    {"Top.appModel.Blocks.SECTION.Blocks.\"SECTION.HTR\".Variables.DUTY", true},   // variable
    {"Top.appModel.Blocks.SECTION.Blocks.\"SECTION.HTR\".Equations", true},        // equation list
    {"Top.appModel.Blocks.SECTION.Blocks.\"SECTION.HTR\".Parameters", true},       // parameter list
    {"Top.appModel.Blocks.SECTION.Blocks.\"SECTION.HTR\".Parameters.PDROP", true}, // parameter
    {"Top.appModel.Blocks.SECTION.Blocks.\"SECTION.HTR\".Ports", true},            // port list
    {"Top.appModel.Blocks.SECTION.Blocks.\"SECTION.HTR\".Ports.IN", true},         // port
    {"Top.appModel.Blocks.SECTION.Blocks.\"SECTION.HTR\".Ports.IN.FIN", true},     // variable reached through a port
    {"Top.appModel.Blocks.MIX.Equations.MASS", false},                 // equation
    {"Top.appModel.Parameters", false},                                // global parameter list
    {"Top.appModel.Parameters.MAXTEMP", false},                        // global parameter
    {"Top.appModel.Solvers", false},                                   // solver list
    {"Top.appModel.Solvers.MAIN", false},                              // solver parameter list
    {"Top.appModel.Solvers.MAIN.MAXITER", false},                      // solver parameter
    {"Top.appModel.Blocks.SECTION.Blocks.\"#2\"", true},                          // block without a name
    {"Top.appModel.Blocks.SECTION.Blocks.\"#2\".Variables.S", true},              // its variable
    // A hierarchy without a name after SECTION, and TAIL after it: once SECTION is removed, TAIL stands
    // at the position these nodes were reached by.
    {"Top.appModel.Blocks.\"#4\"", false, "Top.appModel.Blocks.\"#3\""},
    {"Top.appModel.Blocks.\"#4\".Blocks", false, "Top.appModel.Blocks.\"#3\".Blocks"},
    {"Top.appModel.Blocks.\"#4\".Parameters", false, "Top.appModel.Blocks.\"#3\".Parameters"},
    {"Top.appModel.Blocks.\"#4\".Blocks.\"#0\"", false, "Top.appModel.Blocks.\"#3\".Blocks.\"#0\""},
    {"Top.appModel.Blocks.\"#4\".Blocks.\"#0\".Variables", false,
     "Top.appModel.Blocks.\"#3\".Blocks.\"#0\".Variables"},
    {"Top.appModel.Blocks.\"#4\".Blocks.\"#0\".Variables.U", false,
     "Top.appModel.Blocks.\"#3\".Blocks.\"#0\".Variables.U"},
    {"Top.appModel.Blocks.\"#4\".Blocks.INNER.Variables.V", false,
     "Top.appModel.Blocks.\"#3\".Blocks.INNER.Variables.V"},
};

// Cursors held open on a child of each list kind, positioned past their first child.
constexpr const char* kHeldCursors[] = {
    "Top.appModel.Blocks",
    "Top.appModel.Blocks.SECTION.Blocks",
    "Top.appModel.Blocks.SECTION.Connections",
    "Top.appModel.Blocks.SECTION.Blocks.\"SECTION.HTR\".Variables",
    "Top.appModel.Blocks.SECTION.Blocks.\"SECTION.HTR\".Parameters",
    "Top.appModel.Blocks.SECTION.Blocks.\"SECTION.HTR\".Ports",
    "Top.appModel.Blocks.SECTION.Blocks.\"SECTION.HTR\".Ports.IN",
    "Top.appModel.Solvers.MAIN",
};

enum class Change { RemoveSection, RenameSection, DestroySimulation };

std::string ChangeName(const ::testing::TestParamInfo<Change>& info) {
    switch (info.param) {
        case Change::RemoveSection: return "BlockRemoved";
        case Change::RenameSection: return "BlockRenamed";
        default: return "SimulationDestroyed";
    }
}

// Everything a client can ask of an entry: names, types, every attribute of the dictionary, the
// validity of each, a write, and the children with their own names and types. Returns whether any
// engine attribute still answered, and whether a write was accepted.
struct Probe {
    bool engineAnswered = false;
    bool writeAccepted = false;
    std::vector<std::string> childTypes;
};

Probe ProbeEntry(FI::FIDocument* doc, const FI::EntryHandle& entry) {
    Probe probe;
    FIValue text;
    entry->GetName(text);
    entry->GetTypeName(text);
    entry->IsLeaf();
    entry->HasChildren();
    for (const auto& [name, id] : doc->AttributeDictionary()) {
        entry->IsAttributeValid(doc, name.c_str(), id);
        FIValue value;
        entry->GetAttribute(name.c_str(), id, value);
        // The generic attributes (name, type, leaf, children, path, lists) need no engine object.
        const bool generic = id == 0 || id == 9 || id == 10 || id == 16 || (id >= 17 && id <= 19) ||
                             (id >= 27 && id <= 33);
        if (!generic && !value.IsEmpty() && id != 6 && id != 7) probe.engineAnswered = true;
    }
    FIError error;
    entry->SetAttribute("value", kValue, FIValue("1"), error);
    probe.writeAccepted = error.IsEmpty();
    FI::CursorHandle cursor;
    entry->CreateCursor(cursor);
    for (bool more = cursor.First(); more && probe.childTypes.size() < 50; more = cursor.Next()) {
        FI::EntryHandle child;
        cursor.CurrentEntry(child);
        FIValue type;
        child->GetTypeName(type);
        probe.childTypes.push_back(Text(type));
    }
    return probe;
}

// What an entry answers without being changed: its name, type, every attribute of the dictionary and
// its children's names.
std::vector<std::string> Snapshot(FI::FIDocument* doc, const FI::EntryHandle& entry) {
    std::vector<std::string> seen{bdoc_test::NameOf(entry), bdoc_test::TypeOf(entry)};
    for (const auto& [name, id] : doc->AttributeDictionary()) {
        FIValue value;
        entry->GetAttribute(name.c_str(), id, value);
        seen.push_back(name + "=" + Text(value));
    }
    for (const std::string& child : bdoc_test::ChildNames(entry)) seen.push_back("child " + child);
    return seen;
}

class HeldNodes : public DocumentTest, public ::testing::WithParamInterface<Change> {
protected:
    std::string ModelText() const override { return bdoc_test::PlantWithUnnamedBlocksText(); }
    void Apply(Change change) {
        switch (change) {
            case Change::RemoveSection: ASSERT_EQ(sim_->GetFlowsheet()->RemoveBlock(ZEQString("SECTION")), 0); break;
            case Change::RenameSection: ASSERT_EQ(sim_->ExecuteCommand("rename SECTION SEC2\n"), 0); break;
            case Change::DestroySimulation: sim_.reset(); break;
        }
    }
};

TEST_P(HeldNodes, EveryNodeKindAnswersAsDeletedOnceItsEngineObjectIsGone) {
    std::vector<FI::EntryHandle> held;
    for (const HeldKind& kind : kHeldKinds) {
        held.push_back(At(kind.path));
        ASSERT_FALSE(held.back().IsNull()) << kind.path;
    }
    // A variable of a block that stays, read by name later: the removal moves its index.
    FI::EntryHandle stays = At("Top.appModel.Blocks.PROD.Variables.T");
    FIValue before;
    stays->GetAttribute("value", kValue, before);
    EXPECT_DOUBLE_EQ(before.ToDouble(), 25);

    Apply(GetParam());

    for (size_t i = 0; i < held.size(); ++i) {
        const HeldKind& kind = kHeldKinds[i];
        const bool gone = kind.goesWithSection || GetParam() == Change::DestroySimulation;
        if (!gone) {
            // The node reaches its own object: it answers as the entry found there now does.
            const bool moved = GetParam() == Change::RemoveSection && kind.afterRemoval != nullptr;
            EXPECT_EQ(Snapshot(doc_, held[i]), Snapshot(doc_, At(moved ? kind.afterRemoval : kind.path))) << kind.path;
        }
        Probe probe = ProbeEntry(doc_, held[i]);
        if (!gone) {
            EXPECT_TRUE(probe.engineAnswered || !probe.childTypes.empty()) << kind.path << " still stands";
            continue;
        }
        EXPECT_FALSE(probe.engineAnswered) << kind.path;
        EXPECT_FALSE(probe.writeAccepted) << kind.path;
        for (const std::string& type : probe.childTypes) EXPECT_EQ(type, "EmptyNode") << kind.path;
    }

    FIValue after;
    stays->GetAttribute("value", kValue, after);
    if (GetParam() == Change::DestroySimulation) {
        EXPECT_TRUE(after.IsEmpty());
    } else {
        EXPECT_DOUBLE_EQ(after.ToDouble(), 25) << "the variable is found again by its name";
    }
}

TEST_P(HeldNodes, OpenCursorsAndTheirClonesGiveNamesAndEntriesOnlyOfWhatIsStillThere) {
    std::vector<FI::CursorHandle> cursors;
    for (const char* path : kHeldCursors) {
        FI::EntryHandle list = At(path);
        ASSERT_FALSE(list.IsNull()) << path;
        FI::CursorHandle cursor;
        list->CreateCursor(cursor);
        ASSERT_TRUE(cursor.First()) << path;
        cursor.Next();
        cursors.push_back(cursor);
    }

    Apply(GetParam());

    for (size_t i = 0; i < cursors.size(); ++i) {
        const std::string path = kHeldCursors[i];
        const bool whole = path == "Top.appModel.Blocks";  // the flowsheet's list outlives the section
        const bool gone = GetParam() == Change::DestroySimulation || (!whole && path.find("Solvers") == std::string::npos);
        FI::CursorHandle clone(cursors[i]->Clone());
        for (FI::CursorHandle* c : {&cursors[i], &clone}) {
            for (bool more = c->First(); more; more = c->Next()) {
                FIValue name;
                c->CurrentName(name);
                FI::EntryHandle entry;
                c->CurrentEntry(entry);
                Probe probe = ProbeEntry(doc_, entry);
                if (gone) {
                    EXPECT_FALSE(probe.engineAnswered) << path << " " << Text(name);
                    EXPECT_FALSE(probe.writeAccepted) << path << " " << Text(name);
                }
            }
            EXPECT_FALSE(c->Seek("HTR") && gone) << path;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Changes, HeldNodes,
                         ::testing::Values(Change::RemoveSection, Change::RenameSection, Change::DestroySimulation),
                         ChangeName);

// A block renamed under a held node and renamed back: the node finds its block again.
TEST_F(DocumentTest, ABlockRenamedAwayAndBackIsFoundAgain) {
    FI::EntryHandle duty = At("Top.appModel.Blocks.SECTION.Blocks.\"SECTION.HTR\".Variables.DUTY");
    FI::EntryHandle block = At("Top.appModel.Blocks.SECTION");
    ASSERT_EQ(sim_->ExecuteCommand("rename SECTION SEC2\n"), 0);
    EXPECT_TRUE(bdoc_test::Attr(duty, kValue).empty());
    EXPECT_EQ(bdoc_test::NameOf(block), "");
    ASSERT_EQ(sim_->ExecuteCommand("rename SEC2 SECTION\n"), 0);
    EXPECT_EQ(bdoc_test::Attr(duty, kValue), "500");
    EXPECT_EQ(bdoc_test::NameOf(block), "SECTION");
}

}  // namespace
