// Prints a type library as a type browser sees it, through ITypeLib/ITypeInfo/ITypeComp only: every
// type with its attributes, the dispatch and the interface face of dual interfaces, the bases down to
// IUnknown (printed once, with the library they come from), every function and constant, and what
// the library's and each type's ITypeComp bind each name to. The same program runs on Linux over our
// platform layer and on Windows over the platform's own, and the two outputs must be equal.
//
//   typelib_walk LIBRARY-FILE
#include <windows.h>
#include <oleauto.h>

#include <cstdint>
#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "nuv_text.h"

namespace {

std::string Utf8(BSTR s) { return s ? nuv::bstr_to_utf8(s) : std::string("(null)"); }

std::string Hex(unsigned long long v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "0x%llx", v);
    return buf;
}

std::string GuidText(const GUID& g) {
    char buf[48];
    std::snprintf(buf, sizeof buf, "{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned long>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2],
                  g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    return buf;
}

// An enumeration declared inside a typedef has no name of its own in the definition: the IDL compiler
// makes one up, and each makes up another. Such enumerations are shown by the alias that names them.
std::map<std::string, std::string> g_made_up_names;

std::string NameOf(ITypeInfo* ti, MEMBERID id = MEMBERID_NIL) {
    BSTR name = nullptr;
    const HRESULT hr = ti->GetDocumentation(id, &name, nullptr, nullptr, nullptr);
    std::string out = SUCCEEDED(hr) ? Utf8(name) : "<" + Hex(static_cast<uint32_t>(hr)) + ">";
    SysFreeString(name);
    if (id == MEMBERID_NIL) {
        auto renamed = g_made_up_names.find(out);
        if (renamed != g_made_up_names.end()) return renamed->second;
    }
    return out;
}

std::string LibraryOf(ITypeInfo* ti) {
    ITypeLib* lib = nullptr;
    UINT index = 0;
    if (FAILED(ti->GetContainingTypeLib(&lib, &index)) || !lib) return "?";
    BSTR name = nullptr;
    lib->GetDocumentation(-1, &name, nullptr, nullptr, nullptr);
    std::string out = Utf8(name);
    SysFreeString(name);
    lib->Release();
    return out;
}

const char* KindName(TYPEKIND k) {
    switch (k) {
    case TKIND_ENUM: return "enum";
    case TKIND_RECORD: return "record";
    case TKIND_MODULE: return "module";
    case TKIND_INTERFACE: return "interface";
    case TKIND_DISPATCH: return "dispatch";
    case TKIND_COCLASS: return "coclass";
    case TKIND_ALIAS: return "alias";
    case TKIND_UNION: return "union";
    default: return "?";
    }
}

std::string TypeText(ITypeInfo* ti, const TYPEDESC& t) {
    switch (t.vt) {
    case VT_PTR: return TypeText(ti, *t.lptdesc) + "*";
    case VT_SAFEARRAY: return "SAFEARRAY(" + TypeText(ti, *t.lptdesc) + ")";
    case VT_USERDEFINED: {
        ITypeInfo* ref = nullptr;
        if (FAILED(ti->GetRefTypeInfo(t.hreftype, &ref)) || !ref) return "<bad reference>";
        std::string name = NameOf(ref);
        ref->Release();
        return name;
    }
    default: return "vt" + std::to_string(t.vt);
    }
}

std::string ValueText(const VARIANT* v) {
    if (!v) return "(none)";
    VARIANT text;
    VariantInit(&text);
    std::string out;
    if (SUCCEEDED(VariantChangeType(&text, const_cast<VARIANT*>(v), 0, VT_BSTR)))
        out = Utf8(text.bstrVal);
    VariantClear(&text);
    return "vt" + std::to_string(v->vt) + ":" + out;
}

std::string FuncText(ITypeInfo* ti, const FUNCDESC* f) {
    std::vector<BSTR> names(static_cast<size_t>(f->cParams) + 1, nullptr);
    UINT got = 0;
    ti->GetNames(f->memid, names.data(), static_cast<UINT>(names.size()), &got);
    std::string out = Hex(static_cast<uint32_t>(f->memid)) + " invkind=" + std::to_string(f->invkind) +
                      " funckind=" + std::to_string(f->funckind) + " flags=" + Hex(f->wFuncFlags) +
                      " oVft=" + std::to_string(f->oVft) + " callconv=" + std::to_string(f->callconv) + " " +
                      TypeText(ti, f->elemdescFunc.tdesc) + " " + (got ? Utf8(names[0]) : "?") + "(";
    for (SHORT p = 0; p < f->cParams; ++p) {
        const ELEMDESC& e = f->lprgelemdescParam[p];
        if (p) out += ", ";
        out += "[" + Hex(e.paramdesc.wParamFlags);
        if ((e.paramdesc.wParamFlags & PARAMFLAG_FHASDEFAULT) && e.paramdesc.pparamdescex)
            out += " default=" + ValueText(&e.paramdesc.pparamdescex->varDefaultValue);
        out += "] " + TypeText(ti, e.tdesc) + " " +
               (static_cast<UINT>(p) + 1 < got ? Utf8(names[static_cast<size_t>(p) + 1]) : "?");
    }
    out += ") optional=" + std::to_string(f->cParamsOpt);
    for (BSTR n : names) SysFreeString(n);
    return out;
}

std::string BindText(ITypeComp* comp, const std::string& name, WORD flags) {
    std::vector<OLECHAR> wide;
    for (char c : name) wide.push_back(static_cast<OLECHAR>(c));
    wide.push_back(0);
    ITypeInfo* owner = nullptr;
    DESCKIND kind = DESCKIND_NONE;
    BINDPTR bound{};
    const HRESULT hr = comp->Bind(wide.data(), 0, flags, &owner, &kind, &bound);
    std::string out = "bind " + name + " flags=" + std::to_string(flags) + ": " + Hex(static_cast<uint32_t>(hr));
    if (FAILED(hr)) return out;
    switch (kind) {
    case DESCKIND_NONE: out += " none"; break;
    case DESCKIND_FUNCDESC:
        out += " func " + Hex(static_cast<uint32_t>(bound.lpfuncdesc->memid)) + " invkind=" +
               std::to_string(bound.lpfuncdesc->invkind) + " in " + (owner ? NameOf(owner) : "(no type)");
        if (owner) owner->ReleaseFuncDesc(bound.lpfuncdesc);
        break;
    case DESCKIND_VARDESC:
        out += " var " + (owner ? NameOf(owner, bound.lpvardesc->memid) : "?") + " = " +
               ValueText(bound.lpvardesc->lpvarValue) + " in " + (owner ? NameOf(owner) : "(no type)");
        if (owner) owner->ReleaseVarDesc(bound.lpvardesc);
        break;
    case DESCKIND_TYPECOMP:
        out += std::string(" typecomp") + (owner ? " with a type" : "");
        if (bound.lptcomp) bound.lptcomp->Release();
        break;
    case DESCKIND_IMPLICITAPPOBJ: out += " implicit application object"; break;
    default: out += " kind " + std::to_string(kind); break;
    }
    if (owner) owner->Release();
    return out;
}

std::string BindTypeText(ITypeComp* comp, const std::string& name) {
    std::vector<OLECHAR> wide;
    for (char c : name) wide.push_back(static_cast<OLECHAR>(c));
    wide.push_back(0);
    ITypeInfo* found = nullptr;
    ITypeComp* inner = nullptr;
    const HRESULT hr = comp->BindType(wide.data(), 0, &found, &inner);
    std::string out = "bindtype " + name + ": " + Hex(static_cast<uint32_t>(hr));
    if (found) {
        TYPEATTR* a = nullptr;
        found->GetTypeAttr(&a);
        out += std::string(" ") + NameOf(found) + " " + (a ? KindName(a->typekind) : "?");
        if (a) found->ReleaseTypeAttr(a);
        found->Release();
    } else {
        out += " none";
    }
    if (inner) {
        out += " with a typecomp";
        inner->Release();
    }
    return out;
}

class Walker {
public:
    // One type: attributes, bases, members, and its own ITypeComp's binding of each member name.
    void Type(ITypeInfo* ti, const std::string& indent, bool other_face = true) {
        TYPEATTR* a = nullptr;
        if (FAILED(ti->GetTypeAttr(&a))) {
            std::printf("%s(no attributes)\n", indent.c_str());
            return;
        }
        const std::string name = NameOf(ti);
        std::printf("%s%s %s %s lib=%s flags=%s funcs=%u vars=%u impls=%u vft=%u instance=%lu align=%u\n",
                    indent.c_str(), KindName(a->typekind), name.c_str(), GuidText(a->guid).c_str(),
                    LibraryOf(ti).c_str(), Hex(a->wTypeFlags).c_str(), a->cFuncs, a->cVars, a->cImplTypes,
                    a->cbSizeVft, static_cast<unsigned long>(a->cbSizeInstance), a->cbAlignment);
        const TYPEKIND kind = a->typekind;
        const WORD funcs = a->cFuncs, vars = a->cVars, impls = a->cImplTypes, flags = a->wTypeFlags;
        if (kind == TKIND_ALIAS) std::printf("%s  = %s\n", indent.c_str(), TypeText(ti, a->tdescAlias).c_str());
        ti->ReleaseTypeAttr(a);

        std::vector<std::string> member_names;
        for (UINT i = 0; i < funcs; ++i) {
            FUNCDESC* f = nullptr;
            if (FAILED(ti->GetFuncDesc(i, &f))) {
                std::printf("%s  func %u: missing\n", indent.c_str(), i);
                continue;
            }
            std::printf("%s  func %s\n", indent.c_str(), FuncText(ti, f).c_str());
            member_names.push_back(NameOf(ti, f->memid));
            ti->ReleaseFuncDesc(f);
        }
        for (UINT i = 0; i < vars; ++i) {
            VARDESC* v = nullptr;
            if (FAILED(ti->GetVarDesc(i, &v))) {
                std::printf("%s  var %u: missing\n", indent.c_str(), i);
                continue;
            }
            std::printf("%s  var %s %s kind=%d %s = %s\n", indent.c_str(), Hex(static_cast<uint32_t>(v->memid)).c_str(),
                        NameOf(ti, v->memid).c_str(), v->varkind, TypeText(ti, v->elemdescVar.tdesc).c_str(),
                        ValueText(v->lpvarValue).c_str());
            member_names.push_back(NameOf(ti, v->memid));
            ti->ReleaseVarDesc(v);
        }
        for (UINT i = 0; i < impls; ++i) Base(ti, static_cast<int>(i), indent);
        if ((kind == TKIND_DISPATCH || kind == TKIND_INTERFACE) && (flags & TYPEFLAG_FDUAL))
            Base(ti, -1, indent, other_face);

        ITypeComp* comp = nullptr;
        const HRESULT hr = ti->GetTypeComp(&comp);
        std::printf("%s  typecomp: %s\n", indent.c_str(), Hex(static_cast<uint32_t>(hr)).c_str());
        if (comp) {
            for (const std::string& m : member_names) {
                std::printf("%s    %s\n", indent.c_str(), BindText(comp, m, 0).c_str());
                std::printf("%s    %s\n", indent.c_str(), BindText(comp, m, INVOKE_PROPERTYPUT).c_str());
            }
            std::printf("%s    %s\n", indent.c_str(), BindText(comp, "NoSuchMember", 0).c_str());
            comp->Release();
        }
    }

    // Implemented type `index` (-1: the other face of a dual interface, printed in full when `expand`),
    // printed in full the first time it is met outside the library.
    void Base(ITypeInfo* ti, int index, const std::string& indent, bool expand = false) {
        HREFTYPE ref = 0;
        HRESULT hr = ti->GetRefTypeOfImplType(static_cast<UINT>(index), &ref);
        if (FAILED(hr)) {
            std::printf("%s  impl %d: %s\n", indent.c_str(), index, Hex(static_cast<uint32_t>(hr)).c_str());
            return;
        }
        INT implflags = 0;
        if (index >= 0) ti->GetImplTypeFlags(static_cast<UINT>(index), &implflags);
        ITypeInfo* base = nullptr;
        hr = ti->GetRefTypeInfo(ref, &base);
        if (FAILED(hr) || !base) {
            std::printf("%s  impl %d: reference %s\n", indent.c_str(), index, Hex(static_cast<uint32_t>(hr)).c_str());
            return;
        }
        TYPEATTR* a = nullptr;
        base->GetTypeAttr(&a);
        const std::string name = NameOf(base);
        const std::string lib = LibraryOf(base);
        std::printf("%s  impl %d flags=%d: %s %s lib=%s\n", indent.c_str(), index, implflags,
                    a ? KindName(a->typekind) : "?", name.c_str(), lib.c_str());
        if (a) base->ReleaseTypeAttr(a);
        if (index == -1) {
            if (expand) Type(base, indent + "    ", false);
        } else if (lib != library_name_ && printed_outside_.insert(name).second) {
            Type(base, indent + "    ");
        }
        base->Release();
    }

    int Library(ITypeLib* lib) {
        BSTR name = nullptr;
        lib->GetDocumentation(-1, &name, nullptr, nullptr, nullptr);
        library_name_ = Utf8(name);
        SysFreeString(name);
        TLIBATTR* la = nullptr;
        if (FAILED(lib->GetLibAttr(&la))) return 1;
        std::printf("library %s %s %u.%u lcid=%lu syskind=%d flags=%s\n", library_name_.c_str(),
                    GuidText(la->guid).c_str(), la->wMajorVerNum, la->wMinorVerNum,
                    static_cast<unsigned long>(la->lcid), la->syskind, Hex(la->wLibFlags).c_str());
        lib->ReleaseTLibAttr(la);
        // Types in the order of their names: the order within the library is the IDL compiler's choice.
        const UINT count = lib->GetTypeInfoCount();
        std::map<std::string, ITypeInfo*> types;
        for (UINT i = 0; i < count; ++i) {
            ITypeInfo* ti = nullptr;
            if (FAILED(lib->GetTypeInfo(i, &ti)) || !ti) {
                std::printf("type %u: missing\n", i);
                continue;
            }
            TYPEATTR* a = nullptr;
            if (SUCCEEDED(ti->GetTypeAttr(&a))) {
                ITypeInfo* target = nullptr;
                if (a->typekind == TKIND_ALIAS && a->tdescAlias.vt == VT_USERDEFINED &&
                    SUCCEEDED(ti->GetRefTypeInfo(a->tdescAlias.hreftype, &target)) && target) {
                    g_made_up_names[NameOf(target)] = "(enumeration of " + NameOf(ti) + ")";
                    target->Release();
                }
                ti->ReleaseTypeAttr(a);
            }
            types.emplace(NameOf(ti), ti);
        }
        // Names are final now: sort again under them.
        std::map<std::string, ITypeInfo*> renamed;
        for (auto& [name, ti] : types) renamed.emplace(NameOf(ti), ti);
        types.swap(renamed);
        std::printf("types=%u\n", count);
        std::vector<std::string> type_names, constant_names;
        for (auto& [name, ti] : types) {
            Type(ti, "");
            type_names.push_back(name);
            TYPEATTR* a = nullptr;
            if (SUCCEEDED(ti->GetTypeAttr(&a))) {
                for (UINT v = 0; v < a->cVars; ++v) {
                    VARDESC* vd = nullptr;
                    if (SUCCEEDED(ti->GetVarDesc(v, &vd))) {
                        constant_names.push_back(NameOf(ti, vd->memid));
                        ti->ReleaseVarDesc(vd);
                    }
                }
                ti->ReleaseTypeAttr(a);
            }
            ti->Release();
        }
        ITypeComp* comp = nullptr;
        const HRESULT hr = lib->GetTypeComp(&comp);
        std::printf("library typecomp: %s\n", Hex(static_cast<uint32_t>(hr)).c_str());
        if (comp) {
            for (const std::string& n : type_names) {
                std::printf("  %s\n", BindTypeText(comp, n).c_str());
                std::printf("  %s\n", BindText(comp, n, 0).c_str());
            }
            for (const std::string& n : constant_names) std::printf("  %s\n", BindText(comp, n, 0).c_str());
            std::printf("  %s\n", BindTypeText(comp, "NoSuchType").c_str());
            std::printf("  %s\n", BindText(comp, "NoSuchName", 0).c_str());
            comp->Release();
        }
        return 0;
    }

private:
    std::string library_name_;
    std::set<std::string> printed_outside_;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: typelib_walk LIBRARY-FILE\n");
        return 2;
    }
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    ITypeLib* lib = nullptr;
    BSTR path = nuv::bstr_from_utf8(argv[1]);
    const HRESULT hr = LoadTypeLibEx(path, REGKIND_NONE, &lib);
    SysFreeString(path);
    if (FAILED(hr) || !lib) {
        std::fprintf(stderr, "typelib_walk: cannot load %s: 0x%08lx\n", argv[1], static_cast<unsigned long>(hr));
        return 1;
    }
    const int rc = Walker().Library(lib);
    lib->Release();
    CoUninitialize();
    return rc;
}
