#pragma once

#include <QList>
#include <QString>

namespace vn::script {

// One lexical token of a frame script. Keywords and type names are plain
// identifiers; the parser tells them apart by their text.
struct Token {
    enum Kind { Punctuator = 0, Identifier = 1, NumberLiteral = 2, StringLiteral = 3, End = 4 };

    Kind kind = End;
    QString text;   // as written; strings decoded; numbers without their suffix
    int line = 1;   // 1-based line on which the token starts
};

inline constexpr int MaxSourceBytes = 65536;
inline constexpr int MaxTokens = 16384;

// The whole source as tokens, ending in exactly one End token. Throws
// ScriptError on the first fault; nothing partial is returned.
QList<Token> tokenize(const QString& source);

// True for the 17 type names of the language (case-sensitive).
bool isType(const QString& name);

} // namespace vn::script
