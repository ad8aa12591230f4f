#include "ui/pages/Pane.h"

#include "core/Channel.h"

#include <QJsonArray>

namespace vn {

Pane::Pane(Window* owner, const QString& pageKind) : window(owner), kind(pageKind) {}

Pane::~Pane() = default;

QJsonObject Pane::settings() const
{
    QJsonObject object = saved;
    if (isControl()) {
        object.insert(QStringLiteral("kind"), kind);
        object.insert(QStringLiteral("source_key"), sourceKey);
    }
    return object;
}

void Pane::restore(const QJsonObject& object)
{
    saved = object;
    if (isControl())
        sourceKey = object.value(QStringLiteral("source_key")).toString(sourceKey);
}

void Pane::setChannel(Channel* bound)
{
    channel = bound;
    if (bound)
        config = bound->config;
}

void Pane::setTerminal(bool on) { terminal = on; }
void Pane::tick(bool) {}
void Pane::applyAppearance() {}
void Pane::replay() {}
void Pane::clearView() {}
void Pane::refreshSource() {}
void Pane::refreshScriptResults() {}

QJsonArray migrateInstrumentPages(const QJsonArray& pages)
{
    QJsonArray result;
    for (const QJsonValue& value : pages) {
        const QString kind = value.toObject().value(QStringLiteral("kind")).toString();
        if (kind == QLatin1String("waveform") || kind == QLatin1String("json")
            || kind == QLatin1String("xml") || kind == QLatin1String("control"))
            result.append(value);
    }
    return result;
}

} // namespace vn
