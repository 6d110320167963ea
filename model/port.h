// The automation object of one port of an engine block: its direction, type and connected stream, and
// its variables as a collection of its own (the owning block's variables that belong to the port).
#pragma once
#include <atomic>
#include <vector>

#include "alt_ident.h"
#include "simulation_use.h"
#include "wrapper_base.h"

class CoNUVBlock;
class CoNUVPort;
class ZEQEOSimulation;
class zeq_port;
class ZEQPortData;

// The port's variables. Positions count from 1 over the port's variables.
class PortVariableColl final
    : public NUVAlternateIdentBase<CoNUVPort, PortVariableColl, INUVVariableCollection, &CLSID_NUVVariableCollection> {
public:
    using ComMap = CComMap<ComEntryChain<INUVVariableCollection>, ComEntry<IProvideClassInfo2>,
                           ComEntry2<IProvideClassInfo, IProvideClassInfo2>, ComEntry<ISupportErrorInfo>,
                           ComEntry<IServiceProvider>, ComSelfEntry>;

    STDMETHOD(get_Item)(LONG index, INUVObject** out) override;
    STDMETHOD(get__NewEnum)(IUnknown** out) override;
    STDMETHOD(get_Count)(LONG* out) override;
    STDMETHOD(Find)(BSTR name, INUVObject** out) override;
    STDMETHOD(GetService)(BSTR name, IUnknown** out) override;
    STDMETHOD(GetAttributes)(VARIANT names, LONG first, LONG count, VARIANT* out) override;
    STDMETHOD(SetAttributes)(VARIANT names, VARIANT values, LONG first) override;
    STDMETHOD(get_Variable)(VARIANT item, INUVVariable** out) override;
    STDMETHOD(InterfaceSupportsErrorInfo)(REFIID riid) override;
    STDMETHOD(QueryService)(REFGUID service, REFIID riid, void** ppv) override;
    // The port position of a variable of the port, by name; unreported.
    virtual HRESULT Name2Index(BSTR name, LONG* index);

private:
    HRESULT ItemAs(LONG index, REFIID riid, void** ppv);
    HRESULT FindAs(const char* name, REFIID riid, void** ppv, LONG* position);
    HRESULT MakeGrid(REFIID riid, void** ppv);
};

class CoNUVPort : public NUVCoClassBase<CoNUVPort, INUVPort2, &CLSID_NUVPort>, public ISupportErrorInfo {
public:
    static constexpr const char* kErrorSource = "NUVPort";
    using ComMap = CComMap<ComEntryChain<INUVPort2>, ComEntry<IProvideClassInfo2>,
                           ComEntry2<IProvideClassInfo, IProvideClassInfo2>, ComEntry<ISupportErrorInfo>,
                           ComSelfEntry>;

    CoNUVPort() { m_variables.m_owner = this; }

    // The wrapper the engine port holds, or a new one registered with it; queried for riid.
    static HRESULT CreateOrFind(ZEQEOSimulation* sim, CoNUVBlock* owner, zeq_port* port, REFIID riid, void** ppv);

    ZEQEOSimulation* GetEngineSimulation() const { return m_sim.load(); }
    // A use of the engine simulation (see simulation_use.h): engine objects reached through this wrapper are
    // used only while one is held.
    nuv::SimulationUse Use() const { return nuv::SimulationUse(m_sim); }
    zeq_port* GetEnginePort() const { return m_port.load(); }
    CoNUVBlock* GetOwner() const { return m_owner; }
    // Valid while the engine holds the wrapper and the owner is bound to its block.
    bool Valid() const;
    // The port's variables as positions of the owner block's variable collection, in port order (0 for a
    // variable the block no longer has).
    std::vector<LONG> BlockRows() const;

    STDMETHOD(get_Parent)(INUVObject** out) override;
    STDMETHOD(get_Simulation)(INUVSimulation** out) override;
    STDMETHOD(get_Name)(BSTR* out) override;
    STDMETHOD(get_IsValid)(VARIANT_BOOL* out) override;
    STDMETHOD(GetService)(BSTR name, IUnknown** out) override;
    STDMETHOD(get_Direction)(NUVPortDir* out) override;
    STDMETHOD(get_Type)(NUVPortType* out) override;
    STDMETHOD(get_Stream)(BSTR* out) override;
    STDMETHOD(get_Variables)(INUVVariableCollection** out) override;
    STDMETHOD(InterfaceSupportsErrorInfo)(REFIID riid) override;

    // The owner block retired: the wrapper is invalid at once (see MarkRetired).
    HRESULT OnNotify(LONG value) {
        if (value == 0) {
            MarkRetired();
            DetachEngine();
        }
        return S_OK;
    }
    void DetachEngine() {
        m_port.store(nullptr);
        m_sim.store(nullptr);
    }

private:
    void Attach(ZEQEOSimulation* sim, CoNUVBlock* owner, zeq_port* port);
    // Loads attribute id of the port into record (unreported).
    HRESULT Load(int id, ZEQPortData& record) const;
    // An integer port attribute; the engine may answer some only as text, which is mapped by `names`.
    HRESULT ReadCode(int id, const char* const* names, int count, int* out);

    std::atomic<ZEQEOSimulation*> m_sim{nullptr};
    std::atomic<zeq_port*> m_port{nullptr};
    CComPtr<IUnknown> m_ownerHold;  // keeps m_owner alive as long as the port wrapper
    CoNUVBlock* m_owner = nullptr;
    PortVariableColl m_variables;
};
