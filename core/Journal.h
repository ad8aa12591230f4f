#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <deque>
#include <functional>
#include <utility>

namespace vn {

// The current time in UTC, ISO 8601 with milliseconds and "Z".
QString now();

// The one event log of all traffic of all channels. Readers keep their own
// cursor (the last "seq" they saw) and pull newer events with read(); the log
// is bounded in count and in compact-JSON bytes.
class Journal {
public:
    using Filter = std::function<bool(const QJsonObject&)>;
    using Entry = std::pair<QJsonObject, qint64>;

    static constexpr int MaxEvents = 20000;
    static constexpr qint64 MaxBytes = 8388608;

    QString sessionId;
    qint64 lastSeq = 0;
    qint64 totalBytes = 0;
    std::deque<Entry> events;

    QJsonObject append(const QString& channelId, const QString& direction, const QByteArray& data,
                       const QString& peer, const QString& message, bool streamReset,
                       const QString& protocol);

    // Throws through fail() on a cursor below 0 or a limit outside 1..1000.
    QJsonObject read(qint64 after, int limit, const QString& channelId = QString(),
                     const Filter& filter = Filter()) const;

    // Bytes of the event serialized as compact JSON.
    static qint64 compactSize(const QJsonObject& event);

    // A fresh random session id: 32 lower-case hex digits.
    static QString newSessionId();
};

} // namespace vn
