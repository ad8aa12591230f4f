#include "ui/window/Window.h"

#include "core/Channel.h"
#include "core/Engine.h"
#include "core/Version.h"
#include "core/ssh/SshAuthSession.h"
#include "core/ssh/SshProfiles.h"
#include "mcp/McpServer.h"
#include "platform/DeviceWatch.h"
#include "ui/agents/AgentEnvironment.h"
#include "ui/kit/BackgroundSurface.h"
#include "ui/kit/ConnectionBar.h"
#include "ui/kit/DetachableTabs.h"
#include "ui/kit/IconButton.h"
#include "ui/kit/MoveEndWatcher.h"
#include "ui/kit/StatusLed.h"
#include "ui/kit/WindowChrome.h"
#include "ui/pages/Pane.h"
#include "ui/ssh/SshDialogs.h"
#include "ui/update/UpdateService.h"
#include "ui/window/AiToast.h"
#include "ui/window/ConnectionForm.h"
#include "ui/window/MemoryReturn.h"
#include "ui/window/ParameterGrip.h"
#include "ui/window/StartupNotice.h"
#include "ui/window/StatusLine.h"
#include "ui/window/TabHeader.h"
#include "ui/window/UpdateChecks.h"
#include "ui/window/WindowRail.h"
#include "ui/window/WindowWidgets.h"
#include "ui/window/WorkspaceFile.h"
#include "ui/window/WindowLimits.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QDateTime>
#include <QDialog>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QScreen>
#include <QScrollArea>
#include <QShortcut>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

namespace vn {

namespace {

QImage readBackground(const BackgroundSpec& look, const QString& settingsPath)
{
    if (look.file.isEmpty())
        return {};
    const QString path = QDir(QFileInfo(settingsPath).absolutePath()).absoluteFilePath(look.file);
    QString ignored;
    return BackgroundImage::read(path, &ignored);
}

} // namespace

Window::Window(Engine* engineIn, McpServer* serverIn, const QString& path, Window* rootIn)
    : QMainWindow(rootIn, Qt::Window)
    , agentEnvironment(&AgentEnvironment::current)
    , root(rootIn)
    , engine(engineIn)
    , server(serverIn)
    , settingsPath(path)
    , ui(std::make_unique<Widgets>())
{
    installWindowChrome();

    // The window list, the root first.
    rootWindow()->windows.append(QPointer<Window>(this));
    if (root)
        portProvider = root->portProvider;
    else
        portProvider = [engineIn]() { return engineIn->ports(); };

    setWindowTitle(QStringLiteral("Varnelle · Native ") + QString::fromLatin1(Version));
    setWindowIcon(QIcon(QStringLiteral(":/brand/lightning.svg")));
    setFont(Theme::interfaceFont());
    setMinimumSize(MinimumWindowSize);
    const QScreen* screen = QGuiApplication::primaryScreen();
    resize(1400, screen ? std::min(960, screen->availableGeometry().height()) : 960);

    // The workspace file; anything missing or malformed takes its default.
    if (root) {
        settings = readWorkspaceFile(settingsPath);
    } else {
        const WorkspaceStart start = startWorkspace(settingsPath, QDateTime::currentDateTime());
        settings = start.settings;
        savingHeld = !start.writable;
        if (!start.notice.isEmpty())
            new StartupNotice(this, QStringLiteral("工作区文件无法读取"), start.notice);
    }
    views = settings.value(QStringLiteral("views")).toObject();
    templates = settings.value(QStringLiteral("templates")).toArray();
    const QJsonObject appearance = settings.value(QStringLiteral("appearance")).toObject();
    const WorkspaceAppearance look = readAppearance(appearance);
    parameterWidth = look.parameterWidth;
    theme = Theme::make(look.dark);
    dataFont = look.dataFont;

    if (root) {
        setAttribute(Qt::WA_DeleteOnClose);
        theme = root->theme;
        dataFont = root->dataFont;
        templates = root->templates;
        views = root->views;
        parameterWidth = root->parameterWidth;
        windowBackground = root->windowBackground;
        receiveBackground = root->receiveBackground;
        windowBackgroundImage = root->windowBackgroundImage;
        receiveBackgroundImage = root->receiveBackgroundImage;
    } else {
        // Every channel's SSH questions reach the root window through the engine.
        connect(engine, &Engine::sshPromptRequested, this,
                [this](SshAuthPrompt* prompt) { showSshAuthPrompt(prompt, this, theme); });
        engine->allowAiControl = settings.value(QStringLiteral("allow_ai_control")).toBool(false);
        const QJsonObject protocols = settings.value(QStringLiteral("mcp_protocols")).toObject();
        for (const char* name : {"serial", "tcp", "udp", "ssh"}) {
            const QString protocol = QString::fromLatin1(name);
            server->setProtocolEnabled(protocol, protocols.value(protocol).toBool(true));
        }
        windowBackground = BackgroundSpec::fromJson(appearance.value(QStringLiteral("window_background")).toObject());
        receiveBackground = BackgroundSpec::fromJson(appearance.value(QStringLiteral("receive_background")).toObject());
        windowBackgroundImage = readBackground(windowBackground, settingsPath);
        receiveBackgroundImage = readBackground(receiveBackground, settingsPath);
    }

    buildLayout();

    if (!root) {
        ui->updateService = new UpdateService(this);
        ui->updateService->setObjectName(QStringLiteral("updateService"));
        ui->status->follow(ui->updateService);
        connect(ui->status, &StatusLine::updateRequested, this, &Window::openUpdateDialog);
        ui->memoryReturn = new MemoryReturn(this);
    }

    Pane* first = newConnection();
    Config saved = Config::fromJson(settings.value(QStringLiteral("connection")).toObject());
    if (saved.port == QLatin1String("loop://"))
        saved.port = QStringLiteral("NULL");
    first->config = saved;
    loadForm(saved);

    if (!root)
        restoreWorkspace(first, appearance);

    if (const int index = paneIndex(ui->tabs, first); index >= 0)
        ui->tabs->setCurrentIndex(index);
    activate(ui->tabs->currentIndex());
    applyLocalTheme(theme.dark);

    connect(engine, &Engine::channelsChanged, this, &Window::syncConnections);

    startTimers();

    if (auto* port = findChild<QWidget*>(QStringLiteral("serialPort")))
        port->setFocus();

    if (!root) {
        installMcpUi();
        // Previews, screenshots and tests must not reach the network.
        if (updateChecksAllowed(QGuiApplication::platformName(), QCoreApplication::arguments()))
            scheduleUpdateChecks(ui->updateService);
    }
}

Window::~Window()
{
    // Children die after the members they report to; silence them first.
    closing = true;
    if (ui->tabs)
        ui->tabs->blockSignals(true);
    delete ui->updateService;
    delete takeCentralWidget();
}

void Window::buildLayout()
{
    ui->surface = new BackgroundSurface;
    ui->surface->setObjectName(QStringLiteral("root"));
    // The root surface paints the window background for the whole window, so it
    // joins the caption strip without a seam.
    ui->surface->caption = true;
    setCentralWidget(ui->surface);
    auto* row = new QHBoxLayout(ui->surface);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);

    auto* rail = new WindowRail(ui->surface);
    ui->rail = rail;
    ui->sidebarToggle = rail->sidebarToggle;
    ui->settingsButton = rail->settingsButton;
    row->addWidget(rail);

    ui->sidebar = new QFrame;
    ui->sidebar->setObjectName(QStringLiteral("sidebar"));
    ui->sidebar->setMinimumWidth(200);
    ui->sidebar->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    ui->sidebar->setAutoFillBackground(false);
    ui->sidebarLayout = new QVBoxLayout(ui->sidebar);
    ui->sidebarLayout->setContentsMargins(16, 16, 16, 16);
    ui->sidebarLayout->setSpacing(12);
    buildSidebar();

    ui->parameterScroll = new QScrollArea(ui->surface);
    ui->parameterScroll->setObjectName(QStringLiteral("parameterScroll"));
    ui->parameterScroll->setWidgetResizable(true);
    ui->parameterScroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    ui->parameterScroll->setFrameShape(QFrame::NoFrame);
    ui->parameterScroll->setWidget(ui->sidebar);
    ui->parameterScroll->viewport()->setAutoFillBackground(false);
    ui->parameterScroll->setFixedWidth(std::min(parameterWidth, std::max(220, width() - 382)));
    ui->parameterScroll->setMinimumHeight(0);
    row->addWidget(ui->parameterScroll);

    ui->grip = new ParameterGrip(this, ui->surface);
    row->addWidget(ui->grip);

    ui->content = new QWidget(ui->surface);
    ui->content->setObjectName(QStringLiteral("workspace"));
    auto* column = new QVBoxLayout(ui->content);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    auto* header = new TabHeader(root != nullptr, ui->content);
    ui->tabHeader = header;
    ui->tabs = header->tabs;
    ui->newPage = header->newPage;
    ui->dock = header->dock;
    connect(header, &TabHeader::resized, this, [this]() {
        adjustTabs();
        positionAiToast();
    });
    column->addWidget(header);
    ui->stack = new QStackedWidget(ui->content);
    ui->stack->setObjectName(QStringLiteral("pageStack"));
    column->addWidget(ui->stack, 1);
    row->addWidget(ui->content, 1);

    ui->toast = new AiToast(ui->content);

    ui->status = new StatusLine(statusBar(), root == nullptr);

    connectLayout();
}

void Window::buildSidebar()
{
    ui->form = new ConnectionForm(this, ui->sidebar, ui->sidebarLayout);
    ui->connectionLed = ui->form->led;
    ui->connectionState = ui->form->state;
    connectSidebar();
    // The SSH host list is there before the first page loads its connection.
    refreshSshProfiles();
}

void Window::connectLayout()
{
    connect(ui->sidebarToggle, &IconButton::toggled, this, [this](bool on) {
        parameterVisible = on;
        const bool shown = on && current;
        ui->parameterScroll->setVisible(shown);
        ui->grip->setVisible(shown);
        if (shown)
            ui->parameterScroll->raise();
        arrangeParameters();
    });
    connect(ui->sidebarToggle, &IconButton::toggled, this,
            [this]() { QTimer::singleShot(0, this, &Window::adjustTabs); });
    connect(ui->settingsButton, &IconButton::clicked, this, &Window::openSettings);

    ui->tabs->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(ui->tabs, &QTabBar::customContextMenuRequested, this, &Window::tabMenu);
    connect(ui->tabs, &QTabBar::currentChanged, this, &Window::activate);
    connect(ui->tabs, &QTabBar::tabCloseRequested, this, &Window::closeTab);
    connect(ui->tabs, &QTabBar::tabMoved, this, [this]() { activate(ui->tabs->currentIndex()); });
    connect(ui->tabs, &TearTabBar::tearRequested, this,
            [this](int index, const QPoint& globalPos) { detachConnection(index, globalPos, true); });
    connect(ui->newPage, &IconButton::clicked, this, [this]() {
        QMenu* menu = newPageMenu();
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->popup(ui->newPage->mapToGlobal(QPoint(0, ui->newPage->height() + 4)));
    });
    if (ui->dock)
        connect(ui->dock, &IconButton::clicked, this, &QWidget::close);

    connect(ui->toast, &AiToast::detailRequested, this, [this]() { showAuditDetail(lastActivity); });
    connect(ui->toast, &AiToast::allRequested, this, &Window::openAiAudit);

    auto* rename = new QShortcut(QKeySequence(Qt::Key_F2), this);
    rename->setObjectName(QStringLiteral("renameCurrentTab"));
    connect(rename, &QShortcut::activated, this, [this]() {
        if (!ui->tabs->findChild<QLineEdit*>(QStringLiteral("tabTitleEditor")))
            beginTabRename(ui->tabs->currentIndex());
    });
}

void Window::restoreWorkspace(Pane* first, const QJsonObject& appearance)
{
    first->restore(appearance);
    for (auto it = views.constBegin(); it != views.constEnd(); ++it)
        restoreInstruments(it.value().toObject(), it.key());
    const QJsonArray controls = migrateInstrumentPages(settings.value(QStringLiteral("widget_pages")).toArray());
    // From here on the workspace counts as one that keeps its control pages on
    // their own, so pages restored later never convert older settings again. An
    // older file lacks the key: it is stored as null, since inserting the
    // undefined value that value() gives for it would remove the key instead.
    if (!settings.contains(QStringLiteral("widget_pages")))
        settings.insert(QStringLiteral("widget_pages"), QJsonValue(QJsonValue::Null));
    for (const QJsonValue& value : controls) {
        const QJsonObject object = value.toObject();
        if (Pane* page = newInstrument(object.value(QStringLiteral("kind")).toString(), nullptr, false,
                                       object.value(QStringLiteral("source_key")).toString()))
            page->restore(object);
    }
}

void Window::startTimers()
{
    ui->tickTimer = new QTimer(this);
    ui->tickTimer->setObjectName(QStringLiteral("tickTimer"));
    ui->tickTimer->setInterval(40);
    connect(ui->tickTimer, &QTimer::timeout, this, &Window::tick);
    ui->tickTimer->start();
    ui->auditClock.start();

    refreshPorts();
    ui->portTimer = new QTimer(this);
    ui->portTimer->setObjectName(QStringLiteral("portTimer"));
    ui->portTimer->setInterval(500);
    connect(ui->portTimer, &QTimer::timeout, this, &Window::refreshPorts);
    ui->portTimer->start();

    // A device coming or going lists the ports again once the system has
    // settled its device nodes; the poll above catches what the watch misses.
    ui->deviceRefresh = new QTimer(this);
    ui->deviceRefresh->setObjectName(QStringLiteral("deviceRefreshTimer"));
    ui->deviceRefresh->setSingleShot(true);
    ui->deviceRefresh->setInterval(150);
    connect(ui->deviceRefresh, &QTimer::timeout, this, &Window::refreshPorts);
    auto* devices = new platform::DeviceWatch(this);
    devices->setObjectName(QStringLiteral("deviceWatch"));
    connect(devices, &platform::DeviceWatch::devicesChanged, ui->deviceRefresh, qOverload<>(&QTimer::start));

    ui->sshConfigTimer = new QTimer(this);
    ui->sshConfigTimer->setObjectName(QStringLiteral("sshConfigTimer"));
    ui->sshConfigTimer->setInterval(500);
    connect(ui->sshConfigTimer, &QTimer::timeout, this, [this]() {
        if (SshProfiles::fingerprint() != sshFingerprint)
            refreshSshProfiles();
    });
    ui->sshConfigTimer->start();

    if (root) {
        auto* moves = new MoveEndWatcher(this);
        moves->setObjectName(QStringLiteral("moveEndWatcher"));
        connect(moves, &MoveEndWatcher::moveEnded, this, &Window::dockAfterMove);
    }
}

void Window::tick()
{
    const TickMeter::Scope timing(tickMeter);
    for (Pane* page : std::as_const(pages))
        page->tick(false);
    updateStatus();
    refreshAudit();
}

Window* Window::rootWindow()
{
    return root ? root : this;
}

QDialog* Window::settingsDialog() const
{
    return ui->settingsDialog;
}

ConnectionBar* Window::tabs() const { return ui->tabs; }
QStackedWidget* Window::stack() const { return ui->stack; }
QScrollArea* Window::parameterScroll() const { return ui->parameterScroll; }
StatusLed* Window::connectionLed() const { return ui->connectionLed; }
UpdateService* Window::updateService() const { return ui->updateService; }

bool Window::event(QEvent* event)
{
    const bool handled = QMainWindow::event(event);
    if (event->type() == QEvent::Resize && ui->tabs) {
        adjustTabs();
        arrangeParameters();
        positionAiToast();
    }
    return handled;
}

void Window::closeEvent(QCloseEvent* event)
{
    closing = true;
    ui->tickTimer->stop();
    ui->portTimer->stop();
    ui->sshConfigTimer->stop();
    ui->deviceRefresh->stop();

    if (root) {
        if (!root->closing) {
            const QList<Pane*> moving = pages;
            for (Pane* page : moving)
                transferPane(page, root);
            root->raise();
        }
        root->windows.removeIf([this](const QPointer<Window>& window) { return window == this; });
        event->accept();
        return;
    }

    // The save comes first so the file keeps the user's AI-control choice.
    saveSettings();
    const QList<QPointer<Window>> others = windows;
    for (const QPointer<Window>& window : others) {
        if (window && window != this)
            window->close();
    }
    for (DetachableTabs* tabsWidget : findChildren<DetachableTabs*>())
        tabsWidget->restoreAll();
    engine->allowAiControl = false;
    std::vector<QPointer<Channel>> open;
    for (const auto& entry : engine->channels)
        open.emplace_back(entry.second);
    for (const QPointer<Channel>& channel : open) {
        if (channel)
            channel->close();
    }
    event->accept();
}

QString instrumentIconName(const QString& kind)
{
    if (kind == QLatin1String("waveform"))
        return QStringLiteral("wave");
    if (kind == QLatin1String("control"))
        return QStringLiteral("control");
    if (kind == QLatin1String("json"))
        return QStringLiteral("json");
    if (kind == QLatin1String("xml"))
        return QStringLiteral("xml");
    return QStringLiteral("widgets");
}

QString serialNumber(const QJsonObject& port)
{
    const QJsonValue number = port.value(QStringLiteral("serial_number"));
    return number.isString() ? number.toString() : port.value(QStringLiteral("hwid")).toString();
}

QString usbIdentity(const QJsonObject& port)
{
    QStringList parts;
    for (const auto& [key, format] : {std::pair{"vendor_id", "VID %1"}, std::pair{"product_id", "PID %1"}}) {
        const QJsonValue value = port.value(QLatin1String(key));
        if (value.isDouble())
            parts.append(QString::fromLatin1(format).arg(QString::number(value.toInteger(), 16).toUpper(), 4,
                                                          QLatin1Char('0')));
    }
    return parts.join(QStringLiteral(" · "));
}

Pane* tabPane(ConnectionBar* bar, int index)
{
    if (!bar || index < 0 || index >= bar->count())
        return nullptr;
    return qobject_cast<Pane*>(bar->tabData(index).value<QObject*>());
}

int paneIndex(ConnectionBar* bar, Pane* page)
{
    if (!bar || !page)
        return -1;
    for (int index = 0; index < bar->count(); ++index) {
        if (tabPane(bar, index) == page)
            return index;
    }
    return -1;
}

} // namespace vn
