#include "core/script/FrameScriptParser.h"

#include "core/script/ScriptError.h"

#include <QStringList>

#include <algorithm>
#include <cmath>

namespace vn::script {

namespace {

constexpr double MaxExactInteger = 9007199254740991.0;   // 2^53 - 1

const QStringList& reservedWords()
{
    static const QStringList words = {
        QStringLiteral("void"),  QStringLiteral("main"),     QStringLiteral("const"),
        QStringLiteral("static"), QStringLiteral("if"),      QStringLiteral("else"),
        QStringLiteral("for"),   QStringLiteral("while"),    QStringLiteral("break"),
        QStringLiteral("continue"), QStringLiteral("return"), QStringLiteral("true"),
        QStringLiteral("false")};
    return words;
}

// Checks a number literal the way the interpreter will read it.
void validateNumber(const Token& token)
{
    const QString& text = token.text;
    bool ok = false;
    double value = 0;
    bool integral = true;
    if (text.size() >= 2 && text[0] == u'0' && (text[1] == u'x' || text[1] == u'X')) {
        const QString digits = text.mid(2);
        const qulonglong v = digits.isEmpty() ? 0 : digits.toULongLong(&ok, 16);
        value = double(v);
        if (ok && v > 9007199254740991ULL)
            ok = false;
    } else {
        value = text.toDouble(&ok);
        integral = !text.contains(u'.') && !text.contains(u'e') && !text.contains(u'E');
    }
    if (!ok || !std::isfinite(value) || (integral && std::fabs(value) > MaxExactInteger))
        throw ScriptError(token.line, QStringLiteral("数值字面量无效或超出精确数值范围"));
}

// Type names are identifiers: a string literal that spells one ("int") is
// still a string, so a parenthesised field name is not taken for a cast.
bool isTypeName(const Token& token)
{
    return token.kind == Token::Identifier && isType(token.text);
}

// Raises a depth counter for the lifetime of one parse step.
class DepthGuard {
public:
    explicit DepthGuard(int& counter) : m_counter(counter) { ++m_counter; }
    ~DepthGuard() { --m_counter; }
    DepthGuard(const DepthGuard&) = delete;
    DepthGuard& operator=(const DepthGuard&) = delete;

private:
    int& m_counter;
};

} // namespace

const QMap<QString, std::pair<int, int>>& functions()
{
    static const QMap<QString, std::pair<int, int>> entries = {
        {QStringLiteral("buffer_append"), {1, 2}}, {QStringLiteral("buffer_size"), {0, 0}},
        {QStringLiteral("buffer_clear"), {0, 0}},  {QStringLiteral("emit_frame"), {0, 0}},
        {QStringLiteral("buffer_drop"), {1, 1}},   {QStringLiteral("abs"), {1, 1}},
        {QStringLiteral("emit"), {2, 2}},          {QStringLiteral("min"), {2, 2}},
        {QStringLiteral("max"), {2, 2}},           {QStringLiteral("read_u8"), {2, 2}},
        {QStringLiteral("read_i8"), {2, 2}},       {QStringLiteral("read_u16_le"), {2, 2}},
        {QStringLiteral("read_u16_be"), {2, 2}},   {QStringLiteral("read_i16_le"), {2, 2}},
        {QStringLiteral("read_i16_be"), {2, 2}},   {QStringLiteral("read_u32_le"), {2, 2}},
        {QStringLiteral("read_u32_be"), {2, 2}},   {QStringLiteral("read_i32_le"), {2, 2}},
        {QStringLiteral("read_i32_be"), {2, 2}},   {QStringLiteral("read_f32_le"), {2, 2}},
        {QStringLiteral("read_f32_be"), {2, 2}},   {QStringLiteral("sum8"), {3, 3}},
        {QStringLiteral("xor8"), {3, 3}},          {QStringLiteral("crc16_modbus"), {3, 3}}};
    return entries;
}

Parser::Parser(QList<Token> tokens_) : tokens(std::move(tokens_))
{
    if (tokens.isEmpty())
        tokens.append(Token{Token::End, QString(), 1});
}

const Token& Parser::current() const
{
    return tokens.at(std::min<qsizetype>(position, tokens.size() - 1));
}

bool Parser::at(QStringView text) const
{
    return current().kind != Token::StringLiteral && current().text == text;
}

bool Parser::accept(const QString& text)
{
    if (!at(text))
        return false;
    ++position;
    return true;
}

void Parser::expect(const QString& text)
{
    if (!accept(text))
        throw ScriptError(current().line, QStringLiteral("应为 ") + text);
}

int Parser::precedence(const QString& op)
{
    static const QMap<QString, int> table = [] {
        QMap<QString, int> t;
        for (const char* o : {"=", "+=", "-=", "*=", "/=", "%=", "&=", "|=", "^=", "<<=", ">>="})
            t.insert(QString::fromLatin1(o), 1);
        t.insert(QStringLiteral("?"), 2);
        t.insert(QStringLiteral("||"), 3);
        t.insert(QStringLiteral("&&"), 4);
        t.insert(QStringLiteral("|"), 5);
        t.insert(QStringLiteral("^"), 6);
        t.insert(QStringLiteral("&"), 7);
        for (const char* o : {"==", "!="})
            t.insert(QString::fromLatin1(o), 8);
        for (const char* o : {"<", ">", "<=", ">="})
            t.insert(QString::fromLatin1(o), 9);
        for (const char* o : {"<<", ">>"})
            t.insert(QString::fromLatin1(o), 10);
        for (const char* o : {"+", "-"})
            t.insert(QString::fromLatin1(o), 11);
        for (const char* o : {"*", "/", "%"})
            t.insert(QString::fromLatin1(o), 12);
        return t;
    }();
    return table.value(op, 0);
}

ExprPtr Parser::node(Expr::Kind kind, const Token& token, const QString& text,
                     std::vector<ExprPtr> children)
{
    auto e = std::make_shared<Expr>();
    e->kind = kind;
    e->token = token;
    e->text = text;
    int deepest = 0;
    for (const ExprPtr& child : children)
        deepest = std::max(deepest, child->depth);
    e->depth = deepest + 1;
    e->children = std::move(children);
    if (e->depth > MaxNesting)
        throw ScriptError(token.line, QStringLiteral("表达式嵌套超过 64 层"));
    return e;
}

ExprPtr Parser::expression(int minPrecedence, int depth)
{
    if (depth > MaxNesting)
        throw ScriptError(current().line, QStringLiteral("表达式嵌套超过 64 层"));

    const Token primary = current();
    ++position;
    ExprPtr result;
    const QString& p = primary.text;
    if (primary.kind == Token::NumberLiteral) {
        validateNumber(primary);
        result = node(Expr::Number, primary, p, {});
    } else if (primary.kind == Token::StringLiteral) {
        result = node(Expr::String, primary, p, {});
    } else if (p == u"(" && isTypeName(current())) {
        const QString t = type();
        expect(QStringLiteral(")"));
        result = node(Expr::Cast, primary, t, {expression(13, depth + 1)});
    } else if (p == u"(") {
        result = expression(1, depth + 1);
        expect(QStringLiteral(")"));
    } else if (p == u"+" || p == u"-" || p == u"!" || p == u"~" || p == u"++" || p == u"--") {
        result = node(Expr::Unary, primary, p, {expression(13, depth + 1)});
    } else if (primary.kind != Token::Identifier) {
        throw ScriptError(primary.line, QStringLiteral("需要表达式"));
    } else if (at(u"(")) {
        ++position;
        std::vector<ExprPtr> args;
        if (!at(u")")) {
            do {
                args.push_back(expression(1, depth + 1));
            } while (accept(QStringLiteral(",")));
        }
        expect(QStringLiteral(")"));
        const auto& table = functions();
        const auto found = table.constFind(p);
        if (found == table.cend())
            throw ScriptError(primary.line, QStringLiteral("未知函数：") + p);
        const int count = int(args.size());
        if (count < found->first || count > found->second)
            throw ScriptError(primary.line, QStringLiteral("函数参数个数不正确：") + p);
        result = node(Expr::Call, primary, p, std::move(args));
    } else {
        result = node(Expr::Name, primary, p, {});
    }

    for (;;) {
        const Token op = current();
        if (op.kind == Token::StringLiteral)
            return result;
        if (op.text == u"[") {
            ++position;
            ExprPtr index = expression(1, depth + 1);
            expect(QStringLiteral("]"));
            // The indexed operand always starts at the primary token.
            result = node(Expr::Index, primary, QString(), {result, index});
            continue;
        }
        if (op.text == u"++" || op.text == u"--") {
            ++position;
            if (result->kind != Expr::Name)
                throw ScriptError(op.line, QStringLiteral("自增 / 自减仅支持变量"));
            result = node(Expr::Postfix, op, op.text, {result});
            continue;
        }
        const int prec = precedence(op.text);
        if (prec == 0 || prec < minPrecedence)
            return result;
        ++position;
        if (op.text == u"?") {
            ExprPtr middle = expression(1, depth + 1);
            expect(QStringLiteral(":"));
            ExprPtr last = expression(2, depth + 1);
            result = node(Expr::Conditional, op, QString(), {result, middle, last});
        } else if (prec == 1) {
            if (result->kind != Expr::Name)
                throw ScriptError(op.line, QStringLiteral("字节数组只读，只能给变量赋值"));
            ExprPtr value = expression(1, depth + 1);
            result = node(Expr::Assign, op, op.text, {result, value});
        } else {
            ExprPtr right = expression(prec + 1, depth + 1);
            result = node(Expr::Binary, op, op.text, {result, right});
        }
    }
}

StatementPtr Parser::statement()
{
    DepthGuard guard(statementDepth);
    if (statementDepth > MaxNesting)
        throw ScriptError(current().line, QStringLiteral("语句嵌套超过 64 层"));

    auto s = std::make_shared<Statement>();
    s->line = current().line;
    const QString text = current().kind == Token::StringLiteral ? QString() : current().text;
    if (text == u"{") {
        ++position;
        while (!at(u"}")) {
            if (current().kind == Token::End)
                throw ScriptError(current().line, QStringLiteral("缺少 }"));
            s->statements.push_back(statement());
        }
        expect(QStringLiteral("}"));
        s->kind = Statement::Block;
    } else if (text == u"if") {
        ++position;
        expect(QStringLiteral("("));
        s->expression = expression(1, 0);
        expect(QStringLiteral(")"));
        s->body = statement();
        if (accept(QStringLiteral("else")))
            s->otherwise = statement();
        s->kind = Statement::If;
    } else if (text == u"while") {
        ++position;
        expect(QStringLiteral("("));
        s->expression = expression(1, 0);
        expect(QStringLiteral(")"));
        DepthGuard loop(loopDepth);
        s->body = statement();
        s->kind = Statement::While;
    } else if (text == u"for") {
        ++position;
        expect(QStringLiteral("("));
        if (!accept(QStringLiteral(";")))
            s->init = simple();
        if (!accept(QStringLiteral(";"))) {
            s->expression = expression(1, 0);
            expect(QStringLiteral(";"));
        }
        if (!accept(QStringLiteral(")"))) {
            s->step = expression(1, 0);
            expect(QStringLiteral(")"));
        }
        DepthGuard loop(loopDepth);
        s->body = statement();
        s->kind = Statement::For;
    } else if (text == u"break" || text == u"continue") {
        if (loopDepth == 0)
            throw ScriptError(current().line, QStringLiteral("break / continue 只能用于循环"));
        ++position;
        expect(QStringLiteral(";"));
        s->kind = text == u"break" ? Statement::Break : Statement::Continue;
    } else if (text == u"return") {
        ++position;
        expect(QStringLiteral(";"));
        s->kind = Statement::Return;
    } else if (text == u";") {
        ++position;
        s->kind = Statement::Empty;
    } else {
        --statementDepth;
        StatementPtr result = simple();
        ++statementDepth;   // the guard lowers it again
        return result;
    }
    return s;
}

StatementPtr Parser::simple()
{
    auto s = std::make_shared<Statement>();
    s->position = std::min<int>(position, int(tokens.size()) - 1);
    s->line = current().line;
    s->isStatic = accept(QStringLiteral("static"));
    s->isConst = accept(QStringLiteral("const"));
    if (isTypeName(current())) {
        s->kind = Statement::Declaration;
        s->type = type();
        s->name = identifier();
        if (s->name == dataName || s->name == lengthName || s->name == u"buffer")
            throw ScriptError(s->line, QStringLiteral("不能覆盖 main 参数或 buffer"));
        if (accept(QStringLiteral("=")))
            s->expression = expression(1, 0);
    } else if (s->isStatic || s->isConst) {
        throw ScriptError(s->line, QStringLiteral("需要变量类型"));
    } else {
        s->kind = Statement::Expression;
        s->expression = expression(1, 0);
    }
    expect(QStringLiteral(";"));
    return s;
}

QString Parser::type()
{
    if (!isTypeName(current()))
        throw ScriptError(current().line, QStringLiteral("不支持的类型"));
    const QString t = current().text;
    ++position;
    if (t != u"signed" && t != u"unsigned")
        return t;
    const bool isUnsigned = t == u"unsigned";
    QString base = QStringLiteral("int");
    if (isTypeName(current())) {
        base = current().text;
        ++position;
    }
    if (base == u"char")
        return isUnsigned ? QStringLiteral("uint8_t") : QStringLiteral("int8_t");
    if (base == u"short") {
        accept(QStringLiteral("int"));
        return isUnsigned ? QStringLiteral("uint16_t") : QStringLiteral("int16_t");
    }
    if (base == u"long") {
        accept(QStringLiteral("int"));
        return isUnsigned ? QStringLiteral("uint32_t") : QStringLiteral("int32_t");
    }
    if (base == u"int")
        return isUnsigned ? QStringLiteral("uint32_t") : QStringLiteral("int32_t");
    throw ScriptError(current().line,
                      QStringLiteral("signed / unsigned 仅支持 char、short、int 或 long"));
}

QString Parser::identifier()
{
    const Token& t = current();
    if (t.kind != Token::Identifier)
        throw ScriptError(t.line, QStringLiteral("需要变量名"));
    if (isType(t.text) || reservedWords().contains(t.text))
        throw ScriptError(t.line, QStringLiteral("变量名不能使用关键字"));
    ++position;
    return t.text;
}

} // namespace vn::script
