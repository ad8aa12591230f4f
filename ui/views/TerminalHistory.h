#pragma once

#include "ui/views/TerminalCell.h"

#include <QList>
#include <QString>

#include <deque>

namespace vn {

// A line of the scroll-back history, stored as long as its content: its cells
// up to the last one that is not blank (beyond it, drawing and text give blank
// cells anyway), one UTF-16 code unit each, and their looks as runs. A line
// of one character costs a few bytes instead of the full width of the grid,
// and a line of plain text two bytes a cell.
class TerminalHistoryLine {
public:
    TerminalHistoryLine() = default;
    explicit TerminalHistoryLine(const TerminalLine& line);

    qsizetype size() const { return m_text.size(); }
    // The cell at a column; beyond the end of the line the blank cell.
    TerminalCell at(qsizetype column) const;
    // The whole line as grid cells.
    TerminalLine cells() const;
    // What the line holds on the heap, roughly.
    qsizetype bytes() const;

    friend bool operator==(const TerminalHistoryLine&, const TerminalHistoryLine&) = default;

private:
    // A change of look, from `start` up to the next run's start. Cells before
    // the first run look as the blank cell does.
    struct Run {
        int start = 0;
        TerminalCell look;   // its character is not used
        friend bool operator==(const Run&, const Run&) = default;
    };

    // The code unit that stands for the continuation cell of a double-width
    // character. No cell holds U+0000: the interpreter never prints it.
    static constexpr char16_t kContinuation = 0;

    QString m_text;
    QList<Run> m_runs;
};

// The history itself: the lines that scrolled off the top of the screen,
// oldest first, with what they hold in total.
class TerminalHistory {
public:
    size_t size() const { return m_lines.size(); }
    bool empty() const { return m_lines.empty(); }
    const TerminalHistoryLine& operator[](size_t row) const { return m_lines[row]; }
    const TerminalHistoryLine& front() const { return m_lines.front(); }
    const TerminalHistoryLine& back() const { return m_lines.back(); }
    auto begin() const { return m_lines.begin(); }
    auto end() const { return m_lines.end(); }
    // What all lines hold on the heap, roughly.
    qint64 bytes() const { return m_bytes; }

    void append(const TerminalLine& line);
    void dropOldest();
    // Empties the history and gives its storage back to the heap.
    void clear();

private:
    std::deque<TerminalHistoryLine> m_lines;
    qint64 m_bytes = 0;
};

} // namespace vn
