// Real media through Wine's own Windows Media control: clips ffmpeg made at
// test time (cmake/media-clips.sh) play in the player host, decoded by
// GStreamer. Each runs in a child process with a hard time-out, since a hang
// inside GStreamer would otherwise hold the whole run.
#include "PlayerWnd.h"
#include "TestSupport.h"
#include "WMPPlayer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
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

// Plays one clip to its end in this process.
void PlayToTheEnd(const wchar_t* name)
{
    ASSERT_TRUE(AfxOleInit());
    {
        CWnd parent;
        parent.CreateEx(0, nullptr, L"pane", WS_POPUP | WS_VISIBLE, CRect(20, 20, 500, 400), nullptr, 0);
        CPlayerWnd host;
        ASSERT_TRUE(host.Create(nullptr, L"MinPlayer", WS_CHILD | WS_VISIBLE, CRect(0, 0, 480, 360), &parent,
                                IDC_PLAYER_WND));
        const ULONGLONG opened = ::GetTickCount64();
        ASSERT_EQ(host.Open(ClipPath(name)), 0);
        ASSERT_EQ(host.GetEngineKind(), EngineMedia);
        auto* engine = static_cast<CWMVPlayer*>(host.GetEngine());
        EXPECT_TRUE(engine->IsWineControl());
        double duration = 0, position = 0;
        ULONGLONG playing = 0;
        ASSERT_TRUE(testsupport::PumpUntil(
            [&] {
                host.GetDuration(&duration);
                if (!playing && host.GetState() == Playing && duration > 0)
                    playing = ::GetTickCount64();
                return host.GetState() == Stopped;
            },
            20000));
        const ULONGLONG ended = ::GetTickCount64();
        host.GetPosition(&position);
        // put_URL: transitioning, ready; play: transitioning, playing; the
        // end: media ended, transitioning, stopped.
        EXPECT_EQ(engine->PlayStatesHeard(), (std::vector<long>{9, 10, 9, 3, 8, 9, 1}));
        EXPECT_NEAR(duration, ProbedLength(name), 0.1);
        EXPECT_NE(host.GetVideoWindow(), nullptr); // adopted into the host
        // Played in real time: from the first Playing to the end.
        EXPECT_NEAR((ended - playing) / 1000.0, duration, duration * 0.2) << "opened to playing "
                                                                          << playing - opened << " ms";
        std::printf("%ls: opened to playing %llu ms, played %.2f s of %.3f s\n", name, playing - opened,
                    (ended - playing) / 1000.0, duration);
        // Played again, then stopped and released at once: nothing hangs.
        host.Play();
        ASSERT_TRUE(testsupport::PumpUntil([&] { return host.GetState() == Playing; }, 5000));
        host.Stop();
        host.DestroyEngine();
        host.DestroyWindow();
        parent.DestroyWindow();
    }
    AfxOleTerm();
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
    if (!child.WaitEnd(testsupport::Scaled(40000))) {
        child.Kill();
        FAIL() << "the clip did not play to its end within 40 s (GStreamer hung?)";
    }
    EXPECT_EQ(child.ExitCode(), 0u);
}

// In the child, plays the clip; in the parent, runs the child.
void PlayInChild(const wchar_t* test, const wchar_t* clip)
{
    wchar_t v[MAX_PATH] = {};
    if (::GetEnvironmentVariableW(kChildSwitch, v, MAX_PATH))
        PlayToTheEnd(v);
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
