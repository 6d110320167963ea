// Compile-time GUIDs: guid_from_literal, the uuid trait behind __uuidof and DECLARE_UUIDOF, which binds an
// interface or class to its id. Ours on every platform: on Windows the trait falls back to the ids the
// system headers declare, so __uuidof works alike for their interfaces and ours, pointers included.
#pragma once
#include <cstdint>
#include <type_traits>
#ifdef _WIN32
#include <guiddef.h>
#include <unknwn.h>
#endif

namespace platform_detail {
constexpr int hex_digit(char c) {
    return (c >= '0' && c <= '9')   ? c - '0'
           : (c >= 'a' && c <= 'f') ? c - 'a' + 10
           : (c >= 'A' && c <= 'F') ? c - 'A' + 10
                                    : throw "bad hex digit in GUID literal";
}
constexpr uint64_t hex_field(const char* s, int n) {
    uint64_t v = 0;
    for (int i = 0; i < n; ++i) v = (v << 4) | static_cast<uint64_t>(hex_digit(s[i]));
    return v;
}
}  // namespace platform_detail

// Parses "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx" (no braces) at compile time.
constexpr GUID guid_from_literal(const char (&s)[37]) {
    using platform_detail::hex_field;
    if (s[8] != '-' || s[13] != '-' || s[18] != '-' || s[23] != '-') throw "bad GUID literal";
    return GUID{static_cast<uint32_t>(hex_field(s, 8)),
                static_cast<uint16_t>(hex_field(s + 9, 4)),
                static_cast<uint16_t>(hex_field(s + 14, 4)),
                {static_cast<uint8_t>(hex_field(s + 19, 2)), static_cast<uint8_t>(hex_field(s + 21, 2)),
                 static_cast<uint8_t>(hex_field(s + 24, 2)), static_cast<uint8_t>(hex_field(s + 26, 2)),
                 static_cast<uint8_t>(hex_field(s + 28, 2)), static_cast<uint8_t>(hex_field(s + 30, 2)),
                 static_cast<uint8_t>(hex_field(s + 32, 2)), static_cast<uint8_t>(hex_field(s + 34, 2))}};
}

// uuid_traits<T>::value is the interface or class id bound to T with DECLARE_UUIDOF.
#ifdef _WIN32
// Interfaces of the system headers carry their ids in mingw-w64's own trait.
template <class T>
struct uuid_traits {
    static constexpr GUID value = __mingw_uuidof_s<T>::__uuid_inst;
};
#undef __uuidof
#else
template <class T>
struct uuid_traits;
#endif

#define DECLARE_UUIDOF(Type, literal)                            \
    template <>                                                  \
    struct uuid_traits<Type> {                                   \
        static constexpr GUID value = guid_from_literal(literal); \
    }

template <class T>
using uuid_subject_t = std::remove_cv_t<std::remove_pointer_t<std::remove_cv_t<std::remove_reference_t<T>>>>;

#define __uuidof(T) (::uuid_traits<::uuid_subject_t<T>>::value)

