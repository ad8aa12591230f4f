#include "ui/window/Window.h"

#include "core/Channel.h"
#include "core/Engine.h"
#include "ui/kit/Combo.h"
#include "ui/pages/Pane.h"
#include "ui/window/AdaptiveStack.h"
#include "ui/window/ConnectionForm.h"
#include "ui/window/PortText.h"
#include "ui/window/WindowWidgets.h"

#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QStatusBar>

namespace vn {

namespace {

// Every session page of every window, the root window's first, each window's
// in attach order.
QList<Pane*> sessionPages(Window* root)
{
    QList<Pane*> found;
    for (const QPointer<Window>& window : std::as_const(root->windows)) {
        if (!window)
            continue;
        for (Pane* page : std::as_const(window->pages)) {
            if (!page->isControl())
                found.append(page);
        }
    }
    return found;
}

QString connectionKey(const Pane* page)
{
    return page->channel ? page->channel->config.key() : page->config.key();
}

// The session page the sidebar should edit for the current page; null when
// there is none.
Pane* sidebarTarget(Window* window)
{
    const QList<Pane*> sessions = sessionPages(window->rootWindow());
    Pane* shown = window->current;
    if (shown && !shown->isControl())
        return shown;
    if (shown) {
        for (Pane* page : sessions) {
            const bool sameChannel = shown->channel && page->channel == shown->channel;
            const bool sameKey = !shown->sourceKey.isEmpty() && connectionKey(page) == shown->sourceKey;
            if (sameChannel || sameKey)
                return page;
        }
        if (!shown->sourceKey.isEmpty())
            return nullptr;
    }
    if (window->sessionPane && sessions.contains(window->sessionPane.data()))
        return window->sessionPane;
    return sessions.value(0, nullptr);
}

} // namespace

Config Window::form() const
{
    return ui->form->read();
}

void Window::loadForm(const Config& config)
{
    ConnectionForm* controls = ui->form;
    const bool wasBusy = busy;
    busy = true;
    lastForm = config.json();
    controls->write(config);

    // "loop://" is shown as it stands whoever chose it, the user or an agent:
    // "NULL" means no port, and connecting again must find the loopback.
    QString shown = config.port;
    if (const int index = findPortItem(controls->port, config.port); index >= 0) {
        shown = controls->port->itemText(index);
    } else if (ui->portsListed && config.port != QLatin1String("loop://") && !holdsSerialPort(config.port)
               && !keepsDevicePath(config.port)) {
        shown = QStringLiteral("NULL");
    }
    controls->port->setEditText(shown);
    if (sessionPane && !sessionPane->channel)
        sessionPane->config.port = shown;

    if (const int index = ConnectionForm::kindIndex(config.kind); index >= 0)
        controls->protocol->setCurrentIndex(index);
    protocolChanged();
    busy = wasBusy;
}

void Window::protocolChanged()
{
    ConnectionForm* controls = ui->form;
    const int index = controls->protocol->currentIndex();
    if (!busy && sessionPane && !sessionPane->channel && index >= 0)
        sessionPane->config.kind = ConnectionForm::kinds().value(index);

    controls->stack->setCurrentIndex(index == 0 ? 0 : index == 4 ? 2 : 1);
    const bool ssh = index == 4;
    controls->connectionHint->setText(
        ssh ? QStringLiteral("读取 ~/.ssh/config 中的主机别名\n使用系统密钥或代理登录") : QString());
    controls->connectionHint->setVisible(ssh);

    const bool remote = index == 1 || index == 3;
    const bool bind = index == 2 || index == 3;
    for (QWidget* widget : {static_cast<QWidget*>(controls->remoteCaption), static_cast<QWidget*>(controls->remoteHost),
                            static_cast<QWidget*>(controls->remotePort)})
        widget->setVisible(remote);
    for (QWidget* widget : {static_cast<QWidget*>(controls->bindCaption), static_cast<QWidget*>(controls->bindHost),
                            static_cast<QWidget*>(controls->bindPort)})
        widget->setVisible(bind);

    controls->stack->updateGeometry();
    if (!busy)
        updateStatus();
}

void Window::syncParameterPane(bool force)
{
    ConnectionForm* controls = ui->form;
    const auto enable = [controls](bool on) {
        controls->protocol->setEnabled(on);
        controls->stack->setEnabled(on);
        controls->name->setEnabled(on);
    };
    // What the user typed into an unconnected page stays with that page.
    const auto keepTyped = [this]() {
        if (!sessionPane || sessionPane->channel)
            return;
        try {
            sessionPane->config = form();
        } catch (const std::exception&) {
            // A half-filled form is not stored; the page keeps its settings.
        }
    };

    Pane* target = sidebarTarget(this);
    if (!target) {
        keepTyped();
        sessionPane = nullptr;
        enable(false);
        return;
    }

    const bool changed = target->channel && target->channel->config.json() != lastForm;
    if (target == sessionPane && !force && !changed) {
        enable(true);
        return;
    }
    if (target != sessionPane) {
        keepTyped();
        sessionPane = target;
    }
    loadForm(target->channel ? target->channel->config : target->config);
    enable(true);
}

void Window::applyBaud()
{
    if (!sessionPane || !sessionPane->channel || busy)
        return;
    const QPointer<Channel> channel = sessionPane->channel;
    if (channel->state != QLatin1String("connected") || channel->config.kind != QLatin1String("serial"))
        return;
    try {
        const Config wanted = form();
        if (wanted.key() == channel->config.key() && wanted.json() != channel->config.json()) {
            channel->applySerial(wanted);
            for (const QPointer<Window>& window : std::as_const(rootWindow()->windows)) {
                if (window)
                    window->syncParameterPane(false);
            }
            if (channel)
                statusBar()->showMessage(
                    QStringLiteral("驱动已确认波特率：%1 bps").arg(channel->appliedBaudrate), 4000);
        }
    } catch (const std::exception& failure) {
        if (channel)
            loadForm(channel->config);
        error(QString::fromUtf8(failure.what()));
    }
    updateStatus();
}

void Window::error(const QString& message)
{
    statusBar()->showMessage(QStringLiteral("操作失败：") + message, 12000);
}

} // namespace vn
