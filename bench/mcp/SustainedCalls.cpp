// Sustained get_status load for longer than an accepted connection may live:
// 8 clients, a fresh connection for every call, for --seconds (default 60).
// Prints the calls per second of every 5-second window and the longest
// single call, and how busy the server's thread was in each window (well below
// 100 % while calls are slow means the machine, not the server, held it back).
// With --demo the two demo channels tick on the same event loop.
// Then it times the owner lookup that the server makes for every accepted
// connection, alone, on fresh loopback connections with the socket tables as
// the run left them: through netlink, and through the /proc tables that are
// the fall-back where netlink is refused.
//
//   bench_mcp_sustained_calls [--seconds N] [--demo]

#include "BenchClient.h"

#include "core/Engine.h"
#include "mcp/McpServer.h"
#include "platform/LoopbackPeer.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QMetaObject>

#include <array>
#include <atomic>
#include <ctime>
#include <pthread.h>
#include <thread>

using namespace vn::bench;

namespace {

constexpr int Clients = 8;
constexpr int WindowSeconds = 5;
constexpr int MaxWindows = 720; // an hour
constexpr double FloorShare = 0.8;
constexpr double LongestAimMs = 100;
constexpr double LookupAimUs = 50;
constexpr int NetlinkLookups = 2000;
// Each fall-back lookup reads the whole table, which holds every socket the
// run left waiting out TIME_WAIT: a few suffice.
constexpr int ProcLookups = 20;

double threadCpuSeconds(clockid_t clock)
{
    timespec now{};
    clock_gettime(clock, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

struct LookupFigures {
    double meanUs = 0;
    double p99Us = 0;
    int wrong = 0; // lookups that did not find this process's own user
};

LookupFigures timeLookups(vn::platform::LoopbackPeer::Lookup lookup, int count)
{
    LookupFigures figures;
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(listener, 16) != 0
        || ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        ::close(listener);
        figures.wrong = count;
        return figures;
    }
    vn::platform::LoopbackPeer peer(lookup);
    std::vector<double> times;
    for (int i = 0; i < count; ++i) {
        const int client = connectLoopback(ntohs(address.sin_port));
        const int accepted = client < 0 ? -1 : ::accept(listener, nullptr, nullptr);
        const auto t = Clock::now();
        const bool own = accepted >= 0 && peer.ownedBySelf(accepted);
        times.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t).count());
        figures.wrong += own ? 0 : 1;
        if (accepted >= 0)
            ::close(accepted);
        if (client >= 0)
            ::close(client);
    }
    ::close(listener);
    double sum = 0;
    for (double time : times)
        sum += time;
    figures.meanUs = sum / static_cast<double>(times.size());
    figures.p99Us = percentile(times, 99);
    return figures;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption secondsOption(QStringLiteral("seconds"), QStringLiteral("Length of the run (default 60)."),
                                           QStringLiteral("N"), QStringLiteral("60"));
    const QCommandLineOption demoOption(QStringLiteral("demo"), QStringLiteral("Run the two demo channels meanwhile."));
    parser.addOptions({secondsOption, demoOption});
    parser.process(app);
    const int seconds = std::clamp(parser.value(secondsOption).toInt(), WindowSeconds, MaxWindows * WindowSeconds);
    const int windows = seconds / WindowSeconds;

    vn::Engine engine;
    vn::McpServer server(&engine);
    if (parser.isSet(demoOption)) {
        engine.waveformDemo();
        engine.structuredDemo();
    }
    if (!server.start(0)) {
        std::fprintf(stderr, "%s\n", qPrintable(server.lastError));
        return 1;
    }
    const quint16 port = server.serverPort();

    clockid_t serverClock{};
    pthread_getcpuclockid(pthread_self(), &serverClock);
    std::array<double, MaxWindows + 1> serverCpu{};
    std::array<std::atomic<int>, MaxWindows> done{};
    std::array<std::atomic<int>, MaxWindows> slow{};
    std::atomic<int> failures = 0;
    std::array<double, Clients> longest{};
    std::thread driver([&] {
        const QString session = initialize(port);
        const QJsonObject message = toolCall(QStringLiteral("get_status"), {});
        const auto started = Clock::now();
        const auto deadline = started + std::chrono::seconds(windows * WindowSeconds);
        std::vector<std::thread> clients;
        for (int c = 0; c < Clients; ++c) {
            clients.emplace_back([&, c] {
                while (Clock::now() < deadline) {
                    const auto t = Clock::now();
                    const QByteArray reply = exchange(port, message, session);
                    const double ms = millisecondsSince(t);
                    longest[c] = std::max(longest[c], ms);
                    if (!reply.startsWith("HTTP/1.1 200 OK") || reply.contains("\"isError\":true"))
                        ++failures;
                    const auto window = std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - started).count()
                                        / WindowSeconds;
                    if (window < windows) {
                        ++done[static_cast<size_t>(window)];
                        if (ms > LongestAimMs)
                            ++slow[static_cast<size_t>(window)];
                    }
                }
            });
        }
        // The server thread's CPU time at every window's edge.
        for (int w = 0; w <= windows; ++w) {
            std::this_thread::sleep_until(started + std::chrono::seconds(w * WindowSeconds));
            serverCpu[static_cast<size_t>(w)] = threadCpuSeconds(serverClock);
        }
        for (std::thread& client : clients)
            client.join();
        QMetaObject::invokeMethod(&app, &QCoreApplication::quit, Qt::QueuedConnection);
    });
    app.exec();
    driver.join();

    std::printf("get_status, %d clients, a fresh connection per call, %d s%s (accepted connections live %d s):\n",
                Clients, windows * WindowSeconds, parser.isSet(demoOption) ? ", demo channels running" : "",
                server.connectionTimeoutMs / 1000);
    const double first = done[0].load() / static_cast<double>(WindowSeconds);
    double lowest = first;
    long long total = 0;
    for (int w = 0; w < windows; ++w) {
        const double rate = done[static_cast<size_t>(w)].load() / static_cast<double>(WindowSeconds);
        lowest = std::min(lowest, rate);
        total += done[static_cast<size_t>(w)].load();
        const double busy = (serverCpu[static_cast<size_t>(w) + 1] - serverCpu[static_cast<size_t>(w)]) / WindowSeconds;
        std::printf("  %3d-%3d s: %7.0f calls/s, server thread busy %3.0f %%%s\n", w * WindowSeconds,
                    (w + 1) * WindowSeconds, rate, 100 * busy,
                    slow[static_cast<size_t>(w)].load() ? qPrintable(QStringLiteral("  (%1 calls over %2 ms)")
                                                                          .arg(slow[static_cast<size_t>(w)].load())
                                                                          .arg(LongestAimMs))
                                                        : "");
    }
    const double worst = *std::max_element(longest.begin(), longest.end());
    const bool steady = lowest >= FloorShare * first;
    const bool quick = worst <= LongestAimMs;
    std::printf("  %lld calls, %d failed; slowest window %.0f%% of the first; longest call %.2f ms\n", total,
                failures.load(), first > 0 ? 100.0 * lowest / first : 0.0, worst);
    std::printf("  aim: no window below %.0f%% of the first %s, no call over %.0f ms %s\n", 100 * FloorShare,
                steady ? "(met)" : "(MISSED)", LongestAimMs, quick ? "(met)" : "(MISSED)");

    using Lookup = vn::platform::LoopbackPeer::Lookup;
    const LookupFigures netlink = timeLookups(Lookup::Automatic, NetlinkLookups);
    const LookupFigures tables = timeLookups(Lookup::ProcTables, ProcLookups);
    std::printf("peer owner lookup alone, per accepted connection:\n");
    std::printf("  netlink: %.1f us mean, %.1f us p99 over %d connections%s\n", netlink.meanUs, netlink.p99Us,
                NetlinkLookups, netlink.wrong ? qPrintable(QStringLiteral(", %1 WRONG").arg(netlink.wrong)) : "");
    std::printf("  /proc tables (the fall-back): %.0f us mean over %d connections%s\n", tables.meanUs, ProcLookups,
                tables.wrong ? qPrintable(QStringLiteral(", %1 WRONG").arg(tables.wrong)) : "");
    std::printf("  aim: netlink lookup under %.0f us %s\n", LookupAimUs, netlink.meanUs < LookupAimUs ? "(met)" : "(MISSED)");
    return failures.load() == 0 && netlink.wrong == 0 && tables.wrong == 0 ? 0 : 1;
}
