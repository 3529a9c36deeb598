#include "WMPPlayer.h"

#include "PlayerWnd.h"

namespace {

const CLSID kMediaClsid = {0x6bf52a52, 0x394a, 0x11d3, {0xb1, 0x53, 0x00, 0xc0, 0x4f, 0x79, 0xfa, 0xa6}};

// Members of the controls, settings and media objects.
const DISPID kPlay = 51;
const DISPID kStop = 52;
const DISPID kPause = 53;
const DISPID kCurrentPosition = 56;
const DISPID kCurrentItem = 60;
const DISPID kDuration = 757;
const DISPID kMute = 104;
const DISPID kVolume = 107;
const DISPID kBufferingProgress = 808;

} // namespace

IDispatch* CWMPPlayer::GetControls()
{
    IDispatch* d = nullptr;
    GetProperty(4, VT_DISPATCH, &d);
    return d;
}

IDispatch* CWMPPlayer::GetSettings()
{
    IDispatch* d = nullptr;
    GetProperty(5, VT_DISPATCH, &d);
    return d;
}

IDispatch* CWMPPlayer::GetNetwork()
{
    IDispatch* d = nullptr;
    GetProperty(7, VT_DISPATCH, &d);
    return d;
}

long CWMPPlayer::GetPlayState()
{
    long state = 0;
    GetProperty(10, VT_I4, &state);
    return state;
}

BOOL CWMVPlayer::Create(CPlayerWnd* host, const RECT& rect)
{
    if (!CreateControl(kMediaClsid, L"", WS_CHILD | WS_VISIBLE, rect, host, IDC_WMP_PLAYER))
        return FALSE;
    FetchParts();
    return TRUE;
}

void CWMVPlayer::FetchParts()
{
    m_controls.ReleaseDispatch();
    m_settings.ReleaseDispatch();
    m_controls.AttachDispatch(GetControls());
    m_settings.AttachDispatch(GetSettings());
}

BOOL CWMVPlayer::DestroyWindow()
{
    m_controls.ReleaseDispatch();
    m_settings.ReleaseDispatch();
    return CWMPPlayer::DestroyWindow();
}

BOOL CWMVPlayer::Load(CPlayerWnd*, const std::wstring& source)
{
    SetStretchToFit(TRUE);
    SetUiMode(L"none");
    SetURL(source);
    Play();
    return TRUE;
}

PlayState CWMVPlayer::GetState()
{
    return MapState(GetPlayState());
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
    if (m_controls.m_lpDispatch)
        m_controls.InvokeHelper(kPlay, DISPATCH_METHOD, VT_EMPTY, nullptr, VTS_NONE);
}

void CWMVPlayer::Pause()
{
    if (m_controls.m_lpDispatch)
        m_controls.InvokeHelper(kPause, DISPATCH_METHOD, VT_EMPTY, nullptr, VTS_NONE);
}

void CWMVPlayer::Stop()
{
    if (m_controls.m_lpDispatch)
        m_controls.InvokeHelper(kStop, DISPATCH_METHOD, VT_EMPTY, nullptr, VTS_NONE);
}

double CWMVPlayer::GetPosition()
{
    double pos = 0;
    if (m_controls.m_lpDispatch)
        m_controls.GetProperty(kCurrentPosition, VT_R8, &pos);
    return pos;
}

double CWMVPlayer::GetDuration()
{
    if (!m_controls.m_lpDispatch)
        return 0;
    IDispatch* item = nullptr;
    m_controls.GetProperty(kCurrentItem, VT_DISPATCH, &item);
    if (!item)
        return 0;
    COleDispatchDriver media(item);
    double duration = 0;
    media.GetProperty(kDuration, VT_R8, &duration);
    return duration;
}

void CWMVPlayer::Seek(double seconds)
{
    if (m_controls.m_lpDispatch)
        m_controls.SetProperty(kCurrentPosition, VT_R8, seconds);
}

void CWMVPlayer::SetVolume(int volume)
{
    if (m_settings.m_lpDispatch)
        m_settings.SetProperty(kVolume, VT_I4, static_cast<long>(volume));
}

void CWMVPlayer::SetMute(BOOL on)
{
    if (m_settings.m_lpDispatch)
        m_settings.SetProperty(kMute, VT_BOOL, on);
}

BOOL CWMVPlayer::GetBufferingProgress(long* progress)
{
    IDispatch* network = GetNetwork();
    if (!network)
        return FALSE;
    COleDispatchDriver driver(network);
    driver.GetProperty(kBufferingProgress, VT_I4, progress);
    return TRUE;
}

void CWMVPlayer::FullScreen(BOOL on)
{
    if (on && GetPlayState() != 1)
        SetFullScreen(TRUE);
}
