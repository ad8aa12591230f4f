#pragma once

#include <QString>

#include <stdexcept>

namespace vn {

// The one error of the frame-script language: the lexer, the parser, the
// compiler and the interpreter all throw it. `what()` is the message alone;
// `display()` is what users and agents are shown.
class ScriptError : public std::runtime_error {
public:
    ScriptError(int line, const QString& message);
    ~ScriptError() override;

    ScriptError(const ScriptError&) = default;
    ScriptError& operator=(const ScriptError&) = default;

    // "第 N 行：message" for a positive line, else the message alone. The script
    // editor finds the faulty line again by the number after "第", so the form
    // is fixed.
    QString display() const;

    int line = 0;       // 1-based; 0 when the fault concerns no line
    QString message;    // Chinese, without the line prefix
};

} // namespace vn
