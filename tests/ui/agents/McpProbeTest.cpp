// The live MCP probe against our own server, a stand-in HTTP server and the
// version read against a stand-in agent program.

#include "core/Engine.h"
#include "mcp/McpServer.h"
#include "tests/support/TestSupport.h"
#include "ui/agents/McpProbe.h"

#include <QFile>
#include <QHash>
#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <optional>

using namespace vn;

namespace {

QByteArray httpAnswer(int status, const QByteArray& body, const QByteArray& session = {})
{
    QByteArray out = "HTTP/1.1 " + QByteArray::number(status) + (status == 200 ? " OK" : " Error") + "\r\n";
    out += "Content-Type: application/json\r\nConnection: close\r\n";
    if (!session.isEmpty())
        out += "Mcp-Session-Id: " + session + "\r\n";
    return out + "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

QByteArray initializeAnswer(const QString& name)
{
    const QJsonObject result{{QStringLiteral("protocolVersion"), QStringLiteral("2025-03-26")},
                             {QStringLiteral("serverInfo"),
                              QJsonObject{{QStringLiteral("name"), name}, {QStringLiteral("version"), QStringLiteral("1")}}}};
    return QJsonDocument(QJsonObject{{QStringLiteral("jsonrpc"), QStringLiteral("2.0")},
                                     {QStringLiteral("id"), 1},
                                     {QStringLiteral("result"), result}})
        .toJson(QJsonDocument::Compact);
}

// A loopback HTTP server that records every complete request, answers a POST
// with `answer` (or holds it while `answer` is empty) and a DELETE with 200.
class StubHttp : public QObject {
public:
    QTcpServer server;
    QList<QByteArray> requests;
    QByteArray answer;
    QList<QPointer<QTcpSocket>> held;

    StubHttp()
    {
        server.listen(QHostAddress::LocalHost, 0);
        connect(&server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = server.nextPendingConnection())
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] { read(socket); });
        });
    }

    QString url() const { return QStringLiteral("http://127.0.0.1:%1/mcp").arg(server.serverPort()); }

    void release(const QByteArray& bytes)
    {
        for (const QPointer<QTcpSocket>& socket : std::as_const(held)) {
            if (socket) {
                socket->write(bytes);
                socket->disconnectFromHost();
            }
        }
        held.clear();
    }

    QList<QByteArray> withMethod(const QByteArray& method) const
    {
        QList<QByteArray> found;
        for (const QByteArray& request : requests) {
            if (request.startsWith(method + ' '))
                found << request;
        }
        return found;
    }

private:
    QHash<QTcpSocket*, QByteArray> buffers;

    void read(QTcpSocket* socket)
    {
        QByteArray& buffer = buffers[socket];
        buffer += socket->readAll();
        const qsizetype end = buffer.indexOf("\r\n\r\n");
        if (end < 0)
            return;
        qsizetype length = 0;
        for (const QByteArray& line : buffer.left(end).split('\n')) {
            if (line.toLower().startsWith("content-length:"))
                length = line.mid(15).trimmed().toLongLong();
        }
        if (buffer.size() < end + 4 + length)
            return;
        const QByteArray request = buffers.take(socket);
        requests << request;
        if (request.startsWith("DELETE ")) {
            socket->write(httpAnswer(200, {}));
            socket->disconnectFromHost();
        } else if (answer.isEmpty()) {
            held << socket;
        } else {
            socket->write(answer);
            socket->disconnectFromHost();
        }
    }
};

QByteArray headerOf(const QByteArray& request, const QByteArray& name)
{
    for (const QByteArray& line : request.left(request.indexOf("\r\n\r\n")).split('\n')) {
        const qsizetype colon = line.indexOf(':');
        if (colon > 0 && line.left(colon).trimmed().toLower() == name.toLower())
            return line.mid(colon + 1).trimmed();
    }
    return {};
}

QByteArray bodyOf(const QByteArray& request)
{
    return request.mid(request.indexOf("\r\n\r\n") + 4);
}

// The outcome of one probe, waited for.
struct Outcome {
    std::optional<QString> text;
    void operator()(const QString& failure) { text = failure; }
};

} // namespace

class McpProbeTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir;

    // The stand-in program under `name` in the temporary folder, printing `output`.
    QString fakeAgent(const QString& name, const QByteArray& output, bool hang)
    {
        const QString path = dir.filePath(name);
        QFile::remove(path);
        QFile::remove(path + QStringLiteral(".hang"));
        if (!QFile::link(QStringLiteral(FAKE_AGENT), path))
            return {};
        QFile out(path + QStringLiteral(".out"));
        if (!out.open(QIODevice::WriteOnly))
            return {};
        out.write(output);
        if (hang) {
            QFile marker(path + QStringLiteral(".hang"));
            if (!marker.open(QIODevice::WriteOnly))
                return {};
        }
        return path;
    }

private Q_SLOTS:
    void ownServerAnswersAndSessionIsClosed()
    {
        Engine engine;
        McpServer server(&engine);
        QVERIFY(server.start(0));
        QObject owner;
        auto outcome = std::make_shared<Outcome>();
        McpProbe::probe(
            &owner, [&server] { return server.isListening() ? server.url() : QString(); },
            [outcome](const QString& text) { (*outcome)(text); });
        QTRY_VERIFY_WITH_TIMEOUT(outcome->text.has_value(), 10000);
        QCOMPARE(*outcome->text, QString());
        // The probe's session ends with its DELETE; nothing of it stays open.
        QTRY_VERIFY_WITH_TIMEOUT(server.sessions.isEmpty(), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(owner.findChildren<QObject*>().isEmpty(), 10000);
    }

    void notListeningAnswersAtOnce()
    {
        Engine engine;
        McpServer server(&engine);
        QObject owner;
        std::optional<QString> text;
        McpProbe::probe(
            &owner, [&server] { return server.isListening() ? server.url() : QString(); },
            [&text](const QString& failure) { text = failure; });
        QCOMPARE(text, std::optional<QString>(QStringLiteral("MCP 服务未启动")));
        QVERIFY(owner.children().isEmpty());
    }

    void requestAndOtherServerSessionClosed()
    {
        StubHttp stub;
        stub.answer = httpAnswer(200, initializeAnswer(QStringLiteral("Other MCP")), "stub-session-1");
        QObject owner;
        auto outcome = std::make_shared<Outcome>();
        const QString url = stub.url();
        McpProbe::probe(&owner, [url] { return url; }, [outcome](const QString& text) { (*outcome)(text); });
        QTRY_VERIFY_WITH_TIMEOUT(outcome->text.has_value(), 10000);
        QVERIFY2(outcome->text->startsWith(QStringLiteral("MCP 服务检查失败：")), qPrintable(*outcome->text));
        QVERIFY(outcome->text->size() > QStringLiteral("MCP 服务检查失败：").size());

        const QList<QByteArray> posts = stub.withMethod("POST");
        QCOMPARE(posts.size(), 1);
        QVERIFY(posts.first().startsWith("POST /mcp HTTP/1.1"));
        QCOMPARE(headerOf(posts.first(), "Content-Type"), QByteArray("application/json"));
        QCOMPARE(bodyOf(posts.first()),
                 QStringLiteral("{\"id\":1,\"jsonrpc\":\"2.0\",\"method\":\"initialize\",\"params\":{\"capabilities\":{},"
                                "\"clientInfo\":{\"name\":\"Varnelle 配置检查\",\"version\":\"0.15.32\"},"
                                "\"protocolVersion\":\"2025-03-26\"}}")
                     .toUtf8());

        // The other server's session is still closed.
        QTRY_COMPARE_WITH_TIMEOUT(stub.withMethod("DELETE").size(), 1, 10000);
        const QByteArray close = stub.withMethod("DELETE").first();
        QVERIFY(close.startsWith("DELETE /mcp HTTP/1.1"));
        QCOMPARE(headerOf(close, "Mcp-Session-Id"), QByteArray("stub-session-1"));
        QTRY_VERIFY_WITH_TIMEOUT(owner.children().isEmpty(), 10000);
    }

    void failures_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::newRow("server error with the right name")
            << httpAnswer(500, initializeAnswer(McpProbe::serverName()), "s-500");
        QTest::newRow("body not JSON") << httpAnswer(200, "<html>hello</html>");
        QTest::newRow("JSON without a result") << httpAnswer(200, "{\"jsonrpc\":\"2.0\",\"id\":1}");
    }

    void failures()
    {
        QFETCH(QByteArray, answer);
        StubHttp stub;
        stub.answer = answer;
        QObject owner;
        auto outcome = std::make_shared<Outcome>();
        const QString url = stub.url();
        McpProbe::probe(&owner, [url] { return url; }, [outcome](const QString& text) { (*outcome)(text); });
        QTRY_VERIFY_WITH_TIMEOUT(outcome->text.has_value(), 10000);
        QVERIFY2(outcome->text->startsWith(QStringLiteral("MCP 服务检查失败：")), qPrintable(*outcome->text));
        // A session id is closed whatever the answer was; none, no DELETE.
        const int deletes = headerOf(answer, "Mcp-Session-Id").isEmpty() ? 0 : 1;
        QTRY_VERIFY_WITH_TIMEOUT(owner.children().isEmpty(), 10000);
        QCOMPARE(stub.withMethod("DELETE").size(), deletes);
    }

    void nothingAtTheAddress()
    {
        const quint16 port = vn::test::freeTcpPort();
        QObject owner;
        auto outcome = std::make_shared<Outcome>();
        const QString url = QStringLiteral("http://127.0.0.1:%1/mcp").arg(port);
        McpProbe::probe(&owner, [url] { return url; }, [outcome](const QString& text) { (*outcome)(text); });
        QTRY_VERIFY_WITH_TIMEOUT(outcome->text.has_value(), 10000);
        QVERIFY2(outcome->text->startsWith(QStringLiteral("MCP 服务检查失败：")), qPrintable(*outcome->text));
    }

    void silentServerTimesOut()
    {
        StubHttp stub;
        QVERIFY(stub.server.isListening());
        QObject owner;
        auto outcome = std::make_shared<Outcome>();
        const QString url = stub.url();
        QElapsedTimer clock;
        clock.start();
        McpProbe::probe(&owner, [url] { return url; }, [outcome](const QString& text) { (*outcome)(text); });
        QTRY_VERIFY_WITH_TIMEOUT(outcome->text.has_value(), 15000);
        QVERIFY2(outcome->text->startsWith(QStringLiteral("MCP 服务检查失败：")), qPrintable(*outcome->text));
        // The transfer limit runs on a coarse timer, which may fire 5 % early.
        QVERIFY2(clock.elapsed() >= 2800, qPrintable(QString::number(clock.elapsed())));
    }

    void addressMovedWhileWaiting()
    {
        StubHttp stub;
        QObject owner;
        auto outcome = std::make_shared<Outcome>();
        auto current = std::make_shared<QString>(stub.url());
        const QString old = *current;
        McpProbe::probe(&owner, [current] { return *current; }, [outcome](const QString& text) { (*outcome)(text); });
        QTRY_COMPARE_WITH_TIMEOUT(stub.held.size(), 1, 10000);
        *current = QStringLiteral("http://127.0.0.1:1/mcp");
        // Even our own server's correct answer does not count at a moved address.
        stub.release(httpAnswer(200, initializeAnswer(McpProbe::serverName()), "moved-session"));
        QTRY_VERIFY_WITH_TIMEOUT(outcome->text.has_value(), 10000);
        QCOMPARE(*outcome->text, QStringLiteral("MCP 端口已改变，请重新检查"));
        // The session is closed where it was opened.
        QTRY_COMPARE_WITH_TIMEOUT(stub.withMethod("DELETE").size(), 1, 10000);
        QCOMPARE(headerOf(stub.withMethod("DELETE").first(), "Mcp-Session-Id"), QByteArray("moved-session"));
        QCOMPARE(old, stub.url());
    }

    void ownerGoneEndsProbeSilently()
    {
        StubHttp stub;
        auto owner = std::make_unique<QObject>();
        bool called = false;
        const QString url = stub.url();
        McpProbe::probe(owner.get(), [url] { return url; }, [&called](const QString&) { called = true; });
        QTRY_COMPARE_WITH_TIMEOUT(stub.held.size(), 1, 10000);
        owner.reset();
        stub.release(httpAnswer(200, initializeAnswer(McpProbe::serverName())));
        QCoreApplication::processEvents();
        QVERIFY(!called);
    }

    void versionRead_data()
    {
        QTest::addColumn<QByteArray>("output");
        QTest::addColumn<bool>("hang");
        QTest::addColumn<int>("expected"); // -1: no version found

        QTest::newRow("major 1") << QByteArray("1.14.2\n") << false << 0;
        QTest::newRow("major 2 after a v") << QByteArray("opencode v2.0.1\n") << false << 1;
        QTest::newRow("major 10 after a space") << QByteArray("opencode 10.3.0 (linux)\n") << false << 1;
        QTest::newRow("first triple counts") << QByteArray("1.0.0 built with 3.2.1\n") << false << 0;
        QTest::newRow("no triple") << QByteArray("opencode dev build\n") << false << -1;
        QTest::newRow("triple glued to a word") << QByteArray("build2.0.0\n") << false << -1;
        QTest::newRow("nothing printed") << QByteArray() << false << -1;
        QTest::newRow("too large for an integer") << QByteArray("99999999999.0.0\n") << false << 0;
        QTest::newRow("printed then hung past the limit") << QByteArray("opencode 3.1.4\n") << true << 1;
        QTest::newRow("hung without printing") << QByteArray() << true << -1;
    }

    void versionRead()
    {
        QFETCH(QByteArray, output);
        QFETCH(bool, hang);
        QFETCH(int, expected);
        const QString program = fakeAgent(QStringLiteral("opencode"), output, hang);
        QVERIFY(!program.isEmpty());
        QVERIFY(McpProbe::runsVersionRead(program));
        QObject owner;
        int calls = 0;
        std::optional<bool> v2;
        QElapsedTimer clock;
        clock.start();
        McpProbe::readVersion(&owner, program, [&](std::optional<bool> found) {
            ++calls;
            v2 = found;
        });
        QTRY_COMPARE_WITH_TIMEOUT(calls, 1, 15000);
        QCOMPARE(v2.has_value(), expected >= 0);
        if (expected >= 0)
            QCOMPARE(*v2, expected == 1);
        if (hang)
            QVERIFY(clock.elapsed() >= 1800); // a coarse timer may fire 5 % early
        // The process is gone and reported once, even though a killed one
        // reports both an error and its end.
        QTRY_VERIFY_WITH_TIMEOUT(owner.children().isEmpty(), 10000);
        QCOMPARE(calls, 1);
    }

    void programThatCannotStart()
    {
        QObject owner;
        int calls = 0;
        std::optional<bool> v2 = true;
        McpProbe::readVersion(&owner, dir.filePath(QStringLiteral("missing")), [&](std::optional<bool> found) {
            ++calls;
            v2 = found;
        });
        QTRY_COMPARE_WITH_TIMEOUT(calls, 1, 10000);
        QVERIFY(!v2.has_value());
        QTRY_VERIFY_WITH_TIMEOUT(owner.children().isEmpty(), 10000);
        QCOMPARE(calls, 1);
    }

    void ownerGoneEndsVersionReadSilently()
    {
        const QString program = fakeAgent(QStringLiteral("opencode"), "2.0.0\n", true);
        auto owner = std::make_unique<QObject>();
        bool called = false;
        McpProbe::readVersion(owner.get(), program, [&called](std::optional<bool>) { called = true; });
        QTRY_VERIFY_WITH_TIMEOUT(owner->findChild<QProcess*>()
                                     && owner->findChild<QProcess*>()->state() == QProcess::Running,
                                 10000);
        owner.reset();
        QCoreApplication::processEvents();
        QVERIFY(!called);
    }

    void onlyCompiledProgramsAreRun()
    {
        QCOMPARE(McpProbe::runsVersionRead(QString()), false);
        QCOMPARE(McpProbe::runsVersionRead(dir.filePath(QStringLiteral("missing"))), false);
        const QString script = dir.filePath(QStringLiteral("opencode-script"));
        QFile file(script);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("#!/bin/sh\necho 2.0.0\n");
        file.close();
        QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QCOMPARE(McpProbe::runsVersionRead(script), false);
        QCOMPARE(McpProbe::runsVersionRead(fakeAgent(QStringLiteral("opencode-binary"), "2.0.0", false)), true);
    }
};

QTEST_GUILESS_MAIN(McpProbeTest)
#include "McpProbeTest.moc"
