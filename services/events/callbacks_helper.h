// The program's side of the engine's process-wide event callback table: creating it, installing the
// callbacks group by group the first time a category is subscribed, and keeping it alive while anything
// uses it.
#pragma once
#include "nuv_export.h"

class NUV_EXPORT NUVCallbacksHelper {
public:
    NUVCallbacksHelper& operator=(const NUVCallbacksHelper&);
    NUVCallbacksHelper& operator=(NUVCallbacksHelper&&);

    // Creates the table and installs events 1 and 2 (command start and end).
    static void InitializeCallbacks();
    // The server category installs nothing.
    static void SetServerCallbacks();
    // Events 19 and 20.
    static void SetRequestCallbacks();
    // Event 18.
    static void SetVariableCallbacks();
    // Events 4, 5, 6, 21 and 22.
    static void SetFlowsheetCallbacks();
    // Events 7 to 14, 16, 24, 26 and 28.
    static void SetBlockCallbacks();
    // Forgets what was installed, so that the next call creates and fills the table again.
    static void ReSetAllCallbackBooleans();

    // Only read or written under the helper's lock.
    static bool m_bCallbacksInitialized;
    static bool m_bServerCallbacksSet;
    static bool m_bRequestCallbacksSet;
    static bool m_bVariableCallbacksSet;
    static bool m_bFlowhseetCallbacksSet;
    static bool m_bBlockCallbacksSet;
};

namespace nuv::events {

// One user of the callback table (an event manager, a subscribed engine document). The table is created
// with the first user and destroyed, with every once-flag cleared, when the last one goes.
class CallbackTableUse {
public:
    CallbackTableUse();
    ~CallbackTableUse();
    CallbackTableUse(const CallbackTableUse&) = delete;
    CallbackTableUse& operator=(const CallbackTableUse&) = delete;
};

// How many users the table has now (for tests).
int CallbackTableUsers();

}  // namespace nuv::events
