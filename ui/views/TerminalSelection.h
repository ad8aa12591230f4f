#pragma once

#include <QPoint>
#include <QString>

#include <utility>

namespace vn {

class TerminalScreen;

// The selection of the terminal over its document (history followed by the
// screen). Positions are (column, document row), and in linear form
// row * cols + column. A mouse selection includes both end cells; in a
// keyboard selection the end is a caret between cells.
struct TerminalSelection {
    QPoint anchor;
    QPoint end;
    bool mouseSelecting = false;
    bool shown = false;        // a finished selection is shown
    bool keyboard = false;     // made (or taken over) with Shift and the navigation keys
    bool inputLine = false;    // started at the cursor on the live screen

    bool active() const { return mouseSelecting || shown; }
    void clear() { mouseSelecting = shown = keyboard = inputLine = false; }

    // Half-open range of linear positions, clamped to the document.
    std::pair<qint64, qint64> range(const TerminalScreen& screen) const;
    QString text(const TerminalScreen& screen) const;
};

// The linear position and the (column, row) form of a position.
qint64 linearPosition(const TerminalScreen& screen, QPoint position);
QPoint positionAt(const TerminalScreen& screen, qint64 linear);
// The cursor as a linear document position (after the last column while a
// wrap is pending).
qint64 cursorPosition(const TerminalScreen& screen);

// Keyboard moves of a selection end over the document.
enum class SelectionStep { Home, End, Left, Right, Up, Down, PageUp, PageDown };
qint64 moveSelectionEnd(const TerminalScreen& screen, qint64 from, SelectionStep step, bool ctrl);

} // namespace vn
