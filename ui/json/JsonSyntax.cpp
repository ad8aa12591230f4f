#include "ui/json/JsonSyntax.h"

#include <QStringView>

namespace vn {

namespace {

bool isSpace(QChar c)
{
    // Only JSON's own four: form feed, vertical tab and Unicode spaces are faults here.
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n';
}

bool isDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}

bool isHexDigit(QChar c)
{
    return isDigit(c) || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

} // namespace

bool JsonSyntax::fail(const QString& message)
{
    error = message;
    return false;
}

void JsonSyntax::whitespace()
{
    while (!atEnd() && isSpace(current()))
        ++position;
}

bool JsonSyntax::take(QChar c)
{
    whitespace();
    if (!atEnd() && current() == c) {
        ++position;
        return true;
    }
    return false;
}

bool JsonSyntax::string()
{
    whitespace();
    if (atEnd() || current() != u'"')
        return fail(QStringLiteral("字段名和字符串必须使用双引号"));
    ++position;
    for (;;) {
        if (atEnd())
            return fail(QStringLiteral("字符串缺少结束双引号"));
        const QChar c = current();
        ++position;
        if (c == u'"')
            return true;
        if (c.unicode() <= 0x1F)
            return fail(QStringLiteral("字符串中不能直接出现换行或控制字符，请使用转义"));
        if (c != u'\\')
            continue;
        if (atEnd())
            return fail(QStringLiteral("字符串转义未结束"));
        const QChar letter = current();
        ++position;
        if (letter == u'u') {
            for (int i = 0; i < 4; ++i) {
                if (atEnd() || !isHexDigit(current()))
                    return fail(QStringLiteral("Unicode 转义需要四位十六进制数字"));
                ++position;
            }
            continue;
        }
        switch (letter.unicode()) {
        case '"': case '\\': case '/': case 'b': case 'f': case 'n': case 'r': case 't':
            break;
        default:
            return fail(QStringLiteral("不支持的字符串转义"));
        }
    }
}

bool JsonSyntax::object(int depth)
{
    ++position; // the opening brace
    if (take(u'}'))
        return true;
    for (;;) {
        if (!string())
            return false;
        if (!take(u':'))
            return fail(QStringLiteral("字段名后缺少冒号 :"));
        if (!value(depth + 1))
            return false;
        whitespace();
        if (!atEnd() && current() == u'}') {
            ++position;
            return true;
        }
        whitespace();
        if (atEnd() || current() != u',')
            return fail(QStringLiteral("对象成员间缺少逗号，或缺少 }"));
        ++position;
        whitespace();
        if (!atEnd() && current() == u'}')
            return fail(QStringLiteral("最后一个成员后不能加逗号"));
    }
}

bool JsonSyntax::array(int depth)
{
    ++position; // the opening bracket
    if (take(u']'))
        return true;
    for (;;) {
        if (!value(depth + 1))
            return false;
        whitespace();
        if (!atEnd() && current() == u']') {
            ++position;
            return true;
        }
        whitespace();
        if (atEnd() || current() != u',')
            return fail(QStringLiteral("数组元素间缺少逗号，或缺少 ]"));
        ++position;
        whitespace();
        if (!atEnd() && current() == u']')
            return fail(QStringLiteral("最后一个成员后不能加逗号"));
    }
}

bool JsonSyntax::number()
{
    const QString bad = QStringLiteral("数字格式不正确");
    if (current() == u'-') {
        ++position;
        if (atEnd())
            return fail(bad);
    }
    if (current() == u'0') {
        ++position;
    } else {
        if (!isDigit(current()))
            return fail(bad);
        while (!atEnd() && isDigit(current()))
            ++position;
    }
    if (atEnd())
        return true;
    if (current() == u'.') {
        ++position;
        if (atEnd() || !isDigit(current()))
            return fail(QStringLiteral("小数点后需要数字"));
        while (!atEnd() && isDigit(current()))
            ++position;
    }
    if (atEnd())
        return true;
    if (current() == u'e' || current() == u'E') {
        ++position;
        if (!atEnd() && (current() == u'+' || current() == u'-'))
            ++position;
        if (atEnd() || !isDigit(current()))
            return fail(QStringLiteral("指数部分需要数字"));
        while (!atEnd() && isDigit(current()))
            ++position;
    }
    return true;
}

bool JsonSyntax::value(int depth)
{
    whitespace();
    // The depth bound also bounds this recursion, so hostile nesting ends in a message.
    if (depth > MaxDepth)
        return fail(QStringLiteral("对象或数组嵌套超过 128 层"));
    if (atEnd())
        return fail(QStringLiteral("缺少 JSON 值"));
    const QChar c = current();
    if (c == u'"')
        return string();
    if (c == u'{')
        return object(depth);
    if (c == u'[')
        return array(depth);
    const QStringView rest = QStringView(*text).mid(position);
    for (const char16_t* literal : {u"true", u"false", u"null"}) {
        const QStringView word(literal);
        if (rest.startsWith(word)) {
            position += word.size();
            return true;
        }
    }
    if (c == u'-' || isDigit(c))
        return number();
    return fail(QStringLiteral("值不合法；字符串使用双引号，布尔值使用 true 或 false"));
}

} // namespace vn
