#include "callbacks_helper.h"

#include <map>
#include <mutex>

#include "event_manager.h"
#include "nuv_wrapper.h"
#include "run_receivers.h"
#include "simulation.h"
#include "zeq_events.h"
#include "zeq_objects.h"

bool NUVCallbacksHelper::m_bCallbacksInitialized = false;
bool NUVCallbacksHelper::m_bServerCallbacksSet = false;
bool NUVCallbacksHelper::m_bRequestCallbacksSet = false;
bool NUVCallbacksHelper::m_bVariableCallbacksSet = false;
bool NUVCallbacksHelper::m_bFlowhseetCallbacksSet = false;
bool NUVCallbacksHelper::m_bBlockCallbacksSet = false;

namespace {

using nuv::events::CoNUVSimEventMgr;

// Guards the once-flags and the count of table users. Taken before the engine's own table lock and
// never while calling into a simulation or a sink.
std::mutex& HelperLock() {
    static std::mutex lock;
    return lock;
}
int g_tableUsers = 0;

// The simulation wrapper of an engine simulation, counted; null at any missing link.
struct FoundSimulation {
    CComPtr<IUnknown> outer;
    CoNUVSimulation* simulation = nullptr;
};

FoundSimulation FindSimulation(ZEQEOSimulation* sim) {
    FoundSimulation found;
    if (!sim) return found;
    INUVWrapper* wrapper = sim->GetWrapper();
    if (!wrapper || FAILED(wrapper->QueryOuter(IID_IUnknown, reinterpret_cast<void**>(&found.outer))) || !found.outer)
        return found;
    found.simulation = nuv::ImplementationOf<CoNUVSimulation>(found.outer);
    return found;
}

struct FoundManager {
    CComPtr<INUVSimEventMgr> held;
    CoNUVSimEventMgr* manager = nullptr;
};

FoundManager FindEventManager(CoNUVSimulation* simulation) {
    FoundManager found{simulation ? simulation->GetSimEventMgr() : CComPtr<INUVSimEventMgr>()};
    found.manager = CoNUVSimEventMgr::From(found.held);
    return found;
}

template <int Event>
intptr_t EngineEventCallback(intptr_t a, intptr_t b, ZEQEOSimulation* sim) {
    FoundSimulation owner = FindSimulation(sim);
    if constexpr (Event == ZEQ_EVT_RUN_STARTED) {
        if (auto receiver = nuv::events::FindRunReceiver(owner.simulation)) receiver->NotifyRunStarted();
        return 0;
    } else {
        intptr_t result = 0;
        {
            FoundManager found = FindEventManager(owner.simulation);
            if (found.manager) result = found.manager->OnEngineEvent(Event, a, b);
        }
        if constexpr (Event == ZEQ_EVT_RUN_FINISHED) {
            if (auto receiver = nuv::events::FindRunReceiver(owner.simulation))
                receiver->NotifyRunFinished(static_cast<int32_t>(b));
        }
        return result;
    }
}

template <int... Events>
void Install() {
    (rtoevent_set_callback(Events, &EngineEventCallback<Events>), ...);
}

// With the helper lock held.
void InitializeLocked() {
    if (NUVCallbacksHelper::m_bCallbacksInitialized) return;
    rtoevent_create_callbacks(29);
    Install<1, 2>();
    NUVCallbacksHelper::m_bCallbacksInitialized = true;
}

void ResetLocked() {
    NUVCallbacksHelper::m_bCallbacksInitialized = false;
    NUVCallbacksHelper::m_bServerCallbacksSet = false;
    NUVCallbacksHelper::m_bRequestCallbacksSet = false;
    NUVCallbacksHelper::m_bVariableCallbacksSet = false;
    NUVCallbacksHelper::m_bFlowhseetCallbacksSet = false;
    NUVCallbacksHelper::m_bBlockCallbacksSet = false;
}

// Installs a group once; the table is made sure of first, whoever created it.
template <int... Events>
void InstallGroup(bool& flag) {
    std::lock_guard lock(HelperLock());
    InitializeLocked();
    if (flag) return;
    Install<Events...>();
    flag = true;
}

}  // namespace

NUVCallbacksHelper& NUVCallbacksHelper::operator=(const NUVCallbacksHelper&) = default;
NUVCallbacksHelper& NUVCallbacksHelper::operator=(NUVCallbacksHelper&&) = default;

void NUVCallbacksHelper::InitializeCallbacks() {
    std::lock_guard lock(HelperLock());
    InitializeLocked();
}

void NUVCallbacksHelper::SetServerCallbacks() {}

void NUVCallbacksHelper::SetRequestCallbacks() { InstallGroup<19, 20>(m_bRequestCallbacksSet); }

void NUVCallbacksHelper::SetVariableCallbacks() { InstallGroup<18>(m_bVariableCallbacksSet); }

void NUVCallbacksHelper::SetFlowsheetCallbacks() { InstallGroup<4, 5, 6, 21, 22>(m_bFlowhseetCallbacksSet); }

void NUVCallbacksHelper::SetBlockCallbacks() {
    InstallGroup<7, 8, 9, 10, 11, 12, 13, 14, 16, 24, 26, 28>(m_bBlockCallbacksSet);
}

void NUVCallbacksHelper::ReSetAllCallbackBooleans() {
    std::lock_guard lock(HelperLock());
    ResetLocked();
}

namespace nuv::events {

CallbackTableUse::CallbackTableUse() {
    std::lock_guard lock(HelperLock());
    ++g_tableUsers;
    InitializeLocked();
}

CallbackTableUse::~CallbackTableUse() {
    std::lock_guard lock(HelperLock());
    if (--g_tableUsers > 0) return;
    g_tableUsers = 0;
    rtoevent_destroy_callbacks();
    ResetLocked();
}

int CallbackTableUsers() {
    std::lock_guard lock(HelperLock());
    return g_tableUsers;
}

// ---- Run receivers ----

namespace {

struct Registration {
    std::shared_ptr<EngineRunReceiver> receiver;
    std::unique_ptr<CallbackTableUse> use;
};

std::mutex& ReceiverLock() {
    static std::mutex lock;
    return lock;
}

// Made with the first registration and freed with the last, under the receiver lock: nothing with a
// destructor is left for the library's unloading, and nothing stays allocated once every run
// receiver is gone.
using ReceiverMap = std::map<CoNUVSimulation*, Registration>;
ReceiverMap* g_receivers = nullptr;

ReceiverMap& Receivers() {
    if (!g_receivers) g_receivers = new ReceiverMap;
    return *g_receivers;
}

void DropReceiversIfEmpty() {
    if (g_receivers && g_receivers->empty()) {
        delete g_receivers;
        g_receivers = nullptr;
    }
}

}  // namespace

void RegisterRunReceiver(CoNUVSimulation* simulation, std::shared_ptr<EngineRunReceiver> receiver) {
    if (!simulation || !receiver) return;
    Registration replaced;
    {
        auto use = std::make_unique<CallbackTableUse>();
        std::lock_guard lock(ReceiverLock());
        Registration& r = Receivers()[simulation];
        std::swap(replaced.receiver, r.receiver);
        std::swap(replaced.use, r.use);
        r.receiver = std::move(receiver);
        r.use = std::move(use);
    }
    NUVCallbacksHelper::SetFlowsheetCallbacks();
    // `replaced` lets go of the previous receiver and its table use here, outside the lock.
}

bool UnregisterRunReceiver(CoNUVSimulation* simulation, const EngineRunReceiver* receiver) {
    Registration removed;
    {
        std::lock_guard lock(ReceiverLock());
        if (!g_receivers) return false;
        auto it = g_receivers->find(simulation);
        if (it == g_receivers->end() || it->second.receiver.get() != receiver) return false;
        std::swap(removed.receiver, it->second.receiver);
        std::swap(removed.use, it->second.use);
        g_receivers->erase(it);
        DropReceiversIfEmpty();
    }
    return true;
}

std::shared_ptr<EngineRunReceiver> FindRunReceiver(CoNUVSimulation* simulation) {
    if (!simulation) return nullptr;
    std::lock_guard lock(ReceiverLock());
    if (!g_receivers) return nullptr;
    auto it = g_receivers->find(simulation);
    return it == g_receivers->end() ? nullptr : it->second.receiver;
}

}  // namespace nuv::events
