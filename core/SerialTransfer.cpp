#include "core/SerialTransfer.h"

namespace vn {

namespace {

constexpr int MaxFailures = 10;
constexpr int MaxReceiveTimeouts = 30;
constexpr qsizetype MaxBuffered = 4096;
constexpr qint64 RawChunk = 4096;
constexpr qint64 XmodemBlock = 128;
// A receiver such as lrzsz's rx takes an EOT as real only after a second of
// silence and acknowledges it then; repeating the EOT at one second crosses
// that ACK, so the peer reads the repeat as line noise or has already quit.
constexpr int EotReplyLimit = 3000;
// Every data block is acknowledged once the EOT goes out, so the file is with
// the receiver; what is left is its word that the end arrived. rx sends that
// ACK and quits at once, and a pty or an adapter can lose a closing side's
// last byte: three repeats give a receiver that is still there (or that wants
// a second EOT) every chance, and end a silent one after about 12 s.
constexpr int EotRepeats = 3;

} // namespace

SerialTransfer::SerialTransfer(QObject* parent)
    : QObject(parent)
{
    m_pollTimer.setInterval(25);
    connect(&m_pollTimer, &QTimer::timeout, this, &SerialTransfer::timeout);
}

// An uncommitted target is discarded with it; nothing is emitted.
SerialTransfer::~SerialTransfer()
{
    m_pollTimer.stop();
}

quint16 SerialTransfer::crc(const QByteArray& data)
{
    quint16 value = 0;
    for (const char byte : data) {
        value ^= quint16(static_cast<unsigned char>(byte)) << 8;
        for (int bit = 0; bit < 8; ++bit)
            value = (value & 0x8000) ? quint16((value << 1) ^ 0x1021) : quint16(value << 1);
    }
    return value;
}

void SerialTransfer::setStatus(const QString& text)
{
    m_status = text;
}

bool SerialTransfer::begin(Protocol protocol, bool receiving)
{
    if (m_active)
        return false;
    m_protocol = protocol;
    m_receiving = receiving;
    m_eotSeen = false;
    m_canSeen = false;
    m_endUnconfirmed = false;
    m_transferred = 0;
    m_block = 1;
    m_retries = 0;
    m_failures = 0;
    m_buffer.clear();
    m_lastPacket.clear();
    m_pending = 0;
    m_status.clear();
    m_source.close();
    m_target.reset();
    return true;
}

bool SerialTransfer::startSend(const QString& path, Protocol protocol, bool receiverWaiting)
{
    if (!begin(protocol, false))
        return false;
    m_source.setFileName(path);
    if (!m_source.open(QIODevice::ReadOnly)) {
        setStatus(m_source.errorString());
        Q_EMIT changed();
        return false;
    }
    m_expected = m_source.size();
    m_active = true;
    m_idleClock.start();
    m_pollTimer.start();
    if (protocol == Raw) {
        m_phase = RawSending;
        setStatus(QStringLiteral("正在发送原始字节"));
        Q_EMIT changed();
        queueSendNext();
    } else {
        m_phase = WaitingForC;
        setStatus(QStringLiteral("等待接收端发送 C（CRC 模式）"));
        Q_EMIT changed();
        if (receiverWaiting)
            receiverReady();
    }
    return true;
}

bool SerialTransfer::startReceive(const QString& path, Protocol protocol, qint64 expectedSize)
{
    if (expectedSize < -1 || m_active)
        return false;
    begin(protocol, true);
    m_target = std::make_unique<WholeFile>(path);
    if (!m_target->open()) {
        setStatus(m_target->errorText());
        m_target.reset();
        Q_EMIT changed();
        return false;
    }
    m_expected = expectedSize;
    m_active = true;
    m_idleClock.start();
    m_pollTimer.start();
    if (protocol == Raw) {
        m_phase = RawReceiving;
        setStatus(QStringLiteral("正在接收原始字节"));
    } else {
        m_phase = XmodemReceiving;
        setStatus(QStringLiteral("等待 XMODEM-CRC 发送端"));
    }
    Q_EMIT changed();
    if (protocol == XmodemCrc) {
        transmit(QByteArray(1, CrcRequest));
    } else if (m_expected == 0) {
        if (commit())
            complete(true, QStringLiteral("接收完成"));
    }
    return true;
}

void SerialTransfer::receiverReady()
{
    setStatus(QStringLiteral("正在发送 · 等待数据块确认"));
    sendNext();
    if (m_active)
        Q_EMIT changed();
}

void SerialTransfer::queueSendNext()
{
    QTimer::singleShot(0, this, &SerialTransfer::sendNext);
}

void SerialTransfer::sendNext()
{
    if (!m_active || m_receiving)
        return;
    if (m_transferred == m_expected) {
        if (m_protocol == XmodemCrc) {
            m_phase = WaitingForEotAck;
            m_lastPacket = QByteArray(1, EOT);
            setStatus(QStringLiteral("数据已全部确认，等待接收端确认结束"));
            Q_EMIT changed();
            transmit(m_lastPacket);
        } else {
            complete(true, QStringLiteral("发送完成（驱动已发送，设备端无确认）"));
        }
        return;
    }
    const qint64 n = std::min(m_expected - m_transferred, m_protocol == Raw ? RawChunk : XmodemBlock);
    const QByteArray data = m_source.read(n);
    if (data.size() < n) {
        complete(false, QStringLiteral("源文件读取失败或在传输期间发生变化"));
        return;
    }
    m_pending = n;
    if (m_protocol == Raw) {
        m_phase = RawSending;
        transmit(data);
        return;
    }
    QByteArray block;
    block.reserve(133);
    const QByteArray payload = data + QByteArray(XmodemBlock - n, Fill);
    const auto number = static_cast<unsigned char>(m_block & 0xff);
    block.append(SOH);
    block.append(char(number));
    block.append(char(255 - number));
    block.append(payload);
    const quint16 sum = crc(payload);
    block.append(char(sum >> 8));
    block.append(char(sum & 0xff));
    m_lastPacket = block;
    m_phase = WaitingForBlockAck;
    transmit(block);
}

bool SerialTransfer::transmit(const QByteArray& bytes)
{
    if (!m_active)
        return false;
    m_idleClock.restart();
    if (writer && writer(bytes))
        return true;
    complete(false, QStringLiteral("串口写入失败，传输已停止"));
    return false;
}

void SerialTransfer::drained()
{
    if (!m_active || m_phase != RawSending || m_pending <= 0)
        return;
    m_transferred += m_pending;
    m_pending = 0;
    m_idleClock.restart();
    Q_EMIT changed();
    queueSendNext();
}

void SerialTransfer::feed(const QByteArray& data)
{
    if (!m_active || data.isEmpty())
        return;
    if (m_phase == RawReceiving) {
        if (m_expected >= 0 && m_expected - m_transferred < data.size()) {
            cancel(QStringLiteral("收到的数据超过指定文件大小"));
            return;
        }
        // Every delivery reaches the disk before it counts as received, so a
        // full disk stops the transfer here and never at a commit that would
        // put a cut-off file in place.
        if (!m_target || !m_target->write(data)) {
            cancel(QStringLiteral("目标文件写入失败"));
            return;
        }
        m_transferred += data.size();
        Q_EMIT changed();
        if (m_expected >= 0 && m_transferred == m_expected && commit())
            complete(true, QStringLiteral("接收完成"));
        return;
    }
    if (m_protocol == Raw)
        return;   // an echo while sending raw, for instance

    if (m_buffer.size() + data.size() > MaxBuffered) {
        cancel(QStringLiteral("收到过多非 XMODEM 数据，请停止设备日志后重试"));
        return;
    }
    m_buffer.append(data);
    while (m_active && !m_buffer.isEmpty()) {
        const char c = m_buffer.at(0);
        if (m_receiving && m_phase == XmodemReceiving && (c == SOH || c == STX)) {
            const int size = c == SOH ? 128 : 1024;
            if (m_buffer.size() < size + 5)
                return;
            const QByteArray packet = m_buffer.left(size + 5);
            m_buffer.remove(0, size + 5);
            m_canSeen = false;
            receivePacket(packet, size);
            continue;
        }
        m_buffer.remove(0, 1);
        if (c == CAN) {
            if (m_canSeen) {
                complete(false, QStringLiteral("对端取消了传输"));
                return;
            }
            m_canSeen = true;
            continue;
        }
        m_canSeen = false;

        if (m_receiving) {
            if (c != EOT)
                continue;
            if (m_phase == EotAcknowledged) {
                transmit(QByteArray(1, ACK));
            } else if (!m_eotSeen) {
                m_eotSeen = true;
                transmit(QByteArray(1, NAK));
            } else if (m_expected >= 0 && m_transferred != m_expected) {
                cancel(QStringLiteral("文件提前结束，大小与预期不符"));
            } else {
                if (!commit())
                    return;
                m_phase = EotAcknowledged;
                setStatus(QStringLiteral("文件已保存，正在确认传输结束"));
                Q_EMIT changed();
                transmit(QByteArray(1, ACK));
            }
            continue;
        }

        switch (m_phase) {
        case WaitingForC:
            if (c == CrcRequest)
                receiverReady();
            break;
        case WaitingForBlockAck:
            if (c == ACK) {
                m_transferred += m_pending;
                m_pending = 0;
                m_phase = Idle;
                ++m_block;
                m_failures = 0;
                Q_EMIT changed();
                queueSendNext();
            } else if (c == NAK) {
                resend();
            }
            break;
        case WaitingForEotAck:
            if (c == ACK) {
                complete(true, QStringLiteral("发送完成，对端已确认"));
            } else if (c == NAK) {
                if (!m_eotSeen) {
                    m_eotSeen = true;
                    transmit(m_lastPacket);
                } else {
                    resend();
                }
            }
            break;
        default:
            break;
        }
    }
}

void SerialTransfer::receivePacket(const QByteArray& packet, int size)
{
    const auto number = static_cast<unsigned char>(packet.at(1));
    const auto complement = static_cast<unsigned char>(packet.at(2));
    const QByteArray data = packet.mid(3, size);
    const quint16 received = quint16(static_cast<unsigned char>(packet.at(3 + size)) << 8)
        | static_cast<unsigned char>(packet.at(4 + size));
    if ((number ^ complement) != 0xff || crc(data) != received) {
        if (++m_failures > MaxFailures) {
            cancel(QStringLiteral("连续无效数据块超过 10 次"));
            return;
        }
        ++m_retries;
        setStatus(QStringLiteral("数据块校验失败，请求重传"));
        Q_EMIT changed();
        transmit(QByteArray(1, NAK));
        return;
    }
    if (m_block > 1 && number == ((m_block - 1) & 0xff)) {
        transmit(QByteArray(1, ACK));   // the block just stored, sent again
        return;
    }
    if (number != (m_block & 0xff)) {
        cancel(QStringLiteral("XMODEM 数据块序号不连续"));
        return;
    }
    qint64 n = size;
    if (m_expected >= 0) {
        if (m_transferred >= m_expected) {
            cancel(QStringLiteral("发送端的数据超过指定文件大小"));
            return;
        }
        n = std::min<qint64>(size, m_expected - m_transferred);
    }
    if (!m_target || !m_target->write(QByteArrayView(data).first(n))) {
        cancel(QStringLiteral("目标文件写入失败"));
        return;
    }
    m_transferred += n;
    m_eotSeen = false;
    ++m_block;
    m_failures = 0;
    setStatus(QStringLiteral("正在接收 · CRC 已校验"));
    Q_EMIT changed();
    transmit(QByteArray(1, ACK));
}

void SerialTransfer::resend()
{
    if (++m_failures > MaxFailures) {
        cancel(QStringLiteral("连续重试超过 10 次，传输失败"));
        return;
    }
    ++m_retries;
    if (m_phase == WaitingForEotAck)
        setStatus(QStringLiteral("数据已全部确认，重发结束标记 · 第 %1 次").arg(m_failures));
    else
        setStatus(QStringLiteral("正在重传 · 第 %1 次").arg(m_retries));
    Q_EMIT changed();
    transmit(m_lastPacket);
}

void SerialTransfer::timeout()
{
    if (!m_active)
        return;
    const qint64 e = m_idleClock.elapsed();
    switch (m_phase) {
    case RawReceiving:
        return;
    case WaitingForC:
        if (e >= startTimeout)
            cancel(QStringLiteral("等待接收端 C 超时，请先启动设备端接收程序"));
        return;
    case EotAcknowledged:
        if (e >= lingerTime)
            complete(true, QStringLiteral("接收完成，文件已保存"));
        return;
    default:
        break;
    }
    qint64 limit = replyTimeout;
    if (m_phase == WaitingForEotAck)
        limit = std::min(replyTimeout, EotReplyLimit);
    else if (m_phase == XmodemReceiving && m_block == 1 && m_buffer.isEmpty())
        limit = 1000;
    if (e < limit)
        return;
    switch (m_phase) {
    case RawSending:
        cancel(QStringLiteral("串口发送超时"));
        break;
    case WaitingForBlockAck:
        resend();
        break;
    case WaitingForEotAck:
        // Only silence ends a send as delivered: a receiver that keeps
        // answering NAK refuses the end, and fails it through resend().
        if (m_failures >= EotRepeats) {
            m_endUnconfirmed = true;
            complete(true, QStringLiteral("文件已全部送达，接收端未确认结束"));
        } else {
            resend();
        }
        break;
    case XmodemReceiving:
        m_buffer.clear();
        if (++m_failures > MaxReceiveTimeouts) {
            cancel(QStringLiteral("等待发送端超时"));
            return;
        }
        ++m_retries;
        transmit(QByteArray(1, m_block == 1 && !m_eotSeen ? CrcRequest : NAK));
        Q_EMIT changed();
        break;
    default:
        break;
    }
}

void SerialTransfer::cancel(const QString& message)
{
    if (!m_active)
        return;
    if (abortHook)
        abortHook();
    if (m_protocol == XmodemCrc && writer)
        writer(QByteArray(2, CAN));
    if (m_active)
        complete(false, message);
}

bool SerialTransfer::commit()
{
    if (!m_target) {
        if (m_active)
            complete(false, QStringLiteral("目标文件不可用"));
        return false;
    }
    if (m_target->commit()) {
        m_target.reset();
        return true;
    }
    const QString reason = m_target->errorText();
    if (m_active)
        complete(false, QStringLiteral("保存失败：") + reason);
    return false;
}

void SerialTransfer::saveRawReceive()
{
    if (m_active && m_phase == RawReceiving && commit())
        complete(true, QStringLiteral("接收已停止，文件已保存"));
}

void SerialTransfer::complete(bool success, const QString& message)
{
    m_active = false;
    m_phase = Idle;
    m_pollTimer.stop();
    m_source.close();
    if (m_target) {
        m_target->cancel();
        m_target.reset();
    }
    m_status = message;
    Q_EMIT changed();
    Q_EMIT finished(success, message);
}

} // namespace vn
