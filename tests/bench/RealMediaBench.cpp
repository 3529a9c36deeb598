// Wine's own Windows Media control playing a real clip through the player
// host: the open to the first Playing, and the position's rate against the
// wall clock; then the process's memory and threads after one
// open/stop cycle against after ten, once with a new control for each open
// (what the player does) and once with one control given the clip again.
//
//   real_media_bench.exe CLIP
#include "BenchClock.h"
#include "PlaybackSupport.h"
#include "WMPPlayer.h"

#include <psapi.h>
#include <tlhelp32.h>

#include <cstdio>
#include <functional>

using namespace playtest;

namespace {

using bench::Now;

void Pump(const std::function<bool()>& done, double seconds)
{
    const double end = Now() + seconds;
    MSG msg;
    while (!done() && Now() < end) {
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
}

struct Usage {
    double residentMb, committedMb;
    int threads;
};

// Wine fills the working set (the process's resident memory) and the
// committed memory from the kernel's view of the process; it leaves private
// bytes and the handle count at 0.
Usage Measure()
{
    PROCESS_MEMORY_COUNTERS m = {};
    m.cb = sizeof m;
    ::GetProcessMemoryInfo(::GetCurrentProcess(), &m, sizeof m);
    int threads = 0;
    HANDLE snap = ::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 t = {};
    t.dwSize = sizeof t;
    for (BOOL more = ::Thread32First(snap, &t); more; more = ::Thread32Next(snap, &t))
        threads += t.th32OwnerProcessID == ::GetCurrentProcessId();
    ::CloseHandle(snap);
    return {m.WorkingSetSize / 1048576.0, m.PagefileUsage / 1048576.0, threads};
}

// Playing, with a length read: the clip has started.
bool HasStarted(CPlayerWnd& host)
{
    double duration = 0;
    host.GetDuration(&duration);
    return host.GetState() == Playing && duration > 0;
}

// Ten cycles of an open (as given), the first Playing and a stop; the usage
// after the first and after the last.
bool Cycles(CPlayerWnd& host, const char* how, const std::function<bool()>& open)
{
    Usage first = {}, last = {};
    for (int i = 1; i <= 10; ++i) {
        if (!open())
            return std::printf("%s: open %d failed\n", how, i), false;
        Pump([&] { return HasStarted(host); }, 10);
        if (!HasStarted(host))
            return std::printf("%s: open %d never played\n", how, i), false;
        Pump([] { return false; }, 0.3);
        host.Stop();
        Pump([] { return false; }, 0.2);
        (i == 1 ? first : last) = Measure();
    }
    std::printf("%s: after 1 cycle %.1f MB resident, %.1f MB committed, %d threads; after 10 %.1f MB, %.1f MB, "
                "%d threads (per cycle %+.2f MB resident, %+.2f MB committed, %+.1f threads)\n",
                how, first.residentMb, first.committedMb, first.threads, last.residentMb, last.committedMb,
                last.threads, (last.residentMb - first.residentMb) / 9, (last.committedMb - first.committedMb) / 9,
                (last.threads - first.threads) / 9.0);
    return true;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2) {
        std::printf("usage: real_media_bench.exe CLIP\n");
        return 2;
    }
    const std::wstring clip = argv[1];
    HostInPane<> player;
    if (!player.Ready())
        return 1;
    CPlayerWnd& host = player.host;

    // The open, and the clock while the clip plays.
    const double opened = Now();
    if (host.Open(clip) != 0 || host.GetEngineKind() != EngineMedia) {
        std::printf("the clip did not open in Wine's media control\n");
        return 1;
    }
    const double returned = Now();
    Pump([&] { return HasStarted(host); }, 10);
    const double playing = Now();
    double p0 = -1, t0 = 0, p1 = 0, t1 = 0, duration = 0;
    host.GetDuration(&duration);
    Pump(
        [&] {
            double p = 0;
            host.GetPosition(&p);
            if (p > 0.3 && p < duration - 0.3) {
                if (p0 < 0)
                    p0 = p, t0 = Now();
                p1 = p, t1 = Now();
            }
            return host.GetState() == Stopped;
        },
        duration + 10);
    const bool wine = static_cast<CWMVPlayer*>(host.GetEngine())->IsWineControl();
    std::printf("control: %s\n", wine ? "Wine's own" : "not Wine's");
    std::printf("open to first Playing: %.0f ms (the Open call %.0f ms)\n", (playing - opened) * 1000,
                (returned - opened) * 1000);
    if (t1 > t0)
        std::printf("position rate: %.3f of the wall clock over %.2f s (length %.3f s)\n", (p1 - p0) / (t1 - t0),
                    t1 - t0, duration);
    host.DestroyEngine();

    const bool ok = Cycles(host, "a new control per open", [&] { return host.Open(clip) == 0; }) &&
                    Cycles(host, "one control, the clip given again",
                           [&] { return host.HasEngine() ? host.GetEngine()->Load(&host, clip) : host.Open(clip) == 0; });
    host.DestroyEngine();
    return ok ? 0 : 1;
}
