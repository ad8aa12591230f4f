#pragma once

#include "core/script/FrameScriptSyntax.h"

#include <QString>

#include <cstdint>
#include <memory>
#include <vector>

namespace vn::script {

// The syntax tree lowered for the interpreter: names resolved to variable
// slots, literals read once, operators and built-ins as small codes, all in
// flat arrays. It keeps the scoping of the tree exactly: every block and loop
// owns a range of slots, and a name use lists the slots of the enclosing scopes
// that may hold it, innermost first; at run time the first one declared wins.

enum class Op : std::uint8_t {
    Const, Str, Data, Buffer, Length, Var, Index, Call,
    Neg, Plus, Not, BitNot, PreInc, PreDec, PostInc, PostDec,
    Binary, LogAnd, LogOr, Assign, Cast, Cond,
};

enum class BinOp : std::uint8_t {
    None, Add, Sub, Mul, Div, Mod, BitAnd, BitOr, BitXor, Shl, Shr,
    Eq, Ne, Lt, Gt, Le, Ge, LogAnd, LogOr,
};

enum class Builtin : std::uint8_t {
    BufferAppend, BufferSize, BufferDrop, BufferClear, Emit, EmitFrame,
    ReadU8, ReadI8, ReadU16Le, ReadU16Be, ReadI16Le, ReadI16Be,
    ReadU32Le, ReadU32Be, ReadI32Le, ReadI32Be, ReadF32Le, ReadF32Be,
    Sum8, Xor8, Crc16Modbus, Min, Max, Abs,
};

enum class VarType : std::uint8_t { Int32, Int16, Int8, UInt8, UInt16, UInt32, Bool, Float, Double };

VarType varType(const QString& canonicalName);

struct ENode {
    Op op = Op::Const;
    std::uint8_t sub = 0;       // BinOp, Builtin or VarType, by op
    bool integral = false;      // Const
    bool isName = false;        // made from a Name node: a possible store target
    int line = 0;
    int a = -1, b = -1, c = -1; // operands (node indices); Call: a = first argument in `lists`, b = count
    int refStart = 0;           // Name nodes: candidate slots in `lists`
    int refCount = 0;
    int name = -1;              // Name nodes: index in `names`; Str: index in `strings`
    double number = 0;          // Const
};

struct SNode {
    int kind = Statement::Empty;
    int line = 0;
    int expr = -1, step = -1;
    int body = -1, otherwise = -1, init = -1;
    int scope = -1;             // Block, While, For: the scope they push; Declaration: its scope
    int first = 0, count = 0;   // Block: statements in `lists`
    int slot = -1;              // Declaration
    int staticIndex = -1;       // Declaration: its static variable, or -1
    VarType type = VarType::Int32;
    bool isConst = false;
    int name = -1;              // Declaration: index in `names`
};

struct Scope {
    int firstSlot = 0;
    int slotCount = 0;
};

struct Code {
    std::vector<ENode> exprs;
    std::vector<SNode> stmts;
    std::vector<int> lists;
    std::vector<QString> strings;   // string literals, one entry per distinct text
    std::vector<QString> names;     // variable names
    std::vector<Scope> scopes;
    int slotCount = 0;
    int staticCount = 0;
    int root = -1;                  // main's body
};

std::shared_ptr<const Code> lower(const StatementPtr& body, const QString& dataName,
                                  const QString& lengthName);

} // namespace vn::script
