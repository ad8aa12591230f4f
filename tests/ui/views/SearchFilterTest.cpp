#include "ui/views/SearchFilter.h"

#include <QJsonObject>
#include <QTest>

using vn::SearchFilter;

namespace {

SearchFilter make(const QString& text, bool logical = false, bool regex = false,
                  bool wholeWord = false, bool caseSensitive = false)
{
    SearchFilter f;
    f.text = text;
    f.logical = logical;
    f.regex = regex;
    f.whole_word = wholeWord;
    f.case_sensitive = caseSensitive;
    f.compile();
    return f;
}

QList<QStringList> terms(const SearchFilter& f)
{
    QList<QStringList> out;
    for (const auto& group : f.groups) {
        QStringList g;
        for (const auto& e : group)
            g.append(e.pattern());
        out.append(g);
    }
    return out;
}

} // namespace

class SearchFilterTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void defaultMatchesEverything()
    {
        SearchFilter f;
        QVERIFY(f.matches(QString()));
        QVERIFY(f.matches(QStringLiteral("anything")));
        f.compile();
        QVERIFY(f.error.isEmpty());
        QVERIFY(f.groups.isEmpty());
    }

    void splitting_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QList<QStringList>>("groups");
        using G = QList<QStringList>;
        QTest::newRow("and binds tighter") << QStringLiteral("温度 && 报警 || 故障")
                                           << G{{"温度", "报警"}, {"故障"}};
        QTest::newRow("single bar is text") << QStringLiteral("a | b") << G{{"a | b"}};
        QTest::newRow("single ampersand is text") << QStringLiteral("a & b") << G{{"a & b"}};
        QTest::newRow("quoted operator") << QStringLiteral("\"A||B\" && c") << G{{"A||B", "c"}};
        QTest::newRow("escaped quote") << QStringLiteral("say \\\"hi\\\"") << G{{"say \"hi\""}};
        QTest::newRow("backslash kept") << QStringLiteral("\\d+ && ok") << G{{"\\d+", "ok"}};
        QTest::newRow("trimmed, inner spaces kept")
            << QStringLiteral("  温度 报警  && x") << G{{"温度 报警", "x"}};
        QTest::newRow("three groups") << QStringLiteral("a && b || c || d && e")
                                      << G{{"a", "b"}, {"c"}, {"d", "e"}};
    }
    void splitting()
    {
        QFETCH(QString, text);
        QFETCH(QList<QStringList>, groups);
        // Regex mode shows the terms as written.
        const SearchFilter f = make(text, true, true);
        QVERIFY2(f.error.isEmpty(), qPrintable(f.error));
        QCOMPARE(terms(f), groups);
    }

    void errors_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("regex");
        QTest::addColumn<QString>("error");
        const QString operand = QStringLiteral("逻辑运算符两侧需要填写内容");
        QTest::newRow("trailing or") << QStringLiteral("a ||") << false << operand;
        QTest::newRow("leading or") << QStringLiteral("|| a") << false << operand;
        QTest::newRow("two in a row") << QStringLiteral("a && && b") << false << operand;
        QTest::newRow("trailing and, spaces") << QStringLiteral("a &&   ") << false << operand;
        QTest::newRow("open quote") << QStringLiteral("\"a && b") << false
                                    << QStringLiteral("双引号没有闭合");
    }
    void errors()
    {
        QFETCH(QString, text);
        QFETCH(bool, regex);
        QFETCH(QString, error);
        const SearchFilter f = make(text, true, regex);
        QCOMPARE(f.error, error);
        QVERIFY(f.groups.isEmpty());
        QVERIFY(f.matches(QStringLiteral("nothing to do with it")));
    }

    void invalidRegex()
    {
        const SearchFilter f = make(QStringLiteral("("), false, true);
        QVERIFY(f.error.startsWith(QStringLiteral("正则表达式无效：")));
        QVERIFY(f.error.size() > QStringLiteral("正则表达式无效：").size());
        QVERIFY(f.groups.isEmpty());
        QVERIFY(f.matches(QStringLiteral("x")));
        // A later bad term drops the groups already built.
        const SearchFilter g = make(QStringLiteral("ok || ("), true, true);
        QVERIFY(!g.error.isEmpty());
        QVERIFY(g.groups.isEmpty());
        const SearchFilter literal = make(QStringLiteral("("));
        QVERIFY(literal.error.isEmpty());
        QVERIFY(literal.matches(QStringLiteral("f(x)")));
        QVERIFY(!literal.matches(QStringLiteral("fx")));
    }

    void matching_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("logical");
        QTest::addColumn<bool>("regex");
        QTest::addColumn<bool>("wholeWord");
        QTest::addColumn<bool>("caseSensitive");
        QTest::addColumn<QString>("line");
        QTest::addColumn<bool>("match");
        QTest::newRow("literal and") << "a && b" << false << false << false << false << "x a && b y" << true;
        QTest::newRow("literal and, not both") << "a && b" << false << false << false << false << "a b" << false;
        QTest::newRow("and both") << "a && b" << true << false << false << false << "b then a" << true;
        QTest::newRow("and one") << "a && b" << true << false << false << false << "only a" << false;
        QTest::newRow("or either") << "a || b" << true << false << false << false << "just b" << true;
        QTest::newRow("or none") << "a || b" << true << false << false << false << "xyz" << false;
        QTest::newRow("and-or: c") << "a && b || c" << true << false << false << false << "c" << true;
        QTest::newRow("and-or: a b") << "a && b || c" << true << false << false << false << "ab" << true;
        QTest::newRow("and-or: a") << "a && b || c" << true << false << false << false << "a" << false;
        QTest::newRow("quoted or") << "\"A||B\"" << true << false << false << true << "A||B" << true;
        QTest::newRow("quoted or, parts") << "\"A||B\"" << true << false << false << true << "A" << false;
        QTest::newRow("regex digits") << "\\d+ && ok" << true << true << false << false << "42 ok" << true;
        QTest::newRow("regex digits none") << "\\d+ && ok" << true << true << false << false << "ok" << false;
        QTest::newRow("trailing backslash") << "a\\" << true << false << false << false << "xa\\y" << true;
        QTest::newRow("literal dot") << "a.c" << false << false << false << false << "abc" << false;
        QTest::newRow("case folded") << "Error" << false << false << false << false << "ERROR 1" << true;
        QTest::newRow("case kept") << "Error" << false << false << false << true << "ERROR 1" << false;
        QTest::newRow("cjk word inside") << "温度" << false << false << true << false << "温度计" << false;
        QTest::newRow("cjk word alone") << "温度" << false << false << true << false << "当前 温度 25" << true;
        QTest::newRow("cjk word after cjk") << "温度" << false << false << true << false << "当前温度 25" << false;
        QTest::newRow("underscore is word") << "id" << false << false << true << false << "id_1" << false;
        QTest::newRow("digit is word") << "id" << false << false << true << false << "id1" << false;
        QTest::newRow("word with punctuation") << "id" << false << false << true << false << "(id)=1" << true;
        QTest::newRow("word regex group") << "a|b" << false << true << true << false << "xb" << false;
        QTest::newRow("word regex alt") << "a|b" << false << true << true << false << "x b" << true;
        QTest::newRow("unicode \\w") << "^\\w+$" << false << true << false << false << "温度" << true;
    }
    void matching()
    {
        QFETCH(QString, text);
        QFETCH(bool, logical);
        QFETCH(bool, regex);
        QFETCH(bool, wholeWord);
        QFETCH(bool, caseSensitive);
        QFETCH(QString, line);
        QFETCH(bool, match);
        const SearchFilter f = make(text, logical, regex, wholeWord, caseSensitive);
        QVERIFY2(f.error.isEmpty(), qPrintable(f.error));
        QCOMPARE(f.matches(line), match);
    }

    void jsonRoundTrip()
    {
        SearchFilter f = make(QStringLiteral("温度 && 报警"), true, false, true, true);
        const QJsonObject json = f.settings();
        QCOMPARE(json.size(), 5);
        QCOMPARE(json.value("text").toString(), QStringLiteral("温度 && 报警"));
        QCOMPARE(json.value("case_sensitive").toBool(), true);
        QCOMPARE(json.value("whole_word").toBool(), true);
        QCOMPARE(json.value("regex").toBool(), false);
        QCOMPARE(json.value("logical").toBool(), true);
        SearchFilter back;
        back.restore(json);
        QCOMPARE(back.settings(), json);
        QCOMPARE(back.groups.size(), 1);
        QCOMPARE(back.groups.first().size(), 2);
        QCOMPARE(SearchFilter().settings().size(), 5);
    }

    void restoreDefaults()
    {
        SearchFilter f = make(QStringLiteral("x"), true, true, true, true);
        f.restore(QJsonObject{{"text", "abc"}});
        QCOMPARE(f.text, QStringLiteral("abc"));
        QVERIFY(!f.case_sensitive && !f.whole_word && !f.regex && !f.logical);
        f.restore(QJsonObject{{"text", 5}, {"regex", "true"}, {"logical", 1}, {"other", true}});
        QCOMPARE(f.text, QString());
        QVERIFY(!f.regex && !f.logical);
        QVERIFY(f.groups.isEmpty() && f.error.isEmpty());
    }

    void copiesCarryCompiledGroups()
    {
        const SearchFilter f = make(QStringLiteral("a && b"), true);
        const SearchFilter copy = f;
        QVERIFY(copy.matches(QStringLiteral("ab")));
        QVERIFY(!copy.matches(QStringLiteral("a")));
    }
};

QTEST_APPLESS_MAIN(SearchFilterTest)
#include "SearchFilterTest.moc"
