#include "ui/kit/IconPainter.h"

#include <QImage>
#include <QPainter>
#include <QTest>

using namespace vn;

namespace {

const QStringList names = {
    "gear",      "plus",     "clock",   "hex",     "wrap",    "terminal", "cursor",  "json",
    "code",      "xml",      "scriptCollapse",     "scriptExpand",        "clipboard", "dock",
    "control",   "widgets",  "close",   "refresh", "search",  "pause",    "play",    "trash",
    "follow",    "export",   "repeat",  "wave",    "port",    "lightning", "file-transfer",
    "send",      "more"};

QImage render(const QString& name, QSizeF size, double ratio = 1.0, double angle = 0.0,
              QColor colour = QColor(0x28, 0x39, 0x2f))
{
    QImage image((size * ratio).toSize(), QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    drawIcon(painter, name, QRectF(QPointF(0, 0), size), colour, angle);
    return image;
}

int inkedPixels(const QImage& image)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            count += qAlpha(image.pixel(x, y)) > 0 ? 1 : 0;
        }
    }
    return count;
}

QRect inkedBounds(const QImage& image)
{
    QRect bounds;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (qAlpha(image.pixel(x, y)) > 0) {
                bounds |= QRect(x, y, 1, 1);
            }
        }
    }
    return bounds;
}

// Share of pixels whose alpha differs by more than `tolerance`.
double difference(const QImage& a, const QImage& b, int tolerance)
{
    int differing = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            differing += std::abs(qAlpha(a.pixel(x, y)) - qAlpha(b.pixel(x, y))) > tolerance ? 1 : 0;
        }
    }
    return double(differing) / (a.width() * a.height());
}

} // namespace

class TestIconPainter : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void everyNameDraws_data();
    void everyNameDraws();
    void namesAreDistinct();
    void unknownNamesDrawThePage_data();
    void unknownNamesDrawThePage();
    void aliasesDrawTheSameFigure();
    void wideRectangleKeepsTheFigureSquareAndCentred();
    void colourAppliesExceptToTheBrandImage();
    void painterStateIsRestored();
    void iconIsDoubleResolutionAndTransparent();
    void gearHasSixFoldSymmetry();
};

void TestIconPainter::everyNameDraws_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<double>("size");
    QTest::addColumn<double>("ratio");
    for (const QString& name : names) {
        for (const double size : {12.0, 24.0, 37.0}) {
            for (const double ratio : {1.0, 1.5, 2.0}) {
                QTest::addRow("%s@%gx%g", qPrintable(name), size, ratio) << name << size << ratio;
            }
        }
    }
}

void TestIconPainter::everyNameDraws()
{
    QFETCH(QString, name);
    QFETCH(double, size);
    QFETCH(double, ratio);
    const QImage image = render(name, QSizeF(size, size), ratio);
    QVERIFY(inkedPixels(image) > 0);
    // Nothing spills outside the square, and the figure is not a filled block.
    QVERIFY(inkedPixels(image) < image.width() * image.height());
}

void TestIconPainter::namesAreDistinct()
{
    QCOMPARE(names.size(), 31);
    QHash<QByteArray, QString> seen;
    for (const QString& name : names) {
        if (name == QLatin1String("xml") || name == QLatin1String("lightning")) {
            continue; // aliases, checked below
        }
        const QImage image = render(name, QSizeF(48, 48));
        const QByteArray bits(reinterpret_cast<const char*>(image.constBits()), image.sizeInBytes());
        QVERIFY2(!seen.contains(bits), qPrintable(name + " looks like " + seen.value(bits)));
        seen.insert(bits, name);
    }
    QVERIFY(!seen.contains(QByteArray(reinterpret_cast<const char*>(render("", QSizeF(48, 48)).constBits()),
                                      render("", QSizeF(48, 48)).sizeInBytes())));
}

void TestIconPainter::unknownNamesDrawThePage_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("empty") << QString();
    QTest::newRow("unknown") << QStringLiteral("no-such-icon");
    QTest::newRow("case differs") << QStringLiteral("Gear");
    QTest::newRow("template") << QStringLiteral("template");
}

void TestIconPainter::unknownNamesDrawThePage()
{
    QFETCH(QString, name);
    const QImage page = render(QStringLiteral("page"), QSizeF(48, 48));
    QCOMPARE(render(name, QSizeF(48, 48)), page);
    QVERIFY(page != render(QStringLiteral("gear"), QSizeF(48, 48)));
}

void TestIconPainter::aliasesDrawTheSameFigure()
{
    QCOMPARE(render("code", QSizeF(40, 40)), render("xml", QSizeF(40, 40)));
    QCOMPARE(render("port", QSizeF(40, 40)), render("lightning", QSizeF(40, 40)));
}

void TestIconPainter::wideRectangleKeepsTheFigureSquareAndCentred()
{
    const QImage wide = render("close", QSizeF(40, 20));
    const QImage square = render("close", QSizeF(20, 20));
    const QRect bounds = inkedBounds(wide);
    // Drawn in the 20-unit square in the middle: columns 10..29.
    QVERIFY(bounds.left() >= 10);
    QVERIFY(bounds.right() <= 29);
    QCOMPARE(bounds.left() - 10, 29 - bounds.right());
    QCOMPARE(wide.copy(10, 0, 20, 20), square);
}

void TestIconPainter::colourAppliesExceptToTheBrandImage()
{
    const QColor red(200, 30, 30);
    const QImage image = render("plus", QSizeF(48, 48), 1.0, 0.0, red);
    const QRgb centre = image.pixel(24, 24);
    QCOMPARE(qAlpha(centre), 255);
    QCOMPARE(QColor(centre).rgb(), red.rgb());
    // The lightning keeps its own colours whatever the caller asks.
    QCOMPARE(render("lightning", QSizeF(24, 24), 1.0, 0.0, Qt::red),
             render("lightning", QSizeF(24, 24), 1.0, 0.0, Qt::blue));
}

void TestIconPainter::painterStateIsRestored()
{
    QImage image(30, 30, QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&image);
    const QPen pen(Qt::green, 3);
    painter.setPen(pen);
    painter.setBrush(Qt::yellow);
    painter.translate(3, 4);
    const QTransform transform = painter.transform();
    drawIcon(painter, "gear", QRectF(0, 0, 20, 20), Qt::black, 45);
    drawIcon(painter, "play", QRectF(0, 0, 20, 20), Qt::black, 0);
    QCOMPARE(painter.pen(), pen);
    QCOMPARE(painter.brush().color(), QColor(Qt::yellow));
    QCOMPARE(painter.transform(), transform);
    QVERIFY(!painter.testRenderHint(QPainter::Antialiasing));
}

void TestIconPainter::iconIsDoubleResolutionAndTransparent()
{
    const QIcon result = icon("close", Qt::black, 16);
    QVERIFY(!result.isNull());
    const QList<QSize> sizes = result.availableSizes();
    QCOMPARE(sizes.size(), 1);
    const QPixmap pixmap = result.pixmap(QSize(16, 16), 2.0);
    QCOMPARE(pixmap.size(), QSize(32, 32));
    QCOMPARE(pixmap.devicePixelRatio(), 2.0);
    const QImage image = pixmap.toImage();
    QCOMPARE(qAlpha(image.pixel(0, 0)), 0);
    QCOMPARE(qAlpha(image.pixel(31, 0)), 0);
    QCOMPARE(qAlpha(image.pixel(16, 2)), 0);
    QCOMPARE(qAlpha(image.pixel(16, 16)), 255); // where the strokes cross
}

void TestIconPainter::gearHasSixFoldSymmetry()
{
    const QImage still = render("gear", QSizeF(96, 96));
    QVERIFY(difference(still, render("gear", QSizeF(96, 96), 1.0, 60), 96) < 0.002);
    QVERIFY(difference(still, render("gear", QSizeF(96, 96), 1.0, 360), 96) < 0.002);
    // A rotation by half a tooth is plainly different.
    QVERIFY(difference(still, render("gear", QSizeF(96, 96), 1.0, 30), 96) > 0.02);
}

QTEST_MAIN(TestIconPainter)
#include "tst_IconPainter.moc"
