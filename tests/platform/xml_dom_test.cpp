#include <gtest/gtest.h>
#include <msxml2.h>
#include <nuv_text.h>
#include <windows.h>

#include <string>

namespace {

// Holds one reference for the length of a test.
template <class T>
class Ref {
public:
    Ref() = default;
    ~Ref() {
        if (p_) p_->Release();
    }
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    Ref(Ref&& other) noexcept : p_(other.p_) { other.p_ = nullptr; }
    T* get() const { return p_; }
    T* operator->() const { return p_; }
    T** receive() {
        if (p_) p_->Release();
        p_ = nullptr;
        return &p_;
    }
    void** receive_void() { return reinterpret_cast<void**>(receive()); }

private:
    T* p_ = nullptr;
};

class Bstr {
public:
    explicit Bstr(const char* utf8) : b_(nuv::bstr_from_utf8(utf8)) {}
    ~Bstr() { SysFreeString(b_); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    operator BSTR() const { return b_; }

private:
    BSTR b_;
};

std::string take(BSTR b) {
    std::string s = nuv::bstr_to_utf8(b);
    SysFreeString(b);
    return s;
}

VARIANT int_value(LONG v) {
    VARIANT x;
    VariantInit(&x);
    x.vt = VT_I4;
    x.lVal = v;
    return x;
}

class XmlDom : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(CoCreateInstance(CLSID_DOMDocument, nullptr, CLSCTX_INPROC_SERVER, IID_IXMLDOMDocument,
                                   doc.receive_void()),
                  S_OK);
    }

    Ref<IXMLDOMElement> element(const char* name) {
        Ref<IXMLDOMElement> e;
        EXPECT_EQ(doc->createElement(Bstr(name), e.receive()), S_OK);
        return e;
    }

    std::string saved(IXMLDOMDocument* d) {
        Ref<IStream> stream;
        EXPECT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, stream.receive()), S_OK);
        VARIANT destination;
        VariantInit(&destination);
        destination.vt = VT_UNKNOWN;
        destination.punkVal = stream.get();
        EXPECT_EQ(d->save(destination), S_OK);
        LARGE_INTEGER start{};
        stream->Seek(start, STREAM_SEEK_SET, nullptr);
        std::string text;
        char buffer[256];
        ULONG n = 0;
        while (SUCCEEDED(stream->Read(buffer, sizeof buffer, &n)) && n) text.append(buffer, n);
        return text;
    }

    Ref<IXMLDOMDocument> doc;
};

}  // namespace

// The shared conformance table covers the save calls themselves; here, what only this DOM promises
// about the saved text: attribute order, escaping, document order of children.
TEST_F(XmlDom, SavedTextKeepsOrderAndEscapes) {
    auto root = element("NUVGridInfo");
    for (const char* name : {"ColHeaderHeight", "RowHeight", "FrozenCols"})
        EXPECT_EQ(root->setAttribute(Bstr(name), int_value(-8)), S_OK);
    VARIANT text;
    VariantInit(&text);
    text.vt = VT_BSTR;
    text.bstrVal = SysAllocString(OLESTR("a<b & \"c\""));
    EXPECT_EQ(root->setAttribute(Bstr("HelpFile"), text), S_OK);
    EXPECT_EQ(text.vt, VT_BSTR);  // the caller's VARIANT is left alone
    VariantClear(&text);
    for (int i = 0; i < 3; ++i) {
        auto column = element("NUVGridVarInfo");
        EXPECT_EQ(column->setAttribute(Bstr("ModMask"), int_value(i)), S_OK);
        EXPECT_EQ(root->appendChild(column.get(), nullptr), S_OK);
    }
    EXPECT_EQ(doc->putref_documentElement(root.get()), S_OK);

    const std::string xml = saved(doc.get());
    EXPECT_NE(xml.find("<NUVGridInfo ColHeaderHeight=\"-8\" RowHeight=\"-8\" FrozenCols=\"-8\" HelpFile="),
              std::string::npos)
        << xml;

    Ref<IXMLDOMDocument> copy;
    ASSERT_EQ(CoCreateInstance(CLSID_DOMDocument60, nullptr, CLSCTX_INPROC_SERVER, IID_IXMLDOMDocument,
                               copy.receive_void()),
              S_OK);
    VARIANT_BOOL ok = VARIANT_FALSE;
    ASSERT_EQ(copy->loadXML(Bstr(xml.c_str()), &ok), S_OK);
    Ref<IXMLDOMElement> loaded;
    ASSERT_EQ(copy->get_documentElement(loaded.receive()), S_OK);
    VARIANT help;
    EXPECT_EQ(loaded->getAttribute(Bstr("HelpFile"), &help), S_OK);
    EXPECT_EQ(take(help.bstrVal), "a<b & \"c\"");
    Ref<IXMLDOMNodeList> columns;
    ASSERT_EQ(copy->getElementsByTagName(Bstr("NUVGridVarInfo"), columns.receive()), S_OK);
    for (LONG i = 0; i < 3; ++i) {
        Ref<IXMLDOMNode> node;
        ASSERT_EQ(columns->nextNode(node.receive()), S_OK);
        Ref<IXMLDOMElement> column;
        ASSERT_EQ(node->QueryInterface(IID_IXMLDOMElement, column.receive_void()), S_OK);
        VARIANT mask;
        column->getAttribute(Bstr("ModMask"), &mask);
        EXPECT_EQ(take(mask.bstrVal), std::to_string(i));
    }
    Ref<IXMLDOMNode> past_end;
    EXPECT_EQ(columns->nextNode(past_end.receive()), S_FALSE);
}

TEST_F(XmlDom, TextNodesAndPutTextKeepNodeObjectsValid) {
    auto root = element("Root");
    Ref<IXMLDOMText> first, second;
    ASSERT_EQ(doc->createTextNode(Bstr("one "), first.receive()), S_OK);
    ASSERT_EQ(doc->createTextNode(Bstr("two"), second.receive()), S_OK);
    EXPECT_EQ(root->appendChild(first.get(), nullptr), S_OK);
    EXPECT_EQ(root->appendChild(second.get(), nullptr), S_OK);
    BSTR text = nullptr;
    root->get_text(&text);
    EXPECT_EQ(take(text), "one two");
    // Both text objects still work after being placed side by side, and after put_text replaces them.
    second->get_text(&text);
    EXPECT_EQ(take(text), "two");
    EXPECT_EQ(root->put_text(Bstr("replaced")), S_OK);
    first->get_text(&text);
    EXPECT_EQ(take(text), "one ");
    Ref<IXMLDOMNode> parent;
    EXPECT_EQ(first->get_parentNode(parent.receive()), S_FALSE);
    root->get_xml(&text);
    EXPECT_EQ(take(text), "<Root>replaced</Root>");
}

TEST_F(XmlDom, RefusesMovesThatBreakTheTree) {
    auto a = element("A");
    auto b = element("B");
    EXPECT_EQ(a->appendChild(b.get(), nullptr), S_OK);
    EXPECT_EQ(b->appendChild(a.get(), nullptr), E_FAIL);  // cycle
    EXPECT_EQ(a->appendChild(a.get(), nullptr), E_FAIL);
    Ref<IXMLDOMElement> bad;
    EXPECT_EQ(doc->createElement(Bstr("1bad"), bad.receive()), E_FAIL);
    EXPECT_EQ(doc->createElement(Bstr(""), bad.receive()), E_FAIL);
    EXPECT_EQ(a->setAttribute(Bstr("has space"), int_value(1)), E_FAIL);

    EXPECT_EQ(doc->appendChild(a.get(), nullptr), S_OK);
    auto c = element("C");
    EXPECT_EQ(doc->appendChild(c.get(), nullptr), E_FAIL);  // one document element
    Ref<IXMLDOMText> loose;
    doc->createTextNode(Bstr("x"), loose.receive());
    EXPECT_EQ(doc->appendChild(loose.get(), nullptr), E_FAIL);

    Ref<IXMLDOMDocument> other;
    ASSERT_EQ(CoCreateInstance(CLSID_DOMDocument, nullptr, CLSCTX_INPROC_SERVER, IID_IXMLDOMDocument,
                               other.receive_void()),
              S_OK);
    Ref<IXMLDOMElement> foreign;
    other->createElement(Bstr("F"), foreign.receive());
    EXPECT_EQ(a->appendChild(foreign.get(), nullptr), E_INVALIDARG);
    EXPECT_EQ(a->appendChild(nullptr, nullptr), E_INVALIDARG);

    // Removing leaves the removed object usable; re-appending moves it back.
    Ref<IXMLDOMNode> removed;
    EXPECT_EQ(a->removeChild(b.get(), removed.receive()), S_OK);
    EXPECT_EQ(a->removeChild(b.get(), nullptr), E_INVALIDARG);
    BSTR xml = nullptr;
    b->get_xml(&xml);
    EXPECT_EQ(take(xml), "<B/>");
    EXPECT_EQ(c->appendChild(b.get(), nullptr), S_OK);
    EXPECT_EQ(doc->putref_documentElement(c.get()), S_OK);
    doc->get_xml(&xml);
    EXPECT_EQ(take(xml), "<C><B/></C>\r\n");
}

TEST_F(XmlDom, LoadFailuresAndBadDestinationsAreReported) {
    auto root = element("Kept");
    doc->putref_documentElement(root.get());
    VARIANT_BOOL ok = VARIANT_TRUE;
    EXPECT_EQ(doc->loadXML(Bstr("<open><unclosed></open>"), &ok), S_FALSE);
    EXPECT_EQ(ok, VARIANT_FALSE);
    Ref<IXMLDOMElement> none;
    EXPECT_EQ(doc->get_documentElement(none.receive()), S_FALSE);
    // The element object from before the load still answers.
    BSTR name = nullptr;
    EXPECT_EQ(root->get_nodeName(&name), S_OK);
    EXPECT_EQ(take(name), "Kept");
    // It cannot take children of the new tree, nor give its own to it: each tree frees its own nodes.
    ASSERT_EQ(doc->loadXML(Bstr("<New/>"), &ok), S_OK);
    auto fresh = element("Fresh");
    EXPECT_EQ(root->appendChild(fresh.get(), nullptr), E_INVALIDARG);
    EXPECT_EQ(doc->appendChild(root.get(), nullptr), E_INVALIDARG);
    EXPECT_EQ(root->put_text(Bstr("still mine")), S_OK);
    Ref<IXMLDOMNode> old_parent;
    EXPECT_EQ(root->get_parentNode(old_parent.receive()), S_FALSE);
    EXPECT_EQ(doc->save(int_value(3)), E_INVALIDARG);
    // Entities are not expanded from outside and the document is not fetched from anywhere.
    EXPECT_EQ(doc->loadXML(Bstr("<!DOCTYPE r [<!ENTITY e SYSTEM \"file:///etc/passwd\">]><r>&e;</r>"), &ok), S_OK);
    BSTR text = nullptr;
    doc->get_text(&text);
    EXPECT_EQ(take(text).find("root:"), std::string::npos);
}

TEST_F(XmlDom, NodesOutliveTheirDocumentReference) {
    auto root = element("Root");
    doc->putref_documentElement(root.get());
    Ref<IXMLDOMDocument> owner;
    ASSERT_EQ(root->get_ownerDocument(owner.receive()), S_OK);
    EXPECT_EQ(owner.get(), doc.get());
    doc.receive();  // the test's own reference goes; the element and `owner` keep the document
    Ref<IXMLDOMNode> parent;
    EXPECT_EQ(root->get_parentNode(parent.receive()), S_OK);
    DOMNodeType type = NODE_INVALID;
    parent->get_nodeType(&type);
    EXPECT_EQ(type, NODE_DOCUMENT);
}

TEST_F(XmlDom, SiblingWalksStepOverTheDocumentType) {
    VARIANT_BOOL ok = VARIANT_FALSE;
    ASSERT_EQ(doc->loadXML(Bstr("<!DOCTYPE r><!--c--><r/>"), &ok), S_OK);
    Ref<IXMLDOMElement> root;
    ASSERT_EQ(doc->get_documentElement(root.receive()), S_OK);
    Ref<IXMLDOMNode> before;
    ASSERT_EQ(root->get_previousSibling(before.receive()), S_OK);
    DOMNodeType type = NODE_INVALID;
    before->get_nodeType(&type);
    EXPECT_EQ(type, NODE_COMMENT);
    Ref<IXMLDOMNode> first;
    EXPECT_EQ(before->get_previousSibling(first.receive()), S_FALSE);
    ASSERT_EQ(doc->get_firstChild(first.receive()), S_OK);
    EXPECT_EQ(first->get_nodeType(&type), S_OK);
    EXPECT_EQ(type, NODE_COMMENT);
    Ref<IXMLDOMNode> last;
    ASSERT_EQ(doc->get_lastChild(last.receive()), S_OK);
    EXPECT_EQ(last->get_nodeType(&type), S_OK);
    EXPECT_EQ(type, NODE_ELEMENT);
}
