// Sources of what this control does:
//  [WMP-IDL]    Wine's include/wmp.idl, with the Windows
//               SDK for controls.currentItem, which Wine declares without
//               propget: ids, kinds and types of the player, controls,
//               settings, network and media objects; WMPPlayState values.
//  [WMP-DOC]    Microsoft's Windows Media Player SDK: playState values
//               (9 transitioning, 6 buffering, 10 ready, 8 media ended);
//               settings.autoStart defaults to true; network.bufferingProgress
//               is a percentage; a URL that cannot be opened leaves the player
//               ready (10), which it keeps.
//  [WMP-KB]     Microsoft KB 316992 "File types supported by Windows Media
//               Player" (Player 12): .asf .wma .wmv .wm .avi .mpg .mpeg .mp2
//               .mp3 .wav .mov .m4a .mp4 .m4v .3gp .aac .m2ts .flac ...; no
//               .flv and no RealMedia without codecs added.
#include "ControlBase.h"

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

long MediaPlayState(MediaClock::State s)
{
    switch (s) {
    case MediaClock::Idle:
        return 0; // undefined: nothing opened yet
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

class MediaItem : public DispatchBase {
public:
    MediaItem(const std::wstring& url, const std::wstring& name, double duration)
        : DispatchBase(L"media item", kMediaMembers, sizeof kMediaMembers / sizeof *kMediaMembers), m_url(url),
          m_name(name), m_duration(duration)
    {
    }

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
};

// The controls, settings and network objects keep the control alive while
// held.
class MediaPart : public DispatchBase {
public:
    enum Part { Controls, Settings, Network };

    MediaPart(IDispatch* owner, MediaClock* clock, const std::wstring* url, Part part, bool* autoStart)
        : DispatchBase(part == Controls ? L"media controls" : part == Settings ? L"media settings" : L"media network",
                       part == Controls ? kControlsMembers : part == Settings ? kSettingsMembers : kNetworkMembers,
                       part == Controls   ? sizeof kControlsMembers / sizeof *kControlsMembers
                       : part == Settings ? sizeof kSettingsMembers / sizeof *kSettingsMembers
                                          : sizeof kNetworkMembers / sizeof *kNetworkMembers),
          m_owner(owner), m_clock(clock), m_url(url), m_part(part), m_autoStart(autoStart)
    {
        m_owner->AddRef();
    }
    ~MediaPart() override
    {
        if (m_part != Network)
            Log(std::wstring(m_logName) + L" release");
        m_owner->Release();
    }

protected:
    HRESULT Call(DISPID id, Kind kind, const Args& a, VARIANT* r, EXCEPINFO*) override
    {
        const ULONGLONG now = ::GetTickCount64();
        if (m_part == Settings) {
            switch (id) {
            case 101:
                if (kind == Get)
                    return AnswerBool(r, *m_autoStart);
                *m_autoStart = a.Bool(0);
                return S_OK;
            case 104:
                if (kind == Get)
                    return AnswerBool(r, m_mute);
                m_mute = a.Bool(0);
                Log(std::wstring(L"media settings.mute=") + (m_mute ? L"true" : L"false"));
                return S_OK;
            default:
                if (kind == Get)
                    return Answer(r, m_volume);
                m_volume = a.Long(0);
                Log(L"media settings.volume=" + std::to_wstring(m_volume));
                return S_OK;
            }
        }
        if (m_part == Network) {
            switch (id) {
            case 808:
                return Answer(r, m_clock->BufferingPercent(now));
            case 809:
                return kind == Get ? Answer(r, 5000L) : S_OK;
            default:
                return Answer(r, 0L);
            }
        }
        switch (id) {
        case 51:
            Log(L"media controls.play");
            m_clock->Play(now);
            return S_OK;
        case 52:
            Log(L"media controls.stop");
            m_clock->Stop(now);
            return S_OK;
        case 53:
            Log(L"media controls.pause");
            m_clock->Pause(now);
            return S_OK;
        case 56:
            if (kind == Put) {
                Log(L"media controls.currentPosition=" + Number(a.Dbl(0)));
                m_clock->Seek(a.Dbl(0), now);
                return S_OK;
            }
            return Answer(r, m_clock->Position(now));
        default: // 60 currentItem: the media of the URL, once one is set
            if (kind == Put)
                return S_OK;
            if (!m_clock->Loaded())
                return Answer(r, static_cast<IDispatch*>(nullptr));
            return Answer(r, static_cast<IDispatch*>(
                                 new MediaItem(*m_url, m_clock->Info().name, m_clock->Duration(now))));
        }
    }

private:
    IDispatch* m_owner;
    MediaClock* m_clock;
    const std::wstring* m_url;
    Part m_part;
    bool* m_autoStart;
    bool m_mute = false;
    long m_volume = 50;
};

class MediaControl : public ControlBase {
public:
    MediaControl()
        : ControlBase(L"media", L"Windows Media", kPlayerMembers, sizeof kPlayerMembers / sizeof *kPlayerMembers)
    {
    }

protected:
    HRESULT Call(DISPID id, Kind kind, const Args& a, VARIANT* r, EXCEPINFO*) override
    {
        const ULONGLONG now = ::GetTickCount64();
        switch (id) {
        case 1: // URL: opens it, and with autoStart (default true) plays it
            if (kind == Get)
                return Answer(r, m_url);
            m_url = a.Str(0);
            Trace(L"URL=" + m_url);
            m_clock.Load(m_url, MediaOpens(Describe(m_url).extension));
            if (m_autoStart)
                m_clock.Play(now);
            return S_OK;
        case 2:
            return Answer(r, 0L);
        case 3:
            m_clock = MediaClock();
            return S_OK;
        case 4:
            Trace(L"controls");
            return Answer(r, static_cast<IDispatch*>(new MediaPart(static_cast<IDispatch*>(this), &m_clock, &m_url,
                                                                   MediaPart::Controls, &m_autoStart)));
        case 5:
            Trace(L"settings");
            return Answer(r, static_cast<IDispatch*>(new MediaPart(static_cast<IDispatch*>(this), &m_clock, &m_url,
                                                                   MediaPart::Settings, &m_autoStart)));
        case 6:
            if (!m_clock.Loaded())
                return Answer(r, static_cast<IDispatch*>(nullptr));
            return Answer(r, static_cast<IDispatch*>(new MediaItem(m_url, m_clock.Info().name, m_clock.Duration(now))));
        case 7:
            return Answer(r, static_cast<IDispatch*>(new MediaPart(static_cast<IDispatch*>(this), &m_clock, &m_url,
                                                                   MediaPart::Network, &m_autoStart)));
        case 10:
            return Answer(r, MediaPlayState(m_clock.Get(now)));
        case 19:
            return kind == Get ? AnswerBool(r, true) : S_OK;
        case 21:
            if (kind == Get)
                return AnswerBool(r, m_full);
            m_full = a.Bool(0);
            Trace(std::wstring(L"fullScreen=") + (m_full ? L"true" : L"false"));
            return S_OK;
        case 23:
            if (kind == Get)
                return Answer(r, m_uiMode);
            m_uiMode = a.Str(0);
            Trace(L"uiMode=" + m_uiMode);
            return S_OK;
        default: // 24
            if (kind == Get)
                return AnswerBool(r, m_stretch);
            m_stretch = a.Bool(0);
            Trace(std::wstring(L"stretchToFit=") + (m_stretch ? L"true" : L"false"));
            return S_OK;
        }
    }

    Shown Show(ULONGLONG now) override
    {
        if (!m_clock.Loaded())
            return Shown();
        MediaClock::State state;
        Shown s = ClockShown(now, &state);
        s.extra = L"playState " + std::to_wstring(MediaPlayState(state));
        if (state == MediaClock::Buffering)
            s.extra += L", buffering " + std::to_wstring(m_clock.BufferingPercent(now)) + L"%";
        return s;
    }

private:
    std::wstring m_url, m_uiMode = L"full";
    bool m_autoStart = true;
    bool m_full = false;
    bool m_stretch = false;
};

} // namespace

ControlBase* NewMediaControl()
{
    return new MediaControl;
}

} // namespace sim
