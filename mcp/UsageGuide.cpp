#include "mcp/UsageGuide.h"

#include "core/Fail.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>

#include <mutex>

// The resource lives in a static library: it must be registered by name, and
// from outside any namespace.
static void registerGuides()
{
    Q_INIT_RESOURCE(guides);
}

namespace vn {

QString UsageGuide::text(const QString& topic)
{
    static std::once_flag registered;
    std::call_once(registered, registerGuides);

    QString file;
    if (topic == QLatin1String("overview"))
        file = QStringLiteral("SKILL.md");
    else if (topic == QLatin1String("frame_script"))
        file = QStringLiteral("references/frame-script.md");
    else
        fail(QStringLiteral("未知指南主题，请使用 overview 或 frame_script"));

    QFile resource(QStringLiteral(":/guides/") + file);
    if (!resource.open(QIODevice::ReadOnly))
        fail(QStringLiteral("无法读取内置使用指南"));
    return QString::fromUtf8(resource.readAll());
}

QJsonObject UsageGuide::read(const QString& topic)
{
    const QString guide = text(topic);
    const QString skill = QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("skills/varnelle/SKILL.md"));
    const QJsonValue skillPath = QFileInfo::exists(skill) ? QJsonValue(QDir::toNativeSeparators(skill)) : QJsonValue();
    return {{QStringLiteral("topic"), topic},
            {QStringLiteral("guide"), guide},
            {QStringLiteral("skill_path"), skillPath},
            {QStringLiteral("skill_path_scope"), QStringLiteral("server_host")},
            {QStringLiteral("skill_auto_installed"), false},
            {QStringLiteral("skill_installation"), QStringLiteral("optional_installer_components")},
            {QStringLiteral("available_topics"), QJsonArray{QStringLiteral("overview"), QStringLiteral("frame_script")}}};
}

} // namespace vn
