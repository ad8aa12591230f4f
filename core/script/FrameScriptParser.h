#pragma once

#include "core/script/FrameScriptLexer.h"
#include "core/script/FrameScriptSyntax.h"

#include <QList>
#include <QMap>
#include <QString>

#include <utility>

namespace vn::script {

inline constexpr int MaxNesting = 64;

// Built-in functions: name to (minimum, maximum) argument count.
const QMap<QString, std::pair<int, int>>& functions();

// Recursive descent over one token list, for one compilation.
class Parser {
public:
    explicit Parser(QList<Token> tokens);

    StatementPtr statement();
    StatementPtr simple();
    ExprPtr expression(int minPrecedence, int depth);
    static int precedence(const QString& op);
    ExprPtr node(Expr::Kind kind, const Token& token, const QString& text,
                 std::vector<ExprPtr> children);
    QString type();
    QString identifier();

    // A string literal is never punctuation or a keyword, whatever it spells:
    // "}" in a block is an expression, not the block's end.
    bool at(QStringView text) const;
    bool accept(const QString& text);
    void expect(const QString& text);

    const Token& current() const;
    bool atEnd() const { return current().kind == Token::End; }

    QList<Token> tokens;
    int position = 0;
    int statementDepth = 0;
    int loopDepth = 0;
    QString dataName;
    QString lengthName;
};

} // namespace vn::script
