#include "ui/window/Window.h"

#include "core/Channel.h"
#include "core/Engine.h"
#include "ui/kit/ConnectionBar.h"
#include "ui/kit/IconButton.h"
#include "ui/kit/IconPainter.h"
#include "ui/pages/Pane.h"
#include "ui/views/TerminalView.h"
#include "ui/window/MemoryReturn.h"
#include "ui/window/ParameterGrip.h"
#include "ui/window/WindowWidgets.h"

#include <QAbstractButton>
#include <QHBoxLayout>
#include <QScrollArea>
#include <QStackedWidget>

#include <map>

namespace vn {

namespace {

const QStringList& controlKinds()
{
    static const QStringList kinds = {QStringLiteral("waveform"), QStringLiteral("json"), QStringLiteral("xml"),
                                      QStringLiteral("control")};
    return kinds;
}

QString normalisedKind(const QString& kind)
{
    if (kind == QLatin1String("values"))
        return QStringLiteral("waveform");
    if (kind == QLatin1String("structured"))
        return QStringLiteral("json");
    return kind;
}

QString defaultTitle(const QString& kind)
{
    if (kind == QLatin1String("waveform"))
        return QStringLiteral("数值波形");
    if (kind == QLatin1String("control"))
        return QStringLiteral("串口控制");
    return kind.toUpper();
}

QString tabText(Pane* page)
{
    if (!page->title.isEmpty())
        return page->title;
    if (page->channel)
        return page->channel->name;
    return QStringLiteral("新收发页");
}

} // namespace

void stopRepeatSend(Pane* page)
{
    if (auto* repeat = page ? page->findChild<QAbstractButton*>(QStringLiteral("repeatSend")) : nullptr)
        repeat->setChecked(false);
}

Pane* Window::newConnection()
{
    auto* page = new Pane(this, QString());
    attachPane(page);
    return page;
}

Pane* Window::newInstrument(const QString& kind, Channel* channel, bool select, const QString& sourceKey)
{
    const QString normal = normalisedKind(kind);
    if (!controlKinds().contains(normal))
        return nullptr;

    Channel* source = channel;
    if (normal == QLatin1String("control") && source && source->config.kind != QLatin1String("serial"))
        source = nullptr;
    if (source && source->config.kind == QLatin1String("demo")) {
        try {
            const bool structured = source->config.isStructuredDemo();
            if ((normal == QLatin1String("json") || normal == QLatin1String("xml")) && !structured)
                source = engine->structuredDemo();
            else if (normal == QLatin1String("waveform") && structured)
                source = engine->waveformDemo();
        } catch (const std::exception& failure) {
            error(QString::fromUtf8(failure.what()));
            return nullptr;
        }
    }

    Pane* before = current;
    auto* page = new Pane(this, kind);

    QStringList taken;
    for (const QPointer<Window>& window : std::as_const(rootWindow()->windows)) {
        if (!window)
            continue;
        for (Pane* other : std::as_const(window->pages)) {
            if (other->isControl())
                taken.append(other->title);
        }
    }
    const QString base = defaultTitle(normal);
    page->title = base;
    for (int number = 2; taken.contains(page->title); ++number)
        page->title = QStringLiteral("%1 %2").arg(base).arg(number);

    if (source) {
        page->sourceKey = source->config.key();
    } else if (normal == QLatin1String("control")) {
        page->sourceKey = sourceKey.startsWith(QLatin1String("serial:")) ? sourceKey : QString();
    } else {
        page->sourceKey = sourceKey;
    }
    attachPane(page);

    if (!select && before && pages.contains(before)) {
        const int index = paneIndex(ui->tabs, before);
        ui->tabs->setCurrentIndex(index);
        activate(index);
    }
    return page;
}

void Window::restoreInstruments(const QJsonObject& page, const QString& key)
{
    if (root || settings.contains(QStringLiteral("widget_pages")))
        return;
    QJsonArray wanted = page.value(QStringLiteral("instruments")).toArray();
    if (!page.contains(QStringLiteral("instruments")) && page.value(QStringLiteral("show_wave")).toBool())
        wanted.append(QJsonObject{{QStringLiteral("kind"), QStringLiteral("waveform")}});
    const int parser = page.value(QStringLiteral("parser")).toInt(0);
    if (parser != 0) {
        const bool hasStructured = std::any_of(wanted.begin(), wanted.end(), [](const QJsonValue& entry) {
            return entry.toObject().value(QStringLiteral("kind")) == QJsonValue(QStringLiteral("structured"));
        });
        if (!hasStructured)
            wanted.append(QJsonObject{{QStringLiteral("kind"), QStringLiteral("structured")},
                                      {QStringLiteral("parser"), parser - 1}});
    }
    for (qsizetype index = 0; index < wanted.size(); ++index) {
        QJsonObject entry = wanted.at(index).toObject();
        entry.insert(QStringLiteral("source_key"), key);
        wanted.replace(index, entry);
    }

    std::map<QString, int> seen;
    for (const QJsonValue& value : migrateInstrumentPages(wanted)) {
        QJsonObject entry = value.toObject();
        const QString kind = entry.value(QStringLiteral("kind")).toString();
        const int count = ++seen[kind];
        int existing = 0;
        for (const QPointer<Window>& window : std::as_const(windows)) {
            if (!window)
                continue;
            for (Pane* other : std::as_const(window->pages)) {
                if (other->isControl() && other->sourceKey == key && normalisedKind(other->kind) == kind)
                    ++existing;
            }
        }
        if (existing >= count)
            continue;
        entry.insert(QStringLiteral("source_key"), key);
        if (Pane* created = newInstrument(kind, nullptr, false, key))
            created->restore(entry);
    }
}

void Window::attachPane(Pane* page)
{
    page->window = this;
    pages.append(page);
    ui->stack->addWidget(page);
    returnMemoryWhenReleased(page);

    const bool blocked = ui->tabs->blockSignals(true);
    const int index = ui->tabs->addTab(tabText(page));
    if (page->isControl()) {
        ui->tabs->setTabIcon(index, icon(instrumentIconName(page->kind), theme.muted, 20));
        page->refreshSource();
    }
    ui->tabs->setTabData(index, QVariant::fromValue<QObject*>(page));

    auto* holder = new QWidget;
    auto* row = new QHBoxLayout(holder);
    row->setContentsMargins(0, 0, 8, 0);
    row->setSpacing(0);
    auto* closer = new IconButton(QStringLiteral("close"),
                                  page->isControl() ? QStringLiteral("关闭控件页面")
                                                    : QStringLiteral("关闭收发页面及连接"),
                                  holder);
    closer->setObjectName(QStringLiteral("closeTab"));
    closer->setFixedSize(26, 26);
    closer->theme = theme;
    row->addWidget(closer);
    holder->setFixedSize(34, 26);
    const QPointer<Pane> guarded(page);
    connect(closer, &IconButton::clicked, this, [this, guarded]() {
        if (guarded)
            closeTab(paneIndex(ui->tabs, guarded));
    });
    ui->tabs->setTabButton(index, QTabBar::RightSide, holder);
    ui->tabs->blockSignals(blocked);

    ui->tabs->setCurrentIndex(index);
    activate(index);
    adjustTabs();
    page->applyAppearance();
    if (root)
        setWindowTitle(ui->tabs->tabText(index) + QStringLiteral(" · Varnelle"));
}

void Window::activate(int index)
{
    Pane* page = tabPane(ui->tabs, index);
    if (!page || busy)
        return;
    if (sessionPane && !sessionPane->channel) {
        try {
            sessionPane->config = form();
        } catch (const std::exception&) {
            // A half-filled form is not stored; switching pages goes on.
        }
    }
    // Leaving a page ends its repeated sending.
    if (current && current != page && pages.contains(current))
        stopRepeatSend(current);
    current = page;
    ui->stack->setCurrentWidget(page);
    syncParameterPane(true);
    // The toggle, not the wish it remembers: a narrow window keeps its
    // floating sidebar closed until the user opens it.
    ui->parameterScroll->setVisible(ui->sidebarToggle->isChecked());
    ui->grip->setVisible(ui->sidebarToggle->isChecked());
    ui->sidebarToggle->setEnabled(true);
    updateStatus();
    if (root)
        setWindowTitle(ui->tabs->tabText(index) + QStringLiteral(" · Varnelle"));
}

void Window::showPane(Pane* page)
{
    if (!page || !page->window)
        return;
    Window* owner = page->window;
    const int index = paneIndex(owner->ui->tabs, page);
    if (index < 0)
        return;
    owner->ui->tabs->setCurrentIndex(index);
    owner->activate(index);
    if (owner->isMinimized())
        owner->showNormal();
    owner->raise();
    owner->activateWindow();
}

Pane* Window::findPane(Channel* channel)
{
    if (!channel)
        return nullptr;
    for (const QPointer<Window>& window : std::as_const(rootWindow()->windows)) {
        if (!window)
            continue;
        for (Pane* page : std::as_const(window->pages)) {
            if (!page->isControl() && page->channel && page->channel == channel)
                return page;
        }
    }
    return nullptr;
}

void Window::returnMemoryWhenReleased(Pane* page)
{
    // One collaborator for every window, so that pages closed in several
    // windows at once still come to one return.
    MemoryReturn* memory = rootWindow()->ui->memoryReturn;
    if (!memory)
        return;
    connect(page, &QObject::destroyed, memory, &MemoryReturn::request, Qt::UniqueConnection);
    if (TerminalView* terminal = page->terminalView())
        connect(terminal, &TerminalView::historyReleased, memory, &MemoryReturn::request, Qt::UniqueConnection);
}

void Window::closeTab(int index)
{
    Pane* page = tabPane(ui->tabs, index);
    if (!page)
        return;
    if (!page->isControl() && page->channel) {
        rootWindow()->views.insert(page->channel->config.key(), page->settings());
        engine->remove(page->channel->id);
        return;
    }
    const bool blocked = ui->tabs->blockSignals(true);
    ui->tabs->removeTab(index);
    ui->tabs->blockSignals(blocked);
    pages.removeAll(page);
    ui->stack->removeWidget(page);
    page->deleteLater();
    current = nullptr;
    if (sessionPane == page)
        sessionPane = nullptr;
    if (!pages.isEmpty())
        activate(ui->tabs->currentIndex());
    else
        attachPane(new Pane(this, QString()));
    adjustTabs();
}

void Window::adjustTabs()
{
    const int limit = std::max(64, ui->tabHeader->width() - (root ? 120 : 80));
    ui->tabs->setFixedWidth(std::min(ui->tabs->sizeHint().width(), limit));
}

} // namespace vn
