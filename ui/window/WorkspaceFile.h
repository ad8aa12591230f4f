#pragma once

#include "ui/kit/BackgroundImage.h"

#include <QDateTime>
#include <QFont>
#include <QJsonObject>
#include <QString>

namespace vn {

// Limits of the parameter sidebar's width, shared by the reader, the grip and
// the window's own width rule.
inline constexpr int DefaultParameterWidth = 246;
inline constexpr int MinimumParameterWidth = 220;
inline constexpr int MaximumParameterWidth = 4096;

// What a window takes from the workspace file's "appearance" object.
struct WorkspaceAppearance {
    int parameterWidth = DefaultParameterWidth; // 220..4096
    bool dark = false;
    QFont dataFont;
};

// The whole workspace file as one object; empty when the file is missing,
// unreadable or not a JSON object.
QJsonObject readWorkspaceFile(const QString& path);

// The workspace file as the root window takes it at start. A file that is
// there but holds no JSON object is moved aside first, so the defaults the
// program then runs on, and writes, never replace what the user had.
struct WorkspaceStart {
    QJsonObject settings; // empty for a missing or unreadable file
    QString kept;         // the path the unreadable file was moved to
    QString notice;       // what to tell the user once; empty when all is well
    bool writable = true; // false: the unreadable file stayed and must not be overwritten
};
WorkspaceStart startWorkspace(const QString& path, const QDateTime& now);

// The names an unreadable workspace file is kept under, in the order tried:
// "<file>.unreadable-<yyyyMMdd-HHmmss>", then the same with "-2", "-3", ...
QString keptWorkspaceName(const QString& path, const QDateTime& when, int attempt);

// The parameter width, palette and data font rules of the "appearance" object.
// A key of the wrong JSON type reads as its default.
WorkspaceAppearance readAppearance(const QJsonObject& appearance);

// The start both pixel font families share, e.g. "Fusion Pixel " for
// "Fusion Pixel 8px ..." and "Fusion Pixel 12px ...".
QString sharedPrefix(const QString& first, const QString& second);

// The family prefix of the pixel fonts the program carries; empty when they
// could not be registered, so a fall-back family is never taken for one.
QString pixelFontPrefix();

// True when `family` begins, letter case counting, with a non-empty `prefix`.
bool isPixelFamily(const QString& family, const QString& prefix);

// A data font as the program keeps it: `family` first with the Chinese
// interface family as fall-back, the point size limited to 8..32, and
// antialiasing off for the pixel fonts, which are drawn for whole pixels.
QFont shapeDataFont(QFont font, const QString& family, int pointSize);

// The "appearance" object as written: the page settings `page` without the
// older "instruments" array, plus the window keys.
QJsonObject appearanceForFile(QJsonObject page, bool dark, const QFont& dataFont, int parameterWidth,
                              const BackgroundSpec& windowBackground,
                              const BackgroundSpec& receiveBackground);

// Writes `object` indented with sorted keys through an atomic save-file,
// creating the folder first. Returns the save-file's error text, empty on
// success; on failure the previous file is left as it was.
QString writeWorkspaceFile(const QString& path, const QJsonObject& object);

} // namespace vn
