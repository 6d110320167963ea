#include "parameter.h"

#include <algorithm>
#include <cctype>

#include "block.h"
#include "class_factory.h"
#include "nuv_arguments.h"
#include "rezoraruz.h"
#include "valid_answer.h"

namespace {

std::string Upper(const char* text) {
    std::string s = text ? text : "";
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return s;
}

}  // namespace

// ---- CoNUVParameter ----

HRESULT CoNUVParameter::Create(ZEQEOSimulation* sim, CoNUVBlock* owner, const char* name, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!owner || !name) return E_INVALIDARG;
    CComObject<CoNUVParameter>* object = nullptr;
    HRESULT hr = CComObject<CoNUVParameter>::CreateInstance(&object);
    if (FAILED(hr)) return hr;
    object->AddRef();
    object->m_sim = sim;
    object->m_owner = owner;
    object->m_ownerHold = owner->OuterUnknown();
    object->m_name = name;
    hr = object->QueryInterface(riid, ppv);
    object->Release();
    return hr;
}

CoNUVParameter::~CoNUVParameter() = default;

nuv::SimulationUse CoNUVParameter::Use() const { return m_owner ? m_owner->Use() : nuv::SimulationUse(); }

bool CoNUVParameter::Valid() const { return m_owner && m_owner->IsValid() && m_owner->GetEngineBlock(); }

// The owner's block is read once: the engine may retire it at any moment, and a record loaded from a block
// that has retired since means the parameter has gone (0x80040101), whatever the record holds.
HRESULT CoNUVParameter::Load(int id, ZEQParameterData& record, ZEQEOBlock** block) const {
    ZEQEOBlock* engineBlock = m_owner && m_owner->IsValid() ? m_owner->GetEngineBlock() : nullptr;
    if (!engineBlock) return nuv::kInvalidObject;
    record.mask.Set(id);
    const bool loaded = record.Load(engineBlock, m_name.c_str(), true);
    if (HRESULT hr = nuv::AnswerRead(Valid(), loaded ? S_OK : E_FAIL); FAILED(hr)) return hr;
    if (block) *block = engineBlock;
    return S_OK;
}

STDMETHODIMP CoNUVParameter::get_Parent(INUVObject** out) {
    if (HRESULT hr = ClearOut(out); FAILED(hr)) return hr;
    if (!Valid()) return ReportError(nuv::kInvalidObject);
    HRESULT hr = m_owner->OuterUnknown()->QueryInterface(IID_INUVObject, reinterpret_cast<void**>(out));
    return FAILED(hr) ? ReportError(hr) : hr;
}

STDMETHODIMP CoNUVParameter::get_Simulation(INUVSimulation** out) {
    if (HRESULT hr = ClearOut(out); FAILED(hr)) return hr;
    const nuv::SimulationUse use = Use();
    if (!use || !Valid()) return ReportError(nuv::kInvalidObject);
    HRESULT hr = NUVClassFactory::QuerySimulationWrapper(m_sim, out);
    return FAILED(hr) ? ReportError(hr) : hr;
}

STDMETHODIMP CoNUVParameter::get_Name(BSTR* out) {
    if (HRESULT hr = ClearOut(out); FAILED(hr)) return hr;
    if (!Valid()) return ReportError(nuv::kInvalidObject);
    *out = nuv::bstr_from_utf8(m_name);
    return *out ? S_OK : ReportError(E_OUTOFMEMORY);
}

STDMETHODIMP CoNUVParameter::get_IsValid(VARIANT_BOOL* out) {
    return out ? nuv::AnswerIsValid(Valid(), out) : ReportStandard(E_POINTER);
}

STDMETHODIMP CoNUVParameter::GetService(BSTR, IUnknown** out) {
    if (HRESULT hr = ClearOut(out); FAILED(hr)) return hr;
    return ReportError(Valid() ? nuv::kNoService : nuv::kInvalidObject);
}

HRESULT CoNUVParameter::GetText(int id, BSTR* out) {
    if (HRESULT hr = ClearOut(out); FAILED(hr)) return hr;
    const nuv::SimulationUse use = Use();
    if (!use) return ReportError(nuv::kInvalidObject);
    ZEQParameterData record;
    if (HRESULT hr = Load(id, record); FAILED(hr)) return ReportError(hr);
    const char* text = nullptr;
    if (!record.GetValue(id, text)) return ReportError(E_FAIL);
    *out = nuv::bstr_from_utf8(text ? text : "");
    return *out ? S_OK : ReportError(E_OUTOFMEMORY);
}

HRESULT CoNUVParameter::GetVariant(int id, VARIANT* out) {
    if (!out) return ReportStandard(E_POINTER);
    VariantInit(out);
    const nuv::SimulationUse use = Use();
    if (!use) return ReportError(nuv::kInvalidObject);
    ZEQParameterData record;
    if (HRESULT hr = Load(id, record); FAILED(hr)) return ReportError(hr);
    if (!record.GetValue(id, out)) {
        VariantClear(out);
        return ReportError(E_INVALIDARG);
    }
    return S_OK;
}

HRESULT CoNUVParameter::PutVariant(int id, const VARIANT& value) {
    const nuv::SimulationUse use = Use();
    if (!use) return ReportError(nuv::kInvalidObject);
    ZEQParameterData record;
    ZEQEOBlock* block = nullptr;
    if (HRESULT hr = Load(id, record, &block); FAILED(hr)) return ReportError(hr);
    // The engine reads the value from a copy with its references followed: the caller's VARIANT is never
    // changed, and a reference to nothing never reaches the engine.
    CComVariant copy;
    if (HRESULT hr = nuv::CopyInVariant(value, &copy); FAILED(hr)) return ReportError(hr);
    if (!record.SetValue(id, copy)) return ReportError(E_INVALIDARG);
    const int result = record.Commit(block, m_name.c_str(), true);
    if (!Valid()) return ReportError(nuv::kInvalidObject);
    return result < 0 ? ReportError(static_cast<HRESULT>(result)) : S_OK;
}

STDMETHODIMP CoNUVParameter::get_Value(VARIANT* out) { return GetVariant(PA_VALUE, out); }
STDMETHODIMP CoNUVParameter::put_Value(VARIANT value) { return PutVariant(PA_VALUE, value); }
STDMETHODIMP CoNUVParameter::get_UOM(BSTR* out) { return GetText(PA_UOM, out); }

STDMETHODIMP CoNUVParameter::get_Access(NUVParameterAccess* out) {
    if (!Valid()) return ReportError(nuv::kInvalidObject);
    if (!out) return ReportStandard(E_POINTER);
    *out = static_cast<NUVParameterAccess>(0);
    const nuv::SimulationUse use = Use();
    if (!use) return ReportError(nuv::kInvalidObject);
    ZEQParameterData record;
    if (HRESULT hr = Load(PA_ACCESS, record); FAILED(hr)) return ReportError(hr);
    int access = 0;
    if (!record.GetValue(PA_ACCESS, access)) return ReportError(E_FAIL);
    *out = static_cast<NUVParameterAccess>(access);
    return S_OK;
}

STDMETHODIMP CoNUVParameter::get_Description(BSTR* out) { return GetText(PA_DESCRIPTION, out); }
STDMETHODIMP CoNUVParameter::get_Lower(VARIANT* out) { return GetVariant(PA_LOWER, out); }
STDMETHODIMP CoNUVParameter::put_Lower(VARIANT value) { return PutVariant(PA_LOWER, value); }
STDMETHODIMP CoNUVParameter::get_Upper(VARIANT* out) { return GetVariant(PA_UPPER, out); }
STDMETHODIMP CoNUVParameter::put_Upper(VARIANT value) { return PutVariant(PA_UPPER, value); }
STDMETHODIMP CoNUVParameter::get_PhysicalType(BSTR* out) { return GetText(PA_PHYSICAL_TYPE, out); }
STDMETHODIMP CoNUVParameter::put_UOM(VARIANT value) { return PutVariant(PA_UOM, value); }

STDMETHODIMP CoNUVParameter::InterfaceSupportsErrorInfo(REFIID riid) {
    return (riid == IID_INUVParameter || riid == IID_INUVObject) ? S_OK : S_FALSE;
}

// ---- ParameterCache ----

namespace nuv {

HRESULT ParameterCache::RebuildLocked(CoNUVBlock* owner, std::vector<CComPtr<INUVParameter3>>& dropped) {
    if (m_contents) dropped.swap(m_contents->wrappers);
    m_contents.reset();
    ZEQEOBlock* block = owner ? owner->GetEngineBlock() : nullptr;
    if (!block) return kInvalidObject;
    const int count = block->GetParameterCount();
    if (count <= 0) return S_OK;
    m_contents = std::make_unique<Contents>();
    for (int i = 0; i < count; ++i) {
        const char* name = block->GetParameterName(i);
        if (!name) break;
        CComPtr<INUVParameter3> wrapper;
        HRESULT hr = CoNUVParameter::Create(owner->GetEngineSimulation(), owner, name, IID_INUVParameter3,
                                            reinterpret_cast<void**>(&wrapper));
        if (FAILED(hr)) return hr;
        m_contents->byName.emplace(Upper(name), m_contents->wrappers.size());
        m_contents->wrappers.push_back(wrapper);
        m_contents->names.emplace_back(name);
    }
    return S_OK;
}

HRESULT ParameterCache::Rebuild(CoNUVBlock* owner) {
    std::vector<CComPtr<INUVParameter3>> dropped;  // released after the lock
    CComCritSecLock<CComAutoCriticalSection> lock(m_lock);
    return RebuildLocked(owner, dropped);
}

void ParameterCache::Clear() {
    std::vector<CComPtr<INUVParameter3>> dropped;
    {
        CComCritSecLock<CComAutoCriticalSection> lock(m_lock);
        if (m_contents) dropped.swap(m_contents->wrappers);
        m_contents.reset();
    }
}

size_t ParameterCache::Size() const {
    CComCritSecLock<CComAutoCriticalSection> lock(m_lock);
    return CachedLocked();
}

HRESULT ParameterCache::Item(CoNUVBlock* owner, int position, REFIID riid, void** ppv) {
    std::vector<CComPtr<INUVParameter3>> dropped;
    CComPtr<INUVParameter3> found;
    {
        CComCritSecLock<CComAutoCriticalSection> lock(m_lock);
        ZEQEOBlock* block = owner ? owner->GetEngineBlock() : nullptr;
        if (!block) return kObjectNotFound;
        const char* name = block->GetParameterName(position);
        if (!name) return kObjectNotFound;
        const size_t at = static_cast<size_t>(position);
        // A changed name at the position, or a position past the cache, means the engine's list moved.
        const bool stale = at >= CachedLocked() || stred_caseless_cmp(m_contents->names[at].c_str(), name) != 0 ||
                           CachedLocked() != static_cast<size_t>(block->GetParameterCount());
        if (stale)
            if (HRESULT hr = RebuildLocked(owner, dropped); FAILED(hr)) return hr;
        if (at >= CachedLocked()) return kObjectNotFound;
        found = m_contents->wrappers[at];
    }
    return found->QueryInterface(riid, ppv);
}

HRESULT ParameterCache::Find(CoNUVBlock* owner, const char* name, REFIID riid, void** ppv) {
    std::vector<CComPtr<INUVParameter3>> dropped;
    CComPtr<INUVParameter3> found;
    {
        CComCritSecLock<CComAutoCriticalSection> lock(m_lock);
        // A flowsheet has no engine block and so no parameters: the name is not found.
        ZEQEOBlock* block = owner ? owner->GetEngineBlock() : nullptr;
        if (!block || !name) return kObjectNotFound;
        const std::string key = Upper(name);
        auto cached = [&]() -> INUVParameter3* {
            if (!m_contents) return nullptr;
            auto it = m_contents->byName.find(key);
            return it == m_contents->byName.end() ? nullptr : m_contents->wrappers[it->second].p;
        };
        INUVParameter3* hit = cached();
        if (!hit || CachedLocked() != static_cast<size_t>(block->GetParameterCount())) {
            // Not cached: the block may have gained the parameter since the cache was built.
            if (HRESULT hr = RebuildLocked(owner, dropped); FAILED(hr)) return hr;
            hit = cached();
            if (!hit) return kObjectNotFound;
        }
        found = hit;
    }
    return found->QueryInterface(riid, ppv);
}

}  // namespace nuv
