#include "ui/views/SearchFilter.h"

#include <QJsonValue>
#include <QStringList>

namespace vn {

namespace {

const QString kEmptyOperand = QStringLiteral("逻辑运算符两侧需要填写内容");
const QString kOpenQuote = QStringLiteral("双引号没有闭合");

// Splits a logical expression into groups of terms; `&&` binds tighter than
// `||`. Returns false with `error` set when the expression is malformed.
bool splitLogical(const QString& text, QList<QStringList>& groups, QString& error)
{
    groups = {QStringList()};
    QString buffer;
    bool quoted = false;
    const qsizetype n = text.size();
    auto closeTerm = [&]() {
        const QString term = buffer.trimmed();
        if (term.isEmpty()) {
            error = kEmptyOperand;
            return false;
        }
        groups.last().append(term);
        buffer.clear();
        return true;
    };
    for (qsizetype i = 0; i < n; ++i) {
        const QChar ch = text.at(i);
        if (ch == u'\\' && i + 1 < n) {
            const QChar next = text.at(i + 1);
            if (next == u'"') {
                buffer += u'"';
            } else {
                buffer += ch;
                buffer += next;
            }
            ++i;
        } else if (ch == u'"') {
            quoted = !quoted;
        } else if (quoted) {
            buffer += ch;
        } else if (i + 1 < n && ((ch == u'&' && text.at(i + 1) == u'&')
                                 || (ch == u'|' && text.at(i + 1) == u'|'))) {
            if (!closeTerm())
                return false;
            if (ch == u'|')
                groups.append(QStringList());
            ++i;
        } else {
            buffer += ch;
        }
    }
    if (quoted) {
        error = kOpenQuote;
        return false;
    }
    return closeTerm();
}

bool readBool(const QJsonObject& json, const char* key)
{
    const QJsonValue value = json.value(QLatin1String(key));
    return value.isBool() && value.toBool();
}

} // namespace

void SearchFilter::compile()
{
    error.clear();
    groups.clear();
    if (text.isEmpty())
        return;

    QList<QStringList> terms;
    if (logical) {
        if (!splitLogical(text, terms, error))
            return;
    } else {
        terms = {QStringList{text}};
    }

    QRegularExpression::PatternOptions options = QRegularExpression::UseUnicodePropertiesOption;
    if (!case_sensitive)
        options |= QRegularExpression::CaseInsensitiveOption;

    QList<QList<QRegularExpression>> built;
    for (const QStringList& group : std::as_const(terms)) {
        QList<QRegularExpression> expressions;
        for (const QString& term : group) {
            QString pattern = regex ? term : QRegularExpression::escape(term);
            if (whole_word) {
                // A word character is any letter or number (CJK included) or
                // the underscore.
                pattern = QStringLiteral("(?<![\\p{L}\\p{N}_])(?:") + pattern
                          + QStringLiteral(")(?![\\p{L}\\p{N}_])");
            }
            QRegularExpression expression(pattern, options);
            if (!expression.isValid()) {
                error = QStringLiteral("正则表达式无效：%1").arg(expression.errorString());
                return;
            }
            expression.optimize();
            expressions.append(expression);
        }
        built.append(expressions);
    }
    groups = built;
}

bool SearchFilter::matches(const QString& line) const
{
    if (text.isEmpty() || !error.isEmpty())
        return true;
    for (const auto& group : groups) {
        bool all = true;
        for (const QRegularExpression& expression : group) {
            if (!expression.match(line).hasMatch()) {
                all = false;
                break;
            }
        }
        if (all)
            return true;
    }
    return false;
}

QJsonObject SearchFilter::settings() const
{
    return QJsonObject{
        {QStringLiteral("text"), text},
        {QStringLiteral("case_sensitive"), case_sensitive},
        {QStringLiteral("whole_word"), whole_word},
        {QStringLiteral("regex"), regex},
        {QStringLiteral("logical"), logical},
    };
}

void SearchFilter::restore(const QJsonObject& json)
{
    const QJsonValue value = json.value(QLatin1String("text"));
    text = value.isString() ? value.toString() : QString();
    case_sensitive = readBool(json, "case_sensitive");
    whole_word = readBool(json, "whole_word");
    regex = readBool(json, "regex");
    logical = readBool(json, "logical");
    compile();
}

} // namespace vn
