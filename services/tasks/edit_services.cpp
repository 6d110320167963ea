#include "edit_services.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "block.h"
#include "engine_text.h"
#include "nuv_arguments.h"
#include "rezoraruz.h"

namespace {

const nuv::SimServiceRegistration kLibraries(IID_INUVEditLibraries, &CoNUVEditLibraries::Make);
const bool kBlocks = (nuv::RegisterBlockServiceMaker(&CoNUVEditBlock::Make), true);

// A name as the engine expects it: 8-bit text in upper case. E_INVALIDARG for one holding a NUL.
HRESULT UpperName(BSTR name, std::string& out) {
    const nuv::EngineText text(name);
    if (HRESULT hr = text.Check(); FAILED(hr)) return ReportComError(CoNUVEditBlock::kErrorSource, hr);
    out = text.str();
    stred_upper_case(out.data());
    return S_OK;
}

}  // namespace

// ---- libraries ----

STDMETHODIMP CoNUVEditLibraries::AddLibrary(BSTR name) { return Edit(name, true); }
STDMETHODIMP CoNUVEditLibraries::RemoveLibrary(BSTR name) { return Edit(name, false); }

HRESULT CoNUVEditLibraries::Edit(BSTR name, bool add) {
    ZEQEOSimulation* sim = binding_.EngineSimulation();
    if (!binding_.IsValid() || !sim) return ReportError(nuv::kInvalidObject);
    const nuv::EngineText text(name);
    if (HRESULT hr = text.Check(); FAILED(hr)) return ReportComError(kErrorSource, hr);
    return nuv::EngineCall(kErrorSource,
                           [&] { return add ? sim->AddLibrary(text.get()) : sim->RemoveLibrary(text.get()); });
}

// ---- blocks ----

HRESULT CoNUVEditBlock::Make(ZEQEOCntr* container, ZEQEOBlock* block, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!container) return E_INVALIDARG;
    ZEQEOCntr* target = block ? block->GetSubContainer(container) : container;
    if (!target) return nuv::kNoService;
    CComObject<CoNUVEditBlock>* object = nullptr;
    HRESULT hr = CComObject<CoNUVEditBlock>::CreateInstance(&object);
    if (FAILED(hr)) return hr;
    object->AddRef();
    object->m_container = container;
    object->m_block = block;
    object->m_target = target;
    if (INUVWrapper* wrapper = target->GetWrapper())
        wrapper->QueryOuter(IID_IUnknown, reinterpret_cast<void**>(&object->m_targetWrapper));
    hr = object->QueryInterface(riid, ppv);
    object->Release();
    return hr;
}

ZEQEOCntr* CoNUVEditBlock::Target(HRESULT* hr) const {
    *hr = S_OK;
    if (m_targetWrapper) {
        CoNUVBlock* owner = nuv::ImplementationOf<CoNUVBlock>(m_targetWrapper);
        if (!owner || owner->IsValid() != VARIANT_TRUE) {
            *hr = ReportComError(kErrorSource, nuv::kInvalidObject);
            return nullptr;
        }
    }
    return m_target;
}

STDMETHODIMP CoNUVEditBlock::AddBlock(BSTR name, BSTR type, VARIANT args) {
    HRESULT hr = S_OK;
    ZEQEOCntr* target = Target(&hr);
    if (!target) return hr;
    ZEQEOBlockEditor* editor = m_container->GetEditor();
    if (!editor) return ReportComError(kErrorSource, E_NOTIMPL);

    std::string upperName, upperType;
    if (FAILED(hr = UpperName(name, upperName)) || FAILED(hr = UpperName(type, upperType))) return hr;
    // The arguments are read from a copy with its references followed; one to nothing is refused.
    CComVariant local;
    if (HRESULT copied = nuv::CopyInVariant(args, &local); FAILED(copied)) return ReportComError(kErrorSource, copied);
    value_t value;
    value_init(&value);
    if (local.vt == VT_BSTR && local.bstrVal) {
        const nuv::EngineText text(local.bstrVal);
        char* copy = text.Whole() ? strdup(text.c_str()) : nullptr;
        if (!copy) return ReportComError(kErrorSource, text.Whole() ? E_OUTOFMEMORY : E_INVALIDARG);
        value_assign_string(&value, copy);
    }
    hr = nuv::EngineCall(kErrorSource,
                         [&] { return editor->AddBlock(target, upperName.c_str(), upperType.c_str(), &value); });
    value_destroy(&value);
    return hr;
}

STDMETHODIMP CoNUVEditBlock::RemoveBlock(BSTR name) {
    HRESULT hr = S_OK;
    ZEQEOCntr* target = Target(&hr);
    if (!target) return hr;
    std::string upperName;
    if (FAILED(hr = UpperName(name, upperName))) return hr;
    const auto removed = static_cast<HRESULT>(target->RemoveBlock(ZEQString(upperName.c_str())));
    if (FAILED(removed))
        return ReportErrorText(IID_INUVEditBlock, kErrorSource, ("Unknown block " + upperName).c_str(), removed);
    return removed;
}

STDMETHODIMP CoNUVEditBlock::RemoveAllBlocks() {
    HRESULT hr = S_OK;
    ZEQEOCntr* target = Target(&hr);
    if (!target) return hr;
    return nuv::EngineCall(kErrorSource, [&] { return target->RemoveAllBlocks(0, true); });
}
