#pragma once

#include "core/script/FrameScriptCode.h"
#include "core/script/FrameScriptProgramImpl.h"
#include "core/script/FrameScriptRuntime.h"
#include "core/script/ScriptError.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonObject>

#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

namespace vn {

namespace script {

inline constexpr int MaxSteps = 200000;
inline constexpr int ClockInterval = 128;
inline constexpr qint64 MaxMilliseconds = 100;
inline constexpr int MaxBuffer = 65536;
inline constexpr int MaxFrames = 1024;
inline constexpr int MaxFields = 16;
inline constexpr int MaxScopeVariables = 256;
inline constexpr int MaxStatics = 256;
inline constexpr double MaxExactInteger = 9007199254740991.0;

// The result of an expression. Byte arrays are named, never copied.
struct Value {
    enum Kind : std::uint8_t { Number = 0, Text = 1, Bytes = 2 };

    double number = 0;
    int text = -1;              // Text: index of the string literal
    Kind kind = Number;
    bool integral = false;
    bool isBuffer = false;      // Bytes: the receive buffer, else the chunk

    static Value num(double n, bool integral)
    {
        Value v;
        v.number = n;
        v.integral = integral;
        return v;
    }
};

// The receive buffer: dropping from the front only moves a start offset, and
// the live bytes are moved down once the dead prefix outgrows them.
class ByteQueue {
public:
    int size() const { return int(m_store.size() - m_head); }
    const std::uint8_t* data() const
    {
        return reinterpret_cast<const std::uint8_t*>(m_store.constData()) + m_head;
    }
    void append(const std::uint8_t* bytes, int count);
    void drop(int count);
    void clear();

private:
    QByteArray m_store;
    qsizetype m_head = 0;
};

struct Slot {
    double value = 0;
    int staticIndex = -1;
    VarType type = VarType::Int32;
    bool declared = false;
    bool isConst = false;
};

struct StaticVariable {
    double value = 0;
    VarType type = VarType::Int32;
    bool isConst = false;
    bool present = false;
};

struct PendingField {
    int name = -1;
    double value = 0;
};

// The JSON object of one field set, built once: committing a frame with the
// same fields copies it and only replaces the numbers.
struct FrameShape {
    int names[MaxFields] = {};
    int count = 0;
    int position[MaxFields] = {};   // where field i sits in the key-sorted object
    QJsonObject object;
};

bool isIntegralType(VarType type);
[[noreturn]] void raiseNotNumeric(int line);
[[noreturn]] void raiseNotInteger(int line);

// A finite number, else "需要有限的数值".
inline double numeric(const Value& value, int line)
{
    if (value.kind != Value::Number || !std::isfinite(value.number)) [[unlikely]]
        raiseNotNumeric(line);
    return value.number;
}

// A whole number from 0 to 2147483647: indexes, offsets, counts and shifts.
inline int integerOf(const Value& value, int line)
{
    const double x = numeric(value, line);
    if (!(x >= 0 && x <= 2147483647.0) || x != double(int(x))) [[unlikely]]
        raiseNotInteger(line);
    return int(x);
}
double converted(const Value& value, VarType type, int line);
std::uint32_t bits(double number);

} // namespace script

struct FrameScriptRuntime::Impl {
    explicit Impl(std::shared_ptr<const FrameScriptProgram::Impl> program);

    QJsonArray feed(const QByteArray& chunk);

    script::Value evaluate(int node);
    int execute(int statement);
    script::Value call(const script::ENode& node);
    script::Value binary(script::BinOp op, const script::Value& left, const script::Value& right,
                         int line);
    script::Slot& variable(const script::ENode& name);
    script::Value store(const script::ENode& target, const script::Value& value, int line);
    int integer(const script::Value& value, int line) { return script::integerOf(value, line); }
    void range(int size, int start, int count, int line);
    void flush(int line);
    void enterScope(int scope);

    inline void step(int line)
    {
        if (++steps >= nextCheck)
            checkLimits(line);
    }
    void countSteps(int count, int line);
    void checkLimits(int line);

    std::shared_ptr<const FrameScriptProgram::Impl> program;
    const script::Code* code = nullptr;
    QByteArray data;
    script::ByteQueue buffer;
    std::vector<script::StaticVariable> statics;
    int staticCount = 0;
    std::vector<script::Slot> slots;
    std::vector<int> scopeCounts;
    script::PendingField frame[script::MaxFields];
    int frameFields = 0;
    QJsonArray frames;
    int frameCount = 0;
    std::vector<script::FrameShape> shapes;
    const script::FrameShape& shapeOfFrame();
    QElapsedTimer timer;
    int steps = 0;
    int nextCheck = 0;
};

} // namespace vn
