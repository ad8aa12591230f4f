#include "ui/window/TickMeter.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <vector>

using namespace vn;

// The tick log's line and how its periods are cut, without a window.
class TickMeterTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void line_data()
    {
        QTest::addColumn<std::vector<double>>("durations");
        QTest::addColumn<QString>("expected");
        QTest::newRow("none") << std::vector<double>{} << QStringLiteral("ticks=0 median_ms=0.00 longest_ms=0.00");
        QTest::newRow("one") << std::vector<double>{3.456} << QStringLiteral("ticks=1 median_ms=3.46 longest_ms=3.46");
        QTest::newRow("odd, unordered") << std::vector<double>{9.0, 1.0, 4.0, 120.5, 2.0}
                                        << QStringLiteral("ticks=5 median_ms=4.00 longest_ms=120.50");
        QTest::newRow("even takes the middle two") << std::vector<double>{7.0, 1.0, 3.0, 5.0}
                                                    << QStringLiteral("ticks=4 median_ms=4.00 longest_ms=7.00");
        QTest::newRow("one slow tick leaves the median") << std::vector<double>{0.5, 0.5, 0.5, 0.5, 250.0, 0.5}
                                                         << QStringLiteral("ticks=6 median_ms=0.50 longest_ms=250.00");
    }
    void line()
    {
        QFETCH(std::vector<double>, durations);
        QFETCH(QString, expected);
        QCOMPARE(TickMeter::line(durations), expected);
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
        QCOMPARE(file.readAll(), QByteArray("ticks=1 median_ms=2.00 longest_ms=2.00\n"
                                            "ticks=1 median_ms=40.00 longest_ms=40.00\n"));
    }
};

QTEST_GUILESS_MAIN(TickMeterTest)
#include "TickMeterTest.moc"
