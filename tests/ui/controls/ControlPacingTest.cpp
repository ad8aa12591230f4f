#include "core/Channel.h"
#include "core/Engine.h"
#include "tests/support/TestSupport.h"
#include "ui/controls/ControlPacket.h"
#include "ui/controls/SerialControlPanel.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <utility>

using namespace vn;

namespace {

// The far end of a pty pair, read only when the test says so: until then
// the line backs up into the channel's port, as a stalled device would.
class StalledReader {
public:
    explicit StalledReader(const QString& path)
    {
        m_fd = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (m_fd >= 0) {
            termios t{};
            ::tcgetattr(m_fd, &t);
            ::cfmakeraw(&t);
            ::tcsetattr(m_fd, TCSANOW, &t);
        }
    }
    ~StalledReader()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    StalledReader(const StalledReader&) = delete;
    StalledReader& operator=(const StalledReader&) = delete;

    bool ok() const { return m_fd >= 0; }
    // Reads whatever the line holds now.
    void drain()
    {
        char buffer[65536];
        for (;;) {
            const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
            if (n <= 0)
                break;
            received.append(buffer, n);
        }
    }
    QByteArray received;

private:
    int m_fd = -1;
};

Config serialOn(const QString& port, int baud)
{
    Config c;
    c.port = port;
    c.baudrate = baud;
    return c;
}

QJsonObject autoSlider()
{
    QJsonObject r = defaultControl(QStringLiteral("slider"));
    r.insert("auto_send", true);
    r.insert("maximum", 1000);
    return r;
}

struct ShownPanel {
    explicit ShownPanel(const QJsonArray& controls)
    {
        panel.restore({{"groups", QJsonArray{QJsonObject{{"id", "g"}, {"name", "G"}, {"controls", controls}}}}});
        panel.resize(800, 600);
        panel.show();
    }
    SerialControlPanel::Row* row(int i = 0) { return panel.controlRows()[std::size_t(i)].get(); }
    SerialControlPanel panel;
};

// The control-panel packets of a channel, in journal order.
QList<QByteArray> panelPackets(const Engine& engine, const QString& channelId)
{
    QList<QByteArray> out;
    const QJsonArray events = engine.journal.read(0, 1000, channelId).value("events").toArray();
    for (const QJsonValue& v : events) {
        const QJsonObject e = v.toObject();
        if (e.value("direction").toString() == QLatin1String("tx")
            && e.value("message").toString() == QLatin1String("control-panel"))
            out.append(QByteArray::fromHex(e.value("hex").toString().toLatin1()));
    }
    return out;
}

} // namespace

class ControlPacingTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void queueLimitByBaudRate_data()
    {
        QTest::addColumn<int>("baud");
        QTest::addColumn<int>("limit");
        QTest::newRow("300") << 300 << 32;
        QTest::newRow("9600") << 9600 << 32;
        QTest::newRow("9899") << 9899 << 32;
        QTest::newRow("9900") << 9900 << 33;
        QTest::newRow("19200") << 19200 << 64;
        QTest::newRow("115200") << 115200 << 384;
        QTest::newRow("153899") << 153899 << 512;
        QTest::newRow("153900") << 153900 << 512;
        QTest::newRow("1000000") << 1000000 << 512;
    }
    void queueLimitByBaudRate()
    {
        QFETCH(int, baud);
        QFETCH(int, limit);
        QCOMPARE(ControlSender::queueLimit(baud), limit);
    }

    // A stalled reader backs the port's queue up: the armed send waits,
    // retried every 10 ms, and leaves with the latest value only once the
    // queue is down to the limit. The reader gets exactly the bytes, in order.
    void heldWhileTheQueueIsOverTheLimit_data()
    {
        QTest::addColumn<int>("baud");
        QTest::newRow("9600") << 9600;
        QTest::newRow("115200") << 115200;
        QTest::newRow("1000000") << 1000000;
    }
    void heldWhileTheQueueIsOverTheLimit()
    {
        QFETCH(int, baud);
        test::SocatPair pair;
        QVERIFY(pair.start());
        StalledReader reader(pair.portB());
        QVERIFY(reader.ok());
        Engine engine;
        Channel* ch = engine.open(serialOn(pair.portA(), baud));
        QCOMPARE(ch->state, QStringLiteral("connected"));
        QVERIFY(ch->serialPort);

        ShownPanel shown({autoSlider()});
        shown.panel.setChannel(ch);
        QVERIFY(shown.row()->sendButton->isEnabled());

        // Every panel packet notes how much was still queued ahead of it.
        const int limit = ControlSender::queueLimit(baud);
        QList<qint64> queuedAhead;
        QObject::connect(&shown.panel.controlSender(), &ControlSender::packetSent, &shown.panel,
                         [&](const QByteArray& packet) {
                             queuedAhead.append(ch->serialPort->bytesToWrite() - packet.size());
                         });

        // Eight times what the two ptys and socat hold here; the line is full
        // once the queue stops shrinking between two polls.
        const QByteArray filler(256 * 1024, 'f');
        ch->send(filler, QString(), QStringLiteral("test"));
        qint64 previous = -1;
        QTRY_VERIFY(std::exchange(previous, ch->serialPort->bytesToWrite()) == ch->serialPort->bytesToWrite());
        QVERIFY2(ch->serialPort->bytesToWrite() > limit, qPrintable(QString::number(ch->serialPort->bytesToWrite())));

        ControlSender& sender = shown.panel.controlSender();
        shown.panel.valueChanged(shown.row(), "1");
        QTRY_VERIFY(sender.flushTimer.isActive() && sender.flushTimer.interval() == ControlSender::kRetryMs);
        shown.panel.valueChanged(shown.row(), "2");
        shown.panel.valueChanged(shown.row(), "3");
        QVERIFY(shown.row()->pending);
        QVERIFY(panelPackets(engine, ch->id).isEmpty());

        // The device reads again; the queue drains and the held send leaves once.
        const QByteArray expected = filler + QByteArray("SET value 3\r\n");
        QTRY_VERIFY_WITH_TIMEOUT((reader.drain(), reader.received.size() >= expected.size()), 20000);
        QCOMPARE(reader.received, expected);
        QCOMPARE(panelPackets(engine, ch->id), QList<QByteArray>{"SET value 3\r\n"});
        QCOMPARE(queuedAhead.size(), 1);
        QVERIFY2(queuedAhead.first() <= limit, qPrintable(QString::number(queuedAhead.first())));
        QVERIFY(!shown.row()->pending);
    }

    // A drag sends its first value at once, then at most one packet per 50 ms
    // carrying the value current at that moment; the last value always arrives.
    void pacedToOnePacketPerGap()
    {
        test::SocatPair pair;
        QVERIFY(pair.start());
        StalledReader reader(pair.portB());
        QVERIFY(reader.ok());
        Engine engine;
        Channel* ch = engine.open(serialOn(pair.portA(), 115200));
        ShownPanel shown({autoSlider()});
        shown.panel.setChannel(ch);

        QElapsedTimer clock;
        clock.start();
        QList<qint64> sentAt;
        QList<QByteArray> sent;
        QObject::connect(&shown.panel.controlSender(), &ControlSender::packetSent, &shown.panel,
                         [&](const QByteArray& packet) {
                             sentAt.append(clock.nsecsElapsed());
                             sent.append(packet);
                         });

        shown.panel.valueChanged(shown.row(), "0");
        QTRY_COMPARE(sent.size(), 1);   // the first value goes out on the 0 ms flush

        int step = 0;
        QTimer drag;
        drag.setTimerType(Qt::PreciseTimer);
        QObject::connect(&drag, &QTimer::timeout, &drag, [&] {
            shown.panel.valueChanged(shown.row(), QString::number(++step));
            reader.drain();
            if (step == 60)
                drag.stop();
        });
        drag.start(5);
        QTRY_VERIFY_WITH_TIMEOUT(!drag.isActive() && !shown.row()->pending, 10000);

        // How many packets fit the drag depends on the machine's pace; that
        // each one carries a newer value than the one before does not.
        QVERIFY(sent.size() >= 3);
        for (int i = 1; i < sent.size(); ++i)
            QVERIFY2(sent.at(i - 1).mid(10).trimmed().toInt() < sent.at(i).mid(10).trimmed().toInt(),
                     qPrintable(QString::fromLatin1(sent.at(i - 1) + " before " + sent.at(i))));
        for (int i = 1; i < sentAt.size(); ++i)
            QVERIFY2(sentAt.at(i) - sentAt.at(i - 1) >= 50'000'000LL,
                     qPrintable(QStringLiteral("gap %1 ns").arg(sentAt.at(i) - sentAt.at(i - 1))));
        QCOMPARE(sent.last(), QByteArray("SET value 60\r\n"));

        QByteArray all;
        for (const QByteArray& p : std::as_const(sent))
            all += p;
        QTRY_VERIFY((reader.drain(), reader.received.size() >= all.size()));
        QCOMPARE(reader.received, all);
        QCOMPARE(panelPackets(engine, ch->id), sent);
    }

    void reconnectDropsTheArmedSend()
    {
        Engine engine;
        Channel* ch = engine.open(serialOn(QStringLiteral("loop://"), 115200));
        QVERIFY(!ch->serialPort);   // the loopback has no queue: only the gap applies
        ShownPanel shown({autoSlider()});
        shown.panel.setChannel(ch);
        QSignalSpy sent(&shown.panel.controlSender(), &ControlSender::packetSent);
        shown.panel.valueChanged(shown.row(), "1");
        QTRY_COMPARE(sent.count(), 1);
        shown.panel.valueChanged(shown.row(), "2");   // inside the gap: armed
        QVERIFY(shown.row()->pending);
        ch->close();
        ch->open();
        QCOMPARE(ch->state, QStringLiteral("connected"));
        QTRY_VERIFY(!shown.row()->pending);
        QCOMPARE(sent.count(), 1);

        // The next change arms afresh with the new generation.
        shown.panel.setChannel(ch);
        shown.panel.valueChanged(shown.row(), "3");
        QTRY_COMPARE(sent.count(), 2);
        QCOMPARE(sent.last().at(0).toByteArray(), QByteArray("SET value 3\r\n"));
    }

    void hidingOrTurningAutoSendOffDropsTheArmedSend()
    {
        Engine engine;
        Channel* ch = engine.open(serialOn(QStringLiteral("loop://"), 115200));
        ShownPanel shown({autoSlider()});
        shown.panel.setChannel(ch);
        QSignalSpy sent(&shown.panel.controlSender(), &ControlSender::packetSent);
        shown.panel.valueChanged(shown.row(), "1");
        QTRY_COMPARE(sent.count(), 1);
        shown.panel.valueChanged(shown.row(), "2");
        QVERIFY(shown.row()->pending);
        shown.panel.hide();
        QVERIFY(!shown.row()->pending);
        shown.panel.show();
        shown.panel.valueChanged(shown.row(), "3");   // lastSent was reset: goes at once
        QTRY_COMPARE(sent.count(), 2);
        shown.panel.valueChanged(shown.row(), "4");
        QVERIFY(shown.row()->pending);
        shown.row()->autoSend->setChecked(false);
        QVERIFY(!shown.row()->pending);
        QCOMPARE(shown.row()->control.value("auto_send").toBool(), false);
        QTest::qWait(0);
        QTRY_VERIFY(!shown.panel.controlSender().flushTimer.isActive());
        QCOMPARE(sent.count(), 2);
    }

    void previewsAndSendButtons()
    {
        Engine engine;
        Channel* ch = engine.open(serialOn(QStringLiteral("loop://"), 115200));
        ch->name = QStringLiteral("COM3");
        QJsonObject hex = defaultControl("number");
        hex.insert("format", "hex");
        hex.insert("pattern", "AA {value:u8}");
        QJsonObject bad = defaultControl("number");
        bad.insert("pattern", "{nope}");
        ShownPanel shown({defaultControl("slider"), hex, bad});
        auto* row = shown.row(0);
        QCOMPARE(row->preview->text(),
                 QStringLiteral("文本：SET value 0\\r\\n\n字节（13）：53 45 54 20 76 61 6C 75 65 20 30 0D 0A"));
        QVERIFY(row->preview->property("valid").toBool());
        QVERIFY(!row->preview->isVisible());
        QCOMPARE(shown.row(1)->preview->text(), QStringLiteral("字节（2）：AA 00"));
        QCOMPARE(shown.row(2)->preview->text(), QStringLiteral("格式错误：未知占位符：{nope}"));
        QVERIFY(!shown.row(2)->preview->property("valid").toBool());
        QVERIFY(shown.row(2)->preview->isVisible());
        for (int i = 0; i < 3; ++i)
            QVERIFY(!shown.row(i)->sendButton->isEnabled());

        // Without a channel a send only reports.
        shown.panel.send(row);
        QCOMPARE(shown.panel.statusLabel()->text(), QStringLiteral("发送失败：请先建立并选择串口连接"));

        shown.panel.setChannel(ch);
        QCOMPARE(shown.panel.statusLabel()->text(), QStringLiteral("控制目标：COM3"));
        QVERIFY(row->sendButton->isEnabled());
        QVERIFY(shown.row(1)->sendButton->isEnabled());
        QVERIFY(!shown.row(2)->sendButton->isEnabled());
        QTest::mouseClick(row->sendButton, Qt::LeftButton);
        QCOMPARE(shown.panel.statusLabel()->text(), QStringLiteral("已向 COM3 发送 13 字节 · 新控件"));
        QTRY_COMPARE(ch->rxBytes, qint64(13));   // the loopback answers

        shown.panel.send(shown.row(2));
        QCOMPARE(shown.panel.statusLabel()->text(), QStringLiteral("发送失败：未知占位符：{nope}"));

        // A file transfer owns the line: nothing can be sent from the panel.
        {
            QObject transfer;
            ch->transferOwner = &transfer;
            shown.panel.setChannel(ch);
            QVERIFY(!row->sendButton->isEnabled());
            shown.panel.send(row);
            QCOMPARE(shown.panel.statusLabel()->text(),
                     QStringLiteral("发送失败：串口正在传输文件，请在传输完成后发送"));
        }
        shown.panel.setChannel(ch);
        QVERIFY(row->sendButton->isEnabled());

        // A value change with the send button disabled arms nothing but edits the record.
        Channel tcp(&engine, Config::fromJson({{"kind", "tcp-client"}}));
        QSignalSpy changed(&shown.panel, &SerialControlPanel::changed);
        shown.panel.setChannel(&tcp);
        QCOMPARE(shown.panel.statusLabel()->text(), QStringLiteral("选择已建立的串口连接"));
        QVERIFY(!row->sendButton->isEnabled());
        shown.panel.valueChanged(row, "5");
        QVERIFY(!row->pending);
        QCOMPARE(row->control.value("value").toString(), QStringLiteral("5"));
        QVERIFY(changed.wait(20000));
    }
};

QTEST_MAIN(ControlPacingTest)
#include "ControlPacingTest.moc"
