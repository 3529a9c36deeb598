// The Real engine: the control reduced to its image window, called by
// dispatch id; the control counts in milliseconds.
#pragma once

#include "PlaybackEngine.h"

const UINT IDC_REAL_PLAYER = 5003;

class CRealPlayer : public PlaybackEngine {
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
    // GetBufferingTimeRemaining, which falls while buffering makes progress.
    BOOL GetBufferingProgress(long* progress) override;

    // The control's play state as a PlayState.
    static PlayState MapState(long state);

private:
    void Method(DISPID id) { InvokeHelper(id, DISPATCH_METHOD, VT_EMPTY, nullptr, VTS_NONE); }
    void MethodBool(DISPID id, BOOL on) { InvokeHelper(id, DISPATCH_METHOD, VT_EMPTY, nullptr, VTS_BOOL, on); }
    long MethodLong(DISPID id);
};
