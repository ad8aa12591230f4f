#include "core/script/FrameScriptRuntime.h"

#include "core/script/FrameScriptRuntimeImpl.h"

#include <algorithm>
#include <cmath>

namespace vn {

using namespace script;

namespace {

[[noreturn]] void raise(int line, const QString& message)
{
    throw ScriptError(line, message);
}

enum Flow { Normal = 0, BreakFlow = 1, ContinueFlow = 2, ReturnFlow = 3 };

} // namespace

namespace script {

bool isIntegralType(VarType type)
{
    return type != VarType::Float && type != VarType::Double;
}

void raiseNotNumeric(int line)
{
    raise(line, QStringLiteral("需要有限的数值"));
}

void raiseNotInteger(int line)
{
    raise(line, QStringLiteral("索引、长度或位移必须为非负整数"));
}

std::uint32_t bits(double x)
{
    const double t = std::trunc(x);
    if (std::fabs(t) < 9.0e18)
        return std::uint32_t(std::int64_t(t));
    double m = std::fmod(t, 4294967296.0);
    if (m < 0)
        m += 4294967296.0;
    return std::uint32_t(m);
}

double converted(const Value& value, VarType type, int line)
{
    const double x = numeric(value, line);
    switch (type) {
    case VarType::Double:
        return x;
    case VarType::Float: {
        // Beyond the largest float plus half its last step, rounding gives an
        // infinity; the conversion itself would be undefined there.
        constexpr double RoundsToInfinity = 3.4028235677973366e38;   // 2^128 - 2^103
        if (std::fabs(x) >= RoundsToInfinity)
            raise(line, QStringLiteral("float 数值溢出"));
        return double(float(x));
    }
    case VarType::Bool:
        return x != 0 ? 1 : 0;
    case VarType::UInt8:
        return double(bits(x) & 0xFFu);
    case VarType::Int8:
        return double(std::int8_t(std::uint8_t(bits(x) & 0xFFu)));
    case VarType::UInt16:
        return double(bits(x) & 0xFFFFu);
    case VarType::Int16:
        return double(std::int16_t(std::uint16_t(bits(x) & 0xFFFFu)));
    case VarType::UInt32:
        return double(bits(x));
    case VarType::Int32:
        break;
    }
    return double(std::int32_t(bits(x)));
}

void ByteQueue::append(const std::uint8_t* bytes, int count)
{
    if (count <= 0)
        return;
    const char* source = reinterpret_cast<const char*>(bytes);
    if (source >= m_store.constData() && source < m_store.constData() + m_store.size()) {
        // Appending the buffer to itself: copy first, the store may move.
        const QByteArray copy(source, count);
        append(reinterpret_cast<const std::uint8_t*>(copy.constData()), count);
        return;
    }
    if (m_head > 0 && m_head >= m_store.size() - m_head) {
        m_store.remove(0, m_head);
        m_head = 0;
    }
    m_store.append(source, count);
}

void ByteQueue::drop(int count)
{
    m_head += count;
    if (m_head >= m_store.size()) {
        m_store.resize(0);
        m_head = 0;
    }
}

void ByteQueue::clear()
{
    m_store.resize(0);
    m_head = 0;
}

} // namespace script

FrameScriptRuntime::FrameScriptRuntime(std::shared_ptr<const FrameScriptProgram> program)
{
    if (!program || !program->impl)
        throw ScriptError(0, QStringLiteral("脚本未编译"));
    impl = std::make_unique<Impl>(program->impl);
}

FrameScriptRuntime::~FrameScriptRuntime() = default;

QJsonArray FrameScriptRuntime::feed(const QByteArray& chunk)
{
    return impl->feed(chunk);
}

int FrameScriptRuntime::bufferedBytes() const
{
    return impl->buffer.size();
}

FrameScriptRuntime::Impl::Impl(std::shared_ptr<const FrameScriptProgram::Impl> program_)
    : program(std::move(program_)), code(program->code.get())
{
    statics.resize(size_t(code->staticCount));
    slots.resize(size_t(code->slotCount));
    scopeCounts.resize(code->scopes.size());
}

QJsonArray FrameScriptRuntime::Impl::feed(const QByteArray& chunk)
{
    data = chunk;
    steps = 0;
    nextCheck = ClockInterval;
    frameFields = 0;
    frames = QJsonArray();
    frameCount = 0;
    timer.start();
    // Main's own scope holds nothing (its parameters are special names); the
    // body block pushes the first scope that can.
    execute(code->root);
    if (frameFields > 0)
        flush(1);
    data = QByteArray();
    QJsonArray result;
    result.swap(frames);
    return result;
}

void FrameScriptRuntime::Impl::checkLimits(int line)
{
    // Called when the step count reaches the next clock reading (every 128
    // steps) or passes the step budget.
    if (steps > MaxSteps
        || (steps % ClockInterval == 0 && timer.elapsed() > MaxMilliseconds))
        raise(line, QStringLiteral("执行超限，检查循环是否推进了数据或退出条件"));
    nextCheck = std::min((steps / ClockInterval + 1) * ClockInterval, MaxSteps + 1);
}

void FrameScriptRuntime::Impl::countSteps(int count, int line)
{
    if (steps + count < nextCheck) {
        steps += count;
        return;
    }
    for (int i = 0; i < count; ++i)
        step(line);
}

void FrameScriptRuntime::Impl::enterScope(int scope)
{
    const Scope& s = code->scopes[size_t(scope)];
    scopeCounts[size_t(scope)] = 0;
    for (int i = 0; i < s.slotCount; ++i)
        slots[size_t(s.firstSlot + i)].declared = false;
}

int FrameScriptRuntime::Impl::execute(int index)
{
    if (index < 0)
        return Normal;
    const SNode& s = code->stmts[size_t(index)];
    step(s.line);
    switch (s.kind) {
    case Statement::Block: {
        enterScope(s.scope);
        const int* list = code->lists.data() + s.first;
        for (int i = 0; i < s.count; ++i) {
            const int flow = execute(list[i]);
            if (flow != Normal)
                return flow;
        }
        return Normal;
    }
    case Statement::Declaration: {
        Slot& slot = slots[size_t(s.slot)];
        if (slot.declared)
            raise(s.line, QStringLiteral("同一作用域重复声明变量：") + code->names[size_t(s.name)]);
        int& inScope = scopeCounts[size_t(s.scope)];
        // A static that exists already is only brought into scope again; only
        // a new one counts against the static limit.
        StaticVariable* existing = nullptr;
        if (s.staticIndex >= 0 && statics[size_t(s.staticIndex)].present)
            existing = &statics[size_t(s.staticIndex)];
        if (inScope >= MaxScopeVariables
            || (s.staticIndex >= 0 && !existing && staticCount >= MaxStatics))
            raise(s.line, QStringLiteral("变量数量超限"));
        if (existing) {
            slot.value = existing->value;
            slot.type = existing->type;
            slot.isConst = existing->isConst;
            slot.staticIndex = s.staticIndex;
            slot.declared = true;
            ++inScope;
            return Normal;
        }
        const Value init = s.expr >= 0 ? evaluate(s.expr) : Value::num(0, true);
        const double value = converted(init, s.type, s.line);
        slot.value = value;
        slot.type = s.type;
        slot.isConst = s.isConst;
        slot.staticIndex = s.staticIndex;
        slot.declared = true;
        ++inScope;
        if (s.staticIndex >= 0) {
            StaticVariable& st = statics[size_t(s.staticIndex)];
            st.value = value;
            st.type = s.type;
            st.isConst = s.isConst;
            st.present = true;
            ++staticCount;
        }
        return Normal;
    }
    case Statement::Expression:
        evaluate(s.expr);
        return Normal;
    case Statement::If: {
        const double c = numeric(evaluate(s.expr), s.line);
        return execute(c != 0 ? s.body : s.otherwise);
    }
    case Statement::While:
    case Statement::For: {
        enterScope(s.scope);
        execute(s.init);
        for (;;) {
            if (s.expr >= 0 && numeric(evaluate(s.expr), s.line) == 0)
                break;
            step(s.line);
            const int flow = execute(s.body);
            if (flow == BreakFlow)
                break;
            if (flow == ReturnFlow)
                return ReturnFlow;
            if (s.step >= 0)
                evaluate(s.step);
        }
        return Normal;
    }
    case Statement::Break:
        return BreakFlow;
    case Statement::Continue:
        return ContinueFlow;
    case Statement::Return:
        return ReturnFlow;
    default:
        return Normal;
    }
}

Slot& FrameScriptRuntime::Impl::variable(const ENode& n)
{
    const int* refs = code->lists.data() + n.refStart;
    for (int i = 0; i < n.refCount; ++i) {
        Slot& slot = slots[size_t(refs[i])];
        if (slot.declared)
            return slot;
    }
    raise(n.line, QStringLiteral("未定义的变量：") + code->names[size_t(n.name)]);
}

Value FrameScriptRuntime::Impl::store(const ENode& target, const Value& value, int line)
{
    if (!target.isName)
        raise(line, QStringLiteral("只能修改局部变量"));
    Slot& slot = variable(target);
    if (slot.isConst)
        raise(line, QStringLiteral("不能修改只读变量"));
    slot.value = converted(value, slot.type, line);
    if (slot.staticIndex >= 0)
        statics[size_t(slot.staticIndex)].value = slot.value;
    return Value::num(slot.value, isIntegralType(slot.type));
}

void FrameScriptRuntime::Impl::range(int size, int start, int count, int line)
{
    if (start > size || count > size - start)
        raise(line, QStringLiteral("字节数组访问越界"));
}

void FrameScriptRuntime::Impl::flush(int line)
{
    if (frameFields == 0)
        return;
    if (frameCount >= MaxFrames)
        raise(line, QStringLiteral("单次调用输出超过 1024 帧"));
    const FrameShape& shape = shapeOfFrame();
    QJsonObject object = shape.object;
    const QJsonObject::iterator first = object.begin();
    for (int i = 0; i < frameFields; ++i)
        first[shape.position[i]] = frame[i].value;
    frames.append(object);
    ++frameCount;
    frameFields = 0;
}

const FrameShape& FrameScriptRuntime::Impl::shapeOfFrame()
{
    for (const FrameShape& shape : shapes) {
        if (shape.count != frameFields)
            continue;
        int i = 0;
        while (i < frameFields && shape.names[i] == frame[i].name)
            ++i;
        if (i == frameFields)
            return shape;
    }
    // Scripts emit few distinct field sets; keep the most recent ones.
    if (shapes.size() >= 8)
        shapes.erase(shapes.begin());
    FrameShape shape;
    shape.count = frameFields;
    for (int i = 0; i < frameFields; ++i) {
        shape.names[i] = frame[i].name;
        shape.object.insert(code->strings[size_t(frame[i].name)], 0);
    }
    for (int i = 0; i < frameFields; ++i) {
        const auto found = shape.object.constFind(code->strings[size_t(frame[i].name)]);
        shape.position[i] = int(found - shape.object.constBegin());
    }
    shapes.push_back(std::move(shape));
    return shapes.back();
}

Value FrameScriptRuntime::Impl::binary(BinOp op, const Value& left, const Value& right, int line)
{
    const double x = numeric(left, line);
    const double y = numeric(right, line);
    const bool integral = left.integral && right.integral;
    double r = 0;
    switch (op) {
    case BinOp::Add:
        r = x + y;
        break;
    case BinOp::Sub:
        r = x - y;
        break;
    case BinOp::Mul:
        r = x * y;
        break;
    case BinOp::Div:
        if (y == 0)
            raise(line, QStringLiteral("除数不能为零"));
        r = x / y;
        if (integral)
            r = std::trunc(r);
        break;
    case BinOp::Mod:
        if (y == 0)
            raise(line, QStringLiteral("除数不能为零"));
        r = std::fmod(x, y);
        break;
    case BinOp::BitAnd:
        r = double(bits(x) & bits(y));
        break;
    case BinOp::BitOr:
        r = double(bits(x) | bits(y));
        break;
    case BinOp::BitXor:
        r = double(bits(x) ^ bits(y));
        break;
    case BinOp::Shl:
    case BinOp::Shr: {
        const int shift = integer(right, line);
        if (shift > 31)
            raise(line, QStringLiteral("位移范围为 0..31"));
        r = op == BinOp::Shl ? double(std::uint32_t(bits(x) << shift))
                             : double(bits(x) >> shift);
        break;
    }
    case BinOp::Eq:
        return Value::num(x == y ? 1 : 0, true);
    case BinOp::Ne:
        return Value::num(x != y ? 1 : 0, true);
    case BinOp::Lt:
        return Value::num(x < y ? 1 : 0, true);
    case BinOp::Gt:
        return Value::num(x > y ? 1 : 0, true);
    case BinOp::Le:
        return Value::num(x <= y ? 1 : 0, true);
    case BinOp::Ge:
        return Value::num(x >= y ? 1 : 0, true);
    case BinOp::LogAnd:
        return Value::num(x != 0 && y != 0 ? 1 : 0, true);
    case BinOp::LogOr:
        return Value::num(x != 0 || y != 0 ? 1 : 0, true);
    case BinOp::None:
        // The parser makes no other operator; reached only by a broken tree.
        raise(line, QStringLiteral("不支持的运算符：") + QString::number(int(op)));
    }
    if (std::isinf(r))
        raise(line, QStringLiteral("计算结果溢出"));
    if (integral && std::fabs(r) > MaxExactInteger)
        raise(line, QStringLiteral("整数运算超出精确数值范围，请分步处理或转为浮点数"));
    return Value::num(r, integral);
}

Value FrameScriptRuntime::Impl::evaluate(int index)
{
    const ENode& n = code->exprs[size_t(index)];
    step(n.line);
    switch (n.op) {
    case Op::Const:
        return Value::num(n.number, n.integral);
    case Op::Str: {
        Value v;
        v.kind = Value::Text;
        v.text = n.name;
        return v;
    }
    case Op::Data:
    case Op::Buffer: {
        Value v;
        v.kind = Value::Bytes;
        v.isBuffer = n.op == Op::Buffer;
        return v;
    }
    case Op::Length:
        return Value::num(double(data.size()), true);
    case Op::Var: {
        const Slot& slot = variable(n);
        return Value::num(slot.value, isIntegralType(slot.type));
    }
    case Op::Index: {
        const Value array = evaluate(n.a);
        const int i = integer(evaluate(n.b), n.line);
        if (array.kind != Value::Bytes)
            raise(n.line, QStringLiteral("需要 data 或 buffer 字节数组"));
        const int size = array.isBuffer ? buffer.size() : int(data.size());
        if (i >= size)
            raise(n.line, QStringLiteral("字节数组访问越界"));
        const std::uint8_t byte = array.isBuffer
            ? buffer.data()[i]
            : std::uint8_t(data.constData()[i]);
        return Value::num(byte, true);
    }
    case Op::Call:
        return call(n);
    case Op::Neg: {
        const Value v = evaluate(n.a);
        return Value::num(-numeric(v, n.line), v.integral);
    }
    case Op::Plus: {
        const Value v = evaluate(n.a);
        return Value::num(numeric(v, n.line), v.integral);
    }
    case Op::Not:
        return Value::num(numeric(evaluate(n.a), n.line) == 0 ? 1 : 0, true);
    case Op::BitNot:
        return Value::num(double(~bits(numeric(evaluate(n.a), n.line))), true);
    case Op::PreInc:
    case Op::PreDec:
    case Op::PostInc:
    case Op::PostDec: {
        const Value v = evaluate(n.a);
        const double old = numeric(v, n.line);
        const bool up = n.op == Op::PreInc || n.op == Op::PostInc;
        const Value stored = store(code->exprs[size_t(n.a)],
                                   Value::num(up ? old + 1 : old - 1, v.integral), n.line);
        if (n.op == Op::PostInc || n.op == Op::PostDec)
            return Value::num(old, v.integral);
        return stored;
    }
    case Op::Binary: {
        const Value left = evaluate(n.a);
        const Value right = evaluate(n.b);
        return binary(BinOp(n.sub), left, right, n.line);
    }
    case Op::LogAnd: {
        const Value left = evaluate(n.a);
        if (numeric(left, n.line) == 0)
            return Value::num(0, true);
        return binary(BinOp::LogAnd, left, evaluate(n.b), n.line);
    }
    case Op::LogOr: {
        const Value left = evaluate(n.a);
        if (numeric(left, n.line) != 0)
            return Value::num(1, true);
        return binary(BinOp::LogOr, left, evaluate(n.b), n.line);
    }
    case Op::Assign: {
        const ENode& target = code->exprs[size_t(n.a)];
        const Value current = evaluate(n.a);
        const Value value = evaluate(n.b);
        if (BinOp(n.sub) == BinOp::None)
            return store(target, value, n.line);
        return store(target, binary(BinOp(n.sub), current, value, n.line), n.line);
    }
    case Op::Cast:
        return Value::num(converted(evaluate(n.a), VarType(n.sub), n.line),
                          isIntegralType(VarType(n.sub)));
    case Op::Cond: {
        const double c = numeric(evaluate(n.a), n.line);
        return evaluate(c != 0 ? n.b : n.c);
    }
    }
    return Value();
}

} // namespace vn
