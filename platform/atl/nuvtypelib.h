// Type-library descriptors: the static tables that tools/idlgen.py generates from an interface
// definition, and the ITypeLib/ITypeInfo objects the platform builds over them.
#pragma once
#include <windows.h>
#include <oaidl.h>
#include <nuv_guid.h>

namespace nuv::typelib {

// Calls one member through its vtable. args[i] is the i-th parameter, already coerced: a value of the
// parameter's automation type, or a VT_BYREF variant over storage of that type for pointer parameters.
// A retval parameter has no slot; its value is stored in *result.
using DispatchThunk = HRESULT (*)(IDispatch* self, VARIANT* const* args, VARIANT* result);

// A parameter, result or alias type: a base wrapped in `pointers` levels of VT_PTR.
struct TypeRef {
    VARTYPE vt;          // a scalar VARTYPE, VT_SAFEARRAY or VT_USERDEFINED
    VARTYPE element;     // element type of a VT_SAFEARRAY
    SHORT type_index;    // library type referred to by VT_USERDEFINED, else -1
    BYTE pointers;
};

struct ParamDesc {
    const OLECHAR* name;
    TypeRef type;
    USHORT flags;        // PARAMFLAG_*
    LONG default_value;  // with PARAMFLAG_FHASDEFAULT: a VT_I4 default
};

struct FuncDesc {
    const OLECHAR* name;
    MEMBERID memid;
    INVOKEKIND invkind;
    FUNCKIND funckind;
    SHORT vtable_slot;   // index in the vtable, IUnknown's members counted
    WORD flags;          // FUNCFLAG_*
    TypeRef result;
    const ParamDesc* params;
    SHORT param_count;
    DispatchThunk thunk;  // null for members that cannot be called late-bound
};

struct ConstDesc {
    const OLECHAR* name;
    LONG value;
};

struct ImplDesc {
    SHORT type_index;
    INT flags;           // IMPLTYPEFLAG_*
};

enum class BuiltinBase : BYTE { None, IUnknown, IDispatch };

struct TypeDesc {
    const OLECHAR* name;
    GUID guid;
    TYPEKIND kind;
    WORD flags;          // TYPEFLAG_*
    const OLECHAR* help;
    SHORT base_index;    // library interface this one derives from, or -1
    BuiltinBase builtin_base;
    SHORT vtable_slots;  // slots of the whole vtable, bases included
    const FuncDesc* funcs;
    SHORT func_count;
    const ConstDesc* consts;
    SHORT const_count;
    const ImplDesc* impls;
    SHORT impl_count;
    TypeRef alias;       // TKIND_ALIAS: the aliased type
};

struct LibraryDesc {
    const OLECHAR* name;
    GUID guid;
    WORD major;
    WORD minor;
    LCID lcid;
    const OLECHAR* help;
    const TypeDesc* types;
    SHORT type_count;
};

// The exported function through which a module hands out its type-library resources; LoadTypeLib
// looks it up in the named module.
using ResourceFunction = const LibraryDesc* (*)(int resource_id);
inline constexpr const char kResourceFunctionName[] = "NuvTypeLibResource";

}  // namespace nuv::typelib

extern "C" {
// Builds an ITypeLib over descriptors that outlive it.
HRESULT NuvCreateTypeLib(const nuv::typelib::LibraryDesc* desc, ITypeLib** pptlib);
// Makes a library found by LIBID or interface id for IDispatch implementations in this process; the
// descriptors must stay valid until NuvRevokeInProcessTypeLib.
void NuvRegisterInProcessTypeLib(const nuv::typelib::LibraryDesc* desc);
void NuvRevokeInProcessTypeLib(const nuv::typelib::LibraryDesc* desc);
// The type information of an interface or class from the in-process libraries: by LIBID when plibid
// is non-null, else from whichever library describes riid. Among several candidates the one registered
// by the binary that contains `caller` wins (its descriptors live exactly as long as the caller), then
// the one registered first.
HRESULT NuvGetInProcessTypeInfo(const GUID* plibid, REFIID riid, const void* caller, ITypeInfo** ppTInfo);
}

namespace nuv::typelib {

// An interface and every interface it derives from (IUnknown left out), most derived first; the
// generated headers specialise InterfaceChain for each interface they declare.
template <class... Itfs>
struct InterfaceList {
    // The object's pointer for riid when riid is one of the list, else null.
    template <class T>
    static void* Find(T* self, REFIID riid) {
        void* found = nullptr;
        auto match = [&](auto* itf) {
            if (!found && riid == __uuidof(decltype(*itf))) found = itf;
        };
        (match(static_cast<Itfs*>(self)), ...);
        return found;
    }
};
template <class T>
struct InterfaceChain;

// Keeps a library registered in-process for as long as the binary that holds it is loaded.
class InProcessRegistration {
public:
    explicit InProcessRegistration(const LibraryDesc* desc) : desc_(desc) { NuvRegisterInProcessTypeLib(desc); }
    ~InProcessRegistration() { NuvRevokeInProcessTypeLib(desc_); }
    InProcessRegistration(const InProcessRegistration&) = delete;
    InProcessRegistration& operator=(const InProcessRegistration&) = delete;

private:
    const LibraryDesc* desc_;
};
}  // namespace nuv::typelib
