#include "typed_access.h"

#include <objbase.h>

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "browse/request.h"
#include "nuv_failure_text.h"
#include "nuv_text.h"

namespace FI::com {

namespace {

// strtol over a 32-bit long: results outside the range are clamped to it.
LONG ParseLong(const char* text) {
    long long v = std::strtoll(text, nullptr, 10);
    if (v > INT32_MAX) return INT32_MAX;
    if (v < INT32_MIN) return INT32_MIN;
    return static_cast<LONG>(v);
}

// Reads the attribute; S_FALSE when it is empty or null.
inline HRESULT ReadRaw(FIReferenceBase& reference, const char* name, AttributeReading& reading) {
    HRESULT hr = reference.ReadAttribute(name, reading);
    if (FAILED(hr)) return hr;
    return reading.IsBlank() ? S_FALSE : S_OK;
}

// Parses the leading number of a node's text (the text ends at its first NUL, as a client's would).
template <class Parse>
auto ParseNodeText(const FIValue& value, Parse parse) {
    std::string converted;
    const std::string_view text = NodeText(value, converted);
    return text.data() == value.GetString() ? parse(value.GetString()) : parse(converted.c_str());
}

HRESULT Write(FIReferenceBase& reference, const char* name, FIVariant& value) {
    return reference.SetAttribute(name, value.get());
}

// Reads a number: text is parsed, a value of the wanted type taken as it is, anything else converted.
template <class T, class Parse, class Field>
HRESULT ReadNumber(FIReferenceBase& reference, const char* name, T* out, VARTYPE type, Parse parse, Field field) {
    if (out == nullptr) return E_POINTER;
    AttributeReading reading;
    HRESULT hr = ReadRaw(reference, name, reading);
    if (hr != S_OK) return hr;
    if (!reading.IsVariant() && reading.Value().IsText()) {
        *out = ParseNodeText(reading.Value(), parse);
        return S_OK;
    }
    VARIANT number;
    const VARIANT* v = reading.IsVariant() ? reading.Variant() : NumberVariant(reading.Value(), number);
    if (v->vt == VT_BSTR) {
        *out = parse(nuv::bstr_to_utf8(v->bstrVal).c_str());
        return S_OK;
    }
    if (v->vt == type) {
        *out = field(v);
        return S_OK;
    }
    FIVariant converted;
    hr = VariantChangeType(converted.get(), v, 0, type);
    if (FAILED(hr)) return hr;
    *out = field(converted.get());
    return S_OK;
}

}  // namespace

const VARIANT* NumberVariant(const FIValue& value, VARIANT& holder) {
    if (value.GetTag() == FIValue::kInt) {
        holder.vt = VT_I4;
        holder.lVal = value.ToInt();
    } else {
        holder.vt = VT_R8;
        holder.dblVal = value.ToDouble();
    }
    return &holder;
}

std::string_view NodeText(const FIValue& value, std::string& converted) {
    const std::string_view text(value.GetString(), value.Length());
    for (char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            converted = nuv::to_utf8(nuv::to_utf16(text));
            return converted;
        }
    }
    return text;
}

char* TaskString(std::string_view text) {
    auto* p = static_cast<char*>(CoTaskMemAlloc(text.size() + 1));
    if (p == nullptr) return nullptr;
    std::memcpy(p, text.data(), text.size());
    p[text.size()] = '\0';
    return p;
}

std::string FormatReal(double value) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.6g", value);
    return buf;
}

HRESULT ReadInt(FIReferenceBase& reference, const char* name, LONG* out) {
    return ReadNumber(reference, name, out, VT_I4, [](const char* text) { return ParseLong(text); },
                      [](const VARIANT* v) { return v->lVal; });
}

HRESULT ReadReal(FIReferenceBase& reference, const char* name, double* out) {
    return ReadNumber(reference, name, out, VT_R8, [](const char* text) { return std::strtod(text, nullptr); },
                      [](const VARIANT* v) { return v->dblVal; });
}

HRESULT ReadText(FIReferenceBase& reference, const char* name, char** out) {
    if (out == nullptr) return E_POINTER;
    AttributeReading reading;
    HRESULT hr = ReadRaw(reference, name, reading);
    if (hr != S_OK) return hr;
    std::string text;
    std::string_view view;
    VARIANT number;
    if (!reading.IsVariant() && reading.Value().IsText()) {
        view = NodeText(reading.Value(), text);
    } else {
        const VARIANT* v = reading.IsVariant() ? reading.Variant() : NumberVariant(reading.Value(), number);
        switch (v->vt) {
            case VT_BSTR: text = nuv::bstr_to_utf8(v->bstrVal); break;
            case VT_I2: text = std::to_string(v->iVal); break;
            case VT_I4: text = std::to_string(v->lVal); break;
            case VT_R4: text = FormatReal(v->fltVal); break;
            case VT_R8: text = FormatReal(v->dblVal); break;
            default: {
                FIVariant converted;
                hr = VariantChangeType(converted.get(), v, 0, VT_BSTR);
                if (FAILED(hr)) return hr;
                if (converted.get()->bstrVal == nullptr) return S_FALSE;
                text = nuv::bstr_to_utf8(converted.get()->bstrVal);
                break;
            }
        }
        view = text;
    }
    char* copy = TaskString(view);
    if (copy == nullptr) return E_OUTOFMEMORY;
    *out = copy;
    return S_OK;
}

HRESULT ReadBool(FIReferenceBase& reference, const char* name, unsigned char* out) {
    if (out == nullptr) return E_POINTER;
    AttributeReading reading;
    HRESULT hr = ReadRaw(reference, name, reading);
    if (hr != S_OK) return hr;
    if (!reading.IsVariant() && reading.Value().IsText()) {
        *out = ParseNodeText(reading.Value(), [](const char* text) { return ParseLong(text); }) != 0;
        return S_OK;
    }
    VARIANT number;
    const VARIANT* v = reading.IsVariant() ? reading.Variant() : NumberVariant(reading.Value(), number);
    switch (v->vt) {
        case VT_BSTR:
            *out = v->bstrVal != nullptr && ParseLong(nuv::bstr_to_utf8(v->bstrVal).c_str()) != 0;
            return S_OK;
        case VT_I2: *out = v->iVal != 0; return S_OK;
        case VT_I4: *out = v->lVal != 0; return S_OK;
        case VT_R4: *out = std::trunc(v->fltVal) != 0; return S_OK;
        case VT_R8: *out = std::trunc(v->dblVal) != 0; return S_OK;
        case VT_BOOL: *out = v->boolVal == VARIANT_TRUE; return S_OK;
        default: {
            FIVariant converted;
            hr = VariantChangeType(converted.get(), v, 0, VT_BOOL);
            if (FAILED(hr)) return hr;
            *out = converted.get()->boolVal == VARIANT_TRUE;
            return S_OK;
        }
    }
}

HRESULT WriteInt(FIReferenceBase& reference, const char* name, LONG value) {
    FIVariant v;
    v.get()->vt = VT_I4;
    v.get()->lVal = value;
    return Write(reference, name, v);
}

HRESULT WriteReal(FIReferenceBase& reference, const char* name, double value) {
    FIVariant v;
    v.get()->vt = VT_R8;
    v.get()->dblVal = value;
    return Write(reference, name, v);
}

HRESULT WriteText(FIReferenceBase& reference, const char* name, const char* value) {
    FIVariant v;
    BSTR text = nuv::bstr_from_utf8(value == nullptr ? "" : value);
    if (text == nullptr) return E_OUTOFMEMORY;
    v.get()->vt = VT_BSTR;
    v.get()->bstrVal = text;
    return Write(reference, name, v);
}

HRESULT WriteBool(FIReferenceBase& reference, const char* name, bool value) {
    FIVariant v;
    v.get()->vt = VT_BOOL;
    v.get()->boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
    return Write(reference, name, v);
}

HRESULT WriteEmpty(FIReferenceBase& reference, const char* name) {
    FIVariant v;
    return Write(reference, name, v);
}

std::string FormatHResultMessage(HRESULT hr) {
    if (SUCCEEDED(hr)) return {};
    IErrorInfo* info = nullptr;
    if (GetErrorInfo(0, &info) == S_OK && info != nullptr) {
        BSTR description = nullptr;
        info->GetDescription(&description);
        std::string text = nuv::bstr_to_utf8(description);
        SysFreeString(description);
        info->Release();
        if (!text.empty()) return text;
    }
    const char* standard = nuv::StandardFailureText(hr);
    return standard ? standard : "Unspecified error";
}

}  // namespace FI::com
