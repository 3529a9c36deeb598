// The player host and its three engines: the source rules, the replies and
// addresses of the Flash engine, the shell movie, and every engine's calls
// against the simulated controls (real COM objects, real windows).
#include "FlashPlayer.h"
#include "PlaybackSupport.h"
#include "PlayerWnd.h"
#include "Protocol.h"
#include "RealPlayer.h"
#include "TestSupport.h"
#include "WMPPlayer.h"

#include <gtest/gtest.h>
#include <olectl.h>

// The typed interfaces' GUIDs are in no import library.
#include <initguid.h>

#include <wmp.h>
#include <wmpids.h>

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
        host.ShellMovies().m_strFolder = movieFolder;
        log.Take();
    }
    void TearDown() override
    {
        host.DestroyWindow();
        parent.DestroyWindow();
        for (const wchar_t* built : {L"\\QZFPlayer.swf", L"\\QZFPlayerLocal.swf"}) {
            ::SetFileAttributesW((movieFolder + built).c_str(), FILE_ATTRIBUTE_NORMAL);
            ::DeleteFileW((movieFolder + built).c_str());
        }
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
    // Windows Media gets a file URL as the path it names (Wine's control plays
    // plain paths only); what is not a file URL stays as given.
    struct Url {
        const wchar_t* source;
        const wchar_t* path;
    } urls[] = {
        {L"file:///d:/clips/a%20b.wmv", L"d:\\clips\\a b.wmv"},
        {L"FILE://server/share/a.wmv", L"\\\\server\\share\\a.wmv"},
        {L"file://localhost/c:/x%2.wmv", L"c:\\x%2.wmv"},
        {L"file:///c:/%E8%A7%86%E9%A2%91/a.wmv", L"c:\\视频\\a.wmv"}, // escapes are UTF-8
        {L"file:///c:/%E8.wmv", L"c:\\%E8.wmv"},                       // or left alone
        {L"http://h/a%20b.wmv", L"http://h/a%20b.wmv"},
        {L"c:\\v\\file.wmv", L"c:\\v\\file.wmv"},
    };
    for (const Url& u : urls)
        EXPECT_EQ(CWMVPlayer::PathOfFileUrl(u.source), u.path) << std::string(u.source, u.source + wcslen(u.source));
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
    // The source goes as given; only the "HTTP://" test reads it in capitals.
    EXPECT_EQ(CFlashPlayer::MovieAddress(L"C:\\P\\QZFPlayer.swf", L"d:\\clips\\a.flv"),
              L"C:\\P\\QZFPlayer.swf?file=d:\\clips\\a.flv" + local);
    EXPECT_EQ(CFlashPlayer::MovieAddress(L"m", L"x hTTp://h/A.flv"), L"m?file=x%20hTTp://h/A.flv" + http);
    EXPECT_EQ(CFlashPlayer::MovieAddress(L"m", L"https://h/a.flv"), L"m?file=https://h/a.flv" + local);
    // What would end or change the value is escaped; the movie decodes it.
    EXPECT_EQ(CFlashPlayer::MovieAddress(L"m", L"http://h/a.flv?id=1&Key=aB#t+%"),
              L"m?file=http://h/a.flv?id=1%26Key=aB%23t%2B%25" + http);
}

TEST_F(Playback, FlashCallsInOrderAndDrivesTheShellMovie)
{
    // A URL from the client: the shell movie's sandbox lets it through.
    const std::wstring source = L"http://h/Clips/a-90s.flv?Token=aB";
    ASSERT_EQ(host.Open(source), 0);
    const std::wstring movie = movieFolder + L"\\QZFPlayer.swf";
    EXPECT_EQ(log.Take(), (Lines{L"flash create", L"flash AllowFullScreen=true", L"flash Scale=noScale",
                                 L"flash Loop=false", L"flash Movie=" + CFlashPlayer::MovieAddress(movie, source)}));
    EXPECT_EQ(host.GetEngineKind(), EngineFlash);
    HWND control = ::GetDlgItem(host, IDC_FLASH_PLAYER);
    ASSERT_NE(control, nullptr);
    ASSERT_TRUE(WaitState(Playing));
    // No request went before the movie showed its second frame (FrameNum 1).
    bool frameOne = false;
    for (const std::wstring& l : log.TakeAll()) {
        if (l.compare(0, 17, L"flash FrameNum ->") == 0)
            frameOne = frameOne || _wtoi(l.c_str() + 18) >= 1;
        if (l.compare(0, 19, L"flash CallFunction ") == 0) {
            EXPECT_TRUE(frameOne) << "a request before frame 1: " << std::string(l.begin(), l.end());
        }
    }
    EXPECT_TRUE(frameOne);

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
    COPYDATASTRUCT repaint = {kCopyRepaint, 0, nullptr}, other = {kCopyPlaceVideo, 0, nullptr};
    ::ValidateRect(host, nullptr);
    EXPECT_EQ(host.SendMessage(WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&repaint)), TRUE);
    EXPECT_TRUE(::GetUpdateRect(host, nullptr, FALSE));
    EXPECT_EQ(host.SendMessage(WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&other)), FALSE);
    EXPECT_EQ(Refused(log.TakeAll()), Lines{});
}

TEST_F(Playback, EachShellMovieBuildPlaysItsOwnSourcesAndRefusesTheOthers)
{
    struct Case {
        const wchar_t* build; // the movie loaded in place of the chosen one
        const wchar_t* source;
        bool plays;
    } cases[] = {
        // The build the source picks: files and UNC paths play to their end.
        {nullptr, L"d:\\clips\\a-2s.flv", true},
        {nullptr, L"\\\\server\\clips\\b-2s.MP4", true},
        {nullptr, L"http://h/c-2s.flv", true},
        {nullptr, L"FILE:///d:/clips/a-2s.flv", true},
        // Each sandbox refuses what the other build is for.
        {L"QZFPlayerLocal.swf", L"http://h/c-2s.flv", false},
        {L"QZFPlayer.swf", L"d:\\clips\\a-2s.flv", false},
    };
    for (const Case& c : cases) {
        const std::string name(c.source, c.source + wcslen(c.source));
        host.ShellMovies().m_strInstead = c.build ? ArtMovie(c.build) : L"";
        ASSERT_EQ(host.Open(c.source), 0) << name;
        const std::wstring chosen = c.build ? host.ShellMovies().m_strInstead
                                            : host.ShellMovies().Path(CShellMovies::For(c.source));
        Lines lines = log.Take();
        EXPECT_NE(std::find(lines.begin(), lines.end(), L"flash Movie=" + CFlashPlayer::MovieAddress(chosen, c.source)),
                  lines.end())
            << name;
        double duration = 0;
        if (c.plays) {
            ASSERT_TRUE(testsupport::PumpUntil([&] { host.GetDuration(&duration); return duration > 0; }, 8000)) << name;
            EXPECT_EQ(duration, 2) << name;
        }
        ASSERT_TRUE(WaitState(Stopped)) << name;
        const Lines after = log.Take();
        lines.insert(lines.end(), after.begin(), after.end());
        EXPECT_EQ(std::find(lines.begin(), lines.end(), L"flash sandbox refuses " + std::wstring(c.source)) != lines.end(),
                  !c.plays)
            << name;
    }
    host.ShellMovies().m_strInstead.clear();
}

namespace {

// The simulated media control withholding what the switch names while the
// object lives.
struct Withhold {
    explicit Withhold(const wchar_t* names) { ::SetEnvironmentVariableW(L"QZ_SIM_MEDIA_WITHHOLD", names); }
    ~Withhold() { ::SetEnvironmentVariableW(L"QZ_SIM_MEDIA_WITHHOLD", nullptr); }
};

} // namespace

TEST_F(Playback, MediaCallsInOrderAndItsRules)
{
    // The same engine through a control with every member and IDispatch (as
    // on Windows), one with the typed interfaces only, and one without all
    // that Wine's lacks: what it cannot do is done another way.
    struct Case {
        const wchar_t* withhold;
        const wchar_t* source;
        Lines setUp;    // after create, controls, settings, advise, autoStart=false
        Lines commands; // full screen, seek 1.25, volume 70, mute, unmute
        BOOL pause, seek, hostFullScreen;
    } cases[] = {
        {L"", L"http://h/a-2s.wmv?id=1&Key=aB",
         {L"media controls.pause", L"media stretchToFit=true", L"media uiMode=none",
          L"media URL=http://h/a-2s.wmv?id=1&Key=aB"},
         {L"media fullScreen=true", L"media controls.currentPosition=1.25", L"media settings.volume=70",
          L"media settings.mute=true", L"media settings.mute=false", L"media settings.volume=70"},
         TRUE, TRUE, FALSE},
        // Without IDispatch the control counts as Wine's: no seek of video.
        {L"IDispatch", L"c:\\v\\a-2s.wmv",
         {L"media controls.pause", L"media stretchToFit=true", L"media uiMode=none", L"media URL=c:\\v\\a-2s.wmv"},
         {L"media fullScreen=true", L"media settings.volume=70", L"media settings.mute=true",
          L"media settings.mute=false", L"media settings.volume=70"},
         TRUE, FALSE, FALSE},
        // Wine's: a file URL as its path, mute through the volume, full
        // screen by the host, no pause; sound alone may seek.
        {L"wine", L"file:///c:/v/a%20b-2s.mp3",
         {L"media pause not implemented", L"media put_stretchToFit not implemented",
          L"media put_uiMode not implemented", L"media URL=c:\\v\\a b-2s.mp3"},
         {L"media put_fullScreen not implemented", L"media controls.currentPosition=1.25", L"media settings.volume=70",
          L"media put_mute not implemented", L"media settings.volume=0", L"media settings.volume=70",
          L"media settings.volume=70"},
         FALSE, TRUE, TRUE},
    };
    for (const Case& c : cases) {
        const std::string name(c.withhold, c.withhold + wcslen(c.withhold));
        Withhold withhold(c.withhold);
        ASSERT_EQ(host.Open(c.source), 0) << name;
        Lines expected = {L"media create", L"media controls", L"media settings", L"media advise",
                          L"media settings.autoStart=false"};
        expected.insert(expected.end(), c.setUp.begin(), c.setUp.end());
        expected.push_back(L"media controls.play");
        EXPECT_EQ(log.Take(), expected) << name;
        EXPECT_EQ(host.GetState(), Playing) << name; // transitioning counts as playing
        EXPECT_EQ(host.CanPause(), c.pause) << name;
        EXPECT_EQ(host.CanSeek(), c.seek) << name;
        host.FullScreen(FALSE);
        EXPECT_EQ(log.Take(), Lines{}) << name;
        host.FullScreen(TRUE);
        host.Seek(1.25);
        host.SetVolume(70);
        host.SetMute(TRUE);
        host.SetMute(FALSE);
        host.SetVolume(70);
        EXPECT_EQ(log.Take(), c.commands) << name;
        testsupport::PumpPending();
        EXPECT_EQ(host.IsHostFullScreen(), c.hostFullScreen) << name;
        EXPECT_EQ((::GetWindowLongPtrW(host, GWL_STYLE) & WS_CHILD) == 0, c.hostFullScreen) << name;
        host.HostFullScreen(FALSE);
        EXPECT_EQ(::GetParent(host), parent.m_hWnd) << name;
        host.Pause();
        EXPECT_EQ(log.Take(), c.pause ? Lines{L"media controls.pause"} : Lines{}) << name;
        host.Stop();
        host.FullScreen(TRUE); // not while stopped
        EXPECT_EQ(log.Take(), Lines{L"media controls.stop"}) << name;
        // The end of an item reads as Stopped, and the length was known.
        host.Play();
        double duration = 0;
        EXPECT_TRUE(testsupport::PumpUntil([&] { host.GetDuration(&duration); return duration > 0; }, 8000)) << name;
        EXPECT_DOUBLE_EQ(duration, 2.0) << name;
        EXPECT_TRUE(WaitState(Stopped)) << name;
        host.DestroyEngine();
        const Lines all = log.TakeAll();
        EXPECT_EQ(Refused(all), Lines{}) << name;
        EXPECT_EQ(Faults(all), Lines{}) << name;
    }
}

TEST_F(Playback, WindowsMediaReleasesItsControlsAndSettingsBeforeTheControlGoes)
{
    // Stopped, the events cut, then the parts and the control; where Wine's
    // control refuses a source at play, it is stopped at once and the open
    // fails (the list passes it over), and no play follows a failed one.
    struct Case {
        const wchar_t* withhold;
        const wchar_t* source;
        int opened;
    } cases[] = {
        {L"", L"c:\\v\\a.wmv", 0},
        {L"wine", L"c:\\v\\a.wmv", 0},
        {L"wine", L"http://h/a.wmv", 1},
        {L"wine", L"c:\\v\\missing.wmv", 1},
    };
    const Lines release = {L"media controls.stop", L"media unadvise", L"media controls release",
                           L"media settings release", L"media deactivate", L"media release"};
    for (const Case& c : cases) {
        const std::string name(c.source, c.source + wcslen(c.source));
        Withhold withhold(c.withhold);
        EXPECT_EQ(host.Open(c.source), c.opened) << name;
        Lines lines = log.Take();
        if (c.opened == 0) {
            host.DestroyEngine();
            lines = log.Take();
        } else {
            ASSERT_GE(lines.size(), release.size() + 1) << name;
            EXPECT_EQ(lines[lines.size() - release.size() - 1], L"media controls.play") << name;
            lines.erase(lines.begin(), lines.end() - static_cast<std::ptrdiff_t>(release.size()));
            EXPECT_FALSE(host.HasEngine()) << name;
        }
        EXPECT_EQ(lines, release) << name;
        EXPECT_EQ(Faults(log.TakeAll()), Lines{}) << name;
        EXPECT_EQ(sim->Live(), 0) << name;
    }
}

TEST_F(Playback, WinesSeparateVideoWindowBecomesAChildFillingTheHostInEveryLayout)
{
    // Wine's control draws video into a top-level window of its own; a
    // control that draws in its own window (Windows) leaves nothing to find.
    struct Case {
        const wchar_t* withhold;
        const wchar_t* source;
        bool video;
    } cases[] = {{L"wine", L"c:\\v\\a-5s.wmv", true}, {L"wine", L"c:\\v\\a-5s.mp3", false}, {L"", L"c:\\v\\a-5s.wmv", false}};
    auto clientOf = [](HWND w) {
        RECT r;
        ::GetClientRect(w, &r);
        return CRect(r);
    };
    for (const Case& c : cases) {
        const std::string name(c.source, c.source + wcslen(c.source));
        Withhold withhold(c.withhold);
        ASSERT_EQ(host.Open(c.source), 0) << name;
        ASSERT_TRUE(WaitState(Playing)) << name;
        testsupport::PumpFor(testsupport::Scaled(600)); // the opening, and a few turns of the search
        ASSERT_EQ(host.GetVideoWindow() != nullptr, c.video) << name;
        if (c.video) {
            HWND video = host.GetVideoWindow();
            EXPECT_EQ(::GetParent(video), host.m_hWnd);
            EXPECT_NE(::GetWindowLongPtrW(video, GWL_STYLE) & WS_CHILD, 0);
            EXPECT_EQ(clientOf(video), clientOf(host));
            host.MoveWindow(CRect(0, 0, 300, 200), TRUE);
            EXPECT_EQ(clientOf(video), CRect(0, 0, 300, 200));
            host.HostFullScreen(TRUE);
            EXPECT_EQ(clientOf(video), CRect(0, 0, 1280, 1024));
            // The pane laid out anew meanwhile: the screen stays, and the
            // host goes back to the new place.
            host.PlaceIn(parent, CRect(10, 20, 330, 260));
            EXPECT_EQ(clientOf(video), CRect(0, 0, 1280, 1024));
            host.PlaceIn(nullptr, CRect(0, 0, 50, 50)); // not its pane
            host.HostFullScreen(FALSE);
            EXPECT_EQ(clientOf(video), CRect(0, 0, 320, 240));
            CRect inParent = host.GetWindowRect();
            ::MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&inParent), 2);
            EXPECT_EQ(inParent, CRect(10, 20, 330, 260));
            host.MoveWindow(CRect(0, 0, 480, 360), TRUE);
        }
        host.DestroyEngine();
        EXPECT_EQ(host.GetVideoWindow(), nullptr);
        EXPECT_EQ(::FindWindowW(L"wine_quartz_window", nullptr), nullptr) << name; // gone with its control
        EXPECT_EQ(Faults(log.TakeAll()), Lines{}) << name;
    }
}

TEST_F(Playback, RealCallsInOrderInMilliseconds)
{
    ASSERT_EQ(host.Open(L"c:\\v\\b-90s.rmvb"), 0);
    EXPECT_EQ(log.Take(), (Lines{L"real create", L"real SetControls ImageWindow", L"real SetSource c:\\v\\b-90s.rmvb",
                                 L"real 275 false", L"real 235 false", L"real 343 false", L"real 105=false",
                                 L"real DoPlay"}));
    EXPECT_EQ(host.GetState(), Playing); // contacting counts as playing
    // A position can be set once the clip is open (its length known); paused,
    // it stays where it was set.
    ASSERT_TRUE(testsupport::PumpUntil([&] { double d = 0; host.GetDuration(&d); return d > 0; }, 8000));
    host.Pause();
    EXPECT_EQ(host.GetState(), Paused);
    host.Seek(61.999);
    double pos = -1;
    host.GetPosition(&pos);
    EXPECT_DOUBLE_EQ(pos, 61.0); // whole seconds
    host.Seek(12.3456);
    host.SetVolume(100);
    host.SetMute(TRUE);
    host.FullScreen(FALSE);
    host.FullScreen(TRUE);
    EXPECT_EQ(log.Take(), (Lines{L"real DoPause", L"real SetPosition 61999", L"real SetPosition 12345",
                                 L"real SetVolume 100", L"real SetMute true", L"real SetFullScreen"}));
    EXPECT_EQ(Refused(log.TakeAll()), Lines{});
}

TEST_F(Playback, EachControlRefusesAWrongKindOrArgumentTypeAsTheRealOneDoes)
{
    // Straight at the controls, as the interface declarations have them.
    auto control = [](int i) {
        IDispatch* d = nullptr;
        ::CoCreateInstance(kClsids[i], nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, reinterpret_cast<void**>(&d));
        return d;
    };
    auto call = [](IDispatch* d, DISPID id, WORD flags, std::vector<VARIANT> args) {
        DISPID put = DISPID_PROPERTYPUT;
        DISPPARAMS dp = {args.empty() ? nullptr : args.data(), flags == DISPATCH_PROPERTYPUT ? &put : nullptr,
                         static_cast<UINT>(args.size()), flags == DISPATCH_PROPERTYPUT ? 1u : 0u};
        VARIANT result;
        ::VariantInit(&result);
        UINT err = 0;
        const HRESULT hr = d->Invoke(id, IID_NULL, 0, flags, &dp, &result, nullptr, &err);
        ::VariantClear(&result);
        for (VARIANT& v : args)
            ::VariantClear(&v);
        return hr;
    };
    auto i4 = [](long v) { VARIANT x; ::VariantInit(&x); x.vt = VT_I4; x.lVal = v; return x; };
    auto i2 = [](short v) { VARIANT x; ::VariantInit(&x); x.vt = VT_I2; x.iVal = v; return x; };
    auto text = [](const wchar_t* v) { VARIANT x; ::VariantInit(&x); x.vt = VT_BSTR; x.bstrVal = ::SysAllocString(v); return x; };
    auto flag = [](bool v) { VARIANT x; ::VariantInit(&x); x.vt = VT_BOOL; x.boolVal = v ? VARIANT_TRUE : VARIANT_FALSE; return x; };

    IDispatch* flash = control(0);
    ASSERT_NE(flash, nullptr);
    EXPECT_EQ(call(flash, 107, DISPATCH_PROPERTYGET, {}), S_OK);                   // FrameNum
    EXPECT_EQ(call(flash, 107, DISPATCH_METHOD, {}), DISP_E_MEMBERNOTFOUND);       // not a method
    EXPECT_EQ(call(flash, 198, DISPATCH_PROPERTYGET, {}), DISP_E_MEMBERNOTFOUND);  // CallFunction is one
    EXPECT_EQ(call(flash, 106, DISPATCH_PROPERTYPUT, {i4(0)}), DISP_E_TYPEMISMATCH); // Loop takes a boolean
    EXPECT_EQ(call(flash, 106, DISPATCH_PROPERTYPUT, {flag(false)}), S_OK);
    EXPECT_EQ(call(flash, 102, DISPATCH_PROPERTYPUT, {i4(1)}), DISP_E_TYPEMISMATCH); // Movie takes a string
    EXPECT_EQ(call(flash, 198, DISPATCH_METHOD, {}), DISP_E_BADPARAMCOUNT);
    // Before any movie has registered its callbacks, CallFunction fails.
    DISPPARAMS dp = {};
    VARIANT request = text(L"<invoke name=\"getPlayState\"></invoke>");
    dp.rgvarg = &request;
    dp.cArgs = 1;
    EXCEPINFO info = {};
    EXPECT_EQ(flash->Invoke(198, IID_NULL, 0, DISPATCH_METHOD, &dp, nullptr, &info, nullptr), DISP_E_EXCEPTION);
    EXPECT_EQ(info.scode, E_FAIL);
    ::SysFreeString(info.bstrSource);
    ::SysFreeString(info.bstrDescription);
    ::VariantClear(&request);
    EXPECT_EQ(call(flash, 9999, DISPATCH_METHOD, {}), DISP_E_MEMBERNOTFOUND);
    flash->Release();

    IDispatch* media = control(1);
    ASSERT_NE(media, nullptr);
    EXPECT_EQ(call(media, 10, DISPATCH_PROPERTYGET, {}), S_OK);                 // playState
    EXPECT_EQ(call(media, 10, DISPATCH_PROPERTYPUT, {i4(3)}), DISP_E_MEMBERNOTFOUND); // read-only
    EXPECT_EQ(call(media, 4, DISPATCH_METHOD, {}), DISP_E_MEMBERNOTFOUND);      // controls is a property
    EXPECT_EQ(call(media, 24, DISPATCH_PROPERTYPUT, {text(L"true")}), DISP_E_TYPEMISMATCH); // stretchToFit
    media->Release();

    IDispatch* real = control(2);
    ASSERT_NE(real, nullptr);
    EXPECT_EQ(call(real, 227, DISPATCH_METHOD, {i2(50)}), S_OK);                 // SetVolume(short)
    EXPECT_EQ(call(real, 227, DISPATCH_METHOD, {i4(50)}), DISP_E_TYPEMISMATCH);  // not a long
    EXPECT_EQ(call(real, 260, DISPATCH_PROPERTYGET, {}), DISP_E_MEMBERNOTFOUND); // GetPlayState is a method
    EXPECT_EQ(call(real, 105, DISPATCH_METHOD, {flag(false)}), DISP_E_MEMBERNOTFOUND); // NoLabels is a property
    EXPECT_EQ(call(real, 269, DISPATCH_METHOD, {}), DISP_E_BADPARAMCOUNT);
    real->Release();
    EXPECT_EQ(sim->Live(), 0);
}

namespace {

// An _WMPOCXEvents sink that records each event with its argument's type.
class RecordingSink : public IDispatch {
public:
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override
    {
        *out = (iid == IID_IUnknown || iid == IID_IDispatch || iid == IID__WMPOCXEvents) ? this : nullptr;
        if (!*out)
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
    STDMETHODIMP_(ULONG) Release() override { return --refs; }
    STDMETHODIMP GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* dp, VARIANT*, EXCEPINFO*, UINT*) override
    {
        const VARIANT& v = dp->rgvarg[0];
        events.push_back(std::to_wstring(id) + L" " + std::to_wstring(v.lVal) + (v.vt == VT_UI4 ? L"u" : L""));
        return S_OK;
    }
    ULONG refs = 1;
    Lines events;
};

} // namespace

TEST_F(Playback, TheMediaControlsTypedFaceRaisesItsEventsAndWithholdsWhatTheSwitchNames)
{
    // Events carry the play state (5101) and open state (5001); "u" marks
    // Wine's VT_UI4. The log shows the faults the real control would have
    // crashed or hung on.
    struct Case {
        const wchar_t* withhold;
        bool dispatch;
        HRESULT pause, mute, playState;
        HRESULT urlPlay; // play of an http:// source
        Lines events;
    } cases[] = {
        {L"", true, S_OK, S_OK, S_OK, S_OK, {L"5101 9", L"5101 10", L"5101 9", L"5101 1"}},
        {L"pause,put_mute", true, E_NOTIMPL, E_NOTIMPL, S_OK, S_OK, {L"5101 9", L"5101 10", L"5101 9", L"5101 1"}},
        {L"wine", false, E_NOTIMPL, E_NOTIMPL, E_NOTIMPL, HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND),
         {L"5101 9u", L"5101 10u", L"5101 9u", L"5101 1u"}},
    };
    for (const Case& c : cases) {
        const std::string name(c.withhold, c.withhold + wcslen(c.withhold));
        ::SetEnvironmentVariableW(L"QZ_SIM_MEDIA_WITHHOLD", c.withhold);
        IUnknown* control = nullptr;
        ASSERT_EQ(::CoCreateInstance(kClsids[1], nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                     reinterpret_cast<void**>(&control)), S_OK);
        IDispatch* d = nullptr;
        EXPECT_EQ(control->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&d)) == S_OK, c.dispatch) << name;
        if (d)
            d->Release();
        IWMPPlayer4* player = nullptr;
        IConnectionPointContainer* points = nullptr;
        IConnectionPoint* point = nullptr;
        ASSERT_EQ(control->QueryInterface(IID_IWMPPlayer4, reinterpret_cast<void**>(&player)), S_OK);
        ASSERT_EQ(control->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&points)), S_OK);
        ASSERT_EQ(points->FindConnectionPoint(IID__WMPOCXEvents, &point), S_OK);
        RecordingSink sink;
        DWORD cookie = 0;
        ASSERT_EQ(point->Advise(&sink, &cookie), S_OK);
        IWMPControls* controls = nullptr;
        IWMPSettings* settings = nullptr;
        ASSERT_EQ(player->get_controls(&controls), S_OK);
        ASSERT_EQ(player->get_settings(&settings), S_OK);
        EXPECT_EQ(settings->put_autoStart(VARIANT_FALSE), S_OK);
        BSTR file = ::SysAllocString(L"c:\\v\\a-2s.wmv"), url = ::SysAllocString(L"http://h/a-2s.wmv");
        EXPECT_EQ(player->put_URL(file), S_OK);
        EXPECT_EQ(controls->pause(), c.pause) << name;
        EXPECT_EQ(settings->put_mute(VARIANT_TRUE), c.mute) << name;
        WMPPlayState state = wmppsUndefined;
        EXPECT_EQ(player->get_playState(&state), c.playState) << name;
        EXPECT_EQ(controls->play(), S_OK);
        EXPECT_EQ(controls->stop(), S_OK);
        EXPECT_EQ(sink.events, c.events) << name;
        // A URL: refused at play by Wine's; a second play without a stop
        // would crash it.
        EXPECT_EQ(player->put_URL(url), S_OK);
        EXPECT_EQ(controls->play(), c.urlPlay) << name;
        log.Take();
        controls->play();
        const Lines faults = log.Take();
        EXPECT_EQ(std::count(faults.begin(), faults.end(),
                             L"media FAULT play after a failed play (the real control crashes)"),
                  FAILED(c.urlPlay) ? 1 : 0)
            << name;
        controls->stop();
        ::SysFreeString(file);
        ::SysFreeString(url);
        EXPECT_EQ(point->Unadvise(cookie), S_OK);
        EXPECT_EQ(sink.refs, 1u);
        for (IUnknown* u : std::initializer_list<IUnknown*>{controls, settings, point, points, player, control})
            u->Release();
    }
    ::SetEnvironmentVariableW(L"QZ_SIM_MEDIA_WITHHOLD", nullptr);
    EXPECT_EQ(sim->Live(), 0);
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
    EXPECT_EQ(log.Take(), (Lines{L"flash deactivate", L"flash release"}));
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
    host.ShellMovies().m_strFolder = movieFolder + L"\\missing\\folder";
    EXPECT_EQ(host.Open(L"c:\\v\\a.flv"), 1);
    EXPECT_EQ(log.Take(), (Lines{L"flash create", L"flash AllowFullScreen=true", L"flash Scale=noScale",
                                 L"flash deactivate", L"flash release"}));
    EXPECT_EQ(::GetWindow(host, GW_CHILD), nullptr);
    EXPECT_EQ(sim->Live(), 0);
}

TEST_F(Playback, EachShellMovieIsReusedAtTheRightSizeAndOnlyAWrittenOneIsDeleted)
{
    // Each build has its own file beside the program, under the same rules.
    const struct {
        const wchar_t* file;
        CShellMovies::Build which;
        const wchar_t* source;
    } builds[] = {{L"\\QZFPlayerLocal.swf", CShellMovies::LocalMovie, L"c:\\v\\a.flv"},
                  {L"\\QZFPlayer.swf", CShellMovies::NetworkMovie, L"http://h/a.mp4"}};
    for (const auto& b : builds) {
        const std::wstring movie = movieFolder + b.file;
        CPlayerWnd first;
        first.ShellMovies().m_strFolder = movieFolder;
        ASSERT_TRUE(first.Create(nullptr, L"MinPlayer", WS_CHILD, CRect(0, 0, 10, 10), &parent, IDC_PLAYER_WND));
        ASSERT_EQ(first.Open(b.source), 0);
        const DWORD attrs = ::GetFileAttributesW(movie.c_str());
        ASSERT_NE(attrs, INVALID_FILE_ATTRIBUTES);
        EXPECT_TRUE(attrs & FILE_ATTRIBUTE_HIDDEN);
        EXPECT_EQ(first.ShellMovies().Written(b.which), movie);
        EXPECT_TRUE(first.ShellMovies().Written(b.which == CShellMovies::LocalMovie ? CShellMovies::NetworkMovie
                                                                              : CShellMovies::LocalMovie)
                        .empty());
        const std::wstring kept = movie + L".kept";
        ASSERT_TRUE(::CopyFileW(movie.c_str(), kept.c_str(), FALSE));
        first.DestroyWindow();
        EXPECT_EQ(::GetFileAttributesW(movie.c_str()), INVALID_FILE_ATTRIBUTES);

        // A file of the right size (one an earlier run left) is kept as it
        // is, and survives the host.
        ASSERT_TRUE(::MoveFileW(kept.c_str(), movie.c_str()));
        ::SetFileAttributesW(movie.c_str(), FILE_ATTRIBUTE_NORMAL);
        CPlayerWnd reuse;
        reuse.ShellMovies().m_strFolder = movieFolder;
        ASSERT_TRUE(reuse.Create(nullptr, L"MinPlayer", WS_CHILD, CRect(0, 0, 10, 10), &parent, IDC_PLAYER_WND));
        ASSERT_EQ(reuse.Open(b.source), 0);
        EXPECT_TRUE(reuse.ShellMovies().Written(b.which).empty());
        EXPECT_FALSE(::GetFileAttributesW(movie.c_str()) & FILE_ATTRIBUTE_HIDDEN); // not rewritten
        reuse.DestroyWindow();
        EXPECT_NE(::GetFileAttributesW(movie.c_str()), INVALID_FILE_ATTRIBUTES);

        // One of another size is overwritten, and deleted at the end.
        HANDLE f = ::CreateFileW(movie.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD n = 0;
        ::WriteFile(f, "CWS", 3, &n, nullptr);
        ::CloseHandle(f);
        CPlayerWnd rewrite;
        rewrite.ShellMovies().m_strFolder = movieFolder;
        ASSERT_TRUE(rewrite.Create(nullptr, L"MinPlayer", WS_CHILD, CRect(0, 0, 10, 10), &parent, IDC_PLAYER_WND));
        ASSERT_EQ(rewrite.Open(b.source), 0);
        EXPECT_EQ(rewrite.ShellMovies().Written(b.which), movie);
        rewrite.DestroyWindow();
        EXPECT_EQ(::GetFileAttributesW(movie.c_str()), INVALID_FILE_ATTRIBUTES);
    }
}

TEST_F(Playback, AShellMovieWithoutTheRequestsFailsQuietlyInThePollAndLoudlyOnCommands)
{
    // A movie of two frames and no code in the shell movie's place: the gate
    // opens at its second frame, and then every request fails, as the real
    // control's CallFunction does for a function no movie registered.
    const std::wstring game = movieFolder + L"\\Game.swf";
    ASSERT_TRUE(testsupport::WriteBytes(game, MovieWithoutCode(2)));
    host.ShellMovies().m_strInstead = game;
    ASSERT_EQ(host.Open(L"http://h/a.flv"), 0);
    host.ShellMovies().m_strInstead.clear();
    EXPECT_EQ(log.Take(), (Lines{L"flash create", L"flash AllowFullScreen=true", L"flash Scale=noScale",
                                 L"flash Loop=false",
                                 L"flash Movie=" + CFlashPlayer::MovieAddress(game, L"http://h/a.flv")}));
    ASSERT_TRUE(testsupport::PumpUntil(
        [&] {
            host.GetState();
            for (const std::wstring& l : log.Take())
                if (l.compare(0, 19, L"flash CallFunction ") == 0)
                    return true;
            return false;
        },
        5000));
    double pos = 5, duration = 5;
    EXPECT_EQ(host.GetState(), Undefined);
    EXPECT_FALSE(host.LoadedWithoutProgress()); // it is asked, not just loaded
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
        EXPECT_EQ(e->m_scError, E_FAIL);
        e->Delete();
    }
    host.DestroyEngine();
    ::DeleteFileW(game.c_str());
}

TEST_F(Playback, AMovieLoadedDirectlyIsNeverAskedAndPlaysOnceItsControlLoadedIt)
{
    // A movie on a host that does not answer, or not there, never loads. A
    // movie file that is read plays at once; one on the network plays from
    // its first frame while the rest still comes, unless its bytes stop
    // before that frame. Pause and Stop show whatever it has come to.
    const std::wstring game = movieFolder + L"\\Game.swf";
    ASSERT_TRUE(testsupport::WriteBytes(game, MovieWithoutCode(2)));
    const struct {
        std::wstring movie;
        PlayState state;
        long ready; // as far as it comes
    } cases[] = {{L"http://h/game.swf", Undefined, 0},
                 {L"c:\\nowhere\\game.swf", Undefined, 0},
                 {game, Playing, 4},
                 {ServedMovie("frames.swf", "slow", 2, 100), Playing, 3}, // a frame in a tenth of a second
                 {ServedMovie("header.swf", "stall", 13, 20000), Undefined, 2}};
    auto ready = [&] {
        long r = -1;
        host.GetEngine()->GetProperty(DISPID_READYSTATE, VT_I4, &r);
        return r;
    };
    for (const auto& c : cases) {
        const std::string name(c.movie.begin(), c.movie.end());
        ASSERT_EQ(host.Open(c.movie), 0);
        EXPECT_EQ(log.Take(), (Lines{L"flash create", L"flash AllowFullScreen=true", L"flash Scale=noScale",
                                     L"flash AllowNetworking=all", L"flash Movie=" + c.movie}));
        ASSERT_TRUE(testsupport::PumpUntil([&] { return ready() == c.ready; }, 3000)) << name;
        testsupport::PumpUntil([&] { return host.GetState() == Playing; }, c.state == Playing ? 3000 : 300);
        EXPECT_EQ(host.GetState(), c.state) << name;
        EXPECT_EQ(host.LoadedWithoutProgress(), c.state == Playing) << name;
        EXPECT_EQ(ready(), c.ready) << name;
        double pos = 5, duration = 5;
        host.GetPosition(&pos);
        host.GetDuration(&duration);
        EXPECT_EQ(pos + duration, 0) << name;
        host.SetVolume(50);
        host.Pause();
        EXPECT_EQ(host.GetState(), Paused) << name;
        host.Play();
        host.Stop();
        EXPECT_EQ(host.GetState(), Stopped) << name;
        // The timeline only, through the control's own methods: no request.
        EXPECT_EQ(log.Take(), (Lines{L"flash StopPlay", L"flash Play", L"flash Rewind", L"flash StopPlay"})) << name;
        host.DestroyEngine();
        log.Take();
    }
    host.DestroyEngine();
    ::DeleteFileW(game.c_str());
    testsupport::Unpublish("/movies");
}

TEST_F(Playback, WithoutFlashMp4AndFlvGoToWindowsMediaAsGivenAndSwfHasNoEngine)
{
    // The Flash class is not registered (one registration per class at a time).
    sim.reset();
    sim = std::make_unique<SimControls>(false, true, true);
    ASSERT_TRUE(sim->Loaded());
    log.Take();
    const std::wstring mp4 = L"http://h/News/clip-2s.MP4?Key=aB";
    ASSERT_EQ(host.Open(mp4), 0);
    EXPECT_EQ(host.GetEngineKind(), EngineMedia);
    EXPECT_EQ(log.Take(), (Lines{L"media create", L"media controls", L"media settings", L"media advise",
                                 L"media settings.autoStart=false", L"media controls.pause", L"media stretchToFit=true",
                                 L"media uiMode=none", L"media URL=" + mp4, L"media controls.play"}));
    EXPECT_TRUE(host.IsCurrent(L"HTTP://H/NEWS/CLIP-2S.MP4?KEY=AB")); // its case rule stays
    double duration = 0;
    ASSERT_TRUE(testsupport::PumpUntil([&] { host.GetDuration(&duration); return duration > 0; }, 8000));
    EXPECT_DOUBLE_EQ(duration, 2.0);
    ASSERT_TRUE(WaitState(Stopped));

    // An FLV opens too; Windows Media cannot play it without a splitter and
    // stays ready (10), which reads as playing (the control bar moves on).
    ASSERT_EQ(host.Open(L"c:\\v\\old-5s.flv"), 0);
    EXPECT_EQ(host.GetEngineKind(), EngineMedia);
    testsupport::PumpFor(testsupport::Scaled(700)); // and stays so
    EXPECT_EQ(host.GetState(), Playing);
    host.GetDuration(&duration);
    EXPECT_EQ(duration, 0);

    // A Flash movie has no other engine.
    EXPECT_EQ(host.Open(L"c:\\v\\game.swf"), 1);
    EXPECT_FALSE(host.HasEngine());
    EXPECT_EQ(Refused(log.TakeAll()), Lines{});

    // Where Flash exists, nothing changes.
    sim.reset();
    sim = std::make_unique<SimControls>();
    ASSERT_EQ(host.Open(mp4), 0);
    EXPECT_EQ(host.GetEngineKind(), EngineFlash);
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

// Wine's own control, through its typed face: a source it cannot open is
// refused at play, stopped and released, without a word to the user (the
// list passes it over).
TEST(PlaybackWine, TheRealMediaControlRefusesAMissingFileQuietlyAndLeavesNothing)
{
    HostInPane<> player;
    ASSERT_TRUE(player.Ready());
    CPlayerWnd& host = player.host;
    Opener opener;
    opener.host = &host;
    opener.source = L"c:\\music\\song.mp3";
    opener.CreateEx(0, nullptr, L"opener", WS_POPUP, CRect(0, 0, 10, 10), nullptr, 0);
    UINT_PTR timer = ::SetTimer(nullptr, 0, 50, &CloseBoxes);
    opener.SendMessage(WM_APP);
    ::KillTimer(nullptr, timer);
    EXPECT_EQ(g_boxes, 0);
    EXPECT_EQ(opener.result, 1);
    EXPECT_FALSE(host.HasEngine());
    EXPECT_EQ(::GetWindow(host, GW_CHILD), nullptr);

    // The player goes on: a simulated Flash control opens.
    SimControls sim(true, false, false);
    ASSERT_TRUE(sim.Loaded());
    host.ShellMovies().m_strFolder = TempPath(L"");
    host.ShellMovies().m_strFolder.pop_back();
    EXPECT_EQ(host.Open(L"c:\\v\\a.flv"), 0);
    EXPECT_TRUE(host.HasEngine());
    host.DestroyWindow();
    opener.DestroyWindow();
    EXPECT_EQ(sim.Live(), 0);
}
