#include "core/Channel.h"
#include "core/Engine.h"
#include "core/script/FrameScriptProcessor.h"
#include "core/script/FrameScriptProgram.h"
#include "core/script/ScriptError.h"
#include "tests/support/TestSupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QTest>

using namespace vn;
using vn::test::errorOf;

namespace {

Config loopback()
{
    Config c;
    c.port = QStringLiteral("loop://");
    return c;
}

// n small JSON documents, each its own record.
QByteArray documents(int from, int to)
{
    QByteArray out;
    for (int i = from; i <= to; ++i)
        out += "{\"i\":" + QByteArray::number(i) + "}\n";
    return out;
}

QList<qint64> seqs(const QJsonArray& records)
{
    QList<qint64> out;
    for (const QJsonValue& r : records)
        out.append(r.toObject().value("seq").toInteger());
    return out;
}

} // namespace

class ReceiveTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void recordsAndCursors_data()
    {
        QTest::addColumn<int>("created");
        QTest::addColumn<qint64>("cursor");
        QTest::addColumn<int>("limit");
        QTest::addColumn<qint64>("first");
        QTest::addColumn<int>("count");
        QTest::addColumn<bool>("hasMore");
        QTest::addColumn<qint64>("next");
        QTest::addColumn<qint64>("oldest");
        QTest::addColumn<bool>("gap");
        QTest::newRow("600 created, 500 kept") << 600 << qint64(0) << 500 << qint64(101) << 500 << false << qint64(600) << qint64(101) << true;
        QTest::newRow("limit 3 after 4") << 10 << qint64(4) << 3 << qint64(5) << 3 << true << qint64(7) << qint64(1) << false;
        QTest::newRow("at the end") << 10 << qint64(10) << 3 << qint64(0) << 0 << false << qint64(10) << qint64(1) << false;
        QTest::newRow("ahead") << 10 << qint64(99) << 3 << qint64(0) << 0 << false << qint64(10) << qint64(1) << false;
    }

    void recordsAndCursors()
    {
        QFETCH(int, created);
        QFETCH(qint64, cursor);
        QFETCH(int, limit);
        QFETCH(qint64, first);
        QFETCH(int, count);
        QFETCH(bool, hasMore);
        QFETCH(qint64, next);
        QFETCH(qint64, oldest);
        QFETCH(bool, gap);
        Engine engine;
        Channel ch(&engine, loopback());
        ch.configureParser(QStringLiteral("json"), QStringLiteral("utf-8"));
        ch.receive(documents(1, created), QString());
        const QJsonObject result = ch.structured(cursor, limit, QJsonObject());
        QCOMPARE(result.value("mode").toString(), QStringLiteral("json"));
        const QJsonObject entry = result.value("sources").toObject().value("default").toObject();
        const QList<qint64> got = seqs(entry.value("records").toArray());
        QCOMPARE(got.size(), count);
        if (count)
            QCOMPARE(got.first(), first);
        QCOMPARE(entry.value("has_more").toBool(), hasMore);
        QCOMPARE(entry.value("next_cursor").toInteger(), next);
        QCOMPARE(entry.value("oldest_cursor").toInteger(), oldest);
        QCOMPARE(entry.value("gap").toBool(), gap);
    }

    void perSourceCursorsAndErrors()
    {
        Engine engine;
        Channel ch(&engine, loopback());
        ch.configureParser(QStringLiteral("auto"), QStringLiteral("utf-8"));
        ch.receive(documents(1, 10), QString());
        ch.receive(documents(1, 4), QStringLiteral("10.0.0.1:5"));
        const QJsonObject r = ch.structured(0, 500, QJsonObject{{"default", 8}});
        const QJsonObject s = r.value("sources").toObject();
        QCOMPARE(seqs(s.value("default").toObject().value("records").toArray()), (QList<qint64>{9, 10}));
        QCOMPARE(seqs(s.value("10.0.0.1:5").toObject().value("records").toArray()).size(), 4);
        const QJsonObject rec = s.value("10.0.0.1:5").toObject().value("records").toArray().first().toObject();
        QCOMPARE(rec.value("peer").toString(), QStringLiteral("10.0.0.1:5"));
        QCOMPARE(s.value("default").toObject().value("records").toArray().first().toObject()
                     .value("peer").toString(), QString());

        const QString range = QStringLiteral("解析游标 >= 0，limit 范围 1..500");
        QCOMPARE(errorOf([&] { ch.structured(0, 0, {}); }), range);
        QCOMPARE(errorOf([&] { ch.structured(0, 501, {}); }), range);
        QCOMPARE(errorOf([&] { ch.structured(-1, 5, {}); }), range);
        for (double negative : {-3.0, -1e19})
            QCOMPARE(errorOf([&] { ch.structured(0, 5, QJsonObject{{"default", negative}}); }),
                     QStringLiteral("解析游标不能为负数"));
        const QJsonObject ahead = ch.structured(0, 5, QJsonObject{{"default", 1e19}, {"10.0.0.1:5", 2.5}});
        QVERIFY(ahead.value("sources").toObject().value("default").toObject().value("records").toArray().isEmpty());
        QCOMPARE(ahead.value("sources").toObject().value("10.0.0.1:5").toObject().value("records").toArray().size(), 4);
        const QJsonObject script = ch.scriptResults(0, 10, {});
        QCOMPARE(script.value("enabled").toBool(), false);
        QCOMPARE(script.value("error").toString(), QString());
        QVERIFY(script.value("sources").toObject().value("default").toObject()
                    .value("records").toArray().isEmpty());
    }

    void emptyListCounters()
    {
        RecordList list;
        list.seq = 12;
        Engine engine;
        Channel ch(&engine, loopback());
        ch.receive("x", QString());
        ch.sources.at("default")->structured.seq = 12;
        for (qint64 cursor : {0, 11, 12, 20}) {
            const QJsonObject e = ch.structured(cursor, 5, {}).value("sources").toObject()
                                      .value("default").toObject();
            QCOMPARE(e.value("oldest_cursor").toInteger(), 13);
            QCOMPARE(e.value("next_cursor").toInteger(), 12);
            QCOMPARE(e.value("gap").toBool(), cursor < 12);
        }
    }

    void byteLimitTrims()
    {
        Engine engine;
        Channel ch(&engine, loopback());
        ch.configureParser(QStringLiteral("json"), QStringLiteral("utf-8"));
        const QByteArray big = "{\"s\":\"" + QByteArray(200000, 'a') + "\"}";
        for (int i = 0; i < 5; ++i)
            ch.receive(big, QString());
        const RecordList& list = ch.sources.at("default")->structured;
        QVERIFY(list.bytes <= RecordList::MaxBytes);
        QCOMPARE(list.seq, 5);
        QCOMPARE(qint64(list.records.size()), 3);
        qint64 sum = 0;
        for (qint64 s : list.sizes)
            sum += s;
        QCOMPARE(sum, list.bytes);
    }

    // Record sizes are counted, not serialized: the count must match.
    void recordSizesMatchIndentedJson()
    {
        Engine engine;
        Channel ch(&engine, loopback());
        ch.configureParser(QStringLiteral("auto"), QStringLiteral("utf-8"));
        ch.receive(QStringLiteral(
                       "{}[]{\"a\":{}}[[],[{}]]{\"s\":\"x\\ny\\t\\\"q\\u0001 中文 😀\"}"
                       "{\"n\":[1.5,-2,1e300,0.1,12345678901234567],\"t\":true,\"f\":null}"
                       "<?xml version=\"1.0\"?><!-- c --><r a=\"&quot;\"><v>2 &lt; 3</v>\n\t<w/></r>"
                       "[\"\\u007f\",\"\\ud83d\\ude00\"]")
                       .toUtf8(),
                   QString());
        const RecordList& list = ch.sources.at("default")->structured;
        QCOMPARE(int(list.records.size()), 8);
        for (std::size_t i = 0; i < list.records.size(); ++i)
            QCOMPARE(list.sizes[i], qint64(QJsonDocument(list.records[i]).toJson(QJsonDocument::Indented).size()));
    }

    void sourceEviction()
    {
        Engine engine;
        Channel ch(&engine, loopback());
        for (int i = 10; i < 42; ++i)
            ch.receive("@wave a=1\n", QStringLiteral("10.0.0.%1:1").arg(i));
        QCOMPARE(ch.sources.size(), std::size_t(32));
        const SourcePtr keptByReader = ch.sources.begin()->second;
        QCOMPARE(ch.sources.begin()->first, QStringLiteral("10.0.0.10:1"));
        ch.receive("@wave a=1\n", QStringLiteral("10.0.0.99:1"));
        QCOMPARE(ch.sources.size(), std::size_t(32));
        QVERIFY(!ch.sources.count("10.0.0.10:1"));
        QVERIFY(ch.sources.count("10.0.0.99:1"));
        QCOMPARE(keptByReader->samples.size(), std::size_t(1));   // a reader's copy stays alive
    }

    void fileTransferOwnsBytes()
    {
        Engine engine;
        Channel ch(&engine, loopback());
        QObject owner;
        ch.transferOwner = &owner;
        QSignalSpy received(&ch, &Channel::bytesReceived);
        QSignalSpy added(&engine, &Engine::eventAdded);
        ch.receive("@wave a=1\n", QString());
        ch.receive(QByteArray(), QString());
        QCOMPARE(received.count(), 1);
        QCOMPARE(added.count(), 1);
        QVERIFY(ch.sources.empty());
        QCOMPARE(ch.rxBytes, 10);
        const QJsonArray log = engine.journal.read(0, 10).value("events").toArray();
        QCOMPARE(log.size(), 1);
        QCOMPARE(log[0].toObject().value("message").toString(), QStringLiteral("file-transfer"));
    }

    void parserConfiguration()
    {
        Engine engine;
        Channel ch(&engine, loopback());
        QCOMPARE(errorOf([&] { ch.configureParser(QStringLiteral("JSON"), QStringLiteral("utf-8")); }),
                 QStringLiteral("解析格式无效"));
        QCOMPARE(errorOf([&] { ch.configureParser(QStringLiteral("auto"), QStringLiteral("no-such-codec")); }),
                 QStringLiteral("不支持的解析编码"));
        QCOMPARE(ch.parserMode, QStringLiteral("off"));
        ch.configureParser(QStringLiteral("auto"), QStringLiteral("GB18030"));
        ch.receive(QByteArray("{\"t\":\"\xd6\xd0\"}"), QString());
        const auto& records = ch.sources.at("default")->records;
        QCOMPARE(records.size(), std::size_t(1));
        QCOMPARE(records.back().value("value").toObject().value("t").toString(), QStringLiteral("中"));
    }

    // receive() runs from Qt slots: a decoder that cannot work reports once,
    // stays off, and the raw bytes are journaled all the same.
    void failingDecoderReportsOnce()
    {
        Engine engine;
        Channel ch(&engine, loopback());
        ch.parserMode = QStringLiteral("auto");
        ch.encoding = QStringLiteral("no-such-codec");   // as a stored setting might hold
        ch.receive("{\"x\":1}\n@wave a=1\n", QString());
        ch.receive("{\"x\":2}\n@wave a=2\n", QString());
        QCOMPARE(ch.parserMode, QStringLiteral("off"));
        QCOMPARE(ch.sources.at("default")->samples.size(), std::size_t(2));
        QVERIFY(ch.sources.at("default")->records.empty());
        QStringList directions;
        for (const QJsonValue& v : engine.journal.read(0, 10).value("events").toArray())
            directions.append(v.toObject().value("direction").toString() + QLatin1Char(':')
                              + v.toObject().value("message").toString());
        QCOMPARE(directions, (QStringList{QStringLiteral("rx:"),
                                          QStringLiteral("status:结构化解析已停用：不支持的解析编码"),
                                          QStringLiteral("rx:")}));
    }

    void scriptConfiguration()
    {
        Engine engine;
        Config tcp;
        tcp.kind = QStringLiteral("tcp-client");
        Channel network(&engine, tcp);
        QCOMPARE(errorOf([&] { network.configureScript(QStringLiteral("void main(uint8_t *data, int length) {}"), true); }),
                 QStringLiteral("脚本解析仅适用于串口会话"));
        Channel serial(&engine, loopback());
        serial.scriptFrames = 3;
        serial.configureScript(QStringLiteral("not a script at all"), false);
        QCOMPARE(serial.scriptSource, QStringLiteral("not a script at all"));
        QCOMPARE(serial.scriptFrames, 0);
        QCOMPARE(serial.scriptEnabled, false);
        QCOMPARE(Channel(&engine, loopback()).scriptSource, FrameScriptProgram::example());

        serial.scriptSource = QStringLiteral("kept");
        try {
            serial.configureScript(QStringLiteral("int main() {}"), true);
            QFAIL("a broken script was accepted");
        } catch (const ScriptError& e) {
            QVERIFY(!e.display().isEmpty());
        }
        QCOMPARE(serial.scriptSource, QStringLiteral("kept"));
        QCOMPARE(serial.scriptEnabled, false);
    }

    void scriptFramesBecomeRecords()
    {
        Engine engine;
        Channel ch(&engine, loopback());
        ch.configureScript(FrameScriptProgram::example(), true);
        QVERIFY(ch.scriptEnabled);
        QVERIFY(ch.processor);
        // Two frames, one split across chunks, with junk between.
        ch.receive(QByteArray::fromHex("AA55C409E40CBC0D01AA55C4"), QString());
        ch.receive(QByteArray::fromHex("09E40CBC0D"), QString());
        QTRY_COMPARE(ch.scriptFrames, 2);
        const QJsonObject result = ch.scriptResults(0, 10, {});
        QCOMPARE(result.value("enabled").toBool(), true);
        const QJsonArray records = result.value("sources").toObject().value("default").toObject()
                                       .value("records").toArray();
        QCOMPARE(records.size(), 2);
        const QJsonObject first = records[0].toObject();
        QCOMPARE(first.value("format").toString(), QStringLiteral("script"));
        QCOMPARE(first.value("peer").toString(), QString());
        QCOMPARE(first.value("value").toObject().value(QStringLiteral("温度")).toDouble(), 25.0);
        QCOMPARE(first.value("value").toObject().value(QStringLiteral("电压")).toDouble(), 3.3);
        QCOMPARE(first.value("event_seq").toInteger(), 1);
        QCOMPARE(records[1].toObject().value("event_seq").toInteger(), 2);
        QCOMPARE(QJsonDocument::fromJson(first.value("text").toString().toUtf8()).object(),
                 first.value("value").toObject());
        const RecordList& list = ch.sources.at("default")->script;
        for (std::size_t i = 0; i < list.records.size(); ++i)
            QCOMPARE(list.sizes[i], qint64(QJsonDocument(list.records[i]).toJson(QJsonDocument::Indented).size()));
    }

    void scriptFailureSwitchesOff()
    {
        Engine engine;
        Channel ch(&engine, loopback());
        ch.configureScript(QStringLiteral("void main(uint8_t data[], int length) { int z = 0; emit(\"q\", length / z); }"), true);
        ch.receive("abc\n@wave a=1\n", QString());
        QTRY_VERIFY(!ch.scriptEnabled);
        QVERIFY(!ch.scriptError.isEmpty());
        const QJsonArray log = engine.journal.read(0, 10).value("events").toArray();
        QCOMPARE(log.last().toObject().value("message").toString(),
                 QStringLiteral("脚本解析已停用：") + ch.scriptError);
        QCOMPARE(ch.scriptResults(0, 5, {}).value("error").toString(), ch.scriptError);
        QCOMPARE(ch.sources.at("default")->samples.size(), std::size_t(1));   // raw decoding goes on
        ch.receive("more", QString());
        QCOMPARE(ch.processor->pendingBatches(), 0);
    }

    // Chunks faster than the worker: the one that overflows its queue is
    // journaled, then the switch-off, and it is still decoded for wave lines.
    void scriptQueueFull()
    {
        Engine engine;
        Channel ch(&engine, loopback());
        ch.configureScript(FrameScriptProgram::example(), true);
        for (int i = 0; i < 130; ++i)
            ch.receive("@wave a=1\n", QString());
        QVERIFY(!ch.scriptEnabled);
        const QJsonArray log = engine.journal.read(0, 1000).value("events").toArray();
        QCOMPARE(log.size(), 131);
        QCOMPARE(log[128].toObject().value("direction").toString(), QStringLiteral("rx"));
        QCOMPARE(log[129].toObject().value("message").toString(),
                 QStringLiteral("脚本解析已停用：脚本处理队列已满，解析已停用；原始收发数据继续记录"));
        QCOMPARE(ch.scriptError, QStringLiteral("脚本处理队列已满，解析已停用；原始收发数据继续记录"));
        QCOMPARE(ch.sources.at("default")->samples.size(), std::size_t(130));
        QCOMPARE(ch.processor->pendingBatches(), 128);   // the last chunk was not submitted
    }
};

QTEST_GUILESS_MAIN(ReceiveTest)
#include "ReceiveTest.moc"
