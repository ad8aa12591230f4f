// Who may use the endpoint: every local account reaches 127.0.0.1, and only
// the user running the server is served. The other account's clients run
// under uid 65534 (see ForeignClient); without root those cases are skipped.

#include "HttpClient.h"
#include "tests/support/ForeignClient.h"

#include "core/Channel.h"
#include "core/Engine.h"
#include "mcp/McpServer.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTest>

#include <memory>

using namespace vn;
using namespace vn::test;

namespace {

QByteArray initializeRequest()
{
    return postRequest(R"({"jsonrpc":"2.0","id":1,"method":"initialize","params":{"clientInfo":{"name":"intruder"}}})");
}

qsizetype openSockets(const QObject* server)
{
    return server->findChildren<QTcpSocket*>().size();
}

} // namespace

class PeerAccessTest : public QObject {
    Q_OBJECT

    // A fresh engine with one demo channel and its server for every test.
    struct Served {
        Engine engine;
        McpServer server{&engine};
    };
    std::unique_ptr<Served> served;
    quint16 port = 0;

    Engine& engine() { return served->engine; }
    McpServer& server() { return served->server; }

private Q_SLOTS:
    void init()
    {
        const QString why = ForeignClient::unavailable();
        if (!why.isEmpty())
            QSKIP(qPrintable(QStringLiteral("no client under another uid: ") + why));
        served = std::make_unique<Served>();
        engine().waveformDemo();
        QVERIFY(server().start(0));
        port = server().serverPort();
    }

    void cleanup() { served.reset(); }

    void otherAccountGetsForbiddenAndNoSession()
    {
        ForeignClient intruder;
        QVERIFY(intruder.start(QStringLiteral("127.0.0.1"), port, 1, initializeRequest()));
        QTRY_COMPARE_WITH_TIMEOUT(intruder.replies().size(), 1, 15000);
        QCOMPARE(intruder.failure(), QString());
        const QByteArray reply = intruder.replies().constFirst();
        QVERIFY2(reply.startsWith("HTTP/1.1 403 Error\r\n"), reply.constData());
        QVERIFY2(reply.contains("\r\nContent-Length: 0\r\n"), reply.constData());
        QVERIFY(reply.endsWith("\r\n\r\n"));
        QVERIFY(!reply.contains("Mcp-Session-Id"));
        QVERIFY(server().sessions.isEmpty());
        QCOMPARE(server().refusedPeers, 1);
        QCOMPARE(server().lastError, QString());
        QCOMPARE(server().refusalNote, QStringLiteral("已拒绝其他本地账户的 1 个连接"));

        // The owner's own client is served as ever.
        const QString session = initialize(port, QStringLiteral("owner"));
        QVERIFY(!session.isEmpty());
        const QJsonObject status = callTool(port, session, QStringLiteral("get_status"));
        QCOMPARE(status.value("result").toObject().value("isError").toBool(true), false);
        QCOMPARE(status.value("result").toObject().value("structuredContent").toObject()
                     .value("connection_count").toInt(), 1);
        const QJsonObject events = callTool(port, session, QStringLiteral("read_all_events"), {{"after", 0}});
        QCOMPARE(events.value("result").toObject().value("isError").toBool(true), false);
        QCOMPARE(server().sessions.size(), 1);
    }

    void otherAccountNeverReachesTheCallLog()
    {
        // Even with a session id it has learnt somehow.
        const QString session = initialize(port, QStringLiteral("owner"));
        QVERIFY(!session.isEmpty());
        engine().allowAiControl = true;
        const QByteArray call = postRequest(
            R"({"jsonrpc":"2.0","id":2,"method":"tools/call","params":{"name":"get_status","arguments":{}}})", session);
        const QJsonObject closing{
            {"jsonrpc", "2.0"}, {"id", 3}, {"method", "tools/call"},
            {"params", QJsonObject{{"name", "close_connection"},
                                   {"arguments", QJsonObject{{"channel_id", engine().channels.begin()->second->id}}}}}};
        const QByteArray close = postRequest(QJsonDocument(closing).toJson(QJsonDocument::Compact), session);
        const QByteArray end = "DELETE /mcp HTTP/1.1\r\nHost: 127.0.0.1\r\nMcp-Session-Id: " + session.toUtf8()
                               + "\r\n\r\n";
        QSignalSpy called(&server(), &McpServer::toolCalled);
        ForeignClient intruder;
        for (const QByteArray& request : {call, close, end}) {
            QVERIFY(intruder.start(QStringLiteral("127.0.0.1"), port, 1, request));
            QTRY_COMPARE_WITH_TIMEOUT(intruder.replies().size(), 1, 15000);
            QVERIFY2(intruder.replies().constFirst().startsWith("HTTP/1.1 403 Error\r\n"),
                     intruder.replies().constFirst().constData());
            intruder.stop();
        }
        QCOMPARE(server().refusedPeers, 3);
        QCOMPARE(called.size(), 0);
        QCOMPARE(server().callCount, 0);
        QVERIFY(server().history.isEmpty());
        QVERIFY(server().sessions.contains(session));
        QCOMPARE(engine().channels.size(), size_t(1));

        const QJsonObject status = callTool(port, session, QStringLiteral("get_status"));
        QCOMPARE(status.value("result").toObject().value("isError").toBool(true), false);
        QCOMPARE(server().history.size(), 1);
        QCOMPARE(server().history.at(0).toObject().value("client").toString(), QStringLiteral("owner"));
        QCOMPARE(server().lastError, QString());
    }

    void idleConnectionsOfAnotherAccountDoNotLockOutTheOwner()
    {
        ForeignClient intruder;
        QVERIFY(intruder.start(QStringLiteral("127.0.0.1"), port, McpServer::MaxConnections));
        QTRY_VERIFY_WITH_TIMEOUT(intruder.connected(), 15000);
        QCOMPARE(intruder.failure(), QString());
        QTRY_COMPARE_WITH_TIMEOUT(server().refusedPeers, qint64(McpServer::MaxConnections), 15000);
        // Closed at once: none of them holds a place while the other account keeps its end.
        QTRY_COMPARE(openSockets(&server()), 0);

        // Answered while all of them are still held, well inside the time
        // the held connections would otherwise have kept the owner out.
        const HttpReply reply = exchange(port, {initializeRequest()}, 10000);
        QCOMPARE(reply.status, 200);
        QVERIFY(!reply.headers.value("mcp-session-id").isEmpty());
        QVERIFY(intruder.connected());
        intruder.stop();
    }

    void refusalsAreNotedOnceAnInterval()
    {
        server().refusalNoteIntervalMs = 600000;
        QSignalSpy noted(&server(), &McpServer::refusalNoted);
        ForeignClient intruder;
        QVERIFY(intruder.start(QStringLiteral("127.0.0.1"), port, 5));
        QTRY_COMPARE_WITH_TIMEOUT(server().refusedPeers, 5, 15000);
        QCOMPARE(noted.size(), 1);
        QCOMPARE(noted.at(0).at(0).toString(), QStringLiteral("已拒绝其他本地账户的 1 个连接"));
        QCOMPARE(server().refusalNote, QStringLiteral("已拒绝其他本地账户的 1 个连接"));
    }

    void theNoteCatchesUpAfterTheInterval()
    {
        server().refusalNoteIntervalMs = 200;
        ForeignClient intruder;
        QVERIFY(intruder.start(QStringLiteral("127.0.0.1"), port, 5));
        QTRY_COMPARE_WITH_TIMEOUT(server().refusedPeers, 5, 15000);
        QTRY_COMPARE_WITH_TIMEOUT(server().refusalNote, QStringLiteral("已拒绝其他本地账户的 5 个连接"), 10000);
    }
};

QTEST_GUILESS_MAIN(PeerAccessTest)
#include "PeerAccessTest.moc"
