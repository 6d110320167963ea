// BSTR: a length-prefixed, NUL-terminated UTF-16 string. The 32-bit byte length sits in the four bytes
// before the first character; the block starts eight bytes before it so the text stays 8-aligned.
#include <oleauto.h>

#include <cstdlib>
#include <cstring>
#include <limits>

namespace {

constexpr size_t kHeader = 8;
// The byte length must fit in the 32-bit prefix, with room for the header and terminator.
constexpr size_t kMaxBytes = std::numeric_limits<uint32_t>::max() - kHeader - sizeof(OLECHAR);

char* block_of(BSTR b) { return reinterpret_cast<char*>(b) - kHeader; }

uint32_t byte_length(BSTR b) {
    uint32_t n;
    std::memcpy(&n, reinterpret_cast<char*>(b) - sizeof(uint32_t), sizeof n);
    return n;
}

// Allocates a BSTR of `bytes` bytes, copies `bytes` from `src` when given (zero-fills otherwise) and
// terminates it with a wide NUL at byte offset `bytes`.
BSTR allocate(const void* src, size_t bytes) {
    if (bytes > kMaxBytes) return nullptr;
    char* block = static_cast<char*>(std::malloc(kHeader + bytes + sizeof(OLECHAR) + 1));
    if (!block) return nullptr;
    const uint32_t n = static_cast<uint32_t>(bytes);
    std::memset(block, 0, kHeader - sizeof n);
    std::memcpy(block + kHeader - sizeof n, &n, sizeof n);
    char* text = block + kHeader;
    if (src)
        std::memmove(text, src, bytes);
    else
        std::memset(text, 0, bytes);
    // Odd byte lengths still end in two zero bytes right after the data, plus one pad byte.
    std::memset(text + bytes, 0, sizeof(OLECHAR) + 1);
    return reinterpret_cast<BSTR>(text);
}

size_t wide_length(const OLECHAR* s) {
    size_t n = 0;
    while (s[n]) ++n;
    return n;
}

}  // namespace

extern "C" {

BSTR SysAllocString(const OLECHAR* psz) {
    if (!psz) return nullptr;
    const size_t n = wide_length(psz);
    if (n > kMaxBytes / sizeof(OLECHAR)) return nullptr;
    return allocate(psz, n * sizeof(OLECHAR));
}

BSTR SysAllocStringLen(const OLECHAR* strIn, UINT ui) {
    if (ui > kMaxBytes / sizeof(OLECHAR)) return nullptr;
    return allocate(strIn, size_t{ui} * sizeof(OLECHAR));
}

BSTR SysAllocStringByteLen(LPCSTR psz, UINT len) { return allocate(psz, len); }

INT SysReAllocStringLen(BSTR* pbstr, const OLECHAR* psz, UINT len) {
    if (!pbstr) return FALSE;
    // The source may lie inside the string being replaced: copy before freeing.
    BSTR fresh = SysAllocStringLen(psz, len);
    if (!fresh) return FALSE;
    SysFreeString(*pbstr);
    *pbstr = fresh;
    return TRUE;
}

INT SysReAllocString(BSTR* pbstr, const OLECHAR* psz) {
    if (!pbstr) return FALSE;
    if (!psz) {
        SysFreeString(*pbstr);
        *pbstr = nullptr;
        return TRUE;
    }
    const size_t n = wide_length(psz);
    if (n > kMaxBytes / sizeof(OLECHAR)) return FALSE;
    return SysReAllocStringLen(pbstr, psz, static_cast<UINT>(n));
}

void SysFreeString(BSTR bstrString) {
    if (bstrString) std::free(block_of(bstrString));
}

UINT SysStringLen(BSTR pbstr) { return pbstr ? byte_length(pbstr) / sizeof(OLECHAR) : 0; }

UINT SysStringByteLen(BSTR bstr) { return bstr ? byte_length(bstr) : 0; }

}  // extern "C"
