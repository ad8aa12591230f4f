// Log view and terminal: a line that never ends against the same bytes broken
// into lines of 80 characters, fed in 4 KiB events, one event a tick, as a
// device that writes without pause reaches the window. Without and with a
// filter set.
#include "RxEvents.h"
#include "ui/views/LogView.h"
#include "ui/views/SearchFilter.h"
#include "ui/views/TerminalView.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QJsonObject>
#include <QTextDocument>

#include <cstdio>

namespace {

constexpr qsizetype kEventBytes = 4096;
constexpr qsizetype kBrokenLine = 80;

QByteArray endless(qsizetype size)
{
    static const QByteArray pattern("0123456789ABCDEF");
    QByteArray bytes;
    bytes.reserve(size);
    while (bytes.size() < size)
        bytes += pattern;
    bytes.truncate(size);
    return bytes;
}

QByteArray broken(const QByteArray& bytes)
{
    QByteArray out;
    out.reserve(bytes.size() + bytes.size() / kBrokenLine + 1);
    for (qsizetype at = 0; at < bytes.size(); at += kBrokenLine)
        out += bytes.mid(at, kBrokenLine) + '\n';
    return out;
}

struct Figure {
    double seconds = 0;
    int blocks = 0;
};

Figure throughLog(const QList<QJsonObject>& list, bool filtered)
{
    vn::LogView view;
    view.resize(900, 600);
    view.show();
    if (filtered) {
        vn::SearchFilter filter;
        filter.text = QStringLiteral("CDEF0123");
        filter.compile();
        view.setFilter(filter);
    }
    QApplication::processEvents();
    QElapsedTimer clock;
    clock.start();
    for (const QJsonObject& event : list) {
        view.feed(event);
        QApplication::processEvents();
    }
#if __has_include("ui/views/LogRenderer.h")
    // The view lays out over the turns after the last event.
    while (!view.isRendered())
        QApplication::processEvents();
#endif
    return {clock.nsecsElapsed() / 1e9, view.document()->blockCount()};
}

double throughTerminal(const QByteArray& bytes)
{
    vn::TerminalView view;
    view.resize(900, 600);
    view.show();
    QApplication::processEvents();
    QElapsedTimer clock;
    clock.start();
    for (qsizetype at = 0; at < bytes.size(); at += kEventBytes) {
        view.feed(bytes.mid(at, kEventBytes));
        QApplication::processEvents();
    }
    return clock.nsecsElapsed() / 1e9;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const qsizetype size = qEnvironmentVariableIntValue("VN_BYTES") > 0 ? qEnvironmentVariableIntValue("VN_BYTES") : 1048576;
    const QByteArray line = endless(size);
    const QByteArray lines = broken(line);
    const QList<QJsonObject> endlessEvents = vn::bench::rxEvents(line, kEventBytes);
    const QList<QJsonObject> brokenEvents = vn::bench::rxEvents(lines, kEventBytes);

    for (const bool filtered : {false, true}) {
        const Figure one = throughLog(endlessEvents, filtered);
        const Figure many = throughLog(brokenEvents, filtered);
        std::printf("log view%s: %lld bytes in 4 KiB events, one a tick: endless line %.3f s (%d lines kept), "
                    "a line break every 80 characters %.3f s (%d lines kept): ratio %.2f\n",
                    filtered ? " with a filter set" : "", static_cast<long long>(size), one.seconds, one.blocks,
                    many.seconds, many.blocks, one.seconds / many.seconds);
    }
    const double one = throughTerminal(line);
    const double many = throughTerminal(lines);
    std::printf("terminal: %lld bytes in 4 KiB pieces, one a tick: endless line %.3f s, "
                "a line break every 80 characters %.3f s: ratio %.2f\n",
                static_cast<long long>(size), one, many, one / many);
    return 0;
}
