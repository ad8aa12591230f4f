// bench_agent_config: how long the in-place entry edit takes on large agent
// configuration files (some tools keep megabytes of history in theirs).
#include "ui/agents/AgentConfig.h"
#include "ui/agents/Jsonc.h"

#include <QElapsedTimer>
#include <QString>

#include <cstdio>
#include <cstdlib>
#include <functional>

using namespace vn;

namespace {

AgentClient tool(const QString& id, const QString& format, const QList<QString>& keys)
{
    AgentClient client;
    client.id = id;
    client.name = id;
    client.executable = QStringLiteral("/bin/true");
    client.format = format;
    client.keys = keys;
    return client;
}

void measure(const char* what, qsizetype bytes, int rounds, const std::function<void()>& work)
{
    work(); // warm-up
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < rounds; ++i)
        work();
    const double ms = double(timer.nsecsElapsed()) / 1e6 / rounds;
    std::printf("%-34s %8.2f MiB  %9.2f ms/edit  %7.1f MiB/s\n", what, double(bytes) / 1048576.0, ms,
                double(bytes) / 1048576.0 / (ms / 1000.0));
}

} // namespace

int main(int argc, char* argv[])
{
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    const int scale = argc > 1 ? std::atoi(argv[1]) : 20000;
    const QString url = QStringLiteral("http://127.0.0.1:8765/mcp");

    // A JSONC file of about 8 MiB: many projects with long strings, comments
    // and our server table at the end.
    QString json = QStringLiteral("{\n  // history\n  \"projects\": {\n");
    for (int i = 0; i < scale; ++i)
        json += QStringLiteral("    \"/home/user/p%1\": {\"history\": [\"%2\"], 'allowed': [1, 2, 3,],},\n")
                    .arg(i)
                    .arg(QString(300, QLatin1Char('x')));
    json += QStringLiteral("  },\n  \"mcpServers\": {\"other\": {\"url\": \"http://x\"}}\n}\n");
    const AgentClient claude = tool(QStringLiteral("claude-code"), QStringLiteral("json"), {QStringLiteral("mcpServers")});
    measure("JSONC scan", json.size(), 10, [&] { jsonTokens(json); });
    measure("JSONC read", json.size(), 5, [&] { parseJsonc(json); });
    measure("JSONC entry edit", json.size(), 5, [&] { AgentConfig::updated(claude, json, url, QString()); });

    QString toml;
    for (int i = 0; i < scale; ++i)
        toml += QStringLiteral("[profiles.p%1]\nmodel = \"m%1\"\nnote = \"%2\"\n\n").arg(i).arg(QString(40, QLatin1Char('y')));
    toml += QStringLiteral("[mcp_servers.varnelle]\nurl = \"http://old\"\n");
    measure("TOML entry edit + verification", toml.size(), 5,
            [&] { AgentConfig::updated(tool(QStringLiteral("codex"), QStringLiteral("toml"), {QStringLiteral("mcp_servers")}), toml, url, QString()); });

    QString yaml = QStringLiteral("mcp_servers:\n");
    for (int i = 0; i < scale / 4; ++i)
        yaml += QStringLiteral("  s%1:\n    url: \"http://h/%1\"\n    enabled: true\n").arg(i);
    yaml += QStringLiteral("model: x\n");
    measure("YAML entry edit + verification", yaml.size(), 5,
            [&] { AgentConfig::updated(tool(QStringLiteral("hermes"), QStringLiteral("yaml"), {QStringLiteral("mcp_servers")}), yaml, url, QString()); });
    return 0;
}
