#include "tests/core/ssh/SshTestServer.h"

#include "tests/support/TestSupport.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QTcpSocket>
#include <QTest>
#include <QUuid>

#include <csignal>
#include <unistd.h>

namespace vn::test {

namespace {

bool writeFile(const QString& path, const QByteArray& content, QFile::Permissions permissions = {})
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    file.write(content);
    file.close();
    return permissions == QFile::Permissions() || file.setPermissions(permissions);
}

} // namespace

SshTestServer::SshTestServer() = default;

SshTestServer::~SshTestServer()
{
    stop();
}

bool SshTestServer::run(const QString& program, const QStringList& arguments, QByteArray* output,
                        const QByteArray& input)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForStarted(5000))
        return false;
    if (!input.isEmpty())
        process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(20000)) {
        process.kill();
        process.waitForFinished(1000);
        return false;
    }
    if (output)
        *output = process.readAllStandardOutput();
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

bool SshTestServer::start()
{
    if (!m_dir.isValid()) {
        m_error = QStringLiteral("no temporary folder");
        return false;
    }
    if (::geteuid() == 0)
        QDir().mkpath(QStringLiteral("/run/sshd")); // sshd's privilege-separation folder
    if (!QFile::exists(path(QStringLiteral("host_ed25519")))
        && !run(QStringLiteral("ssh-keygen"), {QStringLiteral("-q"), QStringLiteral("-t"), QStringLiteral("ed25519"),
                                               QStringLiteral("-N"), QString(), QStringLiteral("-f"),
                                               path(QStringLiteral("host_ed25519"))})) {
        m_error = QStringLiteral("ssh-keygen failed for the host key");
        return false;
    }
    if (!QFile::exists(path(QStringLiteral("authorized_keys"))))
        writeFile(path(QStringLiteral("authorized_keys")), {});
    if (!QFile::exists(knownHosts()))
        writeFile(knownHosts(), {});
    m_port = freeTcpPort();
    const QByteArray config = QStringLiteral(
        "Port %1\nListenAddress 127.0.0.1\nHostKey %2\nPidFile %3\nUsePAM no\nStrictModes no\n"
        "AuthorizedKeysFile %4\nPubkeyAuthentication yes\nPasswordAuthentication yes\n"
        "KbdInteractiveAuthentication no\nPermitRootLogin yes\nPrintMotd no\nPrintLastLog no\n"
        "AcceptEnv none\nLogLevel QUIET\n")
        .arg(m_port)
        .arg(path(QStringLiteral("host_ed25519")), path(QStringLiteral("sshd.pid")),
             path(QStringLiteral("authorized_keys")))
        .toUtf8();
    const QByteArray client = QStringLiteral(
        "Host *\n  UserKnownHostsFile %1\n  GlobalKnownHostsFile /dev/null\n  IdentitiesOnly yes\n"
        "  IdentityFile %2\n  UpdateHostKeys no\n  ControlMaster no\n  LogLevel ERROR\n")
        .arg(knownHosts(), path(QStringLiteral("no-default-key")))
        .toUtf8();
    const QByteArray wrapper = QStringLiteral("#!/bin/sh\nunset SSH_AUTH_SOCK\nexec ssh -F '%1' \"$@\"\n")
                                   .arg(path(QStringLiteral("ssh_config")))
                                   .toUtf8();
    if (!writeFile(path(QStringLiteral("sshd_config")), config)
        || !writeFile(path(QStringLiteral("ssh_config")), client)
        || !writeFile(clientProgram(), wrapper,
                      QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner)) {
        m_error = QStringLiteral("cannot write the configuration");
        return false;
    }

    m_sshd = std::make_unique<QProcess>();
    m_sshd->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_sshd->start(QStringLiteral("/usr/sbin/sshd"),
                  {QStringLiteral("-D"), QStringLiteral("-e"), QStringLiteral("-f"),
                   path(QStringLiteral("sshd_config"))});
    if (!m_sshd->waitForStarted(5000)) {
        m_error = QStringLiteral("sshd did not start");
        return false;
    }
    QDeadlineTimer deadline(10000);
    while (!deadline.hasExpired()) {
        if (m_sshd->state() != QProcess::Running) {
            m_error = QStringLiteral("sshd ended at once");
            return false;
        }
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, m_port);
        if (probe.waitForConnected(200))
            return true;
        QTest::qWait(20);
    }
    m_error = QStringLiteral("sshd does not listen");
    return false;
}

void SshTestServer::dropSessions()
{
    if (!m_sshd || m_sshd->state() != QProcess::Running)
        return;
    // The listener forks one process per connection; end those by PID.
    QFile children(QStringLiteral("/proc/%1/task/%1/children").arg(m_sshd->processId()));
    if (!children.open(QIODevice::ReadOnly))
        return;
    for (const QByteArray& pid : children.readAll().split(' ')) {
        const int value = pid.trimmed().toInt();
        if (value > 0)
            ::kill(value, SIGKILL);
    }
}

void SshTestServer::stop()
{
    if (m_sshd) {
        dropSessions();
        if (m_sshd->state() != QProcess::NotRunning) {
            m_sshd->kill();
            m_sshd->waitForFinished(5000);
        }
        m_sshd.reset();
    }
    if (!m_user.isEmpty()) {
        run(QStringLiteral("userdel"), {QStringLiteral("-f"), m_user});
        m_user.clear();
    }
}

QString SshTestServer::addClientKey(const QString& name, const QString& passphrase)
{
    const QString key = path(name);
    if (!run(QStringLiteral("ssh-keygen"), {QStringLiteral("-q"), QStringLiteral("-t"), QStringLiteral("ed25519"),
                                            QStringLiteral("-N"), passphrase, QStringLiteral("-f"), key}))
        return {};
    QFile pub(key + QStringLiteral(".pub"));
    QFile authorized(path(QStringLiteral("authorized_keys")));
    if (!pub.open(QIODevice::ReadOnly) || !authorized.open(QIODevice::Append))
        return {};
    authorized.write(pub.readAll());
    return key;
}

bool SshTestServer::trustHostKey()
{
    QFile pub(path(QStringLiteral("host_ed25519.pub")));
    QFile known(knownHosts());
    if (!pub.open(QIODevice::ReadOnly) || !known.open(QIODevice::Append))
        return false;
    known.write(QStringLiteral("[127.0.0.1]:%1 ").arg(m_port).toUtf8() + pub.readAll());
    return true;
}

bool SshTestServer::addPasswordUser(const QString& password)
{
    if (::geteuid() != 0)
        return false;
    const QString user = QStringLiteral("vnssh") + QUuid::createUuid().toString(QUuid::Id128).left(8);
    if (!run(QStringLiteral("useradd"), {QStringLiteral("-M"), QStringLiteral("-d"), folder(),
                                         QStringLiteral("-s"), QStringLiteral("/bin/sh"), user}))
        return false;
    m_user = user;
    return run(QStringLiteral("chpasswd"), {}, nullptr, (user + QLatin1Char(':') + password + QLatin1Char('\n')).toUtf8());
}

} // namespace vn::test
