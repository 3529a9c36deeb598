#include "SkinButton.h"

#include <windowsx.h>

int CSkinButton::LoadStripBitmap(UINT bitmapId, COLORREF maskColor, int count, UINT tooltipId)
{
    m_bmpStrip.DeleteObject();
    if (count <= 0 || !m_bmpStrip.LoadBitmap(bitmapId))
        return 0;
    CSize size = m_bmpStrip.GetSize();
    m_nFrameHeight = size.cy;
    m_nFrameCount = count;
    m_nFrameWidth = size.cx / count;
    if (m_bMasked)
        CreateMask(maskColor);
    else
        m_bmpMask.DeleteObject();
    ::SetWindowPos(m_hWnd, nullptr, 0, 0, m_nFrameWidth, m_nFrameHeight, SWP_NOMOVE | SWP_NOZORDER);
    Refresh();
    if (tooltipId)
        SetTooltipText(tooltipId);
    return count;
}

void CSkinButton::CreateMask(COLORREF color)
{
    m_bmpMask.DeleteObject();
    const int width = m_nFrameWidth * m_nFrameCount, height = m_nFrameHeight;
    if (!m_bmpMask.Attach(::CreateBitmap(width, height, 1, 1, nullptr)))
        return;
    CCompatibleDC strip, mask;
    strip.SelectObject(m_bmpStrip);
    mask.SelectObject(m_bmpMask);
    // Colour to monochrome: the pixels of the strip DC's background colour become 1.
    strip.SetBkColor(color);
    mask.BitBlt(0, 0, width, height, strip, 0, 0, SRCCOPY);
    // Monochrome to colour: 1 becomes the background (black), 0 the text colour
    // (white), so the mask colour turns black and everything else stays.
    strip.SetTextColor(RGB(255, 255, 255));
    strip.SetBkColor(RGB(0, 0, 0));
    strip.BitBlt(0, 0, width, height, mask, 0, 0, SRCAND);
}

void CSkinButton::Refresh()
{
    // A button of a window being built paints when it is shown; asking for a
    // repaint earlier costs a server call each under Wine.
    if (::IsWindowVisible(m_hWnd))
        Invalidate(TRUE);
}

void CSkinButton::SetBkColor(COLORREF color)
{
    m_clrBk = color;
    Refresh();
}

BOOL CSkinButton::SetToggle(BOOL toggle)
{
    m_bToggle = toggle;
    Refresh();
    return TRUE;
}

BOOL CSkinButton::SetChecked(BOOL checked)
{
    m_bChecked = checked;
    Refresh();
    return TRUE;
}

BOOL CSkinButton::SetHandCursor()
{
    if (!m_hCursor)
        m_hCursor = ::LoadCursorW(nullptr, IDC_HAND);
    Refresh();
    return TRUE;
}

void CSkinButton::SetTooltipText(UINT stringId)
{
    if (!stringId)
        return;
    m_strTip = LoadResString(stringId);
    m_bHasTip = TRUE;
    if (m_tooltip.m_hWnd)
        ApplyTooltip();
}

void CSkinButton::MakeTooltip()
{
    if (!m_tooltip.Create(this, 0))
        return;
    m_tooltip.Activate(FALSE);
    m_tooltip.SetMaxTipWidth(400);
    ApplyTooltip();
}

void CSkinButton::ApplyTooltip()
{
    CRect client = GetClientRect();
    CWnd* parent = GetParent();
    if (m_tooltip.GetToolCount() == 0) {
        m_tooltip.AddTool(this, m_strTip.c_str(), client, 1);
        if (parent)
            m_tooltip.AddTool(parent, m_strTip.c_str(), RectInParent(), kParentTool);
    } else {
        m_tooltip.UpdateTipText(m_strTip.c_str(), this, 1);
        m_tooltip.SetToolRect(this, 1, client);
        if (parent)
            m_tooltip.UpdateTipText(m_strTip.c_str(), parent, kParentTool);
    }
    m_tooltip.Activate(TRUE);
}

CRect CSkinButton::RectInParent() const
{
    CRect r = GetWindowRect();
    ::MapWindowPoints(nullptr, ::GetParent(m_hWnd), reinterpret_cast<POINT*>(&r), 2);
    return r;
}

LRESULT CALLBACK CSkinButton::ParentProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR, DWORD_PTR ref)
{
    auto* self = reinterpret_cast<CSkinButton*>(ref);
    if (msg >= WM_MOUSEFIRST && msg <= WM_MOUSELAST)
        self->OnParentMouse(wnd, msg, wp, lp);
    return ::DefSubclassProc(wnd, msg, wp, lp);
}

void CSkinButton::OnParentMouse(HWND parent, UINT msg, WPARAM wp, LPARAM lp)
{
    // The system gives a disabled button's mouse input to its parent, so the
    // tip there is a tool of the parent's over the button's rectangle.
    if (!m_tooltip.m_hWnd) {
        const POINT pt = {GET_X_LPARAM(lp), GET_Y_LPARAM(lp)};
        if (msg != WM_MOUSEMOVE || !m_bHasTip || IsWindowEnabled() || !RectInParent().PtInRect(pt))
            return;
        MakeTooltip();
        if (!m_tooltip.m_hWnd)
            return;
    }
    if (CWnd* p = GetParent())
        m_tooltip.SetToolRect(p, kParentTool, RectInParent()); // laid out anew since
    const DWORD pos = ::GetMessagePos();
    MSG relayed = {parent, msg, wp, lp, static_cast<DWORD>(::GetMessageTime()), {GET_X_LPARAM(pos), GET_Y_LPARAM(pos)}};
    m_tooltip.RelayEvent(&relayed);
}

int CSkinButton::ImageIndex(UINT itemState, BOOL hot, BOOL toggle, BOOL checked, BOOL pressedFrames, int count)
{
    const bool pressed = (itemState & ODS_SELECTED) != 0, disabled = (itemState & ODS_DISABLED) != 0;
    if (!toggle) {
        // The hot image wins over the pressed one: a mouse press shows it.
        if (hot)
            return 1;
        if (pressed)
            return 2;
        return disabled ? count - 1 : 0;
    }
    if (disabled)
        return count - 1;
    if (!pressedFrames)
        return checked ? (hot ? 3 : 2) : (hot ? 1 : 0);
    if (!checked)
        return pressed ? (hot ? 2 : 1) : (hot ? 1 : 0);
    return pressed ? (hot ? 5 : 4) : (hot ? 4 : 3);
}

void CSkinButton::DrawItem(DRAWITEMSTRUCT* dis)
{
    const int i = ImageIndex(dis->itemState, m_bHot, m_bToggle, m_bChecked, m_bPressedFrames, m_nFrameCount);
    if (i < 0 || i >= m_nFrameCount || !m_bmpStrip.GetSafeHandle())
        return;
    const int w = dis->rcItem.right - dis->rcItem.left, h = dis->rcItem.bottom - dis->rcItem.top;
    const int sx = i * m_nFrameWidth;
    HDC target = dis->hDC;
    CCompatibleDC src(target);
    if (m_bMasked && m_bmpMask.GetSafeHandle()) {
        CBitmap canvas;
        canvas.CreateCompatibleBitmap(target, w, h);
        CCompatibleDC mem(target);
        mem.SelectObject(canvas);
        // Monochrome sources map 0 to the text colour and 1 to the background.
        mem.SetTextColor(RGB(0, 0, 0));
        mem.SetBkColor(RGB(255, 255, 255));
        mem.FillSolidRect(CRect(0, 0, w, h), m_clrBk);
        src.SelectObject(m_bmpMask);
        mem.BitBlt(0, 0, w, h, src, sx, 0, SRCAND);
        src.SelectObject(m_bmpStrip);
        mem.BitBlt(0, 0, w, h, src, sx, 0, SRCPAINT);
        ::BitBlt(target, 0, 0, w, h, mem, 0, 0, SRCCOPY);
    } else {
        src.SelectObject(m_bmpStrip);
        ::BitBlt(target, 0, 0, w, h, src, sx, 0, SRCCOPY);
    }
    // The keyboard's place, unless the system hides focus cues until the
    // keyboard is used.
    if ((dis->itemState & ODS_FOCUS) && !(dis->itemState & ODS_NOFOCUSRECT)) {
        CRect cue(0, 0, w, h);
        cue.DeflateRect(2, 2);
        ::SetTextColor(target, RGB(0, 0, 0));
        ::SetBkColor(target, RGB(255, 255, 255));
        ::DrawFocusRect(target, &cue);
    }
}

void CSkinButton::PreSubclassWindow()
{
    ModifyStyle(BS_TYPEMASK, BS_OWNERDRAW, SWP_FRAMECHANGED);
    if (HWND parent = ::GetParent(m_hWnd))
        m_bParentWatched = ::SetWindowSubclass(parent, ParentProc, reinterpret_cast<UINT_PTR>(this),
                                               reinterpret_cast<DWORD_PTR>(this));
    CButton::PreSubclassWindow();
}

BOOL CSkinButton::PreTranslateMessage(MSG* msg)
{
    // Enter presses the focused button as Space does (a dialog would take it
    // for its default button).
    if (msg->hwnd == m_hWnd && msg->message == WM_KEYDOWN && msg->wParam == VK_RETURN) {
        if (!(msg->lParam & (1 << 30)) && IsWindowEnabled())
            SendMessage(BM_CLICK);
        return TRUE;
    }
    if (!m_tooltip.m_hWnd && m_bHasTip && msg->message == WM_MOUSEMOVE && msg->hwnd == m_hWnd)
        MakeTooltip();
    if (m_tooltip.m_hWnd)
        m_tooltip.RelayEvent(msg);
    return CButton::PreTranslateMessage(msg);
}

LRESULT CSkinButton::WindowProc(UINT msg, WPARAM wp, LPARAM lp)
{
    if (msg == WM_SETCURSOR && m_hCursor) {
        ::SetCursor(m_hCursor);
        return TRUE;
    }
    LRESULT result = CButton::WindowProc(msg, wp, lp);
    switch (msg) {
    case WM_MOUSEMOVE:
        if (!m_bTracking) {
            TRACKMOUSEEVENT tme = {};
            tme.cbSize = sizeof tme;
            tme.dwFlags = TME_HOVER | TME_LEAVE;
            tme.hwndTrack = m_hWnd;
            tme.dwHoverTime = 1;
            if (::TrackMouseEvent(&tme))
                m_bTracking = true;
        }
        break;
    case WM_MOUSEHOVER:
        OnMouseHover();
        break;
    case WM_MOUSELEAVE:
        m_bTracking = false;
        OnMouseLeave();
        break;
    case WM_SETFOCUS:
        // After the button's own handling: a press by the mouse still works
        // (it takes the capture once the focus is set).
        if (!m_bTakeFocus && wp && reinterpret_cast<HWND>(wp) != m_hWnd && ::IsWindow(reinterpret_cast<HWND>(wp)))
            ::SetFocus(reinterpret_cast<HWND>(wp));
        break;
    case WM_DESTROY:
        // The hand cursor is a shared system cursor: nothing to release. The
        // tip is owned by the top-level window, so it would outlive the button.
        m_hCursor = nullptr;
        if (m_tooltip.IsWindow())
            m_tooltip.DestroyWindow();
        if (m_bParentWatched)
            ::RemoveWindowSubclass(::GetParent(m_hWnd), ParentProc, reinterpret_cast<UINT_PTR>(this));
        m_bParentWatched = FALSE;
        break;
    default:
        break;
    }
    return result;
}

void CSkinButton::OnMouseHover()
{
    m_bHot = TRUE;
    Invalidate(TRUE);
}

void CSkinButton::OnMouseLeave()
{
    m_bHot = FALSE;
    Invalidate();
}
