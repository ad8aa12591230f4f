#pragma once

#include "ui/update/UpdateRelease.h"

#include <QCryptographicHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

#include <memory>
#include <optional>

class QNetworkAccessManager;
class QNetworkReply;

namespace vn {

class WholeFile;

// Finds newer releases (the maker's feed first, the release-hosting service's REST
// interface when the feed fails or is invalid), keeps the three newest releases for
// roll-back (seeded from ":/releases/history.json"), and downloads an installer into
// a private folder, streamed to disk with its size and SHA-256 checked on the way.
// One check, one list query and one download at a time; every outcome is a signal.
class UpdateService : public QObject {
    Q_OBJECT

public:
    // Limits on what a server may send; a reply is aborted as soon as it exceeds one.
    static constexpr qint64 MaxCheckBytes = 1048576;
    static constexpr qint64 MaxHistoryBytes = 2097152;
    static constexpr qint64 MaxInstallerBytes = 314572800;
    static constexpr qsizetype MaxNotesLength = 131072;

    // Either may be null; without a manager the service uses its own.
    explicit UpdateService(QObject* parent = nullptr, QNetworkAccessManager* manager = nullptr);
    ~UpdateService() override;

    void check();
    void checkHistory();
    void download();
    bool downloadRelease(const UpdateRelease& release);
    void cancelDownload();

    bool isChecking() const { return !m_checkReply.isNull(); }
    bool isRefreshingHistory() const { return !m_historyReply.isNull(); }
    bool isDownloading() const { return !m_downloadReply.isNull(); }

    const std::optional<UpdateRelease>& available() const { return m_available; }
    const QList<UpdateRelease>& history() const { return m_history; }
    QString downloadedPath() const { return m_downloadedPath; }
    qint64 received() const { return m_received; }

    // The verified installer, checked again (size and SHA-256) right now and made
    // executable by its owner only; empty, with downloadFailed, when it no longer
    // matches its release. Call this, not downloadedPath(), just before starting it.
    QString installerToStart();

    // The private folder installers are downloaded into (in the user's cache).
    static QString downloadFolder();

    static std::optional<UpdateRelease> parseMirrorManifest(const QByteArray& json,
                                                            const QString& version);
    static std::optional<UpdateRelease> parseRelease(const QByteArray& json, const QString& version);
    static QList<UpdateRelease> parseHistory(const QByteArray& json);
    static QList<UpdateRelease> bundledHistory();

Q_SIGNALS:
    void historyChanged();
    void historyFailed(const QString& message);
    void updateAvailable(const QString& version);
    void downloadProgress(qint64 received, qint64 total);
    void downloadReady(const QString& installerPath);
    void downloadFailed(const QString& message);

private:
    void startCheck(bool feed);
    void finishCheck(QNetworkReply* reply, bool feed);
    void finishHistory(QNetworkReply* reply);
    void receiveChunk(QNetworkReply* reply);
    void finishDownload(QNetworkReply* reply);
    void adopt(const UpdateRelease& release);

    QNetworkAccessManager* m_ownManager;
    QNetworkAccessManager* m_manager;
    QPointer<QNetworkReply> m_checkReply;
    QPointer<QNetworkReply> m_historyReply;
    QList<UpdateRelease> m_history;
    QPointer<QNetworkReply> m_downloadReply;
    std::optional<UpdateRelease> m_available;
    std::unique_ptr<WholeFile> m_saveFile;
    QCryptographicHash m_hash{QCryptographicHash::Sha256};
    qint64 m_received = 0;
    bool m_overflowed = false;
    QString m_downloadedPath;
};

} // namespace vn
