#include "AgentFixtures.h"

#include "ui/agents/AgentConfig.h"
#include "ui/agents/YamlDocument.h"
#include "tests/support/FileSizeLimit.h"

#include <QRegularExpression>
#include <QtTest>

using namespace vn;
using vn::test::failure;
using vn::test::AgentHome;
using vn::test::readAll;

namespace {

const QString url = QStringLiteral("http://127.0.0.1:8765/mcp");
const QString otherUrl = QStringLiteral("http://127.0.0.1:9999/mcp");

// The discovered record of one tool in a temporary home, marked installed.
AgentClient installed(const AgentHome& home, const QString& id)
{
    AgentClient client = vn::test::findClient(AgentConfig::discover(home.environment()), id);
    client.executable = QStringLiteral("/bin/true");
    return client;
}

QStringList backups(const QString& configPath)
{
    const QFileInfo info(configPath);
    return QDir(info.absolutePath()).entryList({info.fileName() + QStringLiteral(".*.bak")}, QDir::Files | QDir::Hidden);
}

// Every file of a folder with its bytes and modification time.
QMap<QString, QPair<QByteArray, QDateTime>> folderState(const QString& folder)
{
    QMap<QString, QPair<QByteArray, QDateTime>> state;
    const QDir dir(folder);
    for (const QString& name : dir.entryList(QDir::Files | QDir::Hidden))
        state.insert(name, {readAll(dir.filePath(name)), QFileInfo(dir.filePath(name)).lastModified()});
    return state;
}

} // namespace

class CheckConfigureTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void notInstalled();
    void missingJsonFile();
    void jsonTwiceWritesOnce();
    void jsonBackupAndContent();
    void extraMembersCountAsConfigured();
    void emptyJsonFile();
    void tomlLayoutDifference();
    void textAroundEntryKept_data();
    void textAroundEntryKept();
    void missingTomlAndYamlFiles();
    void refusalsLeaveFileUntouched_data();
    void refusalsLeaveFileUntouched();
    void fullDiskLeavesTheConfigAsItWas_data();
    void fullDiskLeavesTheConfigAsItWas();
    void notUtf8Refused();
    void bridgeRequiredForClaudeDesktop();
    void piReloadHint();
    void entries_data();
    void entries();
    void linkedConfigWrittenThrough();
    void privateFileStaysPrivate();
    void yamlValueEquality_data();
    void yamlValueEquality();
};

void CheckConfigureTest::notInstalled()
{
    AgentHome home;
    const AgentClient client = AgentConfig::discover(home.environment()).at(1);
    QCOMPARE(failure([&] { AgentConfig::check(client, url, QString()); }), QStringLiteral("未检测到已安装的 Claude Code"));
    QCOMPARE(failure([&] { AgentConfig::configure(client, url, QString()); }), QStringLiteral("未检测到已安装的 Claude Code"));
}

void CheckConfigureTest::missingJsonFile()
{
    AgentHome home;
    const AgentClient client = installed(home, QStringLiteral("gemini"));
    QCOMPARE(readConfig(client), QStringLiteral("{}"));
    QCOMPARE(AgentConfig::check(client, url, QString()), QStringLiteral("尚未配置"));
    const QString message = AgentConfig::configure(client, url, QString());
    QCOMPARE(message, QStringLiteral("配置已保存，文件校验通过。请重载客户端配置。\n") + client.configPath);
    QCOMPARE(readAll(client.configPath), QByteArray("{\n  \"mcpServers\": {\"varnelle\": {\"httpUrl\":\"" + url.toUtf8() + "\"}}\n}"));
    QVERIFY(backups(client.configPath).isEmpty());
    QCOMPARE(AgentConfig::check(client, url, QString()), QStringLiteral("配置地址一致"));
    QCOMPARE(AgentConfig::check(client, otherUrl, QString()), QStringLiteral("需要更新配置"));
}

void CheckConfigureTest::jsonTwiceWritesOnce()
{
    AgentHome home;
    const AgentClient client = installed(home, QStringLiteral("claude-code"));
    home.write(QStringLiteral(".claude.json"), "{\"numStartups\": 3}\n");
    const QString first = AgentConfig::configure(client, url, QString());
    QCOMPARE(backups(client.configPath).size(), 1);
    const QByteArray written = readAll(client.configPath);
    const QDateTime modified = QFileInfo(client.configPath).lastModified();
    const QString second = AgentConfig::configure(client, url, QString());
    QCOMPARE(second, first);
    QCOMPARE(readAll(client.configPath), written);
    QCOMPARE(QFileInfo(client.configPath).lastModified(), modified);
    QCOMPARE(backups(client.configPath).size(), 1);
}

void CheckConfigureTest::jsonBackupAndContent()
{
    AgentHome home;
    const AgentClient client = installed(home, QStringLiteral("pi"));
    const QByteArray original = "{\n  // hand-written\n  mcpServers: {\n    other: {url: 'x'},\n  },\n}\n";
    home.write(QStringLiteral(".pi/agent/mcp.json"), original);
    QCOMPARE(AgentConfig::check(client, url, QString()), QStringLiteral("需要更新配置"));
    AgentConfig::configure(client, url, QString());
    const QStringList made = backups(client.configPath);
    QCOMPARE(made.size(), 1);
    static const QRegularExpression name(QStringLiteral("^mcp\\.json\\.\\d{8}-\\d{6}-\\d{3}-[0-9a-f]{8}\\.bak$"));
    QVERIFY2(name.match(made.first()).hasMatch(), qPrintable(made.first()));
    QCOMPARE(readAll(QFileInfo(client.configPath).absolutePath() + QLatin1Char('/') + made.first()), original);
    const QByteArray now = readAll(client.configPath);
    QVERIFY(now.startsWith("{\n  // hand-written\n  mcpServers: {\n    other: {url: 'x'},\n"));
    QVERIFY(now.contains("\"varnelle\": {\"enabled\":true,\"url\":\"" + url.toUtf8() + "\"}"));
}

void CheckConfigureTest::extraMembersCountAsConfigured()
{
    AgentHome home;
    const AgentClient client = installed(home, QStringLiteral("claude-code"));
    const QByteArray text = "{\"mcpServers\": {\"varnelle\": {\"type\": \"http\", \"url\": \"" + url.toUtf8()
                            + "\", \"headers\": {\"X\": \"1\"}}}}";
    home.write(QStringLiteral(".claude.json"), text);
    QCOMPARE(AgentConfig::check(client, url, QString()), QStringLiteral("配置地址一致"));
    AgentConfig::configure(client, url, QString());
    QCOMPARE(readAll(client.configPath), text);
    // A port change updates our members and keeps the user's.
    AgentConfig::configure(client, otherUrl, QString());
    QVERIFY(readAll(client.configPath).contains("\"headers\": {\"X\": \"1\"}"));
    QCOMPARE(AgentConfig::check(client, otherUrl, QString()), QStringLiteral("配置地址一致"));
}

void CheckConfigureTest::emptyJsonFile()
{
    AgentHome home;
    const AgentClient client = installed(home, QStringLiteral("gemini"));
    home.write(QStringLiteral(".gemini/settings.json"), "");
    QVERIFY(failure([&] { AgentConfig::check(client, url, QString()); })
                .startsWith(QStringLiteral("现有 JSON/JSONC 配置无效，未修改文件：")));
    AgentConfig::configure(client, url, QString());
    QCOMPARE(AgentConfig::check(client, url, QString()), QStringLiteral("配置地址一致"));
    QCOMPARE(backups(client.configPath).size(), 1);
}

void CheckConfigureTest::tomlLayoutDifference()
{
    AgentHome home;
    const AgentClient client = installed(home, QStringLiteral("codex"));
    const QByteArray text = "[mcp_servers.varnelle]\nenabled=true\nurl='" + url.toUtf8() + "'\n";
    home.write(QStringLiteral(".codex/config.toml"), text);
    QCOMPARE(AgentConfig::check(client, url, QString()), QStringLiteral("配置地址一致"));
    AgentConfig::configure(client, url, QString());
    QCOMPARE(backups(client.configPath).size(), 1);
    QCOMPARE(readAll(client.configPath), "[mcp_servers.\"varnelle\"]\nurl = \"" + url.toUtf8() + "\"\nenabled = true\n");
}

void CheckConfigureTest::textAroundEntryKept_data()
{
    QTest::addColumn<QString>("id");
    QTest::addColumn<QByteArray>("text");     // null: no file yet
    QTest::addColumn<QByteArray>("expected"); // after a configure with `url`

    const QByteArray old = otherUrl.toUtf8();
    const QByteArray now = url.toUtf8();
    const auto toml = [](const QByteArray& address) {
        return "[mcp_servers.\"varnelle\"]\nurl = \"" + address + "\"\nenabled = true\n";
    };
    const auto yaml = [](const QByteArray& address) {
        return "  varnelle:\n    url: \"" + address + "\"\n    enabled: true\n";
    };
    // An entry already written for another address: only the address changes.
    const auto moved = [&](const char* tag, const char* id, const QByteArray& text) {
        QTest::newRow(tag) << id << text << QByteArray(text).replace(old, now);
    };
    moved("codex: comment above the next table", "codex",
          "model = \"o3\"\n\n" + toml(old)
              + "\n# second server, pinned by hand -- keep this comment\n[mcp_servers.docs]\nurl = \"http://docs/mcp\"\n");
    moved("grok: blank lines and comments above the next table", "grok",
          "# ours\n" + toml(old) + "\n# pinned by hand\n\n# keep\n[profiles.fast]\nmodel = \"m\"\n");
    moved("grok: comment closing the file", "grok", "model = \"m\"\n\n" + toml(old) + "\n# end of file note\n");
    moved("hermes: comment above the next server", "hermes",
          "model: x\nmcp_servers:\n" + yaml(old)
              + "\n  # second server, pinned by hand -- keep this comment\n  docs:\n    url: http://docs/mcp\n");
    moved("hermes: comment above the next top-level key", "hermes",
          "mcp_servers:\n  docs: {}\n" + yaml(old) + "\n# display settings\ndisplay:\n  theme: dark\n");
    // No entry yet: it is added once and then left alone.
    QTest::newRow("codex: no file yet") << "codex" << QByteArray() << "\n" + toml(now);
    QTest::newRow("grok: other settings") << "grok" << QByteArray("model = \"m\"\n") << "model = \"m\"\n\n" + toml(now);
    QTest::newRow("hermes: no servers yet") << "hermes" << QByteArray("model: x\n") << "model: x\n\nmcp_servers:\n" + yaml(now);
}

void CheckConfigureTest::textAroundEntryKept()
{
    QFETCH(QString, id);
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, expected);
    AgentHome home;
    const AgentClient client = installed(home, id);
    if (!text.isNull())
        QCOMPARE(home.write(client.configPath, text), client.configPath);

    const QString message = AgentConfig::configure(client, url, QString());
    QCOMPARE(readAll(client.configPath), expected);
    QCOMPARE(backups(client.configPath).size(), text.isNull() ? 0 : 1);
    QCOMPARE(AgentConfig::check(client, url, QString()), QStringLiteral("配置地址一致"));

    // Every file is dated into the past, so a rewrite shows even within the
    // clock's resolution.
    const QString folder = QFileInfo(client.configPath).absolutePath();
    const QDateTime past(QDate(2001, 2, 3), QTime(4, 5, 6));
    for (const QString& name : QDir(folder).entryList(QDir::Files | QDir::Hidden)) {
        QFile file(folder + QLatin1Char('/') + name);
        QVERIFY(file.open(QIODevice::ReadWrite) && file.setFileTime(past, QFileDevice::FileModificationTime));
    }
    const auto before = folderState(folder);
    QCOMPARE(AgentConfig::configure(client, url, QString()), message);
    QCOMPARE(folderState(folder), before);
}

void CheckConfigureTest::missingTomlAndYamlFiles()
{
    AgentHome home;
    const AgentClient grok = installed(home, QStringLiteral("grok"));
    const AgentClient hermes = installed(home, QStringLiteral("hermes"));
    QCOMPARE(readConfig(grok), QString());
    AgentConfig::configure(grok, url, QString());
    QCOMPARE(readAll(grok.configPath), "\n[mcp_servers.\"varnelle\"]\nurl = \"" + url.toUtf8() + "\"\nenabled = true\n");
    AgentConfig::configure(hermes, url, QString());
    QCOMPARE(readAll(hermes.configPath), "\nmcp_servers:\n  varnelle:\n    url: \"" + url.toUtf8() + "\"\n    enabled: true\n");
    QVERIFY(backups(grok.configPath).isEmpty());
    QVERIFY(backups(hermes.configPath).isEmpty());
}

void CheckConfigureTest::refusalsLeaveFileUntouched_data()
{
    QTest::addColumn<QString>("id");
    QTest::addColumn<QString>("file");
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("message");
    QTest::newRow("toml dotted") << "codex" << ".codex/config.toml" << QByteArray("mcp_servers.varnelle.url = \"x\"\n")
                                 << "TOML 节点使用特殊语法，未修改文件";
    QTest::newRow("toml invalid") << "grok" << ".grok/config.toml" << QByteArray("[broken\n") << "现有 TOML 语法无效，未修改文件";
    QTest::newRow("yaml inline") << "hermes" << ".hermes/config.yaml" << QByteArray("mcp_servers: {}\n")
                                 << "Hermes MCP 节点需为唯一的 YAML 块映射；现有文件未修改";
    QTest::newRow("json duplicate") << "gemini" << ".gemini/settings.json" << QByteArray("{\"a\": 1, \"a\": 2}")
                                    << "配置对象包含重复字段：a";
    QTest::newRow("json unclosed") << "claude-code" << ".claude.json" << QByteArray("{\"mcpServers\": {}")
                                   << "现有 JSON/JSONC 配置无效，未修改文件：";
}

void CheckConfigureTest::refusalsLeaveFileUntouched()
{
    QFETCH(QString, id);
    QFETCH(QString, file);
    QFETCH(QByteArray, text);
    QFETCH(QString, message);
    AgentHome home;
    const AgentClient client = installed(home, id);
    const QString path = home.write(file, text);
    QCOMPARE(path, client.configPath);
    const QString got = failure([&] { AgentConfig::configure(client, url, QString()); });
    QVERIFY2(message.endsWith(QStringLiteral("：")) ? got.startsWith(message) : got == message, qPrintable(got));
    QCOMPARE(readAll(path), text);
    QVERIFY(backups(path).isEmpty());
}

void CheckConfigureTest::fullDiskLeavesTheConfigAsItWas_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("backupsLeft");
    // The backup is written first and is larger than the limit.
    QTest::newRow("backup") << QByteArray("{\n  // hand-written\n  mcpServers: {\n    other: {url: 'x'},\n  },\n}\n")
                            << QStringLiteral("配置备份失败，未修改原文件") << 0;
    // The backup fits, the new file with the entry does not; the backup stays.
    QTest::newRow("new file") << QByteArray("{}\n") << QStringLiteral("配置写入失败") << 1;
}

void CheckConfigureTest::fullDiskLeavesTheConfigAsItWas()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, message);
    QFETCH(int, backupsLeft);
    AgentHome home;
    const AgentClient client = installed(home, QStringLiteral("pi"));
    const QString path = home.write(QStringLiteral(".pi/agent/mcp.json"), text);
    QCOMPARE(path, client.configPath);
    QString got;
    {
        // What a full disk does, without root: both are far below the save
        // file's own buffer, so only a flush sees the failure.
        const vn::test::FileSizeLimit limit(32);
        got = failure([&] { AgentConfig::configure(client, url, QString()); });
    }
    QCOMPARE(got, message);
    QCOMPARE(readAll(path), text);
    QCOMPARE(backups(path).size(), backupsLeft);
    QCOMPARE(QDir(QFileInfo(path).absolutePath()).entryList(QDir::Files | QDir::Hidden).size(), 1 + backupsLeft);
}

void CheckConfigureTest::notUtf8Refused()
{
    AgentHome home;
    const AgentClient client = installed(home, QStringLiteral("codex"));
    const QByteArray latin1 = "# caf\xe9\nmodel = \"x\"\n";
    home.write(QStringLiteral(".codex/config.toml"), latin1);
    const QString expected = QStringLiteral("配置文件不是有效的 UTF-8 文本，未修改文件：") + client.configPath;
    QCOMPARE(failure([&] { AgentConfig::configure(client, url, QString()); }), expected);
    QCOMPARE(failure([&] { AgentConfig::check(client, url, QString()); }), expected);
    QCOMPARE(readAll(client.configPath), latin1);
    QVERIFY(backups(client.configPath).isEmpty());
}

void CheckConfigureTest::bridgeRequiredForClaudeDesktop()
{
    AgentHome home;
    const AgentClient client = installed(home, QStringLiteral("claude-desktop"));
    const QString bridge = home.root() + QStringLiteral("/VarnelleMCP");
    QCOMPARE(failure([&] { AgentConfig::configure(client, url, bridge); }), QStringLiteral("STDIO 桥接程序不存在：") + bridge);
    QVERIFY(!QFileInfo::exists(client.configPath));
    home.tool(QStringLiteral("VarnelleMCP"), home.root());
    AgentConfig::configure(client, url, bridge);
    QCOMPARE(AgentConfig::check(client, url, bridge), QStringLiteral("配置地址一致"));
    QVERIFY(readAll(client.configPath).contains("\"args\":[\"--url\",\"" + url.toUtf8() + "\"]"));
}

void CheckConfigureTest::piReloadHint()
{
    AgentHome home;
    const AgentClient client = installed(home, QStringLiteral("pi"));
    QCOMPARE(AgentConfig::configure(client, url, QString()).section(QLatin1Char('\n'), 0, 0),
             QStringLiteral("配置已保存，文件校验通过。请在 Pi 中执行 /reload。"));
}

void CheckConfigureTest::entries_data()
{
    QTest::addColumn<QString>("id");
    QTest::addColumn<QByteArray>("json");
    const QByteArray u = url.toUtf8();
    QTest::newRow("opencode") << "opencode" << QByteArray("{\"enabled\":true,\"type\":\"remote\",\"url\":\"" + u + "\"}");
    QTest::newRow("gemini") << "gemini" << QByteArray("{\"httpUrl\":\"" + u + "\"}");
    QTest::newRow("openclaw") << "openclaw" << QByteArray("{\"enabled\":true,\"transport\":\"streamable-http\",\"url\":\"" + u + "\"}");
    QTest::newRow("claude-code") << "claude-code" << QByteArray("{\"type\":\"http\",\"url\":\"" + u + "\"}");
    QTest::newRow("codex") << "codex" << QByteArray("{\"enabled\":true,\"url\":\"" + u + "\"}");
    QTest::newRow("pi") << "pi" << QByteArray("{\"enabled\":true,\"url\":\"" + u + "\"}");
    QTest::newRow("unknown id") << "someday" << QByteArray("{\"enabled\":true,\"url\":\"" + u + "\"}");
}

void CheckConfigureTest::entries()
{
    QFETCH(QString, id);
    QFETCH(QByteArray, json);
    AgentClient client;
    client.id = id;
    // No bridge is needed by any tool but Claude Desktop.
    QCOMPARE(QJsonDocument(AgentConfig::entry(client, url, QStringLiteral("/nonexistent/VarnelleMCP"))).toJson(QJsonDocument::Compact),
             json);
}

void CheckConfigureTest::linkedConfigWrittenThrough()
{
    // A configuration kept elsewhere and linked into place stays linked.
    AgentHome home;
    const AgentClient client = installed(home, QStringLiteral("gemini"));
    const QString real = home.write(QStringLiteral("dotfiles/settings.json"), "{}");
    QDir().mkpath(home.root() + QStringLiteral("/.gemini"));
    QVERIFY(QFile::link(real, client.configPath));
    AgentConfig::configure(client, url, QString());
    QVERIFY(QFileInfo(client.configPath).isSymLink());
    QVERIFY(readAll(real).contains("varnelle"));
}

void CheckConfigureTest::privateFileStaysPrivate()
{
    // Some tools keep credentials in the same file: neither the new file nor its
    // backup may be readable by others.
    AgentHome home;
    const AgentClient client = installed(home, QStringLiteral("claude-code"));
    home.write(QStringLiteral(".claude.json"), "{\"oauthAccount\": {\"token\": \"secret\"}}");
    const QFile::Permissions owner = QFile::ReadOwner | QFile::WriteOwner;
    QFile::setPermissions(client.configPath, owner);
    AgentConfig::configure(client, url, QString());
    const QFileInfo backup(QFileInfo(client.configPath).absolutePath() + QLatin1Char('/') + backups(client.configPath).value(0));
    QCOMPARE(QFileInfo(client.configPath).permissions() & ~(QFile::ReadUser | QFile::WriteUser), owner);
    QCOMPARE(backup.permissions() & ~(QFile::ReadUser | QFile::WriteUser), owner);
}

void CheckConfigureTest::yamlValueEquality_data()
{
    QTest::addColumn<QString>("a");
    QTest::addColumn<QString>("b");
    QTest::addColumn<bool>("equal");
    QTest::newRow("key order") << "{a: 1, b: 2}" << "{b: 2, a: 1}" << true;
    QTest::newRow("quoted key") << "{\"a\": 1}" << "{a: 1}" << true;
    QTest::newRow("bool spellings") << "{a: True}" << "{a: true}" << true;
    QTest::newRow("quoted true is a string") << "{a: 'true'}" << "{a: true}" << false;
    QTest::newRow("hex and decimal") << "{a: 0x10}" << "{a: 16}" << true;
    QTest::newRow("int is not float") << "{a: 1}" << "{a: 1.0}" << false;
    QTest::newRow("null spellings") << "{a: ~}" << "{a: null}" << true;
    QTest::newRow("empty is null") << "{a: }" << "{a: Null}" << true;
    QTest::newRow("sequence order") << "[1, 2]" << "[2, 1]" << false;
    QTest::newRow("nested") << "{a: {b: [x, {c: 1}]}}" << "a:\n  b:\n    - x\n    - c: 1\n" << true;
    QTest::newRow("extra key") << "{a: 1}" << "{a: 1, b: 2}" << false;
    QTest::newRow("string and number") << "{a: '1'}" << "{a: 1}" << false;
}

void CheckConfigureTest::yamlValueEquality()
{
    QFETCH(QString, a);
    QFETCH(QString, b);
    QFETCH(bool, equal);
    QCOMPARE(YamlDocument::parse(a) == YamlDocument::parse(b), equal);
}

QTEST_GUILESS_MAIN(CheckConfigureTest)
#include "CheckConfigureTest.moc"
