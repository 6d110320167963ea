// Late-bound calls through type information: argument matching, defaults, coercion, by-reference
// storage, the call itself through the member's generated function, and failures as exceptions.
#include <array>
#include <cstring>
#include <memory>

#include "typelib_impl.h"

namespace nuv::typelib {
namespace {

constexpr size_t kMaxParams = 16;

bool IsMissing(const VARIANT* v) {
    return v->vt == VT_ERROR && v->scode == DISP_E_PARAMNOTFOUND;
}

// The VARIANT an argument really holds, looking through one VT_BYREF|VT_VARIANT.
const VARIANT* Deref(const VARIANT* v) {
    return (v->vt == (VT_BYREF | VT_VARIANT) && v->pvarVal) ? v->pvarVal : v;
}

// Where the by-reference storage of one VARIANT field starts.
void* FieldAddress(VARIANT* v) { return &v->lVal; }

// Per-parameter state of one call: the value handed to the member and what to do afterwards.
struct ArgSlot {
    VARIANT local{};          // coerced value or by-reference storage, owned by the call
    VARIANT ref{};            // VT_BYREF view over `local` when the member takes a pointer
    VARIANT* pass = nullptr;  // what the generated function sees
    VARIANT* write_back = nullptr;  // a caller's VT_BYREF|VT_VARIANT target to update on success
    bool owns_local = false;
};

class CallFrame {
public:
    ~CallFrame() {
        for (size_t i = 0; i < count_; ++i)
            if (slots_[i].owns_local) VariantClear(&slots_[i].local);
    }
    ArgSlot& at(size_t i) { return slots_[i]; }
    void resize(size_t n) { count_ = n; }

private:
    std::array<ArgSlot, kMaxParams> slots_{};
    size_t count_ = 0;
};

HRESULT CoerceValue(const ParamPlan& plan, const VARIANT* src, ArgSlot& slot) {
    const VARIANT* v = Deref(src);
    if (plan.vt == VT_VARIANT) {
        // The member gets a copy: it may change or clear its argument without touching the caller's.
        slot.owns_local = true;
        HRESULT hr = VariantCopy(&slot.local, v);
        slot.pass = &slot.local;
        return hr;
    }
    if (plan.vt & VT_ARRAY) {
        const VARIANT* a = v;
        if (a->vt == (VT_BYREF | plan.vt)) {
            slot.local.vt = plan.vt;
            slot.local.parray = a->pparray ? *a->pparray : nullptr;
        } else if (a->vt == plan.vt) {
            slot.local.vt = plan.vt;
            slot.local.parray = a->parray;
        } else {
            return DISP_E_TYPEMISMATCH;
        }
        slot.pass = &slot.local;
        return S_OK;
    }
    slot.owns_local = true;
    HRESULT hr = VariantChangeType(&slot.local, v, 0, plan.vt);
    if (FAILED(hr)) return hr;
    if (plan.iid && slot.local.punkVal) {
        IUnknown* itf = nullptr;
        hr = slot.local.punkVal->QueryInterface(*plan.iid, reinterpret_cast<void**>(&itf));
        VariantClear(&slot.local);
        if (FAILED(hr)) return DISP_E_TYPEMISMATCH;
        slot.local.vt = VT_UNKNOWN;
        slot.local.punkVal = itf;
    }
    slot.pass = &slot.local;
    return S_OK;
}

HRESULT PrepareByRef(const ParamPlan& plan, VARIANT* src, ArgSlot& slot) {
    const VARTYPE want = static_cast<VARTYPE>(VT_BYREF | plan.vt);
    const bool out_only = (plan.flags & PARAMFLAG_FOUT) && !(plan.flags & PARAMFLAG_FIN);
    if (src->vt == want && src->byref) {
        if (out_only) {
            // An out parameter is written without being read: release what the caller's storage held.
            if (plan.vt == VT_VARIANT) {
                VariantClear(src->pvarVal);
            } else if (plan.vt == VT_BSTR) {
                SysFreeString(*src->pbstrVal);
                *src->pbstrVal = nullptr;
            }
        }
        slot.pass = src;
        return S_OK;
    }
    VARIANT* target = nullptr;
    if (src->vt == (VT_BYREF | VT_VARIANT) && src->pvarVal) target = src->pvarVal;
    if (!target && (plan.flags & PARAMFLAG_FOUT)) return DISP_E_TYPEMISMATCH;
    const VARIANT* initial = target ? target : src;
    slot.owns_local = true;
    if (plan.vt == VT_VARIANT) {
        // A VARIANT* parameter fed a plain value: the member gets a pointer to a copy.
        HRESULT hr = out_only ? S_OK : VariantCopy(&slot.local, initial);
        if (FAILED(hr)) return hr;
        slot.ref.vt = want;
        slot.ref.pvarVal = &slot.local;
        slot.pass = &slot.ref;
        return S_OK;
    }
    if (out_only || initial->vt == VT_EMPTY) {
        slot.local.vt = plan.vt;
        slot.local.llVal = 0;
    } else if (plan.vt & VT_ARRAY) {
        if (initial->vt != plan.vt) return DISP_E_TYPEMISMATCH;
        HRESULT hr = VariantCopy(&slot.local, initial);
        if (FAILED(hr)) return hr;
    } else {
        HRESULT hr = VariantChangeType(&slot.local, initial, 0, plan.vt);
        if (FAILED(hr)) return hr;
    }
    slot.ref.vt = want;
    slot.ref.byref = FieldAddress(&slot.local);
    slot.pass = &slot.ref;
    slot.write_back = target;
    return S_OK;
}

void FillException(EXCEPINFO* ei, HRESULT hr) {
    std::memset(ei, 0, sizeof(*ei));
    ei->scode = hr;
    IErrorInfo* info = nullptr;
    if (GetErrorInfo(0, &info) == S_OK && info) {
        info->GetSource(&ei->bstrSource);
        info->GetDescription(&ei->bstrDescription);
        info->GetHelpFile(&ei->bstrHelpFile);
        info->GetHelpContext(&ei->dwHelpContext);
        info->Release();
    }
}

// The member itself. An exception must not leave through IDispatch: it becomes a failure with no
// error information (any left on the thread belongs to an earlier call).
HRESULT CallMember(const FuncDesc& func, IDispatch* self, VARIANT** args, VARIANT* result) noexcept {
    try {
        return func.thunk(self, args, result);
    } catch (...) {
        SetErrorInfo(0, nullptr);
        return ExceptionResult();
    }
}

struct Releaser {
    void operator()(IUnknown* p) const { p->Release(); }
};

// Hands a call's arguments, with its flags, to the default member (DISPID_VALUE) of the object a property
// read left in `value`, which receives that member's result. The member's answer, failure or success code,
// is the call's; a value that is no object answers DISP_E_NOTACOLLECTION and is cleared.
HRESULT CallDefaultMemberOf(VARIANT* value, WORD flags, DISPPARAMS* dp, EXCEPINFO* ei, UINT* arg_err) {
    if (value->vt != VT_DISPATCH || !value->pdispVal) {
        VariantClear(value);
        return DISP_E_NOTACOLLECTION;
    }
    const std::unique_ptr<IDispatch, Releaser> object(value->pdispVal);  // the value's reference
    VariantInit(value);
    return object->Invoke(DISPID_VALUE, IID_NULL, LOCALE_USER_DEFAULT, flags, dp, value, ei, arg_err);
}

}  // namespace

HRESULT TypeInfoImpl::Invoke(PVOID pvInstance, MEMBERID memid, WORD wFlags, DISPPARAMS* dp, VARIANT* pVarResult,
                             EXCEPINFO* pExcepInfo, UINT* puArgErr) {
    if (!pvInstance || !dp) return E_INVALIDARG;
    if (dp->cArgs && !dp->rgvarg) return E_INVALIDARG;
    if (dp->cNamedArgs > dp->cArgs || (dp->cNamedArgs && !dp->rgdispidNamedArgs)) return E_INVALIDARG;
    if (!(desc_->flags & TYPEFLAG_FDISPATCHABLE) || desc_->kind != TKIND_INTERFACE) return DISP_E_MEMBERNOTFOUND;
    const DispMember* m = FindMember(memid, wFlags & (DISPATCH_METHOD | DISPATCH_PROPERTYGET |
                                                      DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF));
    if (!m || !m->func->thunk) return DISP_E_MEMBERNOTFOUND;
    const size_t nparams = static_cast<size_t>(m->func->param_count);
    if (nparams > kMaxParams) return DISP_E_BADPARAMCOUNT;
    for (const ParamPlan& p : m->params)
        if (p.mode == ParamPlan::Mode::Unsupported) return DISP_E_MEMBERNOTFOUND;

    // Arguments given to a property read that takes none belong to the value read: `flowsheet.Blocks(2)`
    // reads Blocks and asks the collection for its item 2. Without a result there is nowhere to read to.
    if (m->func->invkind == INVOKE_PROPERTYGET && m->retval >= 0 && m->client_params == 0 && dp->cArgs) {
        if (!pVarResult) return DISP_E_BADPARAMCOUNT;
        DISPPARAMS none{};
        HRESULT hr = Invoke(pvInstance, memid, wFlags, &none, pVarResult, pExcepInfo, puArgErr);
        return FAILED(hr) ? hr : CallDefaultMemberOf(pVarResult, wFlags, dp, pExcepInfo, puArgErr);
    }

    const UINT named = dp->cNamedArgs;
    const UINT positional = dp->cArgs - named;
    const bool is_put = m->func->invkind & (INVOKE_PROPERTYPUT | INVOKE_PROPERTYPUTREF);
    if (positional > static_cast<UINT>(m->client_params)) return DISP_E_BADPARAMCOUNT;

    // Which caller argument (index into rgvarg) feeds each parameter; -1 for none.
    std::array<int, kMaxParams> source;
    source.fill(-1);
    for (UINT j = 0; j < positional; ++j) source[j] = static_cast<int>(dp->cArgs - 1 - j);
    for (UINT k = 0; k < named; ++k) {
        DISPID id = dp->rgdispidNamedArgs[k];
        if (id == DISPID_PROPERTYPUT && is_put) id = m->client_params - 1;
        if (id < 0 || id >= m->client_params || source[static_cast<size_t>(id)] != -1) {
            if (puArgErr) *puArgErr = k;
            return DISP_E_PARAMNOTFOUND;
        }
        source[static_cast<size_t>(id)] = static_cast<int>(k);
    }

    CallFrame frame;
    frame.resize(nparams);
    std::array<VARIANT*, kMaxParams> args{};
    for (size_t i = 0, client = 0; i < nparams; ++i) {
        const ParamPlan& plan = m->params[i];
        ArgSlot& slot = frame.at(i);
        if (plan.mode == ParamPlan::Mode::RetVal) continue;
        const int src_index = source[client++];
        VARIANT* src = src_index >= 0 ? &dp->rgvarg[src_index] : nullptr;
        if (!src || IsMissing(src)) {
            if (plan.flags & PARAMFLAG_FHASDEFAULT) {
                VARIANT def{};
                def.vt = VT_I4;
                def.lVal = plan.default_value;
                HRESULT hr = CoerceValue(plan, &def, slot);
                if (FAILED(hr)) return hr;
                args[i] = slot.pass;
                continue;
            }
            if ((plan.flags & PARAMFLAG_FOPT) && plan.vt == VT_VARIANT && plan.mode == ParamPlan::Mode::Value) {
                slot.local.vt = VT_ERROR;
                slot.local.scode = DISP_E_PARAMNOTFOUND;
                args[i] = slot.pass = &slot.local;
                continue;
            }
            return src ? DISP_E_PARAMNOTOPTIONAL : DISP_E_BADPARAMCOUNT;
        }
        HRESULT hr = plan.mode == ParamPlan::Mode::ByRef ? PrepareByRef(plan, src, slot) : CoerceValue(plan, src, slot);
        if (FAILED(hr)) {
            if (puArgErr) *puArgErr = static_cast<UINT>(src_index);
            return hr == DISP_E_OVERFLOW ? DISP_E_OVERFLOW : DISP_E_TYPEMISMATCH;
        }
        args[i] = slot.pass;
    }

    VARIANT scratch{};
    VARIANT* result = pVarResult ? pVarResult : &scratch;
    if (pVarResult) VariantInit(pVarResult);
    HRESULT hr = CallMember(*m->func, static_cast<IDispatch*>(pvInstance), args.data(), result);
    if (!pVarResult) VariantClear(&scratch);

    if (SUCCEEDED(hr)) {
        for (size_t i = 0; i < nparams; ++i) {
            ArgSlot& slot = frame.at(i);
            if (!slot.write_back) continue;
            VariantClear(slot.write_back);
            *slot.write_back = slot.local;  // ownership moves to the caller's variant
            slot.owns_local = false;
        }
        // A member's own success code (S_FALSE and the like) is not passed on: late-bound callers see S_OK,
        // as through the platform's type information.
        return S_OK;
    }
    if (pExcepInfo) {
        FillException(pExcepInfo, hr);
        return DISP_E_EXCEPTION;
    }
    return hr;
}

}  // namespace nuv::typelib
