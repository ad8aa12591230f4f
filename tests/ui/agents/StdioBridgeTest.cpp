#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

namespace {

const QString bridgeProgram = QStringLiteral(VN_BINARY_DIR "/bin/VarnelleMCP");

// A small stand-in for the MCP endpoint: it records every HTTP request and
// answers by JSON-RPC method, one request per connection.
class FakeEndpoint : public QObject {
    Q_OBJECT

public:
    struct Request {
        QByteArray method;
        QMap<QByteArray, QByteArray> headers; // lower-case names
        QJsonObject body;
    };

    FakeEndpoint()
    {
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = m_server.nextPendingConnection()) {
                socket->setParent(this);
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] { serve(socket); });
            }
        });
        m_server.listen(QHostAddress::LocalHost);
    }

    QString url() const { return QStringLiteral("http://127.0.0.1:%1/mcp").arg(m_server.serverPort()); }

    QList<Request> requests;

private:
    void serve(QTcpSocket* socket)
    {
        QByteArray& buffer = m_buffers[socket];
        buffer += socket->readAll();
        const qsizetype end = buffer.indexOf("\r\n\r\n");
        if (end < 0)
            return;
        Request request;
        const QList<QByteArray> lines = buffer.left(end).split('\n');
        request.method = lines.first().split(' ').first();
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const qsizetype colon = lines[i].indexOf(':');
            if (colon > 0)
                request.headers.insert(lines[i].left(colon).trimmed().toLower(), lines[i].mid(colon + 1).trimmed());
        }
        const qsizetype length = request.headers.value("content-length", "0").toLongLong();
        if (buffer.size() < end + 4 + length)
            return;
        request.body = QJsonDocument::fromJson(buffer.mid(end + 4, length)).object();
        buffer.clear();
        requests.append(request);

        QByteArray status = "200 OK";
        QByteArray type = "application/json";
        QByteArray extra;
        QByteArray body;
        const QString rpc = request.body.value(QStringLiteral("method")).toString();
        const QJsonValue id = request.body.value(QStringLiteral("id"));
        auto result = [&](const QJsonObject& value) {
            return QJsonDocument(QJsonObject{{"jsonrpc", "2.0"}, {"id", id}, {"result", value}}).toJson(QJsonDocument::Indented);
        };
        if (request.method == "DELETE") {
            body.clear();
        } else if (rpc == QLatin1String("initialize")) {
            extra = "Mcp-Session-Id: s-1\r\n";
            body = result({{"protocolVersion", "2025-06-18"}, {"serverInfo", QJsonObject{{"name", "Varnelle Native"}}}});
        } else if (!request.body.contains(QStringLiteral("id"))) {
            status = "202 Accepted";
        } else if (rpc == QLatin1String("tools/list")) {
            // Answered as a server-sent event stream, spread over two data lines.
            type = "text/event-stream";
            body = ": keep-alive\r\n\r\nevent: message\r\ndata: {\"jsonrpc\":\"2.0\",\"method\":\"notifications/message\"}\r\n\r\n"
                   "event: message\r\ndata: {\"jsonrpc\":\"2.0\",\r\ndata: \"id\":" + QJsonDocument(QJsonArray{id}).toJson(QJsonDocument::Compact).mid(1).chopped(1)
                   + ",\"result\":{\"tools\":[]}}\r\n\r\n";
        } else if (rpc == QLatin1String("refused")) {
            status = "404 Not Found";
            body = QJsonDocument(QJsonObject{{"jsonrpc", "2.0"}, {"id", id},
                                             {"error", QJsonObject{{"code", -32001}, {"message", "会话不存在"}}}})
                       .toJson(QJsonDocument::Compact);
        } else if (rpc == QLatin1String("silent")) {
            body.clear();
        } else if (rpc == QLatin1String("broken")) {
            status = "500 Internal Server Error";
            type = "text/plain";
            body = "oops";
        } else {
            body = result({{"echo", rpc}});
        }
        socket->write("HTTP/1.1 " + status + "\r\nContent-Type: " + type + "\r\nContent-Length: " + QByteArray::number(body.size())
                      + "\r\n" + extra + "Connection: close\r\n\r\n" + body);
        socket->disconnectFromHost();
    }

    QTcpServer m_server;
    QHash<QTcpSocket*, QByteArray> m_buffers;
};

QByteArray rpc(int id, const char* method)
{
    return QByteArray(R"({"jsonrpc":"2.0","id":)") + QByteArray::number(id) + R"(,"method":")" + method + "\"}\n";
}

// The next line the bridge wrote, as JSON.
QJsonObject nextLine(QProcess& bridge)
{
    if (!bridge.canReadLine() && !QTest::qWaitFor([&] { return bridge.canReadLine(); }, 10000))
        return {};
    const QByteArray line = bridge.readLine();
    return QJsonDocument::fromJson(line).object();
}

} // namespace

class StdioBridgeTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void relaysOneSession();
    void unreachableEndpoint();
    void endpointRefusals();
    void invalidInput();
    void badArguments_data();
    void badArguments();
};

void StdioBridgeTest::relaysOneSession()
{
    FakeEndpoint endpoint;
    QProcess bridge;
    bridge.start(bridgeProgram, {QStringLiteral("--url"), endpoint.url()});
    QVERIFY(bridge.waitForStarted());
    // Messages that follow "initialize" at once wait for its session id.
    bridge.write(rpc(1, "initialize") + R"({"jsonrpc":"2.0","method":"notifications/initialized"})" "\n" + rpc(2, "tools/list"));
    const QJsonObject init = nextLine(bridge);
    QCOMPARE(init.value("id").toInt(), 1);
    QCOMPARE(init.value("result").toObject().value("serverInfo").toObject().value("name").toString(), QStringLiteral("Varnelle Native"));
    QCOMPARE(nextLine(bridge).value("method").toString(), QStringLiteral("notifications/message"));
    const QJsonObject tools = nextLine(bridge);
    QCOMPARE(tools.value("id").toInt(), 2);
    QVERIFY(tools.value("result").toObject().value("tools").isArray());
    bridge.write(R"({"jsonrpc":"2.0","id":"three","method":"ping"})" "\n");
    QCOMPARE(nextLine(bridge).value("id").toString(), QStringLiteral("three"));

    bridge.closeWriteChannel();
    QTRY_COMPARE_WITH_TIMEOUT(bridge.state(), QProcess::NotRunning, 10000);
    QCOMPARE(bridge.exitStatus(), QProcess::NormalExit);
    QCOMPARE(bridge.exitCode(), 0);
    QVERIFY(bridge.readAll().isEmpty()); // nothing for the notification

    QCOMPARE(endpoint.requests.size(), 5);
    QVERIFY(!endpoint.requests[0].headers.contains("mcp-session-id"));
    for (qsizetype i = 1; i < 5; ++i) {
        QCOMPARE(endpoint.requests[i].headers.value("mcp-session-id"), QByteArray("s-1"));
        QCOMPARE(endpoint.requests[i].headers.value("mcp-protocol-version"), QByteArray("2025-06-18"));
    }
    QCOMPARE(endpoint.requests[0].headers.value("accept"), QByteArray("application/json, text/event-stream"));
    QCOMPARE(endpoint.requests[1].body.value("method").toString(), QStringLiteral("notifications/initialized"));
    QCOMPARE(endpoint.requests[4].method, QByteArray("DELETE"));
}

void StdioBridgeTest::unreachableEndpoint()
{
    QTcpServer closed;
    QVERIFY(closed.listen(QHostAddress::LocalHost));
    const QString url = QStringLiteral("http://127.0.0.1:%1/mcp").arg(closed.serverPort());
    closed.close();
    QProcess bridge;
    bridge.start(bridgeProgram, {QStringLiteral("--url"), url});
    bridge.write(R"({"jsonrpc":"2.0","method":"notifications/initialized"})" "\n" + rpc(7, "initialize"));
    const QJsonObject error = nextLine(bridge);
    QCOMPARE(error.value("jsonrpc").toString(), QStringLiteral("2.0"));
    QCOMPARE(error.value("id").toInt(), 7);
    QCOMPARE(error.value("error").toObject().value("code").toInt(), -32000);
    QVERIFY(error.value("error").toObject().value("message").toString().startsWith(QStringLiteral("无法连接 MCP 服务：")));
    bridge.closeWriteChannel();
    QVERIFY(bridge.waitForFinished(10000));
    QCOMPARE(bridge.exitCode(), 0);
    QVERIFY(bridge.readAll().isEmpty());
}

void StdioBridgeTest::endpointRefusals()
{
    FakeEndpoint endpoint;
    QProcess bridge;
    bridge.start(bridgeProgram, {QStringLiteral("--url"), endpoint.url()});
    bridge.write(rpc(1, "refused"));
    const QJsonObject refused = nextLine(bridge);
    QCOMPARE(refused.value("id").toInt(), 1);
    QCOMPARE(refused.value("error").toObject().value("message").toString(), QStringLiteral("会话不存在"));
    bridge.write(rpc(2, "broken"));
    const QJsonObject broken = nextLine(bridge);
    QCOMPARE(broken.value("id").toInt(), 2);
    QCOMPARE(broken.value("error").toObject().value("message").toString(), QStringLiteral("MCP 服务返回 HTTP 500"));
    bridge.write(rpc(3, "silent"));
    const QJsonObject silent = nextLine(bridge);
    QCOMPARE(silent.value("id").toInt(), 3);
    QCOMPARE(silent.value("error").toObject().value("message").toString(), QStringLiteral("MCP 服务没有返回应答（HTTP 200）"));
    bridge.closeWriteChannel();
    QTRY_COMPARE_WITH_TIMEOUT(bridge.state(), QProcess::NotRunning, 10000);
    // No session was opened, so none is ended.
    QCOMPARE(endpoint.requests.size(), 3);
}

void StdioBridgeTest::invalidInput()
{
    FakeEndpoint endpoint;
    QProcess bridge;
    bridge.start(bridgeProgram, {QStringLiteral("--url"), endpoint.url()});
    bridge.write("not json\n\n   \n" + rpc(4, "ping").chopped(1)); // the last line has no line feed
    const QJsonObject error = nextLine(bridge);
    QVERIFY(error.value("id").isNull());
    QCOMPARE(error.value("error").toObject().value("code").toInt(), -32700);
    QVERIFY(error.value("error").toObject().value("message").toString().startsWith(QStringLiteral("消息不是有效的 JSON-RPC：")));
    bridge.closeWriteChannel();
    QCOMPARE(nextLine(bridge).value("id").toInt(), 4);
    QTRY_COMPARE_WITH_TIMEOUT(bridge.state(), QProcess::NotRunning, 10000);
    QCOMPARE(endpoint.requests.size(), 1);
}

void StdioBridgeTest::badArguments_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("no url") << QStringList();
    QTest::newRow("not http") << QStringList{"--url", "ftp://127.0.0.1/mcp"};
    QTest::newRow("no host") << QStringList{"--url", "http:///mcp"};
    QTest::newRow("unknown option") << QStringList{"--frobnicate"};
}

void StdioBridgeTest::badArguments()
{
    QFETCH(QStringList, arguments);
    QProcess bridge;
    bridge.start(bridgeProgram, arguments);
    QVERIFY(bridge.waitForFinished(10000));
    QCOMPARE(bridge.exitCode(), 2);
    QVERIFY(!bridge.readAllStandardError().isEmpty());
}

QTEST_GUILESS_MAIN(StdioBridgeTest)
#include "StdioBridgeTest.moc"
