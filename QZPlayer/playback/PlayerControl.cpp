#include "PlayerControl.h"

#include "PlayerWnd.h"
#include "Protocol.h"
#include "resource.h"

static_assert(kChangeButtonId == IDC_BAR_CHANGE, "the client presses the bar's Change button by its id");

namespace {

const COLORREF kMask = RGB(0, 128, 128);
const COLORREF kFrameTopLeft = RGB(131, 140, 147);
const COLORREF kFrameBottomRight = RGB(165, 177, 187);
const COLORREF kStaticText = RGB(63, 87, 125);

// Places a window at (x, y) keeping its size.
void Place(CWnd& w, int x, int y)
{
    if (w.IsWindow())
        ::SetWindowPos(w, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

CSize SizeOf(const CWnd& w)
{
    CRect r = w.GetWindowRect();
    return CSize(r.Width(), r.Height());
}

} // namespace

void CPlayerControl::DoDataExchange(CDataExchange* dx)
{
    DDX_Control(dx, IDC_BAR_PLAY, m_btnPlay);
    DDX_Control(dx, IDC_BAR_STOP, m_btnStop);
    DDX_Control(dx, IDC_BAR_SEEK, m_sliderSeek);
    DDX_Control(dx, IDC_BAR_VOLUME, m_sliderVolume);
    DDX_Control(dx, IDC_BAR_MUTE, m_btnMute);
    DDX_Control(dx, IDC_BAR_STATE, m_staticState);
    DDX_Control(dx, IDC_BAR_TIME, m_staticTime);
    DDX_Control(dx, IDC_BAR_FULL, m_btnFull);
    DDX_Control(dx, IDC_BAR_CHANGE, m_btnChange);
    DDX_Text(dx, IDC_BAR_STATE, m_strState);
    DDX_Text(dx, IDC_BAR_TIME, m_strTime);
}

BOOL CPlayerControl::OnInitDialog()
{
    CDialog::OnInitDialog();
    struct Skin {
        CSkinButton* button;
        UINT bitmap;
        int count;
        BOOL toggle;
        UINT tip;
    } skins[] = {
        {&m_btnPlay, IDB_PLAY, 7, TRUE, IDS_TIP_PLAY},      {&m_btnStop, IDB_STOP, 4, FALSE, IDS_TIP_STOP},
        {&m_btnFull, IDB_FULL, 4, FALSE, IDS_TIP_FULLSCREEN}, {&m_btnChange, IDB_CHANGE, 7, TRUE, IDS_TIP_CHANGE},
        {&m_btnMute, IDB_MUTE, 7, TRUE, IDS_TIP_MUTE},
    };
    for (const Skin& s : skins) {
        s.button->m_bPressedFrames = s.count == 7;
        s.button->LoadStripBitmap(s.bitmap, kMask, s.count, s.tip);
        s.button->SetBkColor(m_clrBk);
        s.button->SetToggle(s.toggle);
    }
    m_btnChange.SetChecked(TRUE);
    m_sliderSeek.SetRange(0, 1000);
    m_sliderSeek.m_clrBk = m_clrBk;
    m_sliderVolume.SetRange(0, 100);
    m_sliderVolume.SetPos(50);
    m_sliderVolume.m_clrBk = m_clrBk;
    // The time under the cursor (once a length is known) and the volume.
    m_sliderSeek.m_tipText = [this](int value) {
        return m_dDuration > 0 ? ClockText(value * m_dDuration / 1000) : std::wstring();
    };
    m_sliderVolume.m_tipText = [](int value) { return L"音量：" + std::to_wstring(value); };
    SetState(Ready);
    Layout();
    return TRUE;
}

void CPlayerControl::Enable(BOOL play, BOOL stop, BOOL mute, BOOL full, BOOL volume, BOOL seek)
{
    const HWND focus = ::GetFocus();
    m_bPlayByState = play;
    EnablePlay();
    m_btnStop.EnableWindow(stop);
    m_btnMute.EnableWindow(mute);
    m_btnFull.EnableWindow(full);
    m_sliderVolume.EnableInput(volume);
    // A control that cannot seek this source keeps its slider still.
    m_sliderSeek.EnableInput(seek && (!m_pPlayer || m_pPlayer->CanSeek()));
    KeepFocus(focus);
}

void CPlayerControl::KeepFocus(HWND focus)
{
    // A disabled window loses the keyboard to nobody (Stop pressed with
    // Enter would leave the keyboard user with no focus at all): it goes
    // to Play, or else to the video.
    if (!focus || !::IsChild(m_hWnd, focus) || ::IsWindowEnabled(focus))
        return;
    if (m_btnPlay.IsWindowEnabled())
        ::SetFocus(m_btnPlay);
    else if (m_pPlayer && m_pPlayer->IsWindow())
        ::SetFocus(*m_pPlayer);
}

void CPlayerControl::EnablePlay()
{
    const BOOL loaded = m_pPlayer && m_pPlayer->HasEngine();
    if (!m_btnPlay.IsWindow())
        return;
    // While it plays, Play is Pause: disabled, with a tip that says why,
    // where the control cannot pause.
    const BOOL noPause = loaded && m_btnPlay.IsChecked() && !m_pPlayer->CanPause();
    m_btnPlay.EnableWindow(!noPause && (m_bPlayByState || (m_bListReady && !loaded)));
    if (noPause != m_bNoPauseTip) {
        m_bNoPauseTip = noPause;
        m_btnPlay.SetTooltipText(noPause ? IDS_TIP_NO_PAUSE : IDS_TIP_PLAY);
    }
}

void CPlayerControl::SetListReady(BOOL ready)
{
    const HWND focus = ::GetFocus();
    m_bListReady = ready;
    EnablePlay();
    KeepFocus(focus);
}

void CPlayerControl::SetVolumeState(int volume, BOOL mute)
{
    m_sliderVolume.SetPos(volume);
    m_btnMute.SetChecked(mute);
}

void CPlayerControl::RestartTimer()
{
    StopTimer();
    m_nTimer = SetTimer(kPollTimerId, 1000);
}

void CPlayerControl::StopTimer()
{
    if (m_nTimer) {
        KillTimer(m_nTimer);
        m_nTimer = 0;
    }
}

void CPlayerControl::SetState(int state)
{
    const wchar_t* text = nullptr;
    switch (state) {
    case Undefined:
        text = L"";
        break;
    case Paused:
        text = L"已暂停";
        m_btnPlay.SetChecked(FALSE);
        break;
    case Stopped:
        text = L"已停止";
        StopTimer();
        m_btnPlay.SetChecked(FALSE);
        Enable(TRUE, FALSE, TRUE, TRUE, TRUE, FALSE);
        break;
    case Playing:
        text = L"正在播放...";
        break;
    case Buffering:
        text = L"缓冲处理中...";
        break;
    case Opening:
        text = L"正在打开...";
        RestartTimer();
        m_btnPlay.SetChecked(TRUE);
        Enable(TRUE, TRUE, TRUE, TRUE, TRUE, TRUE);
        break;
    case Ready:
        text = L"准备就绪";
        StopTimer();
        m_btnPlay.SetChecked(FALSE);
        Enable(FALSE, FALSE, TRUE, FALSE, TRUE, FALSE);
        break;
    case Error:
        text = L"有错误发生！";
        StopTimer();
        m_btnPlay.SetChecked(FALSE);
        Enable(TRUE, FALSE, TRUE, TRUE, TRUE, TRUE);
        break;
    default:
        return;
    }
    m_strState = text;
    UpdateData(FALSE);
}

void CPlayerControl::PrepareOpen()
{
    m_sliderSeek.SetPos(0);
    SetState(Stopped);
}

void CPlayerControl::OnMediaOpened()
{
    if (!m_pPlayer)
        return;
    m_dDuration = 0; // the new item's length comes with the polls
    m_stall.Open(::GetTickCount64());
    if (m_pPlayer->GetEngineKind() == EngineFlash) {
        // The movie takes a volume only once it plays.
        m_bVolumePending = TRUE;
    } else {
        m_bVolumePending = FALSE;
        ApplyVolume();
    }
    SetState(Opening);
}

void CPlayerControl::Resume()
{
    if (m_pPlayer && m_pPlayer->HasEngine() && !m_btnPlay.IsChecked()) {
        m_pPlayer->Play();
        // The list may have come back to a source it passed over (the same
        // one again, or a random pick): it is watched again.
        m_stall.Resume(::GetTickCount64());
        SetState(Opening);
    }
}

void CPlayerControl::SetChangeChecked(BOOL checked)
{
    if (m_btnChange.IsWindow())
        m_btnChange.SetChecked(checked);
}

void CPlayerControl::SetBkColor(COLORREF color)
{
    m_clrBk = color;
    for (CSkinButton* b : {&m_btnPlay, &m_btnStop, &m_btnMute, &m_btnChange, &m_btnFull})
        b->SetBkColor(color);
    m_sliderSeek.m_clrBk = color;
    m_sliderVolume.m_clrBk = color;
    if (m_sliderSeek.IsWindow())
        m_sliderSeek.Invalidate(FALSE);
    if (m_sliderVolume.IsWindow())
        m_sliderVolume.Invalidate(FALSE);
    Invalidate(TRUE);
}

std::wstring CPlayerControl::TimeText(double position, double duration)
{
    const long p = static_cast<long>(position), d = static_cast<long>(duration);
    return FormatString(L"%.2ld:%.2ld:%.2ld / %.2ld:%.2ld:%.2ld", p / 3600, (p % 3600) / 60, (p % 3600) % 60,
                        d / 3600, (d % 3600) / 60, (d % 3600) % 60);
}

std::wstring CPlayerControl::ClockText(double seconds)
{
    const long s = static_cast<long>(seconds);
    return FormatString(L"%.2ld:%.2ld:%.2ld", s / 3600, (s % 3600) / 60, s % 60);
}

int CPlayerControl::SeekPosition(double position, double duration)
{
    return duration > 0 ? static_cast<int>(position / duration * 1000) : 0;
}

void CPlayerControl::ApplyVolume()
{
    if (!m_pPlayer)
        return;
    if (m_btnMute.IsChecked())
        m_pPlayer->SetMute(TRUE);
    else
        m_pPlayer->SetVolume(m_sliderVolume.GetPos());
}

void CPlayerControl::EndItem(WPARAM why)
{
    // An item passed over may still start late: it is stopped, so that the bar
    // and the engine agree, and Play starts it again from its beginning.
    if (why == kPlayNextPassedOver && m_pPlayer && m_pPlayer->HasEngine())
        m_pPlayer->Stop();
    m_stall.End(why == kPlayNextPassedOver);
    if (m_sliderSeek.GetPos() != 0)
        m_sliderSeek.SetPos(0);
    SetState(Stopped);
    if (CWnd* parent = GetParent())
        parent->SendMessage(WM_PLAY_NEXT, why, 0);
}

BOOL CPlayerControl::PassOverIfStalled(PlayState state)
{
    if (!m_stall.IsWatching() || !m_pPlayer->HasEngine())
        return FALSE;
    // The host's readings, taken only as far as the rule asks for them.
    struct HostProbe final : IStallProbe {
        explicit HostProbe(CPlayerWnd& host) : host(host) {}
        double Position() override
        {
            double p = 0.0;
            host.GetPosition(&p);
            return p;
        }
        double Duration() override
        {
            double d = 0.0;
            host.GetDuration(&d);
            return d;
        }
        BOOL LoadedWithoutProgress() override { return host.LoadedWithoutProgress(); }
        BOOL BufferingProgress(long* percent) override { return host.GetBufferingProgress(percent); }
        CPlayerWnd& host;
    } probe(*m_pPlayer);
    const CStallRule::Verdict verdict = m_stall.Judge(::GetTickCount64(), state, probe);
    if (verdict != CStallRule::Stalled && verdict != CStallRule::FailedLate)
        return FALSE;
    EndItem(kPlayNextPassedOver);
    return TRUE;
}

void CPlayerControl::Poll()
{
    if (!m_pPlayer)
        return;
    const PlayState s = m_pPlayer->GetState();
    // An item that never starts must not hold the list, whatever state its
    // engine claims (or none at all).
    if (PassOverIfStalled(s))
        return;
    if (s == Undefined)
        return;
    if (s == Stopped) {
        EndItem(kPlayNextEnded);
        return;
    }
    double p = 0.0, d = 0.0;
    m_pPlayer->GetPosition(&p);
    m_pPlayer->GetDuration(&d);
    m_dDuration = d;
    m_strTime = TimeText(p, d);
    UpdateData(FALSE);
    const int seek = SeekPosition(p, d);
    if (m_sliderSeek.GetPos() != seek)
        m_sliderSeek.SetPos(seek);
    if (m_bVolumePending) {
        ApplyVolume();
        m_bVolumePending = FALSE;
    }
    SetState(s);
}

void CPlayerControl::OnPlay()
{
    if (!m_pPlayer || !m_pPlayer->HasEngine()) {
        // Nothing loaded (a list restored at start, an entry that failed to
        // open): the parent starts the list.
        if (m_bListReady)
            ::SendMessageW(::GetParent(m_hWnd), WM_PLAY_LIST, 0, 0);
        return;
    }
    if (m_btnPlay.IsChecked()) {
        m_pPlayer->Pause();
        return;
    }
    m_pPlayer->Play();
    m_stall.Restart(::GetTickCount64());
    SetState(Opening);
}

void CPlayerControl::PlayPause()
{
    if (m_btnPlay.IsWindow() && m_btnPlay.IsWindowEnabled())
        OnPlay();
}

void CPlayerControl::OnStop()
{
    if (!m_pPlayer || !m_pPlayer->HasEngine())
        return;
    m_pPlayer->Stop();
    m_sliderSeek.SetPos(0);
    SetState(Stopped);
}

void CPlayerControl::OnMute()
{
    if (!m_pPlayer || !m_pPlayer->HasEngine())
        return;
    const BOOL mute = !m_btnMute.IsChecked();
    m_btnMute.SetChecked(mute);
    m_pPlayer->SetMute(mute);
    if (!mute)
        m_pPlayer->SetVolume(m_sliderVolume.GetPos());
}

void CPlayerControl::OnChange()
{
    HWND client = ::FindWindowW(kClientFrameClass, nullptr);
    if (!client)
        return;
    // The frame, embedded or not: the client answers with code 6 to the
    // handle it gets, and must not talk to its own window.
    HWND frame = m_hFrame;
    if (!frame || !::IsWindow(frame))
        return;
    // The frame's handle crosses to the client as a 32-bit value.
    LONG handle = HandleToLong(frame);
    COPYDATASTRUCT data = {kCopyChange, sizeof handle, &handle};
    DWORD_PTR result = 0;
    ::SendMessageTimeoutW(client, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data), SMTO_NORMAL, 500, &result);
}

void CPlayerControl::OnSliderChanged(CSliderEx* slider)
{
    if (slider == &m_sliderSeek) {
        if (m_pPlayer && m_pPlayer->HasEngine()) {
            double d = 0.0;
            m_pPlayer->GetDuration(&d);
            m_pPlayer->Seek(m_sliderSeek.GetPos() * d * 0.001);
        } else {
            m_sliderSeek.SetPos(0);
        }
    } else if (slider == &m_sliderVolume) {
        if (m_pPlayer && m_pPlayer->HasEngine())
            ApplyVolume();
    }
}

BOOL CPlayerControl::OnCommand(WPARAM wp, LPARAM lp)
{
    if (HIWORD(wp) == BN_CLICKED) {
        switch (LOWORD(wp)) {
        case IDC_BAR_PLAY:
            OnPlay();
            return TRUE;
        case IDC_BAR_STOP:
            OnStop();
            return TRUE;
        case IDC_BAR_MUTE:
            OnMute();
            return TRUE;
        case IDC_BAR_FULL:
            if (m_pPlayer && m_pPlayer->HasEngine())
                m_pPlayer->FullScreen(TRUE);
            return TRUE;
        case IDC_BAR_CHANGE:
            OnChange();
            return TRUE;
        default:
            break;
        }
    }
    return CDialog::OnCommand(wp, lp);
}

HBRUSH CPlayerControl::OnCtlColor(HDC dc, HWND, UINT ctlType)
{
    if (!m_brBackground.GetSafeHandle() || m_clrBrush != m_clrBk) {
        m_brBackground.DeleteObject();
        m_brBackground.CreateSolidBrush(m_clrBk);
        m_clrBrush = m_clrBk;
    }
    if (ctlType == CTLCOLOR_STATIC) {
        ::SetBkMode(dc, TRANSPARENT);
        ::SetTextColor(dc, kStaticText);
    }
    return m_brBackground;
}

void CPlayerControl::Layout()
{
    CRect c = GetClientRect();
    int left = c.left + 3, top = c.top + 3, right = c.right - 3, bottom = c.bottom - 3;
    if (m_sliderSeek.IsWindow())
        ::SetWindowPos(m_sliderSeek, nullptr, left, top, right - left, 10, SWP_NOZORDER | SWP_NOACTIVATE);
    const int rowTop = top + 13, rowHeight = bottom - rowTop;
    auto centred = [&](int height) { return rowTop + (rowHeight - height) / 2; };
    auto fromLeft = [&](CWnd& w) {
        if (!w.IsWindow())
            return;
        CSize s = SizeOf(w);
        Place(w, left, centred(s.cy));
        left += s.cx;
    };
    auto fromRight = [&](CWnd& w) {
        if (!w.IsWindow())
            return;
        CSize s = SizeOf(w);
        Place(w, right - s.cx, centred(s.cy));
        right -= s.cx;
    };
    auto sized = [&](CWnd& w, int x, int width, int height) {
        if (w.IsWindow())
            ::SetWindowPos(w, nullptr, x, centred(height), width, height, SWP_NOZORDER | SWP_NOACTIVATE);
    };
    fromLeft(m_btnPlay);
    fromLeft(m_btnStop);
    fromRight(m_btnChange);
    fromRight(m_btnFull);
    right -= 5;
    sized(m_sliderVolume, right - 50, 50, 10);
    right -= 50;
    fromRight(m_btnMute);
    right -= 10;
    sized(m_staticTime, right - 110, 110, 18);
    right -= 110;
    left += 10;
    right -= 10;
    sized(m_staticState, left, right - left, 18);
}

void CPlayerControl::Paint()
{
    CPaintDC paint(m_hWnd);
    const CRect client = GetClientRect();
    CMemDC mem(paint, client);
    mem.FillSolidRect(client, m_clrBk);
    for (CStatic* s : {&m_staticTime, &m_staticState}) {
        if (!s->IsWindow())
            continue;
        CRect r = s->GetWindowRect();
        ::MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(&r), 2);
        r.InflateRect(3, 1);
        mem.Draw3dRect(r, kFrameTopLeft, kFrameBottomRight);
    }
}

LRESULT CPlayerControl::WindowProc(UINT msg, WPARAM wp, LPARAM lp)
{
    switch (msg) {
    case WM_TIMER:
        if (m_nTimer && wp == m_nTimer) {
            Poll();
            return 0;
        }
        break;
    case WM_SLIDER_CHANGED:
        OnSliderChanged(reinterpret_cast<CSliderEx*>(lp));
        return 0;
    case WM_SIZE:
        Layout();
        break;
    case WM_PAINT:
        Paint();
        return 0;
    case WM_ERASEBKGND:
        return TRUE;
    case WM_DESTROY:
        StopTimer();
        m_brBackground.DeleteObject();
        break;
    default:
        break;
    }
    return CDialog::WindowProc(msg, wp, lp);
}
