// Late-bound calls through IDispatch as an automation script client makes them: members by name,
// arguments in order, failures with the error text the object left.
#pragma once
#include <oleauto.h>
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "atl/nuvatlbase.h"

namespace host {

// The outcome of one call: the HRESULT and, for a failure, "source: description" as the client sees it.
struct CallResult {
    HRESULT hr = S_OK;
    std::string error;
    bool ok() const { return SUCCEEDED(hr); }
};

enum class CallKind { GetOrCall, Put };

// Calls `member` of `object` with `args` (in source order). A get or call leaves its value in `result`.
CallResult Call(IDispatch* object, const std::string& member, CallKind kind, std::vector<CComVariant>& args,
                VARIANT* result);
// The default member (DISPID_VALUE) with arguments, as in `collection(1)`.
CallResult CallDefault(IDispatch* object, std::vector<CComVariant>& args, VARIANT* result);
// Every element the object's _NewEnum yields.
CallResult Enumerate(IDispatch* object, std::vector<CComVariant>& items);
// The same, one item at a time: each item is released before the next is fetched.
CallResult ForEach(IDispatch* object, const std::function<void(const CComVariant&)>& each);

// The IDispatch a VARIANT holds (VT_DISPATCH, or VT_UNKNOWN that answers it); null when none.
CComPtr<IDispatch> DispatchOf(const VARIANT& value);

// A value as a person reads it: texts as they are, numbers in shortest form, True/False, arrays in
// parentheses (a matrix row by row), objects as their Name when they have one.
std::string Format(const VARIANT& value);

// "0x80040201".
std::string Hex(HRESULT hr);

// A one-dimensional VARIANT array (lower bound 1) of the values.
HRESULT MakeArray(const std::vector<CComVariant>& values, VARIANT* out);
// A two-dimensional VARIANT array whose element (i, j) is element j of row i (lower bounds 1).
HRESULT MakeTable(const std::vector<std::vector<CComVariant>>& rows, VARIANT* out);

}  // namespace host
