// What the task services share: a COM object with late binding through the type library, class
// information, error information for its own interface only, and the simulation it is bound to.
#pragma once
#include <new>

#include "atl/nuvatlcom.h"
#include "error_table.h"
#include "nuvclasslib.h"
#include "service_binding.h"
#include "service_providers.h"

namespace nuv {

// T declares `using ComMap = CComMap<...>` and `static constexpr const char* kErrorSource`.
template <class T, class Itf, const CLSID* pclsid, const IID* errorIid = &__uuidof(Itf)>
class TaskServiceBase : public CComObjectRootEx<CComMultiThreadModel>,
                        public IDispatchImpl<Itf, &__uuidof(Itf), &LIBID_NUVClassLib380, 38, 0>,
                        public IProvideClassInfo2Impl<pclsid, &IID_NULL, &LIBID_NUVClassLib380, 38, 0>,
                        public ISupportErrorInfo {
public:
    STDMETHOD(InterfaceSupportsErrorInfo)(REFIID riid) override { return riid == *errorIid ? S_OK : S_FALSE; }

    HRESULT ReportError(HRESULT hr) const { return ReportComError(T::kErrorSource, hr); }
    // A failure the platform's own code names (a null pointer, a member not implemented), reported with
    // that code's plain text.
    HRESULT ReportStandard(HRESULT hr) const { return ReportStandardError(T::kErrorSource, hr); }
    const SimulationBinding& Binding() const { return binding_; }

    // A new service bound to `simulation`, queried for riid: the simulation service provider's maker.
    static HRESULT Make(CoNUVSimulation* simulation, REFIID riid, void** ppv) {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        CComObject<T>* object = nullptr;
        HRESULT hr = CComObject<T>::CreateInstance(&object);
        if (FAILED(hr)) return hr;
        object->AddRef();
        object->binding_.Bind(simulation);
        hr = object->QueryInterface(riid, ppv);
        object->Release();
        return hr;
    }

protected:
    SimulationBinding binding_;
};

// Makes a service class known to the simulation service provider when the library loads.
struct SimServiceRegistration {
    SimServiceRegistration(REFGUID service, SimServiceMaker maker) { RegisterSimServiceMaker(service, maker); }
};

}  // namespace nuv
