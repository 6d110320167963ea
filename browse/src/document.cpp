#include "browse/document.h"

#include <atomic>
#include <cstring>

#include "browse/error.h"
#include "nuv_text.h"

namespace FI {

namespace {

constexpr const char* kStandardAttributes[] = {
    "id",          "value",          "dimension",         "uom",                 "spec_value",
    "spec_uom",    "can_enter",      "option_list",       "uom_options",         "browser_name",
    "type",        "container",      "container_type",    "container_category",  "is_container",
    "no_containers_below", "display_name", "isleaf",      "has_children",        "path",
    "upper_limit", "lower_limit",    "description",       "status",              "enabled",
    "history_enabled", "is_hierarchy", "islink",          "valid_attributes",    "child_ids",
    "valid_actions", "action_is_valid", "action_description", "action_status",   "source_block",
    "source_port", "destination_block", "destination_port", "server",            "visible",
    "numeric_value", "is_empty",
};
static_assert(std::size(kStandardAttributes) == kUnknownAttributeId);

std::atomic<DocumentObjectFactory> g_documentObjectFactory{nullptr};

// Keeps a document counted for the time of a call that may release the caller's last reference.
class DocumentReference {
public:
    explicit DocumentReference(FIDocument* d) : d_(d) { d_->AddRef(); }
    ~DocumentReference() { d_->Release(); }
    DocumentReference(const DocumentReference&) = delete;
    DocumentReference& operator=(const DocumentReference&) = delete;

private:
    FIDocument* d_;
};

}  // namespace

const GUID kDocumentObjectClsid = {0x1B7E4F90, 0x6A2D, 0x4C83, {0x9E, 0x15, 0x3D, 0x0A, 0x8B, 0x7C, 0x64, 0xF2}};
const GUID kDocumentInterfaceIid = {0x8D3C1A57, 0x2E6F, 0x4B90, {0xA4, 0xD7, 0x5F, 0x18, 0xC6, 0xB2, 0x0E, 0x7A}};

bool IsFIDocumentService(REFGUID service) {
    return IsEqualGUID(service, kDocumentObjectClsid) || IsEqualGUID(service, kDocumentInterfaceIid);
}

void SetDocumentObjectFactory(DocumentObjectFactory factory) { g_documentObjectFactory.store(factory); }

const char* StripNamePrefix(const char* prefix, const char* name) {
    if (prefix == nullptr || name == nullptr) return nullptr;
    if (*prefix == '\0') return name;
    if (*name == '\0') return nullptr;
    size_t n = std::strlen(prefix);
    if (std::strncmp(name, prefix, n) != 0) return nullptr;
    if (name[n] == '.') return name + n + 1;
    if (name[n] == '\0') return name + n;
    return nullptr;
}

// ---- FIDocument ----

FIDocument::FIDocument() {
    for (uint32_t id = 0; id < std::size(kStandardAttributes); ++id) dictionary_.emplace(kStandardAttributes[id], id);
}

FIDocument::~FIDocument() = default;

HRESULT FIDocument::QueryService(IUnknown* owner, REFGUID service, REFIID riid, void** out) {
    if (!IsFIDocumentService(service)) return E_NOINTERFACE;
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    DocumentObjectFactory factory = g_documentObjectFactory.load();
    if (factory == nullptr) return E_NOINTERFACE;
    return factory(this, owner, riid, out);
}

HRESULT FIDocument::GetHistory(const std::vector<std::string>&, const std::vector<std::string>&, const char*, double,
                               VARIANT*, VARIANT*, VARIANT*) {
    return RaiseFIError(E_NOTIMPL, "History not supported");
}

HRESULT FIDocument::GetHistoryEx(const std::vector<std::string>&, const std::vector<std::string>&, const char*,
                                 double, VARIANT*, VARIANT*, VARIANT*) {
    return RaiseFIError(E_NOTIMPL, "History not supported");
}

uint32_t FIDocument::GetAttributeId(const char* name) {
    if (name == nullptr) return kUnknownAttributeId;
    std::shared_lock guard(dictionaryLock_);
    auto it = dictionary_.find(name);
    return it == dictionary_.end() ? kUnknownAttributeId : it->second;
}

void FIDocument::GetAttributeName(uint32_t id, FIValue& out) {
    std::shared_lock guard(dictionaryLock_);
    for (const auto& [name, value] : dictionary_) {
        if (value == id) {
            out.SetString(name);
            return;
        }
    }
}

HRESULT FIDocument::RegisterAttribute(const char* name, uint32_t id) {
    if (name == nullptr) return E_INVALIDARG;
    std::unique_lock guard(dictionaryLock_);
    auto [it, inserted] = dictionary_.emplace(name, id);
    return inserted || it->second == id ? S_OK : E_INVALIDARG;
}

std::vector<std::pair<std::string, uint32_t>> FIDocument::AttributeDictionary() const {
    std::shared_lock guard(dictionaryLock_);
    return {dictionary_.begin(), dictionary_.end()};
}

bool FIDocument::FindDelegate(const char*, IServiceProvider** provider, FIValue*, FIValue*) {
    if (provider != nullptr) *provider = nullptr;
    return false;
}

HRESULT FIDocument::GetAttribute(const char* path, const char* attribute, const char* units, VARIANT* out) {
    if (out == nullptr) return E_POINTER;
    FIAttributeRequest request(this);
    request.MakeSingle(path, attribute, units);
    HRESULT hr = GetRequestAttributes(request);
    if (SUCCEEDED(hr)) hr = VariantCopy(out, request.items[0].value.get());
    return hr;
}

HRESULT FIDocument::SetAttribute(const char* path, const char* attribute, const char* units, const VARIANT* value) {
    if (value == nullptr) return E_POINTER;
    FIAttributeRequest request(this);
    request.MakeSingle(path, attribute, units);
    HRESULT hr = VariantCopy(request.items[0].value.get(), value);
    if (FAILED(hr)) return hr;
    return SetRequestAttributes(request);
}

// ---- FIDocumentBase_: subscribers ----

uint32_t FIDocumentBase_::Advise(NotifyCallback callback, void* context) {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    uint32_t cookie = nextCookie_++;
    subscribers_[cookie] = Subscriber{callback, context};
    if (subscribers_.size() == 1) OnFirstSubscriber();
    return cookie;
}

void FIDocumentBase_::Unadvise(uint32_t cookie) {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    if (subscribers_.erase(cookie) != 0 && subscribers_.empty()) OnLastSubscriber();
}

size_t FIDocumentBase_::SubscriberCount() const {
    std::lock_guard<std::recursive_mutex> guard(lock_);
    return subscribers_.size();
}

void FIDocumentBase_::Notify(FIDocumentNotifyList& records) {
    DocumentReference keepAlive(this);
    std::vector<std::pair<uint32_t, Subscriber>> snapshot;
    {
        std::lock_guard<std::recursive_mutex> guard(lock_);
        if (subscribers_.empty()) return;
        snapshot.assign(subscribers_.begin(), subscribers_.end());
    }
    filter_.Apply(records);
    if (records.empty()) return;
    for (const auto& [cookie, subscriber] : snapshot) {
        {
            // A subscriber removed by an earlier callback is not called any more.
            std::lock_guard<std::recursive_mutex> guard(lock_);
            if (subscribers_.count(cookie) == 0) continue;
        }
        if (subscriber.callback != nullptr) subscriber.callback(this, subscriber.context, &records);
    }
}

// ---- FIDocumentBase_: paths ----

EntryHandle FIDocumentBase_::ResolvePath(const char* path, const char** rest) {
    EntryHandle root = GetRoot();
    const char* remaining = path == nullptr ? "" : path;
    if (std::strncmp(remaining, "Top", 3) == 0) {
        if (remaining[3] == '\0') {
            remaining += 3;
        } else if (remaining[3] == '.') {
            remaining += 4;
        }
    }
    EntryHandle found = root;
    if (*remaining != '\0' && !root.IsNull()) root->FindChild(found, remaining, &remaining);
    if (rest != nullptr) *rest = remaining;
    return found;
}

bool FIDocumentBase_::FindDelegate(const char* path, IServiceProvider** provider, FIValue* prefix,
                                   FIValue* delegatePath) {
    if (provider != nullptr) *provider = nullptr;
    if (path == nullptr || *path == '\0') return false;
    const char* rest = nullptr;
    EntryHandle entry = ResolvePath(path, &rest);
    if (rest == nullptr || *rest == '\0' || entry.IsNull() || !entry->IsDelegating()) return false;
    if (provider != nullptr) entry->GetServiceProvider(provider);
    if (delegatePath != nullptr) entry->GetDelegatePath(*delegatePath);
    if (prefix != nullptr && rest != path) {
        size_t n = static_cast<size_t>(rest - path);
        if (n > 0 && path[n - 1] == '.') --n;
        prefix->SetString(std::string(path, n));
    }
    return true;
}

HRESULT FIDocumentBase_::GetCanonicalPath(const char* path, FIValue& out) {
    out.Clear();
    EntryHandle current = GetRoot();
    if (current.IsNull()) return S_OK;
    current->GetName(out);
    const char* remaining = path == nullptr ? "" : path;
    FIValue element;
    while (*remaining != '\0') {
        if (current.IsNull()) break;
        // Paths through a delegating entry are canonical only in the delegate document, reached
        // through its COM face; without it the path stays unconsumed.
        if (current->IsDelegating()) break;
        const char* after = remaining;
        current->SplitPathElement(remaining, element, &after);
        if (element.TextLength() == 0) break;
        // The element goes out and into FindChild quoted, so a name holding a full stop stays one name.
        FIValue quoted;
        quoted.AppendValue(element, true, false);
        if (out.TextLength() > 0) out.AppendChar('.');
        out.AppendValue(quoted);
        EntryHandle next;
        const char* unresolved = nullptr;
        current->FindChild(next, quoted.GetString(), &unresolved);
        current = next;
        if (unresolved != nullptr && *unresolved != '\0') break;
        remaining = after;
    }
    if (*remaining != '\0') out.Clear();
    return S_OK;
}

HRESULT FIDocumentBase_::ExecuteAction(const char* path, const char* action, SAFEARRAY* inputs, short* status) {
    if (status != nullptr) *status = 1;
    const char* rest = nullptr;
    EntryHandle entry = ResolvePath(path, &rest);
    if (entry.IsNull() || (rest != nullptr && *rest != '\0')) {
        return RaiseFIError(E_FAIL, "Invalid path specified");
    }
    return entry->ExecuteAction(action, inputs, status);
}

// ---- FIDocumentBase_: batches ----

HRESULT FIDocumentBase_::GetRequestAttributes(FIAttributeRequest& request) {
    return ProcessBatchRequest(*this, request, false);
}

HRESULT FIDocumentBase_::SetRequestAttributes(FIAttributeRequest& request) {
    return ProcessBatchRequest(*this, request, true);
}

HRESULT FIDocumentBase_::GetAttributes(LPCOLESTR substituteFrom, LPCOLESTR substituteTo, LPCOLESTR basePath,
                                       SAFEARRAY* relativePaths, SAFEARRAY* attributes, SAFEARRAY* tuples,
                                       SAFEARRAY** values) {
    if (relativePaths == nullptr || attributes == nullptr || tuples == nullptr || values == nullptr) return E_POINTER;
    FIAttributeRequest request(this);
    request.substituteFrom = nuv::to_utf8(substituteFrom);
    request.substituteTo = nuv::to_utf8(substituteTo);
    HRESULT hr = request.FillFromArrays(basePath, relativePaths, attributes, tuples, false);
    if (FAILED(hr)) return hr;
    hr = GetRequestAttributes(request);
    if (FAILED(hr)) return hr;
    return request.ValuesToArray(values);
}

HRESULT FIDocumentBase_::SetAttributes(LPCOLESTR substituteFrom, LPCOLESTR substituteTo, LPCOLESTR basePath,
                                       SAFEARRAY* relativePaths, SAFEARRAY* attributes, SAFEARRAY* tuples) {
    if (relativePaths == nullptr || attributes == nullptr || tuples == nullptr) return E_POINTER;
    FIAttributeRequest request(this);
    request.substituteFrom = nuv::to_utf8(substituteFrom);
    request.substituteTo = nuv::to_utf8(substituteTo);
    HRESULT hr = request.FillFromArrays(basePath, relativePaths, attributes, tuples, true);
    if (FAILED(hr)) return hr;
    return SetRequestAttributes(request);
}

}  // namespace FI
