#include <browseface.h>
#include <servprov.h>

#include "atl/nuvatlbase.h"

// A one-element array of one text, counted from 0.
SAFEARRAY* OneText(const OLECHAR* text) {
    SAFEARRAY* array = SafeArrayCreateVector(VT_VARIANT, 0, 1);
    LONG first = 0;
    CComVariant value(text);
    SafeArrayPutElement(array, &first, &value);
    return array;
}

// The value of `attribute` at `path` below Top.appModel, in `unit` (empty: the node's own unit).
HRESULT ReadByPath(IUnknown* simulation, const OLECHAR* path, const OLECHAR* attribute, const OLECHAR* unit,
                   VARIANT* value) {
    CComPtr<IServiceProvider> provider;
    CComPtr<IPDXDocumentV22> document;
    HRESULT hr = simulation->QueryInterface(IID_IServiceProvider, reinterpret_cast<void**>(&provider));
    if (SUCCEEDED(hr))
        hr = provider->QueryService(IID_IPDXDocumentV22, IID_IPDXDocumentV22, reinterpret_cast<void**>(&document));
    if (FAILED(hr)) return hr;
    // One read: {path 0, attribute 0, unit}, a [3 x reads] array.
    SAFEARRAYBOUND bounds[2] = {{3, 0}, {1, 0}};
    SAFEARRAY* reads = SafeArrayCreate(VT_VARIANT, 2, bounds);
    CComVariant zero(static_cast<LONG>(0)), in_unit(unit);
    LONG field[3][2] = {{0, 0}, {1, 0}, {2, 0}};
    SafeArrayPutElement(reads, field[0], &zero);
    SafeArrayPutElement(reads, field[1], &zero);
    if (*unit) SafeArrayPutElement(reads, field[2], &in_unit);
    SAFEARRAY *paths = OneText(path), *attributes = OneText(attribute), *values = nullptr;
    hr = document->GetAttributes(CComBSTR(OLESTR("Top.appModel")), paths, attributes, reads, &values);
    LONG first = 0;
    if (SUCCEEDED(hr)) hr = SafeArrayGetElement(values, &first, value);
    for (SAFEARRAY* array : {paths, attributes, reads, values})
        if (array) SafeArrayDestroy(array);
    return hr;
}
