// Conversions between COM VARIANTs and browsing values, and the status records of action validation.
#pragma once
#include <windows.h>

#include <oleauto.h>

#include "browse/notify.h"
#include "browse/value.h"

namespace FI {

// Converts an incoming VARIANT. Accepts empty, null, 16/32/64-bit integers (64-bit: the low 32 bits),
// reals, texts and booleans, each also by reference; a by-reference VARIANT is followed one level.
// Anything else, and a null reference, gives E_INVALIDARG and leaves out empty.
HRESULT VariantToFIValue(const VARIANT* in, FIValue& out);
// Empty gives VT_NULL, integer VT_I4, real VT_R8, text a new VT_BSTR. out is cleared first.
HRESULT FIValueToVariant(const FIValue& value, VARIANT* out);

// What one attribute read gave, for callers that want the value rather than a VARIANT: the node's own
// value, or for the ids the generic reader answers itself (Entry::IsReaderAnswered) the VARIANT it made.
class AttributeReading {
public:
    AttributeReading() { variant_.vt = VT_EMPTY; }
    ~AttributeReading() { Clear(); }
    AttributeReading(const AttributeReading&) = delete;
    AttributeReading& operator=(const AttributeReading&) = delete;

    void Clear() {
        value_.Clear();
        if (variant_.vt != VT_EMPTY) VariantClear(&variant_);
        isVariant_ = false;
    }
    // Nothing came back: an empty value, or an empty or null VARIANT.
    bool IsBlank() const {
        return isVariant_ ? variant_.vt == VT_EMPTY || variant_.vt == VT_NULL : value_.IsEmpty();
    }
    bool IsVariant() const { return isVariant_; }
    const FIValue& Value() const { return value_; }
    FIValue& ReceiveValue() {
        Clear();
        return value_;
    }
    const VARIANT* Variant() const { return &variant_; }
    VARIANT* ReceiveVariant() {
        Clear();
        isVariant_ = true;
        return &variant_;
    }
    // Hands the VARIANT over to out (which must be clear), leaving this reading blank.
    void MoveVariantTo(VARIANT* out) {
        *out = variant_;
        variant_.vt = VT_EMPTY;
        isVariant_ = false;
    }

private:
    FIValue value_;
    VARIANT variant_;
    bool isVariant_ = false;
};

// Appends a status record (kind from severity, no arguments).
void AddNotification(FIDocumentNotifyList& records, int32_t severity, const char* text, int32_t position1 = -1,
                     int32_t position2 = -1);

}  // namespace FI
