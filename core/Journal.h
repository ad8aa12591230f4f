#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <deque>
#include <functional>
#include <unordered_map>
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

    // What one channel put into the journal and what the trim took of it, so
    // that a reader of that channel learns of its own losses only, and how
    // large they were.
    struct Tally {
        qint64 bytes = 0;         // payload bytes appended, ever
        qint64 droppedSeq = 0;    // "seq" of the newest event the trim removed (0: none yet)
        qint64 droppedBytes = 0;  // payload bytes the trim removed, ever
    };

    Journal() = default;
    // The tallies are referred to from within; a journal is one of a kind.
    Journal(const Journal&) = delete;
    Journal& operator=(const Journal&) = delete;

    QString sessionId;
    qint64 lastSeq = 0;
    qint64 totalBytes = 0;
    std::deque<Entry> events;

    QJsonObject append(const QString& channelId, const QString& direction, const QByteArray& data,
                       const QString& peer, const QString& message, bool streamReset,
                       const QString& protocol);

    // Throws through fail() on a cursor below 0 or a limit outside 1..1000.
    // Read for one channel, "gap" tells of dropped events of that channel
    // only; read for all, of any dropped event after the cursor.
    QJsonObject read(qint64 after, int limit, const QString& channelId = QString(),
                     const Filter& filter = Filter()) const;

    Tally tally(const QString& channelId) const;
    // The cursor after which the channel's newest events still held carry at
    // least `bytes` payload bytes (fewer when it holds fewer).
    qint64 cursorForNewest(const QString& channelId, qint64 bytes) const;
    // The channel's payload bytes in events up to `seq`: exact while the
    // journal still holds every event of the channel after `seq`, otherwise
    // counting the dropped ones after it as if they were before.
    qint64 bytesThrough(const QString& channelId, qint64 seq) const;

    // Bytes of the event serialized as compact JSON.
    static qint64 compactSize(const QJsonObject& event);

    // A fresh random session id: 32 lower-case hex digits.
    static QString newSessionId();

private:
    // Node-based, so that the owners below may point into it.
    std::unordered_map<QString, Tally> m_tallies;
    // For each stored event, in the same order: whose it is and its payload
    // bytes, so that the trim need not read them out of the event.
    std::deque<std::pair<Tally*, qint64>> m_owners;
    QString m_lastChannel;
    Tally* m_lastTally = nullptr;
};

} // namespace vn
