#include "ListPane.h"

#include "IniFile.h"
#include "Protocol.h"
#include "SkinConfig.h"
#include "StageTimes.h"

#include <shellapi.h>
#include <windowsx.h>

#include <algorithm>
#include <cwchar>
#include <vector>

namespace {

const wchar_t kListHeading[] = L"正在播放的节目列表";
const wchar_t kAddFilter[] =
    L"All Files (*.*)|*.*|FLV Files (*.flv;*.swf)|*.flv;*.swf|WMV Files (*.wmv;*.asf)|*.wmv;*.asf|"
    L"RM Files (*.rm;*.rmvb)|*.rm; *.rmvb||";
const int kDropNameSize = 512;

} // namespace

// Many rows added at once: the list view learns the count once, at the end
// (it updates its scroll bar on every change of the count).
class CListPane::Batch {
public:
    explicit Batch(CListPane& pane) : m_pane(pane) { ++m_pane.m_nBatch; }
    ~Batch()
    {
        if (--m_pane.m_nBatch == 0)
            m_pane.SyncCount(LVSICF_NOINVALIDATEALL | LVSICF_NOSCROLL);
    }
    Batch(const Batch&) = delete;
    Batch& operator=(const Batch&) = delete;

private:
    CListPane& m_pane;
};

CListPane::~CListPane()
{
    if (IsWindow())
        DestroyWindow();
    RemoveAll();
}

void CListPane::DoDataExchange(CDataExchange* dx)
{
    CDialog::DoDataExchange(dx);
    DDX_Control(dx, IDC_PLAYLIST, m_list);
}

BOOL CListPane::OnInitDialog()
{
    stagetimes::Scope timed(stagetimes::kListPane);
    CDialog::OnInitDialog();
    m_clrBk = g_skin.m_clrList;
    SetupList();
    LoadList();
    return TRUE;
}

void CListPane::SetupList()
{
    m_list.ModifyStyle(0, LVS_REPORT | LVS_SHOWSELALWAYS | LVS_NOCOLUMNHEADER);
    m_list.SetExtendedStyle(LVS_EX_FULLROWSELECT | LVS_EX_TWOCLICKACTIVATE | LVS_EX_INFOTIP);
    m_list.SetTextColor(g_skin.m_clrFrameDark);
    m_list.SetBkColor(g_skin.m_clrList);
    m_list.SetTextBkColor(g_skin.m_clrList);
    m_list.InsertColumn(0, kListHeading, LVCFMT_LEFT, 100);

    // The list view destroys its small image list with itself; the bitmap is
    // copied into the list and deleted here.
    CBitmap images;
    if (!images.LoadBitmap(IDB_PROGLIST))
        return;
    HIMAGELIST list = ::ImageList_Create(16, 16, ILC_COLORDDB | ILC_MASK, 2, 2);
    if (!list)
        return;
    ::ImageList_AddMasked(list, images, RGB(255, 255, 255));
    HIMAGELIST old = m_list.SetImageList(list, LVSIL_SMALL);
    if (old && old != list)
        ::ImageList_Destroy(old);
}

// ---------------------------------------------------------------------------
// Entries

ProgItem* CListPane::AddItem(LPCWSTR text, LPCWSTR title)
{
    if (!text || !title || !m_list.IsWindow())
        return nullptr;
    ProgItem* item = m_playlist.Add(text, title);
    if (item && !m_nBatch)
        SyncCount(LVSICF_NOINVALIDATEALL | LVSICF_NOSCROLL);
    return item;
}

ProgItem* CListPane::AddFile(LPCWSTR path)
{
    if (!path)
        return nullptr;
    return AddItem(path, CPlaylist::DisplayName(path).c_str());
}

void CListPane::RemoveAll()
{
    {
        stagetimes::Scope freeing(stagetimes::kFreeRows);
        m_playlist.RemoveAll();
    }
    if (m_list.IsWindow())
        SyncCount(0);
}

void CListPane::SyncCount(DWORD flags)
{
    // The rows under the mouse may be others now.
    m_nTipRow = -1;
    if (m_tip.m_hWnd)
        m_tip.Activate(FALSE);
    {
        stagetimes::Scope count(stagetimes::kListCount);
        m_list.SendMessage(LVM_SETITEMCOUNT, static_cast<WPARAM>(Count()), flags);
    }
    if (m_pFrame)
        m_pFrame->OnListCountChanged(Count());
}

void CListPane::RedrawRow(int row)
{
    if (row >= 0)
        m_list.SendMessage(LVM_REDRAWITEMS, static_cast<WPARAM>(row), row);
}

void CListPane::SetCurItem(ProgItem* item)
{
    if (!item)
        return;
    // The play image is the current entry's: the rows of the old and the new
    // one are drawn again.
    m_list.SetItemState(-1, 0, LVIS_SELECTED);
    const int n = Count();
    for (int i = 0; i < n; ++i) {
        ProgItem* rec = GetRowItem(i);
        if (rec == item)
            m_list.SetItemState(i, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
        if (rec == item || rec == m_playlist.Current())
            RedrawRow(i);
    }
    m_playlist.SetCurrent(item);
    // The selection follows the new entry; the keyboard stays where the user
    // left it (a hidden list, or one lent away, must never take it).
}

ProgItem* CListPane::GetStartProg(std::wstring& path)
{
    ProgItem* item = m_playlist.StartItem(m_list.IsWindow() ? m_list.GetNextItem(-1, LVNI_SELECTED) : -1);
    if (item)
        path = item->url;
    return item;
}

void CListPane::UpdateColours()
{
    m_clrBk = g_skin.m_clrList;
    m_list.SetTextColor(g_skin.m_clrFrameDark);
    m_list.SetBkColor(g_skin.m_clrList);
    m_list.SetTextBkColor(g_skin.m_clrList);
    Invalidate(TRUE);
    // The pane clips its children: the list repaints in the new colours
    // only when it is invalidated itself.
    m_list.Invalidate(TRUE);
}

// ---------------------------------------------------------------------------
// Commands

void CListPane::DeleteSelected()
{
    std::vector<int> rows; // ascending: each search starts after the last row found
    for (int i = m_list.GetNextItem(-1, LVNI_SELECTED); i >= 0 && i < Count(); i = m_list.GetNextItem(i, LVNI_SELECTED))
        rows.push_back(i);
    if (rows.empty())
        return;
    m_playlist.Remove(rows);
    // Every selected row went; the focus stays where it was.
    m_list.SetItemState(-1, 0, LVIS_SELECTED);
    SyncCount(LVSICF_NOSCROLL);
}

void CListPane::PlayRow(int row)
{
    ProgItem* rec = GetRowItem(row);
    if (rec && m_pFrame)
        m_pFrame->OpenMedia(rec->url.c_str(), rec, TRUE);
}

void CListPane::PlaySelected()
{
    PlayRow(m_list.GetNextItem(-1, LVNI_SELECTED));
}

void CListPane::MoveFirstSelected(int step)
{
    const int row = m_list.GetNextItem(-1, LVNI_SELECTED);
    if (row < 0 || row + step < 0 || row + step >= Count())
        return;
    SwapRows(row, row + step);
    // The moved row takes the focus, as the keyboard user expects.
    m_list.SetItemState(row + step, LVIS_FOCUSED, LVIS_FOCUSED);
}

void CListPane::SortByName()
{
    const UINT mask = LVIS_SELECTED | LVIS_FOCUSED;
    const int n = Count();
    std::vector<UINT> states(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i)
        states[static_cast<size_t>(i)] = m_list.GetItemState(i, mask);
    const std::vector<int> from = m_playlist.SortByName();
    int first = n, last = -1;
    for (int i = 0; i < n; ++i) {
        const int old = from[static_cast<size_t>(i)];
        if (old == i)
            continue;
        first = std::min(first, i);
        last = i;
        if (states[static_cast<size_t>(old)] != states[static_cast<size_t>(i)])
            m_list.SetItemState(i, states[static_cast<size_t>(old)], mask);
    }
    if (last >= 0)
        m_list.SendMessage(LVM_REDRAWITEMS, static_cast<WPARAM>(first), last);
}

void CListPane::SwapRows(int a, int b)
{
    m_playlist.Swap(a, b);
    // The selection follows the rows.
    const UINT mask = LVIS_SELECTED | LVIS_FOCUSED;
    const UINT sa = m_list.GetItemState(a, mask), sb = m_list.GetItemState(b, mask);
    if (sa != sb) {
        m_list.SetItemState(a, sb, mask);
        m_list.SetItemState(b, sa, mask);
    }
    RedrawRow(a);
    RedrawRow(b);
}

void CListPane::AddFilesDialog()
{
    CFileDialog dlg(TRUE, nullptr, nullptr, OFN_HIDEREADONLY | OFN_ALLOWMULTISELECT | OFN_FILEMUSTEXIST, kAddFilter);
    if (dlg.DoModal() != IDOK)
        return;
    Batch batch(*this);
    for (const std::wstring& path : dlg.GetPathNames())
        if (!path.empty())
            AddFile(path.c_str());
}

BOOL CListPane::OnCommand(WPARAM wp, LPARAM lp)
{
    switch (LOWORD(wp)) {
    case ID_PROG_ADD: AddFilesDialog(); return TRUE;
    case ID_PROG_DELETE: DeleteSelected(); return TRUE;
    case ID_PROG_PLAY: PlaySelected(); return TRUE;
    case ID_PROG_REPEAT: ToggleRepeat(); return TRUE;
    case ID_PROG_RAND: ToggleRand(); return TRUE;
    case ID_PROG_MOVE_UP: MoveUp(); return TRUE;
    case ID_PROG_MOVE_DOWN: MoveDown(); return TRUE;
    case ID_PROG_SORT: SortByName(); return TRUE;
    default: return CDialog::OnCommand(wp, lp);
    }
}

void CListPane::ShowContextMenu()
{
    HMENU menu = ::LoadMenuW(AfxGetResourceHandle(), MAKEINTRESOURCEW(IDR_POPUP_MENU));
    if (!menu)
        return;
    HMENU popup = ::GetSubMenu(menu, 1);
    POINT at = {};
    ::GetCursorPos(&at);
    if (popup && m_list.GetWindowRect().PtInRect(at)) {
        ::CheckMenuItem(popup, ID_PROG_REPEAT, MF_BYCOMMAND | (m_playlist.m_bRepeat ? MF_CHECKED : MF_UNCHECKED));
        ::CheckMenuItem(popup, ID_PROG_RAND, MF_BYCOMMAND | (m_playlist.m_bRand ? MF_CHECKED : MF_UNCHECKED));
        ::TrackPopupMenu(popup, 0, at.x, at.y, 0, m_hWnd, nullptr);
    }
    ::DestroyMenu(menu);
}

BOOL CListPane::OnListNotify(const NMHDR* hdr, LRESULT* result)
{
    switch (hdr->code) {
    case LVN_GETDISPINFOW: {
        LVITEMW& item = const_cast<NMLVDISPINFOW*>(reinterpret_cast<const NMLVDISPINFOW*>(hdr))->item;
        ProgItem* rec = GetRowItem(item.iItem);
        if (!rec)
            return FALSE;
        if ((item.mask & LVIF_TEXT) && item.pszText && item.cchTextMax > 0)
            ::lstrcpynW(item.pszText, m_playlist.Name(item.iItem).c_str(), item.cchTextMax);
        if (item.mask & LVIF_IMAGE)
            item.iImage = rec == m_playlist.Current() ? kCurrentImage : kEntryImage;
        if (item.mask & LVIF_PARAM)
            item.lParam = reinterpret_cast<LPARAM>(rec);
        *result = 0;
        return TRUE;
    }
    case LVN_ODFINDITEMW: {
        // Typing a name's beginning finds the next row that starts with it.
        const NMLVFINDITEMW* find = reinterpret_cast<const NMLVFINDITEMW*>(hdr);
        *result = -1;
        const int n = Count();
        if (!(find->lvfi.flags & (LVFI_STRING | LVFI_PARTIAL)) || !find->lvfi.psz || n == 0)
            return TRUE;
        const size_t length = wcslen(find->lvfi.psz);
        const bool whole = !(find->lvfi.flags & LVFI_PARTIAL);
        const int start = find->iStart >= 0 && find->iStart < n ? find->iStart : 0;
        for (int k = 0; k < n; ++k) {
            const int i = (start + k) % n;
            if (k > 0 && i == 0 && !(find->lvfi.flags & LVFI_WRAP))
                break;
            const std::wstring& name = m_playlist.Name(i);
            if (whole ? _wcsicmp(name.c_str(), find->lvfi.psz) == 0
                      : _wcsnicmp(name.c_str(), find->lvfi.psz, length) == 0) {
                *result = i;
                break;
            }
        }
        return TRUE;
    }
    default:
        return FALSE;
    }
}

BOOL CListPane::OnNotify(WPARAM wp, LPARAM lp, LRESULT* result)
{
    const NMHDR* hdr = reinterpret_cast<const NMHDR*>(lp);
    if (hdr && hdr->idFrom == IDC_PLAYLIST) {
        if (OnListNotify(hdr, result))
            return TRUE;
        if (hdr->code == static_cast<UINT>(NM_RCLICK)) {
            ShowContextMenu();
            *result = 0;
            return TRUE;
        }
        if (hdr->code == static_cast<UINT>(LVN_ITEMACTIVATE)) {
            PlayRow(reinterpret_cast<const NMITEMACTIVATE*>(lp)->iItem);
            *result = 0;
            return TRUE;
        }
    }
    return CDialog::OnNotify(wp, lp, result);
}

void CListPane::OnListMouseMove(POINT at)
{
    LVHITTESTINFO hit = {};
    hit.pt = at;
    const int row = static_cast<int>(m_list.SendMessage(LVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit)));
    if (row == m_nTipRow)
        return;
    m_nTipRow = row;
    // A name is cut when it is wider than its label (less the list's margins).
    CRect label(LVIR_LABEL, 0, 0, 0);
    const bool cut = row >= 0 && row < Count() &&
                     m_list.SendMessage(LVM_GETITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&label)) &&
                     m_list.SendMessage(LVM_GETSTRINGWIDTHW, 0,
                                        reinterpret_cast<LPARAM>(m_playlist.Name(row).c_str())) +
                             12 > label.Width();
    if (!m_tip.m_hWnd) {
        if (!cut || !m_tip.Create(this, 0))
            return;
        m_tip.SetMaxTipWidth(400);
        m_tip.AddTool(&m_list, L"", label, 1);
    }
    m_tip.Activate(FALSE); // a new row's tip waits for its own delay
    if (!cut)
        return;
    m_tip.UpdateTipText(m_playlist.Name(row).c_str(), &m_list, 1);
    m_tip.SetToolRect(&m_list, 1, label);
    m_tip.Activate(TRUE);
}

BOOL CListPane::PreTranslateMessage(MSG* msg)
{
    if (msg->hwnd == m_list.m_hWnd && msg->message >= WM_MOUSEFIRST && msg->message <= WM_MOUSELAST) {
        if (msg->message == WM_MOUSEMOVE)
            OnListMouseMove({GET_X_LPARAM(msg->lParam), GET_Y_LPARAM(msg->lParam)});
        if (m_tip.m_hWnd)
            m_tip.RelayEvent(msg);
    }
    if (msg->message == WM_KEYDOWN) {
        switch (msg->wParam) {
        case VK_ESCAPE:
            // A dialog ends on Esc; this pane must stay.
            return TRUE;
        case VK_RETURN:
            PlaySelected();
            return TRUE;
        case VK_DELETE:
            DeleteSelected();
            break;
        case VK_SPACE:
            // Not the list's: the frame plays and pauses with it.
            if (msg->hwnd == m_list.m_hWnd)
                return FALSE;
            break;
        default:
            break;
        }
    }
    return CDialog::PreTranslateMessage(msg);
}

// ---------------------------------------------------------------------------
// Window messages

void CListPane::OnDropFiles(HDROP drop)
{
    const UINT count = ::DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
    Batch batch(*this);
    for (UINT i = 0; i < count; ++i) {
        wchar_t name[kDropNameSize] = {};
        if (::DragQueryFileW(drop, i, name, kDropNameSize) > 0)
            AddFile(name);
    }
}

void CListPane::OnPaint()
{
    CPaintDC dc(m_hWnd);
    const CRect client = GetClientRect();
    dc.FillSolidRect(client, m_clrBk);
    // Inside another program's window (embedded display) the border is left out.
    if (!m_pFrame || ::GetParent(m_hWnd) == m_pFrame->GetFrameWnd())
        dc.Draw3dRect(client, g_skin.m_clrFrame, g_skin.m_clrList);
}

void CListPane::OnSize()
{
    if (!m_list.IsWindow())
        return;
    CRect r = GetClientRect();
    r.DeflateRect(5, 5);
    ::SetWindowPos(m_list, HWND_TOP, r.left, r.top, r.Width(), r.Height(), SWP_SHOWWINDOW);
    // Room for the vertical scroll bar.
    m_list.SetColumnWidth(0, r.Width() - 20);
}

LRESULT CListPane::WindowProc(UINT msg, WPARAM wp, LPARAM lp)
{
    switch (msg) {
    case WM_SIZE: {
        LRESULT r = CDialog::WindowProc(msg, wp, lp);
        OnSize();
        return r;
    }
    case WM_ERASEBKGND:
        return TRUE;
    case WM_PAINT:
        OnPaint();
        return 0;
    case WM_DROPFILES: {
        HDROP drop = reinterpret_cast<HDROP>(wp);
        LRESULT r = 0;
        if (::DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0) == 0)
            r = CDialog::WindowProc(msg, wp, lp);
        else
            OnDropFiles(drop);
        // The receiver of a drop frees it.
        ::DragFinish(drop);
        return r;
    }
    case WM_COPYDATA: {
        if (CopyData(lp).Code() == kCopyRepaint) {
            m_list.Invalidate(TRUE);
            Invalidate(TRUE);
            return TRUE;
        }
        break;
    }
    case WM_DESTROY:
        // The frame saved the list with its own settings as it went (its
        // WM_DESTROY comes before its children's).
        RemoveAll();
        // The tip is a top-level window: it would outlive the pane.
        if (m_tip.IsWindow())
            m_tip.DestroyWindow();
        break;
    default:
        break;
    }
    return CDialog::WindowProc(msg, wp, lp);
}

// ---------------------------------------------------------------------------
// Persistence

void CListPane::LoadList()
{
    // Rows come only with the list view that shows them, as in AddItem.
    if (!m_list.IsWindow())
        return;
    Batch batch(*this);
    m_playlist.Load();
}

void CListPane::SaveListTo(CIniEdit& edit)
{
    // Without its list the pane never loaded: saving would wipe the list.
    if (m_list.IsWindow()) {
        stagetimes::Scope timed(stagetimes::kSaveEntries);
        m_playlist.SaveTo(edit);
    }
}
