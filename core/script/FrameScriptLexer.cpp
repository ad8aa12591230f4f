#include "core/script/FrameScriptLexer.h"

#include "core/script/ScriptError.h"

#include <QStringList>

namespace vn::script {

namespace {

bool isAsciiLetter(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z');
}

bool isAsciiDigit(QChar c)
{
    const char16_t u = c.unicode();
    return u >= '0' && u <= '9';
}

bool isDecimalDigit(QChar c)
{
    return isAsciiDigit(c) || c.category() == QChar::Number_DecimalDigit;
}

bool startsIdentifier(QChar c)
{
    return isAsciiLetter(c) || c == u'_' || (c.unicode() > 0x7F && c.isLetter());
}

bool continuesIdentifier(QChar c)
{
    return isAsciiLetter(c) || isAsciiDigit(c) || c == u'_'
        || (c.unicode() > 0x7F && c.isLetterOrNumber());
}

bool isHexDigit(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= '0' && u <= '9') || (u >= 'a' && u <= 'f') || (u >= 'A' && u <= 'F');
}

} // namespace

bool isType(const QString& name)
{
    static const QStringList types = {
        QStringLiteral("int"),      QStringLiteral("float"),    QStringLiteral("double"),
        QStringLiteral("bool"),     QStringLiteral("byte"),     QStringLiteral("char"),
        QStringLiteral("short"),    QStringLiteral("long"),     QStringLiteral("size_t"),
        QStringLiteral("uint8_t"),  QStringLiteral("uint16_t"), QStringLiteral("uint32_t"),
        QStringLiteral("int8_t"),   QStringLiteral("int16_t"),  QStringLiteral("int32_t"),
        QStringLiteral("unsigned"), QStringLiteral("signed")};
    return types.contains(name);
}

QList<Token> tokenize(const QString& source)
{
    // A QString never holds more UTF-8 bytes than three per code unit, so the
    // exact count is only needed near the limit.
    if (source.size() > MaxSourceBytes / 3 && source.toUtf8().size() > MaxSourceBytes)
        throw ScriptError(0, QStringLiteral("脚本最多 64 KiB"));

    QList<Token> tokens;
    const qsizetype n = source.size();
    const QChar* s = source.constData();
    int line = 1;
    qsizetype i = 0;

    auto push = [&](Token::Kind kind, QString text, int tokenLine) {
        tokens.append(Token{kind, std::move(text), tokenLine});
        if (tokens.size() > MaxTokens)
            throw ScriptError(tokenLine, QStringLiteral("脚本过于复杂"));
    };

    while (i < n) {
        const QChar c = s[i];
        if (c.isSpace()) {
            if (c == u'\n')
                ++line;
            ++i;
            continue;
        }
        if (c == u'/' && i + 1 < n && s[i + 1] == u'/') {
            while (i < n && s[i] != u'\n')
                ++i;
            continue;
        }
        if (c == u'/' && i + 1 < n && s[i + 1] == u'*') {
            const qsizetype close = source.indexOf(QStringLiteral("*/"), i + 2);
            if (close < 0)
                throw ScriptError(line, QStringLiteral("注释缺少 */"));
            for (qsizetype k = i + 2; k < close; ++k) {
                if (s[k] == u'\n')
                    ++line;
            }
            i = close + 2;
            continue;
        }

        const int tokenLine = line;
        if (startsIdentifier(c)) {
            const qsizetype start = i++;
            while (i < n && continuesIdentifier(s[i]))
                ++i;
            push(Token::Identifier, source.mid(start, i - start), tokenLine);
            continue;
        }

        const bool numberStart = isAsciiDigit(c)
            || (c == u'.' && i + 1 < n && isDecimalDigit(s[i + 1]))
            || (c.unicode() > 0x7F && c.category() == QChar::Number_DecimalDigit);
        if (numberStart) {
            const qsizetype start = i;
            QString text;
            if (c == u'0' && i + 1 < n && (s[i + 1] == u'x' || s[i + 1] == u'X')) {
                i += 2;
                while (i < n && isHexDigit(s[i]))
                    ++i;
                text = source.mid(start, i - start);
            } else {
                while (i < n && (isDecimalDigit(s[i]) || s[i] == u'.'))
                    ++i;
                if (i < n && (s[i] == u'e' || s[i] == u'E')) {
                    ++i;
                    if (i < n && (s[i] == u'+' || s[i] == u'-'))
                        ++i;
                    while (i < n && isDecimalDigit(s[i]))
                        ++i;
                }
                text = source.mid(start, i - start);
            }
            if (i < n && (s[i] == u'u' || s[i] == u'U' || s[i] == u'f' || s[i] == u'F')) {
                const bool isFloat = s[i] == u'f' || s[i] == u'F';
                ++i;
                if (isFloat && !text.contains(u'.') && !text.contains(u'e')
                    && !text.contains(u'E'))
                    text += QStringLiteral(".0");
            }
            push(Token::NumberLiteral, text, tokenLine);
            continue;
        }

        if (c == u'"') {
            ++i;
            QString text;
            for (;;) {
                if (i >= n || s[i] == u'\n')
                    throw ScriptError(line, QStringLiteral("字符串缺少结束引号"));
                const QChar d = s[i];
                if (d == u'"') {
                    ++i;
                    break;
                }
                if (d == u'\\') {
                    if (i + 1 >= n)
                        throw ScriptError(line, QStringLiteral("字符串转义不完整"));
                    const QChar e = s[i + 1];
                    if (e == u'"')
                        text += u'"';
                    else if (e == u'\\')
                        text += u'\\';
                    else if (e == u'n')
                        text += u'\n';
                    else if (e == u'r')
                        text += u'\r';
                    else if (e == u't')
                        text += u'\t';
                    else
                        throw ScriptError(line, QStringLiteral("不支持的字符串转义"));
                    i += 2;
                    continue;
                }
                text += d;
                ++i;
            }
            push(Token::StringLiteral, text, tokenLine);
            continue;
        }

        // Operators, longest match first.
        static const char* const three[] = {"<<=", ">>="};
        static const char* const two[] = {"++", "--", "+=", "-=", "*=", "/=", "%=", "&=", "|=",
                                          "^=", "==", "!=", "<=", ">=", "&&", "||", "<<", ">>"};
        static const char16_t one[] = u"{}()[];,+-*/%&|^~!<>=?:";
        auto matches = [&](const char* op, int len) {
            if (i + len > n)
                return false;
            for (int k = 0; k < len; ++k) {
                if (s[i + k].unicode() != char16_t(op[k]))
                    return false;
            }
            return true;
        };
        int length = 0;
        for (const char* op : three) {
            if (matches(op, 3)) {
                length = 3;
                break;
            }
        }
        if (length == 0) {
            for (const char* op : two) {
                if (matches(op, 2)) {
                    length = 2;
                    break;
                }
            }
        }
        if (length == 0) {
            for (const char16_t* p = one; *p; ++p) {
                if (c.unicode() == *p) {
                    length = 1;
                    break;
                }
            }
        }
        if (length == 0) {
            // Report a whole surrogate pair as the one character the user typed.
            QString shown(c);
            if (c.isHighSurrogate() && i + 1 < n && s[i + 1].isLowSurrogate())
                shown += s[i + 1];
            throw ScriptError(line, QStringLiteral("无法识别的字符：") + shown);
        }
        push(Token::Punctuator, source.mid(i, length), tokenLine);
        i += length;
    }

    tokens.append(Token{Token::End, QString(), line});
    return tokens;
}

} // namespace vn::script
