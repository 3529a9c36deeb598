// The control bar under the video: seek slider, Play/Pause, Stop, state and
// time texts, Mute, volume slider, Full and Change. It is also playback's
// only clock: a one-second poll of the player host while something plays.
#pragma once

#include "PlaybackEngine.h"
#include "SkinButton.h"
#include "SliderEx.h"

class CPlayerWnd;

const UINT IDD_PLAYER_CONTROL = 132;
const UINT WM_PLAY_NEXT = WM_USER + 1001;
const UINT_PTR kPollTimerId = 1000;

class CPlayerControl : public CDialog {
public:
    CPlayerControl() : CDialog(IDD_PLAYER_CONTROL) {}

    void PrepareOpen();
    void OnMediaOpened();
    void Resume();
    void SetChangeChecked(BOOL checked);
    void SetBkColor(COLORREF color);
    void SetState(int state);

    // "HH:MM:SS / HH:MM:SS" of whole seconds, and the seek slider's per mille.
    static std::wstring TimeText(double position, double duration);
    static int SeekPosition(double position, double duration);

    CSkinButton m_btnPlay;
    CSkinButton m_btnStop;
    CSkinButton m_btnMute;
    CSliderEx m_sliderSeek;
    CSliderEx m_sliderVolume;
    CSkinButton m_btnFull;
    CSkinButton m_btnChange;
    std::wstring m_strState = L"等待...";
    std::wstring m_strTime = L"00:00:00 / 00:00:00";
    UINT_PTR m_nTimer = 0;
    CStatic m_staticState;
    CStatic m_staticTime;
    CBrush m_brBackground;
    CPlayerWnd* m_pPlayer = nullptr;
    BOOL m_bVolumePending = FALSE;
    COLORREF m_clrBk = RGB(248, 248, 248);

protected:
    void DoDataExchange(CDataExchange* dx) override;
    BOOL OnInitDialog() override;
    BOOL OnCommand(WPARAM wp, LPARAM lp) override;
    HBRUSH OnCtlColor(HDC dc, HWND child, UINT ctlType) override;
    LRESULT WindowProc(UINT msg, WPARAM wp, LPARAM lp) override;
    // Enter and Esc belong to the frame, never to this child dialog.
    void OnOK() override {}
    void OnCancel() override {}

private:
    void Poll();
    void ApplyVolume();
    void RestartTimer();
    void StopTimer();
    void Enable(BOOL play, BOOL stop, BOOL mute, BOOL full, BOOL volume, BOOL seek);
    void OnPlay();
    void OnStop();
    void OnMute();
    void OnChange();
    void OnSliderChanged(CSliderEx* slider);
    void Layout();
    void Paint();

    COLORREF m_clrBrush = 0; // the colour m_brBackground was made with
};
