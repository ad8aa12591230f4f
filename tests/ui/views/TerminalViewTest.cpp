#include "ui/views/TerminalView.h"

#include <QApplication>
#include <QClipboard>
#include <QFontMetricsF>
#include <QKeyEvent>
#include <QLineEdit>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QTest>
#include <QTimer>
#include <QVBoxLayout>

#include <cmath>
#include <memory>

using vn::TerminalView;

Q_DECLARE_METATYPE(Qt::KeyboardModifiers)

namespace {

// Sizes the widget so that its grid is cols x rows.
void setGrid(TerminalView& view, int cols, int rows)
{
    const QFontMetricsF fm(view.font());
    const qreal cw = fm.horizontalAdvance(QLatin1Char('M'));
    const qreal lh = fm.lineSpacing() * 1.15;
    view.setMinimumHeight(0);   // its 90 pixels would hold more rows than the small grids here
    view.resize(static_cast<int>(std::ceil(46 + cols * cw + 0.25)),
                static_cast<int>(std::ceil(24 + rows * lh + 0.25)));
    view.resizeGrid();
}

QPointF cellCentre(const TerminalView& view, int col, int viewRow)
{
    const QFontMetricsF fm(view.font());
    const qreal cw = fm.horizontalAdvance(QLatin1Char('M'));
    const qreal lh = fm.lineSpacing() * 1.15;
    return QPointF(16 + (col + 0.5) * cw, 12 + (viewRow + 0.5) * lh);
}

void key(QWidget& w, int k, Qt::KeyboardModifiers m = Qt::NoModifier, const QString& text = {},
         bool autoRepeat = false)
{
    QKeyEvent press(QEvent::KeyPress, k, m, text, autoRepeat);
    QApplication::sendEvent(&w, &press);
}

void mouse(QWidget& w, QEvent::Type type, QPointF at, Qt::MouseButton button, Qt::MouseButtons buttons)
{
    QMouseEvent event(type, at, w.mapToGlobal(at), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(&w, &event);
}

void wheel(QWidget& w, int angle, Qt::KeyboardModifiers m = Qt::NoModifier, int pixels = 0)
{
    QWheelEvent event(QPointF(50, 50), QPointF(50, 50), QPoint(0, pixels), QPoint(0, angle),
                      Qt::NoButton, m, Qt::NoScrollPhase, false);
    QApplication::sendEvent(&w, &event);
}

// Counts one kind of event a widget receives.
struct PaintCounter : QObject {
    PaintCounter(QObject* target, QEvent::Type counted) : type(counted) { target->installEventFilter(this); }
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == type)
            ++count;
        return false;
    }
    QEvent::Type type;
    int count = 0;
};

struct Fixture {
    Fixture(int cols = 40, int rows = 6)
    {
        setGrid(view, cols, rows);
        view.interactive = true;
    }
    QByteArray sent()
    {
        QByteArray all;
        for (const QList<QVariant>& args : std::as_const(spy))
            all += args.at(0).toByteArray();
        spy.clear();
        return all;
    }
    TerminalView view;
    QSignalSpy spy{&view, &TerminalView::transmit};
};

} // namespace

class TerminalViewTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void construction()
    {
        TerminalView view;
        QCOMPARE(view.cols(), 120);
        QCOMPARE(view.rows(), 32);
        QCOMPARE(view.focusPolicy(), Qt::WheelFocus);
        QVERIFY(view.testAttribute(Qt::WA_InputMethodEnabled));
        QCOMPARE(view.minimumHeight(), 90);
        QCOMPARE(view.toolTip(), QStringLiteral("滚轮查看历史 · Ctrl + 滚轮调整字号"));
        QScrollBar* bar = view.findChild<QScrollBar*>(QStringLiteral("terminalHistoryScroll"));
        QVERIFY(bar);
        QCOMPARE(bar->focusPolicy(), Qt::NoFocus);
        QVERIFY(!view.interactive);
        QVERIFY(view.blockCursor && view.copyShortcut && view.pasteShortcut && view.rightClickPaste);
        QVERIFY(!view.keyboardSelection);
    }

    void gridFollowsWidget()
    {
        TerminalView view;
        QSignalSpy sizes(&view, &TerminalView::gridSizeChanged);
        setGrid(view, 30, 5);
        QCOMPARE(view.cols(), 30);
        QCOMPARE(view.rows(), 5);
        QCOMPARE(sizes.count(), 1);
        QCOMPARE(sizes.at(0).at(0).toSize(), QSize(30, 5));
        view.resizeGrid();
        QCOMPARE(sizes.count(), 1);
        view.setMinimumHeight(0);
        view.resize(10, 10);
        view.resizeGrid();
        QCOMPARE(view.cols(), 2);
        QCOMPARE(view.rows(), 1);
        view.resize(100000, 100000);
        view.resizeGrid();
        QCOMPARE(view.cols(), 500);
        QCOMPARE(view.rows(), 200);
    }

    void shrinkingPushesIntoHistory()
    {
        Fixture f(20, 6);
        f.view.feed("1\r\n2\r\n3\r\n4\r\n5\r\n6");
        setGrid(f.view, 20, 3);
        QCOMPARE(f.view.text(), QStringLiteral("4\n5\n6"));
        QCOMPARE(f.view.screen().historyRows(), 3);
        QCOMPARE(f.view.historyScrollBar()->maximum(), 3);
        QCOMPARE(f.view.historyScrollBar()->value(), 3);
        f.view.feed("\x1b[H");
        setGrid(f.view, 20, 2);
        QCOMPARE(f.view.text(), QStringLiteral("4\n5"));
        QCOMPARE(f.view.screen().historyRows(), 3);
    }

    void textTakesWideCharactersOnce()
    {
        Fixture f(10, 2);
        f.view.feed("  \xe4\xb8\xad\xe6\x96\x87x  \r\nb");
        QCOMPARE(f.view.text(), QStringLiteral("\u4e2d\u6587x\nb"));
        QCOMPARE(f.view.visibleText(), QStringLiteral("  \u4e2d\u6587x\nb"));
    }

    void resetDecoders()
    {
        Fixture f(10, 2);
        f.view.reset(QStringLiteral("no-such-codec"));
        f.view.feed("\xe4\xb8\xad");
        QCOMPARE(f.view.text(), QStringLiteral("\u4e2d\n"));
        f.view.reset(QStringLiteral("latin-1"));
        QCOMPARE(f.view.text(), QString('\n'));
        f.view.feed("\xe4");
        QCOMPARE(f.view.text().trimmed(), QStringLiteral("\u00e4"));
    }

    void keyTable_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("bytes");
        using M = Qt::KeyboardModifiers;
        const M none = Qt::NoModifier, shift = Qt::ShiftModifier, ctrl = Qt::ControlModifier,
                alt = Qt::AltModifier, meta = Qt::MetaModifier;
        QTest::newRow("up") << int(Qt::Key_Up) << none << QString() << QByteArray("\033[A");
        QTest::newRow("down") << int(Qt::Key_Down) << none << QString() << QByteArray("\033[B");
        QTest::newRow("right") << int(Qt::Key_Right) << none << QString() << QByteArray("\033[C");
        QTest::newRow("left") << int(Qt::Key_Left) << none << QString() << QByteArray("\033[D");
        QTest::newRow("shift up") << int(Qt::Key_Up) << shift << QString() << QByteArray("\033[1;2A");
        QTest::newRow("ctrl alt right") << int(Qt::Key_Right) << M(ctrl | alt) << QString() << QByteArray("\033[1;7C");
        QTest::newRow("meta left") << int(Qt::Key_Left) << meta << QString() << QByteArray("\033[1;9D");
        QTest::newRow("all four down") << int(Qt::Key_Down) << M(shift | ctrl | alt | meta) << QString() << QByteArray("\033[1;16B");
        QTest::newRow("home") << int(Qt::Key_Home) << none << QString() << QByteArray("\033[7~");
        QTest::newRow("ctrl home") << int(Qt::Key_Home) << ctrl << QString() << QByteArray("\033[1;5H");
        QTest::newRow("end") << int(Qt::Key_End) << none << QString() << QByteArray("\033[4~");
        QTest::newRow("shift end") << int(Qt::Key_End) << shift << QString() << QByteArray("\033[1;2F");
        QTest::newRow("page up") << int(Qt::Key_PageUp) << none << QString() << QByteArray("\033[5~");
        QTest::newRow("page down, modifiers ignored") << int(Qt::Key_PageDown) << M(ctrl | alt) << QString() << QByteArray("\033[6~");
        QTest::newRow("alt insert") << int(Qt::Key_Insert) << alt << QString() << QByteArray("\033[2~");
        QTest::newRow("backtab") << int(Qt::Key_Backtab) << shift << QString() << QByteArray("\033[Z");
        QTest::newRow("tab") << int(Qt::Key_Tab) << none << QString("\t") << QByteArray("\t");
        QTest::newRow("shift tab") << int(Qt::Key_Tab) << shift << QString() << QByteArray("\033[Z");
        QTest::newRow("return") << int(Qt::Key_Return) << none << QString("\r") << QByteArray("\r");
        QTest::newRow("shift return") << int(Qt::Key_Return) << shift << QString("\r") << QByteArray("\r");
        QTest::newRow("enter") << int(Qt::Key_Enter) << M(Qt::KeypadModifier) << QString("\r") << QByteArray("\r");
        QTest::newRow("backspace") << int(Qt::Key_Backspace) << none << QString("\b") << QByteArray("\x7f");
        QTest::newRow("delete") << int(Qt::Key_Delete) << none << QString() << QByteArray("\033[3~");
        QTest::newRow("escape") << int(Qt::Key_Escape) << none << QString("\x1b") << QByteArray("\033");
        QTest::newRow("ctrl a") << int(Qt::Key_A) << ctrl << QString("\x01") << QByteArray("\x01");
        QTest::newRow("ctrl z") << int(Qt::Key_Z) << ctrl << QString("\x1a") << QByteArray("\x1a");
        QTest::newRow("ctrl alt d") << int(Qt::Key_D) << M(ctrl | alt) << QString() << QByteArray("\x04");
        QTest::newRow("alt a: text alone") << int(Qt::Key_A) << alt << QString("a") << QByteArray("a");
        QTest::newRow("letter") << int(Qt::Key_Q) << none << QString("q") << QByteArray("q");
        QTest::newRow("chinese text") << int(Qt::Key_unknown) << none << QString("\u4e2d") << QByteArray("\xe4\xb8\xad");
        QTest::newRow("f1 no text") << int(Qt::Key_F1) << none << QString() << QByteArray();
        QTest::newRow("bare shift") << int(Qt::Key_Shift) << shift << QString() << QByteArray();
    }

    void keyTable()
    {
        QFETCH(int, key);
        QFETCH(Qt::KeyboardModifiers, modifiers);
        QFETCH(QString, text);
        QFETCH(QByteArray, bytes);
        Fixture f;
        ::key(f.view, key, modifiers, text);
        QCOMPARE(f.sent(), bytes);
    }

    void notInteractiveSendsNothing()
    {
        Fixture f;
        f.view.interactive = false;
        QKeyEvent press(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, QStringLiteral("a"));
        QApplication::sendEvent(&f.view, &press);
        QVERIFY(!press.isAccepted());
        QApplication::clipboard()->setText(QStringLiteral("x"));
        key(f.view, Qt::Key_V, Qt::ControlModifier | Qt::ShiftModifier);
        mouse(f.view, QEvent::MouseButtonPress, QPointF(30, 30), Qt::RightButton, Qt::RightButton);
        QInputMethodEvent commit;
        commit.setCommitString(QStringLiteral("x"));
        QApplication::sendEvent(&f.view, &commit);
        QVERIFY(!commit.isAccepted());
        QCOMPARE(f.sent(), QByteArray());
    }

    void ctrlCCopiesOrInterrupts()
    {
        Fixture f;
        f.view.feed("hello world");
        key(f.view, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(f.sent(), QByteArray("\x03"));

        selectRow0(f.view, 0, 4);
        QVERIFY(f.view.hasSelection());
        key(f.view, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(f.sent(), QByteArray());
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("hello"));
        QVERIFY(!f.view.hasSelection());
        // Holding the keys does not turn into interrupts.
        key(f.view, Qt::Key_C, Qt::ControlModifier, {}, true);
        key(f.view, Qt::Key_C, Qt::ControlModifier, {}, true);
        QCOMPARE(f.sent(), QByteArray());
        key(f.view, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(f.sent(), QByteArray("\x03"));
        key(f.view, Qt::Key_C, Qt::ControlModifier, {}, true);
        QCOMPARE(f.sent(), QByteArray("\x03"));
    }

    void copyShortcutOptions()
    {
        Fixture f;
        f.view.feed("hello world");
        key(f.view, Qt::Key_C, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(f.sent(), QByteArray());
        selectRow0(f.view, 6, 10);
        key(f.view, Qt::Key_C, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("world"));
        QCOMPARE(f.sent(), QByteArray());
        selectRow0(f.view, 0, 1);
        key(f.view, Qt::Key_Insert, Qt::ControlModifier);
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("he"));
        QCOMPARE(f.sent(), QByteArray());

        f.view.copyShortcut = false;
        selectRow0(f.view, 0, 4);
        key(f.view, Qt::Key_C, Qt::ControlModifier);
        key(f.view, Qt::Key_C, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(f.sent(), QByteArray("\x03\x03"));
        key(f.view, Qt::Key_Insert, Qt::ControlModifier);
        QCOMPARE(f.sent(), QByteArray("\033[2~"));
    }

    void paste()
    {
        Fixture f;
        QApplication::clipboard()->setText(QStringLiteral("ls\n\u4e2d\r\n"));
        key(f.view, Qt::Key_V, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(f.sent(), QByteArray("ls\n\xe4\xb8\xad\r\n"));
        key(f.view, Qt::Key_Insert, Qt::ShiftModifier);
        QCOMPARE(f.sent(), QByteArray("ls\n\xe4\xb8\xad\r\n"));
        mouse(f.view, QEvent::MouseButtonPress, QPointF(30, 30), Qt::RightButton, Qt::RightButton);
        QCOMPARE(f.sent(), QByteArray("ls\n\xe4\xb8\xad\r\n"));

        f.view.pasteShortcut = false;
        f.view.rightClickPaste = false;
        key(f.view, Qt::Key_Insert, Qt::ShiftModifier);
        QCOMPARE(f.sent(), QByteArray("\033[2~"));
        key(f.view, Qt::Key_V, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(f.sent(), QByteArray("\x16"));
        mouse(f.view, QEvent::MouseButtonPress, QPointF(30, 30), Qt::RightButton, Qt::RightButton);
        QCOMPARE(f.sent(), QByteArray());

        f.view.pasteShortcut = true;
        QApplication::clipboard()->clear();
        key(f.view, Qt::Key_Insert, Qt::ShiftModifier);
        QCOMPARE(f.sent(), QByteArray());
    }

    void insertFlipsCursorShape()
    {
        Fixture f;
        QSignalSpy shape(&f.view, &TerminalView::cursorShapeChanged);
        key(f.view, Qt::Key_Insert);
        QCOMPARE(shape.count(), 1);
        QCOMPARE(shape.at(0).at(0).toBool(), false);
        QVERIFY(!f.view.blockCursor);
        key(f.view, Qt::Key_Insert);
        QVERIFY(f.view.blockCursor);
        QCOMPARE(f.sent(), QByteArray());
    }

    void tabKeepsFocus()
    {
        QWidget window;
        auto* layout = new QVBoxLayout(&window);
        auto* edit = new QLineEdit;
        auto* view = new TerminalView;
        layout->addWidget(view);
        layout->addWidget(edit);
        window.resize(600, 400);
        window.show();
        QApplication::setActiveWindow(&window);
        QVERIFY(QTest::qWaitForWindowActive(&window));
        view->interactive = true;
        view->setFocus();
        QTRY_VERIFY(view->hasFocus());
        QSignalSpy spy(view, &TerminalView::transmit);
        QTest::keyClick(view, Qt::Key_Tab);
        QVERIFY(view->hasFocus());
        QTest::keyClick(view, Qt::Key_Backtab, Qt::ShiftModifier);
        QVERIFY(view->hasFocus());
        QCOMPARE(spy.count(), 2);
        QCOMPARE(spy.at(0).at(0).toByteArray(), QByteArray("\t"));
        QCOMPARE(spy.at(1).at(0).toByteArray(), QByteArray("\033[Z"));
        // Painting with the cursor, a selection and preedit text shown.
        view->feed("\x1b[1;31mred\x1b[0m \xe4\xb8\xad\x1b[44m bg");
        QInputMethodEvent preedit(QStringLiteral("pin"), {});
        QApplication::sendEvent(view, &preedit);
        QCOMPARE(view->preeditText(), QStringLiteral("pin"));
        selectRow0(*view, 0, 3);
        QVERIFY(!view->grab().isNull());
        // Without interactive, Tab moves the focus on as usual.
        view->interactive = false;
        QTest::keyClick(view, Qt::Key_Tab);
        QTRY_VERIFY(edit->hasFocus());
    }

    void mouseSelection()
    {
        Fixture f(40, 4);
        f.view.feed("hello world\r\nsecond line");
        selectRow0(f.view, 6, 10);
        QCOMPARE(f.view.selectedText(), QStringLiteral("world"));
        // Backwards over two rows.
        mouse(f.view, QEvent::MouseButtonPress, cellCentre(f.view, 5, 1), Qt::LeftButton, Qt::LeftButton);
        mouse(f.view, QEvent::MouseMove, cellCentre(f.view, 6, 0), Qt::NoButton, Qt::LeftButton);
        QVERIFY(f.view.hasSelection());
        mouse(f.view, QEvent::MouseButtonRelease, cellCentre(f.view, 6, 0), Qt::LeftButton, Qt::NoButton);
        QCOMPARE(f.view.selectedText(), QStringLiteral("world\nsecond"));
        // A click without a drag leaves no selection.
        mouse(f.view, QEvent::MouseButtonPress, cellCentre(f.view, 3, 0), Qt::LeftButton, Qt::LeftButton);
        mouse(f.view, QEvent::MouseButtonRelease, cellCentre(f.view, 3, 0), Qt::LeftButton, Qt::NoButton);
        QVERIFY(!f.view.hasSelection());
        QCOMPARE(f.view.selectedText(), QString());
        // Outside the grid: clamped to the first and the last cells of the view.
        QCOMPARE(f.view.cellAt(QPointF(-50, -50)), QPoint(0, 0));
        QCOMPARE(f.view.cellAt(QPointF(5, 100000)), QPoint(0, 3));
        QCOMPARE(f.view.cellAt(QPointF(100000, 0)), QPoint(39, 0));
    }

    void selectionSkipsContinuationCells()
    {
        Fixture f(40, 4);
        f.view.feed("a\xe4\xb8\xad" "b");
        selectRow0(f.view, 0, 3);
        QCOMPARE(f.view.selectedText(), QStringLiteral("a\u4e2d" "b"));
    }

    void keyboardSelectionDeletesInput()
    {
        Fixture left(40, 4);
        left.view.keyboardSelection = true;
        left.view.feed("$ abc");
        for (int i = 0; i < 3; ++i)
            key(left.view, Qt::Key_Left, Qt::ShiftModifier);
        QCOMPARE(left.sent(), QByteArray());
        QCOMPARE(left.view.selectedText(), QStringLiteral("abc"));
        key(left.view, Qt::Key_Backspace);
        QCOMPARE(left.sent(), QByteArray("\x7f\x7f\x7f"));
        QVERIFY(!left.view.hasSelection());

        Fixture right(40, 4);
        right.view.keyboardSelection = true;
        right.view.feed("$ abc\x1b[3D");
        for (int i = 0; i < 3; ++i)
            key(right.view, Qt::Key_Right, Qt::ShiftModifier);
        QCOMPARE(right.view.selectedText(), QStringLiteral("abc"));
        key(right.view, Qt::Key_Delete);
        QCOMPARE(right.sent(), QByteArray("\033[3~\033[3~\033[3~"));

        // Code points, not code units: one DEL for a character outside the BMP.
        Fixture wide(40, 4);
        wide.view.keyboardSelection = true;
        wide.view.feed("\xf0\x9f\x98\x80");
        key(wide.view, Qt::Key_Left, Qt::ShiftModifier);
        QCOMPARE(wide.view.selectedText(), QString::fromUtf8("\xf0\x9f\x98\x80"));
        key(wide.view, Qt::Key_Backspace);
        QCOMPARE(wide.sent(), QByteArray("\x7f"));
    }

    void keyboardSelectionMoves()
    {
        Fixture f(40, 4);
        f.view.keyboardSelection = true;
        f.view.feed("first line\r\n$ echo foo_bar, baz");
        key(f.view, Qt::Key_Left, Qt::ShiftModifier | Qt::ControlModifier);
        QCOMPARE(f.view.selectedText(), QStringLiteral("baz"));
        key(f.view, Qt::Key_Left, Qt::ShiftModifier | Qt::ControlModifier);
        QCOMPARE(f.view.selectedText(), QStringLiteral(", baz"));
        key(f.view, Qt::Key_Left, Qt::ShiftModifier | Qt::ControlModifier);
        QCOMPARE(f.view.selectedText(), QStringLiteral("foo_bar, baz"));
        key(f.view, Qt::Key_Home, Qt::ShiftModifier);
        QCOMPARE(f.view.selectedText(), QStringLiteral("$ echo foo_bar, baz"));
        key(f.view, Qt::Key_Up, Qt::ShiftModifier);
        QCOMPARE(f.view.selectedText(), QStringLiteral("first line\n$ echo foo_bar, baz"));
        key(f.view, Qt::Key_End, Qt::ShiftModifier);
        QCOMPARE(f.view.selectedText(), QStringLiteral("\n$ echo foo_bar, baz"));
        // The selection runs over two rows: it cannot be deleted on the input line.
        key(f.view, Qt::Key_Home, Qt::ShiftModifier | Qt::ControlModifier);
        key(f.view, Qt::Key_Backspace);
        QCOMPARE(f.sent(), QByteArray());
        QVERIFY(f.view.hasSelection());
        key(f.view, Qt::Key_Escape);
        QVERIFY(!f.view.hasSelection());
        QCOMPARE(f.sent(), QByteArray());
        // Shift+Up selects instead of sending when the option is on.
        key(f.view, Qt::Key_Up, Qt::ShiftModifier);
        QVERIFY(f.view.hasSelection());
        QCOMPARE(f.sent(), QByteArray());
        // Ctrl+Shift+Right stops at the content end.
        key(f.view, Qt::Key_Escape);
        key(f.view, Qt::Key_Right, Qt::ShiftModifier | Qt::ControlModifier);
        QVERIFY(!f.view.hasSelection());
    }

    void mouseSelectionInHistoryCannotBeDeleted()
    {
        Fixture f(40, 3);
        f.view.keyboardSelection = true;
        f.view.feed("old output\r\n\r\n\r\n\r\n$ ");
        f.view.historyScrollBar()->setValue(0);
        selectRow0(f.view, 0, 2);
        QCOMPARE(f.view.selectedText(), QStringLiteral("old"));
        key(f.view, Qt::Key_Backspace);
        QCOMPARE(f.sent(), QByteArray());
        QVERIFY(f.view.hasSelection());

        f.view.keyboardSelection = false;
        key(f.view, Qt::Key_Backspace);
        QCOMPARE(f.sent(), QByteArray("\x7f"));
        QVERIFY(!f.view.hasSelection());
        // A key that sends brings the view back to the live screen.
        QCOMPARE(f.view.historyScrollBar()->value(), f.view.historyScrollBar()->maximum());
    }

    void wheelScrollsHistory()
    {
        Fixture f(20, 3);
        QSignalSpy zoom(&f.view, &TerminalView::zoomRequested);
        QByteArray lines;
        for (int i = 0; i < 20; ++i)
            lines += "line " + QByteArray::number(i) + "\r\n";
        f.view.feed(lines);
        QScrollBar* bar = f.view.historyScrollBar();
        QCOMPARE(bar->maximum(), 18);
        QVERIFY(bar->isVisibleTo(&f.view));
        wheel(f.view, 120);
        QCOMPARE(bar->value(), 15);
        QCOMPARE(f.view.visibleText(), QStringLiteral("line 15\nline 16\nline 17"));
        wheel(f.view, -120);
        QCOMPARE(bar->value(), 18);
        wheel(f.view, 0, Qt::NoModifier, 40);
        QVERIFY(bar->value() < 18);
        wheel(f.view, 120, Qt::ControlModifier);
        wheel(f.view, -120, Qt::ControlModifier);
        QCOMPARE(zoom.count(), 2);
        QCOMPARE(zoom.at(0).at(0).toInt(), 1);
        QCOMPARE(zoom.at(1).at(0).toInt(), -1);
        // Output while scrolled back does not move the view.
        bar->setValue(5);
        const QString shown = f.view.visibleText();
        f.view.feed("more\r\n");
        QCOMPARE(bar->value(), 5);
        QCOMPARE(f.view.visibleText(), shown);
        // On the alternate screen the wheel scrolls nothing.
        f.view.feed("\x1b[?1049h");
        QCOMPARE(bar->maximum(), 0);
        wheel(f.view, 120);
        QCOMPARE(bar->value(), 0);
        f.view.feed("\x1b[?1049l");
        QCOMPARE(bar->value(), 5);
        QCOMPARE(f.view.visibleText(), shown);
    }

    void fullHistoryKeepsViewAndSelection()
    {
        Fixture f(20, 3);
        QByteArray lines;
        for (int i = 0; i < 10010; ++i)
            lines += "n" + QByteArray::number(i) + "\r\n";
        f.view.feed(lines);
        QCOMPARE(f.view.screen().historyRows(), 10000);
        QScrollBar* bar = f.view.historyScrollBar();
        bar->setValue(100);
        const QString shown = f.view.visibleText();
        selectRow0(f.view, 0, 4);
        const QString selected = f.view.selectedText();
        f.view.feed("a\r\nb\r\n");
        QCOMPARE(bar->value(), 98);
        QCOMPARE(f.view.visibleText(), shown);
        QCOMPARE(f.view.selectedText(), selected);
        // A selection on the oldest line goes when that line goes.
        bar->setValue(0);
        selectRow0(f.view, 0, 3);
        QVERIFY(f.view.hasSelection());
        f.view.feed("c\r\n");
        QVERIFY(!f.view.hasSelection());
        f.view.feed("\x1b[3J");
        QCOMPARE(f.view.screen().historyRows(), 0);
        QCOMPARE(bar->maximum(), 0);
    }

    void hiddenViewPaintsNothing()
    {
        // As on a page: the view behind the log view in a stack, in a shown window.
        QWidget window;
        auto* layout = new QVBoxLayout(&window);
        auto* stack = new QStackedWidget;
        auto* front = new QWidget;
        auto* view = new TerminalView;
        stack->addWidget(front);
        stack->addWidget(view);
        layout->addWidget(stack);
        window.resize(700, 400);
        stack->setCurrentWidget(view);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        PaintCounter viewPaints(view, QEvent::Paint);
        PaintCounter barPaints(view->historyScrollBar(), QEvent::Paint);
        PaintCounter requests(&window, QEvent::UpdateRequest);
        auto* blink = view->findChild<QTimer*>(QStringLiteral("terminalBlink"));
        QVERIFY(blink);
        QTRY_VERIFY(viewPaints.count > 0);
        QVERIFY(blink->isActive());

        stack->setCurrentWidget(front);
        QVERIFY(!view->isVisible());
        QVERIFY(!blink->isActive());
        QTRY_VERIFY(requests.count > 0);   // the front page painted; then all is still
        QCoreApplication::processEvents();
        viewPaints.count = barPaints.count = requests.count = 0;

        QByteArray chunk;
        for (int i = 0; chunk.size() < 4096; ++i)
            chunk += "\x1b[3" + QByteArray::number(i % 8) + "mline " + QByteArray::number(i)
                     + " \xe4\xb8\xad\xe6\x96\x87\x1b[0m\r\n";
        for (int i = 0; i < 400; ++i) {
            view->feed(chunk);
            QCoreApplication::processEvents();
        }
        QCOMPARE(view->screen().historyRows(), vn::TerminalScreen::kHistoryLimit);
        QCOMPARE(viewPaints.count, 0);
        QCOMPARE(barPaints.count, 0);
        QCOMPARE(requests.count, 0);
        QVERIFY(!blink->isActive());

        // Shown again, it paints what it kept, following the live screen.
        stack->setCurrentWidget(view);
        QTRY_VERIFY(viewPaints.count > 0);
        QScrollBar* bar = view->historyScrollBar();
        QCOMPARE(bar->value(), bar->maximum());
        QCOMPARE(bar->geometry(), QRect(view->width() - 14, 0, 14, view->height()));
        QVERIFY(view->visibleText().contains(QStringLiteral("line ")));
        QVERIFY(blink->isActive());
    }

    void inputMethod()
    {
        Fixture f;
        QInputMethodEvent preedit(QStringLiteral("ni"), {});
        QApplication::sendEvent(&f.view, &preedit);
        QCOMPARE(f.view.preeditText(), QStringLiteral("ni"));
        QInputMethodEvent commit;
        commit.setCommitString(QStringLiteral("你好"));
        QApplication::sendEvent(&f.view, &commit);
        QCOMPARE(f.sent(), QByteArray("\xe4\xbd\xa0\xe5\xa5\xbd"));
        QCOMPARE(f.view.preeditText(), QString());
        QCOMPARE(f.view.inputMethodQuery(Qt::ImEnabled).toBool(), true);
        f.view.feed("abc\r\nd");
        QCOMPARE(f.view.inputMethodQuery(Qt::ImCursorPosition).toInt(), 1 * f.view.cols() + 1);
        const QRectF r = f.view.inputMethodQuery(Qt::ImCursorRectangle).toRectF();
        QVERIFY(r.x() > 16 && r.y() > 12 && r.width() >= 2);
    }

private:
    static void selectRow0(TerminalView& view, int from, int to)
    {
        mouse(view, QEvent::MouseButtonPress, cellCentre(view, from, 0), Qt::LeftButton, Qt::LeftButton);
        mouse(view, QEvent::MouseMove, cellCentre(view, to, 0), Qt::NoButton, Qt::LeftButton);
        mouse(view, QEvent::MouseButtonRelease, cellCentre(view, to, 0), Qt::LeftButton, Qt::NoButton);
    }
};

QTEST_MAIN(TerminalViewTest)
#include "TerminalViewTest.moc"
