#include "ui/update/UpdateService.h"

#include "core/Version.h"
#include "platform/WholeFile.h"
#include "ui/update/UpdateHosts.h"

#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrlQuery>

namespace vn {

namespace {

constexpr int FeedTimeoutMs = 8000;
constexpr int RestTimeoutMs = 15000;

QString runningVersion()
{
    const QString version = QCoreApplication::applicationVersion();
    return version.isEmpty() ? QString::fromLatin1(Version) : version;
}

QNetworkRequest jsonRequest(const QUrl& url, const QByteArray& accept, int timeoutMs)
{
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::UserAgentHeader, QByteArrayLiteral("Varnelle-Updater"));
    request.setRawHeader("Accept", accept);
    request.setTransferTimeout(timeoutMs);
    return request;
}

QUrl httpsUrl(const char* host, const char* path, const char* query = nullptr)
{
    QUrl url;
    url.setScheme(QStringLiteral("https"));
    url.setHost(QString::fromLatin1(host));
    url.setPath(QString::fromLatin1(path));
    if (query != nullptr)
        url.setQuery(QString::fromLatin1(query));
    return url;
}

// Aborts the reply as soon as more than `limit` bytes wait in it, so an endless or
// hostile body is never buffered whole.
void bound(QNetworkReply* reply, qint64 limit)
{
    // Flow control keeps the network layer from reading far ahead of us.
    reply->setReadBufferSize(limit + 64 * 1024);
    QObject::connect(reply, &QNetworkReply::readyRead, reply, [reply, limit] {
        if (reply->bytesAvailable() > limit)
            reply->abort();
    });
}

int statusOf(const QNetworkReply* reply)
{
    return reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
}

} // namespace

UpdateService::UpdateService(QObject* parent, QNetworkAccessManager* manager)
    : QObject(parent)
    , m_ownManager(new QNetworkAccessManager(this))
    , m_manager(manager != nullptr ? manager : m_ownManager)
    , m_history(bundledHistory())
{
}

UpdateService::~UpdateService()
{
    // Replies of a shared manager outlive us: stop them so nothing writes on.
    for (QNetworkReply* reply : {m_checkReply.data(), m_historyReply.data(), m_downloadReply.data()}) {
        if (reply != nullptr) {
            reply->disconnect(this);
            reply->abort();
            reply->deleteLater();
        }
    }
}

void UpdateService::check()
{
    if (isChecking() || isDownloading())
        return;
    startCheck(true);
}

void UpdateService::startCheck(bool feed)
{
    const QNetworkRequest request =
        feed ? jsonRequest(httpsUrl(update_hosts::FeedHost, update_hosts::FeedPath),
                           QByteArrayLiteral("application/json"), FeedTimeoutMs)
             : jsonRequest(httpsUrl(update_hosts::RestHost, update_hosts::RestLatestPath),
                           QByteArrayLiteral("application/vnd.github+json"), RestTimeoutMs);
    QNetworkReply* reply = m_manager->get(request);
    m_checkReply = reply;
    bound(reply, MaxCheckBytes);
    connect(reply, &QNetworkReply::finished, this, [this, reply, feed] { finishCheck(reply, feed); });
}

void UpdateService::finishCheck(QNetworkReply* reply, bool feed)
{
    m_checkReply = nullptr;
    reply->deleteLater();
    if (statusOf(reply) != 200 || reply->error() != QNetworkReply::NoError
        || reply->bytesAvailable() > MaxCheckBytes) {
        if (feed)
            startCheck(false);
        return;
    }
    const QByteArray body = reply->readAll();
    const QString version = runningVersion();
    const std::optional<UpdateRelease> release =
        feed ? parseMirrorManifest(body, version) : parseRelease(body, version);
    if (release) {
        adopt(*release);
        return;
    }
    // A valid manifest that is simply not newer settles the question; only an invalid
    // one sends us to the REST interface.
    if (feed && !parseMirrorManifest(body, QStringLiteral("0.0.0")))
        startCheck(false);
}

void UpdateService::adopt(const UpdateRelease& release)
{
    // The release being downloaded stays what it is; the next check will find the
    // newer one again.
    if (isDownloading())
        return;
    if (!m_available || m_available->version != release.version)
        m_downloadedPath.clear();
    m_available = release;
    Q_EMIT updateAvailable(release.version);
}

void UpdateService::checkHistory()
{
    if (isRefreshingHistory() || isDownloading())
        return;
    QNetworkReply* reply = m_manager->get(
        jsonRequest(httpsUrl(update_hosts::RestHost, update_hosts::RestListPath, update_hosts::RestListQuery),
                    QByteArrayLiteral("application/vnd.github+json"), RestTimeoutMs));
    m_historyReply = reply;
    bound(reply, MaxHistoryBytes);
    connect(reply, &QNetworkReply::finished, this, [this, reply] { finishHistory(reply); });
}

void UpdateService::finishHistory(QNetworkReply* reply)
{
    m_historyReply = nullptr;
    reply->deleteLater();
    QList<UpdateRelease> releases;
    if (reply->error() == QNetworkReply::NoError && statusOf(reply) == 200
        && reply->bytesAvailable() <= MaxHistoryBytes)
        releases = parseHistory(reply->readAll());
    if (releases.isEmpty()) {
        Q_EMIT historyFailed(QStringLiteral("无法刷新版本列表，保留已有发布记录。可稍后重试。"));
        return;
    }
    m_history = releases;
    Q_EMIT historyChanged();
}

} // namespace vn
