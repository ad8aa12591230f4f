#include "ui/agents/AgentConfig.h"

#include "core/Fail.h"
#include "platform/WholeFile.h"
#include "ui/agents/AgentConfigText.h"
#include "ui/agents/Jsonc.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QStringDecoder>
#include <QUuid>

#include <algorithm>

namespace vn {

namespace {

AgentClient client(const QString& id, const QString& name, const QString& icon, const QString& executable,
                   const QString& configPath, const QString& format, const QList<QString>& keys)
{
    AgentClient record;
    record.id = id;
    record.name = name;
    record.icon = icon;
    record.executable = executable;
    record.configPath = configPath;
    record.format = format;
    record.keys = keys;
    return record;
}

// Whether the OpenCode installed at `program` is major version 2 or later. A
// program installed with npm is a link into node_modules, so the package is
// looked for beside the link's target first and beside the link itself after.
bool openCodeIsV2(const QString& program)
{
    QStringList folders;
    const QString resolved = QFileInfo(program).canonicalFilePath();
    if (!resolved.isEmpty())
        folders << QFileInfo(resolved).absolutePath();
    const QString direct = QFileInfo(program).absolutePath();
    if (!folders.contains(direct))
        folders << direct;
    for (const QString& folder : folders) {
        for (const QString& candidate : {folder + QStringLiteral("/node_modules/opencode-ai/package.json"),
                                         folder + QStringLiteral("/../package.json")}) {
            QFile file(candidate);
            if (!file.open(QIODevice::ReadOnly))
                continue;
            const QJsonObject package = QJsonDocument::fromJson(file.readAll()).object();
            if (package.value(QStringLiteral("name")).toString() != QLatin1String("opencode-ai"))
                continue;
            const QString version = package.value(QStringLiteral("version")).toVariant().toString();
            const QString major = version.section(QLatin1Char('.'), 0, 0);
            bool ok = false;
            const qlonglong number = major.toLongLong(&ok, 10);
            const bool digits = !major.isEmpty()
                                && std::all_of(major.begin(), major.end(), [](QChar c) { return c.isDigit() && c.unicode() < 128; });
            return ok && digits && number > 1;
        }
    }
    return false;
}

// The tools that speak MCP only over standard input and output start our bridge.
void requireBridge(const QString& bridge)
{
    if (!QFileInfo::exists(bridge))
        fail(QStringLiteral("STDIO 桥接程序不存在：") + bridge);
}

} // namespace

QList<AgentClient> AgentConfig::discover(const AgentEnvironment& env)
{
    const QString& home = env.home;
    const QString openCodeFolder = env.variable(
        QStringLiteral("OPENCODE_CONFIG_DIR"),
        env.variable(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/.config")) + QStringLiteral("/opencode"));
    const QString openCodeDefault = QFileInfo::exists(openCodeFolder + QStringLiteral("/opencode.jsonc"))
                                        ? openCodeFolder + QStringLiteral("/opencode.jsonc")
                                        : openCodeFolder + QStringLiteral("/opencode.json");

    QList<AgentClient> clients{
        client(QStringLiteral("codex"), QStringLiteral("Codex"), QStringLiteral("codex.svg"),
               env.executable(QStringLiteral("codex")),
               env.variable(QStringLiteral("CODEX_HOME"), home + QStringLiteral("/.codex")) + QStringLiteral("/config.toml"),
               QStringLiteral("toml"), {QStringLiteral("mcp_servers")}),
        client(QStringLiteral("claude-code"), QStringLiteral("Claude Code"), QStringLiteral("claude.svg"),
               env.executable(QStringLiteral("claude")),
               env.variable(QStringLiteral("CLAUDE_CONFIG_DIR"), home) + QStringLiteral("/.claude.json"),
               QStringLiteral("json"), {QStringLiteral("mcpServers")}),
        client(QStringLiteral("opencode"), QStringLiteral("OpenCode CLI"), QStringLiteral("opencode.svg"),
               env.executable(QStringLiteral("opencode")),
               env.variable(QStringLiteral("OPENCODE_CONFIG"), openCodeDefault), QStringLiteral("json"),
               {QStringLiteral("mcp")}),
        client(QStringLiteral("claude-desktop"), QStringLiteral("Claude Desktop"), QStringLiteral("claude.svg"),
               desktopExecutable(env, QStringLiteral("Claude")),
               env.appData + QStringLiteral("/Claude/claude_desktop_config.json"), QStringLiteral("json"),
               {QStringLiteral("mcpServers")}),
        client(QStringLiteral("pi"), QStringLiteral("Pi Agent"), QStringLiteral("pi.svg"),
               env.executable(QStringLiteral("pi")),
               env.variable(QStringLiteral("PI_CODING_AGENT_DIR"), home + QStringLiteral("/.pi/agent")) + QStringLiteral("/mcp.json"),
               QStringLiteral("json"), {QStringLiteral("mcpServers")}),
        client(QStringLiteral("hermes"), QStringLiteral("Hermes"), QStringLiteral("hermes.svg"),
               env.executable(QStringLiteral("hermes")),
               env.variable(QStringLiteral("HERMES_HOME"), home + QStringLiteral("/.hermes")) + QStringLiteral("/config.yaml"),
               QStringLiteral("yaml"), {QStringLiteral("mcp_servers")}),
        client(QStringLiteral("openclaw"), QStringLiteral("OpenClaw"), QStringLiteral("openclaw.svg"),
               env.executable(QStringLiteral("openclaw")),
               env.variable(QStringLiteral("OPENCLAW_CONFIG_PATH"),
                            env.variable(QStringLiteral("OPENCLAW_STATE_DIR"), home + QStringLiteral("/.openclaw"))
                                + QStringLiteral("/openclaw.json")),
               QStringLiteral("json"), {QStringLiteral("mcp"), QStringLiteral("servers")}),
        client(QStringLiteral("grok"), QStringLiteral("Grok Build"), QStringLiteral("grok.svg"),
               env.executable(QStringLiteral("grok")),
               env.variable(QStringLiteral("GROK_HOME"), home + QStringLiteral("/.grok")) + QStringLiteral("/config.toml"),
               QStringLiteral("toml"), {QStringLiteral("mcp_servers")}),
        client(QStringLiteral("gemini"), QStringLiteral("Gemini CLI"), QStringLiteral("gemini.svg"),
               env.executable(QStringLiteral("gemini")), geminiFolder(env) + QStringLiteral("/settings.json"),
               QStringLiteral("json"), {QStringLiteral("mcpServers")}),
    };
    if (clients[0].executable.isEmpty())
        clients[0].executable = desktopExecutable(env, QStringLiteral("Codex"));
    if (!clients[2].executable.isEmpty())
        clients[2].openCodeV2 = openCodeIsV2(clients[2].executable);
    return clients;
}

QString geminiFolder(const AgentEnvironment& env)
{
    return env.variable(QStringLiteral("GEMINI_CLI_HOME"), env.home) + QStringLiteral("/.gemini");
}

QJsonObject AgentConfig::entry(const AgentClient& client, const QString& url, const QString& bridge)
{
    const QString& id = client.id;
    if (id == QLatin1String("claude-desktop")) {
        requireBridge(bridge);
        return {{QStringLiteral("command"), bridge}, {QStringLiteral("args"), QJsonArray{QStringLiteral("--url"), url}}};
    }
    if (id == QLatin1String("opencode"))
        return {{QStringLiteral("type"), QStringLiteral("remote")}, {QStringLiteral("url"), url}, {QStringLiteral("enabled"), true}};
    if (id == QLatin1String("gemini"))
        return {{QStringLiteral("httpUrl"), url}};
    if (id == QLatin1String("openclaw"))
        return {{QStringLiteral("transport"), QStringLiteral("streamable-http")}, {QStringLiteral("url"), url},
                {QStringLiteral("enabled"), true}};
    if (id == QLatin1String("claude-code"))
        return {{QStringLiteral("type"), QStringLiteral("http")}, {QStringLiteral("url"), url}};
    return {{QStringLiteral("url"), url}, {QStringLiteral("enabled"), true}};
}

QString readConfig(const AgentClient& client)
{
    if (!QFileInfo::exists(client.configPath))
        return client.format == QLatin1String("json") ? QStringLiteral("{}") : QString();
    QFile file(client.configPath);
    if (!file.open(QIODevice::ReadOnly))
        fail(QStringLiteral("无法读取配置：") + file.errorString());
    const QByteArray bytes = file.readAll();
    // A byte-order mark is kept as a character so that writing the text back
    // keeps it; the editors look past it.
    QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::ConvertInitialBom);
    QString text = decoder.decode(bytes);
    // Decoding with replacement characters and writing the result back would
    // destroy whatever the file held in another encoding.
    if (decoder.hasError())
        fail(QStringLiteral("配置文件不是有效的 UTF-8 文本，未修改文件：") + client.configPath);
    return text;
}

QString AgentConfig::check(const AgentClient& client, const QString& url, const QString& bridge)
{
    if (client.executable.isEmpty())
        fail(QStringLiteral("未检测到已安装的 ") + client.name);
    if (!QFileInfo::exists(client.configPath))
        return QStringLiteral("尚未配置");
    const QString text = readConfig(client);
    if (client.format != QLatin1String("json")) {
        const QString next = updated(client, text, url, bridge);
        return sameDocument(client.format, withoutBom(text), withoutBom(next)) ? QStringLiteral("配置地址一致")
                                                                               : QStringLiteral("需要更新配置");
    }
    QJsonObject node = parseJsonc(withoutBom(text));
    for (const QString& key : client.keys)
        node = node.value(key).toObject();
    bool v2 = false;
    if (client.id == QLatin1String("opencode") && (client.openCodeV2 || node.contains(QStringLiteral("servers")))) {
        node = node.value(QStringLiteral("servers")).toObject();
        v2 = true;
    }
    const QJsonObject current = node.value(QStringLiteral("varnelle")).toObject();
    QJsonObject expected = entry(client, url, bridge);
    if (v2)
        expected = openCodeV2Entry(expected);
    for (auto it = expected.constBegin(); it != expected.constEnd(); ++it) {
        if (!current.contains(it.key()) || current.value(it.key()) != it.value())
            return QStringLiteral("需要更新配置");
    }
    return QStringLiteral("配置地址一致");
}

QString AgentConfig::configure(const AgentClient& client, const QString& url, const QString& bridge)
{
    if (client.executable.isEmpty())
        fail(QStringLiteral("未检测到已安装的 ") + client.name);
    const QString text = readConfig(client);
    const QString next = updated(client, text, url, bridge);
    const QFileInfo info(client.configPath);
    if (!QDir().mkpath(info.absolutePath()))
        fail(QStringLiteral("无法创建配置目录"));
    if (next != text) {
        if (info.exists()) {
            const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss-zzz"));
            const QString tag = QUuid::createUuid().toString(QUuid::Id128).left(8);
            const QString backup = client.configPath + QLatin1Char('.') + stamp + QLatin1Char('-') + tag + QStringLiteral(".bak");
            if (!copyWhole(client.configPath, backup).isEmpty())
                fail(QStringLiteral("配置备份失败，未修改原文件"));
        }
        if (!saveWhole(client.configPath, next.toUtf8()).isEmpty())
            fail(QStringLiteral("配置写入失败"));
    }
    if (check(client, url, bridge) != QStringLiteral("配置地址一致"))
        fail(QStringLiteral("配置写入后校验失败"));
    const QString hint = client.id == QLatin1String("pi") ? QStringLiteral("请在 Pi 中执行 /reload。")
                                                          : QStringLiteral("请重载客户端配置。");
    return QStringLiteral("配置已保存，文件校验通过。") + hint + QLatin1Char('\n') + client.configPath;
}

QString stdioBridgePath()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/VarnelleMCP");
}

} // namespace vn
