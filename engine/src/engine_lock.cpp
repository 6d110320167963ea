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

// The work left for the lock's release is taken first, while the lock is held; the wrappers are released
// before the retired objects go to the reclaimer, and the epochs of frames that called out are left last.
void EngineLock::LeaveReleasing() {
    std::vector<INUVWrapper*> released;
    released.swap(pending);
    std::vector<Garbage> garbage;
    garbage.swap(retired);
    const unsigned joined[2] = {readers[0], readers[1]};
    readers[0] = readers[1] = 0;
    const bool due = std::exchange(collect, false);
    deferred = false;
    owner.store(std::thread::id(), std::memory_order_relaxed);
    if (state.exchange(0, std::memory_order_release) == 2) Wake();
    for (INUVWrapper* w : released) w->Release();
    reclaim::HandOver(std::move(garbage));
    for (unsigned parity = 0; parity < 2; ++parity)
        for (unsigned n = 0; n < joined[parity]; ++n) reclaim::Exit(parity);
    if (due) reclaim::Collect();
}

}  // namespace lock_detail

using lock_detail::TheLock;

// The epoch is joined before the lock is let go, and so before this thread's retired objects are handed
// over: they stay readable for the suspended frames too.
Callout::Callout() : depth_(0) {
    lock_detail::EngineLock& lock = TheLock();
    if (!lock.HeldHere()) return;
    readers_[reclaim::Enter()] = 1;
    depth_ = std::exchange(lock.depth, 0);
    for (unsigned parity = 0; parity < 2; ++parity) readers_[parity] += std::exchange(lock.readers[parity], 0);
    lock.deferred = true;
    lock.Leave();
}

Callout::~Callout() {
    if (depth_ == 0) return;
    lock_detail::EngineLock& lock = TheLock();
    lock.Take(depth_);
    lock.readers[0] = readers_[0];
    lock.readers[1] = readers_[1];
    lock.deferred = true;
}

void ReleaseLater(INUVWrapper* wrapper) {
    if (!wrapper) return;
    lock_detail::EngineLock& lock = TheLock();
    if (lock.HeldHere()) {
        lock.pending.push_back(wrapper);
        lock.deferred = true;
    } else {
        wrapper->Release();
    }
}

void RetireLater(Garbage object) {
    lock_detail::EngineLock& lock = TheLock();
    if (lock.HeldHere()) {
        lock.retired.push_back(object);
        lock.deferred = true;
    } else {
        reclaim::HandOver(std::vector<Garbage>{object});
    }
}

void CollectWhenLeft() {
    lock_detail::EngineLock& lock = TheLock();
    lock.collect = true;
    lock.deferred = true;
}

}  // namespace zeq
