#pragma once

#include "core/ssh/SshTarget.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace vn {

// What the SSH client makes of one connection: the effective host (lower
// case) and port, the name under which the host's keys are stored, and the
// user known-hosts files it reads (absolute, cleaned, no duplicates).
struct SshHostRecords {
    QString host;
    int port = 22;
    QStringList hostKeyNames;
    QStringList knownHostsFiles;
};

// Finds a connection's host records through the client's "-G" output and
// removes that host's entries from known_hosts files, keeping a backup.
class SshHostCache {
public:
    // Runs `program -G [-l user] [-p port] [-i identity] host` (at most 3 s).
    static SshHostRecords resolve(const SshTarget& target, const QString& program);
    // The same for whole connection settings (`Config`), validated first.
    template <typename Settings>
    static SshHostRecords resolve(const Settings& settings, const QString& program)
    {
        settings.validate();
        return resolve(SshTarget::of(settings), program);
    }
    static SshHostRecords parse(const QByteArray& output, const QString& configuredHost);
    // The number of host-field entries removed from the file (0: untouched).
    static int remove(const QString& knownHostsFile, const QStringList& names);
};

} // namespace vn
