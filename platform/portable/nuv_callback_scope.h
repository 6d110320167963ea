// Whether this thread is calling client code back now: an engine event sink, an output-line sink, a
// browsing document's subscriber. One count per thread, shared by every library of the process, so that a
// call made from inside any kind of callback knows it is one.
#pragma once

namespace nuv {

// Counts this thread as inside a client callback for as long as it lives.
class CallbackScope {
public:
    CallbackScope();
    ~CallbackScope();
    CallbackScope(const CallbackScope&) = delete;
    CallbackScope& operator=(const CallbackScope&) = delete;
};

// True while some CallbackScope of this thread lives.
bool InsideCallback();

}  // namespace nuv
