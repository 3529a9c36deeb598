// Sources of what this control does:
//  [FLASH-TLB]  the Flash control's type library as imported by public hosts
//               (a unit generated from Flash.ocx's type library): member
//               kinds, dispatch ids, argument types.
//  [FLASH-API]  "Scripting with Flash Player and ActiveX", as kept in a public
//               Flash runtime's declarations of the control's API: the frame
//               of CurrentFrame/GotoFrame counts from 0; PercentLoaded 0 to
//               100; Play starts the timeline, StopPlay stops it, Rewind goes
//               to the first frame. ReadyState is the control's ready state
//               (DISPID_READYSTATE): 0 loading, 1 uninitialized, 2 loaded,
//               3 interactive, 4 complete; PercentLoaded is how much of the
//               movie has streamed in. Movie takes a path or a URL. The
//               events OnReadyStateChange (DISPID_ONREADYSTATECHANGE, -609,
//               with the new state) and OnProgress (0x7a6, percent done) are
//               not modelled: these controls have no event source, and the
//               player listens to none.
//  [SWF]        the published SWF file format, version 10: header frame
//               rate (8.8 fixed) and frame count, ShowFrame (1) ends a frame,
//               FileAttributes (69) bit UseNetwork, DoABC (82) code. The
//               file header's length is the whole (uncompressed) file's; the
//               format streams: a frame plays once its tags are in.
//  [FLASH-SEC]  Adobe's Flash Player 10 security white paper ("Local file
//               security") and the ActionScript 3.0 developer's guide
//               ("Security sandboxes"): a local movie without UseNetwork is
//               local-with-file-system (no network loads), with it
//               local-with-networking (no local files); only a trust file
//               makes it local-trusted.
//  [AS3-NS]     ActionScript 3 reference, NetStream: FLV and MP4 (H.264)
//               sources; ExternalInterface.addCallback registers a function
//               for CallFunction when the code that calls it runs.
#include "ControlBase.h"
#include "MovieFile.h"

#include <wininet.h>

#include <algorithm>
#include <cwchar>
#include <string>
#include <vector>

namespace sim {
namespace {

// Flash [FLASH-TLB]: the movie is read from the file the control is given;
// its frame advances at the movie's own rate; the requests are answered by
// the callbacks the movie's code registers (our shell movie's four).

const Member kFlashMembers[] = {
    M0(102, Get), M1(102, Put, VT_BSTR), // Movie
    M0(106, Get), M1(106, Put, VT_BOOL), // Loop
    M0(107, Get), M1(107, Put, VT_I4),   // FrameNum
    M0(DISPID_READYSTATE, Get),          // ReadyState (read-only)
    M0(0x70, Method),                    // Play()
    M0(0x74, Method),                    // Rewind()
    M0(124, Get),                        // TotalFrames (read-only)
    M0(125, Get), M1(125, Put, VT_BOOL), // Playing
    M0(0x7e, Method),                    // StopPlay()
    M0(128, Method),                     // CurrentFrame()
    M0(130, Method),                     // PercentLoaded()
    M0(137, Get), M1(137, Put, VT_BSTR), // Scale
    M1(198, Method, VT_BSTR),            // CallFunction(request) -> string
    M0(201, Get), M1(201, Put, VT_BSTR), // AllowNetworking
    M0(202, Get), M1(202, Put, VT_BSTR), // AllowFullScreen
};

std::wstring Unescape(const std::wstring& s)
{
    std::wstring out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == L'%' && i + 2 < s.size() && iswxdigit(s[i + 1]) && iswxdigit(s[i + 2])) {
            out += static_cast<wchar_t>(std::stoi(s.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
}

// A variable of a movie address ("...?a=1&b=2"), decoded; empty when absent.
std::wstring Variable(const std::wstring& address, const std::wstring& name)
{
    const size_t q = address.find(L'?');
    if (q == std::wstring::npos)
        return L"";
    size_t at = q + 1;
    while (at < address.size()) {
        size_t end = address.find(L'&', at);
        if (end == std::wstring::npos)
            end = address.size();
        const std::wstring pair = address.substr(at, end - at);
        const size_t eq = pair.find(L'=');
        if (eq != std::wstring::npos && pair.substr(0, eq) == name)
            return Unescape(pair.substr(eq + 1));
        at = end + 1;
    }
    return L"";
}

// The text between <tag> and </tag> after position from, or empty.
std::wstring Element(const std::wstring& s, const std::wstring& tag, size_t* from)
{
    const std::wstring open = L"<" + tag + L">", close = L"</" + tag + L">";
    size_t b = s.find(open, *from);
    if (b == std::wstring::npos)
        return L"";
    b += open.size();
    size_t e = s.find(close, b);
    if (e == std::wstring::npos)
        return L"";
    *from = e + close.size();
    return s.substr(b, e - b);
}

bool NetworkSource(const std::wstring& s)
{
    return StartsWithNoCase(s, L"http://") || StartsWithNoCase(s, L"https://") || StartsWithNoCase(s, L"rtmp://");
}

const ULONGLONG kNever = ~0ULL;

// What has arrived of the movie: a file here is read whole at once, one over
// HTTP piece by piece.
struct Arrival {
    bool headerIn = false; // the file header: a movie of this length
    uint32_t length = 0;
    uint64_t loaded = 0;   // of the file as its length counts it
    MovieFile movie;       // readable once the frame header is in
    std::vector<ULONGLONG> frameAt; // when each frame's ShowFrame came in
    bool whole = false;    // all of it (a file read here: at once)
    ULONGLONG wholeAt = 0;

    ULONGLONG FrameAt(long frame) const
    {
        if (frame >= 0 && static_cast<size_t>(frame) < frameAt.size())
            return frameAt[static_cast<size_t>(frame)];
        return whole ? wholeAt : kNever;
    }
    // [FLASH-API] in the documented order; which bytes each step waits for
    // is this model's reading: the file header, the frame header, the first
    // frame, the whole length.
    long ReadyState() const
    {
        if (whole && movie.readable)
            return 4;
        if (!frameAt.empty())
            return 3;
        return movie.readable ? 2 : headerIn ? 1 : 0;
    }
    long PercentLoaded() const
    {
        if (whole)
            return movie.readable ? 100 : 0;
        return headerIn && length ? static_cast<long>(std::min<uint64_t>(100, loaded * 100 / length)) : 0;
    }
};

// A movie fetched over HTTP on a thread of the control's, as the real
// control streams a URL: what has arrived is handed over under a lock. The
// control and the thread each hold a reference; the thread also holds the
// module, so that it may end after a control that stopped waiting for it.
class MovieFetch {
public:
    // The thread's handle in *thread; null when it could not start.
    static MovieFetch* Start(const std::wstring& url, HANDLE* thread)
    {
        *thread = nullptr;
        auto* fetch = new MovieFetch(url);
        if (!::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&Run),
                                  &fetch->m_module)) {
            fetch->Release();
            return nullptr;
        }
        fetch->AddRef();
        *thread = ::CreateThread(nullptr, 0, &Run, fetch, 0, nullptr);
        if (!*thread) {
            ::FreeLibrary(fetch->m_module);
            fetch->Release();
            fetch->Release();
            return nullptr;
        }
        return fetch;
    }
    void AddRef() { ::InterlockedIncrement(&m_refs); }
    void Release()
    {
        if (!::InterlockedDecrement(&m_refs))
            delete this;
    }
    // Each wait of the thread ends within kReceiveMs after this (but a
    // connection's, bounded by kConnectMs).
    void Cancel() { ::InterlockedExchange(&m_cancel, 1); }
    // Copies what has arrived into *into when it changed since *version.
    void Take(Arrival* into, LONG* version)
    {
        ::EnterCriticalSection(&m_lock);
        if (*version != m_version) {
            *into = m_arrival;
            *version = m_version;
        }
        ::LeaveCriticalSection(&m_lock);
    }

    static const DWORD kReceiveMs = 250;
    static const DWORD kConnectMs = 10000;

private:
    explicit MovieFetch(std::wstring url) : m_url(std::move(url)) { ::InitializeCriticalSection(&m_lock); }
    ~MovieFetch() { ::DeleteCriticalSection(&m_lock); }

    static DWORD WINAPI Run(void* param)
    {
        auto* self = static_cast<MovieFetch*>(param);
        self->Fetch();
        const HMODULE module = self->m_module;
        self->Release();
        ::FreeLibraryAndExitThread(module, 0);
    }

    void Fetch()
    {
        wchar_t host[256] = {}, path[2048] = {};
        URL_COMPONENTSW parts = {};
        parts.dwStructSize = sizeof parts;
        parts.lpszHostName = host;
        parts.dwHostNameLength = sizeof host / sizeof *host;
        parts.lpszUrlPath = path;
        parts.dwUrlPathLength = sizeof path / sizeof *path;
        if (!::InternetCrackUrlW(m_url.c_str(), 0, 0, &parts))
            return;
        // The query is part of the address the server reads.
        const std::wstring object = path;
        HINTERNET session = ::InternetOpenW(L"Shockwave Flash", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
        HINTERNET connection =
            session ? ::InternetConnectW(session, host, parts.nPort, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0)
                    : nullptr;
        const DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE |
                            INTERNET_FLAG_NO_COOKIES | INTERNET_FLAG_NO_UI |
                            (parts.nScheme == INTERNET_SCHEME_HTTPS ? INTERNET_FLAG_SECURE : 0);
        HINTERNET request = connection ? ::HttpOpenRequestW(connection, L"GET", object.c_str(), nullptr, nullptr,
                                                            nullptr, flags, 0)
                                       : nullptr;
        if (request) {
            // A short receive time-out, so that a wait for the server looks
            // at the cancel flag often; the bytes themselves may take their
            // time. It must be the request's before it connects: Wine gives
            // the connection the time-out the request has then.
            DWORD connect = kConnectMs, receive = kReceiveMs;
            ::InternetSetOptionW(request, INTERNET_OPTION_CONNECT_TIMEOUT, &connect, sizeof connect);
            ::InternetSetOptionW(request, INTERNET_OPTION_RECEIVE_TIMEOUT, &receive, sizeof receive);
        }
        DWORD status = 0, size = sizeof status;
        if (request && ::HttpSendRequestW(request, nullptr, 0, nullptr, 0) &&
            ::HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr) &&
            status == 200) {
            // Only what is there is read: the rest must not hold up what
            // arrived.
            std::vector<char> buffer(16384);
            while (!m_cancel) {
                DWORD available = 0, read = 0;
                if (!::InternetQueryDataAvailable(request, &available, 0, 0)) {
                    // Windows says ERROR_INTERNET_TIMEOUT; Wine passes on
                    // the socket's error.
                    if (::GetLastError() == ERROR_INTERNET_TIMEOUT || ::GetLastError() == WSAETIMEDOUT)
                        continue;
                    break;
                }
                if (!available || !::InternetReadFile(request, buffer.data(),
                                                      std::min<DWORD>(available, static_cast<DWORD>(buffer.size())),
                                                      &read) ||
                    !read || !Arrived(buffer.data(), read))
                    break;
            }
        }
        for (HINTERNET h : {request, connection, session})
            if (h)
                ::InternetCloseHandle(h);
    }

    bool Arrived(const char* bytes, size_t size)
    {
        const bool more = m_reader.Add(bytes, size);
        const ULONGLONG now = ::GetTickCount64();
        ::EnterCriticalSection(&m_lock);
        m_arrival.headerIn = m_reader.HeaderIn();
        m_arrival.length = m_reader.Length();
        m_arrival.loaded = m_reader.Loaded();
        m_arrival.movie = m_reader.Movie();
        while (m_arrival.frameAt.size() < static_cast<size_t>(m_reader.Frames()))
            m_arrival.frameAt.push_back(now);
        if (m_arrival.headerIn && m_arrival.loaded >= m_arrival.length && !m_arrival.whole) {
            m_arrival.whole = true;
            m_arrival.wholeAt = now;
        }
        ++m_version;
        ::LeaveCriticalSection(&m_lock);
        return more && !m_arrival.whole;
    }

    const std::wstring m_url;
    HMODULE m_module = nullptr;
    LONG m_refs = 1;
    volatile LONG m_cancel = 0;
    MovieReader m_reader; // the thread's
    CRITICAL_SECTION m_lock;
    Arrival m_arrival;    // under m_lock
    LONG m_version = 0;
};

class FlashControl : public ControlBase {
public:
    FlashControl() : ControlBase(L"flash", L"Flash", kFlashMembers, sizeof kFlashMembers / sizeof *kFlashMembers) {}
    ~FlashControl() override { StopFetch(); }

protected:
    HRESULT Call(DISPID id, Kind kind, const Args& a, VARIANT* r, EXCEPINFO* info) override
    {
        const ULONGLONG now = ::GetTickCount64();
        Refresh();
        switch (id) {
        case 102: // Movie: loads the movie; its first frame (0) is entered at once
            if (kind == Get)
                return Answer(r, m_movie);
            m_movie = a.Str(0);
            Trace(L"Movie=" + m_movie);
            LoadMovie(now);
            return S_OK;
        case 106: // Loop (default true): back to frame 0 after the last one
            if (kind == Get)
                return AnswerBool(r, m_loop);
            m_loop = a.Bool(0);
            Trace(std::wstring(L"Loop=") + (m_loop ? L"true" : L"false"));
            return S_OK;
        case 107: // FrameNum: counts from 0 [FLASH-API]
            if (kind == Put) {
                m_held = a.Long(0);
                Trace(L"FrameNum=" + std::to_wstring(m_held));
                return S_OK;
            } else {
                const long frame = Frame(now);
                Trace(L"FrameNum -> " + std::to_wstring(frame));
                return Answer(r, frame);
            }
        case DISPID_READYSTATE: // a file that cannot be read (missing, not a
            // movie) or a URL that sends nothing stays loading (0)
            return Answer(r, m_arrival.ReadyState());
        case 130: // PercentLoaded(): bytes in against the header's length [SWF]
            return Answer(r, m_arrival.PercentLoaded());
        case 0x70: // Play(): the timeline goes on from where it stands
            Trace(L"Play");
            if (m_held >= 0) {
                m_anchor = m_held;
                m_anchorAt = static_cast<double>(now);
            }
            m_held = -1;
            return S_OK;
        case 0x7e: // StopPlay(): the timeline holds its frame
            Trace(L"StopPlay");
            if (m_held < 0)
                m_held = Frame(now);
            return S_OK;
        case 0x74: // Rewind(): back to the first frame, playing or not
            Trace(L"Rewind");
            if (m_held >= 0) {
                m_held = 0;
            } else {
                m_anchor = 0;
                m_anchorAt = static_cast<double>(now);
            }
            return S_OK;
        case 124: // TotalFrames: the header's count
            return Answer(r, static_cast<long>(m_file.readable ? m_file.frames : 0));
        case 125:
            if (kind == Get)
                return AnswerBool(r, m_held < 0);
            return S_OK;
        case 128: // CurrentFrame(): as FrameNum
            return Answer(r, Frame(now));
        case 137:
            if (kind == Get)
                return Answer(r, m_scale);
            m_scale = a.Str(0);
            Trace(L"Scale=" + m_scale);
            return S_OK;
        case 198:
            return CallFunction(a.Str(0), now, r, info);
        case 201:
            if (kind == Get)
                return Answer(r, m_networking);
            m_networking = a.Str(0);
            Trace(L"AllowNetworking=" + m_networking);
            return S_OK;
        case 202:
            if (kind == Get)
                return Answer(r, m_fullScreen);
            m_fullScreen = a.Str(0);
            Trace(L"AllowFullScreen=" + m_fullScreen);
            return S_OK;
        default:
            return DISP_E_MEMBERNOTFOUND;
        }
    }

    Shown Show(ULONGLONG now) override
    {
        Shown s;
        if (m_movie.empty())
            return s;
        Refresh();
        RunCode(now);
        const long frame = Frame(now);
        s.extra = L"movie " + Describe(m_movie).name + L": frame " + std::to_wstring(frame) + L" of " +
                  std::to_wstring(m_file.readable ? m_file.frames : 0) +
                  (m_arrival.whole ? L"" : m_file.readable ? L" (loading)" : L" (cannot be read)") +
                  L", " + std::to_wstring(m_arrival.PercentLoaded()) + L"% loaded" +
                  (Registered(now) ? L", callbacks registered" : L"");
        if (m_clock.Loaded()) {
            s.item = m_clock.Info().name;
            s.state = m_refused ? L"refused by the sandbox" : StateName(m_clock.Get(now));
            s.position = m_clock.Position(now);
            s.duration = m_clock.Duration(now);
        } else {
            s.item = Describe(m_movie).name;
            s.state = L"";
        }
        return s;
    }

private:
    void LoadMovie(ULONGLONG now)
    {
        StopFetch();
        m_loadedAt = now;
        m_anchor = 0;
        m_anchorAt = static_cast<double>(now);
        m_held = -1;
        const size_t q = m_movie.find(L'?');
        const std::wstring path = m_movie.substr(0, q);
        m_arrival = Arrival();
        if (StartsWithNoCase(path, L"http://") || StartsWithNoCase(path, L"https://")) {
            // The address as given, query and all: the server reads it.
            m_fetch = MovieFetch::Start(m_movie, &m_thread);
            m_version = 0;
        } else if (!NetworkSource(path)) {
            m_arrival.movie = ReadMovie(path);
            m_arrival.whole = m_arrival.headerIn = m_arrival.movie.readable;
            m_arrival.wholeAt = now;
        }
        m_file = m_arrival.movie;
        m_clock = MediaClock();
        m_refused = false;
        m_started = false;
        // Frame 0's code runs as the movie shows its first frame: our shell
        // movie then reads its variables and, with autostart, starts.
        RunCode(now);
    }

    // What has arrived of a fetched movie since the last look.
    void Refresh()
    {
        if (m_fetch) {
            m_fetch->Take(&m_arrival, &m_version);
            m_file = m_arrival.movie;
        }
    }

    void StopFetch()
    {
        if (!m_fetch)
            return;
        m_fetch->Cancel();
        // Its waits end within the receive time-out; one still connecting
        // ends on its own (it holds what it uses).
        ::WaitForSingleObject(m_thread, 4 * MovieFetch::kReceiveMs);
        ::CloseHandle(m_thread);
        m_thread = nullptr;
        m_fetch->Release();
        m_fetch = nullptr;
    }

    // The movie's code runs when the movie reaches the frame that holds it,
    // however late this learns of it.
    void RunCode(ULONGLONG now)
    {
        if (!m_started && CodeRunsAt() <= now)
            StartMovieCode(CodeRunsAt());
    }

    // The frame the timeline stands at. It plays at the movie's rate from
    // where it was set going, and waits at a frame whose bytes have not all
    // come [SWF]; with Loop it starts again only once the whole movie is in.
    long Frame(ULONGLONG now)
    {
        if (!m_file.readable || m_file.frames <= 1 || m_file.rate <= 0)
            return 0;
        if (m_held >= 0)
            return m_held < m_file.frames ? m_held : m_file.frames - 1;
        const double period = 1000.0 / m_file.rate;
        long f = m_anchor;
        if (m_arrival.FrameAt(f) > now)
            return f;
        double t = std::max(m_anchorAt, static_cast<double>(m_arrival.FrameAt(f)));
        while (!m_arrival.whole || static_cast<double>(m_arrival.wholeAt) > t) {
            if (f + 1 >= m_file.frames) {
                // On the last frame: it goes on (loops) once the rest is in.
                if (!m_arrival.whole || m_arrival.wholeAt > now)
                    return std::min(f, static_cast<long>(m_file.frames - 1));
                m_anchorAt = t = static_cast<double>(m_arrival.wholeAt);
                break;
            }
            const ULONGLONG in = m_arrival.FrameAt(f + 1);
            const double next = std::max(t + period, static_cast<double>(in));
            if (in == kNever || next > static_cast<double>(now))
                return f;
            // What has played is history: later reads go on from here.
            m_anchor = ++f;
            m_anchorAt = t = next;
        }
        const ULONGLONG k = static_cast<ULONGLONG>((static_cast<double>(now) - t) * m_file.rate / 1000.0) + f;
        if (m_loop)
            return static_cast<long>(k % static_cast<ULONGLONG>(m_file.frames));
        return static_cast<long>(k < static_cast<ULONGLONG>(m_file.frames) ? k : m_file.frames - 1);
    }

    // When the movie's code registers its callbacks: as the timeline reaches
    // the frame that holds that code [AS3-NS], counted from the first frame.
    ULONGLONG CodeRunsAt() const
    {
        if (!m_file.readable || m_file.callbackFrame < 0 || (m_file.callbackFrame > 0 && m_file.rate <= 0))
            return kNever;
        const ULONGLONG first = m_arrival.FrameAt(0), in = m_arrival.FrameAt(m_file.callbackFrame);
        if (first == kNever || in == kNever)
            return kNever;
        const ULONGLONG due = first + static_cast<ULONGLONG>(m_file.callbackFrame * 1000.0 /
                                                            (m_file.rate > 0 ? m_file.rate : 1));
        return std::max(due, in);
    }
    bool Registered(ULONGLONG now) const { return CodeRunsAt() <= now; }
    bool Offers(const char* name) const { return m_file.names.count(name) != 0; }

    // The shell movie's start(): a source the sandbox refuses never plays
    // [FLASH-SEC]; NetStream opens FLV and MP4 [AS3-NS].
    void StartMovieCode(ULONGLONG now)
    {
        if (m_started)
            return;
        m_started = true;
        const std::wstring file = Variable(m_movie, L"file");
        if (file.empty())
            return;
        const std::wstring ext = Describe(file).extension;
        const bool decodes = ext == L".FLV" || ext == L".F4V" || ext == L".MP4" || ext == L".M4V";
        m_clock.Load(file, decodes);
        if (Variable(m_movie, L"autostart") == L"true")
            Start(now);
    }
    void Start(ULONGLONG now)
    {
        const bool networkSource = NetworkSource(Variable(m_movie, L"file"));
        // A movie read from a local file sits in a local sandbox.
        m_refused = m_file.useNetwork ? !networkSource : networkSource;
        if (m_refused) {
            Trace(L"sandbox refuses " + Variable(m_movie, L"file"));
            return;
        }
        m_clock.Play(now);
    }

    HRESULT CallFunction(const std::wstring& request, ULONGLONG now, VARIANT* r, EXCEPINFO* info)
    {
        Trace(L"CallFunction " + request);
        size_t at = request.find(L"<invoke name=\"");
        std::wstring name;
        if (at != std::wstring::npos) {
            at += 14;
            name = request.substr(at, request.find(L'"', at) - at);
        }
        const std::string ascii(name.begin(), name.end());
        // The real control fails a call to a function the movie has not
        // registered (yet): E_FAIL from CallFunction, which reaches a
        // dispatch caller as DISP_E_EXCEPTION [COM].
        if (name.empty() || !Registered(now) || !Offers(ascii.c_str()))
            return Raise(info, E_FAIL, nullptr);
        RunCode(now);
        const MediaClock::State s = m_clock.Get(now);
        const bool playing = !m_refused && (s == MediaClock::Opening || s == MediaClock::Buffering ||
                                            s == MediaClock::Playing);
        if (name == L"getPlayState")
            return Answer(r, L"<number>" + std::to_wstring(playing ? 1 : s == MediaClock::Paused ? 2 : 0) +
                                 L"</number>");
        if (name == L"getDuration")
            return Answer(r, L"<number>" + std::to_wstring(static_cast<long>(m_clock.Duration(now))) +
                                 L"</number>");
        if (name == L"getPosition")
            return Answer(r, L"<number>" +
                                 std::to_wstring(playing || s == MediaClock::Paused
                                                     ? static_cast<long>(m_clock.Position(now))
                                                     : 0L) +
                                 L"</number>");
        if (name == L"getFrame")
            return Answer(r, L"<number>" + std::to_wstring(Frame(now) + 1) + L"</number>");
        if (name == L"sendEvent") {
            size_t from = 0;
            const std::wstring ev = Element(request, L"string", &from);
            const std::wstring n = Element(request, L"number", &from);
            if (ev == L"playpause") {
                if (playing)
                    m_clock.Pause(now);
                else if (s == MediaClock::Paused)
                    m_clock.Play(now);
                else
                    Start(now);
            } else if (ev == L"stop") {
                m_clock.Stop(now);
            } else if (ev == L"position") {
                if (playing || s == MediaClock::Paused)
                    m_clock.Seek(_wtof(n.c_str()), now);
            }
            return Answer(r, std::wstring(L"<undefined/>"));
        }
        return Answer(r, std::wstring(L"<undefined/>"));
    }

    std::wstring m_movie, m_scale, m_networking, m_fullScreen;
    MovieFile m_file; // what m_arrival says of the movie
    Arrival m_arrival;
    MovieFetch* m_fetch = nullptr; // a movie coming over HTTP, and its thread
    HANDLE m_thread = nullptr;
    LONG m_version = 0;            // of what was taken from m_fetch
    ULONGLONG m_loadedAt = 0;
    long m_anchor = 0;             // the timeline stood at this frame...
    double m_anchorAt = 0;         // ...at this tick
    bool m_loop = true;
    long m_held = -1;
    bool m_refused = false;
    bool m_started = false;
};

} // namespace

ControlBase* NewFlashControl()
{
    return new FlashControl;
}

} // namespace sim
