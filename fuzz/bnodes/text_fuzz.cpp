// Writes the input text through the parameter and variable nodes of a small model and reads the
// values back: any text must be stored or refused, never crash or leak.
#include <zeq_host.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "nodes/block_nodes.h"
#include "nodes/engine_nodes.h"

namespace {

struct Model {
    Model() {
        char error[256] = {0};
        sim = zeq_open_simulation(BNODES_MODEL, error, sizeof error);
        if (sim == nullptr) std::abort();
        blocks = FI::CreateBlocksNode(nullptr, FIValue("Blocks"), sim->GetFlowsheet());
        globals = FI::CreateGlobalParamListNode(nullptr, FIValue("Parameters"), sim->GetFlowsheet());
    }
    FI::EntryHandle At(const FI::EntryHandle& from, const char* path) {
        FI::EntryHandle out;
        const char* rest = nullptr;
        from->FindChild(out, path, &rest);
        if (rest == nullptr || *rest != '\0') std::abort();
        return out;
    }
    ZEQEOSimulation* sim;
    FI::EntryHandle blocks;
    FI::EntryHandle globals;
};

void WriteAndRead(const FI::EntryHandle& node, uint32_t id, const FIValue& value) {
    FIError error;
    node->SetAttribute("attr", id, value, error);
    FIValue back;
    node->GetAttribute("attr", id, back);
    FIValue type;
    node->GetTypeName(type);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Model model;
    const FIValue text(std::string(reinterpret_cast<const char*>(data), size).c_str());
    for (const char* path : {"B.Parameters.L", "B.Parameters.S", "B.Parameters.E", "B.Parameters.N",
                             "B.Parameters.R"}) {
        WriteAndRead(model.At(model.blocks, path), FI::attr::kValue, text);
    }
    FI::EntryHandle x = model.At(model.blocks, "B.Variables.X");
    for (uint32_t id : {FI::attr::kValue, FI::attr::kSpec, FI::attr::kBoundType, FI::attr::kQuality, FI::attr::kUom,
                        FI::attr::kDimension}) {
        WriteAndRead(x, id, text);
    }
    // Put the unit back so that later inputs start from the same variable.
    FIError ignored;
    x->SetAttribute("uom", FI::attr::kUom, FIValue("C"), ignored);
    x->SetAttribute("dimension", FI::attr::kDimension, FIValue("TEMPERATURE"), ignored);
    for (const char* name : {"G", "T"}) WriteAndRead(model.At(model.globals, name), FI::attr::kValue, text);
    return 0;
}
