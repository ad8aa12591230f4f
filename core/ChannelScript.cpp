#include "core/Channel.h"

#include "core/Engine.h"
#include "core/Fail.h"

#include <QJsonArray>
#include <QJsonDocument>

#ifdef VN_HAVE_VN_SCRIPT
#include "core/script/FrameScriptProcessor.h"
#include "core/script/FrameScriptProgram.h"
#include "core/script/ScriptError.h"
#endif

namespace vn {

#ifdef VN_HAVE_VN_SCRIPT

QString Channel::defaultScriptSource()
{
    return FrameScriptProgram::example();
}

void Channel::restartScriptRuntimes()
{
    if (processor)
        processor->configure(scriptEnabled ? program : nullptr);
}

void Channel::submitScript(const QByteArray& data, const QString& peer, qint64 eventSeq)
{
    processor->submit(data, peer, eventSeq);
}

void Channel::configureScript(const QString& source, bool enabled)
{
    std::shared_ptr<const FrameScriptProgram> compiled;
    if (enabled) {
        if (config.kind != QLatin1String("serial"))
            throw ScriptError(0, QStringLiteral("脚本解析仅适用于串口会话"));
        compiled = FrameScriptProgram::compile(source);
        if (!processor) {
            processor = new FrameScriptProcessor(this);
            connect(processor, &FrameScriptProcessor::samplesReady, this, &Channel::scriptSamplesHandler);
            connect(processor, &FrameScriptProcessor::failed, this, &Channel::scriptFailedHandler);
        }
    }
    scriptSource = source;
    program = compiled;
    scriptEnabled = enabled;
    scriptError.clear();
    scriptFrames = 0;
    if (processor)
        processor->configure(program);
    Q_EMIT engine->channelsChanged();
}

#else // the frame-script library is not part of this build

QString Channel::defaultScriptSource()
{
    return QString();
}

void Channel::restartScriptRuntimes()
{
}

void Channel::submitScript(const QByteArray&, const QString&, qint64)
{
}

void Channel::configureScript(const QString& source, bool enabled)
{
    if (enabled) {
        if (config.kind != QLatin1String("serial"))
            fail(QStringLiteral("脚本解析仅适用于串口会话"));
        fail(QStringLiteral("帧脚本引擎尚未接入，暂不能启用脚本解析"));
    }
    scriptSource = source;
    program.reset();
    scriptEnabled = false;
    scriptError.clear();
    scriptFrames = 0;
    Q_EMIT engine->channelsChanged();
}

#endif

void Channel::scriptSamplesHandler(const QString& peer, const QJsonArray& samples, qint64 eventSequence)
{
    if (!scriptEnabled)
        return;
    const auto it = sources.find(peer.isEmpty() ? QStringLiteral("default") : peer);
    if (it == sources.end())
        return;
    for (const QJsonValue& value : samples) {
        const QJsonObject frame = value.toObject();
        ++scriptFrames;
        QJsonObject record;
        record.insert(QLatin1String("event_seq"), eventSequence);
        record.insert(QLatin1String("time"), now());
        record.insert(QLatin1String("format"), QStringLiteral("script"));
        record.insert(QLatin1String("peer"), peer);
        record.insert(QLatin1String("text"), QString::fromUtf8(QJsonDocument(frame).toJson(QJsonDocument::Compact)));
        const QByteArray indented = QJsonDocument(frame).toJson(QJsonDocument::Indented);
        record.insert(QLatin1String("pretty"), QString::fromUtf8(indented));
        record.insert(QLatin1String("value"), frame);
        it->second->script.append(std::move(record), indented);
    }
    Q_EMIT engine->eventAdded();
}

void Channel::scriptFailedHandler(const QString& message)
{
    if (!scriptEnabled)
        return;
    scriptEnabled = false;
    scriptError = message;
    restartScriptRuntimes();
    engine->journal.append(id, QStringLiteral("status"), QByteArray(), QString(),
                           QStringLiteral("脚本解析已停用：") + message, false, config.kind);
    Q_EMIT engine->eventAdded();
    Q_EMIT engine->channelsChanged();
}

} // namespace vn
