// What every simulation service shares: the simulation wrapper it is bound to (a counted reference),
// that wrapper's validity and uses of its engine simulation.
#pragma once
#include "simulation.h"

namespace nuv {

class SimulationBinding {
public:
    SimulationBinding() = default;
    SimulationBinding(const SimulationBinding&) = delete;
    SimulationBinding& operator=(const SimulationBinding&) = delete;
    ~SimulationBinding() { Bind(nullptr); }

    // Takes a reference to `simulation` and drops the one held before.
    void Bind(CoNUVSimulation* simulation) {
        if (simulation) simulation->OuterUnknown()->AddRef();
        if (CoNUVSimulation* old = std::exchange(simulation_, simulation)) old->OuterUnknown()->Release();
    }
    CoNUVSimulation* Simulation() const { return simulation_; }
    // False when unbound or when the engine has let go of the simulation.
    bool IsValid() const { return simulation_ && simulation_->IsValid() == VARIANT_TRUE; }
    // A use of the engine simulation (see simulation_use.h), empty once the engine has let go of it: the
    // simulation's objects are used only while it is held.
    SimulationUse Use() const { return simulation_ ? simulation_->Use() : SimulationUse(); }

private:
    CoNUVSimulation* simulation_ = nullptr;
};

}  // namespace nuv
