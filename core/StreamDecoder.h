#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QTextCodec>

namespace vn {

// Decodes one byte stream that arrives in pieces, so that any split of the
// bytes gives exactly the text of decoding them whole. Qt's own stateful UTF-8
// decoder drops the byte after a sequence that one piece left unfinished, so
// the unfinished tail of a piece is kept here and handed to the codec only
// together with the bytes that finish (or refute) it. The codec's shift state
// (ISO-2022-JP, the UTF-16 byte order) carries over from piece to piece.
class StreamDecoder {
public:
    // The codec named so (aliases and letter case as Qt's registry takes
    // them), else UTF-8.
    explicit StreamDecoder(const QString& encoding);
    explicit StreamDecoder(QTextCodec& codec);
    StreamDecoder(const StreamDecoder&) = delete;
    StreamDecoder& operator=(const StreamDecoder&) = delete;

    // The text of every character these bytes finish.
    QString decode(QByteArrayView bytes);
    // The stream ends here: the text a whole decode gives for what is still
    // held, after which the decoder starts over.
    QString finish();

    const QTextCodec& codec() const { return *m_codec; }
    qsizetype held() const { return m_tail.size(); }

private:
    enum class Method {
        Utf8,       // Qt's UTF-8: the unfinished sequence is held here
        Units,      // Qt's UTF-16 and UTF-32: the part of a code unit is held here
        Converter,  // the codec's own converter holds what it cannot finish yet
        Bytewise,   // the same, one byte at a time (see decode)
    };
    qsizetype unfinished(QByteArrayView bytes) const;
    QString convert(QByteArrayView bytes);

    QTextCodec* m_codec;
    Method m_method = Method::Converter;
    int m_unit = 1;
    QByteArray m_tail;
    QTextCodec::ConverterState m_state;
};

} // namespace vn
