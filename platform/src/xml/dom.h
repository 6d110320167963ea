// The XML DOM over libxml2: a Document object owns the libxml2 trees; node, element, text and
// node-list objects hold a counted reference to their Document and raw libxml2 node pointers.
// No libxml2 node is freed before its Document dies: nodes that leave the tree (removed, replaced,
// or created and never attached) are kept on a detached list and freed with the document, so a node
// object never points at freed memory. Every call takes the Document's lock.
#pragma once
#include <libxml/tree.h>
#include <msxml2.h>

#include <atomic>
#include <mutex>
#include <unordered_set>
#include <vector>

namespace nuv::xml {

class Document;

// Reached through QueryInterface with kNodeAccessId: how the DOM recognises its own node objects.
struct NodeAccess {
    virtual xmlNodePtr xml_node() = 0;
    virtual Document* owner() = 0;

protected:
    ~NodeAccess() = default;
};
inline constexpr IID kNodeAccessId = guid_from_literal("0038A001-2B7C-4E19-9D55-61C0F3A8E2B4");

// IDispatch members of the DOM objects: no type information, no late binding.
template <class Interface>
class NoDispatch : public Interface {
public:
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* pctinfo) override {
        if (!pctinfo) return E_POINTER;
        *pctinfo = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** ppTInfo) override {
        if (ppTInfo) *ppTInfo = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return E_NOTIMPL;
    }
};

// The object for a libxml2 node of any type (the document itself for the document node), with a
// reference for the caller; null on allocation failure.
IXMLDOMNode* wrap(Document* owner, xmlNodePtr node);

// A new node list over a snapshot of nodes.
IXMLDOMNodeList* make_node_list(Document* owner, std::vector<xmlNodePtr> nodes);

// Descendants of `root` (not root itself) whose name is `name` ("*" for all elements), document order.
std::vector<xmlNodePtr> elements_named(xmlNodePtr root, const std::string& name);

// Text conversions between BSTR and libxml2's UTF-8.
std::string utf8_of(BSTR text);
BSTR bstr_of(const xmlChar* text);

class Document final : public NoDispatch<IXMLDOMDocument>, public NodeAccess {
public:
    Document();
    ~Document();
    Document(const Document&) = delete;
    Document& operator=(const Document&) = delete;

    std::recursive_mutex& mutex() { return mutex_; }
    xmlDocPtr doc() { return doc_; }
    // Records a node that is no longer (or not yet) in any tree, to be freed with the document.
    void detach(xmlNodePtr node);
    // Links `child` (ours, of this document) as the last child of `parent`, after checking the move
    // keeps a tree: no cycle, elements and text only, one document element.
    HRESULT append(xmlNodePtr parent, IXMLDOMNode* child, xmlNodePtr& linked);
    // The node behind one of our node objects when it belongs to this document, else null.
    xmlNodePtr node_of(IUnknown* object);

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override;

    // NodeAccess
    xmlNodePtr xml_node() override { return reinterpret_cast<xmlNodePtr>(doc_); }
    Document* owner() override { return this; }

    // IXMLDOMNode
    HRESULT STDMETHODCALLTYPE get_nodeName(BSTR* name) override;
    HRESULT STDMETHODCALLTYPE get_nodeType(DOMNodeType* type) override;
    HRESULT STDMETHODCALLTYPE get_parentNode(IXMLDOMNode** parent) override;
    HRESULT STDMETHODCALLTYPE get_childNodes(IXMLDOMNodeList** childList) override;
    HRESULT STDMETHODCALLTYPE get_firstChild(IXMLDOMNode** firstChild) override;
    HRESULT STDMETHODCALLTYPE get_lastChild(IXMLDOMNode** lastChild) override;
    HRESULT STDMETHODCALLTYPE get_previousSibling(IXMLDOMNode** previousSibling) override;
    HRESULT STDMETHODCALLTYPE get_nextSibling(IXMLDOMNode** nextSibling) override;
    HRESULT STDMETHODCALLTYPE removeChild(IXMLDOMNode* childNode, IXMLDOMNode** oldChild) override;
    HRESULT STDMETHODCALLTYPE appendChild(IXMLDOMNode* newChild, IXMLDOMNode** outNewChild) override;
    HRESULT STDMETHODCALLTYPE hasChildNodes(VARIANT_BOOL* hasChild) override;
    HRESULT STDMETHODCALLTYPE get_ownerDocument(IXMLDOMDocument** document) override;
    HRESULT STDMETHODCALLTYPE get_text(BSTR* text) override;
    HRESULT STDMETHODCALLTYPE put_text(BSTR text) override;
    HRESULT STDMETHODCALLTYPE get_xml(BSTR* xmlString) override;

    // IXMLDOMDocument
    HRESULT STDMETHODCALLTYPE get_documentElement(IXMLDOMElement** element) override;
    HRESULT STDMETHODCALLTYPE putref_documentElement(IXMLDOMElement* element) override;
    HRESULT STDMETHODCALLTYPE createElement(BSTR tagName, IXMLDOMElement** element) override;
    HRESULT STDMETHODCALLTYPE createTextNode(BSTR data, IXMLDOMText** text) override;
    HRESULT STDMETHODCALLTYPE getElementsByTagName(BSTR tagName, IXMLDOMNodeList** resultList) override;
    HRESULT STDMETHODCALLTYPE get_async(VARIANT_BOOL* isAsync) override;
    HRESULT STDMETHODCALLTYPE put_async(VARIANT_BOOL isAsync) override;
    HRESULT STDMETHODCALLTYPE get_validateOnParse(VARIANT_BOOL* isValidating) override;
    HRESULT STDMETHODCALLTYPE put_validateOnParse(VARIANT_BOOL isValidating) override;
    HRESULT STDMETHODCALLTYPE loadXML(BSTR bstrXML, VARIANT_BOOL* isSuccessful) override;
    HRESULT STDMETHODCALLTYPE save(VARIANT destination) override;

private:
    std::string serialize();

    std::atomic<ULONG> refs_{1};
    std::recursive_mutex mutex_;
    xmlDocPtr doc_;
    std::vector<xmlDocPtr> retired_;  // replaced by loadXML, kept for node objects still pointing in
    std::unordered_set<xmlNodePtr> detached_;
    bool async_ = true;
    bool validate_on_parse_ = true;
};

// Shared node behaviour for the document and the node objects.
namespace node_ops {
HRESULT name(xmlNodePtr node, BSTR* out);
HRESULT type(xmlNodePtr node, DOMNodeType* out);
// The node object for `target`; nodes the DOM does not show (a document type) are stepped over in
// the given direction.
enum class Step { Forward, Backward };
HRESULT relative(Document* owner, xmlNodePtr target, IXMLDOMNode** out, Step step = Step::Forward);
HRESULT children(Document* owner, xmlNodePtr node, IXMLDOMNodeList** out);
HRESULT remove_child(Document* owner, xmlNodePtr node, IXMLDOMNode* child, IXMLDOMNode** out);
HRESULT append_child(Document* owner, xmlNodePtr node, IXMLDOMNode* child, IXMLDOMNode** out);
HRESULT text(xmlNodePtr node, BSTR* out);
HRESULT set_text(Document* owner, xmlNodePtr node, BSTR text);
HRESULT xml(Document* owner, xmlNodePtr node, BSTR* out);
}  // namespace node_ops

}  // namespace nuv::xml
