// Playback figures, each beside a baseline measured in the same run:
// Open to the first poll that reports Playing, against creating and
// activating the same simulated control with bare COM calls; and the cost
// of one poll (state, position, duration through the host). The controls
// behave as the real ones do: the Flash figure includes the shell movie's
// own pace to its second frame (FrameNum 1, one frame at the movie's rate),
// which is measured and shown apart.
#include "BenchClock.h"
#include "FlashPlayer.h"
#include "PlayerWnd.h"
#include "PlaybackSupport.h"

#include <cstdio>

using namespace playtest;

namespace {

using bench::Median;
using bench::Now;

// The least a host can offer for in-place activation.
class BareSite : public IOleClientSite, public IOleInPlaceSite {
public:
    BareSite(HWND wnd, RECT rect) : m_wnd(wnd), m_rect(rect) {}
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override
    {
        if (iid == IID_IUnknown || iid == IID_IOleClientSite)
            *out = static_cast<IOleClientSite*>(this);
        else if (iid == IID_IOleWindow || iid == IID_IOleInPlaceSite)
            *out = static_cast<IOleInPlaceSite*>(this);
        else
            return *out = nullptr, E_NOINTERFACE;
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP SaveObject() override { return E_NOTIMPL; }
    STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker**) override { return E_NOTIMPL; }
    STDMETHODIMP GetContainer(IOleContainer**) override { return E_NOINTERFACE; }
    STDMETHODIMP ShowObject() override { return S_OK; }
    STDMETHODIMP OnShowWindow(BOOL) override { return S_OK; }
    STDMETHODIMP RequestNewObjectLayout() override { return E_NOTIMPL; }
    STDMETHODIMP GetWindow(HWND* out) override { return *out = m_wnd, S_OK; }
    STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP CanInPlaceActivate() override { return S_OK; }
    STDMETHODIMP OnInPlaceActivate() override { return S_OK; }
    STDMETHODIMP OnUIActivate() override { return S_OK; }
    STDMETHODIMP GetWindowContext(IOleInPlaceFrame** f, IOleInPlaceUIWindow** d, LPRECT pos, LPRECT clip,
                                  LPOLEINPLACEFRAMEINFO) override
    {
        *f = nullptr;
        *d = nullptr;
        *pos = *clip = m_rect;
        return S_OK;
    }
    STDMETHODIMP Scroll(SIZE) override { return E_NOTIMPL; }
    STDMETHODIMP OnUIDeactivate(BOOL) override { return S_OK; }
    STDMETHODIMP OnInPlaceDeactivate() override { return S_OK; }
    STDMETHODIMP DiscardUndoState() override { return E_NOTIMPL; }
    STDMETHODIMP DeactivateAndUndo() override { return E_NOTIMPL; }
    STDMETHODIMP OnPosRectChange(LPCRECT) override { return S_OK; }

private:
    HWND m_wnd;
    RECT m_rect;
};

double BareCreate(const CLSID& clsid, HWND parent, int rounds)
{
    RECT rect = {0, 0, 480, 360};
    BareSite site(parent, rect);
    const double start = Now();
    for (int i = 0; i < rounds; ++i) {
        IOleObject* object = nullptr;
        if (FAILED(::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IOleObject,
                                      reinterpret_cast<void**>(&object))))
            return -1;
        object->SetClientSite(&site);
        object->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, &site, 0, parent, &rect);
        IOleInPlaceObject* inplace = nullptr;
        object->QueryInterface(IID_IOleInPlaceObject, reinterpret_cast<void**>(&inplace));
        inplace->InPlaceDeactivate();
        inplace->Release();
        object->Close(OLECLOSE_NOSAVE);
        object->SetClientSite(nullptr);
        object->Release();
    }
    return (Now() - start) / rounds;
}

void Pump()
{
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
}

} // namespace

int wmain()
{
    // Items open at once, so that the figure is the player's own cost.
    ::SetEnvironmentVariableW(L"QZ_SIM_OPENING_MS", L"0");
    ::SetEnvironmentVariableW(L"QZ_SIM_LOG", nullptr);
    if (!AfxOleInit())
        return 1;
    int code = 0;
    {
        SimControls sim;
        if (!sim.Loaded()) {
            std::printf("SimControls.dll not found\n");
            return 1;
        }
        CWnd pane;
        pane.CreateEx(0, nullptr, L"pane", WS_POPUP | WS_VISIBLE, CRect(0, 0, 480, 360), nullptr, 0);
        CPlayerWnd host;
        host.Create(nullptr, L"MinPlayer", WS_CHILD | WS_VISIBLE, CRect(0, 0, 480, 360), &pane, IDC_PLAYER_WND);
        host.ShellMovies().m_strFolder = TempPath(L"");
        host.ShellMovies().m_strFolder.pop_back();

        // Flash through the network build of the shell movie.
        struct Engine {
            const wchar_t* name;
            const wchar_t* source;
            const CLSID& clsid;
            int rounds;
        } engines[] = {{L"Flash", L"http://h/v/bench-3600s.flv", kClsids[0], 40},
                       {L"Windows Media", L"http://h/v/bench-3600s.wmv", kClsids[1], 300},
                       {L"Real", L"http://h/v/bench-3600s.rm", kClsids[2], 300}};
        for (const Engine& e : engines) {
            const int rounds = e.rounds;
            host.Open(e.source); // warm: the shell movie is written once
            host.DestroyEngine();
            double start = Now();
            double secondFrame = 0, openCall = 0;
            for (int i = 0; i < rounds; ++i) {
                const double opened = Now();
                if (host.Open(e.source) != 0) {
                    code = 1;
                    break;
                }
                const double returned = Now();
                openCall += returned - opened;
                if (host.GetEngineKind() == EngineFlash) {
                    // The movie's own pace: FrameNum read straight from the
                    // control until it shows the second frame.
                    long frame = 0;
                    while (frame < 1) {
                        host.GetEngine()->GetProperty(107, VT_I4, &frame);
                        Pump();
                    }
                    secondFrame += Now() - returned;
                }
                while (host.GetState() != Playing)
                    Pump();
            }
            const double open = (Now() - start) / rounds;
            host.DestroyEngine();
            const double bare = BareCreate(e.clsid, host, rounds);
            std::printf("%ls: Open to the first Playing poll %.1f us; bare create and activate %.1f us; ratio %.2f\n",
                        e.name, open * 1e6, bare * 1e6, open / bare);
            std::printf("%ls: of which Open itself %.1f us", e.name, openCall / rounds * 1e6);
            if (secondFrame > 0)
                std::printf(", the movie's own time to its second frame (FrameNum 1) %.1f ms, the first requests "
                            "after it %.1f us",
                            secondFrame / rounds * 1e3, (open - (openCall + secondFrame) / rounds) * 1e6);
            std::printf("\n");

            host.Open(e.source);
            while (host.GetState() != Playing)
                Pump();
            const int polls = 5000;
            start = Now();
            for (int i = 0; i < polls; ++i) {
                double p = 0, d = 0;
                host.GetState();
                host.GetPosition(&p);
                host.GetDuration(&d);
            }
            const double poll = (Now() - start) / polls;
            std::printf("%ls: one poll (state, position, duration) %.1f us\n", e.name, poll * 1e6);
            host.DestroyEngine();
        }
        host.DestroyWindow();
        pane.DestroyWindow();
    }
    AfxOleTerm();
    return code;
}
