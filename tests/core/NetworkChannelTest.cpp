#include "core/Channel.h"
#include "core/Engine.h"
#include "tests/support/TestSupport.h"

#include <QJsonArray>
#include <QNetworkDatagram>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QUdpSocket>

using namespace vn;
using vn::test::errorOf;

namespace {

Config network(const char* kind, int remotePort, int bindPort)
{
    Config c;
    c.kind = QLatin1String(kind);
    c.network_port = remotePort;
    c.bind_port = bindPort;
    return c;
}

QStringList statusMessages(const Engine& engine, const QString& id)
{
    QStringList out;
    for (const QJsonValue& v : engine.journal.read(0, 1000, id).value("events").toArray())
        if (v.toObject().value("direction").toString() == QLatin1String("status"))
            out.append(v.toObject().value("message").toString());
    return out;
}

// Reads what has arrived so far into `into`; safe to re-evaluate in QTRY_*.
QByteArray& drain(QIODevice& device, QByteArray& into)
{
    into += device.readAll();
    return into;
}

QString peerOf(const QAbstractSocket& s)
{
    return QStringLiteral("127.0.0.1:%1").arg(s.localPort());
}

} // namespace

class NetworkChannelTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void tcpClient()
    {
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));
        Engine engine;
        Channel* ch = engine.open(network("tcp-client", server.serverPort(), 9001));
        QCOMPARE(ch->state, QStringLiteral("connecting"));
        QTRY_COMPARE(ch->state, QStringLiteral("connected"));
        QVERIFY(ch->localAddress.startsWith(QStringLiteral("127.0.0.1:")));
        QVERIFY(server.hasPendingConnections() || server.waitForNewConnection(2000));
        std::unique_ptr<QTcpSocket> remote(server.nextPendingConnection());
        remote->write(QByteArray("\x00\xffhello\n", 8));
        QTRY_COMPARE(ch->rxBytes, 8);
        QVERIFY(ch->sources.count("default"));
        ch->send("ping", QString(), QStringLiteral("test"));
        QByteArray got;
        QTRY_COMPARE(drain(*remote, got), QByteArray("ping"));

        remote->close();
        QTRY_COMPARE(ch->state, QStringLiteral("closed"));
        QCOMPARE(statusMessages(engine, ch->id).last(), QStringLiteral("closed"));

        // Closing on request journals only "closed".
        Channel* second = engine.open(network("tcp-client", server.serverPort(), 9001));
        QTRY_COMPARE(second->state, QStringLiteral("connected"));
        second->close();
        QTest::qWait(50);
        QCOMPARE(statusMessages(engine, second->id),
                 (QStringList{QStringLiteral("connecting"), QStringLiteral("connected"), QStringLiteral("closed")}));
    }

    void tcpClientRefused()
    {
        Engine engine;
        Channel* ch = engine.open(network("tcp-client", test::freeTcpPort(), 9001));
        QTRY_COMPARE(ch->state, QStringLiteral("error"));
        QVERIFY(!ch->error.isEmpty());
        QCOMPARE(stateText(ch->state), QStringLiteral("连接失败"));
    }

    void tcpServerClients()
    {
        const quint16 port = test::freeTcpPort();
        Engine engine;
        Channel* ch = engine.open(network("tcp-server", 9000, port));
        QCOMPARE(ch->state, QStringLiteral("listening"));
        QCOMPARE(ch->localAddress, QStringLiteral("127.0.0.1:%1").arg(port));

        std::vector<std::unique_ptr<QTcpSocket>> sockets;
        for (int i = 0; i < 17; ++i) {
            sockets.push_back(std::make_unique<QTcpSocket>());
            sockets.back()->connectToHost(QHostAddress::LocalHost, port);
            QVERIFY(sockets.back()->waitForConnected(2000));
            QTRY_VERIFY(ch->clients.size() == std::size_t(std::min(i + 1, 16))
                        || sockets.back()->state() != QAbstractSocket::ConnectedState);
        }
        // The 17th is accepted by the system and then dropped at once.
        QTRY_COMPARE(sockets.back()->state(), QAbstractSocket::UnconnectedState);
        QCOMPARE(ch->clients.size(), std::size_t(16));
        const QJsonArray peers = ch->describe().value("peers").toArray();
        QCOMPARE(peers.size(), 16);
        QVERIFY(ch->clients.count(peerOf(*sockets[0])));

        QCOMPARE(errorOf([&] { ch->send("x"); }), QStringLiteral("请选择目标 TCP 客户端"));
        QCOMPARE(errorOf([&] { ch->send("x", QStringLiteral("127.0.0.1:1")); }), QStringLiteral("请选择目标 TCP 客户端"));
        ch->send("to one", peerOf(*sockets[3]));
        QByteArray got3;
        QTRY_COMPARE(drain(*sockets[3], got3), QByteArray("to one"));

        sockets[0]->write("from zero");
        sockets[1]->write("from one");
        QTRY_COMPARE(ch->sources.size(), std::size_t(2));
        const auto& zero = ch->sources.at(peerOf(*sockets[0]));
        QVERIFY(zero);
        const QJsonArray log = engine.journal.read(0, 1000, ch->id).value("events").toArray();
        QStringList rxPeers;
        for (const QJsonValue& v : log)
            if (v.toObject().value("direction").toString() == QLatin1String("rx"))
                rxPeers.append(v.toObject().value("peer").toString());
        QVERIFY(rxPeers.contains(peerOf(*sockets[0])));

        // Clients leave without a status; with one left, it is the default target.
        for (int i = 1; i < 16; ++i)
            sockets[i]->disconnectFromHost();
        QTRY_COMPARE(ch->clients.size(), std::size_t(1));
        QCOMPARE(ch->state, QStringLiteral("listening"));
        const QJsonObject result = ch->send("only");
        QCOMPARE(result.value("peer").toString(), QString());
        QByteArray got0;
        QTRY_COMPARE(drain(*sockets[0], got0), QByteArray("only"));
        QCOMPARE(statusMessages(engine, ch->id), QStringList{QStringLiteral("listening")});
    }

    void tcpServerRefusals()
    {
        Engine engine;
        Config named = network("tcp-server", 9000, test::freeTcpPort());
        named.bind_host = QStringLiteral("localhost");
        Channel* ch = engine.open(named);
        QCOMPARE(ch->state, QStringLiteral("error"));
        QCOMPARE(ch->error, QStringLiteral("本地地址 localhost 不是有效的 IP 地址，请填写如 127.0.0.1 或 0.0.0.0 的地址"));
        QCOMPARE(ch->tcpServer, nullptr);

        QTcpServer busy;
        QVERIFY(busy.listen(QHostAddress::LocalHost, 0));
        Channel* taken = engine.open(network("tcp-server", 9000, busy.serverPort()));
        QCOMPARE(taken->state, QStringLiteral("error"));
        QVERIFY(!taken->error.isEmpty());
    }

    void udpPeers()
    {
        const quint16 port = test::freeUdpPort();
        QUdpSocket target;
        QVERIFY(target.bind(QHostAddress::LocalHost, 0));
        Engine engine;
        Channel* ch = engine.open(network("udp", target.localPort(), port));
        QCOMPARE(ch->state, QStringLiteral("connected"));
        QCOMPARE(ch->localAddress, QStringLiteral("127.0.0.1:%1").arg(port));

        std::vector<std::unique_ptr<QUdpSocket>> senders;
        for (int i = 0; i < 33; ++i) {
            senders.push_back(std::make_unique<QUdpSocket>());
            QVERIFY(senders.back()->bind(QHostAddress::LocalHost, 0));
            senders.back()->writeDatagram("@wave n=" + QByteArray::number(i) + "\n", QHostAddress::LocalHost, port);
            QTRY_COMPARE(ch->rxBytes > 0 && ch->sources.count(peerOf(*senders.back())), std::size_t(1));
        }
        QCOMPARE(ch->sources.size(), std::size_t(32));   // the smallest key made room for the 33rd

        // Each datagram is one receive with its sender as peer.
        senders[5]->writeDatagram("a", QHostAddress::LocalHost, port);
        senders[5]->writeDatagram("b", QHostAddress::LocalHost, port);
        QTRY_COMPARE(engine.journal.read(0, 1000, ch->id).value("events").toArray().last().toObject()
                         .value("text").toString(), QStringLiteral("b"));

        ch->send("to default");
        QTRY_VERIFY(target.hasPendingDatagrams());
        QCOMPARE(target.receiveDatagram().data(), QByteArray("to default"));
        ch->send("to peer", peerOf(*senders[2]));
        QTRY_VERIFY(senders[2]->hasPendingDatagrams());
        QCOMPARE(senders[2]->receiveDatagram().data(), QByteArray("to peer"));

        const QString bad = QStringLiteral("UDP 目标需要有效 IP:端口");
        for (const char* peer : {"10.0.0.5:0", "10.0.0.5:70000", "host:abc", "nonsense"})
            QCOMPARE(errorOf([&] { ch->send("x", QLatin1String(peer)); }), bad);

        Config named = network("udp", 9000, test::freeUdpPort());
        named.bind_host = QStringLiteral("loclahost");
        QCOMPARE(engine.open(named)->state, QStringLiteral("error"));
    }

    void udpIpv6Peer()
    {
        QUdpSocket v6;
        if (!v6.bind(QHostAddress::LocalHostIPv6, 0))
            QSKIP("no IPv6 loopback here");
        Engine engine;
        Config c = network("udp", 9000, 0);
        c.bind_host = QStringLiteral("::1");
        Channel* ch = engine.open(c);
        QCOMPARE(ch->state, QStringLiteral("connected"));
        ch->send("six", QStringLiteral("::1:%1").arg(v6.localPort()));
        QTRY_VERIFY(v6.hasPendingDatagrams());
        QCOMPARE(v6.receiveDatagram().data(), QByteArray("six"));
    }
};

QTEST_GUILESS_MAIN(NetworkChannelTest)
#include "NetworkChannelTest.moc"
