#include "neutral_locale.h"

#include <objbase.h>
#include <oleauto.h>
#include <winreg.h>

#include "atl/nuvatlbase.h"
#include "nuv_text.h"

namespace nuv {

namespace {

struct NeutralKey {
    HKEY root;
    OleString path;  // ...\TypeLib\{libid}\<major.minor>\0
};

OleString Hex(unsigned value) {
    static const char digits[] = "0123456789abcdef";
    OleString text;
    do {
        text.insert(text.begin(), static_cast<OLECHAR>(digits[value % 16]));
        value /= 16;
    } while (value != 0);
    return text;
}

// The key for the library in the module; S_FALSE when the library is itself registered for the neutral
// locale.
HRESULT KeyOf(const OLECHAR* module_path, bool per_user, NeutralKey* key) {
    if (!module_path || !*module_path) return E_INVALIDARG;
    CComPtr<ITypeLib> lib;
    HRESULT hr = LoadTypeLib(module_path, &lib);
    if (FAILED(hr)) return hr;
    TLIBATTR* attr = nullptr;
    if (FAILED(hr = lib->GetLibAttr(&attr))) return hr;
    const TLIBATTR a = *attr;
    lib->ReleaseTLibAttr(attr);
    if (a.lcid == LOCALE_NEUTRAL) return S_FALSE;
    OLECHAR libid[40] = {};
    if (StringFromGUID2(a.guid, libid, 40) == 0) return E_UNEXPECTED;
    key->root = per_user ? HKEY_CURRENT_USER : HKEY_CLASSES_ROOT;
    key->path = per_user ? OleString(OLESTR("Software\\Classes\\TypeLib\\")) : OleString(OLESTR("TypeLib\\"));
    key->path += libid;
    key->path += OLESTR("\\") + Hex(a.wMajorVerNum) + OLESTR(".") + Hex(a.wMinorVerNum) + OLESTR("\\0");
    return S_OK;
}

HRESULT FromStatus(LSTATUS status) { return status == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(status); }

class ScopedKey {
public:
    ScopedKey() = default;
    ScopedKey(const ScopedKey&) = delete;
    ScopedKey& operator=(const ScopedKey&) = delete;
    ~ScopedKey() {
        if (key_) RegCloseKey(key_);
    }
    HKEY* Receive() { return &key_; }
    HKEY get() const { return key_; }

private:
    HKEY key_ = nullptr;
};

}  // namespace

HRESULT RegisterNeutralLocale(const OLECHAR* module_path, bool per_user) {
    NeutralKey key;
    HRESULT hr = KeyOf(module_path, per_user, &key);
    if (hr != S_OK) return SUCCEEDED(hr) ? S_OK : hr;
    ScopedKey win64;
    const OleString path = key.path + OLESTR("\\win64");
    hr = FromStatus(RegCreateKeyExW(key.root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                                    nullptr, win64.Receive(), nullptr));
    if (FAILED(hr)) return hr;
    const OleString file(module_path);
    return FromStatus(RegSetValueExW(win64.get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(file.c_str()),
                                     static_cast<DWORD>((file.size() + 1) * sizeof(OLECHAR))));
}

HRESULT UnregisterNeutralLocale(const OLECHAR* module_path, bool per_user) {
    NeutralKey key;
    HRESULT hr = KeyOf(module_path, per_user, &key);
    if (hr != S_OK) return SUCCEEDED(hr) ? S_OK : hr;
    const LSTATUS status = RegDeleteTreeW(key.root, key.path.c_str());
    return status == ERROR_FILE_NOT_FOUND ? S_OK : FromStatus(status);
}

}  // namespace nuv
