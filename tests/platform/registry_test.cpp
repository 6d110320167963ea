// What only the in-memory registry promises beyond the shared protocol table (conformance/registry_test.cpp):
// its dump, narrow sizes, case-insensitive order, and handles to deleted keys.
#include <gtest/gtest.h>
#include <nuv_platform_hooks.h>
#include <windows.h>

#include <string>

namespace {

class Registry : public ::testing::Test {
protected:
    void SetUp() override { nuv::registry_clear(); }
    void TearDown() override { nuv::registry_clear(); }
    static HKEY create(HKEY root, const char* path, DWORD* disposition = nullptr) {
        HKEY key = nullptr;
        EXPECT_EQ(RegCreateKeyExA(root, path, 0, nullptr, 0, KEY_WRITE, nullptr, &key, disposition), ERROR_SUCCESS)
            << path;
        return key;
    }
};

}  // namespace

TEST_F(Registry, CreateOpenAndQueryIgnoreCase) {
    DWORD disposition = 0;
    HKEY key = create(HKEY_CLASSES_ROOT, "TypeLib\\{00380002-71C8-4F3D-A9E2-5B60D4F8A213}\\38.0", &disposition);
    EXPECT_EQ(disposition, DWORD(REG_CREATED_NEW_KEY));
    const std::u16string text = u"NUVClassLib380";
    ASSERT_EQ(RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                             static_cast<DWORD>((text.size() + 1) * 2)),
              ERROR_SUCCESS);
    const DWORD flags = 0;
    ASSERT_EQ(RegSetValueExA(key, "FLAGS", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&flags), 4), ERROR_SUCCESS);
    RegCloseKey(key);
    RegCloseKey(create(HKEY_CLASSES_ROOT, "typelib\\{00380002-71c8-4f3d-a9e2-5b60d4f8a213}\\38.0", &disposition));
    EXPECT_EQ(disposition, DWORD(REG_OPENED_EXISTING_KEY));

    // The narrow read sizes the text in its own bytes.
    HKEY opened = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "TYPELIB\\{00380002-71C8-4F3D-A9E2-5B60D4F8A213}\\38.0", 0, KEY_READ,
                            &opened),
              ERROR_SUCCESS);
    char narrow[32];
    DWORD size = sizeof narrow, type = 0;
    ASSERT_EQ(RegQueryValueExA(opened, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(narrow), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(type, DWORD(REG_SZ));
    EXPECT_STREQ(narrow, "NUVClassLib380");
    EXPECT_EQ(size, 15u);
    DWORD small = 4;
    EXPECT_EQ(RegQueryValueExA(opened, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(narrow), &small),
              ERROR_MORE_DATA);
    EXPECT_EQ(small, 15u);
    RegCloseKey(opened);

    EXPECT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "TypeLib\\nothing", 0, KEY_READ, &opened), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(nuv::registry_dump(),
              "HKEY_CLASSES_ROOT\n"
              "HKEY_CLASSES_ROOT\\TypeLib\n"
              "HKEY_CLASSES_ROOT\\TypeLib\\{00380002-71C8-4F3D-A9E2-5B60D4F8A213}\n"
              "HKEY_CLASSES_ROOT\\TypeLib\\{00380002-71C8-4F3D-A9E2-5B60D4F8A213}\\38.0\n"
              "  @ = REG_SZ \"NUVClassLib380\"\n"
              "  FLAGS = REG_DWORD 0x0\n");
}

TEST_F(Registry, HandlesToDeletedKeysFailAndSubkeysEnumerateInOrder) {
    HKEY key = create(HKEY_CURRENT_USER, "Software\\A\\B");
    EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\A"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\A"), ERROR_SUCCESS);
    // A handle to a deleted key fails instead of reviving it.
    const DWORD one = 1;
    EXPECT_EQ(RegSetValueExA(key, "x", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), 4), ERROR_KEY_DELETED);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey(reinterpret_cast<HKEY>(0x12345)), ERROR_INVALID_HANDLE);
    EXPECT_EQ(nuv::registry_dump("HKEY_CURRENT_USER\\Software"), "HKEY_CURRENT_USER\\Software\n");
    EXPECT_EQ(RegDeleteKeyA(HKEY_CURRENT_USER, "Software"), ERROR_SUCCESS);
    EXPECT_EQ(nuv::registry_dump(), "");

    for (const char* name : {"Root\\b", "Root\\A", "Root\\c"}) RegCloseKey(create(HKEY_LOCAL_MACHINE, name));
    HKEY root = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Root", 0, KEY_READ, &root), ERROR_SUCCESS);
    std::string names;
    char name[8];
    for (DWORD i = 0;; ++i) {
        DWORD n = sizeof name;
        const LSTATUS s = RegEnumKeyExA(root, i, name, &n, nullptr, nullptr, nullptr, nullptr);
        if (s == ERROR_NO_MORE_ITEMS) break;
        ASSERT_EQ(s, ERROR_SUCCESS);
        names += name;
    }
    EXPECT_EQ(names, "Abc");
    RegCloseKey(root);
}
