#include <cstring>

#include "check.h"

namespace {
const OLECHAR kRoot[] = OLESTR("Software\\NuvPlatformConformance");

struct KeyHolder {
    HKEY key = nullptr;
    ~KeyHolder() {
        if (key) RegCloseKey(key);
    }
};
}  // namespace

TEST(RegistryProtocol, CreateSetQueryAndDelete) {
    RegDeleteTreeW(HKEY_CURRENT_USER, kRoot);  // leftovers of an interrupted run
    KeyHolder key;
    DWORD disposition = 0;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, OLESTR("Software\\NuvPlatformConformance\\TypeLib\\38.0"), 0,
                              nullptr, 0, KEY_ALL_ACCESS, nullptr, &key.key, &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, DWORD(REG_CREATED_NEW_KEY));

    const OLECHAR text[] = OLESTR("NUVClassLib380");
    ASSERT_EQ(RegSetValueExW(key.key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), sizeof text),
              ERROR_SUCCESS);
    const DWORD flags = 0x2A;
    ASSERT_EQ(RegSetValueExW(key.key, OLESTR("Flags"), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&flags), 4),
              ERROR_SUCCESS);
    const BYTE blob[3] = {1, 0, 2};
    ASSERT_EQ(RegSetValueExW(key.key, OLESTR("Blob"), 0, REG_BINARY, blob, 3), ERROR_SUCCESS);

    // The size protocol: no buffer asks for the size, a short buffer gives ERROR_MORE_DATA and the size.
    DWORD type = 0, size = 0;
    ASSERT_EQ(RegQueryValueExW(key.key, nullptr, nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, DWORD(REG_SZ));
    EXPECT_EQ(size, DWORD(sizeof text));
    OLECHAR small[4];
    size = sizeof small;
    EXPECT_EQ(RegQueryValueExW(key.key, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(small), &size),
              ERROR_MORE_DATA);
    EXPECT_EQ(size, DWORD(sizeof text));
    OLECHAR full[32] = {};
    size = sizeof full;
    ASSERT_EQ(RegQueryValueExW(key.key, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(full), &size),
              ERROR_SUCCESS);
    EXPECT_TRUE(ostring(full) == ostring(text));

    DWORD read_flags = 0;
    size = sizeof read_flags;
    ASSERT_EQ(RegQueryValueExW(key.key, OLESTR("FLAGS"), nullptr, &type, reinterpret_cast<BYTE*>(&read_flags), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(type, DWORD(REG_DWORD));
    EXPECT_EQ(read_flags, flags);
    BYTE read_blob[8] = {};
    size = sizeof read_blob;
    ASSERT_EQ(RegQueryValueExW(key.key, OLESTR("blob"), nullptr, &type, read_blob, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 3u);
    EXPECT_EQ(std::memcmp(read_blob, blob, 3), 0);
    EXPECT_EQ(RegQueryValueExW(key.key, OLESTR("Missing"), nullptr, nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteValueW(key.key, OLESTR("Blob")), ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteValueW(key.key, OLESTR("Blob")), ERROR_FILE_NOT_FOUND);

    // Narrow names reach the same key and value, whatever their case.
    KeyHolder narrow;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "software\\nuvplatformconformance\\TYPELIB\\38.0", 0, KEY_READ,
                            &narrow.key),
              ERROR_SUCCESS);
    char narrow_text[32] = {};
    size = sizeof narrow_text;
    ASSERT_EQ(RegQueryValueExA(narrow.key, "", nullptr, &type, reinterpret_cast<BYTE*>(narrow_text), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(std::string(narrow_text), std::string("NUVClassLib380"));

    KeyHolder other;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, OLESTR("Software\\NuvPlatformConformance\\A"), 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &other.key, &disposition),
              ERROR_SUCCESS);
    HKEY root = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, kRoot, 0, KEY_READ, &root), ERROR_SUCCESS);
    std::string names;
    for (DWORD i = 0;; ++i) {
        char name[16];
        DWORD n = sizeof name;
        if (RegEnumKeyExA(root, i, name, &n, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        names += std::string(name) + ";";
    }
    EXPECT_EQ(names, std::string("A;TypeLib;"));
    RegCloseKey(root);

    EXPECT_EQ(RegDeleteKeyW(HKEY_CURRENT_USER, OLESTR("Software\\NuvPlatformConformance\\TypeLib")),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteTreeW(HKEY_CURRENT_USER, kRoot), ERROR_SUCCESS);
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, kRoot, 0, KEY_READ, &root), ERROR_FILE_NOT_FOUND);
}
