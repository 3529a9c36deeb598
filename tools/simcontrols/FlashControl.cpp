// Sources of what this control does:
//  [FLASH-TLB]  the Flash control's type library as imported by public hosts
//               (a unit generated from Flash.ocx's type library): member
//               kinds, dispatch ids, argument types.
//  [FLASH-API]  "Scripting with Flash Player and ActiveX", as kept in a public
//               Flash runtime's declarations of the control's API: the frame
//               of CurrentFrame/GotoFrame counts from 0; PercentLoaded 0 to
//               100; Play starts the timeline, StopPlay stops it, Rewind goes
//               to the first frame. ReadyState is the control's ready state
//               (DISPID_READYSTATE): 0 loading ... 4 complete.
//  [SWF]        the published SWF file format, version 10: header frame
//               rate (8.8 fixed) and frame count, ShowFrame (1) ends a frame,
//               FileAttributes (69) bit UseNetwork, DoABC (82) code.
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

class FlashControl : public ControlBase {
public:
    FlashControl() : ControlBase(L"flash", L"Flash", kFlashMembers, sizeof kFlashMembers / sizeof *kFlashMembers) {}

protected:
    HRESULT Call(DISPID id, Kind kind, const Args& a, VARIANT* r, EXCEPINFO* info) override
    {
        const ULONGLONG now = ::GetTickCount64();
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
        case DISPID_READYSTATE: // complete once the movie file is read; one
            // that cannot be read here (on the network, missing) never is
            return Answer(r, static_cast<long>(m_file.readable ? 4 : 0));
        case 130: // PercentLoaded()
            return Answer(r, static_cast<long>(m_file.readable ? 100 : 0));
        case 0x70: // Play(): the timeline goes on from where it stands
            Trace(L"Play");
            if (m_held >= 0)
                m_frameFrom = now - static_cast<ULONGLONG>(m_held * 1000.0 / (m_file.rate > 0 ? m_file.rate : 1));
            m_held = -1;
            return S_OK;
        case 0x7e: // StopPlay(): the timeline holds its frame
            Trace(L"StopPlay");
            if (m_held < 0)
                m_held = Frame(now);
            return S_OK;
        case 0x74: // Rewind(): back to the first frame, playing or not
            Trace(L"Rewind");
            if (m_held >= 0)
                m_held = 0;
            else
                m_frameFrom = now;
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
        RunCode(now);
        const long frame = Frame(now);
        s.extra = L"movie " + Describe(m_movie).name + L": frame " + std::to_wstring(frame) + L" of " +
                  std::to_wstring(m_file.readable ? m_file.frames : 0) +
                  (m_file.readable ? L"" : L" (cannot be read)") +
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
        m_loadedAt = m_frameFrom = now;
        m_held = -1;
        const size_t q = m_movie.find(L'?');
        const std::wstring path = m_movie.substr(0, q);
        // A movie on the network is not fetched here: it cannot be read.
        m_file = NetworkSource(path) ? MovieFile() : ReadMovie(path);
        m_clock = MediaClock();
        m_refused = false;
        m_started = false;
        // Frame 0's code runs as the movie shows its first frame: our shell
        // movie then reads its variables and, with autostart, starts.
        RunCode(now);
    }

    // The movie's code runs when the movie reaches the frame that holds it,
    // however late this learns of it.
    void RunCode(ULONGLONG now)
    {
        if (!m_started && Registered(now))
            StartMovieCode(m_loadedAt + static_cast<ULONGLONG>(m_file.callbackFrame * 1000.0 /
                                                               (m_file.rate > 0 ? m_file.rate : 1)));
    }

    long Frame(ULONGLONG now) const
    {
        if (!m_file.readable || m_file.frames <= 1 || m_file.rate <= 0)
            return 0;
        if (m_held >= 0)
            return m_held < m_file.frames ? m_held : m_file.frames - 1;
        const ULONGLONG k = static_cast<ULONGLONG>(Since(now, m_frameFrom) * m_file.rate / 1000.0);
        if (m_loop)
            return static_cast<long>(k % static_cast<ULONGLONG>(m_file.frames));
        return static_cast<long>(k < static_cast<ULONGLONG>(m_file.frames) ? k : m_file.frames - 1);
    }

    // Whether the movie's code has registered its callbacks by now: it does
    // when it reaches the frame that holds that code [AS3-NS].
    bool Registered(ULONGLONG now) const
    {
        if (!m_file.readable || m_file.callbackFrame < 0)
            return false;
        if (m_file.callbackFrame == 0)
            return true;
        if (m_file.rate <= 0)
            return false;
        const double due = m_file.callbackFrame * 1000.0 / m_file.rate;
        return Since(now, m_loadedAt) >= due;
    }
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
    MovieFile m_file;
    ULONGLONG m_loadedAt = 0;
    ULONGLONG m_frameFrom = 0; // when the timeline stood at frame 0
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
