// The providers the engine calls when a client asks a simulation or a block for a named service, and
// the registry through which the service classes make themselves known to them.
#pragma once
#include <windows.h>

#include "nuv_wrapper.h"

class CoNUVSimulation;
class ZEQEOCntr;
class ZEQEOBlock;

namespace nuv {

// Creates a new service object bound to the simulation wrapper (the service keeps a counted reference to
// it), queried for riid.
using SimServiceMaker = HRESULT (*)(CoNUVSimulation* simulation, REFIID riid, void** ppv);
// Registers the maker of the service whose id is `service` (its interface id); null removes it.
void RegisterSimServiceMaker(REFGUID service, SimServiceMaker maker);

// Creates a new block-editing service bound to (container, block), queried for riid.
using BlockServiceMaker = HRESULT (*)(ZEQEOCntr* container, ZEQEOBlock* block, REFIID riid, void** ppv);
void RegisterBlockServiceMaker(BlockServiceMaker maker);

// New providers, each with one reference for the caller.
HRESULT CreateSimServiceProvider(INUVSimServiceProvider** out);
HRESULT CreateBlockServiceProvider(INUVBlockServiceProvider** out);

}  // namespace nuv
