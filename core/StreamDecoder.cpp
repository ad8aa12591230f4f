#include "core/StreamDecoder.h"

namespace vn {

namespace {

QTextCodec& codecNamed(const QString& encoding)
{
    QTextCodec* codec = QTextCodec::codecForName(encoding.toLatin1());
    return codec ? *codec : *QTextCodec::codecForName("UTF-8");
}

bool isContinuation(uchar b)
{
    return (b & 0xC0) == 0x80;
}

// The length of the UTF-8 sequence this byte starts, as Qt's decoder reads it
// (0: not a lead byte; it stands alone, valid or not).
int utf8Length(uchar b)
{
    if (b < 0xC2 || b > 0xF4)
        return 0;
    return b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
}

} // namespace

StreamDecoder::StreamDecoder(const QString& encoding) : StreamDecoder(codecNamed(encoding)) {}

StreamDecoder::StreamDecoder(QTextCodec& codec) : m_codec(&codec)
{
    switch (codec.mibEnum()) {
    case 106:
        m_method = Method::Utf8;
        break;
    case 1013: // UTF-16BE
    case 1014: // UTF-16LE
    case 1015: // UTF-16
        m_method = Method::Units;
        m_unit = 2;
        break;
    case 1017: // UTF-32
    case 1018: // UTF-32BE
    case 1019: // UTF-32LE
        m_method = Method::Units;
        m_unit = 4;
        break;
    default: {
        // Qt's bridge to ICU sizes its output for one UTF-16 unit per byte
        // and two more, and leaves what does not fit for the next call. The
        // compressing Unicode schemes give two units for one byte, so those
        // are fed a byte at a time, which always fits.
        const QByteArray name = codec.name();
        if (name == "SCSU" || name == "BOCU-1")
            m_method = Method::Bytewise;
        break;
    }
    }
}

qsizetype StreamDecoder::unfinished(QByteArrayView bytes) const
{
    const qsizetype n = bytes.size();
    switch (m_method) {
    case Method::Utf8:
        // Only the last lead byte can still wait for continuation bytes, when
        // the few bytes after it all continue it.
        for (qsizetype k = n - 1; k >= 0 && k >= n - 3; --k) {
            const uchar b = uchar(bytes[k]);
            if (isContinuation(b))
                continue;
            return utf8Length(b) > n - k ? n - k : 0;
        }
        return 0;
    case Method::Units:
        return n % m_unit;
    case Method::Converter:
    case Method::Bytewise:
        break;
    }
    return 0;
}

QString StreamDecoder::convert(QByteArrayView bytes)
{
    if (bytes.isEmpty())
        return {};
    if (m_method != Method::Bytewise)
        return m_codec->toUnicode(bytes.data(), int(bytes.size()), &m_state);
    QString text;
    for (char byte : bytes)
        text += m_codec->toUnicode(&byte, 1, &m_state);
    return text;
}

QString StreamDecoder::decode(QByteArrayView bytes)
{
    if (bytes.isEmpty())
        return {};
    if (m_tail.isEmpty() && unfinished(bytes) == 0)
        return convert(bytes);
    QByteArray buffer = m_tail;
    buffer.append(bytes);
    const qsizetype keep = unfinished(buffer);
    m_tail = buffer.right(keep);
    buffer.chop(keep);
    if (keep == 0 || buffer.isEmpty() || m_method != Method::Utf8)
        return convert(buffer);
    // A sequence just before the held one may be refuted only by the held
    // lead byte, which is no continuation byte; any other such byte gives
    // the same verdict, and one ASCII letter gives exactly one character.
    buffer.append('A');
    QString text = convert(buffer);
    text.chop(1);
    return text;
}

QString StreamDecoder::finish()
{
    // A whole decode replaces the unfinished sequence at its end with one
    // character for each byte in UTF-8 and one for the part of a code unit in
    // UTF-16 and UTF-32; ICU's converters drop theirs, as a fresh state does.
    QString text;
    if (m_method == Method::Utf8)
        text = m_codec->toUnicode(m_tail);
    else if (!m_tail.isEmpty())
        text = QChar(QChar::ReplacementCharacter);
    m_tail.clear();
    m_state = QTextCodec::ConverterState();
    return text;
}

} // namespace vn
