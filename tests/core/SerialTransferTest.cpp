#include "core/Channel.h"
#include "core/Engine.h"
#include "core/ReceiverRequest.h"
#include "core/SerialTransfer.h"
#include "tests/support/FileSizeLimit.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QJsonObject>
#include <QSerialPort>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace vn;
using vn::test::randomBytes;
using vn::test::readBytes;
using vn::test::writeBytes;

namespace {

QByteArray padded(const QByteArray& data, int block)
{
    QByteArray out = data;
    while (out.size() % block)
        out.append(char(0x1a));
    return out;
}

// A channel on one end of a pty pair, with a transfer wired to it the way
// the file-transfer dialog does; the far end is free for lrzsz or a script.
struct Bench {
    test::SocatPair pair;
    Engine engine;
    Channel* channel = nullptr;
    SerialTransfer transfer;
    QObject owner;
    std::unique_ptr<QProcess> peer;

    bool start()
    {
        if (!pair.start())
            return false;
        Config c;
        c.port = pair.portA();
        channel = engine.open(c);
        if (channel->state != QLatin1String("connected"))
            return false;
        channel->transferOwner = &owner;
        transfer.writer = [this](const QByteArray& bytes) {
            try {
                channel->send(bytes, QString(), QStringLiteral("file-transfer"));
                return true;
            } catch (const std::exception&) {
                return false;
            }
        };
        QObject::connect(channel, &Channel::bytesReceived, &transfer, &SerialTransfer::feed);
        QObject::connect(channel, &Channel::outputDrained, &transfer, &SerialTransfer::drained);
        return true;
    }

    // lrzsz flushes its tty and races on a bare pty: it runs behind socat.
    // lrzsz writes only below its working directory, so names are relative.
    void runPeer(const QString& command, const QString& directory, bool shell = false)
    {
        peer = std::make_unique<QProcess>();
        peer->setWorkingDirectory(directory);
        peer->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        peer->start(QStringLiteral("timeout"),
                    {QStringLiteral("60"), QStringLiteral("socat"),
                     QStringLiteral("FILE:%1,raw,echo=0").arg(pair.portB()),
                     (shell ? QStringLiteral("SYSTEM:%1") : QStringLiteral("EXEC:%1")).arg(command)});
    }

    bool peerFinished(int ms = 30000)
    {
        QDeadlineTimer deadline(ms);
        while (peer->state() != QProcess::NotRunning && !deadline.hasExpired())
            QTest::qWait(10);
        return peer->state() == QProcess::NotRunning;
    }

    ~Bench()
    {
        if (peer && peer->state() != QProcess::NotRunning) {
            peer->kill();
            peer->waitForFinished(3000);
        }
    }
};

// The device end of the pair played by the test itself: an XMODEM-CRC
// receiver that asks for the first block exactly once, and then acknowledges
// the blocks and the end of transmission as told.
struct ScriptedReceiver {
    QSerialPort port;
    int ackedBlocks = -1;   // blocks acknowledged before every later one is refused; -1: all
    bool answerEot = true;
    QByteArray buffer;
    QByteArray data;
    int blocks = 0;
    int eots = 0;

    bool open(const QString& path)
    {
        port.setPortName(path);
        if (!port.open(QIODevice::ReadWrite))
            return false;
        QObject::connect(&port, &QSerialPort::readyRead, &port, [this] { read(); });
        return true;
    }
    void ask() { reply(SerialTransfer::CrcRequest); }
    void reply(char c)
    {
        port.write(QByteArray(1, c));
        port.flush();
    }
    void read()
    {
        buffer += port.readAll();
        while (!buffer.isEmpty()) {
            if (buffer.at(0) == SerialTransfer::EOT) {
                buffer.remove(0, 1);
                ++eots;
                if (answerEot)
                    reply(SerialTransfer::ACK);
            } else if (buffer.at(0) == SerialTransfer::SOH) {
                if (buffer.size() < 133)
                    return;
                const QByteArray block = buffer.left(133);
                buffer.remove(0, 133);
                const bool fresh = static_cast<unsigned char>(block.at(1)) == ((blocks + 1) & 0xff);
                if (ackedBlocks >= 0 && blocks >= ackedBlocks && fresh) {
                    reply(SerialTransfer::NAK);
                    continue;
                }
                if (fresh) {
                    data += block.mid(3, 128);
                    ++blocks;
                }
                reply(SerialTransfer::ACK);
            } else {
                buffer.remove(0, 1);
            }
        }
    }
};

} // namespace

class SerialTransferTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void crc()
    {
        QCOMPARE(SerialTransfer::crc("123456789"), quint16(0x31c3));
        QCOMPARE(SerialTransfer::crc(QByteArray()), quint16(0));
    }

    void sendToRx_data()
    {
        QTest::addColumn<int>("size");
        QTest::newRow("empty") << 0;
        QTest::newRow("128") << 128;
        QTest::newRow("129") << 129;
        QTest::newRow("1024 blocks + 1") << 1024 * 128 + 1;
    }

    void sendToRx()
    {
        QFETCH(int, size);
        QTemporaryDir dir;
        const QString in = dir.filePath(QStringLiteral("in.bin"));
        const QString out = dir.filePath(QStringLiteral("out.bin"));
        const QByteArray data = randomBytes(size, quint32(size));
        QVERIFY(writeBytes(in, data));
        Bench b;
        QVERIFY(b.start());
        QSignalSpy finished(&b.transfer, &SerialTransfer::finished);
        b.runPeer(QStringLiteral("rx -q -c -b out.bin"), dir.path());
        QVERIFY(b.transfer.startSend(in, SerialTransfer::XmodemCrc));
        QVERIFY(finished.wait(60000));
        QCOMPARE(finished.first().at(1).toString(), QStringLiteral("发送完成，对端已确认"));
        QCOMPARE(finished.first().at(0).toBool(), true);
        QCOMPARE(b.transfer.transferred(), qint64(size));
        QVERIFY(b.peerFinished());
        QCOMPARE(b.peer->exitCode(), 0);
        QCOMPARE(readBytes(out), padded(data, 128));
    }

    // rx quits right after the ACK of the EOT, and a pty may lose what a
    // closing side wrote last: every send still ends delivered, confirmed or
    // not, with the file whole.
    void tenSendsToRx()
    {
        Bench b;
        QVERIFY(b.start());
        int unconfirmed = 0;
        for (int run = 0; run < 10; ++run) {
            QTemporaryDir dir;
            const QString in = dir.filePath(QStringLiteral("in.bin"));
            const QByteArray data = randomBytes(12000 + run * 131, quint32(run) + 100);
            QVERIFY(writeBytes(in, data));
            QSignalSpy finished(&b.transfer, &SerialTransfer::finished);
            b.runPeer(QStringLiteral("rx -q -c -b out.bin"), dir.path());
            QVERIFY(b.transfer.startSend(in, SerialTransfer::XmodemCrc));
            QVERIFY(finished.wait(60000));
            QVERIFY2(finished.first().at(0).toBool(), qPrintable(finished.first().at(1).toString()));
            const QString message = finished.first().at(1).toString();
            QVERIFY2(message == QStringLiteral("发送完成，对端已确认")
                         || message == QStringLiteral("文件已全部送达，接收端未确认结束"),
                     qPrintable(message));
            unconfirmed += b.transfer.endUnconfirmed();
            QCOMPARE(b.transfer.transferred(), qint64(data.size()));
            QVERIFY(b.peerFinished());
            QCOMPARE(b.peer->exitCode(), 0);
            QCOMPARE(readBytes(dir.filePath(QStringLiteral("out.bin"))), padded(data, 128));
        }
        qInfo("ends not confirmed by rx: %d of 10", unconfirmed);
    }

    // The scripted receiver asks once; whether it answers the EOT and how many
    // blocks it takes decide the result.
    void scriptedReceiver_data()
    {
        QTest::addColumn<int>("ackedBlocks");
        QTest::addColumn<bool>("answerEot");
        QTest::addColumn<bool>("success");
        QTest::addColumn<QString>("message");
        QTest::newRow("end confirmed") << -1 << true << true << QStringLiteral("发送完成，对端已确认");
        QTest::newRow("end never confirmed") << -1 << false << true << QStringLiteral("文件已全部送达，接收端未确认结束");
        QTest::newRow("last block refused") << 3 << false << false << QStringLiteral("连续重试超过 10 次，传输失败");
    }

    void scriptedReceiver()
    {
        QFETCH(int, ackedBlocks);
        QFETCH(bool, answerEot);
        QFETCH(bool, success);
        QFETCH(QString, message);
        QTemporaryDir dir;
        const QString in = dir.filePath(QStringLiteral("in.bin"));
        const QByteArray data = randomBytes(4 * 128 - 5, 77);
        QVERIFY(writeBytes(in, data));
        Bench b;
        QVERIFY(b.start());
        ScriptedReceiver peer;
        peer.ackedBlocks = ackedBlocks;
        peer.answerEot = answerEot;
        QVERIFY(peer.open(b.pair.portB()));
        QSignalSpy finished(&b.transfer, &SerialTransfer::finished);
        QVERIFY(b.transfer.startSend(in, SerialTransfer::XmodemCrc));
        peer.ask();
        QVERIFY(finished.wait(120000));
        QCOMPARE(finished.first().at(1).toString(), message);
        QCOMPARE(finished.first().at(0).toBool(), success);
        QCOMPARE(b.transfer.endUnconfirmed(), success && !answerEot);
        if (!success) {
            QCOMPARE(peer.blocks, ackedBlocks);
            return;
        }
        QCOMPARE(peer.data, padded(data, 128));
        QCOMPARE(b.transfer.transferred(), qint64(data.size()));
        if (!answerEot)
            QVERIFY(peer.eots >= 2);   // the EOT is repeated before the end is given up
    }

    // Started as the dialog asks, the receiver's one 'C' reached the journal
    // before the send began: the first block answers it, so a receiver that
    // never asks again is served all the same.
    void receiverStartedFirst()
    {
        QTemporaryDir dir;
        const QString in = dir.filePath(QStringLiteral("in.bin"));
        const QByteArray data = randomBytes(3000, 78);
        QVERIFY(writeBytes(in, data));
        Bench b;
        QVERIFY(b.start());
        ScriptedReceiver peer;
        QVERIFY(peer.open(b.pair.portB()));
        QVERIFY(!receiverAlreadyAsked(b.engine.journal, b.channel->id));
        peer.ask();
        QTRY_VERIFY_WITH_TIMEOUT(receiverAlreadyAsked(b.engine.journal, b.channel->id), 10000);
        const qint64 before = b.engine.journal.lastSeq;
        QSignalSpy finished(&b.transfer, &SerialTransfer::finished);
        QVERIFY(b.transfer.startSend(in, SerialTransfer::XmodemCrc, true));
        QVERIFY(finished.wait(60000));
        QCOMPARE(finished.first().at(1).toString(), QStringLiteral("发送完成，对端已确认"));
        QCOMPARE(peer.data, padded(data, 128));
        // What the channel logged from the start on begins with block 1.
        const QJsonObject first = b.engine.journal.events.at(std::size_t(before)).first;
        QCOMPARE(first.value(QLatin1String("seq")).toInteger(), before + 1);
        QCOMPARE(first.value(QLatin1String("direction")).toString(), QStringLiteral("tx"));
        QVERIFY(first.value(QLatin1String("hex")).toString().startsWith(QStringLiteral("01 01 fe")));
    }

    void receiveFromSx_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<bool>("oneK");
        QTest::addColumn<bool>("declared");
        QTest::newRow("empty, declared size") << 0 << false << true;
        QTest::newRow("empty, no size") << 0 << false << false;
        QTest::newRow("128, 128-byte blocks") << 128 << false << true;
        QTest::newRow("129, declared size") << 129 << false << true;
        QTest::newRow("129, no size keeps fill") << 129 << false << false;
        QTest::newRow("1K blocks, 1024 blocks + 1") << 1024 * 128 + 1 << true << true;
        QTest::newRow("1K blocks, 129, no size") << 129 << true << false;
    }

    void receiveFromSx()
    {
        QFETCH(int, size);
        QFETCH(bool, oneK);
        QFETCH(bool, declared);
        QTemporaryDir dir;
        const QString in = dir.filePath(QStringLiteral("in.bin"));
        const QString out = dir.filePath(QStringLiteral("out.bin"));
        const QByteArray data = randomBytes(size, quint32(size) + 7);
        QVERIFY(writeBytes(in, data));
        Bench b;
        QVERIFY(b.start());
        QSignalSpy finished(&b.transfer, &SerialTransfer::finished);
        QVERIFY(b.transfer.startReceive(out, SerialTransfer::XmodemCrc, declared ? size : -1));
        b.runPeer(QStringLiteral("sx -q %1-b in.bin").arg(oneK ? QStringLiteral("-k ") : QString()), dir.path());
        // The file appears only once it is complete.
        QTRY_VERIFY_WITH_TIMEOUT(b.transfer.transferred() > 0 || !b.transfer.active(), 30000);
        if (b.transfer.active() && b.transfer.transferred() < size)
            QVERIFY(!QFile::exists(out));
        QTRY_VERIFY_WITH_TIMEOUT(!finished.isEmpty(), 60000);
        QCOMPARE(finished.first().at(1).toString(), QStringLiteral("接收完成，文件已保存"));
        QVERIFY(b.peerFinished());
        QCOMPARE(b.peer->exitCode(), 0);
        // sx sends a tail shorter than 1 KiB in 128-byte blocks.
        QCOMPARE(readBytes(out), declared ? data : padded(data, 128));
    }

    void receiveOntoAFullDiskKeepsTheEarlierFile_data()
    {
        QTest::addColumn<bool>("xmodem");
        QTest::newRow("XMODEM from sx") << true;
        QTest::newRow("raw bytes of a declared size") << false;
    }

    // 10,000 bytes stay inside the save file's own buffer, where only a flush
    // of each block sees that the disk refuses them.
    void receiveOntoAFullDiskKeepsTheEarlierFile()
    {
        QFETCH(bool, xmodem);
        QTemporaryDir dir;
        const QString in = dir.filePath(QStringLiteral("in.bin"));
        const QString out = dir.filePath(QStringLiteral("out.bin"));
        const QByteArray data = randomBytes(10000, 37);
        const QByteArray earlier("an earlier file of that name\n");
        QVERIFY(writeBytes(in, data));
        QVERIFY(writeBytes(out, earlier));
        Bench b;
        QVERIFY(b.start());
        QSignalSpy finished(&b.transfer, &SerialTransfer::finished);
        QVERIFY(b.transfer.startReceive(out, xmodem ? SerialTransfer::XmodemCrc : SerialTransfer::Raw, data.size()));
        b.runPeer(xmodem ? QStringLiteral("sx -q -b in.bin") : QStringLiteral("cat in.bin"), dir.path());
        {
            // Set once the peer runs, so only this process is limited: what a
            // full disk does, without root.
            const vn::test::FileSizeLimit limit(4096);
            QTRY_VERIFY_WITH_TIMEOUT(!finished.isEmpty(), 60000);
        }
        QCOMPARE(finished.first().at(0).toBool(), false);
        QCOMPARE(finished.first().at(1).toString(), QStringLiteral("目标文件写入失败"));
        QCOMPARE(b.transfer.statusText(), QStringLiteral("目标文件写入失败"));
        QVERIFY(b.transfer.transferred() <= 4096);
        QCOMPARE(readBytes(out), earlier);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
                 QStringList({QStringLiteral("in.bin"), QStringLiteral("out.bin")}));
    }

    void emptyFile()
    {
        QTemporaryDir dir;
        const QString in = dir.filePath(QStringLiteral("empty.bin"));
        QVERIFY(writeBytes(in, QByteArray()));
        // Sending answers the first 'C' with EOT.
        SerialTransfer t;
        QByteArray wire;
        t.writer = [&wire](const QByteArray& bytes) {
            wire += bytes;
            return true;
        };
        QSignalSpy finished(&t, &SerialTransfer::finished);
        QVERIFY(t.startSend(in, SerialTransfer::XmodemCrc));
        t.feed("C");
        QCOMPARE(wire, QByteArray(1, SerialTransfer::EOT));
        t.feed(QByteArray(1, SerialTransfer::ACK));
        QCOMPARE(finished.count(), 1);
        QCOMPARE(finished.first().at(1).toString(), QStringLiteral("发送完成，对端已确认"));

        // Raw: an empty send ends at once; a receive of declared size 0 too.
        SerialTransfer raw;
        raw.writer = [](const QByteArray&) { return true; };
        QSignalSpy rawFinished(&raw, &SerialTransfer::finished);
        QVERIFY(raw.startSend(in, SerialTransfer::Raw));
        QVERIFY(rawFinished.wait(20000));
        QCOMPARE(rawFinished.first().at(1).toString(), QStringLiteral("发送完成（驱动已发送，设备端无确认）"));
        const QString out = dir.filePath(QStringLiteral("zero.bin"));
        QVERIFY(raw.startReceive(out, SerialTransfer::Raw, 0));
        QCOMPARE(rawFinished.count(), 2);
        QCOMPARE(rawFinished.last().at(1).toString(), QStringLiteral("接收完成"));
        QVERIFY(QFile::exists(out));
        QCOMPARE(QFileInfo(out).size(), 0);
    }

    void rawBothWays()
    {
        QTemporaryDir dir;
        const QString in = dir.filePath(QStringLiteral("in.bin"));
        const QString got = dir.filePath(QStringLiteral("got.bin"));
        const QString out = dir.filePath(QStringLiteral("out.bin"));
        const QByteArray data = randomBytes(20000, 3);
        QVERIFY(writeBytes(in, data));
        {
            Bench b;
            QVERIFY(b.start());
            QSignalSpy finished(&b.transfer, &SerialTransfer::finished);
            b.runPeer(QStringLiteral("head -c %1 > got.bin").arg(data.size()), dir.path(), true);
            QVERIFY(b.transfer.startSend(in, SerialTransfer::Raw));
            QVERIFY(finished.wait(30000));
            QCOMPARE(finished.first().at(1).toString(), QStringLiteral("发送完成（驱动已发送，设备端无确认）"));
            QVERIFY(b.peerFinished());
            QCOMPARE(readBytes(got), data);
        }
        Bench b;
        QVERIFY(b.start());
        QSignalSpy finished(&b.transfer, &SerialTransfer::finished);
        QVERIFY(b.transfer.startReceive(out, SerialTransfer::Raw, data.size()));
        b.runPeer(QStringLiteral("cat in.bin"), dir.path());
        QVERIFY(finished.wait(30000));
        QCOMPARE(finished.first().at(1).toString(), QStringLiteral("接收完成"));
        QCOMPARE(readBytes(out), data);
    }
};

QTEST_GUILESS_MAIN(SerialTransferTest)
#include "SerialTransferTest.moc"
