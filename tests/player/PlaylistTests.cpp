// The playlist pane as a real window in a frame stand-in: the next-entry
// rule in every mode, the commands, keys, menu, drop and painting.
#include "PlaylistSupport.h"
#include "Protocol.h"
#include "SkinConfig.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <set>

#include <dlgs.h>
#include <shlobj.h>

using listtest::FrameStandIn;
using listtest::Row;
using listtest::RowOf;
using listtest::Rows;
using listtest::Selected;
using listtest::SettingsFolder;
using testsupport::PumpPending;

namespace {

class PaneTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_skin.SetFrameColor(0x996633);
        ASSERT_TRUE(listtest::CreatePane(frame, pane));
    }

    // Three entries a, b, c.
    void AddThree()
    {
        a = pane.AddFile(L"C:\\v\\a.flv");
        b = pane.AddFile(L"C:\\v\\b.flv");
        c = pane.AddFile(L"C:\\v\\c.flv");
        ASSERT_TRUE(a && b && c);
    }

    ProgItem* Next() { return pane.Playlist().Next(); }

    void Select(int row) { pane.List().SetItemState(row, LVIS_SELECTED, LVIS_SELECTED); }
    void Command(UINT id) { pane.SendMessage(WM_COMMAND, id, 0); }
    void Key(UINT vk)
    {
        pane.List().PostMessage(WM_KEYDOWN, vk, 1);
        PumpPending();
    }
    int Image(int row)
    {
        LVITEMW item = {};
        item.mask = LVIF_IMAGE;
        item.iItem = row;
        pane.List().GetItem(&item);
        return item.iImage;
    }

    SettingsFolder settings; // outlives the pane, which saves when it goes
    FrameStandIn frame;
    CListPane pane;
    ProgItem* a = nullptr;
    ProgItem* b = nullptr;
    ProgItem* c = nullptr;
};

} // namespace

TEST_F(PaneTest, TheListIsSetUpAsTheTemplateAndSkinSay)
{
    EXPECT_EQ(pane.GetStyle() & 0xFFFF0000u, static_cast<DWORD>(WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN | WS_SYSMENU));
    const DWORD style = pane.List().GetStyle();
    // Virtual: the pane keeps the rows, so a long list costs no insert per row.
    EXPECT_EQ(style & (LVS_TYPEMASK | LVS_SHOWSELALWAYS | LVS_NOCOLUMNHEADER | LVS_SINGLESEL | LVS_OWNERDATA),
              static_cast<DWORD>(LVS_REPORT | LVS_SHOWSELALWAYS | LVS_NOCOLUMNHEADER | LVS_OWNERDATA));
    EXPECT_EQ(pane.List().GetExtendedStyle(), 0x4A0u);
    EXPECT_EQ(pane.List().SendMessage(LVM_GETTEXTCOLOR), static_cast<LRESULT>(g_skin.m_clrFrameDark));
    EXPECT_EQ(pane.List().SendMessage(LVM_GETBKCOLOR), static_cast<LRESULT>(g_skin.m_clrList));
    EXPECT_EQ(pane.List().SendMessage(LVM_GETTEXTBKCOLOR), static_cast<LRESULT>(g_skin.m_clrList));
    EXPECT_EQ(::GetDlgCtrlID(pane.List()), IDC_PLAYLIST);

    HIMAGELIST images = reinterpret_cast<HIMAGELIST>(pane.List().SendMessage(LVM_GETIMAGELIST, LVSIL_SMALL));
    ASSERT_NE(images, nullptr);
    EXPECT_EQ(::ImageList_GetImageCount(images), 2);
    int cx = 0, cy = 0;
    ::ImageList_GetIconSize(images, &cx, &cy);
    EXPECT_EQ(cx, 16);
    EXPECT_EQ(cy, 16);

    // One column; the list fills the pane but for 5 pixels, the column but for the scroll bar.
    EXPECT_EQ(::SendMessageW(pane.List().GetHeaderCtrl(), HDM_GETITEMCOUNT, 0, 0), 1);
    CRect list = pane.List().GetWindowRect();
    ::MapWindowPoints(nullptr, pane, reinterpret_cast<POINT*>(&list), 2);
    EXPECT_EQ(list, CRect(5, 5, 275, 375));
    EXPECT_EQ(pane.List().SendMessage(LVM_GETCOLUMNWIDTH, 0), 250);
    pane.MoveWindow(CRect(0, 0, 200, 300));
    EXPECT_EQ(pane.List().SendMessage(LVM_GETCOLUMNWIDTH, 0), 170);

    // New colours reach the list and the pane, and both repaint.
    g_skin.SetFrameColor(0x3366CC);
    EXPECT_NE(pane.BkColor(), g_skin.m_clrList);
    pane.UpdateWindow();
    pane.List().UpdateWindow();
    pane.UpdateColours();
    RECT dirty = {};
    EXPECT_TRUE(::GetUpdateRect(pane, &dirty, FALSE));
    EXPECT_TRUE(::GetUpdateRect(pane.List(), &dirty, FALSE));
    EXPECT_EQ(pane.BkColor(), g_skin.m_clrList);
    EXPECT_EQ(pane.List().SendMessage(LVM_GETTEXTCOLOR), static_cast<LRESULT>(g_skin.m_clrFrameDark));
    EXPECT_EQ(pane.List().SendMessage(LVM_GETBKCOLOR), static_cast<LRESULT>(g_skin.m_clrList));
}

TEST_F(PaneTest, AddingShowsTheNameKeepsThePathAndMarksNothing)
{
    EXPECT_EQ(pane.AddItem(nullptr, L"x"), nullptr);
    EXPECT_EQ(pane.AddItem(L"x", nullptr), nullptr);
    EXPECT_EQ(pane.AddFile(nullptr), nullptr);
    EXPECT_EQ(pane.List().GetItemCount(), 0);

    ProgItem* url = pane.AddFile(L"http://host/dir/");
    ProgItem* titled = pane.AddItem(L"http://host/x.flv", L"电影标题");
    ASSERT_TRUE(url && titled);
    pane.AddFile(L"a\\b.flv");
    const std::vector<Row> expected = {
        {L"", L"http://host/dir/", 1}, {L"电影标题", L"http://host/x.flv", 1}, {L"a\\b.flv", L"a\\b.flv", 1}};
    EXPECT_EQ(Rows(pane), expected);
    EXPECT_EQ(pane.Playlist().Current(), nullptr);
    EXPECT_EQ(pane.List().GetSelectedCount(), 0u);
    EXPECT_TRUE(frame.calls.empty());

    // A name the list cuts shows whole in a tip while the mouse is on its
    // row; a name that fits shows none.
    const std::wstring whole = L"晚间新闻：今天的天气、交通和体育节目的全部报道（完整版）";
    pane.AddItem(L"http://host/long.flv", whole.c_str());
    auto hover = [&](int row) {
        CRect label(LVIR_LABEL, 0, 0, 0);
        pane.List().SendMessage(LVM_GETITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&label));
        ::MapWindowPoints(pane.List(), nullptr, reinterpret_cast<POINT*>(&label), 2);
        EXPECT_TRUE(testsupport::MoveCursorTo({label.left + 20, label.CenterPoint().y}));
        return testsupport::PumpUntil([&] {
            return pane.Tip().IsWindowVisible() == (row == 3) && (row != 3 || pane.Tip().GetText(&pane.List(), 1) == whole);
        });
    };
    EXPECT_TRUE(hover(3));
    testsupport::SaveScreenshot(L"player-list-tip");
    EXPECT_TRUE(hover(1));
    ::SetCursorPos(1270, 1015);

    pane.RemoveAll();
    EXPECT_EQ(pane.List().GetItemCount(), 0);
    EXPECT_EQ(pane.Playlist().Current(), nullptr);
}

TEST_F(PaneTest, MakingCurrentMovesTheMarkerAndTheSelection)
{
    AddThree();
    // What Play starts with nothing loaded: the selected row (the frame's
    // test), else the current entry, else the first row.
    std::wstring path;
    EXPECT_EQ(pane.GetStartProg(path), a);
    EXPECT_EQ(path, a->url);

    Select(2);
    pane.SetCurItem(b);
    EXPECT_EQ(pane.Playlist().Current(), b);
    EXPECT_TRUE(b->bPlayed);
    EXPECT_FALSE(a->bPlayed || c->bPlayed);
    EXPECT_EQ(Image(1), 0);
    EXPECT_TRUE(Selected(pane, 1));
    EXPECT_FALSE(Selected(pane, 2)); // another selection is cleared
    EXPECT_EQ(::GetFocus(), pane.List().m_hWnd);

    pane.SetCurItem(a);
    EXPECT_EQ(Image(0), 0);
    EXPECT_EQ(Image(1), 1);
    EXPECT_FALSE(Selected(pane, 1));
    pane.SetCurItem(nullptr);
    EXPECT_EQ(pane.Playlist().Current(), a);

    pane.List().SetItemState(-1, 0, LVIS_SELECTED);
    pane.Playlist().SetCurrent(b);
    EXPECT_EQ(pane.GetStartProg(path), b);
    EXPECT_EQ(path, b->url);
}

TEST_F(PaneTest, ListOrderGoesDownAndWrapsOnlyWithRepeat)
{
    for (BOOL rand : {FALSE, TRUE})
        for (BOOL repeat : {FALSE, TRUE}) {
            pane.Playlist().m_bRand = rand;
            pane.Playlist().m_bRepeat = repeat;
            EXPECT_EQ(Next(), nullptr) << "empty list, rand " << rand << " repeat " << repeat;
        }
    pane.Playlist().m_bRand = FALSE;
    pane.Playlist().m_bRepeat = FALSE;
    AddThree();
    EXPECT_EQ(Next(), nullptr); // nothing current
    pane.SetCurItem(a);
    EXPECT_EQ(Next(), b);
    pane.SetCurItem(c);
    EXPECT_EQ(Next(), nullptr);
    pane.Playlist().m_bRepeat = TRUE;
    EXPECT_EQ(Next(), a);
    EXPECT_EQ(pane.Playlist().Current(), c); // choosing marks nothing
    EXPECT_EQ(Image(0), 1);
}

TEST_F(PaneTest, RandomOrderWithOneEntryRepeatsItOnlyWithRepeat)
{
    ProgItem* only = pane.AddFile(L"C:\\only.flv");
    pane.SetCurItem(only);
    pane.Playlist().m_bRand = TRUE;
    EXPECT_EQ(Next(), nullptr);
    pane.Playlist().m_bRepeat = TRUE;
    EXPECT_EQ(Next(), only);
}

TEST_F(PaneTest, RandomOrderPlaysEveryOtherEntryOnceThenStartsAfresh)
{
    AddThree();
    pane.SetCurItem(a);
    Command(ID_PROG_RAND); // on: flags cleared, the current entry counts as played
    EXPECT_TRUE(pane.Playlist().m_bRand);
    EXPECT_TRUE(a->bPlayed);
    EXPECT_FALSE(b->bPlayed || c->bPlayed);

    // Without repeat: the two others once each, then the end, all flags cleared.
    std::set<ProgItem*> seen;
    for (int i = 0; i < 2; ++i) {
        ProgItem* next = Next();
        ASSERT_NE(next, nullptr);
        EXPECT_NE(next, pane.Playlist().Current());
        EXPECT_TRUE(seen.insert(next).second) << "chosen twice";
        pane.SetCurItem(next);
    }
    EXPECT_EQ(seen, (std::set<ProgItem*>{b, c}));
    EXPECT_EQ(Next(), nullptr);
    EXPECT_FALSE(a->bPlayed || b->bPlayed || c->bPlayed);

    // With repeat an exhausted cycle goes on, and any entry may come, the
    // current one included.
    pane.Playlist().m_bRepeat = TRUE;
    a->bPlayed = b->bPlayed = c->bPlayed = TRUE;
    std::set<ProgItem*> after;
    for (int i = 0; i < 60; ++i) {
        a->bPlayed = b->bPlayed = c->bPlayed = TRUE;
        ProgItem* next = Next();
        ASSERT_NE(next, nullptr);
        after.insert(next);
    }
    EXPECT_EQ(after.size(), 3u);

    Command(ID_PROG_RAND); // off: every flag cleared
    EXPECT_FALSE(pane.Playlist().m_bRand);
    a->bPlayed = TRUE;
    Command(ID_PROG_RAND);
    Command(ID_PROG_RAND);
    EXPECT_FALSE(a->bPlayed || b->bPlayed || c->bPlayed);
}

TEST_F(PaneTest, DeletingTheCurrentEntryLeavesNoneAndTheDeleteKeyDeletes)
{
    AddThree();
    pane.SetCurItem(b);
    Command(ID_PROG_DELETE); // b is selected by SetCurItem
    EXPECT_EQ(pane.Playlist().Current(), nullptr);
    EXPECT_EQ(Rows(pane), (std::vector<Row>{{L"a.flv", L"C:\\v\\a.flv", 1}, {L"c.flv", L"C:\\v\\c.flv", 1}}));
    EXPECT_EQ(Next(), nullptr);

    // Several selected rows go at once; Delete in the list does the same.
    Select(0);
    Select(1);
    Key(VK_DELETE);
    EXPECT_EQ(pane.List().GetItemCount(), 0);
    Command(ID_PROG_DELETE); // nothing left: nothing happens
    Command(ID_PROG_PLAY);
    Command(ID_PROG_MOVE_UP);
    Command(ID_PROG_MOVE_DOWN);
    Command(ID_PROG_SORT);
    EXPECT_TRUE(frame.calls.empty());
}

TEST_F(PaneTest, MovingKeepsRecordMarkerAndSelectionAndStopsAtTheEnds)
{
    AddThree();
    pane.SetCurItem(a);
    Command(ID_PROG_MOVE_UP); // first row: stays
    EXPECT_EQ(RowOf(pane, a), 0);
    Command(ID_PROG_MOVE_DOWN);
    Command(ID_PROG_MOVE_DOWN);
    EXPECT_EQ(Rows(pane), (std::vector<Row>{{L"b.flv", L"C:\\v\\b.flv", 1},
                                            {L"c.flv", L"C:\\v\\c.flv", 1},
                                            {L"a.flv", L"C:\\v\\a.flv", 0}}));
    EXPECT_EQ(pane.Playlist().Current(), a);
    EXPECT_TRUE(Selected(pane, 2));
    Command(ID_PROG_MOVE_DOWN); // last row: stays
    EXPECT_EQ(RowOf(pane, a), 2);

    // Only the first selected row moves; an entry that is not current keeps image 1.
    pane.List().SetItemState(2, 0, LVIS_SELECTED);
    Select(1);
    Select(2);
    Command(ID_PROG_MOVE_UP);
    EXPECT_EQ(Rows(pane), (std::vector<Row>{{L"c.flv", L"C:\\v\\c.flv", 1},
                                            {L"b.flv", L"C:\\v\\b.flv", 1},
                                            {L"a.flv", L"C:\\v\\a.flv", 0}}));
    EXPECT_TRUE(Selected(pane, 0));
    EXPECT_TRUE(Selected(pane, 2));
    EXPECT_FALSE(Selected(pane, 1));
}

TEST_F(PaneTest, SortingAlternatesDirectionAndCarriesRecordsMarkerAndSelection)
{
    ProgItem* lower = pane.AddItem(L"p1", L"b");
    pane.AddItem(L"p2", L"a");
    ProgItem* upper = pane.AddItem(L"p3", L"B");
    pane.AddItem(L"p4", L"中");
    pane.AddItem(L"p5", L"a2");
    pane.SetCurItem(upper);
    Select(RowOf(pane, lower));

    Command(ID_PROG_SORT); // ascending, by UTF-16 unit, upper case first
    EXPECT_EQ(Rows(pane), (std::vector<Row>{{L"B", L"p3", 0}, {L"a", L"p2", 1}, {L"a2", L"p5", 1},
                                            {L"b", L"p1", 1}, {L"中", L"p4", 1}}));
    EXPECT_TRUE(Selected(pane, 0));
    EXPECT_TRUE(Selected(pane, 3));
    EXPECT_EQ(pane.List().GetSelectedCount(), 2u);
    EXPECT_EQ(pane.List().GetNextItem(-1, LVNI_FOCUSED), 0);

    Command(ID_PROG_SORT); // then descending
    EXPECT_EQ(Rows(pane), (std::vector<Row>{{L"中", L"p4", 1}, {L"b", L"p1", 1}, {L"a2", L"p5", 1},
                                            {L"a", L"p2", 1}, {L"B", L"p3", 0}}));
    EXPECT_EQ(pane.Playlist().Current(), upper);
    EXPECT_TRUE(Selected(pane, 1));
    EXPECT_TRUE(Selected(pane, 4));
}

TEST_F(PaneTest, RowsWithEqualNamesAreNeverSwapped)
{
    std::vector<ProgItem*> same;
    for (int i = 0; i < 7; ++i)
        same.push_back(pane.AddItem(FormatString(L"p%d", i).c_str(), L"同名"));
    for (int pass = 0; pass < 2; ++pass) {
        Command(ID_PROG_SORT);
        for (int i = 0; i < 7; ++i)
            EXPECT_EQ(pane.GetRowItem(i), same[i]) << "pass " << pass << " row " << i;
    }
}

TEST_F(PaneTest, EscapeIsSwallowedEnterPlaysTheFirstSelectedRowAndALetterFindsARow)
{
    AddThree();
    Select(2);
    Select(1);
    ::SetFocus(pane.List());
    Key(VK_ESCAPE);
    EXPECT_TRUE(pane.IsWindow());
    EXPECT_TRUE(pane.IsWindowVisible());
    EXPECT_TRUE(frame.calls.empty());

    Key(VK_RETURN);
    ASSERT_EQ(frame.calls.size(), 1u);
    EXPECT_EQ(frame.calls[0].path, L"C:\\v\\b.flv");
    EXPECT_EQ(frame.calls[0].item, b);
    EXPECT_TRUE(frame.calls[0].showError);
    EXPECT_EQ(pane.Playlist().Current(), b); // marked by the frame's successful open
    EXPECT_TRUE(pane.IsWindowVisible());

    // An open that fails leaves the marker where it was.
    frame.opens = FALSE;
    Select(0);
    Command(ID_PROG_PLAY);
    ASSERT_EQ(frame.calls.size(), 2u);
    EXPECT_EQ(frame.calls[1].item, a);
    EXPECT_EQ(pane.Playlist().Current(), b);

    // Typing a name's first letter selects that row, as in any list; Enter plays it.
    pane.List().PostMessage(WM_CHAR, L'C', 1);
    PumpPending();
    EXPECT_EQ(pane.List().GetNextItem(-1, LVNI_SELECTED), 2);
    EXPECT_EQ(pane.List().GetSelectedCount(), 1u);
    Key(VK_RETURN);
    ASSERT_EQ(frame.calls.size(), 3u);
    EXPECT_EQ(frame.calls[2].item, c);
}

TEST_F(PaneTest, ADoubleClickPlaysTheRowAndOtherActivationsDoNothing)
{
    AddThree();
    RECT row = {};
    row.left = LVIR_BOUNDS;
    pane.List().SendMessage(LVM_GETITEMRECT, 2, reinterpret_cast<LPARAM>(&row));
    const LPARAM at = MAKELPARAM(row.left + 20, (row.top + row.bottom) / 2);
    pane.List().SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, at);
    pane.List().SendMessage(WM_LBUTTONUP, 0, at);
    pane.List().SendMessage(WM_LBUTTONDBLCLK, MK_LBUTTON, at);
    pane.List().SendMessage(WM_LBUTTONUP, 0, at);
    PumpPending();
    ASSERT_FALSE(frame.calls.empty());
    EXPECT_EQ(frame.calls.back().item, c);
    EXPECT_EQ(pane.Playlist().Current(), c);

    // A row number out of range, or no frame, plays nothing.
    frame.calls.clear();
    NMITEMACTIVATE nm = {};
    nm.hdr.hwndFrom = pane.List();
    nm.hdr.idFrom = IDC_PLAYLIST;
    nm.hdr.code = static_cast<UINT>(LVN_ITEMACTIVATE);
    nm.iItem = 3;
    EXPECT_EQ(pane.SendMessage(WM_NOTIFY, IDC_PLAYLIST, reinterpret_cast<LPARAM>(&nm)), 0);
    nm.iItem = -1;
    pane.SendMessage(WM_NOTIFY, IDC_PLAYLIST, reinterpret_cast<LPARAM>(&nm));
    pane.SetFrame(nullptr);
    nm.iItem = 0;
    pane.SendMessage(WM_NOTIFY, IDC_PLAYLIST, reinterpret_cast<LPARAM>(&nm));
    EXPECT_TRUE(frame.calls.empty());
}

TEST_F(PaneTest, TheContextMenuShowsOnlyInsideTheListWithTheModesChecked)
{
    AddThree();
    pane.Playlist().m_bRand = TRUE;
    NMITEMACTIVATE nm = {};
    nm.hdr.hwndFrom = pane.List();
    nm.hdr.idFrom = IDC_PLAYLIST;
    nm.hdr.code = static_cast<UINT>(NM_RCLICK);
    const CRect list = pane.List().GetWindowRect();
    struct {
        UINT repeat = 0, rand = 0;
        int items = 0;
    } seen; // what the menu held while it was up
    testsupport::MenuWatch watch([&](HWND popup) {
        HMENU menu = reinterpret_cast<HMENU>(::SendMessageW(popup, MN_GETHMENU, 0, 0));
        seen.repeat = ::GetMenuState(menu, ID_PROG_REPEAT, MF_BYCOMMAND) & MF_CHECKED;
        seen.rand = ::GetMenuState(menu, ID_PROG_RAND, MF_BYCOMMAND) & MF_CHECKED;
        seen.items = ::GetMenuItemCount(menu);
    });

    // The notification returns only once a menu it showed has been closed.
    ASSERT_TRUE(testsupport::MoveCursorTo({list.left - 3, list.top + 20}));
    EXPECT_EQ(pane.SendMessage(WM_NOTIFY, IDC_PLAYLIST, reinterpret_cast<LPARAM>(&nm)), 0);
    EXPECT_EQ(watch.shown(), 0) << "a menu outside the list";

    ASSERT_TRUE(testsupport::MoveCursorTo({list.left + 30, list.top + 20}));
    pane.SendMessage(WM_NOTIFY, IDC_PLAYLIST, reinterpret_cast<LPARAM>(&nm));
    EXPECT_EQ(watch.shown(), 1);
    EXPECT_EQ(seen.items, 11); // eight commands and three separators
    EXPECT_EQ(seen.repeat, 0u);
    EXPECT_EQ(seen.rand, static_cast<UINT>(MF_CHECKED));
    EXPECT_TRUE(frame.calls.empty());

    Command(ID_PROG_REPEAT);
    EXPECT_TRUE(pane.Playlist().m_bRepeat);
    Command(ID_PROG_REPEAT);
    EXPECT_FALSE(pane.Playlist().m_bRepeat);
}

namespace {

// Runs inside the file dialog's loop: picks two files of the current folder.
bool g_picked = false;
void CALLBACK PickTwoFiles(HWND, UINT, UINT_PTR, DWORD)
{
    HWND dlg = ::FindWindowW(L"#32770", nullptr);
    if (g_picked || !dlg || !::IsWindowVisible(dlg))
        return;
    g_picked = true;
    const wchar_t names[] = L"\"b.wmv\" \"a.flv\"";
    // The name box is cmb13 in newer dialogs and edt1 in older ones.
    ::SetDlgItemTextW(dlg, cmb13, names);
    ::SetDlgItemTextW(dlg, edt1, names);
    ::PostMessageW(dlg, WM_COMMAND, IDOK, 0);
}

} // namespace

TEST_F(PaneTest, TheAddDialogAddsEverySelectedFileAndPlaysNone)
{
    testsupport::TempFolder folder(L"qzadd");
    testsupport::WriteBytes(folder / L"a.flv", "a");
    testsupport::WriteBytes(folder / L"b.wmv", "b");
    wchar_t before[MAX_PATH] = {};
    ::GetCurrentDirectoryW(MAX_PATH, before);
    ::SetCurrentDirectoryW(folder.path().c_str());
    ProgItem* old = pane.AddFile(L"C:\\old.flv");
    pane.SetCurItem(old);

    UINT_PTR timer = ::SetTimer(nullptr, 0, 200, PickTwoFiles);
    Command(ID_PROG_ADD);
    ::KillTimer(nullptr, timer);
    ::SetCurrentDirectoryW(before);
    ASSERT_TRUE(g_picked) << "no file dialog";
    const std::vector<Row> rows = Rows(pane);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[1].text, L"b.wmv");
    EXPECT_EQ(rows[1].path, folder / L"b.wmv");
    EXPECT_EQ(rows[2].text, L"a.flv");
    EXPECT_EQ(rows[2].path, folder / L"a.flv");
    EXPECT_EQ(pane.Playlist().Current(), old);
    EXPECT_TRUE(frame.calls.empty());
}


TEST_F(PaneTest, DroppedFilesAreAllAddedAndNonePlayed)
{
    EXPECT_NE(pane.GetExStyle() & WS_EX_ACCEPTFILES, 0u);
    pane.AddFile(L"C:\\old.flv");
    pane.SendMessage(WM_DROPFILES, reinterpret_cast<WPARAM>(listtest::MakeDrop(
                                       {L"C:\\新建\\一.flv", L"D:\\two.wmv", L"E:\\three.rmvb"})));
    EXPECT_EQ(Rows(pane), (std::vector<Row>{{L"old.flv", L"C:\\old.flv", 1},
                                            {L"一.flv", L"C:\\新建\\一.flv", 1},
                                            {L"two.wmv", L"D:\\two.wmv", 1},
                                            {L"three.rmvb", L"E:\\three.rmvb", 1}}));
    EXPECT_TRUE(frame.calls.empty());
    EXPECT_EQ(pane.Playlist().Current(), nullptr);
    pane.SendMessage(WM_DROPFILES, reinterpret_cast<WPARAM>(listtest::MakeDrop({})));
    EXPECT_EQ(pane.List().GetItemCount(), 4);
}

TEST_F(PaneTest, CodeFourRepaintsListAndPaneOtherCodesAreNotHandled)
{
    AddThree();
    pane.UpdateWindow();
    pane.List().UpdateWindow();
    RECT dirty = {};
    ASSERT_FALSE(::GetUpdateRect(pane, &dirty, FALSE));
    COPYDATASTRUCT cds = {};
    cds.dwData = kCopyPlaceVideo;
    EXPECT_EQ(pane.SendMessage(WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds)), 0);
    EXPECT_FALSE(::GetUpdateRect(pane.List(), &dirty, FALSE));
    cds.dwData = kCopyRepaint;
    EXPECT_EQ(pane.SendMessage(WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds)), TRUE);
    EXPECT_TRUE(::GetUpdateRect(pane, &dirty, FALSE));
    EXPECT_TRUE(::GetUpdateRect(pane.List(), &dirty, FALSE));
    EXPECT_EQ(pane.SendMessage(WM_COPYDATA, 0, 0), 0);
}

TEST_F(PaneTest, ThePaneIsFilledAndFramedOnlyWhileItIsTheFramesChild)
{
    pane.AddItem(L"C:\\Movies\\功夫熊猫.flv", L"功夫熊猫.flv");
    ProgItem* cur = pane.AddItem(L"http://video.example.com/clip/新闻联播.wmv", L"新闻联播.wmv");
    pane.AddItem(L"D:\\Video\\clip.rmvb", L"clip.rmvb");
    pane.AddItem(L"http://host/live/", L"直播频道");
    pane.SetCurItem(cur);
    Select(2);
    pane.Invalidate();
    pane.UpdateWindow();
    PumpPending();
    testsupport::SaveScreenshot(L"playlist_pane");

    const CRect client = pane.GetClientRect();
    auto pixel = [&](int x, int y) {
        HDC dc = ::GetDC(pane);
        COLORREF c = ::GetPixel(dc, x, y);
        ::ReleaseDC(pane, dc);
        return c;
    };
    EXPECT_EQ(pixel(0, 0), g_skin.m_clrFrame);
    EXPECT_EQ(pixel(0, client.bottom - 2), g_skin.m_clrFrame);
    EXPECT_EQ(pixel(client.right - 1, 10), g_skin.m_clrList);
    EXPECT_EQ(pixel(2, 2), pane.BkColor());

    // In another window the border is left out: its frame-coloured edges
    // show the background.
    FrameStandIn other(CRect(500, 120, 800, 520));
    ::SetParent(pane, other);
    pane.Invalidate();
    pane.UpdateWindow();
    EXPECT_EQ(pixel(0, 0), pane.BkColor());
    EXPECT_EQ(pixel(0, client.bottom - 2), pane.BkColor());
    ::SetParent(pane, frame);
}

