// Terminal feed throughput on a realistic mix: text with SGR colour changes,
// 256-colour and true-colour SGR, CJK wide characters and line feeds that
// scroll into the history, in 4 KiB chunks into a 120x32 grid.
#include "ui/views/TerminalParser.h"
#include "ui/views/TerminalScreen.h"
#include "ui/views/TerminalView.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFontMetricsF>
#include <QRandomGenerator>

#include <cmath>
#include <cstdio>

namespace {

QByteArray mix(qsizetype target)
{
    QRandomGenerator random(7);
    QByteArray out;
    out.reserve(target + 256);
    const char* words[] = {"sensor", "temp=23.5", "OK", "value", "rx", "0x1F", "[INFO]", "ready"};
    while (out.size() < target) {
        const int kind = random.bounded(10);
        if (kind < 4) {
            out += "\x1b[" + QByteArray::number(30 + random.bounded(8)) + "m";
        } else if (kind < 6) {
            out += "\x1b[38;5;" + QByteArray::number(random.bounded(256)) + "m";
        } else if (kind < 7) {
            out += "\x1b[48;2;" + QByteArray::number(random.bounded(256)) + ";"
                   + QByteArray::number(random.bounded(256)) + ";" + QByteArray::number(random.bounded(256)) + "m";
        } else if (kind < 8) {
            out += "\xe6\xb8\xa9\xe5\xba\xa6\xe6\xad\xa3\xe5\xb8\xb8";   // 温度正常
        } else {
            out += "\x1b[0m";
        }
        for (int i = 0; i < 3; ++i) {
            out += words[random.bounded(8)];
            out += ' ';
        }
        if (random.bounded(3) == 0)
            out += "\r\n";
    }
    return out;
}

template <typename Feed>
double megabytesPerSecond(const QByteArray& stream, Feed feed)
{
    QElapsedTimer clock;
    clock.start();
    for (qsizetype at = 0; at < stream.size(); at += 4096)
        feed(stream.mid(at, 4096));
    const double seconds = clock.nsecsElapsed() / 1e9;
    return stream.size() / 1e6 / seconds;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const QByteArray stream = mix(32 * 1024 * 1024);

    vn::TerminalScreen screen(120, 32);
    vn::TerminalParser parser(screen);
    const double core = megabytesPerSecond(stream, [&](const QByteArray& chunk) { parser.feed(chunk); });

    vn::TerminalView view;
    const QFontMetricsF fm(view.font());
    view.resize(static_cast<int>(std::ceil(46 + 120 * fm.horizontalAdvance(QLatin1Char('M')) + 1)),
                static_cast<int>(std::ceil(24 + 32 * fm.lineSpacing() * 1.15 + 1)));
    view.resizeGrid();
    const double widget = megabytesPerSecond(stream, [&](const QByteArray& chunk) { view.feed(chunk); });

    // With the repaint that each feed asks for actually painted.
    view.show();
    const QByteArray part = stream.left(4 * 1024 * 1024);
    const double painted = megabytesPerSecond(part, [&](const QByteArray& chunk) {
        view.feed(chunk);
        view.repaint();
    });

    std::printf("terminal feed, %dx%d grid, 4 KiB chunks, %.0f MiB mix\n", view.cols(), view.rows(),
                stream.size() / 1048576.0);
    std::printf("  grid and interpreter:        %8.1f MB/s\n", core);
    std::printf("  TerminalView::feed:          %8.1f MB/s (repaint scheduled once per feed)\n", widget);
    std::printf("  feed + repaint each chunk:   %8.1f MB/s (offscreen)\n", painted);
    return 0;
}
