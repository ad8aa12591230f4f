#include "HttpClient.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QHostAddress>
#include <QJsonDocument>
#include <QTcpSocket>
#include <QTest>

namespace vn::test {

bool waitUntil(const std::function<bool()>& condition, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QTest::qSleep(1);
    }
    return true;
}

QJsonObject HttpReply::json() const
{
    return QJsonDocument::fromJson(body).object();
}

HttpReply exchange(quint16 port, const QList<QByteArray>& pieces, int timeoutMs)
{
    HttpReply reply;
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!waitUntil([&] { return socket.state() == QAbstractSocket::ConnectedState; }, timeoutMs))
        return reply;
    for (int i = 0; i < pieces.size(); ++i) {
        socket.write(pieces.at(i));
        waitUntil([&] { return socket.bytesToWrite() == 0; }, timeoutMs);
        if (i + 1 < pieces.size())
            QTest::qWait(30);
    }
    reply.closed = waitUntil([&] {
        reply.raw += socket.readAll();
        return socket.state() == QAbstractSocket::UnconnectedState;
    }, timeoutMs);
    reply.raw += socket.readAll();

    const qsizetype end = reply.raw.indexOf("\r\n\r\n");
    if (end < 0)
        return reply;
    const QList<QByteArray> lines = reply.raw.left(end).split('\n');
    reply.statusLine = lines.value(0).trimmed();
    reply.status = reply.statusLine.split(' ').value(1).toInt();
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines[i].indexOf(':');
        if (colon > 0)
            reply.headers.insert(lines[i].left(colon).trimmed().toLower(), lines[i].mid(colon + 1).trimmed());
    }
    reply.body = reply.raw.mid(end + 4);
    return reply;
}

QByteArray postRequest(const QByteArray& body, const QString& sessionId, const QByteArray& extraHeaders)
{
    QByteArray request = "POST /mcp HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\n";
    if (!sessionId.isEmpty())
        request += "Mcp-Session-Id: " + sessionId.toUtf8() + "\r\n";
    request += extraHeaders;
    request += "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
    return request;
}

HttpReply post(quint16 port, const QJsonObject& message, const QString& sessionId)
{
    return exchange(port, {postRequest(QJsonDocument(message).toJson(QJsonDocument::Compact), sessionId)}, 15000);
}

QString initialize(quint16 port, const QString& clientName)
{
    const QJsonObject message{
        {QStringLiteral("jsonrpc"), QStringLiteral("2.0")},
        {QStringLiteral("id"), 1},
        {QStringLiteral("method"), QStringLiteral("initialize")},
        {QStringLiteral("params"),
         QJsonObject{{QStringLiteral("protocolVersion"), QStringLiteral("2025-03-26")},
                     {QStringLiteral("clientInfo"), QJsonObject{{QStringLiteral("name"), clientName}}}}}};
    const HttpReply reply = post(port, message);
    return QString::fromUtf8(reply.headers.value("mcp-session-id"));
}

QJsonObject callTool(quint16 port, const QString& sessionId, const QString& name, const QJsonObject& arguments,
                     int timeoutMs)
{
    const QJsonObject message{
        {QStringLiteral("jsonrpc"), QStringLiteral("2.0")},
        {QStringLiteral("id"), 7},
        {QStringLiteral("method"), QStringLiteral("tools/call")},
        {QStringLiteral("params"),
         QJsonObject{{QStringLiteral("name"), name}, {QStringLiteral("arguments"), arguments}}}};
    const QByteArray body = QJsonDocument(message).toJson(QJsonDocument::Compact);
    return exchange(port, {postRequest(body, sessionId)}, timeoutMs).json();
}

} // namespace vn::test
