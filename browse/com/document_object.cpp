#include "document_object.h"

#include <objbase.h>
#include <objidl.h>
#include <olectl.h>

#include <algorithm>
#include <string>
#include <utility>

#include "browse/attributes.h"
#include "browse/error.h"
#include "browse/request.h"
#include "browse/variant_array.h"
#include "nuv_text.h"
#include "typed_access.h"

namespace FI::com {

namespace {

constexpr LONG kVersion = 220;
constexpr LONG kRevision = 1;
constexpr LCID kEventLocale = 1024;

class ScopedArray {
public:
    explicit ScopedArray(SAFEARRAY* a = nullptr) : a_(a) {}
    ~ScopedArray() {
        if (a_ != nullptr) SafeArrayDestroy(a_);
    }
    ScopedArray(const ScopedArray&) = delete;
    ScopedArray& operator=(const ScopedArray&) = delete;
    SAFEARRAY* get() const { return a_; }
    SAFEARRAY* Detach() { return std::exchange(a_, nullptr); }

private:
    SAFEARRAY* a_;
};

HRESULT ToText(VARIANT* v, std::string& out) {
    if (v->vt != VT_BSTR) {
        HRESULT hr = VariantChangeType(v, v, 0, VT_BSTR);
        if (FAILED(hr)) return hr;
    }
    out = nuv::bstr_to_utf8(v->bstrVal);
    return S_OK;
}

// An int from a filter cell; false when it does not convert.
bool ToInt(const VARIANT* v, int32_t& out) {
    FIVariant converted;
    if (FAILED(VariantChangeType(converted.get(), v, 0, VT_I4))) return false;
    out = converted.get()->lVal;
    return true;
}

HRESULT HandOutBstr(const FIValue& value, BSTR* out) {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    std::string text = value.ToStdString();
    if (text.empty()) return S_OK;
    *out = nuv::bstr_from_utf8(text);
    return *out == nullptr ? E_OUTOFMEMORY : S_OK;
}

std::string Narrow(BSTR text) { return nuv::bstr_to_utf8(text); }

// Paths and names go on as C texts: one holding a NUL would be cut short and name something else.
bool HoldsNul(const std::string& text) { return text.find('\0') != std::string::npos; }
bool HoldsNul(BSTR text) {
    const UINT n = SysStringLen(text);
    for (UINT i = 0; i < n; ++i)
        if (text[i] == 0) return true;
    return false;
}

IGlobalInterfaceTable* GlobalTable() {
    IGlobalInterfaceTable* table = nullptr;
    if (FAILED(CoCreateInstance(CLSID_StdGlobalInterfaceTable, nullptr, CLSCTX_INPROC_SERVER,
                                IID_IGlobalInterfaceTable, reinterpret_cast<void**>(&table)))) {
        return nullptr;
    }
    return table;
}

int32_t EventCode(int32_t kind) {
    static constexpr int32_t kCodes[] = {0, 9, 8, 1, 4, 2, 3, 6, 10, 11, 12, 7};
    if (kind < 0 || static_cast<size_t>(kind) >= std::size(kCodes)) return 89;
    return kCodes[kind];
}

int32_t SeverityCode(int32_t severity) {
    if (severity == FIDocumentNotify::Error) return 2;
    if (severity == FIDocumentNotify::Warning) return 3;
    return 4;
}

// The client's severity scale mapped onto the records' own (1 error, 2 warning, 3 information).
int32_t SeverityFromClient(const VARIANT* v) {
    int32_t client = 0;
    if (!ToInt(v, client)) return 3;
    if (client < -1) return 3;
    if (client <= 2) return 1;
    if (client == 3) return 2;
    return 3;
}

uint32_t FieldFromSelector(const VARIANT* v) {
    int32_t selector = 0;
    if (!ToInt(v, selector)) return FIDocumentNotifyFilterBase::kPosition2;
    switch (selector) {
        case 0: return FIDocumentNotifyFilterBase::kEvery;
        case 1: return FIDocumentNotifyFilterBase::kSeverity;
        case 2: return FIDocumentNotifyFilterBase::kPosition2;
        case 3: return FIDocumentNotifyFilterBase::kPosition1;
        case 4: return FIDocumentNotifyFilterBase::kKind;
        default: return FIDocumentNotifyFilterBase::kPosition2;
    }
}

uint32_t OperatorFromSelector(const VARIANT* v) {
    int32_t selector = 0;
    if (!ToInt(v, selector) || selector < 0 || selector > 2) return FIDocumentNotifyFilterBase::kGreater;
    return static_cast<uint32_t>(selector);
}

}  // namespace

// ---- creation and lifetime ----

HRESULT CreateDocumentObject(FIDocument* document, IUnknown* owner, REFIID riid, void** out) {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (document == nullptr) return E_POINTER;
    return Guarded("CreateDocumentObject", [&] {
        CComObject<CPDXDocumentV22>* object = nullptr;
        HRESULT hr = CComObject<CPDXDocumentV22>::CreateInstance(&object);
        if (FAILED(hr)) return hr;
        object->AddRef();
        object->Attach(document, owner);
        hr = object->QueryInterface(riid, out);
        if (hr != S_OK) {
            if (*out != nullptr) static_cast<IUnknown*>(*out)->Release();
            *out = nullptr;
            if (SUCCEEDED(hr)) hr = E_NOINTERFACE;
        }
        object->Release();
        return hr;
    });
}

namespace {
[[maybe_unused]] const bool g_factoryInstalled = (SetDocumentObjectFactory(&CreateDocumentObject), true);
}  // namespace

void CPDXDocumentV22::Attach(FIDocument* document, IUnknown* owner) {
    document_ = document;
    document_->AddRef();
    owner_ = owner;
}

void CPDXDocumentV22::FinalRelease() {
    Unsubscribe();
    if (document_ != nullptr) document_->Release();
    document_ = nullptr;
    owner_.Release();
    std::vector<DWORD> left;
    {
        CComCritSecLock<CComAutoCriticalSection> lock(m_critsec);
        left.swap(sinks_);
        left.insert(left.end(), unrevoked_.begin(), unrevoked_.end());
        unrevoked_.clear();
    }
    Revoke(left);
}

void CPDXDocumentV22::Revoke(const std::vector<DWORD>& cookies) {
    if (std::all_of(cookies.begin(), cookies.end(), [](DWORD c) { return c == 0; })) return;
    IGlobalInterfaceTable* table = GlobalTable();
    if (table == nullptr) return;
    for (DWORD cookie : cookies) {
        if (cookie != 0) table->RevokeInterfaceFromGlobal(cookie);
    }
    table->Release();
}

bool CPDXDocumentV22::IsSubscribed() const {
    std::lock_guard guard(subscriptionLock_);
    return subscribed_;
}

void CPDXDocumentV22::Subscribe() {
    std::lock_guard guard(subscriptionLock_);
    subscribed_ = true;
    if (document_ != nullptr && documentCookie_ == 0) documentCookie_ = document_->Advise(&OnNotify, this);
}

// The document is left outside the lock: its Unadvise waits for a notification under way on another
// thread, whose sink may be advising or unadvising on this object.
void CPDXDocumentV22::Unsubscribe(bool whenNoSinks) {
    uint32_t cookie = 0;
    {
        std::lock_guard guard(subscriptionLock_);
        if (whenNoSinks) {
            CComCritSecLock<CComAutoCriticalSection> lock(m_critsec);
            if (std::any_of(sinks_.begin(), sinks_.end(), [](DWORD c) { return c != 0; })) return;
        }
        subscribed_ = false;
        cookie = std::exchange(documentCookie_, 0);
    }
    if (document_ != nullptr && cookie != 0) document_->Unadvise(cookie);
}

// ---- identity ----

HRESULT CPDXDocumentV22::GetVersion(LONG* version) {
    if (version == nullptr) return E_POINTER;
    *version = kVersion;
    return S_OK;
}

HRESULT CPDXDocumentV22::GetRevision(LONG* revision) {
    if (revision == nullptr) return E_POINTER;
    *revision = kRevision;
    return S_OK;
}

HRESULT CPDXDocumentV22::GetProcessId(LONG* processId) {
    if (processId == nullptr) return E_POINTER;
    *processId = static_cast<LONG>(GetCurrentProcessId());
    return S_OK;
}

HRESULT CPDXDocumentV22::GetFileName(BSTR* fileName) {
    return Guarded("GetFileName", [&] { return HandOutBstr(document_->GetFileName(), fileName); });
}

HRESULT CPDXDocumentV22::GetAppName(BSTR* appName) {
    return Guarded("GetAppName", [&] { return HandOutBstr(document_->GetAppName(), appName); });
}

HRESULT CPDXDocumentV22::GetAppVersion(BSTR* appVersion) {
    return Guarded("GetAppVersion", [&] { return HandOutBstr(document_->GetAppVersion(), appVersion); });
}

HRESULT CPDXDocumentV22::GetDocumentFlag(VARIANT_BOOL* flag) {
    if (flag == nullptr) return E_POINTER;
    return Guarded("GetDocumentFlag", [&] {
        *flag = document_->GetDocumentFlag() ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
    });
}

HRESULT CPDXDocumentV22::GetNamedFlag(BSTR name, VARIANT_BOOL* flag) {
    if (flag == nullptr) return E_POINTER;
    return Guarded("GetNamedFlag", [&] {
        *flag = document_->GetNamedFlag(Narrow(name).c_str()) ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
    });
}

// ---- attributes, paths, actions ----

HRESULT CPDXDocumentV22::GetAttributes(BSTR basePath, SAFEARRAY* relativePaths, SAFEARRAY* attributes,
                                       SAFEARRAY* tuples, SAFEARRAY** values) {
    return GetAttributesEx(nullptr, nullptr, basePath, relativePaths, attributes, tuples, values);
}

HRESULT CPDXDocumentV22::SetAttributes(BSTR basePath, SAFEARRAY* relativePaths, SAFEARRAY* attributes,
                                       SAFEARRAY* tuples) {
    return SetAttributesEx(nullptr, nullptr, basePath, relativePaths, attributes, tuples);
}

HRESULT CPDXDocumentV22::GetAttributesEx(BSTR substituteFrom, BSTR substituteTo, BSTR basePath,
                                         SAFEARRAY* relativePaths, SAFEARRAY* attributes, SAFEARRAY* tuples,
                                         SAFEARRAY** values) {
    if (document_ == nullptr) return S_OK;
    return Guarded("GetAttributes", [&] {
        if (HoldsNul(basePath)) return RaiseFIError(E_FAIL, "Invalid base path specified");
        return document_->GetAttributes(substituteFrom, substituteTo, basePath, relativePaths, attributes, tuples,
                                        values);
    });
}

HRESULT CPDXDocumentV22::SetAttributesEx(BSTR substituteFrom, BSTR substituteTo, BSTR basePath,
                                         SAFEARRAY* relativePaths, SAFEARRAY* attributes, SAFEARRAY* tuples) {
    if (document_ == nullptr) return S_OK;
    return Guarded("SetAttributes", [&] {
        if (HoldsNul(basePath)) return RaiseFIError(E_FAIL, "Invalid base path specified");
        return document_->SetAttributes(substituteFrom, substituteTo, basePath, relativePaths, attributes, tuples);
    });
}

HRESULT CPDXDocumentV22::GetMonikers(SAFEARRAY* paths, SAFEARRAY** monikers) {
    if (paths == nullptr || monikers == nullptr) return E_POINTER;
    if (document_ == nullptr) return S_OK;
    return Guarded("GetMonikers", [&] {
        VariantArrayReader reader(paths, 1);
        if (FAILED(reader.Status())) return reader.Status();
        const LONG count = reader.Extent(0);
        ScopedArray answer(SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(count)));
        if (answer.get() == nullptr) return E_OUTOFMEMORY;
        FIVariant element;
        for (LONG i = 0; i < count; ++i) {
            std::string path;
            HRESULT hr = reader.Get(i, element.get());
            if (SUCCEEDED(hr)) hr = ToText(element.get(), path);
            if (FAILED(hr)) return hr;
            // A path that does not resolve leaves its element empty; the others are still answered.
            if (HoldsNul(path)) continue;
            FIValue canonical;
            if (FAILED(document_->GetCanonicalPath(path.c_str(), canonical))) {
                SetErrorInfo(0, nullptr);
                continue;
            }
            if (canonical.TextLength() == 0) continue;
            FIVariant text;
            hr = FIValueToVariant(canonical, text.get());
            if (SUCCEEDED(hr)) hr = SafeArrayPutElement(answer.get(), &i, text.get());
            if (FAILED(hr)) return hr;
        }
        *monikers = answer.Detach();
        return S_OK;
    });
}

HRESULT CPDXDocumentV22::ExecuteAction(BSTR path, BSTR action, SAFEARRAY* inputs, SHORT* status) {
    return Guarded("ExecuteAction", [&] {
        const std::string target = Narrow(path);
        const std::string name = Narrow(action);
        if (HoldsNul(target)) return RaiseFIError(E_FAIL, "Invalid path specified");
        if (HoldsNul(name)) return RaiseFIError(E_FAIL, "Action is not valid");
        return document_->ExecuteAction(target.c_str(), name.c_str(), inputs, status);
    });
}

HRESULT CPDXDocumentV22::SetNotifyFilter(SAFEARRAY* filter) {
    if (document_ == nullptr) return S_OK;
    return Guarded("SetNotifyFilter", [&] {
        FIDocumentNotifyFilter* target = document_->GetNotifyFilter();
        if (target == nullptr) return S_OK;
        target->Clear();
        VariantArrayReader reader(filter, 2);
        if (FAILED(reader.Status())) return S_OK;
        FIVariant cell[3];
        for (LONG i = 0; i < reader.Extent(1); ++i) {
            for (LONG row = 0; row < 3; ++row) {
                if (row >= reader.Extent(0) || FAILED(reader.Get(row, i, cell[row].get()))) {
                    VariantClear(cell[row].get());
                }
            }
            const uint32_t field = FieldFromSelector(cell[0].get());
            const uint32_t op = OperatorFromSelector(cell[1].get());
            int32_t value = 0;
            if (field == FIDocumentNotifyFilterBase::kSeverity) {
                value = SeverityFromClient(cell[2].get());
            } else if (!ToInt(cell[2].get(), value)) {
                value = 0;
            }
            target->AddCondition(field, op, value);
        }
        return S_OK;
    });
}

HRESULT CPDXDocumentV22::History(bool extended, SAFEARRAY* pathsAndUnits, BSTR text, double time, double endTime,
                                 LONG flags, VARIANT* values) {
    VariantArrayReader reader(pathsAndUnits, 2);
    if (FAILED(reader.Status())) return reader.Status();
    if (reader.Extent(0) != 2) return E_INVALIDARG;
    std::vector<std::string> paths;
    std::vector<std::string> units;
    FIVariant element;
    HRESULT loop = S_OK;
    for (LONG i = 0; i < reader.Extent(1) && SUCCEEDED(loop); ++i) {
        std::string path;
        std::string unit;
        loop = reader.Get(0, i, element.get());
        if (SUCCEEDED(loop)) loop = ToText(element.get(), path);
        if (SUCCEEDED(loop)) loop = reader.Get(1, i, element.get());
        if (SUCCEEDED(loop) && element.get()->vt != VT_EMPTY && element.get()->vt != VT_NULL) {
            loop = ToText(element.get(), unit);
        }
        if (SUCCEEDED(loop)) {
            paths.push_back(std::move(path));
            units.push_back(std::move(unit));
        }
    }
    const std::string narrowed = Narrow(text);
    HRESULT hr = extended ? document_->GetHistoryEx(paths, units, narrowed.c_str(), time, endTime, flags, values)
                          : document_->GetHistory(paths, units, narrowed.c_str(), time, endTime, flags, values);
    return FAILED(loop) ? loop : hr;
}

HRESULT CPDXDocumentV22::GetHistory(SAFEARRAY* pathsAndUnits, BSTR text, DOUBLE time, DOUBLE endTime, LONG flags,
                                    VARIANT* values) {
    return Guarded("GetHistory",
                   [&] { return History(false, pathsAndUnits, text, time, endTime, flags, values); });
}

HRESULT CPDXDocumentV22::GetHistoryEx(SAFEARRAY* pathsAndUnits, BSTR text, DOUBLE time, DOUBLE endTime, LONG flags,
                                      VARIANT* values) {
    return Guarded("GetHistoryEx",
                   [&] { return History(true, pathsAndUnits, text, time, endTime, flags, values); });
}

// ---- IDispatch ----

HRESULT CPDXDocumentV22::GetTypeInfoCount(UINT* count) {
    if (count == nullptr) return E_POINTER;
    *count = 0;
    return S_OK;
}

HRESULT CPDXDocumentV22::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
    if (info != nullptr) *info = nullptr;
    return E_FAIL;
}

HRESULT CPDXDocumentV22::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) { return DISP_E_MEMBERNOTFOUND; }

HRESULT CPDXDocumentV22::Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) {
    return DISP_E_MEMBERNOTFOUND;
}

// ---- connection point ----

HRESULT CPDXDocumentV22::EnumConnectionPoints(IEnumConnectionPoints** points) {
    if (points == nullptr) return E_POINTER;
    *points = nullptr;
    IConnectionPoint* only[] = {static_cast<IConnectionPoint*>(this)};
    using Enum = CComEnum<IEnumConnectionPoints, &IID_IEnumConnectionPoints, IConnectionPoint*,
                          _CopyInterface<IConnectionPoint>>;
    return AtlCreateEnum<Enum>(only, only + 1, points);
}

HRESULT CPDXDocumentV22::FindConnectionPoint(REFIID riid, IConnectionPoint** point) {
    if (point == nullptr) return E_POINTER;
    *point = nullptr;
    if (riid != DIID__IPDXDocumentEventsV22) return CONNECT_E_NOCONNECTION;
    *point = static_cast<IConnectionPoint*>(this);
    static_cast<IPDXDocumentV22*>(this)->AddRef();
    return S_OK;
}

HRESULT CPDXDocumentV22::GetConnectionInterface(IID* iid) {
    if (iid == nullptr) return E_POINTER;
    *iid = DIID__IPDXDocumentEventsV22;
    return S_OK;
}

HRESULT CPDXDocumentV22::GetConnectionPointContainer(IConnectionPointContainer** container) {
    if (container == nullptr) return E_POINTER;
    *container = static_cast<IConnectionPointContainer*>(this);
    static_cast<IPDXDocumentV22*>(this)->AddRef();
    return S_OK;
}

// The Global Interface Table holds the sink's one reference for as long as it is connected.
HRESULT CPDXDocumentV22::Advise(IUnknown* sink, DWORD* cookie) {
    if (sink == nullptr || cookie == nullptr) return E_POINTER;
    *cookie = 0;
    CComPtr<IUnknown> events;
    HRESULT hr = sink->QueryInterface(DIID__IPDXDocumentEventsV22, reinterpret_cast<void**>(&events));
    if (hr == E_NOINTERFACE) return CONNECT_E_CANNOTCONNECT;
    if (FAILED(hr)) return hr;
    if (!events) return CONNECT_E_CANNOTCONNECT;
    return Guarded("Advise", [&] {
        std::lock_guard subscription(subscriptionLock_);
        DWORD registered = 0;
        bool first = false;
        {
            IGlobalInterfaceTable* table = GlobalTable();
            if (table != nullptr) {
                // Held as IDispatch, which every apartment can marshal: the events interface is a
                // dispinterface with no marshaler of its own registered.
                if (FAILED(table->RegisterInterfaceInGlobal(events, IID_IDispatch, &registered))) {
                    registered = 0;
                }
                table->Release();
            }
            if (registered == 0) return CONNECT_E_ADVISELIMIT;
            CComCritSecLock<CComAutoCriticalSection> lock(m_critsec);
            first = std::none_of(sinks_.begin(), sinks_.end(), [](DWORD c) { return c != 0; });
            auto slot = std::find(sinks_.begin(), sinks_.end(), DWORD{0});
            if (slot == sinks_.end()) {
                sinks_.push_back(registered);
            } else {
                *slot = registered;
            }
        }
        *cookie = registered;
        if (first) Subscribe();
        return S_OK;
    });
}

HRESULT CPDXDocumentV22::Unadvise(DWORD cookie) {
    if (cookie == 0) return CONNECT_E_NOCONNECTION;
    return Guarded("Unadvise", [&] {
        bool last = false;
        {
            std::lock_guard subscription(subscriptionLock_);
            // Revoked outside the lock: the table releases the sink, which may call back into this object.
            // While a sink is being taken from the table, the last taker revokes it instead.
            std::vector<DWORD> revoke{cookie};
            {
                CComCritSecLock<CComAutoCriticalSection> lock(m_critsec);
                auto slot = std::find(sinks_.begin(), sinks_.end(), cookie);
                if (slot == sinks_.end()) return CONNECT_E_NOCONNECTION;
                *slot = 0;
                last = std::none_of(sinks_.begin(), sinks_.end(), [](DWORD c) { return c != 0; });
                if (taking_ != 0) unrevoked_.push_back(std::exchange(revoke.back(), 0));
            }
            Revoke(revoke);
        }
        if (last) Unsubscribe(true);
        return S_OK;
    });
}

HRESULT CPDXDocumentV22::EnumConnections(IEnumConnections** connections) {
    if (connections == nullptr) return E_POINTER;
    *connections = nullptr;
    return Guarded("EnumConnections", [&] {
        std::vector<CONNECTDATA> data;
        for (DWORD cookie : Cookies()) {
            if (IDispatch* sink = SinkOf(cookie)) data.push_back(CONNECTDATA{sink, cookie});
        }
        using Enum = CComEnum<IEnumConnections, &IID_IEnumConnections, CONNECTDATA, _Copy<CONNECTDATA>>;
        HRESULT hr = AtlCreateEnum<Enum>(data.data(), data.data() + data.size(), connections);
        for (CONNECTDATA& d : data) d.pUnk->Release();
        return hr;
    });
}

HRESULT CPDXDocumentV22::QueryService(REFGUID, REFIID, void** out) {
    if (out != nullptr) *out = nullptr;
    return E_NOINTERFACE;
}

// ---- firing ----

std::vector<DWORD> CPDXDocumentV22::Cookies() {
    CComCritSecLock<CComAutoCriticalSection> lock(m_critsec);
    std::vector<DWORD> cookies;
    for (DWORD c : sinks_) {
        if (c != 0) cookies.push_back(c);
    }
    return cookies;
}

// The sink is taken from the table with no lock held: taking a sink of another apartment may call into
// that apartment, whose thread may be in Advise or Unadvise here, waiting for the lock. Meanwhile the
// cookie counts as in use: one unadvised then is revoked by the last such taker, so that the table cannot
// give its number to another sink first. A sink unadvised while it was being taken is not handed out.
IDispatch* CPDXDocumentV22::SinkOf(DWORD cookie) {
    {
        CComCritSecLock<CComAutoCriticalSection> lock(m_critsec);
        if (std::find(sinks_.begin(), sinks_.end(), cookie) == sinks_.end()) return nullptr;
        ++taking_;
    }
    IDispatch* sink = nullptr;
    if (IGlobalInterfaceTable* table = GlobalTable()) {
        if (FAILED(table->GetInterfaceFromGlobal(cookie, IID_IDispatch, reinterpret_cast<void**>(&sink)))) {
            sink = nullptr;
        }
        table->Release();
    }
    bool advised = false;
    std::vector<DWORD> unadvised;
    {
        CComCritSecLock<CComAutoCriticalSection> lock(m_critsec);
        advised = std::find(sinks_.begin(), sinks_.end(), cookie) != sinks_.end();
        if (--taking_ == 0) unadvised.swap(unrevoked_);
    }
    Revoke(unadvised);
    if (!advised && sink != nullptr) {
        sink->Release();
        sink = nullptr;
    }
    return sink;
}

HRESULT BuildNotificationArray(const FIDocumentNotifyList& records, SAFEARRAY** out) {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    SAFEARRAYBOUND bounds[2] = {{8, 0}, {static_cast<ULONG>(records.size()), 0}};
    ScopedArray array(SafeArrayCreate(VT_VARIANT, 2, bounds));
    if (array.get() == nullptr) return E_OUTOFMEMORY;
    for (size_t n = 0; n < records.size(); ++n) {
        const FIDocumentNotify& r = records[n];
        FIVariant cells[8];
        const int32_t numbers[4] = {EventCode(r.kind), SeverityCode(r.severity), r.position1, r.position2};
        for (int row = 0; row < 4; ++row) {
            cells[row].get()->vt = VT_I4;
            cells[row].get()->lVal = numbers[row];
        }
        HRESULT hr = FIValueToVariant(r.message, cells[4].get());
        if (SUCCEEDED(hr) && cells[4].get()->vt == VT_NULL) {
            cells[4].get()->vt = VT_BSTR;
            cells[4].get()->bstrVal = nullptr;
        }
        for (int a = 0; a < 3 && SUCCEEDED(hr); ++a) hr = FIValueToVariant(r.args[a], cells[5 + a].get());
        for (LONG row = 0; row < 8 && SUCCEEDED(hr); ++row) {
            LONG index[2] = {row, static_cast<LONG>(n)};
            hr = SafeArrayPutElement(array.get(), index, cells[row].get());
        }
        if (FAILED(hr)) return hr;
    }
    *out = array.Detach();
    return S_OK;
}

void CPDXDocumentV22::OnNotify(FIDocument*, void* context, FIDocumentNotifyList* records) {
    if (context == nullptr || records == nullptr || records->empty()) return;
    auto* self = static_cast<CPDXDocumentV22*>(context);
    // A sink may release the object from inside its event: it is kept for the time of the firing,
    // unless its last reference is already gone and it is on its way out.
    LONG count = self->m_dwRef.load();
    while (count > 0 && !self->m_dwRef.compare_exchange_weak(count, count + 1)) {
    }
    if (count <= 0) return;
    try {
        self->Fire(*records);
    } catch (...) {
        // A notification that cannot be delivered is dropped; the document's caller goes on.
    }
    static_cast<IPDXDocumentV22*>(self)->Release();
}

void CPDXDocumentV22::Fire(const FIDocumentNotifyList& records) {
    SAFEARRAY* array = nullptr;
    if (FAILED(BuildNotificationArray(records, &array))) return;
    FIVariant argument;
    argument.get()->vt = VT_ARRAY | VT_VARIANT;
    argument.get()->parray = array;
    for (DWORD cookie : Cookies()) {
        IDispatch* sink = SinkOf(cookie);
        if (sink == nullptr) continue;
        DISPPARAMS params{argument.get(), nullptr, 1, 0};
        sink->Invoke(1, IID_NULL, kEventLocale, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
        sink->Release();
    }
}

}  // namespace FI::com
