#include "ui/views/TerminalScreen.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace vn {

namespace {

int charWidth(QChar ch)
{
    // CJK, full-width forms and the surrogate code units take two cells.
    const char16_t u = ch.unicode();
    return (u >= 0x2E80 && u <= 0xFFEF) ? 2 : 1;
}

// A parameter is a run of decimal digits. Anything else (a sign, an
// intermediate byte) counts as omitted and a huge value is capped, so no count
// can run backwards through a line or overflow the cursor arithmetic.
QList<int> numbers(QStringView text)
{
    QList<int> out;
    for (QStringView piece : text.split(u';')) {
        int value = 0;
        for (const QChar c : piece) {
            if (c < u'0' || c > u'9') {
                value = 0;
                break;
            }
            value = std::min(value * 10 + (c.unicode() - u'0'), 65535);
        }
        out.append(value);
    }
    return out;
}

} // namespace

TerminalScreen::TerminalScreen(int cols, int rows)
    : m_cols(std::clamp(cols, kMinCols, kMaxCols)), m_rows(std::clamp(rows, kMinRows, kMaxRows))
{
    reset();
}

const TerminalCell& TerminalScreen::blankCell()
{
    static const TerminalCell cell;
    return cell;
}

TerminalLine TerminalScreen::blankLine(int cols)
{
    return TerminalLine(cols, blankCell());
}

int TerminalScreen::documentRows() const
{
    return historyRows() + m_rows;
}

TerminalLine TerminalScreen::documentLine(int row) const
{
    if (row < 0)
        return TerminalLine();
    const int h = historyRows();
    if (row < h)
        return m_history[static_cast<size_t>(row)].cells();
    row -= h;
    if (row < m_screen.size())
        return m_screen.at(row);
    return TerminalLine();
}

TerminalCell TerminalScreen::documentCell(int row, int col) const
{
    if (row < 0 || col < 0)
        return blankCell();
    const int h = historyRows();
    if (row < h)
        return m_history[static_cast<size_t>(row)].at(col);
    row -= h;
    if (row >= m_screen.size() || col >= m_screen.at(row).size())
        return blankCell();
    return m_screen.at(row).at(col);
}

void TerminalScreen::reset()
{
    m_pen = AnsiState();
    m_history.clear();
    m_spare = TerminalLine();
    m_save = SaveArea();
    m_alternate = false;
    m_col = m_row = m_savedCol = m_savedRow = 0;
    m_pendingWrap = false;
    m_autowrap = true;
    m_cursorVisible = true;
    m_screen = QList<TerminalLine>(m_rows, blankLine(m_cols));
}

bool TerminalScreen::resize(int cols, int rows)
{
    cols = std::clamp(cols, kMinCols, kMaxCols);
    rows = std::clamp(rows, kMinRows, kMaxRows);
    const bool changed = cols != m_cols || rows != m_rows;
    // Take lines from the top only as far as needed to keep the cursor's row.
    const int k = std::min(static_cast<int>(m_screen.size()) - rows, m_row - rows + 1);
    for (int i = 0; i < k; ++i) {
        TerminalLine top = m_screen.takeFirst();
        if (!m_alternate)
            appendHistory(std::move(top));
        --m_row;
        m_savedRow = std::max(m_savedRow - 1, 0);
    }
    m_cols = cols;
    m_rows = rows;
    fitLines();
    if (changed)
        m_pendingWrap = false;
    clampCursor();
    return changed;
}

void TerminalScreen::fitLines()
{
    if (m_screen.size() > m_rows)
        m_screen.resize(m_rows);
    while (m_screen.size() < m_rows)
        m_screen.append(blankLine(m_cols));
    for (TerminalLine& line : m_screen) {
        if (line.size() != m_cols)
            line.resize(m_cols, blankCell());
    }
}

void TerminalScreen::clampCursor()
{
    m_col = std::clamp(m_col, 0, m_cols - 1);
    m_row = std::clamp(m_row, 0, m_rows - 1);
}

void TerminalScreen::blank(TerminalLine& line, int from, int to)
{
    from = std::max(from, 0);
    to = std::min<int>(to, static_cast<int>(line.size()));
    for (int i = from; i < to; ++i)
        line[i] = blankCell();
}

void TerminalScreen::appendHistory(TerminalLine line)
{
    // The history copies what the line holds up to its last cell that is not
    // blank, once, so its storage is free to become the next blank line.
    m_history.append(line);
    m_spare = std::move(line);
    if (m_history.size() > static_cast<size_t>(kHistoryLimit)) {
        m_history.dropOldest();
        if (m_observer)
            m_observer->historyLineDropped();
    }
}

TerminalLine TerminalScreen::freshLine()
{
    if (m_blanks.size() != m_cols)
        m_blanks = blankLine(m_cols);
    if (m_spare.size() == m_cols && m_spare.isDetached()) {
        // Cells are plain bytes: blanking a line is one copy.
        std::memcpy(static_cast<void*>(m_spare.data()), m_blanks.constData(), size_t(m_cols) * sizeof(TerminalCell));
        return std::exchange(m_spare, TerminalLine());
    }
    return m_blanks;   // shared: the first write to it copies the cells
}

void TerminalScreen::newline()
{
    ++m_row;
    if (m_row >= m_rows) {
        TerminalLine top = m_screen.takeFirst();
        if (!m_alternate)
            appendHistory(std::move(top));
        m_screen.append(freshLine());
        m_row = m_rows - 1;
    }
}

void TerminalScreen::print(QChar ch)
{
    printRun(QStringView(&ch, 1));
}

void TerminalScreen::printRun(QStringView run)
{
    TerminalCell cell;
    cell.setForeground(m_pen.foreground);
    cell.setBackground(m_pen.background);
    cell.bold = m_pen.bold;
    TerminalCell* cells = m_screen[m_row].data();
    for (QChar ch : run) {
        const int width = charWidth(ch);
        if (m_autowrap && (m_pendingWrap || (width == 2 && m_col + 1 == m_cols))) {
            m_col = 0;
            newline();
            cells = m_screen[m_row].data();
        }
        m_pendingWrap = false;
        cell.character = ch;
        cells[m_col] = cell;
        if (width == 2 && m_col + 1 < m_cols) {
            TerminalCell& next = cells[m_col + 1];
            next = blankCell();
            next.continuation = true;
        }
        if (m_col + width < m_cols) {
            m_col += width;
        } else {
            m_col = m_cols - 1;
            m_pendingWrap = m_autowrap;
        }
    }
}

void TerminalScreen::carriageReturn()
{
    m_col = 0;
    m_pendingWrap = false;
}

void TerminalScreen::lineFeed()
{
    m_pendingWrap = false;
    newline();
}

void TerminalScreen::backspace()
{
    m_col = std::max(m_col - 1, 0);
    m_pendingWrap = false;
}

void TerminalScreen::tab()
{
    m_pendingWrap = false;
    m_col = std::min(m_col / 8 * 8 + 8, m_cols - 1);
}

void TerminalScreen::escape(QChar final)
{
    switch (final.unicode()) {
    case u'7':
        m_savedCol = m_col;
        m_savedRow = m_row;
        break;
    case u'8':
        m_col = std::clamp(m_savedCol, 0, m_cols - 1);
        m_row = std::clamp(m_savedRow, 0, m_rows - 1);
        break;
    case u'D':
        m_pendingWrap = false;
        newline();
        break;
    case u'E':
        m_pendingWrap = false;
        m_col = 0;
        newline();
        break;
    case u'M':
        m_pendingWrap = false;
        if (m_row == 0) {
            m_screen.removeLast();
            m_screen.prepend(blankLine(m_cols));
        } else {
            --m_row;
        }
        break;
    default:
        break;
    }
}

void TerminalScreen::setAlternateScreen(bool on)
{
    if (on == m_alternate)
        return;
    if (m_observer)
        m_observer->alternateScreenSwitching(on, false);
    if (on) {
        m_save.lines = std::move(m_screen);
        m_save.col = m_col;
        m_save.row = m_row;
        m_save.savedCol = m_savedCol;
        m_save.savedRow = m_savedRow;
        m_save.pendingWrap = m_pendingWrap;
        m_screen = QList<TerminalLine>(m_rows, blankLine(m_cols));
        m_col = m_row = 0;
        m_pendingWrap = false;
        m_alternate = true;
    } else {
        m_alternate = false;
        m_screen = std::move(m_save.lines);
        m_col = m_save.col;
        m_row = m_save.row;
        m_savedCol = m_save.savedCol;
        m_savedRow = m_save.savedRow;
        m_pendingWrap = m_save.pendingWrap;
        m_save = SaveArea();
        // The grid may have been resized meanwhile: fit the restored lines.
        const bool wrap = m_pendingWrap;
        resize(m_cols, m_rows);
        m_pendingWrap = wrap;
    }
    if (m_observer)
        m_observer->alternateScreenSwitching(on, true);
}

void TerminalScreen::csi(QChar final, QStringView parameters)
{
    const char16_t f = final.unicode();
    if ((f == u'h' || f == u'l') && parameters.startsWith(u'?')) {
        const bool set = f == u'h';
        for (int mode : numbers(parameters.mid(1))) {
            if (mode == 1049 || mode == 1047 || mode == 47)
                setAlternateScreen(set);
            else if (mode == 7)
                m_autowrap = set;
            else if (mode == 25)
                m_cursorVisible = set;
        }
        return;
    }
    if (f != u'm')
        m_pendingWrap = false;
    const QList<int> p = numbers(parameters);
    const int first = p.value(0);
    const int n = first == 0 ? 1 : first;
    TerminalLine& line = m_screen[m_row];
    switch (f) {
    case u'@': {
        const int k = std::min(n, m_cols - m_col);
        for (int i = m_cols - 1; i >= m_col + k; --i)
            line[i] = line[i - k];
        blank(line, m_col, m_col + k);
        break;
    }
    case u'P': {
        const int k = std::min(n, m_cols - m_col);
        for (int i = m_col; i + k < m_cols; ++i)
            line[i] = line[i + k];
        blank(line, m_cols - k, m_cols);
        break;
    }
    case u'X':
        blank(line, m_col, m_col + std::min(n, m_cols - m_col));
        break;
    case u'A':
        m_row = std::max(m_row - n, 0);
        break;
    case u'B':
        m_row = std::min(m_row + n, m_rows - 1);
        break;
    case u'C':
        m_col = std::min(m_col + n, m_cols - 1);
        break;
    case u'D':
        m_col = std::max(m_col - n, 0);
        break;
    case u'E':
        m_col = 0;
        m_row = std::clamp(m_row + n, 0, m_rows - 1);
        break;
    case u'F':
        m_col = 0;
        m_row = std::clamp(m_row - n, 0, m_rows - 1);
        break;
    case u'G':
        m_col = std::clamp(n - 1, 0, m_cols - 1);
        break;
    case u'H':
    case u'f':
        m_row = std::clamp(n - 1, 0, m_rows - 1);
        m_col = p.size() > 1 ? std::min(std::max(p.at(1), 1) - 1, m_cols - 1) : 0;
        break;
    case u'J':
        if (first == 0) {
            blank(line, m_col, m_cols);
            for (int r = m_row + 1; r < m_rows; ++r)
                blank(m_screen[r], 0, m_cols);
        } else if (first == 1) {
            for (int r = 0; r < m_row; ++r)
                blank(m_screen[r], 0, m_cols);
            blank(m_screen[m_row], 0, m_col + 1);
        } else if (first == 2) {
            for (int r = 0; r < m_rows; ++r)
                blank(m_screen[r], 0, m_cols);
        } else if (first == 3) {
            const qint64 released = m_history.bytes();
            m_history.clear();
            if (m_observer)
                m_observer->historyCleared(released);
        }
        break;
    case u'K':
        if (first == 0)
            blank(line, m_col, m_cols);
        else if (first == 1)
            blank(line, 0, m_col + 1);
        else if (first == 2)
            blank(line, 0, m_cols);
        break;
    case u'L': {
        const int k = std::min(n, m_rows - m_row);
        for (int i = 0; i < k; ++i) {
            m_screen.removeLast();
            m_screen.insert(m_row, blankLine(m_cols));
        }
        break;
    }
    case u'M': {
        const int k = std::min(n, m_rows - m_row);
        for (int i = 0; i < k; ++i) {
            m_screen.removeAt(m_row);
            m_screen.append(blankLine(m_cols));
        }
        break;
    }
    case u'S': {
        const int k = std::min(n, m_rows);
        for (int i = 0; i < k; ++i) {
            TerminalLine top = m_screen.takeFirst();
            if (!m_alternate)
                appendHistory(std::move(top));
            m_screen.append(freshLine());
        }
        break;
    }
    case u'T': {
        const int k = std::min(n, m_rows);
        for (int i = 0; i < k; ++i) {
            m_screen.removeLast();
            m_screen.prepend(blankLine(m_cols));
        }
        break;
    }
    case u'd':
        m_row = std::clamp(n - 1, 0, m_rows - 1);
        break;
    case u'm':
        m_pen.sgr(p);
        break;
    case u's':
        m_savedCol = m_col;
        m_savedRow = m_row;
        break;
    case u'u':
        m_col = std::clamp(m_savedCol, 0, m_cols - 1);
        m_row = std::clamp(m_savedRow, 0, m_rows - 1);
        break;
    default:
        break;
    }
}

} // namespace vn
