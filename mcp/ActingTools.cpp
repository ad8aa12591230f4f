#include "mcp/McpServer.h"

#include "core/Channel.h"
#include "core/Config.h"
#include "core/Engine.h"
#include "mcp/ToolArguments.h"

namespace vn {

// The three tools that act on connections; the AI-control gate has been
// passed in call() before any of this runs.
QJsonObject McpServer::actingTool(const QString& name, const QJsonObject& arguments)
{
    if (name == QLatin1String("open_connection")) {
        const Config config = Config::fromJson(args::object(arguments, QStringLiteral("config")));
        requireProtocol(config.kind);
        Channel* channel = engine->open(config);
        Q_EMIT guiConnectionOpened(channel);
        return channel->describe();
    }
    Channel* channel = accessibleChannel(args::string(arguments, QStringLiteral("channel_id")));
    if (name == QLatin1String("close_connection")) {
        channel->close();
        return channel->describe();
    }
    const QString peer = args::string(arguments, QStringLiteral("peer"));
    const QString newline = args::string(arguments, QStringLiteral("newline"), QStringLiteral("none"));
    const QString encoding = args::string(arguments, QStringLiteral("encoding"), QStringLiteral("utf-8"));
    const bool hex = args::boolean(arguments, QStringLiteral("hex_mode"), false);
    const QString payload = args::string(arguments, QStringLiteral("payload"));
    const QByteArray bytes = Engine::encode(payload, hex, encoding, newline);
    return channel->send(bytes, peer, QStringLiteral("mcp"));
}

} // namespace vn
