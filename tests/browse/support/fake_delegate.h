// A stand-in for another document's COM face and the service provider that hands it out.
#pragma once
#include <browseface.h>
#include <oleauto.h>
#include <servprov.h>

#include <atomic>
#include <string>
#include <vector>

#include "nuv_text.h"

namespace fitest {

template <class Interface>
class Counted : public Interface {
public:
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override {
        ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }
    ULONG Refs() const { return refs_; }

protected:
    virtual ~Counted() = default;
    std::atomic<ULONG> refs_{1};
};

inline std::vector<std::string> TextsOf(SAFEARRAY* a) {
    std::vector<std::string> out;
    LONG lower = 0;
    LONG upper = -1;
    SafeArrayGetLBound(a, 1, &lower);
    SafeArrayGetUBound(a, 1, &upper);
    for (LONG i = lower; i <= upper; ++i) {
        VARIANT v;
        VariantInit(&v);
        SafeArrayGetElement(a, &i, &v);
        out.push_back(v.vt == VT_BSTR ? nuv::bstr_to_utf8(v.bstrVal) : "?");
        VariantClear(&v);
    }
    return out;
}

// Records what reached it; reads answer "<attribute>@<base>/<relative path>" for every tuple.
class FakeDelegateDocument : public Counted<IPDXDocumentV22> {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        if (out == nullptr) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IPDXDocumentV22) {
            AddRef();
            *out = static_cast<IPDXDocumentV22*>(this);
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    HRESULT STDMETHODCALLTYPE GetVersion(LONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetRevision(LONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetProcessId(LONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetFileName(BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetAppName(BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetAppVersion(BSTR*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetDocumentFlag(VARIANT_BOOL*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetNamedFlag(BSTR, VARIANT_BOOL*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetAttributes(BSTR base, SAFEARRAY* paths, SAFEARRAY* attributes, SAFEARRAY* tuples,
                                            SAFEARRAY** values) override {
        return GetAttributesEx(nullptr, nullptr, base, paths, attributes, tuples, values);
    }
    HRESULT STDMETHODCALLTYPE SetAttributes(BSTR base, SAFEARRAY* paths, SAFEARRAY* attributes,
                                            SAFEARRAY* tuples) override {
        return SetAttributesEx(nullptr, nullptr, base, paths, attributes, tuples);
    }
    HRESULT STDMETHODCALLTYPE GetMonikers(SAFEARRAY* paths, SAFEARRAY** monikers) override {
        log.push_back("monikers " + TextsOf(paths).at(0));
        if (monikerAnswer.empty()) return E_FAIL;
        if (monikersAsText) {
            *monikers = SafeArrayCreateVector(VT_BSTR, 0, 1);
            LONG first = 0;
            BSTR text = nuv::bstr_from_utf8(monikerAnswer);
            SafeArrayPutElement(*monikers, &first, text);
            SysFreeString(text);
            return S_OK;
        }
        *monikers = SafeArrayCreateVector(VT_VARIANT, 0, 1);
        VARIANT v;
        VariantInit(&v);
        v.vt = VT_BSTR;
        v.bstrVal = nuv::bstr_from_utf8(monikerAnswer);
        LONG i = 0;
        SafeArrayPutElement(*monikers, &i, &v);
        VariantClear(&v);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ExecuteAction(BSTR path, BSTR action, SAFEARRAY*, SHORT* status) override {
        log.push_back("execute " + nuv::bstr_to_utf8(path) + " " + nuv::bstr_to_utf8(action));
        if (status != nullptr) *status = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetNotifyFilter(SAFEARRAY*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetHistory(SAFEARRAY*, BSTR, DOUBLE, DOUBLE, LONG, VARIANT*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetHistoryEx(SAFEARRAY*, BSTR, DOUBLE, DOUBLE, LONG, VARIANT*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetAttributesEx(BSTR from, BSTR to, BSTR base, SAFEARRAY* paths, SAFEARRAY* attributes,
                                              SAFEARRAY* tuples, SAFEARRAY** values) override {
        std::vector<std::string> relative = TextsOf(paths);
        std::vector<std::string> names = TextsOf(attributes);
        std::string b = nuv::bstr_to_utf8(base);
        log.push_back("get " + Describe(from, to, b, relative, names));
        LONG count = TupleCount(tuples);
        *values = SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(count));
        for (LONG k = 0; k < count; ++k) {
            LONG p = Cell(tuples, 0, k);
            LONG a = Cell(tuples, 1, k);
            VARIANT v;
            VariantInit(&v);
            v.vt = VT_BSTR;
            v.bstrVal = nuv::bstr_from_utf8(names.at(static_cast<size_t>(a)) + "@" + b + "/" +
                                            relative.at(static_cast<size_t>(p)));
            SafeArrayPutElement(*values, &k, &v);
            VariantClear(&v);
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetAttributesEx(BSTR from, BSTR to, BSTR base, SAFEARRAY* paths, SAFEARRAY* attributes,
                                              SAFEARRAY* tuples) override {
        log.push_back("set " + Describe(from, to, nuv::bstr_to_utf8(base), TextsOf(paths), TextsOf(attributes)) +
                      " n=" + std::to_string(TupleCount(tuples)));
        return setResult;
    }

    std::vector<std::string> log;
    std::string monikerAnswer;
    bool monikersAsText = false;  // answer monikers as a vector of BSTRs
    HRESULT setResult = S_OK;

private:
    static LONG TupleCount(SAFEARRAY* tuples) {
        LONG upper = -1;
        SafeArrayGetUBound(tuples, 2, &upper);
        return upper + 1;
    }
    static LONG Cell(SAFEARRAY* tuples, LONG row, LONG k) {
        LONG index[2] = {row, k};
        VARIANT v;
        VariantInit(&v);
        SafeArrayGetElement(tuples, index, &v);
        LONG value = v.lVal;
        VariantClear(&v);
        return value;
    }
    static std::string Describe(BSTR from, BSTR to, const std::string& base, const std::vector<std::string>& paths,
                                const std::vector<std::string>& names) {
        std::string s = "[" + nuv::bstr_to_utf8(from) + "|" + nuv::bstr_to_utf8(to) + "] " + base + " :";
        for (const auto& p : paths) s += " '" + p + "'";
        s += " :";
        for (const auto& n : names) s += " " + n;
        return s;
    }
};

class FakeProvider : public Counted<IServiceProvider> {
public:
    explicit FakeProvider(FakeDelegateDocument* document) : document_(document) {
        if (document_ != nullptr) document_->AddRef();
    }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        if (out == nullptr) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IServiceProvider) {
            AddRef();
            *out = static_cast<IServiceProvider*>(this);
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    HRESULT STDMETHODCALLTYPE QueryService(REFGUID service, REFIID riid, void** out) override {
        if (out == nullptr) return E_POINTER;
        *out = nullptr;
        if (document_ == nullptr || service != IID_IPDXDocumentV22) return E_NOINTERFACE;
        return document_->QueryInterface(riid, out);
    }

private:
    ~FakeProvider() override {
        if (document_ != nullptr) document_->Release();
    }
    FakeDelegateDocument* document_;
};

}  // namespace fitest
