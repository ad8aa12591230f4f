#pragma once

// A plain blocking HTTP client for the MCP benchmarks: it runs on threads of
// its own while the server keeps the main thread's event loop, so the
// figures include the real socket round trip and nothing of Qt's client side.

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace vn::bench {

using Clock = std::chrono::steady_clock;

inline double millisecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

inline int connectLoopback(quint16 port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

inline QByteArray requestBytes(const QJsonObject& message, const QString& session)
{
    const QByteArray body = QJsonDocument(message).toJson(QJsonDocument::Compact);
    QByteArray request = "POST /mcp HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\n";
    if (!session.isEmpty())
        request += "Mcp-Session-Id: " + session.toUtf8() + "\r\n";
    request += "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
    return request;
}

inline bool sendAll(int fd, const QByteArray& bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.constData() + done, static_cast<size_t>(bytes.size() - done), MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

// Reads until the server closes the connection (it always does after one answer).
inline QByteArray readAll(int fd)
{
    QByteArray reply;
    char chunk[65536];
    for (;;) {
        const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0)
            break;
        reply.append(chunk, n);
    }
    return reply;
}

inline QByteArray exchange(quint16 port, const QJsonObject& message, const QString& session)
{
    const int fd = connectLoopback(port);
    if (fd < 0)
        return {};
    QByteArray reply;
    if (sendAll(fd, requestBytes(message, session)))
        reply = readAll(fd);
    ::close(fd);
    return reply;
}

// The same exchange for large answers whose content does not matter: reads
// them into one buffer it reuses, so that the figures are the server's and
// not this side's memory. Keeps the first bytes (the status line) in `head`.
inline qint64 exchangeDiscarding(quint16 port, const QJsonObject& message, const QString& session, QByteArray& head)
{
    const int fd = connectLoopback(port);
    if (fd < 0)
        return -1;
    qint64 total = 0;
    head.clear();
    if (sendAll(fd, requestBytes(message, session))) {
        static thread_local char chunk[1 << 20];
        for (;;) {
            const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
            if (n <= 0)
                break;
            if (head.size() < 4096)
                head.append(chunk, std::min<qsizetype>(n, 4096 - head.size()));
            total += n;
        }
    }
    ::close(fd);
    return total;
}

inline QJsonObject body(const QByteArray& reply)
{
    const qsizetype end = reply.indexOf("\r\n\r\n");
    return end < 0 ? QJsonObject() : QJsonDocument::fromJson(reply.mid(end + 4)).object();
}

inline QString sessionOf(const QByteArray& reply)
{
    const qsizetype at = reply.indexOf("Mcp-Session-Id: ");
    return at < 0 ? QString() : QString::fromLatin1(reply.mid(at + 16, 32));
}

inline QJsonObject toolCall(const QString& tool, const QJsonObject& arguments)
{
    return {{"jsonrpc", "2.0"}, {"id", 1}, {"method", "tools/call"},
            {"params", QJsonObject{{"name", tool}, {"arguments", arguments}}}};
}

inline QString initialize(quint16 port)
{
    const QJsonObject message{{"jsonrpc", "2.0"}, {"id", 1}, {"method", "initialize"},
                              {"params", QJsonObject{{"clientInfo", QJsonObject{{"name", "bench"}}}}}};
    return sessionOf(exchange(port, message, QString()));
}

inline double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t index = std::min(values.size() - 1, static_cast<size_t>(p / 100.0 * static_cast<double>(values.size())));
    return values[index];
}

} // namespace vn::bench
