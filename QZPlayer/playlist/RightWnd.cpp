#include "RightWnd.h"

#include "IniFile.h"
#include "SkinConfig.h"

#include <shellapi.h>
#include <windowsx.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <new>
#include <utility>
#include <cwchar>
#include <vector>

namespace {

const wchar_t kListSection[] = L"ProgList";
const wchar_t kSystemSection[] = L"System";
const wchar_t kListHeading[] = L"正在播放的节目列表";
const wchar_t kAddFilter[] =
    L"All Files (*.*)|*.*|FLV Files (*.flv;*.swf)|*.flv;*.swf|WMV Files (*.wmv;*.asf)|*.wmv;*.asf|"
    L"RM Files (*.rm;*.rmvb)|*.rm; *.rmvb||";
const int kRandomDraws = 10000;
const int kDropNameSize = 512;

// "Name12": by hand, as a long list makes tens of thousands at every quit.
std::wstring KeyOf(const wchar_t* name, int index)
{
    wchar_t digits[12];
    wchar_t* at = digits + 12;
    unsigned v = static_cast<unsigned>(index);
    do {
        *--at = static_cast<wchar_t>(L'0' + v % 10);
        v /= 10;
    } while (v);
    std::wstring key(name);
    key.append(at, static_cast<size_t>(digits + 12 - at));
    return key;
}

// Keys compare without regard to case, as the profile functions do: TRUE
// when key starts with lower (ASCII, lower case), n characters.
bool StartsNoCase(std::wstring_view key, const wchar_t* lower, size_t n)
{
    if (key.size() < n)
        return false;
    for (size_t i = 0; i < n; ++i) {
        wchar_t c = key[i];
        if (c >= L'A' && c <= L'Z')
            c = static_cast<wchar_t>(c - L'A' + L'a');
        if (c != lower[i])
            return false;
    }
    return true;
}

// The row of a list key as written: "Name" or "Url" (any case) and the row
// number without sign or leading zero, at most INT_MAX. -1 for other keys.
int RowOfKey(std::wstring_view key, bool* isName)
{
    size_t at;
    if (StartsNoCase(key, L"name", 4)) {
        *isName = true;
        at = 4;
    } else if (StartsNoCase(key, L"url", 3)) {
        *isName = false;
        at = 3;
    } else {
        return -1;
    }
    if (at == key.size() || (key[at] == L'0' && at + 1 < key.size()))
        return -1;
    long long n = 0;
    for (; at < key.size(); ++at) {
        if (key[at] < L'0' || key[at] > L'9')
            return -1;
        n = n * 10 + (key[at] - L'0');
        if (n > INT_MAX)
            return -1;
    }
    return static_cast<int>(n);
}

} // namespace

// Many rows added at once: the list view learns the count once, at the end
// (it updates its scroll bar on every change of the count).
class CRightWnd::Batch {
public:
    explicit Batch(CRightWnd& pane) : m_pane(pane) { ++m_pane.m_nBatch; }
    ~Batch()
    {
        if (--m_pane.m_nBatch == 0)
            m_pane.SyncCount(LVSICF_NOINVALIDATEALL | LVSICF_NOSCROLL);
    }
    Batch(const Batch&) = delete;
    Batch& operator=(const Batch&) = delete;

private:
    CRightWnd& m_pane;
};

CRightWnd::~CRightWnd()
{
    if (IsWindow())
        DestroyWindow();
    RemoveAll();
}

void CRightWnd::DoDataExchange(CDataExchange* dx)
{
    CDialog::DoDataExchange(dx);
    DDX_Control(dx, IDC_PLAYLIST, m_list);
}

BOOL CRightWnd::OnInitDialog()
{
    CDialog::OnInitDialog();
    SetupList();
    LoadList();
    return TRUE;
}

void CRightWnd::SetupList()
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

std::wstring CRightWnd::DisplayName(LPCWSTR path)
{
    std::wstring name(path ? path : L"");
    size_t at = name.rfind(L'\\');
    if (at == std::wstring::npos || at < 2)
        at = name.rfind(L'/');
    if (at != std::wstring::npos && at >= 2)
        return name.substr(at + 1);
    return name;
}

ProgItem* CRightWnd::AddItem(LPCWSTR text, LPCWSTR title)
{
    if (!text || !title)
        return nullptr;
    return AddRow(text, title);
}

ProgItem* CRightWnd::AddRow(std::wstring_view text, std::wstring_view title)
{
    // Titles and paths come from peers, servers and users: none may carry a
    // line break into the settings file, and what is shown is what is saved.
    const std::wstring path = CIniFile::Printable(std::wstring(text));
    std::wstring name = CIniFile::Printable(std::wstring(title));
    if (!m_list.IsWindow())
        return nullptr;
    ProgItem* item = ProgItem::Create(path.c_str());
    if (!item)
        return nullptr;
    try {
        m_rows.push_back({std::move(name), item});
    } catch (const std::bad_alloc&) {
        delete item;
        return nullptr;
    }
    if (!m_nBatch)
        SyncCount(LVSICF_NOINVALIDATEALL | LVSICF_NOSCROLL);
    return item;
}

ProgItem* CRightWnd::AddFile(LPCWSTR path)
{
    if (!path)
        return nullptr;
    return AddItem(path, DisplayName(path).c_str());
}

void CRightWnd::RemoveAll()
{
    for (Row& row : m_rows)
        delete row.item;
    m_rows.clear();
    m_pCurItem = nullptr;
    if (m_list.IsWindow())
        SyncCount(0);
}

void CRightWnd::SyncCount(DWORD flags)
{
    // The rows under the mouse may be others now.
    m_nTipRow = -1;
    if (m_tip.m_hWnd)
        m_tip.Activate(FALSE);
    m_list.SendMessage(LVM_SETITEMCOUNT, m_rows.size(), flags);
    if (m_pFrame)
        m_pFrame->OnListCountChanged(Count());
}

void CRightWnd::RedrawRow(int row)
{
    if (row >= 0)
        m_list.SendMessage(LVM_REDRAWITEMS, static_cast<WPARAM>(row), row);
}

void CRightWnd::SetCurItem(ProgItem* item)
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
        if (rec == item || rec == m_pCurItem)
            RedrawRow(i);
    }
    m_pCurItem = item;
    item->bPlayed = TRUE;
    ::SetFocus(m_list);
}

void CRightWnd::ClearPlayed()
{
    for (Row& row : m_rows)
        row.item->bPlayed = FALSE;
}

ProgItem* CRightWnd::GetNextProg(std::wstring& path)
{
    const int n = Count();
    if (n <= 0)
        return nullptr;
    ProgItem* next = nullptr;
    if (!m_bRand) {
        int c = 0;
        while (c < n && GetRowItem(c) != m_pCurItem)
            ++c;
        if (!m_pCurItem || c == n)
            return nullptr;
        if (c + 1 < n)
            next = GetRowItem(c + 1);
        else if (m_bRepeat)
            next = GetRowItem(0);
    } else if (n == 1) {
        if (m_bRepeat)
            next = GetRowItem(0);
    } else {
        bool unplayed = false;
        for (int i = 0; i < n && !unplayed; ++i) {
            ProgItem* rec = GetRowItem(i);
            unplayed = rec && !rec->bPlayed;
        }
        if (unplayed) {
            for (int draw = 0; draw < kRandomDraws && !next; ++draw) {
                ProgItem* rec = GetRowItem(std::rand() % n);
                if (rec && !rec->bPlayed && rec != m_pCurItem)
                    next = rec;
            }
        } else {
            ClearPlayed();
            if (m_bRepeat)
                next = GetRowItem(std::rand() % n);
        }
    }
    if (next)
        path = next->pszUrl;
    return next;
}

ProgItem* CRightWnd::GetStartProg(std::wstring& path)
{
    ProgItem* item = GetRowItem(m_list.IsWindow() ? m_list.GetNextItem(-1, LVNI_SELECTED) : -1);
    if (!item)
        item = m_pCurItem;
    if (!item)
        item = GetRowItem(0);
    if (item)
        path = item->pszUrl;
    return item;
}

void CRightWnd::UpdateColours()
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

void CRightWnd::DeleteSelected()
{
    std::vector<Row> kept;
    int next = m_list.GetNextItem(-1, LVNI_SELECTED);
    if (next < 0)
        return;
    kept.reserve(m_rows.size());
    for (int i = 0; i < Count(); ++i) {
        Row& row = m_rows[static_cast<size_t>(i)];
        if (i != next) {
            kept.push_back(std::move(row));
            continue;
        }
        if (row.item == m_pCurItem)
            m_pCurItem = nullptr;
        delete row.item;
        next = m_list.GetNextItem(i, LVNI_SELECTED);
    }
    m_rows.swap(kept);
    // Every selected row went; the focus stays where it was.
    m_list.SetItemState(-1, 0, LVIS_SELECTED);
    SyncCount(LVSICF_NOSCROLL);
}

void CRightWnd::PlayRow(int row)
{
    ProgItem* rec = GetRowItem(row);
    if (rec && m_pFrame)
        m_pFrame->OpenMedia(rec->pszUrl, rec, TRUE);
}

void CRightWnd::PlaySelected()
{
    PlayRow(m_list.GetNextItem(-1, LVNI_SELECTED));
}

void CRightWnd::ToggleRand()
{
    m_bRand = !m_bRand;
    ClearPlayed();
    if (m_bRand && m_pCurItem)
        m_pCurItem->bPlayed = TRUE;
}

void CRightWnd::MoveFirstSelected(int step)
{
    const int row = m_list.GetNextItem(-1, LVNI_SELECTED);
    if (row < 0 || row + step < 0 || row + step >= Count())
        return;
    SwapRows(row, row + step);
    // The moved row takes the focus, as the keyboard user expects.
    m_list.SetItemState(row + step, LVIS_FOCUSED, LVIS_FOCUSED);
}

void CRightWnd::SortByName()
{
    m_bSortAscending = !m_bSortAscending;
    SortItems(0, m_bSortAscending, 0, -1);
}

void CRightWnd::SwapRows(int a, int b)
{
    std::swap(m_rows[static_cast<size_t>(a)], m_rows[static_cast<size_t>(b)]);
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

void CRightWnd::SortItems(int column, BOOL ascending, int low, int high)
{
    const int columns = static_cast<int>(::SendMessageW(m_list.GetHeaderCtrl(), HDM_GETITEMCOUNT, 0, 0));
    if (column >= columns)
        return;
    if (high == -1)
        high = Count() - 1;
    int lo = low, hi = high;
    if (hi <= lo)
        return;
    auto text = [&](int row) -> const std::wstring& { return m_rows[static_cast<size_t>(row)].name; };
    const std::wstring pivot = text((lo + hi) / 2);
    auto before = [&](int row) {
        const int c = wcscmp(text(row).c_str(), pivot.c_str());
        return ascending ? c < 0 : c > 0;
    };
    auto after = [&](int row) {
        const int c = wcscmp(text(row).c_str(), pivot.c_str());
        return ascending ? c > 0 : c < 0;
    };
    while (lo <= hi) {
        while (lo < high && before(lo))
            ++lo;
        while (hi > low && after(hi))
            --hi;
        if (lo <= hi) {
            if (text(lo) != text(hi))
                SwapRows(lo, hi);
            ++lo;
            --hi;
        }
    }
    if (low < hi)
        SortItems(column, ascending, low, hi);
    if (lo < high)
        SortItems(column, ascending, lo, high);
}

void CRightWnd::AddFilesDialog()
{
    CFileDialog dlg(TRUE, nullptr, nullptr, OFN_HIDEREADONLY | OFN_ALLOWMULTISELECT | OFN_FILEMUSTEXIST, kAddFilter);
    if (dlg.DoModal() != IDOK)
        return;
    Batch batch(*this);
    for (const std::wstring& path : dlg.GetPathNames())
        if (!path.empty())
            AddFile(path.c_str());
}

BOOL CRightWnd::OnCommand(WPARAM wp, LPARAM lp)
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

void CRightWnd::ShowContextMenu()
{
    HMENU menu = ::LoadMenuW(AfxGetResourceHandle(), MAKEINTRESOURCEW(IDR_POPUP_MENU));
    if (!menu)
        return;
    HMENU popup = ::GetSubMenu(menu, 1);
    POINT at = {};
    ::GetCursorPos(&at);
    if (popup && m_list.GetWindowRect().PtInRect(at)) {
        ::CheckMenuItem(popup, ID_PROG_REPEAT, MF_BYCOMMAND | (m_bRepeat ? MF_CHECKED : MF_UNCHECKED));
        ::CheckMenuItem(popup, ID_PROG_RAND, MF_BYCOMMAND | (m_bRand ? MF_CHECKED : MF_UNCHECKED));
        ::TrackPopupMenu(popup, 0, at.x, at.y, 0, m_hWnd, nullptr);
    }
    ::DestroyMenu(menu);
}

BOOL CRightWnd::OnListNotify(const NMHDR* hdr, LRESULT* result)
{
    switch (hdr->code) {
    case LVN_GETDISPINFOW: {
        LVITEMW& item = const_cast<NMLVDISPINFOW*>(reinterpret_cast<const NMLVDISPINFOW*>(hdr))->item;
        const Row* row = item.iItem >= 0 && item.iItem < Count() ? &m_rows[static_cast<size_t>(item.iItem)] : nullptr;
        if (!row)
            return FALSE;
        if ((item.mask & LVIF_TEXT) && item.pszText && item.cchTextMax > 0)
            ::lstrcpynW(item.pszText, row->name.c_str(), item.cchTextMax);
        if (item.mask & LVIF_IMAGE)
            item.iImage = row->item == m_pCurItem ? kCurrentImage : kEntryImage;
        if (item.mask & LVIF_PARAM)
            item.lParam = reinterpret_cast<LPARAM>(row->item);
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
            const std::wstring& name = m_rows[static_cast<size_t>(i)].name;
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

BOOL CRightWnd::OnNotify(WPARAM wp, LPARAM lp, LRESULT* result)
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

void CRightWnd::OnListMouseMove(POINT at)
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
                                        reinterpret_cast<LPARAM>(m_rows[static_cast<size_t>(row)].name.c_str())) +
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
    m_tip.UpdateTipText(m_rows[static_cast<size_t>(row)].name.c_str(), &m_list, 1);
    m_tip.SetToolRect(&m_list, 1, label);
    m_tip.Activate(TRUE);
}

BOOL CRightWnd::PreTranslateMessage(MSG* msg)
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
        default:
            break;
        }
    }
    return CDialog::PreTranslateMessage(msg);
}

// ---------------------------------------------------------------------------
// Window messages

void CRightWnd::OnDropFiles(HDROP drop)
{
    const UINT count = ::DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
    Batch batch(*this);
    for (UINT i = 0; i < count; ++i) {
        wchar_t name[kDropNameSize] = {};
        if (::DragQueryFileW(drop, i, name, kDropNameSize) > 0)
            AddFile(name);
    }
}

void CRightWnd::OnPaint()
{
    CPaintDC dc(m_hWnd);
    const CRect client = GetClientRect();
    dc.FillSolidRect(client, m_clrBk);
    // Inside another program's window (embedded display) the border is left out.
    if (!m_pFrame || ::GetParent(m_hWnd) == m_pFrame->GetFrameWnd())
        dc.Draw3dRect(client, g_skin.m_clrFrame, g_skin.m_clrList);
}

void CRightWnd::OnSize()
{
    if (!m_list.IsWindow())
        return;
    CRect r = GetClientRect();
    r.DeflateRect(5, 5);
    ::SetWindowPos(m_list, HWND_TOP, r.left, r.top, r.Width(), r.Height(), SWP_SHOWWINDOW);
    // Room for the vertical scroll bar.
    m_list.SetColumnWidth(0, r.Width() - 20);
}

LRESULT CRightWnd::WindowProc(UINT msg, WPARAM wp, LPARAM lp)
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
        const COPYDATASTRUCT* cds = reinterpret_cast<const COPYDATASTRUCT*>(lp);
        if (cds && cds->dwData == 4) {
            m_list.Invalidate(TRUE);
            Invalidate(TRUE);
            return TRUE;
        }
        break;
    }
    case WM_ENDSESSION:
        // The session's end kills the process without WM_DESTROY.
        if (wp)
            SaveList();
        return 0;
    case WM_DESTROY:
        if (!m_bListSaved)
            SaveList();
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

void CRightWnd::LoadList()
{
    // One read of the whole section, and rows only for the keys it holds: a
    // damaged Count must cost nothing (reading key by key costs a search of
    // the file per key).
    IniSectionText section;
    CIniFile::GetSection(kListSection, section);
    // Keys in file order; a sort by row keeps that order among equal rows,
    // and the first of equal keys counts. No string per key: a long list is
    // parsed at every start.
    struct Key {
        int row;
        bool isName;
        std::wstring_view value;
    };
    std::vector<Key> keys;
    keys.reserve(section.lines.size());
    const std::wstring_view* countText = nullptr;
    for (const IniSectionText::Line& l : section.lines) {
        bool isName = false;
        const int row = RowOfKey(l.key, &isName);
        if (row >= 0)
            keys.push_back({row, isName, l.value});
        else if (!countText && l.key.size() == 5 && StartsNoCase(l.key, L"count", 5))
            countText = &l.value;
    }
    std::stable_sort(keys.begin(), keys.end(), [](const Key& a, const Key& b) { return a.row < b.row; });
    // Count bounds the rows; one that is no number bounds nothing, so that
    // every entry that is there comes back.
    int count = 0;
    if (countText && !countText->empty() && (!CIniFile::ParseInt(std::wstring(*countText), count) || count < 0))
        count = INT_MAX;
    Batch batch(*this);
    for (size_t i = 0; i < keys.size() && keys[i].row < count;) {
        const std::wstring_view *name = nullptr, *url = nullptr;
        const int row = keys[i].row;
        for (; i < keys.size() && keys[i].row == row; ++i) {
            const std::wstring_view*& slot = keys[i].isName ? name : url;
            if (!slot)
                slot = &keys[i].value;
        }
        if (!AddRow(url ? *url : std::wstring_view(), name ? *name : std::wstring_view()))
            break; // out of memory
    }

    std::wstring flag;
    std::vector<IniEntry> system;
    CIniFile::GetSection(kSystemSection, system);
    if (CIniFile::Find(system, L"Repeat", flag))
        m_bRepeat = _wtol(flag.c_str());
    if (CIniFile::Find(system, L"Rand", flag))
        m_bRand = _wtol(flag.c_str());
}

void CRightWnd::SaveList()
{
    // The list and its modes in one replacement of the file, so that a long
    // list is saved at once and an end at any moment leaves the old list or
    // the new one.
    // Without its list the pane never loaded: saving would wipe the list.
    if (!m_list.IsWindow())
        return;
    CIniEdit edit;
    SaveListTo(edit);
    edit.Commit();
}

void CRightWnd::SaveListTo(CIniEdit& edit)
{
    if (!m_list.IsWindow())
        return;
    std::vector<IniEntry> entries;
    entries.reserve(2 * m_rows.size() + 1);
    entries.push_back({L"Count", L"0"});
    int k = 0;
    for (const Row& row : m_rows) {
        entries.push_back({KeyOf(L"Name", k), row.name});
        entries.push_back({KeyOf(L"Url", k), row.item->pszUrl});
        ++k;
    }
    entries.front().value = FormatString(L"%d", k);
    edit.ReplaceSection(kListSection, std::move(entries));
    edit.Set(kSystemSection, L"Repeat", FormatString(L"%d", m_bRepeat));
    edit.Set(kSystemSection, L"Rand", FormatString(L"%d", m_bRand));
}
