#include "reclaim.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <utility>

#include "engine_lock.h"

namespace zeq::reclaim {

namespace {

// One domain for every simulation. Its lock is a leaf: held only to queue or take batches.
struct Domain {
    std::atomic<uint64_t> epoch{2};
    std::atomic<int64_t> readers[2] = {0, 0};  // by the parity of the epoch each joined
    std::atomic<size_t> waiting{0};
    std::mutex lock;
    struct Batch {
        uint64_t tag;
        std::vector<Garbage> objects;
    };
    std::deque<Batch> batches;  // in tag order

    // Moves the epoch from e to e + 1 when no reader is left in e - 1 (the parity e + 1 shares).
    void TryAdvance() {
        uint64_t e = epoch.load();
        if (readers[(e + 1) & 1].load() == 0) epoch.compare_exchange_strong(e, e + 1);
    }
};

// Never destroyed: engine calls and uses may come during process exit.
Domain& TheDomain() {
    static Domain* const domain = new Domain;
    return *domain;
}

bool EngineLockHeldHere() { return lock_detail::TheLock().HeldHere(); }

}  // namespace

unsigned Enter() {
    Domain& d = TheDomain();
    for (;;) {
        const uint64_t e = d.epoch.load();
        const unsigned parity = static_cast<unsigned>(e & 1);
        d.readers[parity].fetch_add(1);
        if (d.epoch.load() == e) return parity;
        d.readers[parity].fetch_sub(1);
    }
}

void Exit(unsigned parity) {
    Domain& d = TheDomain();
    d.readers[parity & 1].fetch_sub(1);
    if (d.waiting.load() == 0) return;
    if (EngineLockHeldHere())
        CollectWhenLeft();
    else
        Collect();
}

void HandOver(std::vector<Garbage>&& objects) {
    if (objects.empty()) return;
    Domain& d = TheDomain();
    {
        std::lock_guard lock(d.lock);
        d.waiting.fetch_add(objects.size());
        d.batches.push_back(Domain::Batch{d.epoch.load(), std::move(objects)});
    }
    if (EngineLockHeldHere())
        CollectWhenLeft();
    else
        Collect();
}

void Collect() {
    Domain& d = TheDomain();
    d.TryAdvance();
    d.TryAdvance();
    std::vector<Garbage> due;
    {
        std::lock_guard lock(d.lock);
        const uint64_t now = d.epoch.load();
        while (!d.batches.empty() && d.batches.front().tag + 2 <= now) {
            std::vector<Garbage>& objects = d.batches.front().objects;
            if (due.empty())
                due.swap(objects);
            else
                due.insert(due.end(), objects.begin(), objects.end());
            d.batches.pop_front();
        }
    }
    if (due.empty()) return;
    for (const Garbage& g : due) g.destroy(g.object);
    d.waiting.fetch_sub(due.size());
}

size_t Waiting() { return TheDomain().waiting.load(); }

}  // namespace zeq::reclaim
