#include "VideoPane.h"

#include "Protocol.h"
#include "SkinConfig.h"

#include <shellapi.h>

BOOL CVideoPane::OnInitDialog()
{
    CDialog::OnInitDialog();
    m_control.SetBkColor(g_skin.m_clrPane);
    return TRUE;
}

int CVideoPane::Open(LPCWSTR path)
{
    if (m_player.IsCurrent(path)) {
        m_control.Resume();
        return 0;
    }
    m_control.PrepareOpen();
    const int result = m_player.Open(path);
    if (result == 0)
        m_control.OnMediaOpened();
    return result;
}

void CVideoPane::Layout()
{
    const CRect c = GetClientRect();
    m_player.PlaceIn(m_hWnd, CRect(c.left, c.top, c.right, c.bottom - kControlBarHeight));
    if (m_control.IsWindow()) {
        ::SetWindowPos(m_control, nullptr, c.left, c.bottom - kControlBarHeight, c.Width(), kControlBarHeight,
                       SWP_NOZORDER | SWP_SHOWWINDOW);
        m_control.Invalidate();
    }
}

void CVideoPane::OnDropFiles(HDROP drop)
{
    std::vector<std::wstring> paths;
    const UINT count = ::DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
    for (UINT i = 0; i < count; ++i) {
        wchar_t name[512] = {};
        if (::DragQueryFileW(drop, i, name, 512))
            paths.push_back(name);
    }
    ::DragFinish(drop);
    if (m_pHost && !paths.empty())
        m_pHost->OnFilesDropped(paths);
}

LRESULT CVideoPane::OnCopyData(const CopyData& data)
{
    switch (data.Code()) {
    case kCopyRepaint:
        m_player.Repaint();
        m_control.Invalidate();
        if (m_control.IsWindow() && ::GetParent(m_control) == m_hWnd)
            m_control.SetChangeChecked(FALSE);
        return TRUE;
    case kCopyPlaceVideo: {
        const CRect c = GetClientRect();
        m_player.PlaceIn(m_hWnd, CRect(c.left, c.top, c.right, c.bottom - kControlBarHeight));
        return TRUE;
    }
    default:
        return -1;
    }
}

BOOL CVideoPane::PreTranslateMessage(MSG* msg)
{
    // Space on the video (or the control inside it) plays and pauses; a
    // held key's repeats do nothing more.
    if (msg->message == WM_KEYDOWN && msg->wParam == VK_SPACE &&
        (msg->hwnd == m_player.m_hWnd || ::IsChild(m_player, msg->hwnd))) {
        if (!(msg->lParam & (1 << 30)))
            m_control.PlayPause();
        return TRUE;
    }
    if (msg->message == WM_KEYDOWN && msg->wParam == VK_RETURN)
        return TRUE;
    if (msg->message == WM_KEYDOWN && msg->wParam == VK_ESCAPE) {
        ::SendMessageW(msg->hwnd, WM_KEYDOWN, VK_ESCAPE, msg->lParam);
        return TRUE;
    }
    return CDialog::PreTranslateMessage(msg);
}

LRESULT CVideoPane::WindowProc(UINT msg, WPARAM wp, LPARAM lp)
{
    switch (msg) {
    case WM_CREATE: {
        // A pane without its player host or control bar is no pane: -1 fails
        // the pane's creation, and with it the frame's.
        LRESULT r = CDialog::WindowProc(msg, wp, lp);
        if (r == -1 ||
            !m_player.Create(nullptr, L"MinPlayer", WS_CHILD | WS_VISIBLE, CRect(0, 0, 100, 80), this,
                             IDC_PLAYER_WND) ||
            !m_control.Create(IDD_PLAYER_CONTROL, this))
            return -1;
        m_control.m_pPlayer = &m_player;
        return r;
    }
    case WM_SIZE: {
        LRESULT r = CDialog::WindowProc(msg, wp, lp);
        Layout();
        return r;
    }
    case WM_ERASEBKGND:
        return TRUE;
    case WM_DROPFILES:
        if (::DragQueryFileW(reinterpret_cast<HDROP>(wp), 0xFFFFFFFF, nullptr, 0) == 0)
            break;
        OnDropFiles(reinterpret_cast<HDROP>(wp));
        return 0;
    case WM_PLAY_NEXT:
        return m_pHost ? m_pHost->PlayNext(wp) : 0;
    case WM_PLAY_LIST:
        return m_pHost ? m_pHost->PlayList() : 0;
    case WM_COPYDATA: {
        const LRESULT r = OnCopyData(CopyData(lp));
        if (r != -1)
            return r;
        break;
    }
    default:
        break;
    }
    return CDialog::WindowProc(msg, wp, lp);
}
