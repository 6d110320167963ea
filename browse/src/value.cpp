#include "browse/value.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <strings.h>

#include "browse/error.h"
#include "delimiters.h"

namespace {

struct Entity {
    char ch;
    const char* text;
    size_t length;
};
constexpr Entity kEntities[] = {
    {'\0', "&#00;", 5}, {'<', "&lt;", 4},   {'>', "&gt;", 4},   {'&', "&amp;", 5},
    {'\'', "&apos;", 6}, {'"', "&quot;", 6}, {'\n', "&#10;", 5}, {'\r', "&#13;", 5},
};

const Entity* FindEntity(char c) {
    for (const Entity& e : kEntities) {
        if (e.ch == c) return &e;
    }
    return nullptr;
}

// True when text[i] is an '&' that already starts one of the entities.
bool StartsEntity(const char* text, size_t n, size_t i) {
    for (const Entity& e : kEntities) {
        if (n - i >= e.length && std::memcmp(text + i, e.text, e.length) == 0) return true;
    }
    return false;
}

bool IsDelimiter(char c) { return FI::detail::IsPathDelimiter(c); }

// A name that holds a delimiter, or reads as the wildcard ("*"), is quoted so that it parses back as
// that name.
bool NeedsQuotes(const char* text, size_t n) {
    if (n == 1 && text[0] == '*') return true;
    for (size_t i = 0; i < n; ++i) {
        if (IsDelimiter(text[i])) return true;
    }
    return false;
}

char* Allocate(size_t capacity) {
    void* p = std::malloc(capacity);
    if (p == nullptr) throw std::bad_alloc();
    return static_cast<char*>(p);
}

int32_t ClampToInt(double d) {
    if (std::isnan(d)) return 0;
    if (d >= 2147483647.0) return INT32_MAX;
    if (d <= -2147483648.0) return INT32_MIN;
    return static_cast<int32_t>(d);
}

}  // namespace

int32_t FIParseInt(const char* text) {
    if (text == nullptr) return 0;
    size_t i = 0;
    while (std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    bool negative = false;
    if (text[i] == '+' || text[i] == '-') {
        negative = text[i] == '-';
        ++i;
    }
    int64_t value = 0;
    bool any = false;
    for (; std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
        any = true;
        if (value <= int64_t{INT32_MAX} + 1) value = value * 10 + (text[i] - '0');
    }
    if (!any) return 0;
    if (negative) value = -value;
    if (value > INT32_MAX) return INT32_MAX;
    if (value < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(value);
}

double FIParseDouble(const char* text) {
    if (text == nullptr) return 0.0;
    char* end = nullptr;
    double d = std::strtod(text, &end);
    return end == text ? 0.0 : d;
}

std::string FIFormatDouble(double v) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.12lg", v);
    return buf;
}

size_t FIPathNameSize(const char* text, size_t n) {
    if (!NeedsQuotes(text, n)) return n;
    size_t quotes = 0;
    for (size_t i = 0; i < n; ++i) quotes += text[i] == '"';
    return n + quotes + 2;
}

char* FIWritePathName(char* out, const char* text, size_t n) {
    // Copied as it is while no character asks for quotes: most names are short and need none.
    size_t plain = 0;
    while (plain < n && !IsDelimiter(text[plain])) {
        out[plain] = text[plain];
        ++plain;
    }
    if (plain == n && !(n == 1 && text[0] == '*')) return out + n;
    *out++ = '"';
    // Runs up to and with each inner quote, which is written once more.
    const char* end = text + n;
    while (text < end) {
        const auto* quote = static_cast<const char*>(std::memchr(text, '"', static_cast<size_t>(end - text)));
        const char* stop = quote != nullptr ? quote + 1 : end;
        std::memcpy(out, text, static_cast<size_t>(stop - text));
        out += stop - text;
        if (quote != nullptr) *out++ = '"';
        text = stop;
    }
    *out++ = '"';
    return out;
}

FIValue::FIValue(const FIValue& other) : tag_(other.tag_) {
    if (other.tag_ == kHeapText) {
        u_.heap.data = Allocate(other.u_.heap.capacity);
        u_.heap.capacity = other.u_.heap.capacity;
        u_.heap.length = other.u_.heap.length;
        std::memcpy(u_.heap.data, other.u_.heap.data, other.u_.heap.length + 1);
    } else {
        u_ = other.u_;
    }
}

FIValue::FIValue(FIValue&& other) noexcept : tag_(other.tag_), u_(other.u_) {
    other.tag_ = kEmpty;
}

FIValue& FIValue::operator=(const FIValue& other) {
    if (this != &other) {
        FIValue copy(other);
        *this = std::move(copy);
    }
    return *this;
}

FIValue& FIValue::operator=(FIValue&& other) noexcept {
    if (this != &other) {
        Clear();
        tag_ = other.tag_;
        u_ = other.u_;
        other.tag_ = kEmpty;
    }
    return *this;
}

void FIValue::FreeHeap() { std::free(u_.heap.data); }

void FIValue::SetInt(int32_t v) {
    Clear();
    tag_ = kInt;
    u_.i = v;
}

void FIValue::SetDouble(double v) {
    Clear();
    tag_ = kReal;
    u_.d = v;
}

void FIValue::SetString(const char* text) {
    if (text == nullptr) {
        Clear();
        return;
    }
    SetBytes(text, std::strlen(text));
}

void FIValue::SetString(const std::string& text) {
    SetBytes(text.data(), text.size());
}

void FIValue::SetBytes(const char* text, size_t n) {
    // The text may live in this value's own buffer: take a copy before touching it.
    const char* own = IsText() ? GetString() : nullptr;
    auto at = reinterpret_cast<uintptr_t>(text);
    auto base = reinterpret_cast<uintptr_t>(own);
    if (own != nullptr && at >= base && at <= base + Length()) {
        std::string copy(text, n);
        SetBytes(copy.data(), copy.size());
        return;
    }
    if (n <= kInlineLimit && tag_ != kHeapText) {
        Clear();
        tag_ = kInlineText;
        std::memcpy(u_.text, text, n);
        u_.text[n] = '\0';
        return;
    }
    MakeHeap();
    Reserve(n + 1);
    std::memcpy(u_.heap.data, text, n);
    u_.heap.data[n] = '\0';
    u_.heap.length = n;
}

const char* FIValue::GetString() const {
    switch (tag_) {
        case kEmpty: return "";
        case kInlineText: return u_.text;
        case kHeapText: return u_.heap.data;
        default: return nullptr;
    }
}

size_t FIValue::Length() const {
    switch (tag_) {
        case kInlineText: return std::strlen(u_.text);
        case kHeapText: return u_.heap.length;
        default: return 0;
    }
}

int32_t FIValue::ToInt() const {
    switch (tag_) {
        case kInt: return u_.i;
        case kReal: return ClampToInt(u_.d);
        case kInlineText:
        case kHeapText: return FIParseInt(GetString());
        default: return 0;
    }
}

double FIValue::ToDouble() const {
    switch (tag_) {
        case kInt: return u_.i;
        case kReal: return u_.d;
        case kInlineText:
        case kHeapText: return FIParseDouble(GetString());
        default: return 0.0;
    }
}

bool FIValue::ToBool(bool defaultValue) const {
    switch (tag_) {
        case kInt: return u_.i != 0;
        case kReal: return u_.d != 0.0;  // NaN compares unequal, so it counts as true
        case kInlineText:
        case kHeapText: {
            const char* s = GetString();
            if (strcasecmp(s, "true") == 0) return true;
            if (strcasecmp(s, "false") == 0) return false;
            return defaultValue;
        }
        default: return defaultValue;
    }
}

size_t FIValue::TextLength() const {
    if (IsNumber()) {
        FIValue copy(*this);
        copy.ConvertTo(kInlineText);
        return copy.Length();
    }
    return Length();
}

void FIValue::CopyTo(char* buf, size_t size) const {
    if (buf == nullptr || size == 0) return;
    if (IsNumber()) {
        FIValue copy(*this);
        copy.ConvertTo(kInlineText);
        copy.CopyTo(buf, size);
        return;
    }
    size_t n = Length();
    if (n > size - 1) n = size - 1;
    std::memcpy(buf, GetString(), n);
    buf[n] = '\0';
}

std::string FIValue::ToStdString() const {
    if (IsNumber()) {
        FIValue copy(*this);
        copy.ConvertTo(kInlineText);
        return copy.ToStdString();
    }
    return std::string(GetString(), Length());
}

void FIValue::ConvertTo(Tag target) {
    if (target == tag_) return;
    switch (target) {
        case kEmpty: Clear(); break;
        case kInt: SetInt(ToInt()); break;
        case kReal: SetDouble(ToDouble()); break;
        case kInlineText: {
            if (tag_ == kHeapText) return;  // heap text stays heap text
            char buf[32] = "";
            if (tag_ == kInt) std::snprintf(buf, sizeof buf, "%d", u_.i);
            if (tag_ == kReal) std::snprintf(buf, sizeof buf, "%.12lg", u_.d);
            tag_ = kInlineText;
            std::memcpy(u_.text, buf, sizeof u_.text);
            u_.text[sizeof u_.text - 1] = '\0';
            break;
        }
        case kHeapText: MakeHeap(); break;
        default: break;
    }
}

void FIValue::MakeHeap() {
    if (tag_ == kHeapText) return;
    char buf[32] = "";
    if (tag_ == kInt) std::snprintf(buf, sizeof buf, "%d", u_.i);
    if (tag_ == kReal) std::snprintf(buf, sizeof buf, "%.12lg", u_.d);
    if (tag_ == kInlineText) std::memcpy(buf, u_.text, sizeof u_.text);
    size_t n = std::strlen(buf);
    char* data = Allocate(kInitialHeapCapacity);
    std::memcpy(data, buf, n + 1);
    tag_ = kHeapText;
    u_.heap.data = data;
    u_.heap.capacity = kInitialHeapCapacity;
    u_.heap.length = n;
}

void FIValue::Reserve(size_t needed) {
    size_t capacity = u_.heap.capacity;
    if (capacity >= needed) return;
    while (capacity < needed) capacity *= 2;
    void* p = std::realloc(u_.heap.data, capacity);
    if (p == nullptr) throw std::bad_alloc();
    u_.heap.data = static_cast<char*>(p);
    u_.heap.capacity = capacity;
}

void FIValue::Append(const char* text, bool quote, bool escape) {
    if (text == nullptr) {
        MakeHeap();
        return;
    }
    AppendBytes(text, std::strlen(text), quote, escape);
}

void FIValue::Append(const std::string& text, bool quote, bool escape) {
    AppendBytes(text.data(), text.size(), quote, escape);
}

void FIValue::AppendN(const char* text, size_t n, bool quote, bool escape) {
    if (text == nullptr) n = 0;
    size_t length = n == 0 ? 0 : strnlen(text, n);
    AppendBytes(text, length, quote, escape);
}

void FIValue::AppendInt(int32_t v) {
    char buf[16];
    int n = std::snprintf(buf, sizeof buf, "%d", v);
    AppendBytes(buf, static_cast<size_t>(n), false, false);
}

void FIValue::AppendDouble(double v) {
    std::string s = FIFormatDouble(v);
    AppendBytes(s.data(), s.size(), false, false);
}

void FIValue::AppendValue(const FIValue& other, bool quote, bool escape) {
    switch (other.tag_) {
        case kInt: AppendInt(other.u_.i); break;
        case kReal: AppendDouble(other.u_.d); break;
        case kInlineText:
        case kHeapText: AppendBytes(other.GetString(), other.Length(), quote, escape); break;
        default: break;
    }
}

void FIValue::AppendChar(char c) {
    if (tag_ == kEmpty || IsNumber()) ConvertTo(kInlineText);
    if (tag_ == kInlineText) {
        size_t n = std::strlen(u_.text);
        if (n < kInlineCharLimit) {
            u_.text[n] = c;
            u_.text[n + 1] = '\0';
            return;
        }
        MakeHeap();
    }
    size_t n = u_.heap.length;
    Reserve(n + 2);
    u_.heap.data[n] = c;
    u_.heap.data[n + 1] = '\0';
    u_.heap.length = n + 1;
}

char* FIValue::WriteBuffer(size_t length, size_t room) {
    if (tag_ != kHeapText) {
        Clear();
        u_.heap.data = Allocate(std::max(room + 1, kInitialHeapCapacity));
        u_.heap.capacity = std::max(room + 1, kInitialHeapCapacity);
        tag_ = kHeapText;
        length = 0;
    } else {
        Reserve(std::max(room, length) + 1);
    }
    u_.heap.data[length] = '\0';
    u_.heap.length = length;
    return u_.heap.data;
}

void FIValue::AppendBytes(const char* text, size_t n, bool quote, bool escape) {
    // Most appends, as a path is built step by step: a name of no delimiter (or text not to be quoted)
    // from elsewhere, to heap text with room for it. Copied straight in.
    if (tag_ == kHeapText && !escape && n > 0) {
        char* data = u_.heap.data;
        const size_t length = u_.heap.length;
        const auto at = reinterpret_cast<uintptr_t>(text);
        const auto base = reinterpret_cast<uintptr_t>(data);
        bool plain = length + n < u_.heap.capacity && (at < base || at >= base + u_.heap.capacity);
        if (plain && quote) plain = !NeedsQuotes(text, n);
        if (plain) {
            std::memcpy(data + length, text, n);
            data[length + n] = '\0';
            u_.heap.length = length + n;
            return;
        }
    }
    // Appending a value to itself: its storage changes (to the heap, or grows) before the copy.
    if (n > 0 && IsText()) {
        auto at = reinterpret_cast<uintptr_t>(text);
        auto base = reinterpret_cast<uintptr_t>(GetString());
        size_t size = tag_ == kHeapText ? u_.heap.capacity : sizeof u_.text;
        if (at >= base && at < base + size) {
            std::string copy(text, n);
            AppendBytes(copy.data(), copy.size(), quote, escape);
            return;
        }
    }
    MakeHeap();
    if (n == 0) return;
    size_t length = u_.heap.length;
    if (escape) {
        size_t extra = 0;
        for (size_t i = 0; i < n; ++i) {
            const Entity* e = FindEntity(text[i]);
            if (e == nullptr || (text[i] == '&' && StartsEntity(text, n, i))) continue;
            extra += e->length - 1;
        }
        if (extra > 0) {
            Reserve(length + n + extra + 1);
            char* out = u_.heap.data + length;
            for (size_t i = 0; i < n; ++i) {
                const Entity* e = FindEntity(text[i]);
                if (e == nullptr || (text[i] == '&' && StartsEntity(text, n, i))) {
                    *out++ = text[i];
                } else {
                    std::memcpy(out, e->text, e->length);
                    out += e->length;
                }
            }
            *out = '\0';
            u_.heap.length = length + n + extra;
            return;
        }
        quote = false;
    }
    if (quote && NeedsQuotes(text, n)) {
        const size_t written = FIPathNameSize(text, n);
        Reserve(length + written + 1);
        *FIWritePathName(u_.heap.data + length, text, n) = '\0';
        u_.heap.length = length + written;
        return;
    }
    Reserve(length + n + 1);
    std::memcpy(u_.heap.data + length, text, n);
    u_.heap.data[length + n] = '\0';
    u_.heap.length = length + n;
}

int FIValue::Compare(const FIValue& a, const FIValue& b) {
    if (a.IsText() && b.IsText()) {
        size_t la = a.Length();
        size_t lb = b.Length();
        int c = std::memcmp(a.GetString(), b.GetString(), la < lb ? la : lb);
        if (c == 0) c = la < lb ? -1 : (la > lb ? 1 : 0);
        return c < 0 ? -1 : (c > 0 ? 1 : 0);
    }
    if (a.IsNumber()) {
        if (b.IsNumber()) {
            double x = a.ToDouble();
            double y = b.ToDouble();
            if (x < y) return -1;
            if (x == y) return 0;
            return 1;
        }
        if (b.IsText()) {
            FIValue copy(b);
            copy.ConvertTo(a.tag_);
            return Compare(a, copy);
        }
        return -2;
    }
    if (a.IsEmpty()) {
        if (b.IsEmpty() || (b.IsText() && b.Length() == 0)) return 0;
        return -1;
    }
    return -2;
}

HRESULT FIError::ToHRESULT() const {
    if (message_.IsEmpty()) return S_OK;
    if (message_.IsText()) return RaiseFIError(kFailureCode, message_.GetString());
    return E_FAIL;
}
