#include "browse/document.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <string_view>

#include "attribute_ids.h"
#include "browse/error.h"
#include "nuv_arguments.h"
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

// A BSTR made from narrow text, freed at the end of the scope.
class ScopedBstr {
public:
    explicit ScopedBstr(std::string_view text) : b_(nuv::bstr_from_utf8(text)) {}
    ~ScopedBstr() { SysFreeString(b_); }
    ScopedBstr(const ScopedBstr&) = delete;
    ScopedBstr& operator=(const ScopedBstr&) = delete;
    BSTR get() const { return b_; }

private:
    BSTR b_;
};

// The delegate document behind a delegating entry, or none.
std::unique_ptr<DelegateServiceHelper> DelegateOf(Entry& entry) {
    IServiceProvider* provider = nullptr;
    if (FAILED(entry.GetServiceProvider(&provider)) || provider == nullptr) return nullptr;
    return std::make_unique<DelegateServiceHelper>(provider);
}

// Asks the delegate document for the canonical form of one path (its GetMonikers).
bool DelegateCanonicalPath(IPDXDocumentV22* delegate, const char* path, std::string& out) {
    SAFEARRAY* paths = SafeArrayCreateVector(VT_VARIANT, 0, 1);
    if (paths == nullptr) return false;
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = nuv::bstr_from_utf8(path);
    LONG index = 0;
    SafeArrayPutElement(paths, &index, &v);
    VariantClear(&v);
    SAFEARRAY* monikers = nullptr;
    HRESULT hr = delegate->GetMonikers(paths, &monikers);
    SafeArrayDestroy(paths);
    if (FAILED(hr) || monikers == nullptr) return false;
    // The answer is a vector of VARIANTs or of BSTRs; an element is read only in the form it has.
    bool ok = false;
    LONG lower = 0;
    VARTYPE vt = VT_EMPTY;
    if (SafeArrayGetDim(monikers) == 1 && (vt = nuv::ArrayElementType(monikers)) != VT_EMPTY &&
        SUCCEEDED(SafeArrayGetLBound(monikers, 1, &lower))) {
        if (vt == VT_VARIANT && SUCCEEDED(SafeArrayGetElement(monikers, &lower, &v))) {
            if (v.vt == VT_BSTR || SUCCEEDED(VariantChangeType(&v, &v, 0, VT_BSTR))) out = nuv::bstr_to_utf8(v.bstrVal);
            VariantClear(&v);
        } else if (vt == VT_BSTR) {
            BSTR text = nullptr;
            if (SUCCEEDED(SafeArrayGetElement(monikers, &lower, &text))) out = nuv::bstr_to_utf8(text);
            SysFreeString(text);
        }
        // An answer holding a NUL would be cut short at it and name another path.
        ok = !out.empty() && out.find('\0') == std::string::npos;
    }
    SafeArrayDestroy(monikers);
    return ok;
}

}  // namespace

bool IsFIDocumentService(REFGUID service) {
    return IsEqualGUID(service, CLSID_CPDXDocumentV22) || IsEqualGUID(service, IID_IPDXDocumentV22);
}

DelegateServiceHelper::DelegateServiceHelper(IServiceProvider* provider) : provider_(provider) {
    if (provider_ == nullptr) return;
    void* out = nullptr;
    if (SUCCEEDED(provider_->QueryService(IID_IPDXDocumentV22, IID_IPDXDocumentV22, &out))) {
        document_ = static_cast<IPDXDocumentV22*>(out);
    }
}

DelegateServiceHelper::~DelegateServiceHelper() {
    if (document_ != nullptr) document_->Release();
    if (provider_ != nullptr) provider_->Release();
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

FIDocument::FIDocument() : ids_(std::make_unique<AttributeIdTable>()) {
    for (uint32_t id = 0; id < std::size(kStandardAttributes); ++id) {
        dictionary_.emplace(kStandardAttributes[id], id);
        ids_->Add(kStandardAttributes[id], id);
    }
}

FIDocument::~FIDocument() = default;

HRESULT FIDocument::QueryService(IUnknown* owner, REFGUID service, REFIID riid, void** out) {
    if (!IsFIDocumentService(service)) return E_NOINTERFACE;
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    // The all-zero id answers an object's implementation, uncounted: never a client's interface.
    if (riid == GUID_NULL) return E_NOINTERFACE;
    DocumentObjectFactory factory = g_documentObjectFactory.load();
    if (factory == nullptr) return E_NOINTERFACE;
    return factory(this, owner, riid, out);
}

HRESULT FIDocument::GetHistory(const std::vector<std::string>&, const std::vector<std::string>&, const char*, double,
                               double, LONG, VARIANT*) {
    return RaiseFIError(E_NOTIMPL, "History not supported");
}

HRESULT FIDocument::GetHistoryEx(const std::vector<std::string>&, const std::vector<std::string>&, const char*,
                                 double, double, LONG, VARIANT*) {
    return RaiseFIError(E_NOTIMPL, "History not supported");
}

uint32_t FIDocument::GetAttributeId(const char* name) {
    if (name == nullptr) return kUnknownAttributeId;
    return ids_->Find(name, kUnknownAttributeId);
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
    if (inserted) {
        try {
            ids_->Add(it->first, id);
        } catch (...) {
            dictionary_.erase(it);
            throw;
        }
    }
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

// The first/last hooks register the document with other components (the message object, the engine
// events), which may at that moment be delivering to it on another thread, and a subscriber called there
// may advise or unadvise: so the hooks run with no lock of the document held. One thread at a time runs
// them, until they match whether there are subscribers; a thread that finds another one at it waits for
// it to finish, so that when Advise returns the first-subscriber hook has run.
void FIDocumentBase_::SyncSubscriberHooks() {
    const std::thread::id self = std::this_thread::get_id();
    std::unique_lock<std::recursive_mutex> guard(lock_);
    if (hooking_) {
        if (hookThread_ == self) return;  // a hook of this thread's own: its loop sees the change
        hooksDone_.wait(guard, [&] { return !hooking_; });
    }
    hooking_ = true;
    hookThread_ = self;
    for (;;) {
        const bool wanted = !subscribers_.empty();
        if (wanted == hooked_) break;
        hooked_ = wanted;
        guard.unlock();
        if (wanted)
            OnFirstSubscriber();
        else
            OnLastSubscriber();
        guard.lock();
    }
    hooking_ = false;
    hookThread_ = std::thread::id();
    hooksDone_.notify_all();
}

uint32_t FIDocumentBase_::Advise(NotifyCallback callback, void* context) {
    uint32_t cookie = 0;
    {
        std::lock_guard<std::recursive_mutex> guard(lock_);
        cookie = nextCookie_++;
        subscribers_[cookie] = Subscriber{callback, context};
    }
    SyncSubscriberHooks();
    return cookie;
}

// After the removal, waits for the deliveries to that subscriber on other threads; one under way on
// this thread is the caller's own callback, which may unadvise itself. The wait holds neither lock,
// so a callback being waited for may still advise or unadvise.
void FIDocumentBase_::Unadvise(uint32_t cookie) {
    {
        std::lock_guard<std::recursive_mutex> guard(lock_);
        subscribers_.erase(cookie);
    }
    SyncSubscriberHooks();
    const std::thread::id self = std::this_thread::get_id();
    std::unique_lock<std::recursive_mutex> guard(lock_);
    delivered_.wait(guard, [&] {
        for (const auto& [c, thread] : delivering_) {
            if (c == cookie && thread != self) return false;
        }
        return true;
    });
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
    const std::thread::id self = std::this_thread::get_id();
    for (const auto& [cookie, subscriber] : snapshot) {
        if (subscriber.callback == nullptr) continue;
        {
            // A subscriber removed by an earlier callback is not called any more; one still registered
            // is marked as being called, so that its Unadvise waits for the call to end.
            std::lock_guard<std::recursive_mutex> guard(lock_);
            if (subscribers_.count(cookie) == 0) continue;
            delivering_.emplace_back(cookie, self);
        }
        struct Done {
            FIDocumentBase_* document;
            uint32_t cookie;
            std::thread::id thread;
            ~Done() {
                std::lock_guard<std::recursive_mutex> guard(document->lock_);
                auto& list = document->delivering_;
                auto it = std::find(list.begin(), list.end(), std::make_pair(cookie, thread));
                if (it != list.end()) list.erase(it);
                document->delivered_.notify_all();
            }
        } done{this, cookie, self};
        subscriber.callback(this, subscriber.context, &records);
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
        if (current->IsDelegating()) {
            // The rest of the path is canonical in the delegate document, under the delegate path.
            std::unique_ptr<DelegateServiceHelper> delegate = DelegateOf(*current);
            std::string answer;
            if (!delegate || !delegate->HasDocument() ||
                !DelegateCanonicalPath(delegate->Document(), remaining, answer)) {
                break;
            }
            FIValue delegatePath;
            current->GetDelegatePath(delegatePath);
            std::string prefix = delegatePath.ToStdString();
            const char* below = StripNamePrefix(prefix.c_str(), answer.c_str());
            if (below == nullptr || *below == '\0') break;
            if (out.TextLength() > 0) out.AppendChar('.');
            out.Append(below);
            remaining = "";
            break;
        }
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
    bool partial = rest != nullptr && *rest != '\0';
    if (partial && !entry.IsNull() && entry->IsDelegating()) {
        std::unique_ptr<DelegateServiceHelper> delegate = DelegateOf(*entry);
        if (delegate && delegate->HasDocument()) {
            FIValue target;
            entry->GetDelegatePath(target);
            target.AppendChar('.');
            target.Append(rest);
            ScopedBstr targetText(target.ToStdString());
            ScopedBstr actionText(action == nullptr ? "" : action);
            return delegate->Document()->ExecuteAction(targetText.get(), actionText.get(), inputs, status);
        }
    }
    if (entry.IsNull() || partial) return RaiseFIError(E_FAIL, "Invalid path specified");
    return entry->ExecuteAction(action, inputs, status);
}

// ---- FIDocumentBase_: batches ----

HRESULT FIDocumentBase_::GetRequestAttributes(FIAttributeRequest& request) {
    return ProcessBatchRequest(*this, request, false);
}

HRESULT FIDocumentBase_::SetRequestAttributes(FIAttributeRequest& request) {
    return ProcessBatchRequest(*this, request, true);
}

HRESULT FIDocumentBase_::GetAttributes(BSTR substituteFrom, BSTR substituteTo, BSTR basePath,
                                       SAFEARRAY* relativePaths, SAFEARRAY* attributes, SAFEARRAY* tuples,
                                       SAFEARRAY** values) {
    if (relativePaths == nullptr || attributes == nullptr || tuples == nullptr || values == nullptr) return E_POINTER;
    FIAttributeRequest request(this);
    request.substituteFrom = nuv::bstr_to_utf8(substituteFrom);
    request.substituteTo = nuv::bstr_to_utf8(substituteTo);
    HRESULT hr = request.FillFromArrays(basePath, relativePaths, attributes, tuples, false);
    if (FAILED(hr)) return hr;
    hr = GetRequestAttributes(request);
    if (FAILED(hr)) return hr;
    return request.ValuesToArray(values);
}

HRESULT FIDocumentBase_::SetAttributes(BSTR substituteFrom, BSTR substituteTo, BSTR basePath,
                                       SAFEARRAY* relativePaths, SAFEARRAY* attributes, SAFEARRAY* tuples) {
    if (relativePaths == nullptr || attributes == nullptr || tuples == nullptr) return E_POINTER;
    FIAttributeRequest request(this);
    request.substituteFrom = nuv::bstr_to_utf8(substituteFrom);
    request.substituteTo = nuv::bstr_to_utf8(substituteTo);
    HRESULT hr = request.FillFromArrays(basePath, relativePaths, attributes, tuples, true);
    if (FAILED(hr)) return hr;
    return SetRequestAttributes(request);
}

}  // namespace FI
