#include "core/SerialTransfer.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace vn;
using T = SerialTransfer;

namespace {

QByteArray block(int number, const QByteArray& data, char head = T::SOH)
{
    const int size = head == T::SOH ? 128 : 1024;
    QByteArray payload = data + QByteArray(size - data.size(), T::Fill);
    QByteArray out;
    out.append(head);
    out.append(char(number & 0xff));
    out.append(char(255 - (number & 0xff)));
    out.append(payload);
    const quint16 crc = T::crc(payload);
    out.append(char(crc >> 8));
    out.append(char(crc & 0xff));
    return out;
}

// The engine with a recording writer and a file to send or receive.
struct Wire {
    QTemporaryDir dir;
    T transfer;
    QByteArray sent;
    bool accept = true;
    int aborts = 0;
    QSignalSpy finished{&transfer, &T::finished};

    Wire()
    {
        transfer.writer = [this](const QByteArray& bytes) {
            if (!accept)
                return false;
            sent += bytes;
            return true;
        };
        transfer.abortHook = [this] { ++aborts; };
    }
    QString path(const char* name) const { return dir.filePath(QLatin1String(name)); }
    QString source(const QByteArray& data)
    {
        QFile f(path("src.bin"));
        f.open(QIODevice::WriteOnly);
        f.write(data);
        return f.fileName();
    }
    QByteArray take()
    {
        const QByteArray out = sent;
        sent.clear();
        return out;
    }
    QString result() const { return finished.isEmpty() ? QString() : finished.last().at(1).toString(); }
};

const QByteArray ack(1, T::ACK), nak(1, T::NAK), eot(1, T::EOT), cancelPair(2, T::CAN);

} // namespace

class SerialTransferProtocolTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void sendBlocksAndWrap()
    {
        Wire w;
        QByteArray data;
        for (int i = 0; i < 257 * 128 + 1; ++i)
            data.append(char(i * 7));
        QVERIFY(w.transfer.startSend(w.source(data), T::XmodemCrc));
        QCOMPARE(w.transfer.statusText(), QStringLiteral("等待接收端发送 C（CRC 模式）"));
        w.transfer.feed(nak);   // only CRC mode is spoken
        QCOMPARE(w.sent, QByteArray());
        w.transfer.feed("C");
        for (int n = 1; n <= 258; ++n) {
            QTRY_COMPARE(w.sent.size(), 133);
            const QByteArray b = w.take();
            QCOMPARE(b.at(0), T::SOH);
            QCOMPARE(static_cast<unsigned char>(b.at(1)), static_cast<unsigned char>(n & 0xff));
            QCOMPARE(b, block(n, data.mid((n - 1) * 128, 128)));
            w.transfer.feed(ack);
        }
        QTRY_COMPARE(w.sent, eot);
        w.take();
        w.transfer.feed(nak);   // the first NAK of EOT: EOT again, not a retry
        QCOMPARE(w.take(), eot);
        QCOMPARE(w.transfer.retries(), 0);
        w.transfer.feed(ack);
        QCOMPARE(w.result(), QStringLiteral("发送完成，对端已确认"));
        QCOMPARE(w.transfer.transferred(), qint64(data.size()));
    }

    void sendRetriesAndCancel()
    {
        Wire w;
        QVERIFY(w.transfer.startSend(w.source("abc"), T::XmodemCrc));
        w.transfer.feed("C");
        const QByteArray first = w.take();
        for (int i = 1; i <= 10; ++i) {
            w.transfer.feed(nak);
            QCOMPARE(w.take(), first);
            QCOMPARE(w.transfer.statusText(), QStringLiteral("正在重传 · 第 %1 次").arg(i));
        }
        w.transfer.feed(nak);
        QCOMPARE(w.result(), QStringLiteral("连续重试超过 10 次，传输失败"));
        QCOMPARE(w.take(), cancelPair);
        QCOMPARE(w.aborts, 1);
        QVERIFY(!w.transfer.active());
        w.transfer.cancel(QStringLiteral("late"));   // harmless once ended
        QCOMPARE(w.finished.count(), 1);
    }

    // A receiver that asked before the send began gets its first block at
    // once; the end is announced as what is left once every block is in.
    void earlyRequestAndEnd()
    {
        Wire w;
        QVERIFY(w.transfer.startSend(w.source("abc"), T::XmodemCrc, true));
        QCOMPARE(w.take(), block(1, "abc"));
        QCOMPARE(w.transfer.statusText(), QStringLiteral("正在发送 · 等待数据块确认"));
        w.transfer.feed(ack);
        QTRY_COMPARE(w.sent, eot);
        w.take();
        QCOMPARE(w.transfer.statusText(), QStringLiteral("数据已全部确认，等待接收端确认结束"));
        w.transfer.feed(ack);
        QCOMPARE(w.result(), QStringLiteral("发送完成，对端已确认"));
        QVERIFY(!w.transfer.endUnconfirmed());
    }

    // Only a silent end counts as delivered: a receiver that keeps refusing
    // the EOT fails the send as a refused block would.
    void endRefused()
    {
        Wire w;
        QVERIFY(w.transfer.startSend(w.source("abc"), T::XmodemCrc));
        w.transfer.feed("C");
        w.transfer.feed(ack);
        QTRY_COMPARE(w.sent, block(1, "abc") + eot);
        w.take();
        w.transfer.feed(nak);
        QCOMPARE(w.take(), eot);
        for (int i = 1; i <= 10; ++i) {
            w.transfer.feed(nak);
            QCOMPARE(w.take(), eot);
            QCOMPARE(w.transfer.statusText(), QStringLiteral("数据已全部确认，重发结束标记 · 第 %1 次").arg(i));
        }
        w.transfer.feed(nak);
        QCOMPARE(w.result(), QStringLiteral("连续重试超过 10 次，传输失败"));
        QCOMPARE(w.finished.last().at(0).toBool(), false);
        QCOMPARE(w.take(), cancelPair);
        QVERIFY(!w.transfer.endUnconfirmed());
    }

    void peerCancels()
    {
        Wire w;
        QVERIFY(w.transfer.startSend(w.source("abc"), T::XmodemCrc));
        w.transfer.feed(QByteArray(1, T::CAN) + "x");   // one CAN then something else: no cancel
        QVERIFY(w.transfer.active());
        w.transfer.feed(cancelPair);
        QCOMPARE(w.result(), QStringLiteral("对端取消了传输"));
        QCOMPARE(w.aborts, 0);
        QCOMPARE(w.sent, QByteArray());   // nothing sent back
    }

    void receiveRules()
    {
        Wire w;
        const QString out = w.path("out.bin");
        QVERIFY(w.transfer.startReceive(out, T::XmodemCrc, -1));
        QCOMPARE(w.take(), QByteArray("C"));
        const QByteArray a(128, 'a');
        w.transfer.feed("junk" + block(1, a));
        QCOMPARE(w.take(), ack);
        w.transfer.feed(block(1, a));   // a repeat: acknowledged, not stored
        QCOMPARE(w.take(), ack);
        QByteArray corrupt = block(2, "b");
        corrupt[10] = 'X';
        w.transfer.feed(corrupt);
        QCOMPARE(w.take(), nak);
        QCOMPARE(w.transfer.statusText(), QStringLiteral("数据块校验失败，请求重传"));
        w.transfer.feed(block(2, QByteArray(1024, 'k'), T::STX));
        QCOMPARE(w.take(), ack);
        QVERIFY(!QFile::exists(out));   // nothing before the end
        w.transfer.feed(eot);
        QCOMPARE(w.take(), nak);
        w.transfer.feed(eot);
        QCOMPARE(w.take(), ack);
        QCOMPARE(w.transfer.phase(), T::EotAcknowledged);
        QFile f(out);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), a + QByteArray(1024, 'k'));
        w.transfer.feed(eot);   // within the linger: ACK again
        QCOMPARE(w.take(), ack);
        QVERIFY(w.finished.wait(20000));
        QCOMPARE(w.result(), QStringLiteral("接收完成，文件已保存"));
    }

    void receiveFailures_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<qint64>("declared");
        QTest::addColumn<QString>("message");
        QTest::newRow("first block numbered 0") << block(0, "x") << qint64(-1) << QStringLiteral("XMODEM 数据块序号不连续");
        QTest::newRow("block skipped") << block(1, "x") + block(3, "y") << qint64(-1) << QStringLiteral("XMODEM 数据块序号不连续");
        QTest::newRow("beyond declared size") << block(1, "x") + block(2, "y") << qint64(100) << QStringLiteral("发送端的数据超过指定文件大小");
        QTest::newRow("ended early") << block(1, "x") + eot + eot << qint64(300) << QStringLiteral("文件提前结束，大小与预期不符");
        QTest::newRow("too much junk") << QByteArray(4097, 'j') << qint64(-1) << QStringLiteral("收到过多非 XMODEM 数据，请停止设备日志后重试");
        QByteArray bad = block(1, "x");
        bad[2] = 0;
        QByteArray bads;
        for (int i = 0; i < 11; ++i)
            bads += bad;
        QTest::newRow("eleven bad blocks") << bads << qint64(-1) << QStringLiteral("连续无效数据块超过 10 次");
    }

    void receiveFailures()
    {
        QFETCH(QByteArray, input);
        QFETCH(qint64, declared);
        QFETCH(QString, message);
        Wire w;
        const QString out = w.path("out.bin");
        QVERIFY(w.transfer.startReceive(out, T::XmodemCrc, declared));
        w.transfer.feed(input);
        QCOMPARE(w.result(), message);
        QCOMPARE(w.finished.last().at(0).toBool(), false);
        QVERIFY(w.sent.endsWith(cancelPair));
        QVERIFY(!QFile::exists(out));   // a failed receive leaves no file
    }

    void junkDroppedByteByByte()
    {
        Wire w;
        QVERIFY(w.transfer.startReceive(w.path("x"), T::XmodemCrc, -1));
        for (int i = 0; i < 3; ++i)
            w.transfer.feed(QByteArray(4000, 'j'));   // each delivery fits, and is dropped
        QVERIFY(w.transfer.active());
    }

    void declaredSizeTrimsFill()
    {
        Wire w;
        const QString out = w.path("out.bin");
        QVERIFY(w.transfer.startReceive(out, T::XmodemCrc, 130));
        w.transfer.feed(block(1, QByteArray(128, 'a')) + block(2, "bc") + eot + eot);
        QFile f(out);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray(128, 'a') + "bc");
    }

    void refusedStarts()
    {
        Wire w;
        QVERIFY(!w.transfer.startReceive(w.path("x"), T::Raw, -2));
        QVERIFY(!w.transfer.startSend(w.path("missing"), T::Raw));
        QVERIFY(!w.transfer.statusText().isEmpty());
        QVERIFY(!w.transfer.startReceive(w.path("no/such/dir/x"), T::Raw, -1));
        QCOMPARE(w.finished.count(), 0);
        QVERIFY(w.transfer.startReceive(w.path("x"), T::Raw, -1));
        QVERIFY(!w.transfer.startSend(w.source("a"), T::Raw));   // one at a time
        w.transfer.cancel(QStringLiteral("用户取消"));
        QCOMPARE(w.result(), QStringLiteral("用户取消"));
        QCOMPARE(w.sent, QByteArray());   // raw: no CAN
    }

    void writerRefusesFirstC()
    {
        Wire w;
        w.accept = false;
        QVERIFY(w.transfer.startReceive(w.path("x"), T::XmodemCrc, -1));
        QCOMPARE(w.result(), QStringLiteral("串口写入失败，传输已停止"));
        QCOMPARE(w.aborts, 0);
    }

    void rawReceive()
    {
        Wire w;
        const QString out = w.path("raw.bin");
        QVERIFY(w.transfer.startReceive(out, T::Raw, 5));
        w.transfer.feed("abc");
        w.transfer.feed("defg");
        QCOMPARE(w.result(), QStringLiteral("收到的数据超过指定文件大小"));
        QVERIFY(!QFile::exists(out));
        QVERIFY(w.transfer.startReceive(out, T::Raw, -1));
        w.transfer.feed("hello");
        w.transfer.saveRawReceive();
        QCOMPARE(w.result(), QStringLiteral("接收已停止，文件已保存"));
        QFile f(out);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("hello"));
    }

    void rawSendWaitsForDrain()
    {
        Wire w;
        QVERIFY(w.transfer.startSend(w.source(QByteArray(5000, 'r')), T::Raw));
        QTRY_COMPARE(w.sent.size(), 4096);
        QTest::qWait(50);
        QCOMPARE(w.sent.size(), 4096);   // the next chunk only after the line drained
        w.transfer.drained();
        QTRY_COMPARE(w.sent.size(), 5000);
        w.transfer.drained();
        QTRY_COMPARE(w.result(), QStringLiteral("发送完成（驱动已发送，设备端无确认）"));
    }

    void receiverRepeatsC()
    {
        Wire w;
        QVERIFY(w.transfer.startReceive(w.path("x"), T::XmodemCrc, -1));
        QCOMPARE(w.take(), QByteArray("C"));
        QTRY_COMPARE_WITH_TIMEOUT(w.sent, QByteArray("C"), 20000);
        QCOMPARE(w.transfer.retries(), 1);
    }

    // lrzsz's rx acknowledges an EOT only after a second of quiet on the line;
    // an EOT repeated at that moment crosses the ACK and spoils the ending.
    void senderWaitsOutEotCheck()
    {
        Wire w;
        QVERIFY(w.transfer.startSend(w.source(QByteArray()), T::XmodemCrc));
        w.transfer.feed("C");
        QCOMPARE(w.take(), eot);
        QElapsedTimer quiet;
        quiet.start();
        QTRY_COMPARE_WITH_TIMEOUT(w.sent, eot, 20000);
        QVERIFY2(quiet.elapsed() >= 2000, qPrintable(QString::number(quiet.elapsed())));
        QCOMPARE(w.transfer.retries(), 1);
        w.transfer.feed(ack);
        QCOMPARE(w.result(), QStringLiteral("发送完成，对端已确认"));
    }
};

QTEST_GUILESS_MAIN(SerialTransferProtocolTest)
#include "SerialTransferProtocolTest.moc"
