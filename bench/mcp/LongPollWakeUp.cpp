// Long-poll wake-up: from a datagram arriving on a UDP channel to the
// read_events reply, p50 and p99 over 200 trials.

#include "BenchClient.h"

#include "core/Channel.h"
#include "core/Config.h"
#include "core/Engine.h"
#include "mcp/McpServer.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QMetaObject>
#include <QUdpSocket>

#include <thread>

using namespace vn::bench;

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    vn::Engine engine;
    vn::McpServer server(&engine);
    if (!server.start(0))
        return 1;
    const quint16 port = server.serverPort();

    quint16 udpPort = 0;
    {
        QUdpSocket probe;
        probe.bind(QHostAddress::LocalHost, 0);
        udpPort = probe.localPort();
    }
    vn::Config config;
    config.kind = QStringLiteral("udp");
    config.bind_port = udpPort;
    vn::Channel* channel = engine.open(config);
    const QString channelId = channel->id;

    constexpr int Trials = 200;
    std::vector<double> wakeUps;
    int failures = 0;
    std::thread driver([&] {
        const QString session = initialize(port);
        const int device = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in target{};
        target.sin_family = AF_INET;
        target.sin_port = htons(udpPort);
        target.sin_addr.s_addr = htonl(INADDR_LOOPBACK);

        qint64 cursor = body(exchange(port, toolCall("get_status", {}), session))
                            .value("result").toObject().value("structuredContent").toObject()
                            .value("latest_cursor").toInteger();
        for (int trial = 0; trial < Trials; ++trial) {
            const QJsonObject message = toolCall(
                "read_events", {{"channel_id", channelId}, {"after", cursor}, {"wait_ms", 3000}, {"limit", 100}});
            const int fd = connectLoopback(port);
            sendAll(fd, requestBytes(message, session));
            // Let the call start waiting, then the device speaks.
            std::this_thread::sleep_for(std::chrono::milliseconds(25 + trial % 20));
            const auto arrived = Clock::now();
            ::sendto(device, "x", 1, 0, reinterpret_cast<sockaddr*>(&target), sizeof target);
            const QByteArray reply = readAll(fd);
            wakeUps.push_back(millisecondsSince(arrived));
            ::close(fd);
            const QJsonObject result = body(reply).value("result").toObject().value("structuredContent").toObject();
            if (result.value("events").toArray().size() != 1)
                ++failures;
            cursor = result.value("next_cursor").toInteger(cursor + 1);
        }
        ::close(device);
        QMetaObject::invokeMethod(&app, &QCoreApplication::quit, Qt::QueuedConnection);
    });
    app.exec();
    driver.join();

    std::printf("long-poll wake-up over %d trials (byte on a UDP channel -> read_events reply): "
                "p50 %.2f ms, p99 %.2f ms, max %.2f ms, %d without the event  (target p99 <= 30 ms)\n",
                Trials, percentile(wakeUps, 50), percentile(wakeUps, 99), percentile(wakeUps, 100), failures);
    return failures == 0 ? 0 : 1;
}
