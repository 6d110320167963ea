#include "wscript.h"

#include <ostream>
#include <utility>

#include "atl/nuvatlbase.h"
#include "atl/nuvatlcom.h"

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
        std::vector<VARIANT*> args;
        const UINT n = params ? params->cArgs : 0;
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

class WScript : public LateBound {
public:
    enum : DISPID { kEcho = 1, kArguments, kQuit, kScriptName, kScriptFullName };
    WScriptSetup setup;
    CComPtr<IDispatch> arguments;

protected:
    const std::vector<Member>& Members() const override {
        static const std::vector<Member> members = {{L"Echo", kEcho},
                                                    {L"Arguments", kArguments},
                                                    {L"Quit", kQuit},
                                                    {L"ScriptName", kScriptName},
                                                    {L"ScriptFullName", kScriptFullName}};
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
            default: return DISP_E_MEMBERNOTFOUND;
        }
    }
};

}  // namespace

std::string Utf8(const wchar_t* text, size_t length) {
    if (!length) return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
    if (n > 0) WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), out.data(), n, nullptr, nullptr);
    return out;
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
