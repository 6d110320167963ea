// Block parameter records: typed values, bounds, units and VARIANT conversions.
#include <nuv_text.h>
#include <oleauto.h>

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "model.h"
#include "zeq_host.h"

namespace {

const struct {
    const char* name;
    int id;
    int type;
} kParamAttrs[] = {{"NAME", PA_NAME, ZEQ_TYPE_TEXT},        {"VALUE", PA_VALUE, ZEQ_TYPE_VARIANT},
                   {"UOM", PA_UOM, ZEQ_TYPE_TEXT},          {"ACCESS", PA_ACCESS, ZEQ_TYPE_INT},
                   {"DESCRIPTION", PA_DESCRIPTION, ZEQ_TYPE_TEXT}, {"LOWER", PA_LOWER, ZEQ_TYPE_VARIANT},
                   {"UPPER", PA_UPPER, ZEQ_TYPE_VARIANT},   {"TYPE", PA_TYPE, ZEQ_TYPE_INT},
                   {"PHYSICAL_TYPE", PA_PHYSICAL_TYPE, ZEQ_TYPE_TEXT}, {"NUMBER", PA_NUMBER, ZEQ_TYPE_INT}};

int type_of(const value_t& v) {
    switch (v.kind) {
        case VALUE_NUMBER:
        case VALUE_BOUNDEDNUM: return v.is_int ? PT_INTEGER : PT_REAL;
        case VALUE_LOGICAL: return PT_BOOLEAN;
        case VALUE_ENUM: return PT_CHOICE;
        default: return PT_TEXT;
    }
}

double as_double(const value_t& v) { return v.is_int ? static_cast<double>(v.u.i) : v.u.d; }

// A VARIANT's content as a double / text; false when it has neither form. A reference is read only
// after its pointer is tested: one to nothing has no content.
const VARIANT* deref(const VARIANT& v) {
    const VARIANT* p = &v;
    for (int depth = 0; p && p->vt == (VT_BYREF | VT_VARIANT) && depth < 8; ++depth) p = p->pvarVal;
    if (p && (p->vt & VT_BYREF) && !p->byref) return nullptr;
    return p;
}

// A text the engine keeps whole: one holding a NUL would be cut at it.
bool engine_text(BSTR text, std::string& out) {
    out = nuv::bstr_to_utf8(text);
    return out.find('\0') == std::string::npos;
}

bool variant_number(const VARIANT& in, double& out) {
    const VARIANT* v = deref(in);
    if (!v) return false;
    const bool byref = (v->vt & VT_BYREF) != 0;  // deref answers no reference to nothing
    switch (v->vt & ~VT_BYREF) {
        case VT_R8: out = byref ? *v->pdblVal : v->dblVal; return true;
        case VT_R4: out = byref ? *v->pfltVal : v->fltVal; return true;
        case VT_I4: out = byref ? *v->plVal : v->lVal; return true;
        case VT_I2: out = byref ? *v->piVal : v->iVal; return true;
        case VT_I8: out = static_cast<double>(byref ? *v->pllVal : v->llVal); return true;
        case VT_BOOL: out = (byref ? *v->pboolVal : v->boolVal) ? 1 : 0; return true;
        case VT_BSTR: {
            std::string s;
            if (!engine_text(byref ? *v->pbstrVal : v->bstrVal, s)) return false;
            char* end = nullptr;
            out = std::strtod(s.c_str(), &end);
            return !s.empty() && end && *end == 0;
        }
        default: return false;
    }
}

bool variant_text(const VARIANT& in, std::string& out) {
    const VARIANT* v = deref(in);
    if (!v) return false;
    if ((v->vt & ~VT_BYREF) == VT_BSTR) return engine_text((v->vt & VT_BYREF) ? *v->pbstrVal : v->bstrVal, out);
    double d;
    if (!variant_number(in, d)) return false;
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.15g", d);
    out = buf;
    return true;
}

// Converts a VARIANT into a value of the same kind as current; false when it does not fit.
bool from_variant(const value_t& current, const VARIANT& in, value_t* out) {
    switch (current.kind) {
        case VALUE_NUMBER:
        case VALUE_BOUNDEDNUM: {
            double d;
            if (!variant_number(in, d) || !std::isfinite(d)) return false;
            value_copy(out, &current);
            if (current.is_int) {
                if (d != std::floor(d) || std::fabs(d) > 9.0e15) return false;
                if (current.kind == VALUE_NUMBER) {
                    value_assign_int(out, static_cast<int64_t>(d));
                    return true;
                }
                return boundednumSetValAsInt(out, static_cast<int64_t>(d)) == 0;
            }
            if (current.kind == VALUE_NUMBER) {
                value_assign_double(out, d);
                return true;
            }
            return boundednumSetValAsReal(out, d) == 0;
        }
        case VALUE_LOGICAL: {
            std::string s;
            double d;
            if (variant_number(in, d)) {
                value_assign_logical(out, d != 0);
                return true;
            }
            if (variant_text(in, s) && (zeq::iequals(s, "true") || zeq::iequals(s, "false"))) {
                value_assign_logical(out, zeq::iequals(s, "true"));
                return true;
            }
            return false;
        }
        case VALUE_ENUM: {
            std::string s;
            if (!variant_text(in, s)) return false;
            value_copy(out, &current);
            return value_enum_setvalue_asString(out, strdup(s.c_str())) == 0;
        }
        case VALUE_STRING:
        case VALUE_ID:
        case VALUE_MISSING: {
            std::string s;
            if (!variant_text(in, s)) return false;
            if (current.kind == VALUE_ID)
                value_assign_id(out, strdup(s.c_str()));
            else
                value_assign_string(out, strdup(s.c_str()));
            return true;
        }
        default: return false;
    }
}

bool to_variant(const value_t& v, VARIANT* out) {
    switch (v.kind) {
        case VALUE_NUMBER:
        case VALUE_BOUNDEDNUM:
            if (v.is_int && v.u.i >= INT32_MIN && v.u.i <= INT32_MAX) {
                out->vt = VT_I4;
                out->lVal = static_cast<LONG>(v.u.i);
            } else {
                out->vt = VT_R8;
                out->dblVal = as_double(v);
            }
            return true;
        case VALUE_LOGICAL:
            out->vt = VT_BOOL;
            out->boolVal = v.u.logical ? VARIANT_TRUE : VARIANT_FALSE;
            return true;
        case VALUE_MISSING: out->vt = VT_EMPTY; return true;
        default: {
            char buf[4096];
            value_to_text(&v, buf, sizeof buf);
            BSTR b = nuv::bstr_from_utf8(buf);
            if (!b) return false;
            out->vt = VT_BSTR;
            out->bstrVal = b;
            return true;
        }
    }
}

// Whether a value is or holds a not-a-number, which no model file keeps (a save could not give it back).
bool holds_not_a_number(const value_t& v) {
    switch (v.kind) {
        case VALUE_NUMBER:
        case VALUE_BOUNDEDNUM: return !v.is_int && std::isnan(v.u.d);
        case VALUE_LIST:
        case VALUE_ENUM:
            for (int p = 1; p <= gl_length(v.u.list); ++p)
                if (holds_not_a_number(*static_cast<const value_t*>(gl_get(v.u.list, p)))) return true;
            return false;
        default: return false;
    }
}

zeq::Block* as_block(ZEQEOBlock* b) { return static_cast<zeq::Block*>(b); }

}  // namespace

ZEQParameterData::ZEQParameterData() {
    value_init(&value_);
    value_init(&lower_);
    value_init(&upper_);
}
ZEQParameterData::~ZEQParameterData() {
    value_destroy(&value_);
    value_destroy(&lower_);
    value_destroy(&upper_);
}

bool ZEQParameterData::AttribId(const char* name, int* id) {
    if (!name) return false;
    for (auto& a : kParamAttrs)
        if (zeq::iequals(a.name, name)) {
            if (id) *id = a.id;
            return true;
        }
    return false;
}
int ZEQParameterData::BaseType(int id) {
    for (auto& a : kParamAttrs)
        if (a.id == id) return a.type;
    return 0;
}

bool ZEQParameterData::Load(ZEQEOBlock* block, const char* name, bool) {
    zeq::EngineCall call;
    loaded_ = false;
    if (!block || !name) return false;
    int pos = as_block(block)->FindParam(name);
    return pos >= 0 && LoadFrom(block, pos);
}
bool ZEQParameterData::Load(ZEQEOBlock* block, int position, bool) {
    zeq::EngineCall call;
    loaded_ = false;
    return block && LoadFrom(block, position);
}

bool ZEQParameterData::LoadFrom(ZEQEOBlock* block, int position) {
    auto& params = as_block(block)->Params();
    if (position < 0 || position >= static_cast<int>(params.size())) return false;
    const zeq::Parameter& p = params[static_cast<size_t>(position)];
    name_ = p.name;
    uom_ = p.uom;
    description_ = p.description;
    ptype_ = p.ptype;
    value_copy(&value_, p.value.get());
    value_copy(&lower_, p.lower.get());
    value_copy(&upper_, p.upper.get());
    access_ = p.access;
    type_ = type_of(*p.value.get());
    number_ = position + 1;
    changed_ = 0;
    loaded_ = true;
    return true;
}

int ZEQParameterData::Commit(ZEQEOBlock* block, const char* name, bool) {
    zeq::EngineCall call;
    if (!block || !name) return E_POINTER;
    int pos = as_block(block)->FindParam(name);
    return pos < 0 ? ZEQ_E_NOT_FOUND : CommitTo(block, pos);
}
int ZEQParameterData::Commit(ZEQEOBlock* block, int position, bool) {
    zeq::EngineCall call;
    if (!block) return E_POINTER;
    return CommitTo(block, position);
}

int ZEQParameterData::CommitTo(ZEQEOBlock* block, int position) {
    zeq::Block* b = as_block(block);
    auto& params = b->Params();
    if (position < 0 || position >= static_cast<int>(params.size())) return ZEQ_E_NOT_FOUND;
    zeq::Simulation* sim = b->Sim();
    sim->Journal("CommitParameter " + b->Prefix() + "." + params[static_cast<size_t>(position)].name);
    if (sim->hooks.refuse_commits) return ZEQ_E_REFUSED;
    zeq::Parameter& p = params[static_cast<size_t>(position)];
    if ((changed_ & (PA_VALUE | PA_LOWER | PA_UPPER)) && p.access == 0) return ZEQ_E_REFUSED;
    if (changed_ & PA_VALUE) value_copy(p.value.get(), &value_);
    if (changed_ & PA_LOWER) value_copy(p.lower.get(), &lower_);
    if (changed_ & PA_UPPER) value_copy(p.upper.get(), &upper_);
    if (changed_ & PA_UOM) p.uom = uom_;
    if (changed_ & PA_DESCRIPTION) p.description = description_;
    bool any = changed_ != 0;
    changed_ = 0;
    if (any) sim->RaiseText(ZEQ_EVT_BLOCK_PARAMS, b->Prefix(), ZEQ_HINT_VALUE);
    return 0;
}

bool ZEQParameterData::GetValue(int id, double& out) const {
    if (!loaded_ || !mask.Contains(id)) return false;
    const value_t* v = id == PA_VALUE ? &value_ : id == PA_LOWER ? &lower_ : id == PA_UPPER ? &upper_ : nullptr;
    if (!v || (v->kind != VALUE_NUMBER && v->kind != VALUE_BOUNDEDNUM)) return false;
    out = as_double(*v);
    return true;
}

bool ZEQParameterData::GetValue(int id, int& out) const {
    if (!loaded_ || !mask.Contains(id)) return false;
    switch (id) {
        case PA_ACCESS: out = access_; return true;
        case PA_TYPE: out = type_; return true;
        case PA_NUMBER: out = number_; return true;
        case PA_VALUE:
            if (value_.kind == VALUE_LOGICAL) {
                out = value_.u.logical;
                return true;
            }
            if ((value_.kind == VALUE_NUMBER || value_.kind == VALUE_BOUNDEDNUM) && value_.is_int) {
                out = static_cast<int>(value_.u.i);
                return true;
            }
            return false;
        default: return false;
    }
}

bool ZEQParameterData::GetValue(int id, const char*& out) const {
    if (!loaded_ || !mask.Contains(id)) return false;
    switch (id) {
        case PA_NAME: out = name_.c_str(); return true;
        case PA_UOM: out = uom_.c_str(); return true;
        case PA_DESCRIPTION: out = description_.c_str(); return true;
        case PA_PHYSICAL_TYPE: out = ptype_.c_str(); return true;
        case PA_VALUE:
            if (value_.kind == VALUE_STRING || value_.kind == VALUE_ID) {
                out = value_.u.s;
                return true;
            }
            if (value_.kind == VALUE_ENUM) {
                const value_t* item = static_cast<const value_t*>(gl_get(value_.u.list, value_.enum_index + 1));
                if (item && (item->kind == VALUE_STRING || item->kind == VALUE_ID)) {
                    out = item->u.s;
                    return true;
                }
            }
            return false;
        default: return false;
    }
}

bool ZEQParameterData::GetValue(int id, VARIANT* out) const {
    if (!loaded_ || !out || !mask.Contains(id)) return false;
    switch (id) {
        case PA_VALUE: return to_variant(value_, out);
        case PA_LOWER: return to_variant(lower_, out);
        case PA_UPPER: return to_variant(upper_, out);
        case PA_UOM:
        case PA_DESCRIPTION:
        case PA_NAME: {
            const char* text = nullptr;
            if (!GetValue(id, text)) return false;
            BSTR b = nuv::bstr_from_utf8(text);
            if (!b) return false;
            out->vt = VT_BSTR;
            out->bstrVal = b;
            return true;
        }
        default: return false;
    }
}

bool ZEQParameterData::GetValue(int id, value_t* out) const {
    if (!loaded_ || !out || !mask.Contains(id)) return false;
    const value_t* v = id == PA_VALUE ? &value_ : id == PA_LOWER ? &lower_ : id == PA_UPPER ? &upper_ : nullptr;
    if (!v) return false;
    value_copy(out, v);
    return true;
}

bool ZEQParameterData::SetValue(int id, const char* text) {
    if (!text) return false;
    switch (id) {
        case PA_UOM: uom_ = text; break;
        case PA_DESCRIPTION: description_ = text; break;
        case PA_VALUE: {
            VARIANT v;
            v.vt = VT_BSTR;
            v.bstrVal = nuv::bstr_from_utf8(text);
            bool ok = v.bstrVal && SetValue(id, v);
            SysFreeString(v.bstrVal);
            return ok;
        }
        default: return false;
    }
    changed_ |= static_cast<uint32_t>(id);
    return true;
}

bool ZEQParameterData::SetValue(int id, const VARIANT& in) {
    if (!loaded_) return false;
    if (id == PA_UOM || id == PA_DESCRIPTION) {
        std::string s;
        return variant_text(in, s) && SetValue(id, s.c_str());
    }
    value_t* target = id == PA_VALUE ? &value_ : id == PA_LOWER ? &lower_ : id == PA_UPPER ? &upper_ : nullptr;
    if (!target) return false;
    value_t next;
    value_init(&next);
    // Bounds of a parameter without bounds take the value's kind.
    const value_t& pattern = target->kind == VALUE_MISSING && id != PA_VALUE ? value_ : *target;
    bool ok = from_variant(pattern, in, &next);
    if (ok && id == PA_VALUE && (next.kind == VALUE_NUMBER || next.kind == VALUE_BOUNDEDNUM)) {
        // Plain numbers with bounds stay within them.
        double d = as_double(next);
        if ((lower_.kind == VALUE_NUMBER && d < as_double(lower_)) ||
            (upper_.kind == VALUE_NUMBER && d > as_double(upper_)))
            ok = false;
    }
    if (ok) {
        value_copy(target, &next);
        changed_ |= static_cast<uint32_t>(id);
    }
    value_destroy(&next);
    return ok;
}

bool ZEQParameterData::SetValue(int id, const value_t* value) {
    if (!loaded_ || !value || holds_not_a_number(*value)) return false;
    value_t* target = id == PA_VALUE ? &value_ : id == PA_LOWER ? &lower_ : id == PA_UPPER ? &upper_ : nullptr;
    if (!target) return false;
    value_copy(target, value);
    changed_ |= static_cast<uint32_t>(id);
    return true;
}
