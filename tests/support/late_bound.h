// Test support: late-bound calls through IDispatch by member name.
#pragma once
#include <vector>

#include "atl/nuvatlbase.h"

namespace nuvtest {

// A late-bound call by member name, arguments in reading order.
inline HRESULT CallByName(IDispatch* object, const OLECHAR* name, WORD flags, std::vector<CComVariant> args,
                          VARIANT* result, EXCEPINFO* exception = nullptr) {
    DISPID id = 0;
    LPOLESTR member = const_cast<LPOLESTR>(name);
    HRESULT hr = object->GetIDsOfNames(IID_NULL, &member, 1, 0, &id);
    if (FAILED(hr)) return hr;
    std::vector<VARIANT> reversed(args.rbegin(), args.rend());
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params{reversed.data(), flags == DISPATCH_PROPERTYPUT ? &named : nullptr,
                      static_cast<UINT>(reversed.size()), flags == DISPATCH_PROPERTYPUT ? 1u : 0u};
    UINT bad = 0;
    return object->Invoke(id, IID_NULL, 0, flags, &params, result, exception, &bad);
}

}  // namespace nuvtest
