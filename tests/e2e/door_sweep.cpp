// The object model as the door sweep sees it: the library's dual interfaces read through ITypeInfo, and
// the objects a client reaches from a simulation.
#include "door_sweep.h"

#include <algorithm>
#include <deque>
#include <filesystem>
#include <set>
#include <stdexcept>

#include "class_factory.h"
#include "modelfile.h"
#include "nuv_text.h"

namespace nuvtest::sweep {
namespace {

std::string Utf8(BSTR text) { return text ? nuv::to_utf8(std::u16string(text, SysStringLen(text))) : ""; }

// The automation type of a parameter's declared type, through aliases and enumerations.
void Classify(ITypeInfo* owner, const TYPEDESC* type, Param& param) {
    int pointers = 0;
    while (type->vt == VT_PTR) {
        ++pointers;
        type = type->lptdesc;
    }
    if (type->vt == VT_SAFEARRAY) {
        param.vt = static_cast<VARTYPE>(VT_ARRAY | type->lptdesc->vt);
    } else if (type->vt == VT_USERDEFINED) {
        CComPtr<ITypeInfo> target;
        owner->GetRefTypeInfo(type->hreftype, &target);
        TYPEATTR* attr = nullptr;
        target->GetTypeAttr(&attr);
        if (attr->typekind == TKIND_ALIAS) {
            Param aliased;
            Classify(target, &attr->tdescAlias, aliased);
            param.vt = aliased.vt;
            param.specific_interface = aliased.specific_interface;
            param.enumeration = aliased.enumeration;
        } else if (attr->typekind == TKIND_ENUM) {
            param.vt = VT_I4;
            param.enumeration = true;
        } else {
            param.vt = (attr->wTypeFlags & TYPEFLAG_FDISPATCHABLE) ? VT_DISPATCH : VT_UNKNOWN;
            param.specific_interface = true;
            --pointers;
        }
        target->ReleaseTypeAttr(attr);
    } else {
        param.vt = type->vt == VT_INT    ? static_cast<VARTYPE>(VT_I4)
                   : type->vt == VT_UINT ? static_cast<VARTYPE>(VT_UI4)
                                         : type->vt;
        if ((param.vt == VT_UNKNOWN || param.vt == VT_DISPATCH) && pointers > 0) --pointers;
    }
    param.pointer = pointers > 0;
}

Interface ReadInterface(ITypeInfo* dispatch_face, const nuv::typelib::TypeDesc& desc) {
    Interface itf;
    TYPEATTR* attr = nullptr;
    dispatch_face->GetTypeAttr(&attr);
    itf.iid = attr->guid;
    dispatch_face->ReleaseTypeAttr(attr);
    CComBSTR name;
    dispatch_face->GetDocumentation(MEMBERID_NIL, &name, nullptr, nullptr, nullptr);
    itf.name = Utf8(name);
    HREFTYPE href = 0;
    CComPtr<ITypeInfo> face;
    if (FAILED(dispatch_face->GetRefTypeOfImplType(static_cast<UINT>(-1), &href)) ||
        FAILED(dispatch_face->GetRefTypeInfo(href, &face)))
        throw std::runtime_error("no interface face for " + itf.name);
    face->GetTypeAttr(&attr);
    const UINT funcs = attr->cFuncs;
    face->ReleaseTypeAttr(attr);
    for (UINT i = 0; i < funcs; ++i) {
        FUNCDESC* f = nullptr;
        face->GetFuncDesc(i, &f);
        Member m;
        CComBSTR member_name;
        face->GetDocumentation(f->memid, &member_name, nullptr, nullptr, nullptr);
        m.name = Utf8(member_name);
        m.id = f->memid;
        m.kind = f->invkind;
        m.func_flags = f->wFuncFlags;
        m.vtable_slot = f->oVft / static_cast<int>(sizeof(void*));
        for (SHORT p = 0; p < f->cParams; ++p) {
            Param param;
            param.flags = f->lprgelemdescParam[p].paramdesc.wParamFlags;
            Classify(face, &f->lprgelemdescParam[p].tdesc, param);
            m.params.push_back(param);
        }
        for (SHORT k = 0; k < desc.func_count; ++k)
            if (desc.funcs[k].memid == m.id && desc.funcs[k].invkind == m.kind) m.thunk = desc.funcs[k].thunk;
        face->ReleaseFuncDesc(f);
        itf.members.push_back(std::move(m));
    }
    return itf;
}

// A member without a result that hands its object out through an [out] VARIANT (a style's control).
bool HandsOutThroughOutParam(const Member& m) {
    return std::none_of(m.params.begin(), m.params.end(), [](const Param& p) { return p.retval(); }) &&
           std::any_of(m.params.begin(), m.params.end(), [](const Param& p) { return p.out_only() && p.vt == VT_VARIANT; });
}

// Names GetService answers somewhere in the model.
const char* const kServiceNames[] = {"EBScriptService",    "NUVSimulationMsgs",      "NUVEditLibraries",
                                     "NUVSensitivity",     "NUVInterfaceHolder",     "NUVExternalFileService",
                                     "NUVDynamicsService", "NUVVariableProfile",     "NUVEditBlock",
                                     "GridService",        "GridInfoService",        "NUVObjectCollectionHelper"};

bool SameName(const std::string& a, const char* b) {
    return std::equal(a.begin(), a.end(), b, b + std::strlen(b),
                      [](char x, char y) { return std::tolower(x) == std::tolower(y); });
}

bool ReturnsObject(const Member& m) {
    for (const Param& p : m.params)
        if (p.retval()) return p.vt == VT_DISPATCH || p.vt == VT_UNKNOWN || p.vt == VT_VARIANT;
    return HandsOutThroughOutParam(m);
}

// The calls that lead from an object to others without changing anything: property reads, first items,
// services, and the enumerator-handing methods.
std::vector<Step> WaysOn(const Interface& itf) {
    std::vector<Step> steps;
    for (const Member& m : itf.members) {
        if ((m.func_flags & FUNCFLAG_FRESTRICTED) || !ReturnsObject(m) || !m.thunk) continue;
        const int inputs = m.client_params();
        if (SameName(m.name, "GetService")) {
            for (const char* service : kServiceNames) steps.push_back({std::string("GetService(") + service + ")", itf.iid, &m, CComVariant(service)});
        } else if (SameName(m.name, "Item") && !m.params.empty() && m.params[0].pointer && !m.params[0].retval()) {
            // Items of different kinds by position (the control styles): each position is tried.
            for (int i = 0; i < 16; ++i) steps.push_back({"Item(" + std::to_string(i) + ")", itf.iid, &m, CComVariant(i)});
        } else if (SameName(m.name, "Item") && inputs >= 1) {
            steps.push_back({"Item(1)", itf.iid, &m, CComVariant(1)});
        } else if (inputs == 0 && (m.kind == INVOKE_PROPERTYGET || SameName(m.name, "GetEnum") || SameName(m.name, "NewEnum"))) {
            steps.push_back({m.name, itf.iid, &m, CComVariant()});
        }
    }
    return steps;
}

std::vector<const Interface*> FacesOf(IDispatch* object) {
    std::vector<const Interface*> faces;
    for (const Interface& itf : DualInterfaces()) {
        CComPtr<IUnknown> p;
        if (object->QueryInterface(itf.iid, reinterpret_cast<void**>(&p)) == S_OK && p) faces.push_back(&itf);
    }
    return faces;
}

// A collection that holds nothing: nothing is reached through it, so it is a family apart from those
// that hold something.
bool EmptyCollection(IDispatch* object) {
    LPOLESTR name = const_cast<LPOLESTR>(OLESTR("Count"));
    DISPID id = DISPID_UNKNOWN;
    if (FAILED(object->GetIDsOfNames(IID_NULL, &name, 1, 0, &id))) return false;
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    CComVariant count;
    if (FAILED(object->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYGET | DISPATCH_METHOD, &none, &count, nullptr,
                              nullptr)))
        return false;
    return SUCCEEDED(count.ChangeType(VT_I4)) && count.lVal == 0;
}

std::string Names(const std::vector<const Interface*>& faces) {
    std::string s;
    for (const Interface* f : faces) s += (s.empty() ? "" : ",") + f->name;
    return s;
}

CComPtr<IDispatch> Follow(IDispatch* object, const Step& step, std::string* why) {
    CComPtr<IDispatch> itf;
    if (FAILED(object->QueryInterface(step.iid, reinterpret_cast<void**>(&itf))) || !itf) {
        if (why) *why = step.label + ": interface not answered";
        return nullptr;
    }
    CComVariant arg(step.arg);
    CComVariant result;
    const HRESULT hr =
        CallWith(itf, *step.member, step.arg.vt == VT_EMPTY ? -1 : 0, &arg, &result, nullptr, &result);
    CComPtr<IDispatch> next;
    if (SUCCEEDED(hr) && (result.vt == VT_DISPATCH || result.vt == VT_UNKNOWN) && result.punkVal)
        result.punkVal->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&next));
    if (!next && why) *why = step.label + " answered no object (" + std::to_string(hr) + ")";
    return next;
}

}  // namespace

int Member::client_params() const {
    return static_cast<int>(std::count_if(params.begin(), params.end(), [](const Param& p) { return !p.retval(); }));
}

WORD Member::dispatch_flags() const {
    switch (kind) {
        case INVOKE_PROPERTYGET: return DISPATCH_PROPERTYGET;
        case INVOKE_PROPERTYPUT: return DISPATCH_PROPERTYPUT;
        case INVOKE_PROPERTYPUTREF: return DISPATCH_PROPERTYPUTREF;
        default: return DISPATCH_METHOD;
    }
}

std::string Member::Label() const {
    const char* prefix = kind == INVOKE_PROPERTYGET ? "get " : kind == INVOKE_FUNC ? "" : "put ";
    return prefix + name;
}

const std::vector<Interface>& DualInterfaces() {
    static const std::vector<Interface> all = [] {
        std::vector<Interface> list;
        const nuv::typelib::LibraryDesc& desc = NUVClassLib380_Descriptor();
        CComPtr<ITypeLib> lib;
        if (FAILED(NuvCreateTypeLib(&desc, &lib))) throw std::runtime_error("no type library");
        for (UINT i = 0; i < lib->GetTypeInfoCount(); ++i) {
            CComPtr<ITypeInfo> info;
            lib->GetTypeInfo(i, &info);
            TYPEATTR* attr = nullptr;
            info->GetTypeAttr(&attr);
            const bool dual = attr->typekind == TKIND_DISPATCH && (attr->wTypeFlags & TYPEFLAG_FDUAL);
            info->ReleaseTypeAttr(attr);
            if (dual) list.push_back(ReadInterface(info, desc.types[i]));
        }
        return list;
    }();
    return all;
}

Plant::Plant() {
    static const zeq::ModelDef def = [] {
        std::string text, error;
        zeq::ModelDef d;
        const auto path = std::filesystem::path(__FILE__).parent_path() / "../../examples/plant.model";
        if (!zeq::ReadFile(path.string(), text) || !zeq::ParseModel(text, d, error))
            throw std::runtime_error("cannot read the example plant: " + error);
        return d;
    }();
    engine_ = std::make_unique<zeq::Simulation>();
    engine_->Build(def);
    NUVClassFactory::RegisterSimulationServices(engine_.get());
    NUVClassFactory::QueryCreateWrapper(engine_.get(), IID_INUVSimulation2, reinterpret_cast<void**>(&sim_));
    if (!sim_) throw std::runtime_error("no simulation wrapper");
}

Plant::~Plant() {
    engine_.reset();
    sim_.Release();
}

std::string Plant::Snapshot() const { return zeq::WriteModel(engine_->Export()); }

HRESULT CallWith(IDispatch* object, const Member& member, int given, VARIANT* arg, VARIANT* result,
                 EXCEPINFO* exception, VARIANT* last_out) {
    // Plain values for the parameters not under test; out parameters get storage of their own.
    std::vector<CComVariant> plain;
    plain.reserve(member.params.size());  // args hold views of these: they must not move
    std::vector<VARIANT> args;
    LONG longs[8] = {};
    VARIANT outs[8];
    for (VARIANT& v : outs) VariantInit(&v);
    int client = 0;
    for (const Param& p : member.params) {
        if (p.retval()) continue;
        if (client == given) {
            args.push_back(*arg);
        } else if (p.out_only()) {
            VARIANT ref;
            ref.vt = VT_BYREF | VT_VARIANT;
            ref.pvarVal = &outs[client];
            args.push_back(ref);
        } else {
            CComVariant v;
            switch (p.vt) {
                case VT_BSTR: v = OLESTR("FEED"); break;
                case VT_R8: v = 1.0; break;
                case VT_BOOL: v = false; break;
                case VT_VARIANT: v = 1; break;
                default:
                    if (p.vt & VT_ARRAY) {
                        v.vt = p.vt;
                        v.parray = SafeArrayCreateVector(static_cast<VARTYPE>(p.vt & VT_TYPEMASK), 0, 0);
                    } else if (p.vt == VT_DISPATCH || p.vt == VT_UNKNOWN) {
                        v.vt = p.vt;
                        v.punkVal = nullptr;
                    } else {
                        v = 1;
                    }
            }
            if (p.pointer && p.vt == VT_I4) {
                longs[client] = 1;
                v.Clear();
                v.vt = VT_BYREF | VT_I4;
                v.plVal = &longs[client];
            }
            plain.push_back(v);
            args.push_back(plain.back());
        }
        ++client;
    }
    std::reverse(args.begin(), args.end());
    DISPID put = DISPID_PROPERTYPUT;
    const bool is_put = member.kind & (INVOKE_PROPERTYPUT | INVOKE_PROPERTYPUTREF);
    DISPPARAMS params{args.empty() ? nullptr : args.data(), is_put ? &put : nullptr, static_cast<UINT>(args.size()),
                      is_put ? 1u : 0u};
    UINT bad = 0;
    const HRESULT hr =
        object->Invoke(member.id, IID_NULL, 0, member.dispatch_flags(), &params, result, exception, &bad);
    for (VARIANT& v : outs) {
        if (last_out && last_out->vt == VT_EMPTY && v.vt != VT_EMPTY) {
            *last_out = v;  // moved: the caller owns it now
            VariantInit(&v);
        }
        VariantClear(&v);
    }
    return hr;
}

CComPtr<IDispatch> Reach(Plant& plant, const std::vector<Step>& path, std::string* why) {
    CComPtr<IDispatch> object;
    plant.simulation()->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&object));
    for (const Step& step : path) {
        object = Follow(object, step, why);
        if (!object) return nullptr;
    }
    return object;
}

std::vector<Family> ReachableFamilies(Plant& plant, size_t depth) {
    struct Node {
        CComPtr<IDispatch> object;
        Family family;
    };
    std::vector<Family> found;
    std::set<std::string> seen;
    std::deque<Node> queue;
    Node root;
    plant.simulation()->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&root.object));
    root.family.faces = FacesOf(root.object);
    root.family.key = Names(root.family.faces);
    seen.insert(root.family.key);
    queue.push_back(root);
    while (!queue.empty()) {
        Node node = queue.front();
        queue.pop_front();
        found.push_back(node.family);
        if (node.family.path.size() >= depth) continue;
        for (const Interface* face : node.family.faces) {
            for (Step& step : WaysOn(*face)) {
                CComPtr<IDispatch> next = Follow(node.object, step, nullptr);
                if (!next) continue;
                Node child{next, {}};
                child.family.faces = FacesOf(next);
                if (child.family.faces.empty()) continue;
                // Objects of the same interfaces reached by the same call from the same kind of object are
                // one family: the first found stands for them.
                child.family.empty = EmptyCollection(next);
                child.family.key = Names(node.family.faces) + " > " + step.label + " > " +
                                   Names(child.family.faces) + (child.family.empty ? " (empty)" : "");
                if (!seen.insert(child.family.key).second) continue;
                child.family.path = node.family.path;
                child.family.path.push_back(step);
                queue.push_back(child);
            }
        }
    }
    return found;
}

}  // namespace nuvtest::sweep
