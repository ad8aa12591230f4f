#include "app/HeadlessModes.h"

#include "core/Fail.h"
#include "tests/ui/agents/AgentFixtures.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

using namespace vn;
using vn::test::AgentHome;
using vn::test::readAll;

namespace {

QString guide(const QString& topic)
{
    return QStringLiteral("# guide ") + topic + QLatin1Char('\n');
}

QString brokenGuide(const QString&)
{
    fail(QStringLiteral("无法读取内置使用指南"));
}

} // namespace

class HeadlessModesTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void noModeAsked();
    void detection_data();
    void detection();
    void detectionWinsOverInstallation();
    void installation_data();
    void installation();
    void environmentFailure_data();
    void environmentFailure();
};

void HeadlessModesTest::noModeAsked()
{
    AgentHome home;
    HeadlessRequest request;
    request.report = true;
    request.reportPath = home.root() + QStringLiteral("/report.json");
    QVERIFY(!runHeadlessMode(request, [&home] { return home.environment(); }, guide).has_value());
    QVERIFY(!QFile::exists(request.reportPath));
}

void HeadlessModesTest::detection_data()
{
    QTest::addColumn<bool>("report");
    QTest::addColumn<QString>("reportPath"); // relative to the home; empty: none
    QTest::addColumn<int>("code");
    QTest::addColumn<QByteArray>("content"); // empty: no file written

    const QByteArray expected("[agents]\r\ncodex=1\r\nclaude-code=0\r\nopencode=0\r\npi=0\r\nhermes=0\r\n"
                              "openclaw=0\r\ngrok=0\r\ngemini=1\r\n");
    QTest::newRow("report written") << true << "detect.ini" << 0 << expected;
    QTest::newRow("no report path") << false << QString() << 2 << QByteArray();
    QTest::newRow("report folder missing") << true << "missing/detect.ini" << 4 << QByteArray();
}

void HeadlessModesTest::detection()
{
    QFETCH(bool, report);
    QFETCH(QString, reportPath);
    QFETCH(int, code);
    QFETCH(QByteArray, content);

    AgentHome home;
    home.tool(QStringLiteral("codex"));
    home.tool(QStringLiteral("gemini"));
    HeadlessRequest request;
    request.detect = true;
    request.report = report;
    if (report)
        request.reportPath = home.root() + QLatin1Char('/') + reportPath;
    const std::optional<int> result = runHeadlessMode(request, [&home] { return home.environment(); }, guide);
    QVERIFY(result.has_value());
    QCOMPARE(*result, code);
    if (content.isEmpty()) {
        QCOMPARE(QDir(home.root()).entryList({QStringLiteral("*.ini")}, QDir::Files), QStringList());
    } else {
        QCOMPARE(readAll(request.reportPath), content);
    }
}

void HeadlessModesTest::detectionWinsOverInstallation()
{
    AgentHome home;
    HeadlessRequest request;
    request.detect = true;
    request.install = true;
    request.agent = QStringLiteral("codex");
    request.report = true;
    request.reportPath = home.root() + QStringLiteral("/report");
    QCOMPARE(runHeadlessMode(request, [&home] { return home.environment(); }, guide), std::optional<int>(0));
    QVERIFY(readAll(request.reportPath).startsWith("[agents]\r\n"));
    QVERIFY(!QFile::exists(home.root() + QStringLiteral("/.codex/skills/varnelle/SKILL.md")));
}

void HeadlessModesTest::installation_data()
{
    QTest::addColumn<QString>("agent");
    QTest::addColumn<QString>("reportPath"); // relative to the home; empty: not given
    QTest::addColumn<bool>("guideWorks");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("error"); // expected "error" member; empty: a skill report

    QTest::newRow("installed with report") << "codex" << "skill.json" << true << 0 << QString();
    QTest::newRow("installed without report") << "codex" << QString() << true << 0 << QString();
    QTest::newRow("unknown agent") << "claude-desktop" << "skill.json" << true << 3
                                   << "暂不支持该 Agent 的本地 skill 目录";
    QTest::newRow("guide unreadable") << "gemini" << "skill.json" << false << 3 << "无法读取内置使用指南";
    QTest::newRow("unknown agent, report unwritable") << "nobody" << "missing/skill.json" << true << 4 << QString();
    QTest::newRow("installed, report unwritable") << "codex" << "missing/skill.json" << true << 4 << QString();
}

void HeadlessModesTest::installation()
{
    QFETCH(QString, agent);
    QFETCH(QString, reportPath);
    QFETCH(bool, guideWorks);
    QFETCH(int, code);
    QFETCH(QString, error);

    AgentHome home;
    HeadlessRequest request;
    request.install = true;
    request.agent = agent;
    request.report = !reportPath.isEmpty();
    if (request.report)
        request.reportPath = home.root() + QLatin1Char('/') + reportPath;
    const GuideText text = guideWorks ? GuideText(guide) : GuideText(brokenGuide);
    QCOMPARE(runHeadlessMode(request, [&home] { return home.environment(); }, text), std::optional<int>(code));

    const QString skill = home.root() + QStringLiteral("/.codex/skills/varnelle/SKILL.md");
    QCOMPARE(QFile::exists(skill), agent == QStringLiteral("codex"));
    if (code == 4 || !request.report) {
        QVERIFY(!QFile::exists(request.reportPath));
        return;
    }
    const QByteArray written = readAll(request.reportPath);
    QVERIFY(written.endsWith("}\n"));
    const QJsonObject report = QJsonDocument::fromJson(written).object();
    // The report is the indented, key-sorted form of the writer.
    QCOMPARE(written, QJsonDocument(report).toJson(QJsonDocument::Indented));
    if (!error.isEmpty()) {
        QCOMPARE(report, QJsonObject({{QStringLiteral("error"), error}}));
    } else {
        QCOMPARE(report.value(QStringLiteral("agent")).toString(), agent);
        QCOMPARE(report.value(QStringLiteral("files")).toArray().first().toString(), skill);
    }
}

void HeadlessModesTest::environmentFailure_data()
{
    QTest::addColumn<bool>("detect");
    QTest::newRow("detection") << true;
    QTest::newRow("installation") << false;
}

void HeadlessModesTest::environmentFailure()
{
    QFETCH(bool, detect);
    AgentHome home;
    HeadlessRequest request;
    request.detect = detect;
    request.install = !detect;
    request.agent = QStringLiteral("codex");
    request.report = true;
    request.reportPath = home.root() + QStringLiteral("/report");
    const auto broken = []() -> AgentEnvironment { fail(QStringLiteral("环境不可读")); };
    QCOMPARE(runHeadlessMode(request, broken, guide), std::optional<int>(3));
    // Detection writes nothing on failure; installation still reports the error.
    if (detect)
        QVERIFY(!QFile::exists(request.reportPath));
    else
        QCOMPARE(QJsonDocument::fromJson(readAll(request.reportPath)).object(),
                 QJsonObject({{QStringLiteral("error"), QStringLiteral("环境不可读")}}));
}

QTEST_GUILESS_MAIN(HeadlessModesTest)
#include "HeadlessModesTest.moc"
