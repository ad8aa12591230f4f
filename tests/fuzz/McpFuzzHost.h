#pragma once

// A live McpServer over an Engine with a few channels that hold traffic, and
// a socket stand-in that hands the server the fuzzer's bytes and keeps what it
// answers, so the HTTP and JSON-RPC paths run without any network.

#include "core/Engine.h"
#include "mcp/McpServer.h"

#include <QByteArray>
#include <QPointer>
#include <QTcpSocket>

namespace vn::fuzz {

// Connected as far as the server can tell; reads come from `pending`,
// writes go to `written`, and closing it is only a state change.
class FakeSocket : public QTcpSocket {
    Q_OBJECT
public:
    explicit FakeSocket(QObject* parent = nullptr);
    ~FakeSocket() override;

    // Makes `bytes` readable and announces them.
    void deliver(const QByteArray& bytes);
    void disconnectFromHost() override;
    qint64 bytesAvailable() const override;

    QByteArray written;

protected:
    qint64 readData(char* data, qint64 maxSize) override;
    qint64 writeData(const char* data, qint64 size) override;

private:
    QByteArray pending;
};

// The fixed session every fuzz request may name in Mcp-Session-Id.
inline constexpr char SessionId[] = "fuzz-session";

class McpFuzzHost {
public:
    McpFuzzHost();
    ~McpFuzzHost();

    // A new connection through the server's own accept path.
    FakeSocket* connect();
    // Deletes what the server left for later deletion and the socket itself.
    void finish(FakeSocket* socket);

    Engine engine;
    McpServer* server = nullptr;
};

} // namespace vn::fuzz
