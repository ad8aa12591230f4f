#include "core/Channel.h"
#include "core/Engine.h"
#include "tests/support/TestSupport.h"

#include <QJsonArray>
#include <QSerialPort>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <ctime>

using namespace vn;
using vn::test::errorOf;

namespace {

Config serialOn(const QString& port, int baud = 115200)
{
    Config c;
    c.port = port;
    c.baudrate = baud;
    return c;
}

QList<QJsonObject> statusEvents(const Engine& engine, const QString& channelId)
{
    QList<QJsonObject> out;
    const auto events = engine.journal.read(0, 1000, channelId).value("events").toArray();
    for (const QJsonValue& v : events)
        if (v.toObject().value("direction").toString() == QLatin1String("status"))
            out.append(v.toObject());
    return out;
}

// The far end of the pty pair, opened plainly by the test.
std::unique_ptr<QSerialPort> openPeer(const QString& path)
{
    auto port = std::make_unique<QSerialPort>();
    port->setPortName(path);
    if (!port->open(QIODevice::ReadWrite))
        return nullptr;
    return port;
}

QByteArray readAtLeast(QSerialPort& port, int count)
{
    QByteArray got;
    QDeadlineTimer deadline(5000);
    // Both ends live on this thread: keep the event loop running so the
    // channel's own port can flush while we wait.
    while (got.size() < count && !deadline.hasExpired()) {
        QTest::qWait(5);
        got += port.readAll();
    }
    return got;
}

double cpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

} // namespace

class SerialChannelTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void settingsReadBack_data()
    {
        QTest::addColumn<int>("baud");
        QTest::newRow("9600") << 9600;
        QTest::newRow("460800") << 460800;
        QTest::newRow("non-standard 250000") << 250000;
        QTest::newRow("non-standard 123457") << 123457;
    }

    void settingsReadBack()
    {
        QFETCH(int, baud);
        test::SocatPair pair;
        QVERIFY(pair.start());
        Engine engine;
        Channel* ch = engine.open(serialOn(pair.portA(), baud));
        QCOMPARE(ch->state, QStringLiteral("connected"));
        QCOMPARE(ch->error, QString());
        QCOMPARE(ch->appliedBaudrate, baud);
        QCOMPARE(ch->serialGeneration, 1);
        // The path is opened and shown exactly as written.
        QCOMPARE(ch->name, pair.portA());

        // Reuse of the connected port applies new settings on the open port.
        Config next = serialOn(pair.portA(), 57600);
        next.parity = QStringLiteral("E");
        next.bytesize = 7;
        next.stopbits = 2.0;
        next.dtr = true;
        next.rts = true;
        QCOMPARE(engine.open(next), ch);
        QCOMPARE(ch->appliedBaudrate, 57600);
        QCOMPARE(ch->config.parity, QStringLiteral("E"));
        QCOMPARE(ch->serialGeneration, 1);
        QCOMPARE(ch->state, QStringLiteral("connected"));
    }

    void trafficBothWays()
    {
        test::SocatPair pair;
        QVERIFY(pair.start());
        Engine engine;
        Channel* ch = engine.open(serialOn(pair.portA()));
        QCOMPARE(ch->state, QStringLiteral("connected"));
        auto peer = openPeer(pair.portB());
        QVERIFY(peer);

        QByteArray payload("\x00\xff\x00\r\n@wave a=1\n\xff", 16);
        QCOMPARE(payload.size(), 16);
        peer->write(payload);
        QVERIFY(peer->waitForBytesWritten(2000));
        QTRY_COMPARE(ch->rxBytes, qint64(payload.size()));
        const auto events = engine.journal.read(0, 100, ch->id).value("events").toArray();
        QByteArray journaled;
        for (const QJsonValue& v : events)
            if (v.toObject().value("direction").toString() == QLatin1String("rx"))
                journaled += QByteArray::fromHex(v.toObject().value("hex").toString().toLatin1());
        QCOMPARE(journaled, payload);
        QCOMPARE(ch->sources.at("default")->samples.size(), std::size_t(1));

        QSignalSpy drained(ch, &Channel::outputDrained);
        const QByteArray out("\xff\x00\x01\x00\xfe", 5);
        QCOMPARE(ch->send(out, QString(), QStringLiteral("test")).value("bytes_sent").toInteger(), 5);
        QCOMPARE(readAtLeast(*peer, 5), out);
        QTRY_VERIFY(drained.count() >= 1);
        QCOMPARE(ch->txBytes, 5);
    }

    void unplugAndReplug()
    {
        test::SocatPair pair;
        QVERIFY(pair.start());
        Engine engine;
        Channel* ch = engine.open(serialOn(pair.portA()));
        QCOMPARE(ch->state, QStringLiteral("connected"));
        ch->receive("@wave half=", QString());   // a half line before the loss

        // The ports are not in the system's list, but their nodes exist.
        engine.checkSerialDevices(engine.ports());
        QCOMPARE(ch->state, QStringLiteral("connected"));

        pair.stop();
        engine.checkSerialDevices(engine.ports());
        QTRY_COMPARE(ch->state, QStringLiteral("reconnecting"));
        const QString prefix = QStringLiteral("串口 %1 已断开，等待设备恢复").arg(pair.portA());
        QVERIFY2(ch->error.startsWith(prefix), qPrintable(ch->error));
        QCOMPARE(ch->serialPort, nullptr);
        QCOMPARE(ch->appliedBaudrate, 0);
        QTRY_VERIFY(ch->reconnectAttempts >= 3);
        // Failing attempts and repeated driver errors journal nothing more.
        // A vanished device must not leave the event loop spinning on errors.
        const int statuses = int(statusEvents(engine, ch->id).size());
        const double cpuBefore = cpuSeconds();
        QTest::qWait(600);
        QVERIFY2(cpuSeconds() - cpuBefore < 0.3, "the event loop kept busy while the device was gone");
        QCOMPARE(int(statusEvents(engine, ch->id).size()), statuses);
        QCOMPARE(ch->state, QStringLiteral("reconnecting"));
        QVERIFY(engine.journal.lastSeq < 20);

        QVERIFY(pair.start());
        QTRY_COMPARE_WITH_TIMEOUT(ch->state, QStringLiteral("connected"), 20000);
        QCOMPARE(ch->serialGeneration, 2);
        const QJsonObject last = statusEvents(engine, ch->id).last();
        QCOMPARE(last.value("message").toString(), QStringLiteral("connected"));
        QCOMPARE(last.value("stream_reset").toBool(), true);
        QVERIFY(ch->sources.at("default")->waveLine.isEmpty());

        auto peer = openPeer(pair.portB());
        QVERIFY(peer);
        peer->write("1\n@wave after=2\n");
        QTRY_COMPARE(ch->sources.at("default")->samples.size(), std::size_t(1));
        QCOMPARE(ch->sources.at("default")->rejectedLines, 0);
    }

    // The port-list check: a port the list still names (in any letter case,
    // or by its system location) stays; one gone from list and disk is missing.
    void portListCheck()
    {
        test::SocatPair pair;
        QVERIFY(pair.start());
        QTemporaryDir dir;
        const QString link = dir.filePath(QStringLiteral("MyPort"));
        QVERIFY(QFile::link(pair.portA(), link));
        Engine engine;
        Channel* ch = engine.open(serialOn(link));
        QCOMPARE(ch->state, QStringLiteral("connected"));
        QVERIFY(QFile::remove(link));   // the device lives on, its path is gone

        auto listed = [](const QString& name, const QString& location) {
            return QJsonArray{QJsonObject{{"port", name}, {"system_location", location}}};
        };
        engine.checkSerialDevices(listed(link.toLower(), QString()));
        QCOMPARE(ch->state, QStringLiteral("connected"));
        engine.checkSerialDevices(listed(QStringLiteral("ttyS0"), link));
        QCOMPARE(ch->state, QStringLiteral("connected"));
        engine.checkSerialDevices(listed(QStringLiteral("ttyS0"), link.toLower()));
        QCOMPARE(ch->state, QStringLiteral("reconnecting"));
        QCOMPARE(ch->error, QStringLiteral("串口 %1 已断开，等待设备恢复").arg(link));

        QVERIFY(QFile::link(pair.portA(), link));
        QTRY_COMPARE(ch->state, QStringLiteral("connected"));
        QCOMPARE(ch->serialGeneration, 2);
        QCOMPARE(statusEvents(engine, ch->id).last().value("stream_reset").toBool(), true);
    }

    // New settings for a port whose device has just gone, before its own
    // error notice arrived: the apply fails, and the loss is handled as one.
    void reapplyOnVanishedDevice()
    {
        test::SocatPair pair;
        QVERIFY(pair.start());
        Engine engine;
        Channel* ch = engine.open(serialOn(pair.portA()));
        QCOMPARE(ch->state, QStringLiteral("connected"));
        pair.stop();
        const QString refused = errorOf([&] { engine.open(serialOn(pair.portA(), 9600)); });
        QVERIFY2(refused.startsWith(QStringLiteral("驱动拒绝串口参数：")), qPrintable(refused));
        QCOMPARE(ch->serialPort, nullptr);
        QCOMPARE(ch->state, QStringLiteral("reconnecting"));
        QCOMPARE(int(statusEvents(engine, ch->id).size()), 2);   // connected, reconnecting
        QVERIFY(pair.start());
        QTRY_COMPARE_WITH_TIMEOUT(ch->state, QStringLiteral("connected"), 20000);
    }

    void closeStopsReconnecting()
    {
        test::SocatPair pair;
        QVERIFY(pair.start());
        Engine engine;
        Channel* ch = engine.open(serialOn(pair.portA()));
        pair.stop();   // no port-list check here: the driver's own error reports the loss
        QTRY_COMPARE(ch->state, QStringLiteral("reconnecting"));
        QVERIFY2(ch->error.startsWith(QStringLiteral("串口 %1 已断开，等待设备恢复（").arg(pair.portA()))
                     && ch->error.endsWith(QStringLiteral("）")),
                 qPrintable(ch->error));
        const double cpuBefore = cpuSeconds();
        QTest::qWait(400);
        QVERIFY(cpuSeconds() - cpuBefore < 0.25);
        QCOMPARE(int(statusEvents(engine, ch->id).size()), 2);   // connected, reconnecting
        ch->close();
        const int attempts = ch->reconnectAttempts;
        // No retry is left armed, so the device's return opens nothing.
        QVERIFY(!ch->reconnectTimer.isActive());
        QVERIFY(pair.start());
        QCoreApplication::processEvents();
        QVERIFY(!ch->reconnectTimer.isActive());
        QCOMPARE(ch->state, QStringLiteral("closed"));
        QCOMPARE(ch->reconnectAttempts, attempts);
        ch->open();
        QCOMPARE(ch->state, QStringLiteral("connected"));
    }

    void refusals()
    {
        Engine engine;
        Channel* missing = engine.open(serialOn(QStringLiteral("/dev/ttyDoesNotExist42")));
        QCOMPARE(missing->state, QStringLiteral("error"));
        QVERIFY(!missing->error.isEmpty());
        QCOMPARE(missing->serialPort, nullptr);

        test::SocatPair pair;
        QVERIFY(pair.start());
        Config bad = serialOn(pair.portA());
        bad.bytesize = 9;
        try {
            engine.open(bad);
            QFAIL("bad line settings were accepted");
        } catch (const std::exception& e) {
            QCOMPARE(errorText(e), QStringLiteral("串口参数无效，请检查波特率、数据位、校验、停止位和流控"));
        }
        Channel* ch = engine.open(serialOn(pair.portA()));
        try {
            ch->close();
            ch->applySerial(serialOn(pair.portA()));
            QFAIL("applySerial without an open port");
        } catch (const std::exception& e) {
            QCOMPARE(errorText(e), QStringLiteral("串口未打开"));
        }
    }
};

QTEST_GUILESS_MAIN(SerialChannelTest)
#include "SerialChannelTest.moc"
