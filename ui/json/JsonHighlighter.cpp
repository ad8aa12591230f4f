#include "ui/json/JsonHighlighter.h"

#include <QColor>
#include <QRegularExpression>
#include <QTextCharFormat>

namespace vn {

namespace {

QTextCharFormat coloured(const char* colour, int weight = QFont::Normal)
{
    QTextCharFormat format;
    format.setForeground(QColor(QLatin1String(colour)));
    if (weight != QFont::Normal)
        format.setFontWeight(weight);
    return format;
}

// Whether the first character after `from` that is not white space is a colon.
// Only this block is looked at, so a key whose colon sits on the next line reads
// as a string.
bool colonFollows(const QString& text, qsizetype from)
{
    for (qsizetype i = from; i < text.size(); ++i) {
        if (!text.at(i).isSpace())
            return text.at(i) == u':';
    }
    return false;
}

} // namespace

JsonHighlighter::~JsonHighlighter() = default;

void JsonHighlighter::highlightBlock(const QString& text)
{
    static const QRegularExpression tokens(QStringLiteral(
        "\"(?:\\\\.|[^\"\\\\])*\"|-?\\b\\d+(?:\\.\\d+)?(?:[eE][+-]?\\d+)?\\b|\\b(?:true|false|null)\\b"));
    static const QTextCharFormat key = coloured("#518ca7", 600);
    static const QTextCharFormat string = coloured("#8c9861");
    static const QTextCharFormat other = coloured("#c68c49");

    auto matches = tokens.globalMatch(text);
    while (matches.hasNext()) {
        const QRegularExpressionMatch match = matches.next();
        const qsizetype start = match.capturedStart();
        const qsizetype length = match.capturedLength();
        if (text.at(start) == u'"')
            setFormat(int(start), int(length), colonFollows(text, start + length) ? key : string);
        else
            setFormat(int(start), int(length), other);
    }
}

} // namespace vn
