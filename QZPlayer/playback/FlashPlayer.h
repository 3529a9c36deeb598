// The Flash engines, one per way a source plays in the Flash control: through
// our shell movie, which plays the source and answers invoke requests through
// CallFunction (CFlashPlayer), or a movie source loaded into the control
// itself and driven through its timeline (CDirectMoviePlayer). The host picks
// one when it creates the engine. Here too: the shell movie's files.
#pragma once

#include "PlaybackEngine.h"

#include <memory>

const UINT IDC_FLASH_PLAYER = 5001;

// The shell movie in its two builds, one per Flash sandbox: the network build
// for URLs, the local build for files. Each is written beside the program
// from the embedded movie when it is missing or of the wrong size; the files
// written are deleted by Delete, and at the end of the last owner (the host
// makes one set on first need and shares it with each shell-movie engine it
// creates, so that each file is written once and goes with the host).
class CShellMovies {
public:
    enum Build { NetworkMovie = 0, LocalMovie = 1 };

    CShellMovies() = default;
    ~CShellMovies() { Delete(); }
    CShellMovies(const CShellMovies&) = delete;
    CShellMovies& operator=(const CShellMovies&) = delete;
    // The build a source needs: a local or UNC path (no "://") or a file://
    // address the local one.
    static Build For(const std::wstring& source);
    // The file of the build beside the program (or in m_strFolder).
    std::wstring Path(Build which = NetworkMovie) const;
    // Valid when its size is the embedded movie's.
    BOOL Valid(const std::wstring& path, Build which = NetworkMovie);
    // Writes the embedded movie there (hidden); FALSE when it could not.
    BOOL Extract(const std::wstring& path, Build which = NetworkMovie);
    // The file to load for a source: m_strInstead, or the build, written if
    // needed; empty when there is none.
    std::wstring Ready(const std::wstring& source);
    // The file written here, empty when none; Delete removes them.
    const std::wstring& Written(Build which = NetworkMovie) const { return m_written[which]; }
    void Delete();

    // Where the shell movies go: the program's folder unless set otherwise.
    std::wstring m_strFolder;
    // A movie file to load in place of either build (the tests drive movies
    // of their own making through the same gate); empty normally.
    std::wstring m_strInstead;

private:
    // An embedded build, found once: its bytes and size (none: 0).
    struct Embedded {
        bool lookedUp = false;
        const void* bytes = nullptr;
        DWORD size = 0;
    };
    const Embedded& Movie(Build which);

    std::wstring m_written[2];
    Embedded m_embedded[2];
};

// What both engines share: the control, created with full screen allowed and
// without scaling. The host makes full screen itself.
class CFlashEngine : public PlaybackEngine {
public:
    BOOL Create(CPlayerWnd* host, const RECT& rect) override;
    // The host hands the movie the focus and a Home key instead.
    void FullScreen(BOOL) override {}
};

// A source played by the shell movie, from the files it shares with its host.
class CFlashPlayer final : public CFlashEngine {
public:
    explicit CFlashPlayer(std::shared_ptr<CShellMovies> movies) : m_movies(std::move(movies)) {}

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
    long RequestNumber(const wchar_t* name, long ifEmpty);

    std::shared_ptr<CShellMovies> m_movies;
};

// A movie source loaded into the control itself: it answers no requests and
// has no clock, so the user's commands drive its timeline and set its state.
class CDirectMoviePlayer final : public CFlashEngine {
public:
    BOOL Load(CPlayerWnd* host, const std::wstring& source) override;
    PlayState GetState() override;
    void Play() override;
    void Pause() override;
    void Stop() override;
    double GetPosition() override { return 0; }
    double GetDuration() override { return 0; }
    void Seek(double) override {}
    // The control has no volume of its own.
    void SetVolume(int) override {}
    void SetMute(BOOL) override {}
    BOOL LoadedWithoutProgress() override;

private:
    // Whether its timeline moved lately.
    BOOL TimelineMoves();

    // The state the user's commands left it in.
    PlayState m_state = Playing;
    // Its timeline as last seen (-1: not yet), and when it was last seen to
    // move; a move counts for kFrameMovedMs, longer than one poll of the
    // control bar takes.
    long m_lastFrame = -1;
    ULONGLONG m_tFrameMoved = 0;
    static const ULONGLONG kFrameMovedMs = 900;
};
