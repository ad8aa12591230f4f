#include "core/Channel.h"
#include "core/Engine.h"

#include <QJsonArray>
#include <QTest>

using namespace vn;

namespace {

// A channel that is never opened: the receive path works all the same.
struct Fixture {
    Engine engine;
    Channel* channel;
    Fixture()
        : channel(new Channel(&engine, [] {
            Config c;
            c.port = QStringLiteral("loop://");
            return c;
        }()))
    {
    }
    Source& source() { return *channel->sources.at(QStringLiteral("default")); }
    QJsonObject lastValues() { return source().samples.back().value("values").toObject(); }
};

} // namespace

class WaveTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void lines_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<int>("samples");
        QTest::addColumn<int>("rejected");
        QTest::newRow("three fields") << QByteArray("@wave a=1, b = -2.5e3 ,_c=.5\n") << 1 << 0;
        QTest::newRow("crlf") << QByteArray("@wave temp=1\r\n") << 1 << 0;
        QTest::newRow("repeated name") << QByteArray("@wave a=1,a=2\n") << 0 << 1;
        QTest::newRow("empty last field") << QByteArray("@wave a=1,\n") << 0 << 1;
        QTest::newRow("empty body") << QByteArray("@wave \n") << 0 << 1;
        QTest::newRow("hex value") << QByteArray("@wave x=0x10\n") << 0 << 1;
        QTest::newRow("digit first") << QByteArray("@wave 1a=2\n") << 0 << 1;
        QTest::newRow("not finite") << QByteArray("@wave a=1e999\n") << 0 << 1;
        QTest::newRow("inf word") << QByteArray("@wave a=inf\n") << 0 << 1;
        QTest::newRow("dot alone") << QByteArray("@wave a=.\n") << 0 << 1;
        QTest::newRow("exponent without digits") << QByteArray("@wave a=1e\n") << 0 << 1;
        QTest::newRow("plus sign") << QByteArray("@wave a=+3.\n") << 1 << 0;
        QTest::newRow("no space after prefix") << QByteArray("@wave\n") << 0 << 0;
        QTest::newRow("upper case prefix") << QByteArray("@WAVE a=1\n") << 0 << 0;
        QTest::newRow("leading blank") << QByteArray(" @wave a=1\n") << 0 << 0;
        QTest::newRow("chinese name") << QByteArray("@wave 温度=21.5\n") << 1 << 0;
        QTest::newRow("chinese value junk") << QByteArray("@wave 温度=二\n") << 0 << 1;
        QTest::newRow("invalid utf8 name") << QByteArray("@wave \xff=1\n") << 0 << 1;
        QTest::newRow("sixteen fields") << QByteArray("@wave f0=0,f1=1,f2=2,f3=3,f4=4,f5=5,f6=6,f7=7,f8=8,f9=9,f10=10,f11=11,f12=12,f13=13,f14=14,f15=15\n") << 1 << 0;
        QTest::newRow("seventeen fields") << QByteArray("@wave f0=0,f1=1,f2=2,f3=3,f4=4,f5=5,f6=6,f7=7,f8=8,f9=9,f10=10,f11=11,f12=12,f13=13,f14=14,f15=15,f16=16\n") << 0 << 1;
        QTest::newRow("name 64") << QByteArray("@wave " + QByteArray(64, 'n') + "=1\n") << 1 << 0;
        QTest::newRow("name 65") << QByteArray("@wave " + QByteArray(65, 'n') + "=1\n") << 0 << 1;
        QTest::newRow("chinese name 65") << QByteArray("@wave " + QString(65, QChar(0x6e29)).toUtf8() + "=1\n") << 0 << 1;
        QTest::newRow("two lines, text between") << QByteArray("boot ok\r\n@wave a=1\n\n@wave a=2\r") << 2 << 0;
    }

    void lines()
    {
        QFETCH(QByteArray, input);
        QFETCH(int, samples);
        QFETCH(int, rejected);
        Fixture f;
        f.channel->receive(input, QString());
        QCOMPARE(int(f.source().samples.size()), samples);
        QCOMPARE(f.source().rejectedLines, rejected);
        QCOMPARE(f.source().sampleIndex, qint64(samples));
    }

    void values()
    {
        Fixture f;
        f.channel->receive("@wave a=1, b = -2.5e3 ,_c=.5\n", QString());
        const QJsonObject v = f.lastValues();
        QCOMPARE(v.size(), 3);
        QCOMPARE(v.value("a").toDouble(), 1.0);
        QCOMPARE(v.value("b").toDouble(), -2500.0);
        QCOMPARE(v.value("_c").toDouble(), 0.5);
        const QJsonObject sample = f.source().samples.back();
        QCOMPARE(sample.value("index").toInteger(), 1);
        QVERIFY(std::abs(sample.value("time").toDouble() - QDateTime::currentMSecsSinceEpoch() / 1000.0) < 5);
        f.channel->receive("@wave 温度=21.5\n", QString());
        QCOMPARE(f.lastValues().value(QStringLiteral("温度")).toDouble(), 21.5);
    }

    // Every split of the stream into two chunks gives the same samples.
    void splitAtEveryOffset()
    {
        const QByteArray stream("noise\r\n@wave temp=1,温度=-2.5e1\r\n@wave x=3\n@wave bad=\n");
        for (int cut = 0; cut <= stream.size(); ++cut) {
            Fixture f;
            f.channel->receive(stream.left(cut), QString());
            f.channel->receive(stream.mid(cut), QString());
            QCOMPARE(int(f.source().samples.size()), 2);
            QCOMPARE(f.source().rejectedLines, 1);
            QCOMPARE(f.source().samples.front().value("values").toObject().value(QStringLiteral("温度")).toDouble(), -25.0);
        }
        // And byte by byte.
        Fixture f;
        for (char c : stream)
            f.channel->receive(QByteArray(1, c), QString());
        QCOMPARE(int(f.source().samples.size()), 2);
        QCOMPARE(f.source().rejectedLines, 1);
    }

    void longLines()
    {
        Fixture f;
        const QByteArray prefix("@wave a=");
        QByteArray exact = prefix + "1" + QByteArray(8192 - prefix.size() - 1, ' ');
        QCOMPARE(exact.size(), 8192);
        f.channel->receive(exact + "\n", QString());
        QCOMPARE(int(f.source().samples.size()), 1);
        f.channel->receive(exact + " \n", QString());   // 8193 bytes, terminator in the same chunk
        QCOMPARE(f.source().rejectedLines, 1);

        // 9000 bytes without a terminator: counted once, dropped to the next line end.
        f.channel->receive(prefix + QByteArray(9000, '2'), QString());
        QCOMPARE(f.source().rejectedLines, 2);
        f.channel->receive(QByteArray(5000, '3'), QString());
        f.channel->receive("3333\n@wave after=1\n", QString());
        QCOMPARE(f.source().rejectedLines, 2);
        QCOMPARE(int(f.source().samples.size()), 2);
        QCOMPARE(f.lastValues().value("after").toDouble(), 1.0);

        f.channel->receive(QByteArray(9000, 'x'), QString());
        f.channel->receive("\n", QString());
        QCOMPARE(f.source().rejectedLines, 2);
    }

    void sampleLimitAndWaveform()
    {
        Fixture f;
        QByteArray many;
        for (int i = 1; i <= 5001; ++i)
            many += "@wave i=" + QByteArray::number(i) + "\n";
        f.channel->receive(many, QString());
        QCOMPARE(int(f.source().samples.size()), 5000);
        QCOMPARE(f.source().samples.front().value("index").toInteger(), 2);
        const QJsonObject w = f.channel->waveform(10);
        QCOMPARE(w.value("protocol").toString(), QStringLiteral("wave/1"));
        QCOMPARE(w.value("channel_id").toString(), f.channel->id);
        const QJsonObject entry = w.value("sources").toObject().value("default").toObject();
        QCOMPARE(entry.value("total_samples").toInteger(), 5001);
        const QJsonArray samples = entry.value("samples").toArray();
        QCOMPARE(samples.size(), 10);
        QCOMPARE(samples.first().toObject().value("index").toInteger(), 4992);
        QCOMPARE(samples.last().toObject().value("index").toInteger(), 5001);
        for (int n : {0, 5001}) {
            try {
                f.channel->waveform(n);
                QFAIL("waveform accepted an out-of-range count");
            } catch (const std::exception& e) {
                QCOMPARE(errorText(e), QStringLiteral("波形采样范围 1..5000"));
            }
        }
        QCOMPARE(f.channel->waveform(5000).value("sources").toObject().value("default").toObject()
                     .value("samples").toArray().size(), 5000);
    }
};

QTEST_GUILESS_MAIN(WaveTest)
#include "WaveTest.moc"
