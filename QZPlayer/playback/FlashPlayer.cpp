#include "FlashPlayer.h"

#include "PlayerWnd.h"

#include <olectl.h>

namespace {

const CLSID kFlashClsid = {0xd27cdb6e, 0xae6d, 0x11cf, {0x96, 0xb8, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};

// Dispatch ids of the Flash control (its type library).
const DISPID kReadyState = DISPID_READYSTATE; // 4 once the movie is loaded whole
const DISPID kMovie = 102;
const DISPID kLoop = 106;
const DISPID kFrameNum = 107;
const DISPID kPlayMovie = 0x70;
const DISPID kRewind = 0x74;
const DISPID kStopPlay = 0x7e;
const DISPID kCurrentFrame = 128;
const DISPID kScale = 137;
const DISPID kCallFunction = 198;
const DISPID kAllowNetworking = 201;
const DISPID kAllowFullScreen = 202;

const wchar_t kTailHttp[] = L"&overstretch=true&showdigits=true&autostart=true&showplayerbar=false&callback=true"
                            L"&enablejs=true&streamscript=http://";
const wchar_t kTailLocal[] = L"&overstretch=true&showdigits=false&autostart=true&showplayerbar=false&callback=true"
                             L"&enablejs=true";

std::wstring Event(const wchar_t* name)
{
    return std::wstring(L"<invoke name=\"sendEvent\"><arguments><string>") + name +
           L"</string></arguments></invoke>";
}

std::wstring Event(const wchar_t* name, long n)
{
    return std::wstring(L"<invoke name=\"sendEvent\"><arguments><string>") + name + L"</string><number>" +
           std::to_wstring(n) + L"</number></arguments></invoke>";
}

// The movie reads its variables decoded: the characters that would end or
// change the file value are sent escaped, everything else as it stands.
std::wstring EscapeFileValue(const std::wstring& value)
{
    std::wstring out;
    for (wchar_t c : value) {
        switch (c) {
        case L'%': out += L"%25"; break;
        case L'&': out += L"%26"; break;
        case L'#': out += L"%23"; break;
        case L'+': out += L"%2B"; break;
        case L' ': out += L"%20"; break;
        case L'\t': out += L"%09"; break;
        default: out += c; break;
        }
    }
    return out;
}

} // namespace

BOOL CFlashPlayer::Create(CPlayerWnd* host, const RECT& rect)
{
    if (!CreateControl(kFlashClsid, L"", WS_CHILD | WS_VISIBLE, rect, host, IDC_FLASH_PLAYER))
        return FALSE;
    SetProperty(kAllowFullScreen, VT_BSTR, L"true");
    SetProperty(kScale, VT_BSTR, L"noScale");
    return TRUE;
}

std::wstring CFlashPlayer::MovieAddress(const std::wstring& moviePath, const std::wstring& source)
{
    const std::wstring upper = CPlayerWnd::UpperAscii(source);
    return moviePath + L"?file=" + EscapeFileValue(source) +
           (upper.find(L"HTTP://") != std::wstring::npos ? kTailHttp : kTailLocal);
}

BOOL CFlashPlayer::Load(CPlayerWnd* host, const std::wstring& source)
{
    BOOL shellMovie = FALSE;
    CPlayerWnd::EngineForSource(CPlayerWnd::UpperAscii(source), &shellMovie);
    m_bDirect = !shellMovie;
    if (m_bDirect) {
        SetProperty(kAllowNetworking, VT_BSTR, L"all");
        SetProperty(kMovie, VT_BSTR, source.c_str());
        m_directState = Playing;
        m_lastFrame = -1;
        return TRUE;
    }
    // Each Flash sandbox refuses one kind of source: files and URLs each get
    // the build made for them.
    const CPlayerWnd::ShellMovie which = CPlayerWnd::ShellMovieFor(source);
    std::wstring path = host->m_strShellMovieInstead;
    if (path.empty()) {
        path = host->ShellMoviePath(which);
        if (!host->ShellMovieValid(path, which) && !host->ExtractShellMovie(path, which))
            return FALSE;
    }
    SetProperty(kLoop, VT_BOOL, FALSE);
    SetProperty(kMovie, VT_BSTR, MovieAddress(path, source).c_str());
    return TRUE;
}

std::wstring CFlashPlayer::CallFunction(const std::wstring& request)
{
    std::wstring reply;
    if (!m_bReady) {
        long frame = 0;
        GetProperty(kFrameNum, VT_I4, &frame);
        if (frame >= 1)
            m_bReady = TRUE;
    }
    if (m_bReady)
        InvokeHelper(kCallFunction, DISPATCH_METHOD, VT_BSTR, &reply, VTS_BSTR, request.c_str());
    return reply;
}

long CFlashPlayer::ReplyNumber(const std::wstring& reply, long ifEmpty)
{
    if (reply.empty())
        return ifEmpty;
    const size_t start = reply.find_first_not_of(L"<number>");
    if (start == std::wstring::npos)
        return 0;
    return wcstol(reply.c_str() + start, nullptr, 10);
}

long CFlashPlayer::RequestNumber(const wchar_t* name, long ifEmpty)
{
    return ReplyNumber(CallFunction(std::wstring(L"<invoke name=\"") + name + L"\"></invoke>"), ifEmpty);
}

PlayState CFlashPlayer::GetState()
{
    // What the user's commands left it in; playing only once it has started.
    if (m_bDirect)
        return m_directState != Playing || LoadedWithoutProgress() ? m_directState : Undefined;
    return MapState(RequestNumber(L"getPlayState", -1));
}

// A movie loaded directly has no clock: it has started once its control has
// it whole (4), or while it still streams in (3, interactive) as long as its
// timeline moves. One that never arrives stays below that and is passed over.
BOOL CFlashPlayer::LoadedWithoutProgress()
{
    if (!m_bDirect)
        return FALSE;
    long ready = 0;
    GetProperty(kReadyState, VT_I4, &ready);
    return ready == 4 || (ready == 3 && TimelineMoves());
}

BOOL CFlashPlayer::TimelineMoves()
{
    long frame = 0;
    InvokeHelper(kCurrentFrame, DISPATCH_METHOD, VT_I4, &frame, nullptr);
    const ULONGLONG now = ::GetTickCount64();
    // The first look only says where it stands; several looks within one
    // poll must agree, so a move counts for a while.
    if (m_lastFrame < 0)
        m_tFrameMoved = 0;
    else if (frame != m_lastFrame)
        m_tFrameMoved = now;
    m_lastFrame = frame;
    return m_tFrameMoved && now - m_tFrameMoved < kFrameMovedMs;
}

PlayState CFlashPlayer::MapState(long state)
{
    switch (state) {
    case 0:
        return Stopped;
    case 1:
        return Playing;
    case 2:
        return Paused;
    default:
        return Undefined;
    }
}

// A movie loaded directly answers no requests: its timeline is driven
// through the control's own methods, and it is stopped at its first frame,
// so that Play starts it from the beginning.
void CFlashPlayer::Play()
{
    if (!m_bDirect) {
        CallFunction(Event(L"playpause"));
        return;
    }
    InvokeHelper(kPlayMovie, DISPATCH_METHOD, VT_EMPTY, nullptr, nullptr);
    m_directState = Playing;
    m_lastFrame = -1; // it must be seen to move again
}

void CFlashPlayer::Pause()
{
    if (!m_bDirect) {
        CallFunction(Event(L"playpause"));
        return;
    }
    InvokeHelper(kStopPlay, DISPATCH_METHOD, VT_EMPTY, nullptr, nullptr);
    m_directState = Paused;
}

void CFlashPlayer::Stop()
{
    if (!m_bDirect) {
        CallFunction(Event(L"stop"));
        return;
    }
    InvokeHelper(kRewind, DISPATCH_METHOD, VT_EMPTY, nullptr, nullptr);
    InvokeHelper(kStopPlay, DISPATCH_METHOD, VT_EMPTY, nullptr, nullptr);
    m_directState = Stopped;
}

double CFlashPlayer::GetPosition()
{
    return m_bDirect ? 0 : RequestNumber(L"getPosition", 0);
}

double CFlashPlayer::GetDuration()
{
    return m_bDirect ? 0 : RequestNumber(L"getDuration", 0);
}

void CFlashPlayer::Seek(double seconds)
{
    if (!m_bDirect)
        CallFunction(Event(L"position", static_cast<long>(seconds)));
}

void CFlashPlayer::SetVolume(int volume)
{
    if (m_bDirect)
        return; // the control has no volume of its own
    try {
        CallFunction(Event(L"volume", volume));
    } catch (CException* e) {
        e->Delete();
    }
}

void CFlashPlayer::SetMute(BOOL on)
{
    if (on)
        SetVolume(0);
}

void CFlashPlayer::FullScreen(BOOL)
{
    // The host hands the movie the focus and a Home key instead.
}
