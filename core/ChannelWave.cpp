#include "core/Channel.h"

#include "core/Fail.h"

#include <QDateTime>
#include <QJsonArray>
#include <QRegularExpression>

#include <charconv>
#include <cmath>

namespace vn {

namespace {

constexpr qsizetype MaxWaveLine = 8192;
constexpr int MaxWaveFields = 16;
constexpr int MaxSamples = 5000;

const QRegularExpression& fieldPattern()
{
    static const QRegularExpression pattern(QStringLiteral(
        "\\A[ \\t]*([\\p{L}_][\\p{L}\\p{N}_]{0,63})[ \\t]*=[ \\t]*"
        "([+-]?(?:[0-9]+(?:\\.[0-9]*)?|\\.[0-9]+)(?:[eE][+-]?[0-9]+)?)[ \\t]*\\z"));
    return pattern;
}

bool toFiniteDouble(const char* begin, const char* end, double& value)
{
    if (begin != end && *begin == '+')
        ++begin;
    const auto [ptr, ec] = std::from_chars(begin, end, value);
    if (ec == std::errc() && ptr == end)
        return std::isfinite(value);
    // Out of range (or anything unusual): the general conversion decides.
    bool ok = false;
    value = QByteArray(begin, end - begin).toDouble(&ok);
    return ok && std::isfinite(value);
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool isAsciiNameStart(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}

// One "name=value" part. Pure-ASCII parts take a hand-written path that
// accepts exactly what the field pattern does; others go through the pattern.
bool parseField(const char* p, const char* end, QString& name, double& value)
{
    for (const char* q = p; q < end; ++q) {
        if (static_cast<unsigned char>(*q) >= 0x80) {
            const QString text = QString::fromUtf8(p, end - p);
            const QRegularExpressionMatch match = fieldPattern().match(text);
            if (!match.hasMatch())
                return false;
            name = match.captured(1);
            const QByteArray number = match.captured(2).toLatin1();
            return toFiniteDouble(number.constBegin(), number.constEnd(), value);
        }
    }
    while (p < end && isBlank(*p))
        ++p;
    const char* nameBegin = p;
    if (p == end || !isAsciiNameStart(*p))
        return false;
    ++p;
    while (p < end && (isAsciiNameStart(*p) || isDigit(*p)))
        ++p;
    if (p - nameBegin > 64)
        return false;
    const char* nameEnd = p;
    while (p < end && isBlank(*p))
        ++p;
    if (p == end || *p != '=')
        return false;
    ++p;
    while (p < end && isBlank(*p))
        ++p;
    const char* numberBegin = p;
    if (p < end && (*p == '+' || *p == '-'))
        ++p;
    const char* digits = p;
    while (p < end && isDigit(*p))
        ++p;
    bool any = p > digits;
    if (p < end && *p == '.') {
        ++p;
        const char* fraction = p;
        while (p < end && isDigit(*p))
            ++p;
        any = any || p > fraction;
    }
    if (!any)
        return false;
    if (p < end && (*p == 'e' || *p == 'E')) {
        const char* exponent = p;
        ++p;
        if (p < end && (*p == '+' || *p == '-'))
            ++p;
        const char* exponentDigits = p;
        while (p < end && isDigit(*p))
            ++p;
        if (p == exponentDigits)
            p = exponent;   // not an exponent: the trailing check below rejects it
    }
    const char* numberEnd = p;
    while (p < end && isBlank(*p))
        ++p;
    if (p != end)
        return false;
    name = QString::fromLatin1(nameBegin, nameEnd - nameBegin);
    return toFiniteDouble(numberBegin, numberEnd, value);
}

bool decodeBody(const char* p, const char* end, QJsonObject& values)
{
    int parts = 1;
    for (const char* q = p; q < end; ++q)
        if (*q == ',' && ++parts > MaxWaveFields)
            return false;
    QString fieldName;
    double value = 0;
    while (true) {
        const char* comma = static_cast<const char*>(std::memchr(p, ',', size_t(end - p)));
        const char* partEnd = comma ? comma : end;
        if (!parseField(p, partEnd, fieldName, value) || values.contains(fieldName))
            return false;
        values.insert(fieldName, value);
        if (!comma)
            return true;
        p = comma + 1;
    }
}

bool isWavePrefix(const char* p, qsizetype size)
{
    return size >= 6 && std::memcmp(p, "@wave ", 6) == 0;
}

} // namespace

void Channel::parseWave(Source& source, const QByteArray& data)
{
    source.waveLine.append(data);
    const char* base = source.waveLine.constData();
    const qsizetype total = source.waveLine.size();
    qsizetype start = 0;
    while (start < total) {
        const char* p = base + start;
        const qsizetype rest = total - start;
        const char* cr = static_cast<const char*>(std::memchr(p, '\r', size_t(rest)));
        const char* lf = static_cast<const char*>(std::memchr(p, '\n', size_t(cr ? cr - p : rest)));
        const char* terminator = lf ? lf : cr;
        if (!terminator) {
            if (rest > MaxWaveLine) {
                if (!source.discardLine && isWavePrefix(p, rest))
                    ++source.rejectedLines;
                start = total;
                source.discardLine = true;
            }
            break;
        }
        const qsizetype length = terminator - p;
        start += length + 1;
        if (source.discardLine) {
            source.discardLine = false;
            continue;
        }
        if (!isWavePrefix(p, length))
            continue;
        if (length > MaxWaveLine) {
            ++source.rejectedLines;
            continue;
        }
        QJsonObject values;
        if (!decodeBody(p + 6, p + length, values)) {
            ++source.rejectedLines;
            continue;
        }
        ++source.sampleIndex;
        // A copy of a prepared object: one allocation instead of regrowth.
        static const QJsonObject plain{{QStringLiteral("index"), 0}, {QStringLiteral("time"), 0.0},
                                       {QStringLiteral("values"), QJsonObject()}};
        QJsonObject sample = plain;
        sample.insert(QLatin1String("index"), source.sampleIndex);
        sample.insert(QLatin1String("time"), double(QDateTime::currentMSecsSinceEpoch()) / 1000.0);
        sample.insert(QLatin1String("values"), values);
        source.samples.push_back(std::move(sample));
        if (qsizetype(source.samples.size()) > MaxSamples)
            source.samples.pop_front();
    }
    source.waveLine.remove(0, start);
}

QJsonObject Channel::waveform(int n) const
{
    if (n < 1 || n > MaxSamples)
        fail(QStringLiteral("波形采样范围 1..5000"));
    QJsonObject out;
    for (const auto& [key, source] : sources) {
        QJsonArray samples;
        const std::size_t count = std::min(std::size_t(n), source->samples.size());
        for (std::size_t i = source->samples.size() - count; i < source->samples.size(); ++i)
            samples.append(source->samples[i]);
        QJsonObject entry;
        entry.insert(QLatin1String("samples"), samples);
        entry.insert(QLatin1String("total_samples"), source->sampleIndex);
        entry.insert(QLatin1String("rejected_lines"), source->rejectedLines);
        out.insert(key, entry);
    }
    QJsonObject result;
    result.insert(QLatin1String("channel_id"), id);
    result.insert(QLatin1String("protocol"), QStringLiteral("wave/1"));
    result.insert(QLatin1String("sources"), out);
    return result;
}

} // namespace vn
