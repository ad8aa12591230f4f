#include "app/SingleInstance.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QThread>

#include <cstdio>

namespace vn {

namespace {

constexpr int ProbeWaitMs = 100;
// How long a start waits for another start that holds the name to answer: long
// enough for one that is still loading to reach its event loop.
constexpr int ClaimWindowMs = 3000;
constexpr int RetryPauseMs = 100;

void unguarded(const QString& why)
{
    std::fprintf(stderr, "%s\n", why.toLocal8Bit().constData());
}

} // namespace

SingleInstance::SingleInstance() = default;
SingleInstance::~SingleInstance() = default;

QString SingleInstance::name(const QString& user, std::optional<quint16> fixedPort, const QString& settingsPath)
{
    QString suffix;
    if (fixedPort) {
        suffix = QString::number(*fixedPort);
    } else {
        // Absolute but not canonical: a link and its target are two workspaces.
        const QByteArray path = QFileInfo(settingsPath).absoluteFilePath().toUtf8();
        suffix = QString::fromLatin1(QCryptographicHash::hash(path, QCryptographicHash::Sha256).toHex().left(16));
    }
    return QStringLiteral("VarnelleNative-") + user + QLatin1Char('-') + suffix;
}

bool SingleInstance::activateRunning(const QString& name)
{
    if (handOver(name))
        return true;
    const QDeadlineTimer deadline(ClaimWindowMs);
    for (;;) {
        switch (claim(name)) {
        case Claim::Listening:
            return false;
        case Claim::Unguarded:
            unguarded(QStringLiteral("Varnelle：无法监听单实例名称（%1），本实例照常运行，但不接收其他启动的激活请求。")
                          .arg(listenFailure));
            return false;
        case Claim::Taken:
            break;
        }
        // Another start holds the name: it answers once it listens, which a
        // start that is still loading does only a moment later.
        if (handOver(name))
            return true;
        if (deadline.hasExpired())
            break;
        QThread::msleep(RetryPauseMs);
    }
    unguarded(QStringLiteral("Varnelle：同一工作区的另一个实例占用单实例名称但没有响应，"
                             "本实例照常运行，但不接收其他启动的激活请求。"));
    return false;
}

bool SingleInstance::handOver(const QString& name)
{
    probe = std::make_unique<QLocalSocket>();
    probe->connectToServer(name, QIODevice::ReadWrite);
    if (!probe->waitForConnected(ProbeWaitMs))
        return false;
    // Any connection is the request; whether the bytes leave in time does not matter.
    probe->write("activate");
    probe->waitForBytesWritten(ProbeWaitMs);
    return true;
}

SingleInstance::Claim SingleInstance::claim(const QString& name)
{
    // Listening alone cannot decide between two starts: a second listen on
    // the name replaces the first one's socket file and both would run. The
    // lock beside it is taken by one process only, and is free again once
    // its holder is gone, even when that one was killed.
    if (!nameLock) {
        nameLock = std::make_unique<QLockFile>(QDir::tempPath() + QLatin1Char('/') + name + QStringLiteral(".lock"));
        // However long an instance runs, its lock is only stale once it is gone.
        nameLock->setStaleLockTime(0);
    }
    if (!nameLock->tryLock(0)) {
        if (nameLock->error() == QLockFile::LockFailedError)
            return Claim::Taken;
        // No lock can be made there: the name alone guards as far as it can.
        nameLock.reset();
    }
    server = std::make_unique<QLocalServer>();
    server->setSocketOptions(QLocalServer::UserAccessOption);
    if (server->listen(name))
        return Claim::Listening;
    // With the lock held, a name still in use was left by an instance that is
    // gone; without the removal every later start would run unguarded.
    if (nameLock && server->serverError() == QAbstractSocket::AddressInUseError && QLocalServer::removeServer(name)
        && server->listen(name))
        return Claim::Listening;
    const bool taken = !nameLock && server->serverError() == QAbstractSocket::AddressInUseError;
    listenFailure = server->errorString();
    server.reset();
    nameLock.reset();
    return taken ? Claim::Taken : Claim::Unguarded;
}

void SingleInstance::onActivation(QObject* context, std::function<void()> bringToFront)
{
    QLocalServer* local = server.get();
    if (!local)
        return;
    QObject::connect(local, &QLocalServer::newConnection, context, [local, bringToFront = std::move(bringToFront)] {
        while (local->hasPendingConnections()) {
            QLocalSocket* peer = local->nextPendingConnection();
            QObject::connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
            peer->disconnectFromServer();
        }
        bringToFront();
    });
}

bool SingleInstance::listening() const
{
    return server && server->isListening();
}

} // namespace vn
