#pragma once

#include <optional>
#include <sys/types.h>

namespace vn::platform {

struct PeerEndpoints;

// Tells which local account owns the other end of an accepted TCP connection
// whose client runs on this machine, as the MCP endpoint's clients on
// 127.0.0.1 (or ::1) do. Every account can reach the loopback address, so
// this is what keeps one user's agents out of another user's sessions.
//
// It asks the kernel for exactly the client's socket through the socket
// diagnostics netlink interface (one request with the connection's four
// addresses and ports), and reads /proc/net/tcp and /proc/net/tcp6 where that
// interface is refused. One object keeps its netlink socket open between
// lookups; use it from one thread.
class LoopbackPeer {
public:
    enum class Lookup {
        Automatic,         // netlink, and the /proc tables where netlink is refused
        SocketDiagnostics, // netlink only
        ProcTables,        // /proc/net/tcp and /proc/net/tcp6 only
    };

    explicit LoopbackPeer(Lookup lookup = Lookup::Automatic);
    ~LoopbackPeer();
    LoopbackPeer(const LoopbackPeer&) = delete;
    LoopbackPeer& operator=(const LoopbackPeer&) = delete;

    // The uid owning the socket at the other end of the connected TCP socket
    // `descriptor`. None when that socket is not on this machine, is gone,
    // or no longer belongs to any process (closed by its program, or waiting
    // out TIME_WAIT): the kernel reports such sockets as root's, and they
    // must not count as anybody's.
    std::optional<uid_t> owner(int descriptor);

    // Whether the other end belongs to the user this process runs as. Root
    // is not special: root's program serves only root's clients.
    bool ownedBySelf(int descriptor);

private:
    enum class Answer { Found, Missing, Refused };
    struct Result {
        Answer answer = Answer::Refused;
        std::optional<uid_t> owner;
    };

    Result askKernel(const PeerEndpoints& endpoints);
    Result exchange(const PeerEndpoints& endpoints);
    static Result readProcTables(const PeerEndpoints& endpoints);
    bool openNetlink();
    void closeNetlink();

    Lookup lookup;
    int netlink = -1;
    unsigned sequence = 0;
    // Once netlink has found one socket, a missing socket is really gone;
    // before that it may mean the kernel lacks the TCP diagnostics module.
    bool netlinkProven = false;
    bool netlinkRefused = false;
};

} // namespace vn::platform
