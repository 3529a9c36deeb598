#include "Wnd.h"

#include "App.h"

#include <algorithm>
#include <cstdarg>
#include <cwchar>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace {

// One map for the process: windows may be created on any thread.
std::mutex g_mapLock;
std::unordered_map<HWND, CWnd*>& HandleMap()
{
    static std::unordered_map<HWND, CWnd*> map;
    return map;
}

// The message each thread is handling now, for Default().
struct CurrentMessage {
    HWND hwnd;
    UINT msg;
    WPARAM wp;
    LPARAM lp;
};
thread_local CurrentMessage* t_current = nullptr;

thread_local CWnd* t_pendingCreate = nullptr;
thread_local HHOOK t_cbtHook = nullptr;
thread_local int t_hookDepth = 0;

const wchar_t kPlainClass[] = L"AfxWnd";

LPCWSTR PlainClass()
{
    static std::once_flag once;
    std::call_once(once, [] {
        WNDCLASSEXW wc = {};
        wc.cbSize = sizeof wc;
        wc.style = CS_DBLCLKS | CS_HREDRAW | CS_VREDRAW;
        wc.lpfnWndProc = ::DefWindowProcW;
        wc.hInstance = ::GetModuleHandleW(nullptr);
        wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
        wc.lpszClassName = kPlainClass;
        ::RegisterClassExW(&wc);
    });
    return kPlainClass;
}

} // namespace

// ---------------------------------------------------------------------------
// Helpers from Types.h

std::wstring FormatString(const wchar_t* fmt, ...)
{
    std::vector<wchar_t> buf(256);
    for (;;) {
        va_list ap;
        va_start(ap, fmt);
        int n = std::vswprintf(buf.data(), buf.size(), fmt, ap);
        va_end(ap);
        if (n >= 0 && static_cast<size_t>(n) < buf.size())
            return std::wstring(buf.data(), n);
        if (buf.size() > (1u << 20))
            return std::wstring();
        buf.resize(buf.size() * 4);
    }
}

std::wstring LoadResString(UINT id)
{
    const wchar_t* p = nullptr;
    // With a buffer size of 0 LoadStringW hands out a pointer into the resource.
    int n = ::LoadStringW(AfxGetResourceHandle(), id, reinterpret_cast<LPWSTR>(&p), 0);
    return n > 0 && p ? std::wstring(p, n) : std::wstring();
}

std::wstring GetWindowTextString(HWND hwnd)
{
    int n = ::GetWindowTextLengthW(hwnd);
    if (n <= 0)
        return std::wstring();
    std::wstring s(static_cast<size_t>(n) + 1, L'\0');
    n = ::GetWindowTextW(hwnd, &s[0], n + 1);
    s.resize(n > 0 ? n : 0);
    return s;
}

// ---------------------------------------------------------------------------

int CException::ReportError(UINT type) const
{
    return AfxMessageBox(GetErrorMessage(), type);
}

LRESULT CALLBACK AfxWndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp)
{
    CWnd* wnd = CWnd::FromHandlePermanent(hwnd);
    if (!wnd)
        return ::DefWindowProcW(hwnd, msg, wp, lp);
    return wnd->Dispatch(msg, wp, lp);
}

LRESULT CALLBACK AfxCbtHook(int code, WPARAM wp, LPARAM lp)
{
    if (code == HCBT_CREATEWND && t_pendingCreate) {
        CWnd* wnd = t_pendingCreate;
        t_pendingCreate = nullptr;
        wnd->AttachToMap(reinterpret_cast<HWND>(wp));
        wnd->PreSubclassWindow();
        wnd->SubclassInternal();
    }
    return ::CallNextHookEx(nullptr, code, wp, lp);
}

void AfxHookWindowCreate(CWnd* wnd)
{
    if (!t_cbtHook)
        t_cbtHook = ::SetWindowsHookExW(WH_CBT, AfxCbtHook, nullptr, ::GetCurrentThreadId());
    ++t_hookDepth;
    t_pendingCreate = wnd;
}

void AfxUnhookWindowCreate()
{
    t_pendingCreate = nullptr;
    if (--t_hookDepth == 0 && t_cbtHook) {
        ::UnhookWindowsHookEx(t_cbtHook);
        t_cbtHook = nullptr;
    }
}

BOOL AfxPreTranslateWindows(MSG* msg)
{
    if (msg->hwnd && msg->message >= WM_KEYFIRST && msg->message <= WM_KEYLAST) {
        HWND top = ::GetAncestor(msg->hwnd, GA_ROOT);
        CWnd* topWnd = CWnd::FromHandlePermanent(top);
        if (topWnd && topWnd->m_hAccelTable && ::TranslateAcceleratorW(top, topWnd->m_hAccelTable, msg))
            return TRUE;
    }
    for (HWND h = msg->hwnd; h;) {
        CWnd* wnd = CWnd::FromHandlePermanent(h);
        if (wnd && wnd->PreTranslateMessage(msg))
            return TRUE;
        if (!(::GetWindowLongW(h, GWL_STYLE) & WS_CHILD))
            break;
        h = ::GetParent(h);
    }
    return FALSE;
}

// ---------------------------------------------------------------------------

CWnd::~CWnd()
{
    if (m_pCtrlSite)
        DestroyControlSite();
    if (!m_hWnd)
        return;
    // The derived parts are gone: detach first so that no message of the
    // destruction reaches this half-destroyed object.
    HWND hwnd = m_hWnd;
    if (m_pfnSuper)
        ::SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_pfnSuper));
    DetachFromMap();
    if (::IsWindow(hwnd))
        ::DestroyWindow(hwnd);
}

CWnd* CWnd::FromHandlePermanent(HWND hwnd)
{
    if (!hwnd)
        return nullptr;
    std::lock_guard<std::mutex> lock(g_mapLock);
    auto it = HandleMap().find(hwnd);
    return it == HandleMap().end() ? nullptr : it->second;
}

void CWnd::AttachToMap(HWND hwnd)
{
    m_hWnd = hwnd;
    std::lock_guard<std::mutex> lock(g_mapLock);
    HandleMap()[hwnd] = this;
}

void CWnd::DetachFromMap()
{
    if (m_hWnd) {
        std::lock_guard<std::mutex> lock(g_mapLock);
        auto it = HandleMap().find(m_hWnd);
        if (it != HandleMap().end() && it->second == this)
            HandleMap().erase(it);
    }
    m_hWnd = nullptr;
    m_pfnSuper = nullptr;
}

void CWnd::SubclassInternal()
{
    m_pfnSuper = reinterpret_cast<WNDPROC>(
        ::SetWindowLongPtrW(m_hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(AfxWndProc)));
}

BOOL CWnd::CreateEx(DWORD exStyle, LPCWSTR className, LPCWSTR windowName, DWORD style,
                    const RECT& rect, CWnd* parent, UINT id, LPVOID param)
{
    if (m_hWnd)
        return FALSE;
    HWND hParent = parent ? parent->m_hWnd : nullptr;
    // A child window's menu handle carries its control id.
    HMENU menu = (style & WS_CHILD) ? reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)) : nullptr;
    AfxHookWindowCreate(this);
    HWND hwnd = ::CreateWindowExW(exStyle, className ? className : PlainClass(), windowName, style,
                                  rect.left, rect.top, rect.right - rect.left,
                                  rect.bottom - rect.top, hParent, menu,
                                  ::GetModuleHandleW(nullptr), param);
    AfxUnhookWindowCreate();
    if (!hwnd) {
        DetachFromMap();
        return FALSE;
    }
    return TRUE;
}

BOOL CWnd::Create(LPCWSTR className, LPCWSTR windowName, DWORD style, const RECT& rect,
                  CWnd* parent, UINT id)
{
    return CreateEx(0, className, windowName, style | WS_CHILD, rect, parent, id);
}

BOOL CWnd::Attach(HWND hwnd)
{
    if (m_hWnd || !hwnd || FromHandlePermanent(hwnd))
        return FALSE;
    AttachToMap(hwnd);
    return TRUE;
}

HWND CWnd::Detach()
{
    HWND hwnd = m_hWnd;
    if (m_pfnSuper)
        return UnsubclassWindow();
    DetachFromMap();
    return hwnd;
}

BOOL CWnd::SubclassWindow(HWND hwnd)
{
    if (!Attach(hwnd))
        return FALSE;
    PreSubclassWindow();
    SubclassInternal();
    return TRUE;
}

BOOL CWnd::SubclassDlgItem(UINT id, CWnd* parent)
{
    HWND child = parent ? ::GetDlgItem(parent->m_hWnd, static_cast<int>(id)) : nullptr;
    return child && SubclassWindow(child);
}

HWND CWnd::UnsubclassWindow()
{
    HWND hwnd = m_hWnd;
    if (hwnd && m_pfnSuper)
        ::SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_pfnSuper));
    DetachFromMap();
    return hwnd;
}

BOOL CWnd::DestroyWindow()
{
    if (m_pCtrlSite) {
        DestroyControlSite();
        return TRUE;
    }
    if (!m_hWnd)
        return FALSE;
    HWND hwnd = m_hWnd;
    BOOL ok = ::DestroyWindow(hwnd);
    // A window that was only attached sends its WM_NCDESTROY elsewhere.
    if (m_hWnd == hwnd && !::IsWindow(hwnd))
        DetachFromMap();
    return ok;
}

BOOL CWnd::PreTranslateMessage(MSG*)
{
    return FALSE;
}

void CWnd::CenterWindow(HWND over)
{
    if (!over)
        over = ::GetWindow(m_hWnd, GW_OWNER);
    if (!over)
        over = ::GetParent(m_hWnd);
    const CRect self = GetWindowRect();
    CRect target;
    MONITORINFO mi = {};
    mi.cbSize = sizeof mi;
    ::GetMonitorInfoW(over ? ::MonitorFromWindow(over, MONITOR_DEFAULTTONEAREST)
                           : ::MonitorFromWindow(m_hWnd, MONITOR_DEFAULTTONEAREST),
                      &mi);
    const CRect work(mi.rcWork);
    if (!over || !::GetWindowRect(over, &target))
        target = work;
    int x = target.left + (target.Width() - self.Width()) / 2;
    int y = target.top + (target.Height() - self.Height()) / 2;
    x = std::max(static_cast<int>(work.left), std::min(x, static_cast<int>(work.right) - self.Width()));
    y = std::max(static_cast<int>(work.top), std::min(y, static_cast<int>(work.bottom) - self.Height()));
    if (::GetWindowLongW(m_hWnd, GWL_STYLE) & WS_CHILD) {
        POINT p = {x, y};
        ::ScreenToClient(::GetParent(m_hWnd), &p);
        x = p.x;
        y = p.y;
    }
    ::SetWindowPos(m_hWnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

CWnd* CWnd::GetParent() const
{
    return FromHandlePermanent(::GetParent(m_hWnd));
}

BOOL CWnd::ModifyLong(int index, DWORD remove, DWORD add, UINT swpFlags)
{
    DWORD style = static_cast<DWORD>(::GetWindowLongW(m_hWnd, index));
    DWORD next = (style & ~remove) | add;
    if (style == next)
        return FALSE;
    ::SetWindowLongW(m_hWnd, index, static_cast<LONG>(next));
    if (swpFlags)
        ::SetWindowPos(m_hWnd, nullptr, 0, 0, 0, 0,
                       SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | swpFlags);
    return TRUE;
}

LRESULT CWnd::Dispatch(UINT msg, WPARAM wp, LPARAM lp)
{
    CurrentMessage cur{m_hWnd, msg, wp, lp};
    CurrentMessage* prev = t_current;
    t_current = &cur;
    LRESULT result = 0;
    try {
        result = WindowProc(msg, wp, lp);
    } catch (CException* e) {
        // Errors of internet and dispatch calls that a handler did not catch
        // reach the user here instead of unwinding through the system.
        e->ReportError();
        e->Delete();
    }
    t_current = prev;
    if (msg == WM_NCDESTROY && m_hWnd == cur.hwnd) {
        CWinThread* thread = AfxGetThread();
        DetachFromMap();
        if (thread && thread->m_pMainWnd == this) {
            thread->m_pMainWnd = nullptr;
            ::PostQuitMessage(0);
        }
        PostNcDestroy(); // may delete this
    }
    return result;
}

LRESULT CWnd::Default()
{
    CurrentMessage* cur = t_current;
    if (!cur || cur->hwnd != m_hWnd)
        return 0;
    return DefWindowProc(cur->msg, cur->wp, cur->lp);
}

LRESULT CWnd::DefWindowProc(UINT msg, WPARAM wp, LPARAM lp)
{
    if (m_pfnSuper)
        return ::CallWindowProcW(m_pfnSuper, m_hWnd, msg, wp, lp);
    return ::DefWindowProcW(m_hWnd, msg, wp, lp);
}

BOOL CWnd::ReflectToChild(HWND child, UINT msg, WPARAM wp, LPARAM lp, LRESULT* result)
{
    CWnd* wnd = FromHandlePermanent(child);
    return wnd && wnd->OnChildNotify(msg, wp, lp, result);
}

LRESULT CWnd::WindowProc(UINT msg, WPARAM wp, LPARAM lp)
{
    LRESULT result = 0;
    switch (msg) {
    case WM_COMMAND:
        if (OnCommand(wp, lp))
            return 0;
        break;
    case WM_NOTIFY:
        if (OnNotify(wp, lp, &result))
            return result;
        break;
    case WM_DRAWITEM: {
        auto* dis = reinterpret_cast<DRAWITEMSTRUCT*>(lp);
        if (dis->CtlType != ODT_MENU && ReflectToChild(dis->hwndItem, msg, wp, lp, &result))
            return result;
        break;
    }
    case WM_MEASUREITEM: {
        auto* mis = reinterpret_cast<MEASUREITEMSTRUCT*>(lp);
        if (mis->CtlType != ODT_MENU &&
            ReflectToChild(::GetDlgItem(m_hWnd, static_cast<int>(mis->CtlID)), msg, wp, lp, &result))
            return result;
        break;
    }
    case WM_HSCROLL:
    case WM_VSCROLL:
        if (lp && ReflectToChild(reinterpret_cast<HWND>(lp), msg, wp, lp, &result))
            return result;
        break;
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC: {
        HBRUSH brush = OnCtlColor(reinterpret_cast<HDC>(wp), reinterpret_cast<HWND>(lp),
                                  msg - WM_CTLCOLORMSGBOX);
        if (brush)
            return reinterpret_cast<LRESULT>(brush);
        if (ReflectToChild(reinterpret_cast<HWND>(lp), msg, wp, lp, &result))
            return result;
        break;
    }
    case WM_NCPAINT: {
        // A window that is all client area has no frame to draw, and the
        // default painting costs server round trips under Wine.
        RECT w, c;
        if (::GetWindowRect(m_hWnd, &w) && ::GetClientRect(m_hWnd, &c) && w.right - w.left == c.right &&
            w.bottom - w.top == c.bottom)
            return 0;
        break;
    }
    default:
        break;
    }
    return DefWindowProc(msg, wp, lp);
}

BOOL CWnd::OnCommand(WPARAM, LPARAM)
{
    return FALSE;
}

BOOL CWnd::OnNotify(WPARAM, LPARAM, LRESULT*)
{
    return FALSE;
}

BOOL CWnd::OnChildNotify(UINT, WPARAM, LPARAM, LRESULT*)
{
    return FALSE;
}

HBRUSH CWnd::OnCtlColor(HDC, HWND, UINT)
{
    return nullptr;
}
