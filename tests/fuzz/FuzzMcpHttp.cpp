// The MCP server's HTTP request framing, from the first byte a client sends:
// the input is cut into random deliveries on one connection. A request is
// answered at most once, with a well-formed HTTP/1.1 status line.

#include "tests/fuzz/FuzzSupport.h"
#include "tests/fuzz/McpFuzzHost.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static vn::fuzz::McpFuzzHost host;
    const vn::fuzz::Input input(data, size);
    vn::fuzz::FakeSocket* socket = host.connect();
    QPointer<vn::fuzz::FakeSocket> alive(socket);
    QByteArray answer;
    for (const QByteArray& piece : input.pieces()) {
        if (!alive || alive->state() != QAbstractSocket::ConnectedState)
            break;
        alive->deliver(piece);
    }
    if (alive) {
        answer = alive->written;
        if (!answer.isEmpty()) {
            if (!answer.startsWith("HTTP/1.1 ") || answer.indexOf("\r\n\r\n") < 0)
                vn::fuzz::broken("malformed answer");
            if (answer.indexOf("HTTP/1.1 ", 1) >= 0)
                vn::fuzz::broken("one request answered twice");
        }
    }
    if (alive)
        vn::fuzz::show(alive->written);
    host.finish(alive.data());
    return 0;
}
