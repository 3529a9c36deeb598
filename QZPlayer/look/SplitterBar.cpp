#include "SplitterBar.h"

#include "SkinConfig.h"
#include "resource.h"

#include <windowsx.h>

void CSplitterBar::DrawTracker(int x, int y, Tracker mode)
{
    CRect parent;
    ::GetWindowRect(::GetParent(m_hWnd), &parent);
    CRect r = GetWindowRect();
    if (m_nOrientation == Vertical) {
        r.OffsetRect(x - m_nStartX, 0);
        if (r.left < parent.left)
            r.OffsetRect(parent.left - r.left, 0);
        else if (r.right > parent.right)
            r.OffsetRect(parent.right - r.right, 0);
    } else {
        r.OffsetRect(0, y - m_nStartY);
        if (r.top < parent.top)
            r.OffsetRect(0, parent.top - r.top);
        else if (r.bottom > parent.bottom)
            r.OffsetRect(0, parent.bottom - r.bottom);
    }
    m_rcTracker = r;
    const CSize full(r.Width(), r.Height());
    const CSize lastSize(m_rcLastTracker.Width(), m_rcLastTracker.Height());
    CWindowDC screen(::GetDesktopWindow());
    switch (mode) {
    case Tracker::Start:
        screen.DrawDragRect(r, full, nullptr, CSize());
        break;
    case Tracker::Move:
        screen.DrawDragRect(r, full, &m_rcLastTracker, lastSize);
        break;
    case Tracker::End:
        screen.DrawDragRect(r, CSize(), &m_rcLastTracker, lastSize);
        break;
    }
    m_rcLastTracker = r;
}

void CSplitterBar::EndDrag(int x, int y)
{
    DrawTracker(x, y, Tracker::End);
    HWND owner = ::GetWindow(m_hWnd, GW_OWNER);
    if (!owner)
        owner = ::GetParent(m_hWnd);
    if (owner && ::IsWindow(owner)) {
        // The raw mouse distance: the tracker's clamping does not limit it.
        const int delta = m_nOrientation == Vertical ? x - m_nStartX : y - m_nStartY;
        if (delta != 0) {
            NMSPLITTER nm = {};
            nm.hdr.hwndFrom = m_hWnd;
            nm.hdr.idFrom = static_cast<UINT_PTR>(GetDlgCtrlID());
            nm.hdr.code = SPN_DRAGGED;
            nm.delta = delta;
            ::SendMessageW(owner, WM_NOTIFY, nm.hdr.idFrom, reinterpret_cast<LPARAM>(&nm));
        }
    }
    m_bDragging = FALSE;
    ::ReleaseCapture();
    Invalidate();
}

LRESULT CSplitterBar::WindowProc(UINT msg, WPARAM wp, LPARAM lp)
{
    const int x = GET_X_LPARAM(lp), y = GET_Y_LPARAM(lp);
    switch (msg) {
    case WM_PAINT: {
        CPaintDC dc(m_hWnd);
        dc.FillSolidRect(GetClientRect(), m_clrBar);
        return 0;
    }
    case WM_ERASEBKGND:
        return FALSE;
    case WM_SETCURSOR:
        if (LOWORD(lp) != HTCLIENT)
            break;
        if (!m_hCursor)
            m_hCursor = ::LoadCursorW(nullptr, m_nOrientation == Vertical ? IDC_SIZEWE : IDC_SIZENS);
        ::SetCursor(m_hCursor);
        return FALSE;
    case WM_LBUTTONDOWN: {
        LRESULT result = CWnd::WindowProc(msg, wp, lp);
        m_bDragging = TRUE;
        ::SetCapture(m_hWnd);
        m_nStartX = x;
        m_nStartY = y;
        m_rcLastTracker = CRect();
        DrawTracker(x, y, Tracker::Start);
        return result;
    }
    case WM_MOUSEMOVE:
        if (m_bDragging)
            DrawTracker(x, y, Tracker::Move);
        break;
    case WM_LBUTTONUP: {
        LRESULT result = CWnd::WindowProc(msg, wp, lp);
        if (m_bDragging)
            EndDrag(x, y);
        return result;
    }
    case WM_CAPTURECHANGED:
        // Capture taken away mid-drag (a menu, another program): erase the
        // tracker and drop the drag without telling the owner.
        if (m_bDragging && reinterpret_cast<HWND>(lp) != m_hWnd) {
            m_bDragging = FALSE;
            CWindowDC screen(::GetDesktopWindow());
            screen.DrawDragRect(m_rcLastTracker, CSize(), &m_rcLastTracker,
                                CSize(m_rcLastTracker.Width(), m_rcLastTracker.Height()));
            Invalidate();
        }
        break;
    default:
        break;
    }
    return CWnd::WindowProc(msg, wp, lp);
}

// ---------------------------------------------------------------------------

LRESULT CListSplitter::WindowProc(UINT msg, WPARAM wp, LPARAM lp)
{
    switch (msg) {
    case WM_CREATE: {
        LRESULT result = CSplitterBar::WindowProc(msg, wp, lp);
        if (!m_btnCollapse.Create(L"", WS_CHILD | WS_VISIBLE | BS_OWNERDRAW, CRect(0, 0, 12, 21), this, IDC_COLLAPSE))
            return -1;
        // The strip is drawn as it is: its background belongs to the picture.
        m_btnCollapse.m_bMasked = FALSE;
        m_btnCollapse.LoadStripBitmap(IDB_SPLITTER, RGB(255, 255, 255), 4, IDS_TIP_COLLAPSE_LIST);
        m_btnCollapse.SetBkColor(g_skin.m_clrPane);
        m_btnCollapse.SetToggle(TRUE);
        m_btnCollapse.SetHandCursor();
        // The list's own commands are for the keyboard; the bar is the mouse's.
        m_btnCollapse.m_bTakeFocus = FALSE;
        return result;
    }
    case WM_SIZE: {
        LRESULT result = CSplitterBar::WindowProc(msg, wp, lp);
        if (m_btnCollapse.IsWindow()) {
            const CRect bar = GetClientRect(), button = m_btnCollapse.GetClientRect();
            ::SetWindowPos(m_btnCollapse, nullptr, (bar.Width() - button.Width()) / 2,
                           (bar.Height() - button.Height()) / 2, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_SHOWWINDOW);
        }
        return result;
    }
    case WM_LBUTTONDOWN:
    case WM_SETCURSOR:
        // Collapsed: no drag and no sizing cursor.
        if (m_btnCollapse.IsChecked())
            return CWnd::WindowProc(msg, wp, lp);
        break;
    default:
        break;
    }
    return CSplitterBar::WindowProc(msg, wp, lp);
}

BOOL CListSplitter::OnCommand(WPARAM wp, LPARAM lp)
{
    if (LOWORD(wp) != IDC_COLLAPSE || HIWORD(wp) != BN_CLICKED)
        return CSplitterBar::OnCommand(wp, lp);
    auto* host = dynamic_cast<IListPaneHost*>(GetParent());
    if (!host)
        return TRUE;
    const BOOL collapse = !m_btnCollapse.IsChecked();
    m_btnCollapse.SetChecked(collapse);
    m_btnCollapse.SetTooltipText(collapse ? IDS_TIP_EXPAND_LIST : IDS_TIP_COLLAPSE_LIST);
    host->SetListCollapsed(collapse);
    return TRUE;
}
