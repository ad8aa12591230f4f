#include "ui/kit/BackgroundImage.h"
#include "ui/kit/BackgroundSurface.h"
#include "tests/support/FileSizeLimit.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QImageWriter>
#include <QJsonArray>
#include <QPainter>
#include <QTemporaryDir>
#include <QTest>
#include <QVBoxLayout>

#include <cerrno>
#include <cstdlib>

using namespace vn;

namespace {

// A picture of four coloured quadrants: red, green / blue, yellow.
QImage quadrants(int width, int height)
{
    QImage image(width, height, QImage::Format_RGBA8888);
    QPainter painter(&image);
    painter.fillRect(0, 0, width / 2, height / 2, Qt::red);
    painter.fillRect(width / 2, 0, width - width / 2, height / 2, Qt::green);
    painter.fillRect(0, height / 2, width / 2, height - height / 2, Qt::blue);
    painter.fillRect(width / 2, height / 2, width - width / 2, height - height / 2, Qt::yellow);
    return image;
}

QImage painted(const BackgroundImage& background, QSize size, QRect target = QRect())
{
    QImage canvas(size, QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::transparent);
    QPainter painter(&canvas);
    background.paint(painter, target.isNull() ? QRect(QPoint(0, 0), size) : target);
    return canvas;
}

BackgroundImage opaque(const QImage& image, const QString& fit, int x, int y)
{
    BackgroundSpec look;
    look.fit = fit;
    look.opacity = 100;
    look.position_x = x;
    look.position_y = y;
    BackgroundImage background;
    background.set(look, image);
    return background;
}

// A 1-bit PBM of the given size: small on disk, quick to decode.
QString writePbm(const QString& path, int width, int height, bool withPixels)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        return {};
    }
    file.write(QStringLiteral("P4\n%1 %2\n").arg(width).arg(height).toLatin1());
    if (withPixels) {
        const QByteArray row((width + 7) / 8, '\0');
        for (int y = 0; y < height; ++y) {
            file.write(row);
        }
    }
    return path;
}

} // namespace

class TestBackground : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void specDefaults();
    void specFromJson_data();
    void specFromJson();
    void specRoundTrips();

    void readsAndConvertsToRgba();
    void readRefusesTooManyPixelsBeforeDecoding();
    void readDecodesLargePicturesAt4096();
    void readRefusesUnknownAndBrokenFiles();
    void readsEveryOfferedFormat_data();
    void readsEveryOfferedFormat();
    void readsTheFirstFrameOfAnAnimation();
    void readAppliesTheOrientationTag();

    void importNamesByContent();
    void importReportsAFolderItCannotMake();
    void importOntoAFullDiskLeavesNoPicture();

    void coverPosition_data();
    void coverPosition();
    void containAndTile();
    void opacityScalesAndZeroDrawsNothing();
    void cacheFollowsSizeFitAndPosition();

    void surfaceFillsBaseColourUnderThePicture();
    void captionSurfacesShareTheWindowLayout();
};

void TestBackground::specDefaults()
{
    const BackgroundSpec look;
    QCOMPARE(look.file, QString());
    QCOMPARE(look.name, QString());
    QCOMPARE(look.fit, QStringLiteral("cover"));
    QCOMPARE(look.opacity, 25);
    QCOMPARE(look.position_x, 50);
    QCOMPARE(look.position_y, 50);
    QVERIFY(BackgroundSpec::fromJson({}) == look);
}

void TestBackground::specFromJson_data()
{
    QTest::addColumn<QJsonObject>("object");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("fit");
    QTest::addColumn<int>("opacity");
    QTest::addColumn<int>("x");
    const QString file = QStringLiteral("backgrounds/%1.png").arg(QString(64, QLatin1Char('a')));
    QTest::newRow("name from file") << QJsonObject{{"file", file}} << QString(64, QLatin1Char('a')) + ".png"
                                    << "cover" << 25 << 50;
    QTest::newRow("given name") << QJsonObject{{"file", file}, {"name", "海.jpg"}} << "海.jpg" << "cover" << 25 << 50;
    QTest::newRow("contain") << QJsonObject{{"fit", "contain"}} << "" << "contain" << 25 << 50;
    QTest::newRow("tile") << QJsonObject{{"fit", "tile"}} << "" << "tile" << 25 << 50;
    QTest::newRow("fit letter case") << QJsonObject{{"fit", "Tile"}} << "" << "cover" << 25 << 50;
    QTest::newRow("fit unknown") << QJsonObject{{"fit", "stretch"}} << "" << "cover" << 25 << 50;
    QTest::newRow("fit not text") << QJsonObject{{"fit", 3}} << "" << "cover" << 25 << 50;
    QTest::newRow("opacity high") << QJsonObject{{"opacity", 250}} << "" << "cover" << 100 << 50;
    QTest::newRow("opacity low") << QJsonObject{{"opacity", -5}} << "" << "cover" << 0 << 50;
    QTest::newRow("opacity text") << QJsonObject{{"opacity", "80"}} << "" << "cover" << 25 << 50;
    QTest::newRow("opacity fraction") << QJsonObject{{"opacity", 40.5}} << "" << "cover" << 25 << 50;
    QTest::newRow("opacity huge") << QJsonObject{{"opacity", 1e300}} << "" << "cover" << 100 << 50;
    QTest::newRow("position") << QJsonObject{{"position_x", 0}} << "" << "cover" << 25 << 0;
    QTest::newRow("position high") << QJsonObject{{"position_x", 101}} << "" << "cover" << 25 << 100;
    QTest::newRow("position array") << QJsonObject{{"position_x", QJsonArray{1}}} << "" << "cover" << 25 << 50;
}

void TestBackground::specFromJson()
{
    QFETCH(QJsonObject, object);
    QFETCH(QString, name);
    QFETCH(QString, fit);
    QFETCH(int, opacity);
    QFETCH(int, x);
    const BackgroundSpec look = BackgroundSpec::fromJson(object);
    QCOMPARE(look.name, name);
    QCOMPARE(look.fit, fit);
    QCOMPARE(look.opacity, opacity);
    QCOMPARE(look.position_x, x);
    QCOMPARE(look.position_y, 50);
}

void TestBackground::specRoundTrips()
{
    BackgroundSpec look;
    look.file = QStringLiteral("backgrounds/x.png");
    look.name = QStringLiteral("海边.png");
    look.fit = QStringLiteral("tile");
    look.opacity = 70;
    look.position_x = 10;
    look.position_y = 90;
    const QJsonObject json = look.json();
    QCOMPARE(json.keys(), QStringList({"file", "fit", "name", "opacity", "position_x", "position_y"}));
    QVERIFY(json.value("opacity").isDouble());
    QVERIFY(BackgroundSpec::fromJson(json) == look);
}

void TestBackground::readsAndConvertsToRgba()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("picture.bmp"));
    QVERIFY(quadrants(40, 20).save(path, "BMP"));
    // The content decides the format, not the name.
    const QString misnamed = dir.filePath(QStringLiteral("picture.jpg"));
    QVERIFY(QFile::copy(path, misnamed));
    for (const QString& file : {path, misnamed}) {
        QString error = QStringLiteral("unchanged");
        const QImage image = BackgroundImage::read(file, &error);
        QCOMPARE(image.size(), QSize(40, 20));
        QCOMPARE(image.format(), QImage::Format_RGBA8888);
        QCOMPARE(image.pixelColor(30, 15), QColor(Qt::yellow));
        QCOMPARE(error, QStringLiteral("unchanged"));
    }
}

void TestBackground::readRefusesTooManyPixelsBeforeDecoding()
{
    QTemporaryDir dir;
    // Only the header: were it decoded, the reader would report a read error.
    const QString path = writePbm(dir.filePath(QStringLiteral("huge.pbm")), 8001, 8000, false);
    QString error;
    QVERIFY(BackgroundImage::read(path, &error).isNull());
    QCOMPARE(error, QStringLiteral("图片无法识别或尺寸过大，请选择不超过 6400 万像素的图片。"));
    QVERIFY(BackgroundImage::read(path, nullptr).isNull());
}

void TestBackground::readDecodesLargePicturesAt4096()
{
    QTemporaryDir dir;
    const QString path = writePbm(dir.filePath(QStringLiteral("edge.pbm")), 8000, 8000, true);
    QString error;
    const QImage image = BackgroundImage::read(path, &error);
    QVERIFY2(!image.isNull(), qPrintable(error));
    QCOMPARE(image.size(), QSize(4096, 4096));

    const QString wide = writePbm(dir.filePath(QStringLiteral("wide.pbm")), 8192, 100, true);
    QCOMPARE(BackgroundImage::read(wide, &error).size(), QSize(4096, 50));
}

void TestBackground::readRefusesUnknownAndBrokenFiles()
{
    QTemporaryDir dir;
    const QString garbage = dir.filePath(QStringLiteral("notes.png"));
    QFile file(garbage);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("this is not a picture at all");
    file.close();
    QString error;
    QVERIFY(BackgroundImage::read(garbage, &error).isNull());
    QCOMPARE(error, QStringLiteral("图片无法识别或尺寸过大，请选择不超过 6400 万像素的图片。"));

    // A header without its pixels has a size but does not decode.
    const QString truncated = writePbm(dir.filePath(QStringLiteral("cut.pbm")), 20, 20, false);
    QVERIFY(BackgroundImage::read(truncated, &error).isNull());
    QVERIFY2(error.startsWith(QStringLiteral("无法读取图片：")), qPrintable(error));

    QVERIFY(BackgroundImage::read(dir.filePath(QStringLiteral("missing.png")), &error).isNull());
    QCOMPARE(error, QStringLiteral("图片无法识别或尺寸过大，请选择不超过 6400 万像素的图片。"));
}

void TestBackground::readsEveryOfferedFormat_data()
{
    QTest::addColumn<QByteArray>("format");
    QTest::addColumn<int>("tolerance"); // per channel, for lossy formats
    QTest::newRow("JPEG") << QByteArray("jpeg") << 40;
    QTest::newRow("PNG") << QByteArray("png") << 0;
    QTest::newRow("BMP") << QByteArray("bmp") << 0;
    QTest::newRow("WebP") << QByteArray("webp") << 0;
    QTest::newRow("TIFF") << QByteArray("tiff") << 0;
}

void TestBackground::readsEveryOfferedFormat()
{
    QFETCH(QByteArray, format);
    QFETCH(int, tolerance);
    QVERIFY2(QImageWriter::supportedImageFormats().contains(format),
             "the Qt image format plugins are missing (Debian: qt6-image-formats-plugins)");
    QTemporaryDir dir;
    // A misleading name: the content decides.
    const QString path = dir.filePath(QStringLiteral("picture.png.txt"));
    QImageWriter writer(path, format);
    writer.setQuality(100);
    QVERIFY2(writer.write(quadrants(64, 32)), qPrintable(writer.errorString()));
    QString error;
    const QImage image = BackgroundImage::read(path, &error);
    QVERIFY2(!image.isNull(), qPrintable(error));
    QCOMPARE(image.size(), QSize(64, 32));
    QCOMPARE(image.format(), QImage::Format_RGBA8888);
    const QColor corner = image.pixelColor(48, 24);
    const QColor yellow(Qt::yellow);
    QVERIFY2(std::abs(corner.red() - yellow.red()) <= tolerance && std::abs(corner.green() - yellow.green()) <= tolerance
                 && std::abs(corner.blue() - yellow.blue()) <= tolerance,
             qPrintable(corner.name()));
}

void TestBackground::readsTheFirstFrameOfAnAnimation()
{
    // Two frames of 2 × 2 pixels: red, then blue.
    static const char gif[] =
        "\x47\x49\x46\x38\x39\x61\x02\x00\x02\x00\xf1\x00\x00\xff\x00\x00\x00\x00\xff\x00\xff\x00\xff\xff"
        "\xff\x21\xff\x0b\x4e\x45\x54\x53\x43\x41\x50\x45\x32\x2e\x30\x03\x01\x00\x00\x00\x21\xf9\x04\x00"
        "\x0a\x00\x00\x00\x2c\x00\x00\x00\x00\x02\x00\x02\x00\x00\x02\x04\x04\x41\x10\x05\x00\x21\xf9\x04"
        "\x00\x0a\x00\x00\x00\x2c\x00\x00\x00\x00\x02\x00\x02\x00\x00\x02\x04\x0c\xc3\x30\x05\x00\x3b";
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("moving.gif"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(gif, sizeof(gif) - 1);
    file.close();
    QImageReader frames(path);
    QCOMPARE(frames.imageCount(), 2);
    QString error;
    const QImage image = BackgroundImage::read(path, &error);
    QVERIFY2(!image.isNull(), qPrintable(error));
    QCOMPARE(image.size(), QSize(2, 2));
    QCOMPARE(image.pixelColor(1, 1), QColor(Qt::red));
}

void TestBackground::readAppliesTheOrientationTag()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("turned.tif"));
    QImageWriter writer(path, "tiff");
    QVERIFY(writer.supportsOption(QImageIOHandler::ImageTransformation));
    writer.setTransformation(QImageIOHandler::TransformationRotate90);
    QVERIFY2(writer.write(quadrants(40, 20)), qPrintable(writer.errorString()));
    QString error;
    const QImage image = BackgroundImage::read(path, &error);
    QVERIFY2(!image.isNull(), qPrintable(error));
    // Turned a quarter clockwise: the red top-left quadrant is now top-right.
    QCOMPARE(image.size(), QSize(20, 40));
    QCOMPARE(image.pixelColor(15, 5), QColor(Qt::red));
    QCOMPARE(image.pixelColor(5, 35), QColor(Qt::yellow));
}

void TestBackground::importNamesByContent()
{
    QTemporaryDir dir;
    const QImage picture = quadrants(30, 10);
    const QString first = dir.filePath(QStringLiteral("a.bmp"));
    const QString second = dir.filePath(QStringLiteral("b.png"));
    QVERIFY(picture.save(first, "BMP"));
    QVERIFY(picture.save(second, "PNG"));
    const QString settings = dir.filePath(QStringLiteral("profile/settings.json"));
    QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("profile")));

    QString error;
    const QString relative = BackgroundImage::importFile(first, settings, &error);
    QVERIFY2(!relative.isEmpty(), qPrintable(error));
    const QImage rgba = picture.convertToFormat(QImage::Format_RGBA8888);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData("30x10");
    hash.addData(QByteArrayView(rgba.constBits(), rgba.sizeInBytes()));
    QCOMPARE(relative, QStringLiteral("backgrounds/") + hash.result().toHex() + QStringLiteral(".png"));
    const QString stored = dir.filePath(QStringLiteral("profile/") + relative);
    QCOMPARE(QImage(stored).convertToFormat(QImage::Format_RGBA8888), rgba);

    // The same picture from another file lands in the same PNG.
    QCOMPARE(BackgroundImage::importFile(second, settings, &error), relative);
    QCOMPARE(QDir(dir.filePath(QStringLiteral("profile/backgrounds"))).entryList(QDir::Files).size(), 1);

    QVERIFY(BackgroundImage::importFile(dir.filePath(QStringLiteral("none.png")), settings, &error).isEmpty());
    QCOMPARE(error, QStringLiteral("图片无法识别或尺寸过大，请选择不超过 6400 万像素的图片。"));
}

void TestBackground::importReportsAFolderItCannotMake()
{
    QTemporaryDir dir;
    const QString picture = dir.filePath(QStringLiteral("a.png"));
    QVERIFY(quadrants(4, 4).save(picture));
    // A plain file where the folder should go.
    QFile blocker(dir.filePath(QStringLiteral("backgrounds")));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    QString error;
    QVERIFY(BackgroundImage::importFile(picture, dir.filePath(QStringLiteral("settings.json")), &error).isEmpty());
    QCOMPARE(error, QStringLiteral("无法创建背景图片保存目录。"));
}

void TestBackground::coverPosition_data()
{
    QTest::addColumn<int>("x");
    QTest::addColumn<int>("y");
    QTest::addColumn<QColor>("corner");
    QTest::newRow("top left") << 0 << 0 << QColor(Qt::red);
    QTest::newRow("bottom right") << 100 << 100 << QColor(Qt::yellow);
    QTest::newRow("top right") << 100 << 0 << QColor(Qt::green);
}

void TestBackground::coverPosition()
{
    QFETCH(int, x);
    QFETCH(int, y);
    QFETCH(QColor, corner);
    // A 200 × 100 picture covering a 100 × 100 target: the height fits exactly.
    const BackgroundImage background = opaque(quadrants(200, 100), QStringLiteral("cover"), x, y);
    const QImage canvas = painted(background, QSize(100, 100));
    const QPoint probe(x == 0 ? 5 : 94, y == 0 ? 5 : 94);
    QCOMPARE(canvas.pixelColor(probe), corner);
    // Vertically the picture fits exactly, so both halves always show.
    QCOMPARE(canvas.pixelColor(x == 0 ? 5 : 94, 94), y == 0 ? (x == 0 ? QColor(Qt::blue) : QColor(Qt::yellow))
                                                            : corner);
}

void TestBackground::containAndTile()
{
    // Contain: 200 × 100 into 100 × 100 is 100 × 50, placed by the position.
    BackgroundImage contained = opaque(quadrants(200, 100), QStringLiteral("contain"), 50, 0);
    QImage canvas = painted(contained, QSize(100, 100));
    QCOMPARE(canvas.pixelColor(5, 5), QColor(Qt::red));
    QCOMPARE(canvas.pixelColor(5, 60).alpha(), 0);
    contained = opaque(quadrants(200, 100), QStringLiteral("contain"), 50, 100);
    canvas = painted(contained, QSize(100, 100));
    QCOMPARE(canvas.pixelColor(5, 5).alpha(), 0);
    QCOMPARE(canvas.pixelColor(95, 95), QColor(Qt::yellow));

    // Tile at 50 %: a tile starts at the corner and repeats.
    const BackgroundImage tiled = opaque(quadrants(20, 20), QStringLiteral("tile"), 50, 50);
    canvas = painted(tiled, QSize(60, 60));
    QCOMPARE(canvas.pixelColor(2, 2), QColor(Qt::red));
    QCOMPARE(canvas.pixelColor(22, 2), QColor(Qt::red));
    QCOMPARE(canvas.pixelColor(58, 58), QColor(Qt::yellow));
    // At 0 % the picture's centre lands on the corner.
    canvas = painted(opaque(quadrants(20, 20), QStringLiteral("tile"), 0, 0), QSize(60, 60));
    QCOMPARE(canvas.pixelColor(2, 2), QColor(Qt::yellow));
}

void TestBackground::opacityScalesAndZeroDrawsNothing()
{
    BackgroundImage background = opaque(quadrants(10, 10), QStringLiteral("cover"), 50, 50);
    BackgroundSpec look = background.current;
    look.opacity = 40;
    background.set(look, background.image);
    QVERIFY(std::abs(painted(background, QSize(10, 10)).pixelColor(2, 2).alpha() - 102) <= 1);
    look.opacity = 0;
    background.set(look, background.image);
    const QImage canvas = painted(background, QSize(10, 10));
    QCOMPARE(canvas.pixelColor(2, 2).alpha(), 0);
    // Nothing at all for an invalid target or a missing picture.
    BackgroundImage empty;
    QVERIFY(!empty.hasImage());
    QCOMPARE(painted(empty, QSize(10, 10)).pixelColor(2, 2).alpha(), 0);
    look.opacity = 100;
    background.set(look, background.image);
    QCOMPARE(painted(background, QSize(10, 10), QRect(5, 5, -3, 4)).pixelColor(2, 2).alpha(), 0);
}

void TestBackground::cacheFollowsSizeFitAndPosition()
{
    BackgroundImage background = opaque(quadrants(40, 40), QStringLiteral("cover"), 50, 50);
    painted(background, QSize(30, 30));
    QCOMPARE(background.cacheSize, QSize(30, 30));
    QCOMPARE(background.cacheRatio, 1.0);
    const qint64 key = background.cache.cacheKey();
    painted(background, QSize(30, 30));
    QCOMPARE(background.cache.cacheKey(), key); // reused

    BackgroundSpec look = background.current;
    look.opacity = 60;
    background.set(look, background.image);
    QCOMPARE(background.cacheSize, QSize(30, 30)); // opacity alone keeps it
    look.position_x = 10;
    background.set(look, background.image);
    QCOMPARE(background.cacheSize, QSize(-1, -1));
    QVERIFY(background.cache.isNull());
    painted(background, QSize(30, 30));
    look.fit = QStringLiteral("tile");
    background.set(look, background.image);
    QVERIFY(background.cache.isNull());
    painted(background, QSize(30, 30));
    background.set(look, quadrants(40, 40));
    QVERIFY(background.cache.isNull()); // a new picture

    // Another device pixel ratio rebuilds it at that ratio.
    QImage canvas(QSize(60, 60), QImage::Format_ARGB32_Premultiplied);
    canvas.setDevicePixelRatio(2);
    QPainter painter(&canvas);
    background.paint(painter, QRect(0, 0, 30, 30));
    QCOMPARE(background.cacheRatio, 2.0);
    QCOMPARE(background.cache.size(), QSize(60, 60));
}

void TestBackground::surfaceFillsBaseColourUnderThePicture()
{
    BackgroundSurface surface;
    QVERIFY(surface.testAttribute(Qt::WA_OpaquePaintEvent));
    QVERIFY(!surface.baseColor.isValid());
    QVERIFY(!surface.transparent);
    QVERIFY(!surface.caption);
    surface.resize(40, 40);
    surface.baseColor = QColor(0x24, 0x33, 0x2b);
    BackgroundSpec look;
    look.opacity = 0;
    surface.background.set(look, quadrants(40, 40));
    QImage image = surface.grab().toImage();
    QCOMPARE(image.pixelColor(20, 20), surface.baseColor); // opacity 0: only the base colour
    look.opacity = 100;
    surface.background.set(look, quadrants(40, 40));
    image = surface.grab().toImage();
    QCOMPARE(image.pixelColor(5, 5), QColor(Qt::red));
}

void TestBackground::captionSurfacesShareTheWindowLayout()
{
    QWidget window;
    window.resize(100, 100);
    auto* strip = new BackgroundSurface(&window);
    strip->setGeometry(0, 0, 100, 20);
    auto* lower = new BackgroundSurface(&window);
    lower->setGeometry(0, 60, 100, 40);
    BackgroundSpec look;
    look.opacity = 100;
    for (BackgroundSurface* surface : {strip, lower}) {
        surface->caption = true;
        surface->baseColor = Qt::black;
        surface->background.set(look, quadrants(100, 100));
    }
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    // Each shows its own band of one picture laid over the whole window.
    QCOMPARE(strip->grab().toImage().pixelColor(5, 5), QColor(Qt::red));
    QCOMPARE(lower->grab().toImage().pixelColor(5, 35), QColor(Qt::blue));
    QCOMPARE(lower->grab().toImage().pixelColor(95, 35), QColor(Qt::yellow));

    // A transparent surface lets what is behind it show.
    lower->transparent = true;
    lower->background.set(BackgroundSpec(), QImage());
    lower->update();
    QTRY_VERIFY(!lower->testAttribute(Qt::WA_OpaquePaintEvent));
}

void TestBackground::importOntoAFullDiskLeavesNoPicture()
{
    QTemporaryDir dir;
    const QString picture = dir.filePath(QStringLiteral("a.png"));
    QVERIFY(quadrants(30, 10).save(picture));
    QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("backgrounds")));
    QString error;
    QString relative;
    {
        // What a full disk does, without root.
        const vn::test::FileSizeLimit limit(16);
        relative = BackgroundImage::importFile(picture, dir.filePath(QStringLiteral("settings.json")), &error);
    }
    QVERIFY(relative.isEmpty());
    QCOMPARE(error, QStringLiteral("无法保存背景图片：") + qt_error_string(EFBIG));
    QCOMPARE(QDir(dir.filePath(QStringLiteral("backgrounds"))).entryList(QDir::Files | QDir::Hidden), QStringList());
}

QTEST_MAIN(TestBackground)
#include "tst_Background.moc"
