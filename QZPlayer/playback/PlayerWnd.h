// The player host: the black child window of the left pane that holds at
// most one playback engine and routes every playback operation to it.
#pragma once

#include "FlashPlayer.h"
#include "PlaybackEngine.h"

#include <memory>

const UINT IDC_PLAYER_WND = 5000;
const UINT WM_PLAYER_FULLSCREEN = WM_USER + 201;
// wParam of WM_PLAYER_FULLSCREEN from an engine whose control has no full
// screen of its own: the host takes the screen.
const WPARAM kHostFullScreen = 1;
// The host's search for a control's separate video window after an open.
const UINT_PTR kVideoSearchTimerId = 3000;
const UINT kVideoSearchMs = 50;
const UINT kVideoSearchTurns = 200; // 10 s: Wine shows the first frame within 1 s

class CPlayerWnd : public CWnd {
public:
    ~CPlayerWnd() override;

    // 0 = opened; 1 = the engine is not available; 2 = no engine for source.
    int Open(const std::wstring& source);
    BOOL IsCurrent(const std::wstring& source);

    // The engine of a kind; a Flash one through the shell movie or not.
    PlaybackEngine* CreateEngine(int kind, BOOL shellMovie = TRUE);
    void DestroyEngine();

    PlayState GetState();
    void Play();
    void Pause();
    void Stop();
    void GetPosition(double* seconds);
    void GetDuration(double* seconds);
    // The engine's buffering progress (a number that grows while buffering
    // makes progress); FALSE when there is no engine or it does not say.
    BOOL GetBufferingProgress(long* progress);
    // Whether the engine's source, one that reports no progress of its own,
    // has been loaded whole by its control, or plays while it streams in: it
    // counts as started.
    BOOL LoadedWithoutProgress();
    void Seek(double seconds);
    // What the engine can do (TRUE without one).
    BOOL CanPause() const { return !m_pEngine || m_pEngine->CanPause(); }
    BOOL CanSeek() const { return !m_pEngine || m_pEngine->CanSeek(); }
    void SetVolume(int volume);
    void SetMute(BOOL on);
    void FullScreen(BOOL on);
    // The host itself over the whole monitor (a control without a full
    // screen of its own), or back in its pane; Esc or a click brings it back.
    void HostFullScreen(BOOL on);
    BOOL IsHostFullScreen() const { return m_hRestoreParent != nullptr; }
    // Lays the host out in parent, if it is there; while the host has the
    // screen, r is where it goes back to (its pane may be laid out anew
    // meanwhile: the frame resized, the client taking the pane).
    void PlaceIn(HWND parent, const CRect& r);
    void Repaint();
    // Wine's control draws video into a top-level window of its own
    // ("wine_quartz_window") in this process: after each open and play the
    // host looks for it (a bounded number of turns) and makes it a child
    // filling the host. On Windows there is none, and nothing changes.
    void SearchVideoWindow();
    HWND GetVideoWindow() const { return m_hVideo; }

    int GetEngineKind() const { return m_nEngineKind; }
    BOOL HasEngine() const { return m_pEngine != nullptr; }
    PlaybackEngine* GetEngine() const { return m_pEngine.get(); }

    // The shell movie's files, made on first need and shared with each
    // shell-movie engine created here: written once, deleted when the host
    // goes (tests set where they go, or a movie in their place).
    CShellMovies& ShellMovies();

    // The source with a to z made capitals, nothing else changed.
    static std::wstring UpperAscii(const std::wstring& text);
    // The engine for a source (0 when none), and whether it loads through
    // the shell movie.
    static int EngineForSource(const std::wstring& upper, BOOL* shellMovie = nullptr);

protected:
    LRESULT WindowProc(UINT msg, WPARAM wp, LPARAM lp) override;

private:
    int m_nEngineKind = EngineNone;
    std::unique_ptr<PlaybackEngine> m_pEngine;
    std::shared_ptr<CShellMovies> m_shellMovies;
    std::wstring m_strSource;
    HWND m_hRestoreParent = nullptr; // set while the host has the screen
    HWND m_hVideo = nullptr;          // the control's video window, adopted
    UINT m_nSearchTurns = 0;          // turns of the video search left
    // One turn of the search; TRUE when a window was adopted.
    BOOL AdoptVideoWindow();
    void PlaceVideoWindow();
    CRect m_rcRestore;
};
