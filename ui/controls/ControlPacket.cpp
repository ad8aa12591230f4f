#include "ui/controls/ControlPacket.h"

#include "core/TextEncoding.h"

#include <QJsonValue>
#include <QLocale>
#include <QRegularExpression>
#include <QTextCodec>

#include <cfloat>
#include <cmath>
#include <cstring>
#include <stdexcept>

namespace vn {

namespace {

constexpr int kMaxPattern = 4096;
constexpr int kMaxValue = 1024;
constexpr int kMaxPacket = 4096;

// The builder's own thrower: the same runtime error as fail(), kept local so
// the builder has no dependency beyond Qt.
[[noreturn]] void invalid(const QString& message)
{
    throw std::runtime_error(message.toUtf8().toStdString());
}

QString stringOf(const QJsonObject& record, const QString& key, const QString& fallback = QString())
{
    const QJsonValue value = record.value(key);
    return value.isString() ? value.toString() : fallback;
}

bool asciiSpace(QChar c)
{
    const char16_t u = c.unicode();
    return u == u' ' || u == u'\t' || u == u'\n' || u == u'\v' || u == u'\f' || u == u'\r';
}

int hexDigit(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    return -1;
}

bool hasUnpairedSurrogate(const QString& text)
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

void flushHex(QString& pending, QByteArray& out)
{
    QString digits;
    digits.reserve(pending.size());
    for (QChar c : std::as_const(pending))
        if (!asciiSpace(c))
            digits.append(c);
    pending.clear();
    if (digits.size() % 2 != 0)
        invalid(QStringLiteral("HEX 常量需要成对的十六进制数字，例如 AA 55"));
    for (qsizetype i = 0; i < digits.size(); i += 2) {
        const int high = hexDigit(digits.at(i));
        const int low = hexDigit(digits.at(i + 1));
        if (high < 0 || low < 0)
            invalid(QStringLiteral("HEX 常量需要成对的十六进制数字，例如 AA 55"));
        out.append(char(high * 16 + low));
    }
}

void appendOrdered(QByteArray& out, quint64 bits, int bytes, bool bigEndian)
{
    for (int i = 0; i < bytes; ++i) {
        const int shift = bigEndian ? (bytes - 1 - i) * 8 : i * 8;
        out.append(char((bits >> shift) & 0xff));
    }
}

void appendNumber(QByteArray& out, const QString& valueText, const QString& type)
{
    bool ok = false;
    const double number = QLocale::c().toDouble(valueText, &ok);
    if (!ok || !std::isfinite(number))
        invalid(QStringLiteral("HEX 数值必须是有限数字"));

    if (type == QLatin1String("f32le") || type == QLatin1String("f32be")) {
        // Half an ulp above the largest single rounds to infinity (its
        // mantissa is odd, so the tie goes up too).
        static const double overflow = double(FLT_MAX) + std::ldexp(1.0, 103);
        if (std::fabs(number) >= overflow)
            invalid(QStringLiteral("数值超出 32 位浮点范围"));
        const float single = float(number);
        quint32 bits = 0;
        std::memcpy(&bits, &single, sizeof bits);
        appendOrdered(out, bits, 4, type.endsWith(QLatin1String("be")));
        return;
    }

    static const QRegularExpression integer(QStringLiteral("\\A([ui])(8|16|32)(le|be)?\\z"));
    const QRegularExpressionMatch match = integer.match(type);
    if (!match.hasMatch())
        invalid(QStringLiteral("未知数值类型：") + type);
    const bool isSigned = match.captured(1) == QLatin1String("i");
    const int width = match.captured(2).toInt();
    const QString order = match.captured(3);
    if (width > 8 && order.isEmpty())
        invalid(QStringLiteral("多字节数值需要指定 le 或 be 字节序"));

    const double low = isSigned ? -std::ldexp(1.0, width - 1) : 0.0;
    const double high = isSigned ? std::ldexp(1.0, width - 1) - 1.0 : std::ldexp(1.0, width) - 1.0;
    if (number != std::trunc(number) || number < low || number > high)
        invalid(QStringLiteral("数值超出 ") + type + QStringLiteral(" 的整数范围"));
    const auto whole = static_cast<qint64>(number);
    appendOrdered(out, static_cast<quint64>(whole), width / 8, order == QLatin1String("be"));
}

QByteArray hexPacket(const QString& pattern, const QString& valueText)
{
    QByteArray out;
    QString pending;
    for (qsizetype i = 0; i < pattern.size(); ++i) {
        const QChar c = pattern.at(i);
        if (c != QLatin1Char('{')) {
            pending.append(c);
            continue;
        }
        flushHex(pending, out);
        const qsizetype close = pattern.indexOf(QLatin1Char('}'), i + 1);
        if (close < 0)
            invalid(QStringLiteral("占位符缺少右花括号"));
        const QString inside = pattern.mid(i + 1, close - i - 1);
        if (!inside.startsWith(QLatin1String("value:")))
            invalid(QStringLiteral("HEX 使用 {value:u8} 等数值占位符"));
        appendNumber(out, valueText, inside.mid(6));
        i = close;
    }
    flushHex(pending, out);
    return out;
}

QByteArray textPacket(const QJsonObject& record, const QString& pattern, const QString& valueText)
{
    const QString encoding = stringOf(record, QStringLiteral("encoding"), QStringLiteral("utf-8"));
    QTextCodec* codec = QTextCodec::codecForName(encoding.toLatin1());
    if (!codec)
        invalid(QStringLiteral("不支持此文本编码"));

    static const QRegularExpression placeholder(QStringLiteral("\\{([A-Za-z_][A-Za-z0-9_:]*)\\}"));
    QString text;
    qsizetype from = 0;
    auto it = placeholder.globalMatch(pattern);
    while (it.hasNext()) {
        const QRegularExpressionMatch match = it.next();
        text += QStringView(pattern).mid(from, match.capturedStart() - from);
        const QString name = match.captured(1);
        if (name == QLatin1String("key"))
            text += stringOf(record, QStringLiteral("key"));
        else if (name == QLatin1String("value"))
            text += valueText;
        else
            invalid(QStringLiteral("未知占位符：") + match.captured(0));
        from = match.capturedEnd();
    }
    text += QStringView(pattern).mid(from);

    QByteArray out;
    if (!text.isEmpty()) {
        // An unpaired surrogate (a "\ud800" escape in a stored panel) is no
        // character at all: some codecs drop it or hold it back as the start
        // of a pair without counting it, which would send a packet short of
        // what the template says.
        QTextCodec::ConverterState state(QTextCodec::IgnoreHeader);
        out = encodeWhole(*codec, text, &state);
        if (state.invalidChars > 0 || state.remainingChars > 0 || hasUnpairedSurrogate(text))
            invalid(QStringLiteral("当前编码无法表示这些字符"));
    }

    const QString newline = stringOf(record, QStringLiteral("newline"), QStringLiteral("crlf"));
    if (newline == QLatin1String("crlf"))
        out.append("\r\n");
    else if (newline == QLatin1String("lf"))
        out.append('\n');
    else if (newline == QLatin1String("cr"))
        out.append('\r');
    else if (newline != QLatin1String("none"))
        invalid(QStringLiteral("未知行尾格式"));
    return out;
}

} // namespace

QJsonObject defaultControl(const QString& type)
{
    return QJsonObject{
        {QStringLiteral("type"), type},
        {QStringLiteral("title"), QStringLiteral("新控件")},
        {QStringLiteral("key"), QStringLiteral("value")},
        {QStringLiteral("value"), QStringLiteral("0")},
        {QStringLiteral("minimum"), 0},
        {QStringLiteral("maximum"), 100},
        {QStringLiteral("step"), 1},
        {QStringLiteral("decimals"), 0},
        {QStringLiteral("auto_send"), false},
        {QStringLiteral("options"), QStringLiteral("低=0\n中=1\n高=2")},
        {QStringLiteral("format"), QStringLiteral("text")},
        {QStringLiteral("pattern"), QStringLiteral("SET {key} {value}")},
        {QStringLiteral("encoding"), QStringLiteral("utf-8")},
        {QStringLiteral("newline"), QStringLiteral("crlf")},
    };
}

QByteArray controlPacket(const QJsonObject& control)
{
    const QString pattern = stringOf(control, QStringLiteral("pattern"));
    const QString valueText = stringOf(control, QStringLiteral("value"));
    if (pattern.size() > kMaxPattern || valueText.size() > kMaxValue)
        invalid(QStringLiteral("模板或数值过长"));

    const QJsonValue format = control.value(QStringLiteral("format"));
    QByteArray packet;
    if (format.isString() && format.toString() == QLatin1String("text"))
        packet = textPacket(control, pattern, valueText);
    else if (format.isString() && format.toString() == QLatin1String("hex"))
        packet = hexPacket(pattern, valueText);
    else
        invalid(QStringLiteral("未知发送格式"));

    if (packet.isEmpty() || packet.size() > kMaxPacket)
        invalid(QStringLiteral("报文长度需要为 1～4096 字节"));
    return packet;
}

QString typeName(const QString& type)
{
    if (type == QLatin1String("slider"))
        return QStringLiteral("滑块");
    if (type == QLatin1String("number"))
        return QStringLiteral("数字输入");
    if (type == QLatin1String("switch"))
        return QStringLiteral("开关");
    if (type == QLatin1String("button"))
        return QStringLiteral("按钮");
    return QStringLiteral("下拉框");
}

QList<ControlOption> controlOptions(const QString& text)
{
    QList<ControlOption> options;
    const QStringList lines = text.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (const QString& line : lines) {
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals <= 0)
            continue;
        options.append({line.left(equals).trimmed(), line.mid(equals + 1).trimmed()});
    }
    return options;
}

} // namespace vn
