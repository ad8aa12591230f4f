// Integer conversions and arithmetic of the frame-script language, checked
// against the same operations compiled by gcc: C's fixed-width integer types
// wrap the way the script's typed variables must.
#include "ScriptTestUtil.h"

#include <QDir>
#include <QHash>
#include <QtEndian>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <iterator>

using namespace vn;
using namespace vn::test;

namespace {

struct Case {
    const char* type;       // the C and script type of the result
    const char* script;     // statements computing r from int a and int b
    const char* c;          // C statements computing r, or printing an error token and continuing
};

// Error tokens the C side prints where the script must fail.
const char* const CHelpers = R"(
#include <stdint.h>
#include <stdio.h>
#define EXACT(v) if ((v) > 9007199254740991LL || (v) < -9007199254740991LL) { puts("exact"); continue; }
#define NONZERO(v) if ((v) == 0) { puts("zero"); continue; }
#define SHIFT(v) if ((v) < 0) { puts("neg"); continue; } if ((v) > 31) { puts("big"); continue; }
)";

const Case Cases[] = {
    {"uint8_t", "r = a;", "r = (uint8_t)a;"},
    {"int8_t", "r = a;", "r = (int8_t)a;"},
    {"uint16_t", "r = a;", "r = (uint16_t)a;"},
    {"int16_t", "r = a;", "r = (int16_t)a;"},
    {"uint32_t", "r = a;", "r = (uint32_t)a;"},
    {"uint8_t", "r = a + b;", "r = (uint8_t)((int64_t)a + b);"},
    {"int8_t", "r = a - b;", "r = (int8_t)((int64_t)a - b);"},
    {"int32_t", "r = a + b;", "r = (int32_t)((int64_t)a + b);"},
    {"uint32_t", "r = a - b;", "r = (uint32_t)((int64_t)a - b);"},
    {"int16_t", "r = a * b;", "EXACT((__int128)a * b); r = (int16_t)((int64_t)a * b);"},
    {"uint16_t", "r = a * b;", "EXACT((__int128)a * b); r = (uint16_t)((int64_t)a * b);"},
    {"int32_t", "r = a * b;", "EXACT((__int128)a * b); r = (int32_t)((int64_t)a * b);"},
    {"int32_t", "r = a / b;", "NONZERO(b); r = (int32_t)((int64_t)a / b);"},
    {"int32_t", "r = a % b;", "NONZERO(b); r = (int32_t)((int64_t)a % b);"},
    {"int8_t", "r = a / b;", "NONZERO(b); r = (int8_t)((int64_t)a / b);"},
    {"uint32_t", "r = a << b;", "SHIFT(b); r = (uint32_t)a << b;"},
    {"uint32_t", "r = a >> b;", "SHIFT(b); r = (uint32_t)a >> b;"},
    {"int32_t", "r = a << b;", "SHIFT(b); r = (int32_t)((uint32_t)a << b);"},
    {"int32_t", "r = a & b;", "r = (int32_t)((uint32_t)a & (uint32_t)b);"},
    {"int32_t", "r = a | b;", "r = (int32_t)((uint32_t)a | (uint32_t)b);"},
    {"uint32_t", "r = a ^ b;", "r = (uint32_t)a ^ (uint32_t)b;"},
    {"int32_t", "r = ~a;", "r = (int32_t)~(uint32_t)a;"},
    {"int32_t", "r = -a;", "r = (int32_t)(-(int64_t)a);"},
    {"uint8_t", "uint8_t x = a; x += b; r = x;", "uint8_t x = (uint8_t)a; x = (uint8_t)(x + (int64_t)b); r = x;"},
    {"int8_t", "int8_t x = a; x *= b; r = x;", "int8_t x = (int8_t)a; r = (int8_t)((int64_t)x * b);"},
    {"int16_t", "int16_t x = a; x -= b; x++; r = x;", "int16_t x = (int16_t)a; x = (int16_t)((int64_t)x - b); x = (int16_t)(x + 1); r = x;"},
    {"uint16_t", "uint16_t x = a; x <<= 4; r = x;", "uint16_t x = (uint16_t)a; x = (uint16_t)((uint32_t)x << 4); r = x;"},
    {"int32_t", "r = (int8_t)a * (uint8_t)b;", "r = (int32_t)((int8_t)a * (uint8_t)b);"},
    {"int32_t", "r = (short)a / (char)b;", "NONZERO((char)b); r = (int32_t)((int64_t)(short)a / (signed char)b);"},
    {"int32_t", "r = (uint16_t)a % (int16_t)b;", "NONZERO((int16_t)b); r = (int32_t)((int64_t)(uint16_t)a % (int16_t)b);"},
    {"uint32_t", "r = (unsigned char)a >> 1;", "r = (uint32_t)(unsigned char)a >> 1;"},
    {"bool", "r = a & b;", "r = ((uint32_t)a & (uint32_t)b) != 0;"},
};

const qint64 Values[] = {0, 1, -1, 2, -2, 7, -7, 31, 32, 127, 128, -128, -129, 255, 256,
                         32767, 32768, -32768, 65535, 65536, 100000, -100000, 1234567,
                         -7654321, 2147483647, -2147483648LL};

QString cType(const char* t)
{
    return QString::fromLatin1(t) == u"bool" ? QStringLiteral("_Bool") : QString::fromLatin1(t);
}

} // namespace

class FrameScriptOracleTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void integerArithmeticMatchesC()
    {
        const QString gcc = QStandardPaths::findExecutable(QStringLiteral("gcc"));
        if (gcc.isEmpty())
            QSKIP("gcc is not installed");

        QString values;
        for (qint64 v : Values)
            values += QStringLiteral("%1LL,").arg(v);
        QString program = QString::fromLatin1(CHelpers);
        program += QStringLiteral("static const long long V[] = {%1};\n").arg(values);
        program += QStringLiteral("int main(void) {\n  const int n = sizeof V / sizeof V[0];\n");
        for (const Case& c : Cases) {
            program += QStringLiteral(
                           "  for (int i = 0; i < n * n; ++i) { int32_t a = (int32_t)V[i / n]; "
                           "int32_t b = (int32_t)V[i %% n]; %1 r; %2 printf(\"%%lld\\n\", (long long)r); }\n")
                           .arg(cType(c.type), QString::fromLatin1(c.c))
                           .replace(QStringLiteral("%%"), QStringLiteral("%"));
        }
        program += QStringLiteral("  return 0;\n}\n");

        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QFile file(dir.filePath(QStringLiteral("oracle.c")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(program.toUtf8());
        file.close();
        QProcess build;
        build.start(gcc, {QStringLiteral("-std=c11"), QStringLiteral("-O0"), QStringLiteral("-w"),
                          QStringLiteral("-o"), dir.filePath(QStringLiteral("oracle")), file.fileName()});
        QVERIFY(build.waitForFinished(60000));
        QVERIFY2(build.exitCode() == 0, build.readAllStandardError().constData());
        QProcess run;
        run.start(dir.filePath(QStringLiteral("oracle")), QStringList());
        QVERIFY(run.waitForFinished(60000));
        QCOMPARE(run.exitCode(), 0);
        const QList<QByteArray> lines = run.readAllStandardOutput().split('\n');

        const QHash<QByteArray, QString> errors = {
            {"exact", QStringLiteral("整数运算超出精确数值范围，请分步处理或转为浮点数")},
            {"zero", QStringLiteral("除数不能为零")},
            {"neg", QStringLiteral("索引、长度或位移必须为非负整数")},
            {"big", QStringLiteral("位移范围为 0..31")}};

        const int n = int(std::size(Values));
        int line = 0;
        int compared = 0;
        for (const Case& c : Cases) {
            const QString body = QStringLiteral(
                "int a = read_i32_le(data, 0); int b = read_i32_le(data, 4); %1 r = 0;\n%2\nemit(\"r\", r);")
                .arg(QString::fromLatin1(c.type), QString::fromLatin1(c.script));
            FrameScriptRuntime runtime(FrameScriptProgram::compile(script(body)));
            for (int i = 0; i < n * n; ++i, ++line) {
                const qint32 a = qint32(Values[i / n]);
                const qint32 b = qint32(Values[i % n]);
                QByteArray chunk(8, 0);
                qToLittleEndian(a, chunk.data());
                qToLittleEndian(b, chunk.data() + 4);
                const QByteArray want = lines.value(line);
                QString got;
                try {
                    got = QString::number(qint64(runtime.feed(chunk).at(0).toObject().value("r").toDouble()));
                } catch (const ScriptError& e) {
                    got = e.message;
                }
                const QString expected = errors.value(want, QString::fromLatin1(want));
                if (got != expected) {
                    QFAIL(qPrintable(QStringLiteral("%1 %2 with a = %3, b = %4: script %5, C %6")
                                         .arg(QString::fromLatin1(c.type), QString::fromLatin1(c.script))
                                         .arg(a).arg(b).arg(got, expected)));
                }
                ++compared;
            }
        }
        QCOMPARE(compared, int(std::size(Cases)) * n * n);
    }
};

QTEST_GUILESS_MAIN(FrameScriptOracleTest)
#include "tst_frame_script_oracle.moc"
