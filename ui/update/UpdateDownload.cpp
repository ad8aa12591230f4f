// The installer download of UpdateService: streamed into a whole-or-nothing file in a
// private folder, bounded by the promised size and hashed on the way, committed under
// its final name only when size and digest match.
#include "platform/WholeFile.h"
#include "ui/update/PrivateFolder.h"
#include "ui/update/UpdateService.h"

#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QStandardPaths>

#include <algorithm>

namespace vn {

namespace {

constexpr int DownloadTimeoutMs = 60000;
// Flow control: the network layer stops reading while this much waits unread, so a
// disk slower than the line never piles the installer up in memory.
constexpr qint64 ReadBufferBytes = 1024 * 1024;

const QString FailedText = QStringLiteral("下载失败或安装包校验未通过，请重试");

constexpr QFile::Permissions OwnerExecutable = QFile::ReadOwner | QFile::WriteOwner
                                               | QFile::ExeOwner | QFile::ReadUser
                                               | QFile::WriteUser | QFile::ExeUser;

// Whether the file at `path` is exactly the installer the release promised.
bool matches(const QString& path, const UpdateRelease& release)
{
    if (!isOwnRegularFile(path))
        return false;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() != release.size)
        return false;
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!hash.addData(&file))
        return false;
    return hash.result().toHex() == release.sha256;
}

} // namespace

QString UpdateService::downloadFolder()
{
    // In the user's own cache, never in the shared temporary folder where another user
    // could prepare the name in advance.
    const QString cache = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    return cache.isEmpty() ? QString() : cache + QStringLiteral("/VarnelleUpdates");
}

void UpdateService::download()
{
    if (!m_available || isDownloading())
        return;
    // The aborted check ends as a failed one (a feed query then falls through to REST).
    if (isChecking())
        m_checkReply->abort();

    const QString folder = downloadFolder();
    if (folder.isEmpty() || !ensurePrivateFolder(folder)) {
        Q_EMIT downloadFailed(QStringLiteral("无法创建更新下载目录"));
        return;
    }
    const QString target = folder + u'/' + m_available->fileName;
    // A link under the final name would make the commit write elsewhere.
    if (QFileInfo(target).isSymLink())
        QFile::remove(target);
    m_saveFile = std::make_unique<WholeFile>(target);
    if (!m_saveFile->open()) {
        m_saveFile.reset();
        Q_EMIT downloadFailed(QStringLiteral("无法写入更新安装包"));
        return;
    }
    m_received = 0;
    m_overflowed = false;
    m_downloadedPath.clear();
    m_hash.reset();

    QNetworkRequest request(m_available->url);
    request.setHeader(QNetworkRequest::UserAgentHeader, QByteArrayLiteral("Varnelle-Updater"));
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setTransferTimeout(DownloadTimeoutMs);
    QNetworkReply* reply = m_manager->get(request);
    reply->setReadBufferSize(ReadBufferBytes);
    m_downloadReply = reply;
    connect(reply, &QNetworkReply::readyRead, this, [this, reply] { receiveChunk(reply); });
    connect(reply, &QNetworkReply::downloadProgress, this, [this] {
        if (m_available)
            Q_EMIT downloadProgress(m_received, m_available->size);
    });
    connect(reply, &QNetworkReply::finished, this, [this, reply] { finishDownload(reply); });
}

void UpdateService::receiveChunk(QNetworkReply* reply)
{
    if (!m_saveFile || !m_available)
        return;
    const QByteArray bytes = reply->readAll();
    if (bytes.isEmpty())
        return;
    if (bytes.size() > m_available->size - m_received) {
        // More than promised: nothing of it is written, and the download cannot succeed.
        m_overflowed = true;
        reply->abort();
        return;
    }
    // Each chunk reaches the disk before the next is read, so a full disk ends
    // the download here rather than as a cut-off installer at the commit.
    if (!m_saveFile->write(bytes)) {
        m_overflowed = true;
        reply->abort();
        return;
    }
    m_hash.addData(bytes);
    m_received += bytes.size();
    Q_EMIT downloadProgress(m_received, m_available->size);
}

void UpdateService::finishDownload(QNetworkReply* reply)
{
    m_downloadReply = nullptr;
    receiveChunk(reply);
    reply->deleteLater();
    const bool verified = m_available && m_saveFile && !m_overflowed
                          && reply->error() == QNetworkReply::NoError
                          && reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() == 200
                          && m_received == m_available->size
                          && m_hash.result().toHex() == m_available->sha256;
    if (!verified) {
        m_saveFile.reset(); // discards the partial data
        Q_EMIT downloadFailed(FailedText);
        return;
    }
    const QString path = m_saveFile->fileName();
    const bool committed = m_saveFile->setPermissions(OwnerExecutable) && m_saveFile->commit();
    m_saveFile.reset();
    if (!committed || !QFile::setPermissions(path, OwnerExecutable)) {
        Q_EMIT downloadFailed(QStringLiteral("无法保存更新安装包"));
        return;
    }
    m_downloadedPath = path;
    Q_EMIT downloadReady(path);
}

void UpdateService::cancelDownload()
{
    if (isDownloading())
        m_downloadReply->abort();
}

bool UpdateService::downloadRelease(const UpdateRelease& release)
{
    if (isDownloading() || isRefreshingHistory())
        return false;
    const auto entry = std::find(m_history.cbegin(), m_history.cend(), release);
    if (entry == m_history.cend())
        return false;
    if (!m_available || m_available->version != entry->version)
        m_downloadedPath.clear();
    m_available = *entry;
    download();
    return isDownloading();
}

QString UpdateService::installerToStart()
{
    if (m_downloadedPath.isEmpty() || !m_available || isDownloading())
        return {};
    // The file sat in the cache since it was verified; it is started only as it was then.
    if (!matches(m_downloadedPath, *m_available)
        || !QFile::setPermissions(m_downloadedPath, OwnerExecutable)) {
        m_downloadedPath.clear();
        Q_EMIT downloadFailed(QStringLiteral("安装包已被更改或损坏，请重新下载"));
        return {};
    }
    return m_downloadedPath;
}

} // namespace vn
