// OLE Automation: BSTR, VARIANT, SAFEARRAY and error information functions.
#pragma once
#include "oaidl.h"

extern "C" {
BSTR STDAPICALLTYPE SysAllocString(const OLECHAR* psz);
BSTR STDAPICALLTYPE SysAllocStringLen(const OLECHAR* strIn, UINT ui);
BSTR STDAPICALLTYPE SysAllocStringByteLen(LPCSTR psz, UINT len);
INT STDAPICALLTYPE SysReAllocString(BSTR* pbstr, const OLECHAR* psz);
INT STDAPICALLTYPE SysReAllocStringLen(BSTR* pbstr, const OLECHAR* psz, UINT len);
void STDAPICALLTYPE SysFreeString(BSTR bstrString);
UINT STDAPICALLTYPE SysStringLen(BSTR pbstr);
UINT STDAPICALLTYPE SysStringByteLen(BSTR bstr);
}
