// The real window on a link faster than it can show. A session page on a TCP
// client channel whose peer on 127.0.0.1 writes numbered 100-byte lines flat
// out and at 1, 5 and 20 MB/s, in the log view, the log view with a line
// filter and the terminal view; then a UDP page fed by two senders at
// 3.2 MB/s in all, and the TCP page at 5 MB/s read by 8 agents polling
// read_events. All the while a 10 ms probe timer runs on the GUI thread and a
// client calls get_status over the MCP HTTP endpoint every 100 ms.
//
// Each row prints: the longest gap between two probe timeouts (the longest
// turn of the event loop), the longest get_status, the largest journal event,
// the bytes that reached the journal against those sent, the bytes the
// history dropped before the page read them, and how long after the burst's
// last line was sent the view showed it. Targets stand next to the figures.
//
//   bench_fast_link [--seconds N] [--only tcp,udp,agents]
#include "bench/mcp/BenchClient.h"
#include "bench/window/LinkPeers.h"

#include "core/Channel.h"
#include "core/Engine.h"
#include "mcp/McpServer.h"
#include "ui/pages/Pane.h"
#include "ui/pages/ReceiveArea.h"
#include "ui/views/FilterBox.h"
#include "ui/views/LogView.h"
#include "ui/views/TerminalView.h"
#include "ui/window/LoopProbe.h"
#include "ui/window/Window.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTimer>
#include <QUdpSocket>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <deque>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

using namespace vn;
using namespace vn::bench;

namespace {

constexpr double MiB = 1048576.0;
constexpr double StallTargetMs = 50;
constexpr double StatusTargetMs = 100;
constexpr double NewestTargetMs = 250;
constexpr qint64 EventTarget = 1048576;
constexpr int DrainMs = 10000;

QString loadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("?");
    return QString::fromLatin1(file.readAll()).section(QLatin1Char(' '), 0, 2);
}

// Runs the event loop until `done` holds (true) or `ms` have passed (false).
bool runUntil(const std::function<bool()>& done, int ms)
{
    if (done())
        return true;
    QEventLoop loop;
    QElapsedTimer clock;
    clock.start();
    bool reached = false;
    QTimer check;
    check.setTimerType(Qt::PreciseTimer);
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (done()) {
            reached = true;
            loop.quit();
        } else if (clock.elapsed() >= ms) {
            loop.quit();
        }
    });
    check.start(5);
    loop.exec();
    return reached;
}

void runFor(int ms)
{
    runUntil([] { return false; }, ms);
}

// get_status every 100 ms from a thread of its own; the longest reply since
// the last take.
class StatusPoller {
public:
    explicit StatusPoller(quint16 port)
        : m_thread([this, port] {
            const QString session = initialize(port);
            const QJsonObject message = toolCall(QStringLiteral("get_status"), {});
            while (!m_stop) {
                const auto started = Clock::now();
                const QByteArray reply = exchange(port, message, session);
                const auto micros = qint64(millisecondsSince(started) * 1000);
                if (reply.isEmpty())
                    ++failures;
                qint64 seen = m_longest.load();
                while (micros > seen && !m_longest.compare_exchange_weak(seen, micros)) {
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
            m_ended = true;
        })
    {
    }
    // The server answers on this thread's loop: a call under way when the
    // poller stops needs the loop to run until it is answered, or the join
    // would wait for it forever.
    ~StatusPoller()
    {
        m_stop = true;
        runUntil([this] { return m_ended.load(); }, 30000);
        m_thread.join();
    }

    double takeLongestMs() { return double(m_longest.exchange(0)) / 1000.0; }

    std::atomic<int> failures{0};

private:
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_ended{false};
    std::atomic<qint64> m_longest{0};
    std::thread m_thread;
};

// What one channel journals, and what of it the history dropped before the
// page's cursor got there: checked after every append, the only time the
// history drops anything.
class JournalWatch : public QObject {
public:
    JournalWatch(Engine& engine, Channel* channel, Pane* page)
        : m_engine(engine)
        , m_page(page)
    {
        connect(channel, &Channel::bytesReceived, this, [this](const QByteArray& data) {
            largest = std::max(largest, qint64(data.size()));
            bytes += data.size();
            ++events;
            m_unread.emplace_back(m_engine.journal.lastSeq, data.size());
        });
        connect(&engine, &Engine::eventAdded, this, &JournalWatch::check);
    }

    void reset()
    {
        largest = bytes = events = dropped = 0;
        m_unread.clear();
    }

    void check()
    {
        const Journal& journal = m_engine.journal;
        const qint64 oldest = journal.events.empty() ? journal.lastSeq + 1
                                                     : journal.events.front().first.value(QLatin1String("seq")).toInteger();
        const qint64 cursor = m_page->receiveArea()->readCursor;
        while (!m_unread.empty() && (m_unread.front().first <= cursor || m_unread.front().first < oldest)) {
            if (m_unread.front().first > cursor)
                dropped += m_unread.front().second;
            m_unread.pop_front();
        }
    }

    qint64 largest = 0;
    qint64 bytes = 0;
    qint64 events = 0;
    qint64 dropped = 0;

private:
    Engine& m_engine;
    Pane* m_page;
    std::deque<std::pair<qint64, qint64>> m_unread;
};

enum class View { Log, Filtered, Terminal };

const char* viewName(View view)
{
    return view == View::Log ? "log" : view == View::Filtered ? "log+filter" : "terminal";
}

void showView(Pane* page, View view)
{
    page->setTerminal(view == View::Terminal);
    page->filterBox()->setText(view == View::Filtered ? QStringLiteral("mark") : QString());
}

// Whether the page's current view shows the line.
bool shows(Pane* page, const QString& needle)
{
    if (page->terminal)
        return page->terminalView()->visibleText().contains(needle);
    QTextBlock block = page->logView()->document()->lastBlock();
    for (int steps = 0; block.isValid() && steps < 64; ++steps, block = block.previous()) {
        if (block.isVisible() && !block.text().isEmpty())
            return block.text().contains(needle);
    }
    return false;
}

struct Link {
    Engine& engine;
    Pane* page;
    Channel* channel;
    TcpLinePeer& peer;
    JournalWatch& watch;
    LoopProbe& probe;
    StatusPoller& status;
    int milliseconds;
};

// One burst on the TCP page; the figures of its row.
void tcpRow(Link& link, double bytesPerSecond, View view)
{
    showView(link.page, view);
    link.page->clearView();
    runFor(500);
    link.watch.reset();
    link.probe.takeLongestMs();
    link.status.takeLongestMs();

    Burst burst;
    link.peer.start(burst, bytesPerSecond, link.milliseconds);
    runUntil([&burst] { return burst.done.load(); }, link.milliseconds + 120000);
    link.peer.join();
    const QString needle = QString::fromLatin1(LineMaker::numberText(burst.lastLine));
    double newestMs = -1;
    runUntil([&] {
        if (newestMs < 0 && shows(link.page, needle))
            newestMs = std::chrono::duration<double, std::milli>(LinkClock::now() - burst.ended).count();
        return newestMs >= 0 && link.watch.bytes >= burst.sentBytes;
    }, DrainMs);
    link.watch.check();
    const double stall = link.probe.takeLongestMs();
    const double status = link.status.takeLongestMs();

    const QString rate = bytesPerSecond > 0 ? QStringLiteral("%1 MB/s").arg(bytesPerSecond / 1e6) : QStringLiteral("max");
    const double sentRate = double(burst.sentBytes) / (link.milliseconds / 1000.0) / 1e6;
    std::printf("tcp %-7s %-10s  stall %7.1f ms%s  get_status %7.1f ms%s  largest event %6.2f MiB%s  "
                "journal %7.1f/%7.1f MB (%5.1f MB/s sent)  dropped before the page read %7.1f MB  "
                "newest shown %s%s\n",
                qPrintable(rate), viewName(view), stall, stall <= StallTargetMs ? "  " : " !", status,
                status <= StatusTargetMs ? "  " : " !", double(link.watch.largest) / MiB,
                link.watch.largest <= EventTarget ? "  " : " !", double(link.watch.bytes) / 1e6,
                double(burst.sentBytes) / 1e6, sentRate, double(link.watch.dropped) / 1e6,
                newestMs < 0 ? qPrintable(QStringLiteral("never (%1 s)").arg(DrainMs / 1000))
                             : qPrintable(QStringLiteral("+%1 ms").arg(newestMs, 0, 'f', 0)),
                newestMs >= 0 && newestMs <= NewestTargetMs ? "" : " !");
    std::fflush(stdout);
}

// The kernel's drop counter of the UDP socket bound to the port.
qint64 udpDrops(quint16 port)
{
    QFile file(QStringLiteral("/proc/net/udp"));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray local = ':' + QByteArray::number(port, 16).toUpper().rightJustified(4, '0');
    for (const QByteArray& line : file.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() >= 13 && fields[1].endsWith(local))
            return fields.last().toLongLong();
    }
    return -1;
}

void udpRow(Engine& engine, Pane* page, Channel* channel, LoopProbe& probe, StatusPoller& status, int milliseconds)
{
    page->window->showPane(page);
    showView(page, View::Log);
    page->clearView();
    runFor(500);
    const quint16 port = channel->udpSocket->localPort();
    const int granted = channel->udpSocket->socketOption(QAbstractSocket::ReceiveBufferSizeSocketOption).toInt();
    qint64 datagrams = 0;
    qint64 largest = 0;
    QObject counter;
    QObject::connect(channel, &Channel::bytesReceived, &counter, [&](const QByteArray& data) {
        ++datagrams;
        largest = std::max(largest, qint64(data.size()));
    });
    const qint64 drops = udpDrops(port);
    probe.takeLongestMs();
    status.takeLongestMs();

    UdpLineSender first(port, 0);
    UdpLineSender second(port, 5000000000LL);
    first.start(1.6e6, milliseconds);
    second.start(1.6e6, milliseconds);
    runUntil([&] { return first.done && second.done; }, milliseconds + 60000);
    first.join();
    second.join();
    const qint64 sent = first.datagrams + second.datagrams;
    runUntil([&] { return datagrams >= sent; }, 3000);
    const qint64 dropped = udpDrops(port) - drops;
    const double stall = probe.takeLongestMs();
    const double longestStatus = status.takeLongestMs();
    Q_UNUSED(engine);
    std::printf("udp 3.2 MB/s log, page on screen, receive buffer %d B as the kernel reports it (after a "
                "request, twice what it lets data use; net.core.rmem_max caps the request):\n"
                "    stall %.1f ms%s  get_status %.1f ms%s  datagrams sent %lld, journaled %lld, kernel drops %lld "
                "(target 0 where the buffer is >= 4 MiB)%s  largest event %lld B\n",
                granted, stall, stall <= StallTargetMs ? "" : " !", longestStatus,
                longestStatus <= StatusTargetMs ? "" : " !", static_cast<long long>(sent),
                static_cast<long long>(datagrams), static_cast<long long>(dropped),
                dropped == 0 || granted < 4 * 1048576 ? "" : " !", static_cast<long long>(largest));
    std::fflush(stdout);
}

// One agent polling read_events with its own cursor, adding up what it gets.
class Agent {
public:
    Agent(quint16 port, const QString& channelId, qint64 after)
        : m_thread([this, port, channelId, after] { run(port, channelId, after); })
    {
    }
    ~Agent()
    {
        stop = true;
        m_thread.join();
    }

    std::atomic<bool> stop{false};
    std::atomic<qint64> bytes{0};
    std::atomic<qint64> calls{0};
    std::atomic<qint64> gaps{0};
    std::atomic<bool> finished{false};
    std::vector<double> times; // read once finished

private:
    static qint64 numberAfter(const QByteArray& reply, const QByteArray& key, qsizetype from)
    {
        const qsizetype at = reply.indexOf(key, from);
        if (at < 0)
            return -1;
        qsizetype i = at + key.size();
        qint64 value = 0;
        while (i < reply.size() && reply[i] >= '0' && reply[i] <= '9')
            value = value * 10 + (reply[i++] - '0');
        return value;
    }

    void run(quint16 port, const QString& channelId, qint64 after)
    {
        const QString session = initialize(port);
        qint64 cursor = after;
        while (!stop) {
            const QJsonObject message = toolCall(
                QStringLiteral("read_events"),
                {{"channel_id", channelId}, {"after", cursor}, {"limit", 1000}, {"wait_ms", 200}});
            const auto started = Clock::now();
            const QByteArray reply = exchange(port, message, session);
            times.push_back(millisecondsSince(started));
            ++calls;
            // Only the structured copy is looked at; its keys come sorted, the
            // events (and their sizes) before the cursors.
            const qsizetype structured = reply.indexOf("\"structuredContent\":");
            if (structured < 0)
                continue;
            for (qsizetype at = reply.indexOf("\"size\":", structured); at >= 0;
                 at = reply.indexOf("\"size\":", at + 7))
                bytes += numberAfter(reply, "\"size\":", at);
            if (reply.indexOf("\"gap\":true", structured) >= 0)
                ++gaps;
            const qint64 next = numberAfter(reply, "\"next_cursor\":", structured);
            if (next >= 0)
                cursor = next;
        }
        finished = true;
    }

    std::thread m_thread;
};

void agentsRow(Link& link, quint16 port, int milliseconds)
{
    link.page->window->showPane(link.page);
    showView(link.page, View::Log);
    link.page->clearView();
    runFor(500);
    link.watch.reset();
    link.probe.takeLongestMs();
    link.status.takeLongestMs();
    std::vector<std::unique_ptr<Agent>> agents;
    for (int i = 0; i < 8; ++i)
        agents.push_back(std::make_unique<Agent>(port, link.channel->id, link.engine.journal.lastSeq));
    Burst burst;
    link.peer.start(burst, 5e6, milliseconds);
    runUntil([&burst] { return burst.done.load(); }, milliseconds + 120000);
    link.peer.join();
    runUntil([&] { return link.watch.bytes >= burst.sentBytes; }, DrainMs);
    runFor(1000);
    const double stall = link.probe.takeLongestMs();
    const double status = link.status.takeLongestMs();
    // Their last calls still need the loop to be answered.
    for (auto& agent : agents)
        agent->stop = true;
    runUntil([&agents] {
        return std::all_of(agents.begin(), agents.end(), [](const auto& agent) { return agent->finished.load(); });
    }, 30000);
    std::vector<double> times;
    qint64 bytes = 0;
    qint64 calls = 0;
    qint64 gaps = 0;
    for (const auto& agent : agents) {
        times.insert(times.end(), agent->times.begin(), agent->times.end());
        bytes += agent->bytes;
        calls += agent->calls;
        gaps += agent->gaps;
    }
    agents.clear();
    std::printf("agents: 8 polling read_events (limit 1000, wait_ms 200) on the TCP page at 5 MB/s, log view:\n"
                "    stall %.1f ms%s  get_status %.1f ms%s  read_events p50 %.1f ms, p99 %.1f ms, max %.1f ms over "
                "%lld calls  an agent read %.1f of %.1f MB on average, %lld replies with a gap\n",
                stall, stall <= StallTargetMs ? "" : " !", status, status <= StatusTargetMs ? "" : " !",
                percentile(times, 50), percentile(times, 99), percentile(times, 100), static_cast<long long>(calls),
                double(bytes) / 8 / 1e6, double(link.watch.bytes) / 1e6, static_cast<long long>(gaps));
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    int seconds = 15;
    QStringList only{QStringLiteral("tcp"), QStringLiteral("udp"), QStringLiteral("agents")};
    const QStringList arguments = app.arguments();
    for (int i = 1; i + 1 < arguments.size(); ++i) {
        if (arguments[i] == QLatin1String("--seconds"))
            seconds = std::max(1, arguments[++i].toInt());
        else if (arguments[i] == QLatin1String("--only"))
            only = arguments[++i].split(QLatin1Char(','));
    }
    const int milliseconds = seconds * 1000;

    QTemporaryDir folder;
    Engine engine;
    McpServer server(&engine);
    if (!server.start(0))
        return 1;
    const quint16 mcpPort = server.serverPort();
    auto window = std::make_unique<Window>(&engine, &server, folder.filePath(QStringLiteral("settings.json")), nullptr);
    window->resize(1280, 800);
    window->show();

    TcpLinePeer peer;
    Config tcp;
    tcp.kind = QStringLiteral("tcp-client");
    tcp.host = QStringLiteral("127.0.0.1");
    tcp.network_port = peer.port;
    tcp.name = QStringLiteral("fast tcp");
    Channel* tcpChannel = engine.open(tcp);
    Config udp;
    udp.kind = QStringLiteral("udp");
    udp.bind_host = QStringLiteral("127.0.0.1");
    udp.bind_port = 0;
    udp.name = QStringLiteral("fast udp");
    Channel* udpChannel = engine.open(udp);
    if (!runUntil([&] { return tcpChannel->state == QLatin1String("connected") && peer.accepted(); }, 10000)
        || udpChannel->state != QLatin1String("connected")) {
        std::fprintf(stderr, "bench_fast_link: the channels did not connect\n");
        return 1;
    }
    Pane* tcpPage = window->findPane(tcpChannel);
    Pane* udpPage = window->findPane(udpChannel);
    if (!tcpPage || !udpPage)
        return 1;
    window->showPane(tcpPage);

    LoopProbe probe;
    probe.start();
    StatusPoller status(mcpPort);
    JournalWatch watch(engine, tcpChannel, tcpPage);
    Link link{engine, tcpPage, tcpChannel, peer, watch, probe, status, milliseconds};

    std::printf("fast link against the real window (offscreen, 1280x800), %d s a burst of 100-byte numbered lines; "
                "load %s\n",
                seconds, qPrintable(loadAverage()));
    std::printf("targets: stall <= %.0f ms, get_status <= %.0f ms, no event over 1 MiB, newest line shown "
                "<= %.0f ms after the burst; '!' marks a figure off target\n",
                StallTargetMs, StatusTargetMs, NewestTargetMs);
    std::fflush(stdout);
    if (only.contains(QLatin1String("tcp"))) {
        for (const double rate : {0.0, 1e6, 5e6, 20e6})
            for (const View view : {View::Log, View::Filtered, View::Terminal})
                tcpRow(link, rate, view);
    }
    if (only.contains(QLatin1String("udp")))
        udpRow(engine, udpPage, udpChannel, probe, status, milliseconds);
    if (only.contains(QLatin1String("agents")))
        agentsRow(link, mcpPort, milliseconds);
    std::printf("load at the end %s\n", qPrintable(loadAverage()));
    std::fflush(stdout);
    window.reset();
    return status.failures == 0 ? 0 : 1;
}
