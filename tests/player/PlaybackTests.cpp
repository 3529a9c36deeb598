// The player host and its three engines: the source rules, the replies and
// addresses of the Flash engine, the shell movie, and every engine's calls
// against the simulated controls (real COM objects, real windows).
#include "FlashPlayer.h"
#include "PlayerWnd.h"
#include "RealPlayer.h"
#include "PlaybackSupport.h"
#include "TestSupport.h"
#include "WMPPlayer.h"

#include <gtest/gtest.h>

#include <vector>

namespace {
using namespace playtest;



class Playback : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(AfxOleInit());
        sim = std::make_unique<SimControls>();
        ASSERT_TRUE(sim->Loaded()) << "SimControls.dll beside the tests";
        parent.CreateEx(0, nullptr, L"pane", WS_POPUP | WS_VISIBLE, CRect(20, 20, 500, 400), nullptr, 0);
        ASSERT_TRUE(host.Create(nullptr, L"MinPlayer", WS_CHILD | WS_VISIBLE, CRect(0, 0, 480, 360), &parent,
                                IDC_PLAYER_WND));
        movieFolder = TempPath(L"qz-movie");
        ::CreateDirectoryW(movieFolder.c_str(), nullptr);
        host.m_strMovieFolder = movieFolder;
        log.Take();
    }
    void TearDown() override
    {
        host.DestroyWindow();
        parent.DestroyWindow();
        ::SetFileAttributesW((movieFolder + L"\\QZFPlayer.swf").c_str(), FILE_ATTRIBUTE_NORMAL);
        ::DeleteFileW((movieFolder + L"\\QZFPlayer.swf").c_str());
        ::RemoveDirectoryW(movieFolder.c_str());
        sim.reset();
        AfxOleTerm();
    }
    // Waits (pumping) until the host reports state, or a few seconds.
    bool WaitState(PlayState state, DWORD ms = 10000)
    {
        return testsupport::PumpUntil([&] { return host.GetState() == state; }, ms);
    }

    CallLog log;
    std::unique_ptr<SimControls> sim;
    CWnd parent;
    CPlayerWnd host;
    std::wstring movieFolder;
};

} // namespace

TEST(PlayerSource, EngineComesFromTheFirstTableRowFoundAfterTheFirstCharacter)
{
    struct Case {
        const wchar_t* source;
        int engine;
    } cases[] = {
        {L"c:\\v\\a.flv.wmv", EngineFlash}, {L"c:\\v\\a.mp4", EngineFlash},   {L"c:\\v\\a.swf", EngineFlash},
        {L"c:\\v\\a.rmvb", EngineReal},     {L"c:\\v\\a.rm", EngineReal},     {L"c:\\v\\a.asf", EngineMedia},
        {L"http://h/a.wmv?id=1&k=2", EngineMedia}, {L"c:\\v\\a.Mp3", EngineMedia}, {L".flv", EngineNone},
        {L"x.flvx", EngineFlash},           {L"c:\\v\\a.mpg", EngineNone},    {L"", EngineNone},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CPlayerWnd::EngineForSource(CPlayerWnd::UpperAscii(c.source)), c.engine) << c.source;
    // Only a to z change: Chinese and accented letters stay as they are.
    EXPECT_EQ(CPlayerWnd::UpperAscii(L"d:\\视频\\é-clip.flv"), L"D:\\视频\\é-CLIP.FLV");
}

TEST(PlayerSource, EachEngineMapsItsOwnStatesAndTheMovieRepliesAreReadAsNumbers)
{
    EXPECT_EQ(CFlashPlayer::MapState(-1), Undefined);
    EXPECT_EQ(CFlashPlayer::MapState(0), Stopped);
    EXPECT_EQ(CFlashPlayer::MapState(1), Playing);
    EXPECT_EQ(CFlashPlayer::MapState(2), Paused);
    EXPECT_EQ(CFlashPlayer::MapState(3), Undefined);
    const PlayState media[] = {Undefined, Stopped, Paused, Playing, Playing, Playing, Buffering,
                               Playing,   Stopped, Playing, Playing, Playing, Playing};
    for (long v = 0; v <= 12; ++v)
        EXPECT_EQ(CWMVPlayer::MapState(v), media[v]) << v;
    const PlayState real[] = {Stopped, Playing, Buffering, Playing, Paused, Playing, Playing};
    for (long v = 0; v <= 6; ++v)
        EXPECT_EQ(CRealPlayer::MapState(v), real[v]) << v;

    EXPECT_EQ(CFlashPlayer::ReplyNumber(L"", -1), -1);
    EXPECT_EQ(CFlashPlayer::ReplyNumber(L"", 0), 0);
    EXPECT_EQ(CFlashPlayer::ReplyNumber(L"<number>-1</number>", 0), -1);
    EXPECT_EQ(CFlashPlayer::ReplyNumber(L"<number>0</number>", -1), 0);
    EXPECT_EQ(CFlashPlayer::ReplyNumber(L"<number>12.75</number>", 0), 12);
    EXPECT_EQ(CFlashPlayer::ReplyNumber(L"<string>5</string>", -1), 0);
    EXPECT_EQ(CFlashPlayer::ReplyNumber(L"<undefined/>", -1), 0);
}

TEST(PlayerSource, TheMovieAddressCarriesTheWholeSourceAndTheRightTail)
{
    const std::wstring local = L"&overstretch=true&showdigits=false&autostart=true&showplayerbar=false&callback=true"
                               L"&enablejs=true";
    const std::wstring http = L"&overstretch=true&showdigits=true&autostart=true&showplayerbar=false&callback=true"
                              L"&enablejs=true&streamscript=http://";
    EXPECT_EQ(CFlashPlayer::MovieAddress(L"C:\\P\\QZFPlayer.swf", L"D:\\CLIPS\\A.FLV"),
              L"C:\\P\\QZFPlayer.swf?file=D:\\CLIPS\\A.FLV" + local);
    EXPECT_EQ(CFlashPlayer::MovieAddress(L"m", L"X HTTP://H/A.FLV"), L"m?file=X%20HTTP://H/A.FLV" + http);
    EXPECT_EQ(CFlashPlayer::MovieAddress(L"m", L"HTTPS://H/A.FLV"), L"m?file=HTTPS://H/A.FLV" + local);
    // What would end or change the value is escaped; the movie decodes it.
    EXPECT_EQ(CFlashPlayer::MovieAddress(L"m", L"HTTP://H/A.FLV?ID=1&K=2#T+%"),
              L"m?file=HTTP://H/A.FLV?ID=1%26K=2%23T%2B%25" + http);
}

TEST_F(Playback, FlashCallsInOrderAndDrivesTheShellMovie)
{
    ASSERT_EQ(host.Open(L"d:\\clips\\a-90s.flv"), 0);
    const std::wstring movie = movieFolder + L"\\QZFPlayer.swf";
    EXPECT_EQ(log.Take(), (Lines{L"flash create", L"flash AllowFullScreen=true", L"flash Scale=noScale",
                                 L"flash Loop=false",
                                 L"flash Movie=" + CFlashPlayer::MovieAddress(movie, L"D:\\CLIPS\\A-90S.FLV")}));
    EXPECT_EQ(host.GetEngineKind(), EngineFlash);
    HWND control = ::GetDlgItem(host, IDC_FLASH_PLAYER);
    ASSERT_NE(control, nullptr);
    // No frame yet: no request is sent and nothing is known.
    EXPECT_EQ(host.GetState(), Undefined);
    EXPECT_EQ(log.Take(), Lines{});
    ASSERT_TRUE(WaitState(Playing));
    log.Take();

    host.Seek(59.9);
    host.SetVolume(40);
    host.SetMute(TRUE);
    host.SetMute(FALSE);
    const std::wstring ev = L"flash CallFunction <invoke name=\"sendEvent\"><arguments><string>";
    EXPECT_EQ(log.Take(), (Lines{ev + L"position</string><number>59</number></arguments></invoke>",
                                 ev + L"volume</string><number>40</number></arguments></invoke>",
                                 ev + L"volume</string><number>0</number></arguments></invoke>"}));
    host.Pause();
    EXPECT_EQ(host.GetState(), Paused);
    host.Play();
    EXPECT_EQ(host.GetState(), Playing);
    host.Stop();
    EXPECT_EQ(host.GetState(), Stopped);

    // Full screen: the control gets the focus and a Home key.
    host.FullScreen(FALSE);
    testsupport::PumpPending();
    EXPECT_EQ(::GetFocus(), control);
    EXPECT_EQ(host.SendMessage(WM_PLAYER_FULLSCREEN), 1);

    // Code 4 of the protocol repaints; other codes are not the host's.
    COPYDATASTRUCT repaint = {4, 0, nullptr}, other = {5, 0, nullptr};
    ::ValidateRect(host, nullptr);
    EXPECT_EQ(host.SendMessage(WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&repaint)), TRUE);
    EXPECT_TRUE(::GetUpdateRect(host, nullptr, FALSE));
    EXPECT_EQ(host.SendMessage(WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&other)), FALSE);
}

TEST_F(Playback, MediaCallsInOrderAndItsRules)
{
    ASSERT_EQ(host.Open(L"http://h/a-2s.wmv?id=1"), 0);
    EXPECT_EQ(log.Take(), (Lines{L"media create", L"media controls", L"media settings", L"media stretchToFit=true",
                                 L"media uiMode=none", L"media URL=HTTP://H/A-2S.WMV?ID=1", L"media controls.play"}));
    EXPECT_EQ(host.GetState(), Playing); // transitioning counts as playing
    host.FullScreen(FALSE);
    EXPECT_EQ(log.Take(), Lines{});
    host.FullScreen(TRUE);
    host.Seek(1.25);
    host.SetVolume(70);
    host.SetMute(TRUE);
    EXPECT_EQ(log.Take(), (Lines{L"media fullScreen=true", L"media controls.currentPosition=1.25",
                                 L"media settings.volume=70", L"media settings.mute=true"}));
    host.Stop();
    host.FullScreen(TRUE); // not while stopped
    EXPECT_EQ(log.Take(), Lines{L"media controls.stop"});
    // The end of an item reads as Stopped, and the length was known.
    host.Play();
    double duration = 0;
    // Opening already reads as playing; the length is known once opened.
    EXPECT_TRUE(testsupport::PumpUntil([&] { host.GetDuration(&duration); return duration > 0; }, 8000));
    EXPECT_DOUBLE_EQ(duration, 2.0);
    EXPECT_TRUE(WaitState(Stopped));
}

TEST_F(Playback, RealCallsInOrderInMilliseconds)
{
    ASSERT_EQ(host.Open(L"c:\\v\\b-90s.rmvb"), 0);
    EXPECT_EQ(log.Take(), (Lines{L"real create", L"real SetControls ImageWindow", L"real SetSource C:\\V\\B-90S.RMVB",
                                 L"real 275 false", L"real 235 false", L"real 343 false", L"real 105=false",
                                 L"real DoPlay"}));
    EXPECT_EQ(host.GetState(), Buffering);
    ASSERT_TRUE(WaitState(Playing));
    host.Seek(61.999);
    double pos = -1;
    host.GetPosition(&pos);
    EXPECT_DOUBLE_EQ(pos, 61.0); // whole seconds
    host.Seek(12.3456);
    host.SetVolume(100);
    host.SetMute(TRUE);
    host.FullScreen(FALSE);
    host.FullScreen(TRUE);
    host.Pause();
    EXPECT_EQ(host.GetState(), Paused);
    EXPECT_EQ(log.Take(), (Lines{L"real SetPosition 61999", L"real SetPosition 12345", L"real SetVolume 100",
                                 L"real SetMute true", L"real SetFullScreen", L"real DoPause"}));
}

TEST_F(Playback, OpenReplacesTheEngineAndFailuresLeaveNone)
{
    ASSERT_EQ(host.Open(L"C:\\V\\A.WMV"), 0);
    EXPECT_TRUE(host.IsCurrent(L"c:\\v\\a.wmv"));
    EXPECT_FALSE(host.IsCurrent(L"c:\\v\\b.wmv"));
    EXPECT_FALSE(host.IsCurrent(L""));
    ASSERT_EQ(host.Open(L"c:\\v\\a.flv"), 0);
    log.Take();
    // No engine for the source: the old one is gone all the same.
    EXPECT_EQ(host.Open(L"c:\\v\\a.mpg"), 2);
    EXPECT_EQ(log.Take(), Lines{L"flash release"});
    EXPECT_FALSE(host.HasEngine());
    EXPECT_EQ(host.GetEngineKind(), EngineFlash); // kind stays, nothing is routed
    EXPECT_EQ(::GetWindow(host, GW_CHILD), nullptr);
    EXPECT_FALSE(host.IsCurrent(L"c:\\v\\a.flv"));
    EXPECT_EQ(host.GetState(), Undefined);
    double pos = 7;
    host.GetPosition(&pos);
    EXPECT_EQ(pos, 7);
    host.Play();
    EXPECT_EQ(log.Take(), Lines{});

    // A shell movie that cannot be written: 1, and no control remains.
    host.m_strMovieFolder = movieFolder + L"\\missing\\folder";
    EXPECT_EQ(host.Open(L"c:\\v\\a.flv"), 1);
    EXPECT_EQ(log.Take(), (Lines{L"flash create", L"flash AllowFullScreen=true", L"flash Scale=noScale",
                                 L"flash release"}));
    EXPECT_EQ(::GetWindow(host, GW_CHILD), nullptr);
    EXPECT_EQ(sim->Live(), 0);
}

TEST_F(Playback, TheShellMovieIsReusedAtTheRightSizeAndOnlyAWrittenOneIsDeleted)
{
    const std::wstring movie = movieFolder + L"\\QZFPlayer.swf";
    ASSERT_EQ(host.Open(L"c:\\v\\a.flv"), 0);
    const DWORD attrs = ::GetFileAttributesW(movie.c_str());
    ASSERT_NE(attrs, INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(attrs & FILE_ATTRIBUTE_HIDDEN);
    EXPECT_EQ(host.GetShellMovieFile(), movie);
    host.DestroyWindow();
    EXPECT_EQ(::GetFileAttributesW(movie.c_str()), INVALID_FILE_ATTRIBUTES);

    // A file of the right size is kept as it is, and survives the host.
    {
        CPlayerWnd writer;
        writer.m_strMovieFolder = movieFolder;
        ASSERT_TRUE(writer.ExtractShellMovie(movie));
    }
    ::SetFileAttributesW(movie.c_str(), FILE_ATTRIBUTE_NORMAL);
    CPlayerWnd reuse;
    reuse.m_strMovieFolder = movieFolder;
    ASSERT_TRUE(reuse.Create(nullptr, L"MinPlayer", WS_CHILD, CRect(0, 0, 10, 10), &parent, IDC_PLAYER_WND));
    ASSERT_EQ(reuse.Open(L"c:\\v\\a.flv"), 0);
    EXPECT_TRUE(reuse.GetShellMovieFile().empty());
    EXPECT_FALSE(::GetFileAttributesW(movie.c_str()) & FILE_ATTRIBUTE_HIDDEN); // not rewritten
    reuse.DestroyWindow();
    EXPECT_NE(::GetFileAttributesW(movie.c_str()), INVALID_FILE_ATTRIBUTES);

    // One of another size is overwritten, and deleted at the end.
    HANDLE f = ::CreateFileW(movie.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD n = 0;
    ::WriteFile(f, "CWS", 3, &n, nullptr);
    ::CloseHandle(f);
    CPlayerWnd rewrite;
    rewrite.m_strMovieFolder = movieFolder;
    ASSERT_TRUE(rewrite.Create(nullptr, L"MinPlayer", WS_CHILD, CRect(0, 0, 10, 10), &parent, IDC_PLAYER_WND));
    ASSERT_EQ(rewrite.Open(L"c:\\v\\a.mp4"), 0);
    EXPECT_EQ(rewrite.GetShellMovieFile(), movie);
    rewrite.DestroyWindow();
    EXPECT_EQ(::GetFileAttributesW(movie.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(Playback, AMovieWithoutTheRequestsFailsQuietlyInThePollAndLoudlyOnCommands)
{
    ASSERT_EQ(host.Open(L"http://h/game.swf"), 0);
    EXPECT_EQ(log.Take(), (Lines{L"flash create", L"flash AllowFullScreen=true", L"flash Scale=noScale",
                                 L"flash AllowNetworking=all", L"flash Movie=HTTP://H/GAME.SWF"}));
    ::Sleep(150); // the first frame
    double pos = 5, duration = 5;
    EXPECT_EQ(host.GetState(), Undefined);
    host.GetPosition(&pos);
    host.GetDuration(&duration);
    EXPECT_EQ(pos, 0);
    EXPECT_EQ(duration, 0);
    // The volume request is the one command whose error is ignored.
    host.SetVolume(50);
    try {
        host.Stop();
        ADD_FAILURE() << "Stop raised nothing";
    } catch (COleDispatchException* e) {
        EXPECT_EQ(e->GetErrorMessage(), L"Error calling method on NPObject.");
        e->Delete();
    }
}

TEST_F(Playback, FiveHundredOpensLeaveNoObjectBehind)
{
    // Counted with a Flash engine in place each time, after a first round
    // (the shell movie is written once and the system fills its caches).
    const wchar_t* sources[] = {L"c:\\v\\a.flv", L"c:\\v\\a.wmv", L"c:\\v\\a.rm"};
    DWORD gdi = 0, user = 0;
    for (int i = 0; i < 529; ++i) {
        ASSERT_EQ(host.Open(sources[i % 3]), 0);
        host.GetState();
        if (i == 30) {
            testsupport::PumpPending();
            gdi = testsupport::GdiObjectCount();
            user = testsupport::UserObjectCount();
            ASSERT_GT(gdi, 0u);
            ASSERT_GT(user, 0u);
        }
    }
    testsupport::PumpPending();
    EXPECT_EQ(testsupport::GdiObjectCount(), gdi);
    EXPECT_EQ(testsupport::UserObjectCount(), user);
    host.DestroyEngine();
    EXPECT_EQ(sim->Live(), 0);
    EXPECT_EQ(testsupport::UserObjectCount(), user - 1); // the control's window
}

namespace {
using namespace playtest;

// Opens from inside a message handler, where an uncaught framework error is
// reported to the user, as it is in the player.
struct Opener : CWnd {
    CPlayerWnd* host = nullptr;
    std::wstring source;
    int result = -1;
    LRESULT WindowProc(UINT msg, WPARAM wp, LPARAM lp) override
    {
        if (msg == WM_APP)
            result = host->Open(source);
        return CWnd::WindowProc(msg, wp, lp);
    }
};

int g_boxes = 0;
void CALLBACK CloseBoxes(HWND, UINT, UINT_PTR, DWORD)
{
    HWND box = ::FindWindowW(L"#32770", nullptr);
    if (box && ::IsWindowVisible(box)) {
        ++g_boxes;
        ::PostMessageW(box, WM_COMMAND, IDOK, 0);
    }
}

} // namespace

TEST(PlaybackWine, TheRealMediaControlIsHostedButItsFirstCallFailsOnceAndLeavesNothing)
{
    ASSERT_TRUE(AfxOleInit());
    {
        CWnd parent;
        parent.CreateEx(0, nullptr, L"pane", WS_POPUP | WS_VISIBLE, CRect(20, 20, 500, 400), nullptr, 0);
        CPlayerWnd host;
        ASSERT_TRUE(host.Create(nullptr, L"MinPlayer", WS_CHILD | WS_VISIBLE, CRect(0, 0, 480, 360), &parent,
                                IDC_PLAYER_WND));
        Opener opener;
        opener.host = &host;
        opener.source = L"c:\\music\\song.mp3";
        opener.CreateEx(0, nullptr, L"opener", WS_POPUP, CRect(0, 0, 10, 10), nullptr, 0);
        UINT_PTR timer = ::SetTimer(nullptr, 0, 50, &CloseBoxes);
        opener.SendMessage(WM_APP);
        ::KillTimer(nullptr, timer);
        EXPECT_EQ(g_boxes, 1);
        EXPECT_EQ(opener.result, -1); // the error left Open
        EXPECT_FALSE(host.HasEngine());
        EXPECT_EQ(::GetWindow(host, GW_CHILD), nullptr);

        // The player goes on: a simulated Flash control opens.
        SimControls sim(true, false, false);
        ASSERT_TRUE(sim.Loaded());
        host.m_strMovieFolder = TempPath(L"");
        host.m_strMovieFolder.pop_back();
        EXPECT_EQ(host.Open(L"c:\\v\\a.flv"), 0);
        EXPECT_TRUE(host.HasEngine());
        host.DestroyWindow();
        opener.DestroyWindow();
        parent.DestroyWindow();
        EXPECT_EQ(sim.Live(), 0);
    }
    AfxOleTerm();
}
