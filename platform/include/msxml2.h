// XML DOM: the document, node, element, text and node-list interfaces, and the document class ids.
// The members offered are those this code base calls; late binding through IDispatch is not offered
// (GetIDsOfNames and Invoke answer E_NOTIMPL).
#pragma once
#include "oaidl.h"

typedef enum tagDOMNodeType {
    NODE_INVALID = 0,
    NODE_ELEMENT = 1,
    NODE_ATTRIBUTE = 2,
    NODE_TEXT = 3,
    NODE_CDATA_SECTION = 4,
    NODE_ENTITY_REFERENCE = 5,
    NODE_ENTITY = 6,
    NODE_PROCESSING_INSTRUCTION = 7,
    NODE_COMMENT = 8,
    NODE_DOCUMENT = 9,
    NODE_DOCUMENT_TYPE = 10,
    NODE_DOCUMENT_FRAGMENT = 11,
    NODE_NOTATION = 12
} DOMNodeType;

struct IXMLDOMNode;
struct IXMLDOMNodeList;
struct IXMLDOMElement;
struct IXMLDOMText;
struct IXMLDOMDocument;

struct IXMLDOMNode : IDispatch {
    virtual HRESULT STDMETHODCALLTYPE get_nodeName(BSTR* name) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_nodeType(DOMNodeType* type) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_parentNode(IXMLDOMNode** parent) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_childNodes(IXMLDOMNodeList** childList) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_firstChild(IXMLDOMNode** firstChild) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_lastChild(IXMLDOMNode** lastChild) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_previousSibling(IXMLDOMNode** previousSibling) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_nextSibling(IXMLDOMNode** nextSibling) = 0;
    virtual HRESULT STDMETHODCALLTYPE removeChild(IXMLDOMNode* childNode, IXMLDOMNode** oldChild) = 0;
    virtual HRESULT STDMETHODCALLTYPE appendChild(IXMLDOMNode* newChild, IXMLDOMNode** outNewChild) = 0;
    virtual HRESULT STDMETHODCALLTYPE hasChildNodes(VARIANT_BOOL* hasChild) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_ownerDocument(IXMLDOMDocument** XMLDOMDocument) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_text(BSTR* text) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_text(BSTR text) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_xml(BSTR* xmlString) = 0;
};
DECLARE_UUIDOF(IXMLDOMNode, "2933BF80-7B36-11D2-B20E-00C04F983E60");
inline constexpr IID IID_IXMLDOMNode = __uuidof(IXMLDOMNode);

struct IXMLDOMNodeList : IDispatch {
    virtual HRESULT STDMETHODCALLTYPE get_item(LONG index, IXMLDOMNode** listItem) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_length(LONG* listLength) = 0;
    virtual HRESULT STDMETHODCALLTYPE nextNode(IXMLDOMNode** nextItem) = 0;
    virtual HRESULT STDMETHODCALLTYPE reset() = 0;
};
DECLARE_UUIDOF(IXMLDOMNodeList, "2933BF82-7B36-11D2-B20E-00C04F983E60");
inline constexpr IID IID_IXMLDOMNodeList = __uuidof(IXMLDOMNodeList);

struct IXMLDOMElement : IXMLDOMNode {
    virtual HRESULT STDMETHODCALLTYPE get_tagName(BSTR* tagName) = 0;
    // A missing attribute gives S_FALSE and VT_NULL.
    virtual HRESULT STDMETHODCALLTYPE getAttribute(BSTR name, VARIANT* value) = 0;
    // The value is converted to text with VariantChangeType.
    virtual HRESULT STDMETHODCALLTYPE setAttribute(BSTR name, VARIANT value) = 0;
    virtual HRESULT STDMETHODCALLTYPE removeAttribute(BSTR name) = 0;
    virtual HRESULT STDMETHODCALLTYPE getElementsByTagName(BSTR tagName, IXMLDOMNodeList** resultList) = 0;
};
DECLARE_UUIDOF(IXMLDOMElement, "2933BF86-7B36-11D2-B20E-00C04F983E60");
inline constexpr IID IID_IXMLDOMElement = __uuidof(IXMLDOMElement);

struct IXMLDOMCharacterData : IXMLDOMNode {
    virtual HRESULT STDMETHODCALLTYPE get_data(BSTR* data) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_data(BSTR data) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_length(LONG* dataLength) = 0;
};
DECLARE_UUIDOF(IXMLDOMCharacterData, "2933BF84-7B36-11D2-B20E-00C04F983E60");
inline constexpr IID IID_IXMLDOMCharacterData = __uuidof(IXMLDOMCharacterData);

struct IXMLDOMText : IXMLDOMCharacterData {};
DECLARE_UUIDOF(IXMLDOMText, "2933BF87-7B36-11D2-B20E-00C04F983E60");
inline constexpr IID IID_IXMLDOMText = __uuidof(IXMLDOMText);

struct IXMLDOMDocument : IXMLDOMNode {
    virtual HRESULT STDMETHODCALLTYPE get_documentElement(IXMLDOMElement** DOMElement) = 0;
    virtual HRESULT STDMETHODCALLTYPE putref_documentElement(IXMLDOMElement* DOMElement) = 0;
    virtual HRESULT STDMETHODCALLTYPE createElement(BSTR tagName, IXMLDOMElement** element) = 0;
    virtual HRESULT STDMETHODCALLTYPE createTextNode(BSTR data, IXMLDOMText** text) = 0;
    virtual HRESULT STDMETHODCALLTYPE getElementsByTagName(BSTR tagName, IXMLDOMNodeList** resultList) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_async(VARIANT_BOOL* isAsync) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_async(VARIANT_BOOL isAsync) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_validateOnParse(VARIANT_BOOL* isValidating) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_validateOnParse(VARIANT_BOOL isValidating) = 0;
    // Parses the text, replacing the document; S_FALSE with *isSuccessful false when it is not XML.
    virtual HRESULT STDMETHODCALLTYPE loadXML(BSTR bstrXML, VARIANT_BOOL* isSuccessful) = 0;
    // Writes the document as UTF-8 to an IStream (VT_UNKNOWN or VT_DISPATCH) or to a file (VT_BSTR path).
    virtual HRESULT STDMETHODCALLTYPE save(VARIANT destination) = 0;
};
DECLARE_UUIDOF(IXMLDOMDocument, "2933BF81-7B36-11D2-B20E-00C04F983E60");
inline constexpr IID IID_IXMLDOMDocument = __uuidof(IXMLDOMDocument);

struct DOMDocument;
struct DOMDocument60;
DECLARE_UUIDOF(DOMDocument, "2933BF90-7B36-11D2-B20E-00C04F983E60");
DECLARE_UUIDOF(DOMDocument60, "88D96A05-F192-11D4-A65F-0040963251E5");
// The version-independent document class, and the version 6.0 one.
inline constexpr CLSID CLSID_DOMDocument = __uuidof(DOMDocument);
inline constexpr CLSID CLSID_DOMDocument60 = __uuidof(DOMDocument60);
