// GUIDs, interface ids and the compile-time uuid trait behind __uuidof.
#pragma once
#include <cstdint>
#include <cstring>
#include <type_traits>

typedef struct _GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
} GUID;

typedef GUID IID;
typedef GUID CLSID;
typedef const GUID& REFGUID;
typedef const IID& REFIID;
typedef const CLSID& REFCLSID;
typedef IID* LPIID;
typedef CLSID* LPCLSID;

inline bool IsEqualGUID(REFGUID a, REFGUID b) { return std::memcmp(&a, &b, sizeof(GUID)) == 0; }
inline bool InlineIsEqualGUID(REFGUID a, REFGUID b) { return IsEqualGUID(a, b); }
#define IsEqualIID(a, b) IsEqualGUID(a, b)
#define IsEqualCLSID(a, b) IsEqualGUID(a, b)
inline bool operator==(REFGUID a, REFGUID b) { return IsEqualGUID(a, b); }
inline bool operator!=(REFGUID a, REFGUID b) { return !IsEqualGUID(a, b); }

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
template <class T>
struct uuid_traits;

#define DECLARE_UUIDOF(Type, literal)                            \
    template <>                                                  \
    struct uuid_traits<Type> {                                   \
        static constexpr GUID value = guid_from_literal(literal); \
    }

template <class T>
using uuid_subject_t = std::remove_cv_t<std::remove_pointer_t<std::remove_cv_t<std::remove_reference_t<T>>>>;

#define __uuidof(T) (::uuid_traits<::uuid_subject_t<T>>::value)

inline constexpr GUID GUID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
#define IID_NULL GUID_NULL
#define CLSID_NULL GUID_NULL
