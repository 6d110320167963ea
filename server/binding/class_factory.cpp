#include "class_factory.h"

#include <atomic>

#include "block.h"
#include "rezoraruz.h"
#include "service_providers.h"
#include "simulation.h"

namespace {

std::atomic<nuv::IndexedWrapperMaker> g_variableMaker{nullptr};
std::atomic<nuv::IndexedWrapperMaker> g_equationMaker{nullptr};

// A new block wrapper queried for riid and attached; the engine then holds it.
HRESULT CreateBlockWrapper(ZEQEOSimulation* sim, ZEQEOBlock* block, ZEQEOCntr* container, REFIID riid, void** ppv) {
    CComObject<CoNUVBlock>* object = nullptr;
    HRESULT hr = CComObject<CoNUVBlock>::CreateInstance(&object);
    if (FAILED(hr)) return hr;
    object->AddRef();
    hr = object->QueryInterface(riid, ppv);
    if (SUCCEEDED(hr)) object->Attach(sim, block, container);
    object->Release();  // frees the object when the query failed
    return hr;
}

HRESULT CreateIndexed(std::atomic<nuv::IndexedWrapperMaker>& maker, ZEQEOSimulation* sim, int index, REFIID riid,
                      void** ppv, INUVWrapper** wrapper) {
    if (!ppv || !wrapper) return E_POINTER;
    *ppv = nullptr;
    *wrapper = nullptr;
    if (!sim) return E_INVALIDARG;
    if (!nuv::IsClientInterface(riid)) return E_NOINTERFACE;
    nuv::IndexedWrapperMaker make = maker.load();
    if (!make) return E_NOTIMPL;
    return make(sim, index, riid, ppv, wrapper);
}

}  // namespace

namespace nuv {
std::recursive_mutex& WrapperCreationLock() {
    static std::recursive_mutex lock;
    return lock;
}

void SetVariableWrapperMaker(IndexedWrapperMaker maker) { g_variableMaker.store(maker); }
void SetEquationWrapperMaker(IndexedWrapperMaker maker) { g_equationMaker.store(maker); }
}  // namespace nuv

// The all-zero interface id would answer a wrapper's implementation, uncounted (a new wrapper's freed at
// once): the factory hands out counted interfaces only.
HRESULT NUVClassFactory::QueryCreateWrapper(ZEQEOSimulation* sim, REFIID riid, void** ppv) {
    if (ppv && !nuv::IsClientInterface(riid)) {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    return CoNUVSimulation::CreateOrFind(sim, riid, ppv);
}

HRESULT NUVClassFactory::QueryCreateWrapper(ZEQEOSimulation* sim, ZEQEOCntr* container, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!sim || !container) return E_INVALIDARG;
    if (!nuv::IsClientInterface(riid)) return E_NOINTERFACE;
    std::lock_guard lock(nuv::WrapperCreationLock());
    if (INUVWrapper* w = container->GetWrapper()) return w->QueryOuter(riid, ppv);
    return CreateBlockWrapper(sim, container->GetOwnerBlock(), container, riid, ppv);
}

HRESULT NUVClassFactory::QueryCreateWrapper(ZEQEOSimulation* sim, ZEQEOBlock* block, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!sim || !block) return E_INVALIDARG;
    if (!nuv::IsClientInterface(riid)) return E_NOINTERFACE;
    std::lock_guard lock(nuv::WrapperCreationLock());
    if (INUVWrapper* w = block->GetWrapper()) return w->QueryOuter(riid, ppv);
    ZEQEOCntr* container = block->IsType("AGGREGATE") ? block->GetSubContainer(sim->GetFlowsheet()) : nullptr;
    return CreateBlockWrapper(sim, block, container, riid, ppv);
}

HRESULT NUVClassFactory::QueryCreateVarWrapper(ZEQEOSimulation* sim, int index, REFIID riid, void** ppv,
                                               INUVWrapper** wrapper) {
    return CreateIndexed(g_variableMaker, sim, index, riid, ppv, wrapper);
}

HRESULT NUVClassFactory::QueryCreateEqnWrapper(ZEQEOSimulation* sim, int index, REFIID riid, void** ppv,
                                               INUVWrapper** wrapper) {
    return CreateIndexed(g_equationMaker, sim, index, riid, ppv, wrapper);
}

HRESULT NUVClassFactory::QuerySimulationWrapper(ZEQEOSimulation* sim, INUVSimulation** out) {
    return QueryCreateWrapper(sim, IID_INUVSimulation, reinterpret_cast<void**>(out));
}

void NUVClassFactory::RegisterSimulationServices(ZEQEOSimulation* sim) {
    if (!sim) return;
    struct Service {
        const char* name;
        const IID& id;
    };
    static const Service kServices[] = {
        {"EBScriptService", IID_IEBScriptService},
        {"NUVSimulationMsgs", IID_INUVSimulationMsgs},
        {"NUVEditLibraries", IID_INUVEditLibraries},
        {"NUVSensitivity", IID_INUVSensitivity},
        {"NUVSimEventMgr", IID_INUVSimEventMgr},
        {"NUVInterfaceHolder", IID_INUVInterfaceHolder},
        {"NUVExternalFileService", IID_INUVExternalFileService},
        {"NUVDynamicsService", IID_INUVDynamicsService},
        {"NUVVariableProfile", IID_INUVVariableProfile},
    };
    CComPtr<INUVSimServiceProvider> provider;
    if (SUCCEEDED(nuv::CreateSimServiceProvider(&provider)))
        for (const Service& s : kServices) sim->RegisterService(s.name, s.id, provider);
    CComPtr<INUVBlockServiceProvider> block_provider;
    if (SUCCEEDED(nuv::CreateBlockServiceProvider(&block_provider)))
        sim->RegisterBlockService("NUVEditBlock", IID_INUVEditBlock, block_provider);
}

extern "C" {

HRESULT NUVClassFactory_QueryCreateWrapper(ZEQEOSimulation* sim, REFIID riid, void** ppv) {
    return NUVClassFactory::QueryCreateWrapper(sim, riid, ppv);
}

HRESULT NUVClassFactory_QueryCreateVarWrapper(ZEQEOSimulation* sim, int index, REFIID riid, void** ppv,
                                              INUVWrapper** wrapper) {
    return NUVClassFactory::QueryCreateVarWrapper(sim, index, riid, ppv, wrapper);
}

HRESULT NUVClassFactory_QueryCreateEqnWrapper(ZEQEOSimulation* sim, int index, REFIID riid, void** ppv,
                                              INUVWrapper** wrapper) {
    return NUVClassFactory::QueryCreateEqnWrapper(sim, index, riid, ppv, wrapper);
}

void NUVClassFactory_RegisterSimulationServices(ZEQEOSimulation* sim) {
    NUVClassFactory::RegisterSimulationServices(sim);
}

}  // extern "C"
