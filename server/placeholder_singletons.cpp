// PLACEHOLDERS for the message object and the interface holder: objects of the right classes and
// interfaces whose members are not implemented yet (E_NOTIMPL). The module's hooks create and release
// them through CreateMessagesSingleton / CreateInterfaceHolderSingleton, exactly as they will the
// finished classes, which replace this file.
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

HRESULT CreateMessagesSingleton(IUnknown** out) { return CreateCached<CoNUVSimulationMsgs, INUVSimulationMsgs2>(out); }
HRESULT CreateInterfaceHolderSingleton(IUnknown** out) {
    return CreateCached<CoNUVInterfaceHolder, INUVInterfaceHolder>(out);
}
