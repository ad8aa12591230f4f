#include "ui/window/Window.h"

#include "core/Channel.h"
#include "ui/kit/ConnectionBar.h"
#include "ui/kit/IconPainter.h"
#include "ui/pages/Pane.h"
#include "ui/window/ConnectionForm.h"
#include "ui/window/TabTitleEditor.h"
#include "ui/window/WindowWidgets.h"

#include <QCursor>
#include <QInputDialog>
#include <QLineEdit>
#include <QMenu>
#include <QStackedWidget>
#include <QStyle>
#include <QStyleOptionTab>
#include <QTimer>

namespace vn {

namespace {

bool activeChannelState(const QString& state)
{
    return state == QLatin1String("connected") || state == QLatin1String("listening")
        || state == QLatin1String("connecting") || state == QLatin1String("reconnecting");
}

} // namespace

void Window::tabMenu(const QPoint& position)
{
    Pane* page = tabPane(ui->tabs, ui->tabs->tabAt(position));
    if (!page)
        return;
    const QPointer<Pane> guarded(page);
    // Indices are looked up when an entry is chosen: tabs may move meanwhile.
    const auto indexOf = [this, guarded]() { return guarded ? paneIndex(ui->tabs, guarded) : -1; };

    QMenu menu(this);
    menu.setObjectName(QStringLiteral("tabMenu"));
    QAction* rename = menu.addAction(QStringLiteral("重命名标签\tF2"));
    rename->setObjectName(QStringLiteral("renameTab"));
    connect(rename, &QAction::triggered, this, [this, indexOf]() {
        QTimer::singleShot(0, this, [this, indexOf]() {
            if (const int index = indexOf(); index >= 0)
                beginTabRename(index);
        });
    });
    menu.addSeparator();
    if (!page->isControl() && page->channel) {
        const QPointer<Channel> channel = page->channel;
        const bool active = activeChannelState(channel->state);
        QAction* stop = menu.addAction(QStringLiteral("断开连接"));
        stop->setEnabled(active);
        connect(stop, &QAction::triggered, this, [channel, guarded]() {
            stopRepeatSend(guarded);
            if (channel)
                channel->close();
        });
        QAction* reopen = menu.addAction(QStringLiteral("重新连接"));
        reopen->setEnabled(!active);
        connect(reopen, &QAction::triggered, this, [channel]() {
            if (channel)
                channel->open();
        });
        connect(menu.addAction(QStringLiteral("重命名连接名称")), &QAction::triggered, this,
                [this, channel]() { renameConnection(channel); });
        menu.addSeparator();
        connect(menu.addAction(QStringLiteral("导出日志…")), &QAction::triggered, this, [guarded]() {
            if (guarded)
                guarded->exportLog();
        });
    }
    if (!page->isControl()) {
        connect(menu.addAction(QStringLiteral("清空显示")), &QAction::triggered, this, [guarded]() {
            if (guarded)
                guarded->clearView();
        });
    }
    connect(menu.addAction(QStringLiteral("移至独立窗口")), &QAction::triggered, this, [this, indexOf]() {
        if (const int index = indexOf(); index >= 0)
            detachConnection(index, QCursor::pos(), false);
    });
    menu.addSeparator();
    connect(menu.addAction(page->isControl() ? QStringLiteral("关闭控件页面")
                                             : QStringLiteral("关闭收发页面及连接")),
            &QAction::triggered, this, [this, indexOf]() {
                if (const int index = indexOf(); index >= 0)
                    closeTab(index);
            });
    menu.exec(ui->tabs->mapToGlobal(position));
}

void Window::renameConnection(Channel* channel)
{
    const QPointer<Channel> guarded(channel);
    if (!guarded)
        return;
    bool accepted = false;
    const QString text = QInputDialog::getText(this, QStringLiteral("重命名连接"), QStringLiteral("名称"),
                                               QLineEdit::Normal, guarded->name, &accepted)
                             .trimmed();
    if (!accepted || text.isEmpty() || !guarded)
        return;
    guarded->name = text;
    guarded->config.name = text;
    // Only the name field follows: the rest of the form may hold edits the
    // user has not applied yet.
    if (current && current->channel == guarded)
        ui->form->name->setText(text);
    syncConnections();
}

void Window::dockAfterMove(const QPoint& globalPos)
{
    if (!root)
        return;
    QPointer<Window> target;
    for (const QPointer<Window>& window : std::as_const(root->windows)) {
        if (window && window != this && cursorOver(window->ui->tabs, globalPos)) {
            target = window;
            break;
        }
    }
    if (!target)
        return;
    // After the window system has finished the move.
    QTimer::singleShot(0, this, [this, target]() {
        if (!target)
            return;
        closing = true;
        const QList<Pane*> moving = pages;
        for (Pane* page : moving)
            transferPane(page, target);
        close();
    });
}

void Window::beginTabRename(int index)
{
    Pane* page = tabPane(ui->tabs, index);
    if (!page)
        return;
    if (auto* open = ui->tabs->findChild<TabTitleEditor*>(QStringLiteral("tabTitleEditor"));
        open && !open->finished)
        open->finish(false);
    ui->tabs->setCurrentIndex(index);

    auto* editor = new TabTitleEditor(ui->tabs);
    editor->setText(ui->tabs->tabText(index));

    // Over the tab's text as the style lays it out, short of the close button.
    QStyleOptionTab option;
    option.initFrom(ui->tabs);
    option.rect = ui->tabs->tabRect(index);
    option.text = ui->tabs->tabText(index);
    option.icon = ui->tabs->tabIcon(index);
    option.iconSize = ui->tabs->iconSize();
    option.shape = ui->tabs->shape();
    QWidget* button = ui->tabs->tabButton(index, QTabBar::RightSide);
    if (button)
        option.rightButtonSize = button->size();
    QRect text = ui->tabs->style()->subElementRect(QStyle::SE_TabBarTabText, &option, ui->tabs);
    if (button && text.left() < button->x())
        text.setRight(button->x() - 4);
    const int height = editor->fontMetrics().height();
    const int middle = (option.rect.top() + option.rect.bottom()) / 2;
    text.setTop(middle - height / 2 - 3);
    text.setBottom(middle + height / 2 + 2);
    editor->setGeometry(text);

    const QPointer<Pane> guarded(page);
    editor->commit = [this, editor, guarded](bool accepted) {
        if (!accepted || !guarded || guarded->window != this)
            return;
        const QString title = editor->text().trimmed();
        const int at = paneIndex(ui->tabs, guarded);
        if (title.isEmpty() || at < 0)
            return;
        guarded->title = title;
        ui->tabs->setTabText(at, title);
        if (root && current == guarded)
            setWindowTitle(title + QStringLiteral(" · Varnelle"));
        syncConnections();
        adjustTabs();
        saveSettings();
    };
    editor->show();
    editor->raise();
    editor->setFocus();
    editor->selectAll();
}

QMenu* Window::newPageMenu()
{
    auto* menu = new QMenu(this);
    menu->setObjectName(QStringLiteral("newPageMenu"));
    QAction* receive = menu->addAction(icon(QStringLiteral("lightning"), theme.text, 20),
                                       QStringLiteral("新建收发页面"));
    receive->setObjectName(QStringLiteral("newReceivePage"));
    connect(receive, &QAction::triggered, this, [this]() { newConnection(); });
    menu->addSeparator();
    QMenu* controls = menu->addMenu(icon(QStringLiteral("widgets"), theme.text, 20), QStringLiteral("新建控件页面"));
    controls->setObjectName(QStringLiteral("newWidgetPage"));
    const std::pair<const char*, QString> entries[] = {
        {"waveform", QStringLiteral("数值波形")},
        {"json", QStringLiteral("JSON")},
        {"xml", QStringLiteral("XML")},
        {"control", QStringLiteral("串口控制")},
    };
    for (const auto& [kind, text] : entries) {
        const QString name = QString::fromLatin1(kind);
        QAction* action = controls->addAction(icon(instrumentIconName(name), theme.muted, 20), text);
        action->setObjectName(QStringLiteral("new_") + name);
        connect(action, &QAction::triggered, this, [this, name]() {
            Channel* channel = current && current->channel ? current->channel.data() : nullptr;
            newInstrument(name, channel, true, QString());
        });
    }
    return menu;
}

void Window::transferPane(Pane* page, Window* target)
{
    if (!page || !target || target == this || !pages.contains(page))
        return;
    if (page == current && !page->isControl() && !page->channel) {
        try {
            page->config = form();
        } catch (const std::exception&) {
            // The page keeps the settings it had.
        }
    }
    stopRepeatSend(page);
    const bool blocked = ui->tabs->blockSignals(true);
    ui->tabs->removeTab(paneIndex(ui->tabs, page));
    pages.removeAll(page);
    ui->stack->removeWidget(page);
    if (current == page)
        current = nullptr;
    if (sessionPane == page)
        sessionPane = nullptr;
    ui->tabs->blockSignals(blocked);

    target->attachPane(page);
    if (!closing) {
        if (!pages.isEmpty())
            activate(ui->tabs->currentIndex());
        else
            newConnection();
    }
    adjustTabs();
    target->syncConnections();
}

Window* Window::detachConnection(int index, const QPoint& globalPos, bool systemMove)
{
    Pane* page = tabPane(ui->tabs, index);
    if (!page)
        return nullptr;
    auto* torn = new Window(engine, server, settingsPath, rootWindow());
    // The new window's own empty page makes way for the one moving in.
    const QList<Pane*> fresh = torn->pages;
    const bool blocked = torn->ui->tabs->blockSignals(true);
    for (Pane* empty : fresh) {
        torn->ui->tabs->removeTab(paneIndex(torn->ui->tabs, empty));
        torn->ui->stack->removeWidget(empty);
        delete empty;
    }
    torn->ui->tabs->blockSignals(blocked);
    torn->pages.clear();
    torn->current = nullptr;
    torn->sessionPane = nullptr;

    transferPane(page, torn);
    torn->resize(1100, 760);
    torn->move(globalPos - QPoint(100, 14));
    torn->show();
    torn->raise();
    torn->activateWindow();
    if (systemMove)
        beginNativeMove(torn);
    return torn;
}

} // namespace vn
