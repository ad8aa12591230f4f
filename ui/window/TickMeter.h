#pragma once

#include <QElapsedTimer>
#include <QString>

#include <memory>
#include <vector>

namespace vn {

class LoopProbe;

// Times the window's tick for long runs: when VARNELLE_TICK_LOG names a file,
// it appends one line per period (a minute) with the number of ticks, their
// median and their longest duration in milliseconds, and the longest whole
// turn of the event loop in that period (a loop probe's longest gap), which
// also counts what runs outside the tick. Only the durations of the current
// period are kept. Without the variable it records and probes nothing at all.
class TickMeter {
public:
    static constexpr qint64 DefaultPeriodMs = 60000;

    TickMeter();
    TickMeter(const QString& path, qint64 periodMs);
    ~TickMeter();
    TickMeter(const TickMeter&) = delete;
    TickMeter& operator=(const TickMeter&) = delete;

    // Times one tick from its construction to its destruction.
    class Scope {
    public:
        explicit Scope(TickMeter& meter);
        ~Scope();
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

    private:
        TickMeter& m_meter;
        QElapsedTimer m_clock;
    };

    void record(double milliseconds);

    // "ticks=<n> median_ms=<x> longest_ms=<y> loop_longest_ms=<z>" for the
    // given tick durations and the loop's longest turn.
    static QString line(std::vector<double> milliseconds, double loopLongestMs);

private:
    QString m_path;
    std::unique_ptr<LoopProbe> m_loop;
    qint64 m_periodMs = DefaultPeriodMs;
    QElapsedTimer m_period;
    std::vector<double> m_durations;
};

} // namespace vn
