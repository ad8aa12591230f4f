#include "core/script/FrameScriptLexer.h"
#include "core/script/FrameScriptParser.h"
#include "core/script/FrameScriptProgram.h"
#include "core/script/FrameScriptProgramImpl.h"
#include "core/script/ScriptError.h"

#include <QTest>

using namespace vn;
using namespace vn::script;

namespace {

const char* const Head = "void main(const uint8_t data[], int length)\n{\n";

// Expressions as S-expressions: (op a b); casts (cast:T x); calls (f a b).
QString render(const ExprPtr& e)
{
    QStringList parts;
    for (const ExprPtr& child : e->children)
        parts << render(child);
    switch (e->kind) {
    case Expr::Number:
    case Expr::Name:
        return e->text;
    case Expr::String:
        return u'"' + e->text + u'"';
    case Expr::Index:
        return QStringLiteral("([] %1)").arg(parts.join(u' '));
    case Expr::Call:
        return QStringLiteral("(%1%2)").arg(e->text, parts.isEmpty() ? QString() : u' ' + parts.join(u' '));
    case Expr::Unary:
        return QStringLiteral("(%1 %2)").arg(e->text, parts.join(u' '));
    case Expr::Postfix:
        return QStringLiteral("(post%1 %2)").arg(e->text, parts.join(u' '));
    case Expr::Cast:
        return QStringLiteral("(cast:%1 %2)").arg(e->text, parts.join(u' '));
    case Expr::Conditional:
        return QStringLiteral("(? %1)").arg(parts.join(u' '));
    case Expr::Binary:
    case Expr::Assign:
        return QStringLiteral("(%1 %2)").arg(e->text, parts.join(u' '));
    }
    return QString();
}

QString render(const StatementPtr& s)
{
    if (!s)
        return QStringLiteral("-");
    switch (s->kind) {
    case Statement::Block: {
        QStringList parts;
        for (const StatementPtr& child : s->statements)
            parts << render(child);
        return QStringLiteral("{%1}").arg(parts.join(u' '));
    }
    case Statement::Declaration:
        return QStringLiteral("(decl%1%2 %3 %4%5)")
            .arg(s->isStatic ? QStringLiteral(" static") : QString(),
                 s->isConst ? QStringLiteral(" const") : QString(), s->type, s->name,
                 s->expression ? u' ' + render(s->expression) : QString());
    case Statement::Expression:
        return render(s->expression) + u';';
    case Statement::If:
        return QStringLiteral("(if %1 %2 %3)")
            .arg(render(s->expression), render(s->body), render(s->otherwise));
    case Statement::While:
        return QStringLiteral("(while %1 %2)").arg(render(s->expression), render(s->body));
    case Statement::For:
        return QStringLiteral("(for %1 %2 %3 %4)")
            .arg(render(s->init), s->expression ? render(s->expression) : QStringLiteral("-"),
                 s->step ? render(s->step) : QStringLiteral("-"), render(s->body));
    case Statement::Break:
        return QStringLiteral("break");
    case Statement::Continue:
        return QStringLiteral("continue");
    case Statement::Return:
        return QStringLiteral("return");
    case Statement::Empty:
        return QStringLiteral(";");
    }
    return QString();
}

QString parseExpression(const QString& source)
{
    Parser parser(tokenize(source));
    const ExprPtr e = parser.expression(1, 0);
    if (!parser.atEnd())
        return QStringLiteral("<left over: %1>").arg(parser.current().text);
    return render(e);
}

QString compileError(const QString& source)
{
    try {
        FrameScriptProgram::compile(source);
    } catch (const ScriptError& e) {
        return e.display();
    }
    return QStringLiteral("<compiled>");
}

QString repeated(const QString& piece, int count, const QString& separator)
{
    QStringList parts;
    for (int i = 0; i < count; ++i)
        parts << piece;
    return parts.join(separator);
}

} // namespace

class FrameScriptParserTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void expressions_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("tree");
        QTest::newRow("assign right to left") << "a = b = 3" << "(= a (= b 3))";
        QTest::newRow("left assoc") << "a - b - c" << "(- (- a b) c)";
        QTest::newRow("product first") << "1 + 2 * 3" << "(+ 1 (* 2 3))";
        QTest::newRow("nested conditional") << "c ? a : b ? d : e" << "(? c a (? b d e))";
        QTest::newRow("assign in middle") << "c ? x = 1 : 2" << "(? c (= x 1) 2)";
        QTest::newRow("sum as condition") << "a + b ? c : d" << "(? (+ a b) c d)";
        QTest::newRow("postfix first") << "-x++" << "(- (post++ x))";
        QTest::newRow("cast binds tight") << "(int)x + 1" << "(+ (cast:int x) 1)";
        QTest::newRow("parenthesised postfix") << "(x)++" << "(post++ x)";
        QTest::newRow("parenthesised assign") << "(x) = 3" << "(= x 3)";
        QTest::newRow("prefix on literal") << "++3" << "(++ 3)";
        QTest::newRow("and below equality") << "x & 1 == 1" << "(& x (== 1 1))";
        QTest::newRow("precedence ladder")
            << "a || b && c | d ^ e & f == g < h << i + j * k"
            << "(|| a (&& b (| c (^ d (& e (== f (< g (<< h (+ i (* j k))))))))))";
        QTest::newRow("compound") << "x <<= y >>= 2" << "(<<= x (>>= y 2))";
        QTest::newRow("index and call") << "buffer[i + 1] + sum8(buffer, 0, 6)"
                                        << "(+ ([] buffer (+ i 1)) (sum8 buffer 0 6))";
        QTest::newRow("no-argument call") << "buffer_size()" << "(buffer_size)";
        QTest::newRow("built-in name alone") << "sum8 + 1" << "(+ sum8 1)";
        QTest::newRow("unsigned cast") << "(unsigned char)x" << "(cast:uint8_t x)";
        QTest::newRow("string") << "emit(\"温度\", 1)" << "(emit \"温度\" 1)";
        QTest::newRow("parenthesised string spelling a type") << "emit((\"int\"), 1)" << "(emit \"int\" 1)";
        QTest::newRow("unary chain") << "!~-+x" << "(! (~ (- (+ x))))";
        QTest::newRow("max exact hex") << "0x1FFFFFFFFFFFFF" << "0x1FFFFFFFFFFFFF";
        QTest::newRow("max exact decimal") << "9007199254740991" << "9007199254740991";
        QTest::newRow("2^53 with point") << "9007199254740992.0" << "9007199254740992.0";
        QTest::newRow("huge float") << "1e300" << "1e300";
    }

    void expressions()
    {
        QFETCH(QString, source);
        QFETCH(QString, tree);
        QCOMPARE(parseExpression(source), tree);
    }

    void statements_data()
    {
        QTest::addColumn<QString>("body");
        QTest::addColumn<QString>("tree");
        QTest::newRow("declarations")
            << "unsigned char x; unsigned y; signed short int z; signed s = 1; unsigned long int q;"
            << "{(decl uint8_t x) (decl uint32_t y) (decl int16_t z) (decl int32_t s 1) "
               "(decl uint32_t q)}";
        QTest::newRow("static const") << "static const int k = 1; static float f;"
                                      << "{(decl static const int k 1) (decl static float f)}";
        QTest::newRow("dangling else") << "if (a) if (b) x = 1; else x = 2;"
                                       << "{(if a (if b (= x 1); (= x 2);) -)}";
        QTest::newRow("for all empty") << "for (;;) break;" << "{(for - - - break)}";
        QTest::newRow("for full") << "for (int i = 0; i < 3; i++) { continue; }"
                                  << "{(for (decl int i 0) (< i 3) (post++ i) {continue})}";
        QTest::newRow("break inside if in while") << "while (1) { if (x) break; }"
                                                  << "{(while 1 {(if x break -)})}";
        QTest::newRow("return and empty") << "; return;" << "{; return}";
        // Strings that spell punctuation or keywords stay strings.
        QTest::newRow("strings spelling syntax") << "{ \"}\"; } \"if\"; \"{\";"
                                                 << "{{\"}\";} \"if\"; \"{\";}";
    }

    void statements()
    {
        QFETCH(QString, body);
        QFETCH(QString, tree);
        const auto program = FrameScriptProgram::compile(QString::fromLatin1(Head) + body + "\n}");
        QCOMPARE(render(program->impl->body), tree);
    }

    void positions()
    {
        // Statement positions are token indexes: they name static variables.
        const auto program = FrameScriptProgram::compile(
            QString::fromLatin1(Head) + "static int a; { static int a; } a = 1;\n}");
        const auto& s = program->impl->body->statements;
        QCOMPARE(s.size(), size_t(3));
        QCOMPARE(s[0]->position, 13);
        QCOMPARE(s[1]->statements[0]->position, 18);
        QCOMPARE(s[2]->position, 23);
        QCOMPARE(s[2]->line, 3);
    }

    void errors_data()
    {
        QTest::addColumn<QString>("body");
        QTest::addColumn<QString>("error");
        // The body starts on line 3.
        QTest::newRow("postfix twice") << "x++ ++;" << "第 3 行：自增 / 自减仅支持变量";
        QTest::newRow("postfix on literal") << "3++;" << "第 3 行：自增 / 自减仅支持变量";
        QTest::newRow("assign to byte") << "buffer[0] = 1;" << "第 3 行：字节数组只读，只能给变量赋值";
        QTest::newRow("compound on data") << "data[i] += 1;" << "第 3 行：字节数组只读，只能给变量赋值";
        QTest::newRow("assign to literal") << "1 = x;" << "第 3 行：字节数组只读，只能给变量赋值";
        QTest::newRow("assign in last part") << "c ? a : b = 2;" << "第 3 行：字节数组只读，只能给变量赋值";
        QTest::newRow("unknown function") << "\nprintf(x);" << "第 4 行：未知函数：printf";
        QTest::newRow("argument count") << "sum8(buffer);" << "第 3 行：函数参数个数不正确：sum8";
        QTest::newRow("too many arguments") << "buffer_append(data, 1, 2);"
                                            << "第 3 行：函数参数个数不正确：buffer_append";
        QTest::newRow("unsigned float") << "unsigned float f;"
                                        << "第 3 行：signed / unsigned 仅支持 char、short、int 或 long";
        QTest::newRow("short int") << "short int s;" << "第 3 行：变量名不能使用关键字";
        QTest::newRow("long long") << "long long x;" << "第 3 行：变量名不能使用关键字";
        QTest::newRow("const static") << "const static int k = 1;" << "第 3 行：需要变量类型";
        QTest::newRow("static alone") << "static x = 1;" << "第 3 行：需要变量类型";
        QTest::newRow("buffer declared") << "int buffer;" << "第 3 行：不能覆盖 main 参数或 buffer";
        QTest::newRow("parameter declared") << "int length = 2;" << "第 3 行：不能覆盖 main 参数或 buffer";
        QTest::newRow("if as name") << "int if;" << "第 3 行：变量名不能使用关键字";
        QTest::newRow("true as name") << "int true;" << "第 3 行：变量名不能使用关键字";
        QTest::newRow("main as name") << "int main;" << "第 3 行：变量名不能使用关键字";
        QTest::newRow("digit name") << "int 2x;" << "第 3 行：需要变量名";
        QTest::newRow("two variables") << "int a, b;" << "第 3 行：应为 ;";
        QTest::newRow("array") << "int a[4];" << "第 3 行：应为 ;";
        QTest::newRow("break outside loop") << "break;" << "第 3 行：break / continue 只能用于循环";
        QTest::newRow("continue after loop")
            << "for (;;) {} continue;" << "第 3 行：break / continue 只能用于循环";
        QTest::newRow("return value") << "return 0;" << "第 3 行：应为 ;";
        QTest::newRow("missing expression") << "x = ;" << "第 3 行：需要表达式";
        QTest::newRow("missing semicolon") << "x = 1\n" << "第 5 行：应为 ;";
        QTest::newRow("bad number") << "x = 1.2.3;" << "第 3 行：数值字面量无效或超出精确数值范围";
        QTest::newRow("empty hex") << "x = 0x;" << "第 3 行：数值字面量无效或超出精确数值范围";
        QTest::newRow("bare exponent") << "x = 1e;" << "第 3 行：数值字面量无效或超出精确数值范围";
        QTest::newRow("2^53") << "x = 9007199254740992;" << "第 3 行：数值字面量无效或超出精确数值范围";
        QTest::newRow("2^53 hex") << "x = 0x20000000000000;" << "第 3 行：数值字面量无效或超出精确数值范围";
        QTest::newRow("hex overflow") << "x = 0x10000000000000000;"
                                      << "第 3 行：数值字面量无效或超出精确数值范围";
        QTest::newRow("infinite") << "x = 1e999;" << "第 3 行：数值字面量无效或超出精确数值范围";
        QTest::newRow("string as operator") << "x = 1 \"+\" 2;" << "第 3 行：应为 ;";
        QTest::newRow("string as semicolon") << "x = 1 \";\"" << "第 3 行：应为 ;";
        QTest::newRow("string as call parenthesis") << "emit \"(\" 1);" << "第 3 行：应为 ;";
        QTest::newRow("unsupported type") << "(signed signed)x;"
                                          << "第 3 行：signed / unsigned 仅支持 char、short、int 或 long";
    }

    void errors()
    {
        QFETCH(QString, body);
        QFETCH(QString, error);
        QCOMPARE(compileError(QString::fromLatin1(Head) + body + "\n}"), error);
    }

    void unclosedBlock()
    {
        QCOMPARE(compileError(QString::fromLatin1(Head) + "x = 1;\n\n"), QStringLiteral("第 5 行：缺少 }"));
    }

    void expressionDepth()
    {
        const QString sum64 = repeated(QStringLiteral("x"), 64, QStringLiteral(" + "));
        const QString sum65 = repeated(QStringLiteral("x"), 65, QStringLiteral(" + "));
        const QString head = QString::fromLatin1(Head);
        QCOMPARE(compileError(head + sum64 + ";}"), QStringLiteral("<compiled>"));
        QCOMPARE(compileError(head + sum65 + ";}"), QStringLiteral("第 3 行：表达式嵌套超过 64 层"));
        QCOMPARE(compileError(head + "int y; y = " + sum64 + ";}"),
                 QStringLiteral("第 3 行：表达式嵌套超过 64 层"));
        const QString paren64 = QString(64, u'(') + u'x' + QString(64, u')');
        const QString paren65 = QString(65, u'(') + u'x' + QString(65, u')');
        QCOMPARE(compileError(head + paren64 + ";}"), QStringLiteral("<compiled>"));
        QCOMPARE(compileError(head + paren65 + ";}"), QStringLiteral("第 3 行：表达式嵌套超过 64 层"));
    }

    void statementDepth()
    {
        // main's body is level 1; each nested block one more.
        const QString head = QString::fromLatin1("void main(const uint8_t data[], int length)\n");
        const QString deep64 = QString(64, u'{') + QString(64, u'}');
        const QString deep65 = QString(65, u'{') + QString(65, u'}');
        QCOMPARE(compileError(head + deep64), QStringLiteral("<compiled>"));
        QCOMPARE(compileError(head + deep65), QStringLiteral("第 2 行：语句嵌套超过 64 层"));
        // An expression statement sits one level below its block.
        QCOMPARE(compileError(head + QString(63, u'{') + "x;" + QString(63, u'}')),
                 QStringLiteral("<compiled>"));
        QCOMPARE(compileError(head + QString(64, u'{') + "x;" + QString(64, u'}')),
                 QStringLiteral("第 2 行：语句嵌套超过 64 层"));
    }

    void heads_data()
    {
        QTest::addColumn<QString>("head");
        QTest::addColumn<QString>("error");
        QTest::newRow("pointer size_t") << "void main(uint8_t *buf, size_t n)" << "<compiled>";
        QTest::newRow("char bool") << "void main(const char d[], bool n)" << "<compiled>";
        QTest::newRow("byte") << "void main(byte d[], long n)" << "<compiled>";
        QTest::newRow("unsigned char") << "void main(const unsigned char *d, unsigned n)" << "<compiled>";
        QTest::newRow("int8_t data") << "void main(int8_t d[], int n)"
                                     << "第 1 行：main 第一个参数应为字节数组";
        QTest::newRow("signed char data") << "void main(signed char d[], int n)"
                                          << "第 1 行：main 第一个参数应为字节数组";
        QTest::newRow("double length") << "void main(const uint8_t d[], double n)"
                                       << "第 1 行：main 长度参数应为整数";
        QTest::newRow("const length") << "void main(const uint8_t data[], const int length)"
                                      << "第 1 行：不支持的类型";
        QTest::newRow("type in quotes") << "void main(const \"uint8_t\" data[], int length)"
                                        << "第 1 行：不支持的类型";
        QTest::newRow("no brackets") << "void main(const uint8_t data, int length)"
                                     << "第 1 行：应为 [";
        QTest::newRow("buffer parameter") << "void main(const uint8_t buffer[], int length)"
                                          << "第 1 行：main 参数名重复或使用了保留名称 buffer";
        QTest::newRow("same names") << "void main(const uint8_t x[], int x)"
                                    << "第 1 行：main 参数名重复或使用了保留名称 buffer";
        QTest::newRow("int main") << "int main(const uint8_t d[], int n)" << "第 1 行：应为 void";
        QTest::newRow("keyword name") << "void main(const uint8_t if[], int n)"
                                      << "第 1 行：变量名不能使用关键字";
    }

    void heads()
    {
        QFETCH(QString, head);
        QFETCH(QString, error);
        QCOMPARE(compileError(head + "\n{\n}\n"), error);
    }

    void wholeScripts_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("error");
        QTest::newRow("prototype") << "void main(const uint8_t data[], int length);"
                                   << "第 1 行：main 缺少函数体";
        QTest::newRow("second function") << "void main(const uint8_t d[], int n)\n{\n}\nvoid f() {}"
                                         << "第 4 行：第一版仅支持一个固定的 main 函数";
        QTest::newRow("global after main") << "void main(const uint8_t d[], int n) {}\n\nint g;"
                                           << "第 3 行：第一版仅支持一个固定的 main 函数";
        QTest::newRow("comment after main") << "void main(const uint8_t d[], int n) {}\n// end\n/* x */"
                                            << "<compiled>";
        QTest::newRow("empty body") << "void main(const uint8_t d[], int n) {}" << "<compiled>";
        QTest::newRow("undefined variable compiles")
            << "void main(const uint8_t d[], int n) { y = z + 1; int y; int y; }" << "<compiled>";
        QTest::newRow("empty source") << "" << "第 1 行：应为 void";
        QTest::newRow("too large") << QString(65537, u' ') << "脚本最多 64 KiB";
    }

    void wholeScripts()
    {
        QFETCH(QString, source);
        QFETCH(QString, error);
        QCOMPARE(compileError(source), error);
    }

    void example()
    {
        const QString text = FrameScriptProgram::example();
        QCOMPARE(text.count(u'\n'), 26);
        QVERIFY(text.endsWith(QStringLiteral("}\n")));
        QVERIFY(!text.contains(u'\t'));
        QVERIFY(text.startsWith(
            QStringLiteral("// 帧：AA 55 | int16 温度 / 100 | uint16 电压 / 1000 | SUM8 | 0D\n")));
        const auto program = FrameScriptProgram::compile(text);
        QCOMPARE(program->impl->dataName, QStringLiteral("data"));
        QCOMPARE(program->impl->lengthName, QStringLiteral("length"));
    }
};

QTEST_GUILESS_MAIN(FrameScriptParserTest)
#include "tst_frame_script_parser.moc"
