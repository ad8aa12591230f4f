#pragma once

#include "ui/controls/ControlRow.h"

#include <QObject>
#include <QPointer>
#include <QTimer>

#include <memory>
#include <vector>

class QLabel;
class QWidget;

namespace vn {

class Channel;

using ControlRows = std::vector<std::unique_ptr<ControlRow>>;

// The path from a panel's controls to its serial channel: which channel the
// panel sends to, each row's packet preview and send button, sends by hand,
// and automatic sends paced to at most one packet per row every 50 ms, held
// back while the port's output queue is over a limit set by the baud rate. An
// armed send whose target changed on the way is dropped, never sent late.
class ControlSender : public QObject {
    Q_OBJECT
public:
    static constexpr int kGapMs = 50;
    static constexpr int kRetryMs = 10;

    // `panel` tells whether the controls are on screen; `rows` are the panel's
    // rows (read on every call, never kept); `status` is its status line.
    ControlSender(QWidget* panel, ControlRows& rows, QLabel* status);

    // Bytes still queued in the port above which no paced packet is added.
    static int queueLimit(int baudRate);

    void setChannel(Channel* channel);
    Channel* channel() const { return m_channel.data(); }
    int serialGeneration() const { return m_serialGeneration; }
    // The channel is live, connected and no file transfer owns it.
    bool ready() const;

    void updatePreview(ControlRow& row);
    void valueChanged(ControlRow& row, const QString& value);
    void flushPending();
    void send(ControlRow& row);
    void cancelPending();
    // The row's "自动发送" box was toggled: nothing is sent.
    void setAutoSend(ControlRow& row, bool on);

    QTimer flushTimer;

Q_SIGNALS:
    // After every setChannel: the channel the panel holds now (or null).
    void channelApplied(vn::Channel* channel);
    // A value changed; the panel saves after a quiet spell.
    void valueEdited();
    // A packet left for a row (sent by hand or paced).
    void packetSent(const QByteArray& packet);

private:
    void refreshButtons();

    QWidget* m_panel;
    ControlRows& m_rows;
    QLabel* m_status;
    QPointer<Channel> m_channel;
    int m_serialGeneration = -1;
};

} // namespace vn
