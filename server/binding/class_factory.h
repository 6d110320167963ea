// The engine-facing factory: the host and the engine obtain the automation object of an engine object
// here, and register the library's services with every engine simulation.
#pragma once
#include <windows.h>

#include "nuv_export.h"
#include "nuv_wrapper.h"
#include "nuvclasslib.h"

class ZEQEOSimulation;
class ZEQEOCntr;
class ZEQEOBlock;

class NUV_EXPORT NUVClassFactory {
public:
    // The simulation's wrapper, found or created, queried for riid.
    static HRESULT QueryCreateWrapper(ZEQEOSimulation* sim, REFIID riid, void** ppv);
    // The wrapper of a container (the flowsheet or a hierarchy block's), found or created.
    static HRESULT QueryCreateWrapper(ZEQEOSimulation* sim, ZEQEOCntr* container, REFIID riid, void** ppv);
    // The wrapper of a block, found or created; a hierarchy block shares it with its container.
    static HRESULT QueryCreateWrapper(ZEQEOSimulation* sim, ZEQEOBlock* block, REFIID riid, void** ppv);
    // A new variable or equation wrapper; its INUVWrapper goes back to the engine through `wrapper`.
    static HRESULT QueryCreateVarWrapper(ZEQEOSimulation* sim, int index, REFIID riid, void** ppv,
                                         INUVWrapper** wrapper);
    static HRESULT QueryCreateEqnWrapper(ZEQEOSimulation* sim, int index, REFIID riid, void** ppv,
                                         INUVWrapper** wrapper);
    // Registers the nine simulation services and the block-editing service with the simulation.
    static void RegisterSimulationServices(ZEQEOSimulation* sim);

    // QueryCreateWrapper for INUVSimulation.
    static HRESULT QuerySimulationWrapper(ZEQEOSimulation* sim, INUVSimulation** out);
};

// Plain twins for callers that do not bind to the class.
extern "C" {
NUV_EXPORT HRESULT NUVClassFactory_QueryCreateWrapper(ZEQEOSimulation* sim, REFIID riid, void** ppv);
NUV_EXPORT HRESULT NUVClassFactory_QueryCreateVarWrapper(ZEQEOSimulation* sim, int index, REFIID riid, void** ppv,
                                                         INUVWrapper** wrapper);
NUV_EXPORT HRESULT NUVClassFactory_QueryCreateEqnWrapper(ZEQEOSimulation* sim, int index, REFIID riid, void** ppv,
                                                         INUVWrapper** wrapper);
NUV_EXPORT void NUVClassFactory_RegisterSimulationServices(ZEQEOSimulation* sim);
}

namespace nuv {

// Makers of the variable and equation wrappers, installed by the classes that implement them. Until one
// is installed the factory answers E_NOTIMPL.
using IndexedWrapperMaker = HRESULT (*)(ZEQEOSimulation* sim, int index, REFIID riid, void** ppv,
                                        INUVWrapper** wrapper);
void SetVariableWrapperMaker(IndexedWrapperMaker maker);
void SetEquationWrapperMaker(IndexedWrapperMaker maker);

}  // namespace nuv
