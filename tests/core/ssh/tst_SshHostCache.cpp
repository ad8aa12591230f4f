#include "core/ssh/SshHostCache.h"

#include "tests/core/ssh/SshTestServer.h"
#include "tests/support/FileSizeLimit.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <stdexcept>

using vn::SshHostCache;
using vn::SshHostRecords;
using vn::SshTarget;
using vn::test::SshTestServer;

namespace {

QString failureOf(const std::function<void()>& call)
{
    try {
        call();
    } catch (const std::exception& error) {
        return QString::fromUtf8(error.what());
    }
    return {};
}

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

bool writeAll(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

QStringList backupsOf(const QString& path)
{
    const QFileInfo info(path);
    return QDir(info.path()).entryList({info.fileName() + QStringLiteral(".varnelle-*.bak")}, QDir::Files);
}

// What ssh-keygen finds for a name in the file.
bool keygenFinds(const QString& file, const QString& name)
{
    QByteArray out;
    SshTestServer::run(QStringLiteral("ssh-keygen"), {QStringLiteral("-F"), name, QStringLiteral("-f"), file}, &out);
    return out.contains("found");
}

QByteArray hostKey()
{
    static QByteArray key;
    if (key.isEmpty()) {
        QTemporaryDir dir;
        SshTestServer::run(QStringLiteral("ssh-keygen"), {QStringLiteral("-q"), QStringLiteral("-t"), QStringLiteral("ed25519"),
                                                        QStringLiteral("-N"), QString(), QStringLiteral("-f"),
                                                        dir.filePath(QStringLiteral("k"))});
        key = readAll(dir.filePath(QStringLiteral("k.pub"))).trimmed();
    }
    return key;
}

} // namespace

class SshHostCacheTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void hostKeyNames_data()
    {
        QTest::addColumn<QByteArray>("output");
        QTest::addColumn<QString>("configured");
        QTest::addColumn<QString>("host");
        QTest::addColumn<int>("port");
        QTest::addColumn<QString>("name");
        QTest::newRow("default port") << QByteArray("hostname Lab-Box\nport 22\n") << "lab" << "lab-box" << 22 << "lab-box";
        QTest::newRow("other port") << QByteArray("hostname Lab-Box\nport 2222\n") << "lab" << "lab-box" << 2222 << "[lab-box]:2222";
        QTest::newRow("alias") << QByteArray("hostname h\nport 2222\nhostkeyalias Pinned\n") << "lab" << "h" << 2222 << "Pinned";
        QTest::newRow("alias none") << QByteArray("hostname h\nhostkeyalias none\n") << "lab" << "h" << 22 << "h";
        QTest::newRow("no output") << QByteArray() << "pi@Box" << "box" << 22 << "box";
        QTest::newRow("keys in capitals") << QByteArray("HostName H2\r\nPORT 23\n") << "x" << "h2" << 23 << "[h2]:23";
    }
    void hostKeyNames()
    {
        QFETCH(QByteArray, output);
        QFETCH(QString, configured);
        QFETCH(QString, host);
        QFETCH(int, port);
        QFETCH(QString, name);
        const SshHostRecords records = SshHostCache::parse(output, configured);
        QCOMPARE(records.host, host);
        QCOMPARE(records.port, port);
        QCOMPARE(records.hostKeyNames, QStringList{name});
    }

    void knownHostsFiles_data()
    {
        const QString home = QDir::homePath();
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<QStringList>("files");
        QTest::newRow("space in a path") << QByteArray("/Users/A B/.ssh/known_hosts ~/.ssh/known_hosts2")
                                         << QStringList{QStringLiteral("/Users/A B/.ssh/known_hosts"),
                                                        home + QStringLiteral("/.ssh/known_hosts2")};
        QTest::newRow("none") << QByteArray("none") << QStringList{};
        QTest::newRow("tokens") << QByteArray("%d/kh-%h-%p-%n-%r")
                                << QStringList{home + QStringLiteral("/kh-box-2200-pi@Box-pi")};
        QTest::newRow("quoted and cleaned") << QByteArray("\"/a b/./c//kh\" /x/../kh /a b/c/kh")
                                            << QStringList{QStringLiteral("/a b/c/kh"), QStringLiteral("/kh")};
    }
    void knownHostsFiles()
    {
        QFETCH(QByteArray, value);
        QFETCH(QStringList, files);
        const SshHostRecords records = SshHostCache::parse(
            "hostname box\nport 2200\nuser pi\nuserknownhostsfile " + value + "\n", QStringLiteral("pi@Box"));
        QCOMPARE(records.knownHostsFiles, files);
    }

    void badOutputFails_data()
    {
        QTest::addColumn<QByteArray>("output");
        QTest::addColumn<QString>("message");
        const QString invalid = QStringLiteral("OpenSSH 主机配置无效，未清除缓存");
        const QString unresolved = QStringLiteral("known_hosts 路径包含尚未解析的变量，未清除缓存");
        QTest::newRow("port zero") << QByteArray("hostname h\nport 0\n") << invalid;
        QTest::newRow("port text") << QByteArray("hostname h\nport x\n") << invalid;
        QTest::newRow("port too big") << QByteArray("hostname h\nport 65536\n") << invalid;
        QTest::newRow("empty host") << QByteArray("hostname \n") << invalid;
        QTest::newRow("unknown token") << QByteArray("hostname h\nuserknownhostsfile /x/%k\n") << unresolved;
        QTest::newRow("environment") << QByteArray("hostname h\nuserknownhostsfile ${HOME}/kh\n") << unresolved;
        QTest::newRow("relative") << QByteArray("hostname h\nuserknownhostsfile kh\n") << unresolved;
    }
    void badOutputFails()
    {
        QFETCH(QByteArray, output);
        QFETCH(QString, message);
        QCOMPARE(failureOf([&] { SshHostCache::parse(output, QStringLiteral("h")); }), message);
    }

    void resolveAsksTheClient()
    {
        QTemporaryDir dir;
        const QString config = dir.filePath(QStringLiteral("config"));
        QVERIFY(writeAll(config, QStringLiteral("Host lab\n  HostName 10.1.2.3\n  Port 2200\n"
                                                "  UserKnownHostsFile %1/kh \"%2/with space\" %d/kh2\n")
                                     .arg(dir.path(), dir.path())
                                     .toUtf8()));
        const QString wrapper = dir.filePath(QStringLiteral("ssh"));
        QVERIFY(writeAll(wrapper, QStringLiteral("#!/bin/sh\nexec ssh -F '%1' \"$@\"\n").arg(config).toUtf8()));
        QVERIFY(QFile::setPermissions(wrapper, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));

        SshHostRecords records = SshHostCache::resolve({QStringLiteral("lab"), QStringLiteral("pi"), 0, QString(), QString()}, wrapper);
        QCOMPARE(records.host, QStringLiteral("10.1.2.3"));
        QCOMPARE(records.port, 2200);
        QCOMPARE(records.hostKeyNames, QStringList{QStringLiteral("[10.1.2.3]:2200")});
        QCOMPARE(records.knownHostsFiles,
                 (QStringList{dir.filePath(QStringLiteral("kh")), dir.filePath(QStringLiteral("with space")),
                              QDir::homePath() + QStringLiteral("/kh2")}));
        // The connection's own port wins over the configuration.
        records = SshHostCache::resolve({QStringLiteral("lab"), QString(), 22, QString(), QString()}, wrapper);
        QCOMPARE(records.hostKeyNames, QStringList{QStringLiteral("10.1.2.3")});

        QCOMPARE(failureOf([&] { SshHostCache::resolve({QStringLiteral("lab"), QString(), 0, QString(), QString()},
                                                       QStringLiteral("false")); }),
                 QStringLiteral("无法读取 OpenSSH 的有效配置，请检查主机名称和 SSH 配置文件"));
        QCOMPARE(failureOf([&] { SshHostCache::resolve({QStringLiteral("-oProxyCommand=x"), QString(), 0, QString(), QString()},
                                                       wrapper); }),
                 QStringLiteral("SSH 主机、用户名或端口无效"));
    }

    void resolveGivesUpAfterThreeSeconds()
    {
        QTemporaryDir dir;
        const QString slow = dir.filePath(QStringLiteral("slow"));
        QVERIFY(writeAll(slow, "#!/bin/sh\nexec sleep 30\n"));
        QVERIFY(QFile::setPermissions(slow, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(failureOf([&] { SshHostCache::resolve({QStringLiteral("h"), QString(), 0, QString(), QString()}, slow); }),
                 QStringLiteral("无法读取 OpenSSH 的有效配置，请检查主机名称和 SSH 配置文件"));
        // It gave up instead of waiting for the wrapper's 30 s sleep.
        QVERIFY2(timer.elapsed() < 20000, qPrintable(QString::number(timer.elapsed())));
    }

    void removeEntries()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("known_hosts"));
        const QByteArray key = hostKey();
        // Hashed entries are made by ssh-keygen itself.
        const QString hashed = dir.filePath(QStringLiteral("hashed"));
        QVERIFY(writeAll(hashed, "[127.0.0.1]:2222 " + key + "\nlab-box " + key + "\nkeep.example " + key + "\n"));
        QVERIFY(SshTestServer::run(QStringLiteral("ssh-keygen"), {QStringLiteral("-q"), QStringLiteral("-H"), QStringLiteral("-f"), hashed}));
        const QByteArray hashedLines = readAll(hashed);
        QVERIFY(hashedLines.startsWith("|1|"));

        const QByteArray original = "# comment lab-box\n\n"
                                    "a,lab-box,c " + key + " one\n"
                                    "  @revoked LAB-BOX " + key + "\n"
                                    "other " + key + "\n"
                                    "[127.0.0.1]:2222,127.0.0.1 " + key + "\n"
                                    + hashedLines + "lab-box,[127.0.0.1]:2222 " + key;
        QVERIFY(writeAll(file, original));
        QVERIFY(QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));

        const int removed = SshHostCache::remove(file, {QStringLiteral("lab-box"), QStringLiteral("[127.0.0.1]:2222")});
        QCOMPARE(removed, 1 + 1 + 1 + 2 + 2);
        const QByteArray expected = "# comment lab-box\n\n"
                                    "a,c " + key + " one\n"
                                    "other " + key + "\n"
                                    "127.0.0.1 " + key + "\n"
                                    + hashedLines.split('\n').at(2) + "\n";
        QCOMPARE(readAll(file), expected.left(expected.size() - 1)); // still no final line feed
        const QFile::Permissions modeBits = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup
                                            | QFile::WriteGroup | QFile::ExeGroup | QFile::ReadOther
                                            | QFile::WriteOther | QFile::ExeOther;
        QCOMPARE(QFile::permissions(file) & modeBits, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup);
        const QStringList backups = backupsOf(file);
        QCOMPARE(backups.size(), 1);
        QVERIFY(QRegularExpression(QStringLiteral("^known_hosts\\.varnelle-[0-9a-f]{32}\\.bak$")).match(backups.first()).hasMatch());
        QCOMPARE(readAll(dir.filePath(backups.first())), original);
        QVERIFY(!keygenFinds(file, QStringLiteral("lab-box")));
        QVERIFY(!keygenFinds(file, QStringLiteral("[127.0.0.1]:2222")));
        QVERIFY(keygenFinds(file, QStringLiteral("keep.example")));
        QVERIFY(keygenFinds(file, QStringLiteral("127.0.0.1")));

        // Nothing left to remove: the file and the backups stay as they are.
        QCOMPARE(SshHostCache::remove(file, {QStringLiteral("lab-box")}), 0);
        QCOMPARE(backupsOf(file).size(), 1);
    }

    void hashedEntryNeedsTheExactName()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("kh"));
        QVERIFY(writeAll(file, "[box]:2222 " + hostKey() + "\n"));
        QVERIFY(SshTestServer::run(QStringLiteral("ssh-keygen"), {QStringLiteral("-q"), QStringLiteral("-H"), QStringLiteral("-f"), file}));
        QCOMPARE(SshHostCache::remove(file, {QStringLiteral("box")}), 0);
        QCOMPARE(SshHostCache::remove(file, {QStringLiteral("[BOX]:2222")}), 0); // hashes are exact
        QCOMPARE(SshHostCache::remove(file, {QStringLiteral("[box]:2222")}), 1);
        QCOMPARE(readAll(file), QByteArray("\n")); // the empty last line stays
    }

    void fileEndingIsKept()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("kh"));
        QVERIFY(writeAll(file, "x k1\nbox k2\n"));
        QCOMPARE(SshHostCache::remove(file, {QStringLiteral("box")}), 1);
        QCOMPARE(readAll(file), QByteArray("x k1\n"));
        QVERIFY(writeAll(file, "box k2\nx k1"));
        QCOMPARE(SshHostCache::remove(file, {QStringLiteral("box")}), 1);
        QCOMPARE(readAll(file), QByteArray("x k1"));
    }

    void missingFileIsNoError()
    {
        QTemporaryDir dir;
        QCOMPARE(SshHostCache::remove(dir.filePath(QStringLiteral("none")), {QStringLiteral("box")}), 0);
        QCOMPARE(QDir(dir.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList());
    }

    void fullDiskKeepsTheFileAndLeavesNoBackup()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("known_hosts"));
        const QByteArray original = "box " + hostKey() + "\nother " + hostKey() + "\n";
        QVERIFY(writeAll(file, original));
        QString failure;
        {
            // What a full disk does, without root: the backup copy cannot be written whole.
            const vn::test::FileSizeLimit limit(16);
            failure = failureOf([&] { SshHostCache::remove(file, {QStringLiteral("box")}); });
        }
        QCOMPARE(failure, QStringLiteral("无法备份主机指纹记录，未清除"));
        QCOMPARE(readAll(file), original);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("known_hosts")});
    }

    void unreadableFileFails()
    {
        QTemporaryDir dir;
        QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("kh"))));
        QCOMPARE(failureOf([&] { SshHostCache::remove(dir.filePath(QStringLiteral("kh")), {QStringLiteral("box")}); }),
                 QStringLiteral("无法读取主机指纹记录"));
    }
};

QTEST_GUILESS_MAIN(SshHostCacheTest)
#include "tst_SshHostCache.moc"
