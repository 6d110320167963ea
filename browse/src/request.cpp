#include "browse/request.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "browse/attributes.h"
#include "browse/document.h"
#include "browse/error.h"
#include "browse/variant_array.h"
#include "nuv_text.h"

#include <browseface.h>

// ---- building requests ----

int32_t FIAttributeRequest::AddAttribute(const std::string& name) {
    attributeNames.push_back(name);
    // A name holding a NUL would be looked up cut short: it names no attribute.
    const bool whole = name.find('\0') == std::string::npos;
    attributeIds.push_back(document != nullptr && whole ? document->GetAttributeId(name.c_str())
                                                        : FI::kUnknownAttributeId);
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

using FI::VariantArrayReader;

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

// Hands each element of a one-dimensional VARIANT array, as text, to add in order.
template <class Add>
HRESULT ForEachText(SAFEARRAY* array, Add&& add) {
    VariantArrayReader reader(array, 1);
    if (FAILED(reader.Status())) return reader.Status();
    FIVariant element;
    for (LONG i = 0; i < reader.Extent(0); ++i) {
        std::string text;
        HRESULT hr = reader.Get(i, element.get());
        if (SUCCEEDED(hr)) hr = ToText(element.get(), text);
        if (FAILED(hr)) return hr;
        add(std::move(text));
    }
    return S_OK;
}

}  // namespace

HRESULT FIAttributeRequest::FillFromArrays(BSTR base, SAFEARRAY* paths, SAFEARRAY* attributes,
                                           SAFEARRAY* tuples, bool forWrite) {
    if (SysStringLen(base) > 0) basePath = nuv::bstr_to_utf8(base);
    if (paths != nullptr) {
        HRESULT hr = ForEachText(paths, [&](std::string text) { relativePaths.push_back(std::move(text)); });
        if (FAILED(hr)) return hr;
    }
    HRESULT hr = ForEachText(attributes, [&](const std::string& text) { AddAttribute(text); });
    if (FAILED(hr)) return hr;
    FIVariant element;
    VariantArrayReader reader(tuples, 2);
    if (FAILED(reader.Status())) return reader.Status();
    if (reader.Extent(0) != (forWrite ? 4 : 3)) return E_INVALIDARG;
    for (LONG k = 0; k < reader.Extent(1); ++k) {
        int32_t pathIndex = 0;
        int32_t attributeIndex = 0;
        std::string units;
        hr = reader.Get(0, k, element.get());
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
    VariantArrayReader reader(values, 1);
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

// A path of this document in the caller's terms: below the pair's "to" path it is moved below the
// pair's "from" path; anything else is kept. A pair without a "from" path maps nothing (it would turn
// "Top.B" into ".B" for a "to" path of "Top").
std::string MapThroughPair(const FIAttributeRequest& request, const std::string& text) {
    if (request.substituteFrom.empty()) return text;
    const char* below = StripNamePrefix(request.substituteTo.c_str(), text.c_str());
    if (below == nullptr) return text;
    std::string mapped = request.substituteFrom;
    if (*below != '\0') {
        mapped += '.';
        mapped += below;
    }
    return mapped;
}

std::string JoinPath(const std::string& a, const std::string& b) {
    if (a.empty()) return b;
    if (b.empty()) return a;
    return a + "." + b;
}

// The text of path before rest, without the full stop that separates them.
std::string ConsumedPrefix(const char* path, const char* rest) {
    size_t n = static_cast<size_t>(rest - path);
    if (n > 0 && path[n - 1] == '.') --n;
    return std::string(path, n);
}

// The text before the last full stop outside double quotes; empty when there is none.
std::string ParentPath(const std::string& path) {
    bool quoted = false;
    size_t last = std::string::npos;
    for (size_t i = 0; i < path.size(); ++i) {
        if (path[i] == '"') {
            if (quoted && i + 1 < path.size() && path[i + 1] == '"') {
                ++i;
            } else {
                quoted = !quoted;
            }
        } else if (path[i] == '.' && !quoted) {
            last = i;
        }
    }
    return last == std::string::npos ? std::string() : path.substr(0, last);
}

// The longest path that is a proper ancestor of every one of the paths.
std::string CommonAncestor(const std::vector<std::string>& paths) {
    std::string candidate = ParentPath(paths.front());
    auto below = [](const std::string& path, const std::string& ancestor) {
        return path.size() > ancestor.size() && path.compare(0, ancestor.size(), ancestor) == 0 &&
               path[ancestor.size()] == '.';
    };
    for (;;) {
        if (candidate.empty()) return candidate;
        bool all = true;
        for (const std::string& p : paths) all = all && below(p, candidate);
        if (all) return candidate;
        candidate = ParentPath(candidate);
    }
}

// Sends a copy of the request with another base path and pair; a read's answers come back into the
// items of the original.
HRESULT ForwardWith(IPDXDocumentV22* delegate, FIAttributeRequest& request, bool write, std::string basePath,
                    std::string from, std::string to) {
    FIAttributeRequest forwarded = request;
    forwarded.basePath = std::move(basePath);
    forwarded.substituteFrom = std::move(from);
    forwarded.substituteTo = std::move(to);
    HRESULT hr = ForwardRequest(delegate, forwarded, write);
    if (SUCCEEDED(hr) && !write) {
        for (size_t i = 0; i < request.items.size(); ++i) request.items[i].value = forwarded.items[i].value;
    }
    return hr;
}

// The delegate document behind an entry, when the entry delegates and has one.
std::unique_ptr<DelegateServiceHelper> DelegateDocumentOf(Entry& entry) {
    if (!entry.IsDelegating()) return nullptr;
    IServiceProvider* provider = nullptr;
    if (FAILED(entry.GetServiceProvider(&provider)) || provider == nullptr) return nullptr;
    auto helper = std::make_unique<DelegateServiceHelper>(provider);
    if (!helper->HasDocument()) return nullptr;
    return helper;
}

}  // namespace

HRESULT ProcessBatchRequest(FIDocumentBase_& document, FIAttributeRequest& request, bool write) {
    // A write is checked whole before anything is written: a tuple outside the paths or the attributes
    // refuses the request instead of being passed over.
    // Paths are walked as C texts: one that holds a NUL would be cut there and act on another entry, so it
    // resolves to nothing. A write holding one is refused before anything is written.
    const auto holdsNul = [](const std::string& path) { return path.find('\0') != std::string::npos; };
    if (holdsNul(request.basePath)) return RaiseFIError(E_FAIL, "Invalid base path specified");
    // The pair maps paths, and its "from" path goes on to delegates: it is taken whole as well.
    if (holdsNul(request.substituteFrom) || holdsNul(request.substituteTo))
        return RaiseFIError(E_FAIL, "Invalid substitution path specified");
    if (write) {
        for (const std::string& path : request.relativePaths) {
            if (holdsNul(path)) return RaiseFIError(E_FAIL, "Invalid path specified");
        }
        for (const std::string& name : request.attributeNames) {
            if (holdsNul(name)) return RaiseFIError(E_FAIL, "Invalid attribute specified");
        }
        for (const FIAttributeRequestItem& item : request.items) {
            if (holdsNul(item.units)) return RaiseFIError(E_FAIL, "Invalid units specified");
        }
        for (const FIAttributeRequestItem& item : request.items) {
            if (item.pathIndex < 0 || static_cast<size_t>(item.pathIndex) >= request.relativePaths.size()) {
                return RaiseFIError(E_INVALIDARG, "Invalid path index");
            }
            if (item.attributeIndex < 0 || static_cast<size_t>(item.attributeIndex) >= request.attributeNames.size() ||
                static_cast<size_t>(item.attributeIndex) >= request.attributeIds.size()) {
                return RaiseFIError(E_INVALIDARG, "Invalid attribute index");
            }
        }
    }
    EntryHandle base;
    std::string basePath = request.basePath;
    bool stripRootName = false;
    if (!basePath.empty()) {
        const char* rest = nullptr;
        base = document.ResolvePath(basePath.c_str(), &rest);
        if (!base.IsNull() && rest != nullptr && *rest != '\0') {
            // The base path runs on into another document: the whole request goes there.
            std::unique_ptr<DelegateServiceHelper> delegate = DelegateDocumentOf(*base);
            if (!delegate) return RaiseFIError(E_FAIL, "Invalid base path specified");
            FIValue delegatePath;
            base->GetDelegatePath(delegatePath);
            std::string to = delegatePath.ToStdString();
            std::string from = MapThroughPair(request, ConsumedPrefix(basePath.c_str(), rest));
            HRESULT hr = ForwardWith(delegate->Document(), request, write, JoinPath(to, rest), from, to);
            if (write) base->OnAttributesChanged();
            return hr;
        }
        if (base.IsNull()) return RaiseFIError(E_FAIL, "Invalid base path specified");
    } else {
        base = document.GetRoot();
        if (base.IsNull()) return RaiseFIError(E_FAIL, "Invalid base path specified");
        FIValue rootName;
        base->GetName(rootName);
        basePath = rootName.ToStdString();
        stripRootName = true;
    }

    std::vector<std::string> relatives = request.relativePaths;
    if (stripRootName) {
        for (std::string& r : relatives) {
            const char* below = StripNamePrefix(basePath.c_str(), r.c_str());
            if (below != nullptr) r = below;
        }
    }
    // Items grouped by path, in item order.
    std::vector<std::vector<size_t>> itemsOfPath(relatives.size());
    for (size_t i = 0; i < request.items.size(); ++i) {
        int32_t p = request.items[i].pathIndex;
        if (p >= 0 && static_cast<size_t>(p) < itemsOfPath.size()) itemsOfPath[static_cast<size_t>(p)].push_back(i);
    }

    for (size_t p = 0; p < relatives.size(); ++p) {
        const int32_t pathIndex = static_cast<int32_t>(p);
        if (write) {
            document.OnBeforeSetPath(pathIndex, request);
        } else {
            document.OnBeforeGetPath(pathIndex, request);
        }
        const std::string& relative = relatives[p];
        EntryHandle entry = base;
        const char* rest = nullptr;
        if (holdsNul(relative)) entry.Reset();
        else if (!relative.empty()) base->FindChild(entry, relative.c_str(), &rest);
        if (entry.IsNull() || (rest != nullptr && *rest != '\0')) {
            std::unique_ptr<DelegateServiceHelper> delegate =
                entry.IsNull() ? nullptr : DelegateDocumentOf(*entry);
            if (!delegate) {
                if (write) return RaiseFIError(E_FAIL, "Invalid path specified: " + request.relativePaths[p]);
                continue;
            }
            // This path and the following ones through the same entry go there as one request.
            const std::string prefix = ConsumedPrefix(relative.c_str(), rest);
            size_t last = p;
            std::vector<std::string> remainders = {rest};
            while (last + 1 < relatives.size()) {
                const std::string& next = relatives[last + 1];
                if (next.size() <= prefix.size() + 1 || next.compare(0, prefix.size(), prefix) != 0 ||
                    next[prefix.size()] != '.') {
                    break;
                }
                remainders.push_back(next.substr(prefix.size() + 1));
                ++last;
            }
            FIValue delegatePath;
            entry->GetDelegatePath(delegatePath);
            const std::string to = delegatePath.ToStdString();
            const std::string ancestor = CommonAncestor(remainders);
            FIAttributeRequest nested;
            nested.attributeNames = request.attributeNames;
            nested.attributeIds = request.attributeIds;
            for (const std::string& r : remainders) {
                nested.relativePaths.push_back(ancestor.empty() ? r : r.substr(ancestor.size() + 1));
            }
            std::vector<size_t> groupItems;
            for (size_t q = p; q <= last; ++q) {
                for (size_t i : itemsOfPath[q]) {
                    groupItems.push_back(i);
                    FIAttributeRequestItem item = request.items[i];
                    item.pathIndex -= pathIndex;
                    nested.items.push_back(std::move(item));
                }
            }
            std::string from = MapThroughPair(request, JoinPath(basePath, prefix));
            HRESULT hr = ForwardWith(delegate->Document(), nested, write, JoinPath(to, ancestor), from, to);
            if (SUCCEEDED(hr) && !write) {
                for (size_t k = 0; k < groupItems.size(); ++k) request.items[groupItems[k]].value = nested.items[k].value;
            }
            if (write) entry->OnAttributesChanged();
            if (write) {
                document.OnAfterSetPath(pathIndex, request);
            } else {
                document.OnAfterGetPath(pathIndex, request);
            }
            p = last;
            continue;
        }
        for (size_t i : itemsOfPath[p]) {
            FIAttributeRequestItem& item = request.items[i];
            int32_t a = item.attributeIndex;
            bool validIndex = a >= 0 && static_cast<size_t>(a) < request.attributeNames.size() &&
                              static_cast<size_t>(a) < request.attributeIds.size();
            if (write) {
                HRESULT hr = entry->WriteAttribute(&document, request.attributeNames[static_cast<size_t>(a)].c_str(),
                                                   request.attributeIds[static_cast<size_t>(a)], item.units.c_str(),
                                                   item.value.get());
                if (FAILED(hr)) return hr;
                continue;
            }
            VARIANT* out = item.value.Receive();
            if (!validIndex || holdsNul(request.attributeNames[static_cast<size_t>(a)]) || holdsNul(item.units))
                continue;
            uint32_t id = request.attributeIds[static_cast<size_t>(a)];
            if (id == 19) {
                FIValue text(MapThroughPair(request, JoinPath(basePath, relative)));
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
