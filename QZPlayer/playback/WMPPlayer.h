// The Windows Media engine: the media player control with its own user
// interface switched off; its controls and settings objects are held.
#pragma once

#include "PlaybackEngine.h"

const UINT IDC_WMP_PLAYER = 5002;

// The control's own members used here.
class CWMPPlayer : public PlaybackEngine {
public:
    void SetURL(const std::wstring& url) { SetProperty(1, VT_BSTR, url.c_str()); }
    IDispatch* GetControls();
    IDispatch* GetSettings();
    IDispatch* GetNetwork();
    long GetPlayState();
    void SetFullScreen(BOOL on) { SetProperty(21, VT_BOOL, on); }
    void SetUiMode(const std::wstring& mode) { SetProperty(23, VT_BSTR, mode.c_str()); }
    void SetStretchToFit(BOOL on) { SetProperty(24, VT_BOOL, on); }
};

class CWMVPlayer : public CWMPPlayer {
public:
    BOOL Create(CPlayerWnd* host, const RECT& rect) override;
    BOOL Load(CPlayerWnd* host, const std::wstring& source) override;
    PlayState GetState() override;
    void Play() override;
    void Pause() override;
    void Stop() override;
    double GetPosition() override;
    double GetDuration() override;
    void Seek(double seconds) override;
    void SetVolume(int volume) override;
    void SetMute(BOOL on) override;
    void FullScreen(BOOL on) override;
    // network.bufferingProgress, in percent.
    BOOL GetBufferingProgress(long* progress) override;
    // The teardown order: the controls and settings objects are released
    // before the control itself is destroyed.
    BOOL DestroyWindow() override;

    // The control's playState as a PlayState.
    static PlayState MapState(long state);

    // Fetches the controls and settings objects, releasing any held.
    void FetchParts();

    COleDispatchDriver m_controls;
    COleDispatchDriver m_settings;
};
