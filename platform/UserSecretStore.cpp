#include "platform/UserSecretStore.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <sodium.h>

#include <array>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vn {

namespace {

constexpr char BlobVersion = 1;
constexpr std::size_t KeySize = crypto_aead_xchacha20poly1305_ietf_KEYBYTES;
constexpr std::size_t NonceSize = crypto_aead_xchacha20poly1305_ietf_NPUBBYTES;
constexpr std::size_t TagSize = crypto_aead_xchacha20poly1305_ietf_ABYTES;

// The key bytes, wiped when they go out of scope.
struct Key {
    std::array<unsigned char, KeySize> bytes{};
    ~Key() { sodium_memzero(bytes.data(), bytes.size()); }
};

bool readExactly(int fd, unsigned char* buffer, std::size_t size)
{
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::read(fd, buffer + done, size - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    // A longer file is not a key of ours.
    unsigned char extra;
    return ::read(fd, &extra, 1) == 0;
}

bool writeAll(int fd, const unsigned char* data, std::size_t size)
{
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, data + done, size - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool loadKey(const QByteArray& path, Key& key)
{
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return false;
    struct stat info {};
    bool ok = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == ::geteuid()
              && readExactly(fd, key.bytes.data(), key.bytes.size());
    // A key file that others could read is narrowed back to the user.
    if (ok && (info.st_mode & 077) != 0)
        ::fchmod(fd, S_IRUSR | S_IWUSR);
    ::close(fd);
    return ok;
}

// Makes the key once: written to a private temporary file, then linked under
// its name, so two processes racing to make it end up sharing one key.
bool createKey(const QString& directory, const QByteArray& path, Key& key)
{
    if (!QDir().mkpath(directory))
        return false;
    const QByteArray dir = QFile::encodeName(directory);
    ::chmod(dir.constData(), S_IRWXU);
    QByteArray temp = dir + "/.key-XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0)
        return false;
    randombytes_buf(key.bytes.data(), key.bytes.size());
    bool ok = ::fchmod(fd, S_IRUSR | S_IWUSR) == 0 && writeAll(fd, key.bytes.data(), key.bytes.size())
              && ::fsync(fd) == 0;
    ::close(fd);
    if (ok && ::link(temp.constData(), path.constData()) != 0)
        ok = errno == EEXIST && loadKey(path, key);
    ::unlink(temp.constData());
    return ok;
}

} // namespace

UserSecretStore::UserSecretStore()
    : UserSecretStore(defaultKeyDirectory())
{
}

UserSecretStore::UserSecretStore(const QString& keyDirectory)
    : m_keyDirectory(keyDirectory)
{
}

QString UserSecretStore::defaultKeyDirectory()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
           + QStringLiteral("/Varnelle/keys");
}

QString UserSecretStore::keyPath() const
{
    return m_keyDirectory + QStringLiteral("/user-secret.key");
}

QByteArray UserSecretStore::encrypt(const QByteArray& data, const QByteArray& entropy,
                                    QString* error) const
{
    const auto refuse = [error](const QString& text) {
        if (error)
            *error = text;
        return QByteArray();
    };
    if (sodium_init() < 0)
        return refuse(QStringLiteral("加密库无法初始化"));
    Key key;
    const QByteArray path = QFile::encodeName(keyPath());
    if (!loadKey(path, key) && !createKey(m_keyDirectory, path, key))
        return refuse(QStringLiteral("无法读取或创建用户密钥文件"));

    QByteArray blob(static_cast<qsizetype>(1 + NonceSize + data.size() + TagSize), Qt::Uninitialized);
    auto* out = reinterpret_cast<unsigned char*>(blob.data());
    out[0] = BlobVersion;
    randombytes_buf(out + 1, NonceSize);
    unsigned long long sealed = 0;
    crypto_aead_xchacha20poly1305_ietf_encrypt(
        out + 1 + NonceSize, &sealed, reinterpret_cast<const unsigned char*>(data.constData()),
        static_cast<unsigned long long>(data.size()),
        reinterpret_cast<const unsigned char*>(entropy.constData()),
        static_cast<unsigned long long>(entropy.size()), nullptr, out + 1, key.bytes.data());
    blob.resize(static_cast<qsizetype>(1 + NonceSize + sealed));
    return blob;
}

QByteArray UserSecretStore::decrypt(const QByteArray& blob, const QByteArray& entropy) const
{
    if (sodium_init() < 0)
        return {};
    if (blob.size() < static_cast<qsizetype>(1 + NonceSize + TagSize) || blob.at(0) != BlobVersion)
        return {};
    Key key;
    if (!loadKey(QFile::encodeName(keyPath()), key))
        return {};
    const auto* in = reinterpret_cast<const unsigned char*>(blob.constData());
    const auto sealedSize = static_cast<unsigned long long>(blob.size()) - 1 - NonceSize;
    QByteArray plain(static_cast<qsizetype>(sealedSize - TagSize), Qt::Uninitialized);
    unsigned long long opened = 0;
    if (crypto_aead_xchacha20poly1305_ietf_decrypt(
            reinterpret_cast<unsigned char*>(plain.data()), &opened, nullptr, in + 1 + NonceSize,
            sealedSize, reinterpret_cast<const unsigned char*>(entropy.constData()),
            static_cast<unsigned long long>(entropy.size()), in + 1, key.bytes.data())
        != 0) {
        sodium_memzero(plain.data(), static_cast<size_t>(plain.size()));
        return {};
    }
    plain.resize(static_cast<qsizetype>(opened));
    return plain;
}

} // namespace vn
