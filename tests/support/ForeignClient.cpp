#include "tests/support/ForeignClient.h"

#include <QFileInfo>
#include <QStandardPaths>

#include <unistd.h>

namespace vn::test {

namespace {

// argv: host port count request-in-hex. Says "held" once every connection is
// open, then "reply <hex>" per connection when it sent a request, and keeps
// the connections until its input closes.
constexpr char Script[] = R"(import socket, sys
try:
    host, port, count, request = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), bytes.fromhex(sys.argv[4])
    held = [socket.create_connection((host, port), timeout=30) for _ in range(count)]
except OSError as error:
    print("failed", error, flush=True)
    sys.exit(1)
print("held", flush=True)
if request:
    for connection in held:
        reply = b""
        try:
            connection.sendall(request)
            while chunk := connection.recv(65536):
                reply += chunk
        except OSError:
            pass
        print("reply", reply.hex(), flush=True)
sys.stdin.read()
)";

// The system's own interpreter: a per-user one (pyenv in root's home, say)
// is out of the other account's reach.
QString python()
{
    for (const char* path : {"/usr/bin/python3", "/bin/python3"}) {
        if (QFileInfo(QString::fromLatin1(path)).isExecutable())
            return QString::fromLatin1(path);
    }
    return QString();
}

} // namespace

QString ForeignClient::unavailable()
{
    if (::geteuid() != 0)
        return QStringLiteral("clients under another uid need root (setpriv changes the uid)");
    if (QStandardPaths::findExecutable(QStringLiteral("setpriv")).isEmpty())
        return QStringLiteral("setpriv (util-linux) is not installed");
    if (python().isEmpty())
        return QStringLiteral("/usr/bin/python3 is not installed");
    return QString();
}

ForeignClient::ForeignClient() = default;

ForeignClient::~ForeignClient()
{
    stop();
}

bool ForeignClient::start(const QString& host, quint16 port, int count, const QByteArray& request)
{
    stop();
    held = false;
    answers.clear();
    error.clear();
    process = std::make_unique<QProcess>();
    process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process->start(QStringLiteral("setpriv"),
                   {QStringLiteral("--reuid=%1").arg(Uid), QStringLiteral("--regid=%1").arg(Uid),
                    QStringLiteral("--clear-groups"), python(), QStringLiteral("-c"), QString::fromLatin1(Script),
                    host, QString::number(port), QString::number(count), QString::fromLatin1(request.toHex())});
    return process->waitForStarted(10000);
}

void ForeignClient::readLines()
{
    if (!process)
        return;
    while (process->canReadLine()) {
        const QByteArray line = process->readLine().trimmed();
        if (line == "held")
            held = true;
        else if (line.startsWith("reply"))
            answers.append(QByteArray::fromHex(line.mid(5).trimmed()));
        else if (line.startsWith("failed"))
            error = QString::fromUtf8(line);
    }
}

bool ForeignClient::connected()
{
    readLines();
    return held;
}

QList<QByteArray> ForeignClient::replies()
{
    readLines();
    return answers;
}

QString ForeignClient::failure()
{
    readLines();
    return error;
}

void ForeignClient::stop()
{
    if (!process)
        return;
    if (process->state() != QProcess::NotRunning) {
        process->closeWriteChannel();
        if (!process->waitForFinished(10000)) {
            process->kill();
            process->waitForFinished(5000);
        }
    }
    process.reset();
}

} // namespace vn::test
