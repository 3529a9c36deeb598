// Real media through Wine's own Windows Media control: clips ffmpeg made at
// test time (cmake/media-clips.sh) play in the player host, decoded by
// GStreamer: their pictures in the pane, their clock, their states and
// length, and a list that moves on at each end and past what the control
// refuses. Each runs in a child process with a hard time-out, since a hang
// inside GStreamer would otherwise hold the whole run.
#include "PlaybackSupport.h"
#include "PlayerControl.h"
#include "PlayerWnd.h"
#include "Playlist.h"
#include "TestSupport.h"
#include "WMPPlayer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

namespace {

const wchar_t kChildSwitch[] = L"QZ_REAL_MEDIA_CHILD";

std::wstring ClipPath(const wchar_t* name)
{
    return testsupport::WindowsPathOfUnix(testsupport::Utf8ToWide(QZ_MEDIA_DIR_UNIX)) + L"\\" + name;
}

// The clip's length as ffprobe read it.
double ProbedLength(const wchar_t* name)
{
    return std::atof(testsupport::ReadBytes(ClipPath(name) + L".duration").c_str());
}

// The clip's colour at the centre of a window as the screen shows it: 'R',
// 'G' or 'B' for the clip's red, green and blue (decoding shifts them a
// little), '-' for anything else (its value in *other).
char ColourAt(HWND window, COLORREF* other)
{
    RECT r;
    ::GetClientRect(window, &r);
    POINT centre = {r.right / 2, r.bottom / 2};
    ::ClientToScreen(window, &centre);
    HDC screen = ::GetDC(nullptr);
    const COLORREF c = ::GetPixel(screen, centre.x, centre.y);
    ::ReleaseDC(nullptr, screen);
    const int red = GetRValue(c), green = GetGValue(c), blue = GetBValue(c);
    if (red > 160 && green < 90 && blue < 90)
        return 'R';
    if (green > 160 && red < 90 && blue < 90)
        return 'G';
    if (blue > 160 && red < 90 && green < 90)
        return 'B';
    *other = c;
    return '-';
}

// Plays one clip to its end in this process, watching the pane, the clock
// and the states; then plays it again, stops, plays and quits while playing.
void PlayToTheEnd(const wchar_t* name)
{
    playtest::HostInPane<> player;
    ASSERT_TRUE(player.Ready());
    CPlayerWnd& host = player.host;
    const ULONGLONG opened = ::GetTickCount64();
    ASSERT_EQ(host.Open(ClipPath(name)), 0);
    ASSERT_EQ(host.GetEngineKind(), EngineMedia);
    auto* engine = static_cast<CWMVPlayer*>(host.GetEngine());
    EXPECT_TRUE(engine->IsWineControl());
    double duration = 0;
    ULONGLONG playing = 0;
    std::string colours; // each change of the colour the pane shows
    std::vector<COLORREF> others; // the first other colours, for a failure's message
    COLORREF lastOther = CLR_INVALID;
    struct Reading {
        ULONGLONG at;
        double position;
    };
    std::vector<Reading> clock;
    ASSERT_TRUE(testsupport::PumpUntil(
        [&] {
            host.GetDuration(&duration);
            const bool isPlaying = host.GetState() == Playing;
            if (!playing && isPlaying && duration > 0)
                playing = ::GetTickCount64();
            if (isPlaying) {
                double position = 0;
                host.GetPosition(&position);
                clock.push_back({::GetTickCount64(), position});
                COLORREF value = 0;
                const char c = ColourAt(host, &value);
                if (c != '-' && (colours.empty() || colours.back() != c))
                    colours += c;
                else if (c == '-' && others.size() < 8 && value != lastOther)
                    others.push_back(lastOther = value);
            }
            return host.GetState() == Stopped;
        },
        20000));
    const ULONGLONG ended = ::GetTickCount64();
    // put_URL: transitioning, ready; play: transitioning, playing; the
    // end: media ended, transitioning, stopped.
    EXPECT_EQ(engine->PlayStatesHeard(), (std::vector<long>{9, 10, 9, 3, 8, 9, 1}));
    EXPECT_NEAR(duration, ProbedLength(name), 0.1);
    EXPECT_NE(host.GetVideoWindow(), nullptr); // adopted into the host
    // The decoded pictures, in the pane, in the clip's order.
    EXPECT_EQ(colours, "RGB") << ::testing::PrintToString(others);
    // The clock: the position's rate between readings clear of the start and
    // the end, and no end before the clip's length has played (a loaded
    // machine makes the end late; the rate is the clock's check).
    EXPECT_GE((ended - playing) / 1000.0, duration * 0.8) << "opened to playing " << playing - opened << " ms";
    const Reading* first = nullptr;
    const Reading* last = nullptr;
    for (const Reading& r : clock)
        if (r.position > 0.3 && r.position < duration - 0.3) {
            first = first ? first : &r;
            last = &r;
        }
    ASSERT_TRUE(first && last && last->at - first->at >= 1500) << clock.size() << " readings";
    const double rate = (last->position - first->position) / ((last->at - first->at) / 1000.0);
    EXPECT_GE(rate, 0.8);
    EXPECT_LE(rate, 1.2);
    std::printf("%ls: opened to playing %llu ms, played %.2f s of %.3f s, position rate %.3f, colours %s\n", name,
                playing - opened, (ended - playing) / 1000.0, duration, rate, colours.c_str());
    // Played again and stopped; played once more and quit while playing
    // (the engine stops before it releases): nothing hangs.
    for (bool stopFirst : {true, false}) {
        host.Play();
        ASSERT_TRUE(testsupport::PumpUntil([&] { return host.GetState() == Playing; }, 5000));
        if (stopFirst) {
            host.Stop();
            EXPECT_EQ(host.GetState(), Stopped);
        }
    }
    host.DestroyEngine();
    EXPECT_FALSE(host.HasEngine());
}

// The video pane and the frame as far as the list goes: the bar's end of an
// item, or a failed open, opens the next entry the list gives.
class ListPane : public CWnd {
public:
    CPlayerWnd* host = nullptr;
    CPlayerControl bar;
    CPlaylist list;
    std::vector<std::pair<int, int>> opened; // the rows opened, with Open's answer
    std::vector<WPARAM> asked;               // why the next entry was wanted

    void OpenEntry(ProgItem* item)
    {
        list.SetCurrent(item);
        bar.PrepareOpen();
        const int result = host->Open(item->url);
        opened.emplace_back(list.RowOf(item), result);
        if (result == 0)
            bar.OnMediaOpened();
        else if (list.PassOver(item))
            PostMessage(WM_PLAY_NEXT, kPlayNextAfterFailure);
    }

protected:
    LRESULT WindowProc(UINT msg, WPARAM wp, LPARAM lp) override
    {
        if (msg != WM_PLAY_NEXT)
            return CWnd::WindowProc(msg, wp, lp);
        asked.push_back(wp);
        if (ProgItem* item = list.NextInChain(wp == kPlayNextEnded        ? CPlaylist::kItemEnded
                                              : wp == kPlayNextPassedOver ? CPlaylist::kItemPassedOver
                                                                          : CPlaylist::kRetry))
            OpenEntry(item);
        return 0;
    }
};

// A list of a missing file, a clip, a URL and another clip: the two that
// Wine's control refuses are passed over, each clip plays to its end and
// the end moves the list on; after the last the list stops.
void PlayTheList(const wchar_t*)
{
    playtest::HostInPane<ListPane> player;
    ASSERT_TRUE(player.Ready());
    ListPane& pane = player.pane;
    pane.host = &player.host;
    pane.bar.m_pPlayer = &player.host;
    ASSERT_TRUE(pane.bar.Create(IDD_PLAYER_CONTROL, &pane));
    pane.bar.MoveWindow(CRect(0, 360, 480, 380));
    for (const std::wstring& entry : {ClipPath(L"missing.wmv"), ClipPath(L"rgb-3s.wmv"),
                                      std::wstring(L"http://127.0.0.1:9/rgb-3s.wmv"), ClipPath(L"rgb-3s.flv")})
        pane.list.Add(entry, L"");
    pane.OpenEntry(pane.list.Item(0));
    ASSERT_TRUE(testsupport::PumpUntil([&] { return pane.asked.size() == 4; }, 25000));
    testsupport::PumpFor(1500); // one more poll: nothing follows the last
    EXPECT_EQ(pane.opened, (std::vector<std::pair<int, int>>{{0, 1}, {1, 0}, {2, 1}, {3, 0}}));
    // Each refusal went on at once, each clip by its end.
    EXPECT_EQ(pane.asked, (std::vector<WPARAM>{kPlayNextAfterFailure, kPlayNextEnded, kPlayNextAfterFailure,
                                               kPlayNextEnded}));
    EXPECT_EQ(pane.list.Current(), pane.list.Item(3));
    pane.bar.DestroyWindow();
}

// The parent's part: this test again in a child process, ended when it
// takes longer than the bound.
void InChild(const wchar_t* test, const wchar_t* clip)
{
    wchar_t self[MAX_PATH];
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    ::SetEnvironmentVariableW(kChildSwitch, clip);
    testsupport::Process child;
    const bool started = child.Start(L"\"" + std::wstring(self) + L"\" --gtest_filter=RealMedia." + test);
    ::SetEnvironmentVariableW(kChildSwitch, nullptr);
    ASSERT_TRUE(started);
    const DWORD bound = testsupport::Scaled(40000);
    if (!child.WaitEnd(bound)) {
        child.Kill();
        FAIL() << "the child did not end within " << bound / 1000 << " s (GStreamer hung?)";
    }
    EXPECT_EQ(child.ExitCode(), 0u);
}

// In the child, plays; in the parent, runs the child.
void PlayInChild(const wchar_t* test, const wchar_t* clip, void (*play)(const wchar_t*) = &PlayToTheEnd)
{
    wchar_t v[MAX_PATH] = {};
    if (::GetEnvironmentVariableW(kChildSwitch, v, MAX_PATH))
        play(v);
    else
        InChild(test, clip);
}

} // namespace

TEST(RealMedia, AWmvClipPlaysToItsEndWithItsStatesAndLength)
{
    PlayInChild(L"AWmvClipPlaysToItsEndWithItsStatesAndLength", L"rgb-3s.wmv");
}

TEST(RealMedia, AnMp4ClipPlaysToItsEndWithItsStatesAndLength)
{
    PlayInChild(L"AnMp4ClipPlaysToItsEndWithItsStatesAndLength", L"rgb-3s.mp4");
}

TEST(RealMedia, AnFlvClipPlaysToItsEndWithItsStatesAndLength)
{
    PlayInChild(L"AnFlvClipPlaysToItsEndWithItsStatesAndLength", L"rgb-3s.flv");
}

TEST(RealMedia, TheListPassesOverAMissingFileAndAUrlAndMovesOnAtEachEnd)
{
    PlayInChild(L"TheListPassesOverAMissingFileAndAUrlAndMovesOnAtEachEnd", L"list", &PlayTheList);
}
