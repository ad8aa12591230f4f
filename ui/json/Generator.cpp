#include "ui/json/Generator.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QLocale>
#include <QRegularExpression>
#include <QStringList>

namespace vn {

namespace {

constexpr int MaxValues = 512;
constexpr int MaxDepth = 32;

// C and C++ words (and a few common macros) that no generated identifier may equal,
// so the code also compiles when pasted into a C++ file.
const QSet<QString>& keywords()
{
    static const QSet<QString> words{
        "auto", "break", "case", "char", "const", "continue", "default", "do", "double",
        "else", "enum", "extern", "float", "for", "goto", "if", "int", "long", "register",
        "return", "short", "signed", "sizeof", "static", "struct", "switch", "typedef",
        "union", "unsigned", "void", "volatile", "while", "inline", "restrict", "class",
        "new", "delete", "this", "true", "false", "nullptr", "bool", "namespace", "template",
        "typename", "public", "private", "protected", "virtual", "operator", "try", "catch",
        "throw", "using", "friend", "explicit", "export", "mutable", "constexpr", "consteval",
        "constinit", "thread_local", "static_assert", "alignas", "alignof", "decltype",
        "noexcept", "dynamic_cast", "static_cast", "const_cast", "reinterpret_cast", "typeid",
        "wchar_t", "char8_t", "char16_t", "char32_t", "and", "or", "xor", "not", "bitand",
        "bitor", "compl", "and_eq", "or_eq", "xor_eq", "not_eq", "asm", "concept", "requires",
        "co_await", "co_return", "co_yield", "typeof", "typeof_unqual", "NULL", "size_t"};
    return words;
}

QString octal(unsigned char byte)
{
    return QStringLiteral("\\%1").arg(uint(byte), 3, 8, QLatin1Char('0'));
}

} // namespace

bool canGenerate(const QJsonValue& value, int depth, int& count)
{
    if (depth > MaxDepth)
        return false;
    if (++count > MaxValues)
        return false;
    if (value.isString())
        return !value.toString().contains(QChar(0));
    if (value.isObject()) {
        const QJsonObject object = value.toObject();
        for (auto it = object.begin(); it != object.end(); ++it) {
            if (it.key().contains(QChar(0)))
                return false;
            if (!canGenerate(it.value(), depth + 1, count))
                return false;
        }
    } else if (value.isArray()) {
        const QJsonArray array = value.toArray();
        for (const QJsonValue& element : array) {
            if (!canGenerate(element, depth + 1, count))
                return false;
        }
    }
    return true;
}

QString typeName(const QJsonValue& value)
{
    switch (value.type()) {
    case QJsonValue::Object: return QStringLiteral("Object");
    case QJsonValue::Array: return QStringLiteral("Array");
    case QJsonValue::String: return QStringLiteral("String");
    case QJsonValue::Bool: return QStringLiteral("Bool");
    case QJsonValue::Double: return QStringLiteral("Number");
    default: return QStringLiteral("Null");
    }
}

QString cString(const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    QString out;
    out.reserve(bytes.size() + 2);
    out += u'"';
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        if (byte == '"' || byte == '\\') {
            out += u'\\';
            out += QChar(byte);
        } else if (byte == '?') {
            // Two question marks in a row could start a trigraph in older C modes:
            // every "?" of such a run is escaped, so none survives in the output.
            const bool inRun = (i > 0 && bytes[i - 1] == '?')
                               || (i + 1 < bytes.size() && bytes[i + 1] == '?');
            out += inRun ? QStringLiteral("\\?") : QStringLiteral("?");
        } else if (byte >= 0x20 && byte <= 0x7E) {
            out += QChar(byte);
        } else {
            out += octal(byte);
        }
    }
    out += u'"';
    return out;
}

QString creation(const QJsonValue& value)
{
    QString argument;
    if (value.isString())
        argument = cString(value.toString());
    else if (value.isDouble())
        argument = QLocale::c().toString(value.toDouble(), 'g', 17);
    else if (value.isBool())
        argument = value.toBool() ? QStringLiteral("1") : QStringLiteral("0");
    return QStringLiteral("cJSON_Create") + typeName(value) + u'(' + argument + u')';
}

Generator::Generator()
    : usedNames{"root", "root_value", "text", "end", "invalid", "failed", "parse_message",
                "build_message"}
{
}

void Generator::line(QList<QString>& lines, int level, const QString& text)
{
    lines.append(QString(4 * level, u' ') + text);
}

QString Generator::identifier(QString base)
{
    static const QRegularExpression foreign(QStringLiteral("[^A-Za-z0-9_]+"));
    static const QRegularExpression underscores(QStringLiteral("_+"));
    base.replace(foreign, QStringLiteral("_"));
    if (base.isEmpty() || base == u"_")
        base = QStringLiteral("field");
    QString collapsed = base;
    collapsed.replace(underscores, QStringLiteral("_"));
    const QChar first = base.at(0);
    if ((first >= u'0' && first <= u'9') || first == u'_' || base.startsWith(u"cJSON")
        || base.startsWith(u"CJSON") || keywords().contains(collapsed))
        base.prepend(QStringLiteral("field_"));
    base.replace(underscores, QStringLiteral("_"));
    base.truncate(48);

    const auto free = [this](const QString& name) {
        return !usedNames.contains(name) && !usedNames.contains(name + QStringLiteral("_value"));
    };
    QString chosen = base;
    for (int n = 2; !free(chosen); ++n)
        chosen = base + u'_' + QString::number(n);
    usedNames.insert(chosen);
    usedNames.insert(chosen + QStringLiteral("_value"));
    return chosen;
}

void Generator::node(const QJsonValue& value, const QString& name, int level)
{
    line(parseLines, level,
         QStringLiteral("if (!cJSON_Is%1(%2)) { goto invalid; }").arg(typeName(value), name));
    if (value.isString()) {
        line(parseLines, level,
             QStringLiteral("const char *%1_value = cJSON_GetStringValue(%1);").arg(name));
        line(parseLines, level,
             QStringLiteral("(void)%1_value; /* 在释放 root 前使用或复制字符串。 */").arg(name));
    } else if (value.isDouble() || value.isBool()) {
        if (value.isDouble())
            line(parseLines, level, QStringLiteral("double %1_value = %1->valuedouble;").arg(name));
        else
            line(parseLines, level, QStringLiteral("int %1_value = cJSON_IsTrue(%1);").arg(name));
        line(parseLines, level,
             QStringLiteral("(void)%1_value; /* 在这里使用解析得到的值。 */").arg(name));
    } else if (value.isObject()) {
        const QJsonObject object = value.toObject();
        for (auto it = object.begin(); it != object.end(); ++it) {
            const QString key = cString(it.key());
            const QString base = name == u"root" ? it.key() : name + u'_' + it.key();
            child(it.value(), base,
                  QStringLiteral("cJSON_GetObjectItemCaseSensitive(%1, %2)").arg(name, key),
                  QStringLiteral("cJSON_AddItemToObject(%1, %2, ").arg(name, key), level);
        }
    } else if (value.isArray()) {
        const QJsonArray array = value.toArray();
        if (!array.isEmpty()) {
            line(parseLines, level,
                 QStringLiteral("if (cJSON_GetArraySize(%1) < %2) { goto invalid; }")
                     .arg(name)
                     .arg(array.size()));
        }
        for (qsizetype i = 0; i < array.size(); ++i) {
            const QString index = QString::number(i);
            const QString base = (name == u"root" ? QStringLiteral("item") : name) + u'_' + index;
            child(array.at(i), base, QStringLiteral("cJSON_GetArrayItem(%1, %2)").arg(name, index),
                  QStringLiteral("cJSON_AddItemToArray(%1, ").arg(name), level);
        }
    }
}

void Generator::child(const QJsonValue& value, const QString& base, const QString& access,
                      const QString& attach, int level)
{
    ++children;
    const QString x = identifier(base);
    line(parseLines, level, QStringLiteral("{"));
    line(parseLines, level + 1, QStringLiteral("const cJSON *%1 = %2;").arg(x, access));
    line(buildLines, level, QStringLiteral("{"));
    line(buildLines, level + 1, QStringLiteral("cJSON *%1 = %2;").arg(x, creation(value)));
    line(buildLines, level + 1, QStringLiteral("if (%1 == NULL) { goto failed; }").arg(x));
    line(buildLines, level + 1, QStringLiteral("if (!%1%2))").arg(attach, x));
    line(buildLines, level + 1, QStringLiteral("{"));
    line(buildLines, level + 2, QStringLiteral("cJSON_Delete(%1);").arg(x));
    line(buildLines, level + 2, QStringLiteral("goto failed;"));
    line(buildLines, level + 1, QStringLiteral("}"));
    node(value, x, level + 1);
    line(parseLines, level, QStringLiteral("}"));
    line(buildLines, level, QStringLiteral("}"));
}

CJsonCode generateCJson(const QJsonValue& value)
{
    Generator generator;
    Generator::line(generator.parseLines, 1, QStringLiteral("{"));
    Generator::line(generator.buildLines, 1, QStringLiteral("{"));
    generator.node(value, QStringLiteral("root"), 2);
    Generator::line(generator.parseLines, 1, QStringLiteral("}"));
    Generator::line(generator.buildLines, 1, QStringLiteral("}"));

    const QString include = QStringLiteral("#include \"cJSON.h\"");
    const QString in = QString(4, u' ');
    QStringList parse{
        QStringLiteral("/* 根据 JSON 示例检查结构；0 表示成功，-1 表示语法或结构不符。 */"),
        QStringLiteral("#include <stddef.h>"),
        include,
        QString(),
        QStringLiteral("int parse_message(const char *text)"),
        QStringLiteral("{"),
        in + QStringLiteral("const char *end = NULL;"),
        in + QStringLiteral("cJSON *root;"),
        in + QStringLiteral("if (text == NULL) { return -1; }"),
        in + QStringLiteral("root = cJSON_ParseWithOpts(text, &end, 1);"),
        in + QStringLiteral("if (root == NULL) { return -1; }")};
    parse += generator.parseLines;
    parse += QStringList{in + QStringLiteral("cJSON_Delete(root);"),
                         in + QStringLiteral("return 0;"),
                         QString(),
                         QStringLiteral("invalid:"),
                         in + QStringLiteral("cJSON_Delete(root);"),
                         in + QStringLiteral("return -1;"),
                         QStringLiteral("}")};

    QStringList build{
        QStringLiteral("/* 使用示例值组装 JSON；返回值由调用方使用 cJSON_free() 释放。 */"),
        QStringLiteral("#include <stddef.h>"),
        include,
        QString(),
        QStringLiteral("char *build_message(void)"),
        QStringLiteral("{"),
        in + QStringLiteral("cJSON *root = ") + creation(value) + u';',
        in + QStringLiteral("char *text = NULL;"),
        in + QStringLiteral("if (root == NULL) { return NULL; }")};
    build += generator.buildLines;
    build += QStringList{in + QStringLiteral("text = cJSON_PrintUnformatted(root);"),
                         in + QStringLiteral("cJSON_Delete(root);"),
                         in + QStringLiteral("return text;")};
    // Without any child block nothing jumps to "failed", and an unused label would warn.
    if (generator.children > 0) {
        build += QStringList{QString(), QStringLiteral("failed:"),
                             in + QStringLiteral("cJSON_Delete(root);"),
                             in + QStringLiteral("return NULL;")};
    }
    build += QStringLiteral("}");

    return {parse.join(u'\n') + u'\n', build.join(u'\n') + u'\n'};
}

} // namespace vn
