// Controls and connection points: class information, connection point containers and enumerators.
#pragma once
#include "oaidl.h"

struct ITypeInfo;

struct IProvideClassInfo : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetClassInfo(ITypeInfo** ppTI) = 0;
};
DECLARE_UUIDOF(IProvideClassInfo, "B196B283-BAB4-101A-B69C-00AA00341D07");
inline constexpr IID IID_IProvideClassInfo = __uuidof(IProvideClassInfo);

enum tagGUIDKIND { GUIDKIND_DEFAULT_SOURCE_DISP_IID = 1 };

struct IProvideClassInfo2 : IProvideClassInfo {
    virtual HRESULT STDMETHODCALLTYPE GetGUID(DWORD dwGuidKind, GUID* pGUID) = 0;
};
DECLARE_UUIDOF(IProvideClassInfo2, "A6BC3AC0-DBAA-11CE-9DE3-00AA004BB851");
inline constexpr IID IID_IProvideClassInfo2 = __uuidof(IProvideClassInfo2);

typedef struct tagCONNECTDATA {
    IUnknown* pUnk;
    DWORD dwCookie;
} CONNECTDATA, *LPCONNECTDATA;

struct IConnectionPoint;
struct IConnectionPointContainer;

struct IEnumConnections : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Next(ULONG cConnections, LPCONNECTDATA rgcd, ULONG* pcFetched) = 0;
    virtual HRESULT STDMETHODCALLTYPE Skip(ULONG cConnections) = 0;
    virtual HRESULT STDMETHODCALLTYPE Reset() = 0;
    virtual HRESULT STDMETHODCALLTYPE Clone(IEnumConnections** ppEnum) = 0;
};
DECLARE_UUIDOF(IEnumConnections, "B196B287-BAB4-101A-B69C-00AA00341D07");
inline constexpr IID IID_IEnumConnections = __uuidof(IEnumConnections);

struct IConnectionPoint : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID* pIID) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetConnectionPointContainer(IConnectionPointContainer** ppCPC) = 0;
    virtual HRESULT STDMETHODCALLTYPE Advise(IUnknown* pUnkSink, DWORD* pdwCookie) = 0;
    virtual HRESULT STDMETHODCALLTYPE Unadvise(DWORD dwCookie) = 0;
    virtual HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections** ppEnum) = 0;
};
typedef IConnectionPoint* LPCONNECTIONPOINT;
DECLARE_UUIDOF(IConnectionPoint, "B196B286-BAB4-101A-B69C-00AA00341D07");
inline constexpr IID IID_IConnectionPoint = __uuidof(IConnectionPoint);

struct IEnumConnectionPoints : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Next(ULONG cConnections, LPCONNECTIONPOINT* ppCP, ULONG* pcFetched) = 0;
    virtual HRESULT STDMETHODCALLTYPE Skip(ULONG cConnections) = 0;
    virtual HRESULT STDMETHODCALLTYPE Reset() = 0;
    virtual HRESULT STDMETHODCALLTYPE Clone(IEnumConnectionPoints** ppEnum) = 0;
};
DECLARE_UUIDOF(IEnumConnectionPoints, "B196B285-BAB4-101A-B69C-00AA00341D07");
inline constexpr IID IID_IEnumConnectionPoints = __uuidof(IEnumConnectionPoints);

struct IConnectionPointContainer : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints** ppEnum) = 0;
    virtual HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) = 0;
};
DECLARE_UUIDOF(IConnectionPointContainer, "B196B284-BAB4-101A-B69C-00AA00341D07");
inline constexpr IID IID_IConnectionPointContainer = __uuidof(IConnectionPointContainer);
