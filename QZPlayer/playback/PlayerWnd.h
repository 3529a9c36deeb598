// The player host: the black child window of the left pane that holds at
// most one playback engine and routes every playback operation to it.
#pragma once

#include "PlaybackEngine.h"

#include <memory>

const UINT IDC_PLAYER_WND = 5000;
const UINT WM_PLAYER_FULLSCREEN = WM_USER + 201;

class CPlayerWnd : public CWnd {
public:
    ~CPlayerWnd() override;

    // 0 = opened; 1 = the engine is not available; 2 = no engine for source.
    int Open(const std::wstring& source);
    BOOL IsCurrent(const std::wstring& source);

    PlaybackEngine* CreateEngine(int kind);
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
    void SetVolume(int volume);
    void SetMute(BOOL on);
    void FullScreen(BOOL on);
    void Repaint();

    int GetEngineKind() const { return m_nEngineKind; }
    BOOL HasEngine() const { return m_pEngine != nullptr; }
    PlaybackEngine* GetEngine() const { return m_pEngine.get(); }

    // The shell movie comes in two builds, one per Flash sandbox: the
    // network build for URLs, the local build for files.
    enum ShellMovie { NetworkMovie = 0, LocalMovie = 1 };
    // The build a source needs: a local or UNC path (no "://") or a file://
    // address the local one.
    static ShellMovie ShellMovieFor(const std::wstring& source);
    // The build beside the program: valid when its size is the embedded
    // movie's; written (hidden) otherwise.
    std::wstring ShellMoviePath(ShellMovie which = NetworkMovie) const;
    // Where the shell movies go: the program's folder unless set otherwise.
    std::wstring m_strMovieFolder;
    // A movie file to load in place of either build (the tests drive movies
    // of their own making through the same gate); empty normally.
    std::wstring m_strShellMovieInstead;
    BOOL ShellMovieValid(const std::wstring& path, ShellMovie which = NetworkMovie);
    BOOL ExtractShellMovie(const std::wstring& path, ShellMovie which = NetworkMovie);
    // The file this host wrote (and deletes when it goes); empty when none.
    const std::wstring& GetShellMovieFile(ShellMovie which = NetworkMovie) const { return m_strShellMovie[which]; }

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
    std::wstring m_strShellMovie[2];
    DWORD m_dwMovieSize[2] = {};
    std::wstring m_strSource;
};
