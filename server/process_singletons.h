// The two process-wide objects the module creates at load and releases at unload: the engine
// message object and the interface holder.
#pragma once
#include <windows.h>

// Object-map start/stop hooks: on start create the object (a cached COM object, so the module's own
// reference does not keep the library loaded) and hold it; on stop release it.
void MessagesObjectMain(bool starting);
void InterfaceHolderObjectMain(bool starting);

// A counted interface of a live singleton (CLSID_NUVSimulationMsgs or CLSID_NUVInterfaceHolder);
// E_UNEXPECTED while the module is not started, CLASS_E_CLASSNOTAVAILABLE for other class ids.
HRESULT GetProcessSingleton(REFCLSID clsid, REFIID riid, void** ppv);
