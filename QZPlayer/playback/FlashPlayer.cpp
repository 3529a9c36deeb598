#include "FlashPlayer.h"

#include "PlayerWnd.h"

#include "Handles.h"
#include "resource.h"

#include <olectl.h>

#include <algorithm>

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

// ---------------------------------------------------------------------------
// CShellMovies

namespace {

const struct {
    const wchar_t* file;
    UINT resource;
} kShellMovies[] = {{L"QZFPlayer.swf", IDR_SHELL_MOVIE}, {L"QZFPlayerLocal.swf", IDR_LOCAL_SHELL_MOVIE}};

} // namespace

CShellMovies::Build CShellMovies::For(const std::wstring& source)
{
    // A file:// address names a local file as much as a path does.
    const bool file = ::CompareStringOrdinal(source.c_str(), static_cast<int>(std::min<size_t>(source.size(), 7)),
                                             L"file://", 7, TRUE) == CSTR_EQUAL;
    return file || source.find(L"://") == std::wstring::npos ? LocalMovie : NetworkMovie;
}

std::wstring CShellMovies::Path(Build which) const
{
    return (m_strFolder.empty() ? AfxGetModuleFolder() : m_strFolder) + L"\\" + kShellMovies[which].file;
}

const CShellMovies::Embedded& CShellMovies::Movie(Build which)
{
    Embedded& movie = m_embedded[which];
    if (!movie.lookedUp) {
        // A module's resources stay where they are while it is loaded.
        movie.lookedUp = true;
        HMODULE module = AfxGetResourceHandle();
        HRSRC res = ::FindResourceW(module, MAKEINTRESOURCEW(kShellMovies[which].resource), L"SWF");
        HGLOBAL loaded = res ? ::LoadResource(module, res) : nullptr;
        movie.bytes = loaded ? ::LockResource(loaded) : nullptr;
        movie.size = movie.bytes ? ::SizeofResource(module, res) : 0;
    }
    return movie;
}

BOOL CShellMovies::Valid(const std::wstring& path, Build which)
{
    if (::GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES)
        return FALSE;
    const DWORD embedded = Movie(which).size;
    if (embedded == 0)
        return FALSE;
    CFileHandle file(
        ::CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size = {};
    return file && ::GetFileSizeEx(file.Get(), &size) && size.QuadPart == embedded;
}

BOOL CShellMovies::Extract(const std::wstring& path, Build which)
{
    const Embedded& movie = Movie(which);
    const void* bytes = movie.bytes;
    const DWORD size = movie.size;
    if (!bytes || size == 0)
        return FALSE;
    CFileHandle file(
        ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_HIDDEN, nullptr));
    if (!file)
        return FALSE;
    DWORD written = 0;
    const BOOL ok = ::WriteFile(file.Get(), bytes, size, &written, nullptr);
    file.Reset();
    if (ok)
        m_written[which] = path;
    // A cut file would pass for nothing next time: its size is wrong.
    return ok && written == size;
}

std::wstring CShellMovies::Ready(const std::wstring& source)
{
    if (!m_strInstead.empty())
        return m_strInstead;
    // Each Flash sandbox refuses one kind of source: files and URLs each get
    // the build made for them.
    const Build which = For(source);
    const std::wstring path = Path(which);
    if (!Valid(path, which) && !Extract(path, which))
        return std::wstring();
    return path;
}

void CShellMovies::Delete()
{
    for (std::wstring& movie : m_written) {
        if (!movie.empty()) {
            ::SetFileAttributesW(movie.c_str(), FILE_ATTRIBUTE_NORMAL);
            ::DeleteFileW(movie.c_str());
            movie.clear();
        }
    }
}

// ---------------------------------------------------------------------------
// CFlashEngine

BOOL CFlashEngine::Create(CPlayerWnd* host, const RECT& rect)
{
    if (!CreateControl(kFlashClsid, L"", WS_CHILD | WS_VISIBLE, rect, host, IDC_FLASH_PLAYER))
        return FALSE;
    SetProperty(kAllowFullScreen, VT_BSTR, L"true");
    SetProperty(kScale, VT_BSTR, L"noScale");
    return TRUE;
}

// ---------------------------------------------------------------------------
// CFlashPlayer: through the shell movie

std::wstring CFlashPlayer::MovieAddress(const std::wstring& moviePath, const std::wstring& source)
{
    const std::wstring upper = CPlayerWnd::UpperAscii(source);
    return moviePath + L"?file=" + EscapeFileValue(source) +
           (upper.find(L"HTTP://") != std::wstring::npos ? kTailHttp : kTailLocal);
}

BOOL CFlashPlayer::Load(CPlayerWnd*, const std::wstring& source)
{
    const std::wstring path = m_movies ? m_movies->Ready(source) : std::wstring();
    if (path.empty())
        return FALSE;
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
    return MapState(RequestNumber(L"getPlayState", -1));
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

void CFlashPlayer::Play()
{
    CallFunction(Event(L"playpause"));
}

void CFlashPlayer::Pause()
{
    CallFunction(Event(L"playpause"));
}

void CFlashPlayer::Stop()
{
    CallFunction(Event(L"stop"));
}

double CFlashPlayer::GetPosition()
{
    return RequestNumber(L"getPosition", 0);
}

double CFlashPlayer::GetDuration()
{
    return RequestNumber(L"getDuration", 0);
}

void CFlashPlayer::Seek(double seconds)
{
    CallFunction(Event(L"position", static_cast<long>(seconds)));
}

void CFlashPlayer::SetVolume(int volume)
{
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

// ---------------------------------------------------------------------------
// CDirectMoviePlayer: the movie itself in the control

BOOL CDirectMoviePlayer::Load(CPlayerWnd*, const std::wstring& source)
{
    SetProperty(kAllowNetworking, VT_BSTR, L"all");
    SetProperty(kMovie, VT_BSTR, source.c_str());
    m_state = Playing;
    m_lastFrame = -1;
    return TRUE;
}

PlayState CDirectMoviePlayer::GetState()
{
    // What the user's commands left it in; playing only once it has started.
    return m_state != Playing || LoadedWithoutProgress() ? m_state : Undefined;
}

// It has started once its control has it whole (4), or while it still
// streams in (3, interactive) as long as its timeline moves. One that never
// arrives stays below that and is passed over.
BOOL CDirectMoviePlayer::LoadedWithoutProgress()
{
    long ready = 0;
    GetProperty(kReadyState, VT_I4, &ready);
    return ready == 4 || (ready == 3 && TimelineMoves());
}

BOOL CDirectMoviePlayer::TimelineMoves()
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

void CDirectMoviePlayer::Play()
{
    InvokeHelper(kPlayMovie, DISPATCH_METHOD, VT_EMPTY, nullptr, nullptr);
    m_state = Playing;
    m_lastFrame = -1; // it must be seen to move again
}

void CDirectMoviePlayer::Pause()
{
    InvokeHelper(kStopPlay, DISPATCH_METHOD, VT_EMPTY, nullptr, nullptr);
    m_state = Paused;
}

// Stopped at its first frame, so that Play starts it from the beginning.
void CDirectMoviePlayer::Stop()
{
    InvokeHelper(kRewind, DISPATCH_METHOD, VT_EMPTY, nullptr, nullptr);
    InvokeHelper(kStopPlay, DISPATCH_METHOD, VT_EMPTY, nullptr, nullptr);
    m_state = Stopped;
}
