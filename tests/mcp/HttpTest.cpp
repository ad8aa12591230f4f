// The MCP endpoint's HTTP layer, spoken to through raw sockets.

#include "HttpClient.h"

#include "core/Engine.h"
#include "mcp/McpServer.h"

#include <QHostAddress>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <memory>

using namespace vn;
using namespace vn::test;

namespace {

QByteArray initializeBody(const QJsonValue& name = QStringLiteral("raw"))
{
    QJsonObject params{{QStringLiteral("protocolVersion"), QStringLiteral("2025-03-26")}};
    if (!name.isUndefined())
        params.insert(QStringLiteral("clientInfo"), QJsonObject{{QStringLiteral("name"), name}});
    return QJsonDocument(QJsonObject{{QStringLiteral("jsonrpc"), QStringLiteral("2.0")},
                                     {QStringLiteral("id"), 1},
                                     {QStringLiteral("method"), QStringLiteral("initialize")},
                                     {QStringLiteral("params"), params}})
        .toJson(QJsonDocument::Compact);
}

QByteArray withHeaders(const QByteArray& method, const QByteArray& path, const QByteArray& headers,
                       const QByteArray& body)
{
    return method + ' ' + path + " HTTP/1.1\r\n" + headers + "Content-Length: " + QByteArray::number(body.size())
           + "\r\n\r\n" + body;
}

} // namespace

class HttpTest : public QObject {
    Q_OBJECT

    std::unique_ptr<Engine> engine;
    std::unique_ptr<McpServer> server;
    quint16 port = 0;

private Q_SLOTS:
    void init()
    {
        engine = std::make_unique<Engine>();
        server = std::make_unique<McpServer>(engine.get());
        QVERIFY(server->start(0));
        port = server->serverPort();
    }

    void cleanup()
    {
        server.reset();
        engine.reset();
    }

    void statusTable_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<int>("status");

        const QByteArray host = "Host: 127.0.0.1:8765\r\n";
        QTest::newRow("initialize") << withHeaders("POST", "/mcp", host, initializeBody()) << 200;
        QTest::newRow("delete unknown session")
            << withHeaders("DELETE", "/mcp", host + "Mcp-Session-Id: nope\r\n", "") << 200;
        QTest::newRow("delete without session") << withHeaders("DELETE", "/mcp", host, "") << 200;
        QTest::newRow("empty body") << withHeaders("POST", "/mcp", host, "") << 400;
        QTest::newRow("broken json") << withHeaders("POST", "/mcp", host, "{\"id\":") << 400;
        QTest::newRow("batch array") << withHeaders("POST", "/mcp", host, "[{\"id\":1}]") << 400;
        QTest::newRow("json string") << withHeaders("POST", "/mcp", host, "\"ping\"") << 400;
        QTest::newRow("GET /mcp") << withHeaders("GET", "/mcp", host, "") << 405;
        QTest::newRow("PUT /mcp") << withHeaders("PUT", "/mcp", host, "{}") << 405;
        QTest::newRow("lower-case post") << withHeaders("post", "/mcp", host, "{}") << 405;
        QTest::newRow("GET other path") << withHeaders("GET", "/", host, "") << 404;
        QTest::newRow("trailing slash") << withHeaders("POST", "/mcp/", host, initializeBody()) << 404;
        QTest::newRow("query string") << withHeaders("POST", "/mcp?x=1", host, initializeBody()) << 404;
        QTest::newRow("no path") << QByteArray("POST\r\n\r\n") << 404;
        QTest::newRow("no session") << withHeaders("POST", "/mcp", host, "{\"id\":1,\"method\":\"tools/list\"}") << 404;
        QTest::newRow("unknown session")
            << withHeaders("POST", "/mcp", host + "Mcp-Session-Id: 0123\r\n", "{\"id\":1,\"method\":\"ping\"}") << 404;
        QTest::newRow("content-length -1") << QByteArray("POST /mcp HTTP/1.1\r\nContent-Length: -1\r\n\r\n") << 413;
        QTest::newRow("content-length abc") << QByteArray("POST /mcp HTTP/1.1\r\nContent-Length: abc\r\n\r\n") << 413;
        QTest::newRow("content-length above 4 MiB")
            << QByteArray("POST /mcp HTTP/1.1\r\ncontent-LENGTH: 4194305\r\n\r\n") << 413;
        QTest::newRow("last content-length counts")
            << QByteArray("POST /mcp HTTP/1.1\r\nContent-Length: 900\r\nContent-Length: 2\r\n\r\n[]") << 400;

        // Host and Origin: a body that is not JSON tells a passed check (400) from a refusal (403).
        const QByteArray bad = "x";
        QTest::newRow("host localhost") << withHeaders("POST", "/mcp", "Host: localhost\r\n", bad) << 400;
        QTest::newRow("host localhost:port") << withHeaders("POST", "/mcp", "HOST: localhost:1234\r\n", bad) << 400;
        QTest::newRow("host 127.0.0.1") << withHeaders("POST", "/mcp", "Host: 127.0.0.1\r\n", bad) << 400;
        QTest::newRow("no host") << withHeaders("POST", "/mcp", "", bad) << 400;
        QTest::newRow("host LOCALHOST") << withHeaders("POST", "/mcp", "Host: LOCALHOST\r\n", bad) << 403;
        QTest::newRow("host [::1]") << withHeaders("POST", "/mcp", "Host: [::1]:8765\r\n", bad) << 403;
        QTest::newRow("host other") << withHeaders("POST", "/mcp", "Host: example.com\r\n", bad) << 403;
        QTest::newRow("host 127.0.0.2") << withHeaders("POST", "/mcp", "Host: 127.0.0.2:80\r\n", bad) << 403;
        QTest::newRow("origin localhost")
            << withHeaders("POST", "/mcp", host + "Origin: http://localhost:3000\r\n", bad) << 400;
        QTest::newRow("origin 127.0.0.1 https")
            << withHeaders("POST", "/mcp", host + "origin: https://127.0.0.1\r\n", bad) << 400;
        QTest::newRow("origin upper-case host")
            << withHeaders("POST", "/mcp", host + "Origin: http://LocalHost:9\r\n", bad) << 400;
        QTest::newRow("origin null") << withHeaders("POST", "/mcp", host + "Origin: null\r\n", bad) << 403;
        QTest::newRow("origin other")
            << withHeaders("POST", "/mcp", host + "Origin: http://evil.example\r\n", bad) << 403;
        QTest::newRow("origin lookalike")
            << withHeaders("POST", "/mcp", host + "Origin: http://localhost.evil.example\r\n", bad) << 403;
        QTest::newRow("bad host beats bad path") << withHeaders("GET", "/x", "Host: example.com\r\n", "") << 403;
        QTest::newRow("bad path beats bad method") << withHeaders("GET", "/x", host, "") << 404;
    }

    void statusTable()
    {
        QFETCH(QByteArray, request);
        QFETCH(int, status);
        const HttpReply reply = exchange(port, {request});
        QVERIFY(reply.closed);
        QCOMPARE(reply.status, status);
        const QByteArray reason = status == 200 ? "OK" : "Error";
        QCOMPARE(reply.statusLine, "HTTP/1.1 " + QByteArray::number(status) + ' ' + reason);
        QCOMPARE(reply.headers.value("content-type"), QByteArray("application/json"));
        QCOMPARE(reply.headers.value("connection"), QByteArray("close"));
        QCOMPARE(reply.headers.value("content-length").toInt(), reply.body.size());
        QCOMPARE(reply.headers.contains("allow"), status == 405);
        if (status == 405)
            QCOMPARE(reply.headers.value("allow"), QByteArray("POST, DELETE"));
        const bool rpcAnswer = request.contains("initialize") && status == 200;
        QCOMPARE(reply.headers.contains("mcp-session-id"), rpcAnswer);
        QCOMPARE(reply.body.isEmpty(), !rpcAnswer);
    }

    void notificationIsAccepted()
    {
        const QString session = initialize(port);
        QVERIFY(!session.isEmpty());
        const HttpReply reply = exchange(
            port, {postRequest("{\"jsonrpc\":\"2.0\",\"method\":\"notifications/initialized\"}", session)});
        QCOMPARE(reply.statusLine, QByteArray("HTTP/1.1 202 Accepted"));
        QVERIFY(reply.body.isEmpty());
        QCOMPARE(reply.headers.value("content-length"), QByteArray("0"));
        QVERIFY(!reply.headers.contains("mcp-session-id"));
    }

    void requestInPieces()
    {
        const QByteArray request = withHeaders("POST", "/mcp", "Host: localhost\r\n", initializeBody());
        const qsizetype headerEnd = request.indexOf("\r\n\r\n");
        const HttpReply reply = exchange(port, {request.left(10), request.mid(10, headerEnd - 8),
                                                request.mid(headerEnd + 2, 7), request.mid(headerEnd + 9)});
        QCOMPARE(reply.status, 200);
        QCOMPARE(reply.json().value("result").toObject().value("serverInfo").toObject().value("name").toString(),
                 QStringLiteral("Varnelle Native"));
        QCOMPARE(reply.headers.value("mcp-session-id").size(), 32);
    }

    void onlyTheFirstRequestIsAnswered()
    {
        const QString session = initialize(port);
        const QByteArray ping = postRequest("{\"id\":5,\"method\":\"ping\"}", session);
        const HttpReply reply = exchange(port, {ping + ping});
        QCOMPARE(reply.status, 200);
        QCOMPARE(reply.raw.count("HTTP/1.1"), 1);
        QCOMPARE(reply.json().value("id").toInt(), 5);
    }

    void headerLimit()
    {
        // Just under the limit, in pieces, the blank line last: accepted.
        QByteArray filler = "X-Filler: " + QByteArray(16000, 'a') + "\r\n";
        QByteArray request = withHeaders("POST", "/mcp", filler, initializeBody());
        HttpReply reply = exchange(port, {request.left(8000), request.mid(8000)});
        QCOMPARE(reply.status, 200);

        // More than 16,384 bytes without a blank line: refused once read.
        filler = "POST /mcp HTTP/1.1\r\nX-Filler: " + QByteArray(9000, 'a');
        reply = exchange(port, {filler, QByteArray(9000, 'b')});
        QCOMPARE(reply.status, 413);
        QVERIFY(reply.body.isEmpty());
    }

    void bodyLimit()
    {
        const QByteArray head = "POST /mcp HTTP/1.1\r\nContent-Length: 4194304\r\n\r\n";
        // The declared length is allowed, but with the header block the request exceeds 4 MiB.
        HttpReply reply = exchange(port, {head + QByteArray(4194304, ' ')}, 20000);
        QCOMPARE(reply.status, 413);

        // The largest body that fits: 4 MiB less the header block and its terminator.
        const QByteArray body = initializeBody();
        QByteArray probe = "POST /mcp HTTP/1.1\r\nContent-Length: 4194290\r\n\r\n";
        const qsizetype room = 4194304 - probe.size();
        probe = "POST /mcp HTTP/1.1\r\nContent-Length: " + QByteArray::number(room) + "\r\n\r\n";
        QCOMPARE(probe.size() + room, 4194304);
        reply = exchange(port, {probe + body + QByteArray(room - body.size(), ' ')}, 20000);
        QCOMPARE(reply.status, 200);
    }

    void idleConnectionIsClosed()
    {
        QCOMPARE(server->connectionTimeoutMs, 20000);
        server->connectionTimeoutMs = 300;
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, port);
        QVERIFY(socket.waitForConnected(2000));
        socket.write("POST /mcp HTTP/1.1\r\n");
        QTRY_COMPARE_WITH_TIMEOUT(socket.state(), QAbstractSocket::UnconnectedState, 20000);
        QVERIFY(socket.readAll().isEmpty());
    }

    void idleConnectionLivesTwentySeconds()
    {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, port);
        QVERIFY(socket.waitForConnected(2000));
        // Timers never fire early by more than a coarse timer's 5 %, so it
        // still lives here; a busy machine can only make the close later.
        QTest::qWait(18500);
        QCOMPARE(socket.state(), QAbstractSocket::ConnectedState);
        QTRY_COMPARE_WITH_TIMEOUT(socket.state(), QAbstractSocket::UnconnectedState, 20000);
        QVERIFY(socket.readAll().isEmpty());
    }

    void connectionCap()
    {
        std::vector<std::unique_ptr<QTcpSocket>> idle;
        for (int i = 0; i < McpServer::MaxConnections; ++i) {
            idle.push_back(std::make_unique<QTcpSocket>());
            idle.back()->connectToHost(QHostAddress::LocalHost, port);
        }
        QTRY_COMPARE(server->findChildren<QTcpSocket*>().size(), McpServer::MaxConnections);

        QTcpSocket extra;
        extra.connectToHost(QHostAddress::LocalHost, port);
        QVERIFY(extra.waitForConnected(2000));
        extra.write(postRequest(initializeBody()));
        QTRY_COMPARE(extra.state(), QAbstractSocket::UnconnectedState);
        QVERIFY(extra.readAll().isEmpty());
        for (const auto& socket : idle)
            QCOMPARE(socket->state(), QAbstractSocket::ConnectedState);

        idle.front()->abort();
        QTRY_COMPARE(server->findChildren<QTcpSocket*>().size(), McpServer::MaxConnections - 1);
        QVERIFY(!initialize(port).isEmpty());
    }

    void sessions()
    {
        // initialize without params: default version and client name.
        HttpReply reply = exchange(port, {postRequest("{\"id\":null,\"method\":\"initialize\"}")});
        QCOMPARE(reply.status, 200);
        const QJsonObject answer = reply.json();
        QVERIFY(answer.contains("id") && answer.value("id").isNull());
        QCOMPARE(answer.value("result").toObject().value("protocolVersion").toString(), QStringLiteral("2025-03-26"));
        const QString first = QString::fromUtf8(reply.headers.value("mcp-session-id"));
        QCOMPARE(server->sessions.value(first), QStringLiteral("MCP 客户端"));
        reply = exchange(port, {postRequest("{\"method\":\"initialize\"}")});
        QVERIFY(reply.json().contains("id") && reply.json().value("id").isNull());

        reply = exchange(port, {postRequest(initializeBody(QString(300, QLatin1Char('n'))))});
        const QString longName = QString::fromUtf8(reply.headers.value("mcp-session-id"));
        QCOMPARE(server->sessions.value(longName), QString(120, QLatin1Char('n')));
        reply = exchange(port, {postRequest(initializeBody(QString()))});
        QCOMPARE(server->sessions.value(QString::fromUtf8(reply.headers.value("mcp-session-id"))), QString());

        // DELETE ends a session; later messages in it get 404.
        reply = exchange(port, {withHeaders("DELETE", "/mcp", "Mcp-Session-Id: " + first.toUtf8() + "\r\n", "")});
        QCOMPARE(reply.status, 200);
        QVERIFY(!server->sessions.contains(first));
        QCOMPARE(exchange(port, {postRequest("{\"id\":1,\"method\":\"ping\"}", first)}).status, 404);
    }

    void sessionLimit()
    {
        while (server->sessions.size() < McpServer::MaxSessions)
            server->sessions.insert(QString::fromLatin1(QByteArray::number(server->sessions.size()).toHex().rightJustified(32, '1')),
                                    QStringLiteral("filler"));
        const QString smallest = server->sessions.firstKey();
        const QString id = initialize(port);
        QVERIFY(!id.isEmpty());
        QCOMPARE(server->sessions.size(), McpServer::MaxSessions);
        QVERIFY(!server->sessions.contains(smallest));
        QCOMPARE(exchange(port, {postRequest("{\"id\":1,\"method\":\"ping\"}", smallest)}).status, 404);
        QCOMPARE(exchange(port, {postRequest("{\"id\":1,\"method\":\"ping\"}", id)}).status, 200);
    }

    void url()
    {
        QCOMPARE(server->url(), QStringLiteral("http://127.0.0.1:%1/mcp").arg(port));
        McpServer idle(engine.get());
        QCOMPARE(idle.url(), QStringLiteral("http://127.0.0.1:0/mcp"));
    }

    void startOnBusyPort()
    {
        McpServer second(engine.get());
        QSignalSpy changed(&second, &McpServer::portChanged);
        QVERIFY(!second.start(port));
        QVERIFY(second.lastError.startsWith(QStringLiteral("MCP 端口 %1 无法监听：").arg(port)));
        QCOMPARE(changed.count(), 0);

        QVERIFY(second.startAvailable(port));
        QVERIFY(second.isListening());
        QVERIFY(second.serverPort() != port);
        QVERIFY(second.lastError.isEmpty());
        QCOMPARE(changed.count(), 1);
        QCOMPARE(changed.at(0).at(0).value<quint16>(), second.serverPort());
    }

    void changePort()
    {
        QSignalSpy changed(server.get(), &McpServer::portChanged);
        QVERIFY(server->changePort(port));
        QCOMPARE(changed.count(), 0);
        QVERIFY(server->lastError.isEmpty());

        QTcpServer busy;
        QVERIFY(busy.listen(QHostAddress::LocalHost, 0));
        QVERIFY(!server->changePort(busy.serverPort()));
        QVERIFY(server->lastError.startsWith(QStringLiteral("端口 %1 已占用或不可用：").arg(busy.serverPort())));
        QVERIFY(server->lastError.endsWith(QStringLiteral("；原服务仍在运行")));
        QCOMPARE(server->serverPort(), port);
        QVERIFY(!initialize(port).isEmpty());

        QVERIFY(server->changePort(0));
        QVERIFY(server->lastError.isEmpty());
        QCOMPARE(changed.count(), 1);
        const quint16 moved = server->serverPort();
        QVERIFY(moved != port && moved != 0);
        QCOMPARE(changed.at(0).at(0).value<quint16>(), moved);
        QCOMPARE(server->url(), QStringLiteral("http://127.0.0.1:%1/mcp").arg(moved));
        QVERIFY(!initialize(moved).isEmpty());

        server->close();
        QVERIFY(!server->changePort(busy.serverPort()));
        QVERIFY(server->lastError.endsWith(QStringLiteral("；请选择其他端口")));
    }
};

QTEST_GUILESS_MAIN(HttpTest)
#include "HttpTest.moc"
