// Session page tick: a page of a real window fed 100,000 journal events over
// successive ticks, in log mode and in terminal mode. Prints events per
// second and the longest tick; the aim is no tick over 16 ms at 500 a tick.
#include "core/Channel.h"
#include "core/Engine.h"
#include "mcp/McpServer.h"
#include "ui/pages/Pane.h"
#include "ui/pages/ReceiveArea.h"
#include "ui/window/Window.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>

namespace {

struct Figures {
    double seconds = 0;
    double longestMs = 0;
    int ticks = 0;
};

// Appends a tick's worth of received lines, then times the page's tick
// together with the queued work it leaves (the log's one edit per tick).
Figures run(vn::Engine& engine, vn::Channel* channel, vn::Pane* page, int total)
{
    Figures figures;
    int line = 0;
    while (line < total) {
        for (int index = 0; index < vn::ReceiveArea::EventsPerTick && line < total; ++index, ++line) {
            const QByteArray text = (line % 7 == 0 ? QByteArray("\x1b[32mOK\x1b[0m sensor ") : QByteArray("temp="))
                                    + QByteArray::number(line % 1000) + "\r\n";
            engine.journal.append(channel->id, QStringLiteral("rx"), text, QStringLiteral("default"), QString(),
                                  false, QStringLiteral("serial"));
        }
        QElapsedTimer tick;
        tick.start();
        page->tick(true);
        QCoreApplication::sendPostedEvents();
        const double ms = tick.nsecsElapsed() / 1e6;
        figures.seconds += ms / 1000.0;
        figures.longestMs = std::max(figures.longestMs, ms);
        ++figures.ticks;
        QApplication::processEvents();
    }
    return figures;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const int total = qEnvironmentVariableIntValue("VN_EVENTS") > 0 ? qEnvironmentVariableIntValue("VN_EVENTS") : 100000;
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
        return 1;
    window.showPane(page);
    QApplication::processEvents();

    for (const bool terminal : {false, true}) {
        page->setTerminal(terminal);
        page->clearView();
        QApplication::processEvents();
        const Figures figures = run(engine, channel, page, total);
        std::printf("session page, %s mode: %d events in %d ticks, %.2f s in ticks: %.0f events/s, "
                    "longest tick %.2f ms, mean %.2f ms\n",
                    terminal ? "terminal" : "log", total, figures.ticks, figures.seconds, total / figures.seconds,
                    figures.longestMs, figures.seconds * 1000.0 / figures.ticks);
    }
    return 0;
}
