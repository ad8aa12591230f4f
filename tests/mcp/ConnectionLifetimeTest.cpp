// What an accepted connection leaves behind once it is gone, and how the
// listener takes a burst of connection attempts that arrives while the event
// loop is busy.

#include "HttpClient.h"

#include "core/Channel.h"
#include "core/Config.h"
#include "core/Engine.h"
#include "mcp/McpServer.h"

#include <QAbstractEventDispatcher>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QScopeGuard>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <functional>
#include <memory>
#include <vector>

#ifdef Q_OS_LINUX
#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

using namespace vn;
using namespace vn::test;

namespace {

// Timers registered for the server and everything below it, and for every
// single-shot timer without an owner: Qt parks those under the event
// dispatcher until they fire, whatever became of their context object.
int liveTimers(QObject* server)
{
    QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance();
    QList<QObject*> objects = server->findChildren<QObject*>();
    objects += dispatcher->children();
    objects.append(server);
    int count = 0;
    for (QObject* object : objects)
        count += static_cast<int>(dispatcher->registeredTimers(object).size());
    return count;
}

qsizetype openConnections(const QObject* server)
{
    return server->findChildren<QTcpSocket*>().size();
}

// A journal full of 5000-byte events, whose read_events answer is some
// 17 MB, far more than the kernel's socket buffers hold; the request for it.
QByteArray largeReadRequest(Engine& engine, const QString& session)
{
    Config config;
    config.port = QStringLiteral("loop://");
    Channel* channel = engine.open(config);
    QByteArray chunk;
    for (int line = 0; chunk.size() < 5000; ++line)
        chunk += "n=" + QByteArray::number(1000000 + line) + " data " + QByteArray(80, 'x') + "\r\n";
    chunk.truncate(5000);
    for (int i = 0; i < 1200; ++i)
        channel->receive(chunk, QString());
    const QJsonObject arguments{{"channel_id", channel->id}, {"after", engine.journal.lastSeq - 1000}, {"limit", 1000}};
    const QJsonObject message{{"jsonrpc", "2.0"},
                              {"id", 7},
                              {"method", "tools/call"},
                              {"params", QJsonObject{{"name", "read_events"}, {"arguments", arguments}}}};
    return postRequest(QJsonDocument(message).toJson(QJsonDocument::Compact), session);
}

// Opens a session and sends that request on `socket`, which takes at most
// 64 KiB ahead of the test; returns the session, empty on failure.
QString askForLargeRead(Engine& engine, quint16 port, QTcpSocket& socket)
{
    const QString session = initialize(port);
    if (session.isEmpty())
        return {};
    const QByteArray request = largeReadRequest(engine, session);
    socket.setReadBufferSize(64 * 1024);
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(5000) || socket.write(request) != request.size())
        return {};
    return session;
}

QByteArray getStatusRequest(const QString& session)
{
    return postRequest(
        R"({"jsonrpc":"2.0","id":3,"method":"tools/call","params":{"name":"get_status","arguments":{}}})", session);
}

} // namespace

class ConnectionLifetimeTest : public QObject {
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

    void answeredConnectionsLeaveNoTimer()
    {
        constexpr int Total = 2000;
        constexpr int AtOnce = 8;
        const QString session = initialize(port);
        QVERIFY(!session.isEmpty());
        QTRY_COMPARE(openConnections(server.get()), 0);
        const int baseline = liveTimers(server.get());
        const QByteArray request = getStatusRequest(session);

        int started = 0;
        int answered = 0;
        int unanswered = 0;
        qsizetype mostOpen = 0;
        int mostExcess = 0;
        QObject clients;
        // Should the test stop early, the remaining clients go quietly.
        const auto quiet = qScopeGuard([&] {
            for (QObject* client : clients.children())
                client->disconnect();
        });
        const auto sample = [&] {
            const qsizetype open = openConnections(server.get());
            mostOpen = std::max(mostOpen, open);
            mostExcess = std::max(mostExcess, liveTimers(server.get()) - baseline - static_cast<int>(open));
        };
        // Right after the server has taken new connections, and whenever one ends.
        connect(server.get(), &QTcpServer::newConnection, &clients, sample);
        std::function<void()> launch = [&] {
            if (started == Total)
                return;
            ++started;
            auto* socket = new QTcpSocket(&clients);
            auto reply = std::make_shared<QByteArray>();
            connect(socket, &QTcpSocket::connected, socket, [socket, &request] { socket->write(request); });
            connect(socket, &QTcpSocket::readyRead, socket, [socket, reply] { *reply += socket->readAll(); });
            connect(socket, &QTcpSocket::disconnected, socket, [&, socket, reply] {
                *reply += socket->readAll();
                ++(reply->startsWith("HTTP/1.1 200 OK") && reply->contains("\"isError\":false") ? answered
                                                                                                 : unanswered);
                sample();
                socket->deleteLater();
                launch();
            });
            socket->connectToHost(QHostAddress::LocalHost, port);
        };
        for (int i = 0; i < AtOnce; ++i)
            launch();
        QTRY_COMPARE_WITH_TIMEOUT(answered + unanswered, Total, 120000);
        QCOMPARE(unanswered, 0);
        QVERIFY(mostOpen > 0);
        // At most one timer per open connection, at any time.
        QCOMPARE(mostExcess, 0);
        QTRY_COMPARE(openConnections(server.get()), 0);
        QCOMPARE(liveTimers(server.get()), baseline);
    }

    void silentConnectionIsClosedByItsTimer()
    {
        const int baseline = liveTimers(server.get());
        server->connectionTimeoutMs = 300;
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, port);
        QVERIFY(socket.waitForConnected(2000));
        QTRY_COMPARE(openConnections(server.get()), 1);
        QCOMPARE(liveTimers(server.get()), baseline + 1);
        QTRY_COMPARE_WITH_TIMEOUT(socket.state(), QAbstractSocket::UnconnectedState, 20000);
        QVERIFY(socket.readAll().isEmpty());
        QTRY_COMPARE(openConnections(server.get()), 0);
        QCOMPARE(liveTimers(server.get()), baseline);
    }

    // An agent that takes a large answer slowly gets all of it, however
    // long past the connection's time limit that goes on.
    void slowlyTakenAnswerOutlivesTheTimeLimit()
    {
        server->connectionTimeoutMs = 1000;
        QTcpSocket socket;
        QVERIFY(!askForLargeRead(*engine, port, socket).isEmpty());
        QByteArray reply;
        QElapsedTimer clock;
        clock.start();
        // At most 64 KiB every 20 ms: some 5 s for the whole answer.
        QTimer pace;
        connect(&pace, &QTimer::timeout, &socket, [&] { reply += socket.read(64 * 1024); });
        pace.start(20);
        QTRY_VERIFY_WITH_TIMEOUT(socket.state() == QAbstractSocket::UnconnectedState && socket.bytesAvailable() == 0,
                                 120000);
        pace.stop();
        reply += socket.readAll();
        QVERIFY(clock.elapsed() > 2 * server->connectionTimeoutMs);
        const qsizetype end = reply.indexOf("\r\n\r\n");
        QVERIFY(reply.startsWith("HTTP/1.1 200 OK") && end > 0);
        const QByteArray body = reply.mid(end + 4);
        QVERIFY(reply.left(end).contains("Content-Length: " + QByteArray::number(body.size())));
        QVERIFY(body.size() > 10 * 1000 * 1000);
        const QJsonObject result = QJsonDocument::fromJson(body).object().value("result").toObject();
        const QJsonArray events = result.value("structuredContent").toObject().value("events").toArray();
        // Whatever the journal still holds of those 1000, up to the newest.
        QVERIFY(events.size() > 300);
        QCOMPARE(events.last().toObject().value("seq").toInteger(), engine->journal.lastSeq);
        const QString text = result.value("content").toArray().at(0).toObject().value("text").toString();
        QCOMPARE(QJsonDocument::fromJson(text.toUtf8()).object().value("events").toArray(), events);
    }

    // One that stops taking it is let go, and the others are still served.
    void agentThatStopsTakingAnAnswerIsLetGo()
    {
        server->connectionTimeoutMs = 300;
        QTcpSocket socket;
        const QString session = askForLargeRead(*engine, port, socket);
        QVERIFY(!session.isEmpty());
        QTRY_COMPARE(openConnections(server.get()), 1);
        QTRY_COMPARE_WITH_TIMEOUT(openConnections(server.get()), 0, 30000);
        server->connectionTimeoutMs = 20000;
        const QJsonObject status = callTool(port, session, QStringLiteral("get_status"));
        QCOMPARE(status.value("result").toObject().value("isError").toBool(true), false);
    }

    void burstWhileBusyIsQueued()
    {
#ifdef Q_OS_LINUX
        // More than Qt's default backlog of 50, well within what the system grants.
        constexpr int Burst = 300;
        QFile limit(QStringLiteral("/proc/sys/net/core/somaxconn"));
        if (limit.open(QIODevice::ReadOnly) && limit.readAll().trimmed().toInt() < Burst)
            QSKIP("the system's listen backlog limit is below the burst");

        // The event loop does not run from here until every attempt has been
        // checked, so the server accepts none of them meanwhile.
        std::vector<int> fds;
        auto closeAll = qScopeGuard([&] {
            for (int fd : fds)
                ::close(fd);
        });
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        for (int i = 0; i < Burst; ++i) {
            const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
            QVERIFY(fd >= 0);
            fds.push_back(fd);
            const int result = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
            QVERIFY(result == 0 || errno == EINPROGRESS);
        }
        // A queued attempt is established and writable; one the kernel dropped
        // would still be waiting for its retransmission when the time is up.
        std::vector<pollfd> waiting;
        for (int fd : fds)
            waiting.push_back({fd, POLLOUT, 0});
        int established = 0;
        const QDeadlineTimer deadline(5000);
        while (!waiting.empty() && !deadline.hasExpired()) {
            if (::poll(waiting.data(), waiting.size(), static_cast<int>(deadline.remainingTime())) <= 0)
                break;
            std::erase_if(waiting, [&](const pollfd& entry) {
                if (!(entry.revents & (POLLOUT | POLLERR | POLLHUP)))
                    return false;
                int error = 0;
                socklen_t size = sizeof error;
                ::getsockopt(entry.fd, SOL_SOCKET, SO_ERROR, &error, &size);
                if (error == 0)
                    ++established;
                return true;
            });
        }
        QCOMPARE(established, Burst);

        // Once the loop runs, the server takes the queued attempts up to its cap.
        QTRY_COMPARE(openConnections(server.get()), McpServer::MaxConnections);
        closeAll.dismiss();
        for (int fd : fds)
            ::close(fd);
        QTRY_COMPARE(openConnections(server.get()), 0);
        // The last of the burst may still be queued ahead of this request.
        QTRY_VERIFY(!initialize(port).isEmpty());
#else
        QSKIP("burst check uses Linux sockets");
#endif
    }
};

QTEST_GUILESS_MAIN(ConnectionLifetimeTest)
#include "ConnectionLifetimeTest.moc"
