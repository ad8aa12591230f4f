#include "core/TextEncoding.h"

namespace vn {

QByteArray encodeWhole(const QTextCodec& codec, const QString& text, QTextCodec::ConverterState* state)
{
    // The converters keep the shift state of the last character and never
    // flush it. One trailing ASCII letter makes them switch back; the letter
    // itself is dropped again. Encodings that do not write ASCII as itself
    // (UTF-16, UTF-32) have no shift state to close.
    if (codec.fromUnicode(QStringLiteral("A")) != QByteArrayLiteral("A"))
        return codec.fromUnicode(text.constData(), int(text.size()), state);
    const QString closed = text + QLatin1Char('A');
    QByteArray out = codec.fromUnicode(closed.constData(), int(closed.size()), state);
    if (out.endsWith('A'))
        out.chop(1);
    return out;
}

} // namespace vn
