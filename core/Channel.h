#pragma once

#include "core/Config.h"
#include "core/Source.h"

#include <QJsonObject>
#include <QObject>
#include <QPointer>
#include <QSerialPort>
#include <QSize>
#include <QString>
#include <QTimer>

#include <map>
#include <memory>

class QTcpServer;
class QTcpSocket;
class QUdpSocket;

namespace vn {

class Engine;
class FrameScriptProcessor;
class FrameScriptProgram;
class SshAuthSession;
class SshProcess;

// One live connection: a serial port (or the "loop://" loopback), a TCP
// client, a TCP server, a UDP socket, an SSH session or a demo generator.
// Owned by the Engine (its QObject parent); lives on the GUI thread.
class Channel : public QObject {
    Q_OBJECT
public:
    // The most bytes one received journal event carries. A transport that
    // finds more waiting reads it, and receive() journals it, in pieces of
    // this size, in order: one busy moment never turns into a single event the
    // history has to drop whole, and no read holds the loop for long.
    static constexpr qsizetype MaxPiece = 65536;
    // What is sent is journaled as one event up to this size (everything
    // the encoder lets through is); only a larger send is split.
    static constexpr qsizetype MaxSentPiece = 1048576;
    // What Qt keeps read ahead for one TCP socket. A socket is read whole on
    // each readyRead (as far as the engine's TcpPace allows), so one turn of
    // the loop takes at most this much from it; while the window is busy or
    // the allowance is used up the kernel's buffer fills and TCP slows the
    // sender down, instead of one large read arriving once the loop is back.
    static constexpr qint64 TcpReadAhead = 262144;
    // The receive buffer a UDP socket asks the kernel for, so that datagrams
    // arriving while the window is busy wait instead of being dropped; the
    // system may grant less (udpReceiveBuffer).
    static constexpr int UdpReceiveRequest = 8388608;

    Channel(Engine* engine, const Config& config);
    ~Channel() override;

    // Lifecycle (never throws; a failure ends in the "error" state).
    void open();
    void close();
    void status(const QString& state, const QString& message = QString(), bool streamReset = false);
    void releaseTransport();
    void deviceMissing();
    void applySerial(const Config& config);
    void resizeTerminal(const QSize& size);

    // Sending and description.
    QJsonObject send(const QByteArray& data, const QString& peer = QString(),
                     const QString& source = QString());
    QJsonObject describe() const;

    // Receive path; never lets an exception escape.
    void receive(const QByteArray& data, const QString& peer);
    void configureScript(const QString& source, bool enabled);
    void configureParser(const QString& mode, const QString& encoding);
    QJsonObject readRecords(qint64 cursor, int limit, const QJsonObject& cursors, bool script) const;
    QJsonObject structured(qint64 cursor, int limit, const QJsonObject& cursors) const;
    QJsonObject scriptResults(qint64 cursor, int limit, const QJsonObject& cursors) const;
    QJsonObject waveform(int n) const;

    // Decoders run by receive().
    void parseWave(Source& source, const QByteArray& data);
    void parseStructured(Source& source, const QByteArray& data, qint64 eventSeq, const QString& peer);

    // Demo generator steps.
    void generateWaveDemo();
    void generateStructuredDemo();

    // Connects a TCP socket's data and disconnection to this channel.
    void watchSocket(QTcpSocket* socket, const QString& peer);
    // Journals everything the device holds, a piece at a time, for as long
    // as the channel still reads from it; a paced read stops where the
    // engine's TCP allowance does and goes on when it is renewed.
    void drain(QIODevice* device, const QString& peer, bool paced);

    bool transferActive() const { return !transferOwner.isNull(); }
    // A serial channel on the software loopback: "loop://" in any letter
    // case, as the port's key already treats every spelling as one port.
    bool isLoopback() const;

    Engine* engine;
    Config config;
    QString id;
    QString name;
    QString state = QStringLiteral("closed");
    QString error;
    QString parserMode = QStringLiteral("off");
    QString encoding = QStringLiteral("utf-8");
    QString scriptSource;
    QString scriptError;
    bool scriptEnabled = false;
    qint64 scriptFrames = 0;
    qint64 rxBytes = 0;
    qint64 txBytes = 0;
    int appliedBaudrate = 0;
    int serialGeneration = 0;
    int reconnectAttempts = 0;
    QString localAddress;
    // The UDP socket's receive buffer as the system reports it after the
    // request (Linux reports twice what it lets data use, capped by
    // net.core.rmem_max); 0 until a UDP socket is bound.
    int udpReceiveBuffer = 0;
    QSerialPort* serialPort = nullptr;
    QTcpSocket* tcpSocket = nullptr;
    QTcpServer* tcpServer = nullptr;
    QUdpSocket* udpSocket = nullptr;
    SshProcess* sshProcess = nullptr;
    SshAuthSession* sshAuth = nullptr;
    QSize terminalSize{120, 32};
    std::map<QString, QTcpSocket*> clients;
    std::map<QString, SourcePtr> sources;
    QTimer tickTimer;
    QTimer reconnectTimer;
    bool userClosed = true;
    bool opening = false;
    QPointer<QObject> transferOwner;
    qint64 demoCounter = 0;
    FrameScriptProcessor* processor = nullptr;
    std::shared_ptr<const FrameScriptProgram> program;

Q_SIGNALS:
    void bytesReceived(const QByteArray& data);
    // A real serial port has handed everything written so far to the line.
    void outputDrained();

private:
    // One file per transport family.
    void openSerial(bool wasReconnecting);      // ChannelSerial.cpp
    void serialError(QSerialPort::SerialPortError error);
    void reconnectStep();
    void openTcpClient();                       // ChannelNetwork.cpp
    void openTcpServer();
    void openUdp();
    void acceptClients();
    void openSsh();                             // ChannelSsh.cpp
    void releaseSsh();
    void resizeSsh();
    qint64 writeSsh(const QByteArray& data);
    void sshOutput(const QByteArray& chunk);
    void sshFinished(int code);
    void openDemo();                            // ChannelDemo.cpp
    void demoTick();

    void restartScriptRuntimes();               // ChannelScript.cpp
    void submitScript(const QByteArray& data, const QString& peer, qint64 eventSeq);
    static QString defaultScriptSource();
    void scriptSamplesHandler(const QString& peer, const QJsonArray& samples, qint64 eventSequence);
    void scriptFailedHandler(const QString& message);
    Source& sourceFor(const QString& peer);
    void receiveRead(const QByteArray& data, const QString& peer, bool moreOfTheRead);
    void receivePiece(const QByteArray& data, const QString& peer);
    bool readsFrom(const QIODevice* device) const;
    void resumePacedReads();
    void decoderFailed(const QString& message);

    int sshScanState = 0;      // escape scanner of the SSH output, across chunks
    // The piece being decoded is not the last of what the transport handed
    // over at once: the structured parser's limit on unfinished documents
    // applies to a whole read, as if it had come in one piece.
    bool moreOfTheRead = false;
};

} // namespace vn
