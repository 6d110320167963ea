// Loading type libraries from modules and registering them.
//
// A module carries its type libraries as descriptors handed out by its exported resource function
// (nuv::typelib::kResourceFunctionName). Registration writes, under the classes root of the machine or
// of the current user:
//   TypeLib\{libid}\<major.minor in hex>          = the library's help string (or name)
//   TypeLib\{libid}\<ver>\FLAGS                   = "0"
//   TypeLib\{libid}\<ver>\HELPDIR                 = the help folder
//   TypeLib\{libid}\<ver>\<lcid in hex>\win64     = the module's path
//   Interface\{iid} (every dual, automation or dispatch interface) = name, with ProxyStubClsid32 and
//   TypeLib (= {libid}, Version = <ver>)
#include <dlfcn.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <winreg.h>

#include "nuv_text.h"
#include "typelib_impl.h"

namespace {

using nuv::typelib::ExceptionResult;
using nuv::typelib::LibraryDesc;
using nuv::typelib::TypeDesc;

// Where class registrations live: for the machine, or for the current user.
struct Scope {
    HKEY root;
    const char* prefix;
};
const Scope kMachineClasses{HKEY_CLASSES_ROOT, ""};
const Scope kUserClasses{HKEY_CURRENT_USER, "Software\\Classes\\"};
// The automation marshalers, for dual/automation interfaces and for dispatch interfaces.
constexpr const char* kOleAutomationMarshaler = "{00020424-0000-0000-C000-000000000046}";
constexpr const char* kDispatchMarshaler = "{00020420-0000-0000-C000-000000000046}";

std::string GuidText(REFGUID g) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.Data1, g.Data2, g.Data3,
                  g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    return buf;
}

std::string Hex(unsigned v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%x", v);
    return buf;
}

std::string VersionText(WORD major, WORD minor) { return Hex(major) + "." + Hex(minor); }

class Key {
public:
    Key() = default;
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    ~Key() {
        if (h_) RegCloseKey(h_);
    }
    LSTATUS Create(HKEY root, const std::string& path) {
        return RegCreateKeyExA(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                               &h_, nullptr);
    }
    LSTATUS Open(HKEY root, const std::string& path) {
        return RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &h_);
    }
    LSTATUS Set(const char* name, const std::string& value) {
        return RegSetValueExA(h_, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                              static_cast<DWORD>(value.size() + 1));
    }
    bool Get(const char* name, std::string* out) {
        DWORD type = 0, size = 0;
        if (RegQueryValueExA(h_, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS || type != REG_SZ) return false;
        std::string buf(size, '\0');
        if (RegQueryValueExA(h_, name, nullptr, &type, reinterpret_cast<BYTE*>(buf.data()), &size) != ERROR_SUCCESS)
            return false;
        buf.resize(size);
        while (!buf.empty() && buf.back() == '\0') buf.pop_back();
        *out = buf;
        return true;
    }
    std::vector<std::string> SubKeys() {
        std::vector<std::string> out;
        for (DWORD i = 0;; ++i) {
            char name[256];
            DWORD len = sizeof name;
            if (RegEnumKeyExA(h_, i, name, &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
            out.emplace_back(name, len);
        }
        return out;
    }
    HKEY get() const { return h_; }

private:
    HKEY h_ = nullptr;
};

HRESULT FromStatus(LSTATUS s) { return s == ERROR_SUCCESS ? S_OK : TYPE_E_REGISTRYACCESS; }

HRESULT WriteValue(HKEY root, const std::string& path, const char* name, const std::string& value) {
    Key k;
    LSTATUS s = k.Create(root, path);
    if (s == ERROR_SUCCESS) s = k.Set(name, value);
    return FromStatus(s);
}

// Only libraries this layer built can be registered: their descriptors name every interface.
const LibraryDesc* DescOf(ITypeLib* lib) {
    auto* impl = dynamic_cast<nuv::typelib::TypeLibImpl*>(lib);
    return impl ? impl->desc() : nullptr;
}

bool NeedsInterfaceKey(const TypeDesc& t) {
    if (t.kind == TKIND_DISPATCH) return true;
    return t.kind == TKIND_INTERFACE && (t.flags & (TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION));
}

HRESULT Register(ITypeLib* ptlib, const OLECHAR* path, const OLECHAR* helpdir, const Scope& scope) {
    try {
        if (!ptlib || !path) return E_INVALIDARG;
        TLIBATTR* attr = nullptr;
        HRESULT hr = ptlib->GetLibAttr(&attr);
        if (FAILED(hr)) return hr;
        const TLIBATTR a = *attr;
        ptlib->ReleaseTLibAttr(attr);
        const LibraryDesc* desc = DescOf(ptlib);
        if (!desc) return E_INVALIDARG;

        const std::string libid = GuidText(a.guid);
        const std::string ver = VersionText(a.wMajorVerNum, a.wMinorVerNum);
        const std::string base = std::string(scope.prefix) + "TypeLib\\" + libid + "\\" + ver;
        const std::string title = nuv::to_utf8(desc->help ? desc->help : desc->name);
        if (FAILED(hr = WriteValue(scope.root, base, nullptr, title))) return hr;
        if (FAILED(hr = WriteValue(scope.root, base + "\\FLAGS", nullptr, "0"))) return hr;
        if (FAILED(hr = WriteValue(scope.root, base + "\\HELPDIR", nullptr, nuv::to_utf8(helpdir)))) return hr;
        if (FAILED(hr = WriteValue(scope.root, base + "\\" + Hex(a.lcid) + "\\win64", nullptr, nuv::to_utf8(path))))
            return hr;

        for (SHORT i = 0; i < desc->type_count; ++i) {
            const TypeDesc& t = desc->types[i];
            if (!NeedsInterfaceKey(t)) continue;
            const std::string key = std::string(scope.prefix) + "Interface\\" + GuidText(t.guid);
            if (FAILED(hr = WriteValue(scope.root, key, nullptr, nuv::to_utf8(t.name)))) return hr;
            const char* marshaler = t.kind == TKIND_DISPATCH ? kDispatchMarshaler : kOleAutomationMarshaler;
            if (FAILED(hr = WriteValue(scope.root, key + "\\ProxyStubClsid32", nullptr, marshaler))) return hr;
            if (FAILED(hr = WriteValue(scope.root, key + "\\TypeLib", nullptr, libid))) return hr;
            if (FAILED(hr = WriteValue(scope.root, key + "\\TypeLib", "Version", ver))) return hr;
        }
        return S_OK;
    } catch (...) {
        return ExceptionResult();
    }
}

// The module path registered for a library version, or empty.
std::string RegisteredPath(const Scope& scope, REFGUID libid, WORD major, WORD minor, LCID lcid, bool exact_minor,
                           std::string* version_out) {
    Key lib;
    if (lib.Open(scope.root, std::string(scope.prefix) + "TypeLib\\" + GuidText(libid)) != ERROR_SUCCESS) return {};
    std::string best;
    unsigned best_minor = 0;
    for (const std::string& v : lib.SubKeys()) {
        unsigned ma = 0, mi = 0;
        if (std::sscanf(v.c_str(), "%x.%x", &ma, &mi) != 2 || ma != major) continue;
        if (exact_minor ? mi != minor : mi < minor) continue;
        if (best.empty() || mi > best_minor) {
            best = v;
            best_minor = mi;
        }
    }
    if (best.empty()) return {};
    const std::string base = std::string(scope.prefix) + "TypeLib\\" + GuidText(libid) + "\\" + best + "\\";
    for (const std::string& lc : {Hex(lcid), Hex(lcid & 0x3ff), std::string("0")}) {
        Key k;
        std::string path;
        if (k.Open(scope.root, base + lc + "\\win64") == ERROR_SUCCESS && k.Get(nullptr, &path)) {
            if (version_out) *version_out = best;
            return path;
        }
    }
    return {};
}

HRESULT Unregister(REFGUID libID, WORD major, WORD minor, LCID lcid, const Scope& scope) {
    try {
        std::string ver;
        const std::string path = RegisteredPath(scope, libID, major, minor, lcid, true, &ver);
        if (path.empty()) return TYPE_E_REGISTRYACCESS;
        const std::string libid = GuidText(libID);

        // Interface keys go first, while the module that lists them can still be read.
        ITypeLib* lib = nullptr;
        if (SUCCEEDED(LoadTypeLib(nuv::to_utf16(path).c_str(), &lib))) {
            if (const LibraryDesc* desc = DescOf(lib)) {
                for (SHORT i = 0; i < desc->type_count; ++i) {
                    const TypeDesc& t = desc->types[i];
                    if (!NeedsInterfaceKey(t)) continue;
                    const std::string key = std::string(scope.prefix) + "Interface\\" + GuidText(t.guid);
                    Key k;
                    std::string owner;
                    if (k.Open(scope.root, key + "\\TypeLib") == ERROR_SUCCESS && k.Get(nullptr, &owner) &&
                        owner == libid)
                        RegDeleteTreeA(scope.root, key.c_str());
                }
            }
            lib->Release();
        }
        const std::string libkey = std::string(scope.prefix) + "TypeLib\\" + libid;
        RegDeleteTreeA(scope.root, (libkey + "\\" + ver).c_str());
        bool other_versions = true;
        {
            Key rest;
            other_versions = rest.Open(scope.root, libkey) == ERROR_SUCCESS && !rest.SubKeys().empty();
        }
        if (!other_versions) RegDeleteKeyA(scope.root, libkey.c_str());
        return S_OK;
    } catch (...) {
        return ExceptionResult();
    }
}

}  // namespace

extern "C" {

HRESULT STDAPICALLTYPE LoadTypeLibEx(LPCOLESTR szFile, REGKIND regkind, ITypeLib** pptlib) {
    try {
        if (!pptlib) return E_POINTER;
        *pptlib = nullptr;
        if (!szFile || !*szFile) return E_INVALIDARG;
        std::string file = nuv::to_utf8(szFile);
        int resource = 1;
        // "path\N" picks the module's resource N; a number past an int's range names no resource.
        const size_t slash = file.find_last_of('\\');
        if (slash != std::string::npos && slash + 1 < file.size() &&
            file.find_first_not_of("0123456789", slash + 1) == std::string::npos) {
            long long n = 0;
            for (size_t i = slash + 1; i < file.size() && n <= INT_MAX; ++i) n = n * 10 + (file[i] - '0');
            if (n > INT_MAX) return TYPE_E_CANTLOADLIBRARY;
            resource = static_cast<int>(n);
            file.resize(slash);
        }
        void* module = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!module) return TYPE_E_CANTLOADLIBRARY;
        auto fn = reinterpret_cast<nuv::typelib::ResourceFunction>(dlsym(module, nuv::typelib::kResourceFunctionName));
        const LibraryDesc* desc = fn ? fn(resource) : nullptr;
        if (!desc) {
            dlclose(module);
            return TYPE_E_CANTLOADLIBRARY;
        }
        nuv::typelib::TypeLibImpl* lib = nullptr;
        try {
            lib = new nuv::typelib::TypeLibImpl(desc, module);
        } catch (...) {
            dlclose(module);
            throw;
        }
        if (regkind == REGKIND_REGISTER) {
            HRESULT hr = RegisterTypeLib(lib, szFile, nullptr);
            if (FAILED(hr)) {
                lib->Release();
                return hr;
            }
        }
        *pptlib = lib;
        return S_OK;
    } catch (...) {
        return ExceptionResult();
    }
}

HRESULT STDAPICALLTYPE LoadTypeLib(LPCOLESTR szFile, ITypeLib** pptlib) {
    return LoadTypeLibEx(szFile, REGKIND_NONE, pptlib);
}

HRESULT STDAPICALLTYPE QueryPathOfRegTypeLib(REFGUID guid, USHORT wMaj, USHORT wMin, LCID lcid,
                                             BSTR* lpbstrPathName) {
    try {
        if (!lpbstrPathName) return E_POINTER;
        *lpbstrPathName = nullptr;
        std::string path = RegisteredPath(kUserClasses, guid, wMaj, wMin, lcid, false, nullptr);
        if (path.empty()) path = RegisteredPath(kMachineClasses, guid, wMaj, wMin, lcid, false, nullptr);
        if (path.empty()) return TYPE_E_LIBNOTREGISTERED;
        *lpbstrPathName = nuv::bstr_from_utf8(path);
        return *lpbstrPathName ? S_OK : E_OUTOFMEMORY;
    } catch (...) {
        return ExceptionResult();
    }
}

HRESULT STDAPICALLTYPE LoadRegTypeLib(REFGUID rguid, WORD wVerMajor, WORD wVerMinor, LCID lcid, ITypeLib** pptlib) {
    if (!pptlib) return E_POINTER;
    *pptlib = nullptr;
    BSTR path = nullptr;
    HRESULT hr = QueryPathOfRegTypeLib(rguid, wVerMajor, wVerMinor, lcid, &path);
    if (FAILED(hr)) return hr;
    hr = LoadTypeLib(path, pptlib);
    SysFreeString(path);
    return hr;
}

HRESULT STDAPICALLTYPE RegisterTypeLib(ITypeLib* ptlib, LPCOLESTR szFullPath, LPCOLESTR szHelpDir) {
    return Register(ptlib, szFullPath, szHelpDir, kMachineClasses);
}

HRESULT STDAPICALLTYPE RegisterTypeLibForUser(ITypeLib* ptlib, OLECHAR* szFullPath, OLECHAR* szHelpDir) {
    return Register(ptlib, szFullPath, szHelpDir, kUserClasses);
}

HRESULT STDAPICALLTYPE UnRegisterTypeLib(REFGUID libID, WORD wVerMajor, WORD wVerMinor, LCID lcid, SYSKIND) {
    return Unregister(libID, wVerMajor, wVerMinor, lcid, kMachineClasses);
}

HRESULT STDAPICALLTYPE UnRegisterTypeLibForUser(REFGUID libID, WORD wMajorVerNum, WORD wMinorVerNum, LCID lcid,
                                                SYSKIND) {
    return Unregister(libID, wMajorVerNum, wMinorVerNum, lcid, kUserClasses);
}

}  // extern "C"
