// The DOM document object and its creation through CoCreateInstance.
#include <libxml/parser.h>
#include <libxml/xmlsave.h>
#include <nuv_file_replace.h>
#include <nuv_text.h>
#include <objbase.h>
#include <oleauto.h>

#include <climits>
#include <cstdio>
#include <new>
#include <string>

#include "../com/builtin_classes.h"
#include "dom.h"

namespace nuv::xml {

namespace {

xmlDocPtr new_empty_doc() { return xmlNewDoc(reinterpret_cast<const xmlChar*>("1.0")); }

bool is_descendant_or_self(xmlNodePtr candidate, xmlNodePtr of) {
    for (xmlNodePtr n = candidate; n; n = n->parent)
        if (n == of) return true;
    return false;
}

// The IStream behind a save destination, with a reference; null when it holds none.
IStream* stream_of(const VARIANT& destination) {
    const VARIANT* v = &destination;
    if (v->vt == (VT_VARIANT | VT_BYREF) && v->pvarVal) v = v->pvarVal;
    IUnknown* object = nullptr;
    if (v->vt == VT_UNKNOWN || v->vt == VT_DISPATCH) object = v->punkVal;
    else if ((v->vt == (VT_UNKNOWN | VT_BYREF) || v->vt == (VT_DISPATCH | VT_BYREF)) && v->ppunkVal)
        object = *v->ppunkVal;
    IStream* stream = nullptr;
    if (object) object->QueryInterface(IID_IStream, reinterpret_cast<void**>(&stream));
    return stream;
}

}  // namespace

Document::Document() : doc_(new_empty_doc()) {}

Document::~Document() {
    // Detached subtrees first (their names may live in a document's dictionary), then the documents.
    std::vector<xmlNodePtr> roots;
    for (xmlNodePtr n : detached_)
        if (!n->parent) roots.push_back(n);
    for (xmlNodePtr n : roots) xmlFreeNode(n);
    for (xmlDocPtr d : retired_) xmlFreeDoc(d);
    if (doc_) xmlFreeDoc(doc_);
}

void Document::detach(xmlNodePtr node) { detached_.insert(node); }

xmlNodePtr Document::node_of(IUnknown* object) {
    if (!object) return nullptr;
    void* probe = nullptr;
    if (FAILED(object->QueryInterface(kNodeAccessId, &probe)) || !probe) return nullptr;
    auto* access = static_cast<NodeAccess*>(probe);
    if (access->owner() != this) return nullptr;
    xmlNodePtr node = access->xml_node();
    return node && node->doc == doc_ ? node : nullptr;
}

HRESULT Document::append(xmlNodePtr parent, IXMLDOMNode* child, xmlNodePtr& linked) {
    if (!child) return E_INVALIDARG;
    xmlNodePtr c = node_of(child);
    if (!c) return E_INVALIDARG;  // not ours, or of another document
    // A node left over from before a loadXML belongs to the replaced tree: nothing moves in or out of
    // it, or one tree would end up owning (and freeing) nodes of the other.
    if (parent->doc != doc_) return E_INVALIDARG;
    const bool to_document = parent == reinterpret_cast<xmlNodePtr>(doc_);
    if (parent->type != XML_ELEMENT_NODE && !to_document) return E_FAIL;
    if (c->type == XML_DOCUMENT_NODE || c->type == XML_ATTRIBUTE_NODE || c->type == XML_DTD_NODE) return E_FAIL;
    if (is_descendant_or_self(parent, c)) return E_FAIL;  // would make a cycle
    if (to_document) {
        if (c->type == XML_TEXT_NODE || c->type == XML_CDATA_SECTION_NODE) return E_FAIL;
        if (c->type == XML_ELEMENT_NODE) {
            xmlNodePtr root = xmlDocGetRootElement(doc_);
            if (root && root != c) return E_FAIL;  // one document element only
        }
    }
    // Linked by hand: libxml2's own insertion merges adjacent text nodes and frees one of them,
    // which would leave a node object pointing at freed memory.
    xmlUnlinkNode(c);
    c->parent = parent;
    c->next = nullptr;
    c->prev = parent->last;
    if (parent->last)
        parent->last->next = c;
    else
        parent->children = c;
    parent->last = c;
    linked = c;
    return S_OK;
}

HRESULT Document::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (IsEqualGUID(riid, kNodeAccessId)) {
        *ppv = static_cast<NodeAccess*>(this);
        return S_OK;
    }
    if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_IDispatch) || IsEqualGUID(riid, IID_IXMLDOMNode) ||
        IsEqualGUID(riid, IID_IXMLDOMDocument)) {
        *ppv = static_cast<IXMLDOMDocument*>(this);
        AddRef();
        return S_OK;
    }
    return E_NOINTERFACE;
}

ULONG Document::Release() {
    const ULONG n = --refs_;
    if (n == 0) delete this;
    return n;
}

HRESULT Document::get_nodeName(BSTR* name) { return node_ops::name(xml_node(), name); }
HRESULT Document::get_nodeType(DOMNodeType* type) { return node_ops::type(xml_node(), type); }
HRESULT Document::get_parentNode(IXMLDOMNode** parent) {
    if (!parent) return E_POINTER;
    *parent = nullptr;
    return S_FALSE;
}
HRESULT Document::get_childNodes(IXMLDOMNodeList** list) {
    std::lock_guard lock(mutex_);
    return node_ops::children(this, xml_node(), list);
}
HRESULT Document::get_firstChild(IXMLDOMNode** out) {
    std::lock_guard lock(mutex_);
    return node_ops::relative(this, doc_->children, out);
}
HRESULT Document::get_lastChild(IXMLDOMNode** out) {
    std::lock_guard lock(mutex_);
    return node_ops::relative(this, doc_->last, out, node_ops::Step::Backward);
}
HRESULT Document::get_previousSibling(IXMLDOMNode** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    return S_FALSE;
}
HRESULT Document::get_nextSibling(IXMLDOMNode** out) { return get_previousSibling(out); }
HRESULT Document::removeChild(IXMLDOMNode* child, IXMLDOMNode** old) {
    std::lock_guard lock(mutex_);
    return node_ops::remove_child(this, xml_node(), child, old);
}
HRESULT Document::appendChild(IXMLDOMNode* child, IXMLDOMNode** out) {
    std::lock_guard lock(mutex_);
    return node_ops::append_child(this, xml_node(), child, out);
}
HRESULT Document::hasChildNodes(VARIANT_BOOL* out) {
    if (!out) return E_POINTER;
    std::lock_guard lock(mutex_);
    *out = doc_->children ? VARIANT_TRUE : VARIANT_FALSE;
    return *out ? S_OK : S_FALSE;
}
HRESULT Document::get_ownerDocument(IXMLDOMDocument** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    return S_FALSE;
}
HRESULT Document::get_text(BSTR* text) {
    std::lock_guard lock(mutex_);
    xmlNodePtr root = xmlDocGetRootElement(doc_);
    if (!root) {
        if (!text) return E_POINTER;
        *text = SysAllocString(OLESTR(""));
        return *text ? S_OK : E_OUTOFMEMORY;
    }
    return node_ops::text(root, text);
}
HRESULT Document::put_text(BSTR) { return E_FAIL; }

HRESULT Document::get_xml(BSTR* out) {
    if (!out) return E_POINTER;
    std::lock_guard lock(mutex_);
    std::string text;
    for (xmlNodePtr c = doc_->children; c; c = c->next) {
        xmlBufferPtr buffer = xmlBufferCreate();
        if (!buffer) return E_OUTOFMEMORY;
        xmlNodeDump(buffer, doc_, c, 0, 0);
        text += reinterpret_cast<const char*>(xmlBufferContent(buffer));
        text += "\r\n";
        xmlBufferFree(buffer);
    }
    *out = nuv::bstr_from_utf8(text);
    return *out ? S_OK : E_OUTOFMEMORY;
}

HRESULT Document::get_documentElement(IXMLDOMElement** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    std::lock_guard lock(mutex_);
    xmlNodePtr root = xmlDocGetRootElement(doc_);
    if (!root) return S_FALSE;
    IXMLDOMNode* node = wrap(this, root);
    if (!node) return E_OUTOFMEMORY;
    const HRESULT hr = node->QueryInterface(IID_IXMLDOMElement, reinterpret_cast<void**>(out));
    node->Release();
    return hr;
}

HRESULT Document::putref_documentElement(IXMLDOMElement* element) {
    std::lock_guard lock(mutex_);
    xmlNodePtr root = xmlDocGetRootElement(doc_);
    if (!element) {
        if (root) {
            xmlUnlinkNode(root);
            detach(root);
        }
        return S_OK;
    }
    xmlNodePtr e = node_of(element);
    if (!e || e->type != XML_ELEMENT_NODE) return E_INVALIDARG;
    if (e == root) return S_OK;
    if (root) {
        xmlUnlinkNode(root);
        detach(root);
    }
    xmlNodePtr linked = nullptr;
    return append(xml_node(), element, linked);
}

HRESULT Document::createElement(BSTR tagName, IXMLDOMElement** element) {
    if (!element) return E_POINTER;
    *element = nullptr;
    const std::string name = utf8_of(tagName);
    if (name.empty() || xmlValidateName(reinterpret_cast<const xmlChar*>(name.c_str()), 0) != 0) return E_FAIL;
    std::lock_guard lock(mutex_);
    xmlNodePtr node = xmlNewDocNode(doc_, nullptr, reinterpret_cast<const xmlChar*>(name.c_str()), nullptr);
    if (!node) return E_OUTOFMEMORY;
    detach(node);
    IXMLDOMNode* wrapped = wrap(this, node);
    if (!wrapped) return E_OUTOFMEMORY;
    const HRESULT hr = wrapped->QueryInterface(IID_IXMLDOMElement, reinterpret_cast<void**>(element));
    wrapped->Release();
    return hr;
}

HRESULT Document::createTextNode(BSTR data, IXMLDOMText** text) {
    if (!text) return E_POINTER;
    *text = nullptr;
    const std::string utf8 = utf8_of(data);
    if (utf8.size() > static_cast<size_t>(INT_MAX)) return E_OUTOFMEMORY;
    std::lock_guard lock(mutex_);
    xmlNodePtr node =
        xmlNewDocTextLen(doc_, reinterpret_cast<const xmlChar*>(utf8.data()), static_cast<int>(utf8.size()));
    if (!node) return E_OUTOFMEMORY;
    detach(node);
    IXMLDOMNode* wrapped = wrap(this, node);
    if (!wrapped) return E_OUTOFMEMORY;
    const HRESULT hr = wrapped->QueryInterface(IID_IXMLDOMText, reinterpret_cast<void**>(text));
    wrapped->Release();
    return hr;
}

HRESULT Document::getElementsByTagName(BSTR tagName, IXMLDOMNodeList** list) {
    if (!list) return E_POINTER;
    std::lock_guard lock(mutex_);
    *list = make_node_list(this, elements_named(xml_node(), utf8_of(tagName)));
    return *list ? S_OK : E_OUTOFMEMORY;
}

HRESULT Document::get_async(VARIANT_BOOL* out) {
    if (!out) return E_POINTER;
    *out = async_ ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}
HRESULT Document::put_async(VARIANT_BOOL value) {
    async_ = value != VARIANT_FALSE;
    return S_OK;
}
HRESULT Document::get_validateOnParse(VARIANT_BOOL* out) {
    if (!out) return E_POINTER;
    *out = validate_on_parse_ ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}
HRESULT Document::put_validateOnParse(VARIANT_BOOL value) {
    validate_on_parse_ = value != VARIANT_FALSE;
    return S_OK;
}

HRESULT Document::loadXML(BSTR bstrXML, VARIANT_BOOL* isSuccessful) {
    if (isSuccessful) *isSuccessful = VARIANT_FALSE;
    const std::string utf8 = utf8_of(bstrXML);
    if (utf8.size() > static_cast<size_t>(INT_MAX)) return E_OUTOFMEMORY;
    // No network, no external entities or DTDs, libxml2's default depth and expansion limits.
    xmlDocPtr parsed = xmlReadMemory(utf8.data(), static_cast<int>(utf8.size()), nullptr, "UTF-8",
                                     XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    // A failed parse leaves an empty document, as a failed load does on the platform.
    xmlDocPtr replacement = parsed ? parsed : new_empty_doc();
    if (!replacement) return E_OUTOFMEMORY;
    std::lock_guard lock(mutex_);
    retired_.push_back(doc_);
    doc_ = replacement;
    if (!parsed) return S_FALSE;
    if (isSuccessful) *isSuccessful = VARIANT_TRUE;
    return S_OK;
}

std::string Document::serialize() {
    xmlChar* memory = nullptr;
    int size = 0;
    xmlDocDumpFormatMemoryEnc(doc_, &memory, &size, "UTF-8", 0);
    std::string text = memory ? std::string(reinterpret_cast<const char*>(memory), static_cast<size_t>(size)) : "";
    if (memory) xmlFree(memory);
    return text;
}

HRESULT Document::save(VARIANT destination) {
    std::string text;
    {
        std::lock_guard lock(mutex_);
        text = serialize();
    }
    if (IStream* stream = stream_of(destination)) {
        HRESULT hr = S_OK;
        for (size_t at = 0; at < text.size() && SUCCEEDED(hr);) {
            const ULONG part = static_cast<ULONG>(std::min<size_t>(text.size() - at, 1u << 30));
            ULONG written = 0;
            hr = stream->Write(text.data() + at, part, &written);
            if (SUCCEEDED(hr) && written != part) hr = STG_E_MEDIUMFULL;
            at += part;
        }
        stream->Release();
        return FAILED(hr) ? hr : S_OK;
    }
    const VARIANT* v = &destination;
    if (v->vt == (VT_VARIANT | VT_BYREF) && v->pvarVal) v = v->pvarVal;
    if (v->vt == VT_BSTR && v->bstrVal && SysStringLen(v->bstrVal)) {
        const std::string path = utf8_of(v->bstrVal);
        // Written beside the file and put in its place whole: a failed save leaves the old file.
        const FileWrite written = WriteFileWhole(path, text);
        return written == FileWrite::kWritten ? S_OK : written == FileWrite::kRefused ? E_ACCESSDENIED : E_FAIL;
    }
    return E_INVALIDARG;
}

}  // namespace nuv::xml

namespace nuv::com {
HRESULT create_dom_document(REFIID riid, void** ppv) {
    *ppv = nullptr;
    auto* document = new (std::nothrow) nuv::xml::Document();
    if (!document) return E_OUTOFMEMORY;
    if (!document->doc()) {
        document->Release();
        return E_OUTOFMEMORY;
    }
    const HRESULT hr = document->QueryInterface(riid, ppv);
    document->Release();
    return hr;
}

bool is_dom_document_class(REFCLSID clsid) {
    return IsEqualGUID(clsid, CLSID_DOMDocument) || IsEqualGUID(clsid, CLSID_DOMDocument60);
}
}  // namespace nuv::com
