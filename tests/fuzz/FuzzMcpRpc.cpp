// JSON-RPC dispatch of the MCP server and the tools behind it: the input is
// the body of a POST to /mcp in the fuzz session. Every call that expects an
// answer gets one JSON answer with its id, a result or an error, never both.

#include "tests/fuzz/FuzzSupport.h"
#include "tests/fuzz/McpFuzzHost.h"

#include <QJsonDocument>
#include <QJsonObject>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static vn::fuzz::McpFuzzHost host;
    const QByteArray body(reinterpret_cast<const char*>(data), qsizetype(size));
    const QByteArray request = "POST /mcp HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\n"
                               "Mcp-Session-Id: "
                               + QByteArray(vn::fuzz::SessionId) + "\r\nContent-Length: "
                               + QByteArray::number(body.size()) + "\r\n\r\n" + body;
    vn::fuzz::FakeSocket* socket = host.connect();
    QPointer<vn::fuzz::FakeSocket> alive(socket);
    host.server->acceptRequest(socket, request);
    if (alive && !alive->written.isEmpty()) {
        const QByteArray answer = alive->written;
        const qsizetype end = answer.indexOf("\r\n\r\n");
        if (!answer.startsWith("HTTP/1.1 ") || end < 0)
            vn::fuzz::broken("malformed answer");
        const QByteArray payload = answer.mid(end + 4);
        if (answer.startsWith("HTTP/1.1 200") && !payload.isEmpty()) {
            QJsonParseError error;
            const QJsonDocument document = QJsonDocument::fromJson(payload, &error);
            if (error.error != QJsonParseError::NoError || !document.isObject())
                vn::fuzz::broken("answer body is not a JSON object");
            const QJsonObject reply = document.object();
            if (reply.contains(QLatin1String("result")) == reply.contains(QLatin1String("error")))
                vn::fuzz::broken("answer has both or neither of result and error");
        }
    }
    if (alive)
        vn::fuzz::show(alive->written);
    host.finish(alive.data());
    // A long-poll left waiting is cut off with its connection, so calls never
    // pile up from one input to the next.
    return 0;
}
