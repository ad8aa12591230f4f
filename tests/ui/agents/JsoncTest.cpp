#include "ui/agents/Jsonc.h"

#include "AgentFixtures.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QtTest>

using namespace vn;
using vn::test::failure;


class JsoncTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void tokens();
    void scannerAgreesWithAlternation_data();
    void scannerAgreesWithAlternation();
    void scannerAgreesOnRandomText();
    void normalized_data();
    void normalized();
    void parse_data();
    void parse();
    void parseFailures_data();
    void parseFailures();
    void setMember_data();
    void setMember();
    void setMemberFailures_data();
    void setMemberFailures();
    void setMemberAtOffset();
};

namespace {

// The token alternation the scanner must agree with.
QList<JsonToken> regexTokens(const QString& text)
{
    static const QRegularExpression re(QStringLiteral(
        R"(\s+|//[^\r\n]*|/\*[\s\S]*?\*/|"(?:\\.|[^"\\])*"|'(?:\\.|[^'\\])*'|[A-Za-z_$][A-Za-z0-9_$-]*|[^\s])"));
    QList<JsonToken> tokens;
    for (auto it = re.globalMatch(text); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        const QString s = m.captured();
        if (s.trimmed().isEmpty() || s.startsWith(QLatin1String("//")) || s.startsWith(QLatin1String("/*")))
            continue;
        tokens.append({qint32(m.capturedStart()), qint32(m.capturedEnd()), s});
    }
    return tokens;
}

} // namespace

void JsoncTest::tokens()
{
    const QList<JsonToken> list = jsonTokens(QStringLiteral("{ a: 1.5e-3, // c\n 'x' /* y */ }"));
    QStringList texts;
    for (const JsonToken& t : list)
        texts << t.text;
    QCOMPARE(texts, (QStringList{"{", "a", ":", "1", ".", "5", "e-3", ",", "'x'", "}"}));
    QCOMPARE(list.at(1).start, 2);
    QCOMPARE(list.at(1).end, 3);
    QCOMPARE(list.last().start, 31);
    QCOMPARE(list.last().end, 32);
}

void JsoncTest::scannerAgreesWithAlternation_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("plain") << QStringLiteral(R"({"a": [1, 2.5, true, null], "b": {"c": "d"}})");
    QTest::newRow("comments") << QStringLiteral("// top\n{ /* in */ a: 1 // tail\r\n}");
    QTest::newRow("unterminated block comment") << QStringLiteral("{ /* open\n a: 1 }");
    QTest::newRow("unterminated strings") << QStringLiteral("{\"a: 'b }");
    QTest::newRow("escaped line feed ends no string") << QStringLiteral("{\"a\\\nb\": 1}");
    QTest::newRow("escapes") << QStringLiteral(R"({'it\'s': "q\"uote", "\\": 1})");
    QTest::newRow("words") << QStringLiteral("{$a-b_c: x-1, _: -}");
    QTest::newRow("unicode") << QStringLiteral(u"{\"键\": \u00a0\"值\", 😀: \u3000 1}");
    QTest::newRow("empty") << QString();
    QTest::newRow("only space") << QStringLiteral(" \t\r\n\v\f");
    QTest::newRow("slash at end") << QStringLiteral("{}/");
}

void JsoncTest::scannerAgreesWithAlternation()
{
    QFETCH(QString, text);
    const QList<JsonToken> mine = jsonTokens(text);
    const QList<JsonToken> theirs = regexTokens(text);
    QCOMPARE(mine.size(), theirs.size());
    for (qsizetype i = 0; i < mine.size(); ++i) {
        QCOMPARE(mine[i].start, theirs[i].start);
        QCOMPARE(mine[i].end, theirs[i].end);
        QCOMPARE(mine[i].text, theirs[i].text);
    }
}

void JsoncTest::scannerAgreesOnRandomText()
{
    const QString alphabet = QStringLiteral(u"{}[]:,\"'\\/*\n\r \ta1_$-.é\u00a0");
    QRandomGenerator random(20261210);
    for (int round = 0; round < 2000; ++round) {
        QString text;
        const int length = int(random.bounded(40));
        for (int i = 0; i < length; ++i)
            text += alphabet.at(int(random.bounded(alphabet.size())));
        const QList<JsonToken> mine = jsonTokens(text);
        const QList<JsonToken> theirs = regexTokens(text);
        QVERIFY2(mine.size() == theirs.size(), qPrintable(text));
        for (qsizetype i = 0; i < mine.size(); ++i)
            QVERIFY2(mine[i].start == theirs[i].start && mine[i].text == theirs[i].text, qPrintable(text));
    }
}

void JsoncTest::normalized_data()
{
    QTest::addColumn<QString>("token");
    QTest::addColumn<bool>("key");
    QTest::addColumn<QString>("expected");
    QTest::newRow("single quoted") << R"('it\'s')" << false << R"("it's")";
    QTest::newRow("single with double quote") << R"('say "hi"')" << false << R"("say \"hi\"")";
    QTest::newRow("single with escaped double") << R"('a\"b')" << false << R"("a\"b")";
    QTest::newRow("bare key") << "mcpServers" << true << R"("mcpServers")";
    QTest::newRow("bare word value") << "true" << false << "true";
    QTest::newRow("double quoted key") << R"("a")" << true << R"("a")";
    QTest::newRow("number-like key") << "1" << true << R"("1")";
    QTest::newRow("brace is no key") << "}" << true << "}";
    QTest::newRow("bracket is no key") << "]" << true << "]";
}

void JsoncTest::normalized()
{
    QFETCH(QString, token);
    QFETCH(bool, key);
    QFETCH(QString, expected);
    QCOMPARE(normalizedToken(token, key), expected);
}

void JsoncTest::parse_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("strict") << R"({"a": 1, "b": [true, null]})" << QByteArray(R"({"a":1,"b":[true,null]})");
    QTest::newRow("jsonc forms") << "{\n  // servers\n  a: 'x',\n  /* block */ 'b': [1, 2,],\n  3: 2.5e1,\n}"
                                 << QByteArray(R"({"3":25,"a":"x","b":[1,2]})");
    QTest::newRow("escaped apostrophe") << R"({'k': 'it\'s'})" << QByteArray(R"({"k":"it's"})");
    QTest::newRow("double quote inside single") << R"({'k': 'say "hi"'})" << QByteArray(R"({"k":"say \"hi\""})");
    QTest::newRow("trailing comma last") << "{\"a\": 1},"
                                         << QByteArray(R"({"a":1})");
}

void JsoncTest::parse()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, expected);
    QCOMPARE(QJsonDocument(parseJsonc(text)).toJson(QJsonDocument::Compact), expected);
}

void JsoncTest::parseFailures_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("message");
    const QString prefix = QStringLiteral("现有 JSON/JSONC 配置无效，未修改文件：");
    QTest::newRow("empty") << QString() << prefix + QJsonParseError{0, QJsonParseError::IllegalValue}.errorString();
    QTest::newRow("array") << "[1]" << prefix + QJsonParseError().errorString();
    QTest::newRow("garbage") << "{a: }" << prefix + QJsonParseError{0, QJsonParseError::MissingObject}.errorString();
    // A comma with no value before it is not a trailing comma.
    QTest::newRow("lone comma in object") << "{,}" << QString();
    QTest::newRow("lone comma in array") << "{\"a\": [,]}" << QString();
    QTest::newRow("two commas at the end") << "{\"a\": 1,,}" << QString();
    QTest::newRow("object as a key") << "{a: {}: {}}" << QString();
    QTest::newRow("array as a key") << "{a: [1]: 2}" << QString();
    // An unclosed quote must not join the tokens after it into one string.
    const QString unterminated = prefix + QJsonParseError{0, QJsonParseError::UnterminatedString}.errorString();
    QTest::newRow("quote cut by backslash-newline")
        << QStringLiteral("{a:{\"]\\\ners: {}}, \"url\": \"x\"}") << unterminated;
    QTest::newRow("unclosed apostrophe") << "{a: '}" << unterminated;
    QTest::newRow("unclosed quote at the end") << "{a: 1, b: \"" << unterminated;
}

void JsoncTest::parseFailures()
{
    QFETCH(QString, text);
    QFETCH(QString, message);
    const QString got = failure([&] { parseJsonc(text); });
    QVERIFY2(got.startsWith(QStringLiteral("现有 JSON/JSONC 配置无效，未修改文件：")), qPrintable(got));
    if (!message.isEmpty())
        QCOMPARE(got, message);
}

void JsoncTest::setMember_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("path");
    QTest::addColumn<QString>("expected");
    const QString v = QStringLiteral(R"({"url":"u"})");
    QTest::newRow("empty object, one key") << "{}" << QStringList{"varnelle"} << "{\n  \"varnelle\": " + v + "\n}";
    QTest::newRow("empty object, two keys") << "{}" << QStringList{"mcpServers", "varnelle"}
                                            << "{\n  \"mcpServers\": {\"varnelle\": " + v + "}\n}";
    QTest::newRow("three keys wrap innermost first") << "{}" << QStringList{"mcp", "servers", "varnelle"}
                                                     << "{\n  \"mcp\": {\"servers\": {\"varnelle\": " + v + "}}\n}";
    QTest::newRow("one-line object") << R"({"a": 1})" << QStringList{"varnelle"} << "{\"a\": 1,\n  \"varnelle\": " + v + "\n}";
    QTest::newRow("brace on own line") << "{\n  \"a\": 1\n}\n" << QStringList{"varnelle"}
                                       << "{\n  \"a\": 1\n,\n  \"varnelle\": " + v + "\n}\n";
    QTest::newRow("trailing comma reused") << "{\n  \"a\": 1,\n}" << QStringList{"varnelle"}
                                           << "{\n  \"a\": 1,\n\n  \"varnelle\": " + v + "\n}";
    QTest::newRow("comment before brace stays") << "{\"a\": 1 // last\n}" << QStringList{"varnelle"}
                                                << "{\"a\": 1 // last\n,\n  \"varnelle\": " + v + "\n}";
    QTest::newRow("existing value replaced, comments kept")
        << "{\n  // servers\n  \"varnelle\": {\"url\": \"old\"} // ours\n  , \"b\": 2\n}" << QStringList{"varnelle"}
        << "{\n  // servers\n  \"varnelle\": " + v + " // ours\n  , \"b\": 2\n}";
    QTest::newRow("nested insert") << "{\"mcpServers\": {\"other\": {}}, \"x\": 1}" << QStringList{"mcpServers", "varnelle"}
                                   << "{\"mcpServers\": {\"other\": {},\n  \"varnelle\": " + v + "\n}, \"x\": 1}";
    QTest::newRow("nested empty object") << "{\"mcpServers\": {}}" << QStringList{"mcpServers", "varnelle"}
                                         << "{\"mcpServers\": {\n  \"varnelle\": " + v + "\n}}";
    QTest::newRow("single-quoted key selects member") << "{'mcpServers': {varnelle: 1}}" << QStringList{"mcpServers", "varnelle"}
                                                      << "{'mcpServers': {varnelle: " + v + "}}";
    QTest::newRow("value with inner comment replaced whole") << "{\"a\": [1, /* two */ 2], \"b\": 0}" << QStringList{"a"}
                                                             << "{\"a\": " + v + ", \"b\": 0}";
    QTest::newRow("text after the object untouched") << "{} trailing, {" << QStringList{"k"}
                                                     << "{\n  \"k\": " + v + "\n} trailing, {";
}

void JsoncTest::setMember()
{
    QFETCH(QString, text);
    QFETCH(QStringList, path);
    QFETCH(QString, expected);
    QCOMPARE(setJsonMember(text, 0, path, QStringLiteral(R"({"url":"u"})")), expected);
}

void JsoncTest::setMemberFailures_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("path");
    QTest::addColumn<QString>("message");
    QTest::newRow("no tokens") << "  // nothing" << QStringList{"a"} << "配置节点需要 JSON 对象";
    QTest::newRow("array root") << "[]" << QStringList{"a"} << "配置节点需要 JSON 对象";
    QTest::newRow("nested string") << R"({"a": "x"})" << QStringList{"a", "b"} << "配置节点需要 JSON 对象";
    QTest::newRow("nested number") << R"({"a": 5})" << QStringList{"a", "b"} << "配置节点需要 JSON 对象";
    QTest::newRow("nested array") << R"({"a": []})" << QStringList{"a", "b"} << "配置节点需要 JSON 对象";
    QTest::newRow("duplicate in two quotings") << R"({"a": 1, 'a': 2})" << QStringList{"z"} << "配置对象包含重复字段：a";
    QTest::newRow("unclosed key quote") << R"({": 1})" << QStringList{"a"} << "JSON 配置语法无效";
    QTest::newRow("no colon") << R"({"a" 1})" << QStringList{"a"} << "JSON 配置语法无效";
    QTest::newRow("nothing after colon") << R"({"a":)" << QStringList{"a"} << "JSON 配置语法无效";
    QTest::newRow("ends after value") << R"({"a": 1)" << QStringList{"a"} << "JSON 配置对象未闭合";
    QTest::newRow("only brace") << "{" << QStringList{"a"} << "JSON 配置对象未闭合";
    QTest::newRow("ends after comma") << R"({"a": 1,)" << QStringList{"a"} << "JSON 配置对象未闭合";
}

void JsoncTest::setMemberFailures()
{
    QFETCH(QString, text);
    QFETCH(QStringList, path);
    QFETCH(QString, message);
    QCOMPARE(failure([&] { setJsonMember(text, 0, path, QStringLiteral("1")); }), message);
}

void JsoncTest::setMemberAtOffset()
{
    const QString text = QStringLiteral("xx{\"a\": {}}");
    QCOMPARE(setJsonMember(text, 2, {QStringLiteral("a"), QStringLiteral("b")}, QStringLiteral("1")),
             QStringLiteral("xx{\"a\": {\n  \"b\": 1\n}}"));
}

QTEST_GUILESS_MAIN(JsoncTest)
#include "JsoncTest.moc"
