// Structured records: a stream of 1 KiB JSON documents in 4 KiB chunks, and
// one 64 KiB document delivered one byte at a time.
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
    channel->configureParser(QStringLiteral("auto"), QStringLiteral("utf-8"));

    {
        QByteArray doc("{\"device\":\"bench\",\"values\":[");
        for (int i = 0; doc.size() < 1000; ++i)
            doc += QByteArray::number(i * 1.25) + ",";
        doc += "0]}\n";
        doc = doc.left(1019) + "0]}\n";
        QByteArray stream;
        while (stream.size() < 64 * 1024 * 1024 / 8)
            stream += doc;
        QElapsedTimer t;
        t.start();
        for (qsizetype i = 0; i < stream.size(); i += 4096)
            channel->receive(stream.mid(i, 4096), QString());
        const double s = double(t.nsecsElapsed()) / 1e9;
        const auto& source = *channel->sources.at(QStringLiteral("default"));
        std::printf("structured: 1 KiB JSON documents in 4 KiB chunks through receive: %.1f MB/s (%lld records)\n",
                    double(stream.size()) / s / 1e6, static_cast<long long>(source.recordSeq));
    }
    {
        QByteArray doc("{\"items\":[");
        for (int i = 0; doc.size() < 65536 - 16; ++i)
            doc += "{\"i\":" + QByteArray::number(i) + "},";
        doc += "0]}";
        Source source;
        QElapsedTimer t;
        t.start();
        for (char c : doc)
            channel->parseStructured(source, QByteArray(1, c), 1, QString());
        const double ms = double(t.nsecsElapsed()) / 1e6;
        std::printf("structured: one %lld-byte document in 1-byte chunks, decoder: %.1f ms (target < 50); records %lld\n",
                    static_cast<long long>(doc.size()), ms, static_cast<long long>(source.recordSeq));
        Config other = config;
        other.port = QStringLiteral("loop://");
        Channel whole(&engine, other);
        whole.configureParser(QStringLiteral("auto"), QStringLiteral("utf-8"));
        t.restart();
        for (char c : doc)
            whole.receive(QByteArray(1, c), QString());
        std::printf("structured: the same through receive (journal included): %.1f ms\n",
                    double(t.nsecsElapsed()) / 1e6);
    }
    return 0;
}
