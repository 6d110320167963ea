#include "dispatch_client.h"

#include <cmath>
#include <cstdio>

#include "nuv_text.h"
#include "system_messages.h"

namespace host {

namespace {

// The error a failed Invoke left: its EXCEPINFO for DISP_E_EXCEPTION, else the thread's error object.
CallResult Failure(HRESULT hr, EXCEPINFO& info) {
    CallResult r;
    r.hr = hr;
    std::string source, description;
    if (hr == DISP_E_EXCEPTION) {
        if (info.scode) r.hr = info.scode;
        if (info.bstrSource) source = nuv::bstr_to_utf8(info.bstrSource);
        if (info.bstrDescription) description = nuv::bstr_to_utf8(info.bstrDescription);
    } else {
        CComPtr<IErrorInfo> error;
        if (GetErrorInfo(0, &error) == S_OK && error) {
            CComBSTR s, d;
            error->GetSource(&s);
            error->GetDescription(&d);
            source = s.ToUtf8();
            description = d.ToUtf8();
        }
    }
    SysFreeString(info.bstrSource);
    SysFreeString(info.bstrDescription);
    SysFreeString(info.bstrHelpFile);
    description = WithSystemMessage(r.hr, description);
    r.error = source.empty() ? description : source + ": " + description;
    return r;
}

CallResult InvokeId(IDispatch* object, DISPID id, WORD flags, std::vector<CComVariant>& args, VARIANT* result) {
    // Arguments go in reverse order; a put names its last one.
    std::vector<VARIANT> reversed(args.rbegin(), args.rend());
    DISPID put = DISPID_PROPERTYPUT;
    DISPPARAMS params{};
    params.cArgs = static_cast<UINT>(reversed.size());
    params.rgvarg = reversed.empty() ? nullptr : reversed.data();
    if (flags & DISPATCH_PROPERTYPUT) {
        params.cNamedArgs = 1;
        params.rgdispidNamedArgs = &put;
    }
    EXCEPINFO info{};
    UINT arg_error = 0;
    SetErrorInfo(0, nullptr);
    HRESULT hr = object->Invoke(id, IID_NULL, 0, flags, &params, result, &info, &arg_error);
    if (FAILED(hr)) return Failure(hr, info);
    return CallResult{hr, {}};
}

}  // namespace

std::string Hex(HRESULT hr) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08X", static_cast<unsigned>(hr));
    return buf;
}

CallResult Call(IDispatch* object, const std::string& member, CallKind kind, std::vector<CComVariant>& args,
                VARIANT* result) {
    if (!object) return CallResult{E_POINTER, "Object required"};
    const auto wide = nuv::to_utf16(member);
    LPOLESTR name = const_cast<LPOLESTR>(wide.c_str());
    DISPID id = 0;
    HRESULT hr = object->GetIDsOfNames(IID_NULL, &name, 1, 0, &id);
    if (FAILED(hr)) return CallResult{hr, "Object doesn't support this property or method: '" + member + "'"};
    const WORD flags = kind == CallKind::Put ? DISPATCH_PROPERTYPUT : (DISPATCH_METHOD | DISPATCH_PROPERTYGET);
    return InvokeId(object, id, flags, args, kind == CallKind::Put ? nullptr : result);
}

CallResult CallDefault(IDispatch* object, std::vector<CComVariant>& args, VARIANT* result) {
    if (!object) return CallResult{E_POINTER, "Object required"};
    return InvokeId(object, DISPID_VALUE, DISPATCH_METHOD | DISPATCH_PROPERTYGET, args, result);
}

CallResult Enumerate(IDispatch* object, std::vector<CComVariant>& items) {
    return ForEach(object, [&](const CComVariant& item) { items.push_back(item); });
}

CallResult ForEach(IDispatch* object, const std::function<void(const CComVariant&)>& each) {
    if (!object) return CallResult{E_POINTER, "Object required"};
    std::vector<CComVariant> none;
    CComVariant enumerator;
    CallResult r = InvokeId(object, DISPID_NEWENUM, DISPATCH_METHOD | DISPATCH_PROPERTYGET, none, &enumerator);
    if (!r.ok()) return r;
    CComPtr<IEnumVARIANT> e;
    IUnknown* unk = enumerator.vt == VT_UNKNOWN || enumerator.vt == VT_DISPATCH ? enumerator.punkVal : nullptr;
    if (!unk || FAILED(unk->QueryInterface(IID_IEnumVARIANT, reinterpret_cast<void**>(&e))))
        return CallResult{E_NOINTERFACE, "Object not a collection"};
    for (;;) {
        CComVariant item;
        ULONG fetched = 0;
        if (e->Next(1, &item, &fetched) != S_OK || fetched != 1) break;
        each(item);
    }
    return r;
}

CComPtr<IDispatch> DispatchOf(const VARIANT& value) {
    CComPtr<IDispatch> d;
    const VARIANT* v = &value;
    if (v->vt == (VT_VARIANT | VT_BYREF) && v->pvarVal) v = v->pvarVal;
    if ((v->vt == VT_DISPATCH || v->vt == VT_UNKNOWN) && v->punkVal)
        v->punkVal->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&d));
    return d;
}

namespace {

std::string FormatNumber(double d) {
    if (std::isnan(d)) return "NaN";
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.10g", d);
    return buf;
}

std::string FormatArray(SAFEARRAY* array) {
    if (!array) return "()";
    const UINT dims = SafeArrayGetDim(array);
    VARTYPE vt = VT_EMPTY;
    SafeArrayGetVartype(array, &vt);
    auto element = [&](LONG* index) {
        CComVariant v;
        if (vt == VT_VARIANT) {
            SafeArrayGetElement(array, index, &v);
        } else if (vt == VT_BSTR) {
            BSTR s = nullptr;
            if (SUCCEEDED(SafeArrayGetElement(array, index, &s))) {
                v = s;
                SysFreeString(s);
            }
        }
        return Format(v);
    };
    if (dims == 1) {
        LONG lo = 0, hi = -1;
        SafeArrayGetLBound(array, 1, &lo);
        SafeArrayGetUBound(array, 1, &hi);
        std::string out = "(";
        for (LONG i = lo; i <= hi; ++i) {
            if (i > lo) out += ", ";
            LONG index[1] = {i};
            out += element(index);
        }
        return out + ")";
    }
    if (dims == 2) {
        LONG lo1 = 0, hi1 = -1, lo2 = 0, hi2 = -1;
        SafeArrayGetLBound(array, 1, &lo1);
        SafeArrayGetUBound(array, 1, &hi1);
        SafeArrayGetLBound(array, 2, &lo2);
        SafeArrayGetUBound(array, 2, &hi2);
        std::string out;
        for (LONG i = lo1; i <= hi1; ++i) {
            out += i > lo1 ? "\n  (" : "(";
            for (LONG j = lo2; j <= hi2; ++j) {
                if (j > lo2) out += ", ";
                LONG index[2] = {i, j};
                out += element(index);
            }
            out += ")";
        }
        return out.empty() ? "()" : out;
    }
    return "(array)";
}

}  // namespace

std::string Format(const VARIANT& value) {
    const VARIANT* v = &value;
    if (v->vt == (VT_VARIANT | VT_BYREF) && v->pvarVal) v = v->pvarVal;
    if (v->vt & VT_ARRAY) return FormatArray((v->vt & VT_BYREF) ? (v->pparray ? *v->pparray : nullptr) : v->parray);
    switch (v->vt) {
        case VT_EMPTY: return "Empty";
        case VT_NULL: return "Null";
        case VT_BSTR: return nuv::bstr_to_utf8(v->bstrVal);
        case VT_BOOL: return v->boolVal ? "True" : "False";
        case VT_R8: return FormatNumber(v->dblVal);
        case VT_R4: return FormatNumber(v->fltVal);
        case VT_ERROR: return "Error " + Hex(v->scode);
        case VT_DISPATCH:
        case VT_UNKNOWN: {
            CComPtr<IDispatch> d = DispatchOf(*v);
            if (!d) return v->punkVal ? "<object>" : "Nothing";
            std::vector<CComVariant> none;
            CComVariant name;
            if (Call(d, "Name", CallKind::GetOrCall, none, &name).ok() && name.vt == VT_BSTR)
                return "<" + nuv::bstr_to_utf8(name.bstrVal) + ">";
            return "<object>";
        }
        default: {
            CComVariant text;
            if (SUCCEEDED(VariantChangeType(&text, const_cast<VARIANT*>(v), 0, VT_BSTR)))
                return nuv::bstr_to_utf8(text.bstrVal);
            return "<value>";
        }
    }
}

HRESULT MakeArray(const std::vector<CComVariant>& values, VARIANT* out) {
    SAFEARRAYBOUND bound{static_cast<ULONG>(values.size()), 1};
    SAFEARRAY* array = SafeArrayCreate(VT_VARIANT, 1, &bound);
    if (!array) return E_OUTOFMEMORY;
    for (size_t i = 0; i < values.size(); ++i) {
        LONG index = static_cast<LONG>(i) + 1;
        HRESULT hr = SafeArrayPutElement(array, &index, const_cast<CComVariant*>(&values[i]));
        if (FAILED(hr)) {
            SafeArrayDestroy(array);
            return hr;
        }
    }
    VariantInit(out);
    out->vt = VT_ARRAY | VT_VARIANT;
    out->parray = array;
    return S_OK;
}

HRESULT MakeTable(const std::vector<std::vector<CComVariant>>& rows, VARIANT* out) {
    size_t width = 0;
    for (const auto& r : rows) width = std::max(width, r.size());
    SAFEARRAYBOUND bounds[2] = {{static_cast<ULONG>(rows.size()), 1}, {static_cast<ULONG>(width), 1}};
    SAFEARRAY* array = SafeArrayCreate(VT_VARIANT, 2, bounds);
    if (!array) return E_OUTOFMEMORY;
    for (size_t i = 0; i < rows.size(); ++i)
        for (size_t j = 0; j < rows[i].size(); ++j) {
            LONG index[2] = {static_cast<LONG>(i) + 1, static_cast<LONG>(j) + 1};
            HRESULT hr = SafeArrayPutElement(array, index, const_cast<CComVariant*>(&rows[i][j]));
            if (FAILED(hr)) {
                SafeArrayDestroy(array);
                return hr;
            }
        }
    VariantInit(out);
    out->vt = VT_ARRAY | VT_VARIANT;
    out->parray = array;
    return S_OK;
}

}  // namespace host
