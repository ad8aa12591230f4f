#include "core/Journal.h"

#include "core/Fail.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QUuid>

namespace vn {

QString now()
{
    return QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs);
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

} // namespace

QJsonObject Journal::append(const QString& channelId, const QString& direction,
                            const QByteArray& data, const QString& peer, const QString& message,
                            bool streamReset, const QString& protocol)
{
    ++lastSeq;
    QJsonObject event;
    event.insert(QLatin1String("seq"), lastSeq);
    event.insert(QLatin1String("time"), now());
    event.insert(QLatin1String("channel_id"), channelId);
    event.insert(QLatin1String("direction"), direction);
    event.insert(QLatin1String("hex"), hexText(data));
    event.insert(QLatin1String("text"), QString::fromUtf8(data));
    event.insert(QLatin1String("size"), qint64(data.size()));
    event.insert(QLatin1String("peer"), peer);
    event.insert(QLatin1String("message"), message);
    if (!protocol.isEmpty())
        event.insert(QLatin1String("protocol"), protocol);
    if (streamReset)
        event.insert(QLatin1String("stream_reset"), true);

    const qint64 size = QJsonDocument(event).toJson(QJsonDocument::Compact).size();
    events.emplace_back(event, size);
    totalBytes += size;
    while (qsizetype(events.size()) > MaxEvents || totalBytes > MaxBytes) {
        totalBytes -= events.front().second;
        events.pop_front();
    }
    return event;
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
    result.insert(QLatin1String("gap"), after < oldest - 1);
    result.insert(QLatin1String("cursor_reset_required"), lastSeq < after);
    return result;
}

} // namespace vn
