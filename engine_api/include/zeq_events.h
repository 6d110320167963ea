// The process-wide engine event callback table (slots 0 to 29) and the engine's event numbers.
#pragma once
#include <cstdint>

class ZEQEOSimulation;
typedef intptr_t (*rtoevent_callback)(intptr_t a, intptr_t b, ZEQEOSimulation* sim);

enum ZEQEvent {
    ZEQ_EVT_COMMAND_START = 1,   // a = command text
    ZEQ_EVT_COMMAND_END = 2,     // a = command text
    ZEQ_EVT_FLOWSHEET = 4,       // a = object name, b = hint bits
    ZEQ_EVT_RUN_STARTED = 5,     // a = scope name
    ZEQ_EVT_RUN_FINISHED = 6,    // a = scope name, b = run status
    ZEQ_EVT_BLOCKCAT1_BEGIN = 7, // block categories: begin/end pairs 7/8, 9/10, 11/12, 13/14
    ZEQ_EVT_BLOCKCAT1_END = 8,
    ZEQ_EVT_BLOCKCAT2_BEGIN = 9,
    ZEQ_EVT_BLOCKCAT2_END = 10,
    ZEQ_EVT_BLOCKCAT3_BEGIN = 11,
    ZEQ_EVT_BLOCKCAT3_END = 12,
    ZEQ_EVT_BLOCKCAT4_BEGIN = 13,
    ZEQ_EVT_BLOCKCAT4_END = 14,
    ZEQ_EVT_INCLUSION = 16,      // a = block name, b = 1 included / 0 excluded
    ZEQ_EVT_VARIABLE = 18,       // a = variable name, b = hint bits
    ZEQ_EVT_REQUEST_START = 19,  // a = request text; the callback returns the request id
    ZEQ_EVT_REQUEST_END = 20,    // a = request id, b = request text
    ZEQ_EVT_BLOCK_ADDED = 21,    // a = block name
    ZEQ_EVT_BLOCK_REMOVED = 22,  // a = block name
    ZEQ_EVT_BLOCK_RENAMED = 24,
    ZEQ_EVT_BLOCK_SPECS = 26,    // a = block name: variable spec kinds changed
    ZEQ_EVT_BLOCK_PARAMS = 28,   // a = block name: parameters changed
};

// Run statuses carried by event 6.
enum ZEQRunStatus {
    ZEQ_RUN_COMPLETED = 0,
    ZEQ_RUN_NOT_CONVERGED = 1,
    ZEQ_RUN_NO_EQUATIONS = 2,
    ZEQ_RUN_NO_VARIABLES = 3,
    ZEQ_RUN_OBJECTIVE_ERROR = 4,
    ZEQ_RUN_NO_SOLVER = 5,
};

// Hint bits of variable and flowsheet events.
enum : intptr_t { ZEQ_HINT_VALUE = 0x1, ZEQ_HINT_SPEC = 0x2, ZEQ_HINT_STRUCTURE = 0x4, ZEQ_HINT_ATTRIBUTE = 0x8 };

extern "C" {
// Creates the table with slots 0..last (a table that exists is kept). Returns 0 on success.
int rtoevent_create_callbacks(int last);
// Installs fn in slot n; -1 when there is no table or n is out of range.
int rtoevent_set_callback(int n, rtoevent_callback fn);
// Calls slot n's callback; 0 when there is no table or no callback.
intptr_t rtoevent_do_callback(int n, intptr_t a, intptr_t b, ZEQEOSimulation* sim);
void rtoevent_destroy_callbacks(void);
}
