#pragma once

#include "core/ssh/SshTarget.h"

#include <QJsonObject>
#include <QLocalServer>
#include <QObject>
#include <QProcessEnvironment>
#include <QSet>
#include <QString>

#include <functional>

class QLocalSocket;

namespace vn {

// One question of the SSH client that needs an answer: a host-key
// confirmation (yesNo), a password or passphrase (secret, may be
// remembered), or another challenge. Its parent is the askpass connection
// that carried it, so it dies with that connection.
class SshAuthPrompt : public QObject {
    Q_OBJECT
public:
    using Reply = std::function<void(bool accepted, const QString& answer, bool remember)>;

    explicit SshAuthPrompt(QObject* parent);

    QString host;
    QString prompt;
    bool yesNo = false;
    bool retry = false;
    bool secret = false;
    QString error; // set by `answer` when remembering the secret failed
    Reply callback;

    // Both run the reply once; later calls do nothing.
    void answer(const QString& text, bool remember);
    void cancel();

Q_SIGNALS:
    // After `answer` or `cancel`, and when the connection ends while pending;
    // may come twice.
    void finished();
};

// The program's end of the askpass bridge for one SSH connection attempt: a
// user-only local server that the askpass helper reaches with one JSON line
// per question, admitted by a random token. Questions are answered from the
// credential cache once, or passed on through `promptRequested`.
class SshAuthSession : public QObject {
    Q_OBJECT
public:
    static constexpr qsizetype MaxRequestBytes = 16384;
    static constexpr int ConnectionTimeoutMs = 300000;

    // Throws "无法创建 SSH 认证通道" when the server cannot listen.
    SshAuthSession(const SshTarget& target, const QString& credentialDirectory, QObject* parent);
    ~SshAuthSession() override;

    // The system environment with SSH_ASKPASS, SSH_ASKPASS_REQUIRE,
    // VN_SSH_AUTH_SERVER and VN_SSH_AUTH_TOKEN set. Throws
    // "缺少 SSH 认证助手，请重新安装完整安装包" when the helper is missing.
    QProcessEnvironment environment() const;
    void stop();

    QString serverName() const;
    QString token() const { return m_token; }
    // The askpass helper beside the executable.
    static QString askpassProgram();

    void accept(QLocalSocket* socket, const QJsonObject& request);

Q_SIGNALS:
    void promptRequested(vn::SshAuthPrompt* prompt);
    void cancelled();

private:
    void takeConnections();
    void reply(QLocalSocket* socket, bool accepted, const QString& answer);

    QLocalServer m_server;
    QString m_token;
    QString m_host;
    QString m_key;
    QString m_credentialDirectory;
    QSet<QString> m_attempted;
    QSet<QLocalSocket*> m_sockets;
};

} // namespace vn
