#include "ui/window/LoopProbe.h"
#include "ui/window/TickMeter.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <vector>

using namespace vn;

// Pieces of a tick-log line by key.
QMap<QString, QString> fields(const QByteArray& line)
{
    QMap<QString, QString> out;
    for (const QByteArray& part : line.trimmed().split(' ')) {
        const qsizetype at = part.indexOf('=');
        out.insert(QString::fromUtf8(part.left(at)), QString::fromUtf8(part.mid(at + 1)));
    }
    return out;
}

// The tick log's line and how its periods are cut, without a window.
class TickMeterTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void line_data()
    {
        QTest::addColumn<std::vector<double>>("durations");
        QTest::addColumn<double>("loop");
        QTest::addColumn<QString>("expected");
        QTest::newRow("none") << std::vector<double>{} << 0.0
                              << QStringLiteral("ticks=0 median_ms=0.00 longest_ms=0.00 loop_longest_ms=0.00");
        QTest::newRow("one") << std::vector<double>{3.456} << 10.004
                             << QStringLiteral("ticks=1 median_ms=3.46 longest_ms=3.46 loop_longest_ms=10.00");
        QTest::newRow("odd, unordered") << std::vector<double>{9.0, 1.0, 4.0, 120.5, 2.0} << 131.25
                                        << QStringLiteral("ticks=5 median_ms=4.00 longest_ms=120.50 loop_longest_ms=131.25");
        QTest::newRow("even takes the middle two") << std::vector<double>{7.0, 1.0, 3.0, 5.0} << 12.0
                                                    << QStringLiteral("ticks=4 median_ms=4.00 longest_ms=7.00 loop_longest_ms=12.00");
        QTest::newRow("one slow tick leaves the median") << std::vector<double>{0.5, 0.5, 0.5, 0.5, 250.0, 0.5} << 260.5
                                                         << QStringLiteral("ticks=6 median_ms=0.50 longest_ms=250.00 loop_longest_ms=260.50");
        // A stall outside the tick shows in the loop's figure only.
        QTest::newRow("stall between ticks") << std::vector<double>{1.0, 2.0} << 1700.0
                                             << QStringLiteral("ticks=2 median_ms=1.50 longest_ms=2.00 loop_longest_ms=1700.00");
    }
    void line()
    {
        QFETCH(std::vector<double>, durations);
        QFETCH(double, loop);
        QFETCH(QString, expected);
        QCOMPARE(TickMeter::line(durations, loop), expected);
    }

    // Work the loop does outside any tick, here a queued call that keeps the
    // thread for a while, is a gap between two of the probe's timeouts.
    void loopProbeSeesWorkOutsideTheTick()
    {
        LoopProbe probe;
        probe.start();
        int timeouts = 0;
        QTimer counter;
        counter.setInterval(LoopProbe::DefaultPeriodMs);
        connect(&counter, &QTimer::timeout, this, [&timeouts] { ++timeouts; });
        counter.start();
        QTRY_VERIFY_WITH_TIMEOUT(timeouts >= 3, 20000);
        QMetaObject::invokeMethod(this, [] { QThread::msleep(150); }, Qt::QueuedConnection);
        const int before = timeouts;
        QTRY_VERIFY_WITH_TIMEOUT(timeouts >= before + 3, 20000);
        QVERIFY2(probe.longestMs() >= 150.0, qPrintable(QString::number(probe.longestMs())));
        QVERIFY(probe.takeLongestMs() >= 150.0);
        // A new measure forgets the stall.
        QTRY_VERIFY_WITH_TIMEOUT(probe.longestMs() > 0.0, 20000);
        QVERIFY(probe.running());
        probe.stop();
        QVERIFY(!probe.running());
    }

    // A period's ticks build up to one line; the next line starts afresh.
    void periodsAreLoggedApart()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("ticks.log"));
        TickMeter hour(path, 3600 * 1000);
        hour.record(1.0);
        hour.record(3.0);
        QVERIFY(!QFile::exists(path));

        TickMeter each(path, 0);
        each.record(2.0);
        each.record(40.0);
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = file.readAll().split('\n');
        QCOMPARE(lines.size(), 3);
        QVERIFY(lines.last().isEmpty());
        const QStringList tick{QStringLiteral("2.00"), QStringLiteral("40.00")};
        for (int index = 0; index < 2; ++index) {
            const QMap<QString, QString> line = fields(lines[index]);
            QCOMPARE(line.keys(), (QStringList{QStringLiteral("longest_ms"), QStringLiteral("loop_longest_ms"),
                                               QStringLiteral("median_ms"), QStringLiteral("ticks")}));
            QCOMPARE(line.value(QStringLiteral("ticks")), QStringLiteral("1"));
            QCOMPARE(line.value(QStringLiteral("longest_ms")), tick[index]);
            bool number = false;
            QVERIFY(line.value(QStringLiteral("loop_longest_ms")).toDouble(&number) >= 0.0);
            QVERIFY(number);
        }
    }
};

QTEST_GUILESS_MAIN(TickMeterTest)
#include "TickMeterTest.moc"
