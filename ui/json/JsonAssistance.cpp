#include "ui/json/JsonAssistance.h"

#include "ui/json/Generator.h"
#include "ui/json/JsonSyntax.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QJsonParseError>

#include <algorithm>

namespace vn {

namespace {

constexpr qsizetype MaxInputBytes = 1048576;

// "第 L 行，第 C 列：message" for a fault found after the first `length` characters.
void reportAt(JsonAssistance& result, const QString& text, qsizetype length, const QString& message)
{
    const QStringView prefix = QStringView(text).left(length);
    const qsizetype line = prefix.count(u'\n') + 1;
    const qsizetype column = prefix.size() - prefix.lastIndexOf(u'\n');
    result.errorPosition = int(prefix.size());
    result.status = QStringLiteral("第 %1 行，第 %2 列：%3").arg(line).arg(column).arg(message);
}

QString secondPassMessage(QJsonParseError::ParseError code)
{
    switch (code) {
    case QJsonParseError::NoError: return QStringLiteral("只允许一个 JSON 值");
    case QJsonParseError::UnterminatedObject: return QStringLiteral("对象缺少右花括号 }");
    case QJsonParseError::MissingNameSeparator: return QStringLiteral("字段名后缺少冒号 :");
    case QJsonParseError::UnterminatedArray: return QStringLiteral("数组缺少右方括号 ]");
    case QJsonParseError::MissingValueSeparator: return QStringLiteral("成员之间缺少逗号 ,");
    case QJsonParseError::IllegalValue: return QStringLiteral("值不合法；字符串和字段名需要双引号");
    case QJsonParseError::TerminationByNumber: return QStringLiteral("数字未完整结束");
    case QJsonParseError::IllegalNumber: return QStringLiteral("数字格式不正确");
    case QJsonParseError::IllegalEscapeSequence: return QStringLiteral("字符串转义不正确");
    case QJsonParseError::IllegalUTF8String: return QStringLiteral("字符串编码不正确");
    case QJsonParseError::UnterminatedString: return QStringLiteral("字符串缺少结束双引号");
    case QJsonParseError::MissingObject: return QStringLiteral("请输入一个 JSON 值");
    case QJsonParseError::DeepNesting: return QStringLiteral("对象或数组嵌套过深");
    case QJsonParseError::DocumentTooLarge: return QStringLiteral("JSON 内容过大");
    case QJsonParseError::GarbageAtEnd: return QStringLiteral("JSON 结束后存在多余内容");
    default: return QStringLiteral("JSON 语法不正确");
    }
}

// Qt's indented and compact forms differ only in the white space between tokens, so
// the compact form is the indented one with that white space removed: one quick pass
// instead of a second walk of the whole value.
QString withoutLayout(const QString& indented)
{
    QString out(indented.size(), Qt::Uninitialized);
    QChar* to = out.data();
    bool inString = false;
    bool escaped = false;
    for (const QChar c : indented) {
        if (inString) {
            if (escaped)
                escaped = false;
            else if (c == u'\\')
                escaped = true;
            else if (c == u'"')
                inString = false;
        } else if (c == u' ' || c == u'\n') {
            continue;
        } else if (c == u'"') {
            inString = true;
        }
        *to++ = c;
    }
    out.truncate(to - out.constData());
    return out;
}

// Qt's parser sorts an object's keys with a comparison that does not agree
// with its own lookups for some keys (escaped keys beside keys outside the
// BMP, say), so the same keys could come out in another order once the
// formatted text is read again. Inserting every key anew puts them in the
// order of the lookups alone, which depends on the keys, not on the text.
QJsonValue inKeyOrder(const QJsonValue& value)
{
    if (value.isArray()) {
        QJsonArray out;
        for (const QJsonValue& item : value.toArray())
            out.append(inKeyOrder(item));
        return out;
    }
    if (!value.isObject())
        return value;
    const QJsonObject object = value.toObject();
    QJsonObject out;
    for (auto it = object.begin(); it != object.end(); ++it)
        out.insert(it.key(), inKeyOrder(it.value()));
    return out;
}

bool blank(const QString& text)
{
    return std::all_of(text.begin(), text.end(), [](QChar c) { return c.isSpace(); });
}

} // namespace

QByteArray jsonBytes(const QJsonValue& value, QJsonDocument::JsonFormat format)
{
    if (value.isObject())
        return QJsonDocument(value.toObject()).toJson(format);
    if (value.isArray())
        return QJsonDocument(value.toArray()).toJson(format);
    const QByteArray wrapped = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
    return wrapped.mid(1, wrapped.size() - 2);
}

JsonAssistance analyzeJson(const QString& text)
{
    JsonAssistance result;
    // The same test as trimming and checking for emptiness, without copying the text.
    if (blank(text)) {
        result.status = QStringLiteral("粘贴 JSON 后自动校验并展开；支持对象、数组及单个值。");
        return result;
    }
    const QByteArray utf8 = text.toUtf8();
    if (utf8.size() > MaxInputBytes) {
        result.status = QStringLiteral("输入超过 1 MB，请缩小内容后重试。");
        return result;
    }

    JsonSyntax syntax(text);
    bool valid = syntax.value(0);
    if (valid) {
        syntax.whitespace();
        if (syntax.position < text.size()) {
            syntax.error = QStringLiteral("JSON 结束后存在多余内容");
            valid = false;
        }
    }
    if (!valid) {
        reportAt(result, text, syntax.position, syntax.error);
        return result;
    }

    // Wrapped in an array so that a lone string, number, boolean or null stands too.
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson('[' + utf8 + ']', &error);
    if (error.error != QJsonParseError::NoError || document.array().size() != 1) {
        const QJsonParseError::ParseError code =
            error.error != QJsonParseError::NoError ? error.error : QJsonParseError::NoError;
        qsizetype bytes = 0;
        if (error.error != QJsonParseError::NoError)
            bytes = qMin(qMax<qsizetype>(error.offset - 1, 0), utf8.size());
        const QString prefix = QString::fromUtf8(utf8.left(bytes));
        reportAt(result, prefix, prefix.size(), secondPassMessage(code));
        return result;
    }

    const QJsonValue value = inKeyOrder(document.array().at(0));
    result.ok = true;
    result.formatted = QString::fromUtf8(jsonBytes(value, QJsonDocument::Indented));
    result.compact = value.isObject() || value.isArray() ? withoutLayout(result.formatted)
                                                         : result.formatted;
    result.status = QStringLiteral("JSON 语法正确；已更新格式化结果与 cJSON 示例。");

    int count = 0;
    if (!canGenerate(value, 0, count)) {
        result.status = QStringLiteral(
            "JSON 语法正确；代码生成支持最多 512 个值、32 层嵌套，且不支持字符串中的空字符。");
        return result;
    }
    const CJsonCode code = generateCJson(value);
    result.parseCode = code.parseCode;
    result.buildCode = code.buildCode;
    return result;
}

} // namespace vn
