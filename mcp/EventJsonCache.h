#pragma once

#include <QByteArray>
#include <QJsonObject>

#include <map>

namespace vn {

// Appends UTF-8 text escaped as the inside of a JSON string: quotes and
// backslashes behind a backslash, control bytes as \u00XX, the rest as is.
void appendJsonEscaped(QByteArray& out, const char* data, qsizetype size);

// The compact JSON of journal events as the reading tools answer with them.
// An event is written out once, for the first answer that holds it; every
// later answer to any agent copies those bytes. Agents polling the same busy
// channel thus cost a copy of what they read, not a serialization of it each.
// An event never changes once journaled, so its sequence number is its key;
// entries go as soon as the journal no longer holds their event, so the cache
// never holds more than the journal does.
class EventJsonCache {
public:
    // A result as compact JSON (the bytes QJsonDocument writes for it) and
    // the same text escaped as the inside of a JSON string.
    struct Text {
        QByteArray compact;
        QByteArray escaped;
    };

    // The text of a journal read result (its "events" array of journal
    // events, the other members as they are). `oldestSeq` is the journal's
    // oldest stored sequence number: every entry before it is let go first.
    Text encode(const QJsonObject& readResult, qint64 oldestSeq);

    std::size_t entries() const { return m_entries.size(); }
    qint64 bytes() const { return m_bytes; }

private:
    struct Entry {
        QByteArray compact;
        QByteArray escaped;
    };
    const Entry& entry(const QJsonObject& event);
    void forgetBefore(qint64 seq);

    std::map<qint64, Entry> m_entries;
    qint64 m_bytes = 0;
};

} // namespace vn
