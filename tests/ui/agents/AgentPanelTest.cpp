// The agents settings page over a temporary home, our real MCP server and
// stand-in agent programs, driven through its buttons.

#include "AgentFixtures.h"

#include "core/Engine.h"
#include "mcp/McpServer.h"
#include "ui/agents/AgentLogo.h"
#include "ui/agents/AgentPanel.h"

#include <QCheckBox>
#include <QDialog>
#include <QFrame>
#include <QGridLayout>
#include <QJsonDocument>
#include <QLabel>
#include <QNetworkAccessManager>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

#include <memory>

using namespace vn;
using vn::test::AgentHome;
using vn::test::readAll;

namespace {

const QStringList toolIds{QStringLiteral("codex"),  QStringLiteral("claude-code"), QStringLiteral("opencode"),
                          QStringLiteral("claude-desktop"), QStringLiteral("pi"), QStringLiteral("hermes"),
                          QStringLiteral("openclaw"), QStringLiteral("grok"), QStringLiteral("gemini")};

QStringList backupsOf(const QString& path)
{
    const QFileInfo info(path);
    return QDir(info.absolutePath()).entryList({info.fileName() + QStringLiteral(".*.bak")}, QDir::Files | QDir::Hidden);
}

// A temporary home, our server and the page over both.
struct Fixture {
    AgentHome home;
    Engine engine;
    McpServer server{&engine};
    std::unique_ptr<AgentPanel> page;

    QString codexConfig() const { return home.root() + QStringLiteral("/.codex/config.toml"); }
    QString claudeConfig() const { return home.root() + QStringLiteral("/.claude.json"); }
    QString openCodeConfig() const { return home.root() + QStringLiteral("/.config/opencode/opencode.json"); }

    bool open(bool listen = true)
    {
        if (listen && !server.start(0))
            return false;
        page = std::make_unique<AgentPanel>(&server, [this] { return home.environment(); }, Theme::make(false));
        page->resize(900, 1400);
        page->show();
        return QTest::qWaitForWindowExposed(page.get());
    }

    // A compiled stand-in program installed as `name`, printing `output`.
    bool compiledTool(const QString& name, const QByteArray& output, bool hang) const
    {
        const QString path = home.bin() + QLatin1Char('/') + name;
        QDir().mkpath(home.bin());
        if (!QFile::link(QStringLiteral(FAKE_AGENT), path) || home.write(path + QStringLiteral(".out"), output).isEmpty())
            return false;
        return !hang || !home.write(path + QStringLiteral(".hang"), "1").isEmpty();
    }

    QFrame* card(const QString& id) const
    {
        for (QFrame* frame : page->findChildren<QFrame*>(QStringLiteral("agentCard"))) {
            if (frame->property("agentId").toString() == id)
                return frame;
        }
        return nullptr;
    }
    QLabel* state(const QString& id) const { return card(id)->findChild<QLabel*>(QStringLiteral("muted")); }
    QLabel* detail(const QString& id) const
    {
        for (QLabel* label : card(id)->findChildren<QLabel*>()) {
            if (label->objectName().isEmpty())
                return label;
        }
        return nullptr;
    }
    AgentLogo* logo(const QString& id) const
    {
        return dynamic_cast<AgentLogo*>(card(id)->findChild<QLabel*>(QStringLiteral("agentLogo")));
    }
    QPushButton* button(const QString& name) const { return page->findChild<QPushButton*>(name); }
    QLabel* summary() const
    {
        for (QLabel* label : page->findChildren<QLabel*>(QStringLiteral("muted"))) {
            if (label->parentWidget() == page.get() && !label->text().startsWith(QStringLiteral("配置前备份")))
                return label;
        }
        return nullptr;
    }

    void click(const QString& name) const { QTest::mouseClick(button(name), Qt::LeftButton); }
};

QDialog* openSkillDialog(QWidget* page)
{
    return page->findChild<QDialog*>(QStringLiteral("agentSkillDialog"));
}

} // namespace

class AgentPanelTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void cardsWithNothingInstalled()
    {
        Fixture f;
        QVERIFY(f.open());
        const QList<QFrame*> frames = f.page->findChildren<QFrame*>(QStringLiteral("agentCard"));
        QCOMPARE(frames.size(), 9);
        auto* grid = qobject_cast<QGridLayout*>(f.page->findChild<QWidget*>(QStringLiteral("agentGrid"))->layout());
        for (int i = 0; i < toolIds.size(); ++i) {
            const QString& id = toolIds[i];
            QVERIFY2(f.card(id), qPrintable(id));
            int row = -1, column = -1, rows = 0, columns = 0;
            grid->getItemPosition(grid->indexOf(f.card(id)), &row, &column, &rows, &columns);
            QCOMPARE(row, i / 2);
            QCOMPARE(column, i % 2);
            QCOMPARE(f.state(id)->text(), QStringLiteral("未检测到安装"));
            QCOMPARE(f.state(id)->toolTip(), QString());
            QVERIFY(!f.detail(id)->isVisible());
            QVERIFY(!f.button(QStringLiteral("configure_") + id)->isEnabled());
            QCOMPARE(f.button(QStringLiteral("configure_") + id)->toolTip(), QStringLiteral("安装后重新检测"));
            QVERIFY(!f.button(QStringLiteral("check_") + id)->isEnabled());
            QCOMPARE(f.button(QStringLiteral("check_") + id)->toolTip(), QStringLiteral("安装后才可检查配置"));
            QCOMPARE(f.logo(id)->size(), QSize(34, 34));
        }
        QVERIFY(!f.button(QStringLiteral("updateAllAgents"))->isEnabled());
        QCOMPARE(f.button(QStringLiteral("agentScan"))->toolTip(), QStringLiteral("检测到 0 / 9 个 Agent"));
        QVERIFY(!f.summary()->isVisible());

        // A tool installed later shows after "重新检测", with one update signal.
        QSignalSpy updated(f.page.get(), &AgentPanel::configurationUpdated);
        const QString codex = f.home.tool(QStringLiteral("codex"));
        f.click(QStringLiteral("agentScan"));
        QCOMPARE(updated.count(), 1);
        QCOMPARE(f.state(QStringLiteral("codex"))->text(), QStringLiteral("已安装"));
        QCOMPARE(f.state(QStringLiteral("codex"))->toolTip(), codex);
        QVERIFY(f.button(QStringLiteral("configure_codex"))->isEnabled());
        QCOMPARE(f.button(QStringLiteral("configure_codex"))->toolTip(), QStringLiteral("保存并检查：") + f.codexConfig());
        QCOMPARE(f.button(QStringLiteral("check_codex"))->toolTip(), QStringLiteral("只读检查配置与 MCP 服务"));
        QVERIFY(f.button(QStringLiteral("updateAllAgents"))->isEnabled());
        QCOMPARE(f.button(QStringLiteral("agentScan"))->toolTip(), QStringLiteral("检测到 1 / 9 个 Agent"));
    }

    void serverNotListening()
    {
        Fixture f;
        f.home.tool(QStringLiteral("codex"));
        QVERIFY(f.open(false));
        QCOMPARE(f.state(QStringLiteral("codex"))->text(), QStringLiteral("已安装"));
        QVERIFY(!f.button(QStringLiteral("configure_codex"))->isEnabled());
        QVERIFY(!f.button(QStringLiteral("check_codex"))->isEnabled());
        QVERIFY(!f.button(QStringLiteral("updateAllAgents"))->isEnabled());
        // The read-only check still runs; the skill dialog still works.
        QCOMPARE(f.detail(QStringLiteral("codex"))->text(), QStringLiteral("尚未配置"));
        f.click(QStringLiteral("configureAgentSkills"));
        QVERIFY(openSkillDialog(f.page.get()));
        QTRY_VERIFY(openSkillDialog(f.page.get())->isVisible());
    }

    void checkTexts_data()
    {
        QTest::addColumn<QByteArray>("content"); // "%URL%" stands for the server's address
        QTest::addColumn<bool>("exists");
        QTest::addColumn<QString>("expected");
        QTest::newRow("no file") << QByteArray() << false << QStringLiteral("尚未配置");
        QTest::newRow("our entry") << QByteArray("[mcp_servers.varnelle]\nurl = \"%URL%\"\nenabled = true\n") << true
                                   << QStringLiteral("配置地址一致");
        QTest::newRow("another address")
            << QByteArray("[mcp_servers.varnelle]\nurl = \"http://127.0.0.1:1/mcp\"\nenabled = true\n") << true
            << QStringLiteral("需要更新配置");
        QTest::newRow("not UTF-8") << QByteArray("model = \"\xff\xfe\"\n") << true
                                   << QStringLiteral("检查未完成：配置文件不是有效的 UTF-8 文本，未修改文件：%CONFIG%");
    }

    void checkTexts()
    {
        QFETCH(QByteArray, content);
        QFETCH(bool, exists);
        QFETCH(QString, expected);
        Fixture f;
        f.home.tool(QStringLiteral("codex"));
        QVERIFY(f.server.start(0));
        if (exists)
            QVERIFY(!f.home.write(f.codexConfig(), QByteArray(content).replace("%URL%", f.server.url().toUtf8())).isEmpty());
        const QByteArray before = readAll(f.codexConfig());
        const QDateTime modified = QFileInfo(f.codexConfig()).lastModified();
        QVERIFY(f.open(false));
        expected.replace(QStringLiteral("%CONFIG%"), f.codexConfig());
        QLabel* detail = f.detail(QStringLiteral("codex"));
        QCOMPARE(detail->text(), expected);
        QCOMPARE(detail->textFormat(), Qt::PlainText);

        // "检查" proves the server first, then reads; it writes nothing.
        QSignalSpy updated(f.page.get(), &AgentPanel::configurationUpdated);
        f.click(QStringLiteral("check_codex"));
        QCOMPARE(detail->text(), QStringLiteral("正在检查 MCP 服务…"));
        QTRY_COMPARE(updated.count(), 2);
        if (expected.startsWith(QStringLiteral("检查未完成：")))
            QCOMPARE(detail->text(), QStringLiteral("未完成：") + expected.mid(6));
        else
            QCOMPARE(detail->text(), expected + QStringLiteral("；MCP 服务检查通过"));
        QCOMPARE(QFileInfo::exists(f.codexConfig()), exists);
        QCOMPARE(readAll(f.codexConfig()), before);
        QCOMPARE(QFileInfo(f.codexConfig()).lastModified(), modified);
        QVERIFY(backupsOf(f.codexConfig()).isEmpty());
    }

    void configureWithBackup()
    {
        Fixture f;
        f.home.tool(QStringLiteral("claude"));
        const QByteArray original = "{\n  // the user's own notes\n  \"mcpServers\": {\"other\": {\"url\": \"x\"}}\n}\n";
        f.home.write(f.claudeConfig(), original);
        QVERIFY(f.open());
        QCOMPARE(f.detail(QStringLiteral("claude-code"))->text(), QStringLiteral("需要更新配置"));

        QSignalSpy updated(f.page.get(), &AgentPanel::configurationUpdated);
        f.click(QStringLiteral("configure_claude-code"));
        QCOMPARE(updated.count(), 1);
        QTRY_COMPARE(updated.count(), 2);
        QLabel* detail = f.detail(QStringLiteral("claude-code"));
        QCOMPARE(detail->text(), QStringLiteral("配置已保存，文件校验通过。请重载客户端配置。\n") + f.claudeConfig());

        const QByteArray written = readAll(f.claudeConfig());
        QVERIFY(written.contains("// the user's own notes"));
        QVERIFY(written.contains("\"other\""));
        QVERIFY(written.contains(f.server.url().toUtf8()));
        const QStringList backups = backupsOf(f.claudeConfig());
        QCOMPARE(backups.size(), 1);
        QCOMPARE(readAll(QFileInfo(f.claudeConfig()).absolutePath() + QLatin1Char('/') + backups.first()), original);

        // Our server's session from the probe is closed again.
        QTRY_VERIFY(f.server.sessions.isEmpty());
        f.click(QStringLiteral("check_claude-code"));
        QTRY_COMPARE(updated.count(), 4);
        QCOMPARE(detail->text(), QStringLiteral("配置地址一致；MCP 服务检查通过"));
    }

    void updateAllCountsSuccessesAndFailures()
    {
        Fixture f;
        f.home.tool(QStringLiteral("codex"));
        f.home.tool(QStringLiteral("claude"));
        f.home.write(f.claudeConfig(), "{ \"mcpServers\": ");
        QVERIFY(f.open());
        QSignalSpy updated(f.page.get(), &AgentPanel::configurationUpdated);
        f.click(QStringLiteral("updateAllAgents"));
        QCOMPARE(f.summary()->text(), QStringLiteral("正在检查 MCP 服务…"));
        QVERIFY(f.summary()->isVisible());
        QTRY_COMPARE(updated.count(), 2);
        QCOMPARE(f.summary()->text(), QStringLiteral("更新完成：1 成功，1 失败，7 未安装跳过。请重载 Agent 配置。"));
        QVERIFY(f.detail(QStringLiteral("codex"))->text().startsWith(QStringLiteral("配置已保存，文件校验通过。")));
        QVERIFY2(f.detail(QStringLiteral("claude-code"))->text().startsWith(QStringLiteral("未完成：")),
                 qPrintable(f.detail(QStringLiteral("claude-code"))->text()));
        QVERIFY(readAll(f.codexConfig()).contains(f.server.url().toUtf8()));
        QCOMPARE(readAll(f.claudeConfig()), QByteArray("{ \"mcpServers\": "));
        QVERIFY(!f.detail(QStringLiteral("gemini"))->isVisible());
    }

    void toolGoneBeforeTheClick()
    {
        Fixture f;
        const QString codex = f.home.tool(QStringLiteral("codex"));
        QVERIFY(f.open());
        QVERIFY(QFile::remove(codex));
        QSignalSpy updated(f.page.get(), &AgentPanel::configurationUpdated);
        f.click(QStringLiteral("configure_codex"));
        QCOMPARE(updated.count(), 1);
        QCOMPARE(f.state(QStringLiteral("codex"))->text(), QStringLiteral("未检测到安装"));
        QVERIFY(!f.detail(QStringLiteral("codex"))->isVisible());
        QVERIFY(!f.button(QStringLiteral("configure_codex"))->isEnabled());
        QVERIFY(!QFileInfo::exists(f.codexConfig()));
        QCOMPARE(f.page->findChildren<QNetworkAccessManager*>().size(), 0);
    }

    void busyWhileTheVersionIsRead()
    {
        // An OpenCode CLI that hangs keeps the action pending for its 2000 ms.
        Fixture f;
        f.home.tool(QStringLiteral("codex"));
        QVERIFY(f.compiledTool(QStringLiteral("opencode"), "opencode 2.0.0\n", true));
        QVERIFY(f.open());
        const quint16 before = f.server.serverPort();
        QSignalSpy updated(f.page.get(), &AgentPanel::configurationUpdated);
        f.click(QStringLiteral("configure_codex"));
        QCOMPARE(updated.count(), 1);
        QCOMPARE(f.detail(QStringLiteral("codex"))->text(), QStringLiteral("正在检查 MCP 服务…"));

        // Every other action and a port change wait until the result is shown.
        f.click(QStringLiteral("agentScan"));
        f.click(QStringLiteral("check_opencode"));
        f.click(QStringLiteral("updateAllAgents"));
        QVERIFY(f.server.changePort(0));
        QVERIFY(f.server.serverPort() != before);
        QCOMPARE(updated.count(), 1);
        QVERIFY(!f.summary()->isVisible());
        QCOMPARE(f.detail(QStringLiteral("opencode"))->text(), QStringLiteral("尚未配置"));

        QTRY_COMPARE_WITH_TIMEOUT(updated.count(), 2, 15000);
        QVERIFY(f.detail(QStringLiteral("codex"))->text().startsWith(QStringLiteral("配置已保存，文件校验通过。")));
        // The probe read the address when it started, after the move.
        QVERIFY(readAll(f.codexConfig()).contains(f.server.url().toUtf8()));
        f.click(QStringLiteral("agentScan"));
        QCOMPARE(updated.count(), 3);
    }

    void portMovedDuringTheProbe()
    {
        Fixture f;
        f.home.tool(QStringLiteral("codex"));
        QVERIFY(f.open());
        QSignalSpy updated(f.page.get(), &AgentPanel::configurationUpdated);
        f.click(QStringLiteral("configure_codex"));
        QCOMPARE(f.detail(QStringLiteral("codex"))->text(), QStringLiteral("正在检查 MCP 服务…"));
        QVERIFY(f.server.changePort(0));
        QCOMPARE(updated.count(), 1);
        QTRY_COMPARE(updated.count(), 2);
        QCOMPARE(f.detail(QStringLiteral("codex"))->text(), QStringLiteral("MCP 端口已改变，请重新检查"));
        QVERIFY(!QFileInfo::exists(f.codexConfig()));

        // The next click works on the new address.
        f.click(QStringLiteral("configure_codex"));
        QTRY_COMPARE(updated.count(), 4);
        QVERIFY(readAll(f.codexConfig()).contains(f.server.url().toUtf8()));
    }

    void pageClosedWhileAnActionWaits()
    {
        Fixture f;
        f.home.tool(QStringLiteral("codex"));
        QVERIFY(f.compiledTool(QStringLiteral("opencode"), "2.0.0\n", true));
        QVERIFY(f.open());
        f.click(QStringLiteral("configure_codex"));
        QVERIFY(f.page->findChild<QProcess*>());
        f.page.reset();
        QCoreApplication::processEvents();
        QVERIFY(!QFileInfo::exists(f.codexConfig()));
    }

    void openCodeLayoutFollowsItsVersion_data()
    {
        QTest::addColumn<QByteArray>("output");
        QTest::addColumn<bool>("script");
        QTest::addColumn<bool>("v2");
        QTest::newRow("major 1") << QByteArray("1.14.0\n") << false << false;
        QTest::newRow("major 2") << QByteArray("opencode v2.3.1\n") << false << true;
        QTest::newRow("no version") << QByteArray("opencode\n") << false << false;
        QTest::newRow("script is not run") << QByteArray("2.0.0\n") << true << false;
    }

    void openCodeLayoutFollowsItsVersion()
    {
        QFETCH(QByteArray, output);
        QFETCH(bool, script);
        QFETCH(bool, v2);
        Fixture f;
        if (script) {
            const QString path = f.home.write(f.home.bin() + QStringLiteral("/opencode"), "#!/bin/sh\necho " + output);
            QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        } else {
            QVERIFY(f.compiledTool(QStringLiteral("opencode"), output, false));
        }
        QVERIFY(f.open());
        QSignalSpy updated(f.page.get(), &AgentPanel::configurationUpdated);
        f.click(QStringLiteral("configure_opencode"));
        QTRY_COMPARE_WITH_TIMEOUT(updated.count(), 2, 10000);
        QVERIFY2(f.detail(QStringLiteral("opencode"))->text().startsWith(QStringLiteral("配置已保存")),
                 qPrintable(f.detail(QStringLiteral("opencode"))->text()));
        const QJsonObject mcp = QJsonDocument::fromJson(readAll(f.openCodeConfig())).object().value(QStringLiteral("mcp")).toObject();
        const QJsonObject entry = v2 ? mcp.value(QStringLiteral("servers")).toObject().value(QStringLiteral("varnelle")).toObject()
                                     : mcp.value(QStringLiteral("varnelle")).toObject();
        QVERIFY2(!entry.isEmpty(), readAll(f.openCodeConfig()).constData());
        QCOMPARE(mcp.contains(QStringLiteral("servers")), v2);
    }

    void skillInstallation()
    {
        Fixture f;
        f.home.tool(QStringLiteral("codex"));
        f.home.tool(QStringLiteral("claude"));
        QVERIFY(f.open());
        f.click(QStringLiteral("configureAgentSkills"));
        QDialog* dialog = openSkillDialog(f.page.get());
        QVERIFY(dialog);
        QTRY_VERIFY(dialog->isVisible());
        QCOMPARE(dialog->windowTitle(), QStringLiteral("配置 Agent skill"));
        QVERIFY(dialog->findChild<QWidget*>(QStringLiteral("dialogContentScroll")));

        auto* codex = dialog->findChild<QCheckBox*>(QStringLiteral("skill_codex"));
        auto* claude = dialog->findChild<QCheckBox*>(QStringLiteral("skill_claude-code"));
        auto* gemini = dialog->findChild<QCheckBox*>(QStringLiteral("skill_gemini"));
        auto* install = dialog->findChild<QPushButton*>(QStringLiteral("installSelectedSkills"));
        QVERIFY(codex && claude && gemini && install);
        QCOMPARE(dialog->findChildren<QCheckBox*>().size(), 8);
        QVERIFY(codex->isChecked());
        QVERIFY(claude->isChecked());
        QVERIFY(!gemini->isChecked());
        QLabel* codexState = dialog->findChild<QLabel*>(QStringLiteral("skillState_codex"));
        QCOMPARE(codexState->text(), QStringLiteral("已检测到 · 未安装"));
        QCOMPARE(dialog->findChild<QLabel*>(QStringLiteral("skillState_gemini"))->text(), QStringLiteral("未检测到 · 未安装"));

        // The install button follows the boxes.
        QVERIFY(install->isEnabled());
        codex->setChecked(false);
        QVERIFY(install->isEnabled());
        claude->setChecked(false);
        QVERIFY(!install->isEnabled());
        codex->setChecked(true);
        QVERIFY(install->isEnabled());

        QSignalSpy updated(f.page.get(), &AgentPanel::configurationUpdated);
        QTest::mouseClick(install, Qt::LeftButton);
        QCOMPARE(codexState->text(), QStringLiteral("已更新 · 0 个备份 · 请重载 Agent"));
        const QString skill = f.home.root() + QStringLiteral("/.codex/skills/varnelle/SKILL.md");
        QVERIFY(QFileInfo::exists(skill));
        QVERIFY(!QFileInfo::exists(f.home.root() + QStringLiteral("/.claude/skills/varnelle/SKILL.md")));

        // A changed file is backed up before it is replaced.
        f.home.write(skill, "changed by the user\n");
        QTest::mouseClick(install, Qt::LeftButton);
        QCOMPARE(codexState->text(), QStringLiteral("已更新 · 1 个备份 · 请重载 Agent"));
        QCOMPARE(updated.count(), 0);

        // A failure shows in the row concerned: the skill folder is a link.
        QVERIFY(QDir().mkpath(f.home.root() + QStringLiteral("/elsewhere")));
        QVERIFY(QDir().mkpath(f.home.root() + QStringLiteral("/.claude/skills")));
        QVERIFY(QFile::link(f.home.root() + QStringLiteral("/elsewhere"),
                            f.home.root() + QStringLiteral("/.claude/skills/varnelle")));
        claude->setChecked(true);
        QTest::mouseClick(install, Qt::LeftButton);
        QVERIFY2(dialog->findChild<QLabel*>(QStringLiteral("skillState_claude-code"))->text().startsWith(QStringLiteral("未完成：")),
                 qPrintable(dialog->findChild<QLabel*>(QStringLiteral("skillState_claude-code"))->text()));
        QCOMPARE(codexState->text(), QStringLiteral("已更新 · 0 个备份 · 请重载 Agent"));

        QPointer<QDialog> guard(dialog);
        QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("closeSkillDialog")), Qt::LeftButton);
        QTRY_VERIFY(guard.isNull());
    }

    void logosFollowThePalette()
    {
        Fixture f;
        QVERIFY(f.open());
        auto colours = [](const QPixmap& pixmap) {
            QSet<QRgb> found;
            const QImage image = pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
            for (int y = 0; y < image.height(); ++y) {
                for (int x = 0; x < image.width(); ++x) {
                    const QColor colour = image.pixelColor(x, y);
                    if (colour.alpha() > 0)
                        found.insert(colour.rgb());
                }
            }
            return found;
        };
        for (const bool dark : {false, true, false}) {
            QPalette palette = f.page->palette();
            palette.setColor(QPalette::WindowText, dark ? QColor(0xee, 0xee, 0xee) : QColor(0x22, 0x22, 0x22));
            f.page->setPalette(palette);
            QCOMPARE(f.logo(QStringLiteral("opencode"))->drawnName(),
                     dark ? QStringLiteral("opencode-dark.svg") : QStringLiteral("opencode.svg"));
            QCOMPARE(f.logo(QStringLiteral("hermes"))->drawnName(),
                     dark ? QStringLiteral("hermes-dark.svg") : QStringLiteral("hermes.svg"));
            QCOMPARE(f.logo(QStringLiteral("gemini"))->drawnName(), QStringLiteral("gemini.svg"));
            for (const QString& mono : {QStringLiteral("codex"), QStringLiteral("grok")}) {
                const QSet<QRgb> found = colours(f.logo(mono)->pixmap());
                QCOMPARE(found, QSet<QRgb>{dark ? qRgb(255, 255, 255) : qRgb(0, 0, 0)});
            }
            QVERIFY(colours(f.logo(QStringLiteral("claude-code"))->pixmap()).contains(Theme::make(false).accent.rgb()));
        }
        // Every tool has a mark of its own.
        QSet<QByteArray> marks;
        for (const QString& id : toolIds) {
            const QImage image = f.logo(id)->pixmap().toImage();
            QVERIFY2(colours(f.logo(id)->pixmap()).size() > 0, qPrintable(id));
            marks.insert(QByteArray(reinterpret_cast<const char*>(image.constBits()), image.sizeInBytes()));
        }
        QCOMPARE(marks.size(), 8); // the two Claude tools share one
    }
};

QTEST_MAIN(AgentPanelTest)
#include "AgentPanelTest.moc"
