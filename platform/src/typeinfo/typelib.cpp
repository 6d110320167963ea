// ITypeLib and ITypeInfo over generated descriptors. Every descriptor structure handed out (TYPEATTR,
// FUNCDESC, VARDESC, TLIBATTR) is built once and shared; the Release* calls have nothing to free.
#include <dlfcn.h>

#include <algorithm>
#include <cstring>
#include <mutex>

#include "typelib_impl.h"

#ifndef TYPE_E_WRONGTYPEKIND
#define TYPE_E_WRONGTYPEKIND _HRESULT_TYPEDEF_(0x8002802AL)
#endif

namespace nuv::typelib {

std::u16string FoldName(const OLECHAR* s) {
    std::u16string out;
    if (!s) return out;
    for (; *s; ++s) out.push_back((*s >= u'A' && *s <= u'Z') ? static_cast<char16_t>(*s - u'A' + u'a') : *s);
    return out;
}

namespace {

BSTR AllocOrNull(const OLECHAR* s) { return s ? SysAllocString(s) : nullptr; }

// The two outside bases every interface of a library builds on; described by vtable size only.
const TypeDesc kUnknownDesc = {u"IUnknown", __uuidof(IUnknown), TKIND_INTERFACE, 0, nullptr, -1,
                               BuiltinBase::None, 3, nullptr, 0, nullptr, 0, nullptr, 0,
                               {VT_EMPTY, VT_EMPTY, -1, 0}};
const TypeDesc kDispatchDesc = {u"IDispatch", __uuidof(IDispatch), TKIND_INTERFACE,
                                TYPEFLAG_FDISPATCHABLE, nullptr, -1, BuiltinBase::IUnknown, 7, nullptr, 0,
                                nullptr, 0, nullptr, 0, {VT_EMPTY, VT_EMPTY, -1, 0}};

}  // namespace

// ---------------------------------------------------------------------------------------------------
// TypeInfoImpl

TypeInfoImpl::TypeInfoImpl(TypeLibImpl* lib, const TypeDesc* desc, UINT index, HREFTYPE) :
    lib_(lib), desc_(desc), index_(index) {
    const LibraryDesc* ld = lib->desc();
    attr_.guid = desc->guid;
    attr_.lcid = ld->lcid;
    attr_.memidConstructor = MEMBERID_NIL;
    attr_.memidDestructor = MEMBERID_NIL;
    attr_.typekind = desc->kind;
    attr_.cFuncs = static_cast<WORD>(desc->func_count);
    attr_.cVars = static_cast<WORD>(desc->const_count);
    attr_.cbAlignment = sizeof(void*);
    attr_.wTypeFlags = desc->flags;
    switch (desc->kind) {
    case TKIND_INTERFACE:
    case TKIND_DISPATCH:
        attr_.cImplTypes = (desc->base_index >= 0 || desc->builtin_base != BuiltinBase::None) ? 1 : 0;
        attr_.cbSizeVft = static_cast<WORD>(desc->vtable_slots * sizeof(void*));
        attr_.cbSizeInstance = sizeof(void*);
        break;
    case TKIND_COCLASS:
        attr_.cImplTypes = static_cast<WORD>(desc->impl_count);
        attr_.cbSizeInstance = sizeof(void*);
        break;
    case TKIND_ENUM:
        attr_.cbSizeInstance = sizeof(INT);
        attr_.cbAlignment = sizeof(INT);
        break;
    case TKIND_ALIAS:
        attr_.tdescAlias = MakeTypeDesc(desc->alias);
        attr_.cbSizeInstance = sizeof(INT);
        break;
    default:
        break;
    }

    funcs_.reserve(desc->func_count);
    for (SHORT i = 0; i < desc->func_count; ++i) {
        const FuncDesc& f = desc->funcs[i];
        FUNCDESC fd{};
        fd.memid = f.memid;
        fd.funckind = f.funckind;
        fd.invkind = f.invkind;
        fd.callconv = CC_STDCALL;
        fd.cParams = f.param_count;
        fd.oVft = static_cast<SHORT>(f.funckind == FUNC_DISPATCH ? 0 : f.vtable_slot * sizeof(void*));
        fd.wFuncFlags = f.flags;
        fd.elemdescFunc.tdesc = MakeTypeDesc(f.result);
        auto& elems = elem_arrays_.emplace_back(static_cast<size_t>(f.param_count));
        for (SHORT p = 0; p < f.param_count; ++p) {
            const ParamDesc& pd = f.params[p];
            ELEMDESC& e = elems[static_cast<size_t>(p)];
            e.tdesc = MakeTypeDesc(pd.type);
            e.paramdesc.wParamFlags = pd.flags;
            e.paramdesc.pparamdescex = nullptr;
            if (pd.flags & PARAMFLAG_FHASDEFAULT) {
                PARAMDESCEX& ex = defaults_.emplace_back();
                ex.cBytes = sizeof(PARAMDESCEX);
                ex.varDefaultValue.vt = VT_I4;
                ex.varDefaultValue.lVal = pd.default_value;
                e.paramdesc.pparamdescex = &ex;
            } else if ((pd.flags & PARAMFLAG_FOPT) && pd.type.vt == VT_VARIANT && pd.type.pointers == 0) {
                ++fd.cParamsOpt;
            }
        }
        fd.lprgelemdescParam = elems.empty() ? nullptr : elems.data();
        funcs_.push_back(fd);
    }

    vars_.reserve(desc->const_count);
    for (SHORT i = 0; i < desc->const_count; ++i) {
        VARIANT& v = const_values_.emplace_back();
        v.vt = VT_I4;
        v.lVal = desc->consts[i].value;
        VARDESC vd{};
        vd.memid = 0x40000000 + i;
        vd.lpvarValue = &v;
        vd.elemdescVar.tdesc.vt = VT_I4;
        vd.varkind = VAR_CONST;
        vars_.push_back(vd);
    }
}

TYPEDESC TypeInfoImpl::MakeTypeDesc(const TypeRef& ref) {
    TYPEDESC base{};
    base.vt = ref.vt;
    if (ref.vt == VT_USERDEFINED) {
        base.hreftype = static_cast<HREFTYPE>(ref.type_index);
    } else if (ref.vt == VT_SAFEARRAY) {
        TYPEDESC& elem = typedescs_.emplace_back();
        elem.vt = ref.element;
        base.lptdesc = &elem;
    }
    for (BYTE i = 0; i < ref.pointers; ++i) {
        TYPEDESC& inner = typedescs_.emplace_back(base);
        base = TYPEDESC{};
        base.vt = VT_PTR;
        base.lptdesc = &inner;
    }
    return base;
}

ParamPlan TypeInfoImpl::PlanFor(const ParamDesc& p) const {
    ParamPlan plan{ParamPlan::Mode::Unsupported, VT_EMPTY, nullptr, p.flags, p.default_value};
    int pointers = p.type.pointers;
    switch (p.type.vt) {
    case VT_I4:
    case VT_INT:
        plan.vt = VT_I4;
        break;
    case VT_I2:
    case VT_UI4:
    case VT_R8:
    case VT_BSTR:
    case VT_BOOL:
    case VT_VARIANT:
    case VT_UI1:
    case VT_UNKNOWN:
    case VT_DISPATCH:
        plan.vt = p.type.vt;
        break;
    case VT_SAFEARRAY:
        plan.vt = static_cast<VARTYPE>(VT_ARRAY | p.type.element);
        break;
    case VT_USERDEFINED: {
        const TypeDesc* target = &lib_->desc()->types[p.type.type_index];
        if (target->kind == TKIND_ALIAS) target = &lib_->desc()->types[target->alias.type_index];
        if (target->kind == TKIND_ENUM) {
            plan.vt = VT_I4;
        } else if (target->kind == TKIND_INTERFACE || target->kind == TKIND_DISPATCH) {
            plan.vt = (target->flags & TYPEFLAG_FDISPATCHABLE) ? VT_DISPATCH : VT_UNKNOWN;
            plan.iid = &target->guid;
            --pointers;
        } else {
            return plan;
        }
        break;
    }
    default:
        return plan;
    }
    if (pointers == 0)
        plan.mode = ParamPlan::Mode::Value;
    else if (pointers == 1)
        plan.mode = (p.flags & PARAMFLAG_FRETVAL) ? ParamPlan::Mode::RetVal : ParamPlan::Mode::ByRef;
    return plan;
}

void TypeInfoImpl::BuildDispatchTable() {
    std::vector<const TypeDesc*> chain;
    for (const TypeDesc* t = desc_; t; t = t->base_index >= 0 ? &lib_->desc()->types[t->base_index] : nullptr)
        chain.push_back(t);
    std::reverse(chain.begin(), chain.end());
    for (const TypeDesc* t : chain) {
        for (SHORT i = 0; i < t->func_count; ++i) {
            const FuncDesc& f = t->funcs[i];
            DispMember m{&f, FoldName(f.name), {}, -1, 0};
            for (SHORT p = 0; p < f.param_count; ++p) {
                m.params.push_back(PlanFor(f.params[p]));
                if (m.params.back().mode == ParamPlan::Mode::RetVal) m.retval = p;
            }
            m.client_params = f.param_count - (m.retval >= 0 ? 1 : 0);
            members_.push_back(std::move(m));
        }
    }
    for (size_t i = 0; i < members_.size(); ++i) {
        by_memid_.emplace_back(members_[i].func->memid, static_cast<int>(i));
        by_name_[members_[i].folded_name].push_back(static_cast<int>(i));
    }
    std::stable_sort(by_memid_.begin(), by_memid_.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
}

const DispMember* TypeInfoImpl::FindMember(MEMBERID memid, WORD flags) const {
    auto lo = std::lower_bound(by_memid_.begin(), by_memid_.end(), memid,
                               [](const auto& e, MEMBERID id) { return e.first < id; });
    const DispMember* best = nullptr;
    for (auto it = lo; it != by_memid_.end() && it->first == memid; ++it) {
        const DispMember& m = members_[static_cast<size_t>(it->second)];
        if (!(m.func->invkind & flags)) continue;
        // A put request prefers the put; otherwise a method before a property read.
        if (!best || (m.func->invkind & (INVOKE_PROPERTYPUT | INVOKE_PROPERTYPUTREF)) ||
            (m.func->invkind == INVOKE_FUNC && best->func->invkind == INVOKE_PROPERTYGET))
            best = &m;
    }
    // An id that lacks the requested kind is not found, as on the platform: IDispatchImpl looks for the
    // same-named member that has it.
    return best;
}

HRESULT TypeInfoImpl::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_ITypeInfo) {
        *ppv = static_cast<ITypeInfo*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

ULONG TypeInfoImpl::AddRef() { return lib_->AddRef(); }
ULONG TypeInfoImpl::Release() { return lib_->Release(); }

HRESULT TypeInfoImpl::GetTypeAttr(TYPEATTR** ppTypeAttr) {
    if (!ppTypeAttr) return E_INVALIDARG;
    *ppTypeAttr = &attr_;
    return S_OK;
}

HRESULT TypeInfoImpl::GetTypeComp(ITypeComp** ppTComp) {
    if (ppTComp) *ppTComp = nullptr;
    return E_NOTIMPL;
}

HRESULT TypeInfoImpl::GetFuncDesc(UINT index, FUNCDESC** ppFuncDesc) {
    if (!ppFuncDesc) return E_INVALIDARG;
    *ppFuncDesc = nullptr;
    if (index >= funcs_.size()) return TYPE_E_ELEMENTNOTFOUND;
    *ppFuncDesc = &funcs_[index];
    return S_OK;
}

HRESULT TypeInfoImpl::GetVarDesc(UINT index, VARDESC** ppVarDesc) {
    if (!ppVarDesc) return E_INVALIDARG;
    *ppVarDesc = nullptr;
    if (index >= vars_.size()) return TYPE_E_ELEMENTNOTFOUND;
    *ppVarDesc = &vars_[index];
    return S_OK;
}

HRESULT TypeInfoImpl::GetNames(MEMBERID memid, BSTR* rgBstrNames, UINT cMaxNames, UINT* pcNames) {
    if (!pcNames || (cMaxNames && !rgBstrNames)) return E_INVALIDARG;
    *pcNames = 0;
    for (SHORT i = 0; i < desc_->const_count; ++i) {
        if (vars_[static_cast<size_t>(i)].memid != memid) continue;
        if (cMaxNames) rgBstrNames[(*pcNames)++] = SysAllocString(desc_->consts[i].name);
        return S_OK;
    }
    const FuncDesc* f = nullptr;
    for (SHORT i = 0; i < desc_->func_count && !f; ++i)
        if (desc_->funcs[i].memid == memid) f = &desc_->funcs[i];
    if (!f) {
        for (const DispMember& m : members_)
            if (m.func->memid == memid) {
                f = m.func;
                break;
            }
    }
    if (!f) return TYPE_E_ELEMENTNOTFOUND;
    if (cMaxNames == 0) return S_OK;
    rgBstrNames[(*pcNames)++] = SysAllocString(f->name);
    for (SHORT p = 0; p < f->param_count && *pcNames < cMaxNames; ++p)
        rgBstrNames[(*pcNames)++] = SysAllocString(f->params[p].name);
    return S_OK;
}

HRESULT TypeInfoImpl::GetRefTypeOfImplType(UINT index, HREFTYPE* pRefType) {
    if (!pRefType) return E_INVALIDARG;
    if (desc_->kind == TKIND_COCLASS) {
        if (index >= static_cast<UINT>(desc_->impl_count)) return TYPE_E_ELEMENTNOTFOUND;
        *pRefType = static_cast<HREFTYPE>(desc_->impls[index].type_index);
        return S_OK;
    }
    if (index != 0 || attr_.cImplTypes == 0) return TYPE_E_ELEMENTNOTFOUND;
    if (desc_->base_index >= 0)
        *pRefType = static_cast<HREFTYPE>(desc_->base_index);
    else
        *pRefType = desc_->builtin_base == BuiltinBase::IDispatch ? kHrefIDispatch : kHrefIUnknown;
    return S_OK;
}

HRESULT TypeInfoImpl::GetImplTypeFlags(UINT index, INT* pImplTypeFlags) {
    if (!pImplTypeFlags) return E_INVALIDARG;
    if (index >= attr_.cImplTypes) return TYPE_E_ELEMENTNOTFOUND;
    *pImplTypeFlags = desc_->kind == TKIND_COCLASS ? desc_->impls[index].flags : 0;
    return S_OK;
}

HRESULT TypeInfoImpl::GetIDsOfNames(LPOLESTR* rgszNames, UINT cNames, MEMBERID* pMemId) {
    try {
        if (!rgszNames || !pMemId) return E_INVALIDARG;
        if (cNames == 0) return S_OK;
        for (UINT i = 0; i < cNames; ++i) pMemId[i] = MEMBERID_NIL;
        auto named = by_name_.find(FoldName(rgszNames[0]));
        if (named == by_name_.end()) return DISP_E_UNKNOWNNAME;
        pMemId[0] = members_[static_cast<size_t>(named->second.front())].func->memid;
        HRESULT hr = S_OK;
        for (UINT n = 1; n < cNames; ++n) {
            std::u16string wanted = FoldName(rgszNames[n]);
            for (int idx : named->second) {
                const FuncDesc* f = members_[static_cast<size_t>(idx)].func;
                for (SHORT p = 0; p < f->param_count && pMemId[n] == MEMBERID_NIL; ++p)
                    if (FoldName(f->params[p].name) == wanted) pMemId[n] = p;
            }
            if (pMemId[n] == MEMBERID_NIL) hr = DISP_E_UNKNOWNNAME;
        }
        return hr;
    } catch (...) {
        return ExceptionResult();
    }
}

HRESULT TypeInfoImpl::GetDocumentation(MEMBERID memid, BSTR* pBstrName, BSTR* pBstrDocString,
                                       DWORD* pdwHelpContext, BSTR* pBstrHelpFile) {
    const OLECHAR* name = nullptr;
    const OLECHAR* help = nullptr;
    if (memid == MEMBERID_NIL) {
        name = desc_->name;
        help = desc_->help;
    } else {
        for (SHORT i = 0; i < desc_->func_count && !name; ++i)
            if (desc_->funcs[i].memid == memid) name = desc_->funcs[i].name;
        for (SHORT i = 0; i < desc_->const_count && !name; ++i)
            if (vars_[static_cast<size_t>(i)].memid == memid) name = desc_->consts[i].name;
        if (!name) return TYPE_E_ELEMENTNOTFOUND;
    }
    if (pBstrName) *pBstrName = AllocOrNull(name);
    if (pBstrDocString) *pBstrDocString = AllocOrNull(help);
    if (pdwHelpContext) *pdwHelpContext = 0;
    if (pBstrHelpFile) *pBstrHelpFile = nullptr;
    return S_OK;
}

HRESULT TypeInfoImpl::GetDllEntry(MEMBERID, INVOKEKIND, BSTR* pBstrDllName, BSTR* pBstrName, WORD* pwOrdinal) {
    if (pBstrDllName) *pBstrDllName = nullptr;
    if (pBstrName) *pBstrName = nullptr;
    if (pwOrdinal) *pwOrdinal = 0;
    return TYPE_E_WRONGTYPEKIND;
}

HRESULT TypeInfoImpl::GetRefTypeInfo(HREFTYPE hRefType, ITypeInfo** ppTInfo) {
    if (!ppTInfo) return E_INVALIDARG;
    *ppTInfo = lib_->TypeAt(hRefType);
    if (!*ppTInfo) return TYPE_E_ELEMENTNOTFOUND;
    (*ppTInfo)->AddRef();
    return S_OK;
}

HRESULT TypeInfoImpl::AddressOfMember(MEMBERID, INVOKEKIND, PVOID* ppv) {
    if (ppv) *ppv = nullptr;
    return TYPE_E_WRONGTYPEKIND;
}

HRESULT TypeInfoImpl::CreateInstance(IUnknown*, REFIID, PVOID* ppvObj) {
    if (ppvObj) *ppvObj = nullptr;
    return desc_->kind == TKIND_COCLASS ? CLASS_E_CLASSNOTAVAILABLE : TYPE_E_WRONGTYPEKIND;
}

HRESULT TypeInfoImpl::GetMops(MEMBERID, BSTR* pBstrMops) {
    if (pBstrMops) *pBstrMops = nullptr;
    return S_OK;
}

HRESULT TypeInfoImpl::GetContainingTypeLib(ITypeLib** ppTLib, UINT* pIndex) {
    if (ppTLib) {
        *ppTLib = lib_;
        lib_->AddRef();
    }
    if (pIndex) *pIndex = index_;
    return S_OK;
}

void TypeInfoImpl::ReleaseTypeAttr(TYPEATTR*) {}
void TypeInfoImpl::ReleaseFuncDesc(FUNCDESC*) {}
void TypeInfoImpl::ReleaseVarDesc(VARDESC*) {}

// ---------------------------------------------------------------------------------------------------
// TypeLibImpl

TypeLibImpl::TypeLibImpl(const LibraryDesc* desc, void* module_handle) : desc_(desc), module_(module_handle) {
    attr_.guid = desc->guid;
    attr_.lcid = desc->lcid;
    attr_.syskind = SYS_WIN64;
    attr_.wMajorVerNum = desc->major;
    attr_.wMinorVerNum = desc->minor;
    attr_.wLibFlags = LIBFLAG_FHASDISKIMAGE;
    types_.reserve(static_cast<size_t>(desc->type_count));
    for (SHORT i = 0; i < desc->type_count; ++i)
        types_.push_back(std::make_unique<TypeInfoImpl>(this, &desc->types[i], static_cast<UINT>(i),
                                                        static_cast<HREFTYPE>(i)));
    for (auto& t : types_)
        if (t->desc()->kind == TKIND_INTERFACE || t->desc()->kind == TKIND_DISPATCH) t->BuildDispatchTable();
    unknown_ = std::make_unique<TypeInfoImpl>(this, &kUnknownDesc, 0, kHrefIUnknown);
    dispatch_ = std::make_unique<TypeInfoImpl>(this, &kDispatchDesc, 0, kHrefIDispatch);
}

TypeLibImpl::~TypeLibImpl() {
    types_.clear();
    if (module_) dlclose(module_);
}

TypeInfoImpl* TypeLibImpl::TypeAt(HREFTYPE href) {
    if (href == kHrefIUnknown) return unknown_.get();
    if (href == kHrefIDispatch) return dispatch_.get();
    if (href >= types_.size()) return nullptr;
    return types_[href].get();
}

HRESULT TypeLibImpl::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_ITypeLib) {
        *ppv = static_cast<ITypeLib*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

ULONG TypeLibImpl::AddRef() { return ++refs_; }

ULONG TypeLibImpl::Release() {
    ULONG n = --refs_;
    if (n == 0) delete this;
    return n;
}

UINT TypeLibImpl::GetTypeInfoCount() { return static_cast<UINT>(types_.size()); }

HRESULT TypeLibImpl::GetTypeInfo(UINT index, ITypeInfo** ppTInfo) {
    if (!ppTInfo) return E_INVALIDARG;
    *ppTInfo = nullptr;
    if (index >= types_.size()) return TYPE_E_ELEMENTNOTFOUND;
    *ppTInfo = types_[index].get();
    AddRef();
    return S_OK;
}

HRESULT TypeLibImpl::GetTypeInfoType(UINT index, TYPEKIND* pTKind) {
    if (!pTKind) return E_INVALIDARG;
    if (index >= types_.size()) return TYPE_E_ELEMENTNOTFOUND;
    *pTKind = types_[index]->desc()->kind;
    return S_OK;
}

HRESULT TypeLibImpl::GetTypeInfoOfGuid(REFGUID guid, ITypeInfo** ppTinfo) {
    if (!ppTinfo) return E_INVALIDARG;
    *ppTinfo = nullptr;
    if (guid == GUID_NULL) return TYPE_E_ELEMENTNOTFOUND;
    for (auto& t : types_) {
        if (t->desc()->guid == guid) {
            *ppTinfo = t.get();
            AddRef();
            return S_OK;
        }
    }
    return TYPE_E_ELEMENTNOTFOUND;
}

HRESULT TypeLibImpl::GetLibAttr(TLIBATTR** ppTLibAttr) {
    if (!ppTLibAttr) return E_INVALIDARG;
    *ppTLibAttr = &attr_;
    return S_OK;
}

HRESULT TypeLibImpl::GetTypeComp(ITypeComp** ppTComp) {
    if (ppTComp) *ppTComp = nullptr;
    return E_NOTIMPL;
}

HRESULT TypeLibImpl::GetDocumentation(INT index, BSTR* pBstrName, BSTR* pBstrDocString, DWORD* pdwHelpContext,
                                      BSTR* pBstrHelpFile) {
    const OLECHAR* name;
    const OLECHAR* help;
    if (index == -1) {
        name = desc_->name;
        help = desc_->help;
    } else if (index >= 0 && static_cast<size_t>(index) < types_.size()) {
        name = types_[static_cast<size_t>(index)]->desc()->name;
        help = types_[static_cast<size_t>(index)]->desc()->help;
    } else {
        return TYPE_E_ELEMENTNOTFOUND;
    }
    if (pBstrName) *pBstrName = AllocOrNull(name);
    if (pBstrDocString) *pBstrDocString = AllocOrNull(help);
    if (pdwHelpContext) *pdwHelpContext = 0;
    if (pBstrHelpFile) *pBstrHelpFile = nullptr;
    return S_OK;
}

HRESULT TypeLibImpl::IsName(LPOLESTR szNameBuf, ULONG, BOOL* pfName) {
    try {
        if (!szNameBuf || !pfName) return E_INVALIDARG;
        *pfName = FALSE;
        const std::u16string wanted = FoldName(szNameBuf);
        auto matches = [&](const OLECHAR* candidate) {
            if (FoldName(candidate) != wanted) return false;
            // The caller's buffer gets the name as the library spells it.
            std::memcpy(szNameBuf, candidate, wanted.size() * sizeof(OLECHAR));
            *pfName = TRUE;
            return true;
        };
        for (auto& t : types_) {
            const TypeDesc* d = t->desc();
            if (matches(d->name)) return S_OK;
            for (SHORT i = 0; i < d->func_count; ++i)
                if (matches(d->funcs[i].name)) return S_OK;
            for (SHORT i = 0; i < d->const_count; ++i)
                if (matches(d->consts[i].name)) return S_OK;
        }
        return S_OK;
    } catch (...) {
        return ExceptionResult();
    }
}

HRESULT TypeLibImpl::FindName(LPOLESTR szNameBuf, ULONG, ITypeInfo** ppTInfo, MEMBERID* rgMemId,
                              USHORT* pcFound) {
    try {
        if (!szNameBuf || !ppTInfo || !rgMemId || !pcFound) return E_INVALIDARG;
        const std::u16string wanted = FoldName(szNameBuf);
        USHORT found = 0;
        for (auto& t : types_) {
            if (found >= *pcFound) break;
            const TypeDesc* d = t->desc();
            MEMBERID id = MEMBERID_NIL;
            bool hit = FoldName(d->name) == wanted;
            for (SHORT i = 0; i < d->func_count && !hit; ++i)
                if (FoldName(d->funcs[i].name) == wanted) hit = true, id = d->funcs[i].memid;
            if (!hit) continue;
            ppTInfo[found] = t.get();
            AddRef();
            rgMemId[found] = id;
            ++found;
        }
        *pcFound = found;
        return S_OK;
    } catch (...) {
        return ExceptionResult();
    }
}

void TypeLibImpl::ReleaseTLibAttr(TLIBATTR*) {}

}  // namespace nuv::typelib

using nuv::typelib::ExceptionResult;
using nuv::typelib::LibraryDesc;

extern "C" HRESULT NuvCreateTypeLib(const LibraryDesc* desc, ITypeLib** pptlib) {
    try {
        if (!pptlib) return E_POINTER;
        *pptlib = nullptr;
        if (!desc) return E_INVALIDARG;
        *pptlib = new nuv::typelib::TypeLibImpl(desc, nullptr);
        return S_OK;
    } catch (...) {
        return ExceptionResult();
    }
}

namespace {
std::mutex g_inproc_mutex;
std::vector<const LibraryDesc*>& InProcessLibs() {
    static auto* libs = new std::vector<const LibraryDesc*>();
    return *libs;
}
// One ITypeLib per in-process library, made on first use and dropped when the library is revoked.
std::vector<std::pair<const LibraryDesc*, ITypeLib*>>& InProcessObjects() {
    static auto* objs = new std::vector<std::pair<const LibraryDesc*, ITypeLib*>>();
    return *objs;
}
}  // namespace

extern "C" void NuvRegisterInProcessTypeLib(const LibraryDesc* desc) {
    if (!desc) return;
    std::lock_guard lock(g_inproc_mutex);
    InProcessLibs().push_back(desc);
}

extern "C" void NuvRevokeInProcessTypeLib(const LibraryDesc* desc) {
    ITypeLib* drop = nullptr;
    {
        std::lock_guard lock(g_inproc_mutex);
        auto& libs = InProcessLibs();
        auto it = std::find(libs.rbegin(), libs.rend(), desc);
        if (it != libs.rend()) libs.erase(std::next(it).base());
        if (std::find(libs.begin(), libs.end(), desc) == libs.end()) {
            auto& objs = InProcessObjects();
            for (auto o = objs.begin(); o != objs.end(); ++o) {
                if (o->first == desc) {
                    drop = o->second;
                    objs.erase(o);
                    break;
                }
            }
        }
    }
    if (drop) drop->Release();
}

namespace {
const void* ModuleBase(const void* address) {
    Dl_info info{};
    return dladdr(address, &info) ? info.dli_fbase : nullptr;
}
}  // namespace

extern "C" HRESULT NuvGetInProcessTypeInfo(const GUID* plibid, REFIID riid, const void* caller, ITypeInfo** ppTInfo) {
    try {
        if (!ppTInfo) return E_POINTER;
        *ppTInfo = nullptr;
        ITypeLib* lib = nullptr;
        {
            std::lock_guard lock(g_inproc_mutex);
            const void* caller_base = caller ? ModuleBase(caller) : nullptr;
            const LibraryDesc* chosen = nullptr;
            bool chosen_is_callers = false;
            for (const LibraryDesc* d : InProcessLibs()) {
                bool fits = plibid && d->guid == *plibid;
                for (SHORT i = 0; i < d->type_count && !plibid && !fits; ++i) fits = d->types[i].guid == riid;
                if (!fits) continue;
                const bool callers = caller_base && ModuleBase(d) == caller_base;
                if (!chosen || (callers && !chosen_is_callers)) {
                    chosen = d;
                    chosen_is_callers = callers;
                }
            }
            if (!chosen) return TYPE_E_LIBNOTREGISTERED;
            for (auto& o : InProcessObjects())
                if (o.first == chosen) lib = o.second;
            if (!lib) {
                lib = new nuv::typelib::TypeLibImpl(chosen, nullptr);
                InProcessObjects().emplace_back(chosen, lib);
            }
            lib->AddRef();
        }
        HRESULT hr = lib->GetTypeInfoOfGuid(riid, ppTInfo);
        lib->Release();
        return hr;
    } catch (...) {
        return ExceptionResult();
    }
}
