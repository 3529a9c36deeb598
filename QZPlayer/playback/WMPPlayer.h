// The Windows Media engine: the media player control with its own user
// interface switched off, driven through its typed interfaces (IWMPPlayer4
// and the controls and settings objects it hands out, held), its play and
// open states heard from its _WMPOCXEvents source. Typed calls a control
// does not implement (E_NOTIMPL) are done another way where a user would
// expect them (docs/decisions.md, Playback).
#pragma once

#include "PlaybackEngine.h"

#include "Handles.h"

#include <vector>

struct IWMPPlayer4;
struct IWMPControls;
struct IWMPSettings;
class CWMPEventSink;

const UINT IDC_WMP_PLAYER = 5002;

class CWMVPlayer : public PlaybackEngine {
public:
    CWMVPlayer();
    ~CWMVPlayer() override;

    BOOL Create(CPlayerWnd* host, const RECT& rect) override;
    // FALSE when the control refused the source at once (Wine's refuses URLs
    // and files it cannot open): it was stopped, and nothing plays.
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
    // network.bufferingProgress, in percent, where the control offers
    // IDispatch (the typed network object is not used).
    BOOL GetBufferingProgress(long* progress) override;
    BOOL CanPause() override { return m_bCanPause; }
    BOOL CanSeek() override;
    // The teardown order: stopped, events cut, the controls and settings
    // objects released, then the control itself.
    BOOL DestroyWindow() override;

    // The control's playState as a PlayState.
    static PlayState MapState(long state);
    // A file:/// URL as the plain path it names (Wine's control plays plain
    // paths only); anything else as given.
    static std::wstring PathOfFileUrl(const std::wstring& source);
    // Whether a source has sound only, by its extension (seeking those is
    // safe in every control).
    static BOOL IsSoundOnly(const std::wstring& source);

    // Whether the control is Wine's own (its module is a Wine builtin, or it
    // offers no IDispatch, as no other known one does).
    BOOL IsWineControl() const { return m_bWine; }
    // The control's play-state events in the order heard (the first 64),
    // for the tests; each also goes to the debugger with its time since the
    // source was given, and each new length read too (for the demo).
    std::vector<long> PlayStatesHeard() const;

private:
    HRESULT StartPlaying();

    CComPtr<IWMPPlayer4> m_pPlayer;
    CComPtr<IWMPControls> m_pControls;
    CComPtr<IWMPSettings> m_pSettings;
    CComPtr<IDispatch> m_pDispatch; // only where the control offers it
    CComPtr<IConnectionPoint> m_pEvents;
    CComPtr<CWMPEventSink> m_pSink;
    DWORD m_dwCookie = 0;
    std::wstring m_strSource;
    BOOL m_bWine = FALSE;
    BOOL m_bCanPause = TRUE;
    BOOL m_bMuteByVolume = FALSE; // put_mute refused: mute is volume 0
    BOOL m_bHostFullScreen = FALSE; // put_fullScreen refused: the host's own
    BOOL m_bMuted = FALSE;
    long m_nVolume = 50;
    BOOL m_bFailed = FALSE;  // the last play failed (and was stopped)
    BOOL m_bRunning = FALSE; // played since the last stop
    double m_dDuration = 0;  // the length last read (a change goes to the debugger)
};
