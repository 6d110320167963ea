// Resolves the input as a moniker and writes it as the value of the solver settings and of a
// connection: any text must resolve or be refused, never crash, hang or leak.
#include <zeq_host.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "atl/nuvatlbase.h"
#include "class_factory.h"
#include "document/vorn_document.h"
#include "nuvclasslib.h"
#include "simulation.h"
#include "wrapper_base.h"
#include "zeq_lib.h"

namespace {

struct Plant {
    Plant() {
        char error[256] = {0};
        sim = zeq_open_simulation(BDOC_PLANT, error, sizeof error);
        if (sim == nullptr) std::abort();
        if (FAILED(NUVClassFactory::QueryCreateWrapper(sim, IID_INUVSimulation2, reinterpret_cast<void**>(&wrapper))))
            std::abort();
        document = new FI::FIVORNDocument(nuv::ImplementationOf<CoNUVSimulation>(wrapper));
        document->AddRef();
        connection = Resolve("Top.appModel.Connections.M1");
        settings = Resolve("Top.Solver");
    }
    FI::EntryHandle Resolve(const char* path) {
        const char* rest = nullptr;
        FI::EntryHandle e = document->ResolvePath(path, &rest);
        if (e.IsNull() || (rest != nullptr && *rest != '\0')) std::abort();
        return e;
    }
    ZEQEOSimulation* sim = nullptr;
    CComPtr<INUVSimulation2> wrapper;
    FI::FIVORNDocument* document = nullptr;
    FI::EntryHandle connection;
    FI::EntryHandle settings;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Plant plant;
    const std::string text(reinterpret_cast<const char*>(data), size);
    FIValue path;
    plant.document->ResolveMoniker(text.c_str(), path);
    const FIValue value(text.c_str());
    for (const char* name : {"RunMode", "ActiveEnvironment", "Objective Function", "Solver Scope"}) {
        FI::EntryHandle child;
        plant.settings->GetChild(child, name);
        if (child.IsNull()) std::abort();
        FIError error;
        child->SetAttribute("value", 1, value, error);
        FIValue back;
        child->GetAttribute("value", 1, back);
    }
    FIError error;
    plant.connection->SetAttribute("value", 1, value, error);
    // Back to the same settings for the next input.
    rto_set_mode_c(0);
    plant.sim->SetDefaultObjective(nullptr);
    plant.sim->SetSolverScope("Plant");
    return 0;
}
