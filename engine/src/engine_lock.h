// The engine's lock. Every entry point that reads or changes engine state holds it for the length of the
// call (EngineCall); it is recursive, so entry points may call each other. The engine never holds it while
// it calls out: events, pipe writes, the wrapper factories and connection callbacks run with every level
// released (Callout), and wrappers that the engine lets go of during a call are released once the
// outermost call has ended (ReleaseLater); objects it retires are handed to the reclaimer then
// (RetireLater, reclaim.h). So the automation side may hold locks of its own while it calls
// the engine and take them again from a callback, and a reader on another thread sees the state before
// or after a change (a solve, a commit, a block added or removed), never one half-made.
//
// Lock order: automation-side locks, then the engine lock, then the engine's leaf locks (the event table,
// the output devices, the active simulation, the simulations in use), which are never held while anything
// else is taken.
#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

#include "nuv_wrapper.h"
#include "reclaim.h"

namespace zeq {

namespace lock_detail {

// The engine lock: taken once by the outermost call of a thread, with the thread that holds it, how many
// of its calls are inside, and the work left for when it is let go: the wrappers let go of meanwhile, the
// objects retired meanwhile, and the reclaimer epochs its frames joined when they called out (they still
// hold what they read before, until the outermost call ends). Only the holder reads or writes `depth`,
// `deferred` and the lists; another thread reads `owner` only to learn that it is not the holder (a thread
// finds its own id there only after storing it itself). `state` is the lock word: 0 free, 1 held, 2 held
// with threads waiting. An engine call costs one atomic exchange in and one out, taken inline, and no
// thread-local lookup.
struct EngineLock {
    std::atomic<uint32_t> state{0};
    std::atomic<std::thread::id> owner{};
    int depth = 0;
    bool deferred = false;  // something below is to be done when the lock is let go
    bool collect = false;   // the reclaimer has objects due that this thread could not free under the lock
    std::vector<INUVWrapper*> pending;
    std::vector<Garbage> retired;
    unsigned readers[2] = {0, 0};  // epochs joined by the holder's frames that called out, by parity

    bool HeldBy(std::thread::id self) const { return owner.load(std::memory_order_relaxed) == self; }
    bool HeldHere() const { return HeldBy(std::this_thread::get_id()); }
    void Take(int levels, std::thread::id self = std::this_thread::get_id()) {
        uint32_t free = 0;
        if (!state.compare_exchange_strong(free, 1, std::memory_order_acquire, std::memory_order_relaxed)) Wait();
        owner.store(self, std::memory_order_relaxed);
        depth = levels;
    }
    // Lets go of the lock; then releases the wrappers let go of while it was held (their release may
    // call the engine again) and hands the retired objects to the reclaimer.
    void Leave() {
        if (deferred) {
            LeaveReleasing();
            return;
        }
        owner.store(std::thread::id(), std::memory_order_relaxed);
        if (state.exchange(0, std::memory_order_release) == 2) Wake();
    }
    void Wait();
    void Wake();
    void LeaveReleasing();
};

// The one lock of the library (out of line, so that code built into another module shares it).
EngineLock& TheLock();

}  // namespace lock_detail

class EngineCall {
public:
    EngineCall() : lock_(lock_detail::TheLock()) {
        const std::thread::id self = std::this_thread::get_id();
        if (lock_.HeldBy(self))
            ++lock_.depth;
        else
            lock_.Take(1, self);
    }
    ~EngineCall() {
        if (--lock_.depth == 0) lock_.Leave();
    }
    EngineCall(const EngineCall&) = delete;
    EngineCall& operator=(const EngineCall&) = delete;

private:
    lock_detail::EngineLock& lock_;
};

// Releases every level of the engine lock this thread holds, and takes them back when it goes. Anything
// read under the lock before may have changed after it, though it stays readable (it may have been
// retired meanwhile, not freed) until the outermost engine call ends: the suspended frames are readers of
// the reclaimer.
class Callout {
public:
    Callout();
    ~Callout();
    Callout(const Callout&) = delete;
    Callout& operator=(const Callout&) = delete;

private:
    int depth_;
    unsigned readers_[2] = {0, 0};
};

// Releases the wrapper now when this thread holds no engine lock, else when its outermost call ends (or
// it next calls out).
void ReleaseLater(INUVWrapper* wrapper);

// Hands a retired object to the reclaimer now when this thread holds no engine lock, else when its
// outermost call ends (or it next calls out). It is freed once no call under way can still hold it.
void RetireLater(Garbage object);
template <class T>
void RetireLater(std::unique_ptr<T> object) {
    if (object) RetireLater(MakeGarbage(std::move(object)));
}

// For the reclaimer: objects became due while this thread holds the engine lock; they are freed when it
// lets the lock go.
void CollectWhenLeft();

}  // namespace zeq
