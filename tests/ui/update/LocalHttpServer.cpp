#include "LocalHttpServer.h"

#include <QTcpSocket>
#include <QUrl>

#include <memory>

namespace vn::test {

QByteArray patternBlock()
{
    QByteArray block(64 * 1024, Qt::Uninitialized);
    quint32 x = 2463534242u;
    for (char& c : block) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        c = char(x & 0xff);
    }
    return block;
}

LocalHttpServer::LocalHttpServer()
{
    m_server.listen(QHostAddress::LocalHost, 0);
    connect(&m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* socket = m_server.nextPendingConnection())
            serve(socket);
    });
}

void LocalHttpServer::serve(QTcpSocket* socket)
{
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    auto head = std::make_shared<QByteArray>();
    connect(socket, &QTcpSocket::readyRead, socket, [this, socket, head] {
        if (head->endsWith("\r\n\r\n"))
            return;
        head->append(socket->readAll());
        if (!head->contains("\r\n\r\n"))
            return;
        const QByteArray path = head->split(' ').value(1);
        requests.append(path);
        const Route route = m_routes.value(path, Route{404, "not found", -1, -1});
        const qint64 total = route.patternSize >= 0 ? route.patternSize : route.body.size();
        const qint64 limit = route.stallAfter >= 0 ? qMin(route.stallAfter, total) : total;
        socket->write("HTTP/1.1 " + QByteArray::number(route.status) + " X\r\nContent-Length: "
                      + QByteArray::number(total) + "\r\nConnection: close\r\n\r\n");
        const QByteArray block = route.patternSize >= 0 ? patternBlock() : QByteArray();
        auto offset = std::make_shared<qint64>(0);
        const auto pump = [this, socket, route, block, limit, total, offset, path] {
            while (socket->state() == QAbstractSocket::ConnectedState
                   && socket->bytesToWrite() < 256 * 1024 && *offset < limit) {
                QByteArray chunk;
                if (route.patternSize >= 0)
                    chunk = block.left(qMin<qint64>(block.size(), limit - *offset));
                else
                    chunk = route.body.mid(*offset, qMin<qint64>(64 * 1024, limit - *offset));
                socket->write(chunk);
                *offset += chunk.size();
                sent[path] += chunk.size();
            }
            if (*offset == total && socket->bytesToWrite() == 0)
                socket->disconnectFromHost();
        };
        connect(socket, &QTcpSocket::bytesWritten, socket, pump);
        pump();
    });
}

QNetworkReply* LoopbackManager::createRequest(Operation op, const QNetworkRequest& request,
                                              QIODevice* data)
{
    asked.append(request);
    QNetworkRequest local = request;
    QUrl url = request.url();
    url.setScheme(QStringLiteral("http"));
    url.setHost(QStringLiteral("127.0.0.1"));
    url.setPort(m_port);
    local.setUrl(url);
    local.setTransferTimeout(request.transferTimeout() / timeoutDivisor);
    return QNetworkAccessManager::createRequest(op, local, data);
}

} // namespace vn::test
