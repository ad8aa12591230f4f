#include "mcp/McpServer.h"

#include "core/Channel.h"
#include "core/Engine.h"
#include "core/Fail.h"
#include "mcp/UsageGuide.h"
#include "mcp/ToolArguments.h"

namespace vn {

namespace {

const char ClosedProtocol[] = "该协议的 MCP 访问已关闭，请在设置 → AI / MCP 中开启";

QString accessKey(const QString& kind)
{
    if (kind == QLatin1String("tcp-client") || kind == QLatin1String("tcp-server"))
        return QStringLiteral("tcp");
    return kind;
}

} // namespace

QJsonValue McpServer::call(const QString& name, const QJsonObject& arguments)
{
    if (name == QLatin1String("get_frame_script") || name == QLatin1String("validate_frame_script")
        || name == QLatin1String("set_frame_script"))
        return scriptTool(name, arguments);
    if (name == QLatin1String("list_search_views") || name == QLatin1String("search_logs"))
        return searchTool(name, arguments);
    if (name == QLatin1String("read_usage_guide"))
        return UsageGuide::read(args::string(arguments, QStringLiteral("topic"), QStringLiteral("overview")));
    static const QStringList reading{
        QStringLiteral("get_status"),      QStringLiteral("list_serial_ports"), QStringLiteral("list_connections"),
        QStringLiteral("read_events"),     QStringLiteral("read_all_events"),   QStringLiteral("read_waveform"),
        QStringLiteral("read_structured"), QStringLiteral("read_script_results")};
    if (reading.contains(name))
        return readingTool(name, arguments);
    if (name != QLatin1String("send_data") && name != QLatin1String("open_connection")
        && name != QLatin1String("close_connection"))
        fail(QStringLiteral("未知工具"));
    if (!engine->allowAiControl)
        fail(QStringLiteral("AI 控制未开启，请在桌面设置 → AI / MCP 中允许发送报文和控制连接"));
    return actingTool(name, arguments);
}

QJsonObject McpServer::protocolAccess() const
{
    return access;
}

bool McpServer::protocolEnabled(const QString& kind) const
{
    if (kind == QLatin1String("demo"))
        return true;
    const QJsonValue value = access.value(accessKey(kind));
    return value.isBool() && value.toBool();
}

void McpServer::setProtocolEnabled(const QString& protocol, bool enabled)
{
    const QString key = accessKey(protocol);
    if (!access.contains(key))
        fail(QStringLiteral("未知的 MCP 协议"));
    const QJsonValue stored = access.value(key);
    if ((stored.isBool() && stored.toBool()) == enabled)
        return;
    access.insert(key, enabled);
    Q_EMIT protocolAccessChanged();
}

void McpServer::requireProtocol(const QString& kind) const
{
    if (!protocolEnabled(kind))
        fail(QString::fromUtf8(ClosedProtocol));
}

Channel* McpServer::accessibleChannel(const QString& channelId) const
{
    if (channelId.trimmed().isEmpty())
        fail(QStringLiteral("必须指定非空 channel_id；先调用 list_connections 或 get_status，核对协议、端口和状态后选择连接 ID。"
                            "不会自动选择连接或读取全局历史。"));
    Channel* channel = engine->get(channelId);
    if (!protocolEnabled(channel->config.kind))
        fail(QString::fromUtf8(ClosedProtocol));
    return channel;
}

QJsonArray McpServer::visibleConnections() const
{
    QJsonArray connections;
    for (const auto& [id, channel] : engine->channels) {
        if (protocolEnabled(channel->config.kind))
            connections.append(channel->describe());
    }
    return connections;
}

} // namespace vn
