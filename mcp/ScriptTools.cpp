#include "mcp/McpServer.h"

#include "core/Channel.h"
#include "core/Engine.h"
#include "core/Fail.h"
#include "core/script/FrameScriptProgram.h"
#include "core/script/FrameScriptRuntime.h"
#include "core/script/ScriptError.h"
#include "mcp/ToolArguments.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QList>

namespace vn {

namespace {

constexpr qsizetype MaxSourceBytes = 65536;
constexpr qsizetype MaxChunkChars = 196608;
constexpr qsizetype MaxTrialBytes = 65536;
constexpr int MaxValidateChunks = 128;
constexpr int MaxStoredChunks = 64;
constexpr int MaxFrames = 1024;
constexpr qint64 TrialBudgetMs = 500;

QString sourceCode(const QJsonObject& arguments)
{
    const QJsonValue code = arguments.value(QLatin1String("code"));
    if (!code.isString())
        fail(QStringLiteral("code 必须是字符串"));
    const QString text = code.toString();
    if (text.toUtf8().size() > MaxSourceBytes)
        fail(QStringLiteral("脚本源码最多 64 KiB"));
    return text;
}

QString revision(const Channel* channel, const QString& trialText)
{
    // Keys in this order: QJsonObject sorts them, and code < enabled < test_hex.
    const QJsonObject state{{QStringLiteral("code"), channel->scriptSource},
                            {QStringLiteral("enabled"), channel->scriptEnabled},
                            {QStringLiteral("test_hex"), trialText}};
    const QByteArray text = QJsonDocument(state).toJson(QJsonDocument::Compact);
    return QString::fromLatin1(QCryptographicHash::hash(text, QCryptographicHash::Sha256).toHex());
}

QJsonObject describeScript(const Channel* channel, const QString& trialText)
{
    QJsonArray chunks;
    const QStringList pieces = trialText.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (const QString& piece : pieces)
        chunks.append(piece);
    return {{QStringLiteral("channel_id"), channel->id},
            {QStringLiteral("code"), channel->scriptSource},
            {QStringLiteral("sample_chunks"), chunks},
            {QStringLiteral("enabled"), channel->scriptEnabled},
            {QStringLiteral("error"), channel->scriptError},
            {QStringLiteral("revision"), revision(channel, trialText)},
            {QStringLiteral("frames"), channel->scriptFrames}};
}

QJsonObject offline(QJsonObject result)
{
    result.insert(QStringLiteral("scope"), QStringLiteral("offline_test"));
    result.insert(QStringLiteral("changes_live_script"), false);
    return result;
}

// The trial's bytes, chunk by chunk. Every limit on the request is checked
// here, before the script sees a byte, so the answer to a request that is too
// large never depends on how fast the trial would have run.
QList<QByteArray> trialChunks(const QJsonObject& arguments)
{
    const QJsonValue samples = arguments.value(QLatin1String("sample_chunks"));
    if (arguments.contains(QLatin1String("sample_chunks")) && !samples.isArray())
        fail(QStringLiteral("sample_chunks 必须是 HEX 字符串数组"));
    const QJsonArray chunks = samples.toArray();
    if (chunks.size() > MaxValidateChunks)
        fail(QStringLiteral("试解析最多 128 个数据块"));
    QList<QByteArray> decoded;
    qsizetype total = 0;
    for (const QJsonValue& chunk : chunks) {
        if (!chunk.isString())
            fail(QStringLiteral("每个试解析数据块必须是 HEX 字符串"));
        if (chunk.toString().size() > MaxChunkChars)
            fail(QStringLiteral("试解析输入过长"));
        decoded.append(Engine::encode(chunk.toString(), true, QStringLiteral("utf-8"), QStringLiteral("none")));
        total += decoded.last().size();
        if (total > MaxTrialBytes)
            fail(QStringLiteral("试解析输入合计最多 64 KiB"));
    }
    return decoded;
}

QJsonObject validate(const QJsonObject& arguments)
{
    const QString code = sourceCode(arguments);
    try {
        FrameScriptRuntime runtime(FrameScriptProgram::compile(code));
        const QList<QByteArray> chunks = trialChunks(arguments);
        QElapsedTimer clock;
        clock.start();
        QJsonArray frames;
        for (const QByteArray& bytes : chunks) {
            if (clock.elapsed() > TrialBudgetMs)
                throw ScriptError(0, QStringLiteral("试解析总耗时超限，请减少测试数据块"));
            const QJsonArray produced = runtime.feed(bytes);
            for (const QJsonValue& frame : produced) {
                if (frames.size() >= MaxFrames)
                    fail(QStringLiteral("试解析最多返回 1024 帧"));
                frames.append(frame);
            }
        }
        return offline({{QStringLiteral("valid"), true},
                        {QStringLiteral("frames"), frames},
                        {QStringLiteral("buffered_bytes"), runtime.bufferedBytes()}});
    } catch (const ScriptError& error) {
        return offline({{QStringLiteral("valid"), false},
                        {QStringLiteral("error"), error.display()},
                        {QStringLiteral("line"), error.line}});
    }
}

// The stored trial text of set_frame_script's "sample_chunks": canonical
// chunks joined by line feeds, empty chunks dropped.
QString storedTrialText(const QJsonValue& samples)
{
    if (!samples.isArray())
        fail(QStringLiteral("sample_chunks 必须是 HEX 字符串数组"));
    const QJsonArray chunks = samples.toArray();
    if (chunks.size() > MaxStoredChunks)
        fail(QStringLiteral("界面试解析最多保存 64 个数据块"));
    QStringList kept;
    qsizetype total = 0;
    for (const QJsonValue& chunk : chunks) {
        if (!chunk.isString() || chunk.toString().size() > MaxChunkChars)
            fail(QStringLiteral("试解析数据块必须是有界 HEX 字符串"));
        const QByteArray bytes = Engine::encode(chunk.toString(), true, QStringLiteral("utf-8"), QStringLiteral("none"));
        total += bytes.size();
        if (total > MaxTrialBytes)
            fail(QStringLiteral("试解析输入合计最多 64 KiB"));
        if (!bytes.isEmpty())
            kept.append(QString::fromLatin1(bytes.toHex(' ').toUpper()));
    }
    return kept.join(QLatin1Char('\n'));
}

} // namespace

QJsonObject McpServer::scriptTool(const QString& name, const QJsonObject& arguments)
{
    if (name == QLatin1String("validate_frame_script"))
        return validate(arguments);

    Channel* channel = accessibleChannel(args::string(arguments, QStringLiteral("channel_id")));
    if (channel->config.kind != QLatin1String("serial"))
        fail(QStringLiteral("帧脚本仅适用于串口连接"));
    const QString trialText = sampleTextProvider ? sampleTextProvider(channel) : QString();
    if (name == QLatin1String("get_frame_script"))
        return describeScript(channel, trialText);

    if (!engine->allowAiControl)
        fail(QStringLiteral("AI 控制未开启，不能修改或启用脚本"));
    if (channel->transferActive())
        fail(QStringLiteral("文件传输期间不能修改帧脚本"));
    const QJsonValue enabledValue = arguments.value(QLatin1String("enabled"));
    if (!enabledValue.isBool())
        fail(QStringLiteral("必须明确指定 enabled 为 true 或 false"));
    const bool enabled = enabledValue.toBool();
    const QString expected = args::string(arguments, QStringLiteral("expected_revision"));
    if (expected.isEmpty() || expected != revision(channel, trialText))
        fail(QStringLiteral("脚本已变化或未提供 expected_revision；先 get_frame_script，再基于最新 revision 修改"));
    std::optional<QString> newTrialText;
    if (arguments.contains(QLatin1String("sample_chunks"))) {
        newTrialText = storedTrialText(arguments.value(QLatin1String("sample_chunks")));
        if (!scriptApplier)
            fail(QStringLiteral("GUI 试解析服务尚未连接"));
    }
    const QString code = sourceCode(arguments);
    try {
        FrameScriptProgram::compile(code);
        if (scriptApplier)
            scriptApplier(channel, code, enabled, newTrialText);
        else
            channel->configureScript(code, enabled);
    } catch (const ScriptError& error) {
        // The agent needs the line as much as the editor does.
        fail(error.display());
    }
    return describeScript(channel, sampleTextProvider ? sampleTextProvider(channel) : QString());
}

} // namespace vn
