#include "core/script/FrameScriptCode.h"

#include <QHash>
#include <QMap>

namespace vn::script {

VarType varType(const QString& t)
{
    if (t == u"double")
        return VarType::Double;
    if (t == u"float")
        return VarType::Float;
    if (t == u"bool")
        return VarType::Bool;
    if (t == u"byte" || t == u"uint8_t")
        return VarType::UInt8;
    if (t == u"char" || t == u"int8_t")
        return VarType::Int8;
    if (t == u"uint16_t")
        return VarType::UInt16;
    if (t == u"short" || t == u"int16_t")
        return VarType::Int16;
    if (t == u"uint32_t" || t == u"size_t")
        return VarType::UInt32;
    return VarType::Int32;
}

namespace {

struct ScopeInfo {
    QMap<QString, int> slots;   // name -> index within the scope
    QList<QString> order;
};

class Lowering {
public:
    Lowering(const QString& dataName, const QString& lengthName)
        : m_dataName(dataName), m_lengthName(lengthName)
    {
    }

    std::shared_ptr<const Code> run(const StatementPtr& body)
    {
        // Main's own scope holds nothing; the body block pushes the first real one.
        const int mainScope = newScope();
        collect(body.get(), mainScope);
        for (ScopeInfo& info : m_scopes) {
            Scope s;
            s.firstSlot = m_code->slotCount;
            s.slotCount = int(info.order.size());
            m_code->slotCount += s.slotCount;
            m_code->scopes.push_back(s);
        }
        std::vector<int> chain{mainScope};
        m_code->root = statement(body.get(), chain);
        return m_code;
    }

private:
    int newScope()
    {
        m_scopes.push_back(ScopeInfo());
        return int(m_scopes.size()) - 1;
    }

    // First pass: which names each scope may hold, in every order the
    // interpreter can declare them.
    void collect(const Statement* s, int scope)
    {
        if (!s)
            return;
        switch (s->kind) {
        case Statement::Block: {
            const int inner = newScope();
            m_scopeOf.insert(s, inner);
            for (const StatementPtr& child : s->statements)
                collect(child.get(), inner);
            break;
        }
        case Statement::Declaration: {
            ScopeInfo& info = m_scopes[scope];
            if (!info.slots.contains(s->name)) {
                info.slots.insert(s->name, int(info.order.size()));
                info.order.push_back(s->name);
            }
            break;
        }
        case Statement::If:
            collect(s->body.get(), scope);
            collect(s->otherwise.get(), scope);
            break;
        case Statement::While:
        case Statement::For: {
            const int inner = newScope();
            m_scopeOf.insert(s, inner);
            collect(s->init.get(), inner);
            collect(s->body.get(), inner);
            break;
        }
        default:
            break;
        }
    }

    int nameIndex(const QString& name)
    {
        const auto found = m_nameIndex.constFind(name);
        if (found != m_nameIndex.cend())
            return *found;
        m_code->names.push_back(name);
        const int index = int(m_code->names.size()) - 1;
        m_nameIndex.insert(name, index);
        return index;
    }

    int stringIndex(const QString& text)
    {
        const auto found = m_stringIndex.constFind(text);
        if (found != m_stringIndex.cend())
            return *found;
        m_code->strings.push_back(text);
        const int index = int(m_code->strings.size()) - 1;
        m_stringIndex.insert(text, index);
        return index;
    }

    int slotOf(int scope, const QString& name) const
    {
        return m_code->scopes[size_t(scope)].firstSlot + m_scopes[size_t(scope)].slots.value(name);
    }

    int add(const ENode& node)
    {
        m_code->exprs.push_back(node);
        return int(m_code->exprs.size()) - 1;
    }

    int statement(const Statement* s, std::vector<int>& chain)
    {
        if (!s)
            return -1;
        SNode n;
        n.kind = s->kind;
        n.line = s->line;
        switch (s->kind) {
        case Statement::Block: {
            n.scope = m_scopeOf.value(s);
            chain.push_back(n.scope);
            std::vector<int> children;
            for (const StatementPtr& child : s->statements)
                children.push_back(statement(child.get(), chain));
            chain.pop_back();
            n.first = int(m_code->lists.size());
            n.count = int(children.size());
            m_code->lists.insert(m_code->lists.end(), children.begin(), children.end());
            break;
        }
        case Statement::Declaration:
            n.scope = chain.back();
            n.slot = slotOf(n.scope, s->name);
            n.staticIndex = s->isStatic ? m_code->staticCount++ : -1;
            n.type = varType(s->type);
            n.isConst = s->isConst;
            n.name = nameIndex(s->name);
            n.expr = expression(s->expression.get(), chain);
            break;
        case Statement::Expression:
            n.expr = expression(s->expression.get(), chain);
            break;
        case Statement::If:
            n.expr = expression(s->expression.get(), chain);
            n.body = statement(s->body.get(), chain);
            n.otherwise = statement(s->otherwise.get(), chain);
            break;
        case Statement::While:
        case Statement::For:
            n.scope = m_scopeOf.value(s);
            chain.push_back(n.scope);
            n.init = statement(s->init.get(), chain);
            n.expr = expression(s->expression.get(), chain);
            n.step = expression(s->step.get(), chain);
            n.body = statement(s->body.get(), chain);
            chain.pop_back();
            break;
        default:
            break;
        }
        m_code->stmts.push_back(n);
        return int(m_code->stmts.size()) - 1;
    }

    int expression(const Expr* e, const std::vector<int>& chain)
    {
        if (!e)
            return -1;
        ENode n;
        n.line = e->token.line;
        switch (e->kind) {
        case Expr::Number: {
            n.op = Op::Const;
            const QString& t = e->text;
            if (t.size() >= 2 && t[0] == u'0' && (t[1] == u'x' || t[1] == u'X')) {
                n.number = double(t.mid(2).toULongLong(nullptr, 16));
                n.integral = true;
            } else {
                n.number = t.toDouble();
                n.integral = !t.contains(u'.') && !t.contains(u'e') && !t.contains(u'E');
            }
            break;
        }
        case Expr::String:
            n.op = Op::Str;
            n.name = stringIndex(e->text);
            break;
        case Expr::Name:
            n.isName = true;
            n.name = nameIndex(e->text);
            if (e->text == m_dataName) {
                n.op = Op::Data;
            } else if (e->text == u"buffer") {
                n.op = Op::Buffer;
            } else if (e->text == m_lengthName) {
                n.op = Op::Length;
            } else if (e->text == u"true" || e->text == u"false") {
                n.op = Op::Const;
                n.number = e->text == u"true" ? 1 : 0;
                n.integral = true;
            } else {
                // Those four names can never be declared, so only other
                // names get candidate slots; a store to them finds none.
                n.op = Op::Var;
            }
            if (n.op == Op::Var || n.op == Op::Const || n.op == Op::Length || n.op == Op::Data
                || n.op == Op::Buffer) {
                n.refStart = int(m_code->lists.size());
                if (n.op == Op::Var) {
                    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
                        if (m_scopes[size_t(*it)].slots.contains(e->text))
                            m_code->lists.push_back(slotOf(*it, e->text));
                    }
                }
                n.refCount = int(m_code->lists.size()) - n.refStart;
            }
            break;
        case Expr::Index:
            n.op = Op::Index;
            n.a = expression(e->children[0].get(), chain);
            n.b = expression(e->children[1].get(), chain);
            break;
        case Expr::Call: {
            n.op = Op::Call;
            n.sub = std::uint8_t(builtin(e->text));
            std::vector<int> args;
            for (const ExprPtr& child : e->children)
                args.push_back(expression(child.get(), chain));
            n.a = int(m_code->lists.size());
            n.b = int(args.size());
            m_code->lists.insert(m_code->lists.end(), args.begin(), args.end());
            break;
        }
        case Expr::Unary: {
            const QString& t = e->text;
            n.op = t == u"-" ? Op::Neg : t == u"+" ? Op::Plus : t == u"!" ? Op::Not
                 : t == u"~" ? Op::BitNot : t == u"++" ? Op::PreInc : Op::PreDec;
            n.a = expression(e->children[0].get(), chain);
            break;
        }
        case Expr::Postfix:
            n.op = e->text == u"++" ? Op::PostInc : Op::PostDec;
            n.a = expression(e->children[0].get(), chain);
            break;
        case Expr::Binary:
            n.sub = std::uint8_t(binOp(e->text));
            n.op = e->text == u"&&" ? Op::LogAnd : e->text == u"||" ? Op::LogOr : Op::Binary;
            n.a = expression(e->children[0].get(), chain);
            n.b = expression(e->children[1].get(), chain);
            break;
        case Expr::Assign:
            n.op = Op::Assign;
            n.sub = std::uint8_t(e->text == u"=" ? BinOp::None : binOp(e->text.chopped(1)));
            n.a = expression(e->children[0].get(), chain);
            n.b = expression(e->children[1].get(), chain);
            break;
        case Expr::Cast:
            n.op = Op::Cast;
            n.sub = std::uint8_t(varType(e->text));
            n.a = expression(e->children[0].get(), chain);
            break;
        case Expr::Conditional:
            n.op = Op::Cond;
            n.a = expression(e->children[0].get(), chain);
            n.b = expression(e->children[1].get(), chain);
            n.c = expression(e->children[2].get(), chain);
            break;
        }
        return add(n);
    }

    static BinOp binOp(const QString& t)
    {
        static const QHash<QString, BinOp> table = {
            {QStringLiteral("+"), BinOp::Add},     {QStringLiteral("-"), BinOp::Sub},
            {QStringLiteral("*"), BinOp::Mul},     {QStringLiteral("/"), BinOp::Div},
            {QStringLiteral("%"), BinOp::Mod},     {QStringLiteral("&"), BinOp::BitAnd},
            {QStringLiteral("|"), BinOp::BitOr},   {QStringLiteral("^"), BinOp::BitXor},
            {QStringLiteral("<<"), BinOp::Shl},    {QStringLiteral(">>"), BinOp::Shr},
            {QStringLiteral("=="), BinOp::Eq},     {QStringLiteral("!="), BinOp::Ne},
            {QStringLiteral("<"), BinOp::Lt},      {QStringLiteral(">"), BinOp::Gt},
            {QStringLiteral("<="), BinOp::Le},     {QStringLiteral(">="), BinOp::Ge},
            {QStringLiteral("&&"), BinOp::LogAnd}, {QStringLiteral("||"), BinOp::LogOr}};
        return table.value(t, BinOp::None);
    }

    static Builtin builtin(const QString& name)
    {
        static const QHash<QString, Builtin> table = {
            {QStringLiteral("buffer_append"), Builtin::BufferAppend},
            {QStringLiteral("buffer_size"), Builtin::BufferSize},
            {QStringLiteral("buffer_drop"), Builtin::BufferDrop},
            {QStringLiteral("buffer_clear"), Builtin::BufferClear},
            {QStringLiteral("emit"), Builtin::Emit},
            {QStringLiteral("emit_frame"), Builtin::EmitFrame},
            {QStringLiteral("read_u8"), Builtin::ReadU8},
            {QStringLiteral("read_i8"), Builtin::ReadI8},
            {QStringLiteral("read_u16_le"), Builtin::ReadU16Le},
            {QStringLiteral("read_u16_be"), Builtin::ReadU16Be},
            {QStringLiteral("read_i16_le"), Builtin::ReadI16Le},
            {QStringLiteral("read_i16_be"), Builtin::ReadI16Be},
            {QStringLiteral("read_u32_le"), Builtin::ReadU32Le},
            {QStringLiteral("read_u32_be"), Builtin::ReadU32Be},
            {QStringLiteral("read_i32_le"), Builtin::ReadI32Le},
            {QStringLiteral("read_i32_be"), Builtin::ReadI32Be},
            {QStringLiteral("read_f32_le"), Builtin::ReadF32Le},
            {QStringLiteral("read_f32_be"), Builtin::ReadF32Be},
            {QStringLiteral("sum8"), Builtin::Sum8},
            {QStringLiteral("xor8"), Builtin::Xor8},
            {QStringLiteral("crc16_modbus"), Builtin::Crc16Modbus},
            {QStringLiteral("min"), Builtin::Min},
            {QStringLiteral("max"), Builtin::Max},
            {QStringLiteral("abs"), Builtin::Abs}};
        return table.value(name, Builtin::BufferSize);
    }

    QString m_dataName;
    QString m_lengthName;
    std::shared_ptr<Code> m_code = std::make_shared<Code>();
    std::vector<ScopeInfo> m_scopes;
    QHash<const Statement*, int> m_scopeOf;
    QHash<QString, int> m_nameIndex;
    QHash<QString, int> m_stringIndex;
};

} // namespace

std::shared_ptr<const Code> lower(const StatementPtr& body, const QString& dataName,
                                  const QString& lengthName)
{
    return Lowering(dataName, lengthName).run(body);
}

} // namespace vn::script
