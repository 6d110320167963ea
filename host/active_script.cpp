#include "active_script.h"

#include <activscp.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <ostream>

#include "atl/nuvatlbase.h"
#include "atl/nuvatlcom.h"
#include "dispatch_client.h"
#include "system_messages.h"
#include "windows_text.h"
#include "wscript.h"

namespace host {

namespace {

// A script file's text: UTF-16 with its byte-order mark, else UTF-8 (with or without one), else the ANSI
// code page, as files saved by Windows editors come. Opened by its UTF-16 name, so any name serves. The
// reason when it cannot be read.
const char* ReadScript(const std::wstring& path, std::wstring& text) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return "no such file";
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return "is a directory";
    FILE* file = _wfopen(path.c_str(), L"rb");
    if (!file) return "cannot be opened";
    std::string bytes;
    char buffer[65536];
    size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) bytes.append(buffer, n);
    const bool bad = std::ferror(file) != 0;
    std::fclose(file);
    if (bad) return "cannot be read";
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
        static_cast<unsigned char>(bytes[1]) == 0xFE) {
        text.assign(reinterpret_cast<const wchar_t*>(bytes.data() + 2), (bytes.size() - 2) / 2);
        return nullptr;
    }
    if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) bytes.erase(0, 3);
    text = Wide(bytes, CP_UTF8, MB_ERR_INVALID_CHARS);
    if (text.empty() && !bytes.empty()) text = Wide(bytes, CP_ACP);
    return nullptr;
}

std::string Utf8(BSTR text) { return text ? host::Utf8(text, SysStringLen(text)) : std::string(); }

// "Error 0x........: source: description", leaving out what is not known. An engine that names neither
// source nor description gets the system's text for the code.
std::string ErrorText(HRESULT code, const std::string& source, const std::string& description) {
    std::string text = "Error " + Hex(code);
    const std::string said = source.empty() && description.empty() ? SystemMessage(code) : description;
    for (const std::string* part : {&source, &said})
        if (!part->empty()) text += ": " + *part;
    return text;
}

// The error text of an exception the engine filled in (completing a deferred one first), which it frees;
// `failed` stands for the code when the exception names none.
std::string TakeException(EXCEPINFO& info, HRESULT failed) {
    if (info.pfnDeferredFillIn) {
        auto fill = info.pfnDeferredFillIn;
        info.pfnDeferredFillIn = nullptr;
        fill(&info);
    }
    const HRESULT code = info.scode   ? info.scode
                         : info.wCode ? MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, info.wCode)
                                      : failed;
    std::string text = ErrorText(code, Utf8(info.bstrSource), Utf8(info.bstrDescription));
    SysFreeString(info.bstrSource);
    SysFreeString(info.bstrDescription);
    SysFreeString(info.bstrHelpFile);
    info = EXCEPINFO{};
    return text;
}

// Line `index` (counted from 0) of a text, without its line end; empty past the end.
std::wstring LineOf(const std::wstring& text, ULONG index) {
    size_t begin = 0;
    for (ULONG i = 0; i < index; ++i) {
        begin = text.find(L'\n', begin);
        if (begin == std::wstring::npos) return {};
        ++begin;
    }
    std::wstring line = text.substr(begin, text.find(L'\n', begin) - begin);
    if (!line.empty() && line.back() == L'\r') line.pop_back();
    return line;
}

// What an engine says of an error, printed as
//     SCRIPT:LINE:COLUMN: Error 0x........: source: description
//         the line's text
//             ^
// with the line's text from the script itself where the engine gives none. Any part the engine cannot
// give is left out.
void PrintScriptError(IActiveScriptError& error, const std::string& script_name, const std::wstring& script,
                      std::ostream& out) {
    EXCEPINFO info{};
    // An engine that fails here promised nothing about the structure: use none of it.
    if (FAILED(error.GetExceptionInfo(&info))) info = EXCEPINFO{};
    const std::string what = TakeException(info, E_FAIL);

    DWORD context = 0;
    ULONG line = 0;
    LONG column = 0;
    const bool placed = SUCCEEDED(error.GetSourcePosition(&context, &line, &column));
    std::wstring text;
    if (placed) {
        BSTR engine_text = nullptr;
        if (SUCCEEDED(error.GetSourceLineText(&engine_text)) && engine_text)
            text.assign(engine_text, SysStringLen(engine_text));
        SysFreeString(engine_text);
        if (!text.empty() && text.back() == L'\r') text.pop_back();
        if (text.empty()) text = LineOf(script, line);
    }

    out << script_name;
    if (placed) out << ':' << line + 1 << ':' << (column > 0 ? column : 0) + 1;
    out << ": " << what << '\n';
    if (!text.empty()) {
        // The caret keeps the line's tabs, so it stands under the column wherever tab stops are.
        std::wstring caret;
        for (LONG i = 0; i < column && static_cast<size_t>(i) < text.size(); ++i)
            caret += text[static_cast<size_t>(i)] == L'\t' ? L'\t' : L' ';
        out << "    " << host::Utf8(text) << "\n    " << host::Utf8(caret) << "^\n";
    }
    out << std::flush;
}

// The engine's view of the host: the named items and where errors go.
class ScriptSite : public CComObjectRootEx<CComSingleThreadModel>, public IActiveScriptSite {
public:
    using ComMap = CComMap<ComEntry<IActiveScriptSite>>;

    std::ostream* out = nullptr;
    std::string script_name;
    std::wstring script;  // the script's text, for the lines its errors name
    std::vector<std::pair<std::wstring, CComPtr<IUnknown>>> items;
    bool failed = false;
    // The host stopped the script (WScript.Quit, a failed event procedure): the engine's report of that
    // interruption is no error of the script's.
    bool stopping = false;

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
        if (stopping || !error) return S_OK;
        failed = true;
        if (out) PrintScriptError(*error, script_name, script, *out);
        return S_OK;
    }
    STDMETHOD(OnEnterScript)() override { return S_OK; }
    STDMETHOD(OnLeaveScript)() override { return S_OK; }
};

}  // namespace

int RunActiveScript(IDispatch* simulation, const std::string& path, const std::vector<std::string>& arguments,
                    std::ostream& out) {
    std::wstring text;
    if (const char* why = ReadScript(Wide(path), text)) {
        out << "nuvhost: cannot read " << path << ": " << why << "\n";
        return 1;
    }
    const size_t dot = path.find_last_of('.');
    std::string ext = dot == std::string::npos ? std::string() : path.substr(dot);
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
    if (FAILED(hr) || !engine || !parse) {
        out << "nuvhost: no " << Utf8(language, wcslen(language)) << " engine (" << Hex(hr) << ")\n";
        return 1;
    }

    CComObject<ScriptSite>* site = nullptr;
    hr = CComObject<ScriptSite>::CreateInstance(&site);
    if (FAILED(hr)) return 1;
    CComPtr<IActiveScriptSite> site_ref(site);
    site->out = &out;
    site->script_name = path;
    site->script = text;

    // Stops the script where it stands, whatever error handling the script has in place (WScript.Quit, a
    // failed event procedure): the engine abandons the running code with an error that the site then
    // ignores. An engine that cannot interrupt its own thread (Wine's) leaves only the way the command-line
    // host takes: ending the process. The engine and the site outlive every caller: the WScript object and
    // the event sinks go with the engine's named items, and no event is delivered once it closes.
    int exit_code = 0;
    IActiveScript* raw_engine = engine;
    auto stop = [site, raw_engine, &exit_code, &out](int code) {
        exit_code = code;
        site->stopping = true;
        if (FAILED(raw_engine->InterruptScriptThread(SCRIPTTHREADID_CURRENT, nullptr, 0))) {
            out.flush();
            std::fflush(nullptr);
            ExitProcess(static_cast<UINT>(code));
        }
    };
    WScriptSetup setup;
    setup.out = &out;
    setup.script_path = Wide(path);
    for (const std::string& a : arguments) setup.arguments.push_back(Wide(a));
    setup.quit = stop;
    // An error inside an event procedure stops the script, as one outside does. The engine has reported
    // an error raised in the procedure; a call it refused (a procedure with other parameters than the event
    // has) it has not.
    auto events = std::make_shared<EventConnections>(
        [raw_engine]() -> IDispatch* {
            IDispatch* procedures = nullptr;
            return SUCCEEDED(raw_engine->GetScriptDispatch(nullptr, &procedures)) ? procedures : nullptr;
        },
        [site, stop, &out](const std::wstring& procedure, HRESULT hr) {
            if (site->stopping) return;
            if (!site->failed) {
                out << site->script_name << ": " << ErrorText(hr, {}, {}) << " (calling the event procedure "
                    << host::Utf8(procedure) << ")\n";
            }
            site->failed = true;
            stop(1);
        });
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
    const std::string what = TakeException(info, hr);
    // A failure the engine did not report to the site is still the script's failure, and said.
    if (FAILED(hr) && !site->failed && !site->stopping) {
        out << path << ": " << what << '\n';
        site->failed = true;
    }
    if (SUCCEEDED(hr) && !site->stopping) engine->SetScriptState(SCRIPTSTATE_CONNECTED);
    // No event may reach the script's procedures once the engine closes.
    events->Clear();
    engine->Close();
    if (site->stopping) return exit_code;
    return site->failed ? 1 : 0;
}

}  // namespace host
