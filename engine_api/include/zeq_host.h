// What the host (and tests) use to own engine simulations.
#pragma once
#include "zeq_objects.h"

// Engine result codes of our own beyond those the calling code knows.
enum : int32_t {
    ZEQ_E_UNKNOWN_OBJECTIVE_SOLVE = static_cast<int32_t>(0x80040601),
    ZEQ_E_UNKNOWN_OBJECTIVE = static_cast<int32_t>(0x80040602),
    ZEQ_E_NOT_CONVERGED = static_cast<int32_t>(0x80040611),
    ZEQ_E_PROBLEM_EMPTY = static_cast<int32_t>(0x80040612),
    ZEQ_E_OBJECTIVE_ERROR = static_cast<int32_t>(0x80040613),
    ZEQ_E_NO_SOLVER = static_cast<int32_t>(0x80040614),
    ZEQ_E_CANCELLED = static_cast<int32_t>(0x80040615),
    ZEQ_E_FILE = static_cast<int32_t>(0x80040620),      // a file cannot be read or written
    ZEQ_E_SYNTAX = static_cast<int32_t>(0x80040621),    // a model file or command is malformed
    ZEQ_E_NOT_FOUND = static_cast<int32_t>(0x80040622), // a named object does not exist
    ZEQ_E_REFUSED = static_cast<int32_t>(0x80040623),   // a value or change is refused
    ZEQ_E_BAD_NAME = static_cast<int32_t>(0x80040701),
    ZEQ_E_CREATE_FAILED = static_cast<int32_t>(0x80040702),
    ZEQ_E_UNKNOWN_TYPE = static_cast<int32_t>(0x80040703),
    ZEQ_E_SENS_SINGULAR = static_cast<int32_t>(0x80040803),
    ZEQ_E_SENS_SOLVE = static_cast<int32_t>(0x80040804),
    ZEQ_E_SENS_ARGS = static_cast<int32_t>(0x80040805),
};

extern "C" {
// An empty simulation (a flowsheet without blocks and one solver "MAIN").
ZEQEOSimulation* zeq_create_simulation(const char* name);
// A simulation opened from a model file; null with a message in error (size bytes) when it cannot be read.
ZEQEOSimulation* zeq_open_simulation(const char* path, char* error, int size);
// Waits for the uses of the simulation under way on other threads (below), then empties it (every wrapper
// it holds is let go of, and numbered 0) and frees it. The caller holds no lock those uses may wait for
// (the engine's, a wrapper's), and does not destroy a simulation from inside a call on its own objects
// (an event sink): that call would go on in a simulation that is gone.
void zeq_destroy_simulation(ZEQEOSimulation* sim);
// A use of a simulation by the automation side: a call on one of its objects. zeq_begin_use answers false,
// and counts nothing, when sim is not a simulation that lives (never made, destroyed or being destroyed);
// else the simulation stays until the matching zeq_end_use. A pointer that may be stale is safe to pass.
// Never waits: a use begun while the simulation is being destroyed is refused. What the engine retires
// meanwhile (removed blocks, a replaced model, texts a rename replaced) stays readable until the use ends,
// and is freed once no use that could have reached it remains: an engine object or text is held across
// calls only under a use.
bool zeq_begin_use(ZEQEOSimulation* sim);
void zeq_end_use(ZEQEOSimulation* sim);
// The last line the engine printed on the calling thread since zeq_clear_message ("" when none): what a
// caller shows with the failure of the engine call that printed it.
const char* zeq_last_message(void);
void zeq_clear_message(void);
// A fixed text for each of the engine's own result codes above; null for any other code.
const char* zeq_result_text(int result);
}
