// Which simulations live, and how many calls of the automation side use each (zeq_begin_use). A simulation
// that goes first closes: it refuses new uses and waits for those under way on other threads.
//
// The lock is a leaf: nothing else is taken while it is held, and it is never held while the engine lock
// is waited for, so a use begun from an event sink or under any other lock never waits.
#pragma once

class ZEQEOSimulation;

namespace zeq {

// The simulation lives from Opened until Closing; Closing returns once the uses of other threads have
// ended. Uses the closing thread itself holds (the simulation destroyed from inside a call on its own
// objects) are not waited for.
void SimulationOpened(const ZEQEOSimulation* sim);
void SimulationClosing(const ZEQEOSimulation* sim);

}  // namespace zeq
