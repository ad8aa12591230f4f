#include "AgentFixtures.h"

#include "ui/agents/BuiltinGuides.h"

#include <QtTest>

using namespace vn;
using vn::test::AgentHome;
using vn::test::readAll;

// The skill installed from the program's own guides is byte for byte the guide files.
class BuiltinGuidesTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void installsTheBuiltinGuides();
};

void BuiltinGuidesTest::installsTheBuiltinGuides()
{
    AgentHome home;
    const QJsonObject report = AgentSkill::install(QStringLiteral("openclaw"), home.environment(), builtinGuides());
    const QString folder = home.root() + QStringLiteral("/.openclaw/skills/varnelle");
    QCOMPARE(report.value(QStringLiteral("directory")).toString(), folder);
    const QByteArray overview = readAll(QStringLiteral(GUIDES_DIR "/SKILL.md"));
    QVERIFY(!overview.isEmpty());
    QCOMPARE(readAll(folder + QStringLiteral("/SKILL.md")), overview);
    QCOMPARE(readAll(folder + QStringLiteral("/references/frame-script.md")), readAll(QStringLiteral(GUIDES_DIR "/references/frame-script.md")));
    QCOMPARE(AgentSkill::targets(home.environment(), builtinGuides()).at(5).toObject().value(QStringLiteral("skill_state")).toString(),
             QStringLiteral("已是最新"));
}

QTEST_GUILESS_MAIN(BuiltinGuidesTest)
#include "BuiltinGuidesTest.moc"
