// The tool catalogue, the access gates and the tools, called through the
// server's dispatcher over a real engine with real channels.

#include "core/Channel.h"
#include "core/Engine.h"
#include "core/script/FrameScriptProgram.h"
#include "mcp/McpServer.h"
#include "mcp/UsageGuide.h"
#include "tests/support/TestSupport.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QHostAddress>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>
#include <QUdpSocket>

#include <exception>
#include <memory>
#include <optional>

using namespace vn;

namespace {

const QString AiOff = QStringLiteral("AI 控制未开启，请在桌面设置 → AI / MCP 中允许发送报文和控制连接");
const QString Closed = QStringLiteral("该协议的 MCP 访问已关闭，请在设置 → AI / MCP 中开启");
const QString EmptyId = QStringLiteral("必须指定非空 channel_id；先调用 list_connections 或 get_status，核对协议、端口和状态后选择连接 ID。不会自动选择连接或读取全局历史。");
const QString Unregistered = QStringLiteral("连接不存在，请选择连接或调用 list_connections");
const QString RevisionRefused = QStringLiteral("脚本已变化或未提供 expected_revision；先 get_frame_script，再基于最新 revision 修改");

// The example frame AA 55 | 25.00 °C | 3.300 V | SUM8 | 0D.
const QString ExampleFrame = QStringLiteral("AA 55 C4 09 E4 0C BC 0D");

QJsonObject config(const QString& kind, const QJsonObject& more = {})
{
    QJsonObject object = more;
    object.insert(QStringLiteral("kind"), kind);
    return object;
}

} // namespace

class ToolsTest : public QObject {
    Q_OBJECT

    std::unique_ptr<Engine> engine;
    std::unique_ptr<McpServer> server;

    // The message of a failing call, or "(no failure)".
    QString failure(const QString& tool, const QJsonObject& arguments = {})
    {
        try {
            server->call(tool, arguments);
        } catch (const std::exception& error) {
            return QString::fromUtf8(error.what());
        }
        return QStringLiteral("(no failure)");
    }

    QJsonObject object(const QString& tool, const QJsonObject& arguments = {})
    {
        return server->call(tool, arguments).toObject();
    }

    Channel* loopback()
    {
        Channel* channel = engine->open(Config::fromJson(config(QStringLiteral("serial"), {{"port", "loop://"}})));
        [&] { QTRY_COMPARE(channel->state, QStringLiteral("connected")); }();
        return channel;
    }

private Q_SLOTS:
    void initTestCase()
    {
        qRegisterMetaType<Channel*>();
    }

    void init()
    {
        engine = std::make_unique<Engine>();
        server = std::make_unique<McpServer>(engine.get());
    }

    void cleanup()
    {
        server.reset();
        engine.reset();
    }

    void catalogue()
    {
        const QJsonArray tools = server->tools();
        const QStringList expected{"read_usage_guide", "get_status",       "list_serial_ports",     "list_connections",
                                   "read_events",      "read_all_events",  "read_waveform",         "read_structured",
                                   "read_script_results", "send_data",     "open_connection",       "close_connection",
                                   "list_search_views", "search_logs",     "get_frame_script",      "validate_frame_script",
                                   "set_frame_script"};
        QCOMPARE(tools.size(), 17);
        for (int i = 0; i < tools.size(); ++i) {
            const QJsonObject tool = tools[i].toObject();
            QCOMPARE(tool.value("name").toString(), expected[i]);
            QVERIFY(!tool.value("description").toString().isEmpty());
            const QJsonObject schema = tool.value("inputSchema").toObject();
            QCOMPARE(schema.value("type").toString(), QStringLiteral("object"));
            QVERIFY(schema.value("properties").isObject());
            QVERIFY(schema.value("required").isArray());
            const QJsonObject hints = tool.value("annotations").toObject();
            const QString name = expected[i];
            const bool acting = name == "send_data" || name == "open_connection" || name == "close_connection"
                                || name == "set_frame_script";
            QCOMPARE(hints.value("readOnlyHint").toBool(), !acting && name != "search_logs");
            QCOMPARE(hints.value("destructiveHint").toBool(), acting);
            QCOMPARE(hints.value("openWorldHint").toBool(), acting);
        }
        const QJsonObject readEvents = tools[4].toObject().value("inputSchema").toObject();
        QCOMPARE(readEvents.value("properties").toObject().value("channel_id").toObject().value("minLength").toInt(), 1);
        QCOMPARE(readEvents.value("required").toArray(), QJsonArray{"channel_id"});
        QCOMPARE(readEvents.value("properties").toObject().value("limit").toObject().value("default").toInt(), 200);
        const QJsonObject set = tools[16].toObject().value("inputSchema").toObject();
        QCOMPARE(set.value("required").toArray(), (QJsonArray{"channel_id", "code", "enabled", "expected_revision"}));
        QCOMPARE(set.value("properties").toObject().value("sample_chunks").toObject().value("maxItems").toInt(), 64);
        QVERIFY(tools[15].toObject().value("description").toString().endsWith(
            "Maximum 64 KiB source/input, 128 chunks and 1024 output frames."));
        const QJsonObject filter =
            tools[13].toObject().value("inputSchema").toObject().value("properties").toObject().value("filter").toObject();
        QCOMPARE(filter.value("additionalProperties").toBool(true), false);
        QCOMPARE(filter.value("properties").toObject().keys(),
                 (QStringList{"case_sensitive", "logical", "regex", "text", "whole_word"}));

        // The same whatever the switches say.
        for (const char* protocol : {"serial", "tcp", "udp", "ssh"})
            server->setProtocolEnabled(protocol, false);
        QCOMPARE(server->tools(), tools);
    }

    void unknownToolsAndTheAiGate_data()
    {
        QTest::addColumn<QString>("tool");
        QTest::addColumn<QJsonObject>("arguments");
        QTest::addColumn<QString>("message");
        QTest::newRow("case differs") << "Get_Status" << QJsonObject() << "未知工具";
        QTest::newRow("outside catalogue") << "delete_everything" << QJsonObject() << "未知工具";
        QTest::newRow("empty name") << "" << QJsonObject() << "未知工具";
        QTest::newRow("send without channel") << "send_data" << QJsonObject() << AiOff;
        QTest::newRow("send to unknown channel") << "send_data" << QJsonObject{{"channel_id", "nope"}} << AiOff;
        QTest::newRow("open") << "open_connection" << QJsonObject{{"config", config("demo")}} << AiOff;
        QTest::newRow("close") << "close_connection" << QJsonObject{{"channel_id", ""}} << AiOff;
    }

    void unknownToolsAndTheAiGate()
    {
        QFETCH(QString, tool);
        QFETCH(QJsonObject, arguments);
        QFETCH(QString, message);
        QCOMPARE(failure(tool, arguments), message);
    }

    void protocolSwitches()
    {
        QVERIFY(server->protocolEnabled("demo"));
        QVERIFY(!server->protocolEnabled(""));
        QVERIFY(!server->protocolEnabled("bluetooth"));
        QCOMPARE(server->protocolAccess(),
                 (QJsonObject{{"serial", true}, {"tcp", true}, {"udp", true}, {"ssh", true}}));

        QSignalSpy changed(server.get(), &McpServer::protocolAccessChanged);
        try {
            server->setProtocolEnabled("demo", false);
            QFAIL("demo has no switch");
        } catch (const std::exception& error) {
            QCOMPARE(QString::fromUtf8(error.what()), QStringLiteral("未知的 MCP 协议"));
        }
        server->setProtocolEnabled("serial", true);
        QCOMPARE(changed.count(), 0);
        server->setProtocolEnabled("tcp-server", false);
        QCOMPARE(changed.count(), 1);
        QVERIFY(!server->protocolEnabled("tcp-client"));
        QVERIFY(!server->protocolEnabled("tcp-server"));
        QCOMPARE(server->protocolAccess().value("tcp").toBool(true), false);
    }

    void channelGates()
    {
        Channel* loop = loopback();
        QCOMPARE(failure("read_events", {{"channel_id", "   "}}), EmptyId);
        QCOMPARE(failure("read_events", {}), EmptyId);
        QCOMPARE(failure("read_events", {{"channel_id", " " + loop->id + " "}}), Unregistered);
        QCOMPARE(object("read_events", {{"channel_id", loop->id}}).value("channel_id").toString(), loop->id);
        server->setProtocolEnabled("serial", false);
        QCOMPARE(failure("read_events", {{"channel_id", loop->id}}), Closed);
        QCOMPARE(failure("read_waveform", {{"channel_id", loop->id}}), Closed);
        QCOMPARE(failure("list_serial_ports"), Closed);
        QVERIFY(server->call("list_connections", {}).toArray().isEmpty());
    }

    void statusWithoutConnections()
    {
        const QJsonObject status = object("get_status");
        QCOMPARE(status.size(), 17);
        QCOMPARE(status.value("version").toString(), QStringLiteral("0.15.32"));
        QCOMPARE(status.value("session_id").toString(), engine->journal.sessionId);
        QCOMPARE(status.value("latest_cursor").toInteger(), 0);
        QCOMPARE(status.value("connections").toArray(), QJsonArray());
        QCOMPARE(status.value("connection_count").toInt(-1), 0);
        QCOMPARE(status.value("connected_count").toInt(-1), 0);
        QCOMPARE(status.value("recovering_count").toInt(-1), 0);
        const QJsonObject counts = status.value("counts_by_protocol").toObject();
        QCOMPARE(counts.keys(), (QStringList{"demo", "serial", "ssh", "tcp-client", "tcp-server", "udp"}));
        for (const QJsonValue& count : counts)
            QCOMPARE(count.toInt(-1), 0);
        QCOMPARE(status.value("max_events").toInt(), 20000);
        QCOMPARE(status.value("max_encoded_bytes").toInt(), 8388608);
        QCOMPARE(status.value("allow_ai_control").toBool(true), false);
        QCOMPARE(status.value("mcp_url").toString(), server->url());
        QCOMPARE(status.value("process").toObject().value("pid").toInteger(), QCoreApplication::applicationPid());
        QCOMPARE(status.value("usage_guide").toObject().value("tool").toString(), QStringLiteral("read_usage_guide"));
        QCOMPARE(status.value("agent_config_checks").toArray(), QJsonArray());
        server->agentChecks = QJsonArray{QJsonObject{{"agent", "codex"}, {"matches", true}}};
        QCOMPARE(object("get_status").value("agent_config_checks").toArray(), server->agentChecks);
    }

    void statusCounts()
    {
        Channel* loop = loopback();
        engine->waveformDemo();
        Channel* other = engine->open(Config::fromJson(config("serial", {{"port", "/dev/does-not-exist-vn"}})));
        other->state = QStringLiteral("reconnecting");
        QJsonObject status = object("get_status");
        QCOMPARE(status.value("connection_count").toInt(), 3);
        QCOMPARE(status.value("connected_count").toInt(), 2);
        QCOMPARE(status.value("recovering_count").toInt(), 1);
        QCOMPARE(status.value("counts_by_protocol").toObject().value("serial").toInt(), 1);
        QCOMPARE(status.value("counts_by_protocol").toObject().value("demo").toInt(), 1);

        server->setProtocolEnabled("serial", false);
        status = object("get_status");
        QCOMPARE(status.value("connection_count").toInt(), 1);
        QCOMPARE(status.value("connected_count").toInt(), 1);
        QCOMPARE(status.value("recovering_count").toInt(), 0);
        Q_UNUSED(loop);
    }

    void readEventsArguments_data()
    {
        QTest::addColumn<QJsonObject>("arguments");
        QTest::addColumn<QString>("message");
        QTest::newRow("wait -1") << QJsonObject{{"wait_ms", -1}} << "wait_ms 范围 0..10000";
        QTest::newRow("wait 10001") << QJsonObject{{"wait_ms", 10001}} << "wait_ms 范围 0..10000";
        QTest::newRow("wait 0") << QJsonObject{{"wait_ms", 0}} << "(no failure)";
        QTest::newRow("wait 10000 in the read itself") << QJsonObject{{"wait_ms", 10000}} << "(no failure)";
        QTest::newRow("limit 0") << QJsonObject{{"limit", 0}} << "after >= 0，limit 范围 1..1000";
        QTest::newRow("limit 1001") << QJsonObject{{"limit", 1001}} << "after >= 0，limit 范围 1..1000";
        QTest::newRow("after -1") << QJsonObject{{"after", -1}} << "after >= 0，limit 范围 1..1000";
        QTest::newRow("limit 2.5 reads the default") << QJsonObject{{"limit", 2.5}} << "(no failure)";
        QTest::newRow("limit as text reads the default") << QJsonObject{{"limit", "0"}} << "(no failure)";
    }

    void readEventsArguments()
    {
        QFETCH(QJsonObject, arguments);
        QFETCH(QString, message);
        Channel* loop = loopback();
        arguments.insert("channel_id", loop->id);
        QCOMPARE(failure("read_events", arguments), message);
    }

    void readEvents()
    {
        Channel* loop = loopback();
        for (int i = 0; i < 250; ++i)
            loop->receive(QByteArray("x"), QString());
        QJsonObject result = object("read_events", {{"channel_id", loop->id}});
        QCOMPARE(result.value("events").toArray().size(), 200); // the default limit
        QVERIFY(result.value("has_more").toBool());
        QCOMPARE(result.value("scope").toString(), QStringLiteral("channel"));
        QCOMPARE(result.value("channel_id").toString(), loop->id);
        QCOMPARE(result.value("protocol").toString(), QStringLiteral("serial"));
        QCOMPARE(result.value("connection_state").toString(), QStringLiteral("connected"));
        for (const char* key : {"session_id", "next_cursor", "latest_cursor", "oldest_cursor", "gap", "cursor_reset_required"})
            QVERIFY2(result.contains(key), key);

        const qint64 next = result.value("next_cursor").toInteger();
        result = object("read_events", {{"channel_id", loop->id}, {"after", next}, {"limit", 1000}});
        QCOMPARE(result.value("events").toArray().size(), engine->journal.lastSeq - next);
        QVERIFY(!result.value("has_more").toBool());

        QCOMPARE(failure("read_all_events", {{"channel_id", ""}}),
                 QStringLiteral("read_all_events 读取所有已开放连接的历史，不接受 channel_id；读取单个连接请使用 read_events 并指定 channel_id。"));
        result = object("read_all_events", {{"limit", 1000}});
        QCOMPARE(result.value("scope").toString(), QStringLiteral("all_channels"));
        QVERIFY(!result.contains("channel_id"));
        const int all = result.value("events").toArray().size();
        QVERIFY(all >= 251);
    }

    void readAllEventsFollowsTheSwitches()
    {
        Channel* loop = loopback();
        loop->receive("serial bytes", QString());
        Channel* demo = engine->structuredDemo();
        const auto count = [&] {
            int serial = 0;
            int demos = 0;
            for (const QJsonValue& event : object("read_all_events", {{"limit", 1000}}).value("events").toArray()) {
                const QString channel = event.toObject().value("channel_id").toString();
                serial += channel == loop->id;
                demos += channel == demo->id;
            }
            return std::make_pair(serial, demos);
        };
        const auto before = count();
        QVERIFY(before.first >= 2 && before.second >= 1);
        server->setProtocolEnabled("serial", false);
        QCOMPARE(count().first, 0);
        QVERIFY(count().second >= 1);
        server->setProtocolEnabled("serial", true);
        QCOMPARE(count().first, before.first);

        // Events of a removed channel stay visible through their own "protocol".
        const QString id = loop->id;
        engine->remove(id);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        int kept = 0;
        for (const QJsonValue& event : object("read_all_events", {{"limit", 1000}}).value("events").toArray())
            kept += event.toObject().value("channel_id").toString() == id;
        QVERIFY(kept > before.first); // its history and the closing status event
        server->setProtocolEnabled("serial", false);
        kept = 0;
        for (const QJsonValue& event : object("read_all_events", {{"limit", 1000}}).value("events").toArray())
            kept += event.toObject().value("channel_id").toString() == id;
        QCOMPARE(kept, 0);
    }

    void decodedReads()
    {
        Channel* demo = engine->waveformDemo();
        server->setProtocolEnabled("serial", false); // demos stay open whatever the switches say
        QTRY_VERIFY(!demo->sources.empty());
        QJsonObject wave = object("read_waveform", {{"channel_id", demo->id}});
        QCOMPARE(wave.value("protocol").toString(), QStringLiteral("wave/1"));
        QCOMPARE(wave.value("channel_id").toString(), demo->id);
        QCOMPARE(failure("read_waveform", {{"channel_id", demo->id}, {"limit", 5001}}), QStringLiteral("波形采样范围 1..5000"));
        QCOMPARE(failure("read_waveform", {{"channel_id", demo->id}, {"limit", 0}}), QStringLiteral("波形采样范围 1..5000"));

        QJsonObject structured = object("read_structured", {{"channel_id", demo->id}});
        QVERIFY(structured.contains("mode"));
        QCOMPARE(failure("read_structured", {{"channel_id", demo->id}, {"limit", 501}}),
                 QStringLiteral("解析游标 >= 0，limit 范围 1..500"));
        QJsonObject script = object("read_script_results", {{"channel_id", demo->id}, {"cursors", "not an object"}});
        QVERIFY(script.contains("enabled") && script.contains("error"));
        QCOMPARE(failure("read_script_results", {{"channel_id", demo->id}, {"after", -5}}),
                 QStringLiteral("解析游标 >= 0，limit 范围 1..500"));
    }

    void searchTools()
    {
        Channel* loop = loopback();
        QCOMPARE(failure("search_logs", {{"channel_id", ""}}), EmptyId);
        QCOMPARE(failure("list_search_views", {{"channel_id", loop->id}}), QStringLiteral("GUI 搜索服务尚未连接"));
        QCOMPARE(failure("search_logs", {{"channel_id", loop->id}}), QStringLiteral("GUI 搜索服务尚未连接"));

        Channel* seen = nullptr;
        QJsonObject passed;
        server->searchHandler = [&](Channel* channel, const QJsonObject& arguments) {
            seen = channel;
            passed = arguments;
            return QJsonObject{{"scope", "gui_display"}};
        };
        QCOMPARE(object("search_logs", {{"channel_id", loop->id}, {"action", "forged"}, {"view_id", "v1"}}),
                 (QJsonObject{{"scope", "gui_display"}}));
        QCOMPARE(seen, loop);
        QCOMPARE(passed.value("action").toString(), QStringLiteral("search_logs"));
        QCOMPARE(passed.value("view_id").toString(), QStringLiteral("v1"));
        object("list_search_views", {{"channel_id", loop->id}});
        QCOMPARE(passed.value("action").toString(), QStringLiteral("list_search_views"));
        server->searchHandler = [](Channel*, const QJsonObject&) -> QJsonObject { vn::fail(QStringLiteral("GUI 窗口已关闭")); };
        QCOMPARE(failure("list_search_views", {{"channel_id", loop->id}}), QStringLiteral("GUI 窗口已关闭"));
    }

    void sendData()
    {
        engine->allowAiControl = true;
        Channel* loop = loopback();
        const qint64 mark = engine->journal.lastSeq;
        QJsonObject receipt = object("send_data", {{"channel_id", loop->id}, {"payload", "héllo"}});
        QCOMPARE(receipt, (QJsonObject{{"channel_id", loop->id}, {"bytes_sent", 6}, {"peer", ""}}));
        QTRY_COMPARE(engine->journal.read(mark, 10, loop->id).value("events").toArray().size(), 2);
        const QJsonArray events = engine->journal.read(mark, 10, loop->id).value("events").toArray();
        QCOMPARE(events[0].toObject().value("direction").toString(), QStringLiteral("tx"));
        QCOMPARE(events[0].toObject().value("message").toString(), QStringLiteral("mcp"));
        QCOMPARE(events[0].toObject().value("hex").toString(), QStringLiteral("68 c3 a9 6c 6c 6f"));
        QCOMPARE(events[1].toObject().value("direction").toString(), QStringLiteral("rx"));

        receipt = object("send_data", {{"channel_id", loop->id}, {"payload", "01 03 00 00"}, {"hex_mode", true},
                                       {"newline", "crlf"}});
        QCOMPARE(receipt.value("bytes_sent").toInt(), 6);
        QCOMPARE(failure("send_data", {{"channel_id", loop->id}, {"payload", "123"}, {"hex_mode", true}}),
                 QStringLiteral("HEX 需要完整的十六进制字节，例如 01 03 00 00"));
        QCOMPARE(failure("send_data", {{"channel_id", loop->id}, {"payload", "a"}, {"newline", "CRLF"}}),
                 QStringLiteral("换行参数无效"));
        QCOMPARE(failure("send_data", {{"channel_id", loop->id}, {"payload", "a"}, {"encoding", "no-such-codec"}}),
                 QStringLiteral("不支持的文本编码"));
        Channel* demo = engine->waveformDemo();
        QCOMPARE(failure("send_data", {{"channel_id", demo->id}, {"payload", "a"}}), QStringLiteral("模拟信号为只读数据源"));
        server->setProtocolEnabled("serial", false);
        QCOMPARE(failure("send_data", {{"channel_id", loop->id}, {"payload", "a"}}), Closed);
    }

    void sendOverUdpToARealPeer()
    {
        engine->allowAiControl = true;
        QUdpSocket peer;
        QVERIFY(peer.bind(QHostAddress::LocalHost, 0));
        const quint16 bindPort = vn::test::freeUdpPort();
        QJsonObject opened = object("open_connection", {{"config", config("udp", {{"bind_port", bindPort},
                                                                                  {"network_port", peer.localPort()}})}});
        const QString id = opened.value("id").toString();
        Channel* udp = engine->get(id);
        QTRY_VERIFY(udp->state == QLatin1String("listening") || udp->state == QLatin1String("connected"));
        const QString target = QStringLiteral("127.0.0.1:%1").arg(peer.localPort());
        const QJsonObject receipt = object("send_data", {{"channel_id", id}, {"payload", "ping"}, {"peer", target}});
        QCOMPARE(receipt.value("peer").toString(), target);
        QTRY_VERIFY(peer.hasPendingDatagrams());
        QByteArray datagram(static_cast<int>(peer.pendingDatagramSize()), 0);
        peer.readDatagram(datagram.data(), datagram.size());
        QCOMPARE(datagram, QByteArray("ping"));
        QCOMPARE(failure("send_data", {{"channel_id", id}, {"payload", "x"}, {"peer", "10.0.0.5:0"}}),
                 QStringLiteral("UDP 目标需要有效 IP:端口"));

        const QJsonObject closed = object("close_connection", {{"channel_id", id}});
        QCOMPARE(closed.value("state").toString(), QStringLiteral("closed"));
        QCOMPARE(server->call("list_connections", {}).toArray().size(), 1);
    }

    void openConnection()
    {
        engine->allowAiControl = true;
        QSignalSpy opened(server.get(), &McpServer::guiConnectionOpened);
        const QJsonObject serial = config("serial", {{"port", "loop://"}});
        const QString first = object("open_connection", {{"config", serial}}).value("id").toString();
        const QString second = object("open_connection", {{"config", serial}}).value("id").toString();
        QCOMPARE(first, second);
        QCOMPARE(opened.count(), 2);
        QCOMPARE(opened.at(1).at(0).value<Channel*>(), engine->get(first));

        QCOMPARE(failure("open_connection", {{"config", config("bluetooth")}}), Closed);
        QCOMPARE(failure("open_connection", {{"config", config("Serial")}}), Closed);
        QCOMPARE(failure("open_connection", {{"config", config("udp", {{"network_port", 0}})}}), QStringLiteral("网络端口无效"));
        QCOMPARE(failure("open_connection", {{"config", "serial"}}), QStringLiteral("请先选择串口，NULL 表示尚未选择"));
        server->setProtocolEnabled("tcp", false);
        QCOMPARE(failure("open_connection", {{"config", config("tcp-client")}}), Closed);
        for (const char* protocol : {"serial", "udp", "ssh"})
            server->setProtocolEnabled(protocol, false);
        const QJsonObject demo = object("open_connection", {{"config", config("demo", {{"host", "waveform-demo"}})}});
        QCOMPARE(demo.value("config").toObject().value("kind").toString(), QStringLiteral("demo"));
        QCOMPARE(opened.count(), 3);
    }

    void usageGuide()
    {
        QJsonObject guide = object("read_usage_guide");
        QCOMPARE(guide.value("topic").toString(), QStringLiteral("overview"));
        QCOMPARE(guide.size(), 7);
        const QString skill = guide.value("guide").toString();
        QVERIFY(skill.startsWith("---\nname: varnelle\ndescription: Use Varnelle MCP to inspect shared "
                                 "serial/network/SSH sessions, search GUI logs with native matching options, and "
                                 "validate or apply C-style serial frame parsers.\n---\n"));
        for (const char* heading : {"## 选择连接与读取", "## 选择正确的数据工具", "## 原生搜索与 GUI 同步",
                                    "## 编写 C 风格脚本", "## 权限与能力边界"})
            QVERIFY2(skill.contains(QString::fromUtf8(heading)), heading);
        QCOMPARE(skill, UsageGuide::text("overview"));
        // The path is given only where the skill sits beside the running program
        // (the built program's folder carries it; a test's folder may too).
        const QString beside = QCoreApplication::applicationDirPath() + QStringLiteral("/skills/varnelle/SKILL.md");
        QCOMPARE(guide.value("skill_path"), QFileInfo::exists(beside) ? QJsonValue(beside) : QJsonValue());
        QCOMPARE(guide.value("skill_path_scope").toString(), QStringLiteral("server_host"));
        QCOMPARE(guide.value("skill_auto_installed").toBool(true), false);
        QCOMPARE(guide.value("skill_installation").toString(), QStringLiteral("optional_installer_components"));
        QCOMPARE(guide.value("available_topics").toArray(), (QJsonArray{"overview", "frame_script"}));

        QCOMPARE(object("read_usage_guide", {{"topic", 3}}).value("topic").toString(), QStringLiteral("overview"));
        const QString reference = object("read_usage_guide", {{"topic", "frame_script"}}).value("guide").toString();
        QVERIFY(reference.startsWith("# C 风格串口帧解析脚本"));
        QVERIFY(reference.contains("void main(const uint8_t data[], int length)"));
        for (const char* heading : {"## 分帧和重同步", "## 可用函数", "## 语法与数值", "## 交付与读取结果"})
            QVERIFY2(reference.contains(QString::fromUtf8(heading)), heading);
        for (const char* topic : {"Overview", "", "FRAME_SCRIPT"})
            QCOMPARE(failure("read_usage_guide", {{"topic", topic}}), QStringLiteral("未知指南主题，请使用 overview 或 frame_script"));
    }

    void guideExampleIsAValidScript()
    {
        // The reference's example is the language's own example and must compile and decode.
        const QString reference = UsageGuide::text("frame_script");
        const qsizetype start = reference.indexOf("```c\n// 帧");
        QVERIFY(start > 0);
        const qsizetype end = reference.indexOf("```", start + 4);
        const QString code = reference.mid(start + 5, end - start - 5);
        QCOMPARE(code, FrameScriptProgram::example());
        const QJsonObject result = object("validate_frame_script", {{"code", code}, {"sample_chunks", QJsonArray{ExampleFrame}}});
        QCOMPARE(result.value("valid").toBool(), true);
        QCOMPARE(result.value("frames").toArray().size(), 1);
    }

    void validateFrameScript()
    {
        const QString code = FrameScriptProgram::example();
        QJsonObject result = object("validate_frame_script", {{"code", code}});
        QCOMPARE(result, (QJsonObject{{"valid", true}, {"frames", QJsonArray()}, {"buffered_bytes", 0},
                                      {"scope", "offline_test"}, {"changes_live_script", false}}));

        // Two chunks, each half a frame, then noise: one frame, from the second chunk.
        result = object("validate_frame_script",
                        {{"code", code}, {"sample_chunks", QJsonArray{"AA 55 C4", "09 E4 0C BC 0D", "00 11"}}});
        QCOMPARE(result.value("valid").toBool(), true);
        const QJsonArray frames = result.value("frames").toArray();
        QCOMPARE(frames.size(), 1);
        QCOMPARE(frames[0].toObject().value(QStringLiteral("温度")).toDouble(), 25.0);
        QCOMPARE(frames[0].toObject().value(QStringLiteral("电压")).toDouble(), 3.3);
        QCOMPARE(result.value("buffered_bytes").toInt(), 2);

        result = object("validate_frame_script", {{"code", "void main(const uint8_t d[], int n)\n{\n    x = 1;\n}\n"},
                                                  {"sample_chunks", QJsonArray{"00"}}});
        QCOMPARE(result.value("valid").toBool(true), false);
        QCOMPARE(result.value("line").toInt(), 3);
        QVERIFY(result.value("error").toString().startsWith(QStringLiteral("第 3 行：")));
        QCOMPARE(result.value("scope").toString(), QStringLiteral("offline_test"));

        result = object("validate_frame_script", {{"code", "int main() {}"}});
        QCOMPARE(result.value("valid").toBool(true), false);
        QCOMPARE(result.value("line").toInt(), 1);
    }

    // What the frame-script guide tells agents about the language, checked
    // against the language as built.
    void guideClaims_data()
    {
        QTest::addColumn<QString>("body");
        QTest::addColumn<QJsonArray>("chunks");
        QTest::addColumn<QJsonArray>("values");
        const QJsonArray one{"00"};
        QTest::newRow("integer division") << "int 温度 = 7 / 2; emit(\"v\", 温度);" << one << QJsonArray{3};
        QTest::newRow("floating division") << "emit(\"v\", 7 / 2.0);" << one << QJsonArray{3.5};
        QTest::newRow("uint8_t wraps") << "uint8_t x = 256; emit(\"v\", x);" << one << QJsonArray{0};
        QTest::newRow("char is signed") << "char c = 200; emit(\"v\", c);" << one << QJsonArray{-56};
        QTest::newRow("no octal") << "emit(\"v\", 017);" << one << QJsonArray{17};
        QTest::newRow("f suffix") << "emit(\"v\", 2f / 4);" << one << QJsonArray{0.5};
        QTest::newRow("static survives calls") << "static int n = 0; n++; emit(\"v\", n);" << QJsonArray{"00", "00"}
                                               << QJsonArray{1, 2};
        QTest::newRow("crc16 modbus") << "emit(\"v\", crc16_modbus(data, 0, length));"
                                      << QJsonArray{"31 32 33 34 35 36 37 38 39"} << QJsonArray{0x4B37};
        QTest::newRow("buffer keeps bytes") << "buffer_append(data); emit(\"v\", buffer_size());"
                                            << QJsonArray{"01 02", "03"} << QJsonArray{2, 3};
        QTest::newRow("big endian") << "emit(\"v\", read_u16_be(data, 0));" << QJsonArray{"12 34"} << QJsonArray{0x1234};
    }

    void guideClaims()
    {
        QFETCH(QString, body);
        QFETCH(QJsonArray, chunks);
        QFETCH(QJsonArray, values);
        const QString code = QStringLiteral("void main(const uint8_t data[], int length)\n{\n    ") + body + QStringLiteral("\n}\n");
        const QJsonObject result = object("validate_frame_script", {{"code", code}, {"sample_chunks", chunks}});
        QVERIFY2(result.value("valid").toBool(), qPrintable(result.value("error").toString()));
        const QJsonArray frames = result.value("frames").toArray();
        QCOMPARE(frames.size(), values.size());
        for (int i = 0; i < frames.size(); ++i)
            QCOMPARE(frames[i].toObject().value("v").toDouble(), values[i].toDouble());
        // The pointer form of the head is accepted too.
        QString pointer = code;
        pointer.replace(QStringLiteral("const uint8_t data[], int length"), QStringLiteral("uint8_t *data, size_t length"));
        QVERIFY(object("validate_frame_script", {{"code", pointer}}).value("valid").toBool());
    }

    void validateLimits_data()
    {
        QTest::addColumn<QJsonObject>("arguments");
        QTest::addColumn<QString>("message");
        const QString body = QStringLiteral("void main(const uint8_t d[], int n) {}");
        QString exact = body + QString(65536 - body.size(), QLatin1Char(' '));
        QTest::newRow("code of 64 KiB") << QJsonObject{{"code", exact}} << "(no failure)";
        QTest::newRow("code beyond 64 KiB") << QJsonObject{{"code", exact + ' '}} << "脚本源码最多 64 KiB";
        QTest::newRow("code not a string") << QJsonObject{{"code", 5}} << "code 必须是字符串";
        QTest::newRow("code missing") << QJsonObject{} << "code 必须是字符串";
        QJsonArray chunks;
        for (int i = 0; i < 128; ++i)
            chunks.append("01");
        QTest::newRow("128 chunks") << QJsonObject{{"code", body}, {"sample_chunks", chunks}} << "(no failure)";
        chunks.append("01");
        QTest::newRow("129 chunks") << QJsonObject{{"code", body}, {"sample_chunks", chunks}} << "试解析最多 128 个数据块";
        QString longest;
        for (int i = 0; i < 65536; ++i)
            longest += QStringLiteral("00 ");
        QTest::newRow("chunk of 196608 characters")
            << QJsonObject{{"code", body}, {"sample_chunks", QJsonArray{longest}}} << "(no failure)";
        QTest::newRow("chunk too long")
            << QJsonObject{{"code", body}, {"sample_chunks", QJsonArray{longest + ' '}}} << "试解析输入过长";
        QTest::newRow("more than 64 KiB in all")
            << QJsonObject{{"code", body}, {"sample_chunks", QJsonArray{longest, "01"}}} << "试解析输入合计最多 64 KiB";
        // A script that never ends fails the trial on its first chunk: the
        // limits of the request still come first, however the trial would go.
        const QString endless = QStringLiteral("void main(const uint8_t d[], int n) { for (;;) {} }");
        QTest::newRow("more than 64 KiB after a chunk that never ends")
            << QJsonObject{{"code", endless}, {"sample_chunks", QJsonArray{"01", longest}}} << "试解析输入合计最多 64 KiB";
        QTest::newRow("chunk too long after a chunk that never ends")
            << QJsonObject{{"code", endless}, {"sample_chunks", QJsonArray{"01", longest + ' '}}} << "试解析输入过长";
        QTest::newRow("chunk not a string after a chunk that never ends")
            << QJsonObject{{"code", endless}, {"sample_chunks", QJsonArray{"01", 1}}} << "每个试解析数据块必须是 HEX 字符串";
        QTest::newRow("bad hex after a chunk that never ends")
            << QJsonObject{{"code", endless}, {"sample_chunks", QJsonArray{"01", "0G"}}}
            << "HEX 需要完整的十六进制字节，例如 01 03 00 00";
        QTest::newRow("chunks not an array") << QJsonObject{{"code", body}, {"sample_chunks", "01"}}
                                             << "sample_chunks 必须是 HEX 字符串数组";
        QTest::newRow("chunk not a string") << QJsonObject{{"code", body}, {"sample_chunks", QJsonArray{1}}}
                                            << "每个试解析数据块必须是 HEX 字符串";
        QTest::newRow("bad hex") << QJsonObject{{"code", body}, {"sample_chunks", QJsonArray{"0G"}}}
                                 << "HEX 需要完整的十六进制字节，例如 01 03 00 00";
        const QString emitter = QStringLiteral(
            "void main(const uint8_t d[], int n) { int i = 0; while (i < n) { emit(\"v\", d[i]); emit_frame(); i++; } }");
        QTest::newRow("1024 frames") << QJsonObject{{"code", emitter}, {"sample_chunks", QJsonArray{QString(2048, '0')}}}
                                     << "(no failure)";
        QTest::newRow("1025 frames")
            << QJsonObject{{"code", emitter}, {"sample_chunks", QJsonArray{QString(2048, '0'), "00"}}}
            << "试解析最多返回 1024 帧";
    }

    void validateLimits()
    {
        QFETCH(QJsonObject, arguments);
        QFETCH(QString, message);
        QCOMPARE(failure("validate_frame_script", arguments), message);
    }

    void frameScriptOnOtherKinds()
    {
        engine->allowAiControl = true;
        Channel* udp = engine->open(Config::fromJson(config("udp", {{"bind_port", vn::test::freeUdpPort()}})));
        QCOMPARE(failure("get_frame_script", {{"channel_id", udp->id}}), QStringLiteral("帧脚本仅适用于串口连接"));
        QCOMPARE(failure("set_frame_script", {{"channel_id", udp->id}}), QStringLiteral("帧脚本仅适用于串口连接"));
        QCOMPARE(failure("get_frame_script", {{"channel_id", ""}}), EmptyId);
    }

    void setFrameScriptChecks()
    {
        Channel* loop = loopback();
        const QJsonObject script = object("get_frame_script", {{"channel_id", loop->id}});
        QCOMPARE(script.keys(), (QStringList{"channel_id", "code", "enabled", "error", "frames", "revision", "sample_chunks"}));
        const QString revision = script.value("revision").toString();
        QCOMPARE(revision.size(), 64);
        const QString code = FrameScriptProgram::example() + QStringLiteral("// 第二版\n");
        QJsonObject arguments{{"channel_id", loop->id}, {"code", code},
                              {"enabled", false}, {"expected_revision", revision}};

        QCOMPARE(failure("set_frame_script", arguments), QStringLiteral("AI 控制未开启，不能修改或启用脚本"));
        engine->allowAiControl = true;

        QObject transfer;
        loop->transferOwner = &transfer;
        QCOMPARE(failure("set_frame_script", arguments), QStringLiteral("文件传输期间不能修改帧脚本"));
        loop->transferOwner = nullptr;

        QJsonObject wrong = arguments;
        wrong.insert("enabled", "true");
        QCOMPARE(failure("set_frame_script", wrong), QStringLiteral("必须明确指定 enabled 为 true 或 false"));
        wrong = arguments;
        wrong.remove("expected_revision");
        QCOMPARE(failure("set_frame_script", wrong), RevisionRefused);
        wrong.insert("expected_revision", "");
        QCOMPARE(failure("set_frame_script", wrong), RevisionRefused);
        wrong.insert("expected_revision", QString(64, 'a'));
        QCOMPARE(failure("set_frame_script", wrong), RevisionRefused);
        wrong = arguments;
        wrong.insert("sample_chunks", QJsonArray{"01"});
        QCOMPARE(failure("set_frame_script", wrong), QStringLiteral("GUI 试解析服务尚未连接"));
        QJsonArray tooMany;
        for (int i = 0; i < 65; ++i)
            tooMany.append(5); // not even strings: the count is checked first
        wrong.insert("sample_chunks", tooMany);
        QCOMPARE(failure("set_frame_script", wrong), QStringLiteral("界面试解析最多保存 64 个数据块"));
        wrong.insert("sample_chunks", QJsonArray{7});
        QCOMPARE(failure("set_frame_script", wrong), QStringLiteral("试解析数据块必须是有界 HEX 字符串"));
        wrong = arguments;
        wrong.insert("code", QJsonValue());
        QCOMPARE(failure("set_frame_script", wrong), QStringLiteral("code 必须是字符串"));
        wrong.insert("code", "void main(const uint8_t d[], int n) { int x = ; }");
        QVERIFY(failure("set_frame_script", wrong).startsWith(QStringLiteral("第 1 行：")));
        QCOMPARE(object("get_frame_script", {{"channel_id", loop->id}}).value("revision").toString(), revision);

        // Disabling goes straight to the channel when no window is there.
        const QJsonObject saved = object("set_frame_script", arguments);
        QCOMPARE(saved.value("code").toString(), code);
        QCOMPARE(saved.value("enabled").toBool(true), false);
        QCOMPARE(loop->scriptSource, code);
        QVERIFY(saved.value("revision").toString() != revision);
        QCOMPARE(failure("set_frame_script", arguments), RevisionRefused);
    }

    void setFrameScriptThroughTheWindow()
    {
        engine->allowAiControl = true;
        Channel* loop = loopback();
        QString trial = QStringLiteral("01 02\n03");
        std::optional<QString> lastTrial;
        server->sampleTextProvider = [&](Channel*) { return trial; };
        server->scriptApplier = [&](Channel* channel, const QString& code, bool enabled, const std::optional<QString>& newTrial) {
            lastTrial = newTrial;
            if (newTrial)
                trial = *newTrial;
            // The window applies to the live channel; here the flag is kept like a page would.
            channel->scriptSource = code;
            channel->scriptEnabled = enabled;
        };
        QJsonObject script = object("get_frame_script", {{"channel_id", loop->id}});
        QCOMPARE(script.value("sample_chunks").toArray(), (QJsonArray{"01 02", "03"}));

        QJsonObject arguments{{"channel_id", loop->id}, {"code", FrameScriptProgram::example()}, {"enabled", true},
                              {"expected_revision", script.value("revision")}, {"sample_chunks", QJsonArray{"a1b2", ""}}};
        script = object("set_frame_script", arguments);
        QVERIFY(lastTrial == std::optional<QString>(QStringLiteral("A1 B2")));
        QCOMPARE(script.value("sample_chunks").toArray(), QJsonArray{"A1 B2"});
        QCOMPARE(script.value("enabled").toBool(), true);

        arguments.insert("expected_revision", script.value("revision"));
        arguments.remove("sample_chunks");
        script = object("set_frame_script", arguments);
        QVERIFY(!lastTrial.has_value());
        QCOMPARE(script.value("sample_chunks").toArray(), QJsonArray{"A1 B2"});

        arguments.insert("expected_revision", script.value("revision"));
        arguments.insert("sample_chunks", QJsonArray());
        script = object("set_frame_script", arguments);
        QVERIFY(lastTrial == std::optional<QString>(QString()));
        QCOMPARE(script.value("sample_chunks").toArray(), QJsonArray());

        // Only the trial text changed: the revision follows it.
        const QString before = object("get_frame_script", {{"channel_id", loop->id}}).value("revision").toString();
        trial = QStringLiteral("FF");
        QVERIFY(object("get_frame_script", {{"channel_id", loop->id}}).value("revision").toString() != before);

        server->scriptApplier = [](Channel*, const QString&, bool, const std::optional<QString>&) {
            vn::fail(QStringLiteral("GUI 脚本编辑器有未保存内容，请先保存或关闭编辑器"));
        };
        arguments.insert("expected_revision", object("get_frame_script", {{"channel_id", loop->id}}).value("revision"));
        QCOMPARE(failure("set_frame_script", arguments), QStringLiteral("GUI 脚本编辑器有未保存内容，请先保存或关闭编辑器"));
    }

    void deployedScriptDecodesLiveBytes()
    {
        engine->allowAiControl = true;
        Channel* loop = loopback();
        const QJsonObject script = object("get_frame_script", {{"channel_id", loop->id}});
        const QJsonObject deployed = object("set_frame_script", {{"channel_id", loop->id}, {"code", FrameScriptProgram::example()},
                                                                 {"enabled", true}, {"expected_revision", script.value("revision")}});
        QCOMPARE(deployed.value("enabled").toBool(), true);
        object("send_data", {{"channel_id", loop->id}, {"payload", ExampleFrame}, {"hex_mode", true}});
        QJsonArray records;
        QTRY_VERIFY((records = object("read_script_results", {{"channel_id", loop->id}})
                                   .value("sources").toObject().value("default").toObject().value("records").toArray())
                        .size() == 1);
        QCOMPARE(records[0].toObject().value("value").toObject().value(QStringLiteral("温度")).toDouble(), 25.0);
        QCOMPARE(object("get_frame_script", {{"channel_id", loop->id}}).value("frames").toInteger(), 1);
    }
};

QTEST_GUILESS_MAIN(ToolsTest)
#include "ToolsTest.moc"
