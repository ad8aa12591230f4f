#include "ui/pages/TerminalFeed.h"

#include "ui/views/TerminalView.h"

#include <QElapsedTimer>

#include <algorithm>

namespace vn {

namespace {

// Small enough that the time is looked at often at the interpreter's pace.
constexpr qsizetype kSlice = 2048;

} // namespace

void TerminalFeed::add(const QByteArray& bytes)
{
    if (bytes.isEmpty())
        return;
    if (!m_pieces.empty() && !m_pieces.back().resetFirst && m_pieces.back().offset == 0
        && m_pieces.back().bytes.size() < kSlice * 8)
        m_pieces.back().bytes += bytes;
    else
        m_pieces.push_back(Piece{bytes, 0, false, QString()});
    m_waiting += bytes.size();
}

void TerminalFeed::resetHere(const QString& encoding)
{
    // What waits before a reset would be wiped by it at once; a reset with
    // nothing after it still has to happen.
    m_pieces.push_back(Piece{QByteArray(), 0, true, encoding});
}

qsizetype TerminalFeed::clear()
{
    const qsizetype dropped = m_waiting;
    m_pieces.clear();
    m_waiting = 0;
    return dropped;
}

qsizetype TerminalFeed::skipOldest(const QString& encoding)
{
    qsizetype skipped = 0;
    while (!m_pieces.empty()) {
        Piece& front = m_pieces.front();
        const qsizetype left = front.bytes.size() - front.offset;
        if (m_waiting - left < kKeptAfterSkip) {
            const qsizetype drop = m_waiting - kKeptAfterSkip;
            front.offset += drop;
            skipped += drop;
            m_waiting -= drop;
            break;
        }
        skipped += left;
        m_waiting -= left;
        m_pieces.pop_front();
    }
    // Go on from the start of a line, so that no half line or half sequence
    // opens the fresh screen.
    if (!m_pieces.empty()) {
        Piece& front = m_pieces.front();
        const qsizetype lineFeed = front.bytes.indexOf('\n', front.offset);
        if (lineFeed >= 0) {
            const qsizetype drop = lineFeed + 1 - front.offset;
            front.offset += drop;
            skipped += drop;
            m_waiting -= drop;
        }
        front.resetFirst = true;
        front.encoding = encoding;
    } else {
        m_pieces.push_back(Piece{QByteArray(), 0, true, encoding});
    }
    return skipped;
}

qsizetype TerminalFeed::run(qint64 budgetNanos, const QString& encoding)
{
    const qsizetype skipped = m_waiting > kMaxWaiting ? skipOldest(encoding) : 0;
    QElapsedTimer clock;
    clock.start();
    qsizetype handed = 0;
    while (!m_pieces.empty()) {
        if (handed >= kFloor && clock.nsecsElapsed() >= budgetNanos)
            break;
        Piece& front = m_pieces.front();
        if (front.resetFirst) {
            m_terminal.reset(front.encoding);
            front.resetFirst = false;
        }
        const qsizetype size = std::min(kSlice, front.bytes.size() - front.offset);
        if (size > 0) {
            m_terminal.feed(front.offset == 0 && size == front.bytes.size() ? front.bytes
                                                                             : front.bytes.mid(front.offset, size));
            front.offset += size;
            m_waiting -= size;
            handed += size;
        }
        if (front.offset >= front.bytes.size())
            m_pieces.pop_front();
    }
    return skipped;
}

} // namespace vn
