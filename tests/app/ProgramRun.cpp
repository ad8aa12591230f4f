#include "tests/app/ProgramRun.h"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QHostAddress>
#include <QTcpServer>
#include <QTest>

#include <csignal>
#include <sys/resource.h>
#include <unistd.h>

namespace vn::test {

namespace {

// Socket inodes of a process, "socket:[1234]" -> "1234".
QSet<QString> socketInodes(qint64 pid)
{
    QSet<QString> inodes;
    const QString folder = QStringLiteral("/proc/%1/fd").arg(pid);
    const QStringList entries = QDir(folder).entryList(QDir::System | QDir::NoDotAndDotDot);
    for (const QString& entry : entries) {
        char target[256] = {};
        const QByteArray link = QFile::encodeName(folder + QLatin1Char('/') + entry);
        const ssize_t length = ::readlink(link.constData(), target, sizeof target - 1);
        if (length <= 0)
            continue;
        const QString text = QString::fromLatin1(target, length);
        if (text.startsWith(QStringLiteral("socket:[")))
            inodes.insert(text.mid(8, text.size() - 9));
    }
    return inodes;
}

} // namespace

ProgramHome::ProgramHome()
{
    for (const char* folder : {"home", "bin", "config", "data", "cache", "runtime", "tmp"})
        QDir().mkpath(path(QString::fromLatin1(folder)));
    QFile::setPermissions(path(QStringLiteral("runtime")), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

QString ProgramHome::write(const QString& relative, const QByteArray& bytes) const
{
    const QString file = QDir::isAbsolutePath(relative) ? relative : path(relative);
    QDir().mkpath(QFileInfo(file).absolutePath());
    QFile out(file);
    if (!out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size())
        return {};
    return file;
}

QString ProgramHome::workspace(const QString& relative, const QJsonValue& port) const
{
    return write(relative, QJsonDocument(QJsonObject{{QStringLiteral("mcp_port"), port}}).toJson());
}

void ProgramHome::tool(const QString& name) const
{
    const QString file = write(QStringLiteral("bin/") + name, "#!/bin/sh\nexit 0\n");
    QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

QProcessEnvironment ProgramHome::environment() const
{
    // Only what the program needs, so no agent tool variable of the machine leaks in.
    const QProcessEnvironment outer = QProcessEnvironment::systemEnvironment();
    QProcessEnvironment env;
    for (const char* name : {"QT_QPA_PLATFORM", "ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS", "USER", "LOGNAME",
                             "LANG", "LC_ALL"}) {
        const QString key = QString::fromLatin1(name);
        if (outer.contains(key))
            env.insert(key, outer.value(key));
    }
    env.insert(QStringLiteral("HOME"), home());
    env.insert(QStringLiteral("PATH"), bin());
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), path(QStringLiteral("config")));
    env.insert(QStringLiteral("XDG_DATA_HOME"), path(QStringLiteral("data")));
    env.insert(QStringLiteral("XDG_CACHE_HOME"), path(QStringLiteral("cache")));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), path(QStringLiteral("runtime")));
    env.insert(QStringLiteral("TMPDIR"), path(QStringLiteral("tmp")));
    return env;
}

ProgramRun::ProgramRun(const ProgramHome& home, const QStringList& arguments, const QString& program,
                       const QString& workingDirectory, std::optional<qint64> fileSizeLimit)
    : process(std::make_unique<QProcess>())
{
    process->setProcessEnvironment(home.environment());
    if (fileSizeLimit) {
        const auto bytes = rlim_t(*fileSizeLimit);
        // Runs in the child between fork and exec: only async-signal-safe calls.
        process->setChildProcessModifier([bytes] {
            std::signal(SIGXFSZ, SIG_IGN);
            rlimit limit{};
            ::getrlimit(RLIMIT_FSIZE, &limit);
            limit.rlim_cur = bytes;
            ::setrlimit(RLIMIT_FSIZE, &limit);
        });
    }
    process->setWorkingDirectory(workingDirectory.isEmpty() ? home.path(QStringLiteral("home")) : workingDirectory);
    process->start(program, arguments);
    if (process->waitForStarted(10000))
        processId = process->processId();
}

ProgramRun::~ProgramRun()
{
    if (process->state() != QProcess::NotRunning) {
        process->kill();
        process->waitForFinished(10000);
    }
}

bool ProgramRun::started() const
{
    return processId > 0;
}

bool ProgramRun::running() const
{
    return process->state() == QProcess::Running;
}

bool ProgramRun::finish(int ms)
{
    if (process->state() == QProcess::NotRunning)
        return true;
    return process->waitForFinished(ms);
}

int ProgramRun::exitCode() const
{
    return process->exitStatus() == QProcess::NormalExit ? process->exitCode() : -1;
}

bool ProgramRun::crashed() const
{
    return process->exitStatus() == QProcess::CrashExit;
}

QByteArray ProgramRun::output() const
{
    return process->readAllStandardOutput();
}

QByteArray ProgramRun::errors() const
{
    return process->readAllStandardError();
}

bool ProgramRun::waitForFile(const QString& file, int ms)
{
    const QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired()) {
        if (QFile::exists(file))
            return true;
        if (process->state() == QProcess::NotRunning)
            return QFile::exists(file);
        process->waitForFinished(20);
    }
    return QFile::exists(file);
}

void ProgramRun::kill()
{
    if (process->state() != QProcess::NotRunning)
        ::kill(pid_t(processId), SIGKILL);
}

void ProgramRun::terminate()
{
    if (process->state() != QProcess::NotRunning)
        process->terminate();
}

QSet<quint16> ProgramRun::listeningPorts() const
{
    QSet<quint16> ports;
    if (!running())
        return ports;
    const QSet<QString> inodes = socketInodes(processId);
    for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        const QList<QByteArray> lines = readFile(QString::fromLatin1(table)).split('\n');
        for (qsizetype i = 1; i < lines.size(); ++i) {
            // The table holds every socket of the machine; only listeners matter.
            if (!lines[i].contains(" 0A "))
                continue;
            const QList<QByteArray> fields = lines[i].simplified().split(' ');
            // sl local remote state tx:rx tr:when retransmit uid timeout inode
            if (fields.size() < 10 || fields[3] != "0A" || !inodes.contains(QString::fromLatin1(fields[9])))
                continue;
            const QByteArray local = fields[1];
            ports.insert(quint16(local.mid(local.indexOf(':') + 1).toUInt(nullptr, 16)));
        }
    }
    return ports;
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool portFree(quint16 port)
{
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost, port);
}

} // namespace vn::test
