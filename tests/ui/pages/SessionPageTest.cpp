#include "PageFixture.h"

#include "tests/support/TestSupport.h"
#include "ui/kit/IconButton.h"
#include "ui/pages/FileTransferDialog.h"
#include "ui/pages/ReceiveArea.h"
#include "ui/pages/SendBar.h"
#include "ui/pages/SessionToolbar.h"
#include "ui/views/LogView.h"
#include "ui/views/TerminalView.h"

#include <QNetworkDatagram>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include "ui/kit/Combo.h"
#include "ui/views/FilterBox.h"
#include <QTcpServer>
#include <QTcpSocket>
#include <QUdpSocket>

using namespace vn;
using namespace vn::test;

namespace {

QString logText(Pane* page)
{
    return page->logView()->plainText();
}

// Appends received data for a channel straight into the journal.
void received(Engine& engine, Channel* channel, const QByteArray& data, bool streamReset = false)
{
    engine.journal.append(channel->id, QStringLiteral("rx"), data, QStringLiteral("default"), QString(), streamReset,
                          channel->config.kind);
}

} // namespace

class SessionPageTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void layoutAndNames()
    {
        PageFixture fixture;
        Pane* page = fixture.window->newConnection();
        QCOMPARE(page->objectName(), QStringLiteral("workspace"));
        QCOMPARE(page->id.size(), 32);
        for (const char* name : {"page", "monitorToolbar", "receiveSplitter", "receiveBackgroundSurface", "sender",
                                 "terminalMode", "timestamps", "hexDisplay", "wrapLines", "terminalClipboard",
                                 "pauseDisplay", "clearDisplay", "followLatest", "exportLog", "serialFileTransfer",
                                 "sendHex", "repeatSend", "repeatInterval", "primary", "scriptResultsPanel"})
            QVERIFY2(page->findChild<QWidget*>(QLatin1String(name)), name);
        QVERIFY(!page->toolbar()->exportLog->isEnabled());
        QVERIFY(!page->sendBar()->repeat->isEnabled());
        QCOMPARE(page->senderSizes, (QList<int>{600, 176}));
        QCOMPARE(page->settings().value(QStringLiteral("sender_sizes")).toArray().size(), 2);
    }

    void liveLogAndTerminal()
    {
        PageFixture fixture;
        Channel* channel = nullptr;
        Pane* page = fixture.open(loopback(), &channel);
        QCOMPARE(channel->state, QStringLiteral("connected"));
        QTRY_VERIFY(page->toolbar()->exportLog->isEnabled());
        QVERIFY(page->sendBar()->sendButton->isEnabled());
        QVERIFY(page->toolbar()->fileTransfer->isVisible());
        QVERIFY(!page->toolbar()->fileTransfer->isEnabled()); // the loopback has no device

        page->sendBar()->textBox->setPlainText(QStringLiteral("hello page"));
        QTest::mouseClick(page->sendBar()->sendButton, Qt::LeftButton);
        QTRY_VERIFY(logText(page).contains(QStringLiteral("hello page")));

        QTest::mouseClick(page->toolbar()->terminalMode, Qt::LeftButton);
        QVERIFY(page->terminal);
        QVERIFY(page->sendBar()->isHidden());
        QVERIFY(page->toolbar()->filter->isHidden());
        QVERIFY(!page->toolbar()->clipboard->isHidden());
        QCOMPARE(page->toolbar()->terminalMode->toolTip(), QStringLiteral("返回收发日志"));
        page->clearView();
        received(fixture.engine, channel, "in terminal\r\n");
        QTRY_VERIFY(page->terminalView()->text().contains(QStringLiteral("in terminal")));
        QTRY_VERIFY(page->terminalView()->interactive);
        // The tick keeps the user's choice.
        page->tick(true);
        QVERIFY(page->terminal);
        QTest::mouseClick(page->toolbar()->terminalMode, Qt::LeftButton);
        QVERIFY(!page->terminal);
        QVERIFY(!page->sendBar()->isHidden());
        page->tick(true);
        QVERIFY(!page->terminal);
    }

    void fileTransferBytesStayOutOfTheTerminal()
    {
        PageFixture fixture;
        Channel* channel = nullptr;
        Pane* page = fixture.open(loopback(), &channel);
        fixture.engine.journal.append(channel->id, QStringLiteral("rx"), "FILEDATA", QStringLiteral("default"),
                                      QStringLiteral("file-transfer"), false, QStringLiteral("serial"));
        received(fixture.engine, channel, "TEXT");
        page->tick(true);
        QVERIFY(logText(page).contains(QStringLiteral("FILEDATA")));
        QVERIFY(!page->terminalView()->text().contains(QStringLiteral("FILEDATA")));
        QVERIFY(page->terminalView()->text().contains(QStringLiteral("TEXT")));
    }

    void fiveHundredEventsPerTickAndGapNotice()
    {
        PageFixture fixture;
        Channel* channel = nullptr;
        Pane* page = fixture.open(loopback(), &channel);
        page->tick(true);
        // Overflow the journal before the page reads: its cursor falls behind the oldest event.
        const qint64 start = fixture.engine.journal.lastSeq;
        for (int index = 0; index < Journal::MaxEvents + 700; ++index)
            received(fixture.engine, channel, QByteArray::number(index) + "\n");
        QVERIFY(fixture.engine.journal.events.front().first.value(QStringLiteral("seq")).toInteger() > start + 1);
        fixture.window->findChild<QTimer*>(QStringLiteral("tickTimer"))->stop();

        page->tick(true);
        QCOMPARE(logText(page).count(QStringLiteral("部分旧数据已被历史缓冲区覆盖")), 1);
        const qint64 oldest = fixture.engine.journal.events.front().first.value(QStringLiteral("seq")).toInteger();
        QCOMPARE(page->receiveArea()->readCursor, oldest + ReceiveArea::EventsPerTick - 1);
        page->tick(true);
        QCOMPARE(page->receiveArea()->readCursor, oldest + 2 * ReceiveArea::EventsPerTick - 1);
        QCOMPARE(logText(page).count(QStringLiteral("部分旧数据已被历史缓冲区覆盖")), 1);
    }

    void pauseAndResume()
    {
        PageFixture fixture;
        Channel* channel = nullptr;
        Pane* page = fixture.open(loopback(), &channel);
        page->tick(true);
        QTest::mouseClick(page->toolbar()->pause, Qt::LeftButton);
        QCOMPARE(page->toolbar()->pause->toolTip(), QStringLiteral("继续显示，后台仍在接收"));
        const qint64 cursor = page->receiveArea()->readCursor;
        received(fixture.engine, channel, "while paused\n");
        page->tick(true);
        QCOMPARE(page->receiveArea()->readCursor, cursor);
        QVERIFY(!logText(page).contains(QStringLiteral("while paused")));
        QTest::mouseClick(page->toolbar()->pause, Qt::LeftButton);
        page->tick(true);
        QVERIFY(logText(page).contains(QStringLiteral("while paused")));
    }

    void clearAndReplay()
    {
        PageFixture fixture;
        Channel* channel = nullptr;
        Pane* page = fixture.open(loopback(), &channel);
        received(fixture.engine, channel, "before clear\n");
        page->tick(true);
        QVERIFY(logText(page).contains(QStringLiteral("before clear")));
        QTest::mouseClick(page->toolbar()->clear, Qt::LeftButton);
        QVERIFY(!logText(page).contains(QStringLiteral("before clear")));
        received(fixture.engine, channel, "after clear\n");
        QTest::mouseClick(page->toolbar()->hexDisplay, Qt::LeftButton); // replays from the clear point
        page->tick(true);
        QVERIFY(!logText(page).contains(QStringLiteral("before clear")));
        QVERIFY(logText(page).contains(QString::fromLatin1(QByteArray("after clear").toHex(' ').toUpper())));
    }

    void streamResetRestartsTheTerminal()
    {
        PageFixture fixture;
        Channel* channel = nullptr;
        Pane* page = fixture.open(loopback(), &channel);
        received(fixture.engine, channel, "old screen");
        page->tick(true);
        QVERIFY(page->terminalView()->text().contains(QStringLiteral("old screen")));
        received(fixture.engine, channel, "new screen", true);
        page->tick(true);
        QVERIFY(!page->terminalView()->text().contains(QStringLiteral("old screen")));
        QVERIFY(page->terminalView()->text().contains(QStringLiteral("new screen")));
    }

    void demoPageIsReadOnly()
    {
        PageFixture fixture;
        Channel* demo = fixture.engine.waveformDemo();
        Pane* page = fixture.window->findPane(demo);
        if (!page) {
            page = fixture.window->newConnection();
            page->setChannel(demo);
        }
        fixture.window->showPane(page);
        page->tick(true);
        QVERIFY(!page->sendBar()->sendButton->isEnabled());
        QVERIFY(!page->sendBar()->repeat->isEnabled());
        QTRY_VERIFY(!logText(page).isEmpty());
    }

    void tcpPagesFollowTheirPeers()
    {
        PageFixture fixture;
        const quint16 port = freeTcpPort();
        Channel* server = nullptr;
        Pane* serverPage = fixture.open(network(QStringLiteral("tcp-server"), 9000, port), &server);
        QCOMPARE(server->state, QStringLiteral("listening"));
        serverPage->tick(true);
        QVERIFY(serverPage->sendBar()->target->isVisible());

        Channel* client = nullptr;
        Pane* clientPage = fixture.open(network(QStringLiteral("tcp-client"), port, 0), &client);
        QTRY_COMPARE(client->state, QStringLiteral("connected"));
        QTRY_COMPARE(server->clients.size(), std::size_t(1));
        fixture.window->showPane(serverPage);
        serverPage->tick(true);
        QCOMPARE(serverPage->sendBar()->target->count(), 1);

        // Server to its one client with an empty target.
        serverPage->sendBar()->target->setCurrentText(QString());
        serverPage->sendBar()->textBox->setPlainText(QStringLiteral("to client"));
        serverPage->sendCurrent();
        fixture.window->showPane(clientPage);
        QTRY_VERIFY(logText(clientPage).contains(QStringLiteral("to client")));
        QVERIFY(!clientPage->sendBar()->target->isVisible());

        // Client to server.
        clientPage->sendBar()->textBox->setPlainText(QStringLiteral("to server"));
        clientPage->sendCurrent();
        fixture.window->showPane(serverPage);
        QTRY_VERIFY(logText(serverPage).contains(QStringLiteral("to server")));

        // A second client makes the empty target ambiguous; the list follows.
        QTcpSocket second;
        second.connectToHost(QStringLiteral("127.0.0.1"), port);
        QVERIFY(second.waitForConnected(5000));
        QTRY_COMPARE(server->clients.size(), std::size_t(2));
        serverPage->tick(true);
        QCOMPARE(serverPage->sendBar()->target->count(), 2);
        serverPage->sendBar()->target->setCurrentText(QString());
        serverPage->sendCurrent();
        QCOMPARE(fixture.statusMessage(), QStringLiteral("操作失败：请选择目标 TCP 客户端"));
        // The chosen client stays chosen while it stays connected.
        const QString chosen = QStringLiteral("127.0.0.1:%1").arg(client->tcpSocket->localPort());
        serverPage->sendBar()->target->setCurrentText(chosen);
        second.disconnectFromHost();
        QTRY_COMPARE(server->clients.size(), std::size_t(1));
        serverPage->tick(true);
        QCOMPARE(serverPage->sendBar()->target->count(), 1);
        QCOMPARE(serverPage->sendBar()->target->currentText(), chosen);
    }

    void udpPageSendsToItsTarget()
    {
        PageFixture fixture;
        QUdpSocket peer;
        QVERIFY(peer.bind(QHostAddress::LocalHost, 0));
        Channel* channel = nullptr;
        Pane* page = fixture.open(network(QStringLiteral("udp"), peer.localPort(), freeUdpPort()), &channel);
        page->tick(true);
        QVERIFY(page->sendBar()->target->isVisible());
        page->sendBar()->textBox->setPlainText(QStringLiteral("datagram"));
        page->sendBar()->target->setCurrentText(QStringLiteral("127.0.0.1:%1").arg(peer.localPort()));
        page->sendCurrent();
        QTRY_VERIFY(peer.hasPendingDatagrams());
        QCOMPARE(peer.receiveDatagram().data(), QByteArray("datagram\r\n"));
        for (const QString& bad : {QStringLiteral("127.0.0.1"), QStringLiteral("127.0.0.1:0"),
                                   QStringLiteral("127.0.0.1:65536")}) {
            fixture.window->statusBar()->clearMessage();
            page->sendBar()->target->setCurrentText(bad);
            page->sendCurrent();
            QCOMPARE(fixture.statusMessage(), QStringLiteral("操作失败：UDP 目标需要有效 IP:端口"));
        }
        page->sendBar()->target->setCurrentText(QString());
        page->sendCurrent();
        QTRY_VERIFY(peer.hasPendingDatagrams());
    }

    void unboundPageFallsBack()
    {
        PageFixture fixture;
        Channel* channel = fixture.engine.open(loopback());
        // A page of its own, outside the window's tabs, so the window does not close it with its channel.
        Pane page(fixture.window.get(), QString());
        page.setChannel(channel);
        page.tick(true);
        QVERIFY(page.sendBar()->sendButton->isEnabled());
        QVERIFY(page.toolbar()->exportLog->isEnabled());
        fixture.engine.remove(channel->id);
        QTRY_VERIFY(!page.channel);
        page.tick(true);
        QVERIFY(!page.sendBar()->sendButton->isEnabled());
        QVERIFY(!page.toolbar()->exportLog->isEnabled());
        QCOMPARE(page.config.port, QStringLiteral("loop://"));
        page.sendCurrent();
        QCOMPARE(fixture.statusMessage(), QStringLiteral("操作失败：请先连接设备"));
    }

    void serialPortOpensTheFileTransfer()
    {
        SocatPair pair;
        QVERIFY(pair.start());
        PageFixture fixture;
        Config config;
        config.port = pair.portA();
        Channel* channel = nullptr;
        Pane* page = fixture.open(config, &channel);
        QCOMPARE(channel->state, QStringLiteral("connected"));
        QTRY_VERIFY(page->toolbar()->fileTransfer->isEnabled());
        page->sendBar()->interval->setValue(3600000);
        page->sendBar()->repeat->setChecked(true);
        QVERIFY(page->sendBar()->repeat->isChecked());
        QTest::mouseClick(page->toolbar()->fileTransfer, Qt::LeftButton);
        QVERIFY(!page->sendBar()->repeat->isChecked());
        auto* dialog = fixture.window->findChild<FileTransferDialog*>();
        QVERIFY(dialog);
        QVERIFY(dialog->isVisible());
        QCOMPARE(dialog->windowModality(), Qt::WindowModal);
        QVERIFY(dialog->testAttribute(Qt::WA_DeleteOnClose));
        dialog->close();
        QTRY_VERIFY(!fixture.window->findChild<FileTransferDialog*>());
        fixture.engine.remove(channel->id);
    }

    void controlPageFollowsItsSource()
    {
        PageFixture fixture;
        Pane* control = fixture.window->newInstrument(QStringLiteral("json"), nullptr, false, QString());
        QVERIFY(control);
        control->restore(QJsonObject{{"kind", "json"}, {"source_key", "serial:loop://"}});
        QVERIFY(!control->channel);
        Channel* channel = nullptr;
        Pane* session = fixture.open(loopback(), &channel);
        session->sendBar()->encoding->setCurrentText(QStringLiteral("gbk"));
        control->refreshSource();
        QCOMPARE(control->channel.data(), channel);
        QCOMPARE(control->sourceKey, QStringLiteral("serial:loop://"));
        // The record parser of the source decodes with its session page's encoding.
        QCOMPARE(channel->parserMode, QStringLiteral("auto"));
        QCOMPARE(channel->encoding, QStringLiteral("gbk"));
        session->sendBar()->encoding->setCurrentText(QStringLiteral("latin-1"));
        QCOMPARE(channel->encoding, QStringLiteral("latin-1"));
        // A control page never reads the journal into views of its own.
        QVERIFY(!control->logView());
        control->tick(true);
    }

    void sshPageStaysInTheTerminal()
    {
        PageFixture fixture;
        Pane* page = fixture.window->newConnection();
        page->config.kind = QStringLiteral("ssh");
        QVERIFY(!page->terminalView()->keyboardSelection);
        page->setTerminal(false);
        QVERIFY(page->terminal);
        QVERIFY(page->toolbar()->terminalMode->isHidden());
        page->tick(true);
        QVERIFY(page->terminalView()->keyboardSelection);

        // Shift+Left selects on the SSH screen rather than sending ESC[1;2D.
        page->terminalView()->feed("abc");
        QTest::keyClick(page->terminalView(), Qt::Key_Left, Qt::ShiftModifier);
        QVERIFY(page->terminalView()->hasSelection());
    }
};

QTEST_MAIN(SessionPageTest)
#include "SessionPageTest.moc"
