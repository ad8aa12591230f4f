#include "ScriptTestUtil.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QTest>

using namespace vn;
using namespace vn::test;

namespace {

QByteArray hex(const char* text)
{
    return QByteArray::fromHex(QByteArray(text));
}

QString compact(const QJsonArray& frames)
{
    return QString::fromUtf8(QJsonDocument(frames).toJson(QJsonDocument::Compact));
}

const QByteArray ExampleFrame = hex("AA55C409E40CBC0D");

} // namespace

class FrameScriptRuntimeTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void expressions_data()
    {
        QTest::addColumn<QString>("declarations");
        QTest::addColumn<QString>("expression");
        QTest::addColumn<QString>("result");
        // Emitting happens on line 3.
        QTest::newRow("uint8 256") << "uint8_t x = 256;" << "x" << "0";
        QTest::newRow("char 200") << "char x = 200;" << "x" << "-56";
        QTest::newRow("int 4294967295") << "int x = 4294967295;" << "x" << "-1";
        QTest::newRow("uint32 -1") << "uint32_t x = -1;" << "x" << "4294967295";
        QTest::newRow("bool 0.5") << "bool x = 0.5;" << "x" << "1";
        QTest::newRow("float precision") << "float x = 0.1;" << "x" << "0.10000000149011612";
        QTest::newRow("float overflow") << "float x = 1e39;" << "x" << "第 2 行：float 数值溢出";
        QTest::newRow("float rounds to max") << "float x = 3.40282356e38;" << "x" << "3.4028234663852886e+38";
        QTest::newRow("float negative overflow") << "float x = -3.4028236e38;" << "x" << "第 2 行：float 数值溢出";
        QTest::newRow("cast to float overflows") << "" << "(float)1e300" << "第 3 行：float 数值溢出";
        QTest::newRow("int16 wrap") << "short x = 40000;" << "x" << "-25536";
        QTest::newRow("uint16 negative") << "uint16_t x = -2;" << "x" << "65534";
        QTest::newRow("int truncates") << "int x = -3.9;" << "x" << "-3";
        QTest::newRow("huge to int") << "int x = 1e20;" << "x" << "1661992960";
        QTest::newRow("compound wraps") << "uint8_t x = 250; x += 10;" << "x" << "4";
        QTest::newRow("increment wraps") << "int8_t x = 127; x++;" << "x" << "-128";
        QTest::newRow("postfix value") << "int x = 5;" << "x++ * 10 + x" << "56";
        QTest::newRow("prefix value") << "uint8_t x = 255;" << "++x" << "0";
        QTest::newRow("assign value") << "char x;" << "x = 300" << "44";
        QTest::newRow("divide") << "" << "7 / 2" << "3";
        QTest::newRow("divide negative") << "" << "-7 / 2" << "-3";
        QTest::newRow("divide float") << "" << "7.0 / 2" << "3.5";
        QTest::newRow("remainder negative") << "" << "-7 % 2" << "-1";
        QTest::newRow("remainder float") << "" << "7.5 % 2" << "1.5";
        QTest::newRow("divide by zero") << "" << "5 % 0" << "第 3 行：除数不能为零";
        QTest::newRow("double variable divides exactly") << "double d = 7;" << "d / 2" << "3.5";
        QTest::newRow("int variable truncates") << "int i = 7;" << "i / 2" << "3";
        QTest::newRow("cast to double") << "" << "(double)7 / 2" << "3.5";
        QTest::newRow("cast wraps") << "" << "(uint8_t)-1" << "255";
        QTest::newRow("float suffix") << "" << "7f / 2" << "3.5";
        QTest::newRow("shift 31") << "" << "1 << 31" << "2147483648";
        QTest::newRow("shift 32") << "" << "1 << 32" << "第 3 行：位移范围为 0..31";
        QTest::newRow("shift -1") << "" << "1 << -1" << "第 3 行：索引、长度或位移必须为非负整数";
        QTest::newRow("shift fraction") << "" << "1 << 1.5" << "第 3 行：索引、长度或位移必须为非负整数";
        QTest::newRow("complement") << "" << "~0" << "4294967295";
        QTest::newRow("logical right shift") << "" << "-1 >> 28" << "15";
        QTest::newRow("shift keeps low bits") << "" << "0xFFFFFFFF << 4" << "4294967280";
        QTest::newRow("and or xor") << "" << "(12 & 10) * 100 + (12 | 10) + (12 ^ 10) * 1000" << "6814";
        QTest::newRow("bits of negative") << "" << "-1 & 0xFF" << "255";
        QTest::newRow("exact range") << "" << "9007199254740991 + 1"
                                     << "第 3 行：整数运算超出精确数值范围，请分步处理或转为浮点数";
        QTest::newRow("exact range with point") << "" << "9007199254740991.0 + 1" << "9007199254740992";
        QTest::newRow("overflow") << "" << "1e300 * 1e300" << "第 3 行：计算结果溢出";
        QTest::newRow("comparisons") << "" << "(1 < 2) + (2 <= 2) * 2 + (3 > 4) * 4 + (1 == 1.0) * 8 + (1 != 1) * 16 + (2 >= 3) * 32"
                                     << "11";
        QTest::newRow("not") << "" << "!0 + !5 * 2" << "1";
        QTest::newRow("and short circuit") << "" << "0 && 1 / 0" << "0";
        QTest::newRow("or short circuit") << "" << "2 || 1 / 0" << "1";
        QTest::newRow("and evaluates") << "" << "1 && 1 / 0" << "第 3 行：除数不能为零";
        QTest::newRow("and value") << "" << "3 && 4" << "1";
        QTest::newRow("conditional") << "int c = 0;" << "c ? 1 / 0 : 7" << "7";
        QTest::newRow("true false") << "" << "true * 2 + false" << "2";
        QTest::newRow("length") << "" << "length" << "3";
        QTest::newRow("index") << "" << "data[2]" << "204";
        QTest::newRow("index at length") << "" << "data[3]" << "第 3 行：字节数组访问越界";
        QTest::newRow("index fraction") << "" << "data[1.5]" << "第 3 行：索引、长度或位移必须为非负整数";
        QTest::newRow("index number") << "int x = 1;" << "x[0]" << "第 3 行：需要 data 或 buffer 字节数组";
        QTest::newRow("string as number") << "" << "\"a\" + 1" << "第 3 行：需要有限的数值";
        QTest::newRow("bytes as number") << "" << "data * 2" << "第 3 行：需要有限的数值";
        QTest::newRow("undefined") << "" << "y" << "第 3 行：未定义的变量：y";
        QTest::newRow("assign undefined") << "" << "x = 1" << "第 3 行：未定义的变量：x";
        QTest::newRow("assign target before value") << "" << "x = y" << "第 3 行：未定义的变量：x";
        QTest::newRow("compound reads target first") << "int x = 1;" << "x += (x = 5)" << "6";
        QTest::newRow("index operand before index") << "" << "y[z]" << "第 3 行：未定义的变量：y";
        QTest::newRow("const") << "const int k = 1;" << "k = 2" << "第 3 行：不能修改只读变量";
        QTest::newRow("prefix on literal") << "" << "++3" << "第 3 行：只能修改局部变量";
        QTest::newRow("store to length") << "" << "length = 1" << "第 3 行：未定义的变量：length";
        QTest::newRow("shadowing") << "int x = 1; { int x = 2; }" << "x" << "1";
        QTest::newRow("inner sees outer") << "int x = 1; { x = 5; }" << "x" << "5";
        QTest::newRow("duplicate") << "int x; int x;" << "x" << "第 2 行：同一作用域重复声明变量：x";
        QTest::newRow("declared in inner block") << "{ int z = 1; }" << "z" << "第 3 行：未定义的变量：z";
        QTest::newRow("if without block declares here") << "if (1) int z = 4;" << "z" << "4";
        QTest::newRow("use before declaration sees outer")
            << "int x = 1; int r = 0; { r = x; int x = 9; r = r * 10 + x; }" << "r" << "19";
        QTest::newRow("for scope") << "int s = 0; for (int i = 0; i < 5; i++) s += i;" << "s" << "10";
        QTest::newRow("for body declares twice")
            << "for (int i = 0; i < 2; i++) int z;" << "1" << "第 2 行：同一作用域重复声明变量：z";
        QTest::newRow("while with break and continue")
            << "int i = 0; int s = 0; while (1) { i++; if (i > 10) break; if (i % 2) continue; s += i; }"
            << "s" << "30";
        QTest::newRow("min max abs") << "" << "min(2, 2.5) * 100 + max(-1, 3) * 10 + abs(-3)" << "233";
        QTest::newRow("min not integral") << "" << "min(3, 3.5) / 2" << "1.5";
        QTest::newRow("abs integral") << "" << "abs(-7) / 2" << "3";
        QTest::newRow("abs negative zero") << "" << "abs(-0.0)" << "0";
    }

    void expressions()
    {
        QFETCH(QString, declarations);
        QFETCH(QString, expression);
        QFETCH(QString, result);
        QCOMPARE(evaluate(declarations, expression, hex("0A0BCC")), result);
    }

    void builtins_data()
    {
        QTest::addColumn<QByteArray>("chunk");
        QTest::addColumn<QString>("expression");
        QTest::addColumn<QString>("result");
        const QByteArray example = ExampleFrame;
        QTest::newRow("i16 le") << example << "read_i16_le(data, 2)" << "2500";
        QTest::newRow("u16 le") << example << "read_u16_le(data, 4)" << "3300";
        QTest::newRow("sum8") << example << "sum8(data, 0, 6)" << "188";
        QTest::newRow("u16 be") << hex("1234") << "read_u16_be(data, 0)" << "4660";
        QTest::newRow("u16 le 1234") << hex("1234") << "read_u16_le(data, 0)" << "13330";
        QTest::newRow("i8") << hex("FF") << "read_i8(data, 0)" << "-1";
        QTest::newRow("u8") << hex("FF") << "read_u8(data, 0)" << "255";
        QTest::newRow("i32 le -1") << hex("FFFFFFFF") << "read_i32_le(data, 0)" << "-1";
        QTest::newRow("u32 le") << hex("78563412") << "read_u32_le(data, 0)" << "305419896";
        QTest::newRow("u32 be") << hex("12345678") << "read_u32_be(data, 0)" << "305419896";
        QTest::newRow("u32 max") << hex("FFFFFFFF") << "read_u32_be(data, 0)" << "4294967295";
        QTest::newRow("i32 be min") << hex("80000000") << "read_i32_be(data, 0)" << "-2147483648";
        QTest::newRow("i32 le min") << hex("00000080") << "read_i32_le(data, 0)" << "-2147483648";
        QTest::newRow("i16 be") << hex("8001") << "read_i16_be(data, 0)" << "-32767";
        QTest::newRow("i16 le") << hex("0180") << "read_i16_le(data, 0)" << "-32767";
        QTest::newRow("f32 le one") << hex("0000803F") << "read_f32_le(data, 0)" << "1";
        QTest::newRow("f32 be one") << hex("3F800000") << "read_f32_be(data, 0)" << "1";
        QTest::newRow("f32 le pi") << hex("DB0F4940") << "read_f32_le(data, 0)" << "3.1415927410125732";
        QTest::newRow("f32 be -2.5") << hex("C0200000") << "read_f32_be(data, 0)" << "-2.5";
        QTest::newRow("f32 not integral") << hex("00004040") << "read_f32_le(data, 0) / 2" << "1.5";
        QTest::newRow("f32 nan") << hex("0000C07F") << "read_f32_le(data, 0)" << "第 3 行：浮点字段为 NaN 或无穷值";
        QTest::newRow("f32 infinity") << hex("7F800000") << "read_f32_be(data, 0)" << "第 3 行：浮点字段为 NaN 或无穷值";
        QTest::newRow("read offset") << hex("00112233") << "read_u16_be(data, 2)" << "8755";
        QTest::newRow("read past end") << hex("001122") << "read_u16_le(data, 2)" << "第 3 行：字节数组访问越界";
        QTest::newRow("read from number") << hex("00") << "read_u8(1, 0)" << "第 3 行：需要 data 或 buffer 字节数组";
        QTest::newRow("read negative offset") << hex("00") << "read_u8(data, -1)" << "第 3 行：索引、长度或位移必须为非负整数";
        QTest::newRow("crc modbus") << QByteArray("123456789") << "crc16_modbus(data, 0, 9)" << "19255";
        QTest::newRow("crc empty at end") << QByteArray("123") << "crc16_modbus(data, 3, 0)" << "65535";
        QTest::newRow("sum8 empty at end") << QByteArray("123") << "sum8(data, 3, 0)" << "0";
        QTest::newRow("sum8 wraps") << hex("FFFF03") << "sum8(data, 0, 3)" << "1";
        QTest::newRow("xor8") << hex("0F3355") << "xor8(data, 0, 3)" << "105";
        QTest::newRow("checksum past end") << hex("0102") << "xor8(data, 1, 2)" << "第 3 行：字节数组访问越界";
        QTest::newRow("checksum start past end") << hex("0102") << "sum8(data, 3, 0)" << "第 3 行：字节数组访问越界";
        QTest::newRow("conditional array") << hex("0102") << "read_u8(length > 1 ? data : buffer, 1)" << "2";
        QTest::newRow("buffer_size") << hex("010203") << "buffer_size()" << "0";
    }

    void builtins()
    {
        QFETCH(QByteArray, chunk);
        QFETCH(QString, expression);
        QFETCH(QString, result);
        QCOMPARE(evaluate(QString(), expression, chunk), result);
    }

    void bufferFunctions()
    {
        // Appending from the buffer itself doubles it.
        QCOMPARE(evaluate("buffer_append(data); buffer_append(buffer); buffer_append(buffer, 2);",
                          "buffer_size() * 1000 + read_u8(buffer, 7)", hex("0A0B0C")),
                 QStringLiteral("8011"));
        QCOMPARE(evaluate("buffer_append(data, 4);", "1", hex("0A0B0C")),
                 QStringLiteral("第 2 行：字节数组访问越界"));
        QCOMPARE(evaluate("buffer_append(1);", "1"), QStringLiteral("第 2 行：需要 data 或 buffer 字节数组"));
        QCOMPARE(evaluate("buffer_append(data); buffer_drop(4);", "1", hex("0A0B0C")),
                 QStringLiteral("第 2 行：字节数组访问越界"));
        QCOMPARE(evaluate("buffer_append(data); buffer_drop(2);", "buffer[0]", hex("0A0B0C")),
                 QStringLiteral("12"));
        QCOMPARE(evaluate("buffer_append(data); buffer_clear();", "buffer_size()", hex("0A0B0C")),
                 QStringLiteral("0"));

        // The 64 KiB receive buffer: 65000 + 600 fails and appends nothing.
        FrameScriptRuntime runtime(FrameScriptProgram::compile(
            script("if (length > 0) buffer_append(data); else emit(\"size\", buffer_size());")));
        QVERIFY(feedOnce(runtime, QByteArray(65000, 'x')).error.isEmpty());
        QCOMPARE(feedOnce(runtime, QByteArray(600, 'y')).error,
                 QStringLiteral("第 2 行：接收缓存超过 64 KiB，请及时消费完整帧"));
        QCOMPARE(runtime.bufferedBytes(), 65000);
        QVERIFY(feedOnce(runtime, QByteArray(536, 'y')).error.isEmpty());
        QCOMPARE(runtime.bufferedBytes(), 65536);
        QCOMPARE(compact(feedOnce(runtime, QByteArray()).frames), QStringLiteral("[{\"size\":65536}]"));
    }

    void emitting()
    {
        QCOMPARE(compact(runBody("emit(\"a\", 1); emit(\"a\", 2); emit(\"温度\", 0.5);").frames),
                 QStringLiteral("[{\"a\":2,\"温度\":0.5}]"));
        QString sixteen;
        for (int i = 0; i < 16; ++i)
            sixteen += QStringLiteral("emit(\"f%1\", %1);").arg(i);
        QCOMPARE(runBody(sixteen).frames.at(0).toObject().size(), 16);
        QCOMPARE(runBody(sixteen + "emit(\"f3\", 0);").error, QString());
        QCOMPARE(runBody(sixteen + "\nemit(\"g\", 0);").error, QStringLiteral("第 3 行：每帧最多输出 16 个字段"));
        const QString name64(64, u'n');
        QCOMPARE(runBody("emit(\"" + name64 + "\", 1);").error, QString());
        QCOMPARE(runBody("emit(\"" + name64 + "n\", 1);").error,
                 QStringLiteral("第 2 行：输出字段名应为 1..64 个字符的字符串"));
        QCOMPARE(runBody("emit(\"\", 1);").error, QStringLiteral("第 2 行：输出字段名应为 1..64 个字符的字符串"));
        QCOMPARE(runBody("emit(1, 1);").error, QStringLiteral("第 2 行：输出字段名应为 1..64 个字符的字符串"));
        QCOMPARE(runBody("emit(\"a\", \"b\");").error, QStringLiteral("第 2 行：需要有限的数值"));
        QCOMPARE(compact(runBody("emit(length > 0 ? \"x\" : \"y\", 1);").frames), QStringLiteral("[{\"y\":1}]"));

        // Nothing emitted: no frames. Pending fields are committed at the end, also after return.
        QCOMPARE(compact(runBody("int x = 1;").frames), QStringLiteral("[]"));
        QCOMPARE(compact(runBody("emit(\"a\", 1); emit_frame(); emit_frame(); emit(\"b\", 2); return; emit(\"c\", 3);").frames),
                 QStringLiteral("[{\"a\":1},{\"b\":2}]"));
        // buffer_clear keeps the pending frame; buffer_drop commits it.
        QCOMPARE(compact(runBody("buffer_append(data); emit(\"a\", 1); buffer_clear(); emit(\"b\", 2);", hex("01")).frames),
                 QStringLiteral("[{\"a\":1,\"b\":2}]"));
        QCOMPARE(compact(runBody("buffer_append(data); emit(\"a\", 1); buffer_drop(0); emit(\"b\", 2);", hex("01")).frames),
                 QStringLiteral("[{\"a\":1},{\"b\":2}]"));
    }

    void frameLimit()
    {
        FrameScriptRuntime runtime(FrameScriptProgram::compile(script(
            "buffer_append(data); int n = read_u16_le(data, 0);\n"
            "for (int i = 0; i < n; i++) { emit(\"i\", i); emit_frame(); }")));
        const Outcome ok = feedOnce(runtime, hex("0004"));
        QCOMPARE(ok.frames.size(), 1024);
        QCOMPARE(ok.frames.at(1023).toObject().value("i").toInt(), 1023);
        const Outcome tooMany = feedOnce(runtime, hex("0104"));
        QCOMPARE(tooMany.error, QStringLiteral("第 3 行：单次调用输出超过 1024 帧"));
        QVERIFY(tooMany.frames.isEmpty());
        // The bytes appended before the fault stay.
        QCOMPARE(runtime.bufferedBytes(), 4);

        // The final commit at the end of main reports line 1.
        FrameScriptRuntime last(FrameScriptProgram::compile(script(
            "for (int i = 0; i < 1024; i++) { emit(\"i\", i); emit_frame(); }\nemit(\"i\", 0);")));
        QCOMPARE(feedOnce(last, QByteArray()).error, QStringLiteral("第 1 行：单次调用输出超过 1024 帧"));
    }

    void statics()
    {
        FrameScriptRuntime runtime(FrameScriptProgram::compile(script(
            "static int count = 0; count++;\n"
            "{ static int count = 100; count += 10; emit(\"inner\", count); }\n"
            "emit(\"count\", count);")));
        for (int call = 1; call <= 3; ++call) {
            const Outcome o = feedOnce(runtime, QByteArray());
            QCOMPARE(o.error, QString());
            QCOMPARE(o.frames.at(0).toObject().value("count").toInt(), call);
            QCOMPARE(o.frames.at(0).toObject().value("inner").toInt(), 100 + 10 * call);
        }
        // A new runtime starts its statics afresh.
        FrameScriptRuntime fresh(FrameScriptProgram::compile(script("static int c = 5; c++; emit(\"c\", c);")));
        QCOMPARE(feedOnce(fresh, {}).frames.at(0).toObject().value("c").toInt(), 6);
        QCOMPARE(feedOnce(fresh, {}).frames.at(0).toObject().value("c").toInt(), 7);
        // The initializer runs only once, even when it would fail later.
        FrameScriptRuntime once(FrameScriptProgram::compile(
            script("static int s = 10 / length; emit(\"s\", s);")));
        QCOMPARE(compact(feedOnce(once, hex("01")).frames), QStringLiteral("[{\"s\":10}]"));
        QCOMPARE(compact(feedOnce(once, QByteArray()).frames), QStringLiteral("[{\"s\":10}]"));
    }

    void variableLimits()
    {
        // 256 variables in one scope; the 257th fails.
        QString decls;
        for (int i = 0; i < 256; ++i)
            decls += QStringLiteral("int v%1;").arg(i);
        QCOMPARE(runBody(decls).error, QString());
        QCOMPARE(runBody(decls + "\nint w;").error, QStringLiteral("第 3 行：变量数量超限"));
        QCOMPARE(runBody(decls + "{ int w; }").error, QString());

        // Exactly 256 statics, on every call; re-running them never counts again,
        // and other variables can still be declared.
        QString statics;
        for (int i = 0; i < 256; ++i)
            statics += QStringLiteral("{ static int s%1 = %1; s%1++; }").arg(i);
        FrameScriptRuntime runtime(FrameScriptProgram::compile(script(statics + "int local = 1; emit(\"x\", local);")));
        for (int call = 0; call < 3; ++call)
            QCOMPARE(feedOnce(runtime, {}).error, QString());
        FrameScriptRuntime tooMany(FrameScriptProgram::compile(script(statics + "\n{ static int t; }")));
        QCOMPARE(feedOnce(tooMany, {}).error, QStringLiteral("第 3 行：变量数量超限"));
    }

    void stepLimit()
    {
        QCOMPARE(runBody("int x = 0;\nfor (;;) {}").error,
                 QStringLiteral("第 3 行：执行超限，检查循环是否推进了数据或退出条件"));
        QVERIFY(runBody("while (1)\n;").error.endsWith(QStringLiteral("行：执行超限，检查循环是否推进了数据或退出条件")));

        // 200,000 steps pass; the next one fails. The block and the for cost
        // 1 each, the declaration 2, every round 7 (condition 3, the round 1,
        // the empty body 1, i++ 2) and the last condition 3: 7 + 7 n steps.
        const auto steps = [](int rounds) {
            return runBody(QStringLiteral("for (int i = 0; i < %1; i++) ;\n").arg(rounds)).error;
        };
        QCOMPARE(steps(28570), QString());
        QCOMPARE(steps(28571), QStringLiteral("第 2 行：执行超限，检查循环是否推进了数据或退出条件"));

        // Checksum bytes count as steps too.
        QCOMPARE(runBody("buffer_append(data); for (int i = 0; i < 4; i++) crc16_modbus(buffer, 0, 60000);",
                         QByteArray(60000, 'a')).error,
                 QStringLiteral("第 2 行：执行超限，检查循环是否推进了数据或退出条件"));
        // The runtime stays usable after the fault.
        FrameScriptRuntime runtime(FrameScriptProgram::compile(script("if (length == 0) for (;;) {} emit(\"ok\", 1);")));
        QVERIFY(!feedOnce(runtime, {}).error.isEmpty());
        QCOMPARE(compact(feedOnce(runtime, hex("00")).frames), QStringLiteral("[{\"ok\":1}]"));
    }

    void timeLimit()
    {
        // Each round moves 16 x 64 KiB for a handful of steps, so the 100 ms
        // clock ends the call long before the step budget would.
        QString rounds;
        for (int i = 0; i < 16; ++i)
            rounds += QStringLiteral("buffer_clear(); buffer_append(data);");
        FrameScriptRuntime runtime(FrameScriptProgram::compile(script(
            "static int n = 0;\nif (length == 0) { emit(\"n\", n); return; }\nfor (;;) { n++; " + rounds + " }")));
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(feedOnce(runtime, QByteArray(65536, 'z')).error,
                 QStringLiteral("第 4 行：执行超限，检查循环是否推进了数据或退出条件"));
        const qint64 elapsed = clock.elapsed();
        const int n = feedOnce(runtime, QByteArray()).frames.at(0).toObject().value("n").toInt();
        const int stepsPerRound = 6 + 16 * 5;
        if (qint64(n) * stepsPerRound < 200000 - 200)
            QVERIFY2(elapsed >= 100, qPrintable(QString::number(elapsed)));
        else
            QWARN(qPrintable(QStringLiteral("step budget reached first: %1 rounds in %2 ms").arg(n).arg(elapsed)));
    }

    void exampleScript()
    {
        FrameScriptRuntime runtime(FrameScriptProgram::compile(FrameScriptProgram::example()));
        QCOMPARE(compact(runtime.feed(ExampleFrame)), QStringLiteral("[{\"温度\":25,\"电压\":3.3}]"));
        QCOMPARE(runtime.bufferedBytes(), 0);
    }

    void exampleSplitAtEveryOffset()
    {
        // Valid frames mixed with noise, a broken checksum, a false head and a
        // frame cut at the end.
        const QByteArray stream = hex("00AA") + ExampleFrame + hex("AA55C409E40CBD0D") + ExampleFrame
            + hex("55AA55") + hex("AA559CFF1027D10D") + hex("FF") + ExampleFrame + hex("AA55C4");
        FrameScriptRuntime whole(FrameScriptProgram::compile(FrameScriptProgram::example()));
        const QJsonArray expected = whole.feed(stream);
        QCOMPARE(expected.size(), 4);
        QCOMPARE(compact(QJsonArray{expected.at(2)}), QStringLiteral("[{\"温度\":-1,\"电压\":10}]"));
        const auto program = FrameScriptProgram::compile(FrameScriptProgram::example());
        for (int cut = 0; cut <= stream.size(); ++cut) {
            FrameScriptRuntime runtime(program);
            QJsonArray frames = runtime.feed(stream.left(cut));
            for (const QJsonValue& v : runtime.feed(stream.mid(cut)))
                frames.append(v);
            QCOMPARE(frames, expected);
            QCOMPARE(runtime.bufferedBytes(), whole.bufferedBytes());
        }
        FrameScriptRuntime bytewise(program);
        QJsonArray frames;
        for (char c : stream) {
            for (const QJsonValue& v : bytewise.feed(QByteArray(1, c)))
                frames.append(v);
        }
        QCOMPARE(frames, expected);
    }

    void nullProgram()
    {
        try {
            FrameScriptRuntime runtime(nullptr);
            QFAIL("no error");
        } catch (const ScriptError& e) {
            QCOMPARE(e.line, 0);
            QCOMPARE(e.display(), QStringLiteral("脚本未编译"));
        }
    }

    void sharedProgram()
    {
        // One program, two runtimes: buffers and statics are their own.
        const auto program = FrameScriptProgram::compile(
            script("static int calls = 0; calls++; buffer_append(data); emit(\"calls\", calls);"));
        FrameScriptRuntime a(program);
        FrameScriptRuntime b(program);
        a.feed(hex("01"));
        a.feed(hex("0203"));
        QCOMPARE(compact(b.feed(hex("04"))), QStringLiteral("[{\"calls\":1}]"));
        QCOMPARE(a.bufferedBytes(), 3);
        QCOMPARE(b.bufferedBytes(), 1);
    }
};

QTEST_GUILESS_MAIN(FrameScriptRuntimeTest)
#include "tst_frame_script_runtime.moc"
