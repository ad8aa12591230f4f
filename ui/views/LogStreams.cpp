#include "ui/views/LogStreams.h"

#include "core/StreamDecoder.h"
#include "ui/views/LogLines.h"

#include <QFont>

#include <algorithm>

namespace vn {

namespace {

constexpr QChar kEsc = QChar(0x1B);

// Characters a text engine would turn into block or frame boundaries; device
// data must not split rows behind the view's back.
bool breaksBlocks(char16_t u)
{
    return u == 0x2029 || u == 0xFDD0 || u == 0xFDD1;
}

QString sanitized(QStringView run)
{
    QString out = run.toString();
    for (QChar& ch : out) {
        if (breaksBlocks(ch.unicode()))
            ch = QChar(QChar::ReplacementCharacter);
    }
    return out;
}

LogFormat formatOf(const QColor& foreground, const QColor& background, bool bold)
{
    LogFormat format;
    format.foreground = foreground.rgba();
    format.hasBackground = background.isValid();
    format.background = format.hasBackground ? background.rgba() : 0;
    format.bold = bold;
    return format;
}

} // namespace

LogStream::LogStream() = default;
LogStream::~LogStream() = default;

LogStream& LogStreams::stream(const QString& key, const QString& encoding)
{
    std::shared_ptr<LogStream>& slot = m_streams[key];
    if (!slot) {
        if (m_streams.size() > kMaxStreams) {
            // The slot just made is empty and so never the one dropped.
            evictOne();
            return stream(key, encoding);
        }
        slot = std::make_shared<LogStream>();
        slot->decoder = std::make_unique<StreamDecoder>(encoding);
    }
    slot->lastUse = ++m_clock;
    return *slot;
}

void LogStreams::evictOne()
{
    // A stream whose line is no longer held loses nothing but its decoder's
    // state; one whose line is still held would start a new row for its next
    // text, so it goes only when every stream has a line held.
    auto victim = m_streams.end();
    bool victimHeld = true;
    for (auto it = m_streams.begin(); it != m_streams.end(); ++it) {
        if (!it.value())
            continue;
        const bool held = m_lines.contains(it.value()->line);
        if (victim == m_streams.end() || (victimHeld && !held)
            || (held == victimHeld && it.value()->lastUse < victim.value()->lastUse)) {
            victim = it;
            victimHeld = held;
        }
    }
    if (victim != m_streams.end())
        m_streams.erase(victim);
}

QString LogStreams::prefix(const Origin& origin, const Style& style, bool continuation) const
{
    QString text;
    if (style.timestamps)
        text += origin.time.mid(11, 12) + QStringLiteral("  ");
    // A "+" after the direction marks a row that goes on from the one before.
    text += (origin.direction.toUpper() + (continuation ? QStringLiteral("+") : QString())).leftJustified(6, u' ');
    if (!origin.peer.isEmpty())
        text += origin.peer + QStringLiteral("  ");
    return text;
}

qint64 LogStreams::openRow(LogStream& stream, const Origin& origin, const Style& style, bool continuation)
{
    const qint64 continues = continuation ? stream.line : -1;
    stream.line = m_lines.open(prefix(origin, style, continuation),
                               formatOf(style.theme->muted, QColor(), false), continues);
    stream.length = 0;
    return stream.line;
}

void LogStreams::notice(const QString& message, const Origin& origin, const Style& style)
{
    const qint64 id = m_lines.open(prefix(origin, style, false), formatOf(style.theme->muted, QColor(), false), -1,
                                   true);
    m_lines.append(id, sanitized(message), formatOf(style.theme->amber, QColor(), false));
}

void LogStreams::sgr(LogStream& stream, const Theme& theme) const
{
    const qsizetype size = stream.escape.size();
    QList<int> parameters;
    for (QStringView piece : QStringView(stream.escape).sliced(2, size - 3).split(u';'))
        parameters.append(piece.toInt());
    stream.attributes.sgr(parameters, theme);
}

void LogStreams::write(LogStream& stream, QStringView text, const Origin& origin, const Style& style, bool hex)
{
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar ch = text[i];
        const char16_t u = ch.unicode();
        if (stream.osc) {
            stream.escape += ch;
            if (u == 0x07 || stream.escape.endsWith(QStringLiteral("\x1b\\")) || stream.escape.size() > 4096) {
                stream.escape.clear();
                stream.osc = false;
            }
            continue;
        }
        if (!stream.escape.isEmpty()) {
            stream.escape += ch;
            const qsizetype size = stream.escape.size();
            if (size == 2 && u == u']') {
                stream.osc = true;
            } else if (stream.escape.at(1) == u'[') {
                if (size > 2 && u >= 0x40 && u <= 0x7E) {
                    if (u == u'm')
                        sgr(stream, *style.theme);
                    stream.escape.clear();
                } else if (size > 128) {
                    stream.escape.clear();
                }
            } else {
                // ESC followed by anything but "[" or "]": both are dropped.
                stream.escape.clear();
            }
            continue;
        }
        if (u == 0x1B) {
            stream.escape = kEsc;
        } else if (u == u'\r' || u == u'\n') {
            if (u == u'\n' && stream.afterCr) {
                stream.afterCr = false;
                continue;
            }
            if (!m_lines.contains(stream.line))
                openRow(stream, origin, style, false);
            stream.line = -1;
            stream.afterCr = u == u'\r';
        } else if (u < 0x20 && u != u'\t') {
            stream.afterCr = false;
        } else {
            stream.afterCr = false;
            qsizetype end = i + 1;
            while (end < n && (text[end].unicode() >= 0x20 || text[end] == u'\t'))
                ++end;
            writeRun(stream, text.sliced(i, end - i), origin, style, hex);
            i = end - 1;
        }
    }
}

void LogStreams::writeRun(LogStream& stream, QStringView run, const Origin& origin, const Style& style, bool hex)
{
    const AnsiState& a = stream.attributes;
    QColor foreground = a.foreground;
    if (!foreground.isValid()) {
        if (origin.direction == QLatin1String("tx"))
            foreground = style.theme->accent;
        else if (origin.direction == QLatin1String("status"))
            foreground = style.theme->amber;
        else
            foreground = style.theme->text;
    }
    const LogFormat format = formatOf(foreground, a.background, a.bold);
    const bool clean = std::none_of(run.begin(), run.end(), [](QChar ch) { return breaksBlocks(ch.unicode()); });
    while (!run.isEmpty()) {
        if (!m_lines.contains(stream.line))
            openRow(stream, origin, style, false);
        qsizetype room = kMaxRowLength - stream.length;
        // Hex text goes on in the next row after a byte's blank, never
        // between a byte's two digits.
        if (hex && room < run.size())
            room -= room % 3;
        if (room <= 0) {
            openRow(stream, origin, style, true);
            continue;
        }
        qsizetype piece = std::min(run.size(), room);
        // A surrogate pair stays in one row.
        if (piece < run.size() && run[piece - 1].isHighSurrogate() && run[piece].isLowSurrogate())
            ++piece;
        const QStringView part = run.first(piece);
        if (clean)
            m_lines.append(stream.line, part, format);
        else
            m_lines.append(stream.line, sanitized(part), format);
        stream.length += piece;
        run = run.sliced(piece);
    }
}

} // namespace vn
