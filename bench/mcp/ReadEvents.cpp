// The reply time of a read_events of 1,000 events.

#include "BenchClient.h"

#include "core/Channel.h"
#include "core/Config.h"
#include "core/Engine.h"
#include "mcp/McpServer.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QMetaObject>

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

    vn::Config config;
    config.port = QStringLiteral("loop://");
    vn::Channel* channel = engine.open(config);
    // A device printing short lines: 5,000 received chunks of 48 bytes.
    const QByteArray line = "@wave temperature=25.50,voltage=3.300,n=123456\r\n";
    for (int i = 0; i < 5000; ++i)
        channel->receive(line, QString());
    const QString channelId = channel->id;

    constexpr int Rounds = 100;
    std::vector<double> times;
    qsizetype replyBytes = 0;
    int failures = 0;
    std::thread driver([&] {
        const QString session = initialize(port);
        const QJsonObject message = toolCall("read_events", {{"channel_id", channelId}, {"after", 1000}, {"limit", 1000}});
        for (int i = 0; i < Rounds; ++i) {
            const auto started = Clock::now();
            const QByteArray reply = exchange(port, message, session);
            times.push_back(millisecondsSince(started));
            replyBytes = reply.size();
            if (body(reply).value("result").toObject().value("structuredContent").toObject()
                    .value("events").toArray().size() != 1000)
                ++failures;
        }
        QMetaObject::invokeMethod(&app, &QCoreApplication::quit, Qt::QueuedConnection);
    });
    app.exec();
    driver.join();

    std::printf("read_events of 1000 events (%lld-byte reply, journal of %lld events): "
                "p50 %.2f ms, p99 %.2f ms, max %.2f ms over %d rounds  (target <= 10 ms)\n",
                static_cast<long long>(replyBytes), static_cast<long long>(engine.journal.events.size()),
                percentile(times, 50), percentile(times, 99), percentile(times, 100), Rounds);
    return failures == 0 ? 0 : 1;
}
