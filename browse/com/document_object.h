// The COM face of a browsing document: identity, batch attributes, canonical paths, actions, the
// notification filter, and the document's notifications as an outgoing event. Event sinks live in
// the Global Interface Table, so notifications can be fired from whichever thread delivers them.
#pragma once
#include <browseface.h>
#include <ocidl.h>
#include <servprov.h>

#include <mutex>
#include <vector>

#include "atl/nuvatlbase.h"
#include "atl/nuvatlcom.h"
#include "browse/document.h"

namespace FI::com {

class CPDXDocumentV22 : public CComObjectRootEx<CComMultiThreadModel>,
                        public IPDXDocumentV22,
                        public IDispatch,
                        public ISupportErrorInfoImpl<&IID_IPDXDocumentV22, &IID_IDispatch>,
                        public IConnectionPointContainer,
                        public IConnectionPoint,
                        public IServiceProvider {
public:
    using ComMap = CComMap<ComEntry<IPDXDocumentV22>, ComEntry<IDispatch>, ComEntry<ISupportErrorInfo>,
                           ComEntry<IConnectionPointContainer>, ComEntry<IConnectionPoint>,
                           ComEntry<IServiceProvider>, ComSelfEntry>;

    // Holds one document reference and the owner until the object goes.
    void Attach(FIDocument* document, IUnknown* owner);
    void FinalRelease();

    // IPDXDocumentV22
    STDMETHOD(GetVersion)(LONG* version) override;
    STDMETHOD(GetRevision)(LONG* revision) override;
    STDMETHOD(GetProcessId)(LONG* processId) override;
    STDMETHOD(GetFileName)(BSTR* fileName) override;
    STDMETHOD(GetAppName)(BSTR* appName) override;
    STDMETHOD(GetAppVersion)(BSTR* appVersion) override;
    STDMETHOD(GetDocumentFlag)(VARIANT_BOOL* flag) override;
    STDMETHOD(GetNamedFlag)(BSTR name, VARIANT_BOOL* flag) override;
    STDMETHOD(GetAttributes)(BSTR basePath, SAFEARRAY* relativePaths, SAFEARRAY* attributes, SAFEARRAY* tuples,
                             SAFEARRAY** values) override;
    STDMETHOD(SetAttributes)(BSTR basePath, SAFEARRAY* relativePaths, SAFEARRAY* attributes,
                             SAFEARRAY* tuples) override;
    STDMETHOD(GetMonikers)(SAFEARRAY* paths, SAFEARRAY** monikers) override;
    STDMETHOD(ExecuteAction)(BSTR path, BSTR action, SAFEARRAY* inputs, SHORT* status) override;
    STDMETHOD(SetNotifyFilter)(SAFEARRAY* filter) override;
    STDMETHOD(GetHistory)(SAFEARRAY* pathsAndUnits, BSTR text, DOUBLE time, DOUBLE endTime, LONG flags,
                          VARIANT* values) override;
    STDMETHOD(GetHistoryEx)(SAFEARRAY* pathsAndUnits, BSTR text, DOUBLE time, DOUBLE endTime, LONG flags,
                            VARIANT* values) override;
    STDMETHOD(GetAttributesEx)(BSTR substituteFrom, BSTR substituteTo, BSTR basePath, SAFEARRAY* relativePaths,
                               SAFEARRAY* attributes, SAFEARRAY* tuples, SAFEARRAY** values) override;
    STDMETHOD(SetAttributesEx)(BSTR substituteFrom, BSTR substituteTo, BSTR basePath, SAFEARRAY* relativePaths,
                               SAFEARRAY* attributes, SAFEARRAY* tuples) override;

    // IDispatch: present, without members.
    STDMETHOD(GetTypeInfoCount)(UINT* count) override;
    STDMETHOD(GetTypeInfo)(UINT index, LCID locale, ITypeInfo** info) override;
    STDMETHOD(GetIDsOfNames)(REFIID riid, LPOLESTR* names, UINT count, LCID locale, DISPID* ids) override;
    STDMETHOD(Invoke)(DISPID id, REFIID riid, LCID locale, WORD flags, DISPPARAMS* params, VARIANT* result,
                      EXCEPINFO* exception, UINT* argumentError) override;

    // IConnectionPointContainer: the one point is the object itself.
    STDMETHOD(EnumConnectionPoints)(IEnumConnectionPoints** points) override;
    STDMETHOD(FindConnectionPoint)(REFIID riid, IConnectionPoint** point) override;

    // IConnectionPoint for the document events; the cookie is the sink's Global Interface Table cookie.
    STDMETHOD(GetConnectionInterface)(IID* iid) override;
    STDMETHOD(GetConnectionPointContainer)(IConnectionPointContainer** container) override;
    STDMETHOD(Advise)(IUnknown* sink, DWORD* cookie) override;
    STDMETHOD(Unadvise)(DWORD cookie) override;
    STDMETHOD(EnumConnections)(IEnumConnections** connections) override;

    // IServiceProvider: serves nothing.
    STDMETHOD(QueryService)(REFGUID service, REFIID riid, void** out) override;

    FIDocument* Document() const { return document_; }
    bool IsSubscribed() const;

private:
    static void OnNotify(FIDocument* document, void* context, FIDocumentNotifyList* records);
    void Fire(const FIDocumentNotifyList& records);
    void Subscribe();
    // Lets go of the document's notifications; with whenNoSinks, only while no sink is connected.
    void Unsubscribe(bool whenNoSinks = false);
    HRESULT History(bool extended, SAFEARRAY* pathsAndUnits, BSTR text, double time, double endTime, LONG flags,
                    VARIANT* values);
    // A counted pointer to the sink of a cookie still in the list; null otherwise.
    IDispatch* SinkOf(DWORD cookie);
    // Takes the cookies' sinks out of the Global Interface Table (0 stands for none).
    static void Revoke(const std::vector<DWORD>& cookies);
    std::vector<DWORD> Cookies();

    FIDocument* document_ = nullptr;
    CComPtr<IUnknown> owner_;
    // Serialises the subscription to the document; the sink list has the object's critical section.
    mutable std::recursive_mutex subscriptionLock_;
    bool subscribed_ = false;
    uint32_t documentCookie_ = 0;
    std::vector<DWORD> sinks_;  // Global Interface Table cookies; 0 marks a free slot
    int taking_ = 0;  // sinks being taken from the table now (SinkOf), with no lock held
    std::vector<DWORD> unrevoked_;  // cookies unadvised meanwhile, for the last taker to revoke
};

// Makes the COM face of a document, with one reference on the document and one on the owner, and
// hands out the asked-for interface. Installed as the documents' factory when the library loads.
HRESULT CreateDocumentObject(FIDocument* document, IUnknown* owner, REFIID riid, void** out);

// The two-dimensional record array the event carries: 8 rows by one column per record.
HRESULT BuildNotificationArray(const FIDocumentNotifyList& records, SAFEARRAY** out);

}  // namespace FI::com
