// Walks the object model's type library through ITypeLib/ITypeInfo and checks every interface, member,
// parameter, enumeration and class against the library's reference tables (library_tables.h).
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "atl/nuvatlbase.h"
#include "library_tables.h"
#include "nuvclasslib.h"

namespace {

std::string Trim(std::string s) {
    while (!s.empty() && s.front() == ' ') s.erase(s.begin());
    while (!s.empty() && (s.back() == ' ' || s.back() == '.')) s.pop_back();
    return s;
}

// Splits at `sep` outside parentheses.
std::vector<std::string> SplitTop(const std::string& s, const std::string& sep) {
    std::vector<std::string> out;
    int depth = 0;
    size_t start = 0;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '(') ++depth;
        if (s[i] == ')') --depth;
        if (depth == 0 && s.compare(i, sep.size(), sep) == 0) {
            out.push_back(Trim(s.substr(start, i - start)));
            start = i + sep.size();
        }
    }
    out.push_back(Trim(s.substr(start)));
    return out;
}

std::vector<std::string> Words(const std::string& s) {
    std::istringstream in(s);
    std::vector<std::string> w;
    for (std::string t; in >> t;) w.push_back(t);
    return w;
}

const std::map<std::string, USHORT> kParamFlags = {{"in", PARAMFLAG_FIN},
                                                   {"out", PARAMFLAG_FOUT},
                                                   {"retval", PARAMFLAG_FRETVAL},
                                                   {"optional", PARAMFLAG_FOPT},
                                                   {"hasdefault", PARAMFLAG_FHASDEFAULT}};

struct ExpectedParam {
    std::vector<std::string> flags;
    std::string type, name, default_value;
};

struct ExpectedMember {
    std::string kind;  // "get", "put" or "" for a method
    std::string name;
    long long id;
    std::vector<ExpectedParam> params;
    bool restricted = false;
};

struct ExpectedInterface {
    std::string name, iid, kind, base;
    std::vector<ExpectedMember> members;
};

ExpectedInterface ParseInterface(const std::string& line) {
    ExpectedInterface e;
    const size_t brace = line.find('{');
    e.name = Trim(line.substr(0, brace));
    e.iid = line.substr(brace, line.find('}') - brace + 1);
    const size_t base_at = line.find(", base ");
    e.kind = Trim(line.substr(line.find('}') + 2, base_at - line.find('}') - 2));
    const size_t dot = line.find(". ", base_at);
    e.base = line.substr(base_at + 7, dot - base_at - 7);
    const std::string rest = line.substr(dot + 2);
    if (rest.rfind("Members: ", 0) != 0) return e;  // "No members of its own."
    for (const std::string& m : SplitTop(rest.substr(9), "; ")) {
        ExpectedMember em;
        const size_t open = m.find('(');
        std::vector<std::string> head = Words(m.substr(0, open));
        if (head[0] == "get" || head[0] == "put") {
            em.kind = head[0];
            head.erase(head.begin());
        }
        em.name = head.at(0);
        em.id = std::stoll(head.at(1), nullptr, 0);
        const std::string params = m.substr(open + 1, m.rfind(')') - open - 1);
        em.restricted = m.find("[restricted]") != std::string::npos;
        if (params != "no parameters") {
            for (const std::string& p : SplitTop(params, "; ")) {
                std::vector<std::string> w = Words(p);
                ExpectedParam ep;
                size_t i = 0;
                while (kParamFlags.count(w[i]) != 0) ep.flags.push_back(w[i++]);
                size_t end = w.size();
                if (w.size() >= 2 && w[w.size() - 2] == "=") {
                    ep.default_value = w.back();
                    end -= 2;
                }
                ep.name = w[end - 1];
                for (size_t k = i; k + 1 < end; ++k) ep.type += (ep.type.empty() ? "" : " ") + w[k];
                em.params.push_back(ep);
            }
        }
        e.members.push_back(em);
    }
    return e;
}

GUID ParseGuid(const std::string& braced) {
    GUID g{};
    EXPECT_EQ(CLSIDFromString(nuv::to_utf16(braced).c_str(), &g), S_OK) << braced;
    return g;
}

std::string Name(ITypeInfo* ti, MEMBERID id = MEMBERID_NIL) {
    CComBSTR name;
    if (FAILED(ti->GetDocumentation(id, &name, nullptr, nullptr, nullptr))) return "?";
    return name.ToUtf8();
}

std::string RenderType(ITypeInfo* ti, const TYPEDESC& t) {
    switch (t.vt) {
    case VT_PTR: return RenderType(ti, *t.lptdesc) + "*";
    case VT_SAFEARRAY: return "SAFEARRAY(" + RenderType(ti, *t.lptdesc) + ")";
    case VT_USERDEFINED: {
        CComPtr<ITypeInfo> ref;
        if (FAILED(ti->GetRefTypeInfo(t.hreftype, &ref))) return "?ref";
        return Name(ref);
    }
    case VT_I4: return "long";
    case VT_INT: return "int";
    case VT_I2: return "short";
    case VT_UI4: return "unsigned long";
    case VT_R8: return "double";
    case VT_BSTR: return "BSTR";
    case VT_BOOL: return "VARIANT_BOOL";
    case VT_VARIANT: return "VARIANT";
    case VT_UNKNOWN: return "IUnknown*";
    case VT_DISPATCH: return "IDispatch*";
    default: return "vt" + std::to_string(t.vt);
    }
}

class LibraryWalk : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(NuvCreateTypeLib(&NUVClassLib380_Descriptor(), &lib), S_OK);
        for (const char* line : kInterfaceTable) {
            ExpectedInterface e = ParseInterface(line);
            expected[e.name] = e;
        }
    }
    // Slots taken by an interface and its bases, IUnknown's three included.
    size_t Slots(const std::string& name) {
        if (name == "IUnknown") return 3;
        if (name == "IDispatch" || name == "none") return 7;
        const ExpectedInterface& e = expected.at(name);
        return Slots(e.base) + e.members.size();
    }
    CComPtr<ITypeLib> lib;
    std::map<std::string, ExpectedInterface> expected;
};

TEST_F(LibraryWalk, LibraryIdentityAndTypeCounts) {
    TLIBATTR* attr = nullptr;
    ASSERT_EQ(lib->GetLibAttr(&attr), S_OK);
    EXPECT_EQ(attr->guid, ParseGuid("{00380002-71C8-4F3D-A9E2-5B60D4F8A213}"));
    EXPECT_EQ(attr->wMajorVerNum, 38);
    EXPECT_EQ(attr->wMinorVerNum, 0);
    EXPECT_EQ(attr->lcid, 0x409u);
    EXPECT_EQ(attr->syskind, SYS_WIN64);
    lib->ReleaseTLibAttr(attr);
    CComBSTR name;
    ASSERT_EQ(lib->GetDocumentation(-1, &name, nullptr, nullptr, nullptr), S_OK);
    EXPECT_EQ(name.ToUtf8(), "NUVClassLib380");

    std::map<std::string, int> counts;
    for (UINT i = 0; i < lib->GetTypeInfoCount(); ++i) {
        CComPtr<ITypeInfo> ti;
        ASSERT_EQ(lib->GetTypeInfo(i, &ti), S_OK);
        TYPEATTR* ta = nullptr;
        ASSERT_EQ(ti->GetTypeAttr(&ta), S_OK);
        switch (ta->typekind) {  // a dual interface is listed by its dispatch face
        case TKIND_INTERFACE: ++counts[(ta->wTypeFlags & TYPEFLAG_FDUAL) ? "dual listed as interface" : "custom"]; break;
        case TKIND_DISPATCH: ++counts[(ta->wTypeFlags & TYPEFLAG_FDUAL) ? "dual" : "dispinterface"]; break;
        case TKIND_ENUM: ++counts["enum"]; break;
        case TKIND_ALIAS: ++counts["alias"]; break;
        case TKIND_COCLASS: ++counts["coclass"]; break;
        default: ++counts["other"];
        }
        ti->ReleaseTypeAttr(ta);
    }
    EXPECT_EQ(counts["dual"], 46);
    EXPECT_EQ(counts["dual listed as interface"], 0);
    EXPECT_EQ(counts["dispinterface"], 2);
    EXPECT_EQ(counts["custom"], 4);
    EXPECT_EQ(counts["enum"], 12);
    EXPECT_EQ(counts["alias"], 2);
    EXPECT_EQ(counts["coclass"], 38);
    EXPECT_EQ(counts["other"], 0);
}

TEST_F(LibraryWalk, EveryInterfaceMemberAndParameter) {
    ASSERT_EQ(expected.size(), 52u);
    for (const auto& [iname, e] : expected) {
        SCOPED_TRACE(iname);
        CComPtr<ITypeInfo> ti;
        ASSERT_EQ(lib->GetTypeInfoOfGuid(ParseGuid(e.iid), &ti), S_OK);
        EXPECT_EQ(Name(ti), iname);
        if (e.kind == "dual") {
            // The dispatch face: IUnknown's and IDispatch's members, then every base's and its own as a
            // late-bound client calls them (the retval is the result), on top of IDispatch.
            TYPEATTR* da = nullptr;
            ASSERT_EQ(ti->GetTypeAttr(&da), S_OK);
            EXPECT_EQ(da->typekind, TKIND_DISPATCH);
            EXPECT_EQ(da->wTypeFlags & (TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION), TYPEFLAG_FDUAL);
            ASSERT_EQ(da->cFuncs, Slots(iname));
            EXPECT_EQ(da->cbSizeVft, 7 * sizeof(void*));
            ti->ReleaseTypeAttr(da);
            HREFTYPE ref = 0;
            CComPtr<ITypeInfo> dispatch_base;
            ASSERT_EQ(ti->GetRefTypeOfImplType(0, &ref), S_OK);
            ASSERT_EQ(ti->GetRefTypeInfo(ref, &dispatch_base), S_OK);
            EXPECT_EQ(Name(dispatch_base), "IDispatch");
            for (UINT i = 0; i < Slots(iname); ++i) {
                FUNCDESC* fd = nullptr;
                ASSERT_EQ(ti->GetFuncDesc(i, &fd), S_OK);
                EXPECT_EQ(fd->funckind, FUNC_DISPATCH);
                EXPECT_EQ(fd->oVft, static_cast<SHORT>(i * sizeof(void*)));
                if (i < 7) {
                    EXPECT_TRUE(fd->wFuncFlags & FUNCFLAG_FRESTRICTED) << Name(ti, fd->memid);
                }
                if (i >= Slots(iname) - e.members.size()) {
                    const ExpectedMember& em = e.members[i - (Slots(iname) - e.members.size())];
                    EXPECT_EQ(fd->memid, static_cast<MEMBERID>(em.id));
                    const bool retval = !em.params.empty() && std::count(em.params.back().flags.begin(),
                                                                             em.params.back().flags.end(), "retval");
                    EXPECT_EQ(fd->cParams, static_cast<SHORT>(em.params.size() - (retval ? 1 : 0))) << em.name;
                    if (!retval) {
                        EXPECT_EQ(fd->elemdescFunc.tdesc.vt, VT_VOID) << em.name;
                    }
                }
                ti->ReleaseFuncDesc(fd);
            }
            // The interface face, and back.
            ASSERT_EQ(ti->GetRefTypeOfImplType(static_cast<UINT>(-1), &ref), S_OK);
            CComPtr<ITypeInfo> vtable_face;
            ASSERT_EQ(ti->GetRefTypeInfo(ref, &vtable_face), S_OK);
            CComPtr<ITypeInfo> back;
            ASSERT_EQ(vtable_face->GetRefTypeOfImplType(static_cast<UINT>(-1), &ref), S_OK);
            ASSERT_EQ(vtable_face->GetRefTypeInfo(ref, &back), S_OK);
            EXPECT_EQ(back.p, ti.p);
            ti = vtable_face;
            EXPECT_EQ(Name(ti), iname);
        }
        TYPEATTR* ta = nullptr;
        ASSERT_EQ(ti->GetTypeAttr(&ta), S_OK);
        const bool dispinterface = e.kind == "dispinterface";
        EXPECT_EQ(ta->typekind, dispinterface ? TKIND_DISPATCH : TKIND_INTERFACE);
        if (e.kind == "dual") {
            EXPECT_TRUE(ta->wTypeFlags & TYPEFLAG_FDUAL);
        }
        if (e.kind == "custom, oleautomation") {
            EXPECT_FALSE(ta->wTypeFlags & TYPEFLAG_FDUAL);
            EXPECT_TRUE(ta->wTypeFlags & TYPEFLAG_FOLEAUTOMATION);
        }
        ASSERT_EQ(ta->cFuncs, e.members.size());
        if (!dispinterface) {
            EXPECT_EQ(ta->cbSizeVft, Slots(iname) * sizeof(void*));
        }
        ti->ReleaseTypeAttr(ta);

        // A dispinterface has no base of its own; its one implemented type is IDispatch.
        HREFTYPE base_ref = 0;
        ASSERT_EQ(ti->GetRefTypeOfImplType(0, &base_ref), S_OK);
        CComPtr<ITypeInfo> base;
        ASSERT_EQ(ti->GetRefTypeInfo(base_ref, &base), S_OK);
        EXPECT_EQ(Name(base), dispinterface ? "IDispatch" : e.base);

        const size_t first_slot = dispinterface ? 0 : Slots(e.base);
        std::map<MEMBERID, int> seen_ids;
        for (size_t i = 0; i < e.members.size(); ++i) {
            const ExpectedMember& em = e.members[i];
            SCOPED_TRACE(em.kind + " " + em.name);
            FUNCDESC* fd = nullptr;
            ASSERT_EQ(ti->GetFuncDesc(static_cast<UINT>(i), &fd), S_OK);
            EXPECT_EQ(fd->memid, static_cast<MEMBERID>(em.id));
            const INVOKEKIND kind = em.kind == "get"   ? INVOKE_PROPERTYGET
                                    : em.kind == "put" ? INVOKE_PROPERTYPUT
                                                       : INVOKE_FUNC;
            EXPECT_EQ(fd->invkind, kind);
            EXPECT_EQ(fd->funckind, dispinterface ? FUNC_DISPATCH : FUNC_PUREVIRTUAL);
            if (!dispinterface) {
                EXPECT_EQ(fd->oVft, static_cast<SHORT>((first_slot + i) * sizeof(void*)));
            }
            EXPECT_EQ(fd->elemdescFunc.tdesc.vt, dispinterface ? VT_VOID : VT_HRESULT);
            EXPECT_EQ(bool(fd->wFuncFlags & FUNCFLAG_FRESTRICTED), em.restricted);
            ASSERT_EQ(fd->cParams, static_cast<SHORT>(em.params.size()));

            BSTR names[16] = {};
            UINT got = 0;
            ASSERT_EQ(ti->GetNames(fd->memid, names, 16, &got), S_OK);
            ASSERT_GE(got, 1u);
            EXPECT_EQ(nuv::to_utf8(names[0]), em.name);
            // Read and write of one property share an id; the names listed are those of the first.
            const bool first_with_id = seen_ids.emplace(fd->memid, 0).second;
            for (size_t p = 0; p < em.params.size(); ++p) {
                const ExpectedParam& ep = em.params[p];
                SCOPED_TRACE(ep.name);
                const ELEMDESC& ed = fd->lprgelemdescParam[p];
                EXPECT_EQ(RenderType(ti, ed.tdesc), ep.type);
                USHORT flags = 0;
                for (const std::string& f : ep.flags) flags |= kParamFlags.at(f);
                EXPECT_EQ(ed.paramdesc.wParamFlags, flags);
                if (!ep.default_value.empty()) {
                    ASSERT_NE(ed.paramdesc.pparamdescex, nullptr);
                    EXPECT_EQ(ed.paramdesc.pparamdescex->varDefaultValue.vt, VT_I4);
                    EXPECT_EQ(ed.paramdesc.pparamdescex->varDefaultValue.lVal, std::stol(ep.default_value));
                }
                if (first_with_id && p + 1 < got) {
                    EXPECT_EQ(nuv::to_utf8(names[p + 1]), ep.name);
                }
            }
            for (UINT n = 0; n < got; ++n) SysFreeString(names[n]);
            ti->ReleaseFuncDesc(fd);
        }
    }
}

TEST_F(LibraryWalk, EnumerationsAndAliases) {
    std::map<std::string, CComPtr<ITypeInfo>> by_name;
    for (UINT i = 0; i < lib->GetTypeInfoCount(); ++i) {
        CComPtr<ITypeInfo> ti;
        ASSERT_EQ(lib->GetTypeInfo(i, &ti), S_OK);
        by_name[Name(ti)] = ti;
    }
    for (const auto& row : kEnumTable) {
        std::string name = row[0];
        SCOPED_TRACE(name);
        const std::string alias_prefix = "unnamed, aliased as ";
        CComPtr<ITypeInfo> ti;
        if (name.rfind(alias_prefix, 0) == 0) {
            CComPtr<ITypeInfo> alias = by_name[name.substr(alias_prefix.size())];
            ASSERT_TRUE(alias);
            TYPEATTR* ta = nullptr;
            ASSERT_EQ(alias->GetTypeAttr(&ta), S_OK);
            ASSERT_EQ(ta->typekind, TKIND_ALIAS);
            ASSERT_EQ(ta->tdescAlias.vt, VT_USERDEFINED);
            ASSERT_EQ(alias->GetRefTypeInfo(ta->tdescAlias.hreftype, &ti), S_OK);
            alias->ReleaseTypeAttr(ta);
        } else {
            ti = by_name[name];
        }
        ASSERT_TRUE(ti);
        TYPEATTR* ta = nullptr;
        ASSERT_EQ(ti->GetTypeAttr(&ta), S_OK);
        EXPECT_EQ(ta->typekind, TKIND_ENUM);
        std::vector<std::string> constants = SplitTop(row[1], ", ");
        ASSERT_EQ(ta->cVars, constants.size());
        for (UINT v = 0; v < ta->cVars; ++v) {
            std::vector<std::string> w = Words(constants[v]);
            VARDESC* vd = nullptr;
            ASSERT_EQ(ti->GetVarDesc(v, &vd), S_OK);
            EXPECT_EQ(vd->varkind, VAR_CONST);
            EXPECT_EQ(vd->lpvarValue->vt, VT_I4);
            EXPECT_EQ(vd->lpvarValue->lVal, std::stol(w[1]));
            EXPECT_EQ(Name(ti, vd->memid), w[0]);
            ti->ReleaseVarDesc(vd);
        }
        ti->ReleaseTypeAttr(ta);
    }
}

TEST_F(LibraryWalk, ClassesWithDefaultAndSourceInterfaces) {
    for (const auto& row : kClassTable) {
        SCOPED_TRACE(row[0]);
        CComPtr<ITypeInfo> ti;
        ASSERT_EQ(lib->GetTypeInfoOfGuid(ParseGuid(row[1]), &ti), S_OK);
        EXPECT_EQ(Name(ti), row[0]);
        TYPEATTR* ta = nullptr;
        ASSERT_EQ(ti->GetTypeAttr(&ta), S_OK);
        EXPECT_EQ(ta->typekind, TKIND_COCLASS);
        EXPECT_EQ(bool(ta->wTypeFlags & TYPEFLAG_FCANCREATE), std::string(row[3]) == "yes");
        std::vector<std::string> impls = SplitTop(row[2], "; ");
        ASSERT_EQ(ta->cImplTypes, impls.size());
        for (UINT i = 0; i < ta->cImplTypes; ++i) {
            std::vector<std::string> w = Words(impls[i]);
            INT expected_flags = 0;
            for (size_t k = 0; k + 1 < w.size(); ++k) {
                if (w[k] == "default") expected_flags |= IMPLTYPEFLAG_FDEFAULT;
                if (w[k] == "source") expected_flags |= IMPLTYPEFLAG_FSOURCE;
            }
            INT flags = -1;
            ASSERT_EQ(ti->GetImplTypeFlags(i, &flags), S_OK);
            EXPECT_EQ(flags, expected_flags) << impls[i];
            HREFTYPE ref = 0;
            ASSERT_EQ(ti->GetRefTypeOfImplType(i, &ref), S_OK);
            CComPtr<ITypeInfo> itf;
            ASSERT_EQ(ti->GetRefTypeInfo(ref, &itf), S_OK);
            EXPECT_EQ(Name(itf), w.back());
        }
        ti->ReleaseTypeAttr(ta);
    }
}

TEST_F(LibraryWalk, LookupsReportMissingElements) {
    CComPtr<ITypeInfo> ti;
    EXPECT_EQ(lib->GetTypeInfoOfGuid(GUID_NULL, &ti), TYPE_E_ELEMENTNOTFOUND);
    EXPECT_EQ(lib->GetTypeInfo(lib->GetTypeInfoCount(), &ti), TYPE_E_ELEMENTNOTFOUND);
    ASSERT_EQ(lib->GetTypeInfoOfGuid(IID_INUVObject, &ti), S_OK);
    FUNCDESC* fd = nullptr;
    EXPECT_EQ(ti->GetFuncDesc(12, &fd), TYPE_E_ELEMENTNOTFOUND);  // 7 of IUnknown and IDispatch, 5 of its own
    HREFTYPE ref;
    EXPECT_EQ(ti->GetRefTypeOfImplType(1, &ref), TYPE_E_ELEMENTNOTFOUND);

    OLECHAR buf[] = u"inuvobject";
    BOOL found = FALSE;
    EXPECT_EQ(lib->IsName(buf, 0, &found), S_OK);
    EXPECT_TRUE(found);
    EXPECT_EQ(std::u16string(buf), u"INUVObject");
}

}  // namespace

#ifndef TYPE_E_TYPEMISMATCH
#define TYPE_E_TYPEMISMATCH _HRESULT_TYPEDEF_(0x80028CA0L)
#endif

namespace {

std::string FoldName(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

struct Bound {
    HRESULT hr;
    DESCKIND kind;
    std::string owner;    // the type the member was found in
    MEMBERID memid;       // a function's id, or a constant's value
    CComPtr<ITypeComp> scope;

    Bound(ITypeComp* comp, const char16_t* name, WORD flags) {
        ITypeInfo* found = nullptr;
        BINDPTR bound{};
        kind = DESCKIND_MAX;
        hr = comp->Bind(const_cast<LPOLESTR>(name), 0, flags, &found, &kind, &bound);
        memid = MEMBERID_NIL;
        if (kind == DESCKIND_FUNCDESC) {
            memid = bound.lpfuncdesc->memid;
            found->ReleaseFuncDesc(bound.lpfuncdesc);
        } else if (kind == DESCKIND_VARDESC) {
            memid = bound.lpvardesc->lpvarValue->lVal;
            found->ReleaseVarDesc(bound.lpvardesc);
        } else if (kind == DESCKIND_TYPECOMP) {
            scope.Attach(bound.lptcomp);
        }
        if (found) {
            owner = Name(found);
            found->Release();
        }
    }
};

}  // namespace

// Names bind through ITypeComp as through the platform's: in a library, enumeration constants (and an
// enumeration's name, to its own scope) and types; in a type, its members and those of its bases, each
// found in the interface that declares it, and a member of the wrong kind is a type mismatch.
TEST_F(LibraryWalk, NamesBindThroughTypeComp) {
    CComPtr<ITypeComp> library;
    ASSERT_EQ(lib->GetTypeComp(&library), S_OK);
    CComPtr<ITypeInfo> block;
    ASSERT_EQ(lib->GetTypeInfoOfGuid(IID_INUVBlock2, &block), S_OK);
    CComPtr<ITypeComp> members;
    ASSERT_EQ(block->GetTypeComp(&members), S_OK);

    struct Row {
        const char* what;
        ITypeComp* comp;
        const char16_t* name;
        WORD flags;
        HRESULT hr;
        DESCKIND kind;
        const char* owner;
        MEMBERID memid;
    };
    const Row rows[] = {
        {"constant, any case", library, u"nuvspec_meas", 0, S_OK, DESCKIND_VARDESC, "NUVSpec", NUVSpec_Meas},
        {"constant of an aliased enumeration", library, u"ECT_CHECKBOX", 0, S_OK, DESCKIND_VARDESC, nullptr, ECT_CHECKBOX},
        {"interface name", library, u"INUVBlock", 0, S_OK, DESCKIND_NONE, "", MEMBERID_NIL},
        {"unknown in the library", library, u"NoSuchName", 0, S_OK, DESCKIND_NONE, "", MEMBERID_NIL},
        {"own member", members, u"IsIncluded", 0, S_OK, DESCKIND_FUNCDESC, "INUVBlock2", 0x60030007},
        {"member of a base", members, u"name", INVOKE_PROPERTYGET, S_OK, DESCKIND_FUNCDESC, "INUVObject", 0x60020003},
        {"IUnknown's member", members, u"QueryInterface", 0, S_OK, DESCKIND_FUNCDESC, "IUnknown", 0x60000000},
        {"IDispatch's member", members, u"Invoke", INVOKE_FUNC, S_OK, DESCKIND_FUNCDESC, "IDispatch", 0x60010003},
        {"read-only property written", members, u"Name", INVOKE_PROPERTYPUT, TYPE_E_TYPEMISMATCH, DESCKIND_NONE, "",
         MEMBERID_NIL},
        {"unknown in the type", members, u"NoSuchMember", 0, S_OK, DESCKIND_NONE, "", MEMBERID_NIL},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        Bound b(row.comp, row.name, row.flags);
        EXPECT_EQ(b.hr, row.hr);
        EXPECT_EQ(b.kind, row.kind);
        if (row.owner) {
            EXPECT_EQ(b.owner, row.owner);
        }
        EXPECT_EQ(b.memid, row.memid);
    }

    // An enumeration's name opens its scope.
    Bound scope(library, u"NUVSpec", 0);
    ASSERT_EQ(scope.kind, DESCKIND_TYPECOMP);
    EXPECT_EQ(scope.owner, "");
    ASSERT_TRUE(scope.scope);
    Bound inner(scope.scope, u"NUVSpec_Param", INVOKE_PROPERTYPUT);  // a constant binds whatever the kind
    EXPECT_EQ(inner.kind, DESCKIND_VARDESC);
    EXPECT_EQ(inner.memid, NUVSpec_Param);

    // BindType finds any type of the library by name, with its own scope.
    for (const char16_t* name : {u"inuvblock2", u"NUVSpec", u"NUVBlock"}) {
        ITypeInfo* found = nullptr;
        ITypeComp* scope_of = nullptr;
        ASSERT_EQ(library->BindType(const_cast<LPOLESTR>(name), 0, &found, &scope_of), S_OK);
        ASSERT_NE(found, nullptr);
        EXPECT_EQ(FoldName(Name(found)), FoldName(nuv::to_utf8(name)));
        EXPECT_NE(scope_of, nullptr);
        found->Release();
        if (scope_of) scope_of->Release();
    }
    ITypeInfo* none = reinterpret_cast<ITypeInfo*>(1);
    ITypeComp* no_scope = reinterpret_cast<ITypeComp*>(1);
    EXPECT_EQ(library->BindType(const_cast<LPOLESTR>(u"NoSuchType"), 0, &none, &no_scope), S_OK);
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(no_scope, nullptr);

    DESCKIND kind;
    BINDPTR bound;
    ITypeInfo* owner = nullptr;
    EXPECT_EQ(members->Bind(nullptr, 0, 0, &owner, &kind, &bound), E_INVALIDARG);
    EXPECT_EQ(library->Bind(const_cast<LPOLESTR>(u"NUVSpec_Calc"), 0, 0, nullptr, &kind, &bound), E_INVALIDARG);
}
