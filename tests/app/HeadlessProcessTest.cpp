#include "tests/app/ProgramRun.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

using namespace vn::test;

namespace {

const QByteArray codexOnly("[agents]\r\ncodex=1\r\nclaude-code=0\r\nopencode=0\r\npi=0\r\nhermes=0\r\nopenclaw=0\r\n"
                           "grok=0\r\ngemini=0\r\n");

} // namespace

class HeadlessProcessTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void modes_data();
    void modes();
    void installedSkillIsTheBuiltInGuide();
    void fullDiskKeepsTheEarlierReport_data();
    void fullDiskKeepsTheEarlierReport();
    void endsWithoutDisplay_data();
    void endsWithoutDisplay();
};

void HeadlessProcessTest::modes_data()
{
    QTest::addColumn<QStringList>("arguments"); // "REPORT" stands for the report path
    QTest::addColumn<QString>("report");        // relative to the private machine
    QTest::addColumn<int>("code");
    QTest::addColumn<QByteArray>("content");    // empty: no report file

    const QString report = QStringLiteral("out/report");
    const QString missing = QStringLiteral("missing/report");
    QTest::newRow("detection") << QStringList{QStringLiteral("--detect-skill-agents"), QStringLiteral("--skill-report"),
                                              QStringLiteral("REPORT")}
                               << report << 0 << codexOnly;
    QTest::newRow("detection wins over installation")
        << QStringList{QStringLiteral("--install-skill"), QStringLiteral("codex"), QStringLiteral("--detect-skill-agents"),
                       QStringLiteral("--skill-report"), QStringLiteral("REPORT")}
        << report << 0 << codexOnly;
    QTest::newRow("detection without report") << QStringList{QStringLiteral("--detect-skill-agents")} << report << 2
                                              << QByteArray();
    QTest::newRow("detection report not writable")
        << QStringList{QStringLiteral("--detect-skill-agents"), QStringLiteral("--skill-report"), QStringLiteral("REPORT")}
        << missing << 4 << QByteArray();
    QTest::newRow("installation of an unknown agent")
        << QStringList{QStringLiteral("--install-skill"), QStringLiteral("claude-desktop"), QStringLiteral("--skill-report"),
                       QStringLiteral("REPORT")}
        << report << 3
        << QJsonDocument(QJsonObject{{QStringLiteral("error"), QStringLiteral("暂不支持该 Agent 的本地 skill 目录")}})
               .toJson(QJsonDocument::Indented);
    QTest::newRow("installation failed, report not writable")
        << QStringList{QStringLiteral("--install-skill"), QStringLiteral("nobody"), QStringLiteral("--skill-report"),
                       QStringLiteral("REPORT")}
        << missing << 4 << QByteArray();
}

void HeadlessProcessTest::modes()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, report);
    QFETCH(int, code);
    QFETCH(QByteArray, content);

    ProgramHome home;
    home.tool(QStringLiteral("codex"));
    QDir().mkpath(home.path(QStringLiteral("out")));
    const QString reportPath = home.path(report);
    arguments.replaceInStrings(QStringLiteral("REPORT"), reportPath);
    const QString settings = home.workspace(QStringLiteral("settings.json"), 1);
    ProgramRun run(home, arguments + QStringList{QStringLiteral("--settings"), settings});
    QVERIFY(run.finish());
    QCOMPARE(run.exitCode(), code);
    if (content.isEmpty())
        QVERIFY(!QFile::exists(reportPath));
    else
        QCOMPARE(readFile(reportPath), content);
    // Without a window nothing else is touched: no skill folder for detection,
    // and the workspace stays as it was.
    QVERIFY(!QFile::exists(home.home() + QStringLiteral("/.codex/skills")));
    QCOMPARE(QJsonDocument::fromJson(readFile(settings)).object(), QJsonObject({{QStringLiteral("mcp_port"), 1}}));
}

void HeadlessProcessTest::installedSkillIsTheBuiltInGuide()
{
    ProgramHome home;
    const QString reportPath = home.path(QStringLiteral("skill.json"));
    ProgramRun run(home, {QStringLiteral("--install-skill"), QStringLiteral("codex"), QStringLiteral("--skill-report"),
                          reportPath});
    QVERIFY(run.finish());
    QCOMPARE(run.exitCode(), 0);

    const QByteArray written = readFile(reportPath);
    const QJsonObject report = QJsonDocument::fromJson(written).object();
    QCOMPARE(written, QJsonDocument(report).toJson(QJsonDocument::Indented));
    const QString folder = home.home() + QStringLiteral("/.codex/skills/varnelle");
    QCOMPARE(report.value(QStringLiteral("agent")).toString(), QStringLiteral("codex"));
    QCOMPARE(report.value(QStringLiteral("directory")).toString(), folder);
    QCOMPARE(report.value(QStringLiteral("version")).toString(), QStringLiteral("0.15.32"));
    QCOMPARE(report.value(QStringLiteral("files")).toArray(),
             QJsonArray({folder + QStringLiteral("/SKILL.md"), folder + QStringLiteral("/references/frame-script.md")}));
    QCOMPARE(readFile(folder + QStringLiteral("/SKILL.md")),
             readFile(QStringLiteral(VN_SOURCE_DIR "/mcp/guides/SKILL.md")));
    QCOMPARE(readFile(folder + QStringLiteral("/references/frame-script.md")),
             readFile(QStringLiteral(VN_SOURCE_DIR "/mcp/guides/references/frame-script.md")));
}

void HeadlessProcessTest::fullDiskKeepsTheEarlierReport_data()
{
    QTest::addColumn<QStringList>("arguments"); // "REPORT" stands for the report path
    QTest::addColumn<bool>("installedBefore");

    QTest::newRow("detection") << QStringList{QStringLiteral("--detect-skill-agents"), QStringLiteral("--skill-report"),
                                              QStringLiteral("REPORT")}
                               << false;
    QTest::newRow("installation, skill already current")
        << QStringList{QStringLiteral("--install-skill"), QStringLiteral("codex"), QStringLiteral("--skill-report"),
                       QStringLiteral("REPORT")}
        << true;
    QTest::newRow("installation of an unknown agent")
        << QStringList{QStringLiteral("--install-skill"), QStringLiteral("claude-desktop"), QStringLiteral("--skill-report"),
                       QStringLiteral("REPORT")}
        << false;
}

// Every report is far below the save file's own buffer, where only a flush
// sees that the disk refuses it: the run still ends with 4 and the report
// written by an earlier run stays.
void HeadlessProcessTest::fullDiskKeepsTheEarlierReport()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, installedBefore);
    ProgramHome home;
    home.tool(QStringLiteral("codex"));
    const QString reportPath = home.path(QStringLiteral("out/report"));
    arguments.replaceInStrings(QStringLiteral("REPORT"), reportPath);
    QDir().mkpath(home.path(QStringLiteral("out")));
    if (installedBefore) {
        // The skill files are then current and not written again.
        ProgramRun first(home, arguments);
        QVERIFY(first.finish());
        QCOMPARE(first.exitCode(), 0);
    }
    const QByteArray earlier("an earlier report\n");
    QVERIFY(!home.write(QStringLiteral("out/report"), earlier).isEmpty());

    ProgramRun run(home, arguments, programPath(), {}, 32);
    QVERIFY(run.finish());
    QCOMPARE(run.exitCode(), 4);
    QCOMPARE(readFile(reportPath), earlier);
    QCOMPARE(QDir(home.path(QStringLiteral("out"))).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("report")});
}

void HeadlessProcessTest::endsWithoutDisplay_data()
{
    QTest::addColumn<QStringList>("arguments"); // "REPORT" stands for the report path
    QTest::addColumn<int>("code");

    QTest::newRow("detection") << QStringList{QStringLiteral("--detect-skill-agents"), QStringLiteral("--skill-report"),
                                              QStringLiteral("REPORT")}
                               << 0;
    QTest::newRow("help") << QStringList{QStringLiteral("--help")} << 0;
    QTest::newRow("version") << QStringList{QStringLiteral("--version")} << 0;
    QTest::newRow("unknown option") << QStringList{QStringLiteral("--fullscreen")} << 1;
    QTest::newRow("unusable port") << QStringList{QStringLiteral("--mcp-port"), QStringLiteral("x")} << 2;
}

// Nothing names a display platform and none is there: runs that end before
// any window still answer.
void HeadlessProcessTest::endsWithoutDisplay()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, code);
    ProgramHome home;
    home.tool(QStringLiteral("codex"));
    const QString reportPath = home.path(QStringLiteral("agents.ini"));
    arguments.replaceInStrings(QStringLiteral("REPORT"), reportPath);
    QProcess process;
    QProcessEnvironment env = home.environment();
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    process.setProcessEnvironment(env);
    process.start(programPath(), arguments);
    QVERIFY(process.waitForFinished(60000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), code);
    if (arguments.contains(reportPath))
        QCOMPARE(readFile(reportPath), codexOnly);
}

QTEST_GUILESS_MAIN(HeadlessProcessTest)
#include "HeadlessProcessTest.moc"
