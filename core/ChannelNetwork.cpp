#include "core/Channel.h"

#include "core/Engine.h"
#include "core/Fail.h"

#include <QHostAddress>
#include <QNetworkDatagram>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUdpSocket>

#include <algorithm>

namespace vn {

namespace {

QString peerName(const QHostAddress& address, quint16 port)
{
    return address.toString() + QLatin1Char(':') + QString::number(port);
}

// Qt would listen on every interface for a host it cannot read as an address;
// only an address the user actually wrote is bound.
QHostAddress bindAddress(const QString& host)
{
    const QHostAddress address(host);
    if (address.isNull())
        fail(QStringLiteral("本地地址 %1 不是有效的 IP 地址，请填写如 127.0.0.1 或 0.0.0.0 的地址").arg(host));
    return address;
}

} // namespace

void Channel::drain(QIODevice* device, const QString& peer, bool paced)
{
    // A handler of a piece may close the channel, which lets the device go
    // (and empties it); what it still holds then belongs to nobody.
    const QPointer<QIODevice> alive(device);
    while (alive && readsFrom(device) && device->bytesAvailable() > 0) {
        qint64 limit = MaxPiece;
        if (paced) {
            // Left where it is, the rest is taken up by resumePacedReads.
            limit = std::min(limit, engine->tcpPace.room());
            if (limit <= 0)
                return;
        }
        // The last piece is taken with readAll(), which always asks the
        // device itself once more: a socket or port that stopped reading
        // because its read-ahead was full starts again only then, and no
        // readyRead would come for data it already holds.
        const QByteArray piece = device->bytesAvailable() > limit ? device->read(limit) : device->readAll();
        if (piece.isEmpty())
            break;
        if (paced)
            engine->tcpPace.take(piece.size());
        // What the device still holds, and this loop takes now, came with
        // this piece: to the decoders it is one read.
        const bool more = device->bytesAvailable() > 0 && (!paced || engine->tcpPace.room() > 0);
        receiveRead(piece, peer, more);
    }
}

void Channel::resumePacedReads()
{
    if (tcpSocket)
        drain(tcpSocket, QString(), true);
    // A copy: a piece's handlers may change the clients.
    const std::map<QString, QTcpSocket*> waiting = clients;
    for (const auto& [peer, socket] : waiting) {
        if (readsFrom(socket))
            drain(socket, peer, true);
    }
}

bool Channel::readsFrom(const QIODevice* device) const
{
    if (device == tcpSocket || device == serialPort)
        return true;
    for (const auto& entry : clients) {
        if (entry.second == device)
            return true;
    }
    return false;
}

void Channel::watchSocket(QTcpSocket* socket, const QString& peer)
{
    socket->setReadBufferSize(TcpReadAhead);
    connect(socket, &QTcpSocket::readyRead, this, [this, socket, peer] { drain(socket, peer, true); });
    connect(socket, &QTcpSocket::disconnected, this, [this, socket, peer] {
        // What arrived before the end is journaled before the end, paced or
        // not: it is no more than the read-ahead.
        drain(socket, peer, false);
        if (peer.isEmpty()) {
            status(QStringLiteral("closed"));
            return;
        }
        const auto it = clients.find(peer);
        if (it != clients.end() && it->second == socket)
            clients.erase(it);
        disconnect(socket, nullptr, this, nullptr);
        socket->deleteLater();
        Q_EMIT engine->channelsChanged();
    });
}

void Channel::openTcpClient()
{
    tcpSocket = new QTcpSocket(this);
    watchSocket(tcpSocket, QString());
    connect(tcpSocket, &QTcpSocket::connected, this, [this] {
        localAddress = peerName(tcpSocket->localAddress(), tcpSocket->localPort());
        status(QStringLiteral("connected"));
    });
    connect(tcpSocket, &QTcpSocket::errorOccurred, this, [this] {
        status(QStringLiteral("error"), tcpSocket->errorString());
    });
    status(QStringLiteral("connecting"));
    tcpSocket->connectToHost(config.host, quint16(config.network_port), QIODevice::ReadWrite,
                             QAbstractSocket::AnyIPProtocol);
}

void Channel::openTcpServer()
{
    const QHostAddress address = bindAddress(config.bind_host);
    tcpServer = new QTcpServer(this);
    tcpServer->setMaxPendingConnections(16);
    if (!tcpServer->listen(address, quint16(config.bind_port)))
        fail(tcpServer->errorString());
    localAddress = peerName(tcpServer->serverAddress(), tcpServer->serverPort());
    connect(tcpServer, &QTcpServer::newConnection, this, &Channel::acceptClients);
    status(QStringLiteral("listening"));
}

void Channel::acceptClients()
{
    while (tcpServer && tcpServer->hasPendingConnections()) {
        QTcpSocket* socket = tcpServer->nextPendingConnection();
        if (!socket)
            break;
        if (clients.size() > 15) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        socket->setParent(this);
        const QString peer = peerName(socket->peerAddress(), socket->peerPort());
        clients[peer] = socket;
        watchSocket(socket, peer);
    }
    Q_EMIT engine->channelsChanged();
}

void Channel::openUdp()
{
    const QHostAddress address = bindAddress(config.bind_host);
    udpSocket = new QUdpSocket(this);
    if (!udpSocket->bind(address, quint16(config.bind_port)))
        fail(udpSocket->errorString());
    localAddress = peerName(udpSocket->localAddress(), udpSocket->localPort());
    // UDP cannot slow its senders: what arrives while the window is busy must
    // fit in the kernel's buffer, which is small by default.
    udpSocket->setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, UdpReceiveRequest);
    udpReceiveBuffer = udpSocket->socketOption(QAbstractSocket::ReceiveBufferSizeSocketOption).toInt();
    connect(udpSocket, &QUdpSocket::readyRead, this, [this] {
        // Everything waiting is taken, but no more than the buffer could
        // have held: senders faster than the journal must not keep this turn
        // of the loop going forever. The rest raises readyRead again.
        const qint64 budget = std::max<qint64>(udpReceiveBuffer, MaxPiece);
        qint64 taken = 0;
        while (udpSocket && taken < budget && udpSocket->hasPendingDatagrams()) {
            const QNetworkDatagram datagram = udpSocket->receiveDatagram();
            taken += std::max<qint64>(datagram.data().size(), 1);
            receive(datagram.data(), peerName(datagram.senderAddress(), quint16(datagram.senderPort())));
        }
    });
    status(QStringLiteral("connected"));
}

} // namespace vn
