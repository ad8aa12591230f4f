#pragma once

#include "platform/WholeFile.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QFile>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>

namespace vn {

// Sends one file to a device or receives one from it over a byte stream,
// raw or by XMODEM-CRC. Knows nothing of channels: bytes leave through
// `writer`, arrive through feed(), and drained() tells that the line has sent
// what it was given. A received file appears only when complete.
class SerialTransfer : public QObject {
    Q_OBJECT
public:
    enum Protocol : int { Raw = 0, XmodemCrc = 1 };
    enum Phase : int {
        Idle = 0,
        RawSending = 1,
        RawReceiving = 2,
        WaitingForC = 3,
        WaitingForBlockAck = 4,
        WaitingForEotAck = 5,
        XmodemReceiving = 6,
        EotAcknowledged = 7,
    };

    static constexpr char SOH = 0x01;
    static constexpr char STX = 0x02;
    static constexpr char EOT = 0x04;
    static constexpr char ACK = 0x06;
    static constexpr char NAK = 0x15;
    static constexpr char CAN = 0x18;
    static constexpr char CrcRequest = 'C';
    static constexpr char Fill = 0x1A;

    explicit SerialTransfer(QObject* parent = nullptr);
    ~SerialTransfer() override;

    std::function<bool(const QByteArray&)> writer;
    std::function<void()> abortHook;

    // `receiverWaiting`: the receiver asked for the first block before the
    // send began (see receiverAlreadyAsked), so it goes out at once.
    bool startSend(const QString& path, Protocol protocol, bool receiverWaiting = false);
    bool startReceive(const QString& path, Protocol protocol, qint64 expectedSize);
    void feed(const QByteArray& data);
    void drained();
    void cancel(const QString& message);
    void saveRawReceive();

    bool active() const { return m_active; }
    bool receiving() const { return m_receiving; }
    Protocol protocol() const { return m_protocol; }
    Phase phase() const { return m_phase; }
    qint64 transferred() const { return m_transferred; }
    qint64 expected() const { return m_expected; }
    int retries() const { return m_retries; }
    QString statusText() const { return m_status; }
    // The last send ended as delivered: every block was acknowledged but the
    // receiver never answered the end of transmission.
    bool endUnconfirmed() const { return m_endUnconfirmed; }

    static quint16 crc(const QByteArray& data);

    const int replyTimeout = 10000;
    const int startTimeout = 30000;
    const int lingerTime = 2000;

Q_SIGNALS:
    void changed();
    void finished(bool success, const QString& message);

private:
    bool begin(Protocol protocol, bool receiving);
    void sendNext();
    bool transmit(const QByteArray& bytes);
    void receiverReady();
    void resend();
    void receivePacket(const QByteArray& packet, int size);
    bool commit();
    void timeout();
    void complete(bool success, const QString& message);
    void setStatus(const QString& text);
    void queueSendNext();

    QString m_status;
    Phase m_phase = Idle;
    Protocol m_protocol = Raw;
    bool m_active = false;
    bool m_receiving = false;
    bool m_eotSeen = false;
    bool m_canSeen = false;
    bool m_endUnconfirmed = false;
    int m_block = 1;
    int m_retries = 0;
    int m_failures = 0;
    qint64 m_transferred = 0;
    qint64 m_expected = -1;
    qint64 m_pending = 0;
    QFile m_source;
    std::unique_ptr<WholeFile> m_target;
    QByteArray m_buffer;
    QByteArray m_lastPacket;
    QTimer m_pollTimer;
    QElapsedTimer m_idleClock;
};

} // namespace vn
