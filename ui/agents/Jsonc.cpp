#include "ui/agents/Jsonc.h"

#include "core/Fail.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QMap>
#include <QRegularExpression>

#include <optional>

#include <utility>

namespace vn {

namespace {

// The scanner is a hand-written loop rather than one regular expression: the
// settings files of some tools hold strings of many kilobytes, and a repeated
// alternation over such a string can exhaust the matcher's stack. The loop
// yields exactly the tokens of the alternation
//   \s+ | //[^\r\n]* | /\*[\s\S]*?\*/ | "(?:\\.|[^"\\])*" | '(?:\\.|[^'\\])*'
//   | [A-Za-z_$][A-Za-z0-9_$-]* | [^\s]
// tried in that order at each position.

bool isAsciiSpace(QChar c)
{
    const char16_t u = c.unicode();
    return u == u' ' || u == u'\t' || u == u'\n' || u == u'\v' || u == u'\f' || u == u'\r';
}

bool isWordStart(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= u'A' && u <= u'Z') || (u >= u'a' && u <= u'z') || u == u'_' || u == u'$';
}

bool isWordPart(QChar c)
{
    return isWordStart(c) || (c.unicode() >= u'0' && c.unicode() <= u'9') || c.unicode() == u'-';
}

// End of a quoted string that starts at `from`, or -1 when it is not closed
// (a backslash escapes any character but a line feed).
qsizetype quotedEnd(const QString& text, qsizetype from)
{
    const QChar quote = text.at(from);
    const qsizetype size = text.size();
    qsizetype i = from + 1;
    while (i < size) {
        const QChar c = text.at(i);
        if (c == quote)
            return i + 1;
        if (c == QLatin1Char('\\')) {
            if (i + 1 >= size || text.at(i + 1) == QLatin1Char('\n'))
                return -1;
            i += 2;
            continue;
        }
        ++i;
    }
    return -1;
}

QString compact(const QJsonArray& array)
{
    return QString::fromUtf8(QJsonDocument(array).toJson(QJsonDocument::Compact));
}

// The key a token names ("a", 'a' and a are one key), or nothing.
std::optional<QString> keyName(const QString& token)
{
    QJsonParseError error;
    const QByteArray json = (QLatin1Char('[') + normalizedToken(token, true) + QLatin1Char(']')).toUtf8();
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !document.isArray())
        return std::nullopt;
    const QJsonArray array = document.array();
    if (array.size() != 1 || !array.at(0).isString())
        return std::nullopt;
    return array.at(0).toString();
}

} // namespace

QList<JsonToken> jsonTokens(const QString& text)
{
    QList<JsonToken> tokens;
    const qsizetype size = text.size();
    qsizetype i = 0;
    auto add = [&](qsizetype start, qsizetype end) {
        tokens.append(JsonToken{qint32(start), qint32(end), text.mid(start, end - start)});
    };
    while (i < size) {
        const QChar c = text.at(i);
        if (isAsciiSpace(c)) {
            while (i < size && isAsciiSpace(text.at(i)))
                ++i;
            continue;
        }
        if (c == QLatin1Char('/') && i + 1 < size) {
            const QChar next = text.at(i + 1);
            if (next == QLatin1Char('/')) {
                i += 2;
                while (i < size && text.at(i) != QLatin1Char('\n') && text.at(i) != QLatin1Char('\r'))
                    ++i;
                continue;
            }
            if (next == QLatin1Char('*')) {
                const qsizetype close = text.indexOf(QStringLiteral("*/"), i + 2);
                if (close >= 0) {
                    i = close + 2;
                    continue;
                }
                // An unclosed block comment is no comment: "/" stands alone.
            }
        }
        if (c == QLatin1Char('"') || c == QLatin1Char('\'')) {
            const qsizetype end = quotedEnd(text, i);
            if (end >= 0) {
                add(i, end);
                i = end;
                continue;
            }
        }
        if (isWordStart(c)) {
            qsizetype end = i + 1;
            while (end < size && isWordPart(text.at(end)))
                ++end;
            add(i, end);
            i = end;
            continue;
        }
        // Any other single character; a surrogate pair is one character.
        qsizetype end = i + 1;
        if (c.isHighSurrogate() && end < size && text.at(end).isLowSurrogate())
            ++end;
        if (!(end == i + 1 && c.isSpace()))
            add(i, end);
        i = end;
    }
    return tokens;
}

QString normalizedToken(const QString& token, bool key)
{
    if (token.startsWith(QLatin1Char('\''))) {
        static const QRegularExpression unescapedQuote(QStringLiteral("(?<!\\\\)\""));
        QString inner = token.mid(1, qMax<qsizetype>(0, token.size() - 2));
        inner.replace(QStringLiteral("\\'"), QStringLiteral("'"));
        inner.replace(unescapedQuote, QStringLiteral("\\\""));
        return QLatin1Char('"') + inner + QLatin1Char('"');
    }
    // Punctuation is never a key: "{}: 1" must not read as a member named "}".
    static const QString structural = QStringLiteral("{}[]:,");
    if (key && !token.startsWith(QLatin1Char('"')) && !(token.size() == 1 && structural.contains(token))) {
        const QString array = compact(QJsonArray{token});
        return array.mid(1, array.size() - 2);
    }
    return token;
}

QJsonObject parseJsonc(const QString& text)
{
    const QList<JsonToken> tokens = jsonTokens(text);
    QString strict;
    strict.reserve(text.size());
    for (qsizetype i = 0; i < tokens.size(); ++i) {
        const QString& token = tokens.at(i).text;
        // A quote the scanner could not close starts no string of its own, yet
        // joined with what follows it would open one that swallows keys and
        // brackets the editor reads as structure. Such a file is refused whole.
        if (token == QLatin1String("\"") || token == QLatin1String("'"))
            fail(QStringLiteral("现有 JSON/JSONC 配置无效，未修改文件：")
                 + QJsonParseError{0, QJsonParseError::UnterminatedString}.errorString());
        const bool hasNext = i + 1 < tokens.size();
        const QString next = hasNext ? tokens.at(i + 1).text : QString();
        // Only a comma after a value trails: "{,}" is no object, and writing a
        // member into it would leave a text that no longer reads.
        const QString previous = i > 0 ? tokens.at(i - 1).text : QString();
        const bool trailing = i > 0 && previous != QLatin1String("{") && previous != QLatin1String("[")
                              && previous != QLatin1String(",");
        if (token == QLatin1String(",") && trailing
            && (!hasNext || next == QLatin1String("}") || next == QLatin1String("]")))
            continue;
        strict += normalizedToken(token, hasNext && next == QLatin1String(":"));
    }
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(strict.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError)
        fail(QStringLiteral("现有 JSON/JSONC 配置无效，未修改文件：") + error.errorString());
    if (!document.isObject())
        fail(QStringLiteral("现有 JSON/JSONC 配置无效，未修改文件：") + QJsonParseError().errorString());
    return document.object();
}

QString setJsonMember(QString text, int offset, const QList<QString>& path, const QString& value)
{
    QList<JsonToken> tokens = jsonTokens(text.mid(offset));
    for (JsonToken& token : tokens) {
        token.start += offset;
        token.end += offset;
    }
    if (tokens.isEmpty() || tokens.first().text != QLatin1String("{"))
        fail(QStringLiteral("配置节点需要 JSON 对象"));

    QMap<QString, std::pair<qint32, qint32>> members;
    qsizetype i = 1;
    qsizetype closing = -1;
    while (true) {
        if (i >= tokens.size())
            fail(QStringLiteral("JSON 配置对象未闭合"));
        const QString& token = tokens.at(i).text;
        if (token == QLatin1String("}")) {
            closing = i;
            break;
        }
        if (token == QLatin1String(",")) {
            ++i;
            continue;
        }
        const std::optional<QString> key = keyName(token);
        if (!key || i + 2 >= tokens.size() || tokens.at(i + 1).text != QLatin1String(":"))
            fail(QStringLiteral("JSON 配置语法无效"));
        qsizetype v = i + 2;
        const qint32 valueStart = tokens.at(v).start;
        qint32 valueEnd = valueStart;
        int depth = 0;
        while (true) {
            if (v >= tokens.size())
                fail(QStringLiteral("JSON 配置对象未闭合"));
            const QString& part = tokens.at(v).text;
            if (depth == 0 && (part == QLatin1String(",") || part == QLatin1String("}")))
                break;
            if (part == QLatin1String("{") || part == QLatin1String("["))
                ++depth;
            else if (part == QLatin1String("}") || part == QLatin1String("]"))
                --depth;
            valueEnd = tokens.at(v).end;
            ++v;
        }
        if (members.contains(*key))
            fail(QStringLiteral("配置对象包含重复字段：") + *key);
        members.insert(*key, {valueStart, valueEnd});
        i = v;
    }

    const QString key = path.first();
    const qint32 insertAt = tokens.at(closing).start;
    const auto found = members.constFind(key);
    if (path.size() > 1 && found != members.constEnd())
        return setJsonMember(std::move(text), found->first, path.mid(1), value);

    QString member = value;
    for (qsizetype p = path.size() - 1; p >= 1; --p)
        member = QStringLiteral("{\"") + path.at(p) + QStringLiteral("\": ") + member + QLatin1Char('}');

    if (found != members.constEnd()) {
        text.replace(found->first, found->second - found->first, member);
        return text;
    }
    const bool comma = !members.isEmpty() && tokens.at(closing - 1).text != QLatin1String(",");
    const QString line = (comma ? QStringLiteral(",") : QString()) + QStringLiteral("\n  \"") + key
                         + QStringLiteral("\": ") + member + QLatin1Char('\n');
    text.insert(insertAt, line);
    return text;
}

} // namespace vn
