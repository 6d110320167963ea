// Attribute records of variables, equations, parameters and ports.
#include <cmath>
#include <algorithm>
#include <cstring>
#include <type_traits>
#include <utility>

#include "model.h"
#include "zeq_host.h"

// ---- masks ----

void ZEQAttribMask::Set(int id) {
    if (id == 0x7fffffff) {
        word1 = word2 = 0x7fffffff;
    } else if (id < 0) {
        word1 = 0;
        word2 = static_cast<uint32_t>(-static_cast<int64_t>(id));
    } else {
        word1 = static_cast<uint32_t>(id);
        word2 = 0;
    }
}
void ZEQAttribMask::Add(int id) {
    if (id < 0)
        word2 |= static_cast<uint32_t>(-static_cast<int64_t>(id));
    else
        word1 |= static_cast<uint32_t>(id);
}
bool ZEQAttribMask::Contains(int id) const {
    if (All()) return true;
    if (id < 0) return (word2 & static_cast<uint32_t>(-static_cast<int64_t>(id))) != 0;
    return (word1 & static_cast<uint32_t>(id)) != 0;
}

namespace {

struct AttrName {
    const char* name;
    int id;
    int type;
};

const AttrName kVarAttrs[] = {
    {"NAME", VA_NAME, ZEQ_TYPE_TEXT},           {"VALUE", VA_VALUE, ZEQ_TYPE_DOUBLE},
    {"LOWER", VA_LOWER, ZEQ_TYPE_DOUBLE},       {"UPPER", VA_UPPER, ZEQ_TYPE_DOUBLE},
    {"STEP", VA_STEP, ZEQ_TYPE_DOUBLE},         {"INTSCALE", VA_INTSCALE, ZEQ_TYPE_DOUBLE},
    {"SCALE", VA_SCALE, ZEQ_TYPE_DOUBLE},       {"SBWEIGHT", VA_SBWEIGHT, ZEQ_TYPE_DOUBLE},
    {"INITIAL", VA_INITIAL, ZEQ_TYPE_DOUBLE},   {"UOM", VA_UOM, ZEQ_TYPE_TEXT},
    {"BOUND", VA_BOUND, ZEQ_TYPE_ENUM},         {"MARKED", VA_MARKED, ZEQ_TYPE_INT},
    {"MODIFIED", VA_MODIFIED, ZEQ_TYPE_INT},    {"ACTIVE_BOUND", VA_ACTIVE_BOUND, ZEQ_TYPE_ENUM},
    {"SHADOW_PRICE", VA_SHADOW_PRICE, ZEQ_TYPE_DOUBLE}, {"QUALITY", VA_QUALITY, ZEQ_TYPE_ENUM},
    {"BASEUOM", VA_BASEUOM, ZEQ_TYPE_TEXT},     {"PHYSICAL_TYPE_ID", VA_PTYPE_ID, ZEQ_TYPE_INT},
    {"HOMO_PARAM", VA_HOMO_PARAM, ZEQ_TYPE_INT}, {"HOMO_TARGET", VA_HOMO_TARGET, ZEQ_TYPE_DOUBLE},
    {"DESCRIPTION", VA_DESCRIPTION, ZEQ_TYPE_TEXT}, {"VARIABLE_TYPE", VA_VARIABLE_TYPE, ZEQ_TYPE_INT},
    {"PROFILE", VA_PROFILE, 0},                 {"THRESHOLD", VA_THRESHOLD, ZEQ_TYPE_DOUBLE},
    {"RAMPED", VA_RAMPED, ZEQ_TYPE_INT},        {"CHANGE", VA_CHANGE, ZEQ_TYPE_DOUBLE},
    {"SPEC", VA_SPEC, ZEQ_TYPE_ENUM},           {"PHYSICAL_TYPE", VA_PHYSICAL_TYPE, ZEQ_TYPE_TEXT},
    {"UNIT_ENTRY", VA_UNIT_ENTRY, ZEQ_TYPE_INT}, {"NUMBER", VA_NUMBER, ZEQ_TYPE_INT},
    {"CONN_TYPE", VA_CONN_TYPE, ZEQ_TYPE_INT},
};

const char* const kSpecNames[] = {"CALC", "CONST", "INDEP", "MEAS", "PARAM", "OPTIM", "RECON", "INITIAL"};
const char* const kBoundNames[] = {"HARD", "RELAXED", "SOFT"};
const char* const kQualityNames[] = {"GOOD", "BAD", "OVERRIDE", "BADIGNORE"};
const char* const kActiveNames[] = {"NONE", "LOWER", "UPPER"};

struct EnumTable {
    const char* const* names;
    int count;
};
EnumTable enum_table(int id) {
    switch (id) {
        case VA_SPEC: return {kSpecNames, 8};
        case VA_BOUND: return {kBoundNames, 3};
        case VA_QUALITY: return {kQualityNames, 4};
        case VA_ACTIVE_BOUND: return {kActiveNames, 3};
        default: return {nullptr, 0};
    }
}

int enum_from_text(int id, const char* text) {
    if (!text) return -1;
    if (id == VA_SPEC) {
        if (zeq::iequals(text, "FIXED")) return SPEC_CONST;
        if (zeq::iequals(text, "FREE")) return SPEC_CALC;
    }
    EnumTable t = enum_table(id);
    for (int i = 0; i < t.count; ++i)
        if (zeq::iequals(t.names[i], text)) return i;
    return -1;
}

bool lookup_attr(const AttrName* table, size_t n, const char* name, int* id) {
    if (!name) return false;
    for (size_t i = 0; i < n; ++i)
        if (zeq::iequals(table[i].name, name)) {
            if (id) *id = table[i].id;
            return true;
        }
    return false;
}

int attr_type(const AttrName* table, size_t n, int id) {
    for (size_t i = 0; i < n; ++i)
        if (table[i].id == id) return table[i].type;
    return 0;
}

// Resolves (container, block, index) to a 0-based position in the simulation's variables.
int var_position(ZEQEOCntr* container, ZEQEOBlock* block, int index, zeq::Simulation** sim) {
    if (!container) return -1;
    auto* c = static_cast<zeq::Container*>(container);
    *sim = c->Sim();
    if (block) {
        auto* b = static_cast<zeq::Block*>(block);
        if (index < 1 || index > b->count_) return -1;
        return b->first_ + index - 1;
    }
    return c->ToGlobal(index);
}

int eqn_position(ZEQEOCntr* container, ZEQEOBlock* block, int index, zeq::Simulation** sim) {
    if (!container) return -1;
    auto* c = static_cast<zeq::Container*>(container);
    *sim = c->Sim();
    if (block) {
        auto* b = static_cast<zeq::Block*>(block);
        if (index < 1 || index > b->eq_count_) return -1;
        return b->eq_first_ + index - 1;
    }
    return c->ToGlobalEqn(index);
}

}  // namespace

// ---- variables ----

bool ZEQVariableData::AttribId(const char* name, int* id) {
    return lookup_attr(kVarAttrs, std::size(kVarAttrs), name, id);
}
int ZEQVariableData::BaseType(int id) { return attr_type(kVarAttrs, std::size(kVarAttrs), id); }

bool ZEQVariableData::EnumToString(int id, int value, const char*& text) {
    EnumTable t = enum_table(id);
    if (value < 0 || value >= t.count) return false;
    text = t.names[value];
    return true;
}

bool ZEQVariableData::Selected(int id) const { return mask.Contains(id); }

void ZEQVariableData::MarkChanged(int id) {
    mask.Add(id);
    if (id < 0)
        changed2_ |= static_cast<uint32_t>(-static_cast<int64_t>(id));
    else
        changed1_ |= static_cast<uint32_t>(id);
}

namespace {

// Quantities of a variable in the unit it is shown in (its own, else the base unit).
double shown(const zeq::Variable& v, double base) {
    return v.unit_entry ? rtouom_from_base(v.ptype, v.unit_entry, base) : base;
}
double shown_delta(const zeq::Variable& v, double base) {
    return v.unit_entry ? rtouom_delta_si2pair(v.ptype, v.unit_entry, base) : base;
}

// A number attribute of the variable at pos as a loaded record gives it (the record's fields and the
// column reads both come from here); false for an attribute that is not a number of that kind.
inline bool variable_number(const zeq::Variable& v, int id, double& out) {
    switch (id) {
        case VA_VALUE: out = shown(v, v.value); return true;
        case VA_LOWER: out = v.lower <= -1e20 ? v.lower : shown(v, v.lower); return true;
        case VA_UPPER: out = v.upper >= 1e20 ? v.upper : shown(v, v.upper); return true;
        case VA_STEP: out = shown_delta(v, v.Extras().step); return true;
        case VA_INTSCALE: out = v.Extras().intscale; return true;
        case VA_SCALE: out = v.Extras().scale; return true;
        case VA_SBWEIGHT: out = v.Extras().sbweight; return true;
        case VA_INITIAL: out = shown(v, v.initial); return true;
        case VA_SHADOW_PRICE: out = v.Extras().shadow_price; return true;
        case VA_HOMO_TARGET: out = v.Extras().homo_target; return true;
        case VA_THRESHOLD: out = v.Extras().threshold; return true;
        case VA_CHANGE: out = shown_delta(v, v.change); return true;
        default: return false;
    }
}
inline bool variable_number(const zeq::Variable& v, int, int id, double& out) { return variable_number(v, id, out); }
inline bool variable_number(const zeq::Variable& v, int pos, int id, int& out) {
    switch (id) {
        case VA_BOUND: out = v.bound; return true;
        case VA_MARKED: out = v.marked; return true;
        case VA_MODIFIED: out = static_cast<int>(v.modified); return true;
        case VA_ACTIVE_BOUND: out = v.active_bound; return true;
        case VA_QUALITY: out = v.quality; return true;
        case VA_PTYPE_ID: out = v.ptype; return true;
        case VA_HOMO_PARAM: out = v.homo_param; return true;
        case VA_VARIABLE_TYPE: out = v.variable_type; return true;
        case VA_RAMPED: out = v.ramped; return true;
        case VA_SPEC: out = v.spec; return true;
        case VA_NUMBER: out = pos + 1; return true;
        case VA_CONN_TYPE: out = v.Extras().conn_type; return true;
        case VA_UNIT_ENTRY: out = v.unit_entry ? v.unit_entry : rtouom_get_default(v.ptype); return true;
        default: return false;
    }
}

// The variables a (container, block) pair numbers from 1: where they begin in the simulation's variables and
// how many there are, as var_position resolves one index.
struct VarScope {
    const zeq::Variable* vars = nullptr;
    int first = 0, count = 0;
};

VarScope var_scope(ZEQEOCntr* container, ZEQEOBlock* block) {
    VarScope scope;
    if (!container) return scope;
    auto* c = static_cast<zeq::Container*>(container);
    scope.vars = c->Sim()->Vars().data();
    if (block) {
        auto* b = static_cast<zeq::Block*>(block);
        scope.first = b->first_;
        scope.count = b->count_;
    } else {
        scope.first = c->first_;
        scope.count = c->count_;
    }
    return scope;
}

// One number attribute, fixed at compile time, of the variables at `indexes`: each row then costs a bounds
// check and a read, the attribute's case chosen once for the whole column.
// The scope is copied into locals: a store through `got` (bytes) could otherwise change it for all the
// compiler knows, and every row would read it again.
template <int kId, class T>
void number_column(const VarScope& scope, const LONG* indexes, size_t count, T* out, unsigned char* got) {
    const zeq::Variable* const vars = scope.vars;
    const int first = scope.first;
    const uint32_t in_scope = scope.count > 0 ? static_cast<uint32_t>(scope.count) : 0;
    if (!vars) {
        std::fill(got, got + count, static_cast<unsigned char>(0));
        return;
    }
    for (size_t i = 0; i < count; ++i) {
        const LONG index = indexes[i];
        // index - 1 taken unsigned is below the count only for 1..count.
        if (static_cast<uint32_t>(index) - 1 >= in_scope) {
            got[i] = 0;
            continue;
        }
        const int pos = first + static_cast<int>(index) - 1;
        got[i] = variable_number(vars[pos], pos, kId, out[i]) ? 1 : 0;
    }
}

// number_column for whichever of kIds is id; false when id is none of them.
template <int... kIds, class T>
bool number_column_of(int id, const VarScope& scope, const LONG* indexes, size_t count, T* out, unsigned char* got) {
    return ((id == kIds ? (number_column<kIds>(scope, indexes, count, out, got), true) : false) || ...);
}

}  // namespace

// Fills a record from the variable at a position, under an engine call its caller holds.
struct ZEQVariableLoader {
    static void Fill(ZEQVariableData& r, zeq::Simulation* sim, int pos);
    template <class T>
    static void Column(ZEQEOCntr* container, ZEQEOBlock* block, const LONG* indexes, size_t count, int id, T* out,
                       unsigned char* got);
};

bool ZEQVariableData::Load(ZEQEOCntr* container, ZEQEOBlock* block, int index, bool) {
    zeq::EngineCall call;
    loaded_ = false;
    load_serial_ = 0;
    changed1_ = changed2_ = 0;
    if (container) static_cast<zeq::Container*>(container)->Sim()->BeforeMemberLoad();
    zeq::Simulation* sim = nullptr;
    int pos = var_position(container, block, index, &sim);
    if (pos < 0) return false;
    ZEQVariableLoader::Fill(*this, sim, pos);
    sim->AfterMemberLoad();
    return true;
}

template <class T>
void ZEQVariableLoader::Column(ZEQEOCntr* container, ZEQEOBlock* block, const LONG* indexes, size_t count, int id,
                               T* out, unsigned char* got) {
    zeq::EngineCall call;
    if (container) static_cast<zeq::Container*>(container)->Sim()->BeforeMemberLoad();
    ZEQVariableData record;
    record.mask.Add(id);
    // Numbers straight from the variables; texts through a record, which knows where each comes from.
    const int type = ZEQVariableData::BaseType(id);
    const bool direct = std::is_same_v<T, double> ? type == ZEQ_TYPE_DOUBLE
                        : std::is_same_v<T, int>  ? type == ZEQ_TYPE_INT || type == ZEQ_TYPE_ENUM
                                                  : false;
    if constexpr (std::is_same_v<T, double>) {
        if (direct && number_column_of<VA_VALUE, VA_LOWER, VA_UPPER, VA_STEP, VA_INTSCALE, VA_SCALE, VA_SBWEIGHT,
                                       VA_INITIAL, VA_SHADOW_PRICE, VA_HOMO_TARGET, VA_THRESHOLD, VA_CHANGE>(
                          id, var_scope(container, block), indexes, count, out, got))
            return;
    } else if constexpr (std::is_same_v<T, int>) {
        if (direct && number_column_of<VA_BOUND, VA_MARKED, VA_MODIFIED, VA_ACTIVE_BOUND, VA_QUALITY, VA_PTYPE_ID,
                                       VA_HOMO_PARAM, VA_VARIABLE_TYPE, VA_RAMPED, VA_SPEC, VA_NUMBER, VA_CONN_TYPE,
                                       VA_UNIT_ENTRY>(id, var_scope(container, block), indexes, count, out, got))
            return;
    }
    for (size_t i = 0; i < count; ++i) {
        zeq::Simulation* sim = nullptr;
        const int pos = var_position(container, block, static_cast<int>(indexes[i]), &sim);
        got[i] = 0;
        if (pos < 0) continue;
        if constexpr (!std::is_same_v<T, std::string>) {
            if (direct) {
                got[i] = variable_number(sim->Vars()[static_cast<size_t>(pos)], pos, id, out[i]);
                continue;
            }
        }
        Fill(record, sim, pos);
        if constexpr (std::is_same_v<T, std::string>) {
            const char* text = nullptr;
            if (!record.GetValue(id, text)) continue;
            out[i].assign(text ? text : "");
        } else {
            if (!record.GetValue(id, out[i])) continue;
        }
        got[i] = 1;
    }
}

void ZEQVariableData::LoadColumn(ZEQEOCntr* container, ZEQEOBlock* block, const LONG* indexes, size_t count, int id,
                                 double* out, unsigned char* got) {
    ZEQVariableLoader::Column(container, block, indexes, count, id, out, got);
}
void ZEQVariableData::LoadColumn(ZEQEOCntr* container, ZEQEOBlock* block, const LONG* indexes, size_t count, int id,
                                 int* out, unsigned char* got) {
    ZEQVariableLoader::Column(container, block, indexes, count, id, out, got);
}
void ZEQVariableData::LoadColumn(ZEQEOCntr* container, ZEQEOBlock* block, const LONG* indexes, size_t count, int id,
                                 std::string* out, unsigned char* got) {
    ZEQVariableLoader::Column(container, block, indexes, count, id, out, got);
}

void ZEQVariableLoader::Fill(ZEQVariableData& r, zeq::Simulation* sim, int pos) {
    ZEQVarFields& f_ = r.f_;
    const ZEQAttribMask& mask = r.mask;
    const zeq::Variable& v = sim->Vars()[static_cast<size_t>(pos)];
    // The mask words once, with "all" spread to every bit.
    const bool all = mask.All();
    const uint32_t w1 = all ? ~0u : mask.word1;
    const uint32_t w2 = all ? ~0u : mask.word2;
    auto Selected = [w1, w2](int id) {
        return id < 0 ? (w2 & static_cast<uint32_t>(-id)) != 0 : (w1 & static_cast<uint32_t>(id)) != 0;
    };
    if (Selected(VA_NAME)) {
        r.loaded_name_ = v.name;
        f_.name = r.loaded_name_.c_str();
    }
    if (Selected(VA_VALUE)) variable_number(v, VA_VALUE, f_.value);
    if (Selected(VA_LOWER)) variable_number(v, VA_LOWER, f_.lower);
    if (Selected(VA_UPPER)) variable_number(v, VA_UPPER, f_.upper);
    if (Selected(VA_STEP)) variable_number(v, VA_STEP, f_.step);
    if (Selected(VA_INTSCALE)) variable_number(v, VA_INTSCALE, f_.intscale);
    if (Selected(VA_SCALE)) variable_number(v, VA_SCALE, f_.scale);
    if (Selected(VA_SBWEIGHT)) variable_number(v, VA_SBWEIGHT, f_.sbweight);
    if (Selected(VA_INITIAL)) variable_number(v, VA_INITIAL, f_.initial);
    if (Selected(VA_UOM) || Selected(VA_UNIT_ENTRY)) {
        f_.uom = sim->UnitName(pos);
        variable_number(v, pos, VA_UNIT_ENTRY, f_.unit_entry);
    }
    if (Selected(VA_BOUND)) variable_number(v, pos, VA_BOUND, f_.bound);
    if (Selected(VA_MARKED)) variable_number(v, pos, VA_MARKED, f_.marked);
    if (Selected(VA_MODIFIED)) f_.modified = v.modified;
    if (Selected(VA_ACTIVE_BOUND)) variable_number(v, pos, VA_ACTIVE_BOUND, f_.active_bound);
    if (Selected(VA_SHADOW_PRICE)) variable_number(v, VA_SHADOW_PRICE, f_.shadow_price);
    if (Selected(VA_QUALITY)) variable_number(v, pos, VA_QUALITY, f_.quality);
    if (Selected(VA_BASEUOM)) {
        rtouom_info info{};
        f_.baseuom = rtouom_uom_info(v.ptype, rtouom_get_default(v.ptype), &info) == 0 ? info.name : "";
    }
    if (Selected(VA_PTYPE_ID)) variable_number(v, pos, VA_PTYPE_ID, f_.ptype);
    if (Selected(VA_PHYSICAL_TYPE)) f_.ptype_name = rtouom_ptype_name(v.ptype);
    if (Selected(VA_HOMO_PARAM)) variable_number(v, pos, VA_HOMO_PARAM, f_.homo_param);
    if (Selected(VA_HOMO_TARGET)) variable_number(v, VA_HOMO_TARGET, f_.homo_target);
    if (Selected(VA_DESCRIPTION)) {
        r.loaded_description_ = v.Extras().description;
        f_.description = r.loaded_description_.c_str();
    }
    if (Selected(VA_VARIABLE_TYPE)) variable_number(v, pos, VA_VARIABLE_TYPE, f_.variable_type);
    if (Selected(VA_PROFILE)) f_.profile = v.Extras().profile.get();
    if (Selected(VA_THRESHOLD)) variable_number(v, VA_THRESHOLD, f_.threshold);
    if (Selected(VA_RAMPED)) variable_number(v, pos, VA_RAMPED, f_.ramped);
    if (Selected(VA_CHANGE)) variable_number(v, VA_CHANGE, f_.change);
    if (Selected(VA_SPEC)) variable_number(v, pos, VA_SPEC, f_.spec);
    if (Selected(VA_NUMBER)) variable_number(v, pos, VA_NUMBER, f_.number);
    if (Selected(VA_CONN_TYPE)) variable_number(v, pos, VA_CONN_TYPE, f_.conn_type);
    r.load_ptype_ = v.ptype;
    r.load_entry_ = v.unit_entry;
    r.load_serial_ = v.serial;
    r.loaded_ = true;
}

bool ZEQVariableData::GetValue(int id, double& out) const {
    if (!loaded_ || !Selected(id)) return false;
    switch (id) {
        case VA_VALUE: out = f_.value; return true;
        case VA_LOWER: out = f_.lower; return true;
        case VA_UPPER: out = f_.upper; return true;
        case VA_STEP: out = f_.step; return true;
        case VA_INTSCALE: out = f_.intscale; return true;
        case VA_SCALE: out = f_.scale; return true;
        case VA_SBWEIGHT: out = f_.sbweight; return true;
        case VA_INITIAL: out = f_.initial; return true;
        case VA_SHADOW_PRICE: out = f_.shadow_price; return true;
        case VA_HOMO_TARGET: out = f_.homo_target; return true;
        case VA_THRESHOLD: out = f_.threshold; return true;
        case VA_CHANGE: out = f_.change; return true;
        default: return false;
    }
}

bool ZEQVariableData::GetValue(int id, int& out) const {
    if (!loaded_ || !Selected(id)) return false;
    switch (id) {
        case VA_BOUND: out = f_.bound; return true;
        case VA_MARKED: out = f_.marked; return true;
        case VA_MODIFIED: out = static_cast<int>(f_.modified); return true;
        case VA_ACTIVE_BOUND: out = f_.active_bound; return true;
        case VA_QUALITY: out = f_.quality; return true;
        case VA_PTYPE_ID: out = f_.ptype; return true;
        case VA_HOMO_PARAM: out = f_.homo_param; return true;
        case VA_VARIABLE_TYPE: out = f_.variable_type; return true;
        case VA_RAMPED: out = f_.ramped; return true;
        case VA_SPEC: out = f_.spec; return true;
        case VA_NUMBER: out = f_.number; return true;
        case VA_CONN_TYPE: out = f_.conn_type; return true;
        case VA_UNIT_ENTRY: out = f_.unit_entry; return true;
        default: return false;
    }
}

bool ZEQVariableData::GetValue(int id, const char*& out) const {
    if (!loaded_ || !Selected(id)) return false;
    switch (id) {
        case VA_NAME: out = f_.name; return true;
        case VA_UOM: out = f_.uom; return true;
        case VA_BASEUOM: out = f_.baseuom; return true;
        case VA_DESCRIPTION: out = f_.description; return true;
        case VA_PHYSICAL_TYPE: out = f_.ptype_name ? f_.ptype_name : ""; return true;
        case VA_SPEC: return EnumToString(id, f_.spec, out);
        case VA_BOUND: return EnumToString(id, f_.bound, out);
        case VA_QUALITY: return EnumToString(id, f_.quality, out);
        case VA_ACTIVE_BOUND: return EnumToString(id, f_.active_bound, out);
        default: return false;
    }
}

bool ZEQVariableData::GetValue(int id, const VarProfile*& out) const {
    if (!loaded_ || !Selected(id) || id != VA_PROFILE) return false;
    out = f_.profile;
    return out != nullptr;
}

bool ZEQVariableData::SetValue(int id, double value) {
    if (!std::isfinite(value)) return false;
    switch (id) {
        case VA_VALUE: f_.value = value; break;
        case VA_LOWER: f_.lower = value; break;
        case VA_UPPER: f_.upper = value; break;
        case VA_STEP: f_.step = value; break;
        case VA_INTSCALE: f_.intscale = value; break;
        case VA_SCALE: f_.scale = value; break;
        case VA_SBWEIGHT: f_.sbweight = value; break;
        case VA_INITIAL: f_.initial = value; break;
        case VA_SHADOW_PRICE: f_.shadow_price = value; break;
        case VA_HOMO_TARGET: f_.homo_target = value; break;
        case VA_THRESHOLD: f_.threshold = value; break;
        case VA_CHANGE: f_.change = value; break;
        default: return false;
    }
    MarkChanged(id);
    return true;
}

bool ZEQVariableData::SetValue(int id, int value) {
    EnumTable t = enum_table(id);
    if (t.names && (value < 0 || value >= t.count)) return false;
    switch (id) {
        case VA_BOUND: f_.bound = value; break;
        case VA_MARKED: f_.marked = value ? 1 : 0; break;
        case VA_MODIFIED: f_.modified = static_cast<uint32_t>(value); break;
        case VA_QUALITY: f_.quality = value; break;
        case VA_PTYPE_ID:
            if (value < 0 || value >= RTOUOM_PTYPE_COUNT) return false;
            f_.ptype = value;
            break;
        case VA_HOMO_PARAM: f_.homo_param = value; break;
        case VA_VARIABLE_TYPE: f_.variable_type = value; break;
        case VA_RAMPED: f_.ramped = value; break;
        case VA_SPEC: f_.spec = value; break;
        case VA_CONN_TYPE: f_.conn_type = value; break;
        case VA_UNIT_ENTRY: f_.unit_entry = value; break;
        case VA_VALUE: return SetValue(id, static_cast<double>(value));
        default: return false;
    }
    MarkChanged(id);
    return true;
}

bool ZEQVariableData::SetValue(int id, const char* value) {
    if (enum_table(id).names) {
        int v = enum_from_text(id, value);
        return v >= 0 && SetValue(id, v);
    }
    switch (id) {
        case VA_UOM:
            owned_[0] = value ? value : "";
            f_.uom = owned_[0].c_str();
            break;
        case VA_DESCRIPTION:
            owned_[1] = value ? value : "";
            f_.description = owned_[1].c_str();
            break;
        case VA_PHYSICAL_TYPE:
            if (!value || pt_lookup(value) < 0) return false;
            owned_[2] = value;
            f_.ptype_name = owned_[2].c_str();
            break;
        default: return false;
    }
    MarkChanged(id);
    return true;
}

bool ZEQVariableData::IsModified(int id) const {
    if (id <= 0) return false;
    return (f_.modified & static_cast<uint32_t>(id)) != 0;
}

bool ZEQVariableData::SetIsModified(int id, bool flag) {
    if (id <= 0) return false;
    if (flag)
        f_.modified |= static_cast<uint32_t>(id);
    else
        f_.modified &= ~static_cast<uint32_t>(id);
    MarkChanged(VA_MODIFIED);
    return true;
}

void ZEQVariableData::SetNotSet() {
    const char* name = f_.name;
    f_ = ZEQVarFields{};
    f_.name = name ? "" : "";
    f_.value = f_.lower = f_.upper = f_.step = f_.scale = f_.sbweight = f_.shadow_price = ZEQ_NOT_SET_DOUBLE;
    f_.marked = ZEQ_NOT_SET_INT;
    f_.modified = ZEQ_NOT_SET_INT;
    f_.number = ZEQ_NOT_SET_INT;
    f_.uom = f_.ptype_name = "";
    f_.active_bound = 0;
    load_serial_ = 0;
    loaded_ = true;
}

// Writes the attributes set through the record, and those in the mask whose loaded value differs from the
// variable's present one (so that a record loaded earlier can put an attribute back).
int ZEQVariableData::Commit(ZEQEOCntr* container, ZEQEOBlock* block, int index, bool) {
    zeq::EngineCall call;
    if (container) {
        auto& hook = static_cast<zeq::Container*>(container)->Sim()->hooks.before_variable_commit;
        if (hook) std::exchange(hook, nullptr)();
    }
    zeq::Simulation* sim = nullptr;
    int pos = var_position(container, block, index, &sim);
    if (pos < 0) return ZEQ_E_NOT_FOUND;
    if (load_serial_ != 0 && sim->Vars()[static_cast<size_t>(pos)].serial != load_serial_) return ZEQ_E_NOT_FOUND;
    sim->Journal("CommitVariable " + std::to_string(pos + 1));
    if (sim->hooks.refuse_commits) return ZEQ_E_REFUSED;
    zeq::Variable& v = sim->Vars()[static_cast<size_t>(pos)];
    auto changed = [&](int id) {
        return id < 0 ? (changed2_ & static_cast<uint32_t>(-static_cast<int64_t>(id))) != 0
                      : (changed1_ & static_cast<uint32_t>(id)) != 0;
    };
    auto write = [&](int id, bool differs) { return changed(id) || (loaded_ && mask.Contains(id) && differs); };
    // Quantities in the record are in the unit it was loaded in (the variable's present unit when it was not).
    const int in_ptype = loaded_ ? load_ptype_ : v.ptype;
    const int in_entry = loaded_ ? load_entry_ : v.unit_entry;
    auto base = [&](double x) { return in_entry ? rtouom_to_base(in_ptype, in_entry, x) : x; };
    auto base_delta = [&](double x) {
        rtouom_info info{};
        return in_entry && rtouom_uom_info(in_ptype, in_entry, &info) == 0 ? x * info.factor : x;
    };
    auto close_to = [](double a, double b) { return a == b || std::fabs(a - b) <= 1e-12 * std::max(1.0, std::fabs(b)); };
    auto bound_base = [&](double x, bool lower) {
        return lower ? (x <= -1e20 ? x : base(x)) : (x >= 1e20 ? x : base(x));
    };

    // Validate the unit and type first so that a refused value changes nothing.
    int ptype = v.ptype;
    if (write(VA_PTYPE_ID, f_.ptype != v.ptype)) ptype = f_.ptype;
    if (write(VA_PHYSICAL_TYPE, f_.ptype_name && pt_lookup(f_.ptype_name) != v.ptype))
        ptype = f_.ptype_name ? pt_lookup(f_.ptype_name) : -1;
    if (ptype < 0 || ptype >= RTOUOM_PTYPE_COUNT) return ZEQ_E_REFUSED;
    int entry = ptype == v.ptype ? v.unit_entry : 0;
    const char* present_unit = sim->UnitName(pos);
    if (write(VA_UOM, f_.uom && std::strcmp(f_.uom, present_unit) != 0)) {
        if (!f_.uom || !*f_.uom) {
            entry = 0;
        } else if (rtouom_ptype_locate(f_.uom, ptype, &entry) != 0) {
            return ZEQ_E_REFUSED;
        }
    }
    int present_entry = v.unit_entry ? v.unit_entry : rtouom_get_default(v.ptype);
    if (write(VA_UNIT_ENTRY, f_.unit_entry != present_entry)) {
        rtouom_info info{};
        if (f_.unit_entry != 0 && rtouom_uom_info(ptype, f_.unit_entry, &info) != 0) return ZEQ_E_REFUSED;
        entry = f_.unit_entry;
    }
    if (entry == rtouom_get_default(ptype)) entry = 0;
    // A quantity that overflows in base units is refused before anything changes.
    const std::pair<int, double> quantities[] = {
        {VA_VALUE, base(f_.value)},           {VA_LOWER, bound_base(f_.lower, true)},
        {VA_UPPER, bound_base(f_.upper, false)}, {VA_STEP, base_delta(f_.step)},
        {VA_INITIAL, base(f_.initial)},       {VA_CHANGE, base_delta(f_.change)}};
    for (const auto& [id, x] : quantities)
        if (write(id, true) && !std::isfinite(x)) return ZEQ_E_REFUSED;

    intptr_t hints = 0;
    uint32_t mods = 0;
    if (write(VA_VALUE, !close_to(base(f_.value), v.value))) { v.value = base(f_.value); hints |= ZEQ_HINT_VALUE; mods |= VA_VALUE; }
    if (write(VA_LOWER, !close_to(bound_base(f_.lower, true), v.lower))) { v.lower = bound_base(f_.lower, true); mods |= VA_LOWER; }
    if (write(VA_UPPER, !close_to(bound_base(f_.upper, false), v.upper))) { v.upper = bound_base(f_.upper, false); mods |= VA_UPPER; }
    if (write(VA_STEP, !close_to(base_delta(f_.step), v.Extras().step))) { v.MutableExtras().step = base_delta(f_.step); mods |= VA_STEP; }
    if (write(VA_INTSCALE, f_.intscale != v.Extras().intscale)) { v.MutableExtras().intscale = f_.intscale; mods |= VA_INTSCALE; }
    if (write(VA_SCALE, f_.scale != v.Extras().scale)) { v.MutableExtras().scale = f_.scale; mods |= VA_SCALE; }
    if (write(VA_SBWEIGHT, f_.sbweight != v.Extras().sbweight)) { v.MutableExtras().sbweight = f_.sbweight; mods |= VA_SBWEIGHT; }
    if (write(VA_INITIAL, !close_to(base(f_.initial), v.initial))) { v.initial = base(f_.initial); mods |= VA_INITIAL; }
    if (write(VA_SHADOW_PRICE, f_.shadow_price != v.Extras().shadow_price)) v.MutableExtras().shadow_price = f_.shadow_price;
    if (write(VA_HOMO_TARGET, f_.homo_target != v.Extras().homo_target)) v.MutableExtras().homo_target = f_.homo_target;
    if (write(VA_THRESHOLD, f_.threshold != v.Extras().threshold)) v.MutableExtras().threshold = f_.threshold;
    if (write(VA_CHANGE, !close_to(base_delta(f_.change), v.change))) v.change = base_delta(f_.change);
    if (write(VA_BOUND, f_.bound != v.bound)) { v.bound = static_cast<uint8_t>(f_.bound); mods |= VA_BOUND; }
    if (write(VA_MARKED, f_.marked != v.marked)) v.marked = static_cast<uint8_t>(f_.marked ? 1 : 0);
    if (write(VA_QUALITY, f_.quality != v.quality)) { v.quality = static_cast<uint8_t>(f_.quality); mods |= VA_QUALITY; }
    if (write(VA_HOMO_PARAM, f_.homo_param != v.homo_param)) v.homo_param = static_cast<uint8_t>(f_.homo_param);
    if (write(VA_VARIABLE_TYPE, f_.variable_type != v.variable_type)) v.variable_type = static_cast<uint8_t>(f_.variable_type);
    if (write(VA_RAMPED, f_.ramped != v.ramped)) v.ramped = static_cast<uint8_t>(f_.ramped);
    if (write(VA_CONN_TYPE, f_.conn_type != v.Extras().conn_type)) v.MutableExtras().conn_type = f_.conn_type;
    if (write(VA_DESCRIPTION, f_.description && v.Extras().description != f_.description))
        v.MutableExtras().description = f_.description;
    if (write(VA_SPEC, f_.spec != v.spec)) { v.spec = static_cast<uint8_t>(f_.spec); hints |= ZEQ_HINT_SPEC; mods |= VA_SPEC; }
    if (ptype != v.ptype || entry != v.unit_entry) {
        v.ptype = static_cast<int16_t>(ptype);
        v.unit_entry = static_cast<int16_t>(entry);
        hints |= ZEQ_HINT_ATTRIBUTE;
        mods |= VA_UOM;
    }
    if (write(VA_MODIFIED, f_.modified != v.modified))
        v.modified = f_.modified;
    else
        v.modified |= mods;
    changed1_ = changed2_ = 0;
    // The record now describes the variable as it stands.
    load_ptype_ = v.ptype;
    load_entry_ = v.unit_entry;
    if (hints) sim->VariableChanged(pos, hints);
    return 0;
}

// ---- equations ----

namespace {
const AttrName kEqnAttrs[] = {{"NAME", EA_NAME, ZEQ_TYPE_TEXT},
                              {"VALUE", EA_VALUE, ZEQ_TYPE_DOUBLE},
                              {"RESIDUAL", EA_VALUE, ZEQ_TYPE_DOUBLE},
                              {"SCALE", EA_SCALE, ZEQ_TYPE_DOUBLE},
                              {"SHADOW_PRICE", EA_SHADOW_PRICE, ZEQ_TYPE_DOUBLE},
                              {"NUMBER", EA_NUMBER, ZEQ_TYPE_INT}};
}

ZEQEquationData::ZEQEquationData() = default;
ZEQEquationData::~ZEQEquationData() = default;
bool ZEQEquationData::AttribId(const char* name, int* id) { return lookup_attr(kEqnAttrs, std::size(kEqnAttrs), name, id); }
int ZEQEquationData::BaseType(int id) { return attr_type(kEqnAttrs, std::size(kEqnAttrs), id); }

// Fills an equation record from the equation at a position, under an engine call its caller holds.
struct ZEQEquationLoader {
    static void Fill(ZEQEquationData& r, zeq::Simulation* sim, int pos) {
        const zeq::Equation& e = sim->Eqns()[static_cast<size_t>(pos)];
        if (r.mask.Contains(EA_NAME)) r.name_ = e.name;
        r.residual_ = e.residual;
        r.scale_ = e.Extras().scale;
        r.shadow_ = e.Extras().shadow_price;
        r.number_ = pos + 1;
        r.loaded_ = true;
    }
    template <class T>
    static void Column(ZEQEOCntr* container, ZEQEOBlock* block, const LONG* indexes, size_t count, int id, T* out,
                       unsigned char* got) {
        zeq::EngineCall call;
        if (container) static_cast<zeq::Container*>(container)->Sim()->BeforeMemberLoad();
        ZEQEquationData record;
        record.mask.Add(id);
        for (size_t i = 0; i < count; ++i) {
            zeq::Simulation* sim = nullptr;
            const int pos = eqn_position(container, block, static_cast<int>(indexes[i]), &sim);
            got[i] = 0;
            if (pos < 0) continue;
            Fill(record, sim, pos);
            if constexpr (std::is_same_v<T, std::string>) {
                const char* text = nullptr;
                if (!record.GetValue(id, text)) continue;
                out[i].assign(text ? text : "");
            } else {
                if (!record.GetValue(id, out[i])) continue;
            }
            got[i] = 1;
        }
    }
};

bool ZEQEquationData::Load(ZEQEOCntr* container, ZEQEOBlock* block, int index, bool) {
    zeq::EngineCall call;
    loaded_ = false;
    changed_ = 0;
    if (container) static_cast<zeq::Container*>(container)->Sim()->BeforeMemberLoad();
    zeq::Simulation* sim = nullptr;
    int pos = eqn_position(container, block, index, &sim);
    if (pos < 0) return false;
    ZEQEquationLoader::Fill(*this, sim, pos);
    sim->AfterMemberLoad();
    return true;
}

void ZEQEquationData::LoadColumn(ZEQEOCntr* container, ZEQEOBlock* block, const LONG* indexes, size_t count, int id,
                                 double* out, unsigned char* got) {
    ZEQEquationLoader::Column(container, block, indexes, count, id, out, got);
}
void ZEQEquationData::LoadColumn(ZEQEOCntr* container, ZEQEOBlock* block, const LONG* indexes, size_t count, int id,
                                 int* out, unsigned char* got) {
    ZEQEquationLoader::Column(container, block, indexes, count, id, out, got);
}
void ZEQEquationData::LoadColumn(ZEQEOCntr* container, ZEQEOBlock* block, const LONG* indexes, size_t count, int id,
                                 std::string* out, unsigned char* got) {
    ZEQEquationLoader::Column(container, block, indexes, count, id, out, got);
}

int ZEQEquationData::Commit(ZEQEOCntr* container, ZEQEOBlock* block, int index, bool) {
    zeq::EngineCall call;
    zeq::Simulation* sim = nullptr;
    int pos = eqn_position(container, block, index, &sim);
    if (pos < 0) return ZEQ_E_NOT_FOUND;
    if (sim->hooks.refuse_commits) return ZEQ_E_REFUSED;
    zeq::Equation& e = sim->Eqns()[static_cast<size_t>(pos)];
    if (changed_ & EA_SCALE) e.SetExtra(&zeq::EquationExtras::scale, scale_);
    if (changed_ & EA_SHADOW_PRICE) e.SetExtra(&zeq::EquationExtras::shadow_price, shadow_);
    changed_ = 0;
    return 0;
}

bool ZEQEquationData::GetValue(int id, double& out) const {
    if (!loaded_ || !mask.Contains(id)) return false;
    switch (id) {
        case EA_VALUE: out = residual_; return true;
        case EA_SCALE: out = scale_; return true;
        case EA_SHADOW_PRICE: out = shadow_; return true;
        default: return false;
    }
}
bool ZEQEquationData::GetValue(int id, int& out) const {
    if (!loaded_ || !mask.Contains(id) || id != EA_NUMBER) return false;
    out = number_;
    return true;
}
bool ZEQEquationData::GetValue(int id, const char*& out) const {
    if (!loaded_ || !mask.Contains(id) || id != EA_NAME) return false;
    out = name_.c_str();
    return true;
}
bool ZEQEquationData::SetValue(int id, double value) {
    if (std::isnan(value)) return false;
    if (id == EA_SCALE)
        scale_ = value;
    else if (id == EA_SHADOW_PRICE)
        shadow_ = value;
    else
        return false;
    changed_ |= static_cast<uint32_t>(id);
    return true;
}

// ---- ports ----

namespace {
const AttrName kPortAttrs[] = {{"NAME", PO_NAME, ZEQ_TYPE_TEXT},     {"TYPE", PO_TYPE, ZEQ_TYPE_TEXT},
                               {"DIRECTION", PO_DIRECTION, ZEQ_TYPE_TEXT}, {"BASIS", PO_BASIS, ZEQ_TYPE_TEXT},
                               {"PHASE", PO_PHASE, ZEQ_TYPE_TEXT},   {"STREAM", PO_STREAM, ZEQ_TYPE_TEXT},
                               {"NUMBER", PO_NUMBER, ZEQ_TYPE_INT}};
}

ZEQPortData::ZEQPortData() = default;
ZEQPortData::~ZEQPortData() = default;
bool ZEQPortData::AttribId(const char* name, int* id) { return lookup_attr(kPortAttrs, std::size(kPortAttrs), name, id); }
int ZEQPortData::BaseType(int id) { return attr_type(kPortAttrs, std::size(kPortAttrs), id); }

bool ZEQPortData::Load(zeq_port* port) {
    zeq::EngineCall call;
    loaded_ = false;
    if (!port) return false;
    auto* p = static_cast<zeq::Port*>(port);
    const zeq::PortDef& d = p->Def();
    name_ = d.name;
    type_ = d.type;
    direction_ = d.direction;
    basis_ = d.basis;
    phase_ = d.phase;
    stream_ = d.stream;
    number_ = 0;
    if (zeq::Block* b = p->Owner())
        for (int i = 1; i <= b->GetPortCount(); ++i)
            if (b->GetPort(i) == port) number_ = i;
    loaded_ = true;
    return true;
}

bool ZEQPortData::Load(ZEQEOBlock* block, int port_index) {
    zeq::EngineCall call;
    loaded_ = false;
    return block && Load(block->GetPort(port_index));
}

bool ZEQPortData::GetValue(int id, const char*& out) const {
    if (!loaded_ || !mask.Contains(id)) return false;
    switch (id) {
        case PO_NAME: out = name_.c_str(); return true;
        case PO_TYPE: out = type_.c_str(); return true;
        case PO_DIRECTION: out = direction_.c_str(); return true;
        case PO_BASIS: out = basis_.c_str(); return true;
        case PO_PHASE: out = phase_.c_str(); return true;
        case PO_STREAM: out = stream_.c_str(); return true;
        default: return false;
    }
}

bool ZEQPortData::GetValue(int id, int& out) const {
    if (!loaded_ || !mask.Contains(id) || id != PO_NUMBER) return false;
    out = number_;
    return true;
}
