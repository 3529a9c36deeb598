#include "SliderEx.h"

#include <windowsx.h>

#include <algorithm>

void CSliderEx::SetRange(int minimum, int maximum)
{
    if (minimum >= maximum)
        return;
    m_nMin = minimum;
    m_nMax = maximum;
    m_nPos = m_nPos < m_nMin ? m_nMin : (m_nPos > m_nMax ? m_nMax : m_nPos);
    Redraw();
}

int CSliderEx::SetPos(int value)
{
    int previous = m_nPos;
    m_nPos = value < m_nMin ? m_nMin : (value > m_nMax ? m_nMax : value);
    Redraw();
    return previous;
}

BOOL CSliderEx::EnableInput(BOOL enable)
{
    m_bInputEnabled = enable;
    if (m_bKeyboard && IsWindow())
        ModifyStyle(enable ? 0 : WS_TABSTOP, enable ? WS_TABSTOP : 0);
    return enable;
}

void CSliderEx::PreSubclassWindow()
{
    m_bKeyboard = (GetStyle() & WS_TABSTOP) != 0;
    CStatic::PreSubclassWindow();
}

BOOL CSliderEx::OnKey(UINT vk)
{
    const int range = m_nMax - m_nMin;
    const int line = std::max(1, range / 100), page = std::max(1, range / 10);
    int value = m_nPos;
    switch (vk) {
    case VK_LEFT:
    case VK_DOWN:
        value -= line;
        break;
    case VK_RIGHT:
    case VK_UP:
        value += line;
        break;
    case VK_NEXT:
        value -= page;
        break;
    case VK_PRIOR:
        value += page;
        break;
    case VK_HOME:
        value = m_nMin;
        break;
    case VK_END:
        value = m_nMax;
        break;
    default:
        return FALSE;
    }
    Report(std::max(m_nMin, std::min(value, m_nMax)));
    return TRUE;
}

void CSliderEx::Redraw()
{
    // At once, not at the next WM_PAINT: the seek bar follows playback. A
    // hidden slider (the window being built) paints when it is shown; only
    // its thumb follows the value.
    if (!IsWindow())
        return;
    if (!::IsWindowVisible(m_hWnd)) {
        m_rcThumb = ThumbRect(GetClientRect());
        return;
    }
    CClientDC dc(m_hWnd);
    Draw(dc);
}

CRect CSliderEx::ThumbRect(const CRect& client) const
{
    const int half = m_nThumbWidth / 2;
    const int xs = client.left + half, xe = client.right - 1 - half;
    const int x = xs + static_cast<int>(static_cast<double>(m_nPos - m_nMin) / (m_nMax - m_nMin) * (xe - xs) + 0.5);
    return CRect(x - half, client.top, x + half + 1, client.bottom);
}

void CSliderEx::Draw(HDC target)
{
    const CRect client = GetClientRect();
    const int w = client.Width(), h = client.Height();
    CBitmap canvas;
    if (w <= 0 || h <= 0 || !canvas.CreateCompatibleBitmap(target, w, h))
        return;
    CCompatibleDC dc(target);
    dc.SelectObject(canvas);
    dc.SetBkMode(TRANSPARENT);
    dc.FillSolidRect(client, m_clrBk);

    CRect groove = client;
    groove.DeflateRect(2, 2);
    const int upper = groove.Height() / 2;
    dc.FillSolidRect(CRect(groove.left, groove.top, groove.right, groove.top + upper), m_clrGrooveTop);
    dc.FillSolidRect(CRect(groove.left, groove.top + upper, groove.right, groove.bottom), m_clrGrooveBottom);
    dc.Draw3dRect(groove, m_clrGrooveBorder, m_clrGrooveBorder);

    m_rcThumb = ThumbRect(client);
    DrawThumb(dc);
    // The keyboard's place, unless the system hides focus cues until the
    // keyboard is used.
    if (::GetFocus() == m_hWnd && !(SendMessage(WM_QUERYUISTATE) & UISF_HIDEFOCUS)) {
        dc.SetTextColor(RGB(0, 0, 0));
        dc.SetBkColor(RGB(255, 255, 255));
        ::DrawFocusRect(dc, &client);
    }

    ::BitBlt(target, 0, 0, w, h, dc, 0, 0, SRCCOPY);
}

void CSliderEx::DrawThumb(CDC& dc)
{
    dc.FillSolidRect(m_rcThumb, m_clrThumb);
    dc.Draw3dRect(m_rcThumb, m_clrThumbBorder, m_clrThumbBorder);
    CRect grip = m_rcThumb;
    grip.DeflateRect(2, 2);
    CPen pen(PS_DOT, 1, m_clrThumbBorder);
    // Only the pen goes back: the canvas bitmap must stay selected.
    HGDIOBJ oldPen = ::SelectObject(dc, pen);
    for (int x = grip.left; x < grip.right; x += 2) {
        ::MoveToEx(dc, x, grip.top, nullptr);
        ::LineTo(dc, x, grip.bottom);
    }
    ::SelectObject(dc, oldPen);
}

int CSliderEx::ValueAt(int x) const
{
    const int w = GetClientRect().Width();
    if (w <= 2)
        return m_nMin;
    return static_cast<int>(static_cast<double>(x) / (w - 2) * m_nMax + 0.5);
}

void CSliderEx::ShowTip(int x)
{
    const int value = std::max(m_nMin, std::min(ValueAt(x), m_nMax));
    const std::wstring text = m_tipText && m_bInputEnabled ? m_tipText(value) : std::wstring();
    if (text.empty()) {
        HideTip();
        return;
    }
    if (!m_tip.m_hWnd) {
        if (!m_tip.Create(this, TTS_ALWAYSTIP) || !m_tip.AddTrackingTool(this, 1))
            return;
    }
    m_tip.UpdateTipText(text.c_str(), this, 1);
    // Centred above the point under the cursor, never over the slider: the
    // size is the shown tip's (before it shows, the control may not know it).
    POINT at = {x, 0};
    ::ClientToScreen(m_hWnd, &at);
    CSize size = m_tip.GetBubbleSize(this, 1);
    if (!m_bTipShown) {
        m_tip.TrackPosition(at.x - size.cx / 2, at.y - 2 * ::GetSystemMetrics(SM_CYMENU));
        m_tip.TrackActivate(this, 1, TRUE);
        m_bTipShown = TRUE;
        // The tip goes when the mouse has left: a look at the cursor now and
        // then (under Wine a leave notice can go astray between neighbours).
        SetTimer(kTipTimer, 100);
    }
    const CRect shown = m_tip.GetWindowRect();
    size = CSize(std::max<int>(size.cx, shown.Width()), std::max<int>(size.cy, shown.Height()));
    m_tip.TrackPosition(at.x - size.cx / 2, at.y - size.cy - 2);
}

void CSliderEx::HideTip()
{
    if (m_bTipShown) {
        KillTimer(kTipTimer);
        if (m_tip.m_hWnd)
            m_tip.TrackActivate(this, 1, FALSE);
    }
    m_bTipShown = FALSE;
}

void CSliderEx::Report(int value)
{
    SetPos(value);
    if (HWND parent = ::GetParent(m_hWnd))
        ::SendMessageW(parent, WM_SLIDER_CHANGED, static_cast<WPARAM>(static_cast<INT_PTR>(value)),
                       reinterpret_cast<LPARAM>(this));
}

LRESULT CSliderEx::WindowProc(UINT msg, WPARAM wp, LPARAM lp)
{
    switch (msg) {
    case WM_PAINT: {
        CPaintDC dc(m_hWnd);
        Draw(dc);
        return 0;
    }
    case WM_LBUTTONDOWN:
        if (!m_bInputEnabled)
            return 0;
        if (m_bKeyboard)
            ::SetFocus(m_hWnd);
        if (m_rcThumb.PtInRect(CPoint(GET_X_LPARAM(lp), GET_Y_LPARAM(lp)))) {
            m_bDragging = TRUE;
            ::SetCapture(m_hWnd);
        }
        break;
    case WM_MOUSEMOVE:
        if (m_tipText)
            ShowTip(GET_X_LPARAM(lp));
        if (!m_bInputEnabled)
            return 0;
        if (m_bDragging)
            Report(ValueAt(GET_X_LPARAM(lp)));
        break;
    case WM_TIMER:
        if (wp == kTipTimer) {
            POINT at = {};
            ::GetCursorPos(&at);
            if (!m_bDragging && !GetWindowRect().PtInRect(at))
                HideTip();
            return 0;
        }
        break;
    case WM_LBUTTONUP:
        if (!m_bInputEnabled)
            return 0;
        if (m_bDragging) {
            m_bDragging = FALSE;
            ::ReleaseCapture();
            // A drag that ended outside: the tip goes with the mouse.
            if (!GetClientRect().PtInRect(CPoint(GET_X_LPARAM(lp), GET_Y_LPARAM(lp))))
                HideTip();
        } else {
            // A click in the groove jumps on release.
            Report(ValueAt(GET_X_LPARAM(lp)));
        }
        break;
    case WM_GETDLGCODE:
        return m_bKeyboard ? DLGC_WANTARROWS : CStatic::WindowProc(msg, wp, lp);
    case WM_KEYDOWN:
        if (m_bKeyboard && m_bInputEnabled && OnKey(static_cast<UINT>(wp)))
            return 0;
        break;
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
    case WM_UPDATEUISTATE: {
        LRESULT r = CStatic::WindowProc(msg, wp, lp);
        Redraw();
        return r;
    }
    case WM_CAPTURECHANGED:
        // Capture taken away (another window, a menu): the drag is over.
        m_bDragging = FALSE;
        break;
    case WM_DESTROY:
        // The tip is a top-level window: it would outlive the slider.
        HideTip();
        if (m_tip.IsWindow())
            m_tip.DestroyWindow();
        break;
    case WM_SIZE:
        // The whole picture depends on the width (thumb place, end caps):
        // a new size repaints all of it, not only the strip it uncovered.
        Invalidate(FALSE);
        break;
    default:
        break;
    }
    return CStatic::WindowProc(msg, wp, lp);
}
