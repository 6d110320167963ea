// The automation object of one engine simulation: the root of the object model. It offers the
// flowsheet, the solver collection, scopes, solving, objectives, cancellation, file operations, the
// build version, named services, and the engine browsing document through IServiceProvider.
#pragma once
#include <servprov.h>

#include <atomic>
#include <mutex>

#include "alt_ident.h"
#include "simulation_use.h"
#include "wrapper_base.h"

class ZEQEOSimulation;
namespace FI {
class FIDocument;
}

class CoNUVSimulation;

// The simulation's solvers, embedded in the simulation wrapper.
class SimulationSolverCollection final
    : public NUVAlternateIdentBase<CoNUVSimulation, SimulationSolverCollection, INUVSolverCollection,
                                   &CLSID_NUVSolverCollection> {
public:
    using ComMap = CComMap<ComEntry<INUVSolverCollection>, ComEntry2<INUVObjectCollection, INUVSolverCollection>,
                           ComEntry2<IDispatch, INUVSolverCollection>, ComEntry<IProvideClassInfo2>,
                           ComEntry2<IProvideClassInfo, IProvideClassInfo2>, ComEntry<ISupportErrorInfo>,
                           ComEntry<IServiceProvider>, ComSelfEntry>;

    STDMETHOD(get_Item)(LONG index, INUVObject** out) override;
    STDMETHOD(get__NewEnum)(IUnknown** out) override;
    STDMETHOD(get_Count)(LONG* out) override;
    STDMETHOD(Find)(BSTR name, INUVObject** out) override;
    STDMETHOD(GetService)(BSTR name, IUnknown** out) override;
    STDMETHOD(GetAttributes)(VARIANT names, LONG first, LONG count, VARIANT* out) override;
    STDMETHOD(SetAttributes)(VARIANT names, VARIANT values, LONG first) override;
    STDMETHOD(get_Solver)(VARIANT item, INUVSolver** out) override;
    STDMETHOD(InterfaceSupportsErrorInfo)(REFIID riid) override;
    STDMETHOD(QueryService)(REFGUID service, REFIID riid, void** ppv) override;
    // Solvers have no name-to-index lookup.
    HRESULT Name2Index(const char* name, LONG* index);

private:
    // Solver `index` (1-based) as riid, unreported.
    HRESULT ItemAs(LONG index, REFIID riid, void** ppv);
    HRESULT FindAs(const char* name, REFIID riid, void** ppv);
};

class CoNUVSimulation : public NUVCoClassBase<CoNUVSimulation, INUVSimulation2, &CLSID_NUVSimulation>,
                        public ISupportErrorInfo,
                        public IServiceProvider {
public:
    static constexpr const char* kErrorSource = "NUVSimulation";
    using ComMap = CComMap<ComEntry<INUVSimulation2>, ComEntry2<INUVSimulation, INUVSimulation2>,
                           ComEntry2<INUVObject, INUVSimulation2>, ComEntry2<IDispatch, INUVSimulation2>,
                           ComEntry<IProvideClassInfo2>, ComEntry2<IProvideClassInfo, IProvideClassInfo2>,
                           ComEntry<ISupportErrorInfo>, ComEntry<IServiceProvider>, ComSelfEntry>;

    CoNUVSimulation();
    ~CoNUVSimulation();

    // The wrapper the engine keeps for `sim`, or a new one registered with it; queried for riid.
    static HRESULT CreateOrFind(ZEQEOSimulation* sim, REFIID riid, void** ppv);
    // The simulation's one event manager, created on first use.
    static HRESULT GetSimEventManager(CoNUVSimulation* simulation, REFIID riid, void** ppv);

    ZEQEOSimulation* GetEngineSimulation() const { return m_engine.load(); }
    // A use of the engine simulation (see simulation_use.h): engine objects reached through this wrapper are
    // used only while one is held.
    nuv::SimulationUse Use() const { return nuv::SimulationUse(m_engine); }
    // The engine browsing document, null while none has been created. Not counted.
    FI::FIDocument* GetDocument() const;
    // Called by the document as it goes away: forgets it when it is still the one held.
    void DetachDocument(FI::FIDocument* document);
    // A counted copy of the event manager, null while none exists.
    CComPtr<INUVSimEventMgr> GetSimEventMgr() const;

    // INUVObject
    STDMETHOD(get_Parent)(INUVObject** out) override;
    STDMETHOD(get_Simulation)(INUVSimulation** out) override;
    STDMETHOD(get_Name)(BSTR* out) override;
    STDMETHOD(get_IsValid)(VARIANT_BOOL* out) override;
    STDMETHOD(GetService)(BSTR name, IUnknown** out) override;
    // INUVSimulation
    STDMETHOD(get_BuildVersion)(BSTR* out) override;
    STDMETHOD(get_Flowsheet)(INUVBlock** out) override;
    STDMETHOD(get_Solvers)(INUVSolverCollection** out) override;
    STDMETHOD(PushScope)(BSTR path) override;
    STDMETHOD(PopScope)() override;
    STDMETHOD(ResetScope)() override;
    STDMETHOD(Solve)() override;
    STDMETHOD(SolveWithObjective)(BSTR objective) override;
    STDMETHOD(put_DefaultObjective)(BSTR objective) override;
    STDMETHOD(get_DefaultObjective)(BSTR* out) override;
    STDMETHOD(TriggerCancel)(SHORT level) override;
    // INUVSimulation2
    STDMETHOD(SaveSimulation)(BSTR path) override;
    STDMETHOD(OpenSimulation)(BSTR path) override;
    STDMETHOD(AddSimulation)(BSTR path) override;
    STDMETHOD(SaveBlock)(BSTR path, BSTR block) override;
    STDMETHOD(LoadBlock)(BSTR path) override;
    // ISupportErrorInfo
    STDMETHOD(InterfaceSupportsErrorInfo)(REFIID riid) override;
    // IServiceProvider
    STDMETHOD(QueryService)(REFGUID service, REFIID riid, void** ppv) override;

    // Wrapper-base hooks.
    void DetachEngine();

private:
    void Attach(ZEQEOSimulation* sim);

    std::atomic<ZEQEOSimulation*> m_engine{nullptr};
    mutable std::recursive_mutex m_lazyLock;  // guards the event manager and the document
    CComPtr<INUVSimEventMgr> m_eventMgr;
    FI::FIDocument* m_document = nullptr;
    SimulationSolverCollection m_solvers;
};

namespace nuv {

// The engine browsing document of a simulation wrapper, supplied by the layer that implements it.
struct SimulationDocumentHooks {
    // A new document owned by (and holding a counted reference to) the simulation wrapper.
    FI::FIDocument* (*create)(CoNUVSimulation* owner) = nullptr;
    // The document lets go of its owner when the owner is that wrapper.
    void (*release_owner)(FI::FIDocument* document, CoNUVSimulation* owner) = nullptr;
};
void SetSimulationDocumentHooks(const SimulationDocumentHooks& hooks);

// Creates the event manager of one simulation, queried for riid. Installed by the event manager's class;
// until then a stand-in whose members answer E_NOTIMPL is made.
using SimEventManagerMaker = HRESULT (*)(CoNUVSimulation* simulation, REFIID riid, void** ppv);
void SetSimEventManagerMaker(SimEventManagerMaker maker);

}  // namespace nuv
