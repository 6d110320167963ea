// Every member of a wrapper's interface, found through its type information and called late-bound with
// harmless arguments: what a script walking a held object would do.
#pragma once
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "atl/nuvatlbase.h"

namespace walk_test {

// What one member answered: the HRESULT of Invoke and, for DISP_E_EXCEPTION, the code and text raised.
struct Answer {
    HRESULT hr = S_OK;
    SCODE scode = S_OK;
    std::string description;
    bool platform_member = false;  // IUnknown's or IDispatch's own: late binding does not reach them
    // The answer of an object whose engine object has gone.
    bool Gone() const {
        return hr == DISP_E_EXCEPTION && scode == static_cast<SCODE>(0x80040101) &&
               description == "Interface no longer references a valid object";
    }
};

struct Member {
    std::string name;
    MEMBERID id;
    INVOKEKIND kind;
    std::vector<ELEMDESC> params;
    bool platform_member;  // in IUnknown's or IDispatch's vtable slots
};

inline std::string MemberName(ITypeInfo* ti, MEMBERID id) {
    CComBSTR name;
    ti->GetDocumentation(id, &name, nullptr, nullptr, nullptr);
    return name.ToUtf8();
}

// The members as late binding sees them: a dual interface's dispatch face lists IUnknown's and
// IDispatch's members, then those of every base interface and its own.
inline std::vector<Member> Members(IDispatch* object) {
    std::vector<Member> out;
    CComPtr<ITypeInfo> ti;
    EXPECT_EQ(object->GetTypeInfo(0, 0, &ti), S_OK);
    for (int depth = 0; ti && depth < 8 && MemberName(ti, MEMBERID_NIL) != "IDispatch"; ++depth) {
        TYPEATTR* ta = nullptr;
        if (FAILED(ti->GetTypeAttr(&ta))) break;
        const WORD count = ta->cFuncs;
        ti->ReleaseTypeAttr(ta);
        for (UINT i = 0; i < count; ++i) {
            FUNCDESC* fd = nullptr;
            if (FAILED(ti->GetFuncDesc(i, &fd))) continue;
            Member m{MemberName(ti, fd->memid), fd->memid, fd->invkind, {}, fd->oVft < static_cast<SHORT>(7 * sizeof(void*))};
            for (SHORT p = 0; p < fd->cParams; ++p) m.params.push_back(fd->lprgelemdescParam[p]);
            out.push_back(m);
            ti->ReleaseFuncDesc(fd);
        }
        HREFTYPE ref = 0;
        CComPtr<ITypeInfo> base;
        if (FAILED(ti->GetRefTypeOfImplType(0, &ref)) || FAILED(ti->GetRefTypeInfo(ref, &base))) break;
        ti = base;
    }
    return out;
}

// Calls every member (a property put and its get are two members) with harmless arguments: 1 for
// values, nothing for objects, a VARIANT for outputs. Keyed by name, a put as "name=".
inline std::map<std::string, Answer> CallEverything(IDispatch* object) {
    std::map<std::string, Answer> answers;
    for (const Member& m : Members(object)) {
        std::vector<CComVariant> args;  // in reverse order, as IDispatch expects
        std::vector<CComVariant> outs(m.params.size());
        for (size_t i = 0; i < m.params.size(); ++i) {
            const ELEMDESC& p = m.params[i];
            if (p.paramdesc.wParamFlags & PARAMFLAG_FRETVAL) continue;
            CComVariant a;
            if (p.paramdesc.wParamFlags & PARAMFLAG_FOUT) {
                a.vt = VT_BYREF | VT_VARIANT;
                a.pvarVal = &outs[i];
            } else if (p.tdesc.vt == VT_UNKNOWN || p.tdesc.vt == VT_DISPATCH || p.tdesc.vt == VT_PTR) {
                a.vt = VT_UNKNOWN;
                a.punkVal = nullptr;
            } else {
                a = CComVariant(LONG{1});
            }
            args.insert(args.begin(), a);
        }
        DISPPARAMS dp{args.empty() ? nullptr : args.data(), nullptr, static_cast<UINT>(args.size()), 0};
        DISPID put = DISPID_PROPERTYPUT;
        const bool isPut = (m.kind & (INVOKE_PROPERTYPUT | INVOKE_PROPERTYPUTREF)) != 0;
        if (isPut) {
            dp.rgdispidNamedArgs = &put;
            dp.cNamedArgs = 1;
        }
        CComVariant result;
        EXCEPINFO ei{};
        UINT argErr = 0;
        Answer answer;
        answer.platform_member = m.platform_member;
        answer.hr = object->Invoke(m.id, IID_NULL, 0, static_cast<WORD>(m.kind), &dp, &result, &ei, &argErr);
        answer.scode = ei.scode;
        answer.description = CComBSTR(ei.bstrDescription).ToUtf8();
        SysFreeString(ei.bstrSource);
        SysFreeString(ei.bstrDescription);
        SysFreeString(ei.bstrHelpFile);
        answers[isPut ? m.name + "=" : m.name] = answer;
    }
    return answers;
}

}  // namespace walk_test
