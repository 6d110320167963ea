// Dynamic tasks from XML:
//   <tasks><task name="T1" time="10" active="true"><set variable="FEED.F" value="2"/></task></tasks>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <objbase.h>

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "model.h"
#include "zeq_host.h"

namespace zeq {

namespace {

std::string prop(xmlNode* n, const char* name) {
    xmlChar* v = xmlGetProp(n, reinterpret_cast<const xmlChar*>(name));
    std::string s = v ? reinterpret_cast<const char*>(v) : "";
    xmlFree(v);
    return s;
}

bool is(xmlNode* n, const char* name) {
    return n->type == XML_ELEMENT_NODE && iequals(reinterpret_cast<const char*>(n->name), name);
}

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
    size_t len = std::strlen(xml);
    xmlDoc* doc = xmlReadMemory(xml, static_cast<int>(std::min<size_t>(len, INT32_MAX)), "tasks.xml", nullptr,
                                XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    if (!doc) {
        set_error(error, "Task description is not well-formed XML");
        return ZEQ_E_SYNTAX;
    }
    std::vector<Task> added;
    std::string problem;
    xmlNode* root = xmlDocGetRootElement(doc);
    if (!root || !is(root, "tasks")) problem = "Root element must be <tasks>";
    for (xmlNode* n = root && problem.empty() ? root->children : nullptr; n && problem.empty(); n = n->next) {
        if (n->type != XML_ELEMENT_NODE) continue;
        if (!is(n, "task")) {
            problem = std::string("Unexpected element <") + reinterpret_cast<const char*>(n->name) + ">";
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
        for (xmlNode* s = n->children; s && problem.empty(); s = s->next) {
            if (s->type != XML_ELEMENT_NODE) continue;
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
    xmlFreeDoc(doc);
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
