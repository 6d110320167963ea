// The two process-wide objects the module creates at load and releases at unload: the engine
// message object and the interface holder.
#pragma once
#include <windows.h>

#include <unknwn.h>

// Object-map start/stop hooks: on start create the object and hold one reference; on stop release it.
// They only allocate: nothing in them can block.
void MessagesObjectMain(bool starting);
void InterfaceHolderObjectMain(bool starting);

// A counted interface of a live singleton (CLSID_NUVSimulationMsgs or CLSID_NUVInterfaceHolder);
// E_UNEXPECTED while the module is not started, CLASS_E_CLASSNOTAVAILABLE for other class ids.
HRESULT GetProcessSingleton(REFCLSID clsid, REFIID riid, void** ppv);

// Make the objects, each with one reference handed to the caller. The classes create them as cached
// objects (CComObjectCached), so the module's own reference does not keep the library loaded.
HRESULT CreateMessagesSingleton(IUnknown** out);
HRESULT CreateInterfaceHolderSingleton(IUnknown** out);
