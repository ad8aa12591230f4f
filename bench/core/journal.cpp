// Journal figures: append rate of small events and of 4 KiB chunks, read
// latency on a full journal, and resident memory of a full journal.
#include "core/Journal.h"
#include "platform/MemoryTrim.h"

#include <QElapsedTimer>
#include <QFile>

#include <cstdio>

using vn::Journal;

namespace {

void append(Journal& j, const QByteArray& data)
{
    j.append(QStringLiteral("0123456789"), QStringLiteral("rx"), data, QString(), QString(), false,
             QStringLiteral("serial"));
}

} // namespace

int main()
{
    {
        const long before = vn::residentMemoryKib();
        Journal j;
        // About 420 compact bytes an event: both limits are reached together.
        const QByteArray data(66, 'y');
        for (int i = 0; i < 40000; ++i)
            append(j, data);
        const long after = vn::residentMemoryKib();
        std::printf("full journal: %zu events, %lld compact bytes, resident growth %.1f MiB (%.1fx compact; aim <= 8x)\n",
                    j.events.size(), static_cast<long long>(j.totalBytes), (after - before) / 1024.0,
                    (after - before) * 1024.0 / double(j.totalBytes));

        const int reads = 20000;
        QElapsedTimer t;
        t.start();
        qint64 sink = 0;
        for (int i = 0; i < reads; ++i)
            sink += j.read(j.lastSeq - 10, 500).value(QLatin1String("next_cursor")).toInteger();
        const double us = double(t.nsecsElapsed()) / 1e3 / reads;
        std::printf("read(after = latest - 10, limit 500) on a full journal: %.2f us (target < 20) [%lld]\n", us,
                    static_cast<long long>(sink % 7));
    }
    {
        Journal j;
        const QByteArray small("0123456789abcdef");
        const int n = 400000;
        QElapsedTimer t;
        t.start();
        for (int i = 0; i < n; ++i)
            append(j, small);
        const double s = double(t.nsecsElapsed()) / 1e9;
        std::printf("journal append 16-byte events: %.0f events/s (target >= 300000)\n", n / s);
    }
    {
        Journal j;
        const QByteArray chunk(4096, 'x');
        const int n = 20000;
        QElapsedTimer t;
        t.start();
        for (int i = 0; i < n; ++i)
            append(j, chunk);
        const double s = double(t.nsecsElapsed()) / 1e9;
        std::printf("journal append 4 KiB chunks: %.1f MB/s of payload (target >= 100)\n",
                    double(n) * 4096 / s / 1e6);
    }
    return 0;
}
