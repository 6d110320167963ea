#include "interface_holder.h"

#include <utility>
#include <vector>

#include "nuv_text.h"
#include "process_singletons.h"

STDMETHODIMP CoNUVInterfaceHolder::Register(BSTR name, IUnknown* pInterface) {
    if (!pInterface) return E_POINTER;
    std::string key = nuv::bstr_to_utf8(name);
    pInterface->AddRef();  // outside the lock, as every call into the object
    bool added = false;
    {
        std::lock_guard lock(m_mutex);
        added = m_table.try_emplace(std::move(key), pInterface).second;
    }
    if (!added) pInterface->Release();
    return added ? S_OK : E_FAIL;
}

STDMETHODIMP CoNUVInterfaceHolder::Unregister(BSTR name) {
    const std::string key = nuv::bstr_to_utf8(name);
    IUnknown* gone = nullptr;
    {
        std::lock_guard lock(m_mutex);
        auto it = m_table.find(key);
        if (it == m_table.end()) return E_FAIL;
        gone = it->second;
        m_table.erase(it);
    }
    gone->Release();  // outside the lock: the object may call back into the table as it goes
    return S_OK;
}

STDMETHODIMP CoNUVInterfaceHolder::GetInterface(BSTR name, IUnknown** ppInterface) {
    if (!ppInterface) return E_POINTER;
    *ppInterface = nullptr;
    const std::string key = nuv::bstr_to_utf8(name);
    std::lock_guard lock(m_mutex);
    auto it = m_table.find(key);
    if (it == m_table.end()) return E_FAIL;
    it->second->AddRef();
    *ppInterface = it->second;
    return S_OK;
}

void CoNUVInterfaceHolder::FinalRelease() {
    std::vector<IUnknown*> held;
    {
        std::lock_guard lock(m_mutex);
        for (auto& entry : m_table) held.push_back(entry.second);
        m_table.clear();
    }
    for (IUnknown* p : held) p->Release();
}

HRESULT QueryInterfaceHolder(REFIID riid, void** ppv) { return GetProcessSingleton(CLSID_NUVInterfaceHolder, riid, ppv); }
