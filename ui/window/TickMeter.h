#pragma once

#include <QElapsedTimer>
#include <QString>

#include <vector>

namespace vn {

// Times the window's tick for long runs: when VARNELLE_TICK_LOG names a file,
// it appends one line per period (a minute) with the number of ticks, their
// median and their longest duration in milliseconds. Only the durations of the
// current period are kept. Without the variable it records nothing at all.
class TickMeter {
public:
    static constexpr qint64 DefaultPeriodMs = 60000;

    TickMeter();
    TickMeter(const QString& path, qint64 periodMs);

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

    // "ticks=<n> median_ms=<x> longest_ms=<y>" for the given durations.
    static QString line(std::vector<double> milliseconds);

private:
    QString m_path;
    qint64 m_periodMs = DefaultPeriodMs;
    QElapsedTimer m_period;
    std::vector<double> m_durations;
};

} // namespace vn
