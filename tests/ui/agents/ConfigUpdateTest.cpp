#include "ui/agents/AgentConfig.h"

#include "AgentFixtures.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

using namespace vn;
using vn::test::failure;

namespace {

const QString url = QStringLiteral("http://127.0.0.1:8765/mcp");

AgentClient tool(const QString& id, const QString& format, const QList<QString>& keys, bool v2 = false)
{
    AgentClient client;
    client.id = id;
    client.name = id;
    client.executable = QStringLiteral("/bin/true");
    client.format = format;
    client.keys = keys;
    client.openCodeV2 = v2;
    return client;
}

AgentClient codex() { return tool(QStringLiteral("codex"), QStringLiteral("toml"), {QStringLiteral("mcp_servers")}); }
AgentClient hermes() { return tool(QStringLiteral("hermes"), QStringLiteral("yaml"), {QStringLiteral("mcp_servers")}); }

const QString tomlBlock = QStringLiteral("[mcp_servers.\"varnelle\"]\nurl = \"") + url + QStringLiteral("\"\nenabled = true\n");
const QString yamlEntry = QStringLiteral("  varnelle:\n    url: \"") + url + QStringLiteral("\"\n    enabled: true\n");

} // namespace

class ConfigUpdateTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void toml_data();
    void toml();
    void tomlRepeatedRuns();
    void yaml_data();
    void yaml();
    void yamlRepeatedRuns();
    void refusals_data();
    void refusals();
    void json_data();
    void json();
    void openCodeV1Refused();
    void byteOrderMarkKept();

private:
    void crossCheck(const QString& kind, const QString& original, const QString& result);
};

// Every written TOML and YAML text is read back by Python's own parsers too.
void ConfigUpdateTest::crossCheck(const QString& kind, const QString& original, const QString& result)
{
    QTemporaryDir dir;
    QFile a(dir.filePath(QStringLiteral("original")));
    QFile b(dir.filePath(QStringLiteral("result")));
    QVERIFY(a.open(QIODevice::WriteOnly) && b.open(QIODevice::WriteOnly));
    a.write(original.toUtf8());
    b.write(result.toUtf8());
    a.close();
    b.close();
    QProcess python;
    python.setProcessChannelMode(QProcess::MergedChannels);
    python.start(QStringLiteral("python3"), {QStringLiteral(AGENTS_TEST_DIR "/crosscheck.py"), kind, a.fileName(), b.fileName(), url});
    QVERIFY(python.waitForFinished(30000));
    QVERIFY2(python.exitCode() == 0, python.readAll().constData());
}

void ConfigUpdateTest::toml_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    QTest::newRow("empty") << QString() << "\n" + tomlBlock;
    QTest::newRow("other settings kept") << "model = \"o3\" # mine\n\n[profiles.x]\nmodel = \"y\"\n"
                                         << "model = \"o3\" # mine\n\n[profiles.x]\nmodel = \"y\"\n\n" + tomlBlock;
    QTest::newRow("other servers kept") << "[mcp_servers.other]\nurl = \"o\"\n" << "[mcp_servers.other]\nurl = \"o\"\n\n" + tomlBlock;
    QTest::newRow("comments before the next table kept")
        << "# top\n[mcp_servers.\"varnelle\"]\nurl = \"http://old/mcp\"\n# old note\n\n[other]\na = 1\n"
        << "# top\n" + tomlBlock + "# old note\n\n[other]\na = 1\n";
    QTest::newRow("comments between the entry's keys replaced")
        << "[mcp_servers.varnelle]\n# ours\n\nurl = \"x\"\n  # still ours\nenabled = false\n\n# theirs\n"
        << tomlBlock + "\n# theirs\n";
    QTest::newRow("multi-line value with blank lines replaced")
        << "[mcp_servers.varnelle]\nurl = \"x\"\nargs = [\n\n  # one\n  \"a\",\n]\n\n[b]\n"
        << tomlBlock + "\n[b]\n";
    QTest::newRow("single-quoted header with comment") << "[mcp_servers.'varnelle'] # ours\nurl = \"x\"\nenabled = false\n"
                                                      << tomlBlock;
    QTest::newRow("header only") << "[mcp_servers.varnelle]\n\n[b]\n" << tomlBlock + "\n[b]\n";
    QTest::newRow("CR LF line ends") << "a = 1\r\n[mcp_servers.varnelle]\r\nurl = \"x\"\r\n\r\n# b\r\n[b]\r\n"
                                     << "a = 1\r\n" + tomlBlock + "\r\n# b\r\n[b]\r\n";
    QTest::newRow("bare header at end without line feed") << "a = 1\n[mcp_servers.varnelle]\nurl = \"x\""
                                                         << "a = 1\n" + tomlBlock;
}

void ConfigUpdateTest::toml()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    const QString result = AgentConfig::updated(codex(), text, url, QString());
    QCOMPARE(result, expected);
    QCOMPARE(AgentConfig::updated(codex(), result, url, QString()), result);
    crossCheck(QStringLiteral("toml"), text, result);
}

void ConfigUpdateTest::tomlRepeatedRuns()
{
    const QString first = AgentConfig::updated(codex(), QString(), url, QString());
    QCOMPARE(first, "\n" + tomlBlock);
    QCOMPARE(AgentConfig::updated(codex(), first, url, QString()), first);
    // A new address changes the address and nothing else.
    const QString moved = QStringLiteral("http://127.0.0.1:9/mcp");
    QCOMPARE(AgentConfig::updated(codex(), first, moved, QString()), QString(first).replace(url, moved));
}

void ConfigUpdateTest::yaml_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    QTest::newRow("empty") << QString() << "\nmcp_servers:\n" + yamlEntry;
    QTest::newRow("no servers") << "model: x\n" << "model: x\n\nmcp_servers:\n" + yamlEntry;
    QTest::newRow("empty block last") << "model: x\nmcp_servers:\n" << "model: x\nmcp_servers:\n\n" + yamlEntry;
    QTest::newRow("null block before a key") << "mcp_servers: # none yet\nmodel: x\n"
                                             << "mcp_servers: # none yet\n\n" + yamlEntry + "model: x\n";
    QTest::newRow("four-space block")
        << "mcp_servers:\n    other:\n        url: o\n"
        << "mcp_servers:\n    other:\n        url: o\n\n    varnelle:\n      url: \"" + url + "\"\n      enabled: true\n";
    QTest::newRow("entry in the middle stays in place")
        << "mcp_servers:\n  varnelle:\n    url: old\n    # ours\n\n  other:\n    url: o\nmodel: x\n"
        << "mcp_servers:\n" + yamlEntry + "    # ours\n\n  other:\n    url: o\nmodel: x\n";
    QTest::newRow("comments inside the entry replaced")
        << "mcp_servers:\n  varnelle:\n    # ours\n\n    url: old\n    enabled: false\n  other: {}\n"
        << "mcp_servers:\n" + yamlEntry + "  other: {}\n";
    QTest::newRow("comment before the next entry stays")
        << "mcp_servers:\n  varnelle:\n    url: old\n  # the other one\n  other:\n    url: o\n"
        << "mcp_servers:\n" + yamlEntry + "  # the other one\n  other:\n    url: o\n";
    QTest::newRow("comment before the next top-level key stays above it")
        << "mcp_servers:\n  varnelle:\n    url: old\n\n# model section\nmodel: x\n"
        << "mcp_servers:\n" + yamlEntry + "\n# model section\nmodel: x\n";
    QTest::newRow("quoted entry key") << "mcp_servers:\n  \"varnelle\": {url: old}\n" << "mcp_servers:\n" + yamlEntry;
    QTest::newRow("entry last without line feed") << "mcp_servers:\n  other: {}\n  varnelle: {}" << "mcp_servers:\n  other: {}\n" + yamlEntry;
    QTest::newRow("CR LF line ends") << "model: x\r\nmcp_servers:\r\n  varnelle:\r\n    url: old\r\n\r\n  # o\r\n  other: {}\r\n"
                                     << "model: x\r\nmcp_servers:\r\n" + yamlEntry + "\r\n  # o\r\n  other: {}\r\n";
    QTest::newRow("block at end without line feed") << "mcp_servers:\n  other: {}" << "mcp_servers:\n  other: {}\n" + yamlEntry;
    QTest::newRow("flow mapping edited as JSON")
        << "{\"model\": \"x\", \"mcp_servers\": {}}"
        << "{\"model\": \"x\", \"mcp_servers\": {\n  \"varnelle\": {\"enabled\":true,\"url\":\"" + url + "\"}\n}}";
}

void ConfigUpdateTest::yaml()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    const QString result = AgentConfig::updated(hermes(), text, url, QString());
    QCOMPARE(result, expected);
    QCOMPARE(AgentConfig::updated(hermes(), result, url, QString()), result);
    crossCheck(QStringLiteral("yaml"), text, result);
}

void ConfigUpdateTest::yamlRepeatedRuns()
{
    const QString first = AgentConfig::updated(hermes(), QStringLiteral("model: x\n"), url, QString());
    QCOMPARE(first, "model: x\n\nmcp_servers:\n" + yamlEntry);
    QCOMPARE(AgentConfig::updated(hermes(), first, url, QString()), first);
    // A new address changes the address and nothing else.
    const QString moved = QStringLiteral("http://127.0.0.1:9/mcp");
    const QString second = AgentConfig::updated(hermes(), first, moved, QString());
    QCOMPARE(second, QString(first).replace(url, moved));
}

void ConfigUpdateTest::refusals_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("message");
    QTest::newRow("toml invalid") << "toml" << "a = \n" << "现有 TOML 语法无效，未修改文件";
    QTest::newRow("toml second header inside a string") << "toml" << "[mcp_servers.varnelle]\nurl = \"a\"\nnote = \"\"\"\n[mcp_servers.'varnelle']\n\"\"\"\n"
                                           << "MCP 表重复，未修改 TOML";
    QTest::newRow("toml dotted keys") << "toml" << "mcp_servers.varnelle.url = \"x\"\n" << "TOML 节点使用特殊语法，未修改文件";
    QTest::newRow("toml inline table") << "toml" << "mcp_servers = { other = { url = \"o\" } }\n"
                                       << "TOML 节点使用特殊语法，未修改文件";
    QTest::newRow("toml array of tables") << "toml" << "[[mcp_servers]]\nname = \"a\"\n" << "TOML 节点使用特殊语法，未修改文件";
    QTest::newRow("toml sub-table of old entry") << "toml" << "[mcp_servers.varnelle]\nurl = \"x\"\n[mcp_servers.varnelle.env]\nA = \"1\"\n"
                                                 << "TOML 编辑校验失败，未修改文件";
    QTest::newRow("yaml sequence root") << "yaml" << "- a\n- b\n" << "Hermes 配置需要 YAML 映射";
    QTest::newRow("yaml comments only") << "yaml" << "# nothing\n" << "Hermes 配置需要 YAML 映射";
    QTest::newRow("yaml quoted key") << "yaml" << "\"mcp_servers\":\n  a: {}\n" << "Hermes MCP 节点使用特殊 YAML 语法，请先改为普通块映射";
    QTest::newRow("yaml two blocks") << "yaml" << "mcp_servers:\n  a: {}\nmcp_servers:\n  b: {}\n"
                                     << "Hermes MCP 节点需为唯一的 YAML 块映射；现有文件未修改";
    QTest::newRow("yaml inline mapping") << "yaml" << "mcp_servers: {}\n" << "Hermes MCP 节点需为唯一的 YAML 块映射；现有文件未修改";
    QTest::newRow("yaml inline sequence") << "yaml" << "mcp_servers: []\n" << "Hermes MCP 节点需为唯一的 YAML 块映射；现有文件未修改";
    QTest::newRow("yaml merge key") << "yaml" << "base: &b {url: x}\nmcp_servers:\n  <<: *b\n"
                                    << "Hermes MCP 映射包含合并键或制表符，未修改文件";
    QTest::newRow("yaml duplicate entry") << "yaml" << "mcp_servers:\n  varnelle: {}\n  'varnelle': {}\n"
                                          << "Hermes 的 varnelle 配置重复，未修改文件";
    QTest::newRow("yaml sequence block") << "yaml" << "mcp_servers:\n  - a\n" << "YAML 语法无效：";
    QTest::newRow("yaml old entry with children") << "yaml" << "mcp_servers:\n  other:\n    varnelle: 1\n  x: 2\n"
                                                  << "<no failure>";
    // yaml-cpp reads a NUL as the end of a line, so such a file would read
    // differently once an entry follows it: YAML forbids these characters.
    QTest::newRow("yaml NUL in a value") << "yaml" << QStringLiteral("mcp_servers:\n  a: x\0  \n  b: 1\n")
                                         << "YAML 语法无效：第 2 行第 7 列有不允许的字符 U+0000";
    QTest::newRow("yaml control in a key") << "yaml" << QStringLiteral("model: x\nk\x02: 1\n")
                                           << "YAML 语法无效：第 2 行第 2 列有不允许的字符 U+0002";
    QTest::newRow("yaml DEL") << "yaml" << QStringLiteral("a: \x7f\n") << "YAML 语法无效：第 1 行第 4 列有不允许的字符 U+007F";
    QTest::newRow("yaml lone surrogate") << "yaml" << QStringLiteral("a: ") + QChar(0xD800) + QStringLiteral("\n") << "YAML 语法无效：第 1 行第 4 列有不允许的字符 U+D800";
    // An alias inside its own anchor makes a cycle; aliases of aliases grow
    // without bound. Either would hang every later walk over the tree.
    QTest::newRow("yaml alias inside its anchor") << "yaml" << "mcp_sess: &a {kf: *a}\nmcp_servers:\n  a: {}\n"
                                                  << "YAML 别名引用了包含它自身的节点，未修改文件";
    QTest::newRow("yaml alias expansion") << "yaml" << [] {
        QString text = QStringLiteral("a0: &a0 [x, x, x, x, x, x, x, x]\n");
        for (int i = 1; i < 12; ++i)
            text += QStringLiteral("a%1: &a%1 [*a%2, *a%2, *a%2, *a%2, *a%2, *a%2, *a%2, *a%2]\n").arg(i).arg(i - 1);
        return text;
    }() << "YAML 别名展开后的节点过多，未修改文件";
    QTest::newRow("yaml too deep") << "yaml" << QStringLiteral("a: ") + QString(300, QLatin1Char('[')) + QString(300, QLatin1Char(']')) + QStringLiteral("\n")
                                   << "YAML 嵌套超过 200 层，未修改文件";
    QTest::newRow("json invalid") << "json" << "{\"a\": }" << "现有 JSON/JSONC 配置无效，未修改文件：";
    QTest::newRow("json key path not an object") << "json" << "{\"mcpServers\": []}" << "配置节点需要 JSON 对象";
}

void ConfigUpdateTest::refusals()
{
    QFETCH(QString, format);
    QFETCH(QString, text);
    QFETCH(QString, message);
    AgentClient client = format == QLatin1String("json") ? tool(QStringLiteral("gemini"), format, {QStringLiteral("mcpServers")})
                                                         : tool(QStringLiteral("x"), format, {QStringLiteral("mcp_servers")});
    const QString got = failure([&] { AgentConfig::updated(client, text, url, QString()); });
    // Messages ending in a colon go on with the parser's own words.
    if (message.endsWith(QStringLiteral("：")))
        QVERIFY2(got.startsWith(message) && got.size() > message.size(), qPrintable(got));
    else
        QCOMPARE(got, message);
}

void ConfigUpdateTest::json_data()
{
    QTest::addColumn<QString>("id");
    QTest::addColumn<QStringList>("keys");
    QTest::addColumn<bool>("v2");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    const QString gemini = "{\"httpUrl\":\"" + url + "\"}";
    QTest::newRow("blank text") << "gemini" << QStringList{"mcpServers"} << false << "  \n"
                                << "{\n  \"mcpServers\": {\"varnelle\": " + gemini + "}\n}";
    QTest::newRow("jsonc with other server")
        << "gemini" << QStringList{"mcpServers"} << false
        << "{\n  // mine\n  mcpServers: {\n    'other': {command: 'x',},\n  },\n}\n"
        << "{\n  // mine\n  mcpServers: {\n    'other': {command: 'x',},\n  \n  \"varnelle\": " + gemini + "\n},\n}\n";
    QTest::newRow("claude code entry replaced")
        << "claude-code" << QStringList{"mcpServers"} << false
        << "{\"mcpServers\": {\"varnelle\": \"broken\"}}"
        << "{\"mcpServers\": {\"varnelle\": {\"type\":\"http\",\"url\":\"" + url + "\"}}}";
    QTest::newRow("user members of our entry kept")
        << "claude-code" << QStringList{"mcpServers"} << false
        << "{\"mcpServers\": {\"varnelle\": {\"type\": \"http\", \"url\": \"http://old\", \"headers\": {\"A\": \"1\"}}}}"
        << "{\"mcpServers\": {\"varnelle\": {\"type\": \"http\", \"url\": \"" + url + "\", \"headers\": {\"A\": \"1\"}}}}";
    QTest::newRow("openclaw path") << "openclaw" << QStringList{"mcp", "servers"} << false << "{}"
                                   << "{\n  \"mcp\": {\"servers\": {\"varnelle\": {\"enabled\":true,\"transport\":\"streamable-http\",\"url\":\"" + url
                                          + "\"}}}\n}";
    QTest::newRow("opencode v1") << "opencode" << QStringList{"mcp"} << false << "{\"mcp\": {}}"
                                 << "{\"mcp\": {\n  \"varnelle\": {\"enabled\":true,\"type\":\"remote\",\"url\":\"" + url + "\"}\n}}";
    QTest::newRow("opencode v2 on empty file") << "opencode" << QStringList{"mcp"} << true << "{}"
                                               << "{\n  \"mcp\": {\"servers\": {\"varnelle\": {\"disabled\":false,\"type\":\"remote\",\"url\":\""
                                                      + url + "\"}}}\n}";
    QTest::newRow("opencode v2 with empty mcp") << "opencode" << QStringList{"mcp"} << true << "{\"mcp\": {}}"
                                                << "{\"mcp\": {\n  \"servers\": {\"varnelle\": {\"disabled\":false,\"type\":\"remote\",\"url\":\""
                                                       + url + "\"}}\n}}";
    QTest::newRow("opencode servers member means v2") << "opencode" << QStringList{"mcp"} << false << "{\"mcp\": {\"servers\": {}}}"
                                                      << "{\"mcp\": {\"servers\": {\n  \"varnelle\": {\"disabled\":false,\"type\":\"remote\",\"url\":\""
                                                             + url + "\"}\n}}}";
}

void ConfigUpdateTest::json()
{
    QFETCH(QString, id);
    QFETCH(QStringList, keys);
    QFETCH(bool, v2);
    QFETCH(QString, text);
    QFETCH(QString, expected);
    const AgentClient client = tool(id, QStringLiteral("json"), keys, v2);
    const QString result = AgentConfig::updated(client, text, url, QString());
    QCOMPARE(result, expected);
    QCOMPARE(AgentConfig::updated(client, result, url, QString()), result);
}

void ConfigUpdateTest::openCodeV1Refused()
{
    const AgentClient client = tool(QStringLiteral("opencode"), QStringLiteral("json"), {QStringLiteral("mcp")}, true);
    QCOMPARE(failure([&] { AgentConfig::updated(client, QStringLiteral("{\"mcp\": {\"a\": {}}}"), url, QString()); }),
             QStringLiteral("检测到 OpenCode V2，但文件仍是 V1 MCP 格式，请先在 OpenCode 中迁移配置；原文件未修改"));
}

void ConfigUpdateTest::byteOrderMarkKept()
{
    const QString bom(QChar(0xFEFF));
    const AgentClient gemini = tool(QStringLiteral("gemini"), QStringLiteral("json"), {QStringLiteral("mcpServers")});
    QVERIFY(AgentConfig::updated(gemini, bom + QStringLiteral("{}"), url, QString()).startsWith(bom + QStringLiteral("{\n")));
    QCOMPARE(AgentConfig::updated(codex(), bom + QStringLiteral("a = 1\n"), url, QString()), bom + "a = 1\n\n" + tomlBlock);
    // Only the first U+FEFF is a mark; the editor reads the rest as text, as
    // the check does, and so refuses what it could not read back.
    const QString marks = bom + bom + bom + bom;
    for (const AgentClient& client : {hermes(), codex()}) {
        const QString refused = failure([&] { AgentConfig::updated(client, marks, url, QString()); });
        QVERIFY2(refused != QLatin1String("<no failure>"), qPrintable(client.id));
    }
}

QTEST_GUILESS_MAIN(ConfigUpdateTest)
#include "ConfigUpdateTest.moc"
