// Interfaces that the engine holds and calls on the automation side: the wrapper held in every engine
// object's wrapper holder, and the service providers registered with a simulation.
#pragma once
#include <unknwn.h>
#include <nuv_guid.h>

class ZEQEOSimulation;
class ZEQEOCntr;
class ZEQEOBlock;

struct INUVWrapper : IUnknown {
    // QueryInterface on the wrapper's automation object; the all-zero IID yields the implementation object.
    virtual HRESULT STDMETHODCALLTYPE QueryOuter(REFIID riid, void** ppv) = 0;
    // The engine renumbered the object: variable and equation wrappers take the new index.
    virtual HRESULT STDMETHODCALLTYPE Notify(LONG value) = 0;
};
DECLARE_UUIDOF(INUVWrapper, "4A1F7C22-93D0-4E5B-B8A6-71C2E90D35F1");
inline constexpr IID IID_INUVWrapper = __uuidof(INUVWrapper);

struct INUVSimServiceProvider : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE CreateService(ZEQEOSimulation* sim, REFGUID service, REFIID riid, void** ppv) = 0;
};
DECLARE_UUIDOF(INUVSimServiceProvider, "6E2B9D14-5C87-4A3F-9B01-D8F47A62C3E9");

// Shares the IID of INUVSimServiceProvider; its one operation takes a container and a block instead.
struct INUVBlockServiceProvider : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE CreateService(ZEQEOCntr* container, ZEQEOBlock* block, REFGUID service,
                                                    REFIID riid, void** ppv) = 0;
};
DECLARE_UUIDOF(INUVBlockServiceProvider, "6E2B9D14-5C87-4A3F-9B01-D8F47A62C3E9");
inline constexpr IID IID_INUVServiceProvider = __uuidof(INUVSimServiceProvider);

// Exported by the system library; the engine resolves them at call time (see zeq_set_wrapper_factory).
typedef HRESULT (*NUVCreateVarWrapperFn)(ZEQEOSimulation* sim, int index, REFIID riid, void** ppv,
                                         INUVWrapper** wrapper);
typedef HRESULT (*NUVCreateEqnWrapperFn)(ZEQEOSimulation* sim, int index, REFIID riid, void** ppv,
                                         INUVWrapper** wrapper);
