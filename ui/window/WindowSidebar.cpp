#include "ui/window/Window.h"

#include "core/Channel.h"
#include "core/Engine.h"
#include "core/ssh/SshProfiles.h"
#include "mcp/McpServer.h"
#include "ui/kit/ConnectionBar.h"
#include "ui/kit/IconPainter.h"
#include "ui/kit/StatusLed.h"
#include "ui/pages/Pane.h"
#include "ui/window/StatusLine.h"
#include "ui/window/WindowWidgets.h"

#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QStackedWidget>
#include <QStatusBar>

namespace vn {

namespace {

bool activeState(const QString& state)
{
    return state == QLatin1String("connected") || state == QLatin1String("listening")
        || state == QLatin1String("connecting") || state == QLatin1String("reconnecting");
}

QIcon stateSquare(const Theme& theme, const QString& state)
{
    QColor colour = theme.muted;
    if (state == QLatin1String("connected") || state == QLatin1String("listening"))
        colour = theme.green;
    else if (state == QLatin1String("error"))
        colour = theme.red;
    else if (state == QLatin1String("connecting") || state == QLatin1String("reconnecting"))
        colour = theme.amber;
    QPixmap picture(16, 16);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    painter.fillRect(QRect(4, 4, 8, 8), colour);
    return QIcon(picture);
}

bool registered(Engine* engine, Channel* channel)
{
    for (const auto& entry : engine->channels) {
        if (entry.second == channel)
            return true;
    }
    return false;
}

} // namespace

Config Window::form() const
{
    return ui->shownConfig;
}

void Window::loadForm(const Config& config)
{
    busy = true;
    ui->shownConfig = config;
    if (ui->shownConfig.port == QLatin1String("loop://"))
        ui->shownConfig.port = QStringLiteral("NULL");
    lastForm = ui->shownConfig.json();
    busy = false;
    protocolChanged();
}

void Window::protocolChanged()
{
    if (!busy)
        updateStatus();
}

void Window::applyBaud() {}

void Window::refreshPorts()
{
    if (closing || !portProvider)
        return;
    lastPorts = portProvider();
    updateStatus();
}

void Window::refreshSshProfiles()
{
    sshFingerprint = SshProfiles::fingerprint();
}

void Window::syncParameterPane(bool)
{
    Pane* target = nullptr;
    if (current && !current->isControl()) {
        target = current;
    } else if (current) {
        for (Pane* page : std::as_const(pages)) {
            if (!page->isControl() && page->channel && page->channel->config.key() == current->sourceKey) {
                target = page;
                break;
            }
        }
    }
    if (!target || target == sessionPane)
        return;
    sessionPane = target;
    loadForm(target->channel ? target->channel->config : target->config);
}

void Window::connectionAction()
{
    if (!current)
        return;
    syncParameterPane(false);
    if (!sessionPane) {
        newConnection();
        return;
    }
    const bool blocked = engine->signalsBlocked();
    try {
        refreshPorts();
        const Config config = form();
        Channel* bound = sessionPane->channel;
        if (bound) {
            const bool loopback = bound->config.kind == QLatin1String("serial")
                && config.kind == QLatin1String("serial") && config.port == QLatin1String("NULL");
            if ((config.key() == bound->config.key() || loopback) && activeState(bound->state)) {
                bound->close();
                updateStatus();
                return;
            }
        }
        engine->blockSignals(true);
        busy = true;
        Channel* channel = engine->open(config);
        busy = false;
        if (Pane* shown = findPane(channel)) {
            showPane(shown);
        } else if (!sessionPane->channel) {
            sessionPane->setChannel(channel);
        } else {
            Pane* page = newConnection();
            page->setChannel(channel);
            loadForm(config);
        }
        for (const QPointer<Window>& window : std::as_const(rootWindow()->windows)) {
            if (window)
                window->syncConnections();
        }
        engine->blockSignals(blocked);
    } catch (const std::exception& failure) {
        busy = false;
        engine->blockSignals(blocked);
        error(QString::fromUtf8(failure.what()));
    }
    updateStatus();
}

void Window::syncConnections()
{
    if (busy || closing)
        return;

    const QList<Pane*> before = pages;
    for (Pane* page : before) {
        if (page->isControl() || !page->channel || registered(engine, page->channel))
            continue;
        const bool blocked = ui->tabs->blockSignals(true);
        ui->tabs->removeTab(paneIndex(ui->tabs, page));
        ui->tabs->blockSignals(blocked);
        pages.removeAll(page);
        ui->stack->removeWidget(page);
        if (sessionPane == page)
            sessionPane = nullptr;
        page->deleteLater();
    }

    for (const auto& entry : engine->channels) {
        Channel* channel = entry.second;
        if (channel->config.isBuiltinDemo())
            continue;
        Pane* page = nullptr;
        for (Pane* candidate : std::as_const(pages)) {
            if (!candidate->isControl() && candidate->channel == channel) {
                page = candidate;
                break;
            }
        }
        if (!page) {
            if (root || findPane(channel))
                continue;
            Pane* remembered = current;
            page = newConnection();
            page->setChannel(channel);
            page->restore(views.value(channel->config.key()).toObject());
            if (remembered && pages.contains(remembered)) {
                const int index = paneIndex(ui->tabs, remembered);
                ui->tabs->setCurrentIndex(index);
                activate(index);
            }
        }
        const int index = paneIndex(ui->tabs, page);
        const QString text = page->title.isEmpty() ? channel->name : page->title;
        ui->tabs->setTabIcon(index, stateSquare(theme, channel->state));
        ui->tabs->setTabText(index, text);
        ui->tabs->setTabToolTip(index, text + QStringLiteral(" · ") + stateText(channel->state)
                                           + QLatin1Char('\n') + channel->error);
    }

    for (Pane* page : std::as_const(pages)) {
        if (!page->isControl())
            continue;
        page->refreshSource();
        const int index = paneIndex(ui->tabs, page);
        ui->tabs->setTabIcon(index, icon(instrumentIconName(page->kind), theme.muted, 20));
        ui->tabs->setTabToolTip(index, page->sourceKey.isEmpty()
                                           ? QStringLiteral("控件页面 · 请选择数据来源")
                                           : QStringLiteral("数据来源：") + page->sourceKey);
    }

    if (!pages.isEmpty() && !pages.contains(current)) {
        current = nullptr;
        activate(ui->tabs->currentIndex());
    } else if (pages.isEmpty()) {
        current = nullptr;
        newConnection();
    }
    syncParameterPane(false);
    adjustTabs();
    updateStatus();
    if (root && current)
        setWindowTitle(ui->tabs->tabText(paneIndex(ui->tabs, current)) + QStringLiteral(" · Varnelle"));
}

void Window::updateStatus()
{
    if (!current || busy)
        return;
    Channel* bound = sessionPane ? sessionPane->channel.data() : nullptr;
    struct Look {
        const char* state;
        const char* text;
        StatusLed::State lamp;
    };
    static const Look looks[] = {
        {"connected", "已连接", StatusLed::Green},   {"listening", "监听中", StatusLed::Green},
        {"connecting", "连接中", StatusLed::Amber},  {"reconnecting", "重连中", StatusLed::Amber},
        {"error", "连接异常", StatusLed::Red},       {"closed", "已断开", StatusLed::Neutral},
    };
    QString text = QStringLiteral("未连接");
    StatusLed::State lamp = StatusLed::Neutral;
    if (bound) {
        for (const Look& look : looks) {
            if (bound->state == QLatin1String(look.state)) {
                text = QString::fromUtf8(look.text);
                lamp = look.lamp;
            }
        }
    }
    ui->connectionLed->setState(lamp);
    ui->connectionState->setText(text);

    QString left;
    if (Channel* shown = current->channel) {
        left = stateText(shown->state);
        if (current->isControl())
            left = shown->name + QStringLiteral("    ") + left;
        left += QStringLiteral("    接收 %1 B    发送 %2 B").arg(shown->rxBytes).arg(shown->txBytes);
    } else if (current->isControl()) {
        left = current->sourceKey.isEmpty() ? QStringLiteral("控件页面    请选择数据来源")
                                            : QStringLiteral("控件页面    等待数据来源连接");
    } else {
        left = form().kind == QLatin1String("ssh") ? QStringLiteral("尚未连接    选择 SSH 主机后建立连接")
                                                  : QStringLiteral("尚未连接    选择端口开始接收");
    }
    ui->status->message->setText(left);

    QString mcp = server->isListening() ? QStringLiteral("MCP 就绪  ·  %1").arg(server->serverPort())
                                        : QStringLiteral("MCP 离线");
    QStringList pending;
    for (const QJsonValue& value : std::as_const(server->agentChecks)) {
        const QJsonObject check = value.toObject();
        if (!check.value(QStringLiteral("matches")).toBool())
            pending.append(check.value(QStringLiteral("name")).toString() + QStringLiteral("：")
                           + check.value(QStringLiteral("status")).toString());
    }
    QString tip = server->lastError.isEmpty() ? server->url() : server->lastError;
    if (!pending.isEmpty()) {
        mcp += QStringLiteral(" · %1 个 Agent 待检查").arg(pending.size());
        tip += QLatin1Char('\n') + pending.join(QLatin1Char('\n'))
            + QStringLiteral("\n设置 → AI / MCP → Agent 接入可更新配置");
    }
    ui->status->mcp->setText(mcp);
    ui->status->mcp->setToolTip(tip);
}

void Window::error(const QString& message)
{
    statusBar()->showMessage(QStringLiteral("操作失败：") + message, 12000);
}

} // namespace vn
