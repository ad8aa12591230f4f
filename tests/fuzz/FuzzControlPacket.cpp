// The control packet builder over random control records and values. The
// first bytes choose the record's format, codec, line ending, how the template
// and the value are made and the HEX number type; the rest, cut at NUL bytes,
// gives the texts (template pieces, key, value) and the raw HEX bytes. Slider
// and number values may come from a random range and slider position, as a
// card would form them.
//
// Checked: no crash or undefined behaviour; building twice gives the same
// bytes or the same refusal; a refusal carries one of the builder's messages;
// a packet holds 1 to 4096 bytes; HEX text reads back to the bytes it names,
// a HEX number field in its type's range is accepted and reads back to the
// number; a text template in a Unicode codec (or Latin-1) decodes back to the
// text with its placeholders filled; a slider position gives a value in the
// control's range.

#include "tests/fuzz/FuzzSupport.h"
#include "ui/controls/CanvasGeometry.h"
#include "ui/controls/ControlPacket.h"

#include <QJsonObject>
#include <QLocale>
#include <QStringList>
#include <QTextCodec>

#include <cfloat>
#include <cmath>
#include <cstring>
#include <optional>
#include <stdexcept>

namespace {

constexpr qsizetype kMaxPacket = 4096;

// Byte choices at the head of an input, then NUL-separated fields.
struct Reader {
    std::uint8_t choice[8] = {};
    QList<QByteArray> fields;

    Reader(const std::uint8_t* data, std::size_t size)
    {
        const std::size_t head = std::min<std::size_t>(size, sizeof choice);
        std::memcpy(choice, data, head);
        fields = QByteArray(reinterpret_cast<const char*>(data + head), qsizetype(size - head)).split('\0');
    }

    QByteArray field(int index) const { return index < fields.size() ? fields.at(index) : QByteArray(); }

    // A field as text: UTF-8, or raw UTF-16 code units (lone surrogates
    // included, as a "\ud800" escape in a panel file gives).
    QString text(int index, bool utf16) const
    {
        const QByteArray bytes = field(index);
        if (!utf16)
            return QString::fromUtf8(bytes);
        QString out;
        for (qsizetype i = 0; i + 1 < bytes.size(); i += 2)
            out.append(QChar(char16_t(std::uint8_t(bytes[i]) | std::uint8_t(bytes[i + 1]) << 8)));
        return out;
    }
};

bool hasLoneSurrogate(const QString& text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate())
            ++i;
        else if (c.isSurrogate())
            return true;
    }
    return false;
}

// The builder's refusals; the last three are followed by what was refused.
bool knownMessage(const QString& message)
{
    static const QStringList whole{
        QStringLiteral("模板或数值过长"),
        QStringLiteral("未知发送格式"),
        QStringLiteral("不支持此文本编码"),
        QStringLiteral("当前编码无法表示这些字符"),
        QStringLiteral("未知行尾格式"),
        QStringLiteral("HEX 常量需要成对的十六进制数字，例如 AA 55"),
        QStringLiteral("占位符缺少右花括号"),
        QStringLiteral("HEX 使用 {value:u8} 等数值占位符"),
        QStringLiteral("HEX 数值必须是有限数字"),
        QStringLiteral("数值超出 32 位浮点范围"),
        QStringLiteral("多字节数值需要指定 le 或 be 字节序"),
        QStringLiteral("报文长度需要为 1～4096 字节"),
    };
    if (whole.contains(message))
        return true;
    if (message.startsWith(QStringLiteral("未知占位符：{")) && message.endsWith(QLatin1Char('}')))
        return true;
    if (message.startsWith(QStringLiteral("未知数值类型：")))
        return true;
    return message.startsWith(QStringLiteral("数值超出 ")) && message.endsWith(QStringLiteral(" 的整数范围"));
}

struct Built {
    std::optional<QByteArray> packet;
    QString refusal;
    bool operator==(const Built&) const = default;
};

Built build(const QJsonObject& record)
{
    Built out;
    try {
        out.packet = vn::controlPacket(record);
    } catch (const std::runtime_error& error) {
        out.refusal = QString::fromUtf8(error.what());
    }
    return out;
}

const QStringList& codecNames()
{
    static const QStringList names{
        QStringLiteral("utf-8"),     QStringLiteral("UTF-16LE"),   QStringLiteral("UTF-16BE"),
        QStringLiteral("UTF-16"),    QStringLiteral("ISO-8859-1"), QStringLiteral("ASCII"),
        QStringLiteral("GBK"),       QStringLiteral("GB18030"),    QStringLiteral("Big5"),
        QStringLiteral("Shift_JIS"), QStringLiteral("windows-1252"), QStringLiteral("KOI8-R"),
        QStringLiteral("UTF-32LE"),  QStringLiteral("EUC-JP"),     QStringLiteral("ISO-2022-JP"),
    };
    return names;
}

// Codecs for which every accepted text decodes back to itself.
bool roundTrips(const QString& codec)
{
    static const QStringList exact{QStringLiteral("utf-8"), QStringLiteral("UTF-16LE"), QStringLiteral("UTF-16BE"),
                                   QStringLiteral("ISO-8859-1"), QStringLiteral("UTF-32LE")};
    return exact.contains(codec);
}

const QStringList& numberTypes()
{
    static const QStringList types{
        QStringLiteral("u8"),    QStringLiteral("i8"),    QStringLiteral("u8le"),  QStringLiteral("i8be"),
        QStringLiteral("u16le"), QStringLiteral("u16be"), QStringLiteral("i16le"), QStringLiteral("i16be"),
        QStringLiteral("u32le"), QStringLiteral("u32be"), QStringLiteral("i32le"), QStringLiteral("i32be"),
        QStringLiteral("f32le"), QStringLiteral("f32be"), QStringLiteral("u16"),   QStringLiteral("f32"),
    };
    return types;
}

// HEX text for bytes, with blanks placed as the choice bits say.
QString hexText(const QByteArray& bytes, std::uint8_t spacing)
{
    static const char* const blanks[] = {"", " ", "\t", "  ", "\r\n", " ", "\v", "\f"};
    QString out;
    const QByteArray digits = (spacing & 0x80) ? bytes.toHex().toUpper() : bytes.toHex();
    for (qsizetype i = 0; i < digits.size(); ++i) {
        out.append(QLatin1Char(digits.at(i)));
        out.append(QLatin1String(blanks[(spacing + i) % 8 & (spacing & 0x40 ? 7 : 1)]));
    }
    return out;
}

// The bytes of a number field read back, as the builder was asked to write them.
double readBack(const QByteArray& bytes, const QString& type)
{
    const bool bigEndian = type.endsWith(QLatin1String("be"));
    quint64 bits = 0;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const qsizetype at = bigEndian ? i : bytes.size() - 1 - i;
        bits = bits << 8 | std::uint8_t(bytes.at(at));
    }
    if (type.startsWith(QLatin1Char('f'))) {
        float single = 0;
        const auto word = quint32(bits);
        std::memcpy(&single, &word, sizeof single);
        return double(single);
    }
    if (type.startsWith(QLatin1Char('i'))) {
        const int width = int(bytes.size()) * 8;
        const quint64 sign = quint64(1) << (width - 1);
        return double(qint64((bits ^ sign) - sign));
    }
    return double(bits);
}

int fieldWidth(const QString& type)
{
    if (type.startsWith(QLatin1Char('f')))
        return 4;
    return type.mid(1, type.startsWith(QLatin1String("u8")) || type.startsWith(QLatin1String("i8")) ? 1 : 2).toInt() / 8;
}

// Whether `number` fits the field `type` exactly; nullopt where the single
// precision limit is too close to call.
std::optional<bool> fits(double number, const QString& type)
{
    if (type.startsWith(QLatin1Char('f'))) {
        if (std::fabs(number) <= double(FLT_MAX))
            return true;
        if (std::fabs(number) > double(FLT_MAX) * (1.0 + std::ldexp(1.0, -23)))
            return false;
        return std::nullopt;
    }
    const bool isSigned = type.startsWith(QLatin1Char('i'));
    const int width = fieldWidth(type) * 8;
    const double low = isSigned ? -std::ldexp(1.0, width - 1) : 0.0;
    const double high = isSigned ? std::ldexp(1.0, width - 1) - 1.0 : std::ldexp(1.0, width) - 1.0;
    return number == std::trunc(number) && number >= low && number <= high;
}

// A value text in range of `type` (or just past it) from four bytes.
QString numberText(const QByteArray& bytes, const QString& type, std::uint8_t how)
{
    quint32 raw = 0;
    for (qsizetype i = 0; i < std::min<qsizetype>(4, bytes.size()); ++i)
        raw = raw << 8 | std::uint8_t(bytes.at(i));
    double number = 0;
    if (type.startsWith(QLatin1Char('f'))) {
        float single = 0;
        std::memcpy(&single, &raw, sizeof single);
        number = std::isfinite(single) ? double(single) : double(raw);
    } else {
        const int width = fieldWidth(type) * 8;
        const quint64 mask = width == 32 ? 0xffffffffull : (quint64(1) << width) - 1;
        number = double(raw & mask);
        if (type.startsWith(QLatin1Char('i')))
            number -= std::ldexp(1.0, width - 1);
        if (how & 0x10)
            number += (how & 0x20) ? 1 : -1;   // one past an end, now and then
    }
    switch (how & 3) {
    case 0: return QLocale::c().toString(number, 'g', 17);
    case 1: return QString::number(number, 'f', (how >> 2) & 3);
    case 2: return QLocale::c().toString(number, 'e', 12);
    default: return QStringLiteral("+") + QString::number(number, 'g', 17);
    }
}

// A slider or number card's value: a random range and slider position, as the
// card forms the value text. The position's value stays in range.
QString sliderText(const QByteArray& bytes)
{
    auto word = [&bytes](int at) {
        qint32 v = 0;
        for (int i = 0; i < 4; ++i)
            v = qint32(quint32(v) << 8 | std::uint8_t(bytes.size() > at + i ? bytes.at(at + i) : 0));
        return v;
    };
    QJsonObject record{{QStringLiteral("minimum"), double(word(0)) / 7.0},
                       {QStringLiteral("maximum"), double(word(4)) * 3.0},
                       {QStringLiteral("step"), double(word(8) & 0xffff) / 1000.0},
                       {QStringLiteral("decimals"), word(12) % 9}};
    const vn::NumberRange range = vn::numberRange(record);
    const int steps = vn::sliderSteps(range);
    if (steps < 1 || steps > 1000000)
        vn::fuzz::broken("slider steps outside 1 .. 1000000");
    const int position = int(quint32(word(16)) % quint32(steps + 1));
    const double value = vn::sliderValue(position, range);
    if (!(value >= range.minimum && value <= range.maximum))
        vn::fuzz::broken("slider value outside the control's range");
    const int back = vn::sliderPosition(value, range);
    if (back < 0 || back > steps)
        vn::fuzz::broken("slider position outside 0 .. steps");
    return vn::fixedText(value, range.decimals);
}

QByteArray newlineBytes(const QString& newline)
{
    if (newline == QLatin1String("crlf"))
        return QByteArrayLiteral("\r\n");
    if (newline == QLatin1String("lf"))
        return QByteArrayLiteral("\n");
    if (newline == QLatin1String("cr"))
        return QByteArrayLiteral("\r");
    return QByteArray();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    vn::fuzz::ensureApplication();
    if (size > 3 * kMaxPacket + 64)
        return 0;
    const Reader in(data, size);
    const std::uint8_t formatChoice = in.choice[0];
    const std::uint8_t codecChoice = in.choice[1];
    const std::uint8_t newlineChoice = in.choice[2];
    const std::uint8_t shape = in.choice[3];
    const std::uint8_t valueChoice = in.choice[4];
    const std::uint8_t typeChoice = in.choice[5];
    const std::uint8_t spacing = in.choice[6];
    const bool utf16 = in.choice[7] & 1;

    QJsonObject record = vn::defaultControl(vn::controlTypes().value(in.choice[7] >> 1 & 7, QStringLiteral("dial")));

    // Format: mostly the two real ones, now and then a wrong spelling or kind.
    const bool hex = formatChoice % 8 >= 4;
    switch (formatChoice % 8) {
    case 0: record.insert(QStringLiteral("format"), QStringLiteral("TEXT")); break;
    case 1: record.insert(QStringLiteral("format"), 1); break;
    case 2: record.remove(QStringLiteral("format")); break;
    case 3: case 4: case 5: case 6: case 7:
        record.insert(QStringLiteral("format"), hex ? QStringLiteral("hex") : QStringLiteral("text"));
        break;
    }
    const bool realFormat = formatChoice % 8 >= 3;
    const bool textFormat = realFormat && !hex;

    // Codec: a known name, the name from a field, missing or not a string.
    QString codec = QStringLiteral("utf-8");
    if (codecChoice < 0xf0) {
        codec = codecNames().at(codecChoice % codecNames().size());
        record.insert(QStringLiteral("encoding"), codec);
    } else if (codecChoice < 0xf8) {
        codec = in.text(5, false);
        record.insert(QStringLiteral("encoding"), codec);
    } else if (codecChoice < 0xfc) {
        record.remove(QStringLiteral("encoding"));
    } else {
        record.insert(QStringLiteral("encoding"), 8);
    }

    static const QStringList newlines{QStringLiteral("crlf"), QStringLiteral("lf"), QStringLiteral("cr"),
                                      QStringLiteral("none"), QStringLiteral("LF"), QString()};
    QString newline = newlines.at(newlineChoice % newlines.size());
    if (newlineChoice % 16 == 15) {
        record.remove(QStringLiteral("newline"));
        newline = QStringLiteral("crlf");
    } else {
        record.insert(QStringLiteral("newline"), newline);
    }

    const QString type = numberTypes().at(typeChoice % numberTypes().size());
    const QString key = in.text(1, utf16);

    // The value: raw text, a number for the HEX type, a slider's value, or a
    // JSON number, which reads as empty text.
    QString value;
    switch (valueChoice % 4) {
    case 0: value = in.text(2, utf16); break;
    case 1: value = numberText(in.field(2), type, valueChoice >> 2); break;
    case 2: value = sliderText(in.field(2)); break;
    default: break;
    }
    if (valueChoice % 4 == 3)
        record.insert(QStringLiteral("value"), 12);
    else
        record.insert(QStringLiteral("value"), value);
    record.insert(QStringLiteral("key"), key);

    // The template: raw text, or made from pieces so the result is known.
    const bool structured = shape & 1;
    QString pattern;
    QString expectedText;          // text formats: the filled-in template
    QByteArray prefix, suffix;     // HEX: the constant bytes around one field
    const bool withField = shape & 2;
    if (!structured) {
        pattern = in.text(0, utf16);
    } else if (hex) {
        prefix = in.field(0).left(2100);
        suffix = in.field(3).left(2100);
        pattern = hexText(prefix, spacing);
        if (withField)
            pattern += QStringLiteral("{value:") + type + QLatin1Char('}');
        pattern += hexText(suffix, spacing >> 1);
    } else {
        QStringList pieces;
        for (int i : {0, 3, 4})
            pieces << in.text(i, utf16).remove(QLatin1Char('{'));
        const bool keyFirst = shape & 4;
        pattern = pieces.at(0) + (keyFirst ? QStringLiteral("{key}") : QStringLiteral("{value}")) + pieces.at(1)
                  + (keyFirst ? QStringLiteral("{value}") : QStringLiteral("{key}")) + pieces.at(2);
        expectedText = pieces.at(0) + (keyFirst ? key : value) + pieces.at(1) + (keyFirst ? value : key)
                       + pieces.at(2);
    }
    record.insert(QStringLiteral("pattern"), pattern);

    const Built first = build(record);
    const Built second = build(record);
    if (!(first == second))
        vn::fuzz::broken("building the same record twice differs");
    if (!first.packet) {
        if (first.refusal.isEmpty())
            vn::fuzz::broken("a refusal without a message");
        if (!knownMessage(first.refusal)) {
            std::fprintf(stderr, "message: %s\n", first.refusal.toUtf8().constData());
            vn::fuzz::broken("a refusal with a message the builder does not have");
        }
    } else {
        vn::fuzz::show(first.packet->toHex(' '));
        if (first.packet->isEmpty() || first.packet->size() > kMaxPacket)
            vn::fuzz::broken("a packet outside 1 .. 4096 bytes");
        if (!realFormat)
            vn::fuzz::broken("a packet built for an unknown format");
    }
    const bool tooLong = pattern.size() > 4096 || value.size() > 1024;
    if (tooLong && first.packet)
        vn::fuzz::broken("an over-long template or value was built");

    // HEX constants read back to the bytes they name.
    if (hex && !tooLong && !pattern.contains(QLatin1Char('{'))) {
        QByteArray digits;
        bool onlyHex = true;
        for (QChar c : std::as_const(pattern)) {
            const char16_t u = c.unicode();
            if (u == u' ' || u == u'\t' || u == u'\n' || u == u'\v' || u == u'\f' || u == u'\r')
                continue;
            const bool digit = (u >= u'0' && u <= u'9') || (u >= u'a' && u <= u'f') || (u >= u'A' && u <= u'F');
            onlyHex = onlyHex && digit;
            digits.append(char(u));
        }
        const bool valid = onlyHex && digits.size() % 2 == 0 && !digits.isEmpty() && digits.size() <= 2 * kMaxPacket;
        if (valid != bool(first.packet))
            vn::fuzz::broken(valid ? "valid HEX text refused" : "invalid HEX text accepted");
        if (first.packet && first.packet->toHex() != digits.toLower())
            vn::fuzz::broken("HEX text does not read back to its bytes");
    }

    // A structured HEX template with a number field.
    if (hex && structured && !tooLong && withField) {
        bool ok = false;
        const double number = QLocale::c().toDouble(value, &ok);
        const bool knownType = !type.endsWith(QLatin1String("16")) && type != QLatin1String("f32");
        const qsizetype width = fieldWidth(type);
        const qsizetype total = prefix.size() + width + suffix.size();
        const std::optional<bool> inRange = ok && std::isfinite(number) ? fits(number, type) : false;
        if (first.packet && (!ok || !knownType || !inRange.value_or(true)))
            vn::fuzz::broken("a HEX number field accepted outside its type or range");
        if (!first.packet && knownType && inRange.value_or(false) && total <= kMaxPacket)
            vn::fuzz::broken("a HEX number field in range refused");
        if (first.packet) {
            if (first.packet->size() != total || !first.packet->startsWith(prefix)
                || !first.packet->endsWith(suffix))
                vn::fuzz::broken("HEX constants around a number field changed");
            const double back = readBack(first.packet->mid(prefix.size(), width), type);
            const double want = type.startsWith(QLatin1Char('f')) ? double(float(number)) : number;
            const bool single = type.startsWith(QLatin1Char('f'));
            if (!(back == want) || (single && std::signbit(back) != std::signbit(want)))
                vn::fuzz::broken("a HEX number field does not read back to its value");
        }
    }

    // A structured text template in a codec that round-trips.
    const bool plainText = !structured && !pattern.contains(QLatin1Char('{'));
    if (plainText)
        expectedText = pattern;
    if (textFormat && !tooLong && (structured || plainText) && roundTrips(codec)
        && record.value(QStringLiteral("encoding")).isString() && newlines.indexOf(newline) < 4) {
        const QByteArray ending = newlineBytes(newline);
        const bool lone = hasLoneSurrogate(expectedText);
        if (first.packet) {
            if (lone)
                vn::fuzz::broken("a lone surrogate was encoded without a refusal");
            if (!first.packet->endsWith(ending))
                vn::fuzz::broken("the packet does not end with its line ending");
            const QByteArray body = first.packet->left(first.packet->size() - ending.size());
            if (codec.startsWith(QLatin1String("UTF-16"))) {
                // Code unit for code unit: the decoder would mend what the
                // encoder wrote, so compare the bytes themselves.
                const bool bigEndian = codec.endsWith(QLatin1String("BE"));
                QByteArray units;
                for (QChar c : std::as_const(expectedText)) {
                    const char16_t u = c.unicode();
                    units.append(char(bigEndian ? u >> 8 : u & 0xff));
                    units.append(char(bigEndian ? u & 0xff : u >> 8));
                }
                if (body != units)
                    vn::fuzz::broken("a UTF-16 text packet is not the code units of its filled-in template");
            } else {
                QTextCodec* decoder = QTextCodec::codecForName(codec.toLatin1());
                QTextCodec::ConverterState state(QTextCodec::IgnoreHeader);
                const QString back = decoder->toUnicode(body.constData(), int(body.size()), &state);
                if (back != expectedText)
                    vn::fuzz::broken("a text packet does not decode to its filled-in template");
            }
        } else if (!lone && codec == QLatin1String("utf-8")) {
            const qsizetype length = expectedText.toUtf8().size() + ending.size();
            if (length >= 1 && length <= kMaxPacket)
                vn::fuzz::broken("a UTF-8 text packet within its limits refused");
        }
    }
    return 0;
}
