// One playback engine: an ActiveX player control hosted by the player
// window. The host talks to every engine through these operations only.
#pragma once

#include "framework.h"

#include <string>

// Engine-independent playback state, as the control bar shows it.
enum PlayState {
    Undefined = 0,
    Paused = 1,
    Stopped = 2,
    Playing = 3,
    Buffering = 4,
    Opening = 5,
    Ready = 6,
    Error = 7,
};

enum EngineKind {
    EngineNone = 0,
    EngineFlash = 1,
    EngineMedia = 2,
    EngineReal = 3,
};

class CPlayerWnd;

// The engines are one interface with three implementations rather than a
// switch in the host: each control's calls then read as one unit, beside
// the dispatch ids they use.
class PlaybackEngine : public CWnd {
public:
    // Creates the control as a child of host filling rect; FALSE when the
    // control is not installed. Dispatch errors of the set-up calls are thrown.
    virtual BOOL Create(CPlayerWnd* host, const RECT& rect) = 0;
    // Gives the control the source, as given, and starts it; FALSE when the
    // engine cannot play it (the Flash shell movie missing).
    virtual BOOL Load(CPlayerWnd* host, const std::wstring& source) = 0;
    virtual PlayState GetState() = 0;
    virtual void Play() = 0;
    virtual void Pause() = 0;
    virtual void Stop() = 0;
    virtual double GetPosition() = 0;
    virtual double GetDuration() = 0;
    virtual void Seek(double seconds) = 0;
    virtual void SetVolume(int volume) = 0;
    virtual void SetMute(BOOL on) = 0;
    virtual void FullScreen(BOOL on) = 0;
    // How far the control's buffering has come, as a number that grows while
    // buffering makes progress; FALSE when the control does not say.
    virtual BOOL GetBufferingProgress(long* progress)
    {
        (void)progress;
        return FALSE;
    }
    // TRUE when the source reports no position or duration (a Flash movie
    // loaded directly) and the control has loaded it whole, or plays it while
    // it streams in: it has started,
    // and it ends only when the user or the list ends it.
    virtual BOOL LoadedWithoutProgress() { return FALSE; }
    // Whether Pause can work (a control may not implement it); the bar
    // disables Pause and says why when not.
    virtual BOOL CanPause() { return TRUE; }
    // Whether a seek is safe with this control and source; Seek does nothing
    // when not.
    virtual BOOL CanSeek() { return TRUE; }
};
