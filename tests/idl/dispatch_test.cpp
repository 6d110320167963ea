// Late-bound calls through IDispatchImpl and the type information: names, property reads and writes,
// defaults, coercion, out and by-reference arguments, and failures turned into exceptions.
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <new>
#include <stdexcept>
#include <thread>
#include <string>
#include <vector>

#include "dispatch_stubs.h"

namespace {

class TestVariable : public CComObjectRootEx<CComMultiThreadModel>, public NUVVariable5Stubs {
public:
    using ComMap = CComMap<ComEntry<INUVVariable5>, ComEntry2<IDispatch, INUVVariable5>, ComSelfEntry>;

    STDMETHOD(get_Value)(DOUBLE* v) override { return *v = value, S_OK; }
    STDMETHOD(put_Value)(DOUBLE v) override { return value = v, S_OK; }
    STDMETHOD(get_Description)(BSTR* out) override { return description.CopyTo(out); }
    STDMETHOD(put_Description)(BSTR v) override { return description = v, S_OK; }
    STDMETHOD(get_PhysicalType)(BSTR* out) override { return physical_type.CopyTo(out); }
    STDMETHOD(put_PhysicalType)(BSTR v) override { return physical_type = v, S_FALSE; }  // a success, not S_OK
    STDMETHOD(get_Modified)(BSTR attrib, VARIANT_BOOL* out) override {
        *out = modified[CComBSTR(attrib).ToUtf8()];
        return S_OK;
    }
    STDMETHOD(put_Modified)(BSTR attrib, VARIANT_BOOL v) override {
        modified[CComBSTR(attrib).ToUtf8()] = v;
        return S_OK;
    }
    STDMETHOD(get_Spec)(NUVSpec* out) override { return *out = spec, S_OK; }
    STDMETHOD(put_Spec)(NUVSpec v) override { return spec = v, S_OK; }
    STDMETHOD(get_Number)(INT* out) override { return *out = 42, S_OK; }
    STDMETHOD(put_UOM)(BSTR) override {
        return AtlReportError("NUVVariable", "Unit not known", IID_INUVVariable, E_INVALIDARG);
    }
    STDMETHOD(get_UOM)(BSTR*) override { return E_FAIL; }
    STDMETHOD(get_Scale)(DOUBLE*) override { throw std::runtime_error("engine gone"); }
    // Fill the result, then fail.
    STDMETHOD(get_Parent)(INUVObject** out) override {
        *out = static_cast<INUVVariable5*>(this);
        (*out)->AddRef();
        return E_FAIL;
    }
    STDMETHOD(get_UOMList)(VARIANT* out) override {
        out->vt = VT_BSTR;
        out->bstrVal = SysAllocString(OLESTR("K"));
        return E_FAIL;
    }
    STDMETHOD(get_Step)(DOUBLE*) override { throw std::bad_alloc(); }

    double value = 0;
    CComBSTR description{OLESTR("feed temperature")};
    CComBSTR physical_type{OLESTR("TEMPERATURE")};
    NUVSpec spec = NUVSpec_Calc;
    std::map<std::string, VARIANT_BOOL> modified;
};

class TestGrid : public CComObjectRootEx<CComMultiThreadModel>, public NUVGridServiceStubs {
public:
    using ComMap = CComMap<ComEntry<INUVGridService>, ComEntry2<IDispatch, INUVGridService>>;

    STDMETHOD(GetAttributes)(VARIANT attrs, LONG first, LONG count, VARIANT* result) override {
        last_attrs_vt = attrs.vt;
        last_first = first;
        last_count = count;
        result->vt = VT_I4;
        result->lVal = first * 100 + count;
        return S_OK;
    }
    STDMETHOD(GetIndexPositions)(VARIANT indices, VARIANT* positions) override {
        positions->vt = VT_BSTR;
        positions->bstrVal = SysAllocString(OLESTR("positions"));
        return indices.vt == VT_I4 ? S_OK : E_INVALIDARG;
    }

    VARTYPE last_attrs_vt = VT_ILLEGAL;
    LONG last_first = -1, last_count = -1;
};

class TestStyles : public CComObjectRootEx<CComMultiThreadModel>, public NUVGridStyleCollectionStubs {
public:
    using ComMap = CComMap<ComEntry<INUVGridStyleCollection>, ComEntry2<IDispatch, INUVGridStyleCollection>>;

    STDMETHOD(Item)(LONG* index, NUVControlType* type, VARIANT* result) override {
        *type = *index == 2 ? ECT_CHECKBOX : ECT_TEXT;
        result->vt = VT_I4;
        result->lVal = *index * 10;
        return S_OK;
    }
};

class TestSensitivity : public CComObjectRootEx<CComMultiThreadModel>, public NUVSensitivityStubs {
public:
    using ComMap = CComMap<ComEntry<INUVSensitivity>, ComEntry2<IDispatch, INUVSensitivity>>;

    // Reads the flag it was given and answers with a fresh value in the same argument.
    STDMETHOD(Calculate)(VARIANT* differentiable, VARIANT* results) override {
        const bool was_true = differentiable->vt == VT_BOOL && differentiable->boolVal == VARIANT_TRUE;
        VariantClear(differentiable);
        differentiable->vt = VT_BSTR;
        differentiable->bstrVal = SysAllocString(was_true ? OLESTR("checked") : OLESTR("unchecked"));
        results->vt = VT_I4;
        results->lVal = 7;
        return S_OK;
    }
};

class TestParameter : public CComObjectRootEx<CComMultiThreadModel>, public NUVParameter3Stubs {
public:
    using ComMap = CComMap<ComEntry<INUVParameter3>, ComEntry2<IDispatch, INUVParameter3>>;

    STDMETHOD(get_UOM)(BSTR* out) override { return uom.CopyTo(out); }
    STDMETHOD(put_UOM)(VARIANT v) override {
        if (v.vt != VT_BSTR) return E_INVALIDARG;
        uom = v.bstrVal;
        return S_OK;
    }
    CComBSTR uom{OLESTR("K")};
};

template <class T>
CComPtr<IDispatch> Make(T** impl = nullptr) {
    CComObject<T>* p = nullptr;
    EXPECT_EQ(CComObject<T>::CreateInstance(&p), S_OK);
    CComPtr<IDispatch> d;
    EXPECT_EQ(p->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&d)), S_OK);
    if (impl) *impl = p;
    return d;
}

DISPID IdOf(IDispatch* d, const char16_t* name) {
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    DISPID id = 0;
    EXPECT_EQ(d->GetIDsOfNames(IID_NULL, names, 1, 0, &id), S_OK);
    return id;
}

// Arguments in call order; DISPPARAMS wants them reversed.
struct Call {
    explicit Call(std::vector<CComVariant> a = {}, std::vector<DISPID> n = {})
        : args(std::move(a)), named(std::move(n)) {}
    std::vector<CComVariant> args;
    std::vector<DISPID> named;
    CComVariant result;
    EXCEPINFO excep{};
    UINT arg_err = 12345;

    HRESULT Invoke(IDispatch* d, DISPID id, WORD flags) {
        std::vector<VARIANT> reversed(args.rbegin(), args.rend());
        DISPPARAMS dp{reversed.data(), named.empty() ? nullptr : named.data(), static_cast<UINT>(reversed.size()),
                      static_cast<UINT>(named.size())};
        return d->Invoke(id, IID_NULL, 0, flags, &dp, &result, &excep, &arg_err);
    }
    ~Call() {
        SysFreeString(excep.bstrSource);
        SysFreeString(excep.bstrDescription);
        SysFreeString(excep.bstrHelpFile);
    }
};
const std::vector<DISPID> kPut = {DISPID_PROPERTYPUT};

VARIANT Missing() {
    VARIANT v{};
    v.vt = VT_ERROR;
    v.scode = DISP_E_PARAMNOTFOUND;
    return v;
}

// A VARIANT lent by reference: VT_BYREF | vt over `target`.
template <class T>
CComVariant ByRef(VARTYPE vt, T* target) {
    VARIANT ref{};
    ref.vt = VT_BYREF | vt;
    ref.byref = target;
    return CComVariant(ref);
}

TEST(DispatchNames, CaseInsensitiveMembersParametersAndTypeInformation) {
    CComPtr<IDispatch> d = Make<TestVariable>();
    EXPECT_EQ(IdOf(d, u"vALUE"), 0x60030001);
    EXPECT_EQ(IdOf(d, u"name"), 0x60020003);  // inherited from the base interface
    EXPECT_EQ(IdOf(d, u"baseuom"), 0x60030022);

    LPOLESTR with_params[] = {const_cast<LPOLESTR>(u"Modified"), const_cast<LPOLESTR>(u"ATTRIB"),
                              const_cast<LPOLESTR>(u"value")};
    DISPID ids[3] = {};
    EXPECT_EQ(d->GetIDsOfNames(IID_NULL, with_params, 3, 0, ids), S_OK);
    EXPECT_EQ(ids[0], 0x60030009);
    EXPECT_EQ(ids[1], 0);
    EXPECT_EQ(ids[2], 1);

    LPOLESTR bad_param[] = {const_cast<LPOLESTR>(u"Modified"), const_cast<LPOLESTR>(u"bogus")};
    EXPECT_EQ(d->GetIDsOfNames(IID_NULL, bad_param, 2, 0, ids), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(ids[0], 0x60030009);
    EXPECT_EQ(ids[1], DISPID_UNKNOWN);

    LPOLESTR unknown[] = {const_cast<LPOLESTR>(u"NoSuchMember")};
    EXPECT_EQ(d->GetIDsOfNames(IID_NULL, unknown, 1, 0, ids), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(ids[0], DISPID_UNKNOWN);
    EXPECT_EQ(d->GetIDsOfNames(IID_IDispatch, unknown, 1, 0, ids), DISP_E_UNKNOWNINTERFACE);

    UINT count = 0;
    EXPECT_EQ(d->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 1u);
    CComPtr<ITypeInfo> ti;
    ASSERT_EQ(d->GetTypeInfo(0, 0, &ti), S_OK);
    CComBSTR name;
    ASSERT_EQ(ti->GetDocumentation(MEMBERID_NIL, &name, nullptr, nullptr, nullptr), S_OK);
    EXPECT_EQ(name.ToUtf8(), "INUVVariable5");
    CComPtr<ITypeInfo> none;
    EXPECT_EQ(d->GetTypeInfo(1, 0, &none), DISP_E_BADINDEX);
}

TEST(DispatchProperties, GetAndPutByIdAndByName) {
    TestVariable* impl = nullptr;
    CComPtr<IDispatch> d = Make<TestVariable>(&impl);

    Call put{{CComVariant(LONG{5})}, kPut};  // the named DISPID_PROPERTYPUT argument, coerced from VT_I4
    ASSERT_EQ(put.Invoke(d, IdOf(d, u"Value"), DISPATCH_PROPERTYPUT), S_OK);
    EXPECT_EQ(impl->value, 5.0);
    Call positional{{CComVariant(OLESTR("2.5"))}};  // a positional value works as well
    ASSERT_EQ(positional.Invoke(d, 0x60030001, DISPATCH_PROPERTYPUT), S_OK);
    EXPECT_EQ(impl->value, 2.5);
    Call get;  // script clients ask for a method or a property read at once
    ASSERT_EQ(get.Invoke(d, 0x60030001, DISPATCH_METHOD | DISPATCH_PROPERTYGET), S_OK);
    EXPECT_EQ(get.result.vt, VT_R8);
    EXPECT_EQ(get.result.dblVal, 2.5);

    Call indexed_put{{CComVariant(OLESTR("UPPER")), CComVariant(true)}, kPut};  // an argument before the value
    ASSERT_EQ(indexed_put.Invoke(d, 0x60030009, DISPATCH_PROPERTYPUT), S_OK);
    EXPECT_EQ(impl->modified["UPPER"], VARIANT_TRUE);
    Call indexed_get{{CComVariant(OLESTR("UPPER"))}};
    ASSERT_EQ(indexed_get.Invoke(d, 0x60030009, DISPATCH_PROPERTYGET), S_OK);
    EXPECT_EQ(indexed_get.result.vt, VT_BOOL);
    EXPECT_EQ(indexed_get.result.boolVal, VARIANT_TRUE);

    Call enum_put{{CComVariant(SHORT{3})}};
    ASSERT_EQ(enum_put.Invoke(d, 0x60030004, DISPATCH_PROPERTYPUT), S_OK);
    EXPECT_EQ(impl->spec, NUVSpec_Meas);

    // A member that answers S_FALSE still did its work; a late-bound caller is told S_OK.
    Call informational;
    informational.args = {CComVariant(OLESTR("PRESSURE"))};
    informational.named = {DISPID_PROPERTYPUT};
    EXPECT_EQ(informational.Invoke(d, IdOf(d, u"PhysicalType"), DISPATCH_PROPERTYPUT), S_OK);
    EXPECT_EQ(std::u16string(impl->physical_type.m_str), u"PRESSURE");

    Call int_get;  // an int result reaches clients as VT_I4
    ASSERT_EQ(int_get.Invoke(d, 0x6003000F, DISPATCH_PROPERTYGET), S_OK);
    EXPECT_EQ(int_get.result.vt, VT_I4);
    EXPECT_EQ(int_get.result.lVal, 42);
}

// Read and write of these properties were declared in different versions of their interface and carry
// different ids; a client that looked up the name uses one id for both.
TEST(DispatchProperties, ReadAndWriteWithDifferentIdsReachTheRightMember) {
    struct Row {
        const char16_t* name;
        DISPID get_id, put_id;
    };
    for (const Row& row : {Row{u"Description", 0x60030017, 0x60030020}, Row{u"PhysicalType", 0x60030013, 0x60030021}}) {
        SCOPED_TRACE(nuv::to_utf8(row.name));
        CComPtr<IDispatch> d = Make<TestVariable>();
        const DISPID by_name = IdOf(d, row.name);
        EXPECT_EQ(by_name, row.get_id);

        Call put{{CComVariant(OLESTR("new text"))}, kPut};
        ASSERT_EQ(put.Invoke(d, by_name, DISPATCH_PROPERTYPUT), S_OK);
        Call get;
        ASSERT_EQ(get.Invoke(d, row.put_id, DISPATCH_PROPERTYGET), S_OK);  // and the other way round
        ASSERT_EQ(get.result.vt, VT_BSTR);
        EXPECT_EQ(std::u16string(get.result.bstrVal), u"new text");
        Call put_by_own_id{{CComVariant(OLESTR("again"))}};
        ASSERT_EQ(put_by_own_id.Invoke(d, row.put_id, DISPATCH_PROPERTYPUT), S_OK);
        Call get_by_own_id;
        ASSERT_EQ(get_by_own_id.Invoke(d, row.get_id, DISPATCH_PROPERTYGET), S_OK);
        EXPECT_EQ(std::u16string(get_by_own_id.result.bstrVal), u"again");

        // The type information itself, as the platform's, finds members by id and kind only: reaching the
        // other half is IDispatch's work, so it is done the same way over either platform's.
        CComPtr<ITypeInfo> info;
        ASSERT_EQ(d->GetTypeInfo(0, 0, &info), S_OK);
        DISPPARAMS none{};
        CComVariant value;
        EXPECT_EQ(info->Invoke(d, row.put_id, DISPATCH_PROPERTYGET, &none, &value, nullptr, nullptr),
                  DISP_E_MEMBERNOTFOUND);
    }

    TestParameter* param = nullptr;
    CComPtr<IDispatch> p = Make<TestParameter>(&param);
    EXPECT_EQ(IdOf(p, u"UOM"), 0x60030002);
    Call put{{CComVariant(OLESTR("degC"))}, kPut};
    ASSERT_EQ(put.Invoke(p, 0x60030002, DISPATCH_PROPERTYPUT), S_OK);
    EXPECT_EQ(std::u16string(param->uom.m_str), u"degC");
}

TEST(DispatchArguments, MissingOptionalsTakeTheirDefaults) {
    TestGrid* impl = nullptr;
    CComPtr<IDispatch> d = Make<TestGrid>(&impl);
    const DISPID id = IdOf(d, u"GetAttributes");
    struct Row {
        const char* what;
        std::vector<CComVariant> args;
        std::vector<DISPID> named;
        VARTYPE attrs;
        LONG first, count;
    };
    const std::vector<Row> rows = {
        {"only the required", {CComVariant(OLESTR("VALUE"))}, {}, VT_BSTR, 1, 0},
        {"middle one missing", {CComVariant(LONG{1}), CComVariant(Missing()), CComVariant(LONG{9})}, {}, VT_I4, 1, 9},
        {"lCount by name, iFirst left out", {CComVariant(LONG{1}), CComVariant(LONG{4})}, {2}, VT_I4, 1, 4},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        Call c{row.args, row.named};
        ASSERT_EQ(c.Invoke(d, id, DISPATCH_METHOD), S_OK);
        EXPECT_EQ(impl->last_attrs_vt, row.attrs);
        EXPECT_EQ(impl->last_first, row.first);
        EXPECT_EQ(impl->last_count, row.count);
        EXPECT_EQ(c.result.lVal, row.first * 100 + row.count);
    }
}

TEST(DispatchArguments, BadArgumentsAreRefusedWithTheirPosition) {
    struct Row {
        const char* what;
        std::vector<CComVariant> args;
        DISPID id;
        WORD flags;
        HRESULT expected;
        UINT arg_err;  // index into the reversed argument array, or 12345 when untouched
    };
    CComVariant text(OLESTR("abc"));
    const std::vector<Row> rows = {
        {"text into a number", {text}, 0x60030001, DISPATCH_PROPERTYPUT, DISP_E_TYPEMISMATCH, 0},
        {"second of three", {CComVariant(LONG{1}), text, CComVariant(LONG{2})}, 0x60020006, DISPATCH_METHOD,
         DISP_E_TYPEMISMATCH, 1},
        {"too many", {CComVariant(LONG{1}), CComVariant(LONG{1}), CComVariant(LONG{1}), CComVariant(LONG{1})},
         0x60020006, DISPATCH_METHOD, DISP_E_BADPARAMCOUNT, 12345},
        {"required missing", {}, 0x60020006, DISPATCH_METHOD, DISP_E_BADPARAMCOUNT, 12345},
        {"no such id", {}, 0x7000, DISPATCH_METHOD, DISP_E_MEMBERNOTFOUND, 12345},
        {"method called as a write", {CComVariant(LONG{1})}, 0x60020006, DISPATCH_PROPERTYPUT,
         DISP_E_MEMBERNOTFOUND, 12345},
        {"overflowing enumeration", {CComVariant(1e20)}, 0x60030004, DISPATCH_PROPERTYPUT, DISP_E_OVERFLOW, 0},
        {"Number has no write", {CComVariant(LONG{1})}, 0x6003000F, DISPATCH_PROPERTYPUT, DISP_E_MEMBERNOTFOUND,
         12345},
    };
    CComPtr<IDispatch> grid = Make<TestGrid>();
    CComPtr<IDispatch> var = Make<TestVariable>();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        Call c{row.args};
        EXPECT_EQ(c.Invoke(row.id >= 0x60030000 ? var.p : grid.p, row.id, row.flags), row.expected);
        EXPECT_EQ(c.arg_err, row.arg_err);
    }
}

TEST(DispatchArguments, OutAndByReferenceParameters) {
    CComPtr<IDispatch> grid = Make<TestGrid>();
    CComVariant positions;
    Call out{{CComVariant(LONG{3}), ByRef(VT_VARIANT, &positions)}};
    ASSERT_EQ(out.Invoke(grid, IdOf(grid, u"GetIndexPositions"), DISPATCH_METHOD), S_OK);
    ASSERT_EQ(positions.vt, VT_BSTR);
    EXPECT_EQ(std::u16string(positions.bstrVal), u"positions");
    Call by_value{{CComVariant(LONG{3}), CComVariant(LONG{0})}};  // an out parameter needs somewhere to write
    EXPECT_EQ(by_value.Invoke(grid, IdOf(grid, u"GetIndexPositions"), DISPATCH_METHOD), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(by_value.arg_err, 0u);

    CComPtr<IDispatch> styles = Make<TestStyles>();
    LONG index = 2, type = -1;
    Call pointers{{ByRef(VT_I4, &index), ByRef(VT_I4, &type)}};
    ASSERT_EQ(pointers.Invoke(styles, DISPID_VALUE, DISPATCH_METHOD), S_OK);
    EXPECT_EQ(type, ECT_CHECKBOX);
    EXPECT_EQ(pointers.result.lVal, 20);
    CComVariant lent;  // the enumeration arrives in a variant the caller lent by reference
    Call plain{{CComVariant(SHORT{1}), ByRef(VT_VARIANT, &lent)}};  // a plain value for an [in] pointer
    ASSERT_EQ(plain.Invoke(styles, DISPID_VALUE, DISPATCH_METHOD), S_OK);
    EXPECT_EQ(lent.vt, VT_I4);
    EXPECT_EQ(lent.lVal, ECT_TEXT);
    EXPECT_EQ(plain.result.lVal, 10);

    CComPtr<IDispatch> sens = Make<TestSensitivity>();
    CComVariant flag(true);
    Call in_out{{ByRef(VT_VARIANT, &flag)}};
    ASSERT_EQ(in_out.Invoke(sens, IdOf(sens, u"Calculate"), DISPATCH_METHOD), S_OK);
    ASSERT_EQ(flag.vt, VT_BSTR);
    EXPECT_EQ(std::u16string(flag.bstrVal), u"checked");
    EXPECT_EQ(in_out.result.lVal, 7);
}

TEST(DispatchFailures, FailingCallBecomesAnExceptionWithTheErrorText) {
    CComPtr<IDispatch> d = Make<TestVariable>();
    Call c{{CComVariant(OLESTR("furlong"))}, kPut};
    ASSERT_EQ(c.Invoke(d, IdOf(d, u"UOM"), DISPATCH_PROPERTYPUT), DISP_E_EXCEPTION);
    EXPECT_EQ(c.excep.scode, E_INVALIDARG);
    ASSERT_NE(c.excep.bstrDescription, nullptr);
    EXPECT_EQ(std::u16string(c.excep.bstrDescription), u"Unit not known");
    ASSERT_NE(c.excep.bstrSource, nullptr);
    EXPECT_EQ(std::u16string(c.excep.bstrSource), u"NUVVariable");
    IErrorInfo* left = nullptr;
    EXPECT_EQ(GetErrorInfo(0, &left), S_FALSE);  // handed over to the caller

    Call no_text;  // a failure without error information still carries its code
    ASSERT_EQ(no_text.Invoke(d, IdOf(d, u"UOM"), DISPATCH_PROPERTYGET), DISP_E_EXCEPTION);
    EXPECT_EQ(no_text.excep.scode, E_FAIL);
    EXPECT_EQ(no_text.excep.bstrDescription, nullptr);

    // Without an EXCEPINFO the member's own code comes back.
    VARIANT arg{};
    arg.vt = VT_BSTR;
    arg.bstrVal = SysAllocString(OLESTR("furlong"));
    DISPID put = DISPID_PROPERTYPUT;
    DISPPARAMS dp{&arg, &put, 1, 1};
    EXPECT_EQ(d->Invoke(0x6003000C, IID_NULL, 0, DISPATCH_PROPERTYPUT, &dp, nullptr, nullptr, nullptr), E_INVALIDARG);
    VariantClear(&arg);
    if (GetErrorInfo(0, &left) == S_OK) left->Release();

    // A member that throws fails the call; error text left by an earlier call is not reported as its own.
    struct Row {
        const char16_t* name;
        HRESULT scode;
    };
    for (const Row& row : {Row{u"Scale", E_UNEXPECTED}, Row{u"Step", E_OUTOFMEMORY}}) {
        AtlReportError("NUVVariable", "stale", IID_INUVVariable, E_FAIL);
        Call thrown;
        ASSERT_EQ(thrown.Invoke(d, IdOf(d, row.name), DISPATCH_PROPERTYGET), DISP_E_EXCEPTION);
        EXPECT_EQ(thrown.excep.scode, row.scode);
        EXPECT_EQ(thrown.excep.bstrDescription, nullptr);
    }
}

// A member that fills its result and then fails: the call frees what it was given and hands back nothing.
TEST(DispatchFailures, ResultOfAFailedCallIsReleased) {
    TestVariable* impl = nullptr;
    CComPtr<IDispatch> d = Make<TestVariable>(&impl);
    for (const char16_t* name : {u"Parent", u"UOMList"}) {
        const LONG before = impl->m_dwRef;
        Call c;
        ASSERT_EQ(c.Invoke(d, IdOf(d, name), DISPATCH_PROPERTYGET), DISP_E_EXCEPTION);
        EXPECT_EQ(c.result.vt, VT_EMPTY);
        EXPECT_EQ(impl->m_dwRef, before);  // the parent reference was released; the text leak shows under ASan
    }
}

// An object without a parent, which it reads as a null object.
class Orphan : public CComObjectRootEx<CComMultiThreadModel>, public NUVObjectStubs<INUVObject> {
public:
    using ComMap = CComMap<ComEntry<INUVObject>, ComEntry2<IDispatch, INUVObject>>;
    STDMETHOD(get_Parent)(INUVObject** out) override { return *out = nullptr, S_OK; }
};

// Arguments given to a property read without parameters go to the default member of the object read; a
// null object has none and the call fails as for a value that is no object (wine's oleaut32 crashes
// here, so this case is checked on Linux only).
TEST(DispatchArguments, ArgumentsForTheDefaultMemberOfANullObjectAreRefused) {
    CComPtr<IDispatch> d = Make<Orphan>();
    for (WORD flags : {WORD{DISPATCH_PROPERTYGET}, WORD{DISPATCH_METHOD | DISPATCH_PROPERTYGET}}) {
        Call c{{CComVariant(LONG{1})}};
        EXPECT_EQ(c.Invoke(d, IdOf(d, u"Parent"), flags), DISP_E_NOTACOLLECTION);
        EXPECT_EQ(c.result.vt, VT_EMPTY);
        EXPECT_EQ(c.arg_err, 12345u);
    }
}

}  // namespace

namespace {

class ComboItem : public CComObjectRootEx<CComMultiThreadModel>, public IDispatchImpl<INUVGridComboBoxItem> {
public:
    using ComMap = CComMap<ComEntryChain<INUVGridComboBoxItem>>;
    STDMETHOD(get_Value)(VARIANT* v) override {
        v->vt = VT_I4;
        v->lVal = 17;
        return S_OK;
    }
    STDMETHOD(get_DisplayName)(BSTR* out) override { return (*out = SysAllocString(OLESTR("Seventeen"))) ? S_OK : E_OUTOFMEMORY; }
    STDMETHOD(get_QueryName)(BSTR* out) override { return get_DisplayName(out); }
};

// Threads that reach an interface's type information for the first time together all get it.
TEST(DispatchThreads, ConcurrentFirstUseAndCalls) {
    CComPtr<IDispatch> d = Make<ComboItem>();
    std::atomic<bool> go{false};
    std::atomic<int> good{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&] {
            while (!go) std::this_thread::yield();
            for (int i = 0; i < 200; ++i) {
                LPOLESTR name[] = {const_cast<LPOLESTR>(u"displayname")};
                DISPID id = 0;
                if (d->GetIDsOfNames(IID_NULL, name, 1, 0, &id) != S_OK) continue;
                DISPPARAMS none{nullptr, nullptr, 0, 0};
                CComVariant result;
                if (d->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr) == S_OK &&
                    result.vt == VT_BSTR && std::u16string(result.bstrVal) == u"Seventeen")
                    ++good;
            }
        });
    }
    go = true;
    for (auto& t : threads) t.join();
    EXPECT_EQ(good, 8 * 200);
}

}  // namespace
