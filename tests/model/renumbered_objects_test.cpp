// Variable and equation wrappers used while blocks before their members come and go: the engine
// renumbers the members and tells the wrappers their new numbers. A use must never take the member that
// stood at the wrapper's number for a moment, even when the wrapper's member moved away and back.

#include <atomic>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "objects_support.h"

namespace {

using objects_test::Text;

class RenumberedObjects : public objects_test::ObjectsTest {
protected:
    void SetUp() override {
        ObjectsTest::SetUp();
        section_ = sim_->GetFlowsheet()->FindBlock("SECTION")->GetSubContainer(sim_->GetFlowsheet());
        ASSERT_NE(section_, nullptr);
        CComPtr<INUVVariableCollection> vars;
        ASSERT_EQ(Block("PROD")->get_Variables(&vars), S_OK);
        ASSERT_EQ(vars->get_Variable(Text("F"), &variable_), S_OK);
        CComPtr<INUVEquationCollection> eqns;
        ASSERT_EQ(Block("PROD")->get_Equations(&eqns), S_OK);
        ASSERT_EQ(eqns->get_Equation(Text("BAL"), &equation_), S_OK);
        ASSERT_EQ(variable_->put_Value(77), S_OK);
    }
    void TearDown() override {
        variable_.Release();
        equation_.Release();
        ObjectsTest::TearDown();
    }
    // A heater added to SECTION moves PROD's members up; its removal moves them back.
    bool AddHeater() { return sim_->GetFlowsheet()->GetEditor()->AddBlock(section_, "X", "HEATER", nullptr) == 0; }
    bool RemoveHeater() { return section_->RemoveBlock(ZEQString("X")) == 0; }
    // During the next member load: PROD's members move up before it finds its member, and back once it has
    // read it, so that the wrappers end at the numbers they started with.
    void MoveAwayAndBackDuringNextLoad() {
        zeq::testing::BeforeNextMemberLoad(*sim_, [this] { ASSERT_TRUE(AddHeater()); });
        zeq::testing::AfterNextMemberLoad(*sim_, [this] { ASSERT_TRUE(RemoveHeater()); });
    }
    std::map<std::string, double> EngineValues() const { return objects_test::EngineVariableValues(sim_->GetFlowsheet()); }

    // Runs `ask` (its count of wrong answers) on three threads while this one adds and removes a block
    // before PROD, each change falling among asks; the wrong answers of all.
    int WrongAnswersWhileMoving(const std::function<int()>& ask) {
        std::atomic<bool> stop{false};
        std::atomic<int> wrong{0};
        std::atomic<int> asked{0};
        std::vector<std::thread> readers;
        for (int t = 0; t < 3; ++t) {
            readers.emplace_back([&] {
                while (!stop.load()) {
                    wrong.fetch_add(ask());
                    asked.fetch_add(1);
                }
            });
        }
        for (int i = 0; i < 300; ++i) {
            const int before = asked.load();
            while (asked.load() < before + 2) std::this_thread::yield();
            if (!AddHeater() || !RemoveHeater()) wrong.fetch_add(1);
        }
        stop = true;
        for (std::thread& reader : readers) reader.join();
        return wrong.load();
    }

    ZEQEOCntr* section_ = nullptr;
    CComPtr<INUVVariable> variable_;
    CComPtr<INUVEquation> equation_;
};

TEST_F(RenumberedObjects, ReadsWhileTheMemberMovesAwayAndBackAnswerForItsOwn) {
    MoveAwayAndBackDuringNextLoad();
    DOUBLE value = 0;
    EXPECT_EQ(variable_->get_Value(&value), S_OK);
    EXPECT_EQ(value, 77);
    MoveAwayAndBackDuringNextLoad();
    CComBSTR name;
    EXPECT_EQ(variable_->get_Name(&name), S_OK);
    EXPECT_EQ(name.ToUtf8(), "PROD.F");
    MoveAwayAndBackDuringNextLoad();
    CComBSTR equation;
    EXPECT_EQ(equation_->get_Name(&equation), S_OK);
    EXPECT_EQ(equation.ToUtf8(), "PROD.BAL");
}

TEST_F(RenumberedObjects, AWriteWhileTheVariableMovesAwayAndBackReachesItOnly) {
    std::map<std::string, double> before = EngineValues();
    MoveAwayAndBackDuringNextLoad();
    ASSERT_EQ(variable_->put_Value(55), S_OK);
    std::map<std::string, double> after = EngineValues();
    EXPECT_EQ(after["PROD.F"], 55);
    after["PROD.F"] = before["PROD.F"];
    EXPECT_EQ(before, after) << "no other variable changed";
}


// A values row matched to its variable by name while a block before the variable goes between the
// matching and the write: the write reaches the variable of that name only.
TEST_F(RenumberedObjects, AValuesRowMatchedByNameReachesTheVariableOfThatName) {
    CComPtr<INUVVariableCollection> all;
    ASSERT_EQ(flowsheet_->get_Variables(&all), S_OK);
    std::map<std::string, double> before = EngineValues();
    // INNER holds one variable: PROD.F's old index then names the variable after it.
    zeq::testing::BeforeNextVariableCommit(*sim_, [this] { ASSERT_EQ(section_->RemoveBlock(ZEQString("INNER")), 0); });
    ASSERT_EQ(all->SetAttributes(objects_test::Names({"NAME", "VALUE"}),
                                 objects_test::Matrix({{Text("PROD.F")}, {CComVariant(55.0)}}), 1),
              S_OK);
    std::map<std::string, double> after = EngineValues();
    before.erase("SECTION.INNER.CORE.X");
    EXPECT_EQ(after["PROD.F"], 55);
    after["PROD.F"] = before["PROD.F"];
    EXPECT_EQ(before, after) << "no other variable changed";
}

// A block's values rows matched by name, and its names turned into positions, while another thread keeps
// adding and removing a block inside another hierarchy: a live variable is never answered as missing (a
// row dropped with S_FALSE, or "not found"). A lookup whose every re-try was overtaken by a renumbering
// may answer E_FAIL, "try again" (a loaded machine gives the other thread that much room); every other
// answer is the variable's.
TEST_F(RenumberedObjects, NamesMatchedWhileAnotherHierarchyChangesAreNeverMissed) {
    CComPtr<INUVVariableCollection> own;
    ASSERT_EQ(Block("PROD")->get_Variables(&own), S_OK);
    CComPtr<IServiceProvider> provider;
    ASSERT_EQ(own->QueryInterface(IID_IServiceProvider, reinterpret_cast<void**>(&provider)), S_OK);
    CComPtr<INUVObjectCollectionHelper> helper;
    ASSERT_EQ(provider->QueryService(IID_INUVObjectCollectionHelper, IID_INUVObjectCollectionHelper,
                                     reinterpret_cast<void**>(&helper)),
              S_OK);
    LONG expected = 0;
    ASSERT_EQ(helper->Name2Index(CComBSTR("F"), &expected), S_OK);
    const CComVariant names = objects_test::Names({"NAME", "VALUE"});
    auto rows = [](double v) {
        const CComVariant value(v);
        return objects_test::Matrix({{Text("F"), Text("F"), Text("F"), Text("F")}, {value, value, value, value}});
    };

    // The block comes and goes a fixed number of times; the names are matched all the while.
    std::atomic<bool> moving{true};
    int changeFailures = 0;
    std::thread mover([&] {
        for (int i = 0; i < 40000; ++i) changeFailures += !AddHeater() || !RemoveHeater();
        moving = false;
    });
    std::map<HRESULT, int> answers;
    int wrongPositions = 0;
    int rounds = 0;
    for (; moving.load() || rounds < 100; ++rounds) {
        // Several rows of one name: each is matched, and found again for its write.
        ++answers[own->SetAttributes(names, rows(static_cast<double>(rounds)), 1)];
        LONG position = 0;
        const HRESULT found = helper->Name2Index(CComBSTR("F"), &position);
        wrongPositions += found == S_OK ? position != expected : found != E_FAIL;
    }
    mover.join();
    EXPECT_EQ(changeFailures, 0);
    EXPECT_EQ(answers[S_FALSE], 0) << "rows dropped as if F had gone";
    EXPECT_EQ(answers[nuv::kObjectNotFound], 0) << "F answered as not found";
    EXPECT_EQ(answers[S_OK] + answers[E_FAIL], rounds) << "only the variable's answers or try-again";
    EXPECT_GT(answers[S_OK], 0);
    EXPECT_EQ(wrongPositions, 0);
    // Once the structure is still, a write by name reaches the variable.
    ASSERT_EQ(own->SetAttributes(names, rows(-7.0), 1), S_OK);
    EXPECT_EQ(EngineValues()["PROD.F"], -7.0);
}

// An attribute matrix of the flowsheet's variables while a block before them goes after its first row
// was read: every row is of one numbering, the one after the change.
TEST_F(RenumberedObjects, AnAttributeMatrixShowsTheVariablesOfOneNumbering) {
    CComPtr<INUVVariableCollection> all;
    ASSERT_EQ(flowsheet_->get_Variables(&all), S_OK);
    auto names = [&](const VARIANT& matrix) {
        std::vector<std::string> out;
        for (LONG r = 1; matrix.vt & VT_ARRAY && r <= objects_test::Extent(matrix, 1); ++r) {
            CComVariant name = objects_test::At(matrix, r, 1);
            out.push_back(name.vt == VT_BSTR ? CComBSTR(name.bstrVal).ToUtf8() : "?");
        }
        return out;
    };
    // The second row's load removes INNER (one variable before PROD).
    zeq::testing::BeforeNextMemberLoad(*sim_, [this] {
        zeq::testing::BeforeNextMemberLoad(*sim_, [this] { ASSERT_EQ(section_->RemoveBlock(ZEQString("INNER")), 0); });
    });
    CComVariant during;
    ASSERT_EQ(all->GetAttributes(objects_test::Names({"NAME"}), 6, 3, &during), S_OK);
    CComVariant after;
    ASSERT_EQ(all->GetAttributes(objects_test::Names({"NAME"}), 6, 3, &after), S_OK);
    EXPECT_EQ(names(during), names(after));
    EXPECT_EQ(names(after), (std::vector<std::string>{"SECTION.LOAD", "PROD.F", "TOTAL"}));
}

// The parent of a variable and of an equation: always their own block.
TEST_F(RenumberedObjects, ParentsAskedWhileAnotherThreadMovesTheMembersAreTheirOwnBlock) {
    EXPECT_EQ(WrongAnswersWhileMoving([&] {
                  int wrong = 0;
                  CComPtr<INUVObject> parent;
                  wrong += variable_->get_Parent(&parent) != S_OK || objects_test::NameOf(parent) != "PROD";
                  parent.Release();
                  wrong += equation_->get_Parent(&parent) != S_OK || objects_test::NameOf(parent) != "PROD";
                  return wrong;
              }),
              0);
}

// Members asked of collections by name and by position: always the member asked for.
TEST_F(RenumberedObjects, MembersFoundWhileAnotherThreadMovesThemAreTheOnesAskedFor) {
    CComPtr<INUVVariableCollection> all;
    ASSERT_EQ(flowsheet_->get_Variables(&all), S_OK);
    CComPtr<INUVVariableCollection> own;
    ASSERT_EQ(Block("PROD")->get_Variables(&own), S_OK);
    CComPtr<INUVEquationCollection> equations;
    ASSERT_EQ(Block("PROD")->get_Equations(&equations), S_OK);
    EXPECT_EQ(WrongAnswersWhileMoving([&] {
                  int wrong = 0;
                  for (const CComVariant& which : {Text("F"), objects_test::I4(1)}) {
                      CComPtr<INUVVariable> v;
                      wrong += own->get_Variable(which, &v) != S_OK || objects_test::NameOf(v) != "PROD.F";
                  }
                  CComPtr<INUVVariable> v;
                  wrong += all->get_Variable(Text("PROD.F"), &v) != S_OK || objects_test::NameOf(v) != "PROD.F";
                  CComPtr<INUVEquation> e;
                  wrong += equations->get_Equation(Text("BAL"), &e) != S_OK || objects_test::NameOf(e) != "PROD.BAL";
                  return wrong;
              }),
              0);
}

}  // namespace
