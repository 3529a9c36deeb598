#include "Controls.h"

#include "App.h"

std::wstring CComboBox::GetLBText(int index) const
{
    LRESULT n = SendMessage(CB_GETLBTEXTLEN, static_cast<WPARAM>(index));
    if (n == CB_ERR || n <= 0)
        return std::wstring();
    std::wstring s(static_cast<size_t>(n) + 1, L'\0');
    n = SendMessage(CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&s[0]));
    s.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return s;
}

int CListCtrl::InsertColumn(int col, LPCWSTR heading, int format, int width)
{
    LVCOLUMNW c = {};
    c.mask = LVCF_FMT | LVCF_TEXT | LVCF_SUBITEM;
    c.fmt = format;
    c.pszText = const_cast<LPWSTR>(heading);
    c.iSubItem = col;
    if (width >= 0) {
        c.mask |= LVCF_WIDTH;
        c.cx = width;
    }
    return static_cast<int>(SendMessage(LVM_INSERTCOLUMNW, static_cast<WPARAM>(col), reinterpret_cast<LPARAM>(&c)));
}

std::wstring CListCtrl::GetItemText(int index, int sub) const
{
    // LVM_GETITEMTEXT does not report the needed size: grow until it fits.
    std::wstring buf(256, L'\0');
    for (;;) {
        LVITEMW item = {};
        item.iSubItem = sub;
        item.pszText = &buf[0];
        item.cchTextMax = static_cast<int>(buf.size());
        LRESULT n = SendMessage(LVM_GETITEMTEXTW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item));
        if (n < static_cast<LRESULT>(buf.size()) - 1 || buf.size() >= 65536) {
            buf.resize(n > 0 ? static_cast<size_t>(n) : 0);
            return buf;
        }
        buf.assign(buf.size() * 4, L'\0');
    }
}

BOOL CListCtrl::SetItemState(int index, UINT state, UINT mask)
{
    LVITEMW item = {};
    item.state = state;
    item.stateMask = mask;
    return static_cast<BOOL>(SendMessage(LVM_SETITEMSTATE, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item)));
}

BOOL CButton::OnChildNotify(UINT msg, WPARAM, LPARAM lp, LRESULT* result)
{
    if (msg != WM_DRAWITEM)
        return FALSE;
    DrawItem(reinterpret_cast<DRAWITEMSTRUCT*>(lp));
    *result = TRUE;
    return TRUE;
}

BOOL CToolTipCtrl::Create(CWnd* parent, DWORD style)
{
    if (!CreateEx(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_NOPREFIX | style,
                  CRect(), parent, 0))
        return FALSE;
    ::SetWindowPos(m_hWnd, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    return TRUE;
}

TTTOOLINFOW CToolTipCtrl::ToolInfo(CWnd* tool, LPWSTR text) const
{
    TTTOOLINFOW ti = {};
    // The version-1 size is understood by every version of the control.
    ti.cbSize = TTTOOLINFOW_V1_SIZE;
    ti.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    ti.hwnd = ::GetParent(tool->m_hWnd);
    ti.uId = reinterpret_cast<UINT_PTR>(tool->m_hWnd);
    ti.hinst = AfxGetResourceHandle();
    ti.lpszText = text;
    return ti;
}

BOOL CToolTipCtrl::AddTool(CWnd* tool, LPCWSTR text)
{
    TTTOOLINFOW ti = ToolInfo(tool, const_cast<LPWSTR>(text));
    ti.hinst = nullptr;
    return static_cast<BOOL>(SendMessage(TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&ti)));
}

BOOL CToolTipCtrl::AddTool(CWnd* tool, UINT stringId)
{
    TTTOOLINFOW ti = ToolInfo(tool, MAKEINTRESOURCEW(stringId));
    return static_cast<BOOL>(SendMessage(TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&ti)));
}

void CToolTipCtrl::DelTool(CWnd* tool)
{
    TTTOOLINFOW ti = ToolInfo(tool, nullptr);
    SendMessage(TTM_DELTOOLW, 0, reinterpret_cast<LPARAM>(&ti));
}

void CToolTipCtrl::UpdateTipText(LPCWSTR text, CWnd* tool)
{
    TTTOOLINFOW ti = ToolInfo(tool, const_cast<LPWSTR>(text));
    ti.hinst = nullptr;
    SendMessage(TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&ti));
}

namespace {

TTTOOLINFOW RectToolInfo(CWnd* wnd, UINT_PTR id, LPWSTR text)
{
    TTTOOLINFOW ti = {};
    ti.cbSize = TTTOOLINFOW_V1_SIZE;
    ti.hwnd = wnd->m_hWnd;
    ti.uId = id;
    ti.lpszText = text;
    return ti;
}

} // namespace

BOOL CToolTipCtrl::AddTool(CWnd* wnd, LPCWSTR text, const RECT& rect, UINT_PTR id)
{
    TTTOOLINFOW ti = RectToolInfo(wnd, id, const_cast<LPWSTR>(text));
    ti.rect = rect;
    return static_cast<BOOL>(SendMessage(TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&ti)));
}

void CToolTipCtrl::UpdateTipText(LPCWSTR text, CWnd* wnd, UINT_PTR id)
{
    TTTOOLINFOW ti = RectToolInfo(wnd, id, const_cast<LPWSTR>(text));
    SendMessage(TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&ti));
}

void CToolTipCtrl::SetToolRect(CWnd* wnd, UINT_PTR id, const RECT& rect)
{
    TTTOOLINFOW ti = RectToolInfo(wnd, id, nullptr);
    ti.rect = rect;
    SendMessage(TTM_NEWTOOLRECTW, 0, reinterpret_cast<LPARAM>(&ti));
}

BOOL CToolTipCtrl::AddTrackingTool(CWnd* wnd, UINT_PTR id)
{
    TTTOOLINFOW ti = RectToolInfo(wnd, id, const_cast<LPWSTR>(L""));
    // Transparent: a click where the tip is reaches the window under it.
    ti.uFlags = TTF_TRACK | TTF_ABSOLUTE | TTF_TRANSPARENT;
    return static_cast<BOOL>(SendMessage(TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&ti)));
}

void CToolTipCtrl::TrackActivate(CWnd* wnd, UINT_PTR id, BOOL activate)
{
    TTTOOLINFOW ti = RectToolInfo(wnd, id, nullptr);
    SendMessage(TTM_TRACKACTIVATE, activate, reinterpret_cast<LPARAM>(&ti));
}

CSize CToolTipCtrl::GetBubbleSize(CWnd* wnd, UINT_PTR id) const
{
    TTTOOLINFOW ti = RectToolInfo(wnd, id, nullptr);
    const LRESULT size = SendMessage(TTM_GETBUBBLESIZE, 0, reinterpret_cast<LPARAM>(&ti));
    return CSize(LOWORD(size), HIWORD(size));
}

std::wstring CToolTipCtrl::GetText(CWnd* wnd, UINT_PTR id) const
{
    // Version 6 of the control takes the buffer size in wParam.
    wchar_t buf[1024] = {};
    TTTOOLINFOW ti = RectToolInfo(wnd, id, buf);
    SendMessage(TTM_GETTEXTW, sizeof buf / sizeof buf[0], reinterpret_cast<LPARAM>(&ti));
    return buf;
}
