#include "core/Channel.h"

#include "core/Fail.h"
#include "core/Journal.h"
#include "core/StreamDecoder.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QTextCodec>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

namespace vn {

namespace {

constexpr int MaxDepth = 128;
constexpr qsizetype MaxPending = 65536;

QTextCodec* parserCodec(const QString& encoding)
{
    return QTextCodec::codecForName(encoding.toUtf8());
}

// Length of an unfinished control sequence (ESC, "[", parameters,
// intermediates, no final yet) at the end of the text; 0 when there is none.
qsizetype unfinishedEscape(const QString& text)
{
    const qsizetype escape = text.lastIndexOf(QChar(0x1b));
    if (escape < 0)
        return 0;
    qsizetype i = escape + 1;
    if (i == text.size())
        return text.size() - escape;
    if (text[i] != QLatin1Char('['))
        return 0;
    ++i;
    while (i < text.size() && text[i].unicode() >= 0x30 && text[i].unicode() <= 0x3f)
        ++i;
    while (i < text.size() && text[i].unicode() >= 0x20 && text[i].unicode() <= 0x2f)
        ++i;
    return i == text.size() ? text.size() - escape : 0;
}

enum class Outcome { Complete, Abandoned, Incomplete };

struct Search {
    Outcome outcome = Outcome::Incomplete;
    qsizetype length = 0;
    bool valid = false;
};

Search searchJson(const QString& text, Source::ScanState& scan)
{
    const QChar* chars = text.constData();
    for (qsizetype i = scan.position; i < text.size(); ++i) {
        const char16_t c = chars[i].unicode();
        if (scan.escaped) {
            scan.escaped = false;
        } else if (scan.inString) {
            if (c == u'\\')
                scan.escaped = true;
            else if (c == u'"')
                scan.inString = false;
        } else if (c == u'"') {
            scan.inString = true;
        } else if (c == u'[' || c == u'{') {
            if (++scan.depth > MaxDepth)
                return {Outcome::Complete, i + 1, false};
        } else if (c == u']' || c == u'}') {
            if (--scan.depth <= 0)
                return {Outcome::Complete, i + 1, true};
        }
    }
    scan.position = text.size();
    return {};
}

Search searchXml(const QString& text, Source& source)
{
    if (!source.xmlReader) {
        source.xmlReader = std::make_unique<QXmlStreamReader>();
        source.xmlFed = 0;
        source.xmlDepth = 0;
    }
    QXmlStreamReader& reader = *source.xmlReader;
    if (source.xmlFed < text.size()) {
        reader.addData(text.mid(source.xmlFed));
        source.xmlFed = text.size();
    }
    while (!reader.atEnd()) {
        const QXmlStreamReader::TokenType token = reader.readNext();
        if (token == QXmlStreamReader::Invalid)
            break;
        if (token == QXmlStreamReader::DTD || token == QXmlStreamReader::EntityReference)
            return {Outcome::Abandoned, qsizetype(reader.characterOffset()), false};
        if (token == QXmlStreamReader::StartElement) {
            if (++source.xmlDepth >= MaxDepth + 1)
                return {Outcome::Abandoned, qsizetype(reader.characterOffset()), false};
        } else if (token == QXmlStreamReader::EndElement) {
            if (--source.xmlDepth == 0)
                return {Outcome::Complete, qsizetype(reader.characterOffset()), true};
        }
    }
    if (reader.hasError() && reader.error() != QXmlStreamReader::PrematureEndOfDocumentError)
        return {Outcome::Abandoned, std::max<qsizetype>(1, reader.characterOffset()), false};
    return {};
}

QString prettyXml(const QString& document)
{
    QString out;
    QXmlStreamWriter writer(&out);
    writer.setAutoFormatting(true);
    QXmlStreamReader reader(document);
    while (!reader.atEnd()) {
        reader.readNext();
        if (reader.hasError())
            break;
        // A document without a declaration gets none made up for it.
        if (reader.tokenType() == QXmlStreamReader::StartDocument && reader.documentVersion().isEmpty())
            continue;
        writer.writeCurrentToken(reader);
    }
    return out;
}

} // namespace

void Channel::configureParser(const QString& mode, const QString& textEncoding)
{
    static const QStringList modes{QStringLiteral("off"), QStringLiteral("auto"),
                                   QStringLiteral("json"), QStringLiteral("xml")};
    if (!modes.contains(mode))
        fail(QStringLiteral("解析格式无效"));
    // Refused here, so the receive path never meets an unknown encoding.
    if (!parserCodec(textEncoding))
        fail(QStringLiteral("不支持的解析编码"));
    if (mode == parserMode && textEncoding == encoding)
        return;
    for (auto& entry : sources) {
        Source& source = *entry.second;
        source.pendingText.clear();
        source.pendingEscape.clear();
        source.decoder.reset();
        source.resetSearch();
    }
    parserMode = mode;
    encoding = textEncoding;
}

void Channel::parseStructured(Source& source, const QByteArray& data, qint64 eventSeq, const QString& peer)
{
    if (!source.decoder) {
        QTextCodec* codec = parserCodec(encoding);
        if (!codec)
            fail(QStringLiteral("不支持的解析编码"));
        source.decoder = std::make_unique<StreamDecoder>(*codec);
    }
    static const QRegularExpression control(QStringLiteral("\\x1b\\[[0-?]*[ -/]*[@-~]"));
    QString text = source.pendingEscape + source.decoder->decode(data);
    source.pendingEscape.clear();
    if (text.contains(QChar(0x1b))) {
        text.remove(control);
        // A sequence cut at the chunk's end waits for its final character,
        // so its "[" cannot pass for the start of a document.
        const qsizetype held = unfinishedEscape(text);
        if (held > 0 && held <= 256) {
            source.pendingEscape = text.right(held);
            text.chop(held);
        }
    }
    source.pendingText += text;

    QString& pending = source.pendingText;
    while (!pending.isEmpty()) {
        const bool json = parserMode == QLatin1String("json");
        const bool xml = parserMode == QLatin1String("xml");
        qsizetype start = -1;
        for (qsizetype i = 0; i < pending.size(); ++i) {
            const char16_t c = pending[i].unicode();
            if ((!xml && (c == u'[' || c == u'{')) || (!json && c == u'<')) {
                start = i;
                break;
            }
        }
        if (start < 0) {
            pending.clear();
            source.resetSearch();
            return;
        }
        if (start > 0) {
            pending.remove(0, start);
            source.resetSearch();
        }
        const bool isXml = pending.front() == QLatin1Char('<');
        const Search found = isXml ? searchXml(pending, source) : searchJson(pending, source.jsonScan);
        if (found.outcome == Outcome::Incomplete) {
            if (pending.size() > MaxPending && !moreOfTheRead) {
                pending.clear();
                source.resetSearch();
            }
            return;
        }
        const QString document = pending.left(found.length);
        pending.remove(0, found.length);
        source.resetSearch();
        if (found.outcome != Outcome::Complete || !found.valid)
            continue;

        QByteArray valueIndented;
        QJsonObject record;
        record.insert(QLatin1String("event_seq"), eventSeq);
        record.insert(QLatin1String("time"), now());
        record.insert(QLatin1String("peer"), peer);
        record.insert(QLatin1String("text"), document);
        if (isXml) {
            record.insert(QLatin1String("format"), QStringLiteral("xml"));
            record.insert(QLatin1String("pretty"), prettyXml(document));
            record.insert(QLatin1String("value"), QJsonValue());
        } else {
            QJsonParseError parseError;
            const QJsonDocument parsed = QJsonDocument::fromJson(document.toUtf8(), &parseError);
            if (parseError.error != QJsonParseError::NoError)
                continue;
            valueIndented = parsed.toJson(QJsonDocument::Indented);
            record.insert(QLatin1String("format"), QStringLiteral("json"));
            record.insert(QLatin1String("pretty"), QString::fromUtf8(valueIndented));
            record.insert(QLatin1String("value"),
                          parsed.isArray() ? QJsonValue(parsed.array()) : QJsonValue(parsed.object()));
        }
        source.structured.append(std::move(record), valueIndented);
    }
}

} // namespace vn
