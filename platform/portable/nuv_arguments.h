// What automation clients hand in, read safely: [in] VARIANTs with their references followed only after
// each pointer is tested, and SAFEARRAYs whose descriptor is checked against their elements before any
// element is read. Built on every platform: only the platform's documented functions are used underneath.
#pragma once
#include <oleauto.h>

namespace nuv {

// How many references to VARIANTs are followed before a value must be reached.
inline constexpr int kVariantReferenceDepth = 8;

// `in` as a local copy with its references followed, into `local` (an initialised VARIANT, cleared
// first): members convert this copy, never the caller's VARIANT. A reference to nothing, a chain of
// references deeper than kVariantReferenceDepth, a type no VARIANT holds or an array whose descriptor
// does not match its elements gives E_INVALIDARG and leaves `local` as it was.
HRESULT CopyInVariant(const VARIANT& in, VARIANT* local);

// The element type of an array: its own type when it carries one, else the one its feature bits imply.
// VT_EMPTY when neither says, or when the descriptor contradicts itself: an element size that is not the
// size of that type, or feature bits that would have the platform copy the elements as another type.
VARTYPE ArrayElementType(SAFEARRAY* array);

}  // namespace nuv
