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
    void Seek(double seconds);
    void SetVolume(int volume);
    void SetMute(BOOL on);
    void FullScreen(BOOL on);
    void Repaint();

    int GetEngineKind() const { return m_nEngineKind; }
    BOOL HasEngine() const { return m_pEngine != nullptr; }
    PlaybackEngine* GetEngine() const { return m_pEngine.get(); }

    // The shell movie beside the program: valid when its size is the
    // embedded movie's; written (hidden) otherwise.
    std::wstring ShellMoviePath() const;
    // Where the shell movie goes: the program's folder unless set otherwise.
    std::wstring m_strMovieFolder;
    BOOL ShellMovieValid(const std::wstring& path);
    BOOL ExtractShellMovie(const std::wstring& path);
    const std::wstring& GetShellMovieFile() const { return m_strShellMovie; }

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
    std::wstring m_strShellMovie;
    DWORD m_dwMovieSize = 0;
    std::wstring m_strSource;
};
