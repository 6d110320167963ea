// Dynamic tasks from XML:
//   <tasks><task name="T1" time="10" active="true"><set variable="FEED.F" value="2"/></task></tasks>
// The description is read with the platform's XML DOM, as every other XML of the system is.
#include <msxml2.h>
#include <oleauto.h>
#include <objbase.h>

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "model.h"
#include "nuv_text.h"
#include "zeq_host.h"

namespace zeq {

namespace {

// Owns one counted interface pointer.
template <class T>
class Ref {
public:
    Ref() = default;
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    ~Ref() { reset(); }
    void reset() {
        if (p_) p_->Release();
        p_ = nullptr;
    }
    T** receive() {
        reset();
        return &p_;
    }
    T* get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }

private:
    T* p_ = nullptr;
};

// Owns one BSTR.
class Text {
public:
    explicit Text(std::string_view utf8 = {}) : b_(nuv::bstr_from_utf8(utf8)) {}
    Text(const Text&) = delete;
    Text& operator=(const Text&) = delete;
    ~Text() { SysFreeString(b_); }
    BSTR get() const { return b_; }
    BSTR* receive() {
        SysFreeString(b_);
        b_ = nullptr;
        return &b_;
    }
    std::string utf8() const { return nuv::bstr_to_utf8(b_); }

private:
    BSTR b_ = nullptr;
};

std::string name_of(IXMLDOMNode* n) {
    Text name;
    return SUCCEEDED(n->get_nodeName(name.receive())) ? name.utf8() : std::string();
}

bool is_element(IXMLDOMNode* n) {
    DOMNodeType type = NODE_INVALID;
    return SUCCEEDED(n->get_nodeType(&type)) && type == NODE_ELEMENT;
}

std::string prop(IXMLDOMNode* n, const char* name) {
    Ref<IXMLDOMElement> element;
    if (FAILED(n->QueryInterface(IID_IXMLDOMElement, reinterpret_cast<void**>(element.receive())))) return {};
    Text attribute(name);
    VARIANT value;
    VariantInit(&value);
    std::string s;
    if (element->getAttribute(attribute.get(), &value) == S_OK && value.vt == VT_BSTR)
        s = nuv::bstr_to_utf8(value.bstrVal);
    VariantClear(&value);
    return s;
}

bool is(IXMLDOMNode* n, const char* name) { return is_element(n) && iequals(name_of(n), name); }

// The element children of a node, in document order.
std::vector<IXMLDOMNode*> elements(IXMLDOMNode* parent) {
    std::vector<IXMLDOMNode*> out;
    Ref<IXMLDOMNodeList> children;
    LONG count = 0;
    if (FAILED(parent->get_childNodes(children.receive())) || !children ||
        FAILED(children->get_length(&count)))
        return out;
    for (LONG i = 0; i < count; ++i) {
        IXMLDOMNode* child = nullptr;
        if (FAILED(children->get_item(i, &child)) || !child) continue;
        if (is_element(child)) out.push_back(child);
        else child->Release();
    }
    return out;
}

// Releases the nodes of an element list when the parse is done.
struct NodeList {
    std::vector<IXMLDOMNode*> nodes;
    ~NodeList() {
        for (IXMLDOMNode* n : nodes) n->Release();
    }
};

void set_error(char** error, const std::string& text) {
    if (!error) return;
    *error = static_cast<char*>(CoTaskMemAlloc(text.size() + 1));
    if (*error) std::memcpy(*error, text.c_str(), text.size() + 1);
}

bool parse_number(const std::string& s, double& d) {
    char* end = nullptr;
    d = std::strtod(s.c_str(), &end);
    return !s.empty() && end && *end == 0 && std::isfinite(d);
}

}  // namespace

HRESULT DynamicSolver::AddTasks(const char* xml, char** error) {
    zeq::EngineCall call;
    if (error) *error = nullptr;
    sim_->Journal("AddTasks");
    if (int r = sim_->TakeInjectedResult()) return r;
    if (!xml) {
        set_error(error, "No task description");
        return E_INVALIDARG;
    }
    Ref<IXMLDOMDocument> doc;
    HRESULT hr = CoCreateInstance(CLSID_DOMDocument60, nullptr, CLSCTX_INPROC_SERVER, IID_IXMLDOMDocument,
                                  reinterpret_cast<void**>(doc.receive()));
    if (FAILED(hr) || !doc) {
        set_error(error, "No XML parser is available");
        return FAILED(hr) ? hr : E_UNEXPECTED;
    }
    doc->put_async(VARIANT_FALSE);
    doc->put_validateOnParse(VARIANT_FALSE);
    Text source(xml);
    VARIANT_BOOL loaded = VARIANT_FALSE;
    if (!source.get() || doc->loadXML(source.get(), &loaded) != S_OK || loaded != VARIANT_TRUE) {
        set_error(error, "Task description is not well-formed XML");
        return ZEQ_E_SYNTAX;
    }
    std::vector<Task> added;
    std::string problem;
    Ref<IXMLDOMElement> root;
    if (FAILED(doc->get_documentElement(root.receive())) || !root || !is(root.get(), "tasks"))
        problem = "Root element must be <tasks>";
    NodeList tasks;
    if (problem.empty()) tasks.nodes = elements(root.get());
    for (IXMLDOMNode* n : tasks.nodes) {
        if (!problem.empty()) break;
        if (!is(n, "task")) {
            problem = "Unexpected element <" + name_of(n) + ">";
            break;
        }
        Task t;
        t.name = prop(n, "name");
        std::string time = prop(n, "time"), active = prop(n, "active");
        if (t.name.empty()) problem = "A task has no name";
        else if (!time.empty() && !parse_number(time, t.time)) problem = "Task " + t.name + ": bad time " + time;
        t.active = active.empty() || iequals(active, "true") || active == "1";
        for (const Task& other : tasks_)
            if (iequals(other.name, t.name)) problem = "Task " + t.name + " already exists";
        for (const Task& other : added)
            if (iequals(other.name, t.name)) problem = "Task " + t.name + " is defined twice";
        NodeList sets;
        if (problem.empty()) sets.nodes = elements(n);
        for (IXMLDOMNode* s : sets.nodes) {
            if (!problem.empty()) break;
            if (!is(s, "set")) {
                problem = "Task " + t.name + ": unexpected element";
                break;
            }
            std::string var = prop(s, "variable"), value = prop(s, "value");
            double d;
            int pos = sim_->FindVar(var);
            if (pos < 0) problem = "Task " + t.name + ": unknown variable " + var;
            else if (!parse_number(value, d) || !std::isfinite(sim_->ValueToBase(pos, d)))
                problem = "Task " + t.name + ": bad value " + value;
            else t.sets.emplace_back(var, d);
        }
        if (problem.empty()) added.push_back(std::move(t));
    }
    if (!problem.empty()) {
        set_error(error, problem);
        return ZEQ_E_SYNTAX;
    }
    for (Task& t : added) tasks_.push_back(std::move(t));
    return 0;
}

HRESULT DynamicSolver::ActivateTask(const char* name, int active) {
    zeq::EngineCall call;
    sim_->Journal(std::string("ActivateTask ") + (name ? name : "(null)"));
    if (int r = sim_->TakeInjectedResult()) return r;
    if (!name) return E_INVALIDARG;
    for (Task& t : tasks_)
        if (iequals(t.name, name)) {
            t.active = active != 0;
            return 0;
        }
    return ZEQ_E_NOT_FOUND;
}

HRESULT DynamicSolver::RemoveTask(const char* name) {
    zeq::EngineCall call;
    sim_->Journal(std::string("RemoveTask ") + (name ? name : "(null)"));
    if (int r = sim_->TakeInjectedResult()) return r;
    if (!name) return E_INVALIDARG;
    for (size_t i = 0; i < tasks_.size(); ++i)
        if (iequals(tasks_[i].name, name)) {
            tasks_.erase(tasks_.begin() + static_cast<long>(i));
            return 0;
        }
    return ZEQ_E_NOT_FOUND;
}

}  // namespace zeq
