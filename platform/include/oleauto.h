// OLE Automation: BSTR, VARIANT, SAFEARRAY and error information functions.
#pragma once
#include "oaidl.h"

// VariantChangeType(Ex) flags.
#define VARIANT_NOVALUEPROP 0x01
#define VARIANT_ALPHABOOL 0x02
#define VARIANT_NOUSEROVERRIDE 0x04
#define VARIANT_CALENDAR_HIJRI 0x08
#define VARIANT_LOCALBOOL 0x10

#define LOCALE_USER_DEFAULT 0x0400
#define LOCALE_SYSTEM_DEFAULT 0x0800
#define LOCALE_NEUTRAL 0x0000
#define LOCALE_INVARIANT 0x007f

extern "C" {
BSTR STDAPICALLTYPE SysAllocString(const OLECHAR* psz);
BSTR STDAPICALLTYPE SysAllocStringLen(const OLECHAR* strIn, UINT ui);
BSTR STDAPICALLTYPE SysAllocStringByteLen(LPCSTR psz, UINT len);
INT STDAPICALLTYPE SysReAllocString(BSTR* pbstr, const OLECHAR* psz);
INT STDAPICALLTYPE SysReAllocStringLen(BSTR* pbstr, const OLECHAR* psz, UINT len);
void STDAPICALLTYPE SysFreeString(BSTR bstrString);
UINT STDAPICALLTYPE SysStringLen(BSTR pbstr);
UINT STDAPICALLTYPE SysStringByteLen(BSTR bstr);

void STDAPICALLTYPE VariantInit(VARIANTARG* pvarg);
HRESULT STDAPICALLTYPE VariantClear(VARIANTARG* pvarg);
HRESULT STDAPICALLTYPE VariantCopy(VARIANTARG* pvargDest, const VARIANTARG* pvargSrc);
HRESULT STDAPICALLTYPE VariantCopyInd(VARIANT* pvarDest, const VARIANTARG* pvargSrc);
// Conversions read and write numbers with "." as the decimal point whatever the locale id says, and
// refuse text that is not plainly a number (no thousands separators, currency signs or parentheses).
HRESULT STDAPICALLTYPE VariantChangeType(VARIANTARG* pvargDest, const VARIANTARG* pvarSrc, USHORT wFlags,
                                         VARTYPE vt);
HRESULT STDAPICALLTYPE VariantChangeTypeEx(VARIANTARG* pvargDest, const VARIANTARG* pvarSrc, LCID lcid,
                                           USHORT wFlags, VARTYPE vt);

HRESULT STDAPICALLTYPE VarR8FromStr(LPCOLESTR strIn, LCID lcid, ULONG dwFlags, DOUBLE* pdblOut);
HRESULT STDAPICALLTYPE VarI4FromStr(LPCOLESTR strIn, LCID lcid, ULONG dwFlags, LONG* plOut);
HRESULT STDAPICALLTYPE VarBstrFromR8(DOUBLE dblIn, LCID lcid, ULONG dwFlags, BSTR* pbstrOut);
HRESULT STDAPICALLTYPE VarBstrFromI4(LONG lIn, LCID lcid, ULONG dwFlags, BSTR* pbstrOut);

SAFEARRAY* STDAPICALLTYPE SafeArrayCreate(VARTYPE vt, UINT cDims, SAFEARRAYBOUND* rgsabound);
SAFEARRAY* STDAPICALLTYPE SafeArrayCreateVector(VARTYPE vt, LONG lLbound, ULONG cElements);
HRESULT STDAPICALLTYPE SafeArrayAllocDescriptor(UINT cDims, SAFEARRAY** ppsaOut);
HRESULT STDAPICALLTYPE SafeArrayAllocDescriptorEx(VARTYPE vt, UINT cDims, SAFEARRAY** ppsaOut);
HRESULT STDAPICALLTYPE SafeArrayAllocData(SAFEARRAY* psa);
HRESULT STDAPICALLTYPE SafeArrayDestroy(SAFEARRAY* psa);
HRESULT STDAPICALLTYPE SafeArrayDestroyData(SAFEARRAY* psa);
HRESULT STDAPICALLTYPE SafeArrayDestroyDescriptor(SAFEARRAY* psa);
HRESULT STDAPICALLTYPE SafeArrayLock(SAFEARRAY* psa);
HRESULT STDAPICALLTYPE SafeArrayUnlock(SAFEARRAY* psa);
UINT STDAPICALLTYPE SafeArrayGetDim(SAFEARRAY* psa);
UINT STDAPICALLTYPE SafeArrayGetElemsize(SAFEARRAY* psa);
HRESULT STDAPICALLTYPE SafeArrayGetUBound(SAFEARRAY* psa, UINT nDim, LONG* plUbound);
HRESULT STDAPICALLTYPE SafeArrayGetLBound(SAFEARRAY* psa, UINT nDim, LONG* plLbound);
HRESULT STDAPICALLTYPE SafeArrayGetVartype(SAFEARRAY* psa, VARTYPE* pvt);
HRESULT STDAPICALLTYPE SafeArraySetIID(SAFEARRAY* psa, REFGUID guid);
HRESULT STDAPICALLTYPE SafeArrayGetIID(SAFEARRAY* psa, GUID* pguid);
HRESULT STDAPICALLTYPE SafeArrayPtrOfIndex(SAFEARRAY* psa, LONG* rgIndices, void** ppvData);
// Get and put copy deeply (strings, interfaces, VARIANTs). Get treats a VARIANT destination as
// uninitialised storage; put stores a null BSTR as an empty one.
HRESULT STDAPICALLTYPE SafeArrayGetElement(SAFEARRAY* psa, LONG* rgIndices, void* pv);
HRESULT STDAPICALLTYPE SafeArrayPutElement(SAFEARRAY* psa, LONG* rgIndices, void* pv);
HRESULT STDAPICALLTYPE SafeArrayAccessData(SAFEARRAY* psa, void** ppvData);
HRESULT STDAPICALLTYPE SafeArrayUnaccessData(SAFEARRAY* psa);
HRESULT STDAPICALLTYPE SafeArrayCopy(SAFEARRAY* psa, SAFEARRAY** ppsaOut);
HRESULT STDAPICALLTYPE SafeArrayCopyData(SAFEARRAY* psaSource, SAFEARRAY* psaTarget);
HRESULT STDAPICALLTYPE SafeArrayRedim(SAFEARRAY* psa, SAFEARRAYBOUND* psaboundNew);

// Error information: one slot per thread. GetErrorInfo hands the object over and empties the slot
// (S_FALSE and null when it is empty).
HRESULT STDAPICALLTYPE CreateErrorInfo(ICreateErrorInfo** pperrinfo);
HRESULT STDAPICALLTYPE SetErrorInfo(ULONG dwReserved, IErrorInfo* perrinfo);
HRESULT STDAPICALLTYPE GetErrorInfo(ULONG dwReserved, IErrorInfo** pperrinfo);
}
