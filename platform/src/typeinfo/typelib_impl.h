// ITypeLib and ITypeInfo over generated descriptors (atl/nuvtypelib.h).
#pragma once
#include <atomic>
#include <deque>
#include <memory>
#include <new>
#include <string>
#include <unordered_map>
#include <vector>

#include <oleauto.h>

#include "atl/nuvtypelib.h"

namespace nuv::typelib {

class TypeLibImpl;

// How a late-bound argument reaches one parameter.
struct ParamPlan {
    enum class Mode : BYTE { Value, ByRef, RetVal, Unsupported } mode;
    VARTYPE vt;           // the automation type arguments are coerced to
    const GUID* iid;      // for interface parameters: the interface to query for
    USHORT flags;         // PARAMFLAG_*
    LONG default_value;
};

// One member as late-bound calls see it: the member, its interface, and how to unpack its arguments.
struct DispMember {
    const FuncDesc* func;
    std::u16string folded_name;
    std::vector<ParamPlan> params;
    int retval = -1;      // index of the retval parameter, or -1
    int client_params = 0;
};

class TypeInfoImpl;

// Name binding over one type (its members and enumeration constants, then its bases) or over a whole
// library (enumerations by name, their constants; BindType finds any type). Lives inside its type or
// library and counts on it.
class TypeCompImpl final : public ITypeComp {
public:
    TypeCompImpl(TypeLibImpl* lib, TypeInfoImpl* type) : lib_(lib), type_(type) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE Bind(LPOLESTR szName, ULONG lHashVal, WORD wFlags, ITypeInfo** ppTInfo,
                                   DESCKIND* pDescKind, BINDPTR* pBindPtr) override;
    HRESULT STDMETHODCALLTYPE BindType(LPOLESTR szName, ULONG lHashVal, ITypeInfo** ppTInfo,
                                       ITypeComp** ppTComp) override;

private:
    TypeLibImpl* lib_;
    TypeInfoImpl* type_;  // null for the library's
};

// Which face of a type a TypeInfoImpl shows. A dual interface has two: the dispatch face (TKIND_DISPATCH,
// what the library lists and GetTypeInfoOfGuid finds) lists IUnknown's, IDispatch's and every base
// interface's members as a late-bound client sees them; the interface face (reached through
// GetRefTypeOfImplType(-1)) lists its own vtable members. Every other type has one face.
enum class Face : BYTE { Plain, Dispatch, Interface };

class TypeInfoImpl final : public ITypeInfo {
public:
    TypeInfoImpl(TypeLibImpl* lib, const TypeDesc* desc, UINT index, Face face = Face::Plain);

    // The members of this interface and its bases, the bases' first, for name lookup and Invoke.
    void BuildDispatchTable();

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    HRESULT STDMETHODCALLTYPE GetTypeAttr(TYPEATTR** ppTypeAttr) override;
    HRESULT STDMETHODCALLTYPE GetTypeComp(ITypeComp** ppTComp) override;
    HRESULT STDMETHODCALLTYPE GetFuncDesc(UINT index, FUNCDESC** ppFuncDesc) override;
    HRESULT STDMETHODCALLTYPE GetVarDesc(UINT index, VARDESC** ppVarDesc) override;
    HRESULT STDMETHODCALLTYPE GetNames(MEMBERID memid, BSTR* rgBstrNames, UINT cMaxNames, UINT* pcNames) override;
    HRESULT STDMETHODCALLTYPE GetRefTypeOfImplType(UINT index, HREFTYPE* pRefType) override;
    HRESULT STDMETHODCALLTYPE GetImplTypeFlags(UINT index, INT* pImplTypeFlags) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(LPOLESTR* rgszNames, UINT cNames, MEMBERID* pMemId) override;
    HRESULT STDMETHODCALLTYPE Invoke(PVOID pvInstance, MEMBERID memid, WORD wFlags, DISPPARAMS* pDispParams,
                                     VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) override;
    HRESULT STDMETHODCALLTYPE GetDocumentation(MEMBERID memid, BSTR* pBstrName, BSTR* pBstrDocString,
                                               DWORD* pdwHelpContext, BSTR* pBstrHelpFile) override;
    HRESULT STDMETHODCALLTYPE GetDllEntry(MEMBERID memid, INVOKEKIND invKind, BSTR* pBstrDllName, BSTR* pBstrName,
                                          WORD* pwOrdinal) override;
    HRESULT STDMETHODCALLTYPE GetRefTypeInfo(HREFTYPE hRefType, ITypeInfo** ppTInfo) override;
    HRESULT STDMETHODCALLTYPE AddressOfMember(MEMBERID memid, INVOKEKIND invKind, PVOID* ppv) override;
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* pUnkOuter, REFIID riid, PVOID* ppvObj) override;
    HRESULT STDMETHODCALLTYPE GetMops(MEMBERID memid, BSTR* pBstrMops) override;
    HRESULT STDMETHODCALLTYPE GetContainingTypeLib(ITypeLib** ppTLib, UINT* pIndex) override;
    void STDMETHODCALLTYPE ReleaseTypeAttr(TYPEATTR* pTypeAttr) override;
    void STDMETHODCALLTYPE ReleaseFuncDesc(FUNCDESC* pFuncDesc) override;
    void STDMETHODCALLTYPE ReleaseVarDesc(VARDESC* pVarDesc) override;

    const TypeDesc* desc() const { return desc_; }
    Face face() const { return face_; }
    const DispMember* FindMember(MEMBERID memid, WORD flags) const;
    const std::vector<DispMember>& members() const { return members_; }
    // Binds a name among this type's members and constants, then its bases'.
    HRESULT BindMember(const std::u16string& folded, WORD flags, ITypeInfo** owner, DESCKIND* kind, BINDPTR* bound);

private:
    // `offset` is added to the references of user-defined types: descriptors of the standard library's
    // members refer to its types.
    TYPEDESC MakeTypeDesc(const TypeRef& ref, HREFTYPE offset = 0);
    ParamPlan PlanFor(const ParamDesc& p) const;
    void AddFunction(const FuncDesc& f, HREFTYPE offset);
    const FuncDesc* ListedFunction(MEMBERID memid) const;

    TypeLibImpl* lib_;
    const TypeDesc* desc_;
    UINT index_;
    Face face_;
    TypeCompImpl comp_;
    TYPEATTR attr_{};
    std::vector<const FuncDesc*> listed_;                              // what GetFuncDesc hands out
    std::vector<FUNCDESC> funcs_;
    std::vector<VARDESC> vars_;
    std::deque<std::vector<ELEMDESC>> elem_arrays_;
    std::deque<TYPEDESC> typedescs_;
    std::deque<PARAMDESCEX> defaults_;
    std::deque<VARIANT> const_values_;
    std::vector<DispMember> members_;                                  // in declaration order, bases first
    std::vector<std::pair<MEMBERID, int>> by_memid_;                   // sorted
    std::unordered_map<std::u16string, std::vector<int>> by_name_;    // folded name -> members_
};

class TypeLibImpl final : public ITypeLib {
public:
    TypeLibImpl(const LibraryDesc* desc, void* module_handle);
    ~TypeLibImpl();

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    UINT STDMETHODCALLTYPE GetTypeInfoCount() override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, ITypeInfo** ppTInfo) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfoType(UINT index, TYPEKIND* pTKind) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfoOfGuid(REFGUID guid, ITypeInfo** ppTinfo) override;
    HRESULT STDMETHODCALLTYPE GetLibAttr(TLIBATTR** ppTLibAttr) override;
    HRESULT STDMETHODCALLTYPE GetTypeComp(ITypeComp** ppTComp) override;
    HRESULT STDMETHODCALLTYPE GetDocumentation(INT index, BSTR* pBstrName, BSTR* pBstrDocString,
                                               DWORD* pdwHelpContext, BSTR* pBstrHelpFile) override;
    HRESULT STDMETHODCALLTYPE IsName(LPOLESTR szNameBuf, ULONG lHashVal, BOOL* pfName) override;
    HRESULT STDMETHODCALLTYPE FindName(LPOLESTR szNameBuf, ULONG lHashVal, ITypeInfo** ppTInfo, MEMBERID* rgMemId,
                                       USHORT* pcFound) override;
    void STDMETHODCALLTYPE ReleaseTLibAttr(TLIBATTR* pTLibAttr) override;

    const LibraryDesc* desc() const { return desc_; }
    TypeInfoImpl* TypeAt(HREFTYPE href);
    // The reference to library type `index` as a base or parameter type: a dual interface's interface
    // face when `interface_face`, else what the library lists.
    HREFTYPE HrefOf(SHORT index, bool interface_face) const;
    // Binds a name among the library's enumerations and their constants.
    HRESULT BindName(const std::u16string& folded, ITypeInfo** owner, DESCKIND* kind, BINDPTR* bound);
    HRESULT BindTypeName(const std::u16string& folded, ITypeInfo** found, ITypeComp** comp);

private:
    std::atomic<ULONG> refs_{1};
    const LibraryDesc* desc_;
    void* module_;
    TLIBATTR attr_{};
    TypeCompImpl comp_;
    std::vector<std::unique_ptr<TypeInfoImpl>> types_;       // as listed: dual interfaces by their dispatch face
    std::vector<std::unique_ptr<TypeInfoImpl>> interfaces_;  // the interface faces of dual interfaces, else null
};

// References: library types by index, interface faces from kHrefInterfaceFace, the standard library's
// types (IUnknown, IDispatch and the records their members take) from kHrefStandard.
inline constexpr HREFTYPE kHrefStandard = 0x10000;
inline constexpr HREFTYPE kHrefIUnknown = kHrefStandard + 0;
inline constexpr HREFTYPE kHrefIDispatch = kHrefStandard + 1;
inline constexpr HREFTYPE kHrefInterfaceFace = 0x20000;

// The standard library (stdole): IUnknown, IDispatch and the records they use, for every process.
TypeLibImpl* StandardLibrary();

std::u16string FoldName(const OLECHAR* s);

// The answer of an interface method or exported function whose body threw: no exception leaves them.
// Called inside a catch block.
inline HRESULT ExceptionResult() noexcept {
    try {
        throw;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

}  // namespace nuv::typelib
