#pragma once

#include <QString>

namespace vn {

// Remembers the passwords and passphrases the user chose to keep: one small
// JSON file per host (named by the SHA-256 of the lower-cased host), each
// member the hash of one question's entry and its value the secret sealed for
// this user (UserSecretStore) with the host and entry bound in. Write and
// remove are serialised between running programs by a lock file beside the
// host file. Every failure throws a Chinese message through `fail`.
class SshCredentialCache {
public:
    // "Varnelle/ssh" in the user's generic data location.
    static QString directory();

    // The remembered secret; empty when there is none or it does not open.
    static QString read(const QString& directory, const QString& host, const QString& entry);
    static void write(const QString& directory, const QString& host, const QString& entry,
                      const QString& secret);
    // Forgets one entry; an empty entry deletes the host's whole file.
    static void remove(const QString& directory, const QString& host, const QString& entry);

    // The host's file in the directory.
    static QString cachePath(const QString& directory, const QString& host);
};

} // namespace vn
