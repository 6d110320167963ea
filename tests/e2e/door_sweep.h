// The door sweep's view of the object model: every dual interface of the type library with its members and
// their parameters, read through ITypeLib/ITypeInfo; the objects a client reaches from a simulation, each
// as the path of calls that reaches it; and a fresh example plant to reach them in.
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "atl/nuvatlbase.h"
#include "atl/nuvtypelib.h"
#include "model.h"
#include "nuvclasslib.h"

namespace nuvtest::sweep {

// One parameter as a caller fills it: its automation type (VT_I4 for enumerations, VT_DISPATCH or
// VT_UNKNOWN for interfaces, VT_ARRAY|element for arrays) and whether it is passed through a pointer.
struct Param {
    VARTYPE vt = VT_EMPTY;
    bool pointer = false;
    bool specific_interface = false;  // an interface other than IDispatch/IUnknown
    bool enumeration = false;
    USHORT flags = 0;
    bool retval() const { return flags & PARAMFLAG_FRETVAL; }
    bool out_only() const { return (flags & PARAMFLAG_FOUT) && !(flags & PARAMFLAG_FIN); }
};

struct Member {
    std::string name;
    MEMBERID id = 0;
    INVOKEKIND kind = INVOKE_FUNC;
    WORD func_flags = 0;
    int vtable_slot = 0;
    std::vector<Param> params;
    nuv::typelib::DispatchThunk thunk = nullptr;  // the call through the vtable
    int client_params() const;
    WORD dispatch_flags() const;
    std::string Label() const;  // "get Name", "put Name" or "Name"
};

struct Interface {
    std::string name;
    IID iid{};
    std::vector<Member> members;  // its own, not its bases'
};

// Every dual interface of the object model's library.
const std::vector<Interface>& DualInterfaces();

// The example plant with its services and wrapper. The engine simulation goes first at the end, as a host
// closing a simulation does.
class Plant {
public:
    Plant();
    ~Plant();
    INUVSimulation2* simulation() const { return sim_; }
    zeq::Simulation& engine() const { return *engine_; }
    // The model as the engine would save it: names, values, variable specs, parameters, connections.
    std::string Snapshot() const;

private:
    std::unique_ptr<zeq::Simulation> engine_;
    CComPtr<INUVSimulation2> sim_;
};

// One call on the way to an object: a member of an interface with at most one argument, the others filled
// as the member needs.
struct Step {
    std::string label;
    IID iid{};
    const Member* member = nullptr;
    CComVariant arg;  // VT_EMPTY for none
};

// Objects of one kind: what a client reaches by the same path shape, with the dual interfaces it answers.
struct Family {
    std::string key;
    std::vector<Step> path;
    std::vector<const Interface*> faces;
    bool empty = false;  // a collection holding nothing
};

// The families reachable from a plant's simulation, breadth first, to `depth` calls.
std::vector<Family> ReachableFamilies(Plant& plant, size_t depth);
// Walks `path` from the plant's simulation; null when a call on it fails.
CComPtr<IDispatch> Reach(Plant& plant, const std::vector<Step>& path, std::string* why = nullptr);
// Calls `member` late-bound with one argument given (index `given` of its client parameters, or -1 for
// none) and the others filled with plain values. When `last_out` is given and empty, the first [out]
// parameter the member filled is moved there.
HRESULT CallWith(IDispatch* object, const Member& member, int given, VARIANT* arg, VARIANT* result,
                 EXCEPINFO* exception, VARIANT* last_out = nullptr);

}  // namespace nuvtest::sweep
