#include "TerminalTestSupport.h"

#include "ui/views/AnsiState.h"

#include <QTest>

using vn::TerminalCell;
using vn::TerminalLine;
using vn::TerminalScreen;
using vn::ansiColor;
using vn::test::Term;

namespace {

bool sameCells(const TerminalScreen& a, const TerminalScreen& b)
{
    if (a.lines() != b.lines() || a.cursor() != b.cursor() || a.pendingWrap() != b.pendingWrap()
        || a.history().size() != b.history().size() || !(a.attributes() == b.attributes())
        || a.alternateScreen() != b.alternateScreen())
        return false;
    for (size_t i = 0; i < a.history().size(); ++i) {
        if (a.history()[i] != b.history()[i])
            return false;
    }
    return true;
}

QByteArray esc(const char* s)
{
    return QByteArray(s);
}

} // namespace

class TerminalScreenTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void startState()
    {
        TerminalScreen screen;
        QCOMPARE(screen.cols(), 120);
        QCOMPARE(screen.rows(), 32);
        QCOMPARE(screen.cursor(), QPoint(0, 0));
        QVERIFY(screen.autowrap());
        QVERIFY(screen.cursorVisible());
        QVERIFY(!screen.alternateScreen());
        QVERIFY(screen.history().empty());
        QCOMPARE(screen.lines().size(), 32);
        for (const TerminalLine& line : screen.lines()) {
            QCOMPARE(line.size(), 120);
            for (const TerminalCell& cell : line)
                QVERIFY(cell == TerminalScreen::blankCell());
        }
    }

    void streams_data()
    {
        QTest::addColumn<int>("cols");
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QString>("screen");
        QTest::addColumn<QPoint>("cursor");
        QTest::addColumn<bool>("pendingWrap");

        // Controls.
        QTest::newRow("cr overwrites") << 10 << esc("ab\rX") << "Xb" << QPoint(1, 0) << false;
        QTest::newRow("lf keeps column") << 10 << esc("a\nb") << "a\n b" << QPoint(2, 1) << false;
        QTest::newRow("crlf") << 10 << esc("a\r\nb") << "a\nb" << QPoint(1, 1) << false;
        QTest::newRow("backspace") << 10 << esc("ab\b\b\bX") << "Xb" << QPoint(1, 0) << false;
        QTest::newRow("tab 0 to 8") << 20 << esc("\tx") << "        x" << QPoint(9, 0) << false;
        QTest::newRow("tab 8 to 16") << 20 << esc("\t\tx") << "                x" << QPoint(17, 0) << false;
        QTest::newRow("tab stops at last col") << 10 << esc("\t\t\tx") << "         x" << QPoint(9, 0) << true;
        QTest::newRow("other c0 ignored") << 10 << esc("a\x07\x01\x0e\x0f""b") << "ab" << QPoint(2, 0) << false;
        // Wrapping.
        QTest::newRow("exactly cols") << 5 << esc("abcde") << "abcde" << QPoint(4, 0) << true;
        QTest::newRow("wraps on next") << 5 << esc("abcdef") << "abcde\nf" << QPoint(1, 1) << false;
        QTest::newRow("cr cancels wrap") << 5 << esc("abcde\rX") << "Xbcde" << QPoint(1, 0) << false;
        QTest::newRow("sgr keeps wrap") << 5 << esc("abcde\x1b[1mf") << "abcde\nf" << QPoint(1, 1) << false;
        QTest::newRow("cursor move clears wrap") << 5 << esc("abcde\x1b[Cf") << "abcdf" << QPoint(4, 0) << true;
        QTest::newRow("autowrap off") << 5 << esc("\x1b[?7labcdefg") << "abcdg" << QPoint(4, 0) << false;
        QTest::newRow("autowrap back on") << 5 << esc("\x1b[?7l\x1b[?7habcdef") << "abcde\nf" << QPoint(1, 1) << false;
        // Wide characters.
        QTest::newRow("wide") << 10 << esc("\xe4\xb8\xad" "a") << "\u4e2da" << QPoint(3, 0) << false;
        QTest::newRow("wide meets last col") << 5 << esc("abcd\xe4\xb8\xad") << "abcd\n\u4e2d" << QPoint(2, 1) << false;
        QTest::newRow("wide, autowrap off") << 5 << esc("\x1b[?7labcd\xe4\xb8\xad") << "abcd\u4e2d" << QPoint(4, 0) << false;
        QTest::newRow("wide fills last two") << 5 << esc("abc\xe4\xb8\xad") << "abc\u4e2d" << QPoint(4, 0) << true;
        QTest::newRow("outside bmp") << 10 << esc("\xf0\x9f\x98\x80!") << QString::fromUtf8("\xf0\x9f\x98\x80!") << QPoint(5, 0) << false;
        QTest::newRow("full-width form") << 10 << esc("\xef\xbc\xa1") << "\uff21" << QPoint(2, 0) << false;
        // Cursor movement.
        QTest::newRow("up clamps") << 10 << esc("\n\n\x1b[5A") << "" << QPoint(0, 0) << false;
        QTest::newRow("down clamps") << 10 << esc("\x1b[9B") << "" << QPoint(0, 3) << false;
        QTest::newRow("right clamps") << 10 << esc("\x1b[99C") << "" << QPoint(9, 0) << false;
        QTest::newRow("left") << 10 << esc("abcd\x1b[2D") << "abcd" << QPoint(2, 0) << false;
        QTest::newRow("left default 1") << 10 << esc("abcd\x1b[D") << "abcd" << QPoint(3, 0) << false;
        QTest::newRow("next line") << 10 << esc("ab\x1b[2E") << "ab" << QPoint(0, 2) << false;
        QTest::newRow("previous line") << 10 << esc("\n\n\nab\x1b[F") << "\n\n\nab" << QPoint(0, 2) << false;
        QTest::newRow("column") << 10 << esc("\x1b[5Gx") << "    x" << QPoint(5, 0) << false;
        QTest::newRow("column 0 is 1") << 10 << esc("abc\x1b[0Gx") << "xbc" << QPoint(1, 0) << false;
        QTest::newRow("home") << 10 << esc("abc\x1b[H") << "abc" << QPoint(0, 0) << false;
        QTest::newRow("home 0;0") << 10 << esc("abc\n\x1b[0;0H") << "abc" << QPoint(0, 0) << false;
        QTest::newRow("position clamps") << 10 << esc("\x1b[3;200H") << "" << QPoint(9, 2) << false;
        QTest::newRow("position f") << 10 << esc("\x1b[2;3fx") << "\n  x" << QPoint(3, 1) << false;
        QTest::newRow("row only") << 10 << esc("ab\x1b[3H") << "ab" << QPoint(0, 2) << false;
        QTest::newRow("vertical position") << 10 << esc("ab\x1b[3dx") << "ab\n\n  x" << QPoint(3, 2) << false;
        // Erasing.
        QTest::newRow("erase display keeps cursor") << 10 << esc("abc\n\x1b[2J") << "" << QPoint(3, 1) << false;
        QTest::newRow("erase below") << 10 << esc("abc\r\ndef\r\nghi\x1b[2;2H\x1b[J") << "abc\nd" << QPoint(1, 1) << false;
        QTest::newRow("erase above") << 10 << esc("abc\r\ndef\r\nghi\x1b[2;2H\x1b[1J") << "\n  f\nghi" << QPoint(1, 1) << false;
        QTest::newRow("erase display 4 nothing") << 10 << esc("abc\x1b[4J") << "abc" << QPoint(3, 0) << false;
        QTest::newRow("erase line right") << 10 << esc("abcdef\x1b[3D\x1b[K") << "abc" << QPoint(3, 0) << false;
        QTest::newRow("erase line left") << 10 << esc("abcdef\x1b[3D\x1b[1K") << "    ef" << QPoint(3, 0) << false;
        QTest::newRow("erase line all") << 10 << esc("abcdef\x1b[2K") << "" << QPoint(6, 0) << false;
        QTest::newRow("insert chars") << 10 << esc("abcdef\x1b[4G\x1b[2@") << "abc  def" << QPoint(3, 0) << false;
        QTest::newRow("insert pushes off") << 6 << esc("abcdef\x1b[2G\x1b[9@") << "a" << QPoint(1, 0) << false;
        QTest::newRow("delete chars") << 10 << esc("abcdef\x1b[2G\x1b[2P") << "adef" << QPoint(1, 0) << false;
        QTest::newRow("erase chars") << 10 << esc("abcdef\x1b[2G\x1b[2X") << "a  def" << QPoint(1, 0) << false;
        // Counts from a hostile or garbled stream: a sign is no number, huge ones cap.
        QTest::newRow("negative insert is default") << 10 << esc("abcdef\x1b[2G\x1b[-25@") << "a bcdef" << QPoint(1, 0) << false;
        QTest::newRow("negative delete is default") << 10 << esc("abcdef\x1b[2G\x1b[-3P") << "acdef" << QPoint(1, 0) << false;
        QTest::newRow("huge count clamps") << 10 << esc("ab\x1b[99999999999C") << "ab" << QPoint(9, 0) << false;
        QTest::newRow("count at int max") << 10 << esc("\x1b[2147483647B\x1b[2147483647A") << "" << QPoint(0, 0) << false;
        // Lines.
        QTest::newRow("insert line") << 10 << esc("1\r\n2\r\n3\x1b[2;1H\x1b[L") << "1\n\n2\n3" << QPoint(0, 1) << false;
        QTest::newRow("insert lines clamp") << 10 << esc("1\r\n2\r\n3\x1b[2;1H\x1b[9L") << "1" << QPoint(0, 1) << false;
        QTest::newRow("delete line") << 10 << esc("1\r\n2\r\n3\x1b[1;1H\x1b[M") << "2\n3" << QPoint(0, 0) << false;
        QTest::newRow("scroll up") << 10 << esc("1\r\n2\r\n3\x1b[S") << "2\n3" << QPoint(1, 2) << false;
        QTest::newRow("scroll down") << 10 << esc("1\r\n2\x1b[T") << "\n1\n2" << QPoint(1, 1) << false;
        QTest::newRow("newline scrolls") << 10 << esc("1\r\n2\r\n3\r\n4\r\n5") << "2\n3\n4\n5" << QPoint(1, 3) << false;
        // Escapes.
        QTest::newRow("save restore esc") << 10 << esc("ab\x1b" "7\x1b[3;5Hx\x1b" "8y") << "aby\n\n    x" << QPoint(3, 0) << false;
        QTest::newRow("save restore csi") << 10 << esc("ab\x1b[s\x1b[3;5Hx\x1b[uy") << "aby\n\n    x" << QPoint(3, 0) << false;
        QTest::newRow("index") << 10 << esc("ab\x1b" "Dc") << "ab\n  c" << QPoint(3, 1) << false;
        QTest::newRow("next line esc") << 10 << esc("ab\x1b" "Ec") << "ab\nc" << QPoint(1, 1) << false;
        QTest::newRow("reverse index at top") << 10 << esc("a\x1bMb") << " b\na" << QPoint(2, 0) << false;
        QTest::newRow("reverse index up") << 10 << esc("a\nb\x1bMc") << "a c\n b" << QPoint(3, 0) << false;
        QTest::newRow("charset designation") << 10 << esc("\x1b(Bab\x1b)0c") << "abc" << QPoint(3, 0) << false;
        QTest::newRow("unknown escape") << 10 << esc("\x1bZab") << "ab" << QPoint(2, 0) << false;
        QTest::newRow("double escape") << 10 << esc("\x1b\x1b" "ab") << "ab" << QPoint(2, 0) << false;
        QTest::newRow("keypad modes") << 10 << esc("\x1b=\x1b>ab") << "ab" << QPoint(2, 0) << false;
        // Sequences this terminal leaves alone.
        QTest::newRow("status report unanswered") << 10 << esc("\x1b[6nab") << "ab" << QPoint(2, 0) << false;
        QTest::newRow("device attributes") << 10 << esc("\x1b[>0cab") << "ab" << QPoint(2, 0) << false;
        QTest::newRow("scroll region ignored") << 10 << esc("ab\x1b[1;2r") << "ab" << QPoint(2, 0) << false;
        QTest::newRow("bracketed paste") << 10 << esc("\x1b[?2004hab\x1b[?2004l") << "ab" << QPoint(2, 0) << false;
        QTest::newRow("plain mode h") << 10 << esc("\x1b[4hab") << "ab" << QPoint(2, 0) << false;
        QTest::newRow("title bel") << 10 << esc("\x1b]0;title\x07" "ab") << "ab" << QPoint(2, 0) << false;
        QTest::newRow("title st") << 10 << esc("\x1b]2;t\x1b\\ab") << "ab" << QPoint(2, 0) << false;
        QTest::newRow("osc with newline") << 10 << esc("\x1b]8;;\nx\x07" "ab") << "ab" << QPoint(2, 0) << false;
        QTest::newRow("controls inside csi") << 10 << esc("a\x1b[\r1Cb") << "a b" << QPoint(3, 0) << false;
        QTest::newRow("cursor hide show") << 10 << esc("\x1b[?25l\x1b[?25hab") << "ab" << QPoint(2, 0) << false;
    }

    void streams()
    {
        QFETCH(int, cols);
        QFETCH(QByteArray, input);
        QFETCH(QString, screen);
        QFETCH(QPoint, cursor);
        QFETCH(bool, pendingWrap);

        Term whole(cols, 4);
        whole.feed(input);
        QCOMPARE(whole.text(), screen);
        QCOMPARE(whole.screen.cursor(), cursor);
        QCOMPARE(whole.screen.pendingWrap(), pendingWrap);

        // The same stream split at every byte, and byte by byte.
        for (int at = 1; at < input.size(); ++at) {
            Term split(cols, 4);
            split.feed(input.left(at));
            split.feed(input.mid(at));
            QVERIFY2(sameCells(split.screen, whole.screen), qPrintable(QString::number(at)));
        }
        Term bytewise(cols, 4);
        for (char c : input)
            bytewise.feed(QByteArray(1, c));
        QVERIFY(sameCells(bytewise.screen, whole.screen));
    }

    void wideCells()
    {
        Term t(10, 2);
        t.feed("\xe4\xb8\xad");
        QCOMPARE(t.cell(0, 0).character, QChar(0x4e2d));
        QVERIFY(!t.cell(0, 0).continuation);
        QVERIFY(t.cell(1, 0).continuation);
        QCOMPARE(t.cell(1, 0).character, QChar(u' '));
        QVERIFY(!t.cell(1, 0).foreground().isValid());
        // Outside the BMP: two surrogates, each double width.
        Term s(10, 2);
        s.feed("\xf0\x9f\x98\x80");
        QVERIFY(s.cell(0, 0).character.isHighSurrogate());
        QVERIFY(s.cell(1, 0).continuation);
        QVERIFY(s.cell(2, 0).character.isLowSurrogate());
        QVERIFY(s.cell(3, 0).continuation);
    }

    void attributes_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QColor>("foreground");
        QTest::addColumn<QColor>("background");
        QTest::addColumn<bool>("bold");
        const QColor none;
        QTest::newRow("default") << esc("X") << none << none << false;
        QTest::newRow("red") << esc("\x1b[31mX") << ansiColor(1) << none << false;
        QTest::newRow("bright green") << esc("\x1b[92mX") << ansiColor(10) << none << false;
        QTest::newRow("bright yellow bg") << esc("\x1b[103mX") << none << ansiColor(11) << false;
        QTest::newRow("bold blue bg") << esc("\x1b[1;44mX") << none << ansiColor(4) << true;
        QTest::newRow("bold off") << esc("\x1b[1m\x1b[22mX") << none << none << false;
        QTest::newRow("default fg") << esc("\x1b[31;41m\x1b[39mX") << none << ansiColor(1) << false;
        QTest::newRow("default bg") << esc("\x1b[31;41m\x1b[49mX") << ansiColor(1) << none << false;
        QTest::newRow("empty resets") << esc("\x1b[1;31;42m\x1b[mX") << none << none << false;
        QTest::newRow("256 red") << esc("\x1b[38;5;196mX") << QColor(255, 0, 0) << none << false;
        QTest::newRow("256 grey") << esc("\x1b[38;5;244mX") << QColor(128, 128, 128) << none << false;
        QTest::newRow("256 cube blue") << esc("\x1b[48;5;21mX") << none << QColor(0, 0, 255) << false;
        QTest::newRow("256 palette") << esc("\x1b[38;5;9mX") << ansiColor(9) << none << false;
        QTest::newRow("256 clamped") << esc("\x1b[38;5;999mX") << QColor(238, 238, 238) << none << false;
        QTest::newRow("true colour clamped") << esc("\x1b[38;2;300;-1;7mX") << QColor(255, 0, 7) << none << false;
        QTest::newRow("true colour bg") << esc("\x1b[48;2;1;2;3mX") << none << QColor(1, 2, 3) << false;
        QTest::newRow("256 too short") << esc("\x1b[31m\x1b[38;5mX") << none << none << false;
        QTest::newRow("38 last") << esc("\x1b[31m\x1b[38mX") << ansiColor(1) << none << false;
        // Too few for true colour: only 38 is used, then 2 and 1 are codes of their own.
        QTest::newRow("true colour too short") << esc("\x1b[31m\x1b[38;2;1;2mX") << none << none << true;
        QTest::newRow("unknown selector") << esc("\x1b[31m\x1b[38;7;1mX") << none << none << true;
        QTest::newRow("ignored codes") << esc("\x1b[3;4;7;9mX") << none << none << false;
        QTest::newRow("split sequence") << esc("\x1b[3") + esc("1mX") << ansiColor(1) << none << false;
    }

    void attributes()
    {
        QFETCH(QByteArray, input);
        QFETCH(QColor, foreground);
        QFETCH(QColor, background);
        QFETCH(bool, bold);
        for (int at = 0; at <= input.size(); ++at) {
            Term t;
            t.feed(input.left(at));
            t.feed(input.mid(at));
            const TerminalCell& cell = t.cell(0, 0);
            QCOMPARE(cell.character, QChar(u'X'));
            QCOMPARE(cell.foreground(), foreground);
            QCOMPARE(cell.background(), background);
            QCOMPARE(cell.bold, bold);
        }
    }

    void ansiPalette()
    {
        QCOMPARE(ansiColor(0), QColor("#263342"));
        QCOMPARE(ansiColor(-4), QColor("#263342"));
        QCOMPARE(ansiColor(15), QColor("#f0f4fa"));
        QCOMPARE(ansiColor(16), QColor(0, 0, 0));
        QCOMPARE(ansiColor(17), QColor(0, 0, 95));
        QCOMPARE(ansiColor(231), QColor(255, 255, 255));
        QCOMPARE(ansiColor(232), QColor(8, 8, 8));
        QCOMPARE(ansiColor(255), QColor(238, 238, 238));
        QCOMPARE(ansiColor(400), QColor(255, 255, 255));
    }

    void eraseUsesBlankCells()
    {
        Term t;
        t.feed("abcdef\x1b[44m\x1b[2J\x1b[1;1H\x1b[K\x1b[L\x1b[3@\x1b[S");
        for (const TerminalLine& line : t.screen.lines()) {
            for (const TerminalCell& cell : line)
                QVERIFY(cell == TerminalScreen::blankCell());
        }
    }

    void oversizedOsc()
    {
        // The OSC is dropped once its buffer passes 4096 code units; the rest prints.
        Term t(500, 4);
        t.feed("\x1b]0;" + QByteArray(5000, 'x'));
        const int printed = 5000 - (4096 - 3);
        QCOMPARE(t.row(0) + t.row(1), QString(printed, u'x'));
        QVERIFY(!t.parser.insideSequence());
    }

    void oversizedCsi()
    {
        Term t(500, 4);
        t.feed("\x1b[" + QByteArray(200, '1') + "m");
        // ESC [ and 127 digits make the 129 code units at which it is dropped.
        QCOMPARE(t.row(0), QString(200 - 127, u'1') + u'm');
        QVERIFY(!t.cell(0, 0).foreground().isValid());
        Term u(10, 2);
        u.feed("\x1b(" "\x1b[" "31mX");   // an unfinished designation swallows the ESC
        QVERIFY(!u.parser.insideSequence());
    }

    void historyLimit()
    {
        Term t(10, 3);
        QByteArray stream;
        for (int i = 0; i < TerminalScreen::kHistoryLimit + 7; ++i)
            stream += "L" + QByteArray::number(i) + "\r\n";
        t.feed(stream);
        QCOMPARE(int(t.screen.history().size()), TerminalScreen::kHistoryLimit);
        // 10005 lines scrolled off; the screen keeps the last two and a blank.
        QCOMPARE(Term::lineText(t.screen.history().front()), QStringLiteral("L5"));
        QCOMPARE(Term::lineText(t.screen.history().back()), QStringLiteral("L10004"));
        QCOMPARE(t.text(), QStringLiteral("L10005\nL10006"));
        QCOMPARE(t.screen.documentRows(), TerminalScreen::kHistoryLimit + 3);
        QCOMPARE(t.screen.documentCell(0, 1).character, QChar(u'5'));
        t.feed("\x1b[3J");
        QVERIFY(t.screen.history().empty());
        QCOMPARE(t.text(), QStringLiteral("L10005\nL10006"));
    }

    void historyKeepsLineContent()
    {
        // A line enters the history as long as its content, whatever the
        // width of the grid it scrolled off.
        Term t(5, 2);
        t.feed("abc\r\n\r\n");
        t.screen.resize(8, 2);
        t.feed("defgh\r\n\r\n");
        QCOMPARE(t.screen.history().size(), size_t(3));
        QCOMPARE(t.screen.history()[0].size(), 3);
        QCOMPARE(t.screen.history()[1].size(), 0);
        QCOMPARE(t.screen.history()[2].size(), 5);
        QCOMPARE(Term::lineText(t.screen.history()[0]), QStringLiteral("abc"));
        QCOMPARE(Term::lineText(t.screen.history()[2]), QStringLiteral("defgh"));
        // Beyond its end a history line reads as blank cells.
        QVERIFY(t.screen.documentCell(0, 3) == TerminalScreen::blankCell());
        QVERIFY(t.screen.documentCell(1, 0) == TerminalScreen::blankCell());
        QCOMPARE(t.screen.documentCell(2, 4).character, QChar(u'h'));
    }

    void alternateScreen()
    {
        Term t(10, 3);
        t.feed("one\r\ntwo\r\nthree\r\nfour");
        QCOMPARE(t.screen.history().size(), size_t(1));
        t.feed("\x1b[2;2H\x1b" "7\x1b[3;4H");
        t.feed("\x1b[?1049h");
        QVERIFY(t.screen.alternateScreen());
        QCOMPARE(t.text(), QString());
        QCOMPARE(t.screen.cursor(), QPoint(0, 0));
        QCOMPARE(t.screen.historyRows(), 0);
        QCOMPARE(t.screen.documentRows(), 3);
        t.feed("a\r\nb\r\nc\r\nd\r\ne\x1b[S");
        QCOMPARE(t.screen.history().size(), size_t(1));   // nothing entered the history
        t.feed("\x1b[?1049h");                           // already on: nothing happens
        QVERIFY(t.text().contains(u'e'));
        t.feed("\x1b[?1049l");
        QVERIFY(!t.screen.alternateScreen());
        QCOMPARE(t.text(), QStringLiteral("two\nthree\nfour"));
        QCOMPARE(t.screen.cursor(), QPoint(3, 2));
        QCOMPARE(t.screen.savedCursor(), QPoint(1, 1));
        QCOMPARE(t.screen.historyRows(), 1);
        // 1047 and 47 switch as well.
        t.feed("\x1b[?47hx\x1b[?47l");
        QCOMPARE(t.text(), QStringLiteral("two\nthree\nfour"));
        t.feed("\x1b[?1047hx");
        QVERIFY(t.screen.alternateScreen());
        t.feed("\x1b[?1047l");
        QVERIFY(!t.screen.alternateScreen());
    }

    void alternateScreenResizedMeanwhile()
    {
        Term t(10, 4);
        t.feed("a\r\nb\r\nc\r\nd");
        t.feed("\x1b[?1049h");
        t.screen.resize(6, 2);
        t.feed("\x1b[?1049l");
        QCOMPARE(t.screen.lines().size(), 2);
        for (const TerminalLine& line : t.screen.lines())
            QCOMPARE(line.size(), 6);
        QCOMPARE(t.text(), QStringLiteral("c\nd"));
        QCOMPARE(t.screen.cursor(), QPoint(1, 1));
    }

    void resizeKeepsCursorRow()
    {
        Term bottom(10, 4);
        bottom.feed("1\r\n2\r\n3\r\n4");
        QVERIFY(bottom.screen.resize(10, 2));
        QCOMPARE(bottom.text(), QStringLiteral("3\n4"));
        QCOMPARE(bottom.screen.history().size(), size_t(2));
        QCOMPARE(bottom.screen.cursor(), QPoint(1, 1));

        Term top(10, 4);
        top.feed("1\r\n2\r\n3\r\n4\x1b[H");
        top.screen.resize(10, 2);
        QCOMPARE(top.text(), QStringLiteral("1\n2"));
        QVERIFY(top.screen.history().empty());

        Term wide(4, 2);
        wide.feed("abcd");
        QVERIFY(wide.screen.pendingWrap());
        wide.screen.resize(8, 2);
        QVERIFY(!wide.screen.pendingWrap());
        QCOMPARE(wide.screen.lines().at(0).size(), 8);
        QVERIFY(!wide.screen.resize(8, 2));

        TerminalScreen clamp(10, 4);
        clamp.resize(1, 0);
        QCOMPARE(clamp.cols(), 2);
        QCOMPARE(clamp.rows(), 1);
        clamp.resize(9999, 9999);
        QCOMPARE(clamp.cols(), 500);
        QCOMPARE(clamp.rows(), 200);
    }

    void decoderKeepsStateAcrossFeeds()
    {
        Term t;
        t.feed("\xe4");
        t.feed("\xb8");
        t.feed("\xad" "x");
        QCOMPARE(t.text(), QStringLiteral("\u4e2dx"));
        Term latin;
        latin.parser.reset(QStringLiteral("latin-1"));
        latin.feed("\xe9");
        QCOMPARE(latin.text(), QStringLiteral("\u00e9"));
        Term unknown;
        unknown.parser.reset(QStringLiteral("no-such-codec"));
        unknown.feed("\xe4\xb8\xad");
        QCOMPARE(unknown.text(), QStringLiteral("\u4e2d"));
        Term bad;
        bad.feed("a\xff" "b");
        QCOMPARE(bad.text(), QStringLiteral("a\ufffd" "b"));
    }

    void resetReturnsToStart()
    {
        Term t(10, 3);
        t.feed("\x1b[31;1mab\r\n\r\n\r\n\r\n\x1b[?7l\x1b[?25l\x1b[?1049h\x1b]0;x");
        t.parser.reset(QStringLiteral("utf-8"));
        t.screen.reset();
        QVERIFY(!t.screen.alternateScreen());
        QVERIFY(t.screen.history().empty());
        QVERIFY(t.screen.autowrap() && t.screen.cursorVisible());
        QCOMPARE(t.screen.cursor(), QPoint(0, 0));
        t.feed("X");
        QCOMPARE(t.text(), QStringLiteral("X"));
        QVERIFY(!t.cell(0, 0).foreground().isValid());
    }
};

QTEST_APPLESS_MAIN(TerminalScreenTest)
#include "TerminalScreenTest.moc"
