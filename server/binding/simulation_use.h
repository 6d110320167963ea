// A call of the automation side on one engine simulation's objects, under way: while it is held the
// engine does not free the simulation (its destruction waits for it). Every member that reaches engine
// objects through a wrapper's simulation holds one for as long as it uses them; without one (the
// simulation gone, or going) the member answers as an object whose engine object went.
#pragma once
#include <atomic>
#include <utility>

#include "zeq_host.h"

namespace nuv {

class SimulationUse {
public:
    SimulationUse() = default;
    // A use of the simulation a wrapper keeps in `slot`. The engine empties the slots of a simulation's
    // wrappers before it frees it, so a simulation still in the slot once the use is counted is the one
    // the wrapper was made for, not another made since at the same address.
    explicit SimulationUse(const std::atomic<ZEQEOSimulation*>& slot) : SimulationUse([&] { return slot.load(); }) {}
    // The same through any reader of such a slot (read before and after the use is counted).
    template <class Read, class = decltype(static_cast<ZEQEOSimulation*>(std::declval<Read&>()()))>
    explicit SimulationUse(Read&& read) {
        ZEQEOSimulation* sim = read();
        if (!sim || !zeq_begin_use(sim)) return;
        if (read() == sim)
            sim_ = sim;
        else
            zeq_end_use(sim);
    }
    SimulationUse(SimulationUse&& other) noexcept : sim_(std::exchange(other.sim_, nullptr)) {}
    SimulationUse& operator=(SimulationUse&& other) noexcept {
        if (this != &other) {
            End();
            sim_ = std::exchange(other.sim_, nullptr);
        }
        return *this;
    }
    SimulationUse(const SimulationUse&) = delete;
    SimulationUse& operator=(const SimulationUse&) = delete;
    ~SimulationUse() { End(); }

    // The simulation, null when it is gone.
    ZEQEOSimulation* get() const { return sim_; }
    explicit operator bool() const { return sim_ != nullptr; }

private:
    void End() {
        if (sim_) zeq_end_use(std::exchange(sim_, nullptr));
    }
    ZEQEOSimulation* sim_ = nullptr;
};

}  // namespace nuv
