// Runs arbitrary script text against the example plant's simulation wrapper. Every statement must end in
// a result or a reported failure; a run is cut off after a fixed number of statements.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <sstream>
#include <string>

#include "class_factory.h"
#include "equation.h"
#include "script.h"
#include "variable.h"
#include "zeq_testing.h"

namespace {

struct Plant {
    Plant() {
        nuv::SetVariableWrapperMaker(&CoNUVVariable::Create);
        nuv::SetEquationWrapperMaker(&CoNUVEquation::Create);
        zeq_set_wrapper_factory(&NUVClassFactory_QueryCreateVarWrapper, &NUVClassFactory_QueryCreateEqnWrapper);
    }
    std::unique_ptr<zeq::Simulation> sim;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 4096) return 0;
    static Plant plant;
    // A fresh plant each run, so one input's changes never decide the next one's outcome.
    plant.sim = std::make_unique<zeq::Simulation>();
    plant.sim->Build(zeq::testing::PlantModel());
    {
        CComPtr<IDispatch> simulation;
        if (FAILED(NUVClassFactory::QueryCreateWrapper(plant.sim.get(), IID_IDispatch,
                                                       reinterpret_cast<void**>(&simulation))))
            return 0;
        std::ostringstream out;
        host::ScriptRunner runner(out);
        runner.SetStatementLimit(200);
        CComVariant value(static_cast<IDispatch*>(simulation));
        runner.Define("Sim", value);
        runner.Run(std::string(reinterpret_cast<const char*>(data), size), "fuzz");
    }
    plant.sim.reset();
    return 0;
}
