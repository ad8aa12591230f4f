#pragma once

#include "ui/views/AnsiState.h"
#include "ui/views/TerminalCell.h"
#include "ui/views/TerminalHistory.h"

#include <QList>
#include <QPoint>
#include <QString>
#include <QStringView>

namespace vn {

// The cell grid of the terminal with its scroll-back history, cursor, modes
// and the alternate screen: everything the escape-sequence interpreter acts
// on, and nothing of painting. What a widget on top must follow (history
// dropping its oldest line, the alternate screen switching) is reported to an
// Observer.
class TerminalScreen {
public:
    static constexpr int kHistoryLimit = 10000;
    static constexpr int kMinCols = 2, kMaxCols = 500, kMinRows = 1, kMaxRows = 200;

    class Observer {
    public:
        virtual ~Observer() = default;
        // The oldest history line was dropped; document rows moved up by one.
        virtual void historyLineDropped() {}
        // ESC[3J emptied the history, which held about `releasedBytes`.
        virtual void historyCleared(qint64 releasedBytes) { (void)releasedBytes; }
        // Called before the switch, and again after it with `done` set.
        virtual void alternateScreenSwitching(bool on, bool done) { (void)on; (void)done; }
    };

    TerminalScreen(int cols = 120, int rows = 32);

    void setObserver(Observer* observer) { m_observer = observer; }

    int cols() const { return m_cols; }
    int rows() const { return m_rows; }
    const QList<TerminalLine>& lines() const { return m_screen; }
    const TerminalHistory& history() const { return m_history; }
    QPoint cursor() const { return {m_col, m_row}; }
    QPoint savedCursor() const { return {m_savedCol, m_savedRow}; }
    bool pendingWrap() const { return m_pendingWrap; }
    bool autowrap() const { return m_autowrap; }
    bool cursorVisible() const { return m_cursorVisible; }
    bool alternateScreen() const { return m_alternate; }
    const AnsiState& attributes() const { return m_pen; }

    // Document: the history followed by the screen; the screen alone while the
    // alternate screen is active.
    int documentRows() const;
    int historyRows() const { return m_alternate ? 0 : static_cast<int>(m_history.size()); }
    // The cell at a document position; beyond the end of a line the blank cell.
    TerminalCell documentCell(int row, int col) const;
    // A document row as grid cells, as long as it is stored (a history line
    // ends after its last cell that is not blank); empty outside the document.
    TerminalLine documentLine(int row) const;

    // Start state at the current size; the history and the save area are emptied.
    void reset();
    // Fits the grid to cols x rows (clamped to the supported range). Returns
    // whether the size changed.
    bool resize(int cols, int rows);

    // The operations of the interpreter.
    void print(QChar ch);
    void printRun(QStringView run);
    void carriageReturn();
    void lineFeed();
    void backspace();
    void tab();
    void escape(QChar final);
    void csi(QChar final, QStringView parameters);
    void newline();
    void setAlternateScreen(bool on);

    static const TerminalCell& blankCell();
    static TerminalLine blankLine(int cols);

private:
    void appendHistory(TerminalLine line);
    void clampCursor();
    void blank(TerminalLine& line, int from, int to);   // [from, to)
    void fitLines();
    TerminalLine freshLine();

    int m_cols;
    int m_rows;
    QList<TerminalLine> m_screen;
    TerminalHistory m_history;
    int m_col = 0, m_row = 0;
    int m_savedCol = 0, m_savedRow = 0;
    bool m_pendingWrap = false;
    bool m_autowrap = true;
    bool m_cursorVisible = true;
    bool m_alternate = false;
    AnsiState m_pen;

    struct SaveArea {
        QList<TerminalLine> lines;
        int col = 0, row = 0, savedCol = 0, savedRow = 0;
        bool pendingWrap = false;
    } m_save;

    // The last line that scrolled into the history, whose cells the history
    // copied: kept to become the next blank line instead of allocating one
    // for every line that scrolls.
    TerminalLine m_spare;
    // A blank line of the grid's width, which fresh lines are copied from.
    TerminalLine m_blanks;

    Observer* m_observer = nullptr;
};

} // namespace vn
