#include "core/Channel.h"

#include "core/Engine.h"
#include "core/Fail.h"

#include <QJsonArray>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUdpSocket>
#include <QUuid>

namespace vn {

namespace {

QString defaultName(const Config& config)
{
    if (!config.name.isEmpty())
        return config.name;
    if (config.kind == QLatin1String("serial"))
        return config.port;
    if (config.kind == QLatin1String("ssh"))
        return config.ssh_host;
    const int port = config.kind == QLatin1String("tcp-client") ? config.network_port : config.bind_port;
    return config.kind + QStringLiteral(" · ") + QString::number(port);
}

} // namespace

Channel::Channel(Engine* owner, const Config& cfg)
    : QObject(owner)
    , engine(owner)
    , config(cfg)
    , id(QUuid::createUuid().toString(QUuid::Id128).left(10))
    , name(defaultName(cfg))
{
    scriptSource = defaultScriptSource();
    tickTimer.setTimerType(Qt::PreciseTimer);
    tickTimer.setInterval(cfg.isWaveformDemo() ? 20 : cfg.isStructuredDemo() ? 1000 : 40);
    connect(&tickTimer, &QTimer::timeout, this, &Channel::demoTick);
    reconnectTimer.setInterval(300);
    reconnectTimer.setSingleShot(false);
    connect(&reconnectTimer, &QTimer::timeout, this, &Channel::reconnectStep);
    connect(&owner->tcpPace, &TcpPace::resumed, this, &Channel::resumePacedReads);
}

Channel::~Channel()
{
    releaseTransport();
}

void Channel::status(const QString& newState, const QString& message, bool streamReset)
{
    state = newState;
    const bool keepsError = newState == QLatin1String("error") || newState == QLatin1String("reconnecting");
    error = keepsError ? message : QString();
    engine->journal.append(id, QStringLiteral("status"), QByteArray(), QString(),
                           message.isEmpty() ? newState : message, streamReset, config.kind);
    Q_EMIT engine->channelsChanged();
    Q_EMIT engine->eventAdded();
}

void Channel::open()
{
    const bool wasReconnecting = state == QLatin1String("reconnecting");
    releaseTransport();
    userClosed = false;
    opening = true;
    try {
        const QString& kind = config.kind;
        if (kind == QLatin1String("serial"))
            openSerial(wasReconnecting);
        else if (kind == QLatin1String("tcp-client"))
            openTcpClient();
        else if (kind == QLatin1String("tcp-server"))
            openTcpServer();
        else if (kind == QLatin1String("udp"))
            openUdp();
        else if (kind == QLatin1String("ssh"))
            openSsh();
        else
            openDemo();
    } catch (const std::exception& failure) {
        releaseTransport();
        if (wasReconnecting)
            reconnectTimer.start();
        else
            status(QStringLiteral("error"), errorText(failure));
    }
    opening = false;
}

void Channel::releaseTransport()
{
    restartScriptRuntimes();
    tickTimer.stop();
    QObject* transports[] = {serialPort, tcpSocket, tcpServer, udpSocket};
    for (QObject* transport : transports) {
        if (transport) {
            disconnect(transport, nullptr, this, nullptr);
            transport->deleteLater();
        }
    }
    if (serialPort)
        serialPort->close();
    if (tcpSocket)
        tcpSocket->abort();
    if (tcpServer)
        tcpServer->close();
    if (udpSocket)
        udpSocket->close();
    releaseSsh();
    for (auto& [peer, socket] : clients) {
        disconnect(socket, nullptr, this, nullptr);
        socket->abort();
        socket->deleteLater();
    }
    clients.clear();
    serialPort = nullptr;
    tcpSocket = nullptr;
    tcpServer = nullptr;
    udpSocket = nullptr;
    sshProcess = nullptr;
    sshAuth = nullptr;
    appliedBaudrate = 0;
}

void Channel::close()
{
    userClosed = true;
    reconnectTimer.stop();
    releaseTransport();
    status(QStringLiteral("closed"));
}

void Channel::resizeTerminal(const QSize& size)
{
    terminalSize = size;
    if (sshProcess)
        resizeSsh();
}

QJsonObject Channel::send(const QByteArray& data, const QString& peer, const QString& source)
{
    if (transferActive() && source != QLatin1String("file-transfer"))
        fail(QStringLiteral("串口正在传输文件，请在传输完成后发送"));
    if (state != QLatin1String("connected") && state != QLatin1String("listening"))
        fail(QStringLiteral("连接未就绪，不能发送"));

    qint64 count = -1;
    if (isLoopback()) {
        // The loopback answers from the event loop, after this call has returned.
        QTimer::singleShot(0, this, [this, data] {
            receive(data, QString());
            Q_EMIT outputDrained();
        });
        count = data.size();
    } else if (serialPort) {
        count = serialPort->write(data);
    } else if (tcpSocket) {
        count = tcpSocket->write(data);
    } else if (tcpServer) {
        QString target = peer;
        if (target.isEmpty() && clients.size() == 1)
            target = clients.begin()->first;
        const auto it = target.isEmpty() ? clients.end() : clients.find(target);
        if (it == clients.end())
            fail(QStringLiteral("请选择目标 TCP 客户端"));
        count = it->second->write(data);
    } else if (udpSocket) {
        QString host = config.host;
        int port = config.network_port;
        if (!peer.isEmpty()) {
            const qsizetype colon = peer.lastIndexOf(QLatin1Char(':'));
            host = colon < 0 ? peer : peer.left(colon);
            bool ok = false;
            port = colon < 0 ? 0 : peer.mid(colon + 1).toInt(&ok);
            if (!ok)
                port = 0;
        }
        const QHostAddress address(host);
        if (address.isNull() || port < 1 || port > 65535)
            fail(QStringLiteral("UDP 目标需要有效 IP:端口"));
        count = udpSocket->writeDatagram(data, address, quint16(port));
    } else if (sshProcess) {
        count = writeSsh(data);
    } else if (config.kind == QLatin1String("demo")) {
        fail(QStringLiteral("模拟信号为只读数据源"));
    }
    if (count != data.size())
        fail(QStringLiteral("驱动未接受完整报文，未自动重发"));

    txBytes += count;
    if (config.kind == QLatin1String("ssh")) {
        Q_EMIT engine->eventAdded();
    } else {
        // No event over 1 MiB, sent or received; each piece is announced.
        qsizetype at = 0;
        do {
            engine->journal.append(id, QStringLiteral("tx"),
                                   data.size() <= MaxSentPiece ? data : data.mid(at, MaxSentPiece), peer, source,
                                   false, config.kind);
            Q_EMIT engine->eventAdded();
            at += MaxSentPiece;
        } while (at < data.size());
    }

    QJsonObject result;
    result.insert(QLatin1String("channel_id"), id);
    result.insert(QLatin1String("bytes_sent"), count);
    result.insert(QLatin1String("peer"), peer);
    return result;
}

QJsonObject Channel::describe() const
{
    QJsonArray peers;
    for (const auto& entry : clients)
        peers.append(entry.first);
    QJsonObject o;
    o.insert(QLatin1String("id"), id);
    o.insert(QLatin1String("name"), name);
    o.insert(QLatin1String("state"), state);
    o.insert(QLatin1String("error"), error);
    o.insert(QLatin1String("config"), config.json());
    o.insert(QLatin1String("rx_bytes"), rxBytes);
    o.insert(QLatin1String("tx_bytes"), txBytes);
    o.insert(QLatin1String("peers"), peers);
    o.insert(QLatin1String("local_address"), localAddress);
    o.insert(QLatin1String("serial_generation"), serialGeneration);
    o.insert(QLatin1String("reconnect_attempts"), reconnectAttempts);
    o.insert(QLatin1String("parser_mode"), parserMode);
    o.insert(QLatin1String("applied_baudrate"), appliedBaudrate);
    o.insert(QLatin1String("script_enabled"), scriptEnabled);
    o.insert(QLatin1String("script_error"), scriptError);
    o.insert(QLatin1String("script_frames"), scriptFrames);
    o.insert(QLatin1String("file_transfer_active"), transferActive());
    return o;
}

} // namespace vn
