// Simulated player controls: stand-ins for the Flash, Windows Media and Real
// ActiveX controls on machines that have none of them. One in-process server
// serves the three class ids; each object answers exactly the dispatch ids
// the player calls, runs a media clock and appends every call to a log.
//
// The media length comes from the source: "...-<n>S.<ext>" plays n seconds
// (default 5). A source containing "MISSING" never plays: it ends at once.
// QZ_SIM_LOG names the log file (one line per call, appended, shared).
#include <ole2.h>
#include <ocidl.h>
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

const CLSID kFlash = {0xd27cdb6e, 0xae6d, 0x11cf, {0x96, 0xb8, 0x44, 0x45, 0x53, 0x54, 0x00, 0x00}};
const CLSID kMedia = {0x6bf52a52, 0x394a, 0x11d3, {0xb1, 0x53, 0x00, 0xc0, 0x4f, 0x79, 0xfa, 0xa6}};
const CLSID kReal = {0xcfcdaa03, 0x8be4, 0x11cf, {0xb8, 0x4b, 0x00, 0x20, 0xaf, 0xbb, 0xcc, 0xfa}};

// How long an item takes to open (QZ_SIM_OPENING_MS, default 300 ms); the
// Flash movie shows its first frame after a third of it.
ULONGLONG OpeningMs()
{
    static const ULONGLONG ms = [] {
        wchar_t v[32];
        return ::GetEnvironmentVariableW(L"QZ_SIM_OPENING_MS", v, 32) ? static_cast<ULONGLONG>(_wtoi(v)) : 300ULL;
    }();
    return ms;
}

LONG g_live = 0;
LONG g_locks = 0;

std::wstring Upper(std::wstring s)
{
    for (wchar_t& c : s)
        if (c >= L'a' && c <= L'z')
            c = static_cast<wchar_t>(c - L'a' + L'A');
    return s;
}

void Log(const std::wstring& line)
{
    wchar_t path[MAX_PATH];
    if (!::GetEnvironmentVariableW(L"QZ_SIM_LOG", path, MAX_PATH))
        return;
    HANDLE f = ::CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE)
        return;
    std::wstring text = line + L"\r\n";
    int bytes = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                      nullptr);
    std::string utf8(static_cast<size_t>(bytes), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &utf8[0], bytes, nullptr, nullptr);
    DWORD written = 0;
    ::WriteFile(f, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
    ::CloseHandle(f);
}

std::wstring Number(double v)
{
    wchar_t b[64];
    swprintf(b, 64, L"%g", v);
    return b;
}

// A media item's clock, in seconds.
class MediaClock {
public:
    enum State { Idle, Opening, Playing, Paused, Stopped, Ended };

    void Load(const std::wstring& source)
    {
        const std::wstring u = Upper(source);
        m_length = 5;
        m_missing = u.find(L"MISSING") != std::wstring::npos;
        size_t dot = u.rfind(L'.');
        size_t s = dot == std::wstring::npos || dot == 0 ? std::wstring::npos : dot - 1;
        if (s != std::wstring::npos && u[s] == L'S') {
            size_t b = s;
            while (b > 0 && iswdigit(u[b - 1]))
                --b;
            if (b < s && b > 0 && u[b - 1] == L'-')
                m_length = _wtoi(u.substr(b, s - b).c_str());
        }
        m_state = Idle;
        m_pos = 0;
    }
    void Play()
    {
        Update();
        if (m_state == Playing)
            return;
        if (m_state == Paused) {
            Start(m_pos);
            return;
        }
        m_state = Opening;
        m_since = ::GetTickCount64();
        m_pos = 0;
    }
    void Pause()
    {
        Update();
        if (m_state == Playing || m_state == Opening) {
            m_pos = Position();
            m_state = Paused;
        }
    }
    void Stop()
    {
        m_state = Stopped;
        m_pos = 0;
    }
    void Seek(double s)
    {
        Update();
        if (s < 0)
            s = 0;
        if (s > m_length)
            s = m_length;
        if (m_state == Playing)
            Start(s);
        else
            m_pos = s;
    }
    State Get()
    {
        Update();
        return m_state;
    }
    double Position()
    {
        Update();
        if (m_state == Playing) {
            double p = m_pos + static_cast<double>(::GetTickCount64() - m_since) / 1000.0;
            return p < m_length ? p : m_length;
        }
        return m_pos;
    }
    // The length is known once the item has opened.
    double Duration()
    {
        Update();
        return (m_state == Idle || m_state == Opening || m_missing) ? 0 : m_length;
    }

private:
    void Start(double from)
    {
        m_state = Playing;
        m_pos = from;
        m_since = ::GetTickCount64();
    }
    void Update()
    {
        const ULONGLONG now = ::GetTickCount64();
        if (m_state == Opening && now - m_since >= OpeningMs()) {
            if (m_missing) {
                m_state = Ended;
                m_pos = 0;
            } else {
                Start(0);
            }
        }
        if (m_state == Playing && m_pos + static_cast<double>(now - m_since) / 1000.0 >= m_length) {
            m_state = Ended;
            m_pos = m_length;
        }
    }

    State m_state = Idle;
    double m_length = 5;
    double m_pos = 0;
    ULONGLONG m_since = 0;
    bool m_missing = false;
};

// Arguments as they come (last first), converted to what a member wants.
struct Args {
    DISPPARAMS* dp;
    UINT Count() const { return dp ? dp->cArgs : 0; }
    bool Get(UINT i, VARTYPE vt, VARIANT* out) const
    {
        ::VariantInit(out);
        if (i >= Count())
            return false;
        return SUCCEEDED(::VariantChangeType(out, &dp->rgvarg[Count() - 1 - i], 0, vt));
    }
    std::wstring Str(UINT i) const
    {
        VARIANT v;
        if (!Get(i, VT_BSTR, &v))
            return L"";
        std::wstring s(v.bstrVal ? v.bstrVal : L"");
        ::VariantClear(&v);
        return s;
    }
    double Dbl(UINT i) const
    {
        VARIANT v;
        return Get(i, VT_R8, &v) ? v.dblVal : 0;
    }
    long Long(UINT i) const
    {
        VARIANT v;
        return Get(i, VT_I4, &v) ? v.lVal : 0;
    }
    bool Bool(UINT i) const
    {
        VARIANT v;
        return Get(i, VT_BOOL, &v) && v.boolVal != VARIANT_FALSE;
    }
    VARTYPE Type(UINT i) const { return i < Count() ? dp->rgvarg[Count() - 1 - i].vt : static_cast<VARTYPE>(VT_EMPTY); }
};

// IDispatch without a type library; a derived object answers by dispatch id.
class DispatchBase : public IDispatch {
public:
    DispatchBase() { ::InterlockedIncrement(&g_live); }
    virtual ~DispatchBase() { ::InterlockedDecrement(&g_live); }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(::InterlockedIncrement(&m_refs)); }
    STDMETHODIMP_(ULONG) Release() override
    {
        LONG left = ::InterlockedDecrement(&m_refs);
        if (!left)
            delete this;
        return static_cast<ULONG>(left);
    }
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override
    {
        *out = (iid == IID_IUnknown || iid == IID_IDispatch) ? static_cast<IDispatch*>(this) : nullptr;
        if (!*out)
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP GetTypeInfoCount(UINT* n) override
    {
        *n = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return DISP_E_UNKNOWNNAME; }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* dp, VARIANT* result, EXCEPINFO* info,
                        UINT*) override
    {
        if (result)
            ::VariantInit(result);
        return Call(id, flags, Args{dp}, result, info);
    }

protected:
    virtual HRESULT Call(DISPID id, WORD flags, const Args& a, VARIANT* result, EXCEPINFO* info) = 0;

    static HRESULT Answer(VARIANT* r, long v)
    {
        if (r) {
            r->vt = VT_I4;
            r->lVal = v;
        }
        return S_OK;
    }
    static HRESULT Answer(VARIANT* r, double v)
    {
        if (r) {
            r->vt = VT_R8;
            r->dblVal = v;
        }
        return S_OK;
    }
    static HRESULT Answer(VARIANT* r, const std::wstring& v)
    {
        if (r) {
            r->vt = VT_BSTR;
            r->bstrVal = ::SysAllocString(v.c_str());
        }
        return S_OK;
    }
    static HRESULT Answer(VARIANT* r, IDispatch* v)
    {
        if (r) {
            r->vt = VT_DISPATCH;
            r->pdispVal = v;
        } else if (v) {
            v->Release();
        }
        return S_OK;
    }
    static HRESULT Raise(EXCEPINFO* info, const wchar_t* text)
    {
        if (info) {
            ZeroMemory(info, sizeof *info);
            info->scode = E_FAIL;
            info->bstrSource = ::SysAllocString(L"SimControls");
            info->bstrDescription = ::SysAllocString(text);
        }
        return DISP_E_EXCEPTION;
    }

private:
    LONG m_refs = 1;
};

// What every simulated control does as an embedded object: it takes a site,
// makes a child window of the site's window at in-place activation and takes
// it down at deactivation.
class ControlBase : public DispatchBase, public IOleObject, public IOleInPlaceObject {
public:
    explicit ControlBase(const wchar_t* name) : m_name(name) { Log(std::wstring(m_name) + L" create"); }
    ~ControlBase() override
    {
        Log(std::wstring(m_name) + L" release");
        if (m_wnd)
            ::DestroyWindow(m_wnd);
        if (m_site)
            m_site->Release();
    }
    STDMETHODIMP_(ULONG) AddRef() override { return DispatchBase::AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return DispatchBase::Release(); }
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override
    {
        *out = nullptr;
        if (iid == IID_IUnknown || iid == IID_IOleObject)
            *out = static_cast<IOleObject*>(this);
        else if (iid == IID_IOleWindow || iid == IID_IOleInPlaceObject)
            *out = static_cast<IOleInPlaceObject*>(this);
        else if (iid == IID_IDispatch)
            *out = static_cast<IDispatch*>(this);
        if (!*out)
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }

    STDMETHODIMP SetClientSite(IOleClientSite* site) override
    {
        if (site)
            site->AddRef();
        if (m_site)
            m_site->Release();
        m_site = site;
        return S_OK;
    }
    STDMETHODIMP GetClientSite(IOleClientSite** out) override
    {
        *out = m_site;
        if (m_site)
            m_site->AddRef();
        return S_OK;
    }
    STDMETHODIMP SetHostNames(LPCOLESTR, LPCOLESTR) override { return S_OK; }
    STDMETHODIMP Close(DWORD) override { return S_OK; }
    STDMETHODIMP SetMoniker(DWORD, IMoniker*) override { return E_NOTIMPL; }
    STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker**) override { return E_NOTIMPL; }
    STDMETHODIMP InitFromData(IDataObject*, BOOL, DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP GetClipboardData(DWORD, IDataObject**) override { return E_NOTIMPL; }
    STDMETHODIMP DoVerb(LONG verb, LPMSG, IOleClientSite*, LONG, HWND, LPCRECT) override
    {
        if (verb != OLEIVERB_INPLACEACTIVATE && verb != OLEIVERB_SHOW)
            return E_NOTIMPL;
        if (m_wnd)
            return S_OK;
        IOleInPlaceSite* site = nullptr;
        if (!m_site || FAILED(m_site->QueryInterface(IID_IOleInPlaceSite, reinterpret_cast<void**>(&site))))
            return E_NOINTERFACE;
        HWND parent = nullptr;
        site->GetWindow(&parent);
        IOleInPlaceFrame* frame = nullptr;
        IOleInPlaceUIWindow* doc = nullptr;
        RECT pos = {}, clip = {};
        OLEINPLACEFRAMEINFO fi = {};
        fi.cb = sizeof fi;
        site->GetWindowContext(&frame, &doc, &pos, &clip, &fi);
        if (frame)
            frame->Release();
        if (doc)
            doc->Release();
        site->OnInPlaceActivate();
        site->Release();
        m_wnd = ::CreateWindowExW(0, L"STATIC", m_name, WS_CHILD | SS_BLACKRECT, pos.left, pos.top,
                                  pos.right - pos.left, pos.bottom - pos.top, parent, nullptr, nullptr, nullptr);
        return m_wnd ? S_OK : E_FAIL;
    }
    STDMETHODIMP EnumVerbs(IEnumOLEVERB**) override { return E_NOTIMPL; }
    STDMETHODIMP Update() override { return S_OK; }
    STDMETHODIMP IsUpToDate() override { return S_OK; }
    STDMETHODIMP GetUserClassID(CLSID*) override { return E_NOTIMPL; }
    STDMETHODIMP GetUserType(DWORD, LPOLESTR*) override { return E_NOTIMPL; }
    STDMETHODIMP SetExtent(DWORD, SIZEL*) override { return E_NOTIMPL; }
    STDMETHODIMP GetExtent(DWORD, SIZEL*) override { return E_NOTIMPL; }
    STDMETHODIMP Advise(IAdviseSink*, DWORD*) override { return E_NOTIMPL; }
    STDMETHODIMP Unadvise(DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP EnumAdvise(IEnumSTATDATA**) override { return E_NOTIMPL; }
    STDMETHODIMP GetMiscStatus(DWORD, DWORD*) override { return E_NOTIMPL; }
    STDMETHODIMP SetColorScheme(LOGPALETTE*) override { return E_NOTIMPL; }

    STDMETHODIMP GetWindow(HWND* out) override
    {
        *out = m_wnd;
        return m_wnd ? S_OK : E_FAIL;
    }
    STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP InPlaceDeactivate() override
    {
        if (m_wnd)
            ::DestroyWindow(m_wnd);
        m_wnd = nullptr;
        IOleInPlaceSite* site = nullptr;
        if (m_site && SUCCEEDED(m_site->QueryInterface(IID_IOleInPlaceSite, reinterpret_cast<void**>(&site)))) {
            site->OnInPlaceDeactivate();
            site->Release();
        }
        return S_OK;
    }
    STDMETHODIMP UIDeactivate() override { return S_OK; }
    STDMETHODIMP SetObjectRects(LPCRECT pos, LPCRECT) override
    {
        if (m_wnd && pos)
            ::MoveWindow(m_wnd, pos->left, pos->top, pos->right - pos->left, pos->bottom - pos->top, TRUE);
        return S_OK;
    }
    STDMETHODIMP ReactivateAndUndo() override { return E_NOTIMPL; }

protected:
    void Trace(const std::wstring& what) { Log(std::wstring(m_name) + L" " + what); }

    const wchar_t* m_name;
    MediaClock m_clock;
    HWND m_wnd = nullptr;

private:
    IOleClientSite* m_site = nullptr;
};

// ---------------------------------------------------------------------------
// Flash: the movie address, and the invoke requests our shell movie answers.

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

class FlashControl : public ControlBase {
public:
    FlashControl() : ControlBase(L"flash") {}

protected:
    HRESULT Call(DISPID id, WORD flags, const Args& a, VARIANT* r, EXCEPINFO* info) override
    {
        const bool put = (flags & DISPATCH_PROPERTYPUT) != 0;
        switch (id) {
        case 102: // Movie
            if (!put)
                return Answer(r, m_movie);
            m_movie = a.Str(0);
            m_movieAt = ::GetTickCount64();
            Trace(L"Movie=" + m_movie);
            StartMovie();
            return S_OK;
        case 106:
            Trace(std::wstring(L"Loop=") + (a.Bool(0) ? L"true" : L"false"));
            return S_OK;
        case 107: { // FrameNum: the first frame shows a moment after the movie was set
            long frame = (!m_movie.empty() && ::GetTickCount64() - m_movieAt >= OpeningMs() / 3) ? 1 : 0;
            Trace(L"FrameNum -> " + std::to_wstring(frame));
            return Answer(r, frame);
        }
        case 137:
            Trace(L"Scale=" + a.Str(0));
            return S_OK;
        case 198:
            return CallFunction(a.Str(0), r, info);
        case 201:
            Trace(L"AllowNetworking=" + a.Str(0));
            return S_OK;
        case 202:
            Trace(L"AllowFullScreen=" + a.Str(0));
            return S_OK;
        default:
            Trace(L"unknown " + std::to_wstring(id));
            return DISP_E_MEMBERNOTFOUND;
        }
    }

private:
    void StartMovie()
    {
        // The shell movie carries the source in its address; a movie of any
        // other kind is played as it is and answers no requests.
        const std::wstring lower = m_movie;
        size_t q = lower.find(L"?file=");
        m_shell = q != std::wstring::npos;
        if (!m_shell) {
            m_clock.Load(m_movie);
            return;
        }
        size_t end = lower.find(L'&', q);
        m_file = Unescape(lower.substr(q + 6, end == std::wstring::npos ? std::wstring::npos : end - q - 6));
        m_clock.Load(m_file);
        if (lower.find(L"autostart=true") != std::wstring::npos)
            m_clock.Play();
    }

    HRESULT CallFunction(const std::wstring& request, VARIANT* r, EXCEPINFO* info)
    {
        Trace(L"CallFunction " + request);
        if (!m_shell)
            return Raise(info, L"Error calling method on NPObject.");
        size_t at = request.find(L"<invoke name=\"");
        if (at == std::wstring::npos)
            return Raise(info, L"Bad request.");
        at += 14;
        const std::wstring name = request.substr(at, request.find(L'"', at) - at);
        if (name == L"getPlayState") {
            MediaClock::State s = m_clock.Get();
            long code = (s == MediaClock::Playing || s == MediaClock::Opening) ? 1 : s == MediaClock::Paused ? 2 : 0;
            return Answer(r, L"<number>" + std::to_wstring(code) + L"</number>");
        }
        if (name == L"getDuration")
            return Answer(r, L"<number>" + std::to_wstring(static_cast<long>(m_clock.Duration())) + L"</number>");
        if (name == L"getPosition")
            return Answer(r, L"<number>" + std::to_wstring(static_cast<long>(m_clock.Position())) + L"</number>");
        if (name == L"sendEvent") {
            size_t from = 0;
            const std::wstring ev = Element(request, L"string", &from);
            const std::wstring n = Element(request, L"number", &from);
            if (ev == L"playpause") {
                MediaClock::State s = m_clock.Get();
                if (s == MediaClock::Playing || s == MediaClock::Opening)
                    m_clock.Pause();
                else
                    m_clock.Play();
            } else if (ev == L"stop") {
                m_clock.Stop();
            } else if (ev == L"position") {
                m_clock.Seek(_wtof(n.c_str()));
            } else if (ev != L"volume") {
                return Raise(info, L"Unknown event.");
            }
            return Answer(r, std::wstring(L"<undefined/>"));
        }
        return Raise(info, L"Error calling method on NPObject.");
    }

    std::wstring m_movie, m_file;
    ULONGLONG m_movieAt = 0;
    bool m_shell = false;
};

// ---------------------------------------------------------------------------
// Windows Media: the control, its controls and settings objects, the media.

long MediaPlayState(MediaClock& clock)
{
    switch (clock.Get()) {
    case MediaClock::Idle:
        return 10; // ready
    case MediaClock::Opening:
        return 9; // transitioning
    case MediaClock::Playing:
        return 3;
    case MediaClock::Paused:
        return 2;
    case MediaClock::Stopped:
        return 1;
    case MediaClock::Ended:
        return 8;
    }
    return 0;
}

class MediaItem : public DispatchBase {
public:
    explicit MediaItem(double duration) : m_duration(duration) {}

protected:
    HRESULT Call(DISPID id, WORD, const Args&, VARIANT* r, EXCEPINFO*) override
    {
        if (id != 757)
            return DISP_E_MEMBERNOTFOUND;
        Log(L"media duration -> " + Number(m_duration));
        return Answer(r, m_duration);
    }

private:
    double m_duration;
};

class MediaControl;

// The controls and settings objects keep the control alive while held.
class MediaPart : public DispatchBase {
public:
    MediaPart(IDispatch* owner, MediaClock* clock, bool settings) : m_owner(owner), m_clock(clock), m_settings(settings)
    {
        m_owner->AddRef();
    }
    ~MediaPart() override { m_owner->Release(); }

protected:
    HRESULT Call(DISPID id, WORD flags, const Args& a, VARIANT* r, EXCEPINFO*) override
    {
        const bool put = (flags & DISPATCH_PROPERTYPUT) != 0;
        if (m_settings) {
            if (id == 104) {
                Log(std::wstring(L"media settings.mute=") + (a.Bool(0) ? L"true" : L"false"));
                return S_OK;
            }
            if (id == 107) {
                Log(L"media settings.volume=" + std::to_wstring(a.Long(0)));
                return S_OK;
            }
            return DISP_E_MEMBERNOTFOUND;
        }
        switch (id) {
        case 51:
            Log(L"media controls.play");
            m_clock->Play();
            return S_OK;
        case 52:
            Log(L"media controls.stop");
            m_clock->Stop();
            return S_OK;
        case 53:
            Log(L"media controls.pause");
            m_clock->Pause();
            return S_OK;
        case 56:
            if (put) {
                Log(L"media controls.currentPosition=" + Number(a.Dbl(0)));
                m_clock->Seek(a.Dbl(0));
                return S_OK;
            }
            return Answer(r, m_clock->Position());
        case 60: {
            MediaClock::State s = m_clock->Get();
            if (s == MediaClock::Idle)
                return Answer(r, static_cast<IDispatch*>(nullptr));
            return Answer(r, static_cast<IDispatch*>(new MediaItem(m_clock->Duration())));
        }
        default:
            return DISP_E_MEMBERNOTFOUND;
        }
    }

private:
    IDispatch* m_owner;
    MediaClock* m_clock;
    bool m_settings;
};

class MediaControl : public ControlBase {
public:
    MediaControl() : ControlBase(L"media") {}

protected:
    HRESULT Call(DISPID id, WORD flags, const Args& a, VARIANT* r, EXCEPINFO*) override
    {
        switch (id) {
        case 1:
            Trace(L"URL=" + a.Str(0));
            m_clock.Load(a.Str(0));
            return S_OK;
        case 4:
            Trace(L"controls");
            return Answer(r, static_cast<IDispatch*>(new MediaPart(static_cast<IDispatch*>(this), &m_clock, false)));
        case 5:
            Trace(L"settings");
            return Answer(r, static_cast<IDispatch*>(new MediaPart(static_cast<IDispatch*>(this), &m_clock, true)));
        case 10:
            return Answer(r, MediaPlayState(m_clock));
        case 21:
            Trace(std::wstring(L"fullScreen=") + (a.Bool(0) ? L"true" : L"false"));
            return S_OK;
        case 23:
            Trace(L"uiMode=" + a.Str(0));
            return S_OK;
        case 24:
            Trace(std::wstring(L"stretchToFit=") + (a.Bool(0) ? L"true" : L"false"));
            return S_OK;
        default:
            (void)flags;
            Trace(L"unknown " + std::to_wstring(id));
            return DISP_E_MEMBERNOTFOUND;
        }
    }
};

// ---------------------------------------------------------------------------
// Real: methods by dispatch id, times in milliseconds.

class RealControl : public ControlBase {
public:
    RealControl() : ControlBase(L"real") {}

protected:
    HRESULT Call(DISPID id, WORD, const Args& a, VARIANT* r, EXCEPINFO*) override
    {
        switch (id) {
        case 219:
            Trace(L"SetControls " + a.Str(0));
            return S_OK;
        case 215:
            Trace(L"SetSource " + a.Str(0));
            m_clock.Load(a.Str(0));
            return S_OK;
        case 275:
        case 235:
        case 343:
            Trace(std::to_wstring(id) + L" " + (a.Bool(0) ? L"true" : L"false"));
            return S_OK;
        case 105:
            Trace(std::wstring(L"105=") + (a.Bool(0) ? L"true" : L"false"));
            return S_OK;
        case 257:
            Trace(L"DoPlay");
            m_clock.Play();
            return S_OK;
        case 258:
            Trace(L"DoPause");
            m_clock.Pause();
            return S_OK;
        case 202:
            Trace(L"DoStop");
            m_clock.Stop();
            return S_OK;
        case 260:
            switch (m_clock.Get()) {
            case MediaClock::Opening:
                return Answer(r, 2L); // contacting, buffering
            case MediaClock::Playing:
                return Answer(r, 3L);
            case MediaClock::Paused:
                return Answer(r, 4L);
            default:
                return Answer(r, 0L);
            }
        case 259:
            return Answer(r, static_cast<long>(m_clock.Position() * 1000));
        case 261:
            return Answer(r, static_cast<long>(m_clock.Duration() * 1000));
        case 269:
            Trace(L"SetPosition " + std::to_wstring(a.Long(0)) + (a.Type(0) == VT_I4 ? L"" : L" (not I4)"));
            m_clock.Seek(a.Long(0) / 1000.0);
            return S_OK;
        case 227:
            Trace(L"SetVolume " + std::to_wstring(a.Long(0)) + (a.Type(0) == VT_I2 ? L"" : L" (not I2)"));
            return S_OK;
        case 229:
            Trace(std::wstring(L"SetMute ") + (a.Bool(0) ? L"true" : L"false"));
            return S_OK;
        case 293:
            Trace(L"SetFullScreen");
            return S_OK;
        default:
            Trace(L"unknown " + std::to_wstring(id));
            return DISP_E_MEMBERNOTFOUND;
        }
    }
};

// ---------------------------------------------------------------------------

class Factory : public IClassFactory {
public:
    explicit Factory(int kind) : m_kind(kind) {}
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override
    {
        *out = (iid == IID_IUnknown || iid == IID_IClassFactory) ? static_cast<IClassFactory*>(this) : nullptr;
        return *out ? S_OK : E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** out) override
    {
        *out = nullptr;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        ControlBase* c = m_kind == 1 ? static_cast<ControlBase*>(new FlashControl)
                         : m_kind == 2 ? static_cast<ControlBase*>(new MediaControl)
                                       : static_cast<ControlBase*>(new RealControl);
        HRESULT hr = c->QueryInterface(iid, out);
        c->Release();
        return hr;
    }
    STDMETHODIMP LockServer(BOOL lock) override
    {
        if (lock)
            ::InterlockedIncrement(&g_locks);
        else
            ::InterlockedDecrement(&g_locks);
        return S_OK;
    }

private:
    int m_kind;
};

Factory g_flash(1), g_media(2), g_real(3);

} // namespace

extern "C" HRESULT __stdcall SimGetClassObject(REFCLSID clsid, REFIID iid, void** out)
{
    Factory* f = clsid == kFlash ? &g_flash : clsid == kMedia ? &g_media : clsid == kReal ? &g_real : nullptr;
    if (!f) {
        *out = nullptr;
        return CLASS_E_CLASSNOTAVAILABLE;
    }
    return f->QueryInterface(iid, out);
}

extern "C" HRESULT __stdcall SimCanUnloadNow()
{
    return (g_live == 0 && g_locks == 0) ? S_OK : S_FALSE;
}

// Objects alive now (controls and their sub-objects), for leak tests.
extern "C" LONG __stdcall SimLiveObjects()
{
    return g_live;
}
