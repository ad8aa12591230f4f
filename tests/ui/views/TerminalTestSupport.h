#pragma once

#include "ui/views/TerminalParser.h"
#include "ui/views/TerminalScreen.h"

#include <QStringList>

namespace vn::test {

// A grid with its interpreter, fed like the view feeds them.
struct Term {
    explicit Term(int cols = 10, int rows = 4) : screen(cols, rows) {}
    void feed(const QByteArray& bytes) { parser.feed(bytes); }

    // A screen row as shown: wide characters once, trailing spaces removed.
    QString row(int r) const { return lineText(screen.lines().at(r)); }
    // The screen's rows joined by "\n", empty rows at the bottom left out.
    QString text() const
    {
        QStringList rows;
        for (const TerminalLine& line : screen.lines())
            rows.append(lineText(line));
        while (!rows.isEmpty() && rows.last().isEmpty())
            rows.removeLast();
        return rows.join(u'\n');
    }
    static QString lineText(const TerminalLine& line)
    {
        QString s;
        for (const TerminalCell& cell : line) {
            if (!cell.continuation)
                s += cell.character;
        }
        while (s.endsWith(u' '))
            s.chop(1);
        return s;
    }
    static QString lineText(const TerminalHistoryLine& line) { return lineText(line.cells()); }
    const TerminalCell& cell(int col, int row) const { return screen.lines().at(row).at(col); }

    TerminalScreen screen;
    TerminalParser parser{screen};
};

} // namespace vn::test
