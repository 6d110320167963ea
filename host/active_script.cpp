#include "active_script.h"

#include <activscp.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <ostream>
#include <sstream>

#include "atl/nuvatlbase.h"
#include "atl/nuvatlcom.h"
#include "wscript.h"

namespace host {

namespace {

std::wstring Wide(const std::string& utf8, UINT code_page = CP_UTF8, DWORD flags = 0) {
    if (utf8.empty()) return {};
    const int n = MultiByteToWideChar(code_page, flags, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    if (n <= 0) return {};
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(code_page, flags, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
    return out;
}

// A script file's text: UTF-16 with its byte-order mark, else UTF-8 (with or without one), else the ANSI
// code page, as files saved by Windows editors come.
bool ReadScript(const std::string& path, std::wstring& text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
        static_cast<unsigned char>(bytes[1]) == 0xFE) {
        text.assign(reinterpret_cast<const wchar_t*>(bytes.data() + 2), (bytes.size() - 2) / 2);
        return true;
    }
    if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) bytes.erase(0, 3);
    text = Wide(bytes, CP_UTF8, MB_ERR_INVALID_CHARS);
    if (text.empty() && !bytes.empty()) text = Wide(bytes, CP_ACP);
    return true;
}

std::string Hex(HRESULT hr) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08X", static_cast<unsigned>(hr));
    return buf;
}

std::string Utf8(BSTR text) { return text ? host::Utf8(text, SysStringLen(text)) : std::string(); }

// The engine's view of the host: the named items and where errors go.
class ScriptSite : public CComObjectRootEx<CComSingleThreadModel>, public IActiveScriptSite {
public:
    using ComMap = CComMap<ComEntry<IActiveScriptSite>>;

    std::ostream* out = nullptr;
    std::string script_name;
    std::vector<std::pair<std::wstring, CComPtr<IUnknown>>> items;
    bool failed = false;
    bool quitting = false;

    STDMETHOD(GetLCID)(LCID*) override { return E_NOTIMPL; }
    STDMETHOD(GetItemInfo)(LPCOLESTR name, DWORD mask, IUnknown** unknown, ITypeInfo** info) override {
        if (unknown) *unknown = nullptr;
        if (info) *info = nullptr;
        if (!name) return E_INVALIDARG;
        if (((mask & SCRIPTINFO_IUNKNOWN) && !unknown) || ((mask & SCRIPTINFO_ITYPEINFO) && !info)) return E_POINTER;
        for (const auto& [item, object] : items) {
            if (_wcsicmp(item.c_str(), name) != 0) continue;
            if (mask & SCRIPTINFO_ITYPEINFO) {
                CComPtr<IDispatch> dispatch;
                if (FAILED(object->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch))) ||
                    FAILED(dispatch->GetTypeInfo(0, 0, info)))
                    *info = nullptr;
                // An item without type information still serves calls through its IUnknown.
                if (!*info && !(mask & SCRIPTINFO_IUNKNOWN)) return TYPE_E_ELEMENTNOTFOUND;
            }
            if (mask & SCRIPTINFO_IUNKNOWN) {
                object->AddRef();
                *unknown = object;
            }
            return S_OK;
        }
        return TYPE_E_ELEMENTNOTFOUND;
    }
    STDMETHOD(GetDocVersionString)(BSTR* version) override {
        if (version) *version = nullptr;
        return E_NOTIMPL;
    }
    STDMETHOD(OnScriptTerminate)(const VARIANT*, const EXCEPINFO*) override { return S_OK; }
    STDMETHOD(OnStateChange)(SCRIPTSTATE) override { return S_OK; }
    STDMETHOD(OnScriptError)(IActiveScriptError* error) override {
        // WScript.Quit stops the script by interrupting it; that interruption is no failure.
        if (quitting || !error) return S_OK;
        failed = true;
        EXCEPINFO info{};
        error->GetExceptionInfo(&info);
        if (info.pfnDeferredFillIn) info.pfnDeferredFillIn(&info);
        DWORD context = 0;
        ULONG line = 0;
        LONG column = 0;
        error->GetSourcePosition(&context, &line, &column);
        const HRESULT code = info.scode ? info.scode : MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, info.wCode);
        std::string source = Utf8(info.bstrSource), description = Utf8(info.bstrDescription);
        SysFreeString(info.bstrSource);
        SysFreeString(info.bstrDescription);
        SysFreeString(info.bstrHelpFile);
        if (out) {
            *out << script_name << ':' << line + 1 << ": Error " << Hex(code) << ": ";
            if (!source.empty()) *out << source << ": ";
            *out << description << '\n' << std::flush;
        }
        return S_OK;
    }
    STDMETHOD(OnEnterScript)() override { return S_OK; }
    STDMETHOD(OnLeaveScript)() override { return S_OK; }
};

}  // namespace

int RunActiveScript(IDispatch* simulation, const std::string& path, const std::vector<std::string>& arguments,
                    std::ostream& out) {
    std::wstring text;
    if (!ReadScript(path, text)) {
        out << "nuvhost: cannot read " << path << "\n";
        return 1;
    }
    std::string ext = path.substr(path.find_last_of('.'));
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    const wchar_t* language = ext == ".vbs" ? L"VBScript" : L"JScript";

    CLSID clsid{};
    CComPtr<IActiveScript> engine;
    CComPtr<IActiveScriptParse> parse;
    HRESULT hr = CLSIDFromProgID(language, &clsid);
    if (SUCCEEDED(hr))
        hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, __uuidof(IActiveScript),
                              reinterpret_cast<void**>(&engine));
    if (SUCCEEDED(hr)) hr = engine->QueryInterface(__uuidof(IActiveScriptParse), reinterpret_cast<void**>(&parse));
    if (FAILED(hr)) {
        out << "nuvhost: no " << Utf8(language, wcslen(language)) << " engine (" << Hex(hr) << ")\n";
        return 1;
    }

    CComObject<ScriptSite>* site = nullptr;
    hr = CComObject<ScriptSite>::CreateInstance(&site);
    if (FAILED(hr)) return 1;
    CComPtr<IActiveScriptSite> site_ref(site);
    site->out = &out;
    site->script_name = path;

    int quit_code = 0;
    WScriptSetup setup;
    setup.out = &out;
    setup.script_path = Wide(path);
    for (const std::string& a : arguments) setup.arguments.push_back(Wide(a));
    // Quit stops the script where it stands, whatever error handling the script has in place: the engine
    // abandons the running code with an error that the site then ignores. An engine that cannot interrupt
    // its own thread (Wine's) leaves only the way the command-line host takes: ending the process.
    IActiveScript* raw_engine = engine;
    setup.quit = [site, raw_engine, &quit_code, &out](int code) {
        quit_code = code;
        site->quitting = true;
        if (FAILED(raw_engine->InterruptScriptThread(SCRIPTTHREADID_CURRENT, nullptr, 0))) {
            out.flush();
            std::fflush(nullptr);
            ExitProcess(static_cast<UINT>(code));
        }
    };
    setup.script = [raw_engine]() -> IDispatch* {
        IDispatch* procedures = nullptr;
        return SUCCEEDED(raw_engine->GetScriptDispatch(nullptr, &procedures)) ? procedures : nullptr;
    };
    auto events = std::make_shared<EventConnections>();
    setup.events = events;
    CComPtr<IDispatch> wscript;
    hr = CreateWScript(std::move(setup), &wscript);
    if (FAILED(hr)) return 1;
    site->items.emplace_back(L"Simulation", CComPtr<IUnknown>(simulation));
    site->items.emplace_back(L"Sim", CComPtr<IUnknown>(simulation));
    site->items.emplace_back(L"WScript", CComPtr<IUnknown>(wscript));

    hr = engine->SetScriptSite(site);
    if (SUCCEEDED(hr)) hr = parse->InitNew();
    for (const auto& item : site->items) {
        if (FAILED(hr)) break;
        hr = engine->AddNamedItem(item.first.c_str(), SCRIPTITEM_ISVISIBLE | SCRIPTITEM_ISSOURCE);
    }
    if (FAILED(hr)) {
        out << "nuvhost: the " << Utf8(language, wcslen(language)) << " engine refused the host (" << Hex(hr) << ")\n";
        events->Clear();
        engine->Close();
        return 1;
    }
    EXCEPINFO info{};
    hr = parse->ParseScriptText(text.c_str(), nullptr, nullptr, nullptr, 0, 0, 0, nullptr, &info);
    SysFreeString(info.bstrSource);
    SysFreeString(info.bstrDescription);
    SysFreeString(info.bstrHelpFile);
    if (SUCCEEDED(hr) && !site->quitting) engine->SetScriptState(SCRIPTSTATE_CONNECTED);
    // No event may reach the script's procedures once the engine closes.
    events->Clear();
    engine->Close();
    if (site->quitting) return quit_code;
    return site->failed || (FAILED(hr) && !site->quitting) ? 1 : 0;
}

}  // namespace host
