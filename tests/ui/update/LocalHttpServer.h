#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QObject>
#include <QTcpServer>

namespace vn::test {

// What the local server answers for one path (with its query).
struct Route {
    int status = 200;
    QByteArray body;
    // When >= 0, the body is this many bytes of patternBlock() repeated, made as it is sent.
    qint64 patternSize = -1;
    // When >= 0, the server sends the head and this many body bytes, then goes silent
    // with the connection open.
    qint64 stallAfter = -1;
};

// 64 KiB of deterministic bytes; a pattern body is this block repeated.
QByteArray patternBlock();

// A small HTTP/1.1 server on 127.0.0.1 standing in for the update feed, the REST
// interface and the download host. It streams bodies with back-pressure, so a client
// that aborts stops the transfer, and counts what it sent.
class LocalHttpServer : public QObject {
    Q_OBJECT
public:
    LocalHttpServer();
    quint16 port() const { return m_server.serverPort(); }
    void route(const QByteArray& pathAndQuery, const Route& route) { m_routes[pathAndQuery] = route; }
    // Paths (with query) in the order they were asked for.
    QList<QByteArray> requests;
    // Body bytes handed to the socket, per path.
    QHash<QByteArray, qint64> sent;

private:
    void serve(class QTcpSocket* socket);
    QTcpServer m_server;
    QHash<QByteArray, Route> m_routes;
};

// Sends every request to the local server while keeping what the service asked for:
// the recorded requests still carry the real hosts, headers and time-outs. Time-outs
// are divided by `timeoutDivisor` so slow-transfer cases take a moment, not a minute.
class LoopbackManager : public QNetworkAccessManager {
    Q_OBJECT
public:
    explicit LoopbackManager(quint16 port) : m_port(port) {}
    QList<QNetworkRequest> asked;
    int timeoutDivisor = 1;

protected:
    QNetworkReply* createRequest(Operation op, const QNetworkRequest& request,
                                 QIODevice* data) override;

private:
    quint16 m_port;
};

} // namespace vn::test
