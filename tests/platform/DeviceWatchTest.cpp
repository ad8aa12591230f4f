#include "platform/DeviceWatch.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace vn::platform;

class DeviceWatchTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void defaultsAreTheDeviceFolders();
    void aNodeComingAndGoingIsReported();
    void theLinkFolderIsWatchedOnceItAppears();
};

void DeviceWatchTest::defaultsAreTheDeviceFolders()
{
    QCOMPARE(DeviceWatch::defaultFolders(),
             QStringList({QStringLiteral("/dev"), QStringLiteral("/dev/serial/by-id")}));
    DeviceWatch watch;
    QVERIFY(watch.watched().contains(QStringLiteral("/dev")));
}

void DeviceWatchTest::aNodeComingAndGoingIsReported()
{
    QTemporaryDir folder;
    DeviceWatch watch(nullptr, {folder.path()});
    QCOMPARE(watch.watched(), QStringList{folder.path()});
    QSignalSpy changes(&watch, &DeviceWatch::devicesChanged);

    QFile node(folder.filePath(QStringLiteral("ttyUSB0")));
    QVERIFY(node.open(QIODevice::WriteOnly));
    node.close();
    QVERIFY(changes.wait(20000));

    changes.clear();
    QVERIFY(node.remove());
    QVERIFY(changes.wait(20000));
}

void DeviceWatchTest::theLinkFolderIsWatchedOnceItAppears()
{
    QTemporaryDir folder;
    const QString links = folder.filePath(QStringLiteral("serial/by-id"));
    DeviceWatch watch(nullptr, {folder.path(), links});
    QCOMPARE(watch.watched(), QStringList{folder.path()});
    QSignalSpy changes(&watch, &DeviceWatch::devicesChanged);

    QVERIFY(QDir(folder.path()).mkpath(QStringLiteral("serial/by-id")));
    QVERIFY(changes.wait(20000));
    QTRY_VERIFY(watch.watched().contains(links));

    changes.clear();
    QVERIFY(QFile::link(folder.filePath(QStringLiteral("ttyUSB0")),
                        links + QStringLiteral("/usb-Maker_Device_0001-if00-port0")));
    QVERIFY(changes.wait(20000));
}

QTEST_GUILESS_MAIN(DeviceWatchTest)
#include "DeviceWatchTest.moc"
