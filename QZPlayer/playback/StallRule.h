// When an item that was opened counts as started, and when it has failed to
// start: the rule the control bar applies at each poll, without a window or a
// clock of its own, so that it is tested by tables.
#pragma once

#include "PlaybackEngine.h"

// How long an item may show neither a moving position nor a duration after
// its open before it is passed over. Justification: an item that plays at
// all shows one of them once its header is in; Windows Media buffers 5 s of
// a network stream by default before it plays (IWMPNetwork::bufferingTime)
// and the Flash engine's own shell movie gives a dead stream up after 8 s,
// so 15 s lets a slow but working start through with room to spare while a
// dead item holds the list for 15 s plus at most one poll (1 s). Buffering
// that makes progress restarts the count; time paused by the user does not
// count.
const DWORD kStallMs = 15000;

// What the rule may read of the item at a poll, only as far as it needs.
struct IStallProbe {
    virtual double Position() = 0;
    virtual double Duration() = 0;
    // A source without a clock of its own shows that it plays this way.
    virtual BOOL LoadedWithoutProgress() = 0;
    virtual BOOL BufferingProgress(long* percent) = 0;

protected:
    ~IStallProbe() = default;
};

class CStallRule {
public:
    enum Verdict {
        Watching,   // not started yet, still within the bound
        Started,    // it knows its length, its position moved, or it loaded
        Stalled,    // the bound passed without a sign that it plays
        FailedLate, // it stopped before it ever showed that it played
        Ended,      // no watch: nothing opened, or the watch is over
    };

    // A new item: watched from now.
    void Open(ULONGLONG now);
    // Played again by the user: a new watch window for an item still watched.
    void Restart(ULONGLONG now);
    // The list came back to the loaded item: as Restart, and an item that was
    // passed over is watched again, so that it cannot hold the list.
    void Resume(ULONGLONG now);
    // The item is over (ended, or passed over): nothing more to watch.
    void End(bool passedOver);
    bool IsWatching() const { return m_watching; }

    // One poll. Time paused by the user does not count; buffering that makes
    // progress restarts the watch. Started, Stalled and FailedLate end the
    // watch; once it is over every poll is Ended.
    Verdict Judge(ULONGLONG now, PlayState state, IStallProbe& probe);

    DWORD m_dwStallMs = kStallMs; // tests shorten it

private:
    bool m_watching = false;   // nothing opened yet: nothing to watch
    bool m_passedOver = false; // the item loaded was passed over
    ULONGLONG m_watchFrom = 0; // when the present watch window began
    double m_firstPosition = -1; // the position first seen in it
    bool m_haveBuffering = false;
    long m_buffering = 0;
};
