#include "AgentFixtures.h"

#include "ui/agents/AgentConfig.h"
#include "ui/agents/AgentEnvironment.h"

#include <QtTest>

using namespace vn;
using vn::test::AgentHome;
using vn::test::findClient;

class AgentDiscoveryTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void currentSnapshot();
    void currentWithoutAppData();
    void variableLookup();
    void executableSearch();
    void desktopSearch();
    void defaultEnvironmentFindsNothing();
    void nineRecordsInOrder();
    void variablePrecedence_data();
    void variablePrecedence();
    void openCodeFileChoice();
    void claudeOnlyMarksClaudeCode();
    void codexDesktopFallback();
    void openCodeVersion_data();
    void openCodeVersion();
    void openCodeVersionThroughNpmLink();
};

void AgentDiscoveryTest::currentSnapshot()
{
    const QByteArray savedPath = qgetenv("PATH");
    qputenv("APPDATA", "/roaming");
    qputenv("LOCALAPPDATA", "/local");
    qputenv("PATH", "/a::/b:");
    qputenv("CODEX_HOME", "/codex-home");
    const AgentEnvironment env = AgentEnvironment::current();
    qunsetenv("APPDATA");
    qunsetenv("LOCALAPPDATA");
    qunsetenv("CODEX_HOME");
    qputenv("PATH", savedPath);
    QVERIFY(env.fromSystem);
    QCOMPARE(env.home, QDir::homePath());
    QCOMPARE(env.appData, QStringLiteral("/roaming"));
    QCOMPARE(env.localAppData, QStringLiteral("/local"));
    QCOMPARE(env.variable(QStringLiteral("CODEX_HOME")), QStringLiteral("/codex-home"));
    const QList<QString> expected{QStringLiteral("/a"), QStringLiteral("/b"), env.home + QStringLiteral("/.local/bin"),
                                  env.home + QStringLiteral("/.cargo/bin"), env.home + QStringLiteral("/.hermes/venv/bin"),
                                  QStringLiteral("/roaming/npm"), QStringLiteral("/local/Microsoft/WinGet/Links"),
                                  QStringLiteral("/local/Microsoft/WindowsApps")};
    QCOMPARE(env.path, expected);
}

void AgentDiscoveryTest::currentWithoutAppData()
{
    const QByteArray savedPath = qgetenv("PATH");
    qunsetenv("APPDATA");
    qunsetenv("LOCALAPPDATA");
    qputenv("PATH", "");
    const AgentEnvironment env = AgentEnvironment::current();
    qputenv("PATH", savedPath);
    QCOMPARE(env.appData, env.home + QStringLiteral("/.config"));
    QVERIFY(env.localAppData.isEmpty());
    QCOMPARE(env.path.size(), 6);
    QCOMPARE(env.path.at(3), env.home + QStringLiteral("/.config/npm"));
    QCOMPARE(env.path.at(4), QStringLiteral("/Microsoft/WinGet/Links"));
    QCOMPARE(env.path.at(5), QStringLiteral("/Microsoft/WindowsApps"));
}

void AgentDiscoveryTest::variableLookup()
{
    AgentEnvironment env;
    env.variables.insert(QStringLiteral("CODEX_HOME"), QStringLiteral("/x"));
    env.variables.insert(QStringLiteral("EMPTY"), QString());
    QCOMPARE(env.variable(QStringLiteral("CODEX_HOME"), QStringLiteral("d")), QStringLiteral("/x"));
    QCOMPARE(env.variable(QStringLiteral("codex_home"), QStringLiteral("d")), QStringLiteral("d"));
    QCOMPARE(env.variable(QStringLiteral("EMPTY"), QStringLiteral("d")), QStringLiteral("d"));
    QCOMPARE(env.variable(QStringLiteral("MISSING"), QStringLiteral("d")), QStringLiteral("d"));
}

void AgentDiscoveryTest::executableSearch()
{
    AgentHome home;
    AgentEnvironment env = home.environment();
    const QString second = home.root() + QStringLiteral("/second");
    env.path = {QString(), home.bin(), second};
    // A folder named like the tool is no program, nor a file without the executable bit.
    QDir().mkpath(home.bin() + QStringLiteral("/codex"));
    home.write(QStringLiteral("bin/claude"), "not executable");
    QCOMPARE(env.executable(QStringLiteral("codex")), QString());
    QCOMPARE(env.executable(QStringLiteral("claude")), QString());
    // Folder-major: the first folder that holds the tool wins.
    const QString later = home.tool(QStringLiteral("gemini"), second);
    QCOMPARE(env.executable(QStringLiteral("gemini")), later);
    const QString earlier = home.tool(QStringLiteral("gemini"));
    QCOMPARE(env.executable(QStringLiteral("gemini")), earlier);
    QVERIFY(QFileInfo(earlier).isAbsolute());
    QCOMPARE(env.executable(QStringLiteral("missing")), QString());
}

void AgentDiscoveryTest::desktopSearch()
{
    AgentHome home;
    AgentEnvironment env = home.environment();
    env.localAppData = home.root() + QStringLiteral("/Local");
    env.variables.insert(QStringLiteral("ProgramFiles"), home.root() + QStringLiteral("/PF"));
    QCOMPARE(desktopExecutable(env, QStringLiteral("Claude")), QString());

    const QString viaProgramFiles = home.write(QStringLiteral("PF/Claude/Claude.exe"), "x");
    QCOMPARE(desktopExecutable(env, QStringLiteral("Claude")), viaProgramFiles);

    home.write(QStringLiteral("Local/Claude/app-1.9.0/Claude.exe"), "x");
    const QString newer = home.write(QStringLiteral("Local/Claude/app-1.10.0/Claude.exe"), "x");
    QCOMPARE(desktopExecutable(env, QStringLiteral("Claude")), newer);

    // Only folders named exactly "app-…" are looked into.
    home.write(QStringLiteral("Local/Claude/APP-0/Claude.exe"), "x");
    QCOMPARE(desktopExecutable(env, QStringLiteral("Claude")), newer);

    const QString direct = home.write(QStringLiteral("Local/Claude/Claude.exe"), "x");
    QCOMPARE(desktopExecutable(env, QStringLiteral("Claude")), direct);

    const QString programs = home.write(QStringLiteral("Local/Programs/Codex/Codex.exe"), "x");
    QCOMPARE(desktopExecutable(env, QStringLiteral("Codex")), programs);
}

void AgentDiscoveryTest::defaultEnvironmentFindsNothing()
{
    const AgentEnvironment env;
    QVERIFY(!env.fromSystem);
    QVERIFY(env.path.isEmpty());
    QCOMPARE(env.executable(QStringLiteral("sh")), QString());
    QCOMPARE(desktopExecutable(env, QStringLiteral("Claude")), QString());
}

void AgentDiscoveryTest::nineRecordsInOrder()
{
    AgentHome home;
    const QString h = home.root();
    const QList<AgentClient> clients = AgentConfig::discover(home.environment());
    struct Row {
        const char* id;
        const char* name;
        const char* icon;
        QString config;
        const char* format;
        QList<QString> keys;
    };
    const QList<Row> rows{
        {"codex", "Codex", "codex.svg", h + "/.codex/config.toml", "toml", {"mcp_servers"}},
        {"claude-code", "Claude Code", "claude.svg", h + "/.claude.json", "json", {"mcpServers"}},
        {"opencode", "OpenCode CLI", "opencode.svg", h + "/.config/opencode/opencode.json", "json", {"mcp"}},
        {"claude-desktop", "Claude Desktop", "claude.svg", h + "/.config/Claude/claude_desktop_config.json", "json", {"mcpServers"}},
        {"pi", "Pi Agent", "pi.svg", h + "/.pi/agent/mcp.json", "json", {"mcpServers"}},
        {"hermes", "Hermes", "hermes.svg", h + "/.hermes/config.yaml", "yaml", {"mcp_servers"}},
        {"openclaw", "OpenClaw", "openclaw.svg", h + "/.openclaw/openclaw.json", "json", {"mcp", "servers"}},
        {"grok", "Grok Build", "grok.svg", h + "/.grok/config.toml", "toml", {"mcp_servers"}},
        {"gemini", "Gemini CLI", "gemini.svg", h + "/.gemini/settings.json", "json", {"mcpServers"}},
    };
    QCOMPARE(clients.size(), rows.size());
    for (qsizetype i = 0; i < rows.size(); ++i) {
        const AgentClient& c = clients.at(i);
        QCOMPARE(c.id, QLatin1String(rows[i].id));
        QCOMPARE(c.name, QString::fromUtf8(rows[i].name));
        QCOMPARE(c.icon, QLatin1String(rows[i].icon));
        QCOMPARE(c.configPath, rows[i].config);
        QCOMPARE(c.format, QLatin1String(rows[i].format));
        QCOMPARE(c.keys, rows[i].keys);
        QVERIFY(c.executable.isEmpty());
        QVERIFY(!c.openCodeV2);
    }
}

void AgentDiscoveryTest::variablePrecedence_data()
{
    QTest::addColumn<QString>("id");
    QTest::addColumn<QStringList>("variables"); // name=value pairs, "@" stands for the home
    QTest::addColumn<QString>("config");

    QTest::newRow("codex home") << "codex" << QStringList{"CODEX_HOME=/c"} << "/c/config.toml";
    QTest::newRow("codex home empty") << "codex" << QStringList{"CODEX_HOME="} << "@/.codex/config.toml";
    QTest::newRow("claude dir") << "claude-code" << QStringList{"CLAUDE_CONFIG_DIR=/d"} << "/d/.claude.json";
    QTest::newRow("claude dir empty") << "claude-code" << QStringList{"CLAUDE_CONFIG_DIR="} << "@/.claude.json";
    QTest::newRow("xdg") << "opencode" << QStringList{"XDG_CONFIG_HOME=/x"} << "/x/opencode/opencode.json";
    QTest::newRow("opencode dir over xdg") << "opencode" << QStringList{"XDG_CONFIG_HOME=/x", "OPENCODE_CONFIG_DIR=/o"}
                                           << "/o/opencode.json";
    QTest::newRow("opencode file over dir") << "opencode" << QStringList{"OPENCODE_CONFIG_DIR=/o", "OPENCODE_CONFIG=/f.jsonc"}
                                            << "/f.jsonc";
    QTest::newRow("pi dir") << "pi" << QStringList{"PI_CODING_AGENT_DIR=/p"} << "/p/mcp.json";
    QTest::newRow("hermes home") << "hermes" << QStringList{"HERMES_HOME=/h"} << "/h/config.yaml";
    QTest::newRow("openclaw state") << "openclaw" << QStringList{"OPENCLAW_STATE_DIR=/s"} << "/s/openclaw.json";
    QTest::newRow("openclaw file over state") << "openclaw" << QStringList{"OPENCLAW_STATE_DIR=/s", "OPENCLAW_CONFIG_PATH=/o.json"}
                                              << "/o.json";
    QTest::newRow("grok home") << "grok" << QStringList{"GROK_HOME=/g"} << "/g/config.toml";
    QTest::newRow("gemini cli home") << "gemini" << QStringList{"GEMINI_CLI_HOME=/g"} << "/g/.gemini/settings.json";
    QTest::newRow("gemini cli home empty") << "gemini" << QStringList{"GEMINI_CLI_HOME="} << "@/.gemini/settings.json";
    QTest::newRow("gemini ignores other variables") << "gemini" << QStringList{"GEMINI_HOME=/g", "XDG_CONFIG_HOME=/x"}
                                                    << "@/.gemini/settings.json";
    QTest::newRow("claude desktop has no variable") << "claude-desktop" << QStringList{"CLAUDE_CONFIG_DIR=/d"}
                                                    << "@/.config/Claude/claude_desktop_config.json";
}

void AgentDiscoveryTest::variablePrecedence()
{
    QFETCH(QString, id);
    QFETCH(QStringList, variables);
    QFETCH(QString, config);
    AgentHome home;
    AgentEnvironment env = home.environment();
    for (const QString& pair : variables)
        env.variables.insert(pair.section(QLatin1Char('='), 0, 0), pair.section(QLatin1Char('='), 1));
    config.replace(QLatin1Char('@'), home.root());
    QCOMPARE(findClient(AgentConfig::discover(env), id).configPath, config);
}

void AgentDiscoveryTest::openCodeFileChoice()
{
    AgentHome home;
    const QString folder = home.root() + QStringLiteral("/.config/opencode");
    auto path = [&] { return findClient(AgentConfig::discover(home.environment()), QStringLiteral("opencode")).configPath; };
    QCOMPARE(path(), folder + QStringLiteral("/opencode.json"));
    home.write(QStringLiteral(".config/opencode/opencode.json"), "{}");
    QCOMPARE(path(), folder + QStringLiteral("/opencode.json"));
    home.write(QStringLiteral(".config/opencode/opencode.jsonc"), "{}");
    QCOMPARE(path(), folder + QStringLiteral("/opencode.jsonc"));
}

void AgentDiscoveryTest::claudeOnlyMarksClaudeCode()
{
    AgentHome home;
    const QString program = home.tool(QStringLiteral("claude"));
    const QList<AgentClient> clients = AgentConfig::discover(home.environment());
    QCOMPARE(findClient(clients, QStringLiteral("claude-code")).executable, program);
    QVERIFY(findClient(clients, QStringLiteral("claude-desktop")).executable.isEmpty());
}

void AgentDiscoveryTest::codexDesktopFallback()
{
    AgentHome home;
    AgentEnvironment env = home.environment();
    env.localAppData = home.root() + QStringLiteral("/Local");
    const QString desktop = home.write(QStringLiteral("Local/Codex/Codex.exe"), "x");
    QCOMPARE(AgentConfig::discover(env).at(0).executable, desktop);
    const QString cli = home.tool(QStringLiteral("codex"));
    QCOMPARE(AgentConfig::discover(env).at(0).executable, cli);
}

void AgentDiscoveryTest::openCodeVersion_data()
{
    QTest::addColumn<QByteArray>("first");   // bin/node_modules/opencode-ai/package.json
    QTest::addColumn<QByteArray>("second");  // bin/../package.json
    QTest::addColumn<bool>("v2");
    QTest::newRow("2.0.1") << QByteArray(R"({"name":"opencode-ai","version":"2.0.1"})") << QByteArray() << true;
    QTest::newRow("1.4.0") << QByteArray(R"({"name":"opencode-ai","version":"1.4.0"})") << QByteArray() << false;
    QTest::newRow("10") << QByteArray(R"({"name":"opencode-ai","version":"10"})") << QByteArray() << true;
    QTest::newRow("leading letter") << QByteArray(R"({"name":"opencode-ai","version":"v2.0.0"})") << QByteArray() << false;
    QTest::newRow("first decides even when old")
        << QByteArray(R"({"name":"opencode-ai","version":"1.0.0"})") << QByteArray(R"({"name":"opencode-ai","version":"3.0.0"})")
        << false;
    QTest::newRow("other package passed over")
        << QByteArray(R"({"name":"something-else","version":"9.0.0"})") << QByteArray(R"({"name":"opencode-ai","version":"2.1.0"})")
        << true;
    QTest::newRow("unparsable first") << QByteArray("{not json") << QByteArray(R"({"name":"opencode-ai","version":"2"})") << true;
    QTest::newRow("none") << QByteArray() << QByteArray() << false;
}

void AgentDiscoveryTest::openCodeVersion()
{
    QFETCH(QByteArray, first);
    QFETCH(QByteArray, second);
    QFETCH(bool, v2);
    AgentHome home;
    home.tool(QStringLiteral("opencode"));
    if (!first.isEmpty())
        home.write(QStringLiteral("bin/node_modules/opencode-ai/package.json"), first);
    if (!second.isEmpty())
        home.write(QStringLiteral("package.json"), second);
    QCOMPARE(AgentConfig::discover(home.environment()).at(2).openCodeV2, v2);
}

void AgentDiscoveryTest::openCodeVersionThroughNpmLink()
{
    // npm links the program from a bin folder into the package's own folder.
    AgentHome home;
    const QString real = home.tool(QStringLiteral("opencode"), home.root() + QStringLiteral("/lib/node_modules/opencode-ai/bin"));
    home.write(QStringLiteral("lib/node_modules/opencode-ai/package.json"), R"({"name":"opencode-ai","version":"2.3.0"})");
    QDir().mkpath(home.bin());
    QVERIFY(QFile::link(real, home.bin() + QStringLiteral("/opencode")));
    const AgentClient client = AgentConfig::discover(home.environment()).at(2);
    QCOMPARE(client.executable, home.bin() + QStringLiteral("/opencode"));
    QVERIFY(client.openCodeV2);
}

QTEST_GUILESS_MAIN(AgentDiscoveryTest)
#include "AgentDiscoveryTest.moc"
