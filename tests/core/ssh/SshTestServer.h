#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <memory>

namespace vn::test {

// A private OpenSSH server on 127.0.0.1 at a free port, with its own host key
// and configuration in a temporary folder, and a client wrapper that points
// ssh at a client configuration and known_hosts file of that folder, so that
// nothing of the user's own SSH files is read or changed. Stopping kills only
// the server this object started (and its session processes), by PID.
class SshTestServer {
public:
    SshTestServer();
    ~SshTestServer();
    SshTestServer(const SshTestServer&) = delete;
    SshTestServer& operator=(const SshTestServer&) = delete;

    bool start();
    void stop();
    // Ends every open session on the server (the connections drop).
    void dropSessions();
    QString errorString() const { return m_error; }

    quint16 port() const { return m_port; }
    QString folder() const { return m_dir.path(); }
    QString path(const QString& name) const { return m_dir.filePath(name); }
    // "ssh" run with this folder's client configuration.
    QString clientProgram() const { return path(QStringLiteral("ssh-client")); }
    QString knownHosts() const { return path(QStringLiteral("known_hosts")); }

    // A new client key (with the passphrase, when not empty) whose public
    // half the server accepts; returns the private key's path.
    QString addClientKey(const QString& name, const QString& passphrase);
    // Adds the server's host key to the client's known_hosts.
    bool trustHostKey();
    // A throwaway local account with a password (root only); removed by stop().
    bool addPasswordUser(const QString& password);
    QString passwordUser() const { return m_user; }

    static bool run(const QString& program, const QStringList& arguments,
                    QByteArray* output = nullptr, const QByteArray& input = QByteArray());

private:
    QTemporaryDir m_dir;
    std::unique_ptr<QProcess> m_sshd;
    quint16 m_port = 0;
    QString m_user;
    QString m_error;
};

} // namespace vn::test
