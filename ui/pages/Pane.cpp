#include "ui/pages/Pane.h"

#include "core/Channel.h"

#include <QJsonArray>
#include <QLabel>
#include <QUuid>
#include <QVBoxLayout>

namespace vn {

Pane::Pane(Window* owner, const QString& pageKind)
    : window(owner)
    , id(QUuid::createUuid().toString(QUuid::Id128))
    , kind(pageKind)
{
    setObjectName(QStringLiteral("page"));
    // Until the session views arrive a page says what it will show, so an empty
    // tab never looks broken.
    auto* layout = new QVBoxLayout(this);
    auto* note = new QLabel(isControl() ? QStringLiteral("控件页面 · %1").arg(kind)
                                        : QStringLiteral("收发页面"),
                            this);
    note->setObjectName(QStringLiteral("muted"));
    note->setAlignment(Qt::AlignCenter);
    layout->addWidget(note);
}

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
void Pane::exportLog() {}
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
