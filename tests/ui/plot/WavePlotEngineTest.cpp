#include "ui/plot/WavePlot.h"

#include "core/Channel.h"
#include "core/Engine.h"

#include <QTest>
#include <QTimer>
#include <QToolButton>

using namespace vn;

namespace {

// What an instrument page does: on every tick, pull the channel's new samples.
struct Host {
    WavePlot plot;
    QTimer tick;
    QPointer<Channel> channel;
    int n = 0;

    Host(Channel* source, int samples)
        : channel(source)
        , n(samples)
    {
        plot.resize(800, 420);
        plot.show();
        QObject::connect(&tick, &QTimer::timeout, &plot, [this] { plot.updateChannel(channel, n); });
        tick.start(16);
    }
};

} // namespace

class WavePlotEngineTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void demoChannelFeedsThePlot()
    {
        Engine engine;
        Channel* demo = engine.waveformDemo();
        Host host(demo, 200);
        QTRY_COMPARE(host.plot.curves().size(), 4);
        QCOMPARE(host.plot.curves().keys(), (QStringList{"sawtooth", "sine", "square", "triangle"}));
        const WavePoints& sine = host.plot.curves().value("sine");
        QCOMPARE(sine.size(), 200);
        const double newest = sine.last().x();
        // The generator adds a sample every 20 ms; the plot follows it.
        QTRY_VERIFY(host.plot.curves().value("sine").last().x() > newest + 2);
        QCOMPARE(host.plot.curves().value("sine").size(), 200);
        QCOMPARE(host.plot.horizontalRange().second, host.plot.curves().value("sine").last().x());
        QCOMPARE(host.plot.curveLabel("sine"), QStringLiteral("正弦波"));
        const QString sineButton = [&] {
            for (auto* b : host.plot.findChildren<QToolButton*>("waveChannel")) {
                if (b->property("channelName") == QStringLiteral("sine"))
                    return b->text();
            }
            return QString();
        }();
        QVERIFY(sineButton.startsWith(QStringLiteral("正弦波\n")));
        // The samples agree with the channel's own waveform read.
        host.tick.stop();
        host.plot.updateChannel(demo, 200);
        const QJsonArray samples =
            demo->waveform(1).value("sources").toObject().value("default").toObject().value("samples").toArray();
        const QJsonObject last = samples.last().toObject();
        QCOMPARE(host.plot.curves().value("square").last(),
                 QPointF(double(last.value("index").toInteger()),
                         last.value("values").toObject().value("square").toDouble()));
        const QImage image = host.plot.renderedImage();
        QVERIFY(!image.isNull());
    }

    void loopbackLinesBecomeCurves()
    {
        Engine engine;
        Config config;
        config.port = QStringLiteral("loop://");
        Channel* loop = engine.open(config);
        QTRY_COMPARE(loop->state, QStringLiteral("connected"));
        Host host(loop, 100);
        loop->send(Engine::encode(QStringLiteral("@wave temp=21.5,hum=40"), false, QStringLiteral("utf-8"),
                                  QStringLiteral("crlf")));
        QTRY_COMPARE(host.plot.curves().size(), 2);
        QCOMPARE(host.plot.curves().value("temp"), (WavePoints{{1, 21.5}}));
        loop->send(Engine::encode(QStringLiteral("@wave temp=22,hum=41\n@wave temp=23,hum=42"), false,
                                  QStringLiteral("utf-8"), QStringLiteral("lf")));
        QTRY_COMPARE(host.plot.curves().value("hum").size(), 3);
        QCOMPARE(host.plot.curves().value("hum").last(), QPointF(3, 42));
        // A clear hides what exists; the next line is the only point.
        host.plot.clearSamples(loop, 100);
        QVERIFY(host.plot.curves().isEmpty());
        loop->send("@wave temp=30\n");
        QTRY_COMPARE(host.plot.curves().value("temp"), (WavePoints{{4, 30}}));
        QVERIFY(!host.plot.sampleIsCurrent("default", 3));
        // The channel going away leaves the plot unbound and, next tick, empty.
        engine.remove(loop->id);
        QTRY_VERIFY(host.plot.curves().isEmpty());
        QCOMPARE(host.plot.channel(), nullptr);
    }
};

QTEST_MAIN(WavePlotEngineTest)
#include "WavePlotEngineTest.moc"
