#include "mcp/McpServer.h"

#include "mcp/AnswerStream.h"

#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>
#include <QUuid>

#include <limits>
#include <memory>

namespace vn {

namespace {

// The timer that ends a connection after its time limit.
QString lifetimeTimerName()
{
    return QStringLiteral("mcp_connection_lifetime");
}

// What the handlers of one connection share; released with the last of them.
struct Connection {
    QByteArray buffer;
    bool answered = false;
};

QByteArray reasonWord(int status)
{
    if (status == 200)
        return "OK";
    if (status == 202)
        return "Accepted";
    return "Error";
}

// The whole answer; with a `length`, the header of one whose body of that
// length follows separately.
QByteArray responseBytes(int status, const QByteArray& payload, const QString& sessionId, qsizetype length = -1)
{
    QByteArray out;
    out.reserve(payload.size() + 160);
    out += "HTTP/1.1 " + QByteArray::number(status) + ' ' + reasonWord(status);
    out += "\r\nContent-Type: application/json\r\nConnection: close\r\nContent-Length: ";
    out += QByteArray::number(length < 0 ? payload.size() : length) + "\r\n";
    if (!sessionId.isEmpty())
        out += "Mcp-Session-Id: " + sessionId.toUtf8() + "\r\n";
    if (status == 405)
        out += "Allow: POST, DELETE\r\n";
    out += "\r\n";
    out += payload;
    return out;
}

} // namespace

McpServer::McpServer(Engine* engine_, QObject* parent)
    : QTcpServer(parent)
    , engine(engine_)
    , access{{QStringLiteral("serial"), true},
             {QStringLiteral("tcp"), true},
             {QStringLiteral("udp"), true},
             {QStringLiteral("ssh"), true}}
{
    // The largest backlog the system grants (it clamps larger requests): a
    // burst that meets a short pause of the event loop is then queued, where
    // with a small backlog the kernel would drop the attempts and the clients
    // would wait out their retransmission back-off.
    setListenBacklogSize(std::numeric_limits<int>::max());
    connect(this, &QTcpServer::newConnection, this, &McpServer::acceptConnections);
    refusalNoteTimer.setSingleShot(true);
    connect(&refusalNoteTimer, &QTimer::timeout, this, &McpServer::writeRefusalNote);
    readTurn.setSingleShot(true);
    readTurn.setInterval(0);
    connect(&readTurn, &QTimer::timeout, this, &McpServer::nextRead);
}

McpServer::~McpServer()
{
    close();
    // Sockets are our children; cut their signals to us before the members go.
    const auto sockets = findChildren<QTcpSocket*>(QString(), Qt::FindDirectChildrenOnly);
    for (QTcpSocket* socket : sockets) {
        socket->disconnect(this);
        delete socket;
    }
}

bool McpServer::start(quint16 port)
{
    if (!listen(QHostAddress::LocalHost, port)) {
        lastError = QStringLiteral("MCP 端口 %1 无法监听：%2").arg(port).arg(errorString());
        return false;
    }
    lastError.clear();
    Q_EMIT portChanged(serverPort());
    return true;
}

bool McpServer::startAvailable(quint16 port)
{
    if (start(port))
        return true;
    return start(0);
}

bool McpServer::changePort(quint16 port)
{
    if (isListening() && port == serverPort()) {
        lastError.clear();
        return true;
    }
    quint16 probed = 0;
    {
        QTcpServer probe;
        if (!probe.listen(QHostAddress::LocalHost, port)) {
            lastError = QStringLiteral("端口 %1 已占用或不可用：%2").arg(port).arg(probe.errorString())
                        + (isListening() ? QStringLiteral("；原服务仍在运行") : QStringLiteral("；请选择其他端口"));
            return false;
        }
        probed = probe.serverPort();
    }
    const quint16 oldPort = serverPort();
    const bool wasListening = isListening();
    close();
    if (start(probed))
        return true;
    const QString kept = lastError;
    if (wasListening) {
        if (start(oldPort)) {
            lastError = kept;
        } else {
            lastError = kept + QStringLiteral("；原端口恢复失败：") + lastError;
        }
    } else {
        lastError = kept;
    }
    return false;
}

QString McpServer::url() const
{
    return QStringLiteral("http://127.0.0.1:%1/mcp").arg(isListening() ? serverPort() : 0);
}

void McpServer::acceptConnections()
{
    while (QTcpSocket* socket = nextPendingConnection()) {
        // Every account on the machine can reach the loopback address. Only
        // this user's programs are served, and that is settled first, so that
        // another account can neither read the sessions nor hold the
        // connections that the limit below leaves for this user's agents.
        if (!servesPeer(socket)) {
            refuse(socket);
            continue;
        }
        if (openConnections >= MaxConnections) {
            // Refused unread: nothing of it is buffered beyond the kernel's.
            socket->abort();
            socket->deleteLater();
            continue;
        }
        ++openConnections;
        connect(socket, &QObject::destroyed, this, [this] { --openConnections; });
        socket->setReadBufferSize(MaxRequestBytes);
        auto connection = std::make_shared<Connection>();
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        // A child of the socket, so the timer dies with its connection. A
        // single-shot with the socket as mere context would stay registered
        // for its full run after the socket is gone, and under a steady stream
        // of short connections every timer operation would walk all of them.
        auto* lifetime = new QTimer(socket);
        lifetime->setObjectName(lifetimeTimerName());
        lifetime->setSingleShot(true);
        connect(lifetime, &QTimer::timeout, socket, [socket] { socket->disconnectFromHost(); });
        lifetime->start(connectionTimeoutMs);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket, connection] {
            if (connection->answered)
                return;
            connection->buffer += socket->readAll();
            QByteArray& buffer = connection->buffer;
            const qsizetype end = buffer.indexOf("\r\n\r\n");
            if (buffer.size() > MaxRequestBytes) {
                connection->answered = true;
                respond(socket, 413, {}, {});
                return;
            }
            if (end < 0) {
                if (buffer.size() > MaxHeaderBytes) {
                    connection->answered = true;
                    respond(socket, 413, {}, {});
                }
                return;
            }
            qint64 bodyLength = 0;
            const QList<QByteArray> lines = buffer.left(end).split('\n');
            for (const QByteArray& line : lines) {
                const QByteArray lower = line.toLower();
                if (!lower.startsWith("content-length:"))
                    continue;
                bool ok = false;
                const qint64 value = lower.mid(15).trimmed().toLongLong(&ok, 10);
                if (!ok || value < 0 || value > MaxRequestBytes) {
                    connection->answered = true;
                    respond(socket, 413, {}, {});
                    return;
                }
                bodyLength = value;
            }
            const qint64 total = end + 4 + bodyLength;
            if (buffer.size() < total)
                return;
            connection->answered = true;
            const QByteArray request = buffer.left(total);
            buffer.clear();
            buffer.squeeze();
            acceptRequest(socket, request);
        });
    }
}

void McpServer::acceptRequest(QTcpSocket* socket, const QByteArray& request)
{
    const qsizetype end = request.indexOf("\r\n\r\n");
    const QByteArray head = end < 0 ? request : request.left(end);
    const QList<QByteArray> lines = head.split('\n');
    const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
    const QByteArray method = requestLine.value(0);

    QMap<QByteArray, QByteArray> headers;
    for (const QByteArray& line : lines) {
        const qsizetype colon = line.indexOf(':');
        if (colon < 0)
            continue;
        headers.insert(line.left(colon).trimmed().toLower(), line.mid(colon + 1).trimmed());
    }

    const QString host = QString::fromUtf8(headers.value("host")).section(QLatin1Char(':'), 0, 0);
    if (!host.isEmpty() && host != QLatin1String("127.0.0.1") && host != QLatin1String("localhost")) {
        respond(socket, 403, {}, {});
        return;
    }
    if (headers.contains("origin")) {
        const QUrl origin(QString::fromUtf8(headers.value("origin")), QUrl::TolerantMode);
        const QString originHost = origin.host(QUrl::FullyDecoded);
        if (!origin.isEmpty() && originHost != QLatin1String("127.0.0.1")
            && originHost != QLatin1String("localhost")) {
            respond(socket, 403, {}, {});
            return;
        }
    }
    if (requestLine.size() < 2 || requestLine.at(1) != "/mcp") {
        respond(socket, 404, {}, {});
        return;
    }
    const QString sessionId = QString::fromUtf8(headers.value("mcp-session-id"));

    if (method == "DELETE") {
        sessions.remove(sessionId);
        respond(socket, 200, {}, {});
        return;
    }
    if (method != "POST") {
        respond(socket, 405, {}, {});
        return;
    }
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(request.mid(end + 4), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        respond(socket, 400, {}, {});
        return;
    }
    const QJsonObject message = document.object();
    const QJsonValue methodValue = message.value(QLatin1String("method"));
    if (methodValue.isString() && methodValue.toString() == QLatin1String("initialize")) {
        handleMessage(socket, message, createSession(message));
        return;
    }
    if (sessions.isEmpty() || !sessions.contains(sessionId)) {
        respond(socket, 404, {}, {});
        return;
    }
    handleMessage(socket, message, sessionId);
}

bool McpServer::servesPeer(QTcpSocket* socket)
{
    return peers.ownedBySelf(static_cast<int>(socket->socketDescriptor()));
}

void McpServer::refuse(QTcpSocket* socket)
{
    // What the client has sent so far is taken off the socket, so that
    // closing it ends the connection after the answer rather than resetting
    // it; anything later is the kernel's to reject.
    if (socket->socketDescriptor() != -1 && socket->waitForReadyRead(0))
        socket->readAll();
    if (socket->state() == QAbstractSocket::ConnectedState) {
        socket->write(responseBytes(403, {}, {}));
        socket->flush();
    }
    socket->abort();
    socket->deleteLater();
    noteRefusal();
}

void McpServer::noteRefusal()
{
    ++refusedPeers;
    if (refusalNoteTimer.isActive())
        return;
    const qint64 wait = refusalNoteAge.isValid() ? refusalNoteIntervalMs - refusalNoteAge.elapsed() : 0;
    if (wait <= 0)
        writeRefusalNote();
    else
        refusalNoteTimer.start(static_cast<int>(wait));
}

void McpServer::writeRefusalNote()
{
    refusalNoteAge.start();
    refusalNote = QStringLiteral("已拒绝其他本地账户的 %1 个连接").arg(refusedPeers);
    Q_EMIT refusalNoted(refusalNote);
}

QString McpServer::createSession(const QJsonObject& message)
{
    if (sessions.size() >= MaxSessions)
        sessions.erase(sessions.begin());
    const QString id = QString::fromLatin1(QUuid::createUuid().toByteArray(QUuid::Id128));
    const QJsonValue name = message.value(QLatin1String("params"))
                                .toObject()
                                .value(QLatin1String("clientInfo"))
                                .toObject()
                                .value(QLatin1String("name"));
    const QString client = name.isString() ? name.toString() : QStringLiteral("MCP 客户端");
    sessions.insert(id, client.left(120));
    return id;
}

void McpServer::respond(QTcpSocket* socket, int status, const QJsonObject& body, const QString& sessionId)
{
    writeResponse(socket, status, body.isEmpty() ? QByteArray() : QJsonDocument(body).toJson(QJsonDocument::Compact),
                  sessionId);
}

void McpServer::writeResponse(QTcpSocket* socket, int status, const QByteArray& payload, const QString& sessionId)
{
    if (socket->state() != QAbstractSocket::ConnectedState)
        return;
    if (payload.size() < 65536) {
        socket->write(responseBytes(status, payload, sessionId));
    } else {
        // A large body goes out as it is, behind its header: the socket
        // keeps the array itself rather than a copy of it.
        socket->write(responseBytes(status, QByteArray(), sessionId, payload.size()));
        socket->write(payload);
    }
    socket->disconnectFromHost();
}

void McpServer::writeAnswer(QTcpSocket* socket, std::vector<QByteArray> pieces, const QString& sessionId)
{
    qsizetype length = 0;
    for (const QByteArray& piece : pieces)
        length += piece.size();
    if (length < AnswerStream::SliceBytes) {
        QByteArray payload;
        payload.reserve(length);
        for (const QByteArray& piece : pieces)
            payload += piece;
        writeResponse(socket, 200, payload, sessionId);
        return;
    }
    if (socket->state() != QAbstractSocket::ConnectedState)
        return;
    // The stream ends a connection whose agent stops taking the answer; the
    // connection's own time limit would cut an answer that is on its way.
    if (auto* lifetime = socket->findChild<QTimer*>(lifetimeTimerName(), Qt::FindDirectChildrenOnly))
        lifetime->stop();
    pieces.insert(pieces.begin(), responseBytes(200, QByteArray(), sessionId, length));
    AnswerStream::start(socket, std::move(pieces), connectionTimeoutMs);
}

} // namespace vn
