#include "platform/LoopbackPeer.h"
#include "tests/support/ForeignClient.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <memory>
#include <optional>
#include <unistd.h>

using vn::platform::LoopbackPeer;
using vn::test::ForeignClient;

Q_DECLARE_METATYPE(LoopbackPeer::Lookup)

namespace {

enum class Client { Self, Foreign, Gone };

} // namespace

Q_DECLARE_METATYPE(Client)

class LoopbackPeerTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void ownerOfTheOtherEnd_data()
    {
        QTest::addColumn<LoopbackPeer::Lookup>("lookup");
        QTest::addColumn<bool>("ipv6");
        QTest::addColumn<Client>("client");
        const struct {
            const char* name;
            LoopbackPeer::Lookup lookup;
        } lookups[] = {{"automatic", LoopbackPeer::Lookup::Automatic},
                       {"netlink", LoopbackPeer::Lookup::SocketDiagnostics},
                       {"proc", LoopbackPeer::Lookup::ProcTables}};
        const struct {
            const char* name;
            Client client;
        } clients[] = {{"this process", Client::Self}, {"another uid", Client::Foreign}, {"closed", Client::Gone}};
        for (const auto& lookup : lookups) {
            for (const bool ipv6 : {false, true}) {
                for (const auto& client : clients) {
                    QTest::addRow("%s, %s, %s", lookup.name, ipv6 ? "IPv6" : "IPv4", client.name)
                        << lookup.lookup << ipv6 << client.client;
                }
            }
        }
    }

    void ownerOfTheOtherEnd()
    {
        QFETCH(LoopbackPeer::Lookup, lookup);
        QFETCH(bool, ipv6);
        QFETCH(Client, client);
        QTcpServer listener;
        const QHostAddress address = ipv6 ? QHostAddress::LocalHostIPv6 : QHostAddress::LocalHost;
        if (!listener.listen(address, 0)) {
            if (ipv6)
                QSKIP("::1 is not available here");
            QFAIL(qPrintable(listener.errorString()));
        }
        const QString why = ForeignClient::unavailable();
        if (client == Client::Foreign && !why.isEmpty())
            QSKIP(qPrintable(QStringLiteral("no client under another uid: ") + why));

        QTcpSocket own;
        ForeignClient foreign;
        if (client == Client::Foreign) {
            QVERIFY(foreign.start(address.toString(), listener.serverPort()));
        } else {
            own.connectToHost(address, listener.serverPort());
            QVERIFY(own.waitForConnected(5000));
        }
        QVERIFY(listener.waitForNewConnection(15000));
        const std::unique_ptr<QTcpSocket> accepted(listener.nextPendingConnection());
        QVERIFY(accepted);
        // A closed client socket lingers in the kernel, with no program behind it.
        if (client == Client::Gone)
            own.abort();

        LoopbackPeer peer(lookup);
        const std::optional<uid_t> owner = peer.owner(static_cast<int>(accepted->socketDescriptor()));
        switch (client) {
        case Client::Self:
            QCOMPARE(owner, std::optional<uid_t>(::geteuid()));
            QVERIFY(peer.ownedBySelf(static_cast<int>(accepted->socketDescriptor())));
            break;
        case Client::Foreign:
            QCOMPARE(owner, std::optional<uid_t>(ForeignClient::Uid));
            QVERIFY(!peer.ownedBySelf(static_cast<int>(accepted->socketDescriptor())));
            break;
        case Client::Gone:
            QCOMPARE(owner, std::nullopt);
            QVERIFY(!peer.ownedBySelf(static_cast<int>(accepted->socketDescriptor())));
            break;
        }
    }

    void notAConnection()
    {
        int ends[2];
        QCOMPARE(::pipe(ends), 0);
        LoopbackPeer peer;
        QCOMPARE(peer.owner(ends[0]), std::nullopt);
        QCOMPARE(peer.owner(-1), std::nullopt);
        ::close(ends[0]);
        ::close(ends[1]);
    }
};

QTEST_GUILESS_MAIN(LoopbackPeerTest)
#include "LoopbackPeerTest.moc"
