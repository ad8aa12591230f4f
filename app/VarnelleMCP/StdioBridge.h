#pragma once

#include <QByteArray>
#include <QJsonValue>
#include <QList>
#include <QNetworkAccessManager>
#include <QObject>
#include <QUrl>

#include <memory>

class QNetworkReply;
class QSocketNotifier;

namespace vn {

// Relays newline-delimited JSON-RPC messages between standard input/output and
// the program's MCP endpoint over HTTP, for agent tools that start their MCP
// servers as child processes. It carries the session id the endpoint hands out,
// writes nothing for notifications, answers a request that cannot reach the
// endpoint with a JSON-RPC error, and ends the session when its input closes.
class StdioBridge : public QObject {
    Q_OBJECT

public:
    StdioBridge(const QUrl& endpoint, int inputFd, int outputFd, QObject* parent = nullptr);

    void start();

Q_SIGNALS:
    void finished(int exitCode);

private:
    struct Message {
        QByteArray body;
        QJsonValue id = QJsonValue(QJsonValue::Undefined); // for notifications and responses
        bool initialize = false;
    };

    void readInput();
    void handleLine(QByteArray line);
    void send(const Message& message);
    // A reply that arrives as server-sent events is relayed event by event, so
    // that notifications sent during a long call reach the client at once.
    struct EventStream {
        QByteArray pending;  // bytes after the last complete line
        QByteArray data;     // data lines of the event being read
        int written = 0;     // messages relayed from this reply
        QByteArray first;    // the first of them
    };

    void replied(QNetworkReply* reply, const Message& message, EventStream& stream);
    void readEvents(QNetworkReply* reply, EventStream& stream, bool final);
    void writeError(const QJsonValue& id, int code, const QString& text);
    void writeLine(const QByteArray& line);
    void flushQueue();
    void finishIfDone();

    QUrl m_endpoint;
    int m_outputFd;
    int m_inputFd;
    QNetworkAccessManager m_network;
    QSocketNotifier* m_input = nullptr;
    QByteArray m_buffer;
    QByteArray m_sessionId;
    QByteArray m_protocolVersion;
    QList<Message> m_queue;      // held while "initialize" is in flight
    bool m_initializing = false;
    int m_inFlight = 0;
    bool m_inputClosed = false;
    bool m_closing = false;
    bool m_outputBroken = false;
};

} // namespace vn
