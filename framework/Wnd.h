// Window objects: the handle-to-object map, creation and subclassing, and the
// one message mechanism used everywhere (WindowProc -> On... handlers -> Default).
#pragma once

#include "Types.h"

class CDC;
class COleControlSite;

// Errors that cross the framework boundary (internet and dispatch failures) are
// thrown as heap objects, MFC style, and disposed of with Delete().
class CException {
public:
    virtual ~CException() = default;
    virtual std::wstring GetErrorMessage() const = 0;
    // Shows the error as an application message box.
    virtual int ReportError(UINT type = MB_OK) const;
    void Delete() { delete this; }
};

class CWnd {
public:
    CWnd() = default;
    virtual ~CWnd();
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;

    HWND m_hWnd = nullptr;
    // A top-level window's shortcuts: translated before any window of its
    // tree sees the key (a child dialog's IsDialogMessage would take it).
    // Loaded from resources, so nothing to destroy.
    HACCEL m_hAccelTable = nullptr;

    operator HWND() const { return m_hWnd; }
    HWND GetSafeHwnd() const { return m_hWnd; }

    // The object that owns hwnd through this framework, or null.
    static CWnd* FromHandlePermanent(HWND hwnd);

    // Creation: the object is attached and its WindowProc sees every message,
    // WM_NCCREATE included. A null class name uses the framework's plain class.
    BOOL CreateEx(DWORD exStyle, LPCWSTR className, LPCWSTR windowName, DWORD style,
                  const RECT& rect, CWnd* parent, UINT id, LPVOID param = nullptr);
    BOOL Create(LPCWSTR className, LPCWSTR windowName, DWORD style, const RECT& rect,
                CWnd* parent, UINT id);

    // Attach binds the object to an existing window without taking its messages;
    // SubclassWindow also routes the window's messages through WindowProc.
    BOOL Attach(HWND hwnd);
    HWND Detach();
    BOOL SubclassWindow(HWND hwnd);
    BOOL SubclassDlgItem(UINT id, CWnd* parent);
    HWND UnsubclassWindow();

    virtual BOOL DestroyWindow();

    // Keyboard and mouse messages pass through here, for the target window and
    // each of its parents, before dialog processing and dispatch. TRUE = handled.
    virtual BOOL PreTranslateMessage(MSG* msg);

    // Helpers over the Win32 API on m_hWnd.
    CWnd* GetParent() const;
    HWND GetDlgItem(int id) const { return ::GetDlgItem(m_hWnd, id); }
    int GetDlgCtrlID() const { return ::GetDlgCtrlID(m_hWnd); }
    BOOL IsWindow() const { return m_hWnd && ::IsWindow(m_hWnd); }
    BOOL ShowWindow(int cmd) { return ::ShowWindow(m_hWnd, cmd); }
    BOOL IsWindowVisible() const { return ::IsWindowVisible(m_hWnd); }
    BOOL EnableWindow(BOOL enable = TRUE) { return ::EnableWindow(m_hWnd, enable); }
    BOOL IsWindowEnabled() const { return ::IsWindowEnabled(m_hWnd); }
    void SetWindowText(const std::wstring& text) { ::SetWindowTextW(m_hWnd, text.c_str()); }
    std::wstring GetWindowText() const { return GetWindowTextString(m_hWnd); }
    CRect GetClientRect() const { CRect r; ::GetClientRect(m_hWnd, &r); return r; }
    CRect GetWindowRect() const { CRect r; ::GetWindowRect(m_hWnd, &r); return r; }
    // Centres this window over another (by default its owner, else its
    // parent), kept whole inside the work area of that window's monitor.
    void CenterWindow(HWND over = nullptr);
    // A hosted control is moved through its site, so that it knows its new size.
    BOOL MoveWindow(const RECT& r, BOOL repaint = TRUE);
    void Invalidate(BOOL erase = TRUE) { ::InvalidateRect(m_hWnd, nullptr, erase); }
    void UpdateWindow() { ::UpdateWindow(m_hWnd); }
    UINT_PTR SetTimer(UINT_PTR id, UINT elapse) { return ::SetTimer(m_hWnd, id, elapse, nullptr); }
    BOOL KillTimer(UINT_PTR id) { return ::KillTimer(m_hWnd, id); }
    LRESULT SendMessage(UINT msg, WPARAM wp = 0, LPARAM lp = 0) const { return ::SendMessageW(m_hWnd, msg, wp, lp); }
    BOOL PostMessage(UINT msg, WPARAM wp = 0, LPARAM lp = 0) const { return ::PostMessageW(m_hWnd, msg, wp, lp); }
    DWORD GetStyle() const { return static_cast<DWORD>(::GetWindowLongW(m_hWnd, GWL_STYLE)); }
    DWORD GetExStyle() const { return static_cast<DWORD>(::GetWindowLongW(m_hWnd, GWL_EXSTYLE)); }
    BOOL ModifyStyle(DWORD remove, DWORD add, UINT swpFlags = 0) { return ModifyLong(GWL_STYLE, remove, add, swpFlags); }
    BOOL ModifyStyleEx(DWORD remove, DWORD add, UINT swpFlags = 0) {
        return ModifyLong(GWL_EXSTYLE, remove, add, swpFlags);
    }

    // ActiveX controls (OleControl.cpp): the control is created and activated
    // in place as a child of parent with the given id, and this object stands
    // for its window. DestroyWindow deactivates, closes and releases it.
    BOOL CreateControl(REFCLSID clsid, LPCWSTR windowName, DWORD style, const RECT& rect, CWnd* parent, UINT id);
    IUnknown* GetControlUnknown() const;
    // Calls on the control by dispatch id (see AfxInvokeHelper); a control
    // without a dispatch interface fails every call.
    void InvokeHelper(DISPID id, WORD flags, VARTYPE vtRet, void* ret, const char* params, ...);
    void GetProperty(DISPID id, VARTYPE vtProp, void* value);
    void SetProperty(DISPID id, VARTYPE vtProp, ...);

protected:
    // The message mechanism. A derived window overrides WindowProc, handles the
    // messages it cares about in a switch and hands the rest to its base class;
    // CWnd::WindowProc routes commands, notifications and control-colour
    // messages to the hooks below and everything else to Default().
    virtual LRESULT WindowProc(UINT msg, WPARAM wp, LPARAM lp);

    // Passes the message being handled on to the window's original procedure.
    LRESULT Default();
    LRESULT DefWindowProc(UINT msg, WPARAM wp, LPARAM lp);

    // WM_COMMAND; return TRUE when handled (otherwise default handling).
    virtual BOOL OnCommand(WPARAM wp, LPARAM lp);
    // WM_NOTIFY; return TRUE and set *result when handled.
    virtual BOOL OnNotify(WPARAM wp, LPARAM lp, LRESULT* result);
    // Messages a parent receives about a child (WM_DRAWITEM, WM_MEASUREITEM,
    // WM_CTLCOLOR*, WM_HSCROLL, WM_VSCROLL) are first offered to the child's
    // object here; TRUE = handled, *result is the answer to the parent.
    virtual BOOL OnChildNotify(UINT msg, WPARAM wp, LPARAM lp, LRESULT* result);
    // All WM_CTLCOLOR* messages arrive here; return null for default handling.
    virtual HBRUSH OnCtlColor(HDC dc, HWND child, UINT ctlType);

    // Called once the window is attached by SubclassWindow (before any message).
    virtual void PreSubclassWindow() {}
    // The last call for a window; the object may delete itself here.
    virtual void PostNcDestroy() {}

private:
    friend LRESULT CALLBACK AfxWndProc(HWND, UINT, WPARAM, LPARAM);
    friend LRESULT CALLBACK AfxCbtHook(int, WPARAM, LPARAM);
    friend class CDialog;

    BOOL ModifyLong(int index, DWORD remove, DWORD add, UINT swpFlags);
    void AttachToMap(HWND hwnd);
    void DetachFromMap();
    void SubclassInternal();
    LRESULT Dispatch(UINT msg, WPARAM wp, LPARAM lp);
    static BOOL ReflectToChild(HWND child, UINT msg, WPARAM wp, LPARAM lp, LRESULT* result);

    void DestroyControlSite();

    WNDPROC m_pfnSuper = nullptr; // original procedure while subclassed
    COleControlSite* m_pCtrlSite = nullptr; // owned; set while a control is hosted
};

// Creation hook: the next window created on this thread is attached to wnd.
void AfxHookWindowCreate(CWnd* wnd);
void AfxUnhookWindowCreate();

// Routes msg through PreTranslateMessage of its target window and the target's
// parents (stopping after the top-level window). TRUE = handled.
BOOL AfxPreTranslateWindows(MSG* msg);
