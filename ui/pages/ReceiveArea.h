#pragma once

#include "ui/kit/BackgroundSurface.h"

#include <QString>

class QStackedWidget;

namespace vn {

class Journal;
class LogView;
class TerminalView;

// The receive area of a session page: the colour log and the terminal stacked
// over the receive background, fed from the journal by the page's own cursor.
// Nothing pushes into it; the page's tick pulls at most a tick's worth of
// events, so a backlog is worked off over the following ticks.
class ReceiveArea : public BackgroundSurface {
    Q_OBJECT
public:
    static constexpr int EventsPerTick = 500;

    explicit ReceiveArea(QWidget* parent = nullptr);

    QStackedWidget* stack = nullptr;
    LogView* log = nullptr;
    TerminalView* terminal = nullptr;

    // The journal sequence number after which the next read starts, and the
    // one of the last clear, from which a replay starts.
    qint64 readCursor = 0;
    qint64 baseCursor = 0;

    // Reads the channel's events after the cursor into the views; an SSH
    // connection skips the log. Returns the number of events read.
    int pull(const Journal& journal, const QString& channelId, bool ssh, const QString& terminalEncoding);

    // Makes the journal's end the new start and empties both views.
    void clear(qint64 latest, const QString& terminalEncoding);
    // Empties both views and reads again from the last clear.
    void replay(const QString& terminalEncoding);

    void showTerminal(bool on);
};

} // namespace vn
