#include "TerminalTestSupport.h"

#include "ui/views/AnsiState.h"
#include "ui/views/TerminalView.h"

#include <QApplication>
#include <QClipboard>
#include <QFontMetricsF>
#include <QImage>
#include <QMouseEvent>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

#include <cmath>
#include <deque>

using vn::TerminalCell;
using vn::TerminalHistory;
using vn::TerminalHistoryLine;
using vn::TerminalLine;
using vn::TerminalScreen;
using vn::TerminalView;
using vn::ansiColor;
using vn::test::Term;

namespace {

qreal cellWidth(const TerminalView& view)
{
    return QFontMetricsF(view.font()).horizontalAdvance(QLatin1Char('M'));
}

qreal lineHeight(const TerminalView& view)
{
    return QFontMetricsF(view.font()).lineSpacing() * 1.15;
}

void setGrid(TerminalView& view, int cols, int rows)
{
    view.setMinimumHeight(0);
    view.resize(static_cast<int>(std::ceil(46 + cols * cellWidth(view) + 0.25)),
                static_cast<int>(std::ceil(24 + rows * lineHeight(view) + 0.25)));
    view.resizeGrid();
}

void mouse(QWidget& w, QEvent::Type type, QPointF at, Qt::MouseButton button, Qt::MouseButtons buttons)
{
    QMouseEvent event(type, at, w.mapToGlobal(at), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(&w, &event);
}

// Selects a whole row of the view with the mouse, first column to last.
void selectViewRow(TerminalView& view, int row)
{
    const qreal cw = cellWidth(view);
    const qreal y = 12 + (row + 0.5) * lineHeight(view);
    const QPointF from(16 + 0.5 * cw, y);
    const QPointF to(16 + (view.cols() - 0.5) * cw, y);
    mouse(view, QEvent::MouseButtonPress, from, Qt::LeftButton, Qt::LeftButton);
    mouse(view, QEvent::MouseMove, to, Qt::NoButton, Qt::LeftButton);
    mouse(view, QEvent::MouseButtonRelease, to, Qt::LeftButton, Qt::NoButton);
}

// What one row of the view draws, short of the scroll bar and of the pixels
// on the row's edges, which the rows next to it may share.
QImage rowImage(TerminalView& view, int row)
{
    const qreal lh = lineHeight(view);
    const int top = static_cast<int>(std::ceil(12 + row * lh)) + 1;
    const int bottom = static_cast<int>(std::floor(12 + (row + 1) * lh)) - 1;
    return view.grab(QRect(0, top, view.width() - 16, bottom - top)).toImage();
}

QString viewRow(const TerminalView& view, int row)
{
    return view.visibleText().split(u'\n').value(row);
}

// What a row looks like and gives: its text, its cells, its picture plain
// and selected, and the selection's copied text.
struct RowSeen {
    QString text;
    QList<TerminalCell> cells;
    QImage plain;
    QImage selected;
    QString selectedText;
    QString copied;
};

RowSeen look(TerminalView& view, int documentRow, int row)
{
    RowSeen seen;
    seen.text = viewRow(view, row);
    for (int c = 0; c < view.cols(); ++c)
        seen.cells.append(view.documentCell(documentRow, c));
    seen.plain = rowImage(view, row);
    selectViewRow(view, row);
    seen.selected = rowImage(view, row);
    seen.selectedText = view.selectedText();
    QApplication::clipboard()->clear();
    view.copySelection();
    seen.copied = QApplication::clipboard()->text();
    return seen;
}

// A line of 100 cells with varied content: lengths, looks, wide characters,
// and coloured blanks after the text.
TerminalLine variedLine(int i)
{
    TerminalLine line = TerminalScreen::blankLine(100);
    const int length = i % 97;
    for (int j = 0; j < length; ++j) {
        TerminalCell& cell = line[j];
        cell.character = QChar(u'a' + (i + j) % 26);
        if (i % 3 == 0)
            cell.setForeground(ansiColor((j / 10 + i) % 16));
        if (i % 7 == 0 && j > length - 5) {   // coloured blanks
            cell = TerminalCell();
            cell.setBackground(QColor(i % 256, j, 9));
        }
        cell.bold = i % 11 == 0 && j % 2 == 0;
        if (i % 5 == 0 && j % 9 == 3 && j + 1 < length) {
            cell.character = QChar(0x4e2d);
            line[j + 1] = TerminalCell();
            line[j + 1].continuation = true;
            ++j;
        }
    }
    return line;
}

// The bytes of a varied line as a device sends them: lengths up to 96,
// foreground and background colours, bold, wide characters, coloured blanks
// at the end; the look is reset before the line ends.
QByteArray variedBytes(int i)
{
    QByteArray out;
    const int length = i % 97;
    for (int j = 0; j < length; ++j) {
        if (j % 13 == 0)
            out += "\x1b[" + QByteArray::number(30 + (i + j) % 8) + (i % 4 == 0 ? ";1" : "") + "m";
        if (i % 6 == 0 && j == length / 2)
            out += "\x1b[48;2;" + QByteArray::number(i % 256) + ";7;9m";
        if (i % 5 == 0 && j % 9 == 3 && j + 1 < length) {
            out += "\xe4\xb8\xad";
            ++j;
            continue;
        }
        out += char('a' + (i + j) % 26);
    }
    if (i % 7 == 0)
        out += "\x1b[44m   ";
    return out + "\x1b[0m\r\n";
}

TerminalLine trimmed(TerminalLine line)
{
    while (!line.isEmpty() && line.last().isBlank())
        line.removeLast();
    return line;
}

struct ShownView {
    explicit ShownView(int cols, int rows)
    {
        view.show();
        setGrid(view, cols, rows);
    }
    TerminalView view;
};

} // namespace

class TerminalHistoryTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void lineComesBackAsItWent_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<int>("stored");   // cells the history keeps of it
        QTest::newRow("short") << QByteArray("ab") << 2;
        QTest::newRow("full width") << QByteArray("0123456789abcdefghij") << 20;
        QTest::newRow("double width") << QByteArray("ab\xe4\xb8\xad\xe6\x96\x87 x") << 8;
        QTest::newRow("double width at the end") << QByteArray(18, 'x') + "\xe4\xb8\xad" << 20;
        QTest::newRow("coloured background") << QByteArray("\x1b[41mred\x1b[0m \x1b[1;33;44m b \x1b[42m   \x1b[0m")
                                             << 10;
        QTest::newRow("coloured spaces after the text")
            << QByteArray("\x1b[31mred   \x1b[38;5;200;1m    ") << 3;
        QTest::newRow("bold and coloured text") << QByteArray("\x1b[1mbold\x1b[0m \x1b[1;35mpink\x1b[0m") << 9;
        QTest::newRow("coloured blank between words")
            << QByteArray("a\x1b[43m \x1b[0m   b\x1b[33m       ") << 6;
        QTest::newRow("true colour and 256 colours")
            << QByteArray("\x1b[38;2;10;20;30;48;5;200mT\x1b[0m \x1b[48;2;1;2;3m\xe4\xb8\xad\x1b[0m") << 4;
    }

    void lineComesBackAsItWent()
    {
        QFETCH(QByteArray, line);
        QFETCH(int, stored);
        ShownView shown(20, 3);
        TerminalView& view = shown.view;
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        view.feed(line);
        const RowSeen before = look(view, 0, 0);
        QVERIFY(!before.text.isEmpty());
        QCOMPARE(view.text().split(u'\n').first(), before.text.trimmed());

        view.feed("\r\n\r\n\r\n");   // the line scrolls into the history
        QCOMPARE(view.screen().history().size(), size_t(1));
        QCOMPARE(view.screen().history()[0].size(), stored);
        QCOMPARE(view.text(), QStringLiteral("\n\n"));
        view.historyScrollBar()->setValue(0);
        const RowSeen after = look(view, 0, 0);

        QCOMPARE(after.text, before.text);
        QCOMPARE(after.selectedText, before.selectedText);
        QCOMPARE(after.copied, before.copied);
        QCOMPARE(after.copied, before.text);
        for (int c = 0; c < view.cols(); ++c) {
            const TerminalCell& was = before.cells.at(c);
            const TerminalCell& is = after.cells.at(c);
            QCOMPARE(is.character, was.character);
            QCOMPARE(is.continuation, was.continuation);
            QCOMPARE(is.background(), was.background());
            if (c < stored) {
                QVERIFY2(is == was, qPrintable(QStringLiteral("column %1").arg(c)));
            } else {
                // Cut after the content: a blank that draws nothing, as before.
                QVERIFY(was.isBlank());
                QVERIFY(is == TerminalScreen::blankCell());
            }
        }
        QCOMPARE(after.plain, before.plain);
        QCOMPARE(after.selected, before.selected);
    }

    void resizeWithHistory()
    {
        TerminalView view;
        setGrid(view, 20, 3);
        view.feed("0123456789abcdefghij\r\nshort\r\n\x1b[44mblue\x1b[0m \xe4\xb8\xad\r\n\r\n\r\n");
        QCOMPARE(view.screen().historyRows(), 3);
        QScrollBar* bar = view.historyScrollBar();

        setGrid(view, 8, 3);   // narrower: the history is cut in view only
        bar->setValue(0);
        QCOMPARE(view.visibleText(), QStringLiteral("01234567\nshort\nblue \u4e2d"));
        selectViewRow(view, 0);
        QCOMPARE(view.selectedText(), QStringLiteral("01234567"));
        view.clearSelection();

        setGrid(view, 30, 3);  // wider: every line shows whole again
        bar->setValue(0);
        QCOMPARE(view.visibleText(), QStringLiteral("0123456789abcdefghij\nshort\nblue \u4e2d"));
        selectViewRow(view, 0);
        QCOMPARE(view.selectedText(), QStringLiteral("0123456789abcdefghij"));
        for (int c = 0; c < 30; ++c) {
            const TerminalCell cell = view.documentCell(2, c);
            QCOMPARE(cell.background(), c < 4 ? ansiColor(4) : QColor());
            QCOMPARE(cell.continuation, c == 6);
        }
        // The screen's own lines follow the width.
        for (const TerminalLine& line : view.screen().lines())
            QCOMPARE(line.size(), 30);
    }

    void eraseDisplayThreeAndReset_data()
    {
        QTest::addColumn<int>("lines");
        QTest::addColumn<int>("width");
        QTest::addColumn<bool>("released");
        QTest::newRow("a little history") << 50 << 10 << false;
        QTest::newRow("a long history") << 10000 << 100 << true;
    }

    void eraseDisplayThreeAndReset()
    {
        QFETCH(int, lines);
        QFETCH(int, width);
        QFETCH(bool, released);
        TerminalView view;
        setGrid(view, 120, 4);
        QSignalSpy spy(&view, &TerminalView::historyReleased);
        QByteArray stream;
        for (int i = 0; i < lines + 3; ++i)
            stream += QByteArray::number(i).leftJustified(width, '.') + "\r\n";
        view.feed(stream);
        const QString screen = view.text();
        QCOMPARE(view.screen().historyRows(), std::min(lines, TerminalScreen::kHistoryLimit));
        QVERIFY(view.screen().history().bytes() > 0);
        view.feed("\x1b[3J");
        QCOMPARE(view.screen().historyRows(), 0);
        QCOMPARE(view.screen().history().bytes(), 0);
        QCOMPARE(view.historyScrollBar()->maximum(), 0);
        QCOMPARE(view.text(), screen);
        QCOMPARE(spy.count(), released ? 1 : 0);

        view.feed(stream);
        view.reset(QStringLiteral("utf-8"));
        QCOMPARE(view.screen().historyRows(), 0);
        QCOMPARE(view.screen().history().bytes(), 0);
        QCOMPARE(spy.count(), released ? 2 : 0);
        view.reset(QStringLiteral("utf-8"));   // nothing left to drop
        QCOMPARE(spy.count(), released ? 2 : 0);
    }

    void alternateScreenLeavesHistoryAlone()
    {
        TerminalView view;
        setGrid(view, 20, 3);
        view.feed("\x1b[31mone\x1b[0m\r\n\x1b[44mtwo  \x1b[0m\r\n\xe4\xb8\xad three\r\nfour\r\nfive");
        QCOMPARE(view.screen().historyRows(), 2);
        const auto history = [&view] {
            QList<TerminalLine> lines;
            for (const TerminalHistoryLine& line : view.screen().history())
                lines.append(line.cells());
            return lines;
        };
        const QList<TerminalLine> kept = history();
        view.historyScrollBar()->setValue(0);
        const QString shown = view.visibleText();

        view.feed("\x1b[?1049h");
        QCOMPARE(view.screen().historyRows(), 0);
        QByteArray full;
        for (int i = 0; i < 50; ++i)
            full += "alt " + QByteArray::number(i) + "\r\n";
        view.feed(full);
        QCOMPARE(view.screen().history().size(), size_t(2));   // nothing entered it
        view.feed("\x1b[?1049l");
        QVERIFY(history() == kept);
        QCOMPARE(view.historyScrollBar()->value(), 0);
        QCOMPARE(view.visibleText(), shown);
    }

    void blocksKeepLinesInOrder()
    {
        // Three times the bound through a history that drops its oldest line
        // at 10,000, as the screen's does: blocks empty, are filled again,
        // and every kept line reads back as it went in.
        TerminalHistory history;
        std::deque<TerminalLine> kept;
        qint64 steady = 0;
        for (int i = 0; i < 30000; ++i) {
            const TerminalLine line = variedLine(i);
            history.append(line);
            kept.push_back(trimmed(line));
            if (history.size() > size_t(TerminalScreen::kHistoryLimit)) {
                history.dropOldest();
                kept.pop_front();
            }
            if (i == 15000)
                steady = history.bytes();
        }
        QCOMPARE(history.size(), size_t(TerminalScreen::kHistoryLimit));
        for (size_t row = 0; row < history.size(); ++row) {
            const TerminalHistoryLine line = history[row];
            QVERIFY2(line.cells() == kept[row], qPrintable(QString::number(row)));
            for (qsizetype c = 0; c < 100; ++c)
                QVERIFY(line.at(c) == (c < kept[row].size() ? kept[row].at(c) : TerminalCell()));
        }
        QVERIFY(history.bytes() <= steady + qint64(TerminalHistory::kBlockBytes));
        history.clear();
        QCOMPARE(history.bytes(), 0);
        QVERIFY(history.empty());
        history.append(variedLine(7));
        QVERIFY(history.front().cells() == trimmed(variedLine(7)));
        history.dropOldest();
        QVERIFY(history.empty());
        history.append(variedLine(8));   // an emptied history fills its block again
        QCOMPARE(history.size(), size_t(1));
        QVERIFY(history.back().cells() == trimmed(variedLine(8)));
    }

    void fullHistoryKeepsScrolling()
    {
        // Two and a half times the bound through the interpreter: the lines
        // the history keeps read back as the screen held them, and once the
        // history is full its blocks are filled again instead of new ones.
        Term t(100, 3);
        qint64 full = 0;
        constexpr int total = 25000;
        for (int i = 0; i < total; ++i) {
            t.feed(variedBytes(i));
            if (i == 12000)
                full = t.screen.history().bytes();
        }
        QCOMPARE(t.screen.history().size(), size_t(TerminalScreen::kHistoryLimit));
        QVERIFY2(t.screen.history().bytes() <= full + qint64(TerminalHistory::kBlockBytes),
                 qPrintable(QStringLiteral("%1 after %2").arg(t.screen.history().bytes()).arg(full)));
        // The newest line is on the screen above the cursor's blank row; the
        // history ends with the one before it.
        const int first = total - 2 - TerminalScreen::kHistoryLimit;
        for (const int row : {0, 1, 2, 3, 4, 5, 6, 7, 4999, 9970, 9998, 9999}) {
            Term one(100, 3);
            one.feed(variedBytes(first + row).chopped(2));
            const TerminalLine expected = trimmed(one.screen.lines().at(0));
            QVERIFY2(t.screen.history()[size_t(row)].cells() == expected, qPrintable(QString::number(row)));
            for (int c = 0; c < 100; ++c)
                QVERIFY(t.screen.documentCell(row, c) == (c < expected.size() ? expected.at(c) : TerminalCell()));
        }
    }

    void eraseDisplayThreeDropsSelectionInHistory()
    {
        ShownView shown(20, 3);
        TerminalView& view = shown.view;
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        view.feed("\x1b[42mgreen\x1b[0m one\r\ntwo\r\nthree\r\nfour\r\nfive");
        view.historyScrollBar()->setValue(0);
        selectViewRow(view, 0);
        QCOMPARE(view.selectedText(), QStringLiteral("green one"));
        view.feed("\x1b[3J");
        QCOMPARE(view.selectedText(), QString());
        QCOMPARE(view.historyScrollBar()->maximum(), 0);
        QCOMPARE(view.visibleText(), QStringLiteral("three\nfour\nfive"));
        // The history fills again from nothing.
        view.feed("\r\nsix\r\nseven");
        QCOMPARE(view.screen().historyRows(), 2);
        view.historyScrollBar()->setValue(0);
        QCOMPARE(view.visibleText(), QStringLiteral("three\nfour\nfive"));
        QCOMPARE(view.documentCell(0, 0).character, QChar(u't'));
    }

    void alternateScreenResizedWithHistory()
    {
        // A full-screen program that runs while the window is made narrower
        // and then wider again leaves the history as it was.
        ShownView shown(20, 3);
        TerminalView& view = shown.view;
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        view.feed("0123456789abcdefghij\r\n\x1b[45mmagenta\x1b[0m\r\n\xe4\xb8\xad\xe6\x96\x87\r\nlive\r\nprompt");
        QCOMPARE(view.screen().historyRows(), 2);
        view.historyScrollBar()->setValue(0);
        const RowSeen first = look(view, 0, 0);
        const RowSeen second = look(view, 1, 1);
        view.clearSelection();

        view.feed("\x1b[?1049h\x1b[2Jfull screen");
        setGrid(view, 8, 3);
        setGrid(view, 20, 3);
        view.feed("\x1b[?1049l");
        QCOMPARE(view.screen().historyRows(), 2);
        view.historyScrollBar()->setValue(0);
        const RowSeen firstAfter = look(view, 0, 0);
        const RowSeen secondAfter = look(view, 1, 1);
        QCOMPARE(firstAfter.text, first.text);
        QCOMPARE(firstAfter.copied, first.copied);
        QCOMPARE(firstAfter.cells, first.cells);
        QCOMPARE(firstAfter.plain, first.plain);
        QCOMPARE(secondAfter.text, second.text);
        QCOMPARE(secondAfter.copied, second.copied);
        QCOMPARE(secondAfter.cells, second.cells);
        QCOMPARE(secondAfter.plain, second.plain);
    }

    void historyCostsWhatItHolds_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<int>("cols");
        QTest::addColumn<int>("limitKiB");
        QTest::addColumn<QString>("text");
        // 10,000 lines: what each one costs beyond its text stays small.
        QTest::newRow("a") << QByteArray("a\r\n") << 120 << 1024 << QStringLiteral("a");
        QTest::newRow("a on the widest grid") << QByteArray("a\r\n") << 500 << 1024 << QStringLiteral("a");
        QTest::newRow("100 characters") << QByteArray(100, 'x') + "\r\n" << 120 << 3 * 1024
                                        << QString(100, u'x');
        QTest::newRow("100 coloured characters")
            << QByteArray("\x1b[32m") + QByteArray(50, 'x') + "\x1b[41m" + QByteArray(50, 'y') + "\x1b[0m\r\n" << 120
            << 4 * 1024 << QString(50, u'x') + QString(50, u'y');
    }

    void historyCostsWhatItHolds()
    {
        QFETCH(QByteArray, line);
        QFETCH(int, cols);
        QFETCH(int, limitKiB);
        QFETCH(QString, text);
        Term t(cols, 4);
        t.feed(line.repeated(12000));
        QCOMPARE(t.screen.history().size(), size_t(TerminalScreen::kHistoryLimit));
        QVERIFY2(t.screen.history().bytes() <= qint64(limitKiB) * 1024,
                 qPrintable(QString::number(t.screen.history().bytes())));
        QCOMPARE(Term::lineText(t.screen.history().front()), text);
        QCOMPARE(Term::lineText(t.screen.history().back()), text);
    }
};

QTEST_MAIN(TerminalHistoryTest)
#include "TerminalHistoryTest.moc"
