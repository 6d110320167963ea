// The leaf of one global parameter: its value as text, whether it may change, its type in words,
// and writes of a new value given as text.
#include <zeq_objects.h>
#include <zeq_pipe.h>

#include <climits>
#include <string>

#include "nodes/engine_nodes.h"
#include "nodes/engine_values.h"

namespace FI {

namespace {

constexpr const char* kUnableToSet = "Unable to set value.";

// Fills value with the parameter's current value; false when the engine does not know it.
bool ReadGlobal(ZEQEOCntr* container, const FIValue& name, value_t* value) {
    if (container == nullptr || !name.IsText()) return false;
    EngineParameterTable* table = container->GetParameterTable();
    return table != nullptr && table->GetValue(name.GetString(), value);
}

const value_t* FirstItem(const value_t& v) {
    if (v.u.list == nullptr || gl_length(v.u.list) <= 0) return nullptr;
    return static_cast<const value_t*>(gl_get(v.u.list, gl_top(v.u.list)));
}

void SetInteger(int64_t i, FIValue& out) {
    if (i >= INT32_MIN && i <= INT32_MAX) {
        out.SetInt(static_cast<int32_t>(i));
    } else {
        out.SetDouble(static_cast<double>(i));
    }
}

void JoinList(gl_list* list, FIValue& out) {
    std::string text;
    if (list != nullptr) {
        bool first = true;
        for (int pos = gl_top(list); !gl_end(list, pos); pos = gl_next(list, pos)) {
            if (!first) text += ", ";
            first = false;
            AppendElementText(static_cast<const value_t*>(gl_get(list, pos)), text);
        }
    }
    out.SetString(text);
}

}  // namespace

EngineAnchor::Held<ZEQEOCntr> FIVORNEOCntrParameterNode::Container() const {
    EngineAnchor::Place place;
    if (!anchor_.Resolve(place)) return {};
    return EngineAnchor::Hold(place, place.container);
}

void FIVORNEOCntrParameterNode::GetTypeName(FIValue& out) {
    ScopedValue v;
    if (!ReadGlobal(Container().get(), paramName_, v.get())) {
        out.SetString("Global Parameter");
        return;
    }
    switch (v->kind) {
        case 0:
        case VALUE_NUMBER: out.SetString(v->is_int ? "Integer" : "Real"); break;
        case VALUE_STRING:
        case VALUE_ID: out.SetString("Text"); break;
        case VALUE_LOGICAL: out.SetString("EnumBoolean"); break;
        case VALUE_PIPE: out.SetString("VORN Pipe"); break;
        case VALUE_LIST:
        case VALUE_ENUM: {
            const bool isEnum = v->kind == VALUE_ENUM;
            const value_t* item = FirstItem(*v.get());
            // An empty list holds nothing to look at; its items would be stored as texts.
            const int kind = item != nullptr ? item->kind : VALUE_STRING;
            switch (kind) {
                case 0:
                case VALUE_NUMBER:
                    if (item != nullptr && item->is_int) {
                        out.SetString(isEnum ? "Integer Enumeration List" : "Integer List");
                    } else {
                        out.SetString(isEnum ? "Real Enumeration List" : "Real List");
                    }
                    break;
                case VALUE_STRING:
                case VALUE_ID: out.SetString(isEnum ? "Text Enumeration List" : "Text List"); break;
                case VALUE_LOGICAL: out.SetString(isEnum ? "Logical Enumeration List" : "EnumBoolean List"); break;
                default: break;
            }
            break;
        }
        default: out.SetString("Global Parameter"); break;
    }
}

bool FIVORNEOCntrParameterNode::IsAttributeValid(const char* name, uint32_t id) {
    if (id == attr::kValue || id == attr::kCanEnter) return true;
    if (id == attr::kOptionList) {
        ScopedValue v;
        return ReadGlobal(Container().get(), paramName_, v.get()) && v->kind == VALUE_LOGICAL;
    }
    return Entry::IsAttributeValid(name, id);
}

void FIVORNEOCntrParameterNode::GetAttribute(const char* name, uint32_t id, FIValue& out) {
    switch (id) {
        case attr::kValue: {
            ScopedValue v;
            const auto held = Container();
            ZEQEOCntr* container = held.get();
            if (container == nullptr) {
                // The simulation has gone: the node answers as a deleted entry.
                Entry::GetAttribute(name, id, out);
                return;
            }
            if (!ReadGlobal(container, paramName_, v.get())) {
                out.SetString("MISSING");
                return;
            }
            switch (v->kind) {
                case 0:
                case VALUE_NUMBER:
                    if (v->is_int) {
                        SetInteger(v->u.i, out);
                    } else {
                        out.SetDouble(v->u.d);
                    }
                    break;
                case VALUE_STRING:
                case VALUE_ID: out.SetString(v->u.s != nullptr ? v->u.s : ""); break;
                case VALUE_LOGICAL: out.SetString(v->u.logical ? "True" : "False"); break;
                case VALUE_PIPE: out.SetString(rtodesc(v->u.pipe)); break;
                case VALUE_LIST:
                case VALUE_ENUM: JoinList(v->u.list, out); break;
                default: out.SetString("MISSING"); break;
            }
            return;
        }
        case attr::kCanEnter:
            // The engine answers whether a parameter may change only for the process's current simulation:
            // a node whose simulation has gone answers nothing rather than another simulation's answer.
            if (!Container()) {
                Entry::GetAttribute(name, id, out);
                return;
            }
            out.SetInt(paramName_.IsText() && param_read_only(paramName_.GetString(), 0) == 0 ? 1 : 0);
            return;
        case attr::kOptionList: {
            ScopedValue v;
            if (ReadGlobal(Container().get(), paramName_, v.get()) && v->kind == VALUE_LOGICAL) out.SetString("True\nFalse");
            return;
        }
        default: Entry::GetAttribute(name, id, out); return;
    }
}

void FIVORNEOCntrParameterNode::SetAttribute(const char* name, uint32_t id, const FIValue& value, FIError& error) {
    if (id != attr::kValue) {
        Entry::SetAttribute(name, id, value, error);
        return;
    }
    if (value.IsEmpty() || (value.IsText() && value.Length() == 0)) {
        error.SetMessage(kUnableToSet);
        return;
    }
    ScopedValue current;
    if (!ReadGlobal(Container().get(), paramName_, current.get())) {
        error.SetMessage(kUnableToSet);
        return;
    }
    ScopedValue next;
    std::string text = value.ToStdString();
    switch (current->kind) {
        case 0:
        case VALUE_NUMBER:
            if (current->is_int) {
                int64_t i = 0;
                if (!ReadInteger(value, i)) {
                    error.SetMessage(kUnableToSet);
                    return;
                }
                value_assign_int(next.get(), i);
            } else {
                double d = 0;
                if (!ReadNumber(value, d)) {
                    error.SetMessage(kUnableToSet);
                    return;
                }
                value_assign_double(next.get(), d);
            }
            break;
        case VALUE_STRING: value_assign_string(next.get(), DupEngineText(text.c_str())); break;
        case VALUE_ID: value_assign_id(next.get(), DupEngineText(text.c_str())); break;
        case VALUE_LOGICAL: value_assign_logical(next.get(), value.ToBool(false) ? 1 : 0); break;
        case VALUE_LIST: {
            ScopedList items;
            const char* p = text.c_str();
            while (true) {
                while (*p == ' ' || *p == '\t') ++p;
                const char* comma = std::strchr(p, ',');
                const size_t n = comma != nullptr ? static_cast<size_t>(comma - p) : std::strlen(p);
                items.Add(NewIdentifierValue(std::string(p, n).c_str()));
                if (comma == nullptr) break;
                p = comma + 1;
            }
            value_assign_list(next.get(), items.release());
            break;
        }
        default: error.SetMessage(kUnableToSet); return;
    }
    const auto held = Container();
    ZEQEOCntr* container = held.get();
    EngineParameterTable* table = container != nullptr ? container->GetParameterTable() : nullptr;
    if (table == nullptr || param_set(paramName_.GetString(), next.get(), 0, table) < 0) {
        error.SetMessage(kUnableToSet);
    }
}

}  // namespace FI
