// Umbrella header: the platform's base types, COM and automation declarations.
#pragma once
#include "wtypes.h"
#include "unknwn.h"
#include "oaidl.h"
#include "winbase.h"
#include "winreg.h"
#include "stringapiset.h"
#include "objbase.h"
#include "oleauto.h"
#include "objidl.h"
#include "ocidl.h"
#include "servprov.h"
