#include "sim_uses.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <vector>

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

// The uses this thread holds, innermost last: what a thread closing a simulation must not wait for.
thread_local std::vector<const ZEQEOSimulation*> t_held;

}  // namespace

void SimulationOpened(const ZEQEOSimulation* sim) {
    Table& table = TheTable();
    std::lock_guard lock(table.lock);
    table.live.push_back(Uses{sim, 0, false});
}

void SimulationClosing(const ZEQEOSimulation* sim) {
    const int own = static_cast<int>(std::count(t_held.begin(), t_held.end(), sim));
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
    zeq::t_held.push_back(sim);
    return true;
}

void zeq_end_use(ZEQEOSimulation* sim) {
    auto it = std::find(zeq::t_held.rbegin(), zeq::t_held.rend(), sim);
    if (it == zeq::t_held.rend()) return;  // not a use of this thread
    zeq::t_held.erase(std::next(it).base());
    zeq::Table& table = zeq::TheTable();
    std::lock_guard lock(table.lock);
    zeq::Uses* uses = table.Find(sim);
    if (uses && --uses->count >= 0 && uses->closing) table.ended.notify_all();
}

}  // extern "C"
