// Sources of what this control does:
//  [WMP-IDL]    Wine's include/wmp.idl, with the Windows
//               SDK for controls.currentItem, which Wine declares without
//               propget: ids, kinds and types of the player, controls,
//               settings, network and media objects; WMPPlayState values.
//  [WMP-H]      mingw-w64's wmp.h and wmpids.h (generated from the same
//               interface definitions): the typed interfaces IWMPPlayer4
//               (over IWMPCore3, IWMPCore2, IWMPCore), IWMPControls,
//               IWMPSettings, IWMPMedia in vtable order; the event source
//               _WMPOCXEvents {6BF52A51-...}, OpenStateChange 5001 and
//               PlayStateChange 5101 with one long argument; WMPOpenState
//               (12 media opening, 13 media open).
//  [WMP-DOC]    Microsoft's Windows Media Player SDK: playState values
//               (9 transitioning, 6 buffering, 10 ready, 8 media ended);
//               settings.autoStart defaults to true; setting URL without
//               autoStart leaves the player ready (10); network.bufferingProgress
//               is a percentage; a URL that cannot be opened leaves the player
//               ready (10), which it keeps; the control raises
//               PlayStateChange and OpenStateChange on the container's sink
//               of its outgoing interface (queried for that interface).
//  [WMP-KB]     Microsoft KB 316992 "File types supported by Windows Media
//               Player" (Player 12): .asf .wma .wmv .wm .avi .mpg .mpeg .mp2
//               .mp3 .wav .mov .m4a .mp4 .m4v .3gp .aac .m2ts .flac ...; no
//               .flv and no RealMedia without codecs added.
//  [WINE-WMP]   Wine 8's own control as measured (docs/platform-notes.md,
//               COM and the controls): no IDispatch (Invoke of its typed
//               interfaces is a stub, E_NOTIMPL); get_playState,
//               get_openState, pause, put_mute, put_uiMode, put_stretchToFit,
//               put_fullScreen and currentItem answer E_NOTIMPL; events carry
//               VT_UI4; URLs (http://, file:///) fail at play with 0x80070003;
//               play after a failed play crashes it, seeking media with sound
//               and video hangs it, releasing it while it plays crashes it;
//               it draws video into a separate top-level window of class
//               "wine_quartz_window" in the host's process (its own window is a
//               placeholder), made when the video starts, gone with the graph.
//
// The switch QZ_SIM_MEDIA_WITHHOLD (read when a control is made) lists, by
// comma, what this control withholds: "IDispatch", any typed member by its
// name in [WMP-H] ("pause", "put_mute", "get_playState", ...; each answers
// E_NOTIMPL on both faces), "faults" (the real control's faults of
// [WINE-WMP], each logged as "media FAULT ..." instead of crashing or
// hanging), or "wine" for all of [WINE-WMP].
#include "ControlBase.h"

// The GUIDs of [WMP-H] are in no import library: defined here.
#include <initguid.h>

#include <wmp.h>
#include <wmpids.h>

#include <cwchar>
#include <string>
#include <vector>

namespace sim {
namespace {

// Windows Media [WMP-IDL]: the control, its controls, settings and network
// objects, and the media item.

const Member kPlayerMembers[] = {
    M0(1, Get),  M1(1, Put, VT_BSTR),  // URL
    M0(2, Get),                        // openState
    M0(3, Method),                     // close()
    M0(4, Get),                        // controls
    M0(5, Get),                        // settings
    M0(6, Get),                        // currentMedia
    M0(7, Get),                        // network
    M0(10, Get),                       // playState
    M0(19, Get), M1(19, Put, VT_BOOL), // enabled
    M0(21, Get), M1(21, Put, VT_BOOL), // fullScreen
    M0(23, Get), M1(23, Put, VT_BSTR), // uiMode
    M0(24, Get), M1(24, Put, VT_BOOL), // stretchToFit
};
const Member kControlsMembers[] = {
    M0(51, Method), M0(52, Method), M0(53, Method),    // play, stop, pause
    M0(56, Get),    M1(56, Put, VT_R8),                // currentPosition
    M0(60, Get),    M1(60, Put, VT_DISPATCH),          // currentItem
};
const Member kSettingsMembers[] = {
    M0(101, Get), M1(101, Put, VT_BOOL), // autoStart
    M0(104, Get), M1(104, Put, VT_BOOL), // mute
    M0(107, Get), M1(107, Put, VT_I4),   // volume
};
const Member kNetworkMembers[] = {
    M0(807, Get), // bufferingCount
    M0(808, Get), // bufferingProgress
    M0(809, Get), M1(809, Put, VT_I4), // bufferingTime
};
const Member kMediaMembers[] = {
    M0(751, Get), // sourceURL
    M0(757, Get), // duration
    M0(764, Get), // name
};

// The formats Windows Media opens as it comes [WMP-KB].
bool MediaOpens(const std::wstring& extension)
{
    static const wchar_t* const known[] = {L".ASF", L".WMA", L".WMV", L".WM",  L".AVI", L".MPG", L".MPEG",
                                           L".MP2", L".MP3", L".MPA", L".WAV", L".MOV", L".M4A", L".MP4",
                                           L".M4V", L".3GP", L".AAC", L".M2TS", L".FLAC", L".MID", L".ASX"};
    for (const wchar_t* k : known)
        if (extension == k)
            return true;
    return false;
}

// What the real control opens [WINE-WMP]: WMV, MP4 and FLV with sound,
// MP3, WAV; the rest fails at play.
bool WineOpens(const std::wstring& extension)
{
    for (const wchar_t* k : {L".WMV", L".ASF", L".MP4", L".FLV", L".MP3", L".WAV"})
        if (extension == k)
            return true;
    return false;
}

// Media with both sound and video, by its container (the sounds-only
// formats of [WMP-KB] aside): what a seek hangs the real control on [WINE-WMP].
bool HasVideo(const std::wstring& extension)
{
    static const wchar_t* const audio[] = {L".WMA", L".MP3", L".MPA", L".WAV", L".M4A", L".AAC", L".FLAC", L".MID"};
    for (const wchar_t* a : audio)
        if (extension == a)
            return false;
    return !extension.empty();
}

long MediaPlayState(MediaClock::State s, bool loaded)
{
    switch (s) {
    case MediaClock::Idle:
        return loaded ? 10 : 0; // ready once a URL is set without autoStart [WMP-DOC]; else undefined
    case MediaClock::Opening:
        return 9; // transitioning
    case MediaClock::Buffering:
        return 6;
    case MediaClock::Playing:
        return 3;
    case MediaClock::Paused:
        return 2;
    case MediaClock::Stopped:
        return 1;
    case MediaClock::Ended:
        return 8; // media ended
    case MediaClock::Failed:
        return 10; // ready, and it stays so [WMP-DOC]
    }
    return 0;
}

// What QZ_SIM_MEDIA_WITHHOLD says, read once per control.
class Withheld {
public:
    Withheld()
    {
        wchar_t v[1024] = {};
        if (!::GetEnvironmentVariableW(L"QZ_SIM_MEDIA_WITHHOLD", v, 1024))
            return;
        std::wstring all = v;
        size_t at = 0;
        while (at <= all.size()) {
            size_t comma = all.find(L',', at);
            if (comma == std::wstring::npos)
                comma = all.size();
            std::wstring name = all.substr(at, comma - at);
            if (name == L"wine") {
                for (const wchar_t* w : {L"IDispatch", L"get_playState", L"get_openState", L"pause", L"put_mute",
                                         L"put_uiMode", L"put_stretchToFit", L"put_fullScreen", L"currentItem",
                                         L"faults"})
                    m_names.push_back(w);
            } else if (!name.empty()) {
                m_names.push_back(name);
            }
            at = comma + 1;
        }
    }
    bool Has(const wchar_t* name) const
    {
        for (const std::wstring& n : m_names)
            if (n == name)
                return true;
        return false;
    }

private:
    std::vector<std::wstring> m_names;
};

// What the control and the objects it hands out share.
struct MediaState {
    explicit MediaState(MediaClock& c) : clock(c) {}
    MediaClock& clock; // the control's own (ControlBase paints it)
    std::wstring url;
    bool autoStart = true;
    bool mute = false;
    long volume = 50;
    Withheld withheld;
    bool faults = false;     // the real control's faults [WINE-WMP]
    bool playFailed = false; // the last play failed, and no stop came since
    bool running = false;    // played since the last stop
    HRESULT refused = S_OK;  // what play answers for this URL [WINE-WMP]
    // The control's events for what a call changed, raised inside the call.
    void (*notify)(void*) = nullptr;
    void* owner = nullptr;
    void Changed() const
    {
        if (notify)
            notify(owner);
    }

    // E_NOTIMPL for a withheld member, logged as tried.
    bool Withholds(const wchar_t* name) const
    {
        if (!withheld.Has(name))
            return false;
        Log(std::wstring(L"media ") + name + L" not implemented");
        return true;
    }
};

HRESULT Out(BSTR* out, const std::wstring& v)
{
    if (!out)
        return E_POINTER;
    *out = ::SysAllocStringLen(v.data(), static_cast<UINT>(v.size()));
    return S_OK;
}

HRESULT Out(VARIANT_BOOL* out, bool v)
{
    if (!out)
        return E_POINTER;
    *out = v ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

template <class T>
HRESULT Out(T* out, T v)
{
    if (!out)
        return E_POINTER;
    *out = v;
    return S_OK;
}

// The typed objects' IUnknown and IDispatch go to their DispatchBase; the
// dispatch face answers E_NOTIMPL while IDispatch is withheld [WINE-WMP].
#define SIM_DUAL_FACE(Typed)                                                                                          \
    STDMETHODIMP_(ULONG) AddRef() override { return DispatchBase::AddRef(); }                                        \
    STDMETHODIMP_(ULONG) Release() override { return DispatchBase::Release(); }                                      \
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override                                                     \
    {                                                                                                                \
        if (!out)                                                                                                    \
            return E_POINTER;                                                                                        \
        *out = nullptr;                                                                                              \
        if (iid == IID_IUnknown || iid == IID_##Typed)                                                               \
            *out = static_cast<Typed*>(this);                                                                        \
        else if (iid == IID_IDispatch && !m_state->withheld.Has(L"IDispatch"))                                       \
            *out = static_cast<Typed*>(this);                                                                        \
        if (!*out)                                                                                                   \
            return E_NOINTERFACE;                                                                                    \
        AddRef();                                                                                                    \
        return S_OK;                                                                                                 \
    }                                                                                                                \
    STDMETHODIMP GetTypeInfoCount(UINT* n) override { return DispatchBase::GetTypeInfoCount(n); }                    \
    STDMETHODIMP GetTypeInfo(UINT i, LCID l, ITypeInfo** t) override { return DispatchBase::GetTypeInfo(i, l, t); } \
    STDMETHODIMP GetIDsOfNames(REFIID r, LPOLESTR* n, UINT c, LCID l, DISPID* d) override                          \
    {                                                                                                                \
        return DispatchBase::GetIDsOfNames(r, n, c, l, d);                                                           \
    }                                                                                                                \
    STDMETHODIMP Invoke(DISPID id, REFIID r, LCID l, WORD f, DISPPARAMS* dp, VARIANT* res, EXCEPINFO* e, UINT* a)  \
        override                                                                                                     \
    {                                                                                                                \
        if (m_state->withheld.Has(L"IDispatch"))                                                                    \
            return E_NOTIMPL;                                                                                        \
        return DispatchBase::Invoke(id, r, l, f, dp, res, e, a);                                                     \
    }

// A failed typed call seen through the dispatch face: DISP_E_EXCEPTION with
// the HRESULT [COM].
HRESULT Through(HRESULT hr, EXCEPINFO* info)
{
    if (SUCCEEDED(hr) || hr == E_NOTIMPL)
        return hr;
    if (info) {
        ZeroMemory(info, sizeof *info);
        info->scode = hr;
        info->bstrSource = ::SysAllocString(L"WMPlayer.OCX");
    }
    return DISP_E_EXCEPTION;
}

class MediaItem : public DispatchBase, public IWMPMedia {
public:
    MediaItem(const std::wstring& url, const std::wstring& name, double duration, MediaState* state,
              IUnknown* owner)
        : DispatchBase(L"media item", kMediaMembers, sizeof kMediaMembers / sizeof *kMediaMembers), m_url(url),
          m_name(name), m_duration(duration), m_state(state), m_owner(owner)
    {
        m_owner->AddRef();
    }
    ~MediaItem() override { m_owner->Release(); }
    SIM_DUAL_FACE(IWMPMedia)

    STDMETHODIMP get_isIdentical(IWMPMedia*, VARIANT_BOOL*) override { return E_NOTIMPL; }
    STDMETHODIMP get_sourceURL(BSTR* out) override { return Out(out, m_url); }
    STDMETHODIMP get_name(BSTR* out) override { return Out(out, m_name); }
    STDMETHODIMP put_name(BSTR) override { return E_NOTIMPL; }
    STDMETHODIMP get_imageSourceWidth(LONG*) override { return E_NOTIMPL; }
    STDMETHODIMP get_imageSourceHeight(LONG*) override { return E_NOTIMPL; }
    STDMETHODIMP get_markerCount(LONG*) override { return E_NOTIMPL; }
    STDMETHODIMP getMarkerTime(LONG, double*) override { return E_NOTIMPL; }
    STDMETHODIMP getMarkerName(LONG, BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP get_duration(double* out) override
    {
        Log(L"media duration -> " + Number(m_duration));
        return Out(out, m_duration);
    }
    STDMETHODIMP get_durationString(BSTR* out) override { return Out(out, Clock(m_duration)); }
    STDMETHODIMP get_attributeCount(LONG*) override { return E_NOTIMPL; }
    STDMETHODIMP getAttributeName(LONG, BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP getItemInfo(BSTR, BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP setItemInfo(BSTR, BSTR) override { return E_NOTIMPL; }
    STDMETHODIMP getItemInfoByAtom(LONG, BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP isMemberOf(IWMPPlaylist*, VARIANT_BOOL*) override { return E_NOTIMPL; }
    STDMETHODIMP isReadOnlyItem(BSTR, VARIANT_BOOL*) override { return E_NOTIMPL; }

protected:
    HRESULT Call(DISPID id, Kind, const Args&, VARIANT* r, EXCEPINFO*) override
    {
        switch (id) {
        case 751:
            return Answer(r, m_url);
        case 757:
            Log(L"media duration -> " + Number(m_duration));
            return Answer(r, m_duration);
        default:
            return Answer(r, m_name);
        }
    }

private:
    std::wstring m_url, m_name;
    double m_duration;
    MediaState* m_state;
    IUnknown* m_owner;
};

// The control's media item, once a URL is set; nullptr before.
IWMPMedia* NewItem(MediaState* s, IUnknown* owner, ULONGLONG now)
{
    if (!s->clock.Loaded())
        return nullptr;
    return new MediaItem(s->url, s->clock.Info().name, s->clock.Duration(now), s, owner);
}

// The controls object keeps the control alive while held.
class MediaControls : public DispatchBase, public IWMPControls {
public:
    MediaControls(IUnknown* owner, MediaState* state)
        : DispatchBase(L"media controls", kControlsMembers, sizeof kControlsMembers / sizeof *kControlsMembers),
          m_owner(owner), m_state(state)
    {
        m_owner->AddRef();
    }
    ~MediaControls() override
    {
        Log(L"media controls release");
        m_owner->Release();
    }
    SIM_DUAL_FACE(IWMPControls)

    STDMETHODIMP get_isAvailable(BSTR, VARIANT_BOOL*) override { return E_NOTIMPL; }
    STDMETHODIMP play() override
    {
        if (m_state->Withholds(L"play"))
            return E_NOTIMPL;
        Log(L"media controls.play");
        MediaState& s = *m_state;
        if (s.faults && s.playFailed) {
            Log(L"media FAULT play after a failed play (the real control crashes)");
            return E_FAIL;
        }
        const ULONGLONG now = ::GetTickCount64();
        if (s.faults && s.clock.Loaded()) {
            // The real control opens at play and fails there [WINE-WMP].
            HRESULT hr = s.refused;
            if (SUCCEEDED(hr) && s.clock.Info().missing)
                hr = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
            else if (SUCCEEDED(hr) && !WineOpens(s.clock.Info().extension))
                hr = static_cast<HRESULT>(0x80040265L); // VFW_E_UNSUPPORTED_STREAM
            if (FAILED(hr)) {
                s.playFailed = true;
                return hr;
            }
        }
        s.clock.Play(now);
        s.running = true;
        s.Changed();
        return S_OK;
    }
    STDMETHODIMP stop() override
    {
        if (m_state->Withholds(L"stop"))
            return E_NOTIMPL;
        Log(L"media controls.stop");
        m_state->clock.Stop(::GetTickCount64());
        m_state->playFailed = false;
        m_state->running = false;
        m_state->Changed();
        return S_OK;
    }
    STDMETHODIMP pause() override
    {
        if (m_state->Withholds(L"pause"))
            return E_NOTIMPL;
        Log(L"media controls.pause");
        m_state->clock.Pause(::GetTickCount64());
        m_state->Changed();
        return S_OK;
    }
    STDMETHODIMP fastForward() override { return E_NOTIMPL; }
    STDMETHODIMP fastReverse() override { return E_NOTIMPL; }
    STDMETHODIMP get_currentPosition(double* out) override
    {
        if (m_state->Withholds(L"get_currentPosition"))
            return E_NOTIMPL;
        if (m_state->faults && !m_state->running)
            return S_FALSE; // before play, nothing written [WINE-WMP]
        return Out(out, m_state->clock.Position(::GetTickCount64()));
    }
    STDMETHODIMP put_currentPosition(double seconds) override
    {
        if (m_state->Withholds(L"put_currentPosition"))
            return E_NOTIMPL;
        Log(L"media controls.currentPosition=" + Number(seconds));
        if (m_state->faults && HasVideo(m_state->clock.Info().extension))
            Log(L"media FAULT seek of media with sound and video (the real control hangs)");
        m_state->clock.Seek(seconds, ::GetTickCount64());
        m_state->Changed();
        return S_OK;
    }
    STDMETHODIMP get_currentPositionString(BSTR* out) override
    {
        return Out(out, Clock(m_state->clock.Position(::GetTickCount64())));
    }
    STDMETHODIMP next() override { return E_NOTIMPL; }
    STDMETHODIMP previous() override { return E_NOTIMPL; }
    STDMETHODIMP currentItem(IWMPMedia** out) override
    {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        if (m_state->Withholds(L"currentItem"))
            return E_NOTIMPL;
        *out = NewItem(m_state, m_owner, ::GetTickCount64());
        return S_OK;
    }
    STDMETHODIMP put_currentItem(IWMPMedia*) override { return S_OK; }
    STDMETHODIMP get_currentMarker(LONG*) override { return E_NOTIMPL; }
    STDMETHODIMP put_currentMarker(LONG) override { return E_NOTIMPL; }
    STDMETHODIMP playItem(IWMPMedia*) override { return E_NOTIMPL; }

protected:
    HRESULT Call(DISPID id, Kind kind, const Args& a, VARIANT* r, EXCEPINFO* info) override
    {
        switch (id) {
        case 51:
            return Through(play(), info);
        case 52:
            return Through(stop(), info);
        case 53:
            return Through(pause(), info);
        case 56:
            if (kind == Put)
                return Through(put_currentPosition(a.Dbl(0)), info);
            {
                double p = 0;
                const HRESULT hr = get_currentPosition(&p);
                return FAILED(hr) ? Through(hr, info) : Answer(r, p);
            }
        default: { // 60 currentItem: the media of the URL, once one is set
            if (kind == Put)
                return S_OK;
            IWMPMedia* item = nullptr;
            const HRESULT hr = currentItem(&item);
            if (FAILED(hr))
                return Through(hr, info);
            return Answer(r, static_cast<IDispatch*>(item));
        }
        }
    }

private:
    IUnknown* m_owner;
    MediaState* m_state;
};

class MediaSettings : public DispatchBase, public IWMPSettings {
public:
    MediaSettings(IUnknown* owner, MediaState* state)
        : DispatchBase(L"media settings", kSettingsMembers, sizeof kSettingsMembers / sizeof *kSettingsMembers),
          m_owner(owner), m_state(state)
    {
        m_owner->AddRef();
    }
    ~MediaSettings() override
    {
        Log(L"media settings release");
        m_owner->Release();
    }
    SIM_DUAL_FACE(IWMPSettings)

    // A flag's setter: refused where withheld, else set and logged.
    HRESULT PutFlag(const std::wstring& name, bool& flag, VARIANT_BOOL v)
    {
        if (m_state->Withholds((L"put_" + name).c_str()))
            return E_NOTIMPL;
        flag = v != VARIANT_FALSE;
        Log(L"media settings." + name + (flag ? L"=true" : L"=false"));
        return S_OK;
    }

    STDMETHODIMP get_isAvailable(BSTR, VARIANT_BOOL*) override { return E_NOTIMPL; }
    STDMETHODIMP get_autoStart(VARIANT_BOOL* out) override { return Out(out, m_state->autoStart); }
    STDMETHODIMP put_autoStart(VARIANT_BOOL v) override { return PutFlag(L"autoStart", m_state->autoStart, v); }
    STDMETHODIMP get_baseURL(BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP put_baseURL(BSTR) override { return E_NOTIMPL; }
    STDMETHODIMP get_defaultFrame(BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP put_defaultFrame(BSTR) override { return E_NOTIMPL; }
    STDMETHODIMP get_invokeURLs(VARIANT_BOOL*) override { return E_NOTIMPL; }
    STDMETHODIMP put_invokeURLs(VARIANT_BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP get_mute(VARIANT_BOOL* out) override
    {
        if (m_state->Withholds(L"get_mute"))
            return E_NOTIMPL;
        return Out(out, m_state->mute);
    }
    STDMETHODIMP put_mute(VARIANT_BOOL v) override { return PutFlag(L"mute", m_state->mute, v); }
    STDMETHODIMP get_playCount(LONG*) override { return E_NOTIMPL; }
    STDMETHODIMP put_playCount(LONG) override { return E_NOTIMPL; }
    STDMETHODIMP get_rate(double*) override { return E_NOTIMPL; }
    STDMETHODIMP put_rate(double) override { return E_NOTIMPL; }
    STDMETHODIMP get_balance(LONG*) override { return E_NOTIMPL; }
    STDMETHODIMP put_balance(LONG) override { return E_NOTIMPL; }
    STDMETHODIMP get_volume(LONG* out) override { return Out(out, static_cast<LONG>(m_state->volume)); }
    STDMETHODIMP put_volume(LONG v) override
    {
        if (m_state->Withholds(L"put_volume"))
            return E_NOTIMPL;
        m_state->volume = v;
        Log(L"media settings.volume=" + std::to_wstring(v));
        return S_OK;
    }
    STDMETHODIMP getMode(BSTR, VARIANT_BOOL*) override { return E_NOTIMPL; }
    STDMETHODIMP setMode(BSTR, VARIANT_BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP get_enableErrorDialogs(VARIANT_BOOL*) override { return E_NOTIMPL; }
    STDMETHODIMP put_enableErrorDialogs(VARIANT_BOOL) override { return E_NOTIMPL; }

protected:
    HRESULT Call(DISPID id, Kind kind, const Args& a, VARIANT* r, EXCEPINFO* info) override
    {
        switch (id) {
        case 101:
            if (kind == Get)
                return AnswerBool(r, m_state->autoStart);
            return Through(put_autoStart(a.Bool(0) ? VARIANT_TRUE : VARIANT_FALSE), info);
        case 104:
            if (kind == Get)
                return AnswerBool(r, m_state->mute);
            return Through(put_mute(a.Bool(0) ? VARIANT_TRUE : VARIANT_FALSE), info);
        default:
            if (kind == Get)
                return Answer(r, m_state->volume);
            return Through(put_volume(a.Long(0)), info);
        }
    }

private:
    IUnknown* m_owner;
    MediaState* m_state;
};

// The network object, a dispatch face only (the engine reads buffering
// progress through it where the control offers IDispatch).
class MediaNetwork : public DispatchBase {
public:
    MediaNetwork(IUnknown* owner, MediaState* state)
        : DispatchBase(L"media network", kNetworkMembers, sizeof kNetworkMembers / sizeof *kNetworkMembers),
          m_owner(owner), m_state(state)
    {
        m_owner->AddRef();
    }
    ~MediaNetwork() override { m_owner->Release(); }

protected:
    HRESULT Call(DISPID id, Kind kind, const Args&, VARIANT* r, EXCEPINFO*) override
    {
        switch (id) {
        case 808:
            return Answer(r, m_state->clock.BufferingPercent(::GetTickCount64()));
        case 809:
            return kind == Get ? Answer(r, 5000L) : S_OK;
        default:
            return Answer(r, 0L);
        }
    }

private:
    IUnknown* m_owner;
    MediaState* m_state;
};

// The one connection point, _WMPOCXEvents [WMP-H]. Its references are the
// control's: it lives as long as the control does.
class EventPoint : public IConnectionPoint {
public:
    EventPoint(IUnknown* owner, IConnectionPointContainer* container) : m_owner(owner), m_container(container) {}
    ~EventPoint()
    {
        for (Sink& s : m_sinks)
            s.sink->Release();
    }
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override
    {
        if (!out)
            return E_POINTER;
        *out = (iid == IID_IUnknown || iid == IID_IConnectionPoint) ? static_cast<IConnectionPoint*>(this) : nullptr;
        if (!*out)
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return m_owner->AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return m_owner->Release(); }
    STDMETHODIMP GetConnectionInterface(IID* iid) override { return Out(iid, IID__WMPOCXEvents); }
    STDMETHODIMP GetConnectionPointContainer(IConnectionPointContainer** out) override
    {
        m_container->AddRef();
        return Out(out, m_container);
    }
    // The sink is asked for the outgoing interface itself [WMP-DOC].
    STDMETHODIMP Advise(IUnknown* sink, DWORD* cookie) override
    {
        if (!sink || !cookie)
            return E_POINTER;
        IDispatch* d = nullptr;
        if (FAILED(sink->QueryInterface(IID__WMPOCXEvents, reinterpret_cast<void**>(&d))))
            return CONNECT_E_CANNOTCONNECT;
        m_sinks.push_back({d, ++m_lastCookie});
        *cookie = m_lastCookie;
        Log(L"media advise");
        return S_OK;
    }
    STDMETHODIMP Unadvise(DWORD cookie) override
    {
        for (size_t i = 0; i < m_sinks.size(); ++i) {
            if (m_sinks[i].cookie == cookie) {
                IDispatch* d = m_sinks[i].sink;
                m_sinks.erase(m_sinks.begin() + static_cast<std::ptrdiff_t>(i));
                d->Release();
                Log(L"media unadvise");
                return S_OK;
            }
        }
        return CONNECT_E_NOCONNECTION;
    }
    STDMETHODIMP EnumConnections(IEnumConnections**) override { return E_NOTIMPL; }

    bool Empty() const { return m_sinks.empty(); }

    // One event with one long argument, to every sink advised now (a sink
    // may unadvise from inside).
    void Fire(DISPID id, long value, VARTYPE vt)
    {
        std::vector<IDispatch*> now;
        for (Sink& s : m_sinks) {
            s.sink->AddRef();
            now.push_back(s.sink);
        }
        for (IDispatch* d : now) {
            VARIANT arg;
            ::VariantInit(&arg);
            arg.vt = vt;
            if (vt == VT_UI4)
                arg.ulVal = static_cast<ULONG>(value);
            else
                arg.lVal = value;
            DISPPARAMS dp = {&arg, nullptr, 1, 0};
            d->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &dp, nullptr, nullptr, nullptr);
            d->Release();
        }
    }

private:
    struct Sink {
        IDispatch* sink;
        DWORD cookie;
    };
    IUnknown* m_owner;
    IConnectionPointContainer* m_container;
    std::vector<Sink> m_sinks;
    DWORD m_lastCookie = 0;
};

class MediaControl : public ControlBase, public IWMPPlayer4, public IConnectionPointContainer {
public:
    MediaControl()
        : ControlBase(L"media", L"Windows Media", kPlayerMembers, sizeof kPlayerMembers / sizeof *kPlayerMembers),
          m_state(m_clock), m_events(static_cast<IOleObject*>(this), this)
    {
        m_state.faults = m_state.withheld.Has(L"faults");
        m_state.owner = this;
        m_state.notify = [](void* self) { static_cast<MediaControl*>(self)->Notify(); };
    }
    ~MediaControl() override
    {
        if (m_state.faults && m_state.running)
            Log(L"media FAULT released while playing (the real control crashes)");
        CloseVideo();
    }

    STDMETHODIMP_(ULONG) AddRef() override { return DispatchBase::AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return DispatchBase::Release(); }
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override
    {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        if (iid == IID_IWMPPlayer4 || iid == IID_IWMPCore3 || iid == IID_IWMPCore2 || iid == IID_IWMPCore)
            *out = static_cast<IWMPPlayer4*>(this);
        else if (iid == IID_IConnectionPointContainer)
            *out = static_cast<IConnectionPointContainer*>(this);
        else if (iid == IID_IDispatch && m_state.withheld.Has(L"IDispatch"))
            return E_NOINTERFACE;
        else
            return ControlBase::QueryInterface(iid, out);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP GetTypeInfoCount(UINT* n) override { return DispatchBase::GetTypeInfoCount(n); }
    STDMETHODIMP GetTypeInfo(UINT i, LCID l, ITypeInfo** t) override { return DispatchBase::GetTypeInfo(i, l, t); }
    STDMETHODIMP GetIDsOfNames(REFIID r, LPOLESTR* n, UINT c, LCID l, DISPID* d) override
    {
        return DispatchBase::GetIDsOfNames(r, n, c, l, d);
    }
    STDMETHODIMP Invoke(DISPID id, REFIID r, LCID l, WORD f, DISPPARAMS* dp, VARIANT* res, EXCEPINFO* e,
                        UINT* a) override
    {
        if (m_state.withheld.Has(L"IDispatch"))
            return E_NOTIMPL;
        return DispatchBase::Invoke(id, r, l, f, dp, res, e, a);
    }

    // IConnectionPointContainer
    STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints**) override { return E_NOTIMPL; }
    STDMETHODIMP FindConnectionPoint(REFIID iid, IConnectionPoint** out) override
    {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        if (iid != IID__WMPOCXEvents)
            return CONNECT_E_NOCONNECTION;
        *out = &m_events;
        m_events.AddRef();
        return S_OK;
    }

    // IWMPCore
    STDMETHODIMP close() override
    {
        m_state.clock = MediaClock();
        Notify();
        return S_OK;
    }
    STDMETHODIMP get_URL(BSTR* out) override { return Out(out, m_state.url); }
    STDMETHODIMP put_URL(BSTR url) override
    {
        MediaState& s = m_state;
        if (s.faults && s.running)
            Log(L"media FAULT a new URL while playing (the real control keeps the old graph)");
        s.url = url ? url : L"";
        Trace(L"URL=" + s.url);
        CloseVideo(); // a new graph
        const std::wstring extension = Describe(s.url).extension;
        s.clock.Load(s.url, s.faults ? WineOpens(extension) : MediaOpens(extension));
        // The real control plays plain paths only [WINE-WMP].
        s.refused = s.faults && s.url.find(L"://") != std::wstring::npos ? HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND)
                                                                        : S_OK;
        s.playFailed = false;
        Fire(DISPID_WMPCOREEVENT_PLAYSTATECHANGE, 9); // transitioning
        if (s.autoStart) {
            s.clock.Play(::GetTickCount64());
            s.running = true;
        }
        Notify();
        return S_OK;
    }
    STDMETHODIMP get_openState(WMPOpenState* out) override
    {
        if (m_state.Withholds(L"get_openState"))
            return E_NOTIMPL;
        return Out(out, m_state.clock.Duration(::GetTickCount64()) > 0 ? wmposMediaOpen : wmposUndefined);
    }
    STDMETHODIMP get_playState(WMPPlayState* out) override
    {
        if (m_state.Withholds(L"get_playState"))
            return E_NOTIMPL;
        return Out(out, static_cast<WMPPlayState>(PlayStateNow(::GetTickCount64())));
    }
    STDMETHODIMP get_controls(IWMPControls** out) override
    {
        if (!out)
            return E_POINTER;
        Trace(L"controls");
        *out = new MediaControls(static_cast<IOleObject*>(this), &m_state);
        return S_OK;
    }
    STDMETHODIMP get_settings(IWMPSettings** out) override
    {
        if (!out)
            return E_POINTER;
        Trace(L"settings");
        *out = new MediaSettings(static_cast<IOleObject*>(this), &m_state);
        return S_OK;
    }
    STDMETHODIMP get_currentMedia(IWMPMedia** out) override
    {
        return Out(out, NewItem(&m_state, static_cast<IOleObject*>(this), ::GetTickCount64()));
    }
    STDMETHODIMP put_currentMedia(IWMPMedia*) override { return E_NOTIMPL; }
    STDMETHODIMP get_mediaCollection(IWMPMediaCollection**) override { return E_NOTIMPL; }
    STDMETHODIMP get_playlistCollection(IWMPPlaylistCollection**) override { return E_NOTIMPL; }
    STDMETHODIMP get_versionInfo(BSTR* out) override { return Out(out, std::wstring(L"12.0")); }
    STDMETHODIMP launchURL(BSTR) override { return E_NOTIMPL; }
    STDMETHODIMP get_network(IWMPNetwork**) override { return E_NOTIMPL; }
    STDMETHODIMP get_currentPlaylist(IWMPPlaylist**) override { return E_NOTIMPL; }
    STDMETHODIMP put_currentPlaylist(IWMPPlaylist*) override { return E_NOTIMPL; }
    STDMETHODIMP get_cdromCollection(IWMPCdromCollection**) override { return E_NOTIMPL; }
    STDMETHODIMP get_closedCaption(IWMPClosedCaption**) override { return E_NOTIMPL; }
    STDMETHODIMP get_isOnline(VARIANT_BOOL*) override { return E_NOTIMPL; }
    STDMETHODIMP get_Error(IWMPError**) override { return E_NOTIMPL; }
    STDMETHODIMP get_status(BSTR*) override { return E_NOTIMPL; }
    // IWMPCore2, IWMPCore3
    STDMETHODIMP get_dvd(IWMPDVD**) override { return E_NOTIMPL; }
    STDMETHODIMP newPlaylist(BSTR, BSTR, IWMPPlaylist**) override { return E_NOTIMPL; }
    STDMETHODIMP newMedia(BSTR, IWMPMedia**) override { return E_NOTIMPL; }
    // IWMPPlayer4
    STDMETHODIMP get_enabled(VARIANT_BOOL* out) override { return Out(out, true); }
    STDMETHODIMP put_enabled(VARIANT_BOOL) override { return S_OK; }
    STDMETHODIMP get_fullScreen(VARIANT_BOOL* out) override { return Out(out, m_full); }
    STDMETHODIMP put_fullScreen(VARIANT_BOOL v) override
    {
        if (m_state.Withholds(L"put_fullScreen"))
            return E_NOTIMPL;
        m_full = v != VARIANT_FALSE;
        Trace(std::wstring(L"fullScreen=") + (m_full ? L"true" : L"false"));
        return S_OK;
    }
    STDMETHODIMP get_enableContextMenu(VARIANT_BOOL*) override { return E_NOTIMPL; }
    STDMETHODIMP put_enableContextMenu(VARIANT_BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP put_uiMode(BSTR mode) override
    {
        if (m_state.Withholds(L"put_uiMode"))
            return E_NOTIMPL;
        m_uiMode = mode ? mode : L"";
        Trace(L"uiMode=" + m_uiMode);
        return S_OK;
    }
    STDMETHODIMP get_uiMode(BSTR* out) override { return Out(out, m_uiMode); }
    STDMETHODIMP get_stretchToFit(VARIANT_BOOL* out) override { return Out(out, m_stretch); }
    STDMETHODIMP put_stretchToFit(VARIANT_BOOL v) override
    {
        if (m_state.Withholds(L"put_stretchToFit"))
            return E_NOTIMPL;
        m_stretch = v != VARIANT_FALSE;
        Trace(std::wstring(L"stretchToFit=") + (m_stretch ? L"true" : L"false"));
        return S_OK;
    }
    STDMETHODIMP get_windowlessVideo(VARIANT_BOOL*) override { return E_NOTIMPL; }
    STDMETHODIMP put_windowlessVideo(VARIANT_BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP get_isRemote(VARIANT_BOOL*) override { return E_NOTIMPL; }
    STDMETHODIMP get_playerApplication(IWMPPlayerApplication**) override { return E_NOTIMPL; }
    STDMETHODIMP openPlayer(BSTR) override { return E_NOTIMPL; }

protected:
    HRESULT Call(DISPID id, Kind kind, const Args& a, VARIANT* r, EXCEPINFO* info) override
    {
        const ULONGLONG now = ::GetTickCount64();
        IUnknown* self = static_cast<IOleObject*>(this);
        switch (id) {
        case 1: // URL: opens it, and with autoStart (default true) plays it
            if (kind == Get)
                return Answer(r, m_state.url);
            {
                BSTR url = ::SysAllocString(a.Str(0).c_str());
                const HRESULT hr = put_URL(url);
                ::SysFreeString(url);
                return Through(hr, info);
            }
        case 2:
            return Answer(r, 0L);
        case 3:
            return close();
        case 4:
            Trace(L"controls");
            return Answer(r, static_cast<IDispatch*>(static_cast<IWMPControls*>(new MediaControls(self, &m_state))));
        case 5:
            Trace(L"settings");
            return Answer(r, static_cast<IDispatch*>(static_cast<IWMPSettings*>(new MediaSettings(self, &m_state))));
        case 6:
            return Answer(r, static_cast<IDispatch*>(NewItem(&m_state, self, now)));
        case 7:
            return Answer(r, static_cast<IDispatch*>(new MediaNetwork(self, &m_state)));
        case 10: {
            WMPPlayState ps = wmppsUndefined;
            const HRESULT hr = get_playState(&ps);
            return FAILED(hr) ? Through(hr, info) : Answer(r, static_cast<long>(ps));
        }
        case 19:
            return kind == Get ? AnswerBool(r, true) : S_OK;
        case 21:
            if (kind == Get)
                return AnswerBool(r, m_full);
            return Through(put_fullScreen(a.Bool(0) ? VARIANT_TRUE : VARIANT_FALSE), info);
        case 23:
            if (kind == Get)
                return Answer(r, m_uiMode);
            {
                BSTR mode = ::SysAllocString(a.Str(0).c_str());
                const HRESULT hr = put_uiMode(mode);
                ::SysFreeString(mode);
                return Through(hr, info);
            }
        default: // 24
            if (kind == Get)
                return AnswerBool(r, m_stretch);
            return Through(put_stretchToFit(a.Bool(0) ? VARIANT_TRUE : VARIANT_FALSE), info);
        }
    }

    Shown Show(ULONGLONG now) override
    {
        if (!m_state.clock.Loaded())
            return Shown();
        MediaClock::State state;
        Shown s = ClockShown(now, &state);
        s.extra = L"playState " + std::to_wstring(MediaPlayState(state, true));
        if (state == MediaClock::Buffering)
            s.extra += L", buffering " + std::to_wstring(m_state.clock.BufferingPercent(now)) + L"%";
        return s;
    }

    // The clock's changes become events as the window's timer sees them.
    void Tick(ULONGLONG) override { Notify(); }

private:
    long PlayStateNow(ULONGLONG now) { return MediaPlayState(m_state.clock.Get(now), m_state.clock.Loaded()); }

    // Raises what changed since the last events: the open state once the
    // item has opened, then the play state.
    void Notify()
    {
        const ULONGLONG now = ::GetTickCount64();
        const bool open = m_state.clock.Duration(now) > 0;
        if (open && !m_openFired) {
            m_openFired = true;
            Fire(DISPID_WMPCOREEVENT_OPENSTATECHANGE, wmposMediaOpen);
        } else if (!open) {
            m_openFired = false;
        }
        const long ps = PlayStateNow(now);
        if (ps == 3 && m_state.faults && !m_video && HasVideo(m_state.clock.Info().extension))
            OpenVideo();
        if (ps != m_lastPlayState)
            Fire(DISPID_WMPCOREEVENT_PLAYSTATECHANGE, ps);
    }
    // The separate video window [WINE-WMP], a plain grey one here.
    void OpenVideo()
    {
        WNDCLASSW wc = {};
        if (!::GetClassInfoW(g_module, kVideoClass, &wc)) {
            wc.lpfnWndProc = &::DefWindowProcW;
            wc.hInstance = g_module;
            wc.hbrBackground = static_cast<HBRUSH>(::GetStockObject(GRAY_BRUSH));
            wc.lpszClassName = kVideoClass;
            ::RegisterClassW(&wc);
        }
        m_video = ::CreateWindowExW(0, kVideoClass, L"ActiveMovie Window", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0,
                                    320, 240, nullptr, nullptr, g_module, nullptr);
        Log(L"media video window");
    }
    void CloseVideo()
    {
        if (m_video && ::IsWindow(m_video))
            ::DestroyWindow(m_video);
        m_video = nullptr;
    }

    static constexpr const wchar_t* kVideoClass = L"wine_quartz_window";
    HWND m_video = nullptr;
    void Fire(DISPID id, long value)
    {
        if (id == DISPID_WMPCOREEVENT_PLAYSTATECHANGE)
            m_lastPlayState = value;
        if (!m_events.Empty())
            Log(std::wstring(L"media event ") + std::to_wstring(id) + L" " + std::to_wstring(value));
        // The real control's events carry VT_UI4 [WINE-WMP]; the documented
        // argument is a long [WMP-H].
        AddRef(); // a sink's reaction may release the control
        m_events.Fire(id, value, m_state.faults ? VT_UI4 : VT_I4);
        Release();
    }

    MediaState m_state;
    EventPoint m_events;
    std::wstring m_uiMode = L"full";
    bool m_full = false;
    bool m_stretch = false;
    bool m_openFired = false;
    long m_lastPlayState = 0;
};

} // namespace

ControlBase* NewMediaControl()
{
    return new MediaControl;
}

} // namespace sim
