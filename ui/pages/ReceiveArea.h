#pragma once

#include "ui/kit/BackgroundSurface.h"
#include "ui/pages/TerminalFeed.h"

#include <QString>

#include <memory>

class QLabel;
class QStackedWidget;

namespace vn {

class Journal;
class LogView;
class TerminalView;

// The receive area of a session page: the colour log and the terminal stacked
// over the receive background, fed from the journal by the page's own cursor.
// Nothing pushes into it; the page's tick pulls at most a tick's worth of
// events, so a backlog is worked off over the following ticks.
//
// A tick's work is bounded: the log takes events until the tick's time is
// spent, the terminal takes bytes the same way, and a backlog larger than the
// views keep is skipped for the newest data. Whatever a view did not get to
// show, through the history's trim or a skip, is counted and said above both
// views until the user clears them.
class ReceiveArea : public BackgroundSurface {
    Q_OBJECT
public:
    static constexpr int EventsPerTick = 500;
    // What one tick may spend handing events to the log.
    static constexpr qint64 kFeedBudgetNanos = 10'000'000;
    // Handed to the log in a tick whatever the time, so that a quiet link
    // never waits for the next tick.
    static constexpr qint64 kFeedFloorBytes = 64 * 1024;
    // What the terminal may spend in a tick, shown and hidden behind the log.
    static constexpr qint64 kTerminalBudgetNanos = 8'000'000;
    static constexpr qint64 kHiddenTerminalBudgetNanos = 3'000'000;
    // Bytes of the channel waiting beyond this are more than the views keep:
    // the page goes on with the newest `kKeptBytes`.
    static constexpr qint64 kMaxBacklogBytes = 2 * 1024 * 1024;
    static constexpr qint64 kKeptBytes = 512 * 1024;

    explicit ReceiveArea(QWidget* parent = nullptr);
    ~ReceiveArea() override;

    QStackedWidget* stack = nullptr;
    LogView* log = nullptr;
    TerminalView* terminal = nullptr;
    // "N 字节未显示": what the view on show has missed since the last clear.
    QLabel* missing = nullptr;

    // The journal sequence number after which the next read starts, and the
    // one of the last clear, from which a replay starts.
    qint64 readCursor = 0;
    qint64 baseCursor = 0;
    // Payload bytes of the channel up to each cursor, as the journal counts them.
    qint64 readBytes = 0;
    qint64 baseBytes = 0;
    // Bytes each view did not show since the last clear or replay.
    qint64 logMissing = 0;
    qint64 terminalMissing = 0;

    // Reads the channel's events after the cursor into the views; an SSH
    // connection skips the log. Returns the number of events read. Unbounded,
    // the log takes the whole read, as a search that must see the newest
    // events asks; the backlog's bound still holds it to a few megabytes.
    int pull(const Journal& journal, const QString& channelId, bool ssh, const QString& terminalEncoding,
             bool bounded = true);

    // Makes the journal's end the new start and empties both views.
    void clear(const Journal& journal, const QString& channelId, const QString& terminalEncoding);
    // Empties both views and reads again from the last clear.
    void replay(const QString& terminalEncoding);

    void showTerminal(bool on);
    bool terminalShown() const;

private:
    void jumpToNewest(const Journal& journal, const QString& channelId, const QString& terminalEncoding);
    void noteMissing(qint64 bytes, bool inLog, bool inTerminal, const QString& reason);
    void restart();
    void showMissing();

    std::unique_ptr<TerminalFeed> m_terminalFeed;
    QString m_channelId;
    QString m_logReason;
    QString m_terminalReason;
};

} // namespace vn
