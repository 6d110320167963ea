// Attribute records: load one engine object's attributes selected by a mask, read and change them, and
// commit the changes back. Text read from a record is owned by the record.
#pragma once
#include <oaidl.h>

#include <cstdint>
#include <string>
#include <vector>

#include "zeq_value.h"

class ZEQEOCntr;
class ZEQEOBlock;
class ZEQEOSimulation;
class zeq_port;
class VarProfile;
struct IZEQQueryEngine;

// An engine-owned text.
class ZEQString {
public:
    ZEQString() = default;
    ZEQString(const char* s) : text_(s ? s : "") {}
    const char* c_str() const { return text_.c_str(); }
    void Set(const char* s) { text_ = s ? s : ""; }
    bool IsEmpty() const { return text_.empty(); }
    int Length() const { return static_cast<int>(text_.size()); }

private:
    std::string text_;
};

// A list of engine texts filled by the engine (objective names, solver scopes, ...). 0-based.
class ZEQStringList {
public:
    int GetCount() const { return static_cast<int>(items_.size()); }
    const char* GetAt(int i) const { return i >= 0 && i < GetCount() ? items_[i].c_str() : nullptr; }
    void Add(const char* s) { items_.emplace_back(s ? s : ""); }
    void Clear() { items_.clear(); }

private:
    std::vector<std::string> items_;
};

// Two-word attribute mask: positive ids are OR-ed into word 1, negated negative ids into word 2;
// 0x7fffffff in both words selects every attribute.
struct ZEQAttribMask {
    uint32_t word1 = 0;
    uint32_t word2 = 0;
    void Set(int id);
    void Add(int id);
    bool Contains(int id) const;
    bool All() const { return word1 == 0x7fffffff && word2 == 0x7fffffff; }
};

enum ZEQBaseType { ZEQ_TYPE_DOUBLE = 1, ZEQ_TYPE_TEXT = 2, ZEQ_TYPE_INT = 3, ZEQ_TYPE_ENUM = 4, ZEQ_TYPE_VARIANT = 5 };

// Variable attribute ids.
enum ZEQVarAttrib : int {
    VA_NAME = 0x1, VA_VALUE = 0x2, VA_LOWER = 0x4, VA_UPPER = 0x8, VA_STEP = 0x10, VA_INTSCALE = 0x20,
    VA_SCALE = 0x40, VA_SBWEIGHT = 0x80, VA_MODBIT = 0x100, VA_INITIAL = 0x200, VA_UOM = 0x400, VA_BOUND = 0x800,
    VA_MARKED = 0x1000, VA_MODIFIED = 0x4000, VA_ACTIVE_BOUND = 0x10000, VA_SHADOW_PRICE = 0x20000,
    VA_QUALITY = 0x40000, VA_BASEUOM = 0x80000, VA_PTYPE_ID = 0x100000, VA_HOMO_PARAM = 0x400000,
    VA_HOMO_TARGET = 0x800000, VA_DESCRIPTION = 0x1000000, VA_VARIABLE_TYPE = 0x2000000, VA_PROFILE = 0x4000000,
    VA_THRESHOLD = 0x8000000, VA_RAMPED = 0x10000000, VA_CHANGE = 0x20000000, VA_SPEC = 0x40000000,
    VA_PHYSICAL_TYPE = -1, VA_UNIT_ENTRY = -2, VA_NUMBER = -4, VA_CONN_TYPE = -8,
};
enum ZEQSpec { SPEC_CALC = 0, SPEC_CONST = 1, SPEC_INDEP = 2, SPEC_MEAS = 3, SPEC_PARAM = 4, SPEC_OPTIM = 5,
               SPEC_RECON = 6, SPEC_INITIAL = 7 };
enum ZEQBound { BOUND_HARD = 0, BOUND_RELAXED = 1, BOUND_SOFT = 2 };
enum ZEQQuality { QUALITY_GOOD = 0, QUALITY_BAD = 1, QUALITY_OVERRIDE = 2, QUALITY_BADIGNORE = 3 };
enum ZEQActiveBound { ACTIVE_NONE = 0, ACTIVE_LOWER = 1, ACTIVE_UPPER = 2 };

enum ZEQEqnAttrib : int { EA_NAME = 0x1, EA_VALUE = 0x2, EA_SCALE = 0x4, EA_SHADOW_PRICE = 0x100, EA_NUMBER = -4 };
enum ZEQParamAttrib : int {
    PA_NAME = 0x1, PA_VALUE = 0x2, PA_UOM = 0x4, PA_ACCESS = 0x8, PA_DESCRIPTION = 0x10, PA_LOWER = 0x20,
    PA_UPPER = 0x40, PA_TYPE = 0x80, PA_PHYSICAL_TYPE = 0x100, PA_NUMBER = -4,
};
enum ZEQParamType { PT_REAL = 0, PT_INTEGER = 1, PT_TEXT = 2, PT_BOOLEAN = 3, PT_CHOICE = 4 };
enum ZEQPortAttrib : int {
    PO_NAME = 0x1, PO_TYPE = 0x2, PO_DIRECTION = 0x4, PO_BASIS = 0x8, PO_PHASE = 0x10, PO_STREAM = 0x20,
    PO_NUMBER = -4,
};

// Reads a text attribute of any record through a non-const pointer.
template <class Record>
bool TextOut(const Record& r, int id, char*& out) {
    const char* text = nullptr;
    if (!r.GetValue(id, text)) return false;
    out = const_cast<char*>(text);
    return true;
}

// Value of a double attribute that is not set (an empty grid row).
inline constexpr double ZEQ_NOT_SET_DOUBLE = 1e35;
inline constexpr int ZEQ_NOT_SET_INT = 99999999;

// The attributes of one variable as a record holds them. Texts are borrowed from the engine until its next
// structural change, or owned by the record once set.
struct ZEQVarFields {
    const char* name = "";
    double value = 0, lower = 0, upper = 0, step = 0, intscale = 1, scale = 1, sbweight = 0, initial = 0;
    double shadow_price = 0, homo_target = 0, threshold = 0, change = 0;
    const char* uom = "";
    const char* baseuom = "";
    const char* ptype_name = "";
    const char* description = "";
    int unit_entry = 0, bound = 0, marked = 0, active_bound = 0, quality = 0, ptype = 0, homo_param = 0;
    int variable_type = 0, ramped = 0, spec = 0, number = 0, conn_type = 0;
    uint32_t modified = 0;   // modification bits of attributes (VA_* values)
    const VarProfile* profile = nullptr;
};

class ZEQVariableData {
public:
    ZEQVariableData() = default;
    ZEQVariableData(const ZEQVariableData&) = delete;
    ZEQVariableData& operator=(const ZEQVariableData&) = delete;

    ZEQAttribMask mask;
    void SetMask(uint32_t word1, uint32_t word2) { mask.word1 = word1; mask.word2 = word2; }

    // false for a name the record lacks.
    static bool AttribId(const char* name, int* id);
    // 1 double, 2 text, 3 int, 4 enumeration (readable as int and as text); 0 for an unknown id.
    static int BaseType(int id);

    // index is 1-based in the container; with a block it counts from the block's first variable.
    bool Load(ZEQEOCntr* container, ZEQEOBlock* block, int index, bool flag);
    // One attribute of many variables in one engine call, as Load and GetValue would give it row by row: for
    // each i < count, got[i] is 1 and out[i] is GetValue(id, out[i]) of a record loaded from indexes[i] with
    // id in its mask; got[i] is 0, and out[i] left as it was, when that index does not load or the record
    // gives no such value. Texts come whole, enumerations by name.
    static void LoadColumn(ZEQEOCntr* container, ZEQEOBlock* block, const LONG* indexes, size_t count, int id,
                           double* out, unsigned char* got);
    static void LoadColumn(ZEQEOCntr* container, ZEQEOBlock* block, const LONG* indexes, size_t count, int id,
                           int* out, unsigned char* got);
    static void LoadColumn(ZEQEOCntr* container, ZEQEOBlock* block, const LONG* indexes, size_t count, int id,
                           std::string* out, unsigned char* got);
    // Writes back the attributes set through the record (SetValue adds them to the mask) and the masked ones
    // whose loaded value differs from the variable's present one; quantities are read in the unit the record
    // was loaded in. 0 on success, negative when the variable is gone or a value is refused (nothing changes).
    // A loaded record writes only to the variable it was loaded from: when the variables were renumbered
    // since and another one stands at index, nothing changes and the answer is ZEQ_E_NOT_FOUND.
    int Commit(ZEQEOCntr* container, ZEQEOBlock* block, int index, bool flag);

    bool GetValue(int id, double& out) const;
    bool GetValue(int id, int& out) const;
    bool GetValue(int id, const char*& out) const;  // texts (the record's own), and enumerations as text
    bool GetValue(int id, const VarProfile*& out) const;
    // Texts for callers holding a non-const pointer; the text stays the record's and must not be changed.
    bool GetValue(int id, char*& out) const { return TextOut(*this, id, out); }
    bool SetValue(int id, double value);
    bool SetValue(int id, int value);
    bool SetValue(int id, const char* value);  // texts, and enumerations by name

    bool IsModified(int id) const;
    bool SetIsModified(int id, bool flag);
    static bool EnumToString(int id, int value, const char*& text);
    // Every attribute to its not-set value: doubles 1e35, flags and numbers 99999999, texts "", active bound 0.
    void SetNotSet();
    bool IsLoaded() const { return loaded_; }
    const ZEQVarFields& Fields() const { return f_; }
    uint32_t ChangedWord1() const { return changed1_; }
    uint32_t ChangedWord2() const { return changed2_; }

private:
    friend struct ZEQVariableLoader;
    bool Selected(int id) const;
    void MarkChanged(int id);
    ZEQVarFields f_;
    std::string owned_[3];  // uom, description, physical type name when set through the record
    std::string loaded_name_, loaded_description_;  // copies: the variable may change once the load is done
    uint32_t changed1_ = 0, changed2_ = 0;
    int load_ptype_ = 0, load_entry_ = 0;  // the unit the record's quantities are in
    uint32_t load_serial_ = 0;             // the variable loaded from; 0 when none
    bool loaded_ = false;
};

class ZEQEquationData {
public:
    ZEQEquationData();
    ~ZEQEquationData();
    ZEQEquationData(const ZEQEquationData&) = delete;
    ZEQEquationData& operator=(const ZEQEquationData&) = delete;

    ZEQAttribMask mask;
    void SetMask(uint32_t word1, uint32_t word2) { mask.word1 = word1; mask.word2 = word2; }
    static bool AttribId(const char* name, int* id);
    static int BaseType(int id);

    bool Load(ZEQEOCntr* container, ZEQEOBlock* block, int index, bool flag = true);
    // One attribute of many equations in one engine call, as ZEQVariableData::LoadColumn reads variables.
    static void LoadColumn(ZEQEOCntr* container, ZEQEOBlock* block, const LONG* indexes, size_t count, int id,
                           double* out, unsigned char* got);
    static void LoadColumn(ZEQEOCntr* container, ZEQEOBlock* block, const LONG* indexes, size_t count, int id,
                           int* out, unsigned char* got);
    static void LoadColumn(ZEQEOCntr* container, ZEQEOBlock* block, const LONG* indexes, size_t count, int id,
                           std::string* out, unsigned char* got);
    int Commit(ZEQEOCntr* container, ZEQEOBlock* block, int index, bool flag = true);
    bool GetValue(int id, double& out) const;
    bool GetValue(int id, int& out) const;
    bool GetValue(int id, const char*& out) const;
    bool GetValue(int id, char*& out) const { return TextOut(*this, id, out); }
    bool SetValue(int id, double value);

private:
    friend struct ZEQEquationLoader;
    std::string name_;
    double residual_ = 0, scale_ = 1, shadow_ = 0;
    int number_ = 0;
    uint32_t changed_ = 0;
    bool loaded_ = false;
};

class ZEQParameterData {
public:
    ZEQParameterData();
    ~ZEQParameterData();
    ZEQParameterData(const ZEQParameterData&) = delete;
    ZEQParameterData& operator=(const ZEQParameterData&) = delete;

    ZEQAttribMask mask;
    void SetMask(uint32_t word1, uint32_t word2) { mask.word1 = word1; mask.word2 = word2; }
    static bool AttribId(const char* name, int* id);
    static int BaseType(int id);

    // By name or by 0-based position in the block.
    bool Load(ZEQEOBlock* block, const char* name, bool flag = true);
    bool Load(ZEQEOBlock* block, int position, bool flag = true);
    int Commit(ZEQEOBlock* block, const char* name, bool flag = true);
    int Commit(ZEQEOBlock* block, int position, bool flag = true);

    bool GetValue(int id, double& out) const;
    bool GetValue(int id, int& out) const;
    bool GetValue(int id, const char*& out) const;
    bool GetValue(int id, VARIANT* out) const;  // value and bounds; out must be initialised
    bool GetValue(int id, VARIANT& out) const { return GetValue(id, &out); }
    bool GetValue(int id, char*& out) const { return TextOut(*this, id, out); }
    bool GetValue(int id, value_t* out) const;  // deep copy into an initialised value
    bool SetValue(int id, const char* value);
    bool SetValue(int id, const VARIANT& value);
    bool SetValue(int id, const value_t* value);

private:
    bool LoadFrom(ZEQEOBlock* block, int position);
    int CommitTo(ZEQEOBlock* block, int position);
    std::string name_, uom_, description_, ptype_;
    value_t value_, lower_, upper_;
    int access_ = 1, type_ = 0, number_ = 0;
    uint32_t changed_ = 0;
    bool loaded_ = false;
};

class ZEQPortData {
public:
    ZEQPortData();
    ~ZEQPortData();
    ZEQAttribMask mask;
    void SetMask(uint32_t word1, uint32_t word2) { mask.word1 = word1; mask.word2 = word2; }
    static bool AttribId(const char* name, int* id);
    static int BaseType(int id);

    bool Load(zeq_port* port);
    bool Load(ZEQEOBlock* block, int port_index);  // 1-based
    bool GetValue(int id, const char*& out) const;
    bool GetValue(int id, char*& out) const { return TextOut(*this, id, out); }
    bool GetValue(int id, int& out) const;

private:
    std::string name_, type_, direction_, basis_, phase_, stream_;
    int number_ = 0;
    bool loaded_ = false;
};

// Query engines over a container's (or a block's) variables, equations, parameters or ports. The caller
// frees them with Destroy.
class ZEQQueryFactory {
public:
    static IZEQQueryEngine* NewVariableQuery(ZEQEOCntr* container, ZEQEOBlock* block);
    static IZEQQueryEngine* NewEquationQuery(ZEQEOCntr* container, ZEQEOBlock* block);
    static IZEQQueryEngine* NewParameterQuery(ZEQEOCntr* container, ZEQEOBlock* block);
    static IZEQQueryEngine* NewPortQuery(ZEQEOCntr* container, ZEQEOBlock* block);
};
