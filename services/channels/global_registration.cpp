// Exported for hosts: put an interface into the process-wide interface holder, or take it out, starting
// from any simulation object. Every failure gives 0.
#include <string>

#include "atl/nuvatlcom.h"
#include "nuv_export.h"
#include "nuv_text.h"
#include "nuvclasslib.h"

namespace {

// The functions answer only with their result: the thread's error information is left as it was found,
// whatever the calls on the way set.
class KeepErrorInfo {
public:
    KeepErrorInfo() { GetErrorInfo(0, &m_saved); }
    ~KeepErrorInfo() { SetErrorInfo(0, m_saved); }
    KeepErrorInfo(const KeepErrorInfo&) = delete;
    KeepErrorInfo& operator=(const KeepErrorInfo&) = delete;

private:
    CComPtr<IErrorInfo> m_saved;
};

// The holder, reached as the simulation's "NUVInterfaceHolder" service.
CComPtr<INUVInterfaceHolder> HolderOf(IUnknown* simulation_object) {
    CComPtr<INUVSimulation> simulation;
    if (FAILED(simulation_object->QueryInterface(IID_INUVSimulation, reinterpret_cast<void**>(&simulation))) ||
        !simulation)
        return nullptr;
    CComPtr<IUnknown> service;
    CComBSTR name(OLESTR("NUVInterfaceHolder"));
    if (FAILED(simulation->GetService(name, &service)) || !service) return nullptr;
    CComPtr<INUVInterfaceHolder> holder;
    if (FAILED(service->QueryInterface(IID_INUVInterfaceHolder, reinterpret_cast<void**>(&holder)))) return nullptr;
    return holder;
}

CComBSTR Identifier(const char* identifier) {
    CComBSTR text;
    text.Attach(nuv::bstr_from_utf8(identifier));
    return text;
}

}  // namespace

extern "C" NUV_EXPORT int RegisterSimWithGlobal(IUnknown* simulation, IUnknown* pInterface, const char* identifier) {
    if (!simulation || !pInterface || !identifier || !*identifier) return 0;
    KeepErrorInfo keep;
    CComPtr<INUVInterfaceHolder> holder = HolderOf(simulation);
    if (!holder) return 0;
    CComBSTR name = Identifier(identifier);
    if (!name) return 0;
    return SUCCEEDED(holder->Register(name, pInterface)) ? 1 : 0;
}

extern "C" NUV_EXPORT int UnregisterSimWithGlobal(IUnknown* simulation, const char* identifier) {
    if (!simulation || !identifier || !*identifier) return 0;
    KeepErrorInfo keep;
    CComPtr<INUVInterfaceHolder> holder = HolderOf(simulation);
    if (!holder) return 0;
    CComBSTR name = Identifier(identifier);
    if (!name) return 0;
    return SUCCEEDED(holder->Unregister(name)) ? 1 : 0;
}
