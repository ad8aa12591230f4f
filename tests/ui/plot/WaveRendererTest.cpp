#include "ui/plot/WavePlot.h"
#include "ui/plot/WaveLineRaster.h"

#include <QApplication>
#include <QJsonArray>
#include <QWheelEvent>
#include <QRandomGenerator>
#include <QTest>

#include <cmath>
#include <map>
#include <set>

using namespace vn;

namespace {

QJsonObject wave(const QMap<QString, WavePoints>& curves)
{
    QMap<double, QJsonObject> byIndex;
    for (auto it = curves.cbegin(); it != curves.cend(); ++it) {
        for (const QPointF& p : it.value())
            byIndex[p.x()].insert(it.key(), p.y());
    }
    QJsonArray samples;
    for (auto it = byIndex.cbegin(); it != byIndex.cend(); ++it)
        samples.append(QJsonObject{{"index", it.key()}, {"values", it.value()}});
    return {{"sources", QJsonObject{{"default", QJsonObject{{"samples", samples}}}}}};
}

// What must be drawn, worked out the slow way: every point of the slice goes
// to the bucket of its pixel column, and each bucket keeps its first, last,
// lowest and highest point (the earlier one on ties).
std::vector<qsizetype> oracle(const WavePoints& points, qsizetype begin, qsizetype end, double xlow, double xspan,
                              double width)
{
    std::map<long double, std::vector<qsizetype>> buckets;
    for (qsizetype i = begin; i < end; ++i)
        buckets[std::floor(((long double)points[i].x() - xlow) / xspan * width)].push_back(i);
    std::set<qsizetype> keep;
    for (const auto& [column, members] : buckets) {
        qsizetype lo = members.front();
        qsizetype hi = members.front();
        for (qsizetype i : members) {
            if (points[i].y() < points[lo].y())
                lo = i;
            if (points[i].y() > points[hi].y())
                hi = i;
        }
        keep.insert({members.front(), members.back(), lo, hi});
    }
    return {keep.begin(), keep.end()};
}

int distance(QRgb a, QRgb b)
{
    return std::abs(qRed(a) - qRed(b)) + std::abs(qGreen(a) - qGreen(b)) + std::abs(qBlue(a) - qBlue(b));
}

struct Plot : WavePlot {
    explicit Plot(QSize size = QSize(900, 500))
    {
        resize(size);
    }
};

} // namespace

class WaveRendererTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void decimationMatchesTheOracle_data()
    {
        QTest::addColumn<int>("points");
        QTest::addColumn<double>("xlow");
        QTest::addColumn<double>("xspan");
        QTest::addColumn<double>("width");
        QTest::addColumn<double>("farNeighbour");
        QTest::newRow("dense") << 5000 << 0.0 << 5000.0 << 1872.0 << 0.0;
        QTest::newRow("sparse") << 40 << 0.0 << 40.0 << 1872.0 << 0.0;
        QTest::newRow("zoomed in") << 5000 << 1200.5 << 37.25 << 640.0 << 0.0;
        QTest::newRow("very dense") << 20000 << 0.0 << 20000.0 << 200.0 << 0.0;
        QTest::newRow("uneven pitch") << 8000 << 1234.5678 << 333.3 << 777.0 << 0.0;
        // Neighbours far off screen would overflow a 32-bit column index.
        QTest::newRow("far neighbours") << 3000 << 1000.0 << 10.0 << 1000.0 << 1e12;
        QTest::newRow("extreme neighbours") << 3000 << 1000.0 << 10.0 << 1000.0 << 1e300;
    }

    void decimationMatchesTheOracle()
    {
        QFETCH(int, points);
        QFETCH(double, xlow);
        QFETCH(double, xspan);
        QFETCH(double, width);
        QFETCH(double, farNeighbour);
        QRandomGenerator random(points + int(width));
        WavePoints curve;
        if (farNeighbour != 0)
            curve.append(QPointF(-farNeighbour, 3));
        double x = 0;
        for (int i = 0; i < points; ++i) {
            x += random.bounded(4) == 0 ? 0.0 : random.bounded(1.0) + 0.05;   // repeats and uneven gaps
            const int kind = random.bounded(10);
            const double y = kind == 0 ? 2.0 : kind == 1 ? -2.0 : std::sin(i * 0.01) + random.bounded(1.0);
            curve.append(QPointF(x, y));
        }
        if (farNeighbour != 0)
            curve.append(QPointF(farNeighbour, -3));
        if (farNeighbour != 0)
            xlow = curve.at(1000).x();
        const auto [begin, end] = visibleSlice(curve, xlow, xlow + xspan);
        std::vector<qsizetype> drawn;
        decimate(curve, begin, end, xlow, xspan, width, drawn);
        QCOMPARE(drawn, oracle(curve, begin, end, xlow, xspan, width));
        QVERIFY(std::is_sorted(drawn.begin(), drawn.end()));
        if (farNeighbour != 0) {
            QVERIFY(begin > 0 || xlow <= curve.first().x());
            QCOMPARE(pixelColumn(-1e12, 0, 10, 1000), qint64(-100000000000000));
            QCOMPARE(pixelColumn(1e300, 0, 10, 1000), qint64(1) << 62);
            QCOMPARE(pixelColumn(-1e300, 0, 10, 1000), -(qint64(1) << 62));
        }
    }

    void decimationEdgeCases()
    {
        // A column of equal values keeps its first and last point only.
        const WavePoints flat{{0, 1}, {0.1, 1}, {0.2, 1}, {0.3, 1}};
        std::vector<qsizetype> drawn;
        decimate(flat, 0, flat.size(), 0, 10, 10, drawn);
        QCOMPARE(drawn, (std::vector<qsizetype>{0, 3}));
        // Lowest and highest of a crowded column, in sample order.
        const WavePoints crowded{{0, 0}, {0.1, 5}, {0.2, -5}, {0.3, 1}, {1.5, 0}};
        decimate(crowded, 0, crowded.size(), 0, 10, 10, drawn);
        QCOMPARE(drawn, (std::vector<qsizetype>{0, 1, 2, 3, 4}));
        // The slice reaches one point beyond each side.
        const WavePoints line{{0, 0}, {10, 0}, {20, 0}, {30, 0}, {40, 0}};
        QCOMPARE(visibleSlice(line, 15, 25), (std::pair<qsizetype, qsizetype>{1, 4}));
        QCOMPARE(visibleSlice(line, -5, 50), (std::pair<qsizetype, qsizetype>{0, 5}));
    }

    void ticks()
    {
        // Whole samples across a wide plot: step 1, no minors.
        WaveTicks t = axisGrid({3, 9}, 1800, 88, true);
        QCOMPARE(t.majors, (QList<double>{3, 4, 5, 6, 7, 8, 9}));
        QVERIFY(t.minors.isEmpty());
        // Half-sample increments give steps such as 2.5.
        t = axisGrid({0, 50}, 1800, 88, false);
        QCOMPARE(t.majors.mid(0, 3), (QList<double>{0, 2.5, 5}));
        QCOMPARE(t.minors.mid(0, 2), (QList<double>{1.25, 3.75}));
        t = axisGrid({-1e-3, 1e-3}, 400, 60, false);
        QVERIFY(t.majors.contains(0.0));
        QVERIFY(axisGrid({0, 1e6}, 1e9, 1, true).majors.size() <= 512);
    }

    void emptyPlotShowsTheHint()
    {
        Plot plot;
        const QImage image = plot.renderedImage();
        QCOMPARE(image.size(), plot.size());
        const QRect area = plot.plotArea().toRect();
        const QRgb panel = plot.theme.panel.rgb();
        int ink = 0;
        for (int y = area.center().y() - 20; y < area.center().y() + 20; ++y)
            for (int x = area.center().x() - 100; x < area.center().x() + 100; ++x)
                ink += distance(image.pixel(x, y), panel) > 100;
        QVERIFY(ink > 50);
    }

    void loneSampleIsARing()
    {
        Plot plot;
        plot.setSamples(wave({{"v", {{5, 2}}}}));
        plot.setCurveStyle("v", {QColor(Qt::blue), 1, 1});
        const QImage image = plot.renderedImage();
        const QRectF area = plot.plotArea();
        const WaveRange x = plot.horizontalRange();
        const WaveRange y = plot.verticalRange();
        const QPointF centre(area.left() + (5 - x.first) / (x.second - x.first) * area.width(),
                             area.bottom() - (2 - y.first) / (y.second - y.first) * area.height());
        const QRgb blue = QColor(Qt::blue).rgb();
        int ring = 0;
        for (int dy = -3; dy <= 3; ++dy)
            for (int dx = -3; dx <= 3; ++dx)
                ring += distance(image.pixel(int(centre.x()) + dx, int(centre.y()) + dy), blue) < 300;
        QVERIFY(ring >= 6);
    }

    // Every vertex the decimation keeps is inked in the curve's colour, and
    // nothing of the curve leaves the plot area.
    void curvesKeepTheirPointsAndStayInside()
    {
        Plot plot(QSize(1200, 600));
        WavePoints points;
        QRandomGenerator random(7);
        for (int i = 0; i < 5000; ++i)
            points.append(QPointF(i, std::sin(i * 0.003) * 3 + random.bounded(1.0)));
        plot.setSamples(wave({{"v", points}}));
        plot.setCurveStyle("v", {QColor(Qt::red), 1, 1});
        const QImage image = plot.renderedImage();
        const QRectF area = plot.plotArea();
        const WaveRange x = plot.horizontalRange();
        const WaveRange y = plot.verticalRange();
        std::vector<qsizetype> kept;
        decimate(points, 0, points.size(), x.first, x.second - x.first, area.width(), kept);
        const QRgb red = QColor(Qt::red).rgb();
        const QRgb panel = plot.theme.panel.rgb();
        for (qsizetype i : kept) {
            const QPointF p(area.left() + (points[i].x() - x.first) / (x.second - x.first) * area.width(),
                            area.bottom() - (points[i].y() - y.first) / (y.second - y.first) * area.height());
            int best = 1000;
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx)
                    best = std::min(best, distance(image.pixel(int(p.x()) + dx, int(p.y()) + dy), red));
            // At least 45 % coverage: a line between two rows inks both by half.
            QVERIFY2(best < distance(panel, red) * 0.55,
                     qPrintable(QStringLiteral("vertex %1 at %2,%3 not drawn: %4").arg(i).arg(p.x()).arg(p.y()).arg(best)));
        }
        // Antialiased: partial coverage shows as colours between panel and red.
        int partial = 0;
        for (int yy = int(area.top()); yy < int(area.bottom()); ++yy) {
            const QRgb c = image.pixel(int(area.center().x()), yy);
            partial += distance(c, red) > 60 && distance(c, panel) > 60;
            QCOMPARE(image.pixel(int(area.right()) + 3, yy) == red, false);
        }
        QVERIFY(partial > 0);
    }

    void rasterClipsAndBlends()
    {
        QImage image(40, 40, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::white);
        const QPointF line[] = {{-1e6, 20.5}, {20.5, 20.5}, {20.5, 1e9}};
        WaveLineRaster::drawPolyline(image, QRect(10, 10, 20, 20), line, 3, Qt::black, 1.0);
        QCOMPARE(image.pixel(5, 20), qRgb(255, 255, 255));    // outside the clip
        QCOMPARE(image.pixel(15, 20), qRgb(0, 0, 0));         // centred on the row: full coverage
        QCOMPARE(image.pixel(20, 25), qRgb(0, 0, 0));         // the steep part
        QCOMPARE(image.pixel(20, 35), qRgb(255, 255, 255));
        image.fill(Qt::white);
        const QPointF half[] = {{10, 15}, {30, 15}};          // between two rows: half each
        WaveLineRaster::drawPolyline(image, image.rect(), half, 2, Qt::black, 1.0);
        QVERIFY(qRed(image.pixel(20, 14)) > 100 && qRed(image.pixel(20, 14)) < 150);
        QVERIFY(qRed(image.pixel(20, 15)) > 100 && qRed(image.pixel(20, 15)) < 150);

        // A straight run of short segments is as even as one segment: the
        // joints are not drawn twice.
        for (const bool vertical : {false, true}) {
            image.fill(Qt::white);
            std::vector<QPointF> run;
            for (int i = 0; i <= 20; ++i)
                run.push_back(vertical ? QPointF(15.5, 5 + i * 1.5) : QPointF(5 + i * 1.5, 15.5));
            WaveLineRaster::drawPolyline(image, image.rect(), run.data(), qsizetype(run.size()),
                                         QColor(0, 0, 0, 128), 1.0);
            const QRgb expected = vertical ? image.pixel(15, 12) : image.pixel(12, 15);
            QVERIFY(qRed(expected) > 100 && qRed(expected) < 160);
            for (int k = 7; k < 33; ++k)
                QCOMPARE(vertical ? image.pixel(15, k) : image.pixel(k, 15), expected);
        }
    }

    // Painting the background per strip gives the same pixels as painting it
    // into the image first and drawing the curves over it.
    void stripBackgroundMatchesTheImageBackground()
    {
        const QSize size(300, 200);
        const QRect clip(37, 20, 230, 150);
        WaveLineRaster::Background background{QColor("#f6f4e8"), {}};
        WaveLineRaster::GridLine line;
        QVERIFY(WaveLineRaster::gridLine(size, QPointF(37, 60.5), QPointF(267, 60.5), QColor(10, 20, 30, 155), 3, 3,
                                         line));
        background.grid.push_back(line);
        QVERIFY(WaveLineRaster::gridLine(size, QPointF(100.5, 20), QPointF(100.5, 170), QColor(10, 20, 30, 75), 2, 4,
                                         line));
        background.grid.push_back(line);
        QVERIFY(!WaveLineRaster::gridLine(size, QPointF(0, -5), QPointF(10, -5), Qt::black, 1, 1, line));
        QRandomGenerator random(3);
        std::vector<QPointF> a;
        std::vector<QPointF> b;
        for (int i = 0; i < 400; ++i) {
            a.emplace_back(20 + i * 0.7, 100 + random.bounded(80.0) - 40);
            b.emplace_back(30 + i * 0.6, 60 + random.bounded(200.0) - 100);
        }
        const WaveLineRaster::Polyline lines[] = {{a.data(), qsizetype(a.size()), QColor(200, 30, 30), 1.0},
                                                   {b.data(), qsizetype(b.size()), QColor(30, 30, 200, 180), 0.5}};
        QImage painted(size, QImage::Format_ARGB32_Premultiplied);
        painted.fill(background.fill);
        for (const auto& grid : background.grid)
            WaveLineRaster::drawGridLine(painted, grid);
        WaveLineRaster::drawPolylines(painted, clip, lines, 2);
        QImage direct(size, QImage::Format_ARGB32_Premultiplied);
        direct.fill(Qt::black);   // outside the clip the strips leave the image alone
        WaveLineRaster::drawPolylines(direct, clip, lines, 2, &background);
        QCOMPARE(direct.copy(clip), painted.copy(clip));
        QCOMPARE(direct.pixel(clip.left() - 1, clip.top()), qRgb(0, 0, 0));
    }

    // On a high-density screen the image has device pixels and the curves
    // land at their scaled positions.
    void rendersAtTwiceThePixelRatio()
    {
        WavePoints points;
        for (int i = 0; i < 200; ++i)
            points.append(QPointF(i, i % 20 < 10 ? 0.0 : 1.0));
        WaveScene scene;
        scene.size = QSize(400, 300);
        scene.ratio = 2.0;
        scene.font = QFont();
        scene.area = wavePlotArea(scene.size, scene.font, {-0.5, 1.5}, true, true, false);
        scene.x = {0, 199};
        scene.y = {-0.5, 1.5};
        scene.empty = false;
        scene.curves.push_back({&points, QColor(Qt::red), WaveCurveStyle()});
        WaveRenderer renderer;
        QImage image;
        renderer.render(image, scene);
        QCOMPARE(image.size(), QSize(800, 600));
        QCOMPARE(image.devicePixelRatio(), 2.0);
        // The low level (value 0) of the square wave, a quarter up from the bottom.
        const QRectF& a = scene.area;
        const double y = a.bottom() - 0.25 * a.height();
        int red = 0;
        for (int x = int(a.left() * 2) + 4; x < int(a.left() * 2) + 30; ++x)
            red += std::min(distance(image.pixel(x, int(y * 2)), QColor(Qt::red).rgb()),
                            distance(image.pixel(x, int(y * 2) - 1), QColor(Qt::red).rgb()))
                   < 300;   // a line between two rows inks each by half
        QVERIFY2(red > 20, qPrintable(QString::number(red)));
    }

    // A value far outside the y range still draws its segment out of the plot.
    void farValuesLeaveThePlot()
    {
        const WavePoints points{{0, 0}, {50, 0}, {51, 1e300}, {100, 0}};
        WaveScene scene;
        scene.size = QSize(600, 400);
        scene.font = QFont();
        scene.area = wavePlotArea(scene.size, scene.font, {-1, 1}, true, true, false);
        scene.x = {0, 100};
        scene.y = {-1, 1};
        scene.empty = false;
        scene.curves.push_back({&points, QColor(Qt::blue), WaveCurveStyle()});
        WaveRenderer renderer;
        QImage image;
        renderer.render(image, scene);
        const QRectF& area = scene.area;
        // Clamped to 1e9 px above, the segment to the spike rises straight up
        // from sample 50 and leaves through the top edge.
        const int column = int(area.left() + 50.0 / 100 * area.width());
        int blue = 0;
        for (int dx = -2; dx <= 2; ++dx)
            blue += distance(image.pixel(column + dx, int(area.top()) + 2), QColor(Qt::blue).rgb()) < 300;
        QVERIFY(blue > 0);
        QCOMPARE(image.pixel(column, int(area.top()) - 3), scene.theme.panel.rgb());   // clipped at the edge
    }

    void themeChangeRebuilds()
    {
        Plot plot;
        QCOMPARE(plot.renderedImage().pixel(2, 2), plot.theme.panel.rgb());
        plot.theme = Theme::make(true);
        QCOMPARE(plot.renderedImage().pixel(2, 2), plot.theme.panel.rgb());
    }

    void thickAndDashedCurvesUseThePainter()
    {
        Plot plot;
        plot.setSamples(wave({{"v", {{0, 0}, {10, 1}}}}));
        plot.setCurveStyle("v", {QColor(Qt::green), 4, 2});
        const QImage image = plot.renderedImage();
        const QRectF area = plot.plotArea();
        int green = 0;
        for (int xx = int(area.left()); xx < int(area.right()); ++xx)
            for (int yy = int(area.top()); yy < int(area.bottom()); ++yy)
                green += distance(image.pixel(xx, yy), QColor(Qt::green).rgb()) < 40;
        QVERIFY(green > 500);
    }
};

QTEST_MAIN(WaveRendererTest)
#include "WaveRendererTest.moc"
