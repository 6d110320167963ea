#include "engine_lock.h"

#include <utility>

namespace zeq {

namespace lock_detail {

// Never destroyed: engine calls may come during process exit.
EngineLock& TheLock() {
    static EngineLock* const lock = new EngineLock;
    return *lock;
}

// A waiter marks the lock as waited for and sleeps until the holder lets go. It sleeps on a condition
// variable rather than std::atomic::wait, whose fallback outside Linux (the Windows build) can miss a
// wake-up and leave a waiter asleep on a free lock. The holder clears the lock word before it takes
// `sleepers`, and a waiter reads the word under `sleepers`, so a wake-up cannot fall between a waiter's
// check and its sleep.
void EngineLock::Wait() {
    while (state.exchange(2, std::memory_order_acquire) != 0) {
        std::unique_lock<std::mutex> hold(sleepers);
        woken.wait(hold, [this] { return state.load(std::memory_order_relaxed) != 2; });
    }
}

void EngineLock::Wake() {
    { std::lock_guard<std::mutex> hold(sleepers); }
    woken.notify_one();
}

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
