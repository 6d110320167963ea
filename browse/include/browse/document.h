// Browsing documents: the abstract document with its attribute dictionary, and the reusable base
// with subscribers, notification filtering, batch attributes, actions and path resolution.
#pragma once
#include <browseface.h>
#include <oleauto.h>
#include <servprov.h>
#include <windows.h>

#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "browse/entry.h"
#include "browse/notify.h"
#include "browse/request.h"
#include "browse/value.h"

namespace FI {

class AttributeIdTable;

// The id of an attribute name that is not registered.
constexpr uint32_t kUnknownAttributeId = 42;

using NotifyCallback = void (*)(class FIDocument* document, void* context, FIDocumentNotifyList* records);

class FIDocument {
public:
    FIDocument();
    FIDocument(const FIDocument&) = delete;
    FIDocument& operator=(const FIDocument&) = delete;

    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;
    virtual FIValue GetFileName() = 0;
    virtual FIValue GetAppName() = 0;
    virtual FIValue GetAppVersion() = 0;
    virtual bool GetDocumentFlag() = 0;
    virtual bool GetNamedFlag(const char* name) = 0;
    virtual uint32_t Advise(NotifyCallback callback, void* context) = 0;
    virtual void Unadvise(uint32_t cookie) = 0;
    virtual FIDocumentNotifyFilter* GetNotifyFilter() = 0;
    // Hands out the document's COM face for the two document service ids; E_NOINTERFACE otherwise.
    virtual HRESULT QueryService(IUnknown* owner, REFGUID service, REFIID riid, void** out);
    // The three paths are BSTRs, as the COM face receives them: each is taken whole, by its length, so one
    // holding a NUL names no entry instead of the entry named by the text before the NUL.
    virtual HRESULT GetAttributes(BSTR substituteFrom, BSTR substituteTo, BSTR basePath,
                                  SAFEARRAY* relativePaths, SAFEARRAY* attributes, SAFEARRAY* tuples,
                                  SAFEARRAY** values) = 0;
    virtual HRESULT SetAttributes(BSTR substituteFrom, BSTR substituteTo, BSTR basePath,
                                  SAFEARRAY* relativePaths, SAFEARRAY* attributes, SAFEARRAY* tuples) = 0;
    virtual HRESULT GetRequestAttributes(FIAttributeRequest& request) = 0;
    virtual HRESULT SetRequestAttributes(FIAttributeRequest& request) = 0;
    virtual void OnBeforeGetPath(int32_t pathIndex, FIAttributeRequest& request) = 0;
    virtual void OnBeforeSetPath(int32_t pathIndex, FIAttributeRequest& request) = 0;
    virtual void OnAfterGetPath(int32_t pathIndex, FIAttributeRequest& request) = 0;
    virtual void OnAfterSetPath(int32_t pathIndex, FIAttributeRequest& request) = 0;
    virtual HRESULT ExecuteAction(const char* path, const char* action, SAFEARRAY* inputs, short* status) = 0;
    virtual HRESULT GetHistory(const std::vector<std::string>& paths, const std::vector<std::string>& units,
                               const char* text, double time, double endTime, LONG flags, VARIANT* values);
    virtual HRESULT GetHistoryEx(const std::vector<std::string>& paths, const std::vector<std::string>& units,
                                 const char* text, double time, double endTime, LONG flags, VARIANT* values);
    virtual HRESULT GetCanonicalPath(const char* path, FIValue& out) = 0;
    virtual uint32_t GetAttributeId(const char* name);
    virtual void GetAttributeName(uint32_t id, FIValue& out);
    virtual HRESULT RegisterAttribute(const char* name, uint32_t id);
    virtual bool FindDelegate(const char* path, IServiceProvider** provider, FIValue* prefix, FIValue* delegatePath);
    virtual EntryHandle ResolvePath(const char* path, const char** rest) = 0;
    virtual EntryHandle GetRoot() = 0;

    // A single read or write through the batch operations.
    HRESULT GetAttribute(const char* path, const char* attribute, const char* units, VARIANT* out);
    HRESULT SetAttribute(const char* path, const char* attribute, const char* units, const VARIANT* value);

    // The attribute dictionary in name order, as a copy.
    std::vector<std::pair<std::string, uint32_t>> AttributeDictionary() const;

protected:
    virtual ~FIDocument();

private:
    // Guards the dictionary and serialises registrations; GetAttributeId reads ids_ without it.
    mutable std::shared_mutex dictionaryLock_;
    std::map<std::string, uint32_t, std::less<>> dictionary_;  // in name order, for listings
    std::unique_ptr<AttributeIdTable> ids_;                     // the same names, for lock-free lookups
};

class FIDocumentBase_ : public FIDocument {
public:
    FIDocumentBase_() = default;

    uint32_t Advise(NotifyCallback callback, void* context) override;
    void Unadvise(uint32_t cookie) override;
    FIDocumentNotifyFilter* GetNotifyFilter() override { return &filter_; }
    HRESULT GetAttributes(BSTR substituteFrom, BSTR substituteTo, BSTR basePath,
                          SAFEARRAY* relativePaths, SAFEARRAY* attributes, SAFEARRAY* tuples,
                          SAFEARRAY** values) override;
    HRESULT SetAttributes(BSTR substituteFrom, BSTR substituteTo, BSTR basePath,
                          SAFEARRAY* relativePaths, SAFEARRAY* attributes, SAFEARRAY* tuples) override;
    HRESULT GetRequestAttributes(FIAttributeRequest& request) override;
    HRESULT SetRequestAttributes(FIAttributeRequest& request) override;
    void OnBeforeGetPath(int32_t, FIAttributeRequest&) override {}
    void OnBeforeSetPath(int32_t, FIAttributeRequest&) override {}
    void OnAfterGetPath(int32_t, FIAttributeRequest&) override {}
    void OnAfterSetPath(int32_t, FIAttributeRequest&) override {}
    HRESULT ExecuteAction(const char* path, const char* action, SAFEARRAY* inputs, short* status) override;
    HRESULT GetCanonicalPath(const char* path, FIValue& out) override;
    bool FindDelegate(const char* path, IServiceProvider** provider, FIValue* prefix, FIValue* delegatePath) override;
    EntryHandle ResolvePath(const char* path, const char** rest) override;
    virtual void OnFirstSubscriber() {}
    virtual void OnLastSubscriber() {}

    // Filters the records, then hands them to every subscriber in cookie order. Safe to call from any
    // thread; a subscriber may advise or unadvise from inside its callback. Unadvise returns only once
    // no other thread is still calling the subscriber, so its context may be freed right after.
    void Notify(FIDocumentNotifyList& records);
    void TraceNotification(const FIDocumentNotifyList& records) { ::TraceNotification(records); }
    size_t SubscriberCount() const;

protected:
    ~FIDocumentBase_() override = default;

private:
    struct Subscriber {
        NotifyCallback callback;
        void* context;
    };
    // Runs the first/last-subscriber hooks until they match whether there are subscribers.
    void SyncSubscriberHooks();

    FIDocumentNotifyFilterBase filter_;
    // Guards the subscribers, the deliveries and the hook state; never held while a subscriber or a hook
    // is called.
    mutable std::recursive_mutex lock_;
    bool hooked_ = false;   // the first-subscriber hook ran last
    bool hooking_ = false;  // a thread is running the hooks
    std::thread::id hookThread_;
    std::condition_variable_any hooksDone_;
    uint32_t nextCookie_ = 1;
    std::map<uint32_t, Subscriber> subscribers_;
    // Deliveries under way: the subscriber's cookie and the thread calling it.
    std::vector<std::pair<uint32_t, std::thread::id>> delivering_;
    std::condition_variable_any delivered_;
};

// The name without its owner's prefix and the full stop after it; null when the name is not below it.
const char* StripNamePrefix(const char* prefix, const char* name);

// True for the two identifiers under which a document hands out its COM face
// (CLSID_CPDXDocumentV22 and IID_IPDXDocumentV22).
bool IsFIDocumentService(REFGUID service);

// The document another document delegates to, found through a delegating entry's service provider.
// Takes over the provider reference it is given and releases both interfaces when it ends.
class DelegateServiceHelper {
public:
    explicit DelegateServiceHelper(IServiceProvider* provider);
    ~DelegateServiceHelper();
    DelegateServiceHelper(const DelegateServiceHelper&) = delete;
    DelegateServiceHelper& operator=(const DelegateServiceHelper&) = delete;

    bool HasDocument() const { return document_ != nullptr; }
    IPDXDocumentV22* Document() const { return document_; }

private:
    IServiceProvider* provider_;
    IPDXDocumentV22* document_ = nullptr;
};

// Creates the COM face of a document; installed by the layer that implements it.
using DocumentObjectFactory = HRESULT (*)(FIDocument* document, IUnknown* owner, REFIID riid, void** out);
void SetDocumentObjectFactory(DocumentObjectFactory factory);

}  // namespace FI
