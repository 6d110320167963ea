// The engine's objects as the system sees them. The host owns them; callers only use their operations and
// free nothing but the query engines they obtain (Destroy).
//
// Numbering: blocks, ports, variables, equations and solvers count from 1; "not found" is 0. Block
// parameters and a port's variable positions count from 0. Names match without regard to case.
#pragma once
#include <guiddef.h>
#include <wtypes.h>

#include <cstdint>

#include "nuv_wrapper.h"
#include "zeq_lib.h"
#include "zeq_pipe.h"
#include "zeq_records.h"
#include "zeq_value.h"

class ZEQEOCntr;
class ZEQEOBlock;
class EngineSolver;
class EngineConnection;
class EngineParameterTable;
class RTVarFileIO;
struct IZEQDynamicSolver;
struct rtovmask;

class zeq_port {
public:
    virtual const char* GetName() = 0;
    virtual int GetVariableCount() = 0;
    // 0-based position; the answer is the variable's index in the block's parent container, 0 for none.
    virtual int GetVariable(int position) = 0;
    // The holder lends; Set takes a reference and releases the one it replaces (after clearing the slot).
    virtual INUVWrapper* GetWrapper() = 0;
    virtual void SetWrapper(INUVWrapper* wrapper) = 0;

protected:
    ~zeq_port() = default;
};

class EngineSolver {
public:
    virtual const char* GetName() = 0;
    virtual int GetIntParameterCount() = 0;
    virtual int GetRealParameterCount() = 0;
    virtual int GetTextParameterCount() = 0;
    // 1 integer, 2 real, 3 text, 0 unknown.
    virtual int GetParameterType(const char* name) = 0;
    // i counts from 1 within the kind. The name is copied into buf (cut to size - 1); value gets the
    // current value. false when i is out of range.
    virtual bool GetIntParameterName(int i, char* buf, int size, int* value) = 0;
    virtual bool GetRealParameterName(int i, char* buf, int size, double* value) = 0;
    virtual bool GetTextParameterName(int i, char* buf, int size, const char** value) = 0;
    virtual int GetIntParameter(const char* name) = 0;
    virtual double GetRealParameter(const char* name) = 0;
    virtual const char* GetTextParameter(const char* name) = 0;  // null for an unknown name
    // 0 on success, negative for an unknown name.
    virtual int SetIntParameter(const char* name, int value) = 0;
    virtual int SetRealParameter(const char* name, double value) = 0;
    virtual int SetTextParameter(const char* name, const char* value) = 0;

protected:
    ~EngineSolver() = default;
};

enum ZEQConnectionKind { CONN_SPEC_CHANGE = 0, CONN_EQUALITY = 1, CONN_MEASUREMENT = 2, CONN_MEAS_SPEC_CHANGE = 3,
                         CONN_MEAS_EQUALITY = 4 };

class EngineConnection {
public:
    virtual const char* GetName() = 0;
    // The same for callers that pass their list position along; the position is not needed.
    const char* GetName(int /*position*/) { return GetName(); }
    virtual int GetKind() = 0;
    virtual bool IsEnabled() = 0;
    // Enabled and both of its ends present and included.
    virtual bool IsActive() = 0;

protected:
    ~EngineConnection() = default;
};

// Called once per connection: (unused, owner, connection, context, unused); a nonzero result stops.
typedef int (*ZEQConnectionCallback)(void* unused1, ZEQEOCntr* owner, EngineConnection* connection, void* context,
                                     void* unused2);

class EngineParameterTable {
public:
    // Fills an initialised value with a copy of the parameter's value; false for an unknown name.
    virtual bool GetValue(const char* name, value_t* value) = 0;

protected:
    ~EngineParameterTable() = default;
};

class ZEQEOBlockEditor {
public:
    // Adds a block of a library type to target. 0 on success; 0x80040701 invalid name, 0x80040702 creation
    // failed, 0x80040703 unknown type.
    virtual int AddBlock(ZEQEOCntr* target, const char* name, const char* type, const value_t* args) = 0;

protected:
    ~ZEQEOBlockEditor() = default;
};

class ZEQEOBlock {
public:
    // The block's local name. A rename does not change the text handed out: it stays readable, with the
    // old name, while a use of the simulation begun before the rename lasts (so does GetBlockPrefix's).
    virtual const char* GetName() = 0;
    virtual const char* GetTypeName() = 0;
    // "AGGREGATE" for hierarchy blocks; otherwise compares with the block's type name.
    virtual bool IsType(const char* type) = 0;
    virtual bool IsIncluded() = 0;
    virtual ZEQEOCntr* GetParentContainer(ZEQEOCntr* flowsheet) = 0;
    // The block's own container for a hierarchy block, null for a plain block.
    virtual ZEQEOCntr* GetSubContainer(ZEQEOCntr* listing) = 0;
    // 1-based in the parent container; a hierarchy block's range covers its nested members.
    virtual int GetFirstIndex() = 0;
    virtual int GetCount() = 0;
    virtual int GetFirstEquationIndex() = 0;
    virtual int GetEquationCount() = 0;
    virtual int GetParameterCount() = 0;
    virtual const char* GetParameterName(int position) = 0;  // 0-based; null out of range
    virtual int GetPortCount() = 0;
    virtual zeq_port* GetPort(int index) = 0;  // 1-based
    virtual int FindPort(const char* name) = 0;  // 1-based, 0 = none
    virtual INUVWrapper* GetWrapper() = 0;
    virtual void SetWrapper(INUVWrapper* wrapper) = 0;

protected:
    ~ZEQEOBlock() = default;
};

class ZEQEOCntr {
public:
    virtual int GetBlockCount() = 0;
    virtual ZEQEOBlock* GetBlock(int index) = 0;  // 1-based
    // Dotted names reach into hierarchy blocks and answer the top-level block's index. 0 = none.
    virtual int FindBlockIndex(const char* name) = 0;
    virtual ZEQEOBlock* FindBlock(const char* name) = 0;  // dotted names find the nested block
    // A member's full name is prefix + "." + local name.
    virtual const char* GetBlockPrefix(ZEQEOBlock* block) = 0;
    virtual ZEQEOBlock* GetOwnerBlock() = 0;  // null for the flowsheet
    virtual int GetBlockVariableBase(ZEQEOBlock* block) = 0;

    virtual int GetCount() = 0;
    virtual int FindIndex(const char* name) = 0;
    virtual HRESULT GetItem(int index, REFIID riid, void** ppv) = 0;
    virtual bool LoadVariableData(int index, ZEQVariableData* record, bool flag) = 0;
    virtual int GetEquationCount() = 0;
    virtual int FindEquationIndex(const char* name) = 0;
    virtual HRESULT GetEquationItem(int index, REFIID riid, void** ppv) = 0;

    virtual ZEQEOBlockEditor* GetEditor() = 0;
    virtual int RemoveBlock(const ZEQString& name) = 0;
    virtual int RemoveAllBlocks(int flags, bool notify) = 0;
    // A reader of a variable file over the input pipe; match/substitute rename "match." prefixes in the file.
    // The caller deletes it. Null when the pipe is null.
    virtual RTVarFileIO* CreateVarFileImporter(rtopipe* pipe, const char* match, const char* substitute) = 0;
    // Reads a block file into this container's variables. patterns: list of (pattern, replacement) text pairs
    // or null; skip: one flag per container variable (nonzero = leave alone) or null. 0, or negative.
    virtual int ImportBlockFile(const char* path, const rtovmask* mask, gl_list* patterns, const int64_t* skip) = 0;
    virtual int EnumerateConnections(ZEQConnectionCallback callback, void* context, int reserved1, int reserved2) = 0;
    virtual int EnableConnection(EngineConnection* connection) = 0;
    virtual int DisableConnection(EngineConnection* connection) = 0;
    virtual EngineParameterTable* GetParameterTable() = 0;
    virtual INUVWrapper* GetWrapper() = 0;
    virtual void SetWrapper(INUVWrapper* wrapper) = 0;
    // Changes whenever member indexes may have moved: blocks added, removed or renamed, or the model loaded
    // anew. Equal counts mean the numbering seen earlier still holds: read before finding a member's index
    // and again after the calls that used it, equal counts mean every one of them saw the same numbering.
    // Reading it takes no lock.
    virtual unsigned GetStructureGeneration() = 0;

protected:
    ~ZEQEOCntr() = default;
};

struct IZEQQueryEngine {
    // Adds a condition (ANDed with the others). false for text the grammar rejects.
    virtual bool AddQuery(const char* text) = 0;
    virtual int Apply() = 0;
    // Limits the rows to the given indexes in the owner's numbering (kept in the given order); queries applied
    // afterwards filter within them. Returns the row count.
    virtual int RestrictRows(int n, const int* rows) = 0;
    virtual int GetRowCount() = 0;
    // 0-based row -> index in the owner's numbering: variables, equations and ports from 1 (block-relative
    // with a block), block parameters from 0, global parameters from 1. 0 past the end.
    virtual int GetRow(int row) = 0;
    virtual void Destroy() = 0;

protected:
    ~IZEQQueryEngine() = default;
};

struct IZEQDynamicSolver {
    virtual const char* GetScopeName() = 0;
    virtual ~IZEQDynamicSolver() = default;
};

struct IZEQTaskManager {
    // error gets a text allocated with CoTaskMemAlloc (the caller frees it with CoTaskMemFree) on failure.
    virtual HRESULT AddTasks(const char* xml, char** error) = 0;
    virtual HRESULT ActivateTask(const char* name, int active) = 0;
    virtual HRESULT RemoveTask(const char* name) = 0;
    virtual ~IZEQTaskManager() = default;
};

class ZEQEOSimulation {
public:
    virtual INUVWrapper* GetWrapper() = 0;
    virtual void SetWrapper(INUVWrapper* wrapper) = 0;
    virtual ZEQEOCntr* GetFlowsheet() = 0;
    // One command line (ending in "\n"). May throw.
    virtual int ExecuteCommand(const char* text) = 0;

    // Providers are kept counted; Find lends them.
    virtual int RegisterService(const char* name, REFGUID id, INUVSimServiceProvider* provider) = 0;
    virtual int FindService(const char* name, INUVSimServiceProvider** provider, GUID* id) = 0;
    virtual int FindServiceById(REFGUID id, INUVSimServiceProvider** provider) = 0;
    virtual int RegisterBlockService(const char* name, REFGUID id, INUVBlockServiceProvider* provider) = 0;
    virtual int FindBlockService(const char* name, GUID* id, INUVBlockServiceProvider** provider) = 0;
    virtual int FindBlockServiceById(REFGUID id, INUVBlockServiceProvider** provider) = 0;

    virtual int PushScope(ZEQEOCntr* container) = 0;
    virtual int PopScope() = 0;
    virtual int ResetScope() = 0;
    virtual int Solve() = 0;
    // 0x80040601 for an unknown objective.
    virtual int SolveWithObjective(const char* objective) = 0;
    virtual int AddLibrary(const char* name) = 0;
    virtual int RemoveLibrary(const char* name) = 0;

    // Null when there is none (shown "NONE").
    virtual const char* GetDefaultObjective() = 0;
    // Null or "NONE" clears; 0x80040602 for an unknown objective.
    virtual int SetDefaultObjective(const char* name) = 0;
    virtual bool IsValidObjective(const char* name) = 0;
    virtual int GetObjectiveList(ZEQStringList& names) = 0;

    virtual int GetSolverCount() = 0;
    virtual EngineSolver* GetSolver(int index) = 0;  // 1-based
    virtual EngineSolver* FindSolver(const char* name) = 0;
    virtual INUVWrapper* GetSolverWrapper(EngineSolver* solver) = 0;
    virtual void SetSolverWrapper(EngineSolver* solver, INUVWrapper* wrapper) = 0;

    // Derivatives of d dependent variables (and the objective, row d) with respect to k independent ones.
    // results[k * (d + 1)], row-major by dependent (row i holds d(dep i)/d(indep j) at i * k + j), scaled by
    // indepFactor[j] / depFactor[i]; flags[d + 1]: 1 when the row could be computed. extra gets the
    // objective's value. 0, or 0x80040803 (singular), 0x80040804 (solve failed), 0x80040805 (bad argument).
    virtual int CalculateSensitivity(const char* objective, const int* dependent, int d, const int* independent,
                                     int k, const double* depFactors, const double* indepFactors,
                                     double* results, int* flags, double* extra) = 0;

    // "" for the default scope; castable to IZEQTaskManager with dynamic_cast. Null for an unknown scope.
    virtual IZEQDynamicSolver* GetDynamicSolver(const char* scope) = 0;

    virtual int SaveSimulation(const char* path) = 0;
    virtual int OpenSimulation(const char* path) = 0;
    virtual int AddSimulation(const char* path) = 0;
    virtual int SaveBlock(const char* path, const char* blockName) = 0;
    virtual int LoadBlock(const char* path) = 0;

    // text gets a malloc'd copy ("Plant" for the whole flowsheet, else a dotted hierarchy path).
    virtual int GetSolverScope(char** text, int reserved1, int reserved2) = 0;
    virtual int GetSolverScopeList(ZEQStringList& scopes, int reserved1, int reserved2) = 0;
    virtual int SetSolverScope(const char* scope) = 0;
    virtual const rtotaglst* GetTagList() = 0;

protected:
    ~ZEQEOSimulation() = default;
};
