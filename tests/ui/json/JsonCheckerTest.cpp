#include "ui/json/JsonAssistance.h"

#include <QTest>

using vn::analyzeJson;

namespace {

const QString Hint = QStringLiteral("粘贴 JSON 后自动校验并展开；支持对象、数组及单个值。");
const QString TooLarge = QStringLiteral("输入超过 1 MB，请缩小内容后重试。");
const QString Valid = QStringLiteral("JSON 语法正确；已更新格式化结果与 cJSON 示例。");
const QString Limit = QStringLiteral(
    "JSON 语法正确；代码生成支持最多 512 个值、32 层嵌套，且不支持字符串中的空字符。");

QString at(int line, int column, const QString& message)
{
    return QStringLiteral("第 %1 行，第 %2 列：%3").arg(line).arg(column).arg(message);
}

QString nested(int depth, const QString& inner = {})
{
    return QString(depth, u'[') + inner + QString(depth, u']');
}

} // namespace

class JsonCheckerTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void faults_data();
    void faults();
    void sizeLimit_data();
    void sizeLimit();
    void values_data();
    void values();
    void nulCharacterRefusesOnlyTheCode();
    void formsReadBackInTheSameKeyOrder();
};

void JsonCheckerTest::faults_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("status");
    QTest::addColumn<int>("position");

    QTest::newRow("empty") << QString() << Hint << -1;
    QTest::newRow("spaces and line ends") << QStringLiteral(" \n\t\r\n ") << Hint << -1;
    QTest::newRow("non-ASCII spaces") << QStringLiteral("\u3000\u00a0\u2003") << Hint << -1;

    QTest::newRow("trailing comma in object")
        << QStringLiteral(R"({"a":1,})") << at(1, 8, "最后一个成员后不能加逗号") << 7;
    QTest::newRow("trailing comma in array")
        << QStringLiteral("[1,]") << at(1, 4, "最后一个成员后不能加逗号") << 3;
    QTest::newRow("missing array comma")
        << QStringLiteral("[1 2]") << at(1, 4, "数组元素间缺少逗号，或缺少 ]") << 3;
    QTest::newRow("unclosed array")
        << QStringLiteral("[1") << at(1, 3, "数组元素间缺少逗号，或缺少 ]") << 2;
    QTest::newRow("missing member comma")
        << QStringLiteral(R"({"a":1 "b":2})") << at(1, 8, "对象成员间缺少逗号，或缺少 }") << 7;
    QTest::newRow("missing colon")
        << QStringLiteral(R"({"a" 1})") << at(1, 6, "字段名后缺少冒号 :") << 5;
    QTest::newRow("single-quoted key")
        << QStringLiteral("{'a':1}") << at(1, 2, "字段名和字符串必须使用双引号") << 1;
    QTest::newRow("object ends after comma")
        << QStringLiteral("{\"a\":1,") << at(1, 8, "字段名和字符串必须使用双引号") << 7;
    QTest::newRow("raw line feed in string")
        << QStringLiteral("\"a\nb\"") << at(2, 1, "字符串中不能直接出现换行或控制字符，请使用转义") << 3;
    QTest::newRow("raw tab in string")
        << QStringLiteral("\"a\tb\"") << at(1, 4, "字符串中不能直接出现换行或控制字符，请使用转义") << 3;
    QTest::newRow("unterminated string")
        << QStringLiteral("\"abc") << at(1, 5, "字符串缺少结束双引号") << 4;
    QTest::newRow("escape at end")
        << QStringLiteral("\"ab\\") << at(1, 5, "字符串转义未结束") << 4;
    QTest::newRow("unknown escape")
        << QStringLiteral(R"("\x")") << at(1, 4, "不支持的字符串转义") << 3;
    QTest::newRow("short unicode escape")
        << QStringLiteral(R"("\u12G4")") << at(1, 6, "Unicode 转义需要四位十六进制数字") << 5;
    QTest::newRow("unicode escape at end")
        << QStringLiteral(R"("\u12)") << at(1, 6, "Unicode 转义需要四位十六进制数字") << 5;
    QTest::newRow("literal with trailing letter")
        << QStringLiteral("truex") << at(1, 5, "JSON 结束后存在多余内容") << 4;
    QTest::newRow("leading zero")
        << QStringLiteral("01") << at(1, 2, "JSON 结束后存在多余内容") << 1;
    QTest::newRow("two values")
        << QStringLiteral("{} []") << at(1, 4, "JSON 结束后存在多余内容") << 3;
    QTest::newRow("lone minus") << QStringLiteral("-") << at(1, 2, "数字格式不正确") << 1;
    QTest::newRow("minus letter") << QStringLiteral("-a") << at(1, 2, "数字格式不正确") << 1;
    QTest::newRow("point without digits") << QStringLiteral("1.") << at(1, 3, "小数点后需要数字") << 2;
    QTest::newRow("point then letter") << QStringLiteral("1.e5") << at(1, 3, "小数点后需要数字") << 2;
    QTest::newRow("exponent without digits")
        << QStringLiteral("1e+") << at(1, 4, "指数部分需要数字") << 3;
    QTest::newRow("missing value") << QStringLiteral("[") << at(1, 2, "缺少 JSON 值") << 1;
    QTest::newRow("missing member value")
        << QStringLiteral(R"({"a": })") << at(1, 7, "值不合法；字符串使用双引号，布尔值使用 true 或 false") << 6;
    QTest::newRow("bare word")
        << QStringLiteral("yes") << at(1, 1, "值不合法；字符串使用双引号，布尔值使用 true 或 false") << 0;
    QTest::newRow("form feed is no white space")
        << QStringLiteral("\f1") << at(1, 1, "值不合法；字符串使用双引号，布尔值使用 true 或 false") << 0;
    QTest::newRow("fault on second line")
        << QStringLiteral("[\n1 2]") << at(2, 3, "数组元素间缺少逗号，或缺少 ]") << 4;
    QTest::newRow("carriage return stays with its line")
        << QStringLiteral("{\r\n\"a\" 1}") << at(2, 5, "字段名后缺少冒号 :") << 7;
    QTest::newRow("surrogate pair counts two")
        << QStringLiteral("\"\U0001F600\" x") << at(1, 6, "JSON 结束后存在多余内容") << 5;
    QTest::newRow("130 nested arrays")
        << nested(130) << at(1, 130, "对象或数组嵌套超过 128 层") << 129;
    QTest::newRow("129 nested arrays around a number")
        << nested(129, "1") << at(1, 130, "对象或数组嵌套超过 128 层") << 129;
    QTest::newRow("number out of range (second pass)")
        << QStringLiteral("1e400") << at(1, 6, "数字格式不正确") << 5;
    QTest::newRow("negative number out of range (second pass)")
        << QStringLiteral("[-1e400]") << at(1, 8, "数字格式不正确") << 7;
}

void JsonCheckerTest::faults()
{
    QFETCH(QString, text);
    QFETCH(QString, status);
    QFETCH(int, position);
    const vn::JsonAssistance result = analyzeJson(text);
    QCOMPARE(result.status, status);
    QCOMPARE(result.errorPosition, position);
    QVERIFY(!result.ok);
    QVERIFY(result.formatted.isEmpty());
    QVERIFY(result.compact.isEmpty());
    QVERIFY(result.parseCode.isEmpty());
    QVERIFY(result.buildCode.isEmpty());
}

void JsonCheckerTest::sizeLimit_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("ok");

    // A string literal: two quotes around n - 2 letters is exactly n UTF-8 bytes.
    const auto ofBytes = [](qsizetype n) { return u'"' + QString(n - 2, u'a') + u'"'; };
    QTest::newRow("1,048,576 bytes") << ofBytes(1048576) << true;
    QTest::newRow("1,048,577 bytes") << ofBytes(1048577) << false;
    QTest::newRow("350,000 Chinese characters") << (u'"' + QString(350000, u'中') + u'"') << false;
    QTest::newRow("1,048,577 bytes of invalid text") << QString(1048577, u'x') << false;
}

void JsonCheckerTest::sizeLimit()
{
    QFETCH(QString, text);
    QFETCH(bool, ok);
    const vn::JsonAssistance result = analyzeJson(text);
    QCOMPARE(result.ok, ok);
    QCOMPARE(result.errorPosition, -1);
    if (ok) {
        QCOMPARE(result.compact, text);
        QVERIFY(!result.parseCode.isEmpty());
    } else {
        QCOMPARE(result.status, TooLarge);
        QVERIFY(result.formatted.isEmpty());
    }
}

void JsonCheckerTest::values_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("formatted");
    QTest::addColumn<QString>("compact");

    QTest::newRow("number") << QStringLiteral(" 42 ") << QStringLiteral("42") << QStringLiteral("42");
    QTest::newRow("string") << QStringLiteral("\"温度\"") << QStringLiteral("\"温度\"")
                            << QStringLiteral("\"温度\"");
    QTest::newRow("null") << QStringLiteral("null") << QStringLiteral("null") << QStringLiteral("null");
    QTest::newRow("object in key order")
        << QStringLiteral("{\"b\":1,\r\n \"a\":[true,null]}")
        << QStringLiteral("{\n    \"a\": [\n        true,\n        null\n    ],\n    \"b\": 1\n}\n")
        << QStringLiteral(R"({"a":[true,null],"b":1})");
    QTest::newRow("empty array") << QStringLiteral("[ ]") << QStringLiteral("[\n]\n")
                                 << QStringLiteral("[]");
    QTest::newRow("129 nested arrays")
        << nested(129) << QString() << nested(129);
    QTest::newRow("escapes")
        << QStringLiteral(R"(["\"\\\/\b\f\n\r\t\u00e9"])") << QString()
        << QStringLiteral(R"(["\"\\/\b\f\n\r\té"])");
}

void JsonCheckerTest::values()
{
    QFETCH(QString, text);
    QFETCH(QString, formatted);
    QFETCH(QString, compact);
    const vn::JsonAssistance result = analyzeJson(text);
    QVERIFY2(result.ok, qPrintable(result.status));
    QCOMPARE(result.errorPosition, -1);
    QCOMPARE(result.compact, compact);
    if (!formatted.isEmpty())
        QCOMPARE(result.formatted, formatted);
    const bool generated = !result.parseCode.isEmpty();
    QCOMPARE(result.status, generated ? Valid : Limit);
    QCOMPARE(generated, !result.buildCode.isEmpty());
}

void JsonCheckerTest::nulCharacterRefusesOnlyTheCode()
{
    for (const QString& text : {QStringLiteral(R"("a\u0000b")"), QStringLiteral(R"({"k\u0000":1})")}) {
        const vn::JsonAssistance result = analyzeJson(text);
        QVERIFY(result.ok);
        QCOMPARE(result.status, Limit);
        QCOMPARE(result.errorPosition, -1);
        QVERIFY(!result.formatted.isEmpty());
        QVERIFY(result.parseCode.isEmpty());
        QVERIFY(result.buildCode.isEmpty());
    }
}

// Escaped keys beside keys outside the BMP once came back in another order
// when the compact or indented form was checked again.
void JsonCheckerTest::formsReadBackInTheSameKeyOrder()
{
    const QString text = QString::fromUtf8(
        "{\"\xa9\":5,\"\":[],\"\xb9\xb9\":[],\"\xf0\xb9\xb9\xb9\\\"\":[],\"\xb9\\n\":\"\"}");
    const vn::JsonAssistance result = analyzeJson(text);
    QVERIFY2(result.ok, qPrintable(result.status));
    QCOMPARE(analyzeJson(result.compact).compact, result.compact);
    QCOMPARE(analyzeJson(result.formatted).compact, result.compact);
}

QTEST_GUILESS_MAIN(JsonCheckerTest)
#include "JsonCheckerTest.moc"
