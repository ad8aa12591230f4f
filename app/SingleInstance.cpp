#include "app/SingleInstance.h"

#include <QCryptographicHash>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>

namespace vn {

namespace {

constexpr int ProbeWaitMs = 100;

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
    probe = std::make_unique<QLocalSocket>();
    probe->connectToServer(name, QIODevice::ReadWrite);
    if (probe->waitForConnected(ProbeWaitMs)) {
        // Any connection is the request; whether the bytes leave in time does not matter.
        probe->write("activate");
        probe->waitForBytesWritten(ProbeWaitMs);
        return true;
    }
    // A refused connection means the name exists but nobody listens on it: a
    // socket file left by an instance that was killed. A live instance, even a
    // busy one, accepts into its backlog, so this is never a running window.
    listen(name, probe->error() == QLocalSocket::ConnectionRefusedError);
    return false;
}

void SingleInstance::listen(const QString& name, bool staleSocket)
{
    server = std::make_unique<QLocalServer>();
    server->setSocketOptions(QLocalServer::UserAccessOption);
    if (server->listen(name))
        return;
    // Without removing the stale name every later start would run unguarded.
    if (staleSocket && server->serverError() == QAbstractSocket::AddressInUseError && QLocalServer::removeServer(name))
        server->listen(name);
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
