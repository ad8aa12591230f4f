#pragma once

#include <QImage>
#include <QJsonObject>
#include <QPixmap>
#include <QSize>
#include <QString>

class QPainter;
class QRect;

namespace vn {

// How one background picture is laid out; stored in the workspace settings.
struct BackgroundSpec {
    QString file;           // "backgrounds/<sha-256>.png" beside the settings file; empty: none
    QString name;           // the file name the user chose
    QString fit = QStringLiteral("cover"); // "cover", "contain" or "tile"
    int opacity = 25;       // percent
    int position_x = 50;    // percent: 0 left, 100 right
    int position_y = 50;    // percent: 0 top, 100 bottom

    QJsonObject json() const;
    // Never fails: missing or mistyped keys take their defaults, numbers are
    // clamped to 0..100 and an unknown fit reads as "cover".
    static BackgroundSpec fromJson(const QJsonObject& object);

    bool operator==(const BackgroundSpec&) const = default;
};

// A picture with its settings, drawn through a cache fitted to the last target size.
struct BackgroundImage {
    BackgroundSpec current; // the settings it is drawn with
    QImage image;
    mutable QPixmap cache;
    mutable QSize cacheSize{-1, -1};
    mutable double cacheRatio = 0.0;

    // Reads a picture of at most 64,000,000 pixels, decoded at no more than
    // 4096 × 4096, as RGBA. Null on failure, with the reason in `error`.
    static QImage read(const QString& path, QString* error);
    // Copies a picture into the "backgrounds" folder beside the settings file as
    // a PNG named by its content; returns the relative path, empty on failure.
    static QString importFile(const QString& sourcePath, const QString& settingsPath, QString* error);

    void set(const BackgroundSpec& settings, const QImage& newImage);
    bool hasImage() const { return !image.isNull(); }
    void paint(QPainter& painter, const QRect& target) const;
};

} // namespace vn
