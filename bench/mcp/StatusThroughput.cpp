// get_status calls per second from 8 concurrent local clients, one request per
// connection, with p50/p99 latency.

#include "BenchClient.h"

#include "core/Engine.h"
#include "mcp/McpServer.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <atomic>
#include <mutex>
#include <thread>

using namespace vn::bench;

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    vn::Engine engine;
    vn::McpServer server(&engine);
    engine.waveformDemo();
    engine.structuredDemo();
    if (!server.start(0)) {
        std::fprintf(stderr, "%s\n", qPrintable(server.lastError));
        return 1;
    }
    const quint16 port = server.serverPort();
    constexpr int Clients = 8;
    constexpr int CallsPerClient = 2500;

    std::vector<double> latencies;
    std::mutex lock;
    std::atomic<int> failures = 0;
    double seconds = 0;
    std::thread driver([&] {
        const QString session = initialize(port);
        const QJsonObject message = toolCall(QStringLiteral("get_status"), {});
        const auto started = Clock::now();
        std::vector<std::thread> clients;
        for (int c = 0; c < Clients; ++c) {
            clients.emplace_back([&] {
                std::vector<double> mine;
                mine.reserve(CallsPerClient);
                for (int i = 0; i < CallsPerClient; ++i) {
                    const auto t = Clock::now();
                    const QByteArray reply = exchange(port, message, session);
                    mine.push_back(millisecondsSince(t));
                    if (!reply.startsWith("HTTP/1.1 200 OK") || reply.contains("\"isError\":true"))
                        ++failures;
                }
                const std::lock_guard<std::mutex> guard(lock);
                latencies.insert(latencies.end(), mine.begin(), mine.end());
            });
        }
        for (std::thread& client : clients)
            client.join();
        seconds = millisecondsSince(started) / 1000.0;
        QMetaObject::invokeMethod(&app, &QCoreApplication::quit, Qt::QueuedConnection);
    });
    app.exec();
    driver.join();

    const double calls = static_cast<double>(latencies.size());
    std::printf("get_status, %d clients, one request per connection: %.0f calls/s (%d calls in %.2f s, %d failed)\n",
                Clients, calls / seconds, static_cast<int>(calls), seconds, failures.load());
    std::printf("  latency p50 %.2f ms, p99 %.2f ms, max %.2f ms  (target >= 5000 calls/s, p99 < 5 ms)\n",
                percentile(latencies, 50), percentile(latencies, 99), percentile(latencies, 100));
    return failures.load() == 0 ? 0 : 1;
}
