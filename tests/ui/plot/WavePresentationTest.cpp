#include "ui/plot/WavePlot.h"

#include "core/Channel.h"
#include "core/Engine.h"

#include <QJsonArray>
#include <QSignalSpy>
#include <QTest>

using namespace vn;

class WavePresentationTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void emptyObjectGivesDefaults()
    {
        const WavePresentation p = WavePresentation::fromJson(QJsonObject());
        QCOMPARE(p.defaultStyle, WaveCurveStyle());
        QVERIFY(p.curveStyles.isEmpty() && p.hiddenCurves.isEmpty());
        QVERIFY(!p.readoutsChosen);
        QCOMPARE(p.xTitle, QStringLiteral("采样序号"));
        QVERIFY(p.yTitle.isEmpty() && p.xUnit.isEmpty() && p.yUnit.isEmpty());
        QCOMPARE(p.xIncrement, 1.0);
        const QJsonObject json = p.json();
        QCOMPARE(json.keys(), (QStringList{"curves", "defaults", "hidden", "readouts", "x_increment", "x_title",
                                           "x_unit", "y_title", "y_unit"}));
        QVERIFY(json.value("readouts").isNull());
        QCOMPARE(json.value("defaults").toObject(), (QJsonObject{{"color", ""}, {"width", 1.0}, {"line", 1}}));
    }

    void texts_data()
    {
        QTest::addColumn<QJsonValue>("title");
        QTest::addColumn<QString>("expected");
        QTest::newRow("missing") << QJsonValue(QJsonValue::Undefined) << QStringLiteral("采样序号");
        QTest::newRow("not a string") << QJsonValue(3) << QStringLiteral("采样序号");
        QTest::newRow("empty stays empty") << QJsonValue(QString()) << QString();
        QTest::newRow("controls dropped") << QJsonValue(QStringLiteral(" A\tB\n ")) << QStringLiteral("AB");
        QTest::newRow("controls dropped beside a lone surrogate")
            << QJsonValue(QStringLiteral("A\tB\n") + QChar(0xd83d)) << QStringLiteral("AB") + QChar(0xd83d);
        QTest::newRow("cut at 64") << QJsonValue(QString(70, QLatin1Char('t'))) << QString(64, QLatin1Char('t'));
        QTest::newRow("cut leaves no blank at the end")
            << QJsonValue(QString(62, QLatin1Char('t')) + QStringLiteral("  x")) << QString(62, QLatin1Char('t'));
        QTest::newRow("cut keeps a surrogate pair whole")
            << QJsonValue(QString(63, QLatin1Char('t')) + QStringLiteral("\U0001F600")) << QString(63, QLatin1Char('t'));
    }

    void texts()
    {
        QFETCH(QJsonValue, title);
        QFETCH(QString, expected);
        QJsonObject object{{"x_unit", QString(30, QLatin1Char('u'))}};
        if (!title.isUndefined())
            object.insert("x_title", title);
        const WavePresentation p = WavePresentation::fromJson(object);
        QCOMPARE(p.xTitle, expected);
        QCOMPARE(p.xUnit, QString(24, QLatin1Char('u')));
        QCOMPARE(p.xAxisLabel(), expected.isEmpty() ? p.xUnit : expected + " (" + p.xUnit + ")");
    }

    void increments_data()
    {
        QTest::addColumn<QJsonValue>("value");
        QTest::addColumn<double>("expected");
        QTest::newRow("zero") << QJsonValue(0) << 1.0;
        QTest::newRow("negative") << QJsonValue(-1) << 1.0;
        QTest::newRow("too large") << QJsonValue(2e9) << 1.0;
        QTest::newRow("string") << QJsonValue("0.5") << 1.0;
        QTest::newRow("smallest") << QJsonValue(1e-9) << 1e-9;
        QTest::newRow("largest") << QJsonValue(1e9) << 1e9;
        QTest::newRow("fraction") << QJsonValue(0.000125) << 0.000125;
    }

    void increments()
    {
        QFETCH(QJsonValue, value);
        QFETCH(double, expected);
        QCOMPARE(WavePresentation::fromJson({{"x_increment", value}}).xIncrement, expected);
    }

    void styles_data()
    {
        QTest::addColumn<QJsonObject>("object");
        QTest::addColumn<QColor>("color");
        QTest::addColumn<double>("width");
        QTest::addColumn<int>("line");
        QTest::newRow("clamped") << QJsonObject{{"color", "#FF0000"}, {"width", 20}, {"line", 7}} << QColor(Qt::red)
                                 << 8.0 << 1;
        QTest::newRow("thin") << QJsonObject{{"width", 0.1}} << QColor() << 0.5 << 1;
        QTest::newRow("not a colour") << QJsonObject{{"color", "nonsense"}, {"line", 3}} << QColor() << 1.0 << 3;
        QTest::newRow("keyword") << QJsonObject{{"color", "teal"}, {"width", 2.5}} << QColor("teal") << 2.5 << 1;
        QTest::newRow("alpha kept") << QJsonObject{{"color", "#80102030"}} << QColor::fromRgb(0x10, 0x20, 0x30, 0x80)
                                    << 1.0 << 1;
    }

    void styles()
    {
        QFETCH(QJsonObject, object);
        QFETCH(QColor, color);
        QFETCH(double, width);
        QFETCH(int, line);
        const WaveCurveStyle style = readStyle(object);
        QCOMPARE(style.color, color);
        QCOMPARE(style.width, width);
        QCOMPARE(style.line, line);
    }

    void readoutLists()
    {
        const WavePresentation p = WavePresentation::fromJson(
            {{"readouts", QJsonArray{"a", "a", "", "b", "c", "d", "e"}}});
        QVERIFY(p.readoutsChosen);
        QCOMPARE(p.readouts, (QStringList{"a", "b", "c", "d"}));
        const WavePresentation empty = WavePresentation::fromJson({{"readouts", QJsonArray()}});
        QVERIFY(empty.readoutsChosen && empty.readouts.isEmpty());
        QVERIFY(!WavePresentation::fromJson({{"readouts", "a"}}).readoutsChosen);
        WavePresentation automatic;
        QCOMPARE(automatic.readoutChannels({"ch10", "ch2", "ch1", "x", "b"}), (QStringList{"b", "ch1", "ch2", "ch10"}));
        automatic.setReadoutChannels({"a", "b", "a", "c", "d", "e"});
        QCOMPARE(automatic.readouts, (QStringList{"a", "b", "c", "d"}));
        QVERIFY(automatic.readoutsChosen);
    }

    void roundTrip()
    {
        WavePresentation p;
        p.defaultStyle = {QColor("#123456"), 2.5, 2};
        p.curveStyles.insert("a", {QColor::fromRgb(1, 2, 3, 100), 0.5, 4});
        p.curveStyles.insert("peer/b", {QColor(), 3, 3});
        p.hiddenCurves = {"z", "a", "B"};
        p.setReadoutChannels({"a", "peer/b"});
        p.xTitle = "时间";
        p.yTitle = "电压";
        p.xUnit = "ms";
        p.yUnit = "V";
        p.xIncrement = 0.25;
        const QJsonObject json = p.json();
        QCOMPARE(json.value("hidden").toArray(), (QJsonArray{"B", "a", "z"}));
        QCOMPARE(json.value("curves").toObject().value("a").toObject().value("color").toString(),
                 QStringLiteral("#010203"));
        const WavePresentation back = WavePresentation::fromJson(json);
        QCOMPARE(back.json(), json);
        QCOMPARE(back.curveStyles.value("a").color, QColor(1, 2, 3));   // only the alpha is lost
        QCOMPARE(back.hiddenCurves, p.hiddenCurves);
        QCOMPARE(back.readouts, p.readouts);
        QCOMPARE(back.yAxisLabel(), QStringLiteral("电压 (V)"));
    }

    void plotOperations()
    {
        WavePlot plot;
        QSignalSpy changed(&plot, &WavePlot::presentationChanged);
        plot.setCurveStyle("a", {QColor(Qt::blue), 30, 9});
        QCOMPARE(plot.curveStyle("a"), (WaveCurveStyle{QColor(Qt::blue), 8, 1}));
        QCOMPARE(plot.curveColor("a"), QColor(Qt::blue));
        plot.resetCurveStyle("a");
        plot.resetCurveStyle("a");   // without an own style it still reports
        QCOMPARE(changed.count(), 3);
        QCOMPARE(plot.curveStyle("a"), WaveCurveStyle());
        plot.setReadoutChannels({"x"});
        QCOMPARE(changed.count(), 4);
        plot.restorePresentation(QJsonObject());   // restoring reports nothing
        QCOMPARE(changed.count(), 4);
        QVERIFY(!plot.presentation().readoutsChosen);
    }

    void demoLabels()
    {
        Engine engine;
        WavePlot plot;
        QCOMPARE(plot.curveLabel("sine"), QStringLiteral("sine"));
        Channel* demo = engine.waveformDemo();
        plot.updateChannel(demo, 100);
        QCOMPARE(plot.curveLabel("sine"), QStringLiteral("正弦波"));
        QCOMPARE(plot.curveLabel("square"), QStringLiteral("方波"));
        QCOMPARE(plot.curveLabel("triangle"), QStringLiteral("三角波"));
        QCOMPARE(plot.curveLabel("sawtooth"), QStringLiteral("锯齿波"));
        QCOMPARE(plot.curveLabel("peer/sine"), QStringLiteral("peer/sine"));
        QCOMPARE(plot.curveLabel("Sine"), QStringLiteral("Sine"));
        Config other;
        other.port = QStringLiteral("loop://");
        auto* loop = new Channel(&engine, other);
        plot.updateChannel(loop, 100);
        QCOMPARE(plot.curveLabel("sine"), QStringLiteral("sine"));
    }
};

QTEST_MAIN(WavePresentationTest)
#include "WavePresentationTest.moc"
