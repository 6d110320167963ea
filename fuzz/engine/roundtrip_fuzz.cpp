// Saved models open again as they were: whatever text opens as a model is built into a simulation as opening
// a file builds it, saved, opened from what was saved and saved again; the saved file must open, the two
// saves must be the same text and the two models the same model, member by member.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "model.h"
#include "modelfile.h"
#include "random_model.h"

namespace {

// The model built from text as OpenSimulation builds it; false when the text is refused.
bool Open(std::string text, zeq::Simulation& sim, std::string& error) {
    zeq::ModelDef def;
    std::vector<zeq::ParsedEquation> parsed;
    if (!zeq::ParseModelFile(std::move(text), def, error, nullptr, &parsed)) return false;
    sim.Build(std::move(def), std::move(parsed));
    return true;
}

[[noreturn]] void Fault(const char* what, const std::string& detail) {
    std::fprintf(stderr, "%s: %s\n", what, detail.c_str());
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 16384) return 0;
    std::string error;
    zeq::Simulation first;
    if (!Open(std::string(reinterpret_cast<const char*>(data), size), first, error)) {
        if (error.empty()) Fault("refused without a reason", "");
        return 0;
    }
    const zeq::ModelDef model = first.Export();
    const std::string saved = zeq::WriteModel(model);
    zeq::Simulation second;
    if (!Open(saved, second, error)) Fault("the saved model is refused", error + "\n" + saved);
    const zeq::ModelDef again = second.Export();
    if (zeq::WriteModel(again) != saved) Fault("the second save differs", saved);
    if (std::string difference = zeq::testing::ModelDifference(model, again); !difference.empty())
        Fault("the model opened from its save differs", difference + "\n" + saved);
    return 0;
}
