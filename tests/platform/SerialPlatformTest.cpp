#include "platform/SerialDevice.h"
#include "platform/SerialReadBack.h"
#include "tests/support/TestSupport.h"

#include <QSerialPort>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <unistd.h>

using namespace vn::platform;

class SerialPlatformTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void readBack_data()
    {
        QTest::addColumn<int>("baud");
        QTest::newRow("115200") << 115200;
        QTest::newRow("9600") << 9600;
        QTest::newRow("non-standard 250000") << 250000;
        QTest::newRow("non-standard 31250") << 31250;
    }

    void readBack()
    {
        QFETCH(int, baud);
        vn::test::SocatPair pair;
        QVERIFY(pair.start());
        QSerialPort port;
        port.setPortName(pair.portA());
        QVERIFY(port.open(QIODevice::ReadWrite));
        QVERIFY(port.setBaudRate(baud));
        const SerialLineSettings s = SerialReadBack::read(int(port.handle()));
        QVERIFY(s.ok);
        QCOMPARE(s.baudRate, baud);
        // A pty keeps 8 data bits, no parity, whatever is asked, and has no
        // modem lines.
        QCOMPARE(s.dataBits, 8);
        QCOMPARE(s.parity, 'N');
        QVERIFY(SerialDevice::isPseudoTerminal(int(port.handle())));
        QVERIFY(!SerialDevice::hasModemLines(int(port.handle())));
    }

    void readBackFailure()
    {
        const SerialLineSettings bad = SerialReadBack::read(-1);
        QVERIFY(!bad.ok);
        QVERIFY(!bad.error.isEmpty());
        const int fd = ::open("/dev/null", O_RDWR);
        QVERIFY(fd >= 0);
        QVERIFY(!SerialReadBack::read(fd).ok);
        QVERIFY(!SerialDevice::isPseudoTerminal(fd));
        ::close(fd);
    }

    void deviceNodes()
    {
        vn::test::SocatPair pair;
        QVERIFY(pair.start());
        QVERIFY(SerialDevice::exists(pair.portA()));        // a symlink to a pty
        QVERIFY(SerialDevice::exists(QStringLiteral("/dev/null")));
        QVERIFY(SerialDevice::exists(QStringLiteral("null")));   // bare names live under /dev
        QTemporaryDir dir;
        const QString plain = dir.filePath(QStringLiteral("file"));
        QFile f(plain);
        QVERIFY(f.open(QIODevice::WriteOnly));
        QVERIFY(!SerialDevice::exists(plain));
        QVERIFY(!SerialDevice::exists(dir.filePath(QStringLiteral("missing"))));
        QVERIFY(!SerialDevice::exists(QString()));
        // Paths keep their case: a differently spelled link is another path.
        QVERIFY(!SerialDevice::exists(pair.portA().toUpper()));
        QCOMPARE(SerialDevice::path(QStringLiteral("ttyUSB0")), QStringLiteral("/dev/ttyUSB0"));
        QCOMPARE(SerialDevice::path(pair.portA()), pair.portA());
        pair.stop();
        QVERIFY(!SerialDevice::exists(pair.portA()));
    }
};

QTEST_GUILESS_MAIN(SerialPlatformTest)
#include "SerialPlatformTest.moc"
