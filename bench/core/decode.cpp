// StreamDecoder: 1 MiB of text in each of a few codecs, decoded whole by the
// codec and in 4 KiB and 1-byte pieces by the decoder, and the cost of a
// 4 KiB piece after 64 MiB of history, which should be that of the first.
#include "core/StreamDecoder.h"
#include "core/TextEncoding.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <cstdio>

using namespace vn;

namespace {

double seconds(const QElapsedTimer& timer)
{
    return double(timer.nsecsElapsed()) / 1e9;
}

// The bytes decoded `rounds` times over, after one round to warm up.
double megabytesPerSecond(QTextCodec& codec, const QByteArray& bytes, qsizetype piece, int rounds)
{
    StreamDecoder decoder(codec);
    QElapsedTimer timer;
    qsizetype chars = 0;
    for (int round = 0; round <= rounds; ++round) {
        if (round == 1)
            timer.start();
        for (qsizetype at = 0; at < bytes.size(); at += piece)
            chars += decoder.decode(QByteArrayView(bytes).sliced(at, qMin(piece, bytes.size() - at))).size();
    }
    const double s = seconds(timer);
    return chars > 0 ? double(bytes.size()) * rounds / s / 1e6 : 0.0;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QString line = QString::fromUtf8("INFO 传感器 温度 23.5 ℃ テスト 한국어 ok\r\n");
    for (const char* name : {"UTF-8", "GBK", "Shift_JIS", "ISO-2022-JP", "UTF-16"}) {
        QTextCodec* codec = QTextCodec::codecForName(name);
        const QByteArray unit = encodeWhole(*codec, line);
        QByteArray bytes;
        while (bytes.size() < (1 << 20))
            bytes += unit;
        bytes.truncate(1 << 20);

        qsizetype wholeChars = codec->toUnicode(bytes).size();
        QElapsedTimer timer;
        timer.start();
        for (int round = 0; round < 8; ++round)
            wholeChars += codec->toUnicode(bytes).size();
        const double whole = wholeChars > 0 ? double(bytes.size()) * 8 / seconds(timer) / 1e6 : 0.0;

        // Pieces after a long history: the decoder holds at most a few bytes.
        StreamDecoder decoder(*codec);
        const QByteArrayView piece = QByteArrayView(bytes).first(4096 + 1);
        decoder.decode(piece);   // the codec's converter is made on first use
        const auto perPiece = [&] {
            QElapsedTimer clock;
            clock.start();
            for (int i = 0; i < 256; ++i)
                decoder.decode(piece);
            return seconds(clock) / 256;
        };
        const double first = perPiece();
        for (int i = 0; i < 64; ++i)
            decoder.decode(bytes);
        const double later = perPiece();

        std::printf("%-12s whole %7.1f MB/s, 4 KiB pieces %7.1f MB/s, 1-byte pieces %6.1f MB/s; "
                    "a 4 KiB piece at the start %.1f us, after 64 MiB %.1f us\n",
                    name, whole, megabytesPerSecond(*codec, bytes, 4096, 8), megabytesPerSecond(*codec, bytes, 1, 1),
                    first * 1e6, later * 1e6);
    }
    return 0;
}
