// A model file's equations come from its check compiled, and the simulation opened from it takes them so:
// they must be what the engine compiles from the same model, variable for variable.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "model.h"
#include "modelfile.h"
#include "temp_dir.h"

namespace {

std::string Describe(const zeq::Expr& e) {
    std::string out;
    size_t num = 0;
    const auto nums = e.Nums();
    for (const zeq::Op& op : e.Code()) {
        out += std::to_string(op.kind) + ":" + std::to_string(op.fn) + ":";
        out += op.kind == zeq::Op::Num ? std::to_string(nums[num++]) : std::to_string(op.arg);
        out += " ";
    }
    out += "reads";
    for (int v : e.Vars()) out += " " + std::to_string(v);
    return out;
}

// An equation as compiled: the variable it assigns, or its left side's code, and its right side's code.
std::string Describe(int target, const zeq::Expr* lhs, const zeq::Expr& rhs) {
    return (lhs ? "[" + Describe(*lhs) + "]" : "V" + std::to_string(target)) + " = [" + Describe(rhs) + "]";
}

std::vector<std::string> Compiled(zeq::Simulation& sim) {
    std::vector<std::string> out;
    for (const zeq::Equation& e : sim.Eqns())
        out.push_back(e.name + ": " + (e.compiled ? Describe(e.target, e.lhs.get(), e.rhs) : "error " + e.Extras().error));
    return out;
}

// The equations of the model compiled by the engine from its definition, named with their variables'
// full names as they read.
std::vector<std::string> FromDefinition(const zeq::ModelDef& def) {
    zeq::Simulation sim;
    sim.Build(def);
    return Compiled(sim);
}

struct Case {
    const char* what;
    std::string text;
};

const Case kModels[] = {
    {"names relative to the block, its container and full names, in any case",
     "var Z 1\n"
     "hierarchy H\n"
     "  var Y 1\n"
     "  block B\n    var X 1\n    eqn E1 : X = Y + Z\n    eqn E2 : x = h.b.X\n  end\n"
     "  block C\n    var V 1\n    eqn E3 : V = B.X\n  end\n"
     "  eqn E4 : Y = B.X + C.V\n"
     "  eqn E5 : y = H.C.V + z\n"
     "  hierarchy G\n    block D\n      var W 1\n      eqn E6 : W = H.G.D.W + H.Y\n    end\n"
     "    var U 1\n    eqn E7 : U = D.W\n  end\n"
     "end\n"
     "eqn E8 : Z = H.G.D.W + h.g.u\n"},
    // H.B2.X is a full name within H: the engine takes it before H's own H.B2.X (H.H.B2.X); A.X is a full
    // name outside H, so H's own A.X comes first; Q.X is found by full name only.
    {"a full name within the container before a name relative to it",
     "block A\n  var X 1\nend\nblock Q\n  var X 1\nend\n"
     "hierarchy H\n"
     "  hierarchy H\n    block B2\n      var X 1\n    end\n  end\n"
     "  block B2\n    var X 2\n  end\n"
     "  block A\n    var X 3\n  end\n"
     "  block B\n    var Y 1\n    eqn E1 : Y = H.B2.X\n    eqn E2 : Y = A.X + Q.X\n  end\n"
     "  var Z 1\n  eqn E3 : Z = H.B2.X + A.X\n"
     "end\n"
     "eqn E4 : H.Z = A.X + H.A.X + H.H.B2.X\n"},
    {"members from types, replaced and added in the block's body",
     "library STANDARD\n"
     "type T hierarchy\n  block A\n    var X 1\n  end\n  var Y 1\n  eqn E : Y = A.X\nend\n"
     "hierarchy H T\n  block B\n    var V 1\n    eqn F : V = A.X + Y\n  end\n  eqn G : Y = B.V + A.X\nend\n"
     "block M MIXER\n  var f2 3\n  var EXTRA 1\n  eqn MASS : EXTRA + F = 2 * (F1 + F2)\n  eqn MORE : EXTRA = T\nend\n"
     "block S SPLITTER\nend\n"
     "eqn I : H.Y = H.A.X + H.B.V + M.EXTRA - S.F2\n"},
    {"blocks named \"\" inside a hierarchy block, and sides of any form",
     "hierarchy H\n  block \"\"\n    var X 1\n    var \"\" 2\n    eqn E : -X ^ 2 = max(H.., 1e-3) / (1 + exp(H..X))\n  end\n"
     "  var W 1\n  eqn F : W * 2 + 1 = H..X - -W\nend\n"},
};

// Many variables in one block, named in an order of their own: the block's long list has an index.
std::string LongBlock() {
    std::string text = "block L\n";
    for (int i = 0; i < 40; ++i) text += "  var X" + std::to_string(i) + " " + std::to_string(i) + "\n";
    for (int i = 1; i < 40; ++i)
        text += "  eqn E" + std::to_string(i) + " : X" + std::to_string(40 - i) + " = x" + std::to_string(i * 7 % 40) +
                " + L.X" + std::to_string(i) + " + X" + std::to_string(40 - i) + "\n";
    return text + "end\nvar Z 1\neqn F : Z = L.X39 + L.x0\n";
}

TEST(LoadedEquations, CompiledByTheCheckAsTheEngineCompilesThem) {
    std::vector<Case> models(std::begin(kModels), std::end(kModels));
    models.push_back({"a long list of variables", LongBlock()});
    for (const Case& c : models) {
        zeq::ModelDef def;
        std::string error;
        std::vector<zeq::ParsedEquation> parsed;
        ASSERT_TRUE(zeq::ParseModel(c.text, def, error, nullptr, &parsed)) << c.what << ": " << error;
        const std::vector<std::string> expected = FromDefinition(def);
        ASSERT_EQ(parsed.size(), expected.size()) << c.what;
        // Each compiled equation, as the check made it, stands where the engine puts the equation.
        zeq::Simulation made;
        made.Build(def);
        for (size_t i = 0; i < parsed.size(); ++i) {
            const zeq::Equation& e = made.Eqns()[i];
            EXPECT_EQ(e.name + ": " + Describe(parsed[i].target, parsed[i].lhs.get(), parsed[i].rhs), expected[i]) << c.what;
        }
        zeq::Simulation taken;
        taken.Build(zeq::ModelDef(def), std::move(parsed));
        EXPECT_EQ(Compiled(taken), expected) << c.what;
    }
}

// Opening a model file builds it from the equations its check compiled; the simulation is the one the
// engine makes from the model's definition.
TEST(LoadedEquations, AnOpenedModelHasTheEquationsTheEngineCompiles) {
    nuv::test::TempDir dir("zeqtest");
    for (const Case& c : kModels) {
        const std::string path = dir.File("m.model");
        std::ofstream(path) << c.text;
        zeq::Simulation sim;
        ASSERT_EQ(sim.OpenSimulation(path.c_str()), 0) << c.what;
        zeq::ModelDef def;
        std::string error;
        ASSERT_TRUE(zeq::ParseModel(c.text, def, error)) << error;
        EXPECT_EQ(Compiled(sim), FromDefinition(def)) << c.what;
    }
}

// A model whose names the engine resolves against more than the model itself keeps nothing compiled: one
// with a block named "" at its top (its names join the flowsheet's), and one joining a simulation. Its
// equations are compiled by the build.
TEST(LoadedEquations, ModelsResolvedAgainstMoreAreCompiledByTheBuild) {
    zeq::ModelDef def;
    std::string error;
    std::vector<zeq::ParsedEquation> parsed(3);
    const std::string flat = "block \"\"\n  var X 1\n  eqn E : X = Y + 1\nend\nvar Y 1\neqn F : Y = X\n";
    ASSERT_TRUE(zeq::ParseModel(flat, def, error, nullptr, &parsed)) << error;
    EXPECT_TRUE(parsed.empty());
    const std::vector<std::string> expected = FromDefinition(def);
    ASSERT_EQ(expected.size(), 2u);
    zeq::Simulation sim;
    sim.Build(zeq::ModelDef(def), std::move(parsed));
    EXPECT_EQ(Compiled(sim), expected);

    zeq::MergeTarget into{"P", [](std::string_view n) { return zeq::iequals(n, "P.Y"); }};
    ASSERT_TRUE(zeq::ParseModel("block B\n  var X 1\n  eqn E : X = Y\nend\n", def, error, &into, &parsed)) << error;
    EXPECT_TRUE(parsed.empty());

    // A refused model leaves nothing compiled behind.
    parsed.resize(1);
    EXPECT_FALSE(zeq::ParseModel("block B\n  var X 1\n  eqn E1 : X = 1\n  eqn E2 : X = Q\nend\n", def, error, nullptr, &parsed));
    EXPECT_EQ(error, "line 4: equation E2: unknown variable 'Q'");
    EXPECT_TRUE(parsed.empty());
}

}  // namespace
