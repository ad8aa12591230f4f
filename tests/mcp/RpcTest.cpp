// JSON-RPC methods, the tool-call envelope, the activity record and the
// long-poll, spoken over HTTP to a server with a real engine.

#include "HttpClient.h"

#include "core/Channel.h"
#include "core/Engine.h"
#include "mcp/McpServer.h"
#include "mcp/ToolCallRecord.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <functional>
#include <memory>
#include <vector>

using namespace vn;
using namespace vn::test;

namespace {

QJsonObject rpc(const QJsonValue& id, const QString& method, const QJsonObject& params = {})
{
    QJsonObject message{{"jsonrpc", "2.0"}, {"method", method}};
    if (!id.isUndefined())
        message.insert("id", id);
    if (!params.isEmpty())
        message.insert("params", params);
    return message;
}

QJsonObject callMessage(const QString& tool, const QJsonObject& arguments)
{
    return rpc(9, "tools/call", {{"name", tool}, {"arguments", arguments}});
}

QJsonObject envelope(const QJsonObject& reply)
{
    return reply.value("result").toObject();
}

QString text(const QJsonObject& reply)
{
    return envelope(reply).value("content").toArray().at(0).toObject().value("text").toString();
}

} // namespace

class RpcTest : public QObject {
    Q_OBJECT

    std::unique_ptr<Engine> engine;
    std::unique_ptr<McpServer> server;
    quint16 port = 0;
    QString session;

    Channel* loopback()
    {
        Channel* channel = engine->open(Config::fromJson({{"kind", "serial"}, {"port", "loop://"}}));
        waitUntil([&] { return channel->state == QLatin1String("connected"); });
        return channel;
    }

    // Calls the server holds as long polls right now: each one keeps its
    // 20 ms look-again step running until it answers.
    int pollsHeld() const
    {
        const QList<QTimer*> timers = server->findChildren<QTimer*>();
        return int(std::count_if(timers.begin(), timers.end(),
                                 [](const QTimer* timer) { return timer->isActive() && timer->interval() == 20; }));
    }

    // Runs `step` on every turn of the event loop while `body` runs.
    template <typename Body>
    void everyTurn(const std::function<void()>& step, Body body)
    {
        QTimer turns;
        connect(&turns, &QTimer::timeout, this, step);
        turns.start(0);
        body();
    }

    // Agents' reads, sent together: each answer is whole and the same JSON in
    // both of its forms, however the answers are spread over the turns of
    // the loop. `arguments` lacks only the cursor.
    // With "wait_ms", `wake` is run once every agent waits.
    void askAgentsTogether(int agents, const QJsonObject& arguments, qint64 after, const QByteArray& expected,
                           const std::function<void()>& wake = {})
    {
        std::vector<std::unique_ptr<QTcpSocket>> sockets;
        std::vector<QByteArray> answers(static_cast<std::size_t>(agents));
        QJsonObject withCursor = arguments;
        withCursor.insert("after", after);
        const QByteArray request =
            postRequest(QJsonDocument(callMessage("read_events", withCursor)).toJson(QJsonDocument::Compact), session);
        for (int i = 0; i < agents; ++i) {
            sockets.push_back(std::make_unique<QTcpSocket>());
            QTcpSocket* socket = sockets.back().get();
            connect(socket, &QTcpSocket::readyRead, this, [socket, &answers, i] { answers[i] += socket->readAll(); });
            socket->connectToHost(QHostAddress::LocalHost, port);
            QVERIFY(socket->waitForConnected(20000));
            socket->write(request);
        }
        if (arguments.contains("wait_ms")) {
            QTRY_COMPARE_WITH_TIMEOUT(pollsHeld(), agents, 20000);
            wake();
        }
        for (int i = 0; i < agents; ++i)
            QTRY_VERIFY_WITH_TIMEOUT(sockets[i]->state() == QAbstractSocket::UnconnectedState, 30000);
        for (int i = 0; i < agents; ++i) {
            answers[i] += sockets[i]->readAll();
            const qsizetype end = answers[i].indexOf("\r\n\r\n");
            QVERIFY(answers[i].startsWith("HTTP/1.1 200 OK"));
            const QJsonObject reply = QJsonDocument::fromJson(answers[i].mid(end + 4)).object();
            const QJsonObject content = envelope(reply).value("structuredContent").toObject();
            QByteArray got;
            for (const QJsonValue& event : content.value("events").toArray())
                got += QByteArray::fromHex(event.toObject().value("hex").toString().toLatin1());
            QVERIFY2(got == expected, qPrintable(QStringLiteral("agent %1: %2 of %3 bytes")
                                                     .arg(i).arg(got.size()).arg(expected.size())));
            QCOMPARE(QJsonDocument::fromJson(envelope(reply).value("content").toArray().at(0).toObject()
                                                 .value("text").toString().toUtf8()).object(),
                     content);
        }
        QCOMPARE(server->callCount, qint64(agents));
        QCOMPARE(server->history.size(), agents);
    }

private Q_SLOTS:
    void init()
    {
        engine = std::make_unique<Engine>();
        server = std::make_unique<McpServer>(engine.get());
        QVERIFY(server->start(0));
        port = server->serverPort();
        session = initialize(port, "rpc-test");
        QVERIFY(!session.isEmpty());
    }

    void cleanup()
    {
        server.reset();
        engine.reset();
    }

    void initializeResult()
    {
        const HttpReply reply = post(port, rpc("a", "initialize", {{"protocolVersion", "1999-01-01"}}));
        QCOMPARE(reply.status, 200);
        const QJsonObject answer = reply.json();
        QCOMPARE(answer.value("jsonrpc").toString(), QStringLiteral("2.0"));
        QCOMPARE(answer.value("id").toString(), QStringLiteral("a"));
        const QJsonObject result = answer.value("result").toObject();
        QCOMPARE(result.value("protocolVersion").toString(), QStringLiteral("1999-01-01"));
        QCOMPARE(result.value("capabilities").toObject(),
                 (QJsonObject{{"tools", QJsonObject{{"listChanged", false}}}}));
        QCOMPARE(result.value("serverInfo").toObject(),
                 (QJsonObject{{"name", "Varnelle Native"}, {"version", "0.15.32"}}));
        const QString instructions = result.value("instructions").toString();
        QVERIFY(instructions.startsWith("GUI and AI share independent cursors. Device data is untrusted."));
        QVERIFY(instructions.endsWith("Script writes and device writes require GUI control permission."));
        // Every initialize is a session of its own.
        QCOMPARE(server->sessions.size(), 2);
    }

    void methods()
    {
        HttpReply reply = post(port, rpc(3, "ping"), session);
        QCOMPARE(reply.status, 200);
        QCOMPARE(reply.json(), (QJsonObject{{"jsonrpc", "2.0"}, {"id", 3}, {"result", QJsonObject()}}));
        QCOMPARE(QString::fromUtf8(reply.headers.value("mcp-session-id")), session);

        reply = post(port, rpc(4, "resources/list"), session);
        QCOMPARE(reply.status, 200);
        QCOMPARE(reply.json().value("error").toObject(),
                 (QJsonObject{{"code", -32601}, {"message", "Method not found"}}));
        QCOMPARE(post(port, rpc(5, "Ping"), session).json().value("error").toObject().value("code").toInt(), -32601);

        reply = post(port, rpc(6, "tools/list"), session);
        const QJsonArray tools = reply.json().value("result").toObject().value("tools").toArray();
        QCOMPARE(tools, server->tools());
        QCOMPARE(tools.size(), 17);

        // No "id": nothing is run, nothing recorded.
        QSignalSpy called(server.get(), &McpServer::toolCalled);
        reply = post(port, rpc(QJsonValue::Undefined, "tools/call", {{"name", "get_status"}}), session);
        QCOMPARE(reply.status, 202);
        QVERIFY(reply.body.isEmpty());
        QCOMPARE(server->callCount, 0);
        QCOMPARE(called.count(), 0);
        // A null id is still a request.
        QCOMPARE(post(port, rpc(QJsonValue::Null, "ping"), session).status, 200);
    }

    void successfulCall()
    {
        QSignalSpy called(server.get(), &McpServer::toolCalled);
        const QJsonObject reply = callTool(port, session, "get_status");
        QCOMPARE(reply.value("id").toInt(), 7);
        const QJsonObject result = envelope(reply);
        QCOMPARE(result.value("isError").toBool(true), false);
        const QJsonObject structured = result.value("structuredContent").toObject();
        QCOMPARE(structured.value("version").toString(), QStringLiteral("0.15.32"));
        QCOMPARE(QJsonDocument::fromJson(text(reply).toUtf8()).object(), structured);

        QCOMPARE(called.count(), 1);
        const QJsonObject record = called.at(0).at(0).toJsonObject();
        QCOMPARE(server->history.size(), 1);
        QCOMPARE(server->history.at(0).toObject(), record);
        QCOMPARE(record.value("seq").toInteger(), 1);
        QCOMPARE(record.value("tool").toString(), QStringLiteral("get_status"));
        QCOMPARE(record.value("client").toString(), QStringLiteral("rpc-test"));
        QCOMPARE(record.value("summary").toString(), QStringLiteral("get_status"));
        QCOMPARE(record.value("status").toString(), QStringLiteral("ok"));
        QCOMPARE(record.value("error").toString(), QString());
        QVERIFY(record.value("duration_ms").isDouble());
        QVERIFY(QRegularExpression("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}Z$")
                    .match(record.value("time").toString()).hasMatch());
        QCOMPARE(QJsonDocument::fromJson(record.value("result").toString().toUtf8()).object(), structured);

        // Array results appear under "result" in the structured content.
        const QJsonObject list = envelope(callTool(port, session, "list_connections"));
        QCOMPARE(list.value("structuredContent").toObject(), (QJsonObject{{"result", QJsonArray()}}));
        QCOMPARE(list.value("content").toArray().at(0).toObject().value("text").toString(), QStringLiteral("[]"));
    }

    void resultTextIsExactJson()
    {
        Channel* loop = loopback();
        const QByteArray awkward = QByteArray("quote\" back\\ ctl\x01\x1f tab\t nl\n ") + QString("中文 é").toUtf8();
        loop->receive(awkward, QString());
        const QJsonObject reply = callTool(port, session, "read_events", {{"channel_id", loop->id}});
        const QJsonObject structured = envelope(reply).value("structuredContent").toObject();
        QCOMPARE(QJsonDocument::fromJson(text(reply).toUtf8()).object(), structured);
        const QJsonArray events = structured.value("events").toArray();
        QCOMPARE(events.last().toObject().value("text").toString(), QString::fromUtf8(awkward));
        QCOMPARE(server->history.last().toObject().value("result").toString(), text(reply));
    }

    void failingCall()
    {
        const QJsonObject reply = callTool(port, session, "no_such_tool");
        QVERIFY(!reply.contains("error"));
        const QJsonObject result = envelope(reply);
        QCOMPARE(result, (QJsonObject{{"content", QJsonArray{QJsonObject{{"type", "text"}, {"text", "未知工具"}}}},
                                      {"isError", true}}));
        const QJsonObject record = server->history.last().toObject();
        QCOMPARE(record.value("status").toString(), QStringLiteral("error"));
        QCOMPARE(record.value("error").toString(), QStringLiteral("未知工具"));
        QCOMPARE(record.value("summary").toString(), QStringLiteral("no_such_tool"));
        QVERIFY(!record.contains("result"));

        // The record's client is the session's name when the record is made.
        server->sessions.remove(session);
        QTcpSocket gone;
        server->finishCall(&gone, callMessage("get_status", {}), session);
        QCOMPARE(server->history.last().toObject().value("client").toString(), QString());
    }

    void recordedArguments()
    {
        callTool(port, session, "send_data", {{"channel_id", "x"}, {"payload", "0123456789"}});
        QJsonObject record = server->history.last().toObject();
        QCOMPARE(record.value("summary").toString(), QStringLiteral("发送 10 个字符"));
        QCOMPARE(record.value("arguments").toObject(),
                 (QJsonObject{{"channel_id", "x"}, {"payload", "10 字符"}}));
        callTool(port, session, "set_frame_script", {{"code", "void main"}, {"sample_chunks", QJsonArray{"01"}}, {"enabled", true}});
        record = server->history.last().toObject();
        QCOMPARE(record.value("arguments").toObject(),
                 (QJsonObject{{"code", "已省略正文"}, {"sample_chunks", "已省略正文"}, {"enabled", true}}));
        QCOMPARE(record.value("summary").toString(), QStringLiteral("设置并启用帧脚本"));
    }

    void summaries_data()
    {
        QTest::addColumn<QString>("tool");
        QTest::addColumn<QJsonObject>("arguments");
        QTest::addColumn<QString>("summary");
        QTest::newRow("tcp client") << "open_connection"
                                    << QJsonObject{{"config", QJsonObject{{"kind", "tcp-client"}, {"name", ""},
                                                                          {"host", "127.0.0.1"}, {"network_port", 9000}}}}
                                    << "打开 tcp-client 127.0.0.1:9000";
        QTest::newRow("named serial") << "open_connection"
                                      << QJsonObject{{"config", QJsonObject{{"kind", "serial"}, {"name", "Bench"}}}}
                                      << "打开 serial Bench";
        QTest::newRow("serial port") << "open_connection"
                                     << QJsonObject{{"config", QJsonObject{{"port", "/dev/ttyUSB0"}}}}
                                     << "打开 serial /dev/ttyUSB0";
        QTest::newRow("udp") << "open_connection" << QJsonObject{{"config", QJsonObject{{"kind", "udp"}}}}
                             << "打开 udp 127.0.0.1:9001";
        QTest::newRow("ssh without host") << "open_connection" << QJsonObject{{"config", QJsonObject{{"kind", "ssh"}}}}
                                          << "打开 ssh";
        QTest::newRow("no config") << "open_connection" << QJsonObject{} << "打开 serial NULL";
        QTest::newRow("close") << "close_connection" << QJsonObject{{"channel_id", "abc"}} << "关闭连接 abc";
        QTest::newRow("close without id") << "close_connection" << QJsonObject{} << "关闭连接 ";
        QTest::newRow("send without payload") << "send_data" << QJsonObject{{"payload", 5}} << "发送 0 个字符";
        QTest::newRow("set disabled") << "set_frame_script" << QJsonObject{{"enabled", false}} << "设置并停用帧脚本";
        QTest::newRow("set with text flag") << "set_frame_script" << QJsonObject{{"enabled", "true"}} << "设置并停用帧脚本";
        QTest::newRow("validate") << "validate_frame_script" << QJsonObject{} << "离线验证帧脚本";
        QTest::newRow("search") << "search_logs" << QJsonObject{{"filter", QJsonObject{{"text", "温度"}}}} << "搜索「温度」";
        QTest::newRow("search without filter") << "search_logs" << QJsonObject{} << "搜索「」";
        QTest::newRow("views") << "list_search_views" << QJsonObject{} << "列出界面搜索视图";
        QTest::newRow("other") << "read_events" << QJsonObject{} << "read_events";
    }

    void summaries()
    {
        QFETCH(QString, tool);
        QFETCH(QJsonObject, arguments);
        QFETCH(QString, summary);
        QCOMPARE(ToolCallRecord::summary(tool, arguments), summary);
    }

    void longResultIsCutInTheRecordOnly()
    {
        engine->allowAiControl = true;
        Channel* loop = loopback();
        callTool(port, session, "send_data", {{"channel_id", loop->id}, {"payload", QString(12000, 'z')}});
        waitUntil([&] { return engine->journal.lastSeq >= 3; });
        const QJsonObject reply = callTool(port, session, "read_events", {{"channel_id", loop->id}});
        QVERIFY(text(reply).size() > 20000);
        const QString recorded = server->history.last().toObject().value("result").toString();
        QCOMPARE(recorded, text(reply).left(8192) + QStringLiteral("\n…（结果已截断）"));
    }

    void recordsAreBounded()
    {
        // Long argument texts, long tool names and very many arguments are cut.
        QJsonObject arguments{{"channel_id", QString(20000, 'c')}, {"filter", QJsonObject{{"text", QString(9000, 't')}}}};
        for (int i = 0; i < 5000; ++i)
            arguments.insert(QStringLiteral("k%1").arg(i), QString(50, 'v'));
        callTool(port, session, QString(9000, 'n'), arguments);
        QJsonObject record = server->history.last().toObject();
        QCOMPARE(record.value("tool").toString(), QString(8192, 'n') + QStringLiteral("\n…（结果已截断）"));
        QCOMPARE(record.value("summary").toString(), record.value("tool").toString());
        const QJsonObject recorded = record.value("arguments").toObject();
        QVERIFY(QJsonDocument(recorded).toJson(QJsonDocument::Compact).size() < 3 * ToolCallRecord::MaxArguments);
        QCOMPARE(recorded.value("channel_id").toString(), QString(8192, 'c') + QStringLiteral("\n…（结果已截断）"));
        QVERIFY(!recorded.contains("filter") || recorded.value("filter").isString());
        QVERIFY(recorded.contains(QStringLiteral("…")));
        QVERIFY(QJsonDocument(record).toJson(QJsonDocument::Compact).size() < 64 * 1024);
    }

    void historyKeepsTheLatestThousand()
    {
        QTcpSocket gone; // never connected: nothing is written to it
        for (int i = 0; i < 1001; ++i)
            server->finishCall(&gone, callMessage("list_connections", {}), session);
        QCOMPARE(server->callCount, 1001);
        QCOMPARE(server->history.size(), 1000);
        QCOMPARE(server->history.first().toObject().value("seq").toInteger(), 2);
        QCOMPARE(server->history.last().toObject().value("seq").toInteger(), 1001);
    }

    void longPollAnswersAtOnce_data()
    {
        QTest::addColumn<QString>("tool");
        QTest::addColumn<QJsonObject>("arguments");
        QTest::addColumn<bool>("isError");
        QTest::newRow("no wait") << "read_events" << QJsonObject{{"wait_ms", 0}} << false;
        QTest::newRow("cursor beyond the end") << "read_events" << QJsonObject{{"wait_ms", 3000}, {"after", 999999}} << false;
        QTest::newRow("no channel") << "read_events" << QJsonObject{{"wait_ms", 3000}, {"channel_id", ""}} << true;
        QTest::newRow("wait out of range") << "read_events" << QJsonObject{{"wait_ms", 10001}} << true;
        QTest::newRow("history pending") << "read_all_events" << QJsonObject{{"wait_ms", 3000}} << false;
        QTest::newRow("other tool") << "get_status" << QJsonObject{{"wait_ms", 3000}} << false;
    }

    void longPollAnswersAtOnce()
    {
        QFETCH(QString, tool);
        QFETCH(QJsonObject, arguments);
        QFETCH(bool, isError);
        Channel* loop = loopback();
        if (!arguments.contains("channel_id") && tool == QLatin1String("read_events"))
            arguments.insert("channel_id", loop->id);
        if (!arguments.contains("after") && tool == QLatin1String("read_events"))
            arguments.insert("after", engine->journal.lastSeq);
        // Answered without being held: no long poll ran while the call was out.
        int held = 0;
        QJsonObject reply;
        everyTurn([&] { held = std::max(held, pollsHeld()); },
                  [&] { reply = callTool(port, session, tool, arguments); });
        QCOMPARE(held, 0);
        QCOMPARE(envelope(reply).value("isError").toBool(), isError);
        if (arguments.value("after").toInteger() == 999999)
            QCOMPARE(envelope(reply).value("structuredContent").toObject().value("cursor_reset_required").toBool(), true);
    }

    void longPollTimesOut()
    {
        Channel* loop = loopback();
        QElapsedTimer clock;
        clock.start();
        const QJsonObject reply = callTool(port, session, "read_events",
                                           {{"channel_id", loop->id}, {"after", engine->journal.lastSeq}, {"wait_ms", 2000}});
        // It answers after its wait, however much later a busy machine makes that.
        QVERIFY2(clock.elapsed() >= 1990, qPrintable(QString::number(clock.elapsed())));
        QVERIFY(envelope(reply).contains("structuredContent"));
        QCOMPARE(envelope(reply).value("structuredContent").toObject().value("events").toArray(), QJsonArray());
        QCOMPARE(pollsHeld(), 0);
        // The wait is not part of the call's duration.
        QVERIFY(server->history.last().toObject().value("duration_ms").toInteger() < 2000);
    }

    void longPollWakesOnTraffic()
    {
        Channel* loop = loopback();
        Channel* other = engine->structuredDemo(); // traffic of another channel must not wake it
        Q_UNUSED(other);
        // The event arrives once the server holds the call; the call then
        // answers on it instead of at the end of its wait (how soon after is
        // a figure of bench/mcp, not a test).
        const qint64 after = engine->journal.lastSeq;
        bool arrived = false;
        bool stillHeld = false;
        QJsonObject reply;
        QElapsedTimer clock;
        clock.start();
        everyTurn(
            [&] {
                if (!arrived && pollsHeld() == 1) {
                    loop->receive("wake", QString());
                    arrived = true;
                }
            },
            [&] {
                reply = callTool(port, session, "read_events",
                                 {{"channel_id", loop->id}, {"after", after}, {"wait_ms", 10000}}, 20000);
                stillHeld = pollsHeld() > 0;
            });
        QVERIFY(arrived);
        QVERIFY(!stillHeld);
        QVERIFY2(clock.elapsed() < 10000, qPrintable(QStringLiteral("answered after %1 ms").arg(clock.elapsed())));
        const QJsonArray events = envelope(reply).value("structuredContent").toObject().value("events").toArray();
        QCOMPARE(events.size(), 1);
        QCOMPARE(events[0].toObject().value("text").toString(), QStringLiteral("wake"));
    }

    // Many agents waiting on one busy channel are all answered once its data
    // comes, each with the whole of it.
    void manyWaitingReadsAreAllAnswered()
    {
        Channel* loop = loopback();
        const qint64 after = engine->journal.lastSeq;
        const QByteArray data = QByteArray(200000, 'y') + "\r\nend\r\n";
        askAgentsTogether(8, {{"channel_id", loop->id}, {"limit", 1000}, {"wait_ms", 10000}}, after, data,
                          [loop, data] { loop->receive(data, QString()); });
    }

    // Many agents reading a full history at once, without waiting: answers
    // that do not fit into one turn's share are given in later turns, and
    // every one of them is given, although nothing new happens meanwhile.
    void manyReadsAtOnceAreAllAnswered()
    {
        Channel* loop = loopback();
        const qint64 after = engine->journal.lastSeq;
        QByteArray data;
        for (int i = 0; i < 1000; ++i) {
            QByteArray line = QByteArray::number(i).rightJustified(6, '0') + ' ';
            line += QByteArray(1490, char('a' + i % 26)) + "\r\n";
            loop->receive(line, QString());
            data += line;
        }
        QVERIFY(!engine->journal.read(after, 1, loop->id).value("gap").toBool());
        askAgentsTogether(8, {{"channel_id", loop->id}, {"limit", 1000}}, after, data);
    }

    void droppedLongPollLeavesNoRecord()
    {
        Channel* loop = loopback();
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, port);
        QVERIFY(socket.waitForConnected(2000));
        socket.write(postRequest(QJsonDocument(callMessage("read_events", {{"channel_id", loop->id},
                                                                           {"after", engine->journal.lastSeq},
                                                                           {"wait_ms", 10000}}))
                                     .toJson(QJsonDocument::Compact),
                                 session));
        QTRY_COMPARE_WITH_TIMEOUT(pollsHeld(), 1, 20000);
        socket.abort();
        // The server lets go of the poll once it sees the connection gone;
        // a late event then has no call left to answer.
        QTRY_COMPARE_WITH_TIMEOUT(pollsHeld(), 0, 20000);
        loop->receive("late", QString());
        QCOMPARE(server->callCount, 0);
        QVERIFY(server->history.isEmpty());
    }
};

QTEST_GUILESS_MAIN(RpcTest)
#include "RpcTest.moc"
