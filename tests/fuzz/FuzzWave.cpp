// "@wave" line decoding fed in random deliveries: the samples and the count of
// rejected lines must not depend on how the bytes were cut.

#include "core/Channel.h"
#include "core/Config.h"
#include "core/Engine.h"
#include "tests/fuzz/FuzzSupport.h"

#include <QJsonArray>

namespace {

struct Decoded {
    QList<QJsonObject> values;
    qint64 index = 0;
    int rejected = 0;
};

Decoded decode(vn::Channel& channel, const QList<QByteArray>& pieces)
{
    vn::Source source;
    for (const QByteArray& piece : pieces)
        channel.parseWave(source, piece);
    Decoded out;
    for (const QJsonObject& sample : source.samples)
        out.values.append(sample.value(QLatin1String("values")).toObject());
    out.index = source.sampleIndex;
    out.rejected = source.rejectedLines;
    if (source.waveLine.size() > 8192 + 64 * 2 && !source.discardLine)
        vn::fuzz::broken("an unterminated line grows past the line limit");
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    vn::fuzz::ensureApplication();
    static vn::Engine engine;
    static vn::Channel channel(&engine, vn::Config());
    const vn::fuzz::Input input(data, size);
    const Decoded whole = decode(channel, {input.payload});
    const Decoded cut = decode(channel, input.pieces());
    if (whole.index != cut.index || whole.rejected != cut.rejected)
        vn::fuzz::broken("sample or rejected-line counts depend on the cutting");
    if (whole.values != cut.values)
        vn::fuzz::broken("sample values depend on the cutting");
    return 0;
}
