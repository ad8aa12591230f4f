#pragma once

#include <QString>
#include <QStringList>

namespace vn {

// The SSH part of one connection's settings, as the transport needs it: the
// host as typed, the optional user, port (0: the client's default) and
// identity file, and the connection's identity string (`Config::key`), which
// names remembered secrets. The transport library takes this record rather
// than the engine's `Config`, so it stands on its own.
struct SshTarget {
    QString host;
    QString user;
    int port = 0;
    QString identity;
    QString key;

    // Any record with the connection fields (`ssh_host`, ..., `key()`).
    template <typename Settings>
    static SshTarget of(const Settings& settings)
    {
        return {settings.ssh_host, settings.ssh_user, settings.ssh_port, settings.ssh_identity,
                settings.key()};
    }

    // Throws "SSH 主机、用户名或端口无效" for a target the client must not be
    // started with (the SSH rule of the connection settings' validation).
    void validate() const;

    // "-l" user, "-p" port, "-i" identity (each only when set), then the host.
    QStringList clientArguments() const;
};

} // namespace vn
