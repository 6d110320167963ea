// The process-wide table of interfaces by name, through which programs sharing the process find each
// other's objects.
#pragma once
#include <map>
#include <mutex>
#include <string>

#include "atl/nuvatlcom.h"
#include "live_count.h"
#include "nuvclasslib.h"

class CoNUVInterfaceHolder : public CComObjectRootEx<CComMultiThreadModel>,
                             public INUVInterfaceHolder,
                             private nuv::LiveSingleton {
public:
    using ComMap = CComMap<ComEntry<INUVInterfaceHolder>, ComSelfEntry>;

    // Names are compared byte by byte as 8-bit text, so case matters. Failures give E_FAIL without
    // error information.
    STDMETHOD(Register)(BSTR name, IUnknown* pInterface) override;
    STDMETHOD(Unregister)(BSTR name) override;
    STDMETHOD(GetInterface)(BSTR name, IUnknown** ppInterface) override;

    // The table's references go with it.
    void FinalRelease();

private:
    // A leaf lock: the only call made under it is the AddRef that hands an entry out (the table's own
    // reference keeps the entry alive until then); every other AddRef and every Release happen outside.
    std::mutex m_mutex;
    std::map<std::string, IUnknown*> m_table;  // one reference per entry
};

// The process-wide holder queried for riid; E_UNEXPECTED while the module is not started.
HRESULT QueryInterfaceHolder(REFIID riid, void** ppv);
