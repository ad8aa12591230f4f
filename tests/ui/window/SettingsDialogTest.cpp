// The settings dialog of a window over a real engine and a real MCP server on
// a free port: one dialog per window, its geometry across runs, the port and
// access switches as an agent sees them over HTTP, the AI-control switch,
// theme and data font, and the call log of real tool calls.

#include "core/Channel.h"
#include "core/Engine.h"
#include "mcp/McpServer.h"
#include "tests/mcp/HttpClient.h"
#include "tests/support/TestSupport.h"
#include "ui/agents/AgentEnvironment.h"
#include "ui/kit/IconButton.h"
#include "ui/kit/Theme.h"
#include "ui/window/SettingsDialog.h"

#include "WorkspaceFixture.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QFontDialog>
#include <QJsonArray>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QTabBar>
#include <QTabWidget>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <algorithm>
#include <functional>
#include <memory>

using namespace vn;
using vn::test::WorkspaceFixture;

namespace {

const QString PortSaved =
    QStringLiteral("端口已生效并保存。点击「一键更新已安装 Agent」同步配置；串口连接与数据继续保留。");

QJsonArray listConnections(quint16 port, const QString& session)
{
    const QJsonObject reply = vn::test::callTool(port, session, QStringLiteral("list_connections"));
    return reply.value("result").toObject().value("structuredContent").toObject().value("result").toArray();
}

void typeInto(QSpinBox* box, int value)
{
    box->setFocus();
    box->selectAll();
    QTest::keyClicks(box, QString::number(value));
}

} // namespace

class SettingsDialogTest : public QObject {
    Q_OBJECT

    QTemporaryDir home; // agent discovery looks at an empty home, never the user's
    std::unique_ptr<WorkspaceFixture> fixture;
    Window* window = nullptr;

    Window* openWindow()
    {
        window = fixture->open();
        window->agentEnvironment = [path = home.path()]() { return vn::test::agentsAt(path); };
        window->show();
        return window;
    }

    QDialog* openDialog(Window* target = nullptr)
    {
        Window* owner = target ? target : window;
        owner->openSettings();
        return owner->settingsDialog();
    }

    template <typename T>
    T* control(const QString& name, Window* target = nullptr)
    {
        QDialog* dialog = (target ? target : window)->settingsDialog();
        return dialog ? dialog->findChild<T*>(name) : nullptr;
    }

    void click(QAbstractButton* button)
    {
        QVERIFY(button);
        // A check box answers only over its mark and text, not its whole row.
        const QPoint point = qobject_cast<QCheckBox*>(button) ? QPoint(button->height() / 2, button->height() / 2)
                                                             : button->rect().center();
        QTest::mouseClick(button, Qt::LeftButton, {}, point);
    }

    quint16 port() const { return fixture->server.serverPort(); }

    QPushButton* doneButton()
    {
        const auto buttons = window->settingsDialog()->findChildren<QPushButton*>(QStringLiteral("primary"));
        for (QPushButton* each : buttons) {
            if (each->text() == QStringLiteral("完成"))
                return each;
        }
        return nullptr;
    }

    // Opens the dialog on its "AI / MCP" page, as the user would by clicking its tab.
    void openMcpPage(Window* target = nullptr)
    {
        openDialog(target);
        auto* pages = control<QTabWidget>(QStringLiteral("settingsPages"), target);
        QTabBar* bar = pages->tabBar();
        QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(1).center());
        QCOMPARE(pages->currentIndex(), 1);
    }

    // Runs `answer` on the modal dialog that the next action opens.
    void answerModal(const std::function<void(QWidget*)>& answer)
    {
        auto* poll = new QTimer(this);
        connect(poll, &QTimer::timeout, this, [poll, answer]() {
            if (QWidget* modal = QApplication::activeModalWidget()) {
                poll->deleteLater();
                poll->stop();
                answer(modal);
            }
        });
        poll->start(10);
    }

private Q_SLOTS:
    void init()
    {
        fixture = std::make_unique<WorkspaceFixture>();
        QVERIFY(fixture->server.start(0));
        openWindow();
    }

    void cleanup()
    {
        fixture.reset();
        window = nullptr;
    }

    void oneDialogPerWindow()
    {
        auto* gear = window->findChild<IconButton*>(QStringLiteral("settingsButton"));
        click(gear);
        QDialog* dialog = window->settingsDialog();
        QVERIFY(dialog);
        QVERIFY(qobject_cast<SettingsDialog*>(dialog));
        QVERIFY(dialog->isVisible());
        QCOMPARE(dialog->windowTitle(), QStringLiteral("设置"));
        auto* pages = control<QTabWidget>(QStringLiteral("settingsPages"));
        QCOMPARE(pages->count(), 4);
        QCOMPARE(pages->tabText(1), QStringLiteral("AI / MCP"));
        QCOMPARE(control<QTabWidget>(QStringLiteral("mcpPages"))->currentIndex(), 1);

        // Closed and opened again: the same dialog, as it was left.
        pages->setCurrentIndex(2);
        click(doneButton());
        QVERIFY(!dialog->isVisible());
        click(gear);
        QCOMPARE(window->settingsDialog(), dialog);
        QVERIFY(dialog->isVisible());
        QCOMPARE(pages->currentIndex(), 2);
        QCOMPARE(window->findChildren<SettingsDialog*>().size(), 1);

        // Another window has a dialog of its own.
        auto* torn = new Window(&fixture->engine, &fixture->server, fixture->path, window);
        torn->agentEnvironment = window->agentEnvironment;
        QDialog* other = openDialog(torn);
        QVERIFY(other && other != dialog);
        QCOMPARE(window->findChildren<SettingsDialog*>().size(), 2); // the torn-off window is the root's child
    }

    void geometryKept_data()
    {
        QTest::addColumn<bool>("byDoneButton");
        QTest::newRow("完成") << true;
        QTest::newRow("close key") << false;
    }

    void geometryKept()
    {
        QFETCH(bool, byDoneButton);
        QDialog* dialog = openDialog();
        QCOMPARE(dialog->size(), QSize(920, 680));
        dialog->resize(640, 430);
        if (byDoneButton)
            click(doneButton());
        else
            QTest::keyClick(dialog, Qt::Key_Escape);
        QVERIFY(!dialog->isVisible());
        const QString stored = fixture->fileObject().value("settings_geometry").toString();
        QVERIFY(!stored.isEmpty());
        QVERIFY(!QByteArray::fromBase64(stored.toLatin1()).isEmpty());

        // The next run opens the dialog where it was left.
        fixture->window.reset();
        openWindow();
        QCOMPARE(openDialog()->size(), QSize(640, 430));
    }

    void unreadableGeometryLeavesInitialSize()
    {
        fixture->window.reset();
        fixture->writeFile(QJsonObject{{"settings_geometry", "not a geometry at all"}});
        openWindow();
        QCOMPARE(openDialog()->size(), QSize(920, 680));
        QCOMPARE(control<QSpinBox>(QStringLiteral("mcpPort"))->value(), int(port()));
    }

    void portOfTheWorkspaceWhileTheServerIsDown()
    {
        fixture->window.reset();
        fixture->server.close();
        fixture->writeFile(QJsonObject{{"mcp_port", 9123}});
        openWindow();
        openMcpPage();
        QCOMPARE(control<QSpinBox>(QStringLiteral("mcpPort"))->value(), 9123);
        QCOMPARE(control<QLineEdit>(QStringLiteral("mcpAddress"))->text(), QStringLiteral("http://127.0.0.1:0/mcp"));
    }

    void releaseHistoryNotFetchedInHeadlessRuns()
    {
        openDialog();
        auto* pages = control<QTabWidget>(QStringLiteral("settingsPages"));
        QTabBar* bar = pages->tabBar();
        auto* status = control<QLabel>(QStringLiteral("releaseHistoryStatus"));
        const QString bundled = status->text();
        for (int visit = 0; visit < 2; ++visit) {
            QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(3).center());
            QCOMPARE(pages->currentWidget()->objectName(), QStringLiteral("releaseHistoryScroll"));
            QCOMPARE(status->text(), bundled);
            QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(2).center());
        }
    }

    void releaseFetchRule_data()
    {
        QTest::addColumn<QString>("platform");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("fetch");
        QTest::newRow("desktop") << "xcb" << QStringList{"varnelle", "--demo"} << true;
        QTest::newRow("offscreen") << "offscreen" << QStringList{"varnelle"} << false;
        QTest::newRow("screenshot") << "xcb" << QStringList{"varnelle", "--screenshot", "a.png"} << false;
    }

    void releaseFetchRule()
    {
        QFETCH(QString, platform);
        QFETCH(QStringList, arguments);
        QFETCH(bool, fetch);
        QCOMPARE(mayFetchReleases(platform, arguments), fetch);
    }

    void portApplied_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("typed free port") << QStringLiteral("typed");
        QTest::newRow("the port already taken by us") << QStringLiteral("same");
        QTest::newRow("自动选空闲") << QStringLiteral("system");
    }

    void portApplied()
    {
        QFETCH(QString, how);
        openMcpPage();
        auto* box = control<QSpinBox>(QStringLiteral("mcpPort"));
        auto* address = control<QLineEdit>(QStringLiteral("mcpAddress"));
        auto* result = control<QLabel>(QStringLiteral("mcpPortResult"));
        QCOMPARE(box->value(), int(port()));
        QCOMPARE(address->text(), fixture->server.url());
        QVERIFY(!result->isVisible());

        const quint16 before = port();
        quint16 wanted = before;
        if (how == QLatin1String("typed")) {
            wanted = vn::test::freeTcpPort();
            typeInto(box, wanted);
            click(control<QPushButton>(QStringLiteral("applyMcpPort")));
        } else if (how == QLatin1String("same")) {
            click(control<QPushButton>(QStringLiteral("applyMcpPort")));
        } else {
            click(control<QPushButton>(QStringLiteral("availableMcpPort")));
            wanted = port();
            QVERIFY(wanted != before);
        }
        QVERIFY(fixture->server.isListening());
        QCOMPARE(port(), wanted);
        QCOMPARE(box->value(), int(wanted));
        QCOMPARE(address->text(), QStringLiteral("http://127.0.0.1:%1/mcp").arg(wanted));
        QVERIFY(result->isVisible());
        QCOMPARE(result->text(), PortSaved);
        QCOMPARE(fixture->fileObject().value("mcp_port").toInt(), int(wanted));
        QVERIFY(!vn::test::initialize(wanted).isEmpty());
        click(control<QPushButton>(QStringLiteral("copyMcpAddress")));
        QCOMPARE(QApplication::clipboard()->text(), fixture->server.url());

        // A change made elsewhere shows here too.
        const quint16 later = vn::test::freeTcpPort();
        QVERIFY(fixture->server.changePort(later));
        QCOMPARE(box->value(), int(later));
        QCOMPARE(address->text(), QStringLiteral("http://127.0.0.1:%1/mcp").arg(later));
    }

    void portTakenKeepsTheOldPort()
    {
        openMcpPage();
        click(control<QPushButton>(QStringLiteral("availableMcpPort"))); // writes the file once
        const quint16 before = port();
        QTcpServer holder;
        QVERIFY(holder.listen(QHostAddress::LocalHost, 0));

        auto* box = control<QSpinBox>(QStringLiteral("mcpPort"));
        typeInto(box, holder.serverPort());
        click(control<QPushButton>(QStringLiteral("applyMcpPort")));

        auto* result = control<QLabel>(QStringLiteral("mcpPortResult"));
        QVERIFY(result->isVisible());
        QVERIFY(result->text().startsWith(QStringLiteral("端口 %1 已占用或不可用：").arg(holder.serverPort())));
        QCOMPARE(result->text(), fixture->server.lastError);
        QCOMPARE(port(), before);
        QVERIFY(fixture->server.isListening());
        QCOMPARE(control<QLineEdit>(QStringLiteral("mcpAddress"))->text(), fixture->server.url());
        QCOMPARE(fixture->fileObject().value("mcp_port").toInt(), int(before));
        QVERIFY(!vn::test::initialize(before).isEmpty());
    }

    void protocolSwitchClosesAccessAtOnce()
    {
        Channel* loop = fixture->engine.open(Config::fromJson({{"kind", "serial"}, {"port", "loop://"}}));
        QTRY_COMPARE(loop->state, QStringLiteral("connected"));
        const QString session = vn::test::initialize(port(), QStringLiteral("switch-test"));
        QVERIFY(!session.isEmpty());
        QCOMPARE(listConnections(port(), session).size(), 1);

        auto* torn = new Window(&fixture->engine, &fixture->server, fixture->path, window);
        torn->agentEnvironment = window->agentEnvironment;
        openMcpPage(torn);
        openMcpPage();

        auto* serial = control<QCheckBox>(QStringLiteral("mcpAccess_serial"));
        QVERIFY(serial->isChecked());
        click(serial);
        QVERIFY(!fixture->server.protocolEnabled(QStringLiteral("serial")));
        QCOMPARE(listConnections(port(), session).size(), 0);
        QCOMPARE(fixture->fileObject().value("mcp_protocols").toObject().value("serial").toBool(true), false);
        QVERIFY(!control<QCheckBox>(QStringLiteral("mcpAccess_serial"), torn)->isChecked());

        auto* ssh = control<QCheckBox>(QStringLiteral("mcpAccess_ssh"), torn);
        click(ssh);
        QVERIFY(!control<QCheckBox>(QStringLiteral("mcpAccess_ssh"))->isChecked());

        // Opened again from elsewhere: the boxes follow without acting themselves,
        // so nothing is written for it.
        fixture->server.setProtocolEnabled(QStringLiteral("serial"), true);
        QVERIFY(serial->isChecked());
        QVERIFY(control<QCheckBox>(QStringLiteral("mcpAccess_serial"), torn)->isChecked());
        QCOMPARE(fixture->fileObject().value("mcp_protocols").toObject().value("serial").toBool(true), false);
        QCOMPARE(listConnections(port(), session).size(), 1);
    }

    void aiControlSwitchSavedAndApplied()
    {
        Channel* loop = fixture->engine.open(Config::fromJson({{"kind", "serial"}, {"port", "loop://"}}));
        QTRY_COMPARE(loop->state, QStringLiteral("connected"));
        const QString session = vn::test::initialize(port());
        const QJsonObject send{{"channel_id", loop->id}, {"payload", "hi"}};
        auto sendRefused = [&]() {
            const QJsonObject reply = vn::test::callTool(port(), session, QStringLiteral("send_data"), send);
            return reply.value("result").toObject().value("isError").toBool();
        };

        openMcpPage();
        auto* box = control<QCheckBox>(QStringLiteral("allowAiControl"));
        QVERIFY(!box->isChecked());
        QVERIFY(sendRefused());
        click(box);
        QVERIFY(fixture->engine.allowAiControl);
        QCOMPARE(fixture->fileObject().value("allow_ai_control").toBool(), true);
        QVERIFY(!sendRefused());

        click(box);
        QVERIFY(!fixture->engine.allowAiControl);
        QCOMPARE(fixture->fileObject().value("allow_ai_control").toBool(), false);
        QVERIFY(sendRefused());
    }

    void themeTakesEffectAndIsSaved()
    {
        QDialog* dialog = openDialog();
        auto* choice = control<QComboBox>(QStringLiteral("themeChoice"));
        QCOMPARE(choice->currentIndex(), 0);
        choice->setFocus();
        QTest::keyClick(choice, Qt::Key_Down);
        QVERIFY(window->theme.dark);
        QCOMPARE(window->palette().color(QPalette::Window), Theme::make(true).bg);
        QCOMPARE(dialog->palette().color(QPalette::Window), Theme::make(true).bg);

        // The choice reaches the file with the next write, here the closing.
        click(doneButton());
        QCOMPARE(fixture->fileAppearance().value("theme").toString(), QStringLiteral("dark"));

        // Another window's dialog follows the palette.
        auto* torn = new Window(&fixture->engine, &fixture->server, fixture->path, window);
        torn->agentEnvironment = window->agentEnvironment;
        openDialog(torn);
        QCOMPARE(control<QComboBox>(QStringLiteral("themeChoice"), torn)->currentIndex(), 1);
        window->applyTheme(false);
        QCOMPARE(control<QComboBox>(QStringLiteral("themeChoice"), torn)->currentIndex(), 0);
        QCOMPARE(torn->settingsDialog()->palette().color(QPalette::Window), Theme::make(false).bg);
    }

    void dataFontTakesEffectAndIsSaved()
    {
        openDialog();
        auto* size = control<QSpinBox>(QStringLiteral("dataFontSize"));
        auto* family = control<QPushButton>(QStringLiteral("dataFontChoice"));
        const int start = window->dataFont.pointSize();
        QCOMPARE(size->value(), start);
        QCOMPARE(family->text(), window->dataFont.family());

        size->setFocus();
        QTest::keyClick(size, Qt::Key_Up);
        QCOMPARE(window->dataFont.pointSize(), start + 1);
        QCOMPARE(fixture->fileAppearance().value("font_size").toInt(), start + 1);

        // The font dialog: whatever it offers, the size is kept within 8..32.
        QFont offered;
        bool answered = false;
        bool chineseLabels = false;
        answerModal([&](QWidget* modal) {
            auto* dialog = qobject_cast<QFontDialog*>(modal);
            if (!dialog || dialog->objectName() != QLatin1String("dataFontDialog"))
                return;
            answered = dialog->windowTitle() == QStringLiteral("数据字体");
            // Qt's own labels of the dialog come in Chinese from Qt's translation.
            for (const QLabel* label : dialog->findChildren<QLabel*>())
                chineseLabels = chineseLabels || label->text().contains(QStringLiteral("字体"));
            QFont font = dialog->currentFont();
            font.setPointSize(40);
            dialog->setCurrentFont(font);
            offered = dialog->currentFont();
            dialog->accept();
        });
        click(family);
        QVERIFY(answered);
        QVERIFY(chineseLabels);
        const int expected = std::clamp(offered.pointSize(), 8, 32);
        QCOMPARE(window->dataFont.family(), offered.family());
        QCOMPARE(window->dataFont.pointSize(), expected);
        QCOMPARE(family->text(), offered.family());
        QCOMPARE(size->value(), expected);
        QCOMPARE(fixture->fileAppearance().value("font_size").toInt(), expected);

        click(control<QPushButton>(QStringLiteral("dataFontReset")));
        QCOMPARE(window->dataFont.family(), Theme::defaultDataFont().family());
        QCOMPARE(window->dataFont.pointSize(), Theme::defaultDataFont().pointSize());
        QCOMPARE(size->value(), Theme::defaultDataFont().pointSize());
        QCOMPARE(fixture->fileAppearance().value("font_family").toString(), Theme::defaultDataFont().family());
    }

    void callLogShowsToolCallsAsPlainText()
    {
        const QString client = QStringLiteral("<b>agent</b> & <i>co</i>");
        const QString session = vn::test::initialize(port(), client);
        QVERIFY(!session.isEmpty());
        QVERIFY(!vn::test::callTool(port(), session, QStringLiteral("get_status")).isEmpty());

        window->openAiAudit();
        QCOMPARE(control<QTabWidget>(QStringLiteral("settingsPages"))->currentIndex(), 1);
        QCOMPARE(control<QTabWidget>(QStringLiteral("mcpPages"))->currentIndex(), 2);
        auto* log = control<QTreeWidget>(QStringLiteral("callLog"));
        QVERIFY(log->isVisible());
        QTRY_COMPARE(log->topLevelItemCount(), 1);
        QTreeWidgetItem* row = log->topLevelItem(0);
        QVERIFY(QRegularExpression(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d\\.\\d{3}$")).match(row->text(0)).hasMatch());
        QCOMPARE(row->text(1), client);
        QCOMPARE(row->text(2), QStringLiteral("get_status"));
        QCOMPARE(row->text(3), QStringLiteral("成功"));

        const QRect place = log->visualItemRect(row);
        QTest::mouseClick(log->viewport(), Qt::LeftButton, {}, place.center());
        QTest::mouseDClick(log->viewport(), Qt::LeftButton, {}, place.center());
        auto* detail = window->settingsDialog()->findChild<QDialog*>(QStringLiteral("mcpCallDetail"));
        QVERIFY(detail);
        const QString text = detail->findChild<QPlainTextEdit*>()->toPlainText();
        QVERIFY(text.contains(QStringLiteral("客户端：") + client));
    }
};

QTEST_MAIN(SettingsDialogTest)
#include "SettingsDialogTest.moc"
