#include "engine_lock.h"

#include <mutex>
#include <utility>
#include <vector>

namespace zeq {

namespace {

// Never destroyed: engine calls may come during process exit.
std::recursive_mutex& engine_mutex() {
    static std::recursive_mutex* const mutex = new std::recursive_mutex;
    return *mutex;
}

thread_local int t_depth = 0;
thread_local std::vector<INUVWrapper*> t_pending;

void release_pending() {
    while (!t_pending.empty()) {
        std::vector<INUVWrapper*> pending;
        pending.swap(t_pending);
        for (INUVWrapper* w : pending) w->Release();
    }
}

}  // namespace

EngineCall::EngineCall() {
    engine_mutex().lock();
    ++t_depth;
}

EngineCall::~EngineCall() {
    engine_mutex().unlock();
    if (--t_depth == 0) release_pending();
}

Callout::Callout() : depth_(std::exchange(t_depth, 0)) {
    for (int i = 0; i < depth_; ++i) engine_mutex().unlock();
    release_pending();
}

Callout::~Callout() {
    for (int i = 0; i < depth_; ++i) engine_mutex().lock();
    t_depth = depth_;
}

void ReleaseLater(INUVWrapper* wrapper) {
    if (!wrapper) return;
    if (t_depth > 0)
        t_pending.push_back(wrapper);
    else
        wrapper->Release();
}

}  // namespace zeq
