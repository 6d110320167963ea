#include "engine_lock.h"

#include <utility>

namespace zeq {

namespace lock_detail {

// Never destroyed: engine calls may come during process exit.
EngineLock& TheLock() {
    static EngineLock* const lock = new EngineLock;
    return *lock;
}

void EngineLock::Wait() {
    // Marks the lock as waited for, and sleeps until the holder lets go.
    while (state.exchange(2, std::memory_order_acquire) != 0) state.wait(2, std::memory_order_relaxed);
}

void EngineLock::Wake() { state.notify_one(); }

void EngineLock::LeaveReleasing() {
    std::vector<INUVWrapper*> released;
    released.swap(pending);
    owner.store(std::thread::id(), std::memory_order_relaxed);
    if (state.exchange(0, std::memory_order_release) == 2) Wake();
    for (INUVWrapper* w : released) w->Release();
}

}  // namespace lock_detail

using lock_detail::TheLock;

Callout::Callout() : depth_(0) {
    lock_detail::EngineLock& lock = TheLock();
    if (!lock.HeldHere()) return;
    depth_ = std::exchange(lock.depth, 0);
    lock.Leave();
}

Callout::~Callout() {
    if (depth_ > 0) TheLock().Take(depth_);
}

void ReleaseLater(INUVWrapper* wrapper) {
    if (!wrapper) return;
    lock_detail::EngineLock& lock = TheLock();
    if (lock.HeldHere())
        lock.pending.push_back(wrapper);
    else
        wrapper->Release();
}

}  // namespace zeq
