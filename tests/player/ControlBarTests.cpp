// The control bar over the simulated media clock: its looks, the poll, the
// end of an item, the buttons and sliders, and the Change request.
#include "FlashPlayer.h"
#include "PlaybackSupport.h"
#include "PlayerControl.h"
#include "PlayerWnd.h"
#include "Protocol.h"
#include "TestSupport.h"

#include <gtest/gtest.h>
#include <olectl.h>

#include <algorithm>

using namespace playtest;

namespace {

// The left pane's part: it owns the host and the bar and counts the ends.
class Pane : public CWnd {
public:
    int playNext = 0;
    std::vector<WPARAM> reasons;

protected:
    LRESULT WindowProc(UINT msg, WPARAM wp, LPARAM lp) override
    {
        if (msg == WM_PLAY_NEXT) {
            ++playNext;
            reasons.push_back(wp);
            return 0;
        }
        return CWnd::WindowProc(msg, wp, lp);
    }
};

class ControlBar : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(AfxOleInit());
        // A cursor an earlier test left over a button would keep its tooltip
        // coming and going, and that stream of messages starves the timers.
        ASSERT_TRUE(testsupport::MoveCursorTo({1270, 1015}));
        sim = std::make_unique<SimControls>();
        ASSERT_TRUE(sim->Loaded());
        ASSERT_TRUE(frame.CreateEx(0, nullptr, L"frame", WS_POPUP | WS_VISIBLE, CRect(30, 30, 670, 430), nullptr, 0));
        ASSERT_TRUE(pane.Create(nullptr, L"pane", WS_CHILD | WS_VISIBLE, CRect(0, 0, 640, 400), &frame, 1));
        ASSERT_TRUE(host.Create(nullptr, L"MinPlayer", WS_CHILD | WS_VISIBLE, CRect(0, 0, 640, 354), &pane,
                                IDC_PLAYER_WND));
        host.ShellMovies().m_strFolder = TempPath(L"");
        host.ShellMovies().m_strFolder.pop_back();
        bar.m_pPlayer = &host;
        bar.m_hFrame = frame.m_hWnd;
        ASSERT_TRUE(bar.Create(IDD_PLAYER_CONTROL, &pane));
        bar.MoveWindow(CRect(0, 354, 640, 400));
        log.Take();
    }
    void TearDown() override
    {
        bar.DestroyWindow();
        host.DestroyWindow();
        frame.DestroyWindow();
        sim.reset();
        AfxOleTerm();
    }
    void OpenAndStart(const wchar_t* source)
    {
        bar.PrepareOpen();
        ASSERT_EQ(host.Open(source), 0);
        bar.OnMediaOpened();
    }
    void Click(CWnd& button) { button.SendMessage(BM_CLICK); }
    bool WaitText(const wchar_t* text, DWORD ms = 10000)
    {
        return testsupport::PumpUntil([&] { return bar.m_strState == text; }, ms);
    }
    std::wstring Shown(UINT id) const { return GetWindowTextString(::GetDlgItem(bar, static_cast<int>(id))); }

    CallLog log;
    std::unique_ptr<SimControls> sim;
    CWnd frame;
    Pane pane;
    CPlayerWnd host;
    CPlayerControl bar;
};

} // namespace

TEST(ControlBarText, TimeAndSeekPositionAreWholeSeconds)
{
    EXPECT_EQ(CPlayerControl::TimeText(3725.9, 7322), L"01:02:05 / 02:02:02");
    EXPECT_EQ(CPlayerControl::TimeText(0, 0), L"00:00:00 / 00:00:00");
    EXPECT_EQ(CPlayerControl::TimeText(360000, 0), L"100:00:00 / 00:00:00");
    EXPECT_EQ(CPlayerControl::SeekPosition(0, 0), 0);
    EXPECT_EQ(CPlayerControl::SeekPosition(30, -1), 0);
    EXPECT_EQ(CPlayerControl::SeekPosition(1, 3), 333);
    EXPECT_EQ(CPlayerControl::SeekPosition(3, 3), 1000);
}

TEST_F(ControlBar, StartsReadyAndLaysOutItsRow)
{
    EXPECT_EQ(Shown(IDC_BAR_STATE), L"准备就绪");
    EXPECT_EQ(Shown(IDC_BAR_TIME), L"00:00:00 / 00:00:00");
    EXPECT_EQ(bar.m_nTimer, 0u);
    EXPECT_FALSE(bar.m_btnPlay.IsWindowEnabled());
    EXPECT_FALSE(bar.m_btnStop.IsWindowEnabled());
    EXPECT_TRUE(bar.m_btnMute.IsWindowEnabled());
    EXPECT_FALSE(bar.m_btnFull.IsWindowEnabled());
    EXPECT_TRUE(bar.m_sliderVolume.m_bInputEnabled);
    EXPECT_FALSE(bar.m_sliderSeek.m_bInputEnabled);
    EXPECT_TRUE(bar.m_btnChange.IsChecked());
    EXPECT_EQ(bar.m_sliderVolume.GetPos(), 50);

    // Left to right: Play, Stop, state, time, Mute, volume, Full, Change.
    auto rect = [&](CWnd& w) {
        CRect r = w.GetWindowRect();
        ::MapWindowPoints(nullptr, bar, reinterpret_cast<POINT*>(&r), 2);
        return r;
    };
    EXPECT_EQ(rect(bar.m_sliderSeek), CRect(3, 3, 637, 13));
    EXPECT_EQ(rect(bar.m_btnPlay).left, 3);
    EXPECT_EQ(rect(bar.m_btnPlay).Width(), 41); // one of the seven images
    EXPECT_EQ(rect(bar.m_btnStop).left, rect(bar.m_btnPlay).right);
    EXPECT_EQ(rect(bar.m_staticState).left, rect(bar.m_btnStop).right + 10);
    EXPECT_EQ(rect(bar.m_btnChange).right, 637);
    EXPECT_EQ(rect(bar.m_btnFull).right, rect(bar.m_btnChange).left);
    EXPECT_EQ(rect(bar.m_sliderVolume).right, rect(bar.m_btnFull).left - 5);
    EXPECT_EQ(rect(bar.m_sliderVolume).Width(), 50);
    EXPECT_EQ(rect(bar.m_btnMute).right, rect(bar.m_sliderVolume).left);
    EXPECT_EQ(rect(bar.m_staticTime).right, rect(bar.m_btnMute).left - 10);
    EXPECT_EQ(rect(bar.m_staticTime).Width(), 110);
    EXPECT_EQ(rect(bar.m_staticState).right, rect(bar.m_staticTime).left - 10);
    // Rows are centred between top + 13 and the bottom (46 high, 3 margin).
    EXPECT_EQ(rect(bar.m_btnPlay).top, 16 + (27 - 30) / 2);
    EXPECT_EQ(rect(bar.m_staticTime).top, 16 + (27 - 18) / 2);
}

TEST_F(ControlBar, AnItemPlaysToItsEndAndTheParentHearsItOnce)
{
    // The same with a media control that cannot pause, nor seek a video
    // safely (Wine's): Play, which would pause, is disabled and says why.
    struct Case {
        const wchar_t* withhold;
        BOOL pause, seek;
    } cases[] = {{L"", TRUE, TRUE}, {L"wine", FALSE, FALSE}};
    for (const Case& c : cases) {
        const std::string name(c.withhold, c.withhold + wcslen(c.withhold));
        ::SetEnvironmentVariableW(L"QZ_SIM_MEDIA_WITHHOLD", c.withhold);
        pane.playNext = 0;
        pane.reasons.clear();
        OpenAndStart(L"c:\\v\\a-2s.wmv");
        ::SetEnvironmentVariableW(L"QZ_SIM_MEDIA_WITHHOLD", nullptr);
        EXPECT_EQ(Shown(IDC_BAR_STATE), L"正在打开...");
        EXPECT_NE(bar.m_nTimer, 0u);
        EXPECT_TRUE(bar.m_btnPlay.IsChecked());
        EXPECT_EQ(bar.m_btnPlay.IsWindowEnabled(), c.pause) << name;
        EXPECT_EQ(bar.m_btnPlay.GetTooltipText(), LoadResString(c.pause ? IDS_TIP_PLAY : IDS_TIP_NO_PAUSE)) << name;
        EXPECT_EQ(bar.m_sliderSeek.m_bInputEnabled, c.seek) << name;
        // Other engines take the volume at once.
        EXPECT_EQ(log.Take().back(), L"media settings.volume=50");

        ASSERT_TRUE(WaitText(L"正在播放...")) << name;
        EXPECT_EQ(Shown(IDC_BAR_TIME).substr(10), L" 00:00:02");
        ASSERT_TRUE(testsupport::PumpUntil([&] { return pane.playNext > 0; }, 10000)) << name;
        EXPECT_EQ(pane.reasons, std::vector<WPARAM>{kPlayNextEnded});
        EXPECT_EQ(Shown(IDC_BAR_STATE), L"已停止");
        EXPECT_EQ(bar.m_nTimer, 0u);
        EXPECT_FALSE(bar.m_btnPlay.IsChecked());
        EXPECT_TRUE(bar.m_btnPlay.IsWindowEnabled());
        EXPECT_EQ(bar.m_btnPlay.GetTooltipText(), LoadResString(IDS_TIP_PLAY));
        EXPECT_EQ(bar.m_sliderSeek.GetPos(), 0);
        testsupport::PumpFor(testsupport::Scaled(1300)); // past the next poll: nothing more
        EXPECT_EQ(pane.playNext, 1);
        host.DestroyEngine();
        EXPECT_EQ(Faults(log.TakeAll()), Lines{}) << name;
    }
}

namespace {

BOOL CALLBACK TakeShownTip(HWND w, LPARAM out)
{
    wchar_t buf[256] = {};
    ::GetClassNameW(w, buf, 256);
    if (wcscmp(buf, TOOLTIPS_CLASSW) != 0 || !::IsWindowVisible(w))
        return TRUE;
    TTTOOLINFOW ti = {};
    ti.cbSize = TTTOOLINFOW_V1_SIZE;
    ti.lpszText = buf;
    if (::SendMessageW(w, TTM_GETCURRENTTOOLW, 0, reinterpret_cast<LPARAM>(&ti)))
        *reinterpret_cast<std::wstring*>(out) = buf;
    return FALSE;
}

// The text of this thread's tooltip that shows, or empty.
std::wstring ShownTip()
{
    std::wstring text;
    ::EnumThreadWindows(::GetCurrentThreadId(), TakeShownTip, reinterpret_cast<LPARAM>(&text));
    return text;
}

} // namespace

TEST_F(ControlBar, UnderThePointerTheDisabledPlayButtonSaysWhyItCannotPause)
{
    // A disabled window gets no mouse input of its own: the real pointer,
    // through the system's queue, is the only proof that the tip shows.
    ::SetEnvironmentVariableW(L"QZ_SIM_MEDIA_WITHHOLD", L"wine");
    OpenAndStart(L"c:\\v\\a-30s.wmv");
    ::SetEnvironmentVariableW(L"QZ_SIM_MEDIA_WITHHOLD", nullptr);
    ASSERT_TRUE(WaitText(L"正在播放..."));
    ASSERT_FALSE(bar.m_btnPlay.IsWindowEnabled());
    POINT centre = testsupport::CentreOf(bar.m_btnPlay);
    ASSERT_TRUE(testsupport::MoveCursorTo({centre.x - 8, centre.y}));
    ASSERT_TRUE(testsupport::MoveCursorTo(centre));
    EXPECT_TRUE(testsupport::PumpUntil([] { return ShownTip() == LoadResString(IDS_TIP_NO_PAUSE); }, 5000))
        << "shown: " << ShownTip();
    ASSERT_TRUE(testsupport::MoveCursorTo({1270, 1015}));
    host.DestroyEngine();
}

TEST_F(ControlBar, StopNeverAnnouncesAnEndAndPlayWhilePlayingPausesAtTheNextPoll)
{
    OpenAndStart(L"c:\\v\\b-30s.rm");
    ASSERT_TRUE(WaitText(L"正在播放..."));
    ASSERT_TRUE(testsupport::PumpUntil([&] { return Shown(IDC_BAR_TIME) != L"00:00:00 / 00:00:30"; }, 10000));
    log.Take();

    Click(bar.m_btnPlay);
    EXPECT_EQ(log.Take(), Lines{L"real DoPause"});
    EXPECT_EQ(Shown(IDC_BAR_STATE), L"正在播放...");
    ASSERT_TRUE(WaitText(L"已暂停", 5000));
    EXPECT_FALSE(bar.m_btnPlay.IsChecked());
    EXPECT_NE(bar.m_nTimer, 0u);
    Click(bar.m_btnPlay);
    EXPECT_EQ(Shown(IDC_BAR_STATE), L"正在打开...");
    EXPECT_EQ(log.Take(), Lines{L"real DoPlay"});

    Click(bar.m_btnStop);
    EXPECT_EQ(log.Take(), Lines{L"real DoStop"});
    EXPECT_EQ(Shown(IDC_BAR_STATE), L"已停止");
    EXPECT_EQ(bar.m_nTimer, 0u);
    EXPECT_FALSE(bar.m_btnStop.IsWindowEnabled());
    EXPECT_NE(Shown(IDC_BAR_TIME), L"00:00:00 / 00:00:00"); // the last polled values stay
    testsupport::PumpFor(testsupport::Scaled(1300)); // past the next poll: nothing more
    EXPECT_EQ(pane.playNext, 0);
}

TEST_F(ControlBar, FlashTakesItsVolumeAtTheFirstRealPollAndMuteRestoresTheSlider)
{
    OpenAndStart(L"http://h/v/c-30s.flv");
    EXPECT_TRUE(bar.m_bVolumePending);
    const std::wstring volume = L"flash CallFunction <invoke name=\"sendEvent\"><arguments><string>volume</string>";
    auto volumeCalls = [&](const Lines& lines) {
        Lines found;
        for (const std::wstring& l : lines)
            if (l.compare(0, volume.size(), volume) == 0)
                found.push_back(l.substr(volume.size()));
        return found;
    };
    EXPECT_EQ(volumeCalls(log.Take()), Lines{});
    ASSERT_TRUE(WaitText(L"正在播放..."));
    EXPECT_FALSE(bar.m_bVolumePending);
    EXPECT_EQ(volumeCalls(log.Take()), Lines{L"<number>50</number></arguments></invoke>"});

    Click(bar.m_btnMute);
    EXPECT_TRUE(bar.m_btnMute.IsChecked());
    bar.m_sliderVolume.SetPos(80);
    Click(bar.m_btnMute);
    EXPECT_FALSE(bar.m_btnMute.IsChecked());
    EXPECT_EQ(volumeCalls(log.Take()), (Lines{L"<number>0</number></arguments></invoke>",
                                              L"<number>80</number></arguments></invoke>"}));
}

TEST_F(ControlBar, DraggingTheSeekThumbSeeksOnEveryMove)
{
    OpenAndStart(L"c:\\v\\d-100s.rm");
    ASSERT_TRUE(testsupport::PumpUntil([&] { double d = 0; host.GetDuration(&d); return d > 0; }, 10000));
    log.Take();
    CRect thumb = bar.m_sliderSeek.m_rcThumb;
    const int y = thumb.top + thumb.Height() / 2;
    bar.m_sliderSeek.SendMessage(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(thumb.left + 2, y));
    for (int x : {100, 200, 317})
        bar.m_sliderSeek.SendMessage(WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(x, y));
    bar.m_sliderSeek.SendMessage(WM_LBUTTONUP, 0, MAKELPARAM(317, y));
    Lines seeks;
    for (const std::wstring& l : log.Take())
        if (l.compare(0, 16, L"real SetPosition") == 0)
            seeks.push_back(l);
    ASSERT_EQ(seeks.size(), 3u);
    EXPECT_EQ(seeks.back(), L"real SetPosition " + std::to_wstring(bar.m_sliderSeek.GetPos() * 100));

    // The mouse over a slider: the seek slider's tip tells the time under
    // the cursor, the volume slider's the volume.
    auto hover = [&](CSliderEx& slider, int x, const std::wstring& text) {
        const CRect r = slider.GetWindowRect();
        EXPECT_TRUE(testsupport::MoveCursorTo({r.left + x, (r.top + r.bottom) / 2}));
        return testsupport::PumpUntil([&] {
            return slider.m_tip.IsWindow() && slider.m_tip.IsWindowVisible() && slider.m_tip.GetText(&slider, 1) == text;
        });
    };
    const int quarter = (bar.m_sliderSeek.GetClientRect().Width() - 2) / 4; // value 250 of 1000
    ASSERT_TRUE(testsupport::PumpUntil([&] { return Shown(IDC_BAR_TIME).substr(10) == L" 00:01:40"; })); // the length is shown
    EXPECT_TRUE(hover(bar.m_sliderSeek, quarter, L"00:00:25"));
    testsupport::SaveScreenshot(L"player-seek-tip");
    EXPECT_TRUE(hover(bar.m_sliderVolume, 10, L"音量：21")); // 10 of 48 pixels
    EXPECT_TRUE(testsupport::MoveCursorTo({1270, 1015}));
    EXPECT_TRUE(testsupport::PumpUntil([&] { return !bar.m_sliderVolume.m_tip.IsWindowVisible(); }));

    // Without an engine a seek puts the thumb back.
    host.DestroyEngine();
    bar.m_sliderSeek.SendMessage(WM_LBUTTONUP, 0, MAKELPARAM(100, y));
    EXPECT_EQ(bar.m_sliderSeek.GetPos(), 0);
}

namespace {

// The client program's main window: it records what the Change button sends.
struct ClientWindow : CWnd {
    ULONG_PTR code = 0;
    LONG handle = 0;
    LRESULT WindowProc(UINT msg, WPARAM wp, LPARAM lp) override
    {
        if (msg == WM_COPYDATA) {
            auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lp);
            code = data->dwData;
            if (data->cbData == sizeof(LONG))
                handle = *static_cast<const LONG*>(data->lpData);
            return TRUE;
        }
        return CWnd::WindowProc(msg, wp, lp);
    }
};

} // namespace

TEST_F(ControlBar, ChangeAsksTheClientWithTheFramesHandleAndLeavesItsOwnState)
{
    Click(bar.m_btnChange); // no client: nothing happens
    EXPECT_TRUE(bar.m_btnChange.IsChecked());

    WNDCLASSW wc = {};
    wc.lpfnWndProc = ::DefWindowProcW;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.lpszClassName = kClientFrameClass;
    ASSERT_TRUE(::RegisterClassW(&wc));
    ClientWindow client;
    ASSERT_TRUE(client.CreateEx(0, kClientFrameClass, L"client", WS_POPUP, CRect(0, 0, 10, 10), nullptr, 0));
    // The frame's handle, also while the client holds the pane.
    for (HWND holder : {frame.m_hWnd, client.m_hWnd}) {
        ::SetParent(pane, holder);
        client.code = 0;
        Click(bar.m_btnChange);
        EXPECT_EQ(client.code, 6u);
        EXPECT_EQ(LongToHandle(client.handle), static_cast<HANDLE>(frame.m_hWnd));
    }
    ::SetParent(pane, frame);
    EXPECT_TRUE(bar.m_btnChange.IsChecked());
    bar.SetChangeChecked(FALSE);
    EXPECT_FALSE(bar.m_btnChange.IsChecked());
    client.DestroyWindow();
}

TEST_F(ControlBar, ScreenshotWhileASimulatedItemPlays)
{
    bar.SetBkColor(RGB(0xE6, 0xEC, 0xF2));
    OpenAndStart(L"c:\\v\\film-125s.wmv");
    // A poll while playing: the length is known and the position has moved.
    ASSERT_TRUE(testsupport::PumpUntil(
        [&] {
            const std::wstring t = Shown(IDC_BAR_TIME);
            return t.size() > 8 && t.substr(8) == L" / 00:02:05" && t != L"00:00:00 / 00:02:05";
        },
        10000));
    testsupport::PumpPending();
    // The bar's own background, around the statics' frames.
    HDC dc = ::GetDC(bar);
    EXPECT_EQ(::GetPixel(dc, 320, 44), RGB(0xE6, 0xEC, 0xF2));
    ::ReleaseDC(bar, dc);
    testsupport::SaveScreenshot(L"player-control-bar");
}

TEST_F(ControlBar, AOneFrameMovieNeverOpensTheGateAndTheTwoFrameShellMovieDoes)
{
    // The shell movie as Haxe makes it: one frame, its callbacks registered
    // in it. FrameNum counts from 0, so it reads 0 for ever: the engine asks
    // nothing, and the bar stays where the open left it.
    host.ShellMovies().m_strInstead = ArtMovie(L"QZFPlayer-1frame.swf");
    bar.m_stall.m_dwStallMs = 120000; // no pass-over while it waits
    OpenAndStart(L"http://h/v/news-30s.flv");
    testsupport::PumpFor(testsupport::Scaled(3500));
    EXPECT_EQ(Shown(IDC_BAR_STATE), L"正在打开...");
    EXPECT_EQ(Shown(IDC_BAR_TIME), L"00:00:00 / 00:00:00");
    for (const std::wstring& l : log.TakeAll()) {
        EXPECT_NE(l.compare(0, 19, L"flash CallFunction "), 0) << "the gate opened";
        if (l.compare(0, 17, L"flash FrameNum ->") == 0) {
            EXPECT_EQ(l, L"flash FrameNum -> 0");
        }
    }
    EXPECT_EQ(pane.playNext, 0);

    // The shell movie as built: two frames, so it plays.
    host.ShellMovies().m_strInstead = ArtMovie(L"QZFPlayer.swf");
    OpenAndStart(L"http://h/v/news-30s.flv");
    ASSERT_TRUE(WaitText(L"正在播放...", 5000));
    ASSERT_TRUE(testsupport::PumpUntil([&] { return Shown(IDC_BAR_TIME).substr(10) == L" 00:00:30"; }, 5000));
    host.ShellMovies().m_strInstead.clear();
}

TEST_F(ControlBar, AMovieLoadedDirectlyPlaysPastTheStallBoundUntilTheUserStopsIt)
{
    // It reports no clock, only that the control loaded it or that it plays
    // while it streams in: the list must not move on after the bound, and
    // Pause, Stop and Play drive its timeline.
    bar.m_stall.m_dwStallMs = 2500;
    const std::wstring game = TempPath(L"qz-game") + L".swf";
    ASSERT_TRUE(testsupport::WriteBytes(game, MovieWithoutCode(50)));
    const struct {
        std::wstring movie;
        long ready; // after the bound
    } cases[] = {{game, 4}, {ServedMovie("streamed.swf", "slow", 2, 100), 3}}; // a frame in a tenth of a second
    for (const auto& c : cases) {
        const std::string name(c.movie.begin(), c.movie.end());
        OpenAndStart(c.movie.c_str());
        ASSERT_TRUE(WaitText(L"正在播放...", 3000)) << name;
        // Past the bound; not scaled, as the streamed movie must still be
        // loading after it (it takes 25 s to arrive).
        testsupport::PumpFor(3500);
        EXPECT_EQ(Shown(IDC_BAR_STATE), L"正在播放...") << name;
        EXPECT_EQ(pane.playNext, 0) << name;
        long ready = -1;
        host.GetEngine()->GetProperty(DISPID_READYSTATE, VT_I4, &ready);
        EXPECT_EQ(ready, c.ready) << name;
        Click(bar.m_btnPlay);
        EXPECT_TRUE(WaitText(L"已暂停", 3000)) << name;
        log.Take();
        Click(bar.m_btnStop);
        EXPECT_EQ(Shown(IDC_BAR_STATE), L"已停止");
        EXPECT_EQ(log.Take(), (Lines{L"flash Rewind", L"flash StopPlay"}));
        Click(bar.m_btnPlay);
        ASSERT_TRUE(WaitText(L"正在播放...", 3000)) << name;
        EXPECT_EQ(log.Take().front(), L"flash Play");
        EXPECT_EQ(pane.playNext, 0);
        host.DestroyEngine();
    }
    ::DeleteFileW(game.c_str());
    testsupport::Unpublish("/movies");
}

TEST_F(ControlBar, AnItemThatNeverStartsIsPassedOverWithEachControlsRealisticFailure)
{
    bar.m_stall.m_dwStallMs = 2500;
    struct Case {
        std::wstring source;
        const wchar_t* shownWhileWaiting; // what the bar shows until then
        const wchar_t* movie = nullptr;   // in place of the built shell movie
        const wchar_t* stopCall = nullptr; // the engine's last call, stopping it
        const wchar_t* playCall = nullptr; // what Play then calls
    } cases[] = {
        // Windows Media: a URL it cannot open leaves it ready (10), read as
        // playing at 00:00:00 for ever; only the bound moves the list on.
        {L"http://h/v/missing-news.wmv", L"正在播放...", nullptr, L"media controls.stop", L"media controls.play"},
        // Flash, the shell movie's gate never opening (a one-frame movie),
        // and a movie loaded directly that never comes: no state.
        {L"http://h/v/news.flv", L"正在打开...", L"QZFPlayer-1frame.swf"},
        {L"http://h/v/game.swf", L"正在打开...", nullptr, L"flash StopPlay", L"flash Play"},
        // its bytes stop before the first frame
        {ServedMovie("no-frame.swf", "stall", 13, 20000), L"正在打开...", nullptr, L"flash StopPlay", L"flash Play"},
        // Real: the clip is closed after its error and reads stopped; Flash
        // through the shell movie: the stream is not found, state 0. Both
        // end without ever having started.
        {L"c:\\v\\missing-news.rm", nullptr, nullptr, L"real DoStop", L"real DoPlay"},
        {L"http://h/v/missing-news.flv", nullptr, nullptr, L"flash CallFunction <invoke name=\"sendEvent\"><arguments><string>stop</string></arguments></invoke>",
         L"flash CallFunction <invoke name=\"sendEvent\"><arguments><string>playpause</string></arguments></invoke>"},
    };
    Lines refused;
    for (const Case& c : cases) {
        const std::string name(c.source.begin(), c.source.end());
        pane.playNext = 0;
        pane.reasons.clear();
        const ULONGLONG opened = ::GetTickCount64();
        host.ShellMovies().m_strInstead = c.movie ? ArtMovie(c.movie) : L"";
        OpenAndStart(c.source.c_str());
        // The last text the bar showed before it moved the list on, however
        // slowly the polls come.
        std::wstring waiting;
        ASSERT_TRUE(testsupport::PumpUntil(
            [&] {
                if (pane.playNext == 0)
                    waiting = Shown(IDC_BAR_STATE);
                return pane.playNext > 0;
            },
            8000))
            << name;
        if (c.shownWhileWaiting) {
            EXPECT_EQ(waiting, c.shownWhileWaiting) << name;
            EXPECT_GE(::GetTickCount64() - opened, 2500u);
        }
        EXPECT_EQ(pane.reasons, std::vector<WPARAM>{kPlayNextPassedOver}) << name;
        EXPECT_EQ(Shown(IDC_BAR_STATE), L"已停止");
        EXPECT_EQ(bar.m_nTimer, 0u);
        testsupport::PumpFor(testsupport::Scaled(1200));
        EXPECT_EQ(pane.playNext, 1);
        // The engine was stopped too, its last call: it plays nothing on under
        // the stopped bar (a shell movie that never became ready takes no call).
        const Lines calls = log.Take();
        const Lines more = Refused(calls);
        refused.insert(refused.end(), more.begin(), more.end());
        if (c.stopCall) {
            EXPECT_TRUE(!calls.empty() && calls.back() == c.stopCall) << name << ": " << testing::PrintToString(calls);
            // Play starts it again.
            Click(bar.m_btnPlay);
            const Lines again = log.Take();
            EXPECT_NE(std::find(again.begin(), again.end(), c.playCall), again.end())
                << name << ": " << testing::PrintToString(again);
            EXPECT_EQ(Shown(IDC_BAR_STATE), L"正在打开...");
        }
    }
    EXPECT_EQ(refused, Lines{});
    testsupport::Unpublish("/movies");
}

TEST_F(ControlBar, BufferingThatMakesProgressAndAPauseByTheUserAreNoStall)
{
    bar.m_stall.m_dwStallMs = 2000;
    // Four seconds of buffering, longer than the bound, but with progress.
    for (const wchar_t* source : {L"http://h/v/slow-buffer4s-2s.wmv", L"c:\\v\\slow-buffer4s-2s.rm"}) {
        pane.playNext = 0;
        pane.reasons.clear();
        OpenAndStart(source);
        ASSERT_TRUE(WaitText(L"缓冲处理中...", 3000)) << source;
        ASSERT_TRUE(testsupport::PumpUntil([&] { return pane.playNext > 0; }, 12000)) << source;
        EXPECT_EQ(pane.reasons, std::vector<WPARAM>{kPlayNextEnded}) << source; // it played to its end
    }

    // Paused by the user before it started: the pause does not count.
    pane.playNext = 0;
    OpenAndStart(L"http://h/v/slow-buffer30s-2s.wmv");
    ASSERT_TRUE(WaitText(L"缓冲处理中...", 3000));
    Click(bar.m_btnPlay); // pause
    ASSERT_TRUE(WaitText(L"已暂停", 3000));
    testsupport::PumpFor(testsupport::Scaled(3500));
    EXPECT_EQ(pane.playNext, 0);
    EXPECT_EQ(Shown(IDC_BAR_STATE), L"已暂停");
}
