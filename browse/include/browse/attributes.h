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

// Appends a status record (kind from severity, no arguments).
void AddNotification(FIDocumentNotifyList& records, int32_t severity, const char* text, int32_t position1 = -1,
                     int32_t position2 = -1);

}  // namespace FI
