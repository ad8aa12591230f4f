#include "core/ssh/SshAuthSession.h"

#include "core/Fail.h"
#include "core/ssh/SshCredentialCache.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QLocalSocket>
#include <QPointer>
#include <QTimer>
#include <QUuid>

#include <memory>
#include <stdexcept>

namespace vn {

SshAuthPrompt::SshAuthPrompt(QObject* parent)
    : QObject(parent)
{
}

void SshAuthPrompt::answer(const QString& text, bool remember)
{
    if (!callback)
        return;
    const Reply reply = std::move(callback);
    callback = nullptr;
    reply(true, text, remember);
    Q_EMIT finished();
}

void SshAuthPrompt::cancel()
{
    if (!callback)
        return;
    const Reply reply = std::move(callback);
    callback = nullptr;
    reply(false, QString(), false);
    Q_EMIT finished();
}

SshAuthSession::SshAuthSession(const SshTarget& target, const QString& credentialDirectory,
                               QObject* parent)
    : QObject(parent)
    , m_token(QUuid::createUuid().toString(QUuid::Id128))
    , m_host(target.host)
    , m_key(target.key)
    , m_credentialDirectory(credentialDirectory)
{
    m_server.setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server.listen(QStringLiteral("Varnelle-ssh-") + m_token))
        fail(QStringLiteral("无法创建 SSH 认证通道"));
    connect(&m_server, &QLocalServer::newConnection, this, &SshAuthSession::takeConnections);
}

SshAuthSession::~SshAuthSession()
{
    stop();
}

QString SshAuthSession::askpassProgram()
{
    return QDir::toNativeSeparators(QCoreApplication::applicationDirPath()
                                    + QStringLiteral("/VarnelleSSHAskpass"));
}

QString SshAuthSession::serverName() const
{
    return QStringLiteral("Varnelle-ssh-") + m_token;
}

QProcessEnvironment SshAuthSession::environment() const
{
    const QString askpass = askpassProgram();
    if (!QFileInfo(askpass).isExecutable())
        fail(QStringLiteral("缺少 SSH 认证助手，请重新安装完整安装包"));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("SSH_ASKPASS"), askpass);
    environment.insert(QStringLiteral("SSH_ASKPASS_REQUIRE"), QStringLiteral("force"));
    environment.insert(QStringLiteral("VN_SSH_AUTH_SERVER"), serverName());
    environment.insert(QStringLiteral("VN_SSH_AUTH_TOKEN"), m_token);
    return environment;
}

void SshAuthSession::stop()
{
    m_server.close();
    const QSet<QLocalSocket*> open = m_sockets;
    for (QLocalSocket* socket : open)
        socket->abort();
    m_sockets.clear();
}

void SshAuthSession::takeConnections()
{
    while (m_server.hasPendingConnections()) {
        QLocalSocket* socket = m_server.nextPendingConnection();
        if (!socket)
            break;
        m_sockets.insert(socket);
        struct Pending {
            QByteArray buffer;
            bool handled = false;
        };
        auto pending = std::make_shared<Pending>();
        connect(socket, &QLocalSocket::disconnected, this, [this, socket] {
            m_sockets.remove(socket);
            socket->deleteLater();
        });
        // A child of the socket, so the timer goes with its connection instead
        // of staying registered for the whole five minutes after it closed.
        auto* lifetime = new QTimer(socket);
        lifetime->setSingleShot(true);
        connect(lifetime, &QTimer::timeout, socket, [socket] { socket->abort(); });
        lifetime->start(ConnectionTimeoutMs);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket, pending] {
            if (pending->handled)
                return;
            pending->buffer += socket->readAll();
            if (pending->buffer.size() > MaxRequestBytes) {
                socket->abort();
                return;
            }
            const qsizetype end = pending->buffer.indexOf('\n');
            if (end < 0)
                return;
            pending->handled = true;
            accept(socket, QJsonDocument::fromJson(pending->buffer.left(end)).object());
        });
    }
}

void SshAuthSession::accept(QLocalSocket* socket, const QJsonObject& request)
{
    if (request.value(QStringLiteral("token")).toString() != m_token) {
        socket->abort();
        return;
    }
    const QString question = request.value(QStringLiteral("prompt")).toString();
    const QString hint = request.value(QStringLiteral("hint")).toString();
    if (hint == QStringLiteral("none")) {
        reply(socket, true, QString());
        return;
    }

    auto* prompt = new SshAuthPrompt(socket);
    prompt->host = m_host;
    prompt->prompt = question;
    if (hint == QStringLiteral("confirm")
        || question.contains(QStringLiteral("yes/no"), Qt::CaseInsensitive)) {
        prompt->yesNo = true;
    } else if (question.contains(QStringLiteral("password"), Qt::CaseInsensitive)
               || question.contains(QStringLiteral("passphrase"), Qt::CaseInsensitive)) {
        prompt->secret = true;
    }
    const QString entry = m_key + QLatin1Char('\n') + question;
    prompt->retry = m_attempted.contains(entry);
    m_attempted.insert(entry);

    QPointer<QLocalSocket> connection(socket);
    prompt->callback = [this, connection, prompt, entry](bool accepted, const QString& answer,
                                                         bool remember) {
        // A connection that has ended (ssh gave up, the session stopped) takes
        // no answer, and its refusal must not end a later connection attempt.
        if (!connection || connection->state() != QLocalSocket::ConnectedState)
            return;
        if (remember && accepted && prompt->secret) {
            try {
                SshCredentialCache::write(m_credentialDirectory, m_host, entry, answer);
            } catch (const std::exception& failure) {
                prompt->error = errorText(failure);
            }
        }
        reply(connection, accepted, answer);
        if (!accepted)
            Q_EMIT cancelled();
    };
    connect(socket, &QLocalSocket::disconnected, prompt, &SshAuthPrompt::finished);

    try {
        if (prompt->secret && !prompt->retry) {
            const QString remembered = SshCredentialCache::read(m_credentialDirectory, m_host, entry);
            if (!remembered.isEmpty()) {
                prompt->answer(remembered, false);
                return;
            }
        } else if (prompt->secret) {
            // The previous answer to this very question was rejected.
            SshCredentialCache::remove(m_credentialDirectory, m_host, entry);
        }
    } catch (const std::exception&) {
        // An unreadable cache only means the user is asked.
    }
    Q_EMIT promptRequested(prompt);
}

void SshAuthSession::reply(QLocalSocket* socket, bool accepted, const QString& answer)
{
    QJsonObject object;
    object.insert(QStringLiteral("accepted"), accepted);
    object.insert(QStringLiteral("answer"), answer);
    socket->write(QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n');
    socket->disconnectFromServer();
}

} // namespace vn
