#include "mcp/McpServer.h"

#include "core/Channel.h"
#include "core/Engine.h"
#include "core/Fail.h"
#include "core/Version.h"
#include "mcp/ToolArguments.h"

#include <QCoreApplication>

namespace vn {

namespace {

// The user the server runs for, as get_status reports it.
QString userName()
{
    QString name = qEnvironmentVariable("USERNAME");
    if (name.isEmpty())
        name = qEnvironmentVariable("USER");
    return name;
}

} // namespace

QJsonValue McpServer::readingTool(const QString& name, const QJsonObject& arguments)
{
    if (name == QLatin1String("get_status"))
        return status();
    if (name == QLatin1String("list_serial_ports")) {
        requireProtocol(QStringLiteral("serial"));
        return engine->ports();
    }
    if (name == QLatin1String("list_connections"))
        return visibleConnections();
    if (name == QLatin1String("read_events"))
        return readEvents(arguments, 0, false);
    if (name == QLatin1String("read_all_events"))
        return readEvents(arguments, 0, true);

    Channel* channel = accessibleChannel(args::string(arguments, QStringLiteral("channel_id")));
    if (name == QLatin1String("read_waveform"))
        return channel->waveform(args::integer(arguments, QStringLiteral("limit"), 1000));
    const qint64 after = args::integer64(arguments, QStringLiteral("after"), 0);
    const int limit = args::integer(arguments, QStringLiteral("limit"), 100);
    const QJsonObject cursors = args::object(arguments, QStringLiteral("cursors"));
    if (name == QLatin1String("read_structured"))
        return channel->structured(after, limit, cursors);
    return channel->scriptResults(after, limit, cursors);
}

QJsonObject McpServer::status() const
{
    const QJsonArray connections = visibleConnections();
    int connected = 0;
    int recovering = 0;
    QJsonObject counts{{QStringLiteral("serial"), 0},     {QStringLiteral("tcp-client"), 0},
                       {QStringLiteral("tcp-server"), 0}, {QStringLiteral("udp"), 0},
                       {QStringLiteral("ssh"), 0},        {QStringLiteral("demo"), 0}};
    for (const auto& [id, channel] : engine->channels) {
        const QString kind = channel->config.kind;
        if (!protocolEnabled(kind))
            continue;
        if (channel->state == QLatin1String("connected") || channel->state == QLatin1String("listening")) {
            ++connected;
            counts.insert(kind, counts.value(kind).toInt() + 1);
        } else if (channel->state == QLatin1String("reconnecting")) {
            ++recovering;
        }
    }
    const QString user = userName();
    return {
        {QStringLiteral("version"), QString::fromLatin1(Version)},
        {QStringLiteral("session_id"), engine->journal.sessionId},
        {QStringLiteral("latest_cursor"), engine->journal.lastSeq},
        {QStringLiteral("process"),
         QJsonObject{{QStringLiteral("username"), user},
                     {QStringLiteral("pid"), QCoreApplication::applicationPid()},
                     {QStringLiteral("sandbox_account"), user.contains(QLatin1String("sandbox"), Qt::CaseInsensitive)}}},
        {QStringLiteral("allow_ai_control"), engine->allowAiControl},
        {QStringLiteral("protocol_access"), access},
        {QStringLiteral("max_events"), 20000},
        {QStringLiteral("max_encoded_bytes"), 8388608},
        {QStringLiteral("connections"), connections},
        {QStringLiteral("connection_count"), connections.size()},
        {QStringLiteral("connected_count"), connected},
        {QStringLiteral("recovering_count"), recovering},
        {QStringLiteral("counts_by_protocol"), counts},
        {QStringLiteral("mcp_url"), url()},
        {QStringLiteral("implementation"), QStringLiteral("C++20 / Qt 6 native (QTcpServer, JSON-RPC 2.0 over HTTP/1.1)")},
        {QStringLiteral("agent_config_checks"), agentChecks},
        {QStringLiteral("usage_guide"),
         QJsonObject{{QStringLiteral("tool"), QStringLiteral("read_usage_guide")},
                     {QStringLiteral("topics"), QJsonArray{QStringLiteral("overview"), QStringLiteral("frame_script")}}}},
    };
}

QJsonObject McpServer::readEvents(const QJsonObject& arguments, int limitOverride, bool allChannels) const
{
    Channel* channel = nullptr;
    QString channelFilter;
    if (allChannels) {
        if (arguments.contains(QLatin1String("channel_id")))
            fail(QStringLiteral("read_all_events 读取所有已开放连接的历史，不接受 channel_id；读取单个连接请使用 read_events 并指定 channel_id。"));
    } else {
        channelFilter = args::string(arguments, QStringLiteral("channel_id"));
        channel = accessibleChannel(channelFilter);
    }
    const int wait = args::integer(arguments, QStringLiteral("wait_ms"), 0);
    if (wait < 0 || wait > 10000)
        fail(QStringLiteral("wait_ms 范围 0..10000"));
    const int limit = limitOverride >= 1 ? limitOverride : args::integer(arguments, QStringLiteral("limit"), 200);
    const qint64 after = args::integer64(arguments, QStringLiteral("after"), 0);

    const auto visible = [this](const QJsonObject& event) {
        QString kind = event.value(QLatin1String("protocol")).toString();
        if (kind.isEmpty()) {
            const auto found = engine->channels.find(event.value(QLatin1String("channel_id")).toString());
            if (found != engine->channels.end())
                kind = found->second->config.kind;
        }
        return protocolEnabled(kind);
    };
    QJsonObject result = engine->journal.read(after, limit, channelFilter, visible);
    if (allChannels) {
        result.insert(QStringLiteral("scope"), QStringLiteral("all_channels"));
    } else {
        result.insert(QStringLiteral("scope"), QStringLiteral("channel"));
        result.insert(QStringLiteral("channel_id"), channelFilter);
        result.insert(QStringLiteral("protocol"), channel->config.kind);
        result.insert(QStringLiteral("connection_state"), channel->state);
    }
    return result;
}

QJsonObject McpServer::searchTool(const QString& name, const QJsonObject& arguments)
{
    Channel* channel = accessibleChannel(args::string(arguments, QStringLiteral("channel_id")));
    if (!searchHandler)
        fail(QStringLiteral("GUI 搜索服务尚未连接"));
    QJsonObject copy = arguments;
    copy.insert(QStringLiteral("action"), name);
    return searchHandler(channel, copy);
}

} // namespace vn
