// The registry as an in-memory tree. Key and value names compare without regard to (ASCII) case and
// keep the spelling they were created with. Strings are stored as UTF-16, as the platform stores
// them; the narrow functions convert to and from UTF-8. Handles are numbers looked up in a table, so
// a stale or invented handle fails with ERROR_INVALID_HANDLE instead of being dereferenced.
#include <nuv_platform_hooks.h>
#include <objidl.h>
#include <winbase.h>
#include <winreg.h>

#include <cstdio>
#include <cstring>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "../text/utf_codec.h"

namespace {

std::u16string fold(std::u16string_view s) {
    std::u16string out(s);
    for (char16_t& c : out)
        if (c >= 'a' && c <= 'z') c = static_cast<char16_t>(c - 'a' + 'A');
    return out;
}

struct Value {
    std::u16string name;
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

struct Key {
    std::u16string name;
    Key* parent = nullptr;
    bool deleted = false;
    std::map<std::u16string, std::shared_ptr<Key>> children;  // by folded name
    std::map<std::u16string, Value> values;                   // by folded name
};

struct Registry {
    std::recursive_mutex mutex;
    std::shared_ptr<Key> roots[4];
    std::unordered_map<uintptr_t, std::shared_ptr<Key>> handles;
    uintptr_t next_handle = 0x1000;

    Registry() {
        const char16_t* names[4] = {u"HKEY_CLASSES_ROOT", u"HKEY_CURRENT_USER", u"HKEY_LOCAL_MACHINE", u"HKEY_USERS"};
        for (int i = 0; i < 4; ++i) {
            roots[i] = std::make_shared<Key>();
            roots[i]->name = names[i];
        }
    }
};

Registry& registry() {
    static Registry* r = new Registry();  // outlives static destructors of other modules
    return *r;
}

void mark_deleted(Key& k) {
    k.deleted = true;
    for (auto& [name, child] : k.children) mark_deleted(*child);
    k.children.clear();
    k.values.clear();
}

// Resolves a handle to its key; null for an unknown handle.
std::shared_ptr<Key> key_of(Registry& r, HKEY h) {
    const auto v = reinterpret_cast<uintptr_t>(h);
    if (v >= 0x80000000u && v <= 0x80000003u) return r.roots[v - 0x80000000u];
    auto it = r.handles.find(v);
    return it == r.handles.end() ? nullptr : it->second;
}

std::vector<std::u16string> split_path(std::u16string_view path) {
    std::vector<std::u16string> parts;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find(u'\\', start);
        if (end == std::u16string_view::npos) end = path.size();
        if (end > start) parts.emplace_back(path.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

HKEY new_handle(Registry& r, std::shared_ptr<Key> k) {
    const uintptr_t v = r.next_handle;
    r.next_handle += 4;
    r.handles.emplace(v, std::move(k));
    return reinterpret_cast<HKEY>(v);
}

std::u16string widen(LPCSTR s) {
    std::u16string out;
    if (s) nuv::utf::utf8_to_utf16(s, std::strlen(s), out);
    return out;
}

std::u16string wide_or_empty(LPCWSTR s) { return s ? std::u16string(s) : std::u16string(); }

bool is_string_type(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

// --- wide-string core, shared by the A and W entry points ---

LSTATUS create_key(HKEY h, const std::u16string& sub, PHKEY out, LPDWORD disposition) {
    if (!out) return ERROR_INVALID_PARAMETER;
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    std::shared_ptr<Key> k = key_of(r, h);
    if (!k) return ERROR_INVALID_HANDLE;
    if (k->deleted) return ERROR_KEY_DELETED;
    DWORD how = REG_OPENED_EXISTING_KEY;
    for (const auto& part : split_path(sub)) {
        auto& slot = k->children[fold(part)];
        if (!slot) {
            slot = std::make_shared<Key>();
            slot->name = part;
            slot->parent = k.get();
            how = REG_CREATED_NEW_KEY;
        }
        k = slot;
    }
    *out = new_handle(r, k);
    if (disposition) *disposition = how;
    return ERROR_SUCCESS;
}

std::shared_ptr<Key> find_key(Registry& r, HKEY h, const std::u16string& sub, LSTATUS& status) {
    std::shared_ptr<Key> k = key_of(r, h);
    if (!k) {
        status = ERROR_INVALID_HANDLE;
        return nullptr;
    }
    if (k->deleted) {
        status = ERROR_KEY_DELETED;
        return nullptr;
    }
    for (const auto& part : split_path(sub)) {
        auto it = k->children.find(fold(part));
        if (it == k->children.end()) {
            status = ERROR_FILE_NOT_FOUND;
            return nullptr;
        }
        k = it->second;
    }
    status = ERROR_SUCCESS;
    return k;
}

LSTATUS open_key(HKEY h, const std::u16string& sub, PHKEY out) {
    if (!out) return ERROR_INVALID_PARAMETER;
    *out = nullptr;
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    LSTATUS status;
    std::shared_ptr<Key> k = find_key(r, h, sub, status);
    if (!k) return status;
    *out = new_handle(r, k);
    return ERROR_SUCCESS;
}

LSTATUS set_value(HKEY h, const std::u16string& name, DWORD type, const BYTE* data, DWORD size) {
    if (!data && size) return ERROR_INVALID_PARAMETER;
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    std::shared_ptr<Key> k = key_of(r, h);
    if (!k) return ERROR_INVALID_HANDLE;
    if (k->deleted) return ERROR_KEY_DELETED;
    Value& v = k->values[fold(name)];
    v.name = name;
    v.type = type;
    v.data.assign(data, data + size);
    return ERROR_SUCCESS;
}

// Copies a value out with the platform's size protocol.
LSTATUS deliver(const std::vector<BYTE>& bytes, LPBYTE data, LPDWORD size) {
    if (data && !size) return ERROR_INVALID_PARAMETER;
    if (!size) return ERROR_SUCCESS;
    const DWORD needed = static_cast<DWORD>(bytes.size());
    if (data) {
        if (*size < needed) {
            *size = needed;
            return ERROR_MORE_DATA;
        }
        if (needed) std::memcpy(data, bytes.data(), needed);
    }
    *size = needed;
    return ERROR_SUCCESS;
}

LSTATUS query_value(HKEY h, const std::u16string& name, LPDWORD type, std::vector<BYTE>& bytes) {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    std::shared_ptr<Key> k = key_of(r, h);
    if (!k) return ERROR_INVALID_HANDLE;
    if (k->deleted) return ERROR_KEY_DELETED;
    auto it = k->values.find(fold(name));
    if (it == k->values.end()) return ERROR_FILE_NOT_FOUND;
    if (type) *type = it->second.type;
    bytes = it->second.data;
    return ERROR_SUCCESS;
}

LSTATUS delete_value(HKEY h, const std::u16string& name) {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    std::shared_ptr<Key> k = key_of(r, h);
    if (!k) return ERROR_INVALID_HANDLE;
    if (k->deleted) return ERROR_KEY_DELETED;
    return k->values.erase(fold(name)) ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}

LSTATUS delete_key(HKEY h, const std::u16string& sub, bool tree) {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    LSTATUS status;
    std::shared_ptr<Key> k = find_key(r, h, sub, status);
    if (!k) return status;
    if (tree && sub.empty()) {
        // Empty the key itself but keep it.
        for (auto& [name, child] : k->children) mark_deleted(*child);
        k->children.clear();
        k->values.clear();
        return ERROR_SUCCESS;
    }
    if (!k->parent || split_path(sub).empty()) return ERROR_ACCESS_DENIED;  // roots and the key itself
    if (!tree && !k->children.empty()) return ERROR_ACCESS_DENIED;
    Key* parent = k->parent;
    mark_deleted(*k);
    parent->children.erase(fold(k->name));
    return ERROR_SUCCESS;
}

LSTATUS enum_key(HKEY h, DWORD index, std::u16string& name) {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    std::shared_ptr<Key> k = key_of(r, h);
    if (!k) return ERROR_INVALID_HANDLE;
    if (k->deleted) return ERROR_KEY_DELETED;
    if (index >= k->children.size()) return ERROR_NO_MORE_ITEMS;
    auto it = k->children.begin();
    std::advance(it, index);
    name = it->second->name;
    return ERROR_SUCCESS;
}

// --- the dump ---

std::string narrow(std::u16string_view s) {
    std::string out;
    nuv::utf::utf16_to_utf8(s.data(), s.size(), out);
    return out;
}

std::string describe(const Value& v) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out = "  " + (v.name.empty() ? std::string("@") : narrow(v.name)) + " = ";
    auto text_of = [&](size_t from, size_t& next) {
        std::u16string s;
        size_t i = from;
        for (; i + 1 < v.data.size(); i += 2) {
            const char16_t c = static_cast<char16_t>(v.data[i] | (v.data[i + 1] << 8));
            if (c == 0) break;
            s.push_back(c);
        }
        next = i + 2;
        return narrow(s);
    };
    size_t next = 0;
    switch (v.type) {
        case REG_SZ:
        case REG_EXPAND_SZ:
            out += (v.type == REG_SZ ? "REG_SZ \"" : "REG_EXPAND_SZ \"") + text_of(0, next) + "\"";
            break;
        case REG_MULTI_SZ:
            out += "REG_MULTI_SZ";
            for (size_t at = 0; at + 1 < v.data.size();) {
                std::string item = text_of(at, next);
                if (item.empty()) break;
                out += " \"" + item + "\"";
                at = next;
            }
            break;
        case REG_DWORD:
            if (v.data.size() == 4) {
                DWORD d;
                std::memcpy(&d, v.data.data(), 4);
                char buffer[16];
                std::snprintf(buffer, sizeof buffer, "0x%X", d);
                out += std::string("REG_DWORD ") + buffer;
                break;
            }
            [[fallthrough]];
        default:
            out += "REG_BINARY(" + std::to_string(v.type) + ")";
            for (BYTE b : v.data) {
                out += ' ';
                out += hex[b >> 4];
                out += hex[b & 15];
            }
    }
    return out + "\n";
}

void dump_key(const Key& k, const std::string& path, std::string& out, bool include_self) {
    if (include_self) {
        out += path + "\n";
        for (const auto& [folded, value] : k.values) out += describe(value);
    }
    for (const auto& [folded, child] : k.children) dump_key(*child, path + "\\" + narrow(child->name), out, true);
}

}  // namespace

namespace nuv {

std::string registry_dump(std::string_view root) {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    std::string out;
    const std::u16string wanted = fold(widen(std::string(root).c_str()));
    for (const auto& top : r.roots) {
        const std::string name = narrow(top->name);
        const Key* k = top.get();
        std::string path = name;
        std::vector<std::u16string> parts = split_path(wanted);
        if (!parts.empty()) {
            if (fold(top->name) != parts.front()) continue;
            for (size_t i = 1; i < parts.size() && k; ++i) {
                auto it = k->children.find(parts[i]);
                if (it == k->children.end()) {
                    k = nullptr;
                    break;
                }
                k = it->second.get();
                path += "\\" + narrow(k->name);
            }
            if (!k) continue;
            dump_key(*k, path, out, true);
        } else {
            dump_key(*k, path, out, !k->values.empty() || !k->children.empty());
        }
    }
    return out;
}

void registry_clear() {
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    for (auto& top : r.roots) {
        for (auto& [name, child] : top->children) mark_deleted(*child);
        top->children.clear();
        top->values.clear();
    }
}

}  // namespace nuv

extern "C" {

LSTATUS RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, LPWSTR, DWORD, REGSAM, LPSECURITY_ATTRIBUTES,
                        PHKEY phkResult, LPDWORD lpdwDisposition) {
    if (!lpSubKey) return ERROR_INVALID_PARAMETER;
    return create_key(hKey, lpSubKey, phkResult, lpdwDisposition);
}
LSTATUS RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD, LPSTR, DWORD, REGSAM, LPSECURITY_ATTRIBUTES,
                        PHKEY phkResult, LPDWORD lpdwDisposition) {
    if (!lpSubKey) return ERROR_INVALID_PARAMETER;
    return create_key(hKey, widen(lpSubKey), phkResult, lpdwDisposition);
}

LSTATUS RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, REGSAM, PHKEY phkResult) {
    return open_key(hKey, wide_or_empty(lpSubKey), phkResult);
}
LSTATUS RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD, REGSAM, PHKEY phkResult) {
    return open_key(hKey, widen(lpSubKey), phkResult);
}

LSTATUS RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD, DWORD dwType, const BYTE* lpData, DWORD cbData) {
    return set_value(hKey, wide_or_empty(lpValueName), dwType, lpData, cbData);
}
LSTATUS RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD, DWORD dwType, const BYTE* lpData, DWORD cbData) {
    if (!is_string_type(dwType) || !lpData) return set_value(hKey, widen(lpValueName), dwType, lpData, cbData);
    // Narrow strings are stored converted, terminators included.
    std::u16string wide;
    nuv::utf::utf8_to_utf16(reinterpret_cast<const char*>(lpData), cbData, wide);
    return set_value(hKey, widen(lpValueName), dwType, reinterpret_cast<const BYTE*>(wide.data()),
                     static_cast<DWORD>(wide.size() * sizeof(char16_t)));
}

LSTATUS RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
    std::vector<BYTE> bytes;
    if (LSTATUS s = query_value(hKey, wide_or_empty(lpValueName), lpType, bytes); s != ERROR_SUCCESS) return s;
    return deliver(bytes, lpData, lpcbData);
}
LSTATUS RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
    std::vector<BYTE> bytes;
    DWORD type = REG_NONE;
    if (LSTATUS s = query_value(hKey, widen(lpValueName), &type, bytes); s != ERROR_SUCCESS) return s;
    if (lpType) *lpType = type;
    if (is_string_type(type)) {
        std::string narrow_text;
        nuv::utf::utf16_to_utf8(reinterpret_cast<const char16_t*>(bytes.data()), bytes.size() / 2, narrow_text);
        bytes.assign(narrow_text.begin(), narrow_text.end());
    }
    return deliver(bytes, lpData, lpcbData);
}

LSTATUS RegDeleteValueW(HKEY hKey, LPCWSTR lpValueName) { return delete_value(hKey, wide_or_empty(lpValueName)); }
LSTATUS RegDeleteValueA(HKEY hKey, LPCSTR lpValueName) { return delete_value(hKey, widen(lpValueName)); }

LSTATUS RegDeleteKeyW(HKEY hKey, LPCWSTR lpSubKey) {
    if (!lpSubKey) return ERROR_INVALID_PARAMETER;
    return delete_key(hKey, lpSubKey, false);
}
LSTATUS RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey) {
    if (!lpSubKey) return ERROR_INVALID_PARAMETER;
    return delete_key(hKey, widen(lpSubKey), false);
}
LSTATUS RegDeleteTreeW(HKEY hKey, LPCWSTR lpSubKey) { return delete_key(hKey, wide_or_empty(lpSubKey), true); }
LSTATUS RegDeleteTreeA(HKEY hKey, LPCSTR lpSubKey) { return delete_key(hKey, widen(lpSubKey), true); }

LSTATUS RegEnumKeyExW(HKEY hKey, DWORD dwIndex, LPWSTR lpName, LPDWORD lpcchName, LPDWORD, LPWSTR, LPDWORD,
                      struct _FILETIME* lpftLastWriteTime) {
    if (!lpName || !lpcchName) return ERROR_INVALID_PARAMETER;
    std::u16string name;
    if (LSTATUS s = enum_key(hKey, dwIndex, name); s != ERROR_SUCCESS) return s;
    if (lpftLastWriteTime) *lpftLastWriteTime = FILETIME{0, 0};
    if (*lpcchName < name.size() + 1) return ERROR_MORE_DATA;
    std::memcpy(lpName, name.c_str(), (name.size() + 1) * sizeof(char16_t));
    *lpcchName = static_cast<DWORD>(name.size());
    return ERROR_SUCCESS;
}
LSTATUS RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName, LPDWORD, LPSTR, LPDWORD,
                      struct _FILETIME* lpftLastWriteTime) {
    if (!lpName || !lpcchName) return ERROR_INVALID_PARAMETER;
    std::u16string name;
    if (LSTATUS s = enum_key(hKey, dwIndex, name); s != ERROR_SUCCESS) return s;
    if (lpftLastWriteTime) *lpftLastWriteTime = FILETIME{0, 0};
    const std::string text = narrow(name);
    if (*lpcchName < text.size() + 1) return ERROR_MORE_DATA;
    std::memcpy(lpName, text.c_str(), text.size() + 1);
    *lpcchName = static_cast<DWORD>(text.size());
    return ERROR_SUCCESS;
}

LSTATUS RegCloseKey(HKEY hKey) {
    const auto v = reinterpret_cast<uintptr_t>(hKey);
    if (v >= 0x80000000u && v <= 0x80000003u) return ERROR_SUCCESS;
    Registry& r = registry();
    std::shared_ptr<Key> released;  // destroyed after the lock is let go
    std::lock_guard lock(r.mutex);
    auto it = r.handles.find(v);
    if (it == r.handles.end()) return ERROR_INVALID_HANDLE;
    released = std::move(it->second);
    r.handles.erase(it);
    return ERROR_SUCCESS;
}

}  // extern "C"
