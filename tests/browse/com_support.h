// Helpers for tests of the browsing COM faces: a tree with every value kind, and owners of the
// task-allocated texts the objects hand out.
#pragma once
#include <browseface.h>
#include <objbase.h>
#include <oleauto.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "atl/nuvatlbase.h"
#include "browse/document.h"
#include "nuv_text.h"
#include "support/memory_document.h"

namespace comtest {

// Top
//   A: x = 2.5, n = 7, t = "12abc", big = 1234567.0, ro = 1 (refuses writes), e (no value)
//   B: one child "b1"
//   C: no children
inline fitest::MemoryHandle MakeTree() {
    fitest::MemoryHandle top = fitest::MemoryEntry::Make("Top", "Top");
    fitest::MemoryEntry* a = top->Add("A");
    a->AddLeaf("x", FIValue(2.5));
    a->AddLeaf("n", FIValue(7), "Integer");
    a->AddLeaf("t", FIValue("12abc"), "Text");
    a->AddLeaf("big", FIValue(1234567.0));
    a->AddLeaf("ro", FIValue(1), "Integer")->SetReadOnly(true);
    a->AddLeaf("e", FIValue());
    top->Add("B")->Add("b1");
    top->Add("C");
    return top;
}

// Frees a text handed out with CoTaskMemAlloc.
struct TaskFree {
    void operator()(char* p) const { CoTaskMemFree(p); }
};
using TaskText = std::unique_ptr<char, TaskFree>;

inline std::string Text(const TaskText& t) { return t ? std::string(t.get()) : std::string("<null>"); }

// Receives a task text: TakeText(&out) after a call that filled out.
inline TaskText TakeText(char* p) { return TaskText(p); }

}  // namespace comtest

namespace comtest {

// A document over the in-memory tree whose identity texts, flags and history are set by the test.
class TestDocument : public FI::FIDocumentBase_ {
public:
    static TestDocument* Create(fitest::MemoryHandle root) {
        auto* d = new TestDocument(std::move(root));
        d->AddRef();
        return d;
    }
    ULONG AddRef() override { return ++refs_; }
    ULONG Release() override {
        ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }
    ULONG Refs() const { return refs_; }
    FIValue GetFileName() override { return FIValue(fileName); }
    FIValue GetAppName() override { return FIValue(appName); }
    FIValue GetAppVersion() override { return FIValue(appVersion); }
    bool GetDocumentFlag() override { return documentFlag; }
    bool GetNamedFlag(const char* name) override { return name != nullptr && namedFlag == name; }
    FI::EntryHandle GetRoot() override { return root_; }
    void OnFirstSubscriber() override { ++firstSubscriber; }
    void OnLastSubscriber() override { ++lastSubscriber; }
    HRESULT GetHistoryEx(const std::vector<std::string>& paths, const std::vector<std::string>& units,
                         const char* text, double, double, LONG, VARIANT*) override {
        historyPaths = paths;
        historyUnits = units;
        historyText = text == nullptr ? "<null>" : text;
        return S_OK;
    }

    std::string fileName = "plant.doc";
    std::string appName = "tests";
    std::string appVersion = "";
    bool documentFlag = true;
    std::string namedFlag = "dirty";
    int firstSubscriber = 0;
    int lastSubscriber = 0;
    std::vector<std::string> historyPaths;
    std::vector<std::string> historyUnits;
    std::string historyText;
    fitest::MemoryHandle root_;

private:
    explicit TestDocument(fitest::MemoryHandle root) : root_(std::move(root)) {}
    ~TestDocument() override = default;
    std::atomic<ULONG> refs_{0};
};

// An event sink: keeps a copy of every record array it receives, with the thread it came on.
class EventSink : public IDispatch {
public:
    struct Event {
        DISPID id;
        LCID locale;
        WORD flags;
        UINT argumentCount;
        VARTYPE vt;
        std::vector<std::vector<std::string>> columns;  // each record's 8 cells as text ("<vt>:<text>")
        std::thread::id thread;
    };

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
        if (out == nullptr) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IDispatch || (riid == DIID__IPDXDocumentEventsV22 && !refuse)) {
            AddRef();
            *out = static_cast<IDispatch*>(this);
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override {
        ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID locale, WORD flags, DISPPARAMS* params, VARIANT*,
                                     EXCEPINFO*, UINT*) override {
        Event e{id, locale, flags, params == nullptr ? 0u : params->cArgs, VT_EMPTY, {}, std::this_thread::get_id()};
        if (params != nullptr && params->cArgs == 1) {
            const VARIANT& arg = params->rgvarg[0];
            e.vt = arg.vt;
            if (arg.vt == (VT_ARRAY | VT_VARIANT)) e.columns = Columns(arg.parray);
        }
        {
            std::lock_guard guard(lock_);
            events_.push_back(std::move(e));
        }
        if (onEvent) onEvent();
        return failInvoke ? E_FAIL : S_OK;
    }

    std::vector<Event> Events() {
        std::lock_guard guard(lock_);
        return events_;
    }
    ULONG Refs() const { return refs_; }

    std::function<void()> onEvent;
    bool refuse = false;
    bool failInvoke = false;

private:
    static std::string Cell(const VARIANT& v) {
        std::string text;
        if (v.vt == VT_BSTR) text = nuv::bstr_to_utf8(v.bstrVal);
        if (v.vt == VT_I4) text = std::to_string(v.lVal);
        if (v.vt == VT_R8) text = std::to_string(v.dblVal);
        return std::to_string(v.vt) + ":" + text;
    }
    static std::vector<std::vector<std::string>> Columns(SAFEARRAY* a) {
        std::vector<std::vector<std::string>> out;
        LONG rows = 0;
        LONG columns = -1;
        if (SafeArrayGetDim(a) != 2) return out;
        SafeArrayGetUBound(a, 1, &rows);
        SafeArrayGetUBound(a, 2, &columns);
        for (LONG c = 0; c <= columns; ++c) {
            std::vector<std::string>& column = out.emplace_back();
            for (LONG r = 0; r <= rows; ++r) {
                VARIANT v;
                VariantInit(&v);
                LONG index[2] = {r, c};
                SafeArrayGetElement(a, index, &v);
                column.push_back(Cell(v));
                VariantClear(&v);
            }
        }
        return out;
    }

protected:
    virtual ~EventSink() = default;

private:
    std::atomic<ULONG> refs_{1};
    std::mutex lock_;
    std::vector<Event> events_;
};

}  // namespace comtest
