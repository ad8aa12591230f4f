#include "LocalHttpServer.h"

#include "ui/update/InstallerPlatform.h"
#include "ui/update/UpdateHosts.h"
#include "ui/update/UpdateService.h"
#include "tests/support/FileSizeLimit.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <unistd.h>

using vn::UpdateRelease;
using vn::UpdateService;
using vn::test::LocalHttpServer;
using vn::test::LoopbackManager;
using vn::test::Route;

namespace {

const QString Failed = QStringLiteral("下载失败或安装包校验未通过，请重试");
const QByteArray Installer = "#!/bin/sh\necho 'Varnelle 0.15.33'\n" + QByteArray(5000, '#') + "\n";

QString sha(const QByteArray& bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

QString name(const QString& version)
{
    return vn::installer_platform::fileName(version);
}

// An earlier download of the same installer, which a failed one must leave.
bool writeOlderFile(QFile& file)
{
    if (!QDir().mkpath(QFileInfo(file.fileName()).path()) || !file.open(QIODevice::WriteOnly))
        return false;
    const bool written = file.write("older file") == 10;
    file.close();
    return written;
}

QByteArray json(const QJsonValue& value)
{
    return value.isArray() ? QJsonDocument(value.toArray()).toJson(QJsonDocument::Compact)
                           : QJsonDocument(value.toObject()).toJson(QJsonDocument::Compact);
}

QJsonObject manifest(const QString& version = QStringLiteral("0.15.33"), const QByteArray& file = Installer)
{
    return {{"version", version},
            {"url", QStringLiteral("https://updates.dalmor.net/updates/") + name(version)},
            {"sha256", sha(file)},
            {"size", file.size()},
            {"filename", name(version)},
            {"title", "Varnelle " + version},
            {"notes", "## 新增"},
            {"published_at", "2026-12-01T10:00:00Z"}};
}

QString downloadPath(const QString& tag, const QString& version)
{
    return QStringLiteral("/dalmor/varnelle/releases/download/%1/%2").arg(tag, name(version));
}

QJsonObject release(const QString& version, const QByteArray& file = Installer,
                    const QString& tag = QString())
{
    const QString t = tag.isEmpty() ? "v" + version : tag;
    const QJsonObject asset{{"name", name(version)},
                            {"state", "uploaded"},
                            {"size", file.size()},
                            {"digest", "sha256:" + sha(file)},
                            {"browser_download_url", "https://github.com" + downloadPath(t, version)}};
    return {{"tag_name", t}, {"name", "Varnelle " + version}, {"draft", false},
            {"prerelease", false}, {"body", "notes " + version},
            {"published_at", "2026-12-01T10:00:00Z"}, {"assets", QJsonArray{asset}}};
}

QJsonObject with(QJsonObject object, const QString& key, const QJsonValue& value)
{
    if (value.isUndefined())
        object.remove(key);
    else
        object.insert(key, value);
    return object;
}

QJsonObject withAsset(const QJsonObject& object, const QString& key, const QJsonValue& value)
{
    QJsonArray assets = object.value("assets").toArray();
    assets.replace(0, with(assets.at(0).toObject(), key, value));
    return with(object, "assets", assets);
}

QByteArray releasesFile(const QString& fileName)
{
    QFile file(QStringLiteral(VN_BINARY_DIR "/ui/update/releases/") + fileName);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class UpdateServiceTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QCoreApplication::setApplicationVersion(QStringLiteral("0.15.32")); }
    void init();
    void cleanup();

    void manifestRules_data();
    void manifestRules();
    void manifestFields();
    void releaseRules_data();
    void releaseRules();
    void historyParsing();
    void bundledHistory();

    void feedValid();
    void feedNotNewerAsksNoOne();
    void feedFailureFallsBackToRest_data();
    void feedFailureFallsBackToRest();
    void oversizeBodyIsAbortedEarly();
    void sameVersionTwiceKeepsDownload();
    void historyRefresh();
    void historyFailures_data();
    void historyFailures();

    void downloadFromHistory();
    void downloadFailures_data();
    void downloadFailures();
    void failedDownloadLeavesExistingFile();
    void fullDiskLeavesExistingFile();
    void cancel();
    void downloadOnce();
    void downloadReleaseRules();
    void checkDuringDownloadKeepsRelease();
    void installerCheckedAgain();
    void unsafeFolderRefused_data();
    void unsafeFolderRefused();

private:
    void serveFeed(const QJsonObject& object) { m_server->route(vn::update_hosts::FeedPath, {200, json(object)}); }
    void serveInstaller(const QByteArray& path, const QByteArray& bytes) { m_server->route(path, {200, bytes}); }
    // A service that has found 0.15.33 through the feed.
    void findUpdate(UpdateService& service);

    std::unique_ptr<QTemporaryDir> m_cache;
    std::unique_ptr<LocalHttpServer> m_server;
    std::unique_ptr<LoopbackManager> m_manager;
};

void UpdateServiceTest::init()
{
    m_cache = std::make_unique<QTemporaryDir>();
    qputenv("XDG_CACHE_HOME", m_cache->path().toLocal8Bit());
    m_server = std::make_unique<LocalHttpServer>();
    m_manager = std::make_unique<LoopbackManager>(m_server->port());
}

void UpdateServiceTest::cleanup()
{
    m_manager.reset();
    m_server.reset();
    m_cache.reset();
}

void UpdateServiceTest::manifestRules_data()
{
    QTest::addColumn<QJsonObject>("manifest");
    QTest::addColumn<bool>("valid");

    const QJsonObject base = manifest();
    const QString path = "/updates/" + name("0.15.33");
    QTest::newRow("valid") << base << true;
    QTest::newRow("much newer") << manifest("0.15.100") << true;
    QTest::newRow("running version") << manifest("0.15.32") << false;
    QTest::newRow("older") << manifest("0.15.9") << false;
    QTest::newRow("leading v") << with(base, "version", "v0.15.33") << false;
    QTest::newRow("version with line feed") << with(base, "version", "0.15.33\n") << false;
    QTest::newRow("two numbers") << with(manifest("0.15"), "filename", name("0.15")) << false;
    QTest::newRow("four numbers") << manifest("0.15.33.1") << false;
    QTest::newRow("segment too large") << manifest("99999999999.0.0") << false;
    QTest::newRow("version not a string") << with(base, "version", 15) << false;
    QTest::newRow("file name case") << with(base, "filename", name("0.15.33").toLower()) << false;
    QTest::newRow("other host") << with(base, "url", "https://evil.example" + path) << false;
    QTest::newRow("host case") << with(base, "url", "https://UPDATES.dalmor.net" + path) << true;
    QTest::newRow("port 443") << with(base, "url", "https://updates.dalmor.net:443" + path) << false;
    QTest::newRow("port 8443") << with(base, "url", "https://updates.dalmor.net:8443" + path) << false;
    QTest::newRow("user info") << with(base, "url", "https://me@updates.dalmor.net" + path) << false;
    QTest::newRow("query") << with(base, "url", "https://updates.dalmor.net" + path + "?a=1") << false;
    QTest::newRow("empty query") << with(base, "url", "https://updates.dalmor.net" + path + "?") << false;
    QTest::newRow("fragment") << with(base, "url", "https://updates.dalmor.net" + path + "#x") << false;
    QTest::newRow("path case") << with(base, "url", "https://updates.dalmor.net" + path.toUpper()) << false;
    QTest::newRow("encoded path") << with(base, "url", "https://updates.dalmor.net/updates/%56" + path.mid(10)) << true;
    QTest::newRow("other folder") << with(base, "url", "https://updates.dalmor.net/files/" + name("0.15.33")) << false;
    QTest::newRow("plain http") << with(base, "url", "http://updates.dalmor.net" + path) << false;
    QTest::newRow("size 0") << with(base, "size", 0) << false;
    QTest::newRow("size 1") << with(base, "size", 1) << true;
    QTest::newRow("size 300 MiB") << with(base, "size", 314572800) << true;
    QTest::newRow("size 300 MiB + 1") << with(base, "size", 314572801) << false;
    QTest::newRow("size not integral") << with(base, "size", 10.5) << false;
    QTest::newRow("size missing") << with(base, "size", QJsonValue::Undefined) << false;
    QTest::newRow("size as text") << with(base, "size", "100") << false;
    QTest::newRow("digest upper case") << with(base, "sha256", sha(Installer).toUpper()) << true;
    QTest::newRow("digest 63 digits") << with(base, "sha256", sha(Installer).left(63)) << false;
    QTest::newRow("digest 65 digits") << with(base, "sha256", sha(Installer) + "0") << false;
    QTest::newRow("digest with line feed") << with(base, "sha256", sha(Installer) + "\n") << false;
    QTest::newRow("digest not hex") << with(base, "sha256", "g" + sha(Installer).mid(1)) << false;
}

void UpdateServiceTest::manifestRules()
{
    QFETCH(QJsonObject, manifest);
    QFETCH(bool, valid);
    QCOMPARE(UpdateService::parseMirrorManifest(json(manifest), "0.15.32").has_value(), valid);
}

void UpdateServiceTest::manifestFields()
{
    QJsonObject object = with(manifest(), "sha256", sha(Installer).toUpper());
    object.insert("notes", QString(200000, u'x'));
    const auto parsed = UpdateService::parseMirrorManifest(json(object), "0.15.32");
    QVERIFY(parsed);
    QCOMPARE(parsed->version, "0.15.33");
    QCOMPARE(parsed->fileName, "Varnelle-0.15.33-linux-x86_64.AppImage");
    QCOMPARE(parsed->sha256, sha(Installer).toLatin1());
    QCOMPARE(parsed->size, Installer.size());
    QCOMPARE(parsed->notes.size(), 131072);
    QCOMPARE(parsed->title, "Varnelle 0.15.33");
    QCOMPARE(parsed->publishedAt, "2026-12-01T10:00:00Z");
    QVERIFY(!UpdateService::parseMirrorManifest("[]", "0.15.32"));
    QVERIFY(!UpdateService::parseMirrorManifest("{", "0.15.32"));
}

void UpdateServiceTest::releaseRules_data()
{
    QTest::addColumn<QJsonObject>("object");
    QTest::addColumn<bool>("valid");

    const QJsonObject base = release("0.15.33");
    QTest::newRow("valid") << base << true;
    QTest::newRow("tag without v") << release("0.15.33", Installer, "0.15.33") << true;
    QTest::newRow("tag with upper-case V") << release("0.15.33", Installer, "V0.15.33") << false;
    QTest::newRow("tag with line feed") << release("0.15.33", Installer, "v0.15.33\n") << false;
    QTest::newRow("path without the tag's v")
        << withAsset(base, "browser_download_url", "https://github.com" + downloadPath("0.15.33", "0.15.33")) << false;
    QTest::newRow("draft") << with(base, "draft", true) << false;
    QTest::newRow("prerelease") << with(base, "prerelease", true) << false;
    QTest::newRow("draft missing") << with(base, "draft", QJsonValue::Undefined) << true;
    QTest::newRow("not newer") << release("0.15.32") << false;
    QTest::newRow("asset not uploaded") << withAsset(base, "state", "new") << false;
    QTest::newRow("asset of another name") << withAsset(base, "name", "setup.exe") << false;
    QTest::newRow("no assets") << with(base, "assets", QJsonArray()) << false;
    QTest::newRow("api host") << withAsset(base, "browser_download_url", "https://api.github.com" + downloadPath("v0.15.33", "0.15.33")) << false;
    QTest::newRow("port") << withAsset(base, "browser_download_url", "https://github.com:443" + downloadPath("v0.15.33", "0.15.33")) << false;
    QTest::newRow("query") << withAsset(base, "browser_download_url", "https://github.com" + downloadPath("v0.15.33", "0.15.33") + "?x") << false;
    QTest::newRow("digest without prefix") << withAsset(base, "digest", sha(Installer)) << false;
    QTest::newRow("digest of md5") << withAsset(base, "digest", "md5:" + sha(Installer)) << false;
    QTest::newRow("digest with line feed") << withAsset(base, "digest", "sha256:" + sha(Installer) + "\n") << false;
    QTest::newRow("size 0") << withAsset(base, "size", 0) << false;
    QTest::newRow("size 300 MiB") << withAsset(base, "size", 314572800) << true;
    QTest::newRow("size 300 MiB + 1") << withAsset(base, "size", 314572801) << false;

    QJsonObject twoAssets = base;
    QJsonArray assets = base.value("assets").toArray();
    assets.prepend(with(assets.at(0).toObject(), "state", "starter"));
    twoAssets.insert("assets", assets);
    QTest::newRow("uploaded asset after a pending one") << twoAssets << true;
}

void UpdateServiceTest::releaseRules()
{
    QFETCH(QJsonObject, object);
    QFETCH(bool, valid);
    const auto parsed = UpdateService::parseRelease(json(object), "0.15.32");
    QCOMPARE(parsed.has_value(), valid);
    if (valid) {
        QCOMPARE(parsed->version, "0.15.33");
        QCOMPARE(parsed->title, "Varnelle 0.15.33");
        QCOMPARE(parsed->notes, "notes 0.15.33");
    }
}

void UpdateServiceTest::historyParsing()
{
    QJsonObject twin = release("0.15.20");
    twin.insert("name", "second");
    const QJsonArray list{release("0.15.20"), twin, QJsonValue(5), release("0.15.40"),
                          with(release("0.15.50"), "draft", true), release("0.9.1"),
                          release("0.15.3"), release("1.0.0")};
    const QList<UpdateRelease> history = UpdateService::parseHistory(json(list));
    QCOMPARE(history.size(), 3);
    QCOMPARE(history[0].version, "1.0.0");
    QCOMPARE(history[1].version, "0.15.40");
    QCOMPARE(history[2].version, "0.15.20");
    QCOMPARE(history[2].title, "Varnelle 0.15.20"); // the first occurrence wins
    QVERIFY(UpdateService::parseHistory(json(QJsonObject{{"a", 1}})).isEmpty());
    QVERIFY(UpdateService::parseHistory("not json").isEmpty());
}

void UpdateServiceTest::bundledHistory()
{
    UpdateService service(nullptr, m_manager.get());
    const QList<UpdateRelease> history = service.history();
    QCOMPARE(history.size(), 3);
    const QStringList versions{"0.15.31", "0.15.30", "0.15.29"};
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(history[i].version, versions[i]);
        QCOMPARE(history[i].url.toString(),
                 "https://github.com" + downloadPath("v" + versions[i], versions[i]));
        const QByteArray file = releasesFile(history[i].fileName);
        QVERIFY(!file.isEmpty());
        QCOMPARE(history[i].size, file.size());
        QCOMPARE(history[i].sha256, sha(file).toLatin1());
        QVERIFY(!history[i].notes.isEmpty());
    }
}

void UpdateServiceTest::feedValid()
{
    serveFeed(manifest());
    UpdateService service(nullptr, m_manager.get());
    QSignalSpy found(&service, &UpdateService::updateAvailable);
    service.check();
    QVERIFY(service.isChecking());
    QVERIFY(found.wait());
    QCOMPARE(found.at(0).at(0).toString(), "0.15.33");
    QCOMPARE(service.available()->version, "0.15.33");
    QCOMPARE(m_server->requests, QList<QByteArray>{"/updates/latest.json"});
    const QNetworkRequest asked = m_manager->asked.at(0);
    QCOMPARE(asked.url().toString(), "https://updates.dalmor.net/updates/latest.json");
    QCOMPARE(asked.header(QNetworkRequest::UserAgentHeader).toString(), "Varnelle-Updater");
    QCOMPARE(asked.rawHeader("Accept"), "application/json");
    QCOMPARE(asked.transferTimeout(), 8000);
    QTRY_VERIFY(!service.isChecking());
}

void UpdateServiceTest::feedNotNewerAsksNoOne()
{
    serveFeed(manifest("0.15.32"));
    UpdateService service(nullptr, m_manager.get());
    QSignalSpy found(&service, &UpdateService::updateAvailable);
    service.check();
    QTRY_VERIFY(!service.isChecking());
    QCOMPARE(m_server->requests, QList<QByteArray>{"/updates/latest.json"});
    QCOMPARE(found.size(), 0);
    QVERIFY(!service.available());
}

void UpdateServiceTest::feedFailureFallsBackToRest_data()
{
    QTest::addColumn<Route>("feed");
    QTest::addColumn<int>("timeoutDivisor");
    QTest::newRow("status 500") << Route{500, json(manifest())} << 1;
    QTest::newRow("not JSON") << Route{200, "<html>"} << 1;
    QTest::newRow("file name in other case")
        << Route{200, json(with(manifest(), "filename", name("0.15.33").toUpper()))} << 1;
    // Time-outs are divided by 40: the 8 s feed time-out becomes 200 ms here.
    QTest::newRow("stalled transfer") << Route{200, json(manifest()), -1, 10} << 40;
}

void UpdateServiceTest::feedFailureFallsBackToRest()
{
    QFETCH(Route, feed);
    QFETCH(int, timeoutDivisor);
    m_manager->timeoutDivisor = timeoutDivisor;
    m_server->route(vn::update_hosts::FeedPath, feed);
    m_server->route(vn::update_hosts::RestLatestPath, {200, json(release("0.15.34"))});
    UpdateService service(nullptr, m_manager.get());
    QSignalSpy found(&service, &UpdateService::updateAvailable);
    service.check();
    QVERIFY(found.wait(10000));
    QCOMPARE(found.at(0).at(0).toString(), "0.15.34");
    QCOMPARE(m_server->requests,
             (QList<QByteArray>{"/updates/latest.json", "/repos/dalmor/varnelle/releases/latest"}));
    const QNetworkRequest rest = m_manager->asked.at(1);
    QCOMPARE(rest.url().host(), "api.github.com");
    QCOMPARE(rest.rawHeader("Accept"), "application/vnd.github+json");
    QCOMPARE(rest.transferTimeout(), 15000);
}

void UpdateServiceTest::oversizeBodyIsAbortedEarly()
{
    // 64 MiB of feed, 64 MiB of release list: both far past their limits.
    const qint64 huge = 64 * 1024 * 1024;
    m_server->route(vn::update_hosts::FeedPath, {200, {}, huge});
    m_server->route(vn::update_hosts::RestLatestPath, {200, {}, huge});
    m_server->route("/repos/dalmor/varnelle/releases?per_page=30", {200, {}, huge});
    UpdateService service(nullptr, m_manager.get());
    QSignalSpy found(&service, &UpdateService::updateAvailable);
    QSignalSpy failed(&service, &UpdateService::historyFailed);
    service.check();
    service.checkHistory();
    QVERIFY(failed.wait(10000));
    QTRY_VERIFY(!service.isChecking());
    QCOMPARE(found.size(), 0);
    QCOMPARE(m_server->requests.size(), 3);
    QCOMPARE(service.history().size(), 3);
    for (const QByteArray& path : m_server->requests)
        QVERIFY2(m_server->sent.value(path) < 16 * 1024 * 1024, path.constData());
}

void UpdateServiceTest::findUpdate(UpdateService& service)
{
    serveFeed(with(manifest(), "sha256", sha(Installer).toUpper()));
    serveInstaller("/updates/" + name("0.15.33").toLatin1(), Installer);
    QSignalSpy found(&service, &UpdateService::updateAvailable);
    service.check();
    QVERIFY(found.wait());
    QTRY_VERIFY(!service.isChecking());
}

void UpdateServiceTest::sameVersionTwiceKeepsDownload()
{
    UpdateService service(nullptr, m_manager.get());
    findUpdate(service);
    QSignalSpy ready(&service, &UpdateService::downloadReady);
    service.download();
    QVERIFY(ready.wait());
    const QString path = service.downloadedPath();
    QVERIFY(!path.isEmpty());

    QSignalSpy found(&service, &UpdateService::updateAvailable);
    service.check();
    QVERIFY(found.wait());
    QCOMPARE(service.downloadedPath(), path);

    serveFeed(manifest("0.15.35"));
    service.check();
    QVERIFY(found.wait());
    QCOMPARE(found.size(), 2);
    QCOMPARE(service.available()->version, "0.15.35");
    QVERIFY(service.downloadedPath().isEmpty());
}

void UpdateServiceTest::historyRefresh()
{
    m_server->route("/repos/dalmor/varnelle/releases?per_page=30",
                    {200, json(QJsonArray{release("0.15.33"), release("0.15.34")})});
    UpdateService service(nullptr, m_manager.get());
    QSignalSpy changed(&service, &UpdateService::historyChanged);
    service.checkHistory();
    QVERIFY(service.isRefreshingHistory());
    QVERIFY(changed.wait());
    QCOMPARE(service.history().size(), 2);
    QCOMPARE(service.history().at(0).version, "0.15.34");
    const QNetworkRequest asked = m_manager->asked.at(0);
    QCOMPARE(asked.url().toString(), "https://api.github.com/repos/dalmor/varnelle/releases?per_page=30");
    QCOMPARE(asked.rawHeader("Accept"), "application/vnd.github+json");
    QCOMPARE(asked.transferTimeout(), 15000);
}

void UpdateServiceTest::historyFailures_data()
{
    QTest::addColumn<Route>("list");
    QTest::newRow("status 404") << Route{404, json(QJsonArray{release("0.15.33")})};
    QTest::newRow("no valid release") << Route{200, json(QJsonArray{with(release("0.15.33"), "draft", true)})};
    QTest::newRow("object") << Route{200, json(release("0.15.33"))};
    QByteArray padded = json(QJsonArray{release("0.15.33")});
    padded.insert(1, QByteArray(2 * 1024 * 1024, ' '));
    QTest::newRow("valid list past 2 MiB") << Route{200, padded};
}

void UpdateServiceTest::historyFailures()
{
    QFETCH(Route, list);
    m_server->route("/repos/dalmor/varnelle/releases?per_page=30", list);
    UpdateService service(nullptr, m_manager.get());
    const QList<UpdateRelease> before = service.history();
    QSignalSpy failed(&service, &UpdateService::historyFailed);
    QSignalSpy changed(&service, &UpdateService::historyChanged);
    service.checkHistory();
    QVERIFY(failed.wait());
    QCOMPARE(failed.at(0).at(0).toString(), "无法刷新版本列表，保留已有发布记录。可稍后重试。");
    QCOMPARE(changed.size(), 0);
    QCOMPARE(service.history(), before);
}

void UpdateServiceTest::downloadFromHistory()
{
    UpdateService service(nullptr, m_manager.get());
    const UpdateRelease entry = service.history().at(1);
    const QByteArray file = releasesFile(entry.fileName);
    serveInstaller(entry.url.path().toLatin1(), file);
    QSignalSpy ready(&service, &UpdateService::downloadReady);
    QSignalSpy progress(&service, &UpdateService::downloadProgress);
    QVERIFY(service.downloadRelease(entry));
    QVERIFY(ready.wait());
    const QString path = ready.at(0).at(0).toString();
    QCOMPARE(path, UpdateService::downloadFolder() + "/" + entry.fileName);
    QVERIFY(path.startsWith(m_cache->path()));
    QCOMPARE(service.downloadedPath(), path);
    QCOMPARE(service.received(), file.size());
    QCOMPARE(progress.last().at(0).toLongLong(), file.size());
    QCOMPARE(progress.last().at(1).toLongLong(), file.size());
    QFile saved(path);
    QVERIFY(saved.open(QIODevice::ReadOnly));
    QCOMPARE(saved.readAll(), file);
    QCOMPARE(int(QFileInfo(path).permissions() & 0x0777), 0x0700);
    QCOMPARE(int(QFileInfo(UpdateService::downloadFolder()).permissions() & 0x0777), 0x0700);

    const QNetworkRequest asked = m_manager->asked.last();
    QCOMPARE(asked.url(), entry.url);
    QCOMPARE(asked.header(QNetworkRequest::UserAgentHeader).toString(), "Varnelle-Updater");
    QVERIFY(!asked.hasRawHeader("Accept"));
    QCOMPARE(asked.attribute(QNetworkRequest::RedirectPolicyAttribute).toInt(),
             int(QNetworkRequest::NoLessSafeRedirectPolicy));
    QCOMPARE(asked.transferTimeout(), 60000);
}

void UpdateServiceTest::downloadFailures_data()
{
    QTest::addColumn<Route>("installer");
    QTest::addColumn<int>("timeoutDivisor");
    QByteArray offByOne = Installer;
    offByOne[10] = char(offByOne[10] + 1);
    QTest::newRow("one byte too long") << Route{200, Installer + "x"} << 1;
    QTest::newRow("one byte too short") << Route{200, Installer.chopped(1)} << 1;
    QTest::newRow("digest off by one") << Route{200, offByOne} << 1;
    QTest::newRow("status 404") << Route{404, Installer} << 1;
    // 60 s divided by 100: the stalled download ends after 600 ms without bytes.
    QTest::newRow("stalled transfer") << Route{200, Installer, -1, 100} << 100;
}

void UpdateServiceTest::downloadFailures()
{
    QFETCH(Route, installer);
    QFETCH(int, timeoutDivisor);
    UpdateService service(nullptr, m_manager.get());
    findUpdate(service);
    m_manager->timeoutDivisor = timeoutDivisor;
    m_server->route("/updates/" + name("0.15.33").toLatin1(), installer);
    QSignalSpy failed(&service, &UpdateService::downloadFailed);
    service.download();
    QVERIFY(service.isDownloading());
    QVERIFY(failed.wait(10000));
    QCOMPARE(failed.at(0).at(0).toString(), Failed);
    QVERIFY(!service.isDownloading());
    QVERIFY(service.downloadedPath().isEmpty());
    QCOMPARE(service.available()->version, "0.15.33");
    // Nothing under the final name, and no temporary file left behind.
    QCOMPARE(QDir(UpdateService::downloadFolder()).entryList(QDir::Files | QDir::Hidden), QStringList());
    QVERIFY(service.received() <= Installer.size());
}

void UpdateServiceTest::failedDownloadLeavesExistingFile()
{
    UpdateService service(nullptr, m_manager.get());
    findUpdate(service);
    QFile old(UpdateService::downloadFolder() + "/" + name("0.15.33"));
    QVERIFY(writeOlderFile(old));
    QByteArray offByOne = Installer;
    offByOne[0] = 'X';
    serveInstaller("/updates/" + name("0.15.33").toLatin1(), offByOne);
    QSignalSpy failed(&service, &UpdateService::downloadFailed);
    service.download();
    QVERIFY(failed.wait());
    QVERIFY(old.open(QIODevice::ReadOnly));
    QCOMPARE(old.readAll(), "older file");
}

// The installer is far below the save file's own buffer: only a flush of each
// chunk sees that the disk refuses it.
void UpdateServiceTest::fullDiskLeavesExistingFile()
{
    UpdateService service(nullptr, m_manager.get());
    findUpdate(service);
    QFile old(UpdateService::downloadFolder() + "/" + name("0.15.33"));
    QVERIFY(writeOlderFile(old));
    serveInstaller("/updates/" + name("0.15.33").toLatin1(), Installer);
    QSignalSpy failed(&service, &UpdateService::downloadFailed);
    QSignalSpy ready(&service, &UpdateService::downloadReady);
    {
        // What a full disk does, without root.
        const vn::test::FileSizeLimit limit(1024);
        service.download();
        QVERIFY(failed.wait());
    }
    QCOMPARE(failed.at(0).at(0).toString(), Failed);
    QVERIFY(ready.isEmpty());
    QVERIFY(old.open(QIODevice::ReadOnly));
    QCOMPARE(old.readAll(), "older file");
    QCOMPARE(QDir(UpdateService::downloadFolder()).entryList(QDir::Files | QDir::Hidden), QStringList{name("0.15.33")});
}

void UpdateServiceTest::cancel()
{
    UpdateService service(nullptr, m_manager.get());
    findUpdate(service);
    m_server->route("/updates/" + name("0.15.33").toLatin1(), {200, Installer, -1, 100});
    QSignalSpy progress(&service, &UpdateService::downloadProgress);
    QSignalSpy failed(&service, &UpdateService::downloadFailed);
    service.download();
    QVERIFY(progress.wait());
    service.cancelDownload();
    QTRY_COMPARE(failed.size(), 1);
    QCOMPARE(failed.at(0).at(0).toString(), Failed);
    QVERIFY(!service.isDownloading());
}

void UpdateServiceTest::downloadOnce()
{
    UpdateService service(nullptr, m_manager.get());
    findUpdate(service);
    QSignalSpy ready(&service, &UpdateService::downloadReady);
    service.download();
    service.download();
    QVERIFY(ready.wait());
    QCOMPARE(m_server->requests.count("/updates/" + name("0.15.33").toLatin1()), 1);
    QCOMPARE(ready.size(), 1);
}

void UpdateServiceTest::downloadReleaseRules()
{
    UpdateService service(nullptr, m_manager.get());
    UpdateRelease entry = service.history().at(0);
    serveInstaller(entry.url.path().toLatin1(), releasesFile(entry.fileName));
    m_server->route("/repos/dalmor/varnelle/releases?per_page=30", {200, "[]", -1, 0});

    service.checkHistory();
    QVERIFY(!service.downloadRelease(entry)); // the list is being refreshed
    QVERIFY(!service.isDownloading());

    UpdateService second(nullptr, m_manager.get());
    UpdateRelease other = entry;
    other.size += 1;
    QVERIFY(!second.downloadRelease(other));
    entry.notes = "other notes";
    entry.title = "other title";
    QSignalSpy ready(&second, &UpdateService::downloadReady);
    QVERIFY(second.downloadRelease(entry));
    QVERIFY(ready.wait());
    QCOMPARE(second.available()->notes, second.history().at(0).notes);
}

void UpdateServiceTest::checkDuringDownloadKeepsRelease()
{
    UpdateService service(nullptr, m_manager.get());
    const UpdateRelease entry = service.history().at(0);
    // The feed never answers; the REST interface offers another version; the download
    // goes slowly enough for the REST answer to arrive while it runs.
    m_server->route(vn::update_hosts::FeedPath, {200, json(manifest()), -1, 0});
    m_server->route(vn::update_hosts::RestLatestPath, {200, json(release("0.15.40"))});
    const QByteArray file = releasesFile(entry.fileName);
    m_server->route(entry.url.path().toLatin1(), {200, file, -1, 100});
    QSignalSpy found(&service, &UpdateService::updateAvailable);
    service.check();
    QTRY_COMPARE(m_server->requests.size(), 1);
    QVERIFY(service.downloadRelease(entry));
    // The aborted feed query fell through to REST, which has answered by now.
    QTRY_VERIFY(!service.isChecking());
    QCOMPARE(m_server->requests.count(vn::update_hosts::RestLatestPath), 1);
    QCOMPARE(found.size(), 0);
    QCOMPARE(service.available()->version, entry.version);
    service.cancelDownload();
}

void UpdateServiceTest::installerCheckedAgain()
{
    UpdateService service(nullptr, m_manager.get());
    findUpdate(service);
    QVERIFY(service.installerToStart().isEmpty()); // nothing downloaded yet
    QSignalSpy ready(&service, &UpdateService::downloadReady);
    service.download();
    QVERIFY(ready.wait());
    const QString path = service.downloadedPath();
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther | QFile::ExeOther);
    QCOMPARE(service.installerToStart(), path);
    QCOMPARE(int(QFileInfo(path).permissions() & 0x0777), 0x0700);

    QFile file(path);
    QVERIFY(file.open(QIODevice::Append));
    file.write("!");
    file.close();
    QSignalSpy failed(&service, &UpdateService::downloadFailed);
    QVERIFY(service.installerToStart().isEmpty());
    QCOMPARE(failed.size(), 1);
    QCOMPARE(failed.at(0).at(0).toString(), "安装包已被更改或损坏，请重新下载");
    QVERIFY(service.downloadedPath().isEmpty());
}

void UpdateServiceTest::unsafeFolderRefused_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("symbolic link") << "link";
    QTest::newRow("another user's folder") << "owner";
    QTest::newRow("a file") << "file";
}

void UpdateServiceTest::unsafeFolderRefused()
{
    QFETCH(QString, kind);
    UpdateService service(nullptr, m_manager.get());
    findUpdate(service);
    const QString folder = UpdateService::downloadFolder();
    QTemporaryDir elsewhere;
    if (kind == "link") {
        QVERIFY(QFile::link(elsewhere.path(), folder));
    } else if (kind == "owner") {
        if (::geteuid() != 0)
            QSKIP("needs root to give the folder to another user");
        QVERIFY(QDir().mkdir(folder));
        QCOMPARE(::chown(QFile::encodeName(folder).constData(), 65534, 65534), 0);
    } else {
        QFile file(folder);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    QSignalSpy failed(&service, &UpdateService::downloadFailed);
    service.download();
    QCOMPARE(failed.size(), 1);
    QCOMPARE(failed.at(0).at(0).toString(), "无法创建更新下载目录");
    QVERIFY(!service.isDownloading());
    QVERIFY(QDir(elsewhere.path()).isEmpty());
}

QTEST_GUILESS_MAIN(UpdateServiceTest)
#include "UpdateServiceTest.moc"
