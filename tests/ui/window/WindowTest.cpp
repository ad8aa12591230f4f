#include "core/Channel.h"
#include "core/Engine.h"
#include "core/Version.h"
#include "mcp/McpServer.h"
#include "ui/agents/AgentEnvironment.h"
#include "ui/kit/BackgroundSurface.h"
#include "ui/kit/ConnectionBar.h"
#include "ui/kit/DetachableTabs.h"
#include "ui/kit/IconButton.h"
#include "ui/kit/StatusLed.h"
#include "ui/pages/Pane.h"
#include "ui/update/UpdateDialog.h"
#include "ui/update/UpdateService.h"
#include "ui/window/UpdateChecks.h"
#include "ui/window/Window.h"

#include <QDialog>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QShortcut>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace vn;

namespace {

// One engine, one server and a workspace file in a folder of its own.
struct Workspace {
    QTemporaryDir folder;
    Engine engine;
    McpServer server{&engine};

    QString path() const { return folder.filePath(QStringLiteral("settings.json")); }

    void write(const QJsonObject& settings) const
    {
        QFile file(path());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QJsonDocument(settings).toJson());
    }

    std::unique_ptr<Window> open() { return std::make_unique<Window>(&engine, &server, path(), nullptr); }
};

template <typename T>
T* child(QWidget* window, const char* name)
{
    return window->findChild<T*>(QLatin1String(name));
}

QTimer* timer(QObject* owner, const char* name)
{
    return owner->findChild<QTimer*>(QLatin1String(name));
}

void comparePalette(const QPalette& palette, const Theme& theme)
{
    const std::pair<QPalette::ColorRole, QColor> table[] = {
        {QPalette::Window, theme.bg},        {QPalette::Base, theme.panel},
        {QPalette::Button, theme.panel},     {QPalette::Text, theme.text},
        {QPalette::WindowText, theme.text},  {QPalette::ButtonText, theme.text},
        {QPalette::Highlight, theme.accent}, {QPalette::HighlightedText, theme.onaccent},
        {QPalette::PlaceholderText, theme.muted}, {QPalette::Mid, theme.muted},
    };
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        for (const auto& [role, colour] : table)
            QCOMPARE(palette.color(group, role), colour);
    }
}

} // namespace

class WindowTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void rootWindowShape();
    void everyWidgetIsNamed_data();
    void everyWidgetIsNamed();
    void timersOfAWindow();
    void workspaceSwitches_data();
    void workspaceSwitches();
    void savedLoopbackShowsAsNull();
    void tornOffWindowTakesTheRootsLook();
    void dataFontIsShapedForEveryWindow();
    void dockButtonReturnsThePages();
    void themeReachesEveryWindow();
    void themeReachesTornOffTabPages();
    void narrowWindowsNarrowTheSidebar();
    void statusLineReportsFailuresAndAgents();
    void settingsDialogIsKept();
    void updateButtonFollowsTheService();
    void agentEndpointsAreChecked();
    void closingTheRootEndsTheSessions();
    void backgroundsAreReadBesideTheSettings();
    void tabBarFitsItsHeader();
    void controlPagesAndTabs();
    void renameTabInPlace_data();
    void renameTabInPlace();
    void f2RenamesTheCurrentTab();
    void tabMenuEntries_data();
    void tabMenuEntries();
    void movedOverATabBarDocksBack();
    void portHelpers_data();
    void portHelpers();
    void updateChecksStayOffline_data();
    void updateChecksStayOffline();
    void updateChecksRepeatEverySixHours();
};

void WindowTest::rootWindowShape()
{
    Workspace workspace;
    auto window = workspace.open();
    QCOMPARE(window->width(), 1400);
    QCOMPARE(window->height(), std::min(960, QGuiApplication::primaryScreen()->availableGeometry().height()));
    QCOMPARE(window->minimumSize(), QSize(480, 320));
    QCOMPARE(window->windowTitle(), QStringLiteral("Varnelle · Native ") + QString::fromLatin1(Version));
    QVERIFY(!window->windowIcon().isNull());
    QCOMPARE(window->font().family(), Theme::interfaceFont().family());
    QCOMPARE(window->rootWindow(), window.get());
    QCOMPARE(window->windows.size(), 1);
    QCOMPARE(window->windows.first(), window.get());
    QVERIFY(!window->testAttribute(Qt::WA_DeleteOnClose));

    // The sidebar keeps its width while the window is wide enough.
    QCOMPARE(window->parameterWidth, 246);
    QCOMPARE(window->parameterScroll()->width(), 246);
    QVERIFY(window->parameterScroll()->widgetResizable());
    QCOMPARE(window->parameterScroll()->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);

    QCOMPARE(child<QWidget>(window.get(), "rail")->width(), 54);
    QCOMPARE(child<QWidget>(window.get(), "rail")->layout()->contentsMargins(), QMargins(9, 16, 9, 12));
    auto* sidebar = child<QFrame>(window.get(), "sidebar");
    QCOMPARE(sidebar->minimumWidth(), 200);
    QCOMPARE(sidebar->sizePolicy().horizontalPolicy(), QSizePolicy::Ignored);
    QCOMPARE(sidebar->layout()->contentsMargins(), QMargins(16, 16, 16, 16));
    QCOMPARE(sidebar->layout()->spacing(), 12);
    auto* header = child<QWidget>(window.get(), "tabHeader");
    QCOMPARE(header->height(), 49);
    QCOMPARE(header->layout()->contentsMargins(), QMargins(6, 4, 12, 0));
    QCOMPARE(child<QWidget>(window.get(), "newPage")->size(), QSize(30, 36));
    QVERIFY(child<BackgroundSurface>(window.get(), "root")->caption);

    auto* toast = child<QFrame>(window.get(), "aiToast");
    QVERIFY(toast->isHidden());
    QCOMPARE(toast->maximumWidth(), 560);
    QVERIFY(toast->property("roundedPopup").toBool());
    QCOMPARE(child<QWidget>(window.get(), "aiToastClose")->size(), QSize(24, 24));
    QCOMPARE(child<QWidget>(window.get(), "aiToastDetail")->height(), 26);

    auto* progress = child<QProgressBar>(window.get(), "updateProgress");
    QCOMPARE(progress->size(), QSize(90, 8));
    QVERIFY(progress->isHidden());
    QVERIFY(!progress->isTextVisible());
    QVERIFY(child<QPushButton>(window.get(), "updateButton")->isHidden());
    auto* version = child<QLabel>(window.get(), "currentVersionStatus");
    QCOMPARE(version->text(), QStringLiteral("v") + QString::fromLatin1(Version));
    QCOMPARE(version->toolTip(), QStringLiteral("当前运行版本：Varnelle ") + QString::fromLatin1(Version));
    QVERIFY(!window->statusBar()->isSizeGripEnabled());

    // One empty session page, selected.
    QCOMPARE(window->pages.size(), 1);
    QCOMPARE(window->current, window->pages.first());
    QVERIFY(!window->current->isControl());
    QCOMPARE(window->tabs()->tabText(0), QStringLiteral("新收发页"));
    QCOMPARE(window->stack()->currentWidget(), window->current);
    QVERIFY(window->updateService());
    QCOMPARE(window->updateService()->parent(), window.get());
}

void WindowTest::everyWidgetIsNamed_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("inRoot");
    QTest::addColumn<bool>("inTornOff");
    const std::tuple<const char*, bool, bool> rows[] = {
        {"root", true, true},           {"rail", true, true},          {"sidebar", true, true},
        {"parameterScroll", true, true}, {"parameterGrip", true, true}, {"tabHeader", true, true},
        {"newPage", true, true},        {"aiToast", true, true},       {"aiToastText", true, true},
        {"aiToastDetail", true, true},  {"aiToastAll", true, true},    {"aiToastClose", true, true},
        {"connectionLed", true, true},  {"currentVersionStatus", true, true},
        {"renameCurrentTab", true, true},
        {"updateProgress", true, false}, {"updateButton", true, false}, {"dock", false, true},
    };
    for (const auto& [name, inRoot, inTornOff] : rows)
        QTest::newRow(name) << QString::fromLatin1(name) << inRoot << inTornOff;
}

void WindowTest::everyWidgetIsNamed()
{
    QFETCH(QString, name);
    QFETCH(bool, inRoot);
    QFETCH(bool, inTornOff);
    Workspace workspace;
    auto root = workspace.open();
    QPointer<Window> torn = new Window(&workspace.engine, &workspace.server, workspace.path(), root.get());
    const auto has = [&name](Window* window) {
        const QList<QObject*> found = window->findChildren<QObject*>(name);
        // A torn-off window is the root's child: count only what it owns itself.
        return std::any_of(found.begin(), found.end(), [window](QObject* object) {
            for (QObject* up = object; up; up = up->parent()) {
                if (qobject_cast<Window*>(up))
                    return up == window;
            }
            return false;
        });
    };
    QCOMPARE(has(root.get()), inRoot);
    QCOMPARE(has(torn.data()), inTornOff);
}

void WindowTest::timersOfAWindow()
{
    Workspace workspace;
    auto window = workspace.open();
    const std::tuple<const char*, int, bool> expected[] = {
        {"tickTimer", 40, true}, {"portTimer", 500, true}, {"sshConfigTimer", 500, true}, {"toastTimer", 10000, false}};
    for (const auto& [name, interval, running] : expected) {
        QTimer* found = timer(window.get(), name);
        QVERIFY2(found, name);
        QCOMPARE(found->interval(), interval);
        QCOMPARE(found->isActive(), running);
    }
    QVERIFY(timer(window.get(), "toastTimer")->isSingleShot());
    // The offscreen platform never asks the network for updates.
    QVERIFY(!timer(window->updateService(), "updateCheckTimer"));
    QVERIFY(!window->updateService()->isChecking());
}

void WindowTest::workspaceSwitches_data()
{
    QTest::addColumn<QJsonObject>("settings");
    QTest::addColumn<bool>("aiControl");
    QTest::addColumn<QJsonObject>("protocols");
    const QJsonObject all{{"serial", true}, {"tcp", true}, {"udp", true}, {"ssh", true}};
    QTest::newRow("no file") << QJsonObject() << false << all;
    QTest::newRow("ai control and no udp")
        << QJsonObject{{"allow_ai_control", true}, {"mcp_protocols", QJsonObject{{"udp", false}}}} << true
        << QJsonObject{{"serial", true}, {"tcp", true}, {"udp", false}, {"ssh", true}};
    QTest::newRow("wrong types read as defaults")
        << QJsonObject{{"allow_ai_control", "yes"}, {"mcp_protocols", QJsonObject{{"ssh", 0}}}} << false << all;
}

void WindowTest::workspaceSwitches()
{
    QFETCH(QJsonObject, settings);
    QFETCH(bool, aiControl);
    QFETCH(QJsonObject, protocols);
    Workspace workspace;
    if (!settings.isEmpty())
        workspace.write(settings);
    auto window = workspace.open();
    QCOMPARE(workspace.engine.allowAiControl, aiControl);
    QCOMPARE(workspace.server.protocolAccess(), protocols);
    // The loaded copy is the file, marked as keeping its control pages on
    // their own (null for a file without them) once the window is built.
    QJsonObject loaded = settings;
    if (!loaded.contains(QStringLiteral("widget_pages")))
        loaded.insert(QStringLiteral("widget_pages"), QJsonValue(QJsonValue::Null));
    QCOMPARE(window->settings, loaded);
}

void WindowTest::savedLoopbackShowsAsNull()
{
    Workspace workspace;
    workspace.write({{"connection", QJsonObject{{"kind", "serial"}, {"port", "loop://"}, {"baudrate", 9600}}}});
    auto window = workspace.open();
    QCOMPARE(window->form().port, QStringLiteral("NULL"));
    QCOMPARE(window->form().baudrate, 9600);
    QCOMPARE(window->pages.first()->config.port, QStringLiteral("NULL"));
    QCOMPARE(window->lastForm.value(QStringLiteral("port")).toString(), QStringLiteral("NULL"));

    Config other;
    other.kind = QStringLiteral("tcp-client");
    other.network_port = 9100;
    window->loadForm(other);
    QCOMPARE(window->form(), other);
}

void WindowTest::tornOffWindowTakesTheRootsLook()
{
    Workspace workspace;
    auto root = workspace.open();
    root->applyTheme(true);
    root->dataFont = QFont(QStringLiteral("Monospace"), 17);
    root->parameterWidth = 300;
    root->templates = QJsonArray{QJsonObject{{"name", "ping"}}};
    root->windowBackground.opacity = 60;
    QPointer<Window> torn = new Window(&workspace.engine, &workspace.server, workspace.path(), root.get());
    QCOMPARE(torn->root, root.get());
    QCOMPARE(torn->rootWindow(), root.get());
    QCOMPARE(root->windows.size(), 2);
    QCOMPARE(root->windows.at(1), torn.data());
    QVERIFY(torn->testAttribute(Qt::WA_DeleteOnClose));
    QVERIFY(torn->isWindow());
    QCOMPARE(torn->parentWidget(), root.get());
    QVERIFY(torn->theme.dark);
    QCOMPARE(torn->theme, root->theme);
    QCOMPARE(torn->dataFont, root->dataFont);
    QCOMPARE(torn->parameterWidth, 300);
    QCOMPARE(torn->templates, root->templates);
    QCOMPARE(torn->windowBackground.opacity, 60);
    QVERIFY(!torn->updateService());
    comparePalette(torn->palette(), Theme::make(true));
}

void WindowTest::dataFontIsShapedForEveryWindow()
{
    // A page's zoom passes a bare font: the window still applies the
    // fall-back family and the size limits, in every window, and saves.
    Workspace workspace;
    auto root = workspace.open();
    QPointer<Window> torn = new Window(&workspace.engine, &workspace.server, workspace.path(), root.get());
    torn->setDataFont(QFont(QStringLiteral("Monospace"), 40));
    for (Window* window : {root.get(), torn.data()}) {
        QCOMPARE(window->dataFont.pointSize(), 32);
        QCOMPARE(window->dataFont.families(),
                 QStringList({QStringLiteral("Monospace"), QStringLiteral("Microsoft YaHei UI")}));
    }
    QFile file(workspace.path());
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QJsonObject appearance = QJsonDocument::fromJson(file.readAll()).object().value("appearance").toObject();
    QCOMPARE(appearance.value("font_size").toInt(), 32);
    delete torn;
}

void WindowTest::dockButtonReturnsThePages()
{
    Workspace workspace;
    auto root = workspace.open();
    Window* torn = root->detachConnection(0, QPoint(400, 300), false);
    QVERIFY(torn);
    QCOMPARE(torn->pages.size(), 1);
    // The root is never left without a page.
    QCOMPARE(root->pages.size(), 1);
    Pane* moved = torn->pages.first();
    QCOMPARE(moved->window, torn);
    QCOMPARE(torn->windowTitle(), QStringLiteral("新收发页 · Varnelle"));

    const QPointer<Window> guard(torn);
    QTest::mouseClick(child<IconButton>(torn, "dock"), Qt::LeftButton);
    QTRY_VERIFY(guard.isNull());
    QCOMPARE(root->windows.size(), 1);
    QCOMPARE(root->pages.size(), 2);
    QVERIFY(root->pages.contains(moved));
    QCOMPARE(moved->window, root.get());
}

void WindowTest::themeReachesEveryWindow()
{
    Workspace workspace;
    auto root = workspace.open();
    comparePalette(root->palette(), Theme::make(false));
    QPointer<Window> torn = new Window(&workspace.engine, &workspace.server, workspace.path(), root.get());

    torn->applyTheme(true); // any window reaches all of them
    for (Window* window : {root.get(), torn.data()}) {
        QVERIFY(window->theme.dark);
        comparePalette(window->palette(), Theme::make(true));
        QCOMPARE(window->connectionLed()->theme, Theme::make(true));
        for (IconButton* button : window->findChildren<IconButton*>())
            QCOMPARE(button->theme, window->theme);
        QCOMPARE(child<BackgroundSurface>(window, "root")->baseColor, Theme::make(true).bg);
        QCOMPARE(window->styleSheet(), window->workspaceStyle());
    }

    root->applyTheme(false);
    for (Window* window : {root.get(), torn.data()}) {
        QVERIFY(!window->theme.dark);
        comparePalette(window->palette(), Theme::make(false));
    }

    // With a window picture the panels turn see-through and the rail keeps its colour.
    QVERIFY(!root->workspaceStyle().contains(QStringLiteral("QWidget#root QStackedWidget")));
    root->windowBackgroundImage = QImage(4, 4, QImage::Format_RGB32);
    const QColor rail = root->theme.rail;
    QVERIFY(root->workspaceStyle().endsWith(
        QStringLiteral("        QWidget#root QFrame#rail, QWidget#root QWidget#pixelBrand { background: rgba(%1,%2,%3,200); }\n    ")
            .arg(rail.red()).arg(rail.green()).arg(rail.blue())));
}

void WindowTest::themeReachesTornOffTabPages()
{
    Workspace workspace;
    auto root = workspace.open();
    // Torn off, a page keeps the look of the window it was torn from.
    DetachableTabs tabs(root.get());
    auto* page = new QWidget;
    auto* button = new IconButton(QStringLiteral("gear"), QStringLiteral("设置"), page);
    tabs.addTab(page, QStringLiteral("外观"));
    QPointer<FloatingPage> floating = tabs.detachPage(0, QPoint(100, 100), false);
    QVERIFY(floating);

    root->applyTheme(true);
    QCOMPARE(floating->styleSheet(), Theme::make(true).stylesheet());
    comparePalette(floating->palette(), Theme::make(true));
    QCOMPARE(button->theme, Theme::make(true));
    QCOMPARE(floating->font().family(), Theme::interfaceFont().family());
    root->applyTheme(false);
    QCOMPARE(button->theme, Theme::make(false));
    floating->close();
}

void WindowTest::narrowWindowsNarrowTheSidebar()
{
    Workspace workspace;
    auto root = workspace.open();
    // A torn-off window takes the root's width and fits it to its own 1400 px:
    // at most the window width less 382, never below 220.
    root->parameterWidth = 4096;
    QPointer<Window> wide = new Window(&workspace.engine, &workspace.server, workspace.path(), root.get());
    QCOMPARE(wide->parameterScroll()->width(), 1400 - 382);
    root->parameterWidth = 300;
    QPointer<Window> normal = new Window(&workspace.engine, &workspace.server, workspace.path(), root.get());
    QCOMPARE(normal->parameterScroll()->width(), 300);
}

void WindowTest::statusLineReportsFailuresAndAgents()
{
    Workspace workspace;
    auto window = workspace.open();
    window->error(QStringLiteral("端口被占用"));
    QCOMPARE(window->statusBar()->currentMessage(), QStringLiteral("操作失败：端口被占用"));

    QJsonObject record{{"seq", 3}, {"tool", "send_data"}, {"summary", ""}, {"status", "OK"},
                       {"client", "codex"}, {"time", "2026-01-01T00:00:00.000Z"}, {"duration_ms", 12},
                       {"error", "boom"}};
    window->showAiActivity(record);
    QCOMPARE(window->lastActivity, record);
    auto* toast = child<QFrame>(window.get(), "aiToast");
    QVERIFY(!toast->isHidden());
    // An upper-case status is not "ok", and an empty summary falls back to the tool.
    QCOMPARE(child<QLabel>(window.get(), "aiToastText")->text(), QStringLiteral("AI · 失败 · send_data"));
    QVERIFY(child<QLabel>(window.get(), "aiToastText")->toolTip().endsWith(QStringLiteral("\n错误：boom")));
    QVERIFY(timer(window.get(), "toastTimer")->isActive());
    QVERIFY(!child<QLabel>(window.get(), "aiStatus")->isHidden());
    QTest::mouseClick(child<IconButton>(window.get(), "aiToastClose"), Qt::LeftButton);
    QVERIFY(toast->isHidden());
}

void WindowTest::settingsDialogIsKept()
{
    Workspace workspace;
    auto window = workspace.open();
    QVERIFY(!window->settingsDialog());
    QTest::mouseClick(child<IconButton>(window.get(), "settingsButton"), Qt::LeftButton);
    QDialog* dialog = window->settingsDialog();
    QVERIFY(dialog);
    QCOMPARE(dialog->objectName(), QStringLiteral("settingsDialog"));
    auto* tabs = dialog->findChild<QTabWidget*>(QStringLiteral("settingsPages"));
    QVERIFY(tabs);
    QCOMPARE(tabs->tabText(0), QStringLiteral("外观"));
    window->openSettings();
    QCOMPARE(window->settingsDialog(), dialog);
    delete dialog;
    QVERIFY(!window->settingsDialog());
}

void WindowTest::updateButtonFollowsTheService()
{
    Workspace workspace;
    auto window = workspace.open();
    window->show();
    UpdateService* service = window->updateService();
    auto* button = child<QPushButton>(window.get(), "updateButton");
    auto* progress = child<QProgressBar>(window.get(), "updateProgress");

    Q_EMIT service->updateAvailable(QStringLiteral("0.16.0"));
    QVERIFY(button->isVisible());
    QCOMPARE(button->text(), QStringLiteral("发现新版本 v0.16.0  ↓"));
    QCOMPARE(button->toolTip(), QStringLiteral("查看 Varnelle v0.16.0 的更新说明"));

    Q_EMIT service->downloadProgress(100, 0); // no total yet: nothing to show
    QVERIFY(progress->isHidden());
    Q_EMIT service->downloadProgress(3145728, 10485760);
    QVERIFY(progress->isVisible());
    QCOMPARE(progress->value(), 30);
    QCOMPARE(progress->toolTip(), QStringLiteral("已下载 3.0 / 10.0 MB"));
    QCOMPARE(button->text(), QStringLiteral("正在下载更新 30% ↓"));

    Q_EMIT service->downloadFailed(QStringLiteral("校验失败"));
    QVERIFY(progress->isHidden());
    QCOMPARE(button->text(), QStringLiteral("更新下载未完成 · 查看并重试"));
    QCOMPARE(window->statusBar()->currentMessage(), QStringLiteral("校验失败"));

    Q_EMIT service->downloadReady(QStringLiteral("/tmp/installer"));
    QCOMPARE(button->text(), QStringLiteral("更新已下载 · 查看并安装"));
    QCOMPARE(button->toolTip(), QStringLiteral("安装包已校验，点击打开更新窗口"));

    // One dialog, made on the first click and shown again on every later one.
    QTest::mouseClick(button, Qt::LeftButton);
    const QList<UpdateDialog*> dialogs = window->findChildren<UpdateDialog*>();
    QCOMPARE(dialogs.size(), 1);
    QTRY_VERIFY(dialogs.first()->isVisible());
    dialogs.first()->hide();
    QTest::mouseClick(button, Qt::LeftButton);
    QCOMPARE(window->findChildren<UpdateDialog*>().size(), 1);
    QVERIFY(dialogs.first()->isVisible());
}

void WindowTest::agentEndpointsAreChecked()
{
    Workspace workspace;
    QVERIFY(workspace.server.start(0));
    auto window = workspace.open();
    const QString tools = workspace.folder.filePath(QStringLiteral("bin"));
    QVERIFY(QDir().mkpath(tools));
    QFile codex(tools + QStringLiteral("/codex"));
    QVERIFY(codex.open(QIODevice::WriteOnly));
    codex.write("#!/bin/sh\n");
    codex.close();
    codex.setPermissions(codex.permissions() | QFileDevice::ExeOwner);
    const QString home = workspace.folder.filePath(QStringLiteral("home"));
    window->agentEnvironment = [home, tools]() {
        AgentEnvironment environment;
        environment.home = home;
        environment.appData = home + QStringLiteral("/.config");
        environment.path = {tools};
        return environment;
    };
    window->checkAgentEndpoints();
    QCOMPARE(workspace.server.agentChecks.size(), 1);
    const QJsonObject check = workspace.server.agentChecks.first().toObject();
    QCOMPARE(check.value(QStringLiteral("agent")).toString(), QStringLiteral("codex"));
    QCOMPARE(check.value(QStringLiteral("matches")).toBool(), false);
    QCOMPARE(check.value(QStringLiteral("expected_url")).toString(), workspace.server.url());
    window->updateStatus();
    QVERIFY(child<QLabel>(window.get(), "mcpStatus")->text().endsWith(QStringLiteral(" · 1 个 Agent 待检查")));
}

void WindowTest::closingTheRootEndsTheSessions()
{
    Workspace workspace;
    workspace.write({{"allow_ai_control", true}});
    auto root = workspace.open();
    Config demo;
    demo.kind = QStringLiteral("demo");
    demo.name = QStringLiteral("示例数据");
    QPointer<Channel> channel = workspace.engine.open(demo);
    QVERIFY(channel);
    QTRY_VERIFY(root->findPane(channel));
    QPointer<Window> torn = root->detachConnection(paneIndex(root->tabs(), root->findPane(channel)), QPoint(), false);
    QVERIFY(torn);

    QVERIFY(root->close());
    QVERIFY(root->closing);
    QTRY_VERIFY(torn.isNull());
    QVERIFY(!workspace.engine.allowAiControl);
    QCOMPARE(channel->state, QStringLiteral("closed"));
    QVERIFY(!timer(root.get(), "tickTimer")->isActive());
}

void WindowTest::backgroundsAreReadBesideTheSettings()
{
    Workspace workspace;
    QVERIFY(QDir(workspace.folder.path()).mkpath(QStringLiteral("backgrounds")));
    QImage picture(16, 8, QImage::Format_RGB32);
    picture.fill(Qt::blue);
    QVERIFY(picture.save(workspace.folder.filePath(QStringLiteral("backgrounds/sky.png"))));
    workspace.write({{"appearance",
                      QJsonObject{{"window_background", QJsonObject{{"file", "backgrounds/sky.png"}, {"opacity", 70}}},
                                  {"receive_background", QJsonObject{{"file", "backgrounds/missing.png"}}}}}});
    auto window = workspace.open();
    QCOMPARE(window->windowBackground.opacity, 70);
    QCOMPARE(window->windowBackgroundImage.size(), QSize(16, 8));
    // A picture that cannot be read leaves that background without one.
    QCOMPARE(window->receiveBackground.file, QStringLiteral("backgrounds/missing.png"));
    QVERIFY(window->receiveBackgroundImage.isNull());
    auto* surface = child<BackgroundSurface>(window.get(), "root");
    QCOMPARE(surface->background.image.size(), QSize(16, 8));
    QVERIFY(window->styleSheet().contains(QStringLiteral("QWidget#root QStackedWidget { background: transparent; }")));
}

void WindowTest::tabBarFitsItsHeader()
{
    Workspace workspace;
    auto root = workspace.open();
    root->show();
    QVERIFY(QTest::qWaitForWindowExposed(root.get()));
    auto* header = child<QWidget>(root.get(), "tabHeader");
    QTRY_COMPARE(root->tabs()->width(), std::min(root->tabs()->sizeHint().width(), header->width() - 80));
    root->resize(500, 400); // the header keeps 100 px or so; the tabs never shrink below 64
    QTRY_COMPARE(root->tabs()->width(), std::max(64, std::min(root->tabs()->sizeHint().width(), header->width() - 80)));
}

void WindowTest::controlPagesAndTabs()
{
    Workspace workspace;
    auto window = workspace.open();
    Pane* session = window->pages.first();
    QVERIFY(!window->newInstrument(QStringLiteral("gauge"), nullptr, true, QString()));
    Pane* first = window->newInstrument(QStringLiteral("waveform"), nullptr, false, QStringLiteral("tcp:x"));
    QCOMPARE(window->current, session); // made without selecting it
    Pane* second = window->newInstrument(QStringLiteral("values"), nullptr, true, QString());
    QCOMPARE(window->current, second);
    QCOMPARE(first->title, QStringLiteral("数值波形"));
    QCOMPARE(second->title, QStringLiteral("数值波形 2"));
    QCOMPARE(first->sourceKey, QStringLiteral("tcp:x"));
    Pane* control = window->newInstrument(QStringLiteral("control"), nullptr, true, QStringLiteral("tcp:x"));
    QCOMPARE(control->title, QStringLiteral("串口控制"));
    QVERIFY(control->sourceKey.isEmpty()); // a control page follows serial sources only
    QCOMPARE(paneIndex(window->tabs(), second), 2);
    QCOMPARE(tabPane(window->tabs(), 2), second);
    QVERIFY(!tabPane(window->tabs(), -1));

    window->closeTab(paneIndex(window->tabs(), second));
    Pane* again = window->newInstrument(QStringLiteral("waveform"), nullptr, true, QString());
    QCOMPARE(again->title, QStringLiteral("数值波形 2"));

    // The last tab closed leaves a fresh session page.
    while (window->tabs()->count() > 1)
        window->closeTab(window->tabs()->count() - 1);
    Pane* last = window->pages.first();
    window->closeTab(0);
    QCOMPARE(window->pages.size(), 1);
    QVERIFY(window->pages.first() != last);
    QVERIFY(!window->pages.first()->isControl());
    QCOMPARE(window->tabs()->count(), 1);

    QMenu* menu = window->newPageMenu();
    QCOMPARE(menu->objectName(), QStringLiteral("newPageMenu"));
    QVERIFY(menu->findChild<QAction*>(QStringLiteral("newReceivePage")));
    QVERIFY(menu->findChild<QMenu*>(QStringLiteral("newWidgetPage")));
    delete menu;
}

void WindowTest::renameTabInPlace_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("finish");
    QTest::addColumn<QString>("title");
    QTest::newRow("return") << "串口 A" << int(Qt::Key_Return) << "串口 A";
    QTest::newRow("enter trims") << "  板卡  " << int(Qt::Key_Enter) << "板卡";
    QTest::newRow("escape keeps") << "丢弃" << int(Qt::Key_Escape) << "新收发页";
    QTest::newRow("blanks keep") << "   " << int(Qt::Key_Return) << "新收发页";
}

void WindowTest::renameTabInPlace()
{
    QFETCH(QString, typed);
    QFETCH(int, finish);
    QFETCH(QString, title);
    Workspace workspace;
    auto window = workspace.open();
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    window->beginTabRename(0);
    auto* editor = window->tabs()->findChild<QLineEdit*>(QStringLiteral("tabTitleEditor"));
    QVERIFY(editor);
    QCOMPARE(editor->text(), QStringLiteral("新收发页"));
    QCOMPARE(editor->selectedText(), QStringLiteral("新收发页"));
    QCOMPARE(editor->maxLength(), 80);
    QVERIFY(editor->geometry().intersects(window->tabs()->tabRect(0)));
    editor->setText(typed);
    QTest::keyClick(editor, Qt::Key(finish));
    QCOMPARE(window->tabs()->tabText(0), title);
    QCOMPARE(window->pages.first()->title, title == QStringLiteral("新收发页") ? QString() : title);
    const QPointer<QLineEdit> guard(editor);
    QTRY_VERIFY(guard.isNull());
}

void WindowTest::f2RenamesTheCurrentTab()
{
    Workspace workspace;
    auto window = workspace.open();
    window->show();
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window.get()));
    QTest::keyClick(window.get(), Qt::Key_F2);
    auto* first = window->tabs()->findChild<QLineEdit*>(QStringLiteral("tabTitleEditor"));
    QVERIFY(first);
    first->setText(QStringLiteral("不会保存"));
    // F2 again while an editor is open does nothing.
    QTest::keyClick(window.get(), Qt::Key_F2);
    QCOMPARE(window->tabs()->findChildren<QLineEdit*>(QStringLiteral("tabTitleEditor")).size(), 1);
    // A new rename cancels the open editor without taking its text.
    window->beginTabRename(0);
    QCOMPARE(window->tabs()->tabText(0), QStringLiteral("新收发页"));
    auto* second = window->tabs()->findChildren<QLineEdit*>(QStringLiteral("tabTitleEditor")).last();
    QVERIFY(second != first);
    second->setText(QStringLiteral("主板"));
    // Losing the focus commits.
    window->parameterScroll()->setFocus();
    QTRY_COMPARE(window->tabs()->tabText(0), QStringLiteral("主板"));
}

void WindowTest::tabMenuEntries_data()
{
    QTest::addColumn<QString>("page");
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<QStringList>("disabled");
    QTest::newRow("session page without a channel")
        << "session" << QStringList{"重命名标签\tF2", "清空显示", "移至独立窗口", "关闭收发页面及连接"} << QStringList();
    QTest::newRow("control page") << "control" << QStringList{"重命名标签\tF2", "移至独立窗口", "关闭控件页面"}
                                  << QStringList();
    QTest::newRow("closed connection")
        << "closed"
        << QStringList{"重命名标签\tF2", "断开连接", "重新连接", "重命名连接名称", "导出日志…", "清空显示",
                       "移至独立窗口", "关闭收发页面及连接"}
        << QStringList{"断开连接"};
}

void WindowTest::tabMenuEntries()
{
    QFETCH(QString, page);
    QFETCH(QStringList, entries);
    QFETCH(QStringList, disabled);
    Workspace workspace;
    auto window = workspace.open();
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    Pane* target = window->pages.first();
    if (page == QLatin1String("control")) {
        target = window->newInstrument(QStringLiteral("json"), nullptr, true, QString());
    } else if (page == QLatin1String("closed")) {
        Config demo;
        demo.kind = QStringLiteral("demo");
        QPointer<Channel> channel = workspace.engine.open(demo);
        QTRY_VERIFY((target = window->findPane(channel)));
        channel->close();
    }
    QStringList shown;
    QStringList off;
    QTimer::singleShot(0, this, [&]() {
        auto* menu = window->findChild<QMenu*>(QStringLiteral("tabMenu"));
        QVERIFY(menu);
        for (QAction* action : menu->actions()) {
            if (action->isSeparator())
                continue;
            shown.append(action->text());
            if (!action->isEnabled())
                off.append(action->text());
        }
        menu->close();
    });
    window->tabMenu(window->tabs()->tabRect(paneIndex(window->tabs(), target)).center());
    QCOMPARE(shown, entries);
    QCOMPARE(off, disabled);
    // Beside the tabs there is no menu at all.
    window->tabMenu(QPoint(window->tabs()->width() + 50, 5));
}

void WindowTest::movedOverATabBarDocksBack()
{
    Workspace workspace;
    auto root = workspace.open();
    root->show();
    QVERIFY(QTest::qWaitForWindowExposed(root.get()));
    root->newInstrument(QStringLiteral("xml"), nullptr, true, QString());
    QPointer<Window> torn = root->detachConnection(1, QPoint(600, 300), false);
    QVERIFY(torn);
    QVERIFY(QTest::qWaitForWindowExposed(torn.data()));
    QCOMPARE(root->pages.size(), 1);

    // The root never docks away, and a move that ends elsewhere changes nothing.
    root->dockAfterMove(torn->tabs()->mapToGlobal(torn->tabs()->rect().center()));
    torn->dockAfterMove(QPoint(-5000, -5000));
    QCoreApplication::processEvents(); // a dock would be queued for the next turn
    QVERIFY(torn);
    QCOMPARE(root->pages.size(), 1);

    torn->dockAfterMove(root->tabs()->mapToGlobal(root->tabs()->rect().center()));
    QTRY_VERIFY(torn.isNull());
    QCOMPARE(root->pages.size(), 2);
    QVERIFY(root->pages.last()->isControl());
}

void WindowTest::portHelpers_data()
{
    QTest::addColumn<QJsonObject>("port");
    QTest::addColumn<QString>("serial");
    QTest::addColumn<QString>("usb");
    QTest::newRow("full") << QJsonObject{{"serial_number", "A1"}, {"hwid", "A1"}, {"vendor_id", 0x303A},
                                         {"product_id", 0x1001}}
                          << "A1" << "VID 303A · PID 1001";
    QTest::newRow("short ids are padded") << QJsonObject{{"vendor_id", 0x403}, {"product_id", 0x6001}} << ""
                                          << "VID 0403 · PID 6001";
    QTest::newRow("no serial key") << QJsonObject{{"hwid", "ACPI\\PNP0501"}, {"vendor_id", QJsonValue()}}
                                   << "ACPI\\PNP0501" << "";
    QTest::newRow("empty serial stays empty") << QJsonObject{{"serial_number", ""}, {"hwid", "X"}} << "" << "";
    QTest::newRow("text ids are not numbers") << QJsonObject{{"vendor_id", "1A86"}} << "" << "";
}

void WindowTest::portHelpers()
{
    QFETCH(QJsonObject, port);
    QFETCH(QString, serial);
    QFETCH(QString, usb);
    QCOMPARE(serialNumber(port), serial);
    QCOMPARE(usbIdentity(port), usb);
    QCOMPARE(instrumentIconName(QStringLiteral("waveform")), QStringLiteral("wave"));
    QCOMPARE(instrumentIconName(QStringLiteral("structured")), QStringLiteral("widgets"));
}

void WindowTest::updateChecksStayOffline_data()
{
    QTest::addColumn<QString>("platform");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("allowed");
    QTest::newRow("desktop") << "xcb" << QStringList{"varnelle", "--demo"} << true;
    QTest::newRow("offscreen") << "offscreen" << QStringList{"varnelle"} << false;
    QTest::newRow("screenshot") << "xcb" << QStringList{"varnelle", "--screenshot", "a.png"} << false;
    QTest::newRow("only the exact option") << "wayland" << QStringList{"varnelle", "--screenshot=a.png"} << true;
}

void WindowTest::updateChecksStayOffline()
{
    QFETCH(QString, platform);
    QFETCH(QStringList, arguments);
    QFETCH(bool, allowed);
    QCOMPARE(updateChecksAllowed(platform, arguments), allowed);
}

void WindowTest::updateChecksRepeatEverySixHours()
{
    UpdateService service;
    scheduleUpdateChecks(&service);
    QTimer* periodic = timer(&service, "updateCheckTimer");
    QVERIFY(periodic);
    QCOMPARE(periodic->interval(), 21600000);
    QVERIFY(periodic->isActive());
    QVERIFY(!periodic->isSingleShot());
}

QTEST_MAIN(WindowTest)
#include "WindowTest.moc"
