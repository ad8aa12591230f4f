#include "ui/views/LogView.h"

#include "ui/views/AnsiState.h"

#include <QAbstractTextDocumentLayout>
#include <QRegularExpression>
#include <QApplication>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <QWheelEvent>

using vn::LogView;
using vn::SearchFilter;

namespace {

QJsonObject journalEvent(const QString& direction, const QByteArray& bytes, const QString& peer = {},
                  const QString& time = QStringLiteral("2026-01-02T03:04:05.678Z"))
{
    return QJsonObject{{"direction", direction},
                       {"peer", peer},
                       {"hex", QString::fromLatin1(bytes.toHex(' '))},
                       {"time", time},
                       {"size", bytes.size()}};
}

QJsonObject status(const QString& message)
{
    return QJsonObject{{"direction", "status"}, {"hex", ""}, {"message", message},
                       {"time", "2026-01-02T03:04:05.678Z"}};
}

// The view lays its rows out only while it is seen, a bounded piece per turn
// of the event loop: shows it and lets it catch up.
void settle(LogView& view)
{
    if (!view.isVisible())
        view.show();
    QVERIFY(QTest::qWaitFor([&view] { return view.isRendered(); }, 30000));
}

// The rows as the document shows them; they are the rows the view holds.
QStringList lines(LogView& view)
{
    settle(view);
    QStringList out;
    for (QTextBlock b = view.document()->begin(); b.isValid(); b = b.next())
        out.append(b.text());
    if (view.lines().isEmpty())
        out.removeAll(QString());
    // A rendering that strays from the rows fails every comparison made with it.
    if (out.join(u'\n') != view.plainText())
        return QStringList{QStringLiteral("the document differs from the rows held")};
    return out;
}

QStringList shownRows(const LogView& view);

QStringList visibleLines(LogView& view)
{
    settle(view);
    QStringList out;
    for (QTextBlock b = view.document()->begin(); b.isValid(); b = b.next()) {
        if (b.isVisible())
            out.append(b.text());
    }
    if (out != shownRows(view))
        return QStringList{QStringLiteral("the document shows other rows than the filter lets through")};
    return out;
}

// The rows held that the filter lets through, as the search reads them.
QStringList shownRows(const LogView& view)
{
    QStringList out;
    for (int index = 0; index < view.lines().size(); ++index) {
        if (view.lines().isShown(view.lines().at(index)))
            out.append(view.lines().at(index).text);
    }
    return out;
}

// The format of the character at a position of a block's text.
QTextCharFormat formatAt(const QTextBlock& block, int position)
{
    for (auto it = block.begin(); !it.atEnd(); ++it) {
        const QTextFragment f = it.fragment();
        const int start = f.position() - block.position();
        if (position >= start && position < start + f.length())
            return f.charFormat();
    }
    return {};
}

SearchFilter plain(const QString& text)
{
    SearchFilter f;
    f.text = text;
    f.compile();
    return f;
}

struct Fixture {
    Fixture()
    {
        view.timestamps = false;
        view.resize(500, 300);
    }
    LogView view;
};

// The bytes as one rx event, and split in two at each given position, give
// the expected lines.
void expectLines(const QByteArray& bytes, const QList<qsizetype>& splits, const QStringList& expected)
{
    Fixture f;
    f.view.feed(journalEvent("rx", bytes));
    QCOMPARE(lines(f.view), expected);
    for (const qsizetype at : splits) {
        Fixture g;
        g.view.feed(journalEvent("rx", bytes.left(at)));
        g.view.feed(journalEvent("rx", bytes.mid(at)));
        QCOMPARE(lines(g.view), expected);
    }
}

} // namespace

class LogViewTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void construction()
    {
        LogView view;
        QCOMPARE(view.objectName(), QStringLiteral("monitor"));
        QVERIFY(view.isReadOnly());
        QCOMPARE(view.document()->maximumBlockCount(), 4000);
        QCOMPARE(view.horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
        QCOMPARE(view.wordWrapMode(), QTextOption::WrapAtWordBoundaryOrAnywhere);
        QVERIFY(view.timestamps && view.follow && !view.hexMode);
        QCOMPARE(view.encoding, QStringLiteral("utf-8"));
        view.setWrapping(false);
        QCOMPARE(view.lineWrapMode(), QTextEdit::NoWrap);
        QCOMPARE(view.horizontalScrollBarPolicy(), Qt::ScrollBarAsNeeded);
        view.setWrapping(true);
        QCOMPARE(view.lineWrapMode(), QTextEdit::WidgetWidth);
    }

    void prefix()
    {
        LogView view;
        view.feed(journalEvent("rx", "hi\n", "COM1"));
        view.feed(status("已连接"));
        view.feed(journalEvent("tx", "go\r\n"));
        QCOMPARE(lines(view), (QStringList{"03:04:05.678  RX    COM1  hi", "03:04:05.678  STATUS已连接",
                                           "03:04:05.678  TX    go"}));
        view.timestamps = false;
        view.feed(journalEvent("rx", "x\n"));
        QCOMPARE(lines(view).last(), QStringLiteral("RX    x"));
    }

    void textSplitOverEvents()
    {
        Fixture f;
        f.view.feed(journalEvent("rx", "ab"));
        f.view.feed(journalEvent("rx", "c\r"));
        f.view.feed(journalEvent("rx", "\nd\n"));
        QCOMPARE(lines(f.view), (QStringList{"RX    abc", "RX    d"}));
        // The prefix keeps the time of the event that opened the line.
        LogView timed;
        timed.feed(journalEvent("rx", "a", {}, "2026-01-02T10:00:00.000Z"));
        timed.feed(journalEvent("rx", "b\n", {}, "2026-01-02T11:00:00.000Z"));
        QCOMPARE(lines(timed), QStringList{"10:00:00.000  RX    ab"});
        // A character split between events is decoded whole.
        Fixture utf;
        utf.view.feed(journalEvent("rx", "\xe6\xb8"));
        utf.view.feed(journalEvent("rx", "\xa9\n"));
        QCOMPARE(lines(utf.view), QStringList{"RX    \u6e29"});
    }

    void lineEnds_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("lf") << QByteArray("a\nb\n") << QStringList{"RX    a", "RX    b"};
        QTest::newRow("cr") << QByteArray("a\rb\r") << QStringList{"RX    a", "RX    b"};
        QTest::newRow("crlf once") << QByteArray("a\r\nb") << QStringList{"RX    a", "RX    b"};
        QTest::newRow("lf lf empty line") << QByteArray("a\n\nb") << QStringList{"RX    a", "RX    ", "RX    b"};
        QTest::newRow("lf cr two") << QByteArray("a\n\rb") << QStringList{"RX    a", "RX    ", "RX    b"};
        QTest::newRow("tab kept, bell dropped") << QByteArray("a\tb\x07" "c") << QStringList{"RX    a\tbc"};
        QTest::newRow("sgr hidden") << QByteArray("\x1b[31mred\x1b[0m") << QStringList{"RX    red"};
        QTest::newRow("other csi hidden") << QByteArray("a\x1b[2Jb\x1b[10;3Hc") << QStringList{"RX    abc"};
        QTest::newRow("osc hidden") << QByteArray("a\x1b]0;title\x07" "b\x1b]2;t\x1b\\c") << QStringList{"RX    abc"};
        QTest::newRow("designation shows B") << QByteArray("a\x1b(Bc") << QStringList{"RX    aBc"};
        QTest::newRow("long csi dropped") << QByteArray("\x1b[" + QByteArray(140, '1') + "mX")
                                          << QStringList{"RX    " + QString(140 - 127, u'1') + "mX"};
    }

    void lineEnds()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, expected);
        // Split at every byte into two events: the same lines.
        QList<qsizetype> splits;
        for (qsizetype at = 1; at < bytes.size(); ++at)
            splits.append(at);
        expectLines(bytes, splits, expected);
    }

    void oversizedOsc()
    {
        Fixture f;
        f.view.feed(journalEvent("rx", "\x1b]0;" + QByteArray(5000, 'x')));
        QCOMPARE(lines(f.view), QStringList{"RX    " + QString(5000 - 4093, u'x')});
    }

    void peersAndDirectionsInterleave()
    {
        Fixture f;
        f.view.feed(journalEvent("rx", "one", "A"));
        f.view.feed(journalEvent("rx", "two", "B"));
        f.view.feed(journalEvent("rx", "-more", "A"));
        f.view.feed(journalEvent("tx", "sent"));
        f.view.feed(journalEvent("rx", "-more\n", "B"));
        f.view.feed(journalEvent("rx", "-end\nnext\n", "A"));
        QCOMPARE(lines(f.view), (QStringList{"RX    A  one-more-end", "RX    B  two-more", "TX    sent",
                                             "RX    A  next"}));
        QCOMPARE(f.view.streamCount(), 3);
    }

    void colours()
    {
        Fixture f;
        f.view.feed(journalEvent("rx", "a\x1b[31mb\x1b[1;44mc\x1b[0md\n"));
        f.view.feed(journalEvent("tx", "t\n"));
        f.view.feed(status("s"));
        settle(f.view);
        const QTextBlock rx = f.view.document()->firstBlock();
        const int p = 6;   // after "RX    "
        QCOMPARE(formatAt(rx, 0).foreground().color(), f.view.theme.muted);
        QCOMPARE(formatAt(rx, p).foreground().color(), f.view.theme.text);
        QCOMPARE(formatAt(rx, p + 1).foreground().color(), vn::ansiColor(1));
        QCOMPARE(formatAt(rx, p + 2).foreground().color(), vn::ansiColor(1));
        QCOMPARE(formatAt(rx, p + 2).background().color(), vn::ansiColor(4));
        QCOMPARE(formatAt(rx, p + 2).fontWeight(), int(QFont::Bold));
        QCOMPARE(formatAt(rx, p + 3).foreground().color(), f.view.theme.text);
        QCOMPARE(formatAt(rx, p + 3).fontWeight(), int(QFont::Normal));
        QCOMPARE(formatAt(rx, p + 3).background().style(), Qt::NoBrush);
        const QTextBlock tx = rx.next();
        QCOMPARE(formatAt(tx, p).foreground().color(), f.view.theme.accent);
        QCOMPARE(formatAt(tx.next(), p).foreground().color(), f.view.theme.amber);
        // Streams keep their own attributes.
        Fixture g;
        g.view.feed(journalEvent("rx", "\x1b[32m", "A"));
        g.view.feed(journalEvent("rx", "b\n", "B"));
        g.view.feed(journalEvent("rx", "a\n", "A"));
        settle(g.view);
        QCOMPARE(formatAt(g.view.document()->firstBlock(), 9).foreground().color(), g.view.theme.text);
        QCOMPARE(formatAt(g.view.document()->lastBlock(), 9).foreground().color(), vn::ansiColor(2));
    }

    void hexMode()
    {
        Fixture f;
        f.view.hexMode = true;
        f.view.feed(journalEvent("rx", "\x01\xab\n"));
        f.view.feed(journalEvent("tx", "AT"));
        f.view.feed(journalEvent("rx", ""));
        QCOMPARE(lines(f.view), (QStringList{"RX    01 AB 0A", "TX    41 54"}));
        f.view.feed(status("ok"));
        QCOMPARE(lines(f.view).last(), QStringLiteral("STATUSok"));
    }

    void streamResetAndEncoding()
    {
        Fixture f;
        f.view.feed(journalEvent("rx", "half \xe4"));
        f.view.encoding = QStringLiteral("latin-1");
        f.view.feed(journalEvent("rx", "\xe4\n"));   // the stream keeps its UTF-8 decoder
        QVERIFY(lines(f.view).first().startsWith(QStringLiteral("RX    half \ufffd")));
        QJsonObject reset = journalEvent("rx", "\xe4\n");
        reset.insert("stream_reset", true);
        f.view.feed(reset);
        QCOMPARE(lines(f.view).last(), QStringLiteral("RX    \u00e4"));
        f.view.encoding = QStringLiteral("no-such-codec");
        f.view.reset();
        QVERIFY(f.view.document()->isEmpty());
        QCOMPARE(f.view.streamCount(), 0);
        f.view.feed(journalEvent("rx", "\xe4\xb8\xad\n"));
        QCOMPARE(lines(f.view), QStringList{"RX    \u4e2d"});
    }

    void lineLimit()
    {
        Fixture f;
        QByteArray many;
        for (int i = 0; i < 4001; ++i)
            many += "L" + QByteArray::number(i) + "\n";
        f.view.feed(journalEvent("rx", many));
        settle(f.view);
        QCOMPARE(f.view.document()->blockCount(), 4000);
        QCOMPARE(lines(f.view).first(), QStringLiteral("RX    L1"));
        QCOMPARE(lines(f.view).last(), QStringLiteral("RX    L4000"));
    }

    void removedOpenLineStartsANewOne_data()
    {
        QTest::addColumn<bool>("tickBetween");
        QTest::newRow("same tick") << false;
        QTest::newRow("next tick") << true;
    }
    void removedOpenLineStartsANewOne()
    {
        // Peer A keeps a line open at the top while B pushes it out of the limit.
        QFETCH(bool, tickBetween);
        Fixture f;
        f.view.feed(journalEvent("rx", "A-open", "A"));
        settle(f.view);
        QByteArray many;
        for (int i = 0; i < 4100; ++i)
            many += "B" + QByteArray::number(i) + "\n";
        f.view.feed(journalEvent("rx", many, "B"));
        if (tickBetween) {
            settle(f.view);
            QVERIFY(!lines(f.view).contains(QStringLiteral("RX    A  A-open")));
        }
        f.view.feed(journalEvent("rx", "-continued\n", "A"));
        settle(f.view);
        QCOMPARE(f.view.document()->blockCount(), 4000);
        QCOMPARE(lines(f.view).last(), QStringLiteral("RX    A  -continued"));
        QCOMPARE(lines(f.view).at(3998), QStringLiteral("RX    B  B4099"));
        for (const QString& line : lines(f.view).mid(0, 3999))
            QVERIFY2(line.startsWith(QStringLiteral("RX    B  B")), qPrintable(line));
    }

    void limitKeepsVisibilityOfRemainingLines()
    {
        Fixture f;
        f.view.setFilter(plain(QStringLiteral("keep")));
        QByteArray many;
        for (int i = 0; i < 4000; ++i)
            many += (i % 2 ? "keep " : "drop ") + QByteArray::number(i) + "\n";
        f.view.feed(journalEvent("rx", many));
        for (int extra = 0; extra < 3; ++extra) {
            f.view.feed(journalEvent("rx", "keep more\n"));
            settle(f.view);
            for (QTextBlock b = f.view.document()->begin(); b.isValid(); b = b.next())
                QCOMPARE(b.isVisible(), b.text().contains(QStringLiteral("keep")));
        }
    }

    void trimmingKeepsTheFirstRowsVisibility()
    {
        // Rows leave the top while the filter hides some: the row that becomes
        // the first keeps its own visibility, not that of the row it replaces.
        Fixture f;
        f.view.setFilter(plain(QStringLiteral("keep")));
        f.view.feed(journalEvent("rx", "keep first\n"));
        settle(f.view);
        for (int round = 0; round < 4; ++round) {
            QByteArray many;
            for (int i = 0; i < 1500; ++i)
                many += (i % 3 ? "drop " : "keep ") + QByteArray::number(round * 1500 + i) + "\n";
            f.view.feed(journalEvent("rx", many));
            const QStringList shown = visibleLines(f.view);
            QVERIFY2(!shown.isEmpty() && shown.first().startsWith(QStringLiteral("RX    keep")), qPrintable(shown.value(0)));
            QCOMPARE(f.view.document()->firstBlock().isVisible(), f.view.lines().isShown(f.view.lines().at(0)));
        }
    }

    void endlessLineGoesOnInBoundedLines()
    {
        // 1 MiB without a line break, 4 KiB an event and an event a tick, as a
        // device that never ends its line reaches the page; a filter is set.
        // Each 16-byte piece is 15 characters, so lines end inside events.
        const QByteArray piece("0123456789ABCD\xc3\xa9");
        QByteArray bytes = piece.repeated(65536);
        bytes.replace(100 * 4096 + 1600, 6, "NEEDLE");
        const QString text = QString::fromUtf8(bytes);
        Fixture f;
        f.view.setFilter(plain(QStringLiteral("NEEDLE")));
        for (qsizetype at = 0; at < bytes.size(); at += 4096) {
            f.view.feed(journalEvent("rx", bytes.mid(at, 4096), "COM1"));
            settle(f.view);
        }
        const QStringList all = lines(f.view);
        QCOMPARE(all.size(), int(text.size() / LogView::kMaxLineLength));
        QString kept;
        for (qsizetype index = 0; index < all.size(); ++index) {
            const QString& line = all.at(index);
            QCOMPARE(line.size(), 12 + LogView::kMaxLineLength);
            QCOMPARE(line.left(12), index == 0 ? QStringLiteral("RX    COM1  ") : QStringLiteral("RX+   COM1  "));
            kept += line.mid(12);
        }
        QCOMPARE(kept, text);
        const QStringList shown = visibleLines(f.view);
        QCOMPARE(shown.size(), 1);
        QVERIFY(shown.first().contains(QStringLiteral("NEEDLE")));
        f.view.setFilter(SearchFilter());
        QCOMPARE(visibleLines(f.view).size(), all.size());
        // The line end closes the line where it stands; the next one starts afresh.
        f.view.feed(journalEvent("rx", "\nnext\n", "COM1"));
        QCOMPARE(lines(f.view).size(), all.size() + 1);
        QCOMPARE(lines(f.view).last(), QStringLiteral("RX    COM1  next"));
    }

    void lineBound_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("expected");
        const int bound = int(LogView::kMaxLineLength);
        const QString full(bound, u'a');
        QTest::newRow("at the bound") << QByteArray(bound, 'a') + "\nc\n" << QStringList{"RX    " + full, "RX    c"};
        QTest::newRow("one past") << QByteArray(bound + 1, 'a')
                                  << QStringList{"RX    " + full, "RX+   a"};
        QTest::newRow("twice over") << QByteArray(2 * bound + 2, 'a') + "\rb"
                                    << QStringList{"RX    " + full, "RX+   " + full, "RX+   aa", "RX    b"};
        QTest::newRow("surrogate pair kept whole")
            << QByteArray(bound - 1, 'a') + "\xf0\x9f\x98\x80" "b"
            << QStringList{"RX    " + QString(bound - 1, u'a') + QString::fromUtf8("\xf0\x9f\x98\x80"), "RX+   b"};
    }

    void lineBound()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, expected);
        // Split into two events around the bound: the same lines.
        const qsizetype bound = LogView::kMaxLineLength;
        expectLines(bytes, {bound - 1, bound, bound + 1}, expected);
    }

    void continuationKeepsStreamAndColour()
    {
        LogView view;
        view.feed(journalEvent("rx", "\x1b[31m" + QByteArray(LogView::kMaxLineLength, 'r'), "A",
                               "2026-01-02T10:00:00.000Z"));
        view.feed(journalEvent("rx", "other\n", "B", "2026-01-02T10:30:00.000Z"));
        view.feed(journalEvent("rx", "s\n", "A", "2026-01-02T11:00:00.000Z"));
        const QStringList all = lines(view);
        QCOMPARE(all.size(), 3);
        QCOMPARE(all.at(1), QStringLiteral("10:30:00.000  RX    B  other"));
        // The continuation carries the time of the event that continued it.
        QCOMPARE(all.at(2), QStringLiteral("11:00:00.000  RX+   A  s"));
        QCOMPARE(formatAt(view.document()->lastBlock(), 23).foreground().color(), vn::ansiColor(1));
    }

    void paragraphSeparatorStaysInLine()
    {
        Fixture f;
        f.view.feed(journalEvent("rx", "a\xe2\x80\xa9" "b\n"));
        f.view.feed(journalEvent("rx", "c\n"));
        QCOMPARE(lines(f.view), (QStringList{"RX    a\ufffd" "b", "RX    c"}));
    }

    void filterHidesAndShows()
    {
        Fixture f;
        f.view.setFilter(plain(QStringLiteral("error")));
        f.view.feed(journalEvent("rx", "all fine\n"));
        f.view.feed(journalEvent("rx", "an "));
        QCOMPARE(visibleLines(f.view), QStringList());
        f.view.feed(journalEvent("rx", "error here\n"));
        QCOMPARE(visibleLines(f.view), QStringList{"RX    an error here"});
        // The prefix is part of what is matched.
        f.view.setFilter(plain(QStringLiteral("RX    all")));
        QCOMPARE(visibleLines(f.view), QStringList{"RX    all fine"});
        // Hidden lines take no space.
        const QTextBlock hidden = f.view.document()->lastBlock();
        QVERIFY(!hidden.isVisible());
        QApplication::processEvents();
        QCOMPARE(f.view.document()->documentLayout()->blockBoundingRect(hidden).height(), 0.0);
        f.view.setFilter(SearchFilter());
        QCOMPARE(visibleLines(f.view).size(), 2);
        // A broken filter lets everything through.
        SearchFilter broken;
        broken.text = QStringLiteral("(");
        broken.regex = true;
        broken.compile();
        f.view.setFilter(broken);
        QCOMPARE(visibleLines(f.view).size(), 2);
    }

    void filterKeepsScrollWithoutFollow()
    {
        LogView view;
        view.resize(400, 200);
        view.show();
        QByteArray many;
        for (int i = 0; i < 300; ++i)
            many += "line " + QByteArray::number(i) + (i % 2 ? " odd" : " even") + "\n";
        view.feed(journalEvent("rx", many));
        settle(view);
        QScrollBar* bar = view.verticalScrollBar();
        QTRY_VERIFY(bar->maximum() > 0);
        QCOMPARE(bar->value(), bar->maximum());
        view.follow = false;
        bar->setValue(bar->maximum() / 3);
        const int kept = bar->value();
        view.feed(journalEvent("rx", "new\n"));
        settle(view);
        QCOMPARE(bar->value(), kept);
        view.setFilter(plain(QStringLiteral("odd")));
        view.setFilter(SearchFilter());
        QCOMPARE(bar->value(), kept);
        view.follow = true;
        view.feed(journalEvent("rx", "x\n"));
        settle(view);
        QCOMPARE(bar->value(), bar->maximum());
        // The placeholder and the text paint without trouble.
        QVERIFY(!view.grab().isNull());
        // A paint before the rendering has caught up paints the document as it stands.
        view.feed(journalEvent("rx", "painted early\n"));
        QVERIFY(!view.grab().isNull());
        QCOMPARE(bar->value(), bar->maximum());
        settle(view);
        QCOMPARE(bar->value(), bar->maximum());
        view.reset();
        QVERIFY(!view.grab().isNull());
        view.resize(400, 120);
        QVERIFY(!view.grab().isNull());
    }

    // --- Rendering only what is seen ------------------------------------------

    void hiddenViewLaysNothingOut_data()
    {
        QTest::addColumn<bool>("shownBefore");
        QTest::newRow("never shown") << false;
        QTest::newRow("hidden after being shown") << true;
    }
    void hiddenViewLaysNothingOut()
    {
        QFETCH(bool, shownBefore);
        LogView view;
        view.resize(600, 400);
        if (shownBefore) {
            view.feed(journalEvent("rx", "before\n", "P0"));
            settle(view);
            view.hide();
        }
        const quint64 laidOutBefore = view.rowsLaidOut();
        QSignalSpy changes(view.document(), &QTextDocument::contentsChange);
        // 100,000 lines from three peers, every seventh red, every fifth sent.
        constexpr int kLines = 100000;
        for (int i = 0; i < kLines; i += 100) {
            QByteArray chunk;
            for (int j = i; j < i + 100; ++j)
                chunk += (j % 7 == 0 ? "\x1b[31mred " : "plain ") + QByteArray::number(j) + "\x1b[0m\r\n";
            view.feed(journalEvent(i % 500 == 0 ? "tx" : "rx", chunk, QStringLiteral("P%1").arg(i % 3),
                                   QStringLiteral("2026-01-02T03:04:%1.000Z").arg(i % 60, 2, 10, QLatin1Char('0'))));
            QCoreApplication::processEvents();
        }
        QCOMPARE(changes.count(), 0);
        QCOMPARE(view.rowsLaidOut(), laidOutBefore);
        QCOMPARE(view.lines().size(), LogView::kMaxLines);

        view.show();
        settle(view);
        QCOMPARE(view.document()->blockCount(), LogView::kMaxLines);
        // The rows shown are the newest 4000, laid out once each.
        QCOMPARE(view.rowsLaidOut() - laidOutBefore, quint64(LogView::kMaxLines));
        const QStringList all = lines(view);
        QCOMPARE(all.size(), LogView::kMaxLines);
        for (int index = 0; index < all.size(); index += 397) {
            const int j = kLines - LogView::kMaxLines + index;
            const int event = j - j % 100;
            const QString prefix = QStringLiteral("03:04:%1.000  %2    P%3  ")
                                       .arg(event % 60, 2, 10, QLatin1Char('0'))
                                       .arg(event % 500 == 0 ? "TX" : "RX")
                                       .arg(event % 3);
            QCOMPARE(all.at(index), prefix + (j % 7 == 0 ? "red " : "plain ") + QString::number(j));
            const QTextBlock block = view.document()->findBlockByNumber(index);
            QCOMPARE(formatAt(block, 0).foreground().color(), view.theme.muted);
            const QColor expected = j % 7 == 0 ? vn::ansiColor(1) : event % 500 == 0 ? view.theme.accent : view.theme.text;
            QCOMPARE(formatAt(block, int(prefix.size())).foreground().color(), expected);
        }
        QCOMPARE(all.last(), QStringLiteral("03:04:00.000  RX    P0  plain 99999"));
    }

    void burstIsLaidOutOnlyWhereItSurvives()
    {
        // A turn that brings far more than the view keeps lays out only the
        // rows that stay.
        Fixture f;
        f.view.show();
        settle(f.view);
        QByteArray many;
        for (int i = 0; i < 30000; ++i)
            many += "row " + QByteArray::number(i) + "\n";
        f.view.feed(journalEvent("rx", many));
        settle(f.view);
        QVERIFY2(f.view.rowsLaidOut() <= quint64(LogView::kMaxLines), qPrintable(QString::number(f.view.rowsLaidOut())));
        QCOMPARE(lines(f.view).first(), QStringLiteral("RX    row 26000"));
        QCOMPARE(lines(f.view).last(), QStringLiteral("RX    row 29999"));
    }

    void filterIsWorkedOutWhileHidden()
    {
        // A hidden view keeps its filter's verdicts to itself until shown;
        // what it holds still answers the search.
        LogView view;
        view.setFilter(plain(QStringLiteral("needle")));
        for (int i = 0; i < 50; ++i)
            view.feed(journalEvent("rx", i == 20 ? "a needle here\n" : "hay\n"));
        QCOMPARE(shownRows(view), QStringList{"03:04:05.678  RX    a needle here"});
        QVERIFY(view.document()->isEmpty());
        QCOMPARE(visibleLines(view), QStringList{"03:04:05.678  RX    a needle here"});
    }

    // --- The stream bound -------------------------------------------------------

    void streamsOfIdlePeersAreDropped()
    {
        Fixture f;
        int most = 0;
        for (int peer = 0; peer < 10000; ++peer) {
            if (peer == 9000)
                f.view.feed(journalEvent("rx", "start-\xe4\xb8", "keeper"));
            f.view.feed(journalEvent("rx", "x\n", QStringLiteral("10.0.0.1:%1").arg(peer)));
            most = std::max(most, f.view.streamCount());
        }
        QVERIFY2(most <= LogView::kMaxStreams, qPrintable(QString::number(most)));
        // The keeper's line is still held: it goes on where it stood, the
        // character split between its events whole.
        f.view.feed(journalEvent("rx", "\xad-end\n", "keeper"));
        QVERIFY(f.view.streamCount() <= LogView::kMaxStreams);
        const QStringList all = lines(f.view);
        QVERIFY(all.contains(QString::fromUtf8("RX    keeper  start-\xe4\xb8\xad-end")));
        QCOMPARE(all.count(QStringLiteral("RX    keeper  ")), 0);
        // A peer whose stream went starts afresh: a new line, a new decoder.
        f.view.feed(journalEvent("rx", "again\n", QStringLiteral("10.0.0.1:0")));
        QCOMPARE(lines(f.view).last(), QStringLiteral("RX    10.0.0.1:0  again"));
    }

    // --- Matching across continuation rows ------------------------------------

    void matchAcrossRows_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<bool>("hex");
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<bool>("regex");
        QTest::addColumn<QList<int>>("shown");   // row numbers of the line shown
        const int bound = int(LogView::kMaxLineLength);
        const QByteArray needle = QByteArray(bound - 3, 'x') + "NEEDLE-1 tail";
        QTest::newRow("text boundary") << needle << false << QStringLiteral("NEEDLE-1") << false << QList<int>{0, 1};
        QTest::newRow("within the second row") << needle << false << QStringLiteral("tail") << false << QList<int>{1};
        QTest::newRow("within the first row") << needle << false << QStringLiteral("xxxNEE") << false << QList<int>{0};
        QByteArray tokens;
        for (int i = 0; tokens.size() < 2 * 1024 * 1024; ++i)
            tokens += "a" + QByteArray::number(i).rightJustified(8, '0') + " ";
        QTest::newRow("2 MiB of tokens, across") << tokens << false << QStringLiteral("a00000409") << false << QList<int>{0, 1};
        QTest::newRow("2 MiB of tokens, before") << tokens << false << QStringLiteral("a00000408") << false << QList<int>{0};
        QTest::newRow("2 MiB of tokens, far on") << tokens << false << QStringLiteral("a00150000") << false
                                                 << QList<int>{366};
        const QByteArray wide = QByteArray(1000, 'a') + QByteArray(bound, 'b') + QByteArray(900, 'c');
        QTest::newRow("a 4096-character match") << wide << false << QStringLiteral("ab{4096}c") << true << QList<int>{0, 1};
        // In hex each byte takes three characters, so the first row ends after
        // byte 1364 ("4C 30 "), and "37" begins the next one.
        QByteArray bytes(3000, '\0');
        bytes.replace(1363, 4, "\x4c\x30\x37\x41");
        QTest::newRow("hex boundary") << bytes << true << QStringLiteral("4C 30 37") << false << QList<int>{0, 1};
        QTest::newRow("hex, one byte") << bytes << true << QStringLiteral("41") << false << QList<int>{1};
    }
    void matchAcrossRows()
    {
        QFETCH(QByteArray, line);
        QFETCH(bool, hex);
        QFETCH(QString, pattern);
        QFETCH(bool, regex);
        QFETCH(QList<int>, shown);
        Fixture f;
        f.view.hexMode = hex;
        SearchFilter filter = plain(pattern);
        filter.regex = regex;
        filter.compile();
        f.view.setFilter(filter);
        f.view.feed(journalEvent("rx", "before\n", "B"));
        // The line arrives in 4 KiB events, another peer's line in between.
        for (qsizetype at = 0; at < line.size(); at += 4096) {
            f.view.feed(journalEvent("rx", line.mid(at, 4096), "A"));
            if (at == 4096)
                f.view.feed(journalEvent("rx", "other\n", "B"));
        }
        f.view.feed(journalEvent("rx", "\n", "A"));
        QList<int> rows;
        int row = 0;
        for (int index = 0; index < f.view.lines().size(); ++index) {
            const vn::LogLine& each = f.view.lines().at(index);
            if (!each.text.contains(QStringLiteral("  A  ")))
                continue;
            if (hex) {
                // Rows are cut only between bytes.
                QCOMPARE(each.content().size() % 3, each.next >= 0 ? 0 : 2);
                QVERIFY(each.content().first(2).toString().contains(QRegularExpression("^[0-9A-F]{2}$")));
            }
            if (f.view.lines().isShown(each))
                rows.append(row);
            ++row;
        }
        QCOMPARE(rows, shown);
        // The rendering follows (laying out megabytes is left to the benchmarks).
        if (line.size() < 65536) {
            QCOMPARE(visibleLines(f.view).size(), shown.size());
            // Without the filter every row is shown again.
            f.view.setFilter(SearchFilter());
            QCOMPARE(visibleLines(f.view).size(), f.view.lines().size());
        }
    }

    // --- Notices -------------------------------------------------------------------

    void noticeIsExemptFromTheFilter()
    {
        Fixture f;
        f.view.setFilter(plain(QStringLiteral("wanted")));
        f.view.feed(journalEvent("rx", "half a li"));
        f.view.markGap(QStringLiteral("部分旧数据已被历史缓冲区覆盖 · 12 字节未显示"));
        f.view.feed(journalEvent("rx", "ne\n"));
        const QStringList shown = visibleLines(f.view);
        QCOMPARE(shown.size(), 1);
        QVERIFY(shown.first().endsWith(QStringLiteral("STATUS部分旧数据已被历史缓冲区覆盖 · 12 字节未显示")));
        // The streams start afresh after it: the half line is not joined.
        QCOMPARE(lines(f.view), (QStringList{"RX    half a li", shown.first(), "RX    ne"}));
        const QTextBlock notice = f.view.document()->findBlockByNumber(1);
        QCOMPARE(formatAt(notice, int(notice.text().indexOf(u'部'))).foreground().color(), f.view.theme.amber);
    }

    void ctrlWheelZooms()
    {
        LogView view;
        QSignalSpy zoom(&view, &LogView::zoomRequested);
        QWheelEvent up(QPointF(5, 5), QPointF(5, 5), QPoint(), QPoint(0, 240), Qt::NoButton,
                       Qt::ControlModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(view.viewport(), &up);
        QCOMPARE(zoom.count(), 1);
        QCOMPARE(zoom.at(0).at(0).toInt(), 2);
        QVERIFY(up.isAccepted());
    }
};

QTEST_MAIN(LogViewTest)
#include "LogViewTest.moc"
