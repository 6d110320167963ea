// Every member of every dual interface a client can reach, called late-bound and through its vtable with
// each malformed argument of the zoo (malformed_args.h) in each parameter, and with null out-pointers. A
// call may succeed or fail, but it must not crash or leak (the sanitizer builds check), a member that
// reports errors must leave error information with its failure, a refused call must leave the model as it
// was and keep no reference to what it refused.
//
// Each family of objects gets a fresh plant, so what a successful call changes stays in its family. The
// CI run takes one object per family; NUV_SWEEP_LONG=1 walks deeper and sweeps every family found.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "door_sweep.h"
#include "hang_guard.h"
#include "malformed_args.h"
#include "process_objects.h"
#include "temp_dir.h"

namespace {

using namespace nuvtest::sweep;
using nuvtest::Malformed;
using nuvtest::ZooFamily;
using nuvtest::ZooKind;

bool LongRun() {
    const char* v = std::getenv("NUV_SWEEP_LONG");
    return v && *v && *v != '0';
}

// Failures that these objects return without error information by contract, though their interface
// reports errors otherwise. A row holds when the object answers `face` (and not `unless`), the member's
// "Interface.get Name" label starts with `member` and the failure code (what the member returned, or
// through Invoke the code its exception carries) is `code` (0: any).
struct Silent {
    const char* face;
    const char* unless;
    const char* member;
    HRESULT code;
};
const Silent kSilentByContract[] = {
    // A null out pointer is the caller's slip, answered with the bare code by the simulation, variables,
    // solvers with their parameters, and the engine-backed collections.
    {"INUVSimulation", nullptr, "", E_POINTER},
    {"INUVVariable", nullptr, "", E_POINTER},
    {"INUVSolver", nullptr, "", E_POINTER},
    {"INUVParameters", nullptr, "", E_POINTER},
    {"INUVObjectCollection", "INUVGridService", "INUVObjectCollection.", E_POINTER},
    // The attribute matrices refuse names or values that are not arrays with the bare code.
    {"INUVObjectCollection", "INUVGridService", "INUVObjectCollection.GetAttributes", E_INVALIDARG},
    {"INUVObjectCollection", "INUVGridService", "INUVObjectCollection.SetAttributes", E_INVALIDARG},
    // The block and solver collections take no attribute matrix and say so with the bare code.
    {"INUVBlockCollection", nullptr, "INUVObjectCollection.SetAttributes", E_NOTIMPL},
    {"INUVSolverCollection", nullptr, "INUVObjectCollection.SetAttributes", E_NOTIMPL},
    // The helper's name lookup answers "not found" for the caller to decide on.
    {"INUVObjectCollectionHelper", nullptr, "INUVObjectCollectionHelper.Name2Index", 0},
    // A grid's members that its kind does not implement, its arguments that are not arrays and its
    // unknown sort keys are answered with the bare code.
    {"INUVGridService", nullptr, "", E_NOTIMPL},
    {"INUVGridService", nullptr, "INUVGridService.", E_INVALIDARG},
    {"INUVGridService", nullptr, "INUVGridService.SetSortKeys", static_cast<HRESULT>(0x80040501)},
    // The script service reports only what its engine raised: a null command is the bare code.
    {"IEBScriptService", nullptr, "IEBScriptService.Execute", E_POINTER},
};

bool HasFace(const std::string& faces, const char* face) {
    return face && ("," + faces + ",").find("," + std::string(face) + ",") != std::string::npos;
}

bool SilentByContract(const std::string& faces, const std::string& member, HRESULT code) {
    for (const Silent& s : kSilentByContract)
        if (HasFace(faces, s.face) && !HasFace(faces, s.unless) && member.rfind(s.member, 0) == 0 &&
            (s.code == 0 || s.code == code))
            return true;
    return false;
}

// NUV_SWEEP_ONLY=text sweeps only the members whose "Interface.get Name" label holds the text: a finding or
// a leak is then bisected member by member.
bool Skipped(const std::string& member) {
    const char* only = std::getenv("NUV_SWEEP_ONLY");
    return only && *only && member.find(only) == std::string::npos;
}

// Which zoo kinds a parameter takes when the call goes straight to the vtable, where nothing coerces.
bool Fits(const Param& p, const ZooKind& k) {
    if (p.pointer) return false;  // pointer slots get a null pointer or a VARIANT pointee, below
    switch (p.vt) {
        case VT_VARIANT: return true;
        case VT_BSTR: return k.family == ZooFamily::Text;
        case VT_I4: case VT_I2: case VT_UI4: case VT_UI1: return k.family == ZooFamily::Integer;
        case VT_R8: return k.family == ZooFamily::Real;
        case VT_BOOL: return k.family == ZooFamily::Flag;
        case VT_DISPATCH: case VT_UNKNOWN:
            // A specific interface is the caller's promise: only its null is a malformed value of it.
            return k.family == ZooFamily::Object && (!p.specific_interface || k.index < 2);
        default:
            return (p.vt & VT_ARRAY) && k.family == ZooFamily::Array;
    }
}

struct Tally {
    size_t interfaces = 0, members = 0, invoke_calls = 0, vtable_calls = 0, null_out_calls = 0, refused = 0, silent = 0;
    std::set<std::string> interface_names;
    std::set<std::string> member_names;
    std::set<std::string> kinds_used;
};

class Sweeper {
public:
    Sweeper(Tally& tally, std::vector<std::string>& findings) : tally_(tally), findings_(findings) {}

    void Sweep(const Family& family) {
        Plant plant;
        std::string why;
        CComPtr<IDispatch> object = Reach(plant, family.path, &why);
        if (!object) {
            Find(family.key, "cannot be reached again: " + why);
            return;
        }
        before_ = plant.Snapshot();
        faces_.clear();
        for (const Interface* face : family.faces) faces_ += (faces_.empty() ? "" : ",") + face->name;
        for (const Interface* face : family.faces) {
            CComPtr<IDispatch> itf;
            object->QueryInterface(face->iid, reinterpret_cast<void**>(&itf));
            CComPtr<ISupportErrorInfo> support;
            reports_errors_ = SUCCEEDED(object->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(&support))) &&
                              support && support->InterfaceSupportsErrorInfo(face->iid) == S_OK;
            tally_.interface_names.insert(face->name);
            for (const Member& m : face->members) {
                if (Skipped(face->name + "." + m.Label())) continue;
                tally_.member_names.insert(face->name + "." + m.Label());
                member_ = face->name + "." + m.Label();
                reading_ = m.kind == INVOKE_PROPERTYGET;
                where_ = family.key + " :: " + member_;
                SweepMember(plant, itf, m);
            }
        }
    }

private:
    void Find(const std::string& where, const std::string& what) { findings_.push_back(where + ": " + what); }

    // What every call must leave behind, refused or not.
    void Check(Plant& plant, const std::string& call, HRESULT hr, bool member_answered, const EXCEPINFO* exception,
               const Malformed* arg) {
        const bool refused = FAILED(hr);
        if (refused) ++tally_.refused;
        if (refused && member_answered && reports_errors_) {
            bool described = false;
            if (exception) {
                described = exception->bstrDescription && SysStringLen(exception->bstrDescription) > 0;
            } else {
                CComPtr<IErrorInfo> info;
                CComBSTR text;
                described = GetErrorInfo(0, &info) == S_OK && info && SUCCEEDED(info->GetDescription(&text)) &&
                            text.Length() > 0;
            }
            const HRESULT code = exception && exception->scode ? exception->scode : hr;
            if (!described && SilentByContract(faces_, member_, code)) {
                ++tally_.silent;
            } else if (!described) {
                Find(where_, call + " failed " + Hex(hr) + (code != hr ? " (" + Hex(code) + ")" : "") +
                                 " without error information");
            }
        }
        SetErrorInfo(0, nullptr);
        if (refused && arg && arg->hostile() && arg->hostile()->refs() > 2)
            Find(where_, call + " failed but kept a reference to the object it was given");
        // The CI run compares the model after every call that succeeded and after every third refused
        // late-bound call of a member that may change it, which keeps it short (a refused property read is
        // taken at its word, and the calls through the vtable carry the same kinds: a change one of the
        // calls not compared made shows at the next comparison); the long run compares after every call.
        if (refused && !LongRun() && (reading_ || !exception || refused_seen_++ % 3 != 0)) return;
        const std::string after = plant.Snapshot();
        if (refused && after != before_) Find(where_, call + " failed " + Hex(hr) + " but changed the model");
        before_ = after;
    }

    // A text holding a NUL names nothing the model holds. When the member accepts it but refuses the same
    // text with the NULs made visible, it answered about the text cut at the first NUL.
    void CheckNotCutAtNul(Plant& plant, IDispatch* itf, const Member& m, int p, Malformed& arg) {
        const VARIANT* v = arg.get();
        if (v->vt != VT_BSTR || !v->bstrVal) return;
        std::u16string visible(v->bstrVal, SysStringLen(v->bstrVal));
        if (visible.find(u'\0') == std::u16string::npos) return;
        std::replace(visible.begin(), visible.end(), u'\0', u'X');
        CComVariant twin(visible.c_str());
        CComVariant result;
        EXCEPINFO exception{};
        const HRESULT hr = CallWith(itf, m, p, &twin, &result, &exception);
        ++tally_.invoke_calls;
        const std::string call = "Invoke arg " + std::to_string(p + 1) + " " + arg.kind().name;
        if (FAILED(hr)) Find(where_, call + " answered S_OK as the text cut at its first NUL");
        Check(plant, call + " made visible", hr, hr == DISP_E_EXCEPTION, &exception, nullptr);
        SysFreeString(exception.bstrSource);
        SysFreeString(exception.bstrDescription);
        SysFreeString(exception.bstrHelpFile);
    }

    static std::string Hex(HRESULT hr) {
        char text[16];
        std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(hr));
        return text;
    }

    void SweepMember(Plant& plant, IDispatch* itf, const Member& m) {
        ++tally_.members;
        const int inputs = m.client_params();
        // Late-bound: every kind in every client parameter.
        for (int p = 0; p < inputs; ++p) {
            for (const ZooKind& kind : Malformed::Kinds()) {
                if (!LongRun() && kind.family == ZooFamily::Text && std::strcmp(kind.name, "megabyte") == 0) continue;
                Malformed arg(kind);
                CComVariant result;
                EXCEPINFO exception{};
                const HRESULT hr = CallWith(itf, m, p, arg.get(), &result, &exception);
                ++tally_.invoke_calls;
                tally_.kinds_used.insert(kind.name);
                Check(plant, "Invoke arg " + std::to_string(p + 1) + " " + kind.name, hr, hr == DISP_E_EXCEPTION,
                      &exception, &arg);
                SysFreeString(exception.bstrSource);
                SysFreeString(exception.bstrDescription);
                SysFreeString(exception.bstrHelpFile);
                if (SUCCEEDED(hr)) CheckNotCutAtNul(plant, itf, m, p, arg);
                Keep(arg);
            }
        }
        if (!m.thunk) return;
        // Through the vtable: kinds that fit a slot's type, null pointers in pointer slots.
        for (size_t p = 0; p < m.params.size(); ++p) {
            const Param& param = m.params[p];
            if (param.retval()) continue;
            if (param.pointer) {
                // The dispatch function itself converts an enumeration through its pointer before the
                // call, so a null one cannot be passed that way.
                if (!param.enumeration) CallThunk(plant, itf, m, p, nullptr, "null pointer");
                if (param.vt == VT_VARIANT && !param.out_only()) {
                    for (const ZooKind& kind : Malformed::Kinds()) {
                        Malformed arg(kind);
                        CallThunk(plant, itf, m, p, &arg, std::string("pointer to ") + kind.name);
                        Keep(arg);
                    }
                }
                continue;
            }
            for (const ZooKind& kind : Malformed::Kinds()) {
                if (!Fits(param, kind)) continue;
                Malformed arg(kind);
                CallThunk(plant, itf, m, p, &arg, kind.name);
                Keep(arg);
            }
        }
        // A property read or method with nothing but its result, handed a null result pointer.
        if (inputs == 0 && m.params.size() == 1 && m.params[0].retval()) {
            using Read = HRESULT(STDMETHODCALLTYPE*)(void*, void*);
            void** vtable = *reinterpret_cast<void***>(itf);
            Read read = reinterpret_cast<Read>(vtable[m.vtable_slot]);
            SetErrorInfo(0, nullptr);
            const HRESULT hr = CallSlot(read, itf);
            ++tally_.null_out_calls;
            if (SUCCEEDED(hr)) Find(where_, "null result pointer answered " + Hex(hr));
            Check(plant, "null result pointer", hr, true, nullptr, nullptr);
        }
    }

#if defined(__clang__)
    __attribute__((no_sanitize("function")))
#endif
    static HRESULT CallSlot(HRESULT(STDMETHODCALLTYPE* read)(void*, void*), IDispatch* itf) {
        return read(itf, nullptr);
    }

    // Calls the member's vtable slot with plain values in every slot but `given`, which gets `arg` (or a
    // null pointer when `arg` is null).
    void CallThunk(Plant& plant, IDispatch* itf, const Member& m, size_t given, Malformed* arg,
                   const std::string& kind) {
        std::vector<VARIANT> slots(m.params.size());
        std::vector<VARIANT> storage(m.params.size());
        std::vector<VARIANT*> args(m.params.size(), nullptr);
        for (size_t i = 0; i < m.params.size(); ++i) {
            VariantInit(&slots[i]);
            VariantInit(&storage[i]);
            const Param& p = m.params[i];
            if (p.retval()) continue;
            args[i] = &slots[i];
            if (i == given) {
                if (!arg) {
                    slots[i].vt = static_cast<VARTYPE>(VT_BYREF | p.vt);
                    slots[i].byref = nullptr;
                } else if (p.pointer) {
                    slots[i].vt = VT_BYREF | VT_VARIANT;
                    slots[i].pvarVal = arg->get();
                } else if (p.vt == VT_VARIANT) {
                    args[i] = arg->get();
                } else {
                    slots[i] = *arg->get();  // a view: the Malformed keeps ownership
                    slots[i].vt = p.vt;
                }
                continue;
            }
            VARIANT& v = p.pointer ? storage[i] : slots[i];
            if (p.out_only()) {
                // What an [out] parameter holds on the way in is not the callee's to free: it gets nothing,
                // typed so that what the callee writes is freed below.
                if (p.vt != VT_VARIANT) storage[i].vt = p.vt;
                slots[i].vt = static_cast<VARTYPE>(VT_BYREF | p.vt);
                slots[i].byref = p.vt == VT_VARIANT ? static_cast<void*>(&storage[i]) : static_cast<void*>(&storage[i].lVal);
                continue;
            }
            v.vt = p.vt;
            switch (p.vt) {
                case VT_BSTR: v.bstrVal = SysAllocString(OLESTR("FEED")); break;
                case VT_R8: v.dblVal = 1.0; break;
                case VT_BOOL: v.boolVal = VARIANT_FALSE; break;
                case VT_VARIANT: v.vt = VT_I4; v.lVal = 1; break;
                case VT_DISPATCH: case VT_UNKNOWN: v.punkVal = nullptr; break;
                default:
                    if (p.vt & VT_ARRAY) v.parray = SafeArrayCreateVector(static_cast<VARTYPE>(p.vt & VT_TYPEMASK), 0, 0);
                    else v.llVal = 1;
            }
            if (p.pointer) {
                slots[i].vt = static_cast<VARTYPE>(VT_BYREF | p.vt);
                slots[i].byref = p.vt == VT_VARIANT ? static_cast<void*>(&storage[i]) : static_cast<void*>(&storage[i].lVal);
            }
        }
        VARIANT result;
        VariantInit(&result);
        SetErrorInfo(0, nullptr);
        const HRESULT hr = m.thunk(itf, args.data(), &result);
        ++tally_.vtable_calls;
        Check(plant, "vtable arg " + std::to_string(given + 1) + " " + kind, hr, true, nullptr, arg);
        for (size_t i = 0; i < m.params.size(); ++i) {
            const VARIANT& v = m.params[i].pointer ? storage[i] : slots[i];
            if (i != given && (v.vt & VT_ARRAY) && v.parray && v.parray->cLocks != 0)
                Find(where_, "vtable arg " + std::to_string(given + 1) + " " + kind + " left array argument " +
                                 std::to_string(i + 1) + " locked");
        }
        VariantClear(&result);
        for (size_t i = 0; i < m.params.size(); ++i) {
            if (i != given) {
                if (!m.params[i].pointer) VariantClear(&slots[i]);
                VariantClear(&storage[i]);
            }
        }
    }

    // A hostile object that a successful call kept stays alive for the rest of the run.
    static void Keep(Malformed& arg) {
        static std::vector<std::unique_ptr<Malformed>> kept;
        (void)kept;
        (void)arg;
    }

    Tally& tally_;
    std::vector<std::string>& findings_;
    std::string before_;
    std::string where_;
    std::string member_;
    std::string faces_;
    bool reports_errors_ = false;
    bool reading_ = false;
    size_t refused_seen_ = 0;
};

TEST(DoorSweep, EveryMemberRefusesMalformedArgumentsCleanly) {
    nuv::test::TempDir folder("nuv-sweep");
    const auto home = std::filesystem::current_path();
    std::filesystem::current_path(folder.Path());  // members that write files write them here
    const auto start = std::chrono::steady_clock::now();
    std::vector<Family> families;
    {
        Plant plant;
        families = ReachableFamilies(plant, LongRun() ? 8 : 6);
    }
    if (std::getenv("NUV_SWEEP_LIST"))
        for (const Family& f : families) std::printf("family: %s\n", f.key.c_str());
    if (!LongRun()) {
        // One family for each set of interfaces, one that holds something where there is one: the CI run
        // stays short.
        std::map<std::string, size_t> chosen;
        std::vector<Family> one_each;
        for (Family& f : families) {
            std::string names;
            for (const Interface* i : f.faces) names += i->name + ",";
            auto [at, added] = chosen.emplace(names, one_each.size());
            if (added) {
                one_each.push_back(std::move(f));
            } else if (one_each[at->second].empty && !f.empty) {
                one_each[at->second] = std::move(f);
            }
        }
        families.swap(one_each);
    }
    Tally tally;
    std::vector<std::string> findings;
    {
        nuvtest::HangGuard guard("door sweep", std::chrono::seconds(LongRun() ? 3600 : 280));
        Sweeper sweeper(tally, findings);
        for (const Family& family : families) sweeper.Sweep(family);
    }
    std::filesystem::current_path(home);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("door sweep: %zu families, %zu interfaces, %zu members (%zu member visits), %zu argument kinds; "
                "%zu late-bound, %zu vtable and %zu null-result calls, %zu refused (%zu bare by contract); "
                "%zu findings; %.1f s\n",
                families.size(), tally.interface_names.size(), tally.member_names.size(), tally.members,
                tally.kinds_used.size(), tally.invoke_calls, tally.vtable_calls, tally.null_out_calls, tally.refused,
                tally.silent, findings.size(), seconds);
    std::string unreached;
    for (const Interface& itf : DualInterfaces())
        if (!tally.interface_names.count(itf.name)) unreached += " " + itf.name;
    std::printf("door sweep: dual interfaces not reached:%s\n", unreached.empty() ? " none" : unreached.c_str());
    EXPECT_GE(tally.interface_names.size(), 35u) << "the walk reaches too few interfaces";
    // One failure per member, with a few of its calls: a fault that every argument kind trips stays readable.
    std::map<std::string, std::vector<std::string>> by_member;
    for (const std::string& f : findings) {
        const size_t at = f.find(" :: ");
        const size_t end = f.find(": ", at == std::string::npos ? 0 : at + 4);
        const std::string member = f.substr(0, end);
        by_member[member].push_back(f.substr(end == std::string::npos ? f.size() : end + 2));
    }
    for (const auto& [member, calls] : by_member) {
        std::string sample;
        for (size_t i = 0; i < calls.size() && i < 4; ++i) sample += "\n  " + calls[i];
        ADD_FAILURE() << member << ": " << calls.size() << " findings" << sample;
    }
}

}  // namespace
