#include "OleControl.h"

#include "App.h"
#include "Handles.h"

#include <cstdarg>
#include <vector>

namespace {

BOOL t_oleInitialized = FALSE;

} // namespace

// ---------------------------------------------------------------------------
// The site a hosted control talks to: client site and in-place site. It lives
// as long as the control holds it; the wrapper window holds one reference.

class COleControlSite : public IOleClientSite, public IOleInPlaceSiteEx {
public:
    COleControlSite(HWND container, const RECT& rect) : m_hContainer(container), m_rect(rect) {}

    // Creates, initialises and activates the control; false leaves nothing.
    BOOL Create(REFCLSID clsid);
    void Destroy();
    void Move(const RECT& rect);

    CComPtr<IOleObject> m_pObject;
    CComPtr<IOleInPlaceObject> m_pInPlace;
    CComPtr<IDispatch> m_pDispatch;
    HWND m_hWndCtrl = nullptr;

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override
    {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        if (iid == IID_IUnknown || iid == IID_IOleClientSite)
            *out = static_cast<IOleClientSite*>(this);
        else if (iid == IID_IOleWindow || iid == IID_IOleInPlaceSite || iid == IID_IOleInPlaceSiteEx)
            *out = static_cast<IOleInPlaceSiteEx*>(this);
        else
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++m_refs; }
    STDMETHODIMP_(ULONG) Release() override
    {
        const ULONG left = --m_refs;
        if (left == 0)
            delete this;
        return left;
    }

    // IOleClientSite
    STDMETHODIMP SaveObject() override { return E_NOTIMPL; }
    STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker** out) override
    {
        if (out)
            *out = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP GetContainer(IOleContainer** out) override
    {
        if (out)
            *out = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP ShowObject() override { return S_OK; }
    STDMETHODIMP OnShowWindow(BOOL) override { return S_OK; }
    STDMETHODIMP RequestNewObjectLayout() override { return E_NOTIMPL; }

    // IOleWindow
    STDMETHODIMP GetWindow(HWND* out) override
    {
        if (!out)
            return E_POINTER;
        *out = m_hContainer;
        return S_OK;
    }
    STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

    // IOleInPlaceSite
    STDMETHODIMP CanInPlaceActivate() override { return S_OK; }
    STDMETHODIMP OnInPlaceActivate() override { return S_OK; }
    STDMETHODIMP OnUIActivate() override { return S_OK; }
    STDMETHODIMP GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** doc, LPRECT pos, LPRECT clip,
                                  LPOLEINPLACEFRAMEINFO info) override
    {
        // No frame or document window: the controls we host need neither
        // menus nor toolbars merged.
        if (frame)
            *frame = nullptr;
        if (doc)
            *doc = nullptr;
        if (pos)
            *pos = m_rect;
        if (clip)
            *clip = m_rect;
        if (info) {
            info->fMDIApp = FALSE;
            info->hwndFrame = ::GetAncestor(m_hContainer, GA_ROOT);
            info->haccel = nullptr;
            info->cAccelEntries = 0;
        }
        return S_OK;
    }
    STDMETHODIMP Scroll(SIZE) override { return E_NOTIMPL; }
    STDMETHODIMP OnUIDeactivate(BOOL) override { return S_OK; }
    STDMETHODIMP OnInPlaceDeactivate() override { return S_OK; }
    STDMETHODIMP DiscardUndoState() override { return E_NOTIMPL; }
    STDMETHODIMP DeactivateAndUndo() override { return E_NOTIMPL; }
    STDMETHODIMP OnPosRectChange(LPCRECT rect) override
    {
        if (rect)
            Move(*rect);
        return S_OK;
    }

    // IOleInPlaceSiteEx
    STDMETHODIMP OnInPlaceActivateEx(BOOL* noRedraw, DWORD) override
    {
        if (noRedraw)
            *noRedraw = FALSE;
        return S_OK;
    }
    STDMETHODIMP OnInPlaceDeactivateEx(BOOL) override { return S_OK; }
    STDMETHODIMP RequestUIActivate() override { return S_OK; }

private:
    virtual ~COleControlSite() = default;

    ULONG m_refs = 1;
    HWND m_hContainer;
    RECT m_rect;
};

BOOL COleControlSite::Create(REFCLSID clsid)
{
    // What a failed call left in its out parameter is no reference: it is
    // let go of unreleased.
    if (FAILED(::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IOleObject, m_pObject.Receive()))) {
        m_pObject.Detach();
        return FALSE;
    }
    m_pObject->SetClientSite(this);
    // A control made from nothing is told so before it is shown.
    {
        CComPtr<IPersistStreamInit> persist;
        if (SUCCEEDED(m_pObject->QueryInterface(IID_IPersistStreamInit, persist.Receive())))
            persist->InitNew();
    }
    RECT rect = m_rect;
    if (FAILED(m_pObject->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, this, 0, m_hContainer, &rect)) ||
        FAILED(m_pObject->QueryInterface(IID_IOleInPlaceObject, m_pInPlace.Receive())) ||
        FAILED(m_pInPlace->GetWindow(&m_hWndCtrl)) || !::IsWindow(m_hWndCtrl)) {
        m_hWndCtrl = nullptr;
        Destroy();
        return FALSE;
    }
    if (FAILED(m_pObject->QueryInterface(IID_IDispatch, m_pDispatch.Receive())))
        m_pDispatch.Detach();
    return TRUE;
}

void COleControlSite::Destroy()
{
    // Deactivation takes the control's window down; closing and cutting the
    // site come before the last release, so that the control never calls a
    // site its host has let go.
    if (m_pInPlace) {
        m_pInPlace->InPlaceDeactivate();
        m_pInPlace.Reset();
    }
    m_pDispatch.Reset();
    if (m_pObject) {
        m_pObject->Close(OLECLOSE_NOSAVE);
        m_pObject->SetClientSite(nullptr);
        m_pObject.Reset();
    }
    if (m_hWndCtrl && ::IsWindow(m_hWndCtrl))
        ::DestroyWindow(m_hWndCtrl);
    m_hWndCtrl = nullptr;
}

void COleControlSite::Move(const RECT& rect)
{
    m_rect = rect;
    if (m_pInPlace)
        m_pInPlace->SetObjectRects(&m_rect, &m_rect);
    else if (m_hWndCtrl)
        ::MoveWindow(m_hWndCtrl, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top, TRUE);
}

// ---------------------------------------------------------------------------
// CWnd's control members

BOOL CWnd::CreateControl(REFCLSID clsid, LPCWSTR windowName, DWORD style, const RECT& rect, CWnd* parent, UINT id)
{
    if (m_hWnd || m_pCtrlSite || !parent || !parent->IsWindow())
        return FALSE;
    CComPtr<COleControlSite> site;
    site.Attach(new COleControlSite(parent->m_hWnd, rect));
    if (!site->Create(clsid))
        return FALSE;
    HWND hwnd = site->m_hWndCtrl;
    ::SetWindowLongPtrW(hwnd, GWLP_ID, static_cast<LONG_PTR>(id));
    if (windowName && *windowName)
        ::SetWindowTextW(hwnd, windowName);
    // The control's own procedure keeps its messages: the object only stands
    // for the window.
    if (!Attach(hwnd)) {
        site->Destroy();
        return FALSE;
    }
    m_pCtrlSite = site.Detach();
    ::ShowWindow(hwnd, (style & WS_VISIBLE) ? SW_SHOWNA : SW_HIDE);
    return TRUE;
}

void CWnd::DestroyControlSite()
{
    CComPtr<COleControlSite> site;
    site.Attach(m_pCtrlSite);
    m_pCtrlSite = nullptr;
    if (m_hWnd)
        DetachFromMap();
    site->Destroy();
}

IUnknown* CWnd::GetControlUnknown() const
{
    return m_pCtrlSite ? m_pCtrlSite->m_pObject.Get() : nullptr;
}

BOOL CWnd::MoveWindow(const RECT& r, BOOL repaint)
{
    if (m_pCtrlSite) {
        m_pCtrlSite->Move(r);
        return TRUE;
    }
    return ::MoveWindow(m_hWnd, r.left, r.top, r.right - r.left, r.bottom - r.top, repaint);
}

// ---------------------------------------------------------------------------
// Dispatch calls

namespace {

IDispatch* ControlDispatch(COleControlSite* site)
{
    if (!site)
        throw new COleDispatchException(E_HANDLE, L"No control is hosted in this window.");
    if (!site->m_pDispatch)
        throw new COleDispatchException(E_NOINTERFACE, L"The control offers no dispatch interface.");
    return site->m_pDispatch.Get();
}

void InvokeV(IDispatch* dispatch, DISPID id, WORD flags, VARTYPE vtRet, void* ret, const char* params, va_list ap)
{
    if (!dispatch)
        throw new COleDispatchException(E_POINTER, L"No dispatch interface to call.");
    const size_t count = params ? strlen(params) : 0;
    // Arguments go in reversed order, as IDispatch::Invoke expects them.
    std::vector<VARIANT> args(count);
    for (size_t i = 0; i < count; ++i) {
        VARIANT& v = args[count - 1 - i];
        ::VariantInit(&v);
        switch (static_cast<VARTYPE>(params[i])) {
        case VT_BSTR: {
            const wchar_t* text = va_arg(ap, const wchar_t*);
            v.vt = VT_BSTR;
            v.bstrVal = ::SysAllocString(text ? text : L"");
            break;
        }
        case VT_BOOL:
            v.vt = VT_BOOL;
            v.boolVal = va_arg(ap, BOOL) ? VARIANT_TRUE : VARIANT_FALSE;
            break;
        case VT_I2:
            v.vt = VT_I2;
            v.iVal = static_cast<short>(va_arg(ap, int));
            break;
        case VT_I4:
            v.vt = VT_I4;
            v.lVal = va_arg(ap, long);
            break;
        case VT_R8:
            v.vt = VT_R8;
            v.dblVal = va_arg(ap, double);
            break;
        case VT_DISPATCH:
            v.vt = VT_DISPATCH;
            v.pdispVal = va_arg(ap, IDispatch*);
            if (v.pdispVal)
                v.pdispVal->AddRef();
            break;
        default:
            for (VARIANT& done : args)
                ::VariantClear(&done);
            throw new COleDispatchException(DISP_E_BADVARTYPE, L"Unsupported argument type.");
        }
    }

    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS dp = {};
    dp.rgvarg = count ? args.data() : nullptr;
    dp.cArgs = static_cast<UINT>(count);
    if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) {
        dp.rgdispidNamedArgs = &named;
        dp.cNamedArgs = 1;
    }
    VARIANT result;
    ::VariantInit(&result);
    EXCEPINFO info = {};
    UINT argError = 0;
    HRESULT hr = dispatch->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &dp,
                                  vtRet == VT_EMPTY ? nullptr : &result, &info, &argError);
    for (VARIANT& v : args)
        ::VariantClear(&v);
    if (FAILED(hr)) {
        ::VariantClear(&result);
        if (hr == DISP_E_EXCEPTION) {
            if (info.pfnDeferredFillIn)
                info.pfnDeferredFillIn(&info);
            std::wstring description = info.bstrDescription ? info.bstrDescription : L"";
            std::wstring source = info.bstrSource ? info.bstrSource : L"";
            const SCODE code = info.scode ? info.scode : (info.wCode ? MAKE_HRESULT(1, FACILITY_ITF, info.wCode) : hr);
            ::SysFreeString(info.bstrDescription);
            ::SysFreeString(info.bstrSource);
            ::SysFreeString(info.bstrHelpFile);
            throw new COleDispatchException(code, description, source);
        }
        throw new COleDispatchException(hr);
    }
    if (vtRet == VT_EMPTY || !ret)
        return;
    if (result.vt != vtRet) {
        hr = ::VariantChangeType(&result, &result, 0, vtRet);
        if (FAILED(hr)) {
            ::VariantClear(&result);
            throw new COleDispatchException(hr, L"The control's answer has an unexpected type.");
        }
    }
    switch (vtRet) {
    case VT_BSTR:
        static_cast<std::wstring*>(ret)->assign(result.bstrVal ? result.bstrVal : L"",
                                                 result.bstrVal ? ::SysStringLen(result.bstrVal) : 0);
        break;
    case VT_BOOL:
        *static_cast<BOOL*>(ret) = result.boolVal != VARIANT_FALSE;
        break;
    case VT_I2:
        *static_cast<short*>(ret) = result.iVal;
        break;
    case VT_I4:
        *static_cast<long*>(ret) = result.lVal;
        break;
    case VT_R8:
        *static_cast<double*>(ret) = result.dblVal;
        break;
    case VT_DISPATCH:
        // The reference moves to the caller.
        *static_cast<IDispatch**>(ret) = result.pdispVal;
        result.vt = VT_EMPTY;
        break;
    default:
        ::VariantClear(&result);
        throw new COleDispatchException(DISP_E_BADVARTYPE, L"Unsupported result type.");
    }
    ::VariantClear(&result);
}

void SetPropertyV(IDispatch* dispatch, DISPID id, VARTYPE vtProp, va_list ap)
{
    const char params[2] = {static_cast<char>(vtProp), 0};
    InvokeV(dispatch, id, vtProp == VT_DISPATCH ? DISPATCH_PROPERTYPUTREF : DISPATCH_PROPERTYPUT, VT_EMPTY,
            nullptr, params, ap);
}

// va_start needs the named argument just before the ellipsis; the helpers
// above take the list from there.
struct VaList {
    va_list ap;
    ~VaList() { va_end(ap); }
};

} // namespace

std::wstring COleDispatchException::GetErrorMessage() const
{
    if (!m_strDescription.empty())
        return m_strDescription;
    wchar_t* text = nullptr;
    std::wstring message;
    if (::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                         nullptr, static_cast<DWORD>(m_scError), 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr) &&
        text) {
        message = text;
        ::LocalFree(text);
        while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' || message.back() == L' '))
            message.pop_back();
    }
    if (message.empty())
        message = FormatString(L"Dispatch error 0x%08lX.", static_cast<unsigned long>(m_scError));
    return message;
}

BOOL AfxOleInit()
{
    if (t_oleInitialized)
        return TRUE;
    if (FAILED(::OleInitialize(nullptr)))
        return FALSE;
    t_oleInitialized = TRUE;
    return TRUE;
}

void AfxOleTerm()
{
    if (t_oleInitialized) {
        t_oleInitialized = FALSE;
        ::OleUninitialize();
    }
}

void AfxEnableControlContainer() {}

void AfxInvokeHelper(IDispatch* dispatch, DISPID id, WORD flags, VARTYPE vtRet, void* ret, const char* params, ...)
{
    VaList list;
    va_start(list.ap, params);
    InvokeV(dispatch, id, flags, vtRet, ret, params, list.ap);
}

void CWnd::InvokeHelper(DISPID id, WORD flags, VARTYPE vtRet, void* ret, const char* params, ...)
{
    IDispatch* dispatch = ControlDispatch(m_pCtrlSite);
    VaList list;
    va_start(list.ap, params);
    InvokeV(dispatch, id, flags, vtRet, ret, params, list.ap);
}

void CWnd::GetProperty(DISPID id, VARTYPE vtProp, void* value)
{
    AfxInvokeHelper(ControlDispatch(m_pCtrlSite), id, DISPATCH_PROPERTYGET, vtProp, value, VTS_NONE);
}

void CWnd::SetProperty(DISPID id, VARTYPE vtProp, ...)
{
    IDispatch* dispatch = ControlDispatch(m_pCtrlSite);
    VaList list;
    va_start(list.ap, vtProp);
    SetPropertyV(dispatch, id, vtProp, list.ap);
}

// ---------------------------------------------------------------------------
// COleDispatchDriver

void COleDispatchDriver::AttachDispatch(IDispatch* dispatch, BOOL autoRelease)
{
    ReleaseDispatch();
    m_lpDispatch = dispatch;
    m_bAutoRelease = autoRelease;
}

IDispatch* COleDispatchDriver::DetachDispatch()
{
    IDispatch* dispatch = m_lpDispatch;
    m_lpDispatch = nullptr;
    return dispatch;
}

void COleDispatchDriver::ReleaseDispatch()
{
    if (m_lpDispatch && m_bAutoRelease)
        m_lpDispatch->Release();
    m_lpDispatch = nullptr;
}

void COleDispatchDriver::InvokeHelper(DISPID id, WORD flags, VARTYPE vtRet, void* ret, const char* params, ...)
{
    VaList list;
    va_start(list.ap, params);
    InvokeV(m_lpDispatch, id, flags, vtRet, ret, params, list.ap);
}

void COleDispatchDriver::GetProperty(DISPID id, VARTYPE vtProp, void* value)
{
    AfxInvokeHelper(m_lpDispatch, id, DISPATCH_PROPERTYGET, vtProp, value, VTS_NONE);
}

void COleDispatchDriver::SetProperty(DISPID id, VARTYPE vtProp, ...)
{
    VaList list;
    va_start(list.ap, vtProp);
    SetPropertyV(m_lpDispatch, id, vtProp, list.ap);
}
