#include "ui/window/Window.h"

#include "core/Channel.h"
#include "core/Engine.h"
#include "mcp/McpServer.h"
#include "platform/SerialDevice.h"
#include "ui/kit/Combo.h"
#include "ui/kit/IconButton.h"
#include "ui/kit/StatusLed.h"
#include "ui/pages/Pane.h"
#include "ui/window/ConnectionForm.h"
#include "ui/window/PortText.h"
#include "ui/window/StatusLine.h"
#include "ui/window/StatusText.h"
#include "ui/window/WindowWidgets.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>

namespace vn {

namespace {

struct Look {
    const char* state;
    const char* text;
    StatusLed::State lamp;
};

constexpr Look Looks[] = {
    {"connected", "已连接", StatusLed::Green},  {"listening", "监听中", StatusLed::Green},
    {"connecting", "连接中", StatusLed::Amber}, {"reconnecting", "重连中", StatusLed::Amber},
    {"error", "连接异常", StatusLed::Red},      {"closed", "已断开", StatusLed::Neutral},
};

bool activeState(const QString& state)
{
    return state == QLatin1String("connected") || state == QLatin1String("listening")
        || state == QLatin1String("connecting") || state == QLatin1String("reconnecting");
}

QString buttonText(const QString& state)
{
    if (state == QLatin1String("reconnecting"))
        return QStringLiteral("停止重连");
    if (state == QLatin1String("connecting"))
        return QStringLiteral("取消连接");
    if (state == QLatin1String("listening"))
        return QStringLiteral("停止监听");
    return QStringLiteral("断开连接");
}

// Whether the sidebar shows the connection of this channel.
bool formShows(const ConnectionForm* form, const Channel* channel)
{
    const QString kind = ConnectionForm::kinds().value(form->protocol->currentIndex());
    if (channel->config.kind != kind)
        return false;
    if (kind == QLatin1String("serial")) {
        const QString text = form->port->currentText();
        return text == channel->config.port || text == QLatin1String("NULL");
    }
    if (kind == QLatin1String("ssh")) {
        return form->sshHost->currentText().trimmed() == channel->config.ssh_host
            && form->sshUser->text().trimmed() == channel->config.ssh_user
            && form->sshPort->text().trimmed().toInt() == channel->config.ssh_port
            && form->sshIdentity->text().trimmed() == channel->config.ssh_identity;
    }
    return true;
}

// The port object behind the port box's text, or an empty object.
QJsonObject shownPortInfo(const ConnectionForm* form)
{
    const QString text = form->port->currentText();
    const int index = findPortItem(form->port, text);
    if (index < 0 && isDevicePath(text)) {
        // A typed path is described by the listed port at that path, so a
        // device typed before it was plugged in shows up once it is.
        for (int item = 1; item < form->port->count(); ++item) {
            const QJsonObject port = form->port->itemData(item, PortObjectRole).toJsonObject();
            if (port.value(QStringLiteral("system_location")).toString() == text)
                return port;
        }
    }
    if (index < 0)
        return {};
    const QJsonObject port = form->port->itemData(index, PortObjectRole).toJsonObject();
    if (!samePortText(port.value(QStringLiteral("port")).toString(), text))
        return {};
    return port;
}

} // namespace

void Window::updateStatus()
{
    if (!current || busy)
        return;
    ConnectionForm* controls = ui->form;
    Pane* page = sessionPane.data();
    Channel* bound = page ? page->channel.data() : nullptr;
    const bool serialShown = controls->protocol->currentIndex() == 0;

    // Script row.
    const bool scripts = page && page->supportsScript() && serialShown;
    controls->scriptControls->setVisible(scripts);
    controls->scriptToggle->setEnabled(scripts);
    controls->scriptEdit->setEnabled(scripts);
    {
        const QSignalBlocker blocker(controls->scriptToggle);
        controls->scriptToggle->setChecked(scripts && (bound ? bound->scriptEnabled : page->scriptEnabled));
    }
    const bool failed = scripts && bound && !bound->scriptError.isEmpty();
    controls->scriptHint->setVisible(failed);
    if (bound && !bound->scriptError.isEmpty())
        controls->scriptHint->setText(QStringLiteral("解析已停用：") + bound->scriptError);
    else if (bound)
        controls->scriptHint->setText(QStringLiteral("已解析 %1 帧").arg(bound->scriptFrames));
    else
        controls->scriptHint->setText(QStringLiteral("连接后开始接收字节"));

    // Lamp, state text and connect button.
    const bool matched = bound && formShows(controls, bound);
    const bool active = bound && activeState(bound->state);
    if (active && matched)
        controls->connectButton->setText(buttonText(bound->state));
    else
        controls->connectButton->setText(page ? QStringLiteral("建立连接") : QStringLiteral("新建收发页面"));
    QString text = QStringLiteral("未连接");
    StatusLed::State lamp = StatusLed::Neutral;
    if (matched) {
        for (const Look& look : Looks) {
            if (bound->state == QLatin1String(look.state)) {
                text = QString::fromUtf8(look.text);
                lamp = look.lamp;
            }
        }
    }
    QString tip = text;
    if (matched && !bound->error.isEmpty())
        tip += QLatin1Char('\n') + bound->error;
    controls->led->setState(lamp);
    controls->led->setAccessibleName(text);
    controls->led->setToolTip(tip);
    controls->state->setText(text);
    controls->state->setToolTip(tip);
    controls->connectButton->setAccessibleDescription(text);

    // Left text of the status bar, from the page shown.
    // In a narrow window the state stays longest; the port and rate, shown in
    // the sidebar too, go first, then the sent and the received counts, then
    // a control page's source name, then the hints.
    StatusText* message = ui->status->message;
    if (Channel* shown = current->channel) {
        QList<StatusText::Field> fields;
        if (current->isControl())
            fields.append({shown->name, 1});
        fields.append({stateText(shown->state), 0});
        if (shown->config.kind == QLatin1String("serial") && shown->appliedBaudrate != 0)
            fields.append({QStringLiteral("%1 · %2 bps").arg(shown->config.port).arg(shown->appliedBaudrate), 4});
        fields.append({QStringLiteral("接收 %1 B").arg(shown->rxBytes), 2});
        fields.append({QStringLiteral("发送 %1 B").arg(shown->txBytes), 3});
        message->setFields(fields);
        message->setToolTip(shown->error);
    } else if (current->isControl()) {
        message->setFields({{QStringLiteral("控件页面"), 0},
                            {current->sourceKey.isEmpty() ? QStringLiteral("请选择数据来源")
                                                          : QStringLiteral("等待数据来源连接"),
                             1}});
    } else {
        message->setFields({{QStringLiteral("尚未连接"), 0},
                            {controls->protocol->currentIndex() == 4 ? QStringLiteral("选择 SSH 主机后建立连接")
                                                                     : QStringLiteral("选择端口开始接收"),
                             1}});
    }

    // Port details: the listed port, or the one remembered for a vanished
    // device whose channel waits for it.
    const QString portText = controls->port->currentText();
    QJsonObject info = shownPortInfo(controls);
    if (page && matched && bound->config.kind == QLatin1String("serial")) {
        const QJsonObject saved = page->savedPort;
        if (info.isEmpty() && samePortText(saved.value(QStringLiteral("port")).toString(), portText))
            info = saved;
        else if (!info.isEmpty())
            page->savedPort = info;
    }
    QString details = portDescription(info, false);
    // A typed path whose device is not there (yet) says so; the note goes once
    // the node appears. A held channel's own note already tells it is awaited.
    const bool awaited = matched && bound->state == QLatin1String("reconnecting");
    if (details.isEmpty() && serialShown && !awaited && isDevicePath(portText)
        && !platform::SerialDevice::exists(portText))
        details = QStringLiteral("设备不存在，接入后自动识别");
    controls->portDetails->setText(details);
    controls->portDetails->setVisible(!details.isEmpty());
    const QString portTip = portText != QLatin1String("NULL")
        ? portText + QLatin1Char('\n') + portDescription(info, true)
        : QStringLiteral("选择串口；设备插拔时列表会自动更新");
    controls->port->setToolTip(portTip);
    controls->portDetails->setToolTip(portTip);

    QString noteText;
    if (portText != QLatin1String("NULL") && matched && bound->config.kind == QLatin1String("serial")) {
        if (bound->state == QLatin1String("reconnecting"))
            noteText = QStringLiteral("%1 已断开，等待设备恢复").arg(bound->config.port);
        else if (bound->appliedBaudrate != 0)
            noteText = QStringLiteral("驱动已确认 %1 bps").arg(bound->appliedBaudrate);
    }
    if (info.value(QStringLiteral("usb_serial_jtag")).toBool()) {
        if (!noteText.isEmpty())
            noteText += QLatin1Char('\n');
        noteText += QStringLiteral("USB Serial/JTAG · 速率由 USB 决定");
    }
    controls->serialNote->setText(noteText);
    controls->serialNote->setVisible(!noteText.isEmpty());

    // MCP label.
    QString mcp = server->isListening() ? QStringLiteral("MCP 就绪  ·  %1").arg(server->serverPort())
                                        : QStringLiteral("MCP 离线");
    QStringList pending;
    for (const QJsonValue& value : std::as_const(server->agentChecks)) {
        const QJsonObject check = value.toObject();
        if (!check.value(QStringLiteral("matches")).toBool())
            pending.append(check.value(QStringLiteral("name")).toString() + QStringLiteral("：")
                           + check.value(QStringLiteral("status")).toString());
    }
    QString mcpTip = server->lastError.isEmpty() ? server->url() : server->lastError;
    if (!server->refusalNote.isEmpty())
        mcpTip += QLatin1Char('\n') + server->refusalNote;
    if (!pending.isEmpty()) {
        mcp += QStringLiteral(" · %1 个 Agent 待检查").arg(pending.size());
        mcpTip += QLatin1Char('\n') + pending.join(QLatin1Char('\n'))
            + QStringLiteral("\n设置 → AI / MCP → Agent 接入可更新配置");
    }
    ui->status->mcp->setText(mcp);
    ui->status->mcp->setToolTip(mcpTip);
}

} // namespace vn
