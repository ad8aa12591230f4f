#pragma once

#include <QByteArray>
#include <QJsonObject>

#include <map>
#include <utility>
#include <vector>

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

    struct Entry {
        QByteArray compact;
        QByteArray escaped;
    };

    // A read result ready to be written: its members' text, each event's
    // cached text, and the sizes of both forms. Valid until the next call.
    struct Prepared {
        // Per member: its key and value as compact JSON ("events" has none).
        std::vector<std::pair<QByteArray, QByteArray>> members;
        std::vector<const Entry*> events;
        qsizetype compactSize = 0;
        qsizetype escapedSize = 0;
    };

    // Looks up (or writes once) the events of a journal read result (its
    // "events" array of journal events, the other members as they are).
    // `oldestSeq` is the journal's oldest stored sequence number: every entry
    // before it is let go first.
    Prepared prepare(const QJsonObject& readResult, qint64 oldestSeq);
    static void appendCompact(QByteArray& out, const Prepared& prepared);
    static void appendEscaped(QByteArray& out, const Prepared& prepared);
    // The same text as pieces that share the cached bytes, in order, for an
    // answer written out over several turns; the pieces stay valid however
    // the cache changes after.
    static void appendPieces(std::vector<QByteArray>& out, const Prepared& prepared, bool escaped);

    // Both forms of a read result in one go.
    Text encode(const QJsonObject& readResult, qint64 oldestSeq);

    std::size_t entries() const { return m_entries.size(); }
    qint64 bytes() const { return m_bytes; }

private:
    const Entry& entry(const QJsonObject& event);
    void forgetBefore(qint64 seq);
    template <bool Escaped, typename Sink>
    static void write(const Prepared& prepared, Sink&& sink);
    template <bool Escaped>
    static void append(QByteArray& out, const Prepared& prepared);

    std::map<qint64, Entry> m_entries;
    qint64 m_bytes = 0;
};

} // namespace vn
