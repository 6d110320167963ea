// FIValue: the small variant of the browsing framework (empty, integer, real, text), and FIError.
#pragma once
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>

class FIValue {
public:
    enum Tag : uint32_t { kEmpty = 0, kInt = 1, kReal = 2, kInlineText = 3, kHeapText = 4 };
    // Texts shorter than this stay inside the value when set; AppendChar may fill one more.
    static constexpr size_t kInlineLimit = 18;
    static constexpr size_t kInlineCharLimit = 19;
    static constexpr size_t kInitialHeapCapacity = 32;

    FIValue() = default;
    FIValue(int32_t v) { SetInt(v); }  // NOLINT(google-explicit-constructor)
    FIValue(double v) { SetDouble(v); }  // NOLINT(google-explicit-constructor)
    FIValue(const char* text) { SetString(text); }  // NOLINT(google-explicit-constructor)
    FIValue(const std::string& text) { SetString(text); }  // NOLINT(google-explicit-constructor)
    FIValue(const FIValue& other);
    FIValue(FIValue&& other) noexcept;
    FIValue& operator=(const FIValue& other);
    FIValue& operator=(FIValue&& other) noexcept;
    ~FIValue() { Clear(); }

    // Inline: every attribute read clears values, nearly always ones without heap text.
    void Clear() {
        if (tag_ == kHeapText) FreeHeap();
        tag_ = kEmpty;
    }
    void SetInt(int32_t v);
    void SetDouble(double v);
    void SetString(const char* text);
    void SetString(const std::string& text);

    Tag GetTag() const { return tag_; }
    bool IsEmpty() const { return tag_ == kEmpty; }
    bool IsText() const { return tag_ == kInlineText || tag_ == kHeapText; }
    bool IsNumber() const { return tag_ == kInt || tag_ == kReal; }

    // Text for text values, "" for empty, null for numbers (convert first).
    const char* GetString() const;
    // Length in bytes of a text value (0 for empty and numbers).
    size_t Length() const;
    // Heap capacity in bytes (0 unless the value holds heap text).
    size_t Capacity() const { return tag_ == kHeapText ? u_.heap.capacity : 0; }

    int32_t ToInt() const;
    double ToDouble() const;
    bool ToBool(bool defaultValue) const;
    size_t TextLength() const;
    // Writes the value as text into buf (size bytes, always NUL-terminated when size > 0).
    void CopyTo(char* buf, size_t size) const;
    std::string ToStdString() const;

    void ConvertTo(Tag target);

    void Append(const char* text, bool quote = false, bool escape = false);
    void Append(const std::string& text, bool quote = false, bool escape = false);
    void AppendN(const char* text, size_t n, bool quote = false, bool escape = false);
    void AppendInt(int32_t v);
    void AppendDouble(double v);
    void AppendValue(const FIValue& other, bool quote = false, bool escape = false);
    void AppendChar(char c);

    // For text written in place: makes the value the first `length` bytes of its heap buffer, with room
    // for `room` bytes (at least `length`) and the terminating NUL, and returns the buffer, to be written
    // up to `room` bytes before the next call sets the length. A value without heap text starts from an
    // empty buffer (`length` must then be 0). With `room` equal to `length` nothing is allocated.
    char* WriteBuffer(size_t length, size_t room);

    // -1, 0, 1; -2 when the two cannot be compared (see the rules in value.cpp).
    static int Compare(const FIValue& a, const FIValue& b);

private:
    struct Heap {
        char* data;
        uint64_t capacity;
        uint64_t length;
    };
    void FreeHeap();
    void MakeHeap();
    void Reserve(size_t needed);
    void AppendBytes(const char* text, size_t n, bool quote, bool escape);
    void SetBytes(const char* text, size_t n);

    Tag tag_ = kEmpty;
    union {
        int32_t i;
        double d;
        char text[24];
        Heap heap;
    } u_{};
};
static_assert(sizeof(FIValue) == 32, "FIValue is a tag word and a 24-byte payload");

// Parses a leading decimal integer as "%d" would, clamped to the 32-bit range; 0 when there is none.
int32_t FIParseInt(const char* text);
// Parses a leading real number as "%lg" would; 0.0 when there is none.
double FIParseDouble(const char* text);
// Renders a real as "%.12lg".
std::string FIFormatDouble(double v);

// A name as one step of a path, as the quoting appends of FIValue write it: as it is, or between double
// quotes with inner ones doubled when it holds a delimiter or is "*" alone, so that it reads back as that
// name. FIPathNameSize is the written length (at most 2 * n + 2); FIWritePathName writes that many bytes
// (no terminator) at `out` and returns the end.
size_t FIPathNameSize(const char* text, size_t n);
char* FIWritePathName(char* out, const char* text, size_t n);

// The result of a framework operation: an empty message means success, a text message failure.
class FIError {
public:
    static constexpr HRESULT kFailureCode = _HRESULT_TYPEDEF_(0x8004B001L);

    FIError() = default;
    explicit FIError(const char* message) { SetMessage(message); }

    void SetMessage(const char* message) { message_.SetString(message != nullptr && *message != '\0' ? message : nullptr); }
    void SetMessage(const std::string& message) { SetMessage(message.c_str()); }
    bool IsEmpty() const { return message_.IsEmpty(); }
    bool Succeeded() const { return IsEmpty(); }
    const FIValue& Message() const { return message_; }
    FIValue& Message() { return message_; }
    HRESULT ToHRESULT() const;

private:
    FIValue message_;
};
