#include "ui/kit/BackgroundImage.h"

#include "platform/WholeFile.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QImageReader>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace vn {

namespace {

constexpr qint64 maximumPixels = 64'000'000;
constexpr int maximumSide = 4096;

int percent(const QJsonObject& object, const char* key, int fallback)
{
    const QJsonValue value = object.value(QLatin1String(key));
    int result = fallback;
    if (value.isDouble()) {
        const double number = value.toDouble();
        if (std::isfinite(number) && number == std::floor(number)) {
            result = static_cast<int>(std::clamp(number, -1e9, 1e9));
        }
    }
    return std::clamp(result, 0, 100);
}

void fail(QString* error, const QString& message)
{
    if (error) {
        *error = message;
    }
}

} // namespace

QJsonObject BackgroundSpec::json() const
{
    return QJsonObject{
        {QStringLiteral("file"), file},
        {QStringLiteral("name"), name},
        {QStringLiteral("fit"), fit},
        {QStringLiteral("opacity"), opacity},
        {QStringLiteral("position_x"), position_x},
        {QStringLiteral("position_y"), position_y},
    };
}

BackgroundSpec BackgroundSpec::fromJson(const QJsonObject& object)
{
    BackgroundSpec settings;
    settings.file = object.value(QStringLiteral("file")).toString();
    const QJsonValue name = object.value(QStringLiteral("name"));
    settings.name = name.isString() ? name.toString() : QFileInfo(settings.file).fileName();
    const QString fit = object.value(QStringLiteral("fit")).toString(QStringLiteral("cover"));
    settings.fit = fit == QLatin1String("contain") || fit == QLatin1String("tile") ? fit : QStringLiteral("cover");
    settings.opacity = percent(object, "opacity", 25);
    settings.position_x = percent(object, "position_x", 50);
    settings.position_y = percent(object, "position_y", 50);
    return settings;
}

QImage BackgroundImage::read(const QString& path, QString* error)
{
    QImageReader reader(path);
    reader.setAutoTransform(true);
    reader.setDecideFormatFromContent(true);
    const QSize size = reader.size();
    if (size.width() < 0 || size.height() < 0 || qint64(size.width()) * size.height() > maximumPixels) {
        fail(error, QStringLiteral("图片无法识别或尺寸过大，请选择不超过 6400 万像素的图片。"));
        return {};
    }
    if (size.width() > maximumSide || size.height() > maximumSide) {
        reader.setScaledSize(size.scaled(maximumSide, maximumSide, Qt::KeepAspectRatio));
    }
    // Qt's default decode budget is smaller than the largest picture we accept
    // (64,000,000 pixels at 4 bytes); widen it for this read only.
    const int budget = QImageReader::allocationLimit();
    QImageReader::setAllocationLimit(std::max(budget, 256));
    QImage image = reader.read();
    QImageReader::setAllocationLimit(budget);
    if (image.isNull()) {
        fail(error, QStringLiteral("无法读取图片：") + reader.errorString());
        return {};
    }
    // An orientation tag can swap the sides after the scaled decode.
    if (image.width() > maximumSide || image.height() > maximumSide) {
        image = image.scaled(maximumSide, maximumSide, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    }
    return image.convertToFormat(QImage::Format_RGBA8888);
}

QString BackgroundImage::importFile(const QString& sourcePath, const QString& settingsPath, QString* error)
{
    const QImage image = read(sourcePath, error);
    if (image.isNull()) {
        return {};
    }
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(QStringLiteral("%1x%2").arg(image.width()).arg(image.height()).toLatin1());
    hash.addData(QByteArrayView(image.constBits(), image.sizeInBytes()));
    const QString relative =
        QStringLiteral("backgrounds/") + QString::fromLatin1(hash.result().toHex()) + QStringLiteral(".png");

    const QDir folder = QFileInfo(settingsPath).absoluteDir();
    if (!folder.mkpath(QStringLiteral("backgrounds"))) {
        fail(error, QStringLiteral("无法创建背景图片保存目录。"));
        return {};
    }
    QByteArray png;
    QBuffer buffer(&png);
    if (!buffer.open(QIODevice::WriteOnly) || !image.save(&buffer, "PNG")) {
        fail(error, QStringLiteral("无法保存背景图片：图片编码失败"));
        return {};
    }
    if (const QString failure = saveWhole(folder.filePath(relative), png); !failure.isEmpty()) {
        fail(error, QStringLiteral("无法保存背景图片：") + failure);
        return {};
    }
    return relative;
}

void BackgroundImage::set(const BackgroundSpec& settings, const QImage& newImage)
{
    // Opacity is applied when the cache is drawn; everything else reshapes it.
    if (newImage.cacheKey() != image.cacheKey() || settings.fit != current.fit
        || settings.position_x != current.position_x || settings.position_y != current.position_y) {
        cache = QPixmap();
        cacheSize = QSize(-1, -1);
    }
    current = settings;
    image = newImage;
}

void BackgroundImage::paint(QPainter& painter, const QRect& target) const
{
    if (image.isNull() || current.opacity == 0 || !target.isValid()) {
        return;
    }
    const double ratio = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
    const QSize size = target.size();
    if (cache.isNull() || cacheSize != size || !qFuzzyCompare(cacheRatio, ratio)) {
        cacheRatio = ratio;
        cacheSize = size;
        QPixmap fitted(static_cast<int>(std::ceil(size.width() * ratio)),
                       static_cast<int>(std::ceil(size.height() * ratio)));
        fitted.setDevicePixelRatio(ratio);
        fitted.fill(Qt::transparent);
        {
            QPainter into(&fitted);
            into.setRenderHint(QPainter::SmoothPixmapTransform);
            const double width = size.width();
            const double height = size.height();
            const double px = std::clamp(current.position_x, 0, 100) / 100.0;
            const double py = std::clamp(current.position_y, 0, 100) / 100.0;
            const double w = image.width();
            const double h = image.height();
            const QRectF whole(0, 0, width, height);
            if (current.fit == QLatin1String("tile")) {
                into.drawTiledPixmap(whole, QPixmap::fromImage(image), QPointF(w * (0.5 - px), h * (0.5 - py)));
            } else if (current.fit == QLatin1String("contain")) {
                const QSizeF s = QSizeF(w, h).scaled(width, height, Qt::KeepAspectRatio);
                into.drawImage(QRectF(QPointF((width - s.width()) * px, (height - s.height()) * py), s), image);
            } else {
                const double k = std::max(height / h, width / w);
                const QRectF source(QPointF((w - width / k) * px, (h - height / k) * py),
                                    QSizeF(width / k, height / k));
                into.drawImage(whole, image, source);
            }
        }
        cache = fitted;
    }
    painter.save();
    painter.setOpacity(current.opacity * painter.opacity() / 100.0);
    painter.drawPixmap(target.topLeft(), cache);
    painter.restore();
}

} // namespace vn
