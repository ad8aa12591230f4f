#include "core/script/FrameScriptLexer.h"
#include "core/script/FrameScriptParser.h"
#include "core/script/ScriptError.h"

#include <QTest>

using namespace vn;
using namespace vn::script;

namespace {

// "kind:text@line" per token, End included, joined by blanks.
QString render(const QList<Token>& tokens)
{
    static const char* const kinds[] = {"P", "I", "N", "S", "E"};
    QStringList parts;
    for (const Token& t : tokens)
        parts << QStringLiteral("%1:%2@%3").arg(QLatin1String(kinds[t.kind]), t.text).arg(t.line);
    return parts.join(u' ');
}

QString errorOf(const QString& source)
{
    try {
        tokenize(source);
    } catch (const ScriptError& e) {
        return e.display();
    }
    return QStringLiteral("<no error>");
}

} // namespace

class FrameScriptLexerTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void scriptError()
    {
        QCOMPARE(ScriptError(0, QStringLiteral("脚本最多 64 KiB")).display(),
                 QStringLiteral("脚本最多 64 KiB"));
        QCOMPARE(ScriptError(12, QStringLiteral("需要表达式")).display(),
                 QStringLiteral("第 12 行：需要表达式"));
        QCOMPARE(ScriptError(-3, QStringLiteral("x")).display(), QStringLiteral("x"));
        const ScriptError e(7, QStringLiteral("需要表达式"));
        QCOMPARE(QString::fromUtf8(e.what()), QStringLiteral("需要表达式"));
        const ScriptError copy = e;
        QCOMPARE(copy.line, 7);
        QCOMPARE(copy.message, e.message);
        const std::runtime_error& base = e;
        QCOMPARE(QString::fromUtf8(base.what()), QStringLiteral("需要表达式"));
    }

    void tokens_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("tokens");
        QTest::newRow("empty") << "" << "E:@1";
        QTest::newRow("only comments") << "// a\n/* b\n*/" << "E:@3";
        QTest::newRow("line comment") << "a//x\nb" << "I:a@1 I:b@2 E:@2";
        QTest::newRow("block comment lines") << "a/*\n\n\n*/b" << "I:a@1 I:b@4 E:@4";
        QTest::newRow("slash star slash") << "/*/ x */y" << "I:y@1 E:@1";
        QTest::newRow("carriage return alone") << "a\rb\r\nc" << "I:a@1 I:b@1 I:c@2 E:@2";
        QTest::newRow("shift assign") << "x<<=1" << "I:x@1 P:<<=@1 N:1@1 E:@1";
        QTest::newRow("plus plus plus") << "a+++b" << "I:a@1 P:++@1 P:+@1 I:b@1 E:@1";
        QTest::newRow("assign minus") << "a=-1" << "I:a@1 P:=@1 P:-@1 N:1@1 E:@1";
        QTest::newRow("hex upper") << "0XFF" << "N:0XFF@1 E:@1";
        QTest::newRow("hex lower") << "0xff" << "N:0xff@1 E:@1";
        QTest::newRow("hex empty") << "0x " << "N:0x@1 E:@1";
        QTest::newRow("hex then ident") << "0x1G" << "N:0x1@1 I:G@1 E:@1";
        QTest::newRow("exponent") << "1e-3" << "N:1e-3@1 E:@1";
        QTest::newRow("leading dot") << ".5" << "N:.5@1 E:@1";
        QTest::newRow("bare exponent") << "1.e" << "N:1.e@1 E:@1";
        QTest::newRow("dots") << "1.2.3" << "N:1.2.3@1 E:@1";
        QTest::newRow("float suffix") << "3f" << "N:3.0@1 E:@1";
        QTest::newRow("float suffix dot") << "3.5f" << "N:3.5@1 E:@1";
        QTest::newRow("unsigned suffix") << "7U" << "N:7@1 E:@1";
        QTest::newRow("one suffix only") << "5uf" << "N:5@1 I:f@1 E:@1";
        QTest::newRow("no octal") << "017" << "N:017@1 E:@1";
        QTest::newRow("string escapes") << "\"a\\tb\\\"\\\\\\n\\r\"" << "S:a\tb\"\\\n\r@1 E:@1";
        QTest::newRow("chinese") << "温度 = \"电压，\"; // 注释"
                                 << "I:温度@1 P:=@1 S:电压，@1 P:;@1 E:@1";
        QTest::newRow("keywords are identifiers") << "static int" << "I:static@1 I:int@1 E:@1";
        QTest::newRow("all operators")
            << "{}()[];,+-*/%&|^~!< > =?: ++ -- += -= *= /= %= &= |= ^= == != <= >= && || << >>"
            << "P:{@1 P:}@1 P:(@1 P:)@1 P:[@1 P:]@1 P:;@1 P:,@1 P:+@1 P:-@1 P:*@1 P:/@1 P:%@1 "
               "P:&@1 P:|@1 P:^@1 P:~@1 P:!@1 P:<@1 P:>@1 P:=@1 P:?@1 P::@1 P:++@1 P:--@1 "
               "P:+=@1 P:-=@1 P:*=@1 P:/=@1 P:%=@1 P:&=@1 P:|=@1 P:^=@1 P:==@1 P:!=@1 P:<=@1 "
               "P:>=@1 P:&&@1 P:||@1 P:<<@1 P:>>@1 E:@1";
        QTest::newRow("unicode spaces") << QStringLiteral("a\u00A0\u0085\u3000b")
                                        << "I:a@1 I:b@1 E:@1";
    }

    void tokens()
    {
        QFETCH(QString, source);
        QFETCH(QString, tokens);
        QCOMPARE(render(tokenize(source)), tokens);
    }

    void errors_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("error");
        QTest::newRow("open comment") << "a\n/* x\n\n" << "第 2 行：注释缺少 */";
        QTest::newRow("string cut by line feed") << "a\n\"ab\ncd\"" << "第 2 行：字符串缺少结束引号";
        QTest::newRow("string at end") << "\"ab" << "第 1 行：字符串缺少结束引号";
        QTest::newRow("escape at end") << "\"ab\\" << "第 1 行：字符串转义不完整";
        QTest::newRow("bad escape") << "\n\"\\x\"" << "第 2 行：不支持的字符串转义";
        QTest::newRow("single quote") << "'a'" << "第 1 行：无法识别的字符：'";
        QTest::newRow("number sign") << "#include" << "第 1 行：无法识别的字符：#";
        QTest::newRow("full-width semicolon") << "x = 1；" << "第 1 行：无法识别的字符：；";
        QTest::newRow("full-width parenthesis") << "\n\nf（" << "第 3 行：无法识别的字符：（";
        QTest::newRow("dot") << "a.b" << "第 1 行：无法识别的字符：.";
        QTest::newRow("backslash") << "a \\ b" << "第 1 行：无法识别的字符：\\";
        QTest::newRow("emoji") << QStringLiteral("x = \U0001F600;")
                               << QStringLiteral("第 1 行：无法识别的字符：\U0001F600");
    }

    void errors()
    {
        QFETCH(QString, source);
        QFETCH(QString, error);
        QCOMPARE(errorOf(source), error);
    }

    void sizeLimit()
    {
        const QString exact(MaxSourceBytes, u' ');
        QCOMPARE(tokenize(exact).size(), 1);
        QCOMPARE(errorOf(exact + u' '), QStringLiteral("脚本最多 64 KiB"));
        // Counted in UTF-8: a Chinese character is three bytes.
        const QString chinese = QStringLiteral("//") + QString(21845, QChar(0x6E29)) + u'x';
        QCOMPARE(chinese.toUtf8().size(), 65538);
        QCOMPARE(errorOf(chinese), QStringLiteral("脚本最多 64 KiB"));
        QCOMPARE(tokenize(chinese.chopped(3)).size(), 1);
    }

    void tokenLimit()
    {
        QString source;
        for (int i = 0; i < MaxTokens; ++i)
            source += (i % 1000 == 999) ? QStringLiteral("x\n") : QStringLiteral("x ");
        const QList<Token> tokens = tokenize(source);
        QCOMPARE(tokens.size(), MaxTokens + 1);
        QCOMPARE(tokens.last().kind, Token::End);
        QCOMPARE(errorOf(source + QStringLiteral("y")), QStringLiteral("第 17 行：脚本过于复杂"));
    }

    void typeNames()
    {
        const QStringList names = {"int", "float", "double", "bool", "byte", "char",
                                   "short", "long", "size_t", "uint8_t", "uint16_t", "uint32_t",
                                   "int8_t", "int16_t", "int32_t", "unsigned", "signed"};
        for (const QString& name : names)
            QVERIFY2(isType(name), qPrintable(name));
        for (const char* other : {"void", "Int", "uint64_t", "long long", "int64_t", ""})
            QVERIFY2(!isType(QString::fromLatin1(other)), other);
    }

    void cursor()
    {
        Parser parser(tokenize(QStringLiteral("a\n;")));
        QVERIFY(!parser.accept(QStringLiteral("b")));
        QCOMPARE(parser.position, 0);
        QVERIFY(parser.accept(QStringLiteral("a")));
        QVERIFY(parser.accept(QStringLiteral(";")));
        try {
            parser.expect(QStringLiteral(")"));
            QFAIL("no error");
        } catch (const ScriptError& e) {
            QCOMPARE(e.display(), QStringLiteral("第 2 行：应为 )"));
        }
        // Past the end the current token stays the End token.
        parser.position = 10;
        QCOMPARE(parser.current().kind, Token::End);
        QCOMPARE(parser.current().line, 2);
    }
};

QTEST_GUILESS_MAIN(FrameScriptLexerTest)
#include "tst_frame_script_lexer.moc"
