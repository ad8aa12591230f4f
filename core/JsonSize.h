#pragma once

#include <QString>

#include <cstdio>

namespace vn::json {

// Bytes Qt's JSON writer produces for a string, quotes included: UTF-8, with
// \" \\ \b \f \n \r \t and \u00XX for the other control characters. Used to
// keep byte budgets without serializing (tests hold the two equal).
inline qint64 stringSize(const QString& text)
{
    qint64 size = 2;
    const QChar* p = text.constData();
    const QChar* end = p + text.size();
    for (; p < end; ++p) {
        const char16_t c = p->unicode();
        if (c < 0x80) {
            if (c == u'"' || c == u'\\' || c == u'\b' || c == u'\f' || c == u'\n' || c == u'\r' || c == u'\t')
                size += 2;
            else if (c < 0x20)
                size += 6;
            else
                size += 1;
        } else if (c < 0x800) {
            size += 2;
        } else if (QChar::isHighSurrogate(c) && p + 1 < end && QChar::isLowSurrogate(p[1].unicode())) {
            size += 4;
            ++p;
        } else {
            size += 3;
        }
    }
    return size;
}

inline qint64 integerSize(qint64 value)
{
    char buffer[24];
    return std::snprintf(buffer, sizeof buffer, "%lld", static_cast<long long>(value));
}

} // namespace vn::json
