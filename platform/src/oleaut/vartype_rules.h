// Which VARTYPEs a VARIANT or a SAFEARRAY may hold, and how big one element of each is.
#pragma once
#include <oleauto.h>

namespace nuv::oleaut {

// The base types a VARIANT may hold by value, by reference or as an array (VT_VARIANT only by
// reference or as an array; VT_EMPTY and VT_NULL only by value).
bool is_valid_variant_type(VARTYPE vt);

// Size of one SAFEARRAY element of type vt; 0 when vt cannot be an element type.
ULONG element_size(VARTYPE vt);

}  // namespace nuv::oleaut

namespace nuv::oleaut {
// A by-value VARIANT that aliases what the by-reference VARIANT `src` points at (no copy is made;
// `view` must not be cleared).
HRESULT dereference_variant(const VARIANT* src, VARIANT& view);
}  // namespace nuv::oleaut
