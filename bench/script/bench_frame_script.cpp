// Throughput of the frame-script interpreter on the built-in example decoder,
// and compile time of a script at the 64 KiB size limit.
#include "core/script/FrameScriptLexer.h"
#include "core/script/FrameScriptProgram.h"
#include "core/script/FrameScriptRuntime.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QJsonArray>

#include <cstdio>

using namespace vn;

namespace {

QByteArray validFrames(int count)
{
    QByteArray stream;
    stream.reserve(count * 8);
    for (int i = 0; i < count; ++i) {
        const qint16 temperature = qint16(i % 6000 - 3000);
        const quint16 voltage = quint16(i % 50000);
        char f[8] = {char(0xAA), char(0x55), char(temperature & 0xFF), char((temperature >> 8) & 0xFF),
                     char(voltage & 0xFF), char(voltage >> 8), 0, 0x0D};
        unsigned sum = 0;
        for (int k = 0; k < 6; ++k)
            sum += quint8(f[k]);
        f[6] = char(sum & 0xFF);
        stream.append(f, 8);
    }
    return stream;
}

// A script of about 64 KiB and close to the token limit: many small decoding
// blocks, padded with comments.
QString largeScript()
{
    QString body;
    int block = 0;
    const QString piece = QStringLiteral(
        "    if (buffer_size() >= 8 && buffer[0] == 0xAA) { int v%1 = read_i16_le(buffer, 2); "
        "emit(\"f%1\", v%1 / 100.0); }\n");
    // About 37 tokens per block; stay under 16384 tokens in all.
    while (block < 435)
        body += piece.arg(block++);
    QString source = QStringLiteral("void main(const uint8_t data[], int length)\n{\n    buffer_append(data, length);\n")
        + body + QStringLiteral("    buffer_clear();\n}\n");
    while (source.toUtf8().size() + 80 < script::MaxSourceBytes)
        source += QStringLiteral("// padding comment to reach the size limit of a frame script ...........\n");
    return source;
}

} // namespace

int main()
{
    const auto program = FrameScriptProgram::compile(FrameScriptProgram::example());
    const QByteArray stream = validFrames(8 * 1024 * 1024 / 8);
    constexpr int Chunk = 4096;

    double best = 0;
    qint64 frames = 0;
    for (int round = 0; round < 5; ++round) {
        FrameScriptRuntime runtime(program);
        frames = 0;
        QElapsedTimer timer;
        timer.start();
        for (qsizetype at = 0; at < stream.size(); at += Chunk)
            frames += runtime.feed(QByteArray::fromRawData(stream.constData() + at, Chunk)).size();
        const double seconds = double(timer.nsecsElapsed()) / 1e9;
        if (best == 0 || seconds < best)
            best = seconds;
    }
    std::printf("example decoder, 8 MiB of valid frames in 4 KiB chunks (best of 5):\n");
    std::printf("  frames           %lld\n", static_cast<long long>(frames));
    std::printf("  time             %.1f ms\n", best * 1e3);
    std::printf("  frames/s         %.0f\n", double(frames) / best);
    std::printf("  MB/s             %.1f\n", double(stream.size()) / best / 1e6);

    const QString source = largeScript();
    const int tokens = int(script::tokenize(source).size());
    double compileBest = 0;
    for (int round = 0; round < 10; ++round) {
        QElapsedTimer timer;
        timer.start();
        const auto big = FrameScriptProgram::compile(source);
        const double ms = double(timer.nsecsElapsed()) / 1e6;
        if (compileBest == 0 || ms < compileBest)
            compileBest = ms;
        (void)big;
    }
    std::printf("compile of a %lld-byte script with %d tokens: %.2f ms (best of 10)\n",
                static_cast<long long>(source.toUtf8().size()), tokens, compileBest);
    return 0;
}
