#include "DialogBase.h"

#include "SkinConfig.h"
#include "resource.h"

#include <windowsx.h>

#include <algorithm>

namespace {

const COLORREF kCaptionMask = RGB(255, 0, 255);
const int kCaptionHeight = 31; // rows of the caption strip

} // namespace

// ---------------------------------------------------------------------------
// CCommonDlg

void CCommonDlg::SetCaptionDragZone(int left, int bottom)
{
    m_nDragLeft = left;
    m_nDragBottom = bottom;
}

void CCommonDlg::InvalidateCaption()
{
    CRect window = GetWindowRect();
    CRect caption(0, 0, window.Width(), ::GetSystemMetrics(SM_CYCAPTION) + 4);
    ::InvalidateRect(m_hWnd, &caption, TRUE);
}

void CCommonDlg::GetBorderRects(RECT& left, RECT& top, RECT& right, RECT& bottom, RECT& topLeft, RECT& topRight,
                                RECT& bottomLeft, RECT& bottomRight)
{
    const CRect c = GetClientRect();
    left = CRect(c.left, c.top + 6, c.left + 3, c.bottom - 6);
    top = CRect(c.left + 6, c.top, c.right - 6, c.top + 3);
    right = CRect(c.right - 3, c.top + 6, c.right, c.bottom - 6);
    bottom = CRect(c.left + 6, c.bottom - 3, c.right - 6, c.bottom);
    topLeft = CRect(c.left, c.top, c.left + 6, c.top + 6);
    topRight = CRect(c.right - 6, c.top, c.right, c.top + 6);
    bottomLeft = CRect(c.left, c.bottom - 6, c.left + 6, c.bottom);
    bottomRight = CRect(c.right - 6, c.bottom - 6, c.right, c.bottom);
}

void CCommonDlg::DrawClient(CDC*, RECT)
{
}

bool CCommonDlg::InDragZone(POINT p) const
{
    return m_nDragBottom <= 0 || (p.x >= m_nDragLeft && p.y <= m_nDragBottom);
}

void CCommonDlg::OnNcCalcSize(WPARAM wp, LPARAM lp)
{
    // The proposed client rectangle, less the system caption and frame that
    // the default handling took off: the whole window is client area.
    RECT* r = wp ? &reinterpret_cast<NCCALCSIZE_PARAMS*>(lp)->rgrc[0] : reinterpret_cast<RECT*>(lp);
    const DWORD style = static_cast<DWORD>(::GetWindowLongW(m_hWnd, GWL_STYLE));
    const int c = (style & WS_CAPTION) ? ::GetSystemMetrics(SM_CYCAPTION) : 0;
    const int f = (style & WS_DLGFRAME) ? ::GetSystemMetrics(SM_CXDLGFRAME) : 0;
    r->top -= c + f;
    r->left -= f;
    r->right += f;
    r->bottom += f;
}

// The sizing zone under p: its WMSZ_ code and cursor; FALSE outside them all.
BOOL CCommonDlg::SizingZoneAt(POINT p, WPARAM& code, LPCWSTR& cursor)
{
    CRect left, top, right, bottom, tl, tr, bl, br;
    GetBorderRects(left, top, right, bottom, tl, tr, bl, br);
    const struct {
        const CRect* rect;
        WPARAM code;
        LPCWSTR cursor;
    } zones[] = {
        {&left, WMSZ_LEFT, IDC_SIZEWE},          {&right, WMSZ_RIGHT, IDC_SIZEWE},
        {&top, WMSZ_TOP, IDC_SIZENS},            {&tl, WMSZ_TOPLEFT, IDC_SIZENWSE},
        {&tr, WMSZ_TOPRIGHT, IDC_SIZENESW},      {&bottom, WMSZ_BOTTOM, IDC_SIZENS},
        {&bl, WMSZ_BOTTOMLEFT, IDC_SIZENESW},    {&br, WMSZ_BOTTOMRIGHT, IDC_SIZENWSE},
    };
    for (const auto& z : zones) {
        if (z.rect->PtInRect(p)) {
            code = z.code;
            cursor = z.cursor;
            return TRUE;
        }
    }
    return FALSE;
}

void CCommonDlg::OnMouseMove(POINT p)
{
    WPARAM code = 0;
    LPCWSTR cursor = nullptr;
    // Shared system cursors, loaded at first use: each costs the start about
    // half a millisecond under Wine.
    if (!IsWindowMaximized() && SizingZoneAt(p, code, cursor))
        ::SetCursor(::LoadCursorW(nullptr, cursor));
}

// TRUE when the press started a sizing; no default handling then.
BOOL CCommonDlg::OnLButtonDown(POINT p, LPARAM lp)
{
    WPARAM code = 0;
    LPCWSTR cursor = nullptr;
    if (SizingZoneAt(p, code, cursor)) {
        ::SetCursor(::LoadCursorW(nullptr, cursor));
        SendMessage(WM_SYSCOMMAND, SC_SIZE + code, lp);
        return TRUE;
    }
    if (InDragZone(p))
        SendMessage(WM_SYSCOMMAND, SC_MOVE + HTCAPTION, lp);
    return FALSE;
}

void CCommonDlg::OnPaint()
{
    CPaintDC paint(m_hWnd);
    const CRect client = GetClientRect();
    CMemDC mem(paint, client);
    mem.SetBkMode(TRANSPARENT);
    DrawClient(&mem, client);
}

LRESULT CCommonDlg::WindowProc(UINT msg, WPARAM wp, LPARAM lp)
{
    const POINT p = {GET_X_LPARAM(lp), GET_Y_LPARAM(lp)};
    switch (msg) {
    case WM_NCCALCSIZE: {
        LRESULT result = CDialog::WindowProc(msg, wp, lp);
        OnNcCalcSize(wp, lp);
        return result;
    }
    case WM_NCPAINT:
        InvalidateCaption();
        return 0;
    case WM_NCACTIVATE:
        InvalidateCaption();
        return TRUE;
    case WM_ACTIVATE:
    case WM_INITMENU: {
        LRESULT result = CDialog::WindowProc(msg, wp, lp);
        InvalidateCaption();
        return result;
    }
    case WM_MOUSEMOVE: {
        LRESULT result = CDialog::WindowProc(msg, wp, lp);
        OnMouseMove(p);
        return result;
    }
    case WM_LBUTTONDOWN:
        if (!IsWindowMaximized() && OnLButtonDown(p, lp))
            return 0;
        break;
    case WM_LBUTTONDBLCLK:
        if (InDragZone(p))
            ShowWindow(IsWindowMaximized() ? SW_SHOWNORMAL : SW_SHOWMAXIMIZED);
        break;
    case WM_PAINT:
        OnPaint();
        return 0;
    default:
        break;
    }
    return CDialog::WindowProc(msg, wp, lp);
}

// ---------------------------------------------------------------------------
// CDialogBase

CDialogBase::CDialogBase(UINT templateId, CWnd* parent) : CCommonDlg(templateId, parent)
{
    LOGFONTW lf = {};
    lf.lfHeight = 15;
    lf.lfWeight = FW_BOLD;
    lf.lfCharSet = ANSI_CHARSET;
    lf.lfPitchAndFamily = FF_SWISS;
    lstrcpynW(lf.lfFaceName, L"Arial", LF_FACESIZE);
    m_fontCaption.CreateFontIndirect(&lf);
}

BOOL CDialogBase::CreateCaptionButton(CSkinButton& button, UINT id, const RECT& rect, UINT bitmapId, UINT tipId)
{
    if (!button.Create(L"", WS_CHILD | WS_VISIBLE | BS_OWNERDRAW, rect, this, id))
        return FALSE;
    button.m_bTakeFocus = FALSE;
    button.LoadStripBitmap(bitmapId, kCaptionMask, 4, tipId);
    button.SetBkColor(g_skin.m_clrFrameShade);
    return TRUE;
}

BOOL CDialogBase::OnInitDialog()
{
    CCommonDlg::OnInitDialog();
    m_brBackground.CreateSolidBrush(g_skin.m_clrFrame);
    const CRect& c = m_rcClient;
    CRect close(c.right - 24, c.top + 6, c.right - 8, c.top + 22);
    CRect maximize = close, minimize = close;
    maximize.OffsetRect(-20, 0);
    minimize.OffsetRect(-40, 0);
    CreateCaptionButton(m_btnClose, IDC_CAPTION_CLOSE, close, IDB_CAPTION_CLOSE, IDS_TIP_CLOSE);
    CreateCaptionButton(m_btnMaximize, IDC_CAPTION_MAXIMIZE, maximize, IDB_CAPTION_MAXIMIZE, IDS_TIP_MAXIMIZE);
    CreateCaptionButton(m_btnMinimize, IDC_CAPTION_MINIMIZE, minimize, IDB_CAPTION_MINIMIZE, IDS_TIP_MINIMIZE);
    m_btnMaximize.SetToggle(TRUE);
    return TRUE;
}

void CDialogBase::SetupCaption()
{
    m_bShowIcon = TRUE;
    m_strTitle = g_skin.m_strName;
    SendMessage(WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(g_skin.m_hIcon));
    SendMessage(WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(g_skin.m_hIcon));
    const CRect& c = m_rcClient;
    CRect topmost(c.right - 24 - 40, c.top + 6, c.right - 8 - 40, c.top + 22);
    CRect menu = topmost;
    menu.OffsetRect(-20, 0);
    if (CreateCaptionButton(m_btnTopMost, IDC_CAPTION_TOPMOST, topmost, IDB_CAPTION_TOPMOST, IDS_TIP_TOPMOST))
        m_btnTopMost.SetToggle(TRUE);
    CreateCaptionButton(m_btnMenu, IDC_CAPTION_MENU, menu, IDB_CAPTION_MENU, IDS_TIP_MENU);
}

void CDialogBase::ApplyCaptionColours()
{
    m_brBackground.DeleteObject();
    m_brBackground.CreateSolidBrush(g_skin.m_clrFrame);
    for (CSkinButton* b : {&m_btnClose, &m_btnMaximize, &m_btnMinimize, &m_btnTopMost, &m_btnMenu})
        if (b->IsWindow())
            b->SetBkColor(g_skin.m_clrFrameShade);
    Invalidate(FALSE);
}

void CDialogBase::ToggleTopMost()
{
    m_bTopMost = !m_bTopMost;
    if (m_btnTopMost.IsWindow()) {
        m_btnTopMost.SetChecked(m_bTopMost);
        m_btnTopMost.SetTooltipText(m_bTopMost ? IDS_TIP_NOT_TOPMOST : IDS_TIP_TOPMOST);
    }
    ::SetWindowPos(m_hWnd, m_bTopMost ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE);
}

void CDialogBase::OnSize()
{
    m_rcClient = GetClientRect();
    const CRect& c = m_rcClient;
    if (m_btnMaximize.IsWindow()) {
        const BOOL maximized = IsWindowMaximized();
        if (maximized && !m_btnMaximize.IsChecked()) {
            m_btnMaximize.SetChecked(TRUE);
            m_btnMaximize.SetTooltipText(IDS_TIP_RESTORE);
        } else if (!maximized && m_btnMaximize.IsChecked()) {
            m_btnMaximize.SetChecked(FALSE);
            m_btnMaximize.SetTooltipText(IDS_TIP_MAXIMIZE);
        }
    }

    // Only the top corners are curved: a rounded rectangle joined with a
    // plain one that covers everything below the curve.
    CRgn window, lower;
    window.CreateRoundRectRgn(c.left, c.top, c.right + 1, c.bottom, 16, 16);
    lower.CreateRectRgn(c.left, c.top + 100, c.right, c.bottom);
    window.CombineRgn(window, lower, RGN_OR);
    m_rgnFrame.CreateRectRgn(0, 0, 0, 0);
    m_rgnFrame.CombineRgn(window, nullptr, RGN_COPY);
    // The system owns the region from here on. A hidden frame (being built)
    // is painted whole when it is shown.
    if (::SetWindowRgn(m_hWnd, window, ::IsWindowVisible(m_hWnd)))
        window.Detach();

    int right = c.right - 8;
    for (CSkinButton* b : {&m_btnClose, &m_btnMaximize, &m_btnMinimize, &m_btnTopMost, &m_btnMenu}) {
        if (!b->IsWindow())
            continue;
        CRect r = b->GetWindowRect();
        ::ScreenToClient(m_hWnd, reinterpret_cast<POINT*>(&r.left));
        ::ScreenToClient(m_hWnd, reinterpret_cast<POINT*>(&r.right));
        ::SetWindowPos(*b, nullptr, right - r.Width(), r.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
        right -= r.Width() + 4;
    }
    // The caption and the frame line span the whole width: a resize only
    // invalidates what it uncovers, which would leave the old ones standing.
    // The window clips its children, so moved buttons are repainted too.
    ::RedrawWindow(m_hWnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN);
}

void CDialogBase::DrawClient(CDC* dc, RECT client)
{
    const CRect c(client);
    if (m_brBackground.GetSafeHandle())
        ::FillRect(*dc, &c, m_brBackground);
    dc->FillSolidRect(CRect(c.left, c.top, c.right, c.top + kCaptionHeight), g_skin.m_clrFrameShade);
    if (m_rgnFrame.GetSafeHandle()) {
        CBrush dark(g_skin.m_clrFrameDark);
        ::FrameRgn(*dc, m_rgnFrame, dark, 1, 1);
    }
    int x = 5;
    if (g_skin.m_hIcon && m_bShowIcon) {
        ::DrawIconEx(*dc, 5, 5, g_skin.m_hIcon, 16, 16, 0, nullptr, DI_NORMAL);
        x = 26;
    }
    if (!m_strTitle.empty()) {
        // Only the font goes back: the caller's canvas bitmap stays selected.
        HGDIOBJ oldFont = dc->SelectObject(m_fontCaption);
        dc->SetBkMode(TRANSPARENT);
        dc->SetTextColor(RGB(255, 255, 255));
        // The title ends before the leftmost caption button; a skin's name is
        // text, never a mnemonic.
        CRect title(x, 3, TitleRight(client), 24);
        dc->DrawText(m_strTitle, &title, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_END_ELLIPSIS);
        ::SelectObject(*dc, oldFont);
    }
}

int CDialogBase::TitleRight(const RECT& client) const
{
    int right = client.right - 8;
    for (const CSkinButton* b : {&m_btnClose, &m_btnMaximize, &m_btnMinimize, &m_btnTopMost, &m_btnMenu}) {
        if (!b->IsWindow() || !(::GetWindowLongW(*b, GWL_STYLE) & WS_VISIBLE))
            continue;
        RECT r;
        ::GetWindowRect(*b, &r);
        ::MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(&r), 2);
        right = std::min<int>(right, r.left - 6);
    }
    return right;
}

BOOL CDialogBase::PreTranslateMessage(MSG* msg)
{
    // Enter and Esc would end the dialog: the skinned windows never want that.
    if (msg->message == WM_KEYDOWN && (msg->wParam == VK_RETURN || msg->wParam == VK_ESCAPE))
        return TRUE;
    return CCommonDlg::PreTranslateMessage(msg);
}

BOOL CDialogBase::OnCommand(WPARAM wp, LPARAM lp)
{
    switch (LOWORD(wp)) {
    case IDC_CAPTION_CLOSE:
        SendMessage(WM_SYSCOMMAND, SC_CLOSE, 0);
        return TRUE;
    case IDC_CAPTION_MAXIMIZE:
        SendMessage(WM_SYSCOMMAND, IsWindowMaximized() ? SC_RESTORE : SC_MAXIMIZE, 0);
        return TRUE;
    case IDC_CAPTION_MINIMIZE:
        SendMessage(WM_SYSCOMMAND, SC_MINIMIZE, 0);
        return TRUE;
    case IDC_CAPTION_TOPMOST:
        ToggleTopMost();
        return TRUE;
    case IDC_CAPTION_MENU:
        OnMenuButton();
        return TRUE;
    default:
        return CCommonDlg::OnCommand(wp, lp);
    }
}

HBRUSH CDialogBase::OnCtlColor(HDC dc, HWND, UINT ctlType)
{
    if (ctlType == CTLCOLOR_EDIT || ctlType == CTLCOLOR_LISTBOX)
        return nullptr;
    if (ctlType == CTLCOLOR_STATIC) {
        ::SetBkMode(dc, TRANSPARENT);
        ::SetTextColor(dc, g_skin.m_clrText);
    }
    return m_brBackground;
}

LRESULT CDialogBase::WindowProc(UINT msg, WPARAM wp, LPARAM lp)
{
    switch (msg) {
    case WM_QUERYDRAGICON:
        return reinterpret_cast<LRESULT>(g_skin.m_hIcon);
    case WM_CREATE: {
        LRESULT result = CCommonDlg::WindowProc(msg, wp, lp);
        ModifyStyle(0, WS_MINIMIZEBOX);
        if (m_rcClient.Width() <= 0)
            m_rcClient = GetClientRect();
        else
            MoveWindow(m_rcClient);
        return result;
    }
    case WM_PAINT:
        if (::IsIconic(m_hWnd)) {
            CPaintDC dc(m_hWnd);
            SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc.m_hDC), 0);
            const CRect c = GetClientRect();
            const int x = (c.Width() - ::GetSystemMetrics(SM_CXICON) + 1) / 2;
            const int y = (c.Height() - ::GetSystemMetrics(SM_CYICON) + 1) / 2;
            if (g_skin.m_hIcon)
                ::DrawIcon(dc, x, y, g_skin.m_hIcon);
            return 0;
        }
        break;
    case WM_SIZE: {
        LRESULT result = CCommonDlg::WindowProc(msg, wp, lp);
        // A minimised window's rectangle is no shape to cut the frame from.
        if (wp != SIZE_MINIMIZED)
            OnSize();
        return result;
    }
    case WM_GETMINMAXINFO: {
        // Maximised, the window covers its monitor's work area exactly (the
        // default places a window with a sizing frame past every edge).
        auto* info = reinterpret_cast<MINMAXINFO*>(lp);
        MONITORINFO mi = {};
        mi.cbSize = sizeof mi;
        if (::GetMonitorInfoW(::MonitorFromWindow(m_hWnd, MONITOR_DEFAULTTONEAREST), &mi)) {
            info->ptMaxPosition = {mi.rcWork.left - mi.rcMonitor.left, mi.rcWork.top - mi.rcMonitor.top};
            info->ptMaxSize = {mi.rcWork.right - mi.rcWork.left, mi.rcWork.bottom - mi.rcWork.top};
        }
        return 0;
    }
    case WM_INITMENU: {
        LRESULT result = CCommonDlg::WindowProc(msg, wp, lp);
        for (CSkinButton* b : {&m_btnClose, &m_btnMaximize, &m_btnMinimize, &m_btnTopMost, &m_btnMenu})
            if (b->IsWindow())
                b->Invalidate();
        return result;
    }
    case WM_ERASEBKGND:
        return TRUE;
    default:
        break;
    }
    return CCommonDlg::WindowProc(msg, wp, lp);
}
