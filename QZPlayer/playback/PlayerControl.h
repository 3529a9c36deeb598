// The control bar under the video: seek slider, Play/Pause, Stop, state and
// time texts, Mute, volume slider, Full and Change. It is also playback's
// only clock: a one-second poll of the player host while something plays.
#pragma once

#include "PlaybackEngine.h"
#include "SkinButton.h"
#include "SliderEx.h"
#include "StallRule.h"
#include "resource.h"

class CPlayerWnd;

const UINT WM_PLAY_NEXT = WM_USER + 1001;
// Sent to the bar's parent by Play when nothing is loaded: start the list.
const UINT WM_PLAY_LIST = WM_USER + 1002;
const UINT_PTR kPollTimerId = 1000;

// wParam of WM_PLAY_NEXT: why the next entry is wanted.
const WPARAM kPlayNextEnded = 0;        // the item played to its end (or anyone asks)
const WPARAM kPlayNextPassedOver = 1;   // the item never started: passed over like one that failed to open
const WPARAM kPlayNextAfterFailure = 2; // the pane's own, after an entry failed to open


class CPlayerControl : public CDialog {
public:
    CPlayerControl() : CDialog(IDD_PLAYER_CONTROL) {}

    void PrepareOpen();
    void OnMediaOpened();
    void Resume();
    void SetChangeChecked(BOOL checked);
    void SetBkColor(COLORREF color);
    void SetState(int state);
    // The Play button's command as a key gives it: only while the button
    // is enabled.
    void PlayPause();
    // Whether the list has entries: with nothing loaded, Play then starts it.
    void SetListReady(BOOL ready);
    // The volume (0..100, clamped) and mute the user left; the next open
    // applies them.
    void SetVolumeState(int volume, BOOL mute);

    // "HH:MM:SS / HH:MM:SS" of whole seconds, and the seek slider's per mille.
    static std::wstring TimeText(double position, double duration);
    // "HH:MM:SS" of whole seconds: the seek slider's tip.
    static std::wstring ClockText(double seconds);
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
    // The player's frame, set by it: while the client holds the left pane the
    // bar's ancestors are the client's windows, but code 6 names the frame.
    HWND m_hFrame = nullptr;
    BOOL m_bVolumePending = FALSE;
    COLORREF m_clrBk = RGB(248, 248, 248);
    // Whether the item opened last has shown that it plays; until then it is
    // watched (tests shorten its bound).
    CStallRule m_stall;
    BOOL m_bListReady = FALSE;

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
    // The watch on an item that has not started yet; TRUE when it has just
    // been passed over.
    BOOL PassOverIfStalled(PlayState state);
    // The item is over (ended, or passed over): the bar stops and the parent
    // hears why.
    void EndItem(WPARAM why);
    void ApplyVolume();
    void RestartTimer();
    void StopTimer();
    void Enable(BOOL play, BOOL stop, BOOL mute, BOOL full, BOOL volume, BOOL seek);
    // Play as the state wants it, or for starting the list.
    void EnablePlay();
    void KeepFocus(HWND focus);
    void OnPlay();
    void OnStop();
    void OnMute();
    void OnChange();
    void OnSliderChanged(CSliderEx* slider);
    void Layout();
    void Paint();

    COLORREF m_clrBrush = 0; // the colour m_brBackground was made with
    BOOL m_bPlayByState = FALSE; // what the last look said of Play
    BOOL m_bNoPauseTip = FALSE;  // Play shows the tip of a control that cannot pause
    double m_dDuration = 0; // as the last poll read it, for the seek tip
};
