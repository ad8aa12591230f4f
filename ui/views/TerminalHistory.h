#pragma once

#include "ui/views/TerminalCell.h"

#include <QtGlobal>

#include <cstddef>
#include <deque>
#include <iterator>
#include <memory>

namespace vn {

// A line of the scroll-back history as the history stores it: its cells up to
// the last one that is not blank (beyond it, drawing and text give blank cells
// anyway), one UTF-16 code unit each, and their looks as runs. A value that
// points into the history's storage: valid until the history changes.
class TerminalHistoryLine {
public:
    TerminalHistoryLine() = default;

    qsizetype size() const { return m_size; }
    // The cell at a column; beyond the end of the line the blank cell.
    TerminalCell at(qsizetype column) const;
    // The whole line as grid cells.
    TerminalLine cells() const;

    friend bool operator==(const TerminalHistoryLine& a, const TerminalHistoryLine& b)
    {
        return a.cells() == b.cells();
    }

private:
    friend class TerminalHistory;

    // A change of look, from `start` up to the next run's start. Cells before
    // the first run look as the blank cell does.
    struct Run {
        int start = 0;
        TerminalCell look;   // its character is not used
    };

    // The code unit that stands for the continuation cell of a double-width
    // character. No cell holds U+0000: the interpreter never prints it.
    static constexpr char16_t kContinuation = 0;

    const char16_t* m_text = nullptr;
    const Run* m_runs = nullptr;
    int m_size = 0;
    int m_runCount = 0;
};

// The lines that scrolled off the top of the screen, oldest first. Their text
// and runs are packed one after the other into blocks of 64 KiB, so a line
// costs its content and a 12-byte entry, and no allocation of its own: a line
// of one character takes 16 bytes, whatever the width of the grid. The block
// the oldest lines emptied becomes the next one to fill, so a full history
// that keeps scrolling allocates nothing.
class TerminalHistory {
public:
    static constexpr size_t kBlockBytes = 64 * 1024;

    TerminalHistory() = default;
    TerminalHistory(const TerminalHistory&) = delete;
    TerminalHistory& operator=(const TerminalHistory&) = delete;

    size_t size() const { return m_lines.size(); }
    bool empty() const { return m_lines.empty(); }
    TerminalHistoryLine operator[](size_t row) const;
    TerminalHistoryLine front() const { return (*this)[0]; }
    TerminalHistoryLine back() const { return (*this)[m_lines.size() - 1]; }
    // What the history holds on the heap.
    qint64 bytes() const;

    // Keeps the line up to its last cell that is not blank.
    void append(const TerminalLine& line);
    void dropOldest();
    // Empties the history and gives its storage back to the heap.
    void clear();

    class const_iterator {
    public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = TerminalHistoryLine;
        using difference_type = std::ptrdiff_t;
        using pointer = void;
        using reference = TerminalHistoryLine;

        const_iterator(const TerminalHistory* history, size_t row) : m_history(history), m_row(row) {}
        TerminalHistoryLine operator*() const { return (*m_history)[m_row]; }
        const_iterator& operator++()
        {
            ++m_row;
            return *this;
        }
        friend bool operator==(const const_iterator&, const const_iterator&) = default;

    private:
        const TerminalHistory* m_history;
        size_t m_row;
    };
    const_iterator begin() const { return {this, 0}; }
    const_iterator end() const { return {this, m_lines.size()}; }

private:
    struct Block {
        std::unique_ptr<std::byte[]> bytes;
        size_t used = 0;
        size_t lines = 0;
    };
    // Where a line lies: its block (counted from the first block ever made),
    // its offset there, its cells and its runs.
    struct Entry {
        quint32 block = 0;
        quint32 offset = 0;
        quint16 cells = 0;
        quint16 runs = 0;
    };

    Block& blockFor(size_t bytes);

    std::deque<Entry> m_lines;
    std::deque<Block> m_blocks;
    quint32 m_firstBlock = 0;   // the number of m_blocks.front(); counts wrap around
    Block m_spare;              // emptied by the oldest lines, to be filled again
};

} // namespace vn
