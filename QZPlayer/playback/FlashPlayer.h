// The Flash engine: our shell movie (or a movie source itself) in the Flash
// control, driven by invoke requests through CallFunction.
#pragma once

#include "PlaybackEngine.h"

const UINT IDC_FLASH_PLAYER = 5001;

class CFlashPlayer : public PlaybackEngine {
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
    BOOL LoadedWithoutProgress() override;

    // One request; the reply is empty until the movie has shown a frame.
    std::wstring CallFunction(const std::wstring& request);

    // The shell movie's address for the source (as given; only the test for
    // "HTTP://" reads it in capitals).
    static std::wstring MovieAddress(const std::wstring& moviePath, const std::wstring& source);
    // The number in a reply ("<number>12</number>" gives 12); empty gives empty.
    static long ReplyNumber(const std::wstring& reply, long ifEmpty);
    // The movie's state number as a PlayState.
    static PlayState MapState(long state);

    BOOL m_bReady = FALSE;

private:
    // A movie source loaded directly rather than through the shell movie,
    // and the state the user's commands left it in.
    BOOL m_bDirect = FALSE;
    PlayState m_directState = Playing;
    // Its timeline as last seen (-1: not yet), and when it was last seen to
    // move; a move counts for kFrameMovedMs, longer than one poll of the
    // control bar takes.
    long m_lastFrame = -1;
    ULONGLONG m_tFrameMoved = 0;
    static const ULONGLONG kFrameMovedMs = 900;

    long RequestNumber(const wchar_t* name, long ifEmpty);
    // Whether the timeline of a movie loaded directly moved lately.
    BOOL TimelineMoves();
};
