#include "LocalHttpServer.h"

#include "platform/MemoryTrim.h"
#include "ui/update/InstallerPlatform.h"
#include "ui/update/UpdateHosts.h"
#include "ui/update/UpdateService.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using vn::UpdateService;

// The largest installer a release may promise streams to disk: resident memory stays
// flat while 300 MiB pass through.
class LargeDownloadTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void streamsThreeHundredMiB();
};

void LargeDownloadTest::streamsThreeHundredMiB()
{
    QCoreApplication::setApplicationVersion(QStringLiteral("0.15.32"));
    QTemporaryDir cache;
    qputenv("XDG_CACHE_HOME", cache.path().toLocal8Bit());

    const qint64 size = UpdateService::MaxInstallerBytes;
    const QByteArray block = vn::test::patternBlock();
    QCryptographicHash hash(QCryptographicHash::Sha256);
    for (qint64 done = 0; done < size; done += block.size())
        hash.addData(block);
    const QString fileName = vn::installer_platform::fileName(QStringLiteral("0.15.33"));
    const QJsonObject manifest{{"version", "0.15.33"},
                               {"url", "https://updates.dalmor.net/updates/" + fileName},
                               {"sha256", QString::fromLatin1(hash.result().toHex())},
                               {"size", size},
                               {"filename", fileName}};

    vn::test::LocalHttpServer server;
    server.route(vn::update_hosts::FeedPath, {200, QJsonDocument(manifest).toJson()});
    server.route("/updates/" + fileName.toLatin1(), {200, {}, size});
    vn::test::LoopbackManager manager(server.port());
    UpdateService service(nullptr, &manager);
    QSignalSpy found(&service, &UpdateService::updateAvailable);
    service.check();
    QVERIFY(found.wait());

    const qint64 before = vn::residentMemoryKib() * 1024;
    qint64 peak = before;
    qint64 nextSample = 0;
    connect(&service, &UpdateService::downloadProgress, this, [&](qint64 received, qint64) {
        if (received >= nextSample) {
            peak = qMax(peak, vn::residentMemoryKib() * 1024);
            nextSample = received + 4 * 1024 * 1024;
        }
    });
    QSignalSpy ready(&service, &UpdateService::downloadReady);
    QSignalSpy failed(&service, &UpdateService::downloadFailed);
    service.download();
    QTRY_VERIFY_WITH_TIMEOUT(!ready.isEmpty() || !failed.isEmpty(), 240000);
    QVERIFY2(failed.isEmpty(), qPrintable(failed.value(0).value(0).toString()));
    QCOMPARE(QFileInfo(service.downloadedPath()).size(), size);

    const qint64 growth = peak - before;
    qInfo("resident memory before %lld MiB, peak %lld MiB during the download",
          before >> 20, peak >> 20);
    QVERIFY2(growth < 64 * 1024 * 1024, qPrintable(QString::number(growth >> 20) + " MiB"));
}

QTEST_GUILESS_MAIN(LargeDownloadTest)
#include "LargeDownloadTest.moc"
