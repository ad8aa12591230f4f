#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QString>

#include <functional>

namespace vn::test {

// Runs the event loop until the condition holds or the time is up.
bool waitUntil(const std::function<bool()>& condition, int timeoutMs = 5000);

// One HTTP answer as the server wrote it.
struct HttpReply {
    QByteArray raw;
    QByteArray statusLine;
    int status = 0;
    QMap<QByteArray, QByteArray> headers; // lower-case names
    QByteArray body;
    bool closed = false;                  // the server closed the connection

    QJsonObject json() const;
};

// Sends the request in the given pieces (waiting a little between them, so
// the server reads them apart) and collects everything until the server closes.
HttpReply exchange(quint16 port, const QList<QByteArray>& pieces, int timeoutMs = 5000);

// A POST of a JSON body to /mcp with the usual headers.
QByteArray postRequest(const QByteArray& body, const QString& sessionId = QString(),
                       const QByteArray& extraHeaders = QByteArray());
HttpReply post(quint16 port, const QJsonObject& message, const QString& sessionId = QString());

// initialize, returning the new session id (empty on failure).
QString initialize(quint16 port, const QString& clientName = QStringLiteral("test-client"));

// tools/call in a session; returns the whole JSON-RPC reply.
QJsonObject callTool(quint16 port, const QString& sessionId, const QString& name,
                     const QJsonObject& arguments = QJsonObject(), int timeoutMs = 15000);

} // namespace vn::test
