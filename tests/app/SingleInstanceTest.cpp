#include "app/SingleInstance.h"

#include <QDir>
#include <QFile>
#include <QLockFile>
#include <QLocalSocket>
#include <QObject>
#include <QTemporaryDir>
#include <QTest>
#include <QUuid>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using namespace vn;

namespace {

// A name no other test or program uses.
QString uniqueName()
{
    return QStringLiteral("VarnelleNativeTest-") + QUuid::createUuid().toString(QUuid::Id128);
}

// What a killed instance leaves behind: the socket file of its name with
// nobody listening on it.
bool leaveStaleSocket(const QString& name)
{
    const QByteArray path = QFile::encodeName(QDir::tempPath() + QLatin1Char('/') + name);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= qsizetype(sizeof address.sun_path))
        return false;
    std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd < 0)
        return false;
    const bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return bound && QFile::exists(QString::fromLocal8Bit(path));
}

QString lockPath(const QString& name)
{
    return QDir::tempPath() + QLatin1Char('/') + name + QStringLiteral(".lock");
}

// Another start of the same workspace, further on than this one: it holds
// the name's lock and listens only a moment later, as a start still loading
// does. Plain sockets, so it needs no event loop of its own.
class SlowStart {
public:
    explicit SlowStart(const QString& name)
        : lock(lockPath(name))
        , path(QFile::encodeName(QDir::tempPath() + QLatin1Char('/') + name))
    {
        lock.setStaleLockTime(0);
        locked = lock.tryLock(0);
        listener = std::thread([this] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            sockaddr_un address{};
            address.sun_family = AF_UNIX;
            std::memcpy(address.sun_path, path.constData(), std::min(size_t(path.size()), sizeof address.sun_path - 1));
            const int socket = ::socket(AF_UNIX, SOCK_STREAM, 0);
            if (::bind(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 && ::listen(socket, 4) == 0)
                fd = socket;
            else
                ::close(socket);
        });
    }
    ~SlowStart()
    {
        if (listener.joinable())
            listener.join();
        if (fd >= 0) {
            ::close(fd);
            ::unlink(path.constData());
        }
    }
    SlowStart(const SlowStart&) = delete;
    SlowStart& operator=(const SlowStart&) = delete;

    // What the first waiting connection sent, once the listener is up.
    QByteArray received()
    {
        listener.join();
        if (fd < 0)
            return "<not listening>";
        const int peer = ::accept(fd, nullptr, nullptr);
        if (peer < 0)
            return "<nobody connected>";
        QByteArray bytes(64, '\0');
        const ssize_t length = ::read(peer, bytes.data(), size_t(bytes.size()));
        ::close(peer);
        bytes.truncate(length < 0 ? 0 : qsizetype(length));
        return bytes;
    }

    QLockFile lock;
    bool locked = false;

private:
    QByteArray path;
    int fd = -1;
    std::thread listener;
};

} // namespace

class SingleInstanceTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void names_data();
    void names();
    void relativeAndAbsoluteSettingsPathsMeetOnOneName();
    void secondStartActivatesTheFirst();
    void anyConnectionActivates_data();
    void anyConnectionActivates();
    void staleSocketIsReplaced();
    void startThatHoldsTheNameAnswersALittleLater();
    void nameHeldByNobodyAnsweringRunsUnguarded();
};

void SingleInstanceTest::names_data()
{
    QTest::addColumn<QString>("user");
    QTest::addColumn<int>("port"); // -1: not given
    QTest::addColumn<QString>("settings");
    QTest::addColumn<QString>("expected");

    QTest::newRow("fixed port") << "alice" << 9000 << "/work/space/settings.json" << "VarnelleNative-alice-9000";
    QTest::newRow("fixed port zero") << "alice" << 0 << "/work/space/settings.json" << "VarnelleNative-alice-0";
    QTest::newRow("settings path") << "alice" << -1 << "/work/space/settings.json"
                                   << "VarnelleNative-alice-0814b68ede55a066";
    QTest::newRow("no user name") << "" << 8765 << "/x.json" << "VarnelleNative--8765";
}

void SingleInstanceTest::names()
{
    QFETCH(QString, user);
    QFETCH(int, port);
    QFETCH(QString, settings);
    QFETCH(QString, expected);
    const std::optional<quint16> fixed = port < 0 ? std::nullopt : std::optional<quint16>(quint16(port));
    QCOMPARE(SingleInstance::name(user, fixed, settings), expected);
}

void SingleInstanceTest::relativeAndAbsoluteSettingsPathsMeetOnOneName()
{
    QTemporaryDir folder;
    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(folder.path()));
    const QString bare = SingleInstance::name(QStringLiteral("bob"), std::nullopt, QStringLiteral("settings.json"));
    const QString absolute =
        SingleInstance::name(QStringLiteral("bob"), std::nullopt, folder.filePath(QStringLiteral("settings.json")));
    const QString other =
        SingleInstance::name(QStringLiteral("bob"), std::nullopt, folder.filePath(QStringLiteral("other.json")));
    QDir::setCurrent(previous);
    QCOMPARE(bare, absolute);
    QVERIFY(bare != other);
}

void SingleInstanceTest::secondStartActivatesTheFirst()
{
    const QString name = uniqueName();
    SingleInstance first;
    QVERIFY(!first.activateRunning(name));
    QVERIFY(first.listening());
    int activations = 0;
    QObject context;
    first.onActivation(&context, [&activations] { ++activations; });

    SingleInstance second;
    QVERIFY(second.activateRunning(name));
    QVERIFY(!second.listening());
    QTRY_COMPARE(activations, 1);

    // A different workspace is a different instance.
    SingleInstance elsewhere;
    QVERIFY(!elsewhere.activateRunning(uniqueName()));
    QVERIFY(elsewhere.listening());
}

void SingleInstanceTest::anyConnectionActivates_data()
{
    QTest::addColumn<QByteArray>("message");
    QTest::newRow("activate") << QByteArray("activate");
    QTest::newRow("anything") << QByteArray("hello there\n");
    QTest::newRow("nothing") << QByteArray();
}

void SingleInstanceTest::anyConnectionActivates()
{
    QFETCH(QByteArray, message);
    const QString name = uniqueName();
    SingleInstance running;
    QVERIFY(!running.activateRunning(name));
    int activations = 0;
    QObject context;
    running.onActivation(&context, [&activations] { ++activations; });

    QLocalSocket peer;
    peer.connectToServer(name);
    QVERIFY(peer.waitForConnected(2000));
    if (!message.isEmpty()) {
        peer.write(message);
        QVERIFY(peer.waitForBytesWritten(2000));
    }
    QTRY_COMPARE(activations, 1);
    // The running instance hangs up at once; nothing is ever answered.
    QTRY_COMPARE(peer.state(), QLocalSocket::UnconnectedState);
    QCOMPARE(peer.bytesAvailable(), 0);
}

void SingleInstanceTest::staleSocketIsReplaced()
{
    const QString name = uniqueName();
    QVERIFY(leaveStaleSocket(name));

    SingleInstance restarted;
    QVERIFY(!restarted.activateRunning(name));
    QVERIFY(restarted.listening());
    int activations = 0;
    QObject context;
    restarted.onActivation(&context, [&activations] { ++activations; });

    // The next start is guarded again.
    SingleInstance later;
    QVERIFY(later.activateRunning(name));
    QTRY_COMPARE(activations, 1);
}

void SingleInstanceTest::startThatHoldsTheNameAnswersALittleLater()
{
    const QString name = uniqueName();
    SlowStart other(name);
    QVERIFY(other.locked);
    SingleInstance second;
    QVERIFY(second.activateRunning(name));
    QVERIFY(!second.listening());
    QCOMPARE(other.received(), QByteArray("activate"));
}

void SingleInstanceTest::nameHeldByNobodyAnsweringRunsUnguarded()
{
    // A start that took the name and hangs before it listens.
    const QString name = uniqueName();
    QLockFile hung(lockPath(name));
    QVERIFY(hung.tryLock(0));
    SingleInstance second;
    QVERIFY(!second.activateRunning(name));
    QVERIFY(!second.listening());

    // Once that one is gone, the name is free for the next start.
    hung.unlock();
    SingleInstance third;
    QVERIFY(!third.activateRunning(name));
    QVERIFY(third.listening());
}

QTEST_GUILESS_MAIN(SingleInstanceTest)
#include "SingleInstanceTest.moc"
