#include "RealPlayer.h"

#include "PlayerWnd.h"

namespace {

const CLSID kRealClsid = {0xcfcdaa03, 0x8be4, 0x11cf, {0xb8, 0x4b, 0x00, 0x20, 0xaf, 0xbb, 0xcc, 0xfa}};

const DISPID kSetControls = 219;
const DISPID kSetSource = 215;
const DISPID kDoPlay = 257;
const DISPID kDoPause = 258;
const DISPID kDoStop = 202;
const DISPID kGetPlayState = 260;
const DISPID kGetPosition = 259;
const DISPID kGetLength = 261;
const DISPID kSetPosition = 269;
const DISPID kSetVolume = 227;
const DISPID kSetMute = 229;
const DISPID kSetFullScreen = 293;
const DISPID kGetBufferingTimeRemaining = 318;

} // namespace

BOOL CRealPlayer::Create(CPlayerWnd* host, const RECT& rect)
{
    return CreateControl(kRealClsid, L"", WS_CHILD | WS_VISIBLE, rect, host, IDC_REAL_PLAYER);
}

long CRealPlayer::MethodLong(DISPID id)
{
    long value = 0;
    InvokeHelper(id, DISPATCH_METHOD, VT_I4, &value, VTS_NONE);
    return value;
}

BOOL CRealPlayer::Load(CPlayerWnd*, const std::wstring& source)
{
    InvokeHelper(kSetControls, DISPATCH_METHOD, VT_EMPTY, nullptr, VTS_BSTR, L"ImageWindow");
    InvokeHelper(kSetSource, DISPATCH_METHOD, VT_EMPTY, nullptr, VTS_BSTR, source.c_str());
    MethodBool(275, FALSE);
    MethodBool(235, FALSE);
    MethodBool(343, FALSE);
    SetProperty(105, VT_BOOL, FALSE);
    Method(kDoPlay);
    return TRUE;
}

PlayState CRealPlayer::GetState()
{
    return MapState(MethodLong(kGetPlayState));
}

PlayState CRealPlayer::MapState(long state)
{
    switch (state) {
    case 0:
        return Stopped;
    case 4:
        return Paused;
    case 2:
        return Buffering;
    default:
        return Playing;
    }
}

void CRealPlayer::Play()
{
    Method(kDoPlay);
}

void CRealPlayer::Pause()
{
    Method(kDoPause);
}

void CRealPlayer::Stop()
{
    Method(kDoStop);
}

double CRealPlayer::GetPosition()
{
    return static_cast<double>(MethodLong(kGetPosition) / 1000);
}

double CRealPlayer::GetDuration()
{
    return static_cast<double>(MethodLong(kGetLength) / 1000);
}

void CRealPlayer::Seek(double seconds)
{
    InvokeHelper(kSetPosition, DISPATCH_METHOD, VT_EMPTY, nullptr, VTS_I4, static_cast<long>(seconds * 1000));
}

void CRealPlayer::SetVolume(int volume)
{
    InvokeHelper(kSetVolume, DISPATCH_METHOD, VT_EMPTY, nullptr, VTS_I2, static_cast<short>(volume));
}

void CRealPlayer::SetMute(BOOL on)
{
    MethodBool(kSetMute, on);
}

void CRealPlayer::FullScreen(BOOL on)
{
    if (on)
        Method(kSetFullScreen);
}

BOOL CRealPlayer::GetBufferingProgress(long* progress)
{
    *progress = -MethodLong(kGetBufferingTimeRemaining);
    return TRUE;
}
