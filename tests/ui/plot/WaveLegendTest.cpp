#include "ui/plot/WavePlot.h"

#include <QJsonArray>
#include <QLayout>
#include <QScrollArea>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

using namespace vn;

namespace {

QJsonObject wave(const QMap<QString, double>& last, int samples = 2)
{
    QJsonArray list;
    for (int i = 1; i <= samples; ++i) {
        QJsonObject values;
        for (auto it = last.cbegin(); it != last.cend(); ++it)
            values.insert(it.key(), i == samples ? it.value() : 0.0);
        list.append(QJsonObject{{"index", i}, {"values", values}});
    }
    return {{"sources", QJsonObject{{"default", QJsonObject{{"samples", list}}}}}};
}

QStringList buttonOrder(WavePlot& plot)
{
    auto* strip = plot.findChild<QScrollArea*>("waveLegend")->widget();
    QStringList keys;
    for (int i = 0; i < strip->layout()->count(); ++i) {
        QWidget* w = strip->layout()->itemAt(i)->widget();
        if (w && w->objectName() == QLatin1String("waveChannel"))
            keys.append(w->property("channelName").toString());
    }
    return keys;
}

QToolButton* button(WavePlot& plot, const QString& key)
{
    for (auto* b : plot.findChildren<QToolButton*>("waveChannel")) {
        if (b->property("channelName").toString() == key)
            return b;
    }
    return nullptr;
}

} // namespace

class WaveLegendTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void emptyRow()
    {
        WavePlot plot;
        plot.resize(600, 400);
        plot.show();   // the resize reaches the legend
        QVERIFY(plot.findChildren<QToolButton*>("waveChannel").isEmpty());
        auto* picker = plot.findChild<QToolButton*>("waveReadoutPicker");
        QVERIFY(picker);
        QCOMPARE(picker->text(), QStringLiteral("读数通道…"));
        QVERIFY(picker->isHidden());
        auto* area = plot.findChild<QScrollArea*>("waveLegend");
        QCOMPARE(area->geometry().topLeft(), QPoint(64, 2));
        QCOMPARE(area->width(), 600 - 88);
        // A chosen readout without samples shows its label over a dash, without the unit.
        plot.restorePresentation({{"readouts", QJsonArray{"temp"}}, {"y_unit", "V"}});
        QVERIFY(!picker->isHidden());
        QToolButton* b = button(plot, "temp");
        QVERIFY(b);
        QCOMPARE(b->text(), QStringLiteral("temp\n—"));
    }

    void valuesUnitsAndTips()
    {
        WavePlot plot;
        plot.resize(800, 400);
        plot.setSamples(wave({{"v", 3.3}, {"big", 0.1234567890123}}));
        plot.restorePresentation({{"y_unit", "V"}});
        QToolButton* v = button(plot, "v");
        QCOMPARE(v->text(), QStringLiteral("v\n3.3 V"));
        QCOMPARE(v->toolTip(), QStringLiteral("v = 3.3 V\n点击显示或隐藏曲线；右键设置颜色、线宽和线型"));
        QVERIFY(v->isCheckable() && v->isChecked());
        QCOMPARE(v->focusPolicy(), Qt::TabFocus);
        QCOMPARE(v->toolButtonStyle(), Qt::ToolButtonTextBesideIcon);
        // A value too wide in its shortest form falls back to 8 digits; the tip keeps it whole.
        QToolButton* big = button(plot, "big");
        const QString wide = QStringLiteral("0.1234567890123 V");
        if (QFontMetrics(plot.font()).horizontalAdvance(wide) > big->width() - 48) {
            QVERIFY(big->text().endsWith(QStringLiteral("0.12345679 V")));
        }
        QVERIFY(big->toolTip().startsWith(QStringLiteral("big = 0.1234567890123 V\n")));
        // The values follow the data.
        plot.setSamples(wave({{"v", -2.5}, {"big", 1}}));
        QCOMPARE(v->text(), QStringLiteral("v\n-2.5 V"));
    }

    void clickHidesAndShows()
    {
        WavePlot plot;
        plot.resize(800, 400);
        plot.setSamples(wave({{"a", 1}, {"b", 2}}));
        QSignalSpy changed(&plot, &WavePlot::presentationChanged);
        QToolButton* a = button(plot, "a");
        const QColor drawn = a->property("curveColor").value<QColor>();
        QCOMPARE(drawn, plot.curveColor("a"));
        QTest::mouseClick(a, Qt::LeftButton);
        QVERIFY(!plot.isCurveVisible("a"));
        QVERIFY(!a->isChecked());
        QCOMPARE(changed.count(), 1);
        QVERIFY(a->styleSheet().contains(plot.theme.muted.name()));
        QCOMPARE(a->property("curveColor").value<QColor>(), plot.theme.line);
        QTest::mouseClick(a, Qt::LeftButton);
        QVERIFY(plot.isCurveVisible("a"));
        QVERIFY(a->styleSheet().contains(plot.theme.text.name()));
        QCOMPARE(a->property("curveColor").value<QColor>(), drawn);
    }

    void readoutOrderAndStyles()
    {
        WavePlot plot;
        plot.resize(900, 400);
        plot.setSamples(wave({{"ch10", 1}, {"ch2", 2}, {"ch1", 3}, {"x", 4}, {"b", 5}}));
        QCOMPARE(buttonOrder(plot), (QStringList{"b", "ch1", "ch2", "ch10"}));
        QToolButton* first = button(plot, "b");
        plot.setReadoutChannels({"x", "b"});
        QCOMPARE(buttonOrder(plot), (QStringList{"x", "b"}));
        QCOMPARE(button(plot, "b"), first);   // kept, only moved
        QVERIFY(!button(plot, "ch1"));
        plot.setCurveStyle("x", {QColor(Qt::red), 0.5, 3});
        QToolButton* x = button(plot, "x");
        QCOMPARE(x->property("curveWidth").toDouble(), 0.5);   // drawn 1.5 wide, remembered as held
        QCOMPARE(x->property("curveLine").toInt(), 3);
        QCOMPARE(x->property("curveColor").value<QColor>(), QColor(Qt::red));
        QCOMPARE(x->iconSize(), QSize(24, 16));
    }

    void themeChangeReachesTheButtonsAtThePaint()
    {
        WavePlot plot;
        plot.resize(800, 400);
        plot.setSamples(wave({{"a", 1}}));
        plot.theme = Theme::make(true);
        plot.renderedImage();
        QCOMPARE(button(plot, "a")->property("curveColor").value<QColor>(), QColor("#edaa50"));
        QVERIFY(button(plot, "a")->styleSheet().contains(Theme::make(true).text.name()));
    }
};

QTEST_MAIN(WaveLegendTest)
#include "WaveLegendTest.moc"
