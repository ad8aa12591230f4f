// XMODEM-CRC throughput of a 1 MiB file against lrzsz over a pty pair, both
// directions. A pty has no line rate: this is the protocol's own turn-around.
// Then the time to the first block when rx was started before the send.
#include "core/Channel.h"
#include "core/Engine.h"
#include "core/ReceiverRequest.h"
#include "core/SerialTransfer.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <functional>

using namespace vn;

namespace {

struct Pair {
    QTemporaryDir dir;
    QProcess socat;
    QString a = dir.filePath(QStringLiteral("ttyA"));
    QString b = dir.filePath(QStringLiteral("ttyB"));
    bool start()
    {
        socat.start(QStringLiteral("socat"), {QStringLiteral("pty,raw,echo=0,link=%1").arg(a),
                                              QStringLiteral("pty,raw,echo=0,link=%1").arg(b)});
        QDeadlineTimer deadline(5000);
        while (!deadline.hasExpired() && !(QFileInfo::exists(a) && QFileInfo::exists(b)))
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        return QFileInfo::exists(a) && QFileInfo::exists(b);
    }
    ~Pair()
    {
        socat.kill();
        socat.waitForFinished(3000);
    }
};

// A channel on one end of a pty pair with a transfer wired to it the way the
// dialog does, the file to send, and lrzsz on the far end.
struct Line {
    Pair pair;
    QString in = pair.dir.filePath(QStringLiteral("in.bin"));
    Engine engine;
    Channel* channel = nullptr;
    SerialTransfer transfer;
    QObject owner;
    QProcess peer;
    std::function<void(const QByteArray&)> written;
    bool done = false;
    bool ok = false;

    bool start(const QByteArray& data)
    {
        if (!pair.start())
            return false;
        QFile file(in);
        file.open(QIODevice::WriteOnly);
        file.write(data);
        file.close();
        Config config;
        config.port = pair.a;
        channel = engine.open(config);
        transfer.writer = [this](const QByteArray& bytes) {
            if (written)
                written(bytes);
            try {
                channel->send(bytes, QString(), QStringLiteral("file-transfer"));
                return true;
            } catch (const std::exception&) {
                return false;
            }
        };
        QObject::connect(channel, &Channel::bytesReceived, &transfer, &SerialTransfer::feed);
        QObject::connect(&transfer, &SerialTransfer::finished, [this](bool success) {
            done = true;
            ok = success;
        });
        return true;
    }
    void claim() { channel->transferOwner = &owner; }
    void runPeer(const QString& command)
    {
        peer.setWorkingDirectory(pair.dir.path());
        peer.start(QStringLiteral("timeout"), {QStringLiteral("120"), QStringLiteral("socat"),
                                               QStringLiteral("FILE:%1,raw,echo=0").arg(pair.b),
                                               QStringLiteral("EXEC:%1").arg(command)});
    }
    void waitDone()
    {
        QDeadlineTimer deadline(120000);
        while (!done && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    ~Line() { peer.waitForFinished(5000); }
};

double run(bool send, const QByteArray& data)
{
    Line line;
    if (!line.start(data))
        return -1;
    line.claim();
    qint64 endNs = 0;
    QElapsedTimer clock;
    // The receive lingers 2 s after the last ACK before it reports; the
    // clock stops when the file is saved.
    QObject::connect(&line.transfer, &SerialTransfer::changed, [&] {
        if (!endNs && line.transfer.phase() == SerialTransfer::EotAcknowledged)
            endNs = clock.nsecsElapsed();
    });
    clock.start();
    if (send)
        line.transfer.startSend(line.in, SerialTransfer::XmodemCrc);
    else
        line.transfer.startReceive(line.pair.dir.filePath(QStringLiteral("out.bin")), SerialTransfer::XmodemCrc,
                                   data.size());
    line.runPeer(send ? QStringLiteral("rx -q -c -b out.bin") : QStringLiteral("sx -q -b in.bin"));
    line.waitDone();
    if (!endNs)
        endNs = clock.nsecsElapsed();
    if (!line.ok)
        return -1;
    return double(data.size()) / (double(endNs) / 1e9) / 1000.0;
}

struct Start {
    double firstBlockMs = -1;
    double firstAckMs = -1;
    double rate = -1;
};

// rx started first, as the dialog asks, and the send begun once rx's 'C' is in
// the journal: how long from the start to the first block on the line and to
// its ACK, with that 'C' taken as the request or, as before, left unheeded.
Start receiverFirst(const QByteArray& data, bool heedJournal)
{
    Start result;
    Line line;
    if (!line.start(data))
        return result;
    QElapsedTimer clock;
    line.written = [&](const QByteArray& bytes) {
        if (result.firstBlockMs < 0 && bytes.startsWith(SerialTransfer::SOH))
            result.firstBlockMs = double(clock.nsecsElapsed()) / 1e6;
    };
    QObject::connect(&line.transfer, &SerialTransfer::changed, [&] {
        if (result.firstAckMs < 0 && line.transfer.transferred() > 0)
            result.firstAckMs = double(clock.nsecsElapsed()) / 1e6;
    });
    line.runPeer(QStringLiteral("rx -q -c -b out.bin"));
    QDeadlineTimer asked(10000);
    while (!asked.hasExpired() && !receiverAlreadyAsked(line.engine.journal, line.channel->id))
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    line.claim();
    clock.start();
    line.transfer.startSend(line.in, SerialTransfer::XmodemCrc,
                            heedJournal && receiverAlreadyAsked(line.engine.journal, line.channel->id));
    line.waitDone();
    if (line.ok)
        result.rate = double(data.size()) / (double(clock.nsecsElapsed()) / 1e9) / 1000.0;
    return result;
}
} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QByteArray data(1024 * 1024, Qt::Uninitialized);
    for (int i = 0; i < data.size(); ++i)
        data[i] = char((i * 131) ^ (i >> 7));
    std::printf("XMODEM-CRC send 1 MiB to lrzsz rx over a pty: %.1f KB/s (target >= 50)\n", run(true, data));
    std::printf("XMODEM-CRC receive 1 MiB from lrzsz sx over a pty: %.1f KB/s (target >= 50)\n", run(false, data));
    const QByteArray small = data.left(100 * 1024);
    for (const bool heed : {true, false}) {
        const Start s = receiverFirst(small, heed);
        std::printf("XMODEM-CRC send 100 KiB, rx started first, its C %s: first block after %.2f ms, "
                    "first ACK after %.1f ms, %.1f KB/s overall\n",
                    heed ? "taken from the journal" : "left unheeded", s.firstBlockMs, s.firstAckMs, s.rate);
    }
    return 0;
}
