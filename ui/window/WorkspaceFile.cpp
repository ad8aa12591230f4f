#include "ui/window/WorkspaceFile.h"

#include "ui/kit/Theme.h"

#include <QFile>
#include <QJsonDocument>

namespace vn {

// Placeholder until the workspace rules land: defaults only.
QJsonObject readWorkspaceFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll()).object();
}

WorkspaceAppearance readAppearance(const QJsonObject& appearance)
{
    WorkspaceAppearance look;
    look.dark = appearance.value(QStringLiteral("theme")).toString() == QStringLiteral("dark");
    look.dataFont = Theme::defaultDataFont();
    return look;
}

} // namespace vn
