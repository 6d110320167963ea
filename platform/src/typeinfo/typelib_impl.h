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

class TypeInfoImpl final : public ITypeInfo {
public:
    TypeInfoImpl(TypeLibImpl* lib, const TypeDesc* desc, UINT index, HREFTYPE self_href);

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
    const DispMember* FindMember(MEMBERID memid, WORD flags) const;
    const std::vector<DispMember>& members() const { return members_; }

private:
    TYPEDESC MakeTypeDesc(const TypeRef& ref);
    ParamPlan PlanFor(const ParamDesc& p) const;

    TypeLibImpl* lib_;
    const TypeDesc* desc_;
    UINT index_;
    TYPEATTR attr_{};
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

private:
    std::atomic<ULONG> refs_{1};
    const LibraryDesc* desc_;
    void* module_;
    TLIBATTR attr_{};
    std::vector<std::unique_ptr<TypeInfoImpl>> types_;
    std::unique_ptr<TypeInfoImpl> unknown_, dispatch_;
};

inline constexpr HREFTYPE kHrefIUnknown = 0x10000;
inline constexpr HREFTYPE kHrefIDispatch = 0x10001;

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
