#include "engine_lock.h"

#include <atomic>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace zeq {

namespace {

// The engine lock: a plain mutex taken once by the outermost call of a thread, the thread that holds it,
// how many calls of that thread are inside, and the wrappers let go of meanwhile. Only the holder reads or
// writes `depth` and `pending`; another thread reads `owner` only to learn that it is not the holder (a
// thread sees its own id there only after storing it itself). Nothing here is thread-local: an engine call
// costs one lock and one unlock, without a thread-local lookup on the way in and out.
struct EngineLock {
    std::mutex mutex;
    std::atomic<std::thread::id> owner{};
    int depth = 0;
    std::vector<INUVWrapper*> pending;

    bool HeldHere() const { return owner.load(std::memory_order_relaxed) == std::this_thread::get_id(); }
    void Take(int levels) {
        mutex.lock();
        owner.store(std::this_thread::get_id(), std::memory_order_relaxed);
        depth = levels;
    }
    // Lets go of the lock (its calls have ended or call out), then releases the wrappers let go of while
    // it was held: their release may call the engine again.
    void Leave() {
        if (pending.empty()) {
            owner.store(std::thread::id(), std::memory_order_relaxed);
            mutex.unlock();
            return;
        }
        std::vector<INUVWrapper*> released;
        released.swap(pending);
        owner.store(std::thread::id(), std::memory_order_relaxed);
        mutex.unlock();
        for (INUVWrapper* w : released) w->Release();
    }
};

// Never destroyed: engine calls may come during process exit.
EngineLock& engine_lock() {
    static EngineLock* const lock = new EngineLock;
    return *lock;
}

}  // namespace

EngineCall::EngineCall() {
    EngineLock& lock = engine_lock();
    if (lock.HeldHere())
        ++lock.depth;
    else
        lock.Take(1);
}

EngineCall::~EngineCall() {
    EngineLock& lock = engine_lock();
    if (--lock.depth == 0) lock.Leave();
}

Callout::Callout() : depth_(0) {
    EngineLock& lock = engine_lock();
    if (!lock.HeldHere()) return;
    depth_ = std::exchange(lock.depth, 0);
    lock.Leave();
}

Callout::~Callout() {
    if (depth_ > 0) engine_lock().Take(depth_);
}

void ReleaseLater(INUVWrapper* wrapper) {
    if (!wrapper) return;
    EngineLock& lock = engine_lock();
    if (lock.HeldHere())
        lock.pending.push_back(wrapper);
    else
        wrapper->Release();
}

}  // namespace zeq
