// A model as plain data: what the model file, the C++ builder and the block-type libraries produce, and
// what a simulation is built from and saved to.
#pragma once
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "zeq_value.h"

namespace zeq {

// A value_t with value semantics.
class Value {
public:
    Value() { value_init(&v_); }
    Value(const Value& o) : Value() { value_copy(&v_, &o.v_); }
    Value& operator=(const Value& o) {
        if (this != &o) value_copy(&v_, &o.v_);
        return *this;
    }
    ~Value() { value_destroy(&v_); }
    static Value Real(double d) { Value v; value_assign_double(&v.v_, d); return v; }
    static Value Int(long long i) { Value v; value_assign_int(&v.v_, i); return v; }
    static Value Text(const std::string& s);
    static Value Id(const std::string& s);
    static Value Logical(bool b) { Value v; value_assign_logical(&v.v_, b); return v; }
    value_t* get() { return &v_; }
    const value_t* get() const { return &v_; }
    int kind() const { return v_.kind; }
    std::string ToText() const;

private:
    value_t v_;
};

struct VarDef {
    std::string name;
    double value = 0, lower = -1e20, upper = 1e20, step = 0, scale = 1, intscale = 1, sbweight = 0;
    double initial = 0, threshold = 0, homo_target = 0;
    int spec = 0, bound = 0, quality = 0, marked = 0, variable_type = 0, homo_param = 0, ramped = 0, conn_type = 0;
    std::string ptype;   // physical type name ("" = UNTYPED)
    std::string uom;     // unit in which value, lower and upper are given
    std::string description;
    bool initial_set = false;
    bool profile = false;  // records its history at every solve
    // Quantities given in base units rather than in uom, because no number of the unit stands for them
    // (a model file's basevalue=, baselower=, baseupper=, baseinitial=).
    enum : unsigned char { kBaseValue = 1, kBaseLower = 2, kBaseUpper = 4, kBaseInitial = 8 };
    unsigned char in_base = 0;
};

struct EqnDef {
    std::string name;
    std::string text;  // "lhs = rhs" over names local to the block
    double scale = 1;
    int line = 0;      // of the model file that defined it, for messages
};

struct ParamDef {
    std::string name;
    Value value, lower, upper;
    std::string uom, description, ptype;
    int access = 1;  // 0 read-only, 1 read-write
};

struct PortDef {
    std::string name, type = "MATERIAL", direction = "IN", basis = "MASS", phase = "MIXED", stream;
    std::vector<std::string> vars;  // local variable names of the block
};

struct ConnDef {
    std::string name;
    int kind = 1;
    bool enabled = true;
    std::string from, to;  // variable names relative to the owning container
    int line = 0;
};

struct BlockDef {
    std::string name, type;
    std::string library;  // for block types: the library that defined it
    bool aggregate = false;
    bool included = true;
    std::vector<VarDef> vars;
    std::vector<EqnDef> eqns;
    std::vector<ParamDef> params;
    std::vector<PortDef> ports;
    std::vector<BlockDef> blocks;  // members of a hierarchy block
    std::vector<ConnDef> conns;    // connections owned by a hierarchy block's container
};

struct SolverDef {
    std::string name;
    std::vector<std::pair<std::string, int>> ints;
    std::vector<std::pair<std::string, double>> reals;
    std::vector<std::pair<std::string, std::string>> texts;
};

struct ObjectiveDef {
    std::string name;
    bool maximize = false;
    std::string expr;  // over full variable names
    int line = 0;
};

struct TagDef {
    std::string alias, variable;
    int line = 0;
};

struct ModelDef {
    std::string name = "PLANT";
    BlockDef flowsheet;  // loose flowsheet variables and equations, blocks, connections
    std::vector<BlockDef> types;  // block types defined by the file (a library of its own)
    std::vector<SolverDef> solvers;
    std::vector<ObjectiveDef> objectives;
    std::string default_objective;
    int default_objective_line = 0;
    std::vector<TagDef> tags;
    std::vector<ParamDef> globals;
    std::vector<std::string> libraries;
    std::string scope;  // solver scope ("" = Plant)
    int scope_line = 0;
    int mode = -1;      // run mode to set on open; -1 keeps the current one
};

// The standard solver: MAXITER, PRINTLEVEL, TOLERANCE, METHOD.
SolverDef DefaultSolver(const std::string& name = "MAIN");
// Why a solver setting cannot work (MAXITER below 1, TOLERANCE not above 0, DAMPING outside (0, 1], or a
// value that is not finite); null when it can.
const char* SolverSettingProblem(std::string_view name, double value);

}  // namespace zeq
