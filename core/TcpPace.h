#pragma once

#include "core/Journal.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

namespace vn {

// How fast TCP connections together may fill the journal. The history holds
// 8 MiB of events, and a received byte takes about four there (its hex and
// its text), so about 2 MiB of traffic; the window's pages read it every
// 40 ms. TCP may therefore journal at most a quarter of that per 40 ms (about
// 26 MB/s), so that a page whose tick comes late still finds what it has not
// read. A connection that has used up the allowance stops reading until the
// next period: Qt's read-ahead fills, then the kernel's buffers, and TCP's own
// flow control slows the sender. Nothing is lost; other transports cannot be
// slowed and are not counted.
class TcpPace : public QObject {
    Q_OBJECT
public:
    static constexpr qint64 Allowance = Journal::MaxBytes / 8;
    static constexpr int PeriodMs = 40;

    explicit TcpPace(QObject* parent = nullptr);

    // The bytes that may still be journaled in this period; with none left,
    // resumed() follows when the next period begins.
    qint64 room();
    void take(qint64 bytes);

Q_SIGNALS:
    void resumed();

private:
    QElapsedTimer m_period;
    qint64 m_used = 0;
    QTimer m_resume;
};

} // namespace vn
