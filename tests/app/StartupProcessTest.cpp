#include "tests/app/ProgramRun.h"
#include "tests/mcp/HttpClient.h"
#include "tests/support/TestSupport.h"

#include <QFileInfo>
#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTest>

#include <unistd.h>

using namespace vn::test;

namespace {

quint16 freePort()
{
    return freeTcpPort();
}

// The built program at another path: a hard link where the file system
// allows it (the sanitizer build is large), else a copy.
bool placeProgram(const QString& path)
{
    const QByteArray from = QFile::encodeName(programPath());
    const QByteArray to = QFile::encodeName(path);
    return ::link(from.constData(), to.constData()) == 0 || QFile::copy(programPath(), path);
}

} // namespace

class StartupProcessTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void exitCodes_data();
    void exitCodes();
    void helpAndVersion_data();
    void helpAndVersion();
    void workspaceLocation_data();
    void workspaceLocation();
    void portFromWorkspace_data();
    void portFromWorkspace();
    void busyWorkspacePortFallsBackAndIsSaved();
    void busyFixedPortIsNotReplaced();
    void usageGuideNamesTheSkillBesideTheProgram();
};

void StartupProcessTest::exitCodes_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("code");
    QTest::addColumn<bool>("windowShown"); // the ready file tells

    QTest::newRow("highest port starts") << QStringList{QStringLiteral("--mcp-port"), QStringLiteral("65535")} << 0
                                         << true;
    QTest::newRow("port zero starts") << QStringList{QStringLiteral("--mcp-port=0")} << 0 << true;
    QTest::newRow("port above range") << QStringList{QStringLiteral("--mcp-port"), QStringLiteral("65536")} << 2
                                      << false;
    QTest::newRow("negative port") << QStringList{QStringLiteral("--mcp-port=-1")} << 2 << false;
    QTest::newRow("word as port") << QStringList{QStringLiteral("--mcp-port"), QStringLiteral("auto")} << 2 << false;
    QTest::newRow("unknown option") << QStringList{QStringLiteral("--fullscreen")} << 1 << false;
    QTest::newRow("window size starts") << QStringList{QStringLiteral("--window-size"), QStringLiteral("560x640")} << 0
                                        << true;
    QTest::newRow("malformed window size") << QStringList{QStringLiteral("--window-size=560")} << 2 << false;
    QTest::newRow("window size below the minimum") << QStringList{QStringLiteral("--window-size=100x100")} << 2
                                                   << false;
    QTest::newRow("window size above the maximum")
        << QStringList{QStringLiteral("--window-size"), QStringLiteral("100000x100000")} << 2 << false;
    QTest::newRow("missing value") << QStringList{QStringLiteral("--view")} << 1 << false;
}

void StartupProcessTest::exitCodes()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, code);
    QFETCH(bool, windowShown);

    ProgramHome home;
    const QString settings = home.workspace(QStringLiteral("settings.json"), freePort());
    const QString ready = home.path(QStringLiteral("ready.json"));
    // A value-less option last, so "--view" really lacks its value.
    const QStringList common{QStringLiteral("--settings"), settings, QStringLiteral("--ready-file"), ready,
                             QStringLiteral("--quit-after"), QStringLiteral("300")};
    ProgramRun run(home, common + arguments);
    QVERIFY(run.started());
    QVERIFY(run.finish());
    QCOMPARE(run.exitCode(), code);
    QCOMPARE(QFile::exists(ready), windowShown);
    // A refused window size says why, in one line on the error output.
    const qsizetype sized = arguments.indexOf(QRegularExpression(QStringLiteral("^--window-size.*")));
    if (sized >= 0 && code != 0) {
        const QString errors = QString::fromUtf8(run.errors());
        QVERIFY2(errors.startsWith(QStringLiteral("--window-size 的值“")) && errors.endsWith(QLatin1Char('\n')),
                 qPrintable(errors));
    }
}

void StartupProcessTest::helpAndVersion_data()
{
    QTest::addColumn<QString>("option");
    QTest::addColumn<QByteArray>("printed");
    QTest::newRow("help") << "--help" << QByteArray("--detect-skill-agents");
    QTest::newRow("version") << "--version" << QByteArray("Varnelle 0.15.32");
}

void StartupProcessTest::helpAndVersion()
{
    QFETCH(QString, option);
    QFETCH(QByteArray, printed);
    ProgramHome home;
    ProgramRun run(home, {option});
    QVERIFY(run.finish());
    QCOMPARE(run.exitCode(), 0);
    QVERIFY2(run.output().contains(printed), printed.constData());
}

// The program copied into a folder of its own, so "installation.json" can sit
// beside it; which workspace it reads shows in the MCP port it listens on.
void StartupProcessTest::workspaceLocation_data()
{
    QTest::addColumn<QByteArray>("installation"); // empty: no file
    QTest::addColumn<bool>("localAppData");
    QTest::addColumn<QString>("expected"); // "beside", "local" or "data"

    QTest::newRow("no installation file") << QByteArray() << false << "beside";
    QTest::newRow("installed") << QByteArray(R"({"distribution": "installed"})") << false << "data";
    QTest::newRow("installed, LOCALAPPDATA set") << QByteArray(R"({"distribution": "installed"})") << true
                                                 << "local";
    QTest::newRow("portable") << QByteArray(R"({"distribution": "portable"})") << false << "beside";
    QTest::newRow("not JSON") << QByteArray("installed") << false << "beside";
}

void StartupProcessTest::workspaceLocation()
{
    QFETCH(QByteArray, installation);
    QFETCH(bool, localAppData);
    QFETCH(QString, expected);

    ProgramHome home;
    const QString program = home.path(QStringLiteral("program/varnelle"));
    QDir().mkpath(home.path(QStringLiteral("program")));
    QVERIFY(placeProgram(program));
    if (!installation.isEmpty())
        home.write(QStringLiteral("program/installation.json"), installation);

    const quint16 beside = freePort();
    const quint16 local = freePort();
    const quint16 data = freePort();
    QVERIFY(beside != local && local != data && beside != data);
    home.workspace(QStringLiteral("program/settings.json"), beside);
    home.workspace(QStringLiteral("local/Varnelle/settings.json"), local);
    home.workspace(QStringLiteral("data/Varnelle/settings.json"), data);

    QProcessEnvironment env = home.environment();
    const QString ready = home.path(QStringLiteral("ready.json"));
    QStringList arguments{QStringLiteral("--ready-file"), ready};
    // LOCALAPPDATA is not part of the private machine; a wrapper run sets it.
    QString launcher = program;
    if (localAppData) {
        launcher = home.write(QStringLiteral("bin/with-local"),
                              "#!/bin/sh\nLOCALAPPDATA=\"$1\" exec \"$2\" --ready-file \"$3\"\n");
        QFile::setPermissions(launcher, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        arguments = {home.path(QStringLiteral("local")), program, ready};
    }
    ProgramRun run(home, arguments, launcher);
    QVERIFY(run.started());
    QVERIFY(run.waitForFile(ready));
    const quint16 wanted = expected == QStringLiteral("beside") ? beside
                           : expected == QStringLiteral("local") ? local
                                                                 : data;
    QTRY_VERIFY(run.listeningPorts().contains(wanted));
    run.terminate();
    QVERIFY(run.finish());
}

void StartupProcessTest::portFromWorkspace_data()
{
    QTest::addColumn<QJsonValue>("stored");
    QTest::addColumn<bool>("usesDefault");

    QTest::newRow("zero") << QJsonValue(0) << true;
    QTest::newRow("above range") << QJsonValue(70000) << true;
    QTest::newRow("string") << QJsonValue(QStringLiteral("x")) << true;
    QTest::newRow("free port") << QJsonValue() << false;
}

void StartupProcessTest::portFromWorkspace()
{
    QFETCH(QJsonValue, stored);
    QFETCH(bool, usesDefault);

    const quint16 port = usesDefault ? quint16(8765) : freePort();
    if (usesDefault && !portFree(port))
        QSKIP("the default MCP port is taken on this machine");
    ProgramHome home;
    const QString settings = home.workspace(QStringLiteral("settings.json"), usesDefault ? stored : QJsonValue(port));
    const QString ready = home.path(QStringLiteral("ready.json"));
    ProgramRun run(home, {QStringLiteral("--settings"), settings, QStringLiteral("--ready-file"), ready});
    QVERIFY(run.waitForFile(ready));
    QTRY_VERIFY(run.listeningPorts().contains(port));
    run.terminate();
    QVERIFY(run.finish());
}

void StartupProcessTest::busyWorkspacePortFallsBackAndIsSaved()
{
    QTcpServer holder;
    QVERIFY(holder.listen(QHostAddress::LocalHost, 0));
    const quint16 busy = holder.serverPort();

    ProgramHome home;
    const QString settings = home.workspace(QStringLiteral("settings.json"), busy);
    const QString ready = home.path(QStringLiteral("ready.json"));
    ProgramRun run(home, {QStringLiteral("--settings"), settings, QStringLiteral("--ready-file"), ready});
    QVERIFY(run.waitForFile(ready));
    QSet<quint16> ports;
    QTRY_VERIFY((ports = run.listeningPorts()).size() >= 1);
    QVERIFY(!ports.contains(busy));

    // The workspace now records the port actually taken.
    const QJsonObject saved = QJsonDocument::fromJson(readFile(settings)).object();
    const int recorded = saved.value(QStringLiteral("mcp_port")).toInt();
    QVERIFY2(ports.contains(quint16(recorded)), readFile(settings).constData());
    run.terminate();
    QVERIFY(run.finish());
}

void StartupProcessTest::busyFixedPortIsNotReplaced()
{
    QTcpServer holder;
    QVERIFY(holder.listen(QHostAddress::LocalHost, 0));
    const quint16 busy = holder.serverPort();

    ProgramHome home;
    const quint16 stored = freePort();
    const QString settings = home.workspace(QStringLiteral("settings.json"), stored);
    const QString ready = home.path(QStringLiteral("ready.json"));
    ProgramRun run(home, {QStringLiteral("--settings"), settings, QStringLiteral("--mcp-port"),
                          QString::number(busy), QStringLiteral("--ready-file"), ready});
    QVERIFY(run.waitForFile(ready));
    QVERIFY(run.running());
    // The server stays offline: no port of its own, neither the busy one nor another.
    QCOMPARE(run.listeningPorts(), QSet<quint16>());
    run.terminate();
    QVERIFY(run.finish());
}

// The skill ships beside the executable, as the built program's folder holds it,
// so an agent on this host is told where to read it.
void StartupProcessTest::usageGuideNamesTheSkillBesideTheProgram()
{
    ProgramHome home;
    const QString settings = home.workspace(QStringLiteral("settings.json"), 0);
    const QString ready = home.path(QStringLiteral("ready.json"));
    ProgramRun run(home, {QStringLiteral("--settings"), settings, QStringLiteral("--mcp-port"), QStringLiteral("0"),
                          QStringLiteral("--ready-file"), ready});
    QVERIFY(run.waitForFile(ready));
    QSet<quint16> ports;
    QTRY_VERIFY((ports = run.listeningPorts()).size() == 1);
    const quint16 port = *ports.begin();
    const QString session = initialize(port);
    QVERIFY(!session.isEmpty());
    const QJsonObject guide = callTool(port, session, QStringLiteral("read_usage_guide"))
                                  .value(QStringLiteral("result")).toObject()
                                  .value(QStringLiteral("structuredContent")).toObject();
    const QString path = guide.value(QStringLiteral("skill_path")).toString();
    QVERIFY2(path.endsWith(QStringLiteral("/skills/varnelle/SKILL.md")), qPrintable(path));
    QVERIFY(QFileInfo(path).isFile());
    QVERIFY(QFileInfo::exists(QFileInfo(path).dir().filePath(QStringLiteral("references/frame-script.md"))));
    run.terminate();
    QVERIFY(run.finish());
}

QTEST_GUILESS_MAIN(StartupProcessTest)
#include "StartupProcessTest.moc"
