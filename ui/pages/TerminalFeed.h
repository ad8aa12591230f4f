#pragma once

#include <QByteArray>
#include <QString>

#include <deque>

namespace vn {

class TerminalView;

// The received bytes on their way to a page's terminal. The terminal's
// interpreter costs far more a byte than reading the journal, so a page hands
// it no more than a tick's time allows and keeps the rest for the next tick.
// When more waits than it could work off, the oldest is skipped: the terminal
// starts afresh with the newest bytes, from the start of a line.
class TerminalFeed {
public:
    // Bytes waiting beyond this are more than the terminal catches up on.
    static constexpr qsizetype kMaxWaiting = 256 * 1024;
    // What it goes on with after a skip.
    static constexpr qsizetype kKeptAfterSkip = 32 * 1024;
    // Handed over in a tick whatever the time, so that a quiet link never waits.
    static constexpr qsizetype kFloor = 16 * 1024;

    explicit TerminalFeed(TerminalView& terminal) : m_terminal(terminal) {}

    void add(const QByteArray& bytes);
    // The terminal is reset at this point of the stream, before the bytes added after.
    void resetHere(const QString& encoding);
    // Forgets what waits; returns its size.
    qsizetype clear();
    qsizetype waiting() const { return m_waiting; }

    // Hands bytes to the terminal until the time is spent (the floor always
    // goes); returns how many bytes were skipped first.
    qsizetype run(qint64 budgetNanos, const QString& encoding);

private:
    struct Piece {
        QByteArray bytes;
        qsizetype offset = 0;   // handed over already
        bool resetFirst = false;
        QString encoding;
    };
    qsizetype skipOldest(const QString& encoding);

    TerminalView& m_terminal;
    std::deque<Piece> m_pieces;
    qsizetype m_waiting = 0;
};

} // namespace vn
