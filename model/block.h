// The automation object of one engine block and, for the flowsheet or a hierarchy block, of the engine
// container that holds the block's members. It stays registered with its engine object for as long as
// that object lives, so a lookup always finds the same wrapper.
#pragma once
#include <servprov.h>

#include <atomic>

#include "collections.h"
#include "parameter.h"
#include "simulation_use.h"
#include "wrapper_base.h"

class ZEQEOSimulation;
class ZEQEOBlock;
class ZEQEOCntr;

class CoNUVBlock : public NUVCoClassBase<CoNUVBlock, INUVBlock2, &CLSID_NUVBlock>,
                   public ISupportErrorInfo,
                   public IServiceProvider {
public:
    static constexpr const char* kErrorSource = "NUVBlock";
    using ComMap = CComMap<ComEntry<INUVBlock2>, ComEntry2<INUVBlock, INUVBlock2>, ComEntry2<INUVObject, INUVBlock2>,
                           ComEntry2<IDispatch, INUVBlock2>, ComEntry<IProvideClassInfo2>,
                           ComEntry2<IProvideClassInfo, IProvideClassInfo2>, ComEntry<ISupportErrorInfo>,
                           ComEntry<IServiceProvider>, ComSelfEntry>;

    CoNUVBlock() : m_collections(this) {}

    // Registers the wrapper with the container's holder when a container is given, else with the block's,
    // and stores the three engine objects.
    void Attach(ZEQEOSimulation* sim, ZEQEOBlock* block, ZEQEOCntr* container);

    ZEQEOSimulation* GetEngineSimulation() const { return m_sim.load(); }
    // A use of the engine simulation (see simulation_use.h): engine objects reached through this wrapper are
    // used only while one is held.
    nuv::SimulationUse Use() const { return nuv::SimulationUse(m_sim); }
    ZEQEOBlock* GetEngineBlock() const { return m_block.load(); }
    ZEQEOCntr* GetEngineContainer() const { return m_container.load(); }
    // The container that holds the block; null without an engine block.
    ZEQEOCntr* GetParentContainer() const;
    // The block's parameter wrappers in engine order.
    nuv::ParameterCache& Parameters() { return m_parameterCache; }
    // The helper identity of a kind's collection, queried for riid; E_NOINTERFACE for the blocks.
    HRESULT QueryHelper(MemberKind kind, REFIID riid, void** ppv);

    // INUVObject
    STDMETHOD(get_Parent)(INUVObject** out) override;
    STDMETHOD(get_Simulation)(INUVSimulation** out) override;
    STDMETHOD(get_Name)(BSTR* out) override;
    STDMETHOD(get_IsValid)(VARIANT_BOOL* out) override;
    STDMETHOD(GetService)(BSTR name, IUnknown** out) override;
    // INUVBlock
    STDMETHOD(get_IsBlockContainer)(VARIANT_BOOL* out) override;
    STDMETHOD(get_Blocks)(INUVBlockCollection** out) override;
    STDMETHOD(get_Variables)(INUVVariableCollection** out) override;
    STDMETHOD(get_Equations)(INUVEquationCollection** out) override;
    STDMETHOD(get_Parameters)(INUVParameterCollection** out) override;
    STDMETHOD(get_Ports)(INUVPortCollection** out) override;
    // INUVBlock2
    STDMETHOD(get_IsIncluded)(VARIANT_BOOL* out) override;
    // ISupportErrorInfo, IServiceProvider
    STDMETHOD(InterfaceSupportsErrorInfo)(REFIID riid) override;
    STDMETHOD(QueryService)(REFGUID service, REFIID riid, void** ppv) override;

    // The engine object retired: the wrapper is invalid at once (see MarkRetired); what it caches goes when
    // the engine lets go.
    HRESULT OnNotify(LONG value) {
        if (value == 0) {
            MarkRetired();
            m_sim.store(nullptr);
            m_block.store(nullptr);
            m_container.store(nullptr);
        }
        return S_OK;
    }
    // The engine let go: the cached parameter wrappers, which hold this wrapper, go too.
    void DetachEngine() {
        m_sim.store(nullptr);
        m_block.store(nullptr);
        m_container.store(nullptr);
        m_parameterCache.Clear();
    }

private:
    // The container a block service is asked for: the parent's for a block, else the wrapper's own.
    ZEQEOCntr* ServiceContainer() const;
    template <class Itf, class Ident>
    HRESULT Collection(Ident& ident, Itf** out);

    std::atomic<ZEQEOSimulation*> m_sim{nullptr};
    std::atomic<ZEQEOBlock*> m_block{nullptr};
    std::atomic<ZEQEOCntr*> m_container{nullptr};
    nuv::ParameterCache m_parameterCache;
    BlockCollections m_collections;
};
