// The TOML, YAML and JSONC configuration update with its verification, for
// the agent tools' layouts. An update either refuses with a message or yields
// a text that holds our entry; updating that text again changes nothing, and
// for TOML and YAML not a byte (a repeated configure then writes no file).

#include "tests/fuzz/FuzzSupport.h"
#include "ui/agents/AgentConfig.h"
#include "ui/agents/AgentConfigText.h"
#include "ui/agents/Jsonc.h"

#include <QJsonArray>

#include <stdexcept>

namespace {

vn::AgentClient client(std::uint8_t choice)
{
    vn::AgentClient c;
    switch (choice % 7) {
    case 0: c.id = QStringLiteral("codex"); c.format = QStringLiteral("toml"); c.keys = {QStringLiteral("mcp_servers")}; break;
    case 1: c.id = QStringLiteral("hermes"); c.format = QStringLiteral("yaml"); c.keys = {QStringLiteral("mcp_servers")}; break;
    case 2: c.id = QStringLiteral("claude-code"); c.format = QStringLiteral("json"); c.keys = {QStringLiteral("mcpServers")}; break;
    case 3: c.id = QStringLiteral("opencode"); c.format = QStringLiteral("json"); c.keys = {QStringLiteral("mcp")}; break;
    case 4: c.id = QStringLiteral("opencode"); c.format = QStringLiteral("json"); c.keys = {QStringLiteral("mcp")}; c.openCodeV2 = true; break;
    case 5: c.id = QStringLiteral("openclaw"); c.format = QStringLiteral("json"); c.keys = {QStringLiteral("mcp"), QStringLiteral("servers")}; break;
    default: c.id = QStringLiteral("gemini"); c.format = QStringLiteral("json"); c.keys = {QStringLiteral("mcpServers")}; break;
    }
    return c;
}

bool sameJson(const QString& a, const QString& b)
{
    return vn::parseJsonc(a.trimmed().isEmpty() ? QStringLiteral("{}") : vn::withoutBom(a))
           == vn::parseJsonc(b.trimmed().isEmpty() ? QStringLiteral("{}") : vn::withoutBom(b));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    const vn::AgentClient agent = client(data[0]);
    const QString url = QStringLiteral("http://127.0.0.1:7777/mcp");
    const QString bridge = QStringLiteral("/bin/sh");
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));
    QString first;
    try {
        first = vn::AgentConfig::updated(agent, text, url, bridge);
    } catch (const std::runtime_error&) {
        return 0;
    }
    vn::fuzz::show(first.toUtf8());
    QString second;
    try {
        second = vn::AgentConfig::updated(agent, first, url, bridge);
    } catch (const std::runtime_error& error) {
        std::fprintf(stderr, "second update: %s\n", error.what());
        vn::fuzz::broken("an updated file cannot be updated again");
    }
    try {
        const bool same = agent.format == QLatin1String("json")
                              ? sameJson(first, second)
                              : vn::sameDocument(agent.format, vn::withoutBom(first), vn::withoutBom(second));
        if (!same)
            vn::fuzz::broken("updating an updated file changes it again");
        if (agent.format != QLatin1String("json") && first != second)
            vn::fuzz::broken("updating an updated file changes its text again");
        if (agent.format == QLatin1String("json")) {
            QJsonValue node = vn::parseJsonc(first.trimmed().isEmpty() ? QStringLiteral("{}") : vn::withoutBom(first));
            QList<QString> path = agent.keys;
            if (agent.id == QLatin1String("opencode") && node.toObject().value(QStringLiteral("mcp")).toObject().contains(QStringLiteral("servers")))
                path.append(QStringLiteral("servers"));
            path.append(QStringLiteral("varnelle"));
            for (const QString& key : path)
                node = node.toObject().value(key);
            if (node.toObject().value(QStringLiteral("url")).toString() != url
                && node.toObject().value(QStringLiteral("httpUrl")).toString() != url)
                vn::fuzz::broken("the updated JSON does not hold our entry");
        }
    } catch (const std::runtime_error& error) {
        std::fprintf(stderr, "reading back: %s\n", error.what());
        vn::fuzz::broken("an updated file no longer reads");
    }
    return 0;
}
