// ActiveX control hosting: OLE start-up, a control created by CLSID as a
// child window with an id, and calls by dispatch id.
#pragma once

#include "Wnd.h"

#include <ole2.h>
#include <ocidl.h>

// Parameter descriptions for the dispatch calls, one byte per argument.
// Arguments are passed as: LPCWSTR, BOOL, short, long, double, IDispatch*.
#define VTS_BSTR "\x08"
#define VTS_BOOL "\x0B"
#define VTS_I2 "\x02"
#define VTS_I4 "\x03"
#define VTS_R8 "\x05"
#define VTS_DISPATCH "\x09"
#define VTS_NONE ""

// A failed dispatch call: the failure code and, when the control raised an
// exception, its own description.
class COleDispatchException : public CException {
public:
    COleDispatchException(SCODE error, std::wstring description = L"", std::wstring source = L"")
        : m_scError(error), m_strDescription(std::move(description)), m_strSource(std::move(source)) {}
    std::wstring GetErrorMessage() const override;

    SCODE m_scError;
    std::wstring m_strDescription;
    std::wstring m_strSource;
};

// OLE for the calling thread, once; the application ends it after its loop.
BOOL AfxOleInit();
void AfxOleTerm();
// Control containment needs nothing more here; kept so that start-up reads
// as the steps it takes.
void AfxEnableControlContainer();

// Calls a member by dispatch id. Results: VT_EMPTY (none), VT_BSTR
// (std::wstring*), VT_BOOL (BOOL*), VT_I2 (short*), VT_I4 (long*), VT_R8
// (double*), VT_DISPATCH (IDispatch**, a reference the caller owns). Any
// failure is thrown as COleDispatchException*.
void AfxInvokeHelper(IDispatch* dispatch, DISPID id, WORD flags, VARTYPE vtRet, void* ret, const char* params,
                     ...);

// Holds one dispatch interface (a control's sub-object) and releases it.
class COleDispatchDriver {
public:
    COleDispatchDriver() = default;
    explicit COleDispatchDriver(IDispatch* dispatch, BOOL autoRelease = TRUE)
        : m_lpDispatch(dispatch), m_bAutoRelease(autoRelease) {}
    ~COleDispatchDriver() { ReleaseDispatch(); }
    COleDispatchDriver(const COleDispatchDriver&) = delete;
    COleDispatchDriver& operator=(const COleDispatchDriver&) = delete;

    void AttachDispatch(IDispatch* dispatch, BOOL autoRelease = TRUE);
    IDispatch* DetachDispatch();
    void ReleaseDispatch();

    void InvokeHelper(DISPID id, WORD flags, VARTYPE vtRet, void* ret, const char* params, ...);
    void GetProperty(DISPID id, VARTYPE vtProp, void* value);
    void SetProperty(DISPID id, VARTYPE vtProp, ...);

    IDispatch* m_lpDispatch = nullptr;
    BOOL m_bAutoRelease = TRUE;
};
