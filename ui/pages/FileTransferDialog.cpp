#include "ui/pages/FileTransferDialog.h"

#include "core/Channel.h"
#include "core/Engine.h"
#include "core/ReceiverRequest.h"
#include "core/SerialTransfer.h"
#include "ui/kit/Combo.h"
#include "ui/kit/Factories.h"

#include <QCloseEvent>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QTimer>
#include <QVBoxLayout>

#include <cmath>

namespace vn {

namespace {

const QString Cancelled = QStringLiteral("已取消传输");

QString hintFor(bool receiving, bool xmodem)
{
    if (!receiving && !xmodem)
        return QStringLiteral("文件内容按原始字节发送，不添加帧头或校验。进度表示驱动发送量，设备端不提供接收确认。");
    if (!receiving)
        return QStringLiteral("请先启动设备端的 XMODEM-CRC 接收程序。每块 128 字节，CRC 校验并支持重传；进度按设备端确认更新。");
    if (!xmodem)
        return QStringLiteral("原始字节不添加文件名、帧头或校验。接收大小留空时，请在数据发送完毕后点击“停止并保存”。");
    return QStringLiteral("请先启动设备端的 XMODEM-CRC 发送程序。协议不携带文件名或长度；接收大小留空时会保留末块 0x1A 填充字节。");
}

} // namespace

QString transferAmount(qint64 n)
{
    if (n < 0)
        return QStringLiteral("未知大小");
    if (n >= 1048576)
        return QString::number(double(n) / 1048576.0, 'f', 2) + QStringLiteral(" MiB");
    if (n < 1024)
        return QString::number(n) + QStringLiteral(" B");
    return QString::number(double(n) / 1024.0, 'f', 1) + QStringLiteral(" KiB");
}

FileTransferDialog::FileTransferDialog(SerialTransfer* engine, QWidget* parent)
    : QDialog(parent), transfer(engine)
{
    setWindowTitle(QStringLiteral("串口文件传输"));
    setWindowIcon(QIcon(QStringLiteral(":/brand/lightning.svg")));
    resize(620, 430);
    setMinimumSize(500, 390);

    direction = combo({QStringLiteral("发送到设备"), QStringLiteral("接收并保存")}, QString(), false);
    direction->setObjectName(QStringLiteral("transferDirection"));
    direction->setCurrentIndex(0);
    protocol = combo({QStringLiteral("原始字节"), QStringLiteral("XMODEM-CRC")}, QString(), false);
    protocol->setObjectName(QStringLiteral("transferProtocol"));
    protocol->setCurrentIndex(1);
    path = new QLineEdit;
    path->setObjectName(QStringLiteral("transferPath"));
    path->setPlaceholderText(QStringLiteral("选择文件路径"));
    sizeField = new QLineEdit;
    sizeField->setObjectName(QStringLiteral("transferSize"));
    sizeField->setPlaceholderText(QStringLiteral("字节数，可留空"));
    sizeField->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,18}")), sizeField));
    progress = new QProgressBar;
    progress->setObjectName(QStringLiteral("fileTransferProgress"));
    progress->setRange(0, 1000);
    progress->setValue(0);
    progress->setFormat(QStringLiteral("0.0%"));
    progress->setMinimumHeight(24);
    bytes = new QLabel(QStringLiteral("0 B"));
    bytes->setObjectName(QStringLiteral("transferBytes"));
    status = new QLabel(QStringLiteral("准备就绪"));
    status->setObjectName(QStringLiteral("transferStatus"));
    status->setWordWrap(true);
    status->setTextInteractionFlags(Qt::TextSelectableByMouse);
    start = new QPushButton(QStringLiteral("开始传输"));
    start->setObjectName(QStringLiteral("transferStart"));
    stopAndSave = new QPushButton(QStringLiteral("停止并保存"));
    stopAndSave->setObjectName(QStringLiteral("transferStopAndSave"));
    closeButton = new QPushButton(QStringLiteral("关闭"));
    closeButton->setObjectName(QStringLiteral("transferClose"));
    browse = new QPushButton(QStringLiteral("选择文件"));
    browse->setObjectName(QStringLiteral("transferBrowse"));
    hint = new QLabel;
    hint->setObjectName(QStringLiteral("transferHint"));
    hint->setWordWrap(true);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 22, 24, 22);
    layout->setSpacing(16);
    auto* title = new QLabel(QStringLiteral("文件传输"));
    QFont titleFont = font();
    titleFont.setPointSize(14);
    titleFont.setWeight(QFont::DemiBold);
    title->setFont(titleFont);
    layout->addWidget(title);

    form = new QFormLayout;
    form->setVerticalSpacing(12);
    form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    form->addRow(QStringLiteral("方向"), direction);
    form->addRow(QStringLiteral("协议"), protocol);
    auto* fileRow = horizontal(nullptr);
    fileRow->addWidget(path, 1);
    fileRow->addWidget(browse);
    form->addRow(QStringLiteral("文件"), fileRow);
    form->addRow(QStringLiteral("接收大小"), sizeField);
    layout->addLayout(form);
    layout->addWidget(hint);
    layout->addWidget(progress);
    layout->addWidget(bytes);
    layout->addWidget(status);
    layout->addStretch();
    auto* buttons = horizontal(nullptr);
    buttons->addStretch();
    buttons->addWidget(stopAndSave);
    buttons->addWidget(closeButton);
    buttons->addWidget(start);
    layout->addLayout(buttons);

    // The style sheet does not reach the bar's chunk: it follows the theme by
    // the lightness of the text colour.
    const QColor text = parent ? parent->palette().color(QPalette::WindowText) : QColor(0x28, 0x39, 0x2f);
    const QString chunk = text.lightness() > 128 ? QStringLiteral("#385642") : QStringLiteral("#86b889");
    progress->setStyleSheet(QStringLiteral("QProgressBar {border:1px solid #7f967b; border-radius:3px; "
                                           "text-align:center; color:%1;} "
                                           "QProgressBar::chunk {background:%2; border-radius:2px;}")
                                .arg(text.name(), chunk));

    makeDialogScrollable(this, QSize(480, 280));

    connect(browse, &QPushButton::clicked, this, &FileTransferDialog::choosePath);
    connect(direction, &QComboBox::currentIndexChanged, this, &FileTransferDialog::refresh);
    connect(protocol, &QComboBox::currentIndexChanged, this, &FileTransferDialog::refresh);
    connect(start, &QPushButton::clicked, this, &FileTransferDialog::begin);
    connect(stopAndSave, &QPushButton::clicked, transfer, &SerialTransfer::saveRawReceive);
    connect(closeButton, &QPushButton::clicked, this, &FileTransferDialog::closeAction);
    connect(transfer, &SerialTransfer::changed, this, &FileTransferDialog::refresh);
    connect(transfer, &SerialTransfer::finished, this, [this](bool success, const QString&) {
        succeeded = success;
        releaseChannel();
        refresh();
    });
    auto* timer = new QTimer(this);
    timer->setInterval(250);
    connect(timer, &QTimer::timeout, this, [this] {
        if (transfer->active())
            refresh();
    });
    timer->start();
    refresh();
}

FileTransferDialog::FileTransferDialog(Channel* target, QWidget* parent)
    : FileTransferDialog(new SerialTransfer, parent)
{
    transfer->setParent(this);
    channel = target;
    // The port name as the user wrote it: device paths here are case-sensitive.
    setWindowTitle(QStringLiteral("串口文件传输 · ") + target->config.port);
    wireChannel();
}

void FileTransferDialog::wireChannel()
{
    const QPointer<Channel> guard = channel;
    SerialTransfer* const engine = transfer;
    transfer->writer = [guard](const QByteArray& chunk) {
        if (!guard || guard->state != QLatin1String("connected"))
            return false;
        try {
            guard->send(chunk, QString(), QStringLiteral("file-transfer"));
        } catch (const std::exception&) {
            return false;
        }
        return true;
    };
    // The channel replaces its port object on every reconnect: the hook and the
    // drain notice go through the channel, so they always reach the live port
    // and never one that is gone.
    transfer->abortHook = [guard] {
        if (guard && guard->serialPort && guard->serialPort->isOpen())
            guard->serialPort->clear(QSerialPort::Output);
    };
    connect(channel, &Channel::bytesReceived, transfer, &SerialTransfer::feed);
    connect(channel, &Channel::outputDrained, transfer, &SerialTransfer::drained);
    connect(channel->engine, &Engine::channelsChanged, transfer, [guard, engine] {
        if (engine->active() && !(guard && guard->state == QLatin1String("connected")))
            engine->cancel(QStringLiteral("串口连接已断开，传输已停止"));
    });
    connect(channel, &QObject::destroyed, transfer,
            [engine] { engine->cancel(QStringLiteral("串口会话已关闭")); });
}

FileTransferDialog::~FileTransferDialog()
{
    // The widgets go next: the engine's last notices must not reach them.
    disconnect(transfer, nullptr, this, nullptr);
    transfer->cancel(Cancelled);
    releaseChannel();
}

void FileTransferDialog::choosePath()
{
    const QString chosen = direction->currentIndex() == 1
        ? QFileDialog::getSaveFileName(this, QStringLiteral("选择接收保存路径"), path->text())
        : QFileDialog::getOpenFileName(this, QStringLiteral("选择发送文件"), path->text());
    if (!chosen.isEmpty())
        path->setText(chosen);
}

void FileTransferDialog::closeAction()
{
    if (transfer->active())
        transfer->cancel(Cancelled);
    else
        reject();
}

void FileTransferDialog::releaseChannel()
{
    if (!channel || channel->transferOwner != this)
        return;
    channel->transferOwner = nullptr;
    Q_EMIT channel->engine->channelsChanged();
}

void FileTransferDialog::reject()
{
    transfer->cancel(Cancelled);
    releaseChannel();
    QDialog::reject();
}

void FileTransferDialog::closeEvent(QCloseEvent* event)
{
    transfer->cancel(Cancelled);
    releaseChannel();
    QDialog::closeEvent(event);
}

bool FileTransferDialog::begin()
{
    if (transfer->active())
        return false;
    if (path->text().trimmed().isEmpty()) {
        status->setText(QStringLiteral("请先选择文件"));
        return false;
    }
    if (channel) {
        if (!channel->serialPort || channel->state != QLatin1String("connected") || channel->transferActive()) {
            status->setText(QStringLiteral("请选择已连接且未在传输的物理串口"));
            return false;
        }
        if (channel->serialPort->bytesToWrite() > 0) {
            status->setText(QStringLiteral("串口仍有待发送数据，请等待发送完成后重试"));
            return false;
        }
        channel->transferOwner = this;
    }
    Q_EMIT starting();
    clock.start();
    succeeded = false;

    const auto chosen = protocol->currentIndex() != 0 ? SerialTransfer::XmodemCrc : SerialTransfer::Raw;
    bool started = false;
    if (direction->currentIndex() == 1) {
        qint64 expected = -1;
        if (!sizeField->text().isEmpty()) {
            bool ok = false;
            expected = sizeField->text().toLongLong(&ok, 10);
            if (!ok) {
                releaseChannel();
                status->setText(QStringLiteral("接收大小无效"));
                return false;
            }
        }
        started = transfer->startReceive(path->text(), chosen, expected);
    } else {
        // The hint asks for the receiver to be started first: its 'C' then
        // came while the session page still had the channel's bytes.
        const bool asked = chosen == SerialTransfer::XmodemCrc && channel
            && receiverAlreadyAsked(channel->engine->journal, channel->id);
        started = transfer->startSend(path->text(), chosen, asked);
    }
    if (!started) {
        releaseChannel();
        status->setText(transfer->statusText());
    }
    refresh();
    return started;
}

void FileTransferDialog::refresh()
{
    const bool active = transfer->active();
    const bool receiving = direction->currentIndex() == 1;
    direction->setEnabled(!active);
    protocol->setEnabled(!active);
    path->setEnabled(!active);
    browse->setEnabled(!active);
    start->setEnabled(!active);
    sizeField->setEnabled(!active && receiving);
    form->setRowVisible(sizeField, receiving);
    path->setToolTip(path->text());
    closeButton->setText(active ? QStringLiteral("取消传输") : QStringLiteral("关闭"));
    stopAndSave->setVisible(active && transfer->receiving() && transfer->protocol() == SerialTransfer::Raw
                            && transfer->expected() < 0);
    hint->setText(hintFor(receiving, protocol->currentIndex() != 0));

    const qint64 done = transfer->transferred();
    const qint64 total = transfer->expected();
    if (total < 0 && active) {
        progress->setRange(0, 0);
        progress->setFormat(QStringLiteral("接收中"));
    } else {
        const int value = succeeded ? 1000 : total < 1 ? 0 : int(qMin<qint64>(done * 1000 / total, 999));
        QString format = QString::number(value / 10.0, 'f', 1) + QStringLiteral("%");
        // All data acknowledged, only the receiver's word on the end missing:
        // the bar says so, so that the wait does not read as a failing send.
        if (active && transfer->phase() == SerialTransfer::WaitingForEotAck)
            format += QStringLiteral(" · 等待接收端确认结束");
        else if (succeeded && transfer->endUnconfirmed())
            format += QStringLiteral(" · 接收端未确认结束");
        progress->setRange(0, 1000);
        progress->setValue(value);
        progress->setFormat(format);
    }

    QString line = transferAmount(done) + QStringLiteral(" / ") + transferAmount(total);
    if (clock.isValid()) {
        const double seconds = qMax(double(clock.elapsed()) / 1000.0, 0.001);
        const double rate = double(done) / seconds;
        line += QStringLiteral("  ·  ") + transferAmount(qint64(rate)) + QStringLiteral("/s");
        if (done < total && active && rate > 0)
            line += QStringLiteral("  ·  剩余约 %1 秒").arg(qint64(std::ceil(double(total - done) / rate)));
    }
    line += QStringLiteral("  ·  重试 %1 次").arg(transfer->retries());
    bytes->setText(line);
    if (!transfer->statusText().isEmpty())
        status->setText(transfer->statusText());
}

FileTransferDialog* showFileTransfer(Channel* channel, QWidget* parent)
{
    auto* dialog = new FileTransferDialog(channel, parent);
    dialog->setWindowModality(Qt::WindowModal);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->show();
    return dialog;
}

} // namespace vn
