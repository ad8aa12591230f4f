#include "ui/controls/ControlPacket.h"
#include "ui/controls/ControlPresets.h"
#include "tests/support/TestSupport.h"

#include <QJsonArray>
#include <QTest>

using namespace vn;
using vn::test::errorOf;

namespace {

QJsonObject textRecord(const QString& pattern, const QString& value, const QString& newline,
                       const QString& encoding = QStringLiteral("utf-8"))
{
    QJsonObject r = defaultControl(QStringLiteral("slider"));
    r.insert("pattern", pattern);
    r.insert("value", value);
    r.insert("newline", newline);
    r.insert("encoding", encoding);
    return r;
}

QJsonObject hexRecord(const QString& pattern, const QString& value)
{
    QJsonObject r = defaultControl(QStringLiteral("number"));
    r.insert("format", "hex");
    r.insert("pattern", pattern);
    r.insert("value", value);
    // HEX reads neither of these, so values outside their lists do no harm.
    r.insert("newline", "bogus");
    r.insert("encoding", "no-such-codec");
    return r;
}

QByteArray hex(const char* pairs) { return QByteArray::fromHex(pairs); }

} // namespace

class ControlPacketTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void defaultRecordPerType()
    {
        for (const QString& type : controlTypes()) {
            const QJsonObject r = defaultControl(type);
            QCOMPARE(r.size(), 14);
            QCOMPARE(r.value("type").toString(), type);
            QCOMPARE(r.value("title").toString(), QStringLiteral("新控件"));
            QVERIFY(r.value("minimum").isDouble() && r.value("maximum").toInt() == 100);
            QCOMPARE(r.value("options").toString(), QStringLiteral("低=0\n中=1\n高=2"));
            // Every type builds the same default packet: SET value 0 CR LF.
            QCOMPARE(controlPacket(r), QByteArray("SET value 0\r\n"));
        }
        QCOMPARE(defaultControl("anything").value("type").toString(), QStringLiteral("anything"));
    }

    void typeLabels_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("label");
        QTest::newRow("slider") << "slider" << "滑块";
        QTest::newRow("number") << "number" << "数字输入";
        QTest::newRow("switch") << "switch" << "开关";
        QTest::newRow("button") << "button" << "按钮";
        QTest::newRow("select") << "select" << "下拉框";
        QTest::newRow("capitalised") << "Slider" << "下拉框";
        QTest::newRow("empty") << "" << "下拉框";
    }
    void typeLabels()
    {
        QFETCH(QString, type);
        QFETCH(QString, label);
        QCOMPARE(typeName(type), label);
    }

    void textPackets_data()
    {
        QTest::addColumn<QJsonObject>("record");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("default") << defaultControl("slider") << QByteArray("SET value 0\r\n");
        QTest::newRow("json template")
            << textRecord("{\"speed\":{value}}", "42", "lf") << QByteArray("{\"speed\":42}\n");
        QTest::newRow("empty with crlf") << textRecord("", "0", "crlf") << QByteArray("\r\n");
        QTest::newRow("cr") << textRecord("{value}", "7", "cr") << QByteArray("7\r");
        QTest::newRow("none") << textRecord("{key}={value}", "7", "none") << QByteArray("value=7");
        QTest::newRow("blank braces stay literal")
            << textRecord("{ key }", "1", "none") << QByteArray("{ key }");
        QTest::newRow("lone braces stay") << textRecord("}{", "1", "none") << QByteArray("}{");
        QJsonObject key = textRecord("{key}", "1", "none");
        key.insert("key", "{value} x");
        QTest::newRow("key inserted unscanned") << key << QByteArray("{value} x");
        QJsonObject numeric = textRecord("[{value}]", "1", "none");
        numeric.insert("value", 5);
        QTest::newRow("number value reads empty") << numeric << QByteArray("[]");
        QTest::newRow("utf-16 without BOM")
            << textRecord("A", "0", "none", "UTF-16LE") << QByteArray("A\0", 2);
        QTest::newRow("ISO-2022-JP back to ascii") << textRecord("{value}", "日本", "crlf", "ISO-2022-JP")
                                                    << QByteArray("\x1b$BF|K\\\x1b(B\r\n");
        QTest::newRow("GBK") << textRecord("温度", "0", "none", "GBK") << hex("cec2b6c8");
        QTest::newRow("surrogate pair") << textRecord("{value}", QStringLiteral("\U0001F600"), "none")
                                        << hex("f09f9880");
        QJsonObject missing = textRecord("x", "0", "none");
        missing.remove("encoding");
        missing.remove("newline");
        QTest::newRow("missing encoding and newline default") << missing << QByteArray("x\r\n");
        QTest::newRow("longest value") << textRecord("{value}", QString(1024, 'v'), "none")
                                       << QByteArray(1024, 'v');
        QTest::newRow("longest pattern") << textRecord(QString(4096, 'p'), "0", "none")
                                         << QByteArray(4096, 'p');
    }
    void textPackets()
    {
        QFETCH(QJsonObject, record);
        QFETCH(QByteArray, bytes);
        QCOMPARE(errorOf([&] { controlPacket(record); }), QString());
        QCOMPARE(controlPacket(record), bytes);
    }

    void utf16HasNoByteOrderMark()
    {
        // The generic codec would write a mark on a fresh state; a packet never has one.
        const QByteArray first = controlPacket(textRecord("A", "0", "none", "UTF-16"));
        const QByteArray second = controlPacket(textRecord("A", "0", "none", "UTF-16"));
        QCOMPARE(first.size(), 2);
        QCOMPARE(second, first);
    }

    void hexPackets_data()
    {
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("u16le") << "AA 55 {value:u16le} 0D 0A" << "1000" << hex("aa55e8030d0a");
        QTest::newRow("u16be") << "AA 55 {value:u16be} 0D 0A" << "1000" << hex("aa5503e80d0a");
        QTest::newRow("i16be -1") << "{value:i16be}" << "-1" << hex("ffff");
        QTest::newRow("i16le min") << "{value:i16le}" << "-32768" << hex("0080");
        QTest::newRow("u8 255") << "{value:u8}" << "255" << hex("ff");
        QTest::newRow("u8le same") << "{value:u8le}" << "255" << hex("ff");
        QTest::newRow("i8 -128") << "{value:i8be}" << "-128" << hex("80");
        QTest::newRow("u32le max") << "{value:u32le}" << "4294967295" << hex("ffffffff");
        QTest::newRow("u32be") << "{value:u32be}" << "16909060" << hex("01020304");
        QTest::newRow("i32le min") << "{value:i32le}" << "-2147483648" << hex("00000080");
        QTest::newRow("i32be -2") << "{value:i32be}" << "-2" << hex("fffffffe");
        QTest::newRow("f32le 1") << "{value:f32le}" << "1" << hex("0000803f");
        QTest::newRow("f32be 1") << "{value:f32be}" << "1" << hex("3f800000");
        QTest::newRow("f32 max single") << "{value:f32be}" << "3.4028235e38" << hex("7f7fffff");
        QTest::newRow("whole number with fraction zeros") << "{value:u8}" << "2.000" << hex("02");
        QTest::newRow("tab is blank") << "AA\t55" << "0" << hex("aa55");
        QTest::newRow("split digits pair") << "A A" << "0" << hex("aa");
        QTest::newRow("lower case") << "ab cd" << "0" << hex("abcd");
        QTest::newRow("two fields") << "{value:u8}{value:i8}" << "1" << hex("0101");
    }
    void hexPackets()
    {
        QFETCH(QString, pattern);
        QFETCH(QString, value);
        QFETCH(QByteArray, bytes);
        const QJsonObject record = hexRecord(pattern, value);
        QCOMPARE(errorOf([&] { controlPacket(record); }), QString());
        QCOMPARE(controlPacket(record), bytes);
    }

    // Every fixed refusal, in both formats, with the exact message.
    void refusals_data()
    {
        QTest::addColumn<QJsonObject>("record");
        QTest::addColumn<QString>("message");
        QTest::newRow("pattern too long")
            << textRecord(QString(4097, 'p'), "0", "none") << "模板或数值过长";
        QTest::newRow("value too long")
            << hexRecord("{value:u8}", QString(1025, '1')) << "模板或数值过长";
        QJsonObject upper = defaultControl("slider");
        upper.insert("format", "TEXT");
        QTest::newRow("format case") << upper << "未知发送格式";
        QJsonObject noFormat = defaultControl("slider");
        noFormat.remove("format");
        QTest::newRow("format missing") << noFormat << "未知发送格式";
        QJsonObject numberFormat = defaultControl("slider");
        numberFormat.insert("format", 1);
        QTest::newRow("format not text") << numberFormat << "未知发送格式";
        QTest::newRow("unknown codec checked first")
            << textRecord("{Value}", "0", "none", "no-such-codec") << "不支持此文本编码";
        QTest::newRow("placeholder case") << textRecord("{Value}", "0", "none") << "未知占位符：{Value}";
        QTest::newRow("typed placeholder in text")
            << textRecord("{value:u8}", "0", "none") << "未知占位符：{value:u8}";
        QTest::newRow("unrepresentable") << textRecord("温度", "0", "none", "ISO-8859-1")
                                         << "当前编码无法表示这些字符";
        QTest::newRow("unrepresentable value")
            << textRecord("{value}", "温", "none", "ASCII") << "当前编码无法表示这些字符";
        // Codecs drop a trailing high surrogate, or write a lone one, without
        // counting it; the packet would not be the template's text.
        const QString high(QChar(0xd800));
        QTest::newRow("trailing high surrogate utf-8")
            << textRecord("{value}", QStringLiteral("A") + high, "none") << "当前编码无法表示这些字符";
        QTest::newRow("trailing high surrogate UTF-32LE")
            << textRecord(QStringLiteral("A") + high, "0", "crlf", "UTF-32LE") << "当前编码无法表示这些字符";
        QTest::newRow("lone low surrogate UTF-16LE")
            << textRecord(QStringLiteral("A") + QChar(0xdc00) + QStringLiteral("B"), "0", "none", "UTF-16LE")
            << "当前编码无法表示这些字符";
        QJsonObject surrogateKey = textRecord("{key}", "0", "none", "GB18030");
        surrogateKey.insert("key", QStringLiteral("x") + high);
        QTest::newRow("trailing high surrogate in the key GB18030") << surrogateKey << "当前编码无法表示这些字符";
        QTest::newRow("newline") << textRecord("x", "0", "LF") << "未知行尾格式";
        QTest::newRow("empty text") << textRecord("", "0", "none") << "报文长度需要为 1～4096 字节";
        QTest::newRow("text too long after line ending")
            << textRecord(QString(4095, 'p'), "0", "crlf") << "报文长度需要为 1～4096 字节";
        QTest::newRow("text too long after encoding")
            << textRecord(QString(2049, QChar(0x6e29)), "0", "none") << "报文长度需要为 1～4096 字节";
        QTest::newRow("empty hex") << hexRecord("", "0") << "报文长度需要为 1～4096 字节";
        QTest::newRow("blank hex") << hexRecord("  \t ", "0") << "报文长度需要为 1～4096 字节";
        const QString digits = QStringLiteral("HEX 常量需要成对的十六进制数字，例如 AA 55");
        QTest::newRow("0x prefix") << hexRecord("0x10", "0") << digits;
        QTest::newRow("lone close brace") << hexRecord("}", "0") << digits;
        QTest::newRow("full-width space") << hexRecord(QStringLiteral("AA\u300055"), "0") << digits;
        QTest::newRow("three digits") << hexRecord("A A A", "0") << digits;
        QTest::newRow("odd run before placeholder") << hexRecord("AAA{key}", "0") << digits;
        QTest::newRow("unclosed") << hexRecord("AA {value:u8", "1") << "占位符缺少右花括号";
        const QString numeric = QStringLiteral("HEX 使用 {value:u8} 等数值占位符");
        QTest::newRow("key in hex") << hexRecord("{key}", "1") << numeric;
        QTest::newRow("value in hex") << hexRecord("{value}", "1") << numeric;
        QTest::newRow("empty braces") << hexRecord("{}", "1") << numeric;
        const QString finite = QStringLiteral("HEX 数值必须是有限数字");
        QTest::newRow("not a number") << hexRecord("{value:u8}", "abc") << finite;
        QTest::newRow("infinite") << hexRecord("{value:u8}", "inf") << finite;
        QTest::newRow("number checked before type") << hexRecord("{value:u16}", "x") << finite;
        QTest::newRow("f32 overflow") << hexRecord("{value:f32le}", "1e39") << "数值超出 32 位浮点范围";
        QTest::newRow("f32 negative overflow")
            << hexRecord("{value:f32be}", "-3.5e38") << "数值超出 32 位浮点范围";
        QTest::newRow("unknown type") << hexRecord("{value:xyz}", "1") << "未知数值类型：xyz";
        QTest::newRow("bare f32") << hexRecord("{value:f32}", "1") << "未知数值类型：f32";
        QTest::newRow("u64") << hexRecord("{value:u64le}", "1") << "未知数值类型：u64le";
        QTest::newRow("no order 16")
            << hexRecord("{value:u16}", "1") << "多字节数值需要指定 le 或 be 字节序";
        QTest::newRow("no order 32")
            << hexRecord("{value:i32}", "1") << "多字节数值需要指定 le 或 be 字节序";
        QTest::newRow("u8 256") << hexRecord("{value:u8}", "256") << "数值超出 u8 的整数范围";
        QTest::newRow("u8 fraction") << hexRecord("{value:u8}", "1.5") << "数值超出 u8 的整数范围";
        QTest::newRow("u8 negative") << hexRecord("{value:u8}", "-1") << "数值超出 u8 的整数范围";
        QTest::newRow("i8 -129") << hexRecord("{value:i8}", "-129") << "数值超出 i8 的整数范围";
        QTest::newRow("u16le 65536")
            << hexRecord("{value:u16le}", "65536") << "数值超出 u16le 的整数范围";
        QTest::newRow("i32be above")
            << hexRecord("{value:i32be}", "2147483648") << "数值超出 i32be 的整数范围";
        QTest::newRow("u32le above")
            << hexRecord("{value:u32le}", "4294967296") << "数值超出 u32le 的整数范围";
    }
    void refusals()
    {
        QFETCH(QJsonObject, record);
        QFETCH(QString, message);
        QCOMPARE(errorOf([&] { controlPacket(record); }, QStringLiteral("(built)")), message);
    }

    void options_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("pairs");
        QTest::newRow("default") << "低=0\n中=1\n高=2" << QStringList{"低", "0", "中", "1", "高", "2"};
        QTest::newRow("trimmed and first equals")
            << " a = b=c \n\n=3\nabc\n x=" << QStringList{"a", "b=c", "x", ""};
        QTest::newRow("only line feeds") << "\n\n" << QStringList{};
    }
    void options()
    {
        QFETCH(QString, text);
        QFETCH(QStringList, pairs);
        QStringList got;
        for (const ControlOption& o : controlOptions(text))
            got << o.label << o.value;
        QCOMPARE(got, pairs);
    }

    void presets()
    {
        const QJsonArray groups = controlGroupPresets();
        QStringList ids;
        QList<int> counts;
        for (const QJsonValue& g : groups) {
            ids << g.toObject().value("id").toString();
            counts << int(g.toObject().value("controls").toArray().size());
            for (const QJsonValue& c : g.toObject().value("controls").toArray()) {
                const QJsonObject r = c.toObject();
                QCOMPARE(r.size(), 14);
                QCOMPARE(r.value("pattern").toString(), QStringLiteral("SET {key} {value}"));
                QCOMPARE(r.value("auto_send").toBool(), false);
                QCOMPARE(errorOf([&] { controlPacket(r); }), QString());
            }
        }
        QCOMPARE(ids, (QStringList{"pid", "motor", "temperature", "pwm"}));
        QCOMPARE(counts, (QList<int>{8, 6, 5, 5}));
        const QJsonObject kp = groups.at(0).toObject().value("controls").toArray().at(0).toObject();
        QCOMPARE(controlPacket(kp), QByteArray("SET kp 1.000\r\n"));
        QCOMPARE(kp.value("step").toDouble(), 0.01);
        const QJsonObject direction = groups.at(1).toObject().value("controls").toArray().at(3).toObject();
        QCOMPARE(direction.value("options").toString(), QStringLiteral("正转=0\n反转=1"));
        const QJsonObject reset = groups.at(0).toObject().value("controls").toArray().at(7).toObject();
        QCOMPARE(reset.value("options").toString(), QStringLiteral("低=0\n中=1\n高=2"));

        const QJsonArray examples = exampleControls();
        QCOMPARE(examples.size(), 5);
        QStringList types;
        for (const QJsonValue& e : examples)
            types << e.toObject().value("type").toString();
        QCOMPARE(types, QStringList(controlTypes()));
        QCOMPARE(examples.at(0).toObject().value("maximum").toInt(), 3000);
        QCOMPARE(examples.at(1).toObject().value("value").toString(), QStringLiteral("25.0"));
        QVERIFY(!examples.at(0).toObject().contains("rect"));
        QVERIFY(!examples.at(0).toObject().contains("layer"));
    }
};

QTEST_GUILESS_MAIN(ControlPacketTest)
#include "ControlPacketTest.moc"
