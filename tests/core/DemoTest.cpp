#include "core/Channel.h"
#include "core/Engine.h"

#include <QJsonArray>
#include <QTest>

using namespace vn;

class DemoTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void waveformDemo()
    {
        Engine engine;
        Channel* ch = engine.waveformDemo();
        QCOMPARE(ch->state, QStringLiteral("connected"));
        QCOMPARE(ch->name, QStringLiteral("Demo · 演示波形"));
        QCOMPARE(ch->tickTimer.interval(), 20);
        const Source& s = *ch->sources.at("default");
        QCOMPARE(s.samples.size(), std::size_t(500));
        QCOMPARE(s.samples.front().value("index").toInteger(), 1);
        QCOMPARE(s.rejectedLines, 0);
        const QJsonArray events = engine.journal.read(0, 3, ch->id).value("events").toArray();
        QCOMPARE(events[1].toObject().value("text").toString(),
                 QStringLiteral("@wave sine=0.000000,triangle=0.000000,square=0.800000,sawtooth=-1.000000\r\n"));
        QCOMPARE(events[2].toObject().value("text").toString(),
                 QStringLiteral("@wave sine=0.062791,triangle=0.028000,square=0.800000,sawtooth=-0.986000\r\n"));
        QTRY_VERIFY(ch->sources.at("default")->sampleIndex > 502);   // one step every 20 ms
        QCOMPARE(ch->demoCounter, ch->sources.at("default")->sampleIndex);

        // The square wave turns negative after 1/1.3 demo seconds (step 39, the 40th sample).
        const QJsonObject at39 = s.samples[39].value("values").toObject();
        QCOMPARE(at39.value("square").toDouble(), -0.8);
        QCOMPARE(s.samples[38].value("values").toObject().value("square").toDouble(), 0.8);

        // Closing and reopening continues the counter and adds no burst.
        ch->close();
        const qint64 counter = ch->demoCounter;
        engine.waveformDemo();
        QCOMPARE(ch->demoCounter, counter);
    }

    void structuredDemo()
    {
        Engine engine;
        Channel* ch = engine.structuredDemo();
        QCOMPARE(ch->parserMode, QStringLiteral("auto"));
        QCOMPARE(ch->tickTimer.interval(), 1000);
        const auto& records = ch->sources.at("default")->records;
        QCOMPARE(records.size(), std::size_t(6));
        QCOMPARE(records[0].value("format").toString(), QStringLiteral("json"));
        QCOMPARE(records[1].value("format").toString(), QStringLiteral("xml"));
        QCOMPARE(records[0].value("event_seq"), records[1].value("event_seq"));
        const QJsonObject first = records[0].value("value").toObject();
        QCOMPARE(first.value("seq").toInt(), 1);
        QCOMPARE(first.value("device").toString(), QStringLiteral("demo-sensor"));
        QCOMPARE(first.value("telemetry").toObject().value("temperature").toDouble(), 25.4);
        QCOMPARE(first.value("telemetry").toObject().value("voltage").toDouble(), 3.348);
        QCOMPARE(first.value("flags").toObject().value("alarm").toBool(), false);
        QCOMPARE(first.value("flags").toObject().value("online").toBool(), true);
        QCOMPARE(records[1].value("text").toString(),
                 QStringLiteral("<telemetry seq=\"1\" state=\"running\">\n  <device>demo-sensor</device>\n"
                                "  <temperature unit=\"C\">25.40</temperature>\n  <voltage unit=\"V\">3.348</voltage>\n"
                                "  <alarm>false</alarm>\n</telemetry>"));
        const QJsonArray events = engine.journal.read(0, 10, ch->id).value("events").toArray();
        QVERIFY(events[1].toObject().value("text").toString().startsWith(
            QStringLiteral("{\"device\":\"demo-sensor\",\"flags\":{\"alarm\":false,\"online\":true},\"seq\":1,")));

        while (ch->demoCounter < 10)
            ch->generateStructuredDemo();
        QCOMPARE(records[records.size() - 2].value("value").toObject().value("flags").toObject()
                     .value("alarm").toBool(), true);
        QVERIFY(records.back().value("text").toString().contains(QStringLiteral("<alarm>true</alarm>")));
    }

    void otherDemo()
    {
        Engine engine;
        Config c;
        c.kind = QStringLiteral("demo");
        c.host = QStringLiteral("bench");
        Channel* ch = engine.open(c);
        QCOMPARE(ch->tickTimer.interval(), 40);
        QVERIFY(ch->sources.empty());
        QTRY_VERIFY(!ch->sources.empty() && ch->sources.at("default")->sampleIndex >= 2);
        const QJsonObject values = ch->sources.at("default")->samples.back().value("values").toObject();
        QCOMPARE(values.keys(), (QStringList{"current", "temperature", "voltage"}));
        QVERIFY(engine.open(c) != ch);   // not a built-in demo: never reused
    }
};

QTEST_GUILESS_MAIN(DemoTest)
#include "DemoTest.moc"
