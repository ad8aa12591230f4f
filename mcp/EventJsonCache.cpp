#include "mcp/EventJsonCache.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <vector>

namespace vn {

namespace {

// Compact JSON of any value, scalars included.
QByteArray compactValue(const QJsonValue& value)
{
    const QByteArray array = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
    return array.mid(1, array.size() - 2);
}

} // namespace

void appendJsonEscaped(QByteArray& out, const char* data, qsizetype size)
{
    static const char digits[] = "0123456789abcdef";
    qsizetype run = 0; // start of the bytes that need no escape
    for (qsizetype i = 0; i < size; ++i) {
        const auto byte = static_cast<unsigned char>(data[i]);
        if (byte != '"' && byte != '\\' && byte >= 0x20)
            continue;
        out.append(data + run, i - run);
        run = i + 1;
        if (byte >= 0x20) {
            out += '\\';
            out += static_cast<char>(byte);
        } else {
            const char escape[] = {'\\', 'u', '0', '0', digits[byte >> 4], digits[byte & 15]};
            out.append(escape, 6);
        }
    }
    out.append(data + run, size - run);
}

void EventJsonCache::forgetBefore(qint64 seq)
{
    const auto end = m_entries.lower_bound(seq);
    for (auto it = m_entries.begin(); it != end; ++it)
        m_bytes -= it->second.compact.size() + it->second.escaped.size();
    m_entries.erase(m_entries.begin(), end);
}

const EventJsonCache::Entry& EventJsonCache::entry(const QJsonObject& event)
{
    const qint64 seq = event.value(QLatin1String("seq")).toInteger();
    auto found = m_entries.find(seq);
    if (found != m_entries.end())
        return found->second;
    Entry made;
    made.compact = QJsonDocument(event).toJson(QJsonDocument::Compact);
    made.escaped.reserve(made.compact.size() + made.compact.size() / 8 + 16);
    appendJsonEscaped(made.escaped, made.compact.constData(), made.compact.size());
    m_bytes += made.compact.size() + made.escaped.size();
    return m_entries.emplace(seq, std::move(made)).first->second;
}

EventJsonCache::Prepared EventJsonCache::prepare(const QJsonObject& readResult, qint64 oldestSeq)
{
    forgetBefore(oldestSeq);
    Prepared prepared;
    prepared.compactSize = prepared.escapedSize = 2; // the braces
    // Members in the object's own order, which is the order its writer uses.
    for (auto it = readResult.constBegin(); it != readResult.constEnd(); ++it) {
        QByteArray key = compactValue(it.key());
        const bool events = it.key() == QLatin1String("events") && it.value().isArray();
        QByteArray value = events ? QByteArray() : compactValue(it.value());
        const qsizetype separators = (prepared.members.empty() ? 0 : 1) + 1;
        prepared.compactSize += separators + key.size() + value.size();
        prepared.escapedSize += separators + key.size() + key.count('"') + value.size() + value.count('"')
                                + value.count('\\');
        if (events) {
            const QJsonArray array = it.value().toArray();
            prepared.events.reserve(std::size_t(array.size()));
            prepared.compactSize += 2;
            prepared.escapedSize += 2;
            for (const QJsonValue& event : array) {
                const Entry& made = entry(event.toObject());
                prepared.events.push_back(&made);
                prepared.compactSize += made.compact.size() + 1;
                prepared.escapedSize += made.escaped.size() + 1;
            }
            if (!prepared.events.empty()) { // one comma fewer than events
                --prepared.compactSize;
                --prepared.escapedSize;
            }
        }
        prepared.members.emplace_back(std::move(key), std::move(value));
    }
    return prepared;
}

template <bool Escaped, typename Sink>
void EventJsonCache::write(const Prepared& prepared, Sink&& sink)
{
    static const QByteArray open("{"), close("}"), comma(","), colon(":"), openList("["), closeList("]");
    const auto text = [&sink](const QByteArray& compact) {
        if constexpr (Escaped) {
            QByteArray escaped;
            appendJsonEscaped(escaped, compact.constData(), compact.size());
            sink(escaped);
        } else {
            sink(compact);
        }
    };
    sink(open);
    bool first = true;
    for (const auto& [key, value] : prepared.members) {
        if (!first)
            sink(comma);
        first = false;
        text(key);
        sink(colon);
        if (!value.isEmpty()) {
            text(value);
            continue;
        }
        sink(openList);
        for (std::size_t index = 0; index < prepared.events.size(); ++index) {
            if (index)
                sink(comma);
            sink(Escaped ? prepared.events[index]->escaped : prepared.events[index]->compact);
        }
        sink(closeList);
    }
    sink(close);
}

template <bool Escaped>
void EventJsonCache::append(QByteArray& out, const Prepared& prepared)
{
    write<Escaped>(prepared, [&out](const QByteArray& bytes) { out += bytes; });
}

void EventJsonCache::appendPieces(std::vector<QByteArray>& out, const Prepared& prepared, bool escaped)
{
    const auto push = [&out](const QByteArray& bytes) { out.push_back(bytes); };
    if (escaped)
        write<true>(prepared, push);
    else
        write<false>(prepared, push);
}

void EventJsonCache::appendCompact(QByteArray& out, const Prepared& prepared)
{
    append<false>(out, prepared);
}

void EventJsonCache::appendEscaped(QByteArray& out, const Prepared& prepared)
{
    append<true>(out, prepared);
}

EventJsonCache::Text EventJsonCache::encode(const QJsonObject& readResult, qint64 oldestSeq)
{
    const Prepared prepared = prepare(readResult, oldestSeq);
    Text text;
    text.compact.reserve(prepared.compactSize);
    text.escaped.reserve(prepared.escapedSize);
    appendCompact(text.compact, prepared);
    appendEscaped(text.escaped, prepared);
    return text;
}

} // namespace vn
