// Every member of the wrappers' interfaces, found through their type information and called late-bound
// on a wrapper whose engine object is gone, fails with "Interface no longer references a valid object";
// only IsValid and TriggerCancel answer, and the objects can still be released.
#include <set>

#include "model_support.h"
#include "simulation.h"

using model_test::SimulationTest;

using model_test::I4;

namespace {

struct Member {
    std::string name;
    MEMBERID id;
    INVOKEKIND kind;
    std::vector<ELEMDESC> params;
    bool platform_member;  // IUnknown's or IDispatch's own (in their vtable slots): late binding does not reach them
};

std::string NameOf(ITypeInfo* ti, MEMBERID id) {
    CComBSTR name;
    ti->GetDocumentation(id, &name, nullptr, nullptr, nullptr);
    return name.ToUtf8();
}

// The members as late binding sees them: the dispatch face of a dual interface lists IUnknown's and
// IDispatch's members, then those of every base interface and its own.
std::vector<Member> Members(IDispatch* object) {
    std::vector<Member> out;
    CComPtr<ITypeInfo> ti;
    EXPECT_EQ(object->GetTypeInfo(0, 0, &ti), S_OK);
    for (int depth = 0; ti && depth < 8 && NameOf(ti, MEMBERID_NIL) != "IDispatch"; ++depth) {
        TYPEATTR* ta = nullptr;
        if (FAILED(ti->GetTypeAttr(&ta))) break;
        const WORD count = ta->cFuncs;
        ti->ReleaseTypeAttr(ta);
        for (UINT i = 0; i < count; ++i) {
            FUNCDESC* fd = nullptr;
            if (FAILED(ti->GetFuncDesc(i, &fd))) continue;
            Member m{NameOf(ti, fd->memid), fd->memid, fd->invkind, {}, fd->oVft < static_cast<SHORT>(7 * sizeof(void*))};
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

// Calls every member with harmless arguments; returns the names of those that did not fail with
// 0x80040101, with what they returned.
std::set<std::string> CallEverything(IDispatch* object, int* called) {
    std::set<std::string> answered;
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
                a = I4(1);
            }
            args.insert(args.begin(), a);
        }
        DISPPARAMS dp{args.empty() ? nullptr : args.data(), nullptr, static_cast<UINT>(args.size()), 0};
        DISPID put = DISPID_PROPERTYPUT;
        if (m.kind & (INVOKE_PROPERTYPUT | INVOKE_PROPERTYPUTREF)) {
            dp.rgdispidNamedArgs = &put;
            dp.cNamedArgs = 1;
        }
        CComVariant result;
        EXCEPINFO ei{};
        UINT argErr = 0;
        const HRESULT hr = object->Invoke(m.id, IID_NULL, 0, static_cast<WORD>(m.kind), &dp, &result, &ei, &argErr);
        ++*called;
        if (m.platform_member) {
            EXPECT_EQ(hr, DISP_E_MEMBERNOTFOUND) << m.name;
        } else if (hr != DISP_E_EXCEPTION || ei.scode != static_cast<SCODE>(0x80040101)) {
            answered.insert(m.name);
            EXPECT_EQ(hr, S_OK) << m.name << " answered " << std::hex << hr << " / " << ei.scode;
        } else {
            EXPECT_EQ(CComBSTR(ei.bstrDescription).ToUtf8(), "Interface no longer references a valid object")
                << m.name;
        }
        SysFreeString(ei.bstrSource);
        SysFreeString(ei.bstrDescription);
        SysFreeString(ei.bstrHelpFile);
    }
    return answered;
}

TEST_F(SimulationTest, EveryMemberOfADetachedWrapperFails) {
    CComPtr<INUVSolverCollection> solvers;
    ASSERT_EQ(wrapper_->get_Solvers(&solvers), S_OK);
    CComPtr<INUVSolver> solver;
    ASSERT_EQ(solvers->get_Solver(I4(1), &solver), S_OK);
    CComPtr<INUVParameters> params;
    ASSERT_EQ(solver->get_Parameters(&params), S_OK);
    CComPtr<INUVBlock> flowsheet;
    ASSERT_EQ(wrapper_->get_Flowsheet(&flowsheet), S_OK);
    CComPtr<INUVBlock2> feed;
    ASSERT_EQ(NUVClassFactory::QueryCreateWrapper(sim_.get(), sim_->Flowsheet()->FindBlock("FEED"), IID_INUVBlock2,
                                                  reinterpret_cast<void**>(&feed)),
              S_OK);
    DetachEngine();
    auto* impl = nuv::ImplementationOf<CoNUVSimulation>(wrapper_);
    EXPECT_EQ(impl->GetEngineSimulation(), nullptr);
    EXPECT_EQ(impl->EngineCount(), 0);

    struct Target {
        const char* what;
        IDispatch* object;
        std::set<std::string> answering;
        int members;  // IUnknown's and IDispatch's 7, the bases' and the interface's own
    };
    Target targets[] = {
        {"simulation", wrapper_, {"IsValid", "TriggerCancel"}, 28},
        {"solver collection", solvers, {}, 15},
        {"solver", solver, {"IsValid"}, 13},
        {"solver parameters", params, {}, 13},
        {"flowsheet", flowsheet, {"IsValid"}, 19},  // a block wrapper: its type information is INUVBlock2
        {"block", feed, {"IsValid"}, 19},
    };
    for (Target& t : targets) {
        SCOPED_TRACE(t.what);
        int called = 0;
        EXPECT_EQ(CallEverything(t.object, &called), t.answering);
        EXPECT_EQ(called, t.members);
    }
    // Released below by the smart pointers and the fixture: nothing may reach the gone engine objects.
}

}  // namespace
