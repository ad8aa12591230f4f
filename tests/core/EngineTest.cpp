#include "core/Channel.h"
#include "core/Engine.h"
#include "tests/support/TestSupport.h"

#include <QJsonArray>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

using namespace vn;
using vn::test::errorOf;

namespace {

Config loopback()
{
    Config c;
    c.port = QStringLiteral("loop://");
    return c;
}

Config tcpClient()
{
    Config c;
    c.kind = QStringLiteral("tcp-client");
    c.network_port = 1;   // nothing listens there; the channel just fails
    return c;
}

QList<QJsonObject> events(const Engine& engine, const QString& channelId)
{
    QList<QJsonObject> out;
    for (const QJsonValue& v : engine.journal.read(0, 1000, channelId).value("events").toArray())
        out.append(v.toObject());
    return out;
}

} // namespace

class EngineTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void loopbackEcho()
    {
        Engine engine;
        QSignalSpy changed(&engine, &Engine::channelsChanged);
        Channel* ch = engine.open(loopback());
        QCOMPARE(ch->state, QStringLiteral("connected"));
        QCOMPARE(ch->id.size(), 10);
        QVERIFY(QRegularExpression(QStringLiteral("^[0-9a-f]{10}$")).match(ch->id).hasMatch());
        QCOMPARE(ch->name, QStringLiteral("loop://"));
        QCOMPARE(ch->appliedBaudrate, 115200);
        QCOMPARE(ch->serialGeneration, 1);
        QVERIFY(changed.count() >= 1);

        const QByteArray payload("\x00\xff" "abc\n", 6);
        QSignalSpy received(ch, &Channel::bytesReceived);
        const QJsonObject result = ch->send(payload, QString(), QStringLiteral("test"));
        QCOMPARE(result.value("bytes_sent").toInteger(), 6);
        QCOMPARE(result.value("channel_id").toString(), ch->id);
        QCOMPARE(received.count(), 0);   // the echo comes from the event loop
        QVERIFY(received.wait(20000));
        QCOMPARE(received.first().first().toByteArray(), payload);
        const auto log = events(engine, ch->id);
        QCOMPARE(log.size(), 3);
        QCOMPARE(log[1].value("direction").toString(), QStringLiteral("tx"));
        QCOMPARE(log[1].value("message").toString(), QStringLiteral("test"));
        QCOMPARE(log[2].value("direction").toString(), QStringLiteral("rx"));
        QCOMPARE(log[2].value("hex").toString(), QStringLiteral("00 ff 61 62 63 0a"));
        QCOMPARE(ch->txBytes, 6);
        QCOMPARE(ch->rxBytes, 6);
        QVERIFY(ch->sources.count(QStringLiteral("default")));
    }

    void reuseByKey()
    {
        Engine engine;
        Channel* first = engine.open(loopback());
        Config again = loopback();
        again.port = QStringLiteral("LOOP://");
        again.baudrate = 9600;
        Channel* second = engine.open(again);
        QCOMPARE(second, first);
        QCOMPARE(first->appliedBaudrate, 9600);
        QCOMPARE(first->config.port, QStringLiteral("LOOP://"));
        QCOMPARE(first->serialGeneration, 1);   // live re-apply, no reopen
        QCOMPARE(engine.channels.size(), std::size_t(1));
        // Any spelling of the loopback is still the loopback.
        QSignalSpy echoed(first, &Channel::bytesReceived);
        QCOMPARE(first->send("x", QString(), QStringLiteral("test")).value("bytes_sent").toInteger(), 1);
        QVERIFY(echoed.wait(20000));

        first->close();
        QCOMPARE(first->state, QStringLiteral("closed"));
        QCOMPARE(engine.open(loopback()), first);
        QCOMPARE(first->state, QStringLiteral("connected"));
        QCOMPARE(first->serialGeneration, 2);

        QVERIFY(engine.open(tcpClient()) != engine.open(tcpClient()));
        QCOMPARE(engine.waveformDemo(), engine.waveformDemo());
    }

    void channelLimit()
    {
        Engine engine;
        Channel* serial = engine.open(loopback());
        Channel* demo = engine.waveformDemo();
        Config client = tcpClient();
        client.network_port = test::freeTcpPort();
        for (int i = 0; i < 62; ++i)
            engine.open(client);
        QCOMPARE(engine.channels.size(), std::size_t(64));
        QSignalSpy changed(&engine, &Engine::channelsChanged);
        QCOMPARE(errorOf([&] { engine.open(client); }),
                 QStringLiteral("最多保留 64 个连接，请关闭不需要的标签"));
        QCOMPARE(engine.channels.size(), std::size_t(64));
        QCOMPARE(changed.count(), 0);
        QCOMPARE(errorOf([&] { engine.open(Config()); }),
                 QStringLiteral("请先选择串口，NULL 表示尚未选择"));
        // The registered serial port and demo are reused, so the limit does not apply.
        QCOMPARE(engine.open(loopback()), serial);
        QCOMPARE(serial->state, QStringLiteral("connected"));
        QCOMPARE(engine.waveformDemo(), demo);
        serial->close();
        QCOMPARE(engine.open(loopback()), serial);
        QCOMPARE(serial->state, QStringLiteral("connected"));
        QCOMPARE(engine.list().size(), 64);
    }

    void getAndRemove()
    {
        Engine engine;
        const QString missing = QStringLiteral("连接不存在，请选择连接或调用 list_connections");
        QCOMPARE(errorOf([&] { engine.get(QStringLiteral("nope")); }), missing);
        QCOMPARE(errorOf([&] { engine.remove(QStringLiteral("nope")); }), missing);
        Channel* ch = engine.open(loopback());
        QPointer<Channel> guard(ch);
        const QString id = ch->id;
        QCOMPARE(engine.get(id), ch);
        engine.remove(id);
        QVERIFY(engine.channels.empty());
        QCOMPARE(errorOf([&] { engine.get(id); }), missing);
        QTRY_VERIFY(guard.isNull());
        const auto log = events(engine, id);
        QCOMPARE(log.last().value("message").toString(), QStringLiteral("closed"));
    }

    void encode_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("hex");
        QTest::addColumn<QString>("encoding");
        QTest::addColumn<QString>("ending");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("error");
        const QString hexMsg = QStringLiteral("HEX 需要完整的十六进制字节，例如 01 03 00 00");
        QTest::newRow("hex four") << "01 03 00 00" << true << "utf-8" << "none" << QByteArray("\x01\x03\x00\x00", 4) << QString();
        QTest::newRow("hex blanks joined") << "1 2" << true << "utf-8" << "none" << QByteArray("\x12") << QString();
        QTest::newRow("hex odd") << "123" << true << "utf-8" << "none" << QByteArray() << hexMsg;
        QTest::newRow("hex 0x") << "0x12" << true << "utf-8" << "none" << QByteArray() << hexMsg;
        QTest::newRow("hex empty + lf") << "" << true << "utf-8" << "lf" << QByteArray("\n") << QString();
        QTest::newRow("text crlf") << "AB" << false << "utf-8" << "crlf" << QByteArray("AB\r\n") << QString();
        QTest::newRow("text cr") << "A" << false << "utf-8" << "cr" << QByteArray("A\r") << QString();
        QTest::newRow("gbk") << "中" << false << "GBK" << "none" << QByteArray("\xd6\xd0") << QString();
        // ISO-2022-JP closes with the switch back to ASCII before the line ending.
        QTest::newRow("iso-2022-jp ends in ascii") << "a日本" << false << "ISO-2022-JP" << "lf"
                                                 << QByteArray("a\x1b$BF|K\\\x1b(B\n") << QString();
        QTest::newRow("iso-2022-jp ascii only") << "ab" << false << "ISO-2022-JP" << "none" << QByteArray("ab") << QString();
        QTest::newRow("unknown codec") << "A" << false << "klingon" << "CRLF" << QByteArray() << QStringLiteral("不支持的文本编码");
        QTest::newRow("bad ending") << "A" << false << "utf-8" << "CRLF" << QByteArray() << QStringLiteral("换行参数无效");
    }

    void encode()
    {
        QFETCH(QString, text);
        QFETCH(bool, hex);
        QFETCH(QString, encoding);
        QFETCH(QString, ending);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, error);
        QByteArray got;
        QCOMPARE(errorOf([&] { got = Engine::encode(text, hex, encoding, ending); }), error);
        QCOMPARE(got, bytes);
    }

    void encodeSizeLimit()
    {
        const QString exact(1048576, QLatin1Char('a'));
        QCOMPARE(Engine::encode(exact, false, QStringLiteral("utf-8"), QStringLiteral("none")).size(), 1048576);
        QCOMPARE(errorOf([&] { Engine::encode(exact, false, QStringLiteral("utf-8"), QStringLiteral("lf")); }),
                 QStringLiteral("单次发送不能超过 1 MiB"));
    }

    void stateLabels()
    {
        QCOMPARE(stateText(QStringLiteral("listening")), QStringLiteral("监听中"));
        QCOMPARE(stateText(QStringLiteral("reconnecting")), QStringLiteral("等待设备恢复"));
        QCOMPARE(stateText(QStringLiteral("other")), QStringLiteral("other"));
    }

    void sendRefusals()
    {
        Engine engine;
        Channel* ch = engine.open(loopback());
        ch->close();
        QCOMPARE(errorOf([&] { ch->send("x", QString(), QStringLiteral("file-transfer")); }),
                 QStringLiteral("连接未就绪，不能发送"));
        ch->open();
        QObject owner;
        ch->transferOwner = &owner;
        QCOMPARE(errorOf([&] { ch->send("x", QString(), QStringLiteral("control-panel")); }),
                 QStringLiteral("串口正在传输文件，请在传输完成后发送"));
        QCOMPARE(errorOf([&] { ch->applySerial(loopback()); }),
                 QStringLiteral("文件传输期间不能修改串口参数"));
        ch->send("x", QString(), QStringLiteral("file-transfer"));
        QCOMPARE(events(engine, ch->id).last().value("message").toString(), QStringLiteral("file-transfer"));
        ch->transferOwner = nullptr;

        Channel* demo = engine.waveformDemo();
        QCOMPARE(errorOf([&] { demo->send("x"); }), QStringLiteral("模拟信号为只读数据源"));
    }

    void describeNew()
    {
        Engine engine;
        Channel ch(&engine, tcpClient());
        const QJsonObject d = ch.describe();
        QCOMPARE(d.size(), 17);
        QCOMPARE(d.value("state").toString(), QStringLiteral("closed"));
        QCOMPARE(d.value("name").toString(), QStringLiteral("tcp-client · 1"));
        QCOMPARE(d.value("peers").toArray().size(), 0);
        QCOMPARE(d.value("parser_mode").toString(), QStringLiteral("off"));
        QCOMPARE(d.value("script_enabled").toBool(), false);
        QCOMPARE(d.value("file_transfer_active").toBool(), false);
        QCOMPARE(d.value("rx_bytes").toInteger(), 0);
        // Closed from birth: unplug notices and reconnect steps do nothing.
        ch.deviceMissing();
        QCOMPARE(ch.state, QStringLiteral("closed"));
        Config server;
        server.kind = QStringLiteral("tcp-server");
        QCOMPARE(Channel(&engine, server).name, QStringLiteral("tcp-server · 9001"));
        Config udp;
        udp.kind = QStringLiteral("udp");
        QCOMPARE(Channel(&engine, udp).name, QStringLiteral("udp · 9001"));
        Config ssh;
        ssh.kind = QStringLiteral("ssh");
        ssh.ssh_host = QStringLiteral("lab");
        QCOMPARE(Channel(&engine, ssh).name, QStringLiteral("lab"));
        ch.resizeTerminal(QSize(80, 24));
        QCOMPARE(ch.terminalSize, QSize(80, 24));
    }

    void portsListing()
    {
        Engine engine;
        const QJsonArray ports = engine.ports();
        for (const QJsonValue& v : ports) {
            const QJsonObject p = v.toObject();
            QCOMPARE(p.size(), 9);
            QVERIFY(p.contains("usb_serial_jtag"));
        }
    }
};

QTEST_GUILESS_MAIN(EngineTest)
#include "EngineTest.moc"
