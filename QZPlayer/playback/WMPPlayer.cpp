#include "WMPPlayer.h"

#include "PlayerWnd.h"

// The interfaces' GUIDs are in no import library: defined here, once.
#include <initguid.h>

#include <wmp.h>
#include <wmpids.h>

#include <cstring>
#include <cctype>
#include <string>
#include <vector>

namespace {

const CLSID kMediaClsid = {0x6bf52a52, 0x394a, 0x11d3, {0xb1, 0x53, 0x00, 0xc0, 0x4f, 0x79, 0xfa, 0xa6}};

// The network object's members, read by dispatch id (network, bufferingProgress).
const DISPID kNetwork = 7;
const DISPID kBufferingProgress = 808;

// What winebuild writes into every builtin module's DOS header.
const char kWineBuiltin[] = "Wine builtin DLL";

// Whether the object's code comes from one of Wine's builtin modules: its
// vtable lies in that module's image.
BOOL IsWineBuiltin(IUnknown* object)
{
    const void* vtable = *reinterpret_cast<void* const*>(object);
    HMODULE module = nullptr;
    if (!::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                              static_cast<LPCWSTR>(vtable), &module))
        return FALSE;
    return std::memcmp(reinterpret_cast<const char*>(module) + 0x40, kWineBuiltin, sizeof kWineBuiltin - 1) == 0;
}

// A failed typed call is what a failed dispatch call was: thrown, so that
// commands report it and the poll's reads swallow it.
void Check(HRESULT hr)
{
    if (FAILED(hr))
        throw new COleDispatchException(hr);
}

class CBstr {
public:
    explicit CBstr(const std::wstring& text) : m_b(::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
    ~CBstr() { ::SysFreeString(m_b); }
    CBstr(const CBstr&) = delete;
    CBstr& operator=(const CBstr&) = delete;
    operator BSTR() const { return m_b; }

private:
    BSTR m_b;
};

} // namespace

// The control's events: play state (5101) and open state (5001), each with
// one number, whatever integer type it comes as (Wine sends VT_UI4, the
// declarations say long). It only records them: nothing calls back into the
// control from inside its own event.
class CWMPEventSink final : public IDispatch {
public:
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override
    {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        if (iid == IID_IUnknown || iid == IID_IDispatch || iid == IID__WMPOCXEvents)
            *out = static_cast<IDispatch*>(this);
        else
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++m_refs; }
    STDMETHODIMP_(ULONG) Release() override
    {
        const ULONG left = --m_refs;
        if (!left)
            delete this;
        return left;
    }
    STDMETHODIMP GetTypeInfoCount(UINT* n) override
    {
        if (n)
            *n = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return DISP_E_UNKNOWNNAME; }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* dp, VARIANT*, EXCEPINFO*, UINT*) override
    {
        if ((id != DISPID_WMPCOREEVENT_PLAYSTATECHANGE && id != DISPID_WMPCOREEVENT_OPENSTATECHANGE) || !dp ||
            dp->cArgs < 1)
            return S_OK; // the many other events are not ours
        VARIANT v;
        ::VariantInit(&v);
        if (FAILED(::VariantChangeType(&v, &dp->rgvarg[dp->cArgs - 1], 0, VT_I4)))
            return DISP_E_TYPEMISMATCH;
        if (id == DISPID_WMPCOREEVENT_PLAYSTATECHANGE) {
            m_nPlayState = v.lVal;
            if (m_history.size() < kHistory)
                m_history.push_back(v.lVal);
            // What the control said and when, for whoever follows a control
            // with a debugger (the demo reads it too).
            ::OutputDebugStringW(FormatString(L"QZPlayer: media play state %ld at %lu ms\n", v.lVal,
                                              static_cast<unsigned long>(::GetTickCount64() - m_nLoaded))
                                     .c_str());
        } else
            m_nOpenState = v.lVal;
        return S_OK;
    }

    long m_nPlayState = -1; // none heard yet
    long m_nOpenState = -1;
    ULONGLONG m_nLoaded = 0; // when the source was given
    static const size_t kHistory = 64;
    std::vector<long> m_history; // the first play states heard

private:
    ~CWMPEventSink() = default;
    ULONG m_refs = 1;
};

CWMVPlayer::CWMVPlayer() = default;

CWMVPlayer::~CWMVPlayer()
{
    if (m_pPlayer)
        DestroyWindow();
}

BOOL CWMVPlayer::Create(CPlayerWnd* host, const RECT& rect)
{
    if (!CreateControl(kMediaClsid, L"", WS_CHILD | WS_VISIBLE, rect, host, IDC_WMP_PLAYER))
        return FALSE;
    IUnknown* control = GetControlUnknown();
    if (FAILED(control->QueryInterface(IID_IWMPPlayer4, m_pPlayer.Receive()))) {
        m_pPlayer.Detach();
        DestroyWindow();
        return FALSE;
    }
    if (FAILED(control->QueryInterface(IID_IDispatch, m_pDispatch.Receive())))
        m_pDispatch.Detach();
    m_bWine = !m_pDispatch || IsWineBuiltin(m_pPlayer.Get());
    if (FAILED(m_pPlayer->get_controls(reinterpret_cast<IWMPControls**>(m_pControls.Receive()))))
        m_pControls.Detach();
    if (m_pControls && FAILED(m_pPlayer->get_settings(reinterpret_cast<IWMPSettings**>(m_pSettings.Receive()))))
        m_pSettings.Detach();
    if (!m_pControls || !m_pSettings) {
        DestroyWindow();
        return FALSE;
    }
    // Without an event source the state is read from playState instead.
    CComPtr<IConnectionPointContainer> points;
    if (FAILED(control->QueryInterface(IID_IConnectionPointContainer, points.Receive())))
        points.Detach();
    else if (FAILED(points->FindConnectionPoint(IID__WMPOCXEvents,
                                                reinterpret_cast<IConnectionPoint**>(m_pEvents.Receive()))))
        m_pEvents.Detach();
    if (m_pEvents) {
        m_pSink.Attach(new CWMPEventSink);
        if (FAILED(m_pEvents->Advise(m_pSink.Get(), &m_dwCookie))) {
            m_pEvents.Reset();
            m_pSink.Reset();
        }
    }
    // A URL must not play inside put_URL: the engine starts it, and sees a
    // refusal there.
    m_pSettings->put_autoStart(VARIANT_FALSE);
    // Nothing is loaded, so a pause changes nothing where it works; Wine's
    // refuses it whatever the state.
    m_bCanPause = m_pControls->pause() != E_NOTIMPL;
    return TRUE;
}

BOOL CWMVPlayer::DestroyWindow()
{
    // Wine's control crashes at exit when released without a stop (a failed
    // play or the user's stop already made one), and its events must not
    // reach a sink that is going.
    if (m_pControls && m_bRunning)
        m_pControls->stop();
    m_bRunning = FALSE;
    if (m_pEvents) {
        m_pEvents->Unadvise(m_dwCookie);
        m_pEvents.Reset();
    }
    m_pSink.Reset();
    m_pControls.Reset();
    m_pSettings.Reset();
    m_pDispatch.Reset();
    m_pPlayer.Reset();
    return PlaybackEngine::DestroyWindow();
}

std::wstring CWMVPlayer::PathOfFileUrl(const std::wstring& source)
{
    if (source.size() < 5 || CPlayerWnd::UpperAscii(source.substr(0, 5)) != L"FILE:")
        return source;
    std::wstring rest = source.substr(5), prefix;
    if (rest.compare(0, 3, L"///") == 0)
        rest = rest.substr(3);
    else if (CPlayerWnd::UpperAscii(rest.substr(0, 12)) == L"//LOCALHOST/")
        rest = rest.substr(12);
    else if (rest.compare(0, 2, L"//") == 0)
        prefix = L"\\\\", rest = rest.substr(2); // a share: file://server/share/...
    // Escapes stand for the bytes of UTF-8; text that does not decode as
    // UTF-8 keeps them.
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, rest.c_str(), static_cast<int>(rest.size()), nullptr, 0,
                                           nullptr, nullptr);
    std::string bytes(static_cast<size_t>(size), '\0'), decoded;
    ::WideCharToMultiByte(CP_UTF8, 0, rest.c_str(), static_cast<int>(rest.size()), &bytes[0], size, nullptr, nullptr);
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '%' && i + 2 < bytes.size() && isxdigit(static_cast<unsigned char>(bytes[i + 1])) &&
            isxdigit(static_cast<unsigned char>(bytes[i + 2])) && bytes.compare(i + 1, 2, "00") != 0) {
            decoded += static_cast<char>(std::stoi(bytes.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            decoded += bytes[i];
        }
    }
    std::wstring path(decoded.size(), L'\0');
    const int n = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, decoded.data(),
                                        static_cast<int>(decoded.size()), &path[0], static_cast<int>(path.size()));
    if (n <= 0 && !decoded.empty())
        path = rest;
    else
        path.resize(static_cast<size_t>(n));
    for (wchar_t& c : path)
        if (c == L'/')
            c = L'\\';
    return prefix + path;
}

BOOL CWMVPlayer::IsSoundOnly(const std::wstring& source)
{
    std::wstring upper = CPlayerWnd::UpperAscii(source.substr(0, source.find(L'?')));
    const size_t dot = upper.rfind(L'.');
    if (dot == std::wstring::npos)
        return FALSE;
    const std::wstring ext = upper.substr(dot);
    for (const wchar_t* sound : {L".MP3", L".WAV", L".WMA", L".M4A", L".AAC", L".FLAC", L".MID", L".MPA"})
        if (ext == sound)
            return TRUE;
    return FALSE;
}

HRESULT CWMVPlayer::StartPlaying()
{
    const HRESULT hr = m_pControls->play();
    if (SUCCEEDED(hr)) {
        m_bFailed = FALSE;
        m_bRunning = TRUE;
        return hr;
    }
    // Wine's control crashes on a play after a failed one unless stopped.
    m_pControls->stop();
    m_bFailed = TRUE;
    m_bRunning = FALSE;
    return hr;
}

BOOL CWMVPlayer::Load(CPlayerWnd*, const std::wstring& source)
{
    if (!m_strSource.empty())
        m_pControls->stop(); // the old graph goes before the new source comes
    m_strSource = source;
    m_dDuration = 0;
    if (m_pSink)
        m_pSink->m_nLoaded = ::GetTickCount64();
    // The look only: a control without them still plays.
    m_pPlayer->put_stretchToFit(VARIANT_TRUE);
    m_pPlayer->put_uiMode(CBstr(L"none"));
    Check(m_pPlayer->put_URL(CBstr(PathOfFileUrl(source))));
    return SUCCEEDED(StartPlaying());
}

PlayState CWMVPlayer::GetState()
{
    if (m_bFailed)
        return Stopped; // it never started: the stall rule passes it over
    if (m_pSink && m_pSink->m_nPlayState >= 0)
        return MapState(m_pSink->m_nPlayState);
    WMPPlayState state = wmppsUndefined;
    if (m_pPlayer->get_playState(&state) != S_OK)
        return Undefined;
    return MapState(state);
}

PlayState CWMVPlayer::MapState(long state)
{
    switch (state) {
    case 0:
        return Undefined;
    case 1:
    case 8:
        return Stopped;
    case 2:
        return Paused;
    case 6:
        return Buffering;
    default:
        return Playing;
    }
}

void CWMVPlayer::Play()
{
    StartPlaying();
}

void CWMVPlayer::Pause()
{
    if (!m_bCanPause)
        return;
    const HRESULT hr = m_pControls->pause();
    if (hr == E_NOTIMPL)
        m_bCanPause = FALSE;
    else
        Check(hr);
}

void CWMVPlayer::Stop()
{
    const HRESULT hr = m_pControls->stop();
    m_bRunning = FALSE;
    m_bFailed = FALSE;
    Check(hr);
}

double CWMVPlayer::GetPosition()
{
    // Wine's answers S_FALSE without a position before play.
    double pos = 0;
    return m_pControls->get_currentPosition(&pos) == S_OK ? pos : 0;
}

double CWMVPlayer::GetDuration()
{
    // The current media, not controls.currentItem, which Wine's control
    // does not implement.
    CComPtr<IWMPMedia> media;
    if (FAILED(m_pPlayer->get_currentMedia(reinterpret_cast<IWMPMedia**>(media.Receive()))) || !media) {
        media.Detach();
        return 0;
    }
    double duration = 0;
    if (media->get_duration(&duration) != S_OK)
        return 0;
    if (duration != m_dDuration) {
        m_dDuration = duration;
        ::OutputDebugStringW(FormatString(L"QZPlayer: media duration %.3f s\n", duration).c_str());
    }
    return duration;
}

std::vector<long> CWMVPlayer::PlayStatesHeard() const
{
    return m_pSink ? m_pSink->m_history : std::vector<long>();
}

BOOL CWMVPlayer::CanSeek()
{
    // Seeking media with sound and video in Wine's control runs past its end
    // and hangs the next stop and release for good.
    return !m_bWine || IsSoundOnly(m_strSource);
}

void CWMVPlayer::Seek(double seconds)
{
    if (CanSeek())
        Check(m_pControls->put_currentPosition(seconds));
}

void CWMVPlayer::SetVolume(int volume)
{
    m_nVolume = volume;
    if (m_bMuteByVolume && m_bMuted)
        return; // kept for the unmute
    Check(m_pSettings->put_volume(volume));
}

void CWMVPlayer::SetMute(BOOL on)
{
    m_bMuted = on;
    if (!m_bMuteByVolume) {
        const HRESULT hr = m_pSettings->put_mute(on ? VARIANT_TRUE : VARIANT_FALSE);
        if (hr != E_NOTIMPL) {
            Check(hr);
            return;
        }
        m_bMuteByVolume = TRUE;
    }
    Check(m_pSettings->put_volume(on ? 0 : m_nVolume));
}

BOOL CWMVPlayer::GetBufferingProgress(long* progress)
{
    if (!m_pDispatch)
        return FALSE;
    IDispatch* network = nullptr;
    AfxInvokeHelper(m_pDispatch.Get(), kNetwork, DISPATCH_PROPERTYGET, VT_DISPATCH, &network, VTS_NONE);
    if (!network)
        return FALSE;
    COleDispatchDriver driver(network);
    driver.GetProperty(kBufferingProgress, VT_I4, progress);
    return TRUE;
}

void CWMVPlayer::FullScreen(BOOL on)
{
    if (!on || GetState() == Stopped)
        return;
    if (!m_bHostFullScreen) {
        const HRESULT hr = m_pPlayer->put_fullScreen(VARIANT_TRUE);
        if (hr != E_NOTIMPL) {
            Check(hr);
            return;
        }
        m_bHostFullScreen = TRUE;
    }
    ::PostMessageW(::GetParent(m_hWnd), WM_PLAYER_FULLSCREEN, kHostFullScreen, 0);
}
