#pragma once

#include <QCryptographicHash>
#include <QSet>
#include <QString>
#include <QStringList>

namespace vn {

// Reads the user's SSH client configuration and every file it includes:
// the concrete host aliases of its "Host" lines, and a digest over the paths
// and contents of all those files that changes whenever any of them does.
class SshProfiles {
public:
    // An empty path selects ".ssh/config" in the home directory.
    static QStringList aliases(const QString& path = QString());
    static QString fingerprint(const QString& path = QString());

    // The shared walk: the starting file and at most 12 levels of includes,
    // each file read at most once.
    static void collectConfig(const QString& path, QStringList* aliases, QSet<QString>& visited,
                              QCryptographicHash* digest, int depth);

    static QString defaultPath();
};

} // namespace vn
