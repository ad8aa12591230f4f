// Cost of one window tick while 32 TCP client channels each receive about
// 1 MB/s from a sender on 127.0.0.1. The sender runs on a thread of its own
// and stops after a fixed time; the figures are the median and the 99th
// percentile of the tick's duration, measured from the tick timer's event to
// the end of the window's tick handler.
#include "core/Channel.h"
#include "core/Engine.h"
#include "mcp/McpServer.h"
#include "ui/window/Window.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace vn;

namespace {

constexpr int Channels = 32;
constexpr int TrafficMs = 8000;
constexpr int StepMs = 10;
constexpr qint64 BytesPerSecond = 1000 * 1000;

// Writes to every accepted connection at the set rate until the time is up.
class Sender : public QObject {
public:
    quint16 port = 0;

    void start()
    {
        server = new QTcpServer(this);
        server->listen(QHostAddress::LocalHost, 0);
        port = server->serverPort();
        connect(server, &QTcpServer::newConnection, this, [this]() {
            while (QTcpSocket* socket = server->nextPendingConnection())
                sockets.append(socket);
        });
        QByteArray line("INFO  sensor loop ok, temperature 23.5, humidity 41, nothing to report\r\n");
        while (chunk.size() < BytesPerSecond * StepMs / 1000)
            chunk += line;
        chunk.truncate(BytesPerSecond * StepMs / 1000);
        auto* step = new QTimer(this);
        step->setTimerType(Qt::PreciseTimer);
        connect(step, &QTimer::timeout, this, [this, step]() {
            if (clock.isValid() && clock.elapsed() > TrafficMs) {
                step->stop();
                for (QTcpSocket* socket : std::as_const(sockets))
                    socket->close();
                return;
            }
            if (sockets.size() < Channels)
                return;
            if (!clock.isValid())
                clock.start();
            for (QTcpSocket* socket : std::as_const(sockets)) {
                // A reader that falls behind is not flooded further.
                if (socket->bytesToWrite() < 4 * chunk.size())
                    socket->write(chunk);
            }
        });
        step->start(StepMs);
    }

private:
    QTcpServer* server = nullptr;
    QList<QTcpSocket*> sockets;
    QByteArray chunk;
    QElapsedTimer clock;
};

// Notes when the tick timer's event arrives; the tick ends in the handler
// connected after the window's own.
class TickClock : public QObject {
public:
    QElapsedTimer clock;
    qint64 started = -1;
    std::vector<double> samples;
    bool recording = false;

    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Timer)
            started = clock.nsecsElapsed();
        return false;
    }

    void ended()
    {
        if (recording && started >= 0)
            samples.push_back(double(clock.nsecsElapsed() - started) / 1e6);
        started = -1;
    }
};

double percentile(std::vector<double> values, double share)
{
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    const auto index = std::min(values.size() - 1, size_t(share * double(values.size() - 1) + 0.5));
    return values[index];
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    QThread senderThread;
    senderThread.start();
    Sender sender;
    sender.moveToThread(&senderThread);
    QMetaObject::invokeMethod(&sender, [&sender]() { sender.start(); }, Qt::BlockingQueuedConnection);

    QTemporaryDir folder;
    Engine engine;
    McpServer server(&engine);
    auto window = std::make_unique<Window>(&engine, &server, folder.filePath(QStringLiteral("settings.json")), nullptr);
    window->show();

    QList<QPointer<Channel>> channels;
    for (int index = 0; index < Channels; ++index) {
        Config config;
        config.kind = QStringLiteral("tcp-client");
        config.host = QStringLiteral("127.0.0.1");
        config.network_port = sender.port;
        config.name = QStringLiteral("bench %1").arg(index + 1);
        channels.append(engine.open(config));
    }

    auto* tick = window->findChild<QTimer*>(QStringLiteral("tickTimer"));
    TickClock ticks;
    ticks.clock.start();
    tick->installEventFilter(&ticks);
    QObject::connect(tick, &QTimer::timeout, &ticks, [&ticks]() { ticks.ended(); });

    // Measure once every channel is connected, for the length of the traffic.
    QElapsedTimer run;
    run.start();
    QTimer watch;
    qint64 startBytes = 0;
    QElapsedTimer traffic;
    QObject::connect(&watch, &QTimer::timeout, &app, [&]() {
        const bool allConnected = std::all_of(channels.begin(), channels.end(), [](const QPointer<Channel>& channel) {
            return channel && channel->state == QLatin1String("connected");
        });
        if (!ticks.recording && allConnected) {
            ticks.recording = true;
            traffic.start();
            for (const QPointer<Channel>& channel : std::as_const(channels))
                startBytes += channel->rxBytes;
        }
        if ((ticks.recording && traffic.elapsed() >= TrafficMs - 500) || run.elapsed() > TrafficMs + 10000)
            app.quit();
    });
    watch.start(100);
    app.exec();

    qint64 received = -startBytes;
    for (const QPointer<Channel>& channel : std::as_const(channels))
        received += channel ? channel->rxBytes : 0;
    const double seconds = traffic.isValid() ? double(traffic.elapsed()) / 1000.0 : 0.0;
    std::printf("window tick, %d TCP channels at ~1 MB/s each on 127.0.0.1, %zu ticks over %.1f s\n", Channels,
                ticks.samples.size(), seconds);
    std::printf("  received %.1f MB/s in all\n", seconds > 0 ? double(received) / seconds / 1e6 : 0.0);
    std::printf("  tick median %.3f ms, p99 %.3f ms, max %.3f ms (target: under 5 ms)\n",
                percentile(ticks.samples, 0.5), percentile(ticks.samples, 0.99), percentile(ticks.samples, 1.0));

    window.reset();
    QMetaObject::invokeMethod(&sender, [&sender, &senderThread]() {
        for (QObject* child : sender.children())
            delete child;
        sender.moveToThread(senderThread.thread());
    }, Qt::BlockingQueuedConnection);
    senderThread.quit();
    senderThread.wait();
    return 0;
}
