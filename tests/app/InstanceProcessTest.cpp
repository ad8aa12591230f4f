#include "tests/app/ProgramRun.h"
#include "tests/mcp/HttpClient.h"
#include "tests/support/TestSupport.h"

#include <QFile>
#include <QJsonArray>
#include <QTest>

#include <memory>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace vn::test;

class InstanceProcessTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void secondStartOfOneWorkspace_data();
    void secondStartOfOneWorkspace();
    void activationRechecksAgentEndpoints();
    void otherWorkspaceRunsBeside();
    void killedInstanceLeavesNoLock();
    void simultaneousStartsLeaveOneProgram();
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

// Two starts of one workspace at the same moment: both find nobody under the
// name, and only one may go on. Each pair waits in a shell on its own pipe
// and is let go with one write, so both reach the guard together; pairs run
// a few at a time on their own workspaces.
void InstanceProcessTest::simultaneousStartsLeaveOneProgram()
{
    constexpr int Pairs = 20;
    constexpr int PairsAtOnce = 4;
    ProgramHome home;
    for (int first = 0; first < Pairs; first += PairsAtOnce) {
        struct Pair {
            QString ready[2];
            std::unique_ptr<ProgramRun> run[2];
            int gate = -1;
            ~Pair()
            {
                if (gate >= 0)
                    ::close(gate);
            }
        };
        std::vector<Pair> pairs(PairsAtOnce);
        for (int index = 0; index < PairsAtOnce; ++index) {
            const QString folder = QStringLiteral("race-%1").arg(first + index);
            const QString settings = home.workspace(folder + QStringLiteral("/settings.json"), freeTcpPort());
            Pair& pair = pairs[size_t(index)];
            const QByteArray gate = QFile::encodeName(home.path(folder + QStringLiteral("/gate")));
            QCOMPARE(::mkfifo(gate.constData(), 0600), 0);
            // Held open for writing, so the shells' reads wait for the line
            // rather than for a writer to appear.
            pair.gate = ::open(gate.constData(), O_RDWR | O_CLOEXEC);
            QVERIFY(pair.gate >= 0);
            for (int side = 0; side < 2; ++side) {
                pair.ready[side] = home.path(folder + QStringLiteral("/ready-%1.json").arg(side));
                // exec keeps the process id, so the run stops the program itself.
                pair.run[side] = std::make_unique<ProgramRun>(
                    home,
                    QStringList{QStringLiteral("-c"), QStringLiteral("read go < \"$0\"; exec \"$@\""), QString::fromLocal8Bit(gate),
                                programPath(), QStringLiteral("--settings"), settings, QStringLiteral("--ready-file"),
                                pair.ready[side]},
                    QStringLiteral("/bin/sh"));
                QVERIFY(pair.run[side]->started());
            }
        }
        for (Pair& pair : pairs)
            QCOMPARE(::write(pair.gate, "go\ngo\n", 6), ssize_t(6));
        for (int index = 0; index < PairsAtOnce; ++index) {
            Pair& pair = pairs[size_t(index)];
            const QByteArray which = QByteArray::number(first + index);
            // Until one has ended, or both show a window (the fault).
            QTRY_VERIFY2_WITH_TIMEOUT(!pair.run[0]->running() || !pair.run[1]->running()
                                          || (QFile::exists(pair.ready[0]) && QFile::exists(pair.ready[1])),
                                      which.constData(), 120000);
            const int ended = pair.run[0]->running() ? 1 : 0;
            const int going = 1 - ended;
            QVERIFY2(!pair.run[ended]->running(), which.constData());
            QCOMPARE(pair.run[ended]->exitCode(), 0);
            QVERIFY2(!QFile::exists(pair.ready[ended]), which.constData());
            QVERIFY2(pair.run[going]->waitForFile(pair.ready[going]), which.constData());
            QVERIFY2(pair.run[going]->running(), which.constData());
        }
        for (Pair& pair : pairs) {
            for (auto& run : pair.run) {
                run->terminate();
                QVERIFY(run->finish());
            }
        }
    }
}

QTEST_GUILESS_MAIN(InstanceProcessTest)
#include "InstanceProcessTest.moc"
