#pragma once

#include "core/script/FrameScriptLexer.h"

#include <QString>

#include <memory>
#include <vector>

namespace vn::script {

// Expression node of the syntax tree; never changed after the parser made it.
struct Expr {
    enum Kind {
        Number = 0,
        String = 1,
        Name = 2,
        Index = 3,
        Call = 4,
        Unary = 5,
        Binary = 6,
        Assign = 7,
        Cast = 8,
        Postfix = 9,
        Conditional = 10,
    };

    Kind kind = Number;
    Token token;        // its line is the line of every error about the node
    QString text;       // operator, name, literal text or type name, by kind
    std::vector<std::shared_ptr<const Expr>> children;
    int depth = 1;
};

using ExprPtr = std::shared_ptr<const Expr>;

struct Statement;
using StatementPtr = std::shared_ptr<const Statement>;

struct Statement {
    enum Kind {
        Block = 0,
        Declaration = 1,
        Expression = 2,
        If = 3,
        While = 4,
        For = 5,
        Break = 6,
        Continue = 7,
        Return = 8,
        Empty = 9,
    };

    int kind = Empty;
    int line = 0;
    int position = 0;       // token index of a declaration or expression statement
    QString name;
    QString type;
    bool isConst = false;
    bool isStatic = false;
    ExprPtr expression;     // initialiser, expression, or loop / if condition
    ExprPtr step;
    StatementPtr body;
    StatementPtr otherwise;
    StatementPtr init;
    std::vector<StatementPtr> statements;
};

} // namespace vn::script
