// Test support: a zoo of malformed arguments, as a careless or hostile automation client passes them:
// null and by-reference-to-null VARIANTs, by-reference chains, wrong types, NaN and infinities, huge and
// negative integers; arrays of no, many, empty, huge, null-data, locked and lying shape; null, empty,
// NUL-holding, odd-length, lone-surrogate and megabyte texts; null and misbehaving objects.
//
// A Malformed holds one argument for one call: it builds the value, keeps whatever by-reference storage
// the value points into, and at its end undoes what it did to arrays (a lock, a lying descriptor) and frees
// everything, including what a callee wrote back through a reference. Kinds are numbered per family so a
// sweep can name every call it makes.
#pragma once
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "atl/nuvatlbase.h"

namespace nuvtest {

// A VT_BYREF VARIANT of `vt` whose pointer is null.
inline CComVariant NullReference(VARTYPE vt) {
    CComVariant v;
    v.vt = static_cast<VARTYPE>(VT_BYREF | vt);
    v.byref = nullptr;
    return v;
}

// A BSTR holding `before`, a NUL and `after`.
inline CComBSTR WithNul(const char* before, const char* after) {
    nuv::OleString text = nuv::to_utf16(before);
    text.push_back(0);
    text += nuv::to_utf16(after);
    CComBSTR out;
    out.Attach(SysAllocStringLen(text.data(), static_cast<UINT>(text.size())));
    return out;
}

// An array of zeroed elements of `size` bytes whose descriptor claims otherwise: the element features in
// `features`, or those of the type in `OfType` (a vector of four, its type recorded), lent in VARIANTs. A
// member handed one must refuse it rather than read or clear its elements as what they claim to be.
class LyingArray {
public:
    struct OfType {
        VARTYPE vt;
    };
    LyingArray(ULONG size, USHORT features, ULONG count = 4, UINT dims = 1) {
        if (FAILED(SafeArrayAllocDescriptor(dims, &array_))) return;
        for (UINT d = 0; d < dims; ++d) array_->rgsabound[d] = {count, 0};
        Fill(size);
        if (array_) array_->fFeatures = static_cast<USHORT>(array_->fFeatures | features);
    }
    LyingArray(ULONG size, OfType type) {
        if (FAILED(SafeArrayAllocDescriptorEx(type.vt, 1, &array_))) return;
        array_->rgsabound[0] = {4, 0};
        Fill(size);
    }
    ~LyingArray() {
        if (!array_) return;
        // Destroyed as plain bytes: the platform would clear its elements as what the features claim.
        array_->fFeatures = static_cast<USHORT>(array_->fFeatures & ~(FADF_VARIANT | FADF_BSTR | FADF_UNKNOWN |
                                                                       FADF_DISPATCH | FADF_HAVEIID));
        SafeArrayDestroy(array_);
    }
    LyingArray(const LyingArray&) = delete;
    LyingArray& operator=(const LyingArray&) = delete;
    // The array lent in a VARIANT (no copy, no ownership).
    VARIANT Lent() const {
        VARIANT v;
        VariantInit(&v);
        v.vt = VT_ARRAY | VT_VARIANT;
        v.parray = array_;
        return v;
    }
    explicit operator bool() const { return array_ != nullptr; }

private:
    void Fill(ULONG size) {
        array_->cbElements = size;
        if (FAILED(SafeArrayAllocData(array_))) {
            SafeArrayDestroyDescriptor(array_);
            array_ = nullptr;
        }
    }
    SAFEARRAY* array_ = nullptr;
};

// How an object misbehaves when it is handed to a member.
enum class Misbehaviour {
    RefusesEverything,    // QueryInterface answers E_NOINTERFACE for all but IUnknown and IDispatch
    AnswersNullPointer,   // QueryInterface claims S_OK but hands out null
    FailsEveryCall,       // type information and Invoke fail with E_FAIL
};

// An IDispatch that misbehaves and counts its references, so a refused call that kept one shows.
class HostileObject final : public IDispatch {
public:
    explicit HostileObject(Misbehaviour how) : how_(how) {}
    STDMETHOD(QueryInterface)(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (how_ == Misbehaviour::AnswersNullPointer && riid != IID_IUnknown) return S_OK;
        if (riid != IID_IUnknown && riid != IID_IDispatch) return E_NOINTERFACE;
        *ppv = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHOD_(ULONG, AddRef)() override { return ++refs_; }
    STDMETHOD_(ULONG, Release)() override { return --refs_; }  // owned by its Malformed, never freed here
    STDMETHOD(GetTypeInfoCount)(UINT* count) override {
        if (count) *count = 0;
        return how_ == Misbehaviour::FailsEveryCall ? E_FAIL : S_OK;
    }
    STDMETHOD(GetTypeInfo)(UINT, LCID, ITypeInfo** out) override {
        if (out) *out = nullptr;
        return E_FAIL;
    }
    STDMETHOD(GetIDsOfNames)(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return DISP_E_UNKNOWNNAME; }
    STDMETHOD(Invoke)(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT* result, EXCEPINFO*, UINT*) override {
        if (result) VariantInit(result);
        return how_ == Misbehaviour::FailsEveryCall ? E_FAIL : DISP_E_MEMBERNOTFOUND;
    }
    ULONG refs() const { return refs_; }

private:
    Misbehaviour how_;
    ULONG refs_ = 1;
};

// Which slot of a member a kind fits when it is passed without the dispatch layer's coercion.
enum class ZooFamily { Variant, Text, Integer, Real, Flag, Object, Array };

struct ZooKind {
    ZooFamily family;
    int index;
    const char* name;
};

class Malformed {
public:
    // Every kind of every family, in a fixed order.
    static const std::vector<ZooKind>& Kinds() {
        static const std::vector<ZooKind> kinds = [] {
            std::vector<ZooKind> all;
            auto add = [&](ZooFamily f, const char* const* names, int n) {
                for (int i = 0; i < n; ++i) all.push_back({f, i, names[i]});
            };
            add(ZooFamily::Variant, kVariantNames, kVariantCount);
            add(ZooFamily::Text, kTextNames, kTextCount);
            add(ZooFamily::Integer, kIntegerNames, kIntegerCount);
            add(ZooFamily::Real, kRealNames, kRealCount);
            add(ZooFamily::Flag, kFlagNames, kFlagCount);
            add(ZooFamily::Object, kObjectNames, kObjectCount);
            add(ZooFamily::Array, kArrayNames, kArrayCount);
            return all;
        }();
        return kinds;
    }

    // Kind `kind` as a VARIANT, the form a late-bound call carries every argument in.
    explicit Malformed(const ZooKind& kind) : kind_(kind) {
        VariantInit(&value_);
        VariantInit(&inner_);
        VariantInit(&inner2_);
        switch (kind.family) {
            case ZooFamily::Variant: MakeVariant(kind.index); break;
            case ZooFamily::Text: value_.vt = VT_BSTR; value_.bstrVal = MakeText(kind.index); break;
            case ZooFamily::Integer: value_.vt = VT_I4; value_.lVal = kIntegers[kind.index]; break;
            case ZooFamily::Real: value_.vt = VT_R8; value_.dblVal = Real(kind.index); break;
            case ZooFamily::Flag: value_.vt = VT_BOOL; value_.boolVal = kFlags[kind.index]; break;
            case ZooFamily::Object: MakeObject(kind.index); break;
            case ZooFamily::Array: MakeArray(kind.index); break;
        }
    }
    ~Malformed() {
        // A lie or a lock is taken back first: the array is then an ordinary one to free. A callee that took
        // the argument by reference may have freed or replaced the array already.
        const bool still_held = (value_.vt & VT_ARRAY) && !(value_.vt & VT_BYREF);
        SAFEARRAY* held = still_held ? value_.parray : nullptr;
        if (lied_ != held) lied_ = nullptr;
        if (locked_ != held) locked_ = nullptr;
        if (lied_) {
            lied_->fFeatures = true_features_;
            lied_->cbElements = true_size_;
        }
        if (locked_) SafeArrayUnlock(locked_);
        VariantClear(&value_);
        VariantClear(&inner_);
        VariantClear(&inner2_);
        SysFreeString(text_slot_);
        if (array_slot_) SafeArrayDestroy(array_slot_);
        if (object_slot_) object_slot_->Release();
    }
    Malformed(const Malformed&) = delete;
    Malformed& operator=(const Malformed&) = delete;

    VARIANT* get() { return &value_; }
    const ZooKind& kind() const { return kind_; }
    // The hostile object this argument hands out, if any: a refused call must leave its count as it was.
    const HostileObject* hostile() const { return hostile_.get(); }

private:
    static constexpr int kVariantCount = 14;
    static constexpr const char* kVariantNames[kVariantCount] = {
        "empty", "null", "missing", "byref-i4-null", "byref-r8-null", "byref-bstr-null", "byref-bool-null",
        "byref-variant-null", "byref-chain", "byref-chain-to-null", "byref-array-null", "unknown-vartype",
        "error-code", "decimal"};
    static constexpr int kTextCount = 7;
    static constexpr const char* kTextNames[kTextCount] = {"null-bstr", "empty-bstr", "nul-inside", "odd-length",
                                                           "lone-surrogate", "megabyte", "all-nuls"};
    static constexpr int kIntegerCount = 5;
    static constexpr LONG kIntegers[kIntegerCount] = {0, -1, std::numeric_limits<LONG>::min(),
                                                      std::numeric_limits<LONG>::max(), 1 << 30};
    static constexpr const char* kIntegerNames[kIntegerCount] = {"zero", "minus-one", "most-negative", "most-positive",
                                                                 "huge"};
    static constexpr int kRealCount = 5;
    static constexpr const char* kRealNames[kRealCount] = {"nan", "infinity", "minus-infinity", "denormal",
                                                           "largest"};
    static double Real(int i) {
        switch (i) {
            case 0: return std::numeric_limits<double>::quiet_NaN();
            case 1: return std::numeric_limits<double>::infinity();
            case 2: return -std::numeric_limits<double>::infinity();
            case 3: return std::numeric_limits<double>::denorm_min();
            default: return std::numeric_limits<double>::max();
        }
    }
    static constexpr int kFlagCount = 2;
    static constexpr VARIANT_BOOL kFlags[kFlagCount] = {2, 0x7fff};
    static constexpr const char* kFlagNames[kFlagCount] = {"flag-two", "flag-odd"};
    static constexpr int kObjectCount = 5;
    static constexpr const char* kObjectNames[kObjectCount] = {"null-dispatch", "null-unknown", "refuses-everything",
                                                               "answers-null", "fails-every-call"};
    static constexpr int kArrayCount = 12;
    static constexpr const char* kArrayNames[kArrayCount] = {
        "null-array",   "empty-vector",   "many-dimensions", "huge-bounds",        "null-data",
        "locked",       "lying-variant",  "lying-bstr",      "i4-elements",        "two-dimensions",
        "variant-bad",  "byref-array-of-null"};

    static BSTR MakeText(int i) {
        switch (i) {
            case 0: return nullptr;
            case 1: return SysAllocStringLen(nullptr, 0);
            case 2: {
                static const OLECHAR text[] = {u'F', u'E', u'E', u'D', 0, u'.', u'x'};
                return SysAllocStringLen(text, 7);
            }
            case 3: return SysAllocStringByteLen("FEED.", 5);  // half a character at the end
            case 4: {
                static const OLECHAR text[] = {u'F', 0xD800, u'E'};
                return SysAllocStringLen(text, 3);
            }
            case 5: {
                std::basic_string<OLECHAR> big(1 << 20, OLECHAR{u'A'});
                return SysAllocStringLen(big.data(), static_cast<UINT>(big.size()));
            }
            default: {
                static const OLECHAR text[4] = {};
                return SysAllocStringLen(text, 4);
            }
        }
    }

    void MakeVariant(int i) {
        switch (i) {
            case 0: break;
            case 1: value_.vt = VT_NULL; break;
            case 2: value_.vt = VT_ERROR; value_.scode = DISP_E_PARAMNOTFOUND; break;
            case 3: value_.vt = VT_BYREF | VT_I4; value_.plVal = nullptr; break;
            case 4: value_.vt = VT_BYREF | VT_R8; value_.pdblVal = nullptr; break;
            case 5: value_.vt = VT_BYREF | VT_BSTR; value_.pbstrVal = nullptr; break;
            case 6: value_.vt = VT_BYREF | VT_BOOL; value_.pboolVal = nullptr; break;
            case 7: value_.vt = VT_BYREF | VT_VARIANT; value_.pvarVal = nullptr; break;
            case 8:  // a reference to a reference to a number
                inner2_.vt = VT_I4;
                inner2_.lVal = 1;
                inner_.vt = VT_BYREF | VT_VARIANT;
                inner_.pvarVal = &inner2_;
                value_.vt = VT_BYREF | VT_VARIANT;
                value_.pvarVal = &inner_;
                break;
            case 9:
                inner_.vt = VT_BYREF | VT_R8;
                inner_.pdblVal = nullptr;
                value_.vt = VT_BYREF | VT_VARIANT;
                value_.pvarVal = &inner_;
                break;
            case 10: value_.vt = VT_BYREF | VT_ARRAY | VT_VARIANT; value_.pparray = nullptr; break;
            case 11: value_.vt = 0x0fff; value_.llVal = 0x1234; break;
            case 12: value_.vt = VT_ERROR; value_.scode = E_FAIL; break;
            default:
                value_.decVal.sign = 0x80;
                value_.decVal.scale = 200;  // beyond any valid scale
                value_.vt = VT_DECIMAL;
                break;
        }
    }

    void MakeObject(int i) {
        if (i < 2) {
            value_.vt = i == 0 ? VT_DISPATCH : VT_UNKNOWN;
            value_.pdispVal = nullptr;
            return;
        }
        hostile_ = std::make_unique<HostileObject>(static_cast<Misbehaviour>(i - 2));
        value_.vt = VT_DISPATCH;
        value_.pdispVal = hostile_.get();
        hostile_->AddRef();  // the VARIANT's reference
    }

    static SAFEARRAY* Vector(VARTYPE vt, ULONG n) { return SafeArrayCreateVector(vt, 0, n); }
    static SAFEARRAY* TextVector(ULONG n) {
        SAFEARRAY* a = Vector(VT_BSTR, n);
        for (LONG i = 0; a && i < static_cast<LONG>(n); ++i) {
            BSTR t = SysAllocString(OLESTR("F"));
            SafeArrayPutElement(a, &i, t);
            SysFreeString(t);
        }
        return a;
    }
    void Hold(SAFEARRAY* a, VARTYPE vt) {
        value_.vt = static_cast<VARTYPE>(VT_ARRAY | vt);
        value_.parray = a;
    }
    void Lie(SAFEARRAY* a, USHORT features, ULONG size) {
        lied_ = a;
        true_features_ = a->fFeatures;
        true_size_ = a->cbElements;
        a->fFeatures = features;
        a->cbElements = size;
    }

    void MakeArray(int i) {
        switch (i) {
            case 0: value_.vt = VT_ARRAY | VT_VARIANT; value_.parray = nullptr; break;
            case 1: Hold(Vector(VT_VARIANT, 0), VT_VARIANT); break;
            case 2: {
                SAFEARRAYBOUND bounds[40];
                for (SAFEARRAYBOUND& b : bounds) b = {1, 0};
                Hold(SafeArrayCreate(VT_BSTR, 40, bounds), VT_BSTR);
                break;
            }
            case 3: {  // bounds at the very end of the index range
                SAFEARRAY* a = SafeArrayCreateVector(VT_BSTR, std::numeric_limits<LONG>::max(), 1);
                Hold(a, VT_BSTR);
                break;
            }
            case 4: {
                // Three elements and no storage for them. The storage is freed, not hidden: a callee that
                // takes the argument by reference and frees it frees all of it.
                SAFEARRAY* a = TextVector(3);
                SafeArrayDestroyData(a);
                Hold(a, VT_BSTR);
                break;
            }
            case 5: {
                SAFEARRAY* a = TextVector(2);
                SafeArrayLock(a);
                locked_ = a;
                Hold(a, VT_BSTR);
                break;
            }
            case 6: {  // 4-byte elements that claim to be VARIANTs
                SAFEARRAY* a = Vector(VT_I4, 4);
                Lie(a, static_cast<USHORT>(FADF_VARIANT | FADF_HAVEVARTYPE), 4);
                Hold(a, VT_VARIANT);
                break;
            }
            case 7: {  // 2-byte elements that claim to be texts
                SAFEARRAY* a = Vector(VT_I2, 4);
                Lie(a, static_cast<USHORT>(FADF_BSTR | FADF_HAVEVARTYPE), 2);
                Hold(a, VT_BSTR);
                break;
            }
            case 8: {
                SAFEARRAY* a = Vector(VT_I4, 3);
                Hold(a, VT_I4);
                break;
            }
            case 9: {
                SAFEARRAYBOUND bounds[2] = {{3, 0}, {2, 0}};
                Hold(SafeArrayCreate(VT_VARIANT, 2, bounds), VT_VARIANT);
                break;
            }
            case 10: {  // VARIANT elements that themselves are malformed
                SAFEARRAY* a = Vector(VT_VARIANT, 3);
                VARIANT* data = nullptr;
                SafeArrayAccessData(a, reinterpret_cast<void**>(&data));
                data[0].vt = VT_BYREF | VT_BSTR;
                data[0].pbstrVal = nullptr;
                data[1].vt = VT_BYREF | VT_VARIANT;
                data[1].pvarVal = nullptr;
                data[2].vt = VT_ARRAY | VT_VARIANT;
                data[2].parray = nullptr;
                SafeArrayUnaccessData(a);
                Hold(a, VT_VARIANT);
                break;
            }
            default:
                value_.vt = VT_BYREF | VT_ARRAY | VT_BSTR;
                value_.pparray = &array_slot_;  // a reference to no array
                break;
        }
    }

    ZooKind kind_;
    VARIANT value_;
    VARIANT inner_;
    VARIANT inner2_;
    BSTR text_slot_ = nullptr;
    SAFEARRAY* array_slot_ = nullptr;
    IUnknown* object_slot_ = nullptr;
    std::unique_ptr<HostileObject> hostile_;
    SAFEARRAY* lied_ = nullptr;
    USHORT true_features_ = 0;
    ULONG true_size_ = 0;
    SAFEARRAY* locked_ = nullptr;
};

}  // namespace nuvtest
