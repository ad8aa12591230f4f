#include "core/StreamDecoder.h"
#include "core/TextEncoding.h"

#include <QRandomGenerator>
#include <QTest>

using namespace vn;

namespace {

// The encodings the program offers and those devices commonly speak.
const QList<QByteArray> kCodecs{"UTF-8",  "GBK",         "GB18030", "Big5",     "Shift_JIS", "EUC-KR",
                                "EUC-JP", "ISO-2022-JP", "UTF-16",  "UTF-16BE", "UTF-16LE",  "UTF-32",
                                "ASCII",  "latin-1",     "windows-1252", "SCSU", "BOCU-1"};

// Letters of many scripts, a character outside the basic plane, control
// characters and the byte order mark, so every codec meets what it can
// encode and what it cannot.
const QString kAlphabet = QString::fromUtf8("Aaz09 @=,\r\n\t\x1b" "éßΩжא中文字テスト한국語亜\u3000\U0001F600\uFEFF");

QString piecewise(QTextCodec& codec, const QByteArray& bytes, const QList<qsizetype>& cuts)
{
    StreamDecoder decoder(codec);
    QString text;
    qsizetype from = 0;
    for (qsizetype cut : cuts) {
        text += decoder.decode(QByteArrayView(bytes).sliced(from, cut - from));
        from = cut;
    }
    text += decoder.decode(QByteArrayView(bytes).sliced(from));
    return text + decoder.finish();
}

// Byte strings of three shapes: text the codec wrote, noise, and text the
// codec wrote with bytes cut out and noise let in, so multibyte sequences
// end early and escape sequences break off.
QList<QByteArray> samples(QTextCodec& codec, QRandomGenerator& random, int count, int length)
{
    QList<QByteArray> out;
    for (int i = 0; i < count; ++i) {
        QString text;
        for (int c = 0; c < length; ++c) {
            const qsizetype at = random.bounded(int(kAlphabet.size()));
            text += kAlphabet.at(at);
            if (kAlphabet.at(at).isHighSurrogate())
                text += kAlphabet.at(at + 1);
            else if (kAlphabet.at(at).isLowSurrogate())
                text.chop(1);
        }
        const QByteArray valid = encodeWhole(codec, text);
        QByteArray bytes;
        switch (i % 3) {
        case 0:
            bytes = valid;
            break;
        case 1:
            for (int b = 0; b < length * 2; ++b)
                bytes += char(random.bounded(256));
            break;
        default:
            for (char b : valid) {
                const int roll = random.bounded(8);
                if (roll == 0)
                    continue;
                bytes += b;
                if (roll == 1)
                    bytes += char(random.bounded(256));
            }
            break;
        }
        out.append(bytes);
    }
    return out;
}

} // namespace

class StreamDecoderTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void pieces_data()
    {
        QTest::addColumn<QByteArray>("codec");
        QTest::addColumn<QList<QByteArray>>("pieces");
        QTest::addColumn<QString>("text");
        const QString r(QChar::ReplacementCharacter);
        QTest::newRow("cut-off lead byte, then ASCII")
            << QByteArray("UTF-8") << QList<QByteArray>{"BND1 \xdb", "@after\r\n"} << "BND1 " + r + "@after\r\n";
        QTest::newRow("cut-off three-byte lead, then ASCII")
            << QByteArray("UTF-8") << QList<QByteArray>{"BND3 \xe4", "ABC\r\n"} << "BND3 " + r + "ABC\r\n";
        QTest::newRow("two bytes of three, then ASCII")
            << QByteArray("UTF-8") << QList<QByteArray>{"\xe4\xb8", "A"} << r + r + "A";
        QTest::newRow("character over three reads")
            << QByteArray("UTF-8") << QList<QByteArray>{"\xe4", "\xb8", "\xad"} << QString::fromUtf8("中");
        QTest::newRow("four-byte character split, then a new lead")
            << QByteArray("UTF-8") << QList<QByteArray>{"\xf0\x9f", "\x98\x80\xe4", "\xb8\xad"}
            << QString::fromUtf8("\U0001F600中");
        QTest::newRow("byte order mark split at the start, kept later")
            << QByteArray("UTF-8") << QList<QByteArray>{"\xef", "\xbb\xbf" "A\xef\xbb", "\xbf"}
            << QString::fromUtf8("A\uFEFF");
        QTest::newRow("GBK character split")
            << QByteArray("GBK") << QList<QByteArray>{"x\xd6", "\xd0y"} << QString::fromUtf8("x中y");
        QTest::newRow("GBK lead byte, then a space")
            << QByteArray("GBK") << QList<QByteArray>{"\x81", " A"} << r + " A";
        QTest::newRow("GB18030 four bytes in two reads")
            << QByteArray("GB18030") << QList<QByteArray>{"\x81\x30", "\x81\x30"} << QString(QChar(0x80));
        QTest::newRow("Big5 character split")
            << QByteArray("Big5") << QList<QByteArray>{"\xa4", "\xa4!"} << QString::fromUtf8("中!");
        QTest::newRow("Shift-JIS character split")
            << QByteArray("Shift_JIS") << QList<QByteArray>{"\x92", "\x86@"} << QString::fromUtf8("中@");
        QTest::newRow("EUC-KR character split")
            << QByteArray("EUC-KR") << QList<QByteArray>{"\xc7", "\xd1@"} << QString::fromUtf8("한@");
        QTest::newRow("ISO-2022-JP shift state over reads")
            << QByteArray("ISO-2022-JP") << QList<QByteArray>{"\x1b$", "B0", "!0!\x1b(", "BA"}
            << QString::fromUtf8("亜亜A");
        QTest::newRow("UTF-16 byte order mark and units split")
            << QByteArray("UTF-16") << QList<QByteArray>{"\xfe", QByteArray("\xff\x00", 2), "A"} << "A";
    }
    void pieces()
    {
        QFETCH(QByteArray, codec);
        QFETCH(QList<QByteArray>, pieces);
        QFETCH(QString, text);
        StreamDecoder decoder(QString::fromLatin1(codec));
        QString out;
        for (const QByteArray& piece : pieces)
            out += decoder.decode(piece);
        QCOMPARE(out, text);
        QCOMPARE(decoder.held(), 0);
    }

    void unknownNameFallsBackToUtf8()
    {
        StreamDecoder decoder(QStringLiteral("no-such-codec"));
        QCOMPARE(decoder.codec().mibEnum(), 106);
    }

    // For every codec, each split of a byte string, and random splits into
    // many pieces, decode to exactly the text of the whole string.
    void anySplitDecodesAsWhole_data()
    {
        QTest::addColumn<QByteArray>("name");
        for (const QByteArray& name : kCodecs)
            QTest::newRow(name.constData()) << name;
    }
    void anySplitDecodesAsWhole()
    {
        QFETCH(QByteArray, name);
        QTextCodec* codec = QTextCodec::codecForName(name);
        QVERIFY(codec);
        QRandomGenerator random(qHash(name));
        for (const QByteArray& bytes : samples(*codec, random, 60, 24)) {
            const QString whole = codec->toUnicode(bytes);
            for (qsizetype cut = 0; cut <= bytes.size(); ++cut) {
                if (piecewise(*codec, bytes, {cut}) != whole)
                    QFAIL(qPrintable(QStringLiteral("%1 cut at %2").arg(QString::fromLatin1(bytes.toHex()), QString::number(cut))));
            }
            for (int round = 0; round < 20; ++round) {
                QList<qsizetype> cuts;
                for (qsizetype at = 0; at < bytes.size(); ++at) {
                    if (random.bounded(3) == 0)
                        cuts.append(at);
                }
                QCOMPARE(piecewise(*codec, bytes, cuts), whole);
            }
        }
    }

    // Every codec Qt knows, with fewer strings each.
    void everyCodecSplitsAsWhole()
    {
        QRandomGenerator random(7);
        QStringList failing;
        for (const QByteArray& name : QTextCodec::availableCodecs()) {
            QTextCodec* codec = QTextCodec::codecForName(name);
            for (const QByteArray& bytes : samples(*codec, random, 6, 16)) {
                const QString whole = codec->toUnicode(bytes);
                bool same = true;
                for (qsizetype cut = 0; cut <= bytes.size() && same; ++cut)
                    same = piecewise(*codec, bytes, {cut}) == whole;
                if (!same) {
                    failing.append(QString::fromLatin1(name + ' ' + bytes.toHex()));
                    break;
                }
            }
        }
        QVERIFY2(failing.isEmpty(), qPrintable(failing.join(u'\n')));
    }
};

QTEST_GUILESS_MAIN(StreamDecoderTest)
#include "StreamDecoderTest.moc"
