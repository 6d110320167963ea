// The automation object of one parameter of an engine block, identified by its owning block wrapper
// (held counted: the parameter is valid exactly while its owner is) and the parameter's name. Block
// wrappers keep these objects in a cache in engine order (ParameterCache).
#pragma once
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "simulation_use.h"
#include "wrapper_base.h"

class CoNUVBlock;
class ZEQEOSimulation;
class ZEQEOBlock;
class ZEQParameterData;

class CoNUVParameter : public NUVCoClassBase<CoNUVParameter, INUVParameter3, &CLSID_NUVParameter>,
                       public ISupportErrorInfo {
public:
    static constexpr const char* kErrorSource = "NUVParameter";
    using ComMap = CComMap<ComEntryChain<INUVParameter3>, ComEntry<IProvideClassInfo2>,
                           ComEntry2<IProvideClassInfo, IProvideClassInfo2>, ComEntry<ISupportErrorInfo>,
                           ComSelfEntry>;

    // A new wrapper of parameter `name` of the owner's engine block, queried for riid.
    static HRESULT Create(ZEQEOSimulation* sim, CoNUVBlock* owner, const char* name, REFIID riid, void** ppv);
    ~CoNUVParameter();

    const std::string& Name() const { return m_name; }
    // Valid while the owning block wrapper is bound to its engine block.
    bool Valid() const;

    STDMETHOD(get_Parent)(INUVObject** out) override;
    STDMETHOD(get_Simulation)(INUVSimulation** out) override;
    STDMETHOD(get_Name)(BSTR* out) override;
    STDMETHOD(get_IsValid)(VARIANT_BOOL* out) override;
    STDMETHOD(GetService)(BSTR name, IUnknown** out) override;
    STDMETHOD(get_Value)(VARIANT* out) override;
    STDMETHOD(put_Value)(VARIANT value) override;
    STDMETHOD(get_UOM)(BSTR* out) override;
    STDMETHOD(get_Access)(NUVParameterAccess* out) override;
    STDMETHOD(get_Description)(BSTR* out) override;
    STDMETHOD(get_Lower)(VARIANT* out) override;
    STDMETHOD(put_Lower)(VARIANT value) override;
    STDMETHOD(get_Upper)(VARIANT* out) override;
    STDMETHOD(put_Upper)(VARIANT value) override;
    STDMETHOD(get_PhysicalType)(BSTR* out) override;
    STDMETHOD(put_UOM)(VARIANT value) override;
    STDMETHOD(InterfaceSupportsErrorInfo)(REFIID riid) override;

private:
    // A use of the owner's simulation, held while the owner's engine block is used.
    nuv::SimulationUse Use() const;
    // Loads attribute id of the parameter into record (unreported); block gets the engine block it came from.
    HRESULT Load(int id, ZEQParameterData& record, ZEQEOBlock** block = nullptr) const;
    HRESULT GetText(int id, BSTR* out);
    HRESULT GetVariant(int id, VARIANT* out);
    HRESULT PutVariant(int id, const VARIANT& value);

    ZEQEOSimulation* m_sim = nullptr;
    CComPtr<IUnknown> m_ownerHold;  // keeps m_owner alive
    CoNUVBlock* m_owner = nullptr;
    std::string m_name;
};

namespace nuv {

// A block wrapper's parameter wrappers in engine order, with a caseless name map. Every cached wrapper
// holds its owner counted, so the owner empties the cache when the engine lets the owner go.
class ParameterCache {
public:
    ParameterCache() = default;
    ParameterCache(const ParameterCache&) = delete;
    ParameterCache& operator=(const ParameterCache&) = delete;
    ~ParameterCache() { Clear(); }

    // Rebuilds from the engine block's parameters (positions 0 .. count - 1).
    HRESULT Rebuild(CoNUVBlock* owner);
    // Releases every cached wrapper.
    void Clear();
    size_t Size() const;
    // The wrapper at engine position `position` (0-based), rebuilt first when the engine's parameters moved;
    // 0x80040202 when the engine block has no parameter there.
    HRESULT Item(CoNUVBlock* owner, int position, REFIID riid, void** ppv);
    // The wrapper of the parameter named `name` (without regard to case); 0x80040202 when the engine block
    // has none of that name.
    HRESULT Find(CoNUVBlock* owner, const char* name, REFIID riid, void** ppv);

private:
    HRESULT RebuildLocked(CoNUVBlock* owner, std::vector<CComPtr<INUVParameter3>>& dropped);
    size_t CachedLocked() const { return m_contents ? m_contents->wrappers.size() : 0; }

    struct Contents {
        std::vector<CComPtr<INUVParameter3>> wrappers;
        std::vector<std::string> names;
        std::map<std::string, size_t> byName;  // upper-cased name -> position
    };
    mutable CComAutoCriticalSection m_lock;
    // Allocated while parameters are cached: most blocks of a large model have none, and every block
    // wrapper carries a cache.
    std::unique_ptr<Contents> m_contents;
};

}  // namespace nuv
