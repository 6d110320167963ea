// Global parameters and variable questions through the process's active simulation.
#include <cstring>

#include "model.h"
#include "zeq_host.h"

namespace {
zeq::ParameterTable* table_or_active(EngineParameterTable* table) {
    if (table) return static_cast<zeq::ParameterTable*>(table);
    zeq::Simulation* sim = zeq::ActiveSimulation();
    return sim ? &sim->Globals() : nullptr;
}
zeq::Simulation* sim_of(ZEQEOSimulation* sim) {
    return sim ? static_cast<zeq::Simulation*>(sim) : zeq::ActiveSimulation();
}
}  // namespace

extern "C" {

int param_num_defined(EngineParameterTable* table) {
    zeq::EngineCall call;
    zeq::ParameterTable* t = table_or_active(table);
    return t ? static_cast<int>(t->params.size()) : 0;
}

int param_inq_name(EngineParameterTable* table, int index, char* buf, int size) {
    zeq::EngineCall call;
    zeq::ParameterTable* t = table_or_active(table);
    if (!buf || size <= 0) return -1;
    buf[0] = 0;
    if (!t || index < 1 || index > static_cast<int>(t->params.size())) return -1;
    const std::string& name = t->params[static_cast<size_t>(index - 1)].name;
    size_t n = std::min(name.size(), static_cast<size_t>(size - 1));
    std::memcpy(buf, name.data(), n);
    buf[n] = 0;
    return static_cast<int>(n);
}

int param_read_only(const char* name, int) {
    zeq::EngineCall call;
    zeq::ParameterTable* t = table_or_active(nullptr);
    if (!t || !name) return 1;
    int i = t->Find(name);
    return i < 0 ? 1 : (t->params[static_cast<size_t>(i)].access == 0 ? 1 : 0);
}

int param_set(const char* name, const value_t* value, int, EngineParameterTable* table) {
    zeq::EngineCall call;
    zeq::ParameterTable* t = table_or_active(table);
    if (!t || !name || !value) return E_POINTER;
    int i = t->Find(name);
    if (i < 0) return ZEQ_E_NOT_FOUND;
    zeq::Parameter& p = t->params[static_cast<size_t>(i)];
    if (p.access == 0) return ZEQ_E_REFUSED;
    const value_t* cur = p.value.get();
    bool numeric_cur = cur->kind == VALUE_NUMBER || cur->kind == VALUE_BOUNDEDNUM;
    bool numeric_new = value->kind == VALUE_NUMBER || value->kind == VALUE_BOUNDEDNUM;
    // A value keeps its kind family: numbers stay numbers, texts texts (identifiers and strings mix),
    // logicals logicals; lists take any list. A missing value takes anything.
    bool same = cur->kind == VALUE_MISSING || cur->kind == value->kind || (numeric_cur && numeric_new) ||
                ((cur->kind == VALUE_STRING || cur->kind == VALUE_ID) &&
                 (value->kind == VALUE_STRING || value->kind == VALUE_ID));
    if (!same) return ZEQ_E_REFUSED;
    if (cur->kind == VALUE_BOUNDEDNUM) {
        double d = value->is_int ? static_cast<double>(value->u.i) : value->u.d;
        if (d < cur->lower || d > cur->upper) return ZEQ_E_REFUSED;
        value_t next;
        value_init(&next);
        value_copy(&next, cur);
        int r = value->is_int ? boundednumSetValAsInt(&next, value->u.i) : boundednumSetValAsReal(&next, value->u.d);
        if (r == 0) value_copy(p.value.get(), &next);
        value_destroy(&next);
        return r == 0 ? 0 : ZEQ_E_REFUSED;
    }
    value_copy(p.value.get(), value);
    return 0;
}

int varIsFixed(ZEQEOSimulation* sim, int index) {
    zeq::EngineCall call;
    zeq::Simulation* s = sim_of(sim);
    return s && s->IsFixed(index - 1) ? 1 : 0;
}

int varIsIndependent(ZEQEOSimulation* sim, int index) {
    zeq::EngineCall call;
    zeq::Simulation* s = sim_of(sim);
    return s && s->IsIndependent(index - 1) ? 1 : 0;
}

int varInqPhysicalType(ZEQEOSimulation* sim, int index) {
    zeq::EngineCall call;
    zeq::Simulation* s = sim_of(sim);
    if (!s || index < 1 || index > static_cast<int>(s->Vars().size())) return -1;
    return s->Vars()[static_cast<size_t>(index - 1)].ptype;
}

}  // extern "C"

namespace {
// Whether a variable spec kind is fixed in the current run mode.
bool spec_fixed(int spec) {
    int mode = rto_inq_mode_c();
    switch (spec) {
        case SPEC_CONST: return true;
        case SPEC_INDEP: return mode != ZEQ_MODE_OPTIMIZATION;
        case SPEC_MEAS: return mode == ZEQ_MODE_SIMULATION || mode == ZEQ_MODE_OPTIMIZATION;
        case SPEC_PARAM: return mode != ZEQ_MODE_PARAM_EST;
        case SPEC_OPTIM: return mode != ZEQ_MODE_OPTIMIZATION;
        case SPEC_RECON: return mode != ZEQ_MODE_DATA_RECON;
        default: return false;
    }
}
}  // namespace

namespace zeq {
bool SpecIsFixed(int spec) { return spec_fixed(spec); }
}  // namespace zeq

int varIsFixed(int spec) { return spec_fixed(spec) ? 1 : 0; }

int varIsIndependent(int spec) {
    return spec == SPEC_INDEP || (spec == SPEC_OPTIM && rto_inq_mode_c() == ZEQ_MODE_OPTIMIZATION) ? 1 : 0;
}

int varIsFixed(const ZEQVariableData* record) {
    int spec = 0;
    return record && record->GetValue(VA_SPEC, spec) ? varIsFixed(spec) : 0;
}

int varIsIndependent(const ZEQVariableData* record) {
    int spec = 0;
    return record && record->GetValue(VA_SPEC, spec) ? varIsIndependent(spec) : 0;
}

int varInqPhysicalType(const ZEQVariableData* record) {
    int ptype = -1;
    return record && record->GetValue(VA_PTYPE_ID, ptype) ? ptype : -1;
}
