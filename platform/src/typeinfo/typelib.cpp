// ITypeLib and ITypeInfo over generated descriptors. Every descriptor structure handed out (TYPEATTR,
// FUNCDESC, VARDESC, TLIBATTR) is built once and shared; the Release* calls have nothing to free.
#ifndef _WIN32
#include <dlfcn.h>
#endif

#include <algorithm>
#include <cstring>

#include "typelib_impl.h"

#ifndef TYPE_E_WRONGTYPEKIND
#define TYPE_E_WRONGTYPEKIND _HRESULT_TYPEDEF_(0x8002802AL)
#endif
#ifndef TYPE_E_TYPEMISMATCH
#define TYPE_E_TYPEMISMATCH _HRESULT_TYPEDEF_(0x80028CA0L)
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

// The standard library every interface builds on: IUnknown and IDispatch with their members, and the
// records those members take (described by name only).
constexpr SHORT kStdGuid = 2, kStdDispParams = 3, kStdExcepInfo = 4;
constexpr TypeRef In(VARTYPE vt, BYTE pointers = 0) { return {vt, VT_EMPTY, -1, pointers}; }
constexpr TypeRef Record(SHORT index) { return {VT_USERDEFINED, VT_EMPTY, index, 1}; }
constexpr USHORT kIn = PARAMFLAG_FIN, kOut = PARAMFLAG_FOUT;

const ParamDesc kQueryInterfaceParams[] = {{OLESTR("riid"), Record(kStdGuid), kIn, 0}, {OLESTR("ppvObj"), In(VT_VOID, 2), kOut, 0}};
const FuncDesc kUnknownFuncs[] = {
    {OLESTR("QueryInterface"), 0x60000000, INVOKE_FUNC, FUNC_PUREVIRTUAL, 0, FUNCFLAG_FRESTRICTED, In(VT_HRESULT),
     kQueryInterfaceParams, 2, nullptr},
    {OLESTR("AddRef"), 0x60000001, INVOKE_FUNC, FUNC_PUREVIRTUAL, 1, FUNCFLAG_FRESTRICTED, In(VT_UI4), nullptr, 0, nullptr},
    {OLESTR("Release"), 0x60000002, INVOKE_FUNC, FUNC_PUREVIRTUAL, 2, FUNCFLAG_FRESTRICTED, In(VT_UI4), nullptr, 0, nullptr},
};
const ParamDesc kGetTypeInfoCountParams[] = {{OLESTR("pctinfo"), In(VT_UINT, 1), kOut, 0}};
const ParamDesc kGetTypeInfoParams[] = {
    {OLESTR("itinfo"), In(VT_UINT), kIn, 0}, {OLESTR("lcid"), In(VT_UI4), kIn, 0}, {OLESTR("pptinfo"), In(VT_VOID, 2), kOut, 0}};
const ParamDesc kGetIDsOfNamesParams[] = {{OLESTR("riid"), Record(kStdGuid), kIn, 0},
                                          {OLESTR("rgszNames"), In(VT_I1, 2), kIn, 0},
                                          {OLESTR("cNames"), In(VT_UINT), kIn, 0},
                                          {OLESTR("lcid"), In(VT_UI4), kIn, 0},
                                          {OLESTR("rgdispid"), In(VT_I4, 1), kOut, 0}};
const ParamDesc kInvokeParams[] = {{OLESTR("dispidMember"), In(VT_I4), kIn, 0},
                                   {OLESTR("riid"), Record(kStdGuid), kIn, 0},
                                   {OLESTR("lcid"), In(VT_UI4), kIn, 0},
                                   {OLESTR("wFlags"), In(VT_UI2), kIn, 0},
                                   {OLESTR("pdispparams"), Record(kStdDispParams), kIn, 0},
                                   {OLESTR("pvarResult"), In(VT_VARIANT, 1), kOut, 0},
                                   {OLESTR("pexcepinfo"), Record(kStdExcepInfo), kOut, 0},
                                   {OLESTR("puArgErr"), In(VT_UINT, 1), kOut, 0}};
const FuncDesc kDispatchFuncs[] = {
    {OLESTR("GetTypeInfoCount"), 0x60010000, INVOKE_FUNC, FUNC_PUREVIRTUAL, 3, FUNCFLAG_FRESTRICTED, In(VT_HRESULT),
     kGetTypeInfoCountParams, 1, nullptr},
    {OLESTR("GetTypeInfo"), 0x60010001, INVOKE_FUNC, FUNC_PUREVIRTUAL, 4, FUNCFLAG_FRESTRICTED, In(VT_HRESULT),
     kGetTypeInfoParams, 3, nullptr},
    {OLESTR("GetIDsOfNames"), 0x60010002, INVOKE_FUNC, FUNC_PUREVIRTUAL, 5, FUNCFLAG_FRESTRICTED, In(VT_HRESULT),
     kGetIDsOfNamesParams, 5, nullptr},
    {OLESTR("Invoke"), 0x60010003, INVOKE_FUNC, FUNC_PUREVIRTUAL, 6, FUNCFLAG_FRESTRICTED, In(VT_HRESULT), kInvokeParams, 8,
     nullptr},
};
constexpr TypeRef kNoAlias = {VT_EMPTY, VT_EMPTY, -1, 0};
const TypeDesc kStandardTypes[] = {
    {OLESTR("IUnknown"), __uuidof(IUnknown), TKIND_INTERFACE, TYPEFLAG_FHIDDEN, nullptr, -1, BuiltinBase::None, 3,
     kUnknownFuncs, 3, nullptr, 0, nullptr, 0, kNoAlias},
    {OLESTR("IDispatch"), __uuidof(IDispatch), TKIND_INTERFACE, TYPEFLAG_FRESTRICTED, nullptr, 0, BuiltinBase::None, 7,
     kDispatchFuncs, 4, nullptr, 0, nullptr, 0, kNoAlias},
    {OLESTR("GUID"), GUID_NULL, TKIND_RECORD, 0, nullptr, -1, BuiltinBase::None, 0, nullptr, 0, nullptr, 0, nullptr, 0, kNoAlias},
    {OLESTR("DISPPARAMS"), GUID_NULL, TKIND_RECORD, 0, nullptr, -1, BuiltinBase::None, 0, nullptr, 0, nullptr, 0, nullptr, 0,
     kNoAlias},
    {OLESTR("EXCEPINFO"), GUID_NULL, TKIND_RECORD, 0, nullptr, -1, BuiltinBase::None, 0, nullptr, 0, nullptr, 0, nullptr, 0,
     kNoAlias},
};
const LibraryDesc kStandardLibrary = {OLESTR("stdole"), {0x00020430, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}}, 2, 0, 0,
                                      OLESTR("OLE Automation"), kStandardTypes,
                                      static_cast<SHORT>(sizeof kStandardTypes / sizeof kStandardTypes[0])};

bool IsDual(const TypeDesc& t) { return t.kind == TKIND_INTERFACE && (t.flags & TYPEFLAG_FDUAL); }

}  // namespace

// ---------------------------------------------------------------------------------------------------
// TypeInfoImpl

TypeInfoImpl::TypeInfoImpl(TypeLibImpl* lib, const TypeDesc* desc, UINT index, Face face) :
    lib_(lib), desc_(desc), index_(index), face_(face), comp_(lib, this) {
    const LibraryDesc* ld = lib->desc();
    attr_.guid = desc->guid;
    attr_.lcid = ld->lcid;
    attr_.memidConstructor = MEMBERID_NIL;
    attr_.memidDestructor = MEMBERID_NIL;
    attr_.typekind = face == Face::Dispatch ? TKIND_DISPATCH : desc->kind;
    attr_.cVars = static_cast<WORD>(desc->const_count);
    attr_.cbAlignment = sizeof(void*);
    attr_.wTypeFlags = face == Face::Dispatch ? static_cast<WORD>(desc->flags & ~TYPEFLAG_FOLEAUTOMATION) : desc->flags;
    switch (desc->kind) {
    case TKIND_INTERFACE:
    case TKIND_DISPATCH:
        attr_.cImplTypes = (desc->base_index >= 0 || desc->builtin_base != BuiltinBase::None) ? 1 : 0;
        attr_.cbSizeVft = static_cast<WORD>((face == Face::Dispatch ? 7 : desc->vtable_slots) * sizeof(void*));
        attr_.cbSizeInstance = sizeof(void*);
        break;
    case TKIND_COCLASS:
        attr_.cImplTypes = static_cast<WORD>(desc->impl_count);
        attr_.cbSizeInstance = sizeof(void*);
        attr_.cbAlignment = sizeof(INT);
        break;
    case TKIND_ENUM:
        attr_.cbSizeInstance = sizeof(INT);
        attr_.cbAlignment = sizeof(INT);
        break;
    case TKIND_ALIAS:
        attr_.tdescAlias = MakeTypeDesc(desc->alias);
        attr_.cbSizeInstance = sizeof(INT);
        attr_.cbAlignment = sizeof(INT);
        break;
    default:
        break;
    }

    if (face == Face::Dispatch) {
        // IUnknown's and IDispatch's members, then those of every base interface, the bases' first.
        const LibraryDesc* std_lib = StandardLibrary()->desc();
        for (const TypeDesc* t : {&std_lib->types[0], &std_lib->types[1]})
            for (SHORT i = 0; i < t->func_count; ++i) AddFunction(t->funcs[i], kHrefStandard);
        std::vector<const TypeDesc*> chain;
        for (const TypeDesc* t = desc; t; t = t->base_index >= 0 ? &ld->types[t->base_index] : nullptr) chain.push_back(t);
        for (auto t = chain.rbegin(); t != chain.rend(); ++t)
            for (SHORT i = 0; i < (*t)->func_count; ++i) AddFunction((*t)->funcs[i], 0);
    } else {
        for (SHORT i = 0; i < desc->func_count; ++i) AddFunction(desc->funcs[i], 0);
    }
    attr_.cFuncs = static_cast<WORD>(funcs_.size());

    vars_.reserve(desc->const_count);
    for (SHORT i = 0; i < desc->const_count; ++i) {
        VARIANT& v = const_values_.emplace_back();
        v.vt = VT_I4;
        v.lVal = desc->consts[i].value;
        VARDESC vd{};
        vd.memid = 0x40000000 + i;
        vd.lpvarValue = &v;
        vd.elemdescVar.tdesc.vt = VT_INT;
        vd.varkind = VAR_CONST;
        vars_.push_back(vd);
    }
}

// One listed function. The dispatch face shows a member as a late-bound caller calls it: a retval
// parameter becomes the result, an HRESULT without one becomes no result.
void TypeInfoImpl::AddFunction(const FuncDesc& f, HREFTYPE offset) {
    const bool dispatch = face_ == Face::Dispatch;
    SHORT shown = f.param_count;
    if (dispatch && shown > 0 && (f.params[shown - 1].flags & PARAMFLAG_FRETVAL)) --shown;
    FUNCDESC fd{};
    fd.memid = f.memid;
    fd.funckind = dispatch ? FUNC_DISPATCH : f.funckind;
    fd.invkind = f.invkind;
    fd.callconv = CC_STDCALL;
    fd.cParams = shown;
    fd.oVft = static_cast<SHORT>(f.funckind == FUNC_DISPATCH ? 0 : f.vtable_slot * sizeof(void*));
    fd.wFuncFlags = f.flags;
    if (dispatch && shown < f.param_count) {
        TypeRef result = f.params[shown].type;
        if (result.pointers > 0) --result.pointers;
        fd.elemdescFunc.tdesc = MakeTypeDesc(result, offset);
    } else if (dispatch && f.result.vt == VT_HRESULT && f.result.pointers == 0) {
        fd.elemdescFunc.tdesc.vt = VT_VOID;
    } else {
        fd.elemdescFunc.tdesc = MakeTypeDesc(f.result, offset);
    }
    auto& elems = elem_arrays_.emplace_back(static_cast<size_t>(shown));
    for (SHORT p = 0; p < shown; ++p) {
        const ParamDesc& pd = f.params[p];
        ELEMDESC& e = elems[static_cast<size_t>(p)];
        e.tdesc = MakeTypeDesc(pd.type, offset);
        e.paramdesc.wParamFlags = pd.flags;
        e.paramdesc.pparamdescex = nullptr;
        if (pd.flags & PARAMFLAG_FHASDEFAULT) {
            PARAMDESCEX& ex = defaults_.emplace_back();
            ex.cBytes = sizeof(PARAMDESCEX);
            ex.varDefaultValue.vt = VT_I4;
            ex.varDefaultValue.lVal = pd.default_value;
            e.paramdesc.pparamdescex = &ex;
        }
        if (pd.flags & PARAMFLAG_FOPT) ++fd.cParamsOpt;  // defaulted parameters are optional too
    }
    fd.lprgelemdescParam = elems.empty() ? nullptr : elems.data();
    funcs_.push_back(fd);
    listed_.push_back(&f);
}

const FuncDesc* TypeInfoImpl::ListedFunction(MEMBERID memid) const {
    for (const FuncDesc* f : listed_)
        if (f->memid == memid) return f;
    return nullptr;
}

TYPEDESC TypeInfoImpl::MakeTypeDesc(const TypeRef& ref, HREFTYPE offset) {
    TYPEDESC base{};
    base.vt = ref.vt;
    if (ref.vt == VT_USERDEFINED) {
        base.hreftype = offset + static_cast<HREFTYPE>(ref.type_index);
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
    if (!ppTComp) return E_INVALIDARG;
    *ppTComp = &comp_;
    comp_.AddRef();
    return S_OK;
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
    const FuncDesc* f = ListedFunction(memid);
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
    // The parameters a client names: not the value a property write assigns, and through the dispatch
    // face not the retval (it is the result there).
    SHORT named = f->param_count;
    if (face_ == Face::Dispatch && named > 0 && (f->params[named - 1].flags & PARAMFLAG_FRETVAL)) --named;
    if ((f->invkind & (INVOKE_PROPERTYPUT | INVOKE_PROPERTYPUTREF)) && named > 0) --named;
    for (SHORT p = 0; p < named && *pcNames < cMaxNames; ++p)
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
    if (index == static_cast<UINT>(-1)) {
        // The other face of a dual interface.
        if (face_ == Face::Plain) return TYPE_E_ELEMENTNOTFOUND;
        *pRefType = lib_->HrefOf(static_cast<SHORT>(index_), face_ == Face::Dispatch);
        return S_OK;
    }
    if (index != 0 || attr_.cImplTypes == 0) return TYPE_E_ELEMENTNOTFOUND;
    if (face_ == Face::Dispatch)
        *pRefType = kHrefIDispatch;
    else if (desc_->base_index >= 0 && lib_ == StandardLibrary())
        *pRefType = static_cast<HREFTYPE>(desc_->base_index);
    else if (desc_->base_index >= 0)
        *pRefType = lib_->HrefOf(desc_->base_index, true);
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
        if (const FuncDesc* f = ListedFunction(memid)) name = f->name;
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

HRESULT TypeInfoImpl::BindMember(const std::u16string& folded, WORD flags, ITypeInfo** owner, DESCKIND* kind,
                                 BINDPTR* bound) {
    // A dual interface's dispatch face binds as its interface face does: each member is found in the
    // interface that declares it.
    if (face_ == Face::Dispatch) {
        TypeInfoImpl* vtable_face = lib_->TypeAt(lib_->HrefOf(static_cast<SHORT>(index_), true));
        return vtable_face ? vtable_face->BindMember(folded, flags, owner, kind, bound) : S_OK;
    }
    bool named = false;
    for (size_t i = 0; i < listed_.size(); ++i) {
        if (FoldName(listed_[i]->name) != folded) continue;
        named = true;
        if (flags && !(listed_[i]->invkind & flags)) continue;
        *kind = DESCKIND_FUNCDESC;
        bound->lpfuncdesc = &funcs_[i];
        *owner = this;
        AddRef();
        return S_OK;
    }
    for (SHORT i = 0; i < desc_->const_count; ++i) {
        if (FoldName(desc_->consts[i].name) != folded) continue;
        *kind = DESCKIND_VARDESC;
        bound->lpvardesc = &vars_[static_cast<size_t>(i)];
        *owner = this;
        AddRef();
        return S_OK;
    }
    // The name is a member, but not of the kind asked for.
    if (named) return TYPE_E_TYPEMISMATCH;
    HREFTYPE ref = 0;
    if ((desc_->kind == TKIND_INTERFACE || desc_->kind == TKIND_DISPATCH) && SUCCEEDED(GetRefTypeOfImplType(0, &ref)))
        if (TypeInfoImpl* base = lib_->TypeAt(ref)) return base->BindMember(folded, flags, owner, kind, bound);
    return S_OK;
}

// ---------------------------------------------------------------------------------------------------
// TypeCompImpl

HRESULT TypeCompImpl::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_ITypeComp) {
        *ppv = static_cast<ITypeComp*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

ULONG TypeCompImpl::AddRef() { return lib_->AddRef(); }
ULONG TypeCompImpl::Release() { return lib_->Release(); }

HRESULT TypeCompImpl::Bind(LPOLESTR szName, ULONG, WORD wFlags, ITypeInfo** ppTInfo, DESCKIND* pDescKind,
                           BINDPTR* pBindPtr) {
    if (!szName || !ppTInfo || !pDescKind || !pBindPtr) return E_INVALIDARG;
    *ppTInfo = nullptr;
    *pDescKind = DESCKIND_NONE;
    pBindPtr->lpfuncdesc = nullptr;
    try {
        const std::u16string folded = FoldName(szName);
        return type_ ? type_->BindMember(folded, wFlags, ppTInfo, pDescKind, pBindPtr)
                     : lib_->BindName(folded, ppTInfo, pDescKind, pBindPtr);
    } catch (...) {
        return ExceptionResult();
    }
}

HRESULT TypeCompImpl::BindType(LPOLESTR szName, ULONG, ITypeInfo** ppTInfo, ITypeComp** ppTComp) {
    if (!szName || !ppTInfo || !ppTComp) return E_INVALIDARG;
    *ppTInfo = nullptr;
    *ppTComp = nullptr;
    if (type_) return S_OK;  // a type holds no types of its own
    try {
        return lib_->BindTypeName(FoldName(szName), ppTInfo, ppTComp);
    } catch (...) {
        return ExceptionResult();
    }
}

void TypeInfoImpl::ReleaseTypeAttr(TYPEATTR*) {}
void TypeInfoImpl::ReleaseFuncDesc(FUNCDESC*) {}
void TypeInfoImpl::ReleaseVarDesc(VARDESC*) {}

// ---------------------------------------------------------------------------------------------------
// TypeLibImpl

TypeLibImpl::TypeLibImpl(const LibraryDesc* desc, void* module_handle) :
    desc_(desc), module_(module_handle), comp_(this, nullptr) {
    attr_.guid = desc->guid;
    attr_.lcid = desc->lcid;
    attr_.syskind = SYS_WIN64;
    attr_.wMajorVerNum = desc->major;
    attr_.wMinorVerNum = desc->minor;
    attr_.wLibFlags = LIBFLAG_FHASDISKIMAGE;
    types_.reserve(static_cast<size_t>(desc->type_count));
    interfaces_.resize(static_cast<size_t>(desc->type_count));
    for (SHORT i = 0; i < desc->type_count; ++i) {
        const TypeDesc* t = &desc->types[i];
        const bool dual = IsDual(*t);
        types_.push_back(std::make_unique<TypeInfoImpl>(this, t, static_cast<UINT>(i), dual ? Face::Dispatch : Face::Plain));
        if (dual)
            interfaces_[static_cast<size_t>(i)] = std::make_unique<TypeInfoImpl>(this, t, static_cast<UINT>(i), Face::Interface);
    }
    for (auto* faces : {&types_, &interfaces_})
        for (auto& t : *faces)
            if (t && (t->desc()->kind == TKIND_INTERFACE || t->desc()->kind == TKIND_DISPATCH)) t->BuildDispatchTable();
}

TypeLibImpl::~TypeLibImpl() {
    types_.clear();
    interfaces_.clear();
#ifndef _WIN32
    if (module_) dlclose(module_);
#endif
}

TypeLibImpl* StandardLibrary() {
    // Made once and kept for the life of the process, as the platform keeps its standard library loaded.
    static TypeLibImpl* lib = new TypeLibImpl(&kStandardLibrary, nullptr);
    return lib;
}

HREFTYPE TypeLibImpl::HrefOf(SHORT index, bool interface_face) const {
    if (interface_face && index >= 0 && interfaces_[static_cast<size_t>(index)])
        return kHrefInterfaceFace + static_cast<HREFTYPE>(index);
    return static_cast<HREFTYPE>(index);
}

TypeInfoImpl* TypeLibImpl::TypeAt(HREFTYPE href) {
    if (href >= kHrefInterfaceFace) {
        const HREFTYPE i = href - kHrefInterfaceFace;
        return i < interfaces_.size() ? interfaces_[i].get() : nullptr;
    }
    if (href >= kHrefStandard) {
        TypeLibImpl* std_lib = StandardLibrary();
        return std_lib == this ? nullptr : std_lib->TypeAt(href - kHrefStandard);
    }
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
    if (!ppTComp) return E_INVALIDARG;
    *ppTComp = &comp_;
    AddRef();
    return S_OK;
}

HRESULT TypeLibImpl::BindName(const std::u16string& folded, ITypeInfo** owner, DESCKIND* kind, BINDPTR* bound) {
    for (auto& t : types_) {
        const TypeDesc* d = t->desc();
        if (d->kind != TKIND_ENUM && d->kind != TKIND_MODULE) continue;
        if (FoldName(d->name) == folded) {
            // An enumeration's name opens its own scope, as in "NUVSpec.NUVSpec_Calc".
            *kind = DESCKIND_TYPECOMP;
            return t->GetTypeComp(&bound->lptcomp);
        }
        HRESULT hr = t->BindMember(folded, 0, owner, kind, bound);
        if (FAILED(hr) || *kind != DESCKIND_NONE) return hr;
    }
    return S_OK;
}

HRESULT TypeLibImpl::BindTypeName(const std::u16string& folded, ITypeInfo** found, ITypeComp** comp) {
    for (auto& t : types_) {
        if (FoldName(t->desc()->name) != folded) continue;
        *found = t.get();
        AddRef();
        if (comp) t->GetTypeComp(comp);
        return S_OK;
    }
    return S_OK;
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
