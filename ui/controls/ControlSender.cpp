#include "ui/controls/ControlSender.h"

#include "core/Channel.h"
#include "core/Fail.h"
#include "ui/controls/ControlPacket.h"

#include <QLabel>
#include <QTextCodec>
#include <QWidget>

#include <algorithm>

namespace vn {

namespace {

bool isValid(const ControlRow& row)
{
    return row.preview && row.preview->property("valid").toBool();
}

} // namespace

ControlSender::ControlSender(QWidget* panel, ControlRows& rows, QLabel* status)
    : m_panel(panel), m_rows(rows), m_status(status)
{
    flushTimer.setSingleShot(true);
    flushTimer.setTimerType(Qt::PreciseTimer);
    connect(&flushTimer, &QTimer::timeout, this, &ControlSender::flushPending);
}

int ControlSender::queueLimit(int baudRate)
{
    if (baudRate < 9900)
        return 32;
    if (baudRate >= 153900)
        return 512;
    return baudRate / 300;
}

bool ControlSender::ready() const
{
    return m_channel && m_channel->state == QLatin1String("connected") && !m_channel->transferActive();
}

void ControlSender::setChannel(Channel* candidate)
{
    Channel* target = candidate && candidate->config.kind == QLatin1String("serial") ? candidate : nullptr;
    const int generation = target ? target->serialGeneration : -1;

    const bool same = m_channel && target && m_channel.data() == target && m_serialGeneration == generation;
    if (same) {
        if (target->state != QLatin1String("connected"))
            cancelPending();
    } else {
        const bool hadNone = !m_channel && m_serialGeneration == -1;
        cancelPending();
        if (target)
            m_status->setText(QStringLiteral("控制目标：") + target->name);
        else if (!hadNone)
            m_status->setText(QStringLiteral("选择已建立的串口连接"));
        m_channel = target;
        m_serialGeneration = generation;
    }

    Q_EMIT channelApplied(m_channel.data());
    refreshButtons();
}

void ControlSender::refreshButtons()
{
    if (ready()) {
        for (const auto& row : m_rows)
            if (row->sendButton)
                row->sendButton->setEnabled(isValid(*row));
        return;
    }
    cancelPending();
    for (const auto& row : m_rows)
        if (row->sendButton)
            row->sendButton->setEnabled(false);
}

void ControlSender::updatePreview(ControlRow& row)
{
    bool valid = false;
    QString text;
    try {
        const QByteArray bytes = controlPacket(row.control);
        const QJsonValue format = row.control.value(QStringLiteral("format"));
        if (format.isString() && format.toString() == QLatin1String("text")) {
            const QJsonValue encoding = row.control.value(QStringLiteral("encoding"));
            const QString name = encoding.isString() ? encoding.toString() : QStringLiteral("utf-8");
            QTextCodec* codec = QTextCodec::codecForName(name.toLatin1());
            QString decoded = codec ? codec->toUnicode(bytes) : QString();
            decoded.replace(QLatin1Char('\r'), QLatin1String("\\r"));
            decoded.replace(QLatin1Char('\n'), QLatin1String("\\n"));
            text = QStringLiteral("文本：") + decoded + QLatin1Char('\n');
        }
        text += QStringLiteral("字节（%1）：%2")
                    .arg(bytes.size())
                    .arg(QString::fromLatin1(bytes.toHex(' ').toUpper()));
        valid = true;
    } catch (const std::exception& error) {
        text = QStringLiteral("格式错误：") + errorText(error);
    }

    if (row.preview) {
        row.preview->setText(text);
        row.preview->setProperty("valid", valid);
        const bool wanted = row.previewToggle && row.previewToggle->isChecked();
        row.preview->setVisible(!valid || wanted);
    }
    if (row.sendButton)
        row.sendButton->setEnabled(ready() && valid);
}

void ControlSender::valueChanged(ControlRow& row, const QString& value)
{
    row.control.insert(QStringLiteral("value"), value);
    updatePreview(row);
    const bool autoSend = row.autoSend && row.autoSend->isChecked();
    if (autoSend && m_panel->isVisible() && row.sendButton && row.sendButton->isEnabled() && m_channel) {
        row.pendingChannel = m_channel;
        row.pendingGeneration = m_channel->serialGeneration;
        row.pending = true;
        if (!flushTimer.isActive())
            flushTimer.start(0);
    }
    Q_EMIT valueEdited();
}

void ControlSender::flushPending()
{
    int delay = kGapMs;
    bool again = false;
    // Sending can reach the event loop only through the channel, never a
    // restore, so the rows stay put for the whole walk.
    for (const auto& entry : m_rows) {
        ControlRow& row = *entry;
        if (!row.pending)
            continue;
        Channel* live = m_channel.data();
        const bool autoSend = row.autoSend && row.autoSend->isChecked();
        if (!m_panel->isVisible() || !autoSend || !live || row.pendingChannel.data() != live
            || row.pendingGeneration != live->serialGeneration
            || live->state != QLatin1String("connected") || live->transferActive()) {
            row.pending = false;
            continue;
        }
        const qint64 elapsed = row.lastSent.isValid() ? row.lastSent.elapsed() : qint64(kGapMs);
        if (live->serialPort && live->serialPort->bytesToWrite() > queueLimit(live->config.baudrate)) {
            delay = std::min(delay, kRetryMs);
            again = true;
            continue;
        }
        if (elapsed >= kGapMs) {
            row.pending = false;
            send(row);
            row.lastSent.start();
        } else {
            delay = std::min(delay, std::max(1, int(kGapMs - elapsed)));
            again = true;
        }
    }
    if (again)
        flushTimer.start(delay);
}

void ControlSender::send(ControlRow& row)
{
    Channel* live = m_channel.data();
    if (!live || live->config.kind != QLatin1String("serial") || live->state != QLatin1String("connected")) {
        m_status->setText(QStringLiteral("发送失败：请先建立并选择串口连接"));
        return;
    }
    try {
        const QByteArray bytes = controlPacket(row.control);
        live->send(bytes, QString(), QStringLiteral("control-panel"));
        // One arg() call, so a "%" in the name or title is never read as a marker.
        m_status->setText(QStringLiteral("已向 %1 发送 %2 字节 · %3")
                              .arg(live->name, QString::number(bytes.size()),
                                   row.control.value(QStringLiteral("title")).toVariant().toString()));
        Q_EMIT packetSent(bytes);
    } catch (const std::exception& error) {
        m_status->setText(QStringLiteral("发送失败：") + errorText(error));
    }
}

void ControlSender::cancelPending()
{
    flushTimer.stop();
    for (const auto& row : m_rows) {
        row->pending = false;
        row->pendingChannel.clear();
        row->lastSent.invalidate();
    }
}

void ControlSender::setAutoSend(ControlRow& row, bool on)
{
    row.pending = false;
    row.lastSent.invalidate();
    row.control.insert(QStringLiteral("auto_send"), on);
}

} // namespace vn
