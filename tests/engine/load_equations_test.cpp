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
    for (const zeq::Op& op : e.Code()) out += std::to_string(op.kind) + ":" + std::to_string(op.fn) + ":" + std::to_string(op.arg) + " ";
    for (int v : e.Vars()) out += "v" + std::to_string(v) + " ";
    for (double d : e.Nums()) out += std::to_string(d) + " ";
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
// The equations the engine compiles from the model's definition.
std::vector<std::string> FromDefinition(const zeq::ModelDef& def) {
    zeq::Simulation sim;
    sim.Build(def);
    return Compiled(sim);
}

// Names relative to the block, its container and full names, in any case; H.B2.X in H.B is a full name
// within H, which the engine takes before H's own H.B2.X (H.H.B2.X), while A.X is a full name outside H, so
// H's own A.X comes first; members from types, replaced and added in a block's body; a block named "" in
// a hierarchy block; sides of any form; keywords in any case; a block of many variables (an indexed list).
std::vector<std::string> Models() {
    std::vector<std::string> models = {
        "var Z 1\nhierarchy H\n  var Y 1\n"
        "  block B\n    var X 1\n    eqn E1 : X = Y + Z\n    eqn E2 : x = h.b.X\n  end\n"
        "  block C\n    var V 1\n    eqn E3 : V = B.X\n  end\n  eqn E4 : Y = B.X + C.V\n  eqn E5 : y = H.C.V + z\n"
        "  hierarchy G\n    block D\n      var W 1\n      eqn E6 : W = H.G.D.W + H.Y\n    end\n"
        "    var U 1\n    eqn E7 : U = D.W\n  end\nend\neqn E8 : Z = H.G.D.W + h.g.u\n",
        "block A\n  var X 1\nend\nblock Q\n  var X 1\nend\nhierarchy H\n"
        "  hierarchy H\n    block B2\n      var X 1\n    end\n  end\n  block B2\n    var X 2\n  end\n"
        "  block A\n    var X 3\n  end\n  block B\n    var Y 1\n    eqn E1 : Y = H.B2.X\n    eqn E2 : Y = A.X + Q.X\n  end\n"
        "  var Z 1\n  eqn E3 : Z = H.B2.X + A.X\nend\neqn E4 : H.Z = A.X + H.A.X + H.H.B2.X\n",
        "library STANDARD\ntype T hierarchy\n  block A\n    var X 1\n  end\n  var Y 1\n  eqn E : Y = A.X\nend\n"
        "hierarchy H T\n  block B\n    var V 1\n    eqn F : V = A.X + Y\n  end\n  eqn G : Y = B.V + A.X\nend\n"
        "block M MIXER\n  var f2 3\n  var EXTRA 1\n  eqn MASS : EXTRA + F = 2 * (F1 + F2)\n  eqn MORE : EXTRA = T\nend\n"
        "block S SPLITTER\nend\neqn I : H.Y = H.A.X + H.B.V + M.EXTRA - S.F2\n",
        "hierarchy H\n  block \"\"\n    var X 1\n    var \"\" 2\n    eqn E : -X ^ 2 = max(H.., 1e-3) / (1 + exp(H..X))\n  end\n"
        "  var W 1\n  eqn F : W * 2 + 1 = H..X - -W\nend\n",
        "BLOCK B\n  VAR X 1\n  Var Y 2 spec=CONST\n  EqN E : X = y + 1 # Eqn \"q\"\n  eQn \"F G\" : Y = X\nEnd\n"};
    std::string many = "block L\n";
    for (int i = 0; i < 40; ++i) many += "  var X" + std::to_string(i) + " 1\n";
    for (int i = 1; i < 40; ++i)
        many += "  eqn E" + std::to_string(i) + " : X" + std::to_string(40 - i) + " = x" + std::to_string(i * 7 % 40) + " + L.X" + std::to_string(i) + "\n";
    models.push_back(many + "end\nvar Z 1\neqn F : Z = L.X39 + L.x0\n");
    return models;
}

TEST(LoadedEquations, CompiledByTheCheckAsTheEngineCompilesThem) {
    nuv::test::TempDir dir("zeqtest");
    for (const std::string& text : Models()) {
        zeq::ModelDef def;
        std::string error;
        std::vector<zeq::ParsedEquation> parsed;
        ASSERT_TRUE(zeq::ParseModel(text, def, error, nullptr, &parsed)) << text << error;
        const std::vector<std::string> expected = FromDefinition(def);
        // Each equation the check compiled stands where the engine puts it.
        ASSERT_EQ(parsed.size(), expected.size()) << text;
        for (size_t i = 0; i < parsed.size(); ++i)
            EXPECT_EQ(expected[i].substr(expected[i].find(": ") + 2),
                      Describe(parsed[i].target, parsed[i].lhs.get(), parsed[i].rhs)) << text;
        // Opening the model's file builds it from them.
        std::ofstream(dir.File("m.model")) << text;
        zeq::Simulation sim;
        ASSERT_EQ(sim.OpenSimulation(dir.File("m.model").c_str()), 0) << text;
        EXPECT_EQ(Compiled(sim), expected) << text;
    }
}

// A model whose names the engine resolves against more than the model keeps nothing compiled and is
// compiled by the build: one with a block named "" at its top (its names join the flowsheet's), one that
// joins a simulation. Nor does a refused model.
TEST(LoadedEquations, ModelsResolvedAgainstMoreOrRefusedKeepNothingCompiled) {
    zeq::ModelDef def;
    std::string error;
    std::vector<zeq::ParsedEquation> parsed(3);
    ASSERT_TRUE(zeq::ParseModel("block \"\"\n  var X 1\n  eqn E : X = Y + 1\nend\nvar Y 1\neqn F : Y = X\n", def, error,
                                nullptr, &parsed)) << error;
    EXPECT_TRUE(parsed.empty());
    zeq::Simulation sim;
    sim.Build(zeq::ModelDef(def), std::move(parsed));
    EXPECT_EQ(Compiled(sim), FromDefinition(def));

    zeq::MergeTarget into{"P", [](std::string_view n) { return zeq::iequals(n, "P.Y"); }};
    parsed.resize(1);
    ASSERT_TRUE(zeq::ParseModel("block B\n  var X 1\n  eqn E : X = Y\nend\n", def, error, &into, &parsed)) << error;
    EXPECT_TRUE(parsed.empty());

    parsed.resize(1);
    EXPECT_FALSE(zeq::ParseModel("block B\n  var X 1\n  eqn E1 : X = 1\n  eqn E2 : X = Q\nend\n", def, error, nullptr, &parsed));
    EXPECT_EQ(error, "line 4: equation E2: unknown variable 'Q'");
    EXPECT_TRUE(parsed.empty());
}

}  // namespace
