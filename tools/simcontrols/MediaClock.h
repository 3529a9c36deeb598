// What no control can be given here is media: the simulation decodes
// nothing, so a source's name stands for its content. "...-<n>s.<ext>" lasts
// n seconds (default 5); "-buffer<n>s" anywhere in the name buffers for n
// seconds, with progress, before it plays; a source whose text contains
// "missing" (any case) cannot be opened (not found). Whether a format can be
// opened at all is each control's own rule ([WMP-KB], [AS3-NS]). The name is
// read without regard to case; the source itself is kept as given.
//
// A media item: what its name stands for, and its
// clock. Every transition happens at the time it is due, whenever it is
// read, so that what a control answers depends on the time only.
#pragma once

#include "SimCommon.h"

namespace sim {

struct MediaInfo {
    std::wstring name;      // the last part of the source, without a query
    std::wstring extension; // upper case, with the dot
    double length = 5;
    double buffering = 0;
    bool missing = false;
};

// What a source's name says (see the top of this file).
MediaInfo Describe(const std::wstring& source);

class MediaClock {
public:
    enum State { Idle, Opening, Buffering, Playing, Paused, Stopped, Ended, Failed };

    // canOpen: whether the control can open this item at all.
    void Load(const std::wstring& source, bool canOpen)
    {
        m_source = source;
        m_info = Describe(source);
        m_canOpen = canOpen && !m_info.missing;
        m_loaded = true;
        m_state = Idle;
        m_opened = false;
        m_pos = 0;
    }
    bool Loaded() const { return m_loaded; }
    const MediaInfo& Info() const { return m_info; }

    void Play(ULONGLONG now)
    {
        Update(now);
        switch (m_state) {
        case Opening:
        case Buffering:
        case Playing:
            return;
        case Paused:
            if (m_opened) {
                Start(m_pos, now);
                return;
            }
            break;
        default:
            break;
        }
        if (!m_loaded)
            return;
        m_state = Opening;
        m_since = now;
        m_pos = 0;
    }
    void Pause(ULONGLONG now)
    {
        Update(now);
        if (m_state == Playing || m_state == Buffering || m_state == Opening) {
            m_pos = PositionAt(now);
            m_state = Paused;
        }
    }
    void Stop(ULONGLONG now)
    {
        Update(now);
        if (m_state != Idle && m_state != Failed)
            m_state = Stopped;
        m_pos = 0;
    }
    void Seek(double s, ULONGLONG now)
    {
        Update(now);
        if (!m_opened)
            return;
        s = s < 0 ? 0 : s > m_info.length ? m_info.length : s;
        if (m_state == Playing)
            Start(s, now);
        else
            m_pos = s;
    }
    State Get(ULONGLONG now)
    {
        Update(now);
        return m_state;
    }
    double Position(ULONGLONG now)
    {
        Update(now);
        return PositionAt(now);
    }
    // The length is known once the item has opened.
    double Duration(ULONGLONG now)
    {
        Update(now);
        return m_opened ? m_info.length : 0;
    }
    // Buffering done, in percent.
    long BufferingPercent(ULONGLONG now)
    {
        Update(now);
        if (m_state == Buffering)
            return static_cast<long>(Since(now, m_since) / (m_info.buffering * 10.0));
        return m_opened ? 100 : 0;
    }
    double BufferingLeft(ULONGLONG now)
    {
        Update(now);
        return m_state == Buffering ? m_info.buffering - Since(now, m_since) / 1000.0 : 0;
    }

private:
    void Start(double from, ULONGLONG at)
    {
        m_state = Playing;
        m_pos = from;
        m_since = at;
    }
    double PositionAt(ULONGLONG now) const
    {
        if (m_state == Playing) {
            const double p = m_pos + Since(now, m_since) / 1000.0;
            return p < m_info.length ? p : m_info.length;
        }
        return m_state == Stopped || m_state == Failed ? 0 : m_pos;
    }
    // Each step starts at the moment the one before ended, not at now.
    void Update(ULONGLONG now)
    {
        if (m_state == Opening && Since(now, m_since) >= OpeningMs()) {
            const ULONGLONG at = m_since + OpeningMs();
            if (!m_canOpen) {
                m_state = Failed;
                m_pos = 0;
            } else {
                m_opened = true;
                if (m_info.buffering > 0) {
                    m_state = Buffering;
                    m_since = at;
                } else {
                    Start(0, at);
                }
            }
        }
        if (m_state == Buffering && Since(now, m_since) >= static_cast<ULONGLONG>(m_info.buffering * 1000))
            Start(m_pos, m_since + static_cast<ULONGLONG>(m_info.buffering * 1000));
        if (m_state == Playing && m_pos + Since(now, m_since) / 1000.0 >= m_info.length) {
            m_state = Ended;
            m_pos = m_info.length;
        }
    }

    std::wstring m_source;
    MediaInfo m_info;
    bool m_loaded = false;
    bool m_canOpen = false;
    bool m_opened = false;
    State m_state = Idle;
    double m_pos = 0;
    ULONGLONG m_since = 0;
};

const wchar_t* StateName(MediaClock::State s);

} // namespace sim
