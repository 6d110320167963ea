// DOM node, element, text and node-list objects, and the node behaviour they share with the document.
#include <nuv_text.h>
#include <oleauto.h>

#include <climits>
#include <new>
#include <string>

#include "dom.h"

namespace nuv::xml {

std::string utf8_of(BSTR text) { return nuv::bstr_to_utf8(text); }

BSTR bstr_of(const xmlChar* text) {
    return nuv::bstr_from_utf8(text ? reinterpret_cast<const char*>(text) : "");
}

namespace {

bool is_our_node_type(xmlNodePtr node) {
    return node->type == XML_ELEMENT_NODE || node->type == XML_TEXT_NODE || node->type == XML_CDATA_SECTION_NODE ||
           node->type == XML_COMMENT_NODE || node->type == XML_PI_NODE || node->type == XML_ENTITY_REF_NODE;
}

// The members every node object has, over the libxml2 node it stands for.
template <class Interface>
class NodeObject : public NoDispatch<Interface>, public NodeAccess {
public:
    NodeObject(Document* owner, xmlNodePtr node) : owner_(owner), node_(node) { owner_->AddRef(); }
    virtual ~NodeObject() { owner_->Release(); }
    NodeObject(const NodeObject&) = delete;
    NodeObject& operator=(const NodeObject&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (IsEqualGUID(riid, kNodeAccessId)) {
            *ppv = static_cast<NodeAccess*>(this);  // identity probe: no reference taken
            return S_OK;
        }
        if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_IDispatch) ||
            IsEqualGUID(riid, IID_IXMLDOMNode) || answers(riid)) {
            *ppv = static_cast<Interface*>(this);
            AddRef();
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG n = --refs_;
        if (n == 0) delete this;
        return n;
    }

    xmlNodePtr xml_node() override { return node_; }
    Document* owner() override { return owner_; }

    HRESULT STDMETHODCALLTYPE get_nodeName(BSTR* out) override {
        std::lock_guard lock(owner_->mutex());
        return node_ops::name(node_, out);
    }
    HRESULT STDMETHODCALLTYPE get_nodeType(DOMNodeType* out) override { return node_ops::type(node_, out); }
    HRESULT STDMETHODCALLTYPE get_parentNode(IXMLDOMNode** out) override {
        std::lock_guard lock(owner_->mutex());
        return node_ops::relative(owner_, node_->parent, out);
    }
    HRESULT STDMETHODCALLTYPE get_childNodes(IXMLDOMNodeList** out) override {
        std::lock_guard lock(owner_->mutex());
        return node_ops::children(owner_, node_, out);
    }
    HRESULT STDMETHODCALLTYPE get_firstChild(IXMLDOMNode** out) override {
        std::lock_guard lock(owner_->mutex());
        return node_ops::relative(owner_, node_->children, out);
    }
    HRESULT STDMETHODCALLTYPE get_lastChild(IXMLDOMNode** out) override {
        std::lock_guard lock(owner_->mutex());
        return node_ops::relative(owner_, node_->last, out, node_ops::Step::Backward);
    }
    HRESULT STDMETHODCALLTYPE get_previousSibling(IXMLDOMNode** out) override {
        std::lock_guard lock(owner_->mutex());
        return node_ops::relative(owner_, node_->prev, out, node_ops::Step::Backward);
    }
    HRESULT STDMETHODCALLTYPE get_nextSibling(IXMLDOMNode** out) override {
        std::lock_guard lock(owner_->mutex());
        return node_ops::relative(owner_, node_->next, out);
    }
    HRESULT STDMETHODCALLTYPE removeChild(IXMLDOMNode* child, IXMLDOMNode** out) override {
        std::lock_guard lock(owner_->mutex());
        return node_ops::remove_child(owner_, node_, child, out);
    }
    HRESULT STDMETHODCALLTYPE appendChild(IXMLDOMNode* child, IXMLDOMNode** out) override {
        std::lock_guard lock(owner_->mutex());
        return node_ops::append_child(owner_, node_, child, out);
    }
    HRESULT STDMETHODCALLTYPE hasChildNodes(VARIANT_BOOL* out) override {
        if (!out) return E_POINTER;
        std::lock_guard lock(owner_->mutex());
        *out = node_->children ? VARIANT_TRUE : VARIANT_FALSE;
        return *out ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE get_ownerDocument(IXMLDOMDocument** out) override {
        if (!out) return E_POINTER;
        owner_->AddRef();
        *out = owner_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_text(BSTR* out) override {
        std::lock_guard lock(owner_->mutex());
        return node_ops::text(node_, out);
    }
    HRESULT STDMETHODCALLTYPE put_text(BSTR text) override {
        std::lock_guard lock(owner_->mutex());
        return node_ops::set_text(owner_, node_, text);
    }
    HRESULT STDMETHODCALLTYPE get_xml(BSTR* out) override {
        std::lock_guard lock(owner_->mutex());
        return node_ops::xml(owner_, node_, out);
    }

protected:
    virtual bool answers(REFIID) { return false; }

    Document* owner_;
    xmlNodePtr node_;

private:
    std::atomic<ULONG> refs_{1};
};

class Node final : public NodeObject<IXMLDOMNode> {
public:
    using NodeObject::NodeObject;
};

class Element final : public NodeObject<IXMLDOMElement> {
public:
    using NodeObject::NodeObject;

    HRESULT STDMETHODCALLTYPE get_tagName(BSTR* out) override { return get_nodeName(out); }

    HRESULT STDMETHODCALLTYPE getAttribute(BSTR name, VARIANT* value) override {
        if (!value) return E_POINTER;
        VariantInit(value);
        if (!name) return E_INVALIDARG;
        std::lock_guard lock(owner_->mutex());
        const std::string key = utf8_of(name);
        xmlChar* text = xmlGetProp(node_, reinterpret_cast<const xmlChar*>(key.c_str()));
        if (!text) {
            value->vt = VT_NULL;
            return S_FALSE;
        }
        BSTR b = bstr_of(text);
        xmlFree(text);
        if (!b) return E_OUTOFMEMORY;
        value->vt = VT_BSTR;
        value->bstrVal = b;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE setAttribute(BSTR name, VARIANT value) override {
        const std::string key = utf8_of(name);
        if (key.empty() || xmlValidateName(reinterpret_cast<const xmlChar*>(key.c_str()), 0) != 0) return E_FAIL;
        // Converted in a local copy: the caller's VARIANT is not touched.
        VARIANT text;
        VariantInit(&text);
        if (HRESULT hr = VariantChangeType(&text, &value, 0, VT_BSTR); FAILED(hr)) return hr;
        const std::string utf8 = utf8_of(text.bstrVal);
        VariantClear(&text);
        std::lock_guard lock(owner_->mutex());
        if (!xmlSetProp(node_, reinterpret_cast<const xmlChar*>(key.c_str()),
                        reinterpret_cast<const xmlChar*>(utf8.c_str())))
            return E_OUTOFMEMORY;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE removeAttribute(BSTR name) override {
        const std::string key = utf8_of(name);
        std::lock_guard lock(owner_->mutex());
        xmlUnsetProp(node_, reinterpret_cast<const xmlChar*>(key.c_str()));
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE getElementsByTagName(BSTR tagName, IXMLDOMNodeList** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        std::lock_guard lock(owner_->mutex());
        *out = make_node_list(owner_, elements_named(node_, utf8_of(tagName)));
        return *out ? S_OK : E_OUTOFMEMORY;
    }

protected:
    bool answers(REFIID riid) override { return IsEqualGUID(riid, IID_IXMLDOMElement); }
};

class Text final : public NodeObject<IXMLDOMText> {
public:
    using NodeObject::NodeObject;

    HRESULT STDMETHODCALLTYPE get_data(BSTR* out) override { return get_text(out); }
    HRESULT STDMETHODCALLTYPE put_data(BSTR data) override { return put_text(data); }
    HRESULT STDMETHODCALLTYPE get_length(LONG* out) override {
        if (!out) return E_POINTER;
        BSTR text = nullptr;
        if (HRESULT hr = get_text(&text); FAILED(hr)) return hr;
        *out = static_cast<LONG>(SysStringLen(text));
        SysFreeString(text);
        return S_OK;
    }

protected:
    bool answers(REFIID riid) override {
        return IsEqualGUID(riid, IID_IXMLDOMText) || IsEqualGUID(riid, IID_IXMLDOMCharacterData);
    }
};

class NodeList final : public NoDispatch<IXMLDOMNodeList> {
public:
    NodeList(Document* owner, std::vector<xmlNodePtr> nodes) : owner_(owner), nodes_(std::move(nodes)) {
        owner_->AddRef();
    }
    ~NodeList() { owner_->Release(); }
    NodeList(const NodeList&) = delete;
    NodeList& operator=(const NodeList&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, IID_IDispatch) ||
            IsEqualGUID(riid, IID_IXMLDOMNodeList)) {
            *ppv = static_cast<IXMLDOMNodeList*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG n = --refs_;
        if (n == 0) delete this;
        return n;
    }

    HRESULT STDMETHODCALLTYPE get_item(LONG index, IXMLDOMNode** out) override {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (index < 0 || static_cast<size_t>(index) >= nodes_.size()) return S_FALSE;
        std::lock_guard lock(owner_->mutex());
        *out = wrap(owner_, nodes_[static_cast<size_t>(index)]);
        return *out ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT STDMETHODCALLTYPE get_length(LONG* out) override {
        if (!out) return E_POINTER;
        *out = static_cast<LONG>(nodes_.size());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE nextNode(IXMLDOMNode** out) override {
        if (!out) return E_POINTER;
        std::lock_guard lock(mutex_);
        const HRESULT hr = get_item(static_cast<LONG>(cursor_), out);
        if (hr == S_OK) ++cursor_;
        return hr;
    }
    HRESULT STDMETHODCALLTYPE reset() override {
        std::lock_guard lock(mutex_);
        cursor_ = 0;
        return S_OK;
    }

private:
    std::atomic<ULONG> refs_{1};
    Document* owner_;
    std::vector<xmlNodePtr> nodes_;
    std::mutex mutex_;
    size_t cursor_ = 0;
};

void collect(xmlNodePtr node, const std::string& name, std::vector<xmlNodePtr>& out) {
    // Iterative walk: documents from outside may nest deeply.
    for (xmlNodePtr n = node->children; n;) {
        if (n->type == XML_ELEMENT_NODE &&
            (name == "*" || (n->name && name == reinterpret_cast<const char*>(n->name))))
            out.push_back(n);
        if (n->children && n->type == XML_ELEMENT_NODE) {
            n = n->children;
            continue;
        }
        while (n && !n->next && n != node) n = n->parent;
        if (!n || n == node) break;
        n = n->next;
    }
}

}  // namespace

IXMLDOMNode* wrap(Document* owner, xmlNodePtr node) {
    if (!node) return nullptr;
    if (node == reinterpret_cast<xmlNodePtr>(owner->doc()) || node->type == XML_DOCUMENT_NODE) {
        owner->AddRef();
        return owner;
    }
    switch (node->type) {
        case XML_ELEMENT_NODE: return new (std::nothrow) Element(owner, node);
        case XML_TEXT_NODE: return new (std::nothrow) Text(owner, node);
        default: return new (std::nothrow) Node(owner, node);
    }
}

IXMLDOMNodeList* make_node_list(Document* owner, std::vector<xmlNodePtr> nodes) {
    return new (std::nothrow) NodeList(owner, std::move(nodes));
}

std::vector<xmlNodePtr> elements_named(xmlNodePtr root, const std::string& name) {
    std::vector<xmlNodePtr> out;
    if (root) collect(root, name, out);
    return out;
}

namespace node_ops {

HRESULT name(xmlNodePtr node, BSTR* out) {
    if (!out) return E_POINTER;
    const char* fixed = nullptr;
    switch (node->type) {
        case XML_TEXT_NODE: fixed = "#text"; break;
        case XML_CDATA_SECTION_NODE: fixed = "#cdata-section"; break;
        case XML_COMMENT_NODE: fixed = "#comment"; break;
        case XML_DOCUMENT_NODE: fixed = "#document"; break;
        default: break;
    }
    *out = fixed ? nuv::bstr_from_utf8(fixed) : bstr_of(node->name);
    return *out ? S_OK : E_OUTOFMEMORY;
}

HRESULT type(xmlNodePtr node, DOMNodeType* out) {
    if (!out) return E_POINTER;
    switch (node->type) {
        case XML_ELEMENT_NODE: *out = NODE_ELEMENT; break;
        case XML_ATTRIBUTE_NODE: *out = NODE_ATTRIBUTE; break;
        case XML_TEXT_NODE: *out = NODE_TEXT; break;
        case XML_CDATA_SECTION_NODE: *out = NODE_CDATA_SECTION; break;
        case XML_ENTITY_REF_NODE: *out = NODE_ENTITY_REFERENCE; break;
        case XML_PI_NODE: *out = NODE_PROCESSING_INSTRUCTION; break;
        case XML_COMMENT_NODE: *out = NODE_COMMENT; break;
        case XML_DOCUMENT_NODE: *out = NODE_DOCUMENT; break;
        case XML_DTD_NODE: *out = NODE_DOCUMENT_TYPE; break;
        default: *out = NODE_INVALID; break;
    }
    return S_OK;
}

HRESULT relative(Document* owner, xmlNodePtr target, IXMLDOMNode** out, Step step) {
    if (!out) return E_POINTER;
    *out = nullptr;
    while (target && target->type != XML_DOCUMENT_NODE && !is_our_node_type(target))
        target = step == Step::Forward ? target->next : target->prev;
    // The document node of a tree replaced by loadXML is no longer the document.
    if (!target || (target->type == XML_DOCUMENT_NODE && target != reinterpret_cast<xmlNodePtr>(owner->doc())))
        return S_FALSE;
    *out = wrap(owner, target);
    return *out ? S_OK : E_OUTOFMEMORY;
}

HRESULT children(Document* owner, xmlNodePtr node, IXMLDOMNodeList** out) {
    if (!out) return E_POINTER;
    std::vector<xmlNodePtr> nodes;
    for (xmlNodePtr c = node->children; c; c = c->next)
        if (is_our_node_type(c)) nodes.push_back(c);
    *out = make_node_list(owner, std::move(nodes));
    return *out ? S_OK : E_OUTOFMEMORY;
}

HRESULT remove_child(Document* owner, xmlNodePtr node, IXMLDOMNode* child, IXMLDOMNode** out) {
    if (out) *out = nullptr;
    if (!child) return E_INVALIDARG;
    xmlNodePtr c = owner->node_of(child);
    if (!c || c->parent != node) return E_INVALIDARG;
    xmlUnlinkNode(c);
    owner->detach(c);
    if (out) {
        child->AddRef();
        *out = child;
    }
    return S_OK;
}

HRESULT append_child(Document* owner, xmlNodePtr node, IXMLDOMNode* child, IXMLDOMNode** out) {
    if (out) *out = nullptr;
    xmlNodePtr linked = nullptr;
    if (HRESULT hr = owner->append(node, child, linked); FAILED(hr)) return hr;
    if (out) {
        child->AddRef();
        *out = child;
    }
    return S_OK;
}

HRESULT text(xmlNodePtr node, BSTR* out) {
    if (!out) return E_POINTER;
    xmlChar* content = xmlNodeGetContent(node);
    *out = bstr_of(content);
    if (content) xmlFree(content);
    return *out ? S_OK : E_OUTOFMEMORY;
}

HRESULT set_text(Document* owner, xmlNodePtr node, BSTR value) {
    const std::string utf8 = utf8_of(value);
    if (utf8.size() > static_cast<size_t>(INT_MAX)) return E_OUTOFMEMORY;
    if (node->type == XML_ELEMENT_NODE || node->type == XML_DOCUMENT_NODE) {
        if (node->type == XML_DOCUMENT_NODE) return E_FAIL;
        // Children leave the tree but stay alive for any object that still refers to them.
        while (xmlNodePtr c = node->children) {
            xmlUnlinkNode(c);
            owner->detach(c);
        }
        // The new text belongs to the element's own tree, which is a replaced one for an element
        // left over from before a loadXML.
        xmlNodePtr t = xmlNewDocTextLen(node->doc, reinterpret_cast<const xmlChar*>(utf8.data()),
                                        static_cast<int>(utf8.size()));
        if (!t) return E_OUTOFMEMORY;
        t->parent = node;
        node->children = node->last = t;
        return S_OK;
    }
    if (node->type == XML_TEXT_NODE || node->type == XML_COMMENT_NODE || node->type == XML_CDATA_SECTION_NODE) {
        xmlNodeSetContentLen(node, reinterpret_cast<const xmlChar*>(utf8.data()), static_cast<int>(utf8.size()));
        return S_OK;
    }
    return E_FAIL;
}

HRESULT xml(Document* owner, xmlNodePtr node, BSTR* out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    xmlBufferPtr buffer = xmlBufferCreate();
    if (!buffer) return E_OUTOFMEMORY;
    xmlNodeDump(buffer, owner->doc(), node, 0, 0);
    *out = bstr_of(xmlBufferContent(buffer));
    xmlBufferFree(buffer);
    return *out ? S_OK : E_OUTOFMEMORY;
}

}  // namespace node_ops
}  // namespace nuv::xml
