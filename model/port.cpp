#include "port.h"

#include "block.h"
#include "class_factory.h"
#include "collections.h"
#include "engine_text.h"
#include "rezoraruz.h"
#include "valid_answer.h"

// ---- CoNUVPort ----

HRESULT CoNUVPort::CreateOrFind(ZEQEOSimulation* sim, CoNUVBlock* owner, zeq_port* port, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!sim || !owner || !port) return E_INVALIDARG;
    std::lock_guard lock(nuv::WrapperCreationLock());
    if (INUVWrapper* w = port->GetWrapper()) return w->QueryOuter(riid, ppv);
    CComObject<CoNUVPort>* object = nullptr;
    HRESULT hr = CComObject<CoNUVPort>::CreateInstance(&object);
    if (FAILED(hr)) return hr;
    object->AddRef();
    hr = object->QueryInterface(riid, ppv);
    if (SUCCEEDED(hr)) object->Attach(sim, owner, port);
    object->Release();
    return hr;
}

void CoNUVPort::Attach(ZEQEOSimulation* sim, CoNUVBlock* owner, zeq_port* port) {
    m_owner = owner;
    m_ownerHold = owner->OuterUnknown();
    m_sim.store(sim);
    m_port.store(port);
    port->SetWrapper(GetWrapperInterface());
}

bool CoNUVPort::Valid() const {
    return IsValid() && m_port.load() && m_sim.load() && m_owner && m_owner->IsValid();
}

std::vector<LONG> CoNUVPort::BlockRows() const {
    std::vector<LONG> rows;
    zeq_port* port = m_port.load();
    if (!port || !m_owner) return rows;
    ZEQEOBlock* block = m_owner->GetEngineBlock();
    const int base = block ? block->GetFirstIndex() - 1 : 0;
    const int n = port->GetVariableCount();
    rows.reserve(static_cast<size_t>(n > 0 ? n : 0));
    for (int k = 0; k < n; ++k) {
        const int v = port->GetVariable(k);
        rows.push_back(v > 0 ? v - base : 0);
    }
    return rows;
}

STDMETHODIMP CoNUVPort::get_Parent(INUVObject** out) {
    if (HRESULT hr = ClearOut(out); FAILED(hr)) return hr;
    const nuv::SimulationUse use = Use();
    if (!use || !Valid()) return ReportError(nuv::kInvalidObject);
    HRESULT hr = m_owner->OuterUnknown()->QueryInterface(IID_INUVObject, reinterpret_cast<void**>(out));
    hr = nuv::AnswerRead(Valid(), hr, out);
    return FAILED(hr) ? ReportError(hr) : hr;
}

STDMETHODIMP CoNUVPort::get_Simulation(INUVSimulation** out) {
    if (HRESULT hr = ClearOut(out); FAILED(hr)) return hr;
    const nuv::SimulationUse use(m_sim);
    ZEQEOSimulation* sim = use.get();
    if (!Valid() || !sim) return ReportError(nuv::kInvalidObject);
    HRESULT hr = NUVClassFactory::QuerySimulationWrapper(sim, out);
    return FAILED(hr) ? ReportError(hr) : hr;
}

STDMETHODIMP CoNUVPort::get_Name(BSTR* out) {
    if (HRESULT hr = ClearOut(out); FAILED(hr)) return hr;
    zeq_port* port = m_port.load();
    const nuv::SimulationUse use = Use();
    if (!use || !Valid() || !port) return ReportError(nuv::kInvalidObject);
    const char* name = port->GetName();
    *out = nuv::bstr_from_utf8(name ? name : "");
    const HRESULT hr = nuv::AnswerRead(Valid(), *out ? S_OK : E_OUTOFMEMORY, out);
    return FAILED(hr) ? ReportError(hr) : hr;
}

STDMETHODIMP CoNUVPort::get_IsValid(VARIANT_BOOL* out) {
    return out ? nuv::AnswerIsValid(Valid(), out) : ReportStandard(E_POINTER);
}

STDMETHODIMP CoNUVPort::GetService(BSTR, IUnknown** out) {
    if (HRESULT hr = ClearOut(out); FAILED(hr)) return hr;
    return ReportError(Valid() ? nuv::kNoService : nuv::kInvalidObject);
}

// The engine port is read once: the engine may let the wrapper go at any moment, and a record that could
// not be loaded from a port that has gone since means the port has gone (0x80040101).
HRESULT CoNUVPort::Load(int id, ZEQPortData& record) const {
    const nuv::SimulationUse use = Use();
    zeq_port* port = use && Valid() ? m_port.load() : nullptr;
    if (!port) return nuv::kInvalidObject;
    record.mask.Set(id);
    return nuv::AnswerRead(Valid(), record.Load(port) ? S_OK : E_FAIL);
}

HRESULT CoNUVPort::ReadCode(int id, const char* const* names, int count, int* out) {
    ZEQPortData record;
    if (HRESULT hr = Load(id, record); FAILED(hr)) return hr;
    if (record.GetValue(id, *out)) return S_OK;
    const char* text = nullptr;
    if (!record.GetValue(id, text)) return E_FAIL;
    *out = 0;
    for (int i = 0; i < count; ++i)
        if (names[i] && text && stred_caseless_cmp(names[i], text) == 0) *out = i;
    return S_OK;
}

STDMETHODIMP CoNUVPort::get_Direction(NUVPortDir* out) {
    const nuv::SimulationUse use = Use();
    if (!use || !Valid()) return ReportError(nuv::kInvalidObject);
    if (!out) return ReportStandard(E_POINTER);
    *out = NUVPortDir_Unspecified;
    static const char* const kNames[] = {nullptr, "IN", "OUT"};
    static const char* const kLongNames[] = {nullptr, "INPUT", "OUTPUT"};
    int code = 0;
    if (HRESULT hr = ReadCode(PO_DIRECTION, kNames, 3, &code); FAILED(hr)) return ReportError(hr);
    if (code == 0) {
        if (HRESULT hr = ReadCode(PO_DIRECTION, kLongNames, 3, &code); FAILED(hr)) return ReportError(hr);
    }
    *out = static_cast<NUVPortDir>(code);
    return S_OK;
}

STDMETHODIMP CoNUVPort::get_Type(NUVPortType* out) {
    const nuv::SimulationUse use = Use();
    if (!use || !Valid()) return ReportError(nuv::kInvalidObject);
    if (!out) return ReportStandard(E_POINTER);
    *out = NUVPortType_Unspecified;
    static const char* const kNames[] = {nullptr, "MATERIAL", "INFORMATION", "SPECIAL_ORDERED_SET"};
    int code = 0;
    if (HRESULT hr = ReadCode(PO_TYPE, kNames, 4, &code); FAILED(hr)) return ReportError(hr);
    *out = static_cast<NUVPortType>(code);
    return S_OK;
}

STDMETHODIMP CoNUVPort::get_Stream(BSTR* out) {
    if (HRESULT hr = ClearOut(out); FAILED(hr)) return hr;
    ZEQPortData record;
    if (HRESULT hr = Load(PO_STREAM, record); FAILED(hr)) return ReportError(hr);
    const char* stream = nullptr;
    if (!record.GetValue(PO_STREAM, stream)) return ReportError(E_FAIL);
    *out = nuv::bstr_from_utf8(stream ? stream : "");
    return *out ? S_OK : ReportError(E_OUTOFMEMORY);
}

STDMETHODIMP CoNUVPort::get_Variables(INUVVariableCollection** out) {
    if (HRESULT hr = ClearOut(out); FAILED(hr)) return hr;
    const nuv::SimulationUse use = Use();
    if (!use || !Valid()) return ReportError(nuv::kInvalidObject);
    return m_variables.QueryInterface(IID_INUVVariableCollection, reinterpret_cast<void**>(out));
}

STDMETHODIMP CoNUVPort::InterfaceSupportsErrorInfo(REFIID riid) {
    return (riid == IID_INUVPort || riid == IID_INUVObject) ? S_OK : S_FALSE;
}

// ---- PortVariableColl ----

HRESULT PortVariableColl::ItemAs(LONG index, REFIID riid, void** ppv) {
    const std::vector<LONG> rows = m_owner->BlockRows();
    if (index < 1 || index > static_cast<LONG>(rows.size())) return nuv::kIndexOutOfRange;
    const LONG row = rows[static_cast<size_t>(index - 1)];
    if (row < 1) return nuv::kObjectNotFound;
    return nuv::coll::Item(m_owner->GetOwner(), MemberKind::Variables, row, riid, ppv);
}

HRESULT PortVariableColl::FindAs(const char* name, REFIID riid, void** ppv, LONG* position) {
    LONG found = 0;
    if (HRESULT hr = nuv::coll::Name2Index(m_owner->GetOwner(), MemberKind::Variables, name, &found); FAILED(hr))
        return hr;
    const std::vector<LONG> rows = m_owner->BlockRows();
    for (size_t k = 0; k < rows.size(); ++k)
        if (rows[k] == found) {
            if (position) *position = static_cast<LONG>(k) + 1;
            return ppv ? nuv::coll::Item(m_owner->GetOwner(), MemberKind::Variables, found, riid, ppv) : S_OK;
        }
    return nuv::kObjectNotFound;
}

HRESULT PortVariableColl::MakeGrid(REFIID riid, void** ppv) {
    nuv::GridMaker make = nuv::CurrentGridMaker();
    if (!make) return nuv::kNoService;
    const std::vector<LONG> rows = m_owner->BlockRows();
    return make(m_owner->GetOwner(), MemberKind::Variables, rows.data(), static_cast<LONG>(rows.size()), riid, ppv);
}

STDMETHODIMP PortVariableColl::get_Item(LONG index, INUVObject** out) {
    if (HRESULT hr = nuv::ClearOut(out); FAILED(hr)) return hr;
    const nuv::SimulationUse use = m_owner->Use();
    if (!use || !m_owner->Valid()) return ReportError(nuv::kInvalidObject);
    HRESULT hr = ItemAs(index, IID_INUVObject, reinterpret_cast<void**>(out));
    return Answer(hr, out);
}

STDMETHODIMP PortVariableColl::get__NewEnum(IUnknown** out) {
    if (HRESULT hr = nuv::ClearOut(out); FAILED(hr)) return hr;
    const nuv::SimulationUse use = m_owner->Use();
    if (!use || !m_owner->Valid()) return ReportError(nuv::kInvalidObject);
    const LONG n = static_cast<LONG>(m_owner->BlockRows().size());
    std::vector<CComVariant> items(static_cast<size_t>(n));
    for (LONG i = 0; i < n; ++i) {
        VARIANT& v = items[static_cast<size_t>(i)];
        v.vt = VT_DISPATCH;
        v.pdispVal = nullptr;
        ItemAs(i + 1, IID_IDispatch, reinterpret_cast<void**>(&v.pdispVal));
    }
    HRESULT hr = CreateVariantEnumerator(items.data(), static_cast<ULONG>(items.size()), out);
    return Answer(hr, out);
}

STDMETHODIMP PortVariableColl::get_Count(LONG* out) {
    if (!out) return E_POINTER;
    *out = 0;
    zeq_port* port = m_owner->GetEnginePort();
    const nuv::SimulationUse use = m_owner->Use();
    if (!use || !m_owner->Valid() || !port) return ReportError(nuv::kInvalidObject);
    const int n = port->GetVariableCount();
    *out = n > 0 ? n : 0;
    return Answer(S_OK, out);
}

STDMETHODIMP PortVariableColl::Find(BSTR name, INUVObject** out) {
    if (HRESULT hr = nuv::ClearOut(out); FAILED(hr)) return hr;
    const nuv::SimulationUse use = m_owner->Use();
    if (!use || !m_owner->Valid()) return ReportError(nuv::kInvalidObject);
    const nuv::EngineText text(name);
    HRESULT hr = text.Check();
    if (SUCCEEDED(hr)) hr = FindAs(text.c_str(), IID_INUVObject, reinterpret_cast<void**>(out), nullptr);
    return Answer(hr, out);
}

STDMETHODIMP PortVariableColl::GetService(BSTR name, IUnknown** out) {
    if (HRESULT hr = nuv::ClearOut(out); FAILED(hr)) return hr;
    const nuv::SimulationUse use = m_owner->Use();
    if (!use || !m_owner->Valid()) return ReportError(nuv::kInvalidObject);
    HRESULT hr = nuv::kNoService;
    const nuv::EngineText text(name);
    if (!text.Whole()) {
        // names no service
    } else if (stred_caseless_cmp(text.c_str(), "GridService") == 0) {
        hr = MakeGrid(IID_IUnknown, reinterpret_cast<void**>(out));
    } else if (stred_caseless_cmp(text.c_str(), "GridInfoService") == 0) {
        // The port's variables are shown by the variable grid: the same grid information serves them.
        if (nuv::GridInfoMaker make = nuv::CurrentGridInfoMaker())
            hr = make(nuv::coll::GridMode(MemberKind::Variables), IID_IUnknown, reinterpret_cast<void**>(out));
    }
    return Answer(hr, out);
}

STDMETHODIMP PortVariableColl::GetAttributes(VARIANT names, LONG first, LONG count, VARIANT* out) {
    if (!out) return E_POINTER;
    VariantInit(out);
    const nuv::SimulationUse use = m_owner->Use();
    if (!use || !m_owner->Valid()) return ReportError(nuv::kInvalidObject);
    SAFEARRAY* array = nuv::coll::ArrayOf(names);
    if (!array) return E_INVALIDARG;
    const std::vector<LONG> rows = m_owner->BlockRows();
    const LONG total = static_cast<LONG>(rows.size());
    if (first < 1 || first > total) return ReportError(nuv::kIndexOutOfRange);
    const LONG remaining = total - first + 1;
    if (count <= 0 || count > remaining) count = remaining;
    SAFEARRAY* matrix = nullptr;
    HRESULT hr = nuv::coll::AttributeMatrix(m_owner->GetOwner(), MemberKind::Variables, array, first, count, &rows,
                                            &matrix);
    if (FAILED(hr)) return Answer(hr);
    out->vt = VT_ARRAY | VT_VARIANT;
    out->parray = matrix;
    return Answer(S_OK, out);
}

STDMETHODIMP PortVariableColl::SetAttributes(VARIANT, VARIANT, LONG) {
    const nuv::SimulationUse use = m_owner->Use();
    if (!use || !m_owner->Valid()) return ReportError(nuv::kInvalidObject);
    return E_NOTIMPL;
}

STDMETHODIMP PortVariableColl::get_Variable(VARIANT item, INUVVariable** out) {
    if (HRESULT hr = nuv::ClearOut(out); FAILED(hr)) return hr;
    const nuv::SimulationUse use = m_owner->Use();
    if (!use || !m_owner->Valid()) return ReportError(nuv::kInvalidObject);
    HRESULT hr;
    nuv::ItemKey key;  // read from a copy: the caller's VARIANT stays as it was
    if (FAILED(hr = nuv::ReadItemKey(item, key))) return ReportError(hr == E_INVALIDARG ? hr : nuv::kBadIndexType);
    hr = key.by_name ? FindAs(key.name.c_str(), IID_INUVVariable, reinterpret_cast<void**>(out), nullptr)
                     : ItemAs(key.position, IID_INUVVariable, reinterpret_cast<void**>(out));
    return Answer(hr, out);
}

STDMETHODIMP PortVariableColl::InterfaceSupportsErrorInfo(REFIID riid) {
    return (riid == IID_INUVObjectCollection || riid == IID_INUVVariableCollection) ? S_OK : S_FALSE;
}

STDMETHODIMP PortVariableColl::QueryService(REFGUID service, REFIID riid, void** ppv) {
    if (HRESULT hr = nuv::ClearOut(ppv); FAILED(hr)) return hr;
    const nuv::SimulationUse use = m_owner->Use();
    if (!use || !m_owner->Valid()) return ReportError(nuv::kInvalidObject);
    HRESULT hr = service != IID_INUVGridService ? nuv::kNoService
                 : nuv::IsClientInterface(riid)   ? MakeGrid(riid, ppv)
                                                  : E_NOINTERFACE;
    return Answer(hr, ppv);
}

HRESULT PortVariableColl::Name2Index(BSTR name, LONG* index) {
    if (!index) return E_POINTER;
    *index = 0;
    const nuv::SimulationUse use = m_owner->Use();
    if (!use || !m_owner->Valid()) return nuv::kInvalidObject;
    const nuv::EngineText text(name);
    if (HRESULT hr = text.Check(); FAILED(hr)) return hr;
    return nuv::AnswerRead(IsValid() != VARIANT_FALSE, FindAs(text.c_str(), IID_NULL, nullptr, index), index);
}
