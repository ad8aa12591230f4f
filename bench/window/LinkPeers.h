#pragma once

// The far ends of the fast-link benchmark: a TCP peer the channel connects to
// and UDP senders, each writing numbered 100-byte lines from a thread of its
// own with plain blocking sockets, so that nothing of Qt's event loop paces
// them. A rate of 0 is "as fast as the link takes it".

#include <QByteArray>

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace vn::bench {

using LinkClock = std::chrono::steady_clock;

// Numbered lines of exactly 100 bytes: "n=0000000042 data xxx…\r\n". Every
// tenth line and the closing line of a burst carry "mark" instead of "data",
// which is what the filtered view lets through.
class LineMaker {
public:
    static constexpr int LineBytes = 100;

    qint64 next = 0;

    static QByteArray numberText(qint64 n)
    {
        return "n=" + QByteArray::number(n).rightJustified(10, '0');
    }

    void append(QByteArray& out, qint64 count)
    {
        const qsizetype start = out.size();
        out.resize(start + count * LineBytes);
        char* p = out.data() + start;
        for (qint64 i = 0; i < count; ++i, p += LineBytes) {
            const qint64 n = next++;
            write(p, n, n % 10 == 7);
        }
    }

    // The last line of a burst; returns its number.
    qint64 appendClosing(QByteArray& out)
    {
        const qint64 n = next;
        const qsizetype start = out.size();
        out.resize(start + LineBytes);
        write(out.data() + start, next++, true);
        return n;
    }

private:
    static void write(char* p, qint64 n, bool mark)
    {
        std::memcpy(p, "n=", 2);
        for (int digit = 11; digit >= 2; --digit, n /= 10)
            p[digit] = char('0' + n % 10);
        std::memcpy(p + 12, mark ? " mark " : " data ", 6);
        std::memset(p + 18, 'x', LineBytes - 20);
        p[LineBytes - 2] = '\r';
        p[LineBytes - 1] = '\n';
    }
};

// What one burst did, readable from the GUI thread while it runs.
struct Burst {
    std::atomic<qint64> sentBytes{0};
    std::atomic<qint64> lastLine{-1};
    std::atomic<bool> done{false};
    LinkClock::time_point ended;
};

inline bool sendWhole(int fd, const char* data, qsizetype size)
{
    while (size > 0) {
        const ssize_t n = ::send(fd, data, size_t(size), MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        data += n;
        size -= n;
    }
    return true;
}

// Listens on 127.0.0.1; the channel under test connects as a TCP client.
class TcpLinePeer {
public:
    TcpLinePeer()
    {
        m_listen = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_listen, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(m_listen, 1);
        socklen_t length = sizeof address;
        ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&address), &length);
        port = ntohs(address.sin_port);
    }
    ~TcpLinePeer()
    {
        if (m_thread.joinable())
            m_thread.join();
        if (m_fd >= 0)
            ::close(m_fd);
        ::close(m_listen);
    }
    TcpLinePeer(const TcpLinePeer&) = delete;
    TcpLinePeer& operator=(const TcpLinePeer&) = delete;

    quint16 port = 0;

    // True once the channel's connection has been taken.
    bool accepted()
    {
        if (m_fd >= 0)
            return true;
        pollfd ready{m_listen, POLLIN, 0};
        if (::poll(&ready, 1, 0) == 1)
            m_fd = ::accept(m_listen, nullptr, nullptr);
        return m_fd >= 0;
    }

    // Starts a burst of `milliseconds` at `bytesPerSecond` (0: flat out),
    // closed by one marked line. The previous burst must have ended.
    void start(Burst& burst, double bytesPerSecond, int milliseconds)
    {
        if (m_thread.joinable())
            m_thread.join();
        m_thread = std::thread([this, &burst, bytesPerSecond, milliseconds] {
            run(burst, bytesPerSecond, milliseconds);
        });
    }

    void join()
    {
        if (m_thread.joinable())
            m_thread.join();
    }

private:
    void run(Burst& burst, double bytesPerSecond, int milliseconds)
    {
        const auto began = LinkClock::now();
        const auto until = began + std::chrono::milliseconds(milliseconds);
        QByteArray block;
        block.reserve(1 << 20);
        bool ok = true;
        while (ok && LinkClock::now() < until) {
            block.clear();
            qint64 lines = 2621; // about 256 KiB flat out
            if (bytesPerSecond > 0) {
                const double seconds = std::chrono::duration<double>(LinkClock::now() - began).count();
                const qint64 due = qint64(bytesPerSecond * seconds) - burst.sentBytes.load();
                if (due < LineMaker::LineBytes) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(2));
                    continue;
                }
                lines = std::min<qint64>(due / LineMaker::LineBytes, lines);
            }
            maker.append(block, lines);
            ok = sendWhole(m_fd, block.constData(), block.size());
            if (ok) {
                burst.sentBytes += block.size();
                burst.lastLine = maker.next - 1;
            }
        }
        block.clear();
        const qint64 closing = maker.appendClosing(block);
        if (ok && sendWhole(m_fd, block.constData(), block.size())) {
            burst.sentBytes += block.size();
            burst.lastLine = closing;
        }
        burst.ended = LinkClock::now();
        burst.done = true;
    }

    int m_listen = -1;
    int m_fd = -1;
    std::thread m_thread;
    LineMaker maker;
};

// Sends datagrams of ten numbered lines (1000 bytes) to a port on 127.0.0.1.
class UdpLineSender {
public:
    explicit UdpLineSender(quint16 port, qint64 firstLine)
    {
        maker.next = firstLine;
        m_fd = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(port);
        ::connect(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    }
    ~UdpLineSender()
    {
        join();
        ::close(m_fd);
    }
    UdpLineSender(const UdpLineSender&) = delete;
    UdpLineSender& operator=(const UdpLineSender&) = delete;

    std::atomic<qint64> datagrams{0};
    std::atomic<bool> done{false};

    void start(double bytesPerSecond, int milliseconds)
    {
        m_thread = std::thread([this, bytesPerSecond, milliseconds] {
            const auto began = LinkClock::now();
            const auto until = began + std::chrono::milliseconds(milliseconds);
            QByteArray datagram;
            while (LinkClock::now() < until) {
                const double seconds = std::chrono::duration<double>(LinkClock::now() - began).count();
                const qint64 due = qint64(bytesPerSecond * seconds / 1000.0) - datagrams.load();
                if (due <= 0) {
                    std::this_thread::sleep_for(std::chrono::microseconds(500));
                    continue;
                }
                for (qint64 i = 0; i < due; ++i) {
                    datagram.clear();
                    maker.append(datagram, 10);
                    if (::send(m_fd, datagram.constData(), size_t(datagram.size()), 0) == datagram.size())
                        ++datagrams;
                }
            }
            done = true;
        });
    }

    void join()
    {
        if (m_thread.joinable())
            m_thread.join();
    }

private:
    int m_fd = -1;
    std::thread m_thread;
    LineMaker maker;
};

} // namespace vn::bench
