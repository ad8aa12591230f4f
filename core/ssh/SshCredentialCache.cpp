#include "core/ssh/SshCredentialCache.h"

#include "core/Fail.h"
#include "platform/UserSecretStore.h"
#include "platform/WholeFile.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLockFile>
#include <QStandardPaths>

namespace vn {

namespace {

QString hash(const QString& text)
{
    return QString::fromLatin1(
        QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Sha256).toHex());
}

QByteArray entropyOf(const QString& host, const QString& entry)
{
    return (hash(host.toLower()) + entry).toUtf8();
}

QJsonObject readCache(const QString& path)
{
    QFile file(path);
    if (!file.exists())
        return {};
    if (!file.open(QIODevice::ReadOnly))
        fail(QStringLiteral("无法读取 SSH 密码缓存"));
    return QJsonDocument::fromJson(file.readAll()).object();
}

void saveCache(const QString& path, const QJsonObject& object)
{
    WholeFile file(path);
    if (!file.open())
        fail(QStringLiteral("无法写入 SSH 密码缓存"));
    // Owner only before the first byte: the secrets never sit in a file others can read.
    if (!file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner)
        || !file.write(QJsonDocument(object).toJson(QJsonDocument::Compact)) || !file.commit())
        fail(QStringLiteral("无法保存 SSH 密码缓存"));
}

// The host file's lock, held for one read-modify-write.
class CacheLock {
public:
    explicit CacheLock(const QString& path)
        : m_lock(path + QStringLiteral(".lock"))
    {
        if (!m_lock.tryLock(500))
            fail(QStringLiteral("SSH 密码缓存正在使用，请重试"));
    }

private:
    QLockFile m_lock;
};

} // namespace

QString SshCredentialCache::directory()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
           + QStringLiteral("/Varnelle/ssh");
}

QString SshCredentialCache::cachePath(const QString& directory, const QString& host)
{
    return QDir(directory).filePath(hash(host.toLower()) + QStringLiteral(".json"));
}

QString SshCredentialCache::read(const QString& directory, const QString& host, const QString& entry)
{
    const QJsonObject cache = readCache(cachePath(directory, host));
    const QString value = cache.value(hash(entry)).toString();
    if (value.isEmpty())
        return {};
    QByteArray plain = UserSecretStore().decrypt(QByteArray::fromBase64(value.toLatin1()),
                                                 entropyOf(host, entry));
    const QString secret = QString::fromUtf8(plain);
    plain.fill('\0');
    return secret;
}

void SshCredentialCache::write(const QString& directory, const QString& host, const QString& entry,
                               const QString& secret)
{
    QByteArray plain = secret.toUtf8();
    const QByteArray blob = UserSecretStore().encrypt(plain, entropyOf(host, entry));
    plain.fill('\0');
    if (blob.isEmpty())
        fail(QStringLiteral("系统无法加密 SSH 密码，密码未保存"));
    if (!QDir().mkpath(directory))
        fail(QStringLiteral("无法创建 SSH 密码缓存目录"));
    const QString path = cachePath(directory, host);
    CacheLock lock(path);
    QJsonObject cache = readCache(path);
    cache.insert(hash(entry), QString::fromLatin1(blob.toBase64()));
    saveCache(path, cache);
}

void SshCredentialCache::remove(const QString& directory, const QString& host, const QString& entry)
{
    const QString path = cachePath(directory, host);
    if (!QFile::exists(path))
        return;
    CacheLock lock(path);
    if (entry.isEmpty()) {
        if (!QFile::remove(path))
            fail(QStringLiteral("无法清除 SSH 密码缓存"));
        return;
    }
    QJsonObject cache = readCache(path);
    cache.remove(hash(entry));
    saveCache(path, cache);
}

} // namespace vn
