#include "browse/request.h"

#include <algorithm>
#include <cstring>

#include "browse/attributes.h"
#include "browse/document.h"
#include "browse/error.h"
#include "nuv_text.h"

#include <browseface.h>

// ---- building requests ----

int32_t FIAttributeRequest::AddAttribute(const std::string& name) {
    attributeNames.push_back(name);
    attributeIds.push_back(document != nullptr ? document->GetAttributeId(name.c_str()) : FI::kUnknownAttributeId);
    return static_cast<int32_t>(attributeNames.size() - 1);
}

int32_t FIAttributeRequest::AddPath(const std::string& relativePath) {
    relativePaths.push_back(relativePath);
    return static_cast<int32_t>(relativePaths.size() - 1);
}

FIAttributeRequestItem& FIAttributeRequest::AddItem(int32_t pathIndex, int32_t attributeIndex,
                                                    const std::string& units) {
    FIAttributeRequestItem& item = items.emplace_back();
    item.pathIndex = pathIndex;
    item.attributeIndex = attributeIndex;
    item.units = units;
    return item;
}

void FIAttributeRequest::MakeSingle(const char* path, const char* attribute, const char* units) {
    basePath = path == nullptr ? "" : path;
    relativePaths.assign(1, std::string());
    attributeNames.clear();
    attributeIds.clear();
    AddAttribute(attribute == nullptr || *attribute == '\0' ? "value" : attribute);
    items.clear();
    AddItem(0, 0, units == nullptr ? "" : units);
}

// ---- arrays ----

namespace {

// Locks a VARIANT array while it is read and unlocks it when done.
class ArrayReader {
public:
    ArrayReader(SAFEARRAY* array, UINT dims) : array_(array) {
        if (array_ == nullptr) {
            hr_ = E_POINTER;
            return;
        }
        VARTYPE vt = VT_EMPTY;
        if (FAILED(SafeArrayGetVartype(array_, &vt)) || vt != VT_VARIANT || SafeArrayGetDim(array_) != dims) {
            hr_ = E_INVALIDARG;
            return;
        }
        for (UINT d = 0; d < dims; ++d) {
            LONG lower = 0;
            LONG upper = -1;
            SafeArrayGetLBound(array_, d + 1, &lower);
            SafeArrayGetUBound(array_, d + 1, &upper);
            lower_[d] = lower;
            extent_[d] = upper >= lower ? static_cast<LONG>(upper - lower + 1) : 0;
        }
        hr_ = SafeArrayLock(array_);
        locked_ = SUCCEEDED(hr_);
    }
    ~ArrayReader() {
        if (locked_) SafeArrayUnlock(array_);
    }
    ArrayReader(const ArrayReader&) = delete;
    ArrayReader& operator=(const ArrayReader&) = delete;

    HRESULT Status() const { return hr_; }
    LONG Extent(UINT d) const { return extent_[d]; }
    HRESULT Get(LONG i, VARIANT* out) {
        LONG index[1] = {lower_[0] + i};
        VariantClear(out);
        return SafeArrayGetElement(array_, index, out);
    }
    HRESULT Get(LONG i, LONG j, VARIANT* out) {
        LONG index[2] = {lower_[0] + i, lower_[1] + j};
        VariantClear(out);
        return SafeArrayGetElement(array_, index, out);
    }

private:
    SAFEARRAY* array_;
    HRESULT hr_ = S_OK;
    bool locked_ = false;
    LONG lower_[2] = {0, 0};
    LONG extent_[2] = {0, 0};
};

HRESULT ToText(VARIANT* v, std::string& out) {
    if (v->vt != VT_BSTR) {
        HRESULT hr = VariantChangeType(v, v, 0, VT_BSTR);
        if (FAILED(hr)) return hr;
    }
    out = nuv::bstr_to_utf8(v->bstrVal);
    return S_OK;
}

HRESULT ToInt(VARIANT* v, int32_t& out) {
    if (v->vt != VT_I4) {
        HRESULT hr = VariantChangeType(v, v, 0, VT_I4);
        if (FAILED(hr)) return hr;
    }
    out = v->lVal;
    return S_OK;
}

}  // namespace

HRESULT FIAttributeRequest::FillFromArrays(LPCOLESTR base, SAFEARRAY* paths, SAFEARRAY* attributes,
                                           SAFEARRAY* tuples, bool forWrite) {
    if (base != nullptr && *base != 0) basePath = nuv::to_utf8(base);
    FIVariant element;
    if (paths != nullptr) {
        ArrayReader reader(paths, 1);
        if (FAILED(reader.Status())) return reader.Status();
        for (LONG i = 0; i < reader.Extent(0); ++i) {
            std::string text;
            HRESULT hr = reader.Get(i, element.get());
            if (SUCCEEDED(hr)) hr = ToText(element.get(), text);
            if (FAILED(hr)) return hr;
            relativePaths.push_back(std::move(text));
        }
    }
    {
        ArrayReader reader(attributes, 1);
        if (FAILED(reader.Status())) return reader.Status();
        for (LONG i = 0; i < reader.Extent(0); ++i) {
            std::string text;
            HRESULT hr = reader.Get(i, element.get());
            if (SUCCEEDED(hr)) hr = ToText(element.get(), text);
            if (FAILED(hr)) return hr;
            AddAttribute(text);
        }
    }
    ArrayReader reader(tuples, 2);
    if (FAILED(reader.Status())) return reader.Status();
    if (reader.Extent(0) != (forWrite ? 4 : 3)) return E_INVALIDARG;
    for (LONG k = 0; k < reader.Extent(1); ++k) {
        int32_t pathIndex = 0;
        int32_t attributeIndex = 0;
        std::string units;
        HRESULT hr = reader.Get(0, k, element.get());
        if (SUCCEEDED(hr)) hr = ToInt(element.get(), pathIndex);
        if (SUCCEEDED(hr)) hr = reader.Get(1, k, element.get());
        if (SUCCEEDED(hr)) hr = ToInt(element.get(), attributeIndex);
        if (SUCCEEDED(hr)) hr = reader.Get(2, k, element.get());
        if (SUCCEEDED(hr) && element.get()->vt != VT_EMPTY && element.get()->vt != VT_NULL) {
            hr = ToText(element.get(), units);
        }
        if (FAILED(hr)) return hr;
        FIAttributeRequestItem& item = AddItem(pathIndex, attributeIndex, units);
        if (forWrite) {
            hr = reader.Get(3, k, item.value.get());
            if (FAILED(hr)) return hr;
        }
    }
    return S_OK;
}

HRESULT FIAttributeRequest::ValuesToArray(SAFEARRAY** out) const {
    if (out == nullptr) return E_POINTER;
    SAFEARRAY* array = SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(items.size()));
    if (array == nullptr) return E_OUTOFMEMORY;
    for (size_t i = 0; i < items.size(); ++i) {
        LONG index[1] = {static_cast<LONG>(i)};
        HRESULT hr = SafeArrayPutElement(array, index, const_cast<VARIANT*>(items[i].value.get()));
        if (FAILED(hr)) {
            SafeArrayDestroy(array);
            return hr;
        }
    }
    *out = array;
    return S_OK;
}

namespace {

SAFEARRAY* TextVector(const std::vector<std::string>& texts) {
    SAFEARRAY* a = SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(texts.size()));
    if (a == nullptr) return nullptr;
    for (size_t i = 0; i < texts.size(); ++i) {
        VARIANT v;
        VariantInit(&v);
        v.vt = VT_BSTR;
        v.bstrVal = nuv::bstr_from_utf8(texts[i]);
        LONG index[1] = {static_cast<LONG>(i)};
        HRESULT hr = SafeArrayPutElement(a, index, &v);
        VariantClear(&v);
        if (FAILED(hr)) {
            SafeArrayDestroy(a);
            return nullptr;
        }
    }
    return a;
}

}  // namespace

HRESULT FIAttributeRequest::ToArrays(SAFEARRAY** paths, SAFEARRAY** attributes, SAFEARRAY** tuples,
                                     bool forWrite) const {
    if (paths == nullptr || attributes == nullptr || tuples == nullptr) return E_POINTER;
    *paths = TextVector(relativePaths);
    *attributes = TextVector(attributeNames);
    SAFEARRAYBOUND bounds[2] = {{forWrite ? 4u : 3u, 0}, {static_cast<ULONG>(items.size()), 0}};
    *tuples = SafeArrayCreate(VT_VARIANT, 2, bounds);
    HRESULT hr = *paths != nullptr && *attributes != nullptr && *tuples != nullptr ? S_OK : E_OUTOFMEMORY;
    for (size_t k = 0; SUCCEEDED(hr) && k < items.size(); ++k) {
        const FIAttributeRequestItem& item = items[k];
        FIVariant cell[3];
        cell[0].get()->vt = VT_I4;
        cell[0].get()->lVal = item.pathIndex;
        cell[1].get()->vt = VT_I4;
        cell[1].get()->lVal = item.attributeIndex;
        cell[2].get()->vt = VT_BSTR;
        cell[2].get()->bstrVal = nuv::bstr_from_utf8(item.units);
        for (LONG row = 0; SUCCEEDED(hr) && row < 3; ++row) {
            LONG index[2] = {row, static_cast<LONG>(k)};
            hr = SafeArrayPutElement(*tuples, index, cell[row].get());
        }
        if (SUCCEEDED(hr) && forWrite) {
            LONG index[2] = {3, static_cast<LONG>(k)};
            hr = SafeArrayPutElement(*tuples, index, const_cast<VARIANT*>(item.value.get()));
        }
    }
    if (FAILED(hr)) {
        for (SAFEARRAY** a : {paths, attributes, tuples}) {
            if (*a != nullptr) SafeArrayDestroy(*a);
            *a = nullptr;
        }
    }
    return hr;
}

HRESULT FIAttributeRequest::ValuesFromArray(SAFEARRAY* values) {
    ArrayReader reader(values, 1);
    if (FAILED(reader.Status())) return reader.Status();
    for (LONG i = 0; i < reader.Extent(0) && static_cast<size_t>(i) < items.size(); ++i) {
        HRESULT hr = reader.Get(i, items[static_cast<size_t>(i)].value.get());
        if (FAILED(hr)) return hr;
    }
    return S_OK;
}

// ---- processing ----

namespace FI {

HRESULT ForwardRequest(IPDXDocumentV22* delegate, FIAttributeRequest& request, bool write) {
    if (delegate == nullptr) return E_POINTER;
    SAFEARRAY* paths = nullptr;
    SAFEARRAY* attributes = nullptr;
    SAFEARRAY* tuples = nullptr;
    HRESULT hr = request.ToArrays(&paths, &attributes, &tuples, write);
    if (FAILED(hr)) return hr;
    BSTR base = nuv::bstr_from_utf8(request.basePath);
    bool substitute = !request.substituteFrom.empty() || !request.substituteTo.empty();
    BSTR from = substitute ? nuv::bstr_from_utf8(request.substituteFrom) : nullptr;
    BSTR to = substitute ? nuv::bstr_from_utf8(request.substituteTo) : nullptr;
    if (write) {
        hr = substitute ? delegate->SetAttributesEx(from, to, base, paths, attributes, tuples)
                        : delegate->SetAttributes(base, paths, attributes, tuples);
    } else {
        SAFEARRAY* values = nullptr;
        hr = substitute ? delegate->GetAttributesEx(from, to, base, paths, attributes, tuples, &values)
                        : delegate->GetAttributes(base, paths, attributes, tuples, &values);
        if (SUCCEEDED(hr) && values != nullptr) hr = request.ValuesFromArray(values);
        if (values != nullptr) SafeArrayDestroy(values);
    }
    SysFreeString(base);
    SysFreeString(from);
    SysFreeString(to);
    for (SAFEARRAY* a : {paths, attributes, tuples}) SafeArrayDestroy(a);
    return hr;
}

namespace {

// The text a read of "path" answers: base path, full stop, relative path, mapped through the
// request's substitution pair when it has one.
std::string PathAnswer(const FIAttributeRequest& request, const std::string& base, const std::string& relative) {
    std::string text = base;
    if (!relative.empty()) {
        text += '.';
        text += relative;
    }
    if (request.substituteFrom.empty() && request.substituteTo.empty()) return text;
    const char* below = StripNamePrefix(request.substituteTo.c_str(), text.c_str());
    if (below == nullptr) return text;
    std::string mapped = request.substituteFrom;
    if (*below != '\0') {
        mapped += '.';
        mapped += below;
    }
    return mapped;
}

}  // namespace

HRESULT ProcessBatchRequest(FIDocumentBase_& document, FIAttributeRequest& request, bool write) {
    EntryHandle base;
    std::string basePath = request.basePath;
    bool stripRootName = false;
    if (!basePath.empty()) {
        const char* rest = nullptr;
        base = document.ResolvePath(basePath.c_str(), &rest);
        // A base path that stops inside the tree would need a delegate document to go on.
        if (base.IsNull() || (rest != nullptr && *rest != '\0')) {
            return RaiseFIError(E_FAIL, "Invalid base path specified");
        }
    } else {
        base = document.GetRoot();
        if (base.IsNull()) return RaiseFIError(E_FAIL, "Invalid base path specified");
        FIValue rootName;
        base->GetName(rootName);
        basePath = rootName.ToStdString();
        stripRootName = true;
    }

    // Items grouped by path, in item order.
    std::vector<std::vector<size_t>> itemsOfPath(request.relativePaths.size());
    for (size_t i = 0; i < request.items.size(); ++i) {
        int32_t p = request.items[i].pathIndex;
        if (p >= 0 && static_cast<size_t>(p) < itemsOfPath.size()) itemsOfPath[static_cast<size_t>(p)].push_back(i);
    }

    for (size_t p = 0; p < request.relativePaths.size(); ++p) {
        const int32_t pathIndex = static_cast<int32_t>(p);
        if (write) {
            document.OnBeforeSetPath(pathIndex, request);
        } else {
            document.OnBeforeGetPath(pathIndex, request);
        }
        std::string relative = request.relativePaths[p];
        if (stripRootName) {
            const char* below = StripNamePrefix(basePath.c_str(), relative.c_str());
            if (below != nullptr) relative = below;
        }
        EntryHandle entry = base;
        const char* rest = nullptr;
        if (!relative.empty()) base->FindChild(entry, relative.c_str(), &rest);
        if (entry.IsNull() || (rest != nullptr && *rest != '\0')) {
            if (write) return RaiseFIError(E_FAIL, "Invalid path specified: " + request.relativePaths[p]);
            continue;
        }
        for (size_t i : itemsOfPath[p]) {
            FIAttributeRequestItem& item = request.items[i];
            int32_t a = item.attributeIndex;
            bool validIndex = a >= 0 && static_cast<size_t>(a) < request.attributeNames.size() &&
                              static_cast<size_t>(a) < request.attributeIds.size();
            if (write) {
                if (!validIndex) return RaiseFIError(E_INVALIDARG, "Invalid attribute index");
                HRESULT hr = entry->WriteAttribute(&document, request.attributeNames[static_cast<size_t>(a)].c_str(),
                                                   request.attributeIds[static_cast<size_t>(a)], item.units.c_str(),
                                                   item.value.get());
                if (FAILED(hr)) return hr;
                continue;
            }
            VARIANT* out = item.value.Receive();
            if (!validIndex) continue;
            uint32_t id = request.attributeIds[static_cast<size_t>(a)];
            if (id == 19) {
                FIValue text(PathAnswer(request, basePath, relative));
                FIValueToVariant(text, out);
                continue;
            }
            FIVariant value;
            HRESULT hr = entry->ReadAttribute(&document, request.attributeNames[static_cast<size_t>(a)].c_str(), id,
                                              item.units.c_str(), value.get());
            if (SUCCEEDED(hr)) VariantCopy(out, value.get());
        }
        if (write) {
            document.OnAfterSetPath(pathIndex, request);
        } else {
            document.OnAfterGetPath(pathIndex, request);
        }
    }
    return S_OK;
}

}  // namespace FI
