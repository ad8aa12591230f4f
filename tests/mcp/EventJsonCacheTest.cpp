// The reading tools' text of journal reads: the same bytes as writing the
// whole result out, each event written once however often it is read, and
// nothing kept of events the journal has dropped.

#include "core/Journal.h"
#include "mcp/EventJsonCache.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTest>

using namespace vn;

namespace {

// What the JSON string body stands for.
QString unescaped(const QByteArray& body)
{
    const QJsonDocument document = QJsonDocument::fromJson("[\"" + body + "\"]");
    return document.isArray() ? document.array().at(0).toString() : QStringLiteral("<not a JSON string>");
}

// Traffic with everything a writer must get right: quotes, backslashes,
// control bytes, non-ASCII text, invalid UTF-8, status events, protocols and
// stream resets.
void fill(Journal& journal, int count)
{
    for (int i = 0; i < count; ++i) {
        QByteArray data = "line " + QByteArray::number(i) + " \"quoted\" back\\slash\ttab\r\n";
        if (i % 3 == 0)
            data += QByteArray("\x00\x01\x1f\x7f\xff\xfe", 6);
        if (i % 5 == 0)
            data += QStringLiteral("温度 25.0 °C ✓").toUtf8();
        if (i % 7 == 0)
            journal.append(QStringLiteral("c1"), QStringLiteral("status"), QByteArray(), QString(),
                           QStringLiteral("已连接 \"x\""), i % 14 == 0, QStringLiteral("serial"));
        journal.append(i % 2 ? QStringLiteral("c1") : QStringLiteral("c2"), i % 4 ? QStringLiteral("rx") : QStringLiteral("tx"),
                       data, i % 2 ? QString() : QStringLiteral("127.0.0.1:%1").arg(4000 + i), QString(), false,
                       i % 9 ? QStringLiteral("tcp-server") : QString());
    }
}

qint64 oldestOf(const Journal& journal)
{
    return journal.events.empty() ? journal.lastSeq + 1
                                  : journal.events.front().first.value(QLatin1String("seq")).toInteger();
}

} // namespace

class EventJsonCacheTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void sameBytesAsTheWholeResult_data()
    {
        QTest::addColumn<qint64>("after");
        QTest::addColumn<int>("limit");
        QTest::addColumn<QString>("channel");
        QTest::addColumn<bool>("toolMembers");
        QTest::newRow("everything") << qint64(0) << 1000 << QString() << false;
        QTest::newRow("one channel, as read_events answers") << qint64(0) << 1000 << QStringLiteral("c1") << true;
        QTest::newRow("a page with more behind it") << qint64(20) << 7 << QStringLiteral("c2") << true;
        QTest::newRow("nothing new") << qint64(100000) << 10 << QString() << true;
        QTest::newRow("one event") << qint64(41) << 1 << QString() << false;
    }
    void sameBytesAsTheWholeResult()
    {
        QFETCH(qint64, after);
        QFETCH(int, limit);
        QFETCH(QString, channel);
        QFETCH(bool, toolMembers);
        Journal journal;
        journal.sessionId = Journal::newSessionId();
        fill(journal, 300);
        QJsonObject result = journal.read(after, limit, channel);
        if (toolMembers) {
            result.insert(QStringLiteral("scope"), QStringLiteral("channel"));
            result.insert(QStringLiteral("channel_id"), channel);
            result.insert(QStringLiteral("protocol"), QStringLiteral("tcp-server"));
            result.insert(QStringLiteral("connection_state"), QStringLiteral("listening"));
        }
        EventJsonCache cache;
        for (int round = 0; round < 2; ++round) {
            const EventJsonCache::Text text = cache.encode(result, oldestOf(journal));
            QCOMPARE(text.compact, QJsonDocument(result).toJson(QJsonDocument::Compact));
            QCOMPARE(unescaped(text.escaped), QString::fromUtf8(text.compact));
            // The sizes known beforehand are the sizes written.
            const EventJsonCache::Prepared prepared = cache.prepare(result, oldestOf(journal));
            QCOMPARE(prepared.compactSize, text.compact.size());
            QCOMPARE(prepared.escapedSize, text.escaped.size());
        }
        QCOMPARE(cache.entries(), std::size_t(result.value(QLatin1String("events")).toArray().size()));
    }

    // Agents reading the same events share one written copy; a second agent
    // adds nothing.
    void eachEventIsWrittenOnce()
    {
        Journal journal;
        fill(journal, 200);
        EventJsonCache cache;
        cache.encode(journal.read(0, 1000), oldestOf(journal));
        const std::size_t entries = cache.entries();
        const qint64 bytes = cache.bytes();
        QCOMPARE(entries, journal.events.size());
        cache.encode(journal.read(0, 1000), oldestOf(journal));
        cache.encode(journal.read(100, 50, QStringLiteral("c1")), oldestOf(journal));
        QCOMPARE(cache.entries(), entries);
        QCOMPARE(cache.bytes(), bytes);
    }

    // Once the history has dropped events, their text goes with them, so the
    // cache is bounded by the journal.
    void droppedEventsAreForgotten()
    {
        Journal journal;
        const QByteArray big(300000, 'x');
        EventJsonCache cache;
        for (int i = 0; i < 40; ++i) {
            journal.append(QStringLiteral("c1"), QStringLiteral("rx"), big, QString(), QString(), false, QString());
            const QJsonObject result = journal.read(0, 1000);
            const EventJsonCache::Text text = cache.encode(result, oldestOf(journal));
            QCOMPARE(text.compact.size(), QJsonDocument(result).toJson(QJsonDocument::Compact).size());
            QCOMPARE(cache.entries(), journal.events.size());
            QVERIFY(cache.bytes() <= 2 * journal.totalBytes + 64 * qint64(journal.events.size()));
        }
        QVERIFY(journal.events.size() < 40);
        QVERIFY(journal.events.front().first.value(QLatin1String("seq")).toInteger() > 1);
    }

    void escapes_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArray>("escaped");
        QTest::newRow("plain") << QByteArray("{\"a\":1}") << QByteArray("{\\\"a\\\":1}");
        QTest::newRow("backslash") << QByteArray("a\\b") << QByteArray("a\\\\b");
        QTest::newRow("control") << QByteArray("\n\x01", 2) << QByteArray("\\u000a\\u0001");
        QTest::newRow("utf-8 passes") << QStringLiteral("温度").toUtf8() << QStringLiteral("温度").toUtf8();
        QTest::newRow("empty") << QByteArray() << QByteArray();
    }
    void escapes()
    {
        QFETCH(QByteArray, text);
        QFETCH(QByteArray, escaped);
        QByteArray out;
        appendJsonEscaped(out, text.constData(), text.size());
        QCOMPARE(out, escaped);
    }
};

QTEST_GUILESS_MAIN(EventJsonCacheTest)
#include "EventJsonCacheTest.moc"
