// Sources of what this control does:
//  [REAL-WRAP]  a public MFC wrapper generated from the Real control
//               {CFCDAA03-...} (a textbook's multimedia example): every member
//               is a method except the properties (NoLabels 0x69 ...), with
//               its argument types (SetVolume short, SetPosition long ...).
//  [REAL-DOC]   RealNetworks' "Extending RealPlayer" guide (service.real.com,
//               .../guides/extend/, appendices A and B): GetPlayState 0
//               stopped, 1 contacting, 2 buffering, 3 playing, 4 paused,
//               5 seeking; GetBufferingTimeRemaining in milliseconds; an error
//               is reported through OnErrorMessage and the clip is closed
//               (OnClipClosed), after which the control reads stopped (0).
#include "ControlBase.h"

#include <cwchar>
#include <string>
#include <vector>

namespace sim {
namespace {

// Real [REAL-WRAP]: methods by dispatch id, times in milliseconds.

const Member kRealMembers[] = {
    M0(105, Get),  M1(105, Put, VT_BOOL), // NoLabels
    M0(202, Method),                      // DoStop
    M0(214, Method),                      // GetSource
    M1(215, Method, VT_BSTR),             // SetSource
    M0(218, Method),                      // GetControls
    M1(219, Method, VT_BSTR),             // SetControls
    M0(226, Method),                      // GetVolume
    M1(227, Method, VT_I2),               // SetVolume(short)
    M0(228, Method),                      // GetMute
    M1(229, Method, VT_BOOL),             // SetMute
    M1(235, Method, VT_BOOL),             // SetImageStatus
    M0(257, Method),                      // DoPlay
    M0(258, Method),                      // DoPause
    M0(259, Method),                      // GetPosition
    M0(260, Method),                      // GetPlayState
    M0(261, Method),                      // GetLength
    M1(269, Method, VT_I4),               // SetPosition(long)
    M1(275, Method, VT_BOOL),             // SetNoLogo
    M0(293, Method),                      // SetFullScreen
    M0(317, Method),                      // GetBufferingTimeElapsed
    M0(318, Method),                      // GetBufferingTimeRemaining
    M1(343, Method, VT_BOOL),             // SetPreFetch
};

// What RealPlayer opens: its own formats.
bool RealOpens(const std::wstring& extension)
{
    return extension == L".RM" || extension == L".RMVB" || extension == L".RA" || extension == L".RAM" ||
           extension == L".RV";
}

long RealPlayState(MediaClock::State s)
{
    switch (s) {
    case MediaClock::Opening:
        return 1; // contacting [REAL-DOC]
    case MediaClock::Buffering:
        return 2;
    case MediaClock::Playing:
        return 3;
    case MediaClock::Paused:
        return 4;
    default:
        return 0; // stopped, ended, or closed after an error [REAL-DOC]
    }
}

class RealControl : public ControlBase {
public:
    RealControl() : ControlBase(L"real", L"Real", kRealMembers, sizeof kRealMembers / sizeof *kRealMembers) {}

protected:
    HRESULT Call(DISPID id, Kind kind, const Args& a, VARIANT* r, EXCEPINFO*) override
    {
        const ULONGLONG now = ::GetTickCount64();
        switch (id) {
        case 105:
            if (kind == Get)
                return AnswerBool(r, m_noLabels);
            m_noLabels = a.Bool(0);
            Trace(std::wstring(L"105=") + (m_noLabels ? L"true" : L"false"));
            return S_OK;
        case 214:
            return Answer(r, m_source);
        case 215:
            m_source = a.Str(0);
            Trace(L"SetSource " + m_source);
            m_clock.Load(m_source, RealOpens(Describe(m_source).extension));
            return S_OK;
        case 218:
            return Answer(r, m_controls);
        case 219:
            m_controls = a.Str(0);
            Trace(L"SetControls " + m_controls);
            return S_OK;
        case 226:
            if (r) {
                r->vt = VT_I2;
                r->iVal = m_volume;
            }
            return S_OK;
        case 227:
            m_volume = a.Short(0);
            Trace(L"SetVolume " + std::to_wstring(m_volume));
            return S_OK;
        case 228:
            return AnswerBool(r, m_mute);
        case 229:
            m_mute = a.Bool(0);
            Trace(std::wstring(L"SetMute ") + (m_mute ? L"true" : L"false"));
            return S_OK;
        case 235:
        case 275:
        case 343:
            Trace(std::to_wstring(id) + L" " + (a.Bool(0) ? L"true" : L"false"));
            return S_OK;
        case 257:
            Trace(L"DoPlay");
            m_clock.Play(now);
            return S_OK;
        case 258:
            Trace(L"DoPause");
            m_clock.Pause(now);
            return S_OK;
        case 202:
            Trace(L"DoStop");
            m_clock.Stop(now);
            return S_OK;
        case 259:
            return Answer(r, static_cast<long>(m_clock.Position(now) * 1000));
        case 260:
            return Answer(r, RealPlayState(m_clock.Get(now)));
        case 261:
            return Answer(r, static_cast<long>(m_clock.Duration(now) * 1000));
        case 269:
            Trace(L"SetPosition " + std::to_wstring(a.Long(0)));
            m_clock.Seek(a.Long(0) / 1000.0, now);
            return S_OK;
        case 293:
            Trace(L"SetFullScreen");
            return S_OK;
        case 317:
            return Answer(r, 0L);
        default: // 318
            return Answer(r, static_cast<long>(m_clock.BufferingLeft(now) * 1000));
        }
    }

    Shown Show(ULONGLONG now) override
    {
        if (!m_clock.Loaded())
            return Shown();
        MediaClock::State state;
        Shown s = ClockShown(now, &state);
        s.extra = L"GetPlayState " + std::to_wstring(RealPlayState(state));
        return s;
    }

private:
    std::wstring m_source, m_controls;
    bool m_noLabels = false;
    bool m_mute = false;
    short m_volume = 100;
};

} // namespace

ControlBase* NewRealControl()
{
    return new RealControl;
}

} // namespace sim
