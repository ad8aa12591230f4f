#include "core/Fail.h"
#include "core/Journal.h"

#include <QJsonArray>
#include <QRegularExpression>
#include <QTest>

using vn::Journal;

namespace {

void fill(Journal& j, int count, const QString& channel = QStringLiteral("c1"))
{
    for (int i = 0; i < count; ++i)
        j.append(channel, QStringLiteral("rx"), QByteArray("x"), QString(), QString(), false,
                 QStringLiteral("serial"));
}

QString readError(const Journal& j, qint64 after, int limit)
{
    try {
        j.read(after, limit);
    } catch (const std::exception& e) {
        return vn::errorText(e);
    }
    return QString();
}

} // namespace

class JournalTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void eventFormat()
    {
        Journal j;
        const QJsonObject e = j.append(QStringLiteral("c1"), QStringLiteral("rx"), QByteArray("Hi\n"),
                                       QStringLiteral("1.2.3.4:5"), QString(), false, QString());
        QCOMPARE(e.value("seq").toInteger(), 1);
        QCOMPARE(e.value("hex").toString(), QStringLiteral("48 69 0a"));
        QCOMPARE(e.value("text").toString(), QStringLiteral("Hi\n"));
        QCOMPARE(e.value("size").toInteger(), 3);
        QCOMPARE(e.value("peer").toString(), QStringLiteral("1.2.3.4:5"));
        QVERIFY(!e.contains("protocol"));
        QVERIFY(!e.contains("stream_reset"));
        QVERIFY(QRegularExpression(QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}Z$"))
                    .match(e.value("time").toString()).hasMatch());

        const QJsonObject s = j.append(QStringLiteral("c1"), QStringLiteral("status"), QByteArray(),
                                       QString(), QStringLiteral("connected"), true, QStringLiteral("serial"));
        QCOMPARE(s.value("hex").toString(), QString());
        QCOMPARE(s.value("size").toInteger(), 0);
        QCOMPARE(s.value("protocol").toString(), QStringLiteral("serial"));
        QCOMPARE(s.value("stream_reset").toBool(), true);

        const QJsonObject bad = j.append(QStringLiteral("c1"), QStringLiteral("rx"), QByteArray("\xff\x00", 2),
                                         QString(), QString(), false, QString());
        QCOMPARE(bad.value("text").toString(), QString(QChar(0xfffd)) + QChar(0));
        QCOMPARE(bad.value("hex").toString(), QStringLiteral("ff 00"));
        QCOMPARE(j.lastSeq, 3);
    }

    // The counted size must equal the serialized one for every character.
    void sizeMatchesCompactJson()
    {
        Journal j;
        QByteArray all;
        for (int b = 0; b < 256; ++b)
            all.append(char(b));
        QList<QByteArray> payloads{QByteArray(), all, QByteArray("\"\\/\x7f"),
                                   QStringLiteral("中文 ü 😀").toUtf8(), QByteArray("\xed\xa0\x80\xf0\x9f")};
        QString every;
        for (int c = 1; c < 0x10000; ++c)
            every.append(QChar(c));
        payloads.append(every.toUtf8());
        for (const QByteArray& data : payloads) {
            for (bool reset : {false, true}) {
                const QJsonObject e = j.append(QStringLiteral("id\"\n中"), QStringLiteral("rx"), data,
                                               QStringLiteral("::1:80"), QStringLiteral("msg\t"), reset,
                                               reset ? QStringLiteral("serial") : QString());
                QCOMPARE(j.events.back().second, Journal::compactSize(e));
            }
        }
    }

    void emptyRead()
    {
        Journal j;
        const QJsonObject r = j.read(0, 500);
        QCOMPARE(r.value("events").toArray().size(), 0);
        QCOMPARE(r.value("next_cursor").toInteger(), 0);
        QCOMPARE(r.value("latest_cursor").toInteger(), 0);
        QCOMPARE(r.value("oldest_cursor").toInteger(), 1);
        QCOMPARE(r.value("has_more").toBool(), false);
        QCOMPARE(r.value("gap").toBool(), false);
        QCOMPARE(r.value("cursor_reset_required").toBool(), false);
    }

    void badArguments_data()
    {
        QTest::addColumn<qint64>("after");
        QTest::addColumn<int>("limit");
        QTest::addColumn<bool>("fails");
        QTest::newRow("limit 0") << qint64(0) << 0 << true;
        QTest::newRow("limit 1001") << qint64(0) << 1001 << true;
        QTest::newRow("after -1") << qint64(-1) << 10 << true;
        QTest::newRow("limit 1000") << qint64(0) << 1000 << false;
        QTest::newRow("limit 1") << qint64(5) << 1 << false;
    }

    void badArguments()
    {
        QFETCH(qint64, after);
        QFETCH(int, limit);
        QFETCH(bool, fails);
        Journal j;
        fill(j, 3);
        QCOMPARE(readError(j, after, limit), fails ? QStringLiteral("after >= 0，limit 范围 1..1000") : QString());
    }

    void cursors_data()
    {
        QTest::addColumn<int>("stored");
        QTest::addColumn<qint64>("after");
        QTest::addColumn<int>("limit");
        QTest::addColumn<int>("returned");
        QTest::addColumn<qint64>("firstSeq");
        QTest::addColumn<qint64>("next");
        QTest::addColumn<bool>("hasMore");
        QTest::addColumn<bool>("gap");
        QTest::addColumn<bool>("reset");
        QTest::newRow("more than limit") << 10 << qint64(0) << 3 << 3 << qint64(1) << qint64(3) << true << false << false;
        QTest::newRow("exactly limit") << 10 << qint64(7) << 3 << 3 << qint64(8) << qint64(10) << false << false << false;
        QTest::newRow("at end") << 10 << qint64(10) << 5 << 0 << qint64(0) << qint64(10) << false << false << false;
        QTest::newRow("ahead of journal") << 10 << qint64(50) << 5 << 0 << qint64(0) << qint64(10) << false << false << true;
        QTest::newRow("trimmed: gap") << 20001 << qint64(0) << 2 << 2 << qint64(2) << qint64(3) << true << true << false;
        QTest::newRow("trimmed: no gap") << 20001 << qint64(1) << 2 << 2 << qint64(2) << qint64(3) << true << false << false;
        QTest::newRow("trimmed: middle") << 20005 << qint64(15000) << 1000 << 1000 << qint64(15001) << qint64(16000) << true << false << false;
    }

    void cursors()
    {
        QFETCH(int, stored);
        QFETCH(qint64, after);
        QFETCH(int, limit);
        QFETCH(int, returned);
        QFETCH(qint64, firstSeq);
        QFETCH(qint64, next);
        QFETCH(bool, hasMore);
        QFETCH(bool, gap);
        QFETCH(bool, reset);
        Journal j;
        fill(j, stored);
        QVERIFY(j.events.size() <= std::size_t(Journal::MaxEvents));
        const QJsonObject r = j.read(after, limit);
        const QJsonArray events = r.value("events").toArray();
        QCOMPARE(events.size(), returned);
        if (returned) {
            QCOMPARE(events.first().toObject().value("seq").toInteger(), firstSeq);
            for (int i = 1; i < events.size(); ++i)
                QCOMPARE(events[i].toObject().value("seq").toInteger(), firstSeq + i);
        }
        QCOMPARE(r.value("next_cursor").toInteger(), next);
        QCOMPARE(r.value("has_more").toBool(), hasMore);
        QCOMPARE(r.value("gap").toBool(), gap);
        QCOMPARE(r.value("cursor_reset_required").toBool(), reset);
        QCOMPARE(r.value("latest_cursor").toInteger(), qint64(stored));
    }

    void channelAndFilter()
    {
        Journal j;
        for (int i = 0; i < 6; ++i)
            j.append(i % 2 ? QStringLiteral("b") : QStringLiteral("a"), QStringLiteral("rx"),
                     QByteArray::number(i), QString(), QString(), false, QString());
        int calls = 0;
        const auto onlyBig = [&calls](const QJsonObject& e) {
            ++calls;
            return e.value("text").toString().toInt() >= 2;
        };
        const QJsonObject r = j.read(0, 10, QStringLiteral("a"), onlyBig);
        QCOMPARE(r.value("events").toArray().size(), 2);   // "2" and "4"
        QCOMPARE(calls, 3);                                 // never for channel b
        const QJsonObject none = j.read(0, 10, QString(), [](const QJsonObject&) { return false; });
        QCOMPARE(none.value("events").toArray().size(), 0);
        QCOMPARE(none.value("next_cursor").toInteger(), 6);
        QCOMPARE(none.value("has_more").toBool(), false);
        const QJsonObject limited = j.read(0, 1, QStringLiteral("b"));
        QCOMPARE(limited.value("next_cursor").toInteger(), 2);
        QCOMPARE(limited.value("has_more").toBool(), true);
    }

    // A reader of one channel learns of its own losses only; a reader of all
    // channels of any.
    void gapOfOneChannel_data()
    {
        QTest::addColumn<QByteArray>("ownBefore");   // own events before the flood
        QTest::addColumn<int>("readOwn");            // how many of them the reader had read
        QTest::addColumn<QByteArray>("ownAfter");    // own events after the flood
        QTest::addColumn<bool>("channelGap");
        QTest::addColumn<bool>("allGap");
        QTest::addColumn<qint64>("lostBytes");
        QTest::newRow("idle, read, pushed out by others") << QByteArray("ab") << 2 << QByteArray() << false << true
                                                          << qint64(0);
        QTest::newRow("new channel after others' traffic") << QByteArray() << 0 << QByteArray("c") << false << true
                                                           << qint64(0);
        QTest::newRow("own unread events dropped") << QByteArray("abc") << 1 << QByteArray("d") << true << true
                                                   << qint64(2);
        QTest::newRow("own kept, others dropped") << QByteArray() << 0 << QByteArray("ef") << false << true
                                                  << qint64(0);
    }
    void gapOfOneChannel()
    {
        QFETCH(QByteArray, ownBefore);
        QFETCH(int, readOwn);
        QFETCH(QByteArray, ownAfter);
        QFETCH(bool, channelGap);
        QFETCH(bool, allGap);
        QFETCH(qint64, lostBytes);
        Journal j;
        const auto own = [&j](char byte) {
            j.append(QStringLiteral("own"), QStringLiteral("rx"), QByteArray(1, byte), QString(), QString(), false,
                     QStringLiteral("ssh"));
        };
        fill(j, 3, QStringLiteral("busy"));
        qint64 cursor = j.lastSeq;
        for (qsizetype i = 0; i < ownBefore.size(); ++i) {
            own(ownBefore.at(i));
            if (i < readOwn)
                cursor = j.lastSeq;
        }
        fill(j, Journal::MaxEvents + 10, QStringLiteral("busy"));
        for (const char byte : ownAfter)
            own(byte);
        const QJsonObject mine = j.read(cursor, 1000, QStringLiteral("own"));
        QCOMPARE(mine.value("gap").toBool(), channelGap);
        QCOMPARE(j.read(cursor, 1000).value("gap").toBool(), allGap);
        QCOMPARE(mine.value("events").toArray().size(), ownAfter.size());
        // What the reader lost, from the channel's tally.
        const Journal::Tally tally = j.tally(QStringLiteral("own"));
        QCOMPARE(tally.bytes, qint64(ownBefore.size() + ownAfter.size()));
        QCOMPARE(tally.droppedBytes, qint64(ownBefore.size()));
        if (channelGap)
            QCOMPARE(tally.droppedBytes - readOwn, lostBytes);
        // The channel filter with a predicate keeps the same rule.
        QCOMPARE(j.read(cursor, 1000, QStringLiteral("own"), [](const QJsonObject&) { return false; })
                     .value("gap")
                     .toBool(),
                 channelGap);
    }

    void bytesOfTheNewest()
    {
        Journal j;
        for (int i = 0; i < 10; ++i) {
            j.append(QStringLiteral("a"), QStringLiteral("rx"), QByteArray(100, 'a'), QString(), QString(), false,
                     QString());
            j.append(QStringLiteral("b"), QStringLiteral("rx"), QByteArray(7, 'b'), QString(), QString(), false,
                     QString());
        }
        // The newest 250 bytes of "a" begin with its eighth event (seq 15).
        QCOMPARE(j.cursorForNewest(QStringLiteral("a"), 250), qint64(14));
        QCOMPARE(j.bytesThrough(QStringLiteral("a"), 14), qint64(700));
        QCOMPARE(j.bytesThrough(QStringLiteral("b"), 14), qint64(49));
        QCOMPARE(j.bytesThrough(QStringLiteral("a"), j.lastSeq), qint64(1000));
        // Asking for more than is held gives the start of what is held.
        QCOMPARE(j.cursorForNewest(QStringLiteral("b"), 1000000), qint64(0));
        QCOMPARE(j.bytesThrough(QStringLiteral("none"), 3), qint64(0));
    }

    void trimByBytes()
    {
        Journal j;
        const QByteArray chunk(100000, 'a');
        for (int i = 0; i < 40; ++i)
            j.append(QStringLiteral("c"), QStringLiteral("rx"), chunk, QString(), QString(), false, QString());
        QVERIFY(j.totalBytes <= Journal::MaxBytes);
        qint64 sum = 0;
        for (const auto& e : j.events)
            sum += e.second;
        QCOMPARE(sum, j.totalBytes);
        const qint64 oldest = j.events.front().first.value("seq").toInteger();
        QCOMPARE(oldest, qint64(40 - j.events.size() + 1));
        QCOMPARE(j.read(oldest - 1, 1).value("gap").toBool(), false);
        QCOMPARE(j.read(oldest - 2, 1).value("gap").toBool(), true);

        // One event bigger than the whole journal is stored and trimmed at once.
        const QJsonObject huge = j.append(QStringLiteral("c"), QStringLiteral("rx"), QByteArray(3000000, 'b'),
                                          QString(), QString(), false, QString());
        QCOMPARE(huge.value("seq").toInteger(), 41);
        QVERIFY(j.events.empty());
        QCOMPARE(j.totalBytes, 0);
        QCOMPARE(j.read(0, 5).value("oldest_cursor").toInteger(), 42);
    }
};

QTEST_GUILESS_MAIN(JournalTest)
#include "JournalTest.moc"
