// Model files: any text either parses or is refused with a message. What parses builds a simulation
// that solves without faults, and writing it back gives text that parses to the same text again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "model.h"
#include "modelfile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 16384) return 0;
    std::string text(reinterpret_cast<const char*>(data), size);
    zeq::ModelDef def;
    std::string error;
    if (!zeq::ParseModel(text, def, error)) {
        if (error.empty()) std::abort();
        return 0;
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
