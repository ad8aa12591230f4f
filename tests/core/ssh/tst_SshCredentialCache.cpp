#include "core/ssh/SshCredentialCache.h"

#include "platform/UserSecretStore.h"
#include "tests/support/FileSizeLimit.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLockFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <stdexcept>
#include <sys/stat.h>

using vn::SshCredentialCache;

namespace {

const QString Host = QStringLiteral("Lab-Box");
const QString Entry = QStringLiteral("ssh:lab-box:pi:0:\npi@lab-box's password: ");

QJsonObject fileObject(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll()).object();
}

QString failureOf(const std::function<void()>& call)
{
    try {
        call();
    } catch (const std::exception& error) {
        return QString::fromUtf8(error.what());
    }
    return {};
}

int modeOf(const QString& path)
{
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? int(info.st_mode & 0777) : -1;
}

} // namespace

class SshCredentialCacheTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_data;

private Q_SLOTS:
    void initTestCase() { qputenv("XDG_DATA_HOME", m_data.path().toUtf8()); }

    void directoryIsInTheUserDataLocation()
    {
        QCOMPARE(SshCredentialCache::directory(), m_data.path() + QStringLiteral("/Varnelle/ssh"));
    }

    void roundTripSharedAcrossHostSpelling()
    {
        QTemporaryDir dir;
        const QString cache = dir.filePath(QStringLiteral("a/b/ssh"));
        QCOMPARE(SshCredentialCache::read(cache, Host, Entry), QString());
        SshCredentialCache::write(cache, Host, Entry, QStringLiteral("s3cret 密码"));
        QCOMPARE(SshCredentialCache::read(cache, Host, Entry), QStringLiteral("s3cret 密码"));
        QCOMPARE(SshCredentialCache::read(cache, QStringLiteral("LAB-BOX"), Entry), QStringLiteral("s3cret 密码"));
        const QString path = SshCredentialCache::cachePath(cache, Host);
        QCOMPARE(path, SshCredentialCache::cachePath(cache, QStringLiteral("lab-box")));
        QCOMPARE(QFileInfo(path).fileName().size(), 64 + 5);
        QCOMPARE(modeOf(path), 0600);
        QFile raw(path);
        QVERIFY(raw.open(QIODevice::ReadOnly));
        QVERIFY(!raw.readAll().contains("s3cret"));
        QVERIFY(!QFile::exists(path + QStringLiteral(".lock")));
    }

    void entriesShareTheHostFile()
    {
        QTemporaryDir dir;
        const QString other = QStringLiteral("ssh:lab-box:pi:0:/k\nEnter passphrase for key '/k': ");
        SshCredentialCache::write(dir.path(), Host, Entry, QStringLiteral("one"));
        SshCredentialCache::write(dir.path(), Host, other, QStringLiteral("two"));
        SshCredentialCache::write(dir.path(), Host, Entry, QStringLiteral("three"));
        const QString path = SshCredentialCache::cachePath(dir.path(), Host);
        QCOMPARE(fileObject(path).size(), 2);
        QCOMPARE(SshCredentialCache::read(dir.path(), Host, Entry), QStringLiteral("three"));
        QCOMPARE(SshCredentialCache::read(dir.path(), Host, other), QStringLiteral("two"));

        SshCredentialCache::remove(dir.path(), Host, Entry);
        QCOMPARE(fileObject(path).size(), 1);
        SshCredentialCache::remove(dir.path(), Host, QStringLiteral("absent"));
        QCOMPARE(fileObject(path).size(), 1);
        SshCredentialCache::remove(dir.path(), Host, other);
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("{}"));
        SshCredentialCache::remove(dir.path(), Host, QString());
        QVERIFY(!QFile::exists(path));
        QVERIFY(!QFile::exists(path + QStringLiteral(".lock")));
    }

    void removeWithoutFileCreatesNothing()
    {
        QTemporaryDir dir;
        const QString cache = dir.filePath(QStringLiteral("none"));
        SshCredentialCache::remove(cache, Host, Entry);
        SshCredentialCache::remove(cache, Host, QString());
        QVERIFY(!QFileInfo::exists(cache));
    }

    void secretsAreBoundToHostAndEntry()
    {
        QTemporaryDir dir;
        SshCredentialCache::write(dir.path(), Host, Entry, QStringLiteral("secret"));
        const QString value = fileObject(SshCredentialCache::cachePath(dir.path(), Host)).begin()->toString();
        // The same blob planted for another host, or under another entry, does not open.
        const QString otherHost = QStringLiteral("other-box");
        QFile planted(SshCredentialCache::cachePath(dir.path(), otherHost));
        QVERIFY(planted.open(QIODevice::WriteOnly));
        QJsonObject object;
        object.insert(fileObject(SshCredentialCache::cachePath(dir.path(), Host)).begin().key(), value);
        planted.write(QJsonDocument(object).toJson());
        planted.close();
        QCOMPARE(SshCredentialCache::read(dir.path(), otherHost, Entry), QString());
    }

    void unreadableContentIsDropped_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("not json") << QByteArray("garbage");
        QTest::newRow("array") << QByteArray("[1]");
        QTest::newRow("bad member") << QByteArray("{\"x\":1}");
    }
    void unreadableContentIsDropped()
    {
        QFETCH(QByteArray, content);
        QTemporaryDir dir;
        const QString path = SshCredentialCache::cachePath(dir.path(), Host);
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
        file.close();
        QCOMPARE(SshCredentialCache::read(dir.path(), Host, Entry), QString());
        SshCredentialCache::write(dir.path(), Host, Entry, QStringLiteral("fresh"));
        const QJsonObject object = fileObject(path);
        QCOMPARE(object.size(), content.startsWith("{") ? 2 : 1);
        QCOMPARE(SshCredentialCache::read(dir.path(), Host, Entry), QStringLiteral("fresh"));
    }

    void blobOfAnotherKeyReadsEmpty()
    {
        QTemporaryDir dir;
        SshCredentialCache::write(dir.path(), Host, Entry, QStringLiteral("secret"));
        // Another user's (or machine's) key: the file no longer opens.
        const vn::UserSecretStore store;
        QVERIFY(QFile::remove(store.keyPath()));
        QCOMPARE(SshCredentialCache::read(dir.path(), Host, Entry), QString());
        QVERIFY(!QFile::exists(store.keyPath()));
        SshCredentialCache::write(dir.path(), Host, Entry, QStringLiteral("again"));
        QCOMPARE(SshCredentialCache::read(dir.path(), Host, Entry), QStringLiteral("again"));
    }

    void failures()
    {
        QTemporaryDir dir;
        QFile blocker(dir.filePath(QStringLiteral("file")));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        QCOMPARE(failureOf([&] {
                     SshCredentialCache::write(dir.filePath(QStringLiteral("file/ssh")), Host, Entry, QStringLiteral("x"));
                 }),
                 QStringLiteral("无法创建 SSH 密码缓存目录"));
        // A folder where the host file should be cannot be read.
        QVERIFY(QDir().mkpath(SshCredentialCache::cachePath(dir.path(), Host)));
        QCOMPARE(failureOf([&] { SshCredentialCache::read(dir.path(), Host, Entry); }),
                 QStringLiteral("无法读取 SSH 密码缓存"));
        QCOMPARE(failureOf([&] { SshCredentialCache::remove(dir.path(), Host, QString()); }),
                 QStringLiteral("无法清除 SSH 密码缓存"));
    }

    void fullDiskKeepsTheEarlierFile()
    {
        QTemporaryDir dir;
        SshCredentialCache::write(dir.path(), Host, Entry, QStringLiteral("before"));
        const QString path = SshCredentialCache::cachePath(dir.path(), Host);
        QFile before(path);
        QVERIFY(before.open(QIODevice::ReadOnly));
        const QByteArray earlier = before.readAll();
        before.close();
        QString failure;
        {
            // What a full disk does, without root: the lock file still fits,
            // the flush of the new host file fails.
            const vn::test::FileSizeLimit limit(512);
            failure = failureOf([&] { SshCredentialCache::write(dir.path(), Host, Entry, QString(2000, QLatin1Char('a'))); });
        }
        QCOMPARE(failure, QStringLiteral("无法保存 SSH 密码缓存"));
        QFile after(path);
        QVERIFY(after.open(QIODevice::ReadOnly));
        QCOMPARE(after.readAll(), earlier);
        QCOMPARE(SshCredentialCache::read(dir.path(), Host, Entry), QStringLiteral("before"));
        QCOMPARE(QDir(dir.path()).entryList({QFileInfo(path).fileName() + QLatin1Char('*')}, QDir::Files | QDir::Hidden),
                 QStringList{QFileInfo(path).fileName()});
    }

    void lockHeldByAnotherProgram()
    {
        QTemporaryDir dir;
        SshCredentialCache::write(dir.path(), Host, Entry, QStringLiteral("before"));
        const QString path = SshCredentialCache::cachePath(dir.path(), Host);
        QProcess holder;
        holder.start(QCoreApplication::applicationFilePath(),
                     {QStringLiteral("--hold-lock"), path + QStringLiteral(".lock")});
        QVERIFY(holder.waitForReadyRead(10000));
        QCOMPARE(holder.readAllStandardOutput(), QByteArray("locked\n"));

        QElapsedTimer timer;
        timer.start();
        QCOMPARE(failureOf([&] { SshCredentialCache::write(dir.path(), Host, Entry, QStringLiteral("x")); }),
                 QStringLiteral("SSH 密码缓存正在使用，请重试"));
        QVERIFY(timer.elapsed() >= 450);
        QCOMPARE(failureOf([&] { SshCredentialCache::remove(dir.path(), Host, QString()); }),
                 QStringLiteral("SSH 密码缓存正在使用，请重试"));
        // Reading takes no lock.
        QCOMPARE(SshCredentialCache::read(dir.path(), Host, Entry), QStringLiteral("before"));

        holder.closeWriteChannel(); // the holder lets go when its input ends
        QVERIFY(holder.waitForFinished(10000));
        SshCredentialCache::write(dir.path(), Host, Entry, QStringLiteral("after"));
        QCOMPARE(SshCredentialCache::read(dir.path(), Host, Entry), QStringLiteral("after"));
    }
};

// "--hold-lock PATH": holds the lock file until standard input ends, as a
// second running program would.
int main(int argc, char** argv)
{
    if (argc == 3 && qstrcmp(argv[1], "--hold-lock") == 0) {
        QCoreApplication app(argc, argv);
        QLockFile lock(QString::fromLocal8Bit(argv[2]));
        if (!lock.tryLock(5000))
            return 1;
        std::fputs("locked\n", stdout);
        std::fflush(stdout);
        while (std::fgetc(stdin) != EOF) {
        }
        return 0;
    }
    QCoreApplication app(argc, argv);
    SshCredentialCacheTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_SshCredentialCache.moc"
