#include "core/script/FrameScriptRuntimeImpl.h"

#include <cmath>
#include <cstring>

namespace vn {

using namespace script;

namespace {

[[noreturn]] void raise(int line, const QString& message)
{
    throw ScriptError(line, message);
}

struct ByteView {
    const std::uint8_t* data;
    int size;
};

struct ReadShape {
    int width;
    bool bigEndian;
    bool isSigned;
    bool isFloat;
};

ReadShape shapeOf(Builtin b)
{
    switch (b) {
    case Builtin::ReadU8: return {1, false, false, false};
    case Builtin::ReadI8: return {1, false, true, false};
    case Builtin::ReadU16Le: return {2, false, false, false};
    case Builtin::ReadU16Be: return {2, true, false, false};
    case Builtin::ReadI16Le: return {2, false, true, false};
    case Builtin::ReadI16Be: return {2, true, true, false};
    case Builtin::ReadU32Le: return {4, false, false, false};
    case Builtin::ReadU32Be: return {4, true, false, false};
    case Builtin::ReadI32Le: return {4, false, true, false};
    case Builtin::ReadI32Be: return {4, true, true, false};
    case Builtin::ReadF32Le: return {4, false, false, true};
    case Builtin::ReadF32Be: return {4, true, false, true};
    default: return {1, false, false, false};
    }
}

} // namespace

Value FrameScriptRuntime::Impl::call(const ENode& n)
{
    Value args[3];
    const int* list = code->lists.data() + n.a;
    for (int i = 0; i < n.b && i < 3; ++i)
        args[i] = evaluate(list[i]);
    const int line = n.line;
    const Builtin which = Builtin(n.sub);

    auto bytesOf = [&](const Value& v) -> ByteView {
        if (v.kind != Value::Bytes)
            raise(line, QStringLiteral("需要 data 或 buffer 字节数组"));
        if (v.isBuffer)
            return {buffer.data(), buffer.size()};
        return {reinterpret_cast<const std::uint8_t*>(data.constData()), int(data.size())};
    };
    const Value zero = Value::num(0, true);

    switch (which) {
    case Builtin::BufferAppend: {
        if (args[0].kind != Value::Bytes)
            raise(line, QStringLiteral("需要 data 或 buffer 字节数组"));
        const ByteView array = bytesOf(args[0]);
        const int count = n.b > 1 ? integer(args[1], line) : array.size;
        if (count > array.size)
            raise(line, QStringLiteral("字节数组访问越界"));
        if (qint64(buffer.size()) + count > MaxBuffer)
            raise(line, QStringLiteral("接收缓存超过 64 KiB，请及时消费完整帧"));
        buffer.append(array.data, count);
        return zero;
    }
    case Builtin::BufferSize:
        return Value::num(buffer.size(), true);
    case Builtin::BufferDrop: {
        const int count = integer(args[0], line);
        if (count > buffer.size())
            raise(line, QStringLiteral("字节数组访问越界"));
        flush(line);
        buffer.drop(count);
        return zero;
    }
    case Builtin::BufferClear:
        buffer.clear();
        return zero;
    case Builtin::Emit: {
        const Value& name = args[0];
        if (name.kind != Value::Text || code->strings[size_t(name.text)].isEmpty()
            || code->strings[size_t(name.text)].size() > 64)
            raise(line, QStringLiteral("输出字段名应为 1..64 个字符的字符串"));
        int at = 0;
        while (at < frameFields && frame[at].name != name.text)
            ++at;
        if (at == frameFields && frameFields >= MaxFields)
            raise(line, QStringLiteral("每帧最多输出 16 个字段"));
        const double v = numeric(args[1], line);
        if (at == frameFields)
            frame[frameFields++].name = name.text;
        frame[at].value = v;
        return zero;
    }
    case Builtin::EmitFrame:
        flush(line);
        return zero;
    case Builtin::Sum8:
    case Builtin::Xor8:
    case Builtin::Crc16Modbus: {
        const ByteView array = bytesOf(args[0]);
        const int start = integer(args[1], line);
        const int count = integer(args[2], line);
        range(array.size, start, count, line);
        countSteps(count, line);
        // The step budget was charged first; a range checked above cannot
        // change while the checksum runs, since nothing else runs meanwhile.
        const std::uint8_t* p = array.data + start;
        unsigned acc = which == Builtin::Crc16Modbus ? 0xFFFFu : 0u;
        if (which == Builtin::Sum8) {
            for (int i = 0; i < count; ++i)
                acc = (acc + p[i]) & 0xFFu;
        } else if (which == Builtin::Xor8) {
            for (int i = 0; i < count; ++i)
                acc ^= p[i];
        } else {
            for (int i = 0; i < count; ++i) {
                acc ^= p[i];
                for (int k = 0; k < 8; ++k)
                    acc = (acc & 1u) ? (acc >> 1) ^ 0xA001u : acc >> 1;
            }
        }
        return Value::num(acc, true);
    }
    case Builtin::Min:
    case Builtin::Max: {
        const double x = numeric(args[0], line);
        const double y = numeric(args[1], line);
        const bool integral = args[0].integral && args[1].integral;
        if (which == Builtin::Min)
            return Value::num(x < y ? x : y, integral);
        return Value::num(x < y ? y : x, integral);
    }
    case Builtin::Abs: {
        const double x = numeric(args[0], line);
        return Value::num(std::fabs(x), args[0].integral);
    }
    default: {
        const ReadShape shape = shapeOf(which);
        const ByteView array = bytesOf(args[0]);
        const int offset = integer(args[1], line);
        range(array.size, offset, shape.width, line);
        const std::uint8_t* p = array.data + offset;
        std::uint32_t u = 0;
        for (int i = 0; i < shape.width; ++i) {
            const int at = shape.bigEndian ? i : shape.width - 1 - i;
            u = (u << 8) | p[at];
        }
        if (shape.isFloat) {
            float f;
            std::memcpy(&f, &u, sizeof f);
            if (!std::isfinite(f))
                raise(line, QStringLiteral("浮点字段为 NaN 或无穷值"));
            return Value::num(double(f), false);
        }
        double value = double(u);
        if (shape.isSigned && (u >> (8 * shape.width - 1)) & 1u)
            value -= std::ldexp(1.0, 8 * shape.width);
        return Value::num(value, true);
    }
    }
}

} // namespace vn
