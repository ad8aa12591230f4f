#include "core/ssh/SshProfiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using vn::SshProfiles;

namespace {

bool put(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

} // namespace

class SshProfilesTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void hostLines_data()
    {
        QTest::addColumn<QByteArray>("config");
        QTest::addColumn<QStringList>("aliases");
        QTest::newRow("two names") << QByteArray("Host web db\n  HostName x\n") << QStringList{"web", "db"};
        QTest::newRow("patterns and negations") << QByteArray("Host *\nHost !bad\nHost a?c\nHost -x\nHost *.lan ok\n")
                                                << QStringList{"ok"};
        QTest::newRow("lower-case keyword") << QByteArray("host lab\n") << QStringList{"lab"};
        QTest::newRow("comment") << QByteArray("Host a # b c\n") << QStringList{"a"};
        QTest::newRow("equals sign") << QByteArray("Host=a\n") << QStringList{};
        QTest::newRow("commented line") << QByteArray("  # Host hidden\n") << QStringList{};
        QTest::newRow("quotes and duplicates") << QByteArray("Host \"q\" a\nHost a A\n") << QStringList{"q", "a", "A"};
        QTest::newRow("crlf and indentation") << QByteArray("\tHost  win\r\n") << QStringList{"win"};
    }
    void hostLines()
    {
        QFETCH(QByteArray, config);
        QFETCH(QStringList, aliases);
        QTemporaryDir dir;
        QVERIFY(put(dir.filePath(QStringLiteral("config")), config));
        QCOMPARE(SshProfiles::aliases(dir.filePath(QStringLiteral("config"))), aliases);
    }

    void includeTrees()
    {
        QTemporaryDir dir;
        const QString top = dir.filePath(QStringLiteral("config"));
        QVERIFY(put(top, "Host top\nInclude conf.d/*\nInclude \"" + dir.filePath(QStringLiteral("abs")).toUtf8() + "\" missing\n"));
        QVERIFY(put(dir.filePath(QStringLiteral("conf.d/20-b")), "Host b shared\n"));
        QVERIFY(put(dir.filePath(QStringLiteral("conf.d/10-a")), "Host a shared\nInclude ../config\n"));
        QVERIFY(put(dir.filePath(QStringLiteral("abs")), "Host abs\nInclude abs\n"));
        QCOMPARE(SshProfiles::aliases(top), (QStringList{"top", "a", "shared", "b", "abs"}));
    }

    void includePatternsMatchAsTheClientsGlob()
    {
        QTemporaryDir dir;
        const QString top = dir.filePath(QStringLiteral("config"));
        QVERIFY(put(top, "Include conf.d/*.conf extra .dotted\n"));
        QVERIFY(put(dir.filePath(QStringLiteral("conf.d/a.conf")), "Host a\n"));
        QVERIFY(put(dir.filePath(QStringLiteral("conf.d/.swap.conf")), "Host swap\n"));
        QVERIFY(put(dir.filePath(QStringLiteral(".dotted")), "Host d\n"));
        QVERIFY(put(dir.filePath(QStringLiteral("conf.d/B.CONF")), "Host b\n"));
        QVERIFY(put(dir.filePath(QStringLiteral("extra")), "Host e\n"));
        QVERIFY(put(dir.filePath(QStringLiteral("Extra")), "Host E\n"));
        QCOMPARE(SshProfiles::aliases(top), (QStringList{"a", "e", "d"}));
    }

    void homeRelativeInclude()
    {
        QTemporaryDir home;
        const QByteArray saved = qgetenv("HOME");
        qputenv("HOME", home.path().toUtf8());
        QVERIFY(put(home.filePath(QStringLiteral(".ssh/config")), "Include ~/.ssh/extra\n"));
        QVERIFY(put(home.filePath(QStringLiteral(".ssh/extra")), "Host fromhome\n"));
        const QStringList aliases = SshProfiles::aliases();
        qputenv("HOME", saved);
        QCOMPARE(aliases, QStringList{"fromhome"});
    }

    void mutualIncludesAreReadOnce()
    {
        QTemporaryDir dir;
        QVERIFY(put(dir.filePath(QStringLiteral("one")), "Host one\nInclude two\n"));
        QVERIFY(put(dir.filePath(QStringLiteral("two")), "Host two\nInclude one\nInclude two\n"));
        QCOMPARE(SshProfiles::aliases(dir.filePath(QStringLiteral("one"))), (QStringList{"one", "two"}));
        const QString first = SshProfiles::fingerprint(dir.filePath(QStringLiteral("one")));
        QCOMPARE(first.size(), 64);
        QCOMPARE(SshProfiles::fingerprint(dir.filePath(QStringLiteral("one"))), first);
    }

    void depthIsLimited()
    {
        QTemporaryDir dir;
        for (int i = 0; i < 14; ++i)
            QVERIFY(put(dir.filePath(QStringLiteral("f%1").arg(i)),
                        QStringLiteral("Host h%1\nInclude f%2\n").arg(i).arg(i + 1).toUtf8()));
        QStringList expected;
        for (int i = 0; i < 13; ++i)
            expected << QStringLiteral("h%1").arg(i);
        QCOMPARE(SshProfiles::aliases(dir.filePath(QStringLiteral("f0"))), expected);
    }

    void fingerprintFollowsEveryFile()
    {
        QTemporaryDir dir;
        const QString top = dir.filePath(QStringLiteral("config"));
        QString last = SshProfiles::fingerprint(top); // missing file
        QCOMPARE(SshProfiles::aliases(top), QStringList());
        const auto changed = [&] {
            const QString now = SshProfiles::fingerprint(top);
            const bool differs = now != last;
            last = now;
            return differs;
        };
        QVERIFY(put(top, "Host a\nInclude conf.d/*.conf\n"));
        QVERIFY(changed());
        QVERIFY(!changed());
        QVERIFY(put(dir.filePath(QStringLiteral("conf.d/x.conf")), "Host x\n"));
        QVERIFY(changed());
        QVERIFY(put(dir.filePath(QStringLiteral("conf.d/x.conf")), "Host y\n"));
        QVERIFY(changed());
        QVERIFY(put(dir.filePath(QStringLiteral("conf.d/other.txt")), "Host z\n"));
        QVERIFY(!changed()); // not matched by the pattern
        QVERIFY(QFile::rename(dir.filePath(QStringLiteral("conf.d/x.conf")), dir.filePath(QStringLiteral("conf.d/w.conf"))));
        QVERIFY(changed());
        QVERIFY(QFile::remove(dir.filePath(QStringLiteral("conf.d/w.conf"))));
        QVERIFY(changed());
        QCOMPARE(SshProfiles::aliases(top), QStringList{"a"});
    }
};

QTEST_GUILESS_MAIN(SshProfilesTest)
#include "tst_SshProfiles.moc"
