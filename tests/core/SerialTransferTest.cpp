#include "core/Channel.h"
#include "core/Engine.h"
#include "core/SerialTransfer.h"
#include "tests/support/TestSupport.h"

#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
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
        QVERIFY(rawFinished.wait(2000));
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
