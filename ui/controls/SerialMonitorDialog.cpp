#include "ui/controls/SerialMonitorDialog.h"

#include "core/Channel.h"
#include "core/Engine.h"
#include "core/Fail.h"
#include "core/Journal.h"
#include "ui/controls/SerialControlPanel.h"
#include "ui/kit/IconButton.h"
#include "ui/views/FilterBox.h"
#include "ui/views/LogView.h"

#include <QBoxLayout>
#include <QComboBox>
#include <QHideEvent>
#include <QJsonArray>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QUuid>

#include <vector>

namespace vn {

SerialMonitorDialog::SerialMonitorDialog(QWidget* parent) : QDialog(parent)
{
    viewId = QUuid::createUuid().toString(QUuid::Id128);
    setObjectName(QStringLiteral("serialMonitorDialog"));
    setWindowTitle(QStringLiteral("串口收发小窗"));
    setModal(false);
    setMinimumSize(400, 300);
    resize(760, 440);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(12, 10, 12, 10);
    layout->setSpacing(8);

    auto* first = new QHBoxLayout;
    sourceLabel = new QLabel(QStringLiteral("未选择串口"));
    sourceLabel->setObjectName(QStringLiteral("serialMonitorSource"));
    sourceLabel->setTextFormat(Qt::PlainText);
    sourceLabel->setWordWrap(true);
    first->addWidget(sourceLabel, 1);
    connectionLabel = new QLabel(QStringLiteral("未连接"));
    connectionLabel->setObjectName(QStringLiteral("serialMonitorConnection"));
    first->addWidget(connectionLabel);
    layout->addLayout(first);

    auto* second = new QHBoxLayout;
    timestampsButton = toggleButton(QStringLiteral("clock"), QStringLiteral("显示时间戳"),
                                    QStringLiteral("serialMonitorTimestamps"), true);
    hexButton = toggleButton(QStringLiteral("hex"), QStringLiteral("十六进制显示"), QStringLiteral("serialMonitorHex"), false);
    pauseButton = toggleButton(QStringLiteral("pause"), QStringLiteral("暂停小窗显示，后台继续接收"),
                               QStringLiteral("serialMonitorPause"), false);
    followButton = toggleButton(QStringLiteral("follow"), QStringLiteral("跟随最新收发内容"),
                                QStringLiteral("serialMonitorFollow"), true);
    auto* clearButton = new IconButton(QStringLiteral("trash"), QStringLiteral("仅清空此小窗显示，保留连接历史"));
    clearButton->setObjectName(QStringLiteral("serialMonitorClear"));
    clearButton->setFixedSize(28, 28);
    for (IconButton* b : {timestampsButton, hexButton, pauseButton, followButton, clearButton})
        second->addWidget(b);
    second->addStretch(1);
    encodingCombo = new QComboBox;
    encodingCombo->setObjectName(QStringLiteral("serialMonitorEncoding"));
    encodingCombo->addItems({QStringLiteral("utf-8"), QStringLiteral("GBK"), QStringLiteral("ASCII")});
    encodingCombo->setToolTip(QStringLiteral("小窗显示和手动发送的文本编码"));
    second->addWidget(encodingCombo);
    layout->addLayout(second);

    filterBox = new FilterBox;
    filterBox->setPlaceholderText(QStringLiteral("筛选小窗收发内容"));
    filterBox->setMaximumWidth(16777215);
    layout->addWidget(filterBox);
    log = new LogView;
    log->setObjectName(QStringLiteral("serialMonitorLog"));
    layout->addWidget(log, 1);

    auto* third = new QHBoxLayout;
    auto* legend = new QLabel(QStringLiteral("TX 发送  /  RX 接收"));
    legend->setObjectName(QStringLiteral("serialMonitorLegend"));
    third->addWidget(legend);
    third->addStretch(1);
    statisticsLabel = new QLabel;
    statisticsLabel->setObjectName(QStringLiteral("serialMonitorStatistics"));
    third->addWidget(statisticsLabel);
    layout->addLayout(third);

    auto* fourth = new QHBoxLayout;
    payloadEdit = new QLineEdit;
    payloadEdit->setObjectName(QStringLiteral("serialMonitorPayload"));
    payloadEdit->setPlaceholderText(QStringLiteral("输入文本命令，回车发送"));
    payloadEdit->setMaxLength(4096);
    fourth->addWidget(payloadEdit, 1);
    newlineCombo = new QComboBox;
    newlineCombo->setObjectName(QStringLiteral("serialMonitorNewline"));
    newlineCombo->addItem(QStringLiteral("CRLF"), QStringLiteral("crlf"));
    newlineCombo->addItem(QStringLiteral("LF"), QStringLiteral("lf"));
    newlineCombo->addItem(QStringLiteral("CR"), QStringLiteral("cr"));
    newlineCombo->addItem(QStringLiteral("无行尾"), QStringLiteral("none"));
    newlineCombo->setToolTip(QStringLiteral("手动发送的行尾"));
    fourth->addWidget(newlineCombo);
    sendButton = new QPushButton(QStringLiteral("发送"));
    sendButton->setObjectName(QStringLiteral("serialMonitorSend"));
    // Return in the payload line sends once, through the line itself; the
    // button must not also be the dialog's default.
    sendButton->setAutoDefault(false);
    fourth->addWidget(sendButton);
    layout->addLayout(fourth);

    messageLabel = new QLabel;
    messageLabel->setObjectName(QStringLiteral("serialMonitorMessage"));
    messageLabel->setTextFormat(Qt::PlainText);
    messageLabel->setWordWrap(true);
    messageLabel->hide();
    layout->addWidget(messageLabel);

    connect(clearButton, &IconButton::clicked, this, &SerialMonitorDialog::clearView);
    connect(sendButton, &QPushButton::clicked, this, &SerialMonitorDialog::sendCurrent);
    connect(payloadEdit, &QLineEdit::returnPressed, this, &SerialMonitorDialog::sendCurrent);
    connect(pauseButton, &IconButton::toggled, this, [this](bool on) {
        const QString tip = on ? QStringLiteral("继续小窗显示") : QStringLiteral("暂停小窗显示，后台继续接收");
        pauseButton->setToolTip(tip);
        pauseButton->setAccessibleName(tip);
        if (!on)
            refresh();
    });
    connect(followButton, &IconButton::toggled, this, [this](bool on) {
        log->follow = on;
        if (on)
            log->verticalScrollBar()->setValue(log->verticalScrollBar()->maximum());
        Q_EMIT configurationChanged();
    });
    for (IconButton* b : {hexButton, timestampsButton})
        connect(b, &IconButton::toggled, this, [this] {
            replay();
            Q_EMIT configurationChanged();
        });
    connect(encodingCombo, &QComboBox::currentTextChanged, this, [this] {
        replay();
        Q_EMIT configurationChanged();
    });
    connect(newlineCombo, &QComboBox::currentIndexChanged, this, &SerialMonitorDialog::configurationChanged);
    connect(filterBox, &FilterBox::criteriaChanged, this, [this] {
        log->setFilter(filterBox->filter);
        Q_EMIT configurationChanged();
    });
    connect(log, &LogView::zoomRequested, this, &SerialMonitorDialog::zoomRequested);
    pollTimer.setInterval(kPollMs);
    connect(&pollTimer, &QTimer::timeout, this, &SerialMonitorDialog::refresh);
    geometryTimer.setSingleShot(true);
    geometryTimer.setInterval(250);
    connect(&geometryTimer, &QTimer::timeout, this, &SerialMonitorDialog::configurationChanged);

    setAppearance(Theme::make(false), Theme::defaultDataFont());
    refresh();
}

SerialMonitorDialog::~SerialMonitorDialog() = default;

IconButton* SerialMonitorDialog::toggleButton(const QString& icon, const QString& tip, const QString& name,
                                              bool checked)
{
    auto* b = new IconButton(icon, tip);
    b->setObjectName(name);
    b->setFixedSize(28, 28);
    b->setCheckable(true);
    b->setChecked(checked);
    return b;
}

void SerialMonitorDialog::setChannel(Channel* candidate)
{
    Channel* target = candidate && candidate->config.kind == QLatin1String("serial") ? candidate : nullptr;
    const QString id = target ? target->id : QString();
    if (target && channel.data() == target && channelId == id)
        return;
    if (!target && !channel && channelId.isEmpty())
        return;
    channel = target;
    channelId = id;
    readCursor = 0;
    baseCursor = 0;
    payloadEdit->clear();
    messageLabel->hide();
    log->reset();
    replay();
    refresh();
}

void SerialMonitorDialog::refresh()
{
    if (!channel && !channelId.isEmpty()) {
        setChannel(nullptr);
        return;
    }
    Channel* live = channel.data();
    const bool sendable = live && live->state == QLatin1String("connected") && !live->transferActive();
    sendButton->setEnabled(sendable);

    const QString name = live ? live->name : QStringLiteral("未选择串口");
    if (sourceLabel->text() != name)
        sourceLabel->setText(name);
    setWindowTitle(QStringLiteral("串口收发 · ") + name);

    QString connection = QStringLiteral("未连接");
    if (!live)
        connection = QStringLiteral("未选择");
    else if (live->transferActive())
        connection = QStringLiteral("文件传输中");
    else if (live->state == QLatin1String("connected"))
        connection = QStringLiteral("已连接");
    if (connectionLabel->text() != connection) {
        connectionLabel->setText(connection);
        connectionLabel->setStyleSheet(
            QStringLiteral("color: %1;").arg((sendable ? theme.green : theme.muted).name()));
    }
    statisticsLabel->setText(live ? QStringLiteral("发送 %1 B    接收 %2 B").arg(live->txBytes).arg(live->rxBytes)
                                  : QString());

    if (!live || pauseButton->isChecked() || !isVisible())
        return;
    const QJsonObject page = live->engine->journal.read(readCursor, kPollLimit, live->id);
    // The notice is a row no filter hides, and every stream starts afresh
    // after it, so no decoder carries half a character across the gap.
    if (page.value(QStringLiteral("gap")).toBool())
        log->markGap(QStringLiteral("部分旧数据已被历史缓冲区覆盖"));
    for (const QJsonValue& event : page.value(QStringLiteral("events")).toArray())
        log->feed(event.toObject());
    readCursor = page.value(QStringLiteral("next_cursor")).toInteger();
}

void SerialMonitorDialog::replay()
{
    log->hexMode = hexButton->isChecked();
    log->timestamps = timestampsButton->isChecked();
    log->encoding = encodingCombo->currentText();
    log->follow = followButton->isChecked();
    log->reset();
    Channel* live = channel.data();
    if (!live)
        return;
    const Journal& journal = live->engine->journal;
    const qint64 limit = pauseButton->isChecked() ? readCursor : journal.lastSeq;
    std::vector<const QJsonObject*> taken;
    qint64 bytes = 0;
    for (auto it = journal.events.rbegin(); it != journal.events.rend(); ++it) {
        const QJsonObject& event = it->first;
        const qint64 seq = event.value(QStringLiteral("seq")).toInteger();
        if (event.value(QStringLiteral("channel_id")).toString() != live->id || seq <= baseCursor || seq > limit)
            continue;
        if (taken.size() >= std::size_t(kReplayEvents) || bytes > kReplayBytes)
            break;
        taken.push_back(&event);
        bytes += event.value(QStringLiteral("size")).toInteger();
    }
    for (auto it = taken.rbegin(); it != taken.rend(); ++it)
        log->feed(**it);
    readCursor = limit;
}

void SerialMonitorDialog::clearView()
{
    log->reset();
    const qint64 now = channel ? channel->engine->journal.lastSeq : 0;
    readCursor = now;
    baseCursor = now;
}

void SerialMonitorDialog::sendCurrent()
{
    try {
        Channel* live = channel.data();
        if (!live || live->config.kind != QLatin1String("serial") || live->state != QLatin1String("connected"))
            fail(QStringLiteral("请先在控件页选择已建立的串口连接"));
        const QByteArray bytes = Engine::encode(payloadEdit->text(), false, encodingCombo->currentText(),
                                                newlineCombo->currentData().toString());
        live->send(bytes, QString(), QStringLiteral("control-monitor"));
        messageLabel->hide();
        refresh();
    } catch (const std::exception& error) {
        messageLabel->setText(errorText(error));
        messageLabel->show();
    }
}

void SerialMonitorDialog::setAppearance(const Theme& nextTheme, const QFont& font)
{
    theme = nextTheme;
    dataFont = font;
    setStyleSheet(theme.stylesheet());
    for (IconButton* b : findChildren<IconButton*>()) {
        b->theme = theme;
        b->update();
    }
    log->theme = theme;
    log->setFont(font);
    log->setStyleSheet(QStringLiteral("font-family: '%1'; font-size: %2pt; font-weight: %3; font-style: %4;")
                           .arg(font.families().join(QStringLiteral("', '")),
                                QString::number(font.pointSizeF(), 'g', 6), QString::number(font.weight()),
                                font.style() == QFont::StyleNormal ? QStringLiteral("normal")
                                                                   : QStringLiteral("italic")));
    replay();
    refresh();
}

QJsonObject SerialMonitorDialog::settings() const
{
    return QJsonObject{
        {QStringLiteral("geometry"), QString::fromLatin1(saveGeometry().toBase64())},
        {QStringLiteral("hex"), hexButton->isChecked()},
        {QStringLiteral("timestamps"), timestampsButton->isChecked()},
        {QStringLiteral("follow"), followButton->isChecked()},
        {QStringLiteral("encoding"), encodingCombo->currentText()},
        {QStringLiteral("newline"), newlineCombo->currentData().toString()},
        {QStringLiteral("search_filter"), filterBox->filter.settings()},
    };
}

void SerialMonitorDialog::restore(const QJsonObject& stored)
{
    filterBox->restore(stored.value(QStringLiteral("search_filter")).toObject());
    {
        const QSignalBlocker hex(hexButton);
        const QSignalBlocker stamps(timestampsButton);
        const QSignalBlocker follow(followButton);
        const QSignalBlocker encoding(encodingCombo);
        const QSignalBlocker newline(newlineCombo);
        hexButton->setChecked(stored.value(QStringLiteral("hex")).toBool(false));
        timestampsButton->setChecked(stored.value(QStringLiteral("timestamps")).toBool(true));
        followButton->setChecked(stored.value(QStringLiteral("follow")).toBool(true));
        const int encodingIndex =
            encodingCombo->findText(stored.value(QStringLiteral("encoding")).toString(QStringLiteral("utf-8")));
        if (encodingIndex >= 0)
            encodingCombo->setCurrentIndex(encodingIndex);
        const int newlineIndex =
            newlineCombo->findData(stored.value(QStringLiteral("newline")).toString(QStringLiteral("crlf")));
        newlineCombo->setCurrentIndex(newlineIndex < 0 ? 0 : newlineIndex);
        const QByteArray geometry =
            QByteArray::fromBase64(stored.value(QStringLiteral("geometry")).toString().toLatin1());
        if (!geometry.isEmpty())
            restoreGeometry(geometry);
        replay();
    }
}

void SerialMonitorDialog::moveEvent(QMoveEvent* event)
{
    QDialog::moveEvent(event);
    geometryTimer.start();
}

void SerialMonitorDialog::resizeEvent(QResizeEvent* event)
{
    QDialog::resizeEvent(event);
    geometryTimer.start();
}

void SerialMonitorDialog::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    pollTimer.start();
    refresh();
}

void SerialMonitorDialog::hideEvent(QHideEvent* event)
{
    pollTimer.stop();
    QDialog::hideEvent(event);
    if (!event->spontaneous()) {
        Q_EMIT windowHidden();
        Q_EMIT configurationChanged();
    }
}

void SerialControlPanel::showMonitor(bool show)
{
    if (!show) {
        if (monitorWindow)
            monitorWindow->hide();
        return;
    }
    if (!monitorWindow) {
        auto* window = new SerialMonitorDialog(this);
        monitorWindow = window;
        window->setAppearance(theme, dataFont);
        window->restore(monitorSettings);
        window->setChannel(sender->channel());
        connect(window, &SerialMonitorDialog::zoomRequested, this, &SerialControlPanel::zoomRequested);
        connect(window, &SerialMonitorDialog::configurationChanged, this, [this] { changedTimer.start(); });
        connect(window, &SerialMonitorDialog::windowHidden, this, [this] {
            const QSignalBlocker block(monitorToggle);
            monitorToggle->setChecked(false);
        });
    }
    monitorWindow->show();
    monitorWindow->raise();
    monitorWindow->activateWindow();
}

SerialMonitorDialog* SerialControlPanel::receiveMonitor() const
{
    return monitorWindow.data();
}

} // namespace vn
