#include "engine_lock.h"

#include <utility>

#include "nuv_address_wait.h"

namespace zeq {

namespace lock_detail {

// Never destroyed: engine calls may come during process exit.
EngineLock& TheLock() {
    static EngineLock* const lock = new EngineLock;
    return *lock;
}

// A thread that finds the lock held marks it as waited for and sleeps until the word changes
// (nuv_address_wait.h says why not on std::atomic::wait). A thread that took it after sleeping keeps the
// mark, since others may still sleep on it.
void EngineLock::Wait() {
    while (state.exchange(2, std::memory_order_acquire) != 0) nuv::WaitWhileEquals(state, 2);
}

void EngineLock::Wake() { nuv::WakeOne(state); }

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
