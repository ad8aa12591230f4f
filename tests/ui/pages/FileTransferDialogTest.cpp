#include "core/Channel.h"
#include "core/Engine.h"
#include "core/ReceiverRequest.h"
#include "core/SerialTransfer.h"
#include "tests/support/TestSupport.h"
#include "ui/kit/Combo.h"
#include "ui/pages/FileTransferDialog.h"

#include <QApplication>
#include <QFile>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace vn;
using vn::test::randomBytes;
using vn::test::readBytes;
using vn::test::writeBytes;

namespace {

// A serial channel on one end of a socat pty pair, its transfer dialog, and
// the device end, where lrzsz or a shell command plays the device.
struct Line {
    test::SocatPair pair;
    Engine engine;
    Channel* channel = nullptr;
    std::unique_ptr<FileTransferDialog> dialog;
    std::unique_ptr<QProcess> peer;
    QTemporaryDir dir;

    bool open()
    {
        if (!pair.start())
            return false;
        Config c;
        c.port = pair.portA();
        channel = engine.open(c);
        if (channel->state != QLatin1String("connected"))
            return false;
        dialog = std::make_unique<FileTransferDialog>(channel, nullptr);
        dialog->show();
        return QTest::qWaitForWindowExposed(dialog.get());
    }

    template <typename T>
    T* find(const char* name) const
    {
        return dialog->findChild<T*>(QString::fromLatin1(name));
    }

    void setUp(int direction, int protocol, const QString& path, const QString& size = QString())
    {
        find<Combo>("transferDirection")->setCurrentIndex(direction);
        find<Combo>("transferProtocol")->setCurrentIndex(protocol);
        find<QLineEdit>("transferPath")->setText(path);
        find<QLineEdit>("transferSize")->setText(size);
    }

    void click(const char* name) const { QTest::mouseClick(find<QPushButton>(name), Qt::LeftButton); }
    QString status() const { return find<QLabel>("transferStatus")->text(); }
    QString byteLine() const { return find<QLabel>("transferBytes")->text(); }
    QProgressBar* bar() const { return find<QProgressBar>("fileTransferProgress"); }

    // lrzsz needs a real tty under it, so it runs behind socat on the far end;
    // it writes only below its working directory, so names are relative.
    void runPeer(const QString& command, bool shell = false)
    {
        peer = std::make_unique<QProcess>();
        peer->setWorkingDirectory(dir.path());
        peer->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        peer->start(QStringLiteral("timeout"),
                    {QStringLiteral("60"), QStringLiteral("socat"),
                     QStringLiteral("FILE:%1,raw,echo=0").arg(pair.portB()),
                     (shell ? QStringLiteral("SYSTEM:%1") : QStringLiteral("EXEC:%1")).arg(command)});
    }

    ~Line()
    {
        dialog.reset();
        if (peer && peer->state() != QProcess::NotRunning) {
            peer->kill();
            peer->waitForFinished(3000);
        }
    }
};

const QString Sent = QStringLiteral("发送完成，对端已确认");
const QString Received = QStringLiteral("接收完成，文件已保存");
const QString RawSent = QStringLiteral("发送完成（驱动已发送，设备端无确认）");
// rx quits right after its last ACK, which a pty may lose on the way.
const QString SentUnconfirmed = QStringLiteral("文件已全部送达，接收端未确认结束");

} // namespace

class FileTransferDialogTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void amounts_data()
    {
        QTest::addColumn<qint64>("n");
        QTest::addColumn<QString>("text");
        QTest::newRow("unknown") << qint64(-1) << QStringLiteral("未知大小");
        QTest::newRow("zero") << qint64(0) << QStringLiteral("0 B");
        QTest::newRow("1023") << qint64(1023) << QStringLiteral("1023 B");
        QTest::newRow("1024") << qint64(1024) << QStringLiteral("1.0 KiB");
        QTest::newRow("1.5 KiB") << qint64(1536) << QStringLiteral("1.5 KiB");
        QTest::newRow("MiB") << qint64(1048576 * 3 / 2) << QStringLiteral("1.50 MiB");
    }

    void amounts()
    {
        QFETCH(qint64, n);
        QFETCH(QString, text);
        QCOMPARE(transferAmount(n), text);
    }

    // The title names the device path as written; the form starts on an
    // XMODEM send; closing an idle dialog only leaves the channel unowned.
    void openAndClose()
    {
        Line line;
        QVERIFY(line.open());
        QCOMPARE(line.dialog->windowTitle(), QStringLiteral("串口文件传输 · ") + line.pair.portA());
        QCOMPARE(line.find<Combo>("transferDirection")->currentIndex(), 0);
        QCOMPARE(line.find<Combo>("transferProtocol")->currentIndex(), 1);
        QVERIFY(!line.find<QLineEdit>("transferSize")->isVisible());
        QVERIFY(line.find<QLabel>("transferHint")->text().startsWith(QStringLiteral("请先启动设备端的 XMODEM-CRC 接收程序")));
        line.find<Combo>("transferDirection")->setCurrentIndex(1);
        QVERIFY(line.find<QLineEdit>("transferSize")->isVisible());
        QCOMPARE(line.byteLine(), QStringLiteral("0 B / 未知大小  ·  重试 0 次"));
        QCOMPARE(line.find<QPushButton>("transferClose")->text(), QStringLiteral("关闭"));
        line.click("transferClose");
        QVERIFY(!line.dialog->isVisible());
        QVERIFY(!line.channel->transferActive());
        QCOMPARE(line.dialog->result(), int(QDialog::Rejected));
    }

    void refusals()
    {
        Line line;
        QVERIFY(line.open());
        QSignalSpy starting(line.dialog.get(), &FileTransferDialog::starting);
        line.setUp(0, 1, QStringLiteral("   "));
        line.click("transferStart");
        QCOMPARE(line.status(), QStringLiteral("请先选择文件"));

        // A missing file: claimed, then given back with the file's error.
        line.setUp(0, 1, line.dir.filePath(QStringLiteral("missing.bin")));
        line.click("transferStart");
        QCOMPARE(starting.count(), 1);
        QVERIFY(!line.channel->transferActive());
        QVERIFY(!line.status().isEmpty());
        QVERIFY(line.find<QPushButton>("transferStart")->isEnabled());

        // A size the validator let through but that is no number: claimed
        // and announced first, then given back.
        line.setUp(1, 0, line.dir.filePath(QStringLiteral("out.bin")), QStringLiteral("12a"));
        line.click("transferStart");
        QCOMPARE(starting.count(), 2);
        QCOMPARE(line.status(), QStringLiteral("接收大小无效"));
        QVERIFY(!line.channel->transferActive());
        QVERIFY(!line.dialog->engine()->active());

        // The software loopback has no port to own.
        Config loop;
        loop.port = QStringLiteral("loop://");
        Channel* loopback = line.engine.open(loop);
        FileTransferDialog other(loopback, nullptr);
        other.findChild<QLineEdit*>(QStringLiteral("transferPath"))->setText(QStringLiteral("x"));
        QVERIFY(!other.begin());
        QCOMPARE(other.findChild<QLabel*>(QStringLiteral("transferStatus"))->text(),
                 QStringLiteral("请选择已连接且未在传输的物理串口"));
        QVERIFY(!loopback->transferActive());

        // Another sender's transfer holds the port.
        QObject holder;
        line.channel->transferOwner = &holder;
        const QString in = line.dir.filePath(QStringLiteral("in.bin"));
        QVERIFY(writeBytes(in, "abc"));
        line.setUp(0, 0, in);
        line.click("transferStart");
        QCOMPARE(line.status(), QStringLiteral("请选择已连接且未在传输的物理串口"));
        QCOMPARE(line.channel->transferOwner.data(), &holder);
    }

    void xmodem_data()
    {
        QTest::addColumn<bool>("receive");
        QTest::addColumn<int>("size");
        QTest::newRow("send to rx") << false << 20000;
        QTest::newRow("receive from sx") << true << 20001;
    }

    // Both ways against lrzsz: the progress moves, other senders are refused
    // meanwhile, and the bar reaches 100.0% only at the end.
    void xmodem()
    {
        QFETCH(bool, receive);
        QFETCH(int, size);
        Line line;
        QVERIFY(line.open());
        const QByteArray data = randomBytes(size, quint32(size));
        QVERIFY(writeBytes(line.dir.filePath(QStringLiteral("in.bin")), data));
        const QString target = line.dir.filePath(QStringLiteral("out.bin"));
        QSignalSpy finished(line.dialog->engine(), &SerialTransfer::finished);
        if (receive) {
            line.setUp(1, 1, target, QString::number(size));
            line.click("transferStart");
            line.runPeer(QStringLiteral("sx -q -b in.bin"));
        } else {
            line.runPeer(QStringLiteral("rx -q -c -b out.bin"));
            line.setUp(0, 1, line.dir.filePath(QStringLiteral("in.bin")));
            line.click("transferStart");
        }
        QVERIFY(line.channel->transferActive());
        QCOMPARE(line.find<QPushButton>("transferClose")->text(), QStringLiteral("取消传输"));
        QVERIFY(!line.find<QPushButton>("transferStart")->isEnabled());
        QCOMPARE(test::errorOf([&] { line.channel->send("x", QString(), QStringLiteral("user")); }),
                 QStringLiteral("串口正在传输文件，请在传输完成后发送"));

        QTRY_VERIFY_WITH_TIMEOUT(line.bar()->value() > 0 || !finished.isEmpty(), 30000);
        if (finished.isEmpty()) {
            QVERIFY(line.bar()->value() <= 999);
            QVERIFY2(line.byteLine().contains(QStringLiteral("/s")), qPrintable(line.byteLine()));
        }
        QVERIFY(finished.wait(60000) || !finished.isEmpty());
        const bool confirmed = !line.dialog->engine()->endUnconfirmed();
        QVERIFY(confirmed || !receive);
        const QString result = receive ? Received : confirmed ? Sent : SentUnconfirmed;
        QCOMPARE(finished.first().at(1).toString(), result);
        QCOMPARE(line.status(), result);
        QCOMPARE(line.bar()->value(), 1000);
        QCOMPARE(line.bar()->format(), confirmed ? QStringLiteral("100.0%") : QStringLiteral("100.0% · 接收端未确认结束"));
        QVERIFY(line.byteLine().startsWith(transferAmount(size) + QStringLiteral(" / ")));
        QVERIFY(!line.channel->transferActive());
        QCOMPARE(line.find<QPushButton>("transferClose")->text(), QStringLiteral("关闭"));
        QTRY_VERIFY_WITH_TIMEOUT(line.peer->state() == QProcess::NotRunning, 30000);
        QCOMPARE(line.peer->exitCode(), 0);
        QByteArray expected = data;
        if (!receive)
            expected.append(QByteArray((128 - size % 128) % 128, char(0x1a)));
        QCOMPARE(readBytes(target), expected);
    }

    // The receiver started first, as the hint asks: its 'C' came while the
    // session page had the channel, and the first block answers it at once,
    // before rx has asked again.
    void receiverStartedFirst()
    {
        Line line;
        QVERIFY(line.open());
        const QByteArray data = randomBytes(5000, 11);
        QVERIFY(writeBytes(line.dir.filePath(QStringLiteral("in.bin")), data));
        QSignalSpy finished(line.dialog->engine(), &SerialTransfer::finished);
        line.runPeer(QStringLiteral("rx -q -c -b out.bin"));
        QTRY_VERIFY_WITH_TIMEOUT(receiverAlreadyAsked(line.engine.journal, line.channel->id), 30000);
        const qint64 before = line.engine.journal.lastSeq;
        line.setUp(0, 1, line.dir.filePath(QStringLiteral("in.bin")));
        line.click("transferStart");
        QVERIFY(finished.wait(60000) || !finished.isEmpty());
        QVERIFY2(finished.first().at(0).toBool(), qPrintable(finished.first().at(1).toString()));
        const QJsonObject first = line.engine.journal.events.at(std::size_t(before)).first;
        QCOMPARE(first.value(QLatin1String("seq")).toInteger(), before + 1);
        QCOMPARE(first.value(QLatin1String("direction")).toString(), QStringLiteral("tx"));
        QVERIFY(first.value(QLatin1String("hex")).toString().startsWith(QStringLiteral("01 01 fe")));
        QTRY_VERIFY_WITH_TIMEOUT(line.peer->state() == QProcess::NotRunning, 30000);
        QByteArray expected = data + QByteArray((128 - data.size() % 128) % 128, char(0x1a));
        QCOMPARE(readBytes(line.dir.filePath(QStringLiteral("out.bin"))), expected);
    }

    // The bytes of the channel's journal events after `seq` in one direction.
    static QByteArray bytesAfter(const Line& line, qint64 seq, const QString& direction)
    {
        QByteArray bytes;
        for (const auto& entry : line.engine.journal.events) {
            const QJsonObject& event = entry.first;
            if (event.value(QLatin1String("seq")).toInteger() > seq
                && event.value(QLatin1String("channel_id")).toString() == line.channel->id
                && event.value(QLatin1String("direction")).toString() == direction)
                bytes += QByteArray::fromHex(event.value(QLatin1String("hex")).toString().toLatin1());
        }
        return bytes;
    }

    void receiverAskingWithNak_data()
    {
        QTest::addColumn<QString>("device");
        QTest::addColumn<bool>("completes");
        // rx without -c asks for checksum blocks with a NAK every 14 s; the
        // sender speaks CRC only, so it keeps waiting for a 'C'.
        QTest::newRow("checksum receiver") << QStringLiteral("exec rx -b out.bin") << false;
        // A device that answered NAK first, then runs a CRC receiver once the
        // send is waiting (or gives up waiting after 30 s).
        QTest::newRow("NAK, then a CRC receiver")
            << QStringLiteral("cat nak.bin; n=0; while [ ! -e go ] && [ $n -lt 600 ]; do sleep 0.05; n=$((n+1)); done; "
                          "exec rx -q -c -b out.bin") << true;
    }

    // A NAK received before the start is no request for CRC blocks: nothing
    // goes out until the receiver asks with 'C'.
    void receiverAskingWithNak()
    {
        QFETCH(QString, device);
        QFETCH(bool, completes);
        Line line;
        QVERIFY(line.open());
        const QByteArray data = randomBytes(3000, 17);
        QVERIFY(writeBytes(line.dir.filePath(QStringLiteral("in.bin")), data));
        const QByteArray nak(1, SerialTransfer::NAK);
        QVERIFY(writeBytes(line.dir.filePath(QStringLiteral("nak.bin")), nak));
        QSignalSpy finished(line.dialog->engine(), &SerialTransfer::finished);
        line.runPeer(device, true);
        QTRY_VERIFY_WITH_TIMEOUT(bytesAfter(line, 0, QStringLiteral("rx")).endsWith(nak), 30000);
        QVERIFY(!receiverAlreadyAsked(line.engine.journal, line.channel->id));

        const qint64 before = line.engine.journal.lastSeq;
        line.setUp(0, 1, line.dir.filePath(QStringLiteral("in.bin")));
        line.click("transferStart");
        QVERIFY(line.channel->transferActive());
        QCOMPARE(line.dialog->engine()->phase(), SerialTransfer::WaitingForC);
        QCOMPARE(line.status(), QStringLiteral("等待接收端发送 C（CRC 模式）"));
        QVERIFY(bytesAfter(line, before, QStringLiteral("tx")).isEmpty());

        if (!completes) {
            // rx asks again with NAK; the sender still sends nothing.
            QTRY_VERIFY_WITH_TIMEOUT(bytesAfter(line, before, QStringLiteral("rx")).contains(nak), 30000);
            QTest::qWait(0);
            QCOMPARE(line.dialog->engine()->phase(), SerialTransfer::WaitingForC);
            QVERIFY(bytesAfter(line, before, QStringLiteral("tx")).isEmpty());
            line.click("transferClose");
            QVERIFY(!finished.isEmpty());
            QCOMPARE(finished.first().at(1).toString(), QStringLiteral("已取消传输"));
            return;
        }

        QFile go(line.dir.filePath(QStringLiteral("go")));
        QVERIFY(go.open(QIODevice::WriteOnly));
        go.close();
        QVERIFY(finished.wait(60000) || !finished.isEmpty());
        QVERIFY2(finished.first().at(0).toBool(), qPrintable(finished.first().at(1).toString()));
        // The first block went out after the receiver's 'C', not after its NAK.
        const QByteArray sent = bytesAfter(line, before, QStringLiteral("tx"));
        QVERIFY(sent.startsWith("\x01\x01\xfe"));
        QVERIFY(bytesAfter(line, before, QStringLiteral("rx")).contains('C'));
        QCOMPARE(line.dialog->engine()->retries(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(line.peer->state() == QProcess::NotRunning, 30000);
        QByteArray expected = data + QByteArray((128 - data.size() % 128) % 128, char(0x1a));
        QCOMPARE(readBytes(line.dir.filePath(QStringLiteral("out.bin"))), expected);
    }

    // Every block acknowledged and the end never answered: the bar and the
    // status say the data are in while the EOT waits, then that the file
    // was delivered without the receiver's word on the end.
    void endNeverConfirmed()
    {
        SerialTransfer engine;
        QByteArray wire;
        engine.writer = [&wire](const QByteArray& bytes) {
            wire += bytes;
            return true;
        };
        QTemporaryDir dir;
        const QString in = dir.filePath(QStringLiteral("in.bin"));
        QVERIFY(writeBytes(in, randomBytes(100, 5)));
        FileTransferDialog dialog(&engine, nullptr);
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        dialog.findChild<QLineEdit*>(QStringLiteral("transferPath"))->setText(in);
        QTest::mouseClick(dialog.findChild<QPushButton*>(QStringLiteral("transferStart")), Qt::LeftButton);
        auto* bar = dialog.findChild<QProgressBar*>(QStringLiteral("fileTransferProgress"));
        auto* status = dialog.findChild<QLabel*>(QStringLiteral("transferStatus"));
        engine.feed("C");
        QCOMPARE(wire.size(), 133);
        engine.feed(QByteArray(1, SerialTransfer::ACK));
        QTRY_COMPARE(bar->format(), QStringLiteral("99.9% · 等待接收端确认结束"));
        QCOMPARE(status->text(), QStringLiteral("数据已全部确认，等待接收端确认结束"));
        QTRY_COMPARE_WITH_TIMEOUT(status->text(), QStringLiteral("数据已全部确认，重发结束标记 · 第 1 次"), 10000);
        QCOMPARE(bar->format(), QStringLiteral("99.9% · 等待接收端确认结束"));
        QTRY_COMPARE_WITH_TIMEOUT(status->text(), SentUnconfirmed, 30000);
        QCOMPARE(bar->value(), 1000);
        QCOMPARE(bar->format(), QStringLiteral("100.0% · 接收端未确认结束"));
        QVERIFY(wire.count(char(SerialTransfer::EOT)) >= 2);
    }

    void raw()
    {
        Line line;
        QVERIFY(line.open());
        const QByteArray data = randomBytes(30000, 5);
        QVERIFY(writeBytes(line.dir.filePath(QStringLiteral("in.bin")), data));
        QSignalSpy finished(line.dialog->engine(), &SerialTransfer::finished);

        // Send: the device end keeps what arrives.
        line.runPeer(QStringLiteral("head -c %1 > got.bin").arg(data.size()), true);
        line.setUp(0, 0, line.dir.filePath(QStringLiteral("in.bin")));
        QVERIFY(line.find<QLabel>("transferHint")->text().startsWith(QStringLiteral("文件内容按原始字节发送")));
        line.click("transferStart");
        QVERIFY(finished.wait(20000));
        QCOMPARE(line.status(), RawSent);
        QCOMPARE(line.bar()->format(), QStringLiteral("100.0%"));
        QTRY_VERIFY_WITH_TIMEOUT(line.peer->state() == QProcess::NotRunning, 20000);
        QCOMPARE(readBytes(line.dir.filePath(QStringLiteral("got.bin"))), data);

        // Receive without a size: a busy bar until "停止并保存".
        const QString out = line.dir.filePath(QStringLiteral("out.bin"));
        line.setUp(1, 0, out);
        QVERIFY(line.find<QLabel>("transferHint")->text().startsWith(QStringLiteral("原始字节不添加文件名")));
        line.click("transferStart");
        QCOMPARE(line.bar()->maximum(), 0);
        QCOMPARE(line.bar()->format(), QStringLiteral("接收中"));
        QVERIFY(line.find<QPushButton>("transferStopAndSave")->isVisible());
        line.runPeer(QStringLiteral("cat in.bin"));
        QTRY_COMPARE_WITH_TIMEOUT(line.dialog->engine()->transferred(), qint64(data.size()), 20000);
        QTRY_VERIFY(line.byteLine().contains(QStringLiteral(" / 未知大小")));
        QVERIFY(line.byteLine().endsWith(QStringLiteral("重试 0 次")));
        line.click("transferStopAndSave");
        QTRY_COMPARE(finished.count(), 2);
        QCOMPARE(line.status(), QStringLiteral("接收已停止，文件已保存"));
        QCOMPARE(readBytes(out), data);
        QVERIFY(!line.find<QPushButton>("transferStopAndSave")->isVisible());
        QVERIFY(!line.channel->transferActive());

        // A declared size of 0 ends at once with an empty file.
        const QString empty = line.dir.filePath(QStringLiteral("empty.bin"));
        line.setUp(1, 0, empty, QStringLiteral("0"));
        line.click("transferStart");
        QCOMPARE(finished.count(), 3);
        QCOMPARE(line.status(), QStringLiteral("接收完成"));
        QCOMPARE(readBytes(empty), QByteArray());
    }

    // The close button cancels a running transfer and keeps the dialog open;
    // Escape cancels and closes it. Both give the channel back.
    void cancel()
    {
        Line line;
        QVERIFY(line.open());
        QVERIFY(writeBytes(line.dir.filePath(QStringLiteral("in.bin")), randomBytes(4096, 1)));
        line.setUp(0, 1, line.dir.filePath(QStringLiteral("in.bin")));
        line.click("transferStart");   // no receiver: it waits for the device's 'C'
        QVERIFY(line.dialog->engine()->active());
        line.click("transferClose");
        QVERIFY(!line.dialog->engine()->active());
        QVERIFY(line.dialog->isVisible());
        QCOMPARE(line.status(), QStringLiteral("已取消传输"));
        QVERIFY(!line.channel->transferActive());
        QVERIFY(line.bar()->value() <= 999);

        // The cancel's CAN CAN is still on its way: a start waits for it.
        if (line.channel->serialPort->bytesToWrite() > 0) {
            line.click("transferStart");
            QCOMPARE(line.status(), QStringLiteral("串口仍有待发送数据，请等待发送完成后重试"));
            QVERIFY(!line.channel->transferActive());
        }
        QTRY_COMPARE(line.channel->serialPort->bytesToWrite(), qint64(0));
        line.click("transferStart");
        QVERIFY2(line.channel->transferActive(), qPrintable(line.status()));
        QTest::keyClick(line.dialog.get(), Qt::Key_Escape);
        QVERIFY(!line.dialog->isVisible());
        QVERIFY(!line.dialog->engine()->active());
        QVERIFY(!line.channel->transferActive());
    }

    // A lost port ends the transfer; after the port comes back under a new
    // port object, a raw send through the same dialog completes, because the
    // drain notice comes through the channel and not from the old port.
    void reconnect()
    {
        Line line;
        QVERIFY(line.open());
        const QByteArray data = randomBytes(50000, 9);
        QVERIFY(writeBytes(line.dir.filePath(QStringLiteral("in.bin")), data));
        QSignalSpy finished(line.dialog->engine(), &SerialTransfer::finished);
        line.setUp(0, 1, line.dir.filePath(QStringLiteral("in.bin")));
        line.click("transferStart");
        QVERIFY(line.channel->transferActive());

        line.pair.stop();
        line.engine.checkSerialDevices(line.engine.ports());
        QTRY_COMPARE(line.channel->state, QStringLiteral("reconnecting"));
        QCOMPARE(finished.count(), 1);
        QCOMPARE(line.status(), QStringLiteral("串口连接已断开，传输已停止"));
        QVERIFY(!line.channel->transferActive());

        QVERIFY(line.pair.start());
        QTRY_COMPARE_WITH_TIMEOUT(line.channel->state, QStringLiteral("connected"), 20000);
        line.runPeer(QStringLiteral("head -c %1 > got.bin").arg(data.size()), true);
        line.setUp(0, 0, line.dir.filePath(QStringLiteral("in.bin")));
        line.click("transferStart");
        // Well inside the engine's own 10 s stall limit.
        QVERIFY(finished.wait(30000));
        QCOMPARE(line.status(), RawSent);
        QTRY_VERIFY_WITH_TIMEOUT(line.peer->state() == QProcess::NotRunning, 20000);
        QCOMPARE(readBytes(line.dir.filePath(QStringLiteral("got.bin"))), data);
    }

    // A session that closes under the dialog ends its transfer.
    void channelRemoved()
    {
        Line line;
        QVERIFY(line.open());
        QVERIFY(writeBytes(line.dir.filePath(QStringLiteral("in.bin")), randomBytes(1000, 2)));
        line.setUp(0, 1, line.dir.filePath(QStringLiteral("in.bin")));
        line.click("transferStart");
        const QPointer<Channel> gone = line.channel;
        line.engine.remove(line.channel->id);
        QVERIFY(!line.dialog->engine()->active());
        QCOMPARE(line.status(), QStringLiteral("串口连接已断开，传输已停止"));
        QTRY_VERIFY(gone.isNull());
        QVERIFY(line.dialog->isVisible());
    }
};

QTEST_MAIN(FileTransferDialogTest)
#include "FileTransferDialogTest.moc"
