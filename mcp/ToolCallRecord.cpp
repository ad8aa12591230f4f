#include "mcp/ToolCallRecord.h"

#include "core/Config.h"
#include "core/Journal.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QVariant>

namespace vn {

namespace {

QString compact(const QJsonValue& value)
{
    if (value.isObject())
        return QString::fromUtf8(QJsonDocument(value.toObject()).toJson(QJsonDocument::Compact));
    if (value.isArray())
        return QString::fromUtf8(QJsonDocument(value.toArray()).toJson(QJsonDocument::Compact));
    return value.toVariant().toString();
}

QString stringArgument(const QJsonObject& arguments, const QString& key)
{
    const QJsonValue value = arguments.value(key);
    return value.isString() ? value.toString() : QString();
}

QString target(const Config& config)
{
    if (!config.name.isEmpty())
        return config.name;
    if (config.kind == QLatin1String("serial"))
        return config.port;
    if (config.kind == QLatin1String("ssh"))
        return config.ssh_host;
    if (config.kind == QLatin1String("tcp-server") || config.kind == QLatin1String("udp"))
        return config.bind_host + QLatin1Char(':') + QString::number(config.bind_port);
    return config.host + QLatin1Char(':') + QString::number(config.network_port);
}

} // namespace

QString ToolCallRecord::cut(const QString& text)
{
    if (text.size() <= MaxText)
        return text;
    return text.left(MaxText) + QStringLiteral("\n…（结果已截断）");
}

QString ToolCallRecord::summary(const QString& tool, const QJsonObject& arguments)
{
    if (tool == QLatin1String("open_connection")) {
        const Config config = Config::fromJson(arguments.value(QLatin1String("config")).toObject());
        return QStringLiteral("打开 %1 %2").arg(config.kind, target(config)).trimmed();
    }
    if (tool == QLatin1String("close_connection"))
        return QStringLiteral("关闭连接 ") + stringArgument(arguments, QStringLiteral("channel_id"));
    if (tool == QLatin1String("send_data"))
        return QStringLiteral("发送 %1 个字符").arg(stringArgument(arguments, QStringLiteral("payload")).size());
    if (tool == QLatin1String("set_frame_script")) {
        const QJsonValue enabled = arguments.value(QLatin1String("enabled"));
        return enabled.isBool() && enabled.toBool() ? QStringLiteral("设置并启用帧脚本")
                                                    : QStringLiteral("设置并停用帧脚本");
    }
    if (tool == QLatin1String("validate_frame_script"))
        return QStringLiteral("离线验证帧脚本");
    if (tool == QLatin1String("search_logs")) {
        const QJsonObject filter = arguments.value(QLatin1String("filter")).toObject();
        return QStringLiteral("搜索「%1」").arg(stringArgument(filter, QStringLiteral("text")));
    }
    if (tool == QLatin1String("list_search_views"))
        return QStringLiteral("列出界面搜索视图");
    return tool;
}

QJsonObject ToolCallRecord::recordedArguments(const QJsonObject& arguments)
{
    QJsonObject recorded;
    qsizetype used = 2;
    int left = 0;
    for (auto it = arguments.begin(); it != arguments.end(); ++it) {
        const QString key = it.key();
        QJsonValue value = it.value();
        if (key == QLatin1String("payload")) {
            value = QStringLiteral("%1 字符").arg(value.isString() ? value.toString().size() : 0);
        } else if (key == QLatin1String("code") || key == QLatin1String("sample_chunks")) {
            value = QStringLiteral("已省略正文");
        } else if (value.isString()) {
            value = cut(value.toString());
        } else if (value.isObject() || value.isArray()) {
            const QString text = compact(value);
            if (text.size() > MaxText)
                value = cut(text);
        }
        const QString shownKey = cut(key);
        const qsizetype size = shownKey.size() + compact(value).size() + 6;
        if (left > 0 || used + size > MaxArguments) {
            ++left;
            continue;
        }
        used += size;
        recorded.insert(shownKey, value);
    }
    if (left > 0)
        recorded.insert(QStringLiteral("…"), QStringLiteral("另有 %1 个参数未记录").arg(left));
    return recorded;
}

QJsonObject ToolCallRecord::make(qint64 seq, const QString& tool, const QString& client,
                                 const QJsonObject& arguments, const QString& error,
                                 qint64 durationMs, const QString& resultText)
{
    QJsonObject record{
        {QStringLiteral("seq"), seq},
        {QStringLiteral("time"), now()},
        {QStringLiteral("tool"), cut(tool)},
        {QStringLiteral("client"), cut(client)},
        {QStringLiteral("summary"), cut(summary(tool, arguments))},
        {QStringLiteral("arguments"), recordedArguments(arguments)},
        {QStringLiteral("status"), error.isEmpty() ? QStringLiteral("ok") : QStringLiteral("error")},
        {QStringLiteral("error"), cut(error)},
        {QStringLiteral("duration_ms"), durationMs},
    };
    if (error.isEmpty())
        record.insert(QStringLiteral("result"), cut(resultText));
    return record;
}

} // namespace vn
