// The XML DOM's version-independent document class id, which mingw-w64's <msxml2.h> names
// (CLSID_DOMDocument stands for CLSID_DOMDocument2 there) but no import library defines.
#include <msxml2.h>

extern "C" const CLSID CLSID_DOMDocument2 = guid_from_literal("2933BF90-7B36-11D2-B20E-00C04F983E60");
