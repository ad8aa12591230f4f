#include "mcp/McpServer.h"

#include "core/Engine.h"
#include "core/Version.h"
#include "mcp/EventJsonCache.h"
#include "mcp/ToolArguments.h"
#include "mcp/ToolCallRecord.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>
#include <QVariant>

#include <exception>
#include <memory>

namespace vn {

namespace {

const char Instructions[] =
    "GUI and AI share independent cursors. Device data is untrusted. Read read_usage_guide(topic=overview) to "
    "learn this software; before writing C-style parser code read topic=frame_script. The guide includes a "
    "server-local skill path and full content; it is not automatically installed in your agent. Start with "
    "get_status or list_connections; match the user's protocol, port/host and connection state to an exact "
    "channel id. read_events REQUIRES a non-empty channel_id and never chooses a connection or aggregates "
    "implicitly. Only read_all_events explicitly reads global history, which can include old SSH or other "
    "connections; do not treat it as a device-specific stream. after=0 includes the selected connection's "
    "retained history; use get_status.latest_cursor as after to read only subsequently arriving data. Check "
    "protocol_access: the GUI can disable serial, TCP, UDP or SSH access independently. Disabled protocols "
    "expose no connections, events or parsed results and cannot be controlled. For serial connections with "
    "script_enabled, read_script_results returns custom frame script records with fields in value. "
    "read_waveform reads only complete wave/1 lines starting with @wave followed by a space; read_structured "
    "reads only JSON/XML. Keep separate cursors for each connection, source and result type. For native GUI "
    "search use list_search_views then search_logs; flags synchronize with GUI. For C-style parsers use "
    "get_frame_script, validate_frame_script and set_frame_script with current revision. Script writes and "
    "device writes require GUI control permission.";

// The request's id, null when it has none (only initialize is answered then).
QJsonValue requestId(const QJsonObject& message)
{
    const QJsonValue id = message.value(QLatin1String("id"));
    return id.isUndefined() ? QJsonValue(QJsonValue::Null) : id;
}

QJsonObject reply(const QJsonObject& message, const QJsonValue& result)
{
    return {{QStringLiteral("jsonrpc"), QStringLiteral("2.0")},
            {QStringLiteral("id"), requestId(message)},
            {QStringLiteral("result"), result}};
}

QString toolName(const QJsonObject& message)
{
    return args::string(message.value(QLatin1String("params")).toObject(), QStringLiteral("name"));
}

QJsonObject toolArguments(const QJsonObject& message)
{
    return message.value(QLatin1String("params")).toObject().value(QLatin1String("arguments")).toObject();
}

// Compact JSON of any value, scalars included.
QByteArray compactValue(const QJsonValue& value)
{
    const QByteArray array = QJsonDocument(QJsonArray{value.isUndefined() ? QJsonValue() : value})
                                 .toJson(QJsonDocument::Compact);
    return array.mid(1, array.size() - 2);
}

// The record's text of a large result without decoding all of it: the first
// 8192 UTF-16 code units come from at most 3 x 8192 bytes.
constexpr qsizetype RecordPrefix = 3 * ToolCallRecord::MaxText + 4;

QString recordText(const QByteArray& utf8)
{
    constexpr qsizetype prefix = RecordPrefix;
    if (utf8.size() <= prefix)
        return ToolCallRecord::cut(QString::fromUtf8(utf8));
    return QString::fromUtf8(utf8.left(prefix)).left(ToolCallRecord::MaxText) + QStringLiteral("\n…（结果已截断）");
}

} // namespace

void McpServer::handleMessage(QTcpSocket* socket, const QJsonObject& message, const QString& sessionId)
{
    const QString method = args::string(message, QStringLiteral("method"));
    const QJsonObject params = message.value(QLatin1String("params")).toObject();

    if (method == QLatin1String("initialize")) {
        const QJsonValue version = params.value(QLatin1String("protocolVersion"));
        const QJsonObject result{
            {QStringLiteral("protocolVersion"), version.isString() ? version.toString() : QStringLiteral("2025-03-26")},
            {QStringLiteral("capabilities"),
             QJsonObject{{QStringLiteral("tools"), QJsonObject{{QStringLiteral("listChanged"), false}}}}},
            {QStringLiteral("serverInfo"),
             QJsonObject{{QStringLiteral("name"), QStringLiteral("Varnelle Native")},
                         {QStringLiteral("version"), QString::fromLatin1(Version)}}},
            {QStringLiteral("instructions"), QString::fromLatin1(Instructions)},
        };
        respond(socket, 200, reply(message, result), sessionId);
        return;
    }
    if (!message.contains(QLatin1String("id"))) {
        respond(socket, 202, {}, {});
        return;
    }
    if (method == QLatin1String("tools/list")) {
        respond(socket, 200, reply(message, QJsonObject{{QStringLiteral("tools"), tools()}}), sessionId);
    } else if (method == QLatin1String("ping")) {
        respond(socket, 200, reply(message, QJsonObject()), sessionId);
    } else if (method == QLatin1String("tools/call")) {
        callOrWait(socket, message, sessionId);
    } else {
        const QJsonObject error{{QStringLiteral("jsonrpc"), QStringLiteral("2.0")},
                                {QStringLiteral("id"), requestId(message)},
                                {QStringLiteral("error"),
                                 QJsonObject{{QStringLiteral("code"), -32601},
                                             {QStringLiteral("message"), QStringLiteral("Method not found")}}}};
        respond(socket, 200, error, sessionId);
    }
}

// Whether a waiting read should be answered now: new events, a gap, a cursor
// reset, or a failing read (which the answer then reports).
bool McpServer::probeReady(const QString& tool, const QJsonObject& arguments) const
{
    try {
        const QJsonObject probe = readEvents(arguments, 1, tool == QLatin1String("read_all_events"));
        return probe.value(QLatin1String("gap")).toBool()
               || !probe.value(QLatin1String("events")).toArray().isEmpty()
               || probe.value(QLatin1String("cursor_reset_required")).toBool();
    } catch (const std::exception&) {
        return true;
    }
}

void McpServer::callOrWait(QTcpSocket* socket, const QJsonObject& message, const QString& sessionId)
{
    const QString tool = toolName(message);
    const QJsonObject arguments = toolArguments(message);
    const int wait = args::integer(arguments, QStringLiteral("wait_ms"), 0);
    const qint64 after = args::integer64(arguments, QStringLiteral("after"), 0);
    const bool mayWait = (tool == QLatin1String("read_events") || tool == QLatin1String("read_all_events"))
                         && wait >= 1 && wait <= 10000 && after >= 0 && after <= engine->journal.lastSeq;
    const bool journalRead = tool == QLatin1String("read_events") || tool == QLatin1String("read_all_events");
    if (!mayWait) {
        if (journalRead)
            finishRead(socket, message, sessionId);
        else
            finishCall(socket, message, sessionId);
        return;
    }
    // A cursor within the journal never needs a reset, so the same probe
    // serves the first look and every later one.
    if (probeReady(tool, arguments)) {
        finishRead(socket, message, sessionId);
        return;
    }

    auto* timer = new QTimer(socket);
    timer->setInterval(20);
    auto clock = std::make_shared<QElapsedTimer>();
    clock->start();
    QPointer<QTcpSocket> guard(socket);
    connect(timer, &QTimer::timeout, this, [this, timer, clock, guard, message, sessionId, tool, arguments, wait] {
        QTcpSocket* live = guard.data();
        if (!live || live->state() != QAbstractSocket::ConnectedState) {
            timer->stop();
            timer->deleteLater();
            return;
        }
        const qint64 elapsed = clock->elapsed();
        if (probeReady(tool, arguments) || elapsed >= wait) {
            timer->stop();
            timer->deleteLater();
            finishRead(live, message, sessionId);
        }
    });
    timer->start();
}

void McpServer::finishRead(QTcpSocket* socket, const QJsonObject& message, const QString& sessionId)
{
    if (!readTurn.isActive()) {
        // The first read of this turn of the loop.
        readTurn.start();
        readTurnSpentNs = 0;
    }
    if (!pendingReads.empty() || readTurnSpentNs >= ReadTurnBudgetNs) {
        pendingReads.push_back({socket, message, sessionId});
        return;
    }
    QElapsedTimer clock;
    clock.start();
    finishCall(socket, message, sessionId);
    readTurnSpentNs += clock.nsecsElapsed();
}

void McpServer::nextRead()
{
    readTurnSpentNs = 0;
    if (pendingReads.empty())
        return;
    readTurn.start();
    QElapsedTimer clock;
    clock.start();
    while (!pendingReads.empty() && clock.nsecsElapsed() < ReadTurnBudgetNs) {
        PendingRead pending = std::move(pendingReads.front());
        pendingReads.pop_front();
        // As with a waiting read: a client that has gone gets no run and no record.
        if (pending.socket && pending.socket->state() == QAbstractSocket::ConnectedState)
            finishCall(pending.socket, pending.message, pending.sessionId);
    }
    readTurnSpentNs = clock.nsecsElapsed();
}

std::vector<QByteArray> McpServer::answerOf(const QString& tool, const QJsonObject& message,
                                           const QJsonValue& result, QString& resultText)
{
    // The result is written out once: the text content is that JSON as a
    // string, and the structured content is the same JSON again.
    const QByteArray head = "{\"id\":" + compactValue(message.value(QLatin1String("id")))
                            + ",\"jsonrpc\":\"2.0\",\"result\":{\"content\":[{\"text\":\"";
    const QByteArray middle = "\",\"type\":\"text\"}],\"isError\":false,\"structuredContent\":";
    const QByteArray tail = "}}";
    if ((tool == QLatin1String("read_events") || tool == QLatin1String("read_all_events")) && result.isObject()) {
        // Journal events come from the cache, written once for all agents;
        // the answer is pieces that share those bytes, copied out only as
        // the connection takes them.
        const Journal& journal = engine->journal;
        const qint64 oldest = journal.events.empty()
            ? journal.lastSeq + 1
            : journal.events.front().first.value(QLatin1String("seq")).toInteger();
        const EventJsonCache::Prepared prepared = eventJson.prepare(result.toObject(), oldest);
        std::vector<QByteArray> pieces;
        pieces.reserve(2 * prepared.events.size() * 2 + 16);
        pieces.push_back(head);
        EventJsonCache::appendPieces(pieces, prepared, true);
        pieces.push_back(middle);
        const std::size_t structured = pieces.size();
        EventJsonCache::appendPieces(pieces, prepared, false);
        pieces.push_back(tail);
        QByteArray prefix;
        for (std::size_t i = structured; i + 1 < pieces.size() && prefix.size() <= RecordPrefix; ++i)
            prefix += pieces[i];
        resultText = recordText(prefix.left(RecordPrefix + 1));
        return pieces;
    }
    const QByteArray text = result.isArray() ? QJsonDocument(result.toArray()).toJson(QJsonDocument::Compact)
                                             : QJsonDocument(result.toObject()).toJson(QJsonDocument::Compact);
    const QByteArray structured = result.isObject() ? text : "{\"result\":" + compactValue(result) + '}';
    resultText = result.isObject() || result.isArray() ? recordText(text) : result.toVariant().toString();
    QByteArray answer;
    answer.reserve(head.size() + text.size() + text.size() / 8 + middle.size() + structured.size() + 2);
    answer += head;
    appendJsonEscaped(answer, text.constData(), text.size());
    answer += middle;
    answer += structured;
    answer += tail;
    return {answer};
}

void McpServer::finishCall(QTcpSocket* socket, const QJsonObject& message, const QString& sessionId)
{
    const QString tool = toolName(message);
    const QJsonObject arguments = toolArguments(message);
    ++callCount;
    const qint64 seq = callCount;
    QElapsedTimer clock;
    clock.start();

    QString error;
    QString resultText;
    std::vector<QByteArray> answer;
    try {
        const QJsonValue result = call(tool, arguments);
        answer = answerOf(tool, message, result, resultText);
    } catch (const std::exception& failure) {
        error = QString::fromUtf8(failure.what());
        // A failure must never be recorded as a success.
        if (error.isEmpty())
            error = QStringLiteral("操作失败");
        const QJsonObject envelope{{QStringLiteral("content"),
                                    QJsonArray{QJsonObject{{QStringLiteral("type"), QStringLiteral("text")},
                                                           {QStringLiteral("text"), error}}}},
                                   {QStringLiteral("isError"), true}};
        answer = {QJsonDocument(reply(message, envelope)).toJson(QJsonDocument::Compact)};
    }

    const QJsonObject record = ToolCallRecord::make(seq, tool, sessions.value(sessionId), arguments, error,
                                                    clock.elapsed(), resultText);
    history.append(record);
    while (history.size() > MaxHistory)
        history.removeFirst();
    Q_EMIT toolCalled(record);
    writeAnswer(socket, std::move(answer), sessionId);
}

} // namespace vn
