// Log view at high rates: 100-byte numbered lines in 4 KiB events, handed over
// every 40 ms as the page's tick does, at 1, 5 and 20 MB/s and as fast as the
// view takes them, with the view seen, hidden (as a page's log behind its
// terminal), and seen with a line filter.
// Prints for each the GUI thread's share of a core, the longest turn of the
// event loop (the longest gap of a 1 ms timer), and how long after the last
// event the newest line was laid out.
#include "RxEvents.h"
#include "ui/views/LogView.h"
#include "ui/views/SearchFilter.h"

#include <QApplication>
#include <QEventLoop>
#include <QElapsedTimer>
#include <QJsonObject>
#include <QTextDocument>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace {

constexpr qsizetype kLine = 100;
constexpr qsizetype kEventBytes = 4096;
constexpr int kTickMs = 40;

double threadSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

// A device's numbered lines, every seventh coloured.
QByteArray lines(qsizetype bytes)
{
    QByteArray out;
    out.reserve(bytes + kLine);
    for (int n = 0; out.size() < bytes; ++n) {
        QByteArray line = (n % 7 == 0 ? QByteArray("\x1b[31merror\x1b[0m ") : QByteArray("temp=25.1 "))
                          + QByteArray::number(n).rightJustified(8, '0') + ' ';
        line += QByteArray(kLine - 2 - line.size(), 'x');
        out += line + "\r\n";
    }
    return out;
}

enum class Mode { Seen, Hidden, Filtered };

const char* name(Mode mode)
{
    switch (mode) {
    case Mode::Seen:
        return "seen";
    case Mode::Hidden:
        return "hidden";
    case Mode::Filtered:
        return "seen, filtered";
    }
    return "";
}

bool laidOut(vn::LogView& view)
{
#if __has_include("ui/views/LogRenderer.h")
    return !view.isVisible() || view.isRendered();
#else
    Q_UNUSED(view);
    return true;
#endif
}

struct Figures {
    double cpuShare = 0;
    double longestTurnMs = 0;
    double newestAfterMs = 0;
    double mbPerSecond = 0;
};

// rate 0: every tick hands over the next 500 events at once, as fast as the view takes them.
Figures run(const QList<QJsonObject>& cycle, Mode mode, double megabytesPerSecond, double seconds)
{
    vn::LogView view;
    view.resize(900, 600);
    // Hidden as a page's log behind its terminal is: shown once, then hidden.
    view.show();
    QApplication::processEvents();
    if (mode == Mode::Hidden)
        view.hide();
    if (mode == Mode::Filtered) {
        vn::SearchFilter filter;
        filter.text = QStringLiteral("error");
        filter.compile();
        view.setFilter(filter);
    }
    QApplication::processEvents();

    Figures figures;
    QEventLoop loop;
    QElapsedTimer wall;
    QElapsedTimer sinceProbe;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    probe.setInterval(1);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        figures.longestTurnMs = std::max(figures.longestTurnMs, sinceProbe.nsecsElapsed() / 1e6);
        sinceProbe.restart();
    });
    const qsizetype perTick = megabytesPerSecond > 0
        ? std::max<qsizetype>(1, qsizetype(megabytesPerSecond * 1e6 * kTickMs / 1000 / kEventBytes))
        : 500;
    // As fast as it goes: ten ticks of 500 events, 20 MB, one a turn.
    const int ticks = megabytesPerSecond > 0 ? int(seconds * 1000 / kTickMs) : 10;
    int tick = 0;
    qsizetype next = 0;
    qint64 bytes = 0;
    QElapsedTimer after;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    ticker.setInterval(megabytesPerSecond > 0 ? kTickMs : 0);
    QTimer settle;
    settle.setInterval(0);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        for (qsizetype index = 0; index < perTick; ++index) {
            const QJsonObject& event = cycle.at(next++ % cycle.size());
            view.feed(event);
            bytes += event.value(QLatin1String("size")).toInteger();
        }
        if (++tick == ticks) {
            ticker.stop();
            after.start();
            settle.start();
        }
    });
    QObject::connect(&settle, &QTimer::timeout, [&] {
        if (!laidOut(view))
            return;
        figures.newestAfterMs = after.nsecsElapsed() / 1e6;
        settle.stop();
        loop.quit();
    });
    const double cpuStart = threadSeconds();
    wall.start();
    sinceProbe.start();
    probe.start();
    ticker.start();
    loop.exec();
    const double elapsed = wall.nsecsElapsed() / 1e9;
    figures.cpuShare = (threadSeconds() - cpuStart) / elapsed;
    figures.mbPerSecond = bytes / 1e6 / elapsed;
    probe.stop();
    return figures;
}

// A change of filter over a full view: how long until the view shows it, and
// the longest turn meanwhile.
void filterChange(const QList<QJsonObject>& cycle)
{
    vn::LogView view;
    view.resize(900, 600);
    view.show();
    for (int index = 0; index < 200; ++index)
        view.feed(cycle.at(index));
    while (!laidOut(view))
        QApplication::processEvents();
    QApplication::processEvents();
    for (const char* text : {"error", "", "temp=25.1 0000"}) {
        vn::SearchFilter filter;
        filter.text = QString::fromLatin1(text);
        filter.compile();
        double longest = 0;
        QElapsedTimer clock;
        clock.start();
        QElapsedTimer turn;
        turn.start();
        view.setFilter(filter);
        QApplication::processEvents();
        longest = turn.nsecsElapsed() / 1e6;
        while (!laidOut(view)) {
            turn.restart();
            QApplication::processEvents();
            longest = std::max(longest, turn.nsecsElapsed() / 1e6);
        }
        std::printf("  filter set to \"%s\" over %d lines: shown after %.1f ms, longest turn %.1f ms\n", text,
                    view.document()->blockCount(), clock.nsecsElapsed() / 1e6, longest);
    }
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const double seconds = qEnvironmentVariableIntValue("VN_SECONDS") > 0 ? qEnvironmentVariableIntValue("VN_SECONDS") : 3;
    const QList<QJsonObject> cycle = vn::bench::rxEvents(lines(4 * 1024 * 1024), kEventBytes);
    std::printf("log view, 100-byte lines in 4 KiB events every %d ms, %.0f s each:\n", kTickMs, seconds);
    // VN_MODE (seen, hidden, filtered) and VN_RATE (MB/s, 0 for as fast as it goes) pick one case.
    const QByteArray only = qgetenv("VN_MODE");
    const bool oneRate = qEnvironmentVariableIsSet("VN_RATE");
    // VN_FILTER_ONLY: only the change of filter.
    const bool filterOnly = qEnvironmentVariableIsSet("VN_FILTER_ONLY");
    for (const Mode mode : {Mode::Seen, Mode::Hidden, Mode::Filtered}) {
        if (filterOnly || (!only.isEmpty() && !QByteArray(name(mode)).startsWith(only)))
            continue;
        for (const double rate : {1.0, 5.0, 20.0, 0.0}) {
            if (oneRate && rate != qEnvironmentVariableIntValue("VN_RATE"))
                continue;
            const Figures f = run(cycle, mode, rate, seconds);
            char label[32];
            if (rate > 0)
                std::snprintf(label, sizeof label, "%2.0f MB/s", rate);
            else
                std::snprintf(label, sizeof label, "max     ");
            std::printf("  %-15s %s: %5.1f MB/s taken, GUI thread %3.0f %% of a core, longest turn %7.1f ms, "
                        "newest line laid out %6.1f ms after the last event\n",
                        name(mode), label, f.mbPerSecond, 100 * f.cpuShare, f.longestTurnMs, f.newestAfterMs);
        }
    }
    if (filterOnly || (only.isEmpty() && !oneRate))
        filterChange(cycle);
    return 0;
}
