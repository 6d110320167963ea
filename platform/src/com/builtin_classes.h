// The classes CoCreateInstance can make without any registration.
#pragma once
#include <objbase.h>

namespace nuv::com {

// The process's one Global Interface Table.
HRESULT create_global_interface_table(REFIID riid, void** ppv);
// A new XML DOM document, and whether a class id names one.
HRESULT create_dom_document(REFIID riid, void** ppv);
bool is_dom_document_class(REFCLSID clsid);
// A new, empty memory stream.
HRESULT create_memory_stream(IStream** out);

}  // namespace nuv::com
