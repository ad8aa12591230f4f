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

// Adds the same text to both forms.
void add(EventJsonCache::Text& text, const QByteArray& compact)
{
    text.compact += compact;
    appendJsonEscaped(text.escaped, compact.constData(), compact.size());
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

EventJsonCache::Text EventJsonCache::encode(const QJsonObject& readResult, qint64 oldestSeq)
{
    forgetBefore(oldestSeq);
    const QJsonArray events = readResult.value(QLatin1String("events")).toArray();
    qsizetype eventBytes = 0;
    std::vector<const Entry*> parts;
    parts.reserve(std::size_t(events.size()));
    for (const QJsonValue& value : events) {
        const Entry& made = entry(value.toObject());
        parts.push_back(&made);
        eventBytes += made.escaped.size() + 1;
    }

    Text text;
    text.compact.reserve(eventBytes + 512);
    text.escaped.reserve(eventBytes + 640);
    text.compact += '{';
    text.escaped += '{';
    bool first = true;
    // Members in the object's own order, which is the order its writer uses.
    for (auto it = readResult.constBegin(); it != readResult.constEnd(); ++it) {
        QByteArray head = compactValue(it.key());
        if (!first)
            head.prepend(',');
        head += ':';
        first = false;
        add(text, head);
        if (it.key() != QLatin1String("events") || !it.value().isArray()) {
            add(text, compactValue(it.value()));
            continue;
        }
        text.compact += '[';
        text.escaped += '[';
        for (std::size_t index = 0; index < parts.size(); ++index) {
            if (index) {
                text.compact += ',';
                text.escaped += ',';
            }
            text.compact += parts[index]->compact;
            text.escaped += parts[index]->escaped;
        }
        text.compact += ']';
        text.escaped += ']';
    }
    text.compact += '}';
    text.escaped += '}';
    return text;
}

} // namespace vn
