// Model files: any text either parses or is refused with a message. What parses builds a simulation
// that solves without faults, and writing it back gives text that parses to the same text again. The
// equations the check compiled are those the engine compiles from the model.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "model.h"
#include "modelfile.h"

namespace {
bool Same(const zeq::Expr& a, const zeq::Expr& b) {
    auto ops = [](const zeq::Op& x, const zeq::Op& y) { return x.kind == y.kind && x.fn == y.fn && x.arg == y.arg; };
    return std::ranges::equal(a.Code(), b.Code(), ops) && std::ranges::equal(a.Vars(), b.Vars()) &&
           std::ranges::equal(a.Nums(), b.Nums());
}
bool Same(const zeq::Equation& a, const zeq::Equation& b) {
    return a.compiled == b.compiled && a.target == b.target && !a.lhs == !b.lhs && (!a.lhs || Same(*a.lhs, *b.lhs)) &&
           Same(a.rhs, b.rhs);
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 16384) return 0;
    std::string text(reinterpret_cast<const char*>(data), size);
    zeq::ModelDef def;
    std::string error;
    std::vector<zeq::ParsedEquation> parsed;
    if (!zeq::ParseModel(text, def, error, nullptr, &parsed)) {
        if (error.empty()) std::abort();
        return 0;
    }
    {
        zeq::Simulation made, taken;
        made.Build(def);
        taken.Build(zeq::ModelDef(def), std::move(parsed));
        if (!std::ranges::equal(made.Eqns(), taken.Eqns(), [](const auto& a, const auto& b) { return Same(a, b); }))
            std::abort();
    }
    zeq::Simulation sim;
    sim.Build(def);
    rtopipe* out = stdoutPipe;
    stdoutPipe = nowherePipe;
    if (EngineSolver* s = sim.GetSolver(1)) s->SetIntParameter("MAXITER", 20);
    sim.Solve();
    stdoutPipe = out;
    std::string written = zeq::WriteModel(sim.Export());
    zeq::ModelDef again;
    if (!zeq::ParseModel(written, again, error)) std::abort();
    if (zeq::WriteModel(again) != zeq::WriteModel(sim.Export())) std::abort();
    return 0;
}
