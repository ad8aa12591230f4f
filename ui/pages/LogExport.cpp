#include "ui/pages/LogExport.h"

#include "core/Journal.h"
#include "platform/WholeFile.h"

#include <QJsonDocument>
#include <QJsonValue>

namespace vn {

QString LogExport::write(const Journal& journal, const QString& channelId, const QString& path)
{
    // The journal is bounded (8 MiB), so the whole file is built first and
    // written in one go: it replaces the target only when every byte is on disk.
    QByteArray lines;
    const QJsonValue wanted(channelId);
    for (const Journal::Entry& entry : journal.events) {
        if (entry.first.value(QLatin1String("channel_id")) != wanted)
            continue;
        lines += QJsonDocument(entry.first).toJson(QJsonDocument::Compact);
        lines += '\n';
    }
    return saveWhole(path, lines);
}

} // namespace vn
