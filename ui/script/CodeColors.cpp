#include "ui/script/CodeColors.h"

#include "ui/script/CodeEdit.h"

#include <QRegularExpression>

#include <array>

namespace vn {

namespace {

// The editor has its own word list rather than the lexer's: it colours type
// names and constants the language accepts, whatever the parser calls them.
const QRegularExpression& keywordPattern()
{
    static const QRegularExpression pattern(QStringLiteral(
        "\\b(void|const|static|int|float|double|bool|byte|char|short|long|unsigned|signed|size_t|"
        "u?int(8|16|32)_t|if|else|while|for|break|continue|return|true|false)\\b"));
    return pattern;
}

const QRegularExpression& numberPattern()
{
    static const QRegularExpression pattern(
        QStringLiteral("\\b(0[xX][0-9a-fA-F]+|\\d+(\\.\\d+)?([eE][+-]?\\d+)?)\\b"));
    return pattern;
}

const QRegularExpression& functionPattern()
{
    static const QRegularExpression pattern(QStringLiteral("\\b[a-zA-Z_]\\w*(?=\\s*\\()"));
    return pattern;
}

const QRegularExpression& stringPattern()
{
    static const QRegularExpression pattern(QStringLiteral("\"(?:\\\\.|[^\"\\\\])*\""));
    return pattern;
}

const QRegularExpression& lineCommentPattern()
{
    static const QRegularExpression pattern(QStringLiteral("//.*$"));
    return pattern;
}

} // namespace

CodeColors::CodeColors(QTextDocument* document, CodeEdit* owner)
    : QSyntaxHighlighter(document), editor(owner)
{
}

CodeColors::Palette CodeColors::palette(bool dark)
{
    if (dark)
        return {QColor(0xe9, 0xbb, 0x78), QColor(0x9f, 0xc9, 0xb5), QColor(0xb6, 0xcd, 0xdb),
                QColor(0xb6, 0xce, 0x9b), QColor(0x91, 0xa1, 0x8b)};
    return {QColor(0x94, 0x53, 0x26), QColor(0x28, 0x76, 0x6c), QColor(0x3c, 0x65, 0x82),
            QColor(0x58, 0x77, 0x44), QColor(0x75, 0x83, 0x71)};
}

void CodeColors::highlightBlock(const QString& text)
{
    const bool dark = editor && editor->palette().color(QPalette::Text).lightness() > 128;
    const Palette colors = palette(dark);
    const std::array<std::pair<const QRegularExpression*, QColor>, 5> rules{{
        {&keywordPattern(), colors.keyword},
        {&numberPattern(), colors.number},
        {&functionPattern(), colors.function},
        {&stringPattern(), colors.string},
        {&lineCommentPattern(), colors.comment},
    }};
    for (const auto& [pattern, colour] : rules) {
        QRegularExpressionMatchIterator matches = pattern->globalMatch(text);
        while (matches.hasNext()) {
            const QRegularExpressionMatch match = matches.next();
            setFormat(int(match.capturedStart()), int(match.capturedLength()), colour);
        }
    }

    // Block comments: an opener counts anywhere, even inside a string or after
    // "//"; the colouring is a reading aid, not a parse.
    setCurrentBlockState(0);
    const bool continued = previousBlockState() == 1;
    qsizetype start = continued ? 0 : text.indexOf(QLatin1String("/*"));
    if (start < 0)
        return;
    qsizetype from = continued ? 0 : start + 2;
    while (true) {
        const qsizetype end = text.indexOf(QLatin1String("*/"), from);
        if (end < 0) {
            setFormat(int(start), int(text.size() - start), colors.comment);
            setCurrentBlockState(1);
            return;
        }
        setFormat(int(start), int(end + 2 - start), colors.comment);
        start = text.indexOf(QLatin1String("/*"), end + 2);
        if (start < 0)
            return;
        from = start + 2;
    }
}

} // namespace vn
