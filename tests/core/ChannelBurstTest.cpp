#include "core/Channel.h"
#include "core/Engine.h"
#include "tests/support/TestSupport.h"

#include <QFile>
#include <QJsonArray>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QUdpSocket>

#include <memory>
#include <vector>

using namespace vn;

namespace {

constexpr qsizetype BurstBytes = 30 * 1000 * 1000;
constexpr qint64 OneMiB = 1048576;

// Bytes no piece boundary can hide a fault in: every value, no repeat within
// a piece, and invalid UTF-8 on the way.
QByteArray burst()
{
    QByteArray data(BurstBytes, Qt::Uninitialized);
    char* p = data.data();
    for (qsizetype i = 0; i < BurstBytes; ++i)
        p[i] = char((i * 7 + i / 251) & 0xff);
    return data;
}

// Follows the journal after every append, the only time it drops anything,
// and puts each direction's events of one channel back together.
class Follower : public QObject {
public:
    Follower(Engine& engine, const QString& channelId)
        : m_engine(engine)
        , m_channelId(channelId)
    {
        connect(&engine, &Engine::eventAdded, this, &Follower::read);
    }

    void read()
    {
        for (;;) {
            const QJsonObject page = m_engine.journal.read(m_cursor, 1000, m_channelId);
            gap = gap || page.value(QLatin1String("gap")).toBool();
            for (const QJsonValue& value : page.value(QLatin1String("events")).toArray()) {
                const QJsonObject event = value.toObject();
                const QString direction = event.value(QLatin1String("direction")).toString();
                if (direction == QLatin1String("status")) {
                    statuses.append(event.value(QLatin1String("message")).toString());
                    statusAtBytes.append(bytes[QStringLiteral("rx")].size());
                    continue;
                }
                const qint64 size = event.value(QLatin1String("size")).toInteger();
                largest[direction] = std::max(largest.value(direction), size);
                ++events[direction];
                const QByteArray payload = QByteArray::fromHex(event.value(QLatin1String("hex")).toString().toLatin1());
                if (payload.size() != size)
                    badSizes = true;
                bytes[direction] += payload;
                if (direction == QLatin1String("rx"))
                    fromPeer[event.value(QLatin1String("peer")).toString()] += payload;
            }
            m_cursor = page.value(QLatin1String("next_cursor")).toInteger();
            if (!page.value(QLatin1String("has_more")).toBool())
                return;
        }
    }

    QMap<QString, QByteArray> bytes;
    QMap<QString, QByteArray> fromPeer; // received, by peer
    QMap<QString, qint64> largest;
    QMap<QString, int> events;
    QStringList statuses;
    QList<qsizetype> statusAtBytes; // received bytes before each status
    bool gap = false;
    bool badSizes = false;

private:
    Engine& m_engine;
    QString m_channelId;
    qint64 m_cursor = 0;
};

Config network(const char* kind, int remotePort, int bindPort)
{
    Config c;
    c.kind = QLatin1String(kind);
    c.network_port = remotePort;
    c.bind_port = bindPort;
    return c;
}

qint64 rmemMax()
{
    QFile file(QStringLiteral("/proc/sys/net/core/rmem_max"));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    return file.readAll().trimmed().toLongLong();
}

} // namespace

class ChannelBurstTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // A peer that writes 30 MB before the loop gets to read any of it, then
    // goes: the channel journals it in pieces of at most 1 MiB, in order and
    // byte for byte, and only then the end of the connection.
    void burstIsJournaledInPieces_data()
    {
        QTest::addColumn<QString>("transport");
        QTest::newRow("tcp client") << QStringLiteral("tcp-client");
        QTest::newRow("tcp server client") << QStringLiteral("tcp-server");
        QTest::newRow("loopback, sent and received in one go") << QStringLiteral("loop");
    }
    void burstIsJournaledInPieces()
    {
        QFETCH(QString, transport);
        const QByteArray data = burst();
        Engine engine;
        QTcpServer server;
        std::unique_ptr<QTcpSocket> peer;
        Channel* ch = nullptr;
        if (transport == QLatin1String("tcp-client")) {
            QVERIFY(server.listen(QHostAddress::LocalHost, 0));
            ch = engine.open(network("tcp-client", server.serverPort(), 9001));
            QTRY_COMPARE(ch->state, QStringLiteral("connected"));
            QVERIFY(server.hasPendingConnections() || server.waitForNewConnection(20000));
            peer.reset(server.nextPendingConnection());
        } else if (transport == QLatin1String("tcp-server")) {
            const quint16 port = test::freeTcpPort();
            ch = engine.open(network("tcp-server", 9000, port));
            QCOMPARE(ch->state, QStringLiteral("listening"));
            peer = std::make_unique<QTcpSocket>();
            peer->connectToHost(QHostAddress::LocalHost, port);
            QVERIFY(peer->waitForConnected(20000));
            QTRY_COMPARE(ch->clients.size(), std::size_t(1));
        } else {
            Config loop;
            loop.port = QStringLiteral("loop://");
            ch = engine.open(loop);
            QCOMPARE(ch->state, QStringLiteral("connected"));
        }
        Follower follower(engine, ch->id);
        follower.read();
        follower.statuses.clear();
        follower.statusAtBytes.clear();

        if (peer) {
            // All of it handed over at once; the socket writes it out as the
            // channel reads, then closes.
            QCOMPARE(peer->write(data), qint64(data.size()));
            peer->disconnectFromHost();
        } else {
            ch->send(data, QString(), QStringLiteral("test"));
            QCOMPARE(follower.bytes.value(QStringLiteral("tx")), data);
            QVERIFY(follower.largest.value(QStringLiteral("tx")) <= OneMiB);
            QVERIFY(follower.events.value(QStringLiteral("tx")) >= int(data.size() / OneMiB));
        }
        QTRY_COMPARE_WITH_TIMEOUT(ch->rxBytes, qint64(data.size()), 60000);
        if (transport == QLatin1String("tcp-client"))
            QTRY_COMPARE_WITH_TIMEOUT(ch->state, QStringLiteral("closed"), 30000);
        else if (transport == QLatin1String("tcp-server"))
            QTRY_COMPARE_WITH_TIMEOUT(ch->clients.size(), std::size_t(0), 30000);

        QVERIFY(!follower.gap);
        QVERIFY(!follower.badSizes);
        QVERIFY2(follower.largest.value(QStringLiteral("rx")) <= OneMiB,
                 qPrintable(QString::number(follower.largest.value(QStringLiteral("rx")))));
        QVERIFY(follower.largest.value(QStringLiteral("rx")) <= Channel::MaxPiece);
        QVERIFY(follower.events.value(QStringLiteral("rx")) >= 30);
        QVERIFY(follower.bytes.value(QStringLiteral("rx")) == data);
        if (transport == QLatin1String("tcp-client")) {
            // Qt may report the remote close as an error first; either way
            // every byte was journaled before the connection's end.
            QVERIFY2(!follower.statuses.isEmpty() && follower.statuses.last() == QLatin1String("closed"),
                     qPrintable(follower.statuses.join(QLatin1String(" | "))));
            QVERIFY(follower.statuses.size() <= 2);
            for (const qsizetype before : std::as_const(follower.statusAtBytes))
                QCOMPARE(before, data.size());
        }
        // The history keeps the newest traffic: its newest event is the
        // burst's last piece.
        const QJsonObject newest = engine.journal.events.back().first;
        if (transport != QLatin1String("tcp-client")) {
            QCOMPARE(newest.value(QLatin1String("direction")).toString(), QStringLiteral("rx"));
            QVERIFY(data.endsWith(QByteArray::fromHex(newest.value(QLatin1String("hex")).toString().toLatin1())));
        }
    }

    // Several connections that write a burst each and then only wait: once
    // the shared allowance and every socket's read-ahead are used up, no new
    // readyRead comes, and what the channel still has to take is taken up
    // when the allowance is renewed. Each peer's bytes arrive whole and in
    // order, none of them starved by the others.
    void pacedConnectionsResumeWithoutNewData()
    {
        constexpr int Peers = 3;
        constexpr qsizetype Each = 6 * 1000 * 1000;
        const QByteArray all = burst();
        Engine engine;
        const quint16 port = test::freeTcpPort();
        Channel* ch = engine.open(network("tcp-server", 9000, port));
        QCOMPARE(ch->state, QStringLiteral("listening"));
        std::vector<std::unique_ptr<QTcpSocket>> peers;
        for (int i = 0; i < Peers; ++i) {
            peers.push_back(std::make_unique<QTcpSocket>());
            peers.back()->connectToHost(QHostAddress::LocalHost, port);
            QVERIFY(peers.back()->waitForConnected(20000));
        }
        QTRY_COMPARE(ch->clients.size(), std::size_t(Peers));
        Follower follower(engine, ch->id);
        follower.read();

        QMap<QString, QByteArray> expected;
        for (int i = 0; i < Peers; ++i) {
            const QByteArray data = all.mid(i * Each, Each);
            QCOMPARE(peers[i]->write(data), qint64(data.size()));
            expected[QStringLiteral("127.0.0.1:%1").arg(peers[i]->localPort())] = data;
        }
        QTRY_COMPARE_WITH_TIMEOUT(ch->rxBytes, qint64(Peers) * Each, 60000);
        QVERIFY(!follower.gap);
        QVERIFY(follower.largest.value(QStringLiteral("rx")) <= Channel::MaxPiece);
        QCOMPARE(follower.fromPeer.keys(), expected.keys());
        for (auto it = expected.cbegin(); it != expected.cend(); ++it)
            QVERIFY2(follower.fromPeer.value(it.key()) == it.value(), qPrintable(it.key()));
        // The peers are still there: nothing above came from their end.
        QCOMPARE(ch->clients.size(), std::size_t(Peers));
    }

    // A connection closed while the channel holds back data it has not
    // journaled yet: nothing more of it is journaled, nothing breaks, and a
    // connection of another channel sharing the allowance still gets all of
    // its data.
    void closingAHeldConnectionLeavesTheOthersWhole()
    {
        const QByteArray data = burst().left(12 * 1000 * 1000);
        Engine engine;
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));
        Channel* closing = engine.open(network("tcp-client", server.serverPort(), 9001));
        Channel* staying = engine.open(network("tcp-client", server.serverPort(), 9002));
        QTRY_COMPARE(closing->state, QStringLiteral("connected"));
        QTRY_COMPARE(staying->state, QStringLiteral("connected"));
        std::vector<std::unique_ptr<QTcpSocket>> accepted;
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                while (server.hasPendingConnections())
                    accepted.emplace_back(server.nextPendingConnection());
                return accepted.size() == 2;
            }(),
            20000);
        // Which accepted socket is whose: by the channel's local port.
        const auto peerOf = [&](Channel* ch) {
            for (const auto& socket : accepted) {
                if (socket->peerPort() == ch->tcpSocket->localPort())
                    return socket.get();
            }
            return static_cast<QTcpSocket*>(nullptr);
        };
        QTcpSocket* toClosing = peerOf(closing);
        QTcpSocket* toStaying = peerOf(staying);
        QVERIFY(toClosing && toStaying);
        Follower follower(engine, staying->id);
        follower.read();

        QCOMPARE(toClosing->write(data), qint64(data.size()));
        QCOMPARE(toStaying->write(data), qint64(data.size()));
        QTRY_VERIFY_WITH_TIMEOUT(closing->rxBytes >= 4 * OneMiB, 30000);
        QVERIFY(closing->rxBytes < data.size());
        closing->close();
        QCOMPARE(closing->state, QStringLiteral("closed"));
        QVERIFY(!closing->tcpSocket);
        const qint64 atClose = closing->rxBytes;

        QTRY_COMPARE_WITH_TIMEOUT(staying->rxBytes, qint64(data.size()), 60000);
        QVERIFY(follower.bytes.value(QStringLiteral("rx")) == data);
        QVERIFY(!follower.gap);
        QCOMPARE(closing->rxBytes, atClose);
        // The closed channel reconnects and reads anew.
        closing->open();
        QTRY_COMPARE(closing->state, QStringLiteral("connected"));
    }

    // The socket asks for a large receive buffer; what the system granted is
    // read back from it.
    void udpReceiveBufferIsReadBack()
    {
        Engine engine;
        Channel* ch = engine.open(network("udp", 9000, 0));
        QCOMPARE(ch->state, QStringLiteral("connected"));
        QVERIFY(ch->udpReceiveBuffer > 0);
        QCOMPARE(ch->udpReceiveBuffer,
                 ch->udpSocket->socketOption(QAbstractSocket::ReceiveBufferSizeSocketOption).toInt());
        // Linux grants the request up to net.core.rmem_max (and reports it
        // doubled); the default of a new socket is far below either.
        const qint64 cap = rmemMax();
        if (cap > 0)
            QVERIFY2(ch->udpReceiveBuffer >= std::min<qint64>(Channel::UdpReceiveRequest, cap),
                     qPrintable(QStringLiteral("granted %1, rmem_max %2").arg(ch->udpReceiveBuffer).arg(cap)));
        ch->close();
        QCOMPARE(ch->udpReceiveBuffer > 0, true);
    }

    // Datagrams sent while the channel's loop is away wait in the buffer:
    // every one of them is journaled once the loop is back.
    void udpBurstLosesNothing()
    {
        constexpr int Datagrams = 1000;
        constexpr int DatagramBytes = 1000;
        // What the kernel charges a small datagram on loopback, generously.
        constexpr qint64 Charged = 4096;
        Engine engine;
        Channel* ch = engine.open(network("udp", 9000, 0));
        QCOMPARE(ch->state, QStringLiteral("connected"));
        if (ch->udpReceiveBuffer < Datagrams * Charged)
            QSKIP(qPrintable(QStringLiteral("the system granted a UDP receive buffer of %1 bytes, too small to hold "
                                            "%2 datagrams (net.core.rmem_max)")
                                 .arg(ch->udpReceiveBuffer)
                                 .arg(Datagrams)));
        Follower follower(engine, ch->id);
        follower.read();

        QUdpSocket sender;
        QVERIFY(sender.bind(QHostAddress::LocalHost, 0));
        const quint16 port = ch->udpSocket->localPort();
        QByteArray expected;
        for (int i = 0; i < Datagrams; ++i) {
            QByteArray datagram = QByteArray::number(i).rightJustified(8, '0');
            datagram += QByteArray(DatagramBytes - datagram.size(), char('a' + i % 26));
            QCOMPARE(sender.writeDatagram(datagram, QHostAddress::LocalHost, port), qint64(DatagramBytes));
            expected += datagram;
        }
        QTRY_COMPARE_WITH_TIMEOUT(follower.events.value(QStringLiteral("rx")), Datagrams, 30000);
        QCOMPARE(follower.bytes.value(QStringLiteral("rx")), expected);
        QVERIFY(!follower.gap);
    }
};

QTEST_GUILESS_MAIN(ChannelBurstTest)
#include "ChannelBurstTest.moc"
