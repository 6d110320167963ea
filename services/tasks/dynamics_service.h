// Tasks of the engine's dynamic solver: added from an XML description, switched on or off, removed;
// for the default scope or a named one.
#pragma once
#include "task_service.h"

struct IZEQTaskManager;

class CoNUVDynamicsService
    : public nuv::TaskServiceBase<CoNUVDynamicsService, INUVDynamicsService2, &CLSID_NUVDynamicsService,
                                  &IID_INUVDynamicsService> {
public:
    static constexpr const char* kErrorSource = "NUVDynamicsService";
    using ComMap = CComMap<ComEntryChain<INUVDynamicsService2>, ComEntry<IProvideClassInfo2>,
                           ComEntry2<IProvideClassInfo, IProvideClassInfo2>, ComEntry<ISupportErrorInfo>,
                           ComSelfEntry>;

    STDMETHOD(AddTasks)(BSTR xml, BSTR* error) override;
    STDMETHOD(ActivateTask)(BSTR taskName, VARIANT_BOOL active) override;
    STDMETHOD(RemoveTask)(BSTR taskName) override;
    STDMETHOD(AddTasks2)(BSTR xml, BSTR scope, BSTR* error) override;
    STDMETHOD(ActivateTask2)(BSTR taskName, VARIANT_BOOL active, BSTR scope) override;
    STDMETHOD(RemoveTask2)(BSTR taskName, BSTR scope) override;

private:
    // The task manager of the scope's dynamic solver; E_FAIL when there is none.
    HRESULT TaskManager(BSTR scope, nuv::SimulationUse& use, IZEQTaskManager** manager);
};
