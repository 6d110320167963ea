// Held variable, equation and port nodes, and member cursors, used while blocks listed before their block
// come and go: the engine renumbers the members each time. Every read answers for the node's own member,
// never for the one that took its number; every unit taken for a write is its own variable's.
#include <zeq_objects.h>
#include <zeq_records.h>

#include <atomic>
#include <cmath>
#include <string>
#include <thread>
#include <vector>

#include "modelfile.h"
#include "zeq_testing.h"

#include "nodes_support.h"

namespace nodes_test {
namespace {

using namespace FI::attr;
using Names = std::vector<std::string>;

// A hierarchy H, and after it a block V whose variables and equations each carry numbers of their own.
constexpr const char* kModel = R"(model MOVES
library STANDARD
hierarchy H
  block K
    var X 1
  end
end
block V
  var A 101 lower=-101 upper=1101 ptype=TEMPERATURE uom=C
  var B 102 lower=-102 upper=1102 ptype=TEMPERATURE uom=K
  var C 103 lower=-103 upper=1103
  eqn EA : A = 1
  eqn EB : B = 2
  eqn EC : C = 3
  port P IN vars="A,B,C"
end
)";

const Names kVariables = {"A", "B", "C"};
const Names kEquations = {"EA", "EB", "EC"};

// The numbers variable i (from 0) of V carries: value, lower and upper bound.
double Own(uint32_t id, size_t i) {
    const double n = 101 + static_cast<double>(i);
    return id == kValue ? n : id == kLowerLimit ? -n : n + 1000;
}
// The scale given to equation i.
double OwnScale(size_t i) { return 11 + static_cast<double>(i); }

class RenumberedNodes : public ::testing::Test {
protected:
    void SetUp() override {
        zeq::ModelDef def;
        std::string error;
        ASSERT_TRUE(zeq::ParseModel(kModel, def, error)) << error;
        sim_ = std::make_unique<zeq::Simulation>();
        sim_->Build(def);
        flowsheet_ = sim_->GetFlowsheet();
        hierarchy_ = flowsheet_->FindBlock("H")->GetSubContainer(flowsheet_);
        ASSERT_NE(hierarchy_, nullptr);
        blocks_ = FI::CreateBlocksNode(nullptr, FIValue("Blocks"), flowsheet_);
        for (size_t i = 0; i < kEquations.size(); ++i) {
            ZEQEquationData record;
            record.SetMask(EA_SCALE, 0);
            const int index = flowsheet_->FindEquationIndex(("V." + kEquations[i]).c_str());
            ASSERT_TRUE(record.Load(flowsheet_, nullptr, index));
            ASSERT_TRUE(record.SetValue(EA_SCALE, OwnScale(i)));
            ASSERT_EQ(record.Commit(flowsheet_, nullptr, index, true), 0);
        }
    }
    void TearDown() override {
        blocks_.Reset();
        sim_.reset();
    }
    FI::EntryHandle At(const std::string& path) const { return PlantNodes::At(blocks_, path.c_str()); }

    // Adds a heater to H, or takes it away again: V's members move up by six, or back down.
    void Move() {
        if (added_) {
            ASSERT_EQ(hierarchy_->RemoveBlock(ZEQString("N")), 0);
        } else {
            ASSERT_EQ(flowsheet_->GetEditor()->AddBlock(hierarchy_, "N", "HEATER", nullptr), 0);
        }
        added_ = !added_;
    }
    // Moves V's members when the next member record load starts: between a node's finding its member's
    // number and its loading the member.
    void MoveAtNextLoad() {
        zeq::testing::BeforeNextMemberLoad(*sim_, [this] { Move(); });
    }

    static std::string Name(const FI::EntryHandle& entry) {
        FIValue out;
        entry->GetName(out);
        return out.ToStdString();
    }
    // A number attribute; NaN when it answered none.
    static double Number(const FI::EntryHandle& entry, uint32_t id) {
        const FIValue value = PlantNodes::Get(entry, id);
        return value.IsNumber() ? value.ToDouble() : std::nan("");
    }
    double EngineValue(const char* variable) const {
        ZEQVariableData record;
        record.SetMask(VA_VALUE, 0);
        double value = std::nan("");
        if (!record.Load(flowsheet_, nullptr, flowsheet_->FindIndex(variable), true)) return value;
        record.GetValue(VA_VALUE, value);
        return value;
    }

    std::unique_ptr<zeq::Simulation> sim_;
    ZEQEOCntr* flowsheet_ = nullptr;
    ZEQEOCntr* hierarchy_ = nullptr;
    FI::EntryHandle blocks_;
    bool added_ = false;
};

TEST_F(RenumberedNodes, VariableAndEquationReadsAnswerForTheirOwnMember) {
    for (int round = 0; round < 2; ++round) {  // members moving up, then down
        for (size_t i = 0; i < kVariables.size(); ++i) {
            FI::EntryHandle variable = At("V.Variables." + kVariables[i]);
            ASSERT_FALSE(variable.IsNull());
            for (uint32_t id : {kValue, kLowerLimit, kUpperLimit}) {
                MoveAtNextLoad();
                EXPECT_EQ(Number(variable, id), Own(id, i)) << kVariables[i] << " attribute " << id;
            }
        }
        for (size_t i = 0; i < kEquations.size(); ++i) {
            FI::EntryHandle equation = At("V.Equations." + kEquations[i]);
            ASSERT_FALSE(equation.IsNull());
            MoveAtNextLoad();
            EXPECT_EQ(Number(equation, kScale), OwnScale(i)) << kEquations[i];
        }
    }
}

// A cursor names and makes the member at its position; a node made for one member is never named, or
// anchored, after another.
TEST_F(RenumberedNodes, MemberAndPortCursorsNameAndMakeTheMemberAtTheirPosition) {
    for (const char* path : {"V.Variables", "V.Ports.P", "V.Equations"}) {
        const bool equations = std::string(path) == "V.Equations";
        const Names& names = equations ? kEquations : kVariables;
        FI::EntryHandle list = At(path);
        ASSERT_FALSE(list.IsNull()) << path;
        FI::CursorHandle cursor;
        list->CreateCursor(cursor);
        size_t i = 0;
        for (bool more = cursor.First(); more; more = cursor.Next(), ++i) {
            ASSERT_LT(i, names.size()) << path;
            FIValue name;
            MoveAtNextLoad();
            cursor.CurrentName(name);
            EXPECT_EQ(name.ToStdString(), names[i]) << path;
            FI::EntryHandle member;
            MoveAtNextLoad();
            cursor.CurrentEntry(member);
            EXPECT_EQ(Name(member), names[i]) << path;
            // Read with the numbering steady: the node stands for the member it was made for.
            EXPECT_EQ(Number(member, equations ? kScale : kValue), equations ? OwnScale(i) : Own(kValue, i)) << path;
        }
        EXPECT_EQ(i, names.size()) << path;
    }
}

// The units a write converts from, and the physical type a unit write is checked against, are the node's
// own variable's.
TEST_F(RenumberedNodes, AWriteTakesTheUnitsOfItsOwnVariable) {
    FI::EntryHandle a = At("V.Variables.A");
    ASSERT_FALSE(a.IsNull());
    UnitsDisplay kelvin("K");
    // 300 K written to A in C, then to A in F once its unit was changed.
    const char* const units[] = {"C", "F"};
    const double shown[] = {26.85, 80.33};
    for (int round = 0; round < 2; ++round) {
        {
            DisplayScope scope(a.Get(), &kelvin);
            MoveAtNextLoad();
            EXPECT_EQ(PlantNodes::Set(a, kValue, FIValue(300.0), "value"), "");
        }
        EXPECT_NEAR(EngineValue("V.A"), shown[round], 1e-9) << "round " << round;
        MoveAtNextLoad();
        EXPECT_EQ(PlantNodes::Set(a, kUom, FIValue(units[1 - round]), "uom"), "") << "round " << round;
        EXPECT_EQ(PlantNodes::Text(a, kUom), units[1 - round]);
        EXPECT_EQ(EngineValue("V.B"), 102) << "no other variable changed";
    }
}

// Readers on three threads while this one adds and removes a block before V, each change falling among
// reads: every answer is the reading node's own, or a cursor's member at its position.
TEST_F(RenumberedNodes, HeldNodesReadWhileAnotherThreadMovesTheirMembersAnswerForTheirOwn) {
    std::vector<FI::EntryHandle> variables;
    std::vector<FI::EntryHandle> equations;
    for (const std::string& v : kVariables) variables.push_back(At("V.Variables." + v));
    for (const std::string& e : kEquations) equations.push_back(At("V.Equations." + e));
    FI::EntryHandle list = At("V.Variables");
    FI::EntryHandle port = At("V.Ports.P");
    ASSERT_FALSE(list.IsNull() || port.IsNull());
    std::atomic<bool> stop{false};
    std::atomic<int> wrong{0};
    std::atomic<int> reads{0};
    std::vector<std::thread> readers;
    for (int t = 0; t < 3; ++t) {
        readers.emplace_back([&, t] {
            FI::CursorHandle cursor;
            (t == 1 ? port : list)->CreateCursor(cursor);
            while (!stop.load()) {
                for (size_t i = 0; i < variables.size(); ++i) {
                    for (uint32_t id : {kValue, kLowerLimit, kUpperLimit}) {
                        if (Number(variables[i], id) != Own(id, i)) wrong.fetch_add(1);
                    }
                    if (Number(equations[i], kScale) != OwnScale(i)) wrong.fetch_add(1);
                }
                size_t i = 0;
                for (bool more = cursor.First(); more; more = cursor.Next(), ++i) {
                    FIValue name;
                    cursor.CurrentName(name);
                    FI::EntryHandle member;
                    cursor.CurrentEntry(member);
                    if (i >= kVariables.size() || name.ToStdString() != kVariables[i] ||
                        Name(member) != kVariables[i] || Number(member, kValue) != Own(kValue, i)) {
                        wrong.fetch_add(1);
                    }
                }
                reads.fetch_add(1);
            }
        });
    }
    for (int i = 0; i < 400; ++i) {
        const int before = reads.load();
        while (reads.load() < before + 2) std::this_thread::yield();
        Move();
    }
    stop = true;
    for (std::thread& reader : readers) reader.join();
    EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
}  // namespace nodes_test
