#include "StallRule.h"

void CStallRule::Restart(ULONGLONG now)
{
    m_watchFrom = now;
    m_firstPosition = -1;
    m_haveBuffering = false;
}

void CStallRule::Open(ULONGLONG now)
{
    m_watching = true;
    m_passedOver = false;
    Restart(now);
}

void CStallRule::Resume(ULONGLONG now)
{
    Restart(now);
    if (m_passedOver) {
        m_watching = true;
        m_passedOver = false;
    }
}

void CStallRule::End(bool passedOver)
{
    m_watching = false;
    m_passedOver = passedOver;
}

CStallRule::Verdict CStallRule::Judge(ULONGLONG now, PlayState state, IStallProbe& probe)
{
    if (!m_watching)
        return Ended;
    if (state == Paused) {
        Restart(now);
        return Watching;
    }
    const double p = probe.Position();
    const double d = probe.Duration();
    if (d > 0 || (m_firstPosition >= 0 && p > m_firstPosition) || probe.LoadedWithoutProgress()) {
        m_watching = false;
        return Started;
    }
    if (state == Stopped) {
        // An open that failed late: Real closes the clip, the shell movie gives up.
        m_watching = false;
        return FailedLate;
    }
    if (m_firstPosition < 0)
        m_firstPosition = p;
    long buffering = 0;
    if (state == Buffering && probe.BufferingProgress(&buffering)) {
        if (m_haveBuffering && buffering > m_buffering)
            m_watchFrom = now;
        m_haveBuffering = true;
        m_buffering = buffering;
    }
    if (now - m_watchFrom < m_dwStallMs)
        return Watching;
    m_watching = false;
    return Stalled;
}
