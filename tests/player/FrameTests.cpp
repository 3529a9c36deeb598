// The real main frame in the test process: layout of the panes in each list
// state, the window's own growing and shrinking, the keys it keeps, and the
// open-history in the settings file.
#include "FrameDialog.h"
#include "PlaybackSupport.h"
#include "PlaylistSupport.h"
#include "Protocol.h"
#include "SkinConfig.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

namespace {

void RegisterClasses()
{
    for (const wchar_t* name : {kFrameClass, kVideoPaneClass, kListPaneClass}) {
        WNDCLASSW wc = {};
        ::GetClassInfoW(nullptr, L"#32770", &wc);
        wc.lpszClassName = name;
        wc.hInstance = ::GetModuleHandleW(nullptr);
        ::RegisterClassW(&wc);
    }
}

// Counts the boxes this thread shows while it lives, and closes each: a box
// shown inside a pump would otherwise hold the test until its time-out.
class BoxWatch {
public:
    BoxWatch() : m_timer(::SetTimer(nullptr, 0, 50, &Tick)) { s_shown = 0; }
    ~BoxWatch() { ::KillTimer(nullptr, m_timer); }
    int shown() const { return s_shown; }

private:
    static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD)
    {
        if (HWND box = testsupport::FindDialog()) {
            ++s_shown;
            ::EndDialog(box, IDOK);
        }
    }
    static int s_shown;
    UINT_PTR m_timer;
};
int BoxWatch::s_shown = 0;

// Armed, the next window created on this thread first deletes every row of
// the list pane, as a control that lets messages through while it is
// created could have the user or a client do.
struct DeleteWhileCreated {
    static LRESULT CALLBACK Hook(int code, WPARAM wp, LPARAM lp)
    {
        if (code == HCBT_CREATEWND && armed) {
            armed = false;
            pane->List().SetItemState(-1, LVIS_SELECTED, LVIS_SELECTED);
            pane->SendMessage(WM_COMMAND, ID_PROG_DELETE);
        }
        return ::CallNextHookEx(nullptr, code, wp, lp);
    }
    static CListPane* pane;
    static bool armed;
};
CListPane* DeleteWhileCreated::pane = nullptr;
bool DeleteWhileCreated::armed = false;

CRect ChildRect(const CWnd& parent, const CWnd& child)
{
    CRect r = child.GetWindowRect();
    ::MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

class Frame : public ::testing::Test {
protected:
    void SetUp() override
    {
        RegisterClasses();
        ASSERT_TRUE(AfxOleInit());
        ASSERT_TRUE(testsupport::MoveCursorTo({1270, 1015})); // away from every button (tooltips)
    }
    void TearDown() override
    {
        frame.reset();
        AfxOleTerm();
    }
    void Open()
    {
        frame = std::make_unique<CFrameDialog>();
        ASSERT_TRUE(frame->Create(IDD_FRAME));
        frame->ShowWindow(SW_SHOW);
        testsupport::PumpPending();
    }
    void Write(const std::wstring& ini) { settings.WriteUnicode(ini); }

    listtest::SettingsFolder settings;
    std::unique_ptr<CFrameDialog> frame;
};

// Ctrl+key typed into a window, as the message loop sees it; returns once
// the loop has handled it (a dialog it opened has been run).
void TypeCtrl(HWND target, WPARAM key)
{
    BYTE keys[256] = {};
    ::GetKeyboardState(keys);
    keys[VK_CONTROL] |= 0x80;
    ::SetKeyboardState(keys);
    ::PostMessageW(target, WM_KEYDOWN, key, 1);
    testsupport::PumpPending();
    keys[VK_CONTROL] &= 0x7F;
    ::SetKeyboardState(keys);
}

} // namespace

TEST_F(Frame, PanesAndSplitterFillTheClientInEachListState)
{
    Open();
    CFrameDialog& f = *frame;
    CRect w = f.GetWindowRect();
    EXPECT_EQ(w.Width(), 580);
    EXPECT_EQ(w.Height(), 420);
    EXPECT_EQ(f.GetTitle(), L"QZ播放器");
    // Inside the caption strip, the border and the margin.
    EXPECT_EQ(ChildRect(f, f.m_listPane), CRect(580 - 6 - 160, 35, 574, 414));
    EXPECT_EQ(ChildRect(f, f.m_splitter), CRect(574 - 160 - 6, 35, 574 - 160, 414));
    EXPECT_EQ(ChildRect(f, f.m_videoPane), CRect(6, 35, 574 - 166, 414));
    EXPECT_EQ(ChildRect(f.m_videoPane, f.m_videoPane.Bar()).Height(), 46);

    // Collapsing narrows the window by the list; the splitter stays, and the
    // keyboard goes from the list to the video.
    ::SetFocus(f.m_listPane.List());
    f.SetListCollapsed(TRUE);
    EXPECT_EQ(::GetFocus(), f.m_videoPane.Player().m_hWnd);
    testsupport::PumpPending();
    EXPECT_EQ(f.GetWindowRect().Width(), 420); // the collapsed minimum
    EXPECT_FALSE(f.m_listPane.IsWindowVisible());
    EXPECT_EQ(ChildRect(f, f.m_splitter).right, 414);
    int cx = 0, cy = 0;
    f.GetMinTrackSize(cx, cy);
    EXPECT_EQ(cx, 420);
    f.SetListCollapsed(FALSE);
    testsupport::PumpPending();
    EXPECT_EQ(f.GetWindowRect().Width(), 580);
    EXPECT_TRUE(f.m_listPane.IsWindowVisible());

    // Hiding the list takes list and splitter away; showing widens again.
    ::MoveWindow(f, w.left, w.top, 800, 500, TRUE);
    f.ToggleProgramList();
    testsupport::PumpPending();
    EXPECT_EQ(f.GetWindowRect().Width(), 800 - 166);
    EXPECT_FALSE(f.m_splitter.IsWindowVisible());
    EXPECT_EQ(ChildRect(f, f.m_videoPane), CRect(6, 35, 800 - 166 - 6, 494));
    f.GetMinTrackSize(cx, cy);
    EXPECT_EQ(cx, 414);
    f.ToggleProgramList();
    testsupport::PumpPending();
    EXPECT_EQ(f.GetWindowRect().Width(), 800);
    EXPECT_TRUE(f.m_listPane.IsWindowVisible());

    // A maximised frame keeps its size; only the panes move.
    f.ShowWindow(SW_SHOWMAXIMIZED);
    testsupport::PumpPending();
    const CRect max = f.GetWindowRect();
    f.ToggleProgramList();
    testsupport::PumpPending();
    EXPECT_EQ(f.GetWindowRect(), max);
    EXPECT_EQ(ChildRect(f, f.m_videoPane).right, max.Width() - 6);
    f.ToggleProgramList();
}

TEST_F(Frame, TheSplitterDragMovesTheListWithinItsBoundsAndKeysDoNotEndTheFrame)
{
    Open();
    CFrameDialog& f = *frame;
    ::MoveWindow(f, 10, 10, 900, 500, TRUE);
    testsupport::PumpPending();
    NMSPLITTER nm = {};
    nm.hdr.hwndFrom = f.m_splitter;
    nm.hdr.idFrom = IDC_SPLITTER;
    nm.hdr.code = SPN_DRAGGED;
    nm.delta = -140; // to the left: a wider list
    f.SendMessage(WM_NOTIFY, IDC_SPLITTER, reinterpret_cast<LPARAM>(&nm));
    EXPECT_EQ(f.m_nListWidth, 300);
    EXPECT_EQ(ChildRect(f, f.m_listPane).Width(), 300);
    nm.delta = -1000;
    f.SendMessage(WM_NOTIFY, IDC_SPLITTER, reinterpret_cast<LPARAM>(&nm));
    EXPECT_EQ(f.m_nListWidth, 900 - 430);
    nm.delta = 1000;
    f.SendMessage(WM_NOTIFY, IDC_SPLITTER, reinterpret_cast<LPARAM>(&nm));
    EXPECT_EQ(f.m_nListWidth, 160);

    for (WPARAM key : {VK_RETURN, VK_ESCAPE}) {
        MSG msg = {f.m_videoPane.Bar(), WM_KEYDOWN, key, 0, 0, {0, 0}};
        EXPECT_TRUE(AfxPreTranslateWindows(&msg));
    }
    testsupport::PumpPending();
    EXPECT_TRUE(f.IsWindowVisible());

    // A new colour reaches the panes, the splitter and the caption.
    g_skin.SetFrameColor(RGB(0x20, 0x60, 0xA0));
    f.ApplySkinColours();
    testsupport::PumpPending();
    EXPECT_EQ(f.m_videoPane.Bar().m_clrBk, g_skin.m_clrPane);
    EXPECT_EQ(f.m_splitter.GetColor(), g_skin.m_clrPane);
    EXPECT_EQ(f.m_listPane.BkColor(), g_skin.m_clrList);
    HDC dc = ::GetDC(f);
    EXPECT_EQ(::GetPixel(dc, 300, 12), g_skin.m_clrFrameShade);
    ::ReleaseDC(f, dc);
}

TEST_F(Frame, TheHistoryIsASlidingWindowOfThirtyKeys)
{
    std::wstring ini = L"[FileName]\r\nFirst=5\r\nCount=40\r\n";
    for (int n = 0; n < 40; ++n)
        ini += L"Name" + std::to_wstring(n) + L"=c:\\v\\" + std::to_wstring(n) + L".flv\r\n";
    Write(ini);
    Open();
    CFrameDialog& f = *frame;
    ASSERT_EQ(f.m_history.Paths().size(), 30u);
    EXPECT_EQ(f.m_history.Paths().front(), L"c:\\v\\5.flv");
    EXPECT_EQ(f.m_history.Paths().back(), L"c:\\v\\34.flv");
    EXPECT_TRUE(f.m_history.Contains(L"C:\\V\\5.FLV"));

    // Count - First is 35: the oldest key goes before the new one is written.
    ASSERT_TRUE(f.m_history.Add(L"c:\\v\\new.flv"));
    EXPECT_EQ(listtest::ReadKey(L"FileName", L"First"), L"6");
    EXPECT_EQ(listtest::ReadKey(L"FileName", L"Count"), L"41");
    EXPECT_EQ(listtest::ReadKey(L"FileName", L"Name5"), L"");
    EXPECT_EQ(listtest::ReadKey(L"FileName", L"Name40"), L"c:\\v\\new.flv");
    frame.reset();

    // Damaged numbers: the start loads the newest names there are, at once,
    // and writes the history again from 0; an append after it is sound.
    const std::wstring names = L"Name3=c:\\3.flv\r\nName9=c:\\9.flv\r\nName200000=c:\\x.flv\r\n";
    int round = 0;
    for (const wchar_t* damage : {L"First=-5\r\nCount=10", L"First=9\r\nCount=3", L"First=x\r\nCount=10",
                                  L"First=2147483647\r\nCount=-2147483648", L"First=0\r\nCount=99999999999"}) {
        Write(std::wstring(L"[FileName]\r\n") + damage + L"\r\n" + names);
        Open();
        EXPECT_EQ(frame->m_history.Paths(), (std::vector<std::wstring>{L"c:\\3.flv", L"c:\\9.flv", L"c:\\x.flv"}))
            << "damage " << round++;
        EXPECT_EQ(listtest::ReadKey(L"FileName", L"Count"), L"3");
        EXPECT_EQ(listtest::ReadKey(L"FileName", L"Name2"), L"c:\\x.flv");
        ASSERT_TRUE(frame->m_history.Add(L"c:\\new.flv"));
        EXPECT_EQ(listtest::ReadKey(L"FileName", L"First"), L"0");
        EXPECT_EQ(listtest::ReadKey(L"FileName", L"Count"), L"4");
        EXPECT_EQ(listtest::ReadKey(L"FileName", L"Name3"), L"c:\\new.flv");
        frame.reset();
    }
    // A count far beyond the keys, valid as numbers: 30 tries from First and
    // one rewrite of the section, not one per key.
    Write(L"[FileName]\r\nFirst=0\r\nCount=2147483647\r\nName1=c:\\1.flv\r\n");
    Open();
    EXPECT_EQ(frame->m_history.Paths(), (std::vector<std::wstring>{L"c:\\1.flv"}));
    EXPECT_EQ(listtest::ReadKey(L"FileName", L"Count"), L"1");
}

TEST_F(Frame, AHistoryBeyondFiftyThousandKeysIsRenumberedFromZero)
{
    Write(L"[FileName]\r\nFirst=49990\r\nCount=50001\r\nName49990=a.flv\r\nName49991=\r\nName50000=b.wmv\r\n");
    Open();
    EXPECT_EQ(frame->m_history.Paths(), (std::vector<std::wstring>{L"a.flv", L"b.wmv"}));
    EXPECT_EQ(listtest::ReadKey(L"FileName", L"First"), L"0");
    EXPECT_EQ(listtest::ReadKey(L"FileName", L"Count"), L"2");
    EXPECT_EQ(listtest::ReadKey(L"FileName", L"Name0"), L"a.flv");
    EXPECT_EQ(listtest::ReadKey(L"FileName", L"Name1"), L"b.wmv");
    EXPECT_EQ(listtest::ReadKey(L"FileName", L"Name49990"), L"");
}

TEST_F(Frame, TheWindowStatesComeBackFromTheSettingsFile)
{
    Write(L"[System]\r\nIsMax=0\r\nWidth=700\r\nHeight=300\r\nOnTheTop=\r\nShowProgList=1\r\nShowSPBar=1\r\n");
    Open();
    EXPECT_EQ(frame->GetWindowRect().Width(), 700);
    EXPECT_EQ(frame->GetWindowRect().Height(), 420); // never below the minimum
    EXPECT_TRUE(frame->m_bListCollapsed);
    EXPECT_FALSE(frame->m_listPane.IsWindowVisible());
    EXPECT_TRUE(frame->m_splitter.m_btnCollapse.IsChecked());
    EXPECT_FALSE(frame->m_bTopMost); // an empty value keeps the default
    frame->DestroyWindow();
    EXPECT_EQ(listtest::ReadKey(L"System", L"Width"), L"700");
    EXPECT_EQ(listtest::ReadKey(L"System", L"ShowSPBar"), L"1");
    EXPECT_EQ(listtest::ReadKey(L"System", L"OnTheTop"), L"0");

    // With the list hidden the width comes back as saved, start after start.
    Write(L"[System]\r\nIsMax=0\r\nWidth=700\r\nHeight=500\r\nShowProgList=0\r\nShowSPBar=0\r\n");
    for (int start = 0; start < 2; ++start) {
        Open();
        EXPECT_EQ(frame->GetWindowRect().Width(), 700) << "start " << start;
        EXPECT_FALSE(frame->m_listPane.IsWindowVisible());
        EXPECT_FALSE(frame->m_splitter.IsWindowVisible());
        EXPECT_EQ(ChildRect(*frame, frame->m_videoPane).right, 700 - 6);
        frame->DestroyWindow();
        EXPECT_EQ(listtest::ReadKey(L"System", L"Width"), L"700");
    }

    // Ended while minimised: the restored size and state are kept, also for
    // a maximised window that was minimised.
    Write(L"[System]\r\nIsMax=0\r\nWidth=800\r\nHeight=600\r\nShowProgList=1\r\nShowSPBar=0\r\n");
    Open();
    frame->SendMessage(WM_SYSCOMMAND, SC_MINIMIZE, 0);
    testsupport::PumpPending();
    ASSERT_TRUE(::IsIconic(*frame));
    frame->DestroyWindow();
    EXPECT_EQ(listtest::ReadKey(L"System", L"Width"), L"800");
    EXPECT_EQ(listtest::ReadKey(L"System", L"Height"), L"600");
    EXPECT_EQ(listtest::ReadKey(L"System", L"IsMax"), L"0");
    Open();
    frame->SendMessage(WM_SYSCOMMAND, SC_MAXIMIZE, 0);
    frame->SendMessage(WM_SYSCOMMAND, SC_MINIMIZE, 0);
    testsupport::PumpPending();
    frame->DestroyWindow();
    EXPECT_EQ(listtest::ReadKey(L"System", L"IsMax"), L"1");
    EXPECT_EQ(listtest::ReadKey(L"System", L"Width"), L"800");

    // A size beyond the screen comes back within the work area, and is
    // saved so.
    MONITORINFO work = {};
    work.cbSize = sizeof work;
    ::GetMonitorInfoW(::MonitorFromPoint(CPoint(0, 0), MONITOR_DEFAULTTOPRIMARY), &work);
    Write(L"[System]\r\nIsMax=0\r\nWidth=99999\r\nHeight=2147483647\r\nShowProgList=1\r\n");
    Open();
    const CRect big = frame->GetWindowRect();
    EXPECT_EQ(big.Width(), CRect(work.rcWork).Width());
    EXPECT_EQ(big.Height(), CRect(work.rcWork).Height());
    EXPECT_EQ(big, CRect(work.rcWork));
    frame->DestroyWindow();
    EXPECT_EQ(listtest::ReadKey(L"System", L"Width"), std::to_wstring(CRect(work.rcWork).Width()));
    Write(L"[System]\r\nIsMax=1\r\nWidth=800\r\nHeight=600\r\nShowProgList=1\r\nShowSPBar=0\r\n");

    // Saved maximised, it starts maximised over the monitor's work area.
    Open();
    EXPECT_TRUE(::IsZoomed(*frame));
    MONITORINFO mi = {};
    mi.cbSize = sizeof mi;
    ::GetMonitorInfoW(::MonitorFromWindow(*frame, MONITOR_DEFAULTTONEAREST), &mi);
    EXPECT_EQ(frame->GetWindowRect(), CRect(mi.rcWork));
    EXPECT_TRUE(frame->m_listPane.IsWindowVisible());
    frame.reset();

    // A first start is centred on the work area; the place, the volume (set
    // with the mouse) and mute come back at the next start.
    const CRect area(work.rcWork);
    Write(L"");
    Open();
    EXPECT_EQ(frame->GetWindowRect().CenterPoint(), area.CenterPoint());
    ::SetForegroundWindow(*frame);
    ::SetWindowPos(*frame, nullptr, 123, 77, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    const CRect groove = frame->m_videoPane.Bar().m_sliderVolume.GetWindowRect();
    ASSERT_TRUE(testsupport::Click({groove.left + groove.Width() * 4 / 5, groove.top + groove.Height() / 2}));
    const int level = frame->m_videoPane.Bar().m_sliderVolume.GetPos();
    EXPECT_NEAR(level, 80, 3);
    frame->m_videoPane.Bar().m_btnMute.SetChecked(TRUE); // (the button mutes only while something plays)
    frame.reset();
    Open();
    EXPECT_EQ(frame->GetWindowRect().TopLeft(), CPoint(123, 77));
    EXPECT_EQ(frame->m_videoPane.Bar().m_sliderVolume.GetPos(), level);
    EXPECT_TRUE(frame->m_videoPane.Bar().m_btnMute.IsChecked());
    frame.reset();
    // A place on a monitor that is gone comes back whole onto the nearest
    // one; maximised, the window restores to its place; damaged values are
    // clamped or change nothing.
    const struct {
        const wchar_t* keys;
        CPoint at;
        int volume;
    } places[] = {
        {L"Left=5000\r\nTop=-3000\r\n", CPoint(area.right - 700, area.top), 50},
        {L"Left=-2000\r\nTop=300\r\nVolume=250\r\n", CPoint(area.left, 300), 100},
        {L"Left=200\r\nTop=100\r\nIsMax=1\r\nVolume=-4\r\n", CPoint(200, 100), 0},
        {L"Left=x\r\nTop=100\r\nVolume=loud\r\n", CPoint(area.CenterPoint().x - 350, area.CenterPoint().y - 250), 50},
    };
    for (const auto& p : places) {
        Write(std::wstring(L"[System]\r\nWidth=700\r\nHeight=500\r\n") + p.keys);
        Open();
        EXPECT_EQ(::IsZoomed(*frame) != FALSE, wcsstr(p.keys, L"IsMax") != nullptr) << p.volume;
        frame->ShowWindow(SW_RESTORE);
        EXPECT_EQ(frame->GetWindowRect(), CRect(p.at.x, p.at.y, p.at.x + 700, p.at.y + 500)) << p.volume;
        EXPECT_EQ(frame->m_videoPane.Bar().m_sliderVolume.GetPos(), p.volume);
        frame.reset();
    }
}

TEST_F(Frame, ThePanesCodesMarkEmbeddedAndCodeSixBringsTheStandaloneViewBack)
{
    Open();
    CFrameDialog& f = *frame;
    COPYDATASTRUCT repaint = {kCopyRepaint, 0, nullptr}, place = {kCopyPlaceVideo, 0, nullptr}, standalone = {kCopyChange, 0, nullptr};
    EXPECT_EQ(f.m_videoPane.SendMessage(WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&repaint)), 1);
    EXPECT_FALSE(f.m_videoPane.Bar().m_btnChange.IsChecked()); // embedded
    ::MoveWindow(f.m_videoPane.Player(), 0, 0, 10, 10, TRUE);
    EXPECT_EQ(f.m_videoPane.SendMessage(WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&place)), 1);
    const CRect pane = f.m_videoPane.GetClientRect();
    EXPECT_EQ(ChildRect(f.m_videoPane, f.m_videoPane.Player()), CRect(0, 0, pane.Width(), pane.Height() - 46));

    // Back to standalone with the list collapsed: it stays hidden.
    f.SetListCollapsed(TRUE);
    f.ShowWindow(SW_HIDE);
    EXPECT_EQ(f.SendMessage(WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&standalone)), 1);
    EXPECT_TRUE(f.IsWindowVisible());
    EXPECT_FALSE(f.m_listPane.IsWindowVisible());
    EXPECT_TRUE(f.m_videoPane.Bar().m_btnChange.IsChecked());

    // With the list hidden, code 6 leaves it hidden.
    f.SetListCollapsed(FALSE);
    f.ToggleProgramList();
    f.ShowWindow(SW_HIDE);
    EXPECT_EQ(f.SendMessage(WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&standalone)), 1);
    EXPECT_TRUE(f.IsWindowVisible());
    EXPECT_FALSE(f.m_listPane.IsWindowVisible());
    EXPECT_FALSE(f.m_splitter.IsWindowVisible());
    EXPECT_EQ(ChildRect(f, f.m_videoPane).right, f.GetClientRect().right - 6);
    f.ToggleProgramList();

    // A pane another program took is left where it is by the layout.
    CWnd client;
    ASSERT_TRUE(client.CreateEx(0, nullptr, L"client", WS_POPUP | WS_VISIBLE, CRect(0, 0, 300, 200), nullptr, 0));
    ::SetParent(f.m_videoPane, client);
    ::MoveWindow(f.m_videoPane, 0, 0, 300, 200, TRUE);
    f.RecalcLayout(TRUE, 0);
    EXPECT_EQ(f.m_videoPane.GetClientRect().Width(), 300);
    ::SetParent(f.m_videoPane, f);
    client.DestroyWindow();
}

TEST_F(Frame, ThreeDroppedFilesPlayTheFirstAndAddTheOthers)
{
    playtest::SimControls sim;
    ASSERT_TRUE(sim.Loaded());
    Open();
    CFrameDialog& f = *frame;
    EXPECT_NE(f.m_videoPane.GetExStyle() & WS_EX_ACCEPTFILES, 0u); // the shell delivers drops
    f.m_listPane.AddFile(L"c:\\v\\old.flv");
    f.m_videoPane.SendMessage(WM_DROPFILES, reinterpret_cast<WPARAM>(listtest::MakeDrop(
                                           {L"c:\\v\\one-30s.wmv", L"c:\\v\\two.flv", L"c:\\v\\three.rm"})));
    const auto rows = listtest::Rows(f.m_listPane);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].path, L"c:\\v\\one-30s.wmv");
    EXPECT_EQ(rows[0].image, CListPane::kCurrentImage);
    EXPECT_EQ(rows[2].path, L"c:\\v\\three.rm");
    EXPECT_EQ(f.m_videoPane.Player().GetEngineKind(), EngineMedia);
    EXPECT_EQ(f.m_history.Paths().back(), L"c:\\v\\one-30s.wmv");
    f.m_videoPane.Player().DestroyEngine();
}

namespace {

// Reads and closes the menu or dialog that is up, from inside its loop.
HWND g_shown = nullptr;
CRect g_aboutRect;
void CALLBACK ShootAndCloseAbout(HWND, UINT, UINT_PTR id, DWORD)
{
    HWND about = ::FindWindowW(L"#32770", L"关于 QZPlayer");
    if (about) {
        g_shown = about;
        ::KillTimer(nullptr, id);
        testsupport::SaveScreenshot(L"player-about");
        ::GetWindowRect(about, &g_aboutRect);
        ::PostMessageW(about, WM_COMMAND, IDOK, 0);
    }
}

} // namespace

TEST_F(Frame, ScreenshotsOfEveryListStateTheMenuAndTheAboutBox)
{
    Open();
    CFrameDialog& f = *frame;
    f.m_listPane.AddItem(L"c:\\v\\a.flv", L"新闻联播");
    f.m_listPane.AddFile(L"c:\\v\\b.wmv");
    auto shoot = [&](const wchar_t* name) {
        testsupport::PumpUntil([] { return false; }, 300);
        testsupport::SaveScreenshot(name);
    };
    // Each list state, with what shows in it.
    auto panes = [&](bool list, bool splitter) {
        EXPECT_EQ(f.m_listPane.IsWindowVisible() != FALSE, list);
        EXPECT_EQ(f.m_splitter.IsWindowVisible() != FALSE, splitter);
        const CRect c = f.GetClientRect();
        const int right = list ? ChildRect(f, f.m_listPane).right : splitter ? ChildRect(f, f.m_splitter).right
                                                                           : ChildRect(f, f.m_videoPane).right;
        EXPECT_EQ(right, c.right - 6);
    };
    shoot(L"player-frame-standalone");
    panes(true, true);
    f.SetListCollapsed(TRUE);
    shoot(L"player-frame-collapsed");
    panes(false, true);
    f.SetListCollapsed(FALSE);
    f.ToggleProgramList();
    shoot(L"player-frame-list-hidden");
    panes(false, false);
    f.ToggleProgramList();
    f.ShowWindow(SW_SHOWMAXIMIZED);
    shoot(L"player-frame-maximised");
    panes(true, true);
    f.ShowWindow(SW_RESTORE);

    // Resized from each edge, the list dragged, the colours changed: every
    // picture is whole (looked at, not compared: fonts differ by machine).
    const CRect start = f.GetWindowRect();
    const struct {
        const wchar_t* name;
        int dl, dt, dr, db;
    } edges[] = {{L"player-frame-resized-left", -160, 0, 0, 0}, {L"player-frame-resized-top", 0, -90, 0, 0},
                 {L"player-frame-resized-right", 0, 0, 120, 0}, {L"player-frame-resized-bottom", 0, 0, 0, 80}};
    for (const auto& e : edges) {
        CRect r = f.GetWindowRect();
        ::MoveWindow(f, r.left + e.dl, r.top + e.dt, r.Width() - e.dl + e.dr, r.Height() - e.dt + e.db, TRUE);
        shoot(e.name);
        panes(true, true);
    }
    NMSPLITTER nm = {};
    nm.hdr.hwndFrom = f.m_splitter;
    nm.hdr.idFrom = IDC_SPLITTER;
    nm.hdr.code = SPN_DRAGGED;
    nm.delta = -150;
    f.SendMessage(WM_NOTIFY, IDC_SPLITTER, reinterpret_cast<LPARAM>(&nm));
    shoot(L"player-frame-splitter-dragged");
    EXPECT_EQ(f.m_nListWidth, 310);
    // Code 3: the client's colour becomes the skin's and the panes take it.
    COLORREF green = RGB(0x2E, 0x7D, 0x32);
    COPYDATASTRUCT recolour = {kCopyColour, sizeof green, &green};
    EXPECT_EQ(f.SendMessage(WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&recolour)), 1);
    EXPECT_EQ(g_skin.m_clrFrame, green);
    EXPECT_EQ(f.m_videoPane.Bar().m_clrBk, g_skin.m_clrPane);
    EXPECT_EQ(f.m_listPane.BkColor(), g_skin.m_clrList);
    shoot(L"player-frame-recoloured");
    ::MoveWindow(f, start.left, start.top, start.Width(), start.Height(), TRUE);

    // The main menu opens under the menu button's row, with its check marks.
    UINT hideList = 99, topmost = 99;
    LONG menuTop = -1;
    {
        testsupport::MenuWatch watch([&](HWND menu) {
            HMENU popup = reinterpret_cast<HMENU>(::SendMessageW(menu, MN_GETHMENU, 0, 0));
            hideList = ::GetMenuState(popup, ID_VIEW_HIDE_LIST, MF_BYCOMMAND) & MF_CHECKED;
            topmost = ::GetMenuState(popup, ID_VIEW_TOPMOST, MF_BYCOMMAND) & MF_CHECKED;
            RECT r;
            ::GetWindowRect(menu, &r);
            menuTop = r.top;
            testsupport::SaveScreenshot(L"player-menu");
        });
        f.ToggleProgramList(); // the list hidden: its item is checked
        f.ShowMainMenu();
        EXPECT_EQ(watch.shown(), 1) << "the main menu";
    }
    EXPECT_EQ(hideList, MF_CHECKED);
    EXPECT_EQ(topmost, MF_UNCHECKED);
    EXPECT_EQ(menuTop, f.GetWindowRect().top + kCaptionStrip);
    f.ToggleProgramList();
    g_shown = nullptr;
    ::SetTimer(nullptr, 0, 100, &ShootAndCloseAbout);
    f.SendMessage(WM_COMMAND, ID_APP_ABOUT);
    EXPECT_NE(g_shown, nullptr) << "the about box";
    // Centred on the player.
    EXPECT_NEAR(g_aboutRect.CenterPoint().x, f.GetWindowRect().CenterPoint().x, 1);
    EXPECT_NEAR(g_aboutRect.CenterPoint().y, f.GetWindowRect().CenterPoint().y, 1);
}

TEST_F(Frame, TheOpenCommandsReplaceTheListWithWhatTheDialogsGive)
{
    playtest::SimControls sim;
    ASSERT_TRUE(sim.Loaded());
    Open();
    CFrameDialog& f = *frame;
    f.m_listPane.AddFile(L"c:\\v\\old.flv");

    // Open URL: type into the dialog's combo and press OK.
    {
        testsupport::ModalDriver driver({[&] {
            HWND dlg = testsupport::FindDialog(f);
            if (!dlg || !::GetDlgItem(dlg, IDC_URL_COMBO))
                return false;
            ::SetWindowTextW(::GetDlgItem(dlg, IDC_URL_COMBO), L"http://h/news-30s.wmv");
            testsupport::ClickLater(dlg, IDOK);
            return true;
        }});
        TypeCtrl(f.m_listPane.List(), 'U'); // the menu's shortcut
        EXPECT_TRUE(driver.finished());
    }
    auto rows = listtest::Rows(f.m_listPane);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].path, L"http://h/news-30s.wmv");
    EXPECT_EQ(f.m_videoPane.Player().GetEngineKind(), EngineMedia);

    // Open file: the file dialog's name field, then OK.
    testsupport::TempFolder media(L"qzmedia");
    const std::wstring clip = media / L"clip-30s.rm";
    ASSERT_TRUE(testsupport::WriteBytes(clip, "clip"));
    {
        testsupport::ModalDriver driver({[&] {
            HWND dlg = testsupport::FindDialog(f);
            if (!dlg)
                return false;
            HWND name = ::GetDlgItem(dlg, 0x47C); // the file name combo
            if (!name)
                name = ::GetDlgItem(dlg, 0x480);
            if (!name)
                return false;
            ::SetWindowTextW(name, clip.c_str());
            testsupport::ClickLater(dlg, IDOK);
            return true;
        }});
        TypeCtrl(f.m_videoPane, 'O');
        EXPECT_TRUE(driver.finished());
    }
    rows = listtest::Rows(f.m_listPane);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_TRUE(::CompareStringOrdinal(rows[0].path.c_str(), -1, clip.c_str(), -1, TRUE) == CSTR_EQUAL) << rows[0].path;
    EXPECT_EQ(f.m_videoPane.Player().GetEngineKind(), EngineReal);
    EXPECT_EQ(f.m_history.Paths().size(), 2u);

    // A control may let messages through while it is created: a Delete of
    // the entry being opened, handled then, leaves no freed entry current,
    // whether a row or the chain opened it. A CBT hook stands for that control.
    DeleteWhileCreated::pane = &f.m_listPane;
    bool& armed = DeleteWhileCreated::armed;
    HHOOK hook = ::SetWindowsHookExW(WH_CBT, &DeleteWhileCreated::Hook, nullptr, ::GetCurrentThreadId());
    ASSERT_NE(hook, nullptr);
    // A row that plays; the chain's entry fails to load once its control
    // exists (no folder for the shell movie).
    const std::wstring movieFolder = f.m_videoPane.Player().ShellMovies().m_strFolder;
    for (bool chain : {false, true}) {
        f.m_listPane.RemoveAll();
        f.m_listPane.SetCurItem(f.m_listPane.AddFile(L"c:\\v\\zero.wmv"));
        f.m_listPane.AddFile(chain ? L"c:\\v\\first.flv" : L"c:\\v\\first.wmv");
        f.m_videoPane.Player().ShellMovies().m_strFolder = chain ? L"c:\\qz-no-such-folder" : movieFolder;
        armed = true;
        if (chain) {
            f.m_videoPane.SendMessage(WM_PLAY_NEXT, kPlayNextAfterFailure);
        } else {
            f.m_listPane.List().SetItemState(1, LVIS_SELECTED, LVIS_SELECTED);
            f.m_listPane.SendMessage(WM_COMMAND, ID_PROG_PLAY);
        }
        EXPECT_FALSE(armed) << chain;
        EXPECT_EQ(f.m_listPane.Count(), 0) << chain;
        EXPECT_EQ(f.m_listPane.Playlist().Current(), nullptr) << chain;
    }
    ::UnhookWindowsHookEx(hook);
    f.m_videoPane.Player().ShellMovies().m_strFolder = movieFolder;
    f.m_videoPane.Player().DestroyEngine();
}

TEST_F(Frame, LineBreaksInCommandsAndOpenedPathsBecomeBlanksAndWriteNoSettings)
{
    playtest::SimControls sim;
    ASSERT_TRUE(sim.Loaded());
    Open();
    CFrameDialog& f = *frame;
    auto code2 = [&](const std::wstring& text) {
        COPYDATASTRUCT cds = {kCopyCommand, static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)), const_cast<wchar_t*>(text.c_str())};
        f.SendMessage(WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds));
    };
    // A peer's title that tries to write a history of 60,000 entries.
    code2(L"-p http://h/a\r\n[FileName]\r\nCount=60000\r\n-30s.wmv|News\n[ProgList]\rCount=9\x01");
    code2(L"-a c:\\x.flv|Title\r\n[FileName]\r\nFirst=0\r\nCount=60000");
    const auto rows = listtest::Rows(f.m_listPane);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].path, L"http://h/a  [FileName]  Count=60000  -30s.wmv");
    EXPECT_EQ(rows[0].text, L"News [ProgList] Count=9 ");
    EXPECT_EQ(rows[1].text, L"Title  [FileName]  First=0  Count=60000");
    ASSERT_EQ(f.m_history.Paths().size(), 1u);
    EXPECT_EQ(f.m_history.Paths()[0], rows[0].path); // what was played is what is kept
    f.m_videoPane.Player().DestroyEngine();
    frame.reset();

    EXPECT_EQ(listtest::ReadKey(L"FileName", L"Count"), L"1");
    EXPECT_EQ(listtest::ReadKey(L"FileName", L"Name0"), rows[0].path);
    EXPECT_EQ(listtest::ReadKey(L"ProgList", L"Count"), L"2");
    EXPECT_EQ(listtest::ReadKey(L"ProgList", L"Url1"), L"c:\\x.flv");
    EXPECT_EQ(listtest::ReadKey(L"ProgList", L"Name1"), rows[1].text);
}

// The session's end ends the process without WM_DESTROY, and only top-level
// windows hear of it: the frame keeps the window and the list, whole values
// and quotes included.
TEST_F(Frame, TheEndOfTheSessionSavesTheWindowAndTheListAsTheyAre)
{
    Open();
    CFrameDialog& f = *frame;
    const std::wstring url = L"http://h/v.flv?" + std::wstring(1100, L'q');
    const std::wstring line = L"-a " + url + L"|\"\"Live\"\"";
    COPYDATASTRUCT cds = {kCopyCommand, static_cast<DWORD>((line.size() + 1) * sizeof(wchar_t)),
                          const_cast<wchar_t*>(line.c_str())};
    f.SendMessage(WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds));
    f.m_listPane.Playlist().m_bRepeat = TRUE;
    const auto rows = listtest::Rows(f.m_listPane);
    ASSERT_EQ(rows.size(), 1u);
    ASSERT_EQ(rows[0].text.front(), L'"');
    f.SendMessage(WM_ENDSESSION, FALSE, 0);
    EXPECT_EQ(listtest::ReadKey(L"ProgList", L"Count"), L"");
    f.SendMessage(WM_ENDSESSION, TRUE, 0);
    EXPECT_EQ(listtest::ReadKey(L"ProgList", L"Count"), L"1");
    EXPECT_EQ(listtest::ReadKey(L"System", L"Repeat"), L"1");
    EXPECT_NE(listtest::ReadKey(L"System", L"Width"), L"");
    CPlaylist loaded;
    loaded.Load();
    ASSERT_EQ(loaded.Count(), 1);
    EXPECT_EQ(loaded.Item(0)->url, url);
    EXPECT_EQ(loaded.Name(0), rows[0].text);
}

TEST_F(Frame, WithRepeatOnTheNextEntryChainEndsAfterOnePassOrWhenItFindsAPlayableEntry)
{
    playtest::SimControls sim;
    ASSERT_TRUE(sim.Loaded());
    Open();
    CFrameDialog& f = *frame;
    for (const wchar_t* path : {L"c:\\v\\a.mpg", L"c:\\v\\b.avi", L"c:\\v\\c.txt"})
        f.m_listPane.AddFile(path);
    f.m_listPane.Playlist().m_bRepeat = TRUE;
    f.m_listPane.SetCurItem(f.m_listPane.GetRowItem(0));
    BoxWatch boxes;
    f.m_videoPane.PostMessage(WM_PLAY_NEXT);
    testsupport::PumpFor(testsupport::Scaled(700));
    MSG msg;
    EXPECT_FALSE(::PeekMessageW(&msg, f.m_videoPane, WM_PLAY_NEXT, WM_PLAY_NEXT, PM_NOREMOVE)) << "still trying";
    EXPECT_EQ(boxes.shown(), 0); // and no message for any of them
    EXPECT_FALSE(f.m_videoPane.Player().HasEngine());
    // In random order too.
    f.m_listPane.Playlist().m_bRand = TRUE;
    f.m_videoPane.PostMessage(WM_PLAY_NEXT);
    testsupport::PumpFor(testsupport::Scaled(700));
    EXPECT_FALSE(::PeekMessageW(&msg, f.m_videoPane, WM_PLAY_NEXT, WM_PLAY_NEXT, PM_NOREMOVE)) << "still trying";

    // One playable entry among failing ones: a random pick may draw a failing
    // entry again, but the chain goes on until the playable one opens.
    f.m_listPane.AddFile(L"c:\\v\\good-30s.wmv");
    ProgItem* good = f.m_listPane.GetRowItem(3);
    for (int round = 0; round < 12; ++round) {
        f.m_videoPane.Player().DestroyEngine();
        f.m_listPane.SetCurItem(good);
        f.m_videoPane.PostMessage(WM_PLAY_NEXT);
        EXPECT_TRUE(testsupport::PumpUntil([&] { return f.m_videoPane.Player().HasEngine(); }, 3000)) << "round " << round;
        EXPECT_EQ(f.m_listPane.Playlist().Current(), good);
    }
    f.m_videoPane.Player().DestroyEngine();
}

TEST_F(Frame, WithRepeatOnAndEntriesThatNeverStartTheChainStillEndsAfterOnePass)
{
    playtest::CallLog log;
    playtest::SimControls sim;
    ASSERT_TRUE(sim.Loaded());
    Open();
    CFrameDialog& f = *frame;
    f.m_videoPane.Bar().m_stall.m_dwStallMs = 1000;
    // Each opens (Windows Media takes any URL) and then never starts.
    for (const wchar_t* path : {L"http://h/missing-a.wmv", L"http://h/missing-b.wmv"})
        f.m_listPane.AddFile(path);
    f.m_listPane.Playlist().m_bRepeat = TRUE;
    f.m_listPane.SetCurItem(f.m_listPane.GetRowItem(1));
    log.Take();
    BoxWatch boxes;
    f.m_videoPane.PostMessage(WM_PLAY_NEXT);
    std::vector<std::wstring> urls;
    auto opened = [&] {
        for (const std::wstring& l : log.Take())
            if (l.compare(0, 10, L"media URL=") == 0)
                urls.push_back(l.substr(10));
        return urls;
    };
    // a, then b: every entry passed over once, then the chain ends.
    ASSERT_TRUE(testsupport::PumpUntil([&] { return opened().size() >= 2; }, 15000));
    testsupport::PumpFor(testsupport::Scaled(3500)); // over three stall bounds: nothing more is opened
    EXPECT_EQ(opened(), (std::vector<std::wstring>{L"http://h/missing-a.wmv", L"http://h/missing-b.wmv"}));
    EXPECT_EQ(f.m_videoPane.Bar().m_strState, L"已停止");
    EXPECT_EQ(f.m_videoPane.Bar().m_nTimer, 0u);
    EXPECT_EQ(boxes.shown(), 0);

    // The same dead source twice in a row (clients add duplicates): the
    // second is watched afresh and passed over too, and the good one after
    // them plays within two stall bounds.
    f.m_videoPane.Player().DestroyEngine();
    f.m_listPane.RemoveAll();
    for (const wchar_t* path : {L"http://h/missing-a.wmv", L"http://h/missing-a.wmv", L"c:\\v\\good-30s.wmv"})
        f.m_listPane.AddFile(path);
    f.m_listPane.SetCurItem(f.m_listPane.GetRowItem(2));
    urls.clear();
    log.Take();
    f.m_videoPane.PostMessage(WM_PLAY_NEXT);
    EXPECT_TRUE(testsupport::PumpUntil([&] { return opened().size() >= 2; }, 2 * 1000 + 1500)) << "it hung";
    EXPECT_EQ(opened(), (std::vector<std::wstring>{L"http://h/missing-a.wmv", L"c:\\v\\good-30s.wmv"}));
    EXPECT_EQ(f.m_listPane.Playlist().Current(), f.m_listPane.GetRowItem(2));
    f.m_videoPane.Player().DestroyEngine();
}

TEST_F(Frame, SpaceEnterAndEscEndNothingWhereverTheFocusIs)
{
    Open();
    CFrameDialog& f = *frame;
    f.m_listPane.AddFile(L"c:\\v\\a.rm"); // no control for it here: a silent failure to open
    ::SetForegroundWindow(f);
    // The keyboard starts on the video; a caption button pressed with the
    // mouse leaves it where it was.
    const HWND video = f.m_videoPane.Player(), mute = f.m_videoPane.Bar().m_btnMute;
    const HWND parts[][2] = {{nullptr, video},
                             {video, video},
                             {::GetDlgItem(f, CDialogBase::IDC_CAPTION_TOPMOST), video},
                             {f.m_listPane.List(), f.m_listPane.List()},
                             {mute, mute}};
    for (const auto& part : parts) { // {what the user clicks, where the keyboard is then}
        const int n = static_cast<int>(&part - parts);
        ASSERT_TRUE(!part[0] || testsupport::Click(testsupport::CentreOf(part[0]))) << n;
        EXPECT_EQ(::GetFocus(), part[1]) << n;
        ASSERT_TRUE(testsupport::Type({VK_SPACE, VK_RETURN, VK_ESCAPE})) << n;
        MSG quit;
        EXPECT_FALSE(::PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) << n;
        EXPECT_TRUE(f.IsWindowVisible() && f.m_videoPane.IsWindowVisible() && f.m_listPane.IsWindowVisible()) << n;
    }
    EXPECT_TRUE(f.m_bTopMost); // the one click, and no key after it
}

// A new entry moves the selection, never the keyboard: with the list hidden,
// Space went nowhere and Delete removed the playing row. Space plays and
// pauses from the list too.
TEST_F(Frame, ANewEntryLeavesTheKeyboardWhereItIsAndSpacePausesFromTheList)
{
    playtest::SimControls sim;
    ASSERT_TRUE(sim.Loaded());
    Open();
    CFrameDialog& f = *frame;
    CPlayerControl& bar = f.m_videoPane.Bar();
    ::SetForegroundWindow(f);
    ASSERT_TRUE(testsupport::Click(testsupport::CentreOf(f.m_videoPane.Player())));
    const std::wstring line = L"-p c:\\v\\keys-300s.wmv";
    COPYDATASTRUCT cds = {kCopyCommand, static_cast<DWORD>((line.size() + 1) * sizeof(wchar_t)),
                          const_cast<wchar_t*>(line.c_str())};
    for (BOOL shown : {FALSE, TRUE}) {
        if (f.m_bShowProgList != shown)
            f.ToggleProgramList();
        f.SendMessage(WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&cds));
        ASSERT_TRUE(testsupport::PumpUntil([&] { return bar.m_strState == L"正在播放..."; })) << shown;
        EXPECT_EQ(::GetFocus(), f.m_videoPane.Player().m_hWnd) << shown;
        ASSERT_TRUE(testsupport::Type({VK_SPACE, VK_DELETE}));
        EXPECT_TRUE(testsupport::PumpUntil([&] { return bar.m_strState == L"已暂停"; })) << shown;
        EXPECT_EQ(f.m_listPane.Count(), 1) << shown;
    }
    // Once the user is in the list, Space still plays and pauses there.
    CRect row;
    ListView_GetItemRect(f.m_listPane.List(), 0, &row, LVIR_LABEL);
    ::MapWindowPoints(f.m_listPane.List(), nullptr, reinterpret_cast<POINT*>(&row), 2);
    ASSERT_TRUE(testsupport::Click(row.CenterPoint()));
    ASSERT_EQ(::GetFocus(), f.m_listPane.List().m_hWnd);
    ASSERT_TRUE(testsupport::Type({VK_SPACE}));
    EXPECT_TRUE(testsupport::PumpUntil([&] { return bar.m_strState == L"正在播放..."; }));
    f.m_videoPane.Player().DestroyEngine();
}

TEST_F(Frame, PlayStartsARestoredListAtTheSelectedEntryOrElseTheFirst)
{
    playtest::SimControls sim;
    ASSERT_TRUE(sim.Loaded());
    // {the row the user selects first or -1, Space on the video instead of Play, the row that starts}
    const int cases[][3] = {{-1, 0, 0}, {2, 0, 2}, {1, 1, 1}};
    for (const auto& c : cases) {
        Write(L"[ProgList]\r\nCount=3\r\nUrl0=c:\\v\\a-30s.wmv\r\nUrl1=c:\\v\\b-30s.wmv\r\nUrl2=c:\\v\\c-30s.wmv\r\n");
        Open();
        CFrameDialog& f = *frame;
        ::SetForegroundWindow(f);
        EXPECT_TRUE(f.m_videoPane.Bar().m_btnPlay.IsWindowEnabled());
        CRect row;
        ListView_GetItemRect(f.m_listPane.List(), c[0], &row, LVIR_LABEL);
        ::MapWindowPoints(f.m_listPane.List(), nullptr, reinterpret_cast<POINT*>(&row), 2);
        ASSERT_TRUE(c[0] < 0 || testsupport::Click(row.CenterPoint()));
        ASSERT_TRUE(testsupport::Click(testsupport::CentreOf(c[1] ? f.m_videoPane.Player() : f.m_videoPane.Bar().m_btnPlay)));
        ASSERT_TRUE(!c[1] || testsupport::Type({VK_SPACE}));
        ASSERT_TRUE(testsupport::PumpUntil([&] { return f.m_videoPane.Player().HasEngine(); })) << c[0];
        EXPECT_EQ(f.m_listPane.Playlist().Current(), f.m_listPane.GetRowItem(c[2]));
        f.m_videoPane.Player().DestroyEngine();
        frame.reset();
    }
    // An empty list has nothing to start.
    Write(L"");
    Open();
    EXPECT_FALSE(frame->m_videoPane.Bar().m_btnPlay.IsWindowEnabled());
    frame->m_listPane.AddFile(L"c:\\v\\one-30s.wmv");
    EXPECT_TRUE(frame->m_videoPane.Bar().m_btnPlay.IsWindowEnabled());
}

namespace {

// What a window shows now, for telling two looks apart.
std::vector<COLORREF> Pixels(HWND wnd)
{
    CRect r;
    ::GetClientRect(wnd, &r);
    std::vector<COLORREF> pixels;
    HDC dc = ::GetDC(wnd);
    for (int i = 0; i < r.Width() * r.Height(); ++i)
        pixels.push_back(::GetPixel(dc, i % r.Width(), i / r.Width()));
    ::ReleaseDC(wnd, dc);
    return pixels;
}

} // namespace

TEST_F(Frame, TabWalksTheBarAndTheListInOrderAndKeysWorkWhatHasTheKeyboard)
{
    playtest::CallLog log;
    playtest::SimControls sim;
    ASSERT_TRUE(sim.Loaded());
    Open();
    CFrameDialog& f = *frame;
    CPlayerControl& bar = f.m_videoPane.Bar();
    f.m_listPane.AddFile(L"c:\\v\\walk-300s.wmv");
    ::SetForegroundWindow(f);
    // Playing, so that every control of the bar is enabled.
    ASSERT_TRUE(testsupport::Click(testsupport::CentreOf(bar.m_btnPlay)));
    ASSERT_TRUE(testsupport::PumpUntil([&] { return f.m_videoPane.Player().HasEngine(); }));
    ASSERT_TRUE(testsupport::Click(testsupport::CentreOf(f.m_videoPane.Player())));

    // The seek slider above the row, the row from left to right, the list;
    // the skinned controls draw the focus (they look otherwise without it).
    const HWND order[] = {bar.m_sliderSeek,   bar.m_btnPlay, bar.m_btnStop,   bar.m_btnMute,
                          bar.m_sliderVolume, bar.m_btnFull, bar.m_btnChange, f.m_listPane.List()};
    std::vector<COLORREF> focused[8];
    for (int i = 0; i < 8; ++i) {
        ASSERT_TRUE(testsupport::Type({VK_TAB}));
        EXPECT_EQ(::GetFocus(), order[i]) << i;
        focused[i] = Pixels(order[i]);
        if (order[i] == bar.m_btnPlay.m_hWnd)
            testsupport::SaveScreenshot(L"player-tab-play");
    }
    EXPECT_NE(Pixels(bar.m_btnPlay), focused[1]);
    EXPECT_NE(Pixels(bar.m_sliderVolume), focused[4]);
    ASSERT_TRUE(testsupport::Type({VK_TAB, VK_TAB}, VK_SHIFT));
    EXPECT_EQ(::GetFocus(), bar.m_btnFull.m_hWnd);

    // Keys move the focused volume slider, and the player hears each move.
    ASSERT_TRUE(testsupport::Type({VK_TAB}, VK_SHIFT));
    for (const auto& m : {std::pair<WORD, int>{VK_RIGHT, 51}, {VK_PRIOR, 61}, {VK_HOME, 0}, {VK_END, 100}}) {
        ASSERT_TRUE(testsupport::Type({m.first}));
        EXPECT_EQ(bar.m_sliderVolume.GetPos(), m.second) << m.first;
    }
    playtest::Lines lines = log.Take();
    EXPECT_EQ(lines.back(), L"media settings.volume=100");

    // Space and Enter press the focused button: Play pauses and plays, Stop stops.
    auto controls = [&] {
        playtest::Lines found;
        for (const std::wstring& l : log.Take())
            if (l.compare(0, 15, L"media controls.") == 0)
                found.push_back(l.substr(15));
        return found;
    };
    ASSERT_TRUE(testsupport::Type({VK_TAB, VK_TAB, VK_TAB}, VK_SHIFT));
    ASSERT_TRUE(testsupport::Type({VK_SPACE}));
    EXPECT_EQ(controls(), playtest::Lines{L"pause"});
    ASSERT_TRUE(testsupport::PumpUntil([&] { return !bar.m_btnPlay.IsChecked(); })); // paused at the next poll
    ASSERT_TRUE(testsupport::Type({VK_RETURN, VK_TAB, VK_RETURN}));
    EXPECT_EQ(controls(), (playtest::Lines{L"play", L"stop"}));
    EXPECT_EQ(::GetFocus(), bar.m_btnPlay.m_hWnd); // from Stop, now disabled
    EXPECT_TRUE(f.IsWindowVisible() && f.m_videoPane.IsWindowVisible());
    f.m_videoPane.Player().DestroyEngine();
}
