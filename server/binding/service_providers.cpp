#include "service_providers.h"

#include <atomic>
#include <cstring>
#include <map>
#include <mutex>

#include "atl/nuvatlbase.h"
#include "class_factory.h"
#include "interface_holder.h"
#include "message_receivers.h"
#include "nuvclasslib.h"
#include "rezoraruz.h"
#include "simulation.h"
#include "wrapper_base.h"

namespace {

struct GuidLess {
    bool operator()(const GUID& a, const GUID& b) const { return std::memcmp(&a, &b, sizeof(GUID)) < 0; }
};

struct MakerRegistry {
    std::mutex lock;
    std::map<GUID, nuv::SimServiceMaker, GuidLess> sim;
    nuv::BlockServiceMaker block = nullptr;
};

MakerRegistry& Registry() {
    static MakerRegistry registry;
    return registry;
}

nuv::SimServiceMaker FindSimMaker(REFGUID service) {
    MakerRegistry& r = Registry();
    std::lock_guard lock(r.lock);
    auto it = r.sim.find(service);
    return it == r.sim.end() ? nullptr : it->second;
}

// The count and the engine-side QueryInterface both providers share; the count is atomic because the
// engine may take and drop references from any of its threads.
template <class Itf>
class ProviderBase : public Itf {
public:
    virtual ~ProviderBase() = default;
    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_INUVServiceProvider) {
            *ppv = static_cast<Itf*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHOD_(ULONG, AddRef)() override { return static_cast<ULONG>(++m_ref); }
    STDMETHOD_(ULONG, Release)() override {
        const LONG n = --m_ref;
        if (n == 0) delete this;
        return static_cast<ULONG>(n);
    }

private:
    std::atomic<LONG> m_ref{0};
};

class CoNUVSimServiceProvider final : public ProviderBase<INUVSimServiceProvider> {
public:
    STDMETHOD(CreateService)(ZEQEOSimulation* sim, REFGUID service, REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        CComPtr<INUVSimulation> wrapper;
        HRESULT hr = NUVClassFactory::QuerySimulationWrapper(sim, &wrapper);
        if (FAILED(hr)) return hr;
        CoNUVSimulation* simulation = nuv::ImplementationOf<CoNUVSimulation>(wrapper);
        if (!simulation) return E_UNEXPECTED;
        hr = nuv::kNoService;
        // The process objects are handed out through their own functions: the message object's installs
        // it as the engine's output, whatever interface the client asked for.
        if (service == IID_INUVSimulationMsgs) {
            hr = QuerySimulationMsgs(riid, ppv);
        } else if (service == IID_INUVSimEventMgr) {
            hr = CoNUVSimulation::GetSimEventManager(simulation, riid, ppv);
        } else if (service == IID_INUVInterfaceHolder) {
            hr = QueryInterfaceHolder(riid, ppv);
        } else if (nuv::SimServiceMaker make = FindSimMaker(service)) {
            hr = make(simulation, riid, ppv);
        }
        if (FAILED(hr) && *ppv) {
            static_cast<IUnknown*>(*ppv)->Release();
            *ppv = nullptr;
        }
        return hr;
    }
};

class CoNUVBlockServiceProvider final : public ProviderBase<INUVBlockServiceProvider> {
public:
    STDMETHOD(CreateService)(ZEQEOCntr* container, ZEQEOBlock* block, REFGUID service, REFIID riid,
                             void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (service != IID_INUVEditBlock) return nuv::kNoService;
        // Blocks are edited only in a container: the flowsheet or a hierarchy block's.
        if (block && !block->GetSubContainer(container)) return nuv::kNoService;
        nuv::BlockServiceMaker make = nullptr;
        {
            MakerRegistry& r = Registry();
            std::lock_guard lock(r.lock);
            make = r.block;
        }
        if (!make) return nuv::kNoService;
        return make(container, block, riid, ppv);
    }
};

}  // namespace

namespace nuv {

void RegisterSimServiceMaker(REFGUID service, SimServiceMaker maker) {
    MakerRegistry& r = Registry();
    std::lock_guard lock(r.lock);
    if (maker)
        r.sim[service] = maker;
    else
        r.sim.erase(service);
}

void RegisterBlockServiceMaker(BlockServiceMaker maker) {
    MakerRegistry& r = Registry();
    std::lock_guard lock(r.lock);
    r.block = maker;
}

HRESULT CreateSimServiceProvider(INUVSimServiceProvider** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    auto* p = new (std::nothrow) CoNUVSimServiceProvider();
    if (!p) return E_OUTOFMEMORY;
    p->AddRef();
    *out = p;
    return S_OK;
}

HRESULT CreateBlockServiceProvider(INUVBlockServiceProvider** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    auto* p = new (std::nothrow) CoNUVBlockServiceProvider();
    if (!p) return E_OUTOFMEMORY;
    p->AddRef();
    *out = p;
    return S_OK;
}

}  // namespace nuv
