// The engine's lock. Every entry point that reads or changes engine state holds it for the length of the
// call (EngineCall); it is recursive, so entry points may call each other. The engine never holds it while
// it calls out: events, pipe writes, the wrapper factories and connection callbacks run with every level
// released (Callout), and wrappers that the engine lets go of during a call are released once the
// outermost call has ended (ReleaseLater). So the automation side may hold locks of its own while it calls
// the engine and take them again from a callback, and a reader on another thread sees the state before
// or after a change (a solve, a commit, a block added or removed), never one half-made.
//
// Lock order: automation-side locks, then the engine lock, then the engine's leaf locks (the event table,
// the output devices, the active simulation), which are never held while anything else is taken.
#pragma once
#include "nuv_wrapper.h"

namespace zeq {

class EngineCall {
public:
    EngineCall();
    ~EngineCall();
    EngineCall(const EngineCall&) = delete;
    EngineCall& operator=(const EngineCall&) = delete;
};

// Releases every level of the engine lock this thread holds, and takes them back when it goes. Anything
// read under the lock before may have changed after it.
class Callout {
public:
    Callout();
    ~Callout();
    Callout(const Callout&) = delete;
    Callout& operator=(const Callout&) = delete;

private:
    int depth_;
};

// Releases the wrapper now when this thread holds no engine lock, else when its outermost call ends (or
// it next calls out).
void ReleaseLater(INUVWrapper* wrapper);

}  // namespace zeq
