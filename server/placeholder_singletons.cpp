// Stand-ins for the message object and the interface holder: objects of the right classes and
// interfaces whose members are not implemented yet (E_NOTIMPL). The module's hooks create and release
// them exactly as they will the finished classes.
#include <atomic>

#include "atl/nuvatlcom.h"
#include "nuvclasslib.h"
#include "process_singletons.h"

namespace {
std::atomic<LONG> g_live{0};
}

// Live stand-in objects, for tests of the module's start and stop.
extern "C" __attribute__((visibility("default"))) LONG NuvLiveSingletonCount() { return g_live.load(); }

class CoNUVSimulationMsgs : public CComObjectRootEx<CComMultiThreadModel>,
                            public IDispatchImpl<INUVSimulationMsgs2>,
                            public ISupportErrorInfoImpl<&IID_INUVSimulationMsgs, &IID_INUVSimulationMsgs2> {
public:
    using ComMap = CComMap<ComEntry<INUVSimulationMsgs2>, ComEntry2<INUVSimulationMsgs, INUVSimulationMsgs2>,
                           ComEntry2<IDispatch, INUVSimulationMsgs2>, ComEntry<ISupportErrorInfo>, ComSelfEntry>;
    CoNUVSimulationMsgs() { ++g_live; }
    ~CoNUVSimulationMsgs() { --g_live; }

    STDMETHOD(put_BufferSize)(LONG) override { return E_NOTIMPL; }
    STDMETHOD(get_BufferSize)(LONG*) override { return E_NOTIMPL; }
    STDMETHOD(get_LineCount)(LONG*) override { return E_NOTIMPL; }
    STDMETHOD(get_GetLines)(LONG, LONG, SAFEARRAY**) override { return E_NOTIMPL; }
    STDMETHOD(ClearBuffer)() override { return E_NOTIMPL; }
    STDMETHOD(put_OutputFile)(BSTR) override { return E_NOTIMPL; }
    STDMETHOD(get_OutputFile)(BSTR*) override { return E_NOTIMPL; }
    STDMETHOD(UpdateProfiles)(SAFEARRAY*, SAFEARRAY*, SAFEARRAY*, DOUBLE) override { return E_NOTIMPL; }
    STDMETHOD(ResetSimulation)() override { return E_NOTIMPL; }
};

class CoNUVInterfaceHolder : public CComObjectRootEx<CComMultiThreadModel>, public INUVInterfaceHolder {
public:
    using ComMap = CComMap<ComEntry<INUVInterfaceHolder>, ComSelfEntry>;
    CoNUVInterfaceHolder() { ++g_live; }
    ~CoNUVInterfaceHolder() { --g_live; }

    STDMETHOD(Register)(BSTR, IUnknown*) override { return E_NOTIMPL; }
    STDMETHOD(Unregister)(BSTR) override { return E_NOTIMPL; }
    STDMETHOD(GetInterface)(BSTR, IUnknown** pp) override {
        if (pp) *pp = nullptr;
        return E_NOTIMPL;
    }
};

namespace {

template <class T>
struct Singleton {
    CComObjectCached<T>* object = nullptr;

    void Start() {
        if (object) return;
        CComObjectCached<T>* p = nullptr;
        if (FAILED(CComObjectCached<T>::CreateInstance(&p))) return;
        p->AddRef();
        object = p;
    }
    void Stop() {
        if (auto* p = std::exchange(object, nullptr)) p->Release();
    }
};

Singleton<CoNUVSimulationMsgs> g_messages;
Singleton<CoNUVInterfaceHolder> g_holder;

}  // namespace

void MessagesObjectMain(bool starting) { starting ? g_messages.Start() : g_messages.Stop(); }
void InterfaceHolderObjectMain(bool starting) { starting ? g_holder.Start() : g_holder.Stop(); }

HRESULT GetProcessSingleton(REFCLSID clsid, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    IUnknown* unk = nullptr;
    if (clsid == CLSID_NUVSimulationMsgs)
        unk = g_messages.object ? static_cast<INUVSimulationMsgs2*>(g_messages.object) : nullptr;
    else if (clsid == CLSID_NUVInterfaceHolder)
        unk = g_holder.object ? static_cast<INUVInterfaceHolder*>(g_holder.object) : nullptr;
    else
        return CLASS_E_CLASSNOTAVAILABLE;
    if (!unk) return E_UNEXPECTED;
    return unk->QueryInterface(riid, ppv);
}
