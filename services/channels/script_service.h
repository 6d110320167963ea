// The script service: runs one command of the engine's command language for an automation client,
// echoing it into the engine's standard output and raising it as one request (events 19 and 20).
#pragma once
#include "atl/nuvatlcom.h"
#include "nuvclasslib.h"
#include "service_binding.h"

class CoEBScriptService : public CComObjectRootEx<CComMultiThreadModel>,
                          public IDispatchImpl<IEBScriptService>,
                          public IProvideClassInfo2Impl<&CLSID_EBScriptService>,
                          public ISupportErrorInfoImpl<&IID_IEBScriptService> {
public:
    using ComMap = CComMap<ComEntry<IEBScriptService>, ComEntry2<IDispatch, IEBScriptService>,
                           ComEntry<IProvideClassInfo2>, ComEntry2<IProvideClassInfo, IProvideClassInfo2>,
                           ComEntry<ISupportErrorInfo>, ComSelfEntry>;

    // The result is the engine's for the command; E_POINTER for a null command; DISP_E_EXCEPTION with
    // error information when the simulation is gone or the command failed (E_FAIL or an exception).
    STDMETHOD(Execute)(BSTR command) override;

    nuv::SimulationBinding& Binding() { return m_binding; }

    // A new service bound to the simulation wrapper, queried for riid.
    static HRESULT Make(CoNUVSimulation* simulation, REFIID riid, void** ppv);

private:
    nuv::SimulationBinding m_binding;
};
