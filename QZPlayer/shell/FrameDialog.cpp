#include "FrameDialog.h"

#include "CommandLine.h"
#include "IniFile.h"
#include "Protocol.h"
#include "OpenUrlDlg.h"
#include "SkinConfig.h"
#include "resource.h"

const UINT WM_QZPLAYER_APPLICATION = ::RegisterWindowMessageW(kApplicationMessage);

// ---------------------------------------------------------------------------
// CFrameDialog

CFrameDialog::CFrameDialog() : CDialogBase(IDD_FRAME)
{
    g_skin.Load();
}

CFrameDialog::~CFrameDialog()
{
    if (IsWindow())
        DestroyWindow();
}

BOOL CFrameDialog::OnInitDialog()
{
    CDialogBase::OnInitDialog();
    m_history.Load();
    // Ctrl+O and Ctrl+U, as the menu shows them, wherever the focus is.
    m_hAccelTable = ::LoadAcceleratorsW(AfxGetResourceHandle(), MAKEINTRESOURCEW(IDR_ACCELERATORS));
    SetCaptionDragZone(0, kCaptionStrip);
    SetupCaption();
    std::wstring title = g_skin.m_strName.empty() ? LoadResString(0xE000) : g_skin.m_strName;
    SetTitle(title);
    SetWindowText(title);

    if (!m_videoPane.Create(IDD_LEFT_PANE, this))
        return TRUE;
    m_videoPane.ShowWindow(SW_SHOW);
    m_videoPane.SetHost(this);
    m_videoPane.Bar().m_hFrame = m_hWnd;
    if (!m_listPane.Create(CListPane::IDD, this))
        return TRUE;
    m_listPane.ShowWindow(SW_SHOW);
    m_listPane.SetFrame(this);
    OnListCountChanged(m_listPane.Count()); // the list it restored
    // Both panes are controls of the frame: the dialog manager then walks
    // Tab from the control bar to the list and back, and hands their keys
    // to the frame.
    for (CWnd* pane : {static_cast<CWnd*>(&m_videoPane), static_cast<CWnd*>(&m_listPane)}) {
        pane->ModifyStyle(0, DS_CONTROL);
        pane->ModifyStyleEx(0, WS_EX_CONTROLPARENT);
    }
    if (!m_splitter.Create(nullptr, nullptr, WS_CHILD | WS_VISIBLE, CRect(0, 0, 0, 0), this, IDC_SPLITTER))
        return TRUE;
    m_splitter.SetOrientation(CSplitterBar::Vertical);
    m_splitter.SetColor(g_skin.m_clrPane);

    LoadSystemSettings();
    if (m_bTopMost) {
        m_bTopMost = FALSE;
        ToggleTopMost();
    }
    m_splitter.m_btnCollapse.SetChecked(m_bListCollapsed);
    m_splitter.m_btnCollapse.SetTooltipText(m_bListCollapsed ? IDS_TIP_EXPAND_LIST : IDS_TIP_COLLAPSE_LIST);
    if (m_bListCollapsed)
        m_listPane.ShowWindow(SW_HIDE);
    if (!m_bShowProgList) {
        // The saved width is already the width without the list: hide it
        // without narrowing the window again.
        m_listPane.ShowWindow(SW_HIDE);
        m_splitter.ShowWindow(SW_HIDE);
        RecalcLayout(TRUE, 0);
    }
    // The keyboard starts on the video, where Space plays. Left to the
    // dialog manager, it would go to the first control, the caption's close
    // button, where Space quits.
    ::SetFocus(m_videoPane.Player());
    if (m_pStartCommand && !m_pStartCommand->empty())
        OpenCommand(m_pStartCommand->c_str());
    m_nTimerId = SetTimer(kLivenessTimerId, 2000);
    return FALSE;
}

void CFrameDialog::OpenCommand(LPCWSTR text)
{
    if (!text)
        return;
    // A running frame stays as it is: the hidden switch counts at a first start only.
    PlayerCommand command;
    if (!ParsePlayerCommand(text, &command))
        return;
    const bool play = command.mode == PlayerCommand::Play;
    if (play)
        m_listPane.RemoveAll();
    ProgItem* item = command.title.empty() ? m_listPane.AddFile(command.path.c_str())
                                           : m_listPane.AddItem(command.path.c_str(), command.title.c_str());
    if (play && OpenMedia(command.path.c_str(), item, TRUE) && ::IsIconic(m_hWnd))
        ShowWindow(SW_RESTORE);
}

BOOL CFrameDialog::OpenMedia(LPCWSTR text, ProgItem* item, BOOL showError)
{
    if (!text)
        return FALSE;
    // What is played, kept in the history and listed is one text, and it
    // holds no line break that could write the settings file.
    const std::wstring clean = CIniFile::Printable(text);
    const LPCWSTR path = clean.c_str();
    // Creating a control may let messages through (a forwarded command, a
    // click on the list), which may free the entry: it is found again after.
    const ULONGLONG id = item ? item->id : 0;
    item = nullptr;
    const int result = m_videoPane.Open(path);
    if (result != 0) {
        if (result == 2 && showError) {
            AfxMessageBox(L"对不起，QZ播放器不支持您所选择的文件格式！", MB_ICONINFORMATION);
            m_videoPane.Player().Invalidate();
        }
        return FALSE;
    }
    m_history.Add(path);
    if (id) {
        item = m_listPane.Playlist().Find(id); // null when it went meanwhile: nothing to mark
    } else {
        if (::IsIconic(m_hWnd))
            ShowWindow(SW_RESTORE);
        m_listPane.RemoveAll();
        item = m_listPane.AddFile(path);
    }
    m_listPane.SetCurItem(item);
    return TRUE;
}

void CFrameDialog::OnFilesDropped(const std::vector<std::wstring>& paths)
{
    OpenMedia(paths.front().c_str(), nullptr, TRUE);
    for (size_t i = 1; i < paths.size(); ++i)
        m_listPane.AddFile(paths[i].c_str());
}

LRESULT CFrameDialog::PlayNext(WPARAM why)
{
    if (!m_listPane.IsWindow())
        return 0;
    CPlaylist& list = m_listPane.Playlist();
    ProgItem* item = list.NextInChain(why == kPlayNextEnded        ? CPlaylist::kItemEnded
                                      : why == kPlayNextPassedOver ? CPlaylist::kItemPassedOver
                                                                   : CPlaylist::kRetry);
    if (!item)
        return 0;
    const std::wstring path = item->url;
    const ULONGLONG id = item->id;
    if (OpenMedia(path.c_str(), item, FALSE))
        return 1;
    // The open may have let a command through that replaced the list: what
    // it opened plays, and the chain it broke ends.
    item = list.Find(id);
    if (!item)
        return 1;
    m_listPane.SetCurItem(item);
    // The next try goes through the queue, so that a chain of failures
    // never nests.
    if (list.PassOver(item))
        m_videoPane.PostMessage(WM_PLAY_NEXT, kPlayNextAfterFailure);
    return 1;
}

LRESULT CFrameDialog::PlayList()
{
    if (!m_listPane.IsWindow())
        return 0;
    std::wstring path;
    ProgItem* item = m_listPane.GetStartProg(path);
    return item && OpenMedia(path.c_str(), item, TRUE);
}

void CFrameDialog::OnListCountChanged(int count)
{
    // Also while the panes go (the list empties as it is destroyed).
    if (m_videoPane.Bar().IsWindow())
        m_videoPane.Bar().SetListReady(count > 0);
}

int CFrameDialog::ClampListWidth(int listWidth, int clientWidth)
{
    if (listWidth > clientWidth - 430)
        listWidth = clientWidth - 430;
    if (listWidth < 160)
        listWidth = 160;
    return listWidth;
}

void CFrameDialog::RecalcLayout(BOOL force, int oldListWidth)
{
    const CRect client = GetClientRect();
    CRect r(client.left + 1, client.top + kCaptionStrip, client.right - 1, client.bottom - 1);
    r.InflateRect(-5, -5);
    auto isChild = [&](CWnd& w) { return w.IsWindow() && ::GetParent(w) == m_hWnd; };
    if (!m_bShowProgList) {
        if (isChild(m_videoPane))
            m_videoPane.MoveWindow(r);
    } else if (m_bListCollapsed) {
        if (isChild(m_videoPane))
            m_videoPane.MoveWindow(CRect(r.left, r.top, r.right - m_nSplitterWidth, r.bottom));
        if (isChild(m_listPane))
            m_listPane.MoveWindow(CRect(r.right - m_nListWidth, r.top, r.right, r.bottom));
        if (m_splitter.IsWindow())
            m_splitter.MoveWindow(CRect(r.right - m_nSplitterWidth, r.top, r.right, r.bottom));
    } else {
        m_nListWidth = ClampListWidth(m_nListWidth, client.Width());
        if (!force && m_nListWidth == oldListWidth)
            return;
        if (isChild(m_videoPane))
            m_videoPane.MoveWindow(CRect(r.left, r.top, r.right - m_nSplitterWidth - m_nListWidth, r.bottom));
        if (isChild(m_listPane))
            m_listPane.MoveWindow(CRect(r.right - m_nListWidth, r.top, r.right, r.bottom));
        if (m_splitter.IsWindow())
            m_splitter.MoveWindow(CRect(r.right - m_nListWidth - m_nSplitterWidth, r.top, r.right - m_nListWidth,
                                        r.bottom));
    }
    // The panes moved under a window that clips its children: repaint them
    // all, or pieces of their old places stay (control bar in the list).
    ::RedrawWindow(m_hWnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

void CFrameDialog::GetMinTrackSize(int& cx, int& cy) const
{
    cy = 420;
    if (!m_bShowProgList)
        cx = 420 - m_nSplitterWidth;
    else
        cx = m_bListCollapsed ? 420 : 580;
}

void CFrameDialog::OnSize(UINT type)
{
    if (type == SIZE_MINIMIZED)
        return;
    if (m_splitter.IsWindow()) {
        int cx = 0, cy = 0;
        GetMinTrackSize(cx, cy);
        CRect w = GetWindowRect();
        if (w.Width() < cx || w.Height() < cy) {
            ::MoveWindow(m_hWnd, w.left, w.top, std::max<int>(w.Width(), cx), std::max<int>(w.Height(), cy), TRUE);
            return;
        }
    }
    RecalcLayout(TRUE, 0);
}

void CFrameDialog::MoveWindowWidth(int delta)
{
    CRect w = GetWindowRect();
    ::MoveWindow(m_hWnd, w.left, w.top, w.Width() + delta, w.Height(), TRUE);
}

void CFrameDialog::KeepFocusVisible()
{
    const HWND focus = ::GetFocus();
    if (focus && (focus == m_listPane.m_hWnd || ::IsChild(m_listPane, focus)) && !m_listPane.IsWindowVisible())
        ::SetFocus(m_videoPane.Player());
}

void CFrameDialog::ToggleProgramList()
{
    m_bShowProgList = !m_bShowProgList;
    const int extra = m_bListCollapsed ? m_nSplitterWidth : m_nListWidth + m_nSplitterWidth;
    const BOOL maximized = ::IsZoomed(m_hWnd);
    if (m_bShowProgList) {
        if (maximized) {
            RecalcLayout(TRUE, m_nListWidth);
        } else {
            CRect w = GetWindowRect();
            int width = std::min(w.Width() + extra, ::GetSystemMetrics(SM_CXSCREEN));
            int height = std::min<int>(w.Height(), ::GetSystemMetrics(SM_CYSCREEN));
            ::MoveWindow(m_hWnd, w.left, w.top, width, height, TRUE);
        }
        m_splitter.ShowWindow(SW_SHOW);
        if (!m_bListCollapsed)
            m_listPane.ShowWindow(SW_SHOW);
    } else {
        m_listPane.ShowWindow(SW_HIDE);
        m_splitter.ShowWindow(SW_HIDE);
        KeepFocusVisible();
        if (maximized)
            RecalcLayout(TRUE, m_nListWidth);
        else
            MoveWindowWidth(-extra);
    }
}

void CFrameDialog::SetListCollapsed(BOOL collapsed)
{
    m_bListCollapsed = collapsed;
    const BOOL maximized = ::IsZoomed(m_hWnd);
    if (collapsed) {
        m_listPane.ShowWindow(SW_HIDE);
        KeepFocusVisible();
        if (maximized)
            RecalcLayout(TRUE, m_nListWidth);
        else
            MoveWindowWidth(-m_nListWidth);
    } else {
        if (maximized)
            RecalcLayout(TRUE, m_nListWidth);
        else
            MoveWindowWidth(m_nListWidth);
        m_listPane.ShowWindow(SW_SHOW);
    }
}

void CFrameDialog::ApplySkinColours()
{
    m_videoPane.Bar().SetBkColor(g_skin.m_clrPane);
    m_videoPane.Invalidate();
    m_listPane.UpdateColours();
    m_splitter.SetColor(g_skin.m_clrPane);
    m_splitter.Invalidate();
    ApplyCaptionColours();
    // The control bar's state and time boxes paint their own background.
    if (m_videoPane.IsWindow())
        ::RedrawWindow(m_videoPane, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN);
}

void CFrameDialog::ShowMainMenu()
{
    HMENU menu = ::LoadMenuW(AfxGetResourceHandle(), MAKEINTRESOURCEW(IDR_POPUP_MENU));
    if (!menu)
        return;
    HMENU popup = ::GetSubMenu(menu, 0);
    ::CheckMenuItem(popup, ID_VIEW_TOPMOST, MF_BYCOMMAND | (m_bTopMost ? MF_CHECKED : MF_UNCHECKED));
    ::CheckMenuItem(popup, ID_VIEW_HIDE_LIST, MF_BYCOMMAND | (m_bShowProgList ? MF_UNCHECKED : MF_CHECKED));
    POINT cursor = {};
    ::GetCursorPos(&cursor);
    POINT top = {0, kCaptionStrip};
    ::ClientToScreen(m_hWnd, &top);
    ::TrackPopupMenu(popup, 0, cursor.x, top.y, 0, m_hWnd, nullptr);
    ::DestroyMenu(menu);
}

void CFrameDialog::OnOpenFile()
{
    CFileDialog dlg(TRUE, nullptr, nullptr, OFN_HIDEREADONLY | OFN_FILEMUSTEXIST,
                    L"All Files (*.*)|*.*|FLV Files (*.flv;*.swf)|*.flv;*.swf|WMV Files (*.wmv;*.asf)|*.wmv;*.asf|"
                    L"RM Files (*.rm;*.rmvb)|*.rm; *.rmvb||",
                    this);
    if (dlg.DoModal() == IDOK && !dlg.GetPathName().empty())
        OpenMedia(dlg.GetPathName().c_str(), nullptr, TRUE);
}

void CFrameDialog::OnOpenUrl()
{
    COpenUrlDlg dlg;
    dlg.m_pParentWnd = this;
    dlg.m_pHistory = &m_history.Paths();
    if (dlg.DoModal() == IDOK && !dlg.m_strUrl.empty())
        OpenMedia(dlg.m_strUrl.c_str(), nullptr, TRUE);
}

void CFrameDialog::OnLivenessTimer()
{
    if (IsWindowVisible())
        return;
    if (!m_hClientFrame)
        m_hClientFrame = ::FindWindowW(kClientFrameClass, nullptr);
    if (!m_hClientFrame || !::IsWindow(m_hClientFrame))
        ::PostQuitMessage(0);
}

LRESULT CFrameDialog::OnCopyData(const CopyData& data)
{
    switch (data.Code()) {
    case kCopyCommand: {
        const std::wstring text = data.Text();
        if (!text.empty())
            OpenCommand(text.c_str());
        return TRUE;
    }
    case kCopyColour: {
        COLORREF colour = 0;
        if (data.Colour(&colour)) {
            g_skin.SetFrameColor(colour);
            ApplySkinColours();
        }
        return TRUE;
    }
    case kCopyChange:
        m_listPane.ShowWindow(m_bShowProgList && !m_bListCollapsed ? SW_SHOW : SW_HIDE);
        RecalcLayout(TRUE, 0);
        ShowWindow(SW_SHOW);
        m_videoPane.Bar().SetChangeChecked(TRUE);
        ::SetForegroundWindow(m_hWnd);
        return TRUE;
    default:
        return -1;
    }
}

void CFrameDialog::DrawClient(CDC* dc, RECT client)
{
    CDialogBase::DrawClient(dc, client);
    dc->FillSolidRect(CRect(client.left + 1, client.top + kCaptionStrip, client.right - 1, client.bottom - 1),
                      g_skin.m_clrPane);
}

namespace {

// A control that Space means something to: a text field types it, a button
// presses on it.
bool TakesSpace(HWND wnd)
{
    wchar_t name[16] = {};
    ::GetClassNameW(wnd, name, 16);
    return ::CompareStringOrdinal(name, -1, L"Edit", -1, TRUE) == CSTR_EQUAL ||
           ::CompareStringOrdinal(name, -1, L"Button", -1, TRUE) == CSTR_EQUAL ||
           ::CompareStringOrdinal(name, -1, L"ComboBox", -1, TRUE) == CSTR_EQUAL;
}

} // namespace

BOOL CFrameDialog::PreTranslateMessage(MSG* msg)
{
    // Space plays and pauses wherever the keyboard is in the frame (the
    // video pane handles its own first); a held key's repeats do nothing more.
    if (msg->message == WM_KEYDOWN && msg->wParam == VK_SPACE && ::IsChild(m_hWnd, msg->hwnd) &&
        !TakesSpace(msg->hwnd)) {
        if (!(msg->lParam & (1 << 30)))
            m_videoPane.Bar().PlayPause();
        return TRUE;
    }
    if (msg->wParam == VK_ESCAPE) {
        ::SendMessageW(msg->hwnd, msg->message, VK_ESCAPE, msg->lParam);
        return TRUE;
    }
    return CDialogBase::PreTranslateMessage(msg);
}

BOOL CFrameDialog::OnCommand(WPARAM wp, LPARAM lp)
{
    switch (LOWORD(wp)) {
    case ID_FILE_OPEN_MEDIA:
        OnOpenFile();
        return TRUE;
    case ID_FILE_OPEN_URL:
        OnOpenUrl();
        return TRUE;
    case ID_VIEW_TOPMOST:
        ToggleTopMost();
        return TRUE;
    case ID_VIEW_HIDE_LIST:
        ToggleProgramList();
        return TRUE;
    case ID_APP_ABOUT: {
        CAboutDlg about(this);
        about.DoModal();
        return TRUE;
    }
    case ID_APP_EXIT:
        SendMessage(WM_CLOSE);
        return TRUE;
    default:
        return CDialogBase::OnCommand(wp, lp);
    }
}

BOOL CFrameDialog::OnNotify(WPARAM wp, LPARAM lp, LRESULT* result)
{
    auto* hdr = reinterpret_cast<const NMHDR*>(lp);
    if (hdr && hdr->idFrom == IDC_SPLITTER && hdr->code == SPN_DRAGGED) {
        const int old = m_nListWidth;
        m_nListWidth = old - reinterpret_cast<const NMSPLITTER*>(lp)->delta;
        RecalcLayout(FALSE, old);
        *result = 0;
        return TRUE;
    }
    return CDialogBase::OnNotify(wp, lp, result);
}

LRESULT CFrameDialog::WindowProc(UINT msg, WPARAM wp, LPARAM lp)
{
    if (msg == WM_QZPLAYER_APPLICATION) {
        if (wp == kQuitRequest)
            ::PostQuitMessage(0);
        return WM_QZPLAYER_APPLICATION;
    }
    switch (msg) {
    case WM_SIZE: {
        LRESULT r = CDialogBase::WindowProc(msg, wp, lp);
        OnSize(static_cast<UINT>(wp));
        return r;
    }
    case WM_GETMINMAXINFO: {
        auto* info = reinterpret_cast<MINMAXINFO*>(lp);
        int cx = 0, cy = 0;
        GetMinTrackSize(cx, cy);
        info->ptMinTrackSize = {cx, cy};
        break;
    }
    case WM_SYSCOMMAND:
        if ((wp & 0xFFF0) == SC_CLOSE) {
            ::PostQuitMessage(0);
            return 0;
        }
        break;
    case WM_CLOSE:
        // What the dialog's IDCANCEL did before keys were kept from it: the
        // frame hides, and the liveness timer ends the process unless the
        // client program is there.
        ShowWindow(SW_HIDE);
        return 0;
    case WM_TIMER:
        if (m_nTimerId && wp == m_nTimerId) {
            OnLivenessTimer();
            return 0;
        }
        break;
    case WM_COPYDATA: {
        const LRESULT r = OnCopyData(CopyData(lp));
        if (r != -1)
            return r;
        break;
    }
    case WM_ENDSESSION:
        // Windows ends the process without WM_DESTROY: keep what WM_DESTROY keeps.
        if (wp)
            SaveSystemSettings();
        break;
    case WM_DESTROY:
        if (m_nTimerId) {
            KillTimer(m_nTimerId);
            m_nTimerId = 0;
        }
        SaveSystemSettings();
        break;
    default:
        break;
    }
    return CDialogBase::WindowProc(msg, wp, lp);
}
