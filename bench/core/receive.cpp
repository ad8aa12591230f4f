// Receive path end to end through Channel::receive on a loopback channel:
// plain text in 4 KiB chunks, and "@wave" lines with four fields.
#include "core/Channel.h"
#include "core/Engine.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <cstdio>

using namespace vn;

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    Engine engine;
    Config config;
    config.port = QStringLiteral("loop://");
    Channel* channel = engine.open(config);

    {
        QByteArray chunk;
        while (chunk.size() < 4096)
            chunk += "INFO  sensor loop ok, temperature nominal, nothing to report\r\n";
        chunk.truncate(4096);
        const int n = 40000;
        QElapsedTimer t;
        t.start();
        for (int i = 0; i < n; ++i)
            channel->receive(chunk, QString());
        const double s = double(t.nsecsElapsed()) / 1e9;
        std::printf("receive plain text, 4 KiB chunks: %.1f MB/s (target >= 60)\n", double(n) * 4096 / s / 1e6);
    }
    {
        QByteArray chunk;
        int lines = 0;
        const QByteArray line("@wave sine=0.062791,triangle=0.028000,square=0.800000,sawtooth=-0.986000\r\n");
        while (chunk.size() + line.size() <= 4096) {
            chunk += line;
            ++lines;
        }
        const int n = 8000;
        QElapsedTimer t;
        t.start();
        for (int i = 0; i < n; ++i)
            channel->receive(chunk, QString());
        const double s = double(t.nsecsElapsed()) / 1e9;
        std::printf("receive \"@wave\" lines, 4 fields, %d lines a 4 KiB chunk: %.0f lines/s (target >= 300000)\n",
                    lines, double(n) * lines / s);
    }
    return 0;
}
