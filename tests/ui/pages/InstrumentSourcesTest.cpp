#include "PageFixture.h"

#include "tests/support/TestSupport.h"
#include "ui/controls/SerialControlPanel.h"
#include "ui/controls/SerialMonitorDialog.h"
#include "ui/kit/Combo.h"
#include "ui/pages/Instrument.h"
#include "ui/views/LogView.h"

#include <QDeadlineTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSerialPort>
#include <QSignalSpy>
#include <QStandardPaths>

#include <memory>

using namespace vn;
using namespace vn::test;

namespace {

std::unique_ptr<QSerialPort> openPeer(const QString& path)
{
    auto port = std::make_unique<QSerialPort>();
    port->setPortName(path);
    if (!port->open(QIODevice::ReadWrite))
        return nullptr;
    return port;
}

// What the device end reads until it holds `wanted`, or 20 s have passed.
QByteArray readUntil(QSerialPort& port, const QByteArray& wanted)
{
    QByteArray got;
    QDeadlineTimer deadline(20000);
    while (!got.contains(wanted) && !deadline.hasExpired()) {
        QTest::qWait(10);
        got += port.readAll();
    }
    return got;
}

} // namespace

class InstrumentSourcesTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void reconnectingSourceStays_data()
    {
        QTest::addColumn<bool>("shown");
        QTest::newRow("monitor window shown") << true;
        QTest::newRow("monitor window hidden") << false;
    }

    // The device of a control page's serial source is unplugged and comes
    // back: the reconnecting channel stays the page's source and the monitor
    // window's, which keeps its log and the command typed into it; a send
    // meanwhile is refused and the command stays for when the device is back.
    void reconnectingSourceStays()
    {
        QFETCH(bool, shown);
        if (QStandardPaths::findExecutable(QStringLiteral("socat")).isEmpty())
            QSKIP("socat is not installed");
        SocatPair pair;
        QVERIFY(pair.start());
        PageFixture fixture;
        Config config;
        config.port = pair.portA();
        Channel* channel = nullptr;
        fixture.open(config, &channel);
        QCOMPARE(channel->state, QStringLiteral("connected"));

        Pane* control = fixture.window->newInstrument(QStringLiteral("control"), channel, true, QString());
        QVERIFY(control && control->instrument() && control->instrument()->panel);
        Instrument* instrument = control->instrument();
        QCOMPARE(control->channel.data(), channel);
        instrument->panel->showMonitor(true);
        SerialMonitorDialog* monitor = instrument->panel->receiveMonitor();
        QVERIFY(monitor);
        QCOMPARE(monitor->channelId, channel->id);
        auto* payload = monitor->findChild<QLineEdit*>(QStringLiteral("serialMonitorPayload"));
        auto* message = monitor->findChild<QLabel*>(QStringLiteral("serialMonitorMessage"));
        auto* send = monitor->findChild<QPushButton*>(QStringLiteral("serialMonitorSend"));
        QVERIFY(payload && message && send);

        std::unique_ptr<QSerialPort> peer = openPeer(pair.portB());
        QVERIFY(peer);
        peer->write("DEVICE READY\r\n");
        QTRY_VERIFY_WITH_TIMEOUT(monitor->log->toPlainText().contains(QStringLiteral("DEVICE READY")), 20000);
        QTest::keyClicks(payload, QStringLiteral("AT+PING"));
        const QString title = monitor->windowTitle();
        QVERIFY(title != QStringLiteral("串口收发 · 未选择串口"));
        if (!shown)
            instrument->panel->showMonitor(false);

        peer.reset();
        pair.stop();
        QTRY_COMPARE_WITH_TIMEOUT(channel->state, QStringLiteral("reconnecting"), 20000);
        // The window's port poll and its page sync run while the device is gone.
        QSignalSpy poll(fixture.window->findChild<QTimer*>(QStringLiteral("portTimer")), &QTimer::timeout);
        QVERIFY(poll.wait(20000));
        fixture.window->syncConnections();
        control->tick(true);
        QCOMPARE(control->channel.data(), channel);
        QCOMPARE(instrument->sourceCombo->currentData().toString(), channel->config.key());
        QCOMPARE(monitor->channelId, channel->id);

        if (!shown)
            instrument->panel->showMonitor(true);
        monitor->refresh();
        QCOMPARE(monitor->windowTitle(), title);
        QVERIFY(monitor->log->toPlainText().contains(QStringLiteral("DEVICE READY")));
        QCOMPARE(payload->text(), QStringLiteral("AT+PING"));
        QVERIFY(!send->isEnabled());
        const qint64 sent = channel->txBytes;
        QTest::keyClick(payload, Qt::Key_Return);
        QVERIFY(message->isVisible());
        QCOMPARE(message->text(), QStringLiteral("请先在控件页选择已建立的串口连接"));
        QCOMPARE(payload->text(), QStringLiteral("AT+PING"));
        QCOMPARE(channel->txBytes, sent);

        // The device is back: the same window sends the command it kept.
        QVERIFY(pair.start());
        QTRY_COMPARE_WITH_TIMEOUT(channel->state, QStringLiteral("connected"), 20000);
        peer = openPeer(pair.portB());
        QVERIFY(peer);
        QTRY_VERIFY_WITH_TIMEOUT(send->isEnabled(), 20000);
        QCOMPARE(monitor->channelId, channel->id);
        QCOMPARE(control->channel.data(), channel);
        QTest::keyClick(payload, Qt::Key_Return);
        QVERIFY(!message->isVisible());
        QCOMPARE(readUntil(*peer, "\r\n"), QByteArray("AT+PING\r\n"));
        QVERIFY(monitor->log->toPlainText().contains(QStringLiteral("DEVICE READY")));
    }
};

QTEST_MAIN(InstrumentSourcesTest)
#include "InstrumentSourcesTest.moc"
