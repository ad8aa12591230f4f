// The SSH client's askpass helper. ssh runs it with its question as the first
// argument and reads the answer from standard output; a non-zero exit means
// "no answer". The helper passes the question to the program that started
// ssh, over the user-only local socket named in VN_SSH_AUTH_SERVER, as one
// JSON line carrying VN_SSH_AUTH_TOKEN, and waits for the one reply line.

#include <QByteArray>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalSocket>
#include <QString>

#include <cstdio>

namespace {

// "none": ssh only shows a message; "confirm": a yes/no question.
// OpenSSH sets SSH_ASKPASS_PROMPT only for some notices and confirmations;
// a host-key question comes without it and is recognised by its text.
QString hintFor(const QString& question)
{
    const QByteArray declared = qgetenv("SSH_ASKPASS_PROMPT");
    if (declared == "none")
        return QStringLiteral("none");
    if (declared == "confirm" || question.contains(QStringLiteral("(yes/no"), Qt::CaseInsensitive))
        return QStringLiteral("confirm");
    return QStringLiteral("entry");
}

int ask(const QString& question)
{
    const QString server = QString::fromLocal8Bit(qgetenv("VN_SSH_AUTH_SERVER"));
    const QString token = QString::fromLocal8Bit(qgetenv("VN_SSH_AUTH_TOKEN"));
    if (server.isEmpty() || token.isEmpty())
        return 2;

    QLocalSocket socket;
    socket.connectToServer(server);
    if (!socket.waitForConnected(10000))
        return 2;
    QJsonObject request;
    request.insert(QStringLiteral("token"), token);
    request.insert(QStringLiteral("prompt"), question);
    request.insert(QStringLiteral("hint"), hintFor(question));
    socket.write(QJsonDocument(request).toJson(QJsonDocument::Compact) + '\n');
    socket.flush();

    // The program drops a question after 300 s; wait a little longer.
    QDeadlineTimer deadline(310000);
    QByteArray reply;
    while (!reply.contains('\n')) {
        if (socket.bytesAvailable() == 0 && !socket.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime()))))
            break;
        reply += socket.readAll();
        if (deadline.hasExpired())
            break;
    }
    reply += socket.readAll();
    const qsizetype end = reply.indexOf('\n');
    if (end < 0)
        return 1;
    const QJsonObject answer = QJsonDocument::fromJson(reply.left(end)).object();
    if (!answer.value(QStringLiteral("accepted")).toBool())
        return 1;
    const QByteArray text = answer.value(QStringLiteral("answer")).toString().toUtf8() + '\n';
    if (std::fwrite(text.constData(), 1, size_t(text.size()), stdout) != size_t(text.size()))
        return 2;
    return std::fflush(stdout) == 0 ? 0 : 2;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QString question = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    return ask(question);
}
