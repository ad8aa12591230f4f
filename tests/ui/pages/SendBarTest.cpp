#include "PageFixture.h"

#include "tests/support/TestSupport.h"
#include "ui/kit/Combo.h"
#include "ui/kit/IconButton.h"
#include "ui/pages/SendBar.h"
#include "ui/pages/SendFooter.h"
#include "ui/pages/SessionToolbar.h"
#include "ui/views/TerminalView.h"

#include <QBoxLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTcpSocket>

using namespace vn;
using namespace vn::test;

namespace {

// The "tx" events of a channel in the journal, oldest first.
QList<QByteArray> sent(const Engine& engine, const Channel* channel)
{
    QList<QByteArray> out;
    for (const Journal::Entry& entry : engine.journal.events) {
        const QJsonObject& event = entry.first;
        if (event.value("channel_id").toString() == channel->id && event.value("direction").toString() == "tx"
            && event.value("message").toString() == QLatin1String("gui")) {
            out.append(QByteArray::fromHex(event.value("hex").toString().toLatin1()));
        }
    }
    return out;
}

// Text of `size` ASCII characters in short lines, which a text box lays out quickly.
QString filler(int size)
{
    QString text;
    text.reserve(size);
    while (text.size() < size)
        text.append(text.size() % 64 == 63 ? u'\n' : u'a');
    return text;
}

} // namespace

class SendBarTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void encodings_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("hex");
        QTest::addColumn<QString>("encoding");
        QTest::addColumn<int>("newline");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("empty text with CRLF") << "" << false << "utf-8" << 3 << QByteArray("\r\n");
        QTest::newRow("utf-8 none") << "温度" << false << "utf-8" << 0 << QByteArray("\xe6\xb8\xa9\xe5\xba\xa6");
        QTest::newRow("gbk LF") << "温度" << false << "gbk" << 1 << QByteArray("\xce\xc2\xb6\xc8\n");
        QTest::newRow("ascii CR") << "AT" << false << "ascii" << 2 << QByteArray("AT\r");
        QTest::newRow("latin-1 CRLF") << "é" << false << "latin-1" << 3 << QByteArray("\xe9\r\n");
        QTest::newRow("hex with blanks and lines") << "01 03\n00 0a" << true << "utf-8" << 1
                                                   << QByteArray("\x01\x03\x00\x0a\n", 5);
        QTest::newRow("hex none") << "aAbB" << true << "gbk" << 0 << QByteArray("\xaa\xbb");
    }

    void encodings()
    {
        QFETCH(QString, text);
        QFETCH(bool, hex);
        QFETCH(QString, encoding);
        QFETCH(int, newline);
        QFETCH(QByteArray, bytes);
        PageFixture fixture;
        Channel* channel = nullptr;
        Pane* page = fixture.open(loopback(), &channel);
        SendBar* bar = page->sendBar();
        bar->textBox->setPlainText(text);
        bar->sendHex->setChecked(hex);
        bar->encoding->setCurrentText(encoding);
        bar->newline->setCurrentIndex(newline);
        QTRY_VERIFY(bar->sendButton->isEnabled());
        QTest::mouseClick(bar->sendButton, Qt::LeftButton);
        QCOMPARE(sent(fixture.engine, channel), QList<QByteArray>{bytes});
        QCOMPARE(bar->textBox->toPlainText(), text);
    }

    void refusals_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("hex");
        QTest::addColumn<int>("newline");
        QTest::addColumn<QString>("message");
        QTest::newRow("odd hex") << "01 0" << true << 0 << "HEX 需要完整的十六进制字节，例如 01 03 00 00";
        QTest::newRow("not hex") << "zz" << true << 0 << "HEX 需要完整的十六进制字节，例如 01 03 00 00";
        QTest::newRow("1 MiB with its line ending") << filler(1048575) << false << 3
                                                    << "单次发送不能超过 1 MiB";
    }

    void refusals()
    {
        QFETCH(QString, text);
        QFETCH(bool, hex);
        QFETCH(int, newline);
        QFETCH(QString, message);
        PageFixture fixture;
        Channel* channel = nullptr;
        Pane* page = fixture.open(loopback(), &channel);
        page->sendBar()->textBox->setPlainText(text);
        page->sendBar()->sendHex->setChecked(hex);
        page->sendBar()->newline->setCurrentIndex(newline);
        page->sendCurrent();
        QCOMPARE(fixture.statusMessage(), QStringLiteral("操作失败：") + message);
        QVERIFY(sent(fixture.engine, channel).isEmpty());
    }

    void exactlyOneMebibyte()
    {
        PageFixture fixture;
        Channel* channel = nullptr;
        Pane* page = fixture.open(loopback(), &channel);
        page->sendBar()->textBox->setPlainText(filler(1048574));
        page->sendCurrent();
        QCOMPARE(sent(fixture.engine, channel).value(0).size(), 1048576);
    }

    void ctrlReturnSends()
    {
        PageFixture fixture;
        Channel* channel = nullptr;
        Pane* page = fixture.open(loopback(), &channel);
        QApplication::setActiveWindow(fixture.window.get());
        QVERIFY(QTest::qWaitForWindowActive(fixture.window.get()));
        page->sendBar()->textBox->setPlainText(QStringLiteral("keyed"));
        page->sendBar()->textBox->setFocus();
        QTest::keyClick(page->sendBar()->textBox, Qt::Key_Return, Qt::ControlModifier);
        QTRY_COMPARE(sent(fixture.engine, channel), QList<QByteArray>{QByteArray("keyed\r\n")});
    }

    void repeatStartsAndStops()
    {
        PageFixture fixture;
        Channel* channel = nullptr;
        Pane* page = fixture.open(loopback(), &channel);
        SendBar* bar = page->sendBar();
        bar->textBox->setPlainText(QStringLiteral("ping"));
        bar->interval->setValue(20);
        QTRY_VERIFY(bar->repeat->isEnabled());
        QTest::mouseClick(bar->repeat, Qt::LeftButton);
        QVERIFY(bar->repeat->isChecked());
        QCOMPARE(bar->repeat->toolTip(), QStringLiteral("停止循环发送"));
        QCOMPARE(sent(fixture.engine, channel).size(), 1); // the first packet goes at once
        // Later edits do not change the repeated packet.
        bar->textBox->setPlainText(QStringLiteral("changed"));
        QTRY_VERIFY(sent(fixture.engine, channel).size() >= 4);
        for (const QByteArray& packet : sent(fixture.engine, channel))
            QCOMPARE(packet, QByteArray("ping\r\n"));
        // The interval applies at once, also while repeating.
        bar->interval->setValue(500);
        QCOMPARE(bar->repeatTimer.interval(), 500);
        QTest::mouseClick(bar->repeat, Qt::LeftButton);
        QVERIFY(!bar->repeatTimer.isActive());
        QCOMPARE(bar->repeat->toolTip(), QStringLiteral("循环发送"));
    }

    void repeatStopsWithTheConnection()
    {
        PageFixture fixture;
        Channel* channel = nullptr;
        Pane* page = fixture.open(loopback(), &channel);
        SendBar* bar = page->sendBar();
        bar->interval->setValue(20);
        QTRY_VERIFY(bar->repeat->isEnabled());
        bar->repeat->setChecked(true);
        QVERIFY(bar->repeatTimer.isActive());
        channel->close();
        QTRY_VERIFY(!bar->repeat->isChecked());
        QVERIFY(!bar->repeatTimer.isActive());
        // Entering the terminal also stops it.
        channel->open();
        QTRY_VERIFY(bar->repeat->isEnabled());
        bar->repeat->setChecked(true);
        page->setTerminal(true);
        QVERIFY(!bar->repeat->isChecked());
    }

    void repeatRefusedWhenTheFirstSendFails()
    {
        PageFixture fixture;
        const quint16 port = freeTcpPort();
        Channel* server = nullptr;
        Pane* page = fixture.open(network(QStringLiteral("tcp-server"), 9000, port), &server);
        QTcpSocket first;
        QTcpSocket second;
        first.connectToHost(QStringLiteral("127.0.0.1"), port);
        second.connectToHost(QStringLiteral("127.0.0.1"), port);
        QTRY_COMPARE(server->clients.size(), std::size_t(2));
        SendBar* bar = page->sendBar();
        QTRY_VERIFY(bar->repeat->isEnabled());
        bar->target->setCurrentText(QString());
        bar->repeat->setChecked(true);
        QVERIFY(!bar->repeat->isChecked());
        QVERIFY(!bar->repeatTimer.isActive());
        QCOMPARE(fixture.statusMessage(), QStringLiteral("操作失败：请选择目标 TCP 客户端"));
    }

    void repeatRefusedWithoutAConnection()
    {
        PageFixture fixture;
        Channel* channel = fixture.engine.open(loopback());
        Pane page(fixture.window.get(), QString());
        page.setChannel(channel);
        page.tick(true);
        channel->close(); // the state changed since the last tick
        page.sendBar()->repeat->setChecked(true);
        QVERIFY(!page.sendBar()->repeat->isChecked());
        QCOMPARE(fixture.statusMessage(), QStringLiteral("操作失败：请先连接设备"));
    }

    void terminalKeysGoOut()
    {
        PageFixture fixture;
        Channel* channel = nullptr;
        Pane* page = fixture.open(loopback(), &channel);
        page->setTerminal(true);
        QTRY_VERIFY(page->terminalView()->interactive);
        QTest::keyClick(page->terminalView(), Qt::Key_Home);
        QTest::keyClick(page->terminalView(), Qt::Key_A);
        QTRY_COMPARE(sent(fixture.engine, channel), (QList<QByteArray>{QByteArray("\x1b[7~"), QByteArray("a")}));
    }

    void footerLayoutRule_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("direction");
        QTest::newRow("730 side by side") << 730 << int(QBoxLayout::LeftToRight);
        QTest::newRow("729 stacked") << 729 << int(QBoxLayout::TopToBottom);
    }

    void footerLayoutRule()
    {
        QFETCH(int, width);
        QFETCH(int, direction);
        SendFooter footer;
        footer.resize(900, 40);
        footer.show();
        footer.resize(width, 80);
        QTRY_COMPARE(int(footer.box()->direction()), direction);
        QCOMPARE(footer.minimumSizeHint().width(), 300);
    }

    void ctrlWheelZooms()
    {
        PageFixture fixture;
        Pane* page = fixture.window->newConnection();
        fixture.window->showPane(page);
        QFont font = fixture.window->dataFont;
        font.setPointSize(31);
        fixture.window->setDataFont(font);
        QWidget* viewport = page->sendBar()->textBox->viewport();
        const QPoint centre = viewport->rect().center();
        QWheelEvent up(centre, viewport->mapToGlobal(centre), QPoint(), QPoint(0, 240), Qt::NoButton,
                       Qt::ControlModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(viewport, &up);
        QCOMPARE(fixture.window->dataFont.pointSize(), 32);
        QWheelEvent plain(centre, viewport->mapToGlobal(centre), QPoint(), QPoint(0, -120), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(viewport, &plain);
        QCOMPARE(fixture.window->dataFont.pointSize(), 32);
        QWheelEvent down(centre, viewport->mapToGlobal(centre), QPoint(), QPoint(0, -120), Qt::NoButton,
                         Qt::ControlModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(viewport, &down);
        QCOMPARE(fixture.window->dataFont.pointSize(), 31);
    }
};

QTEST_MAIN(SendBarTest)
#include "SendBarTest.moc"
