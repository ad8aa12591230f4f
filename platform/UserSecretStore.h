#pragma once

#include <QByteArray>
#include <QString>

namespace vn {

// Encrypts small secrets so that only the same user can read them back.
//
// Each blob is sealed with XChaCha20-Poly1305 under a random 32-byte key that
// lives in a file only the user may read (0600, inside a 0700 folder), with
// the caller's entropy bound in as associated data. Nothing is ever shown to
// the user. A blob sealed under another key, with other entropy, or damaged,
// does not open: `decrypt` then returns an empty array.
class UserSecretStore {
public:
    // The key folder of this user: "Varnelle/keys" in the generic data location.
    UserSecretStore();
    // A key kept in another folder (tests; a second store).
    explicit UserSecretStore(const QString& keyDirectory);

    QString keyDirectory() const { return m_keyDirectory; }
    QString keyPath() const;

    // The sealed blob; empty with `error` set when no key can be made or read.
    QByteArray encrypt(const QByteArray& data, const QByteArray& entropy,
                       QString* error = nullptr) const;
    // The opened bytes; empty when the blob does not open (quietly).
    QByteArray decrypt(const QByteArray& blob, const QByteArray& entropy) const;

    static QString defaultKeyDirectory();

private:
    QString m_keyDirectory;
};

} // namespace vn
