// What one session page costs in memory: a page of a real window fed 12,000
// received lines over successive ticks, shown in log mode and in terminal
// mode, with lines of "a\r\n" and with 100-character lines. Each case runs in
// a process of its own, so that one case's freed heap does not hide the next
// one's growth. The journal keeps the same events whether or not a page reads
// them; its growth alone is measured too, and the page's share is the rest.
// Aims: the page's share at most 4 MiB for the short lines, 8 MiB for the long.
#include "core/Channel.h"
#include "platform/MemoryTrim.h"
#include "core/Engine.h"
#include "mcp/McpServer.h"
#include "ui/pages/Pane.h"
#include "ui/pages/ReceiveArea.h"
#include "ui/window/Window.h"

#include <QApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <optional>

namespace {

constexpr int Lines = 12000;

struct Case {
    const char* name;
    const char* mode;   // "journal" (no page reads), "log", "terminal", or "empty" (28 pages, no lines)
    bool longLines;
};

constexpr int EmptyPages = 28;

constexpr Case Cases[] = {
    {"empty-pages", "empty", false},
    {"journal-short", "journal", false}, {"log-short", "log", false}, {"terminal-short", "terminal", false},
    {"journal-long", "journal", true},   {"log-long", "log", true},   {"terminal-long", "terminal", true},
};

QByteArray lineOf(bool longLines, int index)
{
    if (!longLines)
        return QByteArrayLiteral("a\r\n");
    // 100 characters that differ from line to line, as a device's report does.
    QByteArray text = "sample " + QByteArray::number(index).rightJustified(6, '0') + " ";
    while (text.size() < 100)
        text += "temp=23.5 ";
    text.truncate(100);
    return text + "\r\n";
}

// One case in this process: the growth of the resident set in KiB.
qint64 runCase(const Case& what)
{
    QTemporaryDir folder;
    vn::Engine engine;
    vn::McpServer server(&engine);
    vn::Window window(&engine, &server, folder.filePath(QStringLiteral("settings.json")), nullptr);
    window.resize(1280, 800);
    window.show();
    if (auto* timer = window.findChild<QTimer*>(QStringLiteral("tickTimer")))
        timer->stop();

    vn::Config config;
    config.port = QStringLiteral("loop://");
    vn::Channel* channel = engine.open(config);
    vn::Pane* page = window.findPane(channel);
    if (!page)
        return -1;
    window.showPane(page);
    if (qstrcmp(what.mode, "empty") == 0) {
        // What a page costs before it shows anything: 28 more of them.
        const qint64 before = vn::residentMemoryKib();
        for (int i = 0; i < EmptyPages; ++i) {
            vn::Config more;
            more.kind = QStringLiteral("demo");
            more.host = QStringLiteral("page-%1").arg(i);
            more.name = more.host;
            engine.open(more)->close();
        }
        for (int i = 0; i < 5; ++i)
            QApplication::processEvents();
        return vn::residentMemoryKib() - before;
    }
    const bool reading = qstrcmp(what.mode, "journal") != 0;
    page->setTerminal(qstrcmp(what.mode, "terminal") == 0);
    for (int i = 0; i < 5; ++i) {
        page->tick(true);
        QApplication::processEvents();
    }
    const qint64 before = vn::residentMemoryKib();
    int line = 0;
    while (line < Lines) {
        for (int i = 0; i < vn::ReceiveArea::EventsPerTick && line < Lines; ++i, ++line)
            engine.journal.append(channel->id, QStringLiteral("rx"), lineOf(what.longLines, line),
                                  QStringLiteral("default"), QString(), false, QStringLiteral("serial"));
        if (reading)
            page->tick(true);
        QApplication::processEvents();
    }
    for (int i = 0; i < 5; ++i) {
        if (reading)
            page->tick(true);
        QApplication::processEvents();
    }
    return vn::residentMemoryKib() - before;
}

std::optional<qint64> runChild(const QString& program, const char* name)
{
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(program, {QString::fromLatin1(name)});
    if (!child.waitForFinished(600000) || child.exitCode() != 0)
        return std::nullopt;
    const QByteArray out = child.readAllStandardOutput().trimmed();
    const qsizetype at = out.lastIndexOf("rss_growth_kib=");
    if (at < 0)
        return std::nullopt;
    return out.mid(at + 15).toLongLong();
}

} // namespace

int main(int argc, char** argv)
{
    if (argc > 1) {
        QApplication app(argc, argv);
        for (const Case& what : Cases) {
            if (qstrcmp(argv[1], what.name) == 0) {
                const qint64 growth = runCase(what);
                std::printf("rss_growth_kib=%lld\n", static_cast<long long>(growth));
                return growth < 0 ? 1 : 0;
            }
        }
        std::fprintf(stderr, "bench_page_memory: no case named %s\n", argv[1]);
        return 2;
    }
    QCoreApplication app(argc, argv);
    const QString program = QCoreApplication::applicationFilePath();
    QFile load(QStringLiteral("/proc/loadavg"));
    QByteArray average = load.open(QIODevice::ReadOnly) ? load.readAll().split(' ').mid(0, 3).join(' ') : "?";
    std::printf("page memory: %d received lines fed to one page of a 1280x800 window (load %s)\n", Lines,
                average.constData());
    if (const std::optional<qint64> empty = runChild(program, "empty-pages"))
        std::printf("  %d more session pages, nothing received: RSS +%6.1f MiB, %.2f MiB a page\n", EmptyPages,
                    *empty / 1024.0, *empty / 1024.0 / EmptyPages);
    for (const bool longLines : {false, true}) {
        const char* kind = longLines ? "long" : "short";
        const QByteArray journal = QByteArray("journal-") + kind;
        const std::optional<qint64> alone = runChild(program, journal.constData());
        for (const char* mode : {"log", "terminal"}) {
            const QByteArray name = QByteArray(mode) + "-" + kind;
            const std::optional<qint64> growth = runChild(program, name.constData());
            if (!growth || !alone) {
                std::printf("  %-8s view, %s lines: failed\n", mode, longLines ? "100-character" : "\"a\"");
                continue;
            }
            std::printf("  %-8s view, %-13s lines: RSS +%6.1f MiB, journal alone +%5.1f MiB, page +%6.1f MiB"
                        " (aim %d MiB)\n",
                        mode, longLines ? "100-character" : "\"a\"", *growth / 1024.0, *alone / 1024.0,
                        (*growth - *alone) / 1024.0, longLines ? 8 : 4);
        }
    }
    return 0;
}
