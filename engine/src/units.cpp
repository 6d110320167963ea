// Unit lookups over the physical-type table. Physical type 0 is UNTYPED and has no units.
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "names.h"
#include "units_table.h"
#include "zeq_units.h"

namespace {

struct Index {
    std::vector<int> first;  // first kUnits position per type, -1 when none
    std::vector<int> count;
    // Physical type by name, without regard to case: every variable of a model is typed by name.
    std::unordered_map<std::string_view, int, zeq::CaselessHash, zeq::CaselessEqual> ptype;
    Index() : first(RTOUOM_PTYPE_COUNT, -1), count(RTOUOM_PTYPE_COUNT, 0) {
        for (int i = 0; i < zeq::kUnitCount; ++i) {
            int t = zeq::kUnits[i].ptype;
            if (first[t] < 0) first[t] = i;
            ++count[t];
        }
        for (int t = 0; t < RTOUOM_PTYPE_COUNT; ++t) ptype.emplace(zeq::kPhysicalTypeNames[t], t);  // the first wins
    }
};
const Index& index() {
    static const Index idx;
    return idx;
}
const zeq::UnitDef* unit_at(int ptype, int entry) {
    if (ptype < 0 || ptype >= RTOUOM_PTYPE_COUNT) return nullptr;
    const Index& idx = index();
    if (entry < 1 || entry > idx.count[ptype]) return nullptr;
    return &zeq::kUnits[idx.first[ptype] + entry - 1];
}

}  // namespace

extern "C" {

int rtouom_get_uomlist(int ptype, char*** names) {
    if (names) *names = nullptr;
    if (ptype < 0 || ptype >= RTOUOM_PTYPE_COUNT) return -1;
    int n = index().count[ptype];
    if (n == 0 || !names) return n;
    char** list = static_cast<char**>(std::calloc(static_cast<size_t>(n), sizeof(char*)));
    for (int i = 0; i < n; ++i) list[i] = strdup(unit_at(ptype, i + 1)->name);
    *names = list;
    return n;
}

void rtouom_destroy_uomlist(char** names, int count) {
    if (!names) return;
    for (int i = 0; i < count; ++i) std::free(names[i]);
    std::free(names);
}

int rtouom_get_default(int ptype) {
    if (ptype < 0 || ptype >= RTOUOM_PTYPE_COUNT) return 0;
    return index().count[ptype] > 0 ? 1 : 0;
}

const char* rtouom_ptype_name(int ptype) {
    return ptype >= 0 && ptype < RTOUOM_PTYPE_COUNT ? zeq::kPhysicalTypeNames[ptype] : nullptr;
}

int rtouom_ptype_locate(const char* units, int ptype, int* entry) {
    if (entry) *entry = 0;
    if (!units || ptype < 0 || ptype >= RTOUOM_PTYPE_COUNT) return -1;
    int n = index().count[ptype];
    // An exact match wins over a caseless one (mm and Mm would otherwise collide).
    for (int i = 1; i <= n; ++i)
        if (std::strcmp(unit_at(ptype, i)->name, units) == 0) {
            if (entry) *entry = i;
            return 0;
        }
    for (int i = 1; i <= n; ++i)
        if (zeq::iequals(unit_at(ptype, i)->name, units)) {
            if (entry) *entry = i;
            return 0;
        }
    return -1;
}

int rtouom_uom_info(int ptype, int entry, rtouom_info* info) {
    const zeq::UnitDef* u = unit_at(ptype, entry);
    if (!u || !info) return -1;
    *info = rtouom_info{u->name, u->factor, u->offset, ptype, entry};
    return 0;
}

double rtouom_delta_si2pair(int ptype, int entry, double delta) {
    const zeq::UnitDef* u = unit_at(ptype, entry);
    return u ? delta / u->factor : delta;
}

double rtouom_to_base(int ptype, int entry, double value) {
    const zeq::UnitDef* u = unit_at(ptype, entry);
    return u ? value * u->factor + u->offset : value;
}

double rtouom_from_base(int ptype, int entry, double value) {
    const zeq::UnitDef* u = unit_at(ptype, entry);
    return u ? (value - u->offset) / u->factor : value;
}

int pt_lookup(const char* name) {
    if (!name) return -1;
    const auto& names = index().ptype;
    auto it = names.find(std::string_view(name));
    return it == names.end() ? -1 : it->second;
}

}  // extern "C"
