// Test support for the grid definition objects: late-bound calls, the thread's error information,
// and reading a saved definition back through the DOM.
#pragma once
#include <gtest/gtest.h>

#include <msxml2.h>

#include <algorithm>
#include <string>
#include <vector>

#include "atl/nuvatlbase.h"
#include "error_text.h"
#include "late_bound.h"
#include "nuvclasslib.h"

namespace griddef_test {

using nuvtest::ErrorText;
using nuvtest::TakeError;

using nuvtest::CallByName;

inline std::string Utf8(BSTR text) { return nuv::bstr_to_utf8(text); }

// Everything the stream holds, from its start.
inline std::string ReadStream(IStream* stream) {
    LARGE_INTEGER zero{};
    ULARGE_INTEGER end{};
    EXPECT_EQ(stream->Seek(zero, STREAM_SEEK_END, &end), S_OK);
    EXPECT_EQ(stream->Seek(zero, STREAM_SEEK_SET, nullptr), S_OK);
    std::string bytes(static_cast<size_t>(end.QuadPart), '\0');
    ULONG read = 0;
    if (!bytes.empty()) {
        EXPECT_EQ(stream->Read(bytes.data(), static_cast<ULONG>(bytes.size()), &read), S_OK);
    }
    bytes.resize(read);
    return bytes;
}

// The saved text parsed again by a fresh DOM document.
inline CComPtr<IXMLDOMDocument> ParseXml(const std::string& text) {
    CComPtr<IXMLDOMDocument> doc;
    EXPECT_EQ(CoCreateInstance(CLSID_DOMDocument, nullptr, CLSCTX_INPROC_SERVER, IID_IXMLDOMDocument,
                               reinterpret_cast<void**>(&doc)),
              S_OK);
    if (!doc) return doc;
    VARIANT_BOOL ok = VARIANT_FALSE;
    EXPECT_EQ(doc->loadXML(CComBSTR(text), &ok), S_OK);
    EXPECT_EQ(ok, VARIANT_TRUE) << text.substr(0, 200);
    return doc;
}

// The element children of a node, in document order.
inline std::vector<CComPtr<IXMLDOMElement>> Children(IXMLDOMNode* node) {
    std::vector<CComPtr<IXMLDOMElement>> out;
    CComPtr<IXMLDOMNodeList> list;
    if (!node || FAILED(node->get_childNodes(&list)) || !list) return out;
    LONG n = 0;
    list->get_length(&n);
    for (LONG i = 0; i < n; ++i) {
        CComPtr<IXMLDOMNode> child;
        list->get_item(i, &child);
        CComPtr<IXMLDOMElement> element;
        if (child && SUCCEEDED(child->QueryInterface(IID_IXMLDOMElement, reinterpret_cast<void**>(&element))))
            out.push_back(element);
    }
    return out;
}

inline std::string Name(IXMLDOMNode* node) {
    CComBSTR name;
    if (node) node->get_nodeName(&name);
    return name.ToUtf8();
}

// The attribute's text, or "<absent>" when the element has none of that name.
inline std::string Attr(IXMLDOMElement* element, const char* name) {
    CComVariant value;
    if (!element || element->getAttribute(CComBSTR(name), &value) != S_OK || value.vt != VT_BSTR)
        return "<absent>";
    return Utf8(value.bstrVal);
}

// The names of the element's attributes in the order its own markup lists them.
inline std::vector<std::string> AttributeOrder(IXMLDOMElement* element, const std::vector<std::string>& names) {
    CComBSTR xml;
    element->get_xml(&xml);
    const std::string text = xml.ToUtf8();
    const std::string head = text.substr(0, text.find('>'));
    std::vector<std::pair<size_t, std::string>> found;
    for (const std::string& n : names) {
        size_t at = head.find(" " + n + "=");
        if (at != std::string::npos) found.emplace_back(at, n);
    }
    std::sort(found.begin(), found.end());
    std::vector<std::string> order;
    for (auto& f : found) order.push_back(f.second);
    return order;
}

}  // namespace griddef_test
