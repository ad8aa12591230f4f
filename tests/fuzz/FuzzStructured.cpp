// The structured JSON/XML record search fed in random deliveries, in each of
// its modes and with a few text encodings. Every record it keeps must carry
// the document's text, and a JSON record must hold what that text parses to.

#include "core/Channel.h"
#include "core/Config.h"
#include "core/Engine.h"
#include "tests/fuzz/FuzzSupport.h"

#include <QJsonDocument>
#include <QStringList>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    vn::fuzz::ensureApplication();
    static vn::Engine engine;
    static vn::Channel channel(&engine, vn::Config());
    if (size < 2)
        return 0;
    static const QStringList modes{QStringLiteral("auto"), QStringLiteral("json"), QStringLiteral("xml")};
    static const QStringList encodings{QStringLiteral("utf-8"), QStringLiteral("gbk"), QStringLiteral("utf-16le")};
    const std::uint8_t setting = data[0];
    channel.configureParser(QStringLiteral("off"), QStringLiteral("utf-8"));
    channel.configureParser(modes.at(setting % 3), encodings.at((setting / 3) % 3));
    const vn::fuzz::Input input(data + 1, size - 1);

    vn::Source source;
    qint64 event = 0;
    for (const QByteArray& piece : input.pieces())
        channel.parseStructured(source, piece, ++event, QStringLiteral("peer"));

    if (source.pendingText.size() > 65536 + 8192 * 2)
        vn::fuzz::broken("pending text grows past its limit");
    if (qsizetype(source.structured.records.size()) > vn::RecordList::MaxRecords)
        vn::fuzz::broken("more records kept than the limit");
    for (const QJsonObject& record : source.structured.records) {
        const QString text = record.value(QLatin1String("text")).toString();
        if (text.isEmpty())
            vn::fuzz::broken("record without its document text");
        if (record.value(QLatin1String("format")).toString() == QLatin1String("json")) {
            const QJsonDocument parsed = QJsonDocument::fromJson(text.toUtf8());
            const QJsonValue value = record.value(QLatin1String("value"));
            if (parsed.isNull() || (parsed.isArray() ? QJsonValue(parsed.array()) : QJsonValue(parsed.object())) != value)
                vn::fuzz::broken("JSON record value differs from its text");
        }
    }
    return 0;
}
