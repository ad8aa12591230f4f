#include "ui/window/LoopProbe.h"

#include <algorithm>

namespace vn {

LoopProbe::LoopProbe(QObject* parent, int periodMs)
    : QObject(parent)
{
    // A coarse timer may fire up to 5 % late by design; the gap must show the
    // loop, not the timer's slack.
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setInterval(periodMs);
    connect(&m_timer, &QTimer::timeout, this, &LoopProbe::timedOut);
}

void LoopProbe::start()
{
    m_clock.start();
    m_lastNs = 0;
    m_longestNs = 0;
    m_timer.start();
}

void LoopProbe::stop()
{
    m_timer.stop();
    m_lastNs = -1;
}

void LoopProbe::timedOut()
{
    const qint64 now = m_clock.nsecsElapsed();
    if (m_lastNs >= 0)
        m_longestNs = std::max(m_longestNs, now - m_lastNs);
    m_lastNs = now;
}

double LoopProbe::longestMs() const
{
    qint64 longest = m_longestNs;
    if (m_lastNs >= 0 && m_clock.isValid())
        longest = std::max(longest, m_clock.nsecsElapsed() - m_lastNs);
    return double(longest) / 1e6;
}

double LoopProbe::takeLongestMs()
{
    const double longest = longestMs();
    m_longestNs = 0;
    if (m_lastNs >= 0)
        m_lastNs = m_clock.nsecsElapsed();
    return longest;
}

} // namespace vn
