#include "core/Journal.h"
#include "core/ReceiverRequest.h"
#include "core/SerialTransfer.h"

#include <QDateTime>
#include <QTest>

using namespace vn;

namespace {

// One journal line: channel, direction ("rx", "tx", "status") and bytes.
struct Line {
    QString channel;
    QString direction;
    QByteArray data;
};

const QByteArray nak(1, SerialTransfer::NAK);

} // namespace

Q_DECLARE_METATYPE(QList<Line>)

class ReceiverRequestTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void asked_data()
    {
        QTest::addColumn<QList<Line>>("lines");
        QTest::addColumn<qint64>("age");
        QTest::addColumn<bool>("asked");
        const QString a = QStringLiteral("s1"), b = QStringLiteral("s2");
        const QString rx = QStringLiteral("rx"), tx = QStringLiteral("tx"), status = QStringLiteral("status");
        QTest::newRow("one C") << QList<Line>{{a, rx, "C"}} << qint64(0) << true;
        // A NAK asks for checksum blocks: no request for the CRC sender.
        QTest::newRow("NAK") << QList<Line>{{a, rx, nak}} << qint64(0) << false;
        QTest::newRow("NAKs") << QList<Line>{{a, rx, nak + nak}} << qint64(0) << false;
        QTest::newRow("C then NAK") << QList<Line>{{a, rx, "C"}, {a, rx, nak}} << qint64(0) << false;
        QTest::newRow("NAK then C") << QList<Line>{{a, rx, nak}, {a, rx, "C"}} << qint64(0) << true;
        QTest::newRow("NAK then C in one read") << QList<Line>{{a, rx, nak + "C"}} << qint64(0) << true;
        QTest::newRow("C after the echoed command") << QList<Line>{{a, tx, "rx f\r"}, {a, rx, "rx f\r\n"}, {a, rx, "C"}}
                                                    << qint64(0) << true;
        QTest::newRow("CCC in one read") << QList<Line>{{a, rx, "CCC"}} << qint64(0) << true;
        QTest::newRow("C then traffic elsewhere") << QList<Line>{{a, rx, "C"}, {b, rx, "hello"}, {b, tx, "x"}}
                                                  << qint64(0) << true;
        QTest::newRow("C still young") << QList<Line>{{a, rx, "C"}} << EarlyRequestWindow - 1000 << true;
        // rx asks every 14 s: its last request is never older than that while it waits.
        QTest::newRow("C one rx repeat old") << QList<Line>{{a, rx, "C"}} << qint64(14100) << true;
        QTest::newRow("C too old") << QList<Line>{{a, rx, "C"}} << EarlyRequestWindow + 1000 << false;
        QTest::newRow("end of a word") << QList<Line>{{a, rx, "ABC"}} << qint64(0) << false;
        QTest::newRow("end of a word, split") << QList<Line>{{a, rx, "AB"}, {a, rx, "C"}} << qint64(0) << false;
        QTest::newRow("C then other bytes") << QList<Line>{{a, rx, "C"}, {a, rx, "x"}} << qint64(0) << false;
        QTest::newRow("C then something sent") << QList<Line>{{a, rx, "C"}, {a, tx, "x"}} << qint64(0) << false;
        QTest::newRow("C then the line changed") << QList<Line>{{a, rx, "C"}, {a, status, QByteArray()}}
                                                 << qint64(0) << false;
        QTest::newRow("C on another channel") << QList<Line>{{b, rx, "C"}} << qint64(0) << false;
        QTest::newRow("nothing received") << QList<Line>{{a, tx, "C"}} << qint64(0) << false;
        QTest::newRow("empty journal") << QList<Line>{} << qint64(0) << false;
    }

    // `age`: how long before the send starts the lines arrived.
    void asked()
    {
        QFETCH(QList<Line>, lines);
        QFETCH(qint64, age);
        QFETCH(bool, asked);
        Journal journal;
        for (const Line& line : lines)
            journal.append(line.channel, line.direction, line.data, QString(), QString(), false, QString());
        const QDateTime start = QDateTime::currentDateTimeUtc().addMSecs(age);
        QCOMPARE(receiverAlreadyAsked(journal, QStringLiteral("s1"), start), asked);
    }
};

QTEST_GUILESS_MAIN(ReceiverRequestTest)
#include "ReceiverRequestTest.moc"
