#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QMap>
#include <QPointer>
#include <QString>
#include <QElapsedTimer>
#include <QTcpServer>
#include <QTimer>

#include "mcp/EventJsonCache.h"
#include "platform/LoopbackPeer.h"

#include <deque>
#include <functional>
#include <optional>
#include <vector>

class QTcpSocket;

namespace vn {

class Channel;
class Engine;

// The local MCP endpoint through which AI agents use the live sessions: one
// HTTP/1.1 request per connection on 127.0.0.1, path /mcp, carrying JSON-RPC
// 2.0 messages. Runs on the GUI thread with the Engine it was given; keeps the
// MCP session table, the protocol access switches and the activity history.
// The main window reaches into it only through the public members below.
class McpServer : public QTcpServer {
    Q_OBJECT
public:
    // A local process must not exhaust memory with idle connections.
    static constexpr int MaxConnections = 64;
    static constexpr int MaxSessions = 128;
    static constexpr int MaxHistory = 1000;
    static constexpr qsizetype MaxRequestBytes = 4194304;
    static constexpr qsizetype MaxHeaderBytes = 16384;

    McpServer(Engine* engine, QObject* parent = nullptr);
    ~McpServer() override;

    // Listening (McpServer.cpp).
    bool start(quint16 port);
    bool startAvailable(quint16 port);
    bool changePort(quint16 port);
    QString url() const;

    // HTTP answers and requests (McpServer.cpp) and JSON-RPC (McpRpc.cpp).
    void respond(QTcpSocket* socket, int status, const QJsonObject& body, const QString& sessionId);
    void acceptRequest(QTcpSocket* socket, const QByteArray& request);
    void finishCall(QTcpSocket* socket, const QJsonObject& message, const QString& sessionId);

    // Tool catalogue (ToolCatalogue.cpp) and access gates (AccessGates.cpp).
    QJsonArray tools() const;
    QJsonValue call(const QString& name, const QJsonObject& arguments);
    QJsonObject protocolAccess() const;
    bool protocolEnabled(const QString& kind) const;
    void setProtocolEnabled(const QString& protocol, bool enabled);
    void requireProtocol(const QString& kind) const;
    Channel* accessibleChannel(const QString& channelId) const;
    QJsonArray visibleConnections() const;

    // Reading tools (ReadingTools.cpp) and frame-script tools (ScriptTools.cpp).
    QJsonObject readEvents(const QJsonObject& arguments, int limitOverride, bool allChannels) const;
    QJsonObject scriptTool(const QString& name, const QJsonObject& arguments);

    QString lastError;
    qint64 callCount = 0;
    QJsonArray history;
    QMap<QString, QString> sessions;
    std::function<QString(Channel*)> sampleTextProvider;
    std::function<QJsonObject(Channel*, const QJsonObject&)> searchHandler;
    std::function<void(Channel*, const QString&, bool, const std::optional<QString>&)> scriptApplier;
    QJsonArray agentChecks;

    // How long an accepted connection may stay open, answered or not. Tests
    // shorten it; the product keeps the default.
    int connectionTimeoutMs = 20000;

    // Connections refused because another local account holds their other
    // end (or no owner could be found). They never reach the call log or
    // lastError; refusalNote says how many there were in one line, brought
    // up to date at most once per refusalNoteIntervalMs (empty until the
    // first), and refusalNoted announces each new text.
    qint64 refusedPeers = 0;
    QString refusalNote;
    int refusalNoteIntervalMs = 60000;

Q_SIGNALS:
    void protocolAccessChanged();
    void portChanged(quint16 port);
    void toolCalled(const QJsonObject& record);
    void guiConnectionOpened(vn::Channel* channel);
    void refusalNoted(const QString& note);

protected:
    // Whether the other end of an accepted connection belongs to this
    // user's programs. The fuzzing host, whose sockets are in-process fakes
    // with no descriptor, answers for itself.
    virtual bool servesPeer(QTcpSocket* socket);

private:
    void acceptConnections();
    void refuse(QTcpSocket* socket);
    void noteRefusal();
    void writeRefusalNote();
    // One complete answer from ready body bytes; respond() is this for JSON objects.
    void writeResponse(QTcpSocket* socket, int status, const QByteArray& payload, const QString& sessionId);
    void handleMessage(QTcpSocket* socket, const QJsonObject& message, const QString& sessionId);
    QString createSession(const QJsonObject& message);
    void callOrWait(QTcpSocket* socket, const QJsonObject& message, const QString& sessionId);
    bool probeReady(const QString& tool, const QJsonObject& arguments) const;
    std::vector<QByteArray> answerOf(const QString& tool, const QJsonObject& message, const QJsonValue& result,
                                     QString& resultText);
    // A tool's answer of one or more pieces, in order: small ones in one
    // write, large ones as the connection takes them.
    void writeAnswer(QTcpSocket* socket, std::vector<QByteArray> pieces, const QString& sessionId);
    void finishRead(QTcpSocket* socket, const QJsonObject& message, const QString& sessionId);
    void nextRead();

    QJsonValue readingTool(const QString& name, const QJsonObject& arguments);
    QJsonObject status() const;
    QJsonObject searchTool(const QString& name, const QJsonObject& arguments);
    QJsonObject actingTool(const QString& name, const QJsonObject& arguments);

    Engine* engine;
    EventJsonCache eventJson; // journal events as the reading tools write them
    // Journal reads are answered for at most a few milliseconds a turn of
    // the event loop (at least one each turn): their answers may be
    // megabytes, and eight agents answered in one turn would keep everything
    // else waiting. The rest wait for the next turns, in order. The timer
    // runs while a turn has answered reads.
    static constexpr qint64 ReadTurnBudgetNs = 15000000;
    qint64 readTurnSpentNs = 0;
    struct PendingRead {
        QPointer<QTcpSocket> socket;
        QJsonObject message;
        QString sessionId;
    };
    std::deque<PendingRead> pendingReads;
    QTimer readTurn;
    QJsonObject access;
    int openConnections = 0;
    platform::LoopbackPeer peers;
    QElapsedTimer refusalNoteAge;
    QTimer refusalNoteTimer;
};

} // namespace vn
