#include "core/Journal.h"

#include "core/Fail.h"
#include "core/JsonSize.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QUuid>


namespace vn {

QString now()
{
    // Formatting a date costs more than a whole append; within one
    // millisecond the text is the same, so it is made once per millisecond.
    thread_local qint64 lastMs = -1;
    thread_local QString lastText;
    const qint64 ms = QDateTime::currentMSecsSinceEpoch();
    if (ms != lastMs) {
        lastMs = ms;
        lastText = QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC).toString(Qt::ISODateWithMs);
    }
    return lastText;
}

QString Journal::newSessionId()
{
    return QUuid::createUuid().toString(QUuid::Id128);
}

namespace {

// "48 69 0a": two lower-case digits a byte, one blank between.
QString hexText(const QByteArray& data)
{
    if (data.isEmpty())
        return QString();
    static constexpr char digits[] = "0123456789abcdef";
    QString out(data.size() * 3 - 1, Qt::Uninitialized);
    QChar* p = out.data();
    for (qsizetype i = 0; i < data.size(); ++i) {
        const auto b = static_cast<unsigned char>(data[i]);
        if (i)
            *p++ = QLatin1Char(' ');
        *p++ = QLatin1Char(digits[b >> 4]);
        *p++ = QLatin1Char(digits[b & 15]);
    }
    return out;
}

// "key": plus its separator.
constexpr qint64 member(qint64 keyLength)
{
    return keyLength + 3;
}

} // namespace

qint64 Journal::compactSize(const QJsonObject& event)
{
    return QJsonDocument(event).toJson(QJsonDocument::Compact).size();
}

QJsonObject Journal::append(const QString& channelId, const QString& direction,
                            const QByteArray& data, const QString& peer, const QString& message,
                            bool streamReset, const QString& protocol)
{
    ++lastSeq;
    const QString hex = hexText(data);
    const QString text = QString::fromUtf8(data);
    const QString time = now();
    // Filling a copy of a prepared object costs one allocation for its
    // members instead of a string of regrowths while they are added.
    static const QJsonObject plain = [] {
        QJsonObject o;
        for (const char* key : {"channel_id", "direction", "hex", "message", "peer", "seq", "size", "text", "time"})
            o.insert(QLatin1String(key), QString());
        return o;
    }();
    QJsonObject event = plain;
    event.insert(QLatin1String("channel_id"), channelId);
    event.insert(QLatin1String("direction"), direction);
    event.insert(QLatin1String("hex"), hex);
    event.insert(QLatin1String("message"), message);
    event.insert(QLatin1String("peer"), peer);
    if (!protocol.isEmpty())
        event.insert(QLatin1String("protocol"), protocol);
    event.insert(QLatin1String("seq"), lastSeq);
    event.insert(QLatin1String("size"), qint64(data.size()));
    if (streamReset)
        event.insert(QLatin1String("stream_reset"), true);
    event.insert(QLatin1String("text"), text);
    event.insert(QLatin1String("time"), time);

    // The compact size is counted, not serialized: the same number the writer
    // would give (a test holds the two equal), at a fraction of the cost.
    qint64 size = 2 + 8 /* separators between nine members */
        + member(3) + json::integerSize(lastSeq)
        + member(4) + json::stringSize(time)
        + member(10) + json::stringSize(channelId)
        + member(9) + json::stringSize(direction)
        + member(3) + 2 + hex.size()
        + member(4) + json::stringSize(text)
        + member(4) + json::integerSize(data.size())
        + member(4) + json::stringSize(peer)
        + member(7) + json::stringSize(message);
    if (!protocol.isEmpty())
        size += 1 + member(8) + json::stringSize(protocol);
    if (streamReset)
        size += 1 + member(12) + 4;
    events.emplace_back(event, size);
    totalBytes += size;
    if (!m_lastTally || channelId != m_lastChannel) {
        m_lastTally = &m_tallies[channelId];
        m_lastChannel = channelId;
    }
    m_lastTally->bytes += data.size();
    m_owners.emplace_back(m_lastTally, data.size());
    while (qsizetype(events.size()) > MaxEvents || totalBytes > MaxBytes) {
        // Stored numbers are consecutive up to the newest.
        const auto [owner, payload] = m_owners.front();
        owner->droppedSeq = lastSeq - qint64(events.size()) + 1;
        owner->droppedBytes += payload;
        m_owners.pop_front();
        totalBytes -= events.front().second;
        events.pop_front();
    }
    return event;
}

Journal::Tally Journal::tally(const QString& channelId) const
{
    const auto found = m_tallies.find(channelId);
    return found == m_tallies.end() ? Tally() : found->second;
}

qint64 Journal::cursorForNewest(const QString& channelId, qint64 bytes) const
{
    qint64 sum = 0;
    for (auto it = events.rbegin(); it != events.rend(); ++it) {
        const QJsonObject& event = it->first;
        if (event.value(QLatin1String("channel_id")).toString() != channelId)
            continue;
        sum += event.value(QLatin1String("size")).toInteger();
        if (sum >= bytes)
            return event.value(QLatin1String("seq")).toInteger() - 1;
    }
    return events.empty() ? lastSeq : events.front().first.value(QLatin1String("seq")).toInteger() - 1;
}

qint64 Journal::bytesThrough(const QString& channelId, qint64 seq) const
{
    qint64 after = 0;
    for (auto it = events.rbegin(); it != events.rend(); ++it) {
        const QJsonObject& event = it->first;
        if (event.value(QLatin1String("seq")).toInteger() <= seq)
            break;
        if (event.value(QLatin1String("channel_id")).toString() == channelId)
            after += event.value(QLatin1String("size")).toInteger();
    }
    return tally(channelId).bytes - after;
}

QJsonObject Journal::read(qint64 after, int limit, const QString& channelId,
                          const Filter& filter) const
{
    if (limit < 1 || limit > 1000 || after < 0)
        fail(QStringLiteral("after >= 0，limit 范围 1..1000"));

    const qint64 oldest = events.empty() ? lastSeq + 1
                                         : events.front().first.value(QLatin1String("seq")).toInteger();
    QJsonArray found;
    bool hasMore = false;
    qint64 lastReturned = 0;
    // Stored sequence numbers are consecutive, so the first event after the
    // cursor is found by arithmetic, whatever the journal's length.
    std::size_t index = after < oldest ? 0 : std::size_t(after - oldest + 1);
    for (; index < events.size(); ++index) {
        const QJsonObject& event = events[index].first;
        bool match;
        if (!channelId.isEmpty())
            match = event.value(QLatin1String("channel_id")).toString() == channelId
                && (!filter || filter(event));
        else
            match = !filter || filter(event);
        if (!match)
            continue;
        if (found.size() >= limit) {
            hasMore = true;
            break;
        }
        found.append(event);
        lastReturned = oldest + qint64(index);
    }

    QJsonObject result;
    result.insert(QLatin1String("session_id"), sessionId);
    result.insert(QLatin1String("events"), found);
    result.insert(QLatin1String("next_cursor"), hasMore ? lastReturned : lastSeq);
    result.insert(QLatin1String("latest_cursor"), lastSeq);
    result.insert(QLatin1String("oldest_cursor"), oldest);
    result.insert(QLatin1String("has_more"), hasMore);
    // A reader of one channel has lost something only when the trim took an
    // event of that channel it had not read; others' traffic is not its loss.
    const bool gap = channelId.isEmpty() ? after < oldest - 1 : tally(channelId).droppedSeq > after;
    result.insert(QLatin1String("gap"), gap);
    result.insert(QLatin1String("cursor_reset_required"), lastSeq < after);
    return result;
}

} // namespace vn
