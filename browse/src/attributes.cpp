#include "browse/attributes.h"

#include <algorithm>
#include <string>
#include <vector>

#include "browse/document.h"
#include "browse/entry.h"
#include "browse/error.h"
#include "nuv_text.h"

namespace FI {

namespace {

HRESULT ConvertPlain(VARTYPE vt, const void* data, FIValue& out) {
    switch (vt) {
        case VT_EMPTY:
        case VT_NULL: out.Clear(); return S_OK;
        case VT_I2: out.SetInt(*static_cast<const SHORT*>(data)); return S_OK;
        case VT_I4: out.SetInt(*static_cast<const LONG*>(data)); return S_OK;
        case VT_I8: out.SetInt(static_cast<int32_t>(static_cast<uint32_t>(*static_cast<const LONGLONG*>(data))));
            return S_OK;
        case VT_R4: out.SetDouble(*static_cast<const FLOAT*>(data)); return S_OK;
        case VT_R8: out.SetDouble(*static_cast<const DOUBLE*>(data)); return S_OK;
        case VT_BSTR: out.SetString(nuv::bstr_to_utf8(*static_cast<const BSTR*>(data))); return S_OK;
        case VT_BOOL: out.SetInt(*static_cast<const VARIANT_BOOL*>(data) != VARIANT_FALSE ? 1 : 0); return S_OK;
        default: return E_INVALIDARG;
    }
}

HRESULT Convert(const VARIANT* in, FIValue& out, bool followReference) {
    VARTYPE vt = in->vt;
    if ((vt & VT_BYREF) == 0) {
        if (vt == VT_I8) return ConvertPlain(vt, &in->llVal, out);
        if (vt == VT_EMPTY || vt == VT_NULL) return ConvertPlain(vt, nullptr, out);
        return ConvertPlain(vt, &in->lVal, out);
    }
    if (in->byref == nullptr) return E_INVALIDARG;
    VARTYPE base = static_cast<VARTYPE>(vt & ~VT_BYREF);
    if (base == VT_VARIANT) {
        if (!followReference) return E_INVALIDARG;
        return Convert(in->pvarVal, out, false);
    }
    switch (base) {
        case VT_I2:
        case VT_I4:
        case VT_R4:
        case VT_R8:
        case VT_BSTR:
        case VT_BOOL: return ConvertPlain(base, in->byref, out);
        default: return E_INVALIDARG;
    }
}

// The display installed on an entry for the time of one attribute call. Its units are the units text of
// the call, else the outer display's; its path is the outer display's. Both are asked of the outer display
// only when the node wants them: most reads never do, and building a path costs more than the read.
class EntryDisplayImpl final : public Display {
public:
    EntryDisplayImpl(Display* outer, const char* units) : outer_(outer) {
        if (units != nullptr && *units != '\0') {
            units_.SetString(units);
            ownUnits_ = true;
        }
    }
    void SetUnits(const FIValue& units) override {
        units_ = units;
        ownUnits_ = true;
    }
    void GetUnits(FIValue& out) override {
        if (ownUnits_) {
            out = units_;
        } else if (outer_ != nullptr) {
            outer_->GetUnits(out);
        } else {
            out.Clear();
        }
    }
    void GetPath(FIValue& out) override {
        out.Clear();
        if (outer_ == nullptr) return;
        FIValue path;
        outer_->GetPath(path);
        out.AppendValue(path);
    }

private:
    Display* outer_;  // outlives this display: the call that installs this one holds it
    FIValue units_;
    bool ownUnits_ = false;  // units_ holds the call's units (else they are the outer display's)
};

// Installs a call's display on an entry for the time of the call.
class DisplayScope {
public:
    DisplayScope(Entry& entry, const char* units, Display* outer) : mine_(outer, units), install_(entry, &mine_) {}
    // Over the display the entry has now.
    DisplayScope(Entry& entry, const char* units) : DisplayScope(entry, units, entry.GetDisplay()) {}

private:
    EntryDisplayImpl mine_;
    ScopedDisplay install_;
};

void JoinLines(const std::vector<FIValue>& parts, FIValue& out) {
    out.Clear();
    for (size_t i = 0; i < parts.size(); ++i) {
        if (i > 0) out.AppendChar('\n');
        out.AppendValue(parts[i]);
    }
}

// Reads one attribute of a delegating entry's node in the other document; nothing goes out when
// there is no such document.
HRESULT ReadFromDelegate(Entry& entry, const char* name, const char* units, VARIANT* out) {
    IServiceProvider* provider = nullptr;
    if (FAILED(entry.GetServiceProvider(&provider)) || provider == nullptr) return S_OK;
    DelegateServiceHelper delegate(provider);
    if (!delegate.HasDocument()) return S_OK;
    FIValue delegatePath;
    entry.GetDelegatePath(delegatePath);
    FIAttributeRequest request;
    request.MakeSingle(delegatePath.ToStdString().c_str(), name, units);
    HRESULT hr = ForwardRequest(delegate.Document(), request, false);
    if (SUCCEEDED(hr)) hr = VariantCopy(out, request.items[0].value.get());
    return hr;
}

}  // namespace

HRESULT VariantToFIValue(const VARIANT* in, FIValue& out) {
    out.Clear();
    if (in == nullptr) return E_INVALIDARG;
    HRESULT hr = Convert(in, out, true);
    if (FAILED(hr)) out.Clear();
    return hr;
}

HRESULT FIValueToVariant(const FIValue& value, VARIANT* out) {
    if (out == nullptr) return E_POINTER;
    VariantClear(out);
    switch (value.GetTag()) {
        case FIValue::kEmpty: out->vt = VT_NULL; return S_OK;
        case FIValue::kInt:
            out->vt = VT_I4;
            out->lVal = value.ToInt();
            return S_OK;
        case FIValue::kReal:
            out->vt = VT_R8;
            out->dblVal = value.ToDouble();
            return S_OK;
        default: {
            BSTR text = nuv::bstr_from_utf8(std::string_view(value.GetString(), value.Length()));
            if (text == nullptr) return E_OUTOFMEMORY;
            out->vt = VT_BSTR;
            out->bstrVal = text;
            return S_OK;
        }
    }
}

void AddNotification(FIDocumentNotifyList& records, int32_t severity, const char* text, int32_t position1,
                     int32_t position2) {
    records.emplace_back(severity, FIValue(text), position1, position2);
}

HRESULT Entry::ReadValue(FIDocument* document, const char* name, uint32_t id, const char* units, Display* outer,
                         FIValue& out) {
    out.Clear();
    {
        DisplayScope scope(*this, units, outer);
        try {
            GetAttribute(name, id, out);
        } catch (const FIError& refusal) {
            out.Clear();
            return refusal.IsEmpty() ? E_FAIL : refusal.ToHRESULT();
        } catch (...) {
            out.Clear();
            return RaiseFIError(E_UNEXPECTED, "Unhandled exception in GetAttribute");
        }
    }
    // A node without a name of its own for browsers shows its id.
    if (out.IsEmpty() && (id == 9 || id == 16)) return ReadValue(document, "id", 0, units, outer, out);
    return S_OK;
}

HRESULT Entry::ReadAttribute(FIDocument* document, const char* name, uint32_t id, const char* units, VARIANT* out) {
    if (out == nullptr) return E_POINTER;
    if (!IsReaderAnswered(id)) {
        VariantClear(out);
        FIValue value;
        HRESULT hr = ReadValue(document, name, id, units, GetDisplay(), value);
        if (SUCCEEDED(hr) && !value.IsEmpty()) hr = FIValueToVariant(value, out);
        return hr;
    }
    DisplayScope scope(*this, units);
    VariantClear(out);
    HRESULT hr = S_OK;
    try {
        FIValue value;
        switch (id) {
            case 28: {
                std::vector<FIValue> names;
                if (document != nullptr) {
                    for (const auto& [attribute, attributeId] : document->AttributeDictionary()) {
                        if (IsAttributeValid(document, attribute.c_str(), attributeId)) names.emplace_back(attribute);
                    }
                }
                JoinLines(names, value);
                hr = FIValueToVariant(value, out);
                break;
            }
            case 29: {
                if (IsDelegating()) {
                    hr = ReadFromDelegate(*this, name, units, out);
                    break;
                }
                if (IsLeaf()) break;
                CursorHandle cursor;
                CreateCursor(cursor);
                std::vector<FIValue> names;
                for (bool more = cursor.First(); more; more = cursor.Next()) {
                    names.emplace_back();
                    cursor.CurrentName(names.back());
                }
                JoinLines(names, value);
                hr = FIValueToVariant(value, out);
                break;
            }
            case 30: {
                std::vector<FIValue> actions(5);
                int32_t total = GetActions(5, actions.data());
                if (total > 5) {
                    actions.assign(static_cast<size_t>(total), FIValue());
                    total = GetActions(total, actions.data());
                }
                if (total <= 0) break;
                actions.resize(std::min(static_cast<size_t>(total), actions.size()));
                JoinLines(actions, value);
                hr = FIValueToVariant(value, out);
                break;
            }
            case 31: {
                out->vt = VT_BOOL;
                out->boolVal = VARIANT_FALSE;
                if (units == nullptr || *units == '\0') break;
                FIError error;
                FIValue description;
                GetActionDescription(error, units, description);
                out->boolVal = error.IsEmpty() ? VARIANT_TRUE : VARIANT_FALSE;
                break;
            }
            case 32: {
                if (units == nullptr || *units == '\0') break;
                FIError error;
                GetActionDescription(error, units, value);
                hr = error.ToHRESULT();
                if (SUCCEEDED(hr) && !value.IsEmpty()) hr = FIValueToVariant(value, out);
                break;
            }
            default: {  // 33
                if (units == nullptr || *units == '\0') break;
                FIDocumentNotifyList records;
                ValidateAction(units, records);
                int32_t level = 3;
                FIValue message;
                for (const FIDocumentNotify& r : records) {
                    if (r.severity < level) {
                        level = r.severity;
                        message = r.message;
                    }
                }
                value.SetString(level >= 3 ? "0" : level == 2 ? "1" : "2");
                value.AppendValue(message);
                hr = FIValueToVariant(value, out);
                break;
            }
        }
    } catch (...) {
        VariantClear(out);
        hr = RaiseFIError(E_UNEXPECTED, "Unhandled exception in GetAttribute");
    }
    return hr;
}

HRESULT Entry::WriteAttribute(FIDocument*, const char* name, uint32_t id, const char* units, const VARIANT* in) {
    DisplayScope scope(*this, units);
    FIValue value;
    if (FAILED(VariantToFIValue(in, value))) {
        std::string message = "Invalid value type for attribute ";
        message += name == nullptr ? "" : name;
        return RaiseFIError(E_INVALIDARG, message);
    }
    try {
        FIError error;
        SetAttribute(name, id, value, error);
        return error.ToHRESULT();
    } catch (...) {
        return RaiseFIError(E_UNEXPECTED, "Unexpected exception from SetAttribute");
    }
}

}  // namespace FI
