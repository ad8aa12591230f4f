#include "tests/fuzz/McpFuzzHost.h"

#include "core/Channel.h"
#include "core/Config.h"
#include "tests/fuzz/FuzzSupport.h"

#include <QCoreApplication>
#include <QPointer>

#include <cstring>

namespace vn::fuzz {

namespace {

// The server's accept path is private to QTcpServer's subclasses.
class AcceptingServer : public McpServer {
public:
    using McpServer::McpServer;
    void accept(QTcpSocket* socket)
    {
        addPendingConnection(socket);
        Q_EMIT newConnection();
    }

protected:
    // Every socket here is a fake made in this process.
    bool servesPeer(QTcpSocket*) override { return true; }
};

// A channel whose id the fuzzer can name.
Channel* named(Engine& engine, Channel* channel, const QString& id)
{
    engine.channels.erase(channel->id);
    channel->id = id;
    engine.channels.emplace(id, channel);
    return channel;
}

} // namespace

FakeSocket::FakeSocket(QObject* parent)
    : QTcpSocket(parent)
{
    setOpenMode(QIODevice::ReadWrite);
    setSocketState(QAbstractSocket::ConnectedState);
}

FakeSocket::~FakeSocket()
{
    // Nothing real to abort underneath.
    setSocketState(QAbstractSocket::UnconnectedState);
}

void FakeSocket::deliver(const QByteArray& bytes)
{
    if (state() != QAbstractSocket::ConnectedState)
        return;
    pending += bytes;
    Q_EMIT readyRead();
}

void FakeSocket::disconnectFromHost()
{
    if (state() == QAbstractSocket::UnconnectedState)
        return;
    setSocketState(QAbstractSocket::UnconnectedState);
    Q_EMIT disconnected();
}

qint64 FakeSocket::bytesAvailable() const
{
    return pending.size() + QIODevice::bytesAvailable();
}

qint64 FakeSocket::readData(char* data, qint64 maxSize)
{
    const qint64 n = std::min<qint64>(maxSize, pending.size());
    std::memcpy(data, pending.constData(), size_t(n));
    pending.remove(0, n);
    return n;
}

qint64 FakeSocket::writeData(const char* data, qint64 size)
{
    written.append(data, size);
    return size;
}

McpFuzzHost::McpFuzzHost()
{
    ensureApplication();
    server = new AcceptingServer(&engine);
    server->sessions.insert(QString::fromLatin1(SessionId), QStringLiteral("fuzz"));

    Config loop;
    loop.port = QStringLiteral("loop://");
    Channel* serial = named(engine, engine.open(loop), QStringLiteral("serial-1"));
    serial->configureParser(QStringLiteral("auto"), QStringLiteral("utf-8"));
    serial->receive("@wave a=1,b=2.5\n@wave a=2,b=-1e3\nplain text\n", QString());
    serial->receive("{\"t\":1,\"v\":[1,2]}<r><x>1</x></r>", QString());
    serial->receive("\x01\x02\xAA\x55\x00\xFF", QString());
    named(engine, engine.waveformDemo(), QStringLiteral("wave-1"))->generateWaveDemo();
    named(engine, engine.structuredDemo(), QStringLiteral("json-1"))->generateStructuredDemo();
}

McpFuzzHost::~McpFuzzHost()
{
    delete server;
}

FakeSocket* McpFuzzHost::connect()
{
    auto* socket = new FakeSocket;
    static_cast<AcceptingServer*>(server)->accept(socket);
    return socket;
}

void McpFuzzHost::finish(FakeSocket* socket)
{
    QPointer<FakeSocket> alive(socket);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    delete alive.data();
    // The socket's timers go with it by deferred deletion too; all of it is
    // freed within the input, or every input would look like a leak.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

} // namespace vn::fuzz
