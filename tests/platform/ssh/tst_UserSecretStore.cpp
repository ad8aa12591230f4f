#include "platform/UserSecretStore.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using vn::UserSecretStore;

namespace {

int modeOf(const QString& path)
{
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return -1;
    return int(info.st_mode & 0777);
}

} // namespace

class UserSecretStoreTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void roundTripAndModes()
    {
        QTemporaryDir dir;
        const UserSecretStore store(dir.filePath(QStringLiteral("deep/keys")));
        QString error;
        const QByteArray blob = store.encrypt("s3cret 密码", "entropy", &error);
        QVERIFY2(!blob.isEmpty(), qPrintable(error));
        QVERIFY(!blob.contains("s3cret"));
        QCOMPARE(store.decrypt(blob, "entropy"), QByteArray("s3cret 密码"));
        QCOMPARE(modeOf(store.keyPath()), 0600);
        QCOMPARE(modeOf(store.keyDirectory()), 0700);
        QCOMPARE(QFileInfo(store.keyPath()).size(), qint64(32));
        // Two seals of one secret differ (fresh nonce) and both open.
        const QByteArray again = store.encrypt("s3cret 密码", "entropy");
        QVERIFY(again != blob);
        QCOMPARE(store.decrypt(again, "entropy"), QByteArray("s3cret 密码"));
        // A second store on the same folder shares the key.
        QCOMPARE(UserSecretStore(store.keyDirectory()).decrypt(blob, "entropy"), QByteArray("s3cret 密码"));
    }

    void blobsThatDoNotOpenReadAsEmpty()
    {
        QTemporaryDir dir;
        const UserSecretStore store(dir.filePath(QStringLiteral("a")));
        const UserSecretStore other(dir.filePath(QStringLiteral("b")));
        const QByteArray blob = store.encrypt("secret", "entropy");
        QVERIFY(!blob.isEmpty());
        QVERIFY(!other.encrypt("x", "y").isEmpty()); // give the other store its own key
        QCOMPARE(other.decrypt(blob, "entropy"), QByteArray());
        QCOMPARE(store.decrypt(blob, "entropy2"), QByteArray());
        QCOMPARE(store.decrypt(blob, QByteArray()), QByteArray());
        QByteArray damaged = blob;
        damaged[damaged.size() - 1] = char(damaged.back() ^ 1);
        QCOMPARE(store.decrypt(damaged, "entropy"), QByteArray());
        QCOMPARE(store.decrypt(blob.left(10), "entropy"), QByteArray());
        QCOMPARE(store.decrypt(QByteArray(), "entropy"), QByteArray());
        // Without a key file nothing opens, and decrypting makes no key.
        const UserSecretStore empty(dir.filePath(QStringLiteral("c")));
        QCOMPARE(empty.decrypt(blob, "entropy"), QByteArray());
        QVERIFY(!QFile::exists(empty.keyPath()));
    }

    void replacedKeyLosesOldBlobs()
    {
        QTemporaryDir dir;
        const UserSecretStore store(dir.filePath(QStringLiteral("k")));
        const QByteArray blob = store.encrypt("secret", "e");
        QVERIFY(QFile::remove(store.keyPath()));
        QVERIFY(!store.encrypt("new", "e").isEmpty());
        QCOMPARE(store.decrypt(blob, "e"), QByteArray());
    }

    void unusableKeyFolderReportsAnError()
    {
        QTemporaryDir dir;
        QFile blocker(dir.filePath(QStringLiteral("file")));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        const UserSecretStore store(dir.filePath(QStringLiteral("file/keys")));
        QString error;
        QCOMPARE(store.encrypt("secret", "e", &error), QByteArray());
        QCOMPARE(error, QStringLiteral("无法读取或创建用户密钥文件"));
    }
};

QTEST_GUILESS_MAIN(UserSecretStoreTest)
#include "tst_UserSecretStore.moc"
