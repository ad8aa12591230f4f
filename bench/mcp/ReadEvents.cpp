// The reply time of a read_events of 1,000 events; then 8 agents reading
// 1,000 events each at once from a journal as a 5 MB/s link leaves it (events
// of 5,000 bytes), while get_status is called beside them.

#include "BenchClient.h"

#include "core/Channel.h"
#include "core/Config.h"
#include "core/Engine.h"
#include "mcp/McpServer.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QMetaObject>

#include <atomic>
#include <mutex>
#include <thread>

using namespace vn::bench;

namespace {

// 8 agents, each reading the newest 1,000 events over and over (the journal
// keeps about 1,900 of 5,000 bytes), and a get_status every 20 ms.
int manyAgents(QCoreApplication& app, vn::Engine& engine, vn::McpServer& server, quint16 port)
{
    Q_UNUSED(server);
    vn::Config config;
    config.port = QStringLiteral("loop://");
    config.name = QStringLiteral("fast");
    vn::Channel* channel = engine.open(config);
    QByteArray chunk;
    for (int line = 0; chunk.size() < 5000; ++line)
        chunk += "n=" + QByteArray::number(1000000 + line) + " data xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx"
                 "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx\r\n";
    chunk.truncate(5000);
    for (int i = 0; i < 3000; ++i)
        channel->receive(chunk, QString());
    const QString channelId = channel->id;
    const qint64 after = engine.journal.lastSeq - 1000;

    constexpr int Agents = 8;
    constexpr int Rounds = 12;
    std::vector<double> reads;
    std::vector<double> statuses;
    std::mutex lock;
    std::atomic<int> failures = 0;
    std::atomic<bool> reading = true;
    qsizetype replyBytes = 0;
    std::thread driver([&] {
        std::vector<std::thread> agents;
        for (int a = 0; a < Agents; ++a) {
            agents.emplace_back([&] {
                const QString session = initialize(port);
                const QJsonObject message =
                    toolCall("read_events", {{"channel_id", channelId}, {"after", after}, {"limit", 1000}});
                for (int i = 0; i < Rounds; ++i) {
                    QByteArray head;
                    const auto started = Clock::now();
                    const qint64 size = exchangeDiscarding(port, message, session, head);
                    const double ms = millisecondsSince(started);
                    const std::lock_guard<std::mutex> guard(lock);
                    reads.push_back(ms);
                    replyBytes = size;
                    if (!head.startsWith("HTTP/1.1 200 OK") || size < 1000000)
                        ++failures;
                }
            });
        }
        std::thread status([&] {
            const QString session = initialize(port);
            const QJsonObject message = toolCall(QStringLiteral("get_status"), {});
            while (reading) {
                const auto started = Clock::now();
                exchange(port, message, session);
                const double ms = millisecondsSince(started);
                {
                    const std::lock_guard<std::mutex> guard(lock);
                    statuses.push_back(ms);
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        });
        for (std::thread& agent : agents)
            agent.join();
        reading = false;
        status.join();
        QMetaObject::invokeMethod(&app, &QCoreApplication::quit, Qt::QueuedConnection);
    });
    app.exec();
    driver.join();
    std::printf("%d agents at once, each read_events of 1000 events of 5000 bytes (%.1f MB reply) %d times: "
                "p50 %.1f ms, max %.1f ms; get_status meanwhile p50 %.1f ms, max %.1f ms over %zu calls  "
                "(target: get_status <= 100 ms)\n",
                Agents, double(replyBytes) / 1e6, Rounds, percentile(reads, 50), percentile(reads, 100),
                percentile(statuses, 50), percentile(statuses, 100), statuses.size());
    return failures;
}

} // namespace

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
    std::fflush(stdout);
    return failures + manyAgents(app, engine, server, port) == 0 ? 0 : 1;
}
