#include "ui/views/TerminalHistory.h"

#include <algorithm>
#include <iterator>

namespace vn {

namespace {

// The continuation cell as printing leaves it: a blank with the flag set.
TerminalCell continuationCell()
{
    TerminalCell cell;
    cell.continuation = true;
    return cell;
}

} // namespace

TerminalHistoryLine::TerminalHistoryLine(const TerminalLine& line)
{
    qsizetype n = line.size();
    const TerminalCell* cells = line.constData();
    while (n > 0 && cells[n - 1].isBlank())
        --n;
    if (n == 0)
        return;
    const TerminalCell plain;
    const TerminalCell continuation = continuationCell();
    // Counted first, so that both lists are allocated once at their size.
    qsizetype runs = 0;
    const TerminalCell* look = &plain;
    for (qsizetype i = 0; i < n; ++i) {
        const TerminalCell& cell = cells[i];
        if (cell == continuation)
            continue;
        if (!cell.sameLook(*look)) {
            ++runs;
            look = &cell;
        }
    }
    m_text = QString(n, Qt::Uninitialized);
    QChar* text = m_text.data();
    if (runs > 0)
        m_runs.reserve(runs);
    look = &plain;
    for (qsizetype i = 0; i < n; ++i) {
        const TerminalCell& cell = cells[i];
        if (cell == continuation) {
            text[i] = QChar(kContinuation);
            continue;
        }
        text[i] = cell.character;
        if (!cell.sameLook(*look)) {
            m_runs.append(Run{static_cast<int>(i), cell});
            look = &cell;
        }
    }
}

TerminalCell TerminalHistoryLine::at(qsizetype column) const
{
    if (column < 0 || column >= m_text.size())
        return TerminalCell();
    const char16_t unit = m_text.at(column).unicode();
    if (unit == kContinuation)
        return continuationCell();
    TerminalCell cell;
    const auto after = std::upper_bound(m_runs.cbegin(), m_runs.cend(), column,
                                        [](qsizetype c, const Run& run) { return c < run.start; });
    if (after != m_runs.cbegin())
        cell = std::prev(after)->look;
    cell.character = QChar(unit);
    return cell;
}

TerminalLine TerminalHistoryLine::cells() const
{
    const qsizetype n = m_text.size();
    TerminalLine out(n);
    TerminalCell* cells = out.data();
    const QChar* text = m_text.constData();
    const TerminalCell continuation = continuationCell();
    TerminalCell look;
    auto run = m_runs.cbegin();
    for (qsizetype i = 0; i < n; ++i) {
        while (run != m_runs.cend() && run->start <= i) {
            look = run->look;
            ++run;
        }
        if (text[i].unicode() == kContinuation) {
            cells[i] = continuation;
        } else {
            cells[i] = look;
            cells[i].character = text[i];
        }
    }
    return out;
}

qsizetype TerminalHistoryLine::bytes() const
{
    // The list headers Qt allocates in front of the data come to 16 bytes each.
    qsizetype total = sizeof(*this);
    if (m_text.capacity() > 0)
        total += 16 + (m_text.capacity() + 1) * qsizetype(sizeof(QChar));
    if (m_runs.capacity() > 0)
        total += 16 + m_runs.capacity() * qsizetype(sizeof(Run));
    return total;
}

void TerminalHistory::append(const TerminalLine& line)
{
    m_lines.emplace_back(line);
    m_bytes += m_lines.back().bytes();
}

void TerminalHistory::dropOldest()
{
    if (m_lines.empty())
        return;
    m_bytes -= m_lines.front().bytes();
    m_lines.pop_front();
}

void TerminalHistory::clear()
{
    // clear() would keep the deque's blocks; a fresh one holds none.
    std::deque<TerminalHistoryLine>().swap(m_lines);
    m_bytes = 0;
}

} // namespace vn
