#include "AgentFixtures.h"

#include "ui/agents/AgentSkill.h"

#include <QJsonArray>
#include <QRegularExpression>
#include <QtTest>

#include <ctime>

using namespace vn;
using vn::test::failure;
using vn::test::AgentHome;
using vn::test::findClient;
using vn::test::readAll;

namespace {

// Guide texts of our own, so that these tests do not depend on the built-in ones.
QString fixtureGuide(const QString& topic)
{
    if (topic == QLatin1String("overview"))
        return QStringLiteral("---\nname: varnelle\n---\n# 概览\nLine two\n");
    if (topic == QLatin1String("frame_script"))
        return QStringLiteral("# 帧脚本\nmain(data, length)\n");
    throw std::runtime_error("unknown topic");
}

QStringList strings(const QJsonValue& value)
{
    QStringList list;
    for (const QJsonValue& item : value.toArray())
        list << item.toString();
    return list;
}

} // namespace

class AgentSkillTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void targetFolders_data();
    void targetFolders();
    void skillStates();
    void detectionReportBytes();
    void detectionReportFailures();
    void freshInstall();
    void repeatedInstall();
    void handEditedFileBackedUp();
    void links_data();
    void links();
    void unknownAgent();
    void guideFailureTouchesNothing();
    void geminiCliHome_data();
    void geminiCliHome();
};

void AgentSkillTest::initTestCase()
{
    qputenv("TZ", "CST-8");
    tzset();
}

void AgentSkillTest::targetFolders_data()
{
    QTest::addColumn<QStringList>("variables");
    QTest::addColumn<QStringList>("paths"); // "@" stands for the home
    const QStringList defaults{"@/.codex", "@/.claude", "@/.config/opencode", "@/.pi/agent",
                               "@/.hermes", "@/.openclaw", "@/.grok", "@/.gemini"};
    QTest::newRow("defaults") << QStringList() << defaults;
    QTest::newRow("variables") << QStringList{"CODEX_HOME=/c", "CLAUDE_CONFIG_DIR=/d", "XDG_CONFIG_HOME=/x", "PI_CODING_AGENT_DIR=/p",
                                              "HERMES_HOME=/h", "OPENCLAW_STATE_DIR=/s", "GROK_HOME=/g", "GEMINI_CLI_HOME=/m"}
                               << QStringList{"/c", "/d", "/x/opencode", "/p", "/h", "/s", "@/.grok", "/m/.gemini"};
    QTest::newRow("opencode dir over xdg") << QStringList{"XDG_CONFIG_HOME=/x", "OPENCODE_CONFIG_DIR=/o"}
                                           << QStringList{"@/.codex", "@/.claude", "/o", "@/.pi/agent", "@/.hermes", "@/.openclaw", "@/.grok", "@/.gemini"};
    QTest::newRow("empty variables are unset") << QStringList{"CODEX_HOME=", "CLAUDE_CONFIG_DIR=", "GEMINI_CLI_HOME="} << defaults;
}

void AgentSkillTest::targetFolders()
{
    QFETCH(QStringList, variables);
    QFETCH(QStringList, paths);
    AgentHome home;
    AgentEnvironment env = home.environment();
    for (const QString& pair : variables)
        env.variables.insert(pair.section(QLatin1Char('='), 0, 0), pair.section(QLatin1Char('='), 1));
    const QJsonArray targets = AgentSkill::targets(env, fixtureGuide);
    const QStringList agents{"codex", "claude-code", "opencode", "pi", "hermes", "openclaw", "grok", "gemini"};
    const QStringList names{"Codex", "Claude Code", "OpenCode", "Pi Agent", "Hermes", "OpenClaw", "Grok Build", "Gemini CLI"};
    QCOMPARE(targets.size(), 8);
    for (qsizetype i = 0; i < 8; ++i) {
        const QJsonObject target = targets.at(i).toObject();
        QCOMPARE(target.value("agent").toString(), agents.at(i));
        QCOMPARE(target.value("name").toString(), names.at(i));
        QCOMPARE(target.value("path").toString(), QString(paths.at(i)).replace('@', home.root()) + "/skills/varnelle");
        QCOMPARE(target.value("installed").toBool(), false);
        QCOMPARE(target.value("skill_state").toString(), QStringLiteral("未安装"));
    }
}

void AgentSkillTest::skillStates()
{
    AgentHome home;
    const AgentEnvironment env = home.environment();
    const QString folder = home.root() + "/.gemini/skills/varnelle";
    auto state = [&] { return AgentSkill::targets(env, fixtureGuide).at(7).toObject().value("skill_state").toString(); };
    QDir().mkpath(folder);
    QCOMPARE(state(), QStringLiteral("未安装"));
    home.write(folder + "/SKILL.md", fixtureGuide("overview").toUtf8());
    QCOMPARE(state(), QStringLiteral("可更新 / 修复"));
    home.write(folder + "/references/frame-script.md", fixtureGuide("frame_script").toUtf8());
    QCOMPARE(state(), QStringLiteral("已是最新"));
    home.write(folder + "/SKILL.md", fixtureGuide("overview").toUtf8().replace("\n", "\r\n"));
    QCOMPARE(state(), QStringLiteral("可更新 / 修复"));
}

void AgentSkillTest::detectionReportBytes()
{
    AgentHome home;
    AgentEnvironment env = home.environment();
    env.localAppData = home.root() + "/Local";
    home.write("Local/Claude/Claude.exe", "x"); // Claude Desktop is never listed
    const QString report = home.root() + "/report.ini";
    AgentSkill::writeDetection(report, env, fixtureGuide);
    QCOMPARE(readAll(report), QByteArray("[agents]\r\ncodex=0\r\nclaude-code=0\r\nopencode=0\r\npi=0\r\nhermes=0\r\n"
                                         "openclaw=0\r\ngrok=0\r\ngemini=0\r\n"));
    for (const char* tool : {"codex", "claude", "opencode", "pi", "hermes", "openclaw", "grok", "gemini"})
        home.tool(QLatin1String(tool));
    AgentSkill::writeDetection(report, env, fixtureGuide);
    QCOMPARE(readAll(report), QByteArray("[agents]\r\ncodex=1\r\nclaude-code=1\r\nopencode=1\r\npi=1\r\nhermes=1\r\n"
                                         "openclaw=1\r\ngrok=1\r\ngemini=1\r\n"));
}

void AgentSkillTest::detectionReportFailures()
{
    AgentHome home;
    const QString missingFolder = home.root() + "/no/such/folder/report.ini";
    QCOMPARE(failure([&] { AgentSkill::writeDetection(missingFolder, home.environment(), fixtureGuide); }),
             QStringLiteral("无法写入 Agent 检测结果"));
    QVERIFY(!QFileInfo::exists(missingFolder));
    const QString locked = home.root() + "/locked";
    QDir().mkpath(locked);
    const QString existing = home.write("locked/report.ini", "old");
    QFile::setPermissions(locked, QFile::ReadOwner | QFile::ExeOwner);
    if (QFileInfo(locked).isWritable()) // running as a user that ignores permissions
        QSKIP("folder permissions are not enforced for this user");
    QCOMPARE(failure([&] { AgentSkill::writeDetection(existing, home.environment(), fixtureGuide); }),
             QStringLiteral("无法写入 Agent 检测结果"));
    QFile::setPermissions(locked, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QCOMPARE(readAll(existing), QByteArray("old"));
}

void AgentSkillTest::freshInstall()
{
    AgentHome home;
    const QJsonObject report = AgentSkill::install("codex", home.environment(), fixtureGuide);
    const QString folder = home.root() + "/.codex/skills/varnelle";
    QCOMPARE(report.keys(), (QStringList{"agent", "backups", "directory", "files", "mcp_config_changed", "reload_required", "version"}));
    QCOMPARE(report.value("agent").toString(), QStringLiteral("codex"));
    QCOMPARE(report.value("directory").toString(), folder);
    QCOMPARE(strings(report.value("files")), (QStringList{folder + "/SKILL.md", folder + "/references/frame-script.md"}));
    QVERIFY(report.value("backups").toArray().isEmpty());
    QCOMPARE(report.value("version").toString(), QStringLiteral("0.15.32"));
    QCOMPARE(report.value("mcp_config_changed"), QJsonValue(false));
    QCOMPARE(report.value("reload_required"), QJsonValue(true));
    QCOMPARE(readAll(folder + "/SKILL.md"), fixtureGuide("overview").toUtf8());
    QCOMPARE(readAll(folder + "/references/frame-script.md"), fixtureGuide("frame_script").toUtf8());
    QCOMPARE(AgentSkill::targets(home.environment(), fixtureGuide).at(0).toObject().value("skill_state").toString(),
             QStringLiteral("已是最新"));
}

void AgentSkillTest::repeatedInstall()
{
    AgentHome home;
    AgentSkill::install("hermes", home.environment(), fixtureGuide);
    const QString folder = home.root() + "/.hermes/skills/varnelle";
    const QDateTime modified = QFileInfo(folder + "/SKILL.md").lastModified();
    const QJsonObject report = AgentSkill::install("hermes", home.environment(), fixtureGuide);
    QCOMPARE(strings(report.value("files")).size(), 2);
    QVERIFY(report.value("backups").toArray().isEmpty());
    QCOMPARE(QFileInfo(folder + "/SKILL.md").lastModified(), modified);
    QCOMPARE(QDir(folder).entryList(QDir::Files), QStringList{"SKILL.md"});
}

void AgentSkillTest::handEditedFileBackedUp()
{
    AgentHome home;
    const QString folder = home.root() + "/.claude/skills/varnelle";
    home.write(folder + "/SKILL.md", "my notes\n");
    home.write(folder + "/references/frame-script.md", fixtureGuide("frame_script").toUtf8());
    const QJsonObject report = AgentSkill::install("claude-code", home.environment(), fixtureGuide);
    const QStringList made = strings(report.value("backups"));
    QCOMPARE(made.size(), 1);
    static const QRegularExpression name(QStringLiteral("/SKILL\\.md\\.\\d{8}-\\d{6}-\\d{3}-[0-9a-f]{8}\\.bak$"));
    QVERIFY2(name.match(made.first()).hasMatch(), qPrintable(made.first()));
    QVERIFY(made.first().startsWith(folder + "/SKILL.md."));
    // The stamp is UTC (the test runs eight hours east of it).
    QDateTime stamp = QDateTime::fromString(made.first().section('.', -2, -2).left(19), "yyyyMMdd-HHmmss-zzz");
    stamp.setTimeSpec(Qt::UTC);
    QVERIFY2(qAbs(stamp.secsTo(QDateTime::currentDateTimeUtc())) < 120, qPrintable(made.first()));
    QCOMPARE(readAll(made.first()), QByteArray("my notes\n"));
    QCOMPARE(readAll(folder + "/SKILL.md"), fixtureGuide("overview").toUtf8());
}

void AgentSkillTest::links_data()
{
    QTest::addColumn<QString>("linked"); // relative to the skill folder's parent: the link made
    QTest::addColumn<QString>("message"); // "@" stands for the skill folder
    QTest::newRow("skill folder") << "varnelle" << "skill 目标是链接，请选择普通目录";
    QTest::newRow("references folder") << "varnelle/references" << "skill 目录中的链接不会被跟随，请改为普通目录：@/references";
    QTest::newRow("SKILL.md") << "varnelle/SKILL.md" << "不覆盖链接文件：@/SKILL.md";
    QTest::newRow("reference file") << "varnelle/references/frame-script.md" << "不覆盖链接文件：@/references/frame-script.md";
}

void AgentSkillTest::links()
{
    QFETCH(QString, linked);
    QFETCH(QString, message);
    AgentHome home;
    const QString skills = home.root() + "/.gemini/skills";
    const QString folder = skills + "/varnelle";
    const QString elsewhere = home.root() + "/elsewhere";
    QDir().mkpath(elsewhere);
    const QString target = linked.endsWith(".md") ? home.write(elsewhere + "/file.md", "precious\n") : elsewhere;
    QDir().mkpath(QFileInfo(skills + "/" + linked).absolutePath());
    QVERIFY(QFile::link(target, skills + "/" + linked));
    QCOMPARE(failure([&] { AgentSkill::install("gemini", home.environment(), fixtureGuide); }), message.replace('@', folder));
    // Nothing reached through the link was written.
    QCOMPARE(QDir(elsewhere).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot),
             linked.endsWith(".md") ? QStringList{"file.md"} : QStringList());
    if (linked.endsWith(".md"))
        QCOMPARE(readAll(target), QByteArray("precious\n"));
}

void AgentSkillTest::unknownAgent()
{
    AgentHome home;
    QCOMPARE(failure([&] { AgentSkill::install("claude-desktop", home.environment(), fixtureGuide); }),
             QStringLiteral("暂不支持该 Agent 的本地 skill 目录"));
    QCOMPARE(QDir(home.root()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::Hidden), QStringList());
}

void AgentSkillTest::guideFailureTouchesNothing()
{
    AgentHome home;
    int calls = 0;
    const GuideText broken = [&](const QString& topic) -> QString {
        ++calls;
        if (calls > 16 && topic == QLatin1String("frame_script"))
            throw std::runtime_error("无法读取内置使用指南");
        return fixtureGuide(topic);
    };
    calls = 16; // targets() has already read them; the installation's own fetch fails
    QCOMPARE(failure([&] { AgentSkill::install("pi", home.environment(), broken); }), QStringLiteral("无法读取内置使用指南"));
    QVERIFY(!QFileInfo::exists(home.root() + "/.pi"));
}

void AgentSkillTest::geminiCliHome_data()
{
    QTest::addColumn<QString>("variable"); // GEMINI_CLI_HOME, null when unset; "@" stands for the home
    QTest::addColumn<QString>("folder");   // the Gemini folder every step must use
    QTest::addColumn<QString>("unused");   // the other candidate, which must stay untouched
    QTest::newRow("set") << "@/gemini-home" << "@/gemini-home/.gemini" << "@/.gemini";
    QTest::newRow("set but empty") << "" << "@/.gemini" << "@/gemini-home/.gemini";
    QTest::newRow("unset") << QString() << "@/.gemini" << "@/gemini-home/.gemini";
}

// Discovery, the check, the configure step and the skill installer all follow
// the folder Gemini CLI itself reads.
void AgentSkillTest::geminiCliHome()
{
    QFETCH(QString, variable);
    QFETCH(QString, folder);
    QFETCH(QString, unused);
    AgentHome home;
    folder.replace('@', home.root());
    unused.replace('@', home.root());
    AgentEnvironment env = home.environment();
    if (!variable.isNull())
        env.variables.insert("GEMINI_CLI_HOME", variable.replace('@', home.root()));
    home.tool("gemini");
    const QString url = "http://127.0.0.1:8765/mcp";
    const QByteArray configured = "{\n  \"mcpServers\": {\"varnelle\": {\"httpUrl\":\"" + url.toUtf8() + "\"}}\n}";
    // A file the tool does not read must not count, however well it is configured.
    const QString decoy = home.write(unused + "/settings.json", configured);

    const AgentClient client = findClient(AgentConfig::discover(env), "gemini");
    QVERIFY(!client.executable.isEmpty());
    QCOMPARE(client.configPath, folder + "/settings.json");
    QCOMPARE(AgentConfig::check(client, url, QString()), QStringLiteral("尚未配置"));
    QVERIFY(AgentConfig::configure(client, url, QString()).endsWith("\n" + folder + "/settings.json"));
    QCOMPARE(readAll(folder + "/settings.json"), configured);
    QCOMPARE(AgentConfig::check(client, url, QString()), QStringLiteral("配置地址一致"));

    QCOMPARE(AgentSkill::targets(env, fixtureGuide).at(7).toObject().value("path").toString(), folder + "/skills/varnelle");
    const QJsonObject report = AgentSkill::install("gemini", env, fixtureGuide);
    QCOMPARE(report.value("directory").toString(), folder + "/skills/varnelle");
    QCOMPARE(readAll(folder + "/skills/varnelle/SKILL.md"), fixtureGuide("overview").toUtf8());

    QCOMPARE(readAll(decoy), configured);
    QCOMPARE(QDir(unused).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList{"settings.json"});
}

QTEST_GUILESS_MAIN(AgentSkillTest)
#include "AgentSkillTest.moc"
