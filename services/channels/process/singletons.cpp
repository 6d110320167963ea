// The module's two process-wide objects: made by the object map's start-up hooks, reached through
// QuerySimulationMsgs and QueryInterfaceHolder.
#include <atomic>

#include "interface_holder.h"
#include "simulation_msgs.h"
#include "nuv_export.h"
#include "process_singletons.h"

namespace {

std::atomic<LONG> g_live{0};

template <class T, class Itf>
HRESULT CreateCached(IUnknown** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    CComObjectCached<T>* p = nullptr;
    HRESULT hr = CComObjectCached<T>::CreateInstance(&p);
    if (FAILED(hr)) return hr;
    p->AddRef();
    *out = static_cast<Itf*>(p);
    return S_OK;
}

}  // namespace

namespace nuv {
LiveSingleton::LiveSingleton() { ++g_live; }
LiveSingleton::~LiveSingleton() { --g_live; }
}  // namespace nuv

extern "C" NUV_EXPORT LONG NuvLiveSingletonCount() { return g_live.load(); }

HRESULT CreateMessagesSingleton(IUnknown** out) { return CreateCached<CoNUVSimulationMsgs, INUVSimulationMsgs2>(out); }
HRESULT CreateInterfaceHolderSingleton(IUnknown** out) {
    return CreateCached<CoNUVInterfaceHolder, INUVInterfaceHolder>(out);
}

namespace {

// The object behind a counted interface of it (its self entry; not counted).
CoNUVSimulationMsgs* MessagesObject(IUnknown* unk) {
    void* self = nullptr;
    return unk && SUCCEEDED(unk->QueryInterface(GUID_NULL, &self)) ? static_cast<CoNUVSimulationMsgs*>(self) : nullptr;
}

}  // namespace

HRESULT QuerySimulationMsgs(REFIID riid, void** ppv) {
    HRESULT hr = GetProcessSingleton(CLSID_NUVSimulationMsgs, riid, ppv);
    if (FAILED(hr)) return hr;
    // Whatever interface was asked for, the service has been handed out.
    CoNUVSimulationMsgs* object = riid == GUID_NULL ? nullptr : MessagesObject(static_cast<IUnknown*>(*ppv));
    if (object) object->InstallPipe();
    return hr;
}

HRESULT RegisterMessageDocument(nuv::MessageLineReceiver* receiver) {
    if (!receiver) return E_POINTER;
    CComPtr<INUVSimulationMsgs> messages;
    HRESULT hr = QuerySimulationMsgs(IID_INUVSimulationMsgs, reinterpret_cast<void**>(&messages));
    if (FAILED(hr)) return hr;
    CoNUVSimulationMsgs* object = MessagesObject(messages);
    if (!object) return E_UNEXPECTED;
    object->AddReceiver(receiver);
    return S_OK;
}

void UnregisterMessageDocument(nuv::MessageLineReceiver* receiver) {
    // Reached without handing the service out, so the engine's pipes stay as they are.
    CComPtr<IConnectionPointContainer> messages;
    if (FAILED(GetProcessSingleton(CLSID_NUVSimulationMsgs, IID_IConnectionPointContainer,
                                   reinterpret_cast<void**>(&messages))))
        return;
    if (CoNUVSimulationMsgs* object = MessagesObject(messages)) object->RemoveReceiver(receiver);
}
