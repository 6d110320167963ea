#include "wscript.h"

#include <atomic>
#include <new>
#include <ostream>
#include <utility>

#include "atl/nuvatlbase.h"
#include "atl/nuvatlcom.h"
#include "event_sink.h"
#include "windows_text.h"

namespace host {

namespace {

constexpr LCID kEnglish = 0x0409;  // numbers print with "." whatever the user's locale

struct Member {
    const wchar_t* name;
    DISPID id;
};

// An IDispatch over a fixed table of member names, answered by Dispatch with the arguments in source
// order. No type information, no named arguments, no property puts.
class LateBound : public CComObjectRootEx<CComSingleThreadModel>, public IDispatch {
public:
    using ComMap = CComMap<ComEntry<IDispatch>>;

    STDMETHOD(GetTypeInfoCount)(UINT* count) override {
        if (!count) return E_POINTER;
        *count = 0;
        return S_OK;
    }
    STDMETHOD(GetTypeInfo)(UINT, LCID, ITypeInfo** info) override {
        if (info) *info = nullptr;
        return DISP_E_BADINDEX;
    }
    STDMETHOD(GetIDsOfNames)(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
        if (!names || !ids) return E_POINTER;
        HRESULT hr = S_OK;
        for (UINT i = 0; i < count; ++i) {
            ids[i] = DISPID_UNKNOWN;
            // Only the member's own name is known; named arguments are not.
            if (i == 0 && names[0]) {
                for (const Member& m : Members())
                    if (_wcsicmp(m.name, names[0]) == 0) ids[0] = m.id;
            }
            if (ids[i] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
        }
        return hr;
    }
    STDMETHOD(Invoke)(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                      UINT* arg_error) override {
        if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) return DISP_E_MEMBERNOTFOUND;
        if (params && params->cNamedArgs) return DISP_E_NONAMEDARGS;
        const UINT n = params ? params->cArgs : 0;
        if (n && !params->rgvarg) return E_INVALIDARG;
        std::vector<VARIANT*> args;
        for (UINT i = 0; i < n; ++i) args.push_back(&params->rgvarg[n - 1 - i]);
        if (arg_error) *arg_error = 0;
        CComVariant value;
        HRESULT hr = Dispatch(id, args, &value);
        if (SUCCEEDED(hr) && result) hr = value.Detach(result);
        return hr;
    }

protected:
    virtual const std::vector<Member>& Members() const = 0;
    virtual HRESULT Dispatch(DISPID id, const std::vector<VARIANT*>& args, VARIANT* result) = 0;
};

// A whole number from an argument of any numeric type (a script's small literals arrive as VT_I2).
HRESULT WholeNumber(VARIANT* arg, LONG& value) {
    CComVariant n;
    HRESULT hr = VariantChangeType(&n, arg, 0, VT_I4);
    if (FAILED(hr)) return hr;
    value = n.lVal;
    return S_OK;
}

HRESULT Text(const std::wstring& text, VARIANT* result) {
    result->vt = VT_BSTR;
    result->bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return result->bstrVal ? S_OK : E_OUTOFMEMORY;
}

// WScript.Arguments: Item(i) (the default member, counted from 0), Count, Length and For Each.
class Arguments : public LateBound {
public:
    enum : DISPID { kCount = 1, kLength = 2 };
    std::vector<std::wstring> items;

protected:
    const std::vector<Member>& Members() const override {
        static const std::vector<Member> members = {
            {L"Item", DISPID_VALUE}, {L"Count", kCount}, {L"Length", kLength}, {L"_NewEnum", DISPID_NEWENUM}};
        return members;
    }
    HRESULT Dispatch(DISPID id, const std::vector<VARIANT*>& args, VARIANT* result) override {
        switch (id) {
            case DISPID_VALUE: {
                if (args.size() != 1) return DISP_E_BADPARAMCOUNT;
                LONG i = 0;
                HRESULT hr = WholeNumber(args[0], i);
                if (FAILED(hr)) return hr;
                if (i < 0 || static_cast<size_t>(i) >= items.size()) return DISP_E_BADINDEX;
                return Text(items[static_cast<size_t>(i)], result);
            }
            case kCount:
            case kLength:
                if (!args.empty()) return DISP_E_BADPARAMCOUNT;
                result->vt = VT_I4;
                result->lVal = static_cast<LONG>(items.size());
                return S_OK;
            case DISPID_NEWENUM: {
                std::vector<CComVariant> values;
                for (const std::wstring& item : items) {
                    CComVariant v;
                    HRESULT hr = Text(item, &v);
                    if (FAILED(hr)) return hr;
                    values.push_back(v);
                }
                static_assert(sizeof(CComVariant) == sizeof(VARIANT));
                IEnumVARIANT* e = nullptr;
                const VARIANT* first = values.data();
                HRESULT hr = AtlCreateEnum<CComEnumVariant>(first, first + values.size(), &e);
                if (FAILED(hr)) return hr;
                result->vt = VT_UNKNOWN;
                result->punkVal = e;
                return S_OK;
            }
            default: return DISP_E_MEMBERNOTFOUND;
        }
    }
};

// The type information of an object's default outgoing interface, through its class information.
HRESULT DefaultSource(IUnknown* object, IID& iid, CComPtr<ITypeInfo>& events) {
    CComPtr<IProvideClassInfo> provider;
    CComPtr<ITypeInfo> coclass;
    HRESULT hr = object->QueryInterface(IID_IProvideClassInfo, reinterpret_cast<void**>(&provider));
    if (SUCCEEDED(hr)) hr = provider->GetClassInfo(&coclass);
    if (FAILED(hr)) return hr;
    TYPEATTR* attr = nullptr;
    if (FAILED(hr = coclass->GetTypeAttr(&attr))) return hr;
    const WORD count = attr->cImplTypes;
    coclass->ReleaseTypeAttr(attr);
    for (UINT i = 0; i < count; ++i) {
        INT flags = 0;
        HREFTYPE ref = 0;
        if (FAILED(coclass->GetImplTypeFlags(i, &flags)) ||
            (flags & (IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE)) != (IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE))
            continue;
        if (FAILED(hr = coclass->GetRefTypeOfImplType(i, &ref)) || FAILED(hr = coclass->GetRefTypeInfo(ref, &events)))
            return hr;
        if (FAILED(hr = events->GetTypeAttr(&attr))) return hr;
        iid = attr->guid;
        events->ReleaseTypeAttr(attr);
        return S_OK;
    }
    return CONNECT_E_NOCONNECTION;
}

}  // namespace

struct EventConnections::Delivery {
    std::function<IDispatch*()> script;
    std::function<void(const std::wstring&, HRESULT)> failed;
    bool stopped = false;
};

namespace {

// Receives one object's events and calls the script's procedure PREFIX & event name, when there is one.
class ScriptEventSink final : public EventSink {
public:
    ScriptEventSink(const IID& events, CComPtr<ITypeInfo> info, std::wstring prefix,
                    std::shared_ptr<EventConnections::Delivery> delivery)
        : EventSink(events), info_(std::move(info)), prefix_(std::move(prefix)), delivery_(std::move(delivery)) {}

    STDMETHOD(Invoke)(DISPID id, REFIID, LCID lcid, WORD, DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception,
                      UINT* arg_error) override {
        // Once a procedure failed, or the engine is closing, the script hears of nothing more.
        if (delivery_->stopped) return S_OK;
        BSTR name = nullptr;
        UINT names = 0;
        if (FAILED(info_->GetNames(id, &name, 1, &names)) || names == 0 || !name) {
            SysFreeString(name);
            return S_OK;
        }
        std::wstring procedure = prefix_ + std::wstring(name, SysStringLen(name));
        SysFreeString(name);
        CComPtr<IDispatch> target;
        target.Attach(delivery_->script ? delivery_->script() : nullptr);
        DISPID target_id = DISPID_UNKNOWN;
        LPOLESTR member = procedure.data();
        // An event the script has no procedure for is ignored.
        if (!target || FAILED(target->GetIDsOfNames(IID_NULL, &member, 1, lcid, &target_id))) return S_OK;
        DISPPARAMS none{};
        // The engine reports an error inside the procedure itself; the call answers that it failed.
        const HRESULT hr = target->Invoke(target_id, IID_NULL, lcid, DISPATCH_METHOD, params ? params : &none, result,
                                          exception, arg_error);
        if (FAILED(hr) && !delivery_->stopped) {
            delivery_->stopped = true;
            if (delivery_->failed) delivery_->failed(procedure, hr);
        }
        return hr;
    }

private:
    CComPtr<ITypeInfo> info_;
    std::wstring prefix_;
    std::shared_ptr<EventConnections::Delivery> delivery_;
};

class WScript : public LateBound {
public:
    enum : DISPID { kEcho = 1, kArguments, kQuit, kScriptName, kScriptFullName, kConnectObject, kDisconnectObject };
    WScriptSetup setup;
    CComPtr<IDispatch> arguments;

protected:
    const std::vector<Member>& Members() const override {
        static const std::vector<Member> members = {{L"Echo", kEcho},
                                                    {L"Arguments", kArguments},
                                                    {L"Quit", kQuit},
                                                    {L"ScriptName", kScriptName},
                                                    {L"ScriptFullName", kScriptFullName},
                                                    {L"ConnectObject", kConnectObject},
                                                    {L"DisconnectObject", kDisconnectObject}};
        return members;
    }
    HRESULT Dispatch(DISPID id, const std::vector<VARIANT*>& args, VARIANT* result) override {
        switch (id) {
            case kEcho: {
                std::wstring line;
                for (size_t i = 0; i < args.size(); ++i) {
                    std::wstring text;
                    HRESULT hr = EchoText(*args[i], text);
                    if (FAILED(hr)) return hr;
                    if (i) line += L' ';
                    line += text;
                }
                if (setup.out) *setup.out << Utf8(line.data(), line.size()) << '\n' << std::flush;
                return S_OK;
            }
            case kArguments:
                // WScript.Arguments(0) is WScript.Arguments.Item(0), as script clients write it.
                if (!args.empty()) {
                    std::vector<VARIANT> reversed;
                    for (auto it = args.rbegin(); it != args.rend(); ++it) reversed.push_back(**it);
                    DISPPARAMS params{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
                    return arguments->Invoke(DISPID_VALUE, IID_NULL, 0, DISPATCH_METHOD | DISPATCH_PROPERTYGET,
                                             &params, result, nullptr, nullptr);
                }
                result->vt = VT_DISPATCH;
                result->pdispVal = arguments;
                arguments->AddRef();
                return S_OK;
            case kQuit: {
                if (args.size() > 1) return DISP_E_BADPARAMCOUNT;
                LONG code = 0;
                if (!args.empty()) {
                    HRESULT hr = WholeNumber(args[0], code);
                    if (FAILED(hr)) return hr;
                }
                if (setup.quit) setup.quit(static_cast<int>(code));
                return S_OK;
            }
            case kScriptName: {
                const size_t slash = setup.script_path.find_last_of(L"\\/:");
                return Text(slash == std::wstring::npos ? setup.script_path : setup.script_path.substr(slash + 1),
                            result);
            }
            case kScriptFullName: {
                wchar_t full[MAX_PATH * 4] = {};
                const DWORD n = GetFullPathNameW(setup.script_path.c_str(), MAX_PATH * 4, full, nullptr);
                return Text(n && n < MAX_PATH * 4 ? std::wstring(full, n) : setup.script_path, result);
            }
            case kConnectObject: {
                if (args.size() != 2) return DISP_E_BADPARAMCOUNT;
                CComVariant object, prefix;
                HRESULT hr = VariantCopyInd(&object, args[0]);
                if (SUCCEEDED(hr)) hr = VariantChangeType(&prefix, args[1], 0, VT_BSTR);
                if (FAILED(hr)) return hr;
                if ((object.vt != VT_DISPATCH && object.vt != VT_UNKNOWN) || !object.punkVal) return DISP_E_TYPEMISMATCH;
                if (!setup.events) return E_NOTIMPL;
                return setup.events->Connect(object.punkVal,
                                             std::wstring(prefix.bstrVal, SysStringLen(prefix.bstrVal)));
            }
            case kDisconnectObject: {
                if (args.size() != 1) return DISP_E_BADPARAMCOUNT;
                CComVariant object;
                HRESULT hr = VariantCopyInd(&object, args[0]);
                if (FAILED(hr)) return hr;
                if ((object.vt != VT_DISPATCH && object.vt != VT_UNKNOWN) || !object.punkVal) return DISP_E_TYPEMISMATCH;
                return setup.events ? setup.events->Disconnect(object.punkVal) : S_OK;
            }
            default: return DISP_E_MEMBERNOTFOUND;
        }
    }
};

}  // namespace

struct EventConnections::Connection {
    CComPtr<IUnknown> identity;  // the source's IUnknown, to find it again
    CComPtr<IConnectionPoint> point;
    DWORD cookie = 0;
};

EventConnections::EventConnections(std::function<IDispatch*()> script,
                                   std::function<void(const std::wstring&, HRESULT)> failed)
    : delivery_(std::make_shared<Delivery>()) {
    delivery_->script = std::move(script);
    delivery_->failed = std::move(failed);
}

EventConnections::~EventConnections() { Clear(); }

HRESULT EventConnections::Connect(IUnknown* source, const std::wstring& prefix) {
    CComPtr<IUnknown> identity;
    CComPtr<IConnectionPointContainer> container;
    CComPtr<ITypeInfo> info;
    IID events{};
    HRESULT hr = source->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity));
    if (SUCCEEDED(hr)) hr = source->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container));
    if (SUCCEEDED(hr)) hr = DefaultSource(source, events, info);
    if (FAILED(hr)) return hr;
    auto connection = std::make_unique<Connection>();
    if (FAILED(hr = container->FindConnectionPoint(events, &connection->point))) return hr;
    CComPtr<IDispatch> held(new (std::nothrow) ScriptEventSink(events, info, prefix, delivery_));
    if (!held) return E_OUTOFMEMORY;
    if (FAILED(hr = connection->point->Advise(held, &connection->cookie))) return hr;
    connection->identity = identity;
    connections_.push_back(std::move(connection));
    return S_OK;
}

HRESULT EventConnections::Disconnect(IUnknown* source) {
    CComPtr<IUnknown> identity;
    HRESULT hr = source->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity));
    if (FAILED(hr)) return hr;
    for (auto it = connections_.begin(); it != connections_.end();) {
        if ((*it)->identity == identity) {
            (*it)->point->Unadvise((*it)->cookie);
            it = connections_.erase(it);
        } else {
            ++it;
        }
    }
    return S_OK;
}

void EventConnections::Clear() {
    delivery_->stopped = true;
    // Unadvising may run the script's code no more; take the list first so nothing re-enters it.
    auto connections = std::move(connections_);
    connections_.clear();
    for (auto& c : connections) c->point->Unadvise(c->cookie);
}

HRESULT EchoText(const VARIANT& value, std::wstring& text) {
    CComVariant v;
    HRESULT hr = VariantCopyInd(&v, const_cast<VARIANT*>(&value));
    if (FAILED(hr)) return hr;
    text.clear();
    if (v.vt == VT_EMPTY) return S_OK;
    if (v.vt == VT_NULL) {
        text = L"Null";
        return S_OK;
    }
    if (v.vt & VT_ARRAY) return DISP_E_TYPEMISMATCH;
    hr = VariantChangeTypeEx(&v, &v, kEnglish, VARIANT_ALPHABOOL, VT_BSTR);
    if (FAILED(hr)) return hr;
    text.assign(v.bstrVal, SysStringLen(v.bstrVal));
    return S_OK;
}

HRESULT CreateWScript(WScriptSetup setup, IDispatch** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    CComObject<Arguments>* arguments = nullptr;
    HRESULT hr = CComObject<Arguments>::CreateInstance(&arguments);
    if (FAILED(hr)) return hr;
    CComPtr<IDispatch> held(arguments);
    arguments->items = std::move(setup.arguments);
    CComObject<WScript>* wscript = nullptr;
    hr = CComObject<WScript>::CreateInstance(&wscript);
    if (FAILED(hr)) return hr;
    wscript->setup = std::move(setup);
    wscript->arguments = held;
    wscript->AddRef();
    *object = wscript;
    return S_OK;
}

}  // namespace host
