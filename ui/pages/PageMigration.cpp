#include "ui/pages/PageMigration.h"

#include <QJsonObject>
#include <QList>

namespace vn {

namespace {

const QString kKind = QStringLiteral("kind");
const QString kTitle = QStringLiteral("title");

void expandStructured(const QJsonObject& page, QJsonArray& result)
{
    const int parser = page.value(QStringLiteral("parser")).toInt(0);
    const QString title = page.value(kTitle).toString();
    for (const QString& kind : {QStringLiteral("json"), QStringLiteral("xml")}) {
        if ((kind == QLatin1String("xml") && parser == 1) || (kind == QLatin1String("json") && parser == 2))
            continue;
        QJsonObject copy = page;
        copy.insert(kKind, kind);
        copy.remove(QStringLiteral("parser"));
        QString named;
        if (!title.isEmpty() && title != QLatin1String("JSON / XML"))
            named = parser != 0 ? title : title + QStringLiteral(" · ") + kind.toUpper();
        copy.insert(kTitle, named);
        result.append(copy);
    }
}

} // namespace

QJsonArray migrateInstrumentPages(const QJsonArray& pages)
{
    QJsonArray result;
    QList<QJsonObject> values;
    for (const QJsonValue& value : pages) {
        const QJsonObject page = value.toObject();
        const QString kind = page.value(kKind).toString();
        if (kind == QLatin1String("waveform") || kind == QLatin1String("json") || kind == QLatin1String("xml")
            || kind == QLatin1String("control"))
            result.append(page);
        else if (kind == QLatin1String("values"))
            values.append(page);
        else if (kind == QLatin1String("structured"))
            expandStructured(page, result);
    }

    const QString sourceKey = QStringLiteral("source_key");
    for (QJsonObject page : std::as_const(values)) {
        bool merged = false;
        for (qsizetype index = 0; index < result.size(); ++index) {
            QJsonObject candidate = result.at(index).toObject();
            if (candidate.value(kKind).toString() == QLatin1String("waveform")
                && candidate.value(sourceKey) == page.value(sourceKey)) {
                candidate.insert(QStringLiteral("show_values"), true);
                result.replace(index, candidate);
                merged = true;
                break;
            }
        }
        if (merged)
            continue;
        page.insert(kKind, QStringLiteral("waveform"));
        page.insert(QStringLiteral("show_values"), true);
        if (page.value(kTitle) == QJsonValue(QStringLiteral("实时数值")))
            page.remove(kTitle);
        result.append(page);
    }
    return result;
}

} // namespace vn
