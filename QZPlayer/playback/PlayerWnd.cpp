#include "PlayerWnd.h"

#include "FlashPlayer.h"
#include "RealPlayer.h"
#include "WMPPlayer.h"
#include "Protocol.h"
#include "resource.h"

#include <algorithm>

namespace {

struct ExtensionRow {
    const wchar_t* text;
    int engine;
    BOOL shellMovie;
};

// Taken in order; the first text found after the first character decides.
const ExtensionRow kExtensions[] = {
    {L".FLV", EngineFlash, TRUE},  {L".MP4", EngineFlash, TRUE}, {L".SWF", EngineFlash, FALSE},
    {L".WMV", EngineMedia, FALSE}, {L".ASF", EngineMedia, FALSE}, {L".MP3", EngineMedia, FALSE},
    {L".RM", EngineReal, FALSE},   {L".RMVB", EngineReal, FALSE},
};

const wchar_t kWineVideoClass[] = L"wine_quartz_window";

struct VideoSearch {
    DWORD process;
    HWND found;
};

BOOL CALLBACK FindVideoWindow(HWND wnd, LPARAM lp)
{
    auto* search = reinterpret_cast<VideoSearch*>(lp);
    DWORD process = 0;
    ::GetWindowThreadProcessId(wnd, &process);
    wchar_t name[64] = {};
    if (process != search->process || !::GetClassNameW(wnd, name, 64) || wcscmp(name, kWineVideoClass) != 0)
        return TRUE;
    search->found = wnd;
    return FALSE;
}

} // namespace

CPlayerWnd::~CPlayerWnd()
{
    DestroyEngine();
}

std::wstring CPlayerWnd::UpperAscii(const std::wstring& text)
{
    std::wstring u(text);
    for (wchar_t& c : u)
        if (c >= L'a' && c <= L'z')
            c = static_cast<wchar_t>(c - L'a' + L'A');
    return u;
}

int CPlayerWnd::EngineForSource(const std::wstring& upper, BOOL* shellMovie)
{
    for (const ExtensionRow& row : kExtensions) {
        size_t at = upper.find(row.text);
        if (at != std::wstring::npos && at > 0) {
            if (shellMovie)
                *shellMovie = row.shellMovie;
            return row.engine;
        }
    }
    return EngineNone;
}

int CPlayerWnd::Open(const std::wstring& source)
{
    m_strSource.clear();
    DestroyEngine();
    // The rules read the source in capitals; the engine gets it as given,
    // since servers compare paths and query tokens with their case.
    BOOL shellMovie = FALSE;
    const int kind = EngineForSource(UpperAscii(source), &shellMovie);
    if (kind == EngineNone)
        return 2;
    PlaybackEngine* engine = CreateEngine(kind, shellMovie);
    // Flash is gone from current Windows: ".MP4" and ".FLV" then go to
    // Windows Media (which plays H.264 MP4, and FLV where a splitter is
    // installed); ".SWF" has no other engine.
    if (!engine && kind == EngineFlash && shellMovie)
        engine = CreateEngine(EngineMedia);
    if (!engine)
        return 1;
    // A failing load must not leave the control behind, whether it says so
    // or raises a dispatch error (which still reaches the user after this).
    std::unique_ptr<PlaybackEngine> created(engine);
    try {
        if (!engine->Load(this, source)) {
            created->DestroyWindow();
            return 1;
        }
    } catch (CException*) {
        created->DestroyWindow();
        throw;
    }
    m_pEngine = std::move(created);
    m_strSource = source;
    SearchVideoWindow();
    return 0;
}

void CPlayerWnd::SearchVideoWindow()
{
    if (m_nEngineKind != EngineMedia || !m_pEngine)
        return;
    m_nSearchTurns = kVideoSearchTurns;
    SetTimer(kVideoSearchTimerId, kVideoSearchMs);
}

BOOL CPlayerWnd::AdoptVideoWindow()
{
    if (m_hVideo && !::IsWindow(m_hVideo))
        m_hVideo = nullptr;
    // Only top-level windows are enumerated: one adopted already is a child.
    VideoSearch search = {::GetCurrentProcessId(), nullptr};
    ::EnumWindows(&FindVideoWindow, reinterpret_cast<LPARAM>(&search));
    if (!search.found)
        return FALSE;
    m_hVideo = search.found;
    const LONG_PTR style = ::GetWindowLongPtrW(m_hVideo, GWL_STYLE);
    ::SetWindowLongPtrW(m_hVideo, GWL_STYLE,
                        (style & ~(WS_POPUP | WS_CAPTION | WS_THICKFRAME | WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX)) |
                            WS_CHILD | WS_CLIPSIBLINGS);
    ::SetWindowLongPtrW(m_hVideo, GWL_EXSTYLE, 0);
    ::SetParent(m_hVideo, m_hWnd);
    PlaceVideoWindow();
    return TRUE;
}

void CPlayerWnd::PlaceVideoWindow()
{
    if (!m_hVideo || !::IsWindow(m_hVideo))
        return;
    const CRect r = GetClientRect();
    ::SetWindowPos(m_hVideo, HWND_TOP, 0, 0, r.Width(), r.Height(), SWP_FRAMECHANGED | SWP_SHOWWINDOW | SWP_NOACTIVATE);
}

BOOL CPlayerWnd::IsCurrent(const std::wstring& source)
{
    if (source.empty() || m_strSource.empty() || !m_pEngine)
        return FALSE;
    if (UpperAscii(source) != UpperAscii(m_strSource))
        return FALSE;
    return GetState() != Error;
}

CShellMovies& CPlayerWnd::ShellMovies()
{
    if (!m_shellMovies)
        m_shellMovies = std::make_shared<CShellMovies>();
    return *m_shellMovies;
}

PlaybackEngine* CPlayerWnd::CreateEngine(int kind, BOOL shellMovie)
{
    std::unique_ptr<PlaybackEngine> engine;
    switch (kind) {
    case EngineFlash:
        if (shellMovie) {
            ShellMovies();
            engine = std::make_unique<CFlashPlayer>(m_shellMovies);
        } else {
            engine = std::make_unique<CDirectMoviePlayer>();
        }
        break;
    case EngineMedia:
        engine = std::make_unique<CWMVPlayer>();
        break;
    case EngineReal:
        engine = std::make_unique<CRealPlayer>();
        break;
    default:
        return nullptr;
    }
    // The wrapper owns the control from here: a dispatch error of the set-up
    // calls takes both down before it leaves.
    if (!engine->Create(this, GetClientRect()))
        return nullptr;
    m_nEngineKind = kind;
    return engine.release();
}

void CPlayerWnd::DestroyEngine()
{
    // The video window goes with its control.
    m_hVideo = nullptr;
    m_nSearchTurns = 0;
    if (m_hWnd)
        KillTimer(kVideoSearchTimerId);
    if (m_nEngineKind != EngineNone && m_pEngine) {
        m_pEngine->DestroyWindow();
        m_pEngine.reset();
    }
}

namespace {

// The poll's own reads (state, position, duration) run every second: a
// failing one counts as no answer, or each would stack one more error box.
template <class T, class Read>
T ReadQuietly(Read read, T ifFailed)
{
    try {
        return read();
    } catch (CException* e) {
        e->Delete();
        return ifFailed;
    }
}

} // namespace

PlayState CPlayerWnd::GetState()
{
    return m_pEngine ? ReadQuietly([&] { return m_pEngine->GetState(); }, Undefined) : Undefined;
}

void CPlayerWnd::GetPosition(double* seconds)
{
    if (m_pEngine)
        *seconds = ReadQuietly([&] { return m_pEngine->GetPosition(); }, 0.0);
}

void CPlayerWnd::GetDuration(double* seconds)
{
    if (m_pEngine)
        *seconds = ReadQuietly([&] { return m_pEngine->GetDuration(); }, 0.0);
}

BOOL CPlayerWnd::GetBufferingProgress(long* progress)
{
    return m_pEngine && ReadQuietly([&] { return m_pEngine->GetBufferingProgress(progress); }, FALSE);
}

BOOL CPlayerWnd::LoadedWithoutProgress()
{
    return m_pEngine && ReadQuietly([&] { return m_pEngine->LoadedWithoutProgress(); }, FALSE);
}

void CPlayerWnd::Play()
{
    if (m_pEngine) {
        m_pEngine->Play();
        SearchVideoWindow(); // a play after a stop may draw into a new one
    }
}

void CPlayerWnd::Pause()
{
    if (m_pEngine)
        m_pEngine->Pause();
}

void CPlayerWnd::Stop()
{
    if (m_pEngine)
        m_pEngine->Stop();
}

void CPlayerWnd::Seek(double seconds)
{
    if (m_pEngine)
        m_pEngine->Seek(seconds);
}

void CPlayerWnd::SetVolume(int volume)
{
    if (m_pEngine)
        m_pEngine->SetVolume(volume);
}

void CPlayerWnd::SetMute(BOOL on)
{
    if (m_pEngine)
        m_pEngine->SetMute(on);
}

void CPlayerWnd::FullScreen(BOOL on)
{
    if (!m_pEngine)
        return;
    if (m_nEngineKind == EngineFlash)
        PostMessage(WM_PLAYER_FULLSCREEN);
    else
        m_pEngine->FullScreen(on);
}

void CPlayerWnd::HostFullScreen(BOOL on)
{
    if (on == IsHostFullScreen())
        return;
    if (on) {
        HWND parent = ::GetParent(m_hWnd);
        if (!parent)
            return;
        m_hRestoreParent = parent;
        m_rcRestore = GetWindowRect();
        ::MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&m_rcRestore), 2);
        MONITORINFO mi = {sizeof mi, {}, {}, 0};
        ::GetMonitorInfoW(::MonitorFromWindow(m_hWnd, MONITOR_DEFAULTTONEAREST), &mi);
        // A popup owned by the frame, so that it goes with it.
        ::SetParent(m_hWnd, nullptr);
        ::SetWindowLongPtrW(m_hWnd, GWL_STYLE, (::GetWindowLongPtrW(m_hWnd, GWL_STYLE) & ~WS_CHILD) | WS_POPUP);
        ::SetWindowLongPtrW(m_hWnd, GWLP_HWNDPARENT, reinterpret_cast<LONG_PTR>(::GetAncestor(parent, GA_ROOT)));
        ::SetWindowPos(m_hWnd, HWND_TOPMOST, mi.rcMonitor.left, mi.rcMonitor.top,
                       mi.rcMonitor.right - mi.rcMonitor.left, mi.rcMonitor.bottom - mi.rcMonitor.top,
                       SWP_FRAMECHANGED | SWP_SHOWWINDOW);
        ::SetFocus(m_hWnd);
        return;
    }
    HWND parent = m_hRestoreParent;
    m_hRestoreParent = nullptr;
    ::SetWindowPos(m_hWnd, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    ::SetWindowLongPtrW(m_hWnd, GWLP_HWNDPARENT, 0);
    ::SetWindowLongPtrW(m_hWnd, GWL_STYLE, (::GetWindowLongPtrW(m_hWnd, GWL_STYLE) & ~WS_POPUP) | WS_CHILD);
    ::SetParent(m_hWnd, parent);
    ::SetWindowPos(m_hWnd, nullptr, m_rcRestore.left, m_rcRestore.top, m_rcRestore.Width(), m_rcRestore.Height(),
                   SWP_NOZORDER | SWP_FRAMECHANGED | SWP_SHOWWINDOW);
}

void CPlayerWnd::PlaceIn(HWND parent, const CRect& r)
{
    if (IsHostFullScreen()) {
        if (m_hRestoreParent == parent)
            m_rcRestore = r;
        return;
    }
    if (IsWindow() && ::GetParent(m_hWnd) == parent)
        ::SetWindowPos(m_hWnd, nullptr, r.left, r.top, r.Width(), r.Height(), SWP_NOZORDER | SWP_SHOWWINDOW);
}

void CPlayerWnd::Repaint()
{
    if (m_pEngine && m_pEngine->IsWindow())
        m_pEngine->Invalidate(TRUE);
    Invalidate(TRUE);
}

LRESULT CPlayerWnd::WindowProc(UINT msg, WPARAM wp, LPARAM lp)
{
    switch (msg) {
    case WM_SIZE: {
        LRESULT r = CWnd::WindowProc(msg, wp, lp);
        if (m_pEngine)
            m_pEngine->MoveWindow(GetClientRect(), TRUE);
        PlaceVideoWindow();
        return r;
    }
    case WM_TIMER:
        if (wp == kVideoSearchTimerId) {
            if (AdoptVideoWindow() || m_nSearchTurns == 0 || --m_nSearchTurns == 0) {
                m_nSearchTurns = 0;
                KillTimer(kVideoSearchTimerId);
            }
            return 0;
        }
        break;
    case WM_ERASEBKGND:
        return 1;
    case WM_LBUTTONDOWN:
        // A click on the video gives it the keyboard, where Space plays and
        // pauses (the left pane's keys); in the host's full screen it leaves it.
        HostFullScreen(FALSE);
        ::SetFocus(m_hWnd);
        break;
    case WM_PARENTNOTIFY:
        // The same for a click on the control that covers the video: it comes
        // to the control's window, and the host hears of it only this way.
        if (LOWORD(wp) == WM_LBUTTONDOWN) {
            HostFullScreen(FALSE);
            if (::GetFocus() != m_hWnd && !::IsChild(m_hWnd, ::GetFocus()))
                ::SetFocus(m_hWnd);
        }
        break;
    case WM_KEYDOWN:
        if (wp == VK_ESCAPE && IsHostFullScreen()) {
            HostFullScreen(FALSE);
            return 0;
        }
        break;
    case WM_PAINT: {
        CPaintDC dc(m_hWnd);
        dc.FillSolidRect(GetClientRect(), RGB(0, 0, 0));
        return 0;
    }
    case WM_DESTROY:
        // With the engine gone the host holds the shell movie's files alone:
        // they go with it.
        DestroyEngine();
        m_shellMovies.reset();
        break;
    case WM_COPYDATA: {
        if (CopyData(lp).Code() == kCopyRepaint) {
            Repaint();
            return TRUE;
        }
        break;
    }
    case WM_PLAYER_FULLSCREEN:
        if (wp == kHostFullScreen) {
            HostFullScreen(TRUE);
            return 1;
        }
        if (m_nEngineKind == EngineFlash && m_pEngine && m_pEngine->IsWindow()) {
            ::SetFocus(*m_pEngine);
            m_pEngine->PostMessage(WM_KEYDOWN, VK_HOME, 0);
            m_pEngine->PostMessage(WM_KEYUP, VK_HOME, 0);
        }
        return 1;
    default:
        break;
    }
    return CWnd::WindowProc(msg, wp, lp);
}
