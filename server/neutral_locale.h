// The library's type library under the neutral locale as well as its own.
//
// The type library is written for locale 0x409, and the platform's registration writes
// TypeLib\{libid}\<version>\409\win64 only; the type-library marshaller, which hands the library's
// interfaces to other apartments, looks the library up under the neutral locale (...\0\win64). Without
// that key no interface of the library can be marshalled. These write and remove that key, naming the
// same file, beside the registration of the library's own locale.
#pragma once
#include <windows.h>

namespace nuv {

// Writes the neutral-locale key of the type library in `module_path` (under the current user's classes
// when `per_user`). Nothing when the library's own locale is the neutral one.
HRESULT RegisterNeutralLocale(const OLECHAR* module_path, bool per_user);
// Removes that key; S_OK when there is none.
HRESULT UnregisterNeutralLocale(const OLECHAR* module_path, bool per_user);

}  // namespace nuv
