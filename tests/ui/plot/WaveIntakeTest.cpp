#include "ui/plot/WavePlot.h"

#include "core/Channel.h"
#include "core/Engine.h"

#include <QJsonArray>
#include <QSignalSpy>
#include <QTest>

using namespace vn;

namespace {

// Channels that are never opened: their receive path decodes "@wave" lines all the same.
struct Fixture {
    Engine engine;
    Channel* a = make();
    Channel* b = make();

    Channel* make()
    {
        Config c;
        c.port = QStringLiteral("loop://");
        return new Channel(&engine, c);
    }
};

void feed(Channel* channel, const QString& peer, int count, const QString& fields = QStringLiteral("x=%1"))
{
    QByteArray bytes;
    for (int i = 0; i < count; ++i)
        bytes += "@wave " + fields.arg(i).toUtf8() + "\n";
    channel->receive(bytes, peer);
}

QList<double> xs(const WavePoints& points)
{
    QList<double> out;
    for (const QPointF& p : points)
        out.append(p.x());
    return out;
}

} // namespace

class WaveIntakeTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void curveKeysPerPeer()
    {
        Fixture f;
        WavePlot plot;
        f.a->receive("@wave a=1,b=2\n", QString());
        f.a->receive("@wave a=3,b=4\n", QStringLiteral("10.0.0.2:5000"));
        QVERIFY(plot.updateChannel(f.a, 100));
        QCOMPARE(plot.curves().keys(), (QStringList{"10.0.0.2:5000/a", "10.0.0.2:5000/b", "a", "b"}));
        QCOMPARE(plot.curves().value("a"), (WavePoints{{1, 1}}));
        QCOMPARE(plot.curves().value("10.0.0.2:5000/b"), (WavePoints{{1, 4}}));
        QCOMPARE(plot.channel(), f.a);
        QCOMPARE(plot.sampleLimit(), 100);
    }

    void incrementalWindow()
    {
        Fixture f;
        WavePlot plot;
        feed(f.a, QString(), 250);
        QVERIFY(plot.updateChannel(f.a, 100));
        QCOMPARE(plot.curves().value("x").size(), 100);
        QCOMPARE(plot.curves().value("x").first(), QPointF(151, 150));
        QCOMPARE(plot.curves().value("x").last(), QPointF(250, 249));
        const quint64 revision = plot.dataRevision();
        QVERIFY(!plot.updateChannel(f.a, 100));   // nothing new touches nothing
        QCOMPARE(plot.dataRevision(), revision);
        feed(f.a, QString(), 3);
        QVERIFY(plot.updateChannel(f.a, 100));
        QCOMPARE(plot.dataRevision(), revision + 1);
        const WavePoints x = plot.curves().value("x");
        QCOMPARE(x.size(), 100);
        QCOMPARE(x.first().x(), 154.0);
        QCOMPARE(x.last(), QPointF(253, 2));
        const QList<double> indices = xs(x);
        QVERIFY(std::is_sorted(indices.begin(), indices.end()));
    }

    void sixteenCurveLimit()
    {
        Fixture f;
        WavePlot plot;
        QStringList fields;
        for (int i = 0; i < 16; ++i)
            fields << QStringLiteral("f%1=%2").arg(i, 2, 10, QLatin1Char('0')).arg(i);
        f.a->receive("@wave " + fields.join(',').toUtf8() + "\n", QString());
        f.a->receive("@wave zz=1\n", QString());   // a 17th name, one per line
        f.a->receive("@wave f00=5,zz=2\n", QString());
        plot.updateChannel(f.a, 10);
        QCOMPARE(plot.curves().size(), 16);
        QVERIFY(!plot.curves().contains("zz"));
        QCOMPARE(plot.curves().value("f00").size(), 2);
        // A peer adds nothing while 16 curves exist.
        f.a->receive("@wave y=1\n", QStringLiteral("peer"));
        plot.updateChannel(f.a, 10);
        QCOMPARE(plot.curves().size(), 16);
    }

    void restartedAndVanishedSources()
    {
        Fixture f;
        WavePlot plot;
        feed(f.a, QStringLiteral("p"), 10);
        feed(f.a, QString(), 5);
        plot.updateChannel(f.a, 100);
        QCOMPARE(plot.curves().value("p/x").size(), 10);
        // A new Source for the peer counts from 1 again.
        f.a->sources[QStringLiteral("p")] = std::make_shared<Source>();
        feed(f.a, QStringLiteral("p"), 2, QStringLiteral("x=%1,y=1"));
        QVERIFY(plot.updateChannel(f.a, 100));
        QCOMPARE(plot.curves().value("p/x"), (WavePoints{{1, 0}, {2, 1}}));
        QCOMPARE(plot.curves().value("p/y").size(), 2);
        // A peer the channel erased loses its curves.
        f.a->sources.erase(QStringLiteral("p"));
        QVERIFY(plot.updateChannel(f.a, 100));
        QCOMPARE(plot.curves().keys(), QStringList{"x"});
    }

    void clearingAndRebinding()
    {
        Fixture f;
        WavePlot plot;
        feed(f.a, QString(), 20);
        plot.updateChannel(f.a, 100);
        plot.clearSamples(f.a, 100);
        QVERIFY(plot.curves().isEmpty());
        QVERIFY(!plot.updateChannel(f.a, 100));
        QVERIFY(plot.curves().isEmpty());
        QVERIFY(!plot.sampleIsCurrent("default", 20));
        QVERIFY(plot.sampleIsCurrent("default", 21));
        QVERIFY(plot.sampleIsCurrent("other", 0));
        feed(f.a, QString(), 1);
        QVERIFY(plot.updateChannel(f.a, 100));
        QCOMPARE(plot.curves().value("x"), (WavePoints{{21, 0}}));
        // A new n keeps the clear, another channel forgets it.
        QVERIFY(plot.updateChannel(f.a, 50));
        QCOMPARE(plot.curves().value("x").size(), 1);
        feed(f.b, QString(), 3);
        QVERIFY(plot.updateChannel(f.b, 50));
        QCOMPARE(plot.curves().value("x").size(), 3);
        QVERIFY(plot.updateChannel(f.a, 50));
        QCOMPARE(plot.curves().value("x").size(), 21);
        QVERIFY(plot.sampleIsCurrent("default", 1));
    }

    void destroyedChannelAndNoChannel()
    {
        Fixture f;
        WavePlot plot;
        feed(f.a, QString(), 3);
        plot.updateChannel(f.a, 10);
        delete f.a;
        QCOMPARE(plot.channel(), nullptr);
        QVERIFY(plot.updateChannel(nullptr, 10));
        QVERIFY(plot.curves().isEmpty());
        QVERIFY(!plot.updateChannel(nullptr, 10));
    }

    // The initial sample limit is 0: a tick before the page set n must not
    // read outside the sample queue, and shows nothing.
    void nonPositiveLimitReadsNothing_data()
    {
        QTest::addColumn<int>("n");
        QTest::newRow("zero") << 0;
        QTest::newRow("negative") << -5;
    }

    void nonPositiveLimitReadsNothing()
    {
        QFETCH(int, n);
        Fixture f;
        WavePlot plot;
        feed(f.a, QString(), 7);
        plot.updateChannel(f.a, n);
        QVERIFY(plot.curves().isEmpty());
        feed(f.a, QString(), 2);
        plot.updateChannel(f.a, n);
        QVERIFY(plot.curves().isEmpty());
        QVERIFY(plot.updateChannel(f.a, 4));
        QCOMPARE(plot.curves().value("x").size(), 4);
    }

    void setSamplesReplacesAndUnbinds()
    {
        Fixture f;
        WavePlot plot;
        feed(f.a, QString(), 3);
        plot.updateChannel(f.a, 10);
        plot.setFollowLatest(false);
        QSignalSpy follow(&plot, &WavePlot::followLatestChanged);
        const QJsonObject samples{
            {"sources",
             QJsonObject{{"default", QJsonObject{{"samples", QJsonArray{QJsonObject{{"index", 1}, {"values", QJsonObject{{"x", 5}}}},
                                                                       QJsonObject{{"index", 2}, {"values", QJsonObject{{"x", 5}, {"s", "text"}}}}}}}}}}};
        plot.setSamples(samples);
        QCOMPARE(plot.channel(), nullptr);
        QCOMPARE(plot.curves().value("x"), (WavePoints{{1, 5}, {2, 5}}));
        QCOMPARE(plot.curves().value("s"), (WavePoints{{2, 0}}));
        QCOMPARE(follow.count(), 1);
        QVERIFY(plot.followsLatest());
        plot.setSamples(QJsonObject());
        QVERIFY(plot.curves().isEmpty());
        QCOMPARE(plot.channel(), nullptr);
    }

    void visibilityAndColours()
    {
        Fixture f;
        WavePlot plot;
        QSignalSpy changed(&plot, &WavePlot::presentationChanged);
        plot.setCurveVisible("b", false);   // hidden before it exists
        plot.setCurveVisible("b", false);
        QCOMPARE(changed.count(), 2);
        f.a->receive("@wave a=1,b=2\n", QString());
        plot.updateChannel(f.a, 10);
        QVERIFY(!plot.isCurveVisible("b"));
        QVERIFY(plot.isCurveVisible("a"));
        QCOMPARE(plot.valueRange(), (WaveRange{0.9, 1.1}));   // only a: flat at 1
        QCOMPARE(plot.curveColor("a"), QColor("#dc8c38"));
        QCOMPARE(plot.curveColor("b"), QColor("#477255"));
        // Ordinals are never reused: c, arriving after a and b vanished, is third.
        f.a->sources.clear();
        plot.updateChannel(f.a, 10);
        f.a->receive("@wave c=1\n", QString());
        plot.updateChannel(f.a, 10);
        QCOMPARE(plot.curveColor("c"), QColor("#6c92a0"));
        plot.theme = Theme::make(true);
        QCOMPARE(plot.curveColor("a"), QColor("#edaa50"));
        QCOMPARE(plot.curveColor("unknown"), QColor("#edaa50"));
    }
};

QTEST_MAIN(WaveIntakeTest)
#include "WaveIntakeTest.moc"
