#include "ui/views/TerminalSelection.h"

#include "ui/views/TerminalScreen.h"

#include <algorithm>

namespace vn {

namespace {

qint64 documentSize(const TerminalScreen& screen)
{
    return qint64(screen.cols()) * screen.documentRows();
}

TerminalCell cellAt(const TerminalScreen& screen, qint64 linear)
{
    const int cols = screen.cols();
    return screen.documentCell(static_cast<int>(linear / cols), static_cast<int>(linear % cols));
}

bool isBlank(const TerminalCell& cell)
{
    if (cell.continuation)
        return false;
    const char16_t u = cell.character.unicode();
    return (u >= 0x09 && u <= 0x0D) || cell.character.isSpace();
}

// 0 blank, 1 word, 2 other.
int wordClass(const TerminalCell& cell)
{
    const QChar ch = cell.character;
    if (cell.continuation || ch.unicode() == 0 || isBlank(cell))
        return 0;
    if (ch.isLetterOrNumber() || ch == u'_' || ch.isSurrogate())
        return 1;
    return 2;
}

// The position after the last cell of a row that is not blank.
qint64 contentEnd(const TerminalScreen& screen, int row)
{
    const int cols = screen.cols();
    const qint64 start = qint64(row) * cols;
    for (int c = cols - 1; c >= 0; --c) {
        if (!isBlank(screen.documentCell(row, c)))
            return start + c + 1;
    }
    return start;
}

qint64 documentContentEnd(const TerminalScreen& screen)
{
    for (int row = screen.documentRows() - 1; row >= 0; --row) {
        const qint64 end = contentEnd(screen, row);
        if (end > qint64(row) * screen.cols())
            return end;
    }
    return 0;
}

qint64 previousCharacter(const TerminalScreen& screen, qint64 p)
{
    auto back = [&](qint64 q) {
        --q;
        while (q > 0 && cellAt(screen, q).continuation)
            --q;
        return std::max<qint64>(q, 0);
    };
    if (p <= 0)
        return 0;
    qint64 q = back(p);
    if (q > 0 && cellAt(screen, q).character.isLowSurrogate()) {
        const qint64 before = back(q);
        if (cellAt(screen, before).character.isHighSurrogate())
            q = before;
    }
    return q;
}

qint64 nextCharacter(const TerminalScreen& screen, qint64 p, qint64 size)
{
    auto forward = [&](qint64 q) {
        ++q;
        while (q < size && cellAt(screen, q).continuation)
            ++q;
        return std::min(q, size);
    };
    if (p >= size)
        return size;
    const bool high = cellAt(screen, p).character.isHighSurrogate();
    qint64 q = forward(p);
    if (high && q < size && cellAt(screen, q).character.isLowSurrogate())
        q = forward(q);
    return q;
}

} // namespace

qint64 linearPosition(const TerminalScreen& screen, QPoint position)
{
    return qint64(position.y()) * screen.cols() + position.x();
}

QPoint positionAt(const TerminalScreen& screen, qint64 linear)
{
    const int cols = screen.cols();
    const qint64 size = documentSize(screen);
    linear = std::clamp<qint64>(linear, 0, size);
    if (linear == size)
        return QPoint(cols, screen.documentRows() - 1);
    return QPoint(static_cast<int>(linear % cols), static_cast<int>(linear / cols));
}

qint64 cursorPosition(const TerminalScreen& screen)
{
    const QPoint c = screen.cursor();
    const qint64 p = qint64(screen.historyRows() + c.y()) * screen.cols() + c.x()
                     + (screen.pendingWrap() ? 1 : 0);
    return std::clamp<qint64>(p, 0, documentSize(screen));
}

std::pair<qint64, qint64> TerminalSelection::range(const TerminalScreen& screen) const
{
    const qint64 a = linearPosition(screen, anchor);
    const qint64 e = linearPosition(screen, end);
    const qint64 size = documentSize(screen);
    const qint64 lo = std::clamp<qint64>(std::min(a, e), 0, size);
    const qint64 hi = std::clamp<qint64>(std::max(a, e) + (keyboard ? 0 : 1), 0, size);
    return {lo, hi};
}

QString TerminalSelection::text(const TerminalScreen& screen) const
{
    if (!active())
        return QString();
    const auto [lo, hi] = range(screen);
    if (hi <= lo)
        return QString();
    const int cols = screen.cols();
    const int firstRow = static_cast<int>(lo / cols);
    const int lastRow = static_cast<int>((hi - 1) / cols);
    QStringList rows;
    for (int row = firstRow; row <= lastRow; ++row) {
        const int from = row == firstRow ? static_cast<int>(lo % cols) : 0;
        const int to = row == lastRow ? static_cast<int>((hi - 1) % cols) : cols - 1;
        QString line;
        for (int c = from; c <= to; ++c) {
            const TerminalCell cell = screen.documentCell(row, c);
            if (!cell.continuation)
                line += cell.character;
        }
        if (!(keyboard && row == lastRow)) {
            qsizetype n = line.size();
            while (n > 0 && line.at(n - 1) == u' ')
                --n;
            line.truncate(n);
        }
        rows.append(line);
    }
    return rows.join(u'\n');
}

qint64 moveSelectionEnd(const TerminalScreen& screen, qint64 from, SelectionStep step, bool ctrl)
{
    const int cols = screen.cols();
    const qint64 size = documentSize(screen);
    const int lastRow = screen.documentRows() - 1;
    from = std::clamp<qint64>(from, 0, size);
    const int row = std::min(static_cast<int>(from / cols), lastRow);

    auto rowMove = [&](int delta) {
        const QPoint at = positionAt(screen, from);
        const int target = std::clamp(at.y() + delta, 0, lastRow);
        int col = std::min(at.x(), cols - 1);
        while (col > 0 && screen.documentCell(target, col).continuation)
            --col;
        return qint64(target) * cols + col;
    };

    switch (step) {
    case SelectionStep::Home:
        return ctrl ? 0 : qint64(row) * cols;
    case SelectionStep::End:
        return ctrl ? documentContentEnd(screen) : contentEnd(screen, row);
    case SelectionStep::Up:
        return rowMove(-1);
    case SelectionStep::Down:
        return rowMove(1);
    case SelectionStep::PageUp:
        return rowMove(-screen.rows());
    case SelectionStep::PageDown:
        return rowMove(screen.rows());
    case SelectionStep::Left: {
        if (!ctrl)
            return previousCharacter(screen, from);
        qint64 p = from;
        while (p > 0 && wordClass(cellAt(screen, p - 1)) == 0)
            --p;
        if (p > 0) {
            const int c = wordClass(cellAt(screen, p - 1));
            while (p > 0 && wordClass(cellAt(screen, p - 1)) == c)
                --p;
        }
        return p;
    }
    case SelectionStep::Right: {
        if (!ctrl)
            return nextCharacter(screen, from, size);
        const qint64 limit = documentContentEnd(screen);
        qint64 p = from;
        if (p >= limit)
            return p;
        const int c = wordClass(cellAt(screen, p));
        if (c != 0) {
            while (p < limit && wordClass(cellAt(screen, p)) == c)
                ++p;
        }
        while (p < limit && wordClass(cellAt(screen, p)) == 0)
            ++p;
        return p;
    }
    }
    return from;
}

} // namespace vn
