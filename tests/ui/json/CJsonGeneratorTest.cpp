#include "ui/json/Generator.h"
#include "ui/json/JsonAssistance.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString Sample = QStringLiteral(
    R"({"device":"sensor","temperature":25.5,"online":true,"samples":[1,2,3],"config":{"period_ms":20}})");
const QString Limit = QStringLiteral(
    "JSON 语法正确；代码生成支持最多 512 个值、32 层嵌套，且不支持字符串中的空字符。");

QString compactText(const QJsonValue& value)
{
    return QString::fromUtf8(vn::jsonBytes(value, QJsonDocument::Compact));
}

QJsonValue parsed(const QString& text)
{
    return QJsonDocument::fromJson('[' + text.toUtf8() + ']').array().at(0);
}

// The identifiers of the child blocks, in order of appearance.
QStringList identifiers(const QString& parseCode)
{
    static const QRegularExpression declaration(QStringLiteral(R"(const cJSON \*(\w+) = )"));
    QStringList names;
    for (auto it = declaration.globalMatch(parseCode); it.hasNext();)
        names << it.next().captured(1);
    return names;
}

// The same structure with the first leaf (or an empty root) of another type, which
// the generated parser must refuse.
QJsonValue mutated(const QJsonValue& value)
{
    if (value.isObject() && !value.toObject().isEmpty()) {
        QJsonObject object = value.toObject();
        const QString key = object.begin().key();
        object.insert(key, mutated(object.value(key)));
        return object;
    }
    if (value.isArray() && !value.toArray().isEmpty()) {
        QJsonArray array = value.toArray();
        array.replace(0, mutated(array.at(0)));
        return array;
    }
    if (value.isObject())
        return QJsonArray();
    if (value.isArray())
        return QJsonObject();
    if (value.isDouble())
        return QStringLiteral("7");
    return 7;
}

// Random samples within the limits, built from the awkward parts of C: quotes,
// backslashes, non-ASCII text, C keywords, question-mark runs, control characters.
class SampleMaker {
public:
    explicit SampleMaker(quint32 seed) : m_random(seed) {}

    QJsonValue sample(int maxDepth) { m_count = 0; return value(0, maxDepth); }

private:
    QString pick(const QStringList& list) { return list.at(m_random.bounded(int(list.size()))); }

    QJsonValue scalar()
    {
        switch (m_random.bounded(5)) {
        case 0: return double(m_random.bounded(-100000, 100000)) / 100.0;
        case 1: return m_random.bounded(2) == 1;
        case 2: return QJsonValue::Null;
        case 3: return m_random.bounded(-1000000, 1000000);
        default:
            return pick({QStringLiteral("sensor"), QStringLiteral("a\"b"), QStringLiteral("c:\\dir\\"),
                         QStringLiteral("温度 °C"), QStringLiteral("what?\?!"), QStringLiteral("?\?=?\?/?\?("),
                         QStringLiteral("tab\tline\nend"), QStringLiteral("\u0001\u007f"),
                         QStringLiteral("😀"), QString(), QStringLiteral("*/ /*")});
        }
    }

    QString key()
    {
        return pick({QStringLiteral("name"), QStringLiteral("na\"me"), QStringLiteral("back\\slash"),
                     QStringLiteral("温度"), QStringLiteral("int"), QStringLiteral("return"),
                     QStringLiteral("?\?="), QStringLiteral("a?\?b"), QString(), QStringLiteral("1st"),
                     QStringLiteral("_x"), QStringLiteral("cJSON_y"), QStringLiteral("text"),
                     QStringLiteral("root"), QStringLiteral("failed"), QStringLiteral("a b"),
                     QStringLiteral("ключ"), QStringLiteral("x_value"), QStringLiteral("x"),
                     QString(60, u'k'), QStringLiteral("NULL"), QStringLiteral("size_t")});
    }

    QJsonValue value(int depth, int maxDepth)
    {
        ++m_count;
        const bool container = depth < maxDepth && m_count < 200 && m_random.bounded(3) != 0;
        if (!container)
            return scalar();
        const int n = m_random.bounded(depth == maxDepth - 1 ? 1 : 0, 5);
        if (m_random.bounded(2) == 0) {
            QJsonArray array;
            // Arrays of objects are what devices send most.
            const bool objects = m_random.bounded(2) == 0;
            for (int i = 0; i < n; ++i) {
                if (objects) {
                    QJsonObject object;
                    ++m_count;
                    object.insert(key(), value(depth + 2, maxDepth));
                    array.append(object);
                } else {
                    array.append(value(depth + 1, maxDepth));
                }
            }
            return array;
        }
        QJsonObject object;
        for (int i = 0; i < n; ++i)
            object.insert(key(), value(depth + 1, maxDepth));
        return object;
    }

    QRandomGenerator m_random;
    int m_count = 0;
};

QJsonValue deepObject(int levels)
{
    QJsonValue value = QStringLiteral("deep?\?");
    for (int i = 0; i < levels; ++i)
        value = QJsonObject{{i % 2 ? QStringLiteral("int") : QStringLiteral("k"), value}};
    return value;
}

} // namespace

class CJsonGeneratorTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void workedSample();
    void emptyObject();
    void scalarRoot();
    void identifiers_data();
    void identifiers();
    void literals_data();
    void literals();
    void limits_data();
    void limits();
    void compiledAgainstCJson();
};

void CJsonGeneratorTest::workedSample()
{
    const vn::JsonAssistance result = vn::analyzeJson(Sample);
    QVERIFY(result.ok);
    QCOMPARE(::identifiers(result.parseCode),
             QStringList({"config", "config_period_ms", "device", "online", "samples", "samples_0",
                          "samples_1", "samples_2", "temperature"}));
    QVERIFY(result.parseCode.contains(
        "\n            if (cJSON_GetArraySize(samples) < 3) { goto invalid; }\n"));
    QVERIFY(result.parseCode.contains(
        "                const cJSON *config_period_ms = cJSON_GetObjectItemCaseSensitive(config, \"period_ms\");\n"
        "                if (!cJSON_IsNumber(config_period_ms)) { goto invalid; }\n"
        "                double config_period_ms_value = config_period_ms->valuedouble;\n"
        "                (void)config_period_ms_value; /* 在这里使用解析得到的值。 */\n"));
    QVERIFY(result.buildCode.contains(
        "        {\n"
        "            cJSON *temperature = cJSON_CreateNumber(25.5);\n"
        "            if (temperature == NULL) { goto failed; }\n"
        "            if (!cJSON_AddItemToObject(root, \"temperature\", temperature))\n"
        "            {\n"
        "                cJSON_Delete(temperature);\n"
        "                goto failed;\n"
        "            }\n"
        "        }\n"));
    QVERIFY(result.buildCode.endsWith(
        "    return text;\n\nfailed:\n    cJSON_Delete(root);\n    return NULL;\n}\n"));
}

void CJsonGeneratorTest::emptyObject()
{
    const vn::JsonAssistance result = vn::analyzeJson(QStringLiteral("{}"));
    QCOMPARE(result.parseCode,
             QStringLiteral("/* 根据 JSON 示例检查结构；0 表示成功，-1 表示语法或结构不符。 */\n"
                            "#include <stddef.h>\n"
                            "#include \"cJSON.h\"\n"
                            "\n"
                            "int parse_message(const char *text)\n"
                            "{\n"
                            "    const char *end = NULL;\n"
                            "    cJSON *root;\n"
                            "    if (text == NULL) { return -1; }\n"
                            "    root = cJSON_ParseWithOpts(text, &end, 1);\n"
                            "    if (root == NULL) { return -1; }\n"
                            "    {\n"
                            "        if (!cJSON_IsObject(root)) { goto invalid; }\n"
                            "    }\n"
                            "    cJSON_Delete(root);\n"
                            "    return 0;\n"
                            "\n"
                            "invalid:\n"
                            "    cJSON_Delete(root);\n"
                            "    return -1;\n"
                            "}\n"));
    QCOMPARE(result.buildCode,
             QStringLiteral("/* 使用示例值组装 JSON；返回值由调用方使用 cJSON_free() 释放。 */\n"
                            "#include <stddef.h>\n"
                            "#include \"cJSON.h\"\n"
                            "\n"
                            "char *build_message(void)\n"
                            "{\n"
                            "    cJSON *root = cJSON_CreateObject();\n"
                            "    char *text = NULL;\n"
                            "    if (root == NULL) { return NULL; }\n"
                            "    {\n"
                            "    }\n"
                            "    text = cJSON_PrintUnformatted(root);\n"
                            "    cJSON_Delete(root);\n"
                            "    return text;\n"
                            "}\n"));
}

void CJsonGeneratorTest::scalarRoot()
{
    const vn::JsonAssistance number = vn::analyzeJson(QStringLiteral("5"));
    QVERIFY(number.parseCode.contains("        double root_value = root->valuedouble;\n"));
    QVERIFY(number.buildCode.contains("    cJSON *root = cJSON_CreateNumber(5);\n"));
    QVERIFY(!number.buildCode.contains("failed:"));

    const vn::JsonAssistance array = vn::analyzeJson(QStringLiteral("[true]"));
    QCOMPARE(::identifiers(array.parseCode), QStringList{"item_0"});
    QVERIFY(array.parseCode.contains("int item_0_value = cJSON_IsTrue(item_0);"));
    QVERIFY(array.buildCode.contains("cJSON *item_0 = cJSON_CreateBool(1);"));
}

void CJsonGeneratorTest::identifiers_data()
{
    QTest::addColumn<QString>("sample");
    QTest::addColumn<QStringList>("names");

    QTest::newRow("fixed names") << QStringLiteral(R"({"text":1,"end":2,"root":3,"failed":4})")
                                 << QStringList{"end_2", "failed_2", "root_2", "text_2"};
    QTest::newRow("value form taken") << QStringLiteral(R"({"a":1,"a_value":2})")
                                      << QStringList{"a", "a_value_2"};
    QTest::newRow("prefixed") << QStringLiteral(R"({"1st":1,"int":2,"_id":3,"cJSON_x":4,"CJSONy":5})")
                              << QStringList{"field_1st", "field_CJSONy", "field_id", "field_cJSON_x",
                                             "field_int"};
    QTest::newRow("keyword after collapsing") << QStringLiteral(R"({"size__t":1,"do":2})")
                                              << QStringList{"field_do", "field_size_t"};
    QTest::newRow("non-ASCII and empty keys") << QStringLiteral(R"({"温度":1,"":2})")
                                              << QStringList{"field", "field_2"};
    QTest::newRow("runs of foreign characters") << QStringLiteral(R"({"a b-c":1,"x__y":2})")
                                                << QStringList{"a_b_c", "x_y"};
    QTest::newRow("long keys") << (QStringLiteral("{\"") + QString(48, u'a') + QString(12, u'b')
                                   + QStringLiteral("\":1,\"") + QString(48, u'a') + QString(12, u'c')
                                   + QStringLiteral("\":2}"))
                               << QStringList{QString(48, u'a'), QString(48, u'a') + "_2"};
    QTest::newRow("nested names") << QStringLiteral(R"({"a":[{"b c":1}]})")
                                  << QStringList{"a", "a_0", "a_0_b_c"};
}

void CJsonGeneratorTest::identifiers()
{
    QFETCH(QString, sample);
    QFETCH(QStringList, names);
    const vn::JsonAssistance result = vn::analyzeJson(sample);
    QVERIFY2(!result.parseCode.isEmpty(), qPrintable(result.status));
    QCOMPARE(::identifiers(result.parseCode), names);
}

void CJsonGeneratorTest::literals_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("literal");

    QTest::newRow("plain") << QStringLiteral("period_ms") << QStringLiteral(R"("period_ms")");
    QTest::newRow("quote and backslash") << QStringLiteral(R"(a"b\c)") << QStringLiteral(R"("a\"b\\c")");
    QTest::newRow("control characters") << QStringLiteral("\t\n\u007f") << QStringLiteral(R"("\011\012\177")");
    QTest::newRow("non-ASCII") << QStringLiteral("温度") << QStringLiteral(R"("\346\270\251\345\272\246")");
    QTest::newRow("octal before a digit") << QStringLiteral("é1") << QStringLiteral(R"("\303\2511")");
    QTest::newRow("lone question mark") << QStringLiteral("a?b") << QStringLiteral(R"("a?b")");
    QTest::newRow("trigraph") << QStringLiteral("?\?=") << QStringLiteral(R"("\?\?=")");
    QTest::newRow("run of three") << QStringLiteral("?\?\?/") << QStringLiteral(R"("\?\?\?/")");
}

void CJsonGeneratorTest::literals()
{
    QFETCH(QString, text);
    QFETCH(QString, literal);
    QCOMPARE(vn::cString(text), literal);
}

void CJsonGeneratorTest::limits_data()
{
    QTest::addColumn<QString>("sample");
    QTest::addColumn<bool>("generated");

    const auto numbers = [](int n) {
        QJsonArray array;
        for (int i = 0; i < n; ++i)
            array.append(i);
        return compactText(array);
    };
    QTest::newRow("511 numbers") << numbers(511) << true;
    QTest::newRow("512 numbers") << numbers(512) << false;
    QTest::newRow("32 arrays around a number")
        << (QString(32, u'[') + "1" + QString(32, u']')) << true;
    QTest::newRow("33 arrays around a number")
        << (QString(33, u'[') + "1" + QString(33, u']')) << false;
    QTest::newRow("NUL in a string") << QStringLiteral(R"({"a":"x\u0000"})") << false;
    QTest::newRow("NUL in a key") << QStringLiteral(R"({"\u0000":1})") << false;
}

void CJsonGeneratorTest::limits()
{
    QFETCH(QString, sample);
    QFETCH(bool, generated);
    const vn::JsonAssistance result = vn::analyzeJson(sample);
    QVERIFY(result.ok);
    QCOMPARE(!result.parseCode.isEmpty(), generated);
    QCOMPARE(!result.buildCode.isEmpty(), generated);
    if (!generated) {
        QCOMPARE(result.status, Limit);
        QVERIFY(!result.formatted.isEmpty());
    }
}

// Every generated pair is compiled with a strict C compiler against the system's cJSON
// and run: the parser accepts the sample and refuses a wrong type, the builder
// produces the sample again.
void CJsonGeneratorTest::compiledAgainstCJson()
{
    QList<QJsonValue> samples{parsed(Sample), QJsonObject(), parsed("5"), parsed("[true]"),
                              QJsonValue(QStringLiteral("?\?=")), deepObject(32),
                              parsed(R"({"text":1,"end":2,"root":{"root":[{"failed":null}]}})")};
    SampleMaker maker(20261210);
    for (int i = 0; i < 40; ++i)
        samples << maker.sample(i < 30 ? 4 : 12);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const auto write = [&](const QString& name, const QByteArray& bytes) {
        QFile file(dir.filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(bytes), bytes.size());
    };
    // The generated code includes "cJSON.h"; Debian installs it as <cjson/cJSON.h>.
    write("cJSON.h", "#include <cjson/cJSON.h>\n");

    QByteArray program = "#include <stdio.h>\n#include <stdlib.h>\n#include <cjson/cJSON.h>\n";
    QByteArray calls;
    for (int i = 0; i < samples.size(); ++i) {
        const QString text = compactText(samples[i]);
        const vn::JsonAssistance result = vn::analyzeJson(text);
        QVERIFY2(result.ok && !result.parseCode.isEmpty(), qPrintable(text));
        QCOMPARE(result.compact, text);
        QCOMPARE(result.formatted.toUtf8(), vn::jsonBytes(samples[i], QJsonDocument::Indented));
        for (const QString& code : {result.parseCode, result.buildCode}) {
            QVERIFY2(!code.contains("?\?"), qPrintable(code));
        }
        write(QStringLiteral("good_%1.json").arg(i), text.toUtf8());
        write(QStringLiteral("bad_%1.json").arg(i), compactText(mutated(samples[i])).toUtf8());
        const QByteArray n = QByteArray::number(i);
        program += "#define parse_message parse_message_" + n + "\n#define build_message build_message_"
                   + n + "\n" + result.parseCode.toUtf8() + result.buildCode.toUtf8()
                   + "#undef parse_message\n#undef build_message\n";
        calls += "    report(" + n + ", parse_message_" + n + ", build_message_" + n + ");\n";
    }
    program += R"C(
static char *slurp(const char *path)
{
    FILE *file = fopen(path, "rb");
    char *data;
    long size;
    if (file == NULL) { exit(3); }
    fseek(file, 0, SEEK_END);
    size = ftell(file);
    fseek(file, 0, SEEK_SET);
    data = malloc((size_t)size + 1);
    if (data == NULL || fread(data, 1, (size_t)size, file) != (size_t)size) { exit(3); }
    data[size] = 0;
    fclose(file);
    return data;
}

static void report(int i, int (*parse)(const char *), char *(*build)(void))
{
    char path[64];
    char *good;
    char *bad;
    char *built;
    snprintf(path, sizeof path, "good_%d.json", i);
    good = slurp(path);
    snprintf(path, sizeof path, "bad_%d.json", i);
    bad = slurp(path);
    built = build();
    printf("%d %d %d %s\n", i, parse(good), parse(bad), built != NULL ? built : "(null)");
    cJSON_free(built);
    free(good);
    free(bad);
}

int main(void)
{
)C" + calls + "    return 0;\n}\n";
    write("main.c", program);

    QProcess gcc;
    gcc.setWorkingDirectory(dir.path());
    gcc.start("gcc", {"-std=c11", "-Wall", "-Wextra", "-Werror", "-o", "samples", "main.c", "-lcjson"});
    QVERIFY(gcc.waitForFinished(120000));
    QVERIFY2(gcc.exitStatus() == QProcess::NormalExit && gcc.exitCode() == 0,
             gcc.readAllStandardError().constData());

    QProcess run;
    run.setWorkingDirectory(dir.path());
    run.start(dir.filePath("samples"), {});
    QVERIFY(run.waitForFinished(30000));
    QCOMPARE(run.exitCode(), 0);
    const QList<QByteArray> lines = run.readAllStandardOutput().split('\n');
    QCOMPARE(lines.size(), samples.size() + 1);
    for (int i = 0; i < samples.size(); ++i) {
        const QList<QByteArray> fields = lines[i].split(' ');
        QVERIFY(fields.size() >= 4);
        const QByteArray built = lines[i].mid(fields[0].size() + fields[1].size() + fields[2].size() + 3);
        const QString what = compactText(samples[i]) + " -> " + QString::fromUtf8(built);
        QVERIFY2(fields[1] == "0", qPrintable("parse refused: " + what));
        QVERIFY2(fields[2] == "-1", qPrintable("wrong type accepted: " + what));
        QVERIFY2(parsed(QString::fromUtf8(built)) == samples[i], qPrintable(what));
    }
}

QTEST_GUILESS_MAIN(CJsonGeneratorTest)
#include "CJsonGeneratorTest.moc"
