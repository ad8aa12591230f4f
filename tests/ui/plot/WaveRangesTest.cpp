#include "ui/plot/WavePlot.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QJsonArray>
#include <QLocale>
#include <QMenu>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QWheelEvent>

#include <cfloat>
#include <cmath>

using namespace vn;

namespace {

// A plot showing the field "v" of the given samples (index, value).
QJsonObject wave(const QList<QPointF>& points, const QString& field = QStringLiteral("v"))
{
    QJsonArray samples;
    for (const QPointF& p : points)
        samples.append(QJsonObject{{"index", p.x()}, {"values", QJsonObject{{field, p.y()}}}});
    return {{"sources", QJsonObject{{"default", QJsonObject{{"samples", samples}}}}}};
}

QList<QPointF> ramp(int from, int to)
{
    QList<QPointF> points;
    for (int i = from; i <= to; ++i)
        points.append(QPointF(i, i % 7));
    return points;
}

bool wheel(WavePlot& plot, const QPointF& at, QPoint angle, Qt::KeyboardModifiers modifiers = Qt::NoModifier,
           QPoint pixels = QPoint())
{
    QWheelEvent event(at, plot.mapToGlobal(at), pixels, angle, Qt::NoButton, modifiers, Qt::NoScrollPhase, false);
    event.setAccepted(false);
    QApplication::sendEvent(&plot, &event);
    return event.isAccepted();
}

void mouse(WavePlot& plot, QEvent::Type type, const QPointF& at, Qt::MouseButton button, Qt::MouseButtons held)
{
    QMouseEvent event(type, at, plot.mapToGlobal(at), button, held, Qt::NoModifier);
    QApplication::sendEvent(&plot, &event);
}

double width(const WaveRange& r)
{
    return r.second - r.first;
}

struct Plot : WavePlot {
    Plot()
    {
        resize(800, 500);
        show();
    }
};

} // namespace

class WaveRangesTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void emptyAndSingle()
    {
        Plot plot;
        QCOMPARE(plot.sampleBounds(), (WaveRange{0, 1}));
        QCOMPARE(plot.valueRange(), (WaveRange{-0.1, 1.1}));
        QVERIFY(!wheel(plot, plot.plotArea().center(), {0, 120}));
        mouse(plot, QEvent::MouseButtonPress, plot.plotArea().center(), Qt::LeftButton, Qt::LeftButton);
        QVERIFY(plot.followsLatest());
        plot.setSamples(wave({{7, 5}}));
        QCOMPARE(plot.sampleBounds(), (WaveRange{7, 8}));
        QCOMPARE(plot.valueRange(), (WaveRange{4.5, 5.5}));
        plot.setSamples(wave({{1, 0}, {2, 0}}));
        QCOMPARE(plot.valueRange(), (WaveRange{-0.001, 0.001}));
    }

    void zoomLimits()
    {
        // x: never narrower than one index, never wider than 50000.
        QCOMPARE(width(scaledRange({0, 10}, 0.5, 1000, true)), 1.0);
        QCOMPARE(width(scaledRange({0, 10}, 0.5, 1e-6, true)), 50000.0);
        // y: the span stops at the resolution of doubles near the anchor.
        WaveRange y{1e6 - 1, 1e6 + 1};
        for (int i = 0; i < 400; ++i)
            y = scaledRange(y, 0.5, 1.15, false);
        QVERIFY(std::abs(width(y) / (16 * DBL_EPSILON * 1e6) - 1) < 0.1);
        WaveRange z{-1, 1};
        for (int i = 0; i < 6000; ++i)
            z = scaledRange(z, 0.5, 1.15, false);
        QVERIFY(width(z) >= 1e-300 && width(z) < 2e-300);
        // Leaving the doubles keeps the old range or clamps to ±DBL_MAX.
        QCOMPARE(width(scaledRange({-1e308, 1e308}, 0.5, 1e-3, false)), DBL_MAX);
        QCOMPARE(scaledRange({1e308, 1.7e308}, 1.0, 1e-3, false).second, 1.7e308);
        QCOMPARE(translatedRange({1e308, 1.5e308}, 10), (WaveRange{1e308, 1.5e308}));
        QCOMPARE(translatedRange({0, 10}, -0.5), (WaveRange{-5, 5}));
    }

    void following()
    {
        Plot plot;
        plot.setSamples(wave(ramp(1, 250)));
        QCOMPARE(plot.horizontalRange(), (WaveRange{1, 250}));
        // Zoom x to some width, then follow again: that width is the window.
        QVERIFY(wheel(plot, QPointF(plot.plotArea().center().x(), plot.plotArea().bottom() + 10), {0, 360}));
        QVERIFY(!plot.followsLatest());
        const double w = width(plot.horizontalRange());
        QVERIFY(std::abs(w - 249 / std::pow(1.15, 3)) < 1e-9);
        const WaveRange yShown = plot.verticalRange();
        QSignalSpy follow(&plot, &WavePlot::followLatestChanged);
        plot.setFollowLatest(true);
        QCOMPARE(follow.count(), 1);
        QCOMPARE(plot.horizontalRange(), (WaveRange{250 - w, 250}));
        plot.setSamples(wave(ramp(1, 20)));   // a reset: all samples again
        QCOMPARE(plot.horizontalRange(), (WaveRange{1, 20}));
        QCOMPARE(follow.count(), 1);
        Q_UNUSED(yShown);
    }

    void frozenYAfterFollowing()
    {
        Plot plot;
        plot.setSamples(wave(ramp(1, 100)));
        plot.setFollowLatest(false);
        const WaveRange shown = plot.verticalRange();
        plot.setFollowLatest(true);
        plot.setSamples(wave({{1, 100}, {2, 200}}));   // resets y to automatic
        QCOMPARE(plot.verticalRange(), plot.valueRange());
        plot.setFollowLatest(false);
        plot.setFollowLatest(true);
        QCOMPARE(plot.verticalRange(), plot.valueRange());
        QVERIFY(shown != plot.verticalRange());
    }

    void wheelAxes_data()
    {
        QTest::addColumn<QString>("where");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<bool>("xChanges");
        QTest::addColumn<bool>("yChanges");
        QTest::newRow("inside") << "inside" << 0 << true << true << true;
        QTest::newRow("inside shift") << "inside" << int(Qt::ShiftModifier) << true << true << false;
        QTest::newRow("inside ctrl") << "inside" << int(Qt::ControlModifier) << true << false << true;
        QTest::newRow("inside both") << "inside" << int(Qt::ShiftModifier | Qt::ControlModifier) << true << false
                                     << false;
        QTest::newRow("x strip") << "x strip" << 0 << true << true << false;
        QTest::newRow("y strip") << "y strip" << 0 << true << false << true;
        QTest::newRow("corner edge") << "left edge below" << 0 << true << false << false;
        QTest::newRow("above") << "above" << 0 << false << false << false;
        QTest::newRow("right") << "right" << 0 << false << false << false;
    }

    void wheelAxes()
    {
        QFETCH(QString, where);
        QFETCH(int, modifiers);
        QFETCH(bool, accepted);
        QFETCH(bool, xChanges);
        QFETCH(bool, yChanges);
        Plot plot;
        plot.setSamples(wave(ramp(1, 500)));
        const QRectF a = plot.plotArea();
        const QMap<QString, QPointF> points{{"inside", a.center()},
                                            {"x strip", QPointF(a.center().x(), a.bottom() + 20)},
                                            {"y strip", QPointF(a.left() - 20, a.center().y())},
                                            {"left edge below", QPointF(a.left(), a.bottom() + 20)},
                                            {"above", QPointF(a.center().x(), a.top() - 10)},
                                            {"right", QPointF(a.right() + 10, a.center().y())}};
        const WaveRange x = plot.horizontalRange();
        const WaveRange y = plot.verticalRange();
        QCOMPARE(wheel(plot, points.value(where), {0, 120}, Qt::KeyboardModifiers(modifiers)), accepted);
        QCOMPARE(plot.horizontalRange() != x, xChanges);
        QCOMPARE(plot.verticalRange() != y, yChanges);
    }

    void wheelSteps_data()
    {
        QTest::addColumn<QPoint>("angle");
        QTest::addColumn<QPoint>("pixels");
        QTest::addColumn<double>("steps");
        QTest::newRow("one notch") << QPoint(0, 120) << QPoint() << 1.0;
        QTest::newRow("three notches") << QPoint(0, 360) << QPoint() << 3.0;
        QTest::newRow("2000 counts as 6") << QPoint(0, 2000) << QPoint() << 6.0;
        QTest::newRow("back") << QPoint(0, -240) << QPoint() << -2.0;
        // Smooth-scrolling devices send a fraction of a notch per event.
        QTest::newRow("smooth quarter") << QPoint(0, 30) << QPoint() << 0.25;
        QTest::newRow("smooth eighth") << QPoint(0, -15) << QPoint() << -0.125;
        QTest::newRow("pixels only") << QPoint() << QPoint(0, 40) << 0.5;
    }

    void wheelSteps()
    {
        QFETCH(QPoint, angle);
        QFETCH(QPoint, pixels);
        QFETCH(double, steps);
        Plot plot;
        plot.setSamples(wave(ramp(1, 1000)));
        const WaveRange y = plot.verticalRange();
        QVERIFY(wheel(plot, plot.plotArea().center(), angle, Qt::ControlModifier, pixels));
        QVERIFY(std::abs(width(y) / width(plot.verticalRange()) - std::pow(1.15, steps)) < 1e-9);
    }

    void wheelKeepsTheSampleUnderThePointer()
    {
        Plot plot;
        plot.setSamples(wave(ramp(1, 1000)));
        const QRectF a = plot.plotArea();
        const QPointF at(a.left() + a.width() * 0.3, a.center().y());
        const WaveRange before = plot.horizontalRange();
        const double under = before.first + width(before) * 0.3;
        wheel(plot, at, {0, 240}, Qt::ShiftModifier);
        const WaveRange after = plot.horizontalRange();
        const QRectF b = plot.plotArea();
        QVERIFY(std::abs(after.first + width(after) * (at.x() - b.left()) / b.width() - under) < 1e-6);
    }

    void panAndReset()
    {
        Plot plot;
        plot.setSamples(wave(ramp(1, 1000)));
        const QRectF a = plot.plotArea();
        const WaveRange x = plot.horizontalRange();
        const WaveRange y = plot.verticalRange();
        QSignalSpy follow(&plot, &WavePlot::followLatestChanged);
        const QPointF start = a.center();
        mouse(plot, QEvent::MouseButtonPress, start, Qt::LeftButton, Qt::LeftButton);
        QCOMPARE(plot.cursor().shape(), Qt::ClosedHandCursor);
        QCOMPARE(follow.count(), 1);
        const QPointF end = start + QPointF(a.width() / 10, a.height() / 5);
        mouse(plot, QEvent::MouseMove, end, Qt::NoButton, Qt::LeftButton);
        QCOMPARE(plot.plotArea(), a);   // fixed while panning
        const WaveRange px = plot.horizontalRange();
        const WaveRange py = plot.verticalRange();
        QVERIFY(std::abs(px.first - (x.first - width(x) / 10)) < 1e-9);
        QVERIFY(std::abs(py.first - (y.first + width(y) / 5)) < 1e-9);
        mouse(plot, QEvent::MouseButtonRelease, end, Qt::LeftButton, Qt::NoButton);
        mouse(plot, QEvent::MouseButtonDblClick, end, Qt::LeftButton, Qt::LeftButton);
        QVERIFY(plot.followsLatest());
        QCOMPARE(follow.count(), 2);
        QCOMPARE(plot.horizontalRange(), x);
        QCOMPARE(plot.verticalRange(), plot.valueRange());
        mouse(plot, QEvent::MouseButtonDblClick, end, Qt::LeftButton, Qt::LeftButton);
        QCOMPARE(follow.count(), 2);   // already following: no signal
    }

    void hoverReadout()
    {
        Plot plot;
        plot.setSamples({{"sources", QJsonObject{{"default", QJsonObject{{"samples", QJsonArray{
            QJsonObject{{"index", 10}, {"values", QJsonObject{{"a", 1.0}, {"b", 3.25}}}},
            QJsonObject{{"index", 20}, {"values", QJsonObject{{"a", 2.0}, {"b", 4.5}}}}}}}}}}});
        const QRectF area = plot.plotArea();
        const WaveRange x = plot.horizontalRange();
        const WaveRange y = plot.verticalRange();
        const auto at = [&](double sx, double sy) {
            return QPointF(area.left() + (sx - x.first) / width(x) * area.width(),
                           area.bottom() - (sy - y.first) / width(y) * area.height());
        };
        QCOMPARE(plot.inspect(at(19, 4.4)), (QJsonObject{{"channel", "b"}, {"sample", 20.0}, {"value", 4.5}}));
        QCOMPARE(plot.inspect(at(11, 1.1)), (QJsonObject{{"channel", "a"}, {"sample", 10.0}, {"value", 1.0}}));
        QVERIFY(plot.inspect(QPointF(area.left() - 5, area.center().y())).isEmpty());
        plot.setCurveVisible("b", false);   // y returns to automatic over a
        const WaveRange ya = plot.verticalRange();
        const QJsonObject hit = plot.inspect(QPointF(area.right() - 1, area.top() + 1));
        QCOMPARE(hit.value("channel").toString(), QStringLiteral("a"));
        QVERIFY(ya != y);

        QCOMPARE(plot.readoutLines(hit), (QStringList{"a", "值  2", "采样  #20"}));
        plot.restorePresentation({{"y_unit", "V"}, {"x_increment", 0.5}, {"x_unit", "ms"}, {"hidden", QJsonArray{"b"}}});
        QCOMPARE(plot.readoutLines(hit), (QStringList{"a", "值  2 V", "采样  #20", "X  10 ms"}));

        // The copy action takes the hovered sample as one compact line.
        QApplication::clipboard()->clear();
        const QPointF over = at(20, 2.0);
        QTest::mouseMove(&plot, over.toPoint());
        auto* copy = plot.findChild<QAction*>("copyWaveReadout");
        QVERIFY(copy && copy->isEnabled());
        QCOMPARE(copy->shortcut(), QKeySequence(QKeySequence::Copy));
        copy->trigger();
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("{\"channel\":\"a\",\"sample\":20,\"value\":2}"));
        QTest::mouseMove(&plot, QPoint(2, 2));
        QVERIFY(!copy->isEnabled());
    }

    // Any finite value the wave parser takes keeps a labelled y axis: the
    // automatic range, zooming and panning stay finite, every tick gets its
    // own label inside the widget, and the readout shows the value as it is.
    void extremeSamplesKeepALabelledAxis_data()
    {
        QTest::addColumn<QList<double>>("values");
        const double ulp300 = std::nextafter(1e300, 2e300) - 1e300;
        QTest::newRow("both ends of the doubles") << QList<double>{DBL_MAX, -DBL_MAX};
        QTest::newRow("1e308 and -1e308") << QList<double>{1e308, -1e308, 0};
        QTest::newRow("lone DBL_MAX") << QList<double>{DBL_MAX};
        QTest::newRow("lone -DBL_MAX") << QList<double>{-DBL_MAX};
        QTest::newRow("near DBL_MAX") << QList<double>{DBL_MAX, DBL_MAX * 0.999999};
        QTest::newRow("tiny span near a huge value") << QList<double>{1e300, 1e300 + 64 * ulp300};
        QTest::newRow("subnormals") << QList<double>{5e-324, 1e-310, -4e-320};
        QTest::newRow("huge and subnormal") << QList<double>{DBL_MAX, 5e-324};
        QTest::newRow("-DBL_MAX and smallest normal") << QList<double>{-DBL_MAX, DBL_MIN};
    }

    void extremeSamplesKeepALabelledAxis()
    {
        QFETCH(QList<double>, values);
        QList<QPointF> points;
        for (int i = 0; i < 60; ++i)
            points.append(QPointF(i + 1, values.at(i % values.size())));
        Plot plot;
        plot.setSamples(wave(points));

        const auto check = [&](const char* step) {
            const WaveRange y = plot.verticalRange();
            const QString where = QString::fromLatin1(step) + QStringLiteral(": ")
                                  + QString::number(y.first, 'g', 17) + QStringLiteral(" .. ")
                                  + QString::number(y.second, 'g', 17);
            QVERIFY2(std::isfinite(y.first) && std::isfinite(y.second) && y.first < y.second, qPrintable(where));
            const QRectF area = plot.plotArea();
            QVERIFY2(QRectF(plot.rect()).contains(area), qPrintable(where));
            const WaveTicks ticks = axisGrid(y, area.height(), 60, false);
            QVERIFY2(ticks.majors.size() >= 2, qPrintable(where));
            QStringList labels;
            for (double v : ticks.majors) {
                // A tick may lie within a hair of a step past an end.
                const double slack = ticks.step * 1e-6;
                QVERIFY2(std::isfinite(v) && v >= y.first - slack && v <= y.second + slack, qPrintable(where));
                labels.append(waveAxisText(v, ticks.step));
            }
            QCOMPARE(QSet<QString>(labels.cbegin(), labels.cend()).size(), labels.size());
            // The labels are drawn: the band left of the plot carries ink.
            const QImage& image = plot.renderedImage();
            const QRgb panel = plot.theme.panel.rgb();
            int ink = 0;
            for (int x = 0; x < int(area.left()) - 4; ++x)
                for (int row = int(area.top()); row < int(area.bottom()); ++row)
                    ink += image.pixel(x, row) != panel;
            QVERIFY2(ink > 20, qPrintable(where));
        };
        check("automatic");

        // The readout over the first sample names its value in full.
        const QRectF area = plot.plotArea();
        const WaveRange x = plot.horizontalRange();
        const WaveRange y = plot.verticalRange();
        const long double frac = ((long double)values.first() - y.first) / ((long double)y.second - y.first);
        const QPointF over(area.left() + (1 - x.first) / width(x) * area.width(),
                           double((long double)area.bottom() - frac * area.height()));
        const QJsonObject hit = plot.inspect(QPointF(over.x(), std::clamp(over.y(), area.top(), area.bottom())));
        QCOMPARE(hit.value("value").toDouble(), values.first());
        QVERIFY(plot.readoutLines(hit).contains(
            QStringLiteral("值  ") + QLocale::c().toString(values.first(), 'g', QLocale::FloatingPointShortest)));
        QVERIFY(QRectF(plot.rect()).contains(plot.readoutBox(over, plot.readoutLines(hit))));

        for (int i = 0; i < 40; ++i)   // down to the finest span the doubles allow
            wheel(plot, area.center(), {0, 720}, Qt::ControlModifier);
        check("zoomed in");
        for (int i = 0; i < 80; ++i)   // and out past the ends of the doubles
            wheel(plot, area.center(), {0, -720}, Qt::ControlModifier);
        check("zoomed out");
        const QPointF start = area.center();
        mouse(plot, QEvent::MouseButtonPress, start, Qt::LeftButton, Qt::LeftButton);
        mouse(plot, QEvent::MouseMove, start + QPointF(0, area.height() * 0.4), Qt::NoButton, Qt::LeftButton);
        mouse(plot, QEvent::MouseButtonRelease, start + QPointF(0, area.height() * 0.4), Qt::LeftButton,
              Qt::NoButton);
        check("panned");
    }

    void readoutBoxStaysInside()
    {
        Plot plot;
        const QStringList lines{"a", "值  2", "采样  #20"};
        const QRectF beside = plot.readoutBox(QPointF(100, 100), lines);
        QCOMPARE(beside.topLeft(), QPointF(118, 118));
        // Near the right and bottom edges the box flips to the other side.
        const QRectF flipped = plot.readoutBox(QPointF(plot.width() - 20, plot.height() - 30), lines);
        QCOMPARE(flipped.right(), plot.width() - 20 - 18.0);
        QCOMPARE(flipped.bottom(), plot.height() - 30 - 18.0);
        // Never closer than 8 px to the sides and 4 px to top and bottom.
        const QRectF corner = plot.readoutBox(QPointF(2, 2), lines);
        QVERIFY(corner.left() >= 8 && corner.top() >= 4);
        const QRectF wide = plot.readoutBox(QPointF(2, 2), {QString(500, QLatin1Char('x'))});
        QCOMPARE(wide.left(), 8.0);
        QCOMPARE(wide.width(), plot.width() - 16.0);
    }

    // Hovering repaints the overlay only; the cached image is rebuilt when
    // the view changes.
    void hoverKeepsTheCachedImage()
    {
        Plot plot;
        plot.setSamples(wave(ramp(1, 300)));
        const qint64 key = plot.renderedImage().cacheKey();
        QTest::mouseMove(&plot, plot.plotArea().center().toPoint());
        QCOMPARE(plot.renderedImage().cacheKey(), key);
        wheel(plot, plot.plotArea().center(), {0, 120});
        QVERIFY(plot.renderedImage().cacheKey() != key);
    }

    void copyLatestValuesFromTheMenu()
    {
        Plot plot;
        const auto copyLatest = [&plot] {
            QTimer::singleShot(0, &plot, [] {
                auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
                QVERIFY(menu);
                for (QAction* action : menu->actions()) {
                    if (action->text() == QStringLiteral("复制最新通道值"))
                        action->trigger();
                }
                menu->close();
            });
            QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5), plot.mapToGlobal(QPoint(5, 5)));
            QApplication::sendEvent(&plot, &event);
        };
        copyLatest();
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("{}"));
        plot.setSamples(wave({{1, 1.5}, {2, -3}}));
        plot.setCurveVisible("v", false);   // hidden curves are included
        copyLatest();
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("{\"v\":-3}"));
    }

    void axesVisibility()
    {
        Plot plot;
        plot.setSamples(wave(ramp(1, 10)));
        plot.setYAxisVisible(false);
        QCOMPARE(plot.plotArea().left(), 12.0);
        plot.setXAxisVisible(false);
        QCOMPARE(plot.plotArea().bottom(), plot.height() - 12.0);
        plot.setXAxisVisible(true);
        QCOMPARE(plot.plotArea().bottom(), plot.height() - 60.0);
    }
};

QTEST_MAIN(WaveRangesTest)
#include "WaveRangesTest.moc"
