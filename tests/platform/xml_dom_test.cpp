// What only this DOM promises beyond the shared conformance table (conformance/dom_test.cpp): node objects
// that stay valid across moves, replacements and reloads, and trees that refuse to be broken.
#include <gtest/gtest.h>
#include <msxml2.h>
#include <windows.h>

#include <fstream>
#include <string>

#include "file_size_limit.h"
#include "temp_dir.h"

#include "atl/nuvatlbase.h"

namespace {

std::string take(BSTR b) {
    CComBSTR owned;
    owned.Attach(b);
    return owned.ToUtf8();
}

DOMNodeType type_of(IXMLDOMNode* node) {
    DOMNodeType type = NODE_INVALID;
    EXPECT_EQ(node->get_nodeType(&type), S_OK);
    return type;
}

class XmlDom : public ::testing::Test {
protected:
    void SetUp() override { doc = document(); }

    static CComPtr<IXMLDOMDocument> document(const CLSID& clsid = CLSID_DOMDocument) {
        CComPtr<IXMLDOMDocument> d;
        EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IXMLDOMDocument,
                                   reinterpret_cast<void**>(&d)),
                  S_OK);
        return d;
    }
    CComPtr<IXMLDOMElement> element(const char* name) {
        CComPtr<IXMLDOMElement> e;
        EXPECT_EQ(doc->createElement(CComBSTR(name), &e), S_OK);
        return e;
    }
    std::string xml(IXMLDOMNode* node) {
        BSTR text = nullptr;
        EXPECT_EQ(node->get_xml(&text), S_OK);
        return take(text);
    }

    CComPtr<IXMLDOMDocument> doc;
};

}  // namespace

TEST_F(XmlDom, TextNodesAndPutTextKeepNodeObjectsValid) {
    CComPtr<IXMLDOMElement> root = element("Root");
    CComPtr<IXMLDOMText> first, second;
    ASSERT_EQ(doc->createTextNode(CComBSTR("one "), &first), S_OK);
    ASSERT_EQ(doc->createTextNode(CComBSTR("two"), &second), S_OK);
    EXPECT_EQ(root->appendChild(first, nullptr), S_OK);
    EXPECT_EQ(root->appendChild(second, nullptr), S_OK);
    BSTR text = nullptr;
    root->get_text(&text);
    EXPECT_EQ(take(text), "one two");
    // Both text objects still work after being placed side by side, and after put_text replaces them.
    second->get_text(&text);
    EXPECT_EQ(take(text), "two");
    EXPECT_EQ(root->put_text(CComBSTR("replaced")), S_OK);
    first->get_text(&text);
    EXPECT_EQ(take(text), "one ");
    CComPtr<IXMLDOMNode> parent;
    EXPECT_EQ(first->get_parentNode(&parent), S_FALSE);
    EXPECT_EQ(xml(root), "<Root>replaced</Root>");
}

TEST_F(XmlDom, RefusesMovesThatBreakTheTree) {
    CComPtr<IXMLDOMElement> a = element("A"), b = element("B");
    EXPECT_EQ(a->appendChild(b, nullptr), S_OK);
    EXPECT_EQ(b->appendChild(a, nullptr), E_FAIL);  // cycle
    EXPECT_EQ(a->appendChild(a, nullptr), E_FAIL);
    for (const char* bad : {"1bad", ""}) {
        CComPtr<IXMLDOMElement> refused;
        EXPECT_EQ(doc->createElement(CComBSTR(bad), &refused), E_FAIL) << bad;
    }
    EXPECT_EQ(a->setAttribute(CComBSTR("has space"), CComVariant(LONG{1})), E_FAIL);

    EXPECT_EQ(doc->appendChild(a, nullptr), S_OK);
    CComPtr<IXMLDOMElement> c = element("C");
    EXPECT_EQ(doc->appendChild(c, nullptr), E_FAIL);  // one document element
    CComPtr<IXMLDOMText> loose;
    doc->createTextNode(CComBSTR("x"), &loose);
    EXPECT_EQ(doc->appendChild(loose, nullptr), E_FAIL);

    CComPtr<IXMLDOMElement> foreign;  // from a document of the 6.0 class
    document(CLSID_DOMDocument60)->createElement(CComBSTR("F"), &foreign);
    EXPECT_EQ(a->appendChild(foreign, nullptr), E_INVALIDARG);
    EXPECT_EQ(a->appendChild(nullptr, nullptr), E_INVALIDARG);

    // Removing leaves the removed object usable; re-appending moves it back.
    CComPtr<IXMLDOMNode> removed;
    EXPECT_EQ(a->removeChild(b, &removed), S_OK);
    EXPECT_EQ(a->removeChild(b, nullptr), E_INVALIDARG);
    EXPECT_EQ(xml(b), "<B/>");
    EXPECT_EQ(c->appendChild(b, nullptr), S_OK);
    EXPECT_EQ(doc->putref_documentElement(c), S_OK);
    EXPECT_EQ(xml(doc), "<C><B/></C>\r\n");
}

TEST_F(XmlDom, LoadFailuresAndBadDestinationsAreReported) {
    CComPtr<IXMLDOMElement> root = element("Kept");
    doc->putref_documentElement(root);
    VARIANT_BOOL ok = VARIANT_TRUE;
    EXPECT_EQ(doc->loadXML(CComBSTR("<open><unclosed></open>"), &ok), S_FALSE);
    EXPECT_EQ(ok, VARIANT_FALSE);
    CComPtr<IXMLDOMElement> none;
    EXPECT_EQ(doc->get_documentElement(&none), S_FALSE);
    // The element object from before the load still answers.
    BSTR name = nullptr;
    EXPECT_EQ(root->get_nodeName(&name), S_OK);
    EXPECT_EQ(take(name), "Kept");
    // It cannot take children of the new tree, nor give its own to it: each tree frees its own nodes.
    ASSERT_EQ(doc->loadXML(CComBSTR("<New/>"), &ok), S_OK);
    EXPECT_EQ(root->appendChild(element("Fresh"), nullptr), E_INVALIDARG);
    EXPECT_EQ(doc->appendChild(root, nullptr), E_INVALIDARG);
    EXPECT_EQ(root->put_text(CComBSTR("still mine")), S_OK);
    CComPtr<IXMLDOMNode> old_parent;
    EXPECT_EQ(root->get_parentNode(&old_parent), S_FALSE);
    EXPECT_EQ(doc->save(CComVariant(LONG{3})), E_INVALIDARG);
    // Entities are not expanded from outside and the document is not fetched from anywhere.
    EXPECT_EQ(doc->loadXML(CComBSTR("<!DOCTYPE r [<!ENTITY e SYSTEM \"file:///etc/passwd\">]><r>&e;</r>"), &ok),
              S_OK);
    BSTR text = nullptr;
    doc->get_text(&text);
    EXPECT_EQ(take(text).find("root:"), std::string::npos);
}

// A save to a file replaces it whole or not at all: a write cut short (the disk takes 1 KB) fails as
// before and leaves the older file byte for byte; a folder in the file's place refuses the save.
TEST_F(XmlDom, AFailedSaveKeepsTheFileItWasSavingOver) {
    nuv::test::TempDir dir("nuv-dom-save");
    const std::string path = dir.File("doc.xml");
    const std::string old = "<older/>\n" + std::string(3000, ' ');
    std::ofstream(path, std::ios::binary) << old;
    std::string big = "<Root>";
    for (int i = 0; i < 200; ++i) big += "<Item n=\"" + std::to_string(i) + "\">text</Item>";
    VARIANT_BOOL loaded = VARIANT_FALSE;
    ASSERT_EQ(doc->loadXML(CComBSTR((big + "</Root>").c_str()), &loaded), S_OK);
    {
        nuv::test::FileSizeLimit limit(1024);
        EXPECT_EQ(doc->save(CComVariant(path.c_str())), E_FAIL);
    }
    EXPECT_EQ(nuv::test::FileBytes(path), old);
    EXPECT_EQ(doc->save(CComVariant(dir.Path().c_str())), E_ACCESSDENIED);
    EXPECT_EQ(doc->save(CComVariant(dir.File("missing/doc.xml").c_str())), E_ACCESSDENIED);
    EXPECT_EQ(nuv::test::FolderEntries(dir.Path()), (std::set<std::string>{"doc.xml"}));
    ASSERT_EQ(doc->save(CComVariant(path.c_str())), S_OK);
    EXPECT_NE(nuv::test::FileBytes(path).find("<Item n=\"199\">"), std::string::npos);
}

TEST_F(XmlDom, NodesOutliveTheirDocumentReference) {
    CComPtr<IXMLDOMElement> root = element("Root");
    doc->putref_documentElement(root);
    CComPtr<IXMLDOMDocument> owner;
    ASSERT_EQ(root->get_ownerDocument(&owner), S_OK);
    EXPECT_EQ(owner.p, doc.p);
    doc.Release();  // the test's own reference goes; the element and `owner` keep the document
    CComPtr<IXMLDOMNode> parent;
    ASSERT_EQ(root->get_parentNode(&parent), S_OK);
    EXPECT_EQ(type_of(parent), NODE_DOCUMENT);
}

TEST_F(XmlDom, SiblingWalksStepOverTheDocumentType) {
    VARIANT_BOOL ok = VARIANT_FALSE;
    ASSERT_EQ(doc->loadXML(CComBSTR("<!DOCTYPE r><!--c--><r/>"), &ok), S_OK);
    CComPtr<IXMLDOMElement> root;
    ASSERT_EQ(doc->get_documentElement(&root), S_OK);
    CComPtr<IXMLDOMNode> before, first, last;
    ASSERT_EQ(root->get_previousSibling(&before), S_OK);
    EXPECT_EQ(type_of(before), NODE_COMMENT);
    EXPECT_EQ(before->get_previousSibling(&first), S_FALSE);
    ASSERT_EQ(doc->get_firstChild(&first), S_OK);
    EXPECT_EQ(type_of(first), NODE_COMMENT);
    ASSERT_EQ(doc->get_lastChild(&last), S_OK);
    EXPECT_EQ(type_of(last), NODE_ELEMENT);
}
