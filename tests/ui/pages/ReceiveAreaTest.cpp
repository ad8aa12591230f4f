// What a session page's receive area does when it cannot show everything:
// the history overwrote what it had not read, its backlog outgrew its views,
// or its terminal fell behind. It says so where no filter hides it and the
// next events do not push it away, in the log and in the terminal alike, and
// it never wipes a page for another channel's traffic.

#include "PageFixture.h"

#include "ui/pages/ReceiveArea.h"
#include "ui/pages/TerminalFeed.h"
#include "ui/views/FilterBox.h"
#include "ui/views/LogView.h"
#include "ui/views/TerminalView.h"

#include <QLabel>
#include <QLocale>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTextBlock>
#include <QTextDocument>

using namespace vn;
using namespace vn::test;

namespace {

void received(Engine& engine, const QString& channelId, const QByteArray& data)
{
    engine.journal.append(channelId, QStringLiteral("rx"), data, QString(), QString(), false, QStringLiteral("serial"));
}

QString missingText(qint64 bytes, const QString& reason)
{
    return QLocale(QLocale::Chinese, QLocale::China).toString(bytes) + QStringLiteral(" 字节未显示 · ") + reason;
}

QLabel* banner(Pane* page)
{
    return page->findChild<QLabel*>(QStringLiteral("receiveMissing"));
}

// The page reads until it has caught up with the journal.
void drain(Pane* page, const Journal& journal)
{
    for (int tick = 0; tick < 10000 && page->receiveArea()->readCursor < journal.lastSeq; ++tick)
        page->tick(true);
}

QStringList shownBlocks(LogView* log)
{
    QStringList out;
    for (QTextBlock block = log->document()->begin(); block.isValid(); block = block.next()) {
        if (block.isVisible())
            out.append(block.text());
    }
    return out;
}

struct Page {
    PageFixture fixture;
    Channel* channel = nullptr;
    Pane* page = nullptr;

    Page()
    {
        page = fixture.open(loopback(), &channel);
        // The test ticks the page itself.
        fixture.window->findChild<QTimer*>(QStringLiteral("tickTimer"))->stop();
        page->tick(true);
    }
    Journal& journal() { return fixture.engine.journal; }
    ReceiveArea* area() { return page->receiveArea(); }
};

} // namespace

class ReceiveAreaTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void gapIsMarkedInBothViews_data()
    {
        QTest::addColumn<bool>("terminal");
        QTest::newRow("log view, filtered") << false;
        QTest::newRow("terminal view") << true;
    }
    void gapIsMarkedInBothViews()
    {
        QFETCH(bool, terminal);
        Page p;
        p.page->filterBox()->restore(QJsonObject{{QStringLiteral("text"), QStringLiteral("wanted")}});
        if (terminal)
            p.page->setTerminal(true);
        received(p.fixture.engine, p.channel->id, "wanted before\r\n");
        p.page->tick(true);
        QVERIFY(banner(p.page)->isHidden());

        // The page's own events are overwritten before it reads them.
        const qint64 seen = p.area()->readBytes;
        for (int index = 0; index < Journal::MaxEvents + 100; ++index)
            received(p.fixture.engine, p.channel->id, "n" + QByteArray::number(index) + "\n");
        p.page->tick(true);
        const qint64 lost = p.journal().tally(p.channel->id).droppedBytes - seen;
        QVERIFY(lost > 0);
        const QString text = missingText(lost, QStringLiteral("部分旧数据已被历史缓冲区覆盖"));
        QVERIFY(banner(p.page)->isVisible());
        QCOMPARE(banner(p.page)->text(), text);
        LogView* log = p.page->logView();
        const QString line = QStringLiteral("部分旧数据已被历史缓冲区覆盖 · ") + QLocale(QLocale::Chinese, QLocale::China).toString(lost)
            + QStringLiteral(" 字节未显示");
        QCOMPARE(log->plainText().count(line), 1);
        if (!terminal) {
            // No filter hides the notice.
            QTRY_VERIFY(log->isRendered());
            const QStringList shown = shownBlocks(log);
            QCOMPARE(shown.size(), 2);
            QVERIFY(shown.last().endsWith(line));
        }

        // The next events push the line out of the log; the mark stays.
        drain(p.page, p.journal());
        for (int index = 0; index < LogView::kMaxLines + 10; ++index)
            received(p.fixture.engine, p.channel->id, "more " + QByteArray::number(index) + "\n");
        drain(p.page, p.journal());
        QVERIFY(!log->plainText().contains(line));
        QVERIFY(banner(p.page)->isVisible());
        QCOMPARE(banner(p.page)->text(), text);
        // The other view says the same of itself.
        p.page->setTerminal(!terminal);
        QVERIFY(banner(p.page)->isVisible());
        QCOMPARE(banner(p.page)->text(), text);

        // Until the view is cleared.
        p.page->clearView();
        QVERIFY(banner(p.page)->isHidden());
        QCOMPARE(p.area()->logMissing, 0);
        QCOMPARE(p.area()->terminalMissing, 0);
    }

    void anotherChannelsTrafficLeavesAnIdlePage()
    {
        Page p;
        p.page->setTerminal(true);
        received(p.fixture.engine, p.channel->id, "user@host:~$ ls\r\nfile1  file2\r\nuser@host:~$ ");
        p.page->tick(true);
        QVERIFY(p.page->terminalView()->text().contains(QStringLiteral("file1  file2")));
        const qint64 logRows = p.page->logView()->lines().size();

        // Another channel pushes every event of this one out of the history.
        for (int index = 0; index < Journal::MaxEvents + 500; ++index)
            received(p.fixture.engine, QStringLiteral("elsewhere"), QByteArray(300, 'z'));
        QVERIFY(p.journal().events.front().first.value(QStringLiteral("seq")).toInteger() > p.area()->readCursor + 1);
        p.page->tick(true);
        QVERIFY(p.page->terminalView()->text().contains(QStringLiteral("file1  file2")));
        QCOMPARE(p.page->logView()->lines().size(), logRows);
        QVERIFY(!p.page->logView()->plainText().contains(QStringLiteral("部分旧数据")));
        QVERIFY(banner(p.page)->isHidden());

        // A drop of its own is a gap: the views start afresh and say so.
        received(p.fixture.engine, p.channel->id, "unread\r\n");
        for (int index = 0; index < Journal::MaxEvents + 500; ++index)
            received(p.fixture.engine, QStringLiteral("elsewhere"), QByteArray(300, 'z'));
        p.page->tick(true);
        QVERIFY(!p.page->terminalView()->text().contains(QStringLiteral("file1  file2")));
        QVERIFY(banner(p.page)->isVisible());
        QCOMPARE(banner(p.page)->text(), missingText(8, QStringLiteral("部分旧数据已被历史缓冲区覆盖")));
        QCOMPARE(p.page->logView()->plainText().count(QStringLiteral("部分旧数据已被历史缓冲区覆盖 · 8 字节未显示")), 1);
    }

    void aPageOpenedAfterOthersTrafficStartsWithoutANotice()
    {
        PageFixture fixture;
        for (int index = 0; index < Journal::MaxEvents + 500; ++index)
            received(fixture.engine, QStringLiteral("elsewhere"), "z\n");
        Channel* channel = nullptr;
        Pane* page = fixture.open(loopback(), &channel);
        page->tick(true);
        QVERIFY(!page->logView()->plainText().contains(QStringLiteral("部分旧数据")));
        QVERIFY(banner(page)->isHidden());
    }

    void backlogBeyondTheViewsGoesOnFromTheNewest_data()
    {
        QTest::addColumn<int>("linesPerEvent");
        QTest::addColumn<int>("lineBytes");
        QTest::addColumn<bool>("logMissesSome");
        // What is kept makes fewer rows than the log holds: the log says so.
        QTest::newRow("long lines") << 1 << 2600 << true;
        // What is kept fills the log: what was skipped would have left it anyway.
        QTest::newRow("short lines") << 10 << 100 << false;
    }
    void backlogBeyondTheViewsGoesOnFromTheNewest()
    {
        QFETCH(int, linesPerEvent);
        QFETCH(int, lineBytes);
        QFETCH(bool, logMissesSome);
        Page p;
        const qint64 seen = p.area()->readBytes;
        int line = 0;
        QByteArray last;
        while (p.journal().tally(p.channel->id).bytes - seen < 3 * 1024 * 1024) {
            QByteArray event;
            for (int index = 0; index < linesPerEvent; ++index, ++line) {
                last = "L" + QByteArray::number(line).rightJustified(6, '0') + ' ';
                last += QByteArray(lineBytes - 2 - last.size(), '.');
                event += last + "\r\n";
            }
            received(p.fixture.engine, p.channel->id, event);
        }
        const qint64 cursor = p.journal().cursorForNewest(p.channel->id, ReceiveArea::kKeptBytes);
        const qint64 skipped = p.journal().bytesThrough(p.channel->id, cursor) - seen;
        p.page->tick(true);
        drain(p.page, p.journal());
        const QString reason = QStringLiteral("积压超过视图能保留的数据，已跳到最新数据");
        const QString text = p.page->logView()->plainText();
        QVERIFY(text.endsWith(QString::fromLatin1(last)));
        QVERIFY(!text.contains(QStringLiteral("L000000")));
        QCOMPARE(text.count(reason), logMissesSome ? 1 : 0);
        QCOMPARE(banner(p.page)->isVisible(), logMissesSome);
        QCOMPARE(p.area()->logMissing, logMissesSome ? skipped : 0);
        if (logMissesSome)
            QCOMPARE(banner(p.page)->text(), missingText(skipped, reason));
        // Every line after the jump is there, in order, whole.
        const QStringList rows = text.split(u'\n');
        int expected = line - 1;
        for (qsizetype index = rows.size() - 1; index >= 0 && !rows.at(index).contains(reason); --index, --expected) {
            if (!rows.at(index).contains(QStringLiteral("RX    L")))
                break;
            QVERIFY2(rows.at(index).contains(QStringLiteral("RX    L%1 .").arg(expected, 6, 10, QLatin1Char('0'))),
                     qPrintable(rows.at(index).left(40)));
        }
        QVERIFY(line - 1 - expected >= std::min(LogView::kMaxLines - 2, int(ReceiveArea::kKeptBytes / lineBytes) - 1));
        // The terminal holds far fewer than it was sent: it says so.
        p.page->setTerminal(true);
        QVERIFY(banner(p.page)->isVisible());
        QVERIFY(p.area()->terminalMissing >= skipped);
        QTRY_VERIFY(p.page->logView()->isRendered() || !p.page->logView()->isVisible());
    }

    void hiddenLogLaysNothingOutBehindTheTerminal()
    {
        Page p;
        p.page->setTerminal(true);
        QSignalSpy changes(p.page->logView()->document(), &QTextDocument::contentsChange);
        for (int index = 0; index < 2000; ++index)
            received(p.fixture.engine, p.channel->id, "behind " + QByteArray::number(index) + "\r\n");
        drain(p.page, p.journal());
        QCoreApplication::processEvents();
        QVERIFY(p.page->terminalView()->text().contains(QStringLiteral("behind 1999")));
        QCOMPARE(changes.count(), 0);
        // The log holds them all the same and lays them out when it shows.
        QVERIFY(p.page->logView()->plainText().contains(QStringLiteral("behind 1999")));
        p.page->setTerminal(false);
        QTRY_VERIFY(p.page->logView()->isRendered());
        QVERIFY(p.page->logView()->toPlainText().contains(QStringLiteral("behind 1999")));
    }

    void terminalSkipsToTheNewestLines()
    {
        TerminalView terminal;
        terminal.resize(800, 400);
        TerminalFeed feed(terminal);
        QByteArray all;
        for (int index = 0; all.size() <= TerminalFeed::kMaxWaiting + 40000; ++index)
            all += "line " + QByteArray::number(index).rightJustified(6, '0') + " of the burst\r\n";
        const QByteArray lastLine = all.sliced(all.lastIndexOf('\n', all.size() - 2) + 1).chopped(2);
        feed.add(all.left(1000));
        feed.add(all.mid(1000));
        // The newest bytes, from the start of a line.
        const qsizetype keptFrom = all.indexOf('\n', all.size() - TerminalFeed::kKeptAfterSkip) + 1;
        QCOMPARE(feed.run(0, QStringLiteral("utf-8")), keptFrom);
        for (int turn = 0; turn < 1000 && feed.waiting() > 0; ++turn)
            QCOMPARE(feed.run(0, QStringLiteral("utf-8")), qsizetype(0));
        QCOMPARE(feed.waiting(), qsizetype(0));
        QVERIFY(terminal.text().contains(QString::fromLatin1(lastLine)));
        QVERIFY(!terminal.text().contains(QStringLiteral("line 000000")));
        // Below the bound nothing is skipped.
        feed.add("quiet\r\n");
        QCOMPARE(feed.run(0, QStringLiteral("utf-8")), qsizetype(0));
        QVERIFY(terminal.text().contains(QStringLiteral("quiet")));
    }
};

QTEST_MAIN(ReceiveAreaTest)
#include "ReceiveAreaTest.moc"
