#pragma once

#include <QFont>
#include <QJsonObject>
#include <QString>

namespace vn {

// What a window takes from the workspace file's "appearance" object.
struct WorkspaceAppearance {
    int parameterWidth = 246; // 220..4096
    bool dark = false;
    QFont dataFont;
};

// The whole workspace file as one object; empty when the file is missing,
// unreadable or not a JSON object.
QJsonObject readWorkspaceFile(const QString& path);

// The parameter width, palette and data font rules of the "appearance" object.
WorkspaceAppearance readAppearance(const QJsonObject& appearance);

} // namespace vn
