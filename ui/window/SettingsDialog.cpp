#include "ui/window/SettingsDialog.h"

#include "ui/kit/DetachableTabs.h"
#include "ui/kit/Factories.h"
#include "ui/update/ReleaseHistoryPanel.h"
#include "ui/window/AboutPage.h"
#include "ui/window/AppearancePage.h"
#include "ui/window/McpSettingsPage.h"
#include "ui/window/Window.h"

#include <QCoreApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QJsonObject>
#include <QPushButton>
#include <QScrollArea>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace vn {

bool mayFetchReleases(const QString& platform, const QStringList& arguments)
{
    return platform != QLatin1String("offscreen") && !arguments.contains(QStringLiteral("--screenshot"));
}

SettingsDialog::SettingsDialog(Window* owner)
    : QDialog(nullptr)
    , window(owner)
{
    // Set before the parent, so the dialog inherits the window's palette now
    // and again whenever the theme changes.
    setAttribute(Qt::WA_WindowPropagation);
    setParent(owner, windowFlags() | Qt::WindowMaximizeButtonHint);
    setObjectName(QStringLiteral("settingsDialog"));
    setWindowTitle(QStringLiteral("设置"));
    setSizeGripEnabled(true);
    setMinimumSize(440, 320);
    resize(920, 680);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 16, 20, 16);

    pages = new DetachableTabs(this);
    pages->setObjectName(QStringLiteral("settingsPages"));
    appearance = new AppearancePage(owner);
    pages->addTab(scrollPanel(appearance, QStringLiteral("appearanceScroll")), QStringLiteral("外观"));
    mcp = new McpSettingsPage(owner);
    overview = mcp->findChild<QTreeWidget*>(QStringLiteral("connectionsOverview"));
    calls = mcp->findChild<QTreeWidget*>(QStringLiteral("callLog"));
    mcpScroll = scrollPanel(mcp, QStringLiteral("mcpScroll"));
    pages->addTab(mcpScroll, QStringLiteral("AI / MCP"));
    pages->addTab(scrollPanel(new AboutPage, QStringLiteral("aboutScroll")), QStringLiteral("关于"));
    history = new ReleaseHistoryPanel;
    historyScroll = scrollPanel(history, QStringLiteral("releaseHistoryScroll"));
    pages->addTab(historyScroll, QStringLiteral("版本回溯"));
    layout->addWidget(pages, 1);

    auto* buttons = horizontal(nullptr);
    buttons->addStretch();
    QPushButton* done = button(QStringLiteral("完成"), QStringLiteral("primary"));
    buttons->addWidget(done);
    layout->addLayout(buttons);

    connect(done, &QPushButton::clicked, this, &QDialog::accept);
    connect(this, &QDialog::finished, this, &SettingsDialog::storeGeometry);
    connect(pages, &QTabWidget::currentChanged, this, &SettingsDialog::pageChanged);
    connect(history, &ReleaseHistoryPanel::installRequested, owner, &Window::installUpdate);

    restyle();
    const QString stored = owner->rootWindow()->settings.value(QStringLiteral("settings_geometry")).toString();
    if (!stored.isEmpty())
        restoreGeometry(QByteArray::fromBase64(stored.toLatin1())); // unreadable: the initial size stays
}

void SettingsDialog::showCallLog()
{
    pages->activatePage(mcpScroll);
    mcp->tabs()->activatePage(calls);
    // A torn-off page was raised in its own window; the dialog stays behind it.
    if (pages->floatingWindow(mcpScroll) || mcp->tabs()->floatingWindow(calls))
        return;
    raise();
    activateWindow();
}

void SettingsDialog::changeEvent(QEvent* event)
{
    QDialog::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        restyle();
}

void SettingsDialog::pageChanged(int index)
{
    if (historyLoaded || pages->widget(index) != historyScroll)
        return;
    historyLoaded = true;
    if (mayFetchReleases(QGuiApplication::platformName(), QCoreApplication::arguments()))
        history->refreshHistory();
}

void SettingsDialog::storeGeometry()
{
    window->rootWindow()->settings.insert(QStringLiteral("settings_geometry"),
                                          QString::fromLatin1(saveGeometry().toBase64()));
    window->saveSettings();
}

void SettingsDialog::restyle()
{
    // Polishing under a new style sheet may change the palette again.
    if (restyling)
        return;
    restyling = true;
    const Theme& theme = window->theme;
    const QString sheet = QStringLiteral("QLabel#mcpPortResult { color: %1; font-size: 13px; }").arg(theme.muted.name());
    if (styleSheet() != sheet)
        setStyleSheet(sheet);
    appearance->showCurrent();
    mcp->setTheme(theme);
    restyling = false;
}

} // namespace vn
