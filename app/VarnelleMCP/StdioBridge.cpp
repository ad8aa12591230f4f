#include "app/VarnelleMCP/StdioBridge.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <unistd.h>

namespace vn {

namespace {

// JSON-RPC error codes for failures on our side of the relay.
constexpr int parseErrorCode = -32700;
constexpr int unreachableCode = -32000;
// A long-poll read may hold a request open for a while; only a silent
// connection is given up.
constexpr int transferTimeoutMs = 120000;
// Agent tools give a child about two seconds after closing its input.
constexpr int closeTimeoutMs = 1500;

QByteArray compactLine(const QByteArray& json)
{
    const QByteArray trimmed = json.trimmed();
    if (!trimmed.contains('\n') && !trimmed.contains('\r'))
        return trimmed;
    const QJsonDocument document = QJsonDocument::fromJson(trimmed);
    return document.isNull() ? QByteArray() : document.toJson(QJsonDocument::Compact);
}

} // namespace

StdioBridge::StdioBridge(const QUrl& endpoint, int inputFd, int outputFd, QObject* parent)
    : QObject(parent)
    , m_endpoint(endpoint)
    , m_outputFd(outputFd)
    , m_inputFd(inputFd)
{
    // The endpoint is on this machine: no proxy from the environment applies.
    m_network.setProxy(QNetworkProxy::NoProxy);
}

void StdioBridge::start()
{
    m_input = new QSocketNotifier(m_inputFd, QSocketNotifier::Read, this);
    connect(m_input, &QSocketNotifier::activated, this, &StdioBridge::readInput);
}

void StdioBridge::readInput()
{
    char chunk[65536];
    const ssize_t count = ::read(m_inputFd, chunk, sizeof chunk);
    if (count < 0 && (errno == EINTR || errno == EAGAIN))
        return;
    if (count <= 0) {
        m_input->setEnabled(false);
        m_inputClosed = true;
        if (!m_buffer.trimmed().isEmpty())
            handleLine(m_buffer);
        m_buffer.clear();
        finishIfDone();
        return;
    }
    m_buffer.append(chunk, count);
    qsizetype newline;
    while ((newline = m_buffer.indexOf('\n')) >= 0) {
        QByteArray line = m_buffer.left(newline);
        m_buffer.remove(0, newline + 1);
        handleLine(std::move(line));
    }
}

void StdioBridge::handleLine(QByteArray line)
{
    line = line.trimmed();
    if (line.isEmpty())
        return;
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(line, &error);
    if (error.error != QJsonParseError::NoError || (!document.isObject() && !document.isArray())) {
        writeError(QJsonValue::Null, parseErrorCode, QStringLiteral("消息不是有效的 JSON-RPC：") + error.errorString());
        return;
    }
    Message message;
    message.body = line;
    if (document.isObject()) {
        const QJsonObject object = document.object();
        if (object.contains(QStringLiteral("method")) && object.contains(QStringLiteral("id")))
            message.id = object.value(QStringLiteral("id"));
        message.initialize = object.value(QStringLiteral("method")).toString() == QLatin1String("initialize");
    }
    if (m_initializing) {
        m_queue.append(message);
        return;
    }
    send(message);
}

void StdioBridge::send(const Message& message)
{
    QNetworkRequest request(m_endpoint);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    request.setRawHeader("Accept", "application/json, text/event-stream");
    if (!m_sessionId.isEmpty())
        request.setRawHeader("Mcp-Session-Id", m_sessionId);
    if (!m_protocolVersion.isEmpty())
        request.setRawHeader("MCP-Protocol-Version", m_protocolVersion);
    request.setTransferTimeout(transferTimeoutMs);
    if (message.initialize)
        m_initializing = true;
    ++m_inFlight;
    QNetworkReply* reply = m_network.post(request, message.body);
    auto stream = std::make_shared<EventStream>();
    connect(reply, &QNetworkReply::readyRead, this, [this, reply, stream] { readEvents(reply, *stream, false); });
    connect(reply, &QNetworkReply::finished, this, [this, reply, message, stream] { replied(reply, message, *stream); });
}

void StdioBridge::replied(QNetworkReply* reply, const Message& message, EventStream& stream)
{
    reply->deleteLater();
    --m_inFlight;
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const bool events = reply->header(QNetworkRequest::ContentTypeHeader).toByteArray().startsWith("text/event-stream");
    if (events && status >= 200 && status < 300)
        readEvents(reply, stream, true);
    const QByteArray body = reply->readAll();
    if (message.initialize) {
        m_initializing = false;
        if (status == 200) {
            const QByteArray session = reply->rawHeader("Mcp-Session-Id");
            if (!session.isEmpty())
                m_sessionId = session;
        }
    }
    if (status >= 200 && status < 300) {
        if (!events) {
            const QByteArray line = compactLine(body);
            if (!line.isEmpty()) {
                writeLine(line);
                if (stream.written++ == 0)
                    stream.first = line;
            }
        }
        // A request must get an answer, or the client waits for ever.
        if (stream.written == 0 && !message.id.isUndefined())
            writeError(message.id, unreachableCode, QStringLiteral("MCP 服务没有返回应答（HTTP %1）").arg(status));
    } else if (status == 0) {
        if (!message.id.isUndefined())
            writeError(message.id, unreachableCode, QStringLiteral("无法连接 MCP 服务：") + reply->errorString());
    } else if (!message.id.isUndefined()) {
        // The endpoint's own JSON-RPC answer to a refused request says more than
        // the status line.
        const QJsonObject answer = QJsonDocument::fromJson(body).object();
        if (answer.contains(QStringLiteral("error")) && answer.value(QStringLiteral("id")) == message.id)
            writeLine(QJsonDocument(answer).toJson(QJsonDocument::Compact));
        else
            writeError(message.id, unreachableCode, QStringLiteral("MCP 服务返回 HTTP %1").arg(status));
    }
    if (message.initialize && m_protocolVersion.isEmpty()) {
        const QJsonObject answer = QJsonDocument::fromJson(stream.first).object();
        m_protocolVersion = answer.value(QStringLiteral("result")).toObject().value(QStringLiteral("protocolVersion")).toString().toUtf8();
    }
    if (!m_initializing)
        flushQueue();
    finishIfDone();
}

void StdioBridge::readEvents(QNetworkReply* reply, EventStream& stream, bool final)
{
    if (!reply->header(QNetworkRequest::ContentTypeHeader).toByteArray().startsWith("text/event-stream"))
        return;
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status < 200 || status >= 300)
        return;
    stream.pending += reply->readAll();
    if (final && !stream.pending.isEmpty() && !stream.pending.endsWith('\n'))
        stream.pending += '\n';
    auto dispatch = [&] {
        if (stream.data.isEmpty())
            return;
        const QByteArray line = compactLine(stream.data);
        stream.data.clear();
        if (!line.isEmpty()) {
            writeLine(line);
            if (stream.written++ == 0)
                stream.first = line;
        }
    };
    qsizetype newline;
    while ((newline = stream.pending.indexOf('\n')) >= 0) {
        QByteArray line = stream.pending.left(newline);
        stream.pending.remove(0, newline + 1);
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.isEmpty()) {
            dispatch();
        } else if (line.startsWith("data:")) {
            QByteArray part = line.mid(5);
            if (part.startsWith(' '))
                part.remove(0, 1);
            if (!stream.data.isEmpty())
                stream.data.append('\n');
            stream.data.append(part);
        }
    }
    if (final)
        dispatch();
}

void StdioBridge::writeError(const QJsonValue& id, int code, const QString& text)
{
    const QJsonObject error{{QStringLiteral("jsonrpc"), QStringLiteral("2.0")},
                            {QStringLiteral("id"), id},
                            {QStringLiteral("error"), QJsonObject{{QStringLiteral("code"), code}, {QStringLiteral("message"), text}}}};
    writeLine(QJsonDocument(error).toJson(QJsonDocument::Compact));
}

void StdioBridge::writeLine(const QByteArray& line)
{
    if (m_outputBroken || line.isEmpty())
        return;
    const QByteArray bytes = line + '\n';
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(m_outputFd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            // Nobody reads our output any more: stop as if the input had closed.
            m_outputBroken = true;
            m_inputClosed = true;
            if (m_input)
                m_input->setEnabled(false);
            QTimer::singleShot(0, this, &StdioBridge::finishIfDone);
            return;
        }
        done += n;
    }
}

void StdioBridge::flushQueue()
{
    while (!m_queue.isEmpty() && !m_initializing)
        send(m_queue.takeFirst());
}

void StdioBridge::finishIfDone()
{
    if (!m_inputClosed || m_closing || m_inFlight > 0 || !m_queue.isEmpty() || m_initializing)
        return;
    m_closing = true;
    if (m_sessionId.isEmpty()) {
        Q_EMIT finished(0);
        return;
    }
    QNetworkRequest request(m_endpoint);
    request.setRawHeader("Mcp-Session-Id", m_sessionId);
    if (!m_protocolVersion.isEmpty())
        request.setRawHeader("MCP-Protocol-Version", m_protocolVersion);
    request.setTransferTimeout(closeTimeoutMs);
    QNetworkReply* reply = m_network.deleteResource(request);
    connect(reply, &QNetworkReply::finished, this, [this, reply] {
        reply->deleteLater();
        Q_EMIT finished(0);
    });
}

} // namespace vn
