// Random sequences of DOM operations: create, append (including moves, cycles and cross-document
// attempts), remove, put_text, replace the document element, reload, serialise and walk, with node
// objects released in any order. Beyond memory safety (the sanitizers watch every node object after
// its node has moved, been detached or its document reloaded), whatever the document holds must save
// as well-formed XML that loads again.
#include <msxml2.h>
#include <nuv_text.h>
#include <objbase.h>
#include <oleauto.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

void require(bool condition) {
    if (!condition) __builtin_trap();
}

class Input {
public:
    Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    bool empty() const { return at_ >= size_; }
    uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }
    // Printable text only: control characters cannot be written as well-formed XML 1.0.
    std::string text() {
        std::string s;
        for (size_t n = byte() % 8; n > 0 && !empty(); --n) s.push_back(static_cast<char>(' ' + byte() % 95));
        return s;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

const char* const kNames[] = {"NUVGridInfo", "NUVGridVarInfo", "PhysicalType", "a", "b:c", "x-y"};

struct Pool {
    std::vector<IXMLDOMNode*> nodes;
    ~Pool() {
        for (IXMLDOMNode* n : nodes)
            if (n) n->Release();
    }
    IXMLDOMNode* pick(Input& in) { return nodes.empty() ? nullptr : nodes[in.byte() % nodes.size()]; }
    void add(IXMLDOMNode* n) {
        if (n) nodes.push_back(n);
    }
};

IXMLDOMDocument* new_document() {
    IXMLDOMDocument* doc = nullptr;
    require(CoCreateInstance(CLSID_DOMDocument, nullptr, CLSCTX_INPROC_SERVER, IID_IXMLDOMDocument,
                             reinterpret_cast<void**>(&doc)) == S_OK);
    return doc;
}

std::string saved_text(IXMLDOMDocument* doc) {
    IStream* stream = nullptr;
    require(CreateStreamOnHGlobal(nullptr, TRUE, &stream) == S_OK);
    VARIANT destination;
    VariantInit(&destination);
    destination.vt = VT_UNKNOWN;
    destination.punkVal = stream;
    require(doc->save(destination) == S_OK);
    LARGE_INTEGER start{};
    stream->Seek(start, STREAM_SEEK_SET, nullptr);
    std::string text;
    char buffer[512];
    ULONG n = 0;
    while (SUCCEEDED(stream->Read(buffer, sizeof buffer, &n)) && n) text.append(buffer, n);
    stream->Release();
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 2048) return 0;
    Input in(data, size);
    IXMLDOMDocument* doc = new_document();
    IXMLDOMDocument* other = new_document();
    {
        Pool pool;
        while (!in.empty()) {
            const uint8_t op = in.byte() % 13;
            if (op == 0 || op == 1) {
                IXMLDOMDocument* owner = (in.byte() & 7) == 0 ? other : doc;
                BSTR name = nuv::bstr_from_utf8(op == 0 ? kNames[in.byte() % 6] : in.text());
                if (op == 0) {
                    IXMLDOMElement* e = nullptr;
                    owner->createElement(name, &e);
                    pool.add(e);
                } else {
                    IXMLDOMText* t = nullptr;
                    owner->createTextNode(name, &t);
                    pool.add(t);
                }
                SysFreeString(name);
            } else if (op == 2 || op == 3) {
                IXMLDOMNode* parent = (in.byte() & 3) == 0 ? doc : pool.pick(in);
                IXMLDOMNode* child = pool.pick(in);
                if (!parent) continue;
                IXMLDOMNode* out = nullptr;
                if (op == 2)
                    parent->appendChild(child, &out);
                else
                    parent->removeChild(child, &out);
                if (out) out->Release();
            } else if (op == 4) {
                if (IXMLDOMNode* n = pool.pick(in)) {
                    BSTR text = nuv::bstr_from_utf8(in.text());
                    n->put_text(text);
                    SysFreeString(text);
                }
            } else if (op == 5) {
                IXMLDOMElement* e = nullptr;
                if (IXMLDOMNode* n = pool.pick(in)) n->QueryInterface(IID_IXMLDOMElement, reinterpret_cast<void**>(&e));
                doc->putref_documentElement(e);
                if (e) e->Release();
            } else if (op == 6) {
                BSTR xml = nullptr;
                IXMLDOMNode* n = pool.pick(in);
                (n ? n : doc)->get_xml(&xml);
                SysFreeString(xml);
            } else if (op == 7) {
                const std::string text = saved_text(doc);
                IXMLDOMElement* root = nullptr;
                if (doc->get_documentElement(&root) == S_OK) {
                    root->Release();
                    IXMLDOMDocument* reloaded = new_document();
                    BSTR b = nuv::bstr_from_utf8(text);
                    VARIANT_BOOL ok = VARIANT_FALSE;
                    require(reloaded->loadXML(b, &ok) == S_OK && ok == VARIANT_TRUE);
                    SysFreeString(b);
                    reloaded->Release();
                }
            } else if (op == 8) {
                BSTR b = nuv::bstr_from_utf8("<" + std::string(kNames[in.byte() % 4]) + ">" + in.text() + "</" +
                                             std::string(kNames[in.byte() % 4]) + ">");
                VARIANT_BOOL ok = VARIANT_FALSE;
                doc->loadXML(b, &ok);
                SysFreeString(b);
            } else if (op == 9) {
                IXMLDOMNode* n = pool.pick(in);
                if (!n) continue;
                IXMLDOMNode* next = nullptr;
                switch (in.byte() % 4) {
                    case 0: n->get_firstChild(&next); break;
                    case 1: n->get_nextSibling(&next); break;
                    case 2: n->get_parentNode(&next); break;
                    default: n->get_lastChild(&next); break;
                }
                pool.add(next);
            } else if (op == 10) {
                if (!pool.nodes.empty()) {
                    const size_t i = in.byte() % pool.nodes.size();
                    pool.nodes[i]->Release();
                    pool.nodes.erase(pool.nodes.begin() + static_cast<std::ptrdiff_t>(i));
                }
            } else if (op == 11) {
                IXMLDOMNodeList* list = nullptr;
                BSTR all = nuv::bstr_from_utf8("*");
                doc->getElementsByTagName(all, &list);
                SysFreeString(all);
                IXMLDOMNode* item = nullptr;
                while (list && list->nextNode(&item) == S_OK) {
                    BSTR name = nullptr;
                    item->get_nodeName(&name);
                    SysFreeString(name);
                    item->Release();
                }
                if (list) list->Release();
            } else {
                IXMLDOMElement* e = nullptr;
                if (IXMLDOMNode* n = pool.pick(in)) n->QueryInterface(IID_IXMLDOMElement, reinterpret_cast<void**>(&e));
                if (!e) continue;
                BSTR name = nuv::bstr_from_utf8(kNames[in.byte() % 6]);
                VARIANT value;
                VariantInit(&value);
                value.vt = VT_BSTR;
                value.bstrVal = nuv::bstr_from_utf8(in.text());
                e->setAttribute(name, value);
                VariantClear(&value);
                SysFreeString(name);
                e->Release();
            }
        }
        // Nodes may outlive the document references: the pool is released after these.
        doc->Release();
        other->Release();
    }
    return 0;
}
