#include "core/Channel.h"

#include "core/Engine.h"
#include "core/Fail.h"
#include "core/JsonSize.h"
#include "core/StreamDecoder.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QXmlStreamReader>

#include <cmath>
#include <limits>

namespace vn {

Source::Source() = default;
Source::~Source() = default;

void Source::resetStream()
{
    waveLine.clear();
    discardLine = false;
    pendingText.clear();
    pendingEscape.clear();
    decoder.reset();
    resetSearch();
}

void Source::resetSearch()
{
    jsonScan = ScanState{};
    xmlReader.reset();
    xmlFed = 0;
    xmlDepth = 0;
}

qint64 RecordList::indentedSize(const QJsonObject& record, const QByteArray& valueIndented)
{
    // "{\n", members as '    "key": value' joined by ",\n", then "\n}\n".
    qint64 size = 5 + 2 * (record.size() - 1);
    for (auto it = record.constBegin(); it != record.constEnd(); ++it) {
        size += 6 + json::stringSize(it.key());
        const QJsonValue value = it.value();
        if (value.isString()) {
            size += json::stringSize(value.toString());
        } else if (value.isNull()) {
            size += 4;
        } else if (value.isDouble() && value.toDouble() == double(value.toInteger())
                   && std::abs(value.toDouble()) < 9e15) {
            size += json::integerSize(value.toInteger());
        } else if ((value.isObject() || value.isArray()) && !valueIndented.isEmpty()) {
            // One level deeper than on its own: every line after the first
            // moves four columns right, and the final line break goes.
            size += valueIndented.size() - 1 + 4 * (valueIndented.count('\n') - 1);
        } else {
            return -1;
        }
    }
    return size;
}

void RecordList::append(QJsonObject record, const QByteArray& valueIndented)
{
    ++seq;
    record.insert(QLatin1String("seq"), seq);
    qint64 size = indentedSize(record, valueIndented);
    if (size < 0)
        size = QJsonDocument(record).toJson(QJsonDocument::Indented).size();
    records.push_back(std::move(record));
    sizes.push_back(size);
    bytes += size;
    while (qsizetype(records.size()) > MaxRecords || bytes > MaxBytes) {
        bytes -= sizes.front();
        sizes.pop_front();
        records.pop_front();
    }
}

Source& Channel::sourceFor(const QString& peer)
{
    const QString key = peer.isEmpty() ? QStringLiteral("default") : peer;
    auto it = sources.find(key);
    if (it != sources.end())
        return *it->second;
    if (sources.size() >= 32)
        sources.erase(sources.begin());
    return *sources.emplace(key, std::make_shared<Source>()).first->second;
}

void Channel::receive(const QByteArray& data, const QString& peer)
{
    receiveRead(data, peer, false);
}

void Channel::receiveRead(const QByteArray& data, const QString& peer, bool more)
{
    if (data.size() <= MaxPiece) {
        moreOfTheRead = more;
        receivePiece(data, peer);
    } else {
        for (qsizetype at = 0; at < data.size(); at += MaxPiece) {
            moreOfTheRead = more || at + MaxPiece < data.size();
            receivePiece(data.mid(at, MaxPiece), peer);
        }
    }
    moreOfTheRead = false;
}

void Channel::receivePiece(const QByteArray& data, const QString& peer)
{
    if (data.isEmpty())
        return;
    rxBytes += data.size();
    const bool transfer = transferActive();
    const QJsonObject event = engine->journal.append(
        id, QStringLiteral("rx"), data, peer,
        transfer ? QStringLiteral("file-transfer") : QString(), false, config.kind);
    Q_EMIT bytesReceived(data);
    if (transfer) {
        Q_EMIT engine->eventAdded();
        return;
    }
    const qint64 eventSeq = event.value(QLatin1String("seq")).toInteger();

    // This runs from Qt slots: a decoder that fails is reported once and left
    // off; the raw bytes above are journaled whatever happens here.
    Source* source = nullptr;
    try {
        source = &sourceFor(peer);
        if (scriptEnabled && processor)
            submitScript(data, peer, eventSeq);
        parseWave(*source, data);
    } catch (const std::exception& failure) {
        decoderFailed(QStringLiteral("数据解码已停用：") + errorText(failure));
    } catch (...) {
        decoderFailed(QStringLiteral("数据解码已停用：未知错误"));
    }
    if (source && parserMode != QLatin1String("off")) {
        try {
            parseStructured(*source, data, eventSeq, peer);
        } catch (const std::exception& failure) {
            parserMode = QStringLiteral("off");
            decoderFailed(QStringLiteral("结构化解析已停用：") + errorText(failure));
        } catch (...) {
            parserMode = QStringLiteral("off");
            decoderFailed(QStringLiteral("结构化解析已停用：未知错误"));
        }
    }
    Q_EMIT engine->eventAdded();
}

void Channel::decoderFailed(const QString& message)
{
    engine->journal.append(id, QStringLiteral("status"), QByteArray(), QString(), message, false,
                           config.kind);
    Q_EMIT engine->channelsChanged();
}

QJsonObject Channel::readRecords(qint64 cursor, int limit, const QJsonObject& cursors, bool script) const
{
    if (limit < 1 || limit > 500 || cursor < 0)
        fail(QStringLiteral("解析游标 >= 0，limit 范围 1..500"));
    QJsonObject out;
    for (const auto& [key, source] : sources) {
        qint64 c = cursor;
        const QJsonValue own = cursors.value(key);
        if (own.isDouble()) {
            const double v = own.toDouble();
            // Integral, whatever its size: a huge one is far ahead, a very
            // negative one is still negative.
            if (v == std::floor(v))
                c = v < -9.2e18 ? -1 : v > 9.2e18 ? std::numeric_limits<qint64>::max() : qint64(v);
        }
        if (c < 0)
            fail(QStringLiteral("解析游标不能为负数"));
        const RecordList& list = script ? source->script : source->structured;
        QJsonArray found;
        bool hasMore = false;
        qint64 lastReturned = 0;
        const qint64 oldest = list.records.empty()
            ? list.seq + 1
            : list.records.front().value(QLatin1String("seq")).toInteger();
        // Numbers in a list are consecutive: start right after the cursor.
        std::size_t index = c < oldest ? 0 : std::size_t(c - oldest + 1);
        for (; index < list.records.size(); ++index) {
            if (found.size() >= limit) {
                hasMore = true;
                break;
            }
            found.append(list.records[index]);
            lastReturned = oldest + qint64(index);
        }
        QJsonObject entry;
        entry.insert(QLatin1String("records"), found);
        entry.insert(QLatin1String("next_cursor"), hasMore ? lastReturned : list.seq);
        entry.insert(QLatin1String("has_more"), hasMore);
        entry.insert(QLatin1String("gap"), c < oldest - 1);
        entry.insert(QLatin1String("oldest_cursor"), oldest);
        out.insert(key, entry);
    }
    QJsonObject result;
    result.insert(QLatin1String("channel_id"), id);
    result.insert(QLatin1String("sources"), out);
    return result;
}

QJsonObject Channel::structured(qint64 cursor, int limit, const QJsonObject& cursors) const
{
    QJsonObject result = readRecords(cursor, limit, cursors, false);
    result.insert(QLatin1String("mode"), parserMode);
    return result;
}

QJsonObject Channel::scriptResults(qint64 cursor, int limit, const QJsonObject& cursors) const
{
    QJsonObject result = readRecords(cursor, limit, cursors, true);
    result.insert(QLatin1String("enabled"), scriptEnabled);
    result.insert(QLatin1String("error"), scriptError);
    return result;
}

} // namespace vn
