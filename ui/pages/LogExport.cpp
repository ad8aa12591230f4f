#include "ui/pages/LogExport.h"

#include "core/Journal.h"

#include <QJsonDocument>
#include <QJsonValue>
#include <QSaveFile>

namespace vn {

QString LogExport::write(const Journal& journal, const QString& channelId, const QString& path)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString();
    const QJsonValue wanted(channelId);
    for (const Journal::Entry& entry : journal.events) {
        if (entry.first.value(QLatin1String("channel_id")) != wanted)
            continue;
        // Single writes are not checked: a failed one fails the commit.
        file.write(QJsonDocument(entry.first).toJson(QJsonDocument::Compact));
        file.write("\n", 1);
    }
    if (!file.commit())
        return file.errorString();
    return QString();
}

} // namespace vn
