#include "ui/window/TickMeter.h"

#include "ui/window/LoopProbe.h"

#include <QFile>

#include <algorithm>

namespace vn {

TickMeter::TickMeter()
    : TickMeter(qEnvironmentVariable("VARNELLE_TICK_LOG"), DefaultPeriodMs)
{
}

TickMeter::TickMeter(const QString& path, qint64 periodMs)
    : m_path(path)
    , m_periodMs(periodMs)
{
    if (m_path.isEmpty())
        return;
    // 25 ticks a second for a minute, with room for a busy one.
    m_durations.reserve(2048);
    m_period.start();
    m_loop = std::make_unique<LoopProbe>();
    m_loop->start();
}

TickMeter::~TickMeter() = default;

TickMeter::Scope::Scope(TickMeter& meter)
    : m_meter(meter)
{
    if (!m_meter.m_path.isEmpty())
        m_clock.start();
}

TickMeter::Scope::~Scope()
{
    if (m_clock.isValid())
        m_meter.record(double(m_clock.nsecsElapsed()) / 1e6);
}

void TickMeter::record(double milliseconds)
{
    if (m_path.isEmpty())
        return;
    m_durations.push_back(milliseconds);
    if (m_period.elapsed() < m_periodMs)
        return;
    m_period.start();
    QFile file(m_path);
    // A log that cannot be written loses this period's line; the program runs on.
    if (file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text))
        file.write(line(m_durations, m_loop->takeLongestMs()).toUtf8() + '\n');
    m_durations.clear();
}

QString TickMeter::line(std::vector<double> milliseconds, double loopLongestMs)
{
    double median = 0.0;
    double longest = 0.0;
    const std::size_t count = milliseconds.size();
    if (count > 0) {
        longest = *std::max_element(milliseconds.begin(), milliseconds.end());
        const auto middle = milliseconds.begin() + std::ptrdiff_t(count / 2);
        std::nth_element(milliseconds.begin(), middle, milliseconds.end());
        median = *middle;
        if (count % 2 == 0)
            median = (median + *std::max_element(milliseconds.begin(), middle)) / 2.0;
    }
    return QStringLiteral("ticks=%1 median_ms=%2 longest_ms=%3 loop_longest_ms=%4")
        .arg(count)
        .arg(median, 0, 'f', 2)
        .arg(longest, 0, 'f', 2)
        .arg(loopLongestMs, 0, 'f', 2);
}

} // namespace vn
