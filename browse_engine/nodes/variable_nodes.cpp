// A block's variable list and the variable leaf: every attribute is one record loaded or committed with
// the mask of exactly the engine fields involved.
#include <zeq_lib.h>
#include <zeq_objects.h>
#include <zeq_records.h>
#include <zeq_units.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <iterator>
#include <optional>
#include <string>

#include "browse/document.h"
#include "nodes/engine_nodes.h"
#include "nodes/engine_values.h"
#include "nodes/node_cursors.h"

namespace FI {

namespace {

// One variable record of a node: masks, loads and commits address the node's container and index.
struct VarRecord {
    ZEQVariableData data;
    VarRecord(uint32_t word1, uint32_t word2) { data.SetMask(word1, word2); }
    bool Load(ZEQEOCntr* container, uint32_t index, bool flag) {
        return container != nullptr && data.Load(container, nullptr, static_cast<int>(index), flag);
    }
    int Commit(ZEQEOCntr* container, uint32_t index) {
        if (container == nullptr) return -1;
        return data.Commit(container, nullptr, static_cast<int>(index), true);
    }
};

constexpr uint32_t kUnitEntryWord2 = 0x2;  // the second-word bit of the unit entry located by name

int PhysicalTypeId(ZEQEOCntr* container, uint32_t index) {
    VarRecord r(VA_PTYPE_ID, 0);
    int ptype = 0;
    if (r.Load(container, index, false)) r.data.GetValue(VA_PTYPE_ID, ptype);
    return ptype;
}

// The units of the physical type joined by line feeds; false when the type has none.
bool UnitList(int ptype, std::string* joined) {
    if (ptype < 1) return false;
    char** names = nullptr;
    const int count = rtouom_get_uomlist(ptype, &names);
    if (count < 1 || names == nullptr) {
        if (names != nullptr) rtouom_destroy_uomlist(names, count);
        return false;
    }
    if (joined != nullptr) {
        for (int i = 0; i < count; ++i) {
            if (i > 0) joined->push_back('\n');
            if (names[i] != nullptr) joined->append(names[i]);
        }
    }
    rtouom_destroy_uomlist(names, count);
    return true;
}

bool CarriesQuantity(uint32_t id) {
    switch (id) {
        case attr::kValue:
        case attr::kUpperLimit:
        case attr::kLowerLimit:
        case attr::kInitial:
        case attr::kShadowPrice:
        case attr::kSolveScale:
        case attr::kStep:
        case attr::kChange: return true;
        default: return false;
    }
}

// The units the call's display asks for; empty without a display or units.
std::string DisplayUnits(Entry& node) {
    Display* display = node.GetDisplay();
    if (display == nullptr) return {};
    FIValue units;
    display->GetUnits(units);
    if (!units.IsText() || units.Length() == 0) return {};
    return units.ToStdString();
}

// The unit entry of `units` for the variable's physical type; 0 when the engine cannot convert to it.
int UnitEntry(const std::string& units, int ptype) {
    int entry = 0;
    if (ptype <= 0 || rtouom_ptype_locate(units.c_str(), ptype, &entry) != 0 || entry <= 0) return 0;
    return entry;
}

// How the quantities of one attribute call convert between the variable's own unit and the units the
// caller's display asks for. The variable is never changed for it: other threads read it meanwhile. Units
// the engine cannot convert to leave the quantities in the variable's own unit: `InWantedUnits` then says
// false, and values must not be taken as given in the wanted ones.
class DisplayUnitConversion {
public:
    DisplayUnitConversion(Entry& node, ZEQEOCntr* container, uint32_t index) : wanted_(DisplayUnits(node)) {
        if (wanted_.empty()) return;
        VarRecord own(VA_PTYPE_ID | VA_UOM, 0);
        if (!own.Load(container, index, true)) return;
        const char* unit = nullptr;
        own.data.GetValue(VA_PTYPE_ID, ptype_);
        own.data.GetValue(VA_UOM, unit);
        if (unit != nullptr && wanted_ == unit) {
            inWanted_ = true;
            return;
        }
        wantedEntry_ = UnitEntry(wanted_, ptype_);
        if (wantedEntry_ == 0 || unit == nullptr || rtouom_ptype_locate(unit, ptype_, &ownEntry_) != 0 ||
            ownEntry_ <= 0) {
            return;
        }
        inWanted_ = converts_ = true;
    }
    bool InWantedUnits() const { return wanted_.empty() || inWanted_; }
    const std::string& Wanted() const { return wanted_; }
    // A quantity of attribute id from the variable's own unit to the wanted units, and back.
    double ToWanted(uint32_t id, double x) const { return Convert(id, x, ownEntry_, wantedEntry_); }
    double FromWanted(uint32_t id, double x) const { return Convert(id, x, wantedEntry_, ownEntry_); }

private:
    // As the engine converts: bounds at or beyond 1e20 mean "none" and stay as they are; steps and
    // changes are differences, which the offset of a unit does not apply to; scales and prices carry no
    // unit.
    double Convert(uint32_t id, double x, int from, int to) const {
        if (!converts_) return x;
        switch (id) {
            case attr::kValue:
            case attr::kInitial: return rtouom_from_base(ptype_, to, rtouom_to_base(ptype_, from, x));
            case attr::kLowerLimit:
                return x <= -1e20 ? x : rtouom_from_base(ptype_, to, rtouom_to_base(ptype_, from, x));
            case attr::kUpperLimit:
                return x >= 1e20 ? x : rtouom_from_base(ptype_, to, rtouom_to_base(ptype_, from, x));
            case attr::kStep:
            case attr::kChange: {
                rtouom_info info{};
                if (rtouom_uom_info(ptype_, from, &info) != 0) return x;
                return rtouom_delta_si2pair(ptype_, to, x * info.factor);
            }
            default: return x;
        }
    }

    std::string wanted_;
    int ptype_ = 0;
    int ownEntry_ = 0;
    int wantedEntry_ = 0;
    bool converts_ = false;
    bool inWanted_ = false;
};

struct RealField {
    uint32_t id;
    int mask;
    bool loadFlag;
};
constexpr RealField kRealReads[] = {
    {attr::kValue, VA_VALUE, true},          {attr::kUpperLimit, VA_UPPER, true},
    {attr::kLowerLimit, VA_LOWER, true},     {attr::kInitial, VA_INITIAL, true},
    {attr::kSbWeight, VA_SBWEIGHT, false},   {attr::kShadowPrice, VA_SHADOW_PRICE, true},
    {attr::kIntScale, VA_INTSCALE, false},   {attr::kSolveScale, VA_SCALE, true},
    {attr::kStep, VA_STEP, true},            {attr::kChange, VA_CHANGE, true},
};

struct EnumField {
    uint32_t id;
    int mask;
};
constexpr EnumField kEnumReads[] = {
    {attr::kActiveBound, VA_ACTIVE_BOUND}, {attr::kSpec, VA_SPEC}, {attr::kBoundType, VA_BOUND}};

struct RealWrite {
    uint32_t id;
    int mask;
    const char* refusal;
};
constexpr RealWrite kRealWrites[] = {
    {attr::kValue, VA_VALUE, "Unable to set value"},
    {attr::kUpperLimit, VA_UPPER, "Unable to set upper bound"},
    {attr::kLowerLimit, VA_LOWER, "Unable to set lower bound"},
    {attr::kSbWeight, VA_SBWEIGHT, "Unable to set variable soft bound weight"},
    {attr::kIntScale, VA_INTSCALE, "Unable to set variable internal scale."},
    {attr::kSolveScale, VA_SCALE, "Unable to set variable solve scale."},
    {attr::kStep, VA_STEP, "Unable to set step bound"},
};

constexpr RealWrite kTextWrites[] = {
    {attr::kSpec, VA_SPEC,
     "Invalid spec.  Valid values are CALC, CONST, FIXED, FREE, INDEP, INITIAL, MEAS, OPTIM, PARAM, RECON."},
    {attr::kBoundType, VA_BOUND, "Invalid variable bound type.  Valid values are SOFT, HARD, RELAXED."},
    {attr::kQuality, VA_QUALITY, "Invalid variable quality.  Valid values are GOOD, BAD, OVERRIDE, BADIGNORE."},
};

constexpr const char* kUomNoType = "Unable to set uom, variable has no defined physical type (physical_type_id = 0)";

}  // namespace

// ---- names ----

// A block's members are named by its prefix, a '.' and their own name; for a block without a name in
// the flowsheet the prefix is empty and the name starts with the '.'.
void MemberBrowseName(ZEQEOCntr* container, ZEQEOBlock* block, const char* name, uint32_t index, FIValue& out) {
    if (name != nullptr && *name != '\0') {
        const char* prefix = block != nullptr ? container->GetBlockPrefix(block) : nullptr;
        const char* below = nullptr;
        if (prefix != nullptr) below = *prefix == '\0' && *name == '.' ? name + 1 : StripNamePrefix(prefix, name);
        out.SetString(below != nullptr && *below != '\0' ? below : name);
        return;
    }
    out.SetString("#" + std::to_string(index));
}

std::string MemberFullName(ZEQEOCntr* container, ZEQEOBlock* block, const char* name) {
    const char* prefix = block != nullptr ? container->GetBlockPrefix(block) : nullptr;
    if (prefix != nullptr) return std::string(prefix) + "." + name;
    return name;
}

void VariableBrowseName(ZEQEOCntr* container, ZEQEOBlock* block, uint32_t index, FIValue& out) {
    VarRecord r(VA_NAME, 0);
    const char* name = nullptr;
    const bool loaded = r.Load(container, index, true) && r.data.GetValue(VA_NAME, name);
    MemberBrowseName(container, block, loaded ? name : nullptr, index, out);
}

std::string VariableEngineName(ZEQEOCntr* container, uint32_t index) {
    VarRecord r(VA_NAME, 0);
    const char* name = nullptr;
    if (!r.Load(container, index, true) || !r.data.GetValue(VA_NAME, name) || name == nullptr) return {};
    return name;
}

int32_t FindVariableIndex(ZEQEOCntr* container, ZEQEOBlock* block, const char* name) {
    if (container == nullptr || name == nullptr) return 0;
    return container->FindIndex(MemberFullName(container, block, name).c_str());
}

// ---- variable ----

bool FIVORNVariableNode::IsAttributeValid(const char* name, uint32_t id) {
    switch (id) {
        case attr::kValue:
        case attr::kDimension:
        case attr::kUpperLimit:
        case attr::kLowerLimit:
        case attr::kStatus: return true;
        case attr::kUom:
        case attr::kUomOptions: return UnitList(OwnPhysicalType(), nullptr);
        default:
            if (id >= attr::kActiveBound && id <= attr::kQuality) return true;
            return Entry::IsAttributeValid(name, id);
    }
}

int FIVORNVariableNode::OwnPhysicalType() const {
    int ptype = 0;
    const bool found =
        UseMember([&](ZEQEOCntr* container, uint32_t index) { ptype = PhysicalTypeId(container, index); });
    return found ? ptype : 0;
}

void FIVORNVariableNode::GetAttribute(const char* name, uint32_t id, FIValue& out) {
    std::string unconvertible;  // the units asked for when the engine cannot convert to them
    const bool found = UseMember([&](ZEQEOCntr* container, uint32_t index) {
        out.Clear();
        unconvertible.clear();
        Read(container, index, name, id, out);
        if (CarriesQuantity(id) && out.IsNumber()) {
            const DisplayUnitConversion units(*this, container, index);
            if (units.InWantedUnits()) out.SetDouble(units.ToWanted(id, out.ToDouble()));
            else unconvertible = units.Wanted();
        }
    });
    // Nothing of an attempt made while the numbering moved is kept.
    if (!found) {
        Entry::GetAttribute(name, id, out);
        return;
    }
    // A quantity is never answered in the variable's own unit as if it were in the units asked for: the
    // read fails, as a write in those units does.
    if (!unconvertible.empty()) throw FIError(("Unable to convert to unit " + unconvertible).c_str());
}

void FIVORNVariableNode::Read(ZEQEOCntr* container, uint32_t index, const char* name, uint32_t id, FIValue& out) {
    for (const RealField& f : kRealReads) {
        if (f.id != id) continue;
        VarRecord r(static_cast<uint32_t>(f.mask), 0);
        r.Load(container, index, f.loadFlag);
        double d = 0;
        if (r.data.GetValue(f.mask, d)) out.SetDouble(d);
        return;
    }
    for (const EnumField& f : kEnumReads) {
        if (f.id != id) continue;
        VarRecord r(static_cast<uint32_t>(f.mask), 0);
        r.Load(container, index, false);
        int n = 0;
        const char* text = nullptr;
        if (r.data.GetValue(f.mask, n) && ZEQVariableData::EnumToString(f.mask, n, text) && text != nullptr) {
            out.SetString(text);
        }
        return;
    }
    switch (id) {
        case attr::kDimension: {
            VarRecord r(0, 0x1);
            r.Load(container, index, false);
            const char* text = nullptr;
            if (r.data.GetValue(VA_PHYSICAL_TYPE, text) && text != nullptr) out.SetString(text);
            return;
        }
        case attr::kUom: {
            // The unit the call's quantities come in: the display's when the engine converts to it, else
            // the variable's own.
            VarRecord r(VA_UOM | VA_PTYPE_ID, 0);
            r.Load(container, index, true);
            const char* text = nullptr;
            int ptype = 0;
            r.data.GetValue(VA_PTYPE_ID, ptype);
            const std::string wanted = DisplayUnits(*this);
            if (!wanted.empty() && UnitEntry(wanted, ptype) != 0) {
                out.SetString(wanted);
                return;
            }
            if (r.data.GetValue(VA_UOM, text) && text != nullptr) out.SetString(text);
            return;
        }
        case attr::kUomOptions: {
            std::string joined;
            if (UnitList(PhysicalTypeId(container, index), &joined)) out.SetString(joined);
            return;
        }
        case attr::kStatus: {
            VarRecord r(VA_SPEC, 0);
            r.Load(container, index, false);
            out.SetString(varIsFixed(&r.data) ? "Specified" : "Calculated");
            return;
        }
        case attr::kMarked:
        case attr::kModified: {
            const int mask = id == attr::kMarked ? VA_MARKED : VA_MODIFIED;
            VarRecord r(static_cast<uint32_t>(mask), 0);
            r.Load(container, index, false);
            int n = 0;
            if (r.data.GetValue(mask, n)) out.SetInt(n);
            return;
        }
        case attr::kQuality: {
            static constexpr const char* kQualities[] = {"GOOD", "BAD", "OVERRIDE", "BADIGNORE"};
            VarRecord r(VA_QUALITY, 0);
            r.Load(container, index, false);
            int n = -1;
            r.data.GetValue(VA_QUALITY, n);
            if (n >= 0 && n < 4) out.SetString(kQualities[n]);
            return;
        }
        default: Entry::GetAttribute(name, id, out); return;
    }
}

void FIVORNVariableNode::SetAttribute(const char* name, uint32_t id, const FIValue& value, FIError& error) {
    // The units of a quantity are read with the numbering steady: those of this variable, not of the one
    // that took its index meanwhile.
    std::optional<DisplayUnitConversion> units;
    const bool found = UseMember([&](ZEQEOCntr* container, uint32_t index) {
        if (CarriesQuantity(id)) units.emplace(*this, container, index);
    });
    if (!found) {
        Entry::SetAttribute(name, id, value, error);
        return;
    }
    if (units) {
        // A quantity given in units the engine cannot convert from is refused, never stored as if it were
        // in the variable's own unit.
        const bool writable = std::any_of(std::begin(kRealWrites), std::end(kRealWrites),
                                          [id](const RealWrite& w) { return w.id == id; });
        if (writable && !units->InWantedUnits()) {
            error.SetMessage("Unable to convert from unit " + units->Wanted());
            return;
        }
        double d = 0;
        if (writable && ReadNumber(value, d)) {
            Write(name, id, FIValue(units->FromWanted(id, d)), error);
            return;
        }
    }
    Write(name, id, value, error);
}

// The record is loaded at the index found for the node's variable, and committed only when no block came
// or went from the finding to the end of the load: the record is then this variable's, and the engine
// commits a loaded record only to the variable it was loaded from. When the variables were renumbered in
// between (another thread added or removed a block), the variable is found again and the write made
// again, so a write never lands on the variable that took this one's place.
int FIVORNVariableNode::CommitOwn(uint32_t word1, uint32_t word2, const std::function<bool(ZEQVariableData&)>& set) {
    for (int attempt = 0; attempt < kSteadyAttempts; ++attempt) {
        EngineAnchor::Place place;
        uint32_t index = 0;
        if (!Locate(place, index)) return -1;
        VarRecord r(word1, word2);
        const bool loaded = r.Load(place.container, index, true);
        if (!EngineAnchor::Unmoved(place)) continue;
        if (!loaded || !set(r.data)) return -1;
        const int result = r.Commit(place.container, index);
        if (result >= 0 || EngineAnchor::Unmoved(place)) return result;
    }
    return -1;
}

void FIVORNVariableNode::Write(const char* name, uint32_t id, const FIValue& value, FIError& error) {
    for (const RealWrite& w : kRealWrites) {
        if (w.id != id) continue;
        double d = 0;
        if (!ReadNumber(value, d) ||
            CommitOwn(static_cast<uint32_t>(w.mask), 0, [&](ZEQVariableData& data) { return data.SetValue(w.mask, d); }) < 0) {
            error.SetMessage(w.refusal);
        }
        return;
    }
    for (const RealWrite& w : kTextWrites) {
        if (w.id != id) continue;
        const std::string text = value.ToStdString();
        if (CommitOwn(static_cast<uint32_t>(w.mask), 0,
                      [&](ZEQVariableData& data) { return data.SetValue(w.mask, text.c_str()); }) < 0) {
            error.SetMessage(w.refusal);
        }
        return;
    }
    switch (id) {
        case attr::kDimension: {
            const std::string text = value.ToStdString();
            const int ptype = pt_lookup(text.c_str());
            if (ptype < 0) {
                error.SetMessage("Unknown physical type name");
                return;
            }
            if (CommitOwn(VA_PTYPE_ID, 0, [&](ZEQVariableData& data) { return data.SetValue(VA_PTYPE_ID, ptype); }) < 0)
                error.SetMessage("Unable to set value");
            return;
        }
        case attr::kUom: {
            // The variable's unit changes for good, whatever units the call's display carries.
            const int ptype = OwnPhysicalType();
            if (ptype < 1) {
                error.SetMessage(kUomNoType);
                return;
            }
            const std::string text = value.ToStdString();
            int entry = 0;
            if (rtouom_ptype_locate(text.c_str(), ptype, &entry) != 0 || entry < 1 ||
                CommitOwn(0, kUnitEntryWord2, [&](ZEQVariableData& data) { return data.SetValue(VA_UNIT_ENTRY, entry); }) <
                    0) {
                error.SetMessage("Unable to set uom, unknown unit");
            }
            return;
        }
        default: Entry::SetAttribute(name, id, value, error); return;
    }
}

}  // namespace FI
