#include "tests/app/ProgramRun.h"
#include "tests/mcp/HttpClient.h"
#include "tests/support/TestSupport.h"

#include <QJsonArray>
#include <QTest>

using namespace vn::test;

class InstanceProcessTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void secondStartOfOneWorkspace_data();
    void secondStartOfOneWorkspace();
    void activationRechecksAgentEndpoints();
    void otherWorkspaceRunsBeside();
    void killedInstanceLeavesNoLock();
};

namespace {

// The first instance, running with its window shown.
struct Running {
    Running(const ProgramHome& home, const QStringList& arguments)
        : ready(home.path(QStringLiteral("first-ready.json")))
        , run(home, arguments + QStringList{QStringLiteral("--ready-file"), ready})
    {
    }
    QString ready;
    ProgramRun run;
};

// The agent tools the running program last checked, as its MCP server reports them.
QStringList checkedAgents(quint16 port, const QString& session)
{
    const QJsonObject status = vn::test::callTool(port, session, QStringLiteral("get_status"))
                                   .value(QStringLiteral("result"))
                                   .toObject()
                                   .value(QStringLiteral("structuredContent"))
                                   .toObject();
    QStringList agents;
    const QJsonArray checks = status.value(QStringLiteral("agent_config_checks")).toArray();
    for (const QJsonValue& check : checks)
        agents << check.toObject().value(QStringLiteral("agent")).toString();
    return agents;
}

} // namespace

void InstanceProcessTest::secondStartOfOneWorkspace_data()
{
    QTest::addColumn<QString>("how"); // how the second start names the same instance
    QTest::newRow("same settings path") << "same";
    QTest::newRow("bare file name from its folder") << "relative";
    QTest::newRow("same fixed MCP port, other workspace") << "port";
}

void InstanceProcessTest::secondStartOfOneWorkspace()
{
    QFETCH(QString, how);
    ProgramHome home;
    const quint16 port = freeTcpPort();
    const QString settings = home.workspace(QStringLiteral("space/settings.json"), port);
    QStringList first{QStringLiteral("--settings"), settings};
    if (how == QStringLiteral("port"))
        first << QStringLiteral("--mcp-port") << QString::number(port);
    Running running(home, first);
    QVERIFY(running.run.waitForFile(running.ready));

    QStringList second{QStringLiteral("--settings"), settings};
    QString folder;
    if (how == QStringLiteral("relative")) {
        second = {QStringLiteral("--settings"), QStringLiteral("settings.json")};
        folder = home.path(QStringLiteral("space"));
    } else if (how == QStringLiteral("port")) {
        second = {QStringLiteral("--settings"), home.workspace(QStringLiteral("other/settings.json"), freeTcpPort()),
                  QStringLiteral("--mcp-port"), QString::number(port)};
    }
    const QString secondReady = home.path(QStringLiteral("second-ready.json"));
    ProgramRun again(home, second + QStringList{QStringLiteral("--ready-file"), secondReady}, programPath(), folder);
    QVERIFY(again.finish());
    QCOMPARE(again.exitCode(), 0);
    // No window of its own, and the first one goes on.
    QVERIFY(!QFile::exists(secondReady));
    QVERIFY(running.run.running());
    running.run.terminate();
    QVERIFY(running.run.finish());
}

void InstanceProcessTest::activationRechecksAgentEndpoints()
{
    // The running instance checked the agent tools when it started, and checks
    // again only when it is activated: a tool installed in between shows that.
    ProgramHome home;
    const quint16 port = freeTcpPort();
    const QString settings = home.workspace(QStringLiteral("settings.json"), port);
    Running running(home, {QStringLiteral("--settings"), settings});
    QVERIFY(running.run.waitForFile(running.ready));
    const QString session = vn::test::initialize(port);
    QVERIFY(!session.isEmpty());
    QCOMPARE(checkedAgents(port, session), QStringList());

    home.tool(QStringLiteral("codex"));
    QCOMPARE(checkedAgents(port, session), QStringList());
    ProgramRun again(home, {QStringLiteral("--settings"), settings});
    QVERIFY(again.finish());
    QCOMPARE(again.exitCode(), 0);
    QTRY_COMPARE(checkedAgents(port, session), QStringList{QStringLiteral("codex")});
    QVERIFY(running.run.running());
    running.run.terminate();
    QVERIFY(running.run.finish());
}

void InstanceProcessTest::otherWorkspaceRunsBeside()
{
    ProgramHome home;
    Running running(home, {QStringLiteral("--settings"),
                           home.workspace(QStringLiteral("a/settings.json"), freeTcpPort())});
    QVERIFY(running.run.waitForFile(running.ready));
    const QString ready = home.path(QStringLiteral("b-ready.json"));
    ProgramRun other(home, {QStringLiteral("--settings"), home.workspace(QStringLiteral("b/settings.json"), freeTcpPort()),
                            QStringLiteral("--ready-file"), ready});
    QVERIFY(other.waitForFile(ready));
    QVERIFY(other.running());
    other.terminate();
    running.run.terminate();
    QVERIFY(other.finish());
    QVERIFY(running.run.finish());
}

void InstanceProcessTest::killedInstanceLeavesNoLock()
{
    ProgramHome home;
    const QString settings = home.workspace(QStringLiteral("settings.json"), freeTcpPort());
    {
        Running killed(home, {QStringLiteral("--settings"), settings});
        QVERIFY(killed.run.waitForFile(killed.ready));
        killed.run.kill();
        QVERIFY(killed.run.finish());
    }
    // The socket it left behind does not stop the next start, and that start
    // guards the workspace again.
    const QString ready = home.path(QStringLiteral("restart-ready.json"));
    ProgramRun restarted(home, {QStringLiteral("--settings"), settings, QStringLiteral("--ready-file"), ready});
    QVERIFY(restarted.waitForFile(ready));
    QVERIFY(restarted.running());

    const QString thirdReady = home.path(QStringLiteral("third-ready.json"));
    ProgramRun third(home, {QStringLiteral("--settings"), settings, QStringLiteral("--ready-file"), thirdReady});
    QVERIFY(third.finish());
    QCOMPARE(third.exitCode(), 0);
    QVERIFY(!QFile::exists(thirdReady));
    QVERIFY(restarted.running());
    restarted.terminate();
    QVERIFY(restarted.finish());
}

QTEST_GUILESS_MAIN(InstanceProcessTest)
#include "InstanceProcessTest.moc"
