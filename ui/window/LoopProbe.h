#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

namespace vn {

// Measures whole turns of the thread's event loop, whatever runs in them: a
// short repeating timer whose longest gap between two timeouts is the longest
// time the loop was kept from coming back (the window's tick, a queued layout,
// a socket read, an agent's request alike). An idle loop shows the period.
class LoopProbe : public QObject {
    Q_OBJECT
public:
    static constexpr int DefaultPeriodMs = 10;

    explicit LoopProbe(QObject* parent = nullptr, int periodMs = DefaultPeriodMs);

    void start();
    void stop();
    bool running() const { return m_timer.isActive(); }

    // The longest gap since start or the last take, in milliseconds; a gap
    // still open (the loop is in a turn now) counts as far as it has got.
    double longestMs() const;
    // The same, and a new measure starts.
    double takeLongestMs();

private:
    void timedOut();

    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_lastNs = -1;
    qint64 m_longestNs = 0;
};

} // namespace vn
