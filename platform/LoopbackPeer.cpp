#include "platform/LoopbackPeer.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include <fcntl.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vn::platform {

// Both ends of one connection: the client's (peer) and ours (local).
// Addresses hold 4 bytes for IPv4 and 16 for IPv6, in network order; ports
// are in host order.
struct PeerEndpoints {
    int family = AF_UNSPEC;
    std::array<unsigned char, 16> peer{};
    std::array<unsigned char, 16> local{};
    uint16_t peerPort = 0;
    uint16_t localPort = 0;
};

namespace {

// The kernel answers an exact lookup while it handles the request, so the
// reply is there when send returns; this only bounds a kernel that is slow.
constexpr int ReplyWaitMs = 100;

constexpr std::array<unsigned char, 12> MappedPrefix{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};

bool isMapped(const std::array<unsigned char, 16>& address)
{
    return std::memcmp(address.data(), MappedPrefix.data(), MappedPrefix.size()) == 0;
}

bool addressOf(const sockaddr_storage& storage, std::array<unsigned char, 16>& address, uint16_t& port, int& family)
{
    if (storage.ss_family == AF_INET) {
        sockaddr_in in{};
        std::memcpy(&in, &storage, sizeof in);
        std::memcpy(address.data(), &in.sin_addr, 4);
        port = ntohs(in.sin_port);
    } else if (storage.ss_family == AF_INET6) {
        sockaddr_in6 in6{};
        std::memcpy(&in6, &storage, sizeof in6);
        std::memcpy(address.data(), &in6.sin6_addr, 16);
        port = ntohs(in6.sin6_port);
    } else {
        return false;
    }
    family = storage.ss_family;
    return true;
}

bool endpointsOf(int descriptor, PeerEndpoints& endpoints)
{
    sockaddr_storage peer{};
    sockaddr_storage local{};
    socklen_t peerSize = sizeof peer;
    socklen_t localSize = sizeof local;
    if (::getpeername(descriptor, reinterpret_cast<sockaddr*>(&peer), &peerSize) != 0
        || ::getsockname(descriptor, reinterpret_cast<sockaddr*>(&local), &localSize) != 0)
        return false;
    int peerFamily = AF_UNSPEC;
    if (!addressOf(peer, endpoints.peer, endpoints.peerPort, peerFamily)
        || !addressOf(local, endpoints.local, endpoints.localPort, endpoints.family)
        || peerFamily != endpoints.family)
        return false;
    // An IPv6 listener sees IPv4 clients under mapped addresses; their
    // sockets are IPv4 connections to the kernel.
    if (endpoints.family == AF_INET6 && isMapped(endpoints.peer) && isMapped(endpoints.local)) {
        std::memmove(endpoints.peer.data(), endpoints.peer.data() + 12, 4);
        std::memmove(endpoints.local.data(), endpoints.local.data() + 12, 4);
        endpoints.family = AF_INET;
    }
    return true;
}

// How /proc/net/tcp and /proc/net/tcp6 print an address and port: each
// 32-bit word of the address as the kernel holds it in memory, in hex, and
// the port in hex.
std::string tableToken(const unsigned char* address, int words, uint16_t port)
{
    std::string token;
    char piece[16];
    for (int word = 0; word < words; ++word) {
        uint32_t value = 0;
        std::memcpy(&value, address + 4 * word, 4);
        std::snprintf(piece, sizeof piece, "%08X", value);
        token += piece;
    }
    std::snprintf(piece, sizeof piece, ":%04X", port);
    return token + piece;
}

// The whitespace-separated fields of one table line, as many as fit.
template <size_t N>
size_t splitFields(std::string_view line, std::array<std::string_view, N>& fields)
{
    size_t count = 0;
    size_t at = 0;
    while (count < N) {
        at = line.find_first_not_of(" \t", at);
        if (at == std::string_view::npos)
            break;
        const size_t end = std::min(line.find_first_of(" \t", at), line.size());
        fields[count++] = line.substr(at, end - at);
        at = end;
    }
    return count;
}

} // namespace

LoopbackPeer::LoopbackPeer(Lookup lookup_)
    : lookup(lookup_)
{
}

LoopbackPeer::~LoopbackPeer()
{
    closeNetlink();
}

std::optional<uid_t> LoopbackPeer::owner(int descriptor)
{
    PeerEndpoints endpoints;
    if (!endpointsOf(descriptor, endpoints))
        return std::nullopt;
    Result result;
    switch (lookup) {
    case Lookup::ProcTables:
        result = readProcTables(endpoints);
        break;
    case Lookup::SocketDiagnostics:
        result = askKernel(endpoints);
        break;
    case Lookup::Automatic:
        if (!netlinkRefused)
            result = askKernel(endpoints);
        if (result.answer == Answer::Found) {
            netlinkProven = true;
        } else if (result.answer == Answer::Refused || !netlinkProven) {
            const Result table = readProcTables(endpoints);
            // Netlink works but cannot see TCP sockets here (no diagnostics
            // module for them): the tables can, so keep to them.
            if (result.answer == Answer::Missing && table.answer == Answer::Found)
                netlinkRefused = true;
            if (table.answer != Answer::Refused)
                result = table;
        }
        break;
    }
    return result.answer == Answer::Found ? result.owner : std::nullopt;
}

bool LoopbackPeer::ownedBySelf(int descriptor)
{
    const std::optional<uid_t> uid = owner(descriptor);
    return uid && *uid == ::geteuid();
}

LoopbackPeer::Result LoopbackPeer::askKernel(const PeerEndpoints& endpoints)
{
    if (netlink < 0 && !openNetlink())
        return {};
    return exchange(endpoints);
}

bool LoopbackPeer::openNetlink()
{
    netlink = ::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG);
    if (netlink < 0) {
        netlinkRefused = true;
        return false;
    }
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    if (::connect(netlink, reinterpret_cast<sockaddr*>(&kernel), sizeof kernel) != 0) {
        closeNetlink();
        netlinkRefused = true;
        return false;
    }
    return true;
}

void LoopbackPeer::closeNetlink()
{
    if (netlink >= 0)
        ::close(netlink);
    netlink = -1;
}

LoopbackPeer::Result LoopbackPeer::exchange(const PeerEndpoints& endpoints)
{
    struct Request {
        nlmsghdr header;
        inet_diag_req_v2 body;
    } request{};
    request.header.nlmsg_len = sizeof request;
    request.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
    request.header.nlmsg_flags = NLM_F_REQUEST;
    request.header.nlmsg_seq = ++sequence;
    request.body.sdiag_family = static_cast<uint8_t>(endpoints.family);
    request.body.sdiag_protocol = IPPROTO_TCP;
    request.body.idiag_states = ~0U;
    // The socket asked for is the client's: its own end is "source".
    request.body.id.idiag_sport = htons(endpoints.peerPort);
    request.body.id.idiag_dport = htons(endpoints.localPort);
    const size_t size = endpoints.family == AF_INET ? 4 : 16;
    std::memcpy(request.body.id.idiag_src, endpoints.peer.data(), size);
    std::memcpy(request.body.id.idiag_dst, endpoints.local.data(), size);
    request.body.id.idiag_cookie[0] = INET_DIAG_NOCOOKIE;
    request.body.id.idiag_cookie[1] = INET_DIAG_NOCOOKIE;

    ssize_t sent = 0;
    do
        sent = ::send(netlink, &request, sizeof request, MSG_NOSIGNAL);
    while (sent < 0 && errno == EINTR);
    if (sent != static_cast<ssize_t>(sizeof request)) {
        closeNetlink();
        return {};
    }

    std::array<char, 8192> buffer;
    for (;;) {
        const ssize_t got = ::recv(netlink, buffer.data(), buffer.size(), MSG_DONTWAIT);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            pollfd ready{netlink, POLLIN, 0};
            if ((errno == EAGAIN || errno == EWOULDBLOCK) && ::poll(&ready, 1, ReplyWaitMs) > 0)
                continue;
            // A late answer would meet the next request: start that afresh.
            closeNetlink();
            return {};
        }
        size_t at = 0;
        const auto length = static_cast<size_t>(got);
        while (at + sizeof(nlmsghdr) <= length) {
            nlmsghdr header{};
            std::memcpy(&header, buffer.data() + at, sizeof header);
            if (header.nlmsg_len < sizeof header || at + header.nlmsg_len > length)
                break;
            const char* payload = buffer.data() + at + NLMSG_HDRLEN;
            const size_t payloadSize = header.nlmsg_len - NLMSG_HDRLEN;
            at += NLMSG_ALIGN(header.nlmsg_len);
            if (header.nlmsg_seq != sequence)
                continue; // the answer to a request given up on
            if (header.nlmsg_type == NLMSG_ERROR && payloadSize >= sizeof(int)) {
                int error = 0; // the first member of nlmsgerr
                std::memcpy(&error, payload, sizeof error);
                if (error == -ENOENT)
                    return {Answer::Missing, std::nullopt};
                netlinkRefused = true;
                closeNetlink();
                return {};
            }
            if (header.nlmsg_type == SOCK_DIAG_BY_FAMILY && payloadSize >= sizeof(inet_diag_msg)) {
                inet_diag_msg message{};
                std::memcpy(&message, payload, sizeof message);
                Result found{Answer::Found, std::nullopt};
                // No inode: no program holds the socket any more.
                if (message.idiag_inode != 0)
                    found.owner = message.idiag_uid;
                return found;
            }
        }
    }
}

LoopbackPeer::Result LoopbackPeer::readProcTables(const PeerEndpoints& endpoints)
{
    struct Table {
        const char* path;
        std::string peer;
        std::string local;
    };
    std::array<Table, 2> tables;
    size_t count = 0;
    if (endpoints.family == AF_INET) {
        tables[count++] = {"/proc/net/tcp", tableToken(endpoints.peer.data(), 1, endpoints.peerPort),
                           tableToken(endpoints.local.data(), 1, endpoints.localPort)};
        // An IPv6 client socket that reached an IPv4 address is listed there.
        std::array<unsigned char, 16> peer{};
        std::array<unsigned char, 16> local{};
        std::memcpy(peer.data(), MappedPrefix.data(), MappedPrefix.size());
        std::memcpy(local.data(), MappedPrefix.data(), MappedPrefix.size());
        std::memcpy(peer.data() + 12, endpoints.peer.data(), 4);
        std::memcpy(local.data() + 12, endpoints.local.data(), 4);
        tables[count++] = {"/proc/net/tcp6", tableToken(peer.data(), 4, endpoints.peerPort),
                           tableToken(local.data(), 4, endpoints.localPort)};
    } else {
        tables[count++] = {"/proc/net/tcp6", tableToken(endpoints.peer.data(), 4, endpoints.peerPort),
                           tableToken(endpoints.local.data(), 4, endpoints.localPort)};
    }

    Result result;
    for (size_t t = 0; t < count; ++t) {
        const Table& table = tables[t];
        const int file = ::open(table.path, O_RDONLY | O_CLOEXEC);
        if (file < 0)
            continue;
        result.answer = Answer::Missing;
        std::string pending;
        std::array<char, 65536> chunk;
        for (;;) {
            const ssize_t got = ::read(file, chunk.data(), chunk.size());
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                break;
            pending.append(chunk.data(), static_cast<size_t>(got));
            size_t start = 0;
            for (size_t end; (end = pending.find('\n', start)) != std::string::npos; start = end + 1) {
                // sl local_address rem_address st tx:rx tr:when retrnsmt uid timeout inode
                std::array<std::string_view, 10> fields;
                if (splitFields(std::string_view(pending).substr(start, end - start), fields) < fields.size()
                    || fields[1] != table.peer || fields[2] != table.local)
                    continue;
                ::close(file);
                const std::string uid(fields[7]);
                const std::string inode(fields[9]);
                Result found{Answer::Found, std::nullopt};
                if (std::strtoull(inode.c_str(), nullptr, 10) != 0)
                    found.owner = static_cast<uid_t>(std::strtoul(uid.c_str(), nullptr, 10));
                return found;
            }
            pending.erase(0, start);
        }
        ::close(file);
    }
    return result;
}

} // namespace vn::platform
