#include "ui/views/TerminalHistory.h"

#include <QVarLengthArray>

#include <algorithm>
#include <cstring>
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

constexpr size_t aligned(size_t bytes)
{
    return (bytes + 3) & ~size_t(3);
}

} // namespace

TerminalCell TerminalHistoryLine::at(qsizetype column) const
{
    if (column < 0 || column >= m_size)
        return TerminalCell();
    const char16_t unit = m_text[column];
    if (unit == kContinuation)
        return continuationCell();
    TerminalCell cell;
    const Run* end = m_runs + m_runCount;
    const Run* after = std::upper_bound(m_runs, end, column,
                                        [](qsizetype c, const Run& run) { return c < run.start; });
    if (after != m_runs)
        cell = std::prev(after)->look;
    cell.character = QChar(unit);
    return cell;
}

TerminalLine TerminalHistoryLine::cells() const
{
    TerminalLine out(m_size);
    TerminalCell* cells = out.data();
    const TerminalCell continuation = continuationCell();
    TerminalCell look;
    const Run* run = m_runs;
    const Run* end = m_runs + m_runCount;
    for (int i = 0; i < m_size; ++i) {
        while (run != end && run->start <= i) {
            look = run->look;
            ++run;
        }
        if (m_text[i] == kContinuation) {
            cells[i] = continuation;
        } else {
            cells[i] = look;
            cells[i].character = QChar(m_text[i]);
        }
    }
    return out;
}

TerminalHistoryLine TerminalHistory::operator[](size_t row) const
{
    const Entry& entry = m_lines[row];
    TerminalHistoryLine line;
    line.m_size = entry.cells;
    line.m_runCount = entry.runs;
    if (entry.cells == 0)
        return line;
    const std::byte* bytes = m_blocks[entry.block - m_firstBlock].bytes.get() + entry.offset;
    line.m_text = reinterpret_cast<const char16_t*>(bytes);
    line.m_runs = reinterpret_cast<const TerminalHistoryLine::Run*>(bytes + aligned(entry.cells * sizeof(char16_t)));
    return line;
}

qint64 TerminalHistory::bytes() const
{
    const size_t blocks = m_blocks.size() + (m_spare.bytes ? 1 : 0);
    return qint64(blocks * kBlockBytes + m_lines.size() * sizeof(Entry));
}

TerminalHistory::Block& TerminalHistory::blockFor(size_t bytes)
{
    if (!m_blocks.empty() && m_blocks.back().used + bytes <= kBlockBytes)
        return m_blocks.back();
    Block block;
    if (m_spare.bytes) {
        block.bytes = std::move(m_spare.bytes);
        m_spare = Block();
    } else {
        block.bytes = std::make_unique_for_overwrite<std::byte[]>(kBlockBytes);
    }
    m_blocks.push_back(std::move(block));
    return m_blocks.back();
}

void TerminalHistory::append(const TerminalLine& line)
{
    using Run = TerminalHistoryLine::Run;
    const TerminalCell* cells = line.constData();
    int n = static_cast<int>(std::min<qsizetype>(line.size(), 0xffff));
    // The cells after the content are mostly untouched blanks: skip them
    // sixteen at a time as bytes (a cell has no padding), then cell by cell.
    static const TerminalCell blanks[16] = {};
    while (n >= 16 && std::memcmp(static_cast<const void*>(cells + n - 16), blanks, sizeof blanks) == 0)
        n -= 16;
    while (n > 0 && cells[n - 1].isBlank())
        --n;
    // This runs once for every line that scrolls off: one pass over its cells
    // into buffers on the stack, then one copy into the block.
    QVarLengthArray<char16_t, 512> text(n);
    QVarLengthArray<Run, 16> runs;
    char16_t* out = text.data();
    const TerminalCell plain;
    quint64 colours = plain.colours();
    quint16 flags = plain.flags();
    for (int i = 0; i < n; ++i) {
        const TerminalCell& cell = cells[i];
        const char16_t unit = cell.character.unicode();
        if (cell.colours() != colours || cell.flags() != flags) [[unlikely]] {
            // The continuation cell as printing leaves it has a look of its
            // own but starts no run: its code unit says what it is.
            if (cell.continuation && unit == u' ' && !cell.bold && cell.colours() == plain.colours()) {
                out[i] = TerminalHistoryLine::kContinuation;
                continue;
            }
            runs.append(Run{i, cell});
            colours = cell.colours();
            flags = cell.flags();
        }
        out[i] = unit;
    }
    const size_t textBytes = aligned(size_t(n) * sizeof(char16_t));
    const size_t need = textBytes + size_t(runs.size()) * sizeof(Run);
    Block& block = blockFor(need);
    Entry entry;
    entry.block = m_firstBlock + quint32(m_blocks.size() - 1);
    entry.offset = quint32(block.used);
    entry.cells = quint16(n);
    entry.runs = quint16(runs.size());
    if (n > 0) {
        std::byte* at = block.bytes.get() + block.used;
        std::memcpy(at, text.constData(), size_t(n) * sizeof(char16_t));
        if (!runs.isEmpty())
            std::memcpy(at + textBytes, runs.constData(), size_t(runs.size()) * sizeof(Run));
        block.used += need;
    }
    ++block.lines;
    m_lines.push_back(entry);
}

void TerminalHistory::dropOldest()
{
    if (m_lines.empty())
        return;
    m_lines.pop_front();
    // Lines leave in the order they came, so the oldest lies in the first block.
    Block& first = m_blocks.front();
    if (--first.lines > 0)
        return;
    if (m_blocks.size() == 1) {
        first.used = 0;   // the history is empty: fill the block from its start
        return;
    }
    if (!m_spare.bytes)
        m_spare.bytes = std::move(first.bytes);
    m_blocks.pop_front();
    ++m_firstBlock;
}

void TerminalHistory::clear()
{
    // clear() would keep the deques' own blocks; fresh ones hold none.
    std::deque<Entry>().swap(m_lines);
    std::deque<Block>().swap(m_blocks);
    m_spare = Block();
    m_firstBlock = 0;
}

} // namespace vn
