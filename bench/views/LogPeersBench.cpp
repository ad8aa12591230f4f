// A log view that hears ever new senders, as a UDP page or a TCP server does:
// 100,000 distinct peers, one event each, fed to a shown view in the page's
// ticks of 64 events. The view first holds its full count of rows, so that
// what grows after that is what the peers cost. Two cases: every datagram a
// whole line, and every peer leaving its line open (its stream keeps the
// line's state for as long as the line is shown), and for comparison the
// same rows from a single peer.
// Prints the resident set's growth and the streams kept at a few points; the
// aim is memory flat after the first few hundred peers.
#include "ui/views/LogView.h"
#include "platform/MemoryTrim.h"

#include <QApplication>
#include <QFile>
#include <QJsonObject>
#include <QString>

#include <cstdio>

namespace {

constexpr int Peers = 100000;
constexpr int EventsPerTick = 64;

QJsonObject rxEvent(const QByteArray& bytes, const QString& peer)
{
    return QJsonObject{{"direction", "rx"},
                       {"peer", peer},
                       {"hex", QString::fromLatin1(bytes.toHex(' '))},
                       {"time", "2026-01-02T03:04:05.678Z"},
                       {"size", bytes.size()}};
}

void settle(vn::LogView& view)
{
    for (int i = 0; i < 1000 && !view.isRendered(); ++i)
        QApplication::processEvents();
    QApplication::processEvents();
}

void runCase(const char* name, bool openLines, bool onePeer = false)
{
    vn::LogView view;
    view.resize(900, 600);
    view.show();
    const QByteArray payload = openLines ? QByteArray("reading 42, more follows") : QByteArray("reading 42\n");
    // A full view first, of rows as long as the peers' rows will be, from one
    // peer: what the rows cost stays the same from here on.
    QByteArray row = payload;
    if (!row.endsWith('\n'))
        row += '\n';
    for (int i = 0; i < vn::LogView::kMaxLines + 100; ++i) {
        view.feed(rxEvent(row, QStringLiteral("10.99.99.99:5000")));
        if (i % EventsPerTick == 0)
            settle(view);
    }
    settle(view);
    const qint64 start = vn::residentMemoryKib();
    std::printf("  %s:\n", name);
    int peer = 0;
    for (const int mark : {300, 1000, 5000, 10000, 50000, Peers}) {
        while (peer < mark) {
            for (int i = 0; i < EventsPerTick && peer < mark; ++i, ++peer)
                view.feed(rxEvent(onePeer ? row : payload,
                                  onePeer ? QStringLiteral("10.99.99.99:5000")
                                          : QStringLiteral("10.%1.%2.%3:5000")
                                                .arg(peer >> 16)
                                                .arg((peer >> 8) & 0xff)
                                                .arg(peer & 0xff)));
            settle(view);
        }
        std::printf("    %6d %s: RSS %+7.1f MiB, %3d streams kept\n", peer, onePeer ? "lines" : "peers",
                    (vn::residentMemoryKib() - start) / 1024.0, view.streamCount());
    }
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QFile load(QStringLiteral("/proc/loadavg"));
    const QByteArray average = load.open(QIODevice::ReadOnly) ? load.readAll().split(' ').mid(0, 3).join(' ') : "?";
    std::printf("log view fed %d distinct peers, one event each, over a full view of %d rows (load %s;"
                " at most %d streams)\n",
                Peers, vn::LogView::kMaxLines, average.constData(), vn::LogView::kMaxStreams);
    runCase("a whole line a peer", false);
    runCase("an open line a peer", true);
    // What the same rows cost when they come from the one peer: the view's
    // own growth while its rows are replaced, apart from the streams.
    runCase("for comparison, the same rows from one peer", true, true);
    return 0;
}
