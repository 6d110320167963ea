#include "sim_uses.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "reclaim.h"
#include "zeq_host.h"

namespace zeq {

namespace {

struct Uses {
    const ZEQEOSimulation* sim;
    int count;
    bool closing;
};

struct Table {
    std::mutex lock;
    std::condition_variable ended;
    std::vector<Uses> live;  // a handful of simulations: searched in order

    Uses* Find(const ZEQEOSimulation* sim) {
        auto it = std::find_if(live.begin(), live.end(), [&](const Uses& u) { return u.sim == sim; });
        return it == live.end() ? nullptr : &*it;
    }
};

// Never destroyed: simulations may go during process exit.
Table& TheTable() {
    static Table* const table = new Table;
    return *table;
}

// The uses this thread holds, innermost last, each with the reclaimer epoch it joined (its parity, which
// is what leaving takes): what a thread closing a simulation must not wait for. Kept trivially
// destructible (a few inline, any deeper ones in a vector made when needed and freed once empty): a
// thread-local with a destructor of its own is destroyed, on some platforms' runtimes, after its storage
// is freed at thread exit.
struct HeldUse {
    const ZEQEOSimulation* sim;
    unsigned parity;
};
struct HeldUses {
    static constexpr size_t kInline = 16;
    HeldUse inline_uses[kInline];
    size_t count;
    std::vector<HeldUse>* deeper;

    HeldUse& At(size_t i) { return i < kInline ? inline_uses[i] : (*deeper)[i - kInline]; }
    void Push(HeldUse use) {
        if (count < kInline) {
            inline_uses[count] = use;
        } else {
            if (deeper == nullptr) deeper = new std::vector<HeldUse>;
            deeper->push_back(use);
        }
        ++count;
    }
    int Count(const ZEQEOSimulation* sim) {
        int n = 0;
        for (size_t i = 0; i < count; ++i) n += At(i).sim == sim ? 1 : 0;
        return n;
    }
    // Takes off the innermost use of sim and gives its parity; false when this thread holds none.
    bool Remove(const ZEQEOSimulation* sim, unsigned* parity) {
        size_t i = count;
        while (i > 0 && At(i - 1).sim != sim) --i;
        if (i == 0) return false;
        *parity = At(i - 1).parity;
        for (; i < count; ++i) At(i - 1) = At(i);
        --count;
        if (count > kInline) {
            deeper->pop_back();
        } else if (deeper != nullptr) {
            delete deeper;
            deeper = nullptr;
        }
        return true;
    }
};
constinit thread_local HeldUses t_held{};

}  // namespace

void SimulationOpened(const ZEQEOSimulation* sim) {
    Table& table = TheTable();
    std::lock_guard lock(table.lock);
    table.live.push_back(Uses{sim, 0, false});
}

void SimulationClosing(const ZEQEOSimulation* sim) {
    const int own = t_held.Count(sim);
    Table& table = TheTable();
    std::unique_lock lock(table.lock);
    Uses* uses = table.Find(sim);
    if (!uses) return;
    uses->closing = true;
    table.ended.wait(lock, [&] { return table.Find(sim)->count <= own; });
    table.live.erase(table.live.begin() + (table.Find(sim) - table.live.data()));
}

}  // namespace zeq

extern "C" {

bool zeq_begin_use(ZEQEOSimulation* sim) {
    if (!sim) return false;
    zeq::Table& table = zeq::TheTable();
    {
        std::lock_guard lock(table.lock);
        zeq::Uses* uses = table.Find(sim);
        if (!uses || uses->closing) return false;
        ++uses->count;
    }
    // A use reads engine objects: retired ones stay until it ends (reclaim.h).
    zeq::t_held.Push(zeq::HeldUse{sim, zeq::reclaim::Enter()});
    return true;
}

void zeq_end_use(ZEQEOSimulation* sim) {
    unsigned parity = 0;
    if (!zeq::t_held.Remove(sim, &parity)) return;  // not a use of this thread
    {
        zeq::Table& table = zeq::TheTable();
        std::lock_guard lock(table.lock);
        zeq::Uses* uses = table.Find(sim);
        if (uses && --uses->count >= 0 && uses->closing) table.ended.notify_all();
    }
    zeq::reclaim::Exit(parity);
}

}  // extern "C"
