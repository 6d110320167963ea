// The automation object of one engine solver and its parameter set, numbered from 1 through the
// integer parameters, then the real ones, then the text ones.
#pragma once
#include <servprov.h>

#include <atomic>
#include <string>

#include "alt_ident.h"
#include "simulation_use.h"
#include "wrapper_base.h"

class ZEQEOSimulation;
class EngineSolver;
class CoNUVSolver;

class SolverParameters final
    : public NUVAlternateIdentBase<CoNUVSolver, SolverParameters, INUVParameters, &CLSID_NUVParameters> {
public:
    using ComMap = CComMap<ComEntry<INUVParameters>, ComEntry2<IDispatch, INUVParameters>,
                           ComEntry<IProvideClassInfo2>, ComEntry2<IProvideClassInfo, IProvideClassInfo2>,
                           ComEntry<ISupportErrorInfo>, ComEntry<IServiceProvider>, ComSelfEntry>;

    STDMETHOD(get_Item)(VARIANT index, VARIANT* out) override;
    STDMETHOD(put_Item)(VARIANT index, VARIANT value) override;
    STDMETHOD(get__NewEnum)(IUnknown** out) override;
    STDMETHOD(get_Count)(LONG* out) override;
    STDMETHOD(get_Description)(VARIANT index, BSTR* out) override;
    STDMETHOD(GetService)(BSTR name, IUnknown** out) override;
    STDMETHOD(InterfaceSupportsErrorInfo)(REFIID riid) override;
    STDMETHOD(QueryService)(REFGUID service, REFIID riid, void** ppv) override;

private:
    // The parameter name an index stands for: a text index is the name, any other is a position.
    HRESULT ResolveName(EngineSolver* solver, const VARIANT& index, std::string& name);
    HRESULT ReadItem(EngineSolver* solver, const VARIANT& index, VARIANT* out);
};

class CoNUVSolver : public NUVCoClassBase<CoNUVSolver, INUVSolver, &CLSID_NUVSolver>,
                    public ISupportErrorInfo,
                    public IServiceProvider {
public:
    static constexpr const char* kErrorSource = "NUVSolver";
    using ComMap = CComMap<ComEntry<INUVSolver>, ComEntry2<INUVObject, INUVSolver>, ComEntry2<IDispatch, INUVSolver>,
                           ComEntry<IProvideClassInfo2>, ComEntry2<IProvideClassInfo, IProvideClassInfo2>,
                           ComEntry<ISupportErrorInfo>, ComEntry<IServiceProvider>, ComSelfEntry>;

    CoNUVSolver() { m_parameters.m_owner = this; }

    // The wrapper the simulation keeps for `solver`, or a new one registered with it; queried for riid.
    static HRESULT CreateOrFind(ZEQEOSimulation* sim, EngineSolver* solver, REFIID riid, void** ppv);

    ZEQEOSimulation* GetEngineSimulation() const { return m_sim.load(); }
    // A use of the engine simulation (see simulation_use.h): engine objects reached through this wrapper are
    // used only while one is held.
    nuv::SimulationUse Use() const { return nuv::SimulationUse(m_sim); }
    EngineSolver* GetEngineSolver() const { return m_solver.load(); }

    STDMETHOD(get_Parent)(INUVObject** out) override;
    STDMETHOD(get_Simulation)(INUVSimulation** out) override;
    STDMETHOD(get_Name)(BSTR* out) override;
    STDMETHOD(get_IsValid)(VARIANT_BOOL* out) override;
    STDMETHOD(GetService)(BSTR name, IUnknown** out) override;
    STDMETHOD(get_Parameters)(INUVParameters** out) override;
    STDMETHOD(InterfaceSupportsErrorInfo)(REFIID riid) override;
    STDMETHOD(QueryService)(REFGUID service, REFIID riid, void** ppv) override;

    // The model was replaced: the wrapper is invalid at once (see MarkRetired).
    HRESULT OnNotify(LONG value) {
        if (value == 0) {
            MarkRetired();
            DetachEngine();
        }
        return S_OK;
    }
    void DetachEngine() {
        m_solver.store(nullptr);
        m_sim.store(nullptr);
    }

private:
    void Attach(ZEQEOSimulation* sim, EngineSolver* solver);

    std::atomic<ZEQEOSimulation*> m_sim{nullptr};
    std::atomic<EngineSolver*> m_solver{nullptr};
    SolverParameters m_parameters;
};
