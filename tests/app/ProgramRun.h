#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>
#include <optional>

namespace vn::test {

// The built program.
inline QString programPath()
{
    return QStringLiteral(VN_BINARY_DIR "/bin/varnelle");
}

// A private machine for the program: its own home, XDG folders, temporary
// folder (where the single-instance names live) and a search path holding
// only a "bin" folder of fake tools. Nothing here sees the real user's files.
class ProgramHome {
public:
    ProgramHome();

    QString path(const QString& relative) const { return dir.path() + QLatin1Char('/') + relative; }
    QString home() const { return path(QStringLiteral("home")); }
    QString bin() const { return path(QStringLiteral("bin")); }

    // A file with the given bytes, its folders made as needed.
    QString write(const QString& relative, const QByteArray& bytes) const;
    // A workspace file whose MCP port is `port` (any JSON value).
    QString workspace(const QString& relative, const QJsonValue& port) const;
    // An executable in the "bin" folder, so agent discovery finds that tool.
    void tool(const QString& name) const;

    QProcessEnvironment environment() const;

private:
    QTemporaryDir dir;
};

// One run of the program. Whatever is still running when the object goes is
// killed by its own process id and reaped.
class ProgramRun {
public:
    // With `fileSizeLimit` the program cannot grow any file past that many
    // bytes (writes fail with EFBIG): a full disk, without root.
    ProgramRun(const ProgramHome& home, const QStringList& arguments, const QString& program = programPath(),
               const QString& workingDirectory = {}, std::optional<qint64> fileSizeLimit = std::nullopt);
    ~ProgramRun();
    ProgramRun(const ProgramRun&) = delete;
    ProgramRun& operator=(const ProgramRun&) = delete;

    bool started() const;
    bool running() const;
    qint64 pid() const { return processId; }
    // Waits for the end; false when it did not end within `ms`.
    bool finish(int ms = 60000);
    int exitCode() const;
    bool crashed() const;
    QByteArray output() const;
    QByteArray errors() const;
    // Until `file` exists (true) or the program has ended (false); `ms` at most.
    bool waitForFile(const QString& file, int ms = 60000);
    void kill();        // SIGKILL
    void terminate();   // SIGTERM

    // The TCP ports the program listens on, read from its open sockets.
    QSet<quint16> listeningPorts() const;

private:
    std::unique_ptr<QProcess> process;
    qint64 processId = 0;
};

// The whole content of a file; empty when it cannot be read.
QByteArray readFile(const QString& path);

// True when nobody listens on the loopback port right now.
bool portFree(quint16 port);

} // namespace vn::test
