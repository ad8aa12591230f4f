#include "core/Channel.h"

#include "core/Engine.h"
#include "core/Fail.h"

#include <QHostAddress>
#include <QNetworkDatagram>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUdpSocket>

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

void Channel::watchSocket(QTcpSocket* socket, const QString& peer)
{
    connect(socket, &QTcpSocket::readyRead, this, [this, socket, peer] {
        receive(socket->readAll(), peer);
    });
    connect(socket, &QTcpSocket::disconnected, this, [this, socket, peer] {
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
    connect(udpSocket, &QUdpSocket::readyRead, this, [this] {
        while (udpSocket && udpSocket->hasPendingDatagrams()) {
            const QNetworkDatagram datagram = udpSocket->receiveDatagram();
            receive(datagram.data(), peerName(datagram.senderAddress(), quint16(datagram.senderPort())));
        }
    });
    status(QStringLiteral("connected"));
}

} // namespace vn
