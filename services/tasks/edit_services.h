// Structural editing for automation clients: model libraries of a simulation, and blocks of the
// flowsheet or of one hierarchy block.
#pragma once
#include "task_service.h"

class ZEQEOCntr;
class ZEQEOBlock;

class CoNUVEditLibraries
    : public nuv::TaskServiceBase<CoNUVEditLibraries, INUVEditLibraries, &CLSID_NUVEditLibraries> {
public:
    static constexpr const char* kErrorSource = "NUVEditLibraries";
    using ComMap = CComMap<ComEntryChain<INUVEditLibraries>, ComEntry<IProvideClassInfo2>,
                           ComEntry2<IProvideClassInfo, IProvideClassInfo2>, ComEntry<ISupportErrorInfo>,
                           ComSelfEntry>;

    STDMETHOD(AddLibrary)(BSTR name) override;
    STDMETHOD(RemoveLibrary)(BSTR name) override;

private:
    HRESULT Edit(BSTR name, bool add);
};

class CoNUVEditBlock : public CComObjectRootEx<CComMultiThreadModel>,
                             public IDispatchImpl<INUVEditBlock, &IID_INUVEditBlock, &LIBID_NUVClassLib380, 38, 0>,
                             public IProvideClassInfo2Impl<&CLSID_NUVEditBlock, &IID_NULL, &LIBID_NUVClassLib380, 38, 0>,
                             public ISupportErrorInfoImpl<&IID_INUVEditBlock> {
public:
    static constexpr const char* kErrorSource = "NUVEditBlock";
    using ComMap = CComMap<ComEntryChain<INUVEditBlock>, ComEntry<IProvideClassInfo2>,
                           ComEntry2<IProvideClassInfo, IProvideClassInfo2>, ComEntry<ISupportErrorInfo>,
                           ComSelfEntry>;

    // The block service provider's maker: a service editing inside `block`'s own container when a
    // hierarchy block is given, else inside `container`.
    static HRESULT Make(ZEQEOCntr* container, ZEQEOBlock* block, REFIID riid, void** ppv);

    STDMETHOD(AddBlock)(BSTR name, BSTR type, VARIANT args) override;
    STDMETHOD(RemoveBlock)(BSTR name) override;
    STDMETHOD(RemoveAllBlocks)() override;

private:
    // The container edited, or null (with the error reported in *hr) once the engine has let go of it;
    // `use` holds the simulation while the container is used.
    ZEQEOCntr* Target(HRESULT* hr, nuv::SimulationUse& use) const;

    ZEQEOCntr* m_container = nullptr;
    ZEQEOBlock* m_block = nullptr;
    ZEQEOCntr* m_target = nullptr;
    // The automation object the engine keeps for the target container, when it has one: while it is
    // valid the engine pointers above are alive.
    CComPtr<IUnknown> m_targetWrapper;
    // The simulation's wrapper, when the service was asked of a wrapper: the engine objects above are used
    // only under a use of it (they go with the simulation).
    CComPtr<INUVSimulation> m_simulation;
};
