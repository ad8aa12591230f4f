#include "ui/agents/McpProbe.h"

#include "core/Version.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QProcess>
#include <QRegularExpression>
#include <QTimer>
#include <QUrl>

#include <memory>

namespace vn {

namespace {

constexpr int TransferLimitMs = 3000;
constexpr qsizetype VersionOutputLimit = 1024;

// A killed or dying QProcess reports its end from its own destructor. When the
// owner goes away first, that report must not reach handlers that refer to it.
class VersionProcess : public QProcess {
public:
    using QProcess::QProcess;
    ~VersionProcess() override
    {
        disconnect();
        if (state() != QProcess::NotRunning) {
            kill();
            waitForFinished(1000);
        }
    }
};

QByteArray initializeRequest()
{
    const QJsonObject clientInfo{{QStringLiteral("name"), QStringLiteral("Varnelle 配置检查")},
                                 {QStringLiteral("version"), QString::fromLatin1(Version)}};
    const QJsonObject params{{QStringLiteral("protocolVersion"), QStringLiteral("2025-03-26")},
                             {QStringLiteral("clientInfo"), clientInfo},
                             {QStringLiteral("capabilities"), QJsonObject()}};
    const QJsonObject message{{QStringLiteral("jsonrpc"), QStringLiteral("2.0")},
                              {QStringLiteral("id"), 1},
                              {QStringLiteral("method"), QStringLiteral("initialize")},
                              {QStringLiteral("params"), params}};
    return QJsonDocument(message).toJson(QJsonDocument::Compact);
}

// The session the probe opened is closed at the address it was opened at, even
// when the server has moved since; the manager goes once nothing is pending.
void closeSession(QNetworkAccessManager* manager, const QString& url, const QByteArray& session)
{
    if (session.isEmpty()) {
        manager->deleteLater();
        return;
    }
    QNetworkRequest request{QUrl(url)};
    request.setRawHeader("Mcp-Session-Id", session);
    request.setTransferTimeout(TransferLimitMs);
    QNetworkReply* reply = manager->deleteResource(request);
    QObject::connect(reply, &QNetworkReply::finished, manager, [manager] { manager->deleteLater(); });
}

} // namespace

QString McpProbe::serverName()
{
    return QStringLiteral("Varnelle Native");
}

void McpProbe::probe(QObject* owner, const Address& address, const Callback& callback)
{
    const QString url = address();
    if (url.isEmpty()) {
        callback(QStringLiteral("MCP 服务未启动"));
        return;
    }
    auto* manager = new QNetworkAccessManager(owner);
    // Our server is on the loopback interface; a proxy from the user's
    // environment would answer in its place.
    manager->setProxy(QNetworkProxy::NoProxy);
    QNetworkRequest request{QUrl(url)};
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    request.setTransferTimeout(TransferLimitMs);
    QNetworkReply* reply = manager->post(request, initializeRequest());
    QObject::connect(reply, &QNetworkReply::finished, manager, [manager, reply, address, callback, url] {
        // A reply that timed out or failed is closed and has nothing to read.
        const QJsonObject answer = QJsonDocument::fromJson(reply->isOpen() ? reply->readAll() : QByteArray()).object();
        const QByteArray session = reply->rawHeader("Mcp-Session-Id");
        const QString name = answer.value(QStringLiteral("result"))
                                 .toObject()
                                 .value(QStringLiteral("serverInfo"))
                                 .toObject()
                                 .value(QStringLiteral("name"))
                                 .toString();
        const bool moved = address() != url;
        QString outcome;
        if (reply->error() != QNetworkReply::NoError || moved || name != serverName())
            outcome = QStringLiteral("MCP 服务检查失败：") + reply->errorString();
        if (moved)
            outcome = QStringLiteral("MCP 端口已改变，请重新检查");
        closeSession(manager, url, session);
        reply->deleteLater();
        callback(outcome);
    });
}

bool McpProbe::runsVersionRead(const QString& program)
{
    if (program.isEmpty())
        return false;
#ifdef Q_OS_WIN
    return program.endsWith(QStringLiteral(".exe"), Qt::CaseInsensitive);
#else
    // Package managers install the CLI as a script launcher as often as as a
    // compiled program; like a ".cmd" file elsewhere, a script is not started
    // just to read a version.
    QFile file(program);
    return file.open(QIODevice::ReadOnly) && file.read(4) == QByteArrayLiteral("\x7f" "ELF");
#endif
}

void McpProbe::readVersion(QObject* owner, const QString& program,
                           const std::function<void(std::optional<bool> v2)>& done, int limitMs)
{
    auto* process = new VersionProcess(owner);
    auto* timer = new QTimer(process);
    timer->setSingleShot(true);
    timer->setInterval(limitMs);
    QObject::connect(timer, &QTimer::timeout, process, &QProcess::kill);
    // A killed or failing process reports both an error and its end; only the
    // first report counts.
    auto finished = std::make_shared<bool>(false);
    auto report = [process, timer, finished, done] {
        if (*finished)
            return;
        *finished = true;
        timer->stop();
        const QByteArray output = process->readAllStandardOutput().left(VersionOutputLimit);
        process->deleteLater();
        done(majorAboveOne(output));
    };
    QObject::connect(process, &QProcess::finished, process, report);
    QObject::connect(process, &QProcess::errorOccurred, process, report);
    // Armed first: a program that cannot start reports at once.
    timer->start();
    process->start(program, {QStringLiteral("--version")}, QIODevice::ReadWrite);
}

std::optional<bool> McpProbe::majorAboveOne(const QByteArray& output)
{
    const QString text = QString::fromUtf8(output.left(VersionOutputLimit));
    const QRegularExpression triple(QStringLiteral("(?:^|\\s|v)(\\d+)\\.\\d+\\.\\d+"));
    const QRegularExpressionMatch match = triple.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    bool ok = false;
    const int major = match.captured(1).toInt(&ok, 10);
    return ok && major > 1;
}

} // namespace vn
